#!/usr/bin/env bash
# Echo rate over HTTP, each request on a new connection, against our server and, in the
# same run, against the minimal accept-write-close responder (the floor).
#
#   service_wrk.sh SERVER FLOOR LUA [SECONDS] [PAIRS]
#
# wrk: 2 threads, 32 connections, "Connection: close" on every request. PAIRS (default 5)
# pairs of rounds, floor then ours, SECONDS (default 3) each: 2 x PAIRS x SECONDS in all.
# Prints requests/s, p50 and p99 per round, the ratio of each pair, and the median of the
# pair ratios (pairs taken back to back, so that load from elsewhere on the machine falls
# on both sides of most pairs). Fails on any error or non-2xx answer.
set -euo pipefail
server=$1 floor=$2 lua=$3 seconds=${4:-3} pairs=${5:-5}
command -v wrk >/dev/null || { echo "wrk is not installed" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for fd in 7 8; do eval "exec $fd>&-" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# start NAME FD COMMAND...: runs COMMAND with standard input on a pipe held open through FD
# (closing it ends the program) and waits, at most 10 s, for its "LISTENING <port>", which
# it leaves in $port.
start() {
  local name=$1 fd=$2
  shift 2
  mkfifo "$work/$name.in"
  "$@" <"$work/$name.in" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  eval "exec $fd>\"$work/$name.in\""
  for _ in $(seq 100); do
    if grep -q '^LISTENING ' "$work/$name.out" 2>/dev/null; then
      port=$(awk '/^LISTENING/ {print $2}' "$work/$name.out")
      return
    fi
    sleep 0.1
  done
  echo "$name did not start:" >&2
  cat "$work/$name.err" >&2
  exit 1
}

mkdir "$work/root"
start server 7 "$server" --port 0 --data-root "$work/root/"
our_port=$port
start floor 8 "$floor"
floor_port=$port

# round NAME PORT: one wrk run; prints "NAME rate p50 p99".
round() {
  local out
  out=$(wrk -t2 -c32 -d"${seconds}s" --timeout 10s --latency -s "$lua" \
        "http://127.0.0.1:$2/soap/IMobileDCT")
  if grep -qE 'Non-2xx|Socket errors' <<<"$out"; then
    echo "$1: errors in the run:" >&2
    echo "$out" >&2
    exit 1
  fi
  local rate p50 p99
  rate=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  printf '%-6s %10s req/s   p50 %8s   p99 %8s\n' "$1" "$rate" "$p50" "$p99" >&2
  echo "$rate"
}

echo "Echo over HTTP, new connection per request, wrk -t2 -c32, ${seconds}s per round" >&2
ratios=()
for _ in $(seq "$pairs"); do
  f=$(round floor "$floor_port")
  o=$(round ours "$our_port")
  ratios+=("$(awk -v f="$f" -v o="$o" 'BEGIN {printf "%.3f", o / f}')")
  echo "       pair ratio ours/floor ${ratios[-1]}" >&2
done
printf '%s\n' "${ratios[@]}" | sort -n | awk '{r[NR] = $1} END {
  m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2;
  printf "median pair ratio ours/floor %.2f over %d pairs (goal >= 0.80)\n", m, NR;
}'

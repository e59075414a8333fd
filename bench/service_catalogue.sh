#!/usr/bin/env bash
# Large payload: Echo of the 100,000-item catalogue over HTTP against Decode + Encode of
# the same value in the process, in one run, each side in a process of its own so that
# the peak memory of each is its own.
#
#   service_catalogue.sh BENCH SERVER
#
# BENCH is service_catalogue_bench, SERVER the test server. Ten calls each; about half a
# minute in all. Prints the mean times, the ratio (goal <= 1.5) and the peak resident size
# of the server process and of the in-process run.
set -euo pipefail
bench=$1 server=$2

work=$(mktemp -d)
server_pid=
cleanup() {
  exec 7>&- 2>/dev/null || true
  if [[ -n $server_pid ]]; then
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/root"
mkfifo "$work/server.in"
"$server" --port 0 --data-root "$work/root/" <"$work/server.in" >"$work/server.out" &
server_pid=$!
exec 7>"$work/server.in"
for _ in $(seq 100); do grep -q '^LISTENING ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/^LISTENING/ {print $2}' "$work/server.out")
[[ -n $port ]] || { echo "the server did not start" >&2; exit 1; }

http=$(DCT_BENCH_SERVER_PORT=$port timeout 300 "$bench" --benchmark_filter=OverHTTP)
server_peak=$(awk '/^VmHWM:/ {printf "%.0f", $2 / 1024}' "/proc/$server_pid/status")
local_run=$(timeout 300 "$bench" --benchmark_filter=InProcess)
echo "$http" | grep -E '^BM_' >&2
echo "$local_run" | grep -E '^BM_' >&2

read -r _ _ http_ms http_peak < <(echo "$http" | grep '^RESULT')
read -r _ _ local_ms local_peak < <(echo "$local_run" | grep '^RESULT')
awk -v h="$http_ms" -v l="$local_ms" -v sp="$server_peak" -v cp="$http_peak" -v lp="$local_peak" 'BEGIN {
  printf "catalogue Echo over HTTP %.0f ms, Decode+Encode in process %.0f ms: ratio %.2f (goal <= 1.5)\n", h, l, h / l;
  printf "peak resident size: server %s MiB (client %.0f MiB), in-process run %.0f MiB\n", sp, cp, lp;
}'

#!/usr/bin/env bash
# The catalogue over a slow link: a 100,000-item DownloadItems and SaveItemsToBuff over a
# loopback shaped to 20 Mbit/s and to 2 Mbit/s, gzip against identity, alternating in one
# run; then the same download over an unshaped loopback, for the server's extra time.
#
#   service_shaped.sh PROGRAM EXCHANGE_BENCH [ROUNDS_20MBIT] [ROUNDS_2MBIT] [ROUNDS_LOOPBACK]
#
# PROGRAM is build/dct_korvelmobilesvc; EXCHANGE_BENCH writes the load request
# (--dump-load). Rounds default to 2, 1 and 5; a round at 20 Mbit/s is one call of each
# kind (download identity, download asking gzip, load plain, load gzip-coded), at 2 Mbit/s
# the same, on the loopback two downloads. That is about 1.5 minutes at 20 Mbit/s and 6.5
# at 2 Mbit/s, most of it the identity calls; every call is cut off after 400 s. Needs root: it makes a network namespace
# (removed at exit), whose loopback gets MTU 1500 and a token bucket
# (tc ... tbf rate R burst 64kb latency 200ms; a burst below the MTU stalls the link).
#
# Per call: time to the last byte, bytes on the wire (head and body, as received or sent),
# and the server's CPU time (utime + stime from /proc/PID/stat, before and after). A server
# that ignores Accept-Encoding, or refuses a gzip-coded body, is reported as such, not failed.
set -euo pipefail
program=$(realpath "$1") dump=$(realpath "$2")
rounds_fast=${3:-2} rounds_slow=${4:-1} rounds_lo=${5:-5}
[[ $(id -u) -eq 0 ]] || { echo "service_shaped.sh: needs root (ip netns, tc)" >&2; exit 1; }

ns=dct_shaped_$$
port=8080  # the namespace has a network stack of its own: no port is shared with the host
url=http://127.0.0.1:$port/soap/IMobileDCT
ticks=$(getconf CLK_TCK)
work=$(mktemp -d)
server_pid=
cleanup() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
in_ns() { ip netns exec "$ns" "$@"; }

ip netns add "$ns"
in_ns ip link set lo up

# ---- the request bodies
"$dump" --dump-load "$work/load.xml"
gzip -1 -c "$work/load.xml" >"$work/load.xml.gz"
cat >"$work/download.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" xmlns:ns1="urn:uSvcIntf-IMobileDCT"><SOAP-ENV:Body><ns1:ExecuteCommand><DeviceID>0</DeviceID><CommandName>DownloadItems</CommandName><InputParameters></InputParameters></ns1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>
EOF
echo "load request $(stat -c %s "$work/load.xml") bytes, gzip -1: $(stat -c %s "$work/load.xml.gz") bytes"

# ---- the server, inside the namespace (ip netns exec execs it: the PID is the server's)
mkdir "$work/root"
ip netns exec "$ns" "$program" --port "$port" --data-root "$work/root/" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  in_ns curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; exit 1; }
  sleep 0.1
done

server_cpu() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
# The CPU figures are only the server's if the PID is the program itself, not a shell or ip.
[[ $(cat "/proc/$server_pid/comm") == "$(basename "$program" | cut -c1-15)" ]] ||
  { echo "service_shaped.sh: PID $server_pid is $(cat "/proc/$server_pid/comm"), not the server" >&2; exit 1; }

# call NAME BODY [curl headers...]: one POST; sets the globals status, wire, seconds, cpu,
# coded (the answer's Content-Encoding) and result (the ResultCode, or "-").
call() {
  local body=$1
  shift
  local before after line
  before=$(server_cpu)
  line=$(in_ns curl -s --max-time 400 -o "$work/answer" -D "$work/head" -H 'Expect:' \
           -H 'Content-Type: text/xml; charset=utf-8' \
           -H 'SOAPAction: "urn:uSvcIntf-IMobileDCT#ExecuteCommand"' "$@" \
           --data-binary @"$body" \
           -w '%{http_code} %{size_header} %{size_download} %{size_request} %{size_upload} %{time_total}' \
           "$url") || true
  after=$(server_cpu)
  [[ -n $line ]] || line="000 0 0 0 0 0"
  local hs ds rq us
  read -r status hs ds rq us seconds <<<"$line"
  wire=$((hs + ds + rq + us))
  cpu=$(awk -v a="$after" -v b="$before" -v t="$ticks" 'BEGIN {printf "%.2f", (a - b) / t}')
  coded=$(tr -d '\r' <"$work/head" | awk -F': *' 'tolower($1) == "content-encoding" {print tolower($2)}')
  local text=$work/answer
  if [[ $coded == gzip ]]; then gzip -dc "$work/answer" >"$work/answer.txt" && text=$work/answer.txt; fi
  result=$(grep -o '<ResultCode[^>]*>[0-9]*</ResultCode>' "$text" | sed 's/<[^>]*>//g' || true)
  result=${result:--}
  fault=$(grep -o '<faultstring[^>]*>[^<]*</faultstring>' "$text" | sed 's/<[^>]*>//g' | head -c 120 || true)
}

# One line per call; note says what the server did with gzip.
report() {
  local rate=$1 what=$2 mode=$3 note=
  if [[ $mode == gzip* && $what == download && $coded != gzip ]]; then
    note="(asked for gzip, got ${coded:-identity})"
  fi
  if [[ $what == load && $mode == gzip* && ($status != 200 || $result != 0) ]]; then
    note="(gzip-coded body refused: status $status, ResultCode $result${fault:+, fault \"$fault\"})"
  fi
  printf '%-8s %-8s %-8s status %s code %s  %6.2f s  %10d bytes on the wire  server cpu %5s s %s\n' \
    "$rate" "$what" "$mode" "$status" "$result" "$seconds" "$wire" "$cpu" "$note"
  echo "$rate $what $mode $seconds $wire $cpu $coded $status $result" >>"$work/results"
}

download() {  # rate mode
  if [[ $2 == gzip ]]; then call "$work/download.xml" -H 'Accept-Encoding: gzip'; else call "$work/download.xml"; fi
  report "$1" download "$2"
}
load() {
  if [[ $2 == gzip ]]; then
    call "$work/load.xml.gz" -H 'Content-Encoding: gzip' -H 'Accept-Encoding: gzip'
  else
    call "$work/load.xml"
  fi
  report "$1" load "$2"
}

# The catalogue, loaded once over the unshaped link.
call "$work/load.xml"
[[ $status == 200 && $result == 0 ]] || { echo "the catalogue load failed: status $status, code $result" >&2; exit 1; }

shaped() {  # rate rounds
  in_ns ip link set lo mtu 1500
  in_ns tc qdisc replace dev lo root tbf rate "$1" burst 64kb latency 200ms
  for ((r = 0; r < $2; r++)); do
    download "$1" identity
    download "$1" gzip
    load "$1" plain
    load "$1" gzip
    # a refused gzip load leaves the buffer as it was: the plain load just before filled it
  done
}
((rounds_fast > 0)) && shaped 20mbit "$rounds_fast"
((rounds_slow > 0)) && shaped 2mbit "$rounds_slow"
in_ns tc qdisc del dev lo root 2>/dev/null || true
in_ns ip link set lo mtu 65536
for ((r = 0; r < rounds_lo; r++)); do
  download loopback identity
  download loopback gzip
done

# ---- means per rate, kind and mode, and what gzip gained
echo
awk '
  function note(identity) { return identity ? "  [gzip asked, identity sent: no gain to expect]" : "" }
  { k = $1 " " $2 " " $3; n[k]++; t[k] += $4; w[k] += $5; c[k] += $6; if ($7 == "gzip") z[k]++; if ($9 != "0") bad[k]++
    if (!($1 in seen)) { seen[$1] = 1; order[++rates] = $1 } }
  END {
    for (i = 1; i <= rates; i++) {
      r = order[i]
      for (j = 1; j <= 2; j++) {
        what = j == 1 ? "download" : "load"; plain = j == 1 ? "identity" : "plain"
        a = r " " what " " plain; b = r " " what " gzip"
        if (!(a in n) || !(b in n)) continue
        ta = t[a] / n[a]; tb = t[b] / n[b]
        printf "%-8s %-8s %s %.2f s, %.0f bytes, cpu %.2f s | gzip %.2f s, %.0f bytes, cpu %.2f s | ",
          r, what, plain, ta, w[a] / n[a], c[a] / n[a], tb, w[b] / n[b], c[b] / n[b]
        if (what == "load" && bad[b] > 0) { print "[gzip body refused by the server: no comparison]"; continue }
        printf "%.1fx faster, %.1fx fewer bytes, %+.2f s server cpu per call (%.2fx)%s\n", ta / tb,
          (w[a] / n[a]) / (w[b] / n[b]), (c[b] - c[a]) / n[b], (c[a] > 0 ? (c[b] / n[b]) / (c[a] / n[a]) : 0),
          note(what == "download" && z[b] < n[b])
        if (r == "20mbit" && what == "download")
          printf "%-8s goal: download with gzip at least 8x faster at 20 Mbit/s: %s\n", r, (ta / tb >= 8 ? "met" : "missed")
      }
    }
  }' "$work/results"

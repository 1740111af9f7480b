#!/usr/bin/env bash
# The cyclic query over network lines beside the local pty, in one run: ornat-cli watch
# against ornat-sim on its pty, behind ser2net's raw TCP accepter (tcp://) and behind its
# RFC 2217 accepter (rfc2217://), each simulator a line of its own; then the survey of
# addresses 1-247 at 9600 bit/s over RFC 2217. From each run's journal: the period from
# one query's request to the next one's (nominal: the exchange + 500 ms) and the
# exchange's own length, request to completion (the answer, the 150 ms read interval and
# the 5 ms settling, plus the network's round trip); and from bench_exchange_timing over
# each of the three, the completion after the answer's last byte left the simulator
# (nominal: 150 ms + 5 ms). Then the survey of addresses 1-247 at 9600 bit/s over
# RFC 2217. Prints figures; asserts nothing.
#
# Usage: bench/net_lines.sh BUILD_DIR [QUERIES (50)] [EXCHANGES (50)]
# NET_DELAY=MS: the survey's round-trip allowance (--net-delay); unset, the network line's
# default of 100 ms, which the survey adds to each of its 247 windows.
set -euo pipefail
build=${1:?build folder}
queries=${2:-50}
exchanges=${3:-50}
cli="$build/src/cli/ornat-cli"
sim="$build/sim/ornat-sim"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/config"

start_sim() {  # start_sim NAME: a simulator on a pty; prints the pty's path
  "$sim" --no-console --name "$1" >"$work/$1.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q '^PORT ' "$work/$1.out" && break
    sleep 0.05
  done
  awk '/^PORT /{ print $3; exit }' "$work/$1.out"
}
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

local_pty=$(start_sim bench-local)
raw_pty=$(start_sim bench-raw)
rfc_pty=$(start_sim bench-rfc)
raw_port=$(free_port)
rfc_port=$(free_port)
# SER2NET_CHARDELAY=false (bench_exchange_timing reads it too): ser2net forwards the
# pty's bytes at once instead of waiting for a pause of a few character times (its
# default, which batches a serial line's bytes).
options=""
[ -n "${SER2NET_CHARDELAY:-}" ] && options=$'\n  options:\n    chardelay: '"$SER2NET_CHARDELAY"
cat >"$work/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &raw
  accepter: tcp,127.0.0.1,$raw_port
  connector: serialdev,$raw_pty,9600n81,local$options
connection: &rfc
  accepter: telnet(rfc2217),tcp,127.0.0.1,$rfc_port
  connector: serialdev,$rfc_pty,9600n81,local$options
EOF
/usr/sbin/ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$rfc_port") 2>/dev/null && break
  sleep 0.05
done

# figures NAME JOURNAL: RESULT lines of the periods and the exchanges' lengths.
figures() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import datetime, json, statistics, sys
name, path = sys.argv[1], sys.argv[2]
recs = [json.loads(l) for l in open(path) if l.strip()]
ok = [r for r in recs if r.get("outcome") == "ok"]
t = [datetime.datetime.fromisoformat(r["time"]) for r in recs]
period = [(b - a).total_seconds() * 1000 for a, b in zip(t, t[1:])]
length = [r["ms"] for r in recs]
for key, v in (("period", period), ("exchange", length)):
    if v:
        print(f"RESULT net_{name}_{key}_median {statistics.median(v):.1f} ms")
        print(f"RESULT net_{name}_{key}_worst {max(v):.1f} ms")
print(f"RESULT net_{name}_answered {len(ok)} of {len(recs)}")
PY
}

for line in "local ${local_pty}" "tcp tcp://127.0.0.1:$raw_port" "rfc2217 rfc2217://127.0.0.1:$rfc_port"; do
  set -- $line
  echo "== $1: $2"
  "$cli" watch --count "$queries" --port "$2" --journal "$work/$1.jsonl" >/dev/null 2>"$work/$1.err" || true
  tail -1 "$work/$1.err"
  figures "$1" "$work/$1.jsonl"
done

# The completion after the last answer byte, the window's engine on the stamping device:
# the local run's keys get the net_local_ prefix the network runs' have.
for via in local tcp rfc2217; do
  echo "== completion after the last answer byte: $via"
  if [ $via = local ]; then
    "$build/bench/bench_exchange_timing" "$exchanges" "" | sed 's/^RESULT /RESULT net_local_/'
  else
    "$build/bench/bench_exchange_timing" "$exchanges" "" $via
  fi | grep -E '^(RESULT .*(completion_delay|exchanges_failed)|last answer byte|exchange timing)' || true
done

echo "== the survey of 1-247 at 9600 bit/s over RFC 2217"
start=$(date +%s.%N)
"$cli" survey --port "rfc2217://127.0.0.1:$rfc_port" --addresses 1-247 --speeds 9600 \
  ${NET_DELAY:+--net-delay "$NET_DELAY"} 2>&1 | tail -2 || true
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "RESULT net_rfc2217_survey_9600 %.1f s\n", e - s }'

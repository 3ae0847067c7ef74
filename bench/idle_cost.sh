#!/usr/bin/env bash
# Idle cost of the running program: wake-ups per second (context switches of
# all its threads) and CPU time, measured over a window while it monitors the
# demo enclosures headless.
# usage: bench/idle_cost.sh [build-dir] [seconds]
set -euo pipefail
build=${1:-build}
secs=${2:-20}
runtime=$(mktemp -d); logs=$(mktemp -d)
chmod 700 "$runtime"
XDG_RUNTIME_DIR=$runtime "$build/kestrel-raid-gui" --headless --simulate --log-dir "$logs" \
  --registry "$logs/registry.ini" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$runtime" "$logs"' EXIT
sleep 8   # start-up and the first detection
switches() { cat /proc/$pid/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }
cputicks() { awk '{print $14 + $15}' /proc/$pid/stat; }
s0=$(switches); c0=$(cputicks)
sleep "$secs"
s1=$(switches); c1=$(cputicks)
hz=$(getconf CLK_TCK)
threads=$(ls /proc/$pid/task | wc -l)
awk -v s=$((s1 - s0)) -v c=$((c1 - c0)) -v t="$secs" -v hz="$hz" -v n="$threads" 'BEGIN {
  printf "threads: %d\nwake-ups per second: %.1f\nCPU: %.2f%% of one core (%d ms in %d s)\n", n, s / t, 100 * c / hz / t, 1000 * c / hz, t }'

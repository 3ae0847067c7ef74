#!/usr/bin/env bash
# Idle cost of the running program: wake-ups per second (context switches of
# all its threads) and CPU time, measured over a window while it monitors
# the demo enclosures with nothing happening (bench/idle_pc.json: the demo
# PC without its timeline, so the simulator's clock is stopped too).
# usage: bench/idle_cost.sh [build-dir] [seconds] [headless|window]
#   window: the main window on Qt's offscreen platform.
set -euo pipefail
build=${1:-build}
secs=${2:-20}
mode=${3:-headless}
case $mode in
  headless) args=(--headless) ;;
  window) args=() ;;
  *) echo "usage: $0 [build-dir] [seconds] [headless|window]" >&2; exit 2 ;;
esac
runtime=$(mktemp -d); logs=$(mktemp -d)
chmod 700 "$runtime"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
  "$build/kestrel-raid-gui" "${args[@]}" --simulate "$(dirname "$0")/idle_pc.json" --log-dir "$logs" \
  --registry "$logs/registry.ini" >/dev/null 2>"$logs/stderr" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$runtime" "$logs"' EXIT
sleep 8   # start-up and the first detection
alive() {
  kill -0 $pid 2>/dev/null && return
  echo "the program ended early:" >&2
  cat "$logs/stderr" >&2
  exit 1
}
switches() { cat /proc/$pid/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s}'; }
# Nanoseconds on a CPU, all threads (finer than the clock ticks of /proc/PID/stat).
cpuns() { cat /proc/$pid/task/*/schedstat | awk '{s += $1} END {printf "%.0f", s}'; }
alive
s0=$(switches); c0=$(cpuns)
sleep "$secs"
alive
s1=$(switches); c1=$(cpuns)
threads=$(ls /proc/$pid/task | wc -l)
awk -v m="$mode" -v s=$((s1 - s0)) -v c=$((c1 - c0)) -v t="$secs" -v n="$threads" 'BEGIN {
  printf "%s: %d threads, %.1f wake-ups per second, CPU %.3f%% of one core (%.1f ms in %d s)\n",
    m, n, s / t, 100 * c / 1e9 / t, c / 1e6, t }'

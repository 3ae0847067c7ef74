#!/usr/bin/env bash
# Resident memory of the running programs on the demo: the monitor program
# (no widgets), the window program headless, and the window program with its
# window (Qt's offscreen platform). For each: the resident set after the
# first detection and some polls, its peak, its proportional share (shared
# library pages divided among the processes that map them), and the shared
# libraries mapped.
# Goal for the monitor program: 12 MB resident at most.
# usage: bench/resident_memory.sh [build-dir] [seconds]
set -euo pipefail
build=${1:-build}
secs=${2:-20}
goal_kb=$((12 * 1024))

measure() {
  local name=$1; shift
  local runtime logs pid
  runtime=$(mktemp -d); logs=$(mktemp -d)
  chmod 700 "$runtime"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" KESTREL_RUN_DIR="$runtime" \
    "$@" --simulate --log-dir "$logs" --registry "$logs/registry.ini" >/dev/null 2>"$logs/stderr" &
  pid=$!
  # Start-up, the first detection, then the demo's polls for a while.
  local waited=0
  until grep -q 'Detected OK' "$logs/stderr" 2>/dev/null || [ $waited -ge 300 ]; do
    sleep 0.1; waited=$((waited + 1))
  done
  sleep "$secs"
  if ! kill -0 $pid 2>/dev/null; then
    echo "$name: the program ended early:" >&2
    cat "$logs/stderr" >&2
    rm -rf "$runtime" "$logs"
    return 1
  fi
  local rss hwm pss libs
  rss=$(awk '/^VmRSS/ {print $2}' /proc/$pid/status)
  pss=$(awk '/^Pss:/ {print $2}' /proc/$pid/smaps_rollup)
  hwm=$(awk '/^VmHWM/ {print $2}' /proc/$pid/status)
  libs=$(awk '$6 ~ /\.so/ {print $6}' /proc/$pid/maps | sort -u | wc -l)
  kill $pid; wait $pid 2>/dev/null || true
  rm -rf "$runtime" "$logs"
  awk -v n="$name" -v r="$rss" -v h="$hwm" -v p="$pss" -v l="$libs" 'BEGIN {
    printf "%-30s resident %5.1f MB (peak %5.1f MB, proportional %5.1f MB), %d shared libraries\n",
      n, r / 1024, h / 1024, p / 1024, l }'
  if [ "$name" = "kestrel-raid-monitor" ]; then
    if [ "$rss" -le $goal_kb ]; then echo "  within the goal of 12 MB"; else echo "  over the goal of 12 MB"; fi
  fi
}

measure kestrel-raid-monitor "$build/kestrel-raid-monitor"
measure "kestrel-raid-gui --headless" "$build/kestrel-raid-gui" --headless
measure "kestrel-raid-gui (window)" "$build/kestrel-raid-gui"

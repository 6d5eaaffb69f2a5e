#!/usr/bin/env bash
# Idle CPU and resident memory of the running program, with 1k and with 100k clips in the
# history: starts a private X server and quillet on a filled data folder, waits for start-up,
# then measures 60 s of idling. Usage: bench/idle_usage.sh [build folder] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

for rows in 1000 100000; do
  work=$(mktemp -d)
  "$build/bench/bench_menu" --fill "$rows" "$work/data"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" &
  xvfb=$!
  while [ ! -s "$work/display" ]; do sleep 0.1; done
  DISPLAY=":$(cat "$work/display")" QUILLET_DATA_DIR="$work/data" QUILLET_CONFIG_DIR="$work/config" \
    "$build/src/quillet" 2>/dev/null &
  app=$!
  sleep 5
  before=$(cpu_ticks "$app")
  sleep "$seconds"
  after=$(cpu_ticks "$app")
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$app/status")
  kill "$app" "$xvfb"
  wait "$app" "$xvfb" 2>/dev/null || true
  rm -rf "$work"
  awk -v r="$rows" -v d="$((after - before))" -v t="$ticks" -v s="$seconds" -v m="$rss" \
    'BEGIN { printf "%6d clips: idle CPU %.3f %% of a core over %d s, resident memory %.1f MiB\n", r, 100 * d / t / s, s, m / 1024 }'
done

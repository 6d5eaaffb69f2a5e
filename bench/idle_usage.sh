#!/usr/bin/env bash
# Idle CPU and resident memory of the running program, with 1k and with 100k clips in the
# history, and resident memory before and after the capture of one large (3000×3000) image:
# starts a private X server and quillet on a filled data folder, waits for start-up, then
# measures idling. Usage: bench/idle_usage.sh [build folder] [seconds] [quillet program]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
program=${3:-$build/src/quillet}
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_mib() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }

# start_app DATA: a private X server and quillet on DATA; sets work, xvfb, app and display.
start_app() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" &
  xvfb=$!
  while [ ! -s "$work/display" ]; do sleep 0.1; done
  display=":$(cat "$work/display")"
  DISPLAY="$display" QUILLET_DATA_DIR="$1" QUILLET_CONFIG_DIR="$work/config" "$program" 2>/dev/null &
  app=$!
  sleep 5
}

stop_app() {
  kill "$app" "$xvfb"
  wait "$app" "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}

for rows in 1000 100000; do
  work=$(mktemp -d)
  "$build/bench/bench_menu" --fill "$rows" "$work/data"
  start_app "$work/data"
  before=$(cpu_ticks "$app")
  sleep "$seconds"
  after=$(cpu_ticks "$app")
  rss=$(rss_mib "$app")
  stop_app
  awk -v r="$rows" -v d="$((after - before))" -v t="$ticks" -v s="$seconds" -v m="$rss" \
    'BEGIN { printf "%6d clips: idle CPU %.3f %% of a core over %d s, resident memory %.1f MiB\n", r, 100 * d / t / s, s, m }'
done

# One large image: resident memory at start, then idling after its capture. The image is
# offered by xclip as image/png, as an image viewer or a browser offers a copied picture.
work=$(mktemp -d)
"$build/bench/bench_menu" --image 3000 "$work/large.png"
start_app "$work/data"
start_rss=$(rss_mib "$app")
DISPLAY="$display" xclip -selection clipboard -t image/png -i "$work/large.png"
# Captured once the payload's archive, the last file a capture writes, is there.
captured=no
for _ in $(seq 1 600); do
  if [ -n "$(ls -A "$work/data/zips" 2>/dev/null)" ]; then captured=yes; break; fi
  sleep 0.1
done
sleep "$((seconds < 10 ? seconds : 10))"
image_rss=$(rss_mib "$app")
stop_app
if [ "$captured" != yes ]; then
  echo "large image: not captured within 60 s" >&2
  exit 1
fi
echo "large image: resident memory $start_rss MiB at start, $image_rss MiB idling after capturing one 3000x3000 image"

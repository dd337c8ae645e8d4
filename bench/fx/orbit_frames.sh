#!/usr/bin/env bash
# The ORBIT deck's frame cost in the headless Server: binding Y of the demo
# preset (the 3D scene alone, shadows, mirror, beams, fog) as a fixed-rate
# offline render without --dump, the start-up (a 1-frame run) taken off,
# as bench/demo/bench_demo.sh measures the six-deck show.
#
# Usage: bench/fx/orbit_frames.sh [BUILD_DIR] [FRAMES] [KEY]   (build, 250, Y)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
frames=${2:-250}
key=${3:-Y}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/settings"

seconds() {
  local start end
  start=$(date +%s.%N)
  VJ_SETTINGS_DIR="$work/settings" VJ_NO_DIALOGS=1 SDL_AUDIODRIVER=dummy \
    "$build/vj" server --headless --port=0 --fps=25 \
    --audio-input="$build/data/sounds/demo_beat.wav" --preset="$build/presets/demo.HVR" --recall="$key" \
    --frames="$1" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

seconds 1 >/dev/null  # warm the file cache and the scene cache
startup=$(seconds 1)
total=$(seconds "$frames")
printf 'binding %s of the demo preset, 640 x 480, llvmpipe (%s threads):\n' "$key" "${LP_NUM_THREADS:-default}"
printf '  %d frames in %.2f s after a %.2f s start: %.1f frames per second (%.2f ms per frame)\n' \
  "$frames" "$(echo "$total - $startup" | bc -l)" "$startup" \
  "$(echo "($frames - 1) / ($total - $startup)" | bc -l)" \
  "$(echo "1000 * ($total - $startup) / ($frames - 1)" | bc -l)"

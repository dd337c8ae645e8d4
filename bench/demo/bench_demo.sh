#!/usr/bin/env bash
# The demo show's cost on this machine: frames per second of the headless
# Server with demo effects on all six decks, each through a blend mixer,
# at the 640 x 480 output, and where a frame's time goes (script replay,
# beat detection, drawing), from a callgrind profile.
#
# Usage: bench/demo/bench_demo.sh [BUILD_DIR] [FRAMES] [PROFILE_FRAMES]
#   BUILD_DIR       default build
#   FRAMES          frames timed for the rate (default 500)
#   PROFILE_FRAMES  frames run under callgrind (default 30; 0 skips it)
#
# Both runs are fixed-rate (--fps=25) offline renders without --dump, so
# the show and the sound are the same on every run and nothing but the
# frames themselves is measured. The start-up (loading the effects, the
# first shader compiles) is measured by a 1-frame run and taken off.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
frames=${2:-500}
profile_frames=${3:-30}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/settings"
python3 tools/make_demo_preset.py --bench "$work/six.HVR"

run() {
  VJ_SETTINGS_DIR="$work/settings" VJ_NO_DIALOGS=1 SDL_AUDIODRIVER=dummy \
    "$@" "$build/vj" server --headless --port=0 --fps=25 \
    --audio-input="$build/data/sounds/demo_beat.wav" --preset="$work/six.HVR" --recall=A \
    --frames="$frames_now" >/dev/null
}

seconds() {
  local start end
  start=$(date +%s.%N)
  run
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

frames_now=1
seconds >/dev/null  # warm the file cache
startup=$(seconds)
frames_now=$frames
total=$(seconds)
printf 'six demo decks through blend mixers, 640 x 480, llvmpipe (%s threads):\n' "${LP_NUM_THREADS:-default}"
printf '  %d frames in %.2f s after a %.2f s start: %.1f frames per second (%.2f ms per frame)\n' \
  "$frames" "$(echo "$total - $startup" | bc -l)" "$startup" \
  "$(echo "($frames - 1) / ($total - $startup)" | bc -l)" \
  "$(echo "1000 * ($total - $startup) / ($frames - 1)" | bc -l)"

[[ "$profile_frames" -gt 0 ]] || exit 0
command -v valgrind >/dev/null || { echo "valgrind not installed: no profile"; exit 0; }

# The profile: the frame loop only (QeAppFrame), rasterizing on the
# calling thread so the drawing's cost lands under the draw calls. Two runs,
# 5 and 5 + PROFILE_FRAMES frames: their difference is the steady show,
# without the first frames' shader compiles and texture uploads.
profile() {
  frames_now=$1
  LP_NUM_THREADS=0 run valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.$1" \
    --collect-atstart=no --toggle-collect='app::QeAppFrame()' 2>/dev/null
  callgrind_annotate --inclusive=yes --threshold=100 "$work/callgrind.$1" 2>/dev/null > "$work/annotate.$1"
}
short=5
long=$((5 + profile_frames))
profile "$short"
profile "$long"

# Inclusive instruction counts of the named functions, long run minus short.
cost() {
  local total=0 n run
  for name in "$@"; do
    for run in "$long" "$short"; do
      # The function's own line ("file:name [object]"), not its inlined parts.
      n=$(grep -F ":$name [" "$work/annotate.$run" | head -1 | awk '{gsub(",", "", $1); print $1}')
      if [[ "$run" == "$long" ]]; then total=$((total + ${n:-0})); else total=$((total - ${n:-0})); fi
    done
  done
  echo "$total"
}
frame=$(cost 'app::QeAppFrame()')
beats=$(cost 'fx::DetectBeats(double)')
syncer=$(cost 'fx::GetSoundSyncSpectrum(double)')
replay=$(cost 'fx::FxScript::Rewind()' 'fx::FxScript::Step()')
tick=$(cost 'server::ServerTick()')
drawing=$((tick - replay - syncer))
share() { printf '%6.2f' "$(echo "100 * $1 / $frame" | bc -l)"; }
printf 'where a frame goes (callgrind, %d steady frames, instructions inclusive of callees):\n' "$profile_frames"
printf '  script replay (FxScript::Rewind + Step)   %s %%\n' "$(share "$replay")"
printf '  beat detection (DetectBeats)              %s %%\n' "$(share "$beats")"
printf '  sound-syncer spectrum (for the effects)   %s %%\n' "$(share "$syncer")"
printf '  drawing (the rest of the Server tick:     %s %%\n' "$(share "$drawing")"
printf '    effects, mixers, copy to the output)\n'
printf '  other (the frame loop, events)            %s %%\n' "$(share "$((frame - replay - beats - syncer - drawing))")"
printf '  (%s instructions per frame)\n' "$((frame / profile_frames))"

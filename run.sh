#!/usr/bin/env bash
# Runs the tool: installs what is missing, builds build/, creates the
# settings folder on first use, then starts build/vj with any arguments;
# without arguments it plays the demo show (or, without a display, renders
# it to pictures).
set -euo pipefail
cd "$(dirname "$0")"
tools/bootstrap.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vj vjctl

# The installer's step: the settings root must exist before the first start.
settings="${VJ_SETTINGS_DIR:-${XDG_CONFIG_HOME:-$HOME/.config}/halvane/vj}"
mkdir -p "$settings"
# On the very first start, put the Client beside the 640 x 480 output window
# instead of on top of it (both would open at 0, 0); later starts reopen
# where they were closed.
if [[ ! -e "$settings/values" ]]; then
  printf 'number\tClientX\t660\nnumber\tClientY\t0\n' > "$settings/values"
fi

if [[ $# -gt 0 ]]; then
  exec build/vj "$@"
fi

# The demo show: the bundled effects, binding A of the demo preset.
demo=(--preset=build/presets/demo.HVR --recall=A)
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  # Without a sound card the beat would come from taps alone: the demo then
  # listens to its own loop.
  if [[ ! -r /proc/asound/cards ]] || grep -q "no soundcards" /proc/asound/cards; then
    echo "run.sh: no sound card here; the demo listens to its own loop (data/sounds/demo_beat.wav)"
    demo+=(--audio-input=build/data/sounds/demo_beat.wav)
  fi
  exec build/vj "${demo[@]}"
fi

# No display: render the same show offline instead, 8 s at 25 fps in step
# with the demo loop, into build/demo-frames/.
frames=build/demo-frames
echo "run.sh: no display here; rendering the demo show headless instead"
rm -rf "$frames"
build/vj server --headless --port=0 --fps=25 --frames=200 --dump="$frames" \
  --audio-input=build/data/sounds/demo_beat.wav "${demo[@]}" >/dev/null
echo "run.sh: 200 frames (8 s at 25 fps) are in $frames/ (000000.png ... 000199.png)"
# The 3D bindings as well, each into its own folder: X, the procedural
# objects over the slide show.
for key in X; do
  rm -rf "$frames-$key"
  build/vj server --headless --port=0 --fps=25 --frames=200 --dump="$frames-$key" \
    --audio-input=build/data/sounds/demo_beat.wav "${demo[0]}" --recall="$key" >/dev/null
  echo "run.sh: binding $key: 200 frames in $frames-$key/"
done

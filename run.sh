#!/usr/bin/env bash
# Runs the tool: installs what is missing, builds build/, creates the
# settings folder on first use, then starts build/vj with any arguments.
set -euo pipefail
cd "$(dirname "$0")"
tools/bootstrap.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vj

# The installer's step: the settings root must exist before the first start.
settings="${VJ_SETTINGS_DIR:-${XDG_CONFIG_HOME:-$HOME/.config}/halvane/vj}"
mkdir -p "$settings"

if [[ $# -eq 0 && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: no display here; running the Server headless for 300 frames instead"
  exec build/vj server --headless --frames=300
fi
exec build/vj "$@"

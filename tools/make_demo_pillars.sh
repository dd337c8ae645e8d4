#!/usr/bin/env bash
# Rebuilds the bundled imported scene: the glTF from tools/make_demo_gltf.py,
# imported by vjscene into effects/pillars (scene text and floor texture).
# Usage: tools/make_demo_pillars.sh [BUILD_DIR] [EFFECT_DIR]
#   (defaults: build, effects/pillars; the demo preset binds it to B)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 tools/make_demo_gltf.py "$work"
effect=${2:-effects/pillars}
"$build/vjscene" import "$work/pillars.gltf" "$effect/data/scenes/pillars.txt"

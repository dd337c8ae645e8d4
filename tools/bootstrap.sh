#!/usr/bin/env bash
# Installs every Debian package the project needs, once. Quiet when all is there.
# Usage: tools/bootstrap.sh
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libx11-dev libepoxy-dev libimgui-dev libstb-dev
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libswresample-dev
  libfftw3-dev libsndfile1-dev libjpeg62-turbo-dev libpng-dev
  libgtest-dev libbenchmark-dev libassimp-dev
  libgl1-mesa-dri libegl-mesa0 libegl1 libegl-dev
  libjpeg-turbo-progs
  librtmidi-dev liblo-dev
  fonts-dejavu-core
  imagemagick xvfb xauth x11-utils sox aubio-tools
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "bootstrap: installing ${missing[*]}" >&2
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "bootstrap: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

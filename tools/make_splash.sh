#!/usr/bin/env bash
# Remakes resources/splash.bmp (512 x 224: the splash dialog's 341 x 138
# dialog units at 1.5 x 1.625 px). Needs ImageMagick and the DejaVu fonts.
set -euo pipefail
cd "$(dirname "$0")/.."
convert -size 512x224 \
  \( gradient:'#0b0420'-'#3a0a52' \) \
  \( -size 512x224 radial-gradient:'#ff3fa0'-none -alpha set -channel A -evaluate multiply 0.55 +channel \) -compose screen -composite \
  -stroke '#37f4ff' -strokewidth 2 -fill none \
  -draw "line 0,176 512,176" -draw "line 0,186 512,186" \
  -stroke '#ff3fa0' -draw "line 0,196 512,196" \
  -stroke none -fill white -font DejaVu-Sans-Bold -pointsize 64 -gravity center \
  -annotate +0-30 'halvane VJ' \
  -fill '#37f4ff' -font DejaVu-Sans -pointsize 18 -annotate +0+30 'six decks . one beat . live' \
  -type TrueColor BMP3:resources/splash.bmp

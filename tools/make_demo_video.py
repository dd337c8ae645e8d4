#!/usr/bin/env python3
"""Remakes effects/video/data/videos/loop.avi, the bundled VIDEO effect's
clip, with the ffmpeg tool alone: 640 x 480, 25 fps, MJPEG at -q:v 5, an
8 s loop without a seam.

The pictures are FFmpeg's own sources (mandelbrot, life, testsrc2) and the
demo's generated slides (effects/slides/data/images/, slowly zoomed with
zoompan), cross-faded into each other. The loop closes by fading the
sequence's last half second into its first: the clip starts with that
fade, so its last frame runs straight into its first.

Usage: tools/make_demo_video.py
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
SLIDES = os.path.join(ROOT, "effects", "slides", "data", "images")
OUT = os.path.join(ROOT, "effects", "video", "data", "videos", "loop.avi")

SIZE = "640x480"
RATE = 25
FADE = 0.5
LOOP = 8.0
MAX_BYTES = 3 * 1024 * 1024
BLUR = 3.0

# (ffmpeg input options, filter for the segment, seconds)
ZOOM = "zoompan=z='1+0.0025*on':x='iw/2-(iw/zoom/2)':y='ih/2-(ih/zoom/2)':d=1:s=%s:fps=%d" % (SIZE, RATE)
SEGMENTS = [
    (["-loop", "1", "-framerate", str(RATE), "-i", os.path.join(SLIDES, "sunset.tga")], ZOOM, 2.5),
    (["-f", "lavfi", "-i", "mandelbrot=s=%s:r=%d:start_scale=1.5:end_scale=0.05" % (SIZE, RATE)], "null", 2.0),
    (["-loop", "1", "-framerate", str(RATE), "-i", os.path.join(SLIDES, "plasma.jpg")], ZOOM, 2.5),
    (["-f", "lavfi", "-i", "life=s=160x120:r=%d:mold=10:ratio=0.1:seed=28:life_color=#ffd040:"
      "death_color=#203060:mold_color=#602040" % RATE], "scale=%s:flags=neighbor" % SIZE.replace("x", ":"), 2.0),
    (["-f", "lavfi", "-i", "testsrc2=s=%s:r=%d" % (SIZE, RATE)], "hue=s=0.6", 2.0),
]


def main():
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    inputs, filters = [], []
    for i, (options, segment_filter, seconds) in enumerate(SEGMENTS):
        inputs += options
        filters.append("[%d:v]%s,trim=duration=%g,fps=%d,format=yuv420p,setsar=1,settb=AVTB,"
                       "setpts=PTS-STARTPTS[s%d]" % (i, segment_filter, seconds, RATE, i))
    # The sequence: each segment fades into the next.
    label, length = "s0", SEGMENTS[0][2]
    for i in range(1, len(SEGMENTS)):
        filters.append("[%s][s%d]xfade=transition=fade:duration=%g:offset=%g[x%d]" % (label, i, FADE, length - FADE, i))
        label, length = "x%d" % i, length - FADE + SEGMENTS[i][2]
    assert length >= LOOP + FADE
    # The seam: the last half second fades into the first.
    filters.append("[%s]trim=duration=%g,split[a][b]" % (label, LOOP + FADE))
    filters.append("[a]trim=start=%g,setpts=PTS-STARTPTS[tail]" % LOOP)
    filters.append("[b]trim=duration=%g[head]" % LOOP)
    # Soft pictures: JPEG spends its bytes on fine detail.
    filters.append("[tail][head]xfade=transition=fade:duration=%g:offset=0,gblur=sigma=%g,format=yuvj420p[out]"
                   % (FADE, BLUR))
    command = (["ffmpeg", "-nostdin", "-y", "-hide_banner", "-loglevel", "error"] + inputs +
               ["-filter_complex", ";".join(filters), "-map", "[out]", "-frames:v", str(int(LOOP * RATE)),
                "-c:v", "mjpeg", "-q:v", "5", "-an", OUT])
    subprocess.run(command, check=True)
    size = os.path.getsize(OUT)
    print("%s: %d bytes" % (os.path.relpath(OUT, ROOT), size))
    if size > MAX_BYTES:
        sys.exit("the clip is larger than %d bytes" % MAX_BYTES)


if __name__ == "__main__":
    main()

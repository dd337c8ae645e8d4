#!/usr/bin/env python3
"""Writes effects/postfx/, the bundled demo of the FILTER effect: its
script and its pictures (procedural, written like make_demo_images.py's,
byte for byte the same on every run).

A 16 s loop: a FILTER on layer 1 treats two drifting IMAGE layers (1 and
2) over a ball moving on layer 0, one feature per 1.5 s segment, with a
fade through white across the loop point.

Usage: tools/make_demo_postfx.py
"""
import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_demo_images as images  # noqa: E402

EFFECT = "postfx"
SEGMENT = 1.5

# (start, commands for F, other lines) per segment. Every segment first
# turns the previous one's feature off; a fade that has run out is off by
# itself.
SEGMENTS = [
    ("blur clearing", ["BYPASS ON", "BLUR FADEIN 1.5 1"]),
    ("wobble", ["WOBBLE ON"]),
    ("lens", ["WOBBLE OFF", "LENS FADEIN 1.5 0.6 6"]),
    ("channel shift", ["LENS OFF", "COMPONENT RED 12 3 0", "COMPONENT GREEN 5 5 1", "COMPONENT BLUE 9 4 2",
                       "COMPONENT 0"]),
    ("zoom burst over layer 0", ["COMPONENT OFF", "BYPASS OFF", "RADIALBLUR FADEIN 0 0.04"]),
    ("noise", ["RADIALBLUR FADEOUT 0 0.04", "BYPASS ON", "NOISE 1.5 0.12"]),
    ("motion trail of layer 0", ["BYPASS OFF", "MOTIONBLUR FADEIN 0 0.35 0 0"]),
    ("cross-fade of layer 0", ["MOTIONBLUROFF", "CROSSFADE 1.5 0 1 0 0"]),
    # Underwater has no OFF: it comes last and the loop ends it.
    ("underwater", ["CROSSFADEOFF", "BYPASS ON", "UNDERWATER FADEIN 1.5 4 0.015"]),
]
LOOP = 16.0


def stripes(x, y):
    """Diagonal rainbow bands with a dark grid: distortions show on it."""
    u, v = x / 640.0, y / 480.0
    band = (u * 3.0 + v * 2.0) % 1.0
    r, g, b = images.hsv(band, 0.85, 0.95)
    line = 0.35 if (x % 40 < 3 or y % 40 < 3) else 1.0
    return (r * line, g * line, b * line, 255)


def rings(x, y):
    """Soft concentric rings, half transparent: a second drifting layer."""
    r = math.hypot(x - 160.0, y - 160.0)
    level = 0.5 + 0.5 * math.cos(r / 9.0)
    edge = images.smooth(160.0, 140.0, r)
    return (255 * level, 220 * level, 80 + 120 * (1 - level), 200 * edge)


def ball(x, y):
    """A glowing ball for the moving layer 0."""
    r = math.hypot(x - 63.5, y - 63.5)
    core = images.smooth(60.0, 20.0, r)
    return (255, 160 + 95 * core, 60 + 195 * core, 255 * images.smooth(64.0, 40.0, r))


def script():
    lines = [
        "// POSTFX: the FILTER effect, one feature every 1.5 s over drifting",
        "// pictures (written by tools/make_demo_postfx.py). The FILTER F sits on",
        "// layer 1: it captures layers 1-15 and puts them back, one frame late,",
        "// in the pass of layer 0. BYPASS OFF lets layer 0 show through (the",
        "// trail, the cross-fade and the zoom burst act on it).",
        "FXINSTANCE F FILTER RENDERTARGET",
        "FXINSTANCE BALL IMAGE 1 1 ball",
        "FXINSTANCE BACK IMAGE 1 1 stripes",
        "FXINSTANCE OVER IMAGE 1 1 rings",
        "FXLAYER BALL 0",
        "FXLAYER BACK 1",
        "FXLAYER OVER 2",
        "FXLAYER F 1",
        "FXSTART BALL",
        "FXSTART BACK",
        "FXSTART OVER",
        "FXSTART F",
        "FXCOMMAND BACK POSITIONALL -20 -15",
        "FXCOMMAND BACK ZOOM 1.08 0.0",
        "FXCOMMAND BACK VELOCITY 2 1",
        "FXCOMMAND OVER BLEND ADDITIVE",
        "FXCOMMAND OVER POSITIONALL 0 40",
        "FXCOMMAND OVER VELOCITY 20 6",
        "FXCOMMAND BALL POSITIONALL 40 170",
        "FXCOMMAND BALL VELOCITY 36 0",
        "// Out of white at the loop point.",
        "FXCOMMAND F FADEIN2 0.6 1 1 1",
    ]
    for index, (title, commands) in enumerate(SEGMENTS):
        start = index * SEGMENT
        lines.append("")
        lines.append("// %.1f s: %s" % (start, title))
        if start > 0:
            lines.append("SYNCTIME %g" % start)
        if title.endswith("layer 0"):
            # The ball crosses the screen again for the features acting on it.
            lines.append("FXCOMMAND BALL POSITIONALL 20 170")
            lines.append("FXCOMMAND BALL VELOCITY 360 0")
        for command in commands:
            lines.append("FXCOMMAND F " + command)
    lines += ["", "// Into white towards the loop point.", "SYNCTIME 14.6", "FXCOMMAND F FADEOUT 1.4 1 1 1",
              "SYNCTIME %g" % LOOP]
    return "\n".join(lines) + "\n"


def main():
    images.write_tga(images.out_path(EFFECT, "stripes.tga"), images.render(640, 480, stripes), alpha=False)
    images.write_tga(images.out_path(EFFECT, "rings.tga"), images.render(320, 320, rings), alpha=True)
    images.write_tga(images.out_path(EFFECT, "ball.tga"), images.render(128, 128, ball), alpha=True)
    path = os.path.join(images.EFFECTS, EFFECT, "data", "script.txt")
    with open(path, "w", newline="\n") as f:
        f.write(script())


if __name__ == "__main__":
    main()

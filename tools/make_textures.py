#!/usr/bin/env python3
"""Remakes the program's own textures in data/textures/ (procedural, no
inputs). Uncompressed true-colour TGA, bottom-up rows, written byte for byte
so the output is the same on every run.

Usage: tools/make_textures.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "textures")


def write_tga(name, width, height, pixel, alpha):
    """pixel(x, y) -> (r, g, b, a) with y = 0 at the top."""
    bits = 32 if alpha else 24
    # Type 2, no colour map, origin bottom-left; 8 alpha bits when 32-bit.
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, bits, 8 if alpha else 0)
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b, a = (max(0, min(255, int(c))) for c in pixel(x, y))
            row += bytes((b, g, r, a) if alpha else (b, g, r))
        rows.append(bytes(row))
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(header + b"".join(rows))


def white(x, y):
    return 255, 255, 255, 255


def flare(x, y, size=64):
    # A soft round glow: bright core, quadratic fall-off to the edge.
    cx = cy = (size - 1) / 2.0
    d = math.hypot(x - cx, y - cy) / (size / 2.0)
    v = max(0.0, 1.0 - d) ** 2
    core = max(0.0, 1.0 - d * 4.0)
    level = 255 * min(1.0, v + core)
    return level, level, level, level


def trauma(x, y, size=128):
    # Tiling bands in magenta and cyan for the height-mapped tube.
    u, v = x / size, y / size
    s = 0.5 + 0.5 * math.sin(2 * math.pi * (3 * u + 2 * v))
    t = 0.5 + 0.5 * math.sin(2 * math.pi * (5 * v - u))
    return 255 * s, 60 + 120 * t, 255 * (1 - s) * 0.8 + 50, 255


def trauma_height(x, y, size=128):
    # Smooth tiling hills (height in every channel).
    u, v = x / size, y / size
    h = (math.sin(2 * math.pi * 2 * u) * math.cos(2 * math.pi * 3 * v) + 1.0) * 0.5
    h = 0.7 * h + 0.3 * (0.5 + 0.5 * math.sin(2 * math.pi * (u + 4 * v)))
    level = 255 * h
    return level, level, level, 255


def main():
    os.makedirs(OUT, exist_ok=True)
    write_tga("WHITE.tga", 8, 8, white, False)
    write_tga("FLARE.tga", 64, 64, flare, True)
    write_tga("TRAUMA.tga", 128, 128, trauma, False)
    write_tga("traumaheight.tga", 128, 128, trauma_height, False)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Remakes the pictures of the bundled demo effects (effects/*/data/images/).

Everything is procedural (no inputs) and written byte for byte, so a run
gives the same files every time: TGA (24- and 32-bit, bottom-up rows) and
BMP (24-bit) by hand, JPEG through cjpeg (libjpeg-turbo-progs) from a PPM
or PGM, including the "@RGB.JPG" / "@ALPHA.JPG" pair of the logo.

Pictures without an alpha channel become 16-bit textures, so the BMP and
JPEG ones are busy, saturated patterns where banding does not show; smooth
gradients are 32-bit TGAs.

Usage: tools/make_demo_images.py [--only EFFECT]
"""
import math
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
EFFECTS = os.path.join(HERE, "..", "effects")


# ---------------------------------------------------------------------------
# Writers. pixel rows: list of rows (top first) of (r, g, b, a) tuples.
# ---------------------------------------------------------------------------
def clamp8(v):
    v = int(v + 0.5)
    return 0 if v < 0 else (255 if v > 255 else v)


def out_path(effect, name):
    folder = os.path.join(EFFECTS, effect, "data", "images")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


def write_tga(path, rows, alpha):
    """24-bit pictures uncompressed (type 2); 32-bit ones run-length coded
    (type 10), which shrinks their transparent surroundings to almost
    nothing."""
    height, width = len(rows), len(rows[0])
    bits = 32 if alpha else 24
    kind = 10 if alpha else 2
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, kind, 0, 0, 0, 0, 0, width, height, bits, 8 if alpha else 0)
    body = bytearray()
    for row in reversed(rows):  # bottom-left origin
        if not alpha:
            for r, g, b, _ in row:
                body += bytes((clamp8(b), clamp8(g), clamp8(r)))
            continue
        pixels = [bytes((clamp8(b), clamp8(g), clamp8(r), clamp8(a))) for r, g, b, a in row]
        # Packets never cross a row; runs of 2 or more repeat, the rest is raw.
        i = 0
        while i < width:
            run = 1
            while i + run < width and run < 128 and pixels[i + run] == pixels[i]:
                run += 1
            if run >= 2:
                body += bytes((0x80 | (run - 1),)) + pixels[i]
                i += run
                continue
            raw = 1
            while i + raw < width and raw < 128 and (i + raw + 1 >= width or pixels[i + raw] != pixels[i + raw + 1]):
                raw += 1
            body += bytes((raw - 1,)) + b"".join(pixels[i:i + raw])
            i += raw
    with open(path, "wb") as f:
        f.write(header + bytes(body))


def write_bmp(path, rows):
    height, width = len(rows), len(rows[0])
    pad = (4 - (width * 3) % 4) % 4
    size = (width * 3 + pad) * height
    header = struct.pack("<2sIHHI", b"BM", 54 + size, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, size, 2835, 2835, 0, 0)
    body = bytearray()
    for row in reversed(rows):
        for r, g, b, _ in row:
            body += bytes((clamp8(b), clamp8(g), clamp8(r)))
        body += b"\0" * pad
    with open(path, "wb") as f:
        f.write(header + info + bytes(body))


def write_jpeg(path, rows, alpha_only=False, quality=92):
    """alpha_only: the alpha channel as a grey picture, stored as a colour
    JPEG (the image library reads colour JPEGs only)."""
    height, width = len(rows), len(rows[0])
    if alpha_only:
        data = b"P6\n%d %d\n255\n" % (width, height) + bytes(
            clamp8(p[3]) for row in rows for p in row for _ in range(3))
    else:
        data = b"P6\n%d %d\n255\n" % (width, height) + bytes(
            clamp8(c) for row in rows for p in row for c in p[:3])
    args = ["cjpeg", "-quality", str(quality), "-optimize"]
    jpeg = subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout
    with open(path, "wb") as f:
        f.write(jpeg)


def render(width, height, pixel):
    return [[pixel(x, y) for x in range(width)] for y in range(height)]


# ---------------------------------------------------------------------------
# Colour helpers.
# ---------------------------------------------------------------------------
def hsv(h, s, v):
    h = (h % 1.0) * 6.0
    i = int(h)
    f = h - i
    p, q, t = v * (1 - s), v * (1 - s * f), v * (1 - s * (1 - f))
    r, g, b = [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i % 6]
    return 255 * r, 255 * g, 255 * b


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def ramp(stops, t):
    """stops: [(position, colour)], ascending positions."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0))
    return stops[-1][1]


def smooth(e0, e1, x):
    t = max(0.0, min(1.0, (x - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


def hash01(x, y):
    n = (x * 374761393 + y * 668265263) & 0xFFFFFFFF
    n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 65535.0


# ---------------------------------------------------------------------------
# slides: a slide show of four pictures, one per format.
# ---------------------------------------------------------------------------
def sunset(x, y):
    """Neon sunset over a perspective grid (smooth gradients: 32-bit TGA)."""
    horizon = 300.0
    if y < horizon:
        c = ramp([(0.0, (18, 4, 58)), (0.55, (120, 20, 140)), (0.85, (235, 60, 120)), (1.0, (255, 150, 60))],
                 y / horizon)
        # Stars in the upper sky.
        if y < 170 and hash01(x, y) > 0.9975:
            c = mix(c, (255, 255, 255), 0.4 + 0.6 * hash01(y, x))
        # The sun: a gradient disc cut by bands that thicken downwards.
        dx, dy = x - 320.0, y - 215.0
        d = math.hypot(dx, dy)
        glow = math.exp(-max(0.0, d - 120.0) / 40.0) * 0.55
        c = mix(c, (255, 120, 170), min(1.0, glow))
        if d < 120.0:
            t = (dy + 120.0) / 240.0
            sun = ramp([(0.0, (255, 245, 120)), (0.5, (255, 170, 60)), (1.0, (255, 40, 150))], t)
            band = False
            if dy > 10:
                period = 24.0
                phase = (dy - 10) % period
                band = phase > period - (3.0 + (dy - 10) / 7.0)
            edge = smooth(120.0, 118.0, d)
            if not band:
                c = mix(c, sun, edge)
        return c + (255,)
    # Floor: dark violet with magenta lines converging on the vanishing point.
    depth = (y - horizon + 1.0) / (480.0 - horizon)
    base = mix((40, 0, 60), (10, 0, 25), depth)
    rows = y - horizon + 1.0
    z = (480.0 - horizon) / rows  # distance along the floor
    fz = (z * 2.0) % 1.0
    hdist = min(fz, 1.0 - fz) / 2.0 * rows * rows / (480.0 - horizon)  # in pixels
    hline = smooth(1.6, 0.2, hdist)
    u = (x - 320.0) / rows  # constant along a line through the vanishing point
    fu = (u * 3.0) % 1.0
    vdist = min(fu, 1.0 - fu) / 3.0 * rows
    vline = smooth(1.6, 0.2, vdist)
    line = max(hline, vline)
    fog = smooth(0.0, 0.35, depth)
    c = mix(base, (255, 40, 220), line * (0.35 + 0.65 * fog))
    c = mix(c, (255, 120, 170), math.exp(-(y - horizon) / 12.0) * 0.6)
    return c + (255,)


def rings(x, y):
    """Op-art: two sets of rings beating against each other (24-bit BMP)."""
    d1 = math.hypot(x - 230, y - 210)
    d2 = math.hypot(x - 420, y - 280)
    v = math.sin(d1 * 0.16) + math.sin(d2 * 0.16)
    hue = 0.55 + 0.25 * math.sin((d1 - d2) * 0.01) + 0.08 * v
    if v > 0.6:
        return hsv(hue, 0.9, 1.0) + (255,)
    if v > -0.4:
        return hsv(hue + 0.5, 1.0, 0.55 + 0.2 * v) + (255,)
    return (8, 0, 24, 255)


def plasma(x, y):
    """Saturated plasma (JPEG)."""
    u, v = x / 640.0, y / 480.0
    a = math.sin(u * 11.0 + 1.3) + math.sin(v * 9.0 - 0.4) + math.sin((u + v) * 7.0) + \
        math.sin(math.hypot(u - 0.6, v - 0.4) * 18.0)
    hue = a * 0.16 + 0.8
    val = 0.55 + 0.45 * math.sin(a * 2.6)
    return hsv(hue, 0.85, 0.35 + 0.65 * val) + (255,)


def kaleido(x, y):
    """Eight-fold mirrored petals (JPEG)."""
    dx, dy = x - 320.0, y - 240.0
    r = math.hypot(dx, dy)
    a = math.atan2(dy, dx)
    seg = math.pi / 4.0
    a = abs((a % seg) - seg / 2.0)
    # Log-polar bands: every ring as wide on screen relative to its radius,
    # so the outside never turns into fine moire.
    s = math.log(r + 8.0) * 3.0 + 0.45 * math.cos(a * 8.0)
    w = s % 1.0
    ring = int(s)
    hue = 0.08 * ring + a * 0.6
    if w < 0.5:
        return hsv(hue, 1.0, 0.5 + w) + (255,)
    return hsv(hue + 0.45, 0.9, 1.3 - w) + (255,)


def make_slides():
    write_tga(out_path("slides", "sunset.tga"), render(640, 480, sunset), alpha=True)
    write_bmp(out_path("slides", "rings.bmp"), render(640, 480, rings))
    write_jpeg(out_path("slides", "plasma.jpg"), render(640, 480, plasma))
    write_jpeg(out_path("slides", "kaleido.jpg"), render(640, 480, kaleido))


# ---------------------------------------------------------------------------
# logo: "HALVANE VJ" in a block font with an alpha channel.
# ---------------------------------------------------------------------------
GLYPHS = {
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "J": ["00111", "00010", "00010", "00010", "00010", "10010", "01100"],
}


class Text:
    """Distance field of a word set in the block font, sheared for speed."""

    def __init__(self, word, cell, left, top, shear=0.18):
        self.cell, self.left, self.top, self.shear = cell, left, top, shear
        self.on = set()
        for i, ch in enumerate(word):
            for row, bits in enumerate(GLYPHS[ch]):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.on.add((i * 6 + col, row))

    def distance(self, x, y):
        """Pixels from (x, y) to the nearest set cell (0 inside)."""
        v = (y - self.top) / self.cell
        u = (x - self.left) / self.cell + (v - 3.5) * self.shear
        cu, cv = math.floor(u), math.floor(v)
        best = 9.0
        for du in (-2, -1, 0, 1, 2):
            for dv in (-2, -1, 0, 1, 2):
                if (cu + du, cv + dv) in self.on:
                    ex = max(cu + du - u, 0.0, u - (cu + du + 1))
                    ey = max(cv + dv - v, 0.0, v - (cv + dv + 1))
                    best = min(best, math.hypot(ex, ey))
        return best * self.cell


TITLE = Text("HALVANE", 11, (512 - 41 * 11) / 2.0, 40)
SUB = Text("VJ", 11, (512 - 11 * 11) / 2.0, 150)


def logo(x, y):
    """Gradient-filled letters, a white outline and a dark shadow."""
    colour, alpha = (0, 0, 0), 0.0
    # Shadow first, then outline and fill over it.
    for text, fill in ((TITLE, None), (SUB, None)):
        ds = text.distance(x - 5, y - 6)
        alpha = max(alpha, 0.55 * smooth(6.0, 0.0, ds))
    for text, top_colour, bottom_colour in ((TITLE, (0, 240, 255), (255, 0, 200)),
                                            (SUB, (255, 240, 40), (255, 90, 0))):
        d = text.distance(x, y)
        outline = smooth(4.0, 2.5, d)
        if outline > 0.0:
            t = (y - text.top) / (7.0 * text.cell)
            fill = mix(top_colour, bottom_colour, max(0.0, min(1.0, t)))
            # A highlight stripe across the upper third.
            if 0.18 < t < 0.26:
                fill = mix(fill, (255, 255, 255), 0.55)
            inner = smooth(1.2, 0.0, d)
            c = mix((255, 255, 255), fill, inner)
            colour = mix(colour, c, outline / max(outline, alpha, 1e-6) if alpha > outline else 1.0)
            alpha = max(alpha, outline)
    return colour + (255 * alpha,)


def logo_glow(x, y):
    """The letters' halo for additive drawing: cyan light falling off."""
    d = min(TITLE.distance(x, y), SUB.distance(x, y) * 1.0)
    a = math.exp(-d / 9.0)
    return (80, 220, 255, 255 * a)


def sweep(x, y):
    """A rainbow repeating every 640 pixels across, bright, for multiply
    (JPEG: wide and smooth, it compresses to almost nothing)."""
    return hsv(x / 640.0 + y / 2400.0, 0.75, 1.0) + (255,)


def make_logo():
    rows = render(512, 256, logo)
    write_jpeg(out_path("logo", "halvane@RGB.JPG"), rows, quality=95)
    write_jpeg(out_path("logo", "halvane@ALPHA.JPG"), rows, alpha_only=True, quality=95)
    write_tga(out_path("logo", "glow.tga"), render(512, 256, logo_glow), alpha=True)
    write_jpeg(out_path("logo", "sweep.jpg"), render(960, 480, sweep))


# ---------------------------------------------------------------------------
# strobe: bursts flashed on the beat over a dark moving grid.
# ---------------------------------------------------------------------------
def burst(rays, tint, twist):
    def pixel(x, y):
        dx, dy = x - 255.5, y - 255.5
        r = math.hypot(dx, dy) / 256.0
        a = math.atan2(dy, dx)
        ray = max(0.0, math.cos(a * rays + twist * r * 6.0)) ** 6
        core = math.exp(-r * 9.0)
        fall = max(0.0, 1.0 - r) ** 1.5
        level = min(1.0, core * 1.5 + ray * fall)
        colour = mix(tint, (255, 255, 255), min(1.0, core * 2.0))
        return colour + (255 * level,)
    return pixel


def shock_ring(x, y):
    r = math.hypot(x - 255.5, y - 255.5)
    band = math.exp(-((r - 190.0) / 14.0) ** 2) + 0.5 * math.exp(-((r - 150.0) / 6.0) ** 2)
    core = math.exp(-r / 30.0)
    level = min(1.0, band + core)
    return mix((255, 40, 200), (255, 255, 255), min(1.0, core * 1.6 + band * 0.3)) + (255 * level,)


def dark_grid(x, y):
    """Dim blue grid with brighter crossings (32-bit TGA: runs of one colour)."""
    gx = min(x % 40, 40 - x % 40)
    gy = min(y % 40, 40 - y % 40)
    line = max(smooth(2.0, 0.0, gx), smooth(2.0, 0.0, gy))
    cross = smooth(5.0, 0.0, math.hypot(gx, gy))
    v = 0.15 * line + 0.4 * cross
    return (20 + 40 * v, 10 + 120 * v, 50 + 205 * v, 255)


def make_strobe():
    write_tga(out_path("strobe", "burst.tga"), render(512, 512, burst(12, (0, 200, 255), 0.0)), alpha=True)
    write_tga(out_path("strobe", "twist.tga"), render(512, 512, burst(8, (255, 60, 220), 1.0)), alpha=True)
    write_tga(out_path("strobe", "shock.tga"), render(512, 512, shock_ring), alpha=True)
    write_tga(out_path("strobe", "grid.tga"), render(800, 600, dark_grid), alpha=True)


# ---------------------------------------------------------------------------
# spectrum: a backdrop for the analyser and a glow that follows the bass.
# ---------------------------------------------------------------------------
def backdrop(x, y):
    t = y / 480.0
    c = ramp([(0.0, (2, 2, 16)), (0.5, (10, 4, 40)), (1.0, (40, 0, 60))], t)
    gx, gy = min(x % 32, 32 - x % 32), min(y % 24, 24 - y % 24)
    line = max(smooth(1.2, 0.0, gx), smooth(1.2, 0.0, gy))
    c = mix(c, (60, 40, 140), line * (0.2 + 0.4 * t))
    return c + (255,)


def bass_glow(x, y):
    """Half size: smooth enough to be drawn at zoom 2."""
    dx = (x - 160.0) / 160.0
    dy = (240.0 - y) / 150.0
    a = math.exp(-(dx * dx) * 2.0) * math.exp(-dy * 3.0)
    c = ramp([(0.0, (255, 40, 120)), (0.5, (255, 120, 40)), (1.0, (255, 230, 120))], min(1.0, a * 1.2))
    return c + (255 * min(1.0, a * 1.1),)


def make_spectrum():
    write_tga(out_path("spectrum", "backdrop.tga"), render(640, 480, backdrop), alpha=True)
    write_tga(out_path("spectrum", "bassglow.tga"), render(320, 240, bass_glow), alpha=True)


# ---------------------------------------------------------------------------
# warp: neon rings flying out of the centre.
# ---------------------------------------------------------------------------
def neon_ring(tint):
    def pixel(x, y):
        r = math.hypot(x - 255.5, y - 255.5)
        core = math.exp(-((r - 200.0) / 3.0) ** 2)
        halo = math.exp(-((r - 200.0) / 16.0) ** 2) * 0.7
        level = min(1.0, core + halo)
        return mix(tint, (255, 255, 255), core * 0.8) + (255 * level,)
    return pixel


def make_warp():
    write_tga(out_path("warp", "ringcyan.tga"), render(512, 512, neon_ring((0, 210, 255))), alpha=True)
    write_tga(out_path("warp", "ringpink.tga"), render(512, 512, neon_ring((255, 30, 190))), alpha=True)


MAKERS = {"slides": make_slides, "logo": make_logo, "strobe": make_strobe, "spectrum": make_spectrum,
          "warp": make_warp}


def main():
    only = sys.argv[2] if len(sys.argv) > 2 and sys.argv[1] == "--only" else None
    for name, make in MAKERS.items():
        if only is None or only == name:
            make()


if __name__ == "__main__":
    main()

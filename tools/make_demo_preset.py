#!/usr/bin/env python3
"""Remakes presets/demo.HVR, the demo show's key bindings (page 1), in the
form the Client's "Save Preset" writes: 260 bindings, page-major, tag text
indented by tabs.

Usage: tools/make_demo_preset.py [--bench OUT]
  --bench OUT  instead, write the benchmark's preset to OUT: binding A puts
               demo effects on all six decks, each through a blend mixer.
"""
import sys
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "presets", "demo.HVR")

MIXERS = {"NULL": -1, "ALPHABLEND": 0, "BEATBLEND": 1, "INVERSEBEATBLEND": 2, "WAVEBLEND": 3,
          "INVERSEWAVEBLEND": 4, "ADDITIVE": 5, "BEATADDITIVE": 6, "INVERSEBEATADDITIVE": 7,
          "WAVEADDITIVE": 8, "INVERSEWAVEADDITIVE": 9}
BEATS = {"FREE": 0, "START": 1, "END": 2}

# letter -> decks 0.. (effect, mixer, fader, beat mode, speed); 0.75 is normal speed.
# SLIDES and SPECTRUM are opaque pictures (bases); WARP, STROBE and LOGO are
# drawn over a transparent background (overlays for the decks below).
BINDINGS = {
    # The first binding: the slide show moves from its first frame.
    "A": [("SLIDES", "NULL", 1.0, "FREE", 0.75), ("LOGO", "ALPHABLEND", 1.0, "FREE", 0.75)],
    "S": [("SPECTRUM", "NULL", 1.0, "FREE", 0.75), ("STROBE", "ALPHABLEND", 1.0, "FREE", 0.75)],
    "D": [("SLIDES", "NULL", 1.0, "FREE", 0.75), ("WARP", "ALPHABLEND", 0.8, "FREE", 1.0),
          ("STROBE", "ALPHABLEND", 1.0, "FREE", 0.75), ("LOGO", "ALPHABLEND", 1.0, "FREE", 0.75)],
    "F": [("SPECTRUM", "NULL", 1.0, "FREE", 0.75), ("WARP", "BEATBLEND", 1.0, "START", 0.75),
          ("LOGO", "INVERSEBEATBLEND", 1.0, "FREE", 0.75)],
    "G": [("SLIDES", "NULL", 1.0, "FREE", 0.75), ("WARP", "ALPHABLEND", 0.7, "FREE", 0.75),
          ("SPECTRUM", "WAVEBLEND", 0.8, "FREE", 0.75), ("STROBE", "BEATBLEND", 1.0, "FREE", 0.75),
          ("WARP", "WAVEADDITIVE", 0.25, "FREE", 1.0), ("LOGO", "ALPHABLEND", 1.0, "END", 0.75)],
    "Q": [("SLIDES", "NULL", 1.0, "FREE", 0.75)],
    "W": [("WARP", "NULL", 1.0, "FREE", 0.75)],
    "E": [("SPECTRUM", "NULL", 1.0, "FREE", 0.75)],
    "R": [("STROBE", "NULL", 1.0, "FREE", 0.75)],
    "T": [("LOGO", "NULL", 1.0, "FREE", 0.75)],
    # The FILTER demo alone, and over the slide show.
    "L": [("POSTFX", "NULL", 1.0, "FREE", 0.75)],
    "Z": [("SLIDES", "NULL", 1.0, "FREE", 0.75), ("POSTFX", "ALPHABLEND", 0.8, "FREE", 0.75)],
    # The 3D scene: alone, under the logo, and alone running backwards (speed 0.25: -1).
    "Y": [("ORBIT", "NULL", 1.0, "FREE", 0.75)],
    "U": [("ORBIT", "NULL", 1.0, "FREE", 0.75), ("LOGO", "ALPHABLEND", 1.0, "FREE", 0.75)],
    "I": [("ORBIT", "NULL", 1.0, "FREE", 0.25)],
    # The imported scene (vjscene import of tools/make_demo_gltf.py's glTF).
    "B": [("PILLARS", "NULL", 1.0, "FREE", 0.75)],
    # The video: alone, under the logo, and at speed 0.25 (backwards) under WARP.
    "H": [("VIDEO", "NULL", 1.0, "FREE", 0.75)],
    "J": [("VIDEO", "NULL", 1.0, "FREE", 0.75), ("LOGO", "ALPHABLEND", 1.0, "FREE", 0.75)],
    "K": [("VIDEO", "NULL", 1.0, "FREE", 0.25), ("WARP", "ALPHABLEND", 0.8, "FREE", 0.75)],
    # The procedural objects over the slide show.
    "X": [("SLIDES", "NULL", 1.0, "FREE", 0.75), ("PROCEDURAL", "ALPHABLEND", 1.0, "FREE", 0.75)],
}


BENCH_BINDINGS = {
    "A": [("SLIDES", "ALPHABLEND", 1.0, "FREE", 0.75), ("WARP", "ALPHABLEND", 0.8, "FREE", 0.75),
          ("SPECTRUM", "ADDITIVE", 0.3, "FREE", 0.75), ("STROBE", "ADDITIVE", 0.6, "FREE", 0.75),
          ("LOGO", "ALPHABLEND", 1.0, "FREE", 0.75), ("SLIDES", "WAVEBLEND", 0.5, "FREE", 1.0)],
}


def main():
    bindings, out = BINDINGS, OUT
    if len(sys.argv) == 3 and sys.argv[1] == "--bench":
        bindings, out = BENCH_BINDINGS, sys.argv[2]
    lines = []

    def tag(depth, name, value=None, fmt=None):
        lines.append("\t" * depth + "<%s>" % name)
        if value is not None:
            lines.append("\t" * (depth + 1) + fmt % value)
        lines.append("\t" * depth + "</%s>" % name)

    lines.append("<BINDS>")
    for page in range(10):
        for letter in "ABCDEFGHIJKLMNOPQRSTUVWXYZ":
            decks = bindings.get(letter, []) if page == 0 else []
            lines.append("\t<BIND>")
            tag(2, "KEY", letter, '"%s"')
            for number in range(6):
                effect, mixer, fader, beat, speed = (decks[number] if number < len(decks)
                                                     else ("", "NULL", 1.0, "FREE", 0.75))
                lines.append("\t\t<DECK>")
                tag(3, "DECKNUM", number, "%i")
                tag(3, "FADER", fader, "%f")
                tag(3, "MIXER", MIXERS[mixer], "%i")
                tag(3, "EFFECT", effect, '"%s"')
                tag(3, "AUTOBEAT", BEATS[beat], "%i")
                tag(3, "SPEED", speed, "%f")
                lines.append("\t\t</DECK>")
            tag(2, "PAGE", page, "%i")
            lines.append("\t</BIND>")
    lines.append("</BINDS>")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

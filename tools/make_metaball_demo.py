#!/usr/bin/env python3
"""Writes the metaball demo effect: effects/metaballs/data/.

  scenes/metaballs.txt  the scene text: a camera orbiting the grid's centre
                        (32, 32, 32) on a looping track, a white directional
                        light and a coloured point light, and twelve
                        @METABALLnn placeholders (tiny meshes with the
                        material METAL) on looping Lissajous tracks inside
                        12..52, so the balls merge and part
  shaders/metal.txt     METAL: the generated environment gradient, sphere
                        mapped, lit with a specular highlight
  textures/METALENV.tga the environment gradient (sky, horizon, ground)
  script.txt            the 3DSCENE instance, a SOUNDSYNCER on the demo's
                        shared beat threshold, BEATFORWARD 0.5, an 8 s loop

World units are grid units (the field draws with the identity world
matrix). Every track loops in 8 s: each frequency is a whole number of
turns per loop. The cache (data/scenesbin/) is made by the first load and
is not kept in git.

Usage: tools/make_metaball_demo.py [--balls N] [OUTPUT_DATA_FOLDER]
  (default effects/metaballs/data; --balls N, 1..64, writes N balls instead
  of twelve: the benchmark's variants of the scene. Balls past the twelfth
  get seeded tracks of the same kind.)
"""
import math
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import demo_scene_parts as parts  # noqa: E402
from make_demo_scene import camera_rotation, light_rotation, write_tga  # noqa: E402

FRAME_RATE = parts.FRAME_RATE
LOOP_SECONDS = 8
CENTRE = (32.0, 32.0, 32.0)
BALLS = 12
real, reals, ints, string = parts.real, parts.reals, parts.ints, parts.string

# Per ball: (turns per loop, phase) on x, y and z, and the amplitude. The
# amplitudes (at most 16.2) keep every ball well inside 12..52; the
# mixed frequencies gather the balls into three to eight blobs that keep
# merging and parting.
LISSAJOUS = [
    ((1, 0.0), (2, 0.3), (1, 1.1), 13.6),
    ((2, 1.7), (1, 0.0), (3, 0.4), 12.8),
    ((1, 3.1), (3, 2.2), (2, 0.9), 14.4),
    ((3, 0.5), (1, 4.0), (1, 2.6), 11.0),
    ((2, 2.9), (2, 1.2), (1, 4.4), 15.3),
    ((1, 5.0), (1, 2.5), (2, 3.3), 10.2),
    ((3, 1.4), (2, 5.1), (1, 0.2), 11.9),
    ((1, 2.2), (3, 3.6), (3, 5.5), 13.6),
    ((2, 4.6), (1, 1.9), (2, 2.1), 16.2),
    ((1, 0.8), (2, 4.8), (3, 3.9), 9.4),
    ((3, 3.8), (1, 0.7), (2, 5.9), 12.8),
    ((2, 0.1), (3, 5.6), (1, 1.6), 14.4),
]


def lissajous(k):
    if k < len(LISSAJOUS):
        return LISSAJOUS[k]
    rng = random.Random(1000 + k)
    return tuple((rng.randint(1, 3), rng.uniform(0.0, 2 * math.pi)) for _ in range(3)) + (rng.uniform(8.0, 18.0),)


def ball_position(k, t):
    """Ball k at time t (seconds, any: the tracks loop)."""
    axes, amplitude = lissajous(k)[:3], lissajous(k)[3]
    return tuple(CENTRE[i] + amplitude * math.sin(2 * math.pi * axes[i][0] * t / LOOP_SECONDS + axes[i][1])
                 for i in range(3))


def camera_eye(t):
    """One turn round the centre per loop, rising and sinking twice."""
    a = 2 * math.pi * t / LOOP_SECONDS
    return (CENTRE[0] + 52.0 * math.sin(a), CENTRE[1] + 12.0 * math.sin(2 * a), CENTRE[2] - 52.0 * math.cos(a))


def tiny_mesh(mesh_id, name, position):
    """A placeholder: one tiny triangle carrying the material."""
    out = "<MESH>\n" + ints("ID", [mesh_id]) + string("NAME", name)
    out += reals("POSITION", position) + reals("ROTATION", (0, 0, 0, 1))
    out += reals("PIVOTPOSITION", [0, 0, 0]) + reals("PIVOTROTATION", [0, 0, 0, 1])
    out += "<MAXMESH>\n" + reals("VERTICES", [0, 0, 0, 0.01, 0, 0, 0, 0.01, 0])
    out += "<UVVERTICES> </UVVERTICES>\n<COLORVERTICES> </COLORVERTICES>\n"
    out += "<FACES>\n" + ints("VERTICESINDICES", [0, 1, 2]) + ints("SMOOTHINGGROUP", [1])
    out += ints("MATERIALINDICES", [1]) + "</FACES>\n</MAXMESH>\n</MESH>\n"
    return out


def scene_text(balls):
    steps = LOOP_SECONDS * FRAME_RATE
    out = "<SCENE>\n<SCENEINFO>\n" + ints("FRAMERATE", [FRAME_RATE]) + reals("AMBIENT", (0.3, 0.3, 0.35))
    out += "</SCENEINFO>\n"
    out += ("<MATERIAL>\n" + ints("ID", [1]) + string("NAME", "METAL") + ints("DIFFUSETEXTUREID", [-1]) +
            ints("REFLECTIONTEXTUREID", [-1]) + reals("DIFFUSECOLOR", (0.8, 0.8, 0.85)) + "</MATERIAL>\n")
    for k in range(balls):
        mesh_id = 100 + k
        out += tiny_mesh(mesh_id, "@METABALL%02d" % (k + 1), ball_position(k, 0.0))
        out += parts.controller(mesh_id, [(ball_position(k, LOOP_SECONDS * i / steps), (0, 0, 0, 1))
                                          for i in range(steps + 1)])
    # A white light from above and a coloured one beside the balls.
    out += ("<LIGHT>\n" + ints("ID", [40]) + string("TYPE", "DIRECTIONAL") + reals("POSITION", (32, 80, 32)) +
            reals("ROTATION", light_rotation((0.3, -1.0, 0.5))) + reals("COLOR", (1.0, 1.0, 1.0)) +
            "</LIGHT>\n")
    out += ("<LIGHT>\n" + ints("ID", [41]) + string("TYPE", "OMNI") + reals("POSITION", (6.0, 40.0, 10.0)) +
            reals("ROTATION", (0, 0, 0, 1)) + reals("COLOR", (1.0, 0.35, 0.6)) + reals("MULTIPLIER", [1.0]) +
            "</LIGHT>\n")
    eye = camera_eye(0.0)
    out += ("<CAMERA>\n" + ints("ID", [50]) + string("NAME", "Camera01") + reals("POSITION", eye) +
            reals("ROTATION", camera_rotation(eye, CENTRE)) + reals("FOV", [60.0]) + reals("NEAR", [1.0]) +
            reals("FAR", [1000.0]) + "</CAMERA>\n")
    samples = []
    for i in range(steps + 1):
        eye = camera_eye(LOOP_SECONDS * i / steps)
        samples.append((eye, camera_rotation(eye, CENTRE)))
    out += parts.controller(50, samples)
    out += "</SCENE>\n"
    return out


SHADERS = """\
<SHADER>
\t<NAME> "METAL" </NAME>
\t<PASS>
\t\t<TEXTURE> "METALENV" </TEXTURE>
\t\t<TEXGEN> <TYPE> "TG_SPHEREREFLECTION" </TYPE> </TEXGEN>
\t\t<LIGHTING>
\t\t\t<AMBIENT> 1.0 1.0 1.0 </AMBIENT>
\t\t\t<DIFFUSE> 0.9 0.9 0.95 </DIFFUSE>
\t\t\t<SPECULAR> 1.0 1.0 1.0 </SPECULAR>
\t\t\t<POWER> 24.0 </POWER>
\t\t</LIGHTING>
\t\t<CULL> "CULL_CCW" </CULL>
\t</PASS>
</SHADER>
"""


def environment(u, v):
    """A sphere map of a sky over a horizon over dark ground: v runs from
    the top of the reflected world (0) to its bottom (1)."""
    d = min(1.0, math.hypot(u - 0.5, v - 0.5) * 2)
    y = 0.5 - v  # up in the reflection
    if y > 0:
        k = min(1.0, y * 2.2)
        r, g, b = 230 - 150 * k, 225 - 100 * k, 215 + 35 * k
    else:
        k = min(1.0, -y * 2.5)
        r, g, b = 200 - 160 * k, 150 - 120 * k, 110 - 80 * k
    rim = 0.6 + 0.4 * (1 - d * d)  # the grazing rim darker
    return (r * rim, g * rim, b * rim, 255)


SCRIPT = """\
// METABALLS: twelve balls of one shared metal surface drifting on looping
// tracks through the middle of the grid, merging and parting, under a
// white and a coloured light while the camera circles them. Every
// sound-syncer beat (the demo's shared threshold: the bins up to 215 Hz
// louder than 0.4) jumps the animation 0.5 s on. Loops every 8 s.
FXINSTANCE SYNC SOUNDSYNCER
FXINSTANCE SCENE 3DSCENE METABALLS.TXT

FXSTART SYNC
FXLAYER SYNC 0
FXCOMMAND SYNC SETINPUT SYNC
FXCOMMAND SYNC BEATTHRESHOLD 0.01 0.4

FXSTART SCENE
FXLAYER SCENE 0
FXCOMMAND SCENE BEATFORWARD 0.5

SYNCTIME 8
"""


def main():
    args = sys.argv[1:]
    balls = BALLS
    if len(args) >= 2 and args[0] == "--balls":
        balls = int(args[1])
        args = args[2:]
        if not 1 <= balls <= 64:
            sys.exit("--balls takes 1..64")
    data = args[0] if args else os.path.join(HERE, "..", "effects", "metaballs", "data")
    for folder in ("scenes", "shaders", "textures"):
        os.makedirs(os.path.join(data, folder), exist_ok=True)
    for k in range(balls):
        for i in range(LOOP_SECONDS * FRAME_RATE + 1):
            p = ball_position(k, i / FRAME_RATE)
            if not all(12.0 <= c <= 52.0 for c in p):
                sys.exit("ball %d leaves 12..52 at %s" % (k + 1, p))
    with open(os.path.join(data, "scenes", "metaballs.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(scene_text(balls))
    with open(os.path.join(data, "shaders", "metal.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(SHADERS)
    write_tga(os.path.join(data, "textures", "METALENV.tga"), 128, environment)
    with open(os.path.join(data, "script.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(SCRIPT)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the PROCEDURAL demo effect: effects/procedural/data/.

  scenes/procedural.txt  the scene text: two cameras on 8 s looping tracks,
                         a directional and a point light, and one tiny
                         placeholder mesh per procedural kind (a fountain
                         @PARTICLE01 on a swaying track, a spark cloud
                         @PARTICLE02, @SPHERICAL01, @DISTORTBALL01,
                         @BOLASYNC01, @SPIKETUBE01, @TRAUMA01)
  shaders/procedural.txt an additive particle material per system, lit
                         textured materials for the surfaces and the
                         two-pass TRAUMA the trauma tube looks up by name
  textures/*.tga         procedural textures, and traumaheight.tga (32 x 64,
                         32 bits) whose grey shapes the trauma tube
  script.txt             a 3DSCENE instance with both systems' parameters,
                         the camera switched at 4 s of the 8 s loop, and a
                         SOUNDSYNCER for the bola sync and the shared beat

The objects are laid out in a 3 x 3 grid facing the cameras so that each
one keeps its own part of the picture from both cameras at every moment of
the loop: the generator projects each object's extent through both camera
tracks (the engine's projection: horizontal field of view, aspect 0.75)
and refuses to write a layout where two of them meet. The placeholders
themselves are never drawn; what shows is what the kinds generate.

Everything is generated and written byte for byte; no outside content.

Usage: tools/make_procedural_demo.py [OUTPUT_DATA_FOLDER] [--regions]
       (default effects/procedural/data; --regions prints each object's
       screen rectangle in the 640 x 480 frame per camera)
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import demo_scene_parts as parts  # noqa: E402
from make_demo_scene import camera_rotation, light_rotation, norm, sub, cross  # noqa: E402

FRAME_RATE = parts.FRAME_RATE
real, reals, ints, string = parts.real, parts.reals, parts.ints, parts.string

LOOP = 8.0          # the script's loop, seconds
SWITCH = 4.0        # the second camera from here on
FOV = 70.0          # horizontal, degrees
ASPECT = 0.75       # the engine's fixed height / width

# Where each object stands (world units; the cameras look along +z).
SPHERICAL = (-120.0, 78.0, 0.0)
DISTORTBALL = (0.0, 80.0, 0.0)
BOLASYNC = (120.0, 78.0, 0.0)
FOUNTAIN = (-118.0, -45.0, 0.0)
SPARKS = (120.0, -42.0, 0.0)
TRAUMA = (0.0, 0.0, 60.0)       # its tube runs 400 units along +z from here
SPIKETUBE = (0.0, -120.0, 0.0)  # endless along x

# PARTICLEPARAMS: size, lifetime, particles per second, vx, vy, vz, ax, ay,
# az, disc. vz is the speed along the emitter's local y, vx and vy spread
# it sideways (the default vz of 0 would leave every particle still).
FOUNTAIN_PARAMS = (4.0, 2.0, 120.0, 0.3, 0.3, 56.0, 0.0, -28.0, 0.0, 4.0)
SPARK_PARAMS = (3.0, 3.0, 90.0, 0.8, 0.8, 7.0, 0.0, 2.0, 0.0, 36.0)


# ---------------------------------------------------------------------------
# Tracks.
# ---------------------------------------------------------------------------
def quat_z(angle):
    return (0.0, 0.0, math.sin(angle / 2), math.cos(angle / 2))


def fountain_pose(t):
    """The fountain sways left and right once every 4 s."""
    a = 2 * math.pi * t / 4.0
    x, y, z = FOUNTAIN
    return (x + 8.0 * math.sin(a), y, z), quat_z(0.2 * math.sin(a))


def camera_eye(camera, t):
    a = 2 * math.pi * t / LOOP
    if camera == 0:  # in front, drifting sideways and bobbing
        return (30.0 * math.sin(a), 8.0 + 6.0 * math.sin(2 * a), -300.0 + 12.0 * math.cos(a))
    # lower and to the left, closing in and backing off
    return (-45.0 + 15.0 * math.cos(a), -25.0 + 8.0 * math.sin(a), -290.0 + 20.0 * math.sin(a))


CAMERA_TARGET = ((0.0, -4.0, 0.0), (5.0, 0.0, 0.0))


def track_samples(pose, seconds):
    steps = int(round(seconds * FRAME_RATE))
    return [pose(seconds * i / steps) for i in range(steps + 1)]


# ---------------------------------------------------------------------------
# The scene.
# ---------------------------------------------------------------------------
MATERIALS = ["PARTICLEFIRE", "PARTICLESPARK", "SPHERESKIN", "BALLSKIN", "BOLASKIN", "SPIKESKIN", "TRAUMA"]


def scene_text():
    out = "<SCENE>\n<SCENEINFO>\n" + ints("FRAMERATE", [FRAME_RATE]) + reals("AMBIENT", (0.18, 0.18, 0.22))
    out += "</SCENEINFO>\n"
    for i, name in enumerate(MATERIALS):
        out += ("<MATERIAL>\n" + ints("ID", [i + 1]) + string("NAME", name) + ints("DIFFUSETEXTUREID", [-1]) +
                ints("REFLECTIONTEXTUREID", [-1]) + reals("DIFFUSECOLOR", (1.0, 1.0, 1.0)) + "</MATERIAL>\n")
    corners, faces = parts.box(0.5)
    placeholders = [("@PARTICLE01", FOUNTAIN, "PARTICLEFIRE"), ("@PARTICLE02", SPARKS, "PARTICLESPARK"),
                    ("@SPHERICAL01", SPHERICAL, "SPHERESKIN"), ("@DISTORTBALL01", DISTORTBALL, "BALLSKIN"),
                    ("@BOLASYNC01", BOLASYNC, "BOLASKIN"), ("@SPIKETUBE01", SPIKETUBE, "SPIKESKIN"),
                    ("@TRAUMA01", TRAUMA, "TRAUMA")]
    for i, (name, position, material) in enumerate(placeholders):
        out += parts.mesh(i + 1, name, position, corners, faces, MATERIALS.index(material) + 1)
    out += parts.controller(1, track_samples(fountain_pose, 4.0))

    # A directional light from above left and in front, a warm point light
    # in front of the top row.
    out += ("<LIGHT>\n" + ints("ID", [20]) + string("TYPE", "DIRECTIONAL") + reals("POSITION", (0, 200, -200)) +
            reals("ROTATION", light_rotation((0.5, -0.6, 1.0))) + reals("COLOR", (0.75, 0.78, 0.85)) +
            "</LIGHT>\n")
    out += ("<LIGHT>\n" + ints("ID", [21]) + string("TYPE", "OMNI") + reals("POSITION", (0.0, 60.0, -120.0)) +
            reals("ROTATION", (0, 0, 0, 1)) + reals("COLOR", (0.9, 0.7, 0.5)) + "</LIGHT>\n")

    for camera in (0, 1):
        camera_id = 30 + camera
        eye = camera_eye(camera, 0.0)
        out += ("<CAMERA>\n" + ints("ID", [camera_id]) + string("NAME", "Camera%02d" % (camera + 1)) +
                reals("POSITION", eye) + reals("ROTATION", camera_rotation(eye, CAMERA_TARGET[camera])) +
                reals("FOV", [FOV]) + reals("NEAR", [2.0]) + reals("FAR", [2000.0]) + "</CAMERA>\n")

        def pose(t, camera=camera):
            e = camera_eye(camera, t)
            return e, camera_rotation(e, CAMERA_TARGET[camera])
        out += parts.controller(camera_id, track_samples(pose, LOOP))
    out += "</SCENE>\n"
    return out


# ---------------------------------------------------------------------------
# Materials.
# ---------------------------------------------------------------------------
def pass_(body):
    return "\t<PASS>\n" + "".join("\t\t" + line + "\n" for line in body) + "\t</PASS>\n"


def shader(name, passes, priority=None):
    head = "<SHADER>\n\t<NAME> \"%s\" </NAME>\n" % name
    if priority:
        head += "\t<PRIORITY> \"%s\" </PRIORITY>\n" % priority
    return head + "".join(passes) + "</SHADER>\n"


def materials():
    additive = ['<BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>', '<CULL> "CULL_NONE" </CULL>',
                "<NOZWRITE> </NOZWRITE>"]
    out = shader("PARTICLEFIRE", [pass_(['<TEXTURE> "PARTFIRE" </TEXTURE>'] + additive)], "PR_ADDITIVE")
    out += shader("PARTICLESPARK", [pass_(['<TEXTURE> "PARTSPARK" </TEXTURE>'] + additive)], "PR_ADDITIVE")
    # Lit and textured; both sides drawn, the surfaces are closed anyway.
    lit = ("<LIGHTING> <AMBIENT> 1.0 1.0 1.0 </AMBIENT> <DIFFUSE> 1.0 1.0 1.0 </DIFFUSE> "
           "<SPECULAR> 0.0 0.0 0.0 </SPECULAR> <POWER> 0.0 </POWER> </LIGHTING>")
    for name, texture in (("SPHERESKIN", "SKINSPHERE"), ("BALLSKIN", "SKINBALL"), ("BOLASKIN", "SKINBOLA"),
                          ("SPIKESKIN", "SKINSPIKE")):
        out += shader(name, [pass_(['<TEXTURE> "%s" </TEXTURE>' % texture, lit, '<CULL> "CULL_NONE" </CULL>'])])
    # The trauma tube: pass 0 its bands on the first coordinate pair, pass 1
    # a glow added on the second.
    out += shader("TRAUMA", [pass_(['<TEXTURE> "TRAUMABANDS" </TEXTURE>', '<CULL> "CULL_NONE" </CULL>']),
                             pass_(['<TEXTURE> "TRAUMAGLOW" </TEXTURE>', '<CULL> "CULL_NONE" </CULL>',
                                    '<BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>',
                                    "<NOZWRITE> </NOZWRITE>"])])
    return out


# ---------------------------------------------------------------------------
# Textures: uncompressed 32-bit TGAs, bottom-up rows.
# ---------------------------------------------------------------------------
def clamp8(v):
    v = int(v + 0.5)
    return 0 if v < 0 else (255 if v > 255 else v)


def write_tga(path, width, height, colour):
    """colour(u, v) -> (r, g, b, a) with v = 0 at the top."""
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 32, 8)
    body = bytearray()
    for y in reversed(range(height)):
        for x in range(width):
            r, g, b, a = colour(x / width, y / height)
            body += bytes((clamp8(b), clamp8(g), clamp8(r), clamp8(a)))
    with open(path, "wb") as f:
        f.write(header + bytes(body))


def textures():
    def dot(tint):
        def colour(u, v):
            d = min(1.0, math.hypot(u + 1 / 64 - 0.5, v + 1 / 64 - 0.5) * 2)
            k = (1 - d) ** 1.5
            return (tint[0] * k, tint[1] * k, tint[2] * k, 255 * k)
        return colour

    def bands(a, b, count):
        def colour(u, v):
            s = 0.5 + 0.5 * math.sin(2 * math.pi * (count * v + 0.5 * math.sin(2 * math.pi * u)))
            return tuple(a[i] + (b[i] - a[i]) * s for i in range(3)) + (255,)
        return colour

    def checker(u, v):
        c = (int(u * 8) + int(v * 8)) % 2
        return (240, 150, 60, 255) if c else (200, 60, 150, 255)

    def spike(u, v):
        k = 0.6 + 0.4 * math.sin(2 * math.pi * 6 * u) ** 2
        return (150 * k + 60, 170 * k + 60, 190 * k + 60, 255)

    def trauma_bands(u, v):
        s = 0.5 + 0.5 * math.sin(2 * math.pi * (2 * u + 3 * v))
        return (90 + 165 * s, 40 + 80 * (1 - s), 160 + 95 * (1 - s), 255)

    def trauma_glow(u, v):
        k = max(0.0, math.sin(2 * math.pi * 4 * v)) ** 4
        return (40 * k, 150 * k, 200 * k, 255)

    return {"PARTFIRE": (32, 32, dot((255, 170, 70))), "PARTSPARK": (32, 32, dot((120, 190, 255))),
            "SKINSPHERE": (64, 64, bands((30, 160, 170), (220, 240, 250), 4)), "SKINBALL": (64, 64, checker),
            "SKINBOLA": (64, 64, bands((40, 180, 60), (230, 250, 120), 6)), "SKINSPIKE": (64, 64, spike),
            "TRAUMABANDS": (64, 64, trauma_bands), "TRAUMAGLOW": (64, 64, trauma_glow)}


def trauma_height(u, v):
    """The tube's height image: rings along the tube (v) crossed with four
    bumps round it (u); every channel the same grey."""
    h = 0.5 + 0.3 * math.sin(2 * math.pi * 3 * v) + 0.2 * math.cos(2 * math.pi * 4 * u)
    g = 255 * max(0.0, min(1.0, h))
    return (g, g, g, 255)


# ---------------------------------------------------------------------------
# The screen check.
# ---------------------------------------------------------------------------
def dot3(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def project(camera, t, point):
    """Pixel (x, y) of `point` in the 640 x 480 frame, or None behind."""
    eye = camera_eye(camera, t)
    f = norm(sub(CAMERA_TARGET[camera], eye))
    r = norm(cross((0.0, 1.0, 0.0), f))
    u = cross(f, r)
    d = sub(point, eye)
    z = dot3(d, f)
    if z <= 1.0:
        return None
    c = 1.0 / math.tan(math.radians(FOV) / 2)
    x_ndc, y_ndc = dot3(d, r) * c / z, dot3(d, u) * c / ASPECT / z
    return (320.0 * (1 + x_ndc), 240.0 * (1 - y_ndc))


def sphere_points(centre, radius):
    out = []
    for i in range(9):
        phi = math.pi * i / 8
        for j in range(16):
            th = 2 * math.pi * j / 16
            out.append((centre[0] + radius * math.sin(phi) * math.cos(th), centre[1] + radius * math.cos(phi),
                        centre[2] + radius * math.sin(phi) * math.sin(th)))
    return out


def particle_points(params, pose, t):
    """Where the extreme particles of a system can be at animation time t."""
    size, lifetime, _, vx, vy, vz, ax, ay, az, disc = params
    out = []
    for age in [lifetime * i / 8 for i in range(9)]:
        position, q = pose(t - age)
        x, y, z, w = q
        # M(q) rows (row-vector convention), v' = M(q)·v.
        m = [[1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)],
             [2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)],
             [2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)]]

        def turn(v):
            return tuple(dot3(m[i], v) for i in range(3))
        for r1 in (0.0, 1.0):
            for r2 in (0.0, 1.0):
                for r3 in (0.0, 1.0):
                    for r4 in (0.0, 1.0):
                        vel = turn(((r2 - 0.5) * vz * vy, vz, (r1 - 0.5) * vz * vx))
                        ex, ey = turn((1, 0, 0)), turn((0, 1, 0))
                        start = tuple(position[i] + (r3 - 0.5) * disc * ex[i] + (r4 - 0.5) * disc * ey[i]
                                      for i in range(3))
                        at = tuple(start[i] + vel[i] * age + (ax, ay, az)[i] * age * age for i in range(3))
                        for dx in (-size / 2, size / 2):
                            for dy in (-size / 2, size / 2):
                                out.append((at[0] + dx, at[1] + dy, at[2]))
    return out


def object_points(name, t):
    if name == "@SPHERICAL01":
        return sphere_points(SPHERICAL, 30.0)
    if name == "@DISTORTBALL01":
        return sphere_points(DISTORTBALL, 27.0)  # 0.35 × 30 × 1.25 × 2 at most, rarely near
    if name == "@BOLASYNC01":
        return sphere_points(BOLASYNC, 30.0)     # 15 × (1.5 v + 0.8) for band maxima v up to 0.7
    if name == "@PARTICLE01":
        return particle_points(FOUNTAIN_PARAMS, fountain_pose, t)
    if name == "@PARTICLE02":
        return particle_points(SPARK_PARAMS, lambda _t: (SPARKS, (0.0, 0.0, 0.0, 1.0)), t)
    if name == "@TRAUMA01":
        return [(TRAUMA[0] + 40 * math.cos(a), TRAUMA[1] + 40 * math.sin(a), TRAUMA[2] + z)
                for z in range(0, 401, 20) for a in [2 * math.pi * k / 24 for k in range(24)]]
    raise KeyError(name)


OBJECTS = ["@SPHERICAL01", "@DISTORTBALL01", "@BOLASYNC01", "@PARTICLE01", "@TRAUMA01", "@PARTICLE02"]


def regions(camera, times):
    """Per object the pixel rectangle (x0, y0, x1, y1) it covers over `times`."""
    out = {}
    for name in OBJECTS:
        xs, ys = [], []
        for t in times:
            for p in object_points(name, t):
                s = project(camera, t, p)
                if s:
                    xs.append(s[0])
                    ys.append(s[1])
        out[name] = (min(xs), min(ys), max(xs), max(ys))
    return out


def spike_band(camera, times):
    """The highest pixel row the spike tube (radius at most 18 with its
    spikes) reaches in the middle of the frame."""
    top = 480.0
    for t in times:
        for x in range(-100, 101, 20):
            for a in range(16):
                p = (x, SPIKETUBE[1] + 18.0 * math.cos(2 * math.pi * a / 16), 18.0 * math.sin(2 * math.pi * a / 16))
                s = project(camera, t, p)
                if s:
                    top = min(top, s[1])
    return top


def check_layout(verbose):
    steps = 32
    spans = [(0, [SWITCH * i / steps for i in range(steps + 1)]),
             (1, [SWITCH + (LOOP - SWITCH) * i / steps for i in range(steps + 1)])]
    problems = []
    for camera, times in spans:
        rects = regions(camera, times)
        band = spike_band(camera, times)
        for name, (x0, y0, x1, y1) in rects.items():
            if verbose:
                print("Camera%02d %-15s x %4.0f..%4.0f  y %4.0f..%4.0f" % (camera + 1, name, x0, x1, y0, y1))
            if x0 < 0 or y0 < 0 or x1 > 640 or y1 > 480:
                problems.append("Camera%02d: %s leaves the frame" % (camera + 1, name))
            if y1 > band:
                problems.append("Camera%02d: %s meets the spike tube" % (camera + 1, name))
        if verbose:
            print("Camera%02d @SPIKETUBE01     from y %4.0f down" % (camera + 1, band))
        names = list(rects)
        for i, a in enumerate(names):
            for b in names[i + 1:]:
                ra, rb = rects[a], rects[b]
                if ra[0] < rb[2] and rb[0] < ra[2] and ra[1] < rb[3] and rb[1] < ra[3]:
                    problems.append("Camera%02d: %s and %s meet" % (camera + 1, a, b))
    return problems


# ---------------------------------------------------------------------------
# The script.
# ---------------------------------------------------------------------------
def script_text():
    fountain = " ".join(real(v) for v in FOUNTAIN_PARAMS)
    sparks = " ".join(real(v) for v in SPARK_PARAMS)
    return f"""\
// PROCEDURAL: every kind of procedural scene object at once, each in its
// own part of the picture: a spherical morph, a distort ball and a bola
// sync (it follows the sound) along the top, a swaying fountain, the
// trauma tube and a cloud of rising sparks in the middle, an endless
// spike tube along the bottom. The scene is data/scenes/procedural.txt,
// written by tools/make_procedural_demo.py; the second camera takes over
// at 4 s of the 8 s loop. The sound-syncer threshold is the demo's shared
// one (the bins up to 215 Hz louder than 0.4).
FXINSTANCE SYNC SOUNDSYNCER
FXINSTANCE SCENE 3DSCENE PROCEDURAL.TXT

FXSTART SYNC
FXLAYER SYNC 0
FXCOMMAND SYNC SETINPUT SYNC
FXCOMMAND SYNC BEATTHRESHOLD 0.01 0.4

FXSTART SCENE
FXLAYER SCENE 0
FXCOMMAND SCENE CAMERA CAMERA01
// size lifetime per-second vx vy vz ax ay az disc
FXCOMMAND SCENE PARTICLEPARAMS @PARTICLE01 {fountain}
FXCOMMAND SCENE PARTICLEPARAMS @PARTICLE02 {sparks}

SYNCTIME {real(SWITCH)}
FXCOMMAND SCENE CAMERA CAMERA02

SYNCTIME {real(LOOP)}
"""


def main():
    args = [a for a in sys.argv[1:] if a != "--regions"]
    verbose = "--regions" in sys.argv[1:]
    problems = check_layout(verbose)
    if problems:
        sys.exit("the layout does not keep the objects apart:\n  " + "\n  ".join(problems))
    data = args[0] if args else os.path.join(HERE, "..", "effects", "procedural", "data")
    for folder in ("scenes", "shaders", "textures"):
        os.makedirs(os.path.join(data, folder), exist_ok=True)
    with open(os.path.join(data, "scenes", "procedural.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(scene_text())
    with open(os.path.join(data, "shaders", "procedural.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(materials())
    for name, (width, height, colour) in textures().items():
        write_tga(os.path.join(data, "textures", name + ".tga"), width, height, colour)
    write_tga(os.path.join(data, "textures", "traumaheight.tga"), 32, 64, trauma_height)
    with open(os.path.join(data, "script.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(script_text())


if __name__ == "__main__":
    main()

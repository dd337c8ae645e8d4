#!/usr/bin/env python3
"""Animated pieces for the bundled demo scenes, in the scene text format.

The demo room's generator imports this module and adds `orbit_parts()` (and
the materials of `orbit_materials()`) to its scene:

  * a spinning hub with three moons as its children: they orbit because
    their parent turns, and the loop closes exactly (no drift however long
    it plays);
  * a point light carried round the room on a track;
  * a ribbon skinned on two bones, the second swinging, so the ribbon bends.

Run on its own it writes a small complete scene with a camera:

    python3 tools/demo_scene_parts.py data/scenes/orbit_parts.txt

Everything is generated; no outside content. Reals are written with a point,
ints without, strings quoted, as the scene text format wants.
"""

import math
import sys

FRAME_RATE = 30


def real(value):
    text = f"{value:.6f}".rstrip("0")
    return text + "0" if text.endswith(".") else text


def reals(key, values):
    return f"<{key}> " + " ".join(real(v) for v in values) + f" </{key}>\n"


def ints(key, values):
    return f"<{key}> " + " ".join(str(int(v)) for v in values) + f" </{key}>\n"


def string(key, value):
    return f'<{key}> "{value}" </{key}>\n'


def quat_y(angle):
    """x y z w (text order) of a turn about +Y."""
    return [0.0, math.sin(angle / 2), 0.0, math.cos(angle / 2)]


def quat_x(angle):
    return [math.sin(angle / 2), 0.0, 0.0, math.cos(angle / 2)]


def mesh(mesh_id, name, position, vertices, faces, material, parent=0, rotation=(0, 0, 0, 1), skin=None):
    """One MESH element. `skin`: per vertex a list of (bone id, weight, offset)."""
    out = "<MESH>\n" + ints("ID", [mesh_id]) + string("NAME", name)
    out += reals("POSITION", position) + reals("ROTATION", rotation)
    out += reals("PIVOTPOSITION", [0, 0, 0]) + reals("PIVOTROTATION", [0, 0, 0, 1])
    if parent:
        out += ints("PARENTID", [parent])
    out += "<MAXMESH>\n"
    if skin is not None:
        out += "<SKIN>\n<VERTICES>\n"
        for influences in skin:
            out += "<V>\n"
            for bone, weight, offset in influences:
                out += "<I>\n" + ints("MAXID", [bone]) + reals("WEIGHT", [weight]) + reals("OFFSET", offset) + "</I>\n"
            out += "</V>\n"
        out += "</VERTICES>\n</SKIN>\n"
    else:
        out += reals("VERTICES", [c for v in vertices for c in v])
    out += "<UVVERTICES> </UVVERTICES>\n<COLORVERTICES> </COLORVERTICES>\n"
    out += "<FACES>\n" + ints("VERTICESINDICES", [i for f in faces for i in f])
    out += ints("SMOOTHINGGROUP", [1] * len(faces)) + ints("MATERIALINDICES", [material] * len(faces))
    out += "</FACES>\n</MAXMESH>\n</MESH>\n"
    return out


def box(size):
    s = size / 2
    corners = [(x, y, z) for z in (-s, s) for y in (-s, s) for x in (-s, s)]
    faces = [(0, 2, 1), (1, 2, 3), (4, 5, 6), (5, 7, 6), (0, 1, 4), (1, 5, 4),
             (2, 6, 3), (3, 6, 7), (0, 4, 2), (2, 4, 6), (1, 3, 5), (3, 7, 5)]
    return corners, faces


def controller(owner, samples):
    """A POSROT track: samples of (position, rotation x y z w)."""
    flat = [c for position, rotation in samples for c in list(position) + list(rotation)]
    return ("<CONTROLLER>\n" + string("TYPE", "POSROT") + ints("OWNERID", [owner]) +
            "<DATA>\n" + reals("SAMPLES", flat) + "</DATA>\n</CONTROLLER>\n")


def orbit_materials(first_id=500):
    """Three flat colours: hub, moons and ribbon (material IDs first_id..+2)."""
    out = ""
    for i, (name, colour) in enumerate([("OrbitHub", (0.9, 0.6, 0.2)), ("OrbitMoon", (0.3, 0.6, 0.95)),
                                        ("OrbitRibbon", (0.85, 0.2, 0.5))]):
        out += ("<MATERIAL>\n" + ints("ID", [first_id + i]) + string("NAME", name) +
                ints("DIFFUSETEXTUREID", [-1]) + ints("REFLECTIONTEXTUREID", [-1]) + reals("DIFFUSECOLOR", colour) +
                "</MATERIAL>\n")
    return out


def orbit_parts(first_id=500, material_id=500, origin=(0.0, 0.0, 0.0)):
    """Meshes, a light and tracks; IDs first_id .. first_id + 30."""
    ox, oy, oz = origin
    out = ""
    hub = first_id
    corners, faces = box(0.8)
    out += mesh(hub, "OrbitHub", (ox, oy + 1.0, oz), corners, faces, material_id)
    # One turn in 4 s: the last sample is the whole turn, the loop's end.
    steps = 4 * FRAME_RATE
    out += controller(hub, [((ox, oy + 1.0, oz), quat_y(2 * math.pi * i / steps)) for i in range(steps + 1)])
    moon, moon_faces = box(0.35)
    for k in range(3):
        a = 2 * math.pi * k / 3
        out += mesh(hub + 1 + k, f"OrbitMoon{k + 1}", (2.0 * math.cos(a), 0.3 * k, 2.0 * math.sin(a)), moon,
                    moon_faces, material_id + 1, parent=hub)

    # A point light round the room, once in 6 s.
    lamp = first_id + 10
    out += ("<LIGHT>\n" + ints("ID", [lamp]) + string("TYPE", "OMNI") + reals("POSITION", (ox + 3, oy + 2.5, oz)) +
            reals("ROTATION", (0, 0, 0, 1)) + reals("COLOR", (1.0, 0.9, 0.7)) + "</LIGHT>\n")
    steps = 6 * FRAME_RATE
    out += controller(lamp, [((ox + 3 * math.cos(2 * math.pi * i / steps), oy + 2.5,
                               oz + 3 * math.sin(2 * math.pi * i / steps)), (0, 0, 0, 1)) for i in range(steps + 1)])

    # A ribbon along +Z on two bones; bone B swings about X and back.
    bone_a, bone_b, ribbon = first_id + 20, first_id + 21, first_id + 22
    length, rows = 3.0, 24
    base = (ox - 3.0, oy + 0.5, oz)
    tiny = [(0, 0, 0), (0.01, 0, 0), (0, 0.01, 0)]
    out += mesh(bone_a, "*OrbitBoneA", base, tiny, [(0, 1, 2)], material_id + 2)
    out += mesh(bone_b, "*OrbitBoneB", (0.0, 0.0, length), tiny, [(0, 1, 2)], material_id + 2, parent=bone_a)
    steps = 3 * FRAME_RATE
    out += controller(bone_b, [((0.0, 0.8 * math.sin(2 * math.pi * i / steps), length),
                                quat_x(0.9 * math.sin(2 * math.pi * i / steps)))
                               for i in range(steps + 1)])
    skin, faces = [], []
    for r in range(rows + 1):
        z = length * r / rows
        w = r / rows
        for x in (-0.3, 0.3):
            # Offsets: the vertex in each bone's space at rest (bones unturned).
            skin.append([(bone_a, 1.0 - w, (x, 0.0, z)), (bone_b, w, (x, 0.0, z - length))])
    for r in range(rows):
        a = 2 * r
        faces += [(a, a + 2, a + 1), (a + 1, a + 2, a + 3)]
    out += mesh(ribbon, "OrbitRibbon", (0, 0, 0), None, faces, material_id + 2, skin=skin)
    return out


def standalone_scene():
    camera = ("<CAMERA>\n" + ints("ID", [1]) + string("NAME", "Camera01") + reals("POSITION", (0, 3, -9)) +
              reals("ROTATION", quat_x(-1.2)) + reals("FOV", [60.0]) + reals("NEAR", [0.5]) +
              reals("FAR", [1000.0]) + "</CAMERA>\n")
    return ("<SCENE>\n<SCENEINFO>\n" + ints("FRAMERATE", [FRAME_RATE]) + reals("AMBIENT", (0.15, 0.15, 0.2)) +
            "</SCENEINFO>\n" + orbit_materials() + orbit_parts() + camera + "</SCENE>\n")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: demo_scene_parts.py OUT.txt")
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as f:
        f.write(standalone_scene())

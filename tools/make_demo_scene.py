#!/usr/bin/env python3
"""Writes the demo room of the 3D scene engine: effects/orbit/data/.

  scenes/room.txt      the scene text: a small room with a shadowed floor, a
                       wall mirror, three shadow casters (one cube-mapped), a
                       beam object, a point and a directional light, two
                       cameras on looping tracks, and the animated pieces of
                       tools/demo_scene_parts.py (a spinning hub with moons,
                       a tracked point light, a ribbon skinned on two bones)
  shaders/room.txt     its materials, with STENCIL, BEAMOPAQUE and BEAMFLARE
  textures/*.tga       procedural textures (floor, walls, glow, flare, the six
                       faces of the cube map CMAP_ROOM)

Everything is generated and written byte for byte; the room stays under
5,000 triangles so that llvmpipe draws it at a useful rate. Front faces are
Direct3D's: clockwise, with (b - a) x (c - a) facing out (the normals the
converter makes), so the materials cull counter-clockwise faces.

The effect script that plays it (data/script.txt) is the 3D scene effect's.

Usage: tools/make_demo_scene.py [OUTPUT_DATA_FOLDER]   (default effects/orbit/data)
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import demo_scene_parts as parts  # noqa: E402
from demo_orbit_script import write_orbit_script  # noqa: E402

FRAME_RATE = parts.FRAME_RATE
real, reals, ints, string = parts.real, parts.reals, parts.ints, parts.string


# ---------------------------------------------------------------------------
# Vectors and quaternions (text order x y z w), as the engine reads them.
# ---------------------------------------------------------------------------
def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def norm(a):
    length = math.sqrt(a[0] ** 2 + a[1] ** 2 + a[2] ** 2)
    return (a[0] / length, a[1] / length, a[2] / length)


def quat_mul(a, b):
    """Hamilton product of (w, x, y, z) quaternions, a on the left."""
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return (aw * bw - ax * bx - ay * by - az * bz, aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx, aw * bz + ax * by - ay * bx + az * bw)


def quat_from_rows(rows):
    """The (w, x, y, z) quaternion whose row-vector matrix has these rows."""
    # The engine's matrix is the transpose of the column-vector rotation R.
    r = [[rows[j][i] for j in range(3)] for i in range(3)]
    trace = r[0][0] + r[1][1] + r[2][2]
    if trace > 0:
        s = math.sqrt(trace + 1.0) * 2
        return (0.25 * s, (r[2][1] - r[1][2]) / s, (r[0][2] - r[2][0]) / s, (r[1][0] - r[0][1]) / s)
    if r[0][0] > r[1][1] and r[0][0] > r[2][2]:
        s = math.sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]) * 2
        return ((r[2][1] - r[1][2]) / s, 0.25 * s, (r[0][1] + r[1][0]) / s, (r[0][2] + r[2][0]) / s)
    if r[1][1] > r[2][2]:
        s = math.sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]) * 2
        return ((r[0][2] - r[2][0]) / s, (r[0][1] + r[1][0]) / s, 0.25 * s, (r[1][2] + r[2][1]) / s)
    s = math.sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]) * 2
    return ((r[1][0] - r[0][1]) / s, (r[0][2] + r[2][0]) / s, (r[1][2] + r[2][1]) / s, 0.25 * s)


# The engine turns camera and directional-light rotations by +90 degrees
# about X; the file holds the rotation before that turn.
UNTURN = (math.cos(-math.pi / 4), math.sin(-math.pi / 4), 0.0, 0.0)


def text_quat(q):
    w, x, y, z = q
    return (x, y, z, w)


def camera_rotation(eye, target):
    f = norm(sub(target, eye))
    r = norm(cross((0.0, 1.0, 0.0), f))
    u = cross(f, r)
    return text_quat(quat_mul(quat_from_rows([r, u, f]), UNTURN))


def light_rotation(direction):
    """A directional light travelling along `direction`: the converter takes
    the negated first column of the turned rotation's matrix."""
    e0 = norm((-direction[0], -direction[1], -direction[2]))
    helper = (0.0, 0.0, 1.0) if abs(e0[2]) < 0.9 else (1.0, 0.0, 0.0)
    e1 = norm(cross(helper, e0))
    e2 = cross(e0, e1)
    # Columns e0, e1, e2 of the row-vector matrix: its rows are their
    # components.
    rows = [[e0[0], e1[0], e2[0]], [e0[1], e1[1], e2[1]], [e0[2], e1[2], e2[2]]]
    return text_quat(quat_mul(quat_from_rows(rows), UNTURN))


# ---------------------------------------------------------------------------
# Geometry: lists of vertices, uvs and faces (clockwise front faces).
# ---------------------------------------------------------------------------
class Geometry:
    def __init__(self):
        self.vertices, self.uvs, self.faces, self.uv_faces = [], [], [], []

    def quad(self, p0, e1, e2, n1=1, n2=1, uv_scale=1.0):
        """p0, p0 + e1, p0 + e1 + e2, p0 + e2 facing e1 x e2, cut n1 x n2."""
        base = len(self.vertices)
        for j in range(n2 + 1):
            for i in range(n1 + 1):
                a, b = i / n1, j / n2
                self.vertices.append(tuple(p0[k] + e1[k] * a + e2[k] * b for k in range(3)))
                self.uvs.append((a * uv_scale, b * uv_scale))
        for j in range(n2):
            for i in range(n1):
                v0 = base + j * (n1 + 1) + i
                v1, v2, v3 = v0 + 1, v0 + n1 + 2, v0 + n1 + 1
                self.faces += [(v0, v1, v2), (v0, v2, v3)]
                self.uv_faces += [(v0, v1, v2), (v0, v2, v3)]

    def box(self, c, h):
        x, y, z = c
        hx, hy, hz = h
        self.quad((x + hx, y - hy, z - hz), (0, 2 * hy, 0), (0, 0, 2 * hz))
        self.quad((x - hx, y - hy, z - hz), (0, 0, 2 * hz), (0, 2 * hy, 0))
        self.quad((x - hx, y + hy, z - hz), (0, 0, 2 * hz), (2 * hx, 0, 0))
        self.quad((x - hx, y - hy, z - hz), (2 * hx, 0, 0), (0, 0, 2 * hz))
        self.quad((x - hx, y - hy, z + hz), (2 * hx, 0, 0), (0, 2 * hy, 0))
        self.quad((x - hx, y - hy, z - hz), (0, 2 * hy, 0), (2 * hx, 0, 0))

    def sphere(self, radius, rings, segments):
        """Latitude rings; one vertex per pole."""
        base = len(self.vertices)
        self.vertices.append((0.0, radius, 0.0))
        self.uvs.append((0.5, 0.0))
        for r in range(1, rings):
            t = math.pi * r / rings
            for s in range(segments):
                p = 2 * math.pi * s / segments
                self.vertices.append((radius * math.sin(t) * math.cos(p), radius * math.cos(t),
                                      radius * math.sin(t) * math.sin(p)))
                self.uvs.append((s / segments, r / rings))
        self.vertices.append((0.0, -radius, 0.0))
        self.uvs.append((0.5, 1.0))
        last = len(self.vertices) - 1

        def ring(r, s):
            return base + 1 + (r - 1) * segments + s % segments

        faces = []
        for s in range(segments):
            faces.append((base, ring(1, s + 1), ring(1, s)))
            faces.append((last, ring(rings - 1, s), ring(rings - 1, s + 1)))
        for r in range(1, rings - 1):
            for s in range(segments):
                a, b, c, d = ring(r, s), ring(r, s + 1), ring(r + 1, s + 1), ring(r + 1, s)
                faces += [(a, b, c), (a, c, d)]
        self.faces += faces
        self.uv_faces += faces


def mesh(mesh_id, name, position, geometry, material, rotation=(0, 0, 0, 1)):
    out = "<MESH>\n" + ints("ID", [mesh_id]) + string("NAME", name)
    out += reals("POSITION", position) + reals("ROTATION", rotation)
    out += reals("PIVOTPOSITION", [0, 0, 0]) + reals("PIVOTROTATION", [0, 0, 0, 1])
    out += "<MAXMESH>\n" + reals("VERTICES", [c for v in geometry.vertices for c in v])
    out += reals("UVVERTICES", [c for uv in geometry.uvs for c in uv]) + "<COLORVERTICES> </COLORVERTICES>\n"
    out += "<FACES>\n" + ints("VERTICESINDICES", [i for f in geometry.faces for i in f])
    out += ints("TVERTICESINDICES", [i for f in geometry.uv_faces for i in f])
    out += ints("SMOOTHINGGROUP", [1] * len(geometry.faces))
    out += ints("MATERIALINDICES", [material] * len(geometry.faces))
    out += "</FACES>\n</MAXMESH>\n</MESH>\n"
    return out, len(geometry.faces)


def material(material_id, name, colour=(1.0, 1.0, 1.0)):
    """A material the script defines (its name wins over the fields)."""
    return ("<MATERIAL>\n" + ints("ID", [material_id]) + string("NAME", name) + ints("DIFFUSETEXTUREID", [-1]) +
            ints("REFLECTIONTEXTUREID", [-1]) + reals("DIFFUSECOLOR", colour) + "</MATERIAL>\n")


def posrot(owner, samples):
    return parts.controller(owner, samples)


def room_scene():
    out = "<SCENE>\n<SCENEINFO>\n" + ints("FRAMERATE", [FRAME_RATE]) + reals("AMBIENT", (0.12, 0.12, 0.15))
    out += "</SCENEINFO>\n"
    names = ["ROOM_FLOOR", "ROOM_WALL", "ROOM_MIRROR", "ROOM_STONE", "ROOM_CHROME", "ROOM_BEAM"]
    for i, name in enumerate(names):
        out += material(i + 1, name)
    out += parts.orbit_materials(first_id=500)
    triangles = 0

    def add(text_and_count):
        nonlocal out, triangles
        out += text_and_count[0]
        triangles += text_and_count[1]

    # The room: 12 x 12, walls 4 high, open towards -z where the cameras are.
    floor = Geometry()
    floor.quad((-6, 0, -6), (0, 0, 12), (12, 0, 0), 16, 16, uv_scale=4.0)
    add(mesh(1, "Floor", (0, 0, 0), floor, 1))
    walls = Geometry()
    walls.quad((-6, 0, 6), (0, 4, 0), (12, 0, 0), 4, 8, uv_scale=3.0)    # back, facing -z
    walls.quad((-6, 0, -6), (0, 4, 0), (0, 0, 12), 4, 8, uv_scale=3.0)    # left, facing +x
    walls.quad((6, 0, 6), (0, 4, 0), (0, 0, -12), 4, 8, uv_scale=3.0)     # right, facing -x
    add(mesh(2, "Walls", (0, 0, 0), walls, 2))
    # The wall mirror, a hair in front of the back wall.
    glass = Geometry()
    glass.quad((-2.5, 0.6, 5.97), (0, 2.6, 0), (5, 0, 0))
    add(mesh(3, "WallMirror", (0, 0, 0), glass, 3))
    # Three casters.
    block = Geometry()
    block.box((0, 0, 0), (0.6, 0.6, 0.6))
    add(mesh(4, "Block", (-2.5, 0.6, 1.5), block, 4, rotation=parts.quat_y(0.5)))
    pillar = Geometry()
    pillar.box((0, 0, 0), (0.3, 1.2, 0.3))
    add(mesh(5, "Pillar", (2.8, 1.2, 2.5), pillar, 4))
    ball = Geometry()
    ball.sphere(0.8, 12, 20)
    add(mesh(6, "ChromeBall", (1.5, 0.8, -0.5), ball, 5))
    # The beam object: a small lamp under the ceiling, swinging.
    lamp = Geometry()
    lamp.box((0, 0, 0), (0.25, 0.25, 0.25))
    add(mesh(7, "BeamLamp", (0, 3.4, 3.0), lamp, 6))
    steps = 4 * FRAME_RATE
    out += posrot(7, [((1.5 * math.sin(2 * math.pi * i / steps), 3.4, 3.0), parts.quat_y(2 * math.pi * i / steps))
                      for i in range(steps + 1)])

    # A point light and a directional one.
    out += ("<LIGHT>\n" + ints("ID", [20]) + string("TYPE", "OMNI") + reals("POSITION", (-1.0, 3.6, -1.0)) +
            reals("ROTATION", (0, 0, 0, 1)) + reals("COLOR", (0.9, 0.85, 0.8)) + reals("MULTIPLIER", [1.0]) +
            "</LIGHT>\n")
    out += ("<LIGHT>\n" + ints("ID", [21]) + string("TYPE", "DIRECTIONAL") + reals("POSITION", (0, 10, 0)) +
            reals("ROTATION", light_rotation((0.35, -1.0, 0.45))) + reals("COLOR", (0.35, 0.4, 0.5)) +
            "</LIGHT>\n")

    # Two cameras on looping tracks: one circles the room, one dollies.
    for camera_id, name in ((30, "Camera01"), (31, "Camera02")):
        out += ("<CAMERA>\n" + ints("ID", [camera_id]) + string("NAME", name) + reals("POSITION", (0, 2.5, -9)) +
                reals("ROTATION", camera_rotation((0, 2.5, -9), (0, 1, 0))) + reals("FOV", [70.0]) +
                reals("NEAR", [0.2]) + reals("FAR", [1000.0]) + "</CAMERA>\n")
    steps = 8 * FRAME_RATE
    samples = []
    for i in range(steps + 1):
        a = -math.pi / 2 + 0.6 * math.sin(2 * math.pi * i / steps)
        eye = (7.5 * math.cos(a), 3.0 + 0.5 * math.sin(4 * math.pi * i / steps), 7.5 * math.sin(a))
        samples.append((eye, camera_rotation(eye, (0, 1.0, 1.5))))
    out += posrot(30, samples)
    steps = 6 * FRAME_RATE
    samples = []
    for i in range(steps + 1):
        k = 0.5 - 0.5 * math.cos(2 * math.pi * i / steps)
        eye = (-3.0 + 6.0 * k, 1.6, -4.5 + 2.0 * k)
        samples.append((eye, camera_rotation(eye, (0.0, 1.4, 6.0))))
    out += posrot(31, samples)

    out += parts.orbit_parts(first_id=500, material_id=500, origin=(-0.5, 0.0, 3.5))
    out += "</SCENE>\n"
    return out, triangles


# ---------------------------------------------------------------------------
# Materials.
# ---------------------------------------------------------------------------
def pass_(body):
    return "\t<PASS>\n" + "".join("\t\t" + line + "\n" for line in body) + "\t</PASS>\n"


def shader(name, passes, keywords=()):
    return ("<SHADER>\n\t<NAME> \"%s\" </NAME>\n" % name + "".join("\t<%s> </%s>\n" % (k, k) for k in keywords) +
            "".join(passes) + "</SHADER>\n")


def materials():
    cull = '<CULL> "CULL_CCW" </CULL>'
    out = shader("ROOM_FLOOR", [pass_(['<TEXTURE> "ROOMFLOOR" </TEXTURE>', cull])], ["RECEIVESHADOWS"])
    out += shader("ROOM_WALL", [pass_(['<TEXTURE> "ROOMWALL" </TEXTURE>', cull])], ["RECEIVESHADOWS"])
    out += shader("ROOM_MIRROR", [pass_(['<TEXTURE> "ROOMWALL" </TEXTURE>', '<CULL> "CULL_NONE" </CULL>',
                                         "<MIRROR> </MIRROR>"])])
    out += shader("ROOM_STONE", [pass_(['<TEXTURE> "ROOMSTONE" </TEXTURE>', cull])], ["PROJECTSHADOWS"])
    out += shader("ROOM_CHROME", [pass_(['<TEXTURE> "CMAP_ROOM" </TEXTURE>',
                                         '<TEXGEN> <TYPE> "TG_CUBEREFLECTION" </TYPE> </TEXGEN>', cull])],
                  ["PROJECTSHADOWS"])
    out += shader("ROOM_BEAM", [pass_(['<TEXTURE> "ROOMGLOW" </TEXTURE>', cull])], ["PROJECTBEAMS"])
    # What the shadows and beams draw with.
    out += shader("STENCIL", [pass_(['<BLEND> <SRC> "BL_ZERO" </SRC> <DST> "BL_ONE" </DST> </BLEND>',
                                     '<COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR>',
                                     '<CULL> "CULL_NONE" </CULL>', "<NOZWRITE> </NOZWRITE>",
                                     '<ZCMP> "LESS" </ZCMP>'])])
    out += shader("BEAMOPAQUE", [pass_(['<TEXTURE> "ROOMGLOW" </TEXTURE>', '<CULL> "CULL_NONE" </CULL>'])])
    out += shader("BEAMFLARE", [pass_(['<TEXTURE> "ROOMFLARE" </TEXTURE>',
                                       '<BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>',
                                       '<CULL> "CULL_NONE" </CULL>', "<NOZWRITE> </NOZWRITE>",
                                       '<ZCMP> "ALWAYS" </ZCMP>'])],
                  [])
    return out


# ---------------------------------------------------------------------------
# Textures: 32-bit uncompressed TGAs, bottom-up rows.
# ---------------------------------------------------------------------------
def clamp8(v):
    v = int(v + 0.5)
    return 0 if v < 0 else (255 if v > 255 else v)


def write_tga(path, size, colour):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, size, size, 32, 8)
    body = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = colour(x / size, y / size)
            body += bytes((clamp8(b), clamp8(g), clamp8(r), clamp8(a)))
    with open(path, "wb") as f:
        f.write(header + bytes(body))


def textures():
    def floor(u, v):
        check = (int(u * 8) + int(v * 8)) % 2
        c = 200 if check else 120
        return (c, c * 0.95, c * 0.85, 255)

    def wall(u, v):
        brick = (int(v * 16) % 2) * 0.5
        mortar = (v * 16) % 1 < 0.1 or (u * 8 + brick) % 1 < 0.06
        return (90, 90, 95, 255) if mortar else (170, 110, 90, 255)

    def stone(u, v):
        n = 0.5 + 0.25 * math.sin(u * 37) * math.sin(v * 23) + 0.25 * math.sin((u + v) * 11)
        return (140 + 60 * n, 130 + 60 * n, 120 + 50 * n, 255)

    def glow(u, v):
        d = math.hypot(u - 0.5, v - 0.5)
        return (255, 230 - 200 * d, 140 - 140 * d, 255)

    def flare(u, v):
        d = min(1.0, math.hypot(u - 0.5, v - 0.5) * 2)
        k = (1 - d) ** 2 * 255
        return (k, k * 0.9, k * 0.7, 255)

    out = {"ROOMFLOOR": floor, "ROOMWALL": wall, "ROOMSTONE": stone, "ROOMGLOW": glow, "ROOMFLARE": flare}
    skies = {"X+": (200, 120, 90), "X-": (90, 130, 200), "Y+": (230, 230, 250), "Y-": (60, 50, 40),
             "Z+": (120, 200, 120), "Z-": (200, 190, 110)}
    for face, (r, g, b) in skies.items():
        def cube(u, v, r=r, g=g, b=b):
            band = 0.75 + 0.25 * math.cos(v * math.pi * 4)
            return (r * band, g * band, b * band, 255)
        out["CMAP" + face + "_ROOM"] = cube
    return out


def main():
    data = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "effects", "orbit", "data")
    for folder in ("scenes", "shaders", "textures"):
        os.makedirs(os.path.join(data, folder), exist_ok=True)
    text, triangles = room_scene()
    if triangles >= 5000:
        sys.exit("the room has %d triangles, more than llvmpipe should draw" % triangles)
    with open(os.path.join(data, "scenes", "room.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    with open(os.path.join(data, "shaders", "room.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(materials())
    for name, colour in textures().items():
        write_tga(os.path.join(data, "textures", name + ".tga"), 64, colour)
    write_orbit_script(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the glTF 2.0 model behind the bundled imported scene (PILLARS):
a ring of eight pillars on a textured floor that twists as it turns, a camera
orbiting it, a coloured and a textured material (the floor's texture is
generated here), and a sun. Everything is the project's own; nothing is read.

    python3 tools/make_demo_gltf.py OUTDIR
    build/vjscene import OUTDIR/pillars.gltf EFFECT/data/scenes/pillars.txt

The second command writes the scene text and data/textures/floor.tga of the
effect; tools/make_demo_pillars.sh runs both into effects/pillars,
where the effect waits for the 3DSCENE class before it joins effects/."""
import base64
import json
import math
import os
import struct
import sys
import zlib

LOOP = 8.0  # seconds of one turn of the ring and one orbit of the camera
KEYS = 16   # keys per loop (a key every 22.5 degrees: slerp stays on course)


def png(width, height, pixel):
    rows = b''.join(b'\x00' + b''.join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    header = struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b'')


def floor_pixel(x, y):
    # Stone tiles: a checker of two greys with dark joints and a little grain.
    joint = x % 32 in (0, 31) or y % 32 in (0, 31)
    light = ((x // 32) + (y // 32)) % 2 == 0
    grain = ((x * 73 + y * 151) % 17) - 8
    base = 40 if joint else (170 if light else 120)
    v = max(0, min(255, base + grain))
    return (v, int(v * 0.95), int(v * 0.85))


class Buffer:
    def __init__(self):
        self.data = bytearray()
        self.views = []
        self.accessors = []

    def add(self, fmt, values, count, kind, component=5126, bounds=False):
        while len(self.data) % 4:
            self.data += b'\x00'
        raw = struct.pack('<' + fmt * len(values), *values)
        self.views.append({'buffer': 0, 'byteOffset': len(self.data), 'byteLength': len(raw)})
        self.data += raw
        acc = {'bufferView': len(self.views) - 1, 'componentType': component, 'count': count, 'type': kind}
        if bounds:
            n = len(values) // count
            acc['min'] = [min(values[i::n]) for i in range(n)]
            acc['max'] = [max(values[i::n]) for i in range(n)]
        self.accessors.append(acc)
        return len(self.accessors) - 1


def box(sx, sy, sz):
    """A box standing on y = 0: 24 vertices (flat faces), uvs per face."""
    pos, nor, uv, idx = [], [], [], []
    faces = [((1, 0, 0), (0, 0, -1), (0, 1, 0)), ((-1, 0, 0), (0, 0, 1), (0, 1, 0)),
             ((0, 1, 0), (1, 0, 0), (0, 0, -1)), ((0, -1, 0), (1, 0, 0), (0, 0, 1)),
             ((0, 0, 1), (1, 0, 0), (0, 1, 0)), ((0, 0, -1), (-1, 0, 0), (0, 1, 0))]
    for n, u, v in faces:
        base = len(pos) // 3
        for s, t in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
            p = [n[i] + s * u[i] + t * v[i] for i in range(3)]
            pos += [p[0] * sx / 2, (p[1] + 1) * sy / 2, p[2] * sz / 2]
            nor += list(n)
            uv += [(s + 1) / 2, (1 - t) / 2]
        idx += [base, base + 1, base + 2, base, base + 2, base + 3]
    return pos, nor, uv, idx


def quat_y(angle):
    return [0.0, math.sin(angle / 2), 0.0, math.cos(angle / 2)]


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_demo_gltf.py OUTDIR')
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, 'floor.png'), 'wb') as f:
        f.write(png(128, 128, floor_pixel))

    b = Buffer()
    meshes = []
    for material, (sx, sy, sz) in ((0, (0.6, 4.0, 0.6)), (1, (16.0, 0.2, 16.0))):
        pos, nor, uv, idx = box(sx, sy, sz)
        n = len(pos) // 3
        attributes = {'POSITION': b.add('f', pos, n, 'VEC3', bounds=True),
                      'NORMAL': b.add('f', nor, n, 'VEC3'),
                      'TEXCOORD_0': b.add('f', uv, n, 'VEC2')}
        indices = b.add('H', idx, len(idx), 'SCALAR', component=5123)
        meshes.append({'primitives': [{'attributes': attributes, 'indices': indices, 'material': material}]})

    times = [LOOP * k / KEYS for k in range(KEYS + 1)]
    t_acc = b.add('f', times, len(times), 'SCALAR', bounds=True)
    turn = [c for k in range(KEYS + 1) for c in quat_y(2 * math.pi * k / KEYS)]
    back = [c for k in range(KEYS + 1) for c in quat_y(-2 * math.pi * k / KEYS)]
    turn_acc = b.add('f', turn, KEYS + 1, 'VEC4')
    back_acc = b.add('f', back, KEYS + 1, 'VEC4')

    nodes = [{'name': 'Floor', 'mesh': 1, 'translation': [0, -0.2, 0]},
             {'name': 'Ring', 'children': []},
             {'name': 'Rig', 'children': []},
             {'name': 'Camera', 'camera': 0, 'translation': [0, 3.5, 11],
              'rotation': [math.sin(-0.12), 0, 0, math.cos(-0.12)]},
             {'name': 'Sun', 'rotation': [math.sin(-0.45), math.sin(0.3) * 0.3, 0, math.cos(-0.45)],
              'extensions': {'KHR_lights_punctual': {'light': 0}}}]
    nodes[2]['children'].append(3)
    samplers, channels = [], []

    def animate(node, output):
        samplers.append({'input': t_acc, 'output': output, 'interpolation': 'LINEAR'})
        channels.append({'sampler': len(samplers) - 1, 'target': {'node': node, 'path': 'rotation'}})

    animate(1, turn_acc)
    animate(2, back_acc)
    for i in range(8):
        a = 2 * math.pi * i / 8
        nodes[1]['children'].append(len(nodes))
        nodes.append({'name': 'Pillar%d' % (i + 1), 'mesh': 0,
                      'translation': [4 * math.cos(a), 0, 4 * math.sin(a)],
                      'scale': [1, 0.6 + 0.4 * ((i % 3) / 2), 1]})
        # Every other pillar twists against the ring.
        if i % 2:
            animate(len(nodes) - 1, back_acc)

    doc = {
        'asset': {'version': '2.0', 'generator': 'tools/make_demo_gltf.py'},
        'extensionsUsed': ['KHR_lights_punctual'],
        'extensions': {'KHR_lights_punctual': {'lights': [
            {'type': 'directional', 'color': [1.0, 0.95, 0.85], 'intensity': 1.0}]}},
        'scene': 0,
        'scenes': [{'nodes': [0, 1, 2, 4]}],
        'nodes': nodes,
        'meshes': meshes,
        'cameras': [{'type': 'perspective',
                     'perspective': {'yfov': 0.7, 'aspectRatio': 4 / 3, 'znear': 0.5, 'zfar': 200}}],
        'materials': [
            {'name': 'PillarStone', 'pbrMetallicRoughness': {'baseColorFactor': [0.85, 0.45, 0.2, 1.0]}},
            {'name': 'FloorTiles', 'pbrMetallicRoughness': {'baseColorTexture': {'index': 0}}}],
        'textures': [{'source': 0}],
        'images': [{'uri': 'floor.png'}],
        'animations': [{'name': 'Loop', 'samplers': samplers, 'channels': channels}],
        'buffers': [{'byteLength': len(b.data),
                     'uri': 'data:application/octet-stream;base64,' + base64.b64encode(bytes(b.data)).decode()}],
        'bufferViews': b.views,
        'accessors': b.accessors,
    }
    with open(os.path.join(out, 'pillars.gltf'), 'w') as f:
        json.dump(doc, f, indent=1)


if __name__ == '__main__':
    main()

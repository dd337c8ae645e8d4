#!/usr/bin/env bash
# vjscene import against Assimp's ReadFile alone on one generated glTF of
# 1,000,000 triangles (a rippled 500 x 1000 grid), in one run; also the
# text's size and the time of vjscene convert.
# Usage: bench/scene/vjscene_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import json, math, struct, sys
work = sys.argv[1]
nx, nz = 501, 1001  # vertices; (nx - 1) * (nz - 1) * 2 = 1,000,000 triangles
pos = bytearray()
for j in range(nz):
    for i in range(nx):
        x, z = i * 0.01, j * 0.01
        pos += struct.pack('<3f', x, 0.05 * math.sin(x * 7) * math.cos(z * 5), z)
idx = bytearray()
for j in range(nz - 1):
    for i in range(nx - 1):
        a = j * nx + i
        idx += struct.pack('<6I', a, a + nx, a + 1, a + 1, a + nx, a + nx + 1)
open(f'{work}/grid.bin', 'wb').write(pos + idx)
doc = {
    'asset': {'version': '2.0'},
    'buffers': [{'byteLength': len(pos) + len(idx), 'uri': 'grid.bin'}],
    'bufferViews': [{'buffer': 0, 'byteOffset': 0, 'byteLength': len(pos)},
                    {'buffer': 0, 'byteOffset': len(pos), 'byteLength': len(idx)}],
    'accessors': [{'bufferView': 0, 'componentType': 5126, 'count': nx * nz, 'type': 'VEC3',
                   'min': [0, -0.05, 0], 'max': [(nx - 1) * 0.01, 0.05, (nz - 1) * 0.01]},
                  {'bufferView': 1, 'componentType': 5125, 'count': len(idx) // 4, 'type': 'SCALAR'}],
    'meshes': [{'primitives': [{'attributes': {'POSITION': 0}, 'indices': 1}]}],
    'nodes': [{'name': 'Grid', 'mesh': 0}],
    'scenes': [{'nodes': [0]}], 'scene': 0}
json.dump(doc, open(f'{work}/grid.gltf', 'w'))
PY

now() { date +%s.%N; }
t0=$(now); "$build/bench/assimp_probe" "$work/grid.gltf" >/dev/null; t1=$(now)
"$build/vjscene" import "$work/grid.gltf" "$work/grid.txt" >/dev/null; t2=$(now)
"$build/vjscene" convert "$work/grid.txt" "$work/grid.HVX"; t3=$(now)
python3 - "$t0" "$t1" "$t2" "$t3" "$(stat -c %s "$work/grid.txt")" "$(stat -c %s "$work/grid.HVX")" <<'PY'
import sys
t0, t1, t2, t3 = map(float, sys.argv[1:5])
text, cache = int(sys.argv[5]), int(sys.argv[6])
read, imp, conv = t1 - t0, t2 - t1, t3 - t2
print(f'Assimp ReadFile alone: {read:.2f} s')
print(f'vjscene import:        {imp:.2f} s  (ratio {imp / read:.2f}, limit 3)')
print(f'scene text:            {text / 1e6:.1f} MB')
print(f'vjscene convert:       {conv:.2f} s  ({cache / 1e6:.1f} MB cache)')
PY

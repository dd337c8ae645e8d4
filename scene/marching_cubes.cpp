// Marching-cubes tables, derived from the cell's geometry at first use.
//
// For a corner pattern, every face of the cell contributes segments of the
// surface's outline: a face with two cut edges one segment; a face with
// four (two below corners facing each other) two segments, each cutting
// off one below corner alone. That choice reads the face only, so the two
// cells sharing a face draw the same outline there and the surface closes.
// Walking each face's corners counter-clockwise seen from outside, a
// segment runs from the edge where the walk enters the below corners to
// the edge where it leaves them; every cut edge then starts one segment and
// ends another, and the segments chain into loops. Each loop is fanned from
// a vertex whose diagonals never join two edges of one face (such a
// diagonal would lie in that face and the surface would fold along it).
#include <cstring>
#include <mutex>

#include "scene/metaballs.h"

namespace scene {

const int kCellCorner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                               {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const int kCellEdge[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                              {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

namespace {

struct Face {
  int corners[4];  // counter-clockwise seen from outside
  int edges[4];    // edges[i] joins corners[i] and corners[i + 1]
};

int EdgeBetween(int p, int q) {
  for (int k = 0; k < 12; ++k) {
    if ((kCellEdge[k][0] == p && kCellEdge[k][1] == q) || (kCellEdge[k][0] == q && kCellEdge[k][1] == p)) return k;
  }
  return -1;
}

// The six faces: the corners on axis `axis` at `side`, ordered round the
// face and turned so that (c1 − c0) × (c2 − c1) points out of the cell.
void MakeFaces(Face faces[6]) {
  int n = 0;
  for (int axis = 0; axis < 3; ++axis) {
    for (int side = 0; side < 2; ++side) {
      int on[4], count = 0;
      for (int i = 0; i < 8; ++i) {
        if (kCellCorner[i][axis] == side) on[count++] = i;
      }
      // Order round the face: start anywhere, step to a neighbour along an
      // edge not yet used.
      int ring[4] = {on[0], -1, -1, -1};
      bool used[4] = {true, false, false, false};
      for (int r = 1; r < 4; ++r) {
        for (int j = 0; j < 4; ++j) {
          if (!used[j] && EdgeBetween(ring[r - 1], on[j]) >= 0) {
            ring[r] = on[j];
            used[j] = true;
            break;
          }
        }
      }
      int d1[3], d2[3];
      for (int k = 0; k < 3; ++k) {
        d1[k] = kCellCorner[ring[1]][k] - kCellCorner[ring[0]][k];
        d2[k] = kCellCorner[ring[2]][k] - kCellCorner[ring[1]][k];
      }
      const int cross[3] = {d1[1] * d2[2] - d1[2] * d2[1], d1[2] * d2[0] - d1[0] * d2[2],
                            d1[0] * d2[1] - d1[1] * d2[0]};
      const int outward = side == 0 ? -1 : 1;
      if (cross[axis] * outward < 0) std::swap(ring[1], ring[3]);
      Face& f = faces[n++];
      for (int i = 0; i < 4; ++i) {
        f.corners[i] = ring[i];
        f.edges[i] = EdgeBetween(ring[i], ring[(i + 1) % 4]);
      }
    }
  }
}

void BuildPattern(int pattern, const Face faces[6], const uint16_t edge_faces[12], MarchingCubesTables* t) {
  auto below = [pattern](int corner) { return (pattern >> corner & 1) != 0; };
  uint16_t mask = 0;
  for (int k = 0; k < 12; ++k) {
    if (below(kCellEdge[k][0]) != below(kCellEdge[k][1])) mask |= uint16_t(1u << k);
  }
  t->edge_mask[pattern] = mask;
  std::memset(t->triangles[pattern], -1, sizeof t->triangles[pattern]);

  // next[e]: the edge the segment starting at e ends at.
  int next[12];
  for (int& e : next) e = -1;
  for (int f = 0; f < 6; ++f) {
    const Face& face = faces[f];
    // The walk enters the below corners at edge i (corner i above, corner
    // i + 1 below) and leaves them at the edge where a below corner is
    // followed by an above one. With four cut edges each below corner is
    // its own run, which is exactly the corner-cutting rule.
    for (int i = 0; i < 4; ++i) {
      if (below(face.corners[i]) || !below(face.corners[(i + 1) % 4])) continue;
      int j = (i + 1) % 4;
      while (below(face.corners[(j + 1) % 4])) j = (j + 1) % 4;
      next[face.edges[i]] = face.edges[j];
    }
  }

  int out = 0;
  uint16_t done = 0;
  for (int start = 0; start < 12; ++start) {
    if (!(mask >> start & 1) || (done >> start & 1)) continue;
    int loop[12], n = 0;
    for (int e = start; e >= 0 && !(done >> e & 1) && n < 12; e = next[e]) {
      done |= uint16_t(1u << e);
      loop[n++] = e;
    }
    // A fan vertex none of whose diagonals joins two edges of one face.
    int pivot = 0;
    for (int s = 0; s < n; ++s) {
      bool ok = true;
      for (int j = 2; j < n - 1 && ok; ++j) {
        if (edge_faces[loop[s]] & edge_faces[loop[(s + j) % n]]) ok = false;
      }
      if (ok) {
        pivot = s;
        break;
      }
    }
    // The loop runs round the surface seen from its above side: reversed,
    // (b − a) × (c − a) points to the below corners.
    for (int j = 1; j + 1 < n && out + 3 <= 15; ++j) {
      t->triangles[pattern][out++] = int8_t(loop[pivot]);
      t->triangles[pattern][out++] = int8_t(loop[(pivot + j + 1) % n]);
      t->triangles[pattern][out++] = int8_t(loop[(pivot + j) % n]);
    }
  }
}

MarchingCubesTables g_tables;
std::once_flag g_tables_once;

void BuildTables() {
  Face faces[6];
  MakeFaces(faces);
  uint16_t edge_faces[12] = {};
  for (int f = 0; f < 6; ++f) {
    for (int e : faces[f].edges) edge_faces[e] |= uint16_t(1u << f);
  }
  for (int pattern = 0; pattern < 256; ++pattern) BuildPattern(pattern, faces, edge_faces, &g_tables);
}

}  // namespace

const MarchingCubesTables& GetMarchingCubesTables() {
  std::call_once(g_tables_once, BuildTables);
  return g_tables;
}

}  // namespace scene

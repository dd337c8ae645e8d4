// The shared metaball field: fixed buffers, surface following, batches.
//
// Grid points are cached per frame in 32,768 slots keyed (a·65 + b)·65 + c
// (corners run to 64, so each axis needs 65 values; a key of 64-wide rows
// would give (a, b, 64) the key of (a, b + 1, 0)). A slot holds one key;
// a collision only costs a recomputation.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/core/core.h"
#include "scene/metaballs.h"

namespace scene {
namespace {

constexpr int kPoints = kMetaballGrid + 1;
constexpr uint32_t kCacheSlots = 32768;
constexpr uint32_t kCells = kMetaballGrid * kMetaballGrid * kMetaballGrid;

struct CacheSlot {
  int32_t key;
  float value;
  Vec3 normal;
};

struct Field {
  render::RenderVertex* vertices = nullptr;  // kMetaballVertexCapacity
  uint16_t* indices = nullptr;               // kMetaballIndexCapacity
  CacheSlot* cache = nullptr;                // kCacheSlots
  uint64_t* visited = nullptr;               // one bit per cell
  uint32_t* stack = nullptr;                 // every cell at most once
  Vec3 balls[kMaxMetaballs];
  int ball_count = 0;
  render::ShaderHandle material = -1;
  uint64_t evaluations = 0;
  bool traced_uninitialised = false;
};

Field g_field;

uint32_t CellId(int a, int b, int c) { return (uint32_t(a) * kMetaballGrid + uint32_t(b)) * kMetaballGrid + uint32_t(c); }

bool Visited(uint32_t id) { return (g_field.visited[id >> 6] >> (id & 63) & 1) != 0; }
void MarkVisited(uint32_t id) { g_field.visited[id >> 6] |= uint64_t(1) << (id & 63); }

// The point's value and normal through the cache.
const CacheSlot& Point(int a, int b, int c) {
  const int32_t key = (a * kPoints + b) * kPoints + c;
  CacheSlot& slot = g_field.cache[uint32_t(key) % kCacheSlots];
  if (slot.key != key) {
    slot.key = key;
    MetaballFieldAt(g_field.balls, g_field.ball_count, a, b, c, &slot.value, &slot.normal);
    ++g_field.evaluations;
  }
  return slot;
}

// The cell's pattern (bit i: corner i below), its values and normals.
int CellPattern(int a, int b, int c, float values[8], Vec3 normals[8]) {
  int pattern = 0;
  for (int i = 0; i < 8; ++i) {
    const CacheSlot& p = Point(a + kCellCorner[i][0], b + kCellCorner[i][1], c + kCellCorner[i][2]);
    values[i] = p.value;
    normals[i] = p.normal;
    if (p.value < kMetaballIso) pattern |= 1 << i;
  }
  return pattern;
}

}  // namespace

void MetaballFieldAt(const Vec3* balls, int count, int a, int b, int c, float* value, Vec3* normal) {
  float sum = 0.0f;
  Vec3 n{0.0f, 0.0f, 0.0f};
  const float gx = float(a), gy = float(b), gz = float(c);
  for (int i = 0; i < count; ++i) {
    const float dx = gx - balls[i].x, dy = gy - balls[i].y, dz = gz - balls[i].z;
    const float d2 = dx * dx + dy * dy + dz * dz;
    const float w = 1.0f / (d2 + 1.0f);
    sum += w;
    if (d2 > 0.0f) {
      const float s = w / std::sqrt(d2);
      n.x += s * dx;
      n.y += s * dy;
      n.z += s * dz;
    }
  }
  *value = sum;
  *normal = n;
}

int PolygoniseCell(int a, int b, int c, const float values[8], const Vec3 normals[8], render::RenderVertex* vertices,
                   uint16_t* indices, uint16_t base, uint32_t* vertex_count) {
  const MarchingCubesTables& tables = GetMarchingCubesTables();
  int pattern = 0;
  for (int i = 0; i < 8; ++i) {
    if (values[i] < kMetaballIso) pattern |= 1 << i;
  }
  const uint16_t mask = tables.edge_mask[pattern];
  int local[12];
  uint32_t n = 0;
  for (int k = 0; k < 12; ++k) {
    if (!(mask >> k & 1)) continue;
    const int p = kCellEdge[k][0], q = kCellEdge[k][1];
    const float t = (kMetaballIso - values[p]) / (values[q] - values[p]);
    render::RenderVertex& v = vertices[n];
    v.x = float(a + kCellCorner[p][0]) + t * float(kCellCorner[q][0] - kCellCorner[p][0]);
    v.y = float(b + kCellCorner[p][1]) + t * float(kCellCorner[q][1] - kCellCorner[p][1]);
    v.z = float(c + kCellCorner[p][2]) + t * float(kCellCorner[q][2] - kCellCorner[p][2]);
    float nx = normals[p].x + t * (normals[q].x - normals[p].x);
    float ny = normals[p].y + t * (normals[q].y - normals[p].y);
    float nz = normals[p].z + t * (normals[q].z - normals[p].z);
    const float len = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (len > 0.0f && std::isfinite(len)) {
      nx /= len, ny /= len, nz /= len;
    } else {
      nx = 0.0f, ny = 1.0f, nz = 0.0f;
    }
    v.nx = nx, v.ny = ny, v.nz = nz;
    v.diffuse = 0xFFFFFFFFu;
    v.u = v.x / 16.0f;
    v.v = v.y / 16.0f;
    local[k] = int(n++);
  }
  int triangles = 0;
  const int8_t* tri = tables.triangles[pattern];
  for (int i = 0; i < 15 && tri[i] >= 0; i += 3, ++triangles) {
    for (int j = 0; j < 3; ++j) indices[i + j] = uint16_t(base + local[tri[i + j]]);
  }
  *vertex_count = n;
  return triangles;
}

int InitMetaballs() {
  if (g_field.vertices) return 0;
  Field& f = g_field;
  f.vertices = new (std::nothrow) render::RenderVertex[kMetaballVertexCapacity];
  f.indices = new (std::nothrow) uint16_t[kMetaballIndexCapacity];
  f.cache = new (std::nothrow) CacheSlot[kCacheSlots];
  f.visited = new (std::nothrow) uint64_t[kCells / 64];
  f.stack = new (std::nothrow) uint32_t[kCells];
  if (!f.vertices || !f.indices || !f.cache || !f.visited || !f.stack) {
    FreeMetaballs();
    return -1;
  }
  GetMarchingCubesTables();
  return 0;
}

void FreeMetaballs() {
  Field& f = g_field;
  delete[] f.vertices;
  delete[] f.indices;
  delete[] f.cache;
  delete[] f.visited;
  delete[] f.stack;
  f.vertices = nullptr;
  f.indices = nullptr;
  f.cache = nullptr;
  f.visited = nullptr;
  f.stack = nullptr;
  f.ball_count = 0;
  f.traced_uninitialised = false;
}

bool MetaballsReady() { return g_field.vertices != nullptr; }

void ResetBalls() { g_field.ball_count = 0; }

bool InsideGrid(const Vec3& p) {
  // −1 < x < 64 is exactly an integer part in 0..63; NaN fails it.
  const float hi = float(kMetaballGrid);
  return p.x > -1.0f && p.x < hi && p.y > -1.0f && p.y < hi && p.z > -1.0f && p.z < hi;
}

bool AddBall(const Vec3& position) {
  // A ball off the grid (a damaged track) would still tint the whole field:
  // it is left out altogether.
  if (g_field.ball_count >= kMaxMetaballs || !InsideGrid(position)) return false;
  g_field.balls[g_field.ball_count++] = position;
  return true;
}

int BallCount() { return g_field.ball_count; }

void SetMaterial(render::ShaderHandle shader) { g_field.material = shader; }

uint64_t MetaballFieldEvaluations() { return g_field.evaluations; }

int PolygoniseMetaballs(const MetaballBatchSink& sink) {
  Field& f = g_field;
  if (!f.vertices) return -1;
  f.evaluations = 0;
  std::memset(f.visited, 0, kCells / 8);
  for (uint32_t i = 0; i < kCacheSlots; ++i) f.cache[i].key = -1;

  float values[8];
  Vec3 normals[8];
  uint32_t top = 0;
  // Seeds: from each ball's cell, the first cell along +x that the surface
  // cuts. The float is tested before any conversion.
  for (int i = 0; i < f.ball_count; ++i) {
    const Vec3& p = f.balls[i];
    if (!InsideGrid(p)) continue;
    // Along +x first; a surface that leaves the grid that way (a ball near
    // the far face) is looked for along the other five directions.
    static const int kWalk[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    bool seeded = false;
    for (int w = 0; w < 6 && !seeded; ++w) {
      int a = int(p.x), b = int(p.y), c = int(p.z);
      for (; a >= 0 && b >= 0 && c >= 0 && a < kMetaballGrid && b < kMetaballGrid && c < kMetaballGrid;
           a += kWalk[w][0], b += kWalk[w][1], c += kWalk[w][2]) {
        const int pattern = CellPattern(a, b, c, values, normals);
        if (pattern == 0 || pattern == 255) continue;
        const uint32_t id = CellId(a, b, c);
        // Already reached from an earlier ball: polygonised once only.
        if (!Visited(id)) {
          MarkVisited(id);
          f.stack[top++] = id;
        }
        seeded = true;
        break;
      }
    }
  }

  uint32_t vertex_count = 0, index_count = 0;
  int triangles = 0;
  while (top > 0) {
    const uint32_t id = f.stack[--top];
    const int a = int(id / (kMetaballGrid * kMetaballGrid)), b = int(id / kMetaballGrid % kMetaballGrid),
              c = int(id % kMetaballGrid);
    const int pattern = CellPattern(a, b, c, values, normals);
    if (pattern == 0 || pattern == 255) continue;
    if (vertex_count > kMetaballBatchLimit || index_count > kMetaballBatchLimit) {
      sink(f.vertices, vertex_count, f.indices, index_count);
      vertex_count = index_count = 0;
    }
    uint32_t added = 0;
    const int t = PolygoniseCell(a, b, c, values, normals, f.vertices + vertex_count, f.indices + index_count,
                                 uint16_t(vertex_count), &added);
    vertex_count += added;
    index_count += uint32_t(t) * 3;
    triangles += t;
    for (int da = -1; da <= 1; ++da) {
      for (int db = -1; db <= 1; ++db) {
        for (int dc = -1; dc <= 1; ++dc) {
          const int na = a + da, nb = b + db, nc = c + dc;
          if ((da | db | dc) == 0 || na < 0 || nb < 0 || nc < 0 || na >= kMetaballGrid || nb >= kMetaballGrid ||
              nc >= kMetaballGrid)
            continue;
          const uint32_t nid = CellId(na, nb, nc);
          if (Visited(nid)) continue;
          MarkVisited(nid);
          f.stack[top++] = nid;
        }
      }
    }
  }
  if (index_count > 0) sink(f.vertices, vertex_count, f.indices, index_count);
  return triangles;
}

void DrawMetaballs() {
  Field& f = g_field;
  if (f.ball_count == 0) return;
  if (!f.vertices) {
    if (!f.traced_uninitialised) core::Trace("SCENE: metaballs not initialised; the field is not drawn.\n");
    f.traced_uninitialised = true;
    return;
  }
  const render::ShaderHandle shader = f.material >= 0 ? f.material : render::kNullShader;
  PolygoniseMetaballs([shader](const render::RenderVertex* vertices, uint32_t vertex_count, const uint16_t* indices,
                               uint32_t index_count) {
    render::DrawItem item;
    item.vertices = vertices;
    item.indices = indices;
    item.vertex_count = vertex_count;
    item.triangle_count = int32_t(index_count / 3);
    item.shader = shader;
    // The next batch reuses the arrays: this one is drawn now.
    if (render::SubmitDrawItem(&item) == 0) render::FlushRenderQueue();
  });
}

}  // namespace scene

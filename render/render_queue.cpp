// The render queue and drawing with a shader.
//
// Items wait in sixteen priority buckets until the flush, which sorts each
// bucket by shader and depth and draws it. Drawing streams the items'
// vertices, transformed on the processor, through the render layer's shared
// dynamic buffers, so that many small objects cost one draw per pass; only
// a single item in a static buffer is drawn from its own buffers. Sprite
// lists expand each vertex into a camera-facing quad drawn from memory.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/materials_internal.h"
#include "render/values.h"

namespace render {
namespace {

core::GrowableArray<const DrawItem*> g_buckets[kPriorityCount];
std::function<void(const MaterialDraw&)> g_observer;
bool g_merge_runs = true;
bool g_profiling = false;
MaterialProfile g_profile;

// Sprite quads: quad k uses vertices 4k .. 4k+3.
constexpr int kSpriteTableQuads = 512;
constexpr int kSpriteQuadsPerDraw = 256;
uint16_t g_sprite_indices[kSpriteTableQuads * 6];
bool g_sprite_table_built = false;
RenderVertex g_sprite_vertices[kSpriteQuadsPerDraw * 4];

constexpr uint32_t kVertexStride = sizeof(RenderVertex);  // 36
constexpr uint32_t kMaxGroupIndices = 65000;

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Observe(MaterialDrawPath path, ShaderHandle shader, int pass, const DrawItem* first, int items,
             uint32_t vertices, uint32_t triangles) {
  if (g_observer) g_observer(MaterialDraw{path, shader, pass, first, items, vertices, triangles});
}

struct Vec3 {
  float x, y, z;
};

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool Normalize(Vec3* v) {
  float length = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
  if (!(length > 1e-12f)) return false;
  v->x /= length;
  v->y /= length;
  v->z /= length;
  return true;
}
Vec3 PositionOf(const RenderVertex& v) { return {v.x, v.y, v.z}; }

// Row vector times the 3 x 3 part.
Vec3 TimesRotation(const Vec3& v, const Matrix& m) {
  return {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0], v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
          v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
}

// The 3 x 3 part's inverse; false when it is singular.
bool InverseRotation(const Matrix& m, Matrix* out) {
  const float(*a)[4] = m.m;
  float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (!(std::fabs(det) > 1e-20f)) return false;
  float k = 1.0f / det;
  Matrix r = Matrix::Identity();
  r.m[0][0] = c00 * k;
  r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * k;
  r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * k;
  r.m[1][0] = c01 * k;
  r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * k;
  r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * k;
  r.m[2][0] = c02 * k;
  r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * k;
  r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * k;
  *out = r;
  return true;
}

Matrix UniformScale(float s) {
  Matrix m = Matrix::Identity();
  m.m[0][0] = m.m[1][1] = m.m[2][2] = s;
  return m;
}

// Items the dynamic and sprite paths can read.
bool HasMemoryVertices(const DrawItem& item) { return item.vertices && item.vertex_count > 0; }
bool HasMemoryTriangles(const DrawItem& item) {
  return HasMemoryVertices(item) && item.indices && item.triangle_count > 0;
}

// An auto-sprite item's world: the plane of its first triangle turned to
// the camera, the item's translation kept. False when the triangle is
// missing or degenerate (the item's own world is used).
bool AutoSpriteWorld(const DrawItem& item, Matrix* world) {
  if (!HasMemoryTriangles(item)) return false;
  const uint16_t* idx = item.indices;
  if (idx[0] >= item.vertex_count || idx[1] >= item.vertex_count || idx[2] >= item.vertex_count) return false;
  Vec3 p0 = PositionOf(item.vertices[idx[0]]);
  Vec3 e0 = Sub(PositionOf(item.vertices[idx[2]]), p0);
  Vec3 e1 = Sub(PositionOf(item.vertices[idx[1]]), p0);
  if (!Normalize(&e0) || !Normalize(&e1)) return false;
  Vec3 e2 = Cross(e0, e1);
  if (!Normalize(&e2)) return false;
  // Columns e0, e1, e2: a point's coordinates along the triangle's axes,
  // which the orientation then lays along the camera's right, up, forward.
  Matrix basis = Matrix::Identity();
  const Vec3 axes[3] = {e0, e1, e2};
  for (int c = 0; c < 3; ++c) {
    basis.m[0][c] = axes[c].x;
    basis.m[1][c] = axes[c].y;
    basis.m[2][c] = axes[c].z;
  }
  Matrix turned = Multiply(basis, CameraOrientation());
  for (int c = 0; c < 3; ++c) turned.m[3][c] = item.world.m[3][c];
  turned.m[3][3] = item.world.m[3][3];
  *world = turned;
  return true;
}

void BuildSpriteTable() {
  if (g_sprite_table_built) return;
  for (int k = 0; k < kSpriteTableQuads; ++k) {
    uint16_t base = static_cast<uint16_t>(4 * k);
    uint16_t* q = g_sprite_indices + 6 * k;
    q[0] = base;
    q[1] = static_cast<uint16_t>(base + 1);
    q[2] = static_cast<uint16_t>(base + 2);
    q[3] = static_cast<uint16_t>(base + 1);
    q[4] = static_cast<uint16_t>(base + 2);
    q[5] = static_cast<uint16_t>(base + 3);
  }
  g_sprite_table_built = true;
}

// Fills `out` with the item's vertices as this pass draws them.
void FillItemVertices(const Shader& shader, const ShaderPass& pass, const DrawItem& item, const Matrix& world,
                      float time, float scale_value, RenderVertex* out) {
  const RenderVertex* in = item.vertices;
  const uint32_t n = item.vertex_count;
  if (shader.vertex_generator) {
    shader.vertex_generator->Generate(out, in, n, item.indices, static_cast<uint32_t>(item.triangle_count) * 3,
                                      world);
    return;
  }
  if (pass.flags & kPassScaleWave) {
    // Displaced along the normal, in object space.
    for (uint32_t i = 0; i < n; ++i) {
      out[i] = in[i];
      out[i].x = in[i].x + scale_value * in[i].nx;
      out[i].y = in[i].y + scale_value * in[i].ny;
      out[i].z = in[i].z + scale_value * in[i].nz;
    }
    return;
  }
  const float(*m)[4] = world.m;
  if (shader.distort_normal) {
    for (uint32_t i = 0; i < n; ++i) {
      const RenderVertex& v = in[i];
      RenderVertex& o = out[i];
      o.x = v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0] + m[3][0];
      o.y = v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1] + m[3][1];
      o.z = v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2] + m[3][2];
      const float fi = static_cast<float>(i);
      const float a = 0.5f * std::cos(3.0f * fi + 4.0f * time) * std::sin(2.0f * time + 5.0f * fi);
      const float d = 0.5f * std::cos(2.0f * time + 7.0f * fi) * std::sin(2.0f * time + fi);
      const float k = 1.0f / std::sqrt(a * a + 25.0f + d * d);
      Vec3 normal = TimesRotation(Vec3{a * k, 5.0f * k, d * k}, world);
      o.nx = normal.x;
      o.ny = normal.y;
      o.nz = normal.z;
      o.diffuse = 0xffffffffu;
      o.u = v.u;
      o.v = v.v;
    }
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    const RenderVertex& v = in[i];
    RenderVertex& o = out[i];
    o.x = v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0] + m[3][0];
    o.y = v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1] + m[3][1];
    o.z = v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2] + m[3][2];
    o.nx = v.nx * m[0][0] + v.ny * m[1][0] + v.nz * m[2][0];
    o.ny = v.nx * m[0][1] + v.ny * m[1][1] + v.nz * m[2][1];
    o.nz = v.nx * m[0][2] + v.ny * m[1][2] + v.nz * m[2][2];
    o.diffuse = v.diffuse;
    o.u = v.u;
    o.v = v.v;
  }
}

// Room for `bytes` of vertices at an offset that is a whole number of
// vertices (other users of the shared buffer may append other strides).
int AppendAlignedVertices(uint32_t bytes, uint8_t** data) {
  const int buffer = SharedVertexBuffer();
  void* raw = nullptr;
  int offset = AppendDynamicVertices(buffer, bytes, &raw);
  if (offset < 0) return -1;
  if (offset % kVertexStride == 0) {
    *data = static_cast<uint8_t*>(raw);
    return offset;
  }
  UnlockDynamicVertices(buffer);
  offset = AppendDynamicVertices(buffer, bytes + kVertexStride - 1, &raw);
  if (offset < 0) return -1;
  const uint32_t skip = (kVertexStride - offset % kVertexStride) % kVertexStride;
  *data = static_cast<uint8_t*>(raw) + skip;
  return offset + static_cast<int>(skip);
}

void DrawStatic(Device* device, ShaderHandle handle, int pass_index, const ShaderPass& pass, const DrawItem& item,
                float time) {
  std::shared_ptr<VertexBuffer> vertices = GetVertexBufferById(item.vertex_buffer);
  std::shared_ptr<IndexBuffer> indices = GetIndexBufferById(item.index_buffer);
  if (!vertices || !indices || item.triangle_count <= 0) return;
  SetRenderStateCached(RS_SOFTWAREVERTEXPROCESSING, 1);
  device->SetIndices(indices, item.base_vertex);
  device->SetStreamSource(0, vertices, kVertexStride);
  Matrix world = item.world;
  if (pass.flags & kPassMatrixScale) world = Multiply(UniformScale(EvaluateWave(pass.scale_wave, time)), world);
  device->SetTransform(TS_WORLD, world);
  device->DrawIndexedPrimitive(PT_TRIANGLELIST, item.base_vertex, item.vertex_count, item.start_index,
                               static_cast<uint32_t>(item.triangle_count));
  AddTrianglesDrawn(static_cast<uint32_t>(item.triangle_count));
  Observe(MaterialDrawPath::kStatic, handle, pass_index, &item, 1, item.vertex_count,
          static_cast<uint32_t>(item.triangle_count));
}

void DrawSprites(Device* device, ShaderHandle handle, int pass_index, const Shader& shader,
                 const DrawItem* const* items, int count) {
  BuildSpriteTable();
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  const Matrix orientation = CameraOrientation();
  const Vec3 camera_right{orientation.m[0][0], orientation.m[0][1], orientation.m[0][2]};
  const Vec3 camera_up{orientation.m[1][0], orientation.m[1][1], orientation.m[1][2]};
  const float half = shader.sprite_value * 0.5f;
  for (int k = 0; k < count; ++k) {
    const DrawItem& item = *items[k];
    if (!HasMemoryVertices(item)) continue;
    device->SetTransform(TS_WORLD, item.world);
    // The camera's axes in the item's space, so they come out as the
    // camera's own once the world transform is applied.
    Matrix to_item;
    if (!InverseRotation(item.world, &to_item)) continue;
    Vec3 r = TimesRotation(camera_right, to_item);
    Vec3 u = TimesRotation(camera_up, to_item);
    r = {r.x * half, r.y * half, r.z * half};
    u = {u.x * half, u.y * half, u.z * half};
    uint32_t done = 0;
    while (done < item.vertex_count) {
      const uint32_t quads = std::min<uint32_t>(kSpriteQuadsPerDraw, item.vertex_count - done);
      for (uint32_t q = 0; q < quads; ++q) {
        const RenderVertex& v = item.vertices[done + q];
        RenderVertex* out = g_sprite_vertices + 4 * q;
        const float corner[4][4] = {{-1, 1, 0, 0}, {1, 1, 1, 0}, {-1, -1, 0, 1}, {1, -1, 1, 1}};
        for (int c = 0; c < 4; ++c) {
          const float sr = corner[c][0], su = corner[c][1];
          out[c] = v;
          out[c].x = v.x + sr * r.x + su * u.x;
          out[c].y = v.y + sr * r.y + su * u.y;
          out[c].z = v.z + sr * r.z + su * u.z;
          out[c].u = corner[c][2];
          out[c].v = corner[c][3];
        }
      }
      device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, quads * 4, quads * 2, g_sprite_indices, FMT_INDEX16,
                                     g_sprite_vertices, kVertexStride);
      AddTrianglesDrawn(quads * 2);
      Observe(MaterialDrawPath::kSprites, handle, pass_index, &item, 1, quads * 4, quads * 2);
      done += quads;
    }
  }
}

void DrawDynamic(Device* device, ShaderHandle handle, int pass_index, const Shader& shader,
                 const ShaderPass& pass, const DrawItem* const* items, const Matrix* worlds, int count,
                 float time) {
  uint32_t vertex_count = 0, index_count = 0;
  for (int k = 0; k < count; ++k) {
    if (!HasMemoryTriangles(*items[k])) continue;
    vertex_count += items[k]->vertex_count;
    index_count += static_cast<uint32_t>(items[k]->triangle_count) * 3;
  }
  if (vertex_count == 0 || index_count == 0) return;

  // Profiling splits the buffer work (locks, which upload on unlock) from
  // the transform and index copy.
  Clock::time_point mark = g_profiling ? Clock::now() : Clock::time_point();
  auto lap = [&mark](double* sum) {
    if (!g_profiling) return;
    Clock::time_point now = Clock::now();
    *sum += std::chrono::duration<double>(now - mark).count();
    mark = now;
  };
  uint8_t* vertex_data = nullptr;
  const int vertex_offset = AppendAlignedVertices(vertex_count * kVertexStride, &vertex_data);
  if (vertex_offset < 0) return;
  lap(&g_profile.buffer_seconds);
  const float scale_value =
      (pass.flags & (kPassScaleWave | kPassMatrixScale)) ? EvaluateWave(pass.scale_wave, time) : 0.0f;
  RenderVertex* out = reinterpret_cast<RenderVertex*>(vertex_data);
  for (int k = 0; k < count; ++k) {
    const DrawItem& item = *items[k];
    if (!HasMemoryTriangles(item)) continue;
    FillItemVertices(shader, pass, item, worlds ? worlds[k] : item.world, time, scale_value, out);
    out += item.vertex_count;
  }
  lap(&g_profile.transform_seconds);
  UnlockDynamicVertices(SharedVertexBuffer());

  void* index_raw = nullptr;
  const int index_offset = AppendDynamicIndices(SharedIndexBuffer(), index_count * 2, &index_raw);
  if (index_offset < 0) return;
  lap(&g_profile.buffer_seconds);
  uint16_t* index_out = static_cast<uint16_t*>(index_raw);
  uint32_t first_vertex = 0;
  for (int k = 0; k < count; ++k) {
    const DrawItem& item = *items[k];
    if (!HasMemoryTriangles(item)) continue;
    const uint32_t n = static_cast<uint32_t>(item.triangle_count) * 3;
    for (uint32_t i = 0; i < n; ++i) *index_out++ = static_cast<uint16_t>(item.indices[i] + first_vertex);
    first_vertex += item.vertex_count;
  }
  lap(&g_profile.transform_seconds);
  UnlockDynamicIndices(SharedIndexBuffer());
  lap(&g_profile.buffer_seconds);

  // The vertices are in world space already.
  if (pass.flags & kPassMatrixScale) device->SetTransform(TS_WORLD, UniformScale(scale_value));
  device->SetIndices(GetIndexBufferById(SharedIndexBuffer()), static_cast<uint32_t>(vertex_offset) / kVertexStride);
  device->SetStreamSource(0, GetVertexBufferById(SharedVertexBuffer()), kVertexStride);
  device->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, vertex_count, static_cast<uint32_t>(index_offset) / 2,
                               index_count / 3);
  AddTrianglesDrawn(index_count / 3);
  Observe(MaterialDrawPath::kDynamic, handle, pass_index, items[0], count, vertex_count, index_count / 3);
}

// One group that fits the shared buffers.
void DrawGroup(ShaderHandle handle, const DrawItem* const* items, int count) {
  ShaderManager* manager = CurrentShaderManager();
  const Shader* shader = manager ? manager->GetShaderByHandle(handle) : nullptr;
  Device* device = MaterialDevice();
  if (!shader || !device || count <= 0) return;
  if (shader->flags & kShaderVoxelize) return;
  device->SetFVF(kFvfRenderVertex);
  device->SetTransform(TS_WORLD, Matrix::Identity());

  // Auto-sprites: every item turns its first triangle toward the camera.
  std::vector<Matrix> worlds;
  if (shader->sprite_mode == SPRITE_AUTO) {
    try {
      worlds.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
      return;
    }
    for (int k = 0; k < count; ++k)
      if (!AutoSpriteWorld(*items[k], &worlds[static_cast<size_t>(k)])) worlds[static_cast<size_t>(k)] = items[k]->world;
  }

  const float time = EffectTime();
  for (int p = 0; p < shader->PassCount(); ++p) {
    if (ApplyPass(handle, p) != 0) continue;
    const ShaderPass& pass = shader->passes[static_cast<size_t>(p)];
    const bool static_path = !(pass.flags & kPassScaleWave) && !(shader->flags & kShaderSpecialPath) && count == 1 &&
                             items[0]->vertex_buffer >= 0 && !shader->vertex_generator;
    if (static_path) {
      DrawStatic(device, handle, p, pass, *items[0], time);
    } else if (shader->sprite_mode == SPRITE_LIST) {
      DrawSprites(device, handle, p, *shader, items, count);
    } else {
      DrawDynamic(device, handle, p, *shader, pass, items, worlds.empty() ? nullptr : worlds.data(), count, time);
    }
  }
}

// Sort order inside a bucket. NaN depths sort as the farthest.
float DepthKey(const DrawItem* item) { return std::isnan(item->depth) ? INFINITY : item->depth; }

void SortBucket(core::GrowableArray<const DrawItem*>* bucket, bool nearest_first) {
  std::stable_sort(bucket->begin(), bucket->end(), [nearest_first](const DrawItem* a, const DrawItem* b) {
    if (a->shader != b->shader) return a->shader < b->shader;
    return nearest_first ? DepthKey(a) < DepthKey(b) : DepthKey(a) > DepthKey(b);
  });
}

// Draws a run of items of one shader. Shaders with a special path take the
// run in one call. Others draw each item on its own; consecutive in-memory
// items of a one-pass shader go together, which draws the same pixels in
// the same order with fewer draws.
void DrawRun(ShaderHandle handle, const Shader& shader, const DrawItem* const* items, int count) {
  if (shader.flags & kShaderSpecialPath) {
    DrawWithShader(handle, items, count, true);
    return;
  }
  if (!g_merge_runs || shader.PassCount() != 1) {
    for (int k = 0; k < count; ++k) DrawWithShader(handle, items + k, 1, true);
    return;
  }
  int start = 0;
  while (start < count) {
    if (items[start]->vertex_buffer >= 0) {
      DrawWithShader(handle, items + start, 1, true);
      ++start;
      continue;
    }
    int end = start + 1;
    while (end < count && items[end]->vertex_buffer < 0) ++end;
    DrawWithShader(handle, items + start, end - start, true);
    start = end;
  }
}

}  // namespace

int InitShaderSystem() {
  for (auto& bucket : g_buckets) bucket = core::GrowableArray<const DrawItem*>();
  ClearShaderManagerStack();
  BuildSpriteTable();
  return 0;
}

void ShutdownShaderSystem() {
  for (auto& bucket : g_buckets) bucket = core::GrowableArray<const DrawItem*>();
  ClearShaderManagerStack();
}

int SubmitDrawItem(const DrawItem* item) {
  if (!item || item->shader < 0) return -1;
  ShaderManager* manager = CurrentShaderManager();
  const Shader* shader = manager ? manager->GetShaderByHandle(item->shader) : nullptr;
  if (!shader) return -1;
  const int bucket = std::clamp(shader->priority, 0, kPriorityCount - 1);
  return g_buckets[bucket].Add(item) < 0 ? -1 : 0;
}

int QueuedItemCount(int bucket) {
  return bucket >= 0 && bucket < kPriorityCount ? g_buckets[bucket].Size() : 0;
}

void FlushRenderQueue() {
  const Clock::time_point flush_start = g_profiling ? Clock::now() : Clock::time_point();
  ShaderManager* manager = CurrentShaderManager();
  for (int b = 0; b < kPriorityCount; ++b) {
    core::GrowableArray<const DrawItem*>& bucket = g_buckets[b];
    if (bucket.Empty()) continue;
    if (g_profiling) g_profile.items += static_cast<uint64_t>(bucket.Size());
    if (manager) {
      const Clock::time_point sort_start = g_profiling ? Clock::now() : Clock::time_point();
      SortBucket(&bucket, b == PR_OPAQUE);
      if (g_profiling) g_profile.sort_seconds += SecondsSince(sort_start);
      int start = 0;
      while (start < bucket.Size()) {
        int end = start + 1;
        while (end < bucket.Size() && bucket[end]->shader == bucket[start]->shader) ++end;
        ShaderHandle handle = bucket[start]->shader;
        const Shader* shader = manager->GetShaderByHandle(handle);
        if (!shader) {
          handle = kNullShader;
          shader = manager->GetShaderByHandle(handle);
        }
        if (shader) DrawRun(handle, *shader, bucket.Data() + start, end - start);
        start = end;
      }
    }
    bucket.Clear();
  }
  if (g_profiling) g_profile.total_seconds += SecondsSince(flush_start);
}

void DrawWithShader(ShaderHandle handle, const DrawItem* const* items, int count, bool batch) {
  if (!items || count <= 0) return;
  ShaderManager* manager = CurrentShaderManager();
  if (!manager) return;
  if (!manager->GetShaderByHandle(handle)) handle = kNullShader;
  if (!manager->GetShaderByHandle(handle)) return;
  if (!batch) {
    DrawGroup(handle, items, count);
    return;
  }
  // Groups stay below the shared buffers' capacity.
  const uint32_t max_vertices = static_cast<uint32_t>(MaxDynamicVertices());
  int start = 0;
  uint32_t vertices = 0, indices = 0;
  for (int k = 0; k < count; ++k) {
    const uint32_t v = items[k]->vertex_count;
    const uint32_t i = items[k]->triangle_count > 0 ? static_cast<uint32_t>(items[k]->triangle_count) * 3 : 0;
    if (k > start && (vertices + v >= max_vertices || indices + i >= kMaxGroupIndices)) {
      DrawGroup(handle, items + start, k - start);
      start = k;
      vertices = indices = 0;
    }
    vertices += v;
    indices += i;
  }
  DrawGroup(handle, items + start, count - start);
}

void SetMaterialDrawObserver(std::function<void(const MaterialDraw&)> observer) {
  g_observer = std::move(observer);
}

void SetMaterialProfiling(bool on) {
  g_profiling = on;
  g_profile = MaterialProfile{};
}

MaterialProfile GetMaterialProfile() { return g_profile; }

void SetRenderQueueMerging(bool on) { g_merge_runs = on; }

}  // namespace render

// Skinning: an element's vertices blended from its bones' world matrices
// each frame, normals rebuilt from the skinned triangles. Bone matrices are
// affine (products of rotations and translations), so the offsets are
// transformed without a division by w.
#include <cmath>
#include <cstring>

#include "scene/scene_internal.h"

namespace scene::internal {
namespace {

// Four floats in one register (GCC and Clang vector extension).
typedef float Lanes __attribute__((vector_size(16)));

inline Lanes Row(const Matrix& m, int row) {
  Lanes r;
  std::memcpy(&r, m.m[row], sizeof r);
  return r;
}

inline float Min(float a, float b) { return b < a ? b : a; }
inline float Max(float a, float b) { return b > a ? b : a; }

}  // namespace

void SkinPositions(RenderElement* element) {
  const ElementSkin& skin = element->skin;
  render::RenderVertex* out = element->skinned_vertices.data();
  const Matrix* worlds = skin.bone_worlds.data();
  const BoneInfluence* influences = skin.influences.data();
  const uint32_t* first = skin.first.data();
  const uint32_t count = element->vertex_count;
  for (uint32_t v = 0; v < count; ++v) {
    // One row of the matrix at a time, four lanes wide: x, y, z (and w).
    Lanes sum = {0.0f, 0.0f, 0.0f, 0.0f};
    for (uint32_t k = first[v], end = first[v + 1]; k < end; ++k) {
      const BoneInfluence& in = influences[k];
      const Matrix& m = worlds[in.slot];
      const Lanes p = Row(m, 0) * in.offset.x + Row(m, 1) * in.offset.y + Row(m, 2) * in.offset.z + Row(m, 3);
      sum += p * in.share;
    }
    out[v].x = sum[0];
    out[v].y = sum[1];
    out[v].z = sum[2];
  }
}

void SkinNormalsAndBounds(const uint16_t* indices, RenderElement* element) {
  render::RenderVertex* out = element->skinned_vertices.data();
  const uint32_t count = element->vertex_count;
  if (count == 0) {
    element->skin_centre = {};
    element->skin_radius = 0.0f;
    return;
  }
  float min[3] = {out[0].x, out[0].y, out[0].z}, max[3] = {min[0], min[1], min[2]};
  for (uint32_t v = 0; v < count; ++v) {
    render::RenderVertex& r = out[v];
    r.nx = r.ny = r.nz = 0.0f;
    min[0] = Min(min[0], r.x), max[0] = Max(max[0], r.x);
    min[1] = Min(min[1], r.y), max[1] = Max(max[1], r.y);
    min[2] = Min(min[2], r.z), max[2] = Max(max[2], r.z);
  }
  // Face normals weighted by the triangles' areas (the cross products as
  // they are): no square root per face.
  for (uint32_t t = 0; t < element->triangle_count; ++t) {
    render::RenderVertex& a = out[indices[t * 3]];
    render::RenderVertex& b = out[indices[t * 3 + 1]];
    render::RenderVertex& c = out[indices[t * 3 + 2]];
    const float ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const float vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    a.nx += nx, a.ny += ny, a.nz += nz;
    b.nx += nx, b.ny += ny, b.nz += nz;
    c.nx += nx, c.ny += ny, c.nz += nz;
  }
  const float cx = (min[0] + max[0]) * 0.5f, cy = (min[1] + max[1]) * 0.5f, cz = (min[2] + max[2]) * 0.5f;
  float radius_squared = 0.0f;
  for (uint32_t v = 0; v < count; ++v) {
    render::RenderVertex& r = out[v];
    const float length_squared = r.nx * r.nx + r.ny * r.ny + r.nz * r.nz;
    if (length_squared > 0.0f && std::isfinite(length_squared)) {
      const float inverse = 1.0f / std::sqrt(length_squared);
      r.nx *= inverse;
      r.ny *= inverse;
      r.nz *= inverse;
    } else {
      r.nx = 0.0f;
      r.ny = 0.0f;
      r.nz = 1.0f;
    }
    const float dx = r.x - cx, dy = r.y - cy, dz = r.z - cz;
    radius_squared = Max(radius_squared, dx * dx + dy * dy + dz * dz);
  }
  element->skin_centre = {cx, cy, cz};
  element->skin_radius = std::sqrt(radius_squared);
}

void SkinElement(const uint16_t* indices, RenderElement* element) {
  SkinPositions(element);
  SkinNormalsAndBounds(indices, element);
}

}  // namespace scene::internal

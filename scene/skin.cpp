// Skinning: an element's vertices blended from its bones' world matrices
// each frame, normals rebuilt from the skinned triangles. Bone matrices are
// affine (products of rotations and translations), so the offsets are
// transformed without a division by w.
#include <cmath>

#include "scene/scene_internal.h"

namespace scene::internal {
namespace {

inline void AffineAdd(const Vec3& p, const Matrix& m, float w, float* x, float* y, float* z) {
  *x += w * (p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0]);
  *y += w * (p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1]);
  *z += w * (p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]);
}

}  // namespace

void SkinElement(const uint16_t* indices, RenderElement* element) {
  ElementSkin& skin = element->skin;
  std::vector<render::RenderVertex>& out = element->skinned_vertices;
  const Matrix* worlds = skin.bone_worlds.data();
  const BoneInfluence* influences = skin.influences.data();
  const uint32_t count = element->vertex_count;
  float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  for (uint32_t v = 0; v < count; ++v) {
    const uint32_t begin = skin.first[v], end = skin.first[v + 1];
    float x = 0.0f, y = 0.0f, z = 0.0f, sum = 0.0f;
    for (uint32_t k = begin; k < end; ++k) {
      const BoneInfluence& in = influences[k];
      AffineAdd(in.offset, worlds[in.slot], in.weight, &x, &y, &z);
      sum += in.weight;
    }
    if (!(sum > 0.0f) && end > begin) {
      // Weights that cancel out: the plain average of the bone positions.
      x = y = z = 0.0f;
      for (uint32_t k = begin; k < end; ++k) AffineAdd(influences[k].offset, worlds[influences[k].slot], 1.0f, &x, &y, &z);
      sum = static_cast<float>(end - begin);
    }
    if (sum > 0.0f) {
      x /= sum;
      y /= sum;
      z /= sum;
    }
    render::RenderVertex& r = out[v];
    r.x = x;
    r.y = y;
    r.z = z;
    r.nx = r.ny = r.nz = 0.0f;
    if (v == 0) {
      min[0] = max[0] = x;
      min[1] = max[1] = y;
      min[2] = max[2] = z;
    } else {
      min[0] = std::fmin(min[0], x), max[0] = std::fmax(max[0], x);
      min[1] = std::fmin(min[1], y), max[1] = std::fmax(max[1], y);
      min[2] = std::fmin(min[2], z), max[2] = std::fmax(max[2], z);
    }
  }
  for (uint32_t t = 0; t < element->triangle_count; ++t) {
    render::RenderVertex* c[3] = {&out[indices[t * 3]], &out[indices[t * 3 + 1]], &out[indices[t * 3 + 2]]};
    const Vec3 a{c[0]->x, c[0]->y, c[0]->z};
    const Vec3 n = Normalize(Cross(Sub({c[1]->x, c[1]->y, c[1]->z}, a), Sub({c[2]->x, c[2]->y, c[2]->z}, a)));
    for (render::RenderVertex* r : c) {
      r->nx += n.x;
      r->ny += n.y;
      r->nz += n.z;
    }
  }
  const Vec3 centre{(min[0] + max[0]) * 0.5f, (min[1] + max[1]) * 0.5f, (min[2] + max[2]) * 0.5f};
  float radius_squared = 0.0f;
  for (uint32_t v = 0; v < count; ++v) {
    render::RenderVertex& r = out[v];
    Vec3 n = Normalize({r.nx, r.ny, r.nz});
    if (!(Dot(n, n) > 0.0f)) n = {0.0f, 0.0f, 1.0f};
    r.nx = n.x;
    r.ny = n.y;
    r.nz = n.z;
    const Vec3 d = Sub({r.x, r.y, r.z}, centre);
    radius_squared = std::fmax(radius_squared, Dot(d, d));
  }
  element->skin_centre = centre;
  element->skin_radius = std::sqrt(radius_squared);
}

}  // namespace scene::internal

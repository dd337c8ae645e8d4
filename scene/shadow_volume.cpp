// Shadow volumes on the processor: the light taken into an object's space
// and the shadow mesh's vertices moved away from it. The volume is drawn
// from memory each frame, so extrusion writes into one array whose storage
// is kept from call to call.
#include <chrono>
#include <cmath>
#include <vector>

#include "render/display.h"
#include "scene/draw.h"
#include "scene/draw_internal.h"

namespace scene {
namespace {

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The inverse of an affine world matrix (column 3 = 0, 0, 0, 1). False when
// its 3 × 3 part is singular.
bool InverseAffine(const Matrix& m, Matrix* out) {
  const float(*a)[4] = m.m;
  const float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (!(std::fabs(det) > 1e-30f) || !std::isfinite(det)) return false;
  const float k = 1.0f / det;
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
  // Translation: -(t × inverse rotation).
  for (int c = 0; c < 3; ++c)
    r.m[3][c] = -(a[3][0] * r.m[0][c] + a[3][1] * r.m[1][c] + a[3][2] * r.m[2][c]);
  *out = r;
  return true;
}

bool g_profiling = false;
double g_extrusion_seconds = 0.0;

// The one array every volume is extruded into (main thread only).
std::vector<VolumeVertex> g_volume;

constexpr uint32_t kFvfVolume = render::FVF_XYZ | render::FVF_NORMAL;

}  // namespace

bool LightInObjectSpace(const render::Light& light, const Matrix& world, ObjectSpaceLight* out) {
  if (light.type == render::LIGHT_DIRECTIONAL) {
    Vec3 d = TransformDirectionTransposed(light.direction, world);
    if (!Finite(d)) return false;
    *out = {true, d};
    return true;
  }
  Matrix inverse;
  if (!InverseAffine(world, &inverse)) return false;
  Vec3 p = TransformPoint(light.position, inverse);
  if (!Finite(p)) return false;
  *out = {false, p};
  return true;
}

void ExtrudeShadowVolume(const VolumeVertex* vertices, size_t count, const ObjectSpaceLight& light, float distance,
                         std::vector<VolumeVertex>* out) {
  const auto start = g_profiling ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  out->resize(count);
  VolumeVertex* o = out->data();
  if (light.directional) {
    const Vec3 d = light.vector;
    const Vec3 move = Scale(d, distance);
    for (size_t i = 0; i < count; ++i) {
      const VolumeVertex& v = vertices[i];
      o[i] = v;
      if (Dot(v.normal, d) < 0.0f) o[i].position = Add(v.position, move);
    }
  } else {
    const Vec3 l = light.vector;
    for (size_t i = 0; i < count; ++i) {
      const VolumeVertex& v = vertices[i];
      o[i] = v;
      const Vec3 d = Normalize(Sub(v.position, l));
      if (Dot(v.normal, d) < 0.0f) o[i].position = Add(v.position, Scale(d, distance));
    }
  }
  if (g_profiling)
    g_extrusion_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void SetShadowProfiling(bool on) {
  g_profiling = on;
  g_extrusion_seconds = 0.0;
}
double ShadowExtrusionSeconds() { return g_extrusion_seconds; }

namespace internal {

// Depth-fail counting: back faces count up where they lie behind the
// scene, front faces count down, with the wrapping operations so that a
// count turned negative (a mirrored view culls the other way) still reads
// non-zero.
int DrawShadowVolume(PassContext* ctx, const SceneObject& object, const RenderElement& element, bool* begun) {
  ObjectSpaceLight light;
  if (!LightInObjectSpace(*ctx->light, object.world, &light)) return -1;
  render::Device* device = ctx->device;
  if (!*begun) {
    *begun = true;
    const render::ShaderHandle stencil = ctx->manager->FindShader("STENCIL");
    if (stencil < 0 || render::ApplyPass(stencil, 0) != 0) {
      Report(ctx->scene, "nostencilshader", "no STENCIL material; shadow volumes are drawn with plain states");
      device->SetTexture(0, nullptr);
      render::SetRenderStateCached(render::RS_ALPHABLENDENABLE, 0);
      render::SetRenderStateCached(render::RS_ZENABLE, render::ZB_TRUE);
    }
    device->SetFVF(kFvfVolume);
    device->SetTransform(render::TS_WORLD, object.world);
    render::SetRenderStateCached(render::RS_ZWRITEENABLE, 0);
    render::SetRenderStateCached(render::RS_ZFUNC, render::CMP_LESS);
    render::SetRenderStateCached(render::RS_STENCILFUNC, render::CMP_ALWAYS);
    render::SetRenderStateCached(render::RS_STENCILPASS, render::STENCILOP_KEEP);
    render::SetRenderStateCached(render::RS_STENCILFAIL, render::STENCILOP_KEEP);
  }
  const ShadowMesh& mesh = element.shadow;
  if (mesh.vertices.empty() || mesh.indices.size() < 3) return -1;
  ExtrudeShadowVolume(mesh.vertices.data(), mesh.vertices.size(), light, kShadowExtrusion, &g_volume);
  const uint32_t vertex_count = static_cast<uint32_t>(g_volume.size());
  const uint32_t triangles = static_cast<uint32_t>(mesh.indices.size() / 3);
  const bool mirrored = ctx->manager->mirrored;
  const render::Cull first = mirrored ? render::CULL_CCW : render::CULL_CW;
  const render::Cull second = mirrored ? render::CULL_CW : render::CULL_CCW;
  render::SetRenderStateCached(render::RS_CULLMODE, first);
  render::SetRenderStateCached(render::RS_STENCILZFAIL, render::STENCILOP_INCR);
  device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, vertex_count, triangles, mesh.indices.data(),
                                 render::FMT_INDEX16, g_volume.data(), sizeof(VolumeVertex));
  render::SetRenderStateCached(render::RS_CULLMODE, second);
  render::SetRenderStateCached(render::RS_STENCILZFAIL, render::STENCILOP_DECR);
  device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, vertex_count, triangles, mesh.indices.data(),
                                 render::FMT_INDEX16, g_volume.data(), sizeof(VolumeVertex));
  return 0;
}

}  // namespace internal

}  // namespace scene

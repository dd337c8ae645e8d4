// What the scene-drawing files share: the view of one pass, the pass
// context, the state guard and the pieces each file draws.
#pragma once

#include <deque>
#include <string>

#include "render/materials.h"
#include "scene/draw.h"
#include "scene/scene.h"

namespace scene::internal {

// What one pass sees through: the camera's view or its reflection.
struct PassView {
  const View* base = nullptr;  // the viewport (and, unreflected, everything else)
  Matrix view = Matrix::Identity();
  Matrix projection = Matrix::Identity();
  Plane planes[6];
  Vec3 eye;
  Matrix orientation = Matrix::Identity();  // rows right, up, forward
};

struct PassContext {
  Scene* scene = nullptr;
  render::Device* device = nullptr;
  render::ShaderManager* manager = nullptr;
  PassView pv;
  int mirror_budget = 0;
  uint32_t clip_mask = 0;                 // user clip planes of this pass
  const render::Light* light = nullptr;   // the shadow pass's light
  std::deque<render::DrawItem> items;     // queued until the pass flushes
  int handed_on = 0;
  double now = 0.0;                       // the request's script time
  const float* sound_bands = nullptr;     // the request's bands (nullptr: none)
};

// Puts back, on every exit of Draw, what the caller relies on: no queued
// items, the target stack's depth, the manager's mirrored flag, the
// current camera, the viewport, and fog, lighting, specular, local viewer,
// clip planes and stencil off, all colour channels written, mip bias 0,
// stage 0 on its own coordinates untransformed, stage 1 off, no additive
// override, the identity world matrix.
class DrawStateGuard {
 public:
  DrawStateGuard(render::Device* device, render::ShaderManager* manager);
  ~DrawStateGuard();
  DrawStateGuard(const DrawStateGuard&) = delete;
  DrawStateGuard& operator=(const DrawStateGuard&) = delete;

 private:
  render::Device* device_;
  render::ShaderManager* manager_;
  int target_depth_ = 0;
  bool mirrored_ = false;
  const render::Camera* camera_ = nullptr;
  render::Viewport viewport_;
};

// True the first time `key` is reported for the scene (until
// ForgetDrawReports).
bool FirstReport(const Scene* scene, const std::string& key);
// Raises `text` once per scene and key on the run-time message sink.
void Report(const Scene* scene, const std::string& key, const std::string& text);

PassView PassViewOf(const View& view);
bool SphereOutside(const PassView& pv, const Vec3& centre, float radius);
// View, projection and the scene's viewport on the device. -1 for an empty
// viewport (nothing is drawn).
int ApplyPassView(const PassContext& ctx);

// The whole order of one pass (own_view: clear depth first).
void DrawPass(PassContext* ctx, bool own_view, bool clear_colour);
void DrawObjects(PassContext* ctx, uint32_t mode);
// One object's elements. depth_only_mirror: draw a mirror (invisible) for
// its depth.
int DrawObjectElements(PassContext* ctx, int32_t file_index, uint32_t mode, bool depth_only_mirror);
void FlushPass(PassContext* ctx);
bool UsesLighting(const Scene& scene);
void SetSceneLights(PassContext* ctx);

// shadow_volume.cpp: one element's volume for ctx->light; the first of an
// object begins the STENCIL pass. 0, or -1 when nothing was drawn.
int DrawShadowVolume(PassContext* ctx, const SceneObject& object, const RenderElement& element, bool* begun);
// mirrors.cpp: every mirror's reflection and depth, nearest first.
void DrawMirrors(PassContext* ctx);
// beams.cpp: one element's beam.
void DrawBeam(PassContext* ctx, const SceneObject& object, const RenderElement& element, render::ShaderHandle shader);

}  // namespace scene::internal

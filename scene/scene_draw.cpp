// Drawing a scene.
//
// Design: one Draw builds a pass context (the view it sees through, the
// mirror budget, the light of the current shadow pass, the draw items of
// the pass) and runs the fixed order: clear, device states, mirrors (each
// a nested pass through the reflected view), material, trauma objects,
// lights, fog, the objects in one or several passes, procedural objects,
// beams. Objects are walked in the scene's parents-first order rather than
// recursively; evaluation (world matrices, camera, lights, skins) is the
// scene graph's and happens once per Draw.
//
// Items handed to the render queue live in the pass context until the
// pass flushes; the guard at the top of Draw flushes whatever an early exit
// left queued and puts back every state the caller may rely on.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/postfx.h"
#include "scene/draw.h"
#include "scene/draw_internal.h"

namespace scene {
namespace internal {
namespace {

std::map<const Scene*, std::set<std::string>> g_reports;
std::function<void(ProceduralStage, const ProceduralDrawContext&)> g_procedural_drawer;

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

constexpr uint32_t kAllColour =
    render::COLORWRITE_RED | render::COLORWRITE_GREEN | render::COLORWRITE_BLUE | render::COLORWRITE_ALPHA;

}  // namespace

bool FirstReport(const Scene* scene, const std::string& key) { return g_reports[scene].insert(key).second; }

void Report(const Scene* scene, const std::string& key, const std::string& text) {
  if (!FirstReport(scene, key)) return;
  core::RaiseRuntimeMessage("Scene: %s", text.c_str());
}

// ---------------------------------------------------------------------------
// Views
// ---------------------------------------------------------------------------

PassView PassViewOf(const View& view) {
  PassView pv;
  pv.base = &view;
  pv.view = view.ViewMatrix();
  pv.projection = view.Projection();
  for (int i = 0; i < 6; ++i) pv.planes[i] = view.FrustumPlanes()[i];
  pv.eye = view.Position();
  pv.orientation = view.Orientation();
  return pv;
}

bool SphereOutside(const PassView& pv, const Vec3& centre, float radius) {
  for (const Plane& plane : pv.planes)
    if (PlaneDistance(plane, centre) < -radius) return true;
  return false;
}

int ApplyPassView(const PassContext& ctx) {
  render::Device* device = ctx.device;
  std::shared_ptr<render::Surface> target = device->GetRenderTarget();
  if (!target) return -1;
  const render::SurfaceDesc desc = target->GetDesc();
  render::Viewport viewport;
  if (!ctx.pv.base->PixelViewport(desc.width, desc.height, &viewport)) return -1;
  device->SetTransform(render::TS_VIEW, ctx.pv.view);
  device->SetTransform(render::TS_PROJECTION, ctx.pv.projection);
  device->SetViewport(viewport);
  return 0;
}

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------

void FlushPass(PassContext* ctx) {
  render::FlushRenderQueue();
  ctx->items.clear();
}

namespace {

void Submit(PassContext* ctx, const SceneObject& object, const RenderElement& element, render::ShaderHandle shader,
            const Vec3& centre) {
  render::DrawItem& item = ctx->items.emplace_back();
  const Mesh& mesh = object.mesh;
  item.indices = mesh.indices.data() + element.first_index;
  item.triangle_count = static_cast<int32_t>(element.triangle_count);
  if (element.skinned) {
    item.vertices = element.skinned_vertices.data();
    item.vertex_count = static_cast<uint32_t>(element.skinned_vertices.size());
    item.world = Matrix::Identity();
  } else {
    item.vertices = mesh.vertices.data() + element.first_vertex;
    item.vertex_count = element.vertex_count;
    item.world = object.world;
    if (mesh.vertex_buffer >= 0 && mesh.index_buffer >= 0) {
      item.vertex_buffer = mesh.vertex_buffer;
      item.index_buffer = mesh.index_buffer;
      item.base_vertex = element.first_vertex;
      item.start_index = element.first_index;
    }
  }
  item.depth = Length(Sub(centre, ctx->pv.eye));
  item.shader = shader;
  if (render::SubmitDrawItem(&item) == 0) ++ctx->handed_on;
}

}  // namespace

int DrawObjectElements(PassContext* ctx, int32_t file_index, uint32_t mode, bool depth_only_mirror) {
  SceneObject* object = ctx->scene->ObjectAt(file_index);
  if (!object) return 0;
  if (!depth_only_mirror && (!object->visible || object->placeholder)) return 0;
  const int before = ctx->handed_on;
  const Vec3 centre = object->world_position;
  if (!Finite(centre)) {
    Report(ctx->scene, "nan:" + object->name,
           "object " + object->name + " has no finite position; it is not drawn and casts no shadow");
    return 0;
  }
  const bool cull = (mode & kDrawCullOff) == 0;
  const bool object_outside = cull && SphereOutside(ctx->pv, centre, object->mesh.radius);
  bool volume_begun = false;

  for (RenderElement& element : object->mesh.elements) {
    if (element.skinned) {
      if (!element.drawable || element.skinned_vertices.empty()) continue;
      if (cull && SphereOutside(ctx->pv, element.skin_centre, element.skin_radius)) continue;
    } else if (object_outside) {
      continue;
    }
    if (element.triangle_count == 0) continue;
    render::Shader* shader = ctx->manager->GetShaderByHandle(element.material);
    if (!shader) {
      // No shader: the NULL shader, in the passes that draw non-receivers.
      if (mode & kDrawNonReceivers) Submit(ctx, *object, element, render::kNullShader, centre);
      continue;
    }
    if (mode & kDrawBeams) {
      if (shader->project_beams && !element.skinned) {
        DrawBeam(ctx, *object, element, element.material);
        ++ctx->handed_on;
      }
      continue;
    }
    if (mode & kDrawCullOff) {
      if (shader->project_shadows && !element.skinned && element.has_shadow && ctx->light) {
        if (DrawShadowVolume(ctx, *object, element, &volume_begun) == 0) ++ctx->handed_on;
      }
      continue;
    }
    const bool receives = shader->receive_shadows != 0;
    if (((mode & kDrawReceivers) && receives) || ((mode & kDrawNonReceivers) && !receives))
      Submit(ctx, *object, element, element.material, centre);
  }
  return ctx->handed_on - before;
}

void DrawObjects(PassContext* ctx, uint32_t mode) {
  const Scene& scene = *ctx->scene;
  for (int32_t index : scene.order) {
    if (index < 0 || static_cast<size_t>(index) >= scene.file_objects.size()) continue;
    // Mirrors are drawn by the mirror step only; their children are drawn
    // here like any other object.
    if (scene.file_objects[static_cast<size_t>(index)].mirror) continue;
    DrawObjectElements(ctx, index, mode, false);
  }
}

// ---------------------------------------------------------------------------
// Lights and fog
// ---------------------------------------------------------------------------

namespace {

// Sets device light `slot` to `light`; false (slot off, reported once) when
// the device refuses it.
bool SetDeviceLight(PassContext* ctx, uint32_t slot, const render::Light& light, size_t scene_index) {
  if (ctx->device->SetLight(slot, light) != 0) {
    Report(ctx->scene, "light:" + std::to_string(scene_index),
           "light " + std::to_string(scene_index) + " is refused by the device; it lights nothing");
    ctx->device->LightEnable(slot, false);
    return false;
  }
  ctx->device->LightEnable(slot, true);
  return true;
}

}  // namespace

bool UsesLighting(const Scene& scene) { return !scene.vertex_colours && !scene.lights.empty(); }

void SetSceneLights(PassContext* ctx) {
  const Scene& scene = *ctx->scene;
  render::SetRenderStateCached(render::RS_COLORVERTEX, 1);
  render::SetRenderStateCached(render::RS_DIFFUSEMATERIALSOURCE, render::MCS_COLOR1);
  render::SetRenderStateCached(render::RS_SPECULARMATERIALSOURCE, render::MCS_COLOR1);
  render::SetRenderStateCached(render::RS_AMBIENTMATERIALSOURCE, render::MCS_MATERIAL);
  render::SetRenderStateCached(render::RS_AMBIENT, 0);
  render::SetRenderStateCached(render::RS_CLIPPING, 1);
  for (uint32_t slot = 0; slot < render::kMaxLights; ++slot) {
    const bool used = !scene.vertex_colours && slot < scene.lights.size() && scene.lights[slot].on_device;
    if (used) SetDeviceLight(ctx, slot, scene.lights[slot].evaluated, slot);
    else ctx->device->LightEnable(slot, false);
  }
  render::SetRenderStateCached(render::RS_LIGHTING, UsesLighting(scene) ? 1 : 0);
}

void SetSceneFog(const Scene& scene) {
  render::SetRenderStateCached(render::RS_FOGENABLE, scene.fog ? 1 : 0);
  if (!scene.fog) return;
  render::SetRenderStateCached(render::RS_FOGTABLEMODE, render::FOG_LINEAR);
  render::SetRenderStateCached(render::RS_FOGSTART, render::FloatBits(scene.fog_start));
  render::SetRenderStateCached(render::RS_FOGEND, render::FloatBits(scene.fog_end));
  render::SetRenderStateCached(render::RS_FOGCOLOR, scene.fog_colour);
}

// ---------------------------------------------------------------------------
// The object passes
// ---------------------------------------------------------------------------

namespace {

bool DepthHasStencil(render::Device* device) {
  std::shared_ptr<render::Surface> depth = device->GetDepthStencilSurface();
  return depth && render::FormatHasStencil(depth->GetDesc().format);
}

void ShadowedPasses(PassContext* ctx) {
  Scene& scene = *ctx->scene;
  render::Device* device = ctx->device;

  // a. Everything that receives no shadow, lit as usual.
  DrawObjects(ctx, kDrawNonReceivers);
  FlushPass(ctx);

  // b. Receivers in the ambient light of all lights.
  render::Light ambient;
  ambient.type = render::LIGHT_DIRECTIONAL;
  ambient.direction = {0.0f, 0.0f, 1.0f};
  for (const SceneLight& light : scene.lights) {
    ambient.ambient.r += light.evaluated.ambient.r;
    ambient.ambient.g += light.evaluated.ambient.g;
    ambient.ambient.b += light.evaluated.ambient.b;
  }
  for (uint32_t slot = 0; slot < render::kMaxLights; ++slot) device->LightEnable(slot, false);
  if (device->SetLight(0, ambient) == 0) device->LightEnable(0, true);
  DrawObjects(ctx, kDrawReceivers);
  FlushPass(ctx);

  // c. Per light: its shadow volumes counted into the stencil, then the
  // receivers added where the count stayed 0. Fogged towards black: the
  // ambient pass already carries the fog colour once.
  const bool stencil = DepthHasStencil(device);
  if (!stencil)
    Report(ctx->scene, "nostencil", "the target has no stencil; shadowed lights are drawn without shadows");
  if (scene.fog) render::SetRenderStateCached(render::RS_FOGCOLOR, 0);
  for (size_t i = 0; i < scene.lights.size(); ++i) {
    render::Light light = scene.lights[i].evaluated;
    light.ambient = {};
    if (!SetDeviceLight(ctx, 0, light, i)) continue;
    if (stencil) {
      device->Clear(0, nullptr, render::CLEAR_STENCIL, 0, 1.0f, 0);
      render::SetRenderStateCached(render::RS_STENCILENABLE, 1);
      render::SetRenderStateCached(render::RS_STENCILMASK, 0xFFFFFFFFu);
      render::SetRenderStateCached(render::RS_STENCILWRITEMASK, 0xFFFFFFFFu);
      render::SetRenderStateCached(render::RS_LIGHTING, 0);
      render::SetRenderStateCached(render::RS_COLORWRITEENABLE, 0);
      ctx->light = &scene.lights[i].evaluated;
      DrawObjects(ctx, kDrawCullOff);
      ctx->light = nullptr;
      render::SetRenderStateCached(render::RS_COLORWRITEENABLE, kAllColour);
      render::SetRenderStateCached(render::RS_STENCILFUNC, render::CMP_EQUAL);
      render::SetRenderStateCached(render::RS_STENCILREF, 0);
      render::SetRenderStateCached(render::RS_STENCILFAIL, render::STENCILOP_KEEP);
      render::SetRenderStateCached(render::RS_STENCILZFAIL, render::STENCILOP_KEEP);
      render::SetRenderStateCached(render::RS_STENCILPASS, render::STENCILOP_KEEP);
      device->SetFVF(render::kFvfRenderVertex);
    }
    render::SetRenderStateCached(render::RS_LIGHTING, 1);
    render::SetAdditiveOverride(true);
    DrawObjects(ctx, kDrawReceivers);
    FlushPass(ctx);
    render::SetAdditiveOverride(false);
    render::SetRenderStateCached(render::RS_STENCILENABLE, 0);
  }
  if (scene.fog) render::SetRenderStateCached(render::RS_FOGCOLOR, scene.fog_colour);
  // The procedural objects drawn next see the lights of the plain pass.
  SetSceneLights(ctx);
}

void CallProcedurals(const PassContext& ctx, ProceduralStage stage) {
  if (!g_procedural_drawer) return;
  ProceduralDrawContext pdc;
  pdc.scene = ctx.scene;
  pdc.time = ctx.scene->evaluated_time;
  pdc.now = ctx.now;
  pdc.view = &ctx.pv.view;
  pdc.eye = ctx.pv.eye;
  pdc.orientation = ctx.pv.orientation;
  pdc.sound_bands = ctx.sound_bands;
  g_procedural_drawer(stage, pdc);
}

}  // namespace

// One pass of Draw: everything after the view is chosen.
void DrawPass(PassContext* ctx, bool own_view, bool clear_colour) {
  Scene& scene = *ctx->scene;
  render::Device* device = ctx->device;

  // 1. The view, and fresh depth for the scene's own.
  if (ApplyPassView(*ctx) != 0) return;  // an empty viewport draws nothing
  if (own_view) {
    uint32_t flags = render::CLEAR_ZBUFFER;
    if (DepthHasStencil(device)) flags |= render::CLEAR_STENCIL;
    if (clear_colour) flags |= render::CLEAR_TARGET;
    device->Clear(0, nullptr, flags, 0xFF000000u, 1.0f, 0);
  }

  // 2. Device states the passes build on.
  render::SetRenderStateCached(render::RS_ZFUNC, render::CMP_ALWAYS);
  render::SetStageStateCached(0, render::TSS_COLOROP, render::TOP_MODULATE);
  render::SetStageStateCached(0, render::TSS_COLORARG1, render::TA_TEXTURE);
  render::SetStageStateCached(0, render::TSS_COLORARG2, render::TA_DIFFUSE);
  render::SetStageStateCached(0, render::TSS_ADDRESSU, render::TADDRESS_WRAP);
  render::SetStageStateCached(0, render::TSS_ADDRESSV, render::TADDRESS_WRAP);
  render::SetStageStateCached(0, render::TSS_MINFILTER, render::TEXF_LINEAR);
  render::SetStageStateCached(0, render::TSS_MAGFILTER, render::TEXF_LINEAR);
  render::SetStageStateCached(0, render::TSS_MIPFILTER, render::TEXF_POINT);
  render::SetStageStateCached(0, render::TSS_MIPMAPLODBIAS, render::FloatBits(-1.0f));
  device->SetFVF(render::kFvfRenderVertex);

  // 3. Mirrors.
  if (ctx->mirror_budget > 0) DrawMirrors(ctx);

  // 4. Material.
  render::Material material;
  device->SetMaterial(material);

  // 5-7. Trauma objects, lights, fog.
  CallProcedurals(*ctx, ProceduralStage::kBeforeLights);
  SetSceneLights(ctx);
  SetSceneFog(scene);

  // 8. Objects.
  if (scene.shadows && UsesLighting(scene)) {
    ShadowedPasses(ctx);
  } else {
    DrawObjects(ctx, kDrawReceivers | kDrawNonReceivers);
    FlushPass(ctx);
  }

  // 9-10. Procedural objects; particles unlit and unfogged.
  CallProcedurals(*ctx, ProceduralStage::kAfterObjects);
  render::SetRenderStateCached(render::RS_FOGENABLE, 0);
  render::SetRenderStateCached(render::RS_SPECULARENABLE, 0);
  render::SetRenderStateCached(render::RS_LOCALVIEWER, 0);
  render::SetRenderStateCached(render::RS_LIGHTING, 0);
  CallProcedurals(*ctx, ProceduralStage::kParticles);

  // 11. Beams.
  DrawObjects(ctx, kDrawBeams);
  FlushPass(ctx);
}

// ---------------------------------------------------------------------------
// The guard
// ---------------------------------------------------------------------------

DrawStateGuard::DrawStateGuard(render::Device* device, render::ShaderManager* manager)
    : device_(device), manager_(manager) {
  target_depth_ = render::RenderTargetDepth();
  mirrored_ = manager->mirrored;
  camera_ = render::CurrentCamera();
  viewport_ = device->GetViewport();
}

DrawStateGuard::~DrawStateGuard() {
  bool queued = false;
  for (int b = 0; b < render::kPriorityCount; ++b) queued = queued || render::QueuedItemCount(b) > 0;
  if (queued) render::FlushRenderQueue();
  while (render::RenderTargetDepth() > target_depth_ && render::PopRenderTarget() == 0) {
  }
  manager_->mirrored = mirrored_;
  render::SetAdditiveOverride(false);
  render::SetCurrentCamera(camera_);
  render::SetRenderStateCached(render::RS_FOGENABLE, 0);
  render::SetRenderStateCached(render::RS_LIGHTING, 0);
  render::SetRenderStateCached(render::RS_SPECULARENABLE, 0);
  render::SetRenderStateCached(render::RS_LOCALVIEWER, 0);
  render::SetRenderStateCached(render::RS_CLIPPLANEENABLE, 0);
  render::SetRenderStateCached(render::RS_STENCILENABLE, 0);
  render::SetRenderStateCached(render::RS_COLORWRITEENABLE, kAllColour);
  render::SetStageStateCached(0, render::TSS_MIPMAPLODBIAS, render::FloatBits(0.0f));
  render::SetStageStateCached(0, render::TSS_TEXCOORDINDEX, 0);
  render::SetStageStateCached(0, render::TSS_TEXTURETRANSFORMFLAGS, render::TTFF_DISABLE);
  render::SetStageStateCached(1, render::TSS_COLOROP, render::TOP_DISABLE);
  render::SetStageStateCached(1, render::TSS_ALPHAOP, render::TOP_DISABLE);
  device_->SetTransform(render::TS_WORLD, Matrix::Identity());
  device_->SetViewport(viewport_);
}

}  // namespace internal

// ---------------------------------------------------------------------------
// The public calls
// ---------------------------------------------------------------------------

void Draw(Scene* scene, const DrawRequest& request) {
  render::Device* device = render::LayerDevice();
  render::ShaderManager* manager = render::CurrentShaderManager();
  if (!scene || !device || !manager) return;
  internal::DrawStateGuard guard(device, manager);
  scene->Evaluate(request.now);
  if (scene->evaluated_camera < 0 && !request.view) {
    internal::Report(scene, "nocamera", "the scene has no camera; nothing is drawn");
    return;
  }
  const View& view = request.view ? *request.view : scene->view;
  internal::PassContext ctx;
  ctx.scene = scene;
  ctx.device = device;
  ctx.manager = manager;
  ctx.pv = internal::PassViewOf(view);
  ctx.mirror_budget = request.mirror_budget;
  ctx.now = request.now;
  ctx.sound_bands = request.sound_bands;
  render::SetCurrentCamera(&view);
  internal::DrawPass(&ctx, request.view == nullptr, request.clear_colour);
}

int DrawObject(Scene* scene, int32_t file_index, uint32_t mode, const render::Light* light) {
  render::Device* device = render::LayerDevice();
  render::ShaderManager* manager = render::CurrentShaderManager();
  if (!scene || !device || !manager) return 0;
  internal::PassContext ctx;
  ctx.scene = scene;
  ctx.device = device;
  ctx.manager = manager;
  ctx.pv = internal::PassViewOf(scene->view);
  ctx.light = light;
  // Children first, each before its own children's parent: a post-order
  // walk with an explicit stack.
  std::vector<std::pair<int32_t, size_t>> stack{{file_index, 0}};
  int count = 0;
  while (!stack.empty()) {
    auto& [index, next] = stack.back();
    const SceneObject* object = scene->ObjectAt(index);
    if (object && next < object->children.size()) {
      const int32_t child = object->children[next++];
      stack.push_back({child, 0});
      continue;
    }
    if (object) count += internal::DrawObjectElements(&ctx, index, mode, false);
    stack.pop_back();
  }
  internal::FlushPass(&ctx);
  return count;
}

void SetProceduralDrawer(std::function<void(ProceduralStage, const ProceduralDrawContext&)> drawer) {
  internal::g_procedural_drawer = std::move(drawer);
}

void ForgetDrawReports(const Scene* scene) { internal::g_reports.erase(scene); }

}  // namespace scene

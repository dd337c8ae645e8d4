// Light beams: the beam element drawn opaque, with a camera-facing flare,
// into a small work texture, blurred outward from the centre by the shared
// radial blur, and added over the scene's viewport with the flare's states.
//
// BEAMOPAQUE draws with the element's own texture: its pass-0 texture handle
// is swapped in for the draw and put back after the flush, so no reference
// count changes hands.
#include <cmath>

#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/postfx.h"
#include "scene/draw.h"
#include "scene/draw_internal.h"

namespace scene::internal {
namespace {

constexpr int kBlurPasses = 12;
constexpr float kBlurStep = 0.01f;
constexpr uint32_t kBlurColour = 0xFF858585u;

const uint16_t kQuadIndices[6] = {0, 2, 1, 0, 3, 2};

// The flare: a square facing the camera, centred on the object, half-size
// the mesh radius, drawn with the current pass's states.
void DrawFlareSquare(PassContext* ctx, const SceneObject& object) {
  const Matrix& o = ctx->pv.orientation;
  const Vec3 right = Scale(Vec3{o.m[0][0], o.m[0][1], o.m[0][2]}, object.mesh.radius);
  const Vec3 up = Scale(Vec3{o.m[1][0], o.m[1][1], o.m[1][2]}, object.mesh.radius);
  const Vec3 c = object.world_position;
  const Vec3 corners[4] = {Add(Sub(c, right), up), Add(Add(c, right), up), Sub(Add(c, right), up),
                           Sub(Sub(c, right), up)};
  const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  render::RenderVertex quad[4];
  for (int i = 0; i < 4; ++i)
    quad[i] = {corners[i].x, corners[i].y, corners[i].z, 0.0f, 0.0f, -1.0f, 0x00FFFFFFu, uv[i][0], uv[i][1]};
  ctx->device->SetTransform(render::TS_WORLD, Matrix::Identity());
  ctx->device->SetFVF(render::kFvfRenderVertex);
  render::SetRenderStateCached(render::RS_CULLMODE, render::CULL_NONE);
  ctx->device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, 4, 2, kQuadIndices, render::FMT_INDEX16, quad,
                                      sizeof(render::RenderVertex));
}

// The blurred picture over the scene's viewport, pre-transformed.
void DrawOverViewport(PassContext* ctx, render::TextureId texture) {
  const render::Viewport vp = ctx->device->GetViewport();
  struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
  };
  const float l = static_cast<float>(vp.x) - 0.5f, t = static_cast<float>(vp.y) - 0.5f;
  const float r = l + static_cast<float>(vp.width), b = t + static_cast<float>(vp.height);
  const ScreenVertex quad[4] = {{l, t, 0.0f, 1.0f, 0xFFFFFFFFu, 0.0f, 0.0f},
                                {r, t, 0.0f, 1.0f, 0xFFFFFFFFu, 1.0f, 0.0f},
                                {r, b, 0.0f, 1.0f, 0xFFFFFFFFu, 1.0f, 1.0f},
                                {l, b, 0.0f, 1.0f, 0xFFFFFFFFu, 0.0f, 1.0f}};
  ctx->device->SetTexture(0, render::GetBaseTextureById(texture));
  ctx->device->SetFVF(render::kFvfScreenVertex);
  ctx->device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, 4, 2, kQuadIndices, render::FMT_INDEX16, quad,
                                      sizeof(ScreenVertex));
  ctx->device->SetFVF(render::kFvfRenderVertex);
}

}  // namespace

void DrawBeam(PassContext* ctx, const SceneObject& object, const RenderElement& element,
              render::ShaderHandle shader) {
  render::ShaderManager* manager = ctx->manager;
  const render::ShaderHandle opaque = manager->FindShader("BEAMOPAQUE");
  if (opaque < 0) {
    Report(ctx->scene, "nobeamopaque", "no BEAMOPAQUE material; beams are not drawn");
    return;
  }
  const render::ShaderHandle flare = manager->FindShader("BEAMFLARE");
  if (flare < 0) {
    // Without the flare's pass the blurred picture is never laid over the
    // scene: the beam would be drawn for nothing.
    Report(ctx->scene, "nobeamflare", "no BEAMFLARE material; beams are not shown");
    return;
  }
  const render::TextureId work0 = render::AuxRenderTexture(0), work1 = render::AuxRenderTexture(1);
  const render::TextureId depth = render::AuxDepthSurface(0);
  if (work0 < 0 || work1 < 0 || depth < 0 || render::PushRenderTarget(work0, depth) != 0) {
    Report(ctx->scene, "nobeamtarget", "the beam work textures are missing; beams are not drawn");
    return;
  }
  render::Device* device = ctx->device;
  // 1. A fresh picture, seen through the camera over the whole work texture.
  uint32_t clear = render::CLEAR_TARGET | render::CLEAR_ZBUFFER;
  std::shared_ptr<render::Surface> depth_surface = device->GetDepthStencilSurface();
  if (depth_surface && render::FormatHasStencil(depth_surface->GetDesc().format)) clear |= render::CLEAR_STENCIL;
  device->Clear(0, nullptr, clear, 0, 1.0f, 0);

  // 2. The flare.
  if (render::ApplyPass(flare, 0) == 0) DrawFlareSquare(ctx, object);

  // 3. The element, opaque, with its own texture.
  render::Shader* opaque_shader = manager->GetShaderByHandle(opaque);
  const render::Shader* own = manager->GetShaderByHandle(shader);
  const bool swap = opaque_shader && !opaque_shader->passes.empty();
  render::TextureHandle saved = -1;
  if (swap) {
    saved = opaque_shader->passes[0].texture;
    opaque_shader->passes[0].texture = own && !own->passes.empty() ? own->passes[0].texture : -1;
  }
  render::DrawItem item;
  const Mesh& mesh = object.mesh;
  item.vertices = mesh.vertices.data() + element.first_vertex;
  item.vertex_count = element.vertex_count;
  item.indices = mesh.indices.data() + element.first_index;
  item.triangle_count = static_cast<int32_t>(element.triangle_count);
  item.world = object.world;
  item.depth = Length(Sub(object.world_position, ctx->pv.eye));
  item.shader = opaque;
  render::SubmitDrawItem(&item);
  render::FlushRenderQueue();
  if (swap) opaque_shader->passes[0].texture = saved;

  // 4. Back to the scene's target and view; the blur.
  render::PopRenderTarget();
  const render::TextureId blurred = render::RadialBlur(work0, work0, work1, kBlurPasses, kBlurStep, kBlurColour);
  ApplyPassView(*ctx);
  render::SetRenderStateCached(render::RS_CLIPPLANEENABLE, ctx->clip_mask);
  if (blurred < 0) return;

  // 5. The flare into the scene, then the blurred picture over the viewport
  // with the flare's states.
  if (render::ApplyPass(flare, 0) == 0) {
    DrawFlareSquare(ctx, object);
    DrawOverViewport(ctx, blurred);
  }
}

}  // namespace scene::internal

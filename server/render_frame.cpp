// The Server's frame: decks composed in the 512 x 512 scratch framebuffer,
// which is then stretched onto the output's back buffer and presented.
//
// Everything is drawn into the fixed-size scratch targets whatever the
// output size, so effects and mixers see one target size; only the last
// copy depends on the output.
#include <cmath>

#include "fx/fx.h"
#include "render/render.h"
#include "server/server_internal.h"

namespace server::internal {
namespace {

struct ScratchTargets {
  std::shared_ptr<render::Texture> framebuffer;
  std::shared_ptr<render::Texture> texture;
  std::shared_ptr<render::Surface> depth;
};
ScratchTargets g_scratch;

std::shared_ptr<render::Texture> MakeScratchTexture(render::Device* device) {
  return device->CreateTexture(kScratchSize, kScratchSize, 1, render::USAGE_RENDERTARGET, render::FMT_X8R8G8B8,
                               render::POOL_DEFAULT);
}

// The depth surface: with a stencil when the display mode has one.
std::shared_ptr<render::Surface> MakeScratchDepth(render::Device* device) {
  const render::DisplayMode* mode = render::CurrentDisplayMode();
  bool stencil = mode && (mode->flags & render::kModeHasStencil);
  if (stencil) return device->CreateDepthStencilSurface(kScratchSize, kScratchSize, render::FMT_D24S8);
  for (render::Format format : {render::FMT_D16, render::FMT_D32})
    if (auto depth = device->CreateDepthStencilSurface(kScratchSize, kScratchSize, format)) return depth;
  return nullptr;
}

uint32_t DepthClearFlags(const render::Surface* depth) {
  if (!depth) return 0;
  uint32_t flags = render::CLEAR_ZBUFFER;
  if (render::FormatHasStencil(depth->GetDesc().format)) flags |= render::CLEAR_STENCIL;
  return flags;
}

struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u, v;
};
static_assert(sizeof(ScreenVertex) == 28, "matches kFvfScreenVertex");

// Stretches `texture` over the whole current target, opaque.
void CopyToTarget(render::Device* device, const std::shared_ptr<render::Texture>& texture, float width,
                  float height) {
  using namespace render;
  SetRenderStateCached(RS_TEXTUREFACTOR, 0xFFFFFFFFu);
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  SetRenderStateCached(RS_ZWRITEENABLE, 0);
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
  SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
  SetStageStateCached(0, TSS_COLOROP, TOP_MODULATE);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_COLORARG2, TA_DIFFUSE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_TFACTOR);
  SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_MINFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MAGFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MIPFILTER, TEXF_NONE);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  device->SetTexture(0, texture);
  device->SetFVF(kFvfScreenVertex);
  // Corners on pixel edges (pixel centres are on integers), so each texel
  // lands where it belongs.
  const float l = -0.5f, t = -0.5f, r = width - 0.5f, b = height - 0.5f;
  const ScreenVertex quad[4] = {
      {l, t, 0.0f, 1.0f, 0xFFFFFFFFu, 0.0f, 0.0f},
      {r, t, 0.0f, 1.0f, 0xFFFFFFFFu, 1.0f, 0.0f},
      {r, b, 0.0f, 1.0f, 0xFFFFFFFFu, 1.0f, 1.0f},
      {l, b, 0.0f, 1.0f, 0xFFFFFFFFu, 0.0f, 1.0f},
  };
  static const uint16_t kIndices[6] = {0, 2, 1, 0, 3, 2};
  device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kIndices, FMT_INDEX16, quad, sizeof(ScreenVertex));
  device->SetTexture(0, nullptr);
}

}  // namespace

int CreateScratchTargets() {
  render::Device* device = render::GetDevice();
  ReleaseScratchTargets();
  g_scratch.framebuffer = device ? MakeScratchTexture(device) : nullptr;
  if (!g_scratch.framebuffer) {
    core::ShowError("Error initializing scratch framebuffer");
    return -1;
  }
  g_scratch.texture = MakeScratchTexture(device);
  if (!g_scratch.texture) {
    core::ShowError("Error initializing scratch texture");
    ReleaseScratchTargets();
    return -1;
  }
  g_scratch.depth = MakeScratchDepth(device);
  if (!g_scratch.depth) {
    core::ShowError("Error initializing scratch depth texture");
    ReleaseScratchTargets();
    return -1;
  }
  g_scratch.framebuffer->SetName("scratch framebuffer");
  g_scratch.texture->SetName("scratch texture");
  g_scratch.depth->SetName("scratch depth");
  return 0;
}

void ReleaseScratchTargets() {
  g_scratch.depth.reset();
  g_scratch.texture.reset();
  g_scratch.framebuffer.reset();
}

bool RenderFrame(double now) {
  render::Device* device = render::GetDevice();
  FlushRenderQueue();
  if (!device || !g_scratch.framebuffer || render::CheckDevice() != 0) return false;

  device->BeginScene();
  std::shared_ptr<render::Surface> back_color = device->GetRenderTarget();
  std::shared_ptr<render::Surface> back_depth = device->GetDepthStencilSurface();
  device->SetRenderTarget(g_scratch.framebuffer->GetSurfaceLevel(0), g_scratch.depth);
  device->Clear(0, nullptr, render::CLEAR_TARGET | DepthClearFlags(g_scratch.depth.get()), 0xFF000000u, 1.0f, 0);

  bool drew = false;
  for (int i = 0; i < kDeckCount; ++i) {
    Deck* deck = GetDeck(i);
    EffectEntry* entry = FindEffect(deck->record.effect_id);
    // A deck whose effect never loaded, or whose reload failed, has nothing
    // to draw.
    if (!entry || !entry->script) continue;
    double time = DeckEffectTime(deck, now, entry->script->Length());
    fx::SetEffectTime(static_cast<float>(time));
    if (MixDeck(deck, entry) == 0) drew = true;
  }

  device->SetRenderTarget(back_color, back_depth);
  render::SurfaceDesc back = back_color ? back_color->GetDesc() : render::SurfaceDesc();
  CopyToTarget(device, g_scratch.framebuffer, static_cast<float>(back.width), static_cast<float>(back.height));
  device->EndScene();
  device->Present();
  return drew;
}

}  // namespace server::internal

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
  render::TextureId framebuffer = render::kNoId;
  render::TextureId texture = render::kNoId;
  render::TextureId depth = render::kNoId;
};
ScratchTargets g_scratch;

struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u, v;
};
static_assert(sizeof(ScreenVertex) == 28, "matches kFvfScreenVertex");

// Stretches `texture` over the whole current target, opaque: the same
// draw as a mixer's full-screen draw with alpha 1.
void CopyToTarget(render::Device* device, const std::shared_ptr<render::BaseTexture>& texture, float width,
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
  ReleaseScratchTargets();
  g_scratch.framebuffer = render::CreateRenderTexture(kScratchSize, kScratchSize, render::FMT_X8R8G8B8, 1);
  if (g_scratch.framebuffer == render::kNoId) {
    core::ShowError("Error initializing scratch framebuffer");
    return -1;
  }
  g_scratch.texture = render::CreateRenderTexture(kScratchSize, kScratchSize, render::FMT_X8R8G8B8, 1);
  if (g_scratch.texture == render::kNoId) {
    core::ShowError("Error initializing scratch texture");
    ReleaseScratchTargets();
    return -1;
  }
  g_scratch.depth = render::CreateDepthSurface(kScratchSize, kScratchSize, render::FMT_X8R8G8B8);
  if (g_scratch.depth == render::kNoId) {
    core::ShowError("Error initializing scratch depth texture");
    ReleaseScratchTargets();
    return -1;
  }
  return 0;
}

void ReleaseScratchTargets() {
  render::ReleaseTexture(g_scratch.depth);
  render::ReleaseTexture(g_scratch.texture);
  render::ReleaseTexture(g_scratch.framebuffer);
  g_scratch = ScratchTargets();
}

bool RenderFrame(double now) {
  render::DiscardDynamicBuffers();
  FlushRenderQueue();
  render::Device* device = render::LayerDevice();
  // A lost device draws nothing until it is back.
  if (!device || g_scratch.framebuffer == render::kNoId || render::CheckDevice() != 0) return false;

  device->BeginScene();
  bool drew = false;
  if (render::PushRenderTarget(g_scratch.framebuffer, g_scratch.depth) == 0) {
    const render::DisplayMode* mode = render::CurrentDisplayMode();
    uint32_t flags = render::CLEAR_TARGET | render::CLEAR_ZBUFFER;
    if (mode && (mode->flags & render::kModeHasStencil)) flags |= render::CLEAR_STENCIL;
    device->Clear(0, nullptr, flags, 0xFF000000u, 1.0f, 0);

    for (int i = 0; i < kDeckCount; ++i) {
      Deck* deck = GetDeck(i);
      EffectEntry* entry = FindEffect(deck->record.effect_id);
      // A deck whose effect never loaded, or whose reload failed, has
      // nothing to draw.
      if (!entry || !entry->script) continue;
      fx::SetEffectTime(static_cast<float>(DeckEffectTime(deck, now, entry->script->Length())));
      if (MixDeck(deck, entry) == 0) drew = true;
    }
    render::PopRenderTarget();
  }
  // Whatever an effect left pushed goes too: the copy lands on the output.
  render::PopAllRenderTargets();
  CopyToTarget(device, render::GetBaseTextureById(g_scratch.framebuffer), render::RenderTargetWidth(),
               render::RenderTargetHeight());
  device->EndScene();
  device->Present();
  return drew;
}

}  // namespace server::internal

namespace server {

render::TextureId ScratchFramebuffer() { return internal::g_scratch.framebuffer; }
render::TextureId ScratchTexture() { return internal::g_scratch.texture; }
render::TextureId ScratchDepth() { return internal::g_scratch.depth; }

}  // namespace server

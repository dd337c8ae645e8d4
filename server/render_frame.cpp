// The Server's frame: decks composed in the scratch framebuffer (512 x 512
// unless --mix says otherwise), which is then stretched onto the output's
// back buffer at the master level and presented.
//
// Everything is drawn into scratch targets of one size for the whole run,
// so effects and mixers see one target size; only the last copy depends
// on the output.
#include <cmath>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/filter_effect.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"
#include "server/server_internal.h"

// A FILTER's targets stand in for the deck's picture, pixel for pixel.
static_assert(fx::kFilterSize == server::kScratchSize);

namespace server::internal {
namespace {

struct ScratchTargets {
  render::TextureId framebuffer = render::kNoId;
  render::TextureId texture = render::kNoId;
  render::TextureId depth = render::kNoId;
};
ScratchTargets g_scratch;

}  // namespace

int CreateScratchTargets() {
  ReleaseScratchTargets();
  const uint32_t width = static_cast<uint32_t>(ScratchWidth()), height = static_cast<uint32_t>(ScratchHeight());
  g_scratch.framebuffer = render::CreateRenderTexture(width, height, render::FMT_X8R8G8B8, 1);
  if (g_scratch.framebuffer == render::kNoId) {
    core::ShowError("Error initializing scratch framebuffer");
    return -1;
  }
  g_scratch.texture = render::CreateRenderTexture(width, height, render::FMT_X8R8G8B8, 1);
  if (g_scratch.texture == render::kNoId) {
    core::ShowError("Error initializing scratch texture");
    ReleaseScratchTargets();
    return -1;
  }
  g_scratch.depth = render::CreateDepthSurface(width, height, render::FMT_X8R8G8B8);
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
      fx::SetDrawingDeck(i);
      const double deck_start = core::NowSeconds();
      if (MixDeck(deck, entry) == 0) drew = true;
      fx::SetDrawingDeck(0);
      const double took = core::NowSeconds() - deck_start;
      if (took > g_server.longest_part_seconds)
        NoteFramePart(took, core::FormatString("deck %d drawing %s", i, entry->name));
    }
    render::PopRenderTarget();
  }
  // Whatever an effect left pushed goes too: the copy lands on the output.
  render::PopAllRenderTargets();
  PresentMix(g_scratch.framebuffer);
  device->EndScene();
  device->Present();
  CaptureOutput(now);
  return drew;
}

}  // namespace server::internal

namespace server {

render::TextureId ScratchFramebuffer() { return internal::g_scratch.framebuffer; }
render::TextureId ScratchTexture() { return internal::g_scratch.texture; }
render::TextureId ScratchDepth() { return internal::g_scratch.depth; }

}  // namespace server

// The mixer list and the one place where a deck is drawn through its mixer.
//
// The list's names and order are what the Client sees. Drawing itself is
// still the NULL mixer's for every deck: the effect paints straight over
// the decks before it.
#include "fx/fx.h"
#include "render/render.h"
#include "server/server_internal.h"

namespace server {
namespace {

constexpr const char* kMixerNames[] = {
    "ALPHABLEND", "BEATBLEND",    "INVERSEBEATBLEND",    "WAVEBLEND",    "INVERSEWAVEBLEND",
    "ADDITIVE",   "BEATADDITIVE", "INVERSEBEATADDITIVE", "WAVEADDITIVE", "INVERSEWAVEADDITIVE",
};
constexpr int kMixers = static_cast<int>(sizeof kMixerNames / sizeof kMixerNames[0]);

}  // namespace

int MixerCount() { return kMixers; }

const char* MixerName(int index) { return index >= 0 && index < kMixers ? kMixerNames[index] : nullptr; }

namespace internal {

int StartMixers() { return 0; }
void StopMixers() {}

// The NULL mixer: a fresh depth buffer (the colour stays), then the effect.
int MixDeck(Deck* deck, EffectEntry* entry) {
  if (!deck || !entry || !entry->script) return -1;
  if (render::Device* device = render::LayerDevice()) {
    std::shared_ptr<render::Surface> depth = device->GetDepthStencilSurface();
    if (depth) {
      uint32_t flags = render::CLEAR_ZBUFFER;
      if (render::FormatHasStencil(depth->GetDesc().format)) flags |= render::CLEAR_STENCIL;
      device->Clear(0, nullptr, flags, 0, 1.0f, 0);
    }
  }
  entry->script->RenderDeck();
  return 0;
}

}  // namespace internal
}  // namespace server

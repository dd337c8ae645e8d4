// The mixers: how each deck is laid over the decks before it.
//
// The NULL mixer lets the effect paint straight into the scratch
// framebuffer. The ten listed mixers draw the effect over a copy of the
// picture in the scratch texture and bring that copy back with one
// screen-filling draw, blended or added with a factor taken from the
// deck's fader, the beat pulse or the sound level. Each such deck costs two
// full-target draws and one target switch pair.
//
// The list's names and order are what the Client sees; MixerCount and
// MixerName read the static objects, so they answer before start-up too.
#include <algorithm>
#include <cmath>

#include "fx/timing.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/postfx.h"
#include "render/values.h"
#include "server/server_internal.h"

namespace server {
namespace internal {
namespace {

float Fader(const Deck* deck) { return deck ? deck->record.fader : 0.0f; }
float Pulse(const Deck* deck) {
  return BeatPulse(deck ? deck->listener : nullptr, static_cast<double>(render::GlobalTime()));
}
float Level(const Deck* deck) { return deck && deck->listener ? deck->listener->level : 0.0f; }

class AlphaBlend final : public CompositeMixer {
 public:
  AlphaBlend() : CompositeMixer(Draw::kBlend) {}
  const char* GetName() const override { return "ALPHABLEND"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return Fader(deck); }
};

class BeatBlend final : public CompositeMixer {
 public:
  BeatBlend() : CompositeMixer(Draw::kBlend) {}
  const char* GetName() const override { return "BEATBLEND"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return Pulse(deck) * Fader(deck); }
};

class InverseBeatBlend final : public CompositeMixer {
 public:
  InverseBeatBlend() : CompositeMixer(Draw::kBlend) {}
  const char* GetName() const override { return "INVERSEBEATBLEND"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return 1.0f - Pulse(deck) * Fader(deck); }
};

class WaveBlend final : public CompositeMixer {
 public:
  WaveBlend() : CompositeMixer(Draw::kBlend) {}
  const char* GetName() const override { return "WAVEBLEND"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return Level(deck) * Fader(deck); }
};

// The inverted level, scaled by the fader.
class InverseWaveBlend final : public CompositeMixer {
 public:
  InverseWaveBlend() : CompositeMixer(Draw::kBlend) {}
  const char* GetName() const override { return "INVERSEWAVEBLEND"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return (1.0f - Level(deck)) * Fader(deck); }
};

class Additive final : public CompositeMixer {
 public:
  Additive() : CompositeMixer(Draw::kAdditive) {}
  const char* GetName() const override { return "ADDITIVE"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return Fader(deck); }
};

class BeatAdditive final : public CompositeMixer {
 public:
  BeatAdditive() : CompositeMixer(Draw::kAdditive) {}
  const char* GetName() const override { return "BEATADDITIVE"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return Pulse(deck) * Fader(deck); }
};

class InverseBeatAdditive final : public CompositeMixer {
 public:
  InverseBeatAdditive() : CompositeMixer(Draw::kAdditive) {}
  const char* GetName() const override { return "INVERSEBEATADDITIVE"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return 1.0f - Pulse(deck) * Fader(deck); }
};

class WaveAdditive final : public CompositeMixer {
 public:
  WaveAdditive() : CompositeMixer(Draw::kAdditive) {}
  const char* GetName() const override { return "WAVEADDITIVE"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return Level(deck) * Fader(deck); }
};

// Unlike INVERSEWAVEBLEND, the scaled level is inverted: with the fader at
// 0 the whole copy is added.
class InverseWaveAdditive final : public CompositeMixer {
 public:
  InverseWaveAdditive() : CompositeMixer(Draw::kAdditive) {}
  const char* GetName() const override { return "INVERSEWAVEADDITIVE"; }
  float Factor(const EffectEntry*, const Deck* deck) const override { return 1.0f - Level(deck) * Fader(deck); }
};

NullMixer g_null_mixer;
AlphaBlend g_alpha_blend;
BeatBlend g_beat_blend;
InverseBeatBlend g_inverse_beat_blend;
WaveBlend g_wave_blend;
InverseWaveBlend g_inverse_wave_blend;
Additive g_additive;
BeatAdditive g_beat_additive;
InverseBeatAdditive g_inverse_beat_additive;
WaveAdditive g_wave_additive;
InverseWaveAdditive g_inverse_wave_additive;

// In index order.
CompositeMixer* const kMixers[] = {
    &g_alpha_blend, &g_beat_blend,    &g_inverse_beat_blend,    &g_wave_blend,    &g_inverse_wave_blend,
    &g_additive,    &g_beat_additive, &g_inverse_beat_additive, &g_wave_additive, &g_inverse_wave_additive,
};
constexpr int kMixerCount = static_cast<int>(sizeof kMixers / sizeof kMixers[0]);

// The list the Server draws with; filled at start-up.
core::GrowableArray<CompositeMixer*> g_list;

// Fresh depth (and stencil, when the surface has one); the colour stays.
void ClearDepth() {
  render::Device* device = render::LayerDevice();
  if (!device) return;
  std::shared_ptr<render::Surface> depth = device->GetDepthStencilSurface();
  if (!depth) return;
  uint32_t flags = render::CLEAR_ZBUFFER;
  if (render::FormatHasStencil(depth->GetDesc().format)) flags |= render::CLEAR_STENCIL;
  device->Clear(0, nullptr, flags, 0, 1.0f, 0);
}

}  // namespace

float BeatPulse(const fx::BeatListener* listener, double global_time) {
  if (!listener) return 0.0f;
  const double d = global_time - listener->last_beat_time;
  // d of 0.3 or more, or not comparable, gives 0.
  if (!(d < kPulseSeconds)) return 0.0f;
  return static_cast<float>(1.0 - d / kPulseSeconds);
}

float ClampFactor(float factor) {
  if (!(factor > 0.0f)) return 0.0f;  // NaN too
  return std::min(factor, 1.0f);
}

uint32_t FactorAlphaByte(float factor) { return static_cast<uint32_t>(ClampFactor(factor) * 255.0f); }

void DrawFullScreen(render::TextureId texture, float alpha) {
  using namespace render;
  if (alpha == 1.0f) {
    SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
    render::DrawScreenQuad(texture, 0xFFFFFFFFu);
    return;
  }
  SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
  SetRenderStateCached(RS_SRCBLEND, BLEND_SRCALPHA);
  SetRenderStateCached(RS_DESTBLEND, BLEND_INVSRCALPHA);
  render::DrawScreenQuad(texture, FactorAlphaByte(alpha) << 24);
}

void DrawFullScreenScaled(render::TextureId texture, float level) {
  using namespace render;
  // The texture times the vertices' grey: blending stays off.
  const uint32_t grey = static_cast<uint32_t>(std::lround(ClampFactor(level) * 255.0f));
  SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
  render::DrawScreenQuad(texture, 0xFFFFFFFFu, 0xFF000000u | grey << 16 | grey << 8 | grey);
}

void DrawFullScreenAdditive(render::TextureId texture, float alpha) {
  using namespace render;
  SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
  SetRenderStateCached(RS_SRCBLEND, BLEND_SRCALPHA);
  SetRenderStateCached(RS_DESTBLEND, BLEND_ONE);
  render::DrawScreenQuad(texture, FactorAlphaByte(alpha) << 24);
}

void Mixer::RenderDeck(EffectEntry* entry) {
  if (!entry || !entry->script) return;
  const int depth = render::RenderTargetDepth();
  core::MessageContext context(std::string("Effect ") + entry->name + ": ");
  entry->script->RenderDeck();
  // An effect that forgot a pop must not leave the mixer drawing into its
  // target.
  while (render::RenderTargetDepth() > depth)
    if (render::PopRenderTarget() != 0) break;
}

int NullMixer::Mix(EffectEntry* entry, Deck*) {
  if (!entry || !entry->script) return -1;
  ClearDepth();
  RenderDeck(entry);
  return 0;
}

int CompositeMixer::Mix(EffectEntry* entry, Deck* deck) {
  if (!entry || !entry->script) return -1;
  const render::TextureId framebuffer = ScratchFramebuffer(), copy = ScratchTexture(), depth = ScratchDepth();
  // The picture so far, copied into the scratch texture; the effect draws
  // over the copy.
  if (render::ReplaceRenderTarget(copy, depth) != 0) return -1;
  DrawFullScreen(framebuffer, 1.0f);
  ClearDepth();
  RenderDeck(entry);
  if (render::ReplaceRenderTarget(framebuffer, depth) != 0) return -1;
  const float factor = ClampFactor(Factor(entry, deck));
  if (draw_ == Draw::kBlend) DrawFullScreen(copy, factor);
  else DrawFullScreenAdditive(copy, factor);
  return 0;
}

int StartMixers() {
  g_list = core::GrowableArray<CompositeMixer*>();
  if (g_null_mixer.Init() != 0) return -1;
  for (CompositeMixer* mixer : kMixers) {
    if (mixer->Init() != 0) return -1;
    if (g_list.Add(mixer) < 0) return -1;
  }
  return 0;
}

void StopMixers() {
  g_list = core::GrowableArray<CompositeMixer*>();
  g_null_mixer.Shutdown();
  for (CompositeMixer* mixer : kMixers) mixer->Shutdown();
}

CompositeMixer* ListedMixer(int index) { return index >= 0 && index < g_list.Size() ? g_list[index] : nullptr; }

Mixer* FindMixer(int index) {
  if (index == net::kNullMixer) return &g_null_mixer;
  return ListedMixer(index);
}

int MixDeck(Deck* deck, EffectEntry* entry) {
  if (!deck) return -1;
  Mixer* mixer = FindMixer(deck->record.mixer);
  return mixer ? mixer->Mix(entry, deck) : -1;
}

}  // namespace internal

int MixerCount() { return internal::kMixerCount; }

const char* MixerName(int index) {
  return index >= 0 && index < internal::kMixerCount ? internal::kMixers[index]->GetName() : nullptr;
}

}  // namespace server

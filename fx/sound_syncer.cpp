// SOUNDSYNCER: tunes and shows the sound-syncer analysis that sound-driven
// effects react to.
//
// The instance holds only its draw flag; what it tunes (the channel, peak
// and amplitude) is program-wide state of the sound layer, so every effect
// hears the same settings. Drawing is the lower half of the 1024-bin
// spectrum as a white curve across the target, plus the threshold marker in
// green while the analysis reports a beat, red otherwise.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/effects_internal.h"
#include "fx/timing.h"
#include "render/device.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"

namespace fx {
namespace {

constexpr render::Color kCurveColor = 0xFFFFFFFFu;
constexpr render::Color kBeatColor = 0xFF00FF00u;
constexpr render::Color kNoBeatColor = 0xFFFF0000u;
// Bins per target width: the curve shows bins 0..511, the rest fall off the
// right edge.
constexpr float kBinsAcross = 512.0f;

using render::ScreenVertex;

ScreenVertex At(float x, float y, render::Color color) { return ScreenVertex{x, y, 0.0f, 1.0f, color, 0.0f, 0.0f}; }

const FxTemplate kLoadTemplates[] = {
    {"", "Load the sound syncer"},
};
const FxTemplate kCommandTemplates[] = {
    {"SETINPUT namemusicfx", "Pone como stream actual el efecto de musica que pases como parametro"},
    {"BEATTHRESHOLD Peak Amplitude",
     "Peak (0 - 1) frecuencia maxima que se mira para el beat\nAmplitude (0 - 1) amplitud minima para beat"},
    {"DRAW ON", "DRAW GRAPH"},
    {"DRAW OFF", "DONT DRAW GRAPH"},
};

// Up to kMaxWords words of a command, split at blanks and tabs, without
// copying (the script sends its commands again on every frame).
struct Words {
  static constexpr int kMaxWords = 4;
  std::string_view word[kMaxWords];
  int count = 0;

  explicit Words(const char* text) {
    const char* p = text ? text : "";
    while (count < kMaxWords) {
      while (IsCommandSeparator(*p)) ++p;
      if (!*p) break;
      const char* start = p;
      while (*p && !IsCommandSeparator(*p)) ++p;
      word[count++] = std::string_view(start, static_cast<size_t>(p - start));
    }
  }
};

// Number of leading bins the sound-syncer beat examines for `peak`, as the
// sound layer counts them.
int ExaminedBins(float peak) {
  float scaled = peak * static_cast<float>(kSoundSyncSpectrumSize);
  if (!(scaled >= 0.0f)) return 0;
  return static_cast<int>(std::min(scaled, static_cast<float>(kSoundSyncSpectrumSize)));
}

class SoundSyncerInstance final : public FxInstance {
 public:
  explicit SoundSyncerInstance(const FxClass& record) : record_(record) {}

  int Load(const char* name, const char*) override {
    SetInstanceName(name);
    return 0;
  }

  int Reset() override {
    draw_ = false;
    return 0;
  }

  int Command(float time, const char* command) override {
    FxInstance::Command(time, command);
    Words words(command);
    if (words.count == 0) return 0;
    const std::string_view keyword = words.word[0];
    if (keyword == "SETINPUT") {
      if (words.count >= 2) SetInput(words.word[1]);
    } else if (keyword == "BEATTHRESHOLD") {
      // Half a setting would leave the display and the analysis disagreeing
      // about which pair is meant: only a full pair counts.
      if (words.count >= 3)
        SetSoundSyncThreshold(ParseDecimalFloat(words.word[1]), ParseDecimalFloat(words.word[2]));
    } else if (keyword == "DRAW") {
      // Any word after DRAW switches the display on, "DRAW OFF" included;
      // scripts rely on it, and DRAW alone is the way to switch it off.
      draw_ = words.count >= 2;
    }
    return 0;
  }

  int Render(float time) override {
    if (draw_) Draw(time);
    return 1;
  }

  const char* GetName() const override { return record_.Name(); }
  const char* GetDescription() const override { return record_.Description(); }

  int GetLoadTemplates(const FxTemplate** rows) const override {
    if (rows) *rows = kLoadTemplates;
    return static_cast<int>(sizeof kLoadTemplates / sizeof kLoadTemplates[0]);
  }
  int GetCommandTemplates(const FxTemplate** rows) const override {
    if (rows) *rows = kCommandTemplates;
    return static_cast<int>(sizeof kCommandTemplates / sizeof kCommandTemplates[0]);
  }

 private:
  void SetInput(std::string_view name) {
    FxInstance* input = owner_ ? owner_->FindInstance(name) : nullptr;
    if (!input) {
      // Replayed every frame: say it once.
      if (!missing_input_traced_)
        core::Trace("FX: %s: SETINPUT names no instance %.*s\n", InstanceName(), static_cast<int>(name.size()),
                    name.data());
      missing_input_traced_ = true;
      return;
    }
    SetSoundSyncChannel(input->OfferedSoundChannel());
  }

  void Draw(float time) {
    render::Device* device = render::LayerDevice();
    if (!device) return;
    // Without the material's states the lines would take whatever texture
    // and blending the previous drawing left behind.
    if (render::ApplyPass(render::kNullShader, 0) != 0) return;
    device->SetFVF(render::kFvfScreenVertex);

    const float width = render::RenderTargetWidth();
    const float height = render::RenderTargetHeight();

    if (const float* spectrum = GetSoundSyncSpectrum(time)) {
      for (int i = 0; i < kSoundSyncSpectrumSize; ++i)
        curve_[i] = At(static_cast<float>(i) * width / kBinsAcross, height - 0.5f * height * spectrum[i], kCurveColor);
      device->DrawPrimitiveUP(render::PT_LINESTRIP, kSoundSyncSpectrumSize - 1, curve_, sizeof(ScreenVertex));
    }

    const render::Color color = SoundSyncBeat(time) ? kBeatColor : kNoBeatColor;
    float peak = 0.0f, amplitude = 0.0f;
    GetSoundSyncThreshold(&peak, &amplitude);
    if (!std::isfinite(amplitude)) return;
    // The marker stands over the end of the examined bins, on the curve's
    // own bin scale, so what lies left of it is exactly what the beat looks
    // at. Amplitudes far outside 0..1 are only kept off the target.
    const float marker_x = static_cast<float>(ExaminedBins(peak)) * width / kBinsAcross;
    const float level_y = std::clamp(height - 0.5f * height * amplitude, -height, 2.0f * height);
    const ScreenVertex lines[4] = {At(marker_x, height, color), At(marker_x, level_y, color), At(0.0f, level_y, color),
                                   At(marker_x, level_y, color)};
    device->DrawPrimitiveUP(render::PT_LINELIST, 2, lines, sizeof(ScreenVertex));
  }

  const FxClass& record_;
  bool draw_ = false;
  bool missing_input_traced_ = false;
  ScreenVertex curve_[kSoundSyncSpectrumSize] = {};
};

}  // namespace

FxInstance* CreateSoundSyncer(const FxClass& record) { return NewInstance<SoundSyncerInstance>(record); }

}  // namespace fx

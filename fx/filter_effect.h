// The FILTER effect: post-processing of the layers of its own effect.
//
// A FILTER instance redirects the layers from its own layer on into a
// capture texture (Update, in the pass of its layer) and, in the passes
// before its layer, puts the previous frame's capture back through a blur,
// a distortion or a channel shift (AfterPass); around chosen layer ranges
// it blends a motion trail or a cross-fade (BeforeLayer / AfterLayer); over
// everything it lays colour fades. Render returns 0, so the instance
// leaves the started list at its own layer. Script authors put it on layer
// 1 and what it treats on layers 1-15.
//
// Not here: the radial blur and the full-target quad (render/postfx.h), the
// material deformers its "SHADER" command attaches (render/deformers.h).
#pragma once

#include <cstdint>

#include "fx/effect.h"
#include "fx/fades.h"

namespace fx {

// Side of every filter target (capture, trails, cross-fade, radial work,
// the blur chain's top level): the Server's scratch size.
inline constexpr int kFilterSize = 512;
// Decks whose state a filter keeps apart (the Server's six).
inline constexpr int kFilterDecks = 6;
// Levels of the blur chain: 512, 256, ... 1.
inline constexpr int kBlurChainLevels = 10;

class FilterEffect final : public FxInstance {
 public:
  FilterEffect() = default;
  ~FilterEffect() override;

  // "RENDERTARGET" (exactly) makes the targets of deck 0 and takes the
  // shared blur chain; any other text loads an instance that keeps
  // settings and draws colour fades only.
  int Load(const char* name, const char* arguments) override;
  int Unload() override;
  // Clears every setting and pops the filter's own targets left on top of
  // the target stack.
  int Reset() override;
  void Update(float time) override;
  int Render(float time) override;
  void AfterPass(float time) override;
  void BeforeLayer(int32_t layer, float time) override;
  void AfterLayer(int32_t layer, float time) override;
  // -1 for an unknown command word (a number, as FXLAYER sends, is none).
  int Command(float time, const char* command) override;
  const char* GetName() const override;
  const char* GetDescription() const override;
  int GetLoadTemplates(const FxTemplate** rows) const override;
  int GetCommandTemplates(const FxTemplate** rows) const override;

  // For tests: whether this instance draws into targets, and the texture
  // holding deck `deck`'s capture (-1 when that deck has none yet).
  bool HasTargets() const { return render_targets_; }
  int CaptureTexture(int deck) const;

 private:
  struct ColourFade {
    bool fade_in = false, fade_out = false;
    float start = 0.0f, duration = 0.0f;
    float r = 0.0f, g = 0.0f, b = 0.0f, limit = 1.0f;
  };
  struct Channel {
    float amplitude = 0.0f, frequency = 0.0f, offset = 0.0f;
  };
  // Everything a command sets; Load, Unload and Reset clear it.
  struct Settings {
    bool capturing = false;
    bool clear_off = false;
    uint32_t background = 0;
    ColourFade fades[2];
    bool noise_on = false;
    EaseFade noise;
    float noise_strength = 0.0f;
    bool lens_on = false, lens_fade_in = false;
    LinearFade lens;
    float lens_strength = 0.0f, lens_frequency = 0.0f;
    bool blur_on = false, blur_fade_in = false;
    LinearFade blur;
    float blur_strength = 0.0f;
    bool radial_on = false, radial_fade_in = false;
    LinearFade radial;
    float radial_scale = 0.0f;
    bool wobble = false, transition = false, quality_blur = false;
    bool component_on = false;
    LinearFade component{false, 0.0f, 0.0f};
    Channel channels[3];  // red, green, blue
    bool underwater_on = false;
    EaseFade underwater;
    float underwater_frequency = 0.0f, underwater_amplitude = 0.0f;
    bool motion_on = false, motion_first = false, motion_fade_in = false;
    LinearFade motion;
    float motion_factor = 0.0f, motion_time = 0.0f;
    int32_t motion_start = 1, motion_end = 1;
    bool crossfade_on = false;
    LinearFade crossfade;
    float grade_start = 0.0f, grade_end = 0.0f;
    int32_t crossfade_start = 1, crossfade_end = 1;
  };
  // What one deck draws with: made on the deck's first draw.
  struct DeckTargets {
    int capture = -1, depth = -1;
    int trail[2] = {-1, -1};
    int parity = 0;
    bool made = false, failed = false;
    bool captured = false;  // the capture holds layers, not just a clear
    // Motion trails: composed in this frame / the frame before, and the
    // command time of the "MOTIONBLUR" last honoured.
    bool composed = false, composed_before = false;
    bool cleared_once = false;
    float cleared_for = 0.0f;
    bool back_buffer_reported = false;
  };

  void ClearSettings();
  void ReleaseTargets();
  // The targets of the drawing deck, made when missing; nullptr when this
  // instance draws none or they cannot be made.
  DeckTargets* Deck();
  int MakeDeckTargets(DeckTargets* deck);
  bool IsOwnTarget(int texture) const;
  // Pops while the top of the target stack is one of this filter's.
  void PopOwnTargets();
  void ComposeMotionTrail(DeckTargets* deck, float time);
  void ComposeCrossFade(float time);
  void DrawCopy(DeckTargets* deck, float time);
  void DrawColourFades(float time);
  void ClearCapture(const DeckTargets& deck);

  Settings settings_;
  DeckTargets decks_[kFilterDecks];
  int radial_work_[2] = {-1, -1};
  int crossfade_target_ = -1;
  bool loaded_ = false;
  bool render_targets_ = false;  // loaded with "RENDERTARGET"
  bool holds_chain_ = false;
};

// The shared blur chain's users (tests).
int BlurChainUsers();

}  // namespace fx

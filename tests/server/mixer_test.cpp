// The mixers through the headless device: two decks of known pictures, the
// second laid over the first by each mixer, checked pixel by pixel against
// the blend and additive formulas; the beat pulse under an injected clock;
// the screen-filling copy that must not drift.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "server/server_internal.h"
#include "tests/server/server_fixture.h"
#include "tests/server/swatch.h"

namespace server_test {
namespace {

using server::internal::ClampFactor;
using server::internal::FactorAlphaByte;

constexpr int kSize = server::kScratchSize;
constexpr int kTolerance = 2;

struct Rgb {
  double r = 0, g = 0, b = 0;
};
Rgb FromWord(uint32_t w) { return {double((w >> 16) & 255), double((w >> 8) & 255), double(w & 255)}; }

// A picture of the scratch size as 0xRRGGBB words.
using Picture = std::vector<uint32_t>;

Picture ReadTarget(render::TextureId id) {
  Picture pixels;
  render::Device* device = render::GetDevice();
  std::shared_ptr<render::Texture> texture = render::GetTextureById(id);
  if (!device || !texture || device->ReadSurfacePixels(texture->GetSurfaceLevel(0).get(), &pixels) != render::kOk)
    return {};
  for (uint32_t& p : pixels) p &= 0xFFFFFFu;
  return pixels;
}

Picture ReadOutput() {
  Picture pixels;
  render::Device* device = render::GetDevice();
  if (!device || device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels) != render::kOk) return {};
  for (uint32_t& p : pixels) p &= 0xFFFFFFu;
  return pixels;
}

// Compares every pixel with `expected` (x, y) -> colour; returns "" or a
// description of the first pixel off by more than the tolerance.
std::string Compare(const Picture& got, int w, int h, const std::function<Rgb(int, int)>& expected,
                    int tolerance = kTolerance) {
  if (got.size() != static_cast<size_t>(w) * h) return "wrong picture size " + std::to_string(got.size());
  int bad = 0;
  std::string first;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgb want = expected(x, y), have = FromWord(got[static_cast<size_t>(y) * w + x]);
      if (std::fabs(want.r - have.r) > tolerance || std::fabs(want.g - have.g) > tolerance ||
          std::fabs(want.b - have.b) > tolerance) {
        if (bad++ == 0)
          first = core::FormatString("pixel (%d, %d): got %.0f %.0f %.0f, want %.1f %.1f %.1f", x, y, have.r, have.g,
                                     have.b, want.r, want.g, want.b);
      }
    }
  return bad ? first + core::FormatString(" (%d pixels off)", bad) : "";
}

// The texture factor's alpha as the blend sees it.
double Alpha(float factor) { return FactorAlphaByte(factor) / 255.0; }

Rgb BlendOver(Rgb copy, Rgb picture, float factor) {
  if (ClampFactor(factor) == 1.0f) return copy;  // drawn opaque
  double a = Alpha(factor);
  return {copy.r * a + picture.r * (1 - a), copy.g * a + picture.g * (1 - a), copy.b * a + picture.b * (1 - a)};
}
Rgb AddOver(Rgb copy, Rgb picture, float factor) {
  double a = Alpha(factor);
  return {std::min(255.0, picture.r + copy.r * a), std::min(255.0, picture.g + copy.g * a),
          std::min(255.0, picture.b + copy.b * a)};
}

// What the mixer list's factors are, written out again from the table.
struct MixerCase {
  int index;
  const char* name;
  bool additive;
  std::function<float(float fader, float pulse, float level)> factor;
};
const std::vector<MixerCase>& MixerCases() {
  static const std::vector<MixerCase> cases = {
      {0, "ALPHABLEND", false, [](float f, float, float) { return f; }},
      {1, "BEATBLEND", false, [](float f, float p, float) { return p * f; }},
      {2, "INVERSEBEATBLEND", false, [](float f, float p, float) { return 1 - p * f; }},
      {3, "WAVEBLEND", false, [](float f, float, float l) { return l * f; }},
      {4, "INVERSEWAVEBLEND", false, [](float f, float, float l) { return (1 - l) * f; }},
      {5, "ADDITIVE", true, [](float f, float, float) { return f; }},
      {6, "BEATADDITIVE", true, [](float f, float p, float) { return p * f; }},
      {7, "INVERSEBEATADDITIVE", true, [](float f, float p, float) { return 1 - p * f; }},
      {8, "WAVEADDITIVE", true, [](float f, float, float l) { return l * f; }},
      {9, "INVERSEWAVEADDITIVE", true, [](float f, float, float l) { return 1 - l * f; }},
  };
  return cases;
}

class MixerTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    fx::RegisterFxClass(&SwatchClass());
  }
  void TearDown() override {
    ServerTest::TearDown();
    fx::UnregisterFxClass(&SwatchClass());
  }

  // An effect folder showing a swatch; returns its spec for the expected
  // pictures.
  SwatchSpec MakeSwatch(const std::string& folder, const std::string& arguments) {
    MakeEffect(folder, "-", SwatchScript(arguments));
    SwatchSpec spec;
    EXPECT_TRUE(ParseSwatch(arguments.c_str(), &spec)) << arguments;
    return spec;
  }

  // The picture the two-deck set-up below composes: deck 0 (NULL mixer) a
  // horizontal gradient P everywhere, deck 1 a vertical gradient E over the
  // left three quarters, so the copy with the effect is E there and P right
  // of it.
  void MakeTwoDecks() {
    base_ = MakeSwatch("Base", "HGRAD 0 64 255 255 192 0");
    top_ = MakeSwatch("Top", "VGRAD 200 40 100 20 220 160 COVER 0.75");
    Start();
    PutOnDeck(0, "BASE", net::kNullMixer, 1.0f);
    PutOnDeck(1, "TOP", 0, 1.0f);
  }
  Rgb Picture0(int x, int y) const { return FromWord(*SwatchPixel(base_, x, y, kSize, kSize, 0)); }
  Rgb CopyWithEffect(int x, int y) const {
    std::optional<uint32_t> e = SwatchPixel(top_, x, y, kSize, kSize, 0);
    return e ? FromWord(*e) : Picture0(x, y);
  }

  SwatchSpec base_, top_;
};

TEST_F(MixerTest, EveryMixerComposesItsFormulaAtFaderZeroHalfAndOne) {
  MakeTwoDecks();
  const float pulse = 0.5f, level = 0.6f;
  fx::BeatListener* listener = server::GetDeck(1)->listener;
  ASSERT_NE(listener, nullptr);
  for (const MixerCase& c : MixerCases()) {
    EXPECT_STREQ(server::MixerName(c.index), c.name);
    for (float fader : {0.0f, 0.5f, 1.0f}) {
      server::GetDeck(1)->record.mixer = c.index;
      server::GetDeck(1)->record.fader = fader;
      clock.Advance(1.0 / 60.0);
      // A beat 0.15 s ago: half way down the pulse.
      listener->last_beat_time = clock.Seconds() - 0.15;
      listener->level = level;
      Frame();
      const float factor = c.factor(fader, pulse, level);
      auto expected = [&](int x, int y) {
        return c.additive ? AddOver(CopyWithEffect(x, y), Picture0(x, y), factor)
                          : BlendOver(CopyWithEffect(x, y), Picture0(x, y), factor);
      };
      EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize, expected), "")
          << c.name << " at fader " << fader << " (factor " << factor << ")";
    }
  }
}

TEST_F(MixerTest, TheNullMixerPaintsOverWhateverTheFader) {
  MakeTwoDecks();
  for (float fader : {0.0f, 0.5f}) {
    server::GetDeck(1)->record.mixer = net::kNullMixer;
    server::GetDeck(1)->record.fader = fader;
    Frame();
    EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize,
                      [&](int x, int y) { return CopyWithEffect(x, y); }),
              "")
        << fader;
  }
}

TEST_F(MixerTest, ThePulseDecaysOverPointThreeSecondsOfGlobalTime) {
  MakeTwoDecks();
  fx::BeatListener* listener = server::GetDeck(1)->listener;
  struct Step {
    double since_beat;
    float pulse;
  };
  const Step steps[] = {{0.0, 1.0f}, {0.06, 0.8f}, {0.15, 0.5f}, {0.24, 0.2f}, {0.3, 0.0f}, {0.45, 0.0f}};
  const double beat = clock.Seconds() + 1.0;
  listener->last_beat_time = beat;
  listener->level = 0.0f;
  for (int mixer : {1, 2}) {  // BEATBLEND, INVERSEBEATBLEND
    for (const Step& s : steps) {
      server::GetDeck(1)->record.mixer = mixer;
      server::GetDeck(1)->record.fader = 0.8f;
      clock.Set(beat + s.since_beat);
      Frame();
      const float factor = mixer == 1 ? s.pulse * 0.8f : 1.0f - s.pulse * 0.8f;
      EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize,
                        [&](int x, int y) { return BlendOver(CopyWithEffect(x, y), Picture0(x, y), factor); }),
                "")
          << server::MixerName(mixer) << " " << s.since_beat << " s after the beat";
    }
  }
  // Between beats BEATBLEND leaves the picture alone and INVERSEBEATBLEND
  // shows the deck fully.
  clock.Set(beat + 5.0);
  server::GetDeck(1)->record.mixer = 1;
  Frame();
  EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize,
                    [&](int x, int y) { return Picture0(x, y); }),
            "");
  server::GetDeck(1)->record.mixer = 2;
  Frame();
  EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize,
                    [&](int x, int y) { return CopyWithEffect(x, y); }),
            "");
}

TEST_F(MixerTest, TheLevelDrivesTheWaveMixersAndTheInverseOnesDiffer) {
  MakeTwoDecks();
  fx::BeatListener* listener = server::GetDeck(1)->listener;
  for (float level : {0.0f, 0.25f, 1.0f}) {
    for (int mixer : {3, 4, 8, 9}) {
      const MixerCase& c = MixerCases()[static_cast<size_t>(mixer)];
      // Fader 0: INVERSEWAVEBLEND keeps the picture, INVERSEWAVEADDITIVE
      // adds the whole copy.
      for (float fader : {0.0f, 0.7f}) {
        server::GetDeck(1)->record.mixer = mixer;
        server::GetDeck(1)->record.fader = fader;
        listener->level = level;
        Frame();
        const float factor = c.factor(fader, 0.0f, level);
        auto expected = [&](int x, int y) {
          return c.additive ? AddOver(CopyWithEffect(x, y), Picture0(x, y), factor)
                            : BlendOver(CopyWithEffect(x, y), Picture0(x, y), factor);
        };
        EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize, expected), "")
            << c.name << " level " << level << " fader " << fader;
      }
    }
  }
}

TEST_F(MixerTest, AFactorOutsideZeroToOneIsClamped) {
  EXPECT_EQ(ClampFactor(1.7f), 1.0f);
  EXPECT_EQ(ClampFactor(-0.2f), 0.0f);
  EXPECT_EQ(ClampFactor(std::nanf("")), 0.0f);
  EXPECT_EQ(ClampFactor(0.25f), 0.25f);
  EXPECT_EQ(FactorAlphaByte(0.5f), 127u);  // truncated
  EXPECT_EQ(FactorAlphaByte(1.0f), 255u);
  EXPECT_EQ(FactorAlphaByte(3.0f), 255u);
  EXPECT_EQ(FactorAlphaByte(-3.0f), 0u);

  MakeTwoDecks();
  // Faders outside 0..1 reach the mixers only through code, but must not
  // wrap around the alpha byte.
  for (float fader : {1.7f, -0.4f}) {
    server::GetDeck(1)->record.mixer = 0;
    server::GetDeck(1)->record.fader = fader;
    Frame();
    EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize,
                      [&](int x, int y) { return fader > 1 ? CopyWithEffect(x, y) : Picture0(x, y); }),
              "")
        << fader;
  }
  // The beat pulse alone: none without a listener, 1 at the beat, 0 from
  // 0.3 s on and for times that cannot be compared.
  fx::BeatListener listener;
  listener.last_beat_time = 2000.0;
  EXPECT_EQ(server::internal::BeatPulse(nullptr, 2000.0), 0.0f);
  EXPECT_FLOAT_EQ(server::internal::BeatPulse(&listener, 2000.0), 1.0f);
  EXPECT_NEAR(server::internal::BeatPulse(&listener, 2000.1), 2.0f / 3.0f, 1e-6);
  EXPECT_NEAR(server::internal::BeatPulse(&listener, 2000.3), 0.0f, 1e-6);
  EXPECT_EQ(server::internal::BeatPulse(&listener, 2000.5), 0.0f);
  listener.last_beat_time = 0.0;
  EXPECT_EQ(server::internal::BeatPulse(&listener, 0.3), 0.0f);  // exactly 0.3 s after
  EXPECT_EQ(server::internal::BeatPulse(&listener, std::nan("")), 0.0f);
}

// Every blend deck copies the picture twice. With the quad's corners on
// pixel edges the copies are exact, so a sawtooth of 8 levels per pixel
// comes through six ALPHABLEND decks unchanged, up to the last row and
// column; and the output shows the composed gradient stretched without a
// shift.
TEST_F(MixerTest, SixAlphaBlendDecksLeaveTheFirstPictureWhereItWas) {
  SwatchSpec saw = MakeSwatch("Saw", "SAW 8");
  SwatchSpec gradient = MakeSwatch("Gradient", "HGRAD 0 0 0 255 255 255");
  MakeEffect("Empty", "-", "SYNCTIME 5\n");  // draws nothing
  Start();
  for (const char* first : {"SAW", "GRADIENT"}) {
    PutOnDeck(0, first, 0, 1.0f);
    for (int deck = 1; deck < server::kDeckCount; ++deck) PutOnDeck(deck, "EMPTY", 0, deck % 2 ? 0.5f : 1.0f);
    Frame();
    const SwatchSpec& spec = std::string(first) == "SAW" ? saw : gradient;
    Picture scratch = ReadTarget(server::ScratchFramebuffer());
    EXPECT_EQ(Compare(scratch, kSize, kSize,
                      [&](int x, int y) { return FromWord(*SwatchPixel(spec, x, y, kSize, kSize, 0)); }),
              "")
        << first;
    if (spec.kind != SwatchSpec::Kind::kHGrad) continue;
    // The output: 640 x 480, sampled at pixel centres from the 512 x 512
    // picture (linear filtering of a linear ramp is the ramp itself).
    Picture output = ReadOutput();
    auto ramp = [&](int x, int) {
      double u = (x + 0.5) * kSize / server::kOutputWidth - 0.5;
      u = std::clamp(u, 0.0, double(kSize - 1));
      double v = 255.0 * u / (kSize - 1);
      return Rgb{v, v, v};
    };
    EXPECT_EQ(Compare(output, server::kOutputWidth, server::kOutputHeight, ramp), "");
    // Probes near the edges, spelled out.
    const size_t row = static_cast<size_t>(240) * server::kOutputWidth;
    EXPECT_LE(output[row + 0] & 255, 2u);
    EXPECT_GE(output[row + 639] & 255, 253u);
    EXPECT_NEAR(double(output[row + 4] & 255), ramp(4, 0).r, 2.0);
    EXPECT_NEAR(double(output[row + 635] & 255), ramp(635, 0).r, 2.0);
  }
}

// The screen-filling draw itself: twenty copies back and forth between two
// targets of one size are exact; alpha 0.5 blends with the truncated byte;
// the additive draw adds.
TEST_F(MixerTest, FullScreenDrawsCopyExactlyAndBlendAsTold) {
  SwatchSpec saw = MakeSwatch("Saw", "SAW 8");
  Start();
  PutOnDeck(0, "SAW", net::kNullMixer, 1.0f);
  Frame();
  const Picture original = ReadTarget(server::ScratchFramebuffer());
  ASSERT_EQ(original.size(), static_cast<size_t>(kSize) * kSize);
  render::Device* device = render::GetDevice();
  device->BeginScene();
  ASSERT_EQ(render::PushRenderTarget(server::ScratchTexture(), server::ScratchDepth()), 0);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(render::ReplaceRenderTarget(server::ScratchTexture(), server::ScratchDepth()), 0);
    server::internal::DrawFullScreen(server::ScratchFramebuffer(), 1.0f);
    ASSERT_EQ(render::ReplaceRenderTarget(server::ScratchFramebuffer(), server::ScratchDepth()), 0);
    server::internal::DrawFullScreen(server::ScratchTexture(), 1.0f);
  }
  EXPECT_EQ(ReadTarget(server::ScratchFramebuffer()), original);

  // A white picture in the scratch texture, drawn over the sawtooth at
  // alpha 0.5 (byte 127), then added at 0.25 (byte 63).
  ASSERT_EQ(render::ReplaceRenderTarget(server::ScratchTexture(), server::ScratchDepth()), 0);
  device->Clear(0, nullptr, render::CLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0);
  ASSERT_EQ(render::ReplaceRenderTarget(server::ScratchFramebuffer(), server::ScratchDepth()), 0);
  server::internal::DrawFullScreen(server::ScratchTexture(), 0.5f);
  auto blended = [&](int x, int y) {
    Rgb s = FromWord(*SwatchPixel(saw, x, y, kSize, kSize, 0));
    const double a = 127.0 / 255.0;
    return Rgb{255 * a + s.r * (1 - a), 255 * a + s.g * (1 - a), 255 * a + s.b * (1 - a)};
  };
  EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize, blended), "");
  server::internal::DrawFullScreenAdditive(server::ScratchTexture(), 0.25f);
  EXPECT_EQ(Compare(ReadTarget(server::ScratchFramebuffer()), kSize, kSize,
                    [&](int x, int y) {
                      Rgb b = blended(x, y);
                      return Rgb{std::min(255.0, b.r + 63), std::min(255.0, b.g + 63), std::min(255.0, b.b + 63)};
                    }),
            "");
  render::PopRenderTarget();
  device->EndScene();
}

}  // namespace
}  // namespace server_test

// The FILTER effect drawn the way the Server draws a deck: the script's
// RenderDeck into a pushed 512 x 512 target, read back. IMAGE instances
// show known pictures; the FILTER is on layer 1 unless a test says
// otherwise. Expected values are worked out by hand from the pictures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/filter_effect.h"
#include "render/device.h"
#include "render/layer.h"
#include "render/values.h"
#include "tests/fx/image_fixture.h"

namespace {

using fx_test::ImageTest;
using fx_test::Picture;
using fx_test::RgbIs;
using fx_test::Solid;

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kBlack = 0xFF000000u,
                   kWhite = 0xFFFFFFFFu;
constexpr int kSize = fx::kFilterSize;

int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xff); }

class FilterTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    fx::SetDrawingDeck(0);
    target_ = render::CreateRenderTexture(kSize, kSize, render::FMT_X8R8G8B8, 1);
    depth_ = render::CreateDepthSurface(kSize, kSize, render::FMT_X8R8G8B8);
    ASSERT_GE(target_, 0);
    ASSERT_GE(depth_, 0);
    ASSERT_EQ(render::PushRenderTarget(target_, depth_), 0);
  }
  void TearDown() override {
    scripts_.clear();
    render::PopAllRenderTargets();
    render::ReleaseTexture(target_);
    render::ReleaseTexture(depth_);
    fx::SetDrawingDeck(0);
    ImageTest::TearDown();
  }

  // A script in effect folder `folder` (its pictures added before).
  fx::FxScript* Script(const std::string& folder, const std::string& text) {
    core::PushBaseFolder(folder);
    auto script = std::make_unique<fx::FxScript>();
    EXPECT_EQ(script->Open(text.c_str(), true), 0);
    EXPECT_EQ(script->InstantiateAll(), 0);
    core::PopBaseFolder();
    scripts_.push_back(std::move(script));
    return scripts_.back().get();
  }

  // One deck frame at `time` over a target cleared to `below`.
  std::vector<uint32_t> Frame(fx::FxScript* script, float time, uint32_t below = kBlack) {
    Clear(below & 0xFFFFFF);
    fx::SetEffectTime(time);
    script->RenderDeck();
    return Read();
  }
  static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) {
    return pixels.at(static_cast<size_t>(y) * kSize + x);
  }

  // An effect folder with the picture `name` and a script: `layers` first
  // (instance declarations and starts), then a FILTER F on `filter_layer`
  // given `commands`.
  static std::string FilterScript(const std::string& layers, const std::string& commands, int filter_layer = 1) {
    std::string text = "FXINSTANCE F FILTER RENDERTARGET\n" + layers + "FXLAYER F " +
                       std::to_string(filter_layer) + "\nFXSTART F\n";
    size_t start = 0;
    while (start < commands.size()) {
      size_t end = commands.find(';', start);
      if (end == std::string::npos) end = commands.size();
      text += "FXCOMMAND F " + commands.substr(start, end - start) + "\n";
      start = end + 1;
    }
    return text + "SYNCTIME 100\n";
  }
  // An IMAGE P on `layer` showing the given pictures one second each.
  static std::string ImageLayer(const std::string& pictures, int count, int layer = 1, const char* name = "P") {
    return std::string("FXINSTANCE ") + name + " IMAGE " + std::to_string(count) + " 1 " + pictures + "\nFXLAYER " +
           name + " " + std::to_string(layer) + "\nFXSTART " + name + "\n";
  }

  render::TextureId target_ = -1, depth_ = -1;
  std::vector<std::unique_ptr<fx::FxScript>> scripts_;
};

TEST_F(FilterTest, CopyIsOneFrameLateAndExact) {
  AddPicture("fx", "RED.tga", Solid(640, 480, kRed));
  AddPicture("fx", "GREEN.tga", Solid(640, 480, kGreen));
  Picture chequer{640, 480, {}};
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 0; x < 640; ++x) chequer.pixels.push_back(((x / 20 + y / 15) % 2) ? kRed : kGreen);
  AddPicture("fx", "CHEQUER.tga", chequer);
  fx::FxScript* plain = Script("fx", ImageLayer("CHEQUER GREEN", 2));
  const std::vector<uint32_t> expected = Frame(plain, 0.5f);
  fx::FxScript* filtered =
      Script("fx", FilterScript(ImageLayer("CHEQUER GREEN", 2), "BACKGROUND 0 0 1;BYPASS ON;QUALITYBLUR ON"));
  const std::vector<uint32_t> first = Frame(filtered, 0.5f);
  EXPECT_THAT(At(first, 10, 10), RgbIs(kBlue, 0));
  EXPECT_THAT(At(first, 300, 400), RgbIs(kBlue, 0));
  EXPECT_EQ(Frame(filtered, 1.5f), expected);
  // Stack and current target as before.
  EXPECT_EQ(render::RenderTargetDepth(), 2);
  EXPECT_EQ(render::CurrentRenderTargetTexture(), target_);
}

TEST_F(FilterTest, TheDeckAfterAFilterDeckDrawsIntoTheSameTarget) {
  AddPicture("fx", "RED.tga", Solid(640, 480, kRed));
  AddPicture("fx", "BLUE.tga", Solid(640, 480, kBlue));
  fx::FxScript* filtered = Script("fx", FilterScript(ImageLayer("RED", 1), "BYPASS ON;WOBBLE ON"));
  fx::FxScript* solid = Script("fx", ImageLayer("BLUE", 1, 0));
  Frame(filtered, 0.5f);
  // No clear between the decks, as with the NULL mixer.
  fx::SetEffectTime(0.5f);
  solid->RenderDeck();
  EXPECT_THAT(At(Read(), 256, 256), RgbIs(kBlue, 0));
}

TEST_F(FilterTest, PopsOnlyItsOwnTargets) {
  auto filter = std::make_unique<fx::FilterEffect>();
  ASSERT_EQ(filter->Load("F", "RENDERTARGET"), 0);
  const render::TextureId foreign = render::CreateRenderTexture(64, 64, render::FMT_X8R8G8B8, 1);
  ASSERT_EQ(render::PushRenderTarget(foreign, -1), 0);
  const int depth = render::RenderTargetDepth();
  filter->Reset();
  EXPECT_EQ(render::RenderTargetDepth(), depth);
  EXPECT_EQ(render::CurrentRenderTargetTexture(), foreign);
  // Its own capture on top goes; the foreign target below stays.
  ASSERT_EQ(filter->Command(0.0f, "QUALITYBLUR ON"), 0);
  filter->Update(0.0f);
  EXPECT_EQ(render::CurrentRenderTargetTexture(), filter->CaptureTexture(0));
  filter->Reset();
  EXPECT_EQ(render::CurrentRenderTargetTexture(), foreign);
  // A cross-fade range that ends before it starts pushes nothing.
  ASSERT_EQ(filter->Command(0.0f, "CROSSFADE 1 0 1 3 2"), 0);
  for (int layer = 0; layer < 16; ++layer) {
    filter->BeforeLayer(layer, 0.0f);
    filter->AfterLayer(layer, 0.0f);
  }
  EXPECT_EQ(render::RenderTargetDepth(), depth);
  render::PopRenderTarget();
  filter.reset();
  render::ReleaseTexture(foreign);
}

TEST_F(FilterTest, EachDeckShowsItsOwnPicture) {
  AddPicture("fx", "RED.tga", Solid(640, 480, kRed));
  AddPicture("fx", "GREEN.tga", Solid(640, 480, kGreen));
  fx::FxScript* script = Script("fx", FilterScript(ImageLayer("RED GREEN", 2), "BYPASS ON;QUALITYBLUR ON"));
  const std::pair<int, float> frames[] = {{0, 0.5f}, {1, 1.5f}, {0, 0.6f}, {1, 1.6f}, {0, 0.7f}, {1, 1.7f}};
  for (size_t i = 0; i < std::size(frames); ++i) {
    fx::SetDrawingDeck(frames[i].first);
    const std::vector<uint32_t> pixels = Frame(script, frames[i].second);
    if (i < 2) continue;  // each deck's first frame shows its new capture
    EXPECT_THAT(At(pixels, 256, 256), RgbIs(frames[i].first == 0 ? kRed : kGreen, 0)) << i;
  }
}

TEST_F(FilterTest, ColourFades) {
  AddPicture("fx", "WHITE.tga", Solid(640, 480, kWhite));
  struct Case {
    const char* commands;
    float time;
    uint32_t expected;
    int tolerance;
  };
  const Case cases[] = {
      {"FADEIN 2 0 0 0 0.5", 0.0f, 0x808080, 1},            // half the limit at the start
      {"FADEIN 2 0 0 0 0.5", 1.0f, 0xC0C0C0, 1},            // a quarter halfway
      {"FADEOUT 2 0 0 0 0.5", 1.0f, 0xC0C0C0, 1},           // the same on the way out
      {"FADEIN 2 1 0 0;FADEIN2 2 0 0 1", 0.0f, kBlue, 0},   // fade 2 over fade 1
      {"FADEIN 0 1 0 0", 0.0f, kWhite, 0},                  // no time: no fade
      {"FADEIN -1 1 0 0", 0.0f, kWhite, 0},
      {"FADEIN 2 7 -3 nan 9", 0.0f, 0xFF0000, 0},          // colours and limit clamped
  };
  for (const Case& c : cases) {
    fx::FxScript* script = Script("fx", FilterScript(ImageLayer("WHITE", 1, 0), c.commands));
    EXPECT_THAT(At(Frame(script, c.time), 100, 100), RgbIs(c.expected, c.tolerance)) << c.commands << " at "
                                                                                        << c.time;
  }
}

// Mean absolute difference between horizontal neighbours (green channel).
double Roughness(const std::vector<uint32_t>& pixels) {
  double sum = 0.0;
  for (int y = 0; y < kSize; y += 4)
    for (int x = 0; x + 1 < kSize; ++x) sum += std::abs(Channel(pixels[y * kSize + x], 8) -
                                                        Channel(pixels[y * kSize + x + 1], 8));
  return sum / ((kSize / 4) * (kSize - 1));
}

TEST_F(FilterTest, BlurGrowsWithStrengthAndTheChainIsShared) {
  Picture chequer{640, 480, {}};
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 0; x < 640; ++x) chequer.pixels.push_back(((x / 10 + y / 15) % 2) ? kWhite : kBlack);
  AddPicture("fx", "CHEQUER.tga", chequer);
  const std::vector<uint32_t> unfiltered = Frame(Script("fx", ImageLayer("CHEQUER", 1)), 0.5f);
  double previous = 1e9, at_zero = 0.0, at_half = 0.0;
  for (int step = 0; step <= 18; ++step) {
    const float s = static_cast<float>(step) / 18.0f;
    fx::FxScript* script = Script("fx", FilterScript(ImageLayer("CHEQUER", 1),
                                                     "BYPASS ON;BLUR FADEIN 0 " + std::to_string(s)));
    Frame(script, 0.5f);
    const std::vector<uint32_t> pixels = Frame(script, 0.6f);
    const double roughness = Roughness(pixels);
    EXPECT_LE(roughness, previous + 1e-9) << s;
    previous = roughness;
    if (step == 0) {
      at_zero = roughness;
      EXPECT_EQ(pixels, unfiltered);
    }
    if (step == 9) at_half = roughness;
    if (step == 18) {
      for (int y = 0; y < kSize; y += 37)
        for (int x = 0; x < kSize; x += 37) EXPECT_NEAR(Channel(At(pixels, x, y), 8), 127.5, 2.0) << x << "," << y;
    }
    scripts_.pop_back();
  }
  EXPECT_LT(at_half, at_zero);

  // Two users of the chain; one goes, the other's picture stays.
  const std::string text = FilterScript(ImageLayer("CHEQUER", 1), "BYPASS ON;BLUR FADEIN 0 0.5");
  fx::FxScript* first = Script("fx", text);
  fx::FxScript* second = Script("fx", text);
  EXPECT_EQ(fx::BlurChainUsers(), 2);
  Frame(second, 0.5f);
  const std::vector<uint32_t> before = Frame(second, 0.6f);
  for (auto it = scripts_.begin(); it != scripts_.end(); ++it)
    if (it->get() == first) {
      scripts_.erase(it);
      break;
    }
  EXPECT_EQ(fx::BlurChainUsers(), 1);
  Frame(second, 0.5f);
  EXPECT_EQ(Frame(second, 0.6f), before);
  scripts_.clear();
  EXPECT_EQ(fx::BlurChainUsers(), 0);
}

// The mean x of a channel's light along row y.
double Centroid(const std::vector<uint32_t>& pixels, int y, int shift) {
  double sum = 0.0, weight = 0.0;
  for (int x = 0; x < kSize; ++x) {
    const int c = Channel(pixels[y * kSize + x], shift);
    sum += c * x;
    weight += c;
  }
  return weight > 0.0 ? sum / weight : -1.0;
}

TEST_F(FilterTest, ComponentShiftsTheRedChannelOnly) {
  Picture column = Solid(640, 480, kBlack);
  for (uint32_t y = 0; y < 480; ++y) column.pixels[y * 640 + 125] = kWhite;  // x = 100 in the target
  AddPicture("fx", "COLUMN.tga", column);
  const std::vector<uint32_t> plain = Frame(Script("fx", ImageLayer("COLUMN", 1)), 0.5f);
  fx::FxScript* script =
      Script("fx", FilterScript(ImageLayer("COLUMN", 1), "COMPONENT RED 8 0 1.5708;COMPONENT 0"));
  Frame(script, 0.5f);
  const std::vector<uint32_t> shifted = Frame(script, 0.6f);
  const double x = Centroid(plain, 200, 8);
  ASSERT_NEAR(x, 100.0, 1.0);
  EXPECT_NEAR(Centroid(shifted, 200, 16), x + 8.0, 0.5);
  EXPECT_NEAR(Centroid(shifted, 200, 8), x, 0.5);
  EXPECT_NEAR(Centroid(shifted, 200, 0), x, 0.5);
}

// Where row y of the green channel first rises past half.
double Edge(const std::vector<uint32_t>& pixels, int y) {
  for (int x = 1; x < kSize; ++x) {
    const int a = Channel(pixels[y * kSize + x - 1], 8), b = Channel(pixels[y * kSize + x], 8);
    if (a < 128 && b >= 128) return x - 1 + (127.5 - a) / (b - a);
  }
  return -1.0;
}

TEST_F(FilterTest, NoiseMovesEachRowByItsWave) {
  Picture half = Solid(640, 480, kBlack);
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 320; x < 640; ++x) half.pixels[y * 640 + x] = kWhite;
  AddPicture("fx", "HALF.tga", half);
  const std::vector<uint32_t> plain = Frame(Script("fx", ImageLayer("HALF", 1)), 0.0f);
  fx::FxScript* script = Script("fx", FilterScript(ImageLayer("HALF", 1), "BYPASS ON;NOISE 5 0.1"));
  Frame(script, 0.0f);
  const std::vector<uint32_t> noisy = Frame(script, 0.0f);
  const double a = 1.0 / (1.0 + std::exp(0.45));
  const double phases[3] = {1.75, -0.75, 3.75};
  for (int row = 0; row < 3; ++row) {
    const double shift = kSize * 0.1 * (1.0 - a) * std::sin(phases[row]);
    // Texture u runs from g: the picture moves left by g.
    EXPECT_NEAR(Edge(noisy, row), Edge(plain, row) - shift, 1.0) << row;
  }
}

TEST_F(FilterTest, ZeroDistortionsCopyExactly) {
  Picture gradient{640, 480, {}};
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 0; x < 640; ++x) gradient.pixels.push_back(0xFF000000u | (x * 255 / 639) << 16 | (y * 255 / 479) << 8);
  AddPicture("fx", "GRADIENT.tga", gradient);
  const std::vector<uint32_t> plain = Frame(Script("fx", ImageLayer("GRADIENT", 1)), 0.5f);
  for (const char* commands : {"BYPASS ON;UNDERWATER FADEIN 2 3 0", "BYPASS ON;LENS FADEIN 2 0 1"}) {
    fx::FxScript* script = Script("fx", FilterScript(ImageLayer("GRADIENT", 1), commands));
    Frame(script, 0.5f);
    EXPECT_EQ(Frame(script, 0.6f), plain) << commands;
  }
}

// The largest difference between a pixel and its mirror image about the
// vertical centre line.
int Asymmetry(const std::vector<uint32_t>& pixels) {
  int worst = 0;
  for (int y = 0; y < kSize; y += 5)
    for (int x = 0; x < kSize; x += 3)
      worst = std::max(worst, std::abs(Channel(pixels[y * kSize + x], 8) - Channel(pixels[y * kSize + kSize - 1 - x], 8)));
  return worst;
}

TEST_F(FilterTest, WobbleKeepsAMirrorSymmetricPictureSymmetric) {
  Picture rings{640, 480, {}};
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 0; x < 640; ++x) {
      const double dx = x + 0.5 - 320.0, dy = y + 0.5 - 240.0;
      const uint32_t level = static_cast<uint32_t>(127.5 + 127.5 * std::cos(std::sqrt(dx * dx + dy * dy) / 12.0));
      rings.pixels.push_back(0xFF000000u | level * 0x010101u);
    }
  AddPicture("fx", "RINGS.tga", rings);
  // The picture as the IMAGE draws it is the reference.
  const int source = Asymmetry(Frame(Script("fx", ImageLayer("RINGS", 1)), 0.3f));
  ASSERT_LE(source, 6);
  fx::FxScript* script = Script("fx", FilterScript(ImageLayer("RINGS", 1), "BYPASS ON;WOBBLE ON"));
  Frame(script, 0.3f);
  const std::vector<uint32_t> pixels = Frame(script, 0.37f);
  EXPECT_LE(Asymmetry(pixels), source + 2) << "source " << source;
}

TEST_F(FilterTest, MotionTrailHalvesEachFrame) {
  AddPicture("fx", "SQUARE.tga", Solid(40, 30, kWhite));  // 32 x 32 pixels of the target
  // 500 virtual pixels a second: 40 target pixels every 0.1 s.
  const std::string layer0 = ImageLayer("SQUARE", 1, 0) + "FXCOMMAND P POSITIONALL 0 100\nFXCOMMAND P VELOCITY 500 0\n";
  struct Case {
    const char* commands;
    double weights[3];  // the square's last three places, oldest first
  };
  const Case cases[] = {{"MOTIONBLUR FADEIN 0 0.5 0 0", {0.125, 0.25, 0.5}}, {"MOTIONBLUR FADEIN 0 0 0 0", {0, 0, 1}}};
  for (const Case& c : cases) {
    fx::FxScript* script = Script("fx", FilterScript(layer0, c.commands));
    std::vector<uint32_t> pixels;
    for (float t : {0.0f, 0.1f, 0.2f}) pixels = Frame(script, t);
    const int y = 100 * kSize / 480 + 16;
    for (int place = 0; place < 3; ++place)
      EXPECT_NEAR(Channel(At(pixels, 40 * place + 16, y), 8), 255.0 * c.weights[place], 2.0)
          << c.commands << " place " << place;
  }
}

TEST_F(FilterTest, CrossFadeGradesTheRangeAgainstWhatWasBelow) {
  AddPicture("fx", "RED.tga", Solid(640, 480, kRed));
  fx::FxScript* script = Script("fx", FilterScript(ImageLayer("RED", 1, 0), "CROSSFADE 2 0 1 0 0"));
  EXPECT_THAT(At(Frame(script, 1.0f, kBlue), 200, 200), RgbIs(0x800080, 2));
  EXPECT_THAT(At(Frame(script, 0.0f, kBlue), 200, 200), RgbIs(kBlue, 1));
  EXPECT_THAT(At(Frame(script, 3.0f, kBlue), 200, 200), RgbIs(kRed, 1));
}

TEST_F(FilterTest, RadialBurstAddsAZoomedHalfOverLayerZero) {
  Picture band = Solid(640, 480, 0xFF404040u);
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 560; x < 570; ++x) band.pixels[y * 640 + x] = kWhite;
  AddPicture("fx", "BAND.tga", band);
  fx::FxScript* script = Script("fx", FilterScript(ImageLayer("BAND", 1), "RADIALBLUR FADEIN 0 0.05"));
  Frame(script, 0.5f);
  const std::vector<uint32_t> pixels = Frame(script, 0.6f);
  // Nothing on layer 0: half the capture plus half its zoom.
  EXPECT_NEAR(Channel(At(pixels, 256, 256), 8), 0x40, 1);
  const double u = (565.0 / 640.0);                 // the band's centre in the source
  const double p = (u - 0.05) / 0.9;                // where the zoomed read finds it
  const int x = static_cast<int>(std::lround(p * kSize - 0.5));
  EXPECT_NEAR(Channel(At(pixels, x, 256), 8), (255 + 0x40) / 2.0, 3);
  EXPECT_NEAR(Channel(At(pixels, static_cast<int>(u * kSize), 256), 8), (255 + 0x40) / 2.0, 3);
  // Faded out: nothing is added any more, and the layers draw as without
  // a filter.
  fx::FxScript* gone = Script("fx", FilterScript(ImageLayer("BAND", 1), "RADIALBLUR FADEOUT 0 0.05"));
  Frame(gone, 0.5f);
  EXPECT_THAT(At(Frame(gone, 0.6f), 256, 256), RgbIs(0x404040, 3));  // a 16-bit picture
}

TEST_F(FilterTest, BadCommandsChangeNothing) {
  auto filter = std::make_unique<fx::FilterEffect>();
  ASSERT_EQ(filter->Load("F", "RENDERTARGET"), 0);
  const int depth = render::RenderTargetDepth();
  const int textures = render::TextureCount();
  for (const char* command : {"", "JUMP", "FADEIN", "BLUR FADEIN inf nan", "SHADER NOSUCH NOISE FADEIN 1",
                              "MOTIONBLUR FADEIN 0 0.5 99 -4", "CROSSFADE 1 0 1 40 50", "LENS FADEIN -9 1e30 1"}) {
    filter->Command(0.0f, command);
    filter->Update(0.0f);
    for (int layer = 0; layer < 16; ++layer) {
      filter->BeforeLayer(layer, 0.0f);
      filter->AfterLayer(layer, 0.0f);
    }
    filter->AfterPass(0.0f);
    filter->Reset();
    EXPECT_EQ(render::RenderTargetDepth(), depth) << command;
  }
  EXPECT_EQ(filter->Command(0.0f, "JUMP"), -1);
  EXPECT_EQ(filter->Command(0.0f, "3"), 0);  // what FXLAYER sends
  EXPECT_EQ(render::TextureCount(), textures);
}

TEST_F(FilterTest, WithoutRenderTargetsOnlyColourFadesDraw) {
  AddPicture("fx", "RED.tga", Solid(640, 480, kRed));
  const std::string text = "FXINSTANCE F FILTER NORENDERTARGET\n" + ImageLayer("RED", 1, 0) +
                           "FXLAYER F 1\nFXSTART F\nFXCOMMAND F BYPASS ON\nFXCOMMAND F WOBBLE ON\n"
                           "FXCOMMAND F FADEIN 2 0 0 1\nSYNCTIME 100\n";
  fx::FxScript* script = Script("fx", text);
  Frame(script, 1.0f);
  EXPECT_THAT(At(Frame(script, 1.0f), 200, 200), RgbIs(0x800080, 1));
  EXPECT_FALSE(static_cast<fx::FilterEffect*>(script->FindInstance("F"))->HasTargets());
}

}  // namespace

// The VIDEOSTREAM effect on the headless device: drawn into a 512 x 512
// target and read back. Pictures come from a fake source (exact colours,
// held decodes) except where the file itself is the point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fx/effect.h"
#include "fx/video_effect.h"
#include "tests/fx/image_fixture.h"
#include "tests/media/fake_video.h"
#include "tests/media/video_clips.h"

namespace fx_test {
namespace {

using video_test::FakeVideo;

constexpr uint32_t kSide = 512;

class VideoEffectTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    target_ = render::CreateRenderTexture(kSide, kSide, render::FMT_X8R8G8B8, 1);
    ASSERT_NE(target_, render::kNoId);
    ASSERT_EQ(render::PushRenderTarget(target_, render::kNoId), 0);
    fx::SetVideoExactFrames(true);
    fx::SetDrawingDeck(0);
    testing_support::MakeDirs(dir / "fx/data/videos");
    testing_support::WriteFile(dir / "fx/data/videos/clip.avi", "stands for the fake");
    fx::SetVideoSourceOpener([this](const std::string&, const char*, uint32_t, uint32_t, std::string* error) {
      ++opened_;
      std::unique_ptr<FakeVideo> fake = make_fake_();
      if (!fake) {
        *error = "fake: cannot open";
        return std::unique_ptr<media::VideoFrameSource>();
      }
      logs_.push_back(fake->log());
      return std::unique_ptr<media::VideoFrameSource>(std::move(fake));
    });
  }
  void TearDown() override {
    effect_.reset();
    fx::SetVideoSourceOpener(nullptr);
    fx::SetVideoExactFrames(false);
    fx::SetDrawingDeck(0);
    render::PopAllRenderTargets();
    render::ReleaseTexture(target_);
    ImageTest::TearDown();
  }

  // Pictures of one colour; 100 frames at 25 per second.
  void SolidFrames(uint32_t rgb) {
    make_fake_ = [rgb] {
      auto fake = std::make_unique<FakeVideo>(100, 100);
      fake->SetColour([rgb](int64_t) { return rgb; });
      return fake;
    };
  }

  int Load(const std::string& arguments, const std::string& effect = "fx") {
    core::PushBaseFolder(effect);
    effect_ = fx::FindClass(fx::kVideoStreamClass)->Create();
    const int result = effect_->Load("V", arguments.c_str());
    core::PopBaseFolder();
    return result;
  }

  // The middle of the target after drawing at `time` over `background`.
  uint32_t DrawnAt(float time, uint32_t background = 0) {
    std::vector<uint32_t> pixels = DrawAll(time, background);
    return Rgb(pixels.at(static_cast<size_t>(kSide / 2) * kSide + kSide / 2));
  }
  std::vector<uint32_t> DrawAll(float time, uint32_t background = 0) {
    Clear(background);
    EXPECT_EQ(effect_->Render(time), 1);
    return Read();
  }

  render::TextureId target_ = render::kNoId;
  std::unique_ptr<fx::FxInstance> effect_;
  std::function<std::unique_ptr<FakeVideo>()> make_fake_ = [] { return std::make_unique<FakeVideo>(100, 100); };
  std::vector<std::shared_ptr<FakeVideo::Log>> logs_;
  int opened_ = 0;
};

uint32_t Rgb3(int r, int g, int b) {
  auto c = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  return c(r) << 16 | c(g) << 8 | c(b);
}

TEST_F(VideoEffectTest, ModulateTintsAndClampsItsColour) {
  SolidFrames(0x808080);
  ASSERT_EQ(Load("clip.avi"), 0);
  const struct {
    const char* command;
    uint32_t want;
  } cases[] = {
      {"MODULATE 1 0.5 0.25", Rgb3(128, 64, 32)},
      {"MODULATE 0.5", Rgb3(64, 128, 128)},
      {"MODULATE 7 -3 1e30", Rgb3(128, 0, 128)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    effect_->Start(0.0f);
    ASSERT_EQ(effect_->Command(0.0f, c.command), 0);
    EXPECT_THAT(DrawnAt(0.0f), RgbIs(c.want, 2));
  }
}

TEST_F(VideoEffectTest, BlendModesCombinePictureAndBackground) {
  const int s[3] = {200, 100, 50}, d[3] = {40, 80, 160};
  SolidFrames(Rgb3(s[0], s[1], s[2]));
  ASSERT_EQ(Load("clip.avi"), 0);
  auto per_channel = [&](auto f) {
    int out[3];
    for (int i = 0; i < 3; ++i) out[i] = static_cast<int>(f(s[i] / 255.0, d[i] / 255.0) * 255.0 + 0.5);
    return Rgb3(out[0], out[1], out[2]);
  };
  const struct {
    const char* command;
    uint32_t want;
  } cases[] = {
      {"BLEND NORMAL", per_channel([](double src, double) { return src; })},
      {"BLEND ADDITIVE", per_channel([](double src, double dst) { return src + dst; })},
      {"BLEND SUBSTRACTIVE", per_channel([](double src, double dst) { return dst * (1 - src); })},
      {"BLEND MULTIPLY", per_channel([](double src, double dst) { return dst * src; })},
      {"BLEND INVERT", per_channel([](double src, double dst) { return src * (1 - dst) + dst * (1 - src); })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    effect_->Start(0.0f);
    ASSERT_EQ(effect_->Command(0.0f, c.command), 0);
    EXPECT_THAT(DrawnAt(0.0f, Rgb3(d[0], d[1], d[2])), RgbIs(c.want, 2));
  }
}

TEST_F(VideoEffectTest, StartBringsBackWhiteAndNormal) {
  SolidFrames(0xC86432);
  ASSERT_EQ(Load("clip.avi"), 0);
  effect_->Start(0.0f);
  effect_->Command(0.0f, "MODULATE 0 0 0");
  effect_->Command(0.0f, "BLEND ADDITIVE");
  effect_->Start(0.0f);  // the replay starts the instance again
  EXPECT_THAT(DrawnAt(0.0f, 0x203040), RgbIs(0xC86432, 2));
}

TEST_F(VideoEffectTest, TwoDecksAtDifferentTimesShowTheirOwnFrames) {
  make_fake_ = [] {
    auto fake = std::make_unique<FakeVideo>(100, 10);
    fake->SetColour([](int64_t n) { return static_cast<uint32_t>(n * 2) << 16 | 0x40; });
    return fake;
  };
  ASSERT_EQ(Load("clip.avi"), 0);
  effect_->Start(0.0f);
  const struct {
    int deck;
    float time;
    int64_t frame;
  } draws[] = {{0, 0.4f, 10}, {1, 2.0f, 50}, {0, 0.44f, 11}, {1, 2.04f, 51}, {0, 0.48f, 12}};
  for (const auto& draw : draws) {
    fx::SetDrawingDeck(draw.deck);
    EXPECT_THAT(DrawnAt(draw.time), RgbIs(static_cast<uint32_t>(draw.frame * 2) << 16 | 0x40, 1))
        << "deck " << draw.deck << " at " << draw.time;
  }
  EXPECT_EQ(opened_, 2);
  ASSERT_EQ(logs_.size(), 2u);
  // Each deck's decoder went forward after its first jump.
  EXPECT_LE(logs_[0]->Seeks(), 1);
  EXPECT_LE(logs_[1]->Seeks(), 1);
}

TEST_F(VideoEffectTest, LiveRenderKeepsTheOldPictureWhileTheDecoderIsBusy) {
  std::shared_ptr<FakeVideo::Log> log;
  make_fake_ = [] {
    auto fake = std::make_unique<FakeVideo>(100, 100);
    fake->SetColour([](int64_t n) { return n == 50 ? 0xFF0000u : 0x0000FFu; });
    fake->Hold(50);
    return fake;
  };
  ASSERT_EQ(Load("clip.avi"), 0);
  effect_->Start(0.0f);
  EXPECT_THAT(DrawnAt(0.0f), RgbIs(0x0000FF, 1));
  fx::SetVideoExactFrames(false);
  EXPECT_THAT(DrawnAt(2.0f), RgbIs(0x0000FF, 1));  // returned while frame 50 is held
  logs_.at(0)->WaitUntilHeld();
  EXPECT_THAT(DrawnAt(2.0f), RgbIs(0x0000FF, 1));
  logs_.at(0)->Release();
  fx::SetVideoExactFrames(true);
  EXPECT_THAT(DrawnAt(2.0f), RgbIs(0xFF0000, 1));
}

TEST_F(VideoEffectTest, AFrameThatFailsDrawsNothingAndIsLogged) {
  make_fake_ = [] {
    auto fake = std::make_unique<FakeVideo>(100, 100);
    fake->SetColour([](int64_t) { return 0xFFFFFFu; });
    fake->FailFrame(5);
    return fake;
  };
  ASSERT_EQ(Load("clip.avi"), 0);
  effect_->Start(0.0f);
  EXPECT_THAT(DrawnAt(0.16f, 0x102030), RgbIs(0xFFFFFF, 1));
  EXPECT_THAT(DrawnAt(0.2f, 0x102030), RgbIs(0x102030, 1));
  EXPECT_EQ(CountMessagesWith("fake: frame 5 failed"), 1);
  EXPECT_THAT(DrawnAt(0.24f, 0x102030), RgbIs(0xFFFFFF, 1));
}

TEST_F(VideoEffectTest, LoadFailuresSayWhyAndLoadNothing) {
  testing_support::WriteFile(dir / "fx/data/videos/empty.avi", "x");
  make_fake_ = [] { return std::make_unique<FakeVideo>(0, 1); };
  EXPECT_EQ(Load("EMPTY.AVI"), -1);
  EXPECT_EQ(CountMessagesWith("AVIStreamLength failed for data/videos/EMPTY.AVI: pcFile"), 1);
  EXPECT_EQ(Load("NOPE.AVI"), -1);
  EXPECT_EQ(CountMessagesWith("AVIStreamOpenFromFile failed for data/videos/NOPE.AVI: pcFile"), 1);
  EXPECT_EQ(Load(""), -1);
  make_fake_ = [] { return nullptr; };
  EXPECT_EQ(Load("clip.avi"), -1);
  EXPECT_EQ(CountMessagesWith("fake: cannot open"), 1);
}

// The real decoder: a file whose name has blanks, named upper-case as the
// script reader passes it, and a text file posing as a video.
TEST_F(VideoEffectTest, RealFilesByNameWithBlanks) {
  fx::SetVideoSourceOpener(nullptr);
  ASSERT_EQ(video_test::MakeBitsClip(dir / "fx/data/videos/my clip.avi", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), 0);
  ASSERT_EQ(Load("MY CLIP.AVI"), 0);
  effect_->Start(1.0f);
  for (int frame : {37, 38, 12, 99}) {
    std::vector<uint32_t> pixels = DrawAll(1.0f + static_cast<float>(frame) / 25.0f);
    int number = 0;
    for (int bit = 0; bit < 8; ++bit) {
      const uint32_t x = (16 * bit + 8) * kSide / 128, y = 8 * kSide / 96;
      if (((pixels.at(static_cast<size_t>(y) * kSide + x) >> 8) & 0xff) >= 128) number |= 1 << bit;
    }
    EXPECT_EQ(number, frame);
  }
  testing_support::WriteFile(dir / "fx/data/videos/notes.avi", "not a video\n");
  EXPECT_EQ(Load("NOTES.AVI"), -1);
  EXPECT_EQ(CountMessagesWith("AVIStreamOpenFromFile failed for data/videos/NOTES.AVI: pcFile"), 1);
}

}  // namespace
}  // namespace fx_test

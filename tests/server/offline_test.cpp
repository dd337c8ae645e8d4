// Fixed-rate offline renders: the frame loop's clock advances exactly 1/F s
// per frame, every deck is drawn at the time that clock gives, and the same
// run renders the same pictures, byte for byte, every time.
//
// This runs the frame loop's steps in-process with the test-only SWATCH
// class, with several mixers and beat modes at once; the real program's
// offline run (a preset, the IMAGE effect) is checked in program_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "tests/server/server_fixture.h"
#include "tests/server/swatch.h"

namespace server_test {
namespace {

constexpr double kFps = 25.0;
constexpr int kFrames = 30;

class OfflineRender : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    fx::RegisterFxClass(&SwatchClass());
    MakeEffect("Move", "-", SwatchScript("SAW 8 MOVE 37"));
    MakeEffect("Flash", "-", SwatchScript("FILL 255 40 0 COVER 0.25", 2));
    MakeEffect("Bars", "-", SwatchScript("VGRAD 0 0 255 0 255 0 COVER 0.6 MOVE 90", 3));
    MakeEffect("Clock", "clock", MarkerScript("data/tag.txt", 7));
  }
  void TearDown() override {
    render::SetDumpFolder("");
    ServerTest::TearDown();
    fx::UnregisterFxClass(&SwatchClass());
  }

  // One offline run from a fresh start: taps, decks with different mixers
  // and beat modes, then kFrames frames on the fixed-rate clock, each
  // dumped into `folder`. Returns the Marker's drawing times.
  std::vector<double> Run(const std::string& folder) {
    std::vector<double> times;
    clock.Set(core::kClockEpoch);
    fx::StartTiming();
    MarkerLog().clear();
    render::SetDumpFolder(dir / folder);
    testing_support::MakeDirs(dir / folder);
    // A tapped tempo of 320 ms gives the beats.
    fx::Tap();
    clock.Advance(0.32);
    fx::Tap();
    Start();
    if (HasFatalFailure()) return times;
    PutOnDeck(0, "MOVE", 0, 1.0f);
    PutOnDeck(1, "FLASH", 1, 0.9f);   // BEATBLEND
    PutOnDeck(2, "BARS", 6, 0.7f);    // BEATADDITIVE
    PutOnDeck(3, "BARS", 2, 0.5f);    // INVERSEBEATBLEND
    PutOnDeck(4, "CLOCK");
    server::GetDeck(2)->record.beat_mode = net::kBeatStartOnBeat;
    server::GetDeck(3)->record.beat_mode = net::kBeatEndOnBeat;
    server::GetDeck(3)->record.speed = 1.0f;
    const double start = clock.Seconds();
    for (int frame = 0; frame < kFrames; ++frame) {
      clock.Set(start + frame / kFps);
      Frame(/*detect=*/true);
    }
    for (const std::string& line : MarkerLog())
      if (line.rfind("render ", 0) == 0) times.push_back(std::atof(line.substr(line.rfind(' ') + 1).c_str()));
    server::ShutdownServer();
    return times;
  }
};

TEST_F(OfflineRender, TheSameRunRendersTheSameFramesAtTheClocksTimes) {
  std::vector<double> first_times = Run("first");
  std::vector<double> second_times = Run("second");
  ASSERT_EQ(first_times.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(first_times, second_times);
  // Frame k is drawn at k / F seconds after the deck was anchored.
  for (int k = 0; k < kFrames; ++k) EXPECT_NEAR(first_times[static_cast<size_t>(k)], k / kFps, 1e-3) << k;

  std::vector<std::string> names = testing_support::ListDir(dir / "first");
  ASSERT_EQ(names.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(testing_support::ListDir(dir / "second"), names);
  std::set<std::string> distinct;
  for (const std::string& name : names) {
    const std::string a = testing_support::ReadFile(dir / ("first/" + name));
    const std::string b = testing_support::ReadFile(dir / ("second/" + name));
    ASSERT_FALSE(a.empty()) << name;
    EXPECT_TRUE(a == b) << name << " differs between the two runs";
    distinct.insert(a);
  }
  // The show moves: the frames are not all one picture.
  EXPECT_GE(distinct.size(), static_cast<size_t>(kFrames) / 2);
}

}  // namespace
}  // namespace server_test

// Beat settings, listeners, taps, the metronome and the detector, with
// samples pushed frame by frame under an injected clock. Times are chosen
// exactly representable in binary (multiples of 1/64 s) so the millisecond
// arithmetic of the expectations is exact.
#include <gtest/gtest.h>

#include "tests/fx/sound_fixture.h"

namespace {

using fx_test::BinSine;
using fx_test::SoundTest;

constexpr double kStep = 1.0 / 64.0;  // one frame
const std::vector<float> kSilence;

class BeatTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    clock.Set(1024.0);
    for (int i = 0; i < 6; ++i) decks.push_back(fx::CreateBeatListener());
  }
  // A tone on beat-spectrum bin `bin` whose magnitude there is `magnitude`.
  static std::vector<float> Tone(int bin, float magnitude) { return BinSine(bin, 512, magnitude, 512); }

  // Runs `frames` frames of `signal`; returns how many frames flagged a beat
  // on deck 0 and checks that every deck agrees.
  int Run(const std::vector<float>& signal, int frames) {
    int beats = 0;
    for (int i = 0; i < frames; ++i) {
      Frame(signal, kStep);
      for (fx::BeatListener* deck : decks) EXPECT_EQ(deck->beat_now, decks[0]->beat_now);
      beats += decks[0]->beat_now;
    }
    return beats;
  }

  std::vector<fx::BeatListener*> decks;
};

TEST_F(BeatTest, SettingsStartAtTheirDefaultsAndAnySubsetCanBeSet) {
  fx::BeatSettings s = fx::GetBeatSettings();
  EXPECT_EQ(s.low_bin, 0);
  EXPECT_EQ(s.high_bin, 10);
  EXPECT_EQ(s.threshold, 0.5f);
  fx::SetBeatSettings(std::nullopt, std::nullopt, 0.7f);
  s = fx::GetBeatSettings();
  EXPECT_EQ(s.low_bin, 0);
  EXPECT_EQ(s.high_bin, 10);
  EXPECT_EQ(s.threshold, 0.7f);
  fx::SetBeatSettings(3, std::nullopt, std::nullopt);
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 3);
  EXPECT_EQ(fx::GetBeatSettings().threshold, 0.7f);
  fx::SetBeatSettings(std::nullopt, std::nullopt, std::nanf(""));
  EXPECT_EQ(fx::GetBeatSettings().threshold, 0.7f);
  fx::SetBeatSettings(std::nullopt, std::nullopt, INFINITY);
  EXPECT_EQ(fx::GetBeatSettings().threshold, 0.7f);
}

TEST_F(BeatTest, BinsAreClampedToTheExaminedBandAndALowBinAboveTheHighOneIsLowered) {
  fx::SetBeatSettings(std::nullopt, 200, std::nullopt);
  EXPECT_EQ(fx::GetBeatSettings().high_bin, 64);
  fx::SetBeatSettings(-5, std::nullopt, std::nullopt);
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 0);
  fx::SetBeatSettings(20, 10, std::nullopt);
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 10);
  EXPECT_EQ(fx::GetBeatSettings().high_bin, 10);
  fx::SetBeatSettings(std::nullopt, 5, std::nullopt);  // only the high bin moves: low follows
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 5);
  EXPECT_EQ(fx::GetBeatSettings().high_bin, 5);
  fx::SetBeatSettings(300, -1, std::nullopt);
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 0);
  EXPECT_EQ(fx::GetBeatSettings().high_bin, 0);
}

TEST_F(BeatTest, AHighBinOf200ExaminesBinsUpTo64Only) {
  fx::SetBeatSettings(std::nullopt, 200, std::nullopt);
  EXPECT_EQ(Run(Tone(64, 1.0f), 4), 1);
  EXPECT_NEAR(decks[0]->level, 1.0f, 0.01f);
  Run(kSilence, 30);
  EXPECT_EQ(Run(Tone(70, 1.0f), 30), 0);
  EXPECT_LT(decks[0]->level, 0.05f);
}

TEST_F(BeatTest, OnlyTheBandBetweenTheBinsCounts) {
  fx::SetBeatSettings(10, 20, std::nullopt);
  EXPECT_EQ(Run(Tone(5, 1.0f), 30), 0);
  EXPECT_EQ(Run(Tone(25, 1.0f), 30), 0);
  EXPECT_EQ(Run(Tone(15, 1.0f), 30), 1);
}

TEST_F(BeatTest, ListenersTakeTheSquareRootOfTheLoudestBandBinAsTheirLevel) {
  Run(Tone(3, 0.36f), 1);
  for (fx::BeatListener* deck : decks) EXPECT_NEAR(deck->level, 0.6f, 0.01f);
  // The shared spectrum keeps its magnitudes for other readers of this time.
  EXPECT_NEAR(fx::GetBeatSpectrum(clock.Seconds())[3], 0.36f, 0.01f);
  Run(kSilence, 1);
  for (fx::BeatListener* deck : decks) EXPECT_EQ(deck->level, 0.0f);
}

TEST_F(BeatTest, ALoudSteadyToneGivesOneBeatUntilTheLevelDrops) {
  EXPECT_EQ(Run(kSilence, 10), 0);
  Frame(Tone(3, 0.81f), kStep);
  ASSERT_TRUE(decks[0]->beat_now);
  EXPECT_EQ(decks[0]->last_beat_time, clock.Seconds());
  EXPECT_FALSE(decks[0]->armed);
  EXPECT_EQ(Run(Tone(3, 0.81f), 300), 0);  // ~4.7 s of the same tone
  EXPECT_FALSE(decks[0]->armed);
  Run(kSilence, 1);
  EXPECT_TRUE(decks[0]->armed);
  EXPECT_EQ(Run(Tone(3, 0.81f), 60), 1);
}

TEST_F(BeatTest, ThresholdIsInclusiveOnTheSquareRoot) {
  fx::SetBeatSettings(std::nullopt, std::nullopt, 0.6f);
  EXPECT_EQ(Run(Tone(4, 0.30f), 30), 0);  // root 0.548
  EXPECT_EQ(Run(Tone(4, 0.40f), 30), 1);  // root 0.632
}

TEST_F(BeatTest, TwoPeaksAQuarterSecondApartGiveOneBeat) {
  Run(kSilence, 64);
  // Peak, drop, second peak 0.25 s (16 frames) after the first.
  EXPECT_EQ(Run(Tone(2, 1.0f), 3), 1);
  EXPECT_EQ(Run(kSilence, 13), 0);
  EXPECT_TRUE(decks[0]->armed);
  EXPECT_EQ(Run(Tone(2, 1.0f), 3), 0);
  // A third peak 0.5 s after the first is past the 1/3 s pause.
  EXPECT_EQ(Run(kSilence, 13), 0);
  EXPECT_EQ(Run(Tone(2, 1.0f), 3), 1);
}

TEST_F(BeatTest, WithBeatsDisabledListenersReportNothingButStillReArm) {
  EXPECT_EQ(Run(Tone(3, 1.0f), 2), 1);
  EXPECT_FALSE(decks[0]->armed);
  fx::SetBeatDisabled(true);
  EXPECT_TRUE(fx::BeatDisabled());
  EXPECT_EQ(Run(kSilence, 30), 0);
  EXPECT_TRUE(decks[0]->armed);
  EXPECT_EQ(Run(Tone(3, 1.0f), 30), 0);
  EXPECT_TRUE(decks[0]->armed);  // nothing fired, so it stays armed
  // Taps are silenced too.
  fx::Tap();
  clock.Advance(0.5);
  fx::Tap();
  EXPECT_EQ(Run(kSilence, 64), 0);
  fx::ToggleBeatDisabled();
  EXPECT_FALSE(fx::BeatDisabled());
  EXPECT_GT(Run(kSilence, 64), 0);
}

TEST_F(BeatTest, TapsHalfASecondApartFireEveryListenerInTheFirst100MsOfEachPeriod) {
  fx::Tap();
  clock.Advance(0.5);
  fx::Tap();
  ASSERT_EQ(fx::TappedPeriodMs(), 500u);
  const uint32_t last = fx::LastTapMs();
  EXPECT_EQ(last, 1024500u);
  int beats = 0;
  for (int frame = 0; frame < 64 * 3; ++frame) {
    Frame(kSilence, kStep);
    uint32_t now_ms = static_cast<uint32_t>(clock.Seconds() * 1000.0);  // exact: multiples of 1/64 s
    bool expected = (now_ms - last) % 500u < 100u;
    for (fx::BeatListener* deck : decks) ASSERT_EQ(deck->beat_now, expected) << "at " << now_ms << " ms";
    beats += expected;
  }
  // Every frame of each window: 6 or 7 frames of 15.6 ms in 100 ms, six periods.
  EXPECT_GE(beats, 6 * 6);
}

TEST_F(BeatTest, WithNoInputAtAllTheBeatComesFromTapsOnly) {
  input->SetStartFails(true);
  fx::Tap();
  clock.Advance(0.5);
  fx::Tap();
  int beats = Run(kSilence, 64 * 2);
  EXPECT_EQ(fx::GetBeatSpectrum(clock.Seconds()), nullptr);
  EXPECT_GE(beats, 4 * 6);
  EXPECT_EQ(decks[0]->level, 0.0f);
  EXPECT_EQ(CountMessages("no input available"), 1);
}

TEST_F(BeatTest, TapPeriodIsTheMedianOfTheLastThreeIntervals) {
  fx::Tap();
  EXPECT_EQ(fx::TappedPeriodMs(), 0u);  // one tap: no metronome
  EXPECT_EQ(fx::LastTapMs(), 1024000u);
  clock.Set(1024.375);
  fx::Tap();
  EXPECT_EQ(fx::TappedPeriodMs(), 375u);  // two taps: their interval
  clock.Set(1024.875);
  fx::Tap();
  EXPECT_EQ(fx::TappedPeriodMs(), 500u);  // three: intervals 375, 500 and the clock itself
  clock.Set(1025.5);
  fx::Tap();
  EXPECT_EQ(fx::TappedPeriodMs(), 500u);  // four: median of 375, 500, 625
  clock.Set(1026.75);
  fx::Tap();
  EXPECT_EQ(fx::TappedPeriodMs(), 625u);  // median of 500, 625, 1250
  clock.Set(1027.0);
  fx::Tap();
  EXPECT_EQ(fx::TappedPeriodMs(), 625u);  // median of 625, 1250, 250
  EXPECT_EQ(fx::LastTapMs(), 1027000u);
  fx::StartTiming();
  EXPECT_EQ(fx::TappedPeriodMs(), 0u);
  EXPECT_EQ(fx::LastTapMs(), 0u);
}

TEST_F(BeatTest, MetronomeTickUsesUnsignedMilliseconds) {
  EXPECT_FALSE(fx::MetronomeTick(1024000));  // no period
  fx::Tap();
  clock.Set(1024.5);
  fx::Tap();
  EXPECT_TRUE(fx::MetronomeTick(1024500));
  EXPECT_TRUE(fx::MetronomeTick(1024599));
  EXPECT_FALSE(fx::MetronomeTick(1024600));
  EXPECT_FALSE(fx::MetronomeTick(1024999));
  EXPECT_TRUE(fx::MetronomeTick(1025000));
  EXPECT_TRUE(fx::MetronomeTick(1025099));
  EXPECT_FALSE(fx::MetronomeTick(1025100));

  // Across the 32-bit wrap of the millisecond counter (after ~49.7 days).
  fx::StartTiming();
  clock.Set(4294966.5);
  fx::Tap();
  clock.Set(4294967.0);
  fx::Tap();
  ASSERT_EQ(fx::TappedPeriodMs(), 500u);
  EXPECT_TRUE(fx::MetronomeTick(254u));   // 550 ms after the last tap
  EXPECT_FALSE(fx::MetronomeTick(200u));  // 496 ms after
}

TEST_F(BeatTest, ListenersStartArmedAndLiveInCreationOrder) {
  const std::vector<fx::BeatListener*>& list = fx::BeatListeners();
  ASSERT_EQ(list, decks);
  for (fx::BeatListener* deck : decks) {
    EXPECT_EQ(deck->reserved, 0.45f);
    EXPECT_EQ(deck->last_beat_time, 0.0);
    EXPECT_FALSE(deck->beat_now);
    EXPECT_TRUE(deck->armed);
    EXPECT_EQ(deck->level, 0.0f);
  }
  fx::DestroyBeatListener(decks[2]);
  decks.erase(decks.begin() + 2);
  EXPECT_EQ(list, decks);
  fx::DestroyBeatListener(nullptr);  // unknown: ignored
  EXPECT_EQ(list.size(), 5u);
  fx::BeatListener* added = fx::CreateBeatListener();
  EXPECT_EQ(list.back(), added);
  decks.push_back(added);
  fx::StopTiming();
  EXPECT_TRUE(fx::BeatListeners().empty());
  decks.clear();
}

// With the MIDI clock as the tempo source only its beats count: loud
// sound and the tapped metronome beat nothing, and the tempo is the clock's.
TEST_F(BeatTest, TheMidiClockAloneBeatsWhenItIsTheSource) {
  fx::Tap();
  clock.Advance(0.5);
  fx::Tap();
  fx::SetTempoSource(fx::TempoSource::kMidiClock);
  EXPECT_EQ(fx::TappedPeriodMs(), 0u);  // no clock heard yet
  EXPECT_EQ(Run(Tone(5, 1.0f), 64), 0);
  fx::SetClockPeriodMs(345);
  fx::ClockBeat(clock.Seconds());
  Frame(kSilence, kStep);
  EXPECT_TRUE(decks[0]->beat_now);
  EXPECT_EQ(decks[0]->last_beat_time, clock.Seconds() - kStep);  // the clock's moment, not the frame's
  EXPECT_EQ(fx::TappedPeriodMs(), 345u);
  EXPECT_EQ(fx::LastTapMs(), fx::MillisecondsOf(clock.Seconds() - kStep));
  EXPECT_EQ(Run(kSilence, 4), 0);  // one beat, once
  fx::SetBeatDisabled(true);
  fx::ClockBeat(clock.Seconds());
  EXPECT_EQ(Run(kSilence, 1), 0);
  fx::SetBeatDisabled(false);
  // Back to taps: the tapped tempo returns.
  fx::SetTempoSource(fx::TempoSource::kTap);
  EXPECT_EQ(fx::TappedPeriodMs(), 500u);
}

}  // namespace

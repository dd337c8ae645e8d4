// Deck time: speed, wrapping into the script length, speed changes without
// a jump, and the two beat modes (with the tapped period and the
// beat-disable flag). First on a deck alone, then through the Server's
// frame with the Marker effect reporting the time it was drawn at.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

constexpr double kEps = 1e-9;

class DeckTime : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramClock(&clock);
    fx::StartTiming();
    deck.record = net::DefaultDeckRecord(0);
    deck.listener = &listener;
    deck.start_time = 1000.0;
  }
  void TearDown() override {
    fx::StopTiming();
    core::SetProgramClock(nullptr);
  }
  double At(double now, float length = 10.0f) { return server::DeckEffectTime(&deck, now, length); }
  // The time at `now` in a frame whose listener reports a beat.
  double AtBeat(double now, float length = 10.0f) {
    listener.beat_now = true;
    double t = At(now, length);
    listener.beat_now = false;
    return t;
  }

  core::ManualClock clock{1000.0};
  fx::BeatListener listener;
  server::Deck deck;
};

TEST_F(DeckTime, NormalSpeedFollowsTheClockAndWrapsIntoTheLength) {
  EXPECT_NEAR(At(1000.0), 0.0, kEps);
  EXPECT_NEAR(At(1003.25), 3.25, kEps);
  EXPECT_NEAR(At(1012.5), 2.5, kEps);
  deck.record.speed = 1.0f;  // twice as fast
  EXPECT_NEAR(At(1003.0), 6.0, kEps);
  // After hours of show the time still has its milliseconds.
  deck.record.speed = 0.75f;
  EXPECT_NEAR(At(1000.0 + 36000.0 + 1.234), 1.234, 1e-6);
}

TEST_F(DeckTime, SpeedOneHalfFreezesTheDeck) {
  deck.record.speed = 0.5f;
  deck.time_offset = 3.0;
  for (double now : {1000.0, 1001.5, 1100.0, 5000.0}) EXPECT_NEAR(At(now), 3.0, kEps) << now;
}

TEST_F(DeckTime, SpeedOneQuarterRunsBackwardsAndWrapsFromZeroToTheLength) {
  deck.record.speed = 0.25f;  // rate -1
  EXPECT_NEAR(At(1000.0, 4.0f), 0.0, kEps);
  EXPECT_NEAR(At(1000.5, 4.0f), 3.5, kEps);
  EXPECT_NEAR(At(1001.0, 4.0f), 3.0, kEps);
  EXPECT_NEAR(At(1003.9, 4.0f), 0.1, 1e-6);
  EXPECT_NEAR(At(1004.25, 4.0f), 3.75, kEps);
  // Never outside 0 .. L.
  for (double now = 1000.0; now < 1020.0; now += 0.01) {
    double t = At(now, 4.0f);
    ASSERT_GE(t, 0.0);
    ASSERT_LT(t, 4.0);
  }
  deck.record.speed = 0.0f;  // backwards at twice the speed
  EXPECT_NEAR(At(1000.5, 4.0f), 3.0, kEps);
}

TEST_F(DeckTime, ASpeedChangeKeepsTheTimeAndChangesOnlyThePace) {
  EXPECT_NEAR(At(1003.0), 3.0, kEps);
  server::ChangeDeckSpeed(&deck, 1.0f, 1003.0);
  EXPECT_EQ(deck.record.speed, 1.0f);
  EXPECT_NEAR(At(1003.0), 3.0, kEps);
  EXPECT_NEAR(At(1004.0), 5.0, kEps);
  server::ChangeDeckSpeed(&deck, 0.5f, 1004.0);
  EXPECT_NEAR(At(1004.0), 5.0, kEps);
  EXPECT_NEAR(At(1009.0), 5.0, kEps);
  server::ChangeDeckSpeed(&deck, 0.25f, 1009.0);
  EXPECT_NEAR(At(1011.0), 3.0, kEps);
  server::ChangeDeckSpeed(&deck, std::nanf(""), 1011.0);  // ignored
  EXPECT_EQ(deck.record.speed, 0.25f);
  EXPECT_NEAR(At(1011.0), 3.0, kEps);
}

TEST_F(DeckTime, ALengthOfZeroPlaysAtTimeZero) {
  EXPECT_EQ(At(1003.0, 0.0f), 0.0);
  EXPECT_EQ(At(1003.0, -1.0f), 0.0);
  EXPECT_EQ(At(1003.0, std::nanf("")), 0.0);
  EXPECT_EQ(server::DeckEffectTime(nullptr, 1003.0, 10.0f), 0.0);
}

TEST_F(DeckTime, StartOnBeatRestartsAtEachBeatAndFreeModeDoesNot) {
  EXPECT_NEAR(AtBeat(1004.2), 4.2, kEps);  // FREE ignores the beat
  deck.record.beat_mode = net::kBeatStartOnBeat;
  EXPECT_NEAR(At(1004.2), 4.2, kEps);  // no beat, no restart
  EXPECT_NEAR(AtBeat(1004.2), 0.0, kEps);
  EXPECT_DOUBLE_EQ(deck.start_time, 1004.2);
  EXPECT_NEAR(At(1004.45), 0.25, kEps);
  EXPECT_NEAR(AtBeat(1005.0), 0.0, kEps);
  EXPECT_NEAR(At(1006.5), 1.5, kEps);
  // The speed still applies after the restart.
  deck.record.speed = 1.0f;
  EXPECT_NEAR(AtBeat(1007.0), 0.0, kEps);
  EXPECT_NEAR(At(1007.5), 1.0, kEps);
}

TEST_F(DeckTime, StartOnBeatWithBeatsDisabledNeverRestarts) {
  deck.record.beat_mode = net::kBeatStartOnBeat;
  fx::SetBeatDisabled(true);
  for (double now = 1001.0; now < 1009.0; now += 0.5) EXPECT_NEAR(AtBeat(now), now - 1000.0, kEps) << now;
  deck.record.beat_mode = net::kBeatEndOnBeat;
  EXPECT_NEAR(AtBeat(1009.5), 9.5, kEps);
  fx::SetBeatDisabled(false);
  deck.record.beat_mode = net::kBeatStartOnBeat;
  EXPECT_NEAR(AtBeat(1009.5), 0.0, kEps);
}

TEST_F(DeckTime, EndOnBeatWithoutATappedPeriodWrapsToZeroAtOnce) {
  deck.record.beat_mode = net::kBeatEndOnBeat;
  ASSERT_EQ(fx::TappedPeriodMs(), 0u);
  EXPECT_NEAR(AtBeat(1004.2), 0.0, kEps);
  EXPECT_NEAR(deck.time_offset, 10.0, kEps);
  EXPECT_NEAR(At(1005.2), 1.0, kEps);
}

TEST_F(DeckTime, EndOnBeatReachesTheEndOneTappedPeriodAfterTheBeat) {
  // Four taps with intervals 400, 500 and 600 ms: the median is 500.
  for (double at : {0.0, 0.4, 0.9, 1.5}) {
    clock.Set(1000.0 + at);
    fx::Tap();
  }
  ASSERT_EQ(fx::TappedPeriodMs(), 500u);
  deck.record.beat_mode = net::kBeatEndOnBeat;
  EXPECT_NEAR(AtBeat(1002.0), 9.5, 1e-6);
  EXPECT_NEAR(At(1002.25), 9.75, 1e-6);
  EXPECT_NEAR(At(1002.6), 0.1, 1e-6);  // wrapped half a second after the beat
  // Two taps alone give their interval.
  fx::StartTiming();
  clock.Set(1010.0);
  fx::Tap();
  clock.Set(1010.75);
  fx::Tap();
  ASSERT_EQ(fx::TappedPeriodMs(), 750u);
  EXPECT_NEAR(AtBeat(1011.0), 9.25, 1e-6);
  // A period longer than the script wraps backwards into it.
  EXPECT_NEAR(AtBeat(1011.0, 0.5f), 0.25, 1e-6);
}

// --- through the Server's frame ---------------------------------------------

// The effect times the Marker was drawn at, in order.
std::vector<double> RenderTimes() {
  std::vector<double> times;
  for (const std::string& line : MarkerLog())
    if (line.rfind("render ", 0) == 0) times.push_back(std::atof(line.substr(line.rfind(' ') + 1).c_str()));
  return times;
}

TEST_F(ServerTest, ASpeedChangeFromTheClientDoesNotMakeTheEffectJump) {
  MakeEffect("Clock", "clock");
  FakeClient client;
  StartAndConnect(&client);
  Load(&client, EffectId("CLOCK"));
  client.Send(net::SetDeckEffectMessage(EffectId("CLOCK"), 3));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  clock.Advance(3.0);
  MarkerLog().clear();
  Frame();
  net::DeckRecord update = net::DefaultDeckRecord(3);
  update.change_mask = net::kMaskSpeed;
  update.speed = 1.0f;
  client.Send(net::DeckUpdateMessage(update));
  auto reply = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->record.speed, 1.0f);
  clock.Advance(1.0);
  Frame();
  std::vector<double> times = RenderTimes();
  ASSERT_GE(times.size(), 3u);
  EXPECT_NEAR(times.front(), 3.0, 1e-3);
  // Frames drawn while the reply was awaited (the clock stood still) show
  // 3.0; after one more second at twice the speed, 5.0.
  for (size_t i = 0; i + 1 < times.size(); ++i) EXPECT_NEAR(times[i], 3.0, 1e-3) << i;
  EXPECT_NEAR(times.back(), 5.0, 1e-3);
}

// Two taps 500 ms apart: the metronome ticks for the first 100 ms of every
// period and START ON BEAT restarts the script on every frame of the tick,
// so the script moves only once the tick is over.
TEST_F(ServerTest, StartOnBeatFollowsTheMetronomeFrameByFrame) {
  MakeEffect("Clock", "clock");
  Start();
  PutOnDeck(0, "CLOCK");
  server::GetDeck(0)->record.beat_mode = net::kBeatStartOnBeat;
  fx::Tap();
  clock.Advance(0.5);
  fx::Tap();
  const uint32_t last_tap = fx::LastTapMs();
  MarkerLog().clear();
  double restarted_at = -1.0;
  int restarts = 0;
  for (int frame = 0; frame < 100; ++frame) {
    clock.Advance(0.02);
    Frame(/*detect=*/true);
    const double now = clock.Seconds();
    const bool tick = (fx::MillisecondsOf(now) - last_tap) % 500u < 100u;
    std::vector<double> times = RenderTimes();
    ASSERT_EQ(times.size(), static_cast<size_t>(frame) + 1);
    if (tick) {
      restarted_at = now;
      ++restarts;
      EXPECT_NEAR(times.back(), 0.0, 1e-3) << "frame " << frame;
    } else if (restarted_at > 0) {
      EXPECT_NEAR(times.back(), now - restarted_at, 1e-3) << "frame " << frame;
    }
  }
  EXPECT_GE(restarts, 3 * 5);  // five frames of 20 ms in each of the 100 ms windows
  // With the beat disabled the script runs on.
  fx::SetBeatDisabled(true);
  MarkerLog().clear();
  for (int frame = 0; frame < 50; ++frame) {
    clock.Advance(0.02);
    Frame(true);
  }
  std::vector<double> times = RenderTimes();
  ASSERT_EQ(times.size(), 50u);
  for (size_t i = 1; i < times.size(); ++i) {
    double step = times[i] - times[i - 1];
    if (step < 0) step += 10.0;  // the 10 s script wraps
    EXPECT_NEAR(step, 0.02, 1e-3) << i;
  }
}

}  // namespace
}  // namespace server_test

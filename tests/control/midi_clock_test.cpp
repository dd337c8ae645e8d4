// MIDI messages from bytes, and the MIDI clock: tempo through USB-like
// jitter, beats every 24 pulses, start, stop and continue.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "control/control.h"

namespace {

using control::MidiClock;
using control::MidiMessage;

MidiMessage Status(uint8_t status, double time = 0.0) {
  MidiMessage message;
  EXPECT_TRUE(control::ParseMidiBytes(&status, 1, time, &message));
  return message;
}

TEST(MidiBytes, OnlyCompleteShortMessagesParse) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool parses;
  };
  const Case cases[] = {
      {{0xB0, 7, 100}, true},  {{0x9F, 36, 0}, true},   {{0xC3, 5}, true},      {{0xF8}, true},
      {{0xFA}, true},          {{0xFC}, true},          {{0xB0, 7}, false},     {{0xC3, 5, 1}, false},
      {{0xB0, 7, 128}, false}, {{7, 100}, false},       {{0xF0, 1, 0xF7}, false}, {{}, false},
      {{0xF8, 0}, false},      {{0xF4}, false},
  };
  for (const Case& c : cases) {
    MidiMessage message;
    EXPECT_EQ(control::ParseMidiBytes(c.bytes.data(), c.bytes.size(), 1.5, &message), c.parses)
        << testing::PrintToString(c.bytes);
  }
  MidiMessage cc;
  const uint8_t bytes[] = {0xB3, 7, 100};
  ASSERT_TRUE(control::ParseMidiBytes(bytes, 3, 2.0, &cc));
  EXPECT_EQ(cc.kind(), control::kMidiControlChange);
  EXPECT_EQ(cc.channel(), 3);
  EXPECT_EQ(cc.data2, 100);
  EXPECT_EQ(cc.time, 2.0);
}

// Pulses of a clock at `bpm` from `start`, each moved by up to
// +-`jitter` seconds (a fixed seed: the same run every time).
std::vector<double> PulseTimes(double bpm, int beats, double jitter, double start = 10.0) {
  std::mt19937 random(1234);
  std::uniform_real_distribution<double> noise(-jitter, jitter);
  const double pulse = 60.0 / bpm / MidiClock::kPulsesPerBeat;
  std::vector<double> times;
  for (int i = 0; i < beats * MidiClock::kPulsesPerBeat; ++i) times.push_back(start + i * pulse + noise(random));
  return times;
}

TEST(MidiClockTempo, JitteredClocksMeasureWithinHalfABpm) {
  for (double bpm : {120.0, 174.0, 60.0, 200.0}) {
    for (double jitter : {0.0, 0.002}) {
      MidiClock clock;
      int beats = 0;
      for (double t : PulseTimes(bpm, 8, jitter))
        if (clock.Feed(Status(control::kMidiClockPulse, t)) == MidiClock::Event::kBeat) ++beats;
      EXPECT_EQ(beats, 8) << bpm;
      EXPECT_NEAR(clock.Bpm(), bpm, 0.5) << bpm << " BPM, jitter " << jitter;
    }
  }
}

TEST(MidiClockTempo, ATempoChangeSettlesWithinTheWindow) {
  MidiClock clock;
  for (double t : PulseTimes(120.0, 4, 0.002, 10.0)) clock.Feed(Status(control::kMidiClockPulse, t));
  const double end = 10.0 + 2.0;
  for (double t : PulseTimes(140.0, 4, 0.002, end)) clock.Feed(Status(control::kMidiClockPulse, t));
  EXPECT_NEAR(clock.Bpm(), 140.0, 0.5);
  // After a long pause the old pulses are forgotten at once.
  clock.Feed(Status(control::kMidiClockPulse, 100.0));
  EXPECT_EQ(clock.PeriodSeconds(), 0.0);
}

TEST(MidiClockTempo, StartStopAndContinueDecideTheBeats) {
  MidiClock clock;
  const double pulse = 0.5 / MidiClock::kPulsesPerBeat;
  double t = 0.0;
  auto run = [&](int pulses) {
    std::vector<int> beats;
    for (int i = 0; i < pulses; ++i, t += pulse)
      if (clock.Feed(Status(control::kMidiClockPulse, t)) == MidiClock::Event::kBeat) beats.push_back(i);
    return beats;
  };
  // A clock that never sent start beats from its first pulse.
  EXPECT_EQ(run(50), (std::vector<int>{0, 24, 48}));
  clock.Feed(Status(control::kMidiStop, t));
  EXPECT_FALSE(clock.running());
  EXPECT_TRUE(run(30).empty());  // the tempo is still measured while stopped
  EXPECT_NEAR(clock.Bpm(), 120.0, 0.01);
  // Continue picks up where the song stopped: 2 pulses into a beat.
  clock.Feed(Status(control::kMidiContinue, t));
  EXPECT_EQ(run(30), (std::vector<int>{22}));
  // Start goes back to the first beat.
  clock.Feed(Status(control::kMidiStart, t));
  EXPECT_EQ(run(25), (std::vector<int>{0, 24}));
}

}  // namespace

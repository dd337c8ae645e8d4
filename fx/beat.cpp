// Beat timing: settings, listeners, tap tempo, metronome and the detector.
//
// Times that stay inside the program are double seconds of the program
// clock; the tap ring keeps that clock's unsigned milliseconds, so the
// metronome's "mod P" arithmetic wraps the way an unsigned counter does.
#include <algorithm>
#include <limits>
#include <cmath>

#include "app/core/core.h"
#include "fx/sound_internal.h"

namespace fx {
namespace {

struct TimingState {
  BeatSettings settings;
  bool beat_disabled = false;
  std::vector<BeatListener*> listeners;
  uint32_t tap_ring[4] = {0, 0, 0, 0};
  uint32_t tap_count = 0;
  uint32_t tapped_period = 0;
  uint32_t last_tap = 0;
  double frame_time = std::numeric_limits<double>::quiet_NaN();
  TempoSource source = TempoSource::kTap;
  uint32_t clock_period = 0;
  uint32_t last_clock_beat = 0;
  bool clock_beat_pending = false;
  double clock_beat_time = 0.0;
};

TimingState& Timing() {
  static TimingState* state = new TimingState();  // lives for the whole run
  return *state;
}

int32_t ClampBin(int32_t bin) { return std::clamp<int32_t>(bin, 0, kMaxBeatBin); }

}  // namespace

BeatSettings GetBeatSettings() { return Timing().settings; }

void SetBeatSettings(std::optional<int32_t> low_bin, std::optional<int32_t> high_bin,
                     std::optional<float> threshold) {
  BeatSettings& s = Timing().settings;
  // The bins index a 256-value spectrum: keep them inside the examined band.
  if (low_bin) s.low_bin = ClampBin(*low_bin);
  if (high_bin) s.high_bin = ClampBin(*high_bin);
  if (threshold && std::isfinite(*threshold)) s.threshold = *threshold;
  if (s.low_bin > s.high_bin) s.low_bin = s.high_bin;
}

void SetBeatDisabled(bool disabled) { Timing().beat_disabled = disabled; }
bool BeatDisabled() { return Timing().beat_disabled; }
void ToggleBeatDisabled() { Timing().beat_disabled = !Timing().beat_disabled; }

BeatListener* CreateBeatListener() {
  BeatListener* listener = new BeatListener();
  Timing().listeners.push_back(listener);
  return listener;
}

void DestroyBeatListener(BeatListener* listener) {
  std::vector<BeatListener*>& list = Timing().listeners;
  auto it = std::find(list.begin(), list.end(), listener);
  if (it == list.end()) return;
  list.erase(it);
  delete listener;
}

const std::vector<BeatListener*>& BeatListeners() { return Timing().listeners; }

uint32_t MillisecondsOf(double seconds) {
  if (!(seconds > 0.0)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds * 1000.0));
}

void Tap() {
  TimingState& t = Timing();
  uint32_t now = MillisecondsOf(core::NowSeconds());
  ++t.tap_count;
  t.tap_ring[t.tap_count % 4] = now;
  // Oldest to newest: slots n+1, n+2, n+3, n. Early on the ring's zeros give
  // intervals of 0 and of the whole clock, so the median is still the one
  // real interval after two taps.
  uint32_t ordered[4];
  for (uint32_t i = 0; i < 4; ++i) ordered[i] = t.tap_ring[(t.tap_count + 1 + i) % 4];
  uint32_t intervals[3] = {ordered[1] - ordered[0], ordered[2] - ordered[1], ordered[3] - ordered[2]};
  std::sort(intervals, intervals + 3);
  t.tapped_period = intervals[1];
  t.last_tap = now;
  core::Trace("BEAT: tap, period %u ms\n", t.tapped_period);
}

uint32_t TappedPeriodMs() {
  const TimingState& t = Timing();
  return t.source == TempoSource::kMidiClock ? t.clock_period : t.tapped_period;
}
uint32_t LastTapMs() {
  const TimingState& t = Timing();
  return t.source == TempoSource::kMidiClock ? t.last_clock_beat : t.last_tap;
}

void SetTempoSource(TempoSource source) {
  TimingState& t = Timing();
  t.source = source;
  t.clock_beat_pending = false;
}
TempoSource GetTempoSource() { return Timing().source; }
void SetClockPeriodMs(uint32_t period_ms) { Timing().clock_period = period_ms; }
void ClockBeat(double when) {
  TimingState& t = Timing();
  t.clock_beat_pending = true;
  t.clock_beat_time = when;
  t.last_clock_beat = MillisecondsOf(when);
}

bool MetronomeTick(uint32_t now_ms) {
  const TimingState& t = Timing();
  return t.tapped_period != 0 && (now_ms - t.last_tap) % t.tapped_period < kMetronomeTickMs;
}

int StartTiming() {
  TimingState& t = Timing();
  for (BeatListener* listener : t.listeners) delete listener;
  t = TimingState();
  return 0;
}

void StopTiming() {
  TimingState& t = Timing();
  for (BeatListener* listener : t.listeners) delete listener;
  t.listeners.clear();
}

double BeatFrameTime() { return Timing().frame_time; }

void DetectBeats(double now) {
  TimingState& t = Timing();
  // Work on a copy: the shared spectrum keeps plain magnitudes for its other
  // readers. No spectrum (no input) reads as silence, so taps still beat.
  float roots[kMaxBeatBin + 1] = {};
  t.frame_time = now;
  const float* spectrum = GetBeatSpectrum(now);
  const int32_t low = ClampBin(t.settings.low_bin);
  const int32_t high = ClampBin(t.settings.high_bin);
  float level = 0.0f;
  for (int32_t i = low; i <= high; ++i) {
    roots[i] = spectrum ? std::sqrt(spectrum[i]) : 0.0f;
    level = std::max(level, roots[i]);
  }
  int32_t loudest = low;
  for (int32_t i = low; i <= high; ++i)
    if (roots[i] > roots[loudest]) loudest = i;  // ties: the lowest bin
  const float peak = roots[loudest];

  const float threshold = t.settings.threshold;
  if (t.source == TempoSource::kMidiClock) {
    // The clock alone beats: the sound only gives the level.
    const bool beat = t.clock_beat_pending && !t.beat_disabled;
    t.clock_beat_pending = false;
    for (BeatListener* listener : t.listeners) {
      listener->beat_now = beat;
      if (beat) listener->last_beat_time = t.clock_beat_time;
      listener->level = level;
    }
    return;
  }
  const bool tick = MetronomeTick(MillisecondsOf(now));
  for (BeatListener* listener : t.listeners) {
    listener->beat_now = false;
    if (!t.beat_disabled &&
        (tick || (peak >= threshold && listener->last_beat_time + kBeatRefractorySeconds <= now && listener->armed))) {
      listener->beat_now = true;
      listener->last_beat_time = now;
      listener->armed = false;
    } else if (peak < threshold) {
      listener->armed = true;
    }
    listener->level = level;
  }
}

}  // namespace fx

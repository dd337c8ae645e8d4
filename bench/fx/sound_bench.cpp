// Per-frame cost of the sound layer and the click-to-beat latency.
//
//   FrameCost: one frame's work -- DetectBeats (beat spectrum of 512
//   samples, six listeners) plus the sound-syncer spectrum of 2048 samples
//   and its beat test.
//   ClickLatency: a 120 BPM click track as the file input, the detector run
//   at 60 frames a second from ten frame phases; counters give the delay
//   from each click's onset to the listener's beat flag in ms and frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <unistd.h>

#include "app/core/core.h"
#include "fx/timing.h"
#include "tests/fx/click_track.h"

namespace {

constexpr double kFps = 60.0;

struct Session {
  explicit Session(std::unique_ptr<fx::AudioSource> source) {
    core::SetProgramClock(&clock);
    fx::StartTiming();
    for (int i = 0; i < 6; ++i) fx::CreateBeatListener();
    fx::StartSound(std::move(source));
  }
  ~Session() {
    fx::StopSound();
    fx::StopTiming();
    core::SetProgramClock(nullptr);
  }
  core::ManualClock clock;
};

void FrameCost(benchmark::State& state, bool beat, bool sync) {
  auto owned = std::make_unique<fx::PushedAudioSource>();
  fx::PushedAudioSource* input = owned.get();
  Session session(std::move(owned));
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  fx::SetSoundSyncThreshold(0.1f, 0.5f);
  std::vector<float> block(static_cast<size_t>(fx::kSampleRate / kFps));
  uint32_t seed = 1;
  for (float& v : block) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
  }
  for (auto _ : state) {
    state.PauseTiming();
    input->Push(block.data(), block.size());
    session.clock.Advance(1.0 / kFps);
    state.ResumeTiming();
    double now = session.clock.Seconds();
    fx::BeginSoundFrame();
    if (beat) fx::DetectBeats(now);
    if (sync) benchmark::DoNotOptimize(fx::SoundSyncBeat(now));
  }
}

void BM_FrameCost(benchmark::State& state) { FrameCost(state, true, true); }
void BM_DetectBeatsOnly(benchmark::State& state) { FrameCost(state, true, false); }
void BM_SoundSyncOnly(benchmark::State& state) { FrameCost(state, false, true); }
BENCHMARK(BM_FrameCost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DetectBeatsOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SoundSyncOnly)->Unit(benchmark::kMicrosecond);

void BM_ClickLatency(benchmark::State& state) {
  char folder[] = "/tmp/vjbench-XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  std::string path = std::string(folder) + "/clicks.wav";
  fx_test::ClickTrack track;
  track.seconds = 30.0;
  track.noise_amplitude = 0.0003f;
  if (!track.Write(path)) {
    state.SkipWithError("cannot write the click track");
    return;
  }
  std::vector<double> clicks = track.ClickTimes();
  double sum = 0.0, worst = 0.0, best = 1e9;
  size_t matched = 0, beats_total = 0, runs = 0;
  for (auto _ : state) {
    for (int phase = 0; phase < 10; ++phase) {
      std::string error;
      Session session(fx::MakeFileAudioSource(path, &error));
      fx::BeatListener* deck = fx::BeatListeners().front();
      double offset = phase / (10.0 * kFps);
      std::vector<double> beats;
      for (int64_t frame = 0; frame / kFps < track.seconds; ++frame) {
        session.clock.Set(core::kClockEpoch + offset + static_cast<double>(frame) / kFps);
        fx::BeginSoundFrame();
        fx::DetectBeats(session.clock.Seconds());
        if (deck->beat_now) beats.push_back(session.clock.Seconds() - core::kClockEpoch);
      }
      beats_total += beats.size();
      for (double click : clicks) {
        auto it = std::lower_bound(beats.begin(), beats.end(), click);
        if (it == beats.end() || *it - click > 0.1) continue;
        double delay = *it - click;
        sum += delay;
        worst = std::max(worst, delay);
        best = std::min(best, delay);
        ++matched;
      }
      ++runs;
    }
  }
  unlink(path.c_str());
  rmdir(folder);
  state.counters["clicks"] = static_cast<double>(clicks.size() * runs);
  state.counters["matched"] = static_cast<double>(matched);
  state.counters["beats"] = static_cast<double>(beats_total);
  state.counters["mean_ms"] = matched ? 1000.0 * sum / static_cast<double>(matched) : -1.0;
  state.counters["min_ms"] = matched ? 1000.0 * best : -1.0;
  state.counters["max_ms"] = 1000.0 * worst;
  state.counters["max_frames"] = worst * kFps;
  state.counters["bound_ms"] = 1000.0 * (512.0 / fx::kSampleRate + 1.0 / kFps);
}
BENCHMARK(BM_ClickLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

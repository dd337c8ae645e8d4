// The sound layer: the program's one input, its start on first use with
// throttled retries, and the two cached spectra.
//
// Recording starts with the first spectrum request. A failed start is
// reported once (the performer's log and the trace say no input is
// available) and tried again at most every kSoundRetrySeconds, so a machine
// without a sound card runs the show on taps alone without a message per
// frame.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/core/core.h"
#include "fx/sound_internal.h"

namespace fx {
namespace {

struct SoundState {
  std::unique_ptr<AudioSource> source;
  bool recording = false;
  bool failure_reported = false;
  double next_attempt = -1.0e300;  // program seconds

  std::unique_ptr<MagnitudeSpectrum> beat_fft;
  std::unique_ptr<MagnitudeSpectrum> sync_fft;

  float beat_spectrum[kBeatSpectrumSize] = {};
  double beat_fetch_time = -1.0;
  uint64_t beat_computations = 0;
  bool beat_fetched = false;

  SoundChannel sync_channel = kNoSoundChannel;
  float sync_peak = 0.0f;
  float sync_amplitude = 1.0f;
  float sync_spectrum[kSoundSyncSpectrumSize] = {};
  uint64_t frame = 0;
  uint64_t sync_fetch_frame = 0;
  bool sync_fetched = false;
  bool sync_last_result = false;
};

SoundState& State() {
  static SoundState* state = new SoundState();  // lives for the whole run
  return *state;
}

// Starts the input when it is not running. Returns true when it runs.
bool EnsureRecording() {
  SoundState& s = State();
  if (s.recording) return true;
  if (!s.source) return false;
  double now = core::NowSeconds();
  if (now < s.next_attempt) return false;
  std::string error;
  if (s.source->Start(&error) != 0) {
    s.next_attempt = now + kSoundRetrySeconds;
    if (!s.failure_reported) {
      s.failure_reported = true;
      core::RaiseRuntimeMessage("SOUND: no input available (%s); the beat comes from taps only",
                                error.c_str());
    }
    return false;
  }
  s.recording = true;
  if (s.failure_reported) {
    core::RaiseRuntimeMessage("SOUND: input available again: %s", s.source->Describe().c_str());
    s.failure_reported = false;
  }
  core::Trace("SOUND: recording started: %s\n", s.source->Describe().c_str());
  return true;
}

// The input failed while recording (device unplugged): stop it and let the
// next requests start it again after the usual pause.
void InputLost() {
  SoundState& s = State();
  s.source->Stop();
  s.recording = false;
  s.next_attempt = core::NowSeconds() + kSoundRetrySeconds;
  if (!s.failure_reported) {
    s.failure_reported = true;
    core::RaiseRuntimeMessage("SOUND: input lost (%s); no input available, the beat comes from taps only",
                              s.source->Describe().c_str());
  }
}

bool FetchRecording(MagnitudeSpectrum* fft, float* out) {
  SoundState& s = State();
  if (!EnsureRecording()) return false;
  if (fft->Compute(*s.source, out) != 0) {
    InputLost();
    return false;
  }
  return true;
}

void ResetState() {
  SoundState& s = State();
  s = SoundState();
}

}  // namespace

int StartSound(std::unique_ptr<AudioSource> source) {
  StopSound();
  SoundState& s = State();
  s.source = std::move(source);
  s.beat_fft = std::make_unique<MagnitudeSpectrum>(kBeatSpectrumSize);
  s.sync_fft = std::make_unique<MagnitudeSpectrum>(kSoundSyncSpectrumSize);
  core::Trace("SOUND: input: %s\n", s.source ? s.source->Describe().c_str() : "nothing");
  return 0;
}

int StartSound(const SoundOptions& options) {
  if (!options.input_file.empty()) {
    std::string error;
    std::unique_ptr<AudioSource> file = MakeFileAudioSource(options.input_file, &error);
    if (!file) {
      core::RaiseRuntimeMessage("SOUND: %s; the input is silent", error.c_str());
      return StartSound(MakeSilentAudioSource());
    }
    return StartSound(std::move(file));
  }
  if (!options.allow_live_input) return StartSound(MakeSilentAudioSource());
  return StartSound(MakeCaptureAudioSource());
}

void StopSound() {
  SoundState& s = State();
  if (s.source && s.recording) s.source->Stop();
  if (s.source || s.recording) core::Trace("SOUND: stopped\n");
  ResetState();
}

void BeginSoundFrame() { ++State().frame; }

bool SoundRecording() { return State().recording; }

std::string SoundInputDescription() {
  const SoundState& s = State();
  return s.source ? s.source->Describe() : "no input";
}

uint64_t BeatSpectrumComputations() { return State().beat_computations; }

const float* GetBeatSpectrum(double time) {
  SoundState& s = State();
  if (s.beat_fetched && time == s.beat_fetch_time) return s.beat_spectrum;
  if (!s.beat_fft || !FetchRecording(s.beat_fft.get(), s.beat_spectrum)) return nullptr;
  ++s.beat_computations;
  s.beat_fetched = true;
  s.beat_fetch_time = time;
  return s.beat_spectrum;
}

void SetSoundSyncChannel(SoundChannel channel) {
  SoundState& s = State();
  if (channel != s.sync_channel) s.sync_fetched = false;
  s.sync_channel = channel;
}

SoundChannel GetSoundSyncChannel() { return State().sync_channel; }

const float* GetSoundSyncSpectrum(double) {
  SoundState& s = State();
  if (s.sync_channel == kNoSoundChannel) return s.sync_spectrum;
  // Once per frame whatever time the caller plays at: a deck frozen at speed
  // 0.5 passes the same time every frame and must still hear the music.
  if (s.sync_fetched && s.sync_fetch_frame == s.frame) return s.sync_spectrum;
  if (s.sync_channel != kRecordingSoundChannel || !s.sync_fft) return nullptr;
  if (!FetchRecording(s.sync_fft.get(), s.sync_spectrum)) return nullptr;
  s.sync_fetched = true;
  s.sync_fetch_frame = s.frame;
  return s.sync_spectrum;
}

void SpectrumBands(const float* spectrum, int size, float* bands, int count) {
  constexpr int kBands = 13;
  for (int b = 0; b < count && b < kBands; ++b) {
    const int first = static_cast<int>(std::lround(std::exp2(9.0 * b / kBands)));
    const int end = std::max(first + 1, static_cast<int>(std::lround(std::exp2(9.0 * (b + 1) / kBands))));
    float peak = 0.0f;
    for (int i = first; i < end && i < size; ++i) peak = std::max(peak, spectrum[i]);
    bands[b] = peak;
  }
}

int GetSoundSyncBands(double time, float* bands, int count) {
  const float* spectrum = GetSoundSyncSpectrum(time);
  if (!spectrum || !bands) return -1;
  SpectrumBands(spectrum, kSoundSyncSpectrumSize, bands, count);
  return 0;
}

bool SoundSyncBeat(double time) {
  SoundState& s = State();
  const float* spectrum = GetSoundSyncSpectrum(time);
  if (!spectrum) return false;
  // NaN or negative peaks examine nothing; large ones everything.
  float scaled = s.sync_peak * static_cast<float>(kSoundSyncSpectrumSize);
  int n = scaled >= 0.0f ? static_cast<int>(std::min(scaled, static_cast<float>(kSoundSyncSpectrumSize))) : 0;
  bool beat = false;
  for (int i = 0; i < n && !beat; ++i) beat = spectrum[i] > s.sync_amplitude;
  s.sync_last_result = beat;
  return beat;
}

bool LastSoundSyncBeat() { return State().sync_last_result; }

void SetSoundSyncThreshold(float peak, float amplitude) {
  SoundState& s = State();
  s.sync_peak = peak;
  s.sync_amplitude = amplitude;
}

void GetSoundSyncThreshold(float* peak, float* amplitude) {
  const SoundState& s = State();
  if (peak) *peak = s.sync_peak;
  if (amplitude) *amplitude = s.sync_amplitude;
}

}  // namespace fx

// Sound and timing: where samples come from (capture device, sound file,
// silence, samples pushed by tests), the program's one sound input with its
// spectra and the sound-syncer analysis, beat settings, per-deck beat
// listeners, tap tempo with its metronome, and the per-frame beat detector.
//
// Typical use (the frame loop):
//   fx::StartSound(options); fx::StartTiming();
//   every frame: fx::BeginSoundFrame(); fx::DetectBeats(now);
//   a tap key:   fx::Tap();
//
// Everything here runs on the main thread except the capture callback
// inside the capture source, which only writes a lock-free sample ring.
// Not here: effects, scripts or drawing (effect.h); it needs no device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fx {

class SampleRing;

// ===========================================================================
// Sound input
// ===========================================================================

inline constexpr int kSampleRate = 44100;

// One mono stream of samples at kSampleRate, newest last.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Starts delivering samples. Returns 0, or -1 with a reason in *error.
  virtual int Start(std::string* error) = 0;
  // Stops delivering; waits a bounded time for any delivering thread.
  virtual void Stop() = 0;
  // Copies the latest `count` samples, oldest first, into `out` (positions
  // before the first sample read as 0). Returns 0, or -1 when the input was
  // lost (it must then be stopped and started again).
  virtual int Latest(float* out, size_t count) = 0;
  // What the log calls it ("capture device", "file x.wav", ...).
  virtual std::string Describe() const = 0;
};

// The default recording device through SDL, mono at kSampleRate. Samples
// arrive on SDL's audio thread into a ring of the most recent samples.
std::unique_ptr<AudioSource> MakeCaptureAudioSource();

// A sound file (WAV, FLAC, OGG, ...) decoded to mono at kSampleRate and
// played looping. Its position follows the program clock:
// (core::NowSeconds() - core::kClockEpoch) seconds into the file, so a run
// on a fixed-rate clock hears the file in step with its frames. Files longer
// than kMaxSoundFileSeconds play their first part only. nullptr with a
// reason in *error when the file cannot be read.
inline constexpr double kMaxSoundFileSeconds = 600.0;
std::unique_ptr<AudioSource> MakeFileAudioSource(const std::string& path, std::string* error);

// Always silent; always starts.
std::unique_ptr<AudioSource> MakeSilentAudioSource();

// Samples handed in by the caller (tests, benchmarks). Start can be told to
// fail, to exercise the retry rules.
class PushedAudioSource final : public AudioSource {
 public:
  PushedAudioSource();
  ~PushedAudioSource() override;
  int Start(std::string* error) override;
  void Stop() override {}
  int Latest(float* out, size_t count) override;
  std::string Describe() const override { return "pushed samples"; }

  void Push(const float* samples, size_t count);
  void PushSilence(size_t count);
  void SetStartFails(bool fails) { start_fails_ = fails; }
  void SetLost(bool lost) { lost_ = lost; }
  int start_calls() const { return start_calls_; }

 private:
  std::unique_ptr<SampleRing> ring_;
  bool start_fails_ = false;
  bool lost_ = false;
  int start_calls_ = 0;
};

// ===========================================================================
// Sound layer
// ===========================================================================

inline constexpr int kBeatSpectrumSize = 256;        // from the latest 512 samples
inline constexpr int kSoundSyncSpectrumSize = 1024;  // from the latest 2048 samples

// Seconds between attempts to start an input that failed to start.
inline constexpr double kSoundRetrySeconds = 5.0;

struct SoundOptions {
  // Play this sound file as the input instead of a live device.
  std::string input_file;
  // False for offline renders: without a file the input is silence, never a
  // live device.
  bool allow_live_input = true;
};

// Chooses the input: the file when one is named (silence if it cannot be
// read, with a message), else the capture device when live input is
// allowed, else silence. Never fails: a missing device only means no
// spectrum. Recording itself starts with the first spectrum request.
int StartSound(const SoundOptions& options);
// Installs a given input (tests, benchmarks).
int StartSound(std::unique_ptr<AudioSource> source);
// Stops recording (bounded wait), frees the input and the FFT plans, and
// resets the sound-syncer state. Safe when sound never started.
void StopSound();

// The frame loop calls this once per frame before DetectBeats: the
// sound-syncer spectrum is fetched at most once per frame.
void BeginSoundFrame();

// True while the input is started and delivering.
bool SoundRecording();
// "no input" until an input was chosen; else the input's description.
std::string SoundInputDescription();

// 256 magnitudes in 0..1, low to high frequency, of the latest 512 samples
// (Hann window; a full-scale sine centred on a bin reads about 1.0). A new
// spectrum is computed only when `time` differs from the last successful
// fetch. nullptr when no input can be recorded (a failed start is tried
// again on a later request, at most every kSoundRetrySeconds).
const float* GetBeatSpectrum(double time);
// How many beat spectra have been computed (the cache missed) so far.
uint64_t BeatSpectrumComputations();

// The sound-syncer channel: which input the sound-syncer analysis follows.
using SoundChannel = int32_t;
inline constexpr SoundChannel kNoSoundChannel = 0;
// The program's recording input (a file input counts as recorded).
inline constexpr SoundChannel kRecordingSoundChannel = 1;
void SetSoundSyncChannel(SoundChannel channel);
SoundChannel GetSoundSyncChannel();

// 1024 magnitudes of the latest 2048 samples, fetched at most once per
// frame (whatever `time` says). Without a channel the buffer is returned as
// it is (all zero until something was fetched). nullptr on failure.
const float* GetSoundSyncSpectrum(double time);

// `count` (at most 13) bands of a spectrum of `size` bins: band b is the
// largest magnitude of bins round(2^(9b/13)) up to, not including,
// round(2^(9(b+1)/13)), at least one bin.
void SpectrumBands(const float* spectrum, int size, float* bands, int count);
// The sound-syncer spectrum in bands; -1 (bands untouched) when there is
// no spectrum.
int GetSoundSyncBands(double time, float* bands, int count);

// True when any of the first peak x 1024 sound-syncer magnitudes is above
// the amplitude. A failed fetch gives false and keeps the last result.
bool SoundSyncBeat(double time);
bool LastSoundSyncBeat();
void SetSoundSyncThreshold(float peak, float amplitude);
void GetSoundSyncThreshold(float* peak, float* amplitude);

// ===========================================================================
// Beat timing
// ===========================================================================

// Bins above this are never examined.
inline constexpr int32_t kMaxBeatBin = 64;
// Minimum seconds between two detected beats.
inline constexpr double kBeatRefractorySeconds = 1.0 / 3.0;
// Length of the metronome tick after each tapped beat, in milliseconds.
inline constexpr uint32_t kMetronomeTickMs = 100;

struct BeatSettings {
  int32_t low_bin = 0;
  int32_t high_bin = 10;
  float threshold = 0.5f;
};
BeatSettings GetBeatSettings();
// Sets any subset. Given bins are clamped to 0..kMaxBeatBin, then a low bin
// above the high bin is lowered to it. A non-finite threshold is ignored.
void SetBeatSettings(std::optional<int32_t> low_bin, std::optional<int32_t> high_bin,
                     std::optional<float> threshold);

// While on, no beat is reported (listeners still re-arm), and the decks'
// beat modes pause.
void SetBeatDisabled(bool disabled);
bool BeatDisabled();
void ToggleBeatDisabled();

// One per deck; DetectBeats fills them every frame.
struct BeatListener {
  float reserved = 0.45f;       // carried along; nothing reads it
  double last_beat_time = 0.0;  // program seconds of the last reported beat
  bool beat_now = false;        // a beat was detected in this frame
  bool armed = true;            // the level fell below the threshold since
  float level = 0.0f;           // loudest band bin (square root of magnitude)
};
// Listeners live in one list in creation order.
BeatListener* CreateBeatListener();
void DestroyBeatListener(BeatListener* listener);
const std::vector<BeatListener*>& BeatListeners();

// Tap tempo: the median of the last three intervals between taps (program
// clock, milliseconds). One tap gives no period; two give their interval.
void Tap();
// The tempo's period and its last beat (tap clock): the taps', or the MIDI
// clock's while that is the tempo source.
uint32_t TappedPeriodMs();  // 0 = none
uint32_t LastTapMs();

// Where the beats come from. kTap: the sound and the tapped tempo's
// metronome. kMidiClock: only the beats handed in by ClockBeat (an external
// clock's quarter notes); the sound still gives the level.
enum class TempoSource { kTap, kMidiClock };
void SetTempoSource(TempoSource source);
TempoSource GetTempoSource();
// An external clock's measured period (0 = none yet) and a beat of it at
// `when` (program seconds); the next DetectBeats reports that beat.
void SetClockPeriodMs(uint32_t period_ms);
void ClockBeat(double when);
// On during the first kMetronomeTickMs of every tapped period.
bool MetronomeTick(uint32_t now_ms);

// Program seconds as the unsigned millisecond counter the tap clock uses.
uint32_t MillisecondsOf(double seconds);

// The timing layer: resets taps, beat settings and the beat-disable flag and
// starts an empty listener list. StopTiming destroys remaining listeners.
int StartTiming();
void StopTiming();

// Once per frame with the program time: reads the beat spectrum (silence
// when there is none) and flags a beat in every listener.
void DetectBeats(double now);
// The time the last DetectBeats read the beat spectrum with (program
// seconds; NaN before the first). Other readers of the same frame's
// spectrum (the Client's beat graphs) pass it to GetBeatSpectrum so the
// spectrum is computed once per frame.
double BeatFrameTime();

}  // namespace fx

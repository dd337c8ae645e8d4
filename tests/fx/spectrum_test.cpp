// Spectra, their caches, the sound-syncer analysis and the input's start and
// retry rules, with samples pushed directly under an injected clock.
#include <gtest/gtest.h>

#include <complex>

#include "tests/fx/sound_fixture.h"

namespace {

using fx_test::BinSine;
using fx_test::SoundTest;

// The reference: a plain O(n^2) DFT of the latest `window` samples with a
// periodic Hann window, scaled so a unit sine on a bin reads 1 (and a
// constant reads its value in bin 0), clamped to 0..1.
std::vector<float> PlainDft(const std::vector<float>& samples, int window) {
  const size_t start = samples.size() - static_cast<size_t>(window);
  double sum = 0.0;
  std::vector<double> w(window);
  for (int i = 0; i < window; ++i) sum += w[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / window);
  std::vector<float> out(window / 2);
  for (int k = 0; k < window / 2; ++k) {
    std::complex<double> acc = 0.0;
    for (int n = 0; n < window; ++n)
      acc += samples[start + n] * w[n] * std::polar(1.0, -2.0 * M_PI * k * n / window);
    double magnitude = std::abs(acc) * (k == 0 ? 1.0 / sum : 2.0 / sum);
    out[k] = static_cast<float>(std::min(magnitude, 1.0));
  }
  return out;
}

class SpectrumTest : public SoundTest {};

TEST_F(SpectrumTest, BeatSpectrumOfASineReadsOneOnItsBinAndMatchesAPlainDft) {
  for (int bin : {3, 10, 41, 200}) {
    std::vector<float> signal = BinSine(bin, 512, 1.0f, 3000, 17);
    input->Push(signal.data(), signal.size());
    clock.Advance(0.1);
    const float* s = fx::GetBeatSpectrum(clock.Seconds());
    ASSERT_NE(s, nullptr);
    std::vector<float> reference = PlainDft(signal, 512);
    for (int k = 0; k < fx::kBeatSpectrumSize; ++k) {
      EXPECT_NEAR(s[k], reference[k], 2e-4) << "bin " << k << " of a sine on bin " << bin;
      if (std::abs(k - bin) >= 2) {
        EXPECT_LT(s[k], 1e-3) << "bin " << k << " of a sine on bin " << bin;
      }
    }
    EXPECT_NEAR(s[bin], 1.0f, 0.01f);
    EXPECT_NEAR(s[bin - 1], 0.5f, 0.01f);  // the Hann window's neighbours
  }
}

TEST_F(SpectrumTest, SoundSyncSpectrumOfASineReadsOneOnItsBinAndMatchesAPlainDft) {
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  std::vector<float> signal = BinSine(100, 2048, 0.5f, 5000, 3);
  input->Push(signal.data(), signal.size());
  const float* s = fx::GetSoundSyncSpectrum(clock.Seconds());
  ASSERT_NE(s, nullptr);
  std::vector<float> reference = PlainDft(signal, 2048);
  for (int k = 0; k < fx::kSoundSyncSpectrumSize; ++k) ASSERT_NEAR(s[k], reference[k], 2e-4) << "bin " << k;
  EXPECT_NEAR(s[100], 0.5f, 0.005f);
}

TEST_F(SpectrumTest, MagnitudesAreClampedToOneAndAConstantReadsItsValue) {
  std::vector<float> loud = BinSine(5, 512, 3.0f, 512);
  input->Push(loud.data(), loud.size());
  const float* s = fx::GetBeatSpectrum(1.0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[5], 1.0f);
  std::vector<float> constant(512, 0.25f);
  input->Push(constant.data(), constant.size());
  s = fx::GetBeatSpectrum(2.0);
  EXPECT_NEAR(s[0], 0.25f, 1e-5);
  EXPECT_LT(s[2], 1e-5);
}

TEST_F(SpectrumTest, TooFewSamplesReadAsLeadingSilenceAndTheRingKeepsTheNewest) {
  // 100 samples only: the window is mostly zeros, the result matches the DFT
  // of those zeros followed by the samples.
  std::vector<float> few = BinSine(8, 512, 1.0f, 100);
  input->Push(few.data(), few.size());
  std::vector<float> padded(412, 0.0f);
  padded.insert(padded.end(), few.begin(), few.end());
  const float* s = fx::GetBeatSpectrum(1.0);
  std::vector<float> reference = PlainDft(padded, 512);
  for (int k = 0; k < 256; ++k) ASSERT_NEAR(s[k], reference[k], 2e-4) << k;

  // Far more than the ring holds, ending in a tone: the tone is what counts.
  std::vector<float> noise(40000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = ((i * 7919) % 1000) / 1000.0f - 0.5f;
  input->Push(noise.data(), noise.size());
  std::vector<float> tone = BinSine(20, 512, 1.0f, 512);
  input->Push(tone.data(), tone.size());
  s = fx::GetBeatSpectrum(2.0);
  EXPECT_NEAR(s[20], 1.0f, 0.01f);
  EXPECT_LT(s[40], 1e-3);
}

TEST_F(SpectrumTest, BeatSpectrumIsFetchedOncePerTimeValue) {
  std::vector<float> a = BinSine(4, 512, 1.0f, 512);
  input->Push(a.data(), a.size());
  const float* first = fx::GetBeatSpectrum(1000.5);
  ASSERT_NE(first, nullptr);
  EXPECT_NEAR(first[4], 1.0f, 0.01f);
  std::vector<float> b = BinSine(30, 512, 1.0f, 512);
  input->Push(b.data(), b.size());
  // Same time value: the cached spectrum, whatever arrived since.
  const float* again = fx::GetBeatSpectrum(1000.5);
  EXPECT_NEAR(again[4], 1.0f, 0.01f);
  EXPECT_LT(again[30], 1e-3);
  // Another time value: a fresh one.
  const float* fresh = fx::GetBeatSpectrum(1000.6);
  EXPECT_LT(fresh[4], 1e-3);
  EXPECT_NEAR(fresh[30], 1.0f, 0.01f);
}

TEST_F(SpectrumTest, SoundSyncSpectrumIsFetchedOncePerFrameWhateverTheTime) {
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  std::vector<float> a = BinSine(50, 2048, 1.0f, 2048);
  input->Push(a.data(), a.size());
  fx::BeginSoundFrame();
  EXPECT_NEAR(fx::GetSoundSyncSpectrum(3.0)[50], 1.0f, 0.01f);
  std::vector<float> b = BinSine(300, 2048, 1.0f, 2048);
  input->Push(b.data(), b.size());
  // Same frame, another time value: still the frame's spectrum.
  EXPECT_NEAR(fx::GetSoundSyncSpectrum(4.0)[50], 1.0f, 0.01f);
  // Next frame, the same time value as before (a deck frozen at speed 0.5):
  // the music moved on, so must the spectrum.
  fx::BeginSoundFrame();
  const float* s = fx::GetSoundSyncSpectrum(3.0);
  EXPECT_LT(s[50], 1e-3);
  EXPECT_NEAR(s[300], 1.0f, 0.01f);
}

TEST_F(SpectrumTest, SoundSyncSpectrumWithoutAChannelStaysAsItWas) {
  std::vector<float> a = BinSine(50, 2048, 1.0f, 2048);
  input->Push(a.data(), a.size());
  ASSERT_EQ(fx::GetSoundSyncChannel(), fx::kNoSoundChannel);
  const float* s = fx::GetSoundSyncSpectrum(1.0);
  ASSERT_NE(s, nullptr);
  for (int k = 0; k < fx::kSoundSyncSpectrumSize; ++k) ASSERT_EQ(s[k], 0.0f);
  // After a fetch, dropping the channel keeps the last spectrum.
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  fx::BeginSoundFrame();
  EXPECT_NEAR(fx::GetSoundSyncSpectrum(1.0)[50], 1.0f, 0.01f);
  fx::SetSoundSyncChannel(fx::kNoSoundChannel);
  fx::BeginSoundFrame();
  EXPECT_NEAR(fx::GetSoundSyncSpectrum(1.0)[50], 1.0f, 0.01f);
  // A channel nothing provides cannot be fetched.
  fx::SetSoundSyncChannel(77);
  EXPECT_EQ(fx::GetSoundSyncSpectrum(1.0), nullptr);
}

TEST_F(SpectrumTest, SoundSyncBeatLooksBelowThePeakForMagnitudesAboveTheAmplitude) {
  float peak = -1.0f, amplitude = -1.0f;
  fx::GetSoundSyncThreshold(&peak, &amplitude);
  EXPECT_EQ(peak, 0.0f);
  EXPECT_EQ(amplitude, 1.0f);
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  std::vector<float> tone = BinSine(100, 2048, 0.6f, 2048);
  input->Push(tone.data(), tone.size());
  fx::BeginSoundFrame();
  EXPECT_FALSE(fx::SoundSyncBeat(1.0));  // peak 0 examines nothing

  fx::SetSoundSyncThreshold(0.1f, 0.5f);  // bins 0..101
  EXPECT_TRUE(fx::SoundSyncBeat(1.0));
  EXPECT_TRUE(fx::LastSoundSyncBeat());
  fx::SetSoundSyncThreshold(0.09f, 0.5f);  // bins 0..91: the tone's bin is not among them
  EXPECT_FALSE(fx::SoundSyncBeat(1.0));
  const float on_bin = fx::GetSoundSyncSpectrum(1.0)[100];
  EXPECT_NEAR(on_bin, 0.6f, 0.01f);
  fx::SetSoundSyncThreshold(0.1f, on_bin);  // strictly greater
  EXPECT_FALSE(fx::SoundSyncBeat(1.0));
  fx::SetSoundSyncThreshold(5.0f, 0.5f);  // beyond 1 examines all 1024
  EXPECT_TRUE(fx::SoundSyncBeat(1.0));
  fx::SetSoundSyncThreshold(std::nanf(""), 0.5f);
  EXPECT_FALSE(fx::SoundSyncBeat(1.0));

  // A failed fetch answers false and keeps the last result.
  fx::SetSoundSyncThreshold(0.1f, 0.5f);
  EXPECT_TRUE(fx::SoundSyncBeat(1.0));
  input->SetLost(true);
  fx::BeginSoundFrame();
  EXPECT_FALSE(fx::SoundSyncBeat(1.0));
  EXPECT_TRUE(fx::LastSoundSyncBeat());
}

TEST_F(SpectrumTest, RecordingStartsOnTheFirstRequest) {
  EXPECT_FALSE(fx::SoundRecording());
  EXPECT_EQ(input->start_calls(), 0);
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  ASSERT_NE(fx::GetSoundSyncSpectrum(1.0), nullptr);
  EXPECT_TRUE(fx::SoundRecording());
  ASSERT_NE(fx::GetBeatSpectrum(1.0), nullptr);
  EXPECT_EQ(input->start_calls(), 1);
}

TEST_F(SpectrumTest, AFailedStartIsReportedOnceAndRetriedAtMostEveryFewSeconds) {
  input->SetStartFails(true);
  EXPECT_EQ(fx::GetBeatSpectrum(1.0), nullptr);
  EXPECT_EQ(input->start_calls(), 1);
  // Every frame asks; the input is not tried again until the pause is over.
  for (int i = 0; i < 200; ++i) {
    clock.Advance(0.02);
    EXPECT_EQ(fx::GetBeatSpectrum(clock.Seconds()), nullptr);
  }
  EXPECT_EQ(input->start_calls(), 1);
  clock.Advance(fx::kSoundRetrySeconds);
  EXPECT_EQ(fx::GetBeatSpectrum(clock.Seconds()), nullptr);
  EXPECT_EQ(input->start_calls(), 2);
  // Said once, however often it fails (the sink's own 5 s de-duplication
  // would let it through again after the clock moved this far).
  clock.Advance(fx::kSoundRetrySeconds * 3);
  fx::GetBeatSpectrum(clock.Seconds());
  EXPECT_EQ(input->start_calls(), 3);
  EXPECT_EQ(CountMessages("no input available"), 1);

  // The input appears: the next try succeeds and the log says so.
  input->SetStartFails(false);
  clock.Advance(fx::kSoundRetrySeconds);
  EXPECT_NE(fx::GetBeatSpectrum(clock.Seconds()), nullptr);
  EXPECT_TRUE(fx::SoundRecording());
  EXPECT_EQ(CountMessages("input available again: pushed samples"), 1);
}

TEST_F(SpectrumTest, ALostInputIsStartedAgainAfterThePause) {
  ASSERT_NE(fx::GetBeatSpectrum(1.0), nullptr);
  input->SetLost(true);
  clock.Advance(0.1);
  EXPECT_EQ(fx::GetBeatSpectrum(clock.Seconds()), nullptr);
  EXPECT_FALSE(fx::SoundRecording());
  EXPECT_EQ(CountMessages("no input available"), 1);
  clock.Advance(1.0);
  EXPECT_EQ(fx::GetBeatSpectrum(clock.Seconds()), nullptr);
  EXPECT_EQ(input->start_calls(), 1);
  clock.Advance(fx::kSoundRetrySeconds);
  EXPECT_NE(fx::GetBeatSpectrum(clock.Seconds()), nullptr);  // Start clears the loss
  EXPECT_EQ(input->start_calls(), 2);
}

TEST_F(SpectrumTest, StopSoundForgetsTheInputAndTheSoundSyncerSettings) {
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  fx::SetSoundSyncThreshold(0.5f, 0.25f);
  ASSERT_NE(fx::GetBeatSpectrum(1.0), nullptr);
  fx::StopSound();
  EXPECT_FALSE(fx::SoundRecording());
  EXPECT_EQ(fx::SoundInputDescription(), "no input");
  EXPECT_EQ(fx::GetBeatSpectrum(2.0), nullptr);
  EXPECT_EQ(fx::GetSoundSyncChannel(), fx::kNoSoundChannel);
  float peak = -1.0f, amplitude = -1.0f;
  fx::GetSoundSyncThreshold(&peak, &amplitude);
  EXPECT_EQ(peak, 0.0f);
  EXPECT_EQ(amplitude, 1.0f);
  fx::StopSound();  // twice is harmless
}

TEST_F(SpectrumTest, SpectraAreTheSameOnEveryRun) {
  std::vector<float> signal(4096);
  for (size_t i = 0; i < signal.size(); ++i)
    signal[i] = static_cast<float>(std::sin(i * 0.37) * 0.3 + std::sin(i * 0.011) * 0.4);
  input->Push(signal.data(), signal.size());
  std::vector<float> first(fx::GetBeatSpectrum(1.0), fx::GetBeatSpectrum(1.0) + 256);
  fx::StopSound();
  auto again = std::make_unique<fx::PushedAudioSource>();
  again->Push(signal.data(), signal.size());
  fx::StartSound(std::move(again));
  const float* second = fx::GetBeatSpectrum(1.0);
  for (int k = 0; k < 256; ++k) ASSERT_EQ(first[k], second[k]) << k;
}

}  // namespace

namespace {

// The Client's beat graphs read the spectrum of the frame the detector
// read, with the detector's key, so a frame computes it once however many
// panels paint.
TEST_F(SpectrumTest, ReadersOfTheFramesBeatSpectrumShareTheDetectorsComputation) {
  std::vector<float> signal = BinSine(3, 512, 1.0f, 2048);
  for (int frame = 0; frame < 5; ++frame) {
    const uint64_t before = fx::BeatSpectrumComputations();
    Frame(signal);
    EXPECT_EQ(fx::BeatFrameTime(), clock.Seconds());
    const float* detector = fx::GetBeatSpectrum(fx::BeatFrameTime());
    for (int panel = 0; panel < 3; ++panel) EXPECT_EQ(fx::GetBeatSpectrum(fx::BeatFrameTime()), detector);
    EXPECT_EQ(fx::BeatSpectrumComputations(), before + 1) << frame;
  }
}

}  // namespace

// Internal to fx: the sample ring shared with capture threads, and the
// windowed magnitude spectrum.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fx/timing.h"

namespace fx {

// Sends ALSA's own error printing to the trace instead of stderr. Once per
// process; harmless where there is no ALSA.
void RouteAlsaErrorsToTrace();

// The most recent samples of one stream. One writer (possibly on another
// thread) and one reader; neither ever blocks. Each slot is an atomic float
// (relaxed loads and stores are plain moves), so a reader racing the writer
// sees old or new samples, never torn values. The ring is a seqlock: the
// writer announces how far it is about to write before it stores samples
// (claimed) and publishes the end after (written); the reader copies below
// the published end, then, after an acquire fence, compares the claim, which
// tells it whether the writer lapped the copy.
class SampleRing {
 public:
  static constexpr size_t kCapacity = 16384;  // power of two, > 2048 + one capture block

  SampleRing();
  // Writer side: never allocates or locks.
  void Write(const float* samples, size_t count);
  void WriteSilence(size_t count);
  // Reader side: latest `count` (<= kCapacity / 2) samples, oldest first;
  // positions before the first written sample read as 0. True when the
  // copy is whole; false when the writer kept lapping it (after a few
  // tries the copy is kept as it is: a torn window only blurs a spectrum).
  bool Latest(float* out, size_t count) const;
  uint64_t total_written() const { return written_.load(std::memory_order_acquire); }

 private:
  // Announces that samples up to `end` are about to be stored.
  void Claim(uint64_t end);
  std::unique_ptr<std::atomic<float>[]> slots_;
  std::atomic<uint64_t> claimed_{0};  // end of the samples being stored
  std::atomic<uint64_t> written_{0};  // end of the samples stored
};

// Magnitude spectrum of the latest 2 x bins samples through one FFTW
// single-precision plan made with FFTW_ESTIMATE (the same results on every
// run). Hann window; magnitudes scaled so a full-scale sine centred on a bin
// reads 1.0 there (a constant reads its value in bin 0), clamped to 0..1.
class MagnitudeSpectrum {
 public:
  explicit MagnitudeSpectrum(int bins);
  ~MagnitudeSpectrum();
  MagnitudeSpectrum(const MagnitudeSpectrum&) = delete;
  MagnitudeSpectrum& operator=(const MagnitudeSpectrum&) = delete;

  int bins() const { return bins_; }
  int window_size() const { return 2 * bins_; }
  // Reads window_size() samples from the source and writes bins() values.
  // Returns 0, or -1 when the source failed.
  int Compute(AudioSource& source, float* magnitudes);
  // Same from samples already at hand.
  void ComputeFrom(const float* samples, float* magnitudes);

 private:
  int bins_;
  float* input_ = nullptr;   // fftwf_malloc'd, window_size() floats
  void* output_ = nullptr;   // fftwf_complex[bins_ + 1]
  void* plan_ = nullptr;     // fftwf_plan
  std::unique_ptr<float[]> window_;
  std::unique_ptr<float[]> samples_;
  float scale_ = 1.0f;
  float dc_scale_ = 1.0f;
};

}  // namespace fx

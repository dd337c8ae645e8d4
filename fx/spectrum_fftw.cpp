// Windowed magnitude spectra through FFTW (single precision).
#include <fftw3.h>

#include <cmath>

#include "fx/sound_internal.h"

namespace fx {

MagnitudeSpectrum::MagnitudeSpectrum(int bins)
    : bins_(bins), window_(new float[2 * bins]), samples_(new float[2 * bins]) {
  const int n = window_size();
  input_ = static_cast<float*>(fftwf_malloc(sizeof(float) * n));
  fftwf_complex* output = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (bins_ + 1)));
  output_ = output;
  // ESTIMATE plans never measure, so the same transform (and the same bits)
  // come out on every run and every machine of this kind.
  plan_ = fftwf_plan_dft_r2c_1d(n, input_, output, FFTW_ESTIMATE);
  // Periodic Hann window: its sum is exactly n / 2.
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / n));
    sum += window_[i];
  }
  // A sine of amplitude A centred on bin k gives |X[k]| = A * sum / 2.
  scale_ = static_cast<float>(2.0 / sum);
  dc_scale_ = static_cast<float>(1.0 / sum);
}

MagnitudeSpectrum::~MagnitudeSpectrum() {
  if (plan_) fftwf_destroy_plan(static_cast<fftwf_plan>(plan_));
  fftwf_free(input_);
  fftwf_free(output_);
}

int MagnitudeSpectrum::Compute(AudioSource& source, float* magnitudes) {
  if (source.Latest(samples_.get(), static_cast<size_t>(window_size())) != 0) return -1;
  ComputeFrom(samples_.get(), magnitudes);
  return 0;
}

void MagnitudeSpectrum::ComputeFrom(const float* samples, float* magnitudes) {
  const int n = window_size();
  for (int i = 0; i < n; ++i) input_[i] = samples[i] * window_[i];
  fftwf_execute(static_cast<fftwf_plan>(plan_));
  const fftwf_complex* out = static_cast<const fftwf_complex*>(output_);
  for (int k = 0; k < bins_; ++k) {
    float magnitude = std::sqrt(out[k][0] * out[k][0] + out[k][1] * out[k][1]) * (k == 0 ? dc_scale_ : scale_);
    // NaN input (a broken file) reads as silence rather than poisoning the detector.
    if (!(magnitude > 0.0f)) magnitude = 0.0f;
    magnitudes[k] = magnitude > 1.0f ? 1.0f : magnitude;
  }
}

}  // namespace fx

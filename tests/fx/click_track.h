// Synthetic click tracks for the beat tests and benchmarks: short tone
// bursts (a metronome's "tock") on a steady grid, over an optional quiet
// noise bed, written with libsndfile.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace fx_test {

struct ClickTrack {
  double seconds = 8.0;
  double bpm = 120.0;
  double first_click = 0.5;      // seconds
  double click_hz = 258.3984375;  // bin 3 of a 512-point spectrum at 44.1 kHz
  double click_seconds = 0.040;
  float click_amplitude = 0.8f;
  float noise_amplitude = 0.0f;  // peak of a uniform noise bed (0.0003 is about -70 dBFS)
  int sample_rate = 44100;
  int channels = 1;
  int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

  std::vector<double> ClickTimes() const {
    std::vector<double> times;
    for (double t = first_click; t + click_seconds <= seconds; t += 60.0 / bpm) times.push_back(t);
    return times;
  }

  std::vector<float> Samples() const {
    size_t count = static_cast<size_t>(seconds * sample_rate);
    std::vector<float> out(count, 0.0f);
    uint32_t seed = 12345;
    for (size_t i = 0; i < count; ++i) {
      seed = seed * 1664525u + 1013904223u;
      out[i] = noise_amplitude * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    for (double start : ClickTimes()) {
      size_t first = static_cast<size_t>(std::lround(start * sample_rate));
      size_t length = static_cast<size_t>(click_seconds * sample_rate);
      size_t fade = static_cast<size_t>(0.010 * sample_rate);
      for (size_t i = 0; i < length && first + i < count; ++i) {
        float envelope = i + fade >= length ? static_cast<float>(length - i) / static_cast<float>(fade) : 1.0f;
        out[first + i] += click_amplitude * envelope *
                          static_cast<float>(std::sin(2.0 * M_PI * click_hz * static_cast<double>(i) / sample_rate));
      }
    }
    return out;
  }

  // Returns true when the file was written.
  bool Write(const std::string& path) const { return WriteSound(path, Samples(), sample_rate, channels, format); }

  // Writes mono `samples` to every channel.
  static bool WriteSound(const std::string& path, const std::vector<float>& samples, int rate, int channels,
                         int format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<float> frames(samples.size() * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i)
      for (int c = 0; c < channels; ++c) frames[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = samples[i];
    sf_count_t written = sf_writef_float(file, frames.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return written == static_cast<sf_count_t>(samples.size());
  }
};

}  // namespace fx_test

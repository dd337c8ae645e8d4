// Shared set-up for the sound and beat tests: an injected clock, a fresh
// timing layer, pushed samples as the input, and the run-time messages
// collected.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/timing.h"

namespace fx_test {

// Samples of a sine whose frequency sits on bin `bin` of a `window`-point FFT.
inline std::vector<float> BinSine(double bin, int window, float amplitude, size_t count, size_t phase = 0) {
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i)
    out[i] = amplitude * static_cast<float>(std::sin(2.0 * M_PI * bin * static_cast<double>(i + phase) / window));
  return out;
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramClock(&clock);
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages.push_back(text); });
    fx::StartTiming();
    auto source = std::make_unique<fx::PushedAudioSource>();
    input = source.get();
    fx::StartSound(std::move(source));
  }
  void TearDown() override {
    fx::StopSound();
    fx::StopTiming();
    core::SetMessageListener(nullptr);
    core::SetProgramClock(nullptr);
  }

  // One frame of `seconds`: the input gets that many samples of `signal`
  // (cycled), the clock moves on, and the detector runs.
  void Frame(const std::vector<float>& signal, double seconds = 1.0 / 60.0) {
    size_t count = static_cast<size_t>(std::lround(seconds * fx::kSampleRate));
    std::vector<float> block(count);
    for (size_t i = 0; i < count; ++i) block[i] = signal.empty() ? 0.0f : signal[(pushed + i) % signal.size()];
    pushed += count;
    input->Push(block.data(), block.size());
    clock.Advance(seconds);
    fx::BeginSoundFrame();
    fx::DetectBeats(clock.Seconds());
  }

  int CountMessages(const std::string& part) const {
    int n = 0;
    for (const std::string& m : messages) n += m.find(part) != std::string::npos;
    return n;
  }

  core::ManualClock clock;
  fx::PushedAudioSource* input = nullptr;
  std::vector<std::string> messages;
  size_t pushed = 0;
};

}  // namespace fx_test

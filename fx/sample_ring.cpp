#include "fx/sound_internal.h"

#include <algorithm>

namespace fx {

SampleRing::SampleRing() : slots_(new std::atomic<float>[kCapacity]) {
  for (size_t i = 0; i < kCapacity; ++i) slots_[i].store(0.0f, std::memory_order_relaxed);
}

void SampleRing::Write(const float* samples, size_t count) {
  uint64_t at = written_.load(std::memory_order_relaxed);
  // Only the newest kCapacity samples can ever be read.
  if (count > kCapacity) {
    samples += count - kCapacity;
    at += count - kCapacity;
    count = kCapacity;
  }
  for (size_t i = 0; i < count; ++i)
    slots_[(at + i) & (kCapacity - 1)].store(samples[i], std::memory_order_relaxed);
  written_.store(at + count, std::memory_order_release);
}

void SampleRing::WriteSilence(size_t count) {
  uint64_t at = written_.load(std::memory_order_relaxed);
  size_t fill = std::min(count, kCapacity);
  for (size_t i = 0; i < fill; ++i)
    slots_[(at + count - fill + i) & (kCapacity - 1)].store(0.0f, std::memory_order_relaxed);
  written_.store(at + count, std::memory_order_release);
}

void SampleRing::Latest(float* out, size_t count) const {
  count = std::min(count, kCapacity / 2);
  for (int attempt = 0;; ++attempt) {
    uint64_t end = written_.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i) {
      uint64_t position = end - count + i;  // wraps below 0 when end < count
      out[i] = end < count - i ? 0.0f : slots_[position & (kCapacity - 1)].load(std::memory_order_relaxed);
    }
    // The writer may have lapped the oldest copied slots meanwhile: only
    // possible if it wrote more than kCapacity - count samples during the
    // copy. Copy again; give up after a few tries and keep what we have.
    uint64_t after = written_.load(std::memory_order_acquire);
    if (after - end <= kCapacity - count || attempt == 3) return;
  }
}

}  // namespace fx

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
  Claim(at + count);
  for (size_t i = 0; i < count; ++i)
    slots_[(at + i) & (kCapacity - 1)].store(samples[i], std::memory_order_relaxed);
  written_.store(at + count, std::memory_order_release);
}

void SampleRing::WriteSilence(size_t count) {
  uint64_t at = written_.load(std::memory_order_relaxed);
  size_t fill = std::min(count, kCapacity);
  Claim(at + count);
  for (size_t i = 0; i < fill; ++i)
    slots_[(at + count - fill + i) & (kCapacity - 1)].store(0.0f, std::memory_order_relaxed);
  written_.store(at + count, std::memory_order_release);
}

void SampleRing::Claim(uint64_t end) {
  claimed_.store(end, std::memory_order_relaxed);
  // The claim must be visible before any sample of this write: a reader
  // that sees one of them then sees the claim (its acquire fence pairs
  // with this one).
  std::atomic_thread_fence(std::memory_order_release);
}

bool SampleRing::Latest(float* out, size_t count) const {
  count = std::min(count, kCapacity / 2);
  for (int attempt = 0;; ++attempt) {
    uint64_t end = written_.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i) {
      uint64_t position = end - count + i;  // wraps below 0 when end < count
      out[i] = end < count - i ? 0.0f : slots_[position & (kCapacity - 1)].load(std::memory_order_relaxed);
    }
    // The writer may have lapped the oldest copied slots meanwhile: only
    // possible if it claimed more than kCapacity - count samples past the
    // end during the copy. The fence keeps the slot loads above before the
    // claim's load, so a sample from a lapping write implies its claim is
    // seen. Copy again; give up after a few tries and keep what we have.
    std::atomic_thread_fence(std::memory_order_acquire);
    uint64_t after = claimed_.load(std::memory_order_relaxed);
    if (after - end <= kCapacity - count) return true;
    if (attempt == 3) return false;
  }
}

}  // namespace fx

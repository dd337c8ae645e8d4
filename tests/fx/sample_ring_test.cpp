// The sample ring between a capture thread and the frame thread: the
// newest samples oldest first, and a copy the ring calls whole is never a
// mix of two laps, however fast the writer runs (this test also runs under
// ThreadSanitizer, tests/threads).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fx/sound_internal.h"

namespace {

constexpr uint32_t kWrap = 1u << 20;  // sample values count positions modulo this (exact floats)

TEST(SampleRing, LatestGivesTheNewestSamplesOldestFirstWithZerosBeforeTheFirst) {
  fx::SampleRing ring;
  std::vector<float> samples(100);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i + 1);
  ring.Write(samples.data(), 60);
  std::vector<float> out(64, -1.0f);
  EXPECT_TRUE(ring.Latest(out.data(), out.size()));
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(out[i], 0.0f) << i;
  for (size_t i = 4; i < 64; ++i) EXPECT_EQ(out[i], static_cast<float>(i - 3)) << i;
  ring.Write(samples.data() + 60, 40);
  ring.WriteSilence(2);
  EXPECT_TRUE(ring.Latest(out.data(), 4));
  EXPECT_EQ(out[0], 99.0f);
  EXPECT_EQ(out[1], 100.0f);
  EXPECT_EQ(out[2], 0.0f);
  EXPECT_EQ(out[3], 0.0f);
}

TEST(SampleRing, AWriteLongerThanTheRingKeepsItsNewestSamples) {
  fx::SampleRing ring;
  std::vector<float> samples(fx::SampleRing::kCapacity * 2 + 5);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i);
  ring.Write(samples.data(), samples.size());
  EXPECT_EQ(ring.total_written(), samples.size());
  std::vector<float> out(8);
  ASSERT_TRUE(ring.Latest(out.data(), out.size()));
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], static_cast<float>(samples.size() - 8 + i));
}

TEST(SampleRing, ACopyReportedWholeIsNeverTornByAWriterOnAnotherThread) {
  fx::SampleRing ring;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    // Positions as values, in blocks of changing sizes, now and then one
    // longer than the ring (which jumps ahead).
    std::vector<float> block(fx::SampleRing::kCapacity + 300);
    uint64_t position = 0;
    for (uint32_t round = 0; !stop.load(std::memory_order_relaxed); ++round) {
      const size_t n = round % 97 == 96 ? block.size() : 1 + (round * 37) % 700;
      for (size_t i = 0; i < n; ++i) block[i] = static_cast<float>((position + i) % kWrap);
      ring.Write(block.data(), n);
      position += n;
    }
  });
  constexpr size_t kWindow = 2048;
  std::vector<float> out(kWindow);
  int whole = 0, torn_whole = 0;
  for (int copy = 0; copy < 3000; ++copy) {
    if (!ring.Latest(out.data(), kWindow)) continue;
    ++whole;
    // Before the writer got far enough the copy starts with zeros; after
    // them the positions must run on one by one.
    size_t first = 0;
    while (first < kWindow && out[first] == 0.0f) ++first;
    for (size_t i = first + 1; i < kWindow; ++i) {
      const uint32_t a = static_cast<uint32_t>(out[i - 1]), b = static_cast<uint32_t>(out[i]);
      if ((a + 1) % kWrap != b) {
        ++torn_whole;
        break;
      }
    }
  }
  stop.store(true);
  writer.join();
  EXPECT_GT(whole, 0);
  EXPECT_EQ(torn_whole, 0);
}

}  // namespace

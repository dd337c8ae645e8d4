// The video player over a fake source that records every decode and seek
// and can hold a decode until the test lets it go.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "media/media.h"
#include "tests/media/fake_video.h"

namespace {

using media::VideoPlayer;
using video_test::FakeVideo;

// Takes frame n, waiting for it; the number the picture carries, -1 if none.
int64_t TakeWaiting(VideoPlayer& player, int64_t n) {
  player.Post(n);
  int64_t got = -1;
  const VideoPlayer::Take taken =
      player.TakeFrame(n, [&](const media::Image& picture) { got = FakeVideo::NumberOf(picture); }, 30.0);
  EXPECT_EQ(taken, VideoPlayer::Take::kReady) << "frame " << n;
  return got;
}

TEST(VideoPlayer, ServesOnlyTheNewestRequestAfterABlockedDecode) {
  auto source = std::make_unique<FakeVideo>(100, 10);
  auto log = source->log();
  source->Hold(10);
  VideoPlayer player;
  ASSERT_EQ(player.Start(std::move(source)), 0);
  player.Post(10);
  log->WaitUntilHeld();
  player.Post(50);
  player.Post(90);
  log->Release();
  EXPECT_EQ(TakeWaiting(player, 90), 90);
  const std::vector<int64_t> converted = log->Converted();
  const auto after = std::find(converted.begin(), converted.end(), 10);
  ASSERT_NE(after, converted.end());
  ASSERT_NE(after + 1, converted.end());
  EXPECT_EQ(*(after + 1), 90);
  EXPECT_EQ(std::count(converted.begin(), converted.end(), 50), 0);
  const std::vector<int64_t> decoded = log->Decoded();
  EXPECT_EQ(std::count(decoded.begin(), decoded.end(), 50), 0);
}

TEST(VideoPlayer, PlayingForwardDecodesEachFrameOnce) {
  auto source = std::make_unique<FakeVideo>(100, 100);
  auto log = source->log();
  VideoPlayer player;
  ASSERT_EQ(player.Start(std::move(source)), 0);
  for (int64_t n = 0; n <= 20; ++n) ASSERT_EQ(TakeWaiting(player, n), n);
  player.Stop();
  std::vector<int64_t> decoded = log->Decoded();
  std::sort(decoded.begin(), decoded.end());
  EXPECT_EQ(std::adjacent_find(decoded.begin(), decoded.end()), decoded.end()) << "a frame decoded twice";
  EXPECT_EQ(log->Seeks(), 0);
}

TEST(VideoPlayer, PlayingBackwardSeeksOncePerRun) {
  auto source = std::make_unique<FakeVideo>(100, 100);
  auto log = source->log();
  VideoPlayer player;
  ASSERT_EQ(player.Start(std::move(source)), 0);
  ASSERT_EQ(TakeWaiting(player, 50), 50);
  ASSERT_EQ(log->Seeks(), 0);
  ASSERT_EQ(TakeWaiting(player, 40), 40);
  ASSERT_EQ(TakeWaiting(player, 39), 39);
  ASSERT_EQ(TakeWaiting(player, 38), 38);
  EXPECT_EQ(log->Seeks(), 1);
  EXPECT_EQ(player.Seeks(), 1);
}

TEST(VideoPlayer, AFrameThatFailsIsReportedAsFailedWithItsNotice) {
  auto source = std::make_unique<FakeVideo>(100, 100);
  source->FailFrame(3);
  VideoPlayer player;
  ASSERT_EQ(player.Start(std::move(source)), 0);
  player.Post(3);
  EXPECT_EQ(player.TakeFrame(3, [](const media::Image&) {}, 30.0), VideoPlayer::Take::kFailed);
  EXPECT_EQ(player.TakeNotice(), "fake: frame 3 failed");
  EXPECT_EQ(TakeWaiting(player, 4), 4);
}

TEST(VideoPlayer, StopDuringABlockedDecodeReturnsAfterTheRelease) {
  auto source = std::make_unique<FakeVideo>(100, 100);
  auto log = source->log();
  source->Hold(5);
  VideoPlayer player;
  ASSERT_EQ(player.Start(std::move(source)), 0);
  player.Post(5);
  log->WaitUntilHeld();
  std::mutex mutex;
  bool stopped = false;
  std::thread stopper([&] {
    player.Stop();
    std::lock_guard<std::mutex> hold(mutex);
    stopped = true;
  });
  {
    std::lock_guard<std::mutex> hold(mutex);
    EXPECT_FALSE(stopped);   // the decode still holds the worker
    EXPECT_FALSE(log->Destroyed());
  }
  log->Release();
  stopper.join();
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(log->Destroyed());
  EXPECT_FALSE(player.Running());
}

TEST(VideoPlayer, NothingIsReadyBeforeItsDecodeAndTakingDoesNotWait) {
  auto source = std::make_unique<FakeVideo>(100, 100);
  auto log = source->log();
  source->Hold(0);
  VideoPlayer player;
  ASSERT_EQ(player.Start(std::move(source)), 0);
  player.Post(0);
  log->WaitUntilHeld();
  EXPECT_EQ(player.TakeFrame(0, [](const media::Image&) {}), VideoPlayer::Take::kNotReady);
  log->Release();
  EXPECT_EQ(TakeWaiting(player, 0), 0);
}

}  // namespace

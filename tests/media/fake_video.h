// A video source for tests: frames are solid pictures whose colour is a
// function of the frame number (the number itself unless told otherwise);
// keyframes every `interval` frames; every decode and seek is recorded in a
// log that outlives the source; one decode can be held until released.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/media.h"

namespace video_test {

class FakeVideo final : public media::VideoFrameSource {
 public:
  class Log {
   public:
    void WaitUntilHeld() {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return held_; });
    }
    void Release() {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        released_ = true;
      }
      changed_.notify_all();
    }
    std::vector<int64_t> Decoded() const { return Copy(decoded_); }
    std::vector<int64_t> Converted() const { return Copy(converted_); }
    int Seeks() const {
      std::lock_guard<std::mutex> hold(mutex_);
      return seeks_;
    }
    bool Destroyed() const {
      std::lock_guard<std::mutex> hold(mutex_);
      return destroyed_;
    }

   private:
    friend class FakeVideo;
    std::vector<int64_t> Copy(const std::vector<int64_t>& list) const {
      std::lock_guard<std::mutex> hold(mutex_);
      return list;
    }
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int64_t> decoded_, converted_;
    int seeks_ = 0;
    int64_t hold_at_ = -1;
    bool held_ = false, released_ = false, destroyed_ = false;
  };

  FakeVideo(int64_t count, int64_t interval, uint32_t width = 16, uint32_t height = 16, double rate = 25.0)
      : count_(count), interval_(interval), width_(width), height_(height), rate_(rate) {}
  ~FakeVideo() override {
    std::lock_guard<std::mutex> hold(log_->mutex_);
    log_->destroyed_ = true;
  }

  std::shared_ptr<Log> log() const { return log_; }
  // The decode of frame n waits until the log is released.
  void Hold(int64_t n) { log_->hold_at_ = n; }
  void FailFrame(int64_t n) { failing_ = n; }
  // Colour (0xRRGGBB) of frame n.
  void SetColour(std::function<uint32_t(int64_t)> colour) { colour_ = std::move(colour); }
  static int64_t NumberOf(const media::Image& picture) {
    const uint8_t* p = picture.PixelAt(0, 0);
    return static_cast<int64_t>(p[2]) << 16 | static_cast<int64_t>(p[1]) << 8 | p[0];
  }

  uint32_t Width() const override { return width_; }
  uint32_t Height() const override { return height_; }
  int64_t FrameCount() const override { return count_; }
  double FrameRate() const override { return rate_; }
  int64_t NextFrame() const override { return next_; }
  int64_t KeyframeBefore(int64_t n) override { return n / interval_ * interval_; }
  int SeekBefore(int64_t n) override {
    std::lock_guard<std::mutex> hold(log_->mutex_);
    ++log_->seeks_;
    next_ = KeyframeBefore(n);
    return 0;
  }
  int DecodeNext(media::Image* picture) override {
    const int64_t n = next_++;
    {
      std::unique_lock<std::mutex> lock(log_->mutex_);
      if (n == log_->hold_at_) {
        log_->hold_at_ = -1;
        log_->held_ = true;
        log_->changed_.notify_all();
        log_->changed_.wait(lock, [this] { return log_->released_; });
      }
      log_->decoded_.push_back(n);
      if (picture) log_->converted_.push_back(n);
    }
    if (n == failing_) {
      notice_ = "fake: frame " + std::to_string(n) + " failed";
      return -1;
    }
    if (!picture) return 0;
    const uint32_t rgb = colour_ ? colour_(n) : static_cast<uint32_t>(n);
    for (uint32_t y = 0; y < picture->height; ++y)
      for (uint32_t x = 0; x < picture->width; ++x) {
        uint8_t* p = picture->PixelAt(x, y);
        p[0] = rgb & 0xff;
        p[1] = (rgb >> 8) & 0xff;
        p[2] = (rgb >> 16) & 0xff;
        p[3] = 0xff;
      }
    return 0;
  }
  std::string TakeNotice() override {
    std::string notice;
    notice.swap(notice_);
    return notice;
  }

 private:
  std::shared_ptr<Log> log_ = std::make_shared<Log>();
  int64_t count_, interval_;
  uint32_t width_, height_;
  double rate_;
  int64_t next_ = 0;
  int64_t failing_ = -1;
  std::string notice_;
  std::function<uint32_t(int64_t)> colour_;
};

}  // namespace video_test

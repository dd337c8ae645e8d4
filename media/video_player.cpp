// The video player: one worker thread per playing video, so a seek that
// takes a hundred milliseconds never holds up a frame.
//
// Design. The frame thread posts the frame it wants (only the newest
// request counts) and takes a finished frame from the ring when there is
// one. The worker, for the newest request r:
//   - r is in the ring: when the requests go forward it decodes up to two
//     frames ahead of r into the ring; otherwise it waits;
//   - else it runs to r: from where the decoder stands when r is ahead and
//     no keyframe lies between, else from a seek to the keyframe before r.
//     Frames on the way are decoded without conversion, except the last
//     kRingSize before r (going back, the next requests want them).
// After every decoded frame the run is checked against the newest request:
// a run that can still reach it (same direction, no keyframe in between)
// goes on towards it; any other is dropped. A ring slot being copied by the
// frame thread is never written; the slot overwritten is the one farthest
// from the request. The worker raises no messages: the source's notices
// wait in the player until the frame thread asks.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>

#include "app/core/core.h"
#include "media/media.h"

namespace media {
namespace {

std::mutex g_players_mutex;
std::set<VideoPlayer*> g_players;

}  // namespace

int VideoPlayer::Start(std::unique_ptr<VideoFrameSource> source) {
  Stop();
  if (!source || source->Width() == 0 || source->Height() == 0 || source->FrameCount() <= 0) return -1;
  width_ = source->Width();
  height_ = source->Height();
  const ImageHeader header = MakeHeader(width_, height_, PF_XRGB32);
  for (Slot& slot : ring_) {
    if (CreateImage(&slot.picture, header) != 0) {
      for (Slot& made : ring_) DestroyImage(&made.picture);
      return -1;
    }
    slot.frame = -1;
    slot.failed = false;
    slot.readers = 0;
  }
  source_ = std::move(source);
  request_ = last_request_ = -1;
  going_forward_ = true;
  stopping_ = false;
  notice_.clear();
  decoded_ = converted_ = seeks_ = 0;
  if (core::StartThread(&worker_, [this] { Run(); }) != 0) {
    source_.reset();
    for (Slot& slot : ring_) DestroyImage(&slot.picture);
    return -1;
  }
  std::lock_guard<std::mutex> hold(g_players_mutex);
  g_players.insert(this);
  return 0;
}

void VideoPlayer::Stop() {
  {
    std::lock_guard<std::mutex> hold(g_players_mutex);
    g_players.erase(this);
  }
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
  }
  source_.reset();
}

void VideoPlayer::StopAll() {
  std::set<VideoPlayer*> players;
  {
    std::lock_guard<std::mutex> hold(g_players_mutex);
    players.swap(g_players);
  }
  for (VideoPlayer* player : players) player->Stop();
}

void VideoPlayer::Post(int64_t frame) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (request_ == frame) return;
    request_ = frame;
  }
  wake_.notify_one();
}

int VideoPlayer::FindLocked(int64_t frame) const {
  for (int i = 0; i < kRingSize; ++i)
    if (ring_[i].frame == frame && frame >= 0) return i;
  return -1;
}

VideoPlayer::Take VideoPlayer::Acquire(int64_t frame, double wait_seconds, int* slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                              std::chrono::duration<double>(std::max(wait_seconds, 0.0)));
  for (;;) {
    const int found = FindLocked(frame);
    if (found >= 0) {
      if (ring_[found].failed) return Take::kFailed;
      ++ring_[found].readers;
      *slot = found;
      return Take::kReady;
    }
    if (wait_seconds <= 0.0 || !worker_.joinable()) return Take::kNotReady;
    if (ready_.wait_until(lock, deadline) == std::cv_status::timeout && FindLocked(frame) < 0) return Take::kNotReady;
  }
}

void VideoPlayer::Release(int slot) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    --ring_[slot].readers;
  }
  wake_.notify_one();
}

std::string VideoPlayer::TakeNotice() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::string notice;
  notice.swap(notice_);
  return notice;
}

int64_t VideoPlayer::Decoded() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return decoded_;
}
int64_t VideoPlayer::Converted() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return converted_;
}
int64_t VideoPlayer::Seeks() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return seeks_;
}

int64_t VideoPlayer::DecodeOne(bool keep, int64_t target) {
  const int64_t frame = source_->NextFrame();
  if (!keep) {
    source_->DecodeNext(nullptr);
    std::lock_guard<std::mutex> hold(mutex_);
    ++decoded_;
    return frame;
  }
  // The slot least likely to be wanted that nobody is reading: empty, else
  // on the far side of the newest request (behind it while reading ahead,
  // ahead of it on a run towards it), else the farthest. While converting,
  // with the mutex released, it is marked as holding nothing.
  int victim = -1;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const int64_t wanted = request_ >= 0 ? request_ : target;
    const bool reading_ahead = frame > wanted;
    for (;;) {
      int64_t worst = -1;
      for (int i = 0; i < kRingSize; ++i) {
        if (ring_[i].readers > 0) continue;
        const int64_t f = ring_[i].frame;
        const bool far_side = reading_ahead ? f < wanted : f > wanted;
        const int64_t distance = f < 0 ? INT64_MAX : std::llabs(f - wanted) + (far_side ? (INT64_MAX >> 2) : 0);
        if (distance > worst) {
          worst = distance;
          victim = i;
        }
      }
      if (victim >= 0 || stopping_) break;
      wake_.wait(lock);  // every slot is being copied (not with one reader at a time)
    }
    if (victim < 0) return frame;
    ring_[victim].frame = -1;
  }
  const int result = source_->DecodeNext(&ring_[victim].picture);
  std::string notice = source_->TakeNotice();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ring_[victim].frame = frame;
    ring_[victim].failed = result != 0;
    ++decoded_;
    ++converted_;
    if (!notice.empty()) notice_ += notice_.empty() ? notice : "\n" + notice;
  }
  ready_.notify_all();
  return frame;
}

void VideoPlayer::Run() {
  const int64_t count = source_->FrameCount();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return;
    const int64_t r = request_;
    if (r < 0 || r >= count) {
      wake_.wait(lock);
      continue;
    }
    if (r != last_request_) {
      going_forward_ = last_request_ < 0 || r > last_request_;
      last_request_ = r;
    }
    if (FindLocked(r) >= 0) {
      // Served: read ahead while the requests go forward.
      int64_t want = -1;
      if (going_forward_) {
        for (int64_t k = r + 1; k <= std::min(r + 2, count - 1); ++k) {
          if (FindLocked(k) < 0) {
            want = k;
            break;
          }
        }
      }
      if (want < 0) {
        wake_.wait(lock);
        continue;
      }
      lock.unlock();
      const int64_t position = source_->NextFrame();
      if (want < position || source_->KeyframeBefore(want) > position) {
        // Reading ahead never seeks: a jump ahead waits for the request.
        lock.lock();
        wake_.wait(lock);
        continue;
      }
      while (source_->NextFrame() < want) DecodeOne(false, want);
      DecodeOne(true, r);
      lock.lock();
      continue;
    }

    // A run towards r.
    lock.unlock();
    int64_t target = r;
    const int64_t position = source_->NextFrame();
    if (target < position || source_->KeyframeBefore(target) > position) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        ++seeks_;
      }
      if (source_->SeekBefore(target) != 0) {
        lock.lock();
        // Nothing to show for it: marked failed, so the frame thread moves on.
        int victim = -1;
        for (int i = 0; i < kRingSize && victim < 0; ++i)
          if (ring_[i].readers == 0) victim = i;
        if (victim >= 0) {
          ring_[victim].frame = target;
          ring_[victim].failed = true;
        }
        ready_.notify_all();
        if (request_ == target && !stopping_) wake_.wait(lock);
        continue;
      }
    }
    for (;;) {
      const int64_t next = source_->NextFrame();
      if (next > target) break;
      DecodeOne(next >= target - (kRingSize - 1), target);
      if (next == target) break;
      std::lock_guard<std::mutex> hold(mutex_);
      if (stopping_) break;
      const int64_t newest = request_;
      if (newest == target) continue;
      // A newer request: keep going only when this run still leads there.
      const int64_t at = source_->NextFrame();
      if (newest >= at && newest < count && source_->KeyframeBefore(newest) <= at && FindLocked(newest) < 0) {
        going_forward_ = newest > target;
        target = newest;
        last_request_ = newest;
        continue;
      }
      break;
    }
    lock.lock();
  }
}

}  // namespace media

// The loader thread: one worker taking read and decode tasks from a queue
// and leaving the results in a cache for the frame thread. The queue, the
// cache and the byte count are guarded by one mutex; the worker works on
// a task with the mutex released, and drops the result when its job was
// cancelled meanwhile. The load job that uses it, and the design of
// loading beside the show as a whole, are described in
// server/effect_loads.cpp.
#include <cstdio>

#include "app/core/core.h"
#include "fx/loading.h"

namespace fx {
namespace {

Loader* g_picture_loader = nullptr;

// A whole file by its disk path, at most `limit` bytes. 0 or -1.
int ReadText(const std::string& disk_path, long limit, std::string* text) {
  std::FILE* file = std::fopen(disk_path.c_str(), "rb");
  if (!file) return -1;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  int result = -1;
  if (size >= 0 && size <= limit && std::fseek(file, 0, SEEK_SET) == 0) {
    text->resize(static_cast<size_t>(size));
    if (std::fread(text->data(), 1, text->size(), file) == text->size()) result = 0;
  }
  std::fclose(file);
  if (result != 0) text->clear();
  return result;
}

}  // namespace

void SetPictureLoader(Loader* loader) { g_picture_loader = loader; }
Loader* PictureLoader() { return g_picture_loader; }

size_t Loader::ImageBytes(const media::Image& image) {
  return static_cast<size_t>(image.height) * static_cast<size_t>(image.pitch < 0 ? -image.pitch : image.pitch);
}

int Loader::Start() {
  if (Running()) return 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = false;
  }
  if (core::StartThread(&worker_, [this] { Run(); }) != 0) return -1;
  return 0;
}

void Loader::Stop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    tasks_.clear();
  }
  work_.notify_all();
  if (worker_.joinable()) worker_.join();
  std::lock_guard<std::mutex> hold(mutex_);
  results_.clear();
  waiting_bytes_ = 0;
  stopping_ = false;
}

void Loader::Queue(int job, Kind kind, const std::string& key, const std::string& disk_path,
                   const std::string& shown) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (results_.count(key)) return;
    Result& result = results_[key];
    result.job = job;
    tasks_.push_back(Task{job, kind, key, disk_path, shown});
  }
  work_.notify_all();
}

void Loader::QueueText(int job, const std::string& key, const std::string& disk_path) {
  Queue(job, Kind::kText, key, disk_path);
}

void Loader::QueuePicture(int job, const std::string& key, const std::string& disk_path) {
  Queue(job, Kind::kPicture, key, disk_path);
}

void Loader::QueueVideo(int job, const std::string& key, const std::string& disk_path, const std::string& shown) {
  Queue(job, Kind::kVideo, key, disk_path, shown);
}

Loader::State Loader::Query(const std::string& key) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = results_.find(key);
  return it == results_.end() ? State::kUnknown : it->second.state;
}

Loader::State Loader::Wait(const std::string& key) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    auto it = results_.find(key);
    if (it == results_.end()) return State::kUnknown;
    if (it->second.state != State::kPending) return it->second.state;
    // Without a worker nothing would ever finish it.
    if (!worker_.joinable()) return State::kPending;
    done_.wait(hold);
  }
}

bool Loader::TakeText(const std::string& key, std::string* text) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = results_.find(key);
  if (it == results_.end() || it->second.state != State::kReady) return false;
  *text = std::move(it->second.text);
  results_.erase(it);
  return true;
}

std::unique_ptr<media::Image> Loader::TakePicture(const std::string& key) {
  std::unique_ptr<media::Image> picture;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = results_.find(key);
    if (it == results_.end() || it->second.state != State::kReady || !it->second.picture) return nullptr;
    picture = std::move(it->second.picture);
    waiting_bytes_ -= it->second.bytes;
    results_.erase(it);
  }
  work_.notify_all();  // room for the next picture
  return picture;
}

std::unique_ptr<media::AviVideo> Loader::TakeVideo(const std::string& key, std::string* error) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = results_.find(key);
  if (it == results_.end() || it->second.state == State::kPending) return nullptr;
  std::unique_ptr<media::AviVideo> video = std::move(it->second.video);
  if (!video && error) *error = it->second.text;
  results_.erase(it);
  return video;
}

void Loader::Forget(const std::string& key) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = results_.find(key);
    if (it == results_.end() || it->second.state == State::kPending) return;
    waiting_bytes_ -= it->second.bytes;
    results_.erase(it);
  }
  work_.notify_all();
}

void Loader::CancelJob(int job) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto it = tasks_.begin(); it != tasks_.end();) {
      if (it->job == job) it = tasks_.erase(it);
      else ++it;
    }
    if (running_job_ == job) running_cancelled_ = true;
    for (auto it = results_.begin(); it != results_.end();) {
      // The running task's record goes when the task ends.
      if (it->second.job == job && !(running_job_ == job && it->first == running_key_)) {
        waiting_bytes_ -= it->second.bytes;
        it = results_.erase(it);
      } else {
        ++it;
      }
    }
  }
  work_.notify_all();
  done_.notify_all();
}

size_t Loader::WaitingBytes() {
  std::lock_guard<std::mutex> hold(mutex_);
  return waiting_bytes_;
}

size_t Loader::PendingTasks() {
  std::lock_guard<std::mutex> hold(mutex_);
  return tasks_.size() + (running_job_ >= 0 ? 1 : 0);
}

void Loader::Run() {
  // Decoding must not take a core from the frame loop and the GL driver.
  core::LowerThisThreadsPriority();
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    // Decoding waits while the cache is full (a picture may always wait
    // alone, however large).
    work_.wait(hold, [this] {
      return stopping_ || (!tasks_.empty() && (waiting_bytes_ == 0 || waiting_bytes_ < kMaxWaitingBytes));
    });
    if (stopping_) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    running_job_ = task.job;
    running_key_ = task.key;
    running_cancelled_ = false;
    hold.unlock();

    std::string text;
    std::unique_ptr<media::Image> picture;
    std::unique_ptr<media::AviVideo> video;
    int status = -1;
    if (task.kind == Kind::kText) {
      status = ReadText(task.disk_path, kMaxTextBytes, &text);
    } else if (task.kind == Kind::kVideo) {
      video.reset(new (std::nothrow) media::AviVideo);
      if (video) status = video->OpenDisk(task.disk_path, task.shown.c_str(), &text);
      if (status != 0) video.reset();
    } else {
      picture.reset(new (std::nothrow) media::Image);
      if (picture) status = media::LoadImage(picture.get(), task.disk_path.c_str(), true);
      if (status != 0) picture.reset();
    }

    hold.lock();
    running_job_ = -1;
    running_key_.clear();
    auto it = results_.find(task.key);
    if (running_cancelled_ || it == results_.end()) {
      if (it != results_.end() && it->second.state == State::kPending) results_.erase(it);
    } else if (status == 0) {
      it->second.state = State::kReady;
      it->second.text = std::move(text);
      if (picture) {
        it->second.bytes = ImageBytes(*picture);
        waiting_bytes_ += it->second.bytes;
      }
      it->second.picture = std::move(picture);
      it->second.video = std::move(video);
    } else {
      it->second.state = State::kFailed;
      it->second.text = std::move(text);  // a video's message
    }
    running_cancelled_ = false;
    done_.notify_all();
  }
}

}  // namespace fx

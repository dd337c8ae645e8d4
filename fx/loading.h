// Loading effects beside the show: the loader thread that reads and decodes
// files, and what effect classes tell it to prepare.
//
// Typical use (the Server's load jobs):
//   fx::Loader loader; loader.Start();
//   loader.QueuePicture(job, key, "/abs/effects/x/data/images/01.jpg");
//   ... later, on the frame thread: loader.Query(key) == kReady ->
//   std::unique_ptr<media::Image> picture = loader.TakePicture(key);
//
// The worker only reads and decodes files named by absolute disk paths: it
// never touches the file layer's base folders, materials, the render layer
// or GL. Everything it produces waits in a cache bounded by
// kMaxWaitingBytes; further decoding waits until the frame thread takes
// or cancels something.
// Not here: the job that steps a load on the frame thread (the Server's),
// the uploads of image tiles (image_effect.h).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/media.h"

namespace fx {

// What an effect class wants prepared before one of its instances loads,
// listed from the instance's load arguments: pictures and videos by the
// path the instance will name (relative to the effect's folder).
struct Preparation {
  std::vector<std::string> pictures;
  std::vector<std::string> videos;
};

class Loader {
 public:
  // Decoded data waiting for the frame thread, at most (one larger picture
  // may wait alone).
  static constexpr size_t kMaxWaitingBytes = size_t{256} << 20;
  // Longest text file read (an effect script).
  static constexpr long kMaxTextBytes = 16L << 20;

  enum class State { kUnknown, kPending, kReady, kFailed };

  Loader() = default;
  ~Loader() { Stop(); }
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // Starts the worker. 0, or -1 when the system refuses a thread.
  int Start();
  // Drops every task and result and joins the worker.
  void Stop();
  bool Running() const { return worker_.joinable(); }

  // Queue work for `job` whose result is kept under `key` (a key already
  // known is not queued again).
  void QueueText(int job, const std::string& key, const std::string& disk_path);
  void QueuePicture(int job, const std::string& key, const std::string& disk_path);
  // Opens a video (FFmpeg probes, reads the stream information and decodes
  // the first picture); `shown` names the file in the message of a failure.
  void QueueVideo(int job, const std::string& key, const std::string& disk_path, const std::string& shown);

  State Query(const std::string& key);
  // Blocks until `key` is no longer pending (finished, failed or unknown).
  State Wait(const std::string& key);
  // Takes a ready result away (false / nullptr when it is not ready).
  bool TakeText(const std::string& key, std::string* text);
  std::unique_ptr<media::Image> TakePicture(const std::string& key);
  // An opened video; for a failed one nullptr, *error set and the key
  // forgotten; nullptr when still pending or unknown.
  std::unique_ptr<media::AviVideo> TakeVideo(const std::string& key, std::string* error);
  // Forgets a finished or failed key.
  void Forget(const std::string& key);
  // Drops the job's queued tasks and its results; a task being worked on
  // finishes and is dropped.
  void CancelJob(int job);

  size_t WaitingBytes();
  // Tasks queued or running.
  size_t PendingTasks();

 private:
  enum class Kind { kText, kPicture, kVideo };
  struct Task {
    int job = 0;
    Kind kind = Kind::kText;
    std::string key;
    std::string disk_path;
    std::string shown;
  };
  struct Result {
    int job = 0;
    State state = State::kPending;
    std::string text;
    std::unique_ptr<media::Image> picture;
    std::unique_ptr<media::AviVideo> video;
    size_t bytes = 0;
  };

  void Run();
  void Queue(int job, Kind kind, const std::string& key, const std::string& disk_path,
             const std::string& shown = std::string());
  static size_t ImageBytes(const media::Image& image);

  std::mutex mutex_;
  std::condition_variable work_;  // tasks queued, room freed, or stopping
  std::condition_variable done_;  // a task finished
  std::deque<Task> tasks_;
  std::map<std::string, Result> results_;
  size_t waiting_bytes_ = 0;
  int running_job_ = -1;  // the job of the task being worked on
  std::string running_key_;
  bool running_cancelled_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

// The loader LoadImageTexture takes prepared pictures from, and whether
// image uploads are sliced (see image_effect.h). nullptr: pictures decode
// and upload at once, on the calling thread.
void SetPictureLoader(Loader* loader);
Loader* PictureLoader();

}  // namespace fx

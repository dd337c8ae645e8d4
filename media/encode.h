// Encoding the show's output: JPEG pictures in memory (the preview a
// Client sees) and a live recording into a video file.
//
// Typical use:
//   std::vector<uint8_t> jpeg;
//   media::EncodeJpegBgrx(pixels, width, height, 80, &jpeg);
//
//   media::Recorder recorder;
//   if (recorder.Start({"show.mkv", 1920, 1080, 25.0}, &error) != 0) ...;
//   every frame: recorder.Push(std::move(pixels), seconds);
//   recorder.Stop();   // drains the queue and finalises the file
//
// Pixels are the render device's A8R8G8B8 words (B, G, R, X bytes in
// memory), top row first. Not here: reading pixels back from the device,
// when to take a frame (the Server decides).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

// 0, or -1 when the picture is empty or libjpeg fails. Quality 1..100.
int EncodeJpegBgrx(const uint32_t* pixels, uint32_t width, uint32_t height, int quality, std::vector<uint8_t>* jpeg);
// RGBA bytes (alpha 255), top row first. 0, or -1 for damaged data or a
// picture larger than max_width x max_height.
int DecodeJpegRgba(const uint8_t* data, size_t size, uint32_t max_width, uint32_t max_height, uint32_t* width,
                   uint32_t* height, std::vector<uint8_t>* rgba);

struct RecorderOptions {
  std::string path;          // ".mkv" or ".mp4"
  uint32_t width = 0, height = 0;
  double frame_rate = 25.0;  // the nominal rate written into the file
  // A sound file recorded beside the picture (looping, from its start, as
  // the sound input plays it); empty = picture only.
  std::string audio_file;
  // Where in the sound file the recording starts (seconds; wraps at the
  // file's length), so the sound matches what the input played.
  double audio_offset_seconds = 0.0;
  // Frames the queue holds before a push is dropped (or waits, below).
  size_t queue_frames = 8;
  // Offline runs: a push waits for room instead of dropping the frame.
  bool wait_when_full = false;
};

// A recording: the file and the encoder are opened by Start on the
// caller's thread (so a bad path fails at once); frames are converted and
// encoded on a worker thread from a bounded queue. Stop (or the
// destructor) encodes what is queued and finalises the container.
class Recorder {
 public:
  Recorder();
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // 0, or -1 with the reason in *error (unknown extension, unwritable
  // path, no encoder, a size the encoder refuses).
  int Start(const RecorderOptions& options, std::string* error);
  bool recording() const;
  // One output frame (width x height words) shown at `seconds` after the
  // start. False when it was dropped: the queue was full, or the worker
  // failed (see TakeError).
  bool Push(std::vector<uint32_t> pixels, double seconds);
  // Whether a Push now would find room (a frame read back for a full
  // queue would only be dropped), and counting a frame left out for that.
  bool HasRoom() const;
  void CountDropped();
  // Encodes the queued frames, finalises the file and ends the worker.
  // Returns 0, or -1 when writing failed at some point.
  int Stop();

  uint64_t frames_written() const;
  uint64_t frames_dropped() const;
  // The encoder in use ("libx264", "mpeg4" or "mjpeg"), "" before Start.
  std::string codec_name() const;
  // Whether writing failed (the recording should be stopped).
  bool failed() const;
  // The worker's first failure (a full disk, ...), once; "" when none.
  std::string TakeError();
  const std::string& path() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace media

// The output a venue needs: the output's and the mix's sizes, the master
// fader and blackout on the last copy, previews of the output for the
// Client, and live recording.
//
// Design: nothing here may hold the frame. The preview is the mix drawn
// small (at most 320 x 240, the output's shape) into its own target after
// the frame was presented; its pixels go to one encoder thread, which
// holds one picture at a time (a preview falls due only when the encoder is
// free). A finished JPEG goes to the Client only when its link has nothing
// queued, so a slow link gets fewer previews and never a backlog. The
// recording reads the presented back buffer only when its queue has room
// and leaves the encoding to the recorder's own thread; dropped frames are
// counted and reported once a second. Fixed-rate runs wait for both
// encoders instead, so an offline render keeps every frame.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/core/core.h"
#include "media/encode.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"
#include "server/server_internal.h"

namespace server {
namespace internal {
namespace {

constexpr int kPreviewQuality = 80;
constexpr double kDropReportSeconds = 1.0;

// One picture at a time, encoded on its own thread.
class PreviewEncoder {
 public:
  ~PreviewEncoder() { Stop(); }
  int Start() {
    Stop();
    stop_ = false;
    return core::StartThread(&thread_, [this] { Run(); });
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    busy_ = ready_ = false;
  }
  bool Busy() {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_;
  }
  void WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return !busy_ || stop_; });
  }
  bool Submit(std::vector<uint32_t> pixels, uint32_t width, uint32_t height) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (busy_ || !thread_.joinable()) return false;
      busy_ = true;
      job_ = std::move(pixels);
      width_ = width;
      height_ = height;
    }
    wake_.notify_one();
    return true;
  }
  bool Take(net::PreviewFrameMessage* frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_) return false;
    ready_ = false;
    frame->width = result_width_;
    frame->height = result_height_;
    frame->jpeg = std::move(result_);
    return true;
  }
  // A picture that was encoded but is no longer wanted.
  void Discard() {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_ = false;
  }

 private:
  void Run() {
    core::LowerThisThreadsPriority();  // the show's frames come first
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || (busy_ && !job_.empty()); });
      if (stop_) return;
      std::vector<uint32_t> pixels = std::move(job_);
      job_.clear();
      const uint32_t width = width_, height = height_;
      lock.unlock();
      std::vector<uint8_t> jpeg;
      const int result = media::EncodeJpegBgrx(pixels.data(), width, height, kPreviewQuality, &jpeg);
      lock.lock();
      if (result == 0 && jpeg.size() <= net::kMaxPreviewBytes) {
        result_ = std::move(jpeg);
        result_width_ = width;
        result_height_ = height;
        ready_ = true;
      }
      busy_ = false;
      done_.notify_all();
    }
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  bool stop_ = false;
  bool busy_ = false;
  std::vector<uint32_t> job_;
  uint32_t width_ = 0, height_ = 0;
  bool ready_ = false;
  std::vector<uint8_t> result_;
  uint32_t result_width_ = 0, result_height_ = 0;
};

struct Venue {
  int output_width = kOutputWidth, output_height = kOutputHeight;
  int mix_width = kScratchSize, mix_height = kScratchSize;
  float level = 1.0f;
  bool blackout = false;
  // Preview.
  uint32_t preview_rate = 0;
  double next_preview = 0.0;
  render::TextureId preview_target = render::kNoId;
  uint32_t preview_width = 0, preview_height = 0;
  PreviewEncoder encoder;
  uint64_t previews_sent = 0, previews_skipped = 0;
  // Recording.
  media::Recorder recorder;
  double record_start = 0.0;
  uint64_t dropped_reported = 0;
  double next_drop_report = 0.0;
};
Venue g_venue;

// What the performer must learn about the output: the Client's log (and
// the trace) and stderr.
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = core::FormatMessageV(format, args);
  va_end(args);
  ServerLog("%s", text.c_str());
  std::fprintf(stderr, "vj: %s\n", core::PrintableText(text).c_str());
}

bool SideOk(int side) { return side >= kMinPictureSide && side <= kMaxPictureSide; }

// The largest size of the output's shape within the preview limits.
void PreviewSize(int width, int height, uint32_t* preview_width, uint32_t* preview_height) {
  const double scale = std::min({1.0, static_cast<double>(net::kMaxPreviewWidth) / width,
                                 static_cast<double>(net::kMaxPreviewHeight) / height});
  *preview_width = static_cast<uint32_t>(std::max(1L, std::lround(width * scale)));
  *preview_height = static_cast<uint32_t>(std::max(1L, std::lround(height * scale)));
}

bool WantsFullScreen(const ServerOptions& options) {
  if (options.headless) return false;
  int32_t remembered = 0;
  core::ReadSettingNumber("", FullScreenSettingName(options.adapter).c_str(), &remembered);
  return options.fullscreen || remembered == 1;
}

// Opens a recording of the output; 0, or -1 with the reason.
int OpenRecording(const std::string& path, std::string* why) {
  const ServerOptions& options = g_server.options;
  media::RecorderOptions recording;
  recording.path = path;
  recording.width = static_cast<uint32_t>(g_venue.output_width);
  recording.height = static_cast<uint32_t>(g_venue.output_height);
  recording.frame_rate = options.frame_rate > 0.0 ? options.frame_rate : 30.0;
  recording.audio_file = options.audio_file;
  // The program clock (the Server's is read at each tick, not yet at start-up).
  const double now = core::NowSeconds();
  recording.audio_offset_seconds = now - core::kClockEpoch;
  recording.wait_when_full = options.wait_for_encoders;
  if (g_venue.recorder.Start(recording, why) != 0) return -1;
  g_venue.record_start = now;
  g_venue.dropped_reported = 0;
  g_venue.next_drop_report = 0.0;
  return 0;
}

// The reason a recording ended, and what it holds.
void ReportRecordingEnd(int status) {
  media::Recorder& recorder = g_venue.recorder;
  std::string error = recorder.TakeError();
  if (status != 0 && error.empty()) error = "writing failed";
  Report("%s %s: %llu frames (%llu dropped)%s%s", status == 0 ? "Recorded" : "Recording failed,",
            recorder.path().c_str(), static_cast<unsigned long long>(recorder.frames_written()),
            static_cast<unsigned long long>(recorder.frames_dropped()), error.empty() ? "" : "; ", error.c_str());
}

}  // namespace

int ChooseOutputSizes(const ServerOptions& options) {
  int width = options.output_width, height = options.output_height;
  const render::Direct3DInfo* display = render::GetDirect3D();
  if (WantsFullScreen(options) && !options.output_size_given && display && display->info.desktop.width > 0 &&
      display->info.desktop.height > 0) {
    width = static_cast<int>(std::min<uint32_t>(display->info.desktop.width, kMaxPictureSide));
    height = static_cast<int>(std::min<uint32_t>(display->info.desktop.height, kMaxPictureSide));
  }
  if (!SideOk(width) || !SideOk(height)) {
    core::ShowError("Output size %dx%d is outside %dx%d .. %dx%d", width, height, kMinPictureSide, kMinPictureSide,
                    kMaxPictureSide, kMaxPictureSide);
    return -1;
  }
  int mix_width = options.mix_width, mix_height = options.mix_height;
  if (mix_width == 0 && mix_height == 0) {
    // The output's own size, as far as textures go.
    mix_width = std::min(width, kMaxPictureSide);
    mix_height = std::min(height, kMaxPictureSide);
  }
  if (!SideOk(mix_width) || !SideOk(mix_height)) {
    core::ShowError("Mix size %dx%d is outside %dx%d .. %dx%d", mix_width, mix_height, kMinPictureSide,
                    kMinPictureSide, kMaxPictureSide, kMaxPictureSide);
    return -1;
  }
  g_venue.output_width = width;
  g_venue.output_height = height;
  g_venue.mix_width = mix_width;
  g_venue.mix_height = mix_height;
  core::Trace("SERVER: output %dx%d, mix %dx%d.\n", width, height, mix_width, mix_height);
  return 0;
}

int StartVenueOutput() {
  g_venue.level = 1.0f;
  g_venue.blackout = false;
  g_venue.preview_rate = 0;
  g_venue.previews_sent = g_venue.previews_skipped = 0;
  PreviewSize(g_venue.output_width, g_venue.output_height, &g_venue.preview_width, &g_venue.preview_height);
  g_venue.preview_target =
      render::CreateRenderTexture(g_venue.preview_width, g_venue.preview_height, render::FMT_X8R8G8B8, 1);
  if (g_venue.preview_target == render::kNoId || g_venue.encoder.Start() != 0) {
    core::ShowError("Error initializing the preview");
    return -1;
  }
  const std::string& path = g_server.options.record_file;
  if (!path.empty()) {
    std::string why;
    if (OpenRecording(path, &why) != 0) {
      core::ShowError("Cannot record into %s: %s", path.c_str(), why.c_str());
      return -1;
    }
    core::Trace("SERVER: recording %s with %s.\n", path.c_str(), g_venue.recorder.codec_name().c_str());
  }
  return 0;
}

void StopVenueOutput() {
  if (g_venue.recorder.recording()) ReportRecordingEnd(g_venue.recorder.Stop());
  g_venue.encoder.Stop();
  render::ReleaseTexture(g_venue.preview_target);
  g_venue.preview_target = render::kNoId;
  g_venue.preview_rate = 0;
}

void PresentMix(render::TextureId framebuffer) {
  render::Device* device = render::LayerDevice();
  if (!device) return;
  if (g_venue.blackout || !(g_venue.level > 0.0f)) {
    device->Clear(0, nullptr, render::CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    return;
  }
  // At full level the copy is the plain one, byte for byte.
  if (g_venue.level >= 1.0f) DrawFullScreen(framebuffer, 1.0f);
  else DrawFullScreenScaled(framebuffer, g_venue.level);
}

void CaptureOutput(double now) {
  render::Device* device = render::LayerDevice();
  if (!device) return;
  const bool wait = g_server.options.wait_for_encoders;
  // The preview: due at its rate, and only when the encoder is free.
  if (g_venue.preview_rate > 0 && g_server.client_connected && now >= g_venue.next_preview) {
    if (wait) g_venue.encoder.WaitIdle();
    if (!g_venue.encoder.Busy() && render::PushRenderTarget(g_venue.preview_target, render::kNoId) == 0) {
      device->BeginScene();
      PresentMix(ScratchFramebuffer());
      device->EndScene();
      render::PopRenderTarget();
      std::vector<uint32_t> pixels;
      std::shared_ptr<render::Texture> target = render::GetTextureById(g_venue.preview_target);
      if (target && device->ReadSurfacePixels(target->GetSurfaceLevel(0).get(), &pixels) == render::kOk)
        g_venue.encoder.Submit(std::move(pixels), g_venue.preview_width, g_venue.preview_height);
      if (wait) g_venue.encoder.WaitIdle();
      const double period = 1.0 / g_venue.preview_rate;
      g_venue.next_preview += period;
      // Late by more than a period: the next one counts from now.
      if (g_venue.next_preview <= now) g_venue.next_preview = now + period;
    }
  }
  // The recording takes the output as presented.
  media::Recorder& recorder = g_venue.recorder;
  if (recorder.recording()) {
    if (!wait && !recorder.HasRoom()) {
      recorder.CountDropped();
      return;
    }
    std::vector<uint32_t> pixels;
    if (device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels) == render::kOk)
      recorder.Push(std::move(pixels), now - g_venue.record_start);
  }
}

void VenueTick() {
  net::PreviewFrameMessage frame;
  if (g_venue.encoder.Take(&frame)) {
    if (!g_server.client_connected || g_venue.preview_rate == 0) {
      // Asked for, then no longer wanted.
    } else if (g_server.client().QueuedBytes() > 0) {
      // The link still carries an earlier message: this one is skipped
      // rather than queued behind it.
      ++g_venue.previews_skipped;
    } else {
      Send(frame);
      ++g_venue.previews_sent;
    }
  }
  media::Recorder& recorder = g_venue.recorder;
  if (!recorder.recording()) return;
  if (recorder.failed()) {
    // A full disk, say: the file is finished as far as it goes, the show
    // goes on.
    ReportRecordingEnd(recorder.Stop());
    return;
  }
  const uint64_t dropped = recorder.frames_dropped();
  if (dropped > g_venue.dropped_reported && g_server.clock >= g_venue.next_drop_report) {
    Report("Recording dropped %llu frames (%llu in all): the encoder cannot keep up",
              static_cast<unsigned long long>(dropped - g_venue.dropped_reported),
              static_cast<unsigned long long>(dropped));
    g_venue.dropped_reported = dropped;
    g_venue.next_drop_report = g_server.clock + kDropReportSeconds;
  }
}

bool HandleVenueMessage(net::NetMessage* message) {
  if (auto* master = net::MessageAs<net::MasterUpdateMessage>(message)) {
    float level = g_venue.level;
    bool blackout = g_venue.blackout;
    if (master->mask & net::kMasterLevel) {
      if (std::isfinite(master->level)) level = master->level;
      else core::Trace("SERVER: Ignored a non-finite master level.\n");
    }
    if (master->mask & net::kMasterBlackout) blackout = master->blackout;
    SetMaster(level, blackout);
    return true;
  }
  if (auto* request = net::MessageAs<net::PreviewRequestMessage>(message)) {
    g_venue.preview_rate = std::min(request->rate, net::kMaxPreviewRate);
    g_venue.next_preview = g_server.clock;
    if (g_venue.preview_rate == 0) g_venue.encoder.Discard();
    return true;
  }
  if (auto* record = net::MessageAs<net::RecordControlMessage>(message)) {
    if (record->start) StartRecording(record->path);
    else if (Recording()) StopRecording();
    else Report("Not recording");
    return true;
  }
  return false;
}

void SendMasterStatus() { Send(net::MasterStatusMessage(g_venue.level, g_venue.blackout)); }

void OnNewClient() {
  g_venue.preview_rate = 0;
  g_venue.encoder.Discard();
}

}  // namespace internal

using internal::g_server;
using internal::g_venue;

int ScratchWidth() { return g_venue.mix_width; }
int ScratchHeight() { return g_venue.mix_height; }
int OutputWidth() { return g_venue.output_width; }
int OutputHeight() { return g_venue.output_height; }

void SetMaster(float level, bool blackout) {
  if (std::isfinite(level)) g_venue.level = std::clamp(level, 0.0f, 1.0f);
  g_venue.blackout = blackout;
  internal::SendMasterStatus();
}
float MasterLevel() { return g_venue.level; }
bool Blackout() { return g_venue.blackout; }

int StartRecording(const std::string& path) {
  if (!g_server.started) return -1;
  if (g_venue.recorder.recording()) {
    internal::Report("Already recording into %s", g_venue.recorder.path().c_str());
    return -1;
  }
  std::string why;
  if (internal::OpenRecording(path, &why) != 0) {
    internal::Report("Cannot record into %s: %s", path.c_str(), why.c_str());
    return -1;
  }
  internal::Report("Recording %s (%s, %dx%d%s)", path.c_str(), g_venue.recorder.codec_name().c_str(), g_venue.output_width,
            g_venue.output_height, g_server.options.audio_file.empty() ? "" : ", with the sound file");
  return 0;
}

void StopRecording() {
  if (g_venue.recorder.recording()) internal::ReportRecordingEnd(g_venue.recorder.Stop());
}
bool Recording() { return g_venue.recorder.recording(); }
uint64_t RecordedFrames() { return g_venue.recorder.frames_written(); }
uint64_t DroppedRecordFrames() { return g_venue.recorder.frames_dropped(); }
uint64_t PreviewsSent() { return g_venue.previews_sent; }
uint64_t PreviewsSkipped() { return g_venue.previews_skipped; }

}  // namespace server

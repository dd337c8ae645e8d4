// The VIDEOSTREAM effect's cost on llvmpipe, one run, clips made here with
// the ffmpeg tool. Prints three lines:
//
//   1. 640 x 480, 25 fps, 10 s MJPEG: (a) `ffmpeg -threads 1 -benchmark`
//      decoding the clip to nothing, in frames per second; (b) the effect
//      drawing a new frame on every Render in exact mode (each Render waits
//      for its frame) into the 512 x 512 target, read back; (c) the same
//      with the frame held (drawing alone). The video path's time per frame
//      is 1/(b) - 1/(c), compared with 1/(a); target <= 2x.
//   2. Live mode (no waiting) over 500 random jumps in a GOP-250 H.264
//      640 x 480 clip, one Render per 60 Hz frame: the Render call's
//      longest time and 99th percentile (target: longest < 3 ms), beside a
//      synchronous DecodeFrame on the same jumps.
//   3. Line 1 for a 1920 x 1080 MJPEG clip, for information.
//
// Usage: build/bench/fx/video_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/video_effect.h"
#include "media/media.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"
#include "tests/support/support.h"

namespace {

constexpr uint32_t kTarget = 512;

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int Ffmpeg(const std::string& arguments) {
  return std::system(("ffmpeg -nostdin -y -hide_banner -loglevel error " + arguments + " >/dev/null 2>&1").c_str());
}

// Frames per second of ffmpeg's own single-threaded decode (-benchmark's
// real time).
double FfmpegFps(const std::string& clip, int frames) {
  const std::string command = "ffmpeg -nostdin -hide_banner -threads 1 -benchmark -i '" + clip + "' -f null - 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return 0.0;
  char line[512];
  double rtime = 0.0;
  while (std::fgets(line, sizeof line, pipe)) {
    const char* at = std::strstr(line, "rtime=");
    if (at) rtime = std::atof(at + 6);
  }
  pclose(pipe);
  return rtime > 0.0 ? frames / rtime : 0.0;
}

class Bench {
 public:
  bool Start() {
    if (render::InitDirect3D(0, render::DisplayBackend::kHeadless) != 0 ||
        render::SelectDisplayMode(nullptr, 640, 480, 32, false, false, nullptr, "", false, false, true, false,
                                  false) != 0 ||
        render::InitRenderLayer() != 0)
      return false;
    target_ = render::CreateRenderTexture(kTarget, kTarget, render::FMT_X8R8G8B8, 1);
    if (target_ == render::kNoId || render::PushRenderTarget(target_, render::kNoId) != 0) return false;
    fx::RegisterEffectClasses();
    core::MarkStartupFinished(true);
    media::InstallVideoLog();
    return core::StartFileLayer(dir.path()) == 0;
  }
  void Stop() {
    render::PopAllRenderTargets();
    render::ReleaseTexture(target_);
    render::ShutdownRenderLayer();
    render::ReleaseDirect3D();
  }

  std::unique_ptr<fx::FxInstance> Load(const std::string& name) {
    std::unique_ptr<fx::FxInstance> effect = fx::FindClass(fx::kVideoStreamClass)->Create();
    if (effect->Load("V", name.c_str()) != 0) return nullptr;
    effect->Start(0.0f);
    return effect;
  }

  // One frame: clear, the effect, read back (waits for the drawing).
  void Frame(fx::FxInstance* effect, float time) {
    render::Device* device = render::LayerDevice();
    device->Clear(0, nullptr, render::CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    effect->Render(time);
    device->ReadSurfacePixels(device->GetRenderTarget().get(), &pixels_);
  }

  // Frames per second drawing `frames` frames, new ones or the first held.
  double EffectFps(fx::FxInstance* effect, int frames, double rate, bool held) {
    Frame(effect, 0.0f);  // the first frame, and the texture, exist
    const double start = NowMs();
    for (int k = 1; k <= frames; ++k) Frame(effect, held ? 0.0f : static_cast<float>(k / rate));
    return frames / ((NowMs() - start) / 1000.0);
  }

  void Line1(const char* label, const std::string& file, int frames, double rate) {
    const double a = FfmpegFps(dir / ("data/videos/" + file), frames);
    fx::SetVideoExactFrames(true);
    std::unique_ptr<fx::FxInstance> effect = Load(file);
    if (!effect) {
      std::printf("%s: the clip does not load\n", label);
      return;
    }
    // The source alone on this thread: decode only, then decode + convert.
    double decode_ms = 0.0, convert_ms = 0.0;
    {
      media::AviVideo video;
      std::string disk, error;
      media::Image picture;
      if (core::ResolvePath("data/videos/" + file, &disk) && video.OpenDisk(disk, "clip", &error) == 0 &&
          media::CreateImage(&picture, media::MakeHeader(video.Width(), video.Height(), media::PF_XRGB32)) == 0) {
        double t0 = NowMs();
        for (int k = 0; k < frames; ++k) video.DecodeNext(nullptr);
        decode_ms = (NowMs() - t0) / frames;
        video.SeekBefore(0);
        t0 = NowMs();
        for (int k = 0; k < frames; ++k) video.DecodeNext(&picture);
        convert_ms = (NowMs() - t0) / frames - decode_ms;
      }
    }
    const double b = EffectFps(effect.get(), frames - 1, rate, false);
    const double c = EffectFps(effect.get(), frames - 1, rate, true);
    const double path_ms = 1000.0 / b - 1000.0 / c, ffmpeg_ms = 1000.0 / a;
    std::printf("%s: (a) ffmpeg -threads 1 decode %.0f fps (%.3f ms); (b) new frame per Render %.0f fps; "
                "(c) frame held %.0f fps; video path 1/b - 1/c = %.3f ms = %.2f x 1/a (target <= 2x); "
                "of it on one thread: decode %.3f ms, conversion %.3f ms\n",
                label, a, ffmpeg_ms, b, c, path_ms, path_ms / ffmpeg_ms, decode_ms, convert_ms);
  }

  void Line2(const std::string& file) {
    fx::SetVideoExactFrames(true);
    std::unique_ptr<fx::FxInstance> effect = Load(file);
    media::AviVideo video;
    std::string error;
    std::string disk;
    if (!effect || !core::ResolvePath("data/videos/" + file, &disk) || video.OpenDisk(disk, "clip", &error) != 0) {
      std::printf("live jumps: the clip does not load\n");
      return;
    }
    Frame(effect.get(), 0.0f);
    fx::SetVideoExactFrames(false);
    std::mt19937 random(500);
    std::vector<int64_t> jumps;
    for (int i = 0; i < 500; ++i) jumps.push_back(static_cast<int64_t>(random() % video.FrameCount()));
    std::vector<double> render_ms, decode_ms;
    for (int64_t n : jumps) {
      const double frame_start = NowMs();
      render::Device* device = render::LayerDevice();
      device->Clear(0, nullptr, render::CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
      const double t0 = NowMs();
      effect->Render(static_cast<float>((n + 0.5) / video.FrameRate()));
      render_ms.push_back(NowMs() - t0);
      device->ReadSurfacePixels(device->GetRenderTarget().get(), &pixels_);
      const double left = 1000.0 / 60.0 - (NowMs() - frame_start);
      if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
    }
    effect.reset();  // its player stops before the synchronous decodes
    media::Image picture;
    media::CreateImage(&picture, media::MakeHeader(video.Width(), video.Height(), media::PF_XRGB32));
    for (int64_t n : jumps) {
      const double t0 = NowMs();
      video.DecodeFrame(n, &picture);
      decode_ms.push_back(NowMs() - t0);
    }
    auto stats = [](std::vector<double> v, double* mean, double* p99, double* max) {
      std::sort(v.begin(), v.end());
      double sum = 0;
      for (double x : v) sum += x;
      *mean = sum / v.size();
      *p99 = v[static_cast<size_t>(0.99 * (v.size() - 1))];
      *max = v.back();
    };
    double rm, rp, rx, dm, dp, dx;
    stats(render_ms, &rm, &rp, &rx);
    stats(decode_ms, &dm, &dp, &dx);
    std::printf("live jumps, H.264 GOP 250 640x480, 500 random frames: Render max %.3f ms, p99 %.3f ms, mean %.3f ms "
                "(target max < 3 ms); synchronous DecodeFrame max %.1f ms, p99 %.1f ms, mean %.1f ms\n",
                rx, rp, rm, dx, dp, dm);
  }

  testing_support::TempDir dir;

 private:
  render::TextureId target_ = render::kNoId;
  std::vector<uint32_t> pixels_;
};

}  // namespace

int main() {
  Bench bench;
  const std::string videos = bench.dir / "data/videos";
  testing_support::MakeDirs(videos);
  if (Ffmpeg("-f lavfi -i testsrc2=s=640x480:r=25:d=10 -c:v mjpeg -q:v 3 '" + videos + "/vga.avi'") != 0 ||
      Ffmpeg("-f lavfi -i testsrc2=s=640x480:r=25:d=20 -c:v libx264 -g 250 -keyint_min 250 -sc_threshold 0 "
             "-pix_fmt yuv420p '" + videos + "/gop250.mp4'") != 0 ||
      Ffmpeg("-f lavfi -i testsrc2=s=1920x1080:r=25:d=4 -c:v mjpeg -q:v 3 '" + videos + "/hd.avi'") != 0) {
    std::fprintf(stderr, "video_bench: ffmpeg could not make the clips\n");
    return 1;
  }
  if (!bench.Start()) {
    std::fprintf(stderr, "video_bench: no headless device\n");
    return 1;
  }
  core::PushBaseFolder("");
  bench.Line1("640x480 MJPEG, 250 frames", "vga.avi", 250, 25.0);
  bench.Line2("gop250.mp4");
  bench.Line1("1920x1080 MJPEG, 100 frames (information)", "hd.avi", 100, 25.0);
  core::PopBaseFolder();
  bench.Stop();
  return 0;
}

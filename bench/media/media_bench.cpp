// Image benchmarks.
//
//   JpegDecode   a 1920x1080 photo-like JPEG through LoadJpeg (file layer,
//                4 KB source buffers), against libjpeg-turbo's own djpeg on
//                the same file (a process per decode; a run on an 8x8 file
//                measures the process cost, which is taken off)
//   Convert      1920x1080 X8R8G8B8 -> R5G6B5 and friends, megapixels/s
//   Resample     1920x1080 -> 1024x512, megapixels/s of the source
//
// Run: build/bench/bench_media [--benchmark_filter=...]; the summary with
// the decode speed ratio is printed last.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>


#include "app/core/core.h"
#include "bench/support/jpeg_out.h"
#include "media/media.h"

extern char** environ;

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr const char* kDjpeg = "/usr/bin/djpeg";

std::string g_folder;
double g_ours_seconds = 0, g_djpeg_seconds = 0, g_djpeg_startup_seconds = 0;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Smooth shapes, gradients, fine texture and noise: compresses like a photo
// (a few bits per pixel at quality 90), unlike flat synthetic pictures.
std::vector<uint8_t> PhotoLike(uint32_t width, uint32_t height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  uint32_t seed = 12345;
  auto noise = [&] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>(seed >> 27) - 16;
  };
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      double u = x / double(width), v = y / double(height);
      double sky = 200 - 120 * v;
      double hills = 60 * std::sin(u * 9 + std::sin(v * 5) * 2) * std::cos(v * 7 - u * 3);
      double texture = 18 * std::sin(x * 0.37 + std::sin(y * 0.11) * 3) * std::sin(y * 0.29);
      double ring = std::hypot(u - 0.6, v - 0.4) < 0.15 ? 50 : 0;
      int n = noise();
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp(sky * 0.6 + hills + texture + ring + n, 0.0, 255.0));
      p[1] = static_cast<uint8_t>(std::clamp(sky * 0.8 + hills * 0.7 - texture + n, 0.0, 255.0));
      p[2] = static_cast<uint8_t>(std::clamp(sky + hills * 0.3 + texture * 0.5 - ring + n, 0.0, 255.0));
    }
  return rgb;
}

// One djpeg process decoding `file` to /dev/null. Returns its exit status.
int RunDjpeg(const std::string& file) {
  const char* argv[] = {kDjpeg, "-outfile", "/dev/null", file.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, kDjpeg, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void JpegDecodeOurs(benchmark::State& state) {
  media::Image image;
  double start = Now();
  for (auto _ : state) {
    if (media::LoadJpeg(&image, "photo.jpg") != 0) {
      state.SkipWithError("LoadJpeg failed");
      return;
    }
    benchmark::DoNotOptimize(image.pixels);
  }
  g_ours_seconds = (Now() - start) / static_cast<double>(state.iterations());
  state.counters["MPix/s"] =
      benchmark::Counter(kWidth * kHeight * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void JpegDecodeDjpegStartup(benchmark::State& state) {
  const std::string file = g_folder + "/tiny.jpg";
  double start = Now();
  for (auto _ : state) {
    if (RunDjpeg(file) != 0) {
      state.SkipWithError("djpeg failed (install libjpeg-turbo-progs)");
      return;
    }
  }
  g_djpeg_startup_seconds = (Now() - start) / static_cast<double>(state.iterations());
}

void JpegDecodeDjpeg(benchmark::State& state) {
  const std::string file = g_folder + "/photo.jpg";
  double start = Now();
  for (auto _ : state) {
    if (RunDjpeg(file) != 0) {
      state.SkipWithError("djpeg failed (install libjpeg-turbo-progs)");
      return;
    }
  }
  g_djpeg_seconds = (Now() - start) / static_cast<double>(state.iterations());
  state.counters["MPix/s"] =
      benchmark::Counter(kWidth * kHeight * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

media::Image FilledImage(uint32_t width, uint32_t height, const media::PixelFormat& format) {
  media::Image image;
  media::CreateImage(&image, media::MakeHeader(width, height, format));
  uint32_t seed = 7;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t i = 0; i < width * image.bytes_per_pixel(); ++i) {
      seed = seed * 1664525u + 1013904223u;
      image.Row(y)[i] = static_cast<uint8_t>(seed >> 24);
    }
  return image;
}

template <const media::PixelFormat* kFrom, const media::PixelFormat* kTo>
void Convert(benchmark::State& state) {
  media::Image source = FilledImage(kWidth, kHeight, *kFrom);
  media::Image target;
  media::CreateImage(&target, media::MakeHeader(kWidth, kHeight, *kTo));
  for (auto _ : state) {
    media::ConvertImage(&target, source);
    benchmark::DoNotOptimize(target.pixels);
  }
  state.counters["MPix/s"] =
      benchmark::Counter(kWidth * kHeight * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void Resample(benchmark::State& state) {
  media::Image source = FilledImage(kWidth, kHeight, media::PF_XRGB32);
  media::Image target;
  media::CreateImage(&target, media::MakeHeader(1024, 512, media::PF_XRGB32));
  for (auto _ : state) {
    media::ResampleImage(&target, source);
    benchmark::DoNotOptimize(target.pixels);
  }
  state.counters["MPix/s"] =
      benchmark::Counter(kWidth * kHeight * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void MipChain(benchmark::State& state) {
  media::Image source = FilledImage(1024, 1024, media::PF_ARGB32);
  std::vector<media::Image> levels(11);
  for (int i = 0; i < 11; ++i)
    media::CreateImage(&levels[i], media::MakeHeader(1024u >> i, 1024u >> i, media::PF_ARGB4444));
  for (auto _ : state) {
    media::BuildMipLevels(source, levels.data(), 11, false);
    benchmark::DoNotOptimize(levels[10].pixels);
  }
  state.counters["MPix/s"] = benchmark::Counter(1024 * 1024 * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(JpegDecodeOurs)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// The decoding happens in the child: wall time is what counts.
BENCHMARK(JpegDecodeDjpegStartup)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(JpegDecodeDjpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(Convert<&media::PF_XRGB32, &media::PF_RGB565>)->Name("Convert/XRGB32_to_RGB565")->Unit(benchmark::kMillisecond);
BENCHMARK(Convert<&media::PF_XRGB32, &media::PF_XRGB1555>)->Name("Convert/XRGB32_to_XRGB1555")->Unit(benchmark::kMillisecond);
BENCHMARK(Convert<&media::PF_RGB24, &media::PF_RGB565>)->Name("Convert/RGB24_to_RGB565")->Unit(benchmark::kMillisecond);
BENCHMARK(Convert<&media::PF_RGB24, &media::PF_ARGB32>)->Name("Convert/RGB24_to_ARGB32")->Unit(benchmark::kMillisecond);
BENCHMARK(Resample)->Name("Resample/1920x1080_to_1024x512")->Unit(benchmark::kMillisecond);
BENCHMARK(MipChain)->Name("MipChain/1024x1024_ARGB4444_11_levels")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/vjbench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  g_folder = pattern;
  if (!bench_support::WriteJpeg(g_folder + "/photo.jpg", kWidth, kHeight, PhotoLike(kWidth, kHeight)) ||
      !bench_support::WriteJpeg(g_folder + "/tiny.jpg", 8, 8, PhotoLike(8, 8))) {
    std::fprintf(stderr, "cannot write the test pictures in %s\n", g_folder.c_str());
    return 1;
  }
  core::StartFileLayer(g_folder);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  FILE* size_probe = std::fopen((g_folder + "/photo.jpg").c_str(), "rb");
  long bytes = 0;
  if (size_probe) {
    std::fseek(size_probe, 0, SEEK_END);
    bytes = std::ftell(size_probe);
    std::fclose(size_probe);
  }
  if (g_ours_seconds > 0 && g_djpeg_seconds > 0) {
    double decode_only = g_djpeg_seconds - g_djpeg_startup_seconds;
    std::printf("\nJPEG 1920x1080, %ld bytes (%.2f bits/pixel):\n", bytes, bytes * 8.0 / (kWidth * kHeight));
    std::printf("  LoadJpeg          %7.2f ms\n", g_ours_seconds * 1e3);
    std::printf("  djpeg process     %7.2f ms  (an 8x8 file: %.2f ms)\n", g_djpeg_seconds * 1e3,
                g_djpeg_startup_seconds * 1e3);
    std::printf("  djpeg decode      %7.2f ms  (process less start-up)\n", decode_only * 1e3);
    std::printf("  speed vs djpeg decode:  %.3f  (vs whole process: %.3f)\n", decode_only / g_ours_seconds,
                g_djpeg_seconds / g_ours_seconds);
  }
  core::StopFileLayer();
  std::remove((g_folder + "/photo.jpg").c_str());
  std::remove((g_folder + "/tiny.jpg").c_str());
  rmdir(g_folder.c_str());
  return 0;
}

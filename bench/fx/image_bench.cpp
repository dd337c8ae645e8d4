// Cost of the IMAGE effect on llvmpipe (headless display device, the
// Server's 512 x 512 scratch target):
//
//   DrawFullHd/zoom_one_over:1
//                        one 1920 x 1080 picture (8 x 5 = 40 tiles) at
//                        (0, 0), zoom 1: it covers the whole target
//   DrawFullHd/zoom_one_over:3
//                        the same picture zoomed to fit the 640 x 480
//                        virtual screen (all 40 tiles visible)
//   ClearAndRead         the frame without the picture: clear + read-back,
//                        which waits for the GPU; subtract it from the two
//                        above for the drawing alone
//   LoadSlideShow        Load of "20 1 P00 .. P19": twenty 1024 x 768
//                        JPEGs decoded, converted to R5G6B5 and cut into
//                        12 tiles each; then Unload gives the pictures back
//                        so the next load reads them again
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "bench/support/jpeg_out.h"
#include "fx/image_effect.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace {

constexpr uint32_t kFullWidth = 1920, kFullHeight = 1080;
constexpr uint32_t kSlideWidth = 1024, kSlideHeight = 768;
constexpr int kSlides = 20;
constexpr uint32_t kScratch = 512;

std::string g_folder;
render::TextureId g_target = render::kNoId;
int g_full_hd = -1;

// Smooth shapes with texture and noise: decodes like a photograph.
std::vector<uint8_t> PhotoLike(uint32_t width, uint32_t height, int variant) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  uint32_t seed = 12345u + static_cast<uint32_t>(variant);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      double u = x / double(width), v = y / double(height);
      double hills = 60 * std::sin(u * (9 + variant) + std::sin(v * 5) * 2) * std::cos(v * 7 - u * 3);
      double texture = 18 * std::sin(x * 0.37 + std::sin(y * 0.11) * 3) * std::sin(y * 0.29);
      int n = static_cast<int>(seed >> 27) - 16;
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp(120 + hills + texture + n, 0.0, 255.0));
      p[1] = static_cast<uint8_t>(std::clamp(160 - 100 * v + hills * 0.7 - texture + n, 0.0, 255.0));
      p[2] = static_cast<uint8_t>(std::clamp(200 - 120 * v + texture * 0.5 + n, 0.0, 255.0));
    }
  return rgb;
}

std::string SlideName(int i) {
  char name[8];
  std::snprintf(name, sizeof name, "P%02d", i);
  return name;
}

int SetUp() {
  char folder[] = "/tmp/vj-image-bench-XXXXXX";
  if (!mkdtemp(folder)) return -1;
  g_folder = folder;
  std::filesystem::create_directories(g_folder + "/show/data/images");
  const std::string images = g_folder + "/show/data/images/";
  if (!bench_support::WriteJpeg(images + "FULLHD.jpg", kFullWidth, kFullHeight, PhotoLike(kFullWidth, kFullHeight, 0))) return -1;
  for (int i = 0; i < kSlides; ++i)
    if (!bench_support::WriteJpeg(images + SlideName(i) + ".jpg", kSlideWidth, kSlideHeight, PhotoLike(kSlideWidth, kSlideHeight, i)))
      return -1;
  core::StartFileLayer(g_folder);
  if (render::InitDirect3D(0, render::DisplayBackend::kHeadless) != 0 ||
      render::SelectDisplayMode(nullptr, 640, 480, 32, false, false, nullptr, "", false, false, true, false, false) !=
          0 ||
      render::InitRenderLayer() != 0 || fx::StartImageManager() != 0)
    return -1;
  g_target = render::CreateRenderTexture(kScratch, kScratch, render::FMT_X8R8G8B8, 1);
  g_full_hd = fx::LoadImageTexture("show/data/images/FULLHD");
  return g_target >= 0 && g_full_hd >= 0 ? 0 : -1;
}

void TearDown() {
  fx::ShutdownImageManager();
  render::ReleaseDirect3D();
  std::error_code error;
  if (!g_folder.empty()) std::filesystem::remove_all(g_folder, error);
}

// Clears the scratch target, draws (or not) and reads the target back,
// which waits until the GPU is done.
void Frame(bool draw, float zoom, std::vector<uint32_t>* pixels) {
  render::Device* device = render::LayerDevice();
  render::PushRenderTarget(g_target, render::kNoId);
  device->Clear(0, nullptr, render::CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
  if (draw) {
    // Zoom about the centre: keep the picture centred on the screen.
    float x = 320.0f - kFullWidth * 0.5f, y = 240.0f - kFullHeight * 0.5f;
    if (zoom >= 1.0f) x = y = 0.0f;
    fx::DrawImageTexture(g_full_hd, x, y, fx::kImageBlendNormal, 0xFFFFFFFFu, zoom);
  }
  device->ReadSurfacePixels(device->GetRenderTarget().get(), pixels);
  render::PopRenderTarget();
}

void DrawFullHd(benchmark::State& state) {
  const float zoom = state.range(0) == 1 ? 1.0f : 1.0f / 3.0f;
  std::vector<uint32_t> pixels;
  for (auto _ : state) Frame(true, zoom, &pixels);
  state.counters["tiles"] = 40;
}
BENCHMARK(DrawFullHd)->Arg(1)->Arg(3)->ArgName("zoom_one_over")->Unit(benchmark::kMillisecond);

void ClearAndRead(benchmark::State& state) {
  std::vector<uint32_t> pixels;
  for (auto _ : state) Frame(false, 1.0f, &pixels);
}
BENCHMARK(ClearAndRead)->Unit(benchmark::kMillisecond);

void LoadSlideShow(benchmark::State& state) {
  std::string arguments = std::to_string(kSlides) + " 1";
  for (int i = 0; i < kSlides; ++i) arguments += " " + SlideName(i);
  fx::ImageEffect show;
  core::PushBaseFolder("show");
  for (auto _ : state) {
    if (show.Load("SHOW", arguments.c_str()) != 0) {
      state.SkipWithError("Load failed");
      break;
    }
    state.PauseTiming();
    show.Unload();
    state.ResumeTiming();
  }
  core::PopBaseFolder();
  state.counters["pictures"] = kSlides;
}
BENCHMARK(LoadSlideShow)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  if (SetUp() != 0) {
    std::fprintf(stderr, "image benchmark set-up failed (pictures in %s)\n", g_folder.c_str());
    TearDown();
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TearDown();
  return 0;
}

// Cost of each FILTER mode on llvmpipe: one deck drawn the Server's way
// (FxScript::RenderDeck into the 512 x 512 scratch target, read back so
// the GPU has finished) with two full-screen IMAGE layers (0 and 1), first
// without a FILTER (the anchor), then with a FILTER on layer 1 in each
// mode. Prints ms per frame, the ratio to the anchor and the added cost in
// full-screen quads (about 1.4 ms each at 512 x 512 here).
//
//   build/bench/fx/filter_bench [FRAMES]      (default 120 per mode)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/image_effect.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace {

constexpr uint32_t kScratch = 512;
constexpr double kQuadMs = 1.4;

struct Mode {
  const char* name;
  const char* commands;  // FXCOMMAND lines for the filter, ';'-separated; nullptr: no filter
};

const Mode kModes[] = {
    {"anchor (no FILTER)", nullptr},
    {"copy", "BYPASS ON;QUALITYBLUR ON"},
    {"blur e = 4.5", "BYPASS ON;BLUR FADEIN 0 0.5"},
    {"wobble", "BYPASS ON;WOBBLE ON"},
    {"lens", "BYPASS ON;LENS FADEIN 1000 0.5 3"},
    {"underwater", "BYPASS ON;UNDERWATER FADEIN 1000 3 0.02"},
    {"component", "COMPONENT RED 8 1 0;COMPONENT GREEN 4 2 1;COMPONENT BLUE 6 3 2;COMPONENT 0"},
    {"noise", "BYPASS ON;NOISE 1000 0.1"},
    {"radial", "RADIALBLUR FADEIN 0 0.05"},
    {"motion blur", "MOTIONBLUR FADEIN 0 0.5 0 0"},
    {"cross-fade", "CROSSFADE 1000 0 1 0 0"},
};

// A 640 x 480 true-colour TGA with smooth shapes.
void WritePicture(const std::string& path, int variant) {
  std::string bytes(18, '\0');
  bytes[2] = 2;
  bytes[12] = static_cast<char>(640 & 0xff);
  bytes[13] = static_cast<char>(640 >> 8);
  bytes[14] = static_cast<char>(480 & 0xff);
  bytes[15] = static_cast<char>(480 >> 8);
  bytes[16] = 24;
  bytes[17] = 0x20;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const double u = x / 640.0, v = y / 480.0;
      const double s = std::sin(u * (7 + variant) + std::sin(v * 5) * 2) * std::cos(v * 6 - u * 3);
      bytes.push_back(static_cast<char>(128 + 100 * s));
      bytes.push_back(static_cast<char>(255 * v));
      bytes.push_back(static_cast<char>(255 * u));
    }
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Script(const Mode& mode) {
  std::string text =
      "FXINSTANCE A IMAGE 1 1 PIC0\nFXINSTANCE B IMAGE 1 1 PIC1\nFXLAYER A 0\nFXLAYER B 1\nFXSTART A\nFXSTART B\n";
  if (mode.commands) {
    text += "FXINSTANCE F FILTER RENDERTARGET\nFXLAYER F 1\nFXSTART F\n";
    std::string commands = mode.commands;
    size_t start = 0;
    while (start < commands.size()) {
      size_t end = commands.find(';', start);
      if (end == std::string::npos) end = commands.size();
      text += "FXCOMMAND F " + commands.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  return text + "SYNCTIME 10000\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
  char folder[] = "/tmp/vj-filter-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  std::filesystem::create_directories(std::string(folder) + "/fx/data/images");
  for (int i = 0; i < 2; ++i) WritePicture(std::string(folder) + "/fx/data/images/PIC" + std::to_string(i) + ".tga", i);
  core::StartFileLayer(folder);
  fx::RegisterEffectClasses();
  core::MarkStartupFinished(true);
  if (render::InitDirect3D(0, render::DisplayBackend::kHeadless) != 0 ||
      render::SelectDisplayMode(nullptr, 640, 480, 32, false, false, nullptr, "", false, false, true, false, false) !=
          0 ||
      render::InitRenderLayer() != 0 || fx::StartImageManager() != 0) {
    std::fprintf(stderr, "filter benchmark: no headless device\n");
    return 1;
  }
  const render::TextureId target = render::CreateRenderTexture(kScratch, kScratch, render::FMT_X8R8G8B8, 1);
  const render::TextureId depth = render::CreateDepthSurface(kScratch, kScratch, render::FMT_X8R8G8B8);
  render::PushRenderTarget(target, depth);
  render::Device* device = render::LayerDevice();
  std::vector<uint32_t> pixels;

  std::printf("%d frames of 512 x 512 per mode, two full-screen IMAGE layers\n\n", frames);
  std::printf("| mode | ms per frame | ratio | added ms | added quads |\n|---|---|---|---|---|\n");
  double anchor = 0.0;
  for (const Mode& mode : kModes) {
    core::PushBaseFolder("fx");
    auto script = std::make_unique<fx::FxScript>();
    const std::string text = Script(mode);
    if (script->Open(text.c_str(), true) != 0 || script->InstantiateAll() != 0) {
      std::fprintf(stderr, "filter benchmark: %s does not load\n", mode.name);
      return 1;
    }
    core::PopBaseFolder();
    auto frame = [&](int i) {
      device->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
      fx::SetEffectTime(1.0f + 0.02f * static_cast<float>(i));
      script->RenderDeck();
      device->ReadSurfacePixels(device->GetRenderTarget().get(), &pixels);
    };
    for (int i = 0; i < 10; ++i) frame(i);  // warm-up: programs compiled, targets touched
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) frame(i);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / frames;
    if (!mode.commands) anchor = ms;
    std::printf("| %s | %.2f | %.2f | %.2f | %.1f |\n", mode.name, ms, ms / anchor, ms - anchor,
                (ms - anchor) / kQuadMs);
    core::PushBaseFolder("fx");
    script.reset();
    core::PopBaseFolder();
  }
  render::PopAllRenderTargets();
  fx::ShutdownImageManager();
  render::ReleaseDirect3D();
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  return 0;
}

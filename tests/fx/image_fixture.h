// Shared set-up for the IMAGE effect tests: pictures written as TGA files
// at test time, effect folders holding them, and the Server's way of
// drawing -- a headless display device with the render layer and the image
// manager on it, a 640 x 480 back buffer read back after drawing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/image_effect.h"
#include "fx/timing.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"
#include "tests/fx/effect_fixture.h"
#include "tests/support/support.h"

namespace fx_test {

// A picture: A8R8G8B8 words, row by row from the top.
struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

inline Picture Solid(uint32_t width, uint32_t height, uint32_t argb) {
  return Picture{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, argb)};
}

// An uncompressed true-colour TGA with its top row first: 32 bits when
// `alpha`, else 24.
inline void WriteTga(const std::string& path, const Picture& picture, bool alpha) {
  std::string bytes(18, '\0');
  bytes[2] = 2;
  bytes[12] = static_cast<char>(picture.width & 0xff);
  bytes[13] = static_cast<char>(picture.width >> 8);
  bytes[14] = static_cast<char>(picture.height & 0xff);
  bytes[15] = static_cast<char>(picture.height >> 8);
  bytes[16] = static_cast<char>(alpha ? 32 : 24);
  bytes[17] = static_cast<char>(0x20 | (alpha ? 8 : 0));
  for (uint32_t argb : picture.pixels) {
    bytes.push_back(static_cast<char>(argb & 0xff));
    bytes.push_back(static_cast<char>((argb >> 8) & 0xff));
    bytes.push_back(static_cast<char>((argb >> 16) & 0xff));
    if (alpha) bytes.push_back(static_cast<char>(argb >> 24));
  }
  testing_support::WriteFile(path, bytes);
}

// Colour channels only (the back buffer has no alpha).
inline uint32_t Rgb(uint32_t argb) { return argb & 0xFFFFFFu; }

inline bool RgbNear(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    int x = static_cast<int>((a >> shift) & 0xff), y = static_cast<int>((b >> shift) & 0xff);
    if (x - y > tolerance || y - x > tolerance) return false;
  }
  return true;
}

MATCHER_P2(RgbIs, expected, tolerance, "") {
  if (RgbNear(arg, expected, tolerance)) return true;
  *result_listener << std::hex << "0x" << Rgb(arg) << " vs expected 0x" << Rgb(expected);
  return false;
}

class ImageTest : public EffectTest {
 protected:
  static constexpr uint32_t kWidth = 640, kHeight = 480;

  static void SetUpTestSuite() {
    ready_ = render::InitDirect3D(0, render::DisplayBackend::kHeadless) == 0 &&
             render::SelectDisplayMode(nullptr, kWidth, kHeight, 32, false, false, nullptr, "", false, false, true,
                                       false, false) == 0 &&
             render::InitRenderLayer() == 0;
  }
  static void TearDownTestSuite() {
    fx::ShutdownImageManager();
    render::ReleaseDirect3D();
  }

  void SetUp() override {
    EffectTest::SetUp();
    ASSERT_TRUE(ready_);
    ASSERT_EQ(core::StartFileLayer(dir.path()), 0);
    ASSERT_EQ(fx::StartImageManager(), 0);
    render::ApplyDefaultStates();
    render::PopAllRenderTargets();
  }
  void TearDown() override {
    fx::StopSound();
    fx::ShutdownImageManager();
    core::StartFileLayer("");
    EffectTest::TearDown();
  }

  static render::Device* Device() { return render::LayerDevice(); }

  // Writes picture `name` (e.g. "RED.tga") into the effect folder `effect`
  // (relative to the test folder) under data/images/.
  void AddPicture(const std::string& effect, const std::string& name, const Picture& picture, bool alpha = false) {
    testing_support::MakeDirs(dir / (effect + "/data/images"));
    WriteTga(dir / (effect + "/data/images/" + name), picture, alpha);
  }

  // The current target cleared to `rgb`.
  void Clear(uint32_t rgb) {
    ASSERT_EQ(Device()->Clear(0, nullptr, render::CLEAR_TARGET, 0xFF000000u | rgb, 1.0f, 0),
              0);
  }

  std::vector<uint32_t> Read() {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(Device()->ReadSurfacePixels(Device()->GetRenderTarget().get(), &pixels), 0);
    return pixels;
  }
  static uint32_t Pixel(const std::vector<uint32_t>& pixels, uint32_t x, uint32_t y, uint32_t width = kWidth) {
    return pixels.at(static_cast<size_t>(y) * width + x);
  }

  // An instance loaded inside effect folder `effect`.
  std::unique_ptr<fx::ImageEffect> LoadIn(const std::string& effect, const std::string& arguments,
                                          const char* name = "IMG") {
    core::PushBaseFolder(effect);
    auto image = std::make_unique<fx::ImageEffect>();
    int result = image->Load(name, arguments.c_str());
    core::PopBaseFolder();
    if (result != 0) return nullptr;
    return image;
  }

  // Draws `image` at `time` over a background of `rgb` and reads back.
  std::vector<uint32_t> DrawAt(fx::ImageEffect& image, float time, uint32_t rgb = 0) {
    Clear(rgb);
    EXPECT_EQ(image.Render(time), 1);
    return Read();
  }

  int CountMessagesWith(const std::string& part) const {
    int n = 0;
    for (const std::string& m : messages) n += m.find(part) != std::string::npos;
    return n;
  }

  static bool ready_;
};

inline bool ImageTest::ready_ = false;

}  // namespace fx_test

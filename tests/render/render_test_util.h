// Helpers for the render tests: a shared headless device, screen-space
// quads and read-back.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "render/device.h"
#include "render/layer.h"
#include "render/values.h"

namespace render_test {

struct ScreenVertex {  // FVF_XYZRHW | FVF_DIFFUSE | FVF_TEX1, 28 bytes
  float x, y, z, rhw;
  uint32_t color;
  float u, v;
};
static_assert(sizeof(ScreenVertex) == 28);

struct RenderVertex {  // FVF_XYZ | FVF_NORMAL | FVF_DIFFUSE | FVF_TEX1, 36 bytes
  float x, y, z;
  float nx, ny, nz;
  uint32_t color;
  float u, v;
};
static_assert(sizeof(RenderVertex) == 36);

// A quad from (x0, y0) to (x1, y1) in screen pixels, drawn the way the
// mixers do: indexed list 0, 2, 1 and 0, 3, 2.
inline int DrawQuad(render::Device* device, float x0, float y0, float x1, float y1, uint32_t color, float z = 0.0f,
                    float u0 = 0.0f, float v0 = 0.0f, float u1 = 1.0f, float v1 = 1.0f) {
  ScreenVertex v[4] = {{x0, y0, z, 1.0f, color, u0, v0},
                       {x1, y0, z, 1.0f, color, u1, v0},
                       {x1, y1, z, 1.0f, color, u1, v1},
                       {x0, y1, z, 1.0f, color, u0, v1}};
  static const uint16_t kIndices[6] = {0, 2, 1, 0, 3, 2};
  device->SetFVF(render::kFvfScreenVertex);
  return device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, 4, 2, kIndices, render::FMT_INDEX16, v,
                                        sizeof(ScreenVertex));
}

// A quad covering exactly pixels [px0, px1) x [py0, py1) (Direct3D centres).
inline int FillPixels(render::Device* device, int px0, int py0, int px1, int py1, uint32_t color, float z = 0.0f) {
  return DrawQuad(device, px0 - 0.5f, py0 - 0.5f, px1 - 0.5f, py1 - 0.5f, color, z);
}

inline std::vector<uint32_t> ReadTarget(render::Device* device) {
  std::vector<uint32_t> pixels;
  EXPECT_EQ(device->ReadSurfacePixels(device->GetRenderTarget().get(), &pixels), 0);
  return pixels;
}

// Channels differ by at most `tolerance`.
inline bool Near(uint32_t a, uint32_t b, int tolerance = 1) {
  for (int shift = 0; shift < 32; shift += 8) {
    int x = static_cast<int>((a >> shift) & 0xff), y = static_cast<int>((b >> shift) & 0xff);
    if (x - y > tolerance || y - x > tolerance) return false;
  }
  return true;
}

MATCHER_P2(ArgbNear, expected, tolerance, "") {
  if (Near(arg, expected, tolerance)) return true;
  *result_listener << std::hex << "0x" << arg << " vs expected 0x" << expected;
  return false;
}

// One headless device for a whole test suite (device creation costs a
// context and shader compiles); each test starts from a reset device
// drawing into a fresh target.
class DeviceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { device_ = render::CreateHeadlessDevice(64, 64, render::FMT_X8R8G8B8).release(); }
  static void TearDownTestSuite() {
    delete device_;
    device_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), 0);
  }
  // A fresh render texture of the size and format, with a D24S8 depth
  // buffer, made the current target.
  void UseTarget(uint32_t width, uint32_t height, render::Format format = render::FMT_A8R8G8B8) {
    target_ = device_->CreateTexture(width, height, 1, render::USAGE_RENDERTARGET, format, render::POOL_DEFAULT);
    ASSERT_NE(target_, nullptr);
    depth_ = device_->CreateDepthStencilSurface(width, height, render::FMT_D24S8);
    ASSERT_NE(depth_, nullptr);
    ASSERT_EQ(device_->SetRenderTarget(target_->GetSurfaceLevel(0), depth_), 0);
  }
  // Stage 0 passes the diffuse colour and alpha through.
  void DiffuseOnly() {
    device_->SetTextureStageState(0, render::TSS_COLOROP, render::TOP_SELECTARG1);
    device_->SetTextureStageState(0, render::TSS_COLORARG1, render::TA_DIFFUSE);
    device_->SetTextureStageState(0, render::TSS_ALPHAOP, render::TOP_SELECTARG1);
    device_->SetTextureStageState(0, render::TSS_ALPHAARG1, render::TA_DIFFUSE);
    device_->SetRenderState(render::RS_CULLMODE, render::CULL_NONE);
    device_->SetRenderState(render::RS_ZENABLE, render::ZB_FALSE);
  }

  static render::Device* device_;
  std::shared_ptr<render::Texture> target_;
  std::shared_ptr<render::Surface> depth_;
};

inline render::Device* DeviceTest::device_ = nullptr;

}  // namespace render_test

// Pixel tests of the device: draw, read back, compare with values worked
// out by hand from Direct3D's rules.
#include <gtest/gtest.h>

#include "tests/render/render_test_util.h"

namespace {

using namespace render;
using render_test::ArgbNear;
using render_test::DeviceTest;
using render_test::FillPixels;
using render_test::ReadTarget;

TEST_F(DeviceTest, ClearFillsTheTargetWithTheColour) {
  UseTarget(8, 8);
  ASSERT_EQ(device_->Clear(0, nullptr, CLEAR_TARGET, ColorArgb(0x80, 0x10, 0x20, 0x30), 1.0f, 0), 0);
  auto pixels = ReadTarget(device_);
  ASSERT_EQ(pixels.size(), 64u);
  for (uint32_t p : pixels) EXPECT_EQ(p, ColorArgb(0x80, 0x10, 0x20, 0x30));
}

TEST_F(DeviceTest, DiffuseQuadCoversExactlyItsPixels) {
  UseTarget(8, 8);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  DiffuseOnly();
  ASSERT_EQ(FillPixels(device_, 2, 3, 5, 7, 0xffff8000), 0);
  auto pixels = ReadTarget(device_);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool inside = x >= 2 && x < 5 && y >= 3 && y < 7;
      EXPECT_EQ(pixels[y * 8 + x], inside ? 0xffff8000u : 0xff000000u) << x << "," << y;
    }
}

}  // namespace

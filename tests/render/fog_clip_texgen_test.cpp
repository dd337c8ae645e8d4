// Fog, user clip planes, generated and transformed texture coordinates,
// and depth invariance between programs, read back from the device and
// compared with values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tests/render/lighting_util.h"

namespace {

using namespace render;
using render_test::Device3dTest;
using render_test::DrawLit;
using render_test::FillPixels;
using render_test::LitVertex;
using render_test::ReadTarget;
using render_test::Rgb;
using render_test::RgbNear;
using render_test::Square;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// ---------------------------------------------------------------------------
// Fog
// ---------------------------------------------------------------------------

// White geometry fogged towards black: the pixel's grey is f.
class FogTest : public Device3dTest {
 protected:
  void SetUp() override {
    Device3dTest::SetUp();
    device_->SetRenderState(RS_FOGENABLE, 1);
    device_->SetRenderState(RS_FOGCOLOR, 0);
  }
  void Linear(float start, float end) {
    device_->SetRenderState(RS_FOGSTART, FloatBits(start));
    device_->SetRenderState(RS_FOGEND, FloatBits(end));
  }
};

TEST_F(FogTest, LinearTableFogOnScreenParallelQuads) {
  device_->SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
  Linear(0.2f, 0.8f);
  // Depth = z / 10.
  const struct {
    float z;
    double f;
  } cases[] = {{2.0f, 1.0}, {5.0f, 0.5}, {8.0f, 0.0}, {9.0f, 0.0}, {1.0f, 1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.z);
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xffff0000, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, Square(1, c.z, 0, 0, -1)), kOk);
    EXPECT_TRUE(RgbNear(Centre(), Rgb(c.f, c.f, c.f), 1)) << std::hex << Centre();
  }
}

TEST_F(FogTest, ExpExp2EqualEndsAndNaN) {
  struct Case {
    const char* what;
    FogMode mode;
    float start, end, density, z;
    double f;
  };
  const Case cases[] = {
      {"EXP", FOG_EXP, 0, 1, 1.5f, 5.0f, std::exp(-0.75)},
      {"EXP2", FOG_EXP2, 0, 1, 1.5f, 5.0f, std::exp(-0.5625)},
      {"start = end, before end", FOG_LINEAR, 0.5f, 0.5f, 0, 4.0f, 1.0},
      {"start = end, beyond end", FOG_LINEAR, 0.5f, 0.5f, 0, 6.0f, 0.0},
      {"NaN end draws without fog", FOG_LINEAR, 0.0f, kNaN, 0, 6.0f, 1.0},
      {"NaN density draws without fog", FOG_EXP, 0.0f, 1.0f, kNaN, 6.0f, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device_->SetRenderState(RS_FOGTABLEMODE, c.mode);
    Linear(c.start, c.end);
    device_->SetRenderState(RS_FOGDENSITY, FloatBits(c.density));
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xffff0000, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, Square(1, c.z, 0, 0, -1)), kOk);
    EXPECT_TRUE(RgbNear(Centre(), Rgb(c.f, c.f, c.f), 1)) << std::hex << Centre();
  }
}

TEST_F(FogTest, SlantedFloorIsFoggedByItsScreenDepth) {
  // Perspective: depth z/w is affine across the screen, camera z and w
  // are not, so only z-based table fog matches the plane below.
  const Matrix projection = render_test::Perspective(1.2f, 1.0f, 20.0f);
  device_->SetTransform(TS_PROJECTION, projection);
  device_->SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
  Linear(0.6f, 0.9f);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xffff0000, 1.0f, 0);
  const float corners[4][3] = {{-3, -1, 2}, {3, -1, 2}, {3, -1, 10}, {-3, -1, 10}};
  std::vector<LitVertex> floor;
  for (int i : {0, 1, 2, 0, 2, 3})
    floor.push_back({corners[i][0], corners[i][1], corners[i][2], 0, 1, 0, 0xffffffff, 0xffffffff, 0, 0});
  ASSERT_EQ(DrawLit(device_, floor), kOk);
  // The depth plane z(X, Y) through three projected corners.
  double sx[3], sy[3], sz[3];
  for (int i = 0; i < 3; ++i) {
    double c[4];
    render_test::TransformPoint(corners[i], projection, c);
    sx[i] = (c[0] / c[3] + 1) * 32;
    sy[i] = (1 - c[1] / c[3]) * 32;
    sz[i] = c[2] / c[3];
  }
  double ax = sx[1] - sx[0], ay = sy[1] - sy[0], az = sz[1] - sz[0];
  double bx = sx[2] - sx[0], by = sy[2] - sy[0], bz = sz[2] - sz[0];
  double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
  auto pixels = ReadTarget(device_);
  int covered = 0, wrong = 0, ramp = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      uint32_t p = pixels[y * 64 + x];
      if ((p & 0xffffff) == 0xff0000) continue;
      ++covered;
      double z = sz[0] - (nx * (x - sx[0]) + ny * (y - sy[0])) / nz;
      double f = std::clamp((0.9 - z) / 0.3, 0.0, 1.0);
      if (f > 0.05 && f < 0.95) ++ramp;
      if (!RgbNear(p, Rgb(f, f, f), 2)) ++wrong;
    }
  EXPECT_GT(covered, 500);
  EXPECT_GT(ramp, 100);  // the ramp really crosses the floor
  EXPECT_EQ(wrong, 0);
}

TEST_F(FogTest, PretransformedQuadIsFoggedByItsOwnZ) {
  device_->SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
  Linear(0.2f, 0.8f);
  ASSERT_EQ(FillPixels(device_, 16, 16, 48, 48, 0xffffffff, 0.5f), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.5, 0.5, 0.5), 1)) << std::hex << Centre();
}

TEST_F(FogTest, VertexFogOnCameraDepthOrDistance) {
  device_->SetRenderState(RS_FOGTABLEMODE, FOG_NONE);
  device_->SetRenderState(RS_FOGVERTEXMODE, FOG_LINEAR);
  Linear(2.0f, 8.0f);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.5, 0.5, 0.5), 1)) << std::hex << Centre();
  // Range fog: every corner is sqrt(27) away.
  device_->SetRenderState(RS_RANGEFOGENABLE, 1);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  double f = (8 - std::sqrt(27.0)) / 6;
  EXPECT_TRUE(RgbNear(Centre(), Rgb(f, f, f), 1)) << std::hex << Centre();
  // Pretransformed vertices get no vertex fog.
  ASSERT_EQ(FillPixels(device_, 16, 16, 48, 48, 0xffffffff, 0.9f), kOk);
  EXPECT_TRUE(RgbNear(Centre(), 0xffffff, 0)) << std::hex << Centre();
}

// ---------------------------------------------------------------------------
// User clip planes
// ---------------------------------------------------------------------------

using ClipTest = Device3dTest;

// World position of a pixel centre under the orthographic camera, for a
// view that only translates by (tx, ty).
double WorldX(int px, double tx = 0) { return (px - 32) / 16.0 - tx; }
double WorldY(int py, double ty = 0) { return (32 - py) / 16.0 - ty; }

TEST_F(ClipTest, APlaneThroughXZeroStaysThereWhenTheCameraMoves) {
  const float plane[4] = {1, 0, 0, 0};
  ASSERT_EQ(device_->SetClipPlane(0, plane), kOk);
  device_->SetRenderState(RS_CLIPPLANEENABLE, 1);
  for (float tx : {0.0f, 0.5f, -0.75f}) {
    SCOPED_TRACE(tx);
    device_->SetTransform(TS_VIEW, render_test::Translation(tx, 0, 0));
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, Square(1.9f, 5, 0, 0, -1)), kOk);
    auto pixels = ReadTarget(device_);
    int wrong = 0, drawn = 0;
    for (int x = 4; x < 60; ++x) {
      double wx = WorldX(x, tx);
      if (std::fabs(wx) < 0.05 || std::fabs(wx) > 1.85) continue;
      bool on = (pixels[32 * 64 + x] & 0xffffff) != 0;
      drawn += on;
      if (on != (wx > 0)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(drawn, 10);
  }
}

TEST_F(ClipTest, FivePlanesAtOnceAndPretransformedQuadsUnclipped) {
  const float planes[5][4] = {{1, 0, 0, 1}, {-1, 0, 0, 1}, {0, 1, 0, 1}, {0, -1, 0, 1}, {-1, -1, 0, 0.5f}};
  for (uint32_t i = 0; i < 5; ++i) ASSERT_EQ(device_->SetClipPlane(i, planes[i]), kOk);
  device_->SetRenderState(RS_CLIPPLANEENABLE, 31);
  ASSERT_EQ(DrawLit(device_, Square(2, 5, 0, 0, -1)), kOk);
  auto pixels = ReadTarget(device_);
  int wrong = 0, inside = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      double wx = WorldX(x), wy = WorldY(y), least = 1e9;
      for (const auto& p : planes) least = std::min(least, p[0] * wx + p[1] * wy + p[3]);
      if (std::fabs(least) < 0.05) continue;  // on an edge
      bool on = (pixels[y * 64 + x] & 0xffffff) != 0;
      inside += least > 0;
      if (on != (least > 0)) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(inside, 400);
  // A plane that keeps nothing leaves screen vertices alone.
  const float nothing[4] = {0, 0, 0, -1};
  device_->SetClipPlane(0, nothing);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  ASSERT_EQ(FillPixels(device_, 8, 8, 56, 56, 0xff00ff00), kOk);
  EXPECT_TRUE(RgbNear(ReadTarget(device_)[10 * 64 + 10], 0x00ff00, 0));
  // CLIPPING off switches user planes off too.
  device_->SetRenderState(RS_CLIPPING, 0);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1, 0xff0000ff)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), 0x0000ff, 0));
}

// ---------------------------------------------------------------------------
// Texture coordinates
// ---------------------------------------------------------------------------

class TexCoordTest : public Device3dTest {
 protected:
  void SetUp() override {
    Device3dTest::SetUp();
    std::vector<uint32_t> texels(16);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) texels[j * 4 + i] = Texel(i, j);
    grid_ = device_->CreateTexture(4, 4, 1, 0, FMT_X8R8G8B8, POOL_MANAGED);
    ASSERT_NE(grid_, nullptr);
    LockedRect locked;
    ASSERT_EQ(grid_->LockRect(0, &locked, nullptr, 0), kOk);
    for (int y = 0; y < 4; ++y) std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch, &texels[y * 4], 16);
    grid_->UnlockRect(0);
    device_->SetTexture(0, grid_);
    device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
    device_->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
    device_->SetTextureStageState(0, TSS_MINFILTER, TEXF_POINT);
    device_->SetTextureStageState(0, TSS_MAGFILTER, TEXF_POINT);
  }
  static uint32_t Texel(int i, int j) { return ColorArgb(255, 40 + 60 * i, 40 + 60 * j, 128); }
  // A small square centred at (cx, cy), z = 5, with one normal and uv.
  static std::vector<LitVertex> Patch(float cx, float cy, float nx, float ny, float nz, float u = 0, float v = 0) {
    auto square = Square(0.15f, 5, nx, ny, nz, 0xffffffff, 0xffffffff, u, v);
    for (LitVertex& vertex : square) {
      vertex.x += cx;
      vertex.y += cy;
    }
    return square;
  }
  // The pixel at world (x, y) under the orthographic camera.
  uint32_t At(float x, float y) {
    return ReadTarget(device_)[static_cast<int>(std::lround(32 - y * 16)) * 64 + static_cast<int>(std::lround(32 + x * 16))];
  }
  std::shared_ptr<Texture> grid_;
};

TEST_F(TexCoordTest, SphereMapOfKnownNormals) {
  Matrix sphere{};
  sphere.m[0][0] = 0.5f;
  sphere.m[1][1] = -0.5f;
  sphere.m[2][2] = 1.0f;
  sphere.m[3][0] = sphere.m[3][1] = 0.5f;
  sphere.m[3][3] = 1.0f;
  device_->SetTransform(TS_TEXTURE0, sphere);
  device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT2);
  device_->SetTextureStageState(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACENORMAL);
  // u = 0.5 + 0.5 nx, v = 0.5 - 0.5 ny at texel centres.
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      ASSERT_EQ(DrawLit(device_, Patch(-1.5f + i, 1.5f - j, (2 * i - 3) / 4.0f, (3 - 2 * j) / 4.0f, -0.5f)), kOk);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      EXPECT_TRUE(RgbNear(At(-1.5f + i, 1.5f - j), Texel(i, j), 0)) << i << "," << j << std::hex << " "
                                                                     << At(-1.5f + i, 1.5f - j);
}

TEST_F(TexCoordTest, TwoFloatTranslationInRowTwoAndProjected) {
  // (u, v, 1, 0) M: row 2 adds (0.25, 0.5).
  Matrix shift = Matrix::Identity();
  shift.m[2][0] = 0.25f;
  shift.m[2][1] = 0.5f;
  device_->SetTransform(TS_TEXTURE0, shift);
  device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT2);
  ASSERT_EQ(DrawLit(device_, Patch(0, 0, 0, 0, -1, 0.125f, 0.125f)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Texel(1, 2), 0)) << std::hex << Centre();
  // Third element 2, divided by it per pixel: (0.625, 0.875) / 2.
  Matrix half = Matrix::Identity();
  half.m[2][2] = 2.0f;
  device_->SetTransform(TS_TEXTURE0, half);
  device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT3 | TTFF_PROJECTED);
  ASSERT_EQ(DrawLit(device_, Patch(0, 0, 0, 0, -1, 0.625f, 0.875f)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Texel(1, 1), 0)) << std::hex << Centre();
  device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT3);
  ASSERT_EQ(DrawLit(device_, Patch(0, 0, 0, 0, -1, 0.625f, 0.875f)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Texel(2, 3), 0)) << std::hex << Centre();
  // Camera-space position as coordinates: (x, y) of the patch, shifted.
  device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE);
  device_->SetTextureStageState(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACEPOSITION);
  ASSERT_EQ(DrawLit(device_, Patch(0.375f, 0.625f, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(At(0.375f, 0.625f), Texel(1, 2), 0)) << std::hex << At(0.375f, 0.625f);
}

TEST_F(TexCoordTest, ReflectionVectorsIntoACubeThroughTheCameraOrientation) {
  static const uint32_t kFaces[6] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0xff00ff, 0x00ffff};
  auto cube = device_->CreateCubeTexture(2, 1, 0, FMT_X8R8G8B8, POOL_MANAGED);
  ASSERT_NE(cube, nullptr);
  for (uint32_t face = 0; face < 6; ++face) {
    LockedRect locked;
    ASSERT_EQ(cube->LockRect(static_cast<CubeFace>(face), 0, &locked, nullptr, 0), kOk);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        static_cast<uint32_t*>(static_cast<void*>(static_cast<uint8_t*>(locked.bits) + y * locked.pitch))[x] =
            0xff000000 | kFaces[face];
    cube->UnlockRect(static_cast<CubeFace>(face), 0);
  }
  device_->SetTexture(0, cube);
  const Matrix view = Multiply(render_test::RotationY(0.7f), render_test::RotationX(0.3f));
  const Matrix orientation = render_test::Transpose(view);  // camera to world
  device_->SetTransform(TS_VIEW, view);
  device_->SetTransform(TS_TEXTURE0, orientation);
  device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT3);
  device_->SetTextureStageState(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACEREFLECTIONVECTOR);
  struct Case {
    float world[3];
    int face;
  };
  const Case cases[] = {{{1, 0, 0}, 0}, {{0, -1, 0}, 3}, {{0, 0, -1}, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.face);
    // Non-local viewer: I = (0, 0, 1); the normal halfway between I and
    // the wanted camera-space reflection t gives R = t.
    double t[3];
    for (int j = 0; j < 3; ++j)
      t[j] = c.world[0] * view.m[0][j] + c.world[1] * view.m[1][j] + c.world[2] * view.m[2][j];
    double n[3] = {-t[0], -t[1], 1 - t[2]};
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    // Vertices and normal from camera space back to world (view^T).
    std::vector<LitVertex> patch = Patch(0, 0, 0, 0, 0);
    for (LitVertex& v : patch) {
      float cam[3] = {v.x, v.y, v.z}, nc[3] = {float(n[0] / len), float(n[1] / len), float(n[2] / len)};
      float* pos[3] = {&v.x, &v.y, &v.z};
      float* nor[3] = {&v.nx, &v.ny, &v.nz};
      for (int j = 0; j < 3; ++j) {
        *pos[j] = cam[0] * view.m[j][0] + cam[1] * view.m[j][1] + cam[2] * view.m[j][2];
        *nor[j] = nc[0] * view.m[j][0] + nc[1] * view.m[j][1] + nc[2] * view.m[j][2];
      }
    }
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, patch), kOk);
    EXPECT_TRUE(RgbNear(Centre(), kFaces[c.face], 0)) << std::hex << Centre();
  }
}

// ---------------------------------------------------------------------------
// Invariance
// ---------------------------------------------------------------------------

TEST_F(Device3dTest, EveryProgramWritesTheSameDepth) {
  device_->SetTransform(TS_PROJECTION, render_test::Perspective(1.0f, 0.5f, 30.0f));
  device_->SetRenderState(RS_ZENABLE, ZB_TRUE);
  // Slanted triangles in front of the camera, crossing each other.
  uint32_t seed = 12345;
  auto next = [&]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / 16777216.0f;
  };
  std::vector<LitVertex> triangles;
  for (int i = 0; i < 60; ++i) {
    float cx = next() * 6 - 3, cy = next() * 6 - 3, cz = 4 + next() * 8;
    for (int k = 0; k < 3; ++k)
      triangles.push_back({cx + next() * 3 - 1.5f, cy + next() * 3 - 1.5f, cz + next() * 4 - 2, next() - 0.5f,
                           next() - 0.5f, -1.0f, 0xffff0000, 0xffffffff, next(), next()});
  }
  const Matrix worlds[] = {Matrix::Identity(), Multiply(render_test::RotationY(0.3f), render_test::Translation(0.3f, 0, 1))};
  // Pass 1: unlit red with depth writes.
  device_->SetRenderState(RS_ZFUNC, CMP_LESSEQUAL);
  for (const Matrix& world : worlds) {
    device_->SetTransform(TS_WORLD, world);
    ASSERT_EQ(DrawLit(device_, triangles), kOk);
  }
  // Pass 2: lit, fogged, clipped and sphere-mapped, all green, EQUAL.
  auto green = device_->CreateTexture(1, 1, 1, 0, FMT_X8R8G8B8, POOL_MANAGED);
  LockedRect locked;
  ASSERT_EQ(green->LockRect(0, &locked, nullptr, 0), kOk);
  *static_cast<uint32_t*>(locked.bits) = 0xff00ff00;
  green->UnlockRect(0);
  device_->SetTexture(0, green);
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_MODULATE);
  device_->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  device_->SetTextureStageState(0, TSS_COLORARG2, TA_DIFFUSE);
  device_->SetTextureStageState(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACENORMAL);
  device_->SetRenderState(RS_LIGHTING, 1);
  device_->SetMaterial(MakeMaterial({0, 0, 0, 1}, {0, 0, 0, 1}, {0, 1, 0, 1}, {0, 1, 0, 1}, 5));
  device_->SetLight(0, render_test::PointLight({1, 1, 1, 1}, {0, 0, 1}, 1, 0.2f, 0, 100));
  device_->LightEnable(0, true);
  device_->SetRenderState(RS_SPECULARENABLE, 1);
  device_->SetRenderState(RS_LOCALVIEWER, 1);
  device_->SetRenderState(RS_FOGENABLE, 1);
  device_->SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
  device_->SetRenderState(RS_FOGCOLOR, 0xff00ff00);
  const float keep_all[4] = {0, 0, 0, 1};
  device_->SetClipPlane(0, keep_all);
  device_->SetRenderState(RS_CLIPPLANEENABLE, 1);
  device_->SetRenderState(RS_ZFUNC, CMP_EQUAL);
  device_->SetRenderState(RS_ZWRITEENABLE, 0);
  for (const Matrix& world : worlds) {
    device_->SetTransform(TS_WORLD, world);
    ASSERT_EQ(DrawLit(device_, triangles), kOk);
  }
  int red = 0, covered = 0;
  for (uint32_t p : ReadTarget(device_)) {
    if ((p & 0xffffff) == 0) continue;
    ++covered;
    if (p & 0xff0000) ++red;
  }
  EXPECT_GT(covered, 1000);
  EXPECT_EQ(red, 0);
}

}  // namespace

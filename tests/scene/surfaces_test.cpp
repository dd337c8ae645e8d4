// Procedural surfaces: the spherical morph's schedule and shapes, the
// distort ball's poles and spline.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/procedural_internal.h"

namespace {

using scene::internal::kSphericalSide;

TEST(Spherical, ScheduleHoldsThenMorphs) {
  struct Case {
    double now;
    int shape;
    float blend;
  };
  for (const Case& c : {Case{0.5, 0, 0.0f}, Case{1.5, 0, 0.70710678f}, Case{13.5, 6, 0.70710678f},
                        Case{14.5, 0, 0.0f}, Case{-0.5, 6, 0.70710678f}}) {
    const scene::internal::SphericalBlend b = scene::internal::SphericalBlendAt(c.now);
    EXPECT_EQ(b.shape, c.shape) << c.now;
    EXPECT_NEAR(b.blend, c.blend, 1e-6) << c.now;
  }
}

TEST(Spherical, EveryShapeReachesThirtyWithFiniteNormals) {
  // At now = 2k + 0.5 shape k is shown alone.
  for (int k = 0; k < 7; ++k) {
    const std::vector<render::RenderVertex>& v = scene::internal::SphericalVertices(2.0 * k + 0.5);
    ASSERT_EQ(v.size(), static_cast<size_t>(kSphericalSide * kSphericalSide));
    float farthest = 0.0f;
    for (const render::RenderVertex& p : v) {
      farthest = std::fmax(farthest, std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
      ASSERT_TRUE(std::isfinite(p.nx) && std::isfinite(p.ny) && std::isfinite(p.nz)) << k;
      ASSERT_NEAR(p.nx * p.nx + p.ny * p.ny + p.nz * p.nz, 1.0f, 1e-4) << k;
    }
    EXPECT_NEAR(farthest, 30.0f, 1e-3) << k;
  }
  // Halfway between two shapes the points lie between them.
  const std::vector<render::RenderVertex> a = scene::internal::SphericalVertices(0.5);
  const std::vector<render::RenderVertex> b = scene::internal::SphericalVertices(2.5);
  const std::vector<render::RenderVertex>& m = scene::internal::SphericalVertices(1.5);
  const float c = std::sqrt(0.5f);
  for (size_t i = 0; i < m.size(); i += 97) EXPECT_NEAR(m[i].x, a[i].x + c * (b[i].x - a[i].x), 1e-3) << i;
}

TEST(DistortBall, PolesAtTimeZero) {
  std::vector<render::RenderVertex> v;
  scene::internal::BuildDistortBall(0.0, &v);
  ASSERT_EQ(v.size(), 1600u);
  for (int row : {0, 39}) {
    const render::RenderVertex& p = v[row * 40 + 7];
    EXPECT_NEAR(p.x, 0.0f, 1e-3) << row;
    EXPECT_NEAR(p.y, row == 0 ? -7.875f : 7.875f, 1e-3) << row;
    EXPECT_NEAR(p.z, 0.0f, 1e-3) << row;
  }
}

TEST(DistortBall, EqualControlsGiveTheirValueEverywhere) {
  const float c[6] = {0.7f, 0.7f, 0.7f, 0.7f, 0.7f, 0.7f};
  for (float s : {0.0f, 0.2f, 1.0f / 3.0f, 0.5f, 0.99f, 1.0f}) EXPECT_NEAR(scene::internal::BSpline6(c, s), 0.7f, 1e-6) << s;
  // s = 1 reads c2..c5 only: a sixth control that differs changes the end.
  const float r[6] = {0, 0, 0, 0, 0, 6};
  EXPECT_NEAR(scene::internal::BSpline6(r, 1.0f), 1.0f, 1e-6);
}

}  // namespace

// Spike tubes and bola syncs: the radius function, ring placement around
// the camera, the bounds, and the bola's one-entry-per-frame history.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/procedural_internal.h"

namespace {

using namespace scene::internal;

TEST(SpikeTube, RadiusFunction) {
  EXPECT_NEAR(SpikeRadius(0, 0), 6.0f, 1e-4);
  EXPECT_NEAR(SpikeRadius(8, 0), 10.377f, 1e-3);
  EXPECT_NEAR(SpikeRadius(0, 1), 7.1637f, 1e-3);
}

TEST(SpikeTube, RingsFollowTheCameraWithinBounds) {
  const auto everything = [](double) { return true; };
  std::vector<double> a, b;
  SpikeRingPositions(37.0, everything, &a);
  SpikeRingPositions(37.0 + 16.0, everything, &b);
  ASSERT_EQ(a.size(), 31u);
  ASSERT_EQ(b.size(), a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(std::fmod(a[i], 8.0), 0.0) << a[i];
    EXPECT_EQ(b[i], a[i] + 16.0) << i;
  }
  // Only the visible stretch gets rings.
  std::vector<double> part;
  SpikeRingPositions(0.0, [](double x) { return x >= 0.0 && x <= 64.0; }, &part);
  ASSERT_FALSE(part.empty());
  EXPECT_GE(part.front(), 0.0);
  EXPECT_LE(part.back(), 64.0);
  std::vector<double> none;
  SpikeRingPositions(std::nan(""), everything, &none);
  EXPECT_TRUE(none.empty());

  std::vector<render::RenderVertex> vertices;
  std::vector<uint16_t> indices;
  BuildSpikeTube(a, 0.7, &vertices, &indices);
  EXPECT_LE(vertices.size(), 736u);
  EXPECT_LE(indices.size() / 3, 1440u);
  for (const render::RenderVertex& v : vertices)
    ASSERT_NEAR(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz, 1.0f, 1e-4);
}

TEST(BolaSync, NewestRingFollowsTheBandsOncePerFrame) {
  BolaHistory history;
  float bands[scene::kSoundBands] = {};
  bands[0] = 0.4f;
  history.Push(1.0f, bands);
  std::vector<render::RenderVertex> v;
  BuildBolaSync(history, &v);
  ASSERT_EQ(v.size(), 76u * 77u);
  const auto radius = [&](int ring, int j) {
    const render::RenderVertex& p = v[ring * 77 + j];
    return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
  };
  EXPECT_NEAR(radius(0, 0), 15.0f * (0.4f * 1.5f + 0.8f), 1e-3);
  EXPECT_NEAR(radius(1, 0), 15.0f * 0.8f, 1e-3);
  // A second draw in the same frame pushes nothing; the next frame moves it on.
  bands[0] = 0.0f;
  history.Push(1.0f, bands);
  BuildBolaSync(history, &v);
  EXPECT_NEAR(radius(0, 0), 15.0f * (0.4f * 1.5f + 0.8f), 1e-3);
  history.Push(1.02f, bands);
  BuildBolaSync(history, &v);
  EXPECT_NEAR(radius(1, 0), 15.0f * (0.4f * 1.5f + 0.8f), 1e-3);
  EXPECT_NEAR(radius(0, 0), 15.0f * 0.8f, 1e-3);
}

// Lit surfaces need their normals (and front faces) outside: each vertex's
// normal points away from the surface's centre, or axis for the tube.
TEST(Surfaces, NormalsPointOutward) {
  using Vertices = std::vector<render::RenderVertex>;
  struct Case {
    const char* name;
    Vertices vertices;
    bool about_x_axis;
  };
  Vertices distort;
  BuildDistortBall(0.0, &distort);
  BolaHistory history;
  const float bands[scene::kSoundBands] = {0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f,
                                           0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f};
  history.Push(1.0f, bands);
  Vertices bola;
  BuildBolaSync(history, &bola);
  std::vector<double> rings;
  SpikeRingPositions(0.0, [](double) { return true; }, &rings);
  Vertices tube;
  std::vector<uint16_t> indices;
  BuildSpikeTube(rings, 0.3, &tube, &indices);
  const Case cases[] = {{"distort ball", distort, false}, {"bola sync", bola, false}, {"spike tube", tube, true}};
  for (const Case& c : cases) {
    ASSERT_FALSE(c.vertices.empty()) << c.name;
    for (size_t i = 0; i < c.vertices.size(); ++i) {
      const render::RenderVertex& v = c.vertices[i];
      const float out = (c.about_x_axis ? 0.0f : v.x * v.nx) + v.y * v.ny + v.z * v.nz;
      ASSERT_GT(out, 0.0f) << c.name << " vertex " << i;
    }
  }
}

}  // namespace

namespace {

TEST(Trauma, GridAndFlatTubeWithoutImage) {
  using namespace scene::internal;
  TraumaHeights none;
  std::vector<TraumaVertex> v;
  BuildTrauma(none, 0.0, &v);
  ASSERT_EQ(v.size(), 3072u);
  EXPECT_EQ(TraumaIndexList().size() / 3, 5922u);
  for (const TraumaVertex& p : v) ASSERT_NEAR(std::sqrt(p.x * p.x + p.y * p.y), 32.0f, 1e-3);  // h = 0.5
  EXPECT_EQ(v[0].diffuse, 0xFFBFBFBFu);  // 255 · 1 · 0.75
  EXPECT_NEAR(v.back().z, 400.0f, 1e-3);
  // Any image size: a 3 × 1 image wraps bilinearly.
  TraumaHeights h;
  h.width = 3;
  h.height = 1;
  h.grey = {0.0f, 1.0f, 0.5f};
  EXPECT_NEAR(h.At(1.0 / 6.0, 0.0), 0.5f, 1e-6);
  EXPECT_NEAR(h.At(5.0 / 6.0, 0.0), 0.25f, 1e-6);  // between the last and the first
  EXPECT_NEAR(h.At(-1.0 / 3.0, 7.0), 0.5f, 1e-6);
}

}  // namespace

// The metaball field without a device: the tables, the field, surface
// following against a full-grid reference, bad balls and batching.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "scene/metaballs.h"

namespace scene {
namespace {

using Triangle = std::array<float, 9>;

// Rotated so the smallest vertex comes first: the same triangle with the
// same winding compares equal whatever vertex it started from.
Triangle Canonical(const render::RenderVertex& a, const render::RenderVertex& b, const render::RenderVertex& c) {
  std::array<std::array<float, 3>, 3> v = {{{a.x, a.y, a.z}, {b.x, b.y, b.z}, {c.x, c.y, c.z}}};
  int first = 0;
  for (int i = 1; i < 3; ++i) {
    if (v[i] < v[first]) first = i;
  }
  Triangle t;
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) t[i * 3 + k] = v[(first + i) % 3][k];
  }
  return t;
}

struct Mesh {
  std::vector<Triangle> triangles;
  std::vector<render::RenderVertex> vertices;  // three per triangle
  int batches = 0;
  uint32_t generated = 0;  // vertices made
};

void AppendBatch(Mesh* mesh, const render::RenderVertex* vertices, uint32_t vertex_count, const uint16_t* indices,
                 uint32_t index_count) {
  ++mesh->batches;
  mesh->generated += vertex_count;
  for (uint32_t i = 0; i + 2 < index_count; i += 3) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_LT(indices[i + j], vertex_count);
      mesh->vertices.push_back(vertices[indices[i + j]]);
    }
    mesh->triangles.push_back(Canonical(vertices[indices[i]], vertices[indices[i + 1]], vertices[indices[i + 2]]));
  }
}

// Surface following on the given balls.
Mesh Follow(const std::vector<Vec3>& balls) {
  ResetBalls();
  for (const Vec3& b : balls) AddBall(b);
  Mesh mesh;
  const int triangles = PolygoniseMetaballs(
      [&](const render::RenderVertex* v, uint32_t vc, const uint16_t* i, uint32_t ic) { AppendBatch(&mesh, v, vc, i, ic); });
  EXPECT_EQ(triangles, int(mesh.triangles.size()));
  return mesh;
}

// The straightforward way: the whole field, every cell.
Mesh Reference(const std::vector<Vec3>& balls) {
  constexpr int P = kMetaballGrid + 1;
  std::vector<float> value(P * P * P);
  std::vector<Vec3> normal(P * P * P);
  const int n = std::min<int>(int(balls.size()), kMaxMetaballs);
  for (int a = 0; a < P; ++a)
    for (int b = 0; b < P; ++b)
      for (int c = 0; c < P; ++c) MetaballFieldAt(balls.data(), n, a, b, c, &value[(a * P + b) * P + c], &normal[(a * P + b) * P + c]);
  Mesh mesh;
  render::RenderVertex vertices[12];
  uint16_t indices[15];
  for (int a = 0; a < kMetaballGrid; ++a)
    for (int b = 0; b < kMetaballGrid; ++b)
      for (int c = 0; c < kMetaballGrid; ++c) {
        float v[8];
        Vec3 nn[8];
        for (int i = 0; i < 8; ++i) {
          const int k = ((a + kCellCorner[i][0]) * P + b + kCellCorner[i][1]) * P + c + kCellCorner[i][2];
          v[i] = value[k];
          nn[i] = normal[k];
        }
        uint32_t added = 0;
        const int t = PolygoniseCell(a, b, c, v, nn, vertices, indices, 0, &added);
        if (t > 0) AppendBatch(&mesh, vertices, added, indices, uint32_t(t) * 3);
      }
  mesh.batches = 0;
  return mesh;
}

std::vector<Triangle> Sorted(std::vector<Triangle> t) {
  std::sort(t.begin(), t.end());
  return t;
}

std::vector<Vec3> Layout(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(8.0f, 56.0f);
  std::vector<Vec3> balls;
  for (int i = 0; i < count; ++i) balls.push_back(Vec3{d(rng), d(rng), d(rng)});
  return balls;
}

class MetaballsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitMetaballs(), 0); }
  void TearDown() override { FreeMetaballs(); }
};

TEST(MarchingCubesTables, EveryPatternCutsItsEdgesWithAtMostFiveTriangles) {
  const MarchingCubesTables& t = GetMarchingCubesTables();
  for (int pattern = 0; pattern < 256; ++pattern) {
    SCOPED_TRACE(pattern);
    uint16_t cut = 0;
    for (int k = 0; k < 12; ++k) {
      if ((pattern >> kCellEdge[k][0] & 1) != (pattern >> kCellEdge[k][1] & 1)) cut |= uint16_t(1u << k);
    }
    EXPECT_EQ(t.edge_mask[pattern], cut);
    uint16_t used = 0;
    int n = 0;
    while (n < 16 && t.triangles[pattern][n] >= 0) used |= uint16_t(1u << t.triangles[pattern][n++]);
    EXPECT_EQ(n % 3, 0);
    EXPECT_LE(n, 15);
    EXPECT_EQ(used, cut);
    for (int i = n; i < 16; ++i) EXPECT_EQ(t.triangles[pattern][i], -1);
  }
  EXPECT_EQ(t.triangles[0][0], -1);
  EXPECT_EQ(t.triangles[255][0], -1);
}

// Random fields, kept below the iso value on the border so the surface is
// closed inside: with vertices welded by grid edge, every mesh edge is
// used once in each direction.
TEST(MarchingCubesTables, RandomFieldsGiveClosedConsistentlyOrientedSurfaces) {
  constexpr int P = 8;
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(0.0f, 2.0f * kMetaballIso);
    std::vector<float> field(P * P * P, 0.0f);
    for (int a = 1; a < P - 1; ++a)
      for (int b = 1; b < P - 1; ++b)
        for (int c = 1; c < P - 1; ++c) field[(a * P + b) * P + c] = d(rng);
    std::map<std::pair<int, int>, int> directed;  // (from, to) grid-edge ids
    const MarchingCubesTables& t = GetMarchingCubesTables();
    for (int a = 0; a + 1 < P; ++a)
      for (int b = 0; b + 1 < P; ++b)
        for (int c = 0; c + 1 < P; ++c) {
          int pattern = 0;
          int corner_id[8];
          for (int i = 0; i < 8; ++i) {
            corner_id[i] = ((a + kCellCorner[i][0]) * P + b + kCellCorner[i][1]) * P + c + kCellCorner[i][2];
            if (field[corner_id[i]] < kMetaballIso) pattern |= 1 << i;
          }
          auto weld = [&](int edge) {
            const int p = corner_id[kCellEdge[edge][0]], q = corner_id[kCellEdge[edge][1]];
            return std::min(p, q) * P * P * P + std::max(p, q);
          };
          for (int i = 0; i < 15 && t.triangles[pattern][i] >= 0; i += 3) {
            const int v[3] = {weld(t.triangles[pattern][i]), weld(t.triangles[pattern][i + 1]),
                              weld(t.triangles[pattern][i + 2])};
            for (int j = 0; j < 3; ++j) ++directed[{v[j], v[(j + 1) % 3]}];
          }
        }
    ASSERT_FALSE(directed.empty());
    for (const auto& [edge, count] : directed) {
      EXPECT_EQ(count, 1);
      const auto back = directed.find({edge.second, edge.first});
      ASSERT_NE(back, directed.end());
      EXPECT_EQ(back->second, 1);
    }
  }
}

TEST_F(MetaballsTest, OneBallIsASphereFacingOutward) {
  const Vec3 centre{32.0f, 32.0f, 32.0f};
  const Mesh mesh = Follow({centre});
  ASSERT_GT(mesh.triangles.size(), 100u);
  const double radius = std::sqrt(1.0 / kMetaballIso - 1.0);
  double volume = 0.0;
  for (size_t i = 0; i < mesh.vertices.size(); i += 3) {
    const render::RenderVertex* v = &mesh.vertices[i];
    double p[3][3];
    for (int j = 0; j < 3; ++j) {
      p[j][0] = v[j].x - centre.x, p[j][1] = v[j].y - centre.y, p[j][2] = v[j].z - centre.z;
      const double r = std::sqrt(p[j][0] * p[j][0] + p[j][1] * p[j][1] + p[j][2] * p[j][2]);
      EXPECT_NEAR(r, radius, 0.1);
      EXPECT_GT((p[j][0] * v[j].nx + p[j][1] * v[j].ny + p[j][2] * v[j].nz) / r, 0.999);
    }
    const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    // (b − a) × (c − a) along the field normal, away from the ball.
    EXPECT_GT(n[0] * v[0].nx + n[1] * v[0].ny + n[2] * v[0].nz, 0.0);
    // Divergence theorem: the signed tetrahedra from the centre.
    volume += (p[0][0] * n[0] + p[0][1] * n[1] + p[0][2] * n[2]) / 6.0;
  }
  const double sphere = 4.0 / 3.0 * M_PI * std::pow(1.0 / kMetaballIso - 1.0, 1.5);
  EXPECT_NEAR(volume, sphere, 0.03 * sphere);
}

TEST_F(MetaballsTest, SurfaceFollowingFindsWhatTheWholeGridHolds) {
  for (int count : {1, 2, 8, 64}) {
    for (uint32_t seed : {7u, 31u}) {
      SCOPED_TRACE(testing::Message() << count << " balls, seed " << seed);
      const std::vector<Vec3> balls = Layout(count, seed);
      EXPECT_EQ(Sorted(Follow(balls).triangles), Sorted(Reference(balls).triangles));
    }
  }
}

// The surface crosses the grid's far face: corners at 64 keep keys of
// their own.
TEST_F(MetaballsTest, SurfaceAtTheFarFaceMatchesTheReference) {
  const std::vector<Vec3> balls = {{61.5f, 32.0f, 32.0f}};
  const Mesh mesh = Follow(balls);
  ASSERT_FALSE(mesh.triangles.empty());
  EXPECT_EQ(Sorted(mesh.triangles), Sorted(Reference(balls).triangles));
}

TEST_F(MetaballsTest, BadBallsSeedNothing) {
  const float nan = std::nanf("");
  const float inf = INFINITY;
  const Mesh alone = Follow({{10.0f, 10.0f, 10.0f}});
  ASSERT_FALSE(alone.triangles.empty());
  for (const Vec3& bad : {Vec3{70.0f, 10.0f, 10.0f}, Vec3{nan, 10.0f, 10.0f}, Vec3{10.0f, inf, 10.0f},
                          Vec3{10.0f, 10.0f, -1.0f}, Vec3{1e30f, 10.0f, 10.0f}}) {
    SCOPED_TRACE(testing::Message() << bad.x << " " << bad.y << " " << bad.z);
    EXPECT_TRUE(Follow({bad}).triangles.empty());
    EXPECT_EQ(Sorted(Follow({bad, {10.0f, 10.0f, 10.0f}}).triangles), Sorted(alone.triangles));
  }
}

TEST_F(MetaballsTest, A65thBallIsIgnored) {
  const std::vector<Vec3> balls = Layout(65, 3);
  const Mesh all = Follow(balls);
  EXPECT_EQ(BallCount(), 64);
  EXPECT_EQ(Sorted(all.triangles), Sorted(Follow(std::vector<Vec3>(balls.begin(), balls.begin() + 64)).triangles));
}

TEST_F(MetaballsTest, NoBallsNoBatch) {
  const Mesh mesh = Follow({});
  EXPECT_EQ(mesh.batches, 0);
}

TEST_F(MetaballsTest, TwoBallsInOneCellPolygoniseItOnce) {
  const Mesh mesh = Follow({{20.2f, 20.2f, 20.2f}, {20.7f, 20.6f, 20.5f}});
  std::vector<Triangle> t = Sorted(mesh.triangles);
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(std::adjacent_find(t.begin(), t.end()), t.end());
  EXPECT_EQ(t, Sorted(Reference({{20.2f, 20.2f, 20.2f}, {20.7f, 20.6f, 20.5f}}).triangles));
}

TEST_F(MetaballsTest, ABallOnAGridPointGivesFiniteNormals) {
  const Mesh mesh = Follow({{30.0f, 30.0f, 30.0f}, {31.0f, 30.0f, 30.0f}});
  ASSERT_FALSE(mesh.vertices.empty());
  for (const render::RenderVertex& v : mesh.vertices) {
    EXPECT_TRUE(std::isfinite(v.nx) && std::isfinite(v.ny) && std::isfinite(v.nz));
    EXPECT_NEAR(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz, 1.0f, 1e-4f);
  }
}

// Balls spread over the grid give more vertices than one batch holds.
TEST_F(MetaballsTest, LargeSurfacesComeInSeveralBatches) {
  std::vector<Vec3> balls;
  for (int i = 0; i < 64; ++i) balls.push_back(Vec3{6.0f + 17.0f * float(i % 4), 6.0f + 17.0f * float(i / 4 % 4), 6.0f + 17.0f * float(i / 16)});
  const Mesh mesh = Follow(balls);
  EXPECT_GT(mesh.generated, kMetaballVertexCapacity);
  EXPECT_GE(mesh.batches, 2);
  EXPECT_EQ(Sorted(mesh.triangles), Sorted(Reference(balls).triangles));
}

}  // namespace
}  // namespace scene

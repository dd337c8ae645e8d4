// The metaball step of a scene's drawing on the headless device: one ball
// lit from the camera is a disc of the sphere's projected radius, its
// triangles facing the camera as the scene's meshes do; a surface larger
// than the arrays reaches the device in several whole batches.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/metaballs.h"
#include "scene/procedural.h"
#include "tests/scene/draw_fixture.h"

namespace draw_test {
namespace {

inline const char* kCullMaterials = R"(
<SHADER> <NAME> "BACKS" </NAME>
  <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_CW" </CULL> </PASS> </SHADER>
)";

class MetaballDraw : public DrawTest {
 protected:
  void SetUp() override {
    DrawTest::SetUp();
    ASSERT_EQ(manager_.ParseShaderText(kCullMaterials, "cull.txt"), 0);
    ASSERT_EQ(scene::InitMetaballs(), 0);
    scene::InstallProcedurals();
    scene::InstallMetaballStage();
  }
  void TearDown() override {
    scene::SetProceduralDrawer(nullptr);
    scene::SetProceduralFactory(nullptr);
    scene::SetMetaballStage(nullptr);
    DrawTest::TearDown();
    scene::FreeMetaballs();
  }
  // One ball at `centre` with `material`, the camera and a light `distance`
  // in front of it.
  void OneBall(const std::string& material, Vec3 centre, float distance) {
    scene::MeshElement tiny = Element(material);
    AddQuad(&tiny, {0, 0, 0}, {0.01f, 0, 0}, {0, 0.01f, 0}, 0xFFFFFFFFu);
    file_.meshes = {Mesh("@METABALL01", material, {tiny}, centre)};
    const Vec3 eye{centre.x, centre.y, centre.z - distance};
    file_.cameras[0] = Camera(eye, centre);
    file_.lights = {PointLight(eye, 0.8f, 0.1f)};
    Load();
  }
};

TEST_F(MetaballDraw, OneBallIsALitDiscOfTheSpheresProjectedRadius) {
  const Vec3 centre{32, 32, 32};
  const float distance = 20.0f;
  OneBall("PLAIN", centre, distance);
  const std::vector<uint32_t> pixels = Render();
  int cx = 0, cy = 0, ex = 0, ey = 0;
  ASSERT_TRUE(Project(centre, &cx, &cy));
  // The silhouette: the circle where rays from the eye touch the sphere.
  const float r = std::sqrt(1.0f / scene::kMetaballIso - 1.0f);
  const Vec3 rim{centre.x + r * std::sqrt(1.0f - r * r / (distance * distance)), centre.y,
                 centre.z - r * r / distance};
  ASSERT_TRUE(Project(rim, &ex, &ey));
  const int radius = ex - cx;
  ASSERT_GT(radius, 5);
  EXPECT_GT(Red(At(pixels, cx, cy)), 150);  // facing the light
  EXPECT_GT(Red(At(pixels, cx + radius - 2, cy)), 0);
  EXPECT_EQ(At(pixels, cx + radius + 2, cy) & 0xFFFFFFu, 0u);
  EXPECT_GT(Red(At(pixels, cx - radius + 2, cy)), 0);
  EXPECT_EQ(At(pixels, cx - radius - 2, cy) & 0xFFFFFFu, 0u);
  EXPECT_EQ(At(pixels, cx, cy + radius + 2) & 0xFFFFFFu, 0u);
}

// Culling the clockwise faces leaves the far, inward-looking half: dark.
TEST_F(MetaballDraw, BackFacesAreTheFarSide) {
  const Vec3 centre{32, 32, 32};
  OneBall("BACKS", centre, 20.0f);
  const std::vector<uint32_t> pixels = Render();
  int cx = 0, cy = 0;
  ASSERT_TRUE(Project(centre, &cx, &cy));
  EXPECT_LT(Red(At(pixels, cx, cy)), 60);
  EXPECT_GT(Red(At(pixels, cx, cy)), 0);
}

// The scene's viewport (the left half) is kept.
TEST_F(MetaballDraw, TheScenesViewportIsKept) {
  const Vec3 centre{32, 32, 32};
  OneBall("PLAIN", centre, 8.0f);
  scene_.viewport_w = 320.0f;
  const std::vector<uint32_t> pixels = Render();
  EXPECT_GT(Red(At(pixels, kWidth / 4, kHeight / 2)), 150);
  for (int y = 0; y < kHeight; ++y)
    for (int x = kWidth / 2 + 1; x < kWidth; ++x) ASSERT_EQ(At(pixels, x, y) & 0xFFFFFFu, 0u) << x << " " << y;
}

// Triangles of the straightforward way: the whole field, every cell.
int WholeGridTriangles(const std::vector<Vec3>& balls) {
  constexpr int P = scene::kMetaballGrid + 1;
  std::vector<float> value(P * P * P);
  std::vector<Vec3> normal(P * P * P);
  for (int a = 0; a < P; ++a)
    for (int b = 0; b < P; ++b)
      for (int c = 0; c < P; ++c)
        scene::MetaballFieldAt(balls.data(), int(balls.size()), a, b, c, &value[(a * P + b) * P + c],
                               &normal[(a * P + b) * P + c]);
  render::RenderVertex vertices[12];
  uint16_t indices[15];
  int triangles = 0;
  for (int a = 0; a < scene::kMetaballGrid; ++a)
    for (int b = 0; b < scene::kMetaballGrid; ++b)
      for (int c = 0; c < scene::kMetaballGrid; ++c) {
        float v[8];
        Vec3 n[8];
        for (int i = 0; i < 8; ++i) {
          const int k = ((a + scene::kCellCorner[i][0]) * P + b + scene::kCellCorner[i][1]) * P + c +
                        scene::kCellCorner[i][2];
          v[i] = value[k];
          n[i] = normal[k];
        }
        uint32_t added = 0;
        triangles += scene::PolygoniseCell(a, b, c, v, n, vertices, indices, 0, &added);
      }
  return triangles;
}

// 64 balls spread over the grid make more vertices than the arrays hold:
// each batch is drawn on its own (submitted and flushed before the arrays
// are refilled), its indices inside its own vertices.
TEST_F(MetaballDraw, ALargeSurfaceIsDrawnInWholeBatches) {
  std::vector<Vec3> balls;
  for (int i = 0; i < 64; ++i)
    balls.push_back(Vec3{6.0f + 17.0f * float(i % 4), 6.0f + 17.0f * float(i / 4 % 4), 6.0f + 17.0f * float(i / 16)});
  scene::ResetBalls();
  for (const Vec3& b : balls) ASSERT_TRUE(scene::AddBall(b));
  scene::SetMaterial(manager_.GetShader("PLAIN"));
  int draws = 0;
  uint64_t vertices = 0, triangles = 0;
  render::SetMaterialDrawObserver([&](const render::MaterialDraw& d) {
    ++draws;
    ASSERT_EQ(d.item_count, 1);  // flushed before the next batch was made
    const render::DrawItem& item = *d.first_item;
    EXPECT_LE(item.vertex_count, scene::kMetaballVertexCapacity);
    EXPECT_EQ(d.triangle_count, uint32_t(item.triangle_count));
    for (int32_t i = 0; i < item.triangle_count * 3; ++i)
      ASSERT_LT(item.indices[i], item.vertex_count) << "batch " << draws << ", index " << i;
    vertices += item.vertex_count;
    triangles += uint64_t(item.triangle_count);
  });
  scene::DrawMetaballs();
  render::SetMaterialDrawObserver(nullptr);
  EXPECT_GE(draws, 2);
  EXPECT_GT(vertices, scene::kMetaballVertexCapacity);
  EXPECT_EQ(triangles, uint64_t(WholeGridTriangles(balls)));
}

}  // namespace
}  // namespace draw_test

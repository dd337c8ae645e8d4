// The metaball step of a scene's drawing on the headless device: one ball
// lit from the camera is a disc of the sphere's projected radius, its
// triangles facing the camera as the scene's meshes do.
#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace draw_test

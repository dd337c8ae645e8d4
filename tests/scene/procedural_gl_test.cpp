// Procedural objects drawn through Draw on the headless device: particle
// batches and one additive square's pixels, the trauma tube's passes, its
// missing image and its colours after lit drawing, placeholders without
// elements.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "scene/procedural.h"
#include "scene/procedural_internal.h"
#include "tests/scene/draw_fixture.h"

namespace draw_test {
namespace {

scene::SceneMesh Placeholder(const std::string& name, const std::string& material) {
  scene::MeshElement e = Element(material);
  e.vertices = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  e.indices = {0, 1, 2};
  return Mesh(name, material, {e});
}

class ProceduralDraw : public DrawTest {
 protected:
  void SetUp() override {
    DrawTest::SetUp();
    scene::InstallProcedurals();
  }
  void TearDown() override {
    scene::internal::SetParticleBatchObserver(nullptr);
    scene::internal::SetTraumaDrawObserver(nullptr);
    DrawTest::TearDown();
    scene::SetProceduralFactory(nullptr);
    scene::SetProceduralDrawer(nullptr);
  }
  void DrawAt(double now, uint32_t clear = 0xFF000000u) {
    device_->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, clear, 1.0f, 0);
    device_->BeginScene();
    scene::DrawRequest request;
    request.now = now;
    scene::Draw(&scene_, request);
    device_->EndScene();
  }
  std::vector<uint32_t> Pixels() {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device_->ReadSurfacePixels(device_->GetBackBuffer().get(), &pixels), 0);
    return pixels;
  }
};

TEST_F(ProceduralDraw, OneAdditiveSquareCoversItsProjection) {
  ASSERT_EQ(manager_.ParseShaderText(R"(<SHADER> <NAME> "SPARK" </NAME>
      <PASS> <BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>
        <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL> </PASS> </SHADER>)",
                                     "spark.txt"),
            0);
  file_.cameras = {Camera({0, 0, -20}, {0, 0, 0})};
  file_.meshes = {Placeholder("@PARTICLE01", "SPARK")};
  Load();
  // One still particle every 4 s living 3 s, 4 units wide, no disc: at
  // 10.7 only the one born at 8 lives, fading (2.7 s of 3, fade from 2.4).
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "4 3 0.25 0 0 0 0 0 0 0"), 0);
  const uint32_t background = 0xFF203040u;
  DrawAt(10.7, background);
  const std::vector<uint32_t> pixels = Pixels();
  const uint32_t k = static_cast<uint32_t>((1.0 - (2.7 - 2.4) / (3.0 * 0.2)) * 255.0);
  int left = 0, top = 0, right = 0, bottom = 0;
  ASSERT_TRUE(Project({-2, 2, 0}, &left, &top));
  ASSERT_TRUE(Project({2, -2, 0}, &right, &bottom));
  ASSERT_GT(right - left, 8);
  ASSERT_GT(bottom - top, 8);
  int covered = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t p = At(pixels, x, y);
      const bool inside = x > left && x < right - 1 && y > top && y < bottom - 1;
      const bool outside = x < left - 1 || x > right || y < top - 1 || y > bottom;
      if (p != background) ++covered;
      if (inside) {
        // Added to what was there, channel by channel.
        ASSERT_EQ(Red(p), Red(background) + static_cast<int>(k)) << x << "," << y;
        ASSERT_EQ(Green(p), Green(background) + static_cast<int>(k)) << x << "," << y;
        ASSERT_EQ(Blue(p), Blue(background) + static_cast<int>(k)) << x << "," << y;
      } else if (outside) {
        ASSERT_EQ(p, background) << x << "," << y;
      }
    }
  const int side_x = right - left, side_y = bottom - top;
  EXPECT_NEAR(covered, side_x * side_y, side_x + side_y + 2);
}

TEST_F(ProceduralDraw, TraumaShowsItsVertexColoursAfterLitFoggedDrawing) {
  ASSERT_EQ(manager_.ParseShaderText(R"(<SHADER> <NAME> "TRAUMA" </NAME>
      <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL>
      </PASS> </SHADER>)",
                                     "trauma.txt"),
            0);
  // Seen from the side: the tube runs along +Z from the origin, radius 32
  // without its image.
  file_.cameras = {Camera({150, 0, 100}, {0, 0, 100})};
  file_.meshes = {Placeholder("@TRAUMA01", "PLAIN")};
  Load();
  // What a lit draw before this one leaves (no ambient), or a fogged one
  // (a red fog that covers everything).
  for (const bool lit : {true, false}) {
    render::SetRenderStateCached(render::RS_LIGHTING, lit ? 1 : 0);
    render::SetRenderStateCached(render::RS_AMBIENT, 0);
    render::SetRenderStateCached(render::RS_FOGENABLE, lit ? 0 : 1);
    render::SetRenderStateCached(render::RS_FOGCOLOR, 0xFFFF0000u);
    render::SetRenderStateCached(render::RS_FOGVERTEXMODE, render::FOG_LINEAR);
    render::SetRenderStateCached(render::RS_FOGTABLEMODE, render::FOG_LINEAR);
    render::SetRenderStateCached(render::RS_FOGSTART, render::FloatBits(0.0f));
    render::SetRenderStateCached(render::RS_FOGEND, render::FloatBits(1.0f));
    DrawAt(0.0);
    const std::vector<uint32_t> pixels = Pixels();
    for (float z : {60.0f, 100.0f, 140.0f}) {
      // Grey 255 (1 - s) (0.5 + 0.5 h), h = 0.5, s = z / 400.
      const int grey = static_cast<int>(255.0f * (1.0f - z / 400.0f) * 0.75f);
      const uint32_t p = PixelOf(pixels, {32, 0, z});
      EXPECT_NEAR(Red(p), grey, 3) << (lit ? "lit " : "fogged ") << z;
      EXPECT_NEAR(Green(p), grey, 3) << (lit ? "lit " : "fogged ") << z;
      EXPECT_NEAR(Blue(p), grey, 3) << (lit ? "lit " : "fogged ") << z;
    }
  }
  render::SetRenderStateCached(render::RS_FOGENABLE, 0);
}

TEST_F(ProceduralDraw, ParticlesGoInBatchesOfAThousand) {
  file_.meshes = {Placeholder("@PARTICLE01", "PLAIN")};
  Load();
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "1 3 1000 0 10 0 0 0 0"), 0);
  std::vector<uint32_t> batches;
  scene::internal::SetParticleBatchObserver([&](uint32_t n) { batches.push_back(n); });
  DrawAt(2.5);  // births 0.000 .. 2.499, all alive
  EXPECT_EQ(batches, (std::vector<uint32_t>{1000, 1000, 500}));
}

TEST_F(ProceduralDraw, TraumaDrawsOncePerPassAtMostTwice) {
  struct Case {
    const char* shader;
    int draws;
  };
  const Case cases[] = {
      {"", 1},  // no "trauma" shader and no texture: the NULL shader
      {R"(<SHADER> <NAME> "TRAUMA" </NAME> <PASS> <CULL> "CULL_NONE" </CULL> </PASS> </SHADER>)", 1},
      {R"(<SHADER> <NAME> "TRAUMA" </NAME> <PASS> <CULL> "CULL_NONE" </CULL> </PASS>
          <PASS> <CULL> "CULL_NONE" </CULL> </PASS> <PASS> <CULL> "CULL_NONE" </CULL> </PASS> </SHADER>)", 2},
  };
  for (const Case& c : cases) {
    scene_.Clear();
    manager_.Shutdown();  // a fresh library for each "TRAUMA"
    ASSERT_EQ(manager_.Init(), 0);
    ASSERT_EQ(manager_.ParseShaderText(kMaterials, "materials.txt"), 0);
    if (*c.shader) {
      ASSERT_EQ(manager_.ParseShaderText(c.shader, "trauma.txt"), 0);
    }
    ClearMessages();
    file_.meshes = {Placeholder("@TRAUMA01", "PLAIN")};
    Load();
    int draws = 0;
    scene::internal::SetTraumaDrawObserver([&](render::ShaderHandle, int) { ++draws; });
    DrawAt(1.0);
    EXPECT_EQ(draws, c.draws) << c.shader;
    int missing = 0;
    for (const std::string& m : messages) missing += m.find("missing data/textures/traumaheight.tga (32x64x32bpp)") != std::string::npos;
    EXPECT_EQ(missing, 1) << c.shader;
  }
}

TEST_F(ProceduralDraw, PlaceholderWithoutElementsDrawsWithNull) {
  scene::SceneMesh bare;
  bare.name = "@SPHERICAL01";
  file_.meshes = {bare};
  Load();
  ASSERT_EQ(scene_.procedurals.size(), 1u);
  EXPECT_EQ(static_cast<scene::PlaceholderObject&>(*scene_.procedurals[0]).Material(), -1);
  std::vector<render::ShaderHandle> shaders;
  render::SetMaterialDrawObserver([&](const render::MaterialDraw& d) { shaders.push_back(d.shader); });
  DrawAt(0.5);
  ASSERT_FALSE(shaders.empty());
  for (render::ShaderHandle s : shaders) EXPECT_EQ(s, render::kNullShader);
}

}  // namespace
}  // namespace draw_test

// Procedural objects drawn through Draw on the headless device: particle
// batches, the trauma tube's passes and its missing image, placeholders
// without elements.
#include <gtest/gtest.h>

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
  void DrawAt(double now) {
    device_->BeginScene();
    scene::DrawRequest request;
    request.now = now;
    scene::Draw(&scene_, request);
    device_->EndScene();
  }
};

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

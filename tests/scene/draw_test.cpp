// Drawing scenes: order, lights, fog, skipping and culling, the states
// every Draw leaves behind, the viewport, beams.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "render/postfx.h"
#include "tests/scene/draw_fixture.h"

namespace draw_test {
namespace {

// A quad facing the camera at (0, 0, -10) looking +z, at depth z, over
// x0..x1 and y0..y1.
scene::MeshElement FacingQuad(float x0, float x1, float y0, float y1, float z, uint32_t colour,
                              const std::string& material) {
  scene::MeshElement e = Element(material);
  AddQuad(&e, {x0, y0, z}, {0, y1 - y0, 0}, {x1 - x0, 0, 0}, colour);
  return e;
}

class SceneDraw : public DrawTest {
 protected:
  void LookAlongZ() { file_.cameras[0] = Camera({0, 0, -10}, {0, 0, 0}); }
};

TEST_F(SceneDraw, NearerOpaqueObjectWinsInEitherOrder) {
  LookAlongZ();
  const scene::SceneMesh near = Mesh("NEAR", "PLAIN", {FacingQuad(-1, 1, -1, 1, -2, 0xFFFF0000u, "")});
  const scene::SceneMesh far = Mesh("FAR", "PLAIN", {FacingQuad(-3, 3, -3, 3, 2, 0xFF00FF00u, "")});
  for (bool near_first : {true, false}) {
    file_.meshes = near_first ? std::vector<scene::SceneMesh>{near, far} : std::vector<scene::SceneMesh>{far, near};
    Load();
    scene_.vertex_colours = true;
    const std::vector<uint32_t> pixels = Render();
    EXPECT_EQ(PixelOf(pixels, {0, 0, -2}) & 0xFFFFFFu, 0xFF0000u) << near_first;
    EXPECT_EQ(PixelOf(pixels, {2.5f, 2.5f, 2}) & 0xFFFFFFu, 0x00FF00u) << near_first;
  }
}

TEST_F(SceneDraw, TransparentObjectsBlendFarToNear) {
  LookAlongZ();
  // The depth key is the object's distance: the quads sit at their nodes.
  file_.meshes = {Mesh("NEAR", "GLASS", {FacingQuad(-2, 2, -2, 2, 0, 0x80FF0000u, "")}, {0, 0, -2}),
                  Mesh("FAR", "GLASS", {FacingQuad(-2, 2, -2, 2, 0, 0x800000FFu, "")}, {0, 0, 2})};
  Load();
  scene_.vertex_colours = true;
  const uint32_t c = PixelOf(Render(), {0, 0, -2});
  // Far first: blue × a over black, then red × a over that.
  const float a = 128.0f / 255.0f;
  EXPECT_NEAR(Red(c), 255.0f * a, 2);
  EXPECT_NEAR(Blue(c), 255.0f * a * (1.0f - a), 2);
  EXPECT_EQ(Green(c), 0);
}

// A white floor under a point light: ambient + diffuse × cos, per vertex.
TEST_F(SceneDraw, PointLightOnAFloorMatchesTheFormula) {
  scene::MeshElement floor = Element("PLAIN");
  AddFloor(&floor, 10.0f, 40, 0.0f, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "PLAIN", {floor})};
  file_.cameras[0] = Camera({0, 20, -0.01f}, {0, 0, 0}, {0, 0, 1});
  const Vec3 light{2.0f, 5.0f, 1.0f};
  file_.lights = {PointLight(light, 0.8f, 0.1f)};
  Load();
  const std::vector<uint32_t> pixels = Render();
  // Probes on grid vertices (every 0.5).
  for (float x : {-6.0f, -2.0f, 0.0f, 2.0f, 4.5f}) {
    for (float z : {-4.0f, 0.0f, 1.0f, 3.5f}) {
      const Vec3 p{x, 0.0f, z};
      const Vec3 to_light = scene::Sub(light, p);
      const float cosine = to_light.y / scene::Length(to_light);
      const int expected = Byte(0.1f + 0.8f * cosine);
      const uint32_t c = PixelOf(pixels, p);
      EXPECT_NEAR(Red(c), expected, 3) << x << " " << z;
      EXPECT_NEAR(Green(c), expected, 3) << x << " " << z;
    }
  }
}

TEST_F(SceneDraw, NoLightDrawsUnlit) {
  scene::MeshElement floor = Element("PLAIN");
  AddFloor(&floor, 10.0f, 4, 0.0f, 0xFF336699u);
  file_.meshes = {Mesh("FLOOR", "PLAIN", {floor})};
  Load();
  EXPECT_EQ(PixelOf(Render(), {0, 0, 0}) & 0xFFFFFFu, 0x336699u);
}

// Eight dark lights and a ninth bright one: the ninth lights nothing until
// shadows are on, when every light gets its pass.
TEST_F(SceneDraw, NinthLightLightsOnlyInTheShadowPasses) {
  scene::MeshElement floor = Element("RECEIVER");
  AddFloor(&floor, 10.0f, 8, 0.0f, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "RECEIVER", {floor})};
  for (int i = 0; i < 8; ++i) file_.lights.push_back(PointLight({0, 5, 0}, 0.0f, 0.0f));
  file_.lights.push_back(PointLight({0, 5, 0}, 1.0f, 0.0f));
  Load();
  int receiver_draws = 0;
  render::SetMaterialDrawObserver([&](const render::MaterialDraw& d) {
    if (d.shader == manager_.FindShader("RECEIVER")) ++receiver_draws;
  });
  EXPECT_EQ(PixelOf(Render(), {0, 0, 0}) & 0xFFFFFFu, 0u);
  EXPECT_EQ(receiver_draws, 1);

  AddSystemMaterials();
  scene_.shadows = true;
  receiver_draws = 0;
  EXPECT_GT(Red(PixelOf(Render(), {0, 0, 0})), 200);
  EXPECT_EQ(receiver_draws, 1 + 9);  // the ambient pass, then one per light
}

// Three quads at known distances: linear table fog on the pixel's depth z,
// the factor (end - z) / (end - start).
TEST_F(SceneDraw, FogFollowsDepth) {
  LookAlongZ();
  const float distances[] = {2.0f, 15.0f, 200.0f};
  std::vector<scene::MeshElement> quads;
  for (int i = 0; i < 3; ++i) {
    const float w = distances[i], x0 = (-0.5f + 0.3f * static_cast<float>(i)) * w;
    quads.push_back(FacingQuad(x0, x0 + 0.2f * w, -0.1f * w, 0.1f * w, w - 10.0f, 0xFFFF0000u, "PLAIN"));
  }
  file_.meshes = {Mesh("Q", "PLAIN", quads)};
  Load();
  scene_.vertex_colours = true;
  scene_.fog = true;
  scene_.fog_start = 0.9f;
  scene_.fog_end = 0.99f;
  scene_.fog_colour = 0x0000FF;
  const std::vector<uint32_t> pixels = Render();
  for (int i = 0; i < 3; ++i) {
    const float w = distances[i], x = (-0.4f + 0.3f * static_cast<float>(i)) * w;
    const float z = (scene::kFarPlane / (scene::kFarPlane - 1.0f)) * (1.0f - 1.0f / w);
    const float f = std::fmin(1.0f, std::fmax(0.0f, (0.99f - z) / (0.99f - 0.9f)));
    const uint32_t c = PixelOf(pixels, {x, 0.0f, w - 10.0f});
    EXPECT_NEAR(Red(c), 255.0f * f, 3) << w;
    EXPECT_NEAR(Blue(c), 255.0f * (1.0f - f), 3) << w;
  }
  // Fog follows the scene's switch on every Draw.
  scene_.fog = false;
  EXPECT_EQ(PixelOf(Render(), {(0.2f) * 200.0f, 0.0f, 190.0f}) & 0xFFFFFFu, 0xFF0000u);
}

// Elements handed to the queue: "@" names, an invisible parent's children,
// unresolved skinned elements and objects outside the frustum.
TEST_F(SceneDraw, SkipsAndCulls) {
  LookAlongZ();
  auto quad = [](float z) { return FacingQuad(-1, 1, -1, 1, z, 0xFFFFFFFFu, "PLAIN"); };
  scene::MeshElement skinned = quad(0);
  skinned.skin.assign(skinned.vertices.size(), {{77, {0, 0, 0}, 1.0f}});  // bone 77 exists nowhere
  file_.meshes = {
      Mesh("SEEN", "PLAIN", {quad(0)}),
      Mesh("@PARTICLE01", "PLAIN", {quad(0)}),
      Mesh("*HIDDEN", "PLAIN", {quad(0)}),
      Mesh("CHILD", "PLAIN", {quad(1)}),
      Mesh("BEHIND", "PLAIN", {quad(0)}, {0, 0, -50}),
      Mesh("ASIDE", "PLAIN", {quad(0)}, {500, 0, 0}),
      Mesh("SKINNED", "PLAIN", {skinned}),
  };
  file_.meshes[3].parent = 2;
  Load();
  int items = 0;
  render::SetMaterialDrawObserver([&](const render::MaterialDraw& d) { items += d.item_count; });
  Render();
  EXPECT_EQ(items, 2);  // SEEN and the hidden parent's CHILD
}

// An object whose position is not finite is never drawn and casts
// nothing; it is reported once.
TEST_F(SceneDraw, ObjectWithoutAFinitePositionIsLeftOut) {
  LookAlongZ();
  AddSystemMaterials();
  scene::MeshElement floor = Element("RECEIVER");
  AddFloor(&floor, 10.0f, 4, -2.0f, 0xFFFFFFFFu);
  scene::MeshElement box = Element("CASTER");
  AddBox(&box, {0, 0, 0}, {1, 1, 1}, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "RECEIVER", {floor}), Mesh("LOST", "CASTER", {box})};
  file_.lights = {PointLight({0, 5, 0}, 0.5f, 0.1f)};
  Load();
  scene_.ObjectAt(1)->position = {NAN, 0.0f, 0.0f};
  scene_.shadows = true;
  int items = 0;
  render::SetMaterialDrawObserver([&](const render::MaterialDraw& d) {
    if (d.shader == manager_.FindShader("CASTER")) items += d.item_count;
  });
  Render();
  Render();
  EXPECT_EQ(items, 0);
  int count = 0;
  for (const std::string& m : messages) count += m.find("LOST has no finite position") != std::string::npos;
  EXPECT_EQ(count, 1) << AllMessages();
}

// With shadows on, fog is laid once: the per-light passes fog towards
// black, so a fogged receiver looks as it does without shadows.
TEST_F(SceneDraw, ShadowPassesFogOnce) {
  AddSystemMaterials();
  scene::MeshElement floor = Element("RECEIVER");
  AddFloor(&floor, 30.0f, 30, 0.0f, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "RECEIVER", {floor})};
  file_.cameras[0] = Camera({0, 3, -30}, {0, 0, 0});
  // Unsaturated: one pass clamps its sum, several add theirs.
  file_.lights = {PointLight({0, 10, 0}, 0.4f, 0.1f), PointLight({5, 10, 5}, 0.2f, 0.05f)};
  Load();
  scene_.fog = true;
  scene_.fog_start = 0.85f;
  scene_.fog_end = 0.99f;
  scene_.fog_colour = 0x0000C0;
  const std::vector<uint32_t> plain = Render();
  scene_.shadows = true;
  const std::vector<uint32_t> shadowed = Render();
  int compared = 0;
  for (float z : {-20.0f, -10.0f, 0.0f, 10.0f, 20.0f}) {
    const uint32_t a = PixelOf(plain, {0, 0, z}), b = PixelOf(shadowed, {0, 0, z});
    EXPECT_NEAR(Red(a), Red(b), 3) << z;
    EXPECT_NEAR(Blue(a), Blue(b), 3) << z;
    compared += Blue(a) > 10 && Red(a) > 10;  // fog and light both show
  }
  EXPECT_GE(compared, 3);
}

// The procedural objects drawn after the objects see the lights of the
// plain pass, shadows or not.
TEST_F(SceneDraw, ProceduralsSeeTheSceneLightsAfterShadowPasses) {
  AddSystemMaterials();
  scene::MeshElement floor = Element("RECEIVER");
  AddFloor(&floor, 10.0f, 2, 0.0f, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "RECEIVER", {floor})};
  file_.lights = {PointLight({0, 5, 0}, 0.6f, 0.2f), PointLight({3, 5, 0}, 0.3f, 0.1f)};
  Load();
  scene_.shadows = true;
  int calls = 0;
  scene::SetProceduralDrawer([&](scene::ProceduralStage stage, const scene::ProceduralDrawContext&) {
    if (stage != scene::ProceduralStage::kAfterObjects) return;
    ++calls;
    for (uint32_t i = 0; i < 2; ++i) {
      render::Light light;
      bool enabled = false;
      ASSERT_EQ(device_->GetLight(i, &light), 0);
      ASSERT_EQ(device_->GetLightEnable(i, &enabled), 0);
      EXPECT_TRUE(enabled) << i;
      EXPECT_EQ(light, scene_.lights[i].evaluated) << i;
    }
    EXPECT_EQ(render::CachedRenderState(render::RS_LIGHTING), 1u);
  });
  Render();
  scene::SetProceduralDrawer(nullptr);
  EXPECT_EQ(calls, 1);
}

TEST_F(SceneDraw, QuarterViewportKeepsEverythingInside) {
  scene::MeshElement floor = Element("PLAIN");
  AddFloor(&floor, 100.0f, 4, 0.0f, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "PLAIN", {floor})};
  file_.lights = {PointLight({0, 50, 0}, 1.0f, 0.5f)};
  Load();
  AddSystemMaterials();
  scene_.viewport_x = 320.0f;
  scene_.viewport_y = 240.0f;
  scene_.viewport_w = 320.0f;
  scene_.viewport_h = 240.0f;
  scene_.shadows = true;
  const std::vector<uint32_t> pixels = Render();
  int inside = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool lit = (At(pixels, x, y) & 0xFFFFFFu) != 0;
      if (x < kWidth / 2 || y < kHeight / 2) ASSERT_FALSE(lit) << x << " " << y;
      else inside += lit;
    }
  }
  EXPECT_EQ(inside, kWidth * kHeight / 4);
}

// ---------------------------------------------------------------------------
// States left behind.
// ---------------------------------------------------------------------------

struct HygieneCase {
  const char* name;
  bool stencil_material, refused_light, shadows, fog, mirror;
};

class SceneDrawHygiene : public DrawTest, public ::testing::WithParamInterface<HygieneCase> {};

TEST_P(SceneDrawHygiene, LeavesTheListedStates) {
  const HygieneCase& c = GetParam();
  scene::MeshElement floor = Element("RECEIVER");
  AddFloor(&floor, 10.0f, 4, 0.0f, 0xFFFFFFFFu);
  scene::MeshElement box = Element("CASTER");
  AddBox(&box, {0, 1, 0}, {1, 1, 1}, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "RECEIVER", {floor}), Mesh("BOX", "CASTER", {box})};
  if (c.mirror) {
    scene::MeshElement glass = Element("MIRROR");
    AddQuad(&glass, {-3, 0, 4}, {0, 3, 0}, {6, 0, 0}, 0xFF808080u);
    file_.meshes.push_back(Mesh("MIRROR", "MIRROR", {glass}));
  }
  file_.lights = {PointLight({0, 6, 0}, 0.8f, 0.2f)};
  Load();
  if (c.stencil_material) AddSystemMaterials();
  if (c.refused_light) scene_.lights[0].light.attenuation0 = -1.0f;  // the device refuses it
  scene_.shadows = c.shadows;
  scene_.fog = c.fog;
  render::ShaderManager* manager = render::CurrentShaderManager();
  manager->mirrored = false;
  const int depth = render::RenderTargetDepth();
  const render::Viewport viewport = device_->GetViewport();
  render::FixedCamera camera;
  render::SetCurrentCamera(&camera);
  Render();

  EXPECT_EQ(render::CachedRenderState(render::RS_FOGENABLE), 0u);
  EXPECT_EQ(render::CachedRenderState(render::RS_LIGHTING), 0u);
  EXPECT_EQ(render::CachedRenderState(render::RS_SPECULARENABLE), 0u);
  EXPECT_EQ(render::CachedRenderState(render::RS_LOCALVIEWER), 0u);
  EXPECT_EQ(render::CachedRenderState(render::RS_CLIPPLANEENABLE), 0u);
  EXPECT_EQ(render::CachedRenderState(render::RS_STENCILENABLE), 0u);
  EXPECT_EQ(render::CachedRenderState(render::RS_COLORWRITEENABLE), 15u);
  EXPECT_EQ(render::CachedStageState(0, render::TSS_MIPMAPLODBIAS), render::FloatBits(0.0f));
  EXPECT_EQ(render::CachedStageState(0, render::TSS_TEXCOORDINDEX), 0u);
  EXPECT_EQ(render::CachedStageState(0, render::TSS_TEXTURETRANSFORMFLAGS), render::TTFF_DISABLE);
  EXPECT_EQ(render::CachedStageState(1, render::TSS_COLOROP), render::TOP_DISABLE);
  EXPECT_FALSE(render::AdditiveOverride());
  EXPECT_FALSE(manager->mirrored);
  EXPECT_EQ(render::RenderTargetDepth(), depth);
  EXPECT_EQ(render::CurrentCamera(), &camera);
  EXPECT_EQ(device_->GetViewport(), viewport);
  for (int b = 0; b < render::kPriorityCount; ++b) EXPECT_EQ(render::QueuedItemCount(b), 0) << b;
  render::SetCurrentCamera(nullptr);
  if (c.refused_light) { EXPECT_TRUE(HasMessage("refused")) << AllMessages(); }
  if (!c.stencil_material && c.shadows) { EXPECT_TRUE(HasMessage("STENCIL")) << AllMessages(); }
}

INSTANTIATE_TEST_SUITE_P(Draws, SceneDrawHygiene,
                         ::testing::Values(HygieneCase{"plain", true, false, false, false, false},
                                           HygieneCase{"shadows_fog_mirror", true, false, true, true, true},
                                           HygieneCase{"no_stencil_material", false, false, true, false, false},
                                           HygieneCase{"refused_light", true, true, true, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SceneDraw, NoCameraDrawsNothingAndSaysSoOnce) {
  scene::MeshElement floor = Element("PLAIN");
  AddFloor(&floor, 10.0f, 2, 0.0f, 0xFFFFFFFFu);
  file_.meshes = {Mesh("FLOOR", "PLAIN", {floor})};
  Load();
  scene_.cameras.clear();
  const std::vector<uint32_t> pixels = Render(0xFF102030u);
  for (uint32_t p : pixels) ASSERT_EQ(p & 0xFFFFFFu, 0x102030u);
  Render();
  int count = 0;
  for (const std::string& m : messages) count += m.find("no camera") != std::string::npos;
  EXPECT_EQ(count, 1);
}

// ---------------------------------------------------------------------------
// Beams.
// ---------------------------------------------------------------------------

const char* kBeamMaterials = R"(
<SHADER> <NAME> "BEAM" </NAME> <PROJECTBEAMS> </PROJECTBEAMS> <PASS> <TEXTURE> "WHITE" </TEXTURE> </PASS> </SHADER>
<SHADER> <NAME> "BEAMOPAQUE" </NAME> <PASS> <TEXTURE> "GREY" </TEXTURE> <CULL> "CULL_NONE" </CULL> </PASS> </SHADER>
)";
const char* kFlare = R"(
<SHADER> <NAME> "BEAMFLARE" </NAME> <PRIORITY> "PR_ADDITIVE" </PRIORITY>
  <PASS> <TEXTURE> "WHITE" </TEXTURE> <BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>
    <CULL> "CULL_NONE" </CULL> <NOZWRITE> </NOZWRITE> <ZCMP> "ALWAYS" </ZCMP> </PASS> </SHADER>
)";

class SceneBeams : public DrawTest {
 protected:
  // A 2 × 2 opaque 32-bit TGA of one grey level.
  void PutTexture(const std::string& name, char level) {
    std::string tga(18, '\0');
    tga[2] = 2;
    tga[12] = 2;
    tga[14] = 2;
    tga[16] = 32;
    for (int i = 0; i < 4; ++i) tga += std::string{level, level, level, '\xff'};
    Put("data/textures/" + name, tga);
  }
  void Build(bool flare) {
    PutTexture("WHITE.TGA", '\xff');
    PutTexture("GREY.TGA", '\x40');
    ASSERT_EQ(manager_.ParseShaderText(kBeamMaterials, "beams.txt"), 0);
    if (flare) { ASSERT_EQ(manager_.ParseShaderText(kFlare, "flare.txt"), 0); }
    // Hold the two materials as a show would, so their textures are loaded.
    opaque_ = manager_.GetShader("BEAMOPAQUE");
    ASSERT_GE(opaque_, 0);
    if (flare) { ASSERT_GE(manager_.GetShader("BEAMFLARE"), 0); }
    scene::MeshElement beam = Element("BEAM");
    AddBox(&beam, {0, 0, 0}, {0.3f, 0.3f, 0.3f}, 0xFFFFFFFFu);
    file_.cameras[0] = Camera({0, 0, -10}, {0, 0, 0});
    file_.meshes = {Mesh("BEAMER", "BEAM", {beam}, {1.5f, 0.5f, 0})};
    Load();
    scene_.vertex_colours = true;
  }
  render::ShaderHandle opaque_ = -1;
};

TEST_F(SceneBeams, LightFallsOffOutwardFromTheBeam) {
  Build(true);
  const render::TextureHandle handle = manager_.GetShaderByHandle(opaque_)->passes[0].texture;
  std::vector<int> counts;
  for (int h = manager_.FirstShader(); h >= 0; h = manager_.NextShader(h)) counts.push_back(manager_.GetShaderByHandle(h)->ref_count);
  std::vector<int> texture_counts;
  for (int t = 0; t < 8; ++t) {
    const auto* entry = manager_.GetTextureEntry(t);
    texture_counts.push_back(entry ? entry->count : -1);
  }
  const std::vector<uint32_t> pixels = Render();
  int cx = 0, cy = 0;
  ASSERT_TRUE(Project({1.5f, 0.5f, 0}, &cx, &cy));
  const int centre = Red(At(pixels, cx, cy));
  EXPECT_GT(centre, 100);
  // The blur streaks outward from the picture's centre: towards the centre
  // the added light falls off, step by step, to nothing.
  const float dx = static_cast<float>(kWidth / 2 - cx), dy = static_cast<float>(kHeight / 2 - cy);
  const float length = std::sqrt(dx * dx + dy * dy);
  int previous = centre;
  for (float d = 8.0f; d < length; d += 4.0f) {
    const int x = cx + static_cast<int>(std::lround(dx / length * d));
    const int y = cy + static_cast<int>(std::lround(dy / length * d));
    const int v = Red(At(pixels, x, y));
    EXPECT_LE(v, previous + 2) << d;
    previous = v;
  }
  EXPECT_LT(previous, centre / 4);
  // Outward it streaks on; the far corner opposite gets nothing.
  EXPECT_GT(Red(At(pixels, std::min(cx + 20, kWidth - 1), cy - 6)), 0);
  EXPECT_EQ(At(pixels, 2, kHeight - 3) & 0xFFFFFFu, 0u);

  EXPECT_EQ(manager_.GetShaderByHandle(opaque_)->passes[0].texture, handle);
  std::vector<int> after;
  for (int h = manager_.FirstShader(); h >= 0; h = manager_.NextShader(h)) after.push_back(manager_.GetShaderByHandle(h)->ref_count);
  EXPECT_EQ(after, counts);
  for (int t = 0; t < 8; ++t) {
    const auto* entry = manager_.GetTextureEntry(t);
    EXPECT_EQ(entry ? entry->count : -1, texture_counts[static_cast<size_t>(t)]) << t;
  }
}

TEST_F(SceneBeams, WithoutAFlareNothingIsAdded) {
  Build(false);
  const std::vector<uint32_t> pixels = Render();
  // The beam object itself is drawn as any object; nothing lands beyond it.
  int cx = 0, cy = 0;
  ASSERT_TRUE(Project({1.5f, 0.5f, 0}, &cx, &cy));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) > 12 * 12) {
        ASSERT_EQ(At(pixels, x, y) & 0xFFFFFFu, 0u) << x << " " << y;
      }
  EXPECT_TRUE(HasMessage("BEAMFLARE")) << AllMessages();
}

// The blurred picture covers the scene's viewport, not the whole target.
TEST_F(SceneBeams, StayInsideAQuarterViewport) {
  Build(true);
  scene_.viewport_x = 320.0f;
  scene_.viewport_y = 240.0f;
  scene_.viewport_w = 320.0f;
  scene_.viewport_h = 240.0f;
  const std::vector<uint32_t> pixels = Render();
  int lit = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool on = (At(pixels, x, y) & 0xFFFFFFu) != 0;
      if (x < kWidth / 2 || y < kHeight / 2) {
        ASSERT_FALSE(on) << x << " " << y;
      }
      lit += on;
    }
  }
  EXPECT_GT(lit, 20);
}

// One bright texel off the centre: every pass zooms towards the centre, so
// the blur carries it outward only, along its ray.
TEST_F(SceneBeams, BlurOfOnePixelSpreadsOutward) {
  const render::TextureId source = render::AuxRenderTexture(0), other = render::AuxRenderTexture(1);
  ASSERT_GE(source, 0);
  ASSERT_GE(other, 0);
  ASSERT_EQ(render::PushRenderTarget(source, render::kNoId), 0);
  device_->Clear(0, nullptr, render::CLEAR_TARGET, 0, 1.0f, 0);
  const render::Rect dot{84, 64, 85, 65};  // right of the centre (64, 64)
  device_->Clear(1, &dot, render::CLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0);
  render::PopRenderTarget();
  const render::TextureId result = render::RadialBlur(source, source, other, 12, 0.01f, 0xFF858585u);
  ASSERT_GE(result, 0);
  std::vector<uint32_t> pixels;
  ASSERT_EQ(device_->ReadSurfacePixels(render::GetTextureById(result)->GetSurfaceLevel(0).get(), &pixels), 0);
  int lit = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      if ((pixels[static_cast<size_t>(y) * 128 + static_cast<size_t>(x)] & 0xFF) < 8) continue;
      ++lit;
      EXPECT_GE(x, 83) << x << " " << y;  // never towards the centre
      // Along its ray, widened by filtering as it goes.
      EXPECT_LE(std::abs(y - 64), 1 + (x - 84) / 12) << x << " " << y;
    }
  }
  EXPECT_GT(lit, 3);
}

}  // namespace
}  // namespace draw_test

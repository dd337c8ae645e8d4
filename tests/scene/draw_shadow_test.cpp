// Stencil shadows checked against a processor ray test: a floor point is in
// a light's shadow when the segment from it to the light crosses a caster.
// Shadowed probes show the ambient light only; lit ones add the light's
// diffuse term (per vertex: probes sit on the floor's vertices).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/scene/draw_fixture.h"

namespace draw_test {

namespace {

constexpr float kFloorY = 0.0f;

class SceneShadows : public DrawTest {
 protected:
  void Build(const std::vector<ShadowLight>& lights, const std::vector<Box>& casters, bool casters_cast = true) {
    AddSystemMaterials();
    scene::MeshElement floor = Element("RECEIVER");
    AddFloor(&floor, 12.0f, 48, kFloorY, 0xFFFFFFFFu);
    file_.meshes = {Mesh("FLOOR", "RECEIVER", {floor})};
    for (size_t i = 0; i < casters.size(); ++i) {
      scene::MeshElement box = Element(casters_cast ? "CASTER" : "PLAIN");
      AddBox(&box, {0, 0, 0}, casters[i].half, 0xFFFFFFFFu);
      file_.meshes.push_back(Mesh("BOX" + std::to_string(i), "", {box}, casters[i].centre));
    }
    for (const ShadowLight& l : lights) file_.lights.push_back(PointLight(l.position, l.diffuse, l.ambient));
    Load();
    scene_.shadows = true;
    lights_ = lights;
    casters_ = casters;
  }

  // Checks every floor vertex on screen, not hidden behind a caster and not
  // near a shadow's edge. Returns {shadowed by at least one light, lit by all}.
  std::pair<int, int> Check(const std::vector<uint32_t>& pixels, bool expect_shadows = true) {
    const Vec3 eye = scene_.view.Position();
    int shadowed = 0, lit = 0;
    for (float x = -11.5f; x <= 11.5f; x += 0.5f) {
      for (float z = -11.5f; z <= 11.5f; z += 0.5f) {
        const Vec3 p{x, kFloorY, z};
        int px = 0, py = 0;
        if (!Project(p, &px, &py) || px < 2 || py < 2 || px >= kWidth - 2 || py >= kHeight - 2) continue;
        bool hidden = false;
        for (const Box& box : casters_) hidden = hidden || SegmentHitsBox(eye, p, box);
        if (hidden) continue;
        float expected = 0.0f;
        bool stable = true, any_shadow = false;
        for (const ShadowLight& l : lights_) expected += l.ambient;
        for (const ShadowLight& l : lights_) {
          const int s = expect_shadows ? Shadowed(p, l.position, casters_) : 0;
          if (s < 0) stable = false;
          if (s == 1) {
            any_shadow = true;
            continue;
          }
          const Vec3 to_light = scene::Sub(l.position, p);
          expected += l.diffuse * std::fmax(0.0f, to_light.y / scene::Length(to_light));
        }
        if (!stable) continue;
        const uint32_t c = At(pixels, px, py);
        EXPECT_NEAR(Red(c), Byte(expected), 4) << "floor " << x << " " << z << (any_shadow ? " shadowed" : " lit");
        any_shadow ? ++shadowed : ++lit;
      }
    }
    return {shadowed, lit};
  }

  std::vector<ShadowLight> lights_;
  std::vector<Box> casters_;
};

TEST_F(SceneShadows, BoxOverAFloorUnderAPointLight) {
  file_.cameras[0] = Camera({0, 14, -9}, {0, 0, 0});
  Build({{{0.5f, 8.0f, 0.3f}, 0.7f, 0.2f}}, {{{0, 2, 0}, {1, 1, 1}}});
  const auto [shadowed, lit] = Check(Render());
  EXPECT_GT(shadowed, 10);
  EXPECT_GT(lit, 100);
}

TEST_F(SceneShadows, TwoLightsEachCastTheirOwnShadow) {
  file_.cameras[0] = Camera({0, 14, -9}, {0, 0, 0});
  Build({{{0.5f, 8.0f, 0.3f}, 0.4f, 0.1f}, {{-6.0f, 6.0f, 1.0f}, 0.4f, 0.1f}}, {{{0, 2, 0}, {1, 1, 1}}});
  const auto [shadowed, lit] = Check(Render());
  EXPECT_GT(shadowed, 20);  // both shadows, each dark for one light only
  EXPECT_GT(lit, 100);
}

TEST_F(SceneShadows, ReceiversWithoutCastersGetAmbientAndEveryLight) {
  file_.cameras[0] = Camera({0, 14, -9}, {0, 0, 0});
  Build({{{0.5f, 8.0f, 0.3f}, 0.4f, 0.1f}, {{-6.0f, 6.0f, 1.0f}, 0.4f, 0.1f}}, {{{0, 2, 0}, {1, 1, 1}}}, false);
  const auto [shadowed, lit] = Check(Render(), false);
  EXPECT_EQ(shadowed, 0);
  EXPECT_GT(lit, 150);
}

// The camera stands inside the box's shadow volume, below the box.
TEST_F(SceneShadows, CameraInsideAVolume) {
  file_.cameras[0] = Camera({0, 1.5f, -0.5f}, {0, 0, 6});
  Build({{{0.0f, 10.0f, 0.0f}, 0.7f, 0.2f}}, {{{0, 4, 0}, {2, 1, 2}}});
  const auto [shadowed, lit] = Check(Render());
  EXPECT_GT(shadowed, 10);
  EXPECT_GT(lit, 10);
}

// The caster lies outside the frustum; its shadow falls inside.
TEST_F(SceneShadows, CasterOutsideTheFrustum) {
  file_.cameras[0] = Camera({0, 12, -0.01f}, {0, 0, 0}, {0, 0, 1});
  Build({{{20.0f, 6.0f, 0.0f}, 0.7f, 0.2f}}, {{{12, 4, 0}, {1, 1, 1}}});
  const std::vector<uint32_t> pixels = Render();
  int bx = 0, by = 0;
  EXPECT_FALSE(Project({12, 4, 0}, &bx, &by));  // the box is off screen
  const auto [shadowed, lit] = Check(pixels);
  EXPECT_GT(shadowed, 10);
  EXPECT_GT(lit, 50);
}

}  // namespace
}  // namespace draw_test

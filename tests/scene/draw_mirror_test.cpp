// Planar mirrors: the reflection shows each point P where the camera sees
// its image R(P); what lies behind a mirror never shows; a mirror seen from
// behind only hides; mirrors are not reflected twice; shadows appear in a
// reflection.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/scene/draw_fixture.h"

namespace draw_test {

namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kMagenta = 0xFFFF00FFu;

scene::MeshElement BoxElement(Vec3 centre, Vec3 half, uint32_t colour, const std::string& material = "PLAIN") {
  scene::MeshElement e = Element(material);
  AddBox(&e, centre, half, colour);
  return e;
}

// An 8 × 8 mirror in the plane z = zm, facing -z (or +z).
scene::SceneMesh MirrorMesh(const std::string& name, float zm, bool facing_minus_z, float y0 = -4.0f,
                            float y1 = 4.0f) {
  scene::MeshElement glass = Element("MIRROR");
  if (facing_minus_z) AddQuad(&glass, {-4, y0, zm}, {0, y1 - y0, 0}, {8, 0, 0}, 0xFF808080u);
  else AddQuad(&glass, {-4, y0, zm}, {8, 0, 0}, {0, y1 - y0, 0}, 0xFF808080u);
  return Mesh(name, "MIRROR", {glass});
}

Vec3 Image(Vec3 p, float zm) { return {p.x, p.y, 2.0f * zm - p.z}; }

class SceneMirrors : public DrawTest {
 protected:
  void SetUp() override {
    DrawTest::SetUp();
    file_.cameras[0] = Camera({0, 0, -10}, {0, 0, 0});
  }
  // A red box left of a green one, in front of the mirror and above the
  // camera's line so that object and image never overlap on screen; a blue
  // box behind the mirror.
  void StandardScene() {
    file_.meshes = {MirrorMesh("MIRROR", 0.0f, true),
                    Mesh("PAIR", "PLAIN",
                         {BoxElement({1.0f, 1.5f, -4.0f}, {0.5f, 0.5f, 0.5f}, kRed),
                          BoxElement({2.0f, 1.5f, -4.0f}, {0.5f, 0.5f, 0.5f}, kGreen)}),
                    Mesh("BEHIND", "PLAIN", {BoxElement({0, 0, 3}, {1, 1, 1}, kBlue)})};
  }
};

TEST_F(SceneMirrors, ReflectionShowsEachPointAtItsImageWithoutSwappingSides) {
  StandardScene();
  Load();
  ASSERT_EQ(scene_.mirrors.Count(), 1);
  scene_.vertex_colours = true;
  const std::vector<uint32_t> pixels = Render();
  // Directly.
  EXPECT_EQ(PixelOf(pixels, {1.0f, 1.5f, -4.5f}), kRed);
  EXPECT_EQ(PixelOf(pixels, {2.0f, 1.5f, -4.5f}), kGreen);
  // In the mirror: the faces turned to it, at their images' positions.
  EXPECT_EQ(PixelOf(pixels, Image({1.0f, 1.5f, -3.5f}, 0.0f)), kRed);
  EXPECT_EQ(PixelOf(pixels, Image({2.0f, 1.5f, -3.5f}, 0.0f)), kGreen);
  EXPECT_EQ(PixelOf(pixels, Image({0.8f, 1.3f, -3.5f}, 0.0f)), kRed);
  EXPECT_EQ(PixelOf(pixels, Image({2.2f, 1.7f, -3.5f}, 0.0f)), kGreen);
  // Beside the images the mirror shows the empty room.
  EXPECT_EQ(PixelOf(pixels, {-2.0f, -2.0f, 0.0f}) & 0xFFFFFFu, 0u);
  // The box behind the mirror shows nowhere.
  for (uint32_t p : pixels) ASSERT_EQ(Blue(p), 0);
}

TEST_F(SceneMirrors, MirrorSeenFromBehindOnlyHides) {
  StandardScene();
  file_.cameras[0] = Camera({0, 0, 10}, {0, 0, 0});
  Load();
  scene_.vertex_colours = true;
  const std::vector<uint32_t> pixels = Render();
  // The blue box stands before the camera; the pair is behind the mirror.
  EXPECT_EQ(PixelOf(pixels, {0, 0, 4}), kBlue);
  for (uint32_t p : pixels) {
    ASSERT_EQ(Red(p), 0);
    ASSERT_EQ(Green(p), 0);
  }
  // No reflection of the blue box: blue only where it stands.
  int blue = 0;
  for (uint32_t p : pixels) blue += Blue(p) > 0;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  ASSERT_TRUE(Project({-1, 1, 4}, &x0, &y0));
  ASSERT_TRUE(Project({1, -1, 4}, &x1, &y1));
  EXPECT_LE(blue, (std::abs(x1 - x0) + 2) * (std::abs(y1 - y0) + 2));
}

// Two mirrors facing each other: a marker behind the camera shows once in
// the front mirror, never again through the image of the mirror behind.
TEST_F(SceneMirrors, MirrorInsideAReflectionIsNotReflectedAgain) {
  file_.meshes = {MirrorMesh("FRONT", 0.0f, true), MirrorMesh("BACK", -20.0f, false),
                  Mesh("MARKER", "PLAIN", {BoxElement({3, 3, -15}, {0.4f, 0.4f, 0.4f}, kMagenta)})};
  Load();
  ASSERT_EQ(scene_.mirrors.Count(), 2);
  scene_.vertex_colours = true;
  const std::vector<uint32_t> pixels = Render();
  EXPECT_EQ(PixelOf(pixels, Image({3, 3, -14.6f}, 0.0f)), kMagenta);
  // Its image in the back mirror, seen in the front one, would be here.
  const Vec3 twice = Image(Image({3, 3, -15.4f}, -20.0f), 0.0f);
  EXPECT_EQ(PixelOf(pixels, twice) & 0xFFFFFFu, 0u);
  int magenta = 0;
  for (uint32_t p : pixels) magenta += (p & 0xFFFFFFu) == 0xFF00FFu;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  ASSERT_TRUE(Project(Image({2.6f, 2.6f, -14.6f}, 0.0f), &x0, &y0));
  ASSERT_TRUE(Project(Image({3.4f, 3.4f, -14.6f}, 0.0f), &x1, &y1));
  EXPECT_LE(magenta, (std::abs(x1 - x0) + 2) * (std::abs(y1 - y0) + 2));
}

// A box shadowing a floor in front of a wall mirror: the floor's image
// shows the same shadow.
TEST_F(SceneMirrors, ShadowsInsideAReflection) {
  ASSERT_EQ(manager_.ParseShaderText(kSystemMaterials, "system.txt"), 0);
  file_.cameras[0] = Camera({0, 5, -11}, {0, 0, 4});
  scene::MeshElement floor = Element("RECEIVER");
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 24; ++j)
      AddQuad(&floor, {-10.0f + 0.5f * static_cast<float>(i), 0.0f, -12.0f + 0.5f * static_cast<float>(j)},
              {0, 0, 0.5f}, {0.5f, 0, 0}, 0xFFFFFFFFu);
  const Box box{{-1.5f, 1.5f, -3.5f}, {0.7f, 0.5f, 0.7f}};
  const Vec3 light{-3.5f, 6.0f, -6.0f};
  file_.meshes = {MirrorMesh("MIRROR", 0.0f, true, 0.0f, 8.0f), Mesh("FLOOR", "RECEIVER", {floor}),
                  Mesh("BOX", "CASTER", {BoxElement({0, 0, 0}, box.half, 0xFFFFFFFFu, "CASTER")}, box.centre)};
  file_.lights = {PointLight(light, 0.7f, 0.2f)};
  Load();
  scene_.shadows = true;
  const std::vector<uint32_t> pixels = Render();
  const Vec3 eye = scene_.view.Position();
  // Sight lines that pass near the box or its image are left out (a pixel's
  // width of margin).
  const Vec3 margin{box.half.x + 0.3f, box.half.y + 0.3f, box.half.z + 0.3f};
  const Box near_box{box.centre, margin}, image{Image(box.centre, 0.0f), margin};
  int shadowed = 0, lit = 0;
  for (float x = -3.5f; x <= 3.5f; x += 0.5f) {
    for (float z = -7.0f; z <= -0.5f; z += 0.5f) {
      const Vec3 p{x, 0.0f, z}, r = Image(p, 0.0f);
      // Where the sight line to the image crosses the mirror.
      const float t = (0.0f - eye.z) / (r.z - eye.z);
      const Vec3 m{eye.x + (r.x - eye.x) * t, eye.y + (r.y - eye.y) * t, 0.0f};
      if (std::fabs(m.x) > 3.8f || m.y < 0.2f || m.y > 7.8f) continue;
      if (SegmentHitsBox(eye, m, near_box) || SegmentHitsBox(m, r, image)) continue;
      const int s = Shadowed(p, light, {box});
      if (s < 0) continue;
      const Vec3 to_light = scene::Sub(light, p);
      const float expected = s == 1 ? 0.2f : 0.2f + 0.7f * to_light.y / scene::Length(to_light);
      EXPECT_NEAR(Red(PixelOf(pixels, r)), Byte(expected), 4) << x << " " << z << (s ? " shadowed" : " lit");
      s == 1 ? ++shadowed : ++lit;
    }
  }
  EXPECT_GT(shadowed, 3);
  EXPECT_GT(lit, 10);
}

// A mirror's children are drawn like any object, placed by the mirror.
TEST_F(SceneMirrors, MirrorChildrenAreDrawn) {
  file_.meshes = {MirrorMesh("MIRROR", 0.0f, true),
                  Mesh("FRAME", "PLAIN", {BoxElement({0, 0, 0}, {0.5f, 0.5f, 0.5f}, kRed)}, {3.0f, 3.0f, -1.0f})};
  file_.meshes[0].position = {0.5f, 0.0f, 0.0f};
  file_.meshes[1].parent = 0;
  Load();
  scene_.vertex_colours = true;
  EXPECT_EQ(PixelOf(Render(), {3.5f, 3.0f, -1.5f}), kRed);
}

TEST_F(SceneMirrors, MirrorWithoutAPlaneIsSkippedAndSaidOnce) {
  scene::MeshElement flat = Element("MIRROR");
  flat.vertices = {{{0, 0, 0}}, {{1, 1, 0}}, {{2, 2, 0}}};
  flat.indices = {0, 1, 2};
  file_.meshes = {Mesh("FLAT", "MIRROR", {flat})};
  Load();
  Render();
  Render();
  int count = 0;
  for (const std::string& m : messages) count += m.find("no plane") != std::string::npos;
  EXPECT_EQ(count, 1) << AllMessages();
}

}  // namespace
}  // namespace draw_test

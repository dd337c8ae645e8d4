// The device's fixed-function emulation against Mesa's own fixed-function
// pipeline (ff_oracle.h): lighting, texture-coordinate generation, clip
// planes and fog on the same inputs. Interior pixels may differ by at most
// 3 levels per channel (1 on average); coverage by at most 0.5 % of the
// pixels. The oracle fails, never skips, when its context cannot be made.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/render/ff_oracle.h"

namespace {

using namespace render;
using render_test::Agreement;
using render_test::DeviceTest;
using render_test::FfOracle;
using render_test::LitVertex;
using render_test::OracleScene;

class OracleTest : public DeviceTest {
 protected:
  static void SetUpTestSuite() {
    DeviceTest::SetUpTestSuite();
    std::string error;
    oracle_ = FfOracle::Create(&error).release();
    error_ = new std::string(error);
  }
  static void TearDownTestSuite() {
    delete oracle_;
    oracle_ = nullptr;
    delete error_;
    error_ = nullptr;
    DeviceTest::TearDownTestSuite();
  }
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_NE(oracle_, nullptr) << *error_;
  }
  // Draws with both, writes the artifact and checks the agreement.
  void ExpectAgreement(const OracleScene& scene, const char* name) {
    std::vector<uint32_t> ours, mesa;
    ASSERT_EQ(oracle_->Draw(scene, &mesa), 0);
    ASSERT_EQ(render_test::DrawOnDevice(device_, scene, &ours), 0);
    render_test::WriteArtifact(name, ours, mesa, scene.width, scene.height);
    Agreement a = render_test::Compare(ours, mesa, scene.width, scene.height);
    EXPECT_GT(a.interior, 500) << name;
    EXPECT_LE(a.max_difference, 3) << name;
    EXPECT_LE(a.mean_difference, 1.0) << name;
    EXPECT_LE(a.coverage_mismatch, 0.005) << name;
  }

  static FfOracle* oracle_;
  static std::string* error_;
};
FfOracle* OracleTest::oracle_ = nullptr;
std::string* OracleTest::error_ = nullptr;

// A 40 x 40 sphere of radius r, vertex colours varying with the angles.
std::vector<LitVertex> Sphere(float r, int slices = 40, int stacks = 40) {
  auto vertex = [&](int i, int j) {
    double theta = M_PI * j / stacks, phi = 2 * M_PI * i / slices;
    float nx = static_cast<float>(std::sin(theta) * std::cos(phi)), ny = static_cast<float>(std::cos(theta)),
          nz = static_cast<float>(std::sin(theta) * std::sin(phi));
    uint32_t color = ColorArgb(255, 128 + i * 3, 80 + j * 4, 200 - i * 2);
    return LitVertex{r * nx, r * ny, r * nz, nx, ny, nz, color, 0xffffffff, 0, 0};
  };
  std::vector<LitVertex> out;
  for (int j = 0; j < stacks; ++j)
    for (int i = 0; i < slices; ++i) {
      LitVertex a = vertex(i, j), b = vertex(i + 1, j), c = vertex(i + 1, j + 1), d = vertex(i, j + 1);
      out.insert(out.end(), {a, b, c, a, c, d});
    }
  return out;
}

OracleScene SphereScene() {
  OracleScene scene;
  scene.vertices = Sphere(1.6f);
  scene.world = Multiply(render_test::RotationY(0.4f), render_test::Translation(0.3f, -0.2f, 6.0f));
  scene.view = Multiply(render_test::Translation(0.2f, 0.1f, 0.5f), render_test::RotationX(0.15f));
  scene.projection = render_test::Perspective(0.9f, 1.0f, 30.0f);
  return scene;
}

Light Point(float x, float y, float z, ColorValue diffuse, ColorValue specular, ColorValue ambient, float a0,
            float a1, float a2) {
  Light l = render_test::PointLight(diffuse, {x, y, z}, a0, a1, a2, 1e6f);
  l.specular = specular;
  l.ambient = ambient;
  return l;
}

TEST_F(OracleTest, LitSphereWithFourLightsSpecularLocalAndNonLocal) {
  OracleScene scene = SphereScene();
  scene.lighting = true;
  scene.lights = {
      Point(-3, 2, 3, {0.7f, 0.3f, 0.2f, 1}, {0.6f, 0.6f, 0.5f, 1}, {0.05f, 0.02f, 0.0f, 1}, 0.5f, 0.1f, 0.0f),
      Point(3, 1, 4, {0.1f, 0.5f, 0.3f, 1}, {0.3f, 0.5f, 0.6f, 1}, {0.0f, 0.05f, 0.03f, 1}, 0.2f, 0.0f, 0.02f),
      Point(0, -3, 5, {0.2f, 0.2f, 0.6f, 1}, {0.4f, 0.4f, 0.4f, 1}, {0, 0, 0.06f, 1}, 1.0f, 0.05f, 0.01f),
      render_test::DirectionalLight({0.3f, 0.3f, 0.25f, 1}, {0.5f, -0.6f, 0.6f}),
  };
  scene.lights[3].specular = {0.5f, 0.4f, 0.3f, 1};
  scene.material.diffuse = {0.9f, 0.8f, 0.7f, 1};
  scene.material.ambient = {0.6f, 0.7f, 0.8f, 1};
  scene.material.specular = {0.8f, 0.8f, 0.9f, 1};
  scene.material.emissive = {0.05f, 0.03f, 0.08f, 1};
  scene.material.power = 24.0f;
  scene.ambient = ColorArgb(0, 0x20, 0x18, 0x28);
  scene.specular = true;
  scene.color_vertex_diffuse = true;
  scene.local_viewer = true;
  ExpectAgreement(scene, "oracle_sphere_local");
  scene.local_viewer = false;
  scene.material.power = 128.0f;
  ExpectAgreement(scene, "oracle_sphere_nonlocal");
  scene.color_vertex_diffuse = false;
  scene.normalize = true;
  scene.world = Multiply(Multiply(render_test::Scaling(0.7f), render_test::RotationY(0.4f)),
                         render_test::Translation(0.3f, -0.2f, 6.0f));
  ExpectAgreement(scene, "oracle_sphere_scaled_normalized");
}

// Six faces of distinct gradients, so every direction samples a different
// colour.
OracleScene CubeScene(int texgen) {
  OracleScene scene = SphereScene();
  scene.texgen = texgen;
  scene.cube_edge = 16;
  for (int face = 0; face < 6; ++face) {
    scene.cube_faces[face].resize(16 * 16);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        scene.cube_faces[face][y * 16 + x] =
            ColorArgb(255, (face * 40 + x * 12) & 0xff, (255 - face * 30 - y * 10) & 0xff, (x * y + face * 20) & 0xff);
  }
  // The camera orientation: camera space back to the world.
  scene.texture_matrix = render_test::Transpose(scene.view);
  scene.texture_matrix.m[3][0] = scene.texture_matrix.m[3][1] = scene.texture_matrix.m[3][2] = 0.0f;
  scene.texture_matrix.m[0][3] = scene.texture_matrix.m[1][3] = scene.texture_matrix.m[2][3] = 0.0f;
  return scene;
}

TEST_F(OracleTest, NormalAndReflectionTexgenIntoACube) {
  ExpectAgreement(CubeScene(1), "oracle_normal_map");
  ExpectAgreement(CubeScene(2), "oracle_reflection_map");
}

TEST_F(OracleTest, ClipPlanesOnALitSphere) {
  OracleScene scene = SphereScene();
  scene.lighting = true;
  scene.lights = {render_test::DirectionalLight({0.8f, 0.7f, 0.6f, 1}, {0.3f, -0.4f, 0.8f})};
  scene.material.diffuse = {1, 1, 1, 1};
  scene.material.ambient = {0.3f, 0.3f, 0.3f, 1};
  scene.ambient = ColorArgb(0, 0x40, 0x40, 0x40);
  scene.planes = {{{1, 0.2f, 0, -0.1f}}, {{0, -1, 0.3f, -0.5f}}};
  ExpectAgreement(scene, "oracle_clip_planes");
}

TEST_F(OracleTest, FogOnScreenParallelQuads) {
  OracleScene scene;
  scene.projection = render_test::Ortho(2.0f, 10.0f);  // depth = z / 10
  const float depths[4] = {1.5f, 3.5f, 5.5f, 7.5f};
  for (int q = 0; q < 4; ++q) {
    float x0 = -1.9f + q * 0.95f, x1 = x0 + 0.9f, z = depths[q];
    LitVertex a{x0, -1.9f, z, 0, 0, -1, 0xffd0a070, 0, 0, 0}, b{x1, -1.9f, z, 0, 0, -1, 0xff60c0e0, 0, 0, 0},
        c{x1, 1.9f, z, 0, 0, -1, 0xffffffff, 0, 0, 0}, d{x0, 1.9f, z, 0, 0, -1, 0xff4080ff, 0, 0, 0};
    scene.vertices.insert(scene.vertices.end(), {a, b, c, a, c, d});
    for (int k = 0; k < 6; ++k) scene.fog_coords.push_back(z / 10.0f);
  }
  scene.fog_color = ColorArgb(255, 0x30, 0x60, 0x90);
  struct Case {
    FogMode mode;
    float start, end, density;
    const char* name;
  };
  const Case cases[] = {{FOG_LINEAR, 0.1f, 0.8f, 0, "oracle_fog_linear"},
                        {FOG_EXP, 0, 1, 2.5f, "oracle_fog_exp"},
                        {FOG_EXP2, 0, 1, 2.5f, "oracle_fog_exp2"}};
  for (const Case& c : cases) {
    scene.fog = c.mode;
    scene.fog_start = c.start;
    scene.fog_end = c.end;
    scene.fog_density = c.density;
    ExpectAgreement(scene, c.name);
  }
}

}  // namespace

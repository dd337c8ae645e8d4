// Vertex lighting of the device, read back as pixels and compared with
// Direct3D 8's lighting worked out by hand; the refusals of bad lights and
// materials; what reaches GL when nothing changes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "render/test_hooks.h"
#include "tests/render/lighting_util.h"

namespace {

using namespace render;
using render_test::Device3dTest;
using render_test::DirectionalLight;
using render_test::DrawLit;
using render_test::kFvfLit;
using render_test::PointLight;
using render_test::ReadTarget;
using render_test::Rgb;
using render_test::RgbNear;
using render_test::RotationX;
using render_test::RotationY;
using render_test::Scaling;
using render_test::Translation;
using render_test::Square;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A face looking at the camera has the normal (0, 0, -1).
class LightingTest : public Device3dTest {
 protected:
  void SetUp() override {
    Device3dTest::SetUp();
    device_->SetRenderState(RS_LIGHTING, 1);
  }
};

TEST_F(LightingTest, DirectionalLightAtSixtyDegreesPlusGlobalAmbient) {
  device_->SetMaterial(MakeMaterial({0.8f, 0.6f, 0.4f, 1}, {0.5f, 0.5f, 0.5f, 1}));
  device_->SetRenderState(RS_AMBIENT, ColorArgb(0, 0x20, 0x40, 0x60));
  // L = -direction makes 60 degrees with the normal: n.L = 0.5.
  ASSERT_EQ(device_->SetLight(0, DirectionalLight({1.0f, 0.8f, 0.6f, 1}, {std::sqrt(0.75f), 0.0f, 0.5f})), kOk);
  ASSERT_EQ(device_->LightEnable(0, true), kOk);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.5 * 1.0 * 0.8 + 0x20 / 255.0 * 0.5, 0.5 * 0.8 * 0.6 + 0x40 / 255.0 * 0.5,
                                    0.5 * 0.6 * 0.4 + 0x60 / 255.0 * 0.5),
                      1))
      << std::hex << Centre();
}

TEST_F(LightingTest, PointLightAttenuationRangeAndAmbientOnAFaceTurnedAway) {
  // Every corner of the square (-1..1)^2 at z = 5 is 4 from the light at
  // z = 5 - sqrt(14), so the whole face gets one value: att = 1 / (0.5 * 4),
  // n.L = sqrt(14) / 4.
  const float lz = 5.0f - std::sqrt(14.0f);
  Light light = PointLight({1.0f, 0.5f, 0.25f, 1}, {0, 0, lz}, 0.0f, 0.5f, 0.0f, 100.0f);
  light.ambient = {0.4f, 0.2f, 0.6f, 1};
  device_->SetMaterial(MakeMaterial({1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1}));
  struct Case {
    const char* what;
    float range, nz;
    double r, g, b;
  };
  const double ndotl = std::sqrt(14.0) / 4.0;
  const Case cases[] = {
      {"facing the light", 100.0f, -1.0f, 0.5 * ndotl + 0.5 * 0.5 * 0.4, 0.5 * 0.5 * ndotl + 0.5 * 0.5 * 0.2,
       0.5 * 0.25 * ndotl + 0.5 * 0.5 * 0.6},
      {"beyond its range", 3.9f, -1.0f, 0, 0, 0},
      {"turned away: its ambient only", 100.0f, 1.0f, 0.5 * 0.5 * 0.4, 0.5 * 0.5 * 0.2, 0.5 * 0.5 * 0.6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    light.range = c.range;
    ASSERT_EQ(device_->SetLight(2, light), kOk);
    device_->LightEnable(2, true);
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff0000ff, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, c.nz)), kOk);
    EXPECT_TRUE(RgbNear(Centre(), Rgb(c.r, c.g, c.b), 1)) << std::hex << Centre();
  }
}

TEST_F(LightingTest, EmissiveAloneAndNoNormal) {
  device_->SetMaterial(MakeMaterial({1, 1, 1, 1}, {1, 1, 1, 1}, {}, {0.2f, 0.4f, 0.6f, 1}));
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.2, 0.4, 0.6), 1));
  // A vertex without a normal gets ambient and emissive only.
  device_->SetLight(0, DirectionalLight({1, 1, 1, 1}, {0, 0, 1}));
  device_->LightEnable(0, true);
  device_->SetRenderState(RS_AMBIENT, ColorArgb(0, 0x33, 0x33, 0x33));
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1), FVF_XYZ | FVF_DIFFUSE), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.4, 0.6, 0.8), 1)) << std::hex << Centre();
}

TEST_F(LightingTest, SpecularWithAndWithoutLocalViewer) {
  // A light along +Z on the face at z = 5 with corners (+-1, +-1): all
  // corners see the same half vector, so the face is uniform.
  Light light = DirectionalLight({0, 0, 0, 1}, {0, 0, 1});
  light.specular = {0.5f, 0.5f, 0.5f, 1};
  device_->SetLight(0, light);
  device_->LightEnable(0, true);
  device_->SetMaterial(MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 1}, {1.0f, 0.8f, 0.6f, 1}, {}, 10.0f));
  device_->SetRenderState(RS_SPECULARENABLE, 1);
  // Non-local: V = (0, 0, -1) = L, so n.H = 1.
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.5, 0.4, 0.3), 1)) << std::hex << Centre();
  // Local: V = -p / |p| = (-1, -1, -5) / sqrt(27); H = normalise(L + V).
  double vx = -1 / std::sqrt(27.0), vz = -5 / std::sqrt(27.0);
  double hz = (-1 + vz) / std::sqrt(2 * vx * vx + (-1 + vz) * (-1 + vz));
  double s = std::pow(-hz, 10.0);
  device_->SetRenderState(RS_LOCALVIEWER, 1);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.5 * s, 0.4 * s, 0.3 * s), 1)) << std::hex << Centre() << " s " << s;
  EXPECT_LT(s, 0.95);  // the two really differ
  // SPECULARENABLE off adds nothing.
  device_->SetRenderState(RS_SPECULARENABLE, 0);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), 0, 0)) << std::hex << Centre();
}

TEST_F(LightingTest, ColorVertexPicksEachSourceAndFallsBackToTheMaterial) {
  const uint32_t kDiffuse = ColorArgb(255, 0x40, 0x80, 0xc0), kSpecular = ColorArgb(255, 0xc0, 0x60, 0x20);
  const double d[3] = {0x40 / 255.0, 0x80 / 255.0, 0xc0 / 255.0}, sp[3] = {0xc0 / 255.0, 0x60 / 255.0, 0x20 / 255.0};
  const double m[3] = {0.5, 0.25, 1.0};  // every material colour
  Light light = DirectionalLight({1, 1, 1, 1}, {0, 0, 1});  // n.L = 1
  light.specular = {1, 1, 1, 1};
  device_->SetLight(0, light);
  device_->SetMaterial(MakeMaterial({0.5f, 0.25f, 1, 1}, {0.5f, 0.25f, 1, 1}, {0.5f, 0.25f, 1, 1}));
  device_->SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_MATERIAL);
  device_->SetRenderState(RS_EMISSIVEMATERIALSOURCE, MCS_MATERIAL);
  device_->SetRenderState(RS_AMBIENTMATERIALSOURCE, MCS_MATERIAL);
  device_->SetRenderState(RS_SPECULARMATERIALSOURCE, MCS_MATERIAL);
  struct Case {
    const char* what;
    RenderStateType state;
    uint32_t source;
    bool color_vertex, light_on, specular;
    uint32_t fvf;
    const double* expected;
  };
  const uint32_t kNoColours = FVF_XYZ | FVF_NORMAL | FVF_TEX1;
  const Case cases[] = {
      {"diffuse from colour 1", RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1, true, true, false, kFvfLit, d},
      {"diffuse from colour 2", RS_DIFFUSEMATERIALSOURCE, MCS_COLOR2, true, true, false, kFvfLit, sp},
      {"diffuse from a missing colour", RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1, true, true, false, kNoColours, m},
      {"diffuse with COLORVERTEX off", RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1, false, true, false, kFvfLit, m},
      {"emissive from colour 1", RS_EMISSIVEMATERIALSOURCE, MCS_COLOR1, true, false, false, kFvfLit, d},
      {"ambient from colour 2", RS_AMBIENTMATERIALSOURCE, MCS_COLOR2, true, false, false, kFvfLit, sp},
      {"specular from colour 2", RS_SPECULARMATERIALSOURCE, MCS_COLOR2, true, true, true, kFvfLit, sp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device_->SetRenderState(c.state, c.source);
    device_->SetRenderState(RS_COLORVERTEX, c.color_vertex);
    device_->LightEnable(0, c.light_on);
    // Ambient cases see AMBIENT white; the specular case sees a black
    // diffuse material and no ambient so only the highlight shows.
    device_->SetRenderState(RS_AMBIENT, c.state == RS_AMBIENTMATERIALSOURCE ? 0xffffffff : 0);
    device_->SetRenderState(RS_SPECULARENABLE, c.specular);
    if (c.specular) device_->SetMaterial(MakeMaterial({0, 0, 0, 1}, {0, 0, 0, 1}, {0.5f, 0.25f, 1, 1}, {}, 4.0f));
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1, kDiffuse, kSpecular), c.fvf), kOk);
    EXPECT_TRUE(RgbNear(Centre(), Rgb(c.expected[0], c.expected[1], c.expected[2]), 1)) << std::hex << Centre();
    device_->SetRenderState(c.state, MCS_MATERIAL);
  }
}

// The pixels differing from black, and whether they all equal `colour`.
int CountCovered(const std::vector<uint32_t>& pixels, uint32_t colour, int* mismatches) {
  int covered = 0;
  *mismatches = 0;
  for (uint32_t p : pixels) {
    if ((p & 0xffffff) == 0) continue;
    ++covered;
    if (!RgbNear(p, colour, 1)) ++*mismatches;
  }
  return covered;
}

TEST_F(LightingTest, LightsStayInTheWorldWhenTheCameraMoves) {
  const float lz = 5.0f - std::sqrt(14.0f);
  device_->SetMaterial(MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 1}));
  device_->SetLight(0, PointLight({1, 1, 1, 1}, {0, 0, lz}, 0.0f, 0.5f, 0.0f, 100.0f));
  device_->LightEnable(0, true);
  const double v = 0.5 * std::sqrt(14.0) / 4.0;
  const Matrix views[] = {Matrix::Identity(), RotationY(0.2f), Multiply(Translation(0.5f, -0.3f, 1.0f), RotationX(0.1f))};
  for (const Matrix& view : views) {
    device_->SetTransform(TS_VIEW, view);
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
    int mismatches = 0;
    EXPECT_GT(CountCovered(ReadTarget(device_), Rgb(v, v, v), &mismatches), 100);
    EXPECT_EQ(mismatches, 0);
  }
}

TEST_F(LightingTest, ScaledWorldNeedsNormalizeNormals) {
  device_->SetMaterial(MakeMaterial({0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 1}));
  device_->SetLight(0, DirectionalLight({1, 1, 1, 1}, {0, 0, 1}));
  device_->LightEnable(0, true);
  device_->SetTransform(TS_WORLD, Scaling(2.0f));
  // The inverse transpose of a scale by 2 halves the normal.
  ASSERT_EQ(DrawLit(device_, Square(0.5f, 2.5f, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.4, 0.4, 0.4), 1)) << std::hex << Centre();
  device_->SetRenderState(RS_NORMALIZENORMALS, 1);
  ASSERT_EQ(DrawLit(device_, Square(0.5f, 2.5f, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.8, 0.8, 0.8), 1)) << std::hex << Centre();
}

TEST_F(LightingTest, SpotConeFullInsideNoneOutside) {
  Light spot = PointLight({1, 1, 1, 1}, {0, 0, 0}, 1.0f, 0.0f, 0.0f, 100.0f);
  spot.type = LIGHT_SPOT;
  spot.direction = {0, 0, 1};
  spot.falloff = 1.0f;
  device_->SetMaterial(MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 1}));
  device_->SetLight(0, spot);
  device_->LightEnable(0, true);
  // A tiny face straight ahead: n.L ~ 1 inside a wide cone, 0 outside a
  // cone narrower than the face's direction allows.
  spot.theta = 1.0f;
  spot.phi = 1.5f;
  device_->SetLight(0, spot);
  ASSERT_EQ(DrawLit(device_, Square(0.05f, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(1, 1, 1), 1)) << std::hex << Centre();
  // Turned away by 0.5 rad: outside a cone of phi = 0.4.
  spot.direction = {std::sin(0.5f), 0, std::cos(0.5f)};
  spot.theta = 0.2f;
  spot.phi = 0.4f;
  device_->SetLight(0, spot);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff0000ff, 1.0f, 0);
  ASSERT_EQ(DrawLit(device_, Square(0.05f, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), 0, 0)) << std::hex << Centre();
}

// ---------------------------------------------------------------------------
// Bad input
// ---------------------------------------------------------------------------

TEST_F(LightingTest, BadLightsAreRefusedAndTheOldRecordKept) {
  const Light good = PointLight({0.5f, 0.5f, 0.5f, 1}, {1, 2, 3}, 1, 0, 0, 10);
  ASSERT_EQ(device_->SetLight(1, good), kOk);
  struct Case {
    const char* what;
    Light light;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, auto change) {
    Light l = good;
    change(l);
    cases.push_back({what, l});
  };
  with("NaN colour", [](Light& l) { l.diffuse.g = kNaN; });
  with("NaN position", [](Light& l) { l.position.z = kNaN; });
  with("NaN attenuation", [](Light& l) { l.attenuation1 = kNaN; });
  with("NaN range", [](Light& l) { l.range = kNaN; });
  with("negative attenuation", [](Light& l) { l.attenuation2 = -0.1f; });
  with("negative range", [](Light& l) { l.range = -1.0f; });
  with("all attenuations 0", [](Light& l) { l.attenuation0 = 0.0f; });
  with("spot without direction", [](Light& l) { l.type = LIGHT_SPOT; });
  with("directional without direction", [](Light& l) { l.type = LIGHT_DIRECTIONAL; });
  with("unknown type", [](Light& l) { l.type = static_cast<LightType>(4); });
  with("infinite colour", [](Light& l) { l.specular.r = kInf; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(device_->SetLight(1, c.light), kErrInvalidCall);
    Light kept;
    ASSERT_EQ(device_->GetLight(1, &kept), kOk);
    EXPECT_TRUE(kept == good);
  }
  EXPECT_EQ(device_->SetLight(8, good), kErrInvalidCall);
  EXPECT_EQ(device_->LightEnable(8, true), kErrInvalidCall);
  Light none;
  EXPECT_EQ(device_->GetLight(5, &none), kErrInvalidCall);  // never set
  float nan_plane[4] = {1, 0, kNaN, 0}, plane[4] = {1, 2, 3, 4};
  ASSERT_EQ(device_->SetClipPlane(3, plane), kOk);
  EXPECT_EQ(device_->SetClipPlane(3, nan_plane), kErrInvalidCall);
  EXPECT_EQ(device_->SetClipPlane(8, plane), kErrInvalidCall);
  float kept_plane[4];
  ASSERT_EQ(device_->GetClipPlane(3, kept_plane), kOk);
  EXPECT_EQ(kept_plane[2], 3.0f);
  Material material = MakeMaterial({1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1});
  ASSERT_EQ(device_->SetMaterial(material), kOk);
  Material bad = material;
  bad.ambient.b = kNaN;
  EXPECT_EQ(device_->SetMaterial(bad), kErrInvalidCall);
  EXPECT_TRUE(device_->GetMaterial() == material);
}

TEST_F(LightingTest, InfiniteAttenuationAndALightOnTheVertexLightNothing) {
  device_->SetMaterial(MakeMaterial({1, 1, 1, 1}, {1, 1, 1, 1}, {}, {0.25f, 0.25f, 0.25f, 1}));
  Light light = PointLight({1, 1, 1, 1}, {0, 0, 4}, kInf, 0, 0, 100);
  light.ambient = {1, 1, 1, 1};
  ASSERT_EQ(device_->SetLight(0, light), kOk);
  device_->LightEnable(0, true);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.25, 0.25, 0.25), 1)) << std::hex << Centre();
  // A light sitting on a corner with a0 = 0: no NaN, the corner is lit
  // with what saturates, the face stays a number everywhere.
  light = PointLight({0, 0, 0, 1}, {-1, -1, 5}, 0.0f, 1.0f, 0.0f, 100.0f);
  ASSERT_EQ(device_->SetLight(0, light), kOk);
  device_->SetRenderState(RS_NORMALIZENORMALS, 1);
  device_->SetRenderState(RS_SPECULARENABLE, 1);
  device_->SetRenderState(RS_LOCALVIEWER, 1);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff0000ff, 1.0f, 0);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.25, 0.25, 0.25), 1)) << std::hex << Centre();
}

TEST_F(LightingTest, NegativePowerDrawsAsZeroAndDefaultLightAndReset) {
  // Power 0 and -5 both make (n.H)^0 = 1: the full specular colour.
  Light light = DirectionalLight({0, 0, 0, 1}, {0.3f, 0, 1});
  light.specular = {1, 1, 1, 1};
  device_->SetLight(0, light);
  device_->LightEnable(0, true);
  device_->SetRenderState(RS_SPECULARENABLE, 1);
  for (float power : {0.0f, -5.0f}) {
    device_->SetMaterial(MakeMaterial({0, 0, 0, 1}, {0, 0, 0, 1}, {0.6f, 0.4f, 0.2f, 1}, {}, power));
    ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
    EXPECT_TRUE(RgbNear(Centre(), Rgb(0.6, 0.4, 0.2), 1)) << power << std::hex << " " << Centre();
  }
  // A light enabled without being set is white, directional, along +Z.
  device_->SetRenderState(RS_SPECULARENABLE, 0);
  device_->SetMaterial(MakeMaterial({0.5f, 0.75f, 1, 1}, {0, 0, 0, 1}));
  device_->LightEnable(0, false);
  ASSERT_EQ(device_->LightEnable(6, true), kOk);
  Light made;
  ASSERT_EQ(device_->GetLight(6, &made), kOk);
  EXPECT_EQ(made.type, LIGHT_DIRECTIONAL);
  EXPECT_TRUE(made.direction == (Vector{0, 0, 1}));
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_TRUE(RgbNear(Centre(), Rgb(0.5, 0.75, 1.0), 1)) << std::hex << Centre();
  // Reset puts every light and plane out.
  ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), kOk);
  bool on = true;
  ASSERT_EQ(device_->GetLightEnable(6, &on), kOk);
  EXPECT_FALSE(on);
  EXPECT_EQ(device_->GetLight(6, &made), kErrInvalidCall);
  EXPECT_EQ(device_->GetRenderState(RS_CLIPPLANEENABLE), 0u);
}

// ---------------------------------------------------------------------------
// What reaches GL
// ---------------------------------------------------------------------------

TEST_F(LightingTest, RepeatedLitFoggedClippedDrawIssuesOnlyTheDraw) {
  auto vertices = Square(1, 5, 0, 0, -1);
  auto buffer = device_->CreateVertexBuffer(static_cast<uint32_t>(vertices.size() * sizeof vertices[0]), 0, kFvfLit,
                                            POOL_MANAGED);
  ASSERT_NE(buffer, nullptr);
  void* data = nullptr;
  ASSERT_EQ(buffer->Lock(0, 0, &data, 0), kOk);
  std::memcpy(data, vertices.data(), vertices.size() * sizeof vertices[0]);
  buffer->Unlock();
  const Light light = PointLight({1, 1, 1, 1}, {0, 0, 1}, 1, 0.1f, 0, 100);
  const float plane[4] = {1, 0, 0, 0.5f};
  const Material material = MakeMaterial({1, 0.5f, 0.5f, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {}, 8);
  auto frame = [&]() {
    // Everything set again before the draw, as drawing code does.
    device_->SetRenderState(RS_LIGHTING, 1);
    device_->SetRenderState(RS_SPECULARENABLE, 1);
    device_->SetRenderState(RS_FOGENABLE, 1);
    device_->SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
    device_->SetRenderState(RS_FOGSTART, FloatBits(0.1f));
    device_->SetRenderState(RS_FOGEND, FloatBits(0.9f));
    device_->SetRenderState(RS_CLIPPLANEENABLE, 1);
    device_->SetClipPlane(0, plane);
    device_->SetLight(0, light);
    device_->LightEnable(0, true);
    device_->SetMaterial(material);
    device_->SetTransform(TS_WORLD, Matrix::Identity());
    device_->SetTransform(TS_VIEW, Matrix::Identity());
    device_->SetFVF(kFvfLit);
    device_->SetStreamSource(0, buffer, sizeof(render_test::LitVertex));
    return device_->DrawPrimitive(PT_TRIANGLELIST, 0, 2);
  };
  ASSERT_EQ(frame(), kOk);
  ASSERT_EQ(frame(), kOk);
  uint64_t builds = ProgramBuildCount();
  uint64_t calls = GlCallCount();
  ASSERT_EQ(frame(), kOk);
  EXPECT_EQ(GlCallCount() - calls, 1u);
  EXPECT_EQ(ProgramBuildCount(), builds);
  // The lit result is really there: red-ish, left part clipped at x = -0.5.
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[32 * 64 + 10] & 0xffffff, 0u);  // x = -1.4: clipped
  EXPECT_NE(pixels[32 * 64 + 32] & 0xff0000, 0u);
}

TEST_F(LightingTest, StatesThatChangeNothingBuildNoProgram) {
  device_->SetRenderState(RS_LIGHTING, 0);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  uint64_t builds = ProgramBuildCount();
  // Unlit, untextured: normals, viewer, material sources, fog values
  // and planes that are not enabled change nothing.
  device_->SetRenderState(RS_NORMALIZENORMALS, 1);
  device_->SetRenderState(RS_LOCALVIEWER, 1);
  device_->SetRenderState(RS_COLORVERTEX, 1);
  device_->SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR2);
  device_->SetRenderState(RS_FOGSTART, FloatBits(0.3f));
  device_->SetRenderState(RS_FOGVERTEXMODE, FOG_EXP);  // fog itself is off
  device_->LightEnable(3, true);                       // lighting is off
  device_->SetTextureStageState(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACENORMAL);  // no texture read
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_EQ(ProgramBuildCount(), builds);
  // Lit without specular: the viewer still changes nothing.
  device_->SetRenderState(RS_LIGHTING, 1);
  device_->SetRenderState(RS_COLORVERTEX, 0);
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  builds = ProgramBuildCount();
  device_->SetRenderState(RS_LOCALVIEWER, 0);
  device_->SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1);  // COLORVERTEX off
  ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1)), kOk);
  EXPECT_EQ(ProgramBuildCount(), builds);
}

TEST_F(LightingTest, EveryStateCombinationCompilesAndDraws) {
  // A failed compile or link makes the draw fail: walk many combinations
  // of the 3-D states, vertex formats and stage set-ups.
  auto texture = device_->CreateTexture(4, 4, 1, 0, FMT_X8R8G8B8, POOL_MANAGED);
  ASSERT_NE(texture, nullptr);
  const uint32_t fvfs[] = {kFvfLit, FVF_XYZ | FVF_DIFFUSE | FVF_TEX1, FVF_XYZ | FVF_NORMAL,
                           FVF_XYZ | FVF_NORMAL | FVF_TEX1 | FvfTexCoordSize1(0),
                           FVF_XYZ | FVF_NORMAL | FVF_TEX1 | FvfTexCoordSize3(0),
                           FVF_XYZ | FVF_NORMAL | FVF_TEX1 | FvfTexCoordSize4(0)};
  uint32_t seed = 7;
  auto pick = [&](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (uint32_t i = 0; i < 8; ++i) {
    Light light = PointLight({1, 1, 1, 1}, {0, 0, 1}, 1, 0, 0, 10);
    light.type = static_cast<LightType>(1 + i % 3);
    light.direction = {0, 0, 1};
    light.theta = 0.5f;
    light.phi = 1.0f;
    device_->SetLight(i, light);
  }
  device_->SetTexture(0, texture);
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_MODULATE);
  device_->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    device_->SetRenderState(RS_LIGHTING, pick(3) != 0);
    for (uint32_t i = 0; i < 8; ++i) device_->LightEnable(i, pick(3) == 0);
    device_->SetRenderState(RS_SPECULARENABLE, pick(2));
    device_->SetRenderState(RS_LOCALVIEWER, pick(2));
    device_->SetRenderState(RS_NORMALIZENORMALS, pick(2));
    device_->SetRenderState(RS_COLORVERTEX, pick(2));
    device_->SetRenderState(RS_DIFFUSEMATERIALSOURCE, pick(3));
    device_->SetRenderState(RS_SPECULARMATERIALSOURCE, pick(3));
    device_->SetRenderState(RS_AMBIENTMATERIALSOURCE, pick(3));
    device_->SetRenderState(RS_EMISSIVEMATERIALSOURCE, pick(3));
    device_->SetRenderState(RS_FOGENABLE, pick(2));
    device_->SetRenderState(RS_FOGTABLEMODE, pick(4));
    device_->SetRenderState(RS_FOGVERTEXMODE, pick(4));
    device_->SetRenderState(RS_RANGEFOGENABLE, pick(2));
    device_->SetRenderState(RS_CLIPPLANEENABLE, pick(256));
    device_->SetTextureStageState(0, TSS_TEXCOORDINDEX, pick(4) << 16);
    device_->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, pick(5) | (pick(2) ? TTFF_PROJECTED : 0));
    device_->SetRenderState(RS_SHADEMODE, pick(2) ? SHADE_FLAT : SHADE_GOURAUD);
    ASSERT_EQ(DrawLit(device_, Square(1, 5, 0, 0, -1), fvfs[pick(6)]), kOk);
    ASSERT_EQ(render_test::FillPixels(device_, 1, 1, 4, 4, 0xffffffff, 0.5f), kOk);
  }
}

}  // namespace

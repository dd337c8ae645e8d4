// Scenes built in code and drawn on a headless 256 x 192 device with a
// D24S8 depth buffer: geometry builders (quads, boxes, floors), cameras
// looking at a point, lights, projection of world points to pixels, and
// read-back.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "scene/draw.h"
#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"

namespace draw_test {

using scene::Vec3;

constexpr int kWidth = 256, kHeight = 192;

// Untextured materials that show the lit vertex colour, culling
// counter-clockwise (back) faces as Direct3D does by default: the builders
// below wind front faces clockwise with (b - a) x (c - a) facing out. The
// program's own STENCIL is added where a test wants it.
inline const char* kMaterials = R"(
<SHADER> <NAME> "PLAIN" </NAME>
  <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_CCW" </CULL> </PASS> </SHADER>
<SHADER> <NAME> "RECEIVER" </NAME> <RECEIVESHADOWS> </RECEIVESHADOWS>
  <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_CCW" </CULL> </PASS> </SHADER>
<SHADER> <NAME> "CASTER" </NAME> <PROJECTSHADOWS> </PROJECTSHADOWS>
  <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_CCW" </CULL> </PASS> </SHADER>
<SHADER> <NAME> "GLASS" </NAME> <PRIORITY> "PR_TRANSPARENT" </PRIORITY>
  <PASS> <BLEND> <SRC> "BL_SRCALPHA" </SRC> <DST> "BL_INVSRCALPHA" </DST> </BLEND>
    <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_CCW" </CULL>
    <NOZWRITE> </NOZWRITE> </PASS> </SHADER>
<SHADER> <NAME> "MIRROR" </NAME>
  <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL>
    <MIRROR> </MIRROR> </PASS> </SHADER>
)";
inline const char* kSystemMaterials = R"(
<SHADER> <NAME> "STENCIL" </NAME>
  <PASS> <BLEND> <SRC> "BL_ZERO" </SRC> <DST> "BL_ONE" </DST> </BLEND>
    <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL>
    <NOZWRITE> </NOZWRITE> <ZCMP> "LESS" </ZCMP> </PASS> </SHADER>
)";

// A quad p0, p0 + e1, p0 + e1 + e2, p0 + e2 facing e1 x e2 (clockwise seen
// from that side: a front face).
inline void AddQuad(scene::MeshElement* e, Vec3 p0, Vec3 e1, Vec3 e2, uint32_t colour) {
  const Vec3 n = scene::Normalize(scene::Cross(e1, e2));
  const uint32_t base = static_cast<uint32_t>(e->vertices.size());
  const Vec3 corners[4] = {p0, scene::Add(p0, e1), scene::Add(scene::Add(p0, e1), e2), scene::Add(p0, e2)};
  const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int i = 0; i < 4; ++i) e->vertices.push_back({corners[i], n, colour, uv[i][0], uv[i][1]});
  for (uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) e->indices.push_back(base + i);
}

// A closed box, faces outward.
inline void AddBox(scene::MeshElement* e, Vec3 c, Vec3 h, uint32_t colour) {
  const float x = c.x, y = c.y, z = c.z;
  AddQuad(e, {x + h.x, y - h.y, z - h.z}, {0, 2 * h.y, 0}, {0, 0, 2 * h.z}, colour);
  AddQuad(e, {x - h.x, y - h.y, z - h.z}, {0, 0, 2 * h.z}, {0, 2 * h.y, 0}, colour);
  AddQuad(e, {x - h.x, y + h.y, z - h.z}, {0, 0, 2 * h.z}, {2 * h.x, 0, 0}, colour);
  AddQuad(e, {x - h.x, y - h.y, z - h.z}, {2 * h.x, 0, 0}, {0, 0, 2 * h.z}, colour);
  AddQuad(e, {x - h.x, y - h.y, z + h.z}, {2 * h.x, 0, 0}, {0, 2 * h.y, 0}, colour);
  AddQuad(e, {x - h.x, y - h.y, z - h.z}, {0, 2 * h.y, 0}, {2 * h.x, 0, 0}, colour);
}

// A floor facing +y at height y over [-half, half]², cut into n × n quads
// (per-vertex lighting needs the vertices).
inline void AddFloor(scene::MeshElement* e, float half, int n, float y, uint32_t colour) {
  const float step = 2.0f * half / static_cast<float>(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      AddQuad(e, {-half + step * static_cast<float>(i), y, -half + step * static_cast<float>(j)}, {0, 0, step},
              {step, 0, 0}, colour);
}

inline scene::SceneMesh Mesh(const std::string& name, const std::string& material,
                             const std::vector<scene::MeshElement>& elements, Vec3 position = {}) {
  scene::SceneMesh m;
  m.name = name;
  m.position = position;
  m.elements = elements;
  for (scene::MeshElement& e : m.elements)
    if (e.material.empty()) e.material = material;
  return m;
}
inline scene::MeshElement Element(const std::string& material = "") {
  scene::MeshElement e;
  e.material = material;
  return e;
}

// A camera at `eye` looking at `target` (the file's rotation is turned by
// +90° about X when evaluated, so it is turned back here).
inline scene::CameraRecord Camera(Vec3 eye, Vec3 target, Vec3 up = {0, 1, 0}, float fov = 60.0f) {
  scene::CameraRecord c;
  c.position = eye;
  c.rotation = scene::QuatMultiply(scene::LookAt(eye, target, up),
                                   scene::QuatFromAxisAngle({1, 0, 0}, -scene::kQuarterTurn));
  c.fov = fov;
  c.near_plane = 1.0f;
  c.far_plane = 1000.0f;
  c.name = "CAM";
  return c;
}

inline render::Light PointLight(Vec3 position, float diffuse, float ambient) {
  render::Light l;
  l.type = render::LIGHT_POINT;
  l.position = position;
  l.diffuse = {diffuse, diffuse, diffuse, 0.0f};
  l.specular = l.diffuse;
  l.ambient = {ambient, ambient, ambient, 0.0f};
  l.range = 1000000.0f;
  l.attenuation0 = 1.0f;
  return l;
}

inline int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xff); }
inline int Red(uint32_t c) { return Channel(c, 16); }
inline int Green(uint32_t c) { return Channel(c, 8); }
inline int Blue(uint32_t c) { return Channel(c, 0); }
inline uint8_t Byte(float v) { return static_cast<uint8_t>(std::lround(std::fmin(1.0f, std::fmax(0.0f, v)) * 255.0f)); }

// Processor ray tests for shadows.
struct Box {
  Vec3 centre, half;
};

// Whether the segment a-b passes through the box (slab test).
inline bool SegmentHitsBox(Vec3 a, Vec3 b, const Box& box) {
  float t0 = 0.0f, t1 = 1.0f;
  const float pa[3] = {a.x, a.y, a.z}, pb[3] = {b.x, b.y, b.z};
  const float c[3] = {box.centre.x, box.centre.y, box.centre.z}, h[3] = {box.half.x, box.half.y, box.half.z};
  for (int i = 0; i < 3; ++i) {
    const float d = pb[i] - pa[i], lo = c[i] - h[i], hi = c[i] + h[i];
    if (std::fabs(d) < 1e-9f) {
      if (pa[i] < lo || pa[i] > hi) return false;
      continue;
    }
    float e0 = (lo - pa[i]) / d, e1 = (hi - pa[i]) / d;
    if (e0 > e1) std::swap(e0, e1);
    t0 = std::fmax(t0, e0);
    t1 = std::fmin(t1, e1);
    if (t0 > t1) return false;
  }
  return true;
}

struct ShadowLight {
  Vec3 position;
  float diffuse, ambient;
};

// 1: shadowed, 0: lit, -1: too near a shadow's edge to tell from pixels.
inline int Shadowed(Vec3 p, Vec3 light, const std::vector<Box>& casters) {
  int verdict = -2;
  for (float dx : {-0.3f, 0.0f, 0.3f}) {
    for (float dz : {-0.3f, 0.0f, 0.3f}) {
      const Vec3 q{p.x + dx, p.y, p.z + dz};
      bool hit = false;
      for (const Box& box : casters) hit = hit || SegmentHitsBox(q, light, box);
      const int v = hit ? 1 : 0;
      if (verdict == -2) verdict = v;
      else if (verdict != v) return -1;
    }
  }
  return verdict;
}

class DrawTest : public scene_test::SceneFolderTest {
 protected:
  // The display's device (state changes go through its caches), with a
  // stencil, for the whole suite.
  static void SetUpTestSuite() {
    ASSERT_EQ(render::InitDirect3DFrom(0, render::HeadlessAdapterInfo(), render::DisplayBackend::kHeadless), 0);
    ASSERT_EQ(render::SelectDisplayMode(nullptr, kWidth, kHeight, 32, true, false, nullptr, "", false, false, false,
                                        false, false),
              0);
  }
  static void TearDownTestSuite() {
    render::ReleaseDevice();
    render::ReleaseDirect3D();
  }
  void SetUp() override {
    SceneFolderTest::SetUp();
    device_ = render::GetDevice();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), 0);
    render::ApplyDefaultStates();
    ASSERT_EQ(render::InitRenderLayer(nullptr), 0);
    ASSERT_EQ(render::InitShaderSystem(), 0);
    ASSERT_EQ(manager_.Init(), 0);
    ASSERT_EQ(manager_.ParseShaderText(kMaterials, "materials.txt"), 0);
    ASSERT_EQ(render::PushShaderManager(&manager_), 0);
    options_.shaders = &manager_;
    options_.device_buffers = true;
    file_.cameras.push_back(Camera({0, 10, -10}, {0, 0, 0}));
  }
  void TearDown() override {
    render::SetMaterialDrawObserver(nullptr);
    scene::ForgetDrawReports(&scene_);
    scene_.Clear();
    render::PopShaderManager();
    manager_.Shutdown();
    render::ShutdownShaderSystem();
    render::ShutdownRenderLayer();
    SceneFolderTest::TearDown();
  }

  void AddSystemMaterials() { ASSERT_EQ(manager_.ParseShaderText(kSystemMaterials, "system.txt"), 0); }
  void Load() { ASSERT_EQ(scene::LoadSceneBinary(&scene_, file_, options_), 0) << AllMessages(); }

  // Clears the back buffer to `colour` and draws the scene at time 0.
  std::vector<uint32_t> Render(uint32_t clear = 0xFF000000u) {
    device_->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, clear, 1.0f, 0);
    device_->BeginScene();
    scene::DrawRequest request;
    scene::Draw(&scene_, request);
    device_->EndScene();
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device_->ReadSurfacePixels(device_->GetBackBuffer().get(), &pixels), 0);
    return pixels;
  }

  // Where the evaluated camera shows a world point (pixel column and row),
  // with Direct3D's pixel centres. False behind the camera.
  bool Project(Vec3 p, int* px, int* py) const {
    const scene::View& view = scene_.view;
    float v[4] = {0, 0, 0, 0};
    const scene::Matrix m = scene::Multiply(view.ViewMatrix(), view.Projection());
    const float in[4] = {p.x, p.y, p.z, 1.0f};
    for (int c = 0; c < 4; ++c)
      for (int r = 0; r < 4; ++r) v[c] += in[r] * m.m[r][c];
    if (v[3] <= 0.0f) return false;
    const float x = v[0] / v[3], y = v[1] / v[3];
    *px = static_cast<int>(std::lround((x + 1.0f) * 0.5f * kWidth));
    *py = static_cast<int>(std::lround((1.0f - y) * 0.5f * kHeight));
    return *px >= 0 && *px < kWidth && *py >= 0 && *py < kHeight;
  }
  static uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) {
    return pixels[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
  }
  // The pixel showing world point p (which must be on screen).
  uint32_t PixelOf(const std::vector<uint32_t>& pixels, Vec3 p) {
    int x = 0, y = 0;
    EXPECT_TRUE(Project(p, &x, &y)) << p.x << " " << p.y << " " << p.z;
    return At(pixels, std::min(std::max(x, 0), kWidth - 1), std::min(std::max(y, 0), kHeight - 1));
  }

  render::Device* device_ = nullptr;
  render::ShaderManager manager_;
  scene::LoadOptions options_;
  scene::SceneFile file_;
  scene::Scene scene_;
};

}  // namespace draw_test

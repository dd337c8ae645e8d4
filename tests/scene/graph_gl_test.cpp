// The scene graph on a headless device: device buffers of meshes, the
// render layer's tables after loads and Clear, and the view applied to a
// target.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "render/device.h"
#include "render/layer.h"
#include "render/materials.h"
#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"

namespace {

class SceneDevice : public scene_test::SceneFolderTest {
 protected:
  void SetUp() override {
    SceneFolderTest::SetUp();
    device_ = render::CreateHeadlessDevice(320, 240);
    ASSERT_TRUE(device_);
    ASSERT_EQ(render::InitRenderLayer(device_.get()), 0);
    ASSERT_EQ(render::InitShaderSystem(), 0);
    ASSERT_EQ(manager_.Init(), 0);
    options_.shaders = &manager_;
  }
  void TearDown() override {
    manager_.Shutdown();
    render::ShutdownShaderSystem();
    render::ShutdownRenderLayer();
    device_.reset();
    SceneFolderTest::TearDown();
  }

  // One camera and a mesh of `vertices` vertices (one triangle) with
  // material `material`.
  static scene::SceneFile File(size_t vertices, const std::string& material = "") {
    scene::SceneFile f;
    f.cameras.resize(1);
    f.cameras[0].fov = 60.0f;
    scene::SceneMesh mesh;
    mesh.name = "M";
    scene::MeshElement e;
    e.vertices.resize(vertices);
    e.indices = {0, 1, 2};
    e.material = material;
    mesh.elements.push_back(e);
    f.meshes.push_back(mesh);
    return f;
  }

  // A 2 × 2 uncompressed 32-bit TGA.
  void PutTexture(const std::string& name) {
    std::string tga(18, '\0');
    tga[2] = 2;
    tga[12] = 2;
    tga[14] = 2;
    tga[16] = 32;
    tga += std::string(16, '\x7f');
    Put("data/textures/" + name, tga);
  }

  std::unique_ptr<render::Device> device_;
  render::ShaderManager manager_;
  scene::LoadOptions options_;
};

TEST_F(SceneDevice, BuffersFromTheirSizeOn) {
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, File(227), options_), 0);  // 8,172 bytes
  EXPECT_EQ(s.ObjectAt(0)->mesh.vertex_buffer, -1);
  EXPECT_EQ(s.ObjectAt(0)->mesh.index_buffer, -1);
  ASSERT_EQ(scene::LoadSceneBinary(&s, File(228), options_), 0);  // 8,208 bytes
  const scene::Mesh& mesh = s.ObjectAt(0)->mesh;
  auto vb = render::GetVertexBufferById(mesh.vertex_buffer);
  auto ib = render::GetIndexBufferById(mesh.index_buffer);
  ASSERT_TRUE(vb && ib);
  EXPECT_EQ(vb->GetDesc().size, 228u * 36u);
  EXPECT_EQ(vb->GetDesc().fvf, render::kFvfRenderVertex);
  EXPECT_EQ(ib->GetDesc().size, 6u);
  EXPECT_EQ(ib->GetDesc().format, render::FMT_INDEX16);
}

TEST_F(SceneDevice, LoadingTwiceThenClearGivesEverythingBack) {
  PutTexture("BRICK.TGA");
  scene::SceneFile f = File(300, "BRICK");
  f.has_materials = true;
  f.materials = {{"BRICK", scene::MATERIAL_DIFFUSE, "BRICK.TGA", "", 0}};
  const int textures = render::TextureCount(), vbs = render::VertexBufferCount(), ibs = render::IndexBufferCount();
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, options_), 0) << AllMessages();
  EXPECT_NE(s.ObjectAt(0)->mesh.elements[0].material, render::kNullShader);  // the texture loaded
  EXPECT_EQ(render::TextureCount(), textures + 1);
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, options_), 0);
  EXPECT_EQ(render::TextureCount(), textures + 1);
  EXPECT_EQ(render::VertexBufferCount(), vbs + 1);
  EXPECT_EQ(render::IndexBufferCount(), ibs + 1);
  s.Clear();
  EXPECT_EQ(render::TextureCount(), textures);
  EXPECT_EQ(render::VertexBufferCount(), vbs);
  EXPECT_EQ(render::IndexBufferCount(), ibs);
}

TEST_F(SceneDevice, ViewportScaledToTheTargetAndClipped) {
  struct Case {
    float x, y, w, h;
    int result;
    render::Viewport expected;
  } cases[] = {
      {0, 0, 640, 480, 0, {0, 0, 320, 240}},
      {320, 240, 320, 240, 0, {160, 120, 160, 120}},
      {-100, 400, 2000, 200, 0, {0, 200, 320, 40}},  // beyond the frame: clipped
      {0, 0, 0, 480, -1, {}},
      {0, 0, 640, -5, -1, {}},
      {700, 0, 100, 100, -1, {}},  // wholly outside
  };
  for (const Case& c : cases) {
    scene::View view;
    view.SetViewport(c.x, c.y, c.w, c.h);
    const render::Viewport before{1, 2, 3, 4};
    device_->SetViewport(before);
    EXPECT_EQ(view.Apply(*device_), c.result) << c.x << " " << c.w;
    const render::Viewport got = device_->GetViewport();
    const render::Viewport& want = c.result == 0 ? c.expected : before;
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
  }
  scene::View view;
  view.SetCamera({1, 2, 3}, scene::QuatFromAxisAngle({0, 1, 0}, 0.3f), 70.0f, 0.75f, 2.0f, 100.0f);
  ASSERT_EQ(view.Apply(*device_), 0);
  render::Matrix m;
  ASSERT_EQ(device_->GetTransform(render::TS_VIEW, &m), 0);
  EXPECT_EQ(m, view.ViewMatrix());
  ASSERT_EQ(device_->GetTransform(render::TS_PROJECTION, &m), 0);
  EXPECT_EQ(m, view.Projection());
  EXPECT_EQ(view.SphereInFrustum({1, 2, 3}, 0.1f), -1);  // before the near plane
  const render::Matrix o = view.Orientation();
  const scene::Vec3 ahead = scene::Add({1, 2, 3}, scene::Scale({o.m[2][0], o.m[2][1], o.m[2][2]}, 50.0f));
  EXPECT_EQ(view.SphereInFrustum(ahead, 1.0f), 1);
  EXPECT_EQ(view.SphereInFrustum(ahead, 100.0f), 0);
}

}  // namespace

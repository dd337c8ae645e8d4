// The scene graph without a device: track sampling, the playback clock,
// evaluation (hierarchy, camera, shake, lights, skins), render data and
// loading with a shader manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/materials.h"
#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"
#include "tests/scene/scene_text_writer.h"

namespace {

using scene::Quat;
using scene::Vec3;

bool SameBits(const scene::Matrix& a, const scene::Matrix& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void ExpectNear(const Vec3& a, const Vec3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

Quat AboutY(float degrees) { return scene::QuatFromAxisAngle({0, 1, 0}, degrees * 3.14159265f / 180.0f); }

// A track whose sample i sits at x = i, turning about Y.
scene::PosRotController Ramp(size_t n, float rate) {
  scene::PosRotController t;
  t.rate = rate;
  for (size_t i = 0; i < n; ++i) t.samples.push_back({{static_cast<float>(i), 0, 0}, AboutY(10.0f * i)});
  return t;
}

scene::MeshElement TriangleElement(const std::string& material = "") {
  scene::MeshElement e;
  e.vertices.resize(3);
  e.vertices[1].position = {1, 0, 0};
  e.vertices[2].position = {0, 1, 0};
  e.indices = {0, 1, 2};
  e.material = material;
  return e;
}

scene::SceneMesh Mesh(const std::string& name, Vec3 position = {}, Quat rotation = {}, int32_t parent = -1,
                      const std::string& material = "") {
  scene::SceneMesh m;
  m.name = name;
  m.position = position;
  m.rotation = rotation;
  m.parent = parent;
  m.elements.push_back(TriangleElement(material));
  return m;
}

scene::SceneFile WithCamera() {
  scene::SceneFile f;
  scene::CameraRecord c;
  c.name = "Camera01";
  c.fov = 60.0f;
  c.near_plane = 1.0f;
  f.cameras.push_back(c);
  return f;
}

scene::LoadOptions Geometry() {
  scene::LoadOptions o;
  o.device_buffers = false;
  return o;
}

void AddTrack(scene::SceneFile* f, scene::PosRotController t, scene::OwnerKind kind, int32_t index) {
  f->pos_rot_tracks.push_back({t.rate, t.samples});
  f->pos_rot_owners.push_back({kind, index});
}

// --- sampling ---------------------------------------------------------------------

TEST(SceneTracks, PosRotSampling) {
  const scene::PosRotController t = Ramp(31, 30.0f);
  Vec3 p, p2;
  Quat q, q2;
  ASSERT_TRUE(t.Sample(1.0, &p, &q));  // one loop: sample 0 exactly
  EXPECT_EQ(p, t.samples[0].position);
  EXPECT_EQ(q, t.samples[0].rotation);
  ASSERT_TRUE(t.Sample(2.5 / 30.0, &p, &q));  // midpoint of samples 2 and 3
  ExpectNear(p, {2.5f, 0, 0});
  const Quat mid = AboutY(25.0f);
  EXPECT_NEAR(q.w, mid.w, 1e-5f);
  EXPECT_NEAR(q.y, mid.y, 1e-5f);
  ASSERT_TRUE(t.Sample(-0.25, &p, &q));
  ASSERT_TRUE(t.Sample(0.75, &p2, &q2));
  EXPECT_EQ(p, p2);
  EXPECT_EQ(q, q2);
  for (double a : {1e12, -1e12, 1e300}) {
    ASSERT_TRUE(t.Sample(a, &p, &q));
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(q.w)) << a;
  }
  ASSERT_TRUE(t.Sample(std::nan(""), &p, &q));  // non-finite: sample 0
  EXPECT_EQ(p, t.samples[0].position);

  const scene::PosRotController one = Ramp(1, 30.0f);
  for (double a : {0.0, 0.37, -5.0}) {
    ASSERT_TRUE(one.Sample(a, &p, &q));
    EXPECT_EQ(p, one.samples[0].position);
  }
  const scene::PosRotController none;
  p = {7, 7, 7};
  EXPECT_FALSE(none.Sample(0.5, &p, &q));
  EXPECT_EQ(p, (Vec3{7, 7, 7}));
}

TEST(SceneTracks, FloatSamplingLoopsOverAllValues) {
  scene::FloatController t{2, {10.0f, 20.0f, 40.0f}};  // period 3 / 2 = 1.5 s
  struct Case {
    double a;
    float expected;
  } cases[] = {{0.0, 10.0f}, {0.25, 15.0f}, {1.0, 40.0f}, {1.25, 25.0f}, {1.5, 10.0f}, {-0.25, 25.0f}};
  for (const Case& c : cases) {
    float v = -1.0f;
    ASSERT_TRUE(t.Sample(c.a, &v));
    EXPECT_FLOAT_EQ(v, c.expected) << c.a;
  }
  float v = 3.0f;
  EXPECT_FALSE(scene::FloatController{}.Sample(1.0, &v));
  EXPECT_EQ(v, 3.0f);
}

// --- playback -------------------------------------------------------------------------

scene::SceneFile OneTracked() {
  scene::SceneFile f = WithCamera();
  f.meshes.push_back(Mesh("A"));
  AddTrack(&f, Ramp(31, 30.0f), scene::OWNER_MESH, 0);
  return f;
}

TEST(SceneClock, SetSpeedKeepsThePoseThenRunsFaster) {
  scene::Scene s, reference;
  ASSERT_EQ(scene::LoadSceneBinary(&s, OneTracked(), Geometry()), 0);
  ASSERT_EQ(scene::LoadSceneBinary(&reference, OneTracked(), Geometry()), 0);
  s.SetStartTime(100.0);
  reference.SetStartTime(100.0);
  s.Evaluate(100.5);
  const scene::Matrix before = s.ObjectAt(0)->world;
  s.SetSpeed(2.0, 100.5);
  s.Evaluate(100.5);
  EXPECT_TRUE(SameBits(before, s.ObjectAt(0)->world));
  s.Evaluate(100.7);
  reference.Evaluate(100.9);
  EXPECT_NEAR(s.evaluated_time, reference.evaluated_time, 1e-12);
  ExpectNear(s.ObjectAt(0)->world_position, reference.ObjectAt(0)->world_position, 1e-4f);

  s.SetSpeed(std::nan(""), 101.0);  // ignored
  EXPECT_EQ(s.speed, 2.0);
}

TEST(SceneClock, ReplayedSetSpeedEqualsOneCall) {
  scene::Scene once, replayed;
  ASSERT_EQ(scene::LoadSceneBinary(&once, OneTracked(), Geometry()), 0);
  ASSERT_EQ(scene::LoadSceneBinary(&replayed, OneTracked(), Geometry()), 0);
  once.SetStartTime(0.0);
  once.SetSpeed(3.0, 0.4);
  for (double t = 0.45; t < 3.0; t += 0.173) {
    // The script replays every frame: Reset, Start, then every command up to t.
    replayed.ResetPlayback();
    replayed.SetStartTime(0.0);
    replayed.SetSpeed(3.0, 0.4);
    replayed.Evaluate(t);
    once.Evaluate(t);
    EXPECT_TRUE(SameBits(once.ObjectAt(0)->world, replayed.ObjectAt(0)->world)) << t;
  }
}

// --- evaluation -------------------------------------------------------------------------

scene::SceneFile Family() {
  scene::SceneFile f = WithCamera();
  f.meshes.push_back(Mesh("PARENT", {10, 0, 0}, AboutY(90.0f)));
  f.meshes.push_back(Mesh("CHILD", {1, 0, 0}, {}, 0));
  f.meshes.push_back(Mesh("Spinner", {0, 2, 0}, {}, 0));
  AddTrack(&f, Ramp(31, 30.0f), scene::OWNER_MESH, 2);
  return f;
}

TEST(SceneEvaluate, ChildFollowsItsParentWithoutDrift) {
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, Family(), Geometry()), 0);
  ASSERT_EQ(s.order.size(), 3u);
  for (size_t i = 0; i < s.order.size(); ++i) {
    const int32_t parent = s.ObjectAt(s.order[i])->parent;
    if (parent >= 0) {
      EXPECT_LT(std::find(s.order.begin(), s.order.end(), parent) - s.order.begin(), static_cast<long>(i));
    }
  }
  for (int i = 0; i < 1000; ++i) s.Evaluate(i * 0.01);
  ExpectNear(s.ObjectAt(1)->world_position, {10, 0, -1});
  EXPECT_EQ(s.ObjectAt(1)->position, (Vec3{1, 0, 0}));  // node values stay
}

TEST(SceneEvaluate, SameTimeSameBitsWhateverCameBefore) {
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, Family(), Geometry()), 0);
  s.noise_x = s.noise_y = s.noise_z = 0.5f;
  s.Evaluate(5.3);
  const scene::Matrix first = s.ObjectAt(2)->world, view = s.view.ViewMatrix();
  s.Evaluate(2.1);
  s.Evaluate(5.3);
  EXPECT_TRUE(SameBits(first, s.ObjectAt(2)->world));
  EXPECT_TRUE(SameBits(view, s.view.ViewMatrix()));

  std::vector<scene::Matrix> up, down;
  for (int i = 0; i <= 20; ++i) {
    s.Evaluate(i * 0.137);
    up.push_back(s.ObjectAt(2)->world);
  }
  for (int i = 20; i >= 0; --i) {
    s.Evaluate(i * 0.137);
    down.push_back(s.ObjectAt(2)->world);
  }
  for (int i = 0; i <= 20; ++i) EXPECT_TRUE(SameBits(up[i], down[20 - i])) << i;
}

TEST(SceneCamera, ViewProjectionAndSelection) {
  scene::SceneFile f = WithCamera();
  f.cameras[0].position = {1, 2, 3};
  scene::CameraRecord second = f.cameras[0];
  second.name = "CAMERA01";
  second.position = {5, 5, 5};
  f.cameras.push_back(second);
  f.cameras.push_back(f.cameras[0]);
  f.cameras[2].name = "Other";
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, Geometry()), 0);

  s.Evaluate(0.0);
  const scene::Matrix o = s.view.Orientation();
  ExpectNear({o.m[2][0], o.m[2][1], o.m[2][2]}, {0, -1, 0});  // identity rotation looks down
  const scene::Matrix round =
      scene::Multiply(scene::WorldMatrix(s.view.Rotation(), s.view.Position()), s.view.ViewMatrix());
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(round.m[r][c], r == c ? 1.0f : 0.0f, 1e-5f);

  const scene::Matrix plain = s.view.Projection();
  s.flip_x = s.flip_y = true;
  s.Evaluate(0.0);
  EXPECT_EQ(s.view.Projection().m[0][0], -plain.m[0][0]);
  EXPECT_EQ(s.view.Projection().m[1][1], -plain.m[1][1]);
  EXPECT_EQ(s.view.Projection().m[2][2], plain.m[2][2]);

  EXPECT_TRUE(s.SelectCamera("camera01"));  // both 0 and 1 match: the last wins
  EXPECT_EQ(s.current_camera, 1);
  EXPECT_FALSE(s.SelectCamera("nobody"));
  EXPECT_EQ(s.current_camera, 1);
  s.current_camera = 7;  // written directly by the effect
  EXPECT_EQ(s.CurrentCameraIndex(), 1);
  s.current_camera = -1;
  EXPECT_EQ(s.CurrentCameraIndex(), 2);
}

TEST(SceneCamera, BadFovAndNearAreClamped) {
  struct Case {
    float fov, near_plane, fov_used, near_used;
  } cases[] = {{NAN, NAN, 0.1f, 0.0001f}, {0.0f, -1.0f, 0.1f, 0.0001f}, {180.0f, 1e9f, 179.0f, 999999.0f},
               {INFINITY, 2.0f, 179.0f, 2.0f}, {90.0f, 1.0f, 90.0f, 1.0f}};
  for (const Case& c : cases) {
    scene::View v;
    v.SetCamera({}, {}, c.fov, 0.75f, c.near_plane, 10.0f);
    EXPECT_EQ(v.Fov(), c.fov_used);
    EXPECT_EQ(v.NearPlane(), c.near_used);
    for (int r = 0; r < 4; ++r)
      for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isfinite(v.Projection().m[r][k]));
  }
}

TEST(SceneCamera, ShakeFadesOutAndDependsOnTheTimeAlone) {
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, WithCamera(), Geometry()), 0);
  s.SetNoise(1.0f, 2.0f, 4.0f, 2.0, 10.0);
  auto offset = [&](double t) {
    s.Evaluate(t);
    // In the camera's own axes: right, up, forward.
    const Vec3 d = s.view.Position();
    const scene::Matrix o = s.view.Orientation();
    return Vec3{scene::Dot(d, {o.m[0][0], o.m[0][1], o.m[0][2]}), scene::Dot(d, {o.m[1][0], o.m[1][1], o.m[1][2]}),
                scene::Dot(d, {o.m[2][0], o.m[2][1], o.m[2][2]})};
  };
  Vec3 peak;
  for (int i = 0; i < 200; ++i) {
    const double t = 10.0 + i * 1e-6;
    const Vec3 v = offset(t);
    EXPECT_LE(std::fabs(v.x), 1.0f + 1e-4f);
    EXPECT_LE(std::fabs(v.y), 2.0f + 1e-4f);
    EXPECT_LE(std::fabs(v.z), 4.0f + 1e-4f);
    peak = {std::fmax(peak.x, std::fabs(v.x)), std::fmax(peak.y, std::fabs(v.y)), std::fmax(peak.z, std::fabs(v.z))};
  }
  EXPECT_GT(peak.x, 0.9f);  // full amplitude at the start
  EXPECT_GT(peak.z, 3.6f);
  for (int i = 0; i < 50; ++i) {  // halfway: at most half
    const Vec3 v = offset(11.0 + i * 1e-6);
    EXPECT_LE(std::fabs(v.z), 2.0f + 1e-3f);
  }
  EXPECT_EQ(offset(12.0), (Vec3{0, 0, 0}));
  EXPECT_EQ(offset(30.0), (Vec3{0, 0, 0}));
  const Vec3 a = offset(10.5);
  offset(11.2);
  EXPECT_EQ(offset(10.5), a);
  s.ResetPlayback();
  EXPECT_EQ(offset(10.5), (Vec3{0, 0, 0}));
}

// --- skin ----------------------------------------------------------------------------------

TEST(SceneSkin, TwoBonesBlendByWeight) {
  scene::SceneFile f = WithCamera();
  f.meshes.push_back(Mesh("BONE1", {1, 0, 0}));
  f.meshes.push_back(Mesh("BONE2", {0, 0, 5}, AboutY(90.0f)));
  scene::SceneMesh ribbon = Mesh("RIBBON");
  scene::MeshElement& e = ribbon.elements[0];
  for (auto& v : e.vertices) v.position = {};
  e.skin = {{{11, {0, 1, 0}, 0.25f}, {12, {1, 0, 0}, 0.75f}},  // 0.25 (1, 1, 0) + 0.75 (0, 0, 4)
            {{11, {2, 0, 0}, 1.0f}},                          // (3, 0, 0)
            {{11, {0, 0, 0}, 1.0f}, {12, {0, 0, 0}, -1.0f}}};   // weights cancel: the plain average
  f.meshes.push_back(ribbon);
  f.has_mesh_ids = true;
  f.mesh_ids = {11, 12, 13};
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, Geometry()), 0);
  const scene::RenderElement& skinned = s.ObjectAt(2)->mesh.elements[0];
  ASSERT_TRUE(skinned.skinned && skinned.drawable);
  s.Evaluate(0.0);
  const auto& v = skinned.skinned_vertices;
  ExpectNear({v[0].x, v[0].y, v[0].z}, {0.25f, 0.25f, 3.0f});
  ExpectNear({v[1].x, v[1].y, v[1].z}, {3, 0, 0});
  ExpectNear({v[2].x, v[2].y, v[2].z}, {0.5f, 0, 2.5f});
  const Vec3 n = scene::Normalize(scene::Cross(scene::Sub({v[1].x, v[1].y, v[1].z}, {v[0].x, v[0].y, v[0].z}),
                                               scene::Sub({v[2].x, v[2].y, v[2].z}, {v[0].x, v[0].y, v[0].z})));
  ExpectNear({v[0].nx, v[0].ny, v[0].nz}, n);

  // A bone ID no object has, or no "MIDS": never drawn.
  f.mesh_ids = {11, 99, 13};
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, Geometry()), 0);
  EXPECT_FALSE(s.ObjectAt(2)->mesh.elements[0].drawable);
  f.has_mesh_ids = false;
  f.mesh_ids.clear();
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, Geometry()), 0);
  EXPECT_FALSE(s.ObjectAt(2)->mesh.elements[0].drawable);
}

// --- render data ------------------------------------------------------------------------------

TEST(SceneRenderData, SharedArraysRadiusAndShadowMeshes) {
  scene::MeshElement a = TriangleElement();
  a.vertices[1].u = 0.25f;
  a.vertices[1].v = 0.75f;
  a.vertices[1].colour = 0xFF102030u;
  a.vertices[1].position = {1.5f, 0.5f, -0.5f};
  scene::MeshElement tetra;
  tetra.vertices.resize(4);
  tetra.vertices[1].position = {1, 0, 0};
  tetra.vertices[2].position = {0, 1, 0};
  tetra.vertices[3].position = {0, 0, 1};
  tetra.indices = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
  scene::Mesh mesh;
  ASSERT_EQ(scene::BuildRenderData({a, tetra}, &mesh), 0);
  ASSERT_EQ(mesh.vertices.size(), 7u);
  const float expected[9] = {1.5f, 0.5f, -0.5f, 0.0f, 0.0f, 1.0f, 0.0f, 0.25f, -0.75f};
  unsigned char bytes[36];
  std::memcpy(bytes, expected, 24);
  const uint32_t colour = 0xFF102030u;
  std::memcpy(bytes + 24, &colour, 4);
  std::memcpy(bytes + 28, &expected[7], 8);
  EXPECT_EQ(std::memcmp(&mesh.vertices[1], bytes, 36), 0);
  EXPECT_EQ(mesh.elements[1].first_vertex, 3u);
  EXPECT_EQ(mesh.elements[1].first_index, 3u);
  EXPECT_EQ(mesh.elements[1].triangle_count, 4u);
  EXPECT_EQ(mesh.indices[3], 0);  // element-relative
  EXPECT_LE(mesh.radius, 2.0f);
  EXPECT_NEAR(mesh.radius, std::sqrt(2.75f), 1e-6f);

  const scene::ShadowMesh& closed = mesh.elements[1].shadow;
  EXPECT_EQ(closed.vertices.size(), 12u);
  EXPECT_EQ(closed.indices.size(), 48u);
  const scene::ShadowMesh& open = mesh.elements[0].shadow;
  EXPECT_EQ(open.vertices.size(), 3u);
  ASSERT_EQ(open.indices.size(), 21u);
  for (int edge = 0; edge < 3; ++edge)
    for (int k = 1; k < 6; ++k) EXPECT_EQ(open.indices[3 + edge * 6 + k], open.indices[3 + edge * 6]);
  // A closed mesh's quads join only copies of one position.
  for (size_t i = 12; i < 48; i += 6) {
    const auto& v = closed.vertices;
    EXPECT_EQ(v[closed.indices[i + 1]].position, v[closed.indices[i + 2]].position);  // a1, a2
    EXPECT_EQ(v[closed.indices[i]].position, v[closed.indices[i + 5]].position);      // b1, b2
  }
}

// --- loading ---------------------------------------------------------------------------------

class SceneLoad : public scene_test::SceneFolderTest {
 protected:
  void SetUp() override {
    SceneFolderTest::SetUp();
    ASSERT_EQ(render::InitShaderSystem(), 0);
    ASSERT_EQ(manager.Init(), 0);
    options.shaders = &manager;
    options.device_buffers = false;
  }
  void TearDown() override {
    scene::SetProceduralFactory(nullptr);
    manager.Shutdown();
    render::ShutdownShaderSystem();
    SceneFolderTest::TearDown();
  }
  int References() const {
    int sum = 0;
    for (render::ShaderHandle h = manager.FirstShader(); h >= 0; h = manager.NextShader(h))
      sum += manager.GetShaderByHandle(h)->ref_count;
    return sum;
  }
  const render::Shader* ShaderOf(const scene::Scene& s, int32_t object, size_t element = 0) {
    return manager.GetShaderByHandle(s.ObjectAt(object)->mesh.elements[element].material);
  }

  render::ShaderManager manager;
  scene::LoadOptions options;
};

TEST_F(SceneLoad, NamesShadersAndPlaceholders) {
  ASSERT_EQ(manager.ParseShaderText("<SHADER> <NAME> \"SCRIPTED\" </NAME> <PASS> </PASS> </SHADER>"
                                    "<SHADER> <NAME> \"GLASS\" </NAME> <PASS> <MIRROR> </MIRROR> </PASS> </SHADER>",
                                    "s.txt"),
            0);
  scene::SceneFile f = WithCamera();
  f.has_materials = true;
  f.materials = {{"SCRIPTED", scene::MATERIAL_COLOUR, "", "", 0x00FF0000},
                 {"MAT.001", scene::MATERIAL_COLOUR, "", "", 0x0000FF00},
                 {"MAT.002", scene::MATERIAL_COLOUR, "", "", 0x000000FF},
                 {"BRICK", scene::MATERIAL_DIFFUSE, "BRICK.TGA", "", 0}};
  f.meshes.push_back(Mesh("*Dummy", {}, {}, -1, "SCRIPTED"));
  f.meshes.push_back(Mesh("@particle01", {}, {}, -1, "MAT.001"));
  f.meshes.push_back(Mesh("Mirror", {}, {}, -1, "GLASS"));
  f.meshes.push_back(Mesh("Wall", {}, {}, -1, "MAT.002"));
  f.meshes.push_back(Mesh("Brick", {}, {}, -1, "BRICK"));
  f.meshes.push_back(Mesh("Brick2", {}, {}, -1, "BRICK"));
  AddTrack(&f, Ramp(31, 30.0f), scene::OWNER_MESH, 2);  // the mirror and a sibling on one track
  AddTrack(&f, Ramp(31, 30.0f), scene::OWNER_MESH, 3);
  std::vector<std::pair<std::string, uint32_t>> made;
  scene::SetProceduralFactory([&](scene::Scene* s, int32_t index, uint32_t kinds) {
    made.push_back({s->ObjectAt(index)->name, kinds});
    return 0;
  });
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, options), 0) << AllMessages();
  EXPECT_FALSE(s.ObjectAt(0)->visible);
  EXPECT_EQ(ShaderOf(s, 0)->name, "SCRIPTED");  // the script's shader beats "MATL"
  EXPECT_EQ(ShaderOf(s, 0)->passes[0].texture_factor, 0u);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].first, "@PARTICLE01");
  EXPECT_EQ(made[0].second, scene::PROCEDURAL_PARTICLE);
  EXPECT_TRUE(s.ObjectAt(1)->placeholder);
  EXPECT_TRUE(s.ObjectAt(2)->is_mirror);
  EXPECT_FALSE(s.ObjectAt(2)->visible);
  EXPECT_EQ(s.mirrors.Count(), 1);
  EXPECT_EQ(s.objects.Count(), 5);
  EXPECT_NE(s.ObjectAt(1)->mesh.elements[0].material, s.ObjectAt(3)->mesh.elements[0].material);
  EXPECT_EQ(ShaderOf(s, 1)->passes[0].texture_factor, 0x0000FF00u);  // "MATL" beats the fallback
  EXPECT_EQ(ShaderOf(s, 1)->name, "MAT_001");
  EXPECT_EQ(ShaderOf(s, 3)->name, "MAT_002");
  s.SetStartTime(5.0);
  s.Evaluate(7.3);
  EXPECT_TRUE(SameBits(s.ObjectAt(2)->world, s.ObjectAt(3)->world));
  EXPECT_NE(s.ObjectAt(2)->world_position, Vec3{});
  // The texture is missing: the NULL shader, named once in the log.
  EXPECT_EQ(s.ObjectAt(4)->mesh.elements[0].material, render::kNullShader);
  EXPECT_EQ(s.ObjectAt(5)->mesh.elements[0].material, render::kNullShader);
  int mentions = 0;
  for (const std::string& m : messages) mentions += m.find("BRICK") != std::string::npos;
  EXPECT_EQ(mentions, 1) << AllMessages();
}

TEST_F(SceneLoad, FailuresKeepThePlayingSceneAndGiveBackEverything) {
  scene::SceneFile f = WithCamera();
  f.meshes.push_back(Mesh("Box", {}, {}, -1, "NULL"));
  const int start = References();
  scene::Scene s;
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, options), 0);
  const int loaded = References(), shaders = manager.ShaderCount();
  ASSERT_EQ(scene::LoadSceneBinary(&s, f, options), 0);
  EXPECT_EQ(References(), loaded);
  EXPECT_EQ(manager.ShaderCount(), shaders);

  // No camera: refused, the old scene stays.
  scene::SceneFile no_camera = f;
  no_camera.cameras.clear();
  EXPECT_EQ(scene::LoadSceneBinary(&s, no_camera, options), -1);
  EXPECT_TRUE(HasMessage("Scene doesnt have a camera!!!"));
  EXPECT_EQ(s.file_objects.size(), 1u);
  // A device buffer that cannot be made (no render layer): nothing is left.
  scene::SceneFile big = f;
  big.meshes[0].elements[0].vertices.resize(228);
  scene::LoadOptions with_buffers = options;
  with_buffers.device_buffers = true;
  EXPECT_EQ(scene::LoadSceneBinary(&s, big, with_buffers), -1);
  EXPECT_EQ(References(), loaded);
  // A failing factory fails the load too.
  scene::SetProceduralFactory([](scene::Scene*, int32_t, uint32_t) { return -1; });
  scene::SceneFile placeholder = f;
  placeholder.meshes[0].name = "@Trauma";
  EXPECT_EQ(scene::LoadSceneBinary(&s, placeholder, options), -1);
  EXPECT_EQ(References(), loaded);
  EXPECT_EQ(s.ObjectAt(0)->name, "BOX");

  s.Clear();
  EXPECT_EQ(References(), start);
  EXPECT_TRUE(s.file_objects.empty());
}

TEST_F(SceneLoad, GeometryOnlyThroughTheCacheRoad) {
  scene_test::SceneSpec spec;
  spec.meshes.push_back(scene_test::Cube());
  Put("data/scenes/room.txt", scene_test::WriteScene(spec));
  scene::Scene s;
  ASSERT_EQ(scene::LoadScene(&s, "room.txt", Geometry()), 0) << AllMessages();
  ASSERT_EQ(s.file_objects.size(), 1u);
  EXPECT_EQ(s.ObjectAt(0)->mesh.elements[0].material, -1);
  EXPECT_EQ(s.cameras[0].name, "Camera01");
  EXPECT_EQ(scene::LoadScene(&s, "missing.txt", Geometry()), -1);
  EXPECT_EQ(s.file_objects.size(), 1u);
}

TEST_F(SceneLoad, TrackedLightDirectionEqualsTheConvertersAndNineAreEvaluated) {
  scene_test::SceneSpec spec;
  const std::vector<float> rotation = {0.2f, 0.3f, 0.1f, 0.927362f};  // x y z w
  for (int i = 0; i < 9; ++i) {
    scene_test::LightSpec l;
    l.id = 200 + i;
    l.type = i < 2 ? "DIRECTIONAL" : "OMNI";
    l.rotation = rotation;
    spec.lights.push_back(l);
  }
  std::vector<float> sample = {4, 5, 6};
  sample.insert(sample.end(), rotation.begin(), rotation.end());
  spec.controllers.push_back({"POSROT", 201, sample});
  Put("data/scenes/l.txt", scene_test::WriteScene(spec));
  scene::Scene s;
  ASSERT_EQ(scene::LoadScene(&s, "l.txt", Geometry()), 0) << AllMessages();
  ASSERT_EQ(s.lights[1].controllable.track, 0);
  s.Evaluate(3.0);
  ASSERT_EQ(s.lights.size(), 9u);
  EXPECT_EQ(s.lights[1].evaluated.position, (Vec3{4, 5, 6}));
  ExpectNear(s.lights[1].evaluated.direction, s.lights[0].evaluated.direction, 1e-6f);
  EXPECT_EQ(s.lights[0].evaluated.direction, s.lights[0].light.direction);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(s.lights[i].on_device, i < 8) << i;
}

}  // namespace

// Mesh conversion: normals from smoothing groups, grouping by
// material, welding, splitting at the 16-bit limits.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"
#include "tests/scene/scene_text_writer.h"

namespace {

using namespace scene_test;

class SceneMesh : public SceneFolderTest {
 protected:
  scene::SceneFile ConvertMesh(const MeshSpec& mesh) {
    SceneSpec s;
    s.meshes = {mesh};
    Put("data/scenes/m.txt", WriteScene(s));
    scene::SceneFile out;
    EXPECT_EQ(scene::ConvertSceneTextToData("data/scenes/m.txt", &out), 0) << AllMessages();
    return out;
  }
};

void ExpectNear(const scene::Vec3& a, const scene::Vec3& b, float tolerance = 1e-6f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST_F(SceneMesh, CubeWithSixSmoothingValuesWeldsTo24) {
  MeshSpec cube = Cube();
  cube.smoothing = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6};
  scene::SceneFile out = ConvertMesh(cube);
  ASSERT_EQ(out.meshes.size(), 1u);
  ASSERT_EQ(out.meshes[0].elements.size(), 1u);
  const scene::MeshElement& e = out.meshes[0].elements[0];
  EXPECT_EQ(e.vertices.size(), 24u);
  EXPECT_EQ(e.indices.size(), 36u);
  // Every corner's normal is its side's face normal: z = 0 is -Z.
  ExpectNear(e.vertices[e.indices[0]].normal, {0, 0, -1});
  ExpectNear(e.vertices[e.indices[6]].normal, {0, 0, 1});
  ExpectNear(e.vertices[e.indices[12]].normal, {0, -1, 0});
  ExpectNear(e.vertices[e.indices[30]].normal, {1, 0, 0});
}

TEST_F(SceneMesh, CubeWithOneSmoothingValueWeldsTo8WithSummedNormals) {
  MeshSpec cube = Cube();
  cube.smoothing.assign(12, 0);
  scene::SceneFile out = ConvertMesh(cube);
  const scene::MeshElement& e = out.meshes[0].elements[0];
  EXPECT_EQ(e.vertices.size(), 8u);
  // Summed by hand for this triangulation: corner (0,0,0) lies on two
  // triangles of each of the sides z=0 (0,0,-1), y=0 (0,-1,0), x=0 (-1,0,0):
  // (-2,-2,-2) normalised. Corner (1,0,0) lies on one triangle of z=0, one
  // of y=0 and two of x=1 (1,0,0): (2,-1,-1)/√6.
  const float third = 1.0f / std::sqrt(3.0f);
  const float s6 = std::sqrt(6.0f);
  for (const scene::MeshVertex& v : e.vertices) {
    if (v.position == scene::Vec3{0, 0, 0}) ExpectNear(v.normal, {-third, -third, -third});
    if (v.position == scene::Vec3{1, 0, 0}) ExpectNear(v.normal, {2 / s6, -1 / s6, -1 / s6});
    if (v.position == scene::Vec3{1, 1, 1}) ExpectNear(v.normal, {third, third, third});
  }
}

TEST_F(SceneMesh, MaterialRunsInAscendingOrderKeepFaceOrder) {
  MeshSpec m;
  m.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 2, 2, 0};
  m.faces = {0, 1, 2, 1, 3, 2, 2, 3, 4};
  m.materials = {3, 1, 3};
  SceneSpec s;
  s.materials = {{1, "one", -1, -1, {1, 1, 1}}, {3, "three", -1, -1, {1, 0, 0}}};
  s.meshes = {m};
  Put("data/scenes/m.txt", WriteScene(s));
  scene::SceneFile out;
  ASSERT_EQ(scene::ConvertSceneTextToData("data/scenes/m.txt", &out), 0) << AllMessages();
  const auto& e = out.meshes[0].elements;
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].material, "ONE");
  EXPECT_EQ(e[1].material, "THREE");
  ASSERT_EQ(e[0].indices.size(), 3u);
  ASSERT_EQ(e[1].indices.size(), 6u);
  // Element 2 holds faces 0 then 2, in that order.
  EXPECT_EQ(e[1].vertices[e[1].indices[0]].position, (scene::Vec3{0, 0, 0}));
  EXPECT_EQ(e[1].vertices[e[1].indices[3]].position, (scene::Vec3{0, 1, 0}));
  EXPECT_EQ(e[1].vertices[e[1].indices[5]].position, (scene::Vec3{2, 2, 0}));
  EXPECT_EQ(e[0].vertices[e[0].indices[0]].position, (scene::Vec3{1, 0, 0}));
}

TEST_F(SceneMesh, DegenerateFacesAddNothing) {
  MeshSpec m;
  m.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5};
  // A good face, a face with a repeated corner, a face of three points on
  // a line, all sharing corner 0; then a face that is only degenerate.
  m.faces = {0, 1, 2, 0, 0, 1, 0, 1, 1, 3, 3, 3};
  scene::SceneFile out = ConvertMesh(m);
  const scene::MeshElement& e = out.meshes[0].elements[0];
  for (const scene::MeshVertex& v : e.vertices) {
    EXPECT_TRUE(std::isfinite(v.normal.x) && std::isfinite(v.normal.y) && std::isfinite(v.normal.z));
    if (v.position == scene::Vec3{5, 5, 5})
      EXPECT_EQ(v.normal, (scene::Vec3{0, 0, 1}));  // a sum still zero
    else
      ExpectNear(v.normal, {0, 0, 1});  // only the good face counts
  }
  std::string bytes;
  EXPECT_EQ(scene::EncodeSceneBinary(out, &bytes), 0);
}

TEST_F(SceneMesh, SkinnedVerticesSitAtTheOriginWithTheirInfluences) {
  SceneSpec s;
  TagText t;
  t.Open("SCENE").Open("SCENEINFO").Int("FRAMERATE", 30).Close("SCENEINFO");
  t.Open("MESH").Int("ID", 1).String("NAME", "Skin").Reals("POSITION", {0, 0, 0}).Reals("ROTATION", {0, 0, 0, 1});
  t.Reals("PIVOTPOSITION", {0, 0, 0}).Reals("PIVOTROTATION", {0, 0, 0, 1});
  t.Open("MAXMESH").Open("SKIN").Open("VERTICES");
  for (int v = 0; v < 3; ++v) {
    t.Open("V").Open("I").Int("MAXID", 7 + v).Reals("WEIGHT", {1.0f}).Reals("OFFSET", {float(v), 1, 2});
    t.Close("I").Close("V");
  }
  t.Close("VERTICES").Close("SKIN");
  t.Reals("UVVERTICES", {}).Reals("COLORVERTICES", {});
  t.Open("FACES").Ints("VERTICESINDICES", {0, 1, 2}).Ints("MATERIALINDICES", {-1}).Close("FACES");
  t.Close("MAXMESH").Close("MESH");
  t.Open("CAMERA").Int("ID", 2).Reals("POSITION", {0, 0, 0}).Reals("ROTATION", {0, 0, 0, 1});
  t.Reals("FOV", {60}).Reals("NEAR", {1}).Reals("FAR", {100}).Close("CAMERA").Close("SCENE");
  Put("data/scenes/s.txt", t.str());
  scene::SceneFile out;
  ASSERT_EQ(scene::ConvertSceneTextToData("data/scenes/s.txt", &out), 0) << AllMessages();
  const scene::MeshElement& e = out.meshes[0].elements[0];
  ASSERT_EQ(e.vertices.size(), 3u);
  ASSERT_TRUE(e.HasSkin());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(e.vertices[i].position, (scene::Vec3{0, 0, 0}));
    EXPECT_EQ(e.vertices[i].normal, (scene::Vec3{0, 0, 1}));
    ASSERT_EQ(e.skin[i].size(), 1u);
    EXPECT_EQ(e.skin[i][0].bone_id, 7 + static_cast<int>(i));
  }
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(out, &bytes), 0);
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  EXPECT_EQ(back.meshes[0].elements[0].skin, e.skin);
}

TEST_F(SceneMesh, LargeRunsSplitIntoElementsOfTheSameMaterial) {
  // 25,000 triangles with their own three vertices each (nothing welds).
  MeshSpec m;
  m.name = "Many";
  const int faces = 25000;
  for (int f = 0; f < faces; ++f) {
    float x = static_cast<float>(f % 200), y = static_cast<float>(f / 200);
    float tri[9] = {x, y, 0, x + 0.5f, y, 0.25f, x, y + 0.5f, 0.5f};
    m.vertices.insert(m.vertices.end(), tri, tri + 9);
    m.faces.insert(m.faces.end(), {3 * f, 3 * f + 1, 3 * f + 2});
  }
  scene::SceneFile out = ConvertMesh(m);
  ASSERT_EQ(out.meshes.size(), 1u);
  const auto& e = out.meshes[0].elements;
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].indices.size(), 60000u);
  EXPECT_EQ(e[0].vertices.size(), 60000u);
  EXPECT_EQ(e[1].indices.size(), 15000u);
  std::string bytes;
  ASSERT_EQ(scene::EncodeSceneBinary(out, &bytes), 0);
  scene::SceneFile back;
  ASSERT_EQ(scene::DecodeSceneBinary(bytes, &back), scene::DecodeResult::kOk);
  // The decoded triangles are the source's, in order, within a quantisation step.
  int f = 0;
  for (const scene::MeshElement& el : back.meshes[0].elements) {
    for (size_t i = 0; i < el.indices.size(); i += 3, ++f) {
      for (int k = 0; k < 3; ++k) {
        const scene::Vec3& p = el.vertices[el.indices[i + k]].position;
        const float* src = &m.vertices[static_cast<size_t>(m.faces[3 * f + k]) * 3];
        EXPECT_NEAR(p.x, src[0], 200.0f / 65535 * 1.01f);
        EXPECT_NEAR(p.y, src[1], 125.0f / 65535 * 1.01f);
        EXPECT_NEAR(p.z, src[2], 0.5f / 65535 * 1.01f);
      }
    }
  }
  EXPECT_EQ(f, faces);
}

}  // namespace

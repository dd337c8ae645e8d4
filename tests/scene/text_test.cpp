// The scene text format: values, failure messages, edge cases and
// the faults mended in the format.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"
#include "tests/scene/scene_text_writer.h"

namespace {

using namespace scene_test;

class SceneText : public SceneFolderTest {
 protected:
  // Converts `text` saved as data/scenes/t.txt; returns the result.
  int Convert(const std::string& text, scene::SceneFile* out) {
    Put("data/scenes/t.txt", text);
    return scene::ConvertSceneTextToData("data/scenes/t.txt", out);
  }
  // Expects the conversion to fail with exactly `message` ("%s" = the path).
  void ExpectFailure(const std::string& text, const std::string& message) {
    ClearMessages();
    scene::SceneFile out;
    EXPECT_EQ(Convert(text, &out), -1) << message;
    std::string expected = message;
    size_t at = expected.find("%s");
    if (at != std::string::npos) expected.replace(at, 2, "data/scenes/t.txt");
    EXPECT_TRUE(HasMessage(expected)) << "want: " << expected << "\ngot: " << AllMessages() << "\n" << text;
    EXPECT_TRUE(out.meshes.empty() && out.cameras.empty());
  }
  // Renames the first element `key` (its opening and closing tag).
  std::string Rename(std::string text, const std::string& key, const std::string& to) {
    size_t open = text.find("<" + key + ">");
    EXPECT_NE(open, std::string::npos) << key;
    if (open == std::string::npos) return text;
    text.replace(open, key.size() + 2, "<" + to + ">");
    size_t close = text.find("</" + key + ">", open);
    if (close != std::string::npos) text.replace(close, key.size() + 3, "</" + to + ">");
    return text;
  }
  SceneSpec Basic() {
    SceneSpec s;
    s.meshes.push_back(Triangle());
    return s;
  }
  std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }
};

TEST_F(SceneText, ConvertsValuesInOrder) {
  SceneSpec s = Basic();
  s.meshes[0].position = {1.5f, 2.5f, -3.5f};
  s.meshes[0].rotation = {0.1f, 0.2f, 0.3f, 0.9f};  // x y z w
  s.meshes[0].pivot_position = {0.25f, 0, 0};
  s.cameras[0].rotation = {0, 0.5f, 0, 0.75f};
  scene::SceneFile out;
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  ASSERT_EQ(out.meshes.size(), 1u);
  const scene::SceneMesh& m = out.meshes[0];
  EXPECT_EQ(m.name, "Tri");
  EXPECT_EQ(m.position, (scene::Vec3{1.5f, 2.5f, -3.5f}));
  EXPECT_EQ(m.rotation, (scene::Quat{0.9f, 0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(m.pivot_position.x, 0.25f);
  EXPECT_EQ(m.parent, -1);
  ASSERT_EQ(m.elements.size(), 1u);
  EXPECT_EQ(m.elements[0].vertices.size(), 3u);
  EXPECT_EQ(m.elements[0].material, "");
  EXPECT_EQ(m.elements[0].vertices[0].colour, 0xFFFFFFFFu);
  ASSERT_EQ(out.cameras.size(), 1u);
  EXPECT_EQ(out.cameras[0].rotation, (scene::Quat{0.75f, 0, 0.5f, 0}));
  EXPECT_EQ(out.cameras[0].name, "Camera01");
  EXPECT_EQ(out.cameras[0].fov, 60.0f);
  EXPECT_TRUE(out.has_mesh_ids);
  EXPECT_EQ(out.mesh_ids, std::vector<int32_t>{1});
  EXPECT_TRUE(out.has_source);
  EXPECT_EQ(out.source.size, WriteScene(s).size());
  EXPECT_TRUE(messages.empty()) << AllMessages();
}

TEST_F(SceneText, EachFailureHasItsMessage) {
  const std::string good = WriteScene(Basic());
  scene::SceneFile out;
  ClearMessages();
  EXPECT_EQ(scene::ConvertSceneTextToData("data/scenes/none.txt", &out), -1);
  EXPECT_TRUE(HasMessage("Error loading data/scenes/none.txt (doesn't exist?)")) << AllMessages();

  ExpectFailure("<SCENE> \"open string", "Error loading %s (doesn't exist?)");
  ExpectFailure("<OTHER> </OTHER>", "No <SCENE> node in %s ");
  ExpectFailure(Replace(good, "<FRAMERATE> 30 </FRAMERATE>", ""), "Error loading SCENEINFO in %s ");
  ExpectFailure(Replace(good, "<FRAMERATE> 30 </FRAMERATE>", "<FRAMERATE> 30.0 </FRAMERATE>"),
                "Error loading SCENEINFO in %s ");
  ExpectFailure(Replace(good, "<FRAMERATE> 30 </FRAMERATE>", "<FRAMERATE> 0 </FRAMERATE>"),
                "Error loading SCENEINFO in %s ");
  ExpectFailure(Replace(good, "<FRAMERATE> 30 </FRAMERATE>", "<FRAMERATE> -5 </FRAMERATE>"),
                "Error loading SCENEINFO in %s ");
  {
    SceneSpec s = Basic();
    std::string text = WriteScene(s);
    size_t a = text.find("\t<SCENEINFO>"), b = text.find("</SCENEINFO>\n") + 13;
    ExpectFailure(text.substr(0, a) + text.substr(b), "Error loading SCENEINFO in %s ");
  }
  ExpectFailure(Replace(good, "<AMBIENT> 0.1 0.2 0.3", "<AMBIENT> 1 2 3"), "Error loading SCENEINFO in %s ");

  SceneSpec s = Basic();
  s.textures.push_back({});
  ExpectFailure(Rename(WriteScene(s), "FILE", "FILEX"), "Error loading textures in %s ");
  ExpectFailure(Replace(WriteScene(s), "<ID> 1 </ID>", "<ID> 1.0 </ID>"), "Error loading textures in %s ");

  s = Basic();
  s.materials.push_back({});
  ExpectFailure(Replace(WriteScene(s), "<NAME> \"Mat\"", "<NAME> 5"), "Error loading materials in %s ");
  ExpectFailure(Rename(WriteScene(s), "REFLECTIONTEXTUREID", "R"), "Error loading materials in %s ");
  s.materials[0].colour.clear();  // both IDs -1 and no colour
  ExpectFailure(WriteScene(s), "Error loading materials in %s ");

  s = Basic();
  std::string mesh_text = WriteScene(s);
  ExpectFailure(Rename(mesh_text, "UVVERTICES", "UVX"), "Error loading meshes in %s ");
  ExpectFailure(Rename(mesh_text, "COLORVERTICES", "CX"), "Error loading meshes in %s ");
  ExpectFailure(Rename(mesh_text, "VERTICES", "VX"), "Error loading meshes in %s ");
  ExpectFailure(Rename(mesh_text, "FACES", "FX"), "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<MATERIALINDICES> -1 </MATERIALINDICES>", ""), "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<MATERIALINDICES> -1 </MATERIALINDICES>", "<MATERIALINDICES> -1 -1 </MATERIALINDICES>"),
                "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<POSITION> 0.0 0.0 0.0 </POSITION>", "<POSITION> 0 0 0 </POSITION>"),
                "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<NAME> \"Tri\" </NAME>", ""), "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<PIVOTROTATION> 0.0 0.0 0.0 1.0", "<PIVOTROTATION> 0.0 0.0 1.0"),
                "Error loading meshes in %s ");
  // Unchecked indices: out of range, negative, not a multiple of 3.
  ExpectFailure(Replace(mesh_text, "<VERTICESINDICES> 0 1 2", "<VERTICESINDICES> 0 1 3"), "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<VERTICESINDICES> 0 1 2", "<VERTICESINDICES> 0 -1 2"), "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<VERTICESINDICES> 0 1 2", "<VERTICESINDICES> 0 1 2 0"), "Error loading meshes in %s ");
  ExpectFailure(Replace(mesh_text, "<VERTICES> 0.0 0.0 0.0", "<VERTICES> 0.0 0.0"), "Error loading meshes in %s ");
  {
    MeshSpec m = Triangle();
    m.uvs = {0, 0, 1, 0, 0};  // odd
    m.uv_faces = {0, 1, 1};
    SceneSpec t;
    t.meshes = {m};
    ExpectFailure(WriteScene(t), "Error loading meshes in %s ");
    m.uvs = {0, 0, 1, 0};
    m.uv_faces = {0, 1, 2};  // 2 is out of range
    t.meshes = {m};
    ExpectFailure(WriteScene(t), "Error loading meshes in %s ");
    m.uv_faces = {0, 1};  // not 3 per face
    t.meshes = {m};
    ExpectFailure(WriteScene(t), "Error loading meshes in %s ");
    m = Triangle();
    m.colours = {1, 0, 0};
    m.colour_faces = {0, 0};
    t.meshes = {m};
    ExpectFailure(WriteScene(t), "Error loading meshes in %s ");
    m = Triangle();
    m.smoothing = {1, 2};
    t.meshes = {m};
    ExpectFailure(WriteScene(t), "Error loading meshes in %s ");
    m = Triangle();
    m.vertices[4] = 2.0e18f;  // beyond ±1.0e18
    t.meshes = {m};
    ExpectFailure(WriteScene(t), "Error loading meshes in %s ");
  }

  s = Basic();
  ExpectFailure(Rename(WriteScene(s), "FOV", "F"), "Error loading cameras in %s ");
  ExpectFailure(Replace(WriteScene(s), "<NAME> \"Camera01\"", "<NAME> 1"), "Error loading cameras in %s ");

  s = Basic();
  s.lights.push_back({});
  ExpectFailure(Rename(WriteScene(s), "TYPE", "TYPEX"), "Error loading lights in %s ");
  s.lights[0].type = "DIRECTIONAL";
  ExpectFailure(Replace(WriteScene(s), "<ROTATION> 0.0 0.0 0.0 1.0 </ROTATION>\n\t\t<COLOR>", "<COLOR>"),
                "Error loading lights in %s ");

  s = Basic();
  s.controllers.push_back({"POSROT", 1, {0, 0, 0, 0, 0, 0, 1, 1}});  // 8 samples
  ExpectFailure(WriteScene(s), "Error loading controlers in %s ");
  s.controllers[0].samples.pop_back();
  ExpectFailure(Rename(WriteScene(s), "OWNERID", "O"), "Error loading controlers in %s ");
  ExpectFailure(Rename(WriteScene(s), "DATA", "D"), "Error loading controlers in %s ");

  s = Basic();
  s.cameras.clear();
  s.lights.push_back({});
  ExpectFailure(WriteScene(s), "Scene doesnt have a camera!!!");
}

TEST_F(SceneText, EdgeCases) {
  scene::SceneFile out;
  // A mesh with empty VERTICESINDICES is skipped and gets no ID.
  SceneSpec s;
  MeshSpec empty = Triangle(5, "Empty");
  empty.faces.clear();
  s.meshes = {empty, Triangle(6, "Kept")};
  s.controllers.push_back({"POSROT", 5, {0, 0, 0, 0, 0, 0, 1}});
  s.controllers.push_back({"SPIN", 5, {}});  // other kinds are skipped
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  ASSERT_EQ(out.meshes.size(), 1u);
  EXPECT_EQ(out.meshes[0].name, "Kept");
  ASSERT_EQ(out.pos_rot_owners.size(), 1u);
  EXPECT_EQ(out.pos_rot_owners[0], (scene::TrackOwner{scene::OWNER_MESH, -1}));
  EXPECT_TRUE(HasMessage("owner ID 5")) << AllMessages();

  // Lights: any other type is a point light; FARATTENUATION 0.0 is no key;
  // MULTIPLIER 2.0 gives attenuation0 0.5.
  s = SceneSpec();
  s.ambient = {0.1f, 0.2f, 0.3f};
  LightSpec spot;
  spot.type = "TSPOT";
  spot.colour = {0.5f, 0.25f, 1.0f};
  LightSpec far0 = spot;
  far0.write_far = true;
  far0.far_attenuation = 0.0f;
  LightSpec doubled;
  doubled.write_multiplier = true;
  doubled.multiplier = 2.0f;
  LightSpec far;
  far.write_far = true;
  far.far_attenuation = 10.0f;
  far.write_multiplier = true;
  far.multiplier = 2.0f;
  s.lights = {spot, far0, doubled, far};
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  ASSERT_EQ(out.lights.size(), 4u);
  const render::Light& l = out.lights[0];
  EXPECT_EQ(l.type, render::LIGHT_POINT);
  EXPECT_EQ(l.diffuse, (render::ColorValue{0.5f, 0.25f, 1.0f, 0.0f}));
  EXPECT_EQ(l.specular, l.diffuse);
  EXPECT_EQ(l.ambient, (render::ColorValue{0.1f, 0.2f, 0.3f, 0.0f}));
  EXPECT_EQ(l.position, (scene::Vec3{1, 2, 3}));
  EXPECT_EQ(l.range, 1000000.0f);
  EXPECT_EQ(l.attenuation0, 1.0f);
  EXPECT_EQ(l.attenuation1, 0.0f);
  EXPECT_EQ(out.lights[1], l);
  EXPECT_EQ(out.lights[2].attenuation0, 0.5f);
  EXPECT_EQ(out.lights[3].attenuation0, 0.0f);
  EXPECT_EQ(out.lights[3].attenuation1, (1.0f / 2.0f) / (10.0f * 0.15f));

  // POSROT (0 0 0 1) then (0 0 0 -1) are stored equal; negations chain.
  s = SceneSpec();
  s.controllers.push_back({"POSROT", 100, {0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 1}});
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  ASSERT_EQ(out.pos_rot_tracks.size(), 1u);
  const scene::PosRotTrack& t = out.pos_rot_tracks[0];
  EXPECT_EQ(t.rate, 30.0f);
  ASSERT_EQ(t.samples.size(), 3u);
  EXPECT_EQ(t.samples[1].position, (scene::Vec3{1, 2, 3}));
  EXPECT_EQ(t.samples[0].rotation, (scene::Quat{1, 0, 0, 0}));
  EXPECT_EQ(t.samples[1].rotation, (scene::Quat{1, -0.0f, -0.0f, -0.0f}));
  EXPECT_EQ(t.samples[2].rotation, (scene::Quat{1, 0, 0, 0}));
  EXPECT_EQ(out.pos_rot_owners[0], (scene::TrackOwner{scene::OWNER_CAMERA, 0}));
}

TEST_F(SceneText, OwnerPrecedence) {
  SceneSpec s;
  s.meshes = {Triangle(7)};
  s.cameras[0].id = 7;  // mesh and camera share 7
  LightSpec light;
  light.id = 9;
  s.lights = {light};
  CameraSpec second;
  second.id = 9;  // camera and light share 9
  second.name = "Second";
  s.cameras.push_back(second);
  s.controllers = {{"POSROT", 7, {0, 0, 0, 0, 0, 0, 1}},
                   {"POSROT", 9, {0, 0, 0, 0, 0, 0, 1}},
                   {"FLOAT", 9, {45.0f, 50.0f}},
                   {"FLOAT", 7, {1.0f}}};
  LightSpec only_light;
  only_light.id = 11;
  s.lights.push_back(only_light);
  s.controllers.push_back({"FLOAT", 11, {2.0f}});
  scene::SceneFile out;
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  ASSERT_EQ(out.pos_rot_owners.size(), 2u);
  EXPECT_EQ(out.pos_rot_owners[0], (scene::TrackOwner{scene::OWNER_CAMERA, 0}));  // camera over mesh
  EXPECT_EQ(out.pos_rot_owners[1], (scene::TrackOwner{scene::OWNER_LIGHT, 0}));   // light over camera
  ASSERT_EQ(out.float_owners.size(), 3u);
  EXPECT_EQ(out.float_owners[0], (scene::TrackOwner{scene::OWNER_CAMERA, 1}));
  EXPECT_EQ(out.float_owners[1], (scene::TrackOwner{scene::OWNER_CAMERA, 0}));
  EXPECT_EQ(out.float_owners[2], (scene::TrackOwner{scene::OWNER_MESH, -1}));  // a light's float track
  EXPECT_EQ(out.float_tracks[0].rate, 30u);
  EXPECT_EQ(out.float_tracks[0].values, (std::vector<float>{45.0f, 50.0f}));
}

TEST_F(SceneText, MaterialsGoToTheTableAndElementsNameThem) {
  SceneSpec s;
  s.textures = {{1, "C:\\maps\\Brick.tga"}, {2, "env/Sky.Dome.jpg"}, {1, "dup.tga"}};
  s.materials = {{1, "Mat.001", 1, -1, {}},   // diffuse
                 {2, "Mat.002", -1, 2, {}},   // reflection
                 {3, "chrome", 1, 2, {}},     // both
                 {4, "red", -1, -1, {2.0f, -1.0f, 0.5f}},  // clamped colour
                 {5, "lost", 42, -1, {}},     // dangling texture, no colour: white
                 {6, "lost2", -1, 43, {0.0f, 1.0f, 0.0f}},  // dangling texture: its colour
                 {7, "MAT.001", -1, -1, {0, 0, 0}}};  // a second definition of a name
  MeshSpec m = Triangle();
  m.faces = {0, 1, 2, 0, 2, 1, 1, 2, 0, 2, 0, 1};
  m.materials = {2, 1, 99, 4};  // 99 dangles: no material
  s.meshes = {m};
  scene::SceneFile out;
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  ASSERT_TRUE(out.has_materials);
  ASSERT_EQ(out.materials.size(), 6u);
  EXPECT_EQ(out.materials[0], (scene::MaterialDef{"MAT.001", scene::MATERIAL_DIFFUSE, "BRICK", "", 0}));
  EXPECT_EQ(out.materials[1], (scene::MaterialDef{"MAT.002", scene::MATERIAL_REFLECTION, "SKY.DOME", "", 0}));
  EXPECT_EQ(out.materials[2], (scene::MaterialDef{"CHROME", scene::MATERIAL_BOTH, "BRICK", "SKY.DOME", 0}));
  EXPECT_EQ(out.materials[3], (scene::MaterialDef{"RED", scene::MATERIAL_COLOUR, "", "", 0xFF007Fu}));
  EXPECT_EQ(out.materials[4], (scene::MaterialDef{"LOST", scene::MATERIAL_COLOUR, "", "", 0xFFFFFFu}));
  EXPECT_EQ(out.materials[5], (scene::MaterialDef{"LOST2", scene::MATERIAL_COLOUR, "", "", 0x00FF00u}));
  EXPECT_TRUE(HasMessage("texture ID 42")) << AllMessages();
  EXPECT_TRUE(HasMessage("texture ID 43")) << AllMessages();
  EXPECT_TRUE(HasMessage("material ID 99")) << AllMessages();
  // Elements by material ID: -1 (the dangling one), 1, 2, 4.
  const auto& e = out.meshes[0].elements;
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].material, "");
  EXPECT_EQ(e[1].material, "MAT.001");
  EXPECT_EQ(e[2].material, "MAT.002");
  EXPECT_EQ(e[3].material, "RED");
}

TEST_F(SceneText, MendedFaults) {
  scene::SceneFile out;
  // Directional lights: row 2 of M(q ⊗ rx(π/2)); identity points down.
  SceneSpec s;
  LightSpec d;
  d.type = "TDIRECTIONAL";
  LightSpec zero;
  zero.write_multiplier = true;
  zero.multiplier = 0.0f;  // "MULTIPLIER" 0.0
  s.lights = {d, zero};
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  const render::Light& l = out.lights[0];
  EXPECT_EQ(l.type, render::LIGHT_DIRECTIONAL);
  scene::Mat3 m = scene::Mat3FromQuat(scene::TurnQuarterX({1, 0, 0, 0}));
  EXPECT_EQ(l.direction, (scene::Vec3{m.m[2][0], m.m[2][1], m.m[2][2]}));
  EXPECT_NEAR(l.direction.y, -1.0f, 1e-6);
  EXPECT_NEAR(l.direction.x, 0.0f, 1e-6);
  const render::Light& z = out.lights[1];
  EXPECT_EQ(z.diffuse, (render::ColorValue{0, 0, 0, 0}));
  EXPECT_EQ(z.specular, (render::ColorValue{0, 0, 0, 0}));
  EXPECT_EQ(z.attenuation0, 1.0f);
  EXPECT_TRUE(std::isfinite(z.attenuation1));

  // Vertex colours outside 0-1 are clamped, never spilled.
  s = SceneSpec();
  MeshSpec c = Triangle();
  c.colours = {2.0f, -0.5f, 0.5f, 1.0f, 1.0f, 1.0f};
  c.colour_faces = {0, 1, 0};
  s.meshes = {c};
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  EXPECT_EQ(out.meshes[0].elements[0].vertices[0].colour, 0xFFFF007Fu);
  EXPECT_EQ(out.meshes[0].elements[0].vertices[1].colour, 0xFFFFFFFFu);

  // Parents: resolved to positions; dangling → none with a log line; a
  // cycle or a self parent is a mesh error.
  s = SceneSpec();
  MeshSpec a = Triangle(10, "A"), b = Triangle(20, "B"), dangling = Triangle(30, "C");
  b.parent = 10;
  dangling.parent = 77;
  s.meshes = {b, a, dangling};
  ClearMessages();
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  EXPECT_EQ(out.meshes[0].parent, 1);
  EXPECT_EQ(out.meshes[1].parent, -1);
  EXPECT_EQ(out.meshes[2].parent, -1);
  EXPECT_TRUE(HasMessage("parent ID 77")) << AllMessages();
  a.parent = 20;
  s.meshes = {b, a};
  ExpectFailure(WriteScene(s), "Error loading meshes in %s ");
  a.parent = 10;
  s.meshes = {a};
  ExpectFailure(WriteScene(s), "Error loading meshes in %s ");

  // A camera name longer than 255 bytes is cut at 255.
  s = SceneSpec();
  s.cameras[0].name = std::string(300, 'c');
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  EXPECT_EQ(out.cameras[0].name, std::string(255, 'c'));

  // Second elements with a used ID keep the first mapping.
  s = SceneSpec();
  MeshSpec first = Triangle(3, "First"), second = Triangle(3, "Second");
  s.meshes = {first, second};
  s.controllers = {{"POSROT", 3, {0, 0, 0, 0, 0, 0, 1}}};
  ASSERT_EQ(Convert(WriteScene(s), &out), 0) << AllMessages();
  EXPECT_EQ(out.pos_rot_owners[0], (scene::TrackOwner{scene::OWNER_MESH, 0}));
  EXPECT_EQ(out.mesh_ids, (std::vector<int32_t>{3, 3}));
}

TEST_F(SceneText, ConvertSceneTextWritesTheBinaryIntoTheFile) {
  Put("data/scenes/t.txt", WriteScene(Basic()));
  core::FilePtr file(core::OpenDataFile("out.hvx", "wb"));
  ASSERT_TRUE(file);
  EXPECT_EQ(scene::ConvertSceneText("data/scenes/t.txt", file.get()), 0);
  file.reset();
  std::string bytes, direct;
  ASSERT_TRUE(core::ReadWholeFile("out.hvx", &bytes));
  ASSERT_EQ(scene::ConvertSceneTextToBytes("data/scenes/t.txt", &direct), 0);
  EXPECT_EQ(bytes, direct);
  scene::SceneFile decoded;
  EXPECT_EQ(scene::DecodeSceneBinary(bytes, &decoded), scene::DecodeResult::kOk);
}

}  // namespace

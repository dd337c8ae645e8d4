// A small scene-text writer for the tests: tag text with every real in
// fixed notation and always with a point (the shortest text that reads back
// as the same float), every int without one, strings quoted.
#pragma once

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace scene_test {

inline std::string Real(float value) {
  char buffer[128];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string text(buffer, result.ptr);
  if (text.find('.') == std::string::npos) text += ".0";
  return text;
}

class TagText {
 public:
  TagText& Open(const std::string& key) {
    Indent();
    out_ += "<" + key + ">\n";
    ++depth_;
    return *this;
  }
  TagText& Close(const std::string& key) {
    --depth_;
    Indent();
    out_ += "</" + key + ">\n";
    return *this;
  }
  TagText& Reals(const std::string& key, const std::vector<float>& values) {
    Indent();
    out_ += "<" + key + ">";
    for (float v : values) out_ += " " + Real(v);
    out_ += " </" + key + ">\n";
    return *this;
  }
  TagText& Ints(const std::string& key, const std::vector<int32_t>& values) {
    Indent();
    out_ += "<" + key + ">";
    for (int32_t v : values) out_ += " " + std::to_string(v);
    out_ += " </" + key + ">\n";
    return *this;
  }
  TagText& Int(const std::string& key, int32_t value) { return Ints(key, {value}); }
  TagText& String(const std::string& key, const std::string& value) {
    Indent();
    out_ += "<" + key + "> \"" + value + "\" </" + key + ">\n";
    return *this;
  }
  TagText& Raw(const std::string& text) {
    out_ += text;
    return *this;
  }
  const std::string& str() const { return out_; }

 private:
  void Indent() { out_.append(static_cast<size_t>(depth_ > 0 ? depth_ : 0), '\t'); }
  std::string out_;
  int depth_ = 0;
};

struct TextureSpec {
  int32_t id = 1;
  std::string file = "maps\\Brick.tga";
};

struct MaterialSpec {
  int32_t id = 1;
  std::string name = "Mat";
  int32_t diffuse = -1, reflection = -1;
  std::vector<float> colour = {1.0f, 0.5f, 0.25f};  // empty: no DIFFUSECOLOR
};

struct MeshSpec {
  int32_t id = 1;
  std::string name = "Box";
  int32_t parent = 0;  // 0: no PARENTID written
  std::vector<float> position = {0, 0, 0}, rotation = {0, 0, 0, 1};
  std::vector<float> pivot_position = {0, 0, 0}, pivot_rotation = {0, 0, 0, 1};
  std::vector<float> vertices;
  std::vector<float> uvs, colours;
  std::vector<int32_t> faces, uv_faces, colour_faces;
  std::vector<int32_t> smoothing;  // empty: no SMOOTHINGGROUP
  std::vector<int32_t> materials;  // empty: all -1
};

struct CameraSpec {
  int32_t id = 100;
  std::string name = "Camera01";
  std::vector<float> position = {0, 0, -10}, rotation = {0, 0, 0, 1};
  float fov = 60.0f, near_plane = 1.0f, far_plane = 1000.0f;
};

struct LightSpec {
  int32_t id = 200;
  std::string type = "OMNI";
  std::vector<float> position = {1, 2, 3}, rotation = {0, 0, 0, 1};
  std::vector<float> colour = {1, 1, 1};
  float multiplier = 1.0f;
  float far_attenuation = 0.0f;
  bool write_multiplier = false, write_far = false;
};

struct ControllerSpec {
  std::string type = "POSROT";
  int32_t owner = 1;
  std::vector<float> samples;
};

struct SceneSpec {
  int32_t frame_rate = 30;
  std::vector<float> ambient = {0.1f, 0.2f, 0.3f};
  std::vector<TextureSpec> textures;
  std::vector<MaterialSpec> materials;
  std::vector<MeshSpec> meshes;
  std::vector<CameraSpec> cameras = {CameraSpec{}};
  std::vector<LightSpec> lights;
  std::vector<ControllerSpec> controllers;
};

inline void WriteMesh(TagText& t, const MeshSpec& m) {
  t.Open("MESH").Int("ID", m.id).String("NAME", m.name);
  t.Reals("POSITION", m.position).Reals("ROTATION", m.rotation);
  t.Reals("PIVOTPOSITION", m.pivot_position).Reals("PIVOTROTATION", m.pivot_rotation);
  if (m.parent != 0) t.Int("PARENTID", m.parent);
  t.Open("MAXMESH");
  t.Reals("VERTICES", m.vertices).Reals("UVVERTICES", m.uvs).Reals("COLORVERTICES", m.colours);
  t.Open("FACES").Ints("VERTICESINDICES", m.faces);
  if (!m.uvs.empty()) t.Ints("TVERTICESINDICES", m.uv_faces);
  if (!m.colours.empty()) t.Ints("CVERTICESINDICES", m.colour_faces);
  if (!m.smoothing.empty()) t.Ints("SMOOTHINGGROUP", m.smoothing);
  std::vector<int32_t> materials = m.materials;
  if (materials.empty()) materials.assign(m.faces.size() / 3, -1);
  t.Ints("MATERIALINDICES", materials);
  t.Close("FACES").Close("MAXMESH").Close("MESH");
}

inline std::string WriteScene(const SceneSpec& s) {
  TagText t;
  t.Open("SCENE");
  t.Open("SCENEINFO").Int("FRAMERATE", s.frame_rate);
  if (!s.ambient.empty()) t.Reals("AMBIENT", s.ambient);
  t.Close("SCENEINFO");
  for (const TextureSpec& x : s.textures) t.Open("TEXTURE").Int("ID", x.id).String("FILE", x.file).Close("TEXTURE");
  for (const MaterialSpec& m : s.materials) {
    t.Open("MATERIAL").Int("ID", m.id).String("NAME", m.name);
    t.Int("DIFFUSETEXTUREID", m.diffuse).Int("REFLECTIONTEXTUREID", m.reflection);
    if (!m.colour.empty()) t.Reals("DIFFUSECOLOR", m.colour);
    t.Close("MATERIAL");
  }
  for (const MeshSpec& m : s.meshes) WriteMesh(t, m);
  for (const CameraSpec& c : s.cameras) {
    t.Open("CAMERA").Int("ID", c.id).String("NAME", c.name).Reals("POSITION", c.position);
    t.Reals("ROTATION", c.rotation).Reals("FOV", {c.fov}).Reals("NEAR", {c.near_plane}).Reals("FAR", {c.far_plane});
    t.Close("CAMERA");
  }
  for (const LightSpec& l : s.lights) {
    t.Open("LIGHT").Int("ID", l.id).String("TYPE", l.type).Reals("POSITION", l.position);
    t.Reals("ROTATION", l.rotation).Reals("COLOR", l.colour);
    if (l.write_multiplier) t.Reals("MULTIPLIER", {l.multiplier});
    if (l.write_far) t.Reals("FARATTENUATION", {l.far_attenuation});
    t.Close("LIGHT");
  }
  for (const ControllerSpec& c : s.controllers) {
    t.Open("CONTROLLER").String("TYPE", c.type).Int("OWNERID", c.owner);
    t.Open("DATA").Reals("SAMPLES", c.samples).Close("DATA").Close("CONTROLLER");
  }
  t.Close("SCENE");
  return t.str();
}

// One triangle in the z = 0 plane.
inline MeshSpec Triangle(int32_t id = 1, const std::string& name = "Tri") {
  MeshSpec m;
  m.id = id;
  m.name = name;
  m.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  m.faces = {0, 1, 2};
  return m;
}

// A unit cube: 8 corners, 12 faces (two per side), outward winding for a
// left-handed space is not needed by the tests, only a fixed triangulation.
inline MeshSpec Cube(int32_t id = 1) {
  MeshSpec m;
  m.id = id;
  m.name = "Cube";
  m.vertices = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1};
  m.faces = {
      0, 2, 1, 0, 3, 2,  // z = 0
      4, 5, 6, 4, 6, 7,  // z = 1
      0, 1, 5, 0, 5, 4,  // y = 0
      3, 7, 6, 3, 6, 2,  // y = 1
      0, 4, 7, 0, 7, 3,  // x = 0
      1, 2, 6, 1, 6, 5,  // x = 1
  };
  return m;
}

}  // namespace scene_test

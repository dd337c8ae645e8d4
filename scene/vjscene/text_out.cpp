// The scene text writer. Numbers are the delicate part: the tag reader
// knows no exponent ("1e-7" reads as 1 and -7) and takes a number without
// a point as an integer, so every real is fixed notation with a point.
#include <charconv>
#include <cmath>

#include "scene/vjscene/vjscene.h"

namespace vjscene {
namespace {

class Out {
 public:
  explicit Out(std::string* text) : text_(text) {}
  bool ok = true;

  void Open(const char* key) {
    Indent();
    *text_ += '<';
    *text_ += key;
    *text_ += ">\n";
    ++depth_;
  }
  void Close(const char* key) {
    --depth_;
    Indent();
    *text_ += "</";
    *text_ += key;
    *text_ += ">\n";
  }
  void Int(const char* key, int32_t value) {
    Indent();
    *text_ += '<';
    *text_ += key;
    *text_ += "> ";
    *text_ += std::to_string(value);
    *text_ += " </";
    *text_ += key;
    *text_ += ">\n";
  }
  void String(const char* key, const std::string& value) {
    Indent();
    *text_ += '<';
    *text_ += key;
    *text_ += "> \"";
    *text_ += SanitizeName(value);
    *text_ += "\" </";
    *text_ += key;
    *text_ += ">\n";
  }
  void Reals(const char* key, const float* values, size_t count) {
    Indent();
    *text_ += '<';
    *text_ += key;
    *text_ += '>';
    for (size_t i = 0; i < count; ++i) {
      if (!std::isfinite(values[i])) ok = false;
      *text_ += ' ';
      *text_ += FormatReal(values[i]);
    }
    *text_ += " </";
    *text_ += key;
    *text_ += ">\n";
  }
  void Vec(const char* key, const Vec3& v) {
    const float f[3] = {v.x, v.y, v.z};
    Reals(key, f, 3);
  }
  // The text writes quaternions x y z w.
  void Rotation(const char* key, const Quat& q) {
    const float f[4] = {q.x, q.y, q.z, q.w};
    Reals(key, f, 4);
  }
  void Ints(const char* key, const std::vector<int32_t>& values) {
    Indent();
    *text_ += '<';
    *text_ += key;
    *text_ += '>';
    char buffer[16];
    for (int32_t v : values) {
      auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
      *text_ += ' ';
      text_->append(buffer, r.ptr);
    }
    *text_ += " </";
    *text_ += key;
    *text_ += ">\n";
  }

 private:
  void Indent() { text_->append(static_cast<size_t>(depth_) * 2, ' '); }
  std::string* text_;
  int depth_ = 0;
};

void WriteMesh(Out& o, const TextMesh& m) {
  o.Open("MESH");
  o.Int("ID", m.id);
  o.String("NAME", m.name);
  o.Vec("POSITION", m.position);
  o.Rotation("ROTATION", m.rotation);
  o.Vec("PIVOTPOSITION", Vec3{});
  o.Rotation("PIVOTROTATION", Quat{});
  if (m.parent_id != 0) o.Int("PARENTID", m.parent_id);
  o.Open("MAXMESH");
  if (!m.skin.empty()) {
    o.Open("SKIN");
    o.Open("VERTICES");
    for (const std::vector<TextInfluence>& vertex : m.skin) {
      o.Open("V");
      for (const TextInfluence& in : vertex) {
        o.Open("B");
        o.Int("MAXID", in.bone_id);
        o.Reals("WEIGHT", &in.weight, 1);
        o.Vec("OFFSET", in.offset);
        o.Close("B");
      }
      o.Close("V");
    }
    o.Close("VERTICES");
    o.Close("SKIN");
  } else {
    static_assert(sizeof(Vec3) == 3 * sizeof(float));
    o.Reals("VERTICES", &m.vertices.data()->x, m.vertices.size() * 3);
  }
  o.Reals("UVVERTICES", m.uvs.data(), m.uvs.size());
  o.Reals("COLORVERTICES", m.colours.empty() ? nullptr : &m.colours.data()->x, m.colours.size() * 3);
  o.Open("FACES");
  o.Ints("VERTICESINDICES", m.faces);
  if (!m.uvs.empty()) o.Ints("TVERTICESINDICES", m.faces);
  if (!m.colours.empty()) o.Ints("CVERTICESINDICES", m.faces);
  o.Ints("SMOOTHINGGROUP", m.smoothing);
  o.Ints("MATERIALINDICES", m.materials);
  o.Close("FACES");
  o.Close("MAXMESH");
  o.Close("MESH");
}

}  // namespace

std::string FormatReal(float value) {
  if (value == 0.0f) return std::signbit(value) ? "-0.0" : "0.0";
  char buffer[128];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string text(buffer, r.ptr);
  if (text.find('.') == std::string::npos) text += ".0";
  return text;
}

std::string SanitizeName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || u < 0x20 || u == 0x7f) c = '_';
  }
  return out;
}

bool WriteSceneText(const SceneText& s, std::string* text) {
  std::string body;
  Out o(&body);
  o.Open("SCENE");
  o.Open("SCENEINFO");
  o.Int("FRAMERATE", s.frame_rate);
  o.Vec("AMBIENT", Vec3{});
  o.Close("SCENEINFO");
  for (const TextTexture& t : s.textures) {
    o.Open("TEXTURE");
    o.Int("ID", t.id);
    o.String("FILE", t.file);
    o.Close("TEXTURE");
  }
  for (const TextMaterial& m : s.materials) {
    o.Open("MATERIAL");
    o.Int("ID", m.id);
    o.String("NAME", m.name);
    o.Int("DIFFUSETEXTUREID", m.diffuse_texture);
    o.Int("REFLECTIONTEXTUREID", -1);
    o.Vec("DIFFUSECOLOR", m.colour);
    o.Close("MATERIAL");
  }
  for (const TextMesh& m : s.meshes) WriteMesh(o, m);
  for (const TextCamera& c : s.cameras) {
    o.Open("CAMERA");
    o.Int("ID", c.id);
    o.String("NAME", c.name);
    o.Vec("POSITION", c.position);
    o.Rotation("ROTATION", c.rotation);
    o.Reals("FOV", &c.fov, 1);
    o.Reals("NEAR", &c.near_plane, 1);
    o.Reals("FAR", &c.far_plane, 1);
    o.Close("CAMERA");
  }
  for (const TextLight& l : s.lights) {
    o.Open("LIGHT");
    o.Int("ID", l.id);
    o.String("TYPE", l.directional ? "DIRECTIONAL" : "OMNI");
    o.Vec("POSITION", l.position);
    o.Rotation("ROTATION", l.rotation);
    o.Vec("COLOR", l.colour);
    o.Reals("MULTIPLIER", &l.multiplier, 1);
    o.Close("LIGHT");
  }
  for (const TextController& c : s.controllers) {
    o.Open("CONTROLLER");
    o.String("TYPE", "POSROT");
    o.Int("OWNERID", c.owner_id);
    o.Open("DATA");
    std::vector<float> values;
    values.reserve(c.samples.size() * 7);
    for (const scene::PosRotSample& p : c.samples) {
      values.insert(values.end(), {p.position.x, p.position.y, p.position.z, p.rotation.x, p.rotation.y,
                                   p.rotation.z, p.rotation.w});
    }
    o.Reals("SAMPLES", values.data(), values.size());
    o.Close("DATA");
    o.Close("CONTROLLER");
  }
  o.Close("SCENE");
  if (!o.ok) return false;
  *text = std::move(body);
  return true;
}

}  // namespace vjscene

// The scene text format: one tag file read into a SceneFile.
// Every required key and token kind is checked; a failure shows its
// category's message with the text path and ends the conversion with -1.
// Dangling references (parent, material, texture, track owner) become
// "none" with one log line each.
#include <sys/stat.h>

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <unordered_map>

#include "scene/scene.h"
#include "scene/scene_internal.h"
#include "text/text.h"

namespace scene {
namespace {

using text::TagNode;

enum class Category {
  kSceneInfo,
  kTextures,
  kMaterials,
  kMeshes,
  kCameras,
  kLights,
  kControllers,
};

const char* CategoryMessage(Category c) {
  switch (c) {
    case Category::kSceneInfo: return "Error loading SCENEINFO in %s ";
    case Category::kTextures: return "Error loading textures in %s ";
    case Category::kMaterials: return "Error loading materials in %s ";
    case Category::kMeshes: return "Error loading meshes in %s ";
    case Category::kCameras: return "Error loading cameras in %s ";
    case Category::kLights: return "Error loading lights in %s ";
    case Category::kControllers: return "Error loading controlers in %s ";
  }
  return "%s";
}

// Coordinates beyond this are a mesh error, so quantisation boxes stay finite.
constexpr float kMaxCoordinate = 1.0e18f;

enum class Got { kMissing, kBad, kOk };

// The keyed child element, or nullptr when absent. A key matching something
// other than a tag is malformed (*bad set).
const TagNode* Keyed(const TagNode* node, const char* key, bool* bad) {
  const TagNode* child = text::FindChild(node, key);
  if (child && child->Kind() != text::NODE_TAG) {
    *bad = true;
    return nullptr;
  }
  return child;
}

Got GetInt(const TagNode* node, const char* key, int32_t* out) {
  bool bad = false;
  const TagNode* child = Keyed(node, key, &bad);
  if (bad) return Got::kBad;
  if (!child) return Got::kMissing;
  const TagNode* value = child->Child(0);
  return value && value->GetInt(out) ? Got::kOk : Got::kBad;
}

Got GetReals(const TagNode* node, const char* key, float* out, int count) {
  bool bad = false;
  const TagNode* child = Keyed(node, key, &bad);
  if (bad) return Got::kBad;
  if (!child) return Got::kMissing;
  for (int i = 0; i < count; ++i) {
    const TagNode* value = child->Child(i);
    if (!value || !value->GetReal(&out[i], text::Numbers::kRealOnly)) return Got::kBad;
  }
  return Got::kOk;
}

Got GetString(const TagNode* node, const char* key, std::string* out) {
  bool bad = false;
  const TagNode* child = Keyed(node, key, &bad);
  if (bad) return Got::kBad;
  if (!child) return Got::kMissing;
  const TagNode* value = child->Child(0);
  if (!value || !value->String()) return Got::kBad;
  *out = value->String();
  return Got::kOk;
}

// Every value of the element must be a real (an int list: an int).
Got GetRealList(const TagNode* node, const char* key, std::vector<float>* out) {
  bool bad = false;
  const TagNode* child = Keyed(node, key, &bad);
  if (bad) return Got::kBad;
  if (!child) return Got::kMissing;
  out->resize(static_cast<size_t>(child->ChildCount()));
  size_t i = 0;
  for (const TagNode* value : child->Children())
    if (!value->GetReal(&(*out)[i++], text::Numbers::kRealOnly)) return Got::kBad;
  return Got::kOk;
}

Got GetIntList(const TagNode* node, const char* key, std::vector<int32_t>* out) {
  bool bad = false;
  const TagNode* child = Keyed(node, key, &bad);
  if (bad) return Got::kBad;
  if (!child) return Got::kMissing;
  out->resize(static_cast<size_t>(child->ChildCount()));
  size_t i = 0;
  for (const TagNode* value : child->Children())
    if (!value->GetInt(&(*out)[i++])) return Got::kBad;
  return Got::kOk;
}

bool Required(Got g) { return g == Got::kOk; }
// An optional key: absent is fine, malformed is not.
bool Optional(Got g) { return g != Got::kBad; }

// Text x y z w → w x y z.
Quat QuatFromText(const float v[4]) { return {v[3], v[0], v[1], v[2]}; }
Vec3 VecFromText(const float v[3]) { return {v[0], v[1], v[2]}; }

// The text after the last '/' or '\', up to its last '.'.
std::string TextureBaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  return core::AsciiToUpper(name);
}

bool WithinLimit(float v) { return std::fabs(v) <= kMaxCoordinate; }

struct Material {
  std::string name;  // upper-cased NAME
};

class Converter {
 public:
  Converter(const char* path, SceneFile* out) : path_(path), out_(out) {}

  int Run();

 private:
  // One log line (the run-time message sink).
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    std::string text = core::FormatStringV(format, args);
    va_end(args);
    core::RaiseRuntimeMessage("%s", text.c_str());
  }
  int Fail(Category c) {
    core::ShowError(CategoryMessage(c), path_);
    *out_ = SceneFile();
    return -1;
  }
  bool SceneInfo(const TagNode* scene);
  bool Texture(const TagNode* node);
  bool MaterialEntry(const TagNode* node);
  bool Mesh(const TagNode* node);
  bool ResolveParents();
  bool Camera(const TagNode* node);
  bool Light(const TagNode* node);
  bool Controller(const TagNode* node);

  const char* path_;
  SceneFile* out_;
  int32_t frame_rate_ = 0;
  Vec3 ambient_{0.0f, 0.0f, 0.0f};
  std::vector<std::string> textures_;
  std::unordered_map<int32_t, size_t> texture_ids_;
  std::vector<Material> materials_;
  std::unordered_map<int32_t, size_t> material_ids_;
  std::unordered_map<int32_t, size_t> mesh_ids_;
  std::vector<int32_t> parent_ids_;
  std::unordered_map<int32_t, size_t> camera_ids_;
  std::unordered_map<int32_t, size_t> light_ids_;
};

bool Converter::SceneInfo(const TagNode* scene) {
  bool bad = false;
  const TagNode* info = Keyed(scene, "SCENEINFO", &bad);
  if (!info) return false;
  if (!Required(GetInt(info, "FRAMERATE", &frame_rate_)) || frame_rate_ <= 0) return false;
  float ambient[3];
  Got g = GetReals(info, "AMBIENT", ambient, 3);
  if (!Optional(g)) return false;
  if (g == Got::kOk) ambient_ = VecFromText(ambient);
  return true;
}

bool Converter::Texture(const TagNode* node) {
  int32_t id;
  std::string file;
  if (!Required(GetInt(node, "ID", &id)) || !Required(GetString(node, "FILE", &file))) return false;
  texture_ids_.emplace(id, textures_.size());
  textures_.push_back(TextureBaseName(file));
  return true;
}

bool Converter::MaterialEntry(const TagNode* node) {
  int32_t id, diffuse, reflection;
  std::string name;
  if (!Required(GetInt(node, "ID", &id)) || !Required(GetString(node, "NAME", &name)) ||
      !Required(GetInt(node, "DIFFUSETEXTUREID", &diffuse)) ||
      !Required(GetInt(node, "REFLECTIONTEXTUREID", &reflection)))
    return false;
  const bool written_colour_only = diffuse == -1 && reflection == -1;
  auto texture = [&](int32_t texture_id) -> const std::string* {
    if (texture_id == -1) return nullptr;
    auto it = texture_ids_.find(texture_id);
    if (it == texture_ids_.end()) {
      Log("%s: material %s names texture ID %d, which is not in the scene; it has none", path_, name.c_str(), texture_id);
      return nullptr;
    }
    return &textures_[it->second];
  };
  const std::string* diffuse_name = texture(diffuse);
  const std::string* reflection_name = texture(reflection);

  MaterialDef def;
  def.name = core::AsciiToUpper(name);
  if (diffuse_name && reflection_name) {
    def.kind = MATERIAL_BOTH;
    def.texture1 = *diffuse_name;
    def.texture2 = *reflection_name;
  } else if (diffuse_name) {
    def.kind = MATERIAL_DIFFUSE;
    def.texture1 = *diffuse_name;
  } else if (reflection_name) {
    def.kind = MATERIAL_REFLECTION;
    def.texture1 = *reflection_name;
  } else {
    def.kind = MATERIAL_COLOUR;
    float colour[3] = {1.0f, 1.0f, 1.0f};
    Got g = GetReals(node, "DIFFUSECOLOR", colour, 3);
    if (g == Got::kBad || (g == Got::kMissing && written_colour_only)) return false;
    def.colour = internal::PackChannel(colour[0]) << 16 | internal::PackChannel(colour[1]) << 8 |
                 internal::PackChannel(colour[2]);
  }
  material_ids_.emplace(id, materials_.size());
  materials_.push_back({def.name});
  // The first definition of a name is the one the scene graph builds.
  if (!out_->FindMaterial(def.name)) out_->materials.push_back(def);
  return true;
}

bool Converter::Mesh(const TagNode* node) {
  bool bad = false;
  const TagNode* maxmesh = Keyed(node, "MAXMESH", &bad);
  if (!maxmesh) return false;
  internal::MeshSource src;
  size_t vertex_count = 0;
  const TagNode* skin = Keyed(maxmesh, "SKIN", &bad);
  if (bad) return false;
  if (skin) {
    const TagNode* vertices = Keyed(skin, "VERTICES", &bad);
    if (!vertices) return false;
    src.skinned = true;
    src.skin.resize(static_cast<size_t>(vertices->ChildCount()));
    size_t v = 0;
    for (const TagNode* vertex : vertices->Children()) {
      if (vertex->Kind() != text::NODE_TAG) return false;
      for (const TagNode* influence : vertex->Children()) {
        if (influence->Kind() != text::NODE_TAG) return false;
        SkinInfluence inf;
        float offset[3];
        if (!Required(GetInt(influence, "MAXID", &inf.bone_id)) ||
            !Required(GetReals(influence, "WEIGHT", &inf.weight, 1)) ||
            !Required(GetReals(influence, "OFFSET", offset, 3)))
          return false;
        if (!WithinLimit(offset[0]) || !WithinLimit(offset[1]) || !WithinLimit(offset[2])) return false;
        inf.offset = VecFromText(offset);
        src.skin[v].push_back(inf);
      }
      ++v;
    }
    vertex_count = src.skin.size();
  } else {
    std::vector<float> reals;
    if (!Required(GetRealList(maxmesh, "VERTICES", &reals)) || reals.size() % 3 != 0) return false;
    vertex_count = reals.size() / 3;
    src.positions.resize(vertex_count);
    for (size_t i = 0; i < vertex_count; ++i) {
      if (!WithinLimit(reals[i * 3]) || !WithinLimit(reals[i * 3 + 1]) || !WithinLimit(reals[i * 3 + 2]))
        return false;
      src.positions[i] = {reals[i * 3], reals[i * 3 + 1], reals[i * 3 + 2]};
    }
  }
  if (!Required(GetRealList(maxmesh, "UVVERTICES", &src.uvs)) || src.uvs.size() % 2 != 0) return false;
  for (float t : src.uvs)
    if (!WithinLimit(t)) return false;
  std::vector<float> colours;
  if (!Required(GetRealList(maxmesh, "COLORVERTICES", &colours)) || colours.size() % 3 != 0) return false;
  src.colours.resize(colours.size() / 3);
  for (size_t i = 0; i < src.colours.size(); ++i)
    src.colours[i] = 0xFF000000u | internal::PackChannel(colours[i * 3]) << 16 |
                     internal::PackChannel(colours[i * 3 + 1]) << 8 | internal::PackChannel(colours[i * 3 + 2]);
  const TagNode* faces = Keyed(maxmesh, "FACES", &bad);
  if (!faces) return false;
  if (!Required(GetIntList(faces, "VERTICESINDICES", &src.vertex_indices)) || src.vertex_indices.size() % 3 != 0)
    return false;
  const size_t face_count = src.FaceCount();
  if (face_count == 0) return true;  // skipped without error, and without an ID
  auto indices_in_range = [](const std::vector<int32_t>& list, size_t limit) {
    for (int32_t i : list)
      if (i < 0 || static_cast<size_t>(i) >= limit) return false;
    return true;
  };
  if (!indices_in_range(src.vertex_indices, vertex_count)) return false;
  if (!src.uvs.empty()) {
    if (!Required(GetIntList(faces, "TVERTICESINDICES", &src.uv_indices)) ||
        src.uv_indices.size() != face_count * 3 || !indices_in_range(src.uv_indices, src.uvs.size() / 2))
      return false;
  }
  if (!src.colours.empty()) {
    if (!Required(GetIntList(faces, "CVERTICESINDICES", &src.colour_indices)) ||
        src.colour_indices.size() != face_count * 3 || !indices_in_range(src.colour_indices, src.colours.size()))
      return false;
  }
  Got g = GetIntList(faces, "SMOOTHINGGROUP", &src.smoothing);
  if (g == Got::kBad || (g == Got::kOk && src.smoothing.size() != face_count)) return false;
  if (g == Got::kMissing) src.smoothing.assign(face_count, 0);
  if (!Required(GetIntList(faces, "MATERIALINDICES", &src.materials)) || src.materials.size() != face_count)
    return false;

  // Node values.
  int32_t id, parent = 0;
  std::string name;
  float position[3], rotation[4], pivot_position[3], pivot_rotation[4];
  if (!Required(GetInt(node, "ID", &id)) || !Required(GetString(node, "NAME", &name)) ||
      !Required(GetReals(node, "POSITION", position, 3)) || !Required(GetReals(node, "ROTATION", rotation, 4)) ||
      !Required(GetReals(node, "PIVOTPOSITION", pivot_position, 3)) ||
      !Required(GetReals(node, "PIVOTROTATION", pivot_rotation, 4)) || !Optional(GetInt(node, "PARENTID", &parent)))
    return false;

  // Dangling material IDs: no material.
  bool dangling = false;
  for (int32_t& m : src.materials) {
    if (m != -1 && material_ids_.find(m) == material_ids_.end()) {
      if (!dangling) Log("%s: mesh %s names material ID %d, which is not in the scene; no material", path_, name.c_str(), m);
      dangling = true;
      m = -1;
    }
  }
  SceneMesh mesh;
  mesh.name = name;
  mesh.position = VecFromText(position);
  mesh.rotation = QuatFromText(rotation);
  mesh.pivot_position = VecFromText(pivot_position);
  mesh.pivot_rotation = QuatFromText(pivot_rotation);
  internal::ConvertMesh(
      src,
      [&](int32_t material) {
        return material == -1 ? std::string() : materials_[material_ids_.at(material)].name;
      },
      &mesh.elements);
  mesh_ids_.emplace(id, out_->meshes.size());
  out_->mesh_ids.push_back(id);
  parent_ids_.push_back(parent);
  out_->meshes.push_back(std::move(mesh));
  return true;
}

bool Converter::ResolveParents() {
  const size_t n = out_->meshes.size();
  for (size_t i = 0; i < n; ++i) {
    SceneMesh& mesh = out_->meshes[i];
    int32_t parent_id = parent_ids_[i];
    mesh.parent = -1;
    if (parent_id == 0) continue;
    auto it = mesh_ids_.find(parent_id);
    if (it == mesh_ids_.end()) {
      Log("%s: mesh %s names parent ID %d, which is not in the scene; no parent", path_, mesh.name.c_str(), parent_id);
      continue;
    }
    mesh.parent = static_cast<int32_t>(it->second);
  }
  // A parent chain must end: self or cyclic parents are a mesh error.
  std::vector<uint8_t> state(n, 0);
  std::vector<size_t> walk;
  for (size_t i = 0; i < n; ++i) {
    walk.clear();
    size_t at = i;
    while (state[at] == 0) {
      state[at] = 1;
      walk.push_back(at);
      int32_t p = out_->meshes[at].parent;
      if (p < 0) break;
      at = static_cast<size_t>(p);
      if (state[at] == 1) return false;
    }
    for (size_t w : walk) state[w] = 2;
  }
  return true;
}

bool Converter::Camera(const TagNode* node) {
  int32_t id;
  float position[3], rotation[4];
  CameraRecord camera;
  if (!Required(GetInt(node, "ID", &id)) || !Optional(GetString(node, "NAME", &camera.name)) ||
      !Required(GetReals(node, "POSITION", position, 3)) || !Required(GetReals(node, "ROTATION", rotation, 4)) ||
      !Required(GetReals(node, "FOV", &camera.fov, 1)) || !Required(GetReals(node, "NEAR", &camera.near_plane, 1)) ||
      !Required(GetReals(node, "FAR", &camera.far_plane, 1)))
    return false;
  if (camera.name.size() > kMaxCameraName) camera.name.resize(kMaxCameraName);
  camera.position = VecFromText(position);
  camera.rotation = QuatFromText(rotation);
  camera_ids_.emplace(id, out_->cameras.size());
  out_->cameras.push_back(std::move(camera));
  return true;
}

bool Converter::Light(const TagNode* node) {
  int32_t id;
  float position[3], colour[3] = {1.0f, 1.0f, 1.0f}, multiplier = 1.0f, far_attenuation = 0.0f;
  std::string type;
  if (!Required(GetInt(node, "ID", &id)) || !Required(GetReals(node, "POSITION", position, 3)) ||
      !Optional(GetReals(node, "COLOR", colour, 3)) || !Required(GetString(node, "TYPE", &type)) ||
      !Optional(GetReals(node, "MULTIPLIER", &multiplier, 1)) ||
      !Optional(GetReals(node, "FARATTENUATION", &far_attenuation, 1)))
    return false;
  render::Light light;
  const bool directional = type == "DIRECTIONAL" || type == "TDIRECTIONAL";
  light.type = directional ? render::LIGHT_DIRECTIONAL : render::LIGHT_POINT;
  light.diffuse = {colour[0], colour[1], colour[2], 0.0f};
  light.specular = light.diffuse;
  light.ambient = {ambient_.x, ambient_.y, ambient_.z, 0.0f};
  light.position = VecFromText(position);
  light.range = 1000000.0f;
  light.attenuation2 = 0.0f;
  if (multiplier == 0.0f) {
    // 1/0 would reach the record: a dark light instead.
    light.diffuse = light.specular = {0.0f, 0.0f, 0.0f, 0.0f};
    light.attenuation0 = 1.0f;
    light.attenuation1 = 0.0f;
  } else if (far_attenuation != 0.0f) {
    light.attenuation0 = 0.0f;
    light.attenuation1 = (1.0f / multiplier) / (far_attenuation * 0.15f);
  } else {
    light.attenuation0 = 1.0f / multiplier;
    light.attenuation1 = 0.0f;
  }
  if (directional) {
    float rotation[4];
    if (!Required(GetReals(node, "ROTATION", rotation, 4))) return false;
    // Row 2 of M(q ⊗ rx(π/2)): the direction the evaluation of animated
    // lights uses too (+Z forward, as cameras).
    Mat3 m = Mat3FromQuat(TurnQuarterX(QuatFromText(rotation)));
    light.direction = {m.m[2][0], m.m[2][1], m.m[2][2]};
  }
  if (!std::isfinite(light.attenuation1) || !std::isfinite(light.attenuation0)) return false;
  light_ids_.emplace(id, out_->lights.size());
  out_->lights.push_back(light);
  return true;
}

bool Converter::Controller(const TagNode* node) {
  std::string type;
  if (!Required(GetString(node, "TYPE", &type))) return false;
  const bool posrot = type == "POSROT";
  if (!posrot && type != "FLOAT") return true;  // other kinds are skipped
  int32_t owner_id;
  bool bad = false;
  if (!Required(GetInt(node, "OWNERID", &owner_id))) return false;
  const TagNode* data = Keyed(node, "DATA", &bad);
  if (!data) return false;
  std::vector<float> samples;
  if (!Required(GetRealList(data, "SAMPLES", &samples))) return false;
  if (posrot) {
    if (samples.size() % 7 != 0) return false;
    PosRotTrack track;
    track.rate = static_cast<float>(frame_rate_);
    track.samples.resize(samples.size() / 7);
    for (size_t i = 0; i < track.samples.size(); ++i) {
      const float* s = &samples[i * 7];
      track.samples[i].position = VecFromText(s);
      track.samples[i].rotation = QuatFromText(s + 3);
    }
    // Consecutive samples in one hemisphere (negations chain).
    for (size_t i = 0; i + 1 < track.samples.size(); ++i)
      if (QuatDot(track.samples[i].rotation, track.samples[i + 1].rotation) < 0.0f)
        track.samples[i + 1].rotation = QuatNegate(track.samples[i + 1].rotation);
    // Owner: mesh, then camera, then light; each later hit replaces.
    TrackOwner owner;
    if (auto it = mesh_ids_.find(owner_id); it != mesh_ids_.end())
      owner = {OWNER_MESH, static_cast<int32_t>(it->second)};
    if (auto it = camera_ids_.find(owner_id); it != camera_ids_.end())
      owner = {OWNER_CAMERA, static_cast<int32_t>(it->second)};
    if (auto it = light_ids_.find(owner_id); it != light_ids_.end())
      owner = {OWNER_LIGHT, static_cast<int32_t>(it->second)};
    if (owner.index < 0) Log("%s: %s track owner ID %d is not in the scene; it drives nothing", path_, "POSROT", owner_id);
    out_->pos_rot_tracks.push_back(std::move(track));
    out_->pos_rot_owners.push_back(owner);
  } else {
    FloatTrack track;
    track.rate = static_cast<uint32_t>(frame_rate_);
    track.values = std::move(samples);
    TrackOwner owner;
    if (auto it = camera_ids_.find(owner_id); it != camera_ids_.end())
      owner = {OWNER_CAMERA, static_cast<int32_t>(it->second)};
    out_->float_tracks.push_back(std::move(track));
    out_->float_owners.push_back(owner);
  }
  return true;
}

int Converter::Run() {
  *out_ = SceneFile();
  SourceStamp stamp;
  const bool stamped = StatSceneText(path_, &stamp);
  text::TagDocument document;
  if (!stamped || text::LoadTagFile(&document, path_) != 0) {
    core::ShowError("Error loading %s (doesn't exist?)", path_);
    return -1;
  }
  const TagNode* scene = text::FindChild(text::RootNode(&document), "SCENE");
  if (!text::IsTag(scene, "SCENE")) {
    core::ShowError("No <SCENE> node in %s ", path_);
    return -1;
  }
  if (!SceneInfo(scene)) return Fail(Category::kSceneInfo);
  const auto children = scene->Children();
  for (const TagNode* c : children)
    if (text::IsTag(c, "TEXTURE") && !Texture(c)) return Fail(Category::kTextures);
  for (const TagNode* c : children)
    if (text::IsTag(c, "MATERIAL") && !MaterialEntry(c)) return Fail(Category::kMaterials);
  for (const TagNode* c : children)
    if (text::IsTag(c, "MESH") && !Mesh(c)) return Fail(Category::kMeshes);
  if (!ResolveParents()) return Fail(Category::kMeshes);
  for (const TagNode* c : children)
    if (text::IsTag(c, "CAMERA") && !Camera(c)) return Fail(Category::kCameras);
  for (const TagNode* c : children)
    if (text::IsTag(c, "LIGHT") && !Light(c)) return Fail(Category::kLights);
  for (const TagNode* c : children)
    if (text::IsTag(c, "CONTROLLER") && !Controller(c)) return Fail(Category::kControllers);
  if (out_->cameras.empty()) {
    core::ShowError("Scene doesnt have a camera!!!");
    *out_ = SceneFile();
    return -1;
  }
  out_->has_materials = true;
  out_->has_mesh_ids = true;
  out_->has_source = true;
  out_->source = stamp;
  return 0;
}

}  // namespace

bool StatSceneText(const char* text_path, SourceStamp* stamp) {
  std::string disk;
  struct stat st {};
  if (!text_path || !core::ResolvePath(text_path, &disk) || stat(disk.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  stamp->size = static_cast<uint64_t>(st.st_size);
  stamp->mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

int ConvertSceneTextToData(const char* text_path, SceneFile* out) {
  if (!text_path) return -1;
  return Converter(text_path, out).Run();
}

int ConvertSceneTextToBytes(const char* text_path, std::string* bytes) {
  SceneFile data;
  if (ConvertSceneTextToData(text_path, &data) != 0) return -1;
  return EncodeSceneBinary(data, bytes);
}

int ConvertSceneText(const char* text_path, core::File* binary_file) {
  std::string bytes;
  if (!binary_file || ConvertSceneTextToBytes(text_path, &bytes) != 0) return -1;
  return binary_file->Write(bytes.data(), 1, bytes.size()) == bytes.size() ? 0 : -1;
}

}  // namespace scene

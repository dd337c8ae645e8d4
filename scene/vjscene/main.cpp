// vjscene: makes scene texts from open formats, inspects scenes, converts
// texts to the binary cache. The only program that links Assimp, so a
// hostile model file can crash nothing but this process.
//
//   vjscene import IN OUT.txt [--fps=N] [--animation=NAME|INDEX] [--textures=DIR] [--no-default-light]
//   vjscene inspect FILE [--at=T]
//   vjscene convert IN.txt OUT.HVX
//
// Exit 0 ok, 1 failure (one line on stderr), 2 usage.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/core.h"
#include "scene/scene.h"
#include "scene/vjscene/vjscene.h"

namespace {

constexpr const char* kUsage =
    "usage: vjscene import IN OUT.txt [--fps=N] [--animation=NAME|INDEX] [--textures=DIR] [--no-default-light]\n"
    "       vjscene inspect FILE [--at=T]\n"
    "       vjscene convert IN.txt OUT.HVX\n"
    "\n"
    "import   glTF 2.0 (.gltf, .glb) or Wavefront OBJ (+ .mtl) to scene text; other formats\n"
    "         Assimp reads are best effort. Textures become 32-bit TGAs in --textures (default:\n"
    "         data/textures/ of the effect whose data/scenes/ holds OUT, else OUT's folder).\n"
    "         --fps: animation samples per second (default 30); --animation: which one (default\n"
    "         the first); --no-default-light: add no light when the source has none.\n"
    "inspect  a scene text or .HVX cache: meshes, elements, bounds, cameras, lights, tracks;\n"
    "         --at=T adds world positions at animation time T seconds.\n"
    "convert  a scene text to its binary cache.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vjscene: %s\n", message.c_str());
  return 1;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = text[text.size() - suffix.size() + i], b = suffix[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

// "--key=value" → value when `arg` starts with "--key=".
bool Option(std::string_view arg, std::string_view key, std::string* value) {
  if (arg.size() < key.size() + 1 || arg.substr(0, key.size()) != key || arg[key.size()] != '=') return false;
  *value = std::string(arg.substr(key.size() + 1));
  return true;
}

// The default texture folder: data/textures/ of the effect holding OUT's
// data/scenes/, else OUT's own folder.
std::string DefaultTextures(const std::string& out) {
  const std::string path = core::NormalizeSeparators(out);
  std::string lower = path;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  size_t at = std::string::npos;
  for (size_t pos = lower.find("data/scenes/"); pos != std::string::npos; pos = lower.find("data/scenes/", pos + 1))
    if (pos == 0 || lower[pos - 1] == '/') at = pos;
  if (at != std::string::npos) return path.substr(0, at) + "data/textures";
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Writes `bytes` to `path` atomically, making its folder first.
int WriteOutput(const std::string& path, const std::string& bytes) {
  const std::string normal = core::NormalizeSeparators(path);
  const size_t slash = normal.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && core::MakeFolders(normal.substr(0, slash)) != 0) return -1;
  return core::WriteWholeFileAtomic(path, bytes);
}

int Import(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  vjscene::ImportOptions options;
  for (const std::string& a : args) {
    std::string value;
    if (Option(a, "--fps", &value)) {
      int fps = 0;
      auto r = std::from_chars(value.data(), value.data() + value.size(), fps);
      if (r.ec != std::errc() || r.ptr != value.data() + value.size() || fps < 1 || fps > 1000) return Usage();
      options.fps = fps;
    } else if (Option(a, "--animation", &value)) {
      if (value.empty()) return Usage();
      options.animation = value;
    } else if (Option(a, "--textures", &value)) {
      if (value.empty()) return Usage();
      options.textures_dir = value;
    } else if (a == "--no-default-light") {
      options.default_light = false;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return Usage();
  if (options.textures_dir.empty()) options.textures_dir = DefaultTextures(files[1]);
  vjscene::SceneText scene;
  std::string error;
  if (vjscene::ImportScene(files[0], options, &scene, &error) != 0) return Fail(files[0] + ": " + error);
  std::string text;
  if (!vjscene::WriteSceneText(scene, &text)) return Fail(files[0] + ": non-finite value in the result");
  if (WriteOutput(files[1], text) != 0) return Fail("cannot write " + files[1]);
  std::printf("%s: %zu meshes, %zu materials, %zu textures, %zu cameras, %zu lights, %zu tracks\n",
              files[1].c_str(), scene.meshes.size(), scene.materials.size(), scene.textures.size(),
              scene.cameras.size(), scene.lights.size(), scene.controllers.size());
  return 0;
}

// The scene as the engine will see it: a cache is decoded; a text is
// converted and decoded, so both forms print the same.
int LoadForInspect(const std::string& path, scene::SceneFile* file) {
  std::string bytes;
  if (EndsWithNoCase(path, ".HVX")) {
    if (!scene::ReadSceneFileBytes(path.c_str(), &bytes)) return Fail("cannot read " + path);
  } else if (scene::ConvertSceneTextToBytes(path.c_str(), &bytes) != 0) {
    return 1;  // the converter has said why
  }
  switch (scene::DecodeSceneBinary(bytes, file)) {
    case scene::DecodeResult::kOk:
      return 0;
    case scene::DecodeResult::kOldVersion:
      return Fail(path + ": a binary scene of another version");
    case scene::DecodeResult::kDamaged:
      break;
  }
  return Fail(path + ": damaged binary scene");
}

const char* OwnerName(uint32_t kind) {
  return kind == scene::OWNER_LIGHT ? "light" : kind == scene::OWNER_CAMERA ? "camera" : "mesh";
}

int Inspect(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool at_given = false;
  double at = 0.0;
  for (const std::string& a : args) {
    std::string value;
    if (Option(a, "--at", &value)) {
      auto r = std::from_chars(value.data(), value.data() + value.size(), at);
      if (r.ec != std::errc() || r.ptr != value.data() + value.size() || !std::isfinite(at)) return Usage();
      at_given = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 1) return Usage();
  scene::SceneFile f;
  if (int r = LoadForInspect(files[0], &f); r != 0) return r;

  std::printf("meshes %zu\n", f.meshes.size());
  for (size_t i = 0; i < f.meshes.size(); ++i) {
    const scene::SceneMesh& m = f.meshes[i];
    std::printf("  mesh %zu \"%s\" parent %d position %.4f %.4f %.4f\n", i, m.name.c_str(), m.parent, m.position.x,
                m.position.y, m.position.z);
    for (const scene::MeshElement& e : m.elements) {
      float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
      for (size_t v = 0; v < e.vertices.size(); ++v) {
        const float p[3] = {e.vertices[v].position.x, e.vertices[v].position.y, e.vertices[v].position.z};
        for (int k = 0; k < 3; ++k) {
          lo[k] = v == 0 ? p[k] : std::fmin(lo[k], p[k]);
          hi[k] = v == 0 ? p[k] : std::fmax(hi[k], p[k]);
        }
      }
      std::printf("    element material \"%s\" vertices %zu triangles %zu%s bounds %.4f %.4f %.4f .. %.4f %.4f %.4f\n",
                  e.material.c_str(), e.vertices.size(), e.indices.size() / 3, e.HasSkin() ? " skinned" : "", lo[0],
                  lo[1], lo[2], hi[0], hi[1], hi[2]);
    }
  }
  std::printf("cameras %zu\n", f.cameras.size());
  for (const scene::CameraRecord& c : f.cameras)
    std::printf("  camera \"%s\" position %.4f %.4f %.4f fov %.4f near %.4f far %.4f\n", c.name.c_str(), c.position.x,
                c.position.y, c.position.z, c.fov, c.near_plane, c.far_plane);
  std::printf("lights %zu\n", f.lights.size());
  for (const render::Light& l : f.lights)
    std::printf("  light %s position %.4f %.4f %.4f direction %.4f %.4f %.4f colour %.4f %.4f %.4f\n",
                l.type == render::LIGHT_DIRECTIONAL ? "directional" : "point", l.position.x, l.position.y,
                l.position.z, l.direction.x, l.direction.y, l.direction.z, l.diffuse.r, l.diffuse.g, l.diffuse.b);
  std::printf("tracks %zu\n", f.pos_rot_tracks.size() + f.float_tracks.size());
  for (size_t i = 0; i < f.pos_rot_tracks.size(); ++i) {
    const scene::PosRotTrack& t = f.pos_rot_tracks[i];
    const scene::TrackOwner& o = f.pos_rot_owners[i];
    const double loop = t.samples.size() > 1 && t.rate > 0 ? (t.samples.size() - 1) / double(t.rate) : 0.0;
    std::printf("  posrot owner %s %d samples %zu rate %.4f loop %.4f s\n", OwnerName(o.kind), o.index,
                t.samples.size(), t.rate, loop);
  }
  for (size_t i = 0; i < f.float_tracks.size(); ++i) {
    const scene::FloatTrack& t = f.float_tracks[i];
    const scene::TrackOwner& o = f.float_owners[i];
    const double loop = t.rate > 0 ? t.values.size() / double(t.rate) : 0.0;
    std::printf("  float owner %s %d samples %zu rate %u loop %.4f s\n", OwnerName(o.kind), o.index, t.values.size(),
                t.rate, loop);
  }
  std::printf("extensions%s%s%s\n", f.has_materials ? " MATL" : "", f.has_mesh_ids ? " MIDS" : "",
              f.has_source ? " SRC" : "");
  for (const scene::MaterialDef& m : f.materials)
    std::printf("  material \"%s\" kind %u texture \"%s\" colour %06X\n", m.name.c_str(), m.kind,
                m.texture1.c_str(), m.colour);

  if (at_given) {
    scene::Scene s;
    scene::LoadOptions geometry;
    geometry.shaders = nullptr;
    geometry.device_buffers = false;
    if (scene::LoadSceneBinary(&s, f, geometry) != 0) return 1;  // the loader has said why
    s.SetStartTime(0.0);
    s.Evaluate(at);
    std::printf("at %.4f s\n", at);
    for (int32_t i = 0; i < static_cast<int32_t>(s.file_objects.size()); ++i) {
      const scene::SceneObject* o = s.ObjectAt(i);
      if (o)
        std::printf("  object \"%s\" %.4f %.4f %.4f\n", o->name.c_str(), o->world_position.x, o->world_position.y,
                    o->world_position.z);
    }
    for (size_t c = 0; c < s.cameras.size(); ++c) {
      s.current_camera = static_cast<int32_t>(c);
      s.Evaluate(at);
      const scene::Vec3 p = s.view.Position();
      const scene::Matrix o = s.view.Orientation();
      std::printf("  camera \"%s\" %.4f %.4f %.4f forward %.4f %.4f %.4f\n", s.cameras[c].name.c_str(), p.x, p.y, p.z,
                  o.m[2][0], o.m[2][1], o.m[2][2]);
    }
    for (const scene::SceneLight& l : s.lights)
      std::printf("  light %.4f %.4f %.4f direction %.4f %.4f %.4f\n", l.evaluated.position.x,
                  l.evaluated.position.y, l.evaluated.position.z, l.evaluated.direction.x, l.evaluated.direction.y,
                  l.evaluated.direction.z);
  }
  return 0;
}

int Convert(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage();
  for (const std::string& a : args)
    if (a.size() > 1 && a[0] == '-') return Usage();
  std::string bytes;
  if (scene::ConvertSceneTextToBytes(args[0].c_str(), &bytes) != 0) return 1;  // the converter has said why
  if (WriteOutput(args[1], bytes) != 0) return Fail("cannot write " + args[1]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  // Messages of the scene library go to stderr, never to a dialog.
  core::SetDialogsDisabled(true);
  core::MarkStartupFinished(true);
  if (core::StartFileLayer("") != 0) return Fail("cannot start the file layer");
  const std::string command = args[0];
  args.erase(args.begin());
  int result = 2;
  if (command == "import") {
    result = Import(args);
  } else if (command == "inspect") {
    result = Inspect(args);
  } else if (command == "convert") {
    result = Convert(args);
  } else {
    result = Usage();
  }
  core::StopFileLayer();
  return result;
}

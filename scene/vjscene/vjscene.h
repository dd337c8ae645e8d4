// vjscene's own model of a scene text: what the importer fills and the
// text writer prints. Values are already in the engine's space
// (left-handed, Y up); IDs are already assigned.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scene/math.h"
#include "scene/scene_file.h"

namespace vjscene {

using scene::Quat;
using scene::Vec3;

struct TextTexture {
  int32_t id = 0;
  std::string file;  // the name written under "FILE" (base name + ".tga")
};

struct TextMaterial {
  int32_t id = 0;
  std::string name;
  int32_t diffuse_texture = -1;  // texture ID, -1 for none
  Vec3 colour;                   // used when there is no texture
};

struct TextInfluence {
  int32_t bone_id = 0;
  Vec3 offset;
  float weight = 0.0f;
};

struct TextMesh {
  int32_t id = 0;
  std::string name;
  Vec3 position;
  Quat rotation;
  int32_t parent_id = 0;  // 0: none
  std::vector<Vec3> vertices;
  // One list per vertex when skinned (then "SKIN" replaces "VERTICES").
  std::vector<std::vector<TextInfluence>> skin;
  std::vector<float> uvs;      // u v per vertex, or empty
  std::vector<Vec3> colours;   // per vertex, or empty
  std::vector<int32_t> faces;  // three vertex indices per face
  std::vector<int32_t> smoothing;
  std::vector<int32_t> materials;  // material ID per face
};

struct TextCamera {
  int32_t id = 0;
  std::string name;
  Vec3 position;
  Quat rotation;  // as stored: the engine turns it by rx(π/2)
  float fov = 60.0f, near_plane = 1.0f, far_plane = 1000000.0f;
};

struct TextLight {
  int32_t id = 0;
  bool directional = false;
  Vec3 position;
  Quat rotation;
  Vec3 colour{1.0f, 1.0f, 1.0f};
  float multiplier = 1.0f;
};

struct TextController {
  int32_t owner_id = 0;
  std::vector<scene::PosRotSample> samples;
};

struct SceneText {
  int32_t frame_rate = 30;
  std::vector<TextTexture> textures;
  std::vector<TextMaterial> materials;
  std::vector<TextMesh> meshes;
  std::vector<TextCamera> cameras;
  std::vector<TextLight> lights;
  std::vector<TextController> controllers;
};

// A real as the tag reader reads it back exactly: fixed notation, the
// shortest text that round-trips, always with a point, never an exponent.
std::string FormatReal(float value);
// '"' and control bytes become '_' (a quoted tag string cannot hold them).
std::string SanitizeName(std::string_view name);
// The whole text. False (nothing produced) when a value is not finite.
bool WriteSceneText(const SceneText& scene, std::string* out);

struct ImportOptions {
  int32_t fps = 30;
  std::string animation;  // name or index; empty: the first
  std::string textures_dir;
  bool default_light = true;
};

// Reads `in` through Assimp and fills *out; texture images are written into
// options.textures_dir. Warnings go to stderr, one per kind. 0, or -1 with
// *error set to one line.
int ImportScene(const std::string& in, const ImportOptions& options, SceneText* out, std::string* error);

}  // namespace vjscene

// SceneFile: the content of one binary scene as plain vectors.
//
// It is what the text converter produces, what EncodeSceneBinary writes,
// what DecodeSceneBinary returns, and what the scene graph builds a Scene
// from. Values are plain: names as stored (the scene graph upper-cases mesh
// names at load), quaternions w x y z, light records in Direct3D 8's field
// order (render::Light), parent and owner links as indices.
//
// The converter's SceneFile holds exact floats; a decoded one holds the
// floats the quantised file gives back (positions within one quantisation
// step, normals renormalised).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/math.h"

namespace scene {

inline constexpr uint32_t kSceneVersion = 7;
inline constexpr uint32_t kExtensionMagic = 0x31585648;  // "HVX1"
inline constexpr uint32_t kMaxElementVertices = 65535;
inline constexpr uint32_t kMaxElementIndices = 60000;
inline constexpr size_t kMaxCameraName = 255;

struct SkinInfluence {
  int32_t bone_id = 0;  // the bone's "MAXID"
  Vec3 offset;          // the vertex in the bone's space
  float weight = 0.0f;
  bool operator==(const SkinInfluence& o) const {
    return bone_id == o.bone_id && offset == o.offset && weight == o.weight;
  }
};

struct MeshVertex {
  Vec3 position;
  Vec3 normal{0.0f, 0.0f, 1.0f};
  uint32_t colour = 0xFFFFFFFFu;  // A8R8G8B8
  float u = 0.0f, v = 0.0f;
};

// One element: the faces of one material (at most 65,535 vertices and
// 60,000 indices; the converter splits larger runs).
struct MeshElement {
  std::vector<MeshVertex> vertices;
  std::vector<uint32_t> indices;  // three per triangle, each < vertices.size()
  // Per vertex its influences, present (one list per vertex) only when some
  // vertex has one; empty otherwise.
  std::vector<std::vector<SkinInfluence>> skin;
  std::string material;  // the material's NAME upper-cased; empty for none

  bool HasSkin() const { return !skin.empty(); }
};

struct SceneMesh {
  std::string name;
  std::vector<MeshElement> elements;
  Vec3 position;
  Quat rotation;
  Vec3 pivot_position;
  Quat pivot_rotation;
  int32_t parent = -1;  // index into SceneFile::meshes, -1 for none
};

struct CameraRecord {
  Vec3 position;
  Quat rotation;
  float fov = 0.0f, near_plane = 0.0f, far_plane = 0.0f;
  std::string name;  // at most 255 bytes
};

struct PosRotSample {
  Vec3 position;
  Quat rotation;
};

struct PosRotTrack {
  float rate = 0.0f;  // samples per second
  std::vector<PosRotSample> samples;
};

struct FloatTrack {
  uint32_t rate = 0;  // samples per second
  std::vector<float> values;
};

enum OwnerKind : uint32_t { OWNER_MESH = 0, OWNER_LIGHT = 1, OWNER_CAMERA = 2 };

struct TrackOwner {
  uint32_t kind = OWNER_MESH;
  int32_t index = -1;  // into that kind's records; -1 for none
  bool operator==(const TrackOwner& o) const { return kind == o.kind && index == o.index; }
};

// A material definition from the text ("MATL"): the scene graph uses an
// existing shader of that name, else builds this one.
enum MaterialKind : uint32_t {
  MATERIAL_DIFFUSE = 1,     // texture1 = diffuse map
  MATERIAL_REFLECTION = 2,  // texture1 = reflection map
  MATERIAL_BOTH = 3,        // texture1 = diffuse, texture2 = reflection
  MATERIAL_COLOUR = 4,      // colour only
};

struct MaterialDef {
  std::string name;  // upper-cased, as the elements name it
  uint32_t kind = MATERIAL_COLOUR;
  std::string texture1, texture2;  // upper-cased base names
  uint32_t colour = 0;             // 0x00RRGGBB
  bool operator==(const MaterialDef& o) const {
    return name == o.name && kind == o.kind && texture1 == o.texture1 && texture2 == o.texture2 &&
           colour == o.colour;
  }
};

// The text a cache was converted from ("SRC ").
struct SourceStamp {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const SourceStamp& o) const { return size == o.size && mtime_ns == o.mtime_ns; }
};

struct SceneFile {
  std::vector<SceneMesh> meshes;
  std::vector<render::Light> lights;
  std::vector<CameraRecord> cameras;
  std::vector<PosRotTrack> pos_rot_tracks;
  std::vector<TrackOwner> pos_rot_owners;  // one per track
  std::vector<FloatTrack> float_tracks;
  std::vector<TrackOwner> float_owners;  // one per track

  // The "HVX1" extension. Each section is written when its flag is set.
  bool has_materials = false;  // "MATL"
  std::vector<MaterialDef> materials;
  bool has_mesh_ids = false;  // "MIDS": one text ID per mesh
  std::vector<int32_t> mesh_ids;
  bool has_source = false;  // "SRC "
  SourceStamp source;

  // The definition named `name` (upper case), or nullptr.
  const MaterialDef* FindMaterial(const std::string& name) const;
};

}  // namespace scene

// The 3D scene engine's data side: math,
// the scene text format, mesh conversion and the binary scene cache.
//
//   scene::SceneFile data;
//   if (scene::LoadSceneData("room.txt", &data) != 0) return -1;  // messages shown
//   // data.meshes, data.lights, data.cameras, tracks and owners, and the
//   // "MATL" material definitions the scene graph resolves shaders from.
//
// LoadSceneData reads "data/scenesbin/<dir>/<base>.HVX" when it is complete
// and stamped for the current text, else converts "data/scenes/<argument>"
// and writes the cache atomically. ConvertSceneText turns one text into the
// bytes of a binary scene; EncodeSceneBinary / DecodeSceneBinary are the
// byte format on their own (explicit little-endian fields, every count and
// index checked, non-finite floats refused).
//
// Nothing here needs a device, a shader manager or a clock: shaders are
// named, not created (each element names its material; the "MATL" table
// carries the definitions), so a command-line tool can convert scenes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/core.h"
#include "scene/math.h"        // Vec3, Quat, Mat3, matrices, transforms
#include "scene/scene_file.h"  // SceneFile and its records

namespace scene {

// ---------------------------------------------------------------------------
// Binary format (version 7, with the optional "HVX1" extension).
// ---------------------------------------------------------------------------

// The message for a file of another version.
inline constexpr const char* kOldVersionMessage =
    "El .hvx es de una version antigua. Borra todos los .hvx y reexportalos por favor\n";
// Files above this size are refused unread.
inline constexpr uint64_t kMaxSceneFileBytes = 1ull << 30;

// Writes `scene` as a binary scene into *bytes (replacing its content).
// Quantises positions and uvs to 16 bits in their boxes, normals to 8. -1 (with "Malla %s tiene demasiados
// vertices" / "Malla %s tiene demasiadas caras (%i)" shown for the two
// limits) when an element exceeds 65,535 vertices or 60,000 indices, or the
// data are inconsistent (an index out of range, a non-finite value, owner
// lists of another length than their tracks).
int EncodeSceneBinary(const SceneFile& scene, std::string* bytes);

enum class DecodeResult {
  kOk,
  kDamaged,     // short, inconsistent or out of range
  kOldVersion,  // version is not 7
};
// Decodes a whole binary scene. Shows nothing; *out is cleared first and
// left empty on failure. Every count is checked against the bytes left
// before anything is allocated.
DecodeResult DecodeSceneBinary(std::string_view bytes, SceneFile* out);

// Reads a whole binary file through the file layer (refused above 1 GiB).
bool ReadSceneFileBytes(const char* path, std::string* bytes);

// ---------------------------------------------------------------------------
// Text format and mesh conversion.
// ---------------------------------------------------------------------------

// Reads and validates one scene text into *out (exact floats, material
// definitions, mesh IDs and the text's "SRC " stamp). 0, or -1 after
// showing the failing category's message.
int ConvertSceneTextToData(const char* text_path, SceneFile* out);
// ConvertSceneTextToData followed by EncodeSceneBinary.
int ConvertSceneTextToBytes(const char* text_path, std::string* bytes);
// Converts and writes the binary scene into `file`
// (owned by the caller). 0, or -1 with nothing written on a failed
// conversion.
int ConvertSceneText(const char* text_path, core::File* binary_file);

// The text's size and modification time, or false when it is no file.
bool StatSceneText(const char* text_path, SourceStamp* stamp);

// ---------------------------------------------------------------------------
// The cache road.
// ---------------------------------------------------------------------------

// "data/scenes/" + argument.
std::string SceneTextPath(std::string_view argument);
// "data/scenesbin/" + the argument's folder part + its base name + ".HVX".
std::string SceneCachePath(std::string_view argument);
// False for an argument that is empty, absolute or holds a ".." component.
bool SceneArgumentAllowed(std::string_view argument);

// Fills *out for a scene argument (paths relative to the current base
// folder): the cache when it decodes completely and its stamp, if any,
// matches the text; otherwise the converted text, written to the cache
// atomically (an unwritable cache only logs). A cache that fails to decode
// is deleted and rebuilt when the text exists, else kept and reported.
// 0, or -1 with a message shown.
int LoadSceneData(const char* argument, SceneFile* out);

// Deletes the cache of `argument` ("RELOAD"), only when its text exists.
// 0 when a cache was deleted, -1 otherwise.
int InvalidateSceneCache(const char* argument);

}  // namespace scene

// Internal to render: the key of a generated GLSL program and its sources.
//
// A ProgramKey holds exactly the states that change the generated code,
// normalised so that states without effect (arguments an op does not read,
// stages after the first disabled one) do not split the cache. It is a flat
// record of bytes with no padding, so equality and hashing are byte-wise.
// New fixed-function features add fields (and sections of generated code)
// without touching the existing ones: lighting, fog and clip planes already
// have their fields reserved and read as "off".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace render {

// Vertex attribute slots, shared by the generator and the device.
enum AttributeSlot : uint32_t {
  kAttrPosition = 0,
  kAttrNormal = 1,
  kAttrDiffuse = 2,
  kAttrSpecular = 3,
  kAttrPointSize = 4,
  kAttrTexCoord0 = 5,  // .. kAttrTexCoord0 + 7
  kAttrCount = 13,
};

enum StageTextureKind : uint8_t { kStageTextureNone = 0, kStageTexture2D = 1, kStageTextureCube = 2 };

struct StageKey {
  uint8_t color_op;      // TOP_*; 0 once the cascade has ended
  uint8_t color_arg[3];  // TA_* for arguments 0, 1, 2 (0 when unused)
  uint8_t alpha_op;
  uint8_t alpha_arg[3];
  uint8_t result_temp;   // 1: the stage writes TEMP instead of CURRENT
  uint8_t texture;       // StageTextureKind, only when an argument reads it
  uint8_t coord_index;   // texture coordinate set read (TEXCOORDINDEX low bits)
  uint8_t coord_gen;     // TCI_* >> 16 (generated coordinates; 0 = from the vertex)
  uint8_t transform;     // TEXTURETRANSFORMFLAGS count (0 = none)
  uint8_t projected;     // TTFF_PROJECTED
};

struct ProgramKey {
  // Vertex input.
  uint8_t pretransformed;  // FVF_XYZRHW
  uint8_t has_normal;
  uint8_t has_diffuse;
  uint8_t has_specular;
  uint8_t tex_sets;             // number of coordinate sets in the vertex
  uint8_t tex_size[8];          // floats per set (1..4)
  // Pixel side.
  uint8_t flat_shading;
  uint8_t alpha_func;           // CMP_*; 0 = alpha test off
  uint8_t specular_add;         // SPECULARENABLE with a specular colour
  uint8_t stage_count;          // stages before the first disabled one
  StageKey stages[8];
  // Reserved for the 3-D fixed-function features (0 = off).
  uint8_t lighting;
  uint8_t light_types[8];       // 0 = off, 1 point, 2 spot, 3 directional
  uint8_t fog_mode;
  uint8_t clip_plane_mask;
  uint8_t normalize_normals;
  uint8_t local_viewer;
  uint8_t material_sources;     // packed MCS_ values
  uint8_t reserved[6];

  // Make keys with ProgramKey key{}; so every byte starts at zero.
  bool operator==(const ProgramKey& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
};

struct ProgramKeyHash {
  size_t operator()(const ProgramKey& key) const;
};

// The GLSL 3.30 sources for a key. Uniforms: u_wvp (mat4), u_screen (vec4:
// 2/W, 2/H, 0.5 - X, 0.5 - Y of the viewport), u_tfactor (vec4),
// u_alpha_ref (float, 0..255), u_tex0..7 (samplers on units 0..7).
std::string GenerateVertexSource(const ProgramKey& key);
std::string GenerateFragmentSource(const ProgramKey& key);

}  // namespace render

// Internal to render: the key of a generated GLSL program and its sources.
//
// A ProgramKey holds exactly the states that change the generated code,
// normalised so that states without effect (arguments an op does not read,
// stages after the first disabled one) do not split the cache. It is a flat
// record of bytes with no padding, so equality and hashing are byte-wise.
// New fixed-function features add fields (and sections of generated code)
// without touching the existing ones; a key of zeros draws unlit, unfogged
// and unclipped.
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
  // Vertex lighting, fog, clipping (0 = off), for transformed vertices.
  uint8_t lighting;             // LIGHTING; specular_add then means SPECULARENABLE
  uint8_t light_types[8];       // enabled lights in index order: 1 point, 2 spot, 3 directional; 0 ends
  uint8_t fog_mode;             // FogMode in bits 0-1, kFogPerVertex, kFogRange
  uint8_t clip_plane_mask;      // CLIPPLANEENABLE bits that clip
  uint8_t normalize_normals;    // only where normals are used
  uint8_t local_viewer;         // only where specular light or reflection vectors use it
  uint8_t material_sources;     // MCS_ of diffuse, specular, ambient, emissive: 2 bits each from bit 0
  uint8_t reserved[6];

  // Make keys with ProgramKey key{}; so every byte starts at zero.
  bool operator==(const ProgramKey& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
};

// fog_mode flags beside the FogMode.
inline constexpr uint8_t kFogModeMask = 3, kFogPerVertex = 4, kFogRange = 8;
// Floats per light in u_lights (see GenerateVertexSource).
inline constexpr int kLightVec4s = 7;

struct ProgramKeyHash {
  size_t operator()(const ProgramKey& key) const;
};

// The GLSL 3.30 sources for a key. Uniforms: u_wvp (mat4), u_screen (vec4:
// 2/W, 2/H, 0.5 - X, 0.5 - Y of the viewport), u_tfactor (vec4),
// u_alpha_ref (float, 0..255), u_tex0..7 (samplers on units 0..7);
// for the 3-D features: u_world_view (mat4), u_normal_matrix (mat3),
// u_lights (kLightVec4s vec4 per keyed light, camera space: diffuse,
// specular, ambient, position + range, direction towards the light,
// attenuation 0-2 + falloff, cos(theta/2) and cos(phi/2)), u_material
// (vec4[6]: diffuse, ambient, specular, emissive, power, AMBIENT),
// u_fog (vec4[2]: start, end, 1/(end - start) or 0 when equal, density;
// colour), u_planes (vec4[8], camera space), u_texm (mat4[8]). Matrices
// are Direct3D's row-major arrays uploaded untransposed, so M * v in GLSL
// is v M.
std::string GenerateVertexSource(const ProgramKey& key);
std::string GenerateFragmentSource(const ProgramKey& key);

}  // namespace render

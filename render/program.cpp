// GLSL generation for the fixed-function emulation.
//
// The vertex program places vertices the Direct3D way: transformed vertices
// get the half-pixel shift of Direct3D's pixel centres and a y flip (our
// targets keep row 0 at the top); pre-transformed vertices are screen
// pixels relative to the viewport. The fragment program runs the texture
// stage cascade (CURRENT starts as DIFFUSE, each stage saturates), adds the
// specular colour when asked, fogs and applies the alpha test on 8-bit
// values.
//
// Lighting, per-vertex fog, clip distances and generated texture
// coordinates work in Direct3D's camera space (left-handed, +Z forward)
// from u_world_view; gl_Position always comes from u_wvp by the one
// expression below and is declared invariant, so passes drawn with
// different features give bit-identical depth (multi-pass drawing compares
// depth with EQUAL and LESSEQUAL). No input value can make a NaN: every
// normalisation and division is guarded.
#include "render/program.h"

#include <cstdarg>
#include <cstdio>

#include "render/values.h"

namespace render {
namespace {

void Append(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string* out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) out->append(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

bool StageReadsCoords(const StageKey& stage) { return stage.texture != kStageTextureNone; }

// A stage whose coordinates are generated or transformed gets a varying of
// its own (v_stcN); the others share the vertex's sets (v_texN).
bool StageOwnCoords(const StageKey& stage) {
  return StageReadsCoords(stage) && (stage.coord_gen != 0 || stage.transform != 0);
}

// Which coordinate sets the fragment program needs.
uint32_t UsedCoordSets(const ProgramKey& key) {
  uint32_t mask = 0;
  for (int s = 0; s < key.stage_count; ++s)
    if (StageReadsCoords(key.stages[s]) && !StageOwnCoords(key.stages[s])) mask |= 1u << key.stages[s].coord_index;
  return mask;
}

int LightCount(const ProgramKey& key) {
  int count = 0;
  while (count < 8 && key.light_types[count] != 0) ++count;
  return key.lighting ? count : 0;
}

bool AnyCoordGen(const ProgramKey& key, uint8_t gen) {
  for (int s = 0; s < key.stage_count; ++s)
    if (StageOwnCoords(key.stages[s]) && key.stages[s].coord_gen == gen) return true;
  return false;
}

bool NeedsNormal(const ProgramKey& key) {
  return key.lighting || AnyCoordGen(key, TCI_CAMERASPACENORMAL >> 16) ||
         AnyCoordGen(key, TCI_CAMERASPACEREFLECTIONVECTOR >> 16);
}

bool NeedsCameraPosition(const ProgramKey& key) {
  if (key.pretransformed) return false;
  if (key.lighting || (key.fog_mode & kFogPerVertex) || key.clip_plane_mask) return true;
  for (int s = 0; s < key.stage_count; ++s)
    if (StageOwnCoords(key.stages[s]) && key.stages[s].coord_gen != 0) return true;
  return false;
}

// The fog factor of a distance (linear, EXP or EXP2), clamped to 0..1.
void AppendFogFunction(std::string* s, uint8_t fog_mode) {
  *s += "uniform vec4 u_fog[2];\nfloat FogFactor(float z) {\n";
  switch (fog_mode & kFogModeMask) {
    case FOG_LINEAR:
      // start == end: everything before `end` is clear, the rest fogged.
      *s += "  float f = u_fog[0].z != 0.0 ? (u_fog[0].y - z) * u_fog[0].z : (z < u_fog[0].y ? 1.0 : 0.0);\n";
      break;
    case FOG_EXP: *s += "  float f = exp(-u_fog[0].w * z);\n"; break;
    default: *s += "  float t = u_fog[0].w * z;\n  float f = exp(-t * t);\n"; break;
  }
  *s += "  return clamp(f, 0.0, 1.0);\n}\n";
}

// The material colour `which` (0 diffuse, 1 specular, 2 ambient, 3
// emissive) from the source the key names.
std::string MaterialColor(const ProgramKey& key, int which) {
  static const int kMaterialSlot[4] = {0, 2, 1, 3};
  uint32_t source = (key.material_sources >> (which * 2)) & 3;
  if (source == MCS_COLOR1 && key.has_diffuse) return "a_diffuse";
  if (source == MCS_COLOR2 && key.has_specular) return "a_specular";
  return "u_material[" + std::to_string(kMaterialSlot[which]) + "]";
}

void AppendLighting(std::string* s, const ProgramKey& key) {
  int lights = LightCount(key);
  bool specular = key.specular_add != 0;
  Append(s, "  vec4 cd = %s;\n  vec4 cs = %s;\n  vec4 ca = %s;\n  vec4 ce = %s;\n", MaterialColor(key, 0).c_str(),
         MaterialColor(key, 1).c_str(), MaterialColor(key, 2).c_str(), MaterialColor(key, 3).c_str());
  *s += "  vec3 amb = vec3(0.0), dif = vec3(0.0), spe = vec3(0.0);\n";
  if (specular && lights > 0)
    *s += key.local_viewer ? "  vec3 V = SafeNormalize(-p);\n" : "  vec3 V = vec3(0.0, 0.0, -1.0);\n";
  for (int k = 0; k < lights; ++k) {
    int b = k * kLightVec4s;
    uint8_t type = key.light_types[k];
    Append(s, "  { // light %d\n", k);
    if (type == 3) {
      Append(s, "    vec3 L = u_lights[%d].xyz;\n    float att = 1.0;\n", b + 4);
    } else {
      Append(s,
             "    vec3 L = u_lights[%d].xyz - p;\n"
             "    float d = length(L);\n"
             "    vec4 k = u_lights[%d];\n"
             "    float att = d <= u_lights[%d].w ? 1.0 / max(k.x + k.y * d + k.z * d * d, 1e-4) : 0.0;\n"
             "    L = d > 0.0 ? L / d : vec3(0.0);\n",
             b + 3, b + 5, b + 3);
      if (type == 2) {
        // Direct3D's cone: full inside theta, none outside phi, a power
        // of the normalised angle between (of a positive base only).
        Append(s,
               "    vec4 cone = u_lights[%d];\n"
               "    float rho = dot(L, u_lights[%d].xyz);\n"
               "    float spot = rho > cone.x ? 1.0 : (rho <= cone.y ? 0.0 : "
               "min(pow((rho - cone.y) / (cone.x - cone.y), k.w), 1.0));\n"
               "    att *= spot;\n",
               b + 6, b + 4);
      }
    }
    Append(s,
           "    amb += att * u_lights[%d].rgb;\n"
           "    float nl = dot(n, L);\n"
           "    if (nl > 0.0) {\n"
           "      dif += att * nl * u_lights[%d].rgb;\n",
           b + 2, b);
    if (specular)
      Append(s,
             "      vec3 H = SafeNormalize(L + V);\n"
             "      float nh = dot(n, H);\n"
             "      if (nh > 0.0) spe += att * pow(nh, u_material[4].x) * u_lights[%d].rgb;\n",
             b + 1);
    *s += "    }\n  }\n";
  }
  *s += "  v_diffuse = clamp(vec4(ce.rgb + ca.rgb * (u_material[5].rgb + amb) + cd.rgb * dif, cd.a), 0.0, 1.0);\n";
  if (specular) *s += "  v_specular = vec4(clamp(cs.rgb * spe, 0.0, 1.0), 0.0);\n";
}

// The coordinates of a stage that generates or transforms them.
void AppendStageCoords(std::string* s, const ProgramKey& key, int stage) {
  const StageKey& st = key.stages[stage];
  Append(s, "  { // stage %d coordinates\n", stage);
  switch (st.coord_gen) {
    case TCI_CAMERASPACENORMAL >> 16: *s += "    vec4 tc = vec4(n, 1.0);\n"; break;
    case TCI_CAMERASPACEPOSITION >> 16: *s += "    vec4 tc = vec4(p, 1.0);\n"; break;
    case TCI_CAMERASPACEREFLECTIONVECTOR >> 16:
      *s += key.local_viewer ? "    vec3 I = SafeNormalize(p);\n" : "    vec3 I = vec3(0.0, 0.0, 1.0);\n";
      *s += "    vec4 tc = vec4(I - 2.0 * dot(n, I) * n, 1.0);\n";
      break;
    default: {
      int set = st.coord_index;
      if (set >= key.tex_sets) {
        *s += "    vec4 tc = vec4(0.0, 0.0, 0.0, 1.0);\n";
        break;
      }
      // Direct3D pads what the matrix multiplies: (u, 1, 0, 0),
      // (u, v, 1, 0), (u, v, w, 1).
      switch (key.tex_size[set]) {
        case 1: Append(s, "    vec4 tc = vec4(a_tex%d.x, 1.0, 0.0, 0.0);\n", set); break;
        case 2: Append(s, "    vec4 tc = vec4(a_tex%d.xy, 1.0, 0.0);\n", set); break;
        case 3: Append(s, "    vec4 tc = vec4(a_tex%d.xyz, 1.0);\n", set); break;
        default: Append(s, "    vec4 tc = a_tex%d;\n", set); break;
      }
      break;
    }
  }
  if (st.transform) {
    static const char* kKeep[4] = {"vec4(1.0, 0.0, 0.0, 0.0)", "vec4(1.0, 1.0, 0.0, 0.0)", "vec4(1.0, 1.0, 1.0, 0.0)",
                                   "vec4(1.0)"};
    Append(s, "    tc = (u_texm[%d] * tc) * %s;\n", stage, kKeep[(st.transform - 1) & 3]);
  }
  Append(s, "    v_stc%d = tc;\n  }\n", stage);
}

std::string ArgExpr(uint32_t arg, int stage) {
  std::string base;
  switch (arg & TA_SELECTMASK) {
    case TA_DIFFUSE: base = "diffuse"; break;
    case TA_CURRENT: base = "current"; break;
    case TA_TEXTURE: base = "t" + std::to_string(stage); break;
    case TA_TFACTOR: base = "u_tfactor"; break;
    case TA_SPECULAR: base = "specular"; break;
    case TA_TEMP: base = "temp"; break;
    default: base = "current"; break;
  }
  if (arg & TA_ALPHAREPLICATE) base = base + ".aaaa";
  if (arg & TA_COMPLEMENT) base = "(vec4(1.0) - " + base + ")";
  return base;
}

// Colour result of an op as a vec3 expression over c0, c1, c2.
std::string ColorOpExpr(uint32_t op, int stage) {
  std::string t = "t" + std::to_string(stage);
  switch (op) {
    case TOP_SELECTARG1: return "c1.rgb";
    case TOP_SELECTARG2: return "c2.rgb";
    case TOP_MODULATE: return "c1.rgb * c2.rgb";
    case TOP_MODULATE2X: return "c1.rgb * c2.rgb * 2.0";
    case TOP_MODULATE4X: return "c1.rgb * c2.rgb * 4.0";
    case TOP_ADD: return "c1.rgb + c2.rgb";
    case TOP_ADDSIGNED: return "c1.rgb + c2.rgb - 0.5";
    case TOP_ADDSIGNED2X: return "(c1.rgb + c2.rgb - 0.5) * 2.0";
    case TOP_SUBTRACT: return "c1.rgb - c2.rgb";
    case TOP_ADDSMOOTH: return "c1.rgb + c2.rgb * (1.0 - c1.rgb)";
    case TOP_BLENDDIFFUSEALPHA: return "mix(c2.rgb, c1.rgb, diffuse.a)";
    case TOP_BLENDTEXTUREALPHA: return "mix(c2.rgb, c1.rgb, " + t + ".a)";
    case TOP_BLENDFACTORALPHA: return "mix(c2.rgb, c1.rgb, u_tfactor.a)";
    case TOP_BLENDTEXTUREALPHAPM: return "c1.rgb + c2.rgb * (1.0 - " + t + ".a)";
    case TOP_BLENDCURRENTALPHA: return "mix(c2.rgb, c1.rgb, current.a)";
    case TOP_PREMODULATE: return "c1.rgb";
    case TOP_MODULATEALPHA_ADDCOLOR: return "c1.rgb + c1.a * c2.rgb";
    case TOP_MODULATECOLOR_ADDALPHA: return "c1.rgb * c2.rgb + c1.a";
    case TOP_MODULATEINVALPHA_ADDCOLOR: return "(1.0 - c1.a) * c2.rgb + c1.rgb";
    case TOP_MODULATEINVCOLOR_ADDALPHA: return "(1.0 - c1.rgb) * c2.rgb + c1.a";
    case TOP_DOTPRODUCT3: return "vec3(dot3)";
    case TOP_MULTIPLYADD: return "c0.rgb + c1.rgb * c2.rgb";
    case TOP_LERP: return "mix(c2.rgb, c1.rgb, c0.rgb)";
    default: return "current.rgb";  // bump mapping ops pass the colour on
  }
}

std::string AlphaOpExpr(uint32_t op, int stage) {
  std::string t = "t" + std::to_string(stage);
  switch (op) {
    case TOP_SELECTARG1: return "a1";
    case TOP_SELECTARG2: return "a2";
    case TOP_MODULATE: return "a1 * a2";
    case TOP_MODULATE2X: return "a1 * a2 * 2.0";
    case TOP_MODULATE4X: return "a1 * a2 * 4.0";
    case TOP_ADD: return "a1 + a2";
    case TOP_ADDSIGNED: return "a1 + a2 - 0.5";
    case TOP_ADDSIGNED2X: return "(a1 + a2 - 0.5) * 2.0";
    case TOP_SUBTRACT: return "a1 - a2";
    case TOP_ADDSMOOTH: return "a1 + a2 * (1.0 - a1)";
    case TOP_BLENDDIFFUSEALPHA: return "mix(a2, a1, diffuse.a)";
    case TOP_BLENDTEXTUREALPHA: return "mix(a2, a1, " + t + ".a)";
    case TOP_BLENDFACTORALPHA: return "mix(a2, a1, u_tfactor.a)";
    case TOP_BLENDTEXTUREALPHAPM: return "a1 + a2 * (1.0 - " + t + ".a)";
    case TOP_BLENDCURRENTALPHA: return "mix(a2, a1, current.a)";
    case TOP_MULTIPLYADD: return "a0 + a1 * a2";
    case TOP_LERP: return "mix(a2, a1, a0)";
    case TOP_DOTPRODUCT3: return "clamp(4.0 * ((a1 - 0.5) * (a2 - 0.5)), 0.0, 1.0)";
    case TOP_DISABLE: return "current.a";
    default: return "a1";  // colour-only ops used on alpha
  }
}

const char* CompareExpr(uint32_t func) {
  switch (func) {
    case CMP_NEVER: return "false";
    case CMP_LESS: return "a < u_alpha_ref";
    case CMP_EQUAL: return "a == u_alpha_ref";
    case CMP_LESSEQUAL: return "a <= u_alpha_ref";
    case CMP_GREATER: return "a > u_alpha_ref";
    case CMP_NOTEQUAL: return "a != u_alpha_ref";
    case CMP_GREATEREQUAL: return "a >= u_alpha_ref";
    default: return "true";
  }
}

}  // namespace

size_t ProgramKeyHash::operator()(const ProgramKey& key) const {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&key);
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < sizeof key; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

std::string GenerateVertexSource(const ProgramKey& key) {
  std::string s = "#version 330 core\n";
  const char* interp = key.flat_shading ? "flat " : "";
  const bool camera = NeedsCameraPosition(key);
  const bool normal = camera && NeedsNormal(key);
  const bool lit = key.lighting && !key.pretransformed;
  // Programs with lighting read the colours their material sources name;
  // the others the vertex's diffuse and specular.
  s += "invariant gl_Position;\n";
  s += "in vec4 a_position;\n";
  if (key.has_normal) s += "in vec3 a_normal;\n";
  if (key.has_diffuse) s += "in vec4 a_diffuse;\n";
  if (key.has_specular) s += "in vec4 a_specular;\n";
  uint32_t used = UsedCoordSets(key);
  for (int set = 0; set < key.tex_sets; ++set) {
    bool read = (used & (1u << set)) != 0;
    for (int st = 0; st < key.stage_count; ++st)
      read |= StageOwnCoords(key.stages[st]) && key.stages[st].coord_gen == 0 && key.stages[st].coord_index == set;
    if (read) Append(&s, "in vec4 a_tex%d;\n", set);
  }
  for (int set = 0; set < 8; ++set)
    if (used & (1u << set)) Append(&s, "out vec4 v_tex%d;\n", set);
  for (int st = 0; st < key.stage_count; ++st)
    if (StageOwnCoords(key.stages[st])) Append(&s, "out vec4 v_stc%d;\n", st);
  s += "uniform mat4 u_wvp;\nuniform vec4 u_screen;\n";
  if (camera) s += "uniform mat4 u_world_view;\n";
  if (normal && key.has_normal) s += "uniform mat3 u_normal_matrix;\n";
  if (lit) {
    s += "uniform vec4 u_material[6];\n";
    if (LightCount(key) > 0) Append(&s, "uniform vec4 u_lights[%d];\n", LightCount(key) * kLightVec4s);
  }
  if (camera && key.clip_plane_mask) s += "uniform vec4 u_planes[8];\n";
  for (int st = 0; st < key.stage_count; ++st)
    if (StageOwnCoords(key.stages[st]) && key.stages[st].transform) {
      s += "uniform mat4 u_texm[8];\n";
      break;
    }
  const bool vertex_fog = camera && (key.fog_mode & kFogPerVertex);
  if (vertex_fog) {
    AppendFogFunction(&s, key.fog_mode);
    s += "out float v_fog;\n";
  }
  Append(&s, "%sout vec4 v_diffuse;\n", interp);
  if (key.specular_add) Append(&s, "%sout vec4 v_specular;\n", interp);
  if (camera) s += "vec3 SafeNormalize(vec3 v) {\n  float l = length(v);\n  return l > 0.0 ? v / l : vec3(0.0);\n}\n";
  s += "void main() {\n";
  if (key.pretransformed) {
    // Screen pixels: Direct3D puts pixel centres on integers, GL on halves.
    s += "  float w = a_position.w != 0.0 ? 1.0 / a_position.w : 1.0;\n"
         "  vec2 ndc = (a_position.xy + u_screen.zw) * u_screen.xy - 1.0;\n"
         "  gl_Position = vec4(ndc * w, (2.0 * a_position.z - 1.0) * w, w);\n";
  } else {
    // Clip space of Direct3D (z in 0..w, y up) to ours: half-pixel shift,
    // y flipped (row 0 at the top), z to -w..w.
    s += "  vec4 c = u_wvp * vec4(a_position.xyz, 1.0);\n"
         "  gl_Position = vec4(c.x + c.w * 0.5 * u_screen.x, -c.y + c.w * 0.5 * u_screen.y,\n"
         "                     2.0 * c.z - c.w, c.w);\n";
  }
  if (camera) s += "  vec3 p = (u_world_view * vec4(a_position.xyz, 1.0)).xyz;\n";
  if (normal) {
    // No normal in the vertex (or a singular matrix, uploaded as zeros):
    // n = 0 lights with ambient and emissive only.
    s += key.has_normal ? "  vec3 n = u_normal_matrix * a_normal;\n" : "  vec3 n = vec3(0.0);\n";
    if (key.normalize_normals) s += "  n = SafeNormalize(n);\n";
  }
  if (lit) {
    AppendLighting(&s, key);
  } else {
    s += key.has_diffuse ? "  v_diffuse = a_diffuse;\n" : "  v_diffuse = vec4(1.0);\n";
    if (key.specular_add) s += key.has_specular ? "  v_specular = a_specular;\n" : "  v_specular = vec4(0.0);\n";
  }
  if (vertex_fog) s += (key.fog_mode & kFogRange) ? "  v_fog = FogFactor(length(p));\n" : "  v_fog = FogFactor(p.z);\n";
  if (camera)
    for (int plane = 0; plane < 8; ++plane)
      if (key.clip_plane_mask & (1u << plane))
        Append(&s, "  gl_ClipDistance[%d] = dot(vec4(p, 1.0), u_planes[%d]);\n", plane, plane);
  for (int set = 0; set < 8; ++set) {
    if (!(used & (1u << set))) continue;
    if (set < key.tex_sets) Append(&s, "  v_tex%d = a_tex%d;\n", set, set);
    else Append(&s, "  v_tex%d = vec4(0.0, 0.0, 0.0, 1.0);\n", set);
  }
  for (int st = 0; st < key.stage_count; ++st)
    if (StageOwnCoords(key.stages[st])) AppendStageCoords(&s, key, st);
  s += "}\n";
  return s;
}

std::string GenerateFragmentSource(const ProgramKey& key) {
  std::string s = "#version 330 core\n";
  const char* interp = key.flat_shading ? "flat " : "";
  Append(&s, "%sin vec4 v_diffuse;\n", interp);
  if (key.specular_add) Append(&s, "%sin vec4 v_specular;\n", interp);
  uint32_t used = UsedCoordSets(key);
  for (int set = 0; set < 8; ++set)
    if (used & (1u << set)) Append(&s, "in vec4 v_tex%d;\n", set);
  for (int st = 0; st < key.stage_count; ++st)
    if (StageOwnCoords(key.stages[st])) Append(&s, "in vec4 v_stc%d;\n", st);
  if (key.fog_mode) {
    if (key.fog_mode & kFogPerVertex) s += "in float v_fog;\nuniform vec4 u_fog[2];\n";
    else AppendFogFunction(&s, key.fog_mode);
  }
  for (int stage = 0; stage < key.stage_count; ++stage) {
    uint8_t kind = key.stages[stage].texture;
    if (kind == kStageTexture2D) Append(&s, "uniform sampler2D u_tex%d;\n", stage);
    if (kind == kStageTextureCube) Append(&s, "uniform samplerCube u_tex%d;\n", stage);
  }
  s += "uniform vec4 u_tfactor;\nuniform float u_alpha_ref;\nout vec4 o_color;\n";
  s += "void main() {\n"
       "  vec4 diffuse = v_diffuse;\n";
  s += key.specular_add ? "  vec4 specular = v_specular;\n" : "  vec4 specular = vec4(0.0);\n";
  s += "  vec4 current = diffuse;\n"
       "  vec4 temp = vec4(0.0);\n";
  for (int stage = 0; stage < key.stage_count; ++stage) {
    const StageKey& st = key.stages[stage];
    Append(&s, "  // stage %d\n", stage);
    std::string coords = "v_tex" + std::to_string(st.coord_index);
    if (StageOwnCoords(st)) {
      coords = "v_stc" + std::to_string(stage);
      if (st.projected && st.transform) {
        // Divided per pixel by the last counted element (1 when it is 0).
        Append(&s, "  float q%d = v_stc%d.%c;\n", stage, stage, "xyzw"[(st.transform - 1) & 3]);
        Append(&s, "  vec4 uv%d = v_stc%d / (q%d != 0.0 ? q%d : 1.0);\n", stage, stage, stage, stage);
        coords = "uv" + std::to_string(stage);
      }
    }
    if (st.texture == kStageTexture2D)
      Append(&s, "  vec4 t%d = texture(u_tex%d, %s.xy);\n", stage, stage, coords.c_str());
    else if (st.texture == kStageTextureCube)
      Append(&s, "  vec4 t%d = texture(u_tex%d, %s.xyz);\n", stage, stage, coords.c_str());
    else
      Append(&s, "  vec4 t%d = vec4(1.0);\n", stage);  // no texture reads as opaque white
    s += "  {\n";
    for (int i = 0; i < 3; ++i)
      Append(&s, "    vec4 c%d = %s;\n", i, ArgExpr(st.color_arg[i], stage).c_str());
    for (int i = 0; i < 3; ++i)
      Append(&s, "    float a%d = %s.a;\n", i, ArgExpr(st.alpha_arg[i], stage).c_str());
    if (st.color_op == TOP_DOTPRODUCT3)
      s += "    float dot3 = clamp(4.0 * dot(c1.rgb - 0.5, c2.rgb - 0.5), 0.0, 1.0);\n";
    Append(&s, "    vec3 rc = %s;\n", ColorOpExpr(st.color_op, stage).c_str());
    // A dot product stage writes its result to all four channels.
    if (st.color_op == TOP_DOTPRODUCT3) s += "    float ra = dot3;\n";
    else Append(&s, "    float ra = %s;\n", AlphaOpExpr(st.alpha_op, stage).c_str());
    Append(&s, "    %s = clamp(vec4(rc, ra), 0.0, 1.0);\n", st.result_temp ? "temp" : "current");
    s += "  }\n";
  }
  if (key.specular_add) s += "  current.rgb = clamp(current.rgb + specular.rgb, 0.0, 1.0);\n";
  if (key.fog_mode) {
    // Table fog on the depth as written (0 near .. 1 far); alpha stays.
    s += (key.fog_mode & kFogPerVertex) ? "  float fog = v_fog;\n" : "  float fog = FogFactor(gl_FragCoord.z);\n";
    s += "  current.rgb = mix(u_fog[1].rgb, current.rgb, fog);\n";
  }
  if (key.alpha_func) {
    // Compared on 8-bit values, as the hardware does.
    s += "  float a = floor(current.a * 255.0 + 0.5);\n";
    Append(&s, "  if (!(%s)) discard;\n", CompareExpr(key.alpha_func));
  }
  s += "  o_color = current;\n}\n";
  return s;
}

}  // namespace render

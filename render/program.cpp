// GLSL generation for the fixed-function emulation.
//
// The vertex program places vertices the Direct3D way: transformed vertices
// get the half-pixel shift of Direct3D's pixel centres and a y flip (our
// targets keep row 0 at the top); pre-transformed vertices are screen
// pixels relative to the viewport. The fragment program runs the texture
// stage cascade (CURRENT starts as DIFFUSE, each stage saturates), adds the
// specular colour when asked and applies the alpha test on 8-bit values.
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

// Which coordinate sets the fragment program needs.
uint32_t UsedCoordSets(const ProgramKey& key) {
  uint32_t mask = 0;
  for (int s = 0; s < key.stage_count; ++s)
    if (StageReadsCoords(key.stages[s])) mask |= 1u << key.stages[s].coord_index;
  return mask;
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
  s += "in vec4 a_position;\n";
  if (key.has_normal) s += "in vec3 a_normal;\n";
  if (key.has_diffuse) s += "in vec4 a_diffuse;\n";
  if (key.has_specular) s += "in vec4 a_specular;\n";
  uint32_t used = UsedCoordSets(key);
  for (int set = 0; set < 8; ++set) {
    if (!(used & (1u << set))) continue;
    if (set < key.tex_sets) Append(&s, "in vec4 a_tex%d;\n", set);
    Append(&s, "out vec4 v_tex%d;\n", set);
  }
  s += "uniform mat4 u_wvp;\nuniform vec4 u_screen;\n";
  Append(&s, "%sout vec4 v_diffuse;\n", interp);
  if (key.specular_add) Append(&s, "%sout vec4 v_specular;\n", interp);
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
  s += key.has_diffuse ? "  v_diffuse = a_diffuse;\n" : "  v_diffuse = vec4(1.0);\n";
  if (key.specular_add) s += key.has_specular ? "  v_specular = a_specular;\n" : "  v_specular = vec4(0.0);\n";
  for (int set = 0; set < 8; ++set) {
    if (!(used & (1u << set))) continue;
    if (set < key.tex_sets) Append(&s, "  v_tex%d = a_tex%d;\n", set, set);
    else Append(&s, "  v_tex%d = vec4(0.0, 0.0, 0.0, 1.0);\n", set);
  }
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
    if (st.texture == kStageTexture2D)
      Append(&s, "  vec4 t%d = texture(u_tex%d, v_tex%d.xy);\n", stage, stage, st.coord_index);
    else if (st.texture == kStageTextureCube)
      Append(&s, "  vec4 t%d = texture(u_tex%d, v_tex%d.xyz);\n", stage, stage, st.coord_index);
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
  if (key.alpha_func) {
    // Compared on 8-bit values, as the hardware does.
    s += "  float a = floor(current.a * 255.0 + 0.5);\n";
    Append(&s, "  if (!(%s)) discard;\n", CompareExpr(key.alpha_func));
  }
  s += "  o_color = current;\n}\n";
  return s;
}

}  // namespace render

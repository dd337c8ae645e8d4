// Material scripts: SHADER tags with their PASS tags, read into a manager.
//
// Keywords are looked up once each among a tag's direct children, and
// values go through the typed accessors of the tag syntax: a keyword that is
// missing, or whose value is missing or of another kind, leaves the default.
// Enumerated values are matched exactly (case-sensitive); a value that is
// not in its table leaves the default without a message. Reals accept
// integers too (1 reads as 1.0).
#include <cmath>
#include <new>

#include "render/device.h"
#include "render/materials.h"
#include "render/values.h"
#include "text/text.h"

namespace render {
namespace {

using text::FindChild;
using text::TagNode;

constexpr text::Numbers kReal = text::Numbers::kIntOrReal;

struct Keyword {
  const char* text;
  uint32_t value;
};

template <size_t N>
bool LookUp(const Keyword (&table)[N], const char* word, uint32_t* out) {
  if (!word) return false;
  for (const Keyword& k : table) {
    if (std::strcmp(k.text, word) == 0) {
      *out = k.value;
      return true;
    }
  }
  return false;
}

const Keyword kBlends[] = {
    {"BL_ZERO", BLEND_ZERO},
    {"BL_ONE", BLEND_ONE},
    {"BL_INVSRCCOLOR", BLEND_INVSRCCOLOR},
    {"BL_SRCALPHA", BLEND_SRCALPHA},
    {"BL_INVSRCALPHA", BLEND_INVSRCALPHA},
    {"BL_DESTALPHA", BLEND_DESTALPHA},
    {"BL_INVDESTALPHA", BLEND_INVDESTALPHA},
    {"BL_DESTCOLOR", BLEND_DESTCOLOR},
    {"BL_INVDESTCOLOR", BLEND_INVDESTCOLOR},
    {"BL_SRCALPHASAT", BLEND_SRCALPHASAT},
    {"BL_BOTHSRCALPHA", BLEND_BOTHSRCALPHA},
    {"BL_BOTHINVSRCALPHA", BLEND_BOTHINVSRCALPHA},
};

const Keyword kColorOps[] = {
    {"PO_SELECTARG1", TOP_SELECTARG1}, {"PO_SELECTARG2", TOP_SELECTARG2}, {"PO_MODULATE", TOP_MODULATE},
    {"PO_ADD", TOP_ADD},               {"PO_DOT3", TOP_DOTPRODUCT3},
};
// The alpha stage has no dot product.
const Keyword kAlphaOps[] = {
    {"PO_SELECTARG1", TOP_SELECTARG1},
    {"PO_SELECTARG2", TOP_SELECTARG2},
    {"PO_MODULATE", TOP_MODULATE},
    {"PO_ADD", TOP_ADD},
};

const Keyword kArgs[] = {{"PA_DIFFUSE", TA_DIFFUSE}, {"PA_TEXTURE", TA_TEXTURE}, {"PA_TFACTOR", TA_TFACTOR}};

const Keyword kPriorities[] = {
    {"PR_FIRST", PR_FIRST},
    {"PR_OPAQUE", PR_OPAQUE},
    {"PR_ADDITIVE", PR_ADDITIVE},
    {"PR_ADDITIVE2", PR_ADDITIVE2},
    {"PR_ADDITIVE3", PR_ADDITIVE3},
    {"PR_TRANSPARENT", PR_TRANSPARENT},
    {"PR_TRANSPARENT2", PR_TRANSPARENT2},
    {"PR_TRANSPARENT3", PR_TRANSPARENT3},
    {"PR_LAST", PR_LAST},
};

const Keyword kMipFilters[] = {{"MIP_NONE", TEXF_NONE}, {"MIP_POINT", TEXF_POINT}, {"MIP_LINEAR", TEXF_LINEAR}};
const Keyword kFilters[] = {{"POINT", TEXF_POINT}, {"LINEAR", TEXF_LINEAR}};

const Keyword kTexGens[] = {
    {"TG_PASSTHRU", TEXGEN_PASSTHRU},
    {"TG_SPHEREREFLECTION", TEXGEN_SPHERE_REFLECTION},
    {"TG_CAMERAREFLECTION", TEXGEN_CAMERA_REFLECTION},
    {"TG_CUBEREFLECTION", TEXGEN_CUBE_REFLECTION},
};

const Keyword kCulls[] = {{"CULL_NONE", CULL_NONE}, {"CULL_CW", CULL_CW}, {"CULL_CCW", CULL_CCW}};
const Keyword kFills[] = {{"SOLID", FILL_SOLID}, {"WIREFRAME", FILL_WIREFRAME}};
const Keyword kShades[] = {{"FLAT", SHADE_FLAT}};
const Keyword kZFuncs[] = {{"ALWAYS", CMP_ALWAYS}, {"LESS", CMP_LESS}, {"LESSEQUAL", CMP_LESSEQUAL}};

const Keyword kWaveTypes[] = {
    {"WF_CONSTANT", WF_CONSTANT}, {"WF_SIN", WF_SIN},           {"WF_TRIANGLE", WF_TRIANGLE},
    {"WF_SQUARE", WF_SQUARE},     {"WF_SAWTOOTH", WF_SAWTOOTH}, {"WF_INVSAWTOOTH", WF_INVSAWTOOTH},
};

// Sets *field from the keyword's string value when the table knows it.
template <typename T, size_t N>
void ReadEnum(const TagNode* node, const char* key, const Keyword (&table)[N], T* field) {
  uint32_t value;
  if (LookUp(table, text::FindString(node, key), &value)) *field = static_cast<T>(value);
}

Wave ReadWave(const TagNode* wave_node) {
  Wave wave;
  uint32_t type;
  if (LookUp(kWaveTypes, text::FindString(wave_node, "TYPE"), &type)) wave.type = static_cast<int32_t>(type);
  text::FindReal(wave_node, "BASE", &wave.base, kReal);
  text::FindReal(wave_node, "AMPLITUDE", &wave.amplitude, kReal);
  text::FindReal(wave_node, "FREQUENCY", &wave.frequency, kReal);
  text::FindReal(wave_node, "OFFSET", &wave.offset, kReal);
  return wave;
}

// One colour channel of a 0..1 real as a byte. Out-of-range values saturate
// instead of spilling into the neighbouring channels.
uint32_t ChannelByte(float value) {
  if (!(value > 0.0f)) return 0;  // also NaN
  if (value >= 1.0f) return 255;
  return static_cast<uint32_t>(value * 255.0f);
}

bool ReadColor(const TagNode* node, const char* key, ColorValue* out) {
  float rgb[3];
  if (!text::FindReals(node, key, rgb, 3, kReal)) return false;
  *out = ColorValue{rgb[0], rgb[1], rgb[2], 1.0f};
  return true;
}

void ParsePass(const TagNode* node, ShaderPass* pass, Shader* shader) {
  if (FindChild(node, "MIRROR")) {
    pass->flags |= kPassMirror;
    shader->mirror = 1;
  }
  if (const TagNode* lighting = FindChild(node, "LIGHTING")) {
    ReadColor(lighting, "AMBIENT", &pass->material.ambient);
    ReadColor(lighting, "DIFFUSE", &pass->material.diffuse);
    ReadColor(lighting, "SPECULAR", &pass->material.specular);
    text::FindReal(lighting, "POWER", &pass->material.power, kReal);
  }
  if (const char* texture = text::FindString(node, "TEXTURE")) {
    pass->has_texture_name = true;
    pass->texture_name = texture;
  }
  ReadEnum(node, "MIP", kMipFilters, &pass->mip_filter);
  ReadEnum(node, "MAG", kFilters, &pass->mag_filter);
  ReadEnum(node, "MIN", kFilters, &pass->min_filter);
  if (const TagNode* texgen = FindChild(node, "TEXGEN")) ReadEnum(texgen, "TYPE", kTexGens, &pass->tex_gen);
  if (const TagNode* blend = FindChild(node, "BLEND")) {
    ReadEnum(blend, "SRC", kBlends, &pass->src_blend);
    ReadEnum(blend, "DST", kBlends, &pass->dst_blend);
  }
  if (const TagNode* color = FindChild(node, "COLOR")) {
    ReadEnum(color, "OP", kColorOps, &pass->color_op);
    ReadEnum(color, "ARG1", kArgs, &pass->color_arg1);
    ReadEnum(color, "ARG2", kArgs, &pass->color_arg2);
  }
  if (const TagNode* alpha = FindChild(node, "ALPHA")) {
    ReadEnum(alpha, "OP", kAlphaOps, &pass->alpha_op);
    ReadEnum(alpha, "ARG1", kArgs, &pass->alpha_arg1);
    ReadEnum(alpha, "ARG2", kArgs, &pass->alpha_arg2);
  }
  if (const TagNode* wave = FindChild(FindChild(node, "TFACTORALPHA"), "WAVE")) {
    pass->alpha_wave = ReadWave(wave);
    pass->flags |= kPassAlphaWave;
  }
  if (FindChild(node, "SPECULARHIGHLIGHT")) pass->flags |= kPassSpecularHighlight;
  if (const TagNode* factor = FindChild(node, "TFACTORCOLOR")) {
    float rgb[3];
    if (const TagNode* wave = FindChild(factor, "WAVE")) {
      pass->color_wave = ReadWave(wave);
      pass->flags |= kPassColorWave;
    } else if (text::FindReals(factor, "RGB", rgb, 3, kReal)) {
      pass->texture_factor = (ChannelByte(rgb[0]) << 16) | (ChannelByte(rgb[1]) << 8) | ChannelByte(rgb[2]);
    }
  }
  ReadEnum(node, "CULL", kCulls, &pass->cull);
  ReadEnum(node, "FILLMODE", kFills, &pass->fill_mode);
  ReadEnum(node, "SHADEMODE", kShades, &pass->shade_mode);
  if (const TagNode* wave = FindChild(FindChild(node, "SCALE"), "WAVE")) {
    pass->scale_wave = ReadWave(wave);
    pass->flags |= kPassScaleWave;
  }
  if (const TagNode* wave = FindChild(FindChild(node, "MATRIXSCALE"), "WAVE")) {
    pass->scale_wave = ReadWave(wave);
    pass->flags |= kPassMatrixScale;
  }
  if (FindChild(node, "NOZWRITE")) pass->flags |= kPassNoZWrite;
  ReadEnum(node, "ZCMP", kZFuncs, &pass->z_func);
}

void ParseShaderKeywords(const TagNode* node, Shader* shader) {
  if (const TagNode* voxelize = FindChild(node, "VOXELIZE")) {
    shader->flags |= kShaderVoxelize;
    if (FindChild(voxelize, "NOCULL")) shader->flags |= kShaderVoxelNoCull;
    if (FindChild(voxelize, "STATIC")) shader->flags |= kShaderVoxelStatic;
  }
  if (FindChild(node, "SPRITELIST")) {
    shader->sprite_mode = SPRITE_LIST;
    shader->flags |= kShaderSpecialPath;
    text::FindReal(node, "SPRITELIST", &shader->sprite_value, kReal);
  }
  if (FindChild(node, "AUTOSPRITE")) {  // wins over SPRITELIST
    shader->sprite_mode = SPRITE_AUTO;
    shader->flags |= kShaderSpecialPath;
  }
  if (FindChild(node, "DISTORTNORMAL")) {
    shader->distort_normal = true;
    shader->flags |= kShaderSpecialPath;
  }
  ReadEnum(node, "PRIORITY", kPriorities, &shader->priority);
  if (FindChild(node, "RECEIVESHADOWS")) shader->receive_shadows = 1;
  if (FindChild(node, "PROJECTSHADOWS")) shader->project_shadows = 1;
  if (FindChild(node, "PROJECTBEAMS")) shader->project_beams = 1;
}

}  // namespace

int ShaderManager::ParseShader(const TagNode* node) {
  const char* name = text::FindString(node, "NAME");
  if (!name) {
    core::ShowError("Error: Shader has no name");
    core::Trace("Failed to parse shader %s\n", "");
    return -1;
  }
  if (FindShader(name) >= 0) {
    core::ShowError("Error: Shader %s has already been parsed", name);
    core::Trace("Failed to parse shader %s\n", name);
    return -1;
  }
  try {
    Shader shader;
    int pass_count = 0;
    for (const TagNode* child : node->Children())
      if (text::IsTag(child, "PASS")) ++pass_count;
    shader.passes.resize(static_cast<size_t>(pass_count));
    shader.name = core::AsciiToUpper(name);
    int index = 0;
    for (const TagNode* child : node->Children())
      if (text::IsTag(child, "PASS")) ParsePass(child, &shader.passes[static_cast<size_t>(index++)], &shader);
    ParseShaderKeywords(node, &shader);
    if (shaders_.Add(std::move(shader)) < 0) {
      core::Trace("Failed to parse shader %s\n", name);
      return -1;
    }
  } catch (const std::bad_alloc&) {
    core::Trace("Failed to parse shader %s\n", name);
    return -1;
  }
  core::Trace("Parsed shader %s\n", name);
  return 0;
}

int ShaderManager::ParseShaderText(const char* script, const char* path) {
  if (!path) path = "";
  text::TagDocument document;
  if (!script || text::ParseTagText(&document, script) != 0) {
    core::ShowError("Error: Error parsing %s", path);
    return -1;
  }
  for (const TagNode* child : text::RootNode(&document)->Children()) {
    if (!text::IsTag(child, "SHADER")) continue;
    if (ParseShader(child) != 0) {
      core::ShowError("Error parsing %s\n", path);
      return -1;
    }
  }
  core::Trace("Succesfully parsed %s\n", path);
  return 0;
}

int ShaderManager::ParseShaderFile(const char* path) {
  if (!path) path = "";
  std::string contents;
  try {
    if (!core::FileExists(path) || !core::ReadWholeFile(path, &contents)) {
      core::ShowError("Error: Error parsing %s", path);
      return -1;
    }
  } catch (const std::bad_alloc&) {
    core::ShowError("Error: Error parsing %s", path);
    return -1;
  }
  return ParseShaderText(contents.c_str(), path);
}

int ShaderManager::ParseShaderDirectory(const char* directory) {
  if (!directory) directory = "";
  // Take the whole listing first: there is one listing at a time, and the
  // file loads must not disturb it.
  std::vector<std::string> files;
  try {
    if (core::FindFirst(directory, "*.txt")) {
      std::string path;
      while (core::FindNext(&path))
        if (core::FileExists(path)) files.push_back(path);  // folders named *.txt are no scripts
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (const std::string& path : files)
    if (ParseShaderFile(path.c_str()) != 0) return -1;
  return 0;
}

}  // namespace render

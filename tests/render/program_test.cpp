// The program generator: what the key holds decides the code, and nothing
// else does.
#include <gtest/gtest.h>

#include <unordered_set>
#include <vector>

#include "render/program.h"
#include "render/values.h"

namespace {

using render::GenerateFragmentSource;
using render::GenerateVertexSource;
using render::ProgramKey;
using render::ProgramKeyHash;

ProgramKey TexturedKey() {
  ProgramKey key{};
  key.pretransformed = 1;
  key.has_diffuse = 1;
  key.tex_sets = 1;
  key.tex_size[0] = 2;
  key.stage_count = 1;
  key.stages[0].color_op = render::TOP_MODULATE;
  key.stages[0].color_arg[1] = render::TA_TEXTURE;
  key.stages[0].color_arg[2] = render::TA_DIFFUSE;
  key.stages[0].alpha_op = render::TOP_SELECTARG1;
  key.stages[0].alpha_arg[1] = render::TA_TFACTOR;
  key.stages[0].texture = render::kStageTexture2D;
  return key;
}

bool Has(const std::string& text, const char* piece) { return text.find(piece) != std::string::npos; }

TEST(ProgramGenerator, TexturedScreenQuad) {
  ProgramKey key = TexturedKey();
  std::string vs = GenerateVertexSource(key), fs = GenerateFragmentSource(key);
  EXPECT_TRUE(Has(vs, "1.0 / a_position.w"));  // reciprocal w
  EXPECT_FALSE(Has(vs, "u_wvp * "));             // no transform for screen vertices
  EXPECT_TRUE(Has(vs, "v_tex0 = a_tex0"));
  EXPECT_TRUE(Has(fs, "uniform sampler2D u_tex0"));
  EXPECT_TRUE(Has(fs, "c1.rgb * c2.rgb"));
  EXPECT_TRUE(Has(fs, "u_tfactor"));
  EXPECT_FALSE(Has(fs, "discard"));
  EXPECT_FALSE(Has(vs, "flat "));
}

TEST(ProgramGenerator, OptionalPartsAppearOnlyWhenKeyed) {
  ProgramKey key = TexturedKey();
  key.flat_shading = 1;
  key.alpha_func = render::CMP_GREATER;
  key.pretransformed = 0;
  std::string vs = GenerateVertexSource(key), fs = GenerateFragmentSource(key);
  EXPECT_TRUE(Has(vs, "flat out vec4 v_diffuse"));
  EXPECT_TRUE(Has(fs, "flat in vec4 v_diffuse"));
  EXPECT_TRUE(Has(fs, "a > u_alpha_ref"));
  EXPECT_TRUE(Has(fs, "discard"));
  EXPECT_TRUE(Has(vs, "u_wvp * vec4(a_position.xyz, 1.0)"));
  // No diffuse in the vertex: white.
  key.has_diffuse = 0;
  EXPECT_TRUE(Has(GenerateVertexSource(key), "v_diffuse = vec4(1.0)"));
  // A cube texture samples with three coordinates; a missing one is white.
  key.stages[0].texture = render::kStageTextureCube;
  EXPECT_TRUE(Has(GenerateFragmentSource(key), "samplerCube u_tex0"));
  EXPECT_TRUE(Has(GenerateFragmentSource(key), "v_tex0.xyz"));
  key.stages[0].texture = render::kStageTextureNone;
  EXPECT_TRUE(Has(GenerateFragmentSource(key), "t0 = vec4(1.0)"));
  EXPECT_FALSE(Has(GenerateFragmentSource(key), "sampler"));
}

TEST(ProgramGenerator, KeysCompareAndHashByEveryByte) {
  ProgramKeyHash hash;
  ProgramKey a = TexturedKey(), b = TexturedKey();
  EXPECT_TRUE(a == b);
  EXPECT_EQ(hash(a), hash(b));
  std::unordered_set<size_t> hashes;
  for (size_t i = 0; i < sizeof(ProgramKey); ++i) {
    ProgramKey c = a;
    reinterpret_cast<unsigned char*>(&c)[i] ^= 1;
    EXPECT_FALSE(c == a) << i;
    hashes.insert(hash(c));
  }
  EXPECT_GT(hashes.size(), sizeof(ProgramKey) - 2);
}

// The lines from "vec4 c = u_wvp" to the end of the gl_Position statement.
std::string PositionCode(const std::string& vs) {
  size_t begin = vs.find("vec4 c = u_wvp");
  size_t end = vs.find(";", vs.find("gl_Position = ", begin));
  return begin == std::string::npos || end == std::string::npos ? "" : vs.substr(begin, end - begin);
}

TEST(ProgramGenerator, EveryTransformedProgramPlacesVerticesByTheOneInvariantExpression) {
  ProgramKey plain = TexturedKey();
  plain.pretransformed = 0;
  const std::string reference = PositionCode(GenerateVertexSource(plain));
  ASSERT_FALSE(reference.empty());
  std::vector<ProgramKey> keys;
  ProgramKey lit = plain;
  lit.has_normal = 1;
  lit.lighting = 1;
  lit.light_types[0] = 1;
  lit.light_types[1] = 2;
  lit.light_types[2] = 3;
  lit.specular_add = 1;
  lit.local_viewer = 1;
  keys.push_back(lit);
  ProgramKey fogged = plain;
  fogged.fog_mode = render::FOG_EXP2 | render::kFogPerVertex | render::kFogRange;
  keys.push_back(fogged);
  ProgramKey clipped = plain;
  clipped.clip_plane_mask = 0x81;
  keys.push_back(clipped);
  ProgramKey mapped = lit;
  mapped.stages[0].coord_gen = render::TCI_CAMERASPACEREFLECTIONVECTOR >> 16;
  mapped.stages[0].transform = 3;
  mapped.stages[0].projected = 1;
  keys.push_back(mapped);
  for (const ProgramKey& key : keys) {
    std::string vs = GenerateVertexSource(key);
    EXPECT_TRUE(Has(vs, "invariant gl_Position;"));
    EXPECT_EQ(PositionCode(vs), reference);
  }
  EXPECT_TRUE(Has(GenerateVertexSource(clipped), "gl_ClipDistance[7]"));
  EXPECT_FALSE(Has(GenerateVertexSource(clipped), "gl_ClipDistance[1]"));
  EXPECT_TRUE(Has(GenerateFragmentSource(mapped), "v_stc0.z"));  // divided by the third element
}

}  // namespace

// Material scripts and managers: every keyword and value, defaults, bad
// input, messages, the directory scan, reference counts, built-in shaders,
// the manager stack, and waves.
#include <cmath>
#include <fstream>
#include <sstream>

#include "tests/render/material_fixture.h"

namespace {

using namespace render;
using material_test::MaterialTest;
using testing::ElementsAre;
using testing::HasSubstr;

// ---------------------------------------------------------------------------
// Passes
// ---------------------------------------------------------------------------

TEST_F(MaterialTest, AnEmptyPassHasTheDefaults) {
  ShaderPass pass = OnePass("");
  EXPECT_EQ(pass.shade_mode, SHADE_GOURAUD);
  EXPECT_EQ(pass.fill_mode, FILL_SOLID);
  EXPECT_EQ(pass.flags, 0u);
  EXPECT_EQ(pass.tex_gen, TEXGEN_PASSTHRU);
  EXPECT_FALSE(pass.has_texture_name);
  EXPECT_EQ(pass.texture, -1);
  EXPECT_EQ(pass.src_blend, BLEND_ONE);
  EXPECT_EQ(pass.dst_blend, BLEND_ZERO);
  EXPECT_EQ(pass.color_arg1, TA_TEXTURE);
  EXPECT_EQ(pass.color_arg2, TA_DIFFUSE);
  EXPECT_EQ(pass.color_op, TOP_MODULATE);
  EXPECT_EQ(pass.alpha_arg1, TA_DIFFUSE);
  EXPECT_EQ(pass.alpha_arg2, TA_DIFFUSE);
  EXPECT_EQ(pass.alpha_op, TOP_SELECTARG1);
  EXPECT_EQ(pass.cull, CULL_CW);
  EXPECT_EQ(pass.mip_filter, TEXF_LINEAR);
  EXPECT_EQ(pass.mag_filter, TEXF_LINEAR);
  EXPECT_EQ(pass.min_filter, TEXF_LINEAR);
  EXPECT_EQ(pass.z_func, CMP_LESSEQUAL);
  EXPECT_EQ(pass.texture_factor, 0u);
  EXPECT_EQ(pass.material, Material{});
  EXPECT_EQ(pass.material.diffuse.r, 1.0f);
  EXPECT_EQ(pass.material.emissive.a, 0.0f);
  const Shader& shader = Named("P");
  EXPECT_EQ(shader.priority, PR_OPAQUE);
  EXPECT_EQ(shader.sprite_mode, SPRITE_NONE);
  EXPECT_EQ(shader.flags, 0u);
  EXPECT_EQ(shader.ref_count, 0);
  EXPECT_FALSE(shader.distort_normal);
  EXPECT_EQ(shader.mirror + shader.receive_shadows + shader.project_shadows + shader.project_beams, 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MaterialTest, EveryPassKeywordIsRead) {
  ShaderPass pass = OnePass(R"(
      <TEXTURE> "water.jpg" </TEXTURE>
      <MIP> "MIP_POINT" </MIP> <MAG> "POINT" </MAG> <MIN> "POINT" </MIN>
      <TEXGEN> <TYPE> "TG_CUBEREFLECTION" </TYPE> </TEXGEN>
      <BLEND> <SRC> "BL_SRCALPHA" </SRC> <DST> "BL_INVSRCALPHA" </DST> </BLEND>
      <COLOR> <OP> "PO_ADD" </OP> <ARG1> "PA_TFACTOR" </ARG1> <ARG2> "PA_TEXTURE" </ARG2> </COLOR>
      <ALPHA> <OP> "PO_MODULATE" </OP> <ARG1> "PA_TEXTURE" </ARG1> <ARG2> "PA_TFACTOR" </ARG2> </ALPHA>
      <CULL> "CULL_CCW" </CULL> <FILLMODE> "WIREFRAME" </FILLMODE> <SHADEMODE> "FLAT" </SHADEMODE>
      <ZCMP> "ALWAYS" </ZCMP> <NOZWRITE> </NOZWRITE> <SPECULARHIGHLIGHT> </SPECULARHIGHLIGHT>
      <MIRROR> </MIRROR>
      <LIGHTING> <AMBIENT> 0.1 0.2 0.3 </AMBIENT> <DIFFUSE> 0.4 0.5 0.6 </DIFFUSE>
                 <SPECULAR> 0.7 0.8 0.9 </SPECULAR> <POWER> 12.5 </POWER> </LIGHTING>
      <TFACTORALPHA> <WAVE> <TYPE> "WF_SIN" </TYPE> <BASE> 0.5 </BASE> <AMPLITUDE> 0.25 </AMPLITUDE>
                     <FREQUENCY> 2.0 </FREQUENCY> <OFFSET> 0.125 </OFFSET> </WAVE> </TFACTORALPHA>
      <TFACTORCOLOR> <RGB> 1.0 0.5 0.0 </RGB> </TFACTORCOLOR>
      <SCALE> <WAVE> <TYPE> "WF_TRIANGLE" </TYPE> <AMPLITUDE> 3.0 </AMPLITUDE> </WAVE> </SCALE>
  )");
  EXPECT_TRUE(pass.has_texture_name);
  EXPECT_EQ(pass.texture_name, "water.jpg");
  EXPECT_EQ(pass.texture, -1);  // resolved only on first use
  EXPECT_EQ(pass.mip_filter, TEXF_POINT);
  EXPECT_EQ(pass.mag_filter, TEXF_POINT);
  EXPECT_EQ(pass.min_filter, TEXF_POINT);
  EXPECT_EQ(pass.tex_gen, TEXGEN_CUBE_REFLECTION);
  EXPECT_EQ(pass.src_blend, BLEND_SRCALPHA);
  EXPECT_EQ(pass.dst_blend, BLEND_INVSRCALPHA);
  EXPECT_EQ(pass.color_op, TOP_ADD);
  EXPECT_EQ(pass.color_arg1, TA_TFACTOR);
  EXPECT_EQ(pass.color_arg2, TA_TEXTURE);
  EXPECT_EQ(pass.alpha_op, TOP_MODULATE);
  EXPECT_EQ(pass.alpha_arg1, TA_TEXTURE);
  EXPECT_EQ(pass.alpha_arg2, TA_TFACTOR);
  EXPECT_EQ(pass.cull, CULL_CCW);
  EXPECT_EQ(pass.fill_mode, FILL_WIREFRAME);
  EXPECT_EQ(pass.shade_mode, SHADE_FLAT);
  EXPECT_EQ(pass.z_func, CMP_ALWAYS);
  EXPECT_EQ(pass.flags, kPassNoZWrite | kPassSpecularHighlight | kPassMirror | kPassAlphaWave | kPassScaleWave);
  EXPECT_EQ(pass.flags & 0x0c, 0x0cu);
  EXPECT_EQ(pass.material.ambient, (ColorValue{0.1f, 0.2f, 0.3f, 1.0f}));
  EXPECT_EQ(pass.material.diffuse, (ColorValue{0.4f, 0.5f, 0.6f, 1.0f}));
  EXPECT_EQ(pass.material.specular, (ColorValue{0.7f, 0.8f, 0.9f, 1.0f}));
  EXPECT_EQ(pass.material.power, 12.5f);
  EXPECT_EQ(pass.alpha_wave.type, WF_SIN);
  EXPECT_EQ(pass.alpha_wave.base, 0.5f);
  EXPECT_EQ(pass.alpha_wave.amplitude, 0.25f);
  EXPECT_EQ(pass.alpha_wave.frequency, 2.0f);
  EXPECT_EQ(pass.alpha_wave.offset, 0.125f);
  EXPECT_EQ(pass.texture_factor, 0x00ff7f00u);  // trunc(0.5 * 255) = 0x7f
  EXPECT_EQ(pass.scale_wave.type, WF_TRIANGLE);
  EXPECT_EQ(pass.scale_wave.amplitude, 3.0f);
  EXPECT_EQ(pass.scale_wave.base, 0.0f);  // missing wave fields stay 0
  EXPECT_EQ(Named("P").mirror, 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MaterialTest, EnumeratedValuesMapToDeviceValues) {
  const std::pair<const char*, Blend> blends[] = {
      {"BL_ZERO", BLEND_ZERO},           {"BL_ONE", BLEND_ONE},
      {"BL_INVSRCCOLOR", BLEND_INVSRCCOLOR}, {"BL_SRCALPHA", BLEND_SRCALPHA},
      {"BL_INVSRCALPHA", BLEND_INVSRCALPHA}, {"BL_DESTALPHA", BLEND_DESTALPHA},
      {"BL_INVDESTALPHA", BLEND_INVDESTALPHA}, {"BL_DESTCOLOR", BLEND_DESTCOLOR},
      {"BL_INVDESTCOLOR", BLEND_INVDESTCOLOR}, {"BL_SRCALPHASAT", BLEND_SRCALPHASAT},
      {"BL_BOTHSRCALPHA", BLEND_BOTHSRCALPHA}, {"BL_BOTHINVSRCALPHA", BLEND_BOTHINVSRCALPHA},
  };
  int n = 0;
  for (const auto& [word, value] : blends) {
    std::string name = "B" + std::to_string(n++);
    ShaderPass pass = OnePass(std::string("<BLEND> <SRC> \"") + word + "\" </SRC> <DST> \"" + word + "\" </DST> </BLEND>",
                              name);
    EXPECT_EQ(pass.src_blend, value) << word;
    EXPECT_EQ(pass.dst_blend, value) << word;
  }
  EXPECT_EQ(static_cast<int>(BLEND_SRCALPHASAT), 11);
  // BL_SRCCOLOR has no script value.
  EXPECT_EQ(OnePass("<BLEND> <SRC> \"BL_SRCCOLOR\" </SRC> </BLEND>", "NOSRCCOLOR").src_blend, BLEND_ONE);

  const std::pair<const char*, TextureOp> ops[] = {{"PO_SELECTARG1", TOP_SELECTARG1},
                                                   {"PO_SELECTARG2", TOP_SELECTARG2},
                                                   {"PO_MODULATE", TOP_MODULATE},
                                                   {"PO_ADD", TOP_ADD},
                                                   {"PO_DOT3", TOP_DOTPRODUCT3}};
  for (const auto& [word, value] : ops) {
    ShaderPass pass = OnePass(std::string("<COLOR> <OP> \"") + word + "\" </OP> </COLOR> <ALPHA> <OP> \"" + word +
                                  "\" </OP> </ALPHA>",
                              std::string("O") + word);
    EXPECT_EQ(pass.color_op, value) << word;
    // The alpha stage has no dot product: PO_DOT3 leaves its default.
    EXPECT_EQ(pass.alpha_op, value == TOP_DOTPRODUCT3 ? TOP_SELECTARG1 : value) << word;
  }
  EXPECT_EQ(static_cast<int>(TOP_DOTPRODUCT3), 24);

  const std::pair<const char*, uint32_t> args[] = {
      {"PA_DIFFUSE", TA_DIFFUSE}, {"PA_TEXTURE", TA_TEXTURE}, {"PA_TFACTOR", TA_TFACTOR}};
  for (const auto& [word, value] : args) {
    ShaderPass pass = OnePass(std::string("<COLOR> <ARG1> \"") + word + "\" </ARG1> <ARG2> \"" + word +
                                  "\" </ARG2> </COLOR> <ALPHA> <ARG1> \"" + word + "\" </ARG1> <ARG2> \"" + word +
                                  "\" </ARG2> </ALPHA>",
                              std::string("A") + word);
    EXPECT_EQ(pass.color_arg1, value);
    EXPECT_EQ(pass.color_arg2, value);
    EXPECT_EQ(pass.alpha_arg1, value);
    EXPECT_EQ(pass.alpha_arg2, value);
  }

  const std::pair<const char*, int> priorities[] = {
      {"PR_FIRST", 0},        {"PR_OPAQUE", 3},        {"PR_ADDITIVE", 6},
      {"PR_ADDITIVE2", 7},    {"PR_ADDITIVE3", 8},     {"PR_TRANSPARENT", 12},
      {"PR_TRANSPARENT2", 13}, {"PR_TRANSPARENT3", 14}, {"PR_LAST", 15},
  };
  for (const auto& [word, value] : priorities) {
    std::string name = std::string("R") + word;
    ASSERT_EQ(Parse("<SHADER> <NAME> \"" + name + "\" </NAME> <PRIORITY> \"" + word + "\" </PRIORITY> </SHADER>"),
              0);
    EXPECT_EQ(Named(name.c_str()).priority, value) << word;
  }

  EXPECT_EQ(OnePass("<MIP> \"MIP_NONE\" </MIP>", "M1").mip_filter, TEXF_NONE);
  EXPECT_EQ(OnePass("<MIP> \"MIP_LINEAR\" </MIP>", "M2").mip_filter, TEXF_LINEAR);
  EXPECT_EQ(OnePass("<MIP> \"POINT\" </MIP>", "M3").mip_filter, TEXF_LINEAR);  // MIP_ words only
  EXPECT_EQ(OnePass("<MAG> \"LINEAR\" </MAG> <MIN> \"MIP_POINT\" </MIN>", "M4").mag_filter, TEXF_LINEAR);
  EXPECT_EQ(OnePass("<MIN> \"MIP_POINT\" </MIN>", "M5").min_filter, TEXF_LINEAR);
  EXPECT_EQ(OnePass("<TEXGEN> <TYPE> \"TG_PASSTHRU\" </TYPE> </TEXGEN>", "T0").tex_gen, 0);
  EXPECT_EQ(OnePass("<TEXGEN> <TYPE> \"TG_SPHEREREFLECTION\" </TYPE> </TEXGEN>", "T1").tex_gen, 1);
  EXPECT_EQ(OnePass("<TEXGEN> <TYPE> \"TG_CAMERAREFLECTION\" </TYPE> </TEXGEN>", "T2").tex_gen, 2);
  EXPECT_EQ(OnePass("<TEXGEN> <TYPE> \"TG_CUBEREFLECTION\" </TYPE> </TEXGEN>", "T3").tex_gen, 3);
  EXPECT_EQ(OnePass("<TEXGEN> \"TG_CUBEREFLECTION\" </TEXGEN>", "T4").tex_gen, 0);  // needs TYPE
  EXPECT_EQ(OnePass("<CULL> \"CULL_NONE\" </CULL>", "C1").cull, CULL_NONE);
  EXPECT_EQ(OnePass("<CULL> \"CULL_CW\" </CULL>", "C2").cull, CULL_CW);
  EXPECT_EQ(OnePass("<FILLMODE> \"SOLID\" </FILLMODE>", "F1").fill_mode, FILL_SOLID);
  EXPECT_EQ(OnePass("<SHADEMODE> \"GOURAUD\" </SHADEMODE>", "S1").shade_mode, SHADE_GOURAUD);  // FLAT only
  EXPECT_EQ(OnePass("<ZCMP> \"LESS\" </ZCMP>", "Z1").z_func, CMP_LESS);
  EXPECT_EQ(OnePass("<ZCMP> \"LESSEQUAL\" </ZCMP>", "Z2").z_func, CMP_LESSEQUAL);
  EXPECT_EQ(OnePass("<ZCMP> \"GREATER\" </ZCMP>", "Z3").z_func, CMP_LESSEQUAL);
  const char* waves[] = {"WF_CONSTANT", "WF_SIN", "WF_TRIANGLE", "WF_SQUARE", "WF_SAWTOOTH", "WF_INVSAWTOOTH"};
  for (int i = 0; i < 6; ++i) {
    ShaderPass pass = OnePass(std::string("<TFACTORCOLOR> <WAVE> <TYPE> \"") + waves[i] + "\" </TYPE> </WAVE> </TFACTORCOLOR>",
                              std::string("W") + waves[i]);
    EXPECT_EQ(pass.color_wave.type, i) << waves[i];
  }
  EXPECT_EQ(OnePass("<TFACTORCOLOR> <WAVE> <TYPE> \"WF_NOISE\" </TYPE> </WAVE> </TFACTORCOLOR>", "WX").color_wave.type,
            WF_CONSTANT);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MaterialTest, LowerCaseAndUnknownValuesAreIgnoredSilently) {
  ShaderPass pass = OnePass(R"(
      <BLEND> <SRC> "bl_zero" </SRC> <DST> "BL_ONE " </DST> </BLEND>
      <CULL> "cull_none" </CULL> <ZCMP> "always" </ZCMP> <MIP> "MIP_" </MIP>
      <COLOR> <OP> "PO_SUBTRACT" </OP> </COLOR>
      <UNKNOWNKEYWORD> "whatever" </UNKNOWNKEYWORD>
  )");
  EXPECT_EQ(pass.src_blend, BLEND_ONE);
  EXPECT_EQ(pass.dst_blend, BLEND_ZERO);  // a trailing blank is another word
  EXPECT_EQ(pass.cull, CULL_CW);
  EXPECT_EQ(pass.z_func, CMP_LESSEQUAL);
  EXPECT_EQ(pass.mip_filter, TEXF_LINEAR);
  EXPECT_EQ(pass.color_op, TOP_MODULATE);
  ASSERT_EQ(Parse("<SHADER> <NAME> \"Q\" </NAME> <PRIORITY> \"pr_last\" </PRIORITY> <SPRITES> </SPRITES> </SHADER>"),
            0);
  EXPECT_EQ(Named("Q").priority, PR_OPAQUE);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MaterialTest, ValuesOfTheWrongKindReadAsAbsent) {
  // Keywords written as bare words or numbers instead of strings.
  ShaderPass pass = OnePass(R"(
      <BLEND> <SRC> BL_ZERO </SRC> <DST> 1 </DST> </BLEND>
      <TEXTURE> 12 </TEXTURE>
      <TFACTORCOLOR> <RGB> 1.0 "0.5" 1.0 </RGB> </TFACTORCOLOR>
      <LIGHTING> <AMBIENT> 0.5 0.5 </AMBIENT> <POWER> "8" </POWER> </LIGHTING>
  )");
  EXPECT_EQ(pass.src_blend, BLEND_ONE);
  EXPECT_EQ(pass.dst_blend, BLEND_ZERO);
  EXPECT_FALSE(pass.has_texture_name);
  EXPECT_EQ(pass.texture_factor, 0u);                      // one value was a string
  EXPECT_EQ(pass.material.ambient.r, 1.0f);                // only two of three values
  EXPECT_EQ(pass.material.power, 0.0f);
  // Integers where reals are expected read as their value.
  ShaderPass ints = OnePass("<LIGHTING> <POWER> 8 </POWER> </LIGHTING> <TFACTORCOLOR> <RGB> 1 0 1 </RGB> </TFACTORCOLOR>",
                            "INTS");
  EXPECT_EQ(ints.material.power, 8.0f);
  EXPECT_EQ(ints.texture_factor, 0x00ff00ffu);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MaterialTest, TextureFactorColourWaveWinsOverRgbAndBytesSaturate) {
  ShaderPass wave = OnePass(
      "<TFACTORCOLOR> <WAVE> <BASE> 0.5 </BASE> </WAVE> <RGB> 1.0 1.0 1.0 </RGB> </TFACTORCOLOR>"
      "<TFACTORALPHA> <RGB> 1.0 1.0 1.0 </RGB> </TFACTORALPHA>",
      "WAVE");
  EXPECT_EQ(wave.flags, kPassColorWave);  // TFACTORALPHA without WAVE sets nothing
  EXPECT_EQ(wave.color_wave.base, 0.5f);
  EXPECT_EQ(wave.texture_factor, 0u);
  ShaderPass bright = OnePass("<TFACTORCOLOR> <RGB> 2.0 -1.0 0.999 </RGB> </TFACTORCOLOR>", "BRIGHT");
  EXPECT_EQ(bright.texture_factor, 0x00ff00feu);
}

TEST_F(MaterialTest, ScaleAndMatrixScaleShareTheWave) {
  ShaderPass scale = OnePass("<SCALE> <WAVE> <BASE> 2.0 </BASE> </WAVE> </SCALE>", "S");
  EXPECT_EQ(scale.flags, 0x0cu);
  EXPECT_EQ(scale.scale_wave.base, 2.0f);
  ShaderPass matrix = OnePass("<MATRIXSCALE> <WAVE> <BASE> 3.0 </BASE> </WAVE> </MATRIXSCALE>", "MS");
  EXPECT_EQ(matrix.flags, kPassMatrixScale);
  EXPECT_EQ(matrix.scale_wave.base, 3.0f);
  ShaderPass both = OnePass(
      "<SCALE> <WAVE> <BASE> 2.0 </BASE> </WAVE> </SCALE> <MATRIXSCALE> <WAVE> <BASE> 3.0 </BASE> </WAVE> </MATRIXSCALE>",
      "BOTH");
  EXPECT_EQ(both.flags, 0x0cu | kPassMatrixScale);
  EXPECT_EQ(both.scale_wave.base, 3.0f);
  EXPECT_EQ(OnePass("<SCALE> </SCALE>", "NOWAVE").flags, 0u);
}

// ---------------------------------------------------------------------------
// Shaders
// ---------------------------------------------------------------------------

TEST_F(MaterialTest, ShaderKeywords) {
  ASSERT_EQ(Parse(R"(
    <SHADER> <NAME> "sprites" </NAME> <PASS> </PASS> <PASS> </PASS>
      <SPRITELIST> 2.5 </SPRITELIST> <AUTOSPRITE> </AUTOSPRITE> </SHADER>
    <SHADER> <NAME> "list" </NAME> <SPRITELIST> 4 </SPRITELIST> <PRIORITY> "PR_ADDITIVE" </PRIORITY> </SHADER>
    <SHADER> <NAME> "vox" </NAME> <VOXELIZE> <NOCULL> </NOCULL> <STATIC> </STATIC> </VOXELIZE>
      <DISTORTNORMAL> </DISTORTNORMAL> <RECEIVESHADOWS> </RECEIVESHADOWS> <PROJECTSHADOWS> </PROJECTSHADOWS>
      <PROJECTBEAMS> </PROJECTBEAMS> </SHADER>
    <SHADER> <NAME> "voxplain" </NAME> <VOXELIZE> </VOXELIZE> </SHADER>
    <SHADER> <NAME> "mirror" </NAME> <PASS> </PASS> <PASS> <MIRROR> </MIRROR> </PASS> </SHADER>
  )"),
            0);
  const Shader& sprites = Named("SPRITES");
  EXPECT_EQ(sprites.name, "SPRITES");
  EXPECT_EQ(sprites.PassCount(), 2);
  EXPECT_EQ(sprites.sprite_mode, SPRITE_AUTO);  // AUTOSPRITE wins over SPRITELIST
  EXPECT_EQ(sprites.flags, kShaderSpecialPath);
  EXPECT_EQ(sprites.sprite_value, 2.5f);
  const Shader& list = Named("list");
  EXPECT_EQ(list.sprite_mode, SPRITE_LIST);
  EXPECT_EQ(list.sprite_value, 4.0f);
  EXPECT_EQ(list.PassCount(), 0);
  EXPECT_EQ(list.priority, PR_ADDITIVE);
  const Shader& vox = Named("VOX");
  EXPECT_EQ(vox.flags, kShaderSpecialPath | kShaderVoxelize | kShaderVoxelNoCull | kShaderVoxelStatic);
  EXPECT_TRUE(vox.distort_normal);
  EXPECT_EQ(vox.receive_shadows, 1);
  EXPECT_EQ(vox.project_shadows, 1);
  EXPECT_EQ(vox.project_beams, 1);
  EXPECT_EQ(vox.mirror, 0);
  EXPECT_EQ(Named("VOXPLAIN").flags, kShaderVoxelize);
  const Shader& mirror = Named("MIRROR");
  EXPECT_EQ(mirror.mirror, 1);
  EXPECT_EQ(mirror.passes[0].flags, 0u);
  EXPECT_EQ(mirror.passes[1].flags, kPassMirror);
}

TEST_F(MaterialTest, PassesAreReadInOrderAndOtherContentIsIgnored) {
  ASSERT_EQ(Parse(R"(
    "stray" 12 <COMMENT> "not a shader" </COMMENT>
    <SHADER> <NAME> "two" </NAME>
      <PASS> <TEXTURE> "first" </TEXTURE> </PASS>
      <OTHER> <PASS> <TEXTURE> "nested" </TEXTURE> </PASS> </OTHER>
      <PASS> <TEXTURE> "second" </TEXTURE> </PASS>
    </SHADER>)"),
            0);
  const Shader& two = Named("TWO");
  ASSERT_EQ(two.PassCount(), 2);
  EXPECT_EQ(two.passes[0].texture_name, "first");
  EXPECT_EQ(two.passes[1].texture_name, "second");
  EXPECT_EQ(manager_.ShaderCount(), 2);  // NULL and TWO
}

TEST_F(MaterialTest, ShaderWithoutNameFailsTheFile) {
  for (const char* body : {"<PASS> </PASS>", "<NAME> </NAME>", "<NAME> 7 </NAME>", "\"NAME\""}) {
    messages_.clear();
    core::ResetRuntimeMessages();
    std::string script = std::string("<SHADER> <NAME> \"before\" </NAME> </SHADER> <SHADER> ") + body +
                         " </SHADER> <SHADER> <NAME> \"after\" </NAME> </SHADER>";
    EXPECT_EQ(Parse(script), -1) << body;
    EXPECT_THAT(messages_, ElementsAre("Error: Shader has no name", "Error parsing test.txt\n")) << body;
    EXPECT_GE(manager_.FindShader("BEFORE"), 0);  // parsed before the failure: kept
    EXPECT_LT(manager_.FindShader("AFTER"), 0);
    manager_.Init();
  }
}

TEST_F(MaterialTest, FaultyTextFailsWithTheFileMessage) {
  EXPECT_EQ(Parse("<SHADER> <NAME> \"x\" </NAME>"), -1);
  EXPECT_EQ(Parse("<SHADER> <NAME> \"x\" </NAME> </PASS>"), -1);
  EXPECT_THAT(messages_, ElementsAre("Error: Error parsing test.txt"));  // the same text is raised once per 5 s
  EXPECT_EQ(manager_.ShaderCount(), 1);
  EXPECT_EQ(manager_.ParseShaderFile("data/shaders/missing.txt"), -1);
  EXPECT_EQ(messages_.back(), "Error: Error parsing data/shaders/missing.txt");
}

TEST_F(MaterialTest, DuplicateNamesAcrossFilesStopTheScan) {
  Write("data/shaders/a.txt", "<SHADER> <NAME> \"Water\" </NAME> <PASS> </PASS> </SHADER>");
  Write("data/shaders/b.txt",
        "<SHADER> <NAME> \"Rock\" </NAME> </SHADER> <SHADER> <NAME> \"WATER\" </NAME> </SHADER>");
  Write("data/shaders/c.txt", "<SHADER> <NAME> \"Sky\" </NAME> </SHADER>");
  Write("data/shaders/notes.md", "<SHADER> <NAME> \"Notes\" </NAME> </SHADER>");
  EXPECT_EQ(manager_.ParseShaderDirectory("data/shaders/"), -1);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0], "Error: Shader WATER has already been parsed");  // as written in b.txt
  EXPECT_THAT(messages_[1], HasSubstr("Error parsing data/shaders"));
  EXPECT_THAT(messages_[1], HasSubstr("b.txt\n"));
  EXPECT_GE(manager_.FindShader("water"), 0);
  EXPECT_EQ(Named("WATER").PassCount(), 1);  // the first one stays
  EXPECT_GE(manager_.FindShader("ROCK"), 0);
  EXPECT_LT(manager_.FindShader("SKY"), 0);  // the scan stopped at b.txt
  EXPECT_LT(manager_.FindShader("NOTES"), 0);
}

TEST_F(MaterialTest, DirectoryScanReadsTextFilesInListingOrder) {
  Write("data/Shaders/B.TXT", "<SHADER> <NAME> \"second\" </NAME> </SHADER>");
  Write("data/Shaders/a.txt", "<SHADER> <NAME> \"first\" </NAME> </SHADER>");
  Write("data/Shaders/folder.txt/inner.txt", "<SHADER> <NAME> \"inner\" </NAME> </SHADER>");
  EXPECT_EQ(manager_.ParseShaderDirectory("data/shaders/"), 0);
  EXPECT_TRUE(messages_.empty());
  // "B.TXT" sorts before "a.txt" (bytes); table order is parse order.
  ShaderHandle h = manager_.NextShader(manager_.FirstShader());
  ASSERT_GE(h, 0);
  EXPECT_EQ(manager_.GetShaderByHandle(h)->name, "SECOND");
  EXPECT_EQ(manager_.GetShaderByHandle(manager_.NextShader(h))->name, "FIRST");
  EXPECT_LT(manager_.FindShader("INNER"), 0);
  EXPECT_EQ(manager_.ParseShaderDirectory("data/nothing/"), 0);  // no folder: no scripts
}

TEST_F(MaterialTest, TracesNameParsedShadersAndFiles) {
  std::string trace = dir_ / "trace.txt";
  ASSERT_EQ(core::SetTraceFile(trace.c_str()), 0);
  Write("data/shaders/a.txt", "<SHADER> <NAME> \"Lava\" </NAME> </SHADER> <SHADER> <NAME> \"LAVA\" </NAME> </SHADER>");
  EXPECT_EQ(manager_.ParseShaderFile("data/shaders/a.txt"), -1);
  Write("data/shaders/b.txt", "<SHADER> <NAME> \"Ice\" </NAME> </SHADER>");
  EXPECT_EQ(manager_.ParseShaderFile("data/shaders/b.txt"), 0);
  core::SetTraceFile(nullptr);
  std::string log = testing_support::ReadFile(trace);
  EXPECT_THAT(log, HasSubstr("Parsed shader Lava\n"));
  EXPECT_THAT(log, HasSubstr("Failed to parse shader LAVA\n"));
  EXPECT_THAT(log, HasSubstr("Succesfully parsed data/shaders/b.txt\n"));
  EXPECT_EQ(log.find("Succesfully parsed data/shaders/a.txt"), std::string::npos);
}

TEST_F(MaterialTest, MessagesBeforeStartUpAreNotRunTimeMessages) {
  core::MarkStartupFinished(false);
  EXPECT_EQ(Parse("<SHADER> </SHADER>"), -1);
  EXPECT_TRUE(messages_.empty());  // went to the error box (stderr here), not the Server's log
  core::MarkStartupFinished(true);
  EXPECT_EQ(Parse("<SHADER> </SHADER>"), -1);
  EXPECT_EQ(messages_.size(), 2u);
}

// ---------------------------------------------------------------------------
// References and built-in shaders
// ---------------------------------------------------------------------------

TEST_F(MaterialTest, ManagerStartsWithTheNullShader) {
  EXPECT_EQ(manager_.FindShader("null"), kNullShader);
  const Shader* null = manager_.GetShaderByHandle(kNullShader);
  ASSERT_NE(null, nullptr);
  EXPECT_EQ(null->name, "NULL");
  EXPECT_EQ(null->ref_count, 1);
  ASSERT_EQ(null->PassCount(), 1);
  EXPECT_EQ(null->passes[0].cull, CULL_NONE);
  EXPECT_FALSE(null->passes[0].has_texture_name);
  EXPECT_EQ(manager_.ShaderCount(), 1);

  int hook_calls = 0;
  SetShaderManagerStartHook([&hook_calls] { ++hook_calls; });
  ShaderManager other;
  EXPECT_EQ(other.Init(), 0);
  EXPECT_EQ(other.FindShader("NULL"), 0);  // handle 0 in every manager
  EXPECT_EQ(hook_calls, 1);
  SetShaderManagerStartHook(nullptr);
}

TEST_F(MaterialTest, GetShaderCountsReferencesAndIgnoresCase) {
  ASSERT_EQ(Parse("<SHADER> <NAME> \"glow\" </NAME> <PASS> </PASS> </SHADER>"), 0);
  ShaderHandle h = manager_.GetShader("Glow");
  ASSERT_GE(h, 0);
  EXPECT_EQ(manager_.GetShader("GLOW"), h);
  EXPECT_EQ(manager_.GetShaderByHandle(h)->ref_count, 2);
  manager_.ReleaseShader(h);
  manager_.ReleaseShader(h);
  EXPECT_EQ(manager_.GetShaderByHandle(h)->ref_count, 0);
  manager_.ReleaseShader(h);  // no negative counts
  EXPECT_EQ(manager_.GetShaderByHandle(h)->ref_count, 0);
  EXPECT_EQ(manager_.FindShader("glow"), h);  // stays parsed
  manager_.ReleaseShader(-1);
  manager_.ReleaseShader(99);
  EXPECT_EQ(manager_.GetShader(nullptr), -1);
}

TEST_F(MaterialTest, BuiltinShaderKinds) {
  ShaderHandle color = manager_.CreateBuiltinShader("some/dir/Tint.tga", BUILTIN_COLOR, nullptr, nullptr, 0x00336699);
  ASSERT_GE(color, 0);
  const Shader* tint = manager_.GetShaderByHandle(color);
  EXPECT_EQ(tint->name, "TINT");
  EXPECT_EQ(tint->priority, PR_OPAQUE);
  EXPECT_EQ(tint->ref_count, 1);
  ASSERT_EQ(tint->PassCount(), 1);
  EXPECT_EQ(tint->passes[0].cull, CULL_NONE);
  EXPECT_EQ(tint->passes[0].color_arg1, TA_TFACTOR);
  EXPECT_EQ(tint->passes[0].texture_factor, 0x00336699u);
  // The same name again is a further reference, whatever the kind.
  EXPECT_EQ(manager_.CreateBuiltinShader("TINT", BUILTIN_UNTEXTURED), color);
  EXPECT_EQ(manager_.GetShaderByHandle(color)->ref_count, 2);
  EXPECT_EQ(manager_.CreateBuiltinShader("bad", 5), -1);
  EXPECT_EQ(manager_.CreateBuiltinShader("bad", -1), -1);
  EXPECT_LT(manager_.FindShader("BAD"), 0);
  // Untextured kinds of the textured shapes: passes without texture names.
  ShaderHandle plain = manager_.CreateBuiltinShader("plain", BUILTIN_TEXTURED);
  ASSERT_GE(plain, 0);
  EXPECT_EQ(manager_.GetShaderByHandle(plain)->passes[0].cull, CULL_CW);
  ShaderHandle env = manager_.CreateBuiltinShader("env", BUILTIN_TEXTURED_PLUS_ENV);
  ASSERT_GE(env, 0);
  const Shader* e = manager_.GetShaderByHandle(env);
  ASSERT_EQ(e->PassCount(), 2);
  EXPECT_EQ(e->passes[0].tex_gen, TEXGEN_PASSTHRU);
  EXPECT_EQ(e->passes[1].tex_gen, TEXGEN_SPHERE_REFLECTION);
  EXPECT_EQ(e->passes[1].src_blend, BLEND_ZERO);
  EXPECT_EQ(e->passes[1].dst_blend, BLEND_ONE);
  EXPECT_EQ(e->passes[1].color_op, TOP_MODULATE);
  EXPECT_EQ(e->passes[1].alpha_op, TOP_SELECTARG1);
  ShaderHandle sphere = manager_.CreateBuiltinShader("sphere", BUILTIN_SPHERE_MAPPED);
  EXPECT_EQ(manager_.GetShaderByHandle(sphere)->passes[0].tex_gen, TEXGEN_SPHERE_REFLECTION);
}

TEST_F(MaterialTest, ScriptedShaderReachedThroughItsFileNameGetsItsTextures) {
  // A scripted shader found by CreateBuiltinShader's reduced name takes the
  // same first-reference path as GetShader.
  ASSERT_EQ(Parse("<SHADER> <NAME> \"Lamp\" </NAME> <PASS> <TEXTURE> \"lamp\" </TEXTURE> </PASS> </SHADER>"), 0);
  ShaderHandle lamp = manager_.FindShader("LAMP");
  EXPECT_EQ(manager_.GetShader("lamp.jpg"), -1);  // the texture is missing: nothing kept
  EXPECT_EQ(manager_.GetShaderByHandle(lamp)->ref_count, 0);
  EXPECT_EQ(manager_.TextureCount(), 0);
}

TEST_F(MaterialTest, ManagerStack) {
  ShaderManager other;
  ASSERT_EQ(other.Init(), 0);
  EXPECT_EQ(CurrentShaderManager(), &manager_);
  EXPECT_EQ(ShaderManagerDepth(), 1);
  EXPECT_EQ(PushShaderManager(&other), 0);
  EXPECT_EQ(CurrentShaderManager(), &other);
  EXPECT_EQ(PushShaderManager(nullptr), -1);
  PopShaderManager();
  EXPECT_EQ(CurrentShaderManager(), &manager_);
  {
    ShaderManager gone;
    PushShaderManager(&gone);
    PushShaderManager(&other);
  }  // a destroyed manager leaves the stack
  EXPECT_EQ(CurrentShaderManager(), &other);
  EXPECT_EQ(ShaderManagerDepth(), 2);
  PopShaderManager();
  PopShaderManager();
  PopShaderManager();  // popping an empty stack is harmless
  EXPECT_EQ(CurrentShaderManager(), nullptr);
}

// ---------------------------------------------------------------------------
// Waves
// ---------------------------------------------------------------------------

TEST(Waves, ValuesOfEveryType) {
  Wave sin{WF_SIN, 0.0f, 1.0f, 1.0f, 0.25f};
  EXPECT_FLOAT_EQ(EvaluateWave(sin, 0.0f), 1.0f);
  EXPECT_NEAR(EvaluateWave(sin, 0.25f), 0.0f, 1e-5f);
  EXPECT_NEAR(EvaluateWave(sin, 0.5f), -1.0f, 1e-5f);
  EXPECT_NEAR(EvaluateWave(sin, 3.0f), 1.0f, 1e-5f);  // whole periods later

  Wave square{WF_SQUARE, 1.0f, 0.5f, 1.0f, 0.0f};
  EXPECT_FLOAT_EQ(EvaluateWave(square, 0.5f), 1.5f);  // p = 0.5 exactly: base + amplitude
  EXPECT_FLOAT_EQ(EvaluateWave(square, 0.75f), 0.5f);
  EXPECT_FLOAT_EQ(EvaluateWave(square, 0.25f), 1.5f);

  Wave triangle{WF_TRIANGLE, 0.0f, 2.0f, 0.5f, 0.0f};
  EXPECT_FLOAT_EQ(EvaluateWave(triangle, 0.5f), 1.0f);   // p = 0.25
  EXPECT_FLOAT_EQ(EvaluateWave(triangle, 1.0f), 2.0f);   // p = 0.5: the top
  EXPECT_FLOAT_EQ(EvaluateWave(triangle, 1.5f), 1.0f);   // p = 0.75
  EXPECT_FLOAT_EQ(EvaluateWave(triangle, 0.0f), 0.0f);

  Wave saw{WF_SAWTOOTH, 1.0f, 4.0f, 2.0f, 0.0f};
  EXPECT_FLOAT_EQ(EvaluateWave(saw, 0.125f), 2.0f);  // p = 0.25
  Wave inverse{WF_INVSAWTOOTH, 1.0f, 4.0f, 2.0f, 0.0f};
  EXPECT_FLOAT_EQ(EvaluateWave(inverse, 0.125f), 4.0f);

  Wave constant{WF_CONSTANT, 0.75f, 9.0f, 3.0f, 0.5f};
  EXPECT_FLOAT_EQ(EvaluateWave(constant, 12.3f), 0.75f);
  EXPECT_FLOAT_EQ(EvaluateWave(Wave{}, 5.0f), 0.0f);
  EXPECT_FLOAT_EQ(EvaluateWave(Wave{17, 1.0f, 1.0f, 1.0f, 0.0f}, 0.3f), 0.0f);

  // Negative times and offsets wrap into [0, 1).
  Wave negative{WF_SAWTOOTH, 0.0f, 1.0f, 1.0f, -0.25f};
  EXPECT_NEAR(EvaluateWave(negative, -0.5f), 0.25f, 1e-6f);
}

}  // namespace

namespace {

// The program's own material scripts parse and hold the materials the
// program asks for by name.
TEST(ProgramMaterials, ParseCleanly) {
  core::StartFileLayer(VJ_SOURCE_DIR);
  core::ResetRuntimeMessages();
  core::MarkStartupFinished(true);
  std::vector<std::string> messages;
  core::SetMessageListener([&messages](const std::string& text) { messages.push_back(text); });
  render::ShaderManager manager;
  ASSERT_EQ(manager.Init(), 0);
  EXPECT_EQ(manager.ParseShaderDirectory("data/shaders/"), 0);
  EXPECT_TRUE(messages.empty());
  for (const char* name : {"NULL", "STENCIL", "BEAMOPAQUE", "BEAMFLARE", "trauma", "WHITE", "ADDITIVE"})
    EXPECT_GE(manager.FindShader(name), 0) << name;
  core::SetMessageListener(nullptr);
  core::MarkStartupFinished(false);
  core::StopFileLayer();
}

}  // namespace

// ApplyPass, checked by the states it leaves in the display's state caches
// and on the device.
#include "render/display.h"
#include "tests/render/material_fixture.h"

namespace {

using namespace render;
using material_test::MaterialTest;

// A headless display device shared by the suite; each test starts from the
// default states.
class PassTest : public MaterialTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(InitDirect3DFrom(0, HeadlessAdapterInfo(), DisplayBackend::kHeadless), 0);
    ASSERT_EQ(SelectDisplayMode(nullptr, 64, 64, 32, false, false, nullptr, "", false, false, false, false, false),
              0);
  }
  static void TearDownTestSuite() {
    ReleaseDevice();
    ReleaseDirect3D();
  }
  void SetUp() override {
    MaterialTest::SetUp();
    ASSERT_NE(GetDevice(), nullptr);
    ApplyDefaultStates();
    SetEffectTime(0.0f);
  }
  ShaderHandle Make(const std::string& name, const std::string& pass_body, const std::string& shader_body = "") {
    EXPECT_EQ(Parse("<SHADER> <NAME> \"" + name + "\" </NAME> <PASS> " + pass_body + " </PASS> " + shader_body +
                    " </SHADER>"),
              0);
    return manager_.FindShader(name.c_str());
  }
  static uint32_t RS(RenderStateType state) { return CachedRenderState(state); }
  static uint32_t TSS(uint32_t stage, TextureStageStateType type) { return CachedStageState(stage, type); }
};

TEST_F(PassTest, BlendingIsOffOnlyForOneZero) {
  ShaderHandle add = Make("ADD", "<BLEND> <SRC> \"BL_ONE\" </SRC> <DST> \"BL_ONE\" </DST> </BLEND>");
  ShaderHandle opaque = Make("OPAQUE", "<BLEND> <SRC> \"BL_ONE\" </SRC> <DST> \"BL_ZERO\" </DST> </BLEND>");
  ShaderHandle zero_one = Make("ZEROONE", "<BLEND> <SRC> \"BL_ZERO\" </SRC> <DST> \"BL_ONE\" </DST> </BLEND>");
  ShaderHandle alpha = Make("ALPHA", "<BLEND> <SRC> \"BL_SRCALPHA\" </SRC> <DST> \"BL_INVSRCALPHA\" </DST> </BLEND>");
  ASSERT_EQ(ApplyPass(add, 0), 0);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(RS(RS_SRCBLEND), BLEND_ONE);
  EXPECT_EQ(RS(RS_DESTBLEND), BLEND_ONE);
  ASSERT_EQ(ApplyPass(opaque, 0), 0);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 0u);
  ASSERT_EQ(ApplyPass(zero_one, 0), 0);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(RS(RS_SRCBLEND), BLEND_ZERO);
  EXPECT_EQ(RS(RS_DESTBLEND), BLEND_ONE);
  ASSERT_EQ(ApplyPass(alpha, 0), 0);
  EXPECT_EQ(RS(RS_SRCBLEND), BLEND_SRCALPHA);
  EXPECT_EQ(RS(RS_DESTBLEND), BLEND_INVSRCALPHA);
  EXPECT_EQ(GetDevice()->GetRenderState(RS_DESTBLEND), BLEND_INVSRCALPHA);  // the device got it too

  SetAdditiveOverride(true);
  ASSERT_EQ(ApplyPass(opaque, 0), 0);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(RS(RS_SRCBLEND), BLEND_ONE);
  EXPECT_EQ(RS(RS_DESTBLEND), BLEND_ONE);
  SetAdditiveOverride(false);
  ASSERT_EQ(ApplyPass(opaque, 0), 0);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 0u);
}

TEST_F(PassTest, DepthShadingCullingAndFill) {
  ShaderHandle h = Make("D", "<NOZWRITE> </NOZWRITE> <ZCMP> \"ALWAYS\" </ZCMP> <SHADEMODE> \"FLAT\" </SHADEMODE>"
                             "<FILLMODE> \"WIREFRAME\" </FILLMODE> <CULL> \"CULL_CCW\" </CULL>");
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  ASSERT_EQ(ApplyPass(h, 0), 0);
  EXPECT_EQ(RS(RS_ZWRITEENABLE), 0u);
  EXPECT_EQ(RS(RS_ZFUNC), CMP_ALWAYS);
  EXPECT_EQ(RS(RS_SHADEMODE), SHADE_FLAT);
  EXPECT_EQ(RS(RS_FILLMODE), FILL_WIREFRAME);
  EXPECT_EQ(RS(RS_CULLMODE), CULL_CCW);
  EXPECT_EQ(RS(RS_ZENABLE), ZB_TRUE);

  ShaderHandle plain = Make("PLAIN", "");
  ASSERT_EQ(ApplyPass(plain, 0), 0);
  EXPECT_EQ(RS(RS_ZWRITEENABLE), 1u);
  EXPECT_EQ(RS(RS_ZFUNC), CMP_LESSEQUAL);
  EXPECT_EQ(RS(RS_SHADEMODE), SHADE_GOURAUD);
  EXPECT_EQ(RS(RS_FILLMODE), FILL_SOLID);
  EXPECT_EQ(RS(RS_CULLMODE), CULL_CW);

  // A mirrored manager swaps the winding; NONE stays NONE.
  manager_.mirrored = true;
  ASSERT_EQ(ApplyPass(plain, 0), 0);
  EXPECT_EQ(RS(RS_CULLMODE), CULL_CCW);
  ASSERT_EQ(ApplyPass(h, 0), 0);
  EXPECT_EQ(RS(RS_CULLMODE), CULL_CW);
  ASSERT_EQ(ApplyPass(kNullShader, 0), 0);
  EXPECT_EQ(RS(RS_CULLMODE), CULL_NONE);
  manager_.mirrored = false;
}

TEST_F(PassTest, StageZeroOperationsFiltersAndAddressing) {
  ShaderHandle h = Make("S", R"(<COLOR> <OP> "PO_ADD" </OP> <ARG1> "PA_DIFFUSE" </ARG1> <ARG2> "PA_TFACTOR" </ARG2> </COLOR>
      <ALPHA> <OP> "PO_MODULATE" </OP> <ARG1> "PA_TEXTURE" </ARG1> <ARG2> "PA_TFACTOR" </ARG2> </ALPHA>
      <MIP> "MIP_NONE" </MIP> <MIN> "POINT" </MIN> <MAG> "POINT" </MAG>)");
  SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_MIRROR);
  ASSERT_EQ(ApplyPass(h, 0), 0);
  EXPECT_EQ(TSS(0, TSS_COLOROP), TOP_ADD);
  EXPECT_EQ(TSS(0, TSS_COLORARG1), TA_DIFFUSE);
  EXPECT_EQ(TSS(0, TSS_COLORARG2), TA_TFACTOR);
  EXPECT_EQ(TSS(0, TSS_ALPHAOP), TOP_MODULATE);
  EXPECT_EQ(TSS(0, TSS_ALPHAARG1), TA_TEXTURE);
  EXPECT_EQ(TSS(0, TSS_ALPHAARG2), TA_TFACTOR);
  EXPECT_EQ(TSS(0, TSS_MIPFILTER), TEXF_NONE);
  EXPECT_EQ(TSS(0, TSS_MINFILTER), TEXF_POINT);
  EXPECT_EQ(TSS(0, TSS_MAGFILTER), TEXF_POINT);
  EXPECT_EQ(TSS(0, TSS_ADDRESSU), TADDRESS_WRAP);
  EXPECT_EQ(TSS(0, TSS_ADDRESSV), TADDRESS_WRAP);
  EXPECT_EQ(RS(RS_ALPHATESTENABLE), 1u);
  EXPECT_EQ(GetDevice()->GetTextureStageState(0, TSS_COLOROP), TOP_ADD);

  ShaderHandle dot = Make("DOT", "<COLOR> <OP> \"PO_DOT3\" </OP> </COLOR>");
  ASSERT_EQ(ApplyPass(dot, 0), 0);
  EXPECT_EQ(TSS(0, TSS_COLOROP), TOP_DOTPRODUCT3);
  EXPECT_EQ(RS(RS_ALPHATESTENABLE), 0u);
}

TEST_F(PassTest, TextureCoordinateGeneration) {
  ShaderHandle sphere = Make("SPHERE", "<TEXGEN> <TYPE> \"TG_SPHEREREFLECTION\" </TYPE> </TEXGEN>");
  ShaderHandle camera = Make("CAMERA", "<TEXGEN> <TYPE> \"TG_CAMERAREFLECTION\" </TYPE> </TEXGEN>");
  ShaderHandle cube = Make("CUBE", "<TEXGEN> <TYPE> \"TG_CUBEREFLECTION\" </TYPE> </TEXGEN>");
  ShaderHandle plain = Make("PLAIN", "");

  ASSERT_EQ(ApplyPass(sphere, 0), 0);
  EXPECT_EQ(TSS(0, TSS_TEXCOORDINDEX), TCI_CAMERASPACENORMAL);
  EXPECT_EQ(TSS(0, TSS_TEXTURETRANSFORMFLAGS), TTFF_COUNT2);
  Matrix m;
  ASSERT_EQ(GetDevice()->GetTransform(TS_TEXTURE0, &m), 0);
  Matrix sphere_matrix = Matrix::Identity();
  sphere_matrix.m[0][0] = 0.5f;
  sphere_matrix.m[1][1] = -0.5f;
  sphere_matrix.m[3][0] = 0.5f;
  sphere_matrix.m[3][1] = 0.5f;
  EXPECT_EQ(m, sphere_matrix);
  EXPECT_EQ(RS(RS_LOCALVIEWER), 0u);

  // The camera's orientation, its last row made (0, 0, 0, 1).
  Matrix orientation{};
  orientation.m[0][2] = 1.0f;   // right = +Z
  orientation.m[1][1] = 1.0f;   // up = +Y
  orientation.m[2][0] = -1.0f;  // forward = -X
  orientation.m[3][0] = 7.0f;   // a translation the texture matrix must not keep
  orientation.m[3][3] = 1.0f;
  FixedCamera fixed(orientation);
  SetCurrentCamera(&fixed);
  for (ShaderHandle h : {camera, cube}) {
    ASSERT_EQ(ApplyPass(h, 0), 0);
    EXPECT_EQ(TSS(0, TSS_TEXCOORDINDEX), TCI_CAMERASPACEREFLECTIONVECTOR);
    EXPECT_EQ(TSS(0, TSS_TEXTURETRANSFORMFLAGS), TTFF_COUNT3);
    EXPECT_EQ(RS(RS_LOCALVIEWER), 1u);
    ASSERT_EQ(GetDevice()->GetTransform(TS_TEXTURE0, &m), 0);
    Matrix expected = orientation;
    expected.m[3][0] = 0.0f;
    EXPECT_EQ(m, expected);
  }
  ASSERT_EQ(ApplyPass(plain, 0), 0);
  EXPECT_EQ(TSS(0, TSS_TEXCOORDINDEX), 0u);
  EXPECT_EQ(TSS(0, TSS_TEXTURETRANSFORMFLAGS), TTFF_DISABLE);
  EXPECT_EQ(RS(RS_LOCALVIEWER), 0u);
}

TEST_F(PassTest, TextureFactorFromColourAlphaAndWaves) {
  ShaderHandle rgb = Make("RGB", "<TFACTORCOLOR> <RGB> 0.2 0.4 0.6 </RGB> </TFACTORCOLOR>");
  ShaderHandle half = Make("HALF", "<TFACTORCOLOR> <WAVE> <BASE> 0.5 </BASE> </WAVE> </TFACTORCOLOR>");
  ShaderHandle alpha = Make("ALPHA",
                            "<TFACTORCOLOR> <RGB> 1.0 0.0 0.0 </RGB> </TFACTORCOLOR>"
                            "<TFACTORALPHA> <WAVE> <TYPE> \"WF_SAWTOOTH\" </TYPE> <AMPLITUDE> 1.0 </AMPLITUDE>"
                            "<FREQUENCY> 1.0 </FREQUENCY> </WAVE> </TFACTORALPHA>");
  ShaderHandle over = Make("OVER",
                           "<TFACTORCOLOR> <WAVE> <BASE> 1.5 </BASE> </WAVE> </TFACTORCOLOR>"
                           "<TFACTORALPHA> <WAVE> <BASE> -2.0 </BASE> </WAVE> </TFACTORALPHA>");
  ShaderHandle ored = Make("ORED",
                           "<TFACTORCOLOR> <WAVE> <TYPE> \"WF_SQUARE\" </TYPE> <BASE> 0.25 </BASE> "
                           "<AMPLITUDE> 0.0 </AMPLITUDE> </WAVE> </TFACTORCOLOR>");
  ASSERT_EQ(ApplyPass(rgb, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0xff336699u);
  ASSERT_EQ(ApplyPass(half, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0xff7f7f7fu);  // 0.5 over RGB 0, alpha 0xFF
  SetEffectTime(0.25f);                            // sawtooth at p = 0.25
  ASSERT_EQ(ApplyPass(alpha, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0x3fff0000u);
  SetEffectTime(10.75f);
  ASSERT_EQ(ApplyPass(alpha, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0xbfff0000u);
  ASSERT_EQ(ApplyPass(over, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0x00ffffffu);  // saturated, never spilling across channels
  ASSERT_EQ(ApplyPass(ored, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0xff3f3f3fu);
  // The built-in colour shader keeps its colour bytes and is opaque.
  ShaderHandle tint = manager_.CreateBuiltinShader("tint", BUILTIN_COLOR, nullptr, nullptr, 0x80123456);
  ASSERT_EQ(ApplyPass(tint, 0), 0);
  EXPECT_EQ(RS(RS_TEXTUREFACTOR), 0xff123456u);
  EXPECT_EQ(TSS(0, TSS_COLORARG1), TA_TFACTOR);
}

TEST_F(PassTest, MaterialSpecularHighlightAndStageOne) {
  ShaderHandle lit = Make("LIT",
                          "<LIGHTING> <DIFFUSE> 0.5 0.25 1.0 </DIFFUSE> <POWER> 16.0 </POWER> </LIGHTING>"
                          "<SPECULARHIGHLIGHT> </SPECULARHIGHLIGHT>");
  ShaderHandle plain = Make("PLAIN", "");
  ASSERT_EQ(ApplyPass(lit, 0), 0);
  Material material = GetDevice()->GetMaterial();
  EXPECT_EQ(material.diffuse, (ColorValue{0.5f, 0.25f, 1.0f, 1.0f}));
  EXPECT_EQ(material.ambient, (ColorValue{1.0f, 1.0f, 1.0f, 1.0f}));
  EXPECT_EQ(material.power, 16.0f);
  EXPECT_EQ(RS(RS_SPECULARENABLE), 1u);
  EXPECT_EQ(RS(RS_LOCALVIEWER), 1u);
  EXPECT_EQ(TSS(1, TSS_COLOROP), TOP_MODULATE);
  EXPECT_EQ(TSS(1, TSS_COLORARG1), TA_CURRENT);
  EXPECT_EQ(TSS(1, TSS_COLORARG2), TA_CURRENT);
  EXPECT_EQ(TSS(1, TSS_ALPHAOP), TOP_MODULATE);
  EXPECT_EQ(TSS(1, TSS_ALPHAARG1), TA_CURRENT);
  EXPECT_EQ(TSS(1, TSS_ALPHAARG2), TA_CURRENT);
  ASSERT_EQ(ApplyPass(plain, 0), 0);
  EXPECT_EQ(GetDevice()->GetMaterial(), Material{});
  EXPECT_EQ(RS(RS_SPECULARENABLE), 0u);
  EXPECT_EQ(RS(RS_LOCALVIEWER), 0u);
  EXPECT_EQ(TSS(1, TSS_COLOROP), TOP_DISABLE);
  EXPECT_EQ(TSS(1, TSS_ALPHAOP), TOP_DISABLE);
}

TEST_F(PassTest, UnknownShadersAndPassesSetNothing) {
  ShaderHandle h = Make("ONE", "<BLEND> <SRC> \"BL_ONE\" </SRC> <DST> \"BL_ONE\" </DST> </BLEND>");
  EXPECT_EQ(ApplyPass(h, 1), -1);
  EXPECT_EQ(ApplyPass(h, -1), -1);
  EXPECT_EQ(ApplyPass(-1, 0), -1);
  EXPECT_EQ(ApplyPass(42, 0), -1);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 0u);
  PopShaderManager();  // no current manager
  EXPECT_EQ(ApplyPass(h, 0), -1);
  EXPECT_EQ(RS(RS_ALPHABLENDENABLE), 0u);
  PushShaderManager(&manager_);
}

}  // namespace

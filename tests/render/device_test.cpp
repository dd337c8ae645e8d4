// Pixel tests of the device: draw, read back, compare with values worked
// out by hand from Direct3D's rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "render/test_hooks.h"
#include "tests/render/render_test_util.h"

namespace {

using namespace render;
using render_test::ArgbNear;
using render_test::DeviceTest;
using render_test::DrawQuad;
using render_test::FillPixels;
using render_test::ReadTarget;
using render_test::RenderVertex;
using render_test::ScreenVertex;

// A texture of 32-bit texels (A8R8G8B8 / X8R8G8B8), written through a lock.
std::shared_ptr<Texture> MakeTexture32(Device* device, uint32_t w, uint32_t h, Format format,
                                       const std::vector<uint32_t>& texels, uint32_t levels = 1) {
  auto texture = device->CreateTexture(w, h, levels, 0, format, POOL_MANAGED);
  if (!texture) return nullptr;
  LockedRect locked;
  if (texture->LockRect(0, &locked, nullptr, 0) != 0) return nullptr;
  for (uint32_t y = 0; y < h; ++y)
    std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch, &texels[y * w], w * 4);
  texture->UnlockRect(0);
  return texture;
}

std::shared_ptr<Texture> MakeTexture16(Device* device, uint32_t w, uint32_t h, Format format,
                                       const std::vector<uint16_t>& texels) {
  auto texture = device->CreateTexture(w, h, 1, 0, format, POOL_MANAGED);
  if (!texture) return nullptr;
  LockedRect locked;
  if (texture->LockRect(0, &locked, nullptr, 0) != 0) return nullptr;
  for (uint32_t y = 0; y < h; ++y)
    std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch, &texels[y * w], w * 2);
  texture->UnlockRect(0);
  return texture;
}

// Stage 0 shows the texture's colour and alpha unchanged.
void TextureOnly(Device* device) {
  device->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
  device->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  device->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
  device->SetTextureStageState(0, TSS_ALPHAARG1, TA_TEXTURE);
  device->SetRenderState(RS_CULLMODE, CULL_NONE);
  device->SetRenderState(RS_ZENABLE, ZB_FALSE);
}

void PointSampling(Device* device, uint32_t stage = 0) {
  device->SetTextureStageState(stage, TSS_MINFILTER, TEXF_POINT);
  device->SetTextureStageState(stage, TSS_MAGFILTER, TEXF_POINT);
}

// ---------------------------------------------------------------------------
// Blending
// ---------------------------------------------------------------------------

struct Rgba {
  double c[4];  // a, r, g, b in 0..1
};
Rgba Unpack(uint32_t argb) {
  return {{(argb >> 24) / 255.0, ((argb >> 16) & 0xff) / 255.0, ((argb >> 8) & 0xff) / 255.0, (argb & 0xff) / 255.0}};
}

// Direct3D's blend factor for channel i (0 = alpha).
double Factor(uint32_t factor, const Rgba& s, const Rgba& d, int i) {
  switch (factor) {
    case BLEND_ZERO: return 0;
    case BLEND_ONE: return 1;
    case BLEND_SRCCOLOR: return s.c[i];
    case BLEND_INVSRCCOLOR: return 1 - s.c[i];
    case BLEND_SRCALPHA: return s.c[0];
    case BLEND_INVSRCALPHA: return 1 - s.c[0];
    case BLEND_DESTALPHA: return d.c[0];
    case BLEND_INVDESTALPHA: return 1 - d.c[0];
    case BLEND_DESTCOLOR: return d.c[i];
    case BLEND_INVDESTCOLOR: return 1 - d.c[i];
    case BLEND_SRCALPHASAT: return i == 0 ? 1.0 : std::min(s.c[0], 1 - d.c[0]);
  }
  return -1;
}

uint32_t Blend(uint32_t src, uint32_t dst, uint32_t s_argb, uint32_t d_argb) {
  Rgba s = Unpack(s_argb), d = Unpack(d_argb);
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    double sf, df;
    if (src == BLEND_BOTHSRCALPHA) {
      sf = s.c[0];
      df = 1 - s.c[0];
    } else if (src == BLEND_BOTHINVSRCALPHA) {
      sf = 1 - s.c[0];
      df = s.c[0];
    } else {
      sf = Factor(src, s, d, i);
      df = Factor(dst, s, d, i);
    }
    double v = std::clamp(s.c[i] * sf + d.c[i] * df, 0.0, 1.0);
    out |= static_cast<uint32_t>(std::lround(v * 255)) << (24 - 8 * i);
  }
  return out;
}

class BlendTest : public DeviceTest {
 protected:
  static constexpr uint32_t kSource = 0x80ff0040;
  static constexpr uint32_t kDest = 0x408020c0;
  uint32_t Draw(uint32_t src, uint32_t dst, uint32_t dest_colour = kDest) {
    device_->Clear(0, nullptr, CLEAR_TARGET, dest_colour, 1.0f, 0);
    device_->SetRenderState(RS_ALPHABLENDENABLE, 1);
    device_->SetRenderState(RS_SRCBLEND, src);
    device_->SetRenderState(RS_DESTBLEND, dst);
    EXPECT_EQ(FillPixels(device_, 0, 0, 4, 4, kSource), 0);
    return ReadTarget(device_)[5];
  }
};

TEST_F(BlendTest, PairsTheProgramUses) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  struct Case {
    uint32_t src, dst, expected;
  };
  // Source 0x80FF0040 over destination 0x408020C0, worked out by hand:
  // e.g. SRCALPHA/INVSRCALPHA red = 255 * 128/255 + 128 * 127/255 = 191.75.
  const Case cases[] = {
      {BLEND_SRCALPHA, BLEND_INVSRCALPHA, 0x60c01080},   // mixers, images, colour fades
      {BLEND_SRCALPHA, BLEND_ONE, 0x80ff20e0},           // additive mixers, additive images
      {BLEND_ONE, BLEND_ONE, 0xc0ff20ff},                // additive override, components
      {BLEND_ZERO, BLEND_INVSRCCOLOR, 0x20002090},       // subtractive images
      {BLEND_ZERO, BLEND_SRCCOLOR, 0x20800030},          // multiply images
      {BLEND_INVDESTCOLOR, BLEND_INVSRCCOLOR, 0x807f20a0},  // invert images with alpha
      {BLEND_INVDESTCOLOR, BLEND_ZERO, 0x607f0010},      // invert images, opaque
      {BLEND_ZERO, BLEND_ONE, 0x408020c0},               // second pass of environment materials
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "src " << c.src << " dst " << c.dst);
    EXPECT_THAT(Draw(c.src, c.dst), ArgbNear(c.expected, 1));
  }
  // Blending off writes the source as it is.
  device_->SetRenderState(RS_ALPHABLENDENABLE, 0);
  device_->Clear(0, nullptr, CLEAR_TARGET, kDest, 1.0f, 0);
  FillPixels(device_, 0, 0, 4, 4, kSource);
  EXPECT_EQ(ReadTarget(device_)[5], kSource);
}

TEST_F(BlendTest, EveryFactorInEachSlot) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  for (uint32_t factor = BLEND_ZERO; factor <= BLEND_SRCALPHASAT; ++factor) {
    SCOPED_TRACE(testing::Message() << "source factor " << factor);
    EXPECT_THAT(Draw(factor, BLEND_ZERO), ArgbNear(Blend(factor, BLEND_ZERO, kSource, kDest), 1));
  }
  for (uint32_t factor = BLEND_ZERO; factor <= BLEND_INVDESTCOLOR; ++factor) {
    SCOPED_TRACE(testing::Message() << "destination factor " << factor);
    EXPECT_THAT(Draw(BLEND_ZERO, factor), ArgbNear(Blend(BLEND_ZERO, factor, kSource, kDest), 1));
  }
}

TEST_F(BlendTest, BothFactorsOverrideTheDestinationFactor) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  // BOTHSRCALPHA = SRCALPHA / INVSRCALPHA whatever DESTBLEND says.
  EXPECT_THAT(Draw(BLEND_BOTHSRCALPHA, BLEND_ONE), ArgbNear(0x60c01080, 1));
  // BOTHINVSRCALPHA = INVSRCALPHA / SRCALPHA: red 255*127/255 + 128*128/255.
  EXPECT_THAT(Draw(BLEND_BOTHINVSRCALPHA, BLEND_ZERO), ArgbNear(Blend(BLEND_INVSRCALPHA, BLEND_SRCALPHA, kSource, kDest), 1));
  // red 255*127/255 + 128*128/255 = 191.3, blue 64*127/255 + 192*128/255 = 128.2
  EXPECT_THAT(Draw(BLEND_BOTHINVSRCALPHA, BLEND_ZERO), ArgbNear(0x60bf1080, 1));
}

TEST_F(BlendTest, FactorsGlCannotTakeAsDestinationAreMappedExplicitly) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  // In the destination slot the BOTH factors stand for their destination half.
  EXPECT_THAT(Draw(BLEND_ONE, BLEND_BOTHSRCALPHA), ArgbNear(Blend(BLEND_ONE, BLEND_INVSRCALPHA, kSource, kDest), 1));
  EXPECT_THAT(Draw(BLEND_ONE, BLEND_BOTHINVSRCALPHA), ArgbNear(Blend(BLEND_ONE, BLEND_SRCALPHA, kSource, kDest), 1));
  // SRCALPHASAT as destination on a target with alpha: nearest is SRCALPHA.
  EXPECT_THAT(Draw(BLEND_ZERO, BLEND_SRCALPHASAT), ArgbNear(Blend(BLEND_ZERO, BLEND_SRCALPHA, kSource, kDest), 1));
  // Without alpha in the target Ad reads 1, so min(As, 1 - Ad) = 0 exactly.
  UseTarget(4, 4, FMT_X8R8G8B8);
  EXPECT_EQ(Draw(BLEND_ONE, BLEND_SRCALPHASAT), 0xffff0040u);
}

TEST_F(BlendTest, DestinationAlphaOfTargetsWithoutAlphaReadsOne) {
  UseTarget(4, 4, FMT_X8R8G8B8);
  DiffuseOnly();
  // INVDESTALPHA = 0 and DESTALPHA = 1 on X8R8G8B8.
  EXPECT_EQ(Draw(BLEND_INVDESTALPHA, BLEND_DESTALPHA, 0x00102030), 0xff102030u);
}

TEST_F(BlendTest, BlendOperations) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->SetRenderState(RS_BLENDOP, BLENDOP_REVSUBTRACT);  // dest - src
  EXPECT_THAT(Draw(BLEND_ONE, BLEND_ONE, 0xffffffff), ArgbNear(0x7f00ffbf, 1));
  device_->SetRenderState(RS_BLENDOP, BLENDOP_MAX);
  EXPECT_THAT(Draw(BLEND_ONE, BLEND_ONE), ArgbNear(0x80ff20c0, 1));
}

// ---------------------------------------------------------------------------
// Texture stages
// ---------------------------------------------------------------------------

class StageTest : public DeviceTest {
 protected:
  static constexpr uint32_t kTexel = 0x80c04020;    // a 128, r 192, g 64, b 32
  static constexpr uint32_t kDiffuse = 0x40808080;  // a 64, grey 128
  static constexpr uint32_t kFactor = 0xff203040;
  void SetUp() override {
    DeviceTest::SetUp();
    UseTarget(4, 4, FMT_A8R8G8B8);
    texture_ = MakeTexture32(device_, 2, 2, FMT_A8R8G8B8, {kTexel, kTexel, kTexel, kTexel});
    ASSERT_NE(texture_, nullptr);
    device_->SetTexture(0, texture_);
    device_->SetRenderState(RS_CULLMODE, CULL_NONE);
    device_->SetRenderState(RS_ZENABLE, ZB_FALSE);
    device_->SetRenderState(RS_TEXTUREFACTOR, kFactor);
  }
  void Stage(uint32_t stage, uint32_t color_op, uint32_t color1, uint32_t color2, uint32_t alpha_op,
             uint32_t alpha1, uint32_t alpha2) {
    device_->SetTextureStageState(stage, TSS_COLOROP, color_op);
    device_->SetTextureStageState(stage, TSS_COLORARG1, color1);
    device_->SetTextureStageState(stage, TSS_COLORARG2, color2);
    device_->SetTextureStageState(stage, TSS_ALPHAOP, alpha_op);
    device_->SetTextureStageState(stage, TSS_ALPHAARG1, alpha1);
    device_->SetTextureStageState(stage, TSS_ALPHAARG2, alpha2);
  }
  uint32_t Draw() {
    device_->Clear(0, nullptr, CLEAR_TARGET, 0, 1.0f, 0);
    EXPECT_EQ(FillPixels(device_, 0, 0, 4, 4, kDiffuse), 0);
    return ReadTarget(device_)[5];
  }
  std::shared_ptr<Texture> texture_;
};

TEST_F(StageTest, SelectModulateAddAndDisable) {
  Stage(0, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), kTexel);
  Stage(0, TOP_SELECTARG2, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG2, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), kDiffuse);
  // texture x diffuse: r 192*128/255 = 96.4, g 64*128/255 = 32.1, b 16.1; a 128*64/255 = 32.1
  Stage(0, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_THAT(Draw(), ArgbNear(0x20602010, 1));
  // texture + diffuse saturates: r 192 + 128 -> 255, g 192, b 160; a 192
  Stage(0, TOP_ADD, TA_TEXTURE, TA_DIFFUSE, TOP_ADD, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), 0xc0ffc0a0u);
  // A disabled first stage shows the diffuse colour.
  Stage(0, TOP_DISABLE, TA_TEXTURE, TA_DIFFUSE, TOP_DISABLE, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), kDiffuse);
}

TEST_F(StageTest, FactorCurrentAndASecondStage) {
  // Stage 0 colour = texture, alpha = texture factor (the mixers' set-up).
  Stage(0, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG1, TA_TFACTOR, TA_CURRENT);
  EXPECT_THAT(Draw(), ArgbNear(0xff602010, 1));
  // Stage 1 multiplies the stage 0 result by the factor: r 192*32/255 = 24.1,
  // g 64*48/255 = 12.0, b 32*64/255 = 8.0; alpha: current (128) x factor (255).
  Stage(0, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE);
  Stage(1, TOP_MODULATE, TA_CURRENT, TA_TFACTOR, TOP_MODULATE, TA_CURRENT, TA_TFACTOR);
  EXPECT_THAT(Draw(), ArgbNear(0x80180c08, 1));
  // Stage 1 disabled ends the cascade after stage 0.
  device_->SetTextureStageState(1, TSS_COLOROP, TOP_DISABLE);
  EXPECT_EQ(Draw(), kTexel);
  // CURRENT in stage 0 is the diffuse colour.
  Stage(0, TOP_SELECTARG1, TA_CURRENT, TA_TEXTURE, TOP_SELECTARG1, TA_CURRENT, TA_TEXTURE);
  EXPECT_EQ(Draw(), kDiffuse);
  // Modifiers: complement of the texture, alpha replicated.
  Stage(0, TOP_SELECTARG1, TA_TEXTURE | TA_COMPLEMENT, TA_DIFFUSE, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), 0x803fbfdfu);
  Stage(0, TOP_SELECTARG1, TA_TEXTURE | TA_ALPHAREPLICATE, TA_DIFFUSE, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), 0x80808080u);
}

TEST_F(StageTest, DotProductAndMultiplyAdd) {
  // DOT3 of (192,64,32) and grey 128: 4 * sum((t - .5)(d - .5)) with d - .5 = 0.00196:
  // tiny; use the factor (32,48,64) instead: (t-.5)=(.253,-.249,-.375),
  // (f-.5)=(-.375,-.312,-.249) -> 4*(-.0949+.0777+.0934) = 0.305 -> 78, in all four channels.
  Stage(0, TOP_DOTPRODUCT3, TA_TEXTURE, TA_TFACTOR, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_THAT(Draw(), ArgbNear(0x4e4e4e4e, 2));
  // MULTIPLYADD: arg0 + arg1 * arg2 = factor + texture * diffuse.
  device_->SetTextureStageState(0, TSS_COLORARG0, TA_TFACTOR);
  Stage(0, TOP_MULTIPLYADD, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG1, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_THAT(Draw(), ArgbNear(0x80805050, 1));
}

TEST_F(StageTest, MissingTextureReadsAsOpaqueWhite) {
  device_->SetTexture(0, nullptr);
  Stage(0, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE);
  EXPECT_EQ(Draw(), kDiffuse);
}

TEST_F(StageTest, AlphaTestComparesEightBitValues) {
  DiffuseOnly();
  device_->SetRenderState(RS_ALPHATESTENABLE, 1);
  device_->SetRenderState(RS_ALPHAFUNC, CMP_GREATEREQUAL);
  device_->SetRenderState(RS_ALPHAREF, 0x80);
  auto draw = [&](uint32_t colour) {
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff0000ff, 1.0f, 0);
    FillPixels(device_, 0, 0, 4, 4, colour);
    return ReadTarget(device_)[5];
  };
  EXPECT_EQ(draw(0x7fff0000), 0xff0000ffu);  // 127 < 128: discarded
  EXPECT_EQ(draw(0x80ff0000), 0x80ff0000u);  // 128 >= 128: drawn
  device_->SetRenderState(RS_ALPHAFUNC, CMP_EQUAL);
  EXPECT_EQ(draw(0x81ff0000), 0xff0000ffu);
  EXPECT_EQ(draw(0x80ff0000), 0x80ff0000u);
  device_->SetRenderState(RS_ALPHAFUNC, CMP_NEVER);
  EXPECT_EQ(draw(0xffff0000), 0xff0000ffu);
  // The test is off again: everything draws.
  device_->SetRenderState(RS_ALPHATESTENABLE, 0);
  EXPECT_EQ(draw(0x00ff0000), 0x00ff0000u);
}

TEST_F(StageTest, TextureFactorDrivesTheMixersFade) {
  // Mixer draw: colour = texture x diffuse (white), alpha = factor alpha,
  // blended SRCALPHA / INVSRCALPHA over black: 0x40 alpha -> 25%.
  Stage(0, TOP_MODULATE, TA_TEXTURE, TA_DIFFUSE, TOP_SELECTARG1, TA_TFACTOR, TA_CURRENT);
  device_->SetRenderState(RS_TEXTUREFACTOR, 0x40000000);
  device_->SetRenderState(RS_ALPHABLENDENABLE, 1);
  device_->SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  device_->SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff);
  // r 192 * 64/255 = 48.2, g 16.1, b 8.0; a 64*64/255 + 255*191/255 = 207.1
  EXPECT_THAT(ReadTarget(device_)[5], ArgbNear(0xcf301008, 1));
}

// ---------------------------------------------------------------------------
// Sampling, addressing and filters
// ---------------------------------------------------------------------------

TEST_F(DeviceTest, HalfPixelMappingReproducesTexelsExactly) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  TextureOnly(device_);
  std::vector<uint32_t> texels(16);
  for (uint32_t i = 0; i < 16; ++i) texels[i] = ColorArgb(255 - i, i * 16, 255 - i * 16, (i * 37) & 0xff);
  auto texture = MakeTexture32(device_, 4, 4, FMT_A8R8G8B8, texels);
  device_->SetTexture(0, texture);
  // Bilinear (the default) at texel centres gives the texels themselves.
  ASSERT_EQ(DrawQuad(device_, -0.5f, -0.5f, 3.5f, 3.5f, 0xffffffff), 0);
  EXPECT_EQ(ReadTarget(device_), texels);
}

TEST_F(DeviceTest, TransformedVerticesUseDirect3DPixelCentres) {
  // A texture mapped with u = x / W over transformed vertices: pixel i's
  // centre lies at x = i, between texels i - 1 and i, so bilinear filtering
  // averages them (Direct3D's half-texel offset).
  UseTarget(4, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  auto texture = MakeTexture32(device_, 4, 1, FMT_A8R8G8B8, {0xff000000, 0xff000000, 0xffff0000, 0xffff0000});
  device_->SetTexture(0, texture);
  device_->SetTextureStageState(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  device_->SetTextureStageState(0, TSS_ADDRESSV, TADDRESS_CLAMP);
  // Orthographic projection: x 0..4 -> -1..1, y 0..1 -> 1..-1.
  Matrix projection = Matrix::Identity();
  projection.m[0][0] = 2.0f / 4;
  projection.m[1][1] = -2.0f / 1;
  projection.m[3][0] = -1;
  projection.m[3][1] = 1;
  device_->SetTransform(TS_PROJECTION, projection);
  // A quad three targets wide (edges far outside) with u running -1..2.
  RenderVertex v[4] = {{-4, -1, 0.5f, 0, 0, 1, 0xffffffff, -1, 0},
                       {8, -1, 0.5f, 0, 0, 1, 0xffffffff, 2, 0},
                       {-4, 2, 0.5f, 0, 0, 1, 0xffffffff, -1, 1},
                       {8, 2, 0.5f, 0, 0, 1, 0xffffffff, 2, 1}};
  device_->SetFVF(kFvfRenderVertex);
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLESTRIP, 2, v, sizeof(RenderVertex)), 0);
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[0], 0xff000000u);
  EXPECT_EQ(pixels[1], 0xff000000u);
  EXPECT_THAT(pixels[2], ArgbNear(0xff800000, 1));
  EXPECT_EQ(pixels[3], 0xffff0000u);
}

TEST_F(DeviceTest, WorldViewProjectionFollowRowVectorOrder) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  Matrix world = Matrix::Identity();  // translate by (+2, +3): the 4th row
  world.m[3][0] = 2;
  world.m[3][1] = 3;
  Matrix view = Matrix::Identity();  // then scale x by 2
  view.m[0][0] = 2;
  Matrix projection = Matrix::Identity();  // pixels: x 0..8 -> -1..1, y 0..8 -> 1..-1
  projection.m[0][0] = 2.0f / 8;
  projection.m[1][1] = -2.0f / 8;
  projection.m[3][0] = -1;
  projection.m[3][1] = 1;
  device_->SetTransform(TS_WORLD, world);
  device_->SetTransform(TS_VIEW, view);
  device_->SetTransform(TS_PROJECTION, projection);
  // Object x -1.25..-0.25 -> world 0.75..1.75 -> view 1.5..3.5: pixels 2, 3.
  // Object y -1.5..0.5 -> 1.5..3.5: pixels 2, 3.
  RenderVertex v[4] = {{-1.25f, -1.5f, 0.5f, 0, 0, 1, 0xff00ff00, 0, 0},
                       {-0.25f, -1.5f, 0.5f, 0, 0, 1, 0xff00ff00, 0, 0},
                       {-1.25f, 0.5f, 0.5f, 0, 0, 1, 0xff00ff00, 0, 0},
                       {-0.25f, 0.5f, 0.5f, 0, 0, 1, 0xff00ff00, 0, 0}};
  device_->SetFVF(kFvfRenderVertex);
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLESTRIP, 2, v, sizeof(RenderVertex)), 0);
  auto pixels = ReadTarget(device_);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool inside = x >= 2 && x <= 3 && y >= 2 && y <= 3;
      EXPECT_EQ(pixels[y * 8 + x], inside ? 0xff00ff00u : 0xff000000u) << x << "," << y;
    }
}

TEST_F(DeviceTest, WrapAndClampAddressing) {
  UseTarget(4, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  PointSampling(device_);
  auto texture = MakeTexture32(device_, 2, 1, FMT_A8R8G8B8, {0xffff0000, 0xff0000ff});
  device_->SetTexture(0, texture);
  // u runs 0..2 over four pixels: centres at u = 0.25, 0.75, 1.25, 1.75.
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff, 0, 0, 0, 2, 1);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0xffff0000, 0xff0000ff, 0xffff0000, 0xff0000ff}));
  device_->SetTextureStageState(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff, 0, 0, 0, 2, 1);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0xffff0000, 0xff0000ff, 0xff0000ff, 0xff0000ff}));
}

TEST_F(DeviceTest, PointAndLinearMagnification) {
  UseTarget(4, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  auto texture = MakeTexture32(device_, 2, 1, FMT_A8R8G8B8, {0xff000000, 0xffffffff});
  device_->SetTexture(0, texture);
  device_->SetTextureStageState(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  PointSampling(device_);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0xff000000, 0xff000000, 0xffffffff, 0xffffffff}));
  // Linear: texel coordinates 0.25, 0.75, 1.25, 1.75 -> weights 0, .25, .75, 1.
  device_->SetTextureStageState(0, TSS_MAGFILTER, TEXF_LINEAR);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff);
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[0], 0xff000000u);
  EXPECT_THAT(pixels[1], ArgbNear(0xff404040, 1));
  EXPECT_THAT(pixels[2], ArgbNear(0xffbfbfbf, 1));
  EXPECT_EQ(pixels[3], 0xffffffffu);
}

TEST_F(DeviceTest, MipFilterPicksTheSmallerLevel) {
  UseTarget(2, 2, FMT_A8R8G8B8);
  TextureOnly(device_);
  auto texture = device_->CreateTexture(4, 4, 0, 0, FMT_A8R8G8B8, POOL_MANAGED);
  ASSERT_EQ(texture->LevelCount(), 3u);
  const uint32_t colours[3] = {0xffff0000, 0xff00ff00, 0xff0000ff};
  for (uint32_t level = 0; level < 3; ++level) {
    SurfaceDesc desc;
    ASSERT_EQ(texture->GetLevelDesc(level, &desc), 0);
    EXPECT_EQ(desc.width, 4u >> level);
    LockedRect locked;
    ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), 0);
    for (uint32_t y = 0; y < desc.height; ++y)
      for (uint32_t x = 0; x < desc.width; ++x)
        static_cast<uint32_t*>(static_cast<void*>(static_cast<uint8_t*>(locked.bits) + y * locked.pitch))[x] =
            colours[level];
    ASSERT_EQ(texture->UnlockRect(level), 0);
  }
  device_->SetTexture(0, texture);
  PointSampling(device_);
  DrawQuad(device_, -0.5f, -0.5f, 1.5f, 1.5f, 0xffffffff);  // 4 texels onto 2 pixels: level 1
  EXPECT_EQ(ReadTarget(device_)[0], 0xffff0000u);          // no mip filter: level 0
  device_->SetTextureStageState(0, TSS_MIPFILTER, TEXF_POINT);
  DrawQuad(device_, -0.5f, -0.5f, 1.5f, 1.5f, 0xffffffff);
  EXPECT_EQ(ReadTarget(device_)[0], 0xff00ff00u);
  device_->SetTextureStageState(0, TSS_MAXMIPLEVEL, 2);  // nothing larger than level 2
  DrawQuad(device_, -0.5f, -0.5f, 1.5f, 1.5f, 0xffffffff);
  EXPECT_EQ(ReadTarget(device_)[0], 0xff0000ffu);
}

// ---------------------------------------------------------------------------
// Formats
// ---------------------------------------------------------------------------

TEST_F(DeviceTest, EachTextureFormatRoundTripsThroughALock) {
  UseTarget(4, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  PointSampling(device_);
  struct Case16 {
    Format format;
    std::vector<uint16_t> texels;
    std::vector<uint32_t> expected;
  };
  // 5-bit 16 -> round(16 * 255 / 31) = 132; 6-bit 32 -> round(32 * 255 / 63) = 130.
  const Case16 cases16[] = {
      {FMT_R5G6B5, {0xf800, 0x07e0, 0x001f, 0x8410}, {0xffff0000, 0xff00ff00, 0xff0000ff, 0xff848284}},
      {FMT_X1R5G5B5, {0x7c00, 0x03e0, 0x801f, 0x4210}, {0xffff0000, 0xff00ff00, 0xff0000ff, 0xff848484}},
      {FMT_A1R5G5B5, {0xfc00, 0x7c00, 0x83e0, 0x001f}, {0xffff0000, 0x00ff0000, 0xff00ff00, 0x000000ff}},
      {FMT_A4R4G4B4, {0xf800, 0x1234, 0x0f0f, 0xffff}, {0xff880000, 0x11223344, 0x00ff00ff, 0xffffffff}},
  };
  for (const Case16& c : cases16) {
    SCOPED_TRACE(FormatName(c.format));
    auto texture = MakeTexture16(device_, 4, 1, c.format, c.texels);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetFormat(), c.format);
    device_->SetTexture(0, texture);
    DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff);
    EXPECT_EQ(ReadTarget(device_), c.expected);
  }
  auto argb = MakeTexture32(device_, 4, 1, FMT_A8R8G8B8, {0x80ff0040, 0x00123456, 0xff000000, 0x7f808182});
  device_->SetTexture(0, argb);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0x80ff0040, 0x00123456, 0xff000000, 0x7f808182}));
  // X8R8G8B8 ignores the top byte: alpha reads 1.
  auto xrgb = MakeTexture32(device_, 4, 1, FMT_X8R8G8B8, {0x12ff0040, 0x00123456, 0x00000000, 0x7f808182});
  device_->SetTexture(0, xrgb);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0xffff0040, 0xff123456, 0xff000000, 0xff808182}));
}

TEST_F(DeviceTest, EachFormatWorksAsRenderTargetAndTexture) {
  struct Case {
    Format format;
    uint32_t expected;  // 0x80FF8040 stored in the format and read back
  };
  // g 128 -> 6 bits round(31.6) = 32 -> 130; 5 bits round(15.6) = 16 -> 132;
  // b 64 -> 5 bits round(7.8) = 8 -> 66; 4 bits: 128 -> 8 -> 0x88, 64 -> 4 -> 0x44.
  const Case cases[] = {{FMT_A8R8G8B8, 0x80ff8040}, {FMT_X8R8G8B8, 0xffff8040}, {FMT_R5G6B5, 0xffff8242},
                        {FMT_X1R5G5B5, 0xffff8442}, {FMT_A1R5G5B5, 0xffff8442}, {FMT_A4R4G4B4, 0x88ff8844}};
  for (const Case& c : cases) {
    SCOPED_TRACE(FormatName(c.format));
    UseTarget(4, 4, c.format);
    ASSERT_EQ(device_->Clear(0, nullptr, CLEAR_TARGET, 0x80ff8040, 1.0f, 0), 0);
    EXPECT_THAT(ReadTarget(device_)[0], ArgbNear(c.expected, 1));
    // Drawn into, then sampled into an A8R8G8B8 target.
    std::shared_ptr<Texture> drawn = target_;
    DiffuseOnly();
    FillPixels(device_, 1, 1, 3, 3, 0xff00ff00);
    UseTarget(4, 4, FMT_A8R8G8B8);
    TextureOnly(device_);
    PointSampling(device_);
    device_->SetTexture(0, drawn);
    DrawQuad(device_, -0.5f, -0.5f, 3.5f, 3.5f, 0xffffffff);
    auto pixels = ReadTarget(device_);
    EXPECT_THAT(pixels[0], ArgbNear(c.expected, 1));
    EXPECT_THAT(pixels[5], ArgbNear(0xff00ff00, 1));
  }
}

TEST_F(DeviceTest, RenderToTextureKeepsRowZeroAtTheTop) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff0000ff, 1.0f, 0);
  FillPixels(device_, 0, 0, 4, 1, 0xffff0000);  // top row red
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[0], 0xffff0000u);
  EXPECT_EQ(pixels[12], 0xff0000ffu);
  // Sample it back 1:1 into another target: still red on top.
  std::shared_ptr<Texture> drawn = target_;
  UseTarget(4, 4, FMT_A8R8G8B8);
  TextureOnly(device_);
  device_->SetTexture(0, drawn);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 3.5f, 0xffffffff);
  pixels = ReadTarget(device_);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(pixels[x], 0xffff0000u);
    EXPECT_EQ(pixels[12 + x], 0xff0000ffu);
  }
  // And the same through the back buffer.
  ASSERT_EQ(device_->SetRenderTarget(device_->GetBackBuffer(), nullptr), 0);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 3.5f, 0xffffffff);
  pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[0], 0xffff0000u);
  EXPECT_EQ(pixels[3 * 64], 0xff0000ffu);
}

TEST_F(DeviceTest, CubeTextureFacesAreSampledByDirection) {
  UseTarget(3, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  auto cube = device_->CreateCubeTexture(2, 1, 0, FMT_A8R8G8B8, POOL_MANAGED);
  ASSERT_NE(cube, nullptr);
  const uint32_t colours[6] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff00ffff, 0xffff00ff};
  for (uint32_t face = 0; face < 6; ++face) {
    LockedRect locked;
    ASSERT_EQ(cube->LockRect(static_cast<CubeFace>(face), 0, &locked, nullptr, 0), 0);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) + y * locked.pitch)[x] = colours[face];
    ASSERT_EQ(cube->UnlockRect(static_cast<CubeFace>(face), 0), 0);
  }
  device_->SetTexture(0, cube);
  // Three points with 3-D coordinates: +X, -Y, -Z.
  struct Vertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v, w;
  };
  Vertex points[3] = {{0, 0, 0, 1, 0xffffffff, 1, 0, 0},
                      {1, 0, 0, 1, 0xffffffff, 0, -1, 0},
                      {2, 0, 0, 1, 0xffffffff, 0, 0, -1}};
  device_->SetFVF(FVF_XYZRHW | FVF_DIFFUSE | FVF_TEX1 | FvfTexCoordSize3(0));
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_POINTLIST, 3, points, sizeof(Vertex)), 0);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{colours[0], colours[3], colours[5]}));
}

TEST_F(DeviceTest, PartialLocksKeepTheRestOfTheLevel) {
  UseTarget(4, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  PointSampling(device_);
  auto texture = MakeTexture32(device_, 4, 1, FMT_A8R8G8B8, {0xff111111, 0xff222222, 0xff333333, 0xff444444});
  Rect rect{2, 0, 3, 1};
  LockedRect locked;
  ASSERT_EQ(texture->LockRect(0, &locked, &rect, 0), 0);
  *static_cast<uint32_t*>(locked.bits) = 0xffabcdef;
  EXPECT_NE(texture->LockRect(0, &locked, nullptr, 0), 0);  // already locked
  ASSERT_EQ(texture->UnlockRect(0), 0);
  EXPECT_NE(texture->UnlockRect(0), 0);  // not locked
  device_->SetTexture(0, texture);
  DrawQuad(device_, -0.5f, -0.5f, 3.5f, 0.5f, 0xffffffff);
  EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0xff111111, 0xff222222, 0xffabcdef, 0xff444444}));
  // Render targets cannot be locked; out-of-range rectangles are refused.
  EXPECT_NE(target_->LockRect(0, &locked, nullptr, 0), 0);
  Rect outside{3, 0, 5, 1};
  EXPECT_NE(texture->LockRect(0, &locked, &outside, 0), 0);
}

TEST_F(DeviceTest, DynamicTextureTakesNewContentsEveryFrame) {
  UseTarget(2, 1, FMT_A8R8G8B8);
  TextureOnly(device_);
  PointSampling(device_);
  auto texture = device_->CreateTexture(2, 1, 1, USAGE_DYNAMIC, FMT_X8R8G8B8, POOL_DEFAULT);
  ASSERT_NE(texture, nullptr);
  device_->SetTexture(0, texture);
  for (uint32_t frame = 1; frame <= 3; ++frame) {
    LockedRect locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, LOCK_DISCARD), 0);
    uint32_t* row = static_cast<uint32_t*>(locked.bits);
    row[0] = frame * 0x10;
    row[1] = frame * 0x1000;
    ASSERT_EQ(texture->UnlockRect(0), 0);
    DrawQuad(device_, -0.5f, -0.5f, 1.5f, 0.5f, 0xffffffff);
    EXPECT_EQ(ReadTarget(device_), (std::vector<uint32_t>{0xff000000 | frame * 0x10, 0xff000000 | frame * 0x1000}));
  }
}

// ---------------------------------------------------------------------------
// Depth, stencil, raster states
// ---------------------------------------------------------------------------

TEST_F(DeviceTest, StencilCountsDepthFailuresThenTestsEqualZero) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL, 0xff000000, 1.0f, 0);
  device_->SetRenderState(RS_ZENABLE, ZB_TRUE);
  device_->SetRenderState(RS_ZFUNC, CMP_LESS);
  // An occluder in the left half, near (z 0.2).
  FillPixels(device_, 0, 0, 4, 8, 0xff202020, 0.2f);
  // A volume at z 0.5 over the top half: no colour, no depth, stencil +1
  // where the depth test fails (behind the occluder).
  device_->SetRenderState(RS_ZWRITEENABLE, 0);
  device_->SetRenderState(RS_COLORWRITEENABLE, 0);
  device_->SetRenderState(RS_STENCILENABLE, 1);
  device_->SetRenderState(RS_STENCILFUNC, CMP_ALWAYS);
  device_->SetRenderState(RS_STENCILZFAIL, STENCILOP_INCR);
  FillPixels(device_, 0, 0, 8, 4, 0xffffffff, 0.5f);
  // Twice over one quarter: that quarter counts 2.
  FillPixels(device_, 0, 0, 2, 2, 0xffffffff, 0.5f);
  // Light where the count is 0.
  device_->SetRenderState(RS_COLORWRITEENABLE, 15);
  device_->SetRenderState(RS_ZENABLE, ZB_FALSE);
  device_->SetRenderState(RS_STENCILZFAIL, STENCILOP_KEEP);
  device_->SetRenderState(RS_STENCILFUNC, CMP_EQUAL);
  device_->SetRenderState(RS_STENCILREF, 0);
  FillPixels(device_, 0, 0, 8, 8, 0xffff0000);
  device_->SetRenderState(RS_STENCILREF, 2);
  FillPixels(device_, 0, 0, 8, 8, 0xff00ff00);
  auto pixels = ReadTarget(device_);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t expected = (x < 4 && y < 4) ? 0xff202020 : 0xffff0000;  // count 1: left top stays dark
      if (x < 2 && y < 2) expected = 0xff00ff00;                       // count 2
      EXPECT_EQ(pixels[y * 8 + x], expected) << x << "," << y;
    }
}

TEST_F(DeviceTest, DepthFunctionAndWrites) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->SetRenderState(RS_ZENABLE, ZB_TRUE);  // default function LESSEQUAL
  device_->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
  FillPixels(device_, 0, 0, 4, 4, 0xffff0000, 0.5f);
  FillPixels(device_, 0, 0, 4, 4, 0xff00ff00, 0.7f);  // behind: hidden
  EXPECT_EQ(ReadTarget(device_)[5], 0xffff0000u);
  FillPixels(device_, 0, 0, 4, 4, 0xff0000ff, 0.5f);  // equal passes LESSEQUAL
  EXPECT_EQ(ReadTarget(device_)[5], 0xff0000ffu);
  device_->SetRenderState(RS_ZWRITEENABLE, 0);
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff, 0.2f);  // drawn, depth stays 0.5
  FillPixels(device_, 0, 0, 4, 4, 0xff00ff00, 0.4f);
  EXPECT_EQ(ReadTarget(device_)[5], 0xff00ff00u);
  // Without a depth buffer nothing is tested.
  device_->SetRenderTarget(nullptr, nullptr);
  FillPixels(device_, 0, 0, 4, 4, 0xff123456, 0.9f);
  EXPECT_EQ(ReadTarget(device_)[5], 0xff123456u);
  EXPECT_NE(device_->Clear(0, nullptr, CLEAR_ZBUFFER, 0, 1.0f, 0), 0);
}

TEST_F(DeviceTest, EachDepthFormatTestsDepth) {
  for (Format format : {FMT_D16, FMT_D24X8, FMT_D32, FMT_D24S8, FMT_D16_LOCKABLE}) {
    SCOPED_TRACE(FormatName(format));
    auto colour = device_->CreateTexture(4, 4, 1, USAGE_RENDERTARGET, FMT_X8R8G8B8, POOL_DEFAULT);
    auto depth = device_->CreateDepthStencilSurface(4, 4, format);
    ASSERT_NE(depth, nullptr);
    ASSERT_EQ(device_->SetRenderTarget(colour->GetSurfaceLevel(0), depth), 0);
    DiffuseOnly();
    device_->SetRenderState(RS_ZENABLE, ZB_TRUE);
    device_->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
    FillPixels(device_, 0, 0, 4, 4, 0xffff0000, 0.25f);
    FillPixels(device_, 0, 0, 4, 4, 0xff00ff00, 0.75f);
    EXPECT_EQ(ReadTarget(device_)[5], 0xffff0000u);
    bool stencil = format == FMT_D24S8;
    EXPECT_EQ(device_->Clear(0, nullptr, CLEAR_STENCIL, 0, 1.0f, 0) == 0, stencil);
  }
  EXPECT_EQ(device_->CreateDepthStencilSurface(4, 4, FMT_D15S1), nullptr);
}

TEST_F(DeviceTest, CullingJudgesWindingOnScreen) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  // Clockwise on screen (y down): (0,0) -> (4,0) -> (0,4); counter-clockwise
  // covers the other half.
  ScreenVertex cw[3] = {{-0.5f, -0.5f, 0, 1, 0xffff0000, 0, 0},
                        {3.5f, -0.5f, 0, 1, 0xffff0000, 0, 0},
                        {-0.5f, 3.5f, 0, 1, 0xffff0000, 0, 0}};
  ScreenVertex ccw[3] = {{3.5f, -0.5f, 0, 1, 0xff00ff00, 0, 0},
                         {-0.5f, 3.5f, 0, 1, 0xff00ff00, 0, 0},
                         {3.5f, 3.5f, 0, 1, 0xff00ff00, 0, 0}};
  auto draw = [&](uint32_t cull) {
    device_->SetRenderState(RS_CULLMODE, cull);
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    device_->SetFVF(kFvfScreenVertex);
    device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1, cw, sizeof(ScreenVertex));
    device_->SetFVF(kFvfScreenVertex);
    device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1, ccw, sizeof(ScreenVertex));
    auto pixels = ReadTarget(device_);
    return std::make_pair(pixels[0], pixels[15]);  // top-left (cw), bottom-right (ccw)
  };
  EXPECT_EQ(draw(CULL_CCW), std::make_pair(0xffff0000u, 0xff000000u));  // the default keeps clockwise
  EXPECT_EQ(draw(CULL_CW), std::make_pair(0xff000000u, 0xff00ff00u));
  EXPECT_EQ(draw(CULL_NONE), std::make_pair(0xffff0000u, 0xff00ff00u));
}

TEST_F(DeviceTest, WireframeFlatShadingAndColourMask) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  device_->SetRenderState(RS_FILLMODE, FILL_WIREFRAME);
  FillPixels(device_, 1, 1, 7, 7, 0xffffffff);
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[4 * 8 + 3], 0xff000000u) << "interior stays empty";
  int lit = 0;
  for (uint32_t p : pixels) lit += p == 0xffffffff;
  EXPECT_GT(lit, 12);
  // Flat shading takes the first vertex's colour.
  device_->SetRenderState(RS_FILLMODE, FILL_SOLID);
  device_->SetRenderState(RS_SHADEMODE, SHADE_FLAT);
  ScreenVertex tri[3] = {{-0.5f, -0.5f, 0, 1, 0xffff0000, 0, 0},
                         {7.5f, -0.5f, 0, 1, 0xff00ff00, 0, 0},
                         {-0.5f, 7.5f, 0, 1, 0xff0000ff, 0, 0}};
  device_->SetFVF(kFvfScreenVertex);
  device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex));
  pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[0], 0xffff0000u);
  EXPECT_EQ(pixels[5], 0xffff0000u);
  EXPECT_EQ(pixels[5 * 8], 0xffff0000u);
  // Gouraud interpolates.
  device_->SetRenderState(RS_SHADEMODE, SHADE_GOURAUD);
  device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex));
  EXPECT_NE(ReadTarget(device_)[5], 0xffff0000u);
  // Colour writes limited to green and alpha.
  device_->Clear(0, nullptr, CLEAR_TARGET, 0x00000000, 1.0f, 0);
  device_->SetRenderState(RS_COLORWRITEENABLE, COLORWRITE_GREEN | COLORWRITE_ALPHA);
  FillPixels(device_, 0, 0, 8, 8, 0x80ffffff);
  EXPECT_EQ(ReadTarget(device_)[9], 0x8000ff00u);
  // A clear ignores the mask.
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff102030, 1.0f, 0);
  EXPECT_EQ(ReadTarget(device_)[9], 0xff102030u);
}

TEST_F(DeviceTest, ClearStaysInsideViewportAndRectangles) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  Viewport viewport{2, 1, 4, 3, 0.0f, 1.0f};
  ASSERT_EQ(device_->SetViewport(viewport), 0);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xffff0000, 1.0f, 0);
  Rect rect{0, 0, 3, 8};  // overlaps the viewport in x 2..3
  device_->Clear(1, &rect, CLEAR_TARGET, 0xff00ff00, 1.0f, 0);
  auto pixels = ReadTarget(device_);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t expected = 0xff000000;
      if (x >= 2 && x < 6 && y >= 1 && y < 4) expected = x < 3 ? 0xff00ff00 : 0xffff0000;
      EXPECT_EQ(pixels[y * 8 + x], expected) << x << "," << y;
    }
  // A viewport outside the target is refused.
  EXPECT_NE(device_->SetViewport(Viewport{6, 0, 4, 4, 0.0f, 1.0f}), 0);
}

TEST_F(DeviceTest, ViewportPlacesPretransformedVerticesRelativeToItsCorner) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  device_->SetViewport(Viewport{4, 4, 4, 4, 0.0f, 1.0f});
  // Screen pixels 3..5: pixel 3 lies outside the viewport and is clipped.
  FillPixels(device_, 3, 3, 6, 6, 0xffffffff);
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[3 * 8 + 3], 0xff000000u);
  EXPECT_EQ(pixels[4 * 8 + 4], 0xffffffffu);
  EXPECT_EQ(pixels[5 * 8 + 5], 0xffffffffu);
  EXPECT_EQ(pixels[6 * 8 + 6], 0xff000000u);
}

TEST_F(DeviceTest, LineStripsAndLists) {
  UseTarget(16, 12, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  // Right along row 2 from x 2 to 10, then down column 10 to row 8.
  ScreenVertex strip[3] = {{2, 2, 0, 1, 0xff00ff00, 0, 0}, {10, 2, 0, 1, 0xff00ff00, 0, 0},
                           {10, 8, 0, 1, 0xff00ff00, 0, 0}};
  device_->SetFVF(kFvfScreenVertex);
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_LINESTRIP, 2, strip, sizeof(ScreenVertex)), 0);
  auto pixels = ReadTarget(device_);
  auto at = [&](int x, int y) { return pixels[y * 16 + x]; };
  for (int x = 3; x < 10; ++x) {
    EXPECT_EQ(at(x, 2), 0xff00ff00u) << x;
    EXPECT_EQ(at(x, 1), 0xff000000u) << x;
    EXPECT_EQ(at(x, 3), 0xff000000u) << x;
  }
  for (int y = 3; y < 8; ++y) {
    EXPECT_EQ(at(10, y), 0xff00ff00u) << y;
    EXPECT_EQ(at(9, y), 0xff000000u) << y;
    EXPECT_EQ(at(11, y), 0xff000000u) << y;
  }
  int lit = 0;
  for (uint32_t p : pixels) lit += p != 0xff000000;
  EXPECT_GE(lit, 13);
  EXPECT_LE(lit, 15);
  // A line list of two separate lines.
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  ScreenVertex list[4] = {{1, 10, 0, 1, 0xffff0000, 0, 0}, {6, 10, 0, 1, 0xffff0000, 0, 0},
                          {8, 10, 0, 1, 0xff0000ff, 0, 0}, {14, 10, 0, 1, 0xff0000ff, 0, 0}};
  device_->SetFVF(kFvfScreenVertex);
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_LINELIST, 2, list, sizeof(ScreenVertex)), 0);
  pixels = ReadTarget(device_);
  EXPECT_EQ(at(3, 10), 0xffff0000u);
  EXPECT_EQ(at(7, 10), 0xff000000u);
  EXPECT_EQ(at(11, 10), 0xff0000ffu);
}

// ---------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------

// Counts that come from files: a draw past the bound buffers, or one whose
// byte size wraps 32 bits, is refused before anything is read or grown
// (a wrapped size once grew the memory ring by doubling until it was 0).
TEST_F(DeviceTest, DrawsPastTheirBuffersOrBeyondTheSizeLimitAreRefused) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  auto vb = device_->CreateVertexBuffer(4 * sizeof(ScreenVertex), 0, kFvfScreenVertex, POOL_MANAGED);
  auto ib = device_->CreateIndexBuffer(6 * 2, 0, FMT_INDEX16, POOL_MANAGED);
  ASSERT_NE(vb, nullptr);
  ASSERT_NE(ib, nullptr);
  device_->SetFVF(kFvfScreenVertex);
  device_->SetStreamSource(0, vb, sizeof(ScreenVertex));
  device_->SetIndices(ib, 0);
  struct Indexed {
    uint32_t start_index, triangles;
    int result;
  };
  for (Indexed c : {Indexed{0, 2, 0}, Indexed{3, 1, 0}, Indexed{4, 1, kErrInvalidCall}, Indexed{0, 3, kErrInvalidCall},
                    Indexed{1000, 1, kErrInvalidCall}, Indexed{0xFFFFFFF0u, 2, kErrInvalidCall},
                    Indexed{0, 0x55555556u, kErrInvalidCall}})
    EXPECT_EQ(device_->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 4, c.start_index, c.triangles), c.result)
        << c.start_index << " " << c.triangles;
  EXPECT_EQ(device_->DrawPrimitive(PT_TRIANGLEFAN, 0, 2), 0);
  EXPECT_EQ(device_->DrawPrimitive(PT_TRIANGLEFAN, 1, 2), kErrInvalidCall);
  EXPECT_EQ(device_->DrawPrimitive(PT_POINTLIST, 0xFFFFFFFFu, 2), kErrInvalidCall);

  // From memory: a vertex count whose byte size is past 2^31 in 32 bits,
  // and one that wraps to a small size; the few vertices at hand are never
  // read past.
  ScreenVertex v[3] = {};
  const uint32_t wraps_big = 0x80000001u / 3 + 1;                      // x3 vertices x stride: > 2^31
  const uint32_t wraps_small = static_cast<uint32_t>((uint64_t{1} << 32) / (3 * sizeof(ScreenVertex)) + 1);
  for (uint32_t triangles : {wraps_big, wraps_small, 0xFFFFFFFFu})
    EXPECT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLELIST, triangles, v, sizeof(ScreenVertex)), kErrOutOfMemory)
        << triangles;
  const uint16_t indices[3] = {0, 1, 2};
  EXPECT_EQ(device_->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 0x80000000u, 1, indices, FMT_INDEX16, v,
                                            sizeof(ScreenVertex)),
            kErrOutOfMemory);
  EXPECT_EQ(device_->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 3, wraps_small, indices, FMT_INDEX16, v,
                                            sizeof(ScreenVertex)),
            kErrOutOfMemory);
  // And ordinary draws still work afterwards.
  EXPECT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1, v, sizeof(ScreenVertex)), 0);
  EXPECT_EQ(device_->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 3, 1, indices, FMT_INDEX16, v, sizeof(ScreenVertex)),
            0);
}

TEST_F(DeviceTest, VertexAndIndexBuffersWithDiscardAndNoOverwrite) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  auto vb = device_->CreateVertexBuffer(8 * sizeof(ScreenVertex), USAGE_DYNAMIC | USAGE_WRITEONLY, kFvfScreenVertex,
                                        POOL_DEFAULT);
  auto ib = device_->CreateIndexBuffer(6 * 2, USAGE_WRITEONLY, FMT_INDEX16, POOL_DEFAULT);
  ASSERT_NE(vb, nullptr);
  ASSERT_NE(ib, nullptr);
  EXPECT_EQ(vb->GetDesc().size, 8 * sizeof(ScreenVertex));
  auto quad = [](ScreenVertex* v, float x0, float y0, float x1, float y1, uint32_t c) {
    v[0] = {x0, y0, 0, 1, c, 0, 0};
    v[1] = {x1, y0, 0, 1, c, 0, 0};
    v[2] = {x1, y1, 0, 1, c, 0, 0};
    v[3] = {x0, y1, 0, 1, c, 0, 0};
  };
  void* data = nullptr;
  ASSERT_EQ(ib->Lock(0, 0, &data, 0), 0);
  const uint16_t indices[6] = {0, 2, 1, 0, 3, 2};
  std::memcpy(data, indices, sizeof indices);
  ASSERT_EQ(ib->Unlock(), 0);
  // First quad with a discarding lock of the front half.
  ASSERT_EQ(vb->Lock(0, 4 * sizeof(ScreenVertex), &data, LOCK_DISCARD), 0);
  quad(static_cast<ScreenVertex*>(data), -0.5f, -0.5f, 3.5f, 3.5f, 0xffff0000);
  EXPECT_NE(vb->Lock(0, 0, &data, 0), 0);  // no second lock
  ASSERT_EQ(vb->Unlock(), 0);
  device_->SetFVF(kFvfScreenVertex);
  device_->SetStreamSource(0, vb, sizeof(ScreenVertex));
  device_->SetIndices(ib, 0);
  ASSERT_EQ(device_->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 4, 0, 2), 0);
  // Second quad appended behind it without waiting, drawn with base vertex 4.
  ASSERT_EQ(vb->Lock(4 * sizeof(ScreenVertex), 4 * sizeof(ScreenVertex), &data, LOCK_NOOVERWRITE), 0);
  quad(static_cast<ScreenVertex*>(data), 3.5f, 3.5f, 7.5f, 7.5f, 0xff0000ff);
  ASSERT_EQ(vb->Unlock(), 0);
  device_->SetIndices(ib, 4);
  ASSERT_EQ(device_->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 4, 0, 2), 0);
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[1 * 8 + 1], 0xffff0000u);
  EXPECT_EQ(pixels[6 * 8 + 6], 0xff0000ffu);
  EXPECT_EQ(pixels[1 * 8 + 6], 0xff000000u);
  // Non-indexed from the buffer: the second quad as a fan from vertex 4.
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  ASSERT_EQ(device_->DrawPrimitive(PT_TRIANGLEFAN, 4, 2), 0);
  pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[1 * 8 + 1], 0xff000000u);
  EXPECT_EQ(pixels[6 * 8 + 6], 0xff0000ffu);
  // Out-of-range locks are refused.
  EXPECT_NE(vb->Lock(7 * sizeof(ScreenVertex), 2 * sizeof(ScreenVertex), &data, 0), 0);
}

TEST_F(DeviceTest, IndexedDrawFromMemoryHonoursMinIndex) {
  UseTarget(8, 8, FMT_A8R8G8B8);
  DiffuseOnly();
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  // Vertices 0..3 are a decoy; the indices name 4..7 only.
  ScreenVertex v[8] = {{0, 0, 0, 1, 0xffffffff, 0, 0},       {0, 0, 0, 1, 0xffffffff, 0, 0},
                       {0, 0, 0, 1, 0xffffffff, 0, 0},       {0, 0, 0, 1, 0xffffffff, 0, 0},
                       {1.5f, 1.5f, 0, 1, 0xff00ff00, 0, 0}, {5.5f, 1.5f, 0, 1, 0xff00ff00, 0, 0},
                       {5.5f, 5.5f, 0, 1, 0xff00ff00, 0, 0}, {1.5f, 5.5f, 0, 1, 0xff00ff00, 0, 0}};
  const uint16_t indices[6] = {4, 6, 5, 4, 7, 6};
  device_->SetFVF(kFvfScreenVertex);
  ASSERT_EQ(device_->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 4, 4, 2, indices, FMT_INDEX16, v, sizeof(ScreenVertex)), 0);
  auto pixels = ReadTarget(device_);
  EXPECT_EQ(pixels[3 * 8 + 3], 0xff00ff00u);
  EXPECT_EQ(pixels[0], 0xff000000u);
}

TEST_F(DeviceTest, ManyDrawsFromMemoryWrapTheStreamingBuffers) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  // 60 draws of 3,000 vertices (84 KB each, 5 MB in all) and of 20,000
  // indices (1.2 MB) run both streaming buffers round; only the first
  // triangle of each covers anything.
  std::vector<ScreenVertex> vertices(3000, ScreenVertex{0, 0, 0, 1, 0, 0, 0});
  std::vector<uint16_t> indices(20000, 0);
  indices[1] = 1;
  indices[2] = 2;
  for (int i = 0; i < 60; ++i) {
    uint32_t colour = 0xff000000 | static_cast<uint32_t>(i);
    vertices[0] = {-0.5f, -0.5f, 0, 1, colour, 0, 0};
    vertices[1] = {7.5f, -0.5f, 0, 1, colour, 0, 0};
    vertices[2] = {-0.5f, 7.5f, 0, 1, colour, 0, 0};
    device_->SetFVF(kFvfScreenVertex);
    ASSERT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1000, vertices.data(), sizeof(ScreenVertex)), 0);
    EXPECT_EQ(ReadTarget(device_)[0], colour);
    vertices[0].color = vertices[1].color = vertices[2].color = colour | 0x100;
    device_->SetFVF(kFvfScreenVertex);
    ASSERT_EQ(device_->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 3000, 6666, indices.data(), FMT_INDEX16,
                                              vertices.data(), sizeof(ScreenVertex)),
              0);
    EXPECT_EQ(ReadTarget(device_)[0], colour | 0x100);
  }
  // A draw larger than the whole buffer still works.
  std::vector<ScreenVertex> big(300000, ScreenVertex{-0.5f, -0.5f, 0, 1, 0xff00ff00, 0, 0});
  big[1] = {3.5f, -0.5f, 0, 1, 0xff00ff00, 0, 0};
  big[2] = {-0.5f, 3.5f, 0, 1, 0xff00ff00, 0, 0};
  device_->SetFVF(kFvfScreenVertex);
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLELIST, 100000, big.data(), sizeof(ScreenVertex)), 0);
  EXPECT_EQ(ReadTarget(device_)[0], 0xff00ff00u);
}

// ---------------------------------------------------------------------------
// The state cache at work
// ---------------------------------------------------------------------------

TEST_F(DeviceTest, RepeatingADrawWithUnchangedStatesIssuesOnlyTheDraw) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  auto vb = device_->CreateVertexBuffer(4 * sizeof(ScreenVertex), 0, kFvfScreenVertex, POOL_MANAGED);
  void* data = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), 0);
  ScreenVertex quad[4] = {{-0.5f, -0.5f, 0, 1, 0xffff0000, 0, 0}, {3.5f, -0.5f, 0, 1, 0xffff0000, 0, 0},
                          {-0.5f, 3.5f, 0, 1, 0xffff0000, 0, 0}, {3.5f, 3.5f, 0, 1, 0xffff0000, 0, 0}};
  std::memcpy(data, quad, sizeof quad);
  vb->Unlock();
  device_->SetFVF(kFvfScreenVertex);
  device_->SetStreamSource(0, vb, sizeof(ScreenVertex));
  device_->SetRenderState(RS_ALPHABLENDENABLE, 1);
  device_->SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  device_->SetRenderState(RS_DESTBLEND, BLEND_INVSRCALPHA);
  ASSERT_EQ(device_->DrawPrimitive(PT_TRIANGLESTRIP, 0, 2), 0);
  uint64_t programs = ProgramBuildCount();
  uint64_t before = GlCallCount();
  // Setting states to what they are, or away and back, changes nothing GL sees.
  device_->SetRenderState(RS_ALPHABLENDENABLE, 1);
  device_->SetRenderState(RS_SRCBLEND, BLEND_ONE);
  device_->SetRenderState(RS_SRCBLEND, BLEND_SRCALPHA);
  device_->SetRenderState(RS_ALPHATESTENABLE, 1);
  device_->SetRenderState(RS_ALPHATESTENABLE, 0);
  device_->SetTextureStageState(0, TSS_COLORARG1, TA_DIFFUSE);
  device_->SetTextureStageState(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  device_->SetTextureStageState(0, TSS_ADDRESSU, TADDRESS_WRAP);
  EXPECT_EQ(GlCallCount(), before);  // setting states never calls GL
  ASSERT_EQ(device_->DrawPrimitive(PT_TRIANGLESTRIP, 0, 2), 0);
  EXPECT_EQ(GlCallCount(), before + 1);  // the draw itself
  // A real change costs its state call(s) and the draw.
  device_->SetRenderState(RS_DESTBLEND, BLEND_ONE);
  ASSERT_EQ(device_->DrawPrimitive(PT_TRIANGLESTRIP, 0, 2), 0);
  EXPECT_EQ(GlCallCount(), before + 3);
  EXPECT_EQ(ProgramBuildCount(), programs);
}

TEST_F(DeviceTest, ProgramsAreCachedByTheShadingStates) {
  UseTarget(4, 4, FMT_A8R8G8B8);
  DiffuseOnly();
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff);
  uint64_t programs = ProgramBuildCount();
  // An argument the op does not read does not make a new program.
  device_->SetTextureStageState(0, TSS_COLORARG2, TA_TFACTOR);
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff);
  EXPECT_EQ(ProgramBuildCount(), programs);
  // A new op does, once.
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG2);
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff);
  EXPECT_EQ(ProgramBuildCount(), programs + 1);
  EXPECT_EQ(ReadTarget(device_)[0], 0xffffffffu);  // TFACTOR default white
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff);
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG2);
  FillPixels(device_, 0, 0, 4, 4, 0xffffffff);
  EXPECT_EQ(ProgramBuildCount(), programs + 1);
}

TEST_F(DeviceTest, BadCallsAreRefused) {
  EXPECT_NE(device_->SetRenderState(static_cast<RenderStateType>(172), 0), 0);
  EXPECT_NE(device_->SetTextureStageState(8, TSS_COLOROP, TOP_ADD), 0);
  EXPECT_NE(device_->SetTextureStageState(0, static_cast<TextureStageStateType>(29), 0), 0);
  EXPECT_NE(device_->SetTexture(8, nullptr), 0);
  EXPECT_EQ(device_->CreateTexture(0, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED), nullptr);
  EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, FMT_P8, POOL_MANAGED), nullptr);
  EXPECT_EQ(device_->CreateVertexBuffer(0, 0, kFvfScreenVertex, POOL_MANAGED), nullptr);
  EXPECT_EQ(device_->CreateIndexBuffer(16, 0, FMT_A8R8G8B8, POOL_MANAGED), nullptr);
  // No stream set, no FVF with a position, a bad primitive type.
  EXPECT_NE(device_->DrawPrimitive(PT_TRIANGLELIST, 0, 1), 0);
  device_->SetFVF(FVF_DIFFUSE);
  ScreenVertex v[3] = {};
  EXPECT_NE(device_->DrawPrimitiveUP(PT_TRIANGLELIST, 1, v, sizeof(ScreenVertex)), 0);
  device_->SetFVF(kFvfScreenVertex);
  EXPECT_NE(device_->DrawPrimitiveUP(static_cast<PrimitiveType>(9), 1, v, sizeof(ScreenVertex)), 0);
  EXPECT_EQ(device_->DrawPrimitiveUP(PT_TRIANGLELIST, 0, v, sizeof(ScreenVertex)), 0);  // nothing to draw
  // A depth surface is not a colour target, a texture without the usage neither.
  auto depth = device_->CreateDepthStencilSurface(4, 4, FMT_D16);
  EXPECT_NE(device_->SetRenderTarget(depth, nullptr), 0);
  auto plain = device_->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED);
  EXPECT_NE(device_->SetRenderTarget(plain->GetSurfaceLevel(0), nullptr), 0);
  EXPECT_EQ(plain->GetSurfaceLevel(1), nullptr);
  EXPECT_EQ(device_->BeginScene(), 0);
  EXPECT_NE(device_->BeginScene(), 0);
  EXPECT_EQ(device_->EndScene(), 0);
  EXPECT_NE(device_->EndScene(), 0);
}

TEST(DeviceLife, ResourcesOutlivingTheirDeviceKeepOnlyTheirCpuSide) {
  auto device = CreateHeadlessDevice(16, 16);
  ASSERT_NE(device, nullptr);
  auto texture = device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED);
  auto vb = device->CreateVertexBuffer(64, 0, kFvfScreenVertex, POOL_MANAGED);
  auto surface = texture->GetSurfaceLevel(0);
  device.reset();
  LockedRect locked;
  EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), 0);
  EXPECT_EQ(texture->UnlockRect(0), 0);
  void* data = nullptr;
  EXPECT_NE(vb->Lock(0, 0, &data, 0), 0);
  EXPECT_EQ(surface->GetDesc().width, 4u);
}

TEST(DeviceLife, TwoDevicesEachDrawInTheirOwnContext) {
  auto a = CreateHeadlessDevice(8, 8);
  auto b = CreateHeadlessDevice(8, 8);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  for (int round = 0; round < 3; ++round) {
    for (Device* device : {a.get(), b.get()}) {
      uint32_t colour = device == a.get() ? 0xffff0000 : 0xff0000ff;
      device->SetRenderState(RS_ZENABLE, ZB_FALSE);
      device->SetRenderState(RS_CULLMODE, CULL_NONE);
      device->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
      device->SetTextureStageState(0, TSS_COLORARG1, TA_DIFFUSE);
      device->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
      render_test::FillPixels(device, 0, 0, 4 + round, 8, colour);
    }
    for (Device* device : {a.get(), b.get()}) {
      uint32_t colour = device == a.get() ? 0xffff0000 : 0xff0000ff;
      auto pixels = ReadTarget(device);
      EXPECT_EQ(pixels[3 + round], colour);
      EXPECT_EQ(pixels[4 + round], 0xff000000u);
    }
  }
}

}  // namespace

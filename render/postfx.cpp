// The radial blur: each pass draws one quad over a work texture whose two
// texture stages read the previous pass's picture, once zoomed towards the
// centre and once as it is, so the blur lengthens pass by pass. The work
// textures alternate by what the pass reads rather than by the pass's
// number, so a caller may hand in one of them as the source (the beams do)
// and still no draw samples the texture it writes.
#include "render/postfx.h"

#include <memory>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace render {
namespace {

// Pre-transformed vertex with two coordinate sets (FVF_XYZRHW |
// FVF_DIFFUSE | FVF_TEX2).
struct BlurVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u0, v0, u1, v1;
};
constexpr uint32_t kFvfBlurVertex = FVF_XYZRHW | FVF_DIFFUSE | FVF_TEX2;
static_assert(sizeof(BlurVertex) == 36);

const uint16_t kQuadIndices[6] = {0, 2, 1, 0, 3, 2};

bool IsRenderTexture(TextureId id) {
  std::shared_ptr<Texture> texture = GetTextureById(id);
  return texture && (texture->Usage() & USAGE_RENDERTARGET) != 0;
}

// States shared by every full-target draw here: no depth, no culling,
// nothing an effect may have left that would change a copy.
void PlainQuadStates() {
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  SetRenderStateCached(RS_ZWRITEENABLE, 0);
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
  SetRenderStateCached(RS_ALPHATESTENABLE, 0);
  SetRenderStateCached(RS_STENCILENABLE, 0);
  SetRenderStateCached(RS_FOGENABLE, 0);
  SetRenderStateCached(RS_CLIPPLANEENABLE, 0);
  SetRenderStateCached(RS_BLENDOP, BLENDOP_ADD);
  SetRenderStateCached(RS_COLORWRITEENABLE, COLORWRITE_RED | COLORWRITE_GREEN | COLORWRITE_BLUE | COLORWRITE_ALPHA);
}

void LinearClamp(uint32_t stage) {
  SetStageStateCached(stage, TSS_ADDRESSU, TADDRESS_CLAMP);
  SetStageStateCached(stage, TSS_ADDRESSV, TADDRESS_CLAMP);
  SetStageStateCached(stage, TSS_MINFILTER, TEXF_LINEAR);
  SetStageStateCached(stage, TSS_MAGFILTER, TEXF_LINEAR);
  SetStageStateCached(stage, TSS_MIPFILTER, TEXF_NONE);
  SetStageStateCached(stage, TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE);
}

// Stage 0 = texture x colour (coordinate set 0); stage 1 = stage 0 +
// colour x texture (coordinate set 1).
void BlurStageStates() {
  SetStageStateCached(0, TSS_COLOROP, TOP_MODULATE);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_COLORARG2, TA_DIFFUSE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_DIFFUSE);
  SetStageStateCached(0, TSS_TEXCOORDINDEX, 0);
  LinearClamp(0);
  SetStageStateCached(1, TSS_COLOROP, TOP_MULTIPLYADD);
  SetStageStateCached(1, TSS_COLORARG0, TA_CURRENT);
  SetStageStateCached(1, TSS_COLORARG1, TA_DIFFUSE);
  SetStageStateCached(1, TSS_COLORARG2, TA_TEXTURE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(1, TSS_ALPHAARG1, TA_CURRENT);
  SetStageStateCached(1, TSS_TEXCOORDINDEX, 1);
  LinearClamp(1);
  SetStageStateCached(2, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(2, TSS_ALPHAOP, TOP_DISABLE);
}

// Stage 1 off and both stages on coordinate set 0 again (the defaults),
// as other drawing expects to find them.
void RestoreStages(Device* device) {
  device->SetTexture(0, nullptr);
  device->SetTexture(1, nullptr);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  SetStageStateCached(1, TSS_COLORARG0, TA_TEMP);
  SetStageStateCached(1, TSS_TEXCOORDINDEX, 0);
  SetStageStateCached(0, TSS_TEXCOORDINDEX, 0);
}

// One blur pass into the current target.
void BlurPass(Device* device, const std::shared_ptr<BaseTexture>& read, float zoom, uint32_t colour) {
  device->SetTexture(0, read);
  device->SetTexture(1, read);
  device->SetFVF(kFvfBlurVertex);
  // Corners on the pixel edges: with zoom 0 each texel lands on its pixel.
  const float l = -0.5f, t = -0.5f, r = RenderTargetWidth() - 0.5f, b = RenderTargetHeight() - 0.5f;
  const float lo = zoom, hi = 1.0f - zoom;
  const BlurVertex quad[4] = {
      {l, t, 0.0f, 1.0f, colour, lo, lo, 0.0f, 0.0f},
      {r, t, 0.0f, 1.0f, colour, hi, lo, 1.0f, 0.0f},
      {r, b, 0.0f, 1.0f, colour, hi, hi, 1.0f, 1.0f},
      {l, b, 0.0f, 1.0f, colour, lo, hi, 0.0f, 1.0f},
  };
  device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kQuadIndices, FMT_INDEX16, quad, sizeof(BlurVertex));
}

// The texture over the whole current target, white diffuse, blended as
// the caller set.
// The whole target, texel centres on pixel centres, in one colour.
void FullTargetQuad(Device* device, uint32_t diffuse) {
  device->SetFVF(kFvfScreenVertex);
  const float l = -0.5f, t = -0.5f, r = RenderTargetWidth() - 0.5f, b = RenderTargetHeight() - 0.5f;
  const ScreenVertex quad[4] = {
      {l, t, 0.0f, 1.0f, diffuse, 0.0f, 0.0f},
      {r, t, 0.0f, 1.0f, diffuse, 1.0f, 0.0f},
      {r, b, 0.0f, 1.0f, diffuse, 1.0f, 1.0f},
      {l, b, 0.0f, 1.0f, diffuse, 0.0f, 1.0f},
  };
  device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kQuadIndices, FMT_INDEX16, quad, sizeof(ScreenVertex));
}

void CopyQuad(Device* device, const std::shared_ptr<BaseTexture>& texture) {
  SetStageStateCached(0, TSS_COLOROP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_TEXCOORDINDEX, 0);
  LinearClamp(0);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  device->SetTexture(0, texture);
  FullTargetQuad(device, 0xFFFFFFFFu);
}

}  // namespace

void DrawScreenQuad(TextureId texture, uint32_t texture_factor, uint32_t diffuse) {
  Device* device = LayerDevice();
  std::shared_ptr<BaseTexture> source = GetBaseTextureById(texture);
  if (!device || !source) return;
  PlainQuadStates();
  SetRenderStateCached(RS_TEXTUREFACTOR, texture_factor);
  SetStageStateCached(0, TSS_COLOROP, TOP_MODULATE);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_COLORARG2, TA_DIFFUSE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_TFACTOR);
  SetStageStateCached(0, TSS_TEXCOORDINDEX, 0);
  LinearClamp(0);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  device->SetTexture(0, source);
  FullTargetQuad(device, diffuse);
  device->SetTexture(0, nullptr);
}

TextureId RadialBlur(TextureId source, TextureId work0, TextureId work1, int passes, float step, uint32_t colour,
                     RadialBlurDraw draw) {
  Device* device = LayerDevice();
  if (!device || !GetBaseTextureById(source) || work0 == work1 || !IsRenderTexture(work0) || !IsRenderTexture(work1))
    return kNoId;
  if (passes < 1) return source;
  PlainQuadStates();
  SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
  TextureId read = source;
  for (int i = 1; i <= passes; ++i) {
    const TextureId write = read == work0 ? work1 : work0;
    if (PushRenderTarget(write, kNoId) != 0) break;
    BlurStageStates();
    BlurPass(device, GetBaseTextureById(read), step * static_cast<float>(i), colour);
    PopRenderTarget();
    read = write;
  }
  if (read != source && draw != RadialBlurDraw::kNone) {
    PlainQuadStates();
    if (draw == RadialBlurDraw::kAdditive) {
      SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
      SetRenderStateCached(RS_SRCBLEND, BLEND_ONE);
      SetRenderStateCached(RS_DESTBLEND, BLEND_ONE);
    } else {
      SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
    }
    CopyQuad(device, GetBaseTextureById(read));
    SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
  }
  RestoreStages(device);
  return read;
}

}  // namespace render

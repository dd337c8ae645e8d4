// Material passes: waves, and a pass turned into device states.
//
// Every render and stage state goes through the display's state caches, so
// passes of one shader drawn back to back cost only the states that differ.
// States the device does not draw yet (the lighting material, texture
// coordinate generation, the texture matrix) are set all the same, so the
// device sees the full fixed-function picture once it honours them.
#include <cmath>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/materials_internal.h"
#include "render/values.h"

namespace render {
namespace {

const Camera* g_camera = nullptr;
bool g_additive_override = false;
uint32_t g_triangles_drawn = 0;

float Frac(float x) { return x - std::floor(x); }

// A wave value scaled to a byte. Out-of-range values saturate: an
// overshooting wave must not spill into the neighbouring channels.
uint32_t WaveByte(float value) {
  if (!(value > 0.0f)) return 0;  // also NaN
  if (value >= 1.0f) return 255;
  return static_cast<uint32_t>(value * 255.0f);
}

Matrix TextureMatrixSphere() {
  Matrix m = Matrix::Identity();
  m.m[0][0] = 0.5f;
  m.m[1][1] = -0.5f;
  m.m[3][0] = 0.5f;
  m.m[3][1] = 0.5f;
  return m;
}

}  // namespace

float EvaluateWave(const Wave& wave, float time) {
  const float p = Frac(wave.offset + Frac(wave.frequency * time));
  switch (wave.type) {
    case WF_CONSTANT: return wave.base;
    case WF_SIN: return wave.base + wave.amplitude * std::sin(2.0f * 3.14159265f * p);
    case WF_TRIANGLE:
      return p < 0.5f ? wave.base + wave.amplitude * 2.0f * p
                      : wave.base + wave.amplitude * (1.0f - 2.0f * (p - 0.5f));
    case WF_SQUARE: return p > 0.5f ? wave.base - wave.amplitude : wave.base + wave.amplitude;
    case WF_SAWTOOTH: return wave.base + wave.amplitude * p;
    case WF_INVSAWTOOTH: return wave.base + wave.amplitude * (1.0f - p);
    default: return 0.0f;
  }
}

void SetCurrentCamera(const Camera* camera) { g_camera = camera; }
const Camera* CurrentCamera() { return g_camera; }

Matrix CameraOrientation() {
  Matrix m = g_camera ? g_camera->Orientation() : Matrix::Identity();
  m.m[0][3] = m.m[1][3] = m.m[2][3] = 0.0f;
  m.m[3][0] = m.m[3][1] = m.m[3][2] = 0.0f;
  m.m[3][3] = 1.0f;
  return m;
}

void SetAdditiveOverride(bool on) { g_additive_override = on; }
bool AdditiveOverride() { return g_additive_override; }

uint32_t TrianglesDrawn() { return g_triangles_drawn; }
void ResetTrianglesDrawn() { g_triangles_drawn = 0; }
void AddTrianglesDrawn(uint32_t count) { g_triangles_drawn += count; }

Device* MaterialDevice() {
  Device* device = LayerDevice();
  return device ? device : GetDevice();
}

Color PassTextureFactor(const ShaderPass& pass, float time) {
  Color factor = pass.texture_factor & 0x00ffffffu;
  const uint32_t alpha = (pass.flags & kPassAlphaWave) ? WaveByte(EvaluateWave(pass.alpha_wave, time)) : 0xffu;
  factor |= alpha << 24;
  if (pass.flags & kPassColorWave) {
    const uint32_t v = WaveByte(EvaluateWave(pass.color_wave, time));
    factor |= v | (v << 8) | (v << 16);
  }
  return factor;
}

int ApplyPass(ShaderHandle handle, int pass_index) {
  ShaderManager* manager = CurrentShaderManager();
  if (!manager) return -1;
  const Shader* shader = manager->GetShaderByHandle(handle);
  if (!shader || pass_index < 0 || pass_index >= shader->PassCount()) return -1;
  const ShaderPass& pass = shader->passes[static_cast<size_t>(pass_index)];
  Device* device = MaterialDevice();
  const float time = EffectTime();

  // 1. Lighting material.
  if (device) device->SetMaterial(pass.material);
  const bool specular = pass.material.power != 0.0f;
  SetRenderStateCached(RS_SPECULARENABLE, specular ? 1 : 0);
  SetRenderStateCached(RS_LOCALVIEWER,
                       (specular || pass.tex_gen == TEXGEN_CAMERA_REFLECTION ||
                        pass.tex_gen == TEXGEN_CUBE_REFLECTION)
                           ? 1
                           : 0);

  // 2. Texture.
  if (device) device->SetTexture(0, manager->PassTexture(pass));

  // 3. Blending.
  if (g_additive_override) {
    SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
    SetRenderStateCached(RS_SRCBLEND, BLEND_ONE);
    SetRenderStateCached(RS_DESTBLEND, BLEND_ONE);
  } else if (pass.src_blend == BLEND_ONE && pass.dst_blend == BLEND_ZERO) {
    SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
  } else {
    SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
    SetRenderStateCached(RS_SRCBLEND, pass.src_blend);
    SetRenderStateCached(RS_DESTBLEND, pass.dst_blend);
  }

  // 4. Depth and shading.
  SetRenderStateCached(RS_ZWRITEENABLE, (pass.flags & kPassNoZWrite) ? 0 : 1);
  SetRenderStateCached(RS_SHADEMODE, pass.shade_mode);
  SetRenderStateCached(RS_ZFUNC, pass.z_func);

  // 5. Culling, mirrored while drawing a reflection.
  uint32_t cull = pass.cull;
  if (manager->mirrored) {
    if (cull == CULL_CW) cull = CULL_CCW;
    else if (cull == CULL_CCW) cull = CULL_CW;
  }
  SetRenderStateCached(RS_CULLMODE, cull);

  // 6.
  SetRenderStateCached(RS_FILLMODE, pass.fill_mode);
  SetRenderStateCached(RS_ZENABLE, ZB_TRUE);

  // 7. Stage 0.
  SetStageStateCached(0, TSS_COLOROP, pass.color_op);
  SetRenderStateCached(RS_ALPHATESTENABLE, pass.color_op != TOP_DOTPRODUCT3 ? 1 : 0);
  SetStageStateCached(0, TSS_COLORARG1, pass.color_arg1);
  SetStageStateCached(0, TSS_COLORARG2, pass.color_arg2);
  SetStageStateCached(0, TSS_ALPHAOP, pass.alpha_op);
  SetStageStateCached(0, TSS_ALPHAARG1, pass.alpha_arg1);
  SetStageStateCached(0, TSS_ALPHAARG2, pass.alpha_arg2);
  SetStageStateCached(0, TSS_MIPFILTER, pass.mip_filter);
  SetStageStateCached(0, TSS_MINFILTER, pass.min_filter);
  SetStageStateCached(0, TSS_MAGFILTER, pass.mag_filter);

  // 8. Texture coordinate generation.
  switch (pass.tex_gen) {
    case TEXGEN_SPHERE_REFLECTION:
      if (device) device->SetTransform(TS_TEXTURE0, TextureMatrixSphere());
      SetStageStateCached(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT2);
      SetStageStateCached(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACENORMAL);
      break;
    case TEXGEN_CAMERA_REFLECTION:
    case TEXGEN_CUBE_REFLECTION:
      if (device) device->SetTransform(TS_TEXTURE0, CameraOrientation());
      SetStageStateCached(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT3);
      SetStageStateCached(0, TSS_TEXCOORDINDEX, TCI_CAMERASPACEREFLECTIONVECTOR);
      break;
    default:
      SetStageStateCached(0, TSS_TEXCOORDINDEX, 0);
      SetStageStateCached(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE);
      break;
  }

  // 9. Texture factor.
  SetRenderStateCached(RS_TEXTUREFACTOR, PassTextureFactor(pass, time));

  // 10. Stage 1: squares the lit colour for a specular highlight.
  if (pass.flags & kPassSpecularHighlight) {
    SetStageStateCached(1, TSS_COLOROP, TOP_MODULATE);
    SetStageStateCached(1, TSS_COLORARG1, TA_CURRENT);
    SetStageStateCached(1, TSS_COLORARG2, TA_CURRENT);
    SetStageStateCached(1, TSS_ALPHAOP, TOP_MODULATE);
    SetStageStateCached(1, TSS_ALPHAARG1, TA_CURRENT);
    SetStageStateCached(1, TSS_ALPHAARG2, TA_CURRENT);
  } else {
    SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
    SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  }

  // 11.
  SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_WRAP);
  SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_WRAP);
  return 0;
}

}  // namespace render

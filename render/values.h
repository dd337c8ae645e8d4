// The device's values: render states, texture-stage states, blend and
// compare functions, formats, pools, primitive types, vertex formats and
// transform types, with Direct3D 8's numbering kept in our own plain enums
// (they cross files and are stored in scripts by number), and the colour
// and float-state helpers.
//
// Typical use:
//   device->SetRenderState(render::RS_SRCBLEND, render::BLEND_SRCALPHA);
//   uint32_t stride = render::FvfVertexSize(render::kFvfRenderVertex);
//
// Not here: the structures and the device that take these (device.h).
#pragma once

#include <cstdint>
#include <cstring>

namespace render {

// ===========================================================================
// Values
// ===========================================================================

// Results: 0 is success, negative values are failures.
enum Result : int {
  kOk = 0,
  kErrInvalidCall = -1,
  kErrOutOfMemory = -2,
  kErrNotAvailable = -3,
  kErrDeviceLost = -4,
  kErrDeviceNotReset = -5,
};

enum RenderStateType : uint32_t {
  RS_ZENABLE = 7,
  RS_FILLMODE = 8,
  RS_SHADEMODE = 9,
  RS_LINEPATTERN = 10,
  RS_ZWRITEENABLE = 14,
  RS_ALPHATESTENABLE = 15,
  RS_LASTPIXEL = 16,
  RS_SRCBLEND = 19,
  RS_DESTBLEND = 20,
  RS_CULLMODE = 22,
  RS_ZFUNC = 23,
  RS_ALPHAREF = 24,
  RS_ALPHAFUNC = 25,
  RS_DITHERENABLE = 26,
  RS_ALPHABLENDENABLE = 27,
  RS_FOGENABLE = 28,
  RS_SPECULARENABLE = 29,
  RS_ZVISIBLE = 30,
  RS_FOGCOLOR = 34,
  RS_FOGTABLEMODE = 35,
  RS_FOGSTART = 36,
  RS_FOGEND = 37,
  RS_FOGDENSITY = 38,
  RS_EDGEANTIALIAS = 40,
  RS_ZBIAS = 47,
  RS_RANGEFOGENABLE = 48,
  RS_STENCILENABLE = 52,
  RS_STENCILFAIL = 53,
  RS_STENCILZFAIL = 54,
  RS_STENCILPASS = 55,
  RS_STENCILFUNC = 56,
  RS_STENCILREF = 57,
  RS_STENCILMASK = 58,
  RS_STENCILWRITEMASK = 59,
  RS_TEXTUREFACTOR = 60,
  RS_WRAP0 = 128,
  RS_WRAP1 = 129,
  RS_WRAP2 = 130,
  RS_WRAP3 = 131,
  RS_WRAP4 = 132,
  RS_WRAP5 = 133,
  RS_WRAP6 = 134,
  RS_WRAP7 = 135,
  RS_CLIPPING = 136,
  RS_LIGHTING = 137,
  RS_AMBIENT = 139,
  RS_FOGVERTEXMODE = 140,
  RS_COLORVERTEX = 141,
  RS_LOCALVIEWER = 142,
  RS_NORMALIZENORMALS = 143,
  RS_DIFFUSEMATERIALSOURCE = 145,
  RS_SPECULARMATERIALSOURCE = 146,
  RS_AMBIENTMATERIALSOURCE = 147,
  RS_EMISSIVEMATERIALSOURCE = 148,
  RS_VERTEXBLEND = 151,
  RS_CLIPPLANEENABLE = 152,
  RS_SOFTWAREVERTEXPROCESSING = 153,
  RS_POINTSIZE = 154,
  RS_POINTSIZE_MIN = 155,
  RS_POINTSPRITEENABLE = 156,
  RS_POINTSCALEENABLE = 157,
  RS_POINTSCALE_A = 158,
  RS_POINTSCALE_B = 159,
  RS_POINTSCALE_C = 160,
  RS_MULTISAMPLEANTIALIAS = 161,
  RS_MULTISAMPLEMASK = 162,
  RS_PATCHEDGESTYLE = 163,
  RS_PATCHSEGMENTS = 164,
  RS_DEBUGMONITORTOKEN = 165,
  RS_POINTSIZE_MAX = 166,
  RS_INDEXEDVERTEXBLENDENABLE = 167,
  RS_COLORWRITEENABLE = 168,
  RS_TWEENFACTOR = 170,
  RS_BLENDOP = 171,
};
inline constexpr uint32_t kRenderStateCount = 172;

enum TextureStageStateType : uint32_t {
  TSS_COLOROP = 1,
  TSS_COLORARG1 = 2,
  TSS_COLORARG2 = 3,
  TSS_ALPHAOP = 4,
  TSS_ALPHAARG1 = 5,
  TSS_ALPHAARG2 = 6,
  TSS_BUMPENVMAT00 = 7,
  TSS_BUMPENVMAT01 = 8,
  TSS_BUMPENVMAT10 = 9,
  TSS_BUMPENVMAT11 = 10,
  TSS_TEXCOORDINDEX = 11,
  TSS_ADDRESSU = 13,
  TSS_ADDRESSV = 14,
  TSS_BORDERCOLOR = 15,
  TSS_MAGFILTER = 16,
  TSS_MINFILTER = 17,
  TSS_MIPFILTER = 18,
  TSS_MIPMAPLODBIAS = 19,
  TSS_MAXMIPLEVEL = 20,
  TSS_MAXANISOTROPY = 21,
  TSS_BUMPENVLSCALE = 22,
  TSS_BUMPENVLOFFSET = 23,
  TSS_TEXTURETRANSFORMFLAGS = 24,
  TSS_ADDRESSW = 25,
  TSS_COLORARG0 = 26,
  TSS_ALPHAARG0 = 27,
  TSS_RESULTARG = 28,
};
inline constexpr uint32_t kStageStateCount = 29;
inline constexpr uint32_t kMaxTextureStages = 8;

enum Blend : uint32_t {
  BLEND_ZERO = 1,
  BLEND_ONE = 2,
  BLEND_SRCCOLOR = 3,
  BLEND_INVSRCCOLOR = 4,
  BLEND_SRCALPHA = 5,
  BLEND_INVSRCALPHA = 6,
  BLEND_DESTALPHA = 7,
  BLEND_INVDESTALPHA = 8,
  BLEND_DESTCOLOR = 9,
  BLEND_INVDESTCOLOR = 10,
  BLEND_SRCALPHASAT = 11,
  BLEND_BOTHSRCALPHA = 12,     // source slot only: (As, 1 - As) for both factors
  BLEND_BOTHINVSRCALPHA = 13,  // source slot only: (1 - As, As) for both factors
};
enum BlendOp : uint32_t { BLENDOP_ADD = 1, BLENDOP_SUBTRACT = 2, BLENDOP_REVSUBTRACT = 3, BLENDOP_MIN = 4, BLENDOP_MAX = 5 };
enum Cmp : uint32_t {
  CMP_NEVER = 1,
  CMP_LESS = 2,
  CMP_EQUAL = 3,
  CMP_LESSEQUAL = 4,
  CMP_GREATER = 5,
  CMP_NOTEQUAL = 6,
  CMP_GREATEREQUAL = 7,
  CMP_ALWAYS = 8,
};
enum StencilOp : uint32_t {
  STENCILOP_KEEP = 1,
  STENCILOP_ZERO = 2,
  STENCILOP_REPLACE = 3,
  STENCILOP_INCRSAT = 4,
  STENCILOP_DECRSAT = 5,
  STENCILOP_INVERT = 6,
  STENCILOP_INCR = 7,
  STENCILOP_DECR = 8,
};
enum Cull : uint32_t { CULL_NONE = 1, CULL_CW = 2, CULL_CCW = 3 };
enum Fill : uint32_t { FILL_POINT = 1, FILL_WIREFRAME = 2, FILL_SOLID = 3 };
enum Shade : uint32_t { SHADE_FLAT = 1, SHADE_GOURAUD = 2, SHADE_PHONG = 3 };
enum ZBufferType : uint32_t { ZB_FALSE = 0, ZB_TRUE = 1, ZB_USEW = 2 };
enum FogMode : uint32_t { FOG_NONE = 0, FOG_EXP = 1, FOG_EXP2 = 2, FOG_LINEAR = 3 };
enum MaterialColorSource : uint32_t { MCS_MATERIAL = 0, MCS_COLOR1 = 1, MCS_COLOR2 = 2 };
// COLORWRITEENABLE bits.
inline constexpr uint32_t COLORWRITE_RED = 1, COLORWRITE_GREEN = 2, COLORWRITE_BLUE = 4, COLORWRITE_ALPHA = 8;

enum TextureOp : uint32_t {
  TOP_DISABLE = 1,
  TOP_SELECTARG1 = 2,
  TOP_SELECTARG2 = 3,
  TOP_MODULATE = 4,
  TOP_MODULATE2X = 5,
  TOP_MODULATE4X = 6,
  TOP_ADD = 7,
  TOP_ADDSIGNED = 8,
  TOP_ADDSIGNED2X = 9,
  TOP_SUBTRACT = 10,
  TOP_ADDSMOOTH = 11,
  TOP_BLENDDIFFUSEALPHA = 12,
  TOP_BLENDTEXTUREALPHA = 13,
  TOP_BLENDFACTORALPHA = 14,
  TOP_BLENDTEXTUREALPHAPM = 15,
  TOP_BLENDCURRENTALPHA = 16,
  TOP_PREMODULATE = 17,
  TOP_MODULATEALPHA_ADDCOLOR = 18,
  TOP_MODULATECOLOR_ADDALPHA = 19,
  TOP_MODULATEINVALPHA_ADDCOLOR = 20,
  TOP_MODULATEINVCOLOR_ADDALPHA = 21,
  TOP_BUMPENVMAP = 22,
  TOP_BUMPENVMAPLUMINANCE = 23,
  TOP_DOTPRODUCT3 = 24,
  TOP_MULTIPLYADD = 25,
  TOP_LERP = 26,
};
// Stage arguments (TA_*): a source in the low bits plus modifier bits.
inline constexpr uint32_t TA_SELECTMASK = 0x0f;
inline constexpr uint32_t TA_DIFFUSE = 0, TA_CURRENT = 1, TA_TEXTURE = 2, TA_TFACTOR = 3, TA_SPECULAR = 4,
                          TA_TEMP = 5;
inline constexpr uint32_t TA_COMPLEMENT = 0x10, TA_ALPHAREPLICATE = 0x20;

enum TextureAddress : uint32_t {
  TADDRESS_WRAP = 1,
  TADDRESS_MIRROR = 2,
  TADDRESS_CLAMP = 3,
  TADDRESS_BORDER = 4,
  TADDRESS_MIRRORONCE = 5,
};
enum TextureFilter : uint32_t {
  TEXF_NONE = 0,
  TEXF_POINT = 1,
  TEXF_LINEAR = 2,
  TEXF_ANISOTROPIC = 3,
  TEXF_FLATCUBIC = 4,
  TEXF_GAUSSIANCUBIC = 5,
};
// TEXTURETRANSFORMFLAGS values and TEXCOORDINDEX generation modes.
inline constexpr uint32_t TTFF_DISABLE = 0, TTFF_COUNT1 = 1, TTFF_COUNT2 = 2, TTFF_COUNT3 = 3, TTFF_COUNT4 = 4,
                          TTFF_PROJECTED = 256;
inline constexpr uint32_t TCI_PASSTHRU = 0, TCI_CAMERASPACENORMAL = 0x10000, TCI_CAMERASPACEPOSITION = 0x20000,
                          TCI_CAMERASPACEREFLECTIONVECTOR = 0x30000;

enum Format : uint32_t {
  FMT_UNKNOWN = 0,
  FMT_R8G8B8 = 20,
  FMT_A8R8G8B8 = 21,
  FMT_X8R8G8B8 = 22,
  FMT_R5G6B5 = 23,
  FMT_X1R5G5B5 = 24,
  FMT_A1R5G5B5 = 25,
  FMT_A4R4G4B4 = 26,
  FMT_R3G3B2 = 27,
  FMT_A8 = 28,
  FMT_A8R3G3B2 = 29,
  FMT_X4R4G4B4 = 30,
  FMT_P8 = 41,
  FMT_L8 = 50,
  FMT_D16_LOCKABLE = 70,
  FMT_D32 = 71,
  FMT_D15S1 = 73,
  FMT_D24S8 = 75,
  FMT_D24X8 = 77,
  FMT_D24X4S4 = 79,
  FMT_D16 = 80,
  FMT_VERTEXDATA = 100,
  FMT_INDEX16 = 101,
  FMT_INDEX32 = 102,
};
// Bits per pixel of a format: 32 for the 32-bit colour formats, 24 for
// R8G8B8, 16 for the 16-bit ones, 8 for the 8-bit ones, 0 for the rest.
uint32_t FormatBitsPerPixel(Format format);
bool FormatHasAlpha(Format format);
bool FormatIsDepth(Format format);
bool FormatHasStencil(Format format);
// The textures and render textures the device makes: X8R8G8B8, A8R8G8B8,
// R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4.
bool FormatIsTextureFormat(Format format);
const char* FormatName(Format format);

enum Pool : uint32_t { POOL_DEFAULT = 0, POOL_MANAGED = 1, POOL_SYSTEMMEM = 2, POOL_SCRATCH = 3 };
inline constexpr uint32_t USAGE_RENDERTARGET = 0x1, USAGE_DEPTHSTENCIL = 0x2, USAGE_WRITEONLY = 0x8,
                          USAGE_SOFTWAREPROCESSING = 0x10, USAGE_DONOTCLIP = 0x20, USAGE_POINTS = 0x40,
                          USAGE_DYNAMIC = 0x200;
inline constexpr uint32_t LOCK_READONLY = 0x10, LOCK_NOSYSLOCK = 0x800, LOCK_NOOVERWRITE = 0x1000,
                          LOCK_DISCARD = 0x2000;
inline constexpr uint32_t CLEAR_TARGET = 1, CLEAR_ZBUFFER = 2, CLEAR_STENCIL = 4;

enum PrimitiveType : uint32_t {
  PT_POINTLIST = 1,
  PT_LINELIST = 2,
  PT_LINESTRIP = 3,
  PT_TRIANGLELIST = 4,
  PT_TRIANGLESTRIP = 5,
  PT_TRIANGLEFAN = 6,
};

// Flexible vertex format bits.
inline constexpr uint32_t FVF_XYZ = 0x002, FVF_XYZRHW = 0x004, FVF_POSITION_MASK = 0x00e, FVF_NORMAL = 0x010,
                          FVF_PSIZE = 0x020, FVF_DIFFUSE = 0x040, FVF_SPECULAR = 0x080, FVF_TEXCOUNT_MASK = 0xf00,
                          FVF_TEXCOUNT_SHIFT = 8, FVF_TEX0 = 0x000, FVF_TEX1 = 0x100, FVF_TEX2 = 0x200;
// Size code of texture coordinate set `set` (2 floats when 0).
inline constexpr uint32_t FvfTexCoordSize1(uint32_t set) { return 3u << (set * 2 + 16); }
inline constexpr uint32_t FvfTexCoordSize3(uint32_t set) { return 1u << (set * 2 + 16); }
inline constexpr uint32_t FvfTexCoordSize4(uint32_t set) { return 2u << (set * 2 + 16); }
// Size of one vertex of the format in bytes, or 0 for a format the device
// cannot draw.
uint32_t FvfVertexSize(uint32_t fvf);

// The two vertex formats of the 2-D drawing code.
inline constexpr uint32_t kFvfRenderVertex = FVF_XYZ | FVF_NORMAL | FVF_DIFFUSE | FVF_TEX1;  // 0x152, 36 bytes
inline constexpr uint32_t kFvfScreenVertex = FVF_XYZRHW | FVF_DIFFUSE | FVF_TEX1;            // 0x144, 28 bytes

enum TransformType : uint32_t {
  TS_VIEW = 2,
  TS_PROJECTION = 3,
  TS_TEXTURE0 = 16,
  TS_TEXTURE1 = 17,
  TS_TEXTURE2 = 18,
  TS_TEXTURE3 = 19,
  TS_TEXTURE4 = 20,
  TS_TEXTURE5 = 21,
  TS_TEXTURE6 = 22,
  TS_TEXTURE7 = 23,
  TS_WORLD = 256,
};

enum CubeFace : uint32_t {
  CUBEMAP_FACE_POSITIVE_X = 0,
  CUBEMAP_FACE_NEGATIVE_X = 1,
  CUBEMAP_FACE_POSITIVE_Y = 2,
  CUBEMAP_FACE_NEGATIVE_Y = 3,
  CUBEMAP_FACE_POSITIVE_Z = 4,
  CUBEMAP_FACE_NEGATIVE_Z = 5,
};

// A8R8G8B8 colour word.
using Color = uint32_t;
inline constexpr Color ColorArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return ((a & 0xff) << 24) | ((r & 0xff) << 16) | ((g & 0xff) << 8) | (b & 0xff);
}
// Real-valued states travel as the bit pattern of the float.
inline uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}
inline float BitsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace render

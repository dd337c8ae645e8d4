// Rendering: a Direct3D-8-style device over OpenGL 3.3 core, and the
// display set-up the Server drives.
//
// The drawing code of the program is written against fixed-function
// Direct3D 8 semantics: render states, texture-stage states, transforms,
// flexible vertex formats, pools and locks. This module keeps those
// semantics (and their numeric values) and implements them with GLSL
// programs generated from the states that change the shading.
//
// Sections:
//   1. Values       render states, stage states, formats, flags (Direct3D
//                   numbering, kept in our own enums)
//   2. Structures   matrices, viewports, rectangles, caps
//   3. Resources    textures, cube textures, surfaces, vertex/index buffers
//   4. Device       the device interface and how to make one
//   5. GL contexts  window and headless contexts (also for other GL users)
//   6. Display      mode table, mode choice, the output device, state caches
//   7. Test hooks   counters that let tests see what reached OpenGL
//   8. Layer        the render device layer: id tables of textures and
//                   buffers, the shared dynamic buffers, the render-target
//                   stack, textures made from images, the two times
//   9. Materials    material scripts ("shaders"), managers and their stack,
//                   passes and waves, the render queue and its drawing
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"

namespace media {
struct Image;
}
namespace text {
class TagNode;
}

namespace render {

// ===========================================================================
// 1. Values
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

// ===========================================================================
// 2. Structures
// ===========================================================================

// Row-major 4 x 4 matrix for row vectors (v' = v M), as Direct3D has it.
struct Matrix {
  float m[4][4];
  static Matrix Identity() {
    Matrix r{};
    r.m[0][0] = r.m[1][1] = r.m[2][2] = r.m[3][3] = 1.0f;
    return r;
  }
  bool operator==(const Matrix& other) const { return std::memcmp(m, other.m, sizeof m) == 0; }
};
Matrix Multiply(const Matrix& a, const Matrix& b);  // a then b: v (a b)

struct Viewport {
  uint32_t x = 0, y = 0, width = 0, height = 0;  // pixels, y from the top
  float min_z = 0.0f, max_z = 1.0f;
  bool operator==(const Viewport& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height && min_z == o.min_z && max_z == o.max_z;
  }
};

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct LockedRect {
  int32_t pitch = 0;     // bytes from one row to the next
  void* bits = nullptr;  // the first byte of the locked rectangle
};

struct SurfaceDesc {
  Format format = FMT_UNKNOWN;
  uint32_t usage = 0;
  Pool pool = POOL_DEFAULT;
  uint32_t width = 0, height = 0;
};

// Lighting material (Direct3D's D3DMATERIAL8): colours as RGBA reals.
struct ColorValue {
  float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
  bool operator==(const ColorValue& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
struct Material {
  ColorValue diffuse{1.0f, 1.0f, 1.0f, 1.0f};
  ColorValue ambient{1.0f, 1.0f, 1.0f, 1.0f};
  ColorValue specular{1.0f, 1.0f, 1.0f, 1.0f};
  ColorValue emissive{0.0f, 0.0f, 0.0f, 0.0f};
  float power = 0.0f;
  bool operator==(const Material& o) const {
    return diffuse == o.diffuse && ambient == o.ambient && specular == o.specular && emissive == o.emissive &&
           power == o.power;
  }
};

inline constexpr uint32_t CAPS2_DYNAMICTEXTURES = 0x20000000;

struct Caps {
  uint32_t caps2 = CAPS2_DYNAMICTEXTURES;
  uint32_t max_texture_width = 4096;
  uint32_t max_texture_height = 4096;
  uint32_t max_texture_blend_stages = kMaxTextureStages;
  uint32_t max_simultaneous_textures = kMaxTextureStages;
  uint32_t max_active_lights = 8;
  uint32_t max_user_clip_planes = 6;
  uint32_t max_primitive_count = 0xffffff;
  uint32_t max_vertex_index = 0xffffff;
  uint32_t max_stream_stride = 255;
  float max_point_size = 64.0f;
};

// ===========================================================================
// 3. Resources. Made by the device; shared pointers stand for Direct3D's
// reference counts (the device keeps its own reference to what is bound).
// A resource outliving its device keeps only its CPU side.
// ===========================================================================

class Surface;

class Resource {
 public:
  virtual ~Resource() = default;
  // Debug name shown in traces.
  virtual void SetName(const std::string& name) = 0;
};

enum class TextureKind { k2D, kCube };

class BaseTexture : public Resource {
 public:
  virtual TextureKind Kind() const = 0;
  virtual uint32_t LevelCount() const = 0;
  virtual Format GetFormat() const = 0;
  virtual uint32_t Usage() const = 0;
};

class Texture : public BaseTexture {
 public:
  virtual int GetLevelDesc(uint32_t level, SurfaceDesc* desc) const = 0;
  // Write lock of a level (or a rectangle of it). DISCARD may drop the old
  // contents; without it what is not written keeps its texels. Render
  // targets and depth surfaces cannot be locked.
  virtual int LockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) = 0;
  virtual int UnlockRect(uint32_t level) = 0;
  // The level as a surface, to draw into (render textures) or to describe.
  virtual std::shared_ptr<Surface> GetSurfaceLevel(uint32_t level) = 0;
};

class CubeTexture : public BaseTexture {
 public:
  virtual int GetLevelDesc(uint32_t level, SurfaceDesc* desc) const = 0;
  virtual int LockRect(CubeFace face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) = 0;
  virtual int UnlockRect(CubeFace face, uint32_t level) = 0;
  virtual std::shared_ptr<Surface> GetCubeMapSurface(CubeFace face, uint32_t level) = 0;
};

// A level of a texture (colour) or a depth-stencil surface.
class Surface : public Resource {
 public:
  virtual SurfaceDesc GetDesc() const = 0;
};

struct VertexBufferDesc {
  uint32_t size = 0, usage = 0, fvf = 0;
  Pool pool = POOL_DEFAULT;
};
struct IndexBufferDesc {
  uint32_t size = 0, usage = 0;
  Format format = FMT_INDEX16;
  Pool pool = POOL_DEFAULT;
};

class VertexBuffer : public Resource {
 public:
  virtual VertexBufferDesc GetDesc() const = 0;
  // Write lock of `size` bytes at `offset` (0, 0: the whole buffer).
  // DISCARD: the old contents may go (the device never waits for a draw
  // that still reads them); NOOVERWRITE: the caller promises not to touch
  // data a pending draw uses, so nothing waits.
  virtual int Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
  virtual int Unlock() = 0;
};

class IndexBuffer : public Resource {
 public:
  virtual IndexBufferDesc GetDesc() const = 0;
  virtual int Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
  virtual int Unlock() = 0;
};

// ===========================================================================
// 4. Device
// ===========================================================================

// How a device is made (and reset).
struct PresentParameters {
  uint32_t back_buffer_width = 640;
  uint32_t back_buffer_height = 480;
  Format back_buffer_format = FMT_X8R8G8B8;
  bool enable_auto_depth_stencil = true;
  Format auto_depth_stencil_format = FMT_D24S8;
  bool windowed = true;
  bool vsync = true;  // the output window waits for the display's refresh
  // The window presented into, or nullptr: headless (an offscreen context;
  // presenting only writes the dump).
  core::QEGUIWindow* device_window = nullptr;
};

class GlContext;

class Device {
 public:
  virtual ~Device() = default;

  // --- device life -------------------------------------------------------
  // GL contexts are not lost as Direct3D devices are: always kOk.
  virtual int TestCooperativeLevel() = 0;
  // Back to the default states, with a new back buffer when its size or
  // format changed. Resources survive.
  virtual int Reset(const PresentParameters& params) = 0;
  virtual const PresentParameters& GetPresentParameters() const = 0;
  virtual const Caps& GetDeviceCaps() const = 0;
  // Managed textures need no eviction here; kept for the calling code.
  virtual int ResourceManagerDiscardBytes(uint32_t bytes) = 0;
  // Makes the device's context current (every device call does it too).
  virtual int MakeCurrent() = 0;
  virtual GlContext* Context() = 0;

  // --- frame ---------------------------------------------------------------
  virtual int BeginScene() = 0;
  virtual int EndScene() = 0;
  // Stretches the back buffer onto the window's drawable and swaps (only
  // while the window is shown), then writes the dump frame if a dump folder
  // is set. Headless: only the dump.
  virtual int Present() = 0;
  // Every presented back buffer becomes DIR/NNNNNN.png (000000.png first).
  // Empty: no dump.
  virtual void SetDumpFolder(const std::string& folder) = 0;
  virtual uint64_t PresentCount() const = 0;
  // Clears the viewport (intersected with each rectangle when given) of the
  // current target: colour, depth and/or stencil (CLEAR_* flags).
  virtual int Clear(uint32_t rect_count, const Rect* rects, uint32_t flags, Color color, float z,
                    uint32_t stencil) = 0;

  // --- states --------------------------------------------------------------
  virtual int SetRenderState(RenderStateType state, uint32_t value) = 0;
  virtual uint32_t GetRenderState(RenderStateType state) const = 0;
  virtual int SetTextureStageState(uint32_t stage, TextureStageStateType type, uint32_t value) = 0;
  virtual uint32_t GetTextureStageState(uint32_t stage, TextureStageStateType type) const = 0;
  virtual int SetTexture(uint32_t stage, std::shared_ptr<BaseTexture> texture) = 0;
  virtual BaseTexture* GetTexture(uint32_t stage) const = 0;
  virtual int SetTransform(TransformType type, const Matrix& matrix) = 0;
  virtual int GetTransform(TransformType type, Matrix* matrix) const = 0;
  virtual int SetViewport(const Viewport& viewport) = 0;
  virtual Viewport GetViewport() const = 0;
  // The lighting material. Kept for lighting; unlit drawing ignores it.
  virtual int SetMaterial(const Material& material) = 0;
  virtual Material GetMaterial() const = 0;

  // --- targets -------------------------------------------------------------
  // `color` nullptr keeps the current colour target; `depth` nullptr draws
  // without depth and stencil. The viewport becomes the whole target.
  virtual int SetRenderTarget(std::shared_ptr<Surface> color, std::shared_ptr<Surface> depth) = 0;
  virtual std::shared_ptr<Surface> GetRenderTarget() const = 0;
  virtual std::shared_ptr<Surface> GetDepthStencilSurface() const = 0;
  virtual std::shared_ptr<Surface> GetBackBuffer() const = 0;
  // Reads a colour surface (a render texture level or the back buffer) as
  // A8R8G8B8 words, row 0 at the top.
  virtual int ReadSurfacePixels(Surface* surface, std::vector<uint32_t>* pixels) = 0;

  // --- geometry --------------------------------------------------------------
  virtual int SetFVF(uint32_t fvf) = 0;
  virtual uint32_t GetFVF() const = 0;
  virtual int SetStreamSource(uint32_t stream, std::shared_ptr<VertexBuffer> buffer, uint32_t stride) = 0;
  // Index buffer and the base vertex index added to every index.
  virtual int SetIndices(std::shared_ptr<IndexBuffer> buffer, uint32_t base_vertex_index) = 0;
  virtual int DrawPrimitive(PrimitiveType type, uint32_t start_vertex, uint32_t primitive_count) = 0;
  virtual int DrawIndexedPrimitive(PrimitiveType type, uint32_t min_index, uint32_t vertex_count,
                                   uint32_t start_index, uint32_t primitive_count) = 0;
  virtual int DrawPrimitiveUP(PrimitiveType type, uint32_t primitive_count, const void* vertices,
                              uint32_t stride) = 0;
  virtual int DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t min_index, uint32_t vertex_count,
                                     uint32_t primitive_count, const void* indices, Format index_format,
                                     const void* vertices, uint32_t stride) = 0;

  // --- resources -------------------------------------------------------------
  // levels 0 = a full mip chain. Formats: see FormatIsTextureFormat.
  virtual std::shared_ptr<Texture> CreateTexture(uint32_t width, uint32_t height, uint32_t levels,
                                                 uint32_t usage, Format format, Pool pool) = 0;
  virtual std::shared_ptr<CubeTexture> CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage,
                                                         Format format, Pool pool) = 0;
  // D16, D24S8, D24X8, D32 (and D16_LOCKABLE, stored as D16).
  virtual std::shared_ptr<Surface> CreateDepthStencilSurface(uint32_t width, uint32_t height, Format format) = 0;
  virtual std::shared_ptr<VertexBuffer> CreateVertexBuffer(uint32_t size, uint32_t usage, uint32_t fvf,
                                                           Pool pool) = 0;
  virtual std::shared_ptr<IndexBuffer> CreateIndexBuffer(uint32_t size, uint32_t usage, Format format,
                                                         Pool pool) = 0;
};

// Makes a device on a context: a window context when params.device_window
// is set (the window needs kWindowOpenGl), else a headless one. Applies no
// render states beyond the device's own defaults. nullptr on failure (the
// reason goes to the trace).
std::unique_ptr<Device> CreateDevice(const PresentParameters& params);
// The same with a context the caller made.
std::unique_ptr<Device> CreateDeviceOnContext(std::unique_ptr<GlContext> context, const PresentParameters& params);
// A headless device with a back buffer of the given size and format and a
// D24S8 depth buffer.
std::unique_ptr<Device> CreateHeadlessDevice(uint32_t width, uint32_t height, Format format = FMT_X8R8G8B8);

// ===========================================================================
// 5. GL contexts. Every context is made current explicitly before use;
// MakeCurrent is cheap when it already is.
// ===========================================================================

class GlContext {
 public:
  virtual ~GlContext() = default;
  virtual int MakeCurrent() = 0;
  virtual bool IsCurrent() const = 0;
  // Shows the drawable (window contexts); nothing for headless ones.
  virtual int SwapBuffers() = 0;
  // 1 waits for the display's refresh (the output window), 0 never waits.
  virtual int SetSwapInterval(int interval) = 0;
  // The window's drawable in pixels; 0 x 0 without one.
  virtual void GetDrawableSize(int* width, int* height) const = 0;
  virtual bool HasDrawable() const = 0;
  virtual bool DrawableShown() const = 0;
};

// A GL 3.3 core context on a window made with kWindowOpenGl.
std::unique_ptr<GlContext> CreateWindowGlContext(core::QEGUIWindow* window, int swap_interval);
// A GL 3.3 core context without any window (EGL surfaceless).
std::unique_ptr<GlContext> CreateHeadlessGlContext();

// ===========================================================================
// 6. Display and device set-up. One process-wide display: the adapter's
// mode table, the device made on the chosen mode, and the caches that all
// render-state and texture-stage-state changes go through.
// ===========================================================================

// DisplayMode::flags bits.
inline constexpr uint32_t kModeFullScreenOk = 1, kModeWindowedOk = 2, kModeMultisampleWindowed = 4,
                          kModeMultisampleFullScreen = 8, kModeHasStencil = 16;
// DisplayMode::depth_formats bits, in this order.
inline constexpr uint32_t kDepthD16Lockable = 1, kDepthD32 = 2, kDepthD15S1 = 4, kDepthD24S8 = 8, kDepthD16 = 16,
                          kDepthD24X8 = 32, kDepthD24X4S4 = 64;
inline constexpr uint32_t kDepthAny = 0x7f;

struct DisplayMode {
  uint32_t adapter = 0;
  uint32_t mode_index = 0;
  uint32_t width = 0, height = 0;
  uint32_t bits_per_pixel = 0;
  Format format = FMT_UNKNOWN;
  uint32_t refresh_rate = 0;
  uint32_t flags = 0;
  uint32_t depth_formats = 0;
  Caps caps;
};

// What the window system says about one display (adapter).
struct AdapterMode {
  uint32_t width = 0, height = 0, refresh_rate = 0;
  Format format = FMT_UNKNOWN;
};
struct AdapterInfo {
  std::string description;
  AdapterMode desktop;               // the current desktop mode
  std::vector<AdapterMode> modes;    // full-screen modes
  uint32_t depth_formats = kDepthD32 | kDepthD24S8 | kDepthD16 | kDepthD24X8;
  bool complete = true;              // false: enumeration stopped early
};

enum class DisplayBackend {
  kWindowSystem,  // SDL displays and windows
  kHeadless,      // no window system: synthesised modes, offscreen context
};

// Reads the adapter's modes through the window system. -1 when the adapter
// does not exist or the window system cannot start.
int QueryAdapter(int adapter, AdapterInfo* info);
// The adapter a headless run pretends to have (1920 x 1080 desktop).
AdapterInfo HeadlessAdapterInfo();

// Brings up the display on adapter `adapter` and builds the mode table.
// -1 when the adapter is missing (the caller shows "Error initializing
// d3d. Try -device 0 ").
int InitDirect3D(int adapter, DisplayBackend backend = DisplayBackend::kWindowSystem);
// The same from a given adapter description (tests).
int InitDirect3DFrom(int adapter, const AdapterInfo& info, DisplayBackend backend);

using ModeFilter = int (*)(int mode_index);

// Chooses a mode and makes the device on `window` (nullptr: headless).
// Full screen: width, height and bits must match a mode that allows full
// screen, with D24S8 when a stencil is wanted, accepted by the filter; the
// highest refresh rate wins, the earliest on a tie. Windowed: any size that
// fits the desktop, whatever the bit depth. No match shows "Requested mode
// %ix%ix%i (Fullscreen=%s) (%s) not available" and returns -1.
int SelectDisplayMode(core::QEGUIWindow* window, int width, int height, int bits_per_pixel, bool want_stencil,
                      bool full_screen, ModeFilter filter, const char* description, bool want_multisample,
                      bool vsync, bool set_window_style, bool lockable_back_buffer, bool default_refresh);
int CreateRenderDevice(int mode_index, bool want_stencil, bool full_screen, bool want_multisample, bool vsync,
                       bool set_window_style, bool lockable_back_buffer, bool default_refresh);
// Depth format for a back buffer: D24S8 with a stencil; else D32, D24X8,
// D16 in that order. FMT_UNKNOWN when none is available.
Format FindDepthFormat(uint32_t depth_formats, bool want_stencil);

// State changes through the caches: the device is called only when the
// value differs from the cached one (then 0 is returned without a call).
int SetRenderStateCached(RenderStateType state, uint32_t value);
int SetStageStateCached(uint32_t stage, TextureStageStateType type, uint32_t value);
uint32_t CachedRenderState(RenderStateType state);
uint32_t CachedStageState(uint32_t stage, TextureStageStateType type);
// Every default state on the device and in the caches.
void ApplyDefaultStates();

// Once a frame: 0 when the device can draw, -1 when not (no device).
int CheckDevice();
// Restores the device and the default states. 0 or -1.
int ResetDevice();
// Shuts the render layer down first when it runs on this device.
void ReleaseDevice();
void ReleaseDirect3D();

// Every presented frame of the display's device goes to DIR (see
// Device::SetDumpFolder); set before or after the device is made.
void SetDumpFolder(const std::string& folder);

struct Direct3DInfo {
  int adapter = -1;
  DisplayBackend backend = DisplayBackend::kWindowSystem;
  AdapterInfo info;
};
// nullptr before InitDirect3D.
const Direct3DInfo* GetDirect3D();
Device* GetDevice();
// The current mode's entry (its size is the output size), nullptr without
// a device.
const DisplayMode* CurrentDisplayMode();
const Caps* CurrentDeviceCaps();
int CurrentModeIndex();
const std::vector<DisplayMode>& DisplayModes();

// ===========================================================================
// 7. Test hooks
// ===========================================================================

// Number of OpenGL calls the devices have issued since the program started.
uint64_t GlCallCount();
// Number of GLSL programs the devices have generated and linked.
uint64_t ProgramBuildCount();

// ===========================================================================
// 8. Render device layer. Drawing code names textures, depth surfaces and
// buffers by integer ids (id table slots with generations, -1 for none),
// streams immediate geometry through one shared dynamic vertex buffer and
// one dynamic index buffer, and draws into textures through a stack of
// render targets whose bottom entry is the device's back buffer. Main
// thread only. Every call is safe before InitRenderLayer (it fails or
// returns none).
// ===========================================================================

// A texture, render texture, dynamic texture, cube texture or depth
// surface of the texture table; buffer ids are of the same kind. -1: none.
using TextureId = int;
inline constexpr int kNoId = -1;

// The vertex of the shared dynamic buffer (kFvfRenderVertex, 36 bytes).
struct RenderVertex {
  float x, y, z;
  float nx, ny, nz;
  Color diffuse;  // A8R8G8B8
  float u, v;
};
static_assert(sizeof(RenderVertex) == 36);

inline constexpr uint32_t kSharedVertexBufferBytes = 2340000;  // 65,000 RenderVertex
inline constexpr uint32_t kSharedIndexBufferBytes = 130000;    // 65,000 16-bit indices
inline constexpr uint32_t kAuxTargetSize = 128;

// Starts the layer on `device` (nullptr: the display's device, GetDevice()):
// the three id tables, the shared buffers, the target stack with the back
// buffer at its bottom, both aux render textures and the aux depth
// surface. 0 or -1 (nothing is left half made).
int InitRenderLayer(Device* device = nullptr);
// Releases everything the layer holds, the tables' entries included.
// Call before the device goes.
void ShutdownRenderLayer();
bool RenderLayerReady();
// The device the layer draws with (nullptr before InitRenderLayer).
Device* LayerDevice();

// --- textures --------------------------------------------------------------
// Managed texture; levels 0 = a full mip chain. Traces "Created texture
// with id %i" or "Failed to create texture".
TextureId CreateTexture(uint32_t width, uint32_t height, Format format, uint32_t levels);
// Render-target texture in the default pool.
TextureId CreateRenderTexture(uint32_t width, uint32_t height, Format format, uint32_t levels);
// Dynamic texture (default pool), only when the caps offer dynamic textures.
TextureId CreateDynamicTexture(uint32_t width, uint32_t height, Format format, uint32_t levels);
// Depth surface to draw into a target of `target_format` with: D24S8 when
// the device was made with a stencil, else the first of D16_LOCKABLE, D16,
// D32 the adapter offers.
TextureId CreateDepthSurface(uint32_t width, uint32_t height, Format target_format);
// A managed texture with a full mip chain filled from the image (its own
// format converted). Images larger than the device's limits are resampled
// down to them first; sides that are not powers of two show "Texturas
// potencia de 2 por favor!" and give -1. `normalize_mips` keeps the
// colours of smaller levels unit vectors (normal maps).
TextureId CreateTextureFromImage(const media::Image& image, Format format, bool normalize_mips);
// A normal map from the image's blue channel read as height: each pixel's
// slope to its right and lower neighbours (wrapping at the edges) becomes
// the colour 128 + 127 * (dx, dy, 16) / |(dx, dy, 16)|, alpha 255.
TextureId CreateNormalMapFromImage(const media::Image& image, Format format);
// A managed cube texture with a full mip chain; images[i] fills face i
// (+X, -X, +Y, -Y, +Z, -Z). All six square and of one size, else -1.
TextureId CreateCubeTextureFromImages(const media::Image* const images[6], Format format);
// A8R8G8B8 for images with alpha (A4R4G4B4 if the device had no
// A8R8G8B8 textures), R5G6B5 for the rest.
Format ChooseImageTextureFormat(const media::Image& image);
// Releases what the entry holds and frees the id; -1 and unused ids are
// ignored. Users of the object keep it alive through their own references.
void ReleaseTexture(TextureId id);
// nullptr for -1, unused ids and entries of another kind.
std::shared_ptr<Texture> GetTextureById(TextureId id);
std::shared_ptr<CubeTexture> GetCubeTextureById(TextureId id);
// The texture or the cube texture of the entry (what Device::SetTexture takes).
std::shared_ptr<BaseTexture> GetBaseTextureById(TextureId id);
std::shared_ptr<Surface> GetDepthSurfaceById(TextureId id);
// Number of used entries of the texture table.
int TextureCount();

// The two 128 x 128 X8R8G8B8 render textures (index 0 and 1) and the depth
// surface (index 0) of the scene's shadows and beams; made again when
// missing. -1 for any other index or when creation fails.
TextureId AuxRenderTexture(int index);
TextureId AuxDepthSurface(int index);

// --- buffers ---------------------------------------------------------------
// USAGE_WRITEONLY is always added to the usage. -1 on failure.
int AddVertexBuffer(uint32_t bytes, uint32_t usage, uint32_t fvf, Pool pool);
int AddIndexBuffer(uint32_t bytes, uint32_t usage, Format format, Pool pool);
// 0, or -1 for an id that is not in use.
int RemoveVertexBuffer(int id);
int RemoveIndexBuffer(int id);
std::shared_ptr<VertexBuffer> GetVertexBufferById(int id);
std::shared_ptr<IndexBuffer> GetIndexBufferById(int id);
int VertexBufferCount();
int IndexBufferCount();

// The shared dynamic buffers' ids.
int SharedVertexBuffer();
int SharedIndexBuffer();
// Locks `bytes` after what was appended before and returns their byte
// offset in the buffer, with *data pointing at them, or -1. The first
// append after DiscardDynamicBuffers, or one that does not fit before the
// end, starts again at offset 0 with a discarding lock; others never
// overwrite. More than the whole buffer shows "en VB dinamico no caben %i
// bytes. Probablemente el objeto tenga demasiados poligonos" (vertices
// only). The buffer stays locked until the matching unlock.
int AppendDynamicVertices(int id, uint32_t bytes, void** data);
int UnlockDynamicVertices(int id);
int AppendDynamicIndices(int id, uint32_t bytes, void** data);
int UnlockDynamicIndices(int id);
// The next append, vertex or index, discards. The Server calls this at the
// start of every frame.
void DiscardDynamicBuffers();
// Vertices one draw through the shared buffer may use.
inline constexpr int MaxDynamicVertices() { return 65000; }
// The lock flags of the last append (tests).
uint32_t LastDynamicLockFlags();

// --- render targets --------------------------------------------------------
// Saves the current target and depth surface, then draws into level 0 of
// render texture `texture` with depth surface `depth` (-1: no depth). 0, or
// -1 (target unchanged) for a missing texture or one that is no target.
int PushRenderTarget(TextureId texture, TextureId depth);
// As push, but the top entry takes the new texture: the surfaces saved
// when it was pushed stay, so one pop still returns to them. With only the
// bottom entry on the stack it pushes.
int ReplaceRenderTarget(TextureId texture, TextureId depth);
// Back to what was current before the top entry's push. -1 when only the
// bottom entry is left.
int PopRenderTarget();
void PopAllRenderTargets();
// Entries on the stack, the bottom one included (0 before InitRenderLayer).
int RenderTargetDepth();
// The current target's size in pixels.
float RenderTargetWidth();
float RenderTargetHeight();
// From the virtual 640 x 480 screen to pixels of the current target.
float ScaleX(float x);
float ScaleY(float y);

// --- times (seconds) ---------------------------------------------------------
// The time of the deck being drawn: set by the Server before each deck and
// moved by the effect script; material waves read it.
float EffectTime();
void SetEffectTime(float seconds);
// The frame loop's time, set once per frame.
float GlobalTime();
void SetGlobalTime(float seconds);


// ===========================================================================
// 9. Materials. A material ("shader") says how a surface is drawn: one or
// more passes, each with blending, a texture, stage operations, filtering,
// culling, depth test and optional animated colour and scale. Materials are
// read from material scripts (tag syntax, data/shaders/*.txt) into a
// ShaderManager, handed out by name with reference counts, and drawn pass by
// pass, directly (ApplyPass) or through the sorted render queue.
//
// Managers are stacked; the top one is current. A ShaderHandle is an id in
// the current manager's shader table, a TextureHandle an id in its texture
// table, so owners draw only with their own manager pushed.
// ===========================================================================

using ShaderHandle = int32_t;   // -1: none
using TextureHandle = int32_t;  // -1: none

// --- waves -----------------------------------------------------------------

enum WaveType : int32_t {
  WF_CONSTANT = 0,
  WF_SIN = 1,
  WF_TRIANGLE = 2,
  WF_SQUARE = 3,
  WF_SAWTOOTH = 4,
  WF_INVSAWTOOTH = 5,
};

// A periodic value; all zero is the constant 0.
struct Wave {
  int32_t type = WF_CONSTANT;
  float base = 0.0f;
  float amplitude = 0.0f;
  float frequency = 0.0f;  // periods per second
  float offset = 0.0f;     // phase, in periods
};

// The wave's value at `time` seconds (an unknown type gives 0).
float EvaluateWave(const Wave& wave, float time);

// --- passes and shaders ------------------------------------------------------

// ShaderPass::flags.
inline constexpr uint32_t kPassColorWave = 0x01;
inline constexpr uint32_t kPassAlphaWave = 0x02;
inline constexpr uint32_t kPassScaleWave = 0x04 | 0x08;
inline constexpr uint32_t kPassNoZWrite = 0x10;
inline constexpr uint32_t kPassMatrixScale = 0x20;
inline constexpr uint32_t kPassSpecularHighlight = 0x40;
inline constexpr uint32_t kPassMirror = 0x80;

// Texture-coordinate generation of a pass.
enum TexGen : int32_t {
  TEXGEN_PASSTHRU = 0,
  TEXGEN_SPHERE_REFLECTION = 1,
  TEXGEN_CAMERA_REFLECTION = 2,
  TEXGEN_CUBE_REFLECTION = 3,
};

struct ShaderPass {
  Shade shade_mode = SHADE_GOURAUD;
  Fill fill_mode = FILL_SOLID;
  uint32_t flags = 0;
  int32_t tex_gen = TEXGEN_PASSTHRU;
  bool has_texture_name = false;
  std::string texture_name;  // as written in the script (or given in code)
  TextureHandle texture = -1;  // resolved on first use
  Blend src_blend = BLEND_ONE;
  Blend dst_blend = BLEND_ZERO;
  uint32_t color_arg1 = TA_TEXTURE;
  uint32_t color_arg2 = TA_DIFFUSE;
  TextureOp color_op = TOP_MODULATE;
  uint32_t alpha_arg1 = TA_DIFFUSE;
  uint32_t alpha_arg2 = TA_DIFFUSE;
  TextureOp alpha_op = TOP_SELECTARG1;
  Cull cull = CULL_CW;
  TextureFilter mip_filter = TEXF_LINEAR;
  TextureFilter mag_filter = TEXF_LINEAR;
  TextureFilter min_filter = TEXF_LINEAR;
  Cmp z_func = CMP_LESSEQUAL;
  Color texture_factor = 0;  // 0x00RRGGBB
  Wave scale_wave;           // SCALE or MATRIXSCALE
  Wave color_wave;
  Wave alpha_wave;
  Material material;
};

// Priorities: the render queue's buckets, drawn in ascending order.
enum Priority : int32_t {
  PR_FIRST = 0,
  PR_OPAQUE = 3,
  PR_ADDITIVE = 6,
  PR_ADDITIVE2 = 7,
  PR_ADDITIVE3 = 8,
  PR_TRANSPARENT = 12,
  PR_TRANSPARENT2 = 13,
  PR_TRANSPARENT3 = 14,
  PR_LAST = 15,
};
inline constexpr int kPriorityCount = 16;

enum SpriteMode : int32_t { SPRITE_NONE = 0, SPRITE_AUTO = 1, SPRITE_LIST = 2 };

// Shader::flags.
inline constexpr uint32_t kShaderSpecialPath = 0x01;  // SPRITELIST, AUTOSPRITE or DISTORTNORMAL
inline constexpr uint32_t kShaderVoxelize = 0x02;
inline constexpr uint32_t kShaderVoxelNoCull = 0x04;
inline constexpr uint32_t kShaderVoxelStatic = 0x08;

// Fills the vertices of one draw item in place of the usual transform (the
// vertex deformers of the post-processing effect). `destination` has room
// for `vertex_count` vertices.
class VertexGenerator {
 public:
  virtual ~VertexGenerator() = default;
  virtual void Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                        const uint16_t* indices, uint32_t index_count, const Matrix& world) = 0;
};

struct Shader {
  int32_t priority = PR_OPAQUE;
  std::vector<ShaderPass> passes;
  int32_t sprite_mode = SPRITE_NONE;
  float sprite_value = 0.0f;  // SPRITELIST: the sprite size
  bool distort_normal = false;
  std::string name;  // upper case
  int32_t ref_count = 0;
  VertexGenerator* vertex_generator = nullptr;  // not owned
  uint32_t flags = 0;
  uint8_t receive_shadows = 0;
  uint8_t project_shadows = 0;
  uint8_t project_beams = 0;
  uint8_t mirror = 0;

  int PassCount() const { return static_cast<int>(passes.size()); }
};

// Kinds of CreateBuiltinShader.
enum BuiltinShaderKind : int32_t {
  BUILTIN_UNTEXTURED = 0,        // no texture, no culling (the NULL shader)
  BUILTIN_TEXTURED = 1,          // the texture
  BUILTIN_SPHERE_MAPPED = 2,     // the texture with sphere-reflection coordinates
  BUILTIN_TEXTURED_PLUS_ENV = 3, // the texture, then the second with sphere reflection
  BUILTIN_COLOR = 4,             // no texture, no culling, the colour as texture factor
};

// One material library: its shaders and the textures they use.
class ShaderManager {
 public:
  struct TextureEntry {
    std::string name;       // as asked for
    int32_t texture = -1;   // TextureId in the render layer
    int32_t count = 0;      // references
  };

  ShaderManager() = default;
  ~ShaderManager();
  ShaderManager(const ShaderManager&) = delete;
  ShaderManager& operator=(const ShaderManager&) = delete;

  // Start-up: empty tables, the NULL shader (handle 0), the drawn-triangle
  // counter at 0, the start hook run. 0 or -1 (the owner shows "Error
  // initializing Shader Manager").
  int Init();
  // Releases every shader's textures, the shaders and the textures. The
  // manager may be started again.
  void Shutdown();
  bool Initialized() const { return initialized_; }

  // Parses every "*.txt" of the folder in listing order; the first failing
  // file stops the scan with -1 (the shaders read so far stay). A missing
  // folder has no scripts: 0.
  int ParseShaderDirectory(const char* directory);
  // Adds the file's SHADER tags. Shows "Error: Error parsing %s" when the
  // file does not parse and "Error parsing %s\n" when a shader fails. 0/-1.
  int ParseShaderFile(const char* path);
  // The same from text (no file): `path` only names it in messages.
  int ParseShaderText(const char* text, const char* path);

  // A reference to the shader of that name (case ignored); the first
  // reference loads its textures. An unknown name becomes a one-pass
  // textured shader of the texture of that name. -1 when a texture cannot
  // be loaded (nothing is kept).
  ShaderHandle GetShader(const char* name);
  // Drops a reference; the last one releases the shader's textures (the
  // shader stays parsed).
  void ReleaseShader(ShaderHandle handle);
  // Makes (or takes a further reference on) a shader from code. The name is
  // reduced to its base name and upper-cased. -1 on failure.
  ShaderHandle CreateBuiltinShader(const char* name, int kind, const char* texture = nullptr,
                                   const char* second_texture = nullptr, Color color = 0);
  // The handle of a shader by name (case ignored) without taking a
  // reference, or -1.
  ShaderHandle FindShader(const char* name) const;

  Shader* GetShaderByHandle(ShaderHandle handle) { return shaders_.Get(handle); }
  const Shader* GetShaderByHandle(ShaderHandle handle) const { return shaders_.Get(handle); }
  int ShaderCount() const { return shaders_.Count(); }
  // Handles in table order: FirstShader(), then NextShader(h) until -1.
  ShaderHandle FirstShader() const { return shaders_.First(); }
  ShaderHandle NextShader(ShaderHandle handle) const { return shaders_.Next(handle); }

  // A texture of this manager's table by name (an existing entry of exactly
  // that name gains a count). Names starting "BUMP_" become normal maps,
  // "CMAP_" cube maps of six faces. -1 when loading fails.
  TextureHandle ResolveTexture(const char* name);
  void ReleaseTextureHandle(TextureHandle handle);
  const TextureEntry* GetTextureEntry(TextureHandle handle) const { return textures_.Get(handle); }
  int TextureCount() const { return textures_.Count(); }
  // The texture to bind for a pass (cube texture first), or nullptr.
  std::shared_ptr<BaseTexture> PassTexture(const ShaderPass& pass) const;

  // While set, ApplyPass swaps clockwise and counter-clockwise culling
  // (drawing a mirrored view).
  bool mirrored = false;

 private:
  int ParseShader(const text::TagNode* node);
  int ResolvePassTextures(Shader* shader);
  void ReleasePassTextures(Shader* shader);
  ShaderHandle TakeReference(ShaderHandle handle);

  core::ObjectPool<Shader> shaders_;
  core::ObjectPool<TextureEntry> textures_;
  bool initialized_ = false;
};

// The handle of the NULL shader: the first shader of every manager.
inline constexpr ShaderHandle kNullShader = 0;

// Static start-up and shut-down of materials: the manager stack and the
// render queue. 0 or -1 (the Server shows "Error static initializing
// ShaderManager").
int InitShaderSystem();
void ShutdownShaderSystem();

// The manager stack. Push while loading and drawing, pop afterwards.
int PushShaderManager(ShaderManager* manager);
void PopShaderManager();
ShaderManager* CurrentShaderManager();
int ShaderManagerDepth();

// Runs whenever a manager starts (the vertex deformers re-seed their random
// phases there). An empty function removes it.
void SetShaderManagerStartHook(std::function<void()> hook);

// --- drawing state -------------------------------------------------------------

// What the camera-facing materials need of the current camera. The scene
// engine's cameras implement it.
class Camera {
 public:
  virtual ~Camera() = default;
  // Rows 0-2: the camera's right, up and forward axes in world space; row 3
  // (0, 0, 0, 1).
  virtual Matrix Orientation() const = 0;
};
// A camera standing still with a fixed orientation.
class FixedCamera final : public Camera {
 public:
  explicit FixedCamera(const Matrix& orientation = Matrix::Identity()) : orientation_(orientation) {}
  Matrix Orientation() const override { return orientation_; }
  void SetOrientation(const Matrix& orientation) { orientation_ = orientation; }

 private:
  Matrix orientation_;
};
// nullptr: the identity orientation (a camera looking down +Z).
void SetCurrentCamera(const Camera* camera);
const Camera* CurrentCamera();

// While set, every pass blends additively (one, one).
void SetAdditiveOverride(bool on);
bool AdditiveOverride();

// Triangles drawn through materials since the last manager start.
uint32_t TrianglesDrawn();
void ResetTrianglesDrawn();

// Sets every state of pass `pass` of the current manager's shader. 0, or -1
// for an unknown shader or pass (nothing set).
int ApplyPass(ShaderHandle shader, int pass);

// --- the render queue ----------------------------------------------------------

// One piece of geometry. Items belong to the submitter and must stay valid
// until the queue is flushed.
struct DrawItem {
  int32_t vertex_buffer = -1;  // static vertex buffer id, or -1: `vertices`
  int32_t index_buffer = -1;   // static index buffer id (with vertex_buffer)
  const RenderVertex* vertices = nullptr;  // object space
  const uint16_t* indices = nullptr;       // three per triangle, from the item's first vertex
  uint32_t base_vertex = 0;                // static path: base vertex and minimum index
  uint32_t vertex_count = 0;
  uint32_t start_index = 0;                // static path: first index
  int32_t triangle_count = 0;
  Matrix world = Matrix::Identity();
  float depth = 0.0f;  // sort key: distance from the viewer
  ShaderHandle shader = -1;
};

// Queues the item in the bucket of its shader's priority. -1 (not queued)
// for a shader that the current manager does not have.
int SubmitDrawItem(const DrawItem* item);
// Sorts each bucket by shader, then by depth (nearest first in PR_OPAQUE,
// farthest first elsewhere), draws it and empties it.
void FlushRenderQueue();
// Items waiting in a bucket (0..15).
int QueuedItemCount(int bucket);
// Draws `count` items with every pass of the shader. With `batch` the items
// are cut into groups that fit the shared dynamic buffers.
void DrawWithShader(ShaderHandle shader, const DrawItem* const* items, int count, bool batch);

// --- test hooks ------------------------------------------------------------------

// One draw the materials issued.
enum class MaterialDrawPath { kStatic, kDynamic, kSprites };
struct MaterialDraw {
  MaterialDrawPath path;
  ShaderHandle shader;
  int pass;
  const DrawItem* first_item;  // the group's first item
  int item_count;
  uint32_t vertex_count;
  uint32_t triangle_count;
};
// Called for every draw (tests, benchmarks); an empty function removes it.
void SetMaterialDrawObserver(std::function<void(const MaterialDraw&)> observer);

// Where FlushRenderQueue spends its time, summed while profiling is on.
struct MaterialProfile {
  double sort_seconds = 0.0;       // sorting the buckets
  double transform_seconds = 0.0;  // transforming vertices and copying indices into the shared buffers
  double buffer_seconds = 0.0;     // locking and unlocking the shared buffers (the upload)
  double total_seconds = 0.0;      // whole flushes
  uint64_t items = 0;              // items flushed
};
void SetMaterialProfiling(bool on);  // also zeroes the sums
MaterialProfile GetMaterialProfile();
// Off: the queue draws every item of a plain shader on its own, even where
// one draw of the run gives the same pixels (benchmarks compare the two).
void SetRenderQueueMerging(bool on);

}  // namespace render

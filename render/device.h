// The Direct3D-8-style device over OpenGL 3.3 core: values (render states,
// stage states, formats, flags, with Direct3D's numbering kept in our own
// enums), structures (matrices, viewports, caps, materials), resources
// (textures, cube textures, surfaces, vertex and index buffers) and the
// device itself, with the calls that make one.
//
// Typical use:
//   auto device = render::CreateHeadlessDevice(512, 512);
//   device->SetRenderState(render::RS_ZENABLE, render::ZB_FALSE);
//   device->BeginScene(); ... device->DrawPrimitiveUP(...); device->EndScene();
//
// Drawing code is written against fixed-function Direct3D 8 semantics; the
// device keeps them (and their numbers) and implements them with GLSL
// programs generated from the states that change the shading.
//
// Not here: how contexts are made (gl_context.h), the process-wide display
// and its state caches (display.h), id tables and targets (layer.h),
// materials (materials.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/values.h"

namespace render {

// ===========================================================================
// Structures
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

// A 3-D vector as Direct3D's D3DVECTOR.
struct Vector {
  float x = 0.0f, y = 0.0f, z = 0.0f;
  bool operator==(const Vector& o) const { return x == o.x && y == o.y && z == o.z; }
};

// Light types (Direct3D numbering).
enum LightType : uint32_t { LIGHT_POINT = 1, LIGHT_SPOT = 2, LIGHT_DIRECTIONAL = 3 };

// A light as Direct3D 8's D3DLIGHT8, fields in its order (104 bytes of
// 32-bit fields when written field by field, as scene files store it).
struct Light {
  LightType type = LIGHT_DIRECTIONAL;
  ColorValue diffuse, specular, ambient;
  Vector position, direction;
  float range = 0.0f, falloff = 0.0f;
  float attenuation0 = 0.0f, attenuation1 = 0.0f, attenuation2 = 0.0f;
  float theta = 0.0f, phi = 0.0f;
  bool operator==(const Light& o) const {
    return type == o.type && diffuse == o.diffuse && specular == o.specular && ambient == o.ambient &&
           position == o.position && direction == o.direction && range == o.range && falloff == o.falloff &&
           attenuation0 == o.attenuation0 && attenuation1 == o.attenuation1 && attenuation2 == o.attenuation2 &&
           theta == o.theta && phi == o.phi;
  }
};
inline constexpr uint32_t kLightRecordBytes = 104;
inline constexpr uint32_t kMaxLights = 8;
inline constexpr uint32_t kMaxClipPlanes = 8;

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
// Resources. Made by the device; shared pointers stand for Direct3D's
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
// Device
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
  // Back to the default states (all lights and clip planes off, no light
  // set), with a new back buffer when its size or format changed.
  // Resources survive.
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
  // The lighting material. Refused (kErrInvalidCall, the old one kept) when
  // a value is NaN or infinite; a negative power draws as 0.
  virtual int SetMaterial(const Material& material) = 0;
  virtual Material GetMaterial() const = 0;
  // Lights 0..7, in world space as given: the view in effect at each draw
  // applies. Refused (kErrInvalidCall, the old record kept): an index past
  // 7, an unknown type, a NaN or an infinite colour, position or
  // direction, a negative range or attenuation, point and spot lights with
  // all three attenuations 0, directional and spot lights with a zero
  // direction. An infinite attenuation is kept and lights nothing.
  virtual int SetLight(uint32_t index, const Light& light) = 0;
  // kErrInvalidCall for an index past 7 or a light never set.
  virtual int GetLight(uint32_t index, Light* light) const = 0;
  // Enabling a light never set makes it Direct3D's default light (white
  // directional light along +Z).
  virtual int LightEnable(uint32_t index, bool enable) = 0;
  virtual int GetLightEnable(uint32_t index, bool* enable) const = 0;
  // User clip plane a, b, c, d in world space (0..7): CLIPPLANEENABLE bit i
  // keeps the points with a x + b y + c z + d >= 0. A plane with a NaN or
  // an infinity is refused.
  virtual int SetClipPlane(uint32_t index, const float plane[4]) = 0;
  virtual int GetClipPlane(uint32_t index, float plane[4]) const = 0;

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
  // Draws are refused (kErrInvalidCall) when they would read past the bound
  // vertex or index buffer, and (kErrOutOfMemory) when memory-drawn
  // geometry exceeds kMaxDrawBytes: sizes computed from a file never wrap.
  static constexpr uint64_t kMaxDrawBytes = uint64_t{256} << 20;
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

}  // namespace render

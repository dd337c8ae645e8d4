// The render device layer. Drawing code names textures, depth surfaces and
// buffers by integer ids (-1 for none), streams immediate geometry
// through one shared dynamic vertex buffer and one dynamic index buffer, and
// draws into textures through a stack of render targets whose bottom entry
// is the device's back buffer. Also: textures made from images, and the two
// times (effect time, global time) the drawing code reads.
//
// Typical use:
//   render::InitRenderLayer();
//   render::TextureId target = render::CreateRenderTexture(512, 512, render::FMT_X8R8G8B8, 1);
//   render::PushRenderTarget(target, render::kNoId); ...draw...; render::PopRenderTarget();
//   render::ReleaseTexture(target); render::ShutdownRenderLayer();
//
// Main thread only. Every call is safe before InitRenderLayer (it fails or
// returns none). Not here: materials and the render queue (materials.h).
#pragma once

#include <cstdint>
#include <memory>

#include "render/device.h"

namespace media {
struct Image;
}

namespace render {

// ===========================================================================
// Render device layer. Drawing code names textures, depth surfaces and
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

// A pre-transformed vertex (kFvfScreenVertex, 28 bytes): pixel position,
// rhw, colour, one coordinate pair.
struct ScreenVertex {
  float x, y, z, rhw;
  Color diffuse;  // A8R8G8B8
  float u, v;
};
static_assert(sizeof(ScreenVertex) == 28);

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
// The texture of the top entry, -1 for the back buffer (and before
// InitRenderLayer).
TextureId CurrentRenderTargetTexture();
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

}  // namespace render

// Render device layer: id tables, shared dynamic buffers, the render-target
// stack and the two times.
//
// Design: all state sits in one LayerState made by InitRenderLayer and
// dropped by ShutdownRenderLayer, so a shut-down layer holds nothing and
// every call before or after fails cleanly. The tables are ObjectPools:
// an id carries its slot's generation, so an id released (or released
// twice) fails even after another object took its slot.
// Table entries hold shared pointers; whoever binds an object to the
// device keeps it alive on its own, so releasing an id never leaves the
// device with a dangling object.
//
// The shared dynamic buffers are filled front to back with no-overwrite
// locks; one discard flag (set once a frame) or running out of room sends
// the next append back to offset 0 with a discarding lock, so nothing ever
// waits for a draw that still reads the buffer.
//
// The two times do not depend on the device and live outside the state.
#include <cmath>
#include <memory>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/layer_internal.h"
#include "render/materials.h"
#include "render/values.h"

namespace render {
namespace {

struct TextureEntry {
  std::shared_ptr<CubeTexture> cube;
  std::shared_ptr<Texture> texture;
  std::shared_ptr<Surface> depth;
};

template <typename Buffer>
struct BufferEntry {
  std::shared_ptr<Buffer> buffer;
  uint32_t size = 0;    // bytes
  uint32_t offset = 0;  // where the next dynamic append writes
};

// One level of the target stack: what was current before the push, and
// what is drawn into now.
struct TargetEntry {
  std::shared_ptr<Surface> saved_color;
  std::shared_ptr<Surface> saved_depth;
  std::shared_ptr<Texture> texture;
  TextureId texture_id = kNoId;
  TextureId depth_id = kNoId;
};

struct LayerState {
  Device* device = nullptr;
  bool display_device = false;  // the display's device: its mode says what the adapter offers
  uint32_t max_texture_width = 0, max_texture_height = 0;
  core::GrowableArray<TargetEntry> targets;  // the last entry is the top
  int shared_vertex_buffer = kNoId;
  int shared_index_buffer = kNoId;
  TextureId aux_render[2] = {kNoId, kNoId};
  TextureId aux_depth = kNoId;
  float target_width = 0.0f, target_height = 0.0f;
};

// The id tables outlive a shutdown of the layer, emptied entry by entry, so
// their generations keep counting: an id from before a restart never names
// an object made after it.
struct LayerTables {
  core::ObjectPool<TextureEntry> textures;
  core::ObjectPool<BufferEntry<VertexBuffer>> vertex_buffers;
  core::ObjectPool<BufferEntry<IndexBuffer>> index_buffers;
};

std::unique_ptr<LayerState> g_layer;
LayerTables g_tables;
// One flag for both shared buffers: the first append of a frame consumes it.
bool g_discard = false;
uint32_t g_last_lock_flags = 0;
float g_effect_time = 0.0f;
float g_global_time = 0.0f;

void RefreshTargetSize() {
  LayerState& s = *g_layer;
  std::shared_ptr<Surface> target = s.device->GetRenderTarget();
  if (!target) return;
  SurfaceDesc desc = target->GetDesc();
  s.target_width = static_cast<float>(desc.width);
  s.target_height = static_cast<float>(desc.height);
}

// Depth formats the adapter offers for the layer's device (kDepth* bits).
uint32_t OfferedDepthFormats() {
  LayerState& s = *g_layer;
  if (s.display_device) {
    const DisplayMode* mode = CurrentDisplayMode();
    const Direct3DInfo* d3d = GetDirect3D();
    if (s.device->GetPresentParameters().windowed) {
      if (d3d) return d3d->info.depth_formats;
    } else if (mode) {
      return mode->depth_formats;
    }
  }
  // A device of its own makes every depth format it knows.
  return kDepthD16Lockable | kDepthD16 | kDepthD24S8 | kDepthD24X8 | kDepthD32;
}

bool DeviceHasStencil() {
  LayerState& s = *g_layer;
  if (s.display_device) {
    const DisplayMode* mode = CurrentDisplayMode();
    if (mode) return (mode->flags & kModeHasStencil) != 0;
  }
  return FormatHasStencil(s.device->GetPresentParameters().auto_depth_stencil_format);
}

uint32_t DepthBit(Format format) {
  switch (format) {
    case FMT_D16_LOCKABLE: return kDepthD16Lockable;
    case FMT_D32: return kDepthD32;
    case FMT_D15S1: return kDepthD15S1;
    case FMT_D24S8: return kDepthD24S8;
    case FMT_D16: return kDepthD16;
    case FMT_D24X8: return kDepthD24X8;
    case FMT_D24X4S4: return kDepthD24X4S4;
    default: return 0;
  }
}

// The depth-stencil format check and the match check against the colour
// format the surface will be drawn with.
bool DepthFormatUsable(Format depth, Format target) {
  return (OfferedDepthFormats() & DepthBit(depth)) != 0 && FormatIsTextureFormat(target);
}

TextureId AddTexture(std::shared_ptr<Texture> texture) {
  return layer::AddTextureEntry(std::move(texture), nullptr, nullptr);
}

template <typename Buffer>
int AppendDynamic(core::ObjectPool<BufferEntry<Buffer>>* table, int id, uint32_t bytes, void** data,
                  bool vertices) {
  if (data) *data = nullptr;
  BufferEntry<Buffer>* entry = table->Get(id);
  if (!entry || !data) return -1;
  if (bytes > entry->size) {
    if (vertices)
      core::ShowError("en VB dinamico no caben %u bytes. Probablemente el objeto tenga demasiados poligonos", bytes);
    return -1;
  }
  if (bytes == 0) return -1;  // nothing to lock
  uint32_t flags = LOCK_NOOVERWRITE;
  if (g_discard || bytes > entry->size - entry->offset) {
    entry->offset = 0;
    g_discard = false;
    flags = LOCK_DISCARD;
  }
  void* pointer = nullptr;
  if (entry->buffer->Lock(entry->offset, bytes, &pointer, flags) != kOk) return -1;
  g_last_lock_flags = flags;
  int offset = static_cast<int>(entry->offset);
  entry->offset += bytes;
  *data = pointer;
  return offset;
}

// Makes level 0 of `texture` (with `depth`) the device's target. On
// success fills the texture and returns 0; the target is unchanged on -1.
int BindTarget(TextureId texture, TextureId depth, std::shared_ptr<Texture>* bound) {
  LayerState& s = *g_layer;
  std::shared_ptr<Texture> target = GetTextureById(texture);
  if (!target) {
    core::Trace("Render/Depth aux buffers weren't initialized\n");
    return -1;
  }
  std::shared_ptr<Surface> color = target->GetSurfaceLevel(0);
  std::shared_ptr<Surface> depth_surface = GetDepthSurfaceById(depth);
  if (!color || s.device->SetRenderTarget(color, depth_surface) != kOk) {
    core::Trace("RENDER: texture %i cannot be drawn into\n", texture);
    return -1;
  }
  *bound = std::move(target);
  RefreshTargetSize();
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Internal
// ---------------------------------------------------------------------------

namespace layer {

uint32_t MaxTextureWidth() { return g_layer ? g_layer->max_texture_width : 0; }
uint32_t MaxTextureHeight() { return g_layer ? g_layer->max_texture_height : 0; }

TextureId AddTextureEntry(std::shared_ptr<Texture> texture, std::shared_ptr<CubeTexture> cube,
                          std::shared_ptr<Surface> depth) {
  if (!g_layer) return kNoId;
  int set = (texture ? 1 : 0) + (cube ? 1 : 0) + (depth ? 1 : 0);
  if (set != 1) return kNoId;
  return g_tables.textures.Add(TextureEntry{std::move(cube), std::move(texture), std::move(depth)});
}

}  // namespace layer

// ---------------------------------------------------------------------------
// Start-up and shut-down
// ---------------------------------------------------------------------------

int InitRenderLayer(Device* device) {
  ShutdownRenderLayer();
  if (!device) device = GetDevice();
  if (!device) return -1;
  g_layer = std::make_unique<LayerState>();
  LayerState& s = *g_layer;
  s.device = device;
  s.display_device = device == GetDevice();
  const Caps& caps = device->GetDeviceCaps();
  s.max_texture_width = caps.max_texture_width;
  s.max_texture_height = caps.max_texture_height;
  if (s.max_texture_width == 0 || s.max_texture_height == 0) {
    ShutdownRenderLayer();
    return -1;
  }
  s.shared_vertex_buffer = AddVertexBuffer(kSharedVertexBufferBytes, USAGE_DYNAMIC, kFvfRenderVertex, POOL_DEFAULT);
  s.shared_index_buffer = AddIndexBuffer(kSharedIndexBufferBytes, USAGE_DYNAMIC, FMT_INDEX16, POOL_DEFAULT);
  TargetEntry bottom;
  bottom.saved_color = device->GetBackBuffer();
  bottom.saved_depth = device->GetDepthStencilSurface();
  if (s.shared_vertex_buffer < 0 || s.shared_index_buffer < 0 || !bottom.saved_color ||
      s.targets.Add(std::move(bottom)) < 0) {
    core::Trace("RENDER: render layer start-up failed\n");
    ShutdownRenderLayer();
    return -1;
  }
  RefreshTargetSize();
  if (AuxRenderTexture(0) < 0 || AuxRenderTexture(1) < 0 || AuxDepthSurface(0) < 0) {
    core::Trace("RENDER: render layer start-up failed\n");
    ShutdownRenderLayer();
    return -1;
  }
  g_discard = true;
  return 0;
}

void ShutdownRenderLayer() {
  if (!g_layer) return;
  LayerState& s = *g_layer;
  // Back onto the back buffer so the device holds none of our targets. A
  // reset to a new size already put the device on its new back buffer.
  if (s.targets.Size() > 0) {
    while (s.targets.Size() > 1) PopRenderTarget();
    if (s.targets[0].saved_color == s.device->GetBackBuffer())
      s.device->SetRenderTarget(s.targets[0].saved_color, s.targets[0].saved_depth);
  }
  RemoveVertexBuffer(s.shared_vertex_buffer);
  RemoveIndexBuffer(s.shared_index_buffer);
  for (TextureId& id : s.aux_render) ReleaseTexture(id);
  ReleaseTexture(s.aux_depth);
  g_tables.textures.ReleaseAll();
  g_tables.vertex_buffers.ReleaseAll();
  g_tables.index_buffers.ReleaseAll();
  g_layer.reset();  // the bottom entry and the stack
}

bool RenderLayerReady() { return g_layer != nullptr; }
Device* LayerDevice() { return g_layer ? g_layer->device : nullptr; }

// ---------------------------------------------------------------------------
// Textures
// ---------------------------------------------------------------------------

TextureId CreateTexture(uint32_t width, uint32_t height, Format format, uint32_t levels) {
  if (!g_layer) return kNoId;
  TextureId id = AddTexture(g_layer->device->CreateTexture(width, height, levels, 0, format, POOL_MANAGED));
  if (id < 0) {
    core::Trace("Failed to create texture\n");
    return kNoId;
  }
  core::Trace("Created texture with id %i\n", id);
  return id;
}

TextureId CreateRenderTexture(uint32_t width, uint32_t height, Format format, uint32_t levels) {
  if (!g_layer) return kNoId;
  // Video memory for the target first; managed textures come back by themselves.
  g_layer->device->ResourceManagerDiscardBytes(0);
  TextureId id =
      AddTexture(g_layer->device->CreateTexture(width, height, levels, USAGE_RENDERTARGET, format, POOL_DEFAULT));
  if (id < 0) {
    core::Trace("Failed to create render texture\n");
    return kNoId;
  }
  core::Trace("Created render texture with id %i\n", id);
  return id;
}

TextureId CreateDynamicTexture(uint32_t width, uint32_t height, Format format, uint32_t levels) {
  if (!g_layer) return kNoId;
  g_layer->device->ResourceManagerDiscardBytes(0);
  if (!(g_layer->device->GetDeviceCaps().caps2 & CAPS2_DYNAMICTEXTURES)) return kNoId;
  TextureId id =
      AddTexture(g_layer->device->CreateTexture(width, height, levels, USAGE_DYNAMIC, format, POOL_DEFAULT));
  if (id < 0) {
    core::Trace("Failed to create dynamic texture\n");
    return kNoId;
  }
  core::Trace("Created dynamic texture with id %i\n", id);
  return id;
}

TextureId CreateDepthSurface(uint32_t width, uint32_t height, Format target_format) {
  if (!g_layer) return kNoId;
  Format format = FMT_UNKNOWN;
  if (DeviceHasStencil()) {
    if (DepthFormatUsable(FMT_D24S8, target_format)) format = FMT_D24S8;
  } else {
    for (Format candidate : {FMT_D16_LOCKABLE, FMT_D16, FMT_D32}) {
      if (DepthFormatUsable(candidate, target_format)) {
        format = candidate;
        break;
      }
    }
  }
  if (format == FMT_UNKNOWN) return kNoId;
  std::shared_ptr<Surface> surface = g_layer->device->CreateDepthStencilSurface(width, height, format);
  if (!surface) return kNoId;
  return layer::AddTextureEntry(nullptr, nullptr, std::move(surface));
}

void ReleaseTexture(TextureId id) {
  if (!g_layer || g_tables.textures.Release(id) != 0) return;
  // A released aux target is made again on its next use, never confused
  // with whatever reuses its slot.
  for (TextureId& aux : g_layer->aux_render)
    if (aux == id) aux = kNoId;
  if (g_layer->aux_depth == id) g_layer->aux_depth = kNoId;
}

std::shared_ptr<Texture> GetTextureById(TextureId id) {
  if (!g_layer) return nullptr;
  const TextureEntry* entry = g_tables.textures.Get(id);
  return entry ? entry->texture : nullptr;
}

std::shared_ptr<CubeTexture> GetCubeTextureById(TextureId id) {
  if (!g_layer) return nullptr;
  const TextureEntry* entry = g_tables.textures.Get(id);
  return entry ? entry->cube : nullptr;
}

std::shared_ptr<BaseTexture> GetBaseTextureById(TextureId id) {
  if (!g_layer) return nullptr;
  const TextureEntry* entry = g_tables.textures.Get(id);
  if (!entry) return nullptr;
  if (entry->texture) return entry->texture;
  return entry->cube;
}

std::shared_ptr<Surface> GetDepthSurfaceById(TextureId id) {
  if (!g_layer) return nullptr;
  const TextureEntry* entry = g_tables.textures.Get(id);
  return entry ? entry->depth : nullptr;
}

int TextureCount() { return g_layer ? g_tables.textures.Count() : 0; }

TextureId AuxRenderTexture(int index) {
  if (!g_layer || index < 0 || index > 1) return kNoId;
  TextureId& id = g_layer->aux_render[index];
  if (id < 0) id = CreateRenderTexture(kAuxTargetSize, kAuxTargetSize, FMT_X8R8G8B8, 1);
  return id;
}

TextureId AuxDepthSurface(int index) {
  if (!g_layer || index != 0) return kNoId;
  TextureId& id = g_layer->aux_depth;
  if (id < 0) id = CreateDepthSurface(kAuxTargetSize, kAuxTargetSize, FMT_X8R8G8B8);
  return id;
}

// ---------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------

int AddVertexBuffer(uint32_t bytes, uint32_t usage, uint32_t fvf, Pool pool) {
  if (!g_layer) return kNoId;
  std::shared_ptr<VertexBuffer> buffer = g_layer->device->CreateVertexBuffer(bytes, usage | USAGE_WRITEONLY, fvf, pool);
  if (!buffer) return kNoId;
  return g_tables.vertex_buffers.Add(BufferEntry<VertexBuffer>{std::move(buffer), bytes, 0});
}

int AddIndexBuffer(uint32_t bytes, uint32_t usage, Format format, Pool pool) {
  if (!g_layer) return kNoId;
  std::shared_ptr<IndexBuffer> buffer = g_layer->device->CreateIndexBuffer(bytes, usage | USAGE_WRITEONLY, format, pool);
  if (!buffer) return kNoId;
  return g_tables.index_buffers.Add(BufferEntry<IndexBuffer>{std::move(buffer), bytes, 0});
}

int RemoveVertexBuffer(int id) { return g_layer ? g_tables.vertex_buffers.Release(id) : -1; }
int RemoveIndexBuffer(int id) { return g_layer ? g_tables.index_buffers.Release(id) : -1; }

std::shared_ptr<VertexBuffer> GetVertexBufferById(int id) {
  if (!g_layer) return nullptr;
  const BufferEntry<VertexBuffer>* entry = g_tables.vertex_buffers.Get(id);
  return entry ? entry->buffer : nullptr;
}

std::shared_ptr<IndexBuffer> GetIndexBufferById(int id) {
  if (!g_layer) return nullptr;
  const BufferEntry<IndexBuffer>* entry = g_tables.index_buffers.Get(id);
  return entry ? entry->buffer : nullptr;
}

int VertexBufferCount() { return g_layer ? g_tables.vertex_buffers.Count() : 0; }
int IndexBufferCount() { return g_layer ? g_tables.index_buffers.Count() : 0; }
int SharedVertexBuffer() { return g_layer ? g_layer->shared_vertex_buffer : kNoId; }
int SharedIndexBuffer() { return g_layer ? g_layer->shared_index_buffer : kNoId; }

int AppendDynamicVertices(int id, uint32_t bytes, void** data) {
  if (!g_layer) return -1;
  return AppendDynamic(&g_tables.vertex_buffers, id, bytes, data, true);
}

int AppendDynamicIndices(int id, uint32_t bytes, void** data) {
  if (!g_layer) return -1;
  return AppendDynamic(&g_tables.index_buffers, id, bytes, data, false);
}

int UnlockDynamicVertices(int id) {
  std::shared_ptr<VertexBuffer> buffer = GetVertexBufferById(id);
  return buffer && buffer->Unlock() == kOk ? 0 : -1;
}

int UnlockDynamicIndices(int id) {
  std::shared_ptr<IndexBuffer> buffer = GetIndexBufferById(id);
  return buffer && buffer->Unlock() == kOk ? 0 : -1;
}

void DiscardDynamicBuffers() { g_discard = true; }
uint32_t LastDynamicLockFlags() { return g_last_lock_flags; }

// ---------------------------------------------------------------------------
// Render targets
// ---------------------------------------------------------------------------

int PushRenderTarget(TextureId texture, TextureId depth) {
  if (!g_layer) return -1;
  LayerState& s = *g_layer;
  TargetEntry entry;
  entry.saved_color = s.device->GetRenderTarget();
  entry.saved_depth = s.device->GetDepthStencilSurface();
  if (BindTarget(texture, depth, &entry.texture) != 0) return -1;
  entry.texture_id = texture;
  entry.depth_id = depth;
  std::shared_ptr<Surface> saved_color = entry.saved_color, saved_depth = entry.saved_depth;
  if (s.targets.Add(std::move(entry)) < 0) {
    // No room to remember the way back: undo the switch.
    s.device->SetRenderTarget(saved_color, saved_depth);
    RefreshTargetSize();
    return -1;
  }
  return 0;
}

int ReplaceRenderTarget(TextureId texture, TextureId depth) {
  if (!g_layer) return -1;
  LayerState& s = *g_layer;
  // Replacing the bottom entry would leave no way back to the back buffer.
  if (s.targets.Size() <= 1) return PushRenderTarget(texture, depth);
  TargetEntry& top = s.targets.Back();
  std::shared_ptr<Texture> bound;
  if (BindTarget(texture, depth, &bound) != 0) return -1;
  top.texture = std::move(bound);
  top.texture_id = texture;
  top.depth_id = depth;
  return 0;
}

int PopRenderTarget() {
  if (!g_layer) return -1;
  LayerState& s = *g_layer;
  if (s.targets.Size() <= 1) return -1;
  TargetEntry& top = s.targets.Back();
  s.device->SetRenderTarget(top.saved_color, top.saved_depth);
  s.targets.RemoveAt(s.targets.Size() - 1);
  RefreshTargetSize();
  return 0;
}

void PopAllRenderTargets() {
  if (!g_layer) return;
  while (g_layer->targets.Size() > 1)
    if (PopRenderTarget() != 0) break;
}

int RenderTargetDepth() { return g_layer ? g_layer->targets.Size() : 0; }
TextureId CurrentRenderTargetTexture() {
  return g_layer && g_layer->targets.Size() > 0 ? g_layer->targets.Back().texture_id : kNoId;
}
float RenderTargetWidth() { return g_layer ? g_layer->target_width : 0.0f; }
float RenderTargetHeight() { return g_layer ? g_layer->target_height : 0.0f; }
float ScaleX(float x) { return RenderTargetWidth() * x / 640.0f; }
float ScaleY(float y) { return RenderTargetHeight() * y / 480.0f; }

// ---------------------------------------------------------------------------
// Times
// ---------------------------------------------------------------------------

float EffectTime() { return g_effect_time; }
void SetEffectTime(float seconds) { g_effect_time = seconds; }
float GlobalTime() { return g_global_time; }
void SetGlobalTime(float seconds) { g_global_time = seconds; }

}  // namespace render

// Internal to render: the device over OpenGL and its resources.
//
// States are recorded when set and turned into GL state at the next draw,
// group by group, only for groups marked dirty; the GL state cache below
// drops whatever still equals what GL holds. Resources register with their
// device so the device can release every GL object with its context current
// when it goes away; a resource that outlives its device keeps only its CPU
// side.
#pragma once

#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/gl_context.h"
#include "render/gl_state.h"
#include "render/layer.h"
#include "render/program.h"
#include "render/values.h"

namespace render {

class DeviceGl;

// How a texture format lives in GL.
struct GlFormat {
  GLenum internal_format = 0;
  GLenum format = 0;  // of the data we upload and lock
  GLenum type = 0;
  uint32_t bytes_per_pixel = 0;
};
bool GlFormatFor(Format format, bool has_rgb565, GlFormat* out);

// Base of every GL-backed resource: the link to its device.
class GlObject {
 public:
  explicit GlObject(DeviceGl* device);
  virtual ~GlObject();
  GlObject(const GlObject&) = delete;
  GlObject& operator=(const GlObject&) = delete;
  // The device is going away: delete the GL objects now (context current).
  virtual void ReleaseGl() = 0;
  DeviceGl* device() const { return device_; }
  void Detach() { device_ = nullptr; }

 protected:
  DeviceGl* device_;
};

// Texels of one texture: a 2-D texture or a cube (six faces), levels, and
// the CPU copy each locked level keeps, so partial locks keep the rest.
class TextureStore {
 public:
  TextureStore(DeviceGl* device, TextureKind kind, uint32_t width, uint32_t height, uint32_t levels,
               uint32_t usage, Format format, Pool pool);
  ~TextureStore();
  bool Create();
  void ReleaseGl();

  int Lock(uint32_t face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags);
  int Unlock(uint32_t face, uint32_t level);
  int LevelDesc(uint32_t level, SurfaceDesc* desc) const;
  uint32_t LevelWidth(uint32_t level) const;
  uint32_t LevelHeight(uint32_t level) const;
  GLenum FaceTarget(uint32_t face) const;

  DeviceGl* device = nullptr;
  TextureKind kind;
  uint32_t width, height, levels, usage;
  Format format;
  Pool pool;
  GlFormat gl_format;
  GLuint name = 0;
  GLenum target;
  std::string debug_name;

 private:
  struct LevelLock {
    std::vector<uint8_t> shadow;
    bool locked = false;
    Rect rect;
  };
  std::vector<LevelLock> locks_;  // face * levels + level
};

class TextureGl final : public Texture, public GlObject, public std::enable_shared_from_this<TextureGl> {
 public:
  TextureGl(DeviceGl* device, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, Format format,
            Pool pool);
  bool Create() { return store_.Create(); }
  void SetName(const std::string& name) override { store_.debug_name = name; }
  TextureKind Kind() const override { return TextureKind::k2D; }
  uint32_t LevelCount() const override { return store_.levels; }
  Format GetFormat() const override { return store_.format; }
  uint32_t Usage() const override { return store_.usage; }
  int GetLevelDesc(uint32_t level, SurfaceDesc* desc) const override { return store_.LevelDesc(level, desc); }
  int LockRect(uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) override {
    return store_.Lock(0, level, locked, rect, flags);
  }
  int UnlockRect(uint32_t level) override { return store_.Unlock(0, level); }
  std::shared_ptr<Surface> GetSurfaceLevel(uint32_t level) override;
  void ReleaseGl() override { store_.ReleaseGl(); }
  TextureStore& store() { return store_; }

 private:
  TextureStore store_;
};

class CubeTextureGl final : public CubeTexture, public GlObject, public std::enable_shared_from_this<CubeTextureGl> {
 public:
  CubeTextureGl(DeviceGl* device, uint32_t edge, uint32_t levels, uint32_t usage, Format format, Pool pool);
  bool Create() { return store_.Create(); }
  void SetName(const std::string& name) override { store_.debug_name = name; }
  TextureKind Kind() const override { return TextureKind::kCube; }
  uint32_t LevelCount() const override { return store_.levels; }
  Format GetFormat() const override { return store_.format; }
  uint32_t Usage() const override { return store_.usage; }
  int GetLevelDesc(uint32_t level, SurfaceDesc* desc) const override { return store_.LevelDesc(level, desc); }
  int LockRect(CubeFace face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) override {
    return store_.Lock(face, level, locked, rect, flags);
  }
  int UnlockRect(CubeFace face, uint32_t level) override { return store_.Unlock(face, level); }
  std::shared_ptr<Surface> GetCubeMapSurface(CubeFace face, uint32_t level) override;
  void ReleaseGl() override { store_.ReleaseGl(); }
  TextureStore& store() { return store_; }

 private:
  TextureStore store_;
};

// The GL name of a texture's store, or 0 / nullptr.
TextureStore* StoreOf(BaseTexture* texture);

// A colour surface (a level of a texture, which it keeps alive) or a
// depth-stencil surface (its own renderbuffer).
class SurfaceGl final : public Surface, public GlObject {
 public:
  // Level `level` of face `face` of a texture.
  SurfaceGl(DeviceGl* device, std::shared_ptr<BaseTexture> owner, TextureStore* store, uint32_t face,
            uint32_t level);
  // A depth-stencil surface.
  SurfaceGl(DeviceGl* device, uint32_t width, uint32_t height, Format format);
  ~SurfaceGl() override;
  bool CreateDepth();
  void SetName(const std::string& name) override { debug_name_ = name; }
  SurfaceDesc GetDesc() const override { return desc_; }
  void ReleaseGl() override;

  bool is_depth() const { return FormatIsDepth(desc_.format); }
  // Attachment identity: texture name, face target and level, or the
  // renderbuffer.
  GLuint texture_name() const { return store_ ? store_->name : 0; }
  GLenum texture_target() const { return store_ ? store_->FaceTarget(face_) : 0; }
  uint32_t level() const { return level_; }
  GLuint renderbuffer() const { return renderbuffer_; }

 private:
  std::shared_ptr<BaseTexture> owner_;
  TextureStore* store_ = nullptr;
  uint32_t face_ = 0, level_ = 0;
  GLuint renderbuffer_ = 0;
  SurfaceDesc desc_;
  std::string debug_name_;
};

// A GL buffer with Direct3D lock semantics (vertex or index data).
class BufferGl {
 public:
  BufferGl(DeviceGl* device, uint32_t size, uint32_t usage);
  ~BufferGl();
  bool Create();
  void ReleaseGl();
  int Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
  int Unlock();

  DeviceGl* device;
  uint32_t size, usage;
  GLuint name = 0;
  bool locked = false;
};

class VertexBufferGl final : public VertexBuffer, public GlObject {
 public:
  VertexBufferGl(DeviceGl* device, uint32_t size, uint32_t usage, uint32_t fvf, Pool pool);
  bool Create() { return buffer_.Create(); }
  void SetName(const std::string&) override {}
  VertexBufferDesc GetDesc() const override { return desc_; }
  int Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) override {
    return buffer_.Lock(offset, size, data, flags);
  }
  int Unlock() override { return buffer_.Unlock(); }
  void ReleaseGl() override { buffer_.ReleaseGl(); }
  BufferGl& buffer() { return buffer_; }

 private:
  BufferGl buffer_;
  VertexBufferDesc desc_;
};

class IndexBufferGl final : public IndexBuffer, public GlObject {
 public:
  IndexBufferGl(DeviceGl* device, uint32_t size, uint32_t usage, Format format, Pool pool);
  bool Create() { return buffer_.Create(); }
  void SetName(const std::string&) override {}
  IndexBufferDesc GetDesc() const override { return desc_; }
  int Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) override {
    return buffer_.Lock(offset, size, data, flags);
  }
  int Unlock() override { return buffer_.Unlock(); }
  void ReleaseGl() override { buffer_.ReleaseGl(); }
  BufferGl& buffer() { return buffer_; }

 private:
  BufferGl buffer_;
  IndexBufferDesc desc_;
};

// One generated program and what it last received.
enum class UniformGroup {
  kWvp,
  kScreen,
  kTFactor,
  kAlphaRef,
  kWorldView,
  kNormalMatrix,
  kLights,
  kMaterial,
  kFog,
  kPlanes,
  kTexMatrices,
};
inline constexpr int kUniformGroupCount = 11;

struct ProgramGl {
  GLuint name = 0;
  GLint locations[kUniformGroupCount] = {};
  uint64_t versions[kUniformGroupCount] = {};  // 0: never uploaded
  int light_count = 0;                         // lights the program reads
};

// A streaming buffer for geometry drawn from memory.
struct RingBuffer {
  GLuint name = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
};

class DeviceGl final : public Device {
 public:
  DeviceGl(std::unique_ptr<GlContext> context, const PresentParameters& params);
  ~DeviceGl() override;
  // Builds the GL side; false when the context cannot run the device.
  bool Initialize();

  int TestCooperativeLevel() override { return kOk; }
  int Reset(const PresentParameters& params) override;
  const PresentParameters& GetPresentParameters() const override { return params_; }
  const Caps& GetDeviceCaps() const override { return caps_; }
  int ResourceManagerDiscardBytes(uint32_t) override { return kOk; }
  int MakeCurrent() override;
  GlContext* Context() override { return context_.get(); }

  int BeginScene() override;
  int EndScene() override;
  int Present() override;
  void SetDumpFolder(const std::string& folder) override;
  uint64_t PresentCount() const override { return present_count_; }
  int Clear(uint32_t rect_count, const Rect* rects, uint32_t flags, Color color, float z, uint32_t stencil) override;

  int SetRenderState(RenderStateType state, uint32_t value) override;
  uint32_t GetRenderState(RenderStateType state) const override;
  int SetTextureStageState(uint32_t stage, TextureStageStateType type, uint32_t value) override;
  uint32_t GetTextureStageState(uint32_t stage, TextureStageStateType type) const override;
  int SetTexture(uint32_t stage, std::shared_ptr<BaseTexture> texture) override;
  BaseTexture* GetTexture(uint32_t stage) const override;
  int SetTransform(TransformType type, const Matrix& matrix) override;
  int GetTransform(TransformType type, Matrix* matrix) const override;
  int SetViewport(const Viewport& viewport) override;
  Viewport GetViewport() const override { return viewport_; }
  int SetMaterial(const Material& material) override;
  Material GetMaterial() const override { return material_; }
  int SetLight(uint32_t index, const Light& light) override;
  int GetLight(uint32_t index, Light* light) const override;
  int LightEnable(uint32_t index, bool enable) override;
  int GetLightEnable(uint32_t index, bool* enable) const override;
  int SetClipPlane(uint32_t index, const float plane[4]) override;
  int GetClipPlane(uint32_t index, float plane[4]) const override;

  int SetRenderTarget(std::shared_ptr<Surface> color, std::shared_ptr<Surface> depth) override;
  std::shared_ptr<Surface> GetRenderTarget() const override { return color_target_; }
  std::shared_ptr<Surface> GetDepthStencilSurface() const override { return depth_target_; }
  std::shared_ptr<Surface> GetBackBuffer() const override { return back_buffer_surface_; }
  int ReadSurfacePixels(Surface* surface, std::vector<uint32_t>* pixels) override;

  int SetFVF(uint32_t fvf) override;
  uint32_t GetFVF() const override { return fvf_; }
  int SetStreamSource(uint32_t stream, std::shared_ptr<VertexBuffer> buffer, uint32_t stride) override;
  int SetIndices(std::shared_ptr<IndexBuffer> buffer, uint32_t base_vertex_index) override;
  int DrawPrimitive(PrimitiveType type, uint32_t start_vertex, uint32_t primitive_count) override;
  int DrawIndexedPrimitive(PrimitiveType type, uint32_t min_index, uint32_t vertex_count, uint32_t start_index,
                           uint32_t primitive_count) override;
  int DrawPrimitiveUP(PrimitiveType type, uint32_t primitive_count, const void* vertices, uint32_t stride) override;
  int DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t min_index, uint32_t vertex_count,
                             uint32_t primitive_count, const void* indices, Format index_format,
                             const void* vertices, uint32_t stride) override;

  std::shared_ptr<Texture> CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                         Format format, Pool pool) override;
  std::shared_ptr<CubeTexture> CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, Format format,
                                                 Pool pool) override;
  std::shared_ptr<Surface> CreateDepthStencilSurface(uint32_t width, uint32_t height, Format format) override;
  std::shared_ptr<VertexBuffer> CreateVertexBuffer(uint32_t size, uint32_t usage, uint32_t fvf,
                                                   Pool pool) override;
  std::shared_ptr<IndexBuffer> CreateIndexBuffer(uint32_t size, uint32_t usage, Format format,
                                                 Pool pool) override;

  // For resources.
  gl::StateCache& gl() { return gl_; }
  void Register(GlObject* object);
  void Unregister(GlObject* object);
  // A texture or renderbuffer is being deleted: drop framebuffers using it.
  void ForgetAttachment(GLuint texture, GLuint renderbuffer);
  bool has_rgb565() const { return has_rgb565_; }

 private:
  // dirty_ bits: which groups of GL state must be applied before a draw.
  static constexpr uint32_t kDirtyTarget = 1u << 0;
  static constexpr uint32_t kDirtyViewport = 1u << 1;
  static constexpr uint32_t kDirtyBlend = 1u << 2;
  static constexpr uint32_t kDirtyDepth = 1u << 3;
  static constexpr uint32_t kDirtyStencil = 1u << 4;
  static constexpr uint32_t kDirtyRaster = 1u << 5;
  static constexpr uint32_t kDirtyProgram = 1u << 6;
  static constexpr uint32_t kDirtyTransform = 1u << 7;
  static constexpr uint32_t kDirtyAll = 0xffffffffu;

  void ResetStates();
  bool CreateBackBuffer();
  int PrepareDraw();
  void ApplyTarget();
  void ApplyViewport();
  void ApplyBlend();
  void ApplyDepth();
  void ApplyStencil();
  void ApplyRaster();
  ProgramGl* ApplyProgram();
  void BuildKey(ProgramKey* key) const;
  ProgramGl* BuildProgram(const ProgramKey& key);
  void ApplyUniforms(ProgramGl* program);
  // The lights that light a draw, in index order (enabled, and not put
  // out by an infinite attenuation); returns their number.
  uint32_t ActiveLights(uint32_t indices[kMaxLights]) const;
  bool FogUsable(uint32_t mode) const;
  void UpdateTransformUniforms();
  void UpdateLightUniforms();
  void UpdatePlaneUniforms();
  void UpdateMaterialUniforms();
  void UpdateFogUniforms();
  void ApplyTextures();
  void ApplySampler(uint32_t stage);
  void ApplyVertexInput(GLuint buffer, uint32_t stride);
  // Copies `bytes` into the ring; the offset, or UINT32_MAX when it cannot
  // (more than kMaxDrawBytes, or GL failed).
  uint32_t RingAppend(RingBuffer* ring, GLenum target, const void* data, uint64_t bytes, uint32_t align);
  GLuint FramebufferFor(const SurfaceGl* color, const SurfaceGl* depth);
  void Bump(UniformGroup group) { ++uniform_versions_[static_cast<int>(group)]; }
  int WriteDumpFrame();

  std::unique_ptr<GlContext> context_;
  PresentParameters params_;
  Caps caps_;
  gl::StateCache gl_;
  bool initialized_ = false;
  bool has_rgb565_ = false;
  bool in_scene_ = false;

  uint32_t render_states_[kRenderStateCount] = {};
  uint32_t stage_states_[kMaxTextureStages][kStageStateCount] = {};
  std::shared_ptr<BaseTexture> textures_[kMaxTextureStages];
  Matrix world_ = Matrix::Identity(), view_ = Matrix::Identity(), projection_ = Matrix::Identity();
  Matrix texture_transforms_[kMaxTextureStages];
  Viewport viewport_;
  Material material_;
  uint32_t fvf_ = 0;
  std::shared_ptr<VertexBuffer> stream_;
  uint32_t stream_stride_ = 0;
  std::shared_ptr<IndexBuffer> indices_;
  uint32_t base_vertex_index_ = 0;

  std::shared_ptr<Texture> back_buffer_;
  std::shared_ptr<Surface> back_buffer_surface_;
  std::shared_ptr<Surface> auto_depth_;
  std::shared_ptr<Surface> color_target_;
  std::shared_ptr<Surface> depth_target_;
  uint32_t target_width_ = 0, target_height_ = 0;
  bool target_has_alpha_ = false;

  uint32_t dirty_ = kDirtyAll;
  uint32_t sampler_dirty_ = 0xff;  // one bit per stage

  // Uniform values and their versions (bumped on change).
  Matrix wvp_ = Matrix::Identity();
  float screen_[4] = {};
  float tfactor_[4] = {1, 1, 1, 1};
  float alpha_ref_ = 0.0f;
  Matrix world_view_ = Matrix::Identity();
  float normal_matrix_[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float light_data_[kMaxLights * kLightVec4s * 4] = {};
  float material_data_[24] = {};
  float fog_data_[8] = {};
  float plane_data_[kMaxClipPlanes * 4] = {};
  // Camera-space copies that must be remade before their next upload.
  bool lights_stale_ = true, planes_stale_ = true;
  uint64_t uniform_versions_[kUniformGroupCount] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

  // Lights and clip planes as given (world space).
  Light lights_[kMaxLights];
  bool light_set_[kMaxLights] = {};
  bool light_enabled_[kMaxLights] = {};
  float clip_planes_[kMaxClipPlanes][4] = {};

  std::unordered_map<ProgramKey, std::unique_ptr<ProgramGl>, ProgramKeyHash> programs_;
  ProgramGl* current_program_ = nullptr;
  ProgramKey current_key_{};

  struct SamplerState {
    GLuint name = 0;
    GLint wrap_s = 0, wrap_t = 0, wrap_r = 0, min_filter = 0, mag_filter = 0;
    float lod_bias = 0, min_lod = 0;
    uint32_t border = 0xffffffffu;
    bool known = false;
  };
  SamplerState samplers_[kMaxTextureStages];

  GLuint vao_ = 0;
  // What the attribute pointers were last set up for.
  GLuint input_buffer_ = 0;
  uint32_t input_fvf_ = 0, input_stride_ = 0;
  uint32_t input_enabled_ = 0;  // attribute arrays switched on
  bool input_valid_ = false;
  RingBuffer vertex_ring_, index_ring_;

  struct FramebufferEntry {
    GLuint color_texture;
    GLenum color_target;
    uint32_t level;
    GLuint depth_renderbuffer;
    GLuint fbo;
  };
  std::vector<FramebufferEntry> framebuffers_;

  std::vector<GlObject*> live_;
  std::string dump_folder_;
  uint64_t present_count_ = 0;
  uint64_t dump_count_ = 0;
};

}  // namespace render

// The Direct3D-8-style device over OpenGL 3.3 core.
//
// Setting a state only records it and marks its group dirty; a draw turns
// the dirty groups into GL state (through the GL state cache, which drops
// what GL already holds), picks the generated program for the shading
// states and uploads only the uniforms whose values changed since that
// program last saw them. So a frame that sets the same states before each
// draw costs nothing beyond the draws.
//
// Conventions kept from Direct3D: targets hold row 0 at the top (the back
// buffer too; Present flips when it stretches onto the window); pixel
// centres lie on integer coordinates; clockwise/counter-clockwise culling
// is judged on screen; a stage without a texture reads opaque white.
#include "render/device_gl.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "render/defaults.h"

namespace render {

int WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

namespace {

constexpr uint32_t kVertexRingBytes = 4u << 20;
constexpr uint32_t kIndexRingBytes = 1u << 20;

GLenum GlCompare(uint32_t cmp) {
  switch (cmp) {
    case CMP_NEVER: return GL_NEVER;
    case CMP_LESS: return GL_LESS;
    case CMP_EQUAL: return GL_EQUAL;
    case CMP_LESSEQUAL: return GL_LEQUAL;
    case CMP_GREATER: return GL_GREATER;
    case CMP_NOTEQUAL: return GL_NOTEQUAL;
    case CMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum GlStencilOp(uint32_t op) {
  switch (op) {
    case STENCILOP_ZERO: return GL_ZERO;
    case STENCILOP_REPLACE: return GL_REPLACE;
    case STENCILOP_INCRSAT: return GL_INCR;
    case STENCILOP_DECRSAT: return GL_DECR;
    case STENCILOP_INVERT: return GL_INVERT;
    case STENCILOP_INCR: return GL_INCR_WRAP;
    case STENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
  }
}

GLenum GlBlendEquation(uint32_t op) {
  switch (op) {
    case BLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case BLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case BLENDOP_MIN: return GL_MIN;
    case BLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

// A blend factor for the source (is_source) or destination slot. The
// factors GL cannot take in a slot are mapped explicitly.
GLenum GlBlendFactor(uint32_t factor, bool is_source, bool target_has_alpha) {
  switch (factor) {
    case BLEND_ZERO: return GL_ZERO;
    case BLEND_ONE: return GL_ONE;
    case BLEND_SRCCOLOR: return GL_SRC_COLOR;
    case BLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case BLEND_SRCALPHA: return GL_SRC_ALPHA;
    case BLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case BLEND_DESTALPHA: return GL_DST_ALPHA;
    case BLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case BLEND_DESTCOLOR: return GL_DST_COLOR;
    case BLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case BLEND_SRCALPHASAT:
      if (is_source) return GL_SRC_ALPHA_SATURATE;
      // min(As, 1 - Ad): a target without alpha reads Ad = 1, so the
      // factor is exactly 0; with alpha the nearest GL factor is As.
      core::Trace("RENDER: SRCALPHASAT as destination factor drawn as %s\n",
                  target_has_alpha ? "SRCALPHA" : "ZERO (target without alpha)");
      return target_has_alpha ? GL_SRC_ALPHA : GL_ZERO;
    case BLEND_BOTHSRCALPHA:
      // Only meaningful as the source factor; in the destination slot it
      // stands for its destination half.
      core::Trace("RENDER: BOTHSRCALPHA as destination factor drawn as INVSRCALPHA\n");
      return GL_ONE_MINUS_SRC_ALPHA;
    case BLEND_BOTHINVSRCALPHA:
      core::Trace("RENDER: BOTHINVSRCALPHA as destination factor drawn as SRCALPHA\n");
      return GL_SRC_ALPHA;
    default:
      core::Trace("RENDER: unknown blend factor %u drawn as %s\n", factor, is_source ? "ONE" : "ZERO");
      return is_source ? GL_ONE : GL_ZERO;
  }
}

GLenum GlPrimitive(PrimitiveType type) {
  switch (type) {
    case PT_POINTLIST: return GL_POINTS;
    case PT_LINELIST: return GL_LINES;
    case PT_LINESTRIP: return GL_LINE_STRIP;
    case PT_TRIANGLELIST: return GL_TRIANGLES;
    case PT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case PT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
  }
  return GL_TRIANGLES;
}

// Vertices used by `count` primitives; 0 for an unknown type. In 64 bits:
// a count read from a file must not wrap into a small draw.
uint64_t VertexCount(PrimitiveType type, uint32_t count) {
  const uint64_t n = count;
  switch (type) {
    case PT_POINTLIST: return n;
    case PT_LINELIST: return n * 2;
    case PT_LINESTRIP: return n + 1;
    case PT_TRIANGLELIST: return n * 3;
    case PT_TRIANGLESTRIP:
    case PT_TRIANGLEFAN: return n + 2;
  }
  return 0;
}

// GL takes counts and firsts as GLsizei / GLint.
constexpr uint64_t kMaxGlCount = 0x7FFFFFFF;

bool ValidPrimitive(PrimitiveType type) { return type >= PT_POINTLIST && type <= PT_TRIANGLEFAN; }

// Which of an op's arguments (bits 0, 1, 2) it reads.
uint32_t ArgUsage(uint32_t op) {
  switch (op) {
    case TOP_DISABLE:
    case TOP_BUMPENVMAP:
    case TOP_BUMPENVMAPLUMINANCE: return 0;
    case TOP_SELECTARG1:
    case TOP_PREMODULATE: return 2;
    case TOP_SELECTARG2: return 4;
    case TOP_MULTIPLYADD:
    case TOP_LERP: return 7;
    default: return 6;
  }
}

bool OpReadsTextureAlpha(uint32_t op) { return op == TOP_BLENDTEXTUREALPHA || op == TOP_BLENDTEXTUREALPHAPM; }

void ColorToFloats(uint32_t argb, float out[4]) {
  out[0] = static_cast<float>((argb >> 16) & 0xff) / 255.0f;
  out[1] = static_cast<float>((argb >> 8) & 0xff) / 255.0f;
  out[2] = static_cast<float>(argb & 0xff) / 255.0f;
  out[3] = static_cast<float>(argb >> 24) / 255.0f;
}

bool Finite(float v) { return std::isfinite(v); }
bool FiniteColor(const ColorValue& c) { return Finite(c.r) && Finite(c.g) && Finite(c.b) && Finite(c.a); }
bool FiniteVector(const Vector& v) { return Finite(v.x) && Finite(v.y) && Finite(v.z); }

// Colours far beyond what saturates are cut, so that products and sums in
// the lighting can never overflow into infinities (and NaN).
constexpr float kColorLimit = 1e4f;
void PutColor(const ColorValue& c, float* out) {
  out[0] = std::clamp(c.r, -kColorLimit, kColorLimit);
  out[1] = std::clamp(c.g, -kColorLimit, kColorLimit);
  out[2] = std::clamp(c.b, -kColorLimit, kColorLimit);
  out[3] = std::clamp(c.a, -kColorLimit, kColorLimit);
}

// The inverse of a 4 x 4 matrix in doubles; false when singular.
bool Invert(const Matrix& m, double out[4][4]) {
  double a[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 8; ++j) a[i][j] = j < 4 ? m.m[i][j] : (j - 4 == i ? 1.0 : 0.0);
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int row = col + 1; row < 4; ++row)
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    if (!(std::fabs(a[pivot][col]) > 0.0) || !std::isfinite(a[pivot][col])) return false;
    if (pivot != col)
      for (int j = 0; j < 8; ++j) std::swap(a[pivot][j], a[col][j]);
    double inv = 1.0 / a[col][col];
    for (int j = 0; j < 8; ++j) a[col][j] *= inv;
    for (int row = 0; row < 4; ++row) {
      if (row == col) continue;
      double f = a[row][col];
      for (int j = 0; j < 8; ++j) a[row][j] -= f * a[col][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      out[i][j] = a[i][j + 4];
      if (!std::isfinite(out[i][j])) return false;
    }
  return true;
}

// The inverse transpose of the matrix's 3 x 3 part (normals, row vectors:
// n' = n N), or zeros when it is singular.
void NormalMatrix(const Matrix& m, float out[9]) {
  auto e = [&](int r, int c) { return static_cast<double>(m.m[r][c]); };
  double cof[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      cof[r][c] = e(r1, c1) * e(r2, c2) - e(r1, c2) * e(r2, c1);
    }
  double det = e(0, 0) * cof[0][0] + e(0, 1) * cof[0][1] + e(0, 2) * cof[0][2];
  bool ok = det != 0.0 && std::isfinite(det);
  for (int i = 0; i < 9; ++i) {
    double v = ok ? cof[i / 3][i % 3] / det : 0.0;
    out[i] = std::isfinite(v) ? static_cast<float>(v) : 0.0f;
  }
  for (int i = 0; i < 9 && ok; ++i)
    if (!std::isfinite(cof[i / 3][i % 3] / det)) ok = false;
  if (!ok) std::fill(out, out + 9, 0.0f);
}

GLuint CompileShader(GLenum type, const std::string& source) {
  GLuint shader = VJ_GL(glCreateShader(type));
  const char* text = source.c_str();
  VJ_GL(glShaderSource(shader, 1, &text, nullptr));
  VJ_GL(glCompileShader(shader));
  GLint ok = 0;
  VJ_GL(glGetShaderiv(shader, GL_COMPILE_STATUS, &ok));
  if (!ok) {
    char log[2048] = {};
    VJ_GL(glGetShaderInfoLog(shader, sizeof log, nullptr, log));
    core::Trace("RENDER: shader compile failed: %s\n%s\n", log, source.c_str());
    VJ_GL(glDeleteShader(shader));
    return 0;
  }
  return shader;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life
// ---------------------------------------------------------------------------

DeviceGl::DeviceGl(std::unique_ptr<GlContext> context, const PresentParameters& params)
    : context_(std::move(context)), params_(params) {
  for (Matrix& m : texture_transforms_) m = Matrix::Identity();
}

DeviceGl::~DeviceGl() {
  if (!context_) return;
  context_->MakeCurrent();
  // Our own references first, so those objects delete their GL side now.
  for (auto& texture : textures_) texture.reset();
  stream_.reset();
  indices_.reset();
  color_target_.reset();
  depth_target_.reset();
  back_buffer_surface_.reset();
  back_buffer_.reset();
  auto_depth_.reset();
  // What the callers still hold keeps only its CPU side.
  std::vector<GlObject*> remaining = live_;
  for (GlObject* object : remaining) {
    object->ReleaseGl();
    object->Detach();
  }
  live_.clear();
  for (FramebufferEntry& entry : framebuffers_) VJ_GL(glDeleteFramebuffers(1, &entry.fbo));
  framebuffers_.clear();
  for (auto& [key, program] : programs_) VJ_GL(glDeleteProgram(program->name));
  programs_.clear();
  for (SamplerState& sampler : samplers_)
    if (sampler.name) VJ_GL(glDeleteSamplers(1, &sampler.name));
  if (vertex_ring_.name) VJ_GL(glDeleteBuffers(1, &vertex_ring_.name));
  if (index_ring_.name) VJ_GL(glDeleteBuffers(1, &index_ring_.name));
  if (vao_) {
    VJ_GL(glBindVertexArray(0));
    VJ_GL(glDeleteVertexArrays(1, &vao_));
  }
  VJ_GL(glFinish());
  context_.reset();
}

bool DeviceGl::Initialize() {
  if (!context_ || context_->MakeCurrent() != 0) return false;
  int version = epoxy_gl_version();
  if (version < 33) {
    core::Trace("RENDER: OpenGL %d.%d is too old (3.3 core needed)\n", version / 10, version % 10);
    return false;
  }
  core::Trace("RENDER: OpenGL %s, %s\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)),
              reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
  has_rgb565_ = version >= 41 || epoxy_has_gl_extension("GL_ARB_ES2_compatibility");
  gl_.Reset();

  GLint max_texture = 0, clip_distances = 0;
  VJ_GL(glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture));
  VJ_GL(glGetIntegerv(GL_MAX_CLIP_DISTANCES, &clip_distances));
  caps_.max_texture_width = caps_.max_texture_height = static_cast<uint32_t>(std::max(max_texture, 64));
  caps_.max_user_clip_planes = static_cast<uint32_t>(std::clamp(clip_distances, 0, 8));
  caps_.caps2 = CAPS2_DYNAMICTEXTURES;

  VJ_GL(glGenVertexArrays(1, &vao_));
  gl_.BindVertexArray(vao_);
  for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
    VJ_GL(glGenSamplers(1, &samplers_[stage].name));
    gl_.BindSampler(static_cast<int>(stage), samplers_[stage].name);
  }
  for (RingBuffer* ring : {&vertex_ring_, &index_ring_}) {
    ring->size = ring == &vertex_ring_ ? kVertexRingBytes : kIndexRingBytes;
    VJ_GL(glGenBuffers(1, &ring->name));
    VJ_GL(glBindBuffer(GL_COPY_WRITE_BUFFER, ring->name));
    VJ_GL(glBufferData(GL_COPY_WRITE_BUFFER, ring->size, nullptr, GL_STREAM_DRAW));
  }
  if (!CreateBackBuffer()) return false;
  if (context_->HasDrawable()) context_->SetSwapInterval(params_.vsync ? 1 : 0);
  ResetStates();
  initialized_ = true;
  return true;
}

bool DeviceGl::CreateBackBuffer() {
  Format format = params_.back_buffer_format;
  if (!FormatIsTextureFormat(format)) format = FMT_X8R8G8B8;
  params_.back_buffer_format = format;
  uint32_t width = std::max(1u, params_.back_buffer_width);
  uint32_t height = std::max(1u, params_.back_buffer_height);
  back_buffer_surface_.reset();
  back_buffer_.reset();
  auto_depth_.reset();
  back_buffer_ = CreateTexture(width, height, 1, USAGE_RENDERTARGET, format, POOL_DEFAULT);
  if (!back_buffer_) {
    core::Trace("RENDER: cannot make the %ux%u %s back buffer\n", width, height, FormatName(format));
    return false;
  }
  back_buffer_->SetName("back buffer");
  back_buffer_surface_ = back_buffer_->GetSurfaceLevel(0);
  if (params_.enable_auto_depth_stencil) {
    auto_depth_ = CreateDepthStencilSurface(width, height, params_.auto_depth_stencil_format);
    if (!auto_depth_) {
      core::Trace("RENDER: depth format %s unavailable, using D24S8\n",
                  FormatName(params_.auto_depth_stencil_format));
      params_.auto_depth_stencil_format = FMT_D24S8;
      auto_depth_ = CreateDepthStencilSurface(width, height, FMT_D24S8);
      if (!auto_depth_) return false;
    }
  }
  return true;
}

void DeviceGl::ResetStates() {
  size_t count = 0;
  const RenderStateDefault* defaults = DefaultRenderStates(&count);
  std::fill(std::begin(render_states_), std::end(render_states_), 0u);
  for (size_t i = 0; i < count; ++i) render_states_[defaults[i].state] = defaults[i].value;
  const StageStateDefault* stage_defaults = DefaultStageStates(&count);
  for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
    std::fill(std::begin(stage_states_[stage]), std::end(stage_states_[stage]), 0u);
    for (size_t i = 0; i < count; ++i) stage_states_[stage][stage_defaults[i].type] = stage_defaults[i].value;
    stage_states_[stage][TSS_TEXCOORDINDEX] = stage;  // each stage reads its own set by default
    textures_[stage].reset();
  }
  const StageStateDefault* stage0 = Stage0Overrides(&count);
  for (size_t i = 0; i < count; ++i) stage_states_[0][stage0[i].type] = stage0[i].value;
  world_ = view_ = projection_ = Matrix::Identity();
  for (Matrix& m : texture_transforms_) m = Matrix::Identity();
  material_ = Material{};
  fvf_ = 0;
  stream_.reset();
  stream_stride_ = 0;
  indices_.reset();
  base_vertex_index_ = 0;
  color_target_ = back_buffer_surface_;
  depth_target_ = auto_depth_;
  SurfaceDesc desc = color_target_->GetDesc();
  target_width_ = desc.width;
  target_height_ = desc.height;
  viewport_ = Viewport{0, 0, desc.width, desc.height, 0.0f, 1.0f};
  ColorToFloats(render_states_[RS_TEXTUREFACTOR], tfactor_);
  alpha_ref_ = 0.0f;
  for (uint32_t i = 0; i < kMaxLights; ++i) {
    lights_[i] = Light{};
    light_set_[i] = light_enabled_[i] = false;
  }
  std::memset(clip_planes_, 0, sizeof clip_planes_);
  lights_stale_ = planes_stale_ = true;
  wvp_ = world_view_ = Matrix::Identity();
  const float identity3[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::memcpy(normal_matrix_, identity3, sizeof identity3);
  UpdateMaterialUniforms();
  UpdateFogUniforms();
  for (uint64_t& version : uniform_versions_) ++version;
  dirty_ = kDirtyAll;
  sampler_dirty_ = 0xff;
  input_valid_ = false;
  current_program_ = nullptr;
}

int DeviceGl::Reset(const PresentParameters& params) {
  if (MakeCurrent() != 0) return kErrDeviceLost;
  bool rebuild = params.back_buffer_width != params_.back_buffer_width ||
                 params.back_buffer_height != params_.back_buffer_height ||
                 params.back_buffer_format != params_.back_buffer_format ||
                 params.enable_auto_depth_stencil != params_.enable_auto_depth_stencil ||
                 params.auto_depth_stencil_format != params_.auto_depth_stencil_format;
  core::QEGUIWindow* window = params_.device_window;
  params_ = params;
  params_.device_window = window;  // the context stays on its window
  color_target_.reset();
  depth_target_.reset();
  if (rebuild && !CreateBackBuffer()) return kErrOutOfMemory;
  if (context_->HasDrawable()) context_->SetSwapInterval(params_.vsync ? 1 : 0);
  ResetStates();
  in_scene_ = false;
  return kOk;
}

int DeviceGl::MakeCurrent() {
  if (!context_) return kErrInvalidCall;
  return context_->MakeCurrent() == 0 ? kOk : kErrDeviceLost;
}

void DeviceGl::Register(GlObject* object) { live_.push_back(object); }

void DeviceGl::Unregister(GlObject* object) {
  auto it = std::find(live_.begin(), live_.end(), object);
  if (it != live_.end()) {
    *it = live_.back();
    live_.pop_back();
  }
}

void DeviceGl::ForgetAttachment(GLuint texture, GLuint renderbuffer) {
  for (size_t i = 0; i < framebuffers_.size();) {
    FramebufferEntry& entry = framebuffers_[i];
    bool uses = (texture != 0 && entry.color_texture == texture) ||
                (renderbuffer != 0 && entry.depth_renderbuffer == renderbuffer);
    if (!uses) {
      ++i;
      continue;
    }
    if (gl_.draw_framebuffer() == entry.fbo) dirty_ |= kDirtyTarget;
    gl_.ForgetFramebuffer(entry.fbo);
    VJ_GL(glDeleteFramebuffers(1, &entry.fbo));
    framebuffers_[i] = framebuffers_.back();
    framebuffers_.pop_back();
  }
}

// ---------------------------------------------------------------------------
// Frame
// ---------------------------------------------------------------------------

int DeviceGl::BeginScene() {
  if (in_scene_) return kErrInvalidCall;
  in_scene_ = true;
  return kOk;
}

int DeviceGl::EndScene() {
  if (!in_scene_) return kErrInvalidCall;
  in_scene_ = false;
  return kOk;
}

void DeviceGl::SetDumpFolder(const std::string& folder) {
  dump_folder_ = folder;
  dump_count_ = 0;
}

int DeviceGl::Present() {
  if (!initialized_) return kErrInvalidCall;
  if (MakeCurrent() != 0) return kErrDeviceLost;
  int drawable_w = 0, drawable_h = 0;
  context_->GetDrawableSize(&drawable_w, &drawable_h);
  if (context_->HasDrawable() && context_->DrawableShown() && drawable_w > 0 && drawable_h > 0) {
    // Stretch onto the window, flipping: the window's row 0 is its bottom.
    const SurfaceGl* back = static_cast<const SurfaceGl*>(back_buffer_surface_.get());
    SurfaceDesc desc = back->GetDesc();
    gl_.BindReadFramebuffer(FramebufferFor(back, nullptr));
    gl_.BindDrawFramebuffer(0);
    gl_.Enable(gl::Capability::kScissorTest, false);
    VJ_GL(glBlitFramebuffer(0, 0, static_cast<GLint>(desc.width), static_cast<GLint>(desc.height), 0, drawable_h,
                            drawable_w, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR));
    context_->SwapBuffers();
    dirty_ |= kDirtyTarget | kDirtyRaster;
  } else if (!context_->HasDrawable()) {
    // Headless: nothing paces the frames, so wait for this one to be done.
    VJ_GL(glFinish());
  }
  ++present_count_;
  if (!dump_folder_.empty()) return WriteDumpFrame();
  return kOk;
}

int DeviceGl::WriteDumpFrame() {
  std::vector<uint32_t> pixels;
  if (ReadSurfacePixels(back_buffer_surface_.get(), &pixels) != kOk) return kErrInvalidCall;
  SurfaceDesc desc = back_buffer_surface_->GetDesc();
  std::vector<uint8_t> rgb(pixels.size() * 3);
  for (size_t i = 0; i < pixels.size(); ++i) {
    rgb[i * 3 + 0] = static_cast<uint8_t>(pixels[i] >> 16);
    rgb[i * 3 + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    rgb[i * 3 + 2] = static_cast<uint8_t>(pixels[i]);
  }
  char name[32];
  std::snprintf(name, sizeof name, "/%06llu.png", static_cast<unsigned long long>(dump_count_));
  std::string path = dump_folder_ + name;
  ++dump_count_;
  if (WritePngRgb(path, desc.width, desc.height, rgb) != 0) {
    core::RaiseRuntimeMessage("Cannot write the frame dump %s", path.c_str());
    return kErrInvalidCall;
  }
  return kOk;
}

int DeviceGl::Clear(uint32_t rect_count, const Rect* rects, uint32_t flags, Color color, float z,
                    uint32_t stencil) {
  if (!initialized_) return kErrInvalidCall;
  if (MakeCurrent() != 0) return kErrDeviceLost;
  if ((flags & (CLEAR_ZBUFFER | CLEAR_STENCIL)) && !depth_target_) return kErrInvalidCall;
  if ((flags & CLEAR_STENCIL) && !FormatHasStencil(depth_target_->GetDesc().format)) return kErrInvalidCall;
  if (dirty_ & kDirtyTarget) ApplyTarget();
  GLbitfield mask = 0;
  if (flags & CLEAR_TARGET) {
    float c[4];
    ColorToFloats(color, c);
    gl_.ColorMask(true, true, true, true);
    gl_.ClearColor(c[0], c[1], c[2], c[3]);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (flags & CLEAR_ZBUFFER) {
    gl_.DepthMask(true);
    gl_.ClearDepth(std::clamp(z, 0.0f, 1.0f));
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  if (flags & CLEAR_STENCIL) {
    gl_.StencilMask(0xffffffffu);
    gl_.ClearStencil(static_cast<GLint>(stencil & 0xff));
    mask |= GL_STENCIL_BUFFER_BIT;
  }
  if (mask == 0) return kOk;
  // Only the viewport is cleared, intersected with each rectangle.
  Rect view{static_cast<int32_t>(viewport_.x), static_cast<int32_t>(viewport_.y),
            static_cast<int32_t>(viewport_.x + viewport_.width), static_cast<int32_t>(viewport_.y + viewport_.height)};
  gl_.Enable(gl::Capability::kScissorTest, true);
  uint32_t count = (rects && rect_count > 0) ? rect_count : 1;
  for (uint32_t i = 0; i < count; ++i) {
    Rect r = view;
    if (rects && rect_count > 0) {
      r.left = std::max(r.left, rects[i].left);
      r.top = std::max(r.top, rects[i].top);
      r.right = std::min(r.right, rects[i].right);
      r.bottom = std::min(r.bottom, rects[i].bottom);
    }
    if (r.left >= r.right || r.top >= r.bottom) continue;
    gl_.Scissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
    VJ_GL(glClear(mask));
  }
  dirty_ |= kDirtyRaster | kDirtyDepth | kDirtyStencil;
  return kOk;
}

// ---------------------------------------------------------------------------
// States
// ---------------------------------------------------------------------------

int DeviceGl::SetRenderState(RenderStateType state, uint32_t value) {
  if (state >= kRenderStateCount) return kErrInvalidCall;
  if (render_states_[state] == value) return kOk;
  render_states_[state] = value;
  switch (state) {
    case RS_ZENABLE:
    case RS_ZWRITEENABLE:
    case RS_ZFUNC: dirty_ |= kDirtyDepth; break;
    case RS_SRCBLEND:
    case RS_DESTBLEND:
    case RS_ALPHABLENDENABLE:
    case RS_BLENDOP: dirty_ |= kDirtyBlend; break;
    case RS_STENCILENABLE:
    case RS_STENCILFAIL:
    case RS_STENCILZFAIL:
    case RS_STENCILPASS:
    case RS_STENCILFUNC:
    case RS_STENCILREF:
    case RS_STENCILMASK:
    case RS_STENCILWRITEMASK: dirty_ |= kDirtyStencil; break;
    case RS_CULLMODE:
    case RS_FILLMODE:
    case RS_COLORWRITEENABLE:
    case RS_ZBIAS: dirty_ |= kDirtyRaster; break;
    case RS_SHADEMODE:
    case RS_ALPHATESTENABLE:
    case RS_ALPHAFUNC:
    case RS_SPECULARENABLE:
    case RS_LIGHTING:
    case RS_COLORVERTEX:
    case RS_LOCALVIEWER:
    case RS_NORMALIZENORMALS:
    case RS_DIFFUSEMATERIALSOURCE:
    case RS_SPECULARMATERIALSOURCE:
    case RS_AMBIENTMATERIALSOURCE:
    case RS_EMISSIVEMATERIALSOURCE:
    case RS_FOGENABLE:
    case RS_FOGTABLEMODE:
    case RS_FOGVERTEXMODE:
    case RS_RANGEFOGENABLE:
    case RS_CLIPPING:
    case RS_CLIPPLANEENABLE: dirty_ |= kDirtyProgram; break;
    case RS_FOGSTART:
    case RS_FOGEND:
    case RS_FOGDENSITY:
      dirty_ |= kDirtyProgram;  // a value that cannot fog turns fog off
      UpdateFogUniforms();
      break;
    case RS_FOGCOLOR: UpdateFogUniforms(); break;
    case RS_AMBIENT: UpdateMaterialUniforms(); break;
    case RS_TEXTUREFACTOR:
      ColorToFloats(value, tfactor_);
      Bump(UniformGroup::kTFactor);
      break;
    case RS_ALPHAREF:
      alpha_ref_ = static_cast<float>(value & 0xff);
      Bump(UniformGroup::kAlphaRef);
      break;
    default: break;  // recorded; no GL side (yet)
  }
  return kOk;
}

uint32_t DeviceGl::GetRenderState(RenderStateType state) const {
  return state < kRenderStateCount ? render_states_[state] : 0;
}

int DeviceGl::SetTextureStageState(uint32_t stage, TextureStageStateType type, uint32_t value) {
  if (stage >= kMaxTextureStages || type >= kStageStateCount) return kErrInvalidCall;
  if (stage_states_[stage][type] == value) return kOk;
  stage_states_[stage][type] = value;
  switch (type) {
    case TSS_ADDRESSU:
    case TSS_ADDRESSV:
    case TSS_ADDRESSW:
    case TSS_BORDERCOLOR:
    case TSS_MAGFILTER:
    case TSS_MINFILTER:
    case TSS_MIPFILTER:
    case TSS_MIPMAPLODBIAS:
    case TSS_MAXMIPLEVEL:
    case TSS_MAXANISOTROPY: sampler_dirty_ |= 1u << stage; break;
    case TSS_BUMPENVMAT00:
    case TSS_BUMPENVMAT01:
    case TSS_BUMPENVMAT10:
    case TSS_BUMPENVMAT11:
    case TSS_BUMPENVLSCALE:
    case TSS_BUMPENVLOFFSET: break;
    default: dirty_ |= kDirtyProgram; break;
  }
  return kOk;
}

uint32_t DeviceGl::GetTextureStageState(uint32_t stage, TextureStageStateType type) const {
  if (stage >= kMaxTextureStages || type >= kStageStateCount) return 0;
  return stage_states_[stage][type];
}

int DeviceGl::SetTexture(uint32_t stage, std::shared_ptr<BaseTexture> texture) {
  if (stage >= kMaxTextureStages) return kErrInvalidCall;
  BaseTexture* old = textures_[stage].get();
  bool kind_changed = (old == nullptr) != (texture == nullptr) || (old && texture && old->Kind() != texture->Kind());
  if (kind_changed) dirty_ |= kDirtyProgram;
  textures_[stage] = std::move(texture);
  return kOk;
}

BaseTexture* DeviceGl::GetTexture(uint32_t stage) const {
  return stage < kMaxTextureStages ? textures_[stage].get() : nullptr;
}

int DeviceGl::SetTransform(TransformType type, const Matrix& matrix) {
  Matrix* slot = nullptr;
  if (type == TS_WORLD) slot = &world_;
  else if (type == TS_VIEW) slot = &view_;
  else if (type == TS_PROJECTION) slot = &projection_;
  else if (type >= TS_TEXTURE0 && type <= TS_TEXTURE7) slot = &texture_transforms_[type - TS_TEXTURE0];
  if (!slot) return kErrInvalidCall;
  if (*slot == matrix) return kOk;
  *slot = matrix;
  if (type == TS_WORLD || type == TS_VIEW || type == TS_PROJECTION) dirty_ |= kDirtyTransform;
  if (type == TS_VIEW) lights_stale_ = planes_stale_ = true;
  if (type >= TS_TEXTURE0 && type <= TS_TEXTURE7) Bump(UniformGroup::kTexMatrices);
  return kOk;
}

int DeviceGl::SetMaterial(const Material& material) {
  if (!FiniteColor(material.diffuse) || !FiniteColor(material.ambient) || !FiniteColor(material.specular) ||
      !FiniteColor(material.emissive) || std::isnan(material.power)) {
    core::Trace("RENDER: SetMaterial refused: a value is not a finite number\n");
    return kErrInvalidCall;
  }
  if (material == material_) return kOk;
  material_ = material;
  UpdateMaterialUniforms();
  return kOk;
}

int DeviceGl::SetLight(uint32_t index, const Light& light) {
  const char* fault = nullptr;
  bool positional = light.type == LIGHT_POINT || light.type == LIGHT_SPOT;
  bool aimed = light.type == LIGHT_DIRECTIONAL || light.type == LIGHT_SPOT;
  if (index >= kMaxLights) fault = "index past 7";
  else if (light.type != LIGHT_POINT && light.type != LIGHT_SPOT && light.type != LIGHT_DIRECTIONAL)
    fault = "unknown type";
  else if (!FiniteColor(light.diffuse) || !FiniteColor(light.specular) || !FiniteColor(light.ambient) ||
           !FiniteVector(light.position) || !FiniteVector(light.direction) || !Finite(light.falloff) ||
           !Finite(light.theta) || !Finite(light.phi))
    fault = "a value is not a finite number";
  else if (std::isnan(light.range) || std::isnan(light.attenuation0) || std::isnan(light.attenuation1) ||
           std::isnan(light.attenuation2))
    fault = "NaN range or attenuation";
  else if (light.range < 0.0f || light.attenuation0 < 0.0f || light.attenuation1 < 0.0f || light.attenuation2 < 0.0f)
    fault = "negative range or attenuation";
  else if (positional && light.attenuation0 == 0.0f && light.attenuation1 == 0.0f && light.attenuation2 == 0.0f)
    fault = "all attenuations 0";
  else if (aimed && light.direction.x == 0.0f && light.direction.y == 0.0f && light.direction.z == 0.0f)
    fault = "zero direction";
  if (fault) {
    core::Trace("RENDER: SetLight(%u) refused: %s\n", index, fault);
    return kErrInvalidCall;
  }
  bool type_changed = !light_set_[index] || lights_[index].type != light.type;
  lights_[index] = light;
  light_set_[index] = true;
  lights_stale_ = true;
  // The type, and whether an infinite attenuation puts the light out,
  // shape the program.
  if (light_enabled_[index] || type_changed) dirty_ |= kDirtyProgram;
  return kOk;
}

int DeviceGl::GetLight(uint32_t index, Light* light) const {
  if (index >= kMaxLights || !light || !light_set_[index]) return kErrInvalidCall;
  *light = lights_[index];
  return kOk;
}

int DeviceGl::LightEnable(uint32_t index, bool enable) {
  if (index >= kMaxLights) {
    core::Trace("RENDER: LightEnable(%u) refused: index past 7\n", index);
    return kErrInvalidCall;
  }
  if (enable && !light_set_[index]) {
    // Direct3D's default light: white, directional, along +Z.
    Light light;
    light.type = LIGHT_DIRECTIONAL;
    light.diffuse = ColorValue{1.0f, 1.0f, 1.0f, 0.0f};
    light.direction = Vector{0.0f, 0.0f, 1.0f};
    lights_[index] = light;
    light_set_[index] = true;
  }
  if (light_enabled_[index] == enable) return kOk;
  light_enabled_[index] = enable;
  lights_stale_ = true;
  dirty_ |= kDirtyProgram;
  return kOk;
}

int DeviceGl::GetLightEnable(uint32_t index, bool* enable) const {
  if (index >= kMaxLights || !enable) return kErrInvalidCall;
  *enable = light_enabled_[index];
  return kOk;
}

int DeviceGl::SetClipPlane(uint32_t index, const float plane[4]) {
  if (index >= kMaxClipPlanes || !plane || !Finite(plane[0]) || !Finite(plane[1]) || !Finite(plane[2]) ||
      !Finite(plane[3])) {
    core::Trace("RENDER: SetClipPlane(%u) refused\n", index);
    return kErrInvalidCall;
  }
  if (std::memcmp(clip_planes_[index], plane, sizeof clip_planes_[index]) == 0) return kOk;
  std::memcpy(clip_planes_[index], plane, sizeof clip_planes_[index]);
  planes_stale_ = true;
  return kOk;
}

int DeviceGl::GetClipPlane(uint32_t index, float plane[4]) const {
  if (index >= kMaxClipPlanes || !plane) return kErrInvalidCall;
  std::memcpy(plane, clip_planes_[index], sizeof clip_planes_[index]);
  return kOk;
}

int DeviceGl::GetTransform(TransformType type, Matrix* matrix) const {
  if (!matrix) return kErrInvalidCall;
  if (type == TS_WORLD) *matrix = world_;
  else if (type == TS_VIEW) *matrix = view_;
  else if (type == TS_PROJECTION) *matrix = projection_;
  else if (type >= TS_TEXTURE0 && type <= TS_TEXTURE7) *matrix = texture_transforms_[type - TS_TEXTURE0];
  else return kErrInvalidCall;
  return kOk;
}

int DeviceGl::SetViewport(const Viewport& viewport) {
  if (viewport.width == 0 || viewport.height == 0 || viewport.x + viewport.width > target_width_ ||
      viewport.y + viewport.height > target_height_ || viewport.min_z < 0.0f || viewport.max_z > 1.0f)
    return kErrInvalidCall;
  if (viewport == viewport_) return kOk;
  viewport_ = viewport;
  dirty_ |= kDirtyViewport;
  return kOk;
}

// ---------------------------------------------------------------------------
// Targets
// ---------------------------------------------------------------------------

int DeviceGl::SetRenderTarget(std::shared_ptr<Surface> color, std::shared_ptr<Surface> depth) {
  if (color) {
    SurfaceGl* surface = dynamic_cast<SurfaceGl*>(color.get());
    if (!surface || surface->is_depth() || !(surface->GetDesc().usage & USAGE_RENDERTARGET))
      return kErrInvalidCall;
  }
  if (depth) {
    SurfaceGl* surface = dynamic_cast<SurfaceGl*>(depth.get());
    if (!surface || !surface->is_depth()) return kErrInvalidCall;
  }
  if (color) color_target_ = std::move(color);
  depth_target_ = std::move(depth);
  SurfaceDesc desc = color_target_->GetDesc();
  target_width_ = desc.width;
  target_height_ = desc.height;
  viewport_ = Viewport{0, 0, desc.width, desc.height, 0.0f, 1.0f};
  dirty_ |= kDirtyTarget | kDirtyViewport | kDirtyBlend | kDirtyDepth | kDirtyStencil;
  return kOk;
}

GLuint DeviceGl::FramebufferFor(const SurfaceGl* color, const SurfaceGl* depth) {
  GLuint texture = color->texture_name();
  GLenum target = color->texture_target();
  uint32_t level = color->level();
  GLuint renderbuffer = depth ? depth->renderbuffer() : 0;
  for (const FramebufferEntry& entry : framebuffers_)
    if (entry.color_texture == texture && entry.color_target == target && entry.level == level &&
        entry.depth_renderbuffer == renderbuffer)
      return entry.fbo;
  GLuint fbo = 0;
  VJ_GL(glGenFramebuffers(1, &fbo));
  gl_.BindDrawFramebuffer(fbo);
  dirty_ |= kDirtyTarget;
  VJ_GL(glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, texture,
                               static_cast<GLint>(level)));
  if (depth) {
    GLenum attachment = FormatHasStencil(depth->GetDesc().format) ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
    VJ_GL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, attachment, GL_RENDERBUFFER, renderbuffer));
  }
  GLenum status = VJ_GL(glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER));
  if (status != GL_FRAMEBUFFER_COMPLETE)
    core::Trace("RENDER: framebuffer for %s target incomplete (0x%x)\n", FormatName(color->GetDesc().format), status);
  framebuffers_.push_back({texture, target, level, renderbuffer, fbo});
  return fbo;
}

void DeviceGl::ApplyTarget() {
  const SurfaceGl* color = static_cast<const SurfaceGl*>(color_target_.get());
  const SurfaceGl* depth = static_cast<const SurfaceGl*>(depth_target_.get());
  GLuint fbo = FramebufferFor(color, depth);
  gl_.BindDrawFramebuffer(fbo);
  target_has_alpha_ = FormatHasAlpha(color->GetDesc().format);
  dirty_ &= ~kDirtyTarget;
}

int DeviceGl::ReadSurfacePixels(Surface* surface, std::vector<uint32_t>* pixels) {
  SurfaceGl* source = dynamic_cast<SurfaceGl*>(surface);
  if (!source || source->is_depth() || !pixels || !initialized_) return kErrInvalidCall;
  if (MakeCurrent() != 0) return kErrDeviceLost;
  if (source->texture_name() == 0) return kErrInvalidCall;
  SurfaceDesc desc = source->GetDesc();
  gl_.BindReadFramebuffer(FramebufferFor(source, nullptr));
  gl_.PixelStore(GL_PACK_ALIGNMENT, 4);
  std::vector<uint8_t> rgba(static_cast<size_t>(desc.width) * desc.height * 4);
  VJ_GL(glReadPixels(0, 0, static_cast<GLsizei>(desc.width), static_cast<GLsizei>(desc.height), GL_RGBA,
                     GL_UNSIGNED_BYTE, rgba.data()));
  pixels->resize(static_cast<size_t>(desc.width) * desc.height);
  for (size_t i = 0; i < pixels->size(); ++i) {
    const uint8_t* p = &rgba[i * 4];
    (*pixels)[i] = ColorArgb(p[3], p[0], p[1], p[2]);
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// Applying state at draw time
// ---------------------------------------------------------------------------

void DeviceGl::ApplyViewport() {
  gl_.Viewport(static_cast<GLint>(viewport_.x), static_cast<GLint>(viewport_.y),
               static_cast<GLsizei>(viewport_.width), static_cast<GLsizei>(viewport_.height));
  gl_.DepthRange(viewport_.min_z, viewport_.max_z);
  float screen[4] = {2.0f / static_cast<float>(viewport_.width), 2.0f / static_cast<float>(viewport_.height),
                     0.5f - static_cast<float>(viewport_.x), 0.5f - static_cast<float>(viewport_.y)};
  if (std::memcmp(screen, screen_, sizeof screen) != 0) {
    std::memcpy(screen_, screen, sizeof screen);
    Bump(UniformGroup::kScreen);
  }
  dirty_ &= ~kDirtyViewport;
}

void DeviceGl::ApplyBlend() {
  bool enable = render_states_[RS_ALPHABLENDENABLE] != 0;
  gl_.Enable(gl::Capability::kBlend, enable);
  if (enable) {
    uint32_t src = render_states_[RS_SRCBLEND], dst = render_states_[RS_DESTBLEND];
    GLenum gl_src, gl_dst;
    if (src == BLEND_BOTHSRCALPHA) {
      gl_src = GL_SRC_ALPHA;
      gl_dst = GL_ONE_MINUS_SRC_ALPHA;
    } else if (src == BLEND_BOTHINVSRCALPHA) {
      gl_src = GL_ONE_MINUS_SRC_ALPHA;
      gl_dst = GL_SRC_ALPHA;
    } else {
      gl_src = GlBlendFactor(src, true, target_has_alpha_);
      gl_dst = GlBlendFactor(dst, false, target_has_alpha_);
    }
    gl_.BlendFunc(gl_src, gl_dst);
    gl_.BlendEquation(GlBlendEquation(render_states_[RS_BLENDOP]));
  }
  dirty_ &= ~kDirtyBlend;
}

void DeviceGl::ApplyDepth() {
  bool test = render_states_[RS_ZENABLE] != ZB_FALSE && depth_target_ != nullptr;
  gl_.Enable(gl::Capability::kDepthTest, test);
  if (test) {
    gl_.DepthFunc(GlCompare(render_states_[RS_ZFUNC]));
    gl_.DepthMask(render_states_[RS_ZWRITEENABLE] != 0);
  }
  dirty_ &= ~kDirtyDepth;
}

void DeviceGl::ApplyStencil() {
  bool on = render_states_[RS_STENCILENABLE] != 0 && depth_target_ &&
            FormatHasStencil(depth_target_->GetDesc().format);
  gl_.Enable(gl::Capability::kStencilTest, on);
  if (on) {
    gl_.StencilFunc(GlCompare(render_states_[RS_STENCILFUNC]), static_cast<GLint>(render_states_[RS_STENCILREF] & 0xff),
                    render_states_[RS_STENCILMASK]);
    gl_.StencilOp(GlStencilOp(render_states_[RS_STENCILFAIL]), GlStencilOp(render_states_[RS_STENCILZFAIL]),
                  GlStencilOp(render_states_[RS_STENCILPASS]));
    gl_.StencilMask(render_states_[RS_STENCILWRITEMASK]);
  }
  dirty_ &= ~kDirtyStencil;
}

void DeviceGl::ApplyRaster() {
  // Direct3D's clockwise on screen is counter-clockwise to GL here (front).
  switch (render_states_[RS_CULLMODE]) {
    case CULL_CW:
      gl_.Enable(gl::Capability::kCullFace, true);
      gl_.CullFace(GL_FRONT);
      break;
    case CULL_CCW:
      gl_.Enable(gl::Capability::kCullFace, true);
      gl_.CullFace(GL_BACK);
      break;
    default: gl_.Enable(gl::Capability::kCullFace, false); break;
  }
  uint32_t fill = render_states_[RS_FILLMODE];
  gl_.PolygonMode(fill == FILL_POINT ? GL_POINT : fill == FILL_WIREFRAME ? GL_LINE : GL_FILL);
  uint32_t mask = render_states_[RS_COLORWRITEENABLE];
  gl_.ColorMask(mask & COLORWRITE_RED, mask & COLORWRITE_GREEN, mask & COLORWRITE_BLUE, mask & COLORWRITE_ALPHA);
  uint32_t bias = render_states_[RS_ZBIAS];
  gl_.Enable(gl::Capability::kPolygonOffsetFill, bias != 0);
  if (bias != 0) gl_.PolygonOffset(0.0f, -static_cast<float>(bias));
  gl_.Enable(gl::Capability::kScissorTest, false);
  dirty_ &= ~kDirtyRaster;
}

void DeviceGl::BuildKey(ProgramKey* key) const {
  uint32_t fvf = fvf_;
  key->pretransformed = (fvf & FVF_POSITION_MASK) == FVF_XYZRHW;
  key->has_normal = (fvf & FVF_NORMAL) != 0;
  key->has_diffuse = (fvf & FVF_DIFFUSE) != 0;
  key->has_specular = (fvf & FVF_SPECULAR) != 0;
  uint32_t sets = std::min<uint32_t>(8, (fvf & FVF_TEXCOUNT_MASK) >> FVF_TEXCOUNT_SHIFT);
  key->tex_sets = static_cast<uint8_t>(sets);
  static const uint8_t kFloats[4] = {2, 3, 4, 1};
  for (uint32_t set = 0; set < sets; ++set) key->tex_size[set] = kFloats[(fvf >> (16 + set * 2)) & 3];
  key->flat_shading = render_states_[RS_SHADEMODE] == SHADE_FLAT;
  uint32_t alpha_func = render_states_[RS_ALPHAFUNC];
  if (render_states_[RS_ALPHATESTENABLE] && alpha_func >= CMP_NEVER && alpha_func < CMP_ALWAYS)
    key->alpha_func = static_cast<uint8_t>(alpha_func);
  key->specular_add = render_states_[RS_SPECULARENABLE] != 0 && key->has_specular;
  for (uint32_t s = 0; s < kMaxTextureStages; ++s) {
    const uint32_t* ss = stage_states_[s];
    uint32_t color_op = ss[TSS_COLOROP];
    if (color_op <= TOP_DISABLE || color_op > TOP_LERP) break;
    StageKey& st = key->stages[s];
    st.color_op = static_cast<uint8_t>(color_op);
    uint32_t alpha_op = color_op == TOP_DOTPRODUCT3 ? 0 : ss[TSS_ALPHAOP];
    if (alpha_op > TOP_LERP) alpha_op = TOP_DISABLE;
    st.alpha_op = static_cast<uint8_t>(alpha_op);
    static const TextureStageStateType kColorArgs[3] = {TSS_COLORARG0, TSS_COLORARG1, TSS_COLORARG2};
    static const TextureStageStateType kAlphaArgs[3] = {TSS_ALPHAARG0, TSS_ALPHAARG1, TSS_ALPHAARG2};
    uint32_t color_uses = ArgUsage(color_op), alpha_uses = alpha_op ? ArgUsage(alpha_op) : 0;
    bool reads_texture = OpReadsTextureAlpha(color_op) || OpReadsTextureAlpha(alpha_op);
    for (int i = 0; i < 3; ++i) {
      if (color_uses & (1u << i)) {
        st.color_arg[i] = static_cast<uint8_t>(ss[kColorArgs[i]] & 0x3f);
        reads_texture |= (st.color_arg[i] & TA_SELECTMASK) == TA_TEXTURE;
      }
      if (alpha_uses & (1u << i)) {
        st.alpha_arg[i] = static_cast<uint8_t>(ss[kAlphaArgs[i]] & 0x3f);
        reads_texture |= (st.alpha_arg[i] & TA_SELECTMASK) == TA_TEXTURE;
      }
    }
    st.result_temp = ss[TSS_RESULTARG] == TA_TEMP;
    if (reads_texture && textures_[s]) {
      st.texture = textures_[s]->Kind() == TextureKind::kCube ? kStageTextureCube : kStageTexture2D;
      uint32_t index = ss[TSS_TEXCOORDINDEX] & 0xffff;
      st.coord_index = static_cast<uint8_t>(index < 8 ? index : 0);
      // Generated and transformed coordinates: transformed vertices only.
      uint32_t gen = ss[TSS_TEXCOORDINDEX] >> 16;
      if (!key->pretransformed && gen >= 1 && gen <= 3) {
        st.coord_gen = static_cast<uint8_t>(gen);
        st.coord_index = 0;
      }
      uint32_t count = ss[TSS_TEXTURETRANSFORMFLAGS] & 0xff;
      if (!key->pretransformed && count >= TTFF_COUNT1 && count <= TTFF_COUNT4) {
        st.transform = static_cast<uint8_t>(count);
        st.projected = (ss[TSS_TEXTURETRANSFORMFLAGS] & TTFF_PROJECTED) != 0;
      }
    }
    key->stage_count = static_cast<uint8_t>(s + 1);
  }
  if (render_states_[RS_FOGENABLE]) {
    // Table fog on the pixel's depth (screen vertices too); vertex fog on
    // camera space, transformed vertices only.
    uint32_t table = render_states_[RS_FOGTABLEMODE], vertex = render_states_[RS_FOGVERTEXMODE];
    if (table >= FOG_EXP && table <= FOG_LINEAR) {
      if (FogUsable(table)) key->fog_mode = static_cast<uint8_t>(table);
    } else if (table == FOG_NONE && !key->pretransformed && vertex >= FOG_EXP && vertex <= FOG_LINEAR &&
               FogUsable(vertex)) {
      key->fog_mode = static_cast<uint8_t>(vertex | kFogPerVertex | (render_states_[RS_RANGEFOGENABLE] ? kFogRange : 0));
    }
  }
  if (key->pretransformed) return;  // screen vertices: unlit and never clipped

  bool normal_gen = false, reflection = false;
  for (int s = 0; s < key->stage_count; ++s) {
    const StageKey& st = key->stages[s];
    if (st.coord_gen == (TCI_CAMERASPACENORMAL >> 16)) normal_gen = true;
    if (st.coord_gen == (TCI_CAMERASPACEREFLECTIONVECTOR >> 16)) normal_gen = reflection = true;
  }
  uint32_t light_count = 0;
  if (render_states_[RS_LIGHTING]) {
    key->lighting = 1;
    uint32_t indices[kMaxLights];
    light_count = ActiveLights(indices);
    for (uint32_t k = 0; k < light_count; ++k) key->light_types[k] = static_cast<uint8_t>(lights_[indices[k]].type);
    key->specular_add = render_states_[RS_SPECULARENABLE] != 0 && light_count > 0;
    if (render_states_[RS_COLORVERTEX]) {
      static const RenderStateType kSources[4] = {RS_DIFFUSEMATERIALSOURCE, RS_SPECULARMATERIALSOURCE,
                                                  RS_AMBIENTMATERIALSOURCE, RS_EMISSIVEMATERIALSOURCE};
      uint32_t packed = 0;
      for (int i = 0; i < 4; ++i) {
        uint32_t source = render_states_[kSources[i]];
        // A colour the vertex lacks reads the material.
        if ((source == MCS_COLOR1 && key->has_diffuse) || (source == MCS_COLOR2 && key->has_specular))
          packed |= source << (i * 2);
      }
      key->material_sources = static_cast<uint8_t>(packed);
    }
  }
  if ((key->lighting || normal_gen) && key->has_normal) key->normalize_normals = render_states_[RS_NORMALIZENORMALS] != 0;
  if ((key->specular_add && key->lighting) || reflection) key->local_viewer = render_states_[RS_LOCALVIEWER] != 0;
  if (render_states_[RS_CLIPPING]) {
    uint32_t usable = (1u << std::min(caps_.max_user_clip_planes, kMaxClipPlanes)) - 1;
    key->clip_plane_mask = static_cast<uint8_t>(render_states_[RS_CLIPPLANEENABLE] & usable);
  }
}

uint32_t DeviceGl::ActiveLights(uint32_t indices[kMaxLights]) const {
  uint32_t count = 0;
  for (uint32_t i = 0; i < kMaxLights; ++i) {
    if (!light_enabled_[i]) continue;
    const Light& light = lights_[i];
    if (light.type != LIGHT_DIRECTIONAL &&
        (std::isinf(light.attenuation0) || std::isinf(light.attenuation1) || std::isinf(light.attenuation2)))
      continue;  // an infinite attenuation lights nothing
    indices[count++] = i;
  }
  return count;
}

// Fog values that can fog: finite, as the mode reads them.
bool DeviceGl::FogUsable(uint32_t mode) const {
  if (mode == FOG_LINEAR)
    return Finite(BitsFloat(render_states_[RS_FOGSTART])) && Finite(BitsFloat(render_states_[RS_FOGEND]));
  return Finite(BitsFloat(render_states_[RS_FOGDENSITY]));
}

void DeviceGl::UpdateTransformUniforms() {
  Matrix wvp = Multiply(Multiply(world_, view_), projection_);
  if (!(wvp == wvp_)) {
    wvp_ = wvp;
    Bump(UniformGroup::kWvp);
  }
  Matrix world_view = Multiply(world_, view_);
  if (!(world_view == world_view_)) {
    world_view_ = world_view;
    Bump(UniformGroup::kWorldView);
    float normal[9];
    NormalMatrix(world_view_, normal);
    if (std::memcmp(normal, normal_matrix_, sizeof normal) != 0) {
      std::memcpy(normal_matrix_, normal, sizeof normal);
      Bump(UniformGroup::kNormalMatrix);
    }
  }
}

void DeviceGl::UpdateLightUniforms() {
  float data[kMaxLights * kLightVec4s * 4] = {};
  uint32_t indices[kMaxLights];
  uint32_t count = ActiveLights(indices);
  const Matrix& v = view_;
  for (uint32_t k = 0; k < count; ++k) {
    const Light& light = lights_[indices[k]];
    float* out = &data[k * kLightVec4s * 4];
    PutColor(light.diffuse, out);
    PutColor(light.specular, out + 4);
    PutColor(light.ambient, out + 8);
    // Position and direction into camera space with the view now in effect.
    double pos[3], dir[3];
    for (int j = 0; j < 3; ++j) {
      pos[j] = light.position.x * static_cast<double>(v.m[0][j]) + light.position.y * static_cast<double>(v.m[1][j]) +
               light.position.z * static_cast<double>(v.m[2][j]) + v.m[3][j];
      dir[j] = light.direction.x * static_cast<double>(v.m[0][j]) +
               light.direction.y * static_cast<double>(v.m[1][j]) + light.direction.z * static_cast<double>(v.m[2][j]);
    }
    double length = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    for (int j = 0; j < 3; ++j) {
      out[12 + j] = std::isfinite(pos[j]) ? static_cast<float>(pos[j]) : 0.0f;
      // Towards the light, unit length (zero when the view flattens it).
      double d = length > 0.0 && std::isfinite(length) ? -dir[j] / length : 0.0;
      out[16 + j] = static_cast<float>(d);
    }
    out[15] = std::min(light.range, FLT_MAX);
    out[20] = light.attenuation0;
    out[21] = light.attenuation1;
    out[22] = light.attenuation2;
    out[23] = std::max(light.falloff, 0.0f);
    out[24] = static_cast<float>(std::cos(light.theta * 0.5));
    out[25] = static_cast<float>(std::cos(light.phi * 0.5));
  }
  lights_stale_ = false;
  if (std::memcmp(data, light_data_, sizeof data) == 0) return;
  std::memcpy(light_data_, data, sizeof data);
  Bump(UniformGroup::kLights);
}

void DeviceGl::UpdatePlaneUniforms() {
  float data[kMaxClipPlanes * 4];
  double inverse[4][4];
  bool ok = Invert(view_, inverse);
  for (uint32_t i = 0; i < kMaxClipPlanes; ++i) {
    // dist = [p_world 1] P = [p_camera 1] V^-1 P.
    for (int r = 0; r < 4; ++r) {
      double sum = 0.0;
      for (int c = 0; c < 4; ++c) sum += inverse[r][c] * clip_planes_[i][c];
      data[i * 4 + r] = ok && std::isfinite(sum) ? static_cast<float>(sum) : (r == 3 ? 1.0f : 0.0f);
    }
  }
  planes_stale_ = false;
  if (std::memcmp(data, plane_data_, sizeof data) == 0) return;
  std::memcpy(plane_data_, data, sizeof data);
  Bump(UniformGroup::kPlanes);
}

void DeviceGl::UpdateMaterialUniforms() {
  float data[24] = {};
  PutColor(material_.diffuse, data);
  PutColor(material_.ambient, data + 4);
  PutColor(material_.specular, data + 8);
  PutColor(material_.emissive, data + 12);
  data[16] = std::clamp(material_.power, 0.0f, FLT_MAX);  // a negative power draws as 0
  ColorToFloats(render_states_[RS_AMBIENT], data + 20);
  if (std::memcmp(data, material_data_, sizeof data) == 0) return;
  std::memcpy(material_data_, data, sizeof data);
  Bump(UniformGroup::kMaterial);
}

void DeviceGl::UpdateFogUniforms() {
  float data[8] = {};
  float start = BitsFloat(render_states_[RS_FOGSTART]), end = BitsFloat(render_states_[RS_FOGEND]);
  data[0] = start;
  data[1] = end;
  double span = static_cast<double>(end) - start;
  data[2] = span != 0.0 && std::isfinite(span) ? static_cast<float>(1.0 / span) : 0.0f;
  data[3] = BitsFloat(render_states_[RS_FOGDENSITY]);
  ColorToFloats(render_states_[RS_FOGCOLOR], data + 4);
  if (std::memcmp(data, fog_data_, sizeof data) == 0) return;
  std::memcpy(fog_data_, data, sizeof data);
  Bump(UniformGroup::kFog);
}

ProgramGl* DeviceGl::BuildProgram(const ProgramKey& key) {
  std::string vs_source = GenerateVertexSource(key);
  std::string fs_source = GenerateFragmentSource(key);
  GLuint vs = CompileShader(GL_VERTEX_SHADER, vs_source);
  GLuint fs = vs ? CompileShader(GL_FRAGMENT_SHADER, fs_source) : 0;
  if (!vs || !fs) {
    if (vs) VJ_GL(glDeleteShader(vs));
    return nullptr;
  }
  GLuint program = VJ_GL(glCreateProgram());
  VJ_GL(glAttachShader(program, vs));
  VJ_GL(glAttachShader(program, fs));
  VJ_GL(glBindAttribLocation(program, kAttrPosition, "a_position"));
  VJ_GL(glBindAttribLocation(program, kAttrNormal, "a_normal"));
  VJ_GL(glBindAttribLocation(program, kAttrDiffuse, "a_diffuse"));
  VJ_GL(glBindAttribLocation(program, kAttrSpecular, "a_specular"));
  char name[32];
  for (int set = 0; set < 8; ++set) {
    std::snprintf(name, sizeof name, "a_tex%d", set);
    VJ_GL(glBindAttribLocation(program, kAttrTexCoord0 + set, name));
  }
  VJ_GL(glBindFragDataLocation(program, 0, "o_color"));
  VJ_GL(glLinkProgram(program));
  VJ_GL(glDeleteShader(vs));
  VJ_GL(glDeleteShader(fs));
  GLint ok = 0;
  VJ_GL(glGetProgramiv(program, GL_LINK_STATUS, &ok));
  if (!ok) {
    char log[2048] = {};
    VJ_GL(glGetProgramInfoLog(program, sizeof log, nullptr, log));
    core::Trace("RENDER: program link failed: %s\n", log);
    VJ_GL(glDeleteProgram(program));
    return nullptr;
  }
  ++gl::g_program_builds;
  auto result = std::make_unique<ProgramGl>();
  result->name = program;
  result->locations[static_cast<int>(UniformGroup::kWvp)] = VJ_GL(glGetUniformLocation(program, "u_wvp"));
  result->locations[static_cast<int>(UniformGroup::kScreen)] = VJ_GL(glGetUniformLocation(program, "u_screen"));
  result->locations[static_cast<int>(UniformGroup::kTFactor)] = VJ_GL(glGetUniformLocation(program, "u_tfactor"));
  result->locations[static_cast<int>(UniformGroup::kAlphaRef)] = VJ_GL(glGetUniformLocation(program, "u_alpha_ref"));
  static const std::pair<UniformGroup, const char*> k3dUniforms[] = {
      {UniformGroup::kWorldView, "u_world_view"}, {UniformGroup::kNormalMatrix, "u_normal_matrix"},
      {UniformGroup::kLights, "u_lights"},        {UniformGroup::kMaterial, "u_material"},
      {UniformGroup::kFog, "u_fog"},              {UniformGroup::kPlanes, "u_planes"},
      {UniformGroup::kTexMatrices, "u_texm"}};
  for (const auto& [group, uniform] : k3dUniforms)
    result->locations[static_cast<int>(group)] = VJ_GL(glGetUniformLocation(program, uniform));
  while (result->light_count < 8 && key.light_types[result->light_count] != 0) ++result->light_count;
  gl_.UseProgram(program);
  for (int stage = 0; stage < key.stage_count; ++stage) {
    std::snprintf(name, sizeof name, "u_tex%d", stage);
    GLint location = VJ_GL(glGetUniformLocation(program, name));
    if (location >= 0) VJ_GL(glUniform1i(location, stage));
  }
  ProgramGl* raw = result.get();
  programs_.emplace(key, std::move(result));
  return raw;
}

ProgramGl* DeviceGl::ApplyProgram() {
  if (dirty_ & kDirtyProgram) {
    ProgramKey key{};
    BuildKey(&key);
    if (!current_program_ || !(key == current_key_)) {
      auto found = programs_.find(key);
      ProgramGl* program = found != programs_.end() ? found->second.get() : BuildProgram(key);
      if (!program) return nullptr;
      current_program_ = program;
      current_key_ = key;
    }
    dirty_ &= ~kDirtyProgram;
  }
  if (current_program_) {
    gl_.UseProgram(current_program_->name);
    gl_.ClipDistances(current_key_.clip_plane_mask);
  }
  return current_program_;
}

void DeviceGl::ApplyUniforms(ProgramGl* program) {
  if (dirty_ & kDirtyTransform) {
    UpdateTransformUniforms();
    dirty_ &= ~kDirtyTransform;
  }
  // Camera-space lights and planes are remade only for programs reading
  // them, and reach GL only when they changed.
  if (lights_stale_ && program->locations[static_cast<int>(UniformGroup::kLights)] >= 0) UpdateLightUniforms();
  if (planes_stale_ && program->locations[static_cast<int>(UniformGroup::kPlanes)] >= 0) UpdatePlaneUniforms();
  for (int group = 0; group < kUniformGroupCount; ++group) {
    GLint location = program->locations[group];
    if (location < 0 || program->versions[group] == uniform_versions_[group]) continue;
    program->versions[group] = uniform_versions_[group];
    switch (static_cast<UniformGroup>(group)) {
      // The row-major matrix read as column-major is its transpose, which
      // turns GLSL's M * v into Direct3D's v * M.
      case UniformGroup::kWvp: VJ_GL(glUniformMatrix4fv(location, 1, GL_FALSE, &wvp_.m[0][0])); break;
      case UniformGroup::kScreen: VJ_GL(glUniform4fv(location, 1, screen_)); break;
      case UniformGroup::kTFactor: VJ_GL(glUniform4fv(location, 1, tfactor_)); break;
      case UniformGroup::kAlphaRef: VJ_GL(glUniform1f(location, alpha_ref_)); break;
      case UniformGroup::kWorldView: VJ_GL(glUniformMatrix4fv(location, 1, GL_FALSE, &world_view_.m[0][0])); break;
      case UniformGroup::kNormalMatrix: VJ_GL(glUniformMatrix3fv(location, 1, GL_FALSE, normal_matrix_)); break;
      case UniformGroup::kLights:
        VJ_GL(glUniform4fv(location, program->light_count * kLightVec4s, light_data_));
        break;
      case UniformGroup::kMaterial: VJ_GL(glUniform4fv(location, 6, material_data_)); break;
      case UniformGroup::kFog: VJ_GL(glUniform4fv(location, 2, fog_data_)); break;
      case UniformGroup::kPlanes: VJ_GL(glUniform4fv(location, 8, plane_data_)); break;
      case UniformGroup::kTexMatrices:
        VJ_GL(glUniformMatrix4fv(location, 8, GL_FALSE, &texture_transforms_[0].m[0][0]));
        break;
    }
  }
}

void DeviceGl::ApplySampler(uint32_t stage) {
  SamplerState& s = samplers_[stage];
  const uint32_t* ss = stage_states_[stage];
  auto wrap = [](uint32_t mode) -> GLint {
    switch (mode) {
      case TADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
      case TADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
      case TADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
      case TADDRESS_MIRRORONCE: return GL_CLAMP_TO_EDGE;
      default: return GL_REPEAT;
    }
  };
  bool min_linear = ss[TSS_MINFILTER] >= TEXF_LINEAR;
  GLint min_filter;
  switch (ss[TSS_MIPFILTER]) {
    case TEXF_POINT: min_filter = min_linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST; break;
    case TEXF_NONE: min_filter = min_linear ? GL_LINEAR : GL_NEAREST; break;
    default: min_filter = min_linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR; break;
  }
  GLint mag_filter = ss[TSS_MAGFILTER] >= TEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
  auto set_int = [&](GLint* cached, GLenum name, GLint value) {
    if (s.known && *cached == value) return;
    *cached = value;
    VJ_GL(glSamplerParameteri(s.name, name, value));
  };
  set_int(&s.wrap_s, GL_TEXTURE_WRAP_S, wrap(ss[TSS_ADDRESSU]));
  set_int(&s.wrap_t, GL_TEXTURE_WRAP_T, wrap(ss[TSS_ADDRESSV]));
  set_int(&s.wrap_r, GL_TEXTURE_WRAP_R, wrap(ss[TSS_ADDRESSW]));
  set_int(&s.min_filter, GL_TEXTURE_MIN_FILTER, min_filter);
  set_int(&s.mag_filter, GL_TEXTURE_MAG_FILTER, mag_filter);
  float bias = BitsFloat(ss[TSS_MIPMAPLODBIAS]);
  if (!s.known || s.lod_bias != bias) {
    s.lod_bias = bias;
    VJ_GL(glSamplerParameterf(s.name, GL_TEXTURE_LOD_BIAS, bias));
  }
  float min_lod = static_cast<float>(ss[TSS_MAXMIPLEVEL]);
  if (!s.known || s.min_lod != min_lod) {
    s.min_lod = min_lod;
    VJ_GL(glSamplerParameterf(s.name, GL_TEXTURE_MIN_LOD, min_lod));
  }
  if (!s.known || s.border != ss[TSS_BORDERCOLOR]) {
    s.border = ss[TSS_BORDERCOLOR];
    float border[4];
    ColorToFloats(s.border, border);
    VJ_GL(glSamplerParameterfv(s.name, GL_TEXTURE_BORDER_COLOR, border));
  }
  s.known = true;
  sampler_dirty_ &= ~(1u << stage);
}

void DeviceGl::ApplyTextures() {
  for (uint32_t stage = 0; stage < current_key_.stage_count; ++stage) {
    if (current_key_.stages[stage].texture == kStageTextureNone) continue;
    TextureStore* store = StoreOf(textures_[stage].get());
    if (!store) continue;
    gl_.BindTexture(static_cast<int>(stage), store->target, store->name);
    if (sampler_dirty_ & (1u << stage)) ApplySampler(stage);
  }
}

void DeviceGl::ApplyVertexInput(GLuint buffer, uint32_t stride) {
  if (input_valid_ && input_buffer_ == buffer && input_fvf_ == fvf_ && input_stride_ == stride) return;
  gl_.BindArrayBuffer(buffer);
  uint32_t fvf = fvf_;
  uint32_t offset = 0;
  uint32_t enabled = 0;
  auto pointer = [&](uint32_t slot, GLint size, GLenum type, bool normalized, uint32_t bytes) {
    VJ_GL(glVertexAttribPointer(slot, size, type, normalized ? GL_TRUE : GL_FALSE, static_cast<GLsizei>(stride),
                                reinterpret_cast<const void*>(static_cast<uintptr_t>(offset))));
    enabled |= 1u << slot;
    offset += bytes;
  };
  if ((fvf & FVF_POSITION_MASK) == FVF_XYZRHW) pointer(kAttrPosition, 4, GL_FLOAT, false, 16);
  else pointer(kAttrPosition, 3, GL_FLOAT, false, 12);
  if (fvf & FVF_NORMAL) pointer(kAttrNormal, 3, GL_FLOAT, false, 12);
  if (fvf & FVF_PSIZE) pointer(kAttrPointSize, 1, GL_FLOAT, false, 4);
  // A8R8G8B8 words are B, G, R, A bytes in memory.
  if (fvf & FVF_DIFFUSE) pointer(kAttrDiffuse, GL_BGRA, GL_UNSIGNED_BYTE, true, 4);
  if (fvf & FVF_SPECULAR) pointer(kAttrSpecular, GL_BGRA, GL_UNSIGNED_BYTE, true, 4);
  uint32_t sets = std::min<uint32_t>(8, (fvf & FVF_TEXCOUNT_MASK) >> FVF_TEXCOUNT_SHIFT);
  static const GLint kFloats[4] = {2, 3, 4, 1};
  for (uint32_t set = 0; set < sets; ++set) {
    GLint floats = kFloats[(fvf >> (16 + set * 2)) & 3];
    pointer(kAttrTexCoord0 + set, floats, GL_FLOAT, false, 4 * static_cast<uint32_t>(floats));
  }
  for (uint32_t slot = 0; slot < kAttrCount; ++slot) {
    bool want = (enabled >> slot) & 1;
    bool had = input_valid_ ? ((input_enabled_ >> slot) & 1) : !want;
    if (want == had) continue;
    if (want) VJ_GL(glEnableVertexAttribArray(slot));
    else VJ_GL(glDisableVertexAttribArray(slot));
  }
  input_enabled_ = enabled;
  input_buffer_ = buffer;
  input_fvf_ = fvf;
  input_stride_ = stride;
  input_valid_ = true;
}

int DeviceGl::PrepareDraw() {
  if (!initialized_) return kErrInvalidCall;
  if (MakeCurrent() != 0) return kErrDeviceLost;
  if (FvfVertexSize(fvf_) == 0) return kErrInvalidCall;
  if (dirty_ & kDirtyTarget) ApplyTarget();
  if (dirty_ & kDirtyViewport) ApplyViewport();
  if (dirty_ & kDirtyBlend) ApplyBlend();
  if (dirty_ & kDirtyDepth) ApplyDepth();
  if (dirty_ & kDirtyStencil) ApplyStencil();
  if (dirty_ & kDirtyRaster) ApplyRaster();
  ProgramGl* program = ApplyProgram();
  if (!program) return kErrInvalidCall;
  ApplyUniforms(program);
  ApplyTextures();
  return kOk;
}

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------

int DeviceGl::SetFVF(uint32_t fvf) {
  if (fvf == fvf_) return kOk;
  fvf_ = fvf;
  dirty_ |= kDirtyProgram;
  return kOk;
}

int DeviceGl::SetStreamSource(uint32_t stream, std::shared_ptr<VertexBuffer> buffer, uint32_t stride) {
  if (stream != 0) return kErrInvalidCall;  // one stream is all fixed function uses
  stream_ = std::move(buffer);
  stream_stride_ = stride;
  return kOk;
}

int DeviceGl::SetIndices(std::shared_ptr<IndexBuffer> buffer, uint32_t base_vertex_index) {
  indices_ = std::move(buffer);
  base_vertex_index_ = base_vertex_index;
  return kOk;
}

uint32_t DeviceGl::RingAppend(RingBuffer* ring, GLenum target, const void* data, uint64_t bytes, uint32_t align) {
  // Sizes in 64 bits and bounded, so growing by doubling always ends.
  if (bytes == 0 || bytes > kMaxDrawBytes || align == 0) return UINT32_MAX;
  uint64_t offset = (uint64_t{ring->offset} + align - 1) / align * align;
  GLbitfield access = GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT;
  if (bytes > ring->size) {
    // Grow: a new store (the old one stays alive for draws still reading it).
    uint64_t size = ring->size ? ring->size : 1;
    while (size < bytes) size *= 2;
    size = std::min<uint64_t>(size, kMaxDrawBytes);
    ring->size = static_cast<uint32_t>(size);
    VJ_GL(glBufferData(target, static_cast<GLsizeiptr>(size), nullptr, GL_STREAM_DRAW));
    offset = 0;
    access = GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT;
  } else if (offset + bytes > ring->size) {
    // Wrap: orphan the store instead of waiting for the draws reading it.
    offset = 0;
    access = GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT;
  }
  void* pointer = VJ_GL(glMapBufferRange(target, static_cast<GLintptr>(offset), static_cast<GLsizeiptr>(bytes), access));
  if (!pointer) return UINT32_MAX;
  std::memcpy(pointer, data, static_cast<size_t>(bytes));
  VJ_GL(glUnmapBuffer(target));
  ring->offset = static_cast<uint32_t>(offset + bytes);
  return static_cast<uint32_t>(offset);
}

int DeviceGl::DrawPrimitive(PrimitiveType type, uint32_t start_vertex, uint32_t primitive_count) {
  if (!ValidPrimitive(type)) return kErrInvalidCall;
  if (primitive_count == 0) return kOk;
  if (!stream_ || stream_stride_ == 0) return kErrInvalidCall;
  int result = PrepareDraw();
  if (result != kOk) return result;
  BufferGl& buffer = static_cast<VertexBufferGl*>(stream_.get())->buffer();
  if (buffer.name == 0 || buffer.locked) return kErrInvalidCall;
  const uint64_t count = VertexCount(type, primitive_count);
  if (count > kMaxGlCount || (uint64_t{start_vertex} + count) * stream_stride_ > buffer.size)
    return kErrInvalidCall;
  ApplyVertexInput(buffer.name, stream_stride_);
  VJ_GL(glDrawArrays(GlPrimitive(type), static_cast<GLint>(start_vertex), static_cast<GLsizei>(count)));
  return kOk;
}

int DeviceGl::DrawIndexedPrimitive(PrimitiveType type, uint32_t min_index, uint32_t vertex_count,
                                   uint32_t start_index, uint32_t primitive_count) {
  (void)min_index;
  (void)vertex_count;
  if (!ValidPrimitive(type)) return kErrInvalidCall;
  if (primitive_count == 0) return kOk;
  if (!stream_ || stream_stride_ == 0 || !indices_) return kErrInvalidCall;
  int result = PrepareDraw();
  if (result != kOk) return result;
  BufferGl& vertices = static_cast<VertexBufferGl*>(stream_.get())->buffer();
  IndexBufferGl* index_buffer = static_cast<IndexBufferGl*>(indices_.get());
  BufferGl& indices = index_buffer->buffer();
  if (vertices.name == 0 || indices.name == 0 || vertices.locked || indices.locked) return kErrInvalidCall;
  ApplyVertexInput(vertices.name, stream_stride_);
  gl_.BindElementBuffer(indices.name);
  bool wide = index_buffer->GetDesc().format == FMT_INDEX32;
  // The indices read must lie inside the index buffer.
  const uint64_t count = VertexCount(type, primitive_count);
  if (count > kMaxGlCount || (uint64_t{start_index} + count) * (wide ? 4 : 2) > indices.size ||
      base_vertex_index_ > kMaxGlCount)
    return kErrInvalidCall;
  uintptr_t offset = static_cast<uintptr_t>(start_index) * (wide ? 4 : 2);
  VJ_GL(glDrawElementsBaseVertex(GlPrimitive(type), static_cast<GLsizei>(count),
                                 wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, reinterpret_cast<const void*>(offset),
                                 static_cast<GLint>(base_vertex_index_)));
  return kOk;
}

int DeviceGl::DrawPrimitiveUP(PrimitiveType type, uint32_t primitive_count, const void* vertices, uint32_t stride) {
  if (!ValidPrimitive(type) || !vertices || stride == 0) return kErrInvalidCall;
  if (primitive_count == 0) return kOk;
  int result = PrepareDraw();
  if (result != kOk) return result;
  const uint64_t count = VertexCount(type, primitive_count);
  if (count > kMaxGlCount || count * stride > kMaxDrawBytes) return kErrOutOfMemory;
  gl_.BindArrayBuffer(vertex_ring_.name);
  uint32_t offset = RingAppend(&vertex_ring_, GL_ARRAY_BUFFER, vertices, count * stride, stride);
  if (offset == UINT32_MAX) return kErrOutOfMemory;
  ApplyVertexInput(vertex_ring_.name, stride);
  VJ_GL(glDrawArrays(GlPrimitive(type), static_cast<GLint>(offset / stride), static_cast<GLsizei>(count)));
  // As in Direct3D 8, drawing from memory leaves no stream set.
  stream_.reset();
  stream_stride_ = 0;
  return kOk;
}

int DeviceGl::DrawIndexedPrimitiveUP(PrimitiveType type, uint32_t min_index, uint32_t vertex_count,
                                     uint32_t primitive_count, const void* indices, Format index_format,
                                     const void* vertices, uint32_t stride) {
  if (!ValidPrimitive(type) || !vertices || !indices || stride == 0 || vertex_count == 0) return kErrInvalidCall;
  if (index_format != FMT_INDEX16 && index_format != FMT_INDEX32) return kErrInvalidCall;
  if (primitive_count == 0) return kOk;
  int result = PrepareDraw();
  if (result != kOk) return result;
  uint32_t index_size = index_format == FMT_INDEX32 ? 4 : 2;
  const uint64_t index_count = VertexCount(type, primitive_count);
  if (index_count > kMaxGlCount || index_count * index_size > kMaxDrawBytes ||
      uint64_t{vertex_count} * stride > kMaxDrawBytes || min_index > kMaxGlCount)
    return kErrOutOfMemory;
  // Only the vertices the indices may name are copied.
  const uint8_t* first = static_cast<const uint8_t*>(vertices) + static_cast<size_t>(min_index) * stride;
  gl_.BindArrayBuffer(vertex_ring_.name);
  uint32_t vertex_offset =
      RingAppend(&vertex_ring_, GL_ARRAY_BUFFER, first, uint64_t{vertex_count} * stride, stride);
  if (vertex_offset == UINT32_MAX) return kErrOutOfMemory;
  gl_.BindElementBuffer(index_ring_.name);
  uint32_t index_offset =
      RingAppend(&index_ring_, GL_ELEMENT_ARRAY_BUFFER, indices, index_count * index_size, index_size);
  if (index_offset == UINT32_MAX) return kErrOutOfMemory;
  ApplyVertexInput(vertex_ring_.name, stride);
  const int64_t base = int64_t{vertex_offset / stride} - int64_t{min_index};
  VJ_GL(glDrawElementsBaseVertex(GlPrimitive(type), static_cast<GLsizei>(index_count),
                                 index_size == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                 reinterpret_cast<const void*>(static_cast<uintptr_t>(index_offset)),
                                 static_cast<GLint>(base)));
  stream_.reset();
  stream_stride_ = 0;
  indices_.reset();
  base_vertex_index_ = 0;
  return kOk;
}

// ---------------------------------------------------------------------------
// Resources
// ---------------------------------------------------------------------------

std::shared_ptr<Texture> DeviceGl::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                                 Format format, Pool pool) {
  if (width == 0 || height == 0 || width > caps_.max_texture_width || height > caps_.max_texture_height ||
      !FormatIsTextureFormat(format)) {
    core::Trace("RENDER: no %ux%u texture in %s\n", width, height, FormatName(format));
    return nullptr;
  }
  if (MakeCurrent() != 0) return nullptr;
  auto texture = std::make_shared<TextureGl>(this, width, height, levels, usage, format, pool);
  if (!texture->Create()) return nullptr;
  return texture;
}

std::shared_ptr<CubeTexture> DeviceGl::CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage,
                                                         Format format, Pool pool) {
  if (edge == 0 || edge > caps_.max_texture_width || !FormatIsTextureFormat(format)) return nullptr;
  if (MakeCurrent() != 0) return nullptr;
  auto texture = std::make_shared<CubeTextureGl>(this, edge, levels, usage, format, pool);
  if (!texture->Create()) return nullptr;
  return texture;
}

std::shared_ptr<Surface> DeviceGl::CreateDepthStencilSurface(uint32_t width, uint32_t height, Format format) {
  if (width == 0 || height == 0 || width > caps_.max_texture_width || height > caps_.max_texture_height)
    return nullptr;
  if (MakeCurrent() != 0) return nullptr;
  auto surface = std::make_shared<SurfaceGl>(this, width, height, format == FMT_D16_LOCKABLE ? FMT_D16 : format);
  if (!surface->CreateDepth()) return nullptr;
  return surface;
}

std::shared_ptr<VertexBuffer> DeviceGl::CreateVertexBuffer(uint32_t size, uint32_t usage, uint32_t fvf, Pool pool) {
  if (size == 0 || MakeCurrent() != 0) return nullptr;
  auto buffer = std::make_shared<VertexBufferGl>(this, size, usage, fvf, pool);
  if (!buffer->Create()) return nullptr;
  return buffer;
}

std::shared_ptr<IndexBuffer> DeviceGl::CreateIndexBuffer(uint32_t size, uint32_t usage, Format format, Pool pool) {
  if (size == 0 || (format != FMT_INDEX16 && format != FMT_INDEX32) || MakeCurrent() != 0) return nullptr;
  auto buffer = std::make_shared<IndexBufferGl>(this, size, usage, format, pool);
  if (!buffer->Create()) return nullptr;
  return buffer;
}

// ---------------------------------------------------------------------------
// Making devices
// ---------------------------------------------------------------------------

std::unique_ptr<Device> CreateDeviceOnContext(std::unique_ptr<GlContext> context, const PresentParameters& params) {
  if (!context) return nullptr;
  auto device = std::make_unique<DeviceGl>(std::move(context), params);
  if (!device->Initialize()) return nullptr;
  return device;
}

std::unique_ptr<Device> CreateDevice(const PresentParameters& params) {
  std::unique_ptr<GlContext> context = params.device_window
                                           ? CreateWindowGlContext(params.device_window, params.vsync ? 1 : 0)
                                           : CreateHeadlessGlContext();
  return CreateDeviceOnContext(std::move(context), params);
}

std::unique_ptr<Device> CreateHeadlessDevice(uint32_t width, uint32_t height, Format format) {
  PresentParameters params;
  params.back_buffer_width = width;
  params.back_buffer_height = height;
  params.back_buffer_format = format;
  params.enable_auto_depth_stencil = true;
  params.auto_depth_stencil_format = FMT_D24S8;
  params.vsync = false;
  params.device_window = nullptr;
  return CreateDeviceOnContext(CreateHeadlessGlContext(), params);
}

uint64_t GlCallCount() { return gl::g_call_count; }
uint64_t ProgramBuildCount() { return gl::g_program_builds; }

}  // namespace render

// Textures, surfaces and buffers over GL.
//
// Texel data keeps Direct3D's memory layout: a locked level is rows from
// the top with the format's own byte order, uploaded as is with a GL
// format/type pair that reads those bytes the same way (BGRA orders and
// the _REV packed types). Row 0 goes to GL row 0, which is where our
// targets render the top row too, so nothing is ever flipped.
#include <algorithm>
#include <cstring>

#include "render/device_gl.h"

namespace render {

bool GlFormatFor(Format format, bool has_rgb565, GlFormat* out) {
  switch (format) {
    case FMT_A8R8G8B8: *out = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, 4}; return true;
    // No alpha channel: GL reads alpha as 1, as Direct3D does for X formats.
    case FMT_X8R8G8B8: *out = {GL_RGB8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, 4}; return true;
    case FMT_R5G6B5:
      *out = {has_rgb565 ? GLenum(GL_RGB565) : GLenum(GL_RGB5), GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2};
      return true;
    case FMT_X1R5G5B5: *out = {GL_RGB5, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2}; return true;
    case FMT_A1R5G5B5: *out = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2}; return true;
    case FMT_A4R4G4B4: *out = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2}; return true;
    default: return false;
  }
}

// ---------------------------------------------------------------------------
GlObject::GlObject(DeviceGl* device) : device_(device) {
  if (device_) device_->Register(this);
}

GlObject::~GlObject() {
  if (device_) device_->Unregister(this);
}

// ---------------------------------------------------------------------------
TextureStore::TextureStore(DeviceGl* device_in, TextureKind kind_in, uint32_t width_in, uint32_t height_in,
                           uint32_t levels_in, uint32_t usage_in, Format format_in, Pool pool_in)
    : device(device_in),
      kind(kind_in),
      width(width_in),
      height(height_in),
      levels(levels_in),
      usage(usage_in),
      format(format_in),
      pool(pool_in),
      target(kind_in == TextureKind::kCube ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D) {
  if (levels == 0) {
    levels = 1;
    for (uint32_t size = std::max(width, height); size > 1; size >>= 1) ++levels;
  }
}

TextureStore::~TextureStore() {
  if (device && name != 0) {
    device->MakeCurrent();
    ReleaseGl();
  }
}

uint32_t TextureStore::LevelWidth(uint32_t level) const { return std::max(1u, width >> level); }
uint32_t TextureStore::LevelHeight(uint32_t level) const { return std::max(1u, height >> level); }

GLenum TextureStore::FaceTarget(uint32_t face) const {
  return kind == TextureKind::kCube ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + face : GL_TEXTURE_2D;
}

bool TextureStore::Create() {
  if (!device) return false;
  if (!GlFormatFor(format, device->has_rgb565(), &gl_format)) return false;
  uint32_t faces = kind == TextureKind::kCube ? 6 : 1;
  locks_.resize(static_cast<size_t>(faces) * levels);
  gl::StateCache& gl = device->gl();
  while (glGetError() != GL_NO_ERROR) {
  }
  VJ_GL(glGenTextures(1, &name));
  gl.BindTextureForEdit(target, name);
  for (uint32_t face = 0; face < faces; ++face)
    for (uint32_t level = 0; level < levels; ++level)
      VJ_GL(glTexImage2D(FaceTarget(face), static_cast<GLint>(level), static_cast<GLint>(gl_format.internal_format),
                         static_cast<GLsizei>(LevelWidth(level)), static_cast<GLsizei>(LevelHeight(level)), 0,
                         gl_format.format, gl_format.type, nullptr));
  VJ_GL(glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0));
  VJ_GL(glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels - 1)));
  // Sampling state comes from the stage's sampler object; these only make
  // the texture complete for reads outside a draw.
  VJ_GL(glTexParameteri(target, GL_TEXTURE_MIN_FILTER, levels > 1 ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST));
  VJ_GL(glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST));
  GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    core::Trace("RENDER: texture %ux%u %s failed (GL error 0x%x)\n", width, height, FormatName(format), error);
    ReleaseGl();
    return false;
  }
  return true;
}

void TextureStore::ReleaseGl() {
  if (!device || name == 0) return;
  device->ForgetAttachment(name, 0);
  device->gl().ForgetTexture(name);
  VJ_GL(glDeleteTextures(1, &name));
  name = 0;
}

int TextureStore::LevelDesc(uint32_t level, SurfaceDesc* desc) const {
  if (level >= levels || !desc) return kErrInvalidCall;
  desc->format = format;
  desc->usage = usage;
  desc->pool = pool;
  desc->width = LevelWidth(level);
  desc->height = LevelHeight(level);
  return kOk;
}

int TextureStore::Lock(uint32_t face, uint32_t level, LockedRect* locked, const Rect* rect, uint32_t flags) {
  (void)flags;
  uint32_t faces = kind == TextureKind::kCube ? 6 : 1;
  if (!locked || face >= faces || level >= levels) return kErrInvalidCall;
  if (usage & (USAGE_RENDERTARGET | USAGE_DEPTHSTENCIL)) return kErrInvalidCall;
  if (locks_.empty()) return kErrInvalidCall;  // never created
  LevelLock& lock = locks_[face * levels + level];
  if (lock.locked) return kErrInvalidCall;
  uint32_t w = LevelWidth(level), h = LevelHeight(level);
  Rect r{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  if (rect) {
    r = *rect;
    if (r.left < 0 || r.top < 0 || r.right > static_cast<int32_t>(w) || r.bottom > static_cast<int32_t>(h) ||
        r.left >= r.right || r.top >= r.bottom)
      return kErrInvalidCall;
  }
  size_t pitch = static_cast<size_t>(w) * gl_format.bytes_per_pixel;
  if (lock.shadow.empty()) lock.shadow.assign(pitch * h, 0);
  lock.locked = true;
  lock.rect = r;
  locked->pitch = static_cast<int32_t>(pitch);
  locked->bits = lock.shadow.data() + static_cast<size_t>(r.top) * pitch +
                 static_cast<size_t>(r.left) * gl_format.bytes_per_pixel;
  return kOk;
}

int TextureStore::Unlock(uint32_t face, uint32_t level) {
  uint32_t faces = kind == TextureKind::kCube ? 6 : 1;
  if (face >= faces || level >= levels || locks_.empty()) return kErrInvalidCall;
  LevelLock& lock = locks_[face * levels + level];
  if (!lock.locked) return kErrInvalidCall;
  lock.locked = false;
  if (!device || name == 0) return kOk;  // the device is gone: nothing to upload to
  device->MakeCurrent();
  gl::StateCache& gl = device->gl();
  uint32_t w = LevelWidth(level);
  const Rect& r = lock.rect;
  size_t pitch = static_cast<size_t>(w) * gl_format.bytes_per_pixel;
  gl.BindTextureForEdit(target, name);
  gl.PixelStore(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(w));
  gl.PixelStore(GL_UNPACK_ALIGNMENT, gl_format.bytes_per_pixel == 4 ? 4 : 2);
  // Nothing reads the texel store of a texture while a draw is being set
  // up, so the copy goes straight from the lock's memory.
  const uint8_t* first = lock.shadow.data() + static_cast<size_t>(r.top) * pitch +
                         static_cast<size_t>(r.left) * gl_format.bytes_per_pixel;
  VJ_GL(glTexSubImage2D(FaceTarget(face), static_cast<GLint>(level), r.left, r.top, r.right - r.left,
                        r.bottom - r.top, gl_format.format, gl_format.type, first));
  return kOk;
}

// ---------------------------------------------------------------------------
TextureGl::TextureGl(DeviceGl* device, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                     Format format, Pool pool)
    : GlObject(device), store_(device, TextureKind::k2D, width, height, levels, usage, format, pool) {}

std::shared_ptr<Surface> TextureGl::GetSurfaceLevel(uint32_t level) {
  if (level >= store_.levels) return nullptr;
  return std::make_shared<SurfaceGl>(device_, shared_from_this(), &store_, 0, level);
}

CubeTextureGl::CubeTextureGl(DeviceGl* device, uint32_t edge, uint32_t levels, uint32_t usage, Format format,
                             Pool pool)
    : GlObject(device), store_(device, TextureKind::kCube, edge, edge, levels, usage, format, pool) {}

std::shared_ptr<Surface> CubeTextureGl::GetCubeMapSurface(CubeFace face, uint32_t level) {
  if (level >= store_.levels || face > CUBEMAP_FACE_NEGATIVE_Z) return nullptr;
  return std::make_shared<SurfaceGl>(device_, shared_from_this(), &store_, face, level);
}

TextureStore* StoreOf(BaseTexture* texture) {
  if (!texture) return nullptr;
  if (texture->Kind() == TextureKind::kCube) return &static_cast<CubeTextureGl*>(texture)->store();
  return &static_cast<TextureGl*>(texture)->store();
}

// ---------------------------------------------------------------------------
SurfaceGl::SurfaceGl(DeviceGl* device, std::shared_ptr<BaseTexture> owner, TextureStore* store, uint32_t face,
                     uint32_t level)
    : GlObject(device), owner_(std::move(owner)), store_(store), face_(face), level_(level) {
  store_->LevelDesc(level, &desc_);
}

SurfaceGl::SurfaceGl(DeviceGl* device, uint32_t width, uint32_t height, Format format) : GlObject(device) {
  desc_.format = format;
  desc_.usage = USAGE_DEPTHSTENCIL;
  desc_.pool = POOL_DEFAULT;
  desc_.width = width;
  desc_.height = height;
}

SurfaceGl::~SurfaceGl() {
  if (device_ && renderbuffer_ != 0) {
    device_->MakeCurrent();
    ReleaseGl();
  }
}

bool SurfaceGl::CreateDepth() {
  GLenum internal;
  switch (desc_.format) {
    case FMT_D16:
    case FMT_D16_LOCKABLE: internal = GL_DEPTH_COMPONENT16; break;
    case FMT_D24X8: internal = GL_DEPTH_COMPONENT24; break;
    case FMT_D32: internal = GL_DEPTH_COMPONENT32F; break;
    case FMT_D24S8: internal = GL_DEPTH24_STENCIL8; break;
    default: return false;
  }
  if (!device_) return false;
  while (glGetError() != GL_NO_ERROR) {
  }
  VJ_GL(glGenRenderbuffers(1, &renderbuffer_));
  VJ_GL(glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer_));
  VJ_GL(glRenderbufferStorage(GL_RENDERBUFFER, internal, static_cast<GLsizei>(desc_.width),
                              static_cast<GLsizei>(desc_.height)));
  VJ_GL(glBindRenderbuffer(GL_RENDERBUFFER, 0));
  if (glGetError() != GL_NO_ERROR) {
    ReleaseGl();
    return false;
  }
  return true;
}

void SurfaceGl::ReleaseGl() {
  if (!device_ || renderbuffer_ == 0) return;
  device_->ForgetAttachment(0, renderbuffer_);
  VJ_GL(glDeleteRenderbuffers(1, &renderbuffer_));
  renderbuffer_ = 0;
}

// ---------------------------------------------------------------------------
BufferGl::BufferGl(DeviceGl* device_in, uint32_t size_in, uint32_t usage_in)
    : device(device_in), size(size_in), usage(usage_in) {}

BufferGl::~BufferGl() {
  if (device && name != 0) {
    device->MakeCurrent();
    ReleaseGl();
  }
}

bool BufferGl::Create() {
  if (!device || size == 0) return false;
  while (glGetError() != GL_NO_ERROR) {
  }
  VJ_GL(glGenBuffers(1, &name));
  VJ_GL(glBindBuffer(GL_COPY_WRITE_BUFFER, name));
  VJ_GL(glBufferData(GL_COPY_WRITE_BUFFER, size, nullptr, (usage & USAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW));
  if (glGetError() != GL_NO_ERROR) {
    ReleaseGl();
    return false;
  }
  return true;
}

void BufferGl::ReleaseGl() {
  if (!device || name == 0) return;
  if (locked) {
    VJ_GL(glBindBuffer(GL_COPY_WRITE_BUFFER, name));
    VJ_GL(glUnmapBuffer(GL_COPY_WRITE_BUFFER));
    locked = false;
  }
  device->gl().ForgetBuffer(name);
  VJ_GL(glDeleteBuffers(1, &name));
  name = 0;
}

int BufferGl::Lock(uint32_t offset, uint32_t bytes, void** data, uint32_t flags) {
  if (!data) return kErrInvalidCall;
  *data = nullptr;
  if (!device || name == 0 || locked) return kErrInvalidCall;
  if (offset == 0 && bytes == 0) bytes = size;
  if (bytes == 0 || offset > size || bytes > size - offset) return kErrInvalidCall;
  device->MakeCurrent();
  GLbitfield access;
  if (flags & LOCK_DISCARD) {
    access = GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT;
  } else if (flags & LOCK_NOOVERWRITE) {
    access = GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT;
  } else if (flags & LOCK_READONLY) {
    access = GL_MAP_READ_BIT;
  } else {
    access = GL_MAP_WRITE_BIT | ((usage & USAGE_WRITEONLY) ? 0 : GL_MAP_READ_BIT);
  }
  VJ_GL(glBindBuffer(GL_COPY_WRITE_BUFFER, name));
  void* pointer = VJ_GL(glMapBufferRange(GL_COPY_WRITE_BUFFER, offset, bytes, access));
  if (!pointer) return kErrInvalidCall;
  locked = true;
  *data = pointer;
  return kOk;
}

int BufferGl::Unlock() {
  if (!locked) return kErrInvalidCall;
  locked = false;
  if (!device || name == 0) return kErrInvalidCall;
  device->MakeCurrent();
  VJ_GL(glBindBuffer(GL_COPY_WRITE_BUFFER, name));
  VJ_GL(glUnmapBuffer(GL_COPY_WRITE_BUFFER));
  return kOk;
}

VertexBufferGl::VertexBufferGl(DeviceGl* device, uint32_t size, uint32_t usage, uint32_t fvf, Pool pool)
    : GlObject(device), buffer_(device, size, usage) {
  desc_.size = size;
  desc_.usage = usage;
  desc_.fvf = fvf;
  desc_.pool = pool;
}

IndexBufferGl::IndexBufferGl(DeviceGl* device, uint32_t size, uint32_t usage, Format format, Pool pool)
    : GlObject(device), buffer_(device, size, usage) {
  desc_.size = size;
  desc_.usage = usage;
  desc_.format = format;
  desc_.pool = pool;
}

}  // namespace render

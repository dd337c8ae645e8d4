// Internal to render: the record of what OpenGL currently holds.
//
// Every piece of GL state the device touches goes through StateCache, which
// issues the GL call only when the value differs from the one it knows. The
// cache starts by setting every tracked value itself, so it never guesses.
// All GL calls of the device are wrapped in VJ_GL so tests can count them.
#pragma once

#include <epoxy/gl.h>

#include <cstdint>

namespace render::gl {

extern uint64_t g_call_count;
extern uint64_t g_program_builds;

#define VJ_GL(call) (++::render::gl::g_call_count, call)

inline constexpr int kMaxUnits = 8;

enum class Capability { kBlend, kDepthTest, kStencilTest, kCullFace, kScissorTest, kPolygonOffsetFill };
inline constexpr int kCapabilityCount = 6;

class StateCache {
 public:
  // Puts GL into the known starting state and records it.
  void Reset();

  void Enable(Capability cap, bool on);
  void BlendFunc(GLenum src, GLenum dst);
  void BlendEquation(GLenum mode);
  void DepthFunc(GLenum func);
  void DepthMask(bool write);
  void StencilFunc(GLenum func, GLint ref, GLuint mask);
  void StencilOp(GLenum fail, GLenum zfail, GLenum zpass);
  void StencilMask(GLuint mask);
  void ColorMask(bool r, bool g, bool b, bool a);
  void CullFace(GLenum face);
  void PolygonMode(GLenum mode);
  void PolygonOffset(float factor, float units);
  // GL_CLIP_DISTANCE0 + i on exactly for the bits of `mask` (8 planes).
  void ClipDistances(uint32_t mask);
  void Viewport(GLint x, GLint y, GLsizei w, GLsizei h);
  void DepthRange(float near_z, float far_z);
  void Scissor(GLint x, GLint y, GLsizei w, GLsizei h);
  void ClearColor(float r, float g, float b, float a);
  void ClearDepth(float depth);
  void ClearStencil(GLint stencil);
  void UseProgram(GLuint program);
  void BindDrawFramebuffer(GLuint fbo);
  void BindReadFramebuffer(GLuint fbo);
  void BindTexture(int unit, GLenum target, GLuint texture);
  // Binds for editing on the last unit, so that stage bindings stay put.
  void BindTextureForEdit(GLenum target, GLuint texture);
  void BindSampler(int unit, GLuint sampler);
  void BindArrayBuffer(GLuint buffer);
  void BindElementBuffer(GLuint buffer);
  void BindVertexArray(GLuint vao);
  void PixelStore(GLenum name, GLint value);  // UNPACK_ROW_LENGTH / ALIGNMENT, PACK_ALIGNMENT

  // Objects being deleted: forget them so a later object with the same
  // name is bound again.
  void ForgetTexture(GLuint texture);
  void ForgetBuffer(GLuint buffer);
  void ForgetProgram(GLuint program);
  void ForgetFramebuffer(GLuint fbo);

  GLuint draw_framebuffer() const { return draw_fbo_; }
  GLuint element_buffer() const { return element_buffer_; }
  GLuint array_buffer() const { return array_buffer_; }

 private:
  void ActiveUnit(int unit);

  bool caps_[kCapabilityCount] = {};
  GLenum blend_src_ = GL_ONE, blend_dst_ = GL_ZERO, blend_eq_ = GL_FUNC_ADD;
  GLenum depth_func_ = GL_LESS;
  bool depth_mask_ = true;
  GLenum stencil_func_ = GL_ALWAYS;
  GLint stencil_ref_ = 0;
  GLuint stencil_read_mask_ = 0xffffffffu;
  GLenum stencil_fail_ = GL_KEEP, stencil_zfail_ = GL_KEEP, stencil_zpass_ = GL_KEEP;
  GLuint stencil_write_mask_ = 0xffffffffu;
  bool color_mask_[4] = {true, true, true, true};
  GLenum cull_face_ = GL_BACK;
  GLenum polygon_mode_ = GL_FILL;
  float offset_factor_ = 0.0f, offset_units_ = 0.0f;
  uint32_t clip_mask_ = 0;
  GLint viewport_[4] = {};
  float depth_range_[2] = {0.0f, 1.0f};
  GLint scissor_[4] = {};
  float clear_color_[4] = {};
  float clear_depth_ = 1.0f;
  GLint clear_stencil_ = 0;
  GLuint program_ = 0;
  GLuint draw_fbo_ = 0, read_fbo_ = 0;
  int active_unit_ = 0;
  GLuint textures_[kMaxUnits + 1][2] = {};  // [unit][0: 2D, 1: cube]
  GLuint samplers_[kMaxUnits] = {};
  GLuint array_buffer_ = 0, element_buffer_ = 0, vao_ = 0;
  GLint unpack_row_length_ = 0, unpack_alignment_ = 4, pack_alignment_ = 4;
};

}  // namespace render::gl

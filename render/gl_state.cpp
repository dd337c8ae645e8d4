#include "render/gl_state.h"

#include <cstring>

namespace render::gl {

uint64_t g_call_count = 0;
uint64_t g_program_builds = 0;

namespace {
const GLenum kCapabilityEnums[kCapabilityCount] = {GL_BLEND,      GL_DEPTH_TEST,   GL_STENCIL_TEST,
                                                   GL_CULL_FACE,  GL_SCISSOR_TEST, GL_POLYGON_OFFSET_FILL};
}

void StateCache::Reset() {
  for (int i = 0; i < kCapabilityCount; ++i) {
    VJ_GL(glDisable(kCapabilityEnums[i]));
    caps_[i] = false;
  }
  VJ_GL(glBlendFunc(GL_ONE, GL_ZERO));
  blend_src_ = GL_ONE;
  blend_dst_ = GL_ZERO;
  VJ_GL(glBlendEquation(GL_FUNC_ADD));
  blend_eq_ = GL_FUNC_ADD;
  VJ_GL(glDepthFunc(GL_LESS));
  depth_func_ = GL_LESS;
  VJ_GL(glDepthMask(GL_TRUE));
  depth_mask_ = true;
  VJ_GL(glStencilFunc(GL_ALWAYS, 0, 0xffffffffu));
  stencil_func_ = GL_ALWAYS;
  stencil_ref_ = 0;
  stencil_read_mask_ = 0xffffffffu;
  VJ_GL(glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP));
  stencil_fail_ = stencil_zfail_ = stencil_zpass_ = GL_KEEP;
  VJ_GL(glStencilMask(0xffffffffu));
  stencil_write_mask_ = 0xffffffffu;
  VJ_GL(glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE));
  for (bool& m : color_mask_) m = true;
  VJ_GL(glCullFace(GL_BACK));
  cull_face_ = GL_BACK;
  // Our targets keep row 0 at the top and we flip y in clip space, so the
  // winding Direct3D calls clockwise is counter-clockwise to GL.
  VJ_GL(glFrontFace(GL_CCW));
  VJ_GL(glPolygonMode(GL_FRONT_AND_BACK, GL_FILL));
  polygon_mode_ = GL_FILL;
  VJ_GL(glPolygonOffset(0.0f, 0.0f));
  offset_factor_ = offset_units_ = 0.0f;
  for (int plane = 0; plane < 8; ++plane) VJ_GL(glDisable(GL_CLIP_DISTANCE0 + plane));
  clip_mask_ = 0;
  VJ_GL(glViewport(0, 0, 1, 1));
  viewport_[0] = viewport_[1] = 0;
  viewport_[2] = viewport_[3] = 1;
  VJ_GL(glDepthRange(0.0, 1.0));
  depth_range_[0] = 0.0f;
  depth_range_[1] = 1.0f;
  VJ_GL(glScissor(0, 0, 1, 1));
  scissor_[0] = scissor_[1] = 0;
  scissor_[2] = scissor_[3] = 1;
  VJ_GL(glClearColor(0.0f, 0.0f, 0.0f, 0.0f));
  std::memset(clear_color_, 0, sizeof clear_color_);
  VJ_GL(glClearDepth(1.0));
  clear_depth_ = 1.0f;
  VJ_GL(glClearStencil(0));
  clear_stencil_ = 0;
  VJ_GL(glUseProgram(0));
  program_ = 0;
  VJ_GL(glBindFramebuffer(GL_FRAMEBUFFER, 0));
  draw_fbo_ = read_fbo_ = 0;
  for (int unit = 0; unit <= kMaxUnits; ++unit) {
    VJ_GL(glActiveTexture(GL_TEXTURE0 + unit));
    VJ_GL(glBindTexture(GL_TEXTURE_2D, 0));
    VJ_GL(glBindTexture(GL_TEXTURE_CUBE_MAP, 0));
    textures_[unit][0] = textures_[unit][1] = 0;
    if (unit < kMaxUnits) {
      VJ_GL(glBindSampler(unit, 0));
      samplers_[unit] = 0;
    }
  }
  VJ_GL(glActiveTexture(GL_TEXTURE0));
  active_unit_ = 0;
  VJ_GL(glBindBuffer(GL_ARRAY_BUFFER, 0));
  array_buffer_ = 0;
  VJ_GL(glBindVertexArray(0));
  vao_ = 0;
  element_buffer_ = 0;
  VJ_GL(glPixelStorei(GL_UNPACK_ROW_LENGTH, 0));
  unpack_row_length_ = 0;
  VJ_GL(glPixelStorei(GL_UNPACK_ALIGNMENT, 4));
  unpack_alignment_ = 4;
  VJ_GL(glPixelStorei(GL_PACK_ALIGNMENT, 4));
  pack_alignment_ = 4;
  // Direct3D's flat shading takes the first vertex of a primitive.
  VJ_GL(glProvokingVertex(GL_FIRST_VERTEX_CONVENTION));
}

void StateCache::Enable(Capability cap, bool on) {
  const int index = static_cast<int>(cap);
  if (caps_[index] == on) return;
  caps_[index] = on;
  if (on) VJ_GL(glEnable(kCapabilityEnums[index]));
  else VJ_GL(glDisable(kCapabilityEnums[index]));
}

void StateCache::BlendFunc(GLenum src, GLenum dst) {
  if (blend_src_ == src && blend_dst_ == dst) return;
  blend_src_ = src;
  blend_dst_ = dst;
  VJ_GL(glBlendFunc(src, dst));
}

void StateCache::BlendEquation(GLenum mode) {
  if (blend_eq_ == mode) return;
  blend_eq_ = mode;
  VJ_GL(glBlendEquation(mode));
}

void StateCache::DepthFunc(GLenum func) {
  if (depth_func_ == func) return;
  depth_func_ = func;
  VJ_GL(glDepthFunc(func));
}

void StateCache::DepthMask(bool write) {
  if (depth_mask_ == write) return;
  depth_mask_ = write;
  VJ_GL(glDepthMask(write ? GL_TRUE : GL_FALSE));
}

void StateCache::StencilFunc(GLenum func, GLint ref, GLuint mask) {
  if (stencil_func_ == func && stencil_ref_ == ref && stencil_read_mask_ == mask) return;
  stencil_func_ = func;
  stencil_ref_ = ref;
  stencil_read_mask_ = mask;
  VJ_GL(glStencilFunc(func, ref, mask));
}

void StateCache::StencilOp(GLenum fail, GLenum zfail, GLenum zpass) {
  if (stencil_fail_ == fail && stencil_zfail_ == zfail && stencil_zpass_ == zpass) return;
  stencil_fail_ = fail;
  stencil_zfail_ = zfail;
  stencil_zpass_ = zpass;
  VJ_GL(glStencilOp(fail, zfail, zpass));
}

void StateCache::StencilMask(GLuint mask) {
  if (stencil_write_mask_ == mask) return;
  stencil_write_mask_ = mask;
  VJ_GL(glStencilMask(mask));
}

void StateCache::ColorMask(bool r, bool g, bool b, bool a) {
  if (color_mask_[0] == r && color_mask_[1] == g && color_mask_[2] == b && color_mask_[3] == a) return;
  color_mask_[0] = r;
  color_mask_[1] = g;
  color_mask_[2] = b;
  color_mask_[3] = a;
  VJ_GL(glColorMask(r, g, b, a));
}

void StateCache::CullFace(GLenum face) {
  if (cull_face_ == face) return;
  cull_face_ = face;
  VJ_GL(glCullFace(face));
}

void StateCache::PolygonMode(GLenum mode) {
  if (polygon_mode_ == mode) return;
  polygon_mode_ = mode;
  VJ_GL(glPolygonMode(GL_FRONT_AND_BACK, mode));
}

void StateCache::PolygonOffset(float factor, float units) {
  if (offset_factor_ == factor && offset_units_ == units) return;
  offset_factor_ = factor;
  offset_units_ = units;
  VJ_GL(glPolygonOffset(factor, units));
}

void StateCache::ClipDistances(uint32_t mask) {
  mask &= 0xffu;
  uint32_t changed = mask ^ clip_mask_;
  if (!changed) return;
  for (int plane = 0; plane < 8; ++plane) {
    if (!(changed & (1u << plane))) continue;
    if (mask & (1u << plane)) VJ_GL(glEnable(GL_CLIP_DISTANCE0 + plane));
    else VJ_GL(glDisable(GL_CLIP_DISTANCE0 + plane));
  }
  clip_mask_ = mask;
}

void StateCache::Viewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  if (viewport_[0] == x && viewport_[1] == y && viewport_[2] == w && viewport_[3] == h) return;
  viewport_[0] = x;
  viewport_[1] = y;
  viewport_[2] = w;
  viewport_[3] = h;
  VJ_GL(glViewport(x, y, w, h));
}

void StateCache::DepthRange(float near_z, float far_z) {
  if (depth_range_[0] == near_z && depth_range_[1] == far_z) return;
  depth_range_[0] = near_z;
  depth_range_[1] = far_z;
  VJ_GL(glDepthRange(near_z, far_z));
}

void StateCache::Scissor(GLint x, GLint y, GLsizei w, GLsizei h) {
  if (scissor_[0] == x && scissor_[1] == y && scissor_[2] == w && scissor_[3] == h) return;
  scissor_[0] = x;
  scissor_[1] = y;
  scissor_[2] = w;
  scissor_[3] = h;
  VJ_GL(glScissor(x, y, w, h));
}

void StateCache::ClearColor(float r, float g, float b, float a) {
  if (clear_color_[0] == r && clear_color_[1] == g && clear_color_[2] == b && clear_color_[3] == a) return;
  clear_color_[0] = r;
  clear_color_[1] = g;
  clear_color_[2] = b;
  clear_color_[3] = a;
  VJ_GL(glClearColor(r, g, b, a));
}

void StateCache::ClearDepth(float depth) {
  if (clear_depth_ == depth) return;
  clear_depth_ = depth;
  VJ_GL(glClearDepth(depth));
}

void StateCache::ClearStencil(GLint stencil) {
  if (clear_stencil_ == stencil) return;
  clear_stencil_ = stencil;
  VJ_GL(glClearStencil(stencil));
}

void StateCache::UseProgram(GLuint program) {
  if (program_ == program) return;
  program_ = program;
  VJ_GL(glUseProgram(program));
}

void StateCache::BindDrawFramebuffer(GLuint fbo) {
  if (draw_fbo_ == fbo) return;
  draw_fbo_ = fbo;
  VJ_GL(glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo));
}

void StateCache::BindReadFramebuffer(GLuint fbo) {
  if (read_fbo_ == fbo) return;
  read_fbo_ = fbo;
  VJ_GL(glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo));
}

void StateCache::ActiveUnit(int unit) {
  if (active_unit_ == unit) return;
  active_unit_ = unit;
  VJ_GL(glActiveTexture(GL_TEXTURE0 + unit));
}

void StateCache::BindTexture(int unit, GLenum target, GLuint texture) {
  int slot = target == GL_TEXTURE_CUBE_MAP ? 1 : 0;
  if (textures_[unit][slot] == texture) return;
  ActiveUnit(unit);
  textures_[unit][slot] = texture;
  VJ_GL(glBindTexture(target, texture));
}

// Edits apply to the active unit's texture: the edit unit must be active
// even when the texture is bound there already.
void StateCache::BindTextureForEdit(GLenum target, GLuint texture) {
  ActiveUnit(kMaxUnits);
  BindTexture(kMaxUnits, target, texture);
}

void StateCache::BindSampler(int unit, GLuint sampler) {
  if (samplers_[unit] == sampler) return;
  samplers_[unit] = sampler;
  VJ_GL(glBindSampler(unit, sampler));
}

void StateCache::BindArrayBuffer(GLuint buffer) {
  if (array_buffer_ == buffer) return;
  array_buffer_ = buffer;
  VJ_GL(glBindBuffer(GL_ARRAY_BUFFER, buffer));
}

void StateCache::BindElementBuffer(GLuint buffer) {
  if (element_buffer_ == buffer) return;
  element_buffer_ = buffer;
  VJ_GL(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer));
}

void StateCache::BindVertexArray(GLuint vao) {
  if (vao_ == vao) return;
  vao_ = vao;
  VJ_GL(glBindVertexArray(vao));
  // The element buffer binding belongs to the vertex array: read it back
  // rather than guess.
  GLint bound = 0;
  VJ_GL(glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &bound));
  element_buffer_ = static_cast<GLuint>(bound);
}

void StateCache::PixelStore(GLenum name, GLint value) {
  GLint* slot = name == GL_UNPACK_ROW_LENGTH ? &unpack_row_length_
                : name == GL_UNPACK_ALIGNMENT ? &unpack_alignment_
                                              : &pack_alignment_;
  if (*slot == value) return;
  *slot = value;
  VJ_GL(glPixelStorei(name, value));
}

void StateCache::ForgetTexture(GLuint texture) {
  for (auto& unit : textures_)
    for (GLuint& bound : unit)
      if (bound == texture) bound = 0;
}

void StateCache::ForgetBuffer(GLuint buffer) {
  if (array_buffer_ == buffer) array_buffer_ = 0;
  if (element_buffer_ == buffer) element_buffer_ = 0;
}

void StateCache::ForgetProgram(GLuint program) {
  if (program_ == program) program_ = 0;
}

void StateCache::ForgetFramebuffer(GLuint fbo) {
  if (draw_fbo_ == fbo) draw_fbo_ = 0;
  if (read_fbo_ == fbo) read_fbo_ = 0;
}

}  // namespace render::gl

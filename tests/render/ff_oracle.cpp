// Mesa's fixed-function pipeline as the test oracle (see ff_oracle.h).
#include "tests/render/ff_oracle.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace render {
int WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);
}

namespace render_test {
namespace {

using render::Matrix;

Matrix Flip() {
  Matrix f = Matrix::Identity();
  f.m[2][2] = -1.0f;
  return f;
}

// The device's clip transform for a viewport of w x h, as a row-vector
// matrix: x + w/W (half-pixel shift), -y + w/H, 2z - w.
Matrix DeviceClip(uint32_t width, uint32_t height) {
  Matrix t{};
  t.m[0][0] = 1.0f;
  t.m[3][0] = 1.0f / static_cast<float>(width);
  t.m[1][1] = -1.0f;
  t.m[3][1] = 1.0f / static_cast<float>(height);
  t.m[2][2] = 2.0f;
  t.m[3][2] = -1.0f;
  t.m[3][3] = 1.0f;
  return t;
}

// A row-vector matrix handed to GL's column-major loads as it is: GL
// reads it transposed, which is its column-vector form.
void Load(const Matrix& m) { glLoadMatrixf(&m.m[0][0]); }

void ColorFloats(const render::ColorValue& c, float out[4]) {
  out[0] = c.r;
  out[1] = c.g;
  out[2] = c.b;
  out[3] = c.a;
}

void ArgbFloats(uint32_t argb, float out[4]) {
  out[0] = ((argb >> 16) & 0xff) / 255.0f;
  out[1] = ((argb >> 8) & 0xff) / 255.0f;
  out[2] = (argb & 0xff) / 255.0f;
  out[3] = (argb >> 24) / 255.0f;
}

}  // namespace

struct FfOracle::Impl {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  GLuint fbo = 0, color = 0, depth = 0, cube = 0;
  uint32_t width = 0, height = 0;
};

std::unique_ptr<FfOracle> FfOracle::Create(std::string* error) {
  EGLDisplay display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  EGLint major = 0, minor = 0;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
    *error = "no EGL surfaceless display";
    return nullptr;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    *error = "no desktop OpenGL on EGL";
    return nullptr;
  }
  const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                               EGL_NONE};
  EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) {
    *error = "no compatibility-profile context";
    return nullptr;
  }
  std::unique_ptr<FfOracle> oracle(new FfOracle());
  oracle->impl_ = std::make_unique<Impl>();
  oracle->impl_->display = display;
  oracle->impl_->context = context;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    *error = "cannot make the compatibility context current";
    return nullptr;
  }
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (!version || !std::strstr(version, "Compatibility")) {
    *error = std::string("not a compatibility profile: ") + (version ? version : "?");
    return nullptr;
  }
  return oracle;
}

FfOracle::~FfOracle() {
  if (!impl_) return;
  if (eglMakeCurrent(impl_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, impl_->context)) {
    if (impl_->fbo) glDeleteFramebuffers(1, &impl_->fbo);
    if (impl_->color) glDeleteRenderbuffers(1, &impl_->color);
    if (impl_->depth) glDeleteRenderbuffers(1, &impl_->depth);
    if (impl_->cube) glDeleteTextures(1, &impl_->cube);
    eglMakeCurrent(impl_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  eglDestroyContext(impl_->display, impl_->context);
}

int FfOracle::Draw(const OracleScene& scene, std::vector<uint32_t>* pixels) {
  Impl& s = *impl_;
  if (!eglMakeCurrent(s.display, EGL_NO_SURFACE, EGL_NO_SURFACE, s.context)) return -1;
  if (s.width != scene.width || s.height != scene.height) {
    if (!s.fbo) {
      glGenFramebuffers(1, &s.fbo);
      glGenRenderbuffers(1, &s.color);
      glGenRenderbuffers(1, &s.depth);
    }
    glBindRenderbuffer(GL_RENDERBUFFER, s.color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, scene.width, scene.height);
    glBindRenderbuffer(GL_RENDERBUFFER, s.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, scene.width, scene.height);
    glBindFramebuffer(GL_FRAMEBUFFER, s.fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, s.color);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, s.depth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return -1;
    s.width = scene.width;
    s.height = scene.height;
  }
  glBindFramebuffer(GL_FRAMEBUFFER, s.fbo);
  glViewport(0, 0, scene.width, scene.height);
  glClearColor(0, 0, 0, 0);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glDisable(GL_CULL_FACE);
  glShadeModel(GL_SMOOTH);

  glMatrixMode(GL_PROJECTION);
  Load(Multiply(Multiply(Flip(), scene.projection), DeviceClip(scene.width, scene.height)));
  glMatrixMode(GL_MODELVIEW);
  // Lights and planes are given in the world: specified under View * flip.
  Load(Multiply(scene.view, Flip()));
  for (int i = 0; i < 8; ++i) glDisable(GL_LIGHT0 + i);
  if (scene.lighting) {
    glEnable(GL_LIGHTING);
    for (size_t i = 0; i < scene.lights.size(); ++i) {
      const render::Light& l = scene.lights[i];
      GLenum light = GL_LIGHT0 + static_cast<GLenum>(i);
      float c[4];
      ColorFloats(l.diffuse, c);
      glLightfv(light, GL_DIFFUSE, c);
      ColorFloats(l.specular, c);
      glLightfv(light, GL_SPECULAR, c);
      ColorFloats(l.ambient, c);
      glLightfv(light, GL_AMBIENT, c);
      if (l.type == render::LIGHT_DIRECTIONAL) {
        const float towards[4] = {-l.direction.x, -l.direction.y, -l.direction.z, 0.0f};
        glLightfv(light, GL_POSITION, towards);
        glLightf(light, GL_CONSTANT_ATTENUATION, 1.0f);
        glLightf(light, GL_LINEAR_ATTENUATION, 0.0f);
        glLightf(light, GL_QUADRATIC_ATTENUATION, 0.0f);
      } else {
        const float position[4] = {l.position.x, l.position.y, l.position.z, 1.0f};
        glLightfv(light, GL_POSITION, position);
        glLightf(light, GL_CONSTANT_ATTENUATION, l.attenuation0);
        glLightf(light, GL_LINEAR_ATTENUATION, l.attenuation1);
        glLightf(light, GL_QUADRATIC_ATTENUATION, l.attenuation2);
      }
      glLightf(light, GL_SPOT_CUTOFF, 180.0f);
      glEnable(light);
    }
    float c[4];
    ArgbFloats(scene.ambient, c);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, c);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, scene.local_viewer ? 1 : 0);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    ColorFloats(scene.material.diffuse, c);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, c);
    ColorFloats(scene.material.ambient, c);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, c);
    ColorFloats(scene.material.emissive, c);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, c);
    const float none[4] = {0, 0, 0, 1};
    ColorFloats(scene.material.specular, c);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, scene.specular ? c : none);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::clamp(scene.material.power, 0.0f, 128.0f));
    if (scene.color_vertex_diffuse) {
      glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
      glEnable(GL_COLOR_MATERIAL);
    } else {
      glDisable(GL_COLOR_MATERIAL);
    }
  } else {
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
  }
  if (scene.normalize) glEnable(GL_NORMALIZE);
  else glDisable(GL_NORMALIZE);
  for (int i = 0; i < 8; ++i) glDisable(GL_CLIP_PLANE0 + i);
  for (size_t i = 0; i < scene.planes.size(); ++i) {
    const double equation[4] = {scene.planes[i][0], scene.planes[i][1], scene.planes[i][2], scene.planes[i][3]};
    glClipPlane(GL_CLIP_PLANE0 + static_cast<GLenum>(i), equation);
    glEnable(GL_CLIP_PLANE0 + static_cast<GLenum>(i));
  }
  Load(Multiply(Multiply(scene.world, scene.view), Flip()));

  if (scene.fog != render::FOG_NONE) {
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, scene.fog == render::FOG_LINEAR ? GL_LINEAR : scene.fog == render::FOG_EXP ? GL_EXP : GL_EXP2);
    glFogf(GL_FOG_START, scene.fog_start);
    glFogf(GL_FOG_END, scene.fog_end);
    glFogf(GL_FOG_DENSITY, scene.fog_density);
    float c[4];
    ArgbFloats(scene.fog_color, c);
    glFogfv(GL_FOG_COLOR, c);
    glFogi(GL_FOG_COORD_SRC, GL_FOG_COORD);
    glHint(GL_FOG_HINT, GL_NICEST);
  } else {
    glDisable(GL_FOG);
  }

  glDisable(GL_TEXTURE_2D);
  glDisable(GL_TEXTURE_CUBE_MAP);
  glDisable(GL_TEXTURE_GEN_S);
  glDisable(GL_TEXTURE_GEN_T);
  glDisable(GL_TEXTURE_GEN_R);
  if (scene.texgen) {
    if (!s.cube) glGenTextures(1, &s.cube);
    glBindTexture(GL_TEXTURE_CUBE_MAP, s.cube);
    for (int face = 0; face < 6; ++face)
      glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, GL_RGBA8, scene.cube_edge, scene.cube_edge, 0, GL_BGRA,
                   GL_UNSIGNED_BYTE, scene.cube_faces[face].data());
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
      glTexParameteri(GL_TEXTURE_CUBE_MAP, wrap, GL_CLAMP_TO_EDGE);
    glEnable(GL_TEXTURE_CUBE_MAP);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    GLint mode = scene.texgen == 1 ? GL_NORMAL_MAP : GL_REFLECTION_MAP;
    for (GLenum coord : {GL_S, GL_T, GL_R}) glTexGeni(coord, GL_TEXTURE_GEN_MODE, mode);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
    glEnable(GL_TEXTURE_GEN_R);
    glMatrixMode(GL_TEXTURE);
    Load(Multiply(Flip(), scene.texture_matrix));  // GL's eye vectors back to Direct3D's first
    glMatrixMode(GL_MODELVIEW);
  }

  const LitVertex* v = scene.vertices.data();
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, sizeof(LitVertex), &v->x);
  glEnableClientState(GL_NORMAL_ARRAY);
  glNormalPointer(GL_FLOAT, sizeof(LitVertex), &v->nx);
  glEnableClientState(GL_COLOR_ARRAY);
  glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(LitVertex), &v->diffuse);
  if (scene.fog != render::FOG_NONE) {
    glEnableClientState(GL_FOG_COORD_ARRAY);
    glFogCoordPointer(GL_FLOAT, 0, scene.fog_coords.data());
  }
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(scene.vertices.size()));
  glDisableClientState(GL_FOG_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  if (scene.texgen) {
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
  }

  std::vector<uint8_t> rgba(static_cast<size_t>(scene.width) * scene.height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, scene.width, scene.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  pixels->resize(static_cast<size_t>(scene.width) * scene.height);
  for (size_t i = 0; i < pixels->size(); ++i)
    (*pixels)[i] = render::ColorArgb(rgba[i * 4 + 3], rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2]);
  return glGetError() == GL_NO_ERROR ? 0 : -1;
}

int DrawOnDevice(render::Device* device, const OracleScene& scene, std::vector<uint32_t>* pixels) {
  using namespace render;
  auto target = device->CreateTexture(scene.width, scene.height, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT);
  auto depth = device->CreateDepthStencilSurface(scene.width, scene.height, FMT_D24S8);
  if (!target || !depth || device->SetRenderTarget(target->GetSurfaceLevel(0), depth) != kOk) return -1;
  device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0, 1.0f, 0);
  device->SetRenderState(RS_ZENABLE, ZB_TRUE);
  device->SetRenderState(RS_ZFUNC, CMP_LESSEQUAL);
  device->SetRenderState(RS_CULLMODE, CULL_NONE);
  device->SetTransform(TS_WORLD, scene.world);
  device->SetTransform(TS_VIEW, scene.view);
  device->SetTransform(TS_PROJECTION, scene.projection);
  device->SetRenderState(RS_LIGHTING, scene.lighting);
  for (uint32_t i = 0; i < kMaxLights; ++i) {
    if (i < scene.lights.size() && device->SetLight(i, scene.lights[i]) != kOk) return -1;
    device->LightEnable(i, i < scene.lights.size());
  }
  if (scene.lighting && device->SetMaterial(scene.material) != kOk) return -1;
  device->SetRenderState(RS_AMBIENT, scene.ambient);
  device->SetRenderState(RS_SPECULARENABLE, scene.specular);
  device->SetRenderState(RS_LOCALVIEWER, scene.local_viewer || scene.texgen == 2);
  device->SetRenderState(RS_NORMALIZENORMALS, scene.normalize);
  device->SetRenderState(RS_COLORVERTEX, scene.color_vertex_diffuse);
  device->SetRenderState(RS_DIFFUSEMATERIALSOURCE, MCS_COLOR1);
  device->SetRenderState(RS_SPECULARMATERIALSOURCE, MCS_MATERIAL);
  device->SetRenderState(RS_AMBIENTMATERIALSOURCE, MCS_MATERIAL);
  device->SetRenderState(RS_EMISSIVEMATERIALSOURCE, MCS_MATERIAL);
  device->SetRenderState(RS_FOGENABLE, scene.fog != FOG_NONE);
  device->SetRenderState(RS_FOGTABLEMODE, scene.fog);
  device->SetRenderState(RS_FOGSTART, FloatBits(scene.fog_start));
  device->SetRenderState(RS_FOGEND, FloatBits(scene.fog_end));
  device->SetRenderState(RS_FOGDENSITY, FloatBits(scene.fog_density));
  device->SetRenderState(RS_FOGCOLOR, scene.fog_color);
  uint32_t mask = 0;
  for (uint32_t i = 0; i < scene.planes.size(); ++i) {
    if (device->SetClipPlane(i, scene.planes[i].data()) != kOk) return -1;
    mask |= 1u << i;
  }
  device->SetRenderState(RS_CLIPPLANEENABLE, mask);
  std::shared_ptr<CubeTexture> cube;
  if (scene.texgen) {
    cube = device->CreateCubeTexture(scene.cube_edge, 1, 0, FMT_A8R8G8B8, POOL_MANAGED);
    if (!cube) return -1;
    for (uint32_t face = 0; face < 6; ++face) {
      LockedRect locked;
      if (cube->LockRect(static_cast<CubeFace>(face), 0, &locked, nullptr, 0) != kOk) return -1;
      for (uint32_t y = 0; y < scene.cube_edge; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch, &scene.cube_faces[face][y * scene.cube_edge],
                    scene.cube_edge * 4);
      cube->UnlockRect(static_cast<CubeFace>(face), 0);
    }
    device->SetTexture(0, cube);
    device->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
    device->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
    device->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
    device->SetTextureStageState(0, TSS_ALPHAARG1, TA_DIFFUSE);
    device->SetTextureStageState(0, TSS_ADDRESSU, TADDRESS_CLAMP);
    device->SetTextureStageState(0, TSS_ADDRESSV, TADDRESS_CLAMP);
    device->SetTextureStageState(0, TSS_ADDRESSW, TADDRESS_CLAMP);
    device->SetTextureStageState(0, TSS_TEXCOORDINDEX,
                                 scene.texgen == 1 ? TCI_CAMERASPACENORMAL : TCI_CAMERASPACEREFLECTIONVECTOR);
    device->SetTextureStageState(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_COUNT3);
    device->SetTransform(TS_TEXTURE0, scene.texture_matrix);
  } else {
    device->SetTexture(0, nullptr);
    device->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
    device->SetTextureStageState(0, TSS_COLORARG1, TA_DIFFUSE);
    device->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
    device->SetTextureStageState(0, TSS_ALPHAARG1, TA_DIFFUSE);
  }
  if (DrawLit(device, scene.vertices, FVF_XYZ | FVF_NORMAL | FVF_DIFFUSE | FVF_SPECULAR | FVF_TEX1) != kOk) return -1;
  return device->ReadSurfacePixels(target->GetSurfaceLevel(0).get(), pixels);
}

Agreement Compare(const std::vector<uint32_t>& ours, const std::vector<uint32_t>& mesa, uint32_t width,
                  uint32_t height) {
  Agreement a;
  auto covered = [&](const std::vector<uint32_t>& image, int x, int y) {
    return x >= 0 && y >= 0 && x < static_cast<int>(width) && y < static_cast<int>(height) &&
           (image[y * width + x] >> 24) != 0;
  };
  int mismatched = 0;
  double sum = 0;
  for (int y = 0; y < static_cast<int>(height); ++y)
    for (int x = 0; x < static_cast<int>(width); ++x) {
      bool in_ours = covered(ours, x, y), in_mesa = covered(mesa, x, y);
      if (in_ours != in_mesa) ++mismatched;
      if (in_ours || in_mesa) ++a.covered;
      bool interior = true;
      for (int dy = -1; dy <= 1 && interior; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (!covered(ours, x + dx, y + dy) || !covered(mesa, x + dx, y + dy)) {
            interior = false;
            break;
          }
      if (!interior) continue;
      ++a.interior;
      for (int shift = 0; shift < 24; shift += 8) {
        int d = std::abs(static_cast<int>((ours[y * width + x] >> shift) & 0xff) -
                         static_cast<int>((mesa[y * width + x] >> shift) & 0xff));
        a.max_difference = std::max(a.max_difference, d);
        sum += d;
      }
    }
  a.mean_difference = a.interior ? sum / (3.0 * a.interior) : 0.0;
  a.coverage_mismatch = static_cast<double>(mismatched) / (static_cast<double>(width) * height);
  return a;
}

void WriteArtifact(const std::string& name, const std::vector<uint32_t>& ours, const std::vector<uint32_t>& mesa,
                   uint32_t width, uint32_t height) {
  const char* folder = std::getenv("VJ_TEST_ARTIFACTS");
  if (!folder || !*folder) return;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3 * height * 3);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t a = ours[y * width + x], b = mesa[y * width + x];
      for (int c = 0; c < 3; ++c) {
        int shift = 16 - 8 * c;
        int va = (a >> shift) & 0xff, vb = (b >> shift) & 0xff;
        size_t row = static_cast<size_t>(y) * width * 3;
        rgb[(row + x) * 3 + c] = static_cast<uint8_t>(va);
        rgb[(row + width + x) * 3 + c] = static_cast<uint8_t>(vb);
        rgb[(row + 2 * width + x) * 3 + c] = static_cast<uint8_t>(std::min(255, std::abs(va - vb) * 8));
      }
    }
  render::WritePngRgb(std::string(folder) + "/" + name + ".png", width * 3, height, rgb);
}

}  // namespace render_test

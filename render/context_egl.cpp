// Headless GL contexts: EGL on Mesa's surfaceless platform, so no window
// system, display or environment is needed (tests, CI, --headless). The
// EGL display is initialised once and shared by all headless contexts for
// the life of the process: terminating it unloads the driver, so every new
// device would pay the driver's start-up again, and the driver's one-time
// allocations would outlive their code (leak checkers then cannot tell
// whose they are).
#include <epoxy/egl.h>

#include <cstring>

#include "render/driver_pin.h"
#include "render/gl_context.h"

namespace render {
namespace {

EGLDisplay g_display = EGL_NO_DISPLAY;

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  size_t length = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length)
    if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) return true;
  return false;
}

EGLDisplay AcquireDisplay() {
  if (g_display != EGL_NO_DISPLAY) return g_display;
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  EGLDisplay display = EGL_NO_DISPLAY;
  if (HasExtension(client, "EGL_MESA_platform_surfaceless"))
    display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (display == EGL_NO_DISPLAY) {
    core::Trace("RENDER: no EGL display\n");
    return EGL_NO_DISPLAY;
  }
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) {
    core::Trace("RENDER: eglInitialize failed (0x%x)\n", eglGetError());
    return EGL_NO_DISPLAY;
  }
  g_display = display;
  return display;
}

class HeadlessContext final : public GlContext {
 public:
  HeadlessContext(EGLDisplay display, EGLContext context) : display_(display), context_(context) {}
  ~HeadlessContext() override {
    if (eglGetCurrentContext() == context_)
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
  }
  int MakeCurrent() override {
    if (eglGetCurrentContext() == context_) return 0;
    if (!eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
      core::Trace("RENDER: eglMakeCurrent failed (0x%x)\n", eglGetError());
      return -1;
    }
    return 0;
  }
  bool IsCurrent() const override { return eglGetCurrentContext() == context_; }
  int SwapBuffers() override { return 0; }
  int SetSwapInterval(int) override { return 0; }
  void GetDrawableSize(int* width, int* height) const override {
    if (width) *width = 0;
    if (height) *height = 0;
  }
  bool HasDrawable() const override { return false; }
  bool DrawableShown() const override { return false; }

 private:
  EGLDisplay display_;
  EGLContext context_;
};

}  // namespace

std::unique_ptr<GlContext> CreateHeadlessGlContext() {
  EGLDisplay display = AcquireDisplay();
  if (display == EGL_NO_DISPLAY) return nullptr;
  if (!eglBindAPI(EGL_OPENGL_API)) {
    core::Trace("RENDER: EGL has no desktop OpenGL\n");
    return nullptr;
  }
  EGLConfig config = nullptr;
  const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
  if (!HasExtension(extensions, "EGL_KHR_no_config_context")) {
    const EGLint config_attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                        EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(display, config_attributes, &config, 1, &count) || count < 1) {
      core::Trace("RENDER: no EGL config for OpenGL\n");
      return nullptr;
    }
  }
  const EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                       3,
                                       EGL_CONTEXT_MINOR_VERSION,
                                       3,
                                       EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                       EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                       EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
  if (context == EGL_NO_CONTEXT) {
    core::Trace("RENDER: eglCreateContext failed (0x%x)\n", eglGetError());
    return nullptr;
  }
  auto result = std::make_unique<HeadlessContext>(display, context);
  if (result->MakeCurrent() != 0) return nullptr;
  PinGlDriver();
  return result;
}

}  // namespace render

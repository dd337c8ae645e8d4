// GL contexts on SDL windows. Several windows may each have a context in
// one frame loop; MakeCurrent switches only when another context (or
// window) is current, and each context keeps its own swap interval.
#include <SDL.h>

#include "render/driver_pin.h"
#include "render/gl_context.h"

namespace render {
namespace {

class WindowContext final : public GlContext {
 public:
  WindowContext(core::QEGUIWindow* window, SDL_GLContext context) : window_(window), context_(context) {}
  ~WindowContext() override {
    if (SDL_GL_GetCurrentContext() == context_) SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(context_);
  }
  int MakeCurrent() override {
    SDL_Window* handle = window_->Handle();
    if (!handle) return -1;
    if (SDL_GL_GetCurrentContext() == context_ && SDL_GL_GetCurrentWindow() == handle) return 0;
    if (SDL_GL_MakeCurrent(handle, context_) != 0) {
      core::Trace("RENDER: SDL_GL_MakeCurrent failed: %s\n", SDL_GetError());
      return -1;
    }
    return 0;
  }
  bool IsCurrent() const override {
    return SDL_GL_GetCurrentContext() == context_ && SDL_GL_GetCurrentWindow() == window_->Handle();
  }
  int SwapBuffers() override {
    if (MakeCurrent() != 0) return -1;
    SDL_GL_SwapWindow(window_->Handle());
    return 0;
  }
  int SetSwapInterval(int interval) override {
    if (MakeCurrent() != 0) return -1;
    if (SDL_GL_SetSwapInterval(interval) != 0) {
      core::Trace("RENDER: swap interval %d not available: %s\n", interval, SDL_GetError());
      return -1;
    }
    return 0;
  }
  void GetDrawableSize(int* width, int* height) const override { window_->GetDrawableSize(width, height); }
  bool HasDrawable() const override { return window_->Handle() != nullptr; }
  bool DrawableShown() const override {
    SDL_Window* handle = window_->Handle();
    if (!handle || !window_->shown()) return false;
    uint32_t flags = SDL_GetWindowFlags(handle);
    return (flags & SDL_WINDOW_SHOWN) && !(flags & SDL_WINDOW_MINIMIZED);
  }

 private:
  core::QEGUIWindow* window_;
  SDL_GLContext context_;
};

}  // namespace

std::unique_ptr<GlContext> CreateWindowGlContext(core::QEGUIWindow* window, int swap_interval) {
  if (!window || !window->Handle()) return nullptr;
  if (!(SDL_GetWindowFlags(window->Handle()) & SDL_WINDOW_OPENGL)) {
    core::Trace("RENDER: window was not made for OpenGL\n");
    return nullptr;
  }
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GLContext context = SDL_GL_CreateContext(window->Handle());
  if (!context) {
    core::Trace("RENDER: no GL 3.3 core context on the window: %s\n", SDL_GetError());
    return nullptr;
  }
  auto result = std::make_unique<WindowContext>(window, context);
  if (result->MakeCurrent() != 0) return nullptr;
  PinGlDriver();
  result->SetSwapInterval(swap_interval);
  return result;
}

}  // namespace render

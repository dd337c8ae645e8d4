// OpenGL contexts: one on an SDL window, or one without any window (EGL
// surfaceless), both GL 3.3 core. The device draws on one; the Client's
// ImGui view draws on another.
//
// Typical use:
//   auto context = render::CreateWindowGlContext(window, 1);
//   context->MakeCurrent(); ... draw with GL ... context->SwapBuffers();
//
// Not here: any drawing or state tracking (that is the device's, device.h).
#pragma once

#include <memory>

#include "app/core/core.h"

namespace render {

// ===========================================================================
// GL contexts. Every context is made current explicitly before use;
// MakeCurrent is cheap when it already is.
// ===========================================================================

class GlContext {
 public:
  virtual ~GlContext() = default;
  virtual int MakeCurrent() = 0;
  virtual bool IsCurrent() const = 0;
  // Shows the drawable (window contexts); nothing for headless ones.
  virtual int SwapBuffers() = 0;
  // 1 waits for the display's refresh (the output window), 0 never waits.
  virtual int SetSwapInterval(int interval) = 0;
  // The window's drawable in pixels; 0 x 0 without one.
  virtual void GetDrawableSize(int* width, int* height) const = 0;
  virtual bool HasDrawable() const = 0;
  virtual bool DrawableShown() const = 0;
};

// A GL 3.3 core context on a window made with kWindowOpenGl.
std::unique_ptr<GlContext> CreateWindowGlContext(core::QEGUIWindow* window, int swap_interval);
// A GL 3.3 core context without any window (EGL surfaceless).
std::unique_ptr<GlContext> CreateHeadlessGlContext();

}  // namespace render

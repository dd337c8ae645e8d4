// The output window's window-system specifics over SDL2: the screens, the
// frame toggle, and positions measured by the outer frame.
#include <SDL.h>

#include "server/server_internal.h"

namespace server::internal {

std::vector<ScreenRect> ScreenRects() {
  std::vector<ScreenRect> screens;
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return screens;
  int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds{};
    if (SDL_GetDisplayBounds(i, &bounds) == 0 && bounds.w > 0 && bounds.h > 0)
      screens.push_back({bounds.x, bounds.y, bounds.w, bounds.h});
  }
  return screens;
}

bool WindowFramed(const core::QEGUIWindow& window) {
  SDL_Window* handle = window.Handle();
  return handle && (SDL_GetWindowFlags(handle) & SDL_WINDOW_BORDERLESS) == 0;
}

void SetWindowFramed(core::QEGUIWindow* window, bool framed) {
  SDL_Window* handle = window ? window->Handle() : nullptr;
  if (!handle) return;
  // SDL keeps the client area's size; the window is neither raised nor moved.
  SDL_SetWindowBordered(handle, framed ? SDL_TRUE : SDL_FALSE);
}

void MoveWindowFrameTo(core::QEGUIWindow* window, int x, int y) {
  SDL_Window* handle = window ? window->Handle() : nullptr;
  if (!handle) return;
  // SDL places the client area; GetPosition reports the frame's corner.
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(handle, &top, &left, &bottom, &right) != 0) top = left = 0;
  SDL_SetWindowPosition(handle, x + left, y + top);
}

int SetWindowFullScreen(core::QEGUIWindow* window, bool full_screen) {
  SDL_Window* handle = window ? window->Handle() : nullptr;
  if (!handle) return -1;
  // The desktop's own mode: no mode switch, the back buffer is stretched.
  if (SDL_SetWindowFullscreen(handle, full_screen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) {
    core::Trace("SERVER: full screen %s failed: %s\n", full_screen ? "on" : "off", SDL_GetError());
    return -1;
  }
  if (!full_screen) SDL_ShowCursor(SDL_ENABLE);
  return 0;
}

void MoveWindowToDisplay(core::QEGUIWindow* window, int display) {
  SDL_Window* handle = window ? window->Handle() : nullptr;
  if (!handle || display < 0 || display >= SDL_GetNumVideoDisplays()) return;
  SDL_SetWindowPosition(handle, SDL_WINDOWPOS_CENTERED_DISPLAY(display), SDL_WINDOWPOS_CENTERED_DISPLAY(display));
}

int WindowDisplay(const core::QEGUIWindow& window) {
  SDL_Window* handle = window.Handle();
  const int display = handle ? SDL_GetWindowDisplayIndex(handle) : -1;
  return display < 0 ? 0 : display;
}

void TrackPointerOverWindow(const core::WindowEvent& event, bool hide) {
  if (!event.native || event.native->type != SDL_WINDOWEVENT) return;
  if (event.native->window.event == SDL_WINDOWEVENT_ENTER) SDL_ShowCursor(hide ? SDL_DISABLE : SDL_ENABLE);
  else if (event.native->window.event == SDL_WINDOWEVENT_LEAVE) SDL_ShowCursor(SDL_ENABLE);
}

}  // namespace server::internal

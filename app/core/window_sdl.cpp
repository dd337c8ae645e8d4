// The window framework over SDL2.
//
// Each QEGUIWindow registers itself under its SDL window id while it has a
// window; RouteWindowEvent looks the id of an incoming event up and turns
// the SDL record into a WindowEvent for the object. Objects never see
// events of other windows, and events without a window (quit, audio, ...)
// stay with the frame loop.
#include <SDL.h>

#include <algorithm>
#include <vector>

#include "app/core/core.h"

namespace core {
namespace {

std::vector<QEGUIWindow*> g_windows;  // objects that currently have a window
bool g_quit_requested = false;

int EnsureVideo() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) return 0;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Closing the last window is the program's decision, not SDL's.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    Trace("WINDOW: SDL video: %s\n", SDL_GetError());
    return -1;
  }
  return 0;
}

uint16_t Modifiers(uint16_t sdl_mods) {
  uint16_t mods = 0;
  if (sdl_mods & KMOD_SHIFT) mods |= kModShift;
  if (sdl_mods & KMOD_CTRL) mods |= kModCtrl;
  if (sdl_mods & KMOD_ALT) mods |= kModAlt;
  return mods;
}

// The window an event is addressed to, or 0 for none.
uint32_t EventWindowId(const SDL_Event& event) {
  switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_TEXTEDITING: return event.edit.windowID;
    case SDL_TEXTINPUT: return event.text.windowID;
    case SDL_MOUSEMOTION: return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event.button.windowID;
    case SDL_MOUSEWHEEL: return event.wheel.windowID;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPBEGIN:
    case SDL_DROPCOMPLETE: return event.drop.windowID;
    default: return 0;
  }
}

WindowEvent Translate(const SDL_Event& event) {
  WindowEvent out;
  out.native = &event;
  switch (event.type) {
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE: out.kind = WindowEvent::Kind::kClose; break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          out.kind = WindowEvent::Kind::kSizeChanged;
          out.width = event.window.data1;
          out.height = event.window.data2;
          break;
        case SDL_WINDOWEVENT_MOVED:
          out.kind = WindowEvent::Kind::kMoved;
          out.x = event.window.data1;
          out.y = event.window.data2;
          break;
        case SDL_WINDOWEVENT_SHOWN: out.kind = WindowEvent::Kind::kShown; break;
        case SDL_WINDOWEVENT_HIDDEN: out.kind = WindowEvent::Kind::kHidden; break;
        case SDL_WINDOWEVENT_EXPOSED: out.kind = WindowEvent::Kind::kExposed; break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: out.kind = WindowEvent::Kind::kFocusGained; break;
        case SDL_WINDOWEVENT_FOCUS_LOST: out.kind = WindowEvent::Kind::kFocusLost; break;
        default: break;
      }
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      out.kind = event.type == SDL_KEYDOWN ? WindowEvent::Kind::kKeyDown : WindowEvent::Kind::kKeyUp;
      out.key = event.key.keysym.sym;  // printable keys are their ASCII character
      out.modifiers = Modifiers(event.key.keysym.mod);
      out.repeat = event.key.repeat != 0;
      break;
    case SDL_MOUSEBUTTONDOWN:
      out.x = event.button.x;
      out.y = event.button.y;
      if (event.button.button == SDL_BUTTON_LEFT && event.button.clicks == 2)
        out.kind = WindowEvent::Kind::kDoubleClick;
      break;
    default: break;
  }
  return out;
}

}  // namespace

QEGUIWindow::QEGUIWindow() = default;

QEGUIWindow::~QEGUIWindow() { Destroy(); }

bool QEGUIWindow::WindowProc(const WindowEvent& event) {
  switch (event.kind) {
    case WindowEvent::Kind::kClose: OnClose(); return true;
    case WindowEvent::Kind::kDoubleClick: OnDoubleClick(event.x, event.y); return true;
    case WindowEvent::Kind::kSizeChanged: OnSizeChanged(event.width, event.height); return true;
    case WindowEvent::Kind::kKeyDown: OnKeyDown(event.key, event.modifiers, event.repeat); return true;
    case WindowEvent::Kind::kKeyUp: OnKeyUp(event.key, event.modifiers); return true;
    case WindowEvent::Kind::kShown: shown_ = true; return true;
    case WindowEvent::Kind::kHidden: shown_ = false; return true;
    default: return false;
  }
}

int QEGUIWindow::CreateGuiWindow(const char* title, int width, int height, uint32_t styles,
                                 QEGUIWindow* owner) {
  if (window_) Destroy();
  if (EnsureVideo() != 0) return -1;
  uint32_t flags = 0;
  if (styles & kWindowOpenGl) flags |= SDL_WINDOW_OPENGL;
  if (styles & kWindowResizable) flags |= SDL_WINDOW_RESIZABLE;
  if (styles & kWindowBorderless) flags |= SDL_WINDOW_BORDERLESS;
  if (styles & kWindowHighDpi) flags |= SDL_WINDOW_ALLOW_HIGHDPI;
  flags |= (styles & kWindowHidden) ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
  if (width <= 0) width = 640;
  if (height <= 0) height = 480;
  window_ = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                             width, height, flags);
  if (!window_) {
    Trace("WINDOW: cannot create window '%s': %s\n", title ? title : "", SDL_GetError());
    return -1;
  }
  window_id_ = SDL_GetWindowID(window_);
  shown_ = (styles & kWindowHidden) == 0;
  owner_ = owner;
  g_windows.push_back(this);
  return 0;
}

void QEGUIWindow::Show() {
  if (!window_) return;
  SDL_ShowWindow(window_);
  shown_ = true;
}

void QEGUIWindow::Hide() {
  if (!window_) return;
  SDL_HideWindow(window_);
  shown_ = false;
}

void QEGUIWindow::Destroy() {
  if (!window_) return;
  g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), this), g_windows.end());
  SDL_DestroyWindow(window_);
  window_ = nullptr;
  window_id_ = 0;
  shown_ = false;
}

int QEGUIWindow::SetSize(int width, int height) {
  if (!window_ || width <= 0 || height <= 0) return -1;
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) top = left = bottom = right = 0;
  int client_w = std::max(1, width - left - right);
  int client_h = std::max(1, height - top - bottom);
  SDL_SetWindowSize(window_, client_w, client_h);
  return 0;
}

int QEGUIWindow::SetClientSize(int width, int height) {
  if (!window_ || width <= 0 || height <= 0) return -1;
  SDL_SetWindowSize(window_, width, height);
  return 0;
}

int QEGUIWindow::SetPosition(int x, int y) {
  if (!window_) return -1;
  SDL_SetWindowPosition(window_, x, y);
  return 0;
}

void QEGUIWindow::GetSize(int* width, int* height) const {
  int w = 0, h = 0;
  if (window_) {
    SDL_GetWindowSize(window_, &w, &h);
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) == 0) {
      w += left + right;
      h += top + bottom;
    }
  }
  if (width) *width = w;
  if (height) *height = h;
}

void QEGUIWindow::GetClientSize(int* width, int* height) const {
  int w = 0, h = 0;
  if (window_) SDL_GetWindowSize(window_, &w, &h);
  if (width) *width = w;
  if (height) *height = h;
}

void QEGUIWindow::GetDrawableSize(int* width, int* height) const {
  int w = 0, h = 0;
  if (window_) SDL_GL_GetDrawableSize(window_, &w, &h);
  if (width) *width = w;
  if (height) *height = h;
}

void QEGUIWindow::GetPosition(int* x, int* y) const {
  int px = 0, py = 0;
  if (window_) {
    SDL_GetWindowPosition(window_, &px, &py);
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) == 0) {
      px -= left;
      py -= top;
    }
  }
  if (x) *x = px;
  if (y) *y = py;
}

int QEGUIWindow::SetTitle(const char* title) {
  if (!window_) return -1;
  SDL_SetWindowTitle(window_, title ? title : "");
  return 0;
}

int QEGUIWindow::SetFullScreen(bool full_screen, int width, int height, int refresh) {
  if (!window_) return -1;
  if (!full_screen) return SDL_SetWindowFullscreen(window_, 0) == 0 ? 0 : -1;
  int display = SDL_GetWindowDisplayIndex(window_);
  if (display < 0) display = 0;
  SDL_DisplayMode want{};
  want.w = width;
  want.h = height;
  want.refresh_rate = refresh;
  SDL_DisplayMode mode{};
  if (width > 0 && height > 0 && SDL_GetClosestDisplayMode(display, &want, &mode))
    SDL_SetWindowDisplayMode(window_, &mode);
  if (SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN) != 0) {
    Trace("WINDOW: full screen failed: %s\n", SDL_GetError());
    return -1;
  }
  return 0;
}

bool QEGUIWindow::IsFullScreen() const {
  return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN) != 0;
}

bool RouteWindowEvent(const SDL_Event& event) {
  uint32_t id = EventWindowId(event);
  if (id == 0) return false;
  QEGUIWindow* window = FindGuiWindow(id);
  if (!window) return false;
  window->WindowProc(Translate(event));
  return true;
}

QEGUIWindow* FindGuiWindow(uint32_t window_id) {
  for (QEGUIWindow* window : g_windows)
    if (window->WindowId() == window_id) return window;
  return nullptr;
}

int GuiWindowCount() { return static_cast<int>(g_windows.size()); }

void PostQuitRequest() { g_quit_requested = true; }

bool TakeQuitRequest() {
  bool requested = g_quit_requested;
  g_quit_requested = false;
  return requested;
}

}  // namespace core

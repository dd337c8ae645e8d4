// Window framework: one object per top-level window. The window system's
// events for a window arrive at virtual operations of its object, so each
// kind of window (the Server's output, the Client's main window) only
// overrides what it cares about. Included from core.h; use that header.
#pragma once

#include <cstdint>
#include <string>

union SDL_Event;
struct SDL_Window;

namespace core {

// One event as a window object sees it. `native` is the window system's own
// event record (an SDL_Event) for handlers that must pass it on (an ImGui
// back end, for example); most handlers never look at it.
struct WindowEvent {
  enum class Kind {
    kClose,         // the user asked to close the window
    kDoubleClick,   // left button double-click at (x, y), client coordinates
    kSizeChanged,   // new client size in (width, height)
    kMoved,         // new position in (x, y)
    kKeyDown,       // key (and repeat), modifiers
    kKeyUp,
    kShown,
    kHidden,
    kExposed,
    kFocusGained,
    kFocusLost,
    kOther,         // anything else addressed to the window (mouse, text, ...)
  };
  Kind kind = Kind::kOther;
  int x = 0, y = 0;
  int width = 0, height = 0;
  // Layout key code: printable keys are their lower-case ASCII character;
  // kKey* below for the others the program uses.
  int32_t key = 0;
  uint16_t modifiers = 0;  // kMod* bits
  bool repeat = false;
  const SDL_Event* native = nullptr;
};

inline constexpr int32_t kKeyBackspace = 8;
inline constexpr int32_t kKeyTab = 9;
inline constexpr int32_t kKeyReturn = 13;
inline constexpr int32_t kKeyEscape = 27;
inline constexpr int32_t kKeySpace = 32;
inline constexpr int32_t kKeyDelete = 127;
inline constexpr int32_t kKeyF11 = 0x40000044;  // SDL's key code of F11
inline constexpr uint16_t kModShift = 1;
inline constexpr uint16_t kModCtrl = 2;
inline constexpr uint16_t kModAlt = 4;

// Creation styles (bits).
inline constexpr uint32_t kWindowOpenGl = 1;      // the window gets a GL drawable
inline constexpr uint32_t kWindowResizable = 2;
inline constexpr uint32_t kWindowHidden = 4;      // created hidden; Show() maps it
inline constexpr uint32_t kWindowBorderless = 8;
inline constexpr uint32_t kWindowHighDpi = 16;

class QEGUIWindow {
 public:
  QEGUIWindow();
  virtual ~QEGUIWindow();
  QEGUIWindow(const QEGUIWindow&) = delete;
  QEGUIWindow& operator=(const QEGUIWindow&) = delete;

  // The class's own tear-down (the Server shuts down, the Client closes its
  // panels). Called by the owner before the object goes away.
  virtual void TearDown() {}

  // Every event for this window arrives here first; the default sends it to
  // the handler for its kind. Returns true when the event was used.
  virtual bool WindowProc(const WindowEvent& event);

  // Handlers. The default close hides the window; nothing else happens by
  // default, and no window's close ends the program by itself.
  virtual void OnClose() { Hide(); }
  virtual void OnDoubleClick(int /*x*/, int /*y*/) {}
  virtual void OnSizeChanged(int /*width*/, int /*height*/) {}
  virtual void OnKeyDown(int32_t /*key*/, uint16_t /*modifiers*/, bool /*repeat*/) {}
  virtual void OnKeyUp(int32_t /*key*/, uint16_t /*modifiers*/) {}

  // Creates the window (title, client size, kWindow* styles) at the window
  // system's default position. `owner` is kept for the object hierarchy.
  // Returns 0, or -1 when the window system cannot make the window.
  int CreateGuiWindow(const char* title, int width, int height, uint32_t styles,
                      QEGUIWindow* owner = nullptr);
  void Show();
  void Hide();
  // Destroys the window if any; the object stays and may create another.
  void Destroy();

  // Outer size (borders included when the window system reports them).
  int SetSize(int width, int height);
  int SetClientSize(int width, int height);
  int SetPosition(int x, int y);
  void GetSize(int* width, int* height) const;
  void GetClientSize(int* width, int* height) const;
  // Size of the GL drawable in pixels (larger than the client size on a
  // high-density screen).
  void GetDrawableSize(int* width, int* height) const;
  void GetPosition(int* x, int* y) const;
  int SetTitle(const char* title);
  // Full screen in the given mode (width, height, refresh 0 = any), or back
  // to a normal window.
  int SetFullScreen(bool full_screen, int width = 0, int height = 0, int refresh = 0);
  bool IsFullScreen() const;

  bool shown() const { return shown_; }
  QEGUIWindow* owner() const { return owner_; }
  SDL_Window* Handle() const { return window_; }
  uint32_t WindowId() const { return window_id_; }

 private:
  SDL_Window* window_ = nullptr;
  uint32_t window_id_ = 0;
  bool shown_ = false;
  QEGUIWindow* owner_ = nullptr;
};

// The frame loop's event pump hands every event here. Events addressed to a
// window with an object go to that object (true); others return false.
bool RouteWindowEvent(const SDL_Event& event);
// The object bound to a window id, or nullptr.
QEGUIWindow* FindGuiWindow(uint32_t window_id);
// Number of live window objects with a window.
int GuiWindowCount();

// A window's object asks the frame loop to end (the Client's close does).
// The event pump reads and clears the request.
void PostQuitRequest();
bool TakeQuitRequest();

}  // namespace core

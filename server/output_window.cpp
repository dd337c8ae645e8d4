// The output window: where it opens, what closing and double-clicking it do.
#include <algorithm>

#include "server/server_internal.h"

namespace server::internal {
namespace {

// A window counts as reachable when at least this much of it (or all of
// it, when smaller) lies on one screen: enough to grab its caption.
constexpr int kMinVisibleWidth = 64;
constexpr int kMinVisibleHeight = 32;

int Overlap(int a, int a_size, int b, int b_size) {
  int low = std::max(a, b);
  int high = std::min(a + a_size, b + b_size);
  return high > low ? high - low : 0;
}

}  // namespace

void PlaceOnVisibleScreen(int* x, int* y, int width, int height, const std::vector<ScreenRect>& screens) {
  if (screens.empty()) return;  // nothing to measure against: leave it
  const int need_w = std::min(std::max(width, 1), kMinVisibleWidth);
  const int need_h = std::min(std::max(height, 1), kMinVisibleHeight);
  for (const ScreenRect& screen : screens)
    if (Overlap(*x, width, screen.x, screen.width) >= need_w && Overlap(*y, height, screen.y, screen.height) >= need_h)
      return;
  const ScreenRect& first = screens.front();
  *x = first.x + std::max(0, (first.width - width) / 2);
  *y = first.y + std::max(0, (first.height - height) / 2);
}

int OpenOutputWindow(OutputWindow* window) {
  window->framed_ = true;
  // Created hidden and shown by the display set-up once it has its size.
  window->full_screen_ = false;
  if (window->CreateGuiWindow(kOutputWindowTitle, OutputWidth(), OutputHeight(),
                              core::kWindowOpenGl | core::kWindowResizable | core::kWindowHidden) != 0)
    return -1;
  int32_t x = 0, y = 0;
  core::ReadSettingNumber("", "ServerX", &x);
  core::ReadSettingNumber("", "ServerY", &y);
  int width = 0, height = 0;
  window->GetSize(&width, &height);
  int place_x = x, place_y = y;
  PlaceOnVisibleScreen(&place_x, &place_y, width, height, ScreenRects());
  if (place_x != x || place_y != y)
    core::Trace("SERVER: Saved window position %d,%d is off every screen; using %d,%d.\n", x, y, place_x, place_y);
  MoveWindowFrameTo(window, place_x, place_y);
  return 0;
}

void SaveOutputWindowPosition(const OutputWindow& window) {
  if (!window.Handle()) return;
  int x = 0, y = 0;
  window.GetPosition(&x, &y);
  core::WriteSettingNumber("", "ServerX", x);
  core::WriteSettingNumber("", "ServerY", y);
}

std::string FullScreenSettingName(int display) { return core::FormatString("FullScreen%d", display); }

void OutputWindow::OnDoubleClick(int, int) { ToggleFullScreen(); }

void OutputWindow::OnKeyDown(int32_t key, uint16_t, bool repeat) {
  if (key == core::kKeyF11 && !repeat) ToggleFullScreen();
}

bool OutputWindow::WindowProc(const core::WindowEvent& event) {
  TrackPointerOverWindow(event, full_screen_);
  return core::QEGUIWindow::WindowProc(event);
}

void OutputWindow::SetOutputFullScreen(bool full_screen, bool remember) {
  if (!Handle()) return;
  if (SetWindowFullScreen(this, full_screen) != 0 && full_screen) {
    core::RaiseRuntimeMessage("The output cannot go full screen on this display");
    return;
  }
  full_screen_ = full_screen;
  framed_ = !full_screen;
  if (!full_screen) {
    // Back to the framed window of the output's size.
    SetWindowFramed(this, true);
    SetClientSize(OutputWidth(), OutputHeight());
  }
  if (remember) core::WriteSettingNumber("", FullScreenSettingName(WindowDisplay(*this)).c_str(), full_screen ? 1 : 0);
}

}  // namespace server::internal

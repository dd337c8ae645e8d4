// Runs the Client window's ImGui view without a window or GPU: an ImGui
// context with a built font atlas, input set by hand, frames built and
// ended without drawing. Lets tests click and drag like a performer.
#pragma once

#include <imgui.h>

#include "client/view.h"

namespace client_test {

class ViewHarness {
 public:
  explicit ViewHarness(float scale = 1.0f, float width = 0.0f, float height = 0.0f);
  ~ViewHarness();
  ViewHarness(const ViewHarness&) = delete;
  ViewHarness& operator=(const ViewHarness&) = delete;

  client::ClientWindow& logic() { return logic_; }
  client::ClientView& view() { return view_; }
  float width() const { return width_; }
  float height() const { return height_; }

  // One frame with the mouse at (x, y), the left button as given, and the
  // keys of `keys` (ImGuiKey_* values) held down.
  void Frame(float x, float y, bool down, std::initializer_list<int> keys = {}, bool ctrl = false,
             bool shift = false);
  // Idle frames with the mouse away from everything.
  void Idle(int frames = 2);
  // Press and release at a point (three frames: hover, down, up).
  void Click(float x, float y, bool ctrl = false, bool shift = false);
  void Click(const ImVec2& p, bool ctrl = false, bool shift = false) { Click(p.x, p.y, ctrl, shift); }
  void Click(const client::PixelRect& r) { Click(r.x + r.w * 0.5f, r.y + r.h * 0.5f); }
  // Holds the button at `from`, moves to `to` in `steps` frames, releases.
  void Drag(const ImVec2& from, const ImVec2& to, int steps = 4);
  // A key press (down one frame, up the next).
  void PressKey(int imgui_key);

  bool AnyPopupOpen();
  ImGuiContext* context() const { return context_; }

 private:
  ImGuiContext* context_ = nullptr;
  client::ClientWindow logic_;
  client::ClientView view_;
  float width_, height_;
  ImVec2 mouse_{-1000.0f, -1000.0f};
};

}  // namespace client_test

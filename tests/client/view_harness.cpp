#include "tests/client/view_harness.h"

#include <cmath>

namespace client_test {

ViewHarness::ViewHarness(float scale, float width, float height) : view_(&logic_) {
  context_ = ImGui::CreateContext();
  ImGui::SetCurrentContext(context_);
  view_.SetUp(scale, client::kUiFontPath);
  ImGuiIO& io = ImGui::GetIO();
  unsigned char* pixels = nullptr;
  int w = 0, h = 0;
  io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
  // Key indices: the ImGuiKey value itself.
  for (int key = 0; key < ImGuiKey_COUNT; ++key) io.KeyMap[key] = key;
  if (width <= 0.0f || height <= 0.0f) view_.PreferredWindowSize(&width, &height);
  width_ = width;
  height_ = height;
  Idle(2);
}

ViewHarness::~ViewHarness() {
  logic_.CloseAllPanels();
  ImGui::DestroyContext(context_);
}

void ViewHarness::Frame(float x, float y, bool down, std::initializer_list<int> keys, bool ctrl, bool shift) {
  ImGui::SetCurrentContext(context_);
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(width_, height_);
  io.DeltaTime = 1.0f / 60.0f;
  // A real mouse reports whole pixels.
  io.MousePos = ImVec2(std::round(x), std::round(y));
  io.MouseDown[0] = down;
  io.KeyCtrl = ctrl;
  io.KeyShift = shift;
  for (bool& key : io.KeysDown) key = false;
  for (int key : keys) io.KeysDown[key] = true;
  mouse_ = io.MousePos;
  ImGui::NewFrame();
  view_.Draw(width_, height_);
  ImGui::Render();
}

void ViewHarness::Idle(int frames) {
  for (int i = 0; i < frames; ++i) Frame(-1000.0f, -1000.0f, false);
}

void ViewHarness::Click(float x, float y, bool ctrl, bool shift) {
  Frame(x, y, false, {}, ctrl, shift);
  Frame(x, y, true, {}, ctrl, shift);
  Frame(x, y, false, {}, ctrl, shift);
}

void ViewHarness::Drag(const ImVec2& from, const ImVec2& to, int steps) {
  Frame(from.x, from.y, false);
  Frame(from.x, from.y, true);
  for (int i = 1; i <= steps; ++i) {
    float t = static_cast<float>(i) / static_cast<float>(steps);
    Frame(from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t, true);
  }
  Frame(to.x, to.y, false);
}

void ViewHarness::PressKey(int imgui_key) {
  Frame(mouse_.x, mouse_.y, false, {imgui_key});
  Frame(mouse_.x, mouse_.y, false);
}

bool ViewHarness::AnyPopupOpen() {
  ImGui::SetCurrentContext(context_);
  return ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel);
}

}  // namespace client_test

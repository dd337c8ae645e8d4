// Client window logic: the panels in creation order, the connection
// dialog's state and the quit request. The SDL/ImGui shell around it lives
// in client_window_sdl.cpp.
#include <algorithm>

#include "app/core/core.h"
#include "client/dialogs.h"
#include "client/panel.h"
#include "client/window.h"
#include "fx/timing.h"

namespace client {
namespace {
constexpr size_t kMaxAlerts = 16;  // a burst of errors must not pile up popups
}

// ---------------------------------------------------------------------------
// Connection dialog
// ---------------------------------------------------------------------------
void ConnectionDialog::Open(ControllerPanel* panel) {
  panel_ = panel;
  host_[0] = '\0';
  if (!core::ReadSettingText("", "LastConnection", host_, sizeof(host_))) host_[0] = '\0';
}

int ConnectionDialog::Confirm() {
  ControllerPanel* panel = panel_;
  if (!panel) return -1;
  panel_ = nullptr;
  host_[sizeof(host_) - 1] = '\0';
  if (core::WriteSettingText("", "LastConnection", host_) != 0)
    core::Trace("CLIENT: could not store LastConnection\n");
  return panel->Connect(host_);
}

void ConnectionDialog::Cancel() { panel_ = nullptr; }

void ConnectionDialog::Forget(const ControllerPanel* panel) {
  if (panel_ == panel) panel_ = nullptr;
}

// ---------------------------------------------------------------------------
// Client window
// ---------------------------------------------------------------------------
ClientWindow::~ClientWindow() { CloseAllPanels(); }

uint64_t ClientWindow::changes() const {
  uint64_t sum = changes_;
  for (const auto& panel : panels_) sum += panel->changes();
  return sum;
}

ControllerPanel* ClientWindow::NewController() {
  ++changes_;
  panels_.push_back(std::make_unique<ControllerPanel>());
  core::Trace("CLIENT: new controller panel (%zu)\n", panels_.size());
  return panels_.back().get();
}

ControllerPanel* ClientWindow::NewConnectedController(std::string_view host_text, const std::string& preset_file) {
  ControllerPanel* panel = NewController();
  if (!preset_file.empty()) panel->LoadPreset(preset_file);  // a failure says so in the panel
  panel->Connect(host_text);
  return panel;
}

void ClientWindow::ClosePanel(ControllerPanel* panel) {
  auto it = std::find_if(panels_.begin(), panels_.end(), [&](const auto& p) { return p.get() == panel; });
  if (it == panels_.end()) return;
  dialog_.Forget(panel);
  preset_dialog_.Forget(panel);
  (*it)->Disconnect();
  changes_ += (*it)->changes() + 1;  // the sum must still move
  panels_.erase(it);
}

void ClientWindow::RemoveClosedPanels() {
  for (size_t i = 0; i < panels_.size();) {
    if (panels_[i]->close_requested())
      ClosePanel(panels_[i].get());
    else
      ++i;
  }
}

void ClientWindow::CloseAllPanels() {
  dialog_.Cancel();
  preset_dialog_.Cancel();
  while (!panels_.empty()) ClosePanel(panels_.back().get());
}

bool ClientWindow::KeysPaused() const {
  return text_input_active_ || dialog_.is_open() || preset_dialog_.is_open();
}

int ClientWindow::Tick() { return TickWith(nullptr); }

int ClientWindow::Tick(const KeyboardState& keys) { return TickWith(&keys); }

int ClientWindow::TickWith(const KeyboardState* reading) {
  if (quit_requested_) {
    CloseAllPanels();
    return 0;
  }
  RemoveClosedPanels();
  if (!reading) {
    for (auto& panel : panels_) {
      panel->Tick();
      TakeAlerts(panel.get());
    }
    return 1;
  }
  const KeyboardState& keys = *reading;
  bool act = !KeysPaused();
  // The tap clock and the beat-disable flag belong to the process: one
  // press acts once, however many panels are connected (two taps in the
  // same millisecond would make the tempo 0, two toggles cancel out).
  bool any_connected = false;
  for (const auto& panel : panels_) any_connected = any_connected || panel->connected();
  if (act && any_connected) {
    if (keys.space && !previous_keys_.space) fx::Tap();
    if (keys.backspace && !previous_keys_.backspace) {
      fx::ToggleBeatDisabled();
      core::Trace("CLIENT: beat %s\n", fx::BeatDisabled() ? "disabled" : "enabled");
      ++changes_;
    }
  }
  previous_keys_ = keys;
  for (auto& panel : panels_) {
    panel->Tick(keys, act);
    TakeAlerts(panel.get());
  }
  return 1;
}

void ClientWindow::TakeAlerts(ControllerPanel* panel) {
  for (std::string& alert : panel->TakeAlerts()) {
    if (alerts_.size() >= kMaxAlerts) alerts_.pop_front();
    alerts_.push_back(std::move(alert));
    ++changes_;
  }
}

}  // namespace client

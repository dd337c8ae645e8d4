// Client window logic: the panels in creation order, the connection
// dialog's state and the quit request. The SDL/ImGui shell around it lives
// in client_window_sdl.cpp.
#include <algorithm>

#include "app/core/core.h"
#include "client/client.h"

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

void ClientWindow::ClosePanel(ControllerPanel* panel) {
  auto it = std::find_if(panels_.begin(), panels_.end(), [&](const auto& p) { return p.get() == panel; });
  if (it == panels_.end()) return;
  dialog_.Forget(panel);
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
  while (!panels_.empty()) ClosePanel(panels_.back().get());
}

int ClientWindow::Tick() {
  if (quit_requested_) {
    CloseAllPanels();
    return 0;
  }
  RemoveClosedPanels();
  for (auto& panel : panels_) {
    panel->Tick();
    for (std::string& alert : panel->TakeAlerts()) {
      if (alerts_.size() >= kMaxAlerts) alerts_.pop_front();
      alerts_.push_back(std::move(alert));
      ++changes_;
    }
  }
  return 1;
}

}  // namespace client

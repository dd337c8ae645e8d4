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
constexpr const char* kMidiMapSetting = "MidiMap";
constexpr size_t kMidiMapCapacity = 16384;
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
  if (!midi_status_.empty()) panels_.back()->AddLogLine(midi_status_);
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
    TickMidi();
    return 1;
  }
  const KeyboardState& keys = *reading;
  bool act = !KeysPaused();
  // The tempo belongs to each Server: one press sends one tap (or toggle)
  // to every connected Server, never two to one, so in combined mode the
  // Server of this process taps once.
  if (act) {
    if (keys.space && !previous_keys_.space) PressTap();
    if (keys.backspace && !previous_keys_.backspace) PressBeatOff();
  }
  previous_keys_ = keys;
  for (auto& panel : panels_) {
    panel->Tick(keys, act);
    TakeAlerts(panel.get());
  }
  TickMidi();
  return 1;
}

std::vector<ControllerPanel*> ClientWindow::ConnectedPanels() const {
  std::vector<ControllerPanel*> connected;
  for (const auto& panel : panels_)
    if (panel->connected()) connected.push_back(panel.get());
  return connected;
}

void ClientWindow::PressTap() {
  for (ControllerPanel* panel : ConnectedPanels()) panel->SendTap();
}

void ClientWindow::PressBeatOff() {
  for (ControllerPanel* panel : ConnectedPanels()) panel->SendBeatToggle();
  core::Trace("CLIENT: beat off/on sent\n");
  ++changes_;
}

void ClientWindow::LogToPanels(const std::string& line) {
  core::Trace("CLIENT: %s\n", line.c_str());
  for (auto& panel : panels_) panel->AddLogLine(line);
}

void ClientWindow::SetMidiInput(std::unique_ptr<control::MidiInput> input, std::string status) {
  midi_input_ = std::move(input);
  midi_status_ = std::move(status);
  if (!midi_status_.empty()) LogToPanels(midi_status_);
}

void ClientWindow::StartMidiLearn(const MidiControl& control) {
  midi_map_.StartLearn(control);
  ++changes_;
}

void ClientWindow::ForgetMidi(const MidiControl& control) {
  if (midi_map_.learning() == control) midi_map_.CancelLearn();
  if (midi_map_.Forget(control)) SaveMidiMappings();
  ++changes_;
}

int ClientWindow::LoadMidiMappings() {
  std::vector<char> text(kMidiMapCapacity, '\0');
  if (!core::ReadSettingText("", kMidiMapSetting, text.data(), text.size())) return 0;
  const int skipped = midi_map_.Load(text.data());
  if (skipped > 0) core::Trace("CLIENT: %d malformed MIDI mappings skipped\n", skipped);
  return skipped;
}

int ClientWindow::SaveMidiMappings() {
  if (core::WriteSettingText("", kMidiMapSetting, midi_map_.Save().c_str()) != 0) {
    LogToPanels("Could not store the MIDI mappings in the settings");
    return -1;
  }
  return 0;
}

void ClientWindow::TickMidi() {
  if (!midi_input_) return;
  std::vector<control::MidiMessage> messages;
  std::vector<std::string> lines;
  midi_input_->Poll(&messages, &lines);
  for (const std::string& line : lines) LogToPanels(line);
  if (messages.empty()) return;
  std::vector<MidiAction> actions;
  for (const control::MidiMessage& message : messages) {
    std::optional<MidiBinding> learned = midi_map_.Feed(message, &actions);
    if (!learned) continue;
    ++changes_;
    LogToPanels("MIDI: " + MidiControlName(learned->control) + " learned " + MidiSourceText(learned->source));
    SaveMidiMappings();
  }
  const std::vector<ControllerPanel*> connected = ConnectedPanels();
  for (const MidiAction& action : actions) {
    if (action.kind == MidiAction::Kind::kPress && action.control.target == MidiTarget::kTap) PressTap();
    else if (action.kind == MidiAction::Kind::kPress && action.control.target == MidiTarget::kBeatOff) PressBeatOff();
    else
      for (ControllerPanel* panel : connected) panel->ApplyMidi(action);
  }
  for (ControllerPanel* panel : connected) panel->FlushMidi();
}

void ClientWindow::TakeAlerts(ControllerPanel* panel) {
  for (std::string& alert : panel->TakeAlerts()) {
    if (alerts_.size() >= kMaxAlerts) alerts_.pop_front();
    alerts_.push_back(std::move(alert));
    ++changes_;
  }
}

}  // namespace client

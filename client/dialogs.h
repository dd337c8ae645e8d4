// The Client's dialogs as logic without a window: "New connection" (the
// host prompt and "LastConnection") and the preset file dialog ("Save
// Preset File" / "Load Preset File", "LastPreset").
//
// Typical use:
//   client::ConnectionDialog dialog; dialog.Open(&panel); ... dialog.Confirm() ...
//
// Not here: how they are drawn (view.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/panel.h"

namespace client {

// ---------------------------------------------------------------------------
// Connection dialog "New connection": a host field prefilled from the
// setting "LastConnection", which "&Connect" stores and "Cancel" leaves.
// ---------------------------------------------------------------------------
class ConnectionDialog {
 public:
  // Opens for `panel` with the field set to "LastConnection" (empty when
  // absent).
  void Open(ControllerPanel* panel);
  bool is_open() const { return panel_ != nullptr; }
  ControllerPanel* panel() const { return panel_; }
  // The editable field (kHostCapacity bytes, always NUL-terminated).
  char* host_buffer() { return host_; }
  const char* host_text() const { return host_; }
  // "&Connect" (Enter): stores the text as "LastConnection", closes, and
  // has the panel connect to it. Returns the panel's Connect result.
  int Confirm();
  // "Cancel" (Escape): closes; the setting is not touched.
  void Cancel();
  // The panel went away while the dialog was open.
  void Forget(const ControllerPanel* panel);

 private:
  ControllerPanel* panel_ = nullptr;
  char host_[kHostCapacity] = {};
};

// ---------------------------------------------------------------------------
// Preset file dialog: "Save Preset File" / "Load Preset File" for one panel.
// It lists the folders and the *.HVR files (any case) of its folder, moves
// between folders, and takes a typed name (relative to the folder, or a
// whole path; saved as typed, without adding an extension). It opens at
// the setting "LastPreset" and stores the chosen path there.
// ---------------------------------------------------------------------------
inline constexpr size_t kPresetNameCapacity = 256;  // typed name incl. its NUL
inline constexpr const char* kPresetFilter = "halvane VJ preset file (*.HVR)";
inline constexpr const char* kPresetPattern = "*.HVR";

class PresetDialog {
 public:
  enum class Mode { kLoad, kSave };
  struct Entry {
    std::string name;
    bool folder = false;
  };

  // Opens for `panel`: folder and name from "LastPreset" when it names a
  // file in an existing folder, else the show's presets/ folder (or the
  // show folder) and an empty name.
  void Open(ControllerPanel* panel, Mode mode);
  bool is_open() const { return panel_ != nullptr; }
  ControllerPanel* panel() const { return panel_; }
  Mode mode() const { return mode_; }
  const char* Title() const { return mode_ == Mode::kSave ? "Save Preset File" : "Load Preset File"; }
  const char* ConfirmText() const { return mode_ == Mode::kSave ? "Save" : "Open"; }

  // The folder shown (absolute, no trailing '/' but for "/") and its
  // entries: ".." first (below the top), then folders, then files, each
  // sorted by name ignoring case.
  const std::string& folder() const { return folder_; }
  const std::vector<Entry>& entries() const { return entries_; }
  // Goes into a listed folder (".." goes up) or to a whole path. 0 or -1.
  int EnterFolder(const std::string& name);
  // A listed file clicked: its name goes into the field.
  void ChooseFile(const std::string& name);

  char* name_buffer() { return name_; }
  const char* name_text() const { return name_; }
  // What went wrong with the last confirm ("" when nothing).
  const std::string& error() const { return error_; }

  // Save / Open (Enter): a name that is a folder opens it (returns 1);
  // otherwise the panel saves or loads the file, "LastPreset" remembers
  // it, the dialog closes and the result is the panel's (0 or -1). A load
  // of a file that does not exist, or a save into a missing folder, stays
  // open with an error (-1).
  int Confirm();
  // Cancel (Escape): closes; nothing changes.
  void Cancel();
  // The panel went away while the dialog was open.
  void Forget(const ControllerPanel* panel);

 private:
  std::string PathOf(const std::string& name) const;
  void List();

  ControllerPanel* panel_ = nullptr;
  Mode mode_ = Mode::kLoad;
  std::string folder_;
  std::vector<Entry> entries_;
  char name_[kPresetNameCapacity] = {};
  std::string error_;
};

}  // namespace client

// The preset file dialog's logic: a folder, its listing (folders and
// *.HVR files, any case), a typed name, and the save or load it ends in.
// Paths are kept absolute and as the file system spells them, so the
// "LastPreset" setting reopens the dialog where the performer left off.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/core/core.h"
#include "client/dialogs.h"
#include "client/panel.h"

namespace client {
namespace {

// "/a/b/../c/" -> "/a/c"; "/" stays "/".
std::string Tidy(const std::string& path) {
  std::string tidy = std::filesystem::path(path).lexically_normal().string();
  while (tidy.size() > 1 && tidy.back() == '/') tidy.pop_back();
  return tidy.empty() ? "/" : tidy;
}

std::string WorkingFolder() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

std::string Absolute(const std::string& path, const std::string& base) {
  if (!path.empty() && path[0] == '/') return Tidy(path);
  return Tidy(base + "/" + path);
}

// The folder part of an absolute path ("/" for a file at the top).
std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastPart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Trimmed(const char* text) {
  std::string s = text;
  size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

// Where a dialog opens without a remembered file: the show's presets/
// folder, else the show folder.
std::string DefaultFolder() {
  std::string root = core::ShowRoot().empty() ? WorkingFolder() : Absolute(core::ShowRoot(), WorkingFolder());
  std::string presets;
  if (core::ResolvePath(root + "/presets", &presets) && core::FolderExists(presets)) return Tidy(presets);
  return root;
}

bool NameBefore(const PresetDialog::Entry& a, const PresetDialog::Entry& b) {
  if (a.name == "..") return b.name != "..";
  if (b.name == "..") return false;
  if (a.folder != b.folder) return a.folder;
  std::string la = core::AsciiToLower(a.name), lb = core::AsciiToLower(b.name);
  return la != lb ? la < lb : a.name < b.name;
}

}  // namespace

void PresetDialog::Open(ControllerPanel* panel, Mode mode) {
  panel_ = panel;
  mode_ = mode;
  error_.clear();
  name_[0] = '\0';
  folder_ = DefaultFolder();
  char last[4096] = {};
  if (core::ReadSettingText("", "LastPreset", last, sizeof last) && last[0]) {
    std::string path = Absolute(last, folder_);
    std::string parent;
    if (core::ResolvePath(ParentOf(path), &parent) && core::FolderExists(parent)) {
      folder_ = Tidy(parent);
      std::string name = LastPart(path);
      std::snprintf(name_, sizeof name_, "%s", name.c_str());
    }
  }
  List();
}

void PresetDialog::List() {
  entries_.clear();
  if (folder_ != "/") entries_.push_back(Entry{"..", true});
  if (!core::FindFirst(folder_.c_str(), "*")) return;
  std::string path;
  while (core::FindNext(&path)) {
    std::string name = LastPart(path);
    // Hidden entries (and "." and "..") are not offered.
    if (name.empty() || name[0] == '.') continue;
    if (core::FolderExists(path))
      entries_.push_back(Entry{name, true});
    else if (core::MatchPatternNoCase(kPresetPattern, name))
      entries_.push_back(Entry{name, false});
  }
  std::sort(entries_.begin(), entries_.end(), NameBefore);
}

std::string PresetDialog::PathOf(const std::string& name) const { return Absolute(name, folder_); }

int PresetDialog::EnterFolder(const std::string& name) {
  std::string target = name == ".." ? ParentOf(folder_) : PathOf(name);
  std::string disk;
  if (!core::ResolvePath(target, &disk) || !core::FolderExists(disk)) return -1;
  folder_ = Tidy(disk);
  error_.clear();
  List();
  return 0;
}

void PresetDialog::ChooseFile(const std::string& name) {
  std::snprintf(name_, sizeof name_, "%s", name.c_str());
  error_.clear();
}

int PresetDialog::Confirm() {
  if (!panel_) return -1;
  error_.clear();
  std::string name = Trimmed(name_);
  if (name.empty()) {
    error_ = "Type a file name";
    return -1;
  }
  std::string path = PathOf(name);
  if (core::FolderExists(path)) {
    EnterFolder(path);
    name_[0] = '\0';
    return 1;
  }
  std::string disk;
  if (mode_ == Mode::kLoad) {
    if (!core::ResolvePath(path, &disk) || !core::FileExists(disk)) {
      error_ = "No such file: " + name;
      return -1;
    }
  } else if (!core::ResolvePath(path, &disk, true) || !core::FolderExists(ParentOf(disk))) {
    error_ = "No such folder: " + ParentOf(path);
    return -1;
  }
  ControllerPanel* panel = panel_;
  panel_ = nullptr;
  // Remembered whatever the outcome: the next dialog opens here.
  if (core::WriteSettingText("", "LastPreset", disk.c_str()) != 0) core::Trace("CLIENT: could not store LastPreset\n");
  return mode_ == Mode::kSave ? panel->SavePreset(disk) : panel->LoadPreset(disk);
}

void PresetDialog::Cancel() {
  panel_ = nullptr;
  error_.clear();
}

void PresetDialog::Forget(const ControllerPanel* panel) {
  if (panel_ == panel) Cancel();
}

}  // namespace client

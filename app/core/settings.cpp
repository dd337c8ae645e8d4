// Settings store.
//
// The root key maps to one folder; a sub-path's keys are sub-folders. Each
// key keeps its values in a file "values" of lines "kind<TAB>name<TAB>value"
// (kind "number" or "text"; backslash escapes for tab, line ends and
// backslash). A value of the wrong kind or that does not parse reads as
// absent. Every write replaces the whole file through a unique temporary file
// that is synced and renamed over it, so a crash or two processes saving at
// once never leave a half-written file.
#include "app/core/core.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace core {
namespace {

constexpr size_t kMaxRootPath = 255;
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxKeysPerPath = 32;
constexpr const char* kValuesFile = "values";

std::string g_folder;
std::string g_root_path = kSettingsRootPath;

struct Entry {
  std::string kind;
  std::string name;
  std::string value;  // unescaped
};

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\': out->push_back('\\'); break;
      case 't': out->push_back('\t'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      default: return false;
    }
  }
  return true;
}

// Splits "a/b\\c" into key names; empty components are skipped.
bool SplitKeys(std::string_view path, std::vector<std::string>* keys) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
    if (i > start) {
      std::string key(path.substr(start, i - start));
      if (key.size() > kMaxKeyName || key == "." || key == "..") return false;
      keys->push_back(std::move(key));
    }
    start = i + 1;
  }
  return true;
}

// The folder of the key at root + sub_path, or false when the path is invalid.
bool KeyFolder(const char* sub_path, std::string* folder) {
  std::vector<std::string> root_keys, sub_keys;
  if (!SplitKeys(g_root_path, &root_keys) || !SplitKeys(sub_path ? sub_path : "", &sub_keys))
    return false;
  if (root_keys.size() + sub_keys.size() > kMaxKeysPerPath) return false;
  if (g_folder.empty()) return false;
  *folder = g_folder;
  for (const std::string& key : sub_keys) *folder += "/" + key;
  return true;
}

bool ParseEntries(const std::string& contents, std::vector<Entry>* entries) {
  size_t pos = 0;
  while (pos < contents.size()) {
    size_t end = contents.find('\n', pos);
    if (end == std::string::npos) end = contents.size();
    std::string_view line(contents.data() + pos, end - pos);
    pos = end + 1;
    size_t tab1 = line.find('\t');
    size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) continue;  // garbled line: ignored
    Entry entry;
    entry.kind = std::string(line.substr(0, tab1));
    if (!Unescape(line.substr(tab1 + 1, tab2 - tab1 - 1), &entry.name)) continue;
    if (!Unescape(line.substr(tab2 + 1), &entry.value)) entry.kind = "garbled";
    entries->push_back(std::move(entry));
  }
  return true;
}

bool LoadEntries(const std::string& folder, std::vector<Entry>* entries) {
  std::string contents;
  std::FILE* file = std::fopen((folder + "/" + kValuesFile).c_str(), "rb");
  if (!file) return false;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) contents.append(chunk, got);
  std::fclose(file);
  return ParseEntries(contents, entries);
}

const Entry* FindEntry(const std::vector<Entry>& entries, const char* name) {
  const Entry* found = nullptr;
  for (const Entry& entry : entries)
    if (entry.name == name) found = &entry;  // the last line wins
  return found;
}

bool MakeFolders(const std::string& folder) {
  std::string partial;
  size_t pos = 0;
  while (pos <= folder.size()) {
    size_t end = folder.find('/', pos);
    if (end == std::string::npos) end = folder.size();
    partial = folder.substr(0, end);
    pos = end + 1;
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int StoreValue(const char* sub_path, const char* name, const char* kind, const std::string& value) {
  std::string folder;
  if (!name || !KeyFolder(sub_path, &folder) || !MakeFolders(folder)) return -1;
  std::vector<Entry> entries;
  LoadEntries(folder, &entries);
  std::string contents;
  for (const Entry& entry : entries) {
    if (entry.name == name || entry.kind == "garbled") continue;
    contents += entry.kind + "\t" + Escape(entry.name) + "\t" + Escape(entry.value) + "\n";
  }
  contents += std::string(kind) + "\t" + Escape(name) + "\t" + Escape(value) + "\n";
  return WriteWholeFileAtomic(folder + "/" + kValuesFile, contents);
}

bool ParseStoredNumber(const std::string& text, int32_t* value) {
  // Eleven bytes hold every 32-bit spelling with its sign.
  int64_t number = 0;
  if (text.size() > 11 || !ParseNumber(text, &number)) return false;
  // A DWORD holds 32 bits: accept both the signed and the unsigned spelling.
  if (number < INT32_MIN || number > static_cast<int64_t>(UINT32_MAX)) return false;
  *value = static_cast<int32_t>(static_cast<uint32_t>(number));
  return true;
}

}  // namespace

std::string DefaultSettingsFolder() {
  const char* explicit_folder = std::getenv("VJ_SETTINGS_DIR");
  if (explicit_folder && *explicit_folder) return explicit_folder;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/halvane/vj";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/halvane/vj";
}

void SetSettingsFolder(const std::string& folder) {
  g_folder = folder;
  if (!g_folder.empty() && g_folder[0] != '/') {
    // Relative to where the program was started, never to the show root.
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) g_folder = std::string(cwd) + "/" + g_folder;
  }
  while (g_folder.size() > 1 && g_folder.back() == '/') g_folder.pop_back();
}

const std::string& SettingsFolder() { return g_folder; }

bool OpenSettingsRoot(const char* path) {
  if (!path || std::strlen(path) > kMaxRootPath) return false;
  g_root_path = path;
  if (g_folder.empty()) SetSettingsFolder(DefaultSettingsFolder());
  std::string folder;
  if (!KeyFolder("", &folder)) return false;
  struct stat st {};
  // Full access, as the writes need it.
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         access(folder.c_str(), R_OK | W_OK | X_OK) == 0;
}

bool ReadSettingNumber(const char* sub_path, const char* name, int32_t* value) {
  std::string folder;
  std::vector<Entry> entries;
  if (!name || !value || !KeyFolder(sub_path, &folder) || !LoadEntries(folder, &entries)) return false;
  const Entry* entry = FindEntry(entries, name);
  int32_t parsed;
  if (!entry || entry->kind != "number" || !ParseStoredNumber(entry->value, &parsed)) return false;
  *value = parsed;
  return true;
}

int WriteSettingNumber(const char* sub_path, const char* name, int32_t value) {
  return StoreValue(sub_path, name, "number", std::to_string(value));
}

bool ReadSettingText(const char* sub_path, const char* name, char* buffer, size_t capacity) {
  if (capacity != 0 && buffer) buffer[0] = '\0';
  std::string folder;
  std::vector<Entry> entries;
  if (!name || !buffer || !KeyFolder(sub_path, &folder) || !LoadEntries(folder, &entries)) return false;
  const Entry* entry = FindEntry(entries, name);
  if (!entry || entry->kind != "text") return false;
  if (entry->value.find('\0') != std::string::npos) return false;
  if (entry->value.size() + 1 > capacity) return false;
  std::memcpy(buffer, entry->value.c_str(), entry->value.size() + 1);
  return true;
}

int WriteSettingText(const char* sub_path, const char* name, const char* text) {
  if (!text) return -1;
  return StoreValue(sub_path, name, "text", text);
}

}  // namespace core

// File layer.
//
// The data trees were authored for a case-insensitive file system: scripts
// upper-case file names and the path utilities lower-case them. Linux is case
// sensitive, so every open, write and listing resolves a path component by
// component: the exact spelling wins, otherwise the first entry of the folder
// (in sorted order) that equals it ASCII case-insensitively. New files keep
// the caller's spelling.
//
// Relative paths resolve against a base folder: the show root, or an effect's
// own folder while that effect loads. "data/..." files missing from the show
// root come from the installation's data/ folder.
#include "app/core/core.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace core {
namespace {

std::string g_show_root;
std::string g_install_root;
std::vector<std::string> g_base_stack;

struct Listing {
  std::string directory;  // as remembered, with the extra '/'
  std::vector<std::string> names;
  size_t next = 0;
  bool active = false;
} g_listing;

bool PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Entries of a folder, sorted by bytes; "." and ".." included.
bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  names->clear();
  while (dirent* entry = readdir(dir)) names->emplace_back(entry->d_name);
  closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

// Finds the entry of `folder` matching `name` without regard to ASCII case.
bool MatchComponent(const std::string& folder, const std::string& name, std::string* match) {
  std::vector<std::string> names;
  if (!ListFolder(folder, &names)) return false;
  int found = 0;
  for (const std::string& candidate : names) {
    if (!AsciiEqualNoCase(candidate, name)) continue;
    if (found == 0) *match = candidate;
    ++found;
  }
  if (found > 1)
    Trace("FILES: %d case variants of %s in %s, using %s\n", found, name.c_str(),
          folder.empty() ? "." : folder.c_str(), match->c_str());
  return found > 0;
}

bool ResolveFrom(const std::string& start, const std::string& relative, std::string* out,
                 bool for_writing) {
  std::string current = start;
  size_t pos = 0;
  bool trailing_slash = !relative.empty() && relative.back() == '/';
  while (pos <= relative.size()) {
    size_t end = relative.find('/', pos);
    if (end == std::string::npos) end = relative.size();
    std::string component = relative.substr(pos, end - pos);
    bool last = relative.find_first_not_of('/', end) == std::string::npos;
    pos = end + 1;
    if (component.empty()) {
      if (end >= relative.size()) break;
      continue;
    }
    std::string exact = JoinPath(current, component);
    if (component == "." || component == ".." || PathExists(exact)) {
      current = exact;
    } else {
      std::string match;
      if (MatchComponent(current, component, &match)) {
        current = JoinPath(current, match);
      } else if (last && for_writing) {
        current = exact;
      } else {
        return false;
      }
    }
    if (last) break;
  }
  if (trailing_slash && (current.empty() || current.back() != '/')) current += '/';
  *out = current;
  return true;
}

bool StartsWithDataFolder(const std::string& path) {
  return path.size() >= 5 && AsciiEqualNoCase(std::string_view(path).substr(0, 5), "data/");
}

}  // namespace

// ---------------------------------------------------------------------------

int StartFileLayer(const std::string& root, const std::string& install_root) {
  g_show_root = NormalizeSeparators(root);
  while (g_show_root.size() > 1 && g_show_root.back() == '/') g_show_root.pop_back();
  g_install_root = NormalizeSeparators(install_root);
  while (g_install_root.size() > 1 && g_install_root.back() == '/') g_install_root.pop_back();
  g_base_stack.clear();
  g_listing = Listing();
  return 0;
}

int StopFileLayer() {
  g_base_stack.clear();
  g_listing = Listing();
  return 0;
}

const std::string& ShowRoot() { return g_show_root; }
const std::string& InstallRoot() { return g_install_root; }

void PushBaseFolder(const std::string& folder) {
  std::string resolved;
  std::string normalized = NormalizeSeparators(folder);
  if (!normalized.empty() && normalized[0] == '/') {
    if (!ResolveFrom("/", normalized.substr(1), &resolved, false)) resolved = normalized;
  } else if (!ResolveFrom(CurrentBaseFolder(), normalized, &resolved, false)) {
    resolved = JoinPath(CurrentBaseFolder(), normalized);
  }
  while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
  g_base_stack.push_back(resolved);
}

void PopBaseFolder() {
  if (!g_base_stack.empty()) g_base_stack.pop_back();
}

std::string CurrentBaseFolder() {
  return g_base_stack.empty() ? g_show_root : g_base_stack.back();
}

std::string NormalizeSeparators(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  bool in_separator = false;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!in_separator) out.push_back('/');
      in_separator = true;
    } else {
      out.push_back(c);
      in_separator = false;
    }
  }
  return out;
}

std::string NormalizePath(std::string_view path) { return AsciiToLower(NormalizeSeparators(path)); }

bool ResolvePath(std::string_view path, std::string* disk_path, bool for_writing) {
  std::string normalized = NormalizeSeparators(path);
  if (!normalized.empty() && normalized[0] == '/')
    return ResolveFrom("/", normalized.substr(1), disk_path, for_writing);
  if (ResolveFrom(CurrentBaseFolder(), normalized, disk_path, for_writing)) return true;
  // Reading a data file the show does not have: take the installation's.
  if (!for_writing && g_base_stack.empty() && !g_install_root.empty() &&
      g_install_root != g_show_root && StartsWithDataFolder(normalized))
    return ResolveFrom(g_install_root, normalized, disk_path, false);
  return false;
}

bool FileExists(std::string_view path) {
  std::string disk;
  struct stat st {};
  return ResolvePath(path, &disk) && stat(disk.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(std::string_view path) {
  std::string disk;
  return ResolvePath(path, &disk) && IsDirectory(disk);
}

// ---------------------------------------------------------------------------

File::~File() {
  if (stream_) std::fclose(stream_);
  if (!temp_path_.empty()) unlink(temp_path_.c_str());
}

size_t File::Read(void* buffer, size_t size, size_t count) {
  return stream_ ? std::fread(buffer, size, count, stream_) : 0;
}

size_t File::Write(const void* buffer, size_t size, size_t count) {
  return stream_ ? std::fwrite(buffer, size, count, stream_) : 0;
}

long File::Tell() { return stream_ ? std::ftell(stream_) : -1; }

int File::Seek(long offset, int origin) { return stream_ ? std::fseek(stream_, offset, origin) : -1; }

int File::WriteText(const char* text) {
  if (!stream_) return -1;
  return std::fputs(text, stream_) < 0 ? -1 : 0;
}

int File::Flush() { return stream_ ? std::fflush(stream_) : -1; }

bool File::ReadLine(char* buffer, size_t capacity) {
  if (!stream_ || capacity == 0) return false;
  if (capacity > static_cast<size_t>(INT_MAX)) capacity = INT_MAX;
  return std::fgets(buffer, static_cast<int>(capacity), stream_) != nullptr;
}

int File::Commit() {
  if (!stream_ || temp_path_.empty()) return -1;
  // A write that failed earlier (disk full, file too large) leaves the
  // stream's error flag set even when the final flush succeeds.
  bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
  ok = (std::fclose(stream_) == 0) && ok;
  stream_ = nullptr;
  if (ok) ok = std::rename(temp_path_.c_str(), disk_path_.c_str()) == 0;
  if (!ok) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
    return -1;
  }
  temp_path_.clear();
  // Make the rename itself durable.
  std::string folder = disk_path_.substr(0, disk_path_.find_last_of('/') + 1);
  int dir_fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return 0;
}

void FileCloser::operator()(File* file) const { CloseFile(file); }

File* OpenDataFile(const char* path, const char* mode) {
  if (!path || !mode) return nullptr;
  bool writing = std::strpbrk(mode, "wa") != nullptr;
  std::string disk;
  if (!ResolvePath(path, &disk, writing)) return nullptr;
  std::FILE* stream = std::fopen(disk.c_str(), mode);
  if (!stream) return nullptr;
  File* file = new File();
  file->stream_ = stream;
  file->disk_path_ = disk;
  return file;
}

File* OpenMemoryFile(const void* data, size_t size, const char* name) {
  if (!data && size > 0) return nullptr;
  static const char kEmpty = 0;
  // Opened read-only, so the buffer is never written through the cast.
  std::FILE* stream = fmemopen(const_cast<void*>(data ? data : &kEmpty), size, "rb");
  if (!stream) return nullptr;
  File* file = new File();
  file->stream_ = stream;
  file->disk_path_ = name ? name : "(memory)";
  return file;
}

File* OpenAtomicFile(const char* path) {
  if (!path) return nullptr;
  std::string disk;
  if (!ResolvePath(path, &disk, true)) return nullptr;
  if (disk.empty() || disk.back() == '/') return nullptr;
  std::string temp = disk + ".tmp-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return nullptr;
  struct stat st {};
  mode_t mode;
  if (stat(disk.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  std::FILE* stream = fdopen(fd, "wb");
  if (!stream) {
    close(fd);
    unlink(temp.c_str());
    return nullptr;
  }
  File* file = new File();
  file->stream_ = stream;
  file->disk_path_ = disk;
  file->temp_path_ = temp;
  return file;
}

void CloseFile(File* file) { delete file; }

bool ReadWholeFile(std::string_view path, std::string* contents) {
  FilePtr file(OpenDataFile(std::string(path).c_str(), "rb"));
  if (!file) return false;
  contents->clear();
  char chunk[65536];
  size_t got;
  while ((got = file->Read(chunk, 1, sizeof chunk)) > 0) contents->append(chunk, got);
  return true;
}

int WriteWholeFileAtomic(std::string_view path, std::string_view contents) {
  FilePtr file(OpenAtomicFile(std::string(path).c_str()));
  if (!file) return -1;
  if (!contents.empty() && file->Write(contents.data(), 1, contents.size()) != contents.size()) return -1;
  return file->Commit();
}

int DeleteFile(std::string_view path) {
  std::string disk;
  if (!ResolvePath(path, &disk)) return -1;
  struct stat st {};
  if (lstat(disk.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return unlink(disk.c_str()) == 0 ? 0 : -1;
}

int MakeFolders(std::string_view path) {
  std::string normalized = NormalizeSeparators(path);
  if (normalized.empty()) return -1;
  // Built in one go: GCC 12 warns (-Wrestrict, a false positive) about
  // assigning a literal to a string that held the base folder.
  const bool absolute = normalized[0] == '/';
  std::string current = absolute ? std::string(1, '/') : CurrentBaseFolder();
  size_t pos = absolute ? 1 : 0;
  while (pos < normalized.size()) {
    size_t end = normalized.find('/', pos);
    if (end == std::string::npos) end = normalized.size();
    std::string component = normalized.substr(pos, end - pos);
    pos = end + 1;
    if (component.empty()) continue;
    std::string exact = JoinPath(current, component);
    std::string match;
    if (component == "." || component == ".." || PathExists(exact)) {
      current = exact;
    } else if (MatchComponent(current, component, &match)) {
      current = JoinPath(current, match);
    } else {
      if (mkdir(exact.c_str(), 0777) != 0 && errno != EEXIST) return -1;
      current = exact;
    }
    if (!IsDirectory(current)) return -1;
  }
  return IsDirectory(current.empty() ? "." : current) ? 0 : -1;
}

// ---------------------------------------------------------------------------

bool FindFirst(const char* directory, const char* pattern) {
  g_listing = Listing();
  std::string remembered = NormalizeSeparators(directory ? directory : "");
  g_listing.directory = remembered + "/";
  std::string disk;
  std::vector<std::string> names;
  if (!ResolvePath(remembered.empty() ? "." : remembered, &disk) || !IsDirectory(disk) ||
      !ListFolder(disk, &names))
    return false;
  std::string_view glob = pattern ? pattern : "*";
  for (std::string& name : names)
    if (MatchPatternNoCase(glob, name)) g_listing.names.push_back(std::move(name));
  g_listing.active = !g_listing.names.empty();
  return g_listing.active;
}

bool FindNext(std::string* path) {
  if (!g_listing.active || g_listing.next >= g_listing.names.size()) {
    g_listing = Listing();
    return false;
  }
  *path = g_listing.directory + g_listing.names[g_listing.next++];
  return true;
}

std::string BaseName(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  std::string_view tail = separator == std::string_view::npos ? path : path.substr(separator + 1);
  size_t dot = tail.find_last_of('.');
  return std::string(dot == std::string_view::npos ? tail : tail.substr(0, dot));
}

std::string StripExtension(std::string_view path) {
  size_t dot = path.find_last_of('.');
  return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

std::string Extension(std::string_view path) {
  size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos) return std::string();
  size_t separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos && separator > dot) return std::string();
  return std::string(path.substr(dot + 1));
}

std::string ExecutableFolder() {
  std::string buffer(4096, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return ".";
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  size_t slash = buffer.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

}  // namespace core

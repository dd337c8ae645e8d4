// Application core: the services every other module may use.
//
//   files     case-insensitive paths over a case-sensitive file system,
//             sorted listings, atomic replacement of whole files
//   settings  the small persistent key/value store (window positions, ...)
//   messages  error boxes before start-up has finished, the run-time
//             message sink afterwards, and the trace
//   clocks    program time from a fixed epoch, replaceable in tests
//   text      ASCII-only case mapping and locale-free number parsing
//
// Nothing here knows about formats, devices or effects.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace core {

// ---------------------------------------------------------------------------
// ASCII helpers. Case mapping never consults the locale and works on
// unsigned bytes, so bytes >= 0x80 pass through unchanged.
// ---------------------------------------------------------------------------
inline char AsciiUpper(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<char>(u - 'a' + 'A') : c;
}
inline char AsciiLower(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<char>(u - 'A' + 'a') : c;
}
std::string AsciiToUpper(std::string_view text);
std::string AsciiToLower(std::string_view text);
bool AsciiEqualNoCase(std::string_view a, std::string_view b);
// Glob match with '*' and '?', ASCII case-insensitive.
bool MatchPatternNoCase(std::string_view pattern, std::string_view name);

// printf into a std::string (no fixed buffer).
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args);

// The program's message texts: formatted into 1024 bytes (at most 1023
// characters, always terminated; empty when the formatting fails).
inline constexpr size_t kMessageCapacity = 1024;
std::string FormatMessageV(const char* format, va_list args);

// ---------------------------------------------------------------------------
// Clocks. Program time counts seconds from kClockEpoch at program start, in
// double precision, so rules that read time 0 as "long ago" still hold and
// days of uptime keep sub-millisecond resolution.
// ---------------------------------------------------------------------------
inline constexpr double kClockEpoch = 1000.0;

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since program start plus kClockEpoch.
  virtual double Seconds() = 0;
  // Pause the caller; an injected clock returns at once.
  virtual void Sleep(double seconds) = 0;
};

// The wall clock (monotonic), starting at kClockEpoch when constructed.
class RealClock final : public Clock {
 public:
  RealClock();
  double Seconds() override;
  void Sleep(double seconds) override;

 private:
  int64_t start_ns_;
};

// A clock that only moves when told to: tests and fixed-rate offline runs.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(double start = kClockEpoch) : now_(start) {}
  double Seconds() override { return now_; }
  void Sleep(double) override {}
  void Set(double seconds) { now_ = seconds; }
  void Advance(double seconds) { now_ += seconds; }

 private:
  double now_;
};

// The clock everything reads. Defaults to a RealClock made at first use.
Clock& ProgramClock();
// Replaces the program clock; nullptr restores the real one. The caller
// keeps ownership and must keep the clock alive while it is installed.
void SetProgramClock(Clock* clock);
inline double NowSeconds() { return ProgramClock().Seconds(); }
// Program milliseconds, as the unsigned counter the frame-rate report uses.
inline uint32_t NowMilliseconds() {
  return static_cast<uint32_t>(static_cast<uint64_t>(NowSeconds() * 1000.0));
}
inline void SleepSeconds(double seconds) { ProgramClock().Sleep(seconds); }

// ---------------------------------------------------------------------------
// Trace, error box and the run-time message sink.
// ---------------------------------------------------------------------------

// Diagnostic lines. Discarded unless a trace file was set. Lines are
// buffered (any thread may trace) and reach the file on FlushTrace, when
// the buffer fills, when the file is changed or closed, and on a fatal
// signal (FlushTraceFromSignal).
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Points the trace at a file (appending); empty path or nullptr discards.
// Returns 0, or -1 when the file cannot be opened (the trace then discards).
int SetTraceFile(const char* path);
bool TraceEnabled();
// Writes what is buffered. The frame loop calls it once per frame.
void FlushTrace();
// For a fatal-signal handler: writes the buffer with write(2), taking no
// lock (a crash inside Trace may lose the line being written).
void FlushTraceFromSignal();

// Formats into 1024 bytes. Before MarkStartupFinished(): a modal box
// captioned "ERROR" (unless dialogs are disabled) and stderr. Afterwards:
// the run-time message sink, which never blocks.
void ShowError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A modal box with the given caption (also written to stderr); stderr only
// when dialogs are disabled. Used directly for "QeAppInit() Failed".
void ShowMessageBox(const char* caption, const char* text);

// Dialogs are off with VJ_NO_DIALOGS set, with no display, or when the
// program runs headless.
void SetDialogsDisabled(bool disabled);
bool DialogsEnabled();

// After this, ShowError never opens a modal box.
void MarkStartupFinished(bool finished = true);
bool StartupFinished();

// While one lives, every message ShowError and RaiseRuntimeMessage raise
// starts with `prefix` ("Effect TUNNEL: " while that effect loads), so the
// performer knows what a message is about. Contexts nest; the innermost
// wins.
class MessageContext {
 public:
  explicit MessageContext(std::string prefix);
  ~MessageContext();
  MessageContext(const MessageContext&) = delete;
  MessageContext& operator=(const MessageContext&) = delete;

 private:
  std::string previous_;
};

// `text` made fit for a log line: control bytes and bytes above 0x7e
// written as \xNN, cut to `max_chars` characters with "..." at the end.
std::string PrintableText(std::string_view text, size_t max_chars = 200);

// Run-time messages: stderr, the trace, and the listener (the Server's log).
// A text identical to one raised within the last 5 s is not passed on again.
using MessageListener = std::function<void(const std::string& text)>;
void SetMessageListener(MessageListener listener);
void RaiseRuntimeMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Forgets the remembered texts (tests).
void ResetRuntimeMessages();

// ---------------------------------------------------------------------------
// Threads. std::thread throws std::system_error when the system refuses a
// thread; these catch it at the boundary and return -1 instead.
// ---------------------------------------------------------------------------
// Starts `body` on `*thread` (which must not hold a running thread). 0 or -1.
int StartThread(std::thread* thread, std::function<void()> body);
// Starts `body` on a detached thread. 0 or -1.
int StartDetachedThread(std::function<void()> body);
// Tests: the next `count` thread starts fail as if the system refused them.
void FailNextThreadStarts(int count);
// Lets the calling thread yield the processor to the frame thread and the
// GL driver's threads (background work: decoding files for loads). Best
// effort; nothing happens where the system does not allow it.
void LowerThisThreadsPriority();

// ---------------------------------------------------------------------------
// File layer. Paths are case-insensitive: each component that does not exist
// with the exact spelling is matched ASCII case-insensitively against its
// folder's entries (exact spelling first, then the first case variant in
// sorted order). Relative paths resolve against the current base folder.
// ---------------------------------------------------------------------------

class File {
 public:
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  size_t Read(void* buffer, size_t size, size_t count);
  size_t Write(const void* buffer, size_t size, size_t count);
  long Tell();
  int Seek(long offset, int origin);
  // Writes the text verbatim ('%' is not special). Returns 0 or -1.
  int WriteText(const char* text);
  int Flush();
  // Reads at most capacity - 1 bytes up to and including a line end.
  // Returns false at the end of the file.
  bool ReadLine(char* buffer, size_t capacity);
  // The resolved path on disk.
  const std::string& DiskPath() const { return disk_path_; }
  // Atomic writes: the data lands only when Commit() succeeds.
  int Commit();

 private:
  friend File* OpenDataFile(const char*, const char*);
  friend File* OpenAtomicFile(const char*);
  friend File* OpenMemoryFile(const void*, size_t, const char*);
  File() = default;
  std::FILE* stream_ = nullptr;
  std::string disk_path_;
  std::string temp_path_;  // set for atomic writes until committed
};

struct FileCloser {
  void operator()(File* file) const;
};
using FilePtr = std::unique_ptr<File, FileCloser>;

// Starts the layer. `root` is the show folder that relative paths resolve
// against (empty = the current directory); `install_root` is where a missing
// "data/..." file is looked up as a fallback (empty = none).
int StartFileLayer(const std::string& root, const std::string& install_root = "");
int StopFileLayer();
const std::string& ShowRoot();
const std::string& InstallRoot();

// Relative paths resolve against the top of the base-folder stack (the show
// root when empty). Loading an effect pushes its folder.
void PushBaseFolder(const std::string& folder);
void PopBaseFolder();
std::string CurrentBaseFolder();

// Lower-case copy with runs of '/' and '\' made one '/'.
std::string NormalizePath(std::string_view path);
// Separator normalisation only (keeps the caller's spelling).
std::string NormalizeSeparators(std::string_view path);

// Resolves a path to its spelling on disk. With `for_writing` the last
// component may be missing (it is created with the caller's spelling).
// Returns false when a folder along the way does not exist.
bool ResolvePath(std::string_view path, std::string* disk_path, bool for_writing = false);
bool FileExists(std::string_view path);
bool FolderExists(std::string_view path);

// Opens with a standard mode text ("rb", "wt", ...). nullptr on failure.
File* OpenDataFile(const char* path, const char* mode);
// Reads `size` bytes at `data` as a file opened "rb" (the bytes are not
// copied and must outlive the file); `name` stands in for the disk path in
// messages. Readers that take a File read memory this way (decoding
// buffers that never were files, fuzzing). nullptr on failure.
File* OpenMemoryFile(const void* data, size_t size, const char* name);
// Opens a unique temporary file beside `path` for writing; Commit() flushes,
// syncs and renames it over `path` (as the file system spells it), closing
// without Commit() discards it. nullptr on failure.
File* OpenAtomicFile(const char* path);
void CloseFile(File* file);
// Whole-file helpers over the same resolution rules.
bool ReadWholeFile(std::string_view path, std::string* contents);
int WriteWholeFileAtomic(std::string_view path, std::string_view contents);
// Removes one file (never a folder). 0, or -1 when it does not resolve, is
// not a file or cannot be removed.
int DeleteFile(std::string_view path);
// Creates every missing folder of `path` (components that exist in another
// case are used as they are). 0 when the whole path is a folder afterwards.
int MakeFolders(std::string_view path);

// One listing at a time, entries sorted by name (bytes), "." and ".."
// included. Yields directory + "/" + entry name as the file system spells it.
bool FindFirst(const char* directory, const char* pattern);
bool FindNext(std::string* path);

std::string BaseName(std::string_view path);
std::string StripExtension(std::string_view path);
std::string Extension(std::string_view path);

// The folder holding the running executable (with no trailing '/').
std::string ExecutableFolder();

// ---------------------------------------------------------------------------
// Settings store: keys are folders, each key's values live in one small text
// file of typed entries. The root key path maps to one folder on disk.
// ---------------------------------------------------------------------------
inline constexpr const char* kSettingsRootPath = "software/halvane/vj/";

// The folder the root key maps to: --settings-dir, else $VJ_SETTINGS_DIR,
// else $XDG_CONFIG_HOME/halvane/vj (~/.config/halvane/vj).
std::string DefaultSettingsFolder();
void SetSettingsFolder(const std::string& folder);
const std::string& SettingsFolder();

bool OpenSettingsRoot(const char* path);
bool ReadSettingNumber(const char* sub_path, const char* name, int32_t* value);
int WriteSettingNumber(const char* sub_path, const char* name, int32_t value);
bool ReadSettingText(const char* sub_path, const char* name, char* buffer, size_t capacity);
int WriteSettingText(const char* sub_path, const char* name, const char* text);

}  // namespace core
#include "app/core/array.h"    // GrowableArray
#include "app/core/numbers.h"  // ScanNumber, ParseNumber
#include "app/core/pool.h"     // ObjectPool

#include "app/core/window.h"

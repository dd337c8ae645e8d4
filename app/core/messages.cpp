// Error box, run-time message sink and trace.
//
// Before start-up has finished a failing step may stop the program and a
// modal box is the right way to tell the performer. Once the show runs, a
// modal box would freeze the output, so every message goes through the sink:
// stderr, the trace and the listener (the Server's log), at most once per
// identical text every five seconds, because a script replayed every frame
// would otherwise raise the same text sixty times a second.
#include "app/core/core.h"
#include "app/core/message_box.h"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace core {
namespace {

// The trace: a file descriptor and a fixed buffer, so the fatal-signal
// path can write it out without stdio or allocation.
constexpr size_t kTraceBufferBytes = 64 * 1024;
std::mutex g_trace_mutex;
int g_trace_fd = -1;
char g_trace_buffer[kTraceBufferBytes];
size_t g_trace_used = 0;
bool g_dialogs_disabled = false;
bool g_startup_finished = false;
MessageListener g_listener;
std::map<std::string, double> g_recent;  // text -> time last passed on
std::string g_context;                   // prefix of the innermost MessageContext

constexpr double kRepeatWindow = 5.0;

void DeliverRuntimeMessage(const std::string& text) {
  double now = NowSeconds();
  for (auto it = g_recent.begin(); it != g_recent.end();) {
    if (now - it->second >= kRepeatWindow) it = g_recent.erase(it);
    else ++it;
  }
  if (g_recent.count(text)) return;
  g_recent[text] = now;
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  Trace("MESSAGE: %s\n", text.c_str());
  if (g_listener) g_listener(text);
}

}  // namespace

namespace {

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written <= 0) return;  // a full disk loses trace lines, nothing more
    data += written;
    size -= static_cast<size_t>(written);
  }
}

// With g_trace_mutex held.
void FlushTraceLocked() {
  if (g_trace_fd >= 0 && g_trace_used > 0) WriteAll(g_trace_fd, g_trace_buffer, g_trace_used);
  g_trace_used = 0;
}

}  // namespace

void Trace(const char* format, ...) {
  std::lock_guard<std::mutex> hold(g_trace_mutex);
  if (g_trace_fd < 0) return;
  for (int attempt = 0; attempt < 2; ++attempt) {
    va_list args;
    va_start(args, format);
    const size_t room = kTraceBufferBytes - g_trace_used;
    int length = std::vsnprintf(g_trace_buffer + g_trace_used, room, format, args);
    va_end(args);
    if (length < 0) return;
    if (static_cast<size_t>(length) < room) {
      g_trace_used += static_cast<size_t>(length);
      return;
    }
    // Too long for what is left: write the buffer out and try once more.
    if (g_trace_used == 0) {
      // Longer than the whole buffer: the line is cut.
      g_trace_used = kTraceBufferBytes - 1;
      FlushTraceLocked();
      return;
    }
    FlushTraceLocked();
  }
}

int SetTraceFile(const char* path) {
  std::lock_guard<std::mutex> hold(g_trace_mutex);
  if (g_trace_fd >= 0) {
    FlushTraceLocked();
    ::close(g_trace_fd);
    g_trace_fd = -1;
  }
  g_trace_used = 0;
  if (!path || !*path) return 0;
  std::FILE* file = std::fopen(path, "a");
  if (!file) return -1;
  g_trace_fd = ::dup(fileno(file));
  std::fclose(file);
  return g_trace_fd >= 0 ? 0 : -1;
}

bool TraceEnabled() {
  std::lock_guard<std::mutex> hold(g_trace_mutex);
  return g_trace_fd >= 0;
}

void FlushTrace() {
  std::lock_guard<std::mutex> hold(g_trace_mutex);
  FlushTraceLocked();
}

void FlushTraceFromSignal() {
  if (g_trace_fd >= 0 && g_trace_used > 0 && g_trace_used <= kTraceBufferBytes)
    WriteAll(g_trace_fd, g_trace_buffer, g_trace_used);
  g_trace_used = 0;
}

void SetDialogsDisabled(bool disabled) { g_dialogs_disabled = disabled; }

bool DialogsEnabled() {
  if (g_dialogs_disabled) return false;
  if (std::getenv("VJ_NO_DIALOGS")) return false;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

void MarkStartupFinished(bool finished) { g_startup_finished = finished; }
bool StartupFinished() { return g_startup_finished; }

void ShowMessageBox(const char* caption, const char* text) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
  Trace("%s: %s\n", caption, text);
  if (DialogsEnabled()) PresentModalErrorBox(caption, text);
}

MessageContext::MessageContext(std::string prefix) : previous_(std::move(g_context)) { g_context = std::move(prefix); }
MessageContext::~MessageContext() { g_context = std::move(previous_); }

std::string PrintableText(std::string_view text, size_t max_chars) {
  std::string out;
  out.reserve(text.size());
  size_t shown = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (shown >= max_chars) {
      out += "...";
      break;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // A trailing line end belongs to the message, not to its text.
    if (c == '\n' && i + 1 == text.size()) break;
    if (c < 0x20 || c > 0x7e) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    ++shown;
  }
  return out;
}

void ShowError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = g_context + FormatMessageV(format, args);
  va_end(args);
  if (g_startup_finished) {
    DeliverRuntimeMessage(text);
    return;
  }
  ShowMessageBox("ERROR", text.c_str());
}

void SetMessageListener(MessageListener listener) { g_listener = std::move(listener); }

void RaiseRuntimeMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = g_context + FormatMessageV(format, args);
  va_end(args);
  DeliverRuntimeMessage(text);
}

void ResetRuntimeMessages() { g_recent.clear(); }

}  // namespace core

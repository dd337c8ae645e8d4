// Tag writer: one output file and one nesting depth for the whole program.
#include "text/text.h"

#include <cstring>

namespace text {
namespace {

core::File* g_output = nullptr;
int g_depth = 0;

// A line is formatted in full before anything is written, so a line that
// does not fit leaves the file untouched rather than cut short.
constexpr size_t kLineBytes = 4096;

void WriteTabs(int count) {
  static const char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  constexpr int kChunk = static_cast<int>(sizeof kTabs) - 1;
  while (count > 0) {
    int n = count < kChunk ? count : kChunk;
    g_output->Write(kTabs, 1, static_cast<size_t>(n));
    count -= n;
  }
}

}  // namespace

void SetTagOutput(core::File* file) { g_output = file; }
void ClearTagOutput() { g_output = nullptr; }
int TagDepth() { return g_depth; }

int WriteTag(int level, const char* name, bool open) {
  if (!name) return -1;
  if (std::strpbrk(name, "<>/")) return 0;
  if (!g_output || (open && name[0] == '\0')) return -1;
  char line[kLineBytes];
  int length = std::snprintf(line, sizeof line, open ? "<%s>\n" : "</%s>\n", name);
  if (length < 0 || static_cast<size_t>(length) >= sizeof line) return -1;
  WriteTabs(open ? level : level - 1);
  g_output->Write(line, 1, static_cast<size_t>(length));
  g_depth += open ? 1 : -1;
  return 0;
}

int WriteTagValue(int level, const char* format, ...) {
  if (!format || !g_output) return -1;
  char line[kLineBytes];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0 || static_cast<size_t>(length) >= sizeof line) return -1;
  WriteTabs(level);
  g_output->Write(line, 1, static_cast<size_t>(length));
  return 0;
}

}  // namespace text

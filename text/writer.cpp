// Tag writer: indented tag text into one file per writer.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text/text.h"

namespace text {
namespace {

// A line is formatted in full before anything is written, so a line that
// does not fit leaves the file untouched rather than cut short.
constexpr size_t kLineBytes = 4096;

}  // namespace

void TagWriter::WriteTabs(int count) {
  static const char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  constexpr int kChunk = static_cast<int>(sizeof kTabs) - 1;
  while (count > 0) {
    int n = count < kChunk ? count : kChunk;
    file_->Write(kTabs, 1, static_cast<size_t>(n));
    count -= n;
  }
}

int TagWriter::WriteTag(const char* name, bool open) {
  if (!name) return -1;
  if (std::strpbrk(name, "<>/")) return 0;
  if (!file_ || (open && name[0] == '\0')) return -1;
  char line[kLineBytes];
  int length = std::snprintf(line, sizeof line, open ? "<%s>\n" : "</%s>\n", name);
  if (length < 0 || static_cast<size_t>(length) >= sizeof line) return -1;
  WriteTabs(open ? depth_ : depth_ - 1);
  file_->Write(line, 1, static_cast<size_t>(length));
  depth_ += open ? 1 : -1;
  return 0;
}

int TagWriter::Value(const char* format, ...) {
  if (!format || !file_) return -1;
  char line[kLineBytes];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0 || static_cast<size_t>(length) >= sizeof line) return -1;
  WriteTabs(depth_);
  file_->Write(line, 1, static_cast<size_t>(length));
  return 0;
}

}  // namespace text

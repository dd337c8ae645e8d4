// Helpers shared by the tests: temporary folders, files, child processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);  // sorted, no "." / ".."

struct ChildResult {
  int exit_code = -1;   // exit status, or -1 when killed by a signal
  int signal = 0;       // the signal that ended it, if any
  bool timed_out = false;
  std::string out;
  std::string err;
};

// A child process with its output captured into files.
class Child {
 public:
  // `env` entries are "NAME=value" added to (or replacing in) the environment.
  // Unless VJ_PORT is set, the child gets VJ_PORT=0: a Server takes any free
  // port, so test programs running at once never fight over one.
  Child(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
  ~Child();
  int pid() const { return pid_; }
  void Signal(int sig);
  // Waits up to `seconds` of wall time for the child to end (then kills it).
  ChildResult Wait(double seconds);
  // Current captured output so far.
  std::string Stdout() const;
  std::string Stderr() const;

 private:
  int pid_ = -1;
  TempDir dir_;
  bool reaped_ = false;
  ChildResult result_;
};

// Runs to completion (killing after `seconds`).
ChildResult RunChild(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     double seconds = 60.0);

// Polls `ready` every few milliseconds until it returns true or `seconds`
// of wall time pass. For waiting on another process only.
bool WaitUntil(const std::function<bool()>& ready, double seconds);

// The port from a Server child's "listening on PORT" line, or -1 when the
// line does not come within `seconds`.
int WaitForListeningPort(const Child& child, double seconds = 30.0);

// An 8-bit RGB picture read from a PNG file (any PNG is converted).
struct RgbPng {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};
bool ReadRgbPng(const std::string& path, RgbPng* out);

}  // namespace testing_support

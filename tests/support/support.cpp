#include "tests/support/support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>

extern char** environ;

namespace testing_support {
namespace {

void RemoveTree(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        RemoveTree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

double WallSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void PauseBriefly() {
  timespec ts{0, 5 * 1000 * 1000};
  nanosleep(&ts, nullptr);
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vjtest-XXXXXX";
  char* made = mkdtemp(pattern.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') mkdir(path.substr(0, pos).c_str(), 0755);
  }
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
      return mine.substr(0, mine.find('=')) == name;
    });
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  // Test programs run side by side: a Server child takes any free port
  // unless the test chose one.
  bool port_given = std::getenv("VJ_PORT") != nullptr ||
                    std::any_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("VJ_PORT=", 0) == 0; });
  if (!port_given) environment.push_back("VJ_PORT=0");
  std::string out_path = dir_ / "stdout", err_path = dir_ / "stderr";
  pid_ = fork();
  if (pid_ == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(in, 0);
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
}

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void Child::Signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

std::string Child::Stdout() const { return ReadFile(dir_ / "stdout"); }
std::string Child::Stderr() const { return ReadFile(dir_ / "stderr"); }

ChildResult Child::Wait(double seconds) {
  if (reaped_ || pid_ <= 0) return result_;
  double deadline = WallSeconds() + seconds;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (WallSeconds() > deadline) {
      result_.timed_out = true;
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    PauseBriefly();
  }
  reaped_ = true;
  if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  result_.out = Stdout();
  result_.err = Stderr();
  return result_;
}

ChildResult RunChild(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     double seconds) {
  Child child(args, env);
  return child.Wait(seconds);
}

bool WaitUntil(const std::function<bool()>& ready, double seconds) {
  double deadline = WallSeconds() + seconds;
  while (!ready()) {
    if (WallSeconds() > deadline) return false;
    PauseBriefly();
  }
  return true;
}

int WaitForListeningPort(const Child& child, double seconds) {
  int port = -1;
  WaitUntil(
      [&] {
        std::string out = child.Stdout();
        size_t at = out.find("listening on ");
        size_t end = at == std::string::npos ? at : out.find('\n', at);
        if (end == std::string::npos) return false;
        port = std::atoi(out.substr(at + 13, end - at - 13).c_str());
        return true;
      },
      seconds);
  return port;
}

bool ReadRgbPng(const std::string& path, RgbPng* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = image.width;
  out->height = image.height;
  out->rgb.resize(PNG_IMAGE_SIZE(image));
  bool ok = png_image_finish_read(&image, nullptr, out->rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

}  // namespace testing_support

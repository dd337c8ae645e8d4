// The program with its Client window, as a child process on SDL's
// offscreen video driver: both modes that show the Client start and stop
// cleanly, and the window's position is stored and brought back on screen.
#include <gtest/gtest.h>

#include "tests/support/support.h"

namespace {

using testing_support::ChildResult;
using testing_support::ReadFile;
using testing_support::RunChild;
using testing_support::TempDir;

std::vector<std::string> Env(const TempDir& dir) {
  return {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
          "SDL_AUDIODRIVER=dummy"};
}

std::string RunVj(const TempDir& dir, std::vector<std::string> words) {
  std::vector<std::string> args = {VJ_PROGRAM};
  args.insert(args.end(), words.begin(), words.end());
  args.push_back("--trace=" + dir / "trace");
  ChildResult r = RunChild(args, Env(dir), 60.0);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return ReadFile(dir / "trace");
}

TEST(ClientProgram, ClientOnlyOpensTheWindowAndStoresItsPosition) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  std::string trace = RunVj(dir, {"client", "--frames=5"});
  EXPECT_NE(trace.find("APP: mode client"), std::string::npos);
  EXPECT_NE(trace.find("CLIENT: window"), std::string::npos) << trace;
  std::string settings = ReadFile(dir / "settings/values");
  EXPECT_NE(settings.find("ClientX"), std::string::npos) << settings;
  EXPECT_NE(settings.find("ClientY"), std::string::npos);
}

TEST(ClientProgram, CombinedModeRunsTheClientToo) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  std::string trace = RunVj(dir, {"--frames=5"});
  EXPECT_NE(trace.find("APP: mode combined"), std::string::npos);
  EXPECT_NE(trace.find("CLIENT: window"), std::string::npos);
}

TEST(ClientProgram, ServerOnlyHasNoClientWindow) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  std::string trace = RunVj(dir, {"server", "--frames=3"});
  EXPECT_EQ(trace.find("CLIENT: window"), std::string::npos);
}

TEST(ClientProgram, AWindowStoredOffScreenComesBackOnScreen) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  testing_support::WriteFile(dir / "settings/values", "number\tClientX\t-9000\nnumber\tClientY\t-7000\n");
  std::string trace = RunVj(dir, {"client", "--frames=2"});
  size_t at = trace.find("CLIENT: window");
  ASSERT_NE(at, std::string::npos) << trace;
  std::string line = trace.substr(at, trace.find('\n', at) - at);
  EXPECT_EQ(line.find("-9000"), std::string::npos) << line;
  EXPECT_NE(line.find(" at 32,32"), std::string::npos) << line;
  // The position stored at the end is the one on screen.
  std::string values = ReadFile(dir / "settings/values");
  EXPECT_EQ(values.find("-9000"), std::string::npos) << values;
}

}  // namespace

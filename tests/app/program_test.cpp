// The real program as a child process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <memory>

#include "tests/support/support.h"

using testing_support::Child;
using testing_support::ChildResult;
using testing_support::RunChild;
using testing_support::TempDir;

namespace {

std::vector<std::string> TestEnv(const TempDir& dir) {
  return {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
          "SDL_AUDIODRIVER=dummy"};
}

TEST(Program, HelpPrintsUsage) {
  for (const char* help : {"--help", "-h", "-help", "help"}) {
    SCOPED_TRACE(help);
    ChildResult r = RunChild({VJ_PROGRAM, help});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("usage: vj"), std::string::npos);
  }
}

TEST(Program, AnUnknownWordIsIgnoredWithOneWarning) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult r = RunChild({VJ_PROGRAM, "serevr", "server", "--headless", "--frames=1"}, TestEnv(dir));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("vj: ignoring the unknown word 'serevr'"), std::string::npos) << r.err;
}

TEST(Program, UnknownOptionPrintsUsageAndExits2) {
  TempDir dir;
  ChildResult r = RunChild({VJ_PROGRAM, "--frobnicate"}, TestEnv(dir));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--frobnicate"), std::string::npos);
  EXPECT_NE(r.err.find("usage: vj"), std::string::npos);
}

TEST(Program, MissingSettingsRootFailsWithTheMessage) {
  TempDir dir;
  ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--frames=1"}, TestEnv(dir));
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("Error: Registry hive HKEY_LOCAL_MACHINE/software/halvane/vj/ not initialized!"),
            std::string::npos);
  EXPECT_NE(r.err.find(dir / "settings"), std::string::npos);
}

TEST(Program, SettingsDirOptionWinsOverTheEnvironment) {
  TempDir dir;
  testing_support::MakeDirs(dir / "chosen");
  std::vector<std::string> args = {VJ_PROGRAM, "--headless", "--frames=2", "--settings-dir=" + dir / "chosen"};
  ChildResult r = RunChild(args, TestEnv(dir));  // VJ_SETTINGS_DIR points at a missing folder
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

// Without a sound card, SDL's ALSA driver fails to open the capture device
// and ALSA prints its errors: they belong in the trace, not on stderr.
TEST(Program, AlsaErrorsGoToTheTraceNotToStderr) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--frames=5", "--trace=" + dir / "trace"},
                           {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_AUDIODRIVER=alsa"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("ALSA lib"), std::string::npos) << r.err;
}

// A display that goes away (a desktop session ends, a virtual display is
// stopped) ends the program with a line on stderr; it never leaves a
// process spinning in Xlib that only SIGKILL ends.
TEST(Program, ALostDisplayEndsTheProgram) {
  const std::string xvfb = "/usr/bin/Xvfb";
  if (!testing_support::Exists(xvfb)) GTEST_SKIP() << "Xvfb not installed";
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  // A private display: the first free number from a pid-dependent start.
  std::unique_ptr<Child> display;
  std::string name;
  for (int attempt = 0; attempt < 20 && !display; ++attempt) {
    int number = 300 + (getpid() * 7 + attempt) % 600;
    if (testing_support::Exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
    name = ":" + std::to_string(number);
    auto candidate = std::make_unique<Child>(std::vector<std::string>{xvfb, name, "-nolisten", "tcp", "-screen", "0",
                                                                      "800x600x24"});
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    if (testing_support::WaitUntil([&] { return testing_support::Exists(socket); }, 10.0)) display = std::move(candidate);
  }
  ASSERT_TRUE(display) << "no private display could be started";
  Child vj({VJ_PROGRAM, "server"}, {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "DISPLAY=" + name,
                                     "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy"});
  ASSERT_GT(testing_support::WaitForListeningPort(vj, 30.0), 0) << vj.Stderr();
  display->Signal(SIGKILL);
  display->Wait(10.0);
  ChildResult r = vj.Wait(30.0);  // a hang is killed here and fails below
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("the connection to the display was lost"), std::string::npos) << r.err;
}

TEST(Program, HeadlessRunStopsAfterTheFrames) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--frames=3", "--trace=" + dir / "trace"},
                           TestEnv(dir));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string trace = testing_support::ReadFile(dir / "trace");
  EXPECT_NE(trace.find("APP: mode server"), std::string::npos);
  EXPECT_NE(trace.find("APP: running"), std::string::npos);
}

TEST(Program, SigtermEndsAHeadlessRunCleanly) {
  for (int sig : {SIGTERM, SIGINT}) {
    TempDir dir;
    testing_support::MakeDirs(dir / "settings");
    Child child({VJ_PROGRAM, "--headless", "--trace=" + dir / "trace"}, TestEnv(dir));
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] { return testing_support::ReadFile(dir / "trace").find("APP: running") != std::string::npos; },
        30.0));
    child.Signal(sig);
    ChildResult r = child.Wait(30.0);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
}

TEST(Program, DumpFolderIsCreatedOrTheStartFails) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult ok = RunChild({VJ_PROGRAM, "--headless", "--frames=1", "--dump=" + dir / "frames/run1"}, TestEnv(dir));
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_TRUE(testing_support::Exists(dir / "frames/run1"));
  testing_support::WriteFile(dir / "file", "not a folder");
  ChildResult bad = RunChild({VJ_PROGRAM, "--headless", "--frames=1", "--dump=" + dir / "file/x"}, TestEnv(dir));
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("Cannot create the frame dump folder"), std::string::npos) << bad.err;
}

}  // namespace

// The real program as a child process.
#include <gtest/gtest.h>

#include <csignal>

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

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "app/core/core.h"
#include "tests/support/support.h"

using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetSettingsFolder(dir.path());
    ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
  }
  TempDir dir;
};

TEST_F(SettingsTest, NumbersAndTextsRoundTrip) {
  EXPECT_EQ(core::WriteSettingNumber("", "ServerX", 120), 0);
  EXPECT_EQ(core::WriteSettingNumber("", "ServerY", -40), 0);
  EXPECT_EQ(core::WriteSettingText("", "LastConnection", "stage-pc:7000"), 0);
  int32_t x = 0, y = 0;
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerX", &x));
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerY", &y));
  EXPECT_EQ(x, 120);
  EXPECT_EQ(y, -40);
  char text[260];
  EXPECT_TRUE(core::ReadSettingText("", "LastConnection", text, sizeof text));
  EXPECT_STREQ(text, "stage-pc:7000");
  // Overwriting keeps one entry per name.
  EXPECT_EQ(core::WriteSettingNumber("", "ServerX", 7), 0);
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerX", &x));
  EXPECT_EQ(x, 7);
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerY", &y));
  EXPECT_EQ(y, -40);
}

TEST_F(SettingsTest, TextsWithAwkwardBytesRoundTrip) {
  const char* awkward = "C:\\show\tfolder\nline two\\t \xC3\xA9";
  EXPECT_EQ(core::WriteSettingText("", "LastPreset", awkward), 0);
  char text[255];
  EXPECT_TRUE(core::ReadSettingText("", "LastPreset", text, sizeof text));
  EXPECT_STREQ(text, awkward);
}

TEST_F(SettingsTest, AbsentOrMistypedValuesLeaveTheDefault) {
  EXPECT_EQ(core::WriteSettingText("", "ServerX", "300"), 0);  // a string, not a number
  int32_t x = 42;
  EXPECT_FALSE(core::ReadSettingNumber("", "ServerX", &x));
  EXPECT_EQ(x, 42);
  EXPECT_FALSE(core::ReadSettingNumber("", "Nosplash", &x));
  EXPECT_EQ(x, 42);
  EXPECT_EQ(core::WriteSettingNumber("", "ClientX", 5), 0);
  char text[16] = "junk";
  EXPECT_FALSE(core::ReadSettingText("", "ClientX", text, sizeof text));
  EXPECT_STREQ(text, "");  // emptied first
}

TEST_F(SettingsTest, GarbledFileLinesReadAsAbsent) {
  WriteFile(dir / "values",
            "number\tA\t12x\n"
            "number\tB\t99999999999\n"
            "garbage without tabs\n"
            "text\tC\tbad\\escape\n"
            "number\tD\t4294967295\n"
            "number\tE\t17\n");
  int32_t v = -5;
  EXPECT_FALSE(core::ReadSettingNumber("", "A", &v));
  EXPECT_FALSE(core::ReadSettingNumber("", "B", &v));
  char text[16];
  EXPECT_FALSE(core::ReadSettingText("", "C", text, sizeof text));
  EXPECT_EQ(v, -5);
  EXPECT_TRUE(core::ReadSettingNumber("", "D", &v));
  EXPECT_EQ(v, -1);  // a DWORD's 32 bits
  EXPECT_TRUE(core::ReadSettingNumber("", "E", &v));
  EXPECT_EQ(v, 17);
  // A write keeps the readable values.
  EXPECT_EQ(core::WriteSettingNumber("", "F", 1), 0);
  EXPECT_TRUE(core::ReadSettingNumber("", "E", &v));
  EXPECT_EQ(v, 17);
}

TEST_F(SettingsTest, TextLongerThanTheCapacityIsNotRead) {
  std::string long_text(300, 'h');
  EXPECT_EQ(core::WriteSettingText("", "LastConnection", long_text.c_str()), 0);
  char small[260];
  EXPECT_FALSE(core::ReadSettingText("", "LastConnection", small, sizeof small));
  std::string exact(259, 'x');
  EXPECT_EQ(core::WriteSettingText("", "LastConnection", exact.c_str()), 0);
  EXPECT_TRUE(core::ReadSettingText("", "LastConnection", small, sizeof small));
  EXPECT_EQ(std::string(small), exact);
}

TEST_F(SettingsTest, SubPathsAreFoldersCreatedOnWrite) {
  int32_t v = 0;
  EXPECT_FALSE(core::ReadSettingNumber("panels/first", "Width", &v));
  EXPECT_EQ(core::WriteSettingNumber("panels//first\\", "Width", 640), 0);
  EXPECT_TRUE(testing_support::Exists(dir / "panels/first/values"));
  EXPECT_TRUE(core::ReadSettingNumber("panels\\first", "Width", &v));
  EXPECT_EQ(v, 640);
  EXPECT_EQ(core::WriteSettingNumber("../escape", "X", 1), -1);
}

TEST_F(SettingsTest, DoubledSlashInTheRootReachesTheSameKey) {
  EXPECT_EQ(core::WriteSettingNumber("", "ServerX", 9), 0);
  ASSERT_TRUE(core::OpenSettingsRoot("software//halvane/vj/"));
  int32_t v = 0;
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerX", &v));
  EXPECT_EQ(v, 9);
  ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
}

TEST_F(SettingsTest, InterruptedWriteLeavesTheOldFileIntact) {
  EXPECT_EQ(core::WriteSettingNumber("", "ServerX", 11), 0);
  std::string before = ReadFile(dir / "values");
  // A crash between creating the temporary file and renaming it leaves the
  // temporary behind; the values file itself is untouched.
  WriteFile(dir / "values.tmp-abcdef", "number\tServerX\t9");
  int32_t v = 0;
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerX", &v));
  EXPECT_EQ(v, 11);
  EXPECT_EQ(ReadFile(dir / "values"), before);
  // A write into a folder that refuses the temporary file fails and keeps the old file.
  if (geteuid() != 0) {
    chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(core::WriteSettingNumber("", "ServerX", 12), -1);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadFile(dir / "values"), before);
  }
}

TEST(SettingsRoot, MissingRootDoesNotOpen) {
  TempDir dir;
  core::SetSettingsFolder(dir / "not-there");
  EXPECT_FALSE(core::OpenSettingsRoot(core::kSettingsRootPath));
  std::string too_long(300, 'k');
  core::SetSettingsFolder(dir.path());
  EXPECT_FALSE(core::OpenSettingsRoot(too_long.c_str()));
  EXPECT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
}

TEST(SettingsRoot, DefaultFolderFollowsTheEnvironment) {
  std::string saved_vj = std::getenv("VJ_SETTINGS_DIR") ? std::getenv("VJ_SETTINGS_DIR") : "";
  std::string saved_xdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
  unsetenv("VJ_SETTINGS_DIR");
  EXPECT_EQ(core::DefaultSettingsFolder(), "/tmp/xdg-test/halvane/vj");
  setenv("VJ_SETTINGS_DIR", "/tmp/explicit", 1);
  EXPECT_EQ(core::DefaultSettingsFolder(), "/tmp/explicit");
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("VJ_SETTINGS_DIR");
  setenv("HOME", "/home/performer", 1);
  EXPECT_EQ(core::DefaultSettingsFolder(), "/home/performer/.config/halvane/vj");
  if (!saved_vj.empty()) setenv("VJ_SETTINGS_DIR", saved_vj.c_str(), 1);
  if (!saved_xdg.empty()) setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
}

}  // namespace

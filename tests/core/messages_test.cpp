#include <gtest/gtest.h>

#include <cstdio>

#include "app/core/core.h"
#include "tests/support/support.h"

namespace {

class RuntimeMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramClock(&clock);
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { seen.push_back(text); });
    core::MarkStartupFinished(true);
  }
  void TearDown() override {
    core::MarkStartupFinished(false);
    core::SetMessageListener(nullptr);
    core::SetProgramClock(nullptr);
  }
  core::ManualClock clock;
  std::vector<std::string> seen;
};

TEST_F(RuntimeMessagesTest, ErrorsAfterStartupGoToTheListenerOncePerFiveSeconds) {
  for (int frame = 0; frame < 60; ++frame) {
    core::ShowError("Failed to instantiate effect %s", "TUNNEL");
    clock.Advance(1.0 / 60);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "Failed to instantiate effect TUNNEL");
  core::ShowError("another text");
  EXPECT_EQ(seen.size(), 2u);
  clock.Advance(5.0);
  core::ShowError("Failed to instantiate effect %s", "TUNNEL");
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(RuntimeMessagesTest, LongTextsAreCutTo1023Bytes) {
  std::string long_text(2000, 'x');
  core::ShowError("%s", long_text.c_str());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].size(), 1023u);
}

TEST(Trace, WritesOnlyWhenPointedAtAFile) {
  testing_support::TempDir dir;
  core::Trace("discarded %d\n", 1);
  EXPECT_FALSE(core::TraceEnabled());
  ASSERT_EQ(core::SetTraceFile((dir / "trace.log").c_str()), 0);
  core::Trace("SERVER: Starting up.\n");
  core::Trace("value %i\n", 7);
  core::SetTraceFile(nullptr);
  core::Trace("after\n");
  EXPECT_EQ(testing_support::ReadFile(dir / "trace.log"), "SERVER: Starting up.\nvalue 7\n");
  EXPECT_EQ(core::SetTraceFile((dir / "no/such/dir/trace.log").c_str()), -1);
  EXPECT_FALSE(core::TraceEnabled());
}

TEST(Clocks, ProgramClockStartsAtTheEpochAndCanBeInjected) {
  double now = core::NowSeconds();
  EXPECT_GE(now, core::kClockEpoch);
  EXPECT_LT(now, core::kClockEpoch + 3600.0);
  core::ManualClock manual;
  core::SetProgramClock(&manual);
  EXPECT_EQ(core::NowSeconds(), core::kClockEpoch);
  EXPECT_EQ(core::NowMilliseconds(), 1000000u);
  manual.Advance(0.25);
  core::SleepSeconds(10.0);  // an injected clock never waits
  EXPECT_DOUBLE_EQ(core::NowSeconds(), 1000.25);
  core::SetProgramClock(nullptr);
  EXPECT_GE(core::NowSeconds(), now);
}

TEST(Clocks, DoublePrecisionKeepsSubMillisecondStepsAfterDays) {
  core::ManualClock manual(core::kClockEpoch + 5 * 86400.0);
  double before = manual.Seconds();
  manual.Advance(0.0001);
  EXPECT_GT(manual.Seconds(), before);
}

TEST(AsciiCase, OnlyAsciiLettersChange) {
  EXPECT_EQ(core::AsciiToUpper("tunnel-\xE9t\xE9 1.5"), "TUNNEL-\xE9T\xE9 1.5");
  EXPECT_EQ(core::AsciiToLower("ABC\xC9"), "abc\xC9");
  EXPECT_TRUE(core::AsciiEqualNoCase("Script.TXT", "script.txt"));
  EXPECT_FALSE(core::AsciiEqualNoCase("\xC9", "\xE9"));
}

}  // namespace

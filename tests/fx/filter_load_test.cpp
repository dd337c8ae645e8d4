// Loading a FILTER without a device to make targets on, and its tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/filter_effect.h"

namespace {

class FilterLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages.push_back(text); });
    core::MarkStartupFinished(true);
  }
  void TearDown() override {
    core::MarkStartupFinished(false);
    core::SetMessageListener(nullptr);
  }
  std::vector<std::string> messages;
};

TEST_F(FilterLoadTest, TargetsThatCannotBeMadeFailTheLoadWithTheMessage) {
  fx::FilterEffect filter;
  EXPECT_EQ(filter.Load("F", "RENDERTARGET"), -1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            "Failed to initialize render to texture infrastructure. If your card supports this consider updating "
            "your drivers");
  EXPECT_FALSE(filter.HasTargets());
  EXPECT_EQ(fx::BlurChainUsers(), 0);
  // Anything but exactly "RENDERTARGET" loads an instance without targets.
  for (const char* arguments : {"NORENDERTARGET", "RENDERTARGET ", "", "rendertarget"}) {
    EXPECT_EQ(filter.Load("F", arguments), 0) << arguments;
    EXPECT_FALSE(filter.HasTargets());
  }
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(FilterLoadTest, TemplateTables) {
  fx::FilterEffect filter;
  const fx::FxTemplate* rows = nullptr;
  ASSERT_EQ(filter.GetLoadTemplates(&rows), 2);
  EXPECT_STREQ(rows[0].text, "RENDERTARGET");
  EXPECT_STREQ(rows[1].help, "disables post fx");
  ASSERT_EQ(filter.GetCommandTemplates(&rows), 32);
  EXPECT_STREQ(rows[0].text, "FADEIN time r g b");
  EXPECT_STREQ(rows[31].help, "noise shader");
  EXPECT_STREQ(filter.GetName(), "FILTER");
  EXPECT_STREQ(filter.GetDescription(), "Filtering and postfx rendering");
}

}  // namespace

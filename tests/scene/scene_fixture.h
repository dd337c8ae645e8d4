// A show folder in a temporary directory with the file layer pointed at it,
// and every message (error box and log line) captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/core.h"
#include "tests/support/support.h"

namespace scene_test {

class SceneFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::StartFileLayer(dir.path());
    core::MarkStartupFinished(true);
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages.push_back(text); });
  }
  void TearDown() override {
    core::SetMessageListener(nullptr);
    core::MarkStartupFinished(false);
    core::ResetRuntimeMessages();
    core::StopFileLayer();
  }
  // Writes a file under the show folder (folders created).
  void Put(const std::string& relative, const std::string& contents) {
    std::string path = dir / relative;
    testing_support::MakeDirs(path.substr(0, path.find_last_of('/')));
    testing_support::WriteFile(path, contents);
  }
  void ClearMessages() {
    messages.clear();
    core::ResetRuntimeMessages();
  }
  bool HasMessage(const std::string& part) const {
    for (const std::string& m : messages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  std::string AllMessages() const {
    std::string all;
    for (const std::string& m : messages) all += m + " | ";
    return all;
  }

  testing_support::TempDir dir;
  std::vector<std::string> messages;
};

}  // namespace scene_test

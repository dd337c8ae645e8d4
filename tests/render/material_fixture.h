// Helpers for the material tests: a show folder on disk with the file layer
// pointed at it, captured run-time messages, and a started manager pushed
// as the current one.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/materials.h"
#include "tests/support/support.h"

namespace material_test {

class MaterialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::StartFileLayer(dir_.path());
    core::ResetRuntimeMessages();
    core::MarkStartupFinished(true);
    core::SetMessageListener([this](const std::string& text) { messages_.push_back(text); });
    ASSERT_EQ(render::InitShaderSystem(), 0);
    ASSERT_EQ(manager_.Init(), 0);
    ASSERT_EQ(render::PushShaderManager(&manager_), 0);
  }
  void TearDown() override {
    render::SetAdditiveOverride(false);
    render::SetCurrentCamera(nullptr);
    manager_.Shutdown();
    render::ShutdownShaderSystem();
    core::SetMessageListener(nullptr);
    core::MarkStartupFinished(false);
    core::ResetRuntimeMessages();
    core::StopFileLayer();
  }

  // Writes a file under the show folder (folders made as needed).
  void Write(const std::string& relative, const std::string& contents) {
    std::string path = dir_ / relative;
    testing_support::MakeDirs(path.substr(0, path.find_last_of('/')));
    testing_support::WriteFile(path, contents);
  }
  // Parses a script given as text; 0 or -1.
  int Parse(const std::string& script) { return manager_.ParseShaderText(script.c_str(), "test.txt"); }
  // The shader of that name (must exist).
  const render::Shader& Named(const char* name) {
    render::ShaderHandle handle = manager_.FindShader(name);
    EXPECT_GE(handle, 0) << name;
    static const render::Shader kMissing;
    const render::Shader* shader = manager_.GetShaderByHandle(handle);
    return shader ? *shader : kMissing;
  }
  // The first pass of a one-shader script.
  render::ShaderPass OnePass(const std::string& pass_body, const std::string& name = "P") {
    EXPECT_EQ(Parse("<SHADER> <NAME> \"" + name + "\" </NAME> <PASS> " + pass_body + " </PASS> </SHADER>"), 0);
    const render::Shader& shader = Named(name.c_str());
    return shader.passes.empty() ? render::ShaderPass{} : shader.passes[0];
  }

  testing_support::TempDir dir_;
  std::vector<std::string> messages_;
  render::ShaderManager manager_;
};

}  // namespace material_test

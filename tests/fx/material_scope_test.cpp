// Each effect script's own material library: a shader manager loaded from
// the effect folder's data/shaders/, current only while pushed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/core/core.h"
#include "fx/effect.h"
#include "render/materials.h"
#include "tests/support/support.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

class EffectMaterials : public ::testing::Test {
 protected:
  void SetUp() override {
    core::StartFileLayer(dir_.path());
    core::ResetRuntimeMessages();
    core::MarkStartupFinished(true);
    core::SetMessageListener([this](const std::string& text) { messages_.push_back(text); });
    render::InitShaderSystem();
  }
  void TearDown() override {
    render::ShutdownShaderSystem();
    core::SetMessageListener(nullptr);
    core::MarkStartupFinished(false);
    core::StopFileLayer();
  }
  void Write(const std::string& relative, const std::string& contents) {
    std::string path = dir_ / relative;
    testing_support::MakeDirs(path.substr(0, path.find_last_of('/')));
    testing_support::WriteFile(path, contents);
  }
  testing_support::TempDir dir_;
  std::vector<std::string> messages_;
};

TEST_F(EffectMaterials, EachScriptLoadsItsOwnFolderAndPushesOnlyWhileInUse) {
  Write("effects/one/data/shaders/s.txt", "<SHADER> <NAME> \"Glow\" </NAME> <PASS> </PASS> </SHADER>");
  Write("effects/two/data/shaders/s.txt", "<SHADER> <NAME> \"Glow\" </NAME> </SHADER>"
                                          "<SHADER> <NAME> \"Haze\" </NAME> </SHADER>");
  render::ShaderManager server;
  ASSERT_EQ(server.Init(), 0);
  ASSERT_EQ(render::PushShaderManager(&server), 0);

  fx::FxScript one, two;
  core::PushBaseFolder("effects/one");
  ASSERT_EQ(one.Open("SYNCTIME 1\n", true), 0);
  core::PopBaseFolder();
  core::PushBaseFolder("effects/two");
  ASSERT_EQ(two.Open("SYNCTIME 1\n", true), 0);
  core::PopBaseFolder();
  EXPECT_TRUE(messages_.empty());  // the same name in two effects is no clash
  EXPECT_EQ(render::CurrentShaderManager(), &server);

  one.Materials()->Push();
  render::ShaderManager* current = render::CurrentShaderManager();
  ASSERT_NE(current, &server);
  EXPECT_GE(current->FindShader("GLOW"), 0);
  EXPECT_LT(current->FindShader("HAZE"), 0);
  EXPECT_EQ(current->FindShader("NULL"), render::kNullShader);
  one.Materials()->Push();  // pushes nest
  one.Materials()->Pop();
  EXPECT_EQ(render::CurrentShaderManager(), current);
  one.Materials()->Pop();
  EXPECT_EQ(render::CurrentShaderManager(), &server);
  one.Materials()->Pop();  // an extra pop leaves other managers alone
  EXPECT_EQ(render::CurrentShaderManager(), &server);

  two.Materials()->Push();
  EXPECT_GE(render::CurrentShaderManager()->FindShader("HAZE"), 0);
  two.Materials()->Pop();

  // Rendering pushes and pops the script's library around the pass.
  one.Rewind();
  one.RenderPass(0, 1);
  EXPECT_EQ(render::CurrentShaderManager(), &server);
  render::PopShaderManager();
}

TEST_F(EffectMaterials, AFaultyMaterialScriptFailsTheOpenAtRunTime) {
  Write("effects/bad/data/shaders/bad.txt", "<SHADER> <NAME> \"x\" </NAME>");
  fx::FxScript script;
  core::PushBaseFolder("effects/bad");
  EXPECT_EQ(script.Open("SYNCTIME 1\n", true), -1);
  core::PopBaseFolder();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_THAT(messages_[0], HasSubstr("Error: Error parsing data/shaders"));
  EXPECT_EQ(messages_[1], "Error initializing Shader Manager");
  EXPECT_FALSE(script.Loaded());
  EXPECT_EQ(render::CurrentShaderManager(), nullptr);
}

TEST_F(EffectMaterials, AnEffectWithoutMaterialScriptsStillHasTheNullShader) {
  Write("effects/plain/data/script.txt", "SYNCTIME 1\n");
  fx::FxScript script;
  core::PushBaseFolder("effects/plain");
  ASSERT_EQ(script.Open("SYNCTIME 1\n", true), 0);
  core::PopBaseFolder();
  script.Materials()->Push();
  ASSERT_NE(render::CurrentShaderManager(), nullptr);
  EXPECT_EQ(render::CurrentShaderManager()->ShaderCount(), 1);
  script.Materials()->Pop();
  EXPECT_TRUE(messages_.empty());
}

}  // namespace

// The class registry, the built-in classes (until their own behaviour
// exists), and the base behaviour of FxInstance.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "render/layer.h"
#include "tests/fx/effect_fixture.h"

namespace {

using fx_test::EffectTest;
using fx_test::Events;
using fx_test::Probe;

// The base class with only the keyword and description filled in.
class Plain final : public fx::FxInstance {
 public:
  const char* GetName() const override { return "PLAIN"; }
  const char* GetDescription() const override { return "plain"; }
};

std::vector<std::string> RegistryNames() {
  std::vector<std::string> names;
  for (const fx::FxClass* c = fx::FirstFxClass(); c; c = c->Next()) names.push_back(c->Name());
  return names;
}

TEST_F(EffectTest, BuiltInClassesAreListedNewestFirstWithTheirDescriptions) {
  fx::UnregisterFxClass(&fx_test::NoMemoryClass());
  fx::UnregisterFxClass(&fx_test::ProbeClass());
  const std::vector<std::string> expected = {"FILTER", "3DSCENE", "SOUNDSYNCER", "IMAGE", "VIDEOSTREAM"};
  EXPECT_EQ(RegistryNames(), expected);
  // A second registration call changes nothing.
  fx::RegisterEffectClasses();
  EXPECT_EQ(RegistryNames(), expected);

  const std::pair<const char*, const char*> described[] = {
      {"VIDEOSTREAM", "Reproduces a video stream"},     {"IMAGE", "Shows an image"},
      {"SOUNDSYNCER", "Allows tuning of beatmatcher"},  {"3DSCENE", "Reproduces a 3D Scene"},
      {"FILTER", "Filtering and postfx rendering"},
  };
  for (const auto& [name, description] : described) {
    const fx::FxClass* record = fx::FindClass(name);
    ASSERT_NE(record, nullptr) << name;
    EXPECT_STREQ(record->Name(), name);
    EXPECT_STREQ(record->Description(), description);
    std::unique_ptr<fx::FxInstance> instance = record->Create();
    ASSERT_NE(instance, nullptr);
    EXPECT_STREQ(instance->GetName(), name);
    EXPECT_STREQ(instance->GetDescription(), description);
  }
}

TEST_F(EffectTest, LookupIsExactAndANewClassGoesToTheHead) {
  EXPECT_EQ(fx::FindClass("filter"), nullptr);
  EXPECT_EQ(fx::FindClass("FILTER "), nullptr);
  EXPECT_EQ(fx::FindClass("FILTE"), nullptr);
  EXPECT_EQ(fx::FindClass(""), nullptr);
  EXPECT_EQ(fx::FindClass("PROBE"), &fx_test::ProbeClass());

  std::vector<std::string> names = RegistryNames();
  ASSERT_GE(names.size(), 7u);
  EXPECT_EQ(names[0], "NOMEMORY");
  EXPECT_EQ(names[1], "PROBE");
  EXPECT_EQ(names[2], "FILTER");
  // Registering again keeps the place; unregistering takes it out.
  fx::RegisterFxClass(&fx_test::ProbeClass());
  EXPECT_EQ(RegistryNames(), names);
  fx::UnregisterFxClass(&fx_test::ProbeClass());
  EXPECT_EQ(fx::FindClass("PROBE"), nullptr);
  EXPECT_EQ(RegistryNames()[1], "FILTER");
}

TEST_F(EffectTest, BaseOperationsDoWhatTheBaseDoes) {
  Plain plain;
  EXPECT_EQ(plain.Load("NAME", "ARGS"), 0);
  EXPECT_STREQ(plain.InstanceName(), "");  // the base stores nothing
  EXPECT_EQ(plain.Unload(), 0);
  EXPECT_EQ(plain.Start(1.0f), 0);
  EXPECT_EQ(plain.Stop(), 0);
  EXPECT_EQ(plain.Reset(), 0);
  EXPECT_EQ(plain.Render(1.0f), 1);
  EXPECT_TRUE(plain.ReservedQuery());
  EXPECT_EQ(plain.Layer(), 0);
  EXPECT_EQ(plain.Hidden(), 0);
  EXPECT_EQ(plain.Owner(), nullptr);
  EXPECT_EQ(plain.SetHidden(7), 0);
  EXPECT_EQ(plain.Hidden(), 7);

  char buffer[16] = "KEEP";
  EXPECT_EQ(plain.ShowCommandDialog(buffer, sizeof buffer), -1);
  EXPECT_EQ(plain.ShowLoadDialog(buffer, sizeof buffer), -1);
  EXPECT_STREQ(buffer, "KEEP");
}

TEST_F(EffectTest, DefaultTemplateTablesHaveElevenRows) {
  Plain plain;
  const fx::FxTemplate* rows = nullptr;
  ASSERT_EQ(plain.GetLoadTemplates(&rows), 11);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(std::string(rows[i].text), "DEFAULT " + std::to_string(i + 1));
    EXPECT_EQ(std::string(rows[i].help), "default load " + std::to_string(i + 1));
  }
  ASSERT_EQ(plain.GetCommandTemplates(&rows), 11);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(std::string(rows[i].text), "DEFAULT " + std::to_string(i + 1));
    EXPECT_EQ(std::string(rows[i].help), "default command " + std::to_string(i + 1));
  }
  EXPECT_EQ(plain.GetCommandTemplates(nullptr), 11);
}

TEST_F(EffectTest, TheBaseLayerCommandSetsTheLayerAndAcceptsAnyText) {
  Plain plain;
  EXPECT_EQ(plain.Command(0.0f, "LAYER 12"), 0);
  EXPECT_EQ(plain.Layer(), 12);
  EXPECT_EQ(plain.Command(0.0f, " \tLAYER\t\t3 EXTRA"), 0);
  EXPECT_EQ(plain.Layer(), 3);
  EXPECT_EQ(plain.Command(0.0f, "LAYER -1"), 0);
  EXPECT_EQ(plain.Layer(), -1);
  EXPECT_EQ(plain.Command(0.0f, "LAYER 7x"), 0);
  EXPECT_EQ(plain.Layer(), 7);
  EXPECT_EQ(plain.Command(0.0f, "LAYER X"), 0);  // not a number reads as 0
  EXPECT_EQ(plain.Layer(), 0);
  plain.SetLayer(5);
  // Not the LAYER command, or no number behind it: the layer stays.
  for (const char* text : {"LAYERS 3", "layer 3", "LAYE 3", "LAYER", "LAYER  \t", "", "SIZE 3 LAYER 4", "X LAYER 4"})
    EXPECT_EQ(plain.Command(0.0f, text), 0) << text;
  EXPECT_EQ(plain.Layer(), 5);
  EXPECT_EQ(plain.Command(0.0f, nullptr), 0);
  EXPECT_EQ(plain.Command(0.0f, "LAYER 99999999999"), 0);
  EXPECT_EQ(plain.Layer(), INT32_MAX);
  EXPECT_EQ(plain.Command(0.0f, "LAYER -99999999999"), 0);
  EXPECT_EQ(plain.Layer(), INT32_MIN);
}

TEST_F(EffectTest, NamesAreCutTo127Characters) {
  Plain plain;
  std::string long_name(200, 'N');
  long_name[126] = 'A';
  long_name[127] = 'B';
  plain.SetInstanceName(long_name.c_str());
  EXPECT_EQ(std::strlen(plain.InstanceName()), 127u);
  EXPECT_EQ(std::string(plain.InstanceName()), long_name.substr(0, 127));
  plain.SetInstanceName("SHORT");
  EXPECT_STREQ(plain.InstanceName(), "SHORT");
  plain.SetInstanceName(plain.InstanceName());  // copying onto itself is harmless
  EXPECT_STREQ(plain.InstanceName(), "SHORT");
  plain.SetInstanceName(nullptr);
  EXPECT_STREQ(plain.InstanceName(), "");
}

TEST_F(EffectTest, ReloadUnloadsAndLoadsWithTheStoredName) {
  Probe probe;
  ASSERT_EQ(probe.Load("FIRST", "A"), 0);
  Events().clear();
  EXPECT_EQ(probe.Reload("B"), 0);
  const std::vector<std::string> expected = {"FIRST.Unload", "FIRST.Load(B)"};
  EXPECT_EQ(Events(), expected);
  EXPECT_STREQ(probe.InstanceName(), "FIRST");
  EXPECT_EQ(probe.args(), "B");
  EXPECT_NE(probe.Reload("FAILLOAD"), 0);
}

TEST_F(EffectTest, EffectTimeIsOneValue) {
  fx::SetEffectTime(12.5f);
  EXPECT_EQ(fx::GetEffectTime(), 12.5f);
  fx::SetEffectTime(-3.0f);
  EXPECT_EQ(fx::GetEffectTime(), -3.0f);
  // The render layer holds it: material waves read what effects set.
  EXPECT_EQ(render::EffectTime(), -3.0f);
  render::SetEffectTime(7.25f);
  EXPECT_EQ(fx::GetEffectTime(), 7.25f);
  fx::SetEffectTime(0.0f);
}

}  // namespace

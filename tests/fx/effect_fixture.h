// Shared set-up for the effect model and effect script tests: a test-only
// effect class that records every call it gets (with the effect time it
// saw), a material library that records its use, the built-in classes,
// an injected clock, started-up message handling and a trace file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "tests/support/support.h"

namespace fx_test {

// Everything the probes and the recording library did, in call order.
inline std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}
inline void Record(const std::string& event) { Events().push_back(event); }

// How deep the recording library is pushed right now (-1 when none is in
// use), so calls can show whether their effect's library was current.
inline int& MaterialDepth() {
  static int depth = -1;
  return depth;
}

// A test effect. Load arguments choose its behaviour:
//   FAILLOAD   Load fails
//   ONESHOT    Render returns 0 (finished)
//   FAILCMD    commands beginning with "BAD" fail
class Probe : public fx::FxInstance {
 public:
  ~Probe() override { Record(Who() + ".Destroy"); }
  int Load(const char* name, const char* arguments) override {
    SetInstanceName(name);
    args_ = arguments ? arguments : "";
    Record(Who() + ".Load(" + args_ + ")" + Materials());
    return args_.find("FAILLOAD") != std::string::npos ? -1 : 0;
  }
  int Unload() override {
    Record(Who() + ".Unload");
    return 0;
  }
  int Start(float time) override {
    Record(Who() + core::FormatString(".Start(%.2f) et=%.2f", time, fx::GetEffectTime()) + Materials());
    return 0;
  }
  int Stop() override {
    Record(Who() + ".Stop");
    return 0;
  }
  int Reset() override {
    Record(Who() + ".Reset");
    return 0;
  }
  void Update(float time) override { Record(Who() + core::FormatString(".Update(%.2f) L%d", time, Layer())); }
  int Render(float time) override {
    Record(Who() + core::FormatString(".Render(%.2f) L%d et=%.2f", time, Layer(), fx::GetEffectTime()) +
           Materials());
    return args_.find("ONESHOT") != std::string::npos ? 0 : 1;
  }
  void AfterPass(float time) override { Record(Who() + core::FormatString(".AfterPass(%.2f)", time)); }
  void BeforeLayer(int32_t layer, float) override { Record(Who() + core::FormatString(".BeforeLayer(%d)", layer)); }
  void AfterLayer(int32_t layer, float) override { Record(Who() + core::FormatString(".AfterLayer(%d)", layer)); }
  int Command(float time, const char* command) override {
    fx::FxInstance::Command(time, command);
    Record(Who() + core::FormatString(".Command(%.2f,'%s') et=%.2f", time, command, fx::GetEffectTime()) +
           Materials());
    if (args_.find("FAILCMD") != std::string::npos && std::string(command).rfind("BAD", 0) == 0) return -1;
    return 0;
  }
  const char* GetName() const override { return "PROBE"; }
  const char* GetDescription() const override { return "Records what it is asked to do"; }

  const std::string& args() const { return args_; }

 private:
  std::string Who() const { return InstanceName(); }
  static std::string Materials() { return MaterialDepth() > 0 ? " [mat]" : ""; }
  std::string args_;
};

inline fx::FxInstance* CreateProbe(const fx::FxClass&) { return fx::NewInstance<Probe>(); }
inline fx::FxInstance* CreateNothing(const fx::FxClass&) { return nullptr; }

inline fx::FxClass& ProbeClass() {
  static fx::FxClass record("PROBE", "Records what it is asked to do", CreateProbe);
  return record;
}
// A class whose creation always runs out of memory.
inline fx::FxClass& NoMemoryClass() {
  static fx::FxClass record("NOMEMORY", "Never gets memory", CreateNothing);
  return record;
}

// A material library that records its use.
class RecordingMaterials final : public fx::MaterialScope {
 public:
  explicit RecordingMaterials(bool load_fails) : load_fails_(load_fails) {}
  ~RecordingMaterials() override { Record("mat.Destroy"); }
  int Load(const char* folder) override {
    Record(std::string("mat.Load(") + folder + ")" + (MaterialDepth() > 0 ? " [mat]" : ""));
    return load_fails_ ? -1 : 0;
  }
  void Push() override { ++MaterialDepth(); }
  void Pop() override { --MaterialDepth(); }
  void Clear() override { Record(std::string("mat.Clear") + (MaterialDepth() > 0 ? " [mat]" : "")); }

 private:
  bool load_fails_;
};

class EffectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Events().clear();
    MaterialDepth() = -1;
    fx::RegisterEffectClasses();
    fx::RegisterFxClass(&ProbeClass());
    fx::RegisterFxClass(&NoMemoryClass());
    fx::SetEffectTime(0.0f);
    core::SetProgramClock(&clock);
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages.push_back(text); });
    core::MarkStartupFinished(true);
    trace_path = dir / "trace.txt";
    core::SetTraceFile(trace_path.c_str());
  }
  void TearDown() override {
    core::SetTraceFile(nullptr);
    core::MarkStartupFinished(false);
    core::SetMessageListener(nullptr);
    core::SetProgramClock(nullptr);
    fx::SetMaterialScopeFactory(nullptr);
    fx::UnregisterFxClass(&NoMemoryClass());
    fx::UnregisterFxClass(&ProbeClass());
  }

  // Material libraries that record their use; the next one made fails to
  // load when `load_fails`.
  void UseRecordingMaterials(bool load_fails = false) {
    MaterialDepth() = 0;
    fx::SetMaterialScopeFactory(
        [load_fails] { return std::unique_ptr<fx::MaterialScope>(new RecordingMaterials(load_fails)); });
  }

  // The trace written since the last call.
  std::string TakeTrace() {
    core::FlushTrace();
    std::string all = testing_support::ReadFile(trace_path);
    std::string fresh = all.substr(trace_seen < all.size() ? trace_seen : all.size());
    trace_seen = all.size();
    return fresh;
  }

  // Opens `text` (looping unless told otherwise) and creates its instances.
  void Load(fx::FxScript& script, const std::string& text, bool loop = true) {
    ASSERT_EQ(script.Open(text.c_str(), loop), 0);
    ASSERT_EQ(script.InstantiateAll(), 0);
    Events().clear();
  }

  // One frame at `effect_time`: rewind, replay and draw.
  void Frame(fx::FxScript& script, float effect_time) {
    fx::SetEffectTime(effect_time);
    script.RenderDeck();
  }

  // Events containing `part`, in order.
  static std::vector<std::string> EventsWith(const std::string& part) {
    std::vector<std::string> out;
    for (const std::string& e : Events())
      if (e.find(part) != std::string::npos) out.push_back(e);
    return out;
  }

  static std::vector<std::string> StartedNames(const fx::FxScript& script) {
    std::vector<std::string> names;
    for (const fx::FxInstance* instance : script.Started()) names.push_back(instance->InstanceName());
    return names;
  }

  testing_support::TempDir dir;
  std::string trace_path;
  size_t trace_seen = 0;
  core::ManualClock clock;
  std::vector<std::string> messages;
};

}  // namespace fx_test

// Effect scripts: any text is opened as a script with the built-in effect
// classes and a do-nothing material library, every instance it declares is
// created and loaded where it can be (the fuzz folder holds no pictures, so
// nothing reaches a device), and the script is replayed at a few effect times, forwards,
// backwards and far ahead. Drawing is left out: it needs a device.
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fx/effect.h"

namespace {

class NoMaterials final : public fx::MaterialScope {
 public:
  int Load(const char*) override { return 0; }
  void Push() override {}
  void Pop() override {}
  void Clear() override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  fx::RegisterEffectClasses();
  fx::SetMaterialScopeFactory([] { return std::make_unique<NoMaterials>(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::BeginInput();
  const std::string text = fuzz::Text(data, size);
  fx::FxScript script;
  if (script.Open(text.c_str(), true) != 0) return 0;
  fuzz::Check(script.Length() >= 0.0f, "a script length below 0");
  // Every instance it can make: a failing one (a picture that is not
  // there) does not stop the ones after it.
  size_t next = 0;
  while (script.InstantiateNext(&next) != 0) {
  }
  for (float t : {0.0f, 0.5f, 3.25f, 2.0f, -1.5f, 1e6f, 0.0f}) {
    fx::SetEffectTime(t);
    script.Rewind();
    script.Step();
  }
  script.Close();
  return 0;
}

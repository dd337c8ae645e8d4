// Material scripts: any text is parsed into a fresh manager; every wave of
// every parsed pass is evaluated at a few times (finite in, finite or
// at least defined out: the sanitizers watch the conversions). Textures
// are not resolved: that needs a device and files.
#include <string>

#include "fuzz/fuzz_support.h"
#include "render/materials.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::BeginInput();
  const std::string text = fuzz::Text(data, size);
  render::ShaderManager manager;
  fuzz::Check(manager.Init() == 0, "a manager does not start");
  manager.ParseShaderText(text.c_str(), "fuzz.txt");
  for (render::ShaderHandle h = manager.FirstShader(); h != -1; h = manager.NextShader(h)) {
    const render::Shader* shader = manager.GetShaderByHandle(h);
    fuzz::Check(shader != nullptr, "a listed shader handle has no shader");
    fuzz::Check(manager.FindShader(shader->name.c_str()) != -1, "a parsed shader is not found by its name");
    for (const render::ShaderPass& pass : shader->passes) {
      for (float t : {0.0f, 0.37f, 12.5f, -3.0f, 86400.0f}) {
        render::EvaluateWave(pass.scale_wave, t);
        render::EvaluateWave(pass.color_wave, t);
        render::EvaluateWave(pass.alpha_wave, t);
      }
    }
  }
  manager.Shutdown();
  return 0;
}

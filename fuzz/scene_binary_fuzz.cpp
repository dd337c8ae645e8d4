// Binary scenes (.HVX): any bytes are decoded; a scene that decodes is
// encoded again, and what the program writes it must read.
//
// Seeds come from scene texts: "fuzz_scene_binary --make-seed IN.txt OUT"
// converts and encodes one (tools/make_fuzz_seeds.py does this).
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::BeginInput();
  scene::SceneFile scene;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (scene::DecodeSceneBinary(bytes, &scene) != scene::DecodeResult::kOk) return 0;
  std::string again;
  if (scene::EncodeSceneBinary(scene, &again) != 0) return 0;
  scene::SceneFile decoded;
  fuzz::Check(scene::DecodeSceneBinary(again, &decoded) == scene::DecodeResult::kOk,
              "a re-encoded scene does not decode");
  return 0;
}

extern "C" int VjFuzzMakeSeed(const uint8_t* data, size_t size, std::string* seed) {
  fuzz::WriteFile("data/scenes/seed.txt", data, size);
  return scene::ConvertSceneTextToBytes("data/scenes/seed.txt", seed);
}

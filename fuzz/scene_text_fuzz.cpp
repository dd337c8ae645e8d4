// Scene texts: any text is converted as a scene file; a scene that
// converts and encodes must decode again from its own bytes.
#include <string>

#include "fuzz/fuzz_support.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::BeginInput();
  fuzz::WriteFile("data/scenes/fuzz.txt", data, size);
  scene::SceneFile scene;
  if (scene::ConvertSceneTextToData("data/scenes/fuzz.txt", &scene) != 0) return 0;
  std::string bytes;
  if (scene::EncodeSceneBinary(scene, &bytes) != 0) return 0;  // beyond the binary format's limits
  scene::SceneFile decoded;
  fuzz::Check(scene::DecodeSceneBinary(bytes, &decoded) == scene::DecodeResult::kOk,
              "an encoded scene does not decode");
  fuzz::Check(decoded.meshes.size() == scene.meshes.size() && decoded.cameras.size() == scene.cameras.size() &&
                  decoded.lights.size() == scene.lights.size(),
              "a decoded scene lost objects");
  return 0;
}

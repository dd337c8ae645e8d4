// Every scene text the repository bundles (effects/*/data/scenes/*.txt)
// converts, and its cache decodes, so a bundled scene never ships broken.
// With none bundled yet the test has nothing to check and passes.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <filesystem>

#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> BundledSceneTexts() {
  std::vector<fs::path> found;
  fs::path effects = fs::path(VJ_SOURCE_DIR) / "effects";
  std::error_code ec;
  if (!fs::is_directory(effects, ec)) return found;
  for (const auto& effect : fs::directory_iterator(effects, ec)) {
    fs::path scenes = effect.path() / "data" / "scenes";
    if (!fs::is_directory(scenes, ec)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(scenes, ec)) {
      std::string ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (entry.is_regular_file() && ext == ".txt") found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

class BundledScenes : public scene_test::SceneFolderTest {};

TEST_F(BundledScenes, EveryBundledSceneConvertsAndItsCacheDecodes) {
  const std::vector<fs::path> texts = BundledSceneTexts();
  RecordProperty("scenes", static_cast<int>(texts.size()));
  for (const fs::path& text : texts) {
    SCOPED_TRACE(text.string());
    // Convert in a copy of the effect's scene folder, never in the repository.
    fs::path scenes = text.parent_path();
    while (scenes.filename() != "scenes") scenes = scenes.parent_path();
    std::string argument = fs::relative(text, scenes).string();
    fs::create_directories(fs::path(dir.path()) / "data");
    fs::copy(scenes, fs::path(dir.path()) / "data" / "scenes",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    ClearMessages();
    scene::SceneFile converted;
    ASSERT_EQ(scene::LoadSceneData(argument.c_str(), &converted), 0) << AllMessages();
    EXPECT_FALSE(converted.cameras.empty());
    std::string bytes;
    ASSERT_TRUE(scene::ReadSceneFileBytes(scene::SceneCachePath(argument).c_str(), &bytes));
    scene::SceneFile decoded;
    EXPECT_EQ(scene::DecodeSceneBinary(bytes, &decoded), scene::DecodeResult::kOk);
    EXPECT_EQ(decoded.meshes.size(), converted.meshes.size());
    EXPECT_TRUE(messages.empty()) << AllMessages();
  }
}

}  // namespace

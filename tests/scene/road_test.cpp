// The cache road: data/scenes/<arg> → data/scenesbin/<dir>/<base>.HVX.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"
#include "tests/scene/scene_text_writer.h"

namespace {

using namespace scene_test;

class SceneRoad : public SceneFolderTest {
 protected:
  std::string Scene(const std::string& mesh_name = "Tri") {
    SceneSpec s;
    s.meshes = {Triangle(1, mesh_name)};
    return WriteScene(s);
  }
  bool Exists(const std::string& relative) { return testing_support::Exists(dir / relative); }
};

TEST_F(SceneRoad, Paths) {
  EXPECT_EQ(scene::SceneTextPath("room.txt"), "data/scenes/room.txt");
  EXPECT_EQ(scene::SceneCachePath("room.txt"), "data/scenesbin/room.HVX");
  EXPECT_EQ(scene::SceneCachePath("a\\city.v2.txt"), "data/scenesbin/a/city.v2.HVX");
  EXPECT_EQ(scene::SceneCachePath("b/city"), "data/scenesbin/b/city.HVX");
  EXPECT_TRUE(scene::SceneArgumentAllowed("a/b.txt"));
  EXPECT_TRUE(scene::SceneArgumentAllowed("a..b.txt"));
  EXPECT_FALSE(scene::SceneArgumentAllowed(""));
  EXPECT_FALSE(scene::SceneArgumentAllowed("/etc/passwd"));
  EXPECT_FALSE(scene::SceneArgumentAllowed("\\x.txt"));
  EXPECT_FALSE(scene::SceneArgumentAllowed("../x.txt"));
  EXPECT_FALSE(scene::SceneArgumentAllowed("a/../../x.txt"));
  EXPECT_FALSE(scene::SceneArgumentAllowed("a\\..\\x.txt"));
  EXPECT_FALSE(scene::SceneArgumentAllowed("C:x.txt"));
}

TEST_F(SceneRoad, RefusedArguments) {
  scene::SceneFile out;
  EXPECT_EQ(scene::LoadSceneData("../outside.txt", &out), -1);
  EXPECT_TRUE(HasMessage("Error loading data/scenes/../outside.txt (doesn't exist?)")) << AllMessages();
  EXPECT_EQ(scene::LoadSceneData("/abs.txt", &out), -1);
  EXPECT_EQ(scene::LoadSceneData(nullptr, &out), -1);
  ClearMessages();
  EXPECT_EQ(scene::LoadSceneData("missing.txt", &out), -1);
  EXPECT_TRUE(HasMessage("Error loading data/scenes/missing.txt (doesn't exist?)")) << AllMessages();
}

TEST_F(SceneRoad, FirstLoadWritesTheCacheTheSecondNeedsNoText) {
  Put("data/scenes/room.txt", Scene());
  scene::SceneFile first;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &first), 0) << AllMessages();
  EXPECT_TRUE(Exists("data/scenesbin/room.HVX"));
  ASSERT_EQ(first.meshes.size(), 1u);
  EXPECT_TRUE(first.has_source && first.has_materials && first.has_mesh_ids);
  // No temporary file is left beside the cache.
  EXPECT_EQ(testing_support::ListDir(dir / "data/scenesbin"), std::vector<std::string>{"room.HVX"});

  unlink((dir / "data/scenes/room.txt").c_str());
  scene::SceneFile second;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &second), 0) << AllMessages();
  EXPECT_EQ(second.meshes[0].name, "Tri");
  EXPECT_EQ(second.meshes[0].elements[0].vertices.size(), 3u);
  EXPECT_TRUE(messages.empty()) << AllMessages();
  // Without text RELOAD deletes nothing.
  EXPECT_EQ(scene::InvalidateSceneCache("room.txt"), -1);
  EXPECT_TRUE(Exists("data/scenesbin/room.HVX"));
}

TEST_F(SceneRoad, CorruptCacheIsRebuiltFromItsText) {
  Put("data/scenes/room.txt", Scene());
  Put("data/scenesbin/room.HVX", std::string("\x07\0\0\0\x05", 5));
  scene::SceneFile out;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0) << AllMessages();
  EXPECT_EQ(out.meshes.size(), 1u);
  std::string bytes;
  ASSERT_TRUE(core::ReadWholeFile("data/scenesbin/room.HVX", &bytes));
  scene::SceneFile decoded;
  EXPECT_EQ(scene::DecodeSceneBinary(bytes, &decoded), scene::DecodeResult::kOk);
  // An old version with its text is rebuilt too.
  bytes[0] = 6;
  Put("data/scenesbin/room.HVX", bytes);
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0) << AllMessages();
  ASSERT_TRUE(core::ReadWholeFile("data/scenesbin/room.HVX", &bytes));
  EXPECT_EQ(bytes[0], 7);
}

TEST_F(SceneRoad, CorruptCacheWithoutTextIsKeptAndReported) {
  const std::string junk("\x07\0\0\0\x05", 5);
  Put("data/scenesbin/room.HVX", junk);
  scene::SceneFile out;
  EXPECT_EQ(scene::LoadSceneData("room.txt", &out), -1);
  EXPECT_TRUE(HasMessage("Error loading data/scenesbin/room.HVX (damaged scene cache)")) << AllMessages();
  EXPECT_EQ(testing_support::ReadFile(dir / "data/scenesbin/room.HVX"), junk);
  std::string old("\x06\0\0\0", 4);
  Put("data/scenesbin/room.HVX", old);
  ClearMessages();
  EXPECT_EQ(scene::LoadSceneData("room.txt", &out), -1);
  EXPECT_TRUE(HasMessage("El .hvx es de una version antigua")) << AllMessages();
  EXPECT_TRUE(Exists("data/scenesbin/room.HVX"));
}

TEST_F(SceneRoad, UnwritableCacheFolderStillLoadsWithOneMessage) {
  Put("data/scenes/room.txt", Scene());
  Put("data/scenesbin", "a file where the folder should be");
  scene::SceneFile out;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0);
  EXPECT_EQ(out.meshes.size(), 1u);
  ASSERT_EQ(messages.size(), 1u) << AllMessages();
  EXPECT_NE(messages[0].find("Cannot write the scene cache data/scenesbin/room.HVX"), std::string::npos);
}

TEST_F(SceneRoad, ReadOnlyCacheFolderStillLoads) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  Put("data/scenes/room.txt", Scene());
  testing_support::MakeDirs(dir / "data/scenesbin");
  chmod((dir / "data/scenesbin").c_str(), 0555);
  scene::SceneFile out;
  EXPECT_EQ(scene::LoadSceneData("room.txt", &out), 0);
  chmod((dir / "data/scenesbin").c_str(), 0755);
  EXPECT_EQ(out.meshes.size(), 1u);
  EXPECT_EQ(messages.size(), 1u) << AllMessages();
  EXPECT_FALSE(Exists("data/scenesbin/room.HVX"));
}

TEST_F(SceneRoad, TouchedTextIsConvertedAgain) {
  Put("data/scenes/room.txt", Scene("Before"));
  scene::SceneFile out;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0);
  EXPECT_EQ(out.meshes[0].name, "Before");
  // Same size, later time.
  Put("data/scenes/room.txt", Scene("Later!"));
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
  clock_gettime(CLOCK_REALTIME, &times[1]);
  times[1].tv_sec += 10;
  utimensat(AT_FDCWD, (dir / "data/scenes/room.txt").c_str(), times, 0);
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0);
  EXPECT_EQ(out.meshes[0].name, "Later!");
  // And the cache now holds the new text.
  unlink((dir / "data/scenes/room.txt").c_str());
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0);
  EXPECT_EQ(out.meshes[0].name, "Later!");
}

TEST_F(SceneRoad, SameBaseNameInTwoFoldersGivesTwoCaches) {
  Put("data/scenes/a/city.txt", Scene("CityA"));
  Put("data/scenes/b/city.txt", Scene("CityB"));
  scene::SceneFile a, b;
  ASSERT_EQ(scene::LoadSceneData("a/city.txt", &a), 0) << AllMessages();
  ASSERT_EQ(scene::LoadSceneData("b/city.txt", &b), 0) << AllMessages();
  EXPECT_TRUE(Exists("data/scenesbin/a/city.HVX"));
  EXPECT_TRUE(Exists("data/scenesbin/b/city.HVX"));
  ASSERT_EQ(scene::LoadSceneData("a/city.txt", &a), 0);
  EXPECT_EQ(a.meshes[0].name, "CityA");
  EXPECT_EQ(b.meshes[0].name, "CityB");
}

TEST_F(SceneRoad, FailedConversionLeavesNoCache) {
  Put("data/scenes/bad.txt", "<SCENE> <SCENEINFO> <FRAMERATE> 30 </FRAMERATE> </SCENEINFO> </SCENE>");
  scene::SceneFile out;
  EXPECT_EQ(scene::LoadSceneData("bad.txt", &out), -1);
  EXPECT_TRUE(HasMessage("Scene doesnt have a camera!!!")) << AllMessages();
  EXPECT_FALSE(Exists("data/scenesbin/bad.HVX"));
  EXPECT_FALSE(Exists("data/scenesbin"));
}

TEST_F(SceneRoad, ReloadDeletesOnlyWhenTheTextExists) {
  Put("data/scenes/room.txt", Scene());
  scene::SceneFile out;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0);
  EXPECT_EQ(scene::InvalidateSceneCache("room.txt"), 0);
  EXPECT_FALSE(Exists("data/scenesbin/room.HVX"));
  EXPECT_EQ(scene::InvalidateSceneCache("room.txt"), -1);  // nothing left
  EXPECT_EQ(scene::InvalidateSceneCache("../room.txt"), -1);
}

TEST_F(SceneRoad, CasesOfTheFileSystemAreFound) {
  Put("Data/Scenes/Room.TXT", Scene());
  scene::SceneFile out;
  ASSERT_EQ(scene::LoadSceneData("room.txt", &out), 0) << AllMessages();
  EXPECT_TRUE(Exists("Data/scenesbin/room.HVX"));
  ASSERT_EQ(scene::LoadSceneData("ROOM.txt", &out), 0) << AllMessages();
}

}  // namespace

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "app/core/core.h"
#include "tests/support/support.h"

using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::ReadFile;
using testing_support::MakeDirs;
using testing_support::ListDir;

namespace {

class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { core::StartFileLayer(dir.path()); }
  void TearDown() override { core::StopFileLayer(); }
  TempDir dir;
};

std::vector<std::string> ListAll(const char* folder, const char* pattern) {
  std::vector<std::string> out;
  if (!core::FindFirst(folder, pattern)) return out;
  std::string path;
  while (core::FindNext(&path)) out.push_back(path);
  return out;
}

TEST(PathUtilities, NormalizeLowersAndCollapsesSeparators) {
  EXPECT_EQ(core::NormalizePath("Data\\Shaders\\\\x.txt"), "data/shaders/x.txt");
  EXPECT_EQ(core::NormalizePath("a//"), "a/");
  EXPECT_EQ(core::NormalizePath("A/\\/b"), "a/b");
  // Bytes above 0x7F are not letters.
  EXPECT_EQ(core::NormalizePath("\xC3\x89T\xC3\x89"), "\xC3\x89t\xC3\x89");
}

TEST(PathUtilities, BaseNameStripExtensionAndExtension) {
  EXPECT_EQ(core::BaseName("effects//my.fx"), "my");
  EXPECT_EQ(core::BaseName("a.b/c"), "c");
  EXPECT_EQ(core::BaseName("effects//."), "");
  EXPECT_EQ(core::BaseName("effects//.."), ".");
  EXPECT_EQ(core::BaseName("x\\y.tar.gz"), "y.tar");
  EXPECT_EQ(core::Extension("scene.HVX"), "HVX");
  EXPECT_EQ(core::Extension("dir.x/file"), "");
  EXPECT_EQ(core::Extension("noext"), "");
  EXPECT_EQ(core::StripExtension("image.tga"), "image");
  EXPECT_EQ(core::StripExtension("image"), "image");
}

TEST(PathUtilities, PatternMatchingIgnoresAsciiCase) {
  EXPECT_TRUE(core::MatchPatternNoCase("*.txt", "Shader.TXT"));
  EXPECT_TRUE(core::MatchPatternNoCase("*", "."));
  EXPECT_TRUE(core::MatchPatternNoCase("a?c*", "ABCdef"));
  EXPECT_FALSE(core::MatchPatternNoCase("*.txt", "shader.txt.bak"));
  EXPECT_TRUE(core::MatchPatternNoCase("*a*b", "xxaxxab"));
}

// Readers that take a File read bytes in memory the same way: seeks,
// the length from the end, a short read at the end; nothing is written.
TEST(MemoryFile, ReadsSeeksAndEndsLikeAFile) {
  const std::string bytes = "0123456789";
  core::FilePtr file(core::OpenMemoryFile(bytes.data(), bytes.size(), "pictures.bin"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->DiskPath(), "pictures.bin");
  char out[8] = {};
  ASSERT_EQ(file->Read(out, 1, 4), 4u);
  EXPECT_EQ(std::string(out, 4), "0123");
  EXPECT_EQ(file->Tell(), 4);
  ASSERT_EQ(file->Seek(0, SEEK_END), 0);
  EXPECT_EQ(file->Tell(), 10);
  ASSERT_EQ(file->Seek(7, SEEK_SET), 0);
  EXPECT_EQ(file->Read(out, 1, 8), 3u);
  EXPECT_EQ(std::string(out, 3), "789");
  EXPECT_EQ(file->Write("x", 1, 1), 0u);
  EXPECT_EQ(bytes, "0123456789");

  core::FilePtr empty(core::OpenMemoryFile(nullptr, 0, nullptr));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Read(out, 1, 1), 0u);
  EXPECT_EQ(core::OpenMemoryFile(nullptr, 5, "x"), nullptr);
}

TEST_F(FileLayerTest, ReadsThroughCaseInsensitiveComponents) {
  MakeDirs(dir / "effects/Tunnel/data");
  WriteFile(dir / "effects/Tunnel/data/Script.txt", "hello");
  std::string contents;
  ASSERT_TRUE(core::ReadWholeFile("effects/TUNNEL/data/script.txt", &contents));
  EXPECT_EQ(contents, "hello");
  ASSERT_TRUE(core::ReadWholeFile("EFFECTS\\tunnel//DATA\\SCRIPT.TXT", &contents));
  EXPECT_EQ(contents, "hello");
  EXPECT_FALSE(core::ReadWholeFile("effects/tunnel/data/missing.txt", &contents));
  EXPECT_EQ(core::OpenDataFile("effects/nothere/x", "rb"), nullptr);
}

TEST_F(FileLayerTest, ExactSpellingWinsThenFirstSortedVariant) {
  WriteFile(dir / "Song.txt", "upper");
  WriteFile(dir / "song.txt", "lower");
  WriteFile(dir / "SONG.txt", "caps");
  std::string contents;
  ASSERT_TRUE(core::ReadWholeFile("song.txt", &contents));
  EXPECT_EQ(contents, "lower");
  ASSERT_TRUE(core::ReadWholeFile("sOnG.txt", &contents));
  EXPECT_EQ(contents, "caps");  // "SONG.txt" sorts before "Song.txt"
}

TEST_F(FileLayerTest, WritingReplacesExistingCaseVariant) {
  WriteFile(dir / "MyShow.HVR", "old");
  core::FilePtr file(core::OpenDataFile("myshow.hvr", "wt"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->WriteText("new 100%"), 0);
  file.reset();
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"MyShow.HVR"});
  EXPECT_EQ(ReadFile(dir / "MyShow.HVR"), "new 100%");
}

TEST_F(FileLayerTest, NewFilesKeepTheCallersSpelling) {
  MakeDirs(dir / "Presets");
  ASSERT_EQ(core::WriteWholeFileAtomic("presets/LiveSet.HVR", "x"), 0);
  EXPECT_EQ(ListDir(dir / "Presets"), std::vector<std::string>{"LiveSet.HVR"});
  // A missing folder along the way is an error, not created.
  EXPECT_EQ(core::OpenDataFile("nofolder/file.txt", "wt"), nullptr);
}

TEST_F(FileLayerTest, AtomicWriteLeavesOldFileUntilCommitted) {
  WriteFile(dir / "keep.txt", "previous");
  {
    core::FilePtr file(core::OpenAtomicFile("KEEP.txt"));
    ASSERT_TRUE(file);
    file->WriteText("half-writ");
    // Interrupted: closed without Commit().
  }
  EXPECT_EQ(ReadFile(dir / "keep.txt"), "previous");
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"keep.txt"});  // no temporary left
  {
    core::FilePtr file(core::OpenAtomicFile("KEEP.txt"));
    ASSERT_TRUE(file);
    file->WriteText("complete");
    EXPECT_EQ(file->Commit(), 0);
  }
  EXPECT_EQ(ReadFile(dir / "keep.txt"), "complete");
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"keep.txt"});
}

TEST_F(FileLayerTest, AtomicWriteKeepsPermissions) {
  WriteFile(dir / "mode.txt", "a");
  chmod((dir / "mode.txt").c_str(), 0640);
  ASSERT_EQ(core::WriteWholeFileAtomic("mode.txt", "b"), 0);
  struct stat st {};
  ASSERT_EQ(stat((dir / "mode.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileLayerTest, ListingIsSortedAndIncludesDotEntries) {
  MakeDirs(dir / "effects/zeta");
  MakeDirs(dir / "effects/Alpha");
  MakeDirs(dir / "effects/my.fx");
  WriteFile(dir / "effects/readme.txt", "");
  EXPECT_EQ(ListAll("effects/", "*"),
            (std::vector<std::string>{"effects//.", "effects//..", "effects//Alpha", "effects//my.fx",
                                      "effects//readme.txt", "effects//zeta"}));
  EXPECT_EQ(ListAll("EFFECTS", "*.TXT"), std::vector<std::string>{"EFFECTS/readme.txt"});
  EXPECT_FALSE(core::FindFirst("nosuchdir", "*"));
  std::string path;
  EXPECT_FALSE(core::FindNext(&path));
}

TEST_F(FileLayerTest, NewListingReplacesTheOldOne) {
  MakeDirs(dir / "a");
  MakeDirs(dir / "b");
  WriteFile(dir / "a/1.txt", "");
  WriteFile(dir / "b/2.txt", "");
  ASSERT_TRUE(core::FindFirst("a", "*.txt"));
  ASSERT_TRUE(core::FindFirst("b", "*.txt"));
  std::string path;
  ASSERT_TRUE(core::FindNext(&path));
  EXPECT_EQ(path, "b/2.txt");
  EXPECT_FALSE(core::FindNext(&path));
}

TEST_F(FileLayerTest, LongNamesWork) {
  std::string name(250, 'n');
  std::string deep = dir.path();
  for (int i = 0; i < 6; ++i) {
    deep += "/" + name.substr(0, 200 + i);
    MakeDirs(deep);
  }
  WriteFile(deep + "/" + name, "deep");
  std::string relative = deep.substr(dir.path().size() + 1) + "/" + core::AsciiToUpper(name);
  std::string contents;
  ASSERT_TRUE(core::ReadWholeFile(relative, &contents));
  EXPECT_EQ(contents, "deep");
}

TEST_F(FileLayerTest, BaseFolderStackResolvesEffectRelativePaths) {
  MakeDirs(dir / "effects/Tunnel/data");
  MakeDirs(dir / "data");
  WriteFile(dir / "effects/Tunnel/data/script.txt", "effect");
  WriteFile(dir / "data/script.txt", "show");
  core::PushBaseFolder("EFFECTS/tunnel");
  std::string contents;
  ASSERT_TRUE(core::ReadWholeFile("data/script.txt", &contents));
  EXPECT_EQ(contents, "effect");
  core::PopBaseFolder();
  ASSERT_TRUE(core::ReadWholeFile("data/script.txt", &contents));
  EXPECT_EQ(contents, "show");
}

TEST(FileLayerFallback, MissingDataFilesComeFromTheInstallation) {
  TempDir show, install;
  MakeDirs(show / "data/shaders");
  MakeDirs(install / "data/shaders");
  WriteFile(install / "data/shaders/base.txt", "installed");
  WriteFile(install / "data/shaders/own.txt", "installed");
  WriteFile(show / "data/shaders/own.txt", "show");
  WriteFile(install / "other.txt", "never");
  core::StartFileLayer(show.path(), install.path());
  std::string contents;
  ASSERT_TRUE(core::ReadWholeFile("data/shaders/BASE.txt", &contents));
  EXPECT_EQ(contents, "installed");
  ASSERT_TRUE(core::ReadWholeFile("data/shaders/own.txt", &contents));
  EXPECT_EQ(contents, "show");
  EXPECT_FALSE(core::ReadWholeFile("other.txt", &contents));
  // Writes never go to the installation.
  EXPECT_EQ(core::OpenDataFile("data/textures/new.txt", "wt"), nullptr);
  core::StopFileLayer();
}

TEST_F(FileLayerTest, FileOperations) {
  WriteFile(dir / "lines.txt", "first line\nsecond\n");
  core::FilePtr file(core::OpenDataFile("LINES.TXT", "rb"));
  ASSERT_TRUE(file);
  char line[8];
  ASSERT_TRUE(file->ReadLine(line, sizeof line));
  EXPECT_STREQ(line, "first l");
  EXPECT_EQ(file->Seek(0, SEEK_END), 0);
  EXPECT_EQ(file->Tell(), 18);
  EXPECT_EQ(file->Seek(11, SEEK_SET), 0);
  char buffer[7] = {};
  EXPECT_EQ(file->Read(buffer, 6, 1), 1u);
  EXPECT_STREQ(buffer, "second");
  EXPECT_EQ(file->Read(buffer, 6, 1), 0u);
}

}  // namespace

namespace {

TEST_F(FileLayerTest, DeleteFileRemovesOneFileOnly) {
  MakeDirs(dir / "Data/ScenesBin");
  WriteFile(dir / "Data/ScenesBin/City.HVX", "x");
  EXPECT_EQ(core::DeleteFile("data/scenesbin/city.hvx"), 0);  // any case
  EXPECT_FALSE(testing_support::Exists(dir / "Data/ScenesBin/City.HVX"));
  EXPECT_EQ(core::DeleteFile("data/scenesbin/city.hvx"), -1);  // gone
  EXPECT_EQ(core::DeleteFile("data/scenesbin"), -1);           // never a folder
  EXPECT_TRUE(testing_support::Exists(dir / "Data/ScenesBin"));
  EXPECT_EQ(core::DeleteFile("nowhere/x"), -1);
}

TEST_F(FileLayerTest, MakeFoldersCreatesMissingComponentsAndReusesCaseVariants) {
  MakeDirs(dir / "Data");
  EXPECT_EQ(core::MakeFolders("data/scenesbin/a/b"), 0);
  EXPECT_TRUE(testing_support::Exists(dir / "Data/scenesbin/a/b"));
  EXPECT_FALSE(testing_support::Exists(dir / "data"));
  EXPECT_EQ(core::MakeFolders("DATA\\ScenesBin\\a\\"), 0);  // exists already
  EXPECT_EQ(ListDir(dir / "Data"), std::vector<std::string>{"scenesbin"});
  WriteFile(dir / "file", "x");
  EXPECT_EQ(core::MakeFolders("file/sub"), -1);  // a file is in the way
  EXPECT_EQ(core::MakeFolders(""), -1);
  std::string absolute = dir / "abs/one";
  EXPECT_EQ(core::MakeFolders(absolute), 0);
  EXPECT_TRUE(testing_support::Exists(absolute));
}

}  // namespace

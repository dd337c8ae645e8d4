// The loader thread on its own: pictures and texts decoded beside the
// caller, failures reported, cancelled jobs leaving nothing behind, and a
// stop with work queued. Also runs under ThreadSanitizer (tests/threads).
#include <gtest/gtest.h>

#include <string>

#include "app/core/core.h"
#include "fx/loading.h"
#include "tests/support/support.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

// An uncompressed 24-bit TGA, top row first, every pixel (b, g, r) = (x, y, 7).
std::string Tga(int width, int height) {
  std::string file(18, '\0');
  file[2] = 2;
  file[12] = static_cast<char>(width);
  file[14] = static_cast<char>(height);
  file[16] = 24;
  file[17] = 0x20;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) file += {static_cast<char>(x), static_cast<char>(y), 7};
  return file;
}

class LoaderThread : public ::testing::Test {
 protected:
  void SetUp() override {
    core::StartFileLayer(dir.path());
    ASSERT_EQ(loader.Start(), 0);
  }
  void TearDown() override {
    loader.Stop();
    core::StopFileLayer();
  }
  TempDir dir;
  fx::Loader loader;
};

TEST_F(LoaderThread, PicturesAndTextsArriveDecodedAndMissingFilesFail) {
  WriteFile(dir / "a.tga", Tga(5, 3));
  WriteFile(dir / "script.txt", "SYNCTIME 1\n");
  loader.QueuePicture(1, "pic", dir / "a.tga");
  loader.QueueText(1, "text", dir / "script.txt");
  loader.QueuePicture(1, "missing", dir / "nothing.tga");

  ASSERT_EQ(loader.Wait("pic"), fx::Loader::State::kReady);
  ASSERT_EQ(loader.Wait("text"), fx::Loader::State::kReady);
  EXPECT_EQ(loader.Wait("missing"), fx::Loader::State::kFailed);
  EXPECT_EQ(loader.WaitingBytes(), 5u * 3u * 3u);

  std::unique_ptr<media::Image> picture = loader.TakePicture("pic");
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->width, 5u);
  ASSERT_EQ(picture->height, 3u);
  EXPECT_EQ(picture->PixelAt(4, 2)[0], 4);
  EXPECT_EQ(picture->PixelAt(4, 2)[1], 2);
  std::string text;
  ASSERT_TRUE(loader.TakeText("text", &text));
  EXPECT_EQ(text, "SYNCTIME 1\n");
  EXPECT_EQ(loader.WaitingBytes(), 0u);
  EXPECT_EQ(loader.Query("pic"), fx::Loader::State::kUnknown);
  loader.Forget("missing");
  EXPECT_EQ(loader.Query("missing"), fx::Loader::State::kUnknown);
}

TEST_F(LoaderThread, ACancelledJobLeavesNothingWhileAnotherJobFinishes) {
  WriteFile(dir / "big.tga", Tga(200, 200));
  WriteFile(dir / "other.txt", "kept");
  for (int i = 0; i < 30; ++i) loader.QueuePicture(1, "p" + std::to_string(i), dir / "big.tga");
  loader.QueueText(2, "other", dir / "other.txt");
  loader.CancelJob(1);
  EXPECT_EQ(loader.Wait("other"), fx::Loader::State::kReady);
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(loader.Wait("p" + std::to_string(i)), fx::Loader::State::kUnknown) << i;
  EXPECT_EQ(loader.WaitingBytes(), 0u);
  std::string text;
  ASSERT_TRUE(loader.TakeText("other", &text));
  EXPECT_EQ(text, "kept");
}

TEST_F(LoaderThread, StoppingWithWorkQueuedDropsItAndAFreshStartWorks) {
  WriteFile(dir / "big.tga", Tga(200, 200));
  for (int i = 0; i < 30; ++i) loader.QueuePicture(1, "p" + std::to_string(i), dir / "big.tga");
  loader.Stop();
  EXPECT_FALSE(loader.Running());
  EXPECT_EQ(loader.Query("p29"), fx::Loader::State::kUnknown);
  EXPECT_EQ(loader.WaitingBytes(), 0u);
  ASSERT_EQ(loader.Start(), 0);
  loader.QueuePicture(3, "again", dir / "big.tga");
  EXPECT_EQ(loader.Wait("again"), fx::Loader::State::kReady);
}

}  // namespace

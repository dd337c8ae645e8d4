// The FFmpeg video source: exact frames by number in every codec, the frame
// grid, pixel conversion checked against pixels written by hand, and the
// files it must refuse or survive. Clips are made here, at test time.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "media/media.h"
#include "tests/media/video_clips.h"
#include "tests/support/support.h"

namespace {

using video_test::Ffmpeg;
using video_test::PixelAt;
using video_test::ReadNumber;

media::Image Picture(const media::VideoFrameSource& source) {
  media::Image image;
  EXPECT_EQ(media::CreateImage(&image, media::MakeHeader(source.Width(), source.Height(), media::PF_XRGB32)), 0);
  return image;
}

bool Near(uint32_t got, uint32_t want, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int a = static_cast<int>((got >> shift) & 0xff), b = static_cast<int>((want >> shift) & 0xff);
    if (a - b > tolerance || b - a > tolerance) return false;
  }
  return true;
}

class VideoCodecTest : public ::testing::TestWithParam<video_test::Codec> {
 protected:
  testing_support::TempDir dir;
};

TEST_P(VideoCodecTest, EveryFrameReadsItsNumberForwardRandomAndBackward) {
  const video_test::Codec& codec = GetParam();
  if (!video_test::HaveEncoder(codec.encoder)) GTEST_SKIP() << "ffmpeg has no " << codec.encoder << " encoder";
  const std::string path = dir / (std::string("bits.") + codec.extension);
  ASSERT_EQ(video_test::MakeBitsClip(path, codec.options), 0);
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "bits", &error), 0) << error;
  EXPECT_EQ(video.FrameCount(), 100);
  EXPECT_DOUBLE_EQ(video.Duration(), 4.0);
  media::Image picture = Picture(video);

  std::vector<int64_t> order;
  for (int64_t n = 0; n < 100; ++n) order.push_back(n);
  std::mt19937 random(28);
  for (int i = 0; i < 200; ++i) order.push_back(static_cast<int64_t>(random() % 100));
  for (int64_t n = 99; n >= 0; --n) order.push_back(n);
  for (size_t i = 0; i < order.size(); ++i) {
    const int64_t n = order[i];
    ASSERT_EQ(video.DecodeFrame(n, &picture), 0) << "request " << i << ": frame " << n;
    ASSERT_EQ(ReadNumber(picture), n) << "request " << i;
  }
  EXPECT_EQ(video.TakeNotice(), "");
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoCodecTest, ::testing::ValuesIn(video_test::kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

class VideoTest : public ::testing::Test {
 protected:
  testing_support::TempDir dir;
};

TEST_F(VideoTest, ThirtyFrameTimesAsFloatsGiveTheirFrame) {
  const std::string path = dir / "thirty.avi";
  ASSERT_EQ(video_test::MakeBitsClip(path, "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p", 30, 2.0), 0);
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "thirty", &error), 0) << error;
  ASSERT_EQ(video.FrameCount(), 60);
  media::Image picture = Picture(video);
  const float start = 7.3f;  // a script start time: the effect subtracts it in float
  for (int k = 0; k < 60; ++k) {
    const float t = start + static_cast<float>(k) / 30.0f;
    const int64_t n = video.TimeToFrame(static_cast<double>(t) - static_cast<double>(start));
    ASSERT_EQ(n, k);
    ASSERT_EQ(video.DecodeFrame(n, &picture), 0);
    ASSERT_EQ(ReadNumber(picture), k);
  }
  EXPECT_EQ(video.TimeToFrame(video.Duration()), 0);
  EXPECT_EQ(video.TimeToFrame(video.Duration() - 0.02), 59);
  EXPECT_EQ(video.TimeToFrame(-0.01), 59);  // before the start: wrapped, not mirrored
  EXPECT_EQ(video.TimeToFrame(3 * video.Duration() + 0.5 / 30.0), 0);
}

TEST(VideoFrameAt, DegenerateInputsGiveFrameZero) {
  EXPECT_EQ(media::VideoFrameAt(1.0, 25.0, 0), 0);
  EXPECT_EQ(media::VideoFrameAt(1.0, 0.0, 100), 0);
  EXPECT_EQ(media::VideoFrameAt(std::nan(""), 25.0, 100), 0);
  EXPECT_EQ(media::VideoFrameAt(1e300, 25.0, 100), 0);
}

// Bitmaps written byte by byte: orientation, row padding, bit depths.
struct BitmapCase {
  const char* name;
  uint32_t bits;
  std::vector<uint32_t> palette;
  uint32_t background, top_left, top_right, bottom_right;  // stored pixel values
  uint32_t want_background, want_top_left, want_top_right, want_bottom_right;
};

std::string Bitmap(const BitmapCase& c, uint32_t width, uint32_t height) {
  const uint32_t bytes = c.bits / 8;
  const uint32_t row = (width * bytes + 3) / 4 * 4;
  std::string data(static_cast<size_t>(row) * height, '\0');
  for (uint32_t y = 0; y < height; ++y) {  // y counted from the top
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t value = c.background;
      if (y == 0 && x == 0) value = c.top_left;
      if (y == 0 && x == width - 1) value = c.top_right;
      if (y == height - 1 && x == width - 1) value = c.bottom_right;
      char* p = &data[static_cast<size_t>(height - 1 - y) * row + static_cast<size_t>(x) * bytes];
      for (uint32_t b = 0; b < bytes; ++b) p[b] = static_cast<char>((value >> (8 * b)) & 0xff);
    }
  }
  return data;
}

TEST_F(VideoTest, UncompressedBitmapsConvertByHand) {
  const std::vector<BitmapCase> cases = {
      {"bgr24", 24, {}, 0x102030, 0xFF0000, 0x00FF00, 0x0000FF, 0x102030, 0xFF0000, 0x00FF00, 0x0000FF},
      // 5-5-5: white widens to full white, 0x10C0F0 (2, 24, 30) by bit replication.
      {"rgb555", 16, {}, 0x0B1E, 0x7FFF, 0x7C00, 0x001F, 0x10C6F7, 0xFFFFFF, 0xFF0000, 0x0000FF},
      {"pal8", 8, {0x123456, 0xABCDEF, 0xFF8000, 0x00FF40}, 0, 1, 2, 3, 0x123456, 0xABCDEF, 0xFF8000, 0x00FF40},
  };
  const uint32_t width = 161, height = 121;  // rows of 483, 322 and 161 bytes need padding
  for (const BitmapCase& c : cases) {
    SCOPED_TRACE(c.name);
    video_test::RawAvi avi;
    avi.width = width;
    avi.height = height;
    avi.bits = c.bits;
    avi.palette = c.palette;
    avi.palette.resize(c.bits == 8 ? 256 : 0, 0);
    avi.frames.assign(3, Bitmap(c, width, height));
    const std::string path = dir / (std::string(c.name) + ".avi");
    video_test::WriteRawAvi(path, avi);
    media::AviVideo video;
    std::string error;
    ASSERT_EQ(video.OpenDisk(path, c.name, &error), 0) << error;
    ASSERT_EQ(video.Width(), width);
    ASSERT_EQ(video.Height(), height);
    EXPECT_EQ(video.FrameCount(), 3);
    media::Image picture = Picture(video);
    ASSERT_EQ(video.DecodeFrame(1, &picture), 0);
    EXPECT_EQ(PixelAt(picture, 0, 0), c.want_top_left);
    EXPECT_EQ(PixelAt(picture, width - 1, 0), c.want_top_right);
    EXPECT_EQ(PixelAt(picture, width - 1, height - 1), c.want_bottom_right);
    EXPECT_EQ(PixelAt(picture, 1, 0), c.want_background);
    EXPECT_EQ(PixelAt(picture, 0, height - 1), c.want_background);
    EXPECT_EQ(PixelAt(picture, width / 2, height / 2), c.want_background);
  }
}

struct SolidCase {
  const char* name;
  const char* encoder;
  std::string options;
  int tolerance;
};

TEST_F(VideoTest, SolidColoursKeepTheirRangeAndMatrix) {
  const std::string rgb = "color=c=0xC86432:r=25:d=0.2:s=";
  const std::string to709 = ",format=rgb24,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p";
  const std::vector<SolidCase> cases = {
      {"mjpeg", "mjpeg", "-f lavfi -i " + rgb + "64x48 -c:v mjpeg -q:v 2 -pix_fmt yuvj420p", 3},
      {"h264_640_tagged", "libx264",
       "-f lavfi -i " + rgb + "640x480" + to709 +
           " -c:v libx264 -colorspace bt709 -color_primaries bt709 -color_trc bt709",
       4},
      {"h264_720_untagged", "libx264", "-f lavfi -i " + rgb + "1280x720" + to709 + " -c:v libx264", 4},
  };
  for (const SolidCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!video_test::HaveEncoder(c.encoder)) continue;
    const std::string path = dir / (std::string(c.name) + (std::string(c.encoder) == "mjpeg" ? ".avi" : ".mp4"));
    ASSERT_EQ(Ffmpeg(c.options + " '" + path + "'"), 0);
    media::AviVideo video;
    std::string error;
    ASSERT_EQ(video.OpenDisk(path, c.name, &error), 0) << error;
    media::Image picture = Picture(video);
    ASSERT_EQ(video.DecodeFrame(2, &picture), 0);
    const uint32_t got = PixelAt(picture, video.Width() / 2, video.Height() / 2);
    EXPECT_TRUE(Near(got, 0xC86432, c.tolerance)) << std::hex << got;
  }
}

TEST_F(VideoTest, LargePicturesScaleDownKeepingProportions) {
  const std::string path = dir / "bits.avi";
  ASSERT_EQ(video_test::MakeBitsClip(path, "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), 0);
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "bits", &error), 0) << error;
  video.LimitSize(64, 64);
  EXPECT_EQ(video.Width(), 64u);
  EXPECT_EQ(video.Height(), 48u);
  media::Image picture = Picture(video);
  ASSERT_EQ(video.DecodeFrame(37, &picture), 0);
  EXPECT_EQ(ReadNumber(picture, 8), 37);
}

// JPEG frames of two sizes in one AVI: the second size is scaled to the first.
TEST_F(VideoTest, MidStreamSizeChangeScalesToTheOpenedSize) {
  const std::string small = dir / "small", large = dir / "large";
  testing_support::MakeDirs(small);
  testing_support::MakeDirs(large);
  ASSERT_EQ(video_test::MakeBitsClip(small + "/%03d.jpg", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p -frames:v 10"), 0);
  ASSERT_EQ(Ffmpeg("-f lavfi -i \"nullsrc=s=256x192:r=25:d=1,format=gray,geq=lum='if(lt(Y,32),if(bitand(N+10,"
                   "pow(2,floor(X/32))),255,0),128)',format=yuv420p\" -c:v mjpeg -q:v 3 -pix_fmt yuvj420p "
                   "-frames:v 10 '" + large + "/%03d.jpg'"),
            0);
  video_test::RawAvi avi;
  avi.width = 128;
  avi.height = 96;
  avi.fourcc = 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24;
  for (const std::string& folder : {small, large})
    for (const std::string& name : testing_support::ListDir(folder))
      avi.frames.push_back(testing_support::ReadFile(folder + "/" + name));
  ASSERT_EQ(avi.frames.size(), 20u);
  const std::string path = dir / "sizes.avi";
  video_test::WriteRawAvi(path, avi);
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "sizes", &error), 0) << error;
  media::Image picture = Picture(video);
  for (int64_t n : {3, 15, 19, 4}) {
    ASSERT_EQ(video.DecodeFrame(n, &picture), 0);
    EXPECT_EQ(ReadNumber(picture), n);
  }
}

TEST_F(VideoTest, ZeroRatePlaysAtTwentyFive) {
  video_test::RawAvi avi;
  avi.width = 16;
  avi.height = 16;
  avi.scale = 0;
  avi.rate = 0;
  avi.frames.assign(10, std::string(16 * 16 * 3, '\x40'));
  const std::string path = dir / "norate.avi";
  video_test::WriteRawAvi(path, avi);
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "norate", &error), 0) << error;
  EXPECT_DOUBLE_EQ(video.FrameRate(), 25.0);
  EXPECT_EQ(video.FrameCount(), 10);
}

TEST_F(VideoTest, RefusedFilesSayWhy) {
  const std::string clip = dir / "clip.avi";
  ASSERT_EQ(video_test::MakeBitsClip(clip, "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), 0);
  testing_support::WriteFile(dir / "text.avi", "this is not a video\n");
  testing_support::WriteFile(dir / "list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4.0,\nclip.avi\n#EXT-X-ENDLIST\n");
  testing_support::WriteFile(dir / "list.avi", "ffconcat version 1.0\nfile clip.avi\n");
  ASSERT_EQ(Ffmpeg("-f lavfi -i sine=d=1 -c:a pcm_s16le '" + dir / "audio.avi" + "'"), 0);
  video_test::RawAvi unknown;
  unknown.width = unknown.height = 16;
  unknown.fourcc = 'Z' | 'Z' << 8 | 'Z' << 16 | 'Z' << 24;
  unknown.frames.assign(4, std::string(64, '\x11'));
  video_test::WriteRawAvi(dir / "unknown.avi", unknown);
  video_test::RawAvi empty;
  empty.width = empty.height = 16;
  video_test::WriteRawAvi(dir / "empty.avi", empty);

  const std::string open = "AVIStreamOpenFromFile failed for X: pcFile";
  const struct {
    const char* file;
    std::string message;
  } cases[] = {
      {"missing.avi", open},
      {"text.avi", open},
      {"audio.avi", open},
      {"list.m3u8", open},
      {"list.avi", open},
      {"unknown.avi", "AVIStreamGetFrameOpen failed in 24 and 8 bits for X: pcFile"},
      {"empty.avi", "AVIStreamLength failed for X: pcFile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    media::AviVideo video;
    std::string error;
    EXPECT_EQ(video.OpenDisk(dir / c.file, "X", &error), -1);
    EXPECT_EQ(error, c.message);
    EXPECT_FALSE(video.IsOpen());
  }
}

// Byte offsets of the frames ("00dc" chunks) of an AVI made by ffmpeg.
std::vector<size_t> FrameChunks(const std::string& bytes) {
  std::vector<size_t> at;
  const size_t movi = bytes.find("movi"), index = bytes.rfind("idx1");
  for (size_t p = bytes.find("00dc", movi); p < index; p = bytes.find("00dc", p + 8))
    at.push_back(p);
  return at;
}

TEST_F(VideoTest, TruncatedFileShowsItsLastFrameAndSaysSoOnce) {
  const std::string path = dir / "bits.avi";
  ASSERT_EQ(video_test::MakeBitsClip(path, "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), 0);
  std::string bytes = testing_support::ReadFile(path);
  const std::vector<size_t> frames = FrameChunks(bytes);
  ASSERT_EQ(frames.size(), 100u);
  testing_support::WriteFile(path, bytes.substr(0, frames[60]));  // frames 0..59 remain
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "cut", &error), 0) << error;
  ASSERT_EQ(video.FrameCount(), 100);
  media::Image picture = Picture(video);
  ASSERT_EQ(video.DecodeFrame(80, &picture), 0);
  EXPECT_EQ(ReadNumber(picture), 59);
  EXPECT_NE(video.TakeNotice().find("ends at frame 59 of 100"), std::string::npos);
  ASSERT_EQ(video.DecodeFrame(90, &picture), 0);
  EXPECT_EQ(video.TakeNotice(), "");
  ASSERT_EQ(video.DecodeFrame(0, &picture), 0);  // the loop goes on
  EXPECT_EQ(ReadNumber(picture), 0);
}

TEST_F(VideoTest, FrameThatFailsToDecodeFailsAloneAndSaysSoOnce) {
  const std::string path = dir / "bits.avi";
  ASSERT_EQ(video_test::MakeBitsClip(path, "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), 0);
  std::string bytes = testing_support::ReadFile(path);
  const std::vector<size_t> frames = FrameChunks(bytes);
  ASSERT_EQ(frames.size(), 100u);
  for (size_t p = frames[50] + 8; p < frames[51]; ++p) bytes[p] = '\x5A';  // no JPEG left in frame 50
  testing_support::WriteFile(path, bytes);
  media::AviVideo video;
  std::string error;
  ASSERT_EQ(video.OpenDisk(path, "broken", &error), 0) << error;
  media::Image picture = Picture(video);
  ASSERT_EQ(video.DecodeFrame(49, &picture), 0);
  EXPECT_EQ(ReadNumber(picture), 49);
  EXPECT_EQ(video.DecodeFrame(50, &picture), -1);
  EXPECT_NE(video.TakeNotice().find("frame 50 could not be decoded"), std::string::npos);
  ASSERT_EQ(video.DecodeFrame(51, &picture), 0);
  EXPECT_EQ(ReadNumber(picture), 51);
  EXPECT_EQ(video.DecodeFrame(50, &picture), -1);
  EXPECT_EQ(video.TakeNotice(), "");
}

}  // namespace

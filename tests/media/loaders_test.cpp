// The TGA, BMP and JPEG readers on hand-made files, and loading by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <filesystem>
#include <jpeglib.h>

#include "app/core/core.h"
#include "media/media.h"
#include "tests/media/media_test_util.h"
#include "tests/support/support.h"

using media::Image;
using media_test::BmpSpec;
using media_test::MakeBmp;
using media_test::MakeTga;
using media_test::ReadPixel;
using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class Loaders : public ::testing::Test {
 protected:
  void SetUp() override { core::StartFileLayer(dir.path()); }
  void TearDown() override { core::StopFileLayer(); }

  void Write(const std::string& name, const std::string& contents) { WriteFile(dir / name, contents); }
  // A failed load leaves the image invalid.
  void ExpectRejected(int result, const Image& image) {
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(image.valid);
    EXPECT_STREQ(image.name, "INVALID");
  }

  TempDir dir;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// A solid-colour JPEG of the given kind.
std::string SolidJpeg(int width, int height, int components, int space, std::vector<uint8_t> colour,
                      bool progressive = false) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), colour.begin(), colour.end());
  return media_test::EncodeJpeg(width, height, components, space, pixels, 95, progressive);
}

// ---------------------------------------------------------------------------
// TGA
// ---------------------------------------------------------------------------

TEST_F(Loaders, TgaOriginDecidesWhichRowComesFirst) {
  // Two rows of one pixel: file row 0 blue, file row 1 red (bytes B, G, R).
  const std::string rows = Bytes({0xFF, 0, 0, 0, 0, 0xFF});
  Write("bottom.tga", MakeTga(2, 24, 0x00, 1, 2, rows));
  Write("top.tga", MakeTga(2, 24, 0x20, 1, 2, rows));
  Image image;
  ASSERT_EQ(media::LoadTga(&image, "bottom.tga", true), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);
  EXPECT_EQ(ReadPixel(image, 0, 1), 0xFF0000u);  // first file row at the bottom
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x0000FFu);
  ASSERT_EQ(media::LoadTga(&image, "top.tga", true), 0);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0xFF0000u);
  EXPECT_EQ(ReadPixel(image, 0, 1), 0x0000FFu);
}

TEST_F(Loaders, Tga32KeepsOrForcesAlphaAndSkipsTheIdField) {
  Write("a.tga", MakeTga(2, 32, 0x28, 2, 1, Bytes({1, 2, 3, 0x40, 4, 5, 6, 0x00}), "an id field"));
  Image image;
  ASSERT_EQ(media::LoadTga(&image, "a.tga", true), 0);
  EXPECT_EQ(image.format, media::PF_ARGB32);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x40030201u);
  EXPECT_EQ(ReadPixel(image, 1, 0), 0x00060504u);
  ASSERT_EQ(media::LoadTga(&image, "a.tga", false), 0);
  EXPECT_EQ(image.format, media::PF_XRGB32);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0xFF030201u);
  EXPECT_EQ(ReadPixel(image, 1, 0), 0xFF060504u);
}

TEST_F(Loaders, TgaRunLengthPacketsRepeatAndCopy) {
  // 3 x 2, top-left origin: 0x83 repeats one pixel 4 times (crossing into
  // the second row), then a raw packet of 2 pixels.
  const std::string data = Bytes({0x83, 10, 20, 30, 40, 0x01, 1, 2, 3, 4, 5, 6, 7, 8});
  Write("rle32.tga", MakeTga(10, 32, 0x20, 3, 2, data));
  Image image;
  ASSERT_EQ(media::LoadTga(&image, "rle32.tga", true), 0);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(ReadPixel(image, i % 3, i / 3), 0x281E140Au) << i;
  EXPECT_EQ(ReadPixel(image, 1, 1), 0x04030201u);
  EXPECT_EQ(ReadPixel(image, 2, 1), 0x08070605u);
}

TEST_F(Loaders, TgaRunLength24BitIsDecoded) {
  // 2 x 2, bottom-left origin: first file row (two repeated pixels) at the
  // bottom, then two raw pixels on top.
  const std::string data = Bytes({0x81, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9});
  Write("rle24.tga", MakeTga(10, 24, 0x00, 2, 2, data));
  Image image;
  ASSERT_EQ(media::LoadTga(&image, "rle24.tga", true), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);
  EXPECT_EQ(ReadPixel(image, 0, 1), 0x010203u);
  EXPECT_EQ(ReadPixel(image, 1, 1), 0x010203u);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x040506u);
  EXPECT_EQ(ReadPixel(image, 1, 0), 0x070809u);
}

TEST_F(Loaders, TgaRejectsWhatItCannotReadOrTrust) {
  const std::string pixels(4 * 3, '\x7F');
  Image image;
  struct Case {
    const char* why;
    std::string file;
  } cases[] = {
      {"colour-mapped", MakeTga(2, 24, 0, 2, 2, pixels, "", 1)},
      {"colour-mapped type", MakeTga(1, 8, 0, 2, 2, pixels)},
      {"grey type", MakeTga(3, 8, 0, 2, 2, pixels)},
      {"16-bit pixels", MakeTga(2, 16, 0, 2, 2, pixels)},
      {"zero width", MakeTga(2, 24, 0, 0, 2, pixels)},
      {"zero height", MakeTga(2, 24, 0, 2, 0, pixels)},
      {"absurd width", MakeTga(2, 24, 0, 20000, 2, pixels)},
      {"size beyond the file", MakeTga(2, 24, 0, 16000, 16000, pixels)},
      {"run-length size beyond the file", MakeTga(10, 32, 0, 16384, 16384, Bytes({0xFF, 1, 2, 3, 4}))},
      {"short pixel data", MakeTga(2, 24, 0, 2, 2, pixels.substr(0, 11))},
      {"packet overruns the image", MakeTga(10, 24, 0, 2, 2, Bytes({0x84, 1, 2, 3, 0, 0, 0, 0, 0}))},
      {"run-length data ends early", MakeTga(10, 24, 0, 2, 2, Bytes({0x02, 1, 2, 3, 4, 5, 6, 7, 8}))},
      {"header only", MakeTga(2, 24, 0, 2, 2, "").substr(0, 10)},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Write("bad.tga", c.file);
    ExpectRejected(media::LoadTga(&image, "bad.tga", true), image);
  }
  ExpectRejected(media::LoadTga(&image, "missing.tga", true), image);
}

TEST_F(Loaders, LoadingIntoAnImageReplacesItsContent) {
  Image image;
  ASSERT_EQ(media::CreateImage(&image, media::MakeHeader(64, 64, media::PF_ARGB32)), 0);
  Write("one.tga", MakeTga(2, 24, 0, 1, 1, Bytes({1, 2, 3})));
  ASSERT_EQ(media::LoadTga(&image, "one.tga", true), 0);
  EXPECT_EQ(image.width, 1u);
  Write("bad.tga", "junk");
  ExpectRejected(media::LoadTga(&image, "bad.tga", true), image);
}

// ---------------------------------------------------------------------------
// BMP
// ---------------------------------------------------------------------------

TEST_F(Loaders, Bmp24RowsArePaddedAndBottomUp) {
  BmpSpec spec;
  spec.width = 3;
  spec.height = 2;
  // Bottom row first: three pixels (B, G, R) plus 3 bytes of padding.
  spec.rows = Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0});
  Write("a.bmp", MakeBmp(spec));
  Image image;
  ASSERT_EQ(media::LoadBmp(&image, "a.bmp"), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);
  EXPECT_EQ(ReadPixel(image, 0, 1), 0x010203u);
  EXPECT_EQ(ReadPixel(image, 2, 1), 0x070809u);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x0B0C0Du);
  EXPECT_EQ(ReadPixel(image, 2, 0), 0x111213u);

  // A negative height stores the rows top-down.
  spec.height = -2;
  Write("b.bmp", MakeBmp(spec));
  ASSERT_EQ(media::LoadBmp(&image, "b.bmp"), 0);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x010203u);
  EXPECT_EQ(ReadPixel(image, 2, 1), 0x111213u);
}

TEST_F(Loaders, Bmp8ReadsItsPaletteRightAfterTheInformationHeader) {
  BmpSpec spec;
  spec.bits = 8;
  spec.width = 2;
  spec.height = 1;
  spec.palette.assign(256, 0);
  spec.palette[0] = 0x00112233;
  spec.palette[255] = 0x00AABBCC;
  spec.rows = Bytes({255, 0, 0, 0});
  Write("old.bmp", MakeBmp(spec));
  Image image;
  ASSERT_EQ(media::LoadBmp(&image, "old.bmp"), 0);
  EXPECT_EQ(image.format, media::PF_PAL8);
  ASSERT_NE(image.palette, nullptr);
  EXPECT_EQ(image.palette->format, media::PF_XRGB32);
  EXPECT_EQ(image.palette->entries[0], 0x00112233u);
  EXPECT_EQ(image.palette->entries[255], 0x00AABBCCu);
  EXPECT_EQ(ReadPixel(image, 0, 0), 255u);
  EXPECT_EQ(ReadPixel(image, 1, 0), 0u);

  // A 124-byte header with three palette entries: the palette starts at
  // 14 + 124 and the pixels right after it.
  spec.info_size = 124;
  spec.colours_used = 3;
  spec.palette = {0x00FF0000, 0x0000FF00, 0x000000FF};
  spec.rows = Bytes({2, 1, 0, 0});
  Write("new.bmp", MakeBmp(spec));
  ASSERT_EQ(media::LoadBmp(&image, "new.bmp"), 0);
  EXPECT_EQ(image.palette->entries[0], 0x00FF0000u);
  EXPECT_EQ(image.palette->entries[1], 0x0000FF00u);
  EXPECT_EQ(image.palette->entries[2], 0x000000FFu);
  EXPECT_EQ(image.palette->entries[3], 0u);
  Image argb;
  ASSERT_EQ(media::CreateImage(&argb, media::MakeHeader(2, 1, media::PF_ARGB32)), 0);
  ASSERT_EQ(media::ConvertImage(&argb, image), 0);
  EXPECT_EQ(ReadPixel(argb, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(ReadPixel(argb, 1, 0), 0xFF00FF00u);
}

TEST_F(Loaders, BmpRejectsWhatItCannotReadOrTrust) {
  auto base = [] {
    BmpSpec spec;
    spec.width = 2;
    spec.height = 2;
    spec.rows = std::string(16, '\x10');
    return spec;
  };
  struct Case {
    const char* why;
    std::string file;
  } cases[8 + 8];
  size_t n = 0;
  BmpSpec s = base();
  s.bits = 4;
  cases[n++] = {"4 bits", MakeBmp(s)};
  s = base();
  s.bits = 32;
  cases[n++] = {"32 bits", MakeBmp(s)};
  s = base();
  s.compression = 1;
  cases[n++] = {"run-length compressed", MakeBmp(s)};
  s = base();
  s.info_size = 12;
  cases[n++] = {"short information header", MakeBmp(s)};
  s = base();
  s.width = 0;
  cases[n++] = {"zero width", MakeBmp(s)};
  s = base();
  s.width = -2;
  cases[n++] = {"negative width", MakeBmp(s)};
  s = base();
  s.height = 0;
  cases[n++] = {"zero height", MakeBmp(s)};
  s = base();
  s.height = 20000;
  cases[n++] = {"absurd height", MakeBmp(s)};
  s = base();
  s.height = -2147483647 - 1;
  cases[n++] = {"most negative height", MakeBmp(s)};
  s = base();
  s.width = 4000;
  s.height = 4000;
  cases[n++] = {"size beyond the file", MakeBmp(s)};
  s = base();
  s.data_offset = 1 << 30;
  cases[n++] = {"pixel offset outside the file", MakeBmp(s)};
  s = base();
  s.data_offset = 20;
  cases[n++] = {"pixel offset inside the headers", MakeBmp(s)};
  s = base();
  s.bits = 8;
  s.colours_used = 300;
  s.palette.assign(300, 0);
  cases[n++] = {"more than 256 colours", MakeBmp(s)};
  s = base();
  cases[n] = {"not a BMP", MakeBmp(s)};
  cases[n++].file[0] = 'X';
  s = base();
  cases[n++] = {"short pixel data", MakeBmp(s).substr(0, 54 + 10)};
  cases[n++] = {"short header", MakeBmp(base()).substr(0, 30)};
  Image image;
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(cases[i].why);
    Write("bad.bmp", cases[i].file);
    ExpectRejected(media::LoadBmp(&image, "bad.bmp"), image);
  }
}

TEST_F(Loaders, BmpWithoutTheLastRowsPaddingStillLoads) {
  BmpSpec spec;
  spec.width = 1;
  spec.height = 2;
  spec.rows = Bytes({1, 2, 3, 0, 4, 5, 6});  // the last padding byte is missing
  Write("a.bmp", MakeBmp(spec));
  Image image;
  ASSERT_EQ(media::LoadBmp(&image, "a.bmp"), 0);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x040506u);
}

// ---------------------------------------------------------------------------
// JPEG
// ---------------------------------------------------------------------------

TEST_F(Loaders, JpegDecodesColourFilesIntoRgb24) {
  Write("red.jpg", SolidJpeg(24, 10, 3, JCS_RGB, {250, 20, 30}));
  Write("prog.jpg", SolidJpeg(17, 9, 3, JCS_RGB, {20, 200, 90}, true));
  Image image;
  ASSERT_EQ(media::LoadJpeg(&image, "red.jpg"), 0);
  EXPECT_EQ(image.format, media::PF_RGB24);
  EXPECT_EQ(image.width, 24u);
  EXPECT_EQ(image.height, 10u);
  const uint8_t* p = image.PixelAt(23, 9);
  EXPECT_NEAR(p[0], 250, 3);
  EXPECT_NEAR(p[1], 20, 3);
  EXPECT_NEAR(p[2], 30, 3);
  ASSERT_EQ(media::LoadJpeg(&image, "prog.jpg"), 0);
  p = image.PixelAt(16, 8);
  EXPECT_NEAR(p[0], 20, 3);
  EXPECT_NEAR(p[1], 200, 3);
  EXPECT_NEAR(p[2], 90, 3);
}

TEST_F(Loaders, JpegRejectsGreyAndCmykFiles) {
  Write("grey.jpg", SolidJpeg(8, 8, 1, JCS_GRAYSCALE, {128}));
  Write("cmyk.jpg", SolidJpeg(8, 8, 4, JCS_CMYK, {10, 20, 30, 40}));
  Image image;
  ExpectRejected(media::LoadJpeg(&image, "grey.jpg"), image);
  ExpectRejected(media::LoadJpeg(&image, "cmyk.jpg"), image);
}

// libjpeg's fatal errors come back as a failed load; the process lives on.
TEST_F(Loaders, DamagedJpegFailsWithoutEndingTheProgram) {
  const std::string good = SolidJpeg(16, 16, 3, JCS_RGB, {1, 2, 3});
  Image image;
  Write("empty.jpg", "");
  ExpectRejected(media::LoadJpeg(&image, "empty.jpg"), image);
  Write("text.jpg", "this is not a picture at all");
  ExpectRejected(media::LoadJpeg(&image, "text.jpg"), image);
  Write("soi.jpg", good.substr(0, 2));
  ExpectRejected(media::LoadJpeg(&image, "soi.jpg"), image);
  // A broken marker in the middle of the headers.
  std::string broken = good;
  broken[good.size() / 4] = '\xFF';
  broken[good.size() / 4 + 1] = '\x01';
  Write("broken.jpg", broken);
  int result = media::LoadJpeg(&image, "broken.jpg");
  EXPECT_EQ(result == 0, static_cast<bool>(image.valid));
  // A frame header claiming zero lines.
  std::string zero = good;
  size_t sof = zero.find("\xFF\xC0", 0, 2);
  ASSERT_NE(sof, std::string::npos);
  zero[sof + 5] = 0;
  zero[sof + 6] = 0;
  Write("zero.jpg", zero);
  ExpectRejected(media::LoadJpeg(&image, "zero.jpg"), image);
  // And a good file still decodes afterwards.
  Write("good.jpg", good);
  EXPECT_EQ(media::LoadJpeg(&image, "good.jpg"), 0);
}

// libjpeg's warnings and errors are diagnostics: they go to the trace.
TEST_F(Loaders, JpegWarningsAndErrorsGoToTheTrace) {
  // Noise, so that the entropy-coded data is most of the file.
  std::vector<uint8_t> noise(64 * 64 * 3);
  media_test::Random random(1);
  for (uint8_t& v : noise) v = static_cast<uint8_t>(random.Next());
  const std::string good = media_test::EncodeJpeg(64, 64, 3, JCS_RGB, noise);
  Write("cut.jpg", good.substr(0, good.size() * 2 / 3));
  Write("text.jpg", "not a picture");
  const std::string trace = dir / "trace.txt";
  ASSERT_EQ(core::SetTraceFile(trace.c_str()), 0);
  Image image;
  EXPECT_EQ(media::LoadJpeg(&image, "cut.jpg"), 0);  // the missing part comes out grey
  EXPECT_EQ(media::LoadJpeg(&image, "text.jpg"), -1);
  core::SetTraceFile(nullptr);
  const std::string text = testing_support::ReadFile(trace);
  EXPECT_NE(text.find("media: jpeg: Premature end of JPEG file"), std::string::npos) << text;
  EXPECT_NE(text.find("media: jpeg: Not a JPEG file"), std::string::npos) << text;
}

// A valid progressive 8x8 file with one DC scan and, per component and
// coefficient, a first scan at `precision` bits less plus one refinement
// per dropped bit: 1 + 3 x 63 x (precision + 1) scans.
std::string ManyScanJpeg(int precision) {
  std::vector<jpeg_scan_info> script;
  script.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
  for (int c = 0; c < 3; ++c)
    for (int k = 1; k < 64; ++k) {
      script.push_back({1, {c, 0, 0, 0}, k, k, 0, precision});
      for (int al = precision; al > 0; --al) script.push_back({1, {c, 0, 0, 0}, k, k, al, al - 1});
    }
  std::vector<uint8_t> pixels(8 * 8 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37);
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 8;
  info.image_height = 8;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  info.scan_info = script.data();
  info.num_scans = static_cast<int>(script.size());
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < 8) {
    JSAMPROW row = &pixels[info.next_scanline * 8 * 3];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  free(buffer);
  return out;
}

TEST_F(Loaders, JpegWithThousandsOfScansIsRefused) {
  Write("190.jpg", ManyScanJpeg(0));
  Write("1135.jpg", ManyScanJpeg(5));
  const std::string trace = dir / "trace.txt";
  ASSERT_EQ(core::SetTraceFile(trace.c_str()), 0);
  Image image;
  EXPECT_EQ(media::LoadJpeg(&image, "190.jpg"), 0);
  ExpectRejected(media::LoadJpeg(&image, "1135.jpg"), image);
  core::SetTraceFile(nullptr);
  EXPECT_NE(testing_support::ReadFile(trace).find("more than 1000 scans"), std::string::npos);
}

TEST_F(Loaders, TruncatedJpegIsFilledInOrRejected) {
  const std::string good = SolidJpeg(64, 64, 3, JCS_RGB, {100, 150, 200});
  Image image;
  for (size_t length = 0; length < good.size(); length += 7) {
    Write("cut.jpg", good.substr(0, length));
    int result = media::LoadJpeg(&image, "cut.jpg");
    ASSERT_EQ(result == 0, static_cast<bool>(image.valid)) << length;
    if (result == 0) {
      EXPECT_EQ(image.width, 64u);
    }
  }
}

// ---------------------------------------------------------------------------
// Loading by name
// ---------------------------------------------------------------------------

TEST_F(Loaders, ColourAndAlphaJpegsPairIntoArgb) {
  MakeDirs(dir / "data/textures");
  Write("data/textures/WALL@RGB.JPG", SolidJpeg(16, 8, 3, JCS_RGB, {200, 100, 50}));
  Write("data/textures/WALL@ALPHA.JPG", SolidJpeg(16, 8, 3, JCS_RGB, {64, 255, 255}));
  Write("data/textures/WALL.JPG", SolidJpeg(4, 4, 3, JCS_RGB, {0, 0, 0}));
  Image image;
  ASSERT_EQ(media::LoadImage(&image, "data/textures/WALL", true), 0);
  EXPECT_EQ(image.format, media::PF_ARGB32);
  EXPECT_EQ(image.width, 16u);
  uint32_t p = ReadPixel(image, 5, 5);
  EXPECT_NEAR(static_cast<int>(p >> 24), 64, 2);  // the alpha file's red
  EXPECT_NEAR(static_cast<int>(p >> 16 & 0xFF), 200, 3);
  EXPECT_NEAR(static_cast<int>(p >> 8 & 0xFF), 100, 3);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 50, 3);

  // The pair also wins over a named extension, and names ignore case.
  ASSERT_EQ(media::LoadImage(&image, "data/Textures/wall.jpg", true), 0);
  EXPECT_EQ(image.width, 16u);

  // Without pairing, the plain file.
  ASSERT_EQ(media::LoadImage(&image, "data/textures/WALL", false), 0);
  EXPECT_EQ(image.width, 4u);
  EXPECT_EQ(image.format, media::PF_RGB24);
}

// A mask is usually saved as a one-channel grey JPEG: it pairs, its grey
// becoming the alpha. On its own a grey JPEG is still no picture.
TEST_F(Loaders, AGreyAlphaFilePairsWithItsColourFile) {
  Write("MASK@RGB.JPG", SolidJpeg(16, 8, 3, JCS_RGB, {200, 100, 50}));
  Write("MASK@ALPHA.JPG", SolidJpeg(16, 8, 1, JCS_GRAYSCALE, {77}));
  Write("MASK.TGA", MakeTga(2, 24, 0, 1, 1, Bytes({1, 2, 3})));
  Image image;
  ASSERT_EQ(media::LoadImage(&image, "MASK", true), 0);
  ASSERT_EQ(image.format, media::PF_ARGB32);
  ASSERT_EQ(image.width, 16u);
  const uint32_t pixel = ReadPixel(image, 5, 3);
  EXPECT_NEAR(static_cast<int>(pixel >> 24), 77, 2);
  EXPECT_NEAR(static_cast<int>((pixel >> 16) & 0xFF), 200, 3);
  EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 50, 3);
  ExpectRejected(media::LoadJpeg(&image, "MASK@ALPHA.JPG"), image);
  ExpectRejected(media::LoadImage(&image, "MASK@ALPHA.JPG", false), image);
}

// Where the first scan's header ends in a JPEG's bytes.
size_t AfterScanHeader(const std::string& jpeg) {
  const size_t sos = jpeg.find("\xFF\xDA", 0, 2);
  if (sos == std::string::npos) return std::string::npos;
  return sos + 2 + (static_cast<uint8_t>(jpeg[sos + 2]) << 8 | static_cast<uint8_t>(jpeg[sos + 3]));
}

// The frame header's declared size, patched.
std::string Declare(std::string jpeg, int width, int height) {
  size_t sof = jpeg.find("\xFF\xC0", 0, 2);
  if (sof == std::string::npos) sof = jpeg.find("\xFF\xC2", 0, 2);
  if (sof == std::string::npos) return jpeg;
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width);
  return jpeg;
}

// A header declaring a huge picture in a few hundred bytes used to decode
// "successfully" into hundreds of MiB of grey. Photos cut short still load.
TEST_F(Loaders, AJpegMustHoldPictureDataForTheSizeItDeclares) {
  std::vector<uint8_t> noise(64 * 64 * 3);
  media_test::Random random(7);
  for (uint8_t& v : noise) v = static_cast<uint8_t>(random.Next());
  const std::string photo = media_test::EncodeJpeg(64, 64, 3, JCS_RGB, noise);
  const size_t data = AfterScanHeader(photo);
  ASSERT_LT(data + 100, photo.size());
  const std::string trace = dir / "trace.txt";
  ASSERT_EQ(core::SetTraceFile(trace.c_str()), 0);

  struct Case {
    const char* name;
    std::string bytes;
    bool loads;
  };
  const Case cases[] = {
      {"header only, huge", Declare(photo, 8192, 8192).substr(0, data), false},
      {"header and end marker", photo.substr(0, data) + "\xFF\xD9", false},
      {"header only", photo.substr(0, data), false},
      {"huge with a little data", Declare(photo, 8192, 8192), false},
      {"cut inside the data", photo.substr(0, data + (photo.size() - data) / 3), true},
      {"whole", photo, true},
  };
  for (const Case& c : cases) {
    Write("case.jpg", c.bytes);
    Image image;
    if (c.loads) {
      ASSERT_EQ(media::LoadJpeg(&image, "case.jpg"), 0) << c.name;
      EXPECT_EQ(image.width, 64u) << c.name;
    } else {
      ExpectRejected(media::LoadJpeg(&image, "case.jpg"), image);
    }
  }
  core::SetTraceFile(nullptr);
  const std::string text = testing_support::ReadFile(trace);
  EXPECT_NE(text.find("ends before its picture data"), std::string::npos) << text;
  EXPECT_NE(text.find("8192 x 8192 cannot be encoded in"), std::string::npos) << text;
}

// The bound is loose: flat pictures, the most compressible there are, load
// at any size the loaders accept, baseline and progressive.
TEST_F(Loaders, FlatJpegsOfManyPixelsStillLoad) {
  for (bool progressive : {false, true}) {
    Write("flat.jpg", SolidJpeg(2048, 1536, 3, JCS_RGB, {30, 60, 90}, progressive));
    Image image;
    ASSERT_EQ(media::LoadJpeg(&image, "flat.jpg"), 0) << progressive;
    EXPECT_EQ(image.width, 2048u);
    Write("flat_grey@RGB.JPG", SolidJpeg(2048, 1536, 3, JCS_RGB, {30, 60, 90}, progressive));
    Write("flat_grey@ALPHA.JPG", SolidJpeg(2048, 1536, 1, JCS_GRAYSCALE, {9}, progressive));
    ASSERT_EQ(media::LoadImage(&image, "flat_grey", true), 0) << progressive;
    EXPECT_EQ(image.format, media::PF_ARGB32);
  }
}

TEST_F(Loaders, PairingFallsBackToThePlainFile) {
  Write("ONLY.JPG", SolidJpeg(4, 4, 3, JCS_RGB, {9, 9, 9}));
  Image image;
  ASSERT_EQ(media::LoadImage(&image, "ONLY", true), 0);
  EXPECT_EQ(image.format, media::PF_RGB24);

  // Colour and alpha of different sizes.
  Write("MIX@RGB.JPG", SolidJpeg(16, 8, 3, JCS_RGB, {1, 1, 1}));
  Write("MIX@ALPHA.JPG", SolidJpeg(8, 8, 3, JCS_RGB, {1, 1, 1}));
  Write("MIX.JPG", SolidJpeg(2, 2, 3, JCS_RGB, {1, 1, 1}));
  ASSERT_EQ(media::LoadImage(&image, "MIX", true), 0);
  EXPECT_EQ(image.width, 2u);
  EXPECT_EQ(image.format, media::PF_RGB24);

  // A CMYK alpha file cannot pair.
  Write("INK@RGB.JPG", SolidJpeg(8, 8, 3, JCS_RGB, {1, 1, 1}));
  Write("INK@ALPHA.JPG", SolidJpeg(8, 8, 4, JCS_CMYK, {1, 2, 3, 4}));
  Write("INK.TGA", MakeTga(2, 24, 0, 1, 1, Bytes({1, 2, 3})));
  ASSERT_EQ(media::LoadImage(&image, "INK", true), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);
  EXPECT_EQ(image.width, 1u);

  // Nothing at all.
  ExpectRejected(media::LoadImage(&image, "NOTHING", true), image);
}

TEST_F(Loaders, WithoutAKnownExtensionTgaThenBmpThenJpg) {
  BmpSpec bmp;
  bmp.rows = Bytes({1, 2, 3, 0});
  Write("pic.TGA", MakeTga(2, 32, 0, 1, 1, Bytes({1, 2, 3, 4})));
  Write("pic.bmp", MakeBmp(bmp));
  Write("pic.Jpg", SolidJpeg(2, 2, 3, JCS_RGB, {5, 5, 5}));
  Image image;
  ASSERT_EQ(media::LoadImage(&image, "pic", false), 0);
  EXPECT_EQ(image.format, media::PF_ARGB32);  // TGA, alpha kept
  std::remove((dir / "pic.TGA").c_str());
  ASSERT_EQ(media::LoadImage(&image, "PIC", false), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);  // BMP
  std::remove((dir / "pic.bmp").c_str());
  ASSERT_EQ(media::LoadImage(&image, "pic", false), 0);
  EXPECT_EQ(image.format, media::PF_RGB24);  // JPG

  // An unknown extension is part of the name.
  Write("shot.png.tga", MakeTga(2, 24, 0, 1, 1, Bytes({1, 2, 3})));
  ASSERT_EQ(media::LoadImage(&image, "shot.png", false), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);

  // A dot in a folder name is not an extension.
  MakeDirs(dir / "set.v2");
  Write("set.v2/tile.bmp", MakeBmp(bmp));
  ASSERT_EQ(media::LoadImage(&image, "set.v2/tile", false), 0);
  EXPECT_EQ(image.format, media::PF_BGR24);

  // A known extension is final: no search.
  Write("only.bmp", MakeBmp(bmp));
  ExpectRejected(media::LoadImage(&image, "only.tga", false), image);
}

TEST_F(Loaders, FileVariantsReadFromTheCurrentPosition) {
  const std::string tga = MakeTga(2, 24, 0, 1, 1, Bytes({1, 2, 3}));
  Write("packed.bin", "PREFIX" + tga);
  core::FilePtr file(core::OpenDataFile("packed.bin", "rb"));
  ASSERT_TRUE(file);
  ASSERT_EQ(file->Seek(6, SEEK_SET), 0);
  Image image;
  ASSERT_EQ(media::LoadTga(&image, file.get(), true), 0);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x010203u);
}

}  // namespace

namespace {

// Pictures larger than 8192 x 8192 are refused from their header, before
// anything is allocated or decoded, and the trace says how large they were;
// the largest accepted size still loads.
TEST_F(Loaders, PicturesOverTheSizeLimitAreRefusedFromTheirHeaderWithTheSize) {
  struct Case {
    const char* kind;
    int width, height;
  };
  const Case cases[] = {
      {"tga", 8193, 1}, {"tga", 1, 8193}, {"tga", 40000, 2},
      {"bmp", 8193, 1}, {"bmp", 2, 40000},
      {"jpg", 40000, 8}, {"jpg", 8, 8193},
  };
  auto make = [](const std::string& kind, int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (kind == "tga") return MakeTga(2, 24, 0x20, width, height, std::string(pixels * 3, '\x40'));
    if (kind == "bmp") {
      media_test::BmpSpec spec;
      spec.width = width;
      spec.height = height;
      const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
      spec.rows = std::string(stride * static_cast<size_t>(height), '\x40');
      return MakeBmp(spec);
    }
    return media_test::EncodeJpeg(width, height, 3, JCS_RGB, std::vector<uint8_t>(pixels * 3, 0x40));
  };
  auto load = [](Image* image, const std::string& kind, const char* path) {
    if (kind == "tga") return media::LoadTga(image, path, true);
    if (kind == "bmp") return media::LoadBmp(image, path);
    return media::LoadJpeg(image, path);
  };
  const std::string trace = dir / "trace.txt";
  for (const Case& c : cases) {
    const std::string size = std::to_string(c.width) + " x " + std::to_string(c.height);
    SCOPED_TRACE(std::string(c.kind) + " " + size);
    Write("big", make(c.kind, c.width, c.height));
    ASSERT_EQ(core::SetTraceFile(trace.c_str()), 0);
    Image image;
    ExpectRejected(load(&image, c.kind, "big"), image);
    core::SetTraceFile(nullptr);
    const std::string text = testing_support::ReadFile(trace);
    EXPECT_NE(text.find(size + " is outside"), std::string::npos) << text;
    std::filesystem::remove(trace);
  }
  for (const char* kind : {"tga", "bmp", "jpg"}) {
    SCOPED_TRACE(kind);
    Write("edge", make(kind, 8192, 2));
    Image image;
    ASSERT_EQ(load(&image, kind, "edge"), 0);
    EXPECT_EQ(image.width, 8192u);
    EXPECT_EQ(image.height, 2u);
  }
  EXPECT_FALSE(media::ImageSizeAccepted(8192, 8193));
  EXPECT_TRUE(media::ImageSizeAccepted(8192, 8192));
  EXPECT_FALSE(media::ImageSizeAccepted(0, 1));
}

}  // namespace

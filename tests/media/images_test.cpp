// Images in memory: creation, pixel formats, conversion, copies,
// resampling and mip levels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "media/media.h"
#include "tests/media/media_test_util.h"

using media::Image;
using media::PixelFormat;
using media_test::FormatName;
using media_test::Random;
using media_test::ReadPixel;
using media_test::ReferencePack;
using media_test::ReferenceUnpack;
using media_test::WritePixel;

namespace {

Image Make(uint32_t width, uint32_t height, const PixelFormat& format) {
  Image image;
  EXPECT_EQ(media::CreateImage(&image, media::MakeHeader(width, height, format)), 0);
  return image;
}

// Random pixels that only use the bits the format has.
void FillRandom(Image* image, Random* random) {
  for (uint32_t y = 0; y < image->height; ++y)
    for (uint32_t x = 0; x < image->width; ++x) {
      uint32_t v = image->format.bits == 8 ? random->Below(256) : ReferencePack(image->format, random->Next());
      WritePixel(image, x, y, v);
    }
}

uint32_t Channel(uint32_t argb, int index) { return argb >> (24 - 8 * index) & 0xFF; }  // 0 a, 1 r, 2 g, 3 b

// ---------------------------------------------------------------------------
// Creation
// ---------------------------------------------------------------------------

TEST(ImageLifetime, CreateAllocatesOrWrapsAndDestroyMarksInvalid) {
  Image image;
  EXPECT_STREQ(image.name, "INVALID");
  EXPECT_FALSE(image.valid);

  ASSERT_EQ(media::CreateImage(&image, media::MakeHeader(5, 3, media::PF_BGR24)), 0);
  EXPECT_TRUE(image.valid);
  EXPECT_STREQ(image.name, "");
  EXPECT_EQ(image.pitch, 15);
  EXPECT_TRUE(image.owns_pixels);
  EXPECT_EQ(image.palette, nullptr);
  EXPECT_EQ(image.PixelAt(2, 1), image.pixels + 2 * 3 + 15);

  // Wrapping keeps the caller's pitch and memory.
  std::vector<uint8_t> memory(4 * 64);
  media::ImageHeader header = media::MakeHeader(8, 4, media::PF_RGB565);
  header.pitch = 64;
  ASSERT_EQ(media::CreateImage(&image, header, memory.data()), 0);
  EXPECT_FALSE(image.owns_pixels);
  EXPECT_EQ(image.pitch, 64);
  EXPECT_EQ(image.PixelAt(3, 2), memory.data() + 3 * 2 + 2 * 64);

  media::DestroyImage(&image);
  EXPECT_STREQ(image.name, "INVALID");
  EXPECT_FALSE(image.valid);
  EXPECT_EQ(image.pixels, nullptr);
  media::DestroyImage(&image);  // twice is harmless
}

TEST(ImageLifetime, EightBitImagesGetAPaletteInXrgb32) {
  Image image = Make(4, 4, media::PF_PAL8);
  ASSERT_NE(image.palette, nullptr);
  EXPECT_TRUE(image.owns_palette);
  EXPECT_EQ(image.palette->format, media::PF_XRGB32);
  media::Palette mine{};
  mine.format = media::PF_XBGR32;
  ASSERT_EQ(media::CreateImage(&image, media::MakeHeader(4, 4, media::PF_PAL8), nullptr, &mine), 0);
  EXPECT_EQ(image.palette, &mine);
  EXPECT_FALSE(image.owns_palette);
}

TEST(ImageLifetime, RejectsZeroSizesAndOddBitCounts) {
  Image image;
  EXPECT_EQ(media::CreateImage(&image, media::MakeHeader(0, 4, media::PF_ARGB32)), -1);
  EXPECT_EQ(media::CreateImage(&image, media::MakeHeader(4, 0, media::PF_ARGB32)), -1);
  PixelFormat odd = media::PF_RGB565;
  odd.bits = 12;
  EXPECT_EQ(media::CreateImage(&image, media::MakeHeader(4, 4, odd)), -1);
  EXPECT_FALSE(image.valid);
}

TEST(ImageLifetime, MovingTransfersOwnership) {
  Image a = Make(2, 2, media::PF_ARGB32);
  uint8_t* pixels = a.pixels;
  Image b(std::move(a));
  EXPECT_EQ(b.pixels, pixels);
  EXPECT_TRUE(b.valid);
  EXPECT_FALSE(a.valid);
  EXPECT_EQ(a.pixels, nullptr);
  Image c;
  c = std::move(b);
  EXPECT_EQ(c.pixels, pixels);
}

// ---------------------------------------------------------------------------
// Byte orders and conversion
// ---------------------------------------------------------------------------

TEST(Conversion, ByteOrdersOfEveryFormat) {
  // One pixel, red 0x11, green 0x22, blue 0x33, alpha 0x80, through ARGB32.
  Image source = Make(1, 1, media::PF_ARGB32);
  std::memcpy(source.pixels, "\x33\x22\x11\x80", 4);
  struct Case {
    PixelFormat format;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {media::PF_RGB24, {0x11, 0x22, 0x33}},
      {media::PF_BGR24, {0x33, 0x22, 0x11}},
      {media::PF_ARGB32, {0x33, 0x22, 0x11, 0x80}},
      {media::PF_XRGB32, {0x33, 0x22, 0x11, 0x00}},
      {media::PF_XBGR32, {0x11, 0x22, 0x33, 0x00}},
      // R5G6B5: 00010 001000 00110 = 0x1106, little-endian.
      {media::PF_RGB565, {0x06, 0x11}},
      // X1R5G5B5: 0 00010 00100 00110 = 0x0886.
      {media::PF_XRGB1555, {0x86, 0x08}},
      // A1R5G5B5 with the alpha bit set: 0x8886.
      {media::PF_ARGB1555, {0x86, 0x88}},
      // A4R4G4B4: 8 1 2 3.
      {media::PF_ARGB4444, {0x23, 0x81}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FormatName(c.format));
    Image out = Make(1, 1, c.format);
    ASSERT_EQ(media::ConvertImage(&out, source), 0);
    EXPECT_EQ(std::vector<uint8_t>(out.pixels, out.pixels + c.bytes.size()), c.bytes);
  }
}

TEST(Conversion, Argb1555KeepsTheAlphaBit) {
  Image source = Make(2, 1, media::PF_ARGB32);
  WritePixel(&source, 0, 0, 0xFFFFFFFF);
  WritePixel(&source, 1, 0, 0x7FFFFFFF);
  Image out = Make(2, 1, media::PF_ARGB1555);
  ASSERT_EQ(media::ConvertImage(&out, source), 0);
  EXPECT_EQ(ReadPixel(out, 0, 0), 0xFFFFu);
  EXPECT_EQ(ReadPixel(out, 1, 0), 0x7FFFu);
  // And back: the alpha bit reads as the top bit of the alpha byte.
  Image back = Make(2, 1, media::PF_ARGB32);
  ASSERT_EQ(media::ConvertImage(&back, out), 0);
  EXPECT_EQ(ReadPixel(back, 0, 0) >> 24, 0x80u);
  EXPECT_EQ(ReadPixel(back, 1, 0) >> 24, 0x00u);
}

// A -> B -> A gives back A exactly when B keeps every channel A has; where
// B drops bits, each channel keeps B's top bits.
TEST(Conversion, EveryPairRoundTripsWhereNoBitsAreLost) {
  Random random(7);
  auto formats = media_test::AllFormats();
  for (const auto& a : formats) {
    for (const auto& b : formats) {
      SCOPED_TRACE(std::string(a.name) + " -> " + b.name);
      Image original = Make(13, 5, a.format);
      FillRandom(&original, &random);
      Image there = Make(13, 5, b.format), back = Make(13, 5, a.format);
      ASSERT_EQ(media::ConvertImage(&there, original), 0);
      ASSERT_EQ(media::ConvertImage(&back, there), 0);
      const uint32_t loss_a[4] = {a.format.alpha_loss, a.format.red_loss, a.format.green_loss, a.format.blue_loss};
      const uint32_t loss_b[4] = {b.format.alpha_loss, b.format.red_loss, b.format.green_loss, b.format.blue_loss};
      bool lossless = true;
      for (int c = 0; c < 4; ++c) lossless &= loss_a[c] >= 8 || loss_b[c] <= loss_a[c];
      for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 13; ++x) {
          uint32_t v = ReadPixel(original, x, y);
          if (lossless) {
            ASSERT_EQ(ReadPixel(back, x, y), v) << x << "," << y;
            continue;
          }
          uint32_t argb = ReferenceUnpack(a.format, v), expected = 0;
          for (int c = 0; c < 4; ++c) {
            uint32_t channel = Channel(argb, c);
            if (c == 0 && loss_b[0] >= 8) channel = 0xFF;  // B has no alpha: reads as opaque
            else if (loss_b[c] < 8) channel = (channel >> loss_b[c]) << loss_b[c];
            else channel = 0;
            expected |= channel << (24 - 8 * c);
          }
          ASSERT_EQ(ReadPixel(back, x, y), ReferencePack(a.format, expected)) << x << "," << y;
        }
    }
  }
}

// The four-pixel paths must equal the per-pixel rule, including the tails
// and rows with padding.
TEST(Conversion, FastPathsMatchThePerPixelRule) {
  Random random(11);
  for (const PixelFormat& target : {media::PF_RGB565, media::PF_XRGB1555}) {
    for (const PixelFormat& from : {media::PF_XRGB32, media::PF_ARGB32}) {
      for (uint32_t width = 1; width <= 9; ++width) {
        std::vector<uint8_t> memory(3 * 64);
        media::ImageHeader header = media::MakeHeader(width, 3, from);
        header.pitch = 64;
        Image source;
        ASSERT_EQ(media::CreateImage(&source, header, memory.data()), 0);
        for (uint32_t y = 0; y < 3; ++y)
          for (uint32_t x = 0; x < width; ++x) WritePixel(&source, x, y, random.Next());
        Image out = Make(width, 3, target);
        ASSERT_EQ(media::ConvertImage(&out, source), 0);
        for (uint32_t y = 0; y < 3; ++y)
          for (uint32_t x = 0; x < width; ++x) {
            uint32_t expected = ReferencePack(target, ReferenceUnpack(from, ReadPixel(source, x, y)));
            ASSERT_EQ(ReadPixel(out, x, y), expected) << FormatName(target) << " width " << width;
          }
      }
    }
  }
}

TEST(Conversion, PaletteImagesConvertThroughTheirPalette) {
  Image source = Make(3, 2, media::PF_PAL8);
  source.palette->entries[0] = 0x00102030;
  source.palette->entries[7] = 0x00FF8000;
  source.palette->entries[255] = 0x00ABCDEF;
  const uint8_t indices[6] = {0, 7, 255, 255, 7, 0};
  for (int i = 0; i < 6; ++i) WritePixel(&source, i % 3, i / 3, indices[i]);

  Image argb = Make(3, 2, media::PF_ARGB32);
  ASSERT_EQ(media::ConvertImage(&argb, source), 0);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(ReadPixel(argb, i % 3, i / 3), 0xFF000000u | source.palette->entries[indices[i]]);

  Image packed = Make(3, 2, media::PF_RGB565);
  ASSERT_EQ(media::ConvertImage(&packed, source), 0);
  EXPECT_EQ(ReadPixel(packed, 1, 0), ReferencePack(media::PF_RGB565, 0xFFFF8000));

  // 8 bits to 8 bits: the palette is converted into the destination's
  // palette format and the indices copied.
  media::Palette bgr{};
  bgr.format = media::PF_XBGR32;
  Image copy;
  ASSERT_EQ(media::CreateImage(&copy, media::MakeHeader(3, 2, media::PF_PAL8), nullptr, &bgr), 0);
  ASSERT_EQ(media::ConvertImage(&copy, source), 0);
  EXPECT_EQ(bgr.entries[7], 0x000080FFu);
  EXPECT_EQ(bgr.entries[255], 0x00EFCDABu);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ReadPixel(copy, i % 3, i / 3), indices[i]);

  // No quantisation into a palette.
  Image to_palette = Make(3, 2, media::PF_PAL8);
  EXPECT_EQ(media::ConvertImage(&to_palette, argb), -1);
}

TEST(Conversion, SizesMustAgreeAndOperandsBeValid) {
  Image a = Make(4, 4, media::PF_ARGB32), b = Make(4, 5, media::PF_RGB565), invalid;
  EXPECT_EQ(media::ConvertImage(&b, a), -1);
  EXPECT_EQ(media::CopyImage(&b, a), -1);
  EXPECT_EQ(media::ConvertImage(&a, invalid), -1);
  EXPECT_EQ(media::ConvertImage(&invalid, a), -1);
}

TEST(Conversion, CopyImageCopiesRowsOfEqualFormats) {
  Random random(3);
  Image a = Make(7, 3, media::PF_BGR24);
  FillRandom(&a, &random);
  std::vector<uint8_t> memory(3 * 40, 0xEE);
  media::ImageHeader header = media::MakeHeader(7, 3, media::PF_BGR24);
  header.pitch = 40;
  Image b;
  ASSERT_EQ(media::CreateImage(&b, header, memory.data()), 0);
  ASSERT_EQ(media::CopyImage(&b, a), 0);
  for (uint32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(std::memcmp(b.Row(y), a.Row(y), 21), 0);
    EXPECT_EQ(memory[y * 40 + 21], 0xEE);  // the padding stays untouched
  }
}

// ---------------------------------------------------------------------------
// Rectangles and alpha
// ---------------------------------------------------------------------------

TEST(Blit, CopiesAClippedRectangle) {
  Image source = Make(4, 4, media::PF_XRGB32), target = Make(5, 3, media::PF_XRGB32);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) WritePixel(&source, x, y, 0x100 * y + x + 1);
  std::memset(target.pixels, 0, 5 * 3 * 4);
  // Starts one pixel left of the source and runs past the target's right.
  ASSERT_EQ(media::BlitImage(&target, source, -1, 1, 10, 2, 2, 1), 0);
  // Source column 0 lands at target column 3, column 1 at 4; nothing else.
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      uint32_t expected = 0;
      if (y >= 1 && x >= 3) expected = 0x100 * y + (x - 3) + 1;
      EXPECT_EQ(ReadPixel(target, x, y), expected) << x << "," << y;
    }
  // Negative destination positions cut the source instead.
  std::memset(target.pixels, 0, 5 * 3 * 4);
  ASSERT_EQ(media::BlitImage(&target, source, 0, 0, 4, 4, -2, -3), 0);
  EXPECT_EQ(ReadPixel(target, 0, 0), 0x100u * 3 + 3);
  EXPECT_EQ(ReadPixel(target, 1, 0), 0x100u * 3 + 4);
  EXPECT_EQ(ReadPixel(target, 2, 0), 0u);
  EXPECT_EQ(ReadPixel(target, 0, 1), 0u);
  // Fully outside: nothing happens, no error.
  EXPECT_EQ(media::BlitImage(&target, source, 10, 10, 4, 4, 0, 0), 0);
  EXPECT_EQ(media::BlitImage(&target, source, 0, 0, 4, 4, 5, 0), 0);
}

TEST(Blit, FormatsMustBeEqual) {
  Image a = Make(2, 2, media::PF_XRGB32), b = Make(2, 2, media::PF_ARGB32);
  EXPECT_EQ(media::BlitImage(&b, a, 0, 0, 2, 2, 0, 0), -1);
}

TEST(MergeAlpha, TakesTheFirstByteOfTheAlphaImage) {
  Image image = Make(2, 1, media::PF_ARGB32), alpha = Make(2, 1, media::PF_RGB24);
  WritePixel(&image, 0, 0, 0xFF123456);
  WritePixel(&image, 1, 0, 0xFF654321);
  std::memcpy(alpha.pixels, "\x40\x99\x99\xC0\x00\x00", 6);
  ASSERT_EQ(media::MergeAlpha(&image, alpha), 0);
  EXPECT_EQ(ReadPixel(image, 0, 0), 0x40123456u);
  EXPECT_EQ(ReadPixel(image, 1, 0), 0xC0654321u);

  Image wrong_size = Make(3, 1, media::PF_RGB24), wrong_format = Make(2, 1, media::PF_BGR24);
  EXPECT_EQ(media::MergeAlpha(&image, wrong_size), -1);
  EXPECT_EQ(media::MergeAlpha(&image, wrong_format), -1);
  Image not_argb = Make(2, 1, media::PF_XRGB32);
  EXPECT_EQ(media::MergeAlpha(&not_argb, alpha), -1);
}

// ---------------------------------------------------------------------------
// Resampling
// ---------------------------------------------------------------------------

// Brute force: each destination pixel's footprint in source coordinates,
// overlapped with every source pixel.
uint32_t ReferenceResample(const Image& source, uint32_t dw, uint32_t dh, uint32_t x, uint32_t y) {
  double x0 = double(x) * source.width / dw, x1 = double(x + 1) * source.width / dw;
  double y0 = double(y) * source.height / dh, y1 = double(y + 1) * source.height / dh;
  double sums[4] = {0, 0, 0, 0}, total = 0;
  for (uint32_t sy = 0; sy < source.height; ++sy)
    for (uint32_t sx = 0; sx < source.width; ++sx) {
      double wx = std::min<double>(sx + 1, x1) - std::max<double>(sx, x0);
      double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
      if (wx <= 0 || wy <= 0) continue;
      uint32_t argb = ReferenceUnpack(source.format, ReadPixel(source, sx, sy));
      for (int c = 0; c < 4; ++c) sums[c] += wx * wy * Channel(argb, c);
      total += wx * wy;
    }
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) out |= static_cast<uint32_t>(std::floor(sums[c] / total + 1e-9)) << (24 - 8 * c);
  return out;
}

TEST(Resample, WeighsPartlyCoveredPixelsByTheirFraction) {
  Image source = Make(3, 1, media::PF_XRGB32), out = Make(2, 1, media::PF_XRGB32);
  WritePixel(&source, 0, 0, 0);
  WritePixel(&source, 1, 0, 91);
  WritePixel(&source, 2, 0, 180);
  ASSERT_EQ(media::ResampleImage(&out, source), 0);
  // [0, 1.5): (0 + 45.5) / 1.5 = 30.33; [1.5, 3): (45.5 + 180) / 1.5 = 150.33.
  EXPECT_EQ(ReadPixel(out, 0, 0), 30u);
  EXPECT_EQ(ReadPixel(out, 1, 0), 150u);
}

TEST(Resample, MatchesABruteForceAreaAverage) {
  Random random(5);
  struct Size {
    uint32_t sw, sh, dw, dh;
  } sizes[] = {{17, 11, 5, 4}, {6, 6, 4, 9}, {3, 5, 7, 2}, {32, 16, 16, 8}, {1, 1, 3, 3}};
  for (const Size& s : sizes) {
    Image source = Make(s.sw, s.sh, media::PF_ARGB32);
    FillRandom(&source, &random);
    Image out = Make(s.dw, s.dh, media::PF_ARGB32);
    ASSERT_EQ(media::ResampleImage(&out, source), 0);
    for (uint32_t y = 0; y < s.dh; ++y)
      for (uint32_t x = 0; x < s.dw; ++x)
        ASSERT_EQ(ReadPixel(out, x, y), ReferenceResample(source, s.dw, s.dh, x, y))
            << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh << " at " << x << "," << y;
  }
}

TEST(Resample, AConstantImageStaysConstantInEveryFormat) {
  for (const auto& to : media_test::AllFormats()) {
    SCOPED_TRACE(to.name);
    Image source = Make(37, 23, media::PF_ARGB32);
    for (uint32_t y = 0; y < 23; ++y)
      for (uint32_t x = 0; x < 37; ++x) WritePixel(&source, x, y, 0x9C5A3DE1);
    for (auto [w, h] : {std::pair{16u, 16u}, {5u, 3u}, {64u, 50u}, {1u, 1u}}) {
      Image out = Make(w, h, to.format);
      ASSERT_EQ(media::ResampleImage(&out, source), 0);
      const uint32_t expected = ReferencePack(to.format, 0x9C5A3DE1);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(ReadPixel(out, x, y), expected) << w << "x" << h;
    }
  }
}

TEST(Resample, PaletteSourcesAndRefusals) {
  Image source = Make(4, 4, media::PF_PAL8);
  source.palette->entries[3] = 0x00406080;
  std::memset(source.pixels, 3, 16);
  Image out = Make(2, 2, media::PF_XRGB32);
  ASSERT_EQ(media::ResampleImage(&out, source), 0);
  EXPECT_EQ(ReadPixel(out, 1, 1), 0x00406080u);
  Image palette_out = Make(2, 2, media::PF_PAL8);
  EXPECT_EQ(media::ResampleImage(&palette_out, source), -1);
}

// ---------------------------------------------------------------------------
// Mip levels
// ---------------------------------------------------------------------------

std::vector<Image> Levels(uint32_t width, uint32_t height, const PixelFormat& format, int count) {
  std::vector<Image> levels;
  for (int i = 0; i < count; ++i) {
    levels.push_back(Make(width, height, format));
    width = std::max(1u, width / 2);
    height = std::max(1u, height / 2);
  }
  return levels;
}

TEST(MipLevels, ACheckerAveragesToGrey) {
  for (const auto& f : media_test::AllFormats()) {
    SCOPED_TRACE(f.name);
    Image checker = Make(2, 2, media::PF_XRGB32);
    WritePixel(&checker, 0, 0, 0xFFFFFF);
    WritePixel(&checker, 1, 0, 0);
    WritePixel(&checker, 0, 1, 0);
    WritePixel(&checker, 1, 1, 0xFFFFFF);
    auto levels = Levels(2, 2, f.format, 2);
    ASSERT_EQ(media::BuildMipLevels(checker, levels.data(), 2, false), 0);
    uint32_t grey = ReferenceUnpack(f.format, ReadPixel(levels[1], 0, 0));
    // Half of white, to the format's precision: 127 less the dropped bits.
    for (int c = 1; c < 4; ++c) {
      uint32_t loss = c == 1 ? f.format.red_loss : c == 2 ? f.format.green_loss : f.format.blue_loss;
      EXPECT_EQ(Channel(grey, c), (127u >> loss) << loss) << "channel " << c;
    }
  }
}

TEST(MipLevels, SixteenBitLevelsCarryTheRemainderAlongTheRow) {
  // Blue channel blocks summing to 2, 2, 2, 2: without the carry every
  // average would be 0; with it they alternate 0, 1, 0, 1.
  Image source = Make(8, 2, media::PF_RGB565);
  for (uint32_t x = 0; x < 8; ++x) {
    WritePixel(&source, x, 0, 1);
    WritePixel(&source, x, 1, 0);
  }
  auto levels = Levels(8, 2, media::PF_RGB565, 2);
  ASSERT_EQ(media::BuildMipLevels(source, levels.data(), 2, false), 0);
  EXPECT_EQ(std::memcmp(levels[0].pixels, source.pixels, 8 * 2 * 2), 0);
  const uint32_t expected[4] = {0, 1, 0, 1};
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel(levels[1], x, 0), expected[x]) << x;

  // 32-bit levels truncate each block on its own.
  Image wide = Make(8, 2, media::PF_XRGB32);
  for (uint32_t x = 0; x < 8; ++x) {
    WritePixel(&wide, x, 0, 1);
    WritePixel(&wide, x, 1, 0);
  }
  auto wide_levels = Levels(8, 2, media::PF_XRGB32, 2);
  ASSERT_EQ(media::BuildMipLevels(wide, wide_levels.data(), 2, false), 0);
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel(wide_levels[1], x, 0), 0u);
}

TEST(MipLevels, FullChainOfAnOddSizedSource) {
  // Level 0 is resampled from the 100x60 source; 64x32 ... 2x1 halve; the
  // last level (1x1 from 2x1) is not exactly half and is resampled.
  Image source = Make(100, 60, media::PF_BGR24);
  for (uint32_t y = 0; y < 60; ++y)
    for (uint32_t x = 0; x < 100; ++x) WritePixel(&source, x, y, 0x30C060);  // B=0x30 G=0xC0 R=0x60
  auto levels = Levels(64, 32, media::PF_ARGB4444, 7);
  ASSERT_EQ(levels[6].width, 1u);
  ASSERT_EQ(media::BuildMipLevels(source, levels.data(), 7, false), 0);
  const uint32_t expected = ReferencePack(media::PF_ARGB4444, 0xFF60C030);
  for (auto& level : levels)
    for (uint32_t y = 0; y < level.height; ++y)
      for (uint32_t x = 0; x < level.width; ++x) ASSERT_EQ(ReadPixel(level, x, y), expected);
}

TEST(MipLevels, NormalizeKeepsNormalsUnitLength) {
  // Two normals side by side: +X (255, 128, 128) and +Z (128, 128, 255).
  Image source = Make(2, 2, media::PF_ARGB32);
  WritePixel(&source, 0, 0, 0xFFFF8080);
  WritePixel(&source, 0, 1, 0xFFFF8080);
  WritePixel(&source, 1, 0, 0xFF8080FF);
  WritePixel(&source, 1, 1, 0xFF8080FF);
  auto levels = Levels(2, 2, media::PF_ARGB32, 2);
  ASSERT_EQ(media::BuildMipLevels(source, levels.data(), 2, true), 0);
  uint32_t n = ReadPixel(levels[1], 0, 0);
  double x = Channel(n, 1) - 128.0, y = Channel(n, 2) - 128.0, z = Channel(n, 3) - 128.0;
  EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), 127.0, 1.0);
  EXPECT_NEAR(x, z, 1.0);  // halfway between +X and +Z
  EXPECT_NEAR(y, 0.0, 0.5);
  EXPECT_EQ(Channel(n, 0), 0xFFu);

  // A flat normal map stays flat through every level.
  Image flat = Make(8, 8, media::PF_XRGB32);
  for (uint32_t yy = 0; yy < 8; ++yy)
    for (uint32_t xx = 0; xx < 8; ++xx) WritePixel(&flat, xx, yy, 0x8080FF);
  auto flat_levels = Levels(8, 8, media::PF_XRGB32, 4);
  ASSERT_EQ(media::BuildMipLevels(flat, flat_levels.data(), 4, true), 0);
  for (auto& level : flat_levels) EXPECT_EQ(ReadPixel(level, 0, 0), 0x8080FFu);

  // Without normalising, the same pair just averages.
  ASSERT_EQ(media::BuildMipLevels(source, levels.data(), 2, false), 0);
  EXPECT_EQ(ReadPixel(levels[1], 0, 0), 0xFFBF80BFu);
}

TEST(MipLevels, LevelsMustShareOneFormat) {
  Image source = Make(4, 4, media::PF_XRGB32);
  std::vector<Image> levels;
  levels.push_back(Make(4, 4, media::PF_RGB565));
  levels.push_back(Make(2, 2, media::PF_XRGB1555));
  EXPECT_EQ(media::BuildMipLevels(source, levels.data(), 2, false), -1);
  EXPECT_EQ(media::BuildMipLevels(source, levels.data(), 0, false), -1);
  std::vector<Image> palette_levels;
  palette_levels.push_back(Make(4, 4, media::PF_PAL8));
  EXPECT_EQ(media::BuildMipLevels(source, palette_levels.data(), 1, false), -1);
}

}  // namespace

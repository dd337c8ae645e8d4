// The readers against an independent decoder: ImageMagick writes real files
// of every kind the readers take (and some they must refuse), then decodes
// them itself to raw RGBA; every pixel of our decoding must match (exactly
// for TGA and BMP, within 1 per channel for JPEG). Damaged copies of every
// file (cut short, single bits flipped) must load as -1 or as a valid image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "media/media.h"
#include "tests/media/media_test_util.h"
#include "tests/support/support.h"

using media::Image;
using media_test::Random;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunChild;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr const char* kConvert = "/usr/bin/convert";
constexpr uint32_t kWidth = 61, kHeight = 37;  // odd sizes: BMP rows need padding

uint32_t U16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}
uint32_t U32(const std::string& s, size_t at) { return U16(s, at) | U16(s, at + 2) << 16; }

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Exists(kConvert)) {
      GTEST_FAIL() << "ImageMagick's " << kConvert
                   << " is missing: these tests need it (tools/bootstrap.sh installs the imagemagick package)";
    }
    core::StartFileLayer(dir.path());
    WriteFile(dir / "photo.rgba", PhotoPixels());
    WriteFile(dir / "palette.rgba", PalettePixels());
  }
  void TearDown() override { core::StopFileLayer(); }

  // A smooth, noisy picture with varied alpha.
  static std::string PhotoPixels() {
    std::string out;
    Random random(99);
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        int noise = static_cast<int>(random.Below(24)) - 12;
        out.push_back(static_cast<char>(std::clamp(static_cast<int>(128 + 100 * std::sin(x * 0.21 + y * 0.05)) + noise, 0, 255)));
        out.push_back(static_cast<char>(std::clamp(static_cast<int>(x * 4 + y * 2) + noise, 0, 255)));
        out.push_back(static_cast<char>(std::clamp(static_cast<int>(255 - y * 6) + noise, 0, 255)));
        out.push_back(static_cast<char>((x * 7 + y * 13) & 0xFF));
      }
    return out;
  }
  // 40 distinct colours: ImageMagick writes 17 to 256 colours as 8 bits.
  static std::string PalettePixels() {
    std::string out;
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        uint32_t k = (x / 4 + (y / 3) * 7) % 40;
        out.push_back(static_cast<char>(k * 6));
        out.push_back(static_cast<char>(255 - k * 5));
        out.push_back(static_cast<char>((k * 97) & 0xFF));
        out.push_back('\xFF');
      }
    return out;
  }

  // convert -size WxH -depth 8 rgba:<source> <options...> <target>
  void Make(const std::string& source, const std::vector<std::string>& options, const std::string& target) {
    std::vector<std::string> args = {kConvert, "-size", std::to_string(kWidth) + "x" + std::to_string(kHeight),
                                     "-depth", "8", "rgba:" + (dir / source)};
    args.insert(args.end(), options.begin(), options.end());
    std::string out = target;
    size_t colon = out.find(':');
    args.push_back(colon == std::string::npos ? dir / out : out.substr(0, colon + 1) + (dir / out.substr(colon + 1)));
    auto result = RunChild(args, {}, 120);
    ASSERT_EQ(result.exit_code, 0) << "convert failed: " << result.err;
  }
  std::string Path(const std::string& name) {
    std::string file = name.substr(name.find(':') + 1);
    return dir / file;
  }
  std::string FileName(const std::string& name) { return name.substr(name.find(':') + 1); }

  // ImageMagick's own decoding as raw R, G, B, A bytes, top row first.
  // ImageMagick keeps a TGA's rows in file order and only notes the origin;
  // -auto-orient applies it.
  std::string Reference(const std::string& name) {
    std::string raw = dir / (name + ".raw");
    auto result = RunChild({kConvert, dir / name, "-auto-orient", "-depth", "8", "rgba:" + raw}, {}, 120);
    EXPECT_EQ(result.exit_code, 0) << "convert could not decode " << name << ": " << result.err;
    return ReadFile(raw);
  }

  // Our decoding against ImageMagick's, pixel by pixel.
  void ExpectSamePixels(const Image& image, const std::string& reference, int tolerance, const std::string& what) {
    ASSERT_TRUE(image.valid) << what;
    ASSERT_EQ(image.width, kWidth) << what;
    ASSERT_EQ(image.height, kHeight) << what;
    ASSERT_EQ(reference.size(), size_t{kWidth} * kHeight * 4) << what;
    Image argb;
    ASSERT_EQ(media::CreateImage(&argb, media::MakeHeader(kWidth, kHeight, media::PF_ARGB32)), 0);
    ASSERT_EQ(media::ConvertImage(&argb, image), 0);
    int worst = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
      for (uint32_t x = 0; x < kWidth; ++x) {
        const uint8_t* ours = argb.PixelAt(x, y);  // B, G, R, A
        const uint8_t* theirs = reinterpret_cast<const uint8_t*>(&reference[(y * kWidth + x) * 4]);
        const int diff[4] = {ours[2] - theirs[0], ours[1] - theirs[1], ours[0] - theirs[2], ours[3] - theirs[3]};
        for (int c = 0; c < 4; ++c) {
          worst = std::max(worst, std::abs(diff[c]));
          if (std::abs(diff[c]) > tolerance) {
            ADD_FAILURE() << what << ": pixel " << x << "," << y << " channel " << "RGBA"[c] << " ours "
                          << (diff[c] + theirs[c]) << " ImageMagick " << int(theirs[c]);
            return;
          }
        }
      }
    RecordProperty(what + "_worst_difference", worst);
  }

  // Damaged copies: every length through the headers, then a spread of
  // lengths; single bits flipped, half of them in the first 128 bytes.
  void ExpectDamageIsSafe(const std::string& name, int (*load)(Image*, const char*)) {
    const std::string good = ReadFile(dir / name);
    const std::string ext = name.substr(name.rfind('.'));
    const std::string damaged = "damaged" + ext;
    Image image;
    auto check = [&](const std::string& bytes, const std::string& what) {
      WriteFile(dir / damaged, bytes);
      int result = load(&image, damaged.c_str());
      ASSERT_TRUE(result == 0 || result == -1) << what;
      ASSERT_EQ(result == 0, static_cast<bool>(image.valid)) << what;
      if (result != 0) return;
      ASSERT_LE(image.width, media::kMaxImageSide) << what;
      ASSERT_LE(image.height, media::kMaxImageSide) << what;
      // Touch every byte, so that the sanitizers see any short buffer.
      uint32_t sum = 0;
      for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t i = 0; i < image.width * image.bytes_per_pixel(); ++i) sum += image.Row(y)[i];
      (void)sum;
    };
    for (size_t length = 0; length < good.size(); length += length < 160 ? 1 : good.size() / 97 + 1)
      check(good.substr(0, length), name + " cut to " + std::to_string(length));
    Random random(static_cast<uint64_t>(good.size()));
    for (int i = 0; i < 300; ++i) {
      std::string bytes = good;
      size_t at = i % 2 ? random.Below(static_cast<uint32_t>(std::min<size_t>(128, good.size())))
                        : random.Below(static_cast<uint32_t>(good.size()));
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.Below(8)));
      check(bytes, name + " with a bit flipped at " + std::to_string(at));
    }
  }

  TempDir dir;
};

int LoadByName(Image* image, const char* path) { return media::LoadImage(image, path, false); }

TEST_F(Conformance, TgaAt24And32BitsBothOriginsPlainAndRunLength) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    int type, depth, top;
  } cases[] = {
      {"plain24.tga", {"-alpha", "off"}, 2, 24, 0},
      {"plain24top.tga", {"-alpha", "off", "-orient", "TopLeft"}, 2, 24, 1},
      {"rle24.tga", {"-alpha", "off", "-compress", "RLE"}, 10, 24, 0},
      {"rle24top.tga", {"-alpha", "off", "-compress", "RLE", "-orient", "TopLeft"}, 10, 24, 1},
      {"plain32.tga", {}, 2, 32, 0},
      {"plain32top.tga", {"-orient", "TopLeft"}, 2, 32, 1},
      {"rle32.tga", {"-compress", "RLE"}, 10, 32, 0},
      {"rle32top.tga", {"-compress", "RLE", "-orient", "TopLeft"}, 10, 32, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make("photo.rgba", c.options, c.name);
    const std::string file = ReadFile(dir / c.name);
    // Make sure ImageMagick wrote the kind of file this case is about.
    ASSERT_GE(file.size(), 18u);
    ASSERT_EQ(file[2], c.type);
    ASSERT_EQ(file[16], c.depth);
    ASSERT_EQ((file[17] & 0x20) != 0, c.top != 0);
    Image image;
    ASSERT_EQ(media::LoadImage(&image, c.name, true), 0);
    EXPECT_EQ(image.format, c.depth == 24 ? media::PF_BGR24 : media::PF_ARGB32);
    ExpectSamePixels(image, Reference(c.name), 0, c.name);
    ExpectDamageIsSafe(c.name, LoadByName);
  }
}

// Rows stored top-down: the same file with its rows reversed and its height
// negated, decoded by ImageMagick as the reference.
std::string TopDown(const std::string& bmp) {
  std::string out = bmp;
  const uint32_t offset = U32(bmp, 10), bits = U16(bmp, 28);
  const int32_t height = static_cast<int32_t>(U32(bmp, 22));
  const size_t stride = (kWidth * bits / 8 + 3) & ~size_t{3};
  for (int32_t i = 0; i < height; ++i)
    out.replace(offset + i * stride, stride, bmp.substr(offset + (height - 1 - i) * stride, stride));
  const uint32_t negated = static_cast<uint32_t>(-height);
  for (int b = 0; b < 4; ++b) out[22 + b] = static_cast<char>(negated >> (8 * b));
  return out;
}

TEST_F(Conformance, BmpAt8And24BitsInBothHeaderVersionsAndTopDown) {
  struct Case {
    const char* name;
    const char* source;
    std::vector<std::string> options;
    uint32_t header_size, bits;
  } cases[] = {
      {"BMP3:v3_24.bmp", "photo.rgba", {"-alpha", "off", "-type", "TrueColor"}, 40, 24},
      {"v5_24.bmp", "photo.rgba", {"-alpha", "off", "-type", "TrueColor"}, 124, 24},
      {"BMP3:v3_8.bmp", "palette.rgba", {"-alpha", "off", "-type", "Palette", "-compress", "None"}, 40, 8},
      {"v5_8.bmp", "palette.rgba", {"-alpha", "off", "-type", "Palette", "-compress", "None"}, 124, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.source, c.options, c.name);
    const std::string name = FileName(c.name);
    const std::string file = ReadFile(dir / name);
    ASSERT_GE(file.size(), 54u);
    ASSERT_EQ(U32(file, 14), c.header_size);
    ASSERT_EQ(U16(file, 28), c.bits);
    ASSERT_EQ(U32(file, 30), 0u);
    Image image;
    ASSERT_EQ(media::LoadImage(&image, name.c_str(), false), 0);
    EXPECT_EQ(image.format, c.bits == 8 ? media::PF_PAL8 : media::PF_BGR24);
    ExpectSamePixels(image, Reference(name), 0, name);
    ExpectDamageIsSafe(name, LoadByName);

    const std::string flipped = "top_" + name;
    WriteFile(dir / flipped, TopDown(file));
    ASSERT_EQ(media::LoadImage(&image, flipped.c_str(), false), 0);
    ExpectSamePixels(image, Reference(flipped), 0, flipped);
  }
}

TEST_F(Conformance, BmpKindsTheReaderRefuses) {
  struct Case {
    const char* name;
    const char* source;
    std::vector<std::string> options;
  } cases[] = {
      {"rle8.bmp", "palette.rgba", {"-alpha", "off", "-type", "Palette", "-compress", "RLE"}},
      {"BMP2:os2.bmp", "photo.rgba", {"-alpha", "off", "-type", "TrueColor"}},
      {"argb32.bmp", "photo.rgba", {"-type", "TrueColorAlpha"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.source, c.options, c.name);
    const std::string name = FileName(c.name);
    Image image;
    EXPECT_EQ(media::LoadImage(&image, name.c_str(), false), -1);
    EXPECT_FALSE(image.valid);
    ExpectDamageIsSafe(name, LoadByName);
  }
  // The run-length file really is compressed (type 1).
  EXPECT_EQ(U32(ReadFile(dir / "rle8.bmp"), 30), 1u);
}

TEST_F(Conformance, ColourJpegsBaselineAndProgressive) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
  } cases[] = {
      {"baseline.jpg", {"-alpha", "off", "-quality", "90", "-sampling-factor", "2x2"}},
      {"baseline444.jpg", {"-alpha", "off", "-quality", "75", "-sampling-factor", "1x1"}},
      {"progressive.jpg", {"-alpha", "off", "-quality", "85", "-interlace", "Plane"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make("photo.rgba", c.options, c.name);
    Image image;
    ASSERT_EQ(media::LoadImage(&image, c.name, false), 0);
    EXPECT_EQ(image.format, media::PF_RGB24);
    ExpectSamePixels(image, Reference(c.name), 1, c.name);
    ExpectDamageIsSafe(c.name, LoadByName);
  }
  // The progressive file really is progressive (SOF2).
  EXPECT_NE(ReadFile(dir / "progressive.jpg").find("\xFF\xC2", 0, 2), std::string::npos);
}

TEST_F(Conformance, GreyAndCmykJpegsAreRefused) {
  Make("photo.rgba", {"-alpha", "off", "-colorspace", "Gray"}, "grey.jpg");
  Make("photo.rgba", {"-alpha", "off", "-colorspace", "CMYK"}, "cmyk.jpg");
  for (const char* name : {"grey.jpg", "cmyk.jpg"}) {
    SCOPED_TRACE(name);
    Image image;
    EXPECT_EQ(media::LoadImage(&image, name, false), -1);
    EXPECT_FALSE(image.valid);
    ExpectDamageIsSafe(name, LoadByName);
  }
}

TEST_F(Conformance, ColourAndAlphaPairs) {
  Make("photo.rgba", {"-alpha", "off", "-quality", "90"}, "TILE@RGB.JPG");
  // The alpha picture is grey; TrueColor keeps it a three-component file.
  Make("photo.rgba", {"-alpha", "extract", "-type", "TrueColor", "-quality", "90"}, "TILE@ALPHA.JPG");
  Image image;
  ASSERT_EQ(media::LoadImage(&image, "tile", true), 0);
  ASSERT_EQ(image.format, media::PF_ARGB32);
  // Colour from the one file, alpha from the other's red.
  std::string colour = Reference("TILE@RGB.JPG"), alpha = Reference("TILE@ALPHA.JPG");
  ASSERT_EQ(alpha.size(), colour.size());
  for (size_t i = 0; i < colour.size(); i += 4) colour[i + 3] = alpha[i];
  ExpectSamePixels(image, colour, 1, "TILE pair");

  // A one-component (grey) alpha file, the usual way to save a mask, pairs
  // too: its grey is the alpha, and the plain file is not used.
  Make("photo.rgba", {"-alpha", "extract", "-quality", "90"}, "SOLO@ALPHA.JPG");
  Make("photo.rgba", {"-alpha", "off", "-quality", "90"}, "SOLO@RGB.JPG");
  Make("photo.rgba", {"-alpha", "off"}, "SOLO.TGA");
  ASSERT_EQ(media::LoadImage(&image, "solo", true), 0);
  ASSERT_EQ(image.format, media::PF_ARGB32);
  colour = Reference("SOLO@RGB.JPG");
  alpha = Reference("SOLO@ALPHA.JPG");
  ASSERT_EQ(alpha.size(), colour.size());
  for (size_t i = 0; i < colour.size(); i += 4) colour[i + 3] = alpha[i];
  ExpectSamePixels(image, colour, 1, "SOLO pair with a grey alpha file");
}

}  // namespace

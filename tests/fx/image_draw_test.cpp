// The IMAGE effect's drawing, read back from a headless 640 x 480 back
// buffer: placement in the virtual screen, zoom about the centre, every
// blend mode over a known background (opaque and translucent pictures),
// a fade's alpha, pictures cut into tiles with partial edges, pictures of
// two effects with the same name, and the example effect folder played
// through its script.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/image_effect.h"
#include "media/media.h"
#include "render/device.h"
#include "render/layer.h"
#include "render/values.h"
#include "tests/fx/image_fixture.h"

namespace {

using fx_test::ImageTest;
using fx_test::Picture;
using fx_test::RgbIs;
using fx_test::Solid;

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kBlack = 0xFF000000u;

class ImageDrawTest : public ImageTest {};

void WriteJpeg(const std::string& path, const Picture& picture) {
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = picture.width;
  info.image_height = picture.height;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(picture.width) * 3);
  while (info.next_scanline < picture.height) {
    for (uint32_t x = 0; x < picture.width; ++x) {
      uint32_t argb = picture.At(x, info.next_scanline);
      row[x * 3] = static_cast<uint8_t>(argb >> 16);
      row[x * 3 + 1] = static_cast<uint8_t>(argb >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(argb);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(out);
}

// Pixels inside [x0, x1) x [y0, y1) are `inside`, the ring just outside is
// the background.
void ExpectBox(const std::vector<uint32_t>& pixels, int x0, int y0, int x1, int y1, uint32_t inside,
               uint32_t background, uint32_t width = 640) {
  auto at = [&](int x, int y) { return pixels.at(static_cast<size_t>(y) * width + static_cast<size_t>(x)); };
  for (int x : {x0, (x0 + x1) / 2, x1 - 1}) {
    for (int y : {y0, (y0 + y1) / 2, y1 - 1}) EXPECT_THAT(at(x, y), RgbIs(inside, 0)) << x << "," << y;
    EXPECT_THAT(at(x, y0 - 1), RgbIs(background, 0)) << x << "," << y0 - 1;
    EXPECT_THAT(at(x, y1), RgbIs(background, 0)) << x << "," << y1;
  }
  for (int y : {y0, y1 - 1}) {
    EXPECT_THAT(at(x0 - 1, y), RgbIs(background, 0)) << x0 - 1 << "," << y;
    EXPECT_THAT(at(x1, y), RgbIs(background, 0)) << x1 << "," << y;
  }
}

TEST_F(ImageDrawTest, PositionPlacesTheTopLeftCornerInTheVirtualScreen) {
  AddPicture("fx", "RED.tga", Solid(32, 24, kRed));
  auto image = LoadIn("fx", "1 1 RED");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  image->Command(0.0f, "POSITION 0 100 50");
  ExpectBox(DrawAt(*image, 0.5f), 100, 50, 132, 74, kRed, kBlack);

  // Velocity moves it: 20 virtual pixels per second to the right, 10 up.
  image->Command(0.0f, "VELOCITY 20 -10");
  ExpectBox(DrawAt(*image, 2.0f), 140, 30, 172, 54, kRed, kBlack);

  // Into a 320 x 240 target every virtual pixel is half a pixel.
  render::TextureId target = render::CreateRenderTexture(320, 240, render::FMT_X8R8G8B8, 1);
  ASSERT_GE(target, 0);
  ASSERT_EQ(render::PushRenderTarget(target, render::kNoId), 0);
  image->Reset();
  image->Start(0.0f);
  image->Command(0.0f, "POSITION 0 100 50");
  ExpectBox(DrawAt(*image, 0.5f), 50, 25, 66, 37, kRed, kBlack, 320);
  render::PopRenderTarget();
  render::ReleaseTexture(target);
}

TEST_F(ImageDrawTest, ZoomScalesAboutThePictureCentre) {
  AddPicture("fx", "RED.tga", Solid(64, 64, kRed));
  auto image = LoadIn("fx", "1 1 RED");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  image->Command(0.0f, "POSITION 0 100 100");
  image->Command(0.0f, "ZOOM 0.5 0");
  ExpectBox(DrawAt(*image, 0.5f), 116, 116, 148, 148, kRed, kBlack);
  image->Command(0.0f, "ZOOM 2 0");
  ExpectBox(DrawAt(*image, 0.5f), 68, 68, 196, 196, kRed, kBlack);
  // The zoom-in template: half size after half a second, nothing after one.
  image->Command(0.0f, "ZOOM 1.0 -1.0");
  ExpectBox(DrawAt(*image, 0.5f), 116, 116, 148, 148, kRed, kBlack);
  std::vector<uint32_t> gone = DrawAt(*image, 1.5f, 0x102030);
  EXPECT_EQ(std::count_if(gone.begin(), gone.end(), [](uint32_t p) { return fx_test::Rgb(p) != 0x102030; }), 0);
}

// The blend table, channel by channel, with s the picture, b the
// background and a the picture's alpha (all 0..1).
float Expected(int32_t mode, bool translucent, float s, float b, float a) {
  switch (mode) {
    case fx::kImageBlendAdditive: return std::min(1.0f, (translucent ? s * a : s) + b);
    case fx::kImageBlendSubtractive: return b * (1.0f - s);
    case fx::kImageBlendMultiply: return b * s;
    case fx::kImageBlendInvert: return (1.0f - b) * s + (translucent ? b * (1.0f - s) : 0.0f);
    default: return translucent ? s * a + b * (1.0f - a) : s;
  }
}

uint32_t ExpectedPixel(int32_t mode, bool translucent, uint32_t picture, uint32_t background) {
  const float a = static_cast<float>(picture >> 24) / 255.0f;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    float s = static_cast<float>((picture >> shift) & 0xff) / 255.0f;
    float b = static_cast<float>((background >> shift) & 0xff) / 255.0f;
    out |= static_cast<uint32_t>(std::lround(Expected(mode, translucent, s, b, a) * 255.0f)) << shift;
  }
  return out;
}

TEST_F(ImageDrawTest, EveryBlendModeOverAKnownBackground) {
  // 0 and 255 channels survive R5G6B5 exactly; the translucent picture is
  // A8R8G8B8 and keeps any value.
  const uint32_t opaque = 0xFFFF00FFu, translucent = 0x80FF4010u, background = 0x4080C0u;
  AddPicture("fx", "OPAQUE.tga", Solid(40, 40, opaque));
  AddPicture("fx", "GLASS.tga", Solid(40, 40, translucent), true);
  auto image = LoadIn("fx", "2 1 OPAQUE GLASS");
  ASSERT_NE(image, nullptr);
  fx::ImageTextureInfo info;
  ASSERT_TRUE(fx::GetImageTextureInfo(image->texture(0), &info));
  EXPECT_FALSE(info.alpha);
  EXPECT_EQ(info.format, render::FMT_R5G6B5);
  ASSERT_TRUE(fx::GetImageTextureInfo(image->texture(1), &info));
  EXPECT_TRUE(info.alpha);
  EXPECT_EQ(info.format, render::FMT_A8R8G8B8);

  const std::pair<const char*, int32_t> modes[] = {{"BLEND NORMAL", fx::kImageBlendNormal},
                                                   {"BLEND ADDITIVE", fx::kImageBlendAdditive},
                                                   {"BLEND SUBSTRACTIVE", fx::kImageBlendSubtractive},
                                                   {"BLEND MULTIPLY", fx::kImageBlendMultiply},
                                                   {"BLEND INVERT", fx::kImageBlendInvert}};
  for (const auto& [command, mode] : modes) {
    image->Reset();
    image->Start(0.0f);
    image->Command(0.0f, "POSITIONALL 10 10");
    image->Command(0.0f, command);
    std::vector<uint32_t> first = DrawAt(*image, 0.5f, background);   // slot 0: opaque
    std::vector<uint32_t> second = DrawAt(*image, 1.5f, background);  // slot 1: translucent
    EXPECT_THAT(Pixel(first, 30, 30), RgbIs(ExpectedPixel(mode, false, opaque, background), 2)) << command;
    EXPECT_THAT(Pixel(second, 30, 30), RgbIs(ExpectedPixel(mode, true, translucent, background), 2)) << command;
    EXPECT_THAT(Pixel(first, 9, 30), RgbIs(background, 0)) << command;
    EXPECT_THAT(Pixel(second, 50, 30), RgbIs(background, 0)) << command;
  }
}

TEST_F(ImageDrawTest, AFadeShowsThroughAlphaAndTintsSubtractiveAndInvert) {
  const uint32_t picture = 0xFFFFFF00u, background = 0x204080u;
  AddPicture("fx", "YELLOW.tga", Solid(40, 40, picture));
  auto image = LoadIn("fx", "1 10 YELLOW");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  image->Command(1.0f, "FADEIN 2");  // half way at t = 2: colour 0x7F7F7F7F
  const float g = 127.0f / 255.0f;
  auto mix = [&](auto channel) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      float s = static_cast<float>((picture >> shift) & 0xff) / 255.0f;
      float b = static_cast<float>((background >> shift) & 0xff) / 255.0f;
      out |= static_cast<uint32_t>(std::lround(channel(s, b) * 255.0f)) << shift;
    }
    return out;
  };
  EXPECT_THAT(Pixel(DrawAt(*image, 2.0f, background), 20, 20),
              RgbIs(mix([&](float s, float b) { return s * g + b * (1.0f - g); }), 2));
  image->Command(1.0f, "BLEND ADDITIVE");
  EXPECT_THAT(Pixel(DrawAt(*image, 2.0f, background), 20, 20),
              RgbIs(mix([&](float s, float b) { return std::min(1.0f, s * g + b); }), 2));
  image->Command(1.0f, "BLEND SUBSTRACTIVE");
  EXPECT_THAT(Pixel(DrawAt(*image, 2.0f, background), 20, 20),
              RgbIs(mix([&](float s, float b) { return b * (1.0f - s * g); }), 2));
  image->Command(1.0f, "BLEND INVERT");
  EXPECT_THAT(Pixel(DrawAt(*image, 2.0f, background), 20, 20),
              RgbIs(mix([&](float s, float b) { return (1.0f - b) * s * g + b * (1.0f - s * g); }), 2));
  // Finished: full strength, no blending.
  image->Command(1.0f, "BLEND NORMAL");
  EXPECT_THAT(Pixel(DrawAt(*image, 3.5f, background), 20, 20), RgbIs(picture, 0));
  // An instant fade out hides it at once.
  image->Command(3.0f, "FADEOUT 0");
  EXPECT_THAT(Pixel(DrawAt(*image, 3.0f, background), 20, 20), RgbIs(background, 0));
}

TEST_F(ImageDrawTest, PicturesAreCutIntoTilesWithPartialEdges) {
  // Red left of x = 256 and green right of it; blue added from row 100 on.
  Picture picture{300, 200, {}};
  for (uint32_t y = 0; y < 200; ++y)
    for (uint32_t x = 0; x < 300; ++x)
      picture.pixels.push_back((x < 256 ? kRed : kGreen) | (y >= 100 ? kBlue : 0u));
  AddPicture("fx", "WIDE.tga", picture);
  auto image = LoadIn("fx", "1 1 WIDE");
  ASSERT_NE(image, nullptr);
  fx::ImageTextureInfo info;
  ASSERT_TRUE(fx::GetImageTextureInfo(image->texture(0), &info));
  EXPECT_EQ(info.width, 300u);
  EXPECT_EQ(info.height, 200u);
  EXPECT_EQ(info.columns, 2u);
  EXPECT_EQ(info.rows, 1u);
  ASSERT_EQ(info.tiles.size(), 2u);
  for (int tile : info.tiles) {
    std::shared_ptr<render::Texture> texture = render::GetTextureById(tile);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->LevelCount(), 1u);
    render::SurfaceDesc desc;
    ASSERT_EQ(texture->GetLevelDesc(0, &desc), 0);
    EXPECT_EQ(desc.width, 256u);
    EXPECT_EQ(desc.height, 256u);
  }

  image->Start(0.0f);
  image->Command(0.0f, "POSITION 0 20 30");
  std::vector<uint32_t> pixels = DrawAt(*image, 0.5f, 0x808080);
  struct Probe {
    int x, y;
    uint32_t rgb;
  } probes[] = {{20, 30, kRed},           {275, 30, kRed},           {276, 30, kGreen},
                {319, 30, kGreen},        {320, 30, 0x808080},       {19, 30, 0x808080},
                {20, 129, kRed},          {20, 130, kRed | kBlue},   {319, 229, kGreen | kBlue},
                {319, 230, 0x808080},     {275, 229, kRed | kBlue},  {20, 29, 0x808080}};
  for (const Probe& p : probes) EXPECT_THAT(Pixel(pixels, p.x, p.y), RgbIs(p.rgb, 0)) << p.x << "," << p.y;

  // At half size the seam between the tiles moves with the zoom: corner at
  // (20 + 75, 30 + 50), first tile 128 pixels wide, second 22.
  image->Command(0.0f, "ZOOM 0.5 0");
  pixels = DrawAt(*image, 0.5f, 0x808080);
  EXPECT_THAT(Pixel(pixels, 95, 80), RgbIs(kRed, 8));
  EXPECT_THAT(Pixel(pixels, 222, 90), RgbIs(kRed, 8));
  EXPECT_THAT(Pixel(pixels, 223, 90), RgbIs(kGreen, 8));
  EXPECT_THAT(Pixel(pixels, 244, 179), RgbIs(kGreen | kBlue, 8));  // the last column and row, no dark edge
  EXPECT_THAT(Pixel(pixels, 245, 150), RgbIs(0x808080, 0));
  EXPECT_THAT(Pixel(pixels, 200, 180), RgbIs(0x808080, 0));
}

// Opaque pictures become R5G6B5 tiles exactly as the image library would
// convert them, from JPEG (bytes R, G, B) and from TGA (bytes B, G, R).
TEST_F(ImageDrawTest, OpaqueTilesHoldWhatTheImageLibraryConvertsTo) {
  Picture ramp{256, 8, {}};
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 256; ++x) ramp.pixels.push_back(0xFF000000u | x << 16 | (255 - x) << 8 | ((x * 7 + y * 40) & 255));
  AddPicture("fx", "RAMP.tga", ramp);
  testing_support::MakeDirs(dir / "fx/data/images");
  WriteJpeg(dir / "fx/data/images/PHOTO.jpg", ramp);
  for (const char* name : {"RAMP", "PHOTO"}) {
    core::PushBaseFolder("fx");
    media::Image source, reference;
    ASSERT_EQ(media::LoadImage(&source, (std::string("data/images/") + name).c_str(), false), 0);
    core::PopBaseFolder();
    EXPECT_EQ(source.format, std::string(name) == "RAMP" ? media::PF_BGR24 : media::PF_RGB24);
    ASSERT_EQ(media::CreateImage(&reference, media::MakeHeader(256, 8, media::PF_RGB565)), 0);
    ASSERT_EQ(media::ConvertImage(&reference, source), 0);

    auto image = LoadIn("fx", std::string("1 1 ") + name);
    ASSERT_NE(image, nullptr);
    image->Start(0.0f);
    std::vector<uint32_t> pixels = DrawAt(*image, 0.5f);
    int wrong = 0;
    for (uint32_t y = 0; y < 8; ++y) {
      for (uint32_t x = 0; x < 256; ++x) {
        const uint8_t* p = reference.PixelAt(x, y);
        uint32_t v = p[0] | p[1] << 8;
        auto expand = [](uint32_t value, uint32_t max) { return (value * 255 + max / 2) / max; };
        uint32_t expected = expand(v >> 11, 31) << 16 | expand((v >> 5) & 63, 63) << 8 | expand(v & 31, 31);
        if (!fx_test::RgbNear(Pixel(pixels, x, y), expected, 1)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << name;
  }
}

TEST_F(ImageDrawTest, TwoEffectsWithSameNamedPicturesShowTheirOwn) {
  AddPicture("effects/one", "01.tga", Solid(16, 16, kRed));
  AddPicture("effects/two", "01.tga", Solid(16, 16, kBlue));
  auto first = LoadIn("effects/one", "1 1 01.jpg");
  auto second = LoadIn("effects/two", "1 1 01.jpg");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->texture(0), second->texture(0));
  first->Start(0.0f);
  second->Start(0.0f);
  EXPECT_THAT(Pixel(DrawAt(*first, 0.5f), 8, 8), RgbIs(kRed, 0));
  EXPECT_THAT(Pixel(DrawAt(*second, 0.5f), 8, 8), RgbIs(kBlue, 0));
  // Unloading one leaves the other's picture alone.
  first.reset();
  EXPECT_THAT(Pixel(DrawAt(*second, 0.5f), 8, 8), RgbIs(kBlue, 0));
}

TEST_F(ImageDrawTest, ScriptedSlideShowWithABlankSlot) {
  AddPicture("show", "RED.tga", Solid(16, 16, kRed));
  AddPicture("show", "BLUE.tga", Solid(16, 16, kBlue));
  core::PushBaseFolder("show");
  fx::FxScript script;
  Load(script, "FXINSTANCE S IMAGE 3 0.5 RED _ BLUE\nFXSTART S\nSYNCTIME 100\n");
  core::PopBaseFolder();
  const std::pair<float, uint32_t> frames[] = {{0.1f, kRed},  {0.6f, kBlack}, {1.1f, kBlue},
                                               {1.6f, kRed},  {2.1f, kBlack}, {2.9f, kBlue}};
  for (const auto& [time, colour] : frames) {
    Clear(0);
    Frame(script, time);
    EXPECT_THAT(Pixel(Read(), 8, 8), RgbIs(colour, 0)) << time;
  }
}

// The example effect folder the end-to-end test plays on a deck.
TEST_F(ImageDrawTest, ExampleEffectFolderPlays) {
  core::PushBaseFolder(std::string(VJ_SOURCE_DIR) + "/tests/fx/data/effects/slideshow");
  fx::FxScript script;
  ASSERT_EQ(script.OpenFile("data/script.txt", true), 0);
  ASSERT_EQ(script.InstantiateAll(), 0);
  core::PopBaseFolder();
  EXPECT_TRUE(messages.empty());
  const std::pair<float, uint32_t> frames[] = {{1.1f, kBlue}, {1.6f, kRed}, {2.1f, kGreen}, {4.1f, kBlue}};
  for (const auto& [time, colour] : frames) {
    Clear(0);
    Frame(script, time);
    std::vector<uint32_t> pixels = Read();
    EXPECT_THAT(Pixel(pixels, 320, 240), RgbIs(colour, 0)) << time;
    EXPECT_THAT(Pixel(pixels, 10, 10), RgbIs(kBlack, 0)) << time;
  }
  // Fading in over the first second.
  Clear(0);
  Frame(script, 0.25f);
  EXPECT_THAT(Pixel(Read(), 320, 240), RgbIs(0x3F0000, 2));
}

}  // namespace

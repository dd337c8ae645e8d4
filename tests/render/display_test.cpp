// Display set-up: the mode table, the choice of a mode, the state caches,
// defaults and resets, and the frame dump.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>

#include "render/defaults.h"
#include "render/device.h"
#include "render/display.h"
#include "render/test_hooks.h"
#include "render/values.h"
#include "tests/support/support.h"

namespace {

using namespace render;
using testing_support::TempDir;

// Captures run-time messages (errors after start-up go there).
class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::ResetRuntimeMessages();
    core::MarkStartupFinished(true);
    core::SetMessageListener([this](const std::string& text) { messages_.push_back(text); });
  }
  void TearDown() override {
    ReleaseDirect3D();
    SetDumpFolder("");
    core::SetMessageListener(nullptr);
    core::MarkStartupFinished(false);
  }
  static AdapterInfo Adapter(std::vector<AdapterMode> modes, AdapterMode desktop = {1920, 1080, 60, FMT_X8R8G8B8},
                             uint32_t depth = kDepthD16 | kDepthD24S8 | kDepthD32 | kDepthD24X8) {
    AdapterInfo info;
    info.description = "test adapter";
    info.desktop = desktop;
    info.modes = std::move(modes);
    info.depth_formats = depth;
    return info;
  }
  int SelectFullScreen(int w, int h, int bits, bool stencil, ModeFilter filter = nullptr) {
    return SelectDisplayMode(nullptr, w, h, bits, stencil, true, filter, "test", false, false, false, false, false);
  }
  int SelectWindowed(int w, int h, int bits, bool stencil = false) {
    return SelectDisplayMode(nullptr, w, h, bits, stencil, false, nullptr, "", false, true, true, false, false);
  }
  std::vector<std::string> messages_;
};

TEST_F(DisplayTest, ModeTableFollowsTheAdapter) {
  ASSERT_EQ(InitDirect3DFrom(0,
                             Adapter({{640, 480, 60, FMT_R5G6B5}, {1920, 1080, 60, FMT_X8R8G8B8},
                                      {2560, 1440, 60, FMT_X8R8G8B8}, {800, 600, 75, FMT_R8G8B8}}),
                             DisplayBackend::kHeadless),
            0);
  const auto& modes = DisplayModes();
  ASSERT_EQ(modes.size(), 4u);
  EXPECT_EQ(modes[0].bits_per_pixel, 16u);
  EXPECT_EQ(modes[1].bits_per_pixel, 32u);  // X8R8G8B8 counts as 32 bits
  EXPECT_EQ(modes[3].bits_per_pixel, 24u);
  EXPECT_EQ(modes[3].mode_index, 3u);
  EXPECT_EQ(modes[3].refresh_rate, 75u);
  EXPECT_EQ(modes[1].flags, kModeFullScreenOk | kModeWindowedOk);
  EXPECT_EQ(modes[2].flags, kModeFullScreenOk);  // larger than the desktop
  EXPECT_EQ(modes[0].depth_formats & kDepthD24S8, kDepthD24S8);
  EXPECT_EQ(CurrentDisplayMode(), nullptr);
  EXPECT_EQ(CurrentDeviceCaps(), nullptr);
  EXPECT_EQ(GetDevice(), nullptr);
  ASSERT_NE(GetDirect3D(), nullptr);
  EXPECT_EQ(GetDirect3D()->adapter, 0);
  EXPECT_EQ(InitDirect3DFrom(-1, Adapter({}), DisplayBackend::kHeadless), -1);
}

TEST_F(DisplayTest, FullScreenRequestWithoutMatchShowsTheMessageAndMakesNoDevice) {
  ASSERT_EQ(InitDirect3DFrom(0, Adapter({{640, 480, 60, FMT_X8R8G8B8}}), DisplayBackend::kHeadless), 0);
  EXPECT_EQ(SelectFullScreen(640, 480, 16, false), -1);
  EXPECT_THAT(messages_, testing::ElementsAre("Requested mode 640x480x16 (Fullscreen=TRUE) (test) not available"));
  EXPECT_EQ(GetDevice(), nullptr);
  EXPECT_EQ(CurrentModeIndex(), -1);
}

TEST_F(DisplayTest, WindowedRequestTooLargeForTheDesktopSaysFalse) {
  ASSERT_EQ(InitDirect3DFrom(0, Adapter({}, {1024, 768, 60, FMT_X8R8G8B8}), DisplayBackend::kHeadless), 0);
  EXPECT_EQ(SelectWindowed(1280, 720, 32), -1);
  EXPECT_THAT(messages_, testing::ElementsAre("Requested mode 1280x720x32 (Fullscreen=FALSE) () not available"));
  EXPECT_EQ(GetDevice(), nullptr);
}

TEST_F(DisplayTest, HighestRefreshWinsAndTheEarliestOnATie) {
  ASSERT_EQ(InitDirect3DFrom(0,
                             Adapter({{800, 600, 60, FMT_R5G6B5}, {800, 600, 85, FMT_R5G6B5},
                                      {800, 600, 100, FMT_X8R8G8B8}, {800, 600, 60, FMT_R5G6B5}}),
                             DisplayBackend::kHeadless),
            0);
  ASSERT_EQ(SelectFullScreen(800, 600, 16, false), 0);
  EXPECT_EQ(CurrentModeIndex(), 1);
  ReleaseDevice();
  ASSERT_EQ(InitDirect3DFrom(0, Adapter({{800, 600, 60, FMT_R5G6B5}, {800, 600, 60, FMT_R5G6B5}}),
                             DisplayBackend::kHeadless),
            0);
  ASSERT_EQ(SelectFullScreen(800, 600, 16, false), 0);
  EXPECT_EQ(CurrentModeIndex(), 0);
  ASSERT_NE(CurrentDisplayMode(), nullptr);
  EXPECT_EQ(CurrentDisplayMode()->width, 800u);
}

TEST_F(DisplayTest, StencilNeedsD24S8) {
  // No D24S8, though D24X4S4 and D15S1 would hold a stencil.
  ASSERT_EQ(InitDirect3DFrom(0, Adapter({{640, 480, 60, FMT_X8R8G8B8}}, {1920, 1080, 60, FMT_X8R8G8B8},
                                        kDepthD24X4S4 | kDepthD15S1 | kDepthD16),
                             DisplayBackend::kHeadless),
            0);
  EXPECT_EQ(SelectFullScreen(640, 480, 32, true), -1);
  EXPECT_EQ(GetDevice(), nullptr);
  EXPECT_EQ(SelectFullScreen(640, 480, 32, false), 0);  // without a stencil D16 will do
  EXPECT_EQ(CurrentDisplayMode()->flags & kModeHasStencil, 0u);
  EXPECT_EQ(GetDevice()->GetPresentParameters().auto_depth_stencil_format, FMT_D16);
}

TEST_F(DisplayTest, FilterCanRejectModes) {
  ASSERT_EQ(InitDirect3DFrom(0, Adapter({{640, 480, 85, FMT_X8R8G8B8}, {640, 480, 60, FMT_X8R8G8B8}}),
                             DisplayBackend::kHeadless),
            0);
  ASSERT_EQ(SelectFullScreen(640, 480, 32, true, [](int index) { return index == 1 ? 1 : 0; }), 0);
  EXPECT_EQ(CurrentModeIndex(), 1);
  EXPECT_NE(CurrentDisplayMode()->flags & kModeHasStencil, 0u);
  EXPECT_EQ(GetDevice()->GetPresentParameters().auto_depth_stencil_format, FMT_D24S8);
}

TEST_F(DisplayTest, WindowedRequestMatchesBySizeWhateverTheDesktopDepth) {
  // The Server's request (640 x 480 x 16, windowed) on a 1920 x 1080 x 24
  // desktop that lists no such mode.
  ASSERT_EQ(InitDirect3DFrom(0, Adapter({{1920, 1080, 60, FMT_R8G8B8}, {1280, 720, 60, FMT_R8G8B8}},
                                        {1920, 1080, 60, FMT_R8G8B8}),
                             DisplayBackend::kHeadless),
            0);
  ASSERT_EQ(SelectWindowed(640, 480, 16), 0);
  const DisplayMode* mode = CurrentDisplayMode();
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->width, 640u);
  EXPECT_EQ(mode->height, 480u);
  EXPECT_TRUE(messages_.empty());
  Device* device = GetDevice();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->GetPresentParameters().back_buffer_width, 640u);
  EXPECT_EQ(device->GetPresentParameters().back_buffer_format, FMT_X8R8G8B8);
  EXPECT_TRUE(device->GetPresentParameters().windowed);
  // A listed mode of the size is taken as it is, whatever its depth.
  ReleaseDevice();
  size_t before = DisplayModes().size();
  ASSERT_EQ(SelectWindowed(1280, 720, 16), 0);
  EXPECT_EQ(CurrentModeIndex(), 1);
  EXPECT_EQ(DisplayModes().size(), before);
}

TEST_F(DisplayTest, HeadlessServerStart) {
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  EXPECT_FALSE(DisplayModes().empty());
  ASSERT_EQ(SelectWindowed(640, 480, 16), 0);
  ASSERT_NE(CurrentDisplayMode(), nullptr);
  EXPECT_EQ(CurrentDisplayMode()->width, 640u);
  EXPECT_EQ(CurrentDisplayMode()->height, 480u);
  const Caps* caps = CurrentDeviceCaps();
  ASSERT_NE(caps, nullptr);
  EXPECT_GE(caps->max_texture_width, 2048u);  // read from GL
  EXPECT_NE(caps->caps2 & CAPS2_DYNAMICTEXTURES, 0u);
  EXPECT_EQ(CheckDevice(), 0);
  ReleaseDevice();
  EXPECT_EQ(CheckDevice(), -1);
  EXPECT_EQ(CurrentModeIndex(), -1);
}

TEST_F(DisplayTest, CachedStateReachesTheDeviceOnlyWhenItChanges) {
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  ASSERT_EQ(SelectWindowed(64, 64, 32), 0);
  Device* device = GetDevice();
  // Change the device behind the cache's back: a cached set to the cached
  // value must not call the device (which would undo this).
  device->SetRenderState(RS_ZFUNC, CMP_GREATER);
  EXPECT_EQ(CachedRenderState(RS_ZFUNC), static_cast<uint32_t>(CMP_LESSEQUAL));
  uint64_t calls = GlCallCount();
  EXPECT_EQ(SetRenderStateCached(RS_ZFUNC, CMP_LESSEQUAL), 0);
  EXPECT_EQ(device->GetRenderState(RS_ZFUNC), static_cast<uint32_t>(CMP_GREATER));
  EXPECT_EQ(GlCallCount(), calls);
  // A new value calls the device.
  EXPECT_EQ(SetRenderStateCached(RS_ZFUNC, CMP_ALWAYS), 0);
  EXPECT_EQ(device->GetRenderState(RS_ZFUNC), static_cast<uint32_t>(CMP_ALWAYS));
  EXPECT_EQ(CachedRenderState(RS_ZFUNC), static_cast<uint32_t>(CMP_ALWAYS));
  // The same for stage states.
  device->SetTextureStageState(2, TSS_ADDRESSU, TADDRESS_MIRROR);
  EXPECT_EQ(SetStageStateCached(2, TSS_ADDRESSU, TADDRESS_WRAP), 0);
  EXPECT_EQ(device->GetTextureStageState(2, TSS_ADDRESSU), static_cast<uint32_t>(TADDRESS_MIRROR));
  EXPECT_EQ(SetStageStateCached(2, TSS_ADDRESSU, TADDRESS_CLAMP), 0);
  EXPECT_EQ(device->GetTextureStageState(2, TSS_ADDRESSU), static_cast<uint32_t>(TADDRESS_CLAMP));
  // Out of range is refused.
  EXPECT_NE(SetRenderStateCached(static_cast<RenderStateType>(172), 1), 0);
  EXPECT_NE(SetStageStateCached(8, TSS_COLOROP, 1), 0);
  EXPECT_NE(SetStageStateCached(0, static_cast<TextureStageStateType>(29), 1), 0);
  EXPECT_EQ(GlCallCount(), calls);  // all of it without a GL call
}

TEST_F(DisplayTest, DefaultsAreOnTheDeviceAndInTheCaches) {
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  ASSERT_EQ(SelectWindowed(64, 64, 32), 0);
  Device* device = GetDevice();
  size_t count = 0;
  const RenderStateDefault* defaults = DefaultRenderStates(&count);
  EXPECT_EQ(count, 74u);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(CachedRenderState(defaults[i].state), defaults[i].value) << defaults[i].state;
    EXPECT_EQ(device->GetRenderState(defaults[i].state), defaults[i].value) << defaults[i].state;
  }
  // A few by their own words.
  EXPECT_EQ(CachedRenderState(RS_FOGEND), FloatBits(1.0f));
  EXPECT_EQ(CachedRenderState(RS_POINTSIZE), FloatBits(1.0f));
  EXPECT_EQ(CachedRenderState(RS_CULLMODE), static_cast<uint32_t>(CULL_CCW));
  EXPECT_EQ(CachedRenderState(RS_TEXTUREFACTOR), 0xffffffffu);
  EXPECT_EQ(CachedRenderState(RS_COLORWRITEENABLE), 15u);
  EXPECT_EQ(CachedRenderState(RS_DEBUGMONITORTOKEN), 1u);
  for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
    EXPECT_EQ(CachedStageState(stage, TSS_COLOROP), stage == 0 ? uint32_t{TOP_MODULATE} : uint32_t{TOP_DISABLE});
    EXPECT_EQ(CachedStageState(stage, TSS_ALPHAOP), stage == 0 ? uint32_t{TOP_SELECTARG1} : uint32_t{TOP_DISABLE});
    EXPECT_EQ(CachedStageState(stage, TSS_COLORARG2), uint32_t{TA_TEXTURE});
    EXPECT_EQ(CachedStageState(stage, TSS_ALPHAARG2), uint32_t{TA_CURRENT});
    EXPECT_EQ(CachedStageState(stage, TSS_TEXCOORDINDEX), 0u);
    EXPECT_EQ(CachedStageState(stage, TSS_MAGFILTER), uint32_t{TEXF_LINEAR});
    EXPECT_EQ(CachedStageState(stage, TSS_MIPFILTER), uint32_t{TEXF_NONE});
    EXPECT_EQ(CachedStageState(stage, TSS_MAXANISOTROPY), 1u);
    EXPECT_EQ(CachedStageState(stage, TSS_COLORARG0), uint32_t{TA_TEMP});
    EXPECT_EQ(CachedStageState(stage, TSS_RESULTARG), uint32_t{TA_CURRENT});
    for (uint32_t type = 0; type < kStageStateCount; ++type)
      EXPECT_EQ(device->GetTextureStageState(stage, static_cast<TextureStageStateType>(type)),
                CachedStageState(stage, static_cast<TextureStageStateType>(type)));
  }
}

TEST_F(DisplayTest, ResetRestoresTheDefaultsOnDeviceAndCache) {
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  ASSERT_EQ(SelectWindowed(64, 64, 32), 0);
  Device* device = GetDevice();
  SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
  SetRenderStateCached(RS_SRCBLEND, BLEND_SRCALPHA);
  SetRenderStateCached(RS_FOGSTART, FloatBits(3.0f));
  SetRenderStateCached(RS_WRAP3, 7);
  SetStageStateCached(1, TSS_COLOROP, TOP_ADD);
  SetStageStateCached(5, TSS_MINFILTER, TEXF_POINT);
  device->SetRenderState(static_cast<RenderStateType>(3), 99);  // a state outside the list
  ASSERT_EQ(ResetDevice(), 0);
  EXPECT_EQ(CachedRenderState(RS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(CachedRenderState(RS_SRCBLEND), static_cast<uint32_t>(BLEND_ONE));
  EXPECT_EQ(CachedRenderState(RS_FOGSTART), FloatBits(0.0f));
  EXPECT_EQ(CachedRenderState(RS_WRAP3), 0u);
  EXPECT_EQ(CachedStageState(1, TSS_COLOROP), static_cast<uint32_t>(TOP_DISABLE));
  EXPECT_EQ(CachedStageState(5, TSS_MINFILTER), static_cast<uint32_t>(TEXF_LINEAR));
  for (uint32_t state = 0; state < kRenderStateCount; ++state)
    EXPECT_EQ(device->GetRenderState(static_cast<RenderStateType>(state)),
              CachedRenderState(static_cast<RenderStateType>(state)))
        << state;
  for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage)
    for (uint32_t type = 0; type < kStageStateCount; ++type)
      EXPECT_EQ(device->GetTextureStageState(stage, static_cast<TextureStageStateType>(type)),
                CachedStageState(stage, static_cast<TextureStageStateType>(type)));
  // And the device still draws.
  EXPECT_EQ(device->Clear(0, nullptr, CLEAR_TARGET, 0xff00ff00, 1.0f, 0), 0);
  std::vector<uint32_t> pixels;
  ASSERT_EQ(device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels), 0);
  EXPECT_EQ(pixels[0], 0xff00ff00u);
}

// Reads a PNG: width, height, bit depth, colour type, interlace, RGB bytes.
struct Png {
  uint32_t width = 0, height = 0;
  int bit_depth = 0, color_type = -1, interlace = -1;
  std::vector<uint8_t> rgb;
};

bool ReadPng(const std::string& path, Png* out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->bit_depth = png_get_bit_depth(png, info);
  out->color_type = png_get_color_type(png, info);
  out->interlace = png_get_interlace_type(png, info);
  if (out->bit_depth == 8 && out->color_type == PNG_COLOR_TYPE_RGB) {
    out->rgb.resize(static_cast<size_t>(out->width) * out->height * 3);
    for (uint32_t row = 0; row < out->height; ++row) png_read_row(png, &out->rgb[row * out->width * 3], nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return true;
}

TEST_F(DisplayTest, HeadlessDevicePresentsAndDumpsBlackFrames) {
  TempDir dir;
  SetDumpFolder(dir.path());
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  ASSERT_EQ(SelectWindowed(640, 480, 16), 0);
  Device* device = GetDevice();
  ASSERT_EQ(device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff000000, 1.0f, 0), 0);
  ASSERT_EQ(device->Present(), 0);
  // A second frame with a red band in row 10.
  device->SetRenderState(RS_ZENABLE, ZB_FALSE);
  struct V {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
  } quad[4] = {{-0.5f, 9.5f, 0, 1, 0xffff0000, 0, 0}, {639.5f, 9.5f, 0, 1, 0xffff0000, 0, 0},
               {-0.5f, 10.5f, 0, 1, 0xffff0000, 0, 0}, {639.5f, 10.5f, 0, 1, 0xffff0000, 0, 0}};
  device->SetTextureStageState(0, TSS_COLORARG1, TA_DIFFUSE);
  device->SetFVF(kFvfScreenVertex);
  ASSERT_EQ(device->DrawPrimitiveUP(PT_TRIANGLESTRIP, 2, quad, sizeof(V)), 0);
  ASSERT_EQ(device->Present(), 0);
  EXPECT_EQ(device->PresentCount(), 2u);

  EXPECT_EQ(testing_support::ListDir(dir.path()), (std::vector<std::string>{"000000.png", "000001.png"}));
  Png first;
  ASSERT_TRUE(ReadPng(dir / "000000.png", &first));
  EXPECT_EQ(first.width, 640u);
  EXPECT_EQ(first.height, 480u);
  EXPECT_EQ(first.bit_depth, 8);
  EXPECT_EQ(first.color_type, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(first.interlace, PNG_INTERLACE_NONE);
  ASSERT_EQ(first.rgb.size(), 640u * 480 * 3);
  EXPECT_EQ(std::count(first.rgb.begin(), first.rgb.end(), 0), static_cast<long>(first.rgb.size()));
  Png second;
  ASSERT_TRUE(ReadPng(dir / "000001.png", &second));
  auto at = [&](int x, int y, int c) { return second.rgb[(y * 640 + x) * 3 + c]; };
  EXPECT_EQ(at(5, 10, 0), 255);  // row 10 from the top is red
  EXPECT_EQ(at(5, 10, 1), 0);
  EXPECT_EQ(at(5, 9, 0), 0);
  EXPECT_EQ(at(5, 11, 0), 0);
  EXPECT_EQ(at(5, 469, 0), 0);  // not flipped
}

TEST_F(DisplayTest, DumpIntoAMissingFolderIsReportedAndTheShowGoesOn) {
  TempDir dir;
  SetDumpFolder(dir / "missing");
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  ASSERT_EQ(SelectWindowed(64, 64, 32), 0);
  EXPECT_NE(GetDevice()->Present(), 0);
  EXPECT_EQ(GetDevice()->PresentCount(), 1u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("Cannot write the frame dump"), std::string::npos);
  EXPECT_EQ(GetDevice()->Clear(0, nullptr, CLEAR_TARGET, 0, 1.0f, 0), 0);
}

}  // namespace

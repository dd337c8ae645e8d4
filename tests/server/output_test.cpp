// What the Server puts on its output: black without decks, the decks'
// pictures in deck order through the scratch framebuffer; and the output
// window (position kept, frame toggle, close).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>

#include "server/server_internal.h"
#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

using server::internal::PlaceOnVisibleScreen;
using server::internal::ScreenRect;

// The output's back buffer as 0xRRGGBB words.
std::vector<uint32_t> OutputPixels() {
  std::vector<uint32_t> pixels;
  render::Device* device = render::GetDevice();
  if (!device || device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels) != render::kOk) return {};
  for (uint32_t& p : pixels) p &= 0xFFFFFFu;
  return pixels;
}

// The single colour of every pixel, or 0xFFFFFFFF when they differ.
uint32_t UniformColor(const std::vector<uint32_t>& pixels) {
  if (pixels.empty()) return 0xFFFFFFFFu;
  for (uint32_t p : pixels)
    if (p != pixels[0]) return 0xFFFFFFFFu;
  return pixels[0];
}

TEST_F(ServerTest, OutputIsBlackUntilADeckDraws) {
  MakeEffect("Red", "red");
  MakeEffect("Blue", "blue");
  FakeClient client;
  StartAndConnect(&client);
  server::ServerTick();
  std::vector<uint32_t> pixels = OutputPixels();
  ASSERT_EQ(pixels.size(), 640u * 480u);
  EXPECT_EQ(UniformColor(pixels), 0x000000u);

  const int32_t red = EffectId("RED"), blue = EffectId("BLUE");
  Load(&client, red);
  Load(&client, blue);
  client.Send(net::SetDeckEffectMessage(red, 2));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  server::ServerTick();
  EXPECT_EQ(UniformColor(OutputPixels()), 0xFF0000u);

  // Decks are drawn in deck order: deck 4 paints over deck 2...
  client.Send(net::SetDeckEffectMessage(blue, 4));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  server::ServerTick();
  EXPECT_EQ(UniformColor(OutputPixels()), 0x0000FFu);
  // ...and deck 2 never over deck 4, whichever came last.
  client.Send(net::SetDeckEffectMessage(red, 2));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  server::ServerTick();
  EXPECT_EQ(UniformColor(OutputPixels()), 0x0000FFu);

  for (int deck : {2, 4}) {
    client.Send(net::SetDeckEffectMessage(-1, deck));
    ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  }
  server::ServerTick();
  EXPECT_EQ(UniformColor(OutputPixels()), 0x000000u);
}

TEST_F(ServerTest, EveryTickPresentsOneFrameThroughTheScratchTargets) {
  MakeEffect("Green", "green");
  FakeClient client;
  StartAndConnect(&client);
  // Three scratch targets of the render layer, 512 x 512.
  for (render::TextureId id : {server::ScratchFramebuffer(), server::ScratchTexture()}) {
    std::shared_ptr<render::Texture> texture = render::GetTextureById(id);
    ASSERT_NE(texture, nullptr);
    render::SurfaceDesc desc;
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.width, 512u);
    EXPECT_EQ(desc.height, 512u);
    EXPECT_EQ(desc.format, render::FMT_X8R8G8B8);
  }
  EXPECT_NE(render::GetDepthSurfaceById(server::ScratchDepth()), nullptr);

  Load(&client, 0);
  client.Send(net::SetDeckEffectMessage(0, 0));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  uint64_t before = render::GetDevice()->PresentCount();
  for (int i = 0; i < 4; ++i) server::ServerTick();
  EXPECT_EQ(render::GetDevice()->PresentCount(), before + 4);
  // The deck drew into the scratch framebuffer, and every push was popped.
  std::vector<uint32_t> scratch;
  ASSERT_EQ(render::GetDevice()->ReadSurfacePixels(
                render::GetTextureById(server::ScratchFramebuffer())->GetSurfaceLevel(0).get(), &scratch),
            render::kOk);
  ASSERT_EQ(scratch.size(), 512u * 512u);
  EXPECT_EQ(scratch[0] & 0xFFFFFFu, 0x00FF00u);
  EXPECT_EQ(render::RenderTargetDepth(), 1);
  EXPECT_EQ(render::RenderTargetWidth(), 640.0f);
  EXPECT_EQ(UniformColor(OutputPixels()), 0x00FF00u);
  server::ShutdownServer();
  EXPECT_FALSE(render::RenderLayerReady());
}

TEST(OutputPlacement, AWindowOffEveryScreenComesBack) {
  const std::vector<ScreenRect> screens = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
  struct Case {
    int x, y, want_x, want_y;
  };
  const Case cases[] = {
      {100, 50, 100, 50},       // on the first screen
      {2500, 300, 2500, 300},   // on the second
      {1900, 10, 1900, 10},     // straddling both, enough on one
      {-500, 0, -500, 0},       // mostly off to the left, 140 pixels still there
      {-600, 0, 640, 300},      // 40 pixels are too few to grab
      {-5000, -5000, 640, 300}, // nowhere: centred on the first screen
      {1890, 1070, 640, 300},   // only a 30 x 10 corner left on screen
      {4000, 0, 640, 300},
  };
  for (const Case& c : cases) {
    int x = c.x, y = c.y;
    PlaceOnVisibleScreen(&x, &y, 640, 480, screens);
    EXPECT_EQ(x, c.want_x) << c.x << "," << c.y;
    EXPECT_EQ(y, c.want_y) << c.x << "," << c.y;
  }
  // A window larger than the screen goes to its corner.
  int x = -9000, y = 9000;
  PlaceOnVisibleScreen(&x, &y, 3000, 2000, screens);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // Without any screen information nothing moves.
  x = -9000;
  y = 9000;
  PlaceOnVisibleScreen(&x, &y, 640, 480, {});
  EXPECT_EQ(x, -9000);
  EXPECT_EQ(y, 9000);
}

// The output window on SDL's offscreen video driver (no X server needed).
class OutputWindowTest : public ServerTest {
 protected:
  static void SetUpTestSuite() { setenv("SDL_VIDEODRIVER", "offscreen", 1); }
  void SetUp() override {
    ServerTest::SetUp();
    testing_support::MakeDirs(dir / "settings");
    core::SetSettingsFolder(dir / "settings");
  }
  void StartWindowed() {
    server::ServerOptions options;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
  }
  static server::internal::OutputWindow* Window() { return server::internal::GetOutputWindow(); }
};

TEST_F(OutputWindowTest, OpensAtTheSavedPositionAndSavesItOnClose) {
  core::WriteSettingNumber("", "ServerX", 40);
  core::WriteSettingNumber("", "ServerY", 30);
  StartWindowed();
  ASSERT_NE(Window()->Handle(), nullptr);
  int x = 0, y = 0;
  Window()->GetPosition(&x, &y);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 30);
  EXPECT_TRUE(Window()->shown());
  EXPECT_EQ(server::ServerTick(), 1);

  Window()->SetPosition(70, 90);
  core::WindowEvent close;
  close.kind = core::WindowEvent::Kind::kClose;
  Window()->WindowProc(close);
  EXPECT_TRUE(server::QuitRequested());
  EXPECT_FALSE(Window()->shown());
  // Nothing is drawn or received any more.
  uint64_t presents = render::GetDevice()->PresentCount();
  EXPECT_EQ(server::ServerTick(), 0);
  EXPECT_EQ(render::GetDevice()->PresentCount(), presents);
  int32_t saved_x = 0, saved_y = 0;
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerX", &saved_x));
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerY", &saved_y));
  EXPECT_EQ(saved_x, 70);
  EXPECT_EQ(saved_y, 90);
}

TEST_F(OutputWindowTest, APositionOffEveryScreenIsMovedOntoOne) {
  core::WriteSettingNumber("", "ServerX", -20000);
  core::WriteSettingNumber("", "ServerY", 15000);
  StartWindowed();
  std::vector<ScreenRect> screens = server::internal::ScreenRects();
  ASSERT_FALSE(screens.empty());
  int x = 0, y = 0;
  Window()->GetPosition(&x, &y);
  EXPECT_GE(x, screens[0].x);
  EXPECT_LT(x, screens[0].x + screens[0].width);
  EXPECT_GE(y, screens[0].y);
  EXPECT_LT(y, screens[0].y + screens[0].height);
}

TEST_F(OutputWindowTest, DoubleClickTogglesTheFrame) {
  StartWindowed();
  EXPECT_EQ(std::string(SDL_GetWindowTitle(Window()->Handle())), "halvane VJ server");
  EXPECT_TRUE(Window()->framed());
  EXPECT_TRUE(server::internal::WindowFramed(*Window()));
  core::WindowEvent click;
  click.kind = core::WindowEvent::Kind::kDoubleClick;
  Window()->WindowProc(click);
  EXPECT_FALSE(Window()->framed());
  Window()->WindowProc(click);
  EXPECT_TRUE(Window()->framed());
  // The window itself has its frame after two clicks (SDL's offscreen
  // driver cannot take a frame away, so only the end state is visible).
  EXPECT_TRUE(server::internal::WindowFramed(*Window()));
  int w = 0, h = 0;
  Window()->GetClientSize(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST_F(OutputWindowTest, F11GoesFullScreenAndTheDisplayRemembersIt) {
  StartWindowed();
  core::WindowEvent f11;
  f11.kind = core::WindowEvent::Kind::kKeyDown;
  f11.key = core::kKeyF11;
  Window()->WindowProc(f11);
  EXPECT_TRUE(Window()->full_screen());
  EXPECT_FALSE(Window()->framed());
  int32_t remembered = 0;
  EXPECT_TRUE(core::ReadSettingNumber("", "FullScreen0", &remembered));
  EXPECT_EQ(remembered, 1);
  // A held key repeats: nothing more happens.
  f11.repeat = true;
  Window()->WindowProc(f11);
  EXPECT_TRUE(Window()->full_screen());
  // The next start on that display is full screen, at the display's size.
  server::ShutdownServer();
  StartWindowed();
  EXPECT_TRUE(Window()->full_screen());
  const std::vector<ScreenRect> screens = server::internal::ScreenRects();
  ASSERT_FALSE(screens.empty());
  EXPECT_EQ(server::OutputWidth(), screens[0].width);
  EXPECT_EQ(server::OutputHeight(), screens[0].height);
  // Back to a window, remembered too.
  f11.repeat = false;
  Window()->WindowProc(f11);
  EXPECT_FALSE(Window()->full_screen());
  EXPECT_TRUE(core::ReadSettingNumber("", "FullScreen0", &remembered));
  EXPECT_EQ(remembered, 0);
}

TEST_F(OutputWindowTest, ShutdownRemembersWhereTheWindowWas) {
  StartWindowed();
  Window()->SetPosition(123, 45);
  server::ShutdownServer();
  int32_t saved_x = 0, saved_y = 0;
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerX", &saved_x));
  EXPECT_TRUE(core::ReadSettingNumber("", "ServerY", &saved_y));
  EXPECT_EQ(saved_x, 123);
  EXPECT_EQ(saved_y, 45);
  EXPECT_EQ(Window()->Handle(), nullptr);
}

// Shadow volumes count in the stencil: the Server's depth surfaces carry one.
TEST_F(ServerTest, ScratchAndAuxDepthSurfacesHaveAStencil) {
  Start();
  const render::DisplayMode* mode = render::CurrentDisplayMode();
  ASSERT_NE(mode, nullptr);
  EXPECT_NE(mode->flags & render::kModeHasStencil, 0u);
  for (render::TextureId id : {server::ScratchDepth(), render::AuxDepthSurface(0)}) {
    std::shared_ptr<render::Surface> depth = render::GetDepthSurfaceById(id);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->GetDesc().format, render::FMT_D24S8);
  }
}

}  // namespace
}  // namespace server_test

// Windows: events reach the right window object; devices and other GL
// contexts on windows share one loop; the device in a real X window
// (under Xvfb) shows what it drew.
#include <SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>


#include "render/device.h"
#include "render/display.h"
#include "render/gl_context.h"
#include "render/values.h"
#include "tests/render/render_test_util.h"
#include "tests/support/support.h"

namespace {

using namespace render;

// Records what reaches it.
class RecordingWindow : public core::QEGUIWindow {
 public:
  void OnClose() override {
    ++closes;
    QEGUIWindow::OnClose();
  }
  void OnDoubleClick(int x, int y) override { clicks.push_back({x, y}); }
  void OnSizeChanged(int width, int height) override { sizes.push_back({width, height}); }
  void OnKeyDown(int32_t key, uint16_t modifiers, bool) override {
    keys.push_back(key);
    last_modifiers = modifiers;
  }
  int closes = 0;
  std::vector<std::pair<int, int>> clicks, sizes;
  std::vector<int32_t> keys;
  uint16_t last_modifiers = 0;
};

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No X server in tests: SDL's own offscreen windows with GL.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
  }
  // SDL video stays up until the process ends: quitting it unloads the GL
  // driver, whose one-time allocations then cannot be told from ours by
  // the leak checker.
  void TearDown() override { ReleaseDirect3D(); }
  // Pushes events and pumps them the way the frame loop does.
  static int Pump() {
    int routed = 0;
    SDL_Event event;
    while (SDL_PollEvent(&event))
      if (core::RouteWindowEvent(event)) ++routed;
    return routed;
  }
  static void PushWindowEvent(uint32_t id, uint8_t kind, int data1 = 0, int data2 = 0) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = id;
    event.window.event = kind;
    event.window.data1 = data1;
    event.window.data2 = data2;
    SDL_PushEvent(&event);
  }
};

TEST_F(WindowTest, EventsReachOnlyTheirOwnWindowObject) {
  RecordingWindow server, client;
  ASSERT_EQ(server.CreateGuiWindow("output", 320, 240, core::kWindowHidden), 0);
  ASSERT_EQ(client.CreateGuiWindow("client", 200, 100, core::kWindowHidden, &server), 0);
  EXPECT_EQ(client.owner(), &server);
  EXPECT_NE(server.WindowId(), client.WindowId());
  EXPECT_EQ(core::FindGuiWindow(server.WindowId()), &server);
  EXPECT_EQ(core::GuiWindowCount(), 2);
  Pump();  // whatever creation queued

  server.Show();
  EXPECT_TRUE(server.shown());
  Pump();  // what showing queued
  PushWindowEvent(server.WindowId(), SDL_WINDOWEVENT_CLOSE);
  SDL_Event click{};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.windowID = client.WindowId();
  click.button.button = SDL_BUTTON_LEFT;
  click.button.clicks = 2;
  click.button.x = 17;
  click.button.y = 23;
  SDL_PushEvent(&click);
  click.button.clicks = 1;  // a single click is no double-click
  SDL_PushEvent(&click);
  SDL_Event key{};
  key.type = SDL_KEYDOWN;
  key.key.windowID = client.WindowId();
  key.key.keysym.sym = SDLK_a;
  key.key.keysym.mod = KMOD_LSHIFT;
  SDL_PushEvent(&key);
  key.key.keysym.sym = SDLK_BACKSPACE;
  key.key.keysym.mod = 0;
  SDL_PushEvent(&key);
  PushWindowEvent(client.WindowId(), SDL_WINDOWEVENT_SIZE_CHANGED, 640, 360);
  PushWindowEvent(9999, SDL_WINDOWEVENT_CLOSE);  // nobody's window
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);  // not a window's event
  EXPECT_EQ(Pump(), 6);

  EXPECT_EQ(server.closes, 1);
  EXPECT_FALSE(server.shown());  // closing hides; the object and window stay
  EXPECT_NE(server.Handle(), nullptr);
  EXPECT_TRUE(server.clicks.empty());
  EXPECT_TRUE(server.keys.empty());
  EXPECT_EQ(client.closes, 0);
  EXPECT_EQ(client.clicks, (std::vector<std::pair<int, int>>{{17, 23}}));
  EXPECT_EQ(client.keys, (std::vector<int32_t>{'a', core::kKeyBackspace}));
  EXPECT_EQ(client.last_modifiers, 0);
  EXPECT_EQ(client.sizes, (std::vector<std::pair<int, int>>{{640, 360}}));

  client.Destroy();
  EXPECT_EQ(client.Handle(), nullptr);
  EXPECT_EQ(core::GuiWindowCount(), 1);
}

TEST_F(WindowTest, SizeAndPositionUtilities) {
  core::QEGUIWindow window;
  EXPECT_NE(window.SetClientSize(10, 10), 0);  // no window yet
  ASSERT_EQ(window.CreateGuiWindow("sizes", 300, 200, core::kWindowHidden), 0);
  int w = 0, h = 0;
  window.GetClientSize(&w, &h);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
  ASSERT_EQ(window.SetClientSize(420, 260), 0);
  window.GetClientSize(&w, &h);
  EXPECT_EQ(w, 420);
  EXPECT_EQ(h, 260);
  window.GetSize(&w, &h);
  EXPECT_GE(w, 420);
  EXPECT_GE(h, 260);
  window.GetDrawableSize(&w, &h);
  EXPECT_EQ(w, 420);
  ASSERT_EQ(window.SetPosition(30, 40), 0);
  EXPECT_EQ(window.SetTitle("renamed"), 0);
}

TEST_F(WindowTest, TwoGlWindowsInOneLoop) {
  // The output window with the device (vsync), a second window with its
  // own context (no vsync), each made current in turn every frame.
  core::QEGUIWindow output, other;
  ASSERT_EQ(output.CreateGuiWindow("output", 64, 48, core::kWindowOpenGl), 0);
  ASSERT_EQ(other.CreateGuiWindow("client", 80, 60, core::kWindowOpenGl), 0);
  PresentParameters params;
  params.back_buffer_width = 64;
  params.back_buffer_height = 48;
  params.device_window = &output;
  params.vsync = true;
  auto device = CreateDevice(params);
  ASSERT_NE(device, nullptr);
  auto context = CreateWindowGlContext(&other, 0);
  ASSERT_NE(context, nullptr);
  testing_support::TempDir dir;
  device->SetDumpFolder(dir.path());
  for (int frame = 0; frame < 3; ++frame) {
    uint32_t colour = 0xff000000u | (0x40u << (8 * frame));
    ASSERT_EQ(device->Clear(0, nullptr, CLEAR_TARGET, colour, 1.0f, 0), 0);
    ASSERT_EQ(device->Present(), 0);
    ASSERT_EQ(context->MakeCurrent(), 0);
    EXPECT_TRUE(context->IsCurrent());
    EXPECT_FALSE(device->Context()->IsCurrent());
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ASSERT_EQ(context->SwapBuffers(), 0);
    // The device makes its own context current again for every call.
    std::vector<uint32_t> pixels;
    ASSERT_EQ(device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels), 0);
    EXPECT_EQ(pixels[0], colour);
    EXPECT_TRUE(device->Context()->IsCurrent());
  }
  EXPECT_EQ(testing_support::ListDir(dir.path()).size(), 3u);
  // Closing the output window hides it: presenting skips the window but
  // still dumps, and the device keeps working.
  output.OnClose();
  EXPECT_FALSE(output.shown());
  EXPECT_FALSE(device->Context()->DrawableShown());
  EXPECT_EQ(device->Present(), 0);
  EXPECT_EQ(testing_support::ListDir(dir.path()).size(), 4u);
  device.reset();  // released with its window still there
  context.reset();
}

TEST_F(WindowTest, ServerRequestOnAWindowSizesAndShowsIt) {
  core::QEGUIWindow output;
  ASSERT_EQ(output.CreateGuiWindow("output", 200, 100, core::kWindowOpenGl | core::kWindowHidden), 0);
  ASSERT_EQ(InitDirect3D(0), 0);
  ASSERT_NE(GetDirect3D(), nullptr);
  ASSERT_EQ(SelectDisplayMode(&output, 640, 480, 16, false, false, nullptr, "", false, true, true, false, false), 0);
  int w = 0, h = 0;
  output.GetClientSize(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_TRUE(output.shown());
  ASSERT_NE(GetDevice(), nullptr);
  EXPECT_TRUE(GetDevice()->Context()->HasDrawable());
  EXPECT_EQ(GetDevice()->Clear(0, nullptr, CLEAR_TARGET, 0xff102030, 1.0f, 0), 0);
  EXPECT_EQ(GetDevice()->Present(), 0);
  ReleaseDevice();
  EXPECT_EQ(InitDirect3D(7), -1);  // no such display
}

TEST(WindowUnderXvfb, DeviceShowsItsPictureInARealWindow) {
  const std::string xvfb_run = "/usr/bin/xvfb-run";
  if (!testing_support::Exists(xvfb_run)) GTEST_SKIP() << "xvfb-run not installed";
  testing_support::TempDir dir;
  auto result = testing_support::RunChild(
      {xvfb_run, "-a", "-s", "-screen 0 1280x1024x24", VJ_WINDOW_CHECK, dir.path()},
      {"SDL_VIDEODRIVER=x11", "ASAN_OPTIONS=detect_leaks=0"}, 120.0);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("window check: ok"), std::string::npos) << result.out << result.err;
  EXPECT_TRUE(testing_support::Exists(dir / "000000.png"));
}

}  // namespace

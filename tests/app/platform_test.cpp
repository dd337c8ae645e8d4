// The frame loop's event pump: window events go to their window objects; a
// window's close does not end the run by itself, a posted quit does.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/app.h"
#include "app/core/core.h"
#include "app/platform.h"

namespace {

class ClosingWindow : public core::QEGUIWindow {
 public:
  void OnClose() override {
    ++closes;
    QEGUIWindow::OnClose();
  }
  int closes = 0;
};

TEST(EventPump, RoutesWindowEventsAndOnlyAPostedQuitStopsTheLoop) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  ASSERT_EQ(app::StartPlatform(false), 0);
  {
    ClosingWindow output;
    ASSERT_EQ(output.CreateGuiWindow("output", 64, 48, 0), 0);
    app::PumpPlatformEvents();
    ASSERT_FALSE(app::StopRequested());

    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = output.WindowId();
    SDL_PushEvent(&close);
    SDL_Event quit{};
    quit.type = SDL_QUIT;  // while window objects exist, they decide
    SDL_PushEvent(&quit);
    app::PumpPlatformEvents();
    EXPECT_EQ(output.closes, 1);
    EXPECT_FALSE(output.shown());
    EXPECT_FALSE(app::StopRequested());

    core::PostQuitRequest();  // what the Client window's close does
    app::PumpPlatformEvents();
    EXPECT_TRUE(app::StopRequested());
    EXPECT_FALSE(core::TakeQuitRequest());  // consumed by the pump
  }
  app::StopPlatform();
}

}  // namespace

#include "app/platform.h"

#include <SDL.h>

#include "app/app.h"
#include "app/core/core.h"

namespace app {
namespace {
bool g_events = false;
}

int StartPlatform(bool headless) {
  // Signals are ours: SIGINT/SIGTERM end the frame loop in an orderly way.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (headless) return 0;
  if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) {
    core::Trace("APP: SDL events: %s\n", SDL_GetError());
    return -1;
  }
  g_events = true;
  return 0;
}

void PumpPlatformEvents(double wait_seconds) {
  if (g_events) {
    SDL_Event event;
    int timeout_ms = wait_seconds > 0.0 ? static_cast<int>(wait_seconds * 1000.0 + 0.5) : 0;
    bool have = timeout_ms > 0 ? SDL_WaitEventTimeout(&event, timeout_ms) != 0 : SDL_PollEvent(&event) != 0;
    while (have) {
      // Window events go to their window objects, which decide what a close
      // means (the output window hides, the Client's window ends the run).
      if (!core::RouteWindowEvent(event)) {
        // A window-system quit only ends a run that has no window objects.
        if (event.type == SDL_QUIT && core::GuiWindowCount() == 0) RequestStop();
      }
      have = SDL_PollEvent(&event) != 0;
    }
  } else if (wait_seconds > 0.0) {
    core::SleepSeconds(wait_seconds);
  }
  if (core::TakeQuitRequest()) RequestStop();
}

void StopPlatform() {
  g_events = false;
  SDL_Quit();
}

}  // namespace app

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

void PumpPlatformEvents() {
  if (g_events) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      // Window events go to their window objects, which decide what a close
      // means (the output window hides, the Client's window ends the run).
      if (core::RouteWindowEvent(event)) continue;
      // A window-system quit only ends a run that has no window objects.
      if (event.type == SDL_QUIT && core::GuiWindowCount() == 0) RequestStop();
    }
  }
  if (core::TakeQuitRequest()) RequestStop();
}

void StopPlatform() {
  g_events = false;
  SDL_Quit();
}

}  // namespace app

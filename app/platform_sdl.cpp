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
  if (!g_events) return;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT) RequestStop();
  }
}

void StopPlatform() {
  g_events = false;
  SDL_Quit();
}

}  // namespace app

#include "app/splash.h"

#include <SDL.h>

#include "app/core/core.h"

namespace app {
namespace {
SDL_Window* g_splash = nullptr;
}

int ShowSplash(const std::string& picture_path) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    core::Trace("APP: no video for the splash: %s\n", SDL_GetError());
    return 0;
  }
  SDL_Surface* picture = SDL_LoadBMP(picture_path.c_str());
  if (!picture) {
    core::Trace("APP: splash picture %s: %s\n", picture_path.c_str(), SDL_GetError());
    return 0;
  }
  g_splash = SDL_CreateWindow("halvane VJ", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              picture->w, picture->h,
                              SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR);
  if (!g_splash) {
    SDL_FreeSurface(picture);
    core::Trace("APP: splash window: %s\n", SDL_GetError());
    return -1;
  }
  SDL_Surface* surface = SDL_GetWindowSurface(g_splash);
  if (surface) {
    SDL_BlitSurface(picture, nullptr, surface, nullptr);
    SDL_UpdateWindowSurface(g_splash);
  }
  SDL_FreeSurface(picture);
  SDL_PumpEvents();
  return 0;
}

void HideSplash() {
  if (g_splash) SDL_DestroyWindow(g_splash);
  g_splash = nullptr;
}

}  // namespace app

// The adapter's modes as SDL reports them for display N.
#include <SDL.h>

#include "render/display.h"
#include "render/values.h"

namespace render {
namespace {

// SDL pixel formats as Direct3D display formats. 32-bit formats whose
// fourth byte is unused (SDL's RGB888, "24 bits per pixel") count as the
// 32-bit X8R8G8B8, as their memory size says.
Format DisplayFormat(uint32_t sdl_format) {
  switch (sdl_format) {
    case SDL_PIXELFORMAT_ARGB8888: return FMT_A8R8G8B8;
    case SDL_PIXELFORMAT_RGB888: return FMT_X8R8G8B8;
    case SDL_PIXELFORMAT_RGB24:
    case SDL_PIXELFORMAT_BGR24: return FMT_R8G8B8;
    case SDL_PIXELFORMAT_RGB565: return FMT_R5G6B5;
    case SDL_PIXELFORMAT_RGB555: return FMT_X1R5G5B5;
    case SDL_PIXELFORMAT_ARGB1555: return FMT_A1R5G5B5;
    case SDL_PIXELFORMAT_ARGB4444: return FMT_A4R4G4B4;
    case SDL_PIXELFORMAT_RGB444: return FMT_X4R4G4B4;
    case SDL_PIXELFORMAT_RGB332: return FMT_R3G3B2;
    default: break;
  }
  switch (SDL_BYTESPERPIXEL(sdl_format)) {
    case 4: return FMT_X8R8G8B8;
    case 3: return FMT_R8G8B8;
    case 2: return FMT_R5G6B5;
    default: return FMT_UNKNOWN;
  }
}

AdapterMode FromSdl(const SDL_DisplayMode& mode) {
  AdapterMode out;
  out.width = mode.w > 0 ? static_cast<uint32_t>(mode.w) : 0;
  out.height = mode.h > 0 ? static_cast<uint32_t>(mode.h) : 0;
  out.refresh_rate = mode.refresh_rate > 0 ? static_cast<uint32_t>(mode.refresh_rate) : 0;
  out.format = DisplayFormat(mode.format);
  return out;
}

}  // namespace

int CountDisplays() {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return -1;
  return SDL_GetNumVideoDisplays();
}

int QueryAdapter(int adapter, AdapterInfo* info) {
  if (!info) return -1;
  if (!SDL_WasInit(SDL_INIT_VIDEO)) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      core::Trace("RENDER: SDL video: %s\n", SDL_GetError());
      return -1;
    }
  }
  int displays = SDL_GetNumVideoDisplays();
  if (adapter < 0 || adapter >= displays) {
    core::Trace("RENDER: display %d does not exist (%d displays)\n", adapter, displays);
    return -1;
  }
  *info = AdapterInfo();
  const char* name = SDL_GetDisplayName(adapter);
  info->description = name ? name : "display";
  info->description += " (";
  info->description += SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "?";
  info->description += ")";
  SDL_DisplayMode desktop{};
  if (SDL_GetDesktopDisplayMode(adapter, &desktop) == 0) info->desktop = FromSdl(desktop);
  int count = SDL_GetNumDisplayModes(adapter);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode{};
    if (SDL_GetDisplayMode(adapter, i, &mode) != 0) {
      info->complete = false;  // keep what was read so far
      break;
    }
    info->modes.push_back(FromSdl(mode));
  }
  return 0;
}

}  // namespace render

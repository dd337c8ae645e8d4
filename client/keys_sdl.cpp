// The program's keyboard read through SDL. SDL keeps one keyboard state for
// all of the program's windows, so the keys work whichever of them has the
// focus (the output window or the Client's).
//
// Letters are looked up by key code (what the layout prints on the key:
// "A" on an AZERTY keyboard is where QWERTY has Q); the page keys are the
// main-row digit keys by position, since on some layouts their unshifted
// characters are not digits. An event watch remembers keys that went down
// since the last reading, so a press released before the next frame still
// counts once.
#include <SDL.h>

#include <algorithm>
#include <array>

#include "client/panel.h"

namespace client {
namespace {

std::array<bool, SDL_NUM_SCANCODES> g_went_down{};
bool g_watching = false;

int WatchKeys(void*, SDL_Event* event) {
  if (event->type == SDL_KEYDOWN) {
    SDL_Scancode code = event->key.keysym.scancode;
    if (code > SDL_SCANCODE_UNKNOWN && code < SDL_NUM_SCANCODES) g_went_down[code] = true;
  }
  return 0;
}

constexpr SDL_Scancode kPageKeys[show::kPresetPages] = {
    SDL_SCANCODE_1, SDL_SCANCODE_2, SDL_SCANCODE_3, SDL_SCANCODE_4, SDL_SCANCODE_5,
    SDL_SCANCODE_6, SDL_SCANCODE_7, SDL_SCANCODE_8, SDL_SCANCODE_9, SDL_SCANCODE_0};

}  // namespace

void StartKeyboardWatch() {
  if (g_watching) return;
  g_went_down.fill(false);
  SDL_AddEventWatch(WatchKeys, nullptr);
  g_watching = true;
}

void StopKeyboardWatch() {
  if (!g_watching) return;
  SDL_DelEventWatch(WatchKeys, nullptr);
  g_watching = false;
}

KeyboardState ReadKeyboard() {
  int count = 0;
  const Uint8* state = SDL_GetKeyboardState(&count);
  auto down = [&](SDL_Scancode code) {
    if (code <= SDL_SCANCODE_UNKNOWN || code >= SDL_NUM_SCANCODES) return false;
    return (state && code < count && state[code] != 0) || g_went_down[code];
  };
  KeyboardState keys;
  keys.space = down(SDL_SCANCODE_SPACE);
  keys.backspace = down(SDL_SCANCODE_BACKSPACE);
  for (int page = 0; page < show::kPresetPages; ++page) keys.page_keys[page] = down(kPageKeys[page]);
  for (int letter = 0; letter < show::kPresetLetters; ++letter)
    keys.letters[letter] = down(SDL_GetScancodeFromKey(static_cast<SDL_Keycode>(SDLK_a + letter)));
  SDL_Keymod mods = SDL_GetModState();
  keys.ctrl = (mods & KMOD_CTRL) != 0;
  keys.shift = (mods & KMOD_SHIFT) != 0;
  g_went_down.fill(false);
  return keys;
}

}  // namespace client

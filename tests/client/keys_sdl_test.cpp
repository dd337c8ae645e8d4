// Reading the program's keyboard through SDL: page keys by position on the
// main row (not the keypad), letters by the layout's key codes, short
// presses between two readings kept, modifiers from the modifier state.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>

#include "client/panel.h"

namespace {

class KeyboardSdl : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    client::StartKeyboardWatch();
    client::ReadKeyboard();  // forget anything from before
  }
  void TearDown() override {
    client::StopKeyboardWatch();
    SDL_SetModState(KMOD_NONE);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  // A press and release that both happen before the next reading.
  void Tap(SDL_Scancode code) {
    for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
      SDL_Event event{};
      event.type = type;
      event.key.keysym.scancode = code;
      event.key.keysym.sym = SDL_GetKeyFromScancode(code);
      event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
      SDL_PushEvent(&event);
    }
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
  static int Pages(const client::KeyboardState& keys) {
    int count = 0;
    for (bool down : keys.page_keys) count += down;
    return count;
  }
  static int Letters(const client::KeyboardState& keys) {
    int count = 0;
    for (bool down : keys.letters) count += down;
    return count;
  }
};

TEST_F(KeyboardSdl, ShortPressesCountOnceAndOnlyTheMainRowChoosesPages) {
  client::KeyboardState keys = client::ReadKeyboard();
  EXPECT_EQ(Pages(keys) + Letters(keys), 0);
  Tap(SDL_SCANCODE_3);
  keys = client::ReadKeyboard();
  EXPECT_TRUE(keys.page_keys[2]);
  EXPECT_EQ(Pages(keys), 1);
  EXPECT_EQ(Pages(client::ReadKeyboard()), 0);  // gone at the next reading
  Tap(SDL_SCANCODE_0);
  EXPECT_TRUE(client::ReadKeyboard().page_keys[9]);
  Tap(SDL_SCANCODE_KP_3);
  Tap(SDL_SCANCODE_KP_0);
  EXPECT_EQ(Pages(client::ReadKeyboard()), 0);

  Tap(SDL_GetScancodeFromKey(SDLK_q));
  keys = client::ReadKeyboard();
  EXPECT_TRUE(keys.letters['Q' - 'A']);
  EXPECT_EQ(Letters(keys), 1);
  Tap(SDL_SCANCODE_SPACE);
  Tap(SDL_SCANCODE_BACKSPACE);
  keys = client::ReadKeyboard();
  EXPECT_TRUE(keys.space);
  EXPECT_TRUE(keys.backspace);
  EXPECT_FALSE(keys.ctrl);
  SDL_SetModState(static_cast<SDL_Keymod>(KMOD_LCTRL | KMOD_RSHIFT));
  keys = client::ReadKeyboard();
  EXPECT_TRUE(keys.ctrl);
  EXPECT_TRUE(keys.shift);
  // Without the watch, a press already released is not seen.
  client::StopKeyboardWatch();
  Tap(SDL_SCANCODE_5);
  EXPECT_EQ(Pages(client::ReadKeyboard()), 0);
}

}  // namespace

#include "app/core/message_box.h"

#include <SDL.h>

namespace core {

bool PresentModalErrorBox(const char* caption, const char* text) {
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr) == 0;
}

}  // namespace core

// Internal to app: the start-up splash window.
#pragma once

#include <string>

namespace app {

// Shows the picture borderless, centred and on top. Returns 0 (also when
// there is nothing to show on), -1 when the window system fails.
int ShowSplash(const std::string& picture_path);
void HideSplash();

}  // namespace app

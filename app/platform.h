// Internal to app: the window system's process-wide parts (SDL).
#pragma once

namespace app {

// Sets up the window system's event queue. Headless runs get none.
int StartPlatform(bool headless);
// Drains every pending window-system event; a quit request calls RequestStop().
void PumpPlatformEvents();
void StopPlatform();

}  // namespace app

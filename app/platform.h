// Internal to app: the window system's process-wide parts (SDL).
#pragma once

namespace app {

// Sets up the window system's event queue. Headless runs get none.
int StartPlatform(bool headless);
// Drains every pending window-system event; a quit request calls RequestStop().
// With `wait_seconds` > 0 it first waits up to that long for an event.
void PumpPlatformEvents(double wait_seconds = 0.0);
void StopPlatform();
// Once windows exist: a lost display connection ends the process at once
// with a line on stderr and status 1, instead of hanging in Xlib.
void WatchForDisplayLoss();

}  // namespace app

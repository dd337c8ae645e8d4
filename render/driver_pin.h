// Internal to render: keeps the GL driver loaded once a context exists.
#pragma once

namespace render {

// Adds a reference to every loaded GL driver module (Mesa's DRI drivers
// and vendor libraries), so that closing the last window or display does
// not unload them: reloading a driver costs its whole start-up, and its
// one-time allocations would outlive their code, where no leak checker
// can tell whose they are. Once per process; later calls do nothing.
void PinGlDriver();

}  // namespace render

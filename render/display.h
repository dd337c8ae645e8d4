// The process-wide display: the adapter's mode table, the mode choice, the
// device made on the chosen mode, and the caches that every render-state and
// texture-stage-state change goes through.
//
// Typical use (Server start-up):
//   render::InitDirect3D(adapter);
//   render::SelectDisplayMode(window, 640, 480, 32, ...);
//   ... render::CheckDevice() once a frame ... render::ReleaseDevice();
//
// Not here: the device's own interface (device.h), the render layer that
// runs on the display's device (layer.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/device.h"

namespace render {

// ===========================================================================
// Display and device set-up. One process-wide display: the adapter's
// mode table, the device made on the chosen mode, and the caches that all
// render-state and texture-stage-state changes go through.
// ===========================================================================

// DisplayMode::flags bits.
inline constexpr uint32_t kModeFullScreenOk = 1, kModeWindowedOk = 2, kModeMultisampleWindowed = 4,
                          kModeMultisampleFullScreen = 8, kModeHasStencil = 16;
// DisplayMode::depth_formats bits, in this order.
inline constexpr uint32_t kDepthD16Lockable = 1, kDepthD32 = 2, kDepthD15S1 = 4, kDepthD24S8 = 8, kDepthD16 = 16,
                          kDepthD24X8 = 32, kDepthD24X4S4 = 64;
inline constexpr uint32_t kDepthAny = 0x7f;

struct DisplayMode {
  uint32_t adapter = 0;
  uint32_t mode_index = 0;
  uint32_t width = 0, height = 0;
  uint32_t bits_per_pixel = 0;
  Format format = FMT_UNKNOWN;
  uint32_t refresh_rate = 0;
  uint32_t flags = 0;
  uint32_t depth_formats = 0;
  Caps caps;
};

// What the window system says about one display (adapter).
struct AdapterMode {
  uint32_t width = 0, height = 0, refresh_rate = 0;
  Format format = FMT_UNKNOWN;
};
struct AdapterInfo {
  std::string description;
  AdapterMode desktop;               // the current desktop mode
  std::vector<AdapterMode> modes;    // full-screen modes
  uint32_t depth_formats = kDepthD32 | kDepthD24S8 | kDepthD16 | kDepthD24X8;
  bool complete = true;              // false: enumeration stopped early
};

enum class DisplayBackend {
  kWindowSystem,  // SDL displays and windows
  kHeadless,      // no window system: synthesised modes, offscreen context
};

// Reads the adapter's modes through the window system. -1 when the adapter
// does not exist or the window system cannot start.
int QueryAdapter(int adapter, AdapterInfo* info);
// How many displays the window system has, or -1 when it cannot start.
int CountDisplays();
// The adapter a headless run pretends to have (1920 x 1080 desktop).
AdapterInfo HeadlessAdapterInfo();

// Brings up the display on adapter `adapter` and builds the mode table.
// -1 when the adapter is missing (the caller shows "Error initializing
// d3d. Try -device 0 ").
int InitDirect3D(int adapter, DisplayBackend backend = DisplayBackend::kWindowSystem);
// The same from a given adapter description (tests).
int InitDirect3DFrom(int adapter, const AdapterInfo& info, DisplayBackend backend);

using ModeFilter = int (*)(int mode_index);

// Chooses a mode and makes the device on `window` (nullptr: headless).
// Full screen: width, height and bits must match a mode that allows full
// screen, with D24S8 when a stencil is wanted, accepted by the filter; the
// highest refresh rate wins, the earliest on a tie. Windowed: any size that
// fits the desktop, whatever the bit depth. No match shows "Requested mode
// %ix%ix%i (Fullscreen=%s) (%s) not available" and returns -1.
int SelectDisplayMode(core::QEGUIWindow* window, int width, int height, int bits_per_pixel, bool want_stencil,
                      bool full_screen, ModeFilter filter, const char* description, bool want_multisample,
                      bool vsync, bool set_window_style, bool lockable_back_buffer, bool default_refresh);
int CreateRenderDevice(int mode_index, bool want_stencil, bool full_screen, bool want_multisample, bool vsync,
                       bool set_window_style, bool lockable_back_buffer, bool default_refresh);
// Depth format for a back buffer: D24S8 with a stencil; else D32, D24X8,
// D16 in that order. FMT_UNKNOWN when none is available.
Format FindDepthFormat(uint32_t depth_formats, bool want_stencil);

// State changes through the caches: the device is called only when the
// value differs from the cached one (then 0 is returned without a call).
int SetRenderStateCached(RenderStateType state, uint32_t value);
int SetStageStateCached(uint32_t stage, TextureStageStateType type, uint32_t value);
uint32_t CachedRenderState(RenderStateType state);
uint32_t CachedStageState(uint32_t stage, TextureStageStateType type);
// Every default state on the device and in the caches.
void ApplyDefaultStates();

// Once a frame: 0 when the device can draw, -1 when not (no device).
int CheckDevice();
// Restores the device and the default states. 0 or -1.
int ResetDevice();
// Shuts the render layer down first when it runs on this device.
void ReleaseDevice();
void ReleaseDirect3D();

// Every presented frame of the display's device goes to DIR (see
// Device::SetDumpFolder); set before or after the device is made.
void SetDumpFolder(const std::string& folder);

struct Direct3DInfo {
  int adapter = -1;
  DisplayBackend backend = DisplayBackend::kWindowSystem;
  AdapterInfo info;
};
// nullptr before InitDirect3D.
const Direct3DInfo* GetDirect3D();
Device* GetDevice();
// The current mode's entry (its size is the output size), nullptr without
// a device.
const DisplayMode* CurrentDisplayMode();
const Caps* CurrentDeviceCaps();
int CurrentModeIndex();
const std::vector<DisplayMode>& DisplayModes();

}  // namespace render

// Display and device set-up: the adapter's mode table, the choice of a
// mode, the device made on it, and the caches every render-state and
// texture-stage-state change goes through.
//
// A windowed device draws into an offscreen back buffer of the mode's size
// that Present stretches onto the window, so a windowed request only needs
// a size that fits the desktop; its bit depth does not matter (Linux
// desktops list no 16-bit modes and a headless machine lists none at all).
// Full-screen requests keep the strict rule: size, bits, full-screen
// support, depth formats, filter; the highest refresh rate wins.
#include <algorithm>

#include "render/defaults.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace render {
namespace {

struct DisplayState {
  bool initialized = false;
  Direct3DInfo d3d;
  std::vector<DisplayMode> modes;
  std::unique_ptr<Device> device;
  int current_mode = -1;
  core::QEGUIWindow* window = nullptr;
  uint32_t render_cache[kRenderStateCount] = {};
  uint32_t stage_cache[kMaxTextureStages][kStageStateCount] = {};
  std::string dump_folder;
};

DisplayState g_display;

bool DepthOk(uint32_t depth_formats, bool want_stencil) {
  return want_stencil ? (depth_formats & kDepthD24S8) != 0 : (depth_formats & kDepthAny) != 0;
}

// The format a back buffer of this display format is drawn in.
Format BackBufferFormat(Format format) {
  switch (format) {
    case FMT_R5G6B5:
    case FMT_X1R5G5B5:
    case FMT_A1R5G5B5:
    case FMT_A4R4G4B4: return format;
    case FMT_A8R8G8B8: return FMT_A8R8G8B8;
    default: return FMT_X8R8G8B8;
  }
}

DisplayMode MakeMode(int adapter, uint32_t index, const AdapterMode& mode, const AdapterMode& desktop,
                     uint32_t depth_formats) {
  DisplayMode entry;
  entry.adapter = static_cast<uint32_t>(adapter);
  entry.mode_index = index;
  entry.width = mode.width;
  entry.height = mode.height;
  entry.format = mode.format;
  entry.bits_per_pixel = FormatBitsPerPixel(mode.format);
  entry.refresh_rate = mode.refresh_rate;
  entry.flags = kModeFullScreenOk;
  if (mode.width <= desktop.width && mode.height <= desktop.height) entry.flags |= kModeWindowedOk;
  entry.depth_formats = depth_formats;
  return entry;
}

}  // namespace

AdapterInfo HeadlessAdapterInfo() {
  AdapterInfo info;
  info.description = "offscreen (headless)";
  info.desktop = {1920, 1080, 60, FMT_X8R8G8B8};
  static const uint32_t kSizes[][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 720}, {1280, 1024}, {1920, 1080}};
  for (Format format : {FMT_X8R8G8B8, FMT_R5G6B5})
    for (const auto& size : kSizes) info.modes.push_back({size[0], size[1], 60, format});
  return info;
}

int InitDirect3D(int adapter, DisplayBackend backend) {
  AdapterInfo info;
  if (backend == DisplayBackend::kHeadless) {
    info = HeadlessAdapterInfo();
  } else if (QueryAdapter(adapter, &info) != 0) {
    return -1;
  }
  return InitDirect3DFrom(adapter, info, backend);
}

int InitDirect3DFrom(int adapter, const AdapterInfo& info, DisplayBackend backend) {
  if (adapter < 0) return -1;
  ReleaseDirect3D();
  g_display.d3d.adapter = adapter;
  g_display.d3d.backend = backend;
  g_display.d3d.info = info;
  g_display.modes.clear();
  core::Trace("D3D Enumeration...\n");
  core::Trace("Adapter %u is %s\n", static_cast<unsigned>(adapter), info.description.c_str());
  for (size_t i = 0; i < info.modes.size(); ++i)
    g_display.modes.push_back(MakeMode(adapter, static_cast<uint32_t>(i), info.modes[i], info.desktop,
                                       info.depth_formats));
  g_display.initialized = true;
  return 0;
}

Format FindDepthFormat(uint32_t depth_formats, bool want_stencil) {
  if (want_stencil) return (depth_formats & kDepthD24S8) ? FMT_D24S8 : FMT_UNKNOWN;
  if (depth_formats & kDepthD32) return FMT_D32;
  if (depth_formats & kDepthD24X8) return FMT_D24X8;
  if (depth_formats & kDepthD16) return FMT_D16;
  return FMT_UNKNOWN;
}

int SelectDisplayMode(core::QEGUIWindow* window, int width, int height, int bits_per_pixel, bool want_stencil,
                      bool full_screen, ModeFilter filter, const char* description, bool want_multisample,
                      bool vsync, bool set_window_style, bool lockable_back_buffer, bool default_refresh) {
  if (!g_display.initialized) return -1;
  int best = -1;
  for (size_t i = 0; i < g_display.modes.size(); ++i) {
    const DisplayMode& mode = g_display.modes[i];
    if (static_cast<int>(mode.width) != width || static_cast<int>(mode.height) != height) continue;
    if (full_screen) {
      if (static_cast<int>(mode.bits_per_pixel) != bits_per_pixel || !(mode.flags & kModeFullScreenOk)) continue;
    } else if (!(mode.flags & kModeWindowedOk)) {
      continue;
    }
    if (!DepthOk(mode.depth_formats, want_stencil)) continue;
    if (filter && !filter(static_cast<int>(i))) continue;
    if (best < 0 || mode.refresh_rate > g_display.modes[best].refresh_rate) best = static_cast<int>(i);
  }
  const AdapterInfo& info = g_display.d3d.info;
  if (best < 0 && !full_screen && width > 0 && height > 0 && static_cast<uint32_t>(width) <= info.desktop.width &&
      static_cast<uint32_t>(height) <= info.desktop.height && DepthOk(info.depth_formats, want_stencil)) {
    // No listed mode of that size: a window of any size that fits the
    // desktop will do, drawn in the desktop's format.
    AdapterMode windowed{static_cast<uint32_t>(width), static_cast<uint32_t>(height), info.desktop.refresh_rate,
                         info.desktop.format};
    int index = static_cast<int>(g_display.modes.size());
    DisplayMode entry = MakeMode(g_display.d3d.adapter, static_cast<uint32_t>(index), windowed, info.desktop,
                                 info.depth_formats);
    entry.flags = kModeWindowedOk;
    g_display.modes.push_back(entry);
    if (!filter || filter(index)) best = index;
    else g_display.modes.pop_back();
  }
  if (best < 0) {
    core::ShowError("Requested mode %ix%ix%i (Fullscreen=%s) (%s) not available", width, height, bits_per_pixel,
                    full_screen ? "TRUE" : "FALSE", description ? description : "");
    return -1;
  }
  g_display.window = window;
  return CreateRenderDevice(best, want_stencil, full_screen, want_multisample, vsync, set_window_style,
                            lockable_back_buffer, default_refresh);
}

int CreateRenderDevice(int mode_index, bool want_stencil, bool full_screen, bool want_multisample, bool vsync,
                       bool set_window_style, bool lockable_back_buffer, bool default_refresh) {
  (void)lockable_back_buffer;  // the back buffer can always be read back
  if (!g_display.initialized || mode_index < 0 || mode_index >= static_cast<int>(g_display.modes.size())) return -1;
  DisplayMode& mode = g_display.modes[mode_index];
  const AdapterInfo& info = g_display.d3d.info;
  PresentParameters params;
  if (!full_screen) {
    if (info.desktop.width == 0 || info.desktop.format == FMT_UNKNOWN) {
      core::ShowError("Failed to get adapter display/mode");
      return -1;
    }
    params.back_buffer_format = BackBufferFormat(info.desktop.format);
    params.auto_depth_stencil_format = FindDepthFormat(info.depth_formats, want_stencil);
    if (params.auto_depth_stencil_format == FMT_UNKNOWN) {
      core::ShowError("Failed to to find adequate depth stencil");
      return -1;
    }
  } else {
    params.back_buffer_format = BackBufferFormat(mode.format);
    params.auto_depth_stencil_format = FindDepthFormat(mode.depth_formats, want_stencil);
    if (params.auto_depth_stencil_format == FMT_UNKNOWN) {
      core::ShowError("Failed to to find adequate depth/stencil");
      return -1;
    }
  }
  // 4-sample multisampling is never offered by the mode table here.
  if (want_multisample) core::Trace("RENDER: multisampling not available, drawing without\n");
  params.back_buffer_width = mode.width;
  params.back_buffer_height = mode.height;
  params.enable_auto_depth_stencil = true;
  params.windowed = !full_screen;
  params.vsync = vsync;
  params.device_window = g_display.d3d.backend == DisplayBackend::kHeadless ? nullptr : g_display.window;

  core::QEGUIWindow* window = params.device_window;
  if (set_window_style && window) {
    if (full_screen) {
      window->SetFullScreen(true, static_cast<int>(mode.width), static_cast<int>(mode.height),
                            default_refresh ? 0 : static_cast<int>(mode.refresh_rate));
    } else {
      if (window->IsFullScreen()) window->SetFullScreen(false);
      window->SetClientSize(static_cast<int>(mode.width), static_cast<int>(mode.height));
      window->Show();
    }
  }

  ReleaseDevice();
  g_display.device = CreateDevice(params);
  if (!g_display.device) {
    core::Trace("RENDER: device creation failed\n");
    return -1;
  }
  if (!g_display.dump_folder.empty()) g_display.device->SetDumpFolder(g_display.dump_folder);
  const Caps& caps = g_display.device->GetDeviceCaps();
  for (DisplayMode& entry : g_display.modes) entry.caps = caps;
  g_display.current_mode = mode_index;
  ApplyDefaultStates();
  if (want_stencil) mode.flags |= kModeHasStencil;
  else mode.flags &= ~kModeHasStencil;
  return 0;
}

int SetRenderStateCached(RenderStateType state, uint32_t value) {
  if (state >= kRenderStateCount) return kErrInvalidCall;
  if (g_display.render_cache[state] == value) return 0;
  if (!g_display.device) return kErrInvalidCall;
  int result = g_display.device->SetRenderState(state, value);
  if (result == kOk) g_display.render_cache[state] = value;
  return result;
}

int SetStageStateCached(uint32_t stage, TextureStageStateType type, uint32_t value) {
  if (stage >= kMaxTextureStages || type >= kStageStateCount) return kErrInvalidCall;
  if (g_display.stage_cache[stage][type] == value) return 0;
  if (!g_display.device) return kErrInvalidCall;
  int result = g_display.device->SetTextureStageState(stage, type, value);
  if (result == kOk) g_display.stage_cache[stage][type] = value;
  return result;
}

uint32_t CachedRenderState(RenderStateType state) {
  return state < kRenderStateCount ? g_display.render_cache[state] : 0;
}

uint32_t CachedStageState(uint32_t stage, TextureStageStateType type) {
  return stage < kMaxTextureStages && type < kStageStateCount ? g_display.stage_cache[stage][type] : 0;
}

void ApplyDefaultStates() {
  Device* device = g_display.device.get();
  if (!device) return;
  size_t count = 0;
  const RenderStateDefault* states = DefaultRenderStates(&count);
  for (size_t i = 0; i < count; ++i) {
    device->SetRenderState(states[i].state, states[i].value);
    g_display.render_cache[states[i].state] = states[i].value;
  }
  const StageStateDefault* stage_states = DefaultStageStates(&count);
  for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage)
    for (size_t i = 0; i < count; ++i) {
      device->SetTextureStageState(stage, stage_states[i].type, stage_states[i].value);
      g_display.stage_cache[stage][stage_states[i].type] = stage_states[i].value;
    }
  const StageStateDefault* stage0 = Stage0Overrides(&count);
  for (size_t i = 0; i < count; ++i) {
    device->SetTextureStageState(0, stage0[i].type, stage0[i].value);
    g_display.stage_cache[0][stage0[i].type] = stage0[i].value;
  }
  // States outside the list keep whatever the device holds; the caches
  // take those values so that cache and device agree everywhere.
  for (uint32_t state = 0; state < kRenderStateCount; ++state)
    g_display.render_cache[state] = device->GetRenderState(static_cast<RenderStateType>(state));
  for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage)
    for (uint32_t type = 0; type < kStageStateCount; ++type)
      g_display.stage_cache[stage][type] = device->GetTextureStageState(stage, static_cast<TextureStageStateType>(type));
}

int CheckDevice() {
  Device* device = g_display.device.get();
  if (!device) return -1;
  int level = device->TestCooperativeLevel();
  if (level == kErrDeviceLost) return -1;
  if (level == kErrDeviceNotReset) return ResetDevice() == 0 ? 0 : -1;
  return 0;
}

int ResetDevice() {
  Device* device = g_display.device.get();
  if (!device) return -1;
  if (device->Reset(device->GetPresentParameters()) != kOk) return -1;
  ApplyDefaultStates();
  return 0;
}

void ReleaseDevice() {
  // The render layer draws with this device: it goes first.
  if (g_display.device && LayerDevice() == g_display.device.get()) ShutdownRenderLayer();
  g_display.device.reset();
  g_display.current_mode = -1;
}

void ReleaseDirect3D() {
  ReleaseDevice();
  g_display.modes.clear();
  g_display.initialized = false;
  g_display.d3d = Direct3DInfo();
  g_display.window = nullptr;
}

void SetDumpFolder(const std::string& folder) {
  g_display.dump_folder = folder;
  if (g_display.device) g_display.device->SetDumpFolder(folder);
}

const Direct3DInfo* GetDirect3D() { return g_display.initialized ? &g_display.d3d : nullptr; }
Device* GetDevice() { return g_display.device.get(); }

const DisplayMode* CurrentDisplayMode() {
  if (!g_display.device || g_display.current_mode < 0) return nullptr;
  return &g_display.modes[g_display.current_mode];
}

const Caps* CurrentDeviceCaps() {
  const DisplayMode* mode = CurrentDisplayMode();
  return mode ? &mode->caps : nullptr;
}

int CurrentModeIndex() { return g_display.device ? g_display.current_mode : -1; }
const std::vector<DisplayMode>& DisplayModes() { return g_display.modes; }

}  // namespace render

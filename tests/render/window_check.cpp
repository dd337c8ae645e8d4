// render_window_check DUMP_DIR [HOLD_SECONDS]: opens the output window the
// way the Server does (640 x 480 x 16 windowed on display 0), draws four
// coloured quadrants through the device, presents, and asks the X server
// for the window's pixels to check the picture arrived upright; then makes
// the window larger and checks the stretched picture. Run it in a real X
// server, e.g.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/render_window_check /tmp/frames
// Prints "window check: ok" and exits 0 when everything matched.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/values.h"

namespace {

using namespace render;

struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t color;
  float u, v;
};

void Fill(Device* device, float x0, float y0, float x1, float y1, uint32_t colour) {
  ScreenVertex v[4] = {{x0, y0, 0, 1, colour, 0, 0}, {x1, y0, 0, 1, colour, 0, 0},
                       {x0, y1, 0, 1, colour, 0, 0}, {x1, y1, 0, 1, colour, 0, 0}};
  device->SetFVF(kFvfScreenVertex);
  device->DrawPrimitiveUP(PT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex));
}

void PumpEvents() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) core::RouteWindowEvent(event);
}

// What the X server shows in the window at (x, y) from its top left.
uint32_t WindowPixel(core::QEGUIWindow& window, int x, int y) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window.Handle(), &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  Display* display = info.info.x11.display;
  XSync(display, False);
  XImage* image = XGetImage(display, info.info.x11.window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return 0;
  unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return 0xff000000u | static_cast<uint32_t>(pixel & 0xffffff);
}

int failures = 0;

void Expect(const char* what, uint32_t got, uint32_t expected) {
  if (got == expected) return;
  std::printf("MISMATCH %s: got %08x, expected %08x\n", what, got, expected);
  ++failures;
}

void DrawQuadrants(Device* device) {
  device->SetRenderState(RS_ZENABLE, ZB_FALSE);
  device->SetRenderState(RS_CULLMODE, CULL_NONE);
  device->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
  device->SetTextureStageState(0, TSS_COLORARG1, TA_DIFFUSE);
  device->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  Fill(device, -0.5f, -0.5f, 319.5f, 239.5f, 0xffff0000);   // top left: red
  Fill(device, 319.5f, -0.5f, 639.5f, 239.5f, 0xff00ff00);  // top right: green
  Fill(device, -0.5f, 239.5f, 319.5f, 479.5f, 0xff0000ff);  // bottom left: blue
  Fill(device, 319.5f, 239.5f, 639.5f, 479.5f, 0xffffffff); // bottom right: white
}

void CheckWindow(core::QEGUIWindow& window, const char* label, int width, int height) {
  std::printf("%s: window drawable %dx%d\n", label, width, height);
  const struct {
    double fx, fy;
    uint32_t colour;
    const char* name;
  } probes[] = {{0.25, 0.25, 0xffff0000, "top left"},
                {0.75, 0.25, 0xff00ff00, "top right"},
                {0.25, 0.75, 0xff0000ff, "bottom left"},
                {0.75, 0.75, 0xffffffff, "bottom right"},
                {0.02, 0.02, 0xffff0000, "top left corner"},
                {0.98, 0.98, 0xffffffff, "bottom right corner"}};
  for (const auto& probe : probes)
    Expect(probe.name, WindowPixel(window, static_cast<int>(probe.fx * width), static_cast<int>(probe.fy * height)),
           probe.colour);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: render_window_check DUMP_DIR\n");
    return 2;
  }
  core::QEGUIWindow window;
  if (window.CreateGuiWindow("halvane VJ", 320, 240, core::kWindowOpenGl | core::kWindowResizable) != 0) {
    std::printf("cannot open a window\n");
    return 1;
  }
  if (InitDirect3D(0) != 0) {
    std::printf("Error initializing d3d. Try -device 0 \n");
    return 1;
  }
  std::printf("adapter: %s, desktop %ux%u %s (%u bits)\n", GetDirect3D()->info.description.c_str(),
              GetDirect3D()->info.desktop.width, GetDirect3D()->info.desktop.height,
              FormatName(GetDirect3D()->info.desktop.format), FormatBitsPerPixel(GetDirect3D()->info.desktop.format));
  // The Server's own request.
  if (SelectDisplayMode(&window, 640, 480, 16, false, false, nullptr, "", false, true, true, false, false) != 0) {
    std::printf("Error initializing display\n");
    return 1;
  }
  SetDumpFolder(argv[1]);
  Device* device = GetDevice();
  PumpEvents();
  int width = 0, height = 0;
  window.GetDrawableSize(&width, &height);
  if (width != 640 || height != 480) {
    std::printf("window drawable is %dx%d, not 640x480\n", width, height);
    ++failures;
  }
  for (int frame = 0; frame < 2; ++frame) {
    DrawQuadrants(device);
    device->Present();
  }
  CheckWindow(window, "640x480", width, height);

  // A larger window: the same picture, stretched. (At the screen's corner,
  // so all of it is on screen for the X server to show.)
  window.SetPosition(0, 0);
  window.SetClientSize(960, 720);
  for (int i = 0; i < 50; ++i) {
    PumpEvents();
    window.GetDrawableSize(&width, &height);
    if (width == 960) break;
    SDL_Delay(10);
  }
  for (int frame = 0; frame < 2; ++frame) {
    DrawQuadrants(device);
    device->Present();
  }
  CheckWindow(window, "960x720", width, height);
  if (width != 960 || height != 720) {
    std::printf("window did not grow (%dx%d)\n", width, height);
    ++failures;
  }
  // An optional second argument keeps the window up (presenting) for that
  // many seconds, so that a screen grab can be taken from outside.
  if (argc > 2) {
    uint32_t until = SDL_GetTicks() + static_cast<uint32_t>(std::atof(argv[2]) * 1000);
    while (SDL_GetTicks() < until) {
      PumpEvents();
      DrawQuadrants(device);
      device->Present();
      SDL_Delay(20);
    }
  }
  std::printf("frames presented: %llu\n", static_cast<unsigned long long>(device->PresentCount()));
  ReleaseDirect3D();
  window.Destroy();
  SDL_Quit();
  if (failures) {
    std::printf("window check: %d mismatches\n", failures);
    return 1;
  }
  std::printf("window check: ok\n");
  return 0;
}

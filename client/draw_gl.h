// Internal to client: the ImGui renderer on OpenGL, an offscreen target, and
// a picture of the Client window drawn without any window (for tests and
// people to look at).
#pragma once

#include <cstdint>
#include <vector>

#include "client/window.h"

namespace client {

// The ImGui OpenGL 3 renderer for the current ImGui context, on the current
// GL context. 0 or -1.
int StartImGuiGl();
void StopImGuiGl();
// Before ImGui::NewFrame (makes the renderer's GL objects on first use).
void BeginImGuiGlFrame();
// A texture holding `rgba` (width x height, top row first) for the
// picture `key`, uploaded again only when `serial` changes; textures not
// asked for during a frame are deleted at the next BeginImGuiGlFrame.
void* PictureTextureGl(const void* key, uint64_t serial, int width, int height, const uint8_t* rgba);
// Clears to the window colour and draws the ImGui frame just rendered into
// the bound framebuffer of `width` x `height` pixels.
void DrawImGuiGl(int width, int height);

// A colour framebuffer on the current GL context.
class OffscreenTarget {
 public:
  OffscreenTarget() = default;
  ~OffscreenTarget();
  OffscreenTarget(const OffscreenTarget&) = delete;
  OffscreenTarget& operator=(const OffscreenTarget&) = delete;
  // Makes and binds it. 0 or -1.
  int Create(int width, int height);
  void Bind();
  // RGBA, 8 bits each, top row first.
  int ReadRgba(std::vector<uint8_t>* pixels);

 private:
  unsigned framebuffer_ = 0;
  unsigned colour_ = 0;
  int width_ = 0, height_ = 0;
};

struct Picture {
  int width = 0, height = 0;
  float panel_top = 0.0f;     // window y of the first panel (below the menu)
  std::vector<uint8_t> rgba;  // top row first
};

// Draws `frames` frames of the window holding `logic`'s panels on a
// headless GL context at `scale` and returns the last one. The window size
// is the one that shows one panel whole unless given. 0 or -1.
int RenderClientPicture(ClientWindow* logic, float scale, int frames, Picture* picture, int width = 0,
                        int height = 0);

}  // namespace client

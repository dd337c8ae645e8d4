// The ImGui renderer on OpenGL, offscreen framebuffers, and the headless
// picture of the Client window (Linux). GL entry points come from libepoxy;
// the ImGui OpenGL 3 back end (inside Debian's libimgui) loads its own from
// libGL.so.1, which works for EGL contexts too (libglvnd dispatches to
// whatever context is current).
#include "client/draw_gl.h"

#include <dlfcn.h>
#include <epoxy/gl.h>
#include <imgui.h>
#include <backends/imgui_impl_opengl3.h>

#include <cmath>
#include <cstdint>
#include <map>

#include "app/core/core.h"
#include "client/view.h"
#include "render/gl_context.h"

namespace client {

int StartImGuiGl() {
  // The ImGui back end opens libGL.so.1 on every start and closes it again
  // from an exit handler. Kept loaded for the whole process, the library is
  // never unloaded while the process ends (where leak checks and other exit
  // handlers still reach into it).
  static void* keep_libgl = dlopen("libGL.so.1", RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
  (void)keep_libgl;
  if (!ImGui_ImplOpenGL3_Init("#version 330 core")) {
    core::Trace("CLIENT: ImGui OpenGL renderer did not start\n");
    return -1;
  }
  return 0;
}

namespace {

struct PictureTextureEntry {
  GLuint name = 0;
  uint64_t serial = 0;
  int width = 0, height = 0;
  bool used = false;
};
std::map<const void*, PictureTextureEntry> g_pictures;

void DeletePictures(bool only_unused) {
  for (auto it = g_pictures.begin(); it != g_pictures.end();) {
    if (only_unused && it->second.used) {
      it->second.used = false;
      ++it;
      continue;
    }
    glDeleteTextures(1, &it->second.name);
    it = g_pictures.erase(it);
  }
}

}  // namespace

void* PictureTextureGl(const void* key, uint64_t serial, int width, int height, const uint8_t* rgba) {
  if (!rgba || width <= 0 || height <= 0) return nullptr;
  PictureTextureEntry& entry = g_pictures[key];
  entry.used = true;
  if (!entry.name) glGenTextures(1, &entry.name);
  glBindTexture(GL_TEXTURE_2D, entry.name);
  if (entry.serial != serial || entry.width != width || entry.height != height) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    entry.serial = serial;
    entry.width = width;
    entry.height = height;
  }
  return reinterpret_cast<void*>(static_cast<intptr_t>(entry.name));
}

void StopImGuiGl() {
  DeletePictures(false);
  ImGui_ImplOpenGL3_Shutdown();
}

void BeginImGuiGlFrame() {
  DeletePictures(true);
  ImGui_ImplOpenGL3_NewFrame();
}

void DrawImGuiGl(int width, int height) {
  glViewport(0, 0, width, height);
  glClearColor(24 / 255.0f, 26 / 255.0f, 31 / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

OffscreenTarget::~OffscreenTarget() {
  if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
  if (colour_) glDeleteRenderbuffers(1, &colour_);
}

int OffscreenTarget::Create(int width, int height) {
  if (width <= 0 || height <= 0) return -1;
  width_ = width;
  height_ = height;
  glGenFramebuffers(1, &framebuffer_);
  glGenRenderbuffers(1, &colour_);
  glBindRenderbuffer(GL_RENDERBUFFER, colour_);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    core::Trace("CLIENT: offscreen framebuffer incomplete\n");
    return -1;
  }
  return 0;
}

void OffscreenTarget::Bind() { glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_); }

int OffscreenTarget::ReadRgba(std::vector<uint8_t>* pixels) {
  if (!framebuffer_) return -1;
  Bind();
  size_t row = static_cast<size_t>(width_) * 4;
  std::vector<uint8_t> flipped(row * static_cast<size_t>(height_));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, flipped.data());
  if (glGetError() != GL_NO_ERROR) return -1;
  pixels->resize(flipped.size());
  // GL's first row is the bottom one.
  for (int y = 0; y < height_; ++y)
    std::copy_n(flipped.data() + static_cast<size_t>(height_ - 1 - y) * row, row,
                pixels->data() + static_cast<size_t>(y) * row);
  return 0;
}

int RenderClientPicture(ClientWindow* logic, float scale, int frames, Picture* picture, int width, int height) {
  std::unique_ptr<render::GlContext> gl = render::CreateHeadlessGlContext();
  if (!gl || gl->MakeCurrent() != 0) {
    core::Trace("CLIENT: no headless GL context for the picture\n");
    return -1;
  }
  ImGuiContext* previous = ImGui::GetCurrentContext();
  ImGuiContext* context = ImGui::CreateContext();
  ImGui::SetCurrentContext(context);
  int result = -1;
  {
    ClientView view(logic);
    view.SetPictureTexture(PictureTextureGl);
    view.SetUp(scale, kUiFontPath);
    if (width <= 0 || height <= 0) {
      float w = 0, h = 0;
      view.PreferredWindowSize(&w, &h);
      width = static_cast<int>(std::ceil(w));
      height = static_cast<int>(std::ceil(h));
    }
    OffscreenTarget target;
    if (StartImGuiGl() == 0) {
      if (target.Create(width, height) == 0) {
        ImGuiIO& io = ImGui::GetIO();
        for (int i = 0; i < std::max(1, frames); ++i) {
          io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
          io.DeltaTime = 1.0f / 60.0f;
          io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
          BeginImGuiGlFrame();
          ImGui::NewFrame();
          view.Draw(static_cast<float>(width), static_cast<float>(height));
          ImGui::Render();
          target.Bind();
          DrawImGuiGl(width, height);
        }
        glFinish();
        picture->panel_top = view.menu_height();
        picture->width = width;
        picture->height = height;
        result = target.ReadRgba(&picture->rgba);
      }
      StopImGuiGl();
    }
  }
  ImGui::DestroyContext(context);
  ImGui::SetCurrentContext(previous);
  return result;
}

}  // namespace client

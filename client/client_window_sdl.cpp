// The Client's main window: an SDL window with its own OpenGL 3.3 context
// and its own Dear ImGui context, around the ClientWindow logic.
//
// Two GL windows share the frame loop in the combined program, so every
// frame makes this window's context current before drawing and swaps
// without waiting for the display (the output window paces the loop). An
// idle window is not redrawn: a frame is drawn when input arrived, when the
// logic changed (twice: ImGui lays out popups in the frame after they
// open), for a short while after input (hover and popups settle over a few
// frames), and at least once a second.
#include <SDL.h>
#include <imgui.h>
#include <backends/imgui_impl_sdl.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>

#include "app/core/core.h"
#include "client/draw_gl.h"
#include "client/panel.h"
#include "client/view.h"
#include "client/window.h"
#include "render/gl_context.h"

namespace client {
namespace {

constexpr double kSettleSeconds = 0.3;  // keep drawing this long after input
constexpr double kRefreshSeconds = 1.0;  // draw at least this often
constexpr int kFramesPerChange = 2;      // a logic change shows in this many frames

// Display scale from the display's density: 96 dpi is 1.0, in quarter steps.
float DisplayScale(SDL_Window* window) {
  int display = SDL_GetWindowDisplayIndex(window);
  float hdpi = 0.0f;
  if (display < 0 || SDL_GetDisplayDPI(display, nullptr, &hdpi, nullptr) != 0 || !(hdpi > 0.0f)) return 1.0f;
  float scale = std::round(hdpi / 96.0f * 4.0f) / 4.0f;
  return std::clamp(scale, 1.0f, 3.0f);
}

std::vector<PixelRect> DisplayBounds() {
  std::vector<PixelRect> displays;
  int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(i, &bounds) == 0)
      displays.push_back(PixelRect{static_cast<float>(bounds.x), static_cast<float>(bounds.y),
                                   static_cast<float>(bounds.w), static_cast<float>(bounds.h)});
  }
  return displays;
}

class MainWindow final : public core::QEGUIWindow {
 public:
  MainWindow() : view_(&logic_) {}
  ~MainWindow() override { Close(); }

  int Create();
  // One frame: panels tick, then the window draws. 0 once closed.
  int Tick();
  // Stores the position, closes every panel and the window.
  void Close();
  ClientWindow& logic() { return logic_; }

  bool WindowProc(const core::WindowEvent& event) override {
    if (event.native && imgui_) {
      last_input_ = core::NowSeconds();
      const SDL_Event& native = *event.native;
      // ImGui of this version reads keys as held/not held once a frame, so
      // a key pressed and released between two frames would be lost: hold
      // such a release back until a frame has seen the key down.
      if (native.type == SDL_KEYDOWN) pressed_since_frame_.push_back(native.key.keysym.scancode);
      if (native.type == SDL_MOUSEMOTION) {
        last_motion_x_ = static_cast<float>(native.motion.x);
        last_motion_y_ = static_cast<float>(native.motion.y);
        have_motion_ = true;
      }
      if (native.type == SDL_WINDOWEVENT && native.window.event == SDL_WINDOWEVENT_LEAVE) have_motion_ = false;
      bool hold = native.type == SDL_KEYUP &&
                  std::find(pressed_since_frame_.begin(), pressed_since_frame_.end(), native.key.keysym.scancode) !=
                      pressed_since_frame_.end();
      if (hold)
        held_releases_.push_back(native);
      else
        Feed(native);
    }
    return QEGUIWindow::WindowProc(event);
  }
  void OnClose() override { logic_.RequestQuit(); }

 private:
  void StorePosition();
  void Draw();
  // Hands one event to this window's ImGui context.
  void Feed(const SDL_Event& event);

  ClientWindow logic_;
  ClientView view_;
  std::unique_ptr<render::GlContext> gl_;
  ImGuiContext* imgui_ = nullptr;
  bool sdl_backend_ = false;
  bool gl_backend_ = false;
  bool created_ = false;  // fully made: its position is worth storing
  bool closed_ = false;
  uint64_t drawn_changes_ = ~uint64_t{0};
  double last_input_ = 0.0;
  int frames_owed_ = 0;  // frames still to draw for logic changes
  double last_draw_ = 0.0;
  std::vector<SDL_Scancode> pressed_since_frame_;
  // The pointer as the window's own motion events report it.
  float last_motion_x_ = 0.0f, last_motion_y_ = 0.0f;
  bool have_motion_ = false;
  std::vector<SDL_Event> held_releases_;
};

void MainWindow::Feed(const SDL_Event& event) {
  ImGuiContext* previous = ImGui::GetCurrentContext();
  ImGui::SetCurrentContext(imgui_);
  ImGui_ImplSDL2_ProcessEvent(&event);
  ImGui::SetCurrentContext(previous);
}

int MainWindow::Create() {
  if (CreateGuiWindow(kClientWindowTitle, 640, 480,
                      core::kWindowOpenGl | core::kWindowResizable | core::kWindowHidden) != 0) {
    core::ShowError("Failed to create the client window: %s", SDL_GetError());
    return -1;
  }
  // MIDI controllers: every input port, read each tick; a message wakes a
  // Client that waits for input, so a knob acts at once.
  std::string midi_error;
  std::unique_ptr<control::MidiInput> midi = control::OpenMidiInput("halvane VJ", "", &midi_error);
  if (midi) midi->SetWakeCallback([] {
    SDL_Event wake{};
    wake.type = SDL_USEREVENT;
    SDL_PushEvent(&wake);
  });
  logic_.LoadMidiMappings();
  logic_.SetMidiInput(std::move(midi), midi_error);
  int32_t x = 0, y = 0;
  core::ReadSettingNumber("", "ClientX", &x);
  core::ReadSettingNumber("", "ClientY", &y);
  SetPosition(x, y);

  gl_ = render::CreateWindowGlContext(this, 0);
  if (!gl_) {
    core::ShowError("Failed to create an OpenGL 3.3 context for the client window");
    return -1;
  }
  imgui_ = ImGui::CreateContext();
  ImGui::SetCurrentContext(imgui_);
  float scale = DisplayScale(Handle());
  view_.SetUp(scale, kUiFontPath);
  if (!ImGui_ImplSDL2_InitForOpenGL(Handle(), nullptr)) {
    core::ShowError("Failed to start the client window's input");
    return -1;
  }
  sdl_backend_ = true;
  if (StartImGuiGl() != 0) {
    core::ShowError("Failed to start the client window's drawing");
    return -1;
  }
  gl_backend_ = true;
  view_.SetPictureTexture(PictureTextureGl);

  float width = 0, height = 0;
  view_.PreferredWindowSize(&width, &height);
  SetClientSize(static_cast<int>(width), static_cast<int>(height));
  int outer_w = 0, outer_h = 0;
  GetSize(&outer_w, &outer_h);
  ScreenPoint place = PlaceOnDisplays(x, y, outer_w, outer_h, DisplayBounds());
  if (place.x != x || place.y != y) SetPosition(place.x, place.y);
  Show();
  StartKeyboardWatch();
  created_ = true;
  core::Trace("CLIENT: window %dx%d at %d,%d, scale %.2f\n", static_cast<int>(width), static_cast<int>(height),
              place.x, place.y, scale);
  return 0;
}

int MainWindow::Tick() {
  if (closed_) return 0;
  // The keys of the whole program, whichever of its windows has the focus.
  if (logic_.Tick(ReadKeyboard()) == 0) {
    Close();
    return 0;
  }
  double now = core::NowSeconds();
  uint64_t changes = logic_.changes();
  if (changes != drawn_changes_) {
    drawn_changes_ = changes;
    frames_owed_ = kFramesPerChange;
  }
  // A popup (host prompt, error) animates: its backdrop fades in and the
  // text cursor blinks.
  bool popup = logic_.dialog().is_open() || logic_.preset_dialog().is_open() || !logic_.alerts().empty();
  bool due = popup || frames_owed_ > 0 || now - last_input_ < kSettleSeconds || now - last_draw_ >= kRefreshSeconds;
  if (due && gl_ && gl_->DrawableShown()) {
    Draw();
    last_draw_ = now;
    if (frames_owed_ > 0) --frames_owed_;
    // Drawing may itself change the logic (a click handled in the view).
    if (logic_.changes() != drawn_changes_) {
      drawn_changes_ = logic_.changes();
      frames_owed_ = kFramesPerChange;
    }
  }
  // "&Quit" from the menu takes effect now rather than a frame later.
  if (logic_.quit_requested()) {
    Close();
    return 0;
  }
  return 1;
}

void MainWindow::Draw() {
  if (gl_->MakeCurrent() != 0) return;
  ImGuiContext* previous = ImGui::GetCurrentContext();
  ImGui::SetCurrentContext(imgui_);
  BeginImGuiGlFrame();
  ImGui_ImplSDL2_NewFrame();
  ImGuiIO& io = ImGui::GetIO();
  // The back end reads the pointer from the display's global state, which
  // some X servers stop updating while a button is held (the drag would
  // freeze); the window's motion events are always current.
  if (have_motion_ && io.MousePos.x > -FLT_MAX) io.MousePos = ImVec2(last_motion_x_, last_motion_y_);
  ImGui::NewFrame();
  view_.Draw(io.DisplaySize.x, io.DisplaySize.y);
  ImGui::Render();
  int width = 0, height = 0;
  gl_->GetDrawableSize(&width, &height);
  DrawImGuiGl(width, height);
  gl_->SwapBuffers();
  ImGui::SetCurrentContext(previous);
  // This frame saw the keys down; their releases count from the next one.
  pressed_since_frame_.clear();
  std::vector<SDL_Event> releases;
  releases.swap(held_releases_);
  for (const SDL_Event& release : releases) Feed(release);
  if (!releases.empty()) last_input_ = core::NowSeconds();
}

void MainWindow::StorePosition() {
  if (!Handle()) return;
  int x = 0, y = 0;
  GetPosition(&x, &y);
  if (core::WriteSettingNumber("", "ClientX", x) != 0 || core::WriteSettingNumber("", "ClientY", y) != 0)
    core::Trace("CLIENT: could not store the window position\n");
}

void MainWindow::Close() {
  if (closed_) return;
  closed_ = true;
  StopKeyboardWatch();
  if (created_) StorePosition();
  logic_.CloseAllPanels();
  if (imgui_) {
    if (gl_) gl_->MakeCurrent();
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    if (gl_backend_) StopImGuiGl();
    if (sdl_backend_) ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(imgui_);
    ImGui::SetCurrentContext(previous == imgui_ ? nullptr : previous);
    imgui_ = nullptr;
  }
  gl_.reset();
  Destroy();
}

std::unique_ptr<MainWindow> g_window;

}  // namespace

int CreateClientWindow() {
  g_window = std::make_unique<MainWindow>();
  if (g_window->Create() != 0) {
    g_window.reset();
    return -1;
  }
  return 0;
}

int ClientTick() { return g_window ? g_window->Tick() : 0; }

void CloseClient() {
  if (!g_window) return;
  g_window->Close();
  g_window.reset();
}

ClientWindow* GetClientWindow() { return g_window ? &g_window->logic() : nullptr; }

}  // namespace client

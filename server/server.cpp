// The Server: start-up, the tick and shutdown. One tick: read the clock,
// take the newest connection, drain and answer every message, report the
// frame rate about once a second, render one frame. The Client link is in
// client_link.cpp, the start-up preset in startup_recall.cpp.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>

#include "app/core/core.h"
#include "net/link.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "server/server_internal.h"
#include "show/preset.h"

namespace server {
namespace internal {

ServerState g_server;

void ResetDeck(int index) {
  Deck& deck = g_server.decks[index];
  fx::BeatListener* listener = deck.listener;
  deck = Deck();
  deck.record = net::DefaultDeckRecord(index);
  deck.listener = listener;
}

}  // namespace internal

using internal::AcceptNewcomer;
using internal::CountFrame;
using internal::DisconnectClient;
using internal::g_server;
using internal::HandleMessage;
using internal::kMaxMessagesPerTick;
using internal::PrepareStartupRecall;
using internal::RecallStartupPreset;
using internal::ResetDeck;
using internal::RestartFrameCount;
using internal::SendLogText;

namespace {

// ---------------------------------------------------------------------------
// Start-up and shutdown.
// ---------------------------------------------------------------------------

int StartDisplay() {
  const ServerOptions& options = g_server.options;
  int init = 0;
  if (options.headless) {
    // The offscreen "desktop" is as large as the output asked for.
    render::AdapterInfo info = render::HeadlessAdapterInfo();
    info.desktop.width = std::max<uint32_t>(info.desktop.width, static_cast<uint32_t>(std::max(0, options.output_width)));
    info.desktop.height = std::max<uint32_t>(info.desktop.height, static_cast<uint32_t>(std::max(0, options.output_height)));
    init = render::InitDirect3DFrom(options.adapter, info, render::DisplayBackend::kHeadless);
  } else {
    init = render::InitDirect3D(options.adapter, render::DisplayBackend::kWindowSystem);
  }
  if (init != 0) {
    const int displays = options.headless ? -1 : render::CountDisplays();
    if (displays > 0 && options.adapter >= displays)
      core::ShowError("Display %d does not exist: this machine has %d (device 0 .. %d)", options.adapter, displays,
                      displays - 1);
    core::ShowError("Error initializing d3d. Try -device 0 ");
    return -1;
  }
  // The output's size may be the display's (full screen without a size).
  if (internal::ChooseOutputSizes(options) != 0) return -1;
  if (!options.headless) {
    if (internal::OpenOutputWindow(&g_server.window) != 0) {
      core::ShowError("Error initializing playback window");
      return -1;
    }
    g_server.window_open = true;
  }
  core::QEGUIWindow* window = options.headless ? nullptr : &g_server.window;
  // With a stencil: the scratch and aux depth surfaces become D24S8, which
  // the scene's shadow volumes count in.
  if (render::SelectDisplayMode(window, OutputWidth(), OutputHeight(), 16, true, false, nullptr, "", false,
                                options.vsync, true, false, false) != 0) {
    core::ShowError("Error initializing display");
    return -1;
  }
  if (!options.headless) {
    // Full screen when asked, or when it was the last choice on this display.
    int32_t remembered = 0;
    core::ReadSettingNumber("", internal::FullScreenSettingName(options.adapter).c_str(), &remembered);
    if (options.fullscreen || remembered == 1) {
      internal::MoveWindowToDisplay(&g_server.window, options.adapter);
      g_server.window.SetOutputFullScreen(true, options.fullscreen);
    }
  }
  return 0;
}

// Releases whatever exists, in reverse order of start-up. Safe on a
// partial start.
void TearDown() {
  DisconnectClient();
  g_server.listener.Close();
  internal::StopControlInputs();
  internal::StopEffectLoads();
  ReleaseCatalogue();
  internal::ShutdownVideo();
  internal::ShutdownImageManager();
  internal::ShutdownMetaballs();
  internal::ShutdownMaterials();
  internal::ShutdownRenderQueue();
  internal::StopVenueOutput();
  internal::ReleaseScratchTargets();
  internal::StopMixers();
  for (int i = 0; i < kDeckCount; ++i) {
    if (g_server.decks[i].listener) fx::DestroyBeatListener(g_server.decks[i].listener);
    g_server.decks[i].listener = nullptr;
    ResetDeck(i);
  }
  render::ShutdownRenderLayer();
  render::ReleaseDevice();
  render::ReleaseDirect3D();
  if (g_server.window_open && !g_server.quit_requested) internal::SaveOutputWindowPosition(g_server.window);
  g_server.window.Destroy();
  g_server.window_open = false;
  g_server.startup_recall.reset();
  g_server.log_backlog.clear();
  g_server.accept_retry_at = 0.0;
  g_server.next_slow_report = 0.0;
  g_server.started = false;
  g_server.client_connected = false;
  g_server.quit_requested = false;
  g_server.drew_deck = false;
}

// One log line for a frame over the limit, at most one per
// kSlowFrameReportSeconds, naming what took longest in it.
void ReportSlowFrame(double seconds) {
  if (!(seconds > g_server.options.slow_frame_seconds)) return;
  const double now = core::NowSeconds();
  if (now < g_server.next_slow_report) return;
  g_server.next_slow_report = now + kSlowFrameReportSeconds;
  const int ms = static_cast<int>(seconds * 1000.0 + 0.5);
  if (g_server.longest_part.empty()) {
    ServerLog("Slow frame: %d ms", ms);
  } else {
    ServerLog("Slow frame: %d ms, longest part %s (%d ms)", ms, g_server.longest_part.c_str(),
              static_cast<int>(g_server.longest_part_seconds * 1000.0 + 0.5));
  }
}

int FailStart() {
  TearDown();
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public.
// ---------------------------------------------------------------------------

int StartServer(int adapter, int port) {
  ServerOptions options;
  options.adapter = adapter;
  options.port = port;
  return StartServer(options);
}

int StartServer(const ServerOptions& options) {
  core::Trace("SERVER: Starting up.\n");
  ShutdownServer();
  g_server.options = options;
  g_server.current = 0;
  for (int i = 0; i < kDeckCount; ++i) ResetDeck(i);

  // 1. Display: window, device, mode.
  core::Trace("SERVER: Initializing display.\n");
  if (StartDisplay() != 0) {
    core::ShowError("Error initializing display");
    return FailStart();
  }
  // 2. The render layer: id tables, dynamic buffers, the target stack.
  if (render::InitRenderLayer() != 0) {
    core::ShowError("Error initializing resource manager");
    return FailStart();
  }
  // 3. Mixers and their scratch targets.
  if (internal::StartMixers() != 0 || internal::CreateScratchTargets() != 0) {
    core::ShowError("Error initializing mixers");
    return FailStart();
  }
  // The preview target and encoder, the recording asked for at start.
  if (internal::StartVenueOutput() != 0) return FailStart();
  // 4. Materials.
  if (internal::StaticInitMaterials() != 0) {
    core::ShowError("Error static initializing ShaderManager");
    return FailStart();
  }
  if (internal::InitMaterials() != 0) {
    core::ShowError("Error initializing Shader Manager");
    return FailStart();
  }
  if (internal::ParseMaterialScripts() != 0) {
    core::ShowError("Error parsing shaders");
    return FailStart();
  }
  // 5. Images, metaballs, video.
  if (internal::InitImageManager() != 0) {
    core::ShowError("Error initializing image manager");
    return FailStart();
  }
  if (internal::InitMetaballs() != 0) {
    core::ShowError("Error initializing metaballs");
    return FailStart();
  }
  if (internal::InitVideoStreams() != 0) core::ShowError("Error initializing video stream system");
  // 6. The effect catalogue, and the loader its effects load through.
  if (EnumerateEffects() != 0) return FailStart();
  internal::StartEffectLoads();
  // 7. Decks.
  for (int i = 0; i < kDeckCount; ++i) {
    g_server.decks[i].record.deck = i;
    g_server.decks[i].listener = fx::CreateBeatListener();
    if (!g_server.decks[i].listener) return FailStart();
  }
  // 8. The start-up preset: its effects load now, the decks take them on
  // the first tick.
  if (PrepareStartupRecall(options) != 0) return FailStart();
  // 9. The listening endpoint.
  if (g_server.listener.Listen(options.port, options.bind_address) != 0) {
    core::ShowError("Cannot listen on port %d%s%s", options.port, options.bind_address.empty() ? "" : " at ",
                    options.bind_address.c_str());
    return FailStart();
  }
  core::Trace("SERVER: Listening on port %d.\n", g_server.listener.Port());
  // Run-time messages (effects loading and playing) reach the Client's log.
  core::SetMessageListener([](const std::string& text) { SendLogText(text.c_str()); });
  // 10. OSC and the MIDI clock, when asked for.
  if (internal::StartControlInputs(options) != 0) {
    core::SetMessageListener(nullptr);
    return FailStart();
  }
  g_server.clock = core::NowSeconds();
  RestartFrameCount();
  g_server.started = true;
  return 0;
}

int ServerTick() {
  if (!g_server.started) return 0;
  g_server.clock = core::NowSeconds();
  if (g_server.quit_requested) return 0;
  // The clocks run from the first tick: decks start from there.
  if (g_server.startup_recall) {
    show::Binding binding = *g_server.startup_recall;
    g_server.startup_recall.reset();
    RecallStartupPreset(binding);
  }

  const double tick_start = core::NowSeconds();
  g_server.longest_part_seconds = 0.0;
  g_server.longest_part.clear();

  // A failed accept keeps the current Client and the show going.
  const int accepted = AcceptNewcomer();

  if (g_server.client_connected) {
    const double burst_start = core::NowSeconds();
    int taken = 0;
    for (; taken < kMaxMessagesPerTick; ++taken) {
      std::unique_ptr<net::NetMessage> message = net::ReceiveNetMessage(&g_server.link);
      if (!message) break;
      HandleMessage(message.get());
      if (!g_server.client_connected) break;
    }
    if (taken > 0)
      internal::NoteFramePart(core::NowSeconds() - burst_start, core::FormatString("a burst of %d messages", taken));
    if (g_server.client_connected && !g_server.client().IsOpen()) DisconnectClient();
    if (g_server.client_connected) CountFrame();
  }
  internal::PollControlInputs();
  internal::VenueTick();

  if (internal::RunningEffectLoads() > 0) {
    const double load_start = core::NowSeconds();
    std::string step = internal::StepEffectLoads(g_server.options.load_budget_seconds);
    if (!step.empty()) internal::NoteFramePart(core::NowSeconds() - load_start, step);
  }

  g_server.drew_deck = internal::RenderFrame(g_server.clock);
  ReportSlowFrame(core::NowSeconds() - tick_start);
  if (!g_server.drew_deck) core::SleepSeconds(kIdleSleepSeconds);
  return accepted != 0 ? -1 : 1;
}

void ShutdownServer() {
  if (!g_server.started) return;
  core::Trace("SERVER: Shutting down.\n");
  core::SetMessageListener(nullptr);
  TearDown();
}

void ServerLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = core::FormatMessageV(format, args);
  va_end(args);
  SendLogText(text.c_str());
}

bool ServerStarted() { return g_server.started; }
int ServerPort() { return g_server.started ? g_server.listener.Port() : -1; }
bool ClientConnected() { return g_server.client_connected; }
bool QuitRequested() { return g_server.quit_requested; }
double ServerClock() { return g_server.clock; }
bool LastTickDrewDeck() { return g_server.drew_deck; }
uint32_t FramesSinceReport() { return g_server.frames; }
float LastFrameRate() { return g_server.rate; }

Deck* GetDeck(int index) { return index >= 0 && index < kDeckCount ? &g_server.decks[index] : nullptr; }

namespace internal {

OutputWindow* GetOutputWindow() { return &g_server.window; }

void NoteFramePart(double seconds, const std::string& what) {
  if (!(seconds > g_server.longest_part_seconds)) return;
  g_server.longest_part_seconds = seconds;
  g_server.longest_part = what;
}

void OutputWindow::OnClose() {
  if (g_server.quit_requested) return;
  g_server.quit_requested = true;
  SaveOutputWindowPosition(*this);
  // A recording ends with the show it records, as a complete file.
  StopRecording();
  if (full_screen_) SetOutputFullScreen(false, false);
  // Hidden, not destroyed: the device draws into it until shutdown.
  Hide();
  core::Trace("SERVER: Output window closed; rendering stops.\n");
}

}  // namespace internal
}  // namespace server

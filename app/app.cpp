// Process entry and frame loop.
//
// Entry: options pre-pass -> settings root check and splash -> QeAppInit ->
// QeAppFrame until it returns 0 -> QeAppShutdown. Each subsystem plugs its
// start, tick and stop into the hooks below in the order the program needs.
#include "app/app.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/core/core.h"
#include "app/platform.h"
#include "app/splash.h"
#include "client/dialogs.h"
#include "client/window.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "fx/video_effect.h"
#include "net/socket.h"
#include "render/display.h"
#include "render/layer.h"
#include "server/server.h"
#include "show/preset.h"

namespace app {
namespace {

struct AppState {
  Options options;
  CommandLine command;
  std::string command_copy;
  int64_t frames_done = 0;
};

AppState g_app;
// The program clock of a fixed-rate (--fps) run.
core::ManualClock g_fixed_clock;
volatile std::sig_atomic_t g_stop_requested = 0;

// The first SIGINT/SIGTERM ends the frame loop in order; a second one ends
// the process at once, whatever the loop is stuck in.
void OnStopSignal(int) {
  if (g_stop_requested) _exit(1);
  g_stop_requested = 1;
}

// Fatal signals: the buffered trace goes out first, then the signal's
// earlier handling (the default, or a sanitizer's) takes over.
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
struct sigaction g_previous_fatal[sizeof kFatalSignals / sizeof kFatalSignals[0]];

void OnFatalSignal(int signal_number) {
  core::FlushTraceFromSignal();
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
    if (kFatalSignals[i] != signal_number) continue;
    sigaction(signal_number, &g_previous_fatal[i], nullptr);
    // A fault happens again when the instruction is retried; a raised
    // signal (abort) is raised again.
    if (signal_number == SIGABRT) raise(signal_number);
    return;
  }
}

void InstallSignalHandlers() {
  struct sigaction fatal {};
  fatal.sa_handler = OnFatalSignal;
  sigemptyset(&fatal.sa_mask);
  fatal.sa_flags = SA_NODEFER;
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i)
    sigaction(kFatalSignals[i], &fatal, &g_previous_fatal[i]);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a sleep ends early and the loop sees the flag
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// The frame dump folder, relative to the directory the program was started
// in, created when missing. Returns 0 or -1.
int PrepareDumpFolder(const std::string& dump_dir) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(dump_dir, error);
  if (!error) std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path, error)) {
    core::ShowError("Cannot create the frame dump folder %s", dump_dir.c_str());
    return -1;
  }
  render::SetDumpFolder(path.lexically_normal().string());
  return 0;
}

bool DisplayAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

// The splash step: the settings root must exist; then the splash unless
// "Nosplash" says otherwise.
int SplashStep() {
  if (!core::OpenSettingsRoot(core::kSettingsRootPath)) {
    core::ShowError("Error: Registry hive HKEY_LOCAL_MACHINE/software/halvane/vj/ not initialized!");
    std::fprintf(stderr, "(settings folder %s is missing or not writable; create it or use --settings-dir)\n",
                 core::SettingsFolder().c_str());
    return -1;
  }
  int32_t no_splash = 0;
  core::ReadSettingNumber("", "Nosplash", &no_splash);
  if (no_splash != 0 || g_app.options.headless || !DisplayAvailable()) return 0;
  return ShowSplash(core::InstallRoot() + "/resources/splash.bmp");
}

}  // namespace

void RequestStop() { g_stop_requested = 1; }
bool StopRequested() { return g_stop_requested != 0; }

int QeAppInit() {
  // 1. File layer.
  std::string install = core::ExecutableFolder();
  std::string root = g_app.options.root.empty() ? install : g_app.options.root;
  if (core::StartFileLayer(root, install) != 0) {
    core::ShowError("Failed to initialize file subsystem");
    return -1;
  }
  // 2. Command line.
  g_app.command = ParseCommandWords(g_app.command_copy);
  if (g_app.options.headless) {
    g_app.command.client_only = false;
    g_app.command.server_only = true;
  }
  core::Trace("APP: mode %s, adapter %d\n",
              g_app.command.Mode() == RunMode::kServerOnly   ? "server"
              : g_app.command.Mode() == RunMode::kClientOnly ? "client"
                                                             : "combined",
              g_app.command.adapter);
  if (!g_app.options.dump_dir.empty() && PrepareDumpFolder(g_app.options.dump_dir) != 0) return -1;
  // 3. Network.
  if (net::StartNetwork() != 0) {
    core::ShowError("Failed to initialize network subsystem");
    return -1;
  }

  // 4. Timing layer: taps, beat settings, the empty listener list.
  if (fx::StartTiming() != 0) return -1;

  // 5. Server, unless Client only.
  if (g_app.command.Mode() != RunMode::kClientOnly) {
    server::ServerOptions server_options;
    server_options.adapter = g_app.command.adapter;
    server_options.port = g_app.options.port;
    server_options.bind_address = g_app.options.bind_address;
    server_options.headless = g_app.options.headless;
    server_options.vsync = g_app.options.fps <= 0.0;
    // A fixed-rate run completes every load before its next frame, so the
    // same run renders the same pictures.
    server_options.background_loads = g_app.options.fps <= 0.0;
    server_options.osc_port = g_app.options.osc_port;
    server_options.midi_clock_port = g_app.options.midi_clock_port;
    if (g_app.options.output_width > 0) {
      server_options.output_width = g_app.options.output_width;
      server_options.output_height = g_app.options.output_height;
      server_options.output_size_given = true;
    }
    server_options.fullscreen = g_app.options.fullscreen;
    server_options.mix_width = g_app.options.mix_width;
    server_options.mix_height = g_app.options.mix_height;
    server_options.record_file = g_app.options.record_file;
    server_options.audio_file = g_app.options.audio_input;
    server_options.wait_for_encoders = g_app.options.fps > 0.0;
    server_options.frame_rate = g_app.options.fps;
    // ... and every video shows exactly the frame its time asks for.
    fx::SetVideoExactFrames(g_app.options.fps > 0.0);
    if (!g_app.options.preset_file.empty()) {
      server_options.preset_file = g_app.options.preset_file;
      show::ParseBindingKey(g_app.options.recall_key, &server_options.recall_page, &server_options.recall_letter);
    }
    if (server::StartServer(server_options) != 0) {
      core::ShowError("Failed to initialize server");
      return -1;
    }
    WatchForDisplayLoss();
    // Scripts and tests wait for this line to know the port and that the
    // Server takes connections.
    std::printf("listening on %d\n", server::ServerPort());
    std::fflush(stdout);
  } else if (!g_app.options.preset_file.empty()) {
    std::fprintf(stderr, "vj: --preset and --recall start the Server's show; ignored in Client-only mode\n");
  }

  // 6. The Client's window, unless the Server runs alone. With the Server
  // in the same process, one panel starts connected to it (and holds its
  // start-up preset), so the show is playable at once.
  if (g_app.command.Mode() != RunMode::kServerOnly) {
    if (client::CreateClientWindow() != 0) {
      core::ShowError("Failed to initialize client window");
      return -1;
    }
    WatchForDisplayLoss();
    if (g_app.command.Mode() == RunMode::kCombined) {
      const std::string& bind = g_app.options.bind_address;
      std::string host = core::FormatString("%s:%d", bind.empty() ? "127.0.0.1" : bind.c_str(), server::ServerPort());
      client::GetClientWindow()->NewConnectedController(host, g_app.options.preset_file);
    }
  }

  // 7. Sound. Never fails: without an input the beat comes from taps only,
  // and recording itself starts with the first spectrum request.
  fx::SoundOptions sound;
  sound.input_file = g_app.options.audio_input;
  sound.allow_live_input = g_app.options.live_audio;
  fx::StartSound(sound);

  // 8.
  HideSplash();
  return 0;
}

int QeAppFrame() {
  if (g_stop_requested) return 0;
  if (g_app.options.frames >= 0 && g_app.frames_done >= g_app.options.frames) return 0;
  // The Client alone has nothing to pace it: wait for input up to a frame
  // (~16 ms) so that an idle Client does not spin.
  PumpPlatformEvents(g_app.command.Mode() == RunMode::kClientOnly ? 0.016 : 0.0);
  if (g_stop_requested) return 0;

  // One time value for everything this frame reads.
  double now = core::NowSeconds();
  render::SetGlobalTime(static_cast<float>(now));
  fx::BeginSoundFrame();
  fx::DetectBeats(now);

  // The Server's tick returns 0 once its window was closed; in Server-only
  // mode that ends the run. A tick that drew nothing paces the loop (10 ms).
  int result = 1;
  if (g_app.command.Mode() != RunMode::kClientOnly) result = server::ServerTick();
  // In combined and Client-only mode the Client's window decides: closing
  // it ends the program.
  if (g_app.command.Mode() != RunMode::kServerOnly) result = client::ClientTick();

  ++g_app.frames_done;
  // Trace lines of the frame reach the file together, once.
  core::FlushTrace();
  if (g_app.options.fps > 0.0)
    g_fixed_clock.Set(core::kClockEpoch + static_cast<double>(g_app.frames_done) / g_app.options.fps);
  return result;
}

int QeAppShutdown() {
  fx::StopSound();
  client::CloseClient();
  server::ShutdownServer();
  fx::StopTiming();
  net::StopNetwork();
  core::StopFileLayer();
  return 0;
}

int RunProgram(int argc, const char* const* argv) {
  g_app = AppState();
  g_app.options.port = DefaultServerPort();
  g_stop_requested = 0;
  std::string error;
  if (ParseOptions(argc, argv, &g_app.options, &g_app.command_copy, &error) != 0) {
    std::fprintf(stderr, "vj: %s\n\n%s", error.c_str(), UsageText().c_str());
    return 2;
  }
  const CommandLine words = ParseCommandWords(g_app.command_copy);
  if (g_app.options.help || words.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  // Unknown words are ignored, but a typo ("serevr") should not pass
  // silently: it would start both halves instead of the Server alone.
  for (const std::string& word : words.unknown)
    std::fprintf(stderr, "vj: ignoring the unknown word '%s' (see vj --help)\n", word.c_str());
  if (g_app.options.fps > 0.0) {
    g_fixed_clock.Set(core::kClockEpoch);
    core::SetProgramClock(&g_fixed_clock);
  }
  if (!g_app.options.trace_file.empty() && core::SetTraceFile(g_app.options.trace_file.c_str()) != 0)
    std::fprintf(stderr, "vj: cannot open trace file %s\n", g_app.options.trace_file.c_str());
  if (g_app.options.headless) core::SetDialogsDisabled(true);
  core::SetSettingsFolder(g_app.options.settings_dir.empty() ? core::DefaultSettingsFolder()
                                                             : g_app.options.settings_dir);
  core::StartFileLayer(core::ExecutableFolder(), core::ExecutableFolder());
  InstallSignalHandlers();
  StartPlatform(g_app.options.headless);

  if (SplashStep() != 0) {
    StopPlatform();
    return 1;
  }

  // Effect classes join the registry before start-up, in their fixed order.
  fx::RegisterEffectClasses();

  int status = 0;
  if (QeAppInit() != 0) {
    core::ShowMessageBox("Error", "QeAppInit() Failed");
    status = 1;
  } else {
    core::MarkStartupFinished();
    core::Trace("APP: running\n");
    while (QeAppFrame()) {
    }
  }
  QeAppShutdown();
  HideSplash();
  StopPlatform();
  core::MarkStartupFinished(false);
  core::SetTraceFile(nullptr);
  if (g_app.options.fps > 0.0) core::SetProgramClock(nullptr);
  return status;
}

}  // namespace app

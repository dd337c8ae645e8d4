// The Server: start-up, the tick, the Client link and shutdown.
//
// One tick: read the clock, take the newest connection, drain and answer
// every message, report the frame rate about once a second, render one
// frame. Everything the Client sends is checked before it is used: an
// unknown effect or deck is ignored (with a trace line), a non-finite or
// out-of-range value leaves the field as it was, and the reply always
// carries the deck's real state, so the Client's controls snap back.
//
// The current connection and a spare take turns: a newcomer is accepted
// into the spare, and only then does the current one close, so a failed
// accept never costs the performer the connection they have.
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
namespace {

// Messages taken per tick at most, so a flooding peer cannot hold the frame.
constexpr int kMaxMessagesPerTick = 4096;

struct ServerState {
  ServerOptions options;
  bool started = false;
  bool quit_requested = false;
  bool client_connected = false;
  bool drew_deck = false;
  bool window_open = false;
  double clock = 0.0;
  net::ListenSocket listener;
  net::Connection connections[2];
  int current = 0;  // which of `connections` is the Client's
  net::Link link;
  internal::OutputWindow window;
  Deck decks[kDeckCount];
  // The start-up preset's binding, until the first tick recalls it.
  std::optional<show::Binding> startup_recall;
  // Frame-rate report.
  uint32_t last_report_ms = 0;
  uint32_t frames = 0;
  float rate = 0.0f;

  ServerState() {
    for (int i = 0; i < kDeckCount; ++i) decks[i].record = net::DefaultDeckRecord(i);
  }
  net::Connection& client() { return connections[current]; }
};

ServerState g_server;

void ResetDeck(int index) {
  Deck& deck = g_server.decks[index];
  fx::BeatListener* listener = deck.listener;
  deck = Deck();
  deck.record = net::DefaultDeckRecord(index);
  deck.listener = listener;
}

// Sends to the Client if one is connected. A failed send closes the
// connection; the tick notices it after the message loop.
void Send(const net::NetMessage& message) {
  if (g_server.client_connected) net::SendNetMessage(&g_server.link, message);
}

// The log event's own trace line is written when it is sent.
void SendLogText(const char* text) {
  if (g_server.client_connected) Send(net::LogEventMessage(text));
}

void DisconnectClient() {
  if (!g_server.client_connected) return;
  core::Trace("SERVER: Disconnecting current client.\n");
  g_server.link.Detach();
  g_server.client().Close();
  g_server.client_connected = false;
}

void RestartFrameCount() {
  g_server.frames = 0;
  g_server.last_report_ms = core::NowMilliseconds();
}

// 0 when nothing went wrong (a connection taken or none pending), -1 when a
// pending connection could not be accepted.
int AcceptNewcomer() {
  if (g_server.listener.PollIncoming() != 0) return 0;
  core::Trace("SERVER: Incoming user.\n");
  const int spare = 1 - g_server.current;
  int accepted = g_server.listener.Accept(&g_server.connections[spare]);
  if (accepted == 1) return 0;  // it went away before we took it
  if (accepted != 0) {
    core::Trace("SERVER: Accepting the connection failed.\n");
    return -1;
  }
  // The newest connection always wins.
  DisconnectClient();
  g_server.current = spare;
  net::AttachLink(&g_server.link, &g_server.client());
  g_server.client_connected = true;
  core::Trace("SERVER: Client connected.\n");
  // Frames count only while a Client listens: start a fresh second.
  RestartFrameCount();
  return 0;
}

// ---------------------------------------------------------------------------
// Messages.
// ---------------------------------------------------------------------------

void HandleClientHandshake() {
  core::Trace("SERVER: Received client handshake.\n");
  Send(net::ServerHandshakeMessage(net::kProtocolMajor, net::kProtocolMinor));
}

void HandleListEffects() {
  core::Trace("SERVER: Received effect list request.\n");
  net::StateMessage state;
  state.effects.reserve(static_cast<size_t>(EffectCount()));
  for (int id = 0; id < EffectCount(); ++id) state.effects.push_back(FindEffect(id)->Record());
  for (const Deck& deck : g_server.decks) state.decks.push_back(deck.record);
  for (int i = 0; i < MixerCount(); ++i) {
    net::MixerRecord mixer;
    mixer.index = i;
    net::SetRecordText(mixer.name, MixerName(i));
    state.mixers.push_back(mixer);
  }
  fx::BeatSettings beat = fx::GetBeatSettings();
  state.low_bin = static_cast<uint32_t>(beat.low_bin);
  state.high_bin = static_cast<uint32_t>(beat.high_bin);
  state.threshold = beat.threshold;
  Send(state);
}

void HandleLoadEffect(const net::LoadEffectMessage& message) {
  EffectEntry* entry = FindEffect(message.effect_id);
  if (!entry) {
    core::Trace("SERVER: Ignored %s request for unknown effect ID %d.\n", message.load ? "load" : "unload",
                message.effect_id);
    return;
  }
  if (message.load) {
    // Loading an effect that is loaded already only confirms it.
    if (!entry->loaded) {
      if (LoadEffect(entry) != 0) {
        ServerLog("Failed to load effect %s", entry->name);
        return;
      }
      entry->loaded = true;
    }
    ServerLog("Loaded effect %s", entry->name);
  } else {
    if (!entry->loaded) {
      ServerLog("Failed to unload effect %s", entry->name);
      return;
    }
    UnloadEffect(entry);
    ServerLog("Unloaded effect %s", entry->name);
  }
  Send(net::EffectStatusMessage(entry->Record()));
}

void HandleSetDeckEffect(const net::SetDeckEffectMessage& message) {
  Deck* deck = GetDeck(message.deck);
  if (!deck) {
    core::Trace("SERVER: Ignored effect for unknown deck %d.\n", message.deck);
    return;
  }
  EffectEntry* entry = nullptr;
  if (message.effect_id != -1) {
    entry = FindEffect(message.effect_id);
    if (!entry) {
      core::Trace("SERVER: Ignored unknown effect ID %d for deck %d.\n", message.effect_id, message.deck);
      return;
    }
  }
  deck->record.effect_id = message.effect_id;
  net::SetRecordText(deck->record.effect_name, entry ? net::RecordText(entry->name) : std::string_view());
  // The effect starts from its beginning.
  deck->start_time = g_server.clock;
  deck->time_offset = 0.0;
  Send(net::DeckStatusMessage(deck->record));
}

// The beat detector's settings (deck -1). Bins index the spectrum, so they
// are clamped before use; the reply carries what was stored.
void HandleBeatSettings(net::DeckRecord record) {
  const uint32_t max_bin = static_cast<uint32_t>(fx::kMaxBeatBin);
  std::optional<float> threshold;
  if (std::isfinite(record.threshold)) threshold = record.threshold;
  else core::Trace("SERVER: Ignored a non-finite beat threshold.\n");
  fx::SetBeatSettings(static_cast<int32_t>(std::min(record.low_bin, max_bin)),
                      static_cast<int32_t>(std::min(record.high_bin, max_bin)), threshold);
  fx::BeatSettings stored = fx::GetBeatSettings();
  record.low_bin = static_cast<uint32_t>(stored.low_bin);
  record.high_bin = static_cast<uint32_t>(stored.high_bin);
  record.threshold = stored.threshold;
  Send(net::DeckStatusMessage(record));
}

void HandleDeckUpdate(const net::DeckUpdateMessage& message) {
  const net::DeckRecord& update = message.record;
  if (update.deck == -1) {
    if (update.change_mask & net::kMaskBeatSettings) HandleBeatSettings(update);
    else core::Trace("SERVER: Ignored an update of deck -1 without beat settings.\n");
    return;
  }
  Deck* deck = GetDeck(update.deck);
  if (!deck) {
    core::Trace("SERVER: Ignored an update of unknown deck %d.\n", update.deck);
    return;
  }
  const uint32_t mask = update.change_mask;
  if (mask & net::kMaskFader) {
    if (std::isfinite(update.fader)) deck->record.fader = update.fader;
    else core::Trace("SERVER: Ignored a non-finite fader for deck %d.\n", update.deck);
  }
  if (mask & net::kMaskMixer) {
    if (update.mixer == net::kNullMixer || (update.mixer >= 0 && update.mixer < MixerCount()))
      deck->record.mixer = update.mixer;
    else core::Trace("SERVER: Ignored unknown mixer %d for deck %d.\n", update.mixer, update.deck);
  }
  if (mask & net::kMaskBeatMode) {
    if (update.beat_mode >= net::kBeatFree && update.beat_mode <= net::kBeatEndOnBeat)
      deck->record.beat_mode = update.beat_mode;
    else core::Trace("SERVER: Ignored unknown beat mode %d for deck %d.\n", update.beat_mode, update.deck);
  }
  if (mask & net::kMaskSpeed) {
    if (std::isfinite(update.speed)) {
      // Outside 0..1 the rate runs away and the offset with it.
      ChangeDeckSpeed(deck, std::clamp(update.speed, 0.0f, 1.0f), g_server.clock);
    } else {
      core::Trace("SERVER: Ignored a non-finite speed for deck %d.\n", update.deck);
    }
  }
  deck->record.change_mask = net::kMaskServerReply;
  Send(net::DeckStatusMessage(deck->record));
}

void HandleMessage(net::NetMessage* message) {
  switch (message->Type()) {
    case net::MSG_CLIENT_HANDSHAKE: HandleClientHandshake(); break;
    case net::MSG_LIST_EFFECTS: HandleListEffects(); break;
    case net::MSG_LOAD_EFFECT: HandleLoadEffect(*net::MessageAs<net::LoadEffectMessage>(message)); break;
    case net::MSG_SET_DECK_EFFECT: HandleSetDeckEffect(*net::MessageAs<net::SetDeckEffectMessage>(message)); break;
    case net::MSG_DECK_UPDATE: HandleDeckUpdate(*net::MessageAs<net::DeckUpdateMessage>(message)); break;
    default: break;  // the Server's own messages mean nothing coming back
  }
}

// ---------------------------------------------------------------------------
// The start-up preset.
// ---------------------------------------------------------------------------

// Reads the preset file and loads the effects its binding names. 0, or -1
// when the file cannot be read.
int PrepareStartupRecall(const ServerOptions& options) {
  g_server.startup_recall.reset();
  if (options.preset_file.empty()) return 0;
  if (options.recall_page < 0 || options.recall_page >= show::kPresetPages || options.recall_letter < 0 ||
      options.recall_letter >= show::kPresetLetters) {
    core::ShowError("No such preset binding: page %d, letter %d", options.recall_page + 1, options.recall_letter);
    return -1;
  }
  std::unique_ptr<show::PresetBank> bank = show::NewPresetBank();
  show::PresetReport report;
  if (show::LoadPresetFile(options.preset_file.c_str(), bank.get(), &report) != 0) {
    core::ShowError("Cannot read the preset file %s", options.preset_file.c_str());
    return -1;
  }
  if (report.binds_skipped > 0)
    core::Trace("SERVER: %d malformed bindings of %s skipped.\n", report.binds_skipped, options.preset_file.c_str());
  const show::Binding& binding = bank->bindings[options.recall_page][options.recall_letter];
  for (const net::DeckRecord& record : binding.decks) {
    std::string_view name = net::RecordText(record.effect_name);
    if (name.empty()) continue;
    bool known = false;
    for (int id = 0; id < EffectCount(); ++id) {
      EffectEntry* entry = FindEffect(id);
      if (net::RecordText(entry->name) != name) continue;
      known = true;
      if (entry->loaded) continue;
      if (LoadEffect(entry) != 0) {
        core::ShowError("Failed to load effect %s", entry->name);
        continue;
      }
      entry->loaded = true;
      core::Trace("SERVER: Loaded effect %s for the start-up preset.\n", entry->name);
    }
    // The deck is left alone, as a recall from a panel would.
    if (!known) core::ShowError("The preset names effect %.*s, which is not in effects/", static_cast<int>(name.size()),
                                name.data());
  }
  g_server.startup_recall = binding;
  return 0;
}

// The recall itself, through the same handling as the Client's messages:
// each named, loaded effect goes on its deck from its beginning with the
// binding's settings; decks of empty bindings are cleared.
void RecallStartupPreset(const show::Binding& binding) {
  std::vector<net::EffectRecord> effects;
  effects.reserve(static_cast<size_t>(EffectCount()));
  for (int id = 0; id < EffectCount(); ++id) effects.push_back(FindEffect(id)->Record());
  for (const show::RecallStep& step : show::PlanRecall(binding, effects, true)) {
    HandleSetDeckEffect(net::SetDeckEffectMessage(step.effect_id, step.deck));
    HandleDeckUpdate(net::DeckUpdateMessage(step.update));
  }
  core::Trace("SERVER: Recalled the start-up preset.\n");
}

void CountFrame() {
  const uint32_t now = core::NowMilliseconds();
  ++g_server.frames;
  const uint32_t elapsed = now - g_server.last_report_ms;
  if (elapsed <= kFrameRateReportMs) return;
  g_server.rate = static_cast<float>(g_server.frames) * 1000.0f / static_cast<float>(elapsed);
  Send(net::PlayerStatusMessage(static_cast<int32_t>(g_server.rate)));
  g_server.frames = 0;
  g_server.last_report_ms = now;
}

// ---------------------------------------------------------------------------
// Start-up and shutdown.
// ---------------------------------------------------------------------------

int StartDisplay() {
  const ServerOptions& options = g_server.options;
  if (!options.headless) {
    if (internal::OpenOutputWindow(&g_server.window) != 0) {
      core::ShowError("Error initializing playback window");
      return -1;
    }
    g_server.window_open = true;
  }
  render::DisplayBackend backend =
      options.headless ? render::DisplayBackend::kHeadless : render::DisplayBackend::kWindowSystem;
  if (render::InitDirect3D(options.adapter, backend) != 0) {
    core::ShowError("Error initializing d3d. Try -device 0 ");
    return -1;
  }
  core::QEGUIWindow* window = options.headless ? nullptr : &g_server.window;
  if (render::SelectDisplayMode(window, kOutputWidth, kOutputHeight, 16, false, false, nullptr, "", false,
                                options.vsync, true, false, false) != 0) {
    core::ShowError("Error initializing display");
    return -1;
  }
  return 0;
}

// Releases whatever exists, in reverse order of start-up. Safe on a
// partial start.
void TearDown() {
  DisconnectClient();
  g_server.listener.Close();
  ReleaseCatalogue();
  internal::ShutdownVideo();
  internal::ShutdownImageManager();
  internal::ShutdownMaterials();
  internal::ShutdownRenderQueue();
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
  g_server.started = false;
  g_server.client_connected = false;
  g_server.quit_requested = false;
  g_server.drew_deck = false;
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
  // 6. The effect catalogue.
  if (EnumerateEffects() != 0) return FailStart();
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

  if (AcceptNewcomer() != 0) return -1;

  if (g_server.client_connected) {
    for (int taken = 0; taken < kMaxMessagesPerTick; ++taken) {
      std::unique_ptr<net::NetMessage> message = net::ReceiveNetMessage(&g_server.link);
      if (!message) break;
      HandleMessage(message.get());
      if (!g_server.client_connected) break;
    }
    if (g_server.client_connected && !g_server.client().IsOpen()) DisconnectClient();
    if (g_server.client_connected) CountFrame();
  }

  g_server.drew_deck = internal::RenderFrame(g_server.clock);
  if (!g_server.drew_deck) core::SleepSeconds(kIdleSleepSeconds);
  return 1;
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

void OutputWindow::OnClose() {
  if (g_server.quit_requested) return;
  g_server.quit_requested = true;
  SaveOutputWindowPosition(*this);
  // Hidden, not destroyed: the device draws into it until shutdown.
  Hide();
  core::Trace("SERVER: Output window closed; rendering stops.\n");
}

}  // namespace internal
}  // namespace server

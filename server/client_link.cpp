// The Server's side of the Client link: taking connections, sending, and
// handling every message. Everything the Client sends is checked before it
// is used: an unknown effect or deck is ignored (with a trace line), a
// non-finite value or an unknown mixer or beat mode leaves the field as it
// was, a fader or speed outside 0..1 is clamped into it, and the
// reply always carries the deck's real state, so the Client's controls snap
// back.
//
// The current connection and a spare take turns: a newcomer is accepted
// into the spare, and only then does the current one close, so a failed
// accept never costs the performer the connection they have.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "app/core/core.h"
#include "net/link.h"
#include "server/server_internal.h"

namespace server::internal {

void Send(const net::NetMessage& message) {
  if (g_server.client_connected) net::SendNetMessage(&g_server.link, message);
}

void SendLogText(const char* text) {
  const std::string line = core::PrintableText(text ? text : "");
  g_server.log_backlog.push_back(line);
  while (g_server.log_backlog.size() > kLogBacklogLines) g_server.log_backlog.pop_front();
  if (g_server.client_connected) Send(net::LogEventMessage(line.c_str()));
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

int AcceptNewcomer() {
  // A failing accept (descriptor table full, EPERM) leaves the connection
  // pending: try again only now and then, never every tick.
  if (g_server.clock < g_server.accept_retry_at) return 0;
  if (g_server.listener.PollIncoming() != 0) return 0;
  core::Trace("SERVER: Incoming user.\n");
  const int spare = 1 - g_server.current;
  errno = 0;
  int accepted = g_server.listener.Accept(&g_server.connections[spare]);
  if (accepted == 1) return 0;  // it went away before we took it
  if (accepted != 0) {
    const int error = errno;
    core::Trace("SERVER: Accepting the connection failed (%s); the current connection stays.\n",
                error != 0 ? std::strerror(error) : "closed endpoint");
    g_server.accept_retry_at = g_server.clock + kAcceptRetrySeconds;
    return -1;
  }
  // The newest connection always wins.
  DisconnectClient();
  g_server.current = spare;
  net::AttachLink(&g_server.link, &g_server.client());
  g_server.client_connected = true;
  g_server.backlog_sent = false;
  g_server.tempo_sent_valid = false;
  g_server.tempo_wanted = false;
  OnNewClient();
  core::Trace("SERVER: Client connected.\n");
  // Frames count only while a Client listens: start a fresh second.
  RestartFrameCount();
  return 0;
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

// ---------------------------------------------------------------------------
// Messages.
// ---------------------------------------------------------------------------

void HandleClientHandshake() {
  core::Trace("SERVER: Received client handshake.\n");
  Send(net::ServerHandshakeMessage(net::kProtocolMajor, net::kProtocolMinor));
  if (g_server.backlog_sent) return;
  g_server.backlog_sent = true;
  for (const std::string& line : g_server.log_backlog) Send(net::LogEventMessage(line.c_str()));
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
  // Before the state, so a controller has it once the state is there.
  SendMasterStatus();
  Send(state);
  // A Client of this version learns the tempo at once and follows it from
  // now on; an older one drops these messages.
  g_server.tempo_wanted = true;
  ReportTempo(true);
}

void HandleLoadEffect(const net::LoadEffectMessage& message) {
  EffectEntry* entry = FindEffect(message.effect_id);
  if (!entry) {
    core::Trace("SERVER: Ignored %s request for unknown effect ID %d.\n", message.load ? "load" : "unload",
                message.effect_id);
    return;
  }
  if (message.load) {
    // Loading an effect that is loaded already only confirms it; a load
    // that is running starts again. The reply comes when the load ends.
    if (!entry->loaded) {
      RequestEffectLoad(entry);
      return;
    }
    ServerLog("Loaded effect %s", entry->name);
  } else {
    // Unloading an effect whose load is running cancels that load.
    if (!entry->loaded && !entry->loading) {
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
int HandleBeatSettings(net::DeckRecord record) {
  const uint32_t max_bin = static_cast<uint32_t>(fx::kMaxBeatBin);
  std::optional<float> threshold;
  int result = 0;
  if (std::isfinite(record.threshold)) {
    threshold = record.threshold;
  } else {
    core::Trace("SERVER: Ignored a non-finite beat threshold.\n");
    result = -1;
  }
  fx::SetBeatSettings(static_cast<int32_t>(std::min(record.low_bin, max_bin)),
                      static_cast<int32_t>(std::min(record.high_bin, max_bin)), threshold);
  fx::BeatSettings stored = fx::GetBeatSettings();
  record.low_bin = static_cast<uint32_t>(stored.low_bin);
  record.high_bin = static_cast<uint32_t>(stored.high_bin);
  record.threshold = stored.threshold;
  Send(net::DeckStatusMessage(record));
  return result;
}

int HandleDeckUpdate(const net::DeckUpdateMessage& message) {
  const net::DeckRecord& update = message.record;
  if (update.deck == -1) {
    if (update.change_mask & net::kMaskBeatSettings) return HandleBeatSettings(update);
    core::Trace("SERVER: Ignored an update of deck -1 without beat settings.\n");
    return -1;
  }
  Deck* deck = GetDeck(update.deck);
  if (!deck) {
    core::Trace("SERVER: Ignored an update of unknown deck %d.\n", update.deck);
    return -1;
  }
  int result = 0;
  const uint32_t mask = update.change_mask;
  if (mask & net::kMaskFader) {
    if (std::isfinite(update.fader)) {
      deck->record.fader = std::clamp(update.fader, 0.0f, 1.0f);
    } else {
      core::Trace("SERVER: Ignored a non-finite fader for deck %d.\n", update.deck);
      result = -1;
    }
  }
  if (mask & net::kMaskMixer) {
    if (update.mixer == net::kNullMixer || (update.mixer >= 0 && update.mixer < MixerCount())) {
      deck->record.mixer = update.mixer;
    } else {
      core::Trace("SERVER: Ignored unknown mixer %d for deck %d.\n", update.mixer, update.deck);
      result = -1;
    }
  }
  if (mask & net::kMaskBeatMode) {
    if (update.beat_mode >= net::kBeatFree && update.beat_mode <= net::kBeatEndOnBeat) {
      deck->record.beat_mode = update.beat_mode;
    } else {
      core::Trace("SERVER: Ignored unknown beat mode %d for deck %d.\n", update.beat_mode, update.deck);
      result = -1;
    }
  }
  if (mask & net::kMaskSpeed) {
    if (std::isfinite(update.speed)) {
      // Outside 0..1 the rate runs away and the offset with it.
      ChangeDeckSpeed(deck, std::clamp(update.speed, 0.0f, 1.0f), g_server.clock);
    } else {
      core::Trace("SERVER: Ignored a non-finite speed for deck %d.\n", update.deck);
      result = -1;
    }
  }
  deck->record.change_mask = net::kMaskServerReply;
  Send(net::DeckStatusMessage(deck->record));
  return result;
}

void HandleMessage(net::NetMessage* message) {
  switch (message->Type()) {
    case net::MSG_CLIENT_HANDSHAKE: HandleClientHandshake(); break;
    case net::MSG_LIST_EFFECTS: HandleListEffects(); break;
    case net::MSG_LOAD_EFFECT: HandleLoadEffect(*net::MessageAs<net::LoadEffectMessage>(message)); break;
    case net::MSG_SET_DECK_EFFECT: HandleSetDeckEffect(*net::MessageAs<net::SetDeckEffectMessage>(message)); break;
    case net::MSG_DECK_UPDATE: HandleDeckUpdate(*net::MessageAs<net::DeckUpdateMessage>(message)); break;
    case net::MSG_TAP: HandleTap(); break;
    case net::MSG_BEAT_DISABLE: HandleBeatDisable(); break;
    default: HandleVenueMessage(message); break;  // the Server's own messages mean nothing coming back
  }
}

}  // namespace server::internal

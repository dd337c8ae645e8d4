// Controller panel logic: one connection to one Server and everything the
// panel shows about it. The view reads this state and calls the control
// events; nothing here draws.
//
// The deck table holds the Server's records exactly as last received. Every
// deck update is built from a copy of that record with one field and the
// mask replaced, so the panel never claims a value the Server has not
// confirmed: trackbars show the dragged position only while dragged, and
// the Server's value again once the drag ends.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "app/core/core.h"
#include "client/panel.h"
#include "client/window.h"
#include "fx/timing.h"
#include "media/encode.h"

namespace client {

// ---------------------------------------------------------------------------
// Trackbar
// ---------------------------------------------------------------------------
int Trackbar::PositionFor(float value) {
  // Values from the wire may be anything; keep the thumb inside the track.
  if (!std::isfinite(value)) value = 0.0f;
  value = std::clamp(value, 0.0f, 1.0f);
  return kMax - static_cast<int>(std::trunc(static_cast<float>(kMax - kMin) * value));
}

float Trackbar::ValueAt(int position) {
  return static_cast<float>(kMax - position - kMin) / static_cast<float>(kMax - kMin);
}

void Trackbar::ShowValue(float value) { status_position_ = PositionFor(value); }

void Trackbar::BeginDrag() {
  if (dragging_) return;
  dragging_ = true;
  drag_position_ = status_position_;
}

bool Trackbar::DragTo(int position) {
  if (!dragging_) return false;
  position = std::clamp(position, kMin, kMax);
  if (position == drag_position_) return false;
  drag_position_ = position;
  return true;
}

void Trackbar::EndDrag() { dragging_ = false; }

// ---------------------------------------------------------------------------
// Panel
// ---------------------------------------------------------------------------
namespace {

const char* const kBeatModeNames[] = {"FREE", "START ON BEAT", "END ON BEAT"};
const char* const kNoEffect = "NO EFFECT";
const char* const kNullMixerName = "NULL MIXER";

// List boxes sort by name, ignoring ASCII case; equal names keep ID order.
bool ItemBefore(const ListItem& a, const ListItem& b) {
  size_t n = std::min(a.text.size(), b.text.size());
  for (size_t i = 0; i < n; ++i) {
    char ca = core::AsciiUpper(a.text[i]);
    char cb = core::AsciiUpper(b.text[i]);
    if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
  }
  if (a.text.size() != b.text.size()) return a.text.size() < b.text.size();
  if (a.text != b.text) return a.text < b.text;
  return a.number < b.number;
}

bool WasSelected(const std::vector<ListItem>& items, int32_t number) {
  for (const ListItem& item : items)
    if (item.number == number) return item.selected;
  return false;
}

}  // namespace

ControllerPanel::ControllerPanel() : bindings_(show::NewPresetBank()) {
  // Until a Server says otherwise the decks show their defaults.
  for (int deck = 0; deck < kPanelDecks; ++deck) {
    net::DeckRecord record = net::DefaultDeckRecord(deck);
    decks_view_[deck].fader.ShowValue(record.fader);
    decks_view_[deck].speed.ShowValue(record.speed);
  }
  master_bar_.ShowValue(1.0f);
  SetStatus("Disconnected");
}

ControllerPanel::~ControllerPanel() { Disconnect(); }

void ControllerPanel::SetStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  status_ = core::FormatMessageV(format, args);
  va_end(args);
  ++changes_;
}

void ControllerPanel::AddLogLine(std::string text) {
  ++changes_;
  log_.push_front(std::move(text));
  while (log_.size() > kMaxLogLines) log_.pop_back();
}

void ControllerPanel::Alert(std::string text) {
  core::Trace("CLIENT: %s\n", text.c_str());
  AddLogLine(text);
  alerts_.push_back(std::move(text));
}

std::vector<std::string> ControllerPanel::TakeAlerts() {
  std::vector<std::string> taken;
  taken.swap(alerts_);
  return taken;
}

const char* ControllerPanel::connect_button_text() const {
  return state_ == LinkState::kDisconnected ? "Connect" : "Disconnect";
}

// --- connection -------------------------------------------------------------

int ControllerPanel::Connect(std::string_view host_text) {
  if (state_ != LinkState::kDisconnected) Disconnect();
  HostAddress address;
  std::string error;
  if (ParseHostAndPort(host_text, &address, &error) != 0) {
    AddLogLine("Cannot connect: " + error);
    return -1;
  }
  host_ = address.host;
  port_ = address.port;
  core::Trace("CLIENT: Connecting to %s:%i\n", host_.c_str(), port_);
  if (connection_.StartConnect(host_, port_) != 0) {
    AddLogLine(core::FormatString("Could not connect to %s:%i: %s", host_.c_str(), port_,
                                  connection_.LastError().c_str()));
    return -1;
  }
  state_ = LinkState::kConnecting;
  SetStatus("Connecting to %s:%i ...", host_.c_str(), port_);
  return 0;
}

void ControllerPanel::FinishConnect() {
  if (net::AttachLink(&link_, &connection_) != 0) {
    connection_.Close();
    state_ = LinkState::kDisconnected;
    SetStatus("Disconnected");
    return;
  }
  state_ = LinkState::kConnected;
  // A failed send closes the connection; the end of the tick notices.
  Send(net::ClientHandshakeMessage());
  SetStatus("Connected to %s:%i", host_.c_str(), port_);
}

void ControllerPanel::Disconnect() {
  if (state_ == LinkState::kDisconnected) return;
  link_.Detach();
  connection_.Close();
  effects_.clear();
  RebuildEffectLists();
  for (net::DeckRecord& record : deck_table_) record.effect_id = -1;
  for (DeckView& view : decks_view_) {
    view.fader.EndDrag();
    view.speed.EndDrag();
  }
  for (BeatGraph::Bar bar : {BeatGraph::Bar::kLowBin, BeatGraph::Bar::kHighBin, BeatGraph::Bar::kThreshold}) beat_graph_.EndDrag(bar);
  ShowAllDecks();
  deck_table_.clear();
  mixer_table_.clear();
  mixer_choices_.clear();
  beat_mode_choices_.clear();
  frame_rate_text_.assign(1, '0');  // (a literal here trips a GCC 12 -Wrestrict false positive)
  server_tempo_ = ServerTempo();
  for (PendingDeck& pending : pending_decks_) pending.mask = 0;
  pending_beat_settings_ = false;
  master_bar_.EndDrag();
  master_level_ = 1.0f;
  blackout_ = false;
  master_bar_.ShowValue(1.0f);
  preview_ = PreviewPicture{0, 0, {}, preview_.serial + 1};
  state_ = LinkState::kDisconnected;
  SetStatus("Disconnected");
  core::Trace("CLIENT: Disconnected from %s:%i\n", host_.c_str(), port_);
}

int ControllerPanel::Tick() { return Tick(previous_keys_, false); }

int ControllerPanel::Tick(const KeyboardState& keys, bool act_on_keys) {
  if (state_ == LinkState::kConnecting) {
    int result = connection_.PollConnect();
    if (result == -1) {
      AddLogLine(core::FormatString("Could not connect to %s:%i: %s", host_.c_str(), port_,
                                    connection_.LastError().c_str()));
      state_ = LinkState::kDisconnected;
      SetStatus("Disconnected");
    } else if (result == 0) {
      FinishConnect();
    }
  }
  if (state_ != LinkState::kConnected) {
    // Keys held while disconnected must not fire once connected.
    ObserveKeys(keys);
    return 1;
  }

  while (state_ == LinkState::kConnected) {
    std::unique_ptr<net::NetMessage> message = net::ReceiveNetMessage(&link_);
    if (!message) break;
    Handle(message.get());
  }
  if (state_ == LinkState::kConnected && act_on_keys)
    HandleKeys(keys);
  else
    ObserveKeys(keys);

  if (state_ == LinkState::kConnected && !link_.IsOpen()) {
    std::string reason = connection_.LastError();
    std::string line = core::FormatString("Connection to %s:%i closed", host_.c_str(), port_);
    if (!reason.empty()) line += " (" + reason + ")";
    Disconnect();
    AddLogLine(std::move(line));
    return 1;
  }
  if (state_ == LinkState::kConnected) RepaintBeatGraph();
  return 1;
}

int ControllerPanel::Send(const net::NetMessage& message) {
  if (state_ != LinkState::kConnected) return -1;
  return net::SendNetMessage(&link_, message);
}

// --- messages from the Server -----------------------------------------------

void ControllerPanel::Handle(net::NetMessage* message) {
  ++changes_;
  switch (message->Type()) {
    case net::MSG_SERVER_HANDSHAKE: {
      const auto* handshake = net::MessageAs<net::ServerHandshakeMessage>(message);
      if (!net::IsSupportedServerVersion(*handshake)) {
        std::string text = net::VersionMismatchText(*handshake);
        Disconnect();
        Alert(std::move(text));
        return;
      }
      core::Trace("CLIENT: Server version is expected %i.%i\n", net::kProtocolMajor, net::kProtocolMinor);
      Send(net::ListEffectsMessage());
      return;
    }
    case net::MSG_MASTER_STATUS: {
      const auto* master = net::MessageAs<net::MasterStatusMessage>(message);
      if (std::isfinite(master->level)) master_level_ = std::clamp(master->level, 0.0f, 1.0f);
      blackout_ = master->blackout;
      master_bar_.ShowValue(master_level_);
      break;
    }
    case net::MSG_PREVIEW_FRAME: {
      const auto* frame = net::MessageAs<net::PreviewFrameMessage>(message);
      if (!preview_wanted_) break;
      PreviewPicture picture;
      if (media::DecodeJpegRgba(frame->jpeg.data(), frame->jpeg.size(), net::kMaxPreviewWidth,
                                net::kMaxPreviewHeight, &picture.width, &picture.height, &picture.rgba) != 0) {
        core::Trace("CLIENT: a preview that does not decode was dropped\n");
        break;
      }
      picture.serial = preview_.serial + 1;
      preview_ = std::move(picture);
      break;
    }
    case net::MSG_STATE:
      TakeState(*net::MessageAs<net::StateMessage>(message));
      // The Server starts every connection without previews.
      if (preview_wanted_) Send(net::PreviewRequestMessage(kPreviewRate));
      return;
    case net::MSG_LOG_EVENT:
      AddLogLine(core::PrintableText(net::MessageAs<net::LogEventMessage>(message)->text));
      return;
    case net::MSG_EFFECT_STATUS: {
      const net::EffectRecord& record = net::MessageAs<net::EffectStatusMessage>(message)->effect;
      for (EffectEntry& effect : effects_) {
        if (effect.id != record.id) continue;
        if (effect.loaded != record.loaded) {
          effect.loaded = record.loaded;
          RebuildEffectLists();
        }
        return;
      }
      core::Trace("CLIENT: status for unknown effect ID %i ignored\n", record.id);
      return;
    }
    case net::MSG_DECK_STATUS: {
      const net::DeckRecord& record = net::MessageAs<net::DeckStatusMessage>(message)->record;
      if (record.deck == -1) {
        beat_graph_.SetBeatSettings(record.low_bin, record.high_bin, record.threshold);
        return;
      }
      if (record.deck < 0 || static_cast<size_t>(record.deck) >= deck_table_.size()) {
        core::Trace("CLIENT: status for unknown deck %i ignored\n", record.deck);
        return;
      }
      net::DeckRecord& stored = deck_table_[static_cast<size_t>(record.deck)];
      uint32_t reserved = stored.reserved;
      stored = record;
      stored.reserved = reserved;
      ShowDeck(record.deck);
      return;
    }
    case net::MSG_TEMPO_STATUS: {
      const auto* tempo = net::MessageAs<net::TempoStatusMessage>(message);
      server_tempo_.known = true;
      server_tempo_.period_ms = tempo->period_ms;
      server_tempo_.beat_disabled = tempo->beat_disabled;
      server_tempo_.source = tempo->source;
      // The Server's last beat, moved onto this process's tap clock.
      server_tempo_.last_beat_ms = fx::MillisecondsOf(core::NowSeconds()) - tempo->since_beat_ms;
      return;
    }
    case net::MSG_PLAYER_STATUS:
      frame_rate_text_ =
          core::FormatString("%4i", static_cast<int>(net::MessageAs<net::PlayerStatusMessage>(message)->frames_per_second));
      return;
    default:
      return;
  }
}

void ControllerPanel::TakeState(const net::StateMessage& state) {
  // The effect list is replaced, not appended to: a second state on the
  // same connection must not show every effect twice.
  effects_.clear();
  effects_.reserve(state.effects.size());
  for (const net::EffectRecord& record : state.effects)
    effects_.push_back(EffectEntry{record.id, std::string(net::RecordText(record.name)), record.loaded});
  deck_table_ = state.decks;
  mixer_table_ = state.mixers;

  mixer_choices_.clear();
  mixer_choices_.push_back(ListItem{kNullMixerName, net::kNullMixer, false});
  for (const net::MixerRecord& mixer : mixer_table_)
    mixer_choices_.push_back(ListItem{std::string(net::RecordText(mixer.name)), mixer.index, false});
  beat_mode_choices_.clear();
  for (int32_t mode = 0; mode < 3; ++mode) beat_mode_choices_.push_back(ListItem{kBeatModeNames[mode], mode, false});

  RebuildEffectLists();
  ShowAllDecks();
  beat_graph_.SetBeatSettings(state.low_bin, state.high_bin, state.threshold);
}

void ControllerPanel::RebuildEffectLists() {
  std::vector<ListItem> unloaded;
  std::vector<ListItem> loaded;
  for (const EffectEntry& effect : effects_) {
    if (effect.loaded)
      loaded.push_back(ListItem{effect.name, effect.id, WasSelected(loaded_list_, effect.id)});
    else
      unloaded.push_back(ListItem{effect.name, effect.id, WasSelected(unloaded_list_, effect.id)});
  }
  std::stable_sort(unloaded.begin(), unloaded.end(), ItemBefore);
  std::stable_sort(loaded.begin(), loaded.end(), ItemBefore);
  unloaded_list_.swap(unloaded);
  loaded_list_.swap(loaded);
}

void ControllerPanel::ShowDeck(int deck) {
  if (!IsPanelDeck(deck) || static_cast<size_t>(deck) >= deck_table_.size()) return;
  const net::DeckRecord& record = deck_table_[static_cast<size_t>(deck)];
  decks_view_[deck].fader.ShowValue(record.fader);
  decks_view_[deck].speed.ShowValue(record.speed);
}

void ControllerPanel::ShowAllDecks() {
  for (int deck = 0; deck < kPanelDecks; ++deck) ShowDeck(deck);
}

// --- what the view shows ----------------------------------------------------

bool ControllerPanel::HasDeck(int deck) const {
  return IsPanelDeck(deck) && static_cast<size_t>(deck) < deck_table_.size();
}

std::string ControllerPanel::DeckEffectLabel(int deck) const {
  if (!HasDeck(deck)) return kNoEffect;
  const net::DeckRecord& record = deck_table_[static_cast<size_t>(deck)];
  if (record.effect_id == -1) return kNoEffect;
  for (const EffectEntry& effect : effects_)
    if (effect.id == record.effect_id) return effect.name;
  // Not in the effect list: the record's own name is the best we know.
  std::string_view name = net::RecordText(record.effect_name);
  if (!name.empty()) return std::string(name);
  return core::FormatString("EFFECT %i", static_cast<int>(record.effect_id));
}

int ControllerPanel::MixerChoiceIndex(int deck) const {
  if (!HasDeck(deck)) return -1;
  int32_t mixer = deck_table_[static_cast<size_t>(deck)].mixer;
  for (size_t i = 0; i < mixer_choices_.size(); ++i)
    if (mixer_choices_[i].number == mixer) return static_cast<int>(i);
  return -1;
}

int ControllerPanel::BeatModeChoiceIndex(int deck) const {
  if (!HasDeck(deck)) return -1;
  int32_t mode = deck_table_[static_cast<size_t>(deck)].beat_mode;
  for (size_t i = 0; i < beat_mode_choices_.size(); ++i)
    if (beat_mode_choices_[i].number == mode) return static_cast<int>(i);
  return -1;
}

// --- control events ---------------------------------------------------------

bool ControllerPanel::PressConnectButton() {
  if (state_ != LinkState::kDisconnected) {
    Disconnect();
    return false;
  }
  return true;
}

void ControllerPanel::SelectUnloaded(int32_t effect_id, bool selected) {
  for (ListItem& item : unloaded_list_)
    if (item.number == effect_id) item.selected = selected;
}

void ControllerPanel::SelectLoaded(int32_t effect_id, bool selected) {
  for (ListItem& item : loaded_list_)
    if (item.number == effect_id) item.selected = selected;
}

void ControllerPanel::LoadSelected() {
  if (!connected()) return;
  // Copy first: a send that fails disconnects and empties the lists.
  std::vector<int32_t> ids;
  for (const ListItem& item : unloaded_list_)
    if (item.selected) ids.push_back(item.number);
  for (int32_t id : ids) Send(net::LoadEffectMessage(id, true));
}

void ControllerPanel::UnloadSelected() {
  if (!connected()) return;
  std::vector<int32_t> ids;
  for (const ListItem& item : loaded_list_)
    if (item.selected) ids.push_back(item.number);
  for (int32_t id : ids) Send(net::LoadEffectMessage(id, false));
}

void ControllerPanel::AssignToDeck(int deck) {
  if (!connected() || !HasDeck(deck)) return;
  for (const ListItem& item : loaded_list_) {
    if (!item.selected) continue;
    Send(net::SetDeckEffectMessage(item.number, deck));
    return;
  }
}

void ControllerPanel::UnloadDeck(int deck) {
  if (!connected() || !HasDeck(deck)) return;
  Send(net::SetDeckEffectMessage(-1, deck));
}

void ControllerPanel::SendDeckUpdate(int deck, uint32_t mask, float value, int32_t number) {
  if (!connected() || !HasDeck(deck)) return;
  net::DeckRecord record = deck_table_[static_cast<size_t>(deck)];
  switch (mask) {
    case net::kMaskFader: record.fader = value; break;
    case net::kMaskSpeed: record.speed = value; break;
    case net::kMaskMixer: record.mixer = number; break;
    case net::kMaskBeatMode: record.beat_mode = number; break;
    default: return;
  }
  record.change_mask = mask;
  Send(net::DeckUpdateMessage(record));
}

void ControllerPanel::ChooseMixer(int deck, int32_t number) { SendDeckUpdate(deck, net::kMaskMixer, 0.0f, number); }

void ControllerPanel::ChooseBeatMode(int deck, int32_t number) {
  SendDeckUpdate(deck, net::kMaskBeatMode, 0.0f, number);
}

void ControllerPanel::BeginFaderDrag(int deck) {
  if (HasDeck(deck)) decks_view_[deck].fader.BeginDrag();
}

void ControllerPanel::DragFader(int deck, int position) {
  if (!IsPanelDeck(deck) || !decks_view_[deck].fader.DragTo(position)) return;
  SendDeckUpdate(deck, net::kMaskFader, Trackbar::ValueAt(decks_view_[deck].fader.position()), 0);
}

void ControllerPanel::EndFaderDrag(int deck) {
  if (IsPanelDeck(deck)) decks_view_[deck].fader.EndDrag();
}

void ControllerPanel::BeginSpeedDrag(int deck) {
  if (HasDeck(deck)) decks_view_[deck].speed.BeginDrag();
}

void ControllerPanel::DragSpeed(int deck, int position) {
  if (!IsPanelDeck(deck) || !decks_view_[deck].speed.DragTo(position)) return;
  SendDeckUpdate(deck, net::kMaskSpeed, Trackbar::ValueAt(decks_view_[deck].speed.position()), 0);
}

void ControllerPanel::EndSpeedDrag(int deck) {
  if (IsPanelDeck(deck)) decks_view_[deck].speed.EndDrag();
}

void ControllerPanel::BeginBeatDrag(BeatGraph::Bar bar) {
  if (connected()) beat_graph_.BeginDrag(bar);
}

void ControllerPanel::DragBeatBar(BeatGraph::Bar bar, int position) {
  if (!connected() || !beat_graph_.DragTo(bar, position)) return;
  ++changes_;
  const BeatSettings& settings = beat_graph_.settings();
  SendBeatSettings(settings.low_bin, settings.high_bin, settings.threshold);
}

void ControllerPanel::EndBeatDrag(BeatGraph::Bar bar) { beat_graph_.EndDrag(bar); }

void ControllerPanel::RepaintBeatGraph() {
  // The graph shows this process's detector and tap clock. The spectrum is
  // the one the detector read this frame (same key: the frame's time in
  // seconds), so panels share it instead of each running an FFT.
  const double now = core::NowSeconds();
  uint32_t now_ms = fx::MillisecondsOf(now);
  BeatPicture before = beat_graph_.picture();
  const double frame_time = fx::BeatFrameTime();
  const float* spectrum = fx::GetBeatSpectrum(std::isnan(frame_time) ? now : frame_time);
  // The flash follows the Server's tempo (nothing from a Server that does
  // not tell it).
  const uint32_t period = server_tempo_.known && !server_tempo_.beat_disabled ? server_tempo_.period_ms : 0;
  if (beat_graph_.Paint(spectrum, period, server_tempo_.last_beat_ms, now_ms) && !(beat_graph_.picture() == before))
    ++changes_;
}

void ControllerPanel::SendTap() { Send(net::TapMessage()); }

void ControllerPanel::SendBeatToggle() { Send(net::BeatDisableMessage()); }

void ControllerPanel::SetPage(int page) {
  if (page < 0 || page >= show::kPresetPages || page == current_page_) return;
  current_page_ = page;
  ++changes_;
}

int32_t ControllerPanel::MidiChoice(const std::vector<ListItem>& choices, int32_t current, const MidiAction& action) {
  if (choices.empty()) return current;
  size_t index = 0;
  if (action.kind == MidiAction::Kind::kValue) {
    index = std::min(choices.size() - 1, static_cast<size_t>(std::clamp(action.value, 0.0f, 1.0f) *
                                                             static_cast<float>(choices.size())));
  } else {
    // A press steps to the next choice, round.
    size_t at = 0;
    for (size_t i = 0; i < choices.size(); ++i)
      if (choices[i].number == current) at = i;
    index = (at + 1) % choices.size();
  }
  return choices[index].number;
}

void ControllerPanel::ApplyMidi(const MidiAction& action) {
  if (!connected()) return;
  const int index = action.control.index;
  switch (action.control.target) {
    case MidiTarget::kFader:
    case MidiTarget::kSpeed: {
      if (!HasDeck(index) || action.kind != MidiAction::Kind::kValue) return;
      const bool fader = action.control.target == MidiTarget::kFader;
      Trackbar& bar = fader ? decks_view_[index].fader : decks_view_[index].speed;
      if (bar.dragging()) return;  // the mouse has it
      // The trackbar's own steps: a value that lands on the thumb's
      // position sends nothing.
      const int position = Trackbar::PositionFor(action.value);
      PendingDeck& pending = pending_decks_[index];
      const uint32_t bit = fader ? net::kMaskFader : net::kMaskSpeed;
      const float pending_value = fader ? pending.record.fader : pending.record.speed;
      const int from = (pending.mask & bit) ? Trackbar::PositionFor(pending_value) : bar.status_position();
      if (position == from) return;
      if (pending.mask == 0) pending.record = deck_table_[static_cast<size_t>(index)];
      pending.mask |= bit;
      (fader ? pending.record.fader : pending.record.speed) = Trackbar::ValueAt(position);
      return;
    }
    case MidiTarget::kMixer:
    case MidiTarget::kBeatMode: {
      if (!HasDeck(index)) return;
      const bool mixer = action.control.target == MidiTarget::kMixer;
      PendingDeck& pending = pending_decks_[index];
      const uint32_t bit = mixer ? net::kMaskMixer : net::kMaskBeatMode;
      const net::DeckRecord& now = (pending.mask & bit) ? pending.record : deck_table_[static_cast<size_t>(index)];
      const int32_t current = mixer ? now.mixer : now.beat_mode;
      const int32_t chosen = MidiChoice(mixer ? mixer_choices_ : beat_mode_choices_, current, action);
      if (chosen == current) return;
      if (pending.mask == 0) pending.record = deck_table_[static_cast<size_t>(index)];
      pending.mask |= bit;
      (mixer ? pending.record.mixer : pending.record.beat_mode) = chosen;
      return;
    }
    case MidiTarget::kThreshold:
    case MidiTarget::kLowBin:
    case MidiTarget::kHighBin: {
      if (action.kind != MidiAction::Kind::kValue) return;
      const BeatGraph::Bar bar = action.control.target == MidiTarget::kThreshold ? BeatGraph::Bar::kThreshold
                                 : action.control.target == MidiTarget::kLowBin ? BeatGraph::Bar::kLowBin
                                                                                 : BeatGraph::Bar::kHighBin;
      if (beat_graph_.dragging(bar)) return;
      const int max = beat_graph_.BarMax(bar);
      // The threshold's bar has its top (1.0) at position 0.
      const float along = bar == BeatGraph::Bar::kThreshold ? 1.0f - action.value : action.value;
      const int position = static_cast<int>(std::lround(std::clamp(along, 0.0f, 1.0f) * static_cast<float>(max)));
      beat_graph_.BeginDrag(bar);
      const bool changed = beat_graph_.DragTo(bar, position);
      beat_graph_.EndDrag(bar);
      if (changed) {
        pending_beat_settings_ = true;
        ++changes_;
      }
      return;
    }
    case MidiTarget::kPresetKey:
      if (action.kind == MidiAction::Kind::kPress && index >= 0 && index < show::kPresetLetters)
        RecallBinding(current_page_, index, true);
      return;
    case MidiTarget::kPage:
      if (action.kind == MidiAction::Kind::kSelect) SetPage(action.number);
      else if (action.kind == MidiAction::Kind::kPress) SetPage((current_page_ + 1) % show::kPresetPages);
      return;
    case MidiTarget::kTap:
    case MidiTarget::kBeatOff:
      return;  // the window's: once for the whole program
  }
}

void ControllerPanel::FlushMidi() {
  for (int deck = 0; deck < kPanelDecks; ++deck) {
    PendingDeck& pending = pending_decks_[deck];
    if (pending.mask == 0) continue;
    net::DeckRecord record = pending.record;
    record.change_mask = pending.mask;
    pending.mask = 0;
    if (HasDeck(deck)) Send(net::DeckUpdateMessage(record));
  }
  if (pending_beat_settings_) {
    pending_beat_settings_ = false;
    const BeatSettings& settings = beat_graph_.settings();
    SendBeatSettings(settings.low_bin, settings.high_bin, settings.threshold);
  }
}

void ControllerPanel::SendBeatSettings(uint32_t low_bin, uint32_t high_bin, float threshold) {
  if (!connected()) return;
  net::DeckRecord record;
  record.reserved = 0;
  record.deck = -1;
  record.change_mask = net::kMaskBeatSettings;
  record.fader = 0.0f;
  record.mixer = 0;
  record.effect_id = 0;
  record.low_bin = low_bin;
  record.high_bin = high_bin;
  record.threshold = threshold;
  record.beat_mode = 0;
  record.speed = 0.0f;
  Send(net::DeckUpdateMessage(record));
}

// ---------------------------------------------------------------------------
// Master, blackout and the preview.
// ---------------------------------------------------------------------------
void ControllerPanel::DragMaster(int position) {
  if (!master_bar_.DragTo(position) || !connected()) return;
  Send(net::MasterUpdateMessage(net::kMasterLevel, Trackbar::ValueAt(master_bar_.position()), false));
}

void ControllerPanel::ToggleBlackout() {
  if (connected()) Send(net::MasterUpdateMessage(net::kMasterBlackout, 1.0f, !blackout_));
}

void ControllerPanel::SetPreviewWanted(bool wanted) {
  if (wanted == preview_wanted_) return;
  preview_wanted_ = wanted;
  ++changes_;
  if (!wanted) preview_ = PreviewPicture{0, 0, {}, preview_.serial + 1};
  if (connected()) Send(net::PreviewRequestMessage(wanted ? kPreviewRate : 0));
}

}  // namespace client

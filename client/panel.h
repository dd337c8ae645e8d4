// A controller panel: one connection to one Server -- effect lists, deck
// table, mixer and beat-mode choices, labels, log, frame rate, status;
// control events in, protocol messages out -- with the pieces it is made
// of: host text, the drag-only Trackbar, the keyboard reading and the beat
// graph. Plain classes; tests drive them over loopback and feed key states.
//
// Typical use:
//   client::ControllerPanel panel; panel.Connect("localhost:6969");
//   every frame: panel.Tick(client::ReadKeyboard(), true);
//
// Not here: the window holding the panels (window.h), dialogs (dialogs.h),
// any drawing (the ImGui view, view.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/midi_map.h"
#include "net/link.h"
#include "show/preset.h"

namespace client {

// ---------------------------------------------------------------------------
// Host text: "host" or "host:port" (port 1-65535, default 6969). Blanks
// around the text are ignored. Returns 0, or -1 with a reason in *error.
// ---------------------------------------------------------------------------
struct HostAddress {
  std::string host;
  int port = net::kDefaultPort;
};
int ParseHostAndPort(std::string_view text, HostAddress* address, std::string* error = nullptr);

// ---------------------------------------------------------------------------
// Trackbar: a 0-100 slider that only a drag of its thumb moves. A click in
// the track and keyboard steps change nothing. While dragged it shows the
// dragged position; otherwise it shows the value last set from the Server.
// Vertical trackbars have their maximum value at the top: position 0 (top)
// is value 1.0.
// ---------------------------------------------------------------------------
class Trackbar {
 public:
  static constexpr int kMin = 0;
  static constexpr int kMax = 100;

  // Position shown now.
  int position() const { return dragging_ ? drag_position_ : status_position_; }
  // Position of the Server's last value.
  int status_position() const { return status_position_; }
  bool dragging() const { return dragging_; }

  // From a Server status: position = max - trunc((max - min) * value).
  void ShowValue(float value);
  // Drag events. DragTo returns true when the position changed (the caller
  // then sends the value); positions outside the range are clamped.
  void BeginDrag();
  bool DragTo(int position);
  // The thumb goes back to the Server's last value.
  void EndDrag();

  // (max - position - min) / (max - min): the top is 1.0.
  static float ValueAt(int position);
  static int PositionFor(float value);

 private:
  int status_position_ = 0;
  int drag_position_ = 0;
  bool dragging_ = false;
};

// ---------------------------------------------------------------------------
// Controller panel: one connection to one Server.
// ---------------------------------------------------------------------------
struct EffectEntry {
  int32_t id = -1;
  std::string name;
  bool loaded = false;
};

// One line of a list box: a text, the number it stands for, and whether
// the performer selected it.
struct ListItem {
  std::string text;
  int32_t number = -1;
  bool selected = false;
};

// Beat-detector settings as last received (for the beat graph).
struct BeatSettings {
  uint32_t low_bin = 0;
  uint32_t high_bin = 20;
  float threshold = 0.0f;
};

// ---------------------------------------------------------------------------
// Keyboard: the keys the Client acts on, as one reading of the whole
// program's keyboard (whichever of its windows has the focus). Letters
// follow the keyboard layout; the page keys are the physical main-row
// digit keys (the numeric keypad does not count); Ctrl and Shift are the
// modifier state at the moment of reading.
// ---------------------------------------------------------------------------
struct KeyboardState {
  bool space = false;
  bool backspace = false;
  bool page_keys[show::kPresetPages] = {};  // by page: [0] is the "1" key, [9] the "0" key
  bool letters[show::kPresetLetters] = {};  // A-Z
  bool ctrl = false;
  bool shift = false;
};

// The program's keyboard now (client/keys_sdl.cpp). A key pressed and
// released since the last reading counts as down, so a short tap between
// two frames is not lost.
KeyboardState ReadKeyboard();
// Starts / stops remembering such short presses.
void StartKeyboardWatch();
void StopKeyboardWatch();

// ---------------------------------------------------------------------------
// Beat graph: a small picture of the beat detector -- the spectrum's first
// 64 bins as a white curve, the low and high bin and the threshold as red
// lines, a white bar flashing on each beat of the tapped tempo -- and the
// three trackbars that set the detector on the Server. Its coordinates are
// the graph control's pixels at 96 dpi (x = bin), whatever the display's
// scale; the view scales them.
// ---------------------------------------------------------------------------
struct BeatPicture {
  bool drawn = false;  // false until the first picture was made
  int width = 0, height = 0;
  std::vector<int> curve;  // y of the spectrum at x = 0 .. width - 1
  bool flash = false;      // the tempo bar, [left, right) x [top, bottom)
  int flash_left = 0, flash_top = 0, flash_right = 0, flash_bottom = 0;
  int low_x = 0, high_x = 0;  // red vertical lines, y = 0 .. height - 1
  int threshold_y = 0;        // red horizontal line, x = 0 .. width - 1
  bool operator==(const BeatPicture&) const = default;
};

// Pixel colours of a rasterised picture.
enum BeatPixel : uint8_t { kBeatBlack = 0, kBeatWhite = 1, kBeatRed = 2 };
// The picture as width x height pixels, top row first, drawn in order:
// flash, curve (one-pixel polyline), red lines.
std::vector<uint8_t> RasterizeBeatPicture(const BeatPicture& picture);

// The tempo line beside the beat graph: "Tempo 120.0 BPM" from a tapped
// period in milliseconds, or how to get one; "MIDI CLOCK 174.0 BPM" while
// the Server follows a MIDI clock.
std::string TempoText(uint32_t period_ms);
std::string TempoText(uint32_t period_ms, uint8_t source);

// The Server's tempo as its last tempo status gave it (known stays false
// with a Server that sends none).
struct ServerTempo {
  bool known = false;
  uint32_t period_ms = 0;
  uint32_t last_beat_ms = 0;  // on this process's tap clock (fx::MillisecondsOf)
  bool beat_disabled = false;
  uint8_t source = net::kTempoSourceTap;
};

class BeatGraph {
 public:
  enum class Bar { kLowBin = 0, kHighBin = 1, kThreshold = 2 };
  static constexpr int kBins = 64;  // bins drawn; the curve is flat right of bin 63

  BeatGraph();
  int width() const { return width_; }
  int height() const { return height_; }

  // From the Server (MSG_STATE, deck -1 statuses).
  void SetBeatSettings(uint32_t low_bin, uint32_t high_bin, float threshold);
  const BeatSettings& settings() const { return settings_; }

  // The trackbars: low and high bin 0 .. width (position = bin), threshold
  // 0 .. height (top = 1.0, position p is 1 - p / height). While dragged a
  // bar shows the dragged position, otherwise the current setting.
  int BarMax(Bar bar) const { return bar == Bar::kThreshold ? height_ : width_; }
  int BarPosition(Bar bar) const;
  bool dragging(Bar bar) const { return drags_[static_cast<int>(bar)].active; }
  void BeginDrag(Bar bar);
  // Moves the thumb and takes the value into the graph's settings. True
  // when it changed (the caller then sends the settings).
  bool DragTo(Bar bar, int position);
  void EndDrag(Bar bar);

  // One paint request. Every third request in the whole program draws
  // (the others return false at once): `spectrum` holds at least 64
  // magnitudes (nullptr draws silence), `period_ms` and `last_tap_ms` are
  // the tapped tempo, `now_ms` the tap clock now. True when a new picture
  // was made.
  bool Paint(const float* spectrum, uint32_t period_ms, uint32_t last_tap_ms, uint32_t now_ms);
  const BeatPicture& picture() const { return picture_; }
  // The program-wide paint counter back to 0 (tests).
  static void ResetPaintCounter();

 private:
  struct Drag {
    bool active = false;
    int position = 0;
  };
  int width_;
  int height_;
  BeatSettings settings_;
  Drag drags_[3];
  BeatPicture picture_;
};

enum class LinkState { kDisconnected, kConnecting, kConnected };

inline constexpr int kPanelDecks = net::kDeckCount;  // deck groups a panel shows
inline constexpr size_t kMaxLogLines = 1000;          // older lines fall off the bottom
inline constexpr size_t kHostCapacity = 260;          // host text incl. its NUL

class ControllerPanel {
 public:
  ControllerPanel();
  ~ControllerPanel();
  ControllerPanel(const ControllerPanel&) = delete;
  ControllerPanel& operator=(const ControllerPanel&) = delete;

  // --- connection ---------------------------------------------------------
  // Disconnects first if needed, then starts connecting to "host[:port]"
  // without waiting. 0 when under way; -1 when it failed at once (the
  // reason goes to the log; the panel stays disconnected).
  int Connect(std::string_view host_text);
  // Drops the connection (or the attempt): empty effect lists, every deck
  // "NO EFFECT", deck and mixer tables freed, status "Disconnected".
  void Disconnect();
  // One frame: advances a connect, drains and handles every complete
  // message, handles the keys (only while connected), notices a lost
  // connection and repaints the beat graph. Always returns 1. Without a
  // keyboard reading no keys are looked at; with one and `act_on_keys`
  // false (a text field has the keyboard) the keys are only remembered.
  int Tick();
  int Tick(const KeyboardState& keys, bool act_on_keys);

  LinkState link_state() const { return state_; }
  bool connected() const { return state_ == LinkState::kConnected; }
  // Host and port of the current or last connection.
  const std::string& host() const { return host_; }
  int port() const { return port_; }

  // --- control events -----------------------------------------------------
  // "Connect"/"Disconnect": disconnects and returns false when connected or
  // connecting; returns true when the host prompt should open.
  bool PressConnectButton();
  // "V Load" / "Unload ^": one load request per selected item.
  void LoadSelected();
  void UnloadSelected();
  // Assign button "Deck d+1": the first selected loaded effect goes to deck d.
  void AssignToDeck(int deck);
  // "Unload" of deck d: takes the effect off.
  void UnloadDeck(int deck);
  // Choice lists of deck d: `number` is the chosen item's number.
  void ChooseMixer(int deck, int32_t number);
  void ChooseBeatMode(int deck, int32_t number);
  // Deck trackbars. Begin/End mark the drag; DragFader/DragSpeed move the
  // thumb to a position and send the value when it changed.
  void BeginFaderDrag(int deck);
  void DragFader(int deck, int position);
  void EndFaderDrag(int deck);
  void BeginSpeedDrag(int deck);
  void DragSpeed(int deck, int position);
  void EndSpeedDrag(int deck);
  // Beat-detector settings for the Server (deck -1, mask 4, other fields 0).
  void SendBeatSettings(uint32_t low_bin, uint32_t high_bin, float threshold);
  // The tempo keys, acting on the Server: a tap, beat off / on.
  void SendTap();
  void SendBeatToggle();
  // A MIDI action on this panel's controls (the tempo buttons belong to the
  // window). It goes through the trackbar and choice rules of the mouse:
  // a value that lands where the control already is sends nothing. Deck
  // and beat-graph changes wait for FlushMidi, which sends at most one
  // update per deck (and one for the beat settings) per frame.
  void ApplyMidi(const MidiAction& action);
  void FlushMidi();
  // Chooses the page of the letter keys (0-9).
  void SetPage(int page);
  // The beat graph's trackbars: while connected, a drag takes the value
  // into the graph and sends the graph's three settings.
  void BeginBeatDrag(BeatGraph::Bar bar);
  void DragBeatBar(BeatGraph::Bar bar, int position);
  void EndBeatDrag(BeatGraph::Bar bar);

  // --- bindings, keys and preset files ------------------------------------
  // Every binding back to the defaults; the current page becomes 0.
  void ResetBindings();
  // The deck records as last received go into binding [page][letter].
  void StoreBinding(int page, int letter);
  // Sends binding [page][letter]: effects by name among the loaded ones,
  // then each deck's settings (mask 27). With `unload_empty`, decks whose
  // binding names no effect are cleared; a name that is not loaded leaves
  // its deck alone. A binding naming no effect at all sends nothing and
  // says so in the log.
  void RecallBinding(int page, int letter, bool unload_empty);
  // Whether binding [page][letter] names an effect on some deck.
  bool BindingSet(int page, int letter) const;
  // The letter last recalled on the current page, or -1.
  int last_recalled_letter() const { return recalled_page_ == current_page_ ? recalled_letter_ : -1; }
  // The page, store and recall keys (the process-wide space and Backspace
  // belong to the window): a key counts when it is down now and was not
  // at the last reading; digits first, then letters A to Z; Ctrl stores,
  // Shift keeps decks with empty bindings. Remembers `keys` for the next
  // reading.
  void HandleKeys(const KeyboardState& keys);
  // Remembers `keys` as the last reading without acting on them.
  void ObserveKeys(const KeyboardState& keys) { previous_keys_ = keys; }
  int current_page() const { return current_page_; }
  const show::Binding& binding(int page, int letter) const;
  const show::PresetBank& bindings() const { return *bindings_; }
  // The whole bank to / from a preset file. 0, or -1 with a log line and
  // an alert (a failed load changes nothing; a failed save leaves the old
  // file as it was). Loading sets the page back to 0.
  int SavePreset(const std::string& path);
  int LoadPreset(const std::string& path);
  // Selection in the two effect lists (by the item's effect ID).
  void SelectUnloaded(int32_t effect_id, bool selected);
  void SelectLoaded(int32_t effect_id, bool selected);
  // "Close": the owner removes the panel after the frame.
  void RequestClose() { close_requested_ = true; }
  bool close_requested() const { return close_requested_; }

  // --- what the view shows ------------------------------------------------
  const std::string& status() const { return status_; }
  const std::string& frame_rate_text() const { return frame_rate_text_; }
  const char* connect_button_text() const;
  // Sorted by name; items carry the effect ID.
  const std::vector<ListItem>& unloaded_list() const { return unloaded_list_; }
  const std::vector<ListItem>& loaded_list() const { return loaded_list_; }
  // Newest line first.
  const std::deque<std::string>& log() const { return log_; }
  // "NO EFFECT" when the deck holds none (or is not in the deck table).
  std::string DeckEffectLabel(int deck) const;
  const Trackbar& fader(int deck) const { return decks_view_[Clamp(deck)].fader; }
  const Trackbar& speed(int deck) const { return decks_view_[Clamp(deck)].speed; }
  // "NULL MIXER" (-1) then the Server's mixers; empty before the state.
  const std::vector<ListItem>& mixer_choices() const { return mixer_choices_; }
  // "FREE", "START ON BEAT", "END ON BEAT"; empty before the state.
  const std::vector<ListItem>& beat_mode_choices() const { return beat_mode_choices_; }
  // Index into the choices of the deck's current mixer / beat mode, -1 none.
  int MixerChoiceIndex(int deck) const;
  int BeatModeChoiceIndex(int deck) const;
  // True when deck d is in the deck table (its controls can send).
  bool HasDeck(int deck) const;

  // --- state --------------------------------------------------------------
  const std::vector<EffectEntry>& effects() const { return effects_; }
  const std::vector<net::DeckRecord>& deck_table() const { return deck_table_; }
  const std::vector<net::MixerRecord>& mixer_table() const { return mixer_table_; }
  const BeatSettings& beat_settings() const { return beat_graph_.settings(); }
  const BeatGraph& beat_graph() const { return beat_graph_; }
  const ServerTempo& server_tempo() const { return server_tempo_; }
  // The graph's repaint: the spectrum of this process, the tempo of the
  // Server (its last tempo status).
  void RepaintBeatGraph();
  // Grows whenever something the view shows may have changed (a message
  // arrived, the status or the log changed), so an idle window can skip
  // redrawing.
  uint64_t changes() const { return changes_; }
  // Error texts for the performer (version mismatch, a lost connection...).
  // The owner shows them inside its window; each is also in the log.
  std::vector<std::string> TakeAlerts();

  // --- master, blackout and the preview ------------------------------------
  // The Server's master level and blackout as last received (1 and off
  // before; a Server without them never sends any).
  float master_level() const { return master_level_; }
  bool blackout() const { return blackout_; }
  // The master trackbar (top = 1.0): a drag sends the level.
  const Trackbar& master() const { return master_bar_; }
  void BeginMasterDrag() { master_bar_.BeginDrag(); }
  void DragMaster(int position);
  void EndMasterDrag() { master_bar_.EndDrag(); }
  // "BLACKOUT": turns the blackout on, or off again.
  void ToggleBlackout();
  // The preview checkbox (on by default): asks the Server for
  // kPreviewRate previews a second while connected, or for none.
  static constexpr uint32_t kPreviewRate = 10;
  void SetPreviewWanted(bool wanted);
  bool preview_wanted() const { return preview_wanted_; }
  // The last preview: RGBA, top row first; `serial` grows with each one.
  struct PreviewPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    uint64_t serial = 0;
  };
  const PreviewPicture& preview() const { return preview_; }

  // Sends a message to the Server when connected. 0 or -1.
  int Send(const net::NetMessage& message);
  // Adds a line at the top of the log list.
  void AddLogLine(std::string text);
  // printf-style status line (cut to 1023 characters).
  void SetStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  struct DeckView {
    Trackbar fader;
    Trackbar speed;
  };
  // Deck changes from MIDI waiting for the end of the frame.
  struct PendingDeck {
    uint32_t mask = 0;
    net::DeckRecord record;
  };
  static int Clamp(int deck) { return deck < 0 ? 0 : deck >= kPanelDecks ? kPanelDecks - 1 : deck; }
  static bool IsPanelDeck(int deck) { return deck >= 0 && deck < kPanelDecks; }

  void FinishConnect();
  void Handle(net::NetMessage* message);
  void TakeState(const net::StateMessage& state);
  void RebuildEffectLists();
  void ShowDeck(int deck);
  void ShowAllDecks();
  void SendDeckUpdate(int deck, uint32_t mask, float value, int32_t number);
  // Which choice a MIDI value or press picks among `choices`, from `current`.
  static int32_t MidiChoice(const std::vector<ListItem>& choices, int32_t current, const MidiAction& action);
  void Alert(std::string text);

  LinkState state_ = LinkState::kDisconnected;
  net::Connection connection_;
  net::Link link_;
  std::string host_;
  int port_ = net::kDefaultPort;

  std::vector<EffectEntry> effects_;
  std::vector<net::DeckRecord> deck_table_;
  std::vector<net::MixerRecord> mixer_table_;
  BeatGraph beat_graph_;
  ServerTempo server_tempo_;
  PendingDeck pending_decks_[kPanelDecks];
  bool pending_beat_settings_ = false;
  std::unique_ptr<show::PresetBank> bindings_;
  int current_page_ = 0;
  int recalled_page_ = -1, recalled_letter_ = -1;
  KeyboardState previous_keys_;

  std::vector<ListItem> unloaded_list_;
  std::vector<ListItem> loaded_list_;
  std::vector<ListItem> mixer_choices_;
  std::vector<ListItem> beat_mode_choices_;
  DeckView decks_view_[kPanelDecks];
  std::deque<std::string> log_;
  std::string status_;
  std::string frame_rate_text_ = "0";
  std::vector<std::string> alerts_;
  bool close_requested_ = false;
  uint64_t changes_ = 0;
  float master_level_ = 1.0f;
  bool blackout_ = false;
  Trackbar master_bar_;
  bool preview_wanted_ = true;
  PreviewPicture preview_;
};

}  // namespace client

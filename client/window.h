// The Client window: the panels in creation order and the quit request,
// the panel template (where each control sits, in dialog units, and the
// conversion to pixels), and the program's hooks that run the real window.
//
// Typical use (the frame loop):
//   client::CreateClientWindow(); while (client::ClientTick()) ...;
//   client::CloseClient();
//
// Not here: a panel's own logic (panel.h), the ImGui view (view.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/dialogs.h"
#include "client/midi_map.h"
#include "client/panel.h"
#include "control/control.h"

namespace client {

// ---------------------------------------------------------------------------
// Client window logic: the panels in creation order and the quit request.
// ---------------------------------------------------------------------------
class ClientWindow {
 public:
  ClientWindow() = default;
  ~ClientWindow();
  ClientWindow(const ClientWindow&) = delete;
  ClientWindow& operator=(const ClientWindow&) = delete;

  // "&New Controller": a new disconnected panel at the end of the stack.
  ControllerPanel* NewController();
  // The panel of a Server started in the same process: connecting to
  // `host_text` at once, with the Server's start-up preset file (if any) as
  // its bank, so the performer's keys work from the first frame.
  ControllerPanel* NewConnectedController(std::string_view host_text, const std::string& preset_file);
  // "Close" of a panel: disconnects it and removes it.
  void ClosePanel(ControllerPanel* panel);
  // Removes every panel whose "Close" was pressed.
  void RemoveClosedPanels();
  // Disconnects and destroys every panel.
  void CloseAllPanels();
  // "&Quit" or closing the window.
  void RequestQuit() { quit_requested_ = true; }
  bool quit_requested() const { return quit_requested_; }

  // One frame: 0 (after closing every panel) once quit was requested, else
  // each panel's tick in order, the MIDI input, and 1. With a keyboard
  // reading, the space bar sends one tap and Backspace one beat toggle per
  // press to every connected Server; then every panel handles its page and
  // letter keys. Keys are only remembered, not acted on, while
  // KeysPaused().
  int Tick();
  int Tick(const KeyboardState& keys);
  // The view reports whether a text field has the keyboard.
  void SetTextInputActive(bool active) { text_input_active_ = active; }
  // A text field has the keyboard or a dialog with one is open: letters
  // typed there are text, not recalls.
  bool KeysPaused() const;

  // --- MIDI ---------------------------------------------------------------
  // The MIDI input read every tick; none means MIDI is off and `status`
  // says why (each panel's log shows it). Every tick its messages go
  // through the MIDI map: learning, then actions on every connected panel
  // (tap and beat off once for the whole program, like their keys).
  void SetMidiInput(std::unique_ptr<control::MidiInput> input, std::string status);
  const std::string& midi_status() const { return midi_status_; }
  MidiMap& midi_map() { return midi_map_; }
  // Right-click > "Learn MIDI" / "Forget MIDI". Forgetting (and a learn
  // when it completes) stores the map in the settings.
  void StartMidiLearn(const MidiControl& control);
  void ForgetMidi(const MidiControl& control);
  // The map from / to the settings store (text "MidiMap" of the settings
  // root). Load returns how many entries were skipped; Save 0 or -1.
  int LoadMidiMappings();
  int SaveMidiMappings();

  size_t panel_count() const { return panels_.size(); }
  // Sum of the panels' changes plus the window's own (panels added or
  // removed, alerts): a redraw is due when it differs from the last one.
  uint64_t changes() const;
  ControllerPanel* panel(size_t index) const { return index < panels_.size() ? panels_[index].get() : nullptr; }
  ConnectionDialog& dialog() { return dialog_; }
  PresetDialog& preset_dialog() { return preset_dialog_; }
  // Alerts gathered from the panels, oldest first; the view shows the first.
  std::deque<std::string>& alerts() { return alerts_; }

 private:
  int TickWith(const KeyboardState* keys);
  void TickMidi();
  // Every connected panel, in order.
  std::vector<ControllerPanel*> ConnectedPanels() const;
  void PressTap();
  void PressBeatOff();
  void LogToPanels(const std::string& line);
  // Moves the panel's alerts to the window's (alerts raised outside a tick,
  // by a preset dialog say, wait for the next one).
  void TakeAlerts(ControllerPanel* panel);

  std::vector<std::unique_ptr<ControllerPanel>> panels_;
  ConnectionDialog dialog_;
  PresetDialog preset_dialog_;
  std::deque<std::string> alerts_;
  bool quit_requested_ = false;
  bool text_input_active_ = false;
  KeyboardState previous_keys_;  // for the process-wide keys
  uint64_t changes_ = 0;
  std::unique_ptr<control::MidiInput> midi_input_;
  std::string midi_status_;
  MidiMap midi_map_;
};

// ---------------------------------------------------------------------------
// Panel template: where each control sits, in dialog units, and the
// conversion to pixels (1.5 px across and 1.625 px down per unit at 96 dpi,
// times the display's scale).
// ---------------------------------------------------------------------------
struct DialogRect {
  int x = 0, y = 0, w = 0, h = 0;
};
struct PixelRect {
  float x = 0, y = 0, w = 0, h = 0;
  float right() const { return x + w; }
  float bottom() const { return y + h; }
  bool Contains(float px, float py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};
inline constexpr float kUnitWidthPx = 1.5f;
inline constexpr float kUnitHeightPx = 1.625f;
PixelRect ToPixels(const DialogRect& rect, float scale);

inline constexpr DialogRect kPanelSize{0, 0, 647, 380};
inline constexpr DialogRect kDialogSize{0, 0, 224, 49};

enum class Control {
  kStatus,          // 1009
  kFrameRate,       // 1104
  kConnect,         // 1007
  kClose,           // 1010
  kLoadPreset,      // 1013
  kSavePreset,      // 1014
  kBeatGraph,       // 1101
  kThreshold,       // 1114
  kLowBin,          // 1113
  kHighBin,         // 1115
  kUnloadedList,    // 1006
  kLoadButton,      // 1011
  kUnloadButton,    // 1012
  kLoadedList,      // 1008
  kLog,             // 1016
  // Beyond the template: captions of the beat graph's bars, the tempo, and
  // the row of the current page's binding keys.
  kThresholdCaption,
  kLowCaption,
  kHighCaption,
  kTempo,
  kBindingKeys,
  // The output: the Server's preview with its checkbox, the master
  // trackbar and the blackout button, in the column under the beat graph.
  kPreviewToggle,
  kBlackout,
  kPreview,
  kMaster,
  kMasterCaption,
};
DialogRect ControlRect(Control control);

enum class DeckControl {
  kGroup,       // group box "Deck n"
  kFader,       // vertical trackbar
  kSpeed,       // vertical trackbar
  kUnload,      // "Unload"
  kBeatMode,    // drop-down
  kMixer,       // drop-down
  kEffectLabel, // "NO EFFECT" or the effect's name
  kAssign,      // "Deck n" under the loaded list
  kFaderCaption,  // "FADER" under the fader
  kSpeedCaption,  // "SPEED" under the speed
};
DialogRect DeckControlRect(int deck, DeckControl control);

// Keeps a window rectangle reachable: when it lies on none of `displays`
// (at least a 48 x 48 px corner of its title area visible), it moves to the
// first display's top-left area. Returns the position to use.
struct ScreenPoint {
  int x = 0, y = 0;
};
ScreenPoint PlaceOnDisplays(int x, int y, int width, int height, const std::vector<PixelRect>& displays);

// Menu texts with '&' marking the mnemonic, as the menu names them.
inline constexpr const char* kMenuFile = "&File";
inline constexpr const char* kMenuNewController = "&New Controller";
inline constexpr const char* kMenuQuit = "&Quit";
inline constexpr const char* kMenuHelp = "&Help";
inline constexpr const char* kMenuAbout = "&About";
// The text as shown: '&' removed ("&&" shows one '&').
std::string MenuText(std::string_view label);

inline constexpr const char* kClientWindowTitle = "halvane VJ Client";

// ---------------------------------------------------------------------------
// The program's hooks (client_window_sdl.cpp).
// ---------------------------------------------------------------------------
// Creates the main window (empty, at "ClientX"/"ClientY"). 0 or -1.
int CreateClientWindow();
// 1 while the window is open, 0 once it was closed (its panels are then
// closed too).
int ClientTick();
// Closes every panel and the window; stores the window position if the
// window is still open.
void CloseClient();
// The logic behind the running window (nullptr before CreateClientWindow).
ClientWindow* GetClientWindow();

}  // namespace client

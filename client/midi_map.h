// MIDI mapping: which MIDI control drives which panel control, learning and
// forgetting those bindings, and turning incoming messages into actions on
// the panel's controls. Plain logic over control::MidiMessage: tests feed
// messages made by hand.
//
// Typical use:
//   client::MidiMap map;
//   map.StartLearn({client::MidiTarget::kFader, 0});   // right-click > Learn MIDI
//   map.Feed(message, &actions);                       // first CC/note/program change binds
//   later: map.Feed(message, &actions) -> {kFader 0, value 0.5}
//
// Rules: a control change 0-127 is a value 0..1 (a 14-bit pair, CC n with
// CC n+32, gives the fine value); a note-on or a control change rising
// above 63 presses a button (a pad on a fader, speed or beat-graph bar sets
// it to the velocity; on a mixer or beat mode it steps to the next
// choice); a program change selects the preset page.
// Not here: what an action does to a panel (window.h), any MIDI port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/control.h"

namespace client {

enum class MidiTarget : uint8_t {
  kFader,      // index: deck 0-5
  kSpeed,      // deck
  kMixer,      // deck
  kBeatMode,   // deck
  kThreshold,  // beat graph bars (index 0)
  kLowBin,
  kHighBin,
  kPresetKey,  // index: letter 0-25 of the current page
  kTap,
  kBeatOff,
  kPage,
};

struct MidiControl {
  MidiTarget target = MidiTarget::kFader;
  int index = 0;
  bool operator==(const MidiControl&) const = default;
};

// The performer's name of a control ("DECK 1 FADER", "KEY Q", "TAP").
std::string MidiControlName(const MidiControl& control);

// What a binding listens to.
struct MidiSource {
  uint8_t kind = control::kMidiControlChange;  // CC, note-on or program change
  uint8_t channel = 0;                         // 0-15
  uint8_t number = 0;                          // CC or note number; 0 for program change
  bool operator==(const MidiSource&) const = default;
};

struct MidiBinding {
  MidiControl control;
  MidiSource source;
};

struct MidiAction {
  enum class Kind {
    kValue,   // `value` in 0..1
    kPress,   // a button press
    kSelect,  // choose item `number` (a page from a program change)
  };
  MidiControl control;
  Kind kind = Kind::kValue;
  float value = 0.0f;
  int number = 0;
};

class MidiMap {
 public:
  MidiMap();

  // --- learning -----------------------------------------------------------
  // The next control change, note-on or program change binds to `control`
  // (replacing its binding, and taking the source from any other control).
  void StartLearn(const MidiControl& control) { learning_ = control; }
  void CancelLearn() { learning_.reset(); }
  const std::optional<MidiControl>& learning() const { return learning_; }
  // Removes the control's binding. Whether there was one.
  bool Forget(const MidiControl& control);
  const MidiBinding* Find(const MidiControl& control) const;
  const std::vector<MidiBinding>& bindings() const { return bindings_; }

  // One message in. Returns the binding just learned, if this message
  // completed a learn; otherwise appends the actions it causes.
  std::optional<MidiBinding> Feed(const control::MidiMessage& message, std::vector<MidiAction>* actions);

  // --- persistence --------------------------------------------------------
  // One line per binding, ';'-separated ("fader 0 cc 1 7;tap 0 note 10 36").
  std::string Save() const;
  // Replaces the bindings with those of `text`; malformed entries are
  // skipped (their number is returned).
  int Load(const std::string& text);
  // The list for the performer, one binding a line.
  std::string ListText() const;

 private:
  void Bind(const MidiBinding& binding);
  const MidiBinding* FindSource(const MidiSource& source) const;

  std::vector<MidiBinding> bindings_;
  std::optional<MidiControl> learning_;
  uint8_t msb_[16][32] = {};        // the last coarse value of CC 0-31
  bool msb_seen_[16][32] = {};      // a fine half counts only after its coarse half
  uint8_t last_cc_[16][128] = {};   // for buttons: a press is a rise above 63
};

// Formats a source for the performer: "CC 7 ch 1", "NOTE 36 ch 10", "PROGRAM ch 1".
std::string MidiSourceText(const MidiSource& source);

}  // namespace client

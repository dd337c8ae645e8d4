// Hands-on control from outside the program: MIDI input (controllers and
// a DJ's MIDI clock) and OSC datagrams. Each platform sits behind one small
// interface (RtMidi over the ALSA sequencer: midi_rtmidi.cpp; UDP with
// liblo decoding: osc_liblo.cpp), so what the messages mean is decided and
// tested elsewhere with messages made by hand.
//
// Typical use:
//   std::string error;
//   auto midi = control::OpenMidiInput("halvane VJ", "", &error);  // every port
//   every frame: midi->Poll(&messages, &log_lines);
//   control::MidiClock clock; clock.Feed(message) -> beats and tempo
//   auto osc = control::OpenOscReceiver(9000, "", &error);
//   every frame: osc->Poll(64, &osc_messages);
//
// Nothing here waits: polls take what has arrived. Not here: what a control
// change does (the Client's MIDI map, the Server's OSC address space).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace control {

// ===========================================================================
// MIDI
// ===========================================================================

// One short MIDI message (system exclusive is never delivered).
struct MidiMessage {
  uint8_t status = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  uint8_t size = 0;   // bytes used, 1-3
  double time = 0.0;  // seconds on the input's own steady clock
  int port = -1;      // which open port it came from (the input's numbering)

  uint8_t kind() const { return status >= 0xF0 ? status : static_cast<uint8_t>(status & 0xF0); }
  int channel() const { return status & 0x0F; }
};

inline constexpr uint8_t kMidiNoteOff = 0x80;
inline constexpr uint8_t kMidiNoteOn = 0x90;
inline constexpr uint8_t kMidiControlChange = 0xB0;
inline constexpr uint8_t kMidiProgramChange = 0xC0;
inline constexpr uint8_t kMidiClockPulse = 0xF8;
inline constexpr uint8_t kMidiStart = 0xFA;
inline constexpr uint8_t kMidiContinue = 0xFB;
inline constexpr uint8_t kMidiStop = 0xFC;

// A message from raw bytes (a status byte and its data bytes). False for
// anything else: running status, system exclusive, data bytes out of
// 0..127, a length that does not fit the status.
bool ParseMidiBytes(const uint8_t* bytes, size_t size, double time, MidiMessage* message);

// Every MIDI input port of the machine, opened as it appears.
class MidiInput {
 public:
  virtual ~MidiInput() = default;
  // Opens ports that appeared and closes those that went away (the port
  // list is read at most once a second), then moves the messages received
  // since the last call into *out, oldest first. What happened to ports
  // goes to *log as lines for the performer ("MIDI port X opened", "MIDI
  // port X went away"). Never fails: a port that cannot be opened is
  // logged and tried again at the next look.
  virtual void Poll(std::vector<MidiMessage>* out, std::vector<std::string>* log) = 0;
  // Names of the ports open now.
  virtual std::vector<std::string> OpenPorts() const = 0;
  // Called on the input's own thread whenever a message arrives, so a
  // program waiting for window events can wake up to poll. Set before
  // messages flow; the callback must be thread-safe and quick.
  virtual void SetWakeCallback(void (*wake)()) { (void)wake; }
};

// Reads every input port (`port_filter` empty) or only those whose name
// contains `port_filter` (ASCII case ignored). nullptr with the reason in
// *error when MIDI cannot be used here (no ALSA sequencer device): a clear
// sentence for the log, never a failure of the program.
std::unique_ptr<MidiInput> OpenMidiInput(const std::string& client_name, const std::string& port_filter,
                                         std::string* error);

// Whether this machine has an ALSA sequencer device to talk to.
bool MidiAvailable();

// MIDI clock: 24 pulses per quarter note, with start, stop and continue.
// The tempo is the slope of a least-squares line through the times of the
// last kClockWindow pulses, so the jitter of single pulses (USB MIDI gives
// a few ms) averages out; a tempo change settles within the window.
class MidiClock {
 public:
  static constexpr int kPulsesPerBeat = 24;
  static constexpr int kClockWindow = 4 * kPulsesPerBeat;
  // A pause longer than this between pulses starts the measurement afresh.
  static constexpr double kGapSeconds = 1.0;

  enum class Event { kNone, kBeat };
  // Takes one message (others than clock, start, stop and continue are
  // ignored). kBeat on the pulse that starts a quarter note while running.
  Event Feed(const MidiMessage& message);
  // The measured period in seconds, 0 until two pulses were seen.
  double PeriodSeconds() const;
  double Bpm() const;
  bool running() const { return running_; }

 private:
  double times_[kClockWindow] = {};
  int count_ = 0;       // pulses in the window
  int next_ = 0;        // ring position of the next pulse
  int pulse_ = 0;       // pulses since the last start (mod 24)
  bool running_ = true; // a clock sending no start still beats
  double last_time_ = 0.0;
};

// ===========================================================================
// OSC
// ===========================================================================

// One decoded argument. Numbers keep their OSC type tag: 'i' (also 'h',
// 'T', 'F' as integers), 'f' (also 'd'), 's' (also 'S'); anything else
// keeps its tag with no value.
struct OscArgument {
  char type = 0;
  int64_t i = 0;
  double f = 0.0;
  std::string s;
  bool IsNumber() const { return type == 'i' || type == 'f'; }
  double Number() const { return type == 'i' ? static_cast<double>(i) : f; }
};

struct OscMessage {
  std::string address;
  std::vector<OscArgument> arguments;
};

// Decodes one datagram: a message or a bundle (nested bundles included)
// into *out. False, with nothing added, for a malformed datagram.
bool DecodeOscPacket(const uint8_t* data, size_t size, std::vector<OscMessage>* out);

// A UDP endpoint receiving OSC.
class OscReceiver {
 public:
  virtual ~OscReceiver() = default;
  // The UDP port bound.
  virtual int Port() const = 0;
  // Decodes at most `max_packets` datagrams that are waiting now into *out;
  // malformed ones are counted and dropped.
  virtual void Poll(size_t max_packets, std::vector<OscMessage>* out) = 0;
  virtual uint64_t MalformedPackets() const = 0;
};

// Binds UDP `port` (0: any free port) on `bind_address` (empty: every
// address). nullptr with the reason in *error.
std::unique_ptr<OscReceiver> OpenOscReceiver(int port, const std::string& bind_address, std::string* error);

}  // namespace control

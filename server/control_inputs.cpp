// Control from outside the Client link: taps and beat off from the Client,
// the tempo status it follows, a DJ's MIDI clock as the tempo source, and
// OSC datagrams.
//
// OSC addresses mirror the panel's controls. Every deck or beat value goes
// through the same handler as a MSG_DECK_UPDATE from the Client, so OSC
// cannot put into the show anything the protocol would refuse, and the
// connected Client gets the deck status that handler sends (its panel
// follows). A refused message or a malformed datagram is counted and
// dropped; the log gets one summary line a second at most, so a flood from
// the network never floods the performer's log or holds the frame.
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "app/core/core.h"
#include "server/server_internal.h"
#include "show/preset.h"

namespace server {
namespace internal {
namespace {

constexpr double kOscReportSeconds = 1.0;

net::TempoStatusMessage CurrentTempo() {
  net::TempoStatusMessage status;
  status.period_ms = fx::TappedPeriodMs();
  const uint32_t last = fx::LastTapMs();
  const uint32_t now = fx::MillisecondsOf(g_server.clock);
  status.since_beat_ms = last != 0 && now >= last ? now - last : 0;
  status.beat_disabled = fx::BeatDisabled();
  status.source = fx::GetTempoSource() == fx::TempoSource::kMidiClock ? net::kTempoSourceMidiClock
                                                                       : net::kTempoSourceTap;
  return status;
}

// --- the MIDI clock ---------------------------------------------------------

void PollMidiClock() {
  if (!g_server.midi_clock_input) return;
  std::vector<control::MidiMessage> messages;
  std::vector<std::string> lines;
  g_server.midi_clock_input->Poll(&messages, &lines);
  for (const std::string& line : lines) ServerLog("%s", line.c_str());
  for (const control::MidiMessage& message : messages) {
    if (g_server.midi_clock.Feed(message) == control::MidiClock::Event::kBeat) fx::ClockBeat(g_server.clock);
  }
  const double period = g_server.midi_clock.PeriodSeconds();
  fx::SetClockPeriodMs(period > 0.0 ? static_cast<uint32_t>(std::lround(period * 1000.0)) : 0);
}

// --- OSC ---------------------------------------------------------------------

void NoteOscProblem(const control::OscMessage& message, const char* why) {
  ++g_server.osc_counts.rejected;
  g_server.osc_last_problem = core::FormatString("%.80s: %s", message.address.c_str(), why);
  core::Trace("SERVER: OSC %s\n", g_server.osc_last_problem.c_str());
}

// The arguments must have exactly these kinds: 'n' a number (int or float),
// 's' a string.
bool HasArguments(const control::OscMessage& message, std::string_view kinds) {
  if (message.arguments.size() != kinds.size()) return false;
  for (size_t i = 0; i < kinds.size(); ++i) {
    const control::OscArgument& argument = message.arguments[i];
    if (kinds[i] == 'n' ? !argument.IsNumber() : argument.type != 's') return false;
  }
  return true;
}

// An integer argument: an int, or a float holding a whole number in range.
bool IntegerArgument(const control::OscArgument& argument, int32_t* value) {
  const double number = argument.Number();
  if (!std::isfinite(number) || number != std::floor(number) || number < INT32_MIN || number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  return true;
}

// /vj/deck/N/field with N in 1..6: the deck index (0-5) and the field.
bool SplitDeckAddress(std::string_view address, int* deck, std::string_view* field) {
  constexpr std::string_view kPrefix = "/vj/deck/";
  if (address.substr(0, kPrefix.size()) != kPrefix) return false;
  address.remove_prefix(kPrefix.size());
  if (address.size() < 3 || address[0] < '1' || address[0] > '0' + kDeckCount || address[1] != '/') return false;
  *deck = address[0] - '1';
  *field = address.substr(2);
  return true;
}

int OscDeckUpdate(const control::OscMessage& message, int deck_index, std::string_view field) {
  Deck* deck = GetDeck(deck_index);
  net::DeckRecord record = deck->record;
  const control::OscArgument* argument = message.arguments.empty() ? nullptr : &message.arguments[0];
  if (field == "fader" || field == "speed") {
    if (!HasArguments(message, "n")) return NoteOscProblem(message, "wants one number"), -1;
    const float value = static_cast<float>(argument->Number());
    if (field == "fader") {
      record.fader = value;
      record.change_mask = net::kMaskFader;
    } else {
      record.speed = value;
      record.change_mask = net::kMaskSpeed;
    }
  } else if (field == "mixer" || field == "beatmode") {
    int32_t number = 0;
    if (!HasArguments(message, "n") || !IntegerArgument(*argument, &number))
      return NoteOscProblem(message, "wants one whole number"), -1;
    if (field == "mixer") {
      record.mixer = number;
      record.change_mask = net::kMaskMixer;
    } else {
      record.beat_mode = number;
      record.change_mask = net::kMaskBeatMode;
    }
  } else {
    return NoteOscProblem(message, "unknown address"), -1;
  }
  if (HandleDeckUpdate(net::DeckUpdateMessage(record)) != 0) return NoteOscProblem(message, "value refused"), -1;
  return 0;
}

// /vj/deck/N/effect s|i: an effect by name (ASCII case ignored) or ID; ""
// or -1 takes the deck's effect off.
int OscDeckEffect(const control::OscMessage& message, int deck) {
  int32_t id = -1;
  if (HasArguments(message, "s")) {
    const std::string& name = message.arguments[0].s;
    if (!name.empty()) {
      id = -2;
      for (int i = 0; i < EffectCount() && id == -2; ++i) {
        std::string_view candidate = net::RecordText(FindEffect(i)->name);
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (size_t c = 0; c < name.size() && same; ++c) same = core::AsciiUpper(name[c]) == candidate[c];
        if (same) id = i;
      }
      if (id == -2) return NoteOscProblem(message, "no such effect"), -1;
    }
  } else if (!HasArguments(message, "n") || !IntegerArgument(message.arguments[0], &id)) {
    return NoteOscProblem(message, "wants an effect name or ID"), -1;
  }
  if (id != -1 && !FindEffect(id)) return NoteOscProblem(message, "no such effect"), -1;
  HandleSetDeckEffect(net::SetDeckEffectMessage(id, deck));
  return 0;
}

int OscBeatSetting(const control::OscMessage& message, std::string_view which) {
  if (!HasArguments(message, "n")) return NoteOscProblem(message, "wants one number"), -1;
  const fx::BeatSettings current = fx::GetBeatSettings();
  net::DeckRecord record;
  record.deck = -1;
  record.change_mask = net::kMaskBeatSettings;
  record.low_bin = static_cast<uint32_t>(current.low_bin);
  record.high_bin = static_cast<uint32_t>(current.high_bin);
  record.threshold = current.threshold;
  if (which == "threshold") {
    record.threshold = static_cast<float>(message.arguments[0].Number());
  } else {
    int32_t bin = 0;
    if (!IntegerArgument(message.arguments[0], &bin) || bin < 0)
      return NoteOscProblem(message, "wants a bin from 0"), -1;
    (which == "low" ? record.low_bin : record.high_bin) = static_cast<uint32_t>(bin);
  }
  if (HandleDeckUpdate(net::DeckUpdateMessage(record)) != 0) return NoteOscProblem(message, "value refused"), -1;
  return 0;
}

int OscRecall(const control::OscMessage& message) {
  std::unique_ptr<show::PresetBank> loaded;
  const show::PresetBank* bank = g_server.startup_bank.get();
  const std::string* key = nullptr;
  if (HasArguments(message, "s")) {
    if (!bank) return NoteOscProblem(message, "the Server was started without a preset"), -1;
    key = &message.arguments[0].s;
  } else if (HasArguments(message, "ss")) {
    loaded = show::NewPresetBank();
    if (show::LoadPresetFile(message.arguments[0].s.c_str(), loaded.get()) != 0)
      return NoteOscProblem(message, "the preset file cannot be read"), -1;
    bank = loaded.get();
    key = &message.arguments[1].s;
  } else {
    return NoteOscProblem(message, "wants a key, or a preset file and a key"), -1;
  }
  int page = 0, letter = 0;
  if (show::ParseBindingKey(*key, &page, &letter) != 0) return NoteOscProblem(message, "no such key"), -1;
  const show::Binding& binding = bank->bindings[page][letter];
  if (show::BindingIsEmpty(binding)) {
    ServerLog("Binding %s is empty", key->c_str());
    return 0;
  }
  RecallStartupPreset(binding);
  return 0;
}

void ReportOscProblems() {
  OscCounts& now = g_server.osc_counts;
  OscCounts& told = g_server.osc_reported;
  if (now.rejected == told.rejected && now.malformed == told.malformed) return;
  if (g_server.clock < g_server.next_osc_report) return;
  g_server.next_osc_report = g_server.clock + kOscReportSeconds;
  const unsigned long long rejected = now.rejected - told.rejected;
  const unsigned long long malformed = now.malformed - told.malformed;
  if (rejected > 0)
    ServerLog("OSC: %llu message(s) refused, %llu malformed packet(s) dropped; last: %s", rejected, malformed,
              g_server.osc_last_problem.c_str());
  else
    ServerLog("OSC: %llu malformed packet(s) dropped", malformed);
  told = now;
}

void PollOsc() {
  if (!g_server.osc) return;
  std::vector<control::OscMessage> messages;
  g_server.osc->Poll(kMaxOscPacketsPerTick, &messages);
  g_server.osc_counts.malformed = g_server.osc->MalformedPackets();
  for (const control::OscMessage& message : messages) HandleOscMessage(message);
  ReportOscProblems();
}

}  // namespace

// Both answer with the tempo status at once, changed or not, so the sender
// knows its press arrived.
void HandleTap() {
  fx::Tap();
  ReportTempo(true);
}

void HandleBeatDisable() {
  fx::ToggleBeatDisabled();
  core::Trace("SERVER: beat %s\n", fx::BeatDisabled() ? "disabled" : "enabled");
  ReportTempo(true);
}

void ReportTempo(bool force) {
  if (!g_server.client_connected) return;
  const net::TempoStatusMessage status = CurrentTempo();
  const net::TempoStatusMessage& sent = g_server.tempo_sent;
  const uint32_t now_ms = fx::MillisecondsOf(g_server.clock);
  const bool changed = !g_server.tempo_sent_valid || status.period_ms != sent.period_ms ||
                       status.beat_disabled != sent.beat_disabled || status.source != sent.source;
  if (!force && (!g_server.tempo_wanted || (!changed && now_ms - g_server.last_tempo_report_ms < kTempoReportMs)))
    return;
  Send(status);
  g_server.tempo_sent = status;
  g_server.tempo_sent_valid = true;
  g_server.last_tempo_report_ms = now_ms;
}

int StartControlInputs(const ServerOptions& options) {
  g_server.osc_counts = OscCounts();
  g_server.osc_reported = OscCounts();
  g_server.tempo_sent_valid = false;
  if (!options.preset_file.empty()) {
    g_server.startup_bank = show::NewPresetBank();
    if (show::LoadPresetFile(options.preset_file.c_str(), g_server.startup_bank.get()) != 0)
      g_server.startup_bank.reset();
  }
  if (options.osc_port >= 0) {
    std::string error;
    g_server.osc = control::OpenOscReceiver(options.osc_port, options.bind_address, &error);
    if (!g_server.osc) {
      core::ShowError("%s", error.c_str());
      return -1;
    }
    ServerLog("OSC on UDP port %d", g_server.osc->Port());
  }
  fx::SetTempoSource(fx::TempoSource::kTap);
  if (!options.midi_clock_port.empty()) {
    // The tempo follows the clock even before the port appears: plugging
    // the DJ's interface in later is picked up within a second.
    fx::SetTempoSource(fx::TempoSource::kMidiClock);
    g_server.midi_clock = control::MidiClock();
    std::string error;
    g_server.midi_clock_input = control::OpenMidiInput("halvane VJ server", options.midi_clock_port, &error);
    if (!g_server.midi_clock_input) ServerLog("%s; the tempo source MIDI CLOCK gets no beats", error.c_str());
    else ServerLog("Tempo source: MIDI CLOCK from ports named like '%s'", options.midi_clock_port.c_str());
  }
  return 0;
}

void StopControlInputs() {
  g_server.osc.reset();
  g_server.midi_clock_input.reset();
  g_server.startup_bank.reset();
  fx::SetTempoSource(fx::TempoSource::kTap);
}

void PollControlInputs() {
  PollMidiClock();
  PollOsc();
  ReportTempo(false);
}

int HandleOscMessage(const control::OscMessage& message) {
  const std::string_view address = message.address;
  int result = -1;
  int deck = 0;
  std::string_view field;
  if (SplitDeckAddress(address, &deck, &field)) {
    result = field == "effect" ? OscDeckEffect(message, deck) : OscDeckUpdate(message, deck, field);
  } else if (address == "/vj/tap") {
    if (message.arguments.empty()) {
      HandleTap();
      result = 0;
    } else {
      NoteOscProblem(message, "takes no arguments");
    }
  } else if (address == "/vj/beatoff") {
    int32_t off = 0;
    if (HasArguments(message, "n") && IntegerArgument(message.arguments[0], &off) && (off == 0 || off == 1)) {
      if (fx::BeatDisabled() != (off == 1)) HandleBeatDisable();
      result = 0;
    } else {
      NoteOscProblem(message, "wants 1 (off) or 0 (on)");
    }
  } else if (address == "/vj/master") {
    if (HasArguments(message, "n") && std::isfinite(message.arguments[0].Number())) {
      SetMaster(static_cast<float>(message.arguments[0].Number()), Blackout());
      result = 0;
    } else {
      NoteOscProblem(message, "wants one number (0-1)");
    }
  } else if (address == "/vj/blackout") {
    int32_t on = 0;
    if (HasArguments(message, "n") && IntegerArgument(message.arguments[0], &on) && (on == 0 || on == 1)) {
      SetMaster(MasterLevel(), on == 1);
      result = 0;
    } else {
      NoteOscProblem(message, "wants 1 (on) or 0 (off)");
    }
  } else if (address == "/vj/recall") {
    result = OscRecall(message);
  } else if (address == "/vj/beat/low" || address == "/vj/beat/high" || address == "/vj/beat/threshold") {
    result = OscBeatSetting(message, address.substr(std::string_view("/vj/beat/").size()));
  } else {
    NoteOscProblem(message, "unknown address");
  }
  if (result == 0) ++g_server.osc_counts.accepted;
  return result;
}

}  // namespace internal

int OscPort() { return internal::g_server.osc ? internal::g_server.osc->Port() : -1; }
OscCounts GetOscCounts() { return internal::g_server.osc_counts; }

}  // namespace server

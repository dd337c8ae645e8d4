// MIDI bindings: learning, the meaning of each message, and their text form.
#include <algorithm>
#include <cstdio>

#include "app/core/core.h"
#include "client/midi_map.h"

namespace client {
namespace {

struct TargetName {
  MidiTarget target;
  const char* key;    // in the settings text
  const char* label;  // for the performer
  int count;          // how many indices it has
};

constexpr TargetName kTargets[] = {
    {MidiTarget::kFader, "fader", "FADER", 6},
    {MidiTarget::kSpeed, "speed", "SPEED", 6},
    {MidiTarget::kMixer, "mixer", "MIXER", 6},
    {MidiTarget::kBeatMode, "beatmode", "BEAT MODE", 6},
    {MidiTarget::kThreshold, "threshold", "THRESHOLD", 1},
    {MidiTarget::kLowBin, "low", "LOW BIN", 1},
    {MidiTarget::kHighBin, "high", "HIGH BIN", 1},
    {MidiTarget::kPresetKey, "key", "KEY", 26},
    {MidiTarget::kTap, "tap", "TAP", 1},
    {MidiTarget::kBeatOff, "beatoff", "BEAT OFF", 1},
    {MidiTarget::kPage, "page", "PAGE", 1},
};

const TargetName& NameOf(MidiTarget target) {
  for (const TargetName& name : kTargets)
    if (name.target == target) return name;
  return kTargets[0];
}

bool IsDeckTarget(MidiTarget target) {
  return target == MidiTarget::kFader || target == MidiTarget::kSpeed || target == MidiTarget::kMixer ||
         target == MidiTarget::kBeatMode;
}

// Targets that take a continuous value from a control change.
bool TakesValue(MidiTarget target) {
  return target == MidiTarget::kFader || target == MidiTarget::kSpeed || target == MidiTarget::kMixer ||
         target == MidiTarget::kBeatMode || target == MidiTarget::kThreshold || target == MidiTarget::kLowBin ||
         target == MidiTarget::kHighBin || target == MidiTarget::kPage;
}

const char* KindKey(uint8_t kind) {
  return kind == control::kMidiNoteOn ? "note" : kind == control::kMidiProgramChange ? "program" : "cc";
}

}  // namespace

std::string MidiControlName(const MidiControl& control) {
  const TargetName& name = NameOf(control.target);
  if (IsDeckTarget(control.target)) return core::FormatString("DECK %d %s", control.index + 1, name.label);
  if (control.target == MidiTarget::kPresetKey) return core::FormatString("KEY %c", 'A' + control.index);
  return name.label;
}

std::string MidiSourceText(const MidiSource& source) {
  if (source.kind == control::kMidiProgramChange) return core::FormatString("PROGRAM ch %d", source.channel + 1);
  return core::FormatString("%s %d ch %d", source.kind == control::kMidiNoteOn ? "NOTE" : "CC", source.number,
                            source.channel + 1);
}

MidiMap::MidiMap() = default;

const MidiBinding* MidiMap::Find(const MidiControl& control) const {
  for (const MidiBinding& binding : bindings_)
    if (binding.control == control) return &binding;
  return nullptr;
}

const MidiBinding* MidiMap::FindSource(const MidiSource& source) const {
  for (const MidiBinding& binding : bindings_)
    if (binding.source == source) return &binding;
  return nullptr;
}

bool MidiMap::Forget(const MidiControl& control) {
  auto it = std::remove_if(bindings_.begin(), bindings_.end(),
                           [&](const MidiBinding& binding) { return binding.control == control; });
  const bool found = it != bindings_.end();
  bindings_.erase(it, bindings_.end());
  return found;
}

void MidiMap::Bind(const MidiBinding& binding) {
  Forget(binding.control);
  // One source drives one control: learning takes it from another.
  bindings_.erase(std::remove_if(bindings_.begin(), bindings_.end(),
                                 [&](const MidiBinding& other) { return other.source == binding.source; }),
                  bindings_.end());
  bindings_.push_back(binding);
}

std::optional<MidiBinding> MidiMap::Feed(const control::MidiMessage& message, std::vector<MidiAction>* actions) {
  const uint8_t kind = message.kind();
  const uint8_t channel = static_cast<uint8_t>(message.channel());
  const bool note_on = kind == control::kMidiNoteOn && message.data2 > 0;
  const bool cc = kind == control::kMidiControlChange;
  const bool program = kind == control::kMidiProgramChange;
  if (!note_on && !cc && !program) return std::nullopt;

  MidiSource source;
  source.kind = note_on ? control::kMidiNoteOn : kind;
  source.channel = channel;
  source.number = program ? 0 : message.data1;

  // Button edges and coarse values are remembered whatever happens next.
  uint8_t previous = 0;
  if (cc) {
    previous = last_cc_[channel][message.data1];
    last_cc_[channel][message.data1] = message.data2;
  }

  if (learning_) {
    MidiBinding binding{*learning_, source};
    learning_.reset();
    Bind(binding);
    if (cc && message.data1 < 32) {
      msb_[channel][message.data1] = message.data2;
      msb_seen_[channel][message.data1] = true;
    }
    return binding;
  }

  const MidiBinding* binding = FindSource(source);
  float value = 0.0f;
  if (cc) {
    const uint8_t number = message.data1;
    if (number < 32) {
      msb_[channel][number] = message.data2;
      msb_seen_[channel][number] = true;
    }
    value = static_cast<float>(message.data2) / 127.0f;
    // The fine half of a 14-bit pair refines the coarse control it belongs
    // to (unless it is bound itself).
    if (!binding && number >= 32 && number < 64) {
      MidiSource coarse = source;
      coarse.number = static_cast<uint8_t>(number - 32);
      const MidiBinding* pair = FindSource(coarse);
      if (pair && msb_seen_[channel][coarse.number] && TakesValue(pair->control.target) &&
          pair->control.target != MidiTarget::kPage) {
        const int fine = msb_[channel][coarse.number] * 128 + message.data2;
        actions->push_back(MidiAction{pair->control, MidiAction::Kind::kValue, static_cast<float>(fine) / 16383.0f, 0});
      }
      return std::nullopt;
    }
  }
  if (!binding) return std::nullopt;
  const MidiControl& target = binding->control;

  if (program) {
    if (target.target == MidiTarget::kPage) {
      // Programs 0-9 are pages 1-10; higher ones mean nothing here.
      if (message.data1 < 10) actions->push_back(MidiAction{target, MidiAction::Kind::kSelect, 0.0f, message.data1});
    } else {
      actions->push_back(MidiAction{target, MidiAction::Kind::kPress, 0.0f, 0});
    }
    return std::nullopt;
  }
  if (cc && TakesValue(target.target)) {
    if (target.target == MidiTarget::kPage)
      actions->push_back(MidiAction{target, MidiAction::Kind::kSelect, 0.0f, message.data2 * 10 / 128});
    else
      actions->push_back(MidiAction{target, MidiAction::Kind::kValue, value, 0});
    return std::nullopt;
  }
  // A pad on a fader, speed or beat-graph bar sets it to its velocity.
  if (note_on && TakesValue(target.target) && target.target != MidiTarget::kPage &&
      target.target != MidiTarget::kMixer && target.target != MidiTarget::kBeatMode) {
    actions->push_back(MidiAction{target, MidiAction::Kind::kValue, static_cast<float>(message.data2) / 127.0f, 0});
    return std::nullopt;
  }
  // A button: a note-on, or a control change rising above 63.
  const bool press = note_on || (cc && message.data2 > 63 && previous <= 63);
  if (press) actions->push_back(MidiAction{target, MidiAction::Kind::kPress, 0.0f, 0});
  return std::nullopt;
}

std::string MidiMap::Save() const {
  std::string text;
  for (const MidiBinding& binding : bindings_) {
    if (!text.empty()) text += ';';
    text += core::FormatString("%s %d %s %d %d", NameOf(binding.control.target).key, binding.control.index,
                               KindKey(binding.source.kind), binding.source.channel, binding.source.number);
  }
  return text;
}

int MidiMap::Load(const std::string& text) {
  bindings_.clear();
  learning_.reset();
  int skipped = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string entry = text.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    char target_key[16] = {}, kind_key[16] = {};
    int index = -1, channel = -1, number = -1;
    char extra = 0;
    const int fields = std::sscanf(entry.c_str(), "%15s %d %15s %d %d %c", target_key, &index, kind_key, &channel,
                                   &number, &extra);
    const TargetName* name = nullptr;
    for (const TargetName& candidate : kTargets)
      if (std::string_view(candidate.key) == target_key) name = &candidate;
    uint8_t kind = 0;
    if (std::string_view(kind_key) == "cc") kind = control::kMidiControlChange;
    else if (std::string_view(kind_key) == "note") kind = control::kMidiNoteOn;
    else if (std::string_view(kind_key) == "program") kind = control::kMidiProgramChange;
    if (fields != 5 || !name || kind == 0 || index < 0 || index >= name->count || channel < 0 || channel > 15 ||
        number < 0 || number > 127 || (kind == control::kMidiProgramChange && number != 0)) {
      ++skipped;
      continue;
    }
    Bind(MidiBinding{MidiControl{name->target, index},
                     MidiSource{kind, static_cast<uint8_t>(channel), static_cast<uint8_t>(number)}});
  }
  return skipped;
}

std::string MidiMap::ListText() const {
  if (bindings_.empty()) return "No MIDI mappings. Right-click a control and choose Learn MIDI.";
  std::vector<std::string> lines;
  for (const MidiBinding& binding : bindings_)
    lines.push_back(MidiControlName(binding.control) + "  <-  " + MidiSourceText(binding.source));
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace client

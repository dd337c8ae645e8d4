// Preset banks and their files (.HVR), shared by the Client's panels and
// the Server's start-up recall.
//
// The file is tag text written through a TagWriter, page-major:
//   <BINDS>
//     <BIND> <KEY> "A" </KEY> <DECK> <DECKNUM> 0 </DECKNUM> <FADER> 1.000000
//     </FADER> <MIXER> -1 </MIXER> <EFFECT> "" </EFFECT> <AUTOBEAT> 0
//     </AUTOBEAT> <SPEED> 0.750000 </SPEED> </DECK> ... six DECKs ...
//     <PAGE> 0 </PAGE> </BIND>   ... 260 BINDs ...
//   </BINDS>
// one tag or value per line, indented by depth in tabs.
//
// Reading is strict per BIND and lenient per file: a BIND that breaks the
// format (page out of range, missing key string, a DECK without one of its
// four required values, a value of the wrong kind, an over-long effect
// name) is skipped whole, and the others load. Saving goes through a
// temporary file renamed over the old one, so a failed save never destroys
// the previous preset.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/core/core.h"
#include "net/wire.h"
#include "show/preset.h"
#include "text/text.h"

namespace show {

using net::DeckRecord;
using net::DefaultDeckRecord;
using net::EffectRecord;
using net::kBeatFree;
using net::kDeckCount;
using net::kMaskServerReply;
using net::RecordText;
using net::SetRecordText;

namespace {

// A quote cannot stand inside a quoted string of the tag syntax, and a
// line end inside one would still read but is never a real name: such
// bytes are left out of the written name (it then matches no effect).
std::string WritableName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || u < 0x20 || u == 0x7f) continue;
    out.push_back(c);
  }
  return out;
}

// "%f" of a non-finite value writes a bare word the reader skips, which
// would cost the whole BIND on loading: such values are saved as the
// default instead.
double Finite(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

int WriteIntTag(text::TagWriter* w, const char* name, int32_t value) {
  int r = w->Open(name);
  r |= w->Value("%i\n", static_cast<int>(value));
  r |= w->Close(name);
  return r;
}

int WriteRealTag(text::TagWriter* w, const char* name, double value) {
  int r = w->Open(name);
  r |= w->Value("%f\n", value);
  r |= w->Close(name);
  return r;
}

int WriteStringTag(text::TagWriter* w, const char* name, const std::string& value) {
  int r = w->Open(name);
  r |= w->Value("\"%s\"\n", value.c_str());
  r |= w->Close(name);
  return r;
}

int WriteBank(text::TagWriter* w, const PresetBank& bank) {
  int r = w->Open("BINDS");
  for (int page = 0; page < kPresetPages; ++page) {
    for (int letter = 0; letter < kPresetLetters; ++letter) {
      const Binding& binding = bank.bindings[page][letter];
      r |= w->Open("BIND");
      r |= w->Open("KEY");
      r |= w->Value("\"%c\"\n", 'A' + letter);
      r |= w->Close("KEY");
      for (const DeckRecord& record : binding.decks) {
        r |= w->Open("DECK");
        r |= WriteIntTag(w, "DECKNUM", record.deck);
        r |= WriteRealTag(w, "FADER", Finite(record.fader, 1.0f));
        r |= WriteIntTag(w, "MIXER", record.mixer);
        r |= WriteStringTag(w, "EFFECT", WritableName(RecordText(record.effect_name)));
        r |= WriteIntTag(w, "AUTOBEAT", record.beat_mode);
        r |= WriteRealTag(w, "SPEED", Finite(record.speed, 0.75f));
        r |= w->Close("DECK");
      }
      r |= WriteIntTag(w, "PAGE", page);
      r |= w->Close("BIND");
    }
  }
  r |= w->Close("BINDS");
  return r == 0 ? 0 : -1;
}

// The value of `key` inside `node`: kMissing when there is no such tag,
// kBad when the tag is there without a value of the wanted kind.
enum class Found { kOk, kMissing, kBad };

Found IntValue(const text::TagNode* node, const char* key, int32_t* out) {
  if (!text::FindChild(node, key)) return Found::kMissing;
  return text::FindInt(node, key, out) ? Found::kOk : Found::kBad;
}

Found RealValue(const text::TagNode* node, const char* key, float* out) {
  if (!text::FindChild(node, key)) return Found::kMissing;
  // Reals must carry a decimal point; an integer here is a broken file.
  return text::FindReal(node, key, out, text::Numbers::kRealOnly) ? Found::kOk : Found::kBad;
}

Found StringValue(const text::TagNode* node, const char* key, const char** out) {
  if (!text::FindChild(node, key)) return Found::kMissing;
  const char* value = text::FindString(node, key);
  if (!value) return Found::kBad;
  *out = value;
  return Found::kOk;
}

// Fills `record` (already reset) from a DECK tag. False when the DECK
// breaks the format.
bool ReadDeck(const text::TagNode* deck, DeckRecord* record) {
  int32_t number = 0, mixer = 0, beat_mode = kBeatFree;
  float fader = 0.0f, speed = 1.0f;
  const char* effect = nullptr;
  if (IntValue(deck, "DECKNUM", &number) != Found::kOk) return false;
  if (RealValue(deck, "FADER", &fader) != Found::kOk) return false;
  if (IntValue(deck, "MIXER", &mixer) != Found::kOk) return false;
  if (StringValue(deck, "EFFECT", &effect) != Found::kOk) return false;
  if (std::strlen(effect) > kMaxPresetEffectName) return false;
  if (IntValue(deck, "AUTOBEAT", &beat_mode) == Found::kBad) return false;
  // A file without SPEED means 1.0 (twice normal speed), as files of old
  // versions were read.
  if (RealValue(deck, "SPEED", &speed) == Found::kBad) return false;
  record->deck = number;
  // A fader is a position on a 0..1 track: a file holding 1e30 must not
  // reach a mixer, every Client's copy and the next save.
  record->fader = std::clamp(fader, 0.0f, 1.0f);
  record->mixer = mixer;
  SetRecordText(record->effect_name, effect);
  record->beat_mode = beat_mode;
  record->speed = speed;
  return true;
}

// One BIND into `bank`. False (bank untouched) when it breaks the format.
bool ReadBind(const text::TagNode* bind, PresetBank* bank) {
  // KEY first, then six DECK places, then PAGE: seven children at least.
  if (bind->ChildCount() < 1 + kDeckCount) return false;
  int32_t page = 0;
  if (IntValue(bind, "PAGE", &page) == Found::kBad) return false;
  if (page < 0 || page >= kPresetPages) return false;
  const text::TagNode* key = bind->Child(0)->Child(0);
  const char* key_text = key ? key->String() : nullptr;
  if (!key_text) return false;
  char letter = key_text[0];
  if (letter < 'A' || letter > 'Z') return false;

  Binding binding;
  for (int j = 0; j < kDeckCount; ++j) {
    binding.decks[j] = DefaultDeckRecord(j);
    const text::TagNode* child = bind->Child(j + 1);
    // A place that holds no DECK leaves that deck as reset.
    if (!text::IsTag(child, "DECK")) continue;
    if (!ReadDeck(child, &binding.decks[j])) return false;
  }
  bank->bindings[page][letter - 'A'] = binding;
  return true;
}

int ReadPresetDocument(const text::TagDocument& document, PresetBank* bank, PresetReport* report) {
  const text::TagNode* root = text::RootNode(&document);
  if (!root) return -1;
  PresetReport counts;
  ResetPresetBank(bank);
  const text::TagNode* binds = text::FindChild(root, "BINDS");
  if (binds) {
    for (const text::TagNode* child : binds->Children()) {
      if (!text::IsTag(child, "BIND")) continue;
      if (ReadBind(child, bank))
        ++counts.binds_read;
      else
        ++counts.binds_skipped;
    }
  }
  if (report) *report = counts;
  return 0;
}

}  // namespace

void ResetPresetBank(PresetBank* bank) {
  for (auto& page : bank->bindings)
    for (Binding& binding : page)
      for (int deck = 0; deck < kDeckCount; ++deck) binding.decks[deck] = DefaultDeckRecord(deck);
}

std::unique_ptr<PresetBank> NewPresetBank() {
  auto bank = std::make_unique<PresetBank>();
  ResetPresetBank(bank.get());
  return bank;
}

int SavePresetFile(const char* path, const PresetBank& bank) {
  if (!path || !*path) return -1;
  core::FilePtr file(core::OpenAtomicFile(path));
  if (!file) return -1;
  text::TagWriter writer(file.get());
  int result = WriteBank(&writer, bank);
  // Closing without Commit throws the temporary file away: the old preset
  // stays as it was.
  if (result != 0 || file->Commit() != 0) return -1;
  return 0;
}

int ParsePresetText(const char* text, PresetBank* bank, PresetReport* report) {
  text::TagDocument document;
  if (!text || text::ParseTagText(&document, text) != 0) return -1;
  return ReadPresetDocument(document, bank, report);
}

int LoadPresetFile(const char* path, PresetBank* bank, PresetReport* report) {
  text::TagDocument document;
  if (!path || text::LoadTagFile(&document, path) != 0) return -1;
  return ReadPresetDocument(document, bank, report);
}

bool BindingIsEmpty(const Binding& binding) {
  for (const DeckRecord& deck : binding.decks)
    if (deck.effect_name[0] != '\0') return false;
  return true;
}

int PageOfKey(char key) {
  if (key >= '1' && key <= '9') return key - '1';
  if (key == '0') return 9;
  return -1;
}

int ParseBindingKey(std::string_view text, int* page, int* letter) {
  int p = 0;
  if (text.size() == 2) {
    p = PageOfKey(text[0]);
    if (p < 0) return -1;
    text.remove_prefix(1);
  }
  if (text.size() != 1) return -1;
  char c = core::AsciiUpper(text[0]);
  if (c < 'A' || c > 'Z') return -1;
  if (page) *page = p;
  if (letter) *letter = c - 'A';
  return 0;
}

std::vector<RecallStep> PlanRecall(const Binding& binding, const std::vector<EffectRecord>& effects,
                                   bool unload_empty) {
  std::vector<RecallStep> steps;
  for (int i = 0; i < kDeckCount; ++i) {
    DeckRecord update = binding.decks[i];
    update.change_mask = kMaskServerReply;
    std::string_view name = RecordText(update.effect_name);
    if (!name.empty()) {
      // Names are matched exactly; an effect that is not loaded (or not in
      // the catalogue at all) leaves the deck alone.
      for (const EffectRecord& effect : effects)
        if (effect.loaded && RecordText(effect.name) == name) steps.push_back(RecallStep{effect.id, i, update});
    } else if (unload_empty) {
      steps.push_back(RecallStep{-1, i, update});
    }
  }
  return steps;
}

}  // namespace show

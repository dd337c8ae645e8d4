// Preset banks and preset files (.HVR). A bank holds 10 pages x 26 letters
// of bindings; a binding holds one deck record per deck (effect by name,
// fader, mixer, beat mode, speed). Files are tag text. Used by the Client's
// panels and by the Server's recall at start-up.
//
// Typical use:
//     auto bank = show::NewPresetBank();
//     if (show::LoadPresetFile("presets/demo.HVR", bank.get()) == 0) ...
//     auto steps = show::PlanRecall(bank->bindings[0][letter], effects, true);
//
// Not here: sending the steps (net/link.h); key handling (client/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "net/wire.h"

namespace show {

inline constexpr int kPresetPages = 10;
inline constexpr int kPresetLetters = 26;
// Longest effect name a preset file may hold (a char[64] field).
inline constexpr size_t kMaxPresetEffectName = 63;

struct Binding {
  net::DeckRecord decks[net::kDeckCount];
};
struct PresetBank {
  Binding bindings[kPresetPages][kPresetLetters];  // [page][letter A-Z]
};

// Every binding back to its defaults: deck number = its place, no effect,
// fader 1.0, NULL mixer, FREE, speed 0.75, everything else zero.
void ResetPresetBank(PresetBank* bank);
// A reset bank on the heap (a bank is about 170 KiB).
std::unique_ptr<PresetBank> NewPresetBank();

// Writes the whole bank as tag text (260 BINDs, page-major) through the tag
// writer into a temporary file beside `path`, then renames it over `path`.
// 0, or -1 with the file at `path` as it was.
int SavePresetFile(const char* path, const PresetBank& bank);

struct PresetReport {
  int binds_read = 0;
  int binds_skipped = 0;  // malformed BINDs left out
};
// Reads a preset file through the file layer. -1 when it cannot be read or
// does not parse: the bank is untouched. Otherwise the bank is reset, then
// every well-formed BIND fills its binding (a file without BINDS leaves it
// reset), and the result is 0. Missing AUTOBEAT reads as FREE, missing
// SPEED as 1.0, missing PAGE as page 0.
int LoadPresetFile(const char* path, PresetBank* bank, PresetReport* report = nullptr);
// The same from text in memory.
int ParsePresetText(const char* text, PresetBank* bank, PresetReport* report = nullptr);

// True when no deck of the binding names an effect: recalling it from a
// key would only clear decks, which is never what a stray key should do.
bool BindingIsEmpty(const Binding& binding);

// The page a main-row digit key chooses: '1'..'9' are pages 0-8, '0' is 9;
// -1 for anything else.
int PageOfKey(char key);
// A binding named as on the keyboard: "Q" (page of the "1" key) or a digit
// then a letter, "3Q" (page of the "3" key). Letters in either case.
// 0, or -1 when malformed.
int ParseBindingKey(std::string_view text, int* page, int* letter);

// What recalling a binding sends, in order: for each deck place i whose
// record names an effect, per loaded effect of exactly that name: put it on
// deck i, then update the deck the record names with its fader, mixer,
// speed and beat mode (mask 27). With `unload_empty`, a place without a
// name takes deck i's effect off and applies its record the same way.
// Other places are left alone.
struct RecallStep {
  int32_t effect_id = -1;  // MSG_SET_DECK_EFFECT
  int32_t deck = 0;
  net::DeckRecord update;       // MSG_DECK_UPDATE
};
std::vector<RecallStep> PlanRecall(const Binding& binding, const std::vector<net::EffectRecord>& effects,
                                   bool unload_empty);

}  // namespace show

// Preset files: any text is read into a bank; a bank that was read is
// saved, loaded and saved again, and both saved files must be identical
// (what the program writes, it reads back exactly), with every fader
// inside 0..1.
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "show/preset.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::BeginInput();
  const std::string text = fuzz::Text(data, size);
  static std::unique_ptr<show::PresetBank> bank = show::NewPresetBank();
  static std::unique_ptr<show::PresetBank> again = show::NewPresetBank();
  if (show::ParsePresetText(text.c_str(), bank.get()) != 0) return 0;
  for (const auto& page : bank->bindings)
    for (const show::Binding& binding : page)
      for (const net::DeckRecord& deck : binding.decks)
        fuzz::Check(deck.fader >= 0.0f && deck.fader <= 1.0f, "a loaded fader lies outside 0..1");

  fuzz::Check(show::SavePresetFile("first.HVR", *bank) == 0, "a loaded bank does not save");
  fuzz::Check(show::LoadPresetFile("first.HVR", again.get()) == 0, "a saved bank does not load");
  fuzz::Check(show::SavePresetFile("second.HVR", *again) == 0, "a reloaded bank does not save");
  fuzz::Check(fuzz::ReadFile("first.HVR") == fuzz::ReadFile("second.HVR"), "save, load, save changed the file");
  return 0;
}

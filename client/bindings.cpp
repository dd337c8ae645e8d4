// Preset bindings and the keys of a controller panel.
//
// A panel holds a bank of 10 pages x 26 letters of deck settings. Letters
// recall (send) or, with Ctrl, store a binding of the current page; the
// main-row digits choose the page. A key acts once per press: it counts
// when it is down at this reading and was not at the last one, so holding
// a letter recalls it once. The process-wide space bar and Backspace are
// the window's (ClientWindow::Tick), so that two panels do not tap twice.
#include "app/core/core.h"
#include "client/panel.h"

namespace client {
namespace {

bool ValidBinding(int page, int letter) {
  return page >= 0 && page < show::kPresetPages && letter >= 0 && letter < show::kPresetLetters;
}

}  // namespace

void ControllerPanel::ResetBindings() {
  show::ResetPresetBank(bindings_.get());
  current_page_ = 0;
  recalled_page_ = recalled_letter_ = -1;
}

const show::Binding& ControllerPanel::binding(int page, int letter) const {
  if (!ValidBinding(page, letter)) page = letter = 0;
  return bindings_->bindings[page][letter];
}

void ControllerPanel::StoreBinding(int page, int letter) {
  if (!ValidBinding(page, letter)) return;
  show::Binding& binding = bindings_->bindings[page][letter];
  for (size_t i = 0; i < deck_table_.size() && i < static_cast<size_t>(net::kDeckCount); ++i) {
    uint32_t reserved = binding.decks[i].reserved;
    binding.decks[i] = deck_table_[i];
    binding.decks[i].reserved = reserved;
  }
  core::Trace("CLIENT: stored binding %c on page %d\n", 'A' + letter, page + 1);
}

bool ControllerPanel::BindingSet(int page, int letter) const {
  return ValidBinding(page, letter) && !show::BindingIsEmpty(bindings_->bindings[page][letter]);
}

void ControllerPanel::RecallBinding(int page, int letter, bool unload_empty) {
  if (!ValidBinding(page, letter) || !connected()) return;
  if (!BindingSet(page, letter)) {
    AddLogLine(core::FormatString("Binding %c of page %d is empty", 'A' + letter, page + 1));
    return;
  }
  recalled_page_ = page;
  recalled_letter_ = letter;
  std::vector<net::EffectRecord> effects;
  effects.reserve(effects_.size());
  for (const EffectEntry& entry : effects_) {
    net::EffectRecord record;
    record.id = entry.id;
    net::SetRecordText(record.name, entry.name);
    record.loaded = entry.loaded;
    effects.push_back(record);
  }
  core::Trace("CLIENT: recall binding %c on page %d%s\n", 'A' + letter, page + 1,
              unload_empty ? "" : " (keeping empty decks)");
  for (const show::RecallStep& step : show::PlanRecall(bindings_->bindings[page][letter], effects, unload_empty)) {
    Send(net::SetDeckEffectMessage(step.effect_id, step.deck));
    Send(net::DeckUpdateMessage(step.update));
  }
}

void ControllerPanel::HandleKeys(const KeyboardState& keys) {
  const KeyboardState previous = previous_keys_;
  previous_keys_ = keys;
  // In the order of the key table: a digit and a letter pressed together
  // choose the page first.
  for (int page = 0; page < show::kPresetPages; ++page)
    if (keys.page_keys[page] && !previous.page_keys[page]) {
      current_page_ = page;
      ++changes_;
    }
  for (int letter = 0; letter < show::kPresetLetters; ++letter) {
    if (!keys.letters[letter] || previous.letters[letter]) continue;
    if (keys.ctrl)
      StoreBinding(current_page_, letter);
    else
      RecallBinding(current_page_, letter, !keys.shift);
  }
}

int ControllerPanel::SavePreset(const std::string& path) {
  if (show::SavePresetFile(path.c_str(), *bindings_) != 0) {
    // The file layer wrote to a temporary file: whatever was at `path`
    // before is still there.
    Alert(core::FormatString("Could not save the preset file %s", path.c_str()));
    return -1;
  }
  AddLogLine(core::FormatString("Saved preset %s", path.c_str()));
  return 0;
}

int ControllerPanel::LoadPreset(const std::string& path) {
  show::PresetReport report;
  if (show::LoadPresetFile(path.c_str(), bindings_.get(), &report) != 0) {
    Alert(core::FormatString("Could not read the preset file %s; the bindings are unchanged", path.c_str()));
    return -1;
  }
  current_page_ = 0;
  recalled_page_ = recalled_letter_ = -1;
  if (report.binds_skipped > 0)
    AddLogLine(core::FormatString("Loaded preset %s (%d malformed bindings skipped)", path.c_str(),
                                  report.binds_skipped));
  else
    AddLogLine(core::FormatString("Loaded preset %s", path.c_str()));
  return 0;
}

}  // namespace client

// The start-up preset: the effects of the chosen binding load during
// start-up, and the first tick puts them on the decks.
#include <vector>

#include "app/core/core.h"
#include "net/link.h"
#include "server/server_internal.h"
#include "show/preset.h"

namespace server::internal {

int PrepareStartupRecall(const ServerOptions& options) {
  g_server.startup_recall.reset();
  if (options.preset_file.empty()) return 0;
  if (options.recall_page < 0 || options.recall_page >= show::kPresetPages || options.recall_letter < 0 ||
      options.recall_letter >= show::kPresetLetters) {
    core::ShowError("No such preset binding: page %d, letter %d", options.recall_page + 1, options.recall_letter);
    return -1;
  }
  std::unique_ptr<show::PresetBank> bank = show::NewPresetBank();
  show::PresetReport report;
  if (show::LoadPresetFile(options.preset_file.c_str(), bank.get(), &report) != 0) {
    core::ShowError("Cannot read the preset file %s", options.preset_file.c_str());
    return -1;
  }
  if (report.binds_skipped > 0)
    core::Trace("SERVER: %d malformed bindings of %s skipped.\n", report.binds_skipped, options.preset_file.c_str());
  const show::Binding& binding = bank->bindings[options.recall_page][options.recall_letter];
  for (const net::DeckRecord& record : binding.decks) {
    std::string_view name = net::RecordText(record.effect_name);
    if (name.empty()) continue;
    bool known = false;
    for (int id = 0; id < EffectCount(); ++id) {
      EffectEntry* entry = FindEffect(id);
      if (net::RecordText(entry->name) != name) continue;
      known = true;
      if (entry->loaded) continue;
      if (LoadEffect(entry) != 0) {
        core::ShowError("Failed to load effect %s", entry->name);
        continue;
      }
      entry->loaded = true;
      core::Trace("SERVER: Loaded effect %s for the start-up preset.\n", entry->name);
    }
    // The deck is left alone, as a recall from a panel would.
    if (!known) core::ShowError("The preset names effect %.*s, which is not in effects/", static_cast<int>(name.size()),
                                name.data());
  }
  g_server.startup_recall = binding;
  return 0;
}

void RecallStartupPreset(const show::Binding& binding) {
  std::vector<net::EffectRecord> effects;
  effects.reserve(static_cast<size_t>(EffectCount()));
  for (int id = 0; id < EffectCount(); ++id) effects.push_back(FindEffect(id)->Record());
  for (const show::RecallStep& step : show::PlanRecall(binding, effects, true)) {
    HandleSetDeckEffect(net::SetDeckEffectMessage(step.effect_id, step.deck));
    HandleDeckUpdate(net::DeckUpdateMessage(step.update));
  }
  core::Trace("SERVER: Recalled the start-up preset.\n");
}

}  // namespace server::internal

// Effect catalogue: one entry per item of effects/, in the listing's sorted
// order, so IDs are stable for a given show folder.
//
// The wire name is the item's name without its extension, upper-cased and
// cut to 63 characters, so several folders may share a name ("Tunnel" and
// "TUNNEL.old"). Each entry therefore keeps the folder's own spelling, and
// loading reads from that folder, never from the name.
#include <new>
#include <string>
#include <string_view>

#include "app/core/core.h"
#include "server/server_internal.h"

namespace server {
namespace {

core::GrowableArray<std::unique_ptr<EffectEntry>> g_catalogue;

constexpr const char* kEffectsFolder = "effects";

// Preset files name effects inside double quotes, one per line: a quote or
// a control byte in the name would break them.
bool UsableFolderName(std::string_view name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

}  // namespace

net::EffectRecord EffectEntry::Record() const {
  net::EffectRecord record;
  record.id = id;
  net::SetRecordText(record.name, net::RecordText(name));
  record.loaded = loaded;
  return record;
}

int EnumerateEffects() {
  ReleaseCatalogue();
  if (!core::FindFirst(kEffectsFolder, "*")) {
    core::Trace("SERVER: No effects found in %s/.\n", kEffectsFolder);
    return 0;
  }
  const std::string prefix = std::string(kEffectsFolder) + "/";
  std::string path;
  while (core::FindNext(&path)) {
    std::string item = path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
    std::string base = core::BaseName(path);
    if (base.empty() || base == ".") continue;  // ".", ".." and dot files
    if (!UsableFolderName(item)) {
      core::Trace("SERVER: Skipped effect folder with a quote or control character in its name.\n");
      continue;
    }
    std::unique_ptr<EffectEntry> entry(new (std::nothrow) EffectEntry);
    if (!entry) {
      ReleaseCatalogue();
      return -1;
    }
    entry->id = g_catalogue.Size();
    net::SetRecordText(entry->name, core::AsciiToUpper(base.substr(0, kMaxEffectName)));
    entry->folder = item;
    EffectEntry* added = entry.get();
    if (g_catalogue.Add(std::move(entry)) < 0) {
      ReleaseCatalogue();
      return -1;
    }
    core::Trace("SERVER: Added effect %s.\n", added->name);
  }
  return 0;
}

void UnloadEffect(EffectEntry* entry) {
  if (!entry) return;
  internal::CancelEffectLoad(entry);
  entry->loaded = false;
}

void ReleaseCatalogue() {
  for (std::unique_ptr<EffectEntry>& entry : g_catalogue) {
    if (entry) internal::CancelEffectLoad(entry.get());
    entry.reset();
  }
  g_catalogue = core::GrowableArray<std::unique_ptr<EffectEntry>>();
}

int EffectCount() { return g_catalogue.Size(); }

EffectEntry* FindEffect(int32_t id) {
  std::unique_ptr<EffectEntry>* slot = g_catalogue.At(id);
  return slot ? slot->get() : nullptr;
}

}  // namespace server

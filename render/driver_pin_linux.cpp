// GL driver pinning with the dynamic loader (Linux).
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/driver_pin.h"

namespace render {
namespace {

bool IsDriverModule(const char* path) {
  return std::strstr(path, "/dri/") != nullptr || std::strstr(path, "_mesa.so") != nullptr ||
         std::strstr(path, "libgallium") != nullptr;
}

int Collect(struct dl_phdr_info* info, size_t, void* data) {
  if (info->dlpi_name && IsDriverModule(info->dlpi_name))
    static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
  return 0;
}

}  // namespace

void PinGlDriver() {
  static bool pinned = false;
  if (pinned) return;
  pinned = true;
  std::vector<std::string> modules;
  dl_iterate_phdr(Collect, &modules);
  for (const std::string& module : modules) {
    // RTLD_NOLOAD only takes a reference to what is already there; the
    // handle is kept on purpose until the process ends.
    if (dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD)) core::Trace("RENDER: keeping %s loaded\n", module.c_str());
  }
}

}  // namespace render

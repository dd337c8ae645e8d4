// When the X server goes away, Xlib calls its I/O error handler, whose
// default prints "X connection ... broken" and calls exit(): static
// destructors then try to destroy SDL windows over the dead connection and
// spin in Xlib forever. Ours says so on stderr and leaves with _exit(1) at
// once. Nothing is lost: preset files and settings are written atomically
// when they change, never at exit.
//
// Xlib is loaded by SDL at run time; the handler is installed through the
// library already in the process (RTLD_NOLOAD), so runs without X (headless,
// offscreen) neither load nor need it.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

#include "app/core/core.h"
#include "app/platform.h"

namespace app {
namespace {

extern "C" int OnDisplayConnectionLost(void*) {
  static const char kText[] = "vj: the connection to the display was lost; the program ends\n";
  ssize_t written = write(STDERR_FILENO, kText, sizeof kText - 1);
  (void)written;
  _exit(1);
}

using IoErrorHandler = int (*)(void*);
using SetIoErrorHandler = IoErrorHandler (*)(IoErrorHandler);

}  // namespace

void WatchForDisplayLoss() {
  void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (!x11) {
    core::Trace("APP: no Xlib in the process; display loss is not watched\n");
    return;
  }
  auto set = reinterpret_cast<SetIoErrorHandler>(dlsym(x11, "XSetIOErrorHandler"));
  if (set) set(&OnDisplayConnectionLost);
  core::Trace("APP: watching the display connection\n");
  // The handle stays open: the handler must outlive any use of Xlib.
}

}  // namespace app

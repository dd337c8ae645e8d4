// ALSA prints its own errors to stderr (about ten lines every time SDL
// tries a capture device on a machine without one). The library is loaded
// by SDL at run time, so it is reached the same way here: its error hook
// is set through dlopen/dlsym, and no build dependency on ALSA is added.
// The handle stays open for the life of the process, as the hook must.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>

#include "app/core/core.h"
#include "fx/sound_internal.h"

namespace fx {
namespace {

extern "C" void AlsaErrorToTrace(const char* file, int line, const char* function, int error, const char* format,
                                 ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format ? format : "", args);
  va_end(args);
  core::Trace("ALSA: %s (%s:%d %s, error %d)\n", text, file ? file : "?", line, function ? function : "?", error);
}

using ErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
using SetErrorHandler = int (*)(ErrorHandler);

}  // namespace

void RouteAlsaErrorsToTrace() {
  static bool done = false;
  if (done) return;
  done = true;
  void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
  if (!alsa) return;  // no ALSA: nothing will print
  auto set = reinterpret_cast<SetErrorHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
  if (set) set(&AlsaErrorToTrace);
}

}  // namespace fx

// Linked into every test program: no test ever opens a modal box or a live
// sound device unless it asks for one itself.
#include <cstdlib>

namespace {
struct TestEnvironment {
  TestEnvironment() {
    setenv("VJ_NO_DIALOGS", "1", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
  }
} g_test_environment;
}  // namespace

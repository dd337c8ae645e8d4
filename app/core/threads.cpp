// Thread starts with the system's refusal (std::system_error, or running
// out of memory for the thread's state) turned into -1.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <system_error>

#include "app/core/core.h"

namespace core {
namespace {

std::atomic<int> g_failures_to_inject{0};
constexpr int kBackgroundNice = 19;

bool TakeInjectedFailure() {
  int left = g_failures_to_inject.load();
  while (left > 0)
    if (g_failures_to_inject.compare_exchange_weak(left, left - 1)) return true;
  return false;
}

}  // namespace

int StartThread(std::thread* thread, std::function<void()> body) {
  if (!thread || thread->joinable() || !body) return -1;
  if (TakeInjectedFailure()) {
    Trace("THREADS: cannot start a thread: injected failure\n");
    return -1;
  }
  try {
    *thread = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    Trace("THREADS: cannot start a thread: %s\n", error.what());
    return -1;
  } catch (const std::bad_alloc&) {
    Trace("THREADS: cannot start a thread: out of memory\n");
    return -1;
  }
  return 0;
}

int StartDetachedThread(std::function<void()> body) {
  std::thread thread;
  if (StartThread(&thread, std::move(body)) != 0) return -1;
  thread.detach();
  return 0;
}

void LowerThisThreadsPriority() {
  // On Linux a nice value set for a thread id applies to that thread alone.
  const pid_t thread_id = static_cast<pid_t>(syscall(SYS_gettid));
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kBackgroundNice) != 0)
    Trace("THREADS: cannot lower a thread's priority\n");
}

void FailNextThreadStarts(int count) { g_failures_to_inject.store(count > 0 ? count : 0); }

}  // namespace core

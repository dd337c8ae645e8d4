#include "app/core/core.h"

#include <ctime>
#include <cerrno>

namespace core {
namespace {

int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

Clock* g_installed = nullptr;

}  // namespace

RealClock::RealClock() : start_ns_(MonotonicNanoseconds()) {}

double RealClock::Seconds() {
  return kClockEpoch + static_cast<double>(MonotonicNanoseconds() - start_ns_) * 1e-9;
}

void RealClock::Sleep(double seconds) {
  if (!(seconds > 0.0)) return;
  timespec request{};
  request.tv_sec = static_cast<time_t>(seconds);
  request.tv_nsec = static_cast<long>((seconds - static_cast<double>(request.tv_sec)) * 1e9);
  // A signal cuts the sleep short; that is fine (the loop checks its flags).
  nanosleep(&request, nullptr);
}

Clock& ProgramClock() {
  if (g_installed) return *g_installed;
  static RealClock real;
  return real;
}

void SetProgramClock(Clock* clock) { g_installed = clock; }

}  // namespace core

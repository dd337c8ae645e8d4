// One Server tick with six empty decks and one connected Client, headless.
//
// What is timed is the CPU time of the tick's own thread: taking messages
// and answering them, the bookkeeping, and submitting the frame (clear, the
// scratch copy, present). The 10 ms pause of a tick that drew no deck
// goes through the program clock, which is an injected one here, and the
// wait for the rasteriser at present is sleep, not CPU time of this thread.
// The wall time of the whole tick, rasteriser included, is reported too.
//
//   Tick/idle         the Client sends nothing
//   Tick/deck_update  the Client sends one deck update per tick (the
//                     Server answers it with the deck's status)
//
// Each reports the median and the 90th percentile in microseconds.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/core/core.h"
#include "fx/timing.h"
#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"
#include "server/server.h"
#include "tests/support/support.h"

namespace {

double ThreadCpuMicroseconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

double WallMicroseconds() {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Percentile(std::vector<double> samples, double share) {
  if (samples.empty()) return 0.0;
  std::sort(samples.begin(), samples.end());
  return samples[std::min(samples.size() - 1, static_cast<size_t>(samples.size() * share))];
}

// A started headless Server with one connected Client.
struct Rig {
  testing_support::TempDir dir;
  core::ManualClock clock;
  net::Connection connection;
  net::Link link;
  bool ok = false;

  Rig() {
    core::SetProgramClock(&clock);
    core::StartFileLayer(dir.path(), "");
    fx::StartTiming();
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    if (server::StartServer(options) != 0) return;
    core::MarkStartupFinished(true);
    if (connection.ConnectAndWait("127.0.0.1", server::ServerPort(), 5.0) != 0) return;
    net::AttachLink(&link, &connection);
    ok = testing_support::WaitUntil(
        [&] {
          server::ServerTick();
          return server::ClientConnected();
        },
        10.0);
  }
  ~Rig() {
    server::ShutdownServer();
    core::MarkStartupFinished(false);
    fx::StopTiming();
    core::StopFileLayer();
    core::SetProgramClock(nullptr);
  }
  void Drain() {
    while (net::ReceiveNetMessage(&link)) {
    }
  }
};

void BM_Tick(benchmark::State& state) {
  const bool send_update = state.range(0) != 0;
  Rig rig;
  if (!rig.ok) {
    state.SkipWithError("the Server did not start or take the connection");
    return;
  }
  net::DeckRecord update = net::DefaultDeckRecord(3);
  update.change_mask = net::kMaskFader;
  std::vector<double> cpu, wall;
  int n = 0;
  for (auto _ : state) {
    if (send_update) {
      update.fader = static_cast<float>(n % 100) / 100.0f;
      net::SendNetMessage(&rig.link, net::DeckUpdateMessage(update));
    }
    rig.clock.Advance(1.0 / 60.0);
    const double wall0 = WallMicroseconds();
    const double cpu0 = ThreadCpuMicroseconds();
    server::ServerTick();
    const double cpu1 = ThreadCpuMicroseconds();
    const double wall1 = WallMicroseconds();
    state.SetIterationTime((cpu1 - cpu0) * 1e-6);
    cpu.push_back(cpu1 - cpu0);
    wall.push_back(wall1 - wall0);
    rig.Drain();
    ++n;
  }
  state.counters["cpu_median_us"] = Percentile(cpu, 0.5);
  state.counters["cpu_p90_us"] = Percentile(cpu, 0.9);
  state.counters["wall_median_us"] = Percentile(wall, 0.5);
}
BENCHMARK(BM_Tick)->ArgName("deck_update")->Arg(0)->Arg(1)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Latency of the control link over loopback between two processes: the
// fake Server (a forked child) polls in a tight loop like a Server tick
// that never sleeps; this process plays the Client.
//
//   DeckUpdateRoundTrip  one deck update until its deck status is back
//   PresetRecallBurst    the twelve messages of one preset recall (an effect
//                        and an update for each of six decks) until all
//                        twelve deck statuses are back
//
// Each reports the median and the 99th percentile in microseconds.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"
#include "tests/net/fake_server.h"

namespace {

net::Connection g_connection;
net::Link g_link;

double Microseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

void Report(benchmark::State& state, std::vector<double>* samples) {
  if (samples->empty()) return;
  std::sort(samples->begin(), samples->end());
  state.counters["median_us"] = (*samples)[samples->size() / 2];
  state.counters["p99_us"] = (*samples)[std::min(samples->size() - 1, samples->size() * 99 / 100)];
  state.counters["max_us"] = samples->back();
}

// Spins (as a Client that polls every pass) until `count` deck statuses
// have arrived.
bool AwaitDeckStatuses(int count) {
  while (count > 0) {
    auto message = net::ReceiveNetMessage(&g_link);
    if (message && message->Type() == net::MSG_DECK_STATUS) --count;
    if (!g_link.IsOpen()) return false;
  }
  return true;
}

void DeckUpdateRoundTrip(benchmark::State& state) {
  std::vector<double> samples;
  net::DeckRecord record = net::DefaultDeckRecord(0);
  record.change_mask = net::kMaskFader;
  for (auto _ : state) {
    record.fader = static_cast<float>(samples.size() % 100) / 100.0f;
    auto start = std::chrono::steady_clock::now();
    net::SendNetMessage(&g_link, net::DeckUpdateMessage(record));
    if (!AwaitDeckStatuses(1)) {
      state.SkipWithError("connection lost");
      break;
    }
    double us = Microseconds(std::chrono::steady_clock::now() - start);
    samples.push_back(us);
    state.SetIterationTime(us * 1e-6);
  }
  Report(state, &samples);
}
BENCHMARK(DeckUpdateRoundTrip)->UseManualTime()->Iterations(20000)->Unit(benchmark::kMicrosecond);

void PresetRecallBurst(benchmark::State& state) {
  std::vector<double> samples;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (int deck = 0; deck < net::kDeckCount; ++deck) {
      net::SendNetMessage(&g_link, net::SetDeckEffectMessage(deck % 2, deck));
      net::DeckRecord record = net::DefaultDeckRecord(deck);
      record.change_mask = net::kMaskServerReply;
      record.fader = 0.5f;
      record.mixer = deck;
      net::SendNetMessage(&g_link, net::DeckUpdateMessage(record));
    }
    if (!AwaitDeckStatuses(12)) {
      state.SkipWithError("connection lost");
      break;
    }
    double us = Microseconds(std::chrono::steady_clock::now() - start);
    samples.push_back(us);
    state.SetIterationTime(us * 1e-6);
  }
  Report(state, &samples);
}
BENCHMARK(PresetRecallBurst)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);

[[noreturn]] void RunFakeServer(int port_pipe) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the benchmark
  testing_support::FakeServer server;
  for (net::EffectRecord& effect : server.effects) effect.loaded = true;
  int port = server.Start(0) == 0 ? server.port() : -1;
  if (write(port_pipe, &port, sizeof port) != sizeof port || port < 0) _exit(1);
  close(port_pipe);
  for (;;) server.Tick();  // a Server tick that never sleeps
}

}  // namespace

int main(int argc, char** argv) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return 1;
  pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    RunFakeServer(pipe_ends[1]);
  }
  close(pipe_ends[1]);
  int port = -1;
  if (read(pipe_ends[0], &port, sizeof port) != sizeof port || port < 0) {
    std::fprintf(stderr, "bench_net: the fake Server did not start\n");
    return 1;
  }
  close(pipe_ends[0]);

  int status = 1;
  if (g_connection.ConnectAndWait("127.0.0.1", port, 5.0) == 0 &&
      net::AttachLink(&g_link, &g_connection) == 0 &&
      net::SendNetMessage(&g_link, net::ClientHandshakeMessage()) == 0 &&
      net::SendNetMessage(&g_link, net::ListEffectsMessage()) == 0) {
    bool have_state = false;
    while (!have_state && g_link.IsOpen()) {
      auto message = net::ReceiveNetMessage(&g_link);
      have_state = message && message->Type() == net::MSG_STATE;
    }
    if (have_state) {
      benchmark::Initialize(&argc, argv);
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
      status = 0;
    }
  }
  if (status != 0) std::fprintf(stderr, "bench_net: no connection to the fake Server\n");
  g_connection.Close();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return status;
}

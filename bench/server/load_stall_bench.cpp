// Loading an effect while the show plays: six decks draw a small slide show
// through ALPHABLEND on llvmpipe while a 20-picture effect of 1920 x 1080
// JPEGs is loaded over the protocol. For each path it reports the median
// frame interval before the load (steady_ms), the longest frame interval
// while loading (longest_ms), and the time from the request to the status
// reply (ready_ms):
//
//   LoadStall/background   the load runs beside the show (loader thread,
//                          uploads sliced at 2 ms per frame)
//   LoadStall/synchronous  the whole load inside the request, as a
//                          fixed-rate run does
//
// Target for the background path: longest_ms <= 1.5 x steady_ms + 10.
// Wall time on the real clock; one load per repetition.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/core/core.h"
#include "bench/support/jpeg_out.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"
#include "render/layer.h"
#include "server/server.h"
#include "tests/support/support.h"

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool MakeSlideShow(const std::string& root, const std::string& folder, int count, uint32_t width, uint32_t height) {
  const std::string base = root + "/effects/" + folder + "/data";
  testing_support::MakeDirs(base + "/images");
  std::string names;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t p = 0; p < rgb.size(); ++p) rgb[p] = static_cast<uint8_t>((p * 7 + static_cast<size_t>(i) * 31) >> 4);
    const std::string name = core::FormatString("%02d", i);
    if (!bench_support::WriteJpeg(base + "/images/" + name + ".jpg", width, height, rgb)) return false;
    names += " " + name;
  }
  testing_support::WriteFile(base + "/script.txt", "FXINSTANCE SHOW IMAGE " + std::to_string(count) + " 0.5" + names +
                                                       "\nFXSTART SHOW\nSYNCTIME " + std::to_string(count) + "\n");
  return true;
}

struct Show {
  testing_support::TempDir dir;
  bool ok = false;
  Show() {
    ok = MakeSlideShow(dir.path(), "deck", 2, 512, 384) && MakeSlideShow(dir.path(), "show", 20, 1920, 1080);
  }
};

Show& TheShow() {
  static Show show;
  return show;
}

int32_t EffectIdOf(const char* name) {
  for (int id = 0; id < server::EffectCount(); ++id)
    if (net::RecordText(server::FindEffect(id)->name) == name) return id;
  return -1;
}

void LoadStall(benchmark::State& state, bool background) {
  Show& show = TheShow();
  if (!show.ok) {
    state.SkipWithError("cannot write the pictures");
    return;
  }
  fx::RegisterEffectClasses();
  core::StartFileLayer(show.dir.path(), "");
  fx::StartTiming();
  double steady = 0.0, longest = 0.0, ready = 0.0;
  int runs = 0;
  for (auto _ : state) {
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    options.background_loads = background;
    if (server::StartServer(options) != 0) {
      state.SkipWithError("the Server does not start");
      break;
    }
    core::MarkStartupFinished(true);
    net::Connection connection;
    net::Link link;
    if (connection.ConnectAndWait("127.0.0.1", server::ServerPort(), 5.0) != 0 ||
        net::AttachLink(&link, &connection) != 0 ||
        !testing_support::WaitUntil([] { server::ServerTick(); return server::ClientConnected(); }, 10.0)) {
      state.SkipWithError("no connection");
      break;
    }
    server::EffectEntry* deck_effect = server::FindEffect(EffectIdOf("DECK"));
    server::LoadEffect(deck_effect);
    for (int i = 0; i < server::kDeckCount; ++i) {
      server::Deck* deck = server::GetDeck(i);
      deck->record.effect_id = deck_effect->id;
      deck->record.mixer = 0;
      deck->record.fader = 0.8f;
    }
    auto tick = [] {
      render::SetGlobalTime(static_cast<float>(core::NowSeconds()));
      server::ServerTick();
    };
    std::vector<double> intervals;
    double last = NowMs();
    for (int frame = 0; frame < 40; ++frame) {
      tick();
      const double now = NowMs();
      if (frame >= 10) intervals.push_back(now - last);
      last = now;
    }
    std::sort(intervals.begin(), intervals.end());
    const double median = intervals[intervals.size() / 2];

    const int32_t id = EffectIdOf("SHOW");
    const double requested = NowMs();
    net::SendNetMessage(&link, net::LoadEffectMessage(id, true));
    double worst = 0.0;
    last = NowMs();
    bool done = false;
    while (!done && NowMs() - requested < 120000.0) {
      tick();
      const double now = NowMs();
      worst = std::max(worst, now - last);
      last = now;
      while (auto message = net::ReceiveNetMessage(&link))
        if (auto* status = net::MessageAs<net::EffectStatusMessage>(message.get()))
          done = done || (status->effect.id == id && status->effect.loaded);
    }
    steady += median;
    longest += worst;
    ready += NowMs() - requested;
    ++runs;
    link.Detach();
    connection.Close();
    server::ShutdownServer();
    core::MarkStartupFinished(false);
  }
  fx::StopTiming();
  core::StopFileLayer();
  if (runs > 0) {
    state.counters["steady_ms"] = steady / runs;
    state.counters["longest_ms"] = longest / runs;
    state.counters["ready_ms"] = ready / runs;
    state.counters["target_ms"] = 1.5 * steady / runs + 10.0;
  }
}

BENCHMARK_CAPTURE(LoadStall, background, true)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadStall, synchronous, false)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

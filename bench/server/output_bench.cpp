// What the venue output costs on llvmpipe, in one run: the median frame
// time of six ALPHABLEND decks (a slide show of 1024 x 768 pictures)
//
//   base_640_ms      --mix=512x512 onto the 640 x 480 output
//   hd_ms            --mix=auto at 1920 x 1080
//   hd_preview_ms    the same with a Client taking 10 previews a second
//   hd_record_ms     the same while recording (live: a full queue drops)
//
// and the added cost of the preview and of the recording against the run
// without (preview_added_pct, target <= 5; record_added_pct, target <= 15;
// the encoders run on other threads, at a lower priority than the show).
// record_dropped counts the frames the recording could not keep. Wall time
// on the real clock; three interleaved rounds, medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
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

bool MakeSlideShow(const std::string& root) {
  const std::string base = root + "/effects/slides/data";
  testing_support::MakeDirs(base + "/images");
  std::string names;
  for (int i = 0; i < 2; ++i) {
    const uint32_t width = 1024, height = 768;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t p = 0; p < rgb.size(); ++p) rgb[p] = static_cast<uint8_t>((p * 7 + static_cast<size_t>(i) * 31) >> 4);
    const std::string name = core::FormatString("%02d", i);
    if (!bench_support::WriteJpeg(base + "/images/" + name + ".jpg", width, height, rgb)) return false;
    names += " " + name;
  }
  testing_support::WriteFile(base + "/script.txt", "FXINSTANCE SHOW IMAGE 2 0.5" + names + "\nFXSTART SHOW\nSYNCTIME 2\n");
  return true;
}

struct Config {
  int output_width, output_height;
  int mix_width, mix_height;  // 0 x 0: auto
  bool preview;
  std::string record;
};

struct Result {
  double median_ms = -1.0;
  uint64_t previews = 0;
  uint64_t dropped = 0;
};

Result RunConfig(const Config& config) {
  Result result;
  server::ServerOptions options;
  options.headless = true;
  options.port = 0;
  options.bind_address = "127.0.0.1";
  options.vsync = false;
  options.output_width = config.output_width;
  options.output_height = config.output_height;
  options.output_size_given = true;
  options.mix_width = config.mix_width;
  options.mix_height = config.mix_height;
  options.record_file = config.record;
  if (server::StartServer(options) != 0) return result;
  core::MarkStartupFinished(true);
  net::Connection connection;
  net::Link link;
  if (connection.ConnectAndWait("127.0.0.1", server::ServerPort(), 5.0) != 0 ||
      net::AttachLink(&link, &connection) != 0 ||
      !testing_support::WaitUntil([] { server::ServerTick(); return server::ClientConnected(); }, 10.0)) {
    server::ShutdownServer();
    return result;
  }
  if (config.preview) net::SendNetMessage(&link, net::PreviewRequestMessage(10));
  server::EffectEntry* slides = server::FindEffect(0);
  server::LoadEffect(slides);
  for (int i = 0; i < server::kDeckCount; ++i) {
    server::Deck* deck = server::GetDeck(i);
    deck->record.effect_id = slides->id;
    deck->record.mixer = 0;
    deck->record.fader = 0.8f;
  }
  std::vector<double> frames;
  double last = NowMs();
  for (int frame = 0; frame < 40; ++frame) {
    render::SetGlobalTime(static_cast<float>(core::NowSeconds()));
    server::ServerTick();
    while (auto message = net::ReceiveNetMessage(&link)) {
    }
    const double now = NowMs();
    if (frame >= 10) frames.push_back(now - last);
    last = now;
  }
  std::sort(frames.begin(), frames.end());
  result.median_ms = frames[frames.size() / 2];
  result.previews = server::PreviewsSent();
  result.dropped = server::DroppedRecordFrames();
  link.Detach();
  connection.Close();
  server::ShutdownServer();
  core::MarkStartupFinished(false);
  return result;
}

void OutputCost(benchmark::State& state) {
  testing_support::TempDir dir;
  if (!MakeSlideShow(dir.path())) {
    state.SkipWithError("cannot write the pictures");
    return;
  }
  fx::RegisterEffectClasses();
  core::StartFileLayer(dir.path(), "");
  fx::StartTiming();
  // The four runs take turns, three rounds, so a slow spell of a shared
  // machine does not fall on one of them alone; each figure is the median
  // of its rounds.
  constexpr int kRounds = 3;
  std::vector<Result> runs[4];
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      runs[0].push_back(RunConfig({640, 480, 512, 512, false, ""}));
      runs[1].push_back(RunConfig({1920, 1080, 0, 0, false, ""}));
      runs[2].push_back(RunConfig({1920, 1080, 0, 0, true, ""}));
      runs[3].push_back(RunConfig({1920, 1080, 0, 0, false, dir / "bench.mkv"}));
    }
  }
  auto median = [](std::vector<Result> results) {
    std::sort(results.begin(), results.end(),
              [](const Result& a, const Result& b) { return a.median_ms < b.median_ms; });
    return results.empty() ? Result() : results[results.size() / 2];
  };
  const Result base = median(runs[0]), hd = median(runs[1]), preview = median(runs[2]), record = median(runs[3]);
  fx::StopTiming();
  core::StopFileLayer();
  if (base.median_ms < 0 || hd.median_ms < 0 || preview.median_ms < 0 || record.median_ms < 0) {
    state.SkipWithError("a configuration did not run");
    return;
  }
  state.counters["base_640_ms"] = base.median_ms;
  state.counters["hd_ms"] = hd.median_ms;
  state.counters["hd_preview_ms"] = preview.median_ms;
  state.counters["hd_record_ms"] = record.median_ms;
  state.counters["preview_added_pct"] = 100.0 * (preview.median_ms - hd.median_ms) / hd.median_ms;
  state.counters["record_added_pct"] = 100.0 * (record.median_ms - hd.median_ms) / hd.median_ms;
  state.counters["previews_sent"] = static_cast<double>(preview.previews);
  state.counters["record_dropped"] = static_cast<double>(record.dropped);
}

}  // namespace

BENCHMARK(OutputCost)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();

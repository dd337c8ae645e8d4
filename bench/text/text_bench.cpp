// Tag reader throughput on a generated scene-like text of about 10 MB:
// mostly mesh vertices (reals), faces (integers) and a few names.
//   build/bench/bench_text
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

#include "text/text.h"

namespace {

std::string MakeSceneText(size_t target_bytes) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
  std::string out = "<SCENE>\n";
  char line[128];
  int mesh = 0;
  while (out.size() < target_bytes) {
    out += "\t<MESH>\n\t\t<NAME>\n\t\t\t\"mesh" + std::to_string(mesh++) + "\"\n\t\t</NAME>\n";
    out += "\t\t<VERTICES>\n";
    for (int v = 0; v < 400; ++v) {
      std::snprintf(line, sizeof line, "\t\t\t%f %f %f %f %f %f %f %f\n", coordinate(rng),
                    coordinate(rng), coordinate(rng), coordinate(rng) / 100.0f,
                    coordinate(rng) / 100.0f, coordinate(rng) / 100.0f, coordinate(rng) / 200.0f + 0.5f,
                    coordinate(rng) / 200.0f + 0.5f);
      out += line;
    }
    out += "\t\t</VERTICES>\n\t\t<FACES>\n";
    for (int f = 0; f < 600; ++f) {
      std::snprintf(line, sizeof line, "\t\t\t%u %u %u\n", static_cast<unsigned>(rng() % 400),
                    static_cast<unsigned>(rng() % 400), static_cast<unsigned>(rng() % 400));
      out += line;
    }
    out += "\t\t</FACES>\n\t</MESH>\n";
  }
  out += "</SCENE>\n";
  return out;
}

const std::string& SceneText() {
  static const std::string text = MakeSceneText(10u << 20);
  return text;
}

void BM_ParseSceneText(benchmark::State& state) {
  const std::string& source = SceneText();
  for (auto _ : state) {
    text::TagDocument document;
    if (text::ParseTagText(&document, source.c_str()) != 0) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(text::RootNode(&document));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_ParseSceneText)->Unit(benchmark::kMillisecond);

void BM_LoadSceneFile(benchmark::State& state) {
  const std::string& source = SceneText();
  char folder[] = "/tmp/vj-bench-text-XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no temp folder");
    return;
  }
  std::string path = std::string(folder) + "/scene.txt";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(source.data(), 1, source.size(), file);
  std::fclose(file);
  core::StartFileLayer(folder);
  for (auto _ : state) {
    text::TagDocument document;
    if (text::LoadTagFile(&document, "scene.txt") != 0) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(text::RootNode(&document));
  }
  core::StopFileLayer();
  std::remove(path.c_str());
  rmdir(folder);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_LoadSceneFile)->Unit(benchmark::kMillisecond);

}  // namespace

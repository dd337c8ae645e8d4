// Load of the demo room through the 3DSCENE effect: compiling the scene
// text (the cache deleted first, as Reload does) against reading the
// cache, in one run, on the effect's own load path (no device: geometry
// and tracks, no materials, so the figures are the scene engine's alone).
//
// Usage: bench/bench_fx_scene_load [ROUNDS]   (default 15; medians)
// Prints both medians and the ratio cache / compile.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/scene_effect.h"
#include "scene/scene.h"

namespace {

double Median(std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

double SecondsOf(bool compile, const char* argument) {
  if (compile) scene::InvalidateSceneCache(argument);
  fx::SceneEffect effect;
  const auto start = std::chrono::steady_clock::now();
  const int result = effect.Load("BENCH", argument);
  const auto end = std::chrono::steady_clock::now();
  if (result != 0) {
    std::fprintf(stderr, "cannot load the demo room\n");
    std::exit(1);
  }
  return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  char folder[] = "/tmp/vj-scene-load-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string command =
      std::string("python3 '") + VJ_SOURCE_DIR + "/tools/make_demo_scene.py' '" + folder + "/data'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "cannot generate the demo room\n");
    return 1;
  }
  core::SetDialogsDisabled(true);
  core::StartFileLayer(folder);
  core::MarkStartupFinished(true);
  const char* argument = "ORBIT.TXT";

  SecondsOf(true, argument);  // warm the file cache and the allocator
  std::vector<double> compiled, cached;
  for (int i = 0; i < rounds; ++i) {
    compiled.push_back(SecondsOf(true, argument));
    cached.push_back(SecondsOf(false, argument));
  }
  const double c = Median(compiled), r = Median(cached);
  struct stat text {}, cache {};
  stat((std::string(folder) + "/data/scenes/room.txt").c_str(), &text);
  stat((std::string(folder) + "/data/scenesbin/ORBIT.HVX").c_str(), &cache);
  std::printf("demo room (%lld text bytes, %lld cache bytes), median of %d loads through the 3DSCENE effect:\n",
              static_cast<long long>(text.st_size), static_cast<long long>(cache.st_size), rounds);
  std::printf("  compile from the text  %8.3f ms\n", c * 1e3);
  std::printf("  read the cache         %8.3f ms\n", r * 1e3);
  std::printf("  ratio cache / compile  %8.3f (at most 0.2 wanted)\n", r / c);
  core::StopFileLayer();
  std::system((std::string("rm -rf '") + folder + "'").c_str());
  return r / c <= 0.2 ? 0 : 2;
}

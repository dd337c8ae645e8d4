// Per-frame cost of an effect script on one deck.
//
// The script has 1,000 statements: 20 instances, then blocks of starts,
// stops, commands and layer changes separated by SYNCTIMEs five seconds
// apart, the last at 1,000 s. At a late effect time every frame rewinds
// and walks nearly all of it.
//
//   ReplayWalk: Rewind + Step only (the script walk).
//   RenderDeck: the whole deck: rewind, walk, nine layer passes over the
//   started instances (which draw nothing).
#include <benchmark/benchmark.h>

#include <string>

#include "app/core/core.h"
#include "fx/effect.h"

namespace {

// Does what the base does, including the LAYER command.
class Idle final : public fx::FxInstance {
 public:
  const char* GetName() const override { return "IDLE"; }
  const char* GetDescription() const override { return "draws nothing"; }
};

fx::FxInstance* CreateIdle(const fx::FxClass&) { return fx::NewInstance<Idle>(); }
fx::FxClass g_idle("IDLE", "draws nothing", CreateIdle);

constexpr int kStatements = 1000;
constexpr int kInstances = 20;

std::string MakeScript() {
  std::string text = "// benchmark script\n";
  int count = 0;
  for (int i = 0; i < kInstances; ++i, ++count) text += "FXINSTANCE I" + std::to_string(i) + " IDLE\n";
  int second = 0;
  while (count < kStatements - 1) {
    for (int k = 0; k < 4 && count < kStatements - 1; ++k, ++count) {
      int who = (count * 7) % kInstances;
      std::string name = " I" + std::to_string(who);
      switch (count % 5) {
        case 0: text += "FXSTART" + name + "\n"; break;
        case 1: text += "FXCOMMAND" + name + " COLOR 1 0.5 0.25\n"; break;
        case 2: text += "FXLAYER" + name + " " + std::to_string(who % 12) + "\n"; break;
        case 3: text += "FXCOMMAND" + name + " LAYER " + std::to_string(who % 16) + "\n"; break;
        default: text += "FXSTOP" + name + "\n"; break;
      }
    }
    if (count < kStatements - 1) {
      second += 5;
      text += "SYNCTIME " + std::to_string(second) + "\n";
      ++count;
    }
  }
  text += "SYNCTIME 1000\n";
  return text;
}

struct Deck {
  Deck() {
    fx::RegisterFxClass(&g_idle);
    std::string text = MakeScript();
    ok = script.Open(text.c_str(), true) == 0 && script.InstantiateAll() == 0 &&
         script.Commands().size() == static_cast<size_t>(kStatements);
  }
  ~Deck() { fx::UnregisterFxClass(&g_idle); }
  fx::FxScript script;
  bool ok = false;
};

void BM_ReplayWalk(benchmark::State& state) {
  Deck deck;
  if (!deck.ok) {
    state.SkipWithError("script did not load");
    return;
  }
  const float late = static_cast<float>(state.range(0));
  for (auto _ : state) {
    fx::SetEffectTime(late);
    deck.script.Rewind();
    benchmark::DoNotOptimize(deck.script.Step());
  }
  state.counters["started"] = static_cast<double>(deck.script.Started().size());
}
BENCHMARK(BM_ReplayWalk)->Arg(999)->Arg(500)->Arg(10)->Unit(benchmark::kMicrosecond);

void BM_RenderDeck(benchmark::State& state) {
  Deck deck;
  if (!deck.ok) {
    state.SkipWithError("script did not load");
    return;
  }
  const float late = static_cast<float>(state.range(0));
  for (auto _ : state) {
    fx::SetEffectTime(late);
    benchmark::DoNotOptimize(deck.script.RenderDeck());
  }
  state.counters["started"] = static_cast<double>(deck.script.Started().size());
}
BENCHMARK(BM_RenderDeck)->Arg(999)->Unit(benchmark::kMicrosecond);

}  // namespace

// Polygonising the 64³ metaball grid: surface following from the balls
// against the straightforward way (the whole 65³ field, every cell, the
// same tables). Both must give the same triangle count.
//   build/bench/bench_metaballs --benchmark_min_time=0.5s
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "scene/metaballs.h"

namespace {

using scene::Vec3;

std::vector<Vec3> Layout(int count) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> d(8.0f, 56.0f);
  std::vector<Vec3> balls;
  for (int i = 0; i < count; ++i) balls.push_back(Vec3{d(rng), d(rng), d(rng)});
  return balls;
}

int Reference(const std::vector<Vec3>& balls, std::vector<float>* value, std::vector<Vec3>* normal) {
  constexpr int P = scene::kMetaballGrid + 1;
  for (int a = 0; a < P; ++a)
    for (int b = 0; b < P; ++b)
      for (int c = 0; c < P; ++c)
        scene::MetaballFieldAt(balls.data(), int(balls.size()), a, b, c, &(*value)[(a * P + b) * P + c],
                               &(*normal)[(a * P + b) * P + c]);
  render::RenderVertex vertices[12];
  uint16_t indices[15];
  int triangles = 0;
  for (int a = 0; a < scene::kMetaballGrid; ++a)
    for (int b = 0; b < scene::kMetaballGrid; ++b)
      for (int c = 0; c < scene::kMetaballGrid; ++c) {
        float v[8];
        Vec3 n[8];
        for (int i = 0; i < 8; ++i) {
          const int k = ((a + scene::kCellCorner[i][0]) * P + b + scene::kCellCorner[i][1]) * P + c +
                        scene::kCellCorner[i][2];
          v[i] = (*value)[k];
          n[i] = (*normal)[k];
        }
        uint32_t added = 0;
        triangles += scene::PolygoniseCell(a, b, c, v, n, vertices, indices, 0, &added);
      }
  return triangles;
}

int Follow(const std::vector<Vec3>& balls) {
  scene::ResetBalls();
  for (const Vec3& b : balls) scene::AddBall(b);
  return scene::PolygoniseMetaballs([](const render::RenderVertex*, uint32_t, const uint16_t*, uint32_t) {});
}

void BM_SurfaceFollowing(benchmark::State& state) {
  if (scene::InitMetaballs() != 0) {
    state.SkipWithError("no memory");
    return;
  }
  const std::vector<Vec3> balls = Layout(int(state.range(0)));
  int triangles = 0;
  for (auto _ : state) benchmark::DoNotOptimize(triangles = Follow(balls));
  std::vector<float> value(65 * 65 * 65);
  std::vector<Vec3> normal(65 * 65 * 65);
  if (triangles != Reference(balls, &value, &normal)) state.SkipWithError("triangle counts differ");
  state.counters["triangles"] = triangles;
  state.counters["field_evaluations"] = double(scene::MetaballFieldEvaluations());
}

void BM_WholeGrid(benchmark::State& state) {
  const std::vector<Vec3> balls = Layout(int(state.range(0)));
  std::vector<float> value(65 * 65 * 65);
  std::vector<Vec3> normal(65 * 65 * 65);
  int triangles = 0;
  for (auto _ : state) benchmark::DoNotOptimize(triangles = Reference(balls, &value, &normal));
  state.counters["triangles"] = triangles;
}

BENCHMARK(BM_SurfaceFollowing)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeGrid)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

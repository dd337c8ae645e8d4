// (a) Polygonising the 64³ metaball grid: surface following from the balls
// against the straightforward way (the whole 65³ field, every cell, the
// same tables). Both must give the same triangle count.
// (b) The METABALLS demo scene's frame at 640 x 480 on the headless device
// (llvmpipe), generated with 8 and with 64 balls, eight moments of its loop
// drawn in turn, each frame ending with glFinish. The reported time is the
// whole frame; counters split it: polygonise_ms (surface following alone,
// measured apart), transform_ms and upload_ms (the render queue filling and
// locking the shared buffers), stage_ms (the scene's whole metaball step:
// polygonising, queue, GL calls), finish_ms (waiting in glFinish).
// BM_DemoFrameStatic draws the same triangles from static buffers made
// before the run (no polygonising, no transform, no upload). `triangles`
// is the surface's mean per frame, `drawn` what reached the device.
//   build/bench/bench_metaballs --benchmark_min_time=0.5s
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"
#include "scene/draw.h"
#include "scene/metaballs.h"
#include "scene/procedural.h"
#include "scene/scene.h"

#ifndef VJ_SOURCE_DIR
#define VJ_SOURCE_DIR "."
#endif

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

// --- (b) the demo scene's frame -----------------------------------------------

constexpr int kWidth = 640, kHeight = 480;
constexpr int kMoments = 8;  // one frame per second of the 8 s loop

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct StaticBatch {
  int vertex_buffer = -1, index_buffer = -1;
  uint32_t vertex_count = 0;
  int32_t triangle_count = 0;
};

struct DemoScene {
  scene::Scene scene;
  std::vector<StaticBatch> batches[kMoments];
  double polygonise_seconds = 0.0;  // per frame, over the moments
  int triangles = 0;                // per frame, over the moments
};

// The device, the demo's materials and one scene per ball count, made once
// for the whole run (never torn down: the process ends with the run).
struct DemoWorld {
  bool ready = false;
  render::ShaderManager manager;
  render::ShaderHandle metal = -1;
  std::map<int, std::unique_ptr<DemoScene>> scenes;
  std::function<void(const scene::ProceduralDrawContext&)> stage;
};

DemoWorld* World() {
  static DemoWorld* world = nullptr;
  if (world) return world->ready ? world : nullptr;
  world = new DemoWorld;
  char folder[] = "/tmp/vj-metaball-bench-XXXXXX";
  if (!mkdtemp(folder)) return nullptr;
  const std::string data = std::string(folder) + "/data";
  const std::string tool = std::string("python3 '") + VJ_SOURCE_DIR + "/tools/make_metaball_demo.py' ";
  for (int balls : {8, 64}) {
    const std::string command = tool + "--balls " + std::to_string(balls) + " '" + data + "' && mv '" + data +
                                "/scenes/metaballs.txt' '" + data + "/scenes/balls" + std::to_string(balls) + ".txt'";
    if (std::system(command.c_str()) != 0) return nullptr;
  }
  core::SetDialogsDisabled(true);
  if (core::StartFileLayer(folder) != 0) return nullptr;
  core::MarkStartupFinished(true);
  if (render::InitDirect3DFrom(0, render::HeadlessAdapterInfo(), render::DisplayBackend::kHeadless) != 0 ||
      render::SelectDisplayMode(nullptr, kWidth, kHeight, 32, true, false, nullptr, "", false, false, false, false,
                                false) != 0 ||
      render::InitRenderLayer(nullptr) != 0 || render::InitShaderSystem() != 0 || world->manager.Init() != 0 ||
      world->manager.ParseShaderDirectory("data/shaders") != 0)
    return nullptr;
  render::ApplyDefaultStates();
  render::PushShaderManager(&world->manager);
  if (scene::InitMetaballs() != 0) return nullptr;
  scene::InstallProcedurals();
  DemoWorld* w = world;
  scene::SetMetaballStage([w](const scene::ProceduralDrawContext& ctx) { w->stage(ctx); });
  world->metal = world->manager.GetShader("METAL");
  for (int balls : {8, 64}) {
    auto demo = std::make_unique<DemoScene>();
    scene::LoadOptions options;
    options.shaders = &world->manager;
    if (scene::LoadScene(&demo->scene, ("balls" + std::to_string(balls) + ".txt").c_str(), options) != 0)
      return nullptr;
    world->scenes[balls] = std::move(demo);
  }
  // Everything is loaded (textures with the material, scenes and caches):
  // the generated folder goes.
  if (std::system((std::string("rm -rf '") + folder + "'").c_str()) != 0)
    std::fprintf(stderr, "could not remove %s\n", folder);
  world->ready = true;
  return world;
}

// One frame of the scene at `now`, ending with glFinish; adds the wait.
void DrawFrame(DemoScene* demo, double now, double* finish_seconds) {
  render::Device* device = render::GetDevice();
  render::DiscardDynamicBuffers();
  device->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, 0xFF000000u, 1.0f,
                0);
  device->BeginScene();
  scene::DrawRequest request;
  request.clear_colour = true;
  request.now = now;
  scene::Draw(&demo->scene, request);
  device->EndScene();
  const double start = Seconds();
  device->MakeCurrent();
  glFinish();
  *finish_seconds += Seconds() - start;
}

// Before the first run with these balls: for each moment, the triangles
// copied into static buffers and the time of polygonising them alone.
bool Capture(DemoWorld* world, DemoScene* demo) {
  if (demo->batches[0].size() > 0) return true;
  bool ok = true;
  double polygonise = 0.0;
  int triangles = 0;
  for (int m = 0; m < kMoments; ++m) {
    world->stage = [&](const scene::ProceduralDrawContext& ctx) {
      scene::DrawMetaballPlaceholders(ctx);  // sets the frame's balls
      constexpr int kRounds = 5;
      const double start = Seconds();
      for (int r = 0; r < kRounds; ++r)
        triangles += scene::PolygoniseMetaballs([](const render::RenderVertex*, uint32_t, const uint16_t*, uint32_t) {});
      polygonise += (Seconds() - start) / kRounds;
      scene::PolygoniseMetaballs([&](const render::RenderVertex* vertices, uint32_t vertex_count,
                                     const uint16_t* indices, uint32_t index_count) {
        StaticBatch batch;
        batch.vertex_count = vertex_count;
        batch.triangle_count = int32_t(index_count / 3);
        batch.vertex_buffer = render::AddVertexBuffer(uint32_t(vertex_count * sizeof(render::RenderVertex)), 0,
                                                      render::kFvfRenderVertex, render::POOL_MANAGED);
        batch.index_buffer =
            render::AddIndexBuffer(uint32_t(index_count * sizeof(uint16_t)), 0, render::FMT_INDEX16, render::POOL_MANAGED);
        auto vb = render::GetVertexBufferById(batch.vertex_buffer);
        auto ib = render::GetIndexBufferById(batch.index_buffer);
        void* data = nullptr;
        if (!vb || vb->Lock(0, 0, &data, 0) != 0 || !data) {
          ok = false;
          return;
        }
        std::memcpy(data, vertices, vertex_count * sizeof(render::RenderVertex));
        vb->Unlock();
        data = nullptr;
        if (!ib || ib->Lock(0, 0, &data, 0) != 0 || !data) {
          ok = false;
          return;
        }
        std::memcpy(data, indices, index_count * sizeof(uint16_t));
        ib->Unlock();
        demo->batches[m].push_back(batch);
      });
    };
    double unused = 0.0;
    DrawFrame(demo, double(m), &unused);
  }
  demo->polygonise_seconds = polygonise / kMoments;
  demo->triangles = triangles / (5 * kMoments);
  return ok;
}

void RunDemoFrame(benchmark::State& state, bool from_static) {
  DemoWorld* world = World();
  if (!world) {
    state.SkipWithError("no device or no demo scene");
    return;
  }
  DemoScene* demo = world->scenes[int(state.range(0))].get();
  if (!Capture(world, demo)) {
    state.SkipWithError("static buffers failed");
    return;
  }
  int moment = 0;
  double stage = 0.0, finish = 0.0;
  world->stage = [&](const scene::ProceduralDrawContext& ctx) {
    const double start = Seconds();
    if (from_static) {
      for (const StaticBatch& batch : demo->batches[moment]) {
        render::DrawItem item;
        item.vertex_buffer = batch.vertex_buffer;
        item.index_buffer = batch.index_buffer;
        item.vertex_count = batch.vertex_count;
        item.triangle_count = batch.triangle_count;
        item.shader = world->metal;
        if (render::SubmitDrawItem(&item) == 0) render::FlushRenderQueue();
      }
    } else {
      scene::DrawMetaballPlaceholders(ctx);
    }
    stage += Seconds() - start;
  };
  render::SetMaterialProfiling(true);
  render::ResetTrianglesDrawn();
  int64_t frames = 0;
  for (auto _ : state) {
    DrawFrame(demo, double(moment), &finish);
    moment = (moment + 1) % kMoments;
    ++frames;
  }
  const render::MaterialProfile profile = render::GetMaterialProfile();
  render::SetMaterialProfiling(false);
  const double n = double(frames > 0 ? frames : 1);
  state.counters["balls"] = double(state.range(0));
  state.counters["triangles"] = demo->triangles;
  // What reached the device per frame: the same for both ways.
  state.counters["drawn"] = double(render::TrianglesDrawn()) / n;
  state.counters["stage_ms"] = 1e3 * stage / n;
  state.counters["finish_ms"] = 1e3 * finish / n;
  if (!from_static) {
    state.counters["polygonise_ms"] = 1e3 * demo->polygonise_seconds;
    state.counters["transform_ms"] = 1e3 * profile.transform_seconds / n;
    state.counters["upload_ms"] = 1e3 * profile.buffer_seconds / n;
  }
}

void BM_DemoFrame(benchmark::State& state) { RunDemoFrame(state, false); }
void BM_DemoFrameStatic(benchmark::State& state) { RunDemoFrame(state, true); }

BENCHMARK(BM_SurfaceFollowing)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeGrid)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoFrame)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DemoFrameStatic)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

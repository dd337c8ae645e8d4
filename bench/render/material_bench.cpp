// The render queue: 10,000 small items (24 vertices, 12 triangles each)
// over 20 one-pass shaders, submitted and flushed once per frame through
// the dynamic path into a 256 x 256 target on the headless display device;
// each frame ends with glFinish. Counters: the share of the flush's own time
// spent sorting the buckets, transforming vertices (and copying indices)
// into the shared buffers, and locking/unlocking those buffers (the upload);
// the rest is states and draw calls.
//   build/bench/bench_material
// BM_FlushQueue draws runs of one shader in shared draws (the program's
// behaviour); BM_FlushQueueItemByItem draws each item on its own.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <random>
#include <string>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"

namespace {

using namespace render;

constexpr int kItems = 10000;
constexpr int kShaders = 20;
constexpr uint32_t kSide = 256;

struct Scene {
  std::vector<RenderVertex> vertices;  // one cube, shared by all items
  std::vector<uint16_t> indices;
  std::vector<DrawItem> items;
};

// A cube of side 0.02 around the origin: 6 faces of 4 vertices.
void BuildCube(Scene* scene) {
  const float s = 0.01f;
  const float faces[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int f = 0; f < 6; ++f) {
    const float* n = faces[f];
    // Two axes across the face.
    float u[3] = {n[1] != 0 || n[2] != 0 ? 1.0f : 0.0f, n[0] != 0 ? 1.0f : 0.0f, 0.0f};
    float v[3] = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
    uint16_t base = static_cast<uint16_t>(scene->vertices.size());
    for (int c = 0; c < 4; ++c) {
      float a = (c & 1) ? s : -s, b = (c & 2) ? s : -s;
      scene->vertices.push_back({n[0] * s + u[0] * a + v[0] * b, n[1] * s + u[1] * a + v[1] * b,
                                 n[2] * s + u[2] * a + v[2] * b, n[0], n[1], n[2],
                                 0xff000000u | static_cast<uint32_t>(0x203040 * (f + 1)), (c & 1) * 1.0f,
                                 (c >> 1) * 1.0f});
    }
    for (uint16_t i : {0, 1, 2, 2, 1, 3}) scene->indices.push_back(static_cast<uint16_t>(base + i));
  }
}

bool StartDisplay(ShaderManager* manager, std::vector<ShaderHandle>* shaders) {
  if (InitDirect3D(0, DisplayBackend::kHeadless) != 0 ||
      SelectDisplayMode(nullptr, kSide, kSide, 32, false, false, nullptr, "", false, false, false, false, false) != 0 ||
      InitRenderLayer(nullptr) != 0 || InitShaderSystem() != 0 || manager->Init() != 0)
    return false;
  PushShaderManager(manager);
  for (int i = 0; i < kShaders; ++i) {
    std::string name = "S" + std::to_string(i);
    std::string script = "<SHADER> <NAME> \"" + name +
                         "\" </NAME> <PASS> <COLOR> <OP> \"PO_SELECTARG1\" </OP> <ARG1> \"PA_DIFFUSE\" </ARG1>"
                         " </COLOR> <CULL> \"CULL_NONE\" </CULL> </PASS> </SHADER>";
    if (manager->ParseShaderText(script.c_str(), "bench") != 0) return false;
    shaders->push_back(manager->GetShader(name.c_str()));
  }
  return true;
}

void StopDisplay(ShaderManager* manager) {
  PopShaderManager();
  manager->Shutdown();
  ShutdownShaderSystem();
  ShutdownRenderLayer();
  ReleaseDevice();
  ReleaseDirect3D();
}

void RunFlush(benchmark::State& state, bool merge) {
  ShaderManager manager;
  std::vector<ShaderHandle> shaders;
  if (!StartDisplay(&manager, &shaders)) {
    state.SkipWithError("no device");
    return;
  }
  SetRenderQueueMerging(merge);
  Scene scene;
  BuildCube(&scene);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> position(-0.95f, 0.95f), depth(0.1f, 0.9f);
  scene.items.resize(kItems);
  for (int i = 0; i < kItems; ++i) {
    DrawItem& item = scene.items[static_cast<size_t>(i)];
    item.vertices = scene.vertices.data();
    item.indices = scene.indices.data();
    item.vertex_count = 24;
    item.triangle_count = 12;
    item.world.m[3][0] = position(random);
    item.world.m[3][1] = position(random);
    item.world.m[3][2] = depth(random);
    item.depth = item.world.m[3][2];
    item.shader = shaders[static_cast<size_t>(random() % kShaders)];
  }
  Device* device = GetDevice();
  SetMaterialProfiling(true);
  for (auto _ : state) {
    DiscardDynamicBuffers();
    device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
    for (const DrawItem& item : scene.items) SubmitDrawItem(&item);
    FlushRenderQueue();
    device->MakeCurrent();
    glFinish();
  }
  MaterialProfile profile = GetMaterialProfile();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kItems);
  if (profile.total_seconds > 0) {
    state.counters["sort_share"] = profile.sort_seconds / profile.total_seconds;
    state.counters["transform_share"] = profile.transform_seconds / profile.total_seconds;
    state.counters["buffer_share"] = profile.buffer_seconds / profile.total_seconds;
    state.counters["flush_ms"] = profile.total_seconds * 1000.0 / static_cast<double>(state.iterations());
  }
  SetMaterialProfiling(false);
  SetRenderQueueMerging(true);
  StopDisplay(&manager);
}

void BM_FlushQueue(benchmark::State& state) { RunFlush(state, true); }
void BM_FlushQueueItemByItem(benchmark::State& state) { RunFlush(state, false); }

BENCHMARK(BM_FlushQueue)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FlushQueueItemByItem)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

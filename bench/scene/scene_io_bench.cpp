// Scene I/O on a generated 200,000-triangle scene text (~15 MB): the bare
// tag parse, the full conversion (parse, validation, normals, welding,
// encoding) and the decode of the binary cache. Targets: conversion
// ≤ 3 × bare parse; decode ≥ 10 × faster than conversion.
//
//   build/bench/bench_scene
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "scene/scene.h"
#include "tests/scene/scene_text_writer.h"
#include "text/text.h"

namespace {

// Eight grid meshes of 112 × 112 quads (25,088 triangles each, 200,704 in
// all) on a wave, two materials by row, one smoothing value, with uvs and
// vertex colours.
std::string GenerateScene() {
  using scene_test::TagText;
  TagText t;
  t.Open("SCENE").Open("SCENEINFO").Int("FRAMERATE", 30).Reals("AMBIENT", {0.1f, 0.1f, 0.1f}).Close("SCENEINFO");
  t.Open("MATERIAL").Int("ID", 1).String("NAME", "Grass").Int("DIFFUSETEXTUREID", -1).Int("REFLECTIONTEXTUREID", -1);
  t.Reals("DIFFUSECOLOR", {0.2f, 0.8f, 0.3f}).Close("MATERIAL");
  t.Open("MATERIAL").Int("ID", 2).String("NAME", "Stone").Int("DIFFUSETEXTUREID", -1).Int("REFLECTIONTEXTUREID", -1);
  t.Reals("DIFFUSECOLOR", {0.5f, 0.5f, 0.5f}).Close("MATERIAL");
  const int n = 112;
  for (int mesh = 0; mesh < 8; ++mesh) {
    std::vector<float> vertices, uvs, colours;
    std::vector<int32_t> faces, colour_faces, smoothing, materials;
    for (int y = 0; y <= n; ++y)
      for (int x = 0; x <= n; ++x) {
        float fx = static_cast<float>(x) * 0.25f, fy = static_cast<float>(y) * 0.25f;
        vertices.insert(vertices.end(), {fx, fy, std::sin(fx * 0.7f + mesh) * std::cos(fy * 0.5f)});
        uvs.insert(uvs.end(), {static_cast<float>(x) / n, static_cast<float>(y) / n});
        if (x % 4 == 0 && y % 4 == 0) colours.insert(colours.end(), {0.5f, static_cast<float>(x) / n, 0.25f});
      }
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        int a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
        faces.insert(faces.end(), {a, b, d, a, d, c});
        int k = (y / 4) * (n / 4 + 1) + x / 4;  // a coarser colour grid
        colour_faces.insert(colour_faces.end(), {k, k, k, k, k, k});
        smoothing.insert(smoothing.end(), {1, 1});
        int m = (y / 8) % 2 + 1;
        materials.insert(materials.end(), {m, m});
      }
    t.Open("MESH").Int("ID", mesh + 1).String("NAME", "Ground" + std::to_string(mesh));
    t.Reals("POSITION", {static_cast<float>(mesh) * 30.0f, 0, 0}).Reals("ROTATION", {0, 0, 0, 1});
    t.Reals("PIVOTPOSITION", {0, 0, 0}).Reals("PIVOTROTATION", {0, 0, 0, 1});
    t.Open("MAXMESH").Reals("VERTICES", vertices).Reals("UVVERTICES", uvs).Reals("COLORVERTICES", colours);
    t.Open("FACES").Ints("VERTICESINDICES", faces).Ints("TVERTICESINDICES", faces).Ints("CVERTICESINDICES", colour_faces);
    t.Ints("SMOOTHINGGROUP", smoothing).Ints("MATERIALINDICES", materials).Close("FACES");
    t.Close("MAXMESH").Close("MESH");
  }
  t.Open("CAMERA").Int("ID", 100).String("NAME", "Camera01").Reals("POSITION", {0, -10, 5});
  t.Reals("ROTATION", {0, 0, 0, 1}).Reals("FOV", {60}).Reals("NEAR", {1}).Reals("FAR", {1000}).Close("CAMERA");
  t.Close("SCENE");
  return t.str();
}

struct Fixture {
  std::string folder;
  std::string text_path = "data/scenes/big.txt";
  std::string cache_path = "data/scenesbin/big.HVX";
  size_t text_bytes = 0, cache_bytes = 0, triangles = 0;
  Fixture() {
    char pattern[] = "/tmp/vj_scene_bench_XXXXXX";
    folder = mkdtemp(pattern);
    core::StartFileLayer(folder);
    core::MakeFolders("data/scenes");
    std::string text = GenerateScene();
    text_bytes = text.size();
    core::WriteWholeFileAtomic(text_path, text);
    scene::SceneFile data;
    if (scene::LoadSceneData("big.txt", &data) != 0) std::abort();
    for (const auto& m : data.meshes)
      for (const auto& e : m.elements) triangles += e.indices.size() / 3;
    std::string bytes;
    scene::ReadSceneFileBytes(cache_path.c_str(), &bytes);
    cache_bytes = bytes.size();
  }
  ~Fixture() {
    core::DeleteFile(text_path);
    core::DeleteFile(cache_path);
    rmdir((folder + "/data/scenesbin").c_str());
    rmdir((folder + "/data/scenes").c_str());
    rmdir((folder + "/data").c_str());
    rmdir(folder.c_str());
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void Counters(benchmark::State& state) {
  state.counters["text_MB"] = static_cast<double>(Shared().text_bytes) / 1e6;
  state.counters["cache_MB"] = static_cast<double>(Shared().cache_bytes) / 1e6;
  state.counters["triangles"] = static_cast<double>(Shared().triangles);
}

void BM_BareTagParse(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    text::TagDocument document;
    if (text::LoadTagFile(&document, f.text_path.c_str()) != 0) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(document.root);
  }
  Counters(state);
}

void BM_FullConversion(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    std::string bytes;
    if (scene::ConvertSceneTextToBytes(f.text_path.c_str(), &bytes) != 0) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(bytes.data());
  }
  Counters(state);
}

void BM_CacheDecode(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    std::string bytes;
    scene::SceneFile data;
    if (!scene::ReadSceneFileBytes(f.cache_path.c_str(), &bytes) ||
        scene::DecodeSceneBinary(bytes, &data) != scene::DecodeResult::kOk)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(data.meshes.data());
  }
  Counters(state);
}

BENCHMARK(BM_BareTagParse)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_FullConversion)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_CacheDecode)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

// The scene graph's per-frame work against its bare arithmetic, one run:
//  1. Scene::Evaluate of 2,000 tracked objects (250 chains of depth 8; the
//     tracks turn 3° per sample, as 30 fps animation does, so slerp mostly
//     takes its linear branch) against 2,000 quaternion-to-matrix
//     conversions and render::Multiply calls in a flat loop. Target ≤ 2.
//  2. Skinning a 20,000-vertex ribbon with two influences per vertex
//     against scene::TransformPoints of 40,000 points. Target ≤ 1.5 for
//     the position blend (40,000 weighted bone transforms against 40,000
//     point transforms); the whole skin step of Evaluate (bones, blend,
//     normals rebuilt from 20,000 triangles, bounds) is reported beside it.
// Each figure is the best of many repetitions.
//
//   build/bench/bench_scene_graph
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "scene/scene.h"
#include "scene/scene_internal.h"

namespace {

constexpr int kChains = 250, kDepth = 8;
constexpr int kRibbon = 10000;  // vertices per side: 20,000 in all

double BestSeconds(int repetitions, const std::function<void(int)>& body) {
  double best = 1e30;
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    body(r);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s < best) best = s;
  }
  return best;
}

scene::SceneFile Hierarchy() {
  scene::SceneFile f;
  f.cameras.resize(1);
  f.cameras[0].fov = 60.0f;
  for (int c = 0; c < kChains; ++c)
    for (int d = 0; d < kDepth; ++d) {
      scene::SceneMesh m;
      m.name = "N";
      m.parent = d == 0 ? -1 : static_cast<int32_t>(f.meshes.size() - 1);
      f.meshes.push_back(m);
      scene::PosRotTrack t;
      t.rate = 30.0f;
      for (int i = 0; i < 31; ++i) {
        const float a = (3.0f * i + c + d) * 3.14159265f / 180.0f;
        t.samples.push_back({{1.0f + 0.01f * i, 0.1f * d, 0.0f}, scene::QuatFromAxisAngle({0.0f, 0.6f, 0.8f}, a)});
      }
      f.pos_rot_tracks.push_back(t);
      f.pos_rot_owners.push_back({scene::OWNER_MESH, static_cast<int32_t>(f.meshes.size() - 1)});
    }
  return f;
}

scene::SceneFile Ribbon() {
  scene::SceneFile f;
  f.cameras.resize(1);
  f.cameras[0].fov = 60.0f;
  f.has_mesh_ids = true;
  for (int b = 0; b < 2; ++b) {
    scene::SceneMesh bone;
    bone.name = b == 0 ? "BONE1" : "BONE2";
    bone.position = {0.0f, 0.0f, 5.0f * b};
    f.meshes.push_back(bone);
    f.mesh_ids.push_back(b + 1);
    scene::PosRotTrack t;
    t.rate = 30.0f;
    for (int i = 0; i < 31; ++i)
      t.samples.push_back({{0.0f, 0.1f * i * b, 5.0f * b}, scene::QuatFromAxisAngle({0, 1, 0}, 0.05f * i * b)});
    f.pos_rot_tracks.push_back(t);
    f.pos_rot_owners.push_back({scene::OWNER_MESH, b});
  }
  scene::SceneMesh ribbon;
  ribbon.name = "RIBBON";
  scene::MeshElement e;
  e.vertices.resize(2 * kRibbon);
  e.skin.resize(2 * kRibbon);
  for (int i = 0; i < kRibbon; ++i)
    for (int side = 0; side < 2; ++side) {
      const float w = static_cast<float>(i) / (kRibbon - 1);
      e.skin[2 * i + side] = {{1, {static_cast<float>(side), 0.0f, 5.0f * w}, 1.0f - w},
                              {2, {static_cast<float>(side), 0.0f, 5.0f * (w - 1.0f)}, w}};
    }
  for (uint32_t i = 0; i + 1 < kRibbon; ++i) {
    const uint32_t a = 2 * i;
    e.indices.insert(e.indices.end(), {a, a + 1, a + 2, a + 1, a + 3, a + 2});
  }
  ribbon.elements.push_back(e);
  f.meshes.push_back(ribbon);
  f.mesh_ids.push_back(3);
  return f;
}

}  // namespace

int main() {
  scene::LoadOptions options;
  options.device_buffers = false;

  // 1. Hierarchy evaluation.
  scene::Scene graph;
  if (scene::LoadSceneBinary(&graph, Hierarchy(), options) != 0) return 1;
  const int objects = kChains * kDepth;
  const double evaluate = BestSeconds(200, [&](int r) { graph.Evaluate(1.0 + r * 0.0137); });
  std::vector<scene::Quat> rotations(objects);
  std::vector<scene::Vec3> positions(objects);
  std::vector<render::Matrix> worlds(objects);
  for (int i = 0; i < objects; ++i) {
    rotations[i] = scene::QuatFromAxisAngle({0.0f, 0.6f, 0.8f}, 0.001f * i);
    positions[i] = {1.0f, 0.1f * (i % kDepth), 0.0f};
  }
  const double flat = BestSeconds(200, [&](int) {
    for (int i = 0; i < objects; ++i) {
      const render::Matrix local = scene::WorldMatrix(rotations[i], positions[i]);
      worlds[i] = i % kDepth == 0 ? local : render::Multiply(local, worlds[i - 1]);
    }
  });

  // 2. Skinning.
  scene::Scene skinned;
  if (scene::LoadSceneBinary(&skinned, Ribbon(), options) != 0) return 1;
  skinned.Evaluate(0.0);
  scene::RenderElement* ribbon = &skinned.ObjectAt(2)->mesh.elements[0];
  if (!ribbon->drawable) return 1;
  const double blend = BestSeconds(200, [&](int) { scene::internal::SkinPositions(ribbon); });
  // The positions alone (the blend the point transform compares with), and
  // the whole Evaluate (bones, blend, normals, bounds).
  const double skin = BestSeconds(200, [&](int r) { skinned.Evaluate(0.5 + r * 0.01); });
  std::vector<scene::Vec3> points(2 * 2 * kRibbon), out(points.size());
  for (size_t i = 0; i < points.size(); ++i) points[i] = {0.001f * i, 1.0f, 2.0f};
  const render::Matrix m = scene::WorldMatrix(scene::QuatFromAxisAngle({0, 1, 0}, 0.3f), {1, 2, 3});
  const double transform = BestSeconds(200, [&](int) { scene::TransformPoints(points.data(), out.data(), points.size(), m); });

  std::printf("Evaluate, %d objects (depth %d, all tracked): %.1f us\n", objects, kDepth, evaluate * 1e6);
  std::printf("flat quaternion-to-matrix + render::Multiply x %d:  %.1f us\n", objects, flat * 1e6);
  std::printf("ratio %.2f (target <= 2)\n", evaluate / flat);
  std::printf("skinning %d vertices x 2 influences, positions: %.1f us\n", 2 * kRibbon, blend * 1e6);
  std::printf("TransformPoints x %zu:                          %.1f us\n", points.size(), transform * 1e6);
  std::printf("ratio %.2f (target <= 1.5)\n", blend / transform);
  std::printf("whole skin step with normals and bounds:         %.1f us (%.2f x the point transform)\n",
              skin * 1e6, skin / transform);
  std::printf("(check: %g %g)\n", worlds[objects - 1].m[3][0], out[points.size() - 1].x);
  return 0;
}

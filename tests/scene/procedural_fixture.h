// Scenes of placeholders built in code, loaded through the procedural
// factory without a device (geometry only), for the procedural objects'
// pure parts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/procedural.h"
#include "scene/procedural_internal.h"
#include "scene/scene.h"
#include "tests/scene/scene_fixture.h"

namespace procedural_test {

using scene::Quat;
using scene::Vec3;

inline scene::SceneMesh Placeholder(const std::string& name, Vec3 position = {}, Quat rotation = {}) {
  scene::SceneMesh m;
  m.name = name;
  m.position = position;
  m.rotation = rotation;
  scene::MeshElement e;
  e.vertices = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  e.indices = {0, 1, 2};
  m.elements.push_back(e);
  return m;
}

class ProceduralTest : public scene_test::SceneFolderTest {
 protected:
  void SetUp() override {
    SceneFolderTest::SetUp();
    scene::InstallProcedurals();
    scene::CameraRecord camera;
    camera.fov = 60.0f;
    camera.near_plane = 1.0f;
    camera.far_plane = 1000.0f;
    camera.name = "CAM";
    file_.cameras.push_back(camera);
    options_.device_buffers = false;
  }
  void TearDown() override {
    scene_.Clear();
    scene::SetProceduralFactory(nullptr);
    scene::SetProceduralDrawer(nullptr);
    scene::internal::SetParticleRandomSeam(nullptr);
    SceneFolderTest::TearDown();
  }
  void Load() { ASSERT_EQ(scene::LoadSceneBinary(&scene_, file_, options_), 0) << AllMessages(); }
  // A track moving mesh `mesh` along +X at one unit per second for 1000 s.
  void AddMovingTrack(int32_t mesh) {
    scene::PosRotTrack track;
    track.rate = 1.0f / 1000.0f;
    track.samples = {{{0, 0, 0}, {}}, {{1000, 0, 0}, {}}};
    file_.pos_rot_tracks.push_back(track);
    file_.pos_rot_owners.push_back({scene::OWNER_MESH, mesh});
  }
  template <typename T>
  T& Object(size_t i) {
    return static_cast<T&>(*scene_.procedurals.at(i));
  }

  scene::SceneFile file_;
  scene::LoadOptions options_;
  scene::Scene scene_;
};

}  // namespace procedural_test

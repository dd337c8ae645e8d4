// Test oracle: Mesa's own fixed-function pipeline (a compatibility-profile
// context on EGL surfaceless, beside the device's core context) draws the
// same scene as the device, so the device's generated lighting, fog, clip
// planes and texture-coordinate generation can be checked against an
// independent implementation.
//
// Typical use:
//   std::string error;
//   auto oracle = FfOracle::Create(&error);   // nullptr: error says why
//   OracleScene scene = ...;
//   std::vector<uint32_t> mesa, ours;
//   oracle->Draw(scene, &mesa);
//   DrawOnDevice(device, scene, &ours);
//   Agreement a = Compare(ours, mesa, scene.width, scene.height);
//
// Conventions: the GL modelview is World * View * diag(1, 1, -1) (GL's eye
// looks down -Z; lights, planes and the texture matrix go through the same
// flip) and the projection carries the device's clip transform (y flip,
// half-pixel shift, z to -w..w), so both rasterise the same triangles.
// Not here: spot lights and light ranges (GL's differ from Direct3D's).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/device.h"
#include "tests/render/lighting_util.h"

namespace render_test {

struct OracleScene {
  uint32_t width = 128, height = 128;
  render::Matrix world = render::Matrix::Identity(), view = render::Matrix::Identity(),
                 projection = render::Matrix::Identity();
  std::vector<LitVertex> vertices;  // triangle list
  // Lighting (point and directional lights only, ranges unbounded).
  bool lighting = false;
  std::vector<render::Light> lights;  // enabled as lights 0, 1, ...
  render::Material material;
  uint32_t ambient = 0;  // AMBIENT
  bool specular = false, local_viewer = false, normalize = false;
  bool color_vertex_diffuse = false;  // COLORVERTEX with the diffuse from colour 1, the rest material
  // Fog on screen-parallel geometry: per-vertex fog coordinates in GL
  // equal to the depth the device fogs by.
  render::FogMode fog = render::FOG_NONE;
  float fog_start = 0, fog_end = 1, fog_density = 0;
  uint32_t fog_color = 0;
  std::vector<float> fog_coords;  // one per vertex
  // User clip planes (world space).
  std::vector<std::array<float, 4>> planes;
  // Texture-coordinate generation into a cube map (six faces of edge
  // cube_edge, A8R8G8B8 texels): 0 none, 1 camera-space normal, 2
  // reflection vector (local viewer), through texture_matrix (COUNT3).
  int texgen = 0;
  render::Matrix texture_matrix = render::Matrix::Identity();
  uint32_t cube_edge = 0;
  std::array<std::vector<uint32_t>, 6> cube_faces;
};

class FfOracle {
 public:
  // nullptr when the compatibility context cannot be made (*error says why).
  static std::unique_ptr<FfOracle> Create(std::string* error);
  ~FfOracle();
  // Draws the scene; pixels as A8R8G8B8 words, row 0 at the top.
  int Draw(const OracleScene& scene, std::vector<uint32_t>* pixels);

 private:
  FfOracle() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The same scene through the device (into a fresh target of the scene's
// size with a depth buffer), read back.
int DrawOnDevice(render::Device* device, const OracleScene& scene, std::vector<uint32_t>* pixels);

struct Agreement {
  int interior = 0;            // pixels covered in both with all 8 neighbours covered in both
  int max_difference = 0;      // largest channel difference over interior pixels
  double mean_difference = 0;  // mean channel difference over interior pixels
  double coverage_mismatch = 0;  // fraction of pixels covered in one image only
  int covered = 0;
};
// Coverage is alpha != 0 (both clear to alpha 0 and draw opaque).
Agreement Compare(const std::vector<uint32_t>& ours, const std::vector<uint32_t>& mesa, uint32_t width,
                  uint32_t height);
// With VJ_TEST_ARTIFACTS=DIR: DIR/NAME.png, device | Mesa | difference x 8.
void WriteArtifact(const std::string& name, const std::vector<uint32_t>& ours, const std::vector<uint32_t>& mesa,
                   uint32_t width, uint32_t height);

}  // namespace render_test

// The vertex deformers on a hand-made unit sphere (clockwise front faces
// seen from outside) under a translating world matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "render/deformers.h"
#include "render/layer.h"

namespace {

using render::RenderVertex;

struct Mesh {
  std::vector<RenderVertex> vertices;
  std::vector<uint16_t> indices;
};

// Shared vertices only (one at each pole, no seam), so every vertex gets
// the faces all around it.
Mesh Sphere(int rings = 12, int segments = 16) {
  Mesh mesh;
  auto vertex = [&](float x, float y, float z, float u, float v) {
    mesh.vertices.push_back({x, y, z, x, y, z, 0xFF808080u, u, v});
  };
  vertex(0.0f, 1.0f, 0.0f, 0.5f, 0.0f);
  for (int i = 1; i < rings; ++i) {
    const float theta = 3.14159265f * static_cast<float>(i) / rings;
    for (int j = 0; j < segments; ++j) {
      const float phi = 6.2831853f * static_cast<float>(j) / segments;
      vertex(std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi),
             static_cast<float>(j) / segments, static_cast<float>(i) / rings);
    }
  }
  vertex(0.0f, -1.0f, 0.0f, 0.5f, 1.0f);
  auto add = [&](int a, int b, int c) {
    const RenderVertex &pa = mesh.vertices[a], &pb = mesh.vertices[b], &pc = mesh.vertices[c];
    const float e1[3] = {pb.x - pa.x, pb.y - pa.y, pb.z - pa.z}, e2[3] = {pc.x - pa.x, pc.y - pa.y, pc.z - pa.z};
    const float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    // Front faces (clockwise on screen in the device's left-handed space)
    // have e1 x e2 pointing at the viewer: outwards here.
    const float outward = n[0] * (pa.x + pb.x + pc.x) + n[1] * (pa.y + pb.y + pc.y) + n[2] * (pa.z + pb.z + pc.z);
    if (outward > 0) mesh.indices.insert(mesh.indices.end(), {uint16_t(a), uint16_t(b), uint16_t(c)});
    else mesh.indices.insert(mesh.indices.end(), {uint16_t(a), uint16_t(c), uint16_t(b)});
  };
  auto ring = [&](int i, int j) { return 1 + (i - 1) * segments + (j % segments); };
  const int bottom = static_cast<int>(mesh.vertices.size()) - 1;
  for (int j = 0; j < segments; ++j) {
    add(0, ring(1, j), ring(1, j + 1));
    add(bottom, ring(rings - 1, j), ring(rings - 1, j + 1));
    for (int i = 1; i + 1 < rings; ++i) {
      add(ring(i, j), ring(i, j + 1), ring(i + 1, j + 1));
      add(ring(i, j), ring(i + 1, j + 1), ring(i + 1, j));
    }
  }
  return mesh;
}

render::Matrix Translation(float x, float y, float z) {
  render::Matrix m = render::Matrix::Identity();
  m.m[3][0] = x;
  m.m[3][1] = y;
  m.m[3][2] = z;
  return m;
}

std::vector<RenderVertex> Deform(render::VertexGenerator& generator, const Mesh& mesh, const render::Matrix& world) {
  std::vector<RenderVertex> out(mesh.vertices.size());
  generator.Generate(out.data(), mesh.vertices.data(), static_cast<uint32_t>(mesh.vertices.size()),
                     mesh.indices.data(), static_cast<uint32_t>(mesh.indices.size()), world);
  return out;
}

class DeformerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    render::RestartDeformers();
    render::SetEffectTime(1.25f);
  }
  void TearDown() override {
    render::RestartDeformers();
    render::SetEffectTime(0.0f);
  }
  const Mesh mesh_ = Sphere();
  const render::Matrix world_ = Translation(3.0f, -2.0f, 5.0f);
};

TEST_F(DeformerTest, NoiseWithoutScalesKeepsPositionsAndRebuildsOutwardNormals) {
  render::NoiseDeformer& noise = render::SharedNoiseDeformer();
  noise.SetFade(true, 0.0f, 0.0f);  // finished rising: f = 1
  const std::vector<RenderVertex> out = Deform(noise, mesh_, world_);
  for (size_t i = 0; i < out.size(); ++i) {
    const RenderVertex& v = mesh_.vertices[i];
    EXPECT_FLOAT_EQ(out[i].x, v.x + 3.0f);
    EXPECT_FLOAT_EQ(out[i].y, v.y - 2.0f);
    EXPECT_FLOAT_EQ(out[i].z, v.z + 5.0f);
    // The true normal of a unit sphere is the position itself.
    EXPECT_NEAR(out[i].nx, v.x, 0.05) << i;
    EXPECT_NEAR(out[i].ny, v.y, 0.05) << i;
    EXPECT_NEAR(out[i].nz, v.z, 0.05) << i;
    EXPECT_EQ(out[i].diffuse, v.diffuse);
    EXPECT_EQ(out[i].u, v.u);
  }
}

TEST_F(DeformerTest, NoiseMovesByItsWavesAndAtZeroOnlyTransforms) {
  render::NoiseDeformer& noise = render::SharedNoiseDeformer();
  noise.SetParameters(0.3f, 0.2f, 0.1f, 2.0f, 3.0f);
  noise.SetFade(true, 0.25f, 2.0f);  // half-way at 1.25
  std::vector<RenderVertex> out = Deform(noise, mesh_, world_);
  const float f = 0.5f, m = 3.0f * 1.25f;
  for (size_t i = 0; i < out.size(); i += 7) {
    const RenderVertex& v = mesh_.vertices[i];
    EXPECT_NEAR(out[i].x, v.x + f * 0.3f * std::sin(m + 2.0f * (v.x + v.y + v.z)) + 3.0f, 1e-5);
    EXPECT_NEAR(out[i].y, v.y + f * 0.2f * std::sin(m + 2.0f * (v.x * v.y + v.z)) - 2.0f, 1e-5);
    EXPECT_NEAR(out[i].z, v.z + f * 0.1f * std::sin(m + 2.0f * v.x * v.y * v.z) + 5.0f, 1e-5);
  }
  noise.SetFade(false, 0.0f, 1.0f);  // finished falling: f = 0
  out = Deform(noise, mesh_, world_);
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_FLOAT_EQ(out[i].x, mesh_.vertices[i].x + 3.0f);
    EXPECT_FLOAT_EQ(out[i].nz, mesh_.vertices[i].nz);
  }
}

TEST_F(DeformerTest, NormalPushesFollowTheirFormulas) {
  const std::vector<RenderVertex> pushed = Deform(render::SharedNoiseNormalDeformer(), mesh_, world_);
  const std::vector<RenderVertex> twisted = Deform(render::SharedTwistDeformer(), mesh_, world_);
  for (size_t i = 0; i < mesh_.vertices.size(); ++i) {
    const RenderVertex& v = mesh_.vertices[i];
    const float s = 2.0f * std::sin(6.0f * 1.25f + 0.2f * (v.x + v.y + v.z));
    EXPECT_NEAR(pushed[i].x, v.x + s * v.nx + 3.0f, 1e-5);
    EXPECT_NEAR(pushed[i].y, v.y + s * v.ny - 2.0f, 1e-5);
    EXPECT_NEAR(pushed[i].z, v.z + s * v.nz + 5.0f, 1e-5);
    EXPECT_EQ(pushed[i].nx, v.nx);
    const float phase = render::DeformerPhase(static_cast<int>(i % render::kDeformerPhases));
    const float t = 2.0f * std::sin(4.0f * 1.25f + 6.28f * phase);
    EXPECT_NEAR(twisted[i].y, v.y + t * v.ny - 2.0f, 1e-5);
  }
}

TEST_F(DeformerTest, TwistPhasesRepeatAtEveryStart) {
  const std::vector<RenderVertex> first = Deform(render::SharedTwistDeformer(), mesh_, world_);
  render::RestartDeformers();
  const std::vector<RenderVertex> second = Deform(render::SharedTwistDeformer(), mesh_, world_);
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].x, second[i].x);
  bool varied = false;
  for (int i = 0; i < render::kDeformerPhases; ++i) {
    EXPECT_GE(render::DeformerPhase(i), 0.0f);
    EXPECT_LE(render::DeformerPhase(i), 1.0f);
    varied = varied || render::DeformerPhase(i) != render::DeformerPhase(0);
  }
  EXPECT_TRUE(varied);
}

TEST_F(DeformerTest, TrianglesNamingMissingVerticesAreSkipped) {
  Mesh mesh = mesh_;
  const size_t good = mesh.indices.size();
  mesh.indices.insert(mesh.indices.end(), {0, 1, static_cast<uint16_t>(mesh.vertices.size())});
  mesh.indices.insert(mesh.indices.end(), {65535, 2, 3});
  render::NoiseDeformer& noise = render::SharedNoiseDeformer();
  noise.SetFade(true, 0.0f, 0.0f);
  const std::vector<RenderVertex> out = Deform(noise, mesh, world_);
  mesh.indices.resize(good);
  const std::vector<RenderVertex> clean = Deform(noise, mesh, world_);
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].nx, clean[i].nx);
}

}  // namespace

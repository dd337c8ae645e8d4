// The three vertex deformers a material can borrow as its vertex generator
// (the FILTER effect's "SHADER" command attaches them): NOISE waves the
// positions and rebuilds the normals, NOISENORMAL and TWIST push every
// vertex along its own normal. One of each for the whole program; each
// reads the effect time when it draws.
//
// Typical use:
//   render::NoiseDeformer& noise = render::SharedNoiseDeformer();
//   noise.SetFade(true, start, duration); noise.SetParameters(sx, sy, sz, w, v);
//   shader->vertex_generator = &noise;
#pragma once

#include <cstdint>

#include "render/layer.h"
#include "render/materials.h"

namespace render {

inline constexpr int kDeformerPhases = 64;

// Moves every position (x, y, z) by f * (Sx sin(m + w (x + y + z)),
// Sy sin(m + w (x y + z)), Sz sin(m + w x y z)), m = v * time, f the
// linear fade's value at the effect time; rebuilds the normals from the
// triangles (outward for clockwise front faces); then applies the world
// matrix. With f = 0 the vertices are only transformed. Triangles naming a
// vertex past the count are skipped.
class NoiseDeformer final : public VertexGenerator {
 public:
  // Rising (0 to 1) or falling over `duration` seconds from `start`;
  // duration <= 0 is finished at once.
  void SetFade(bool rising, float start, float duration);
  void SetParameters(float scale_x, float scale_y, float scale_z, float space_frequency, float time_frequency);
  // Scales and space frequency 0, time frequency 1, a finished rising fade.
  void Restart();
  // The fade's value at `time`.
  float FadeValue(float time) const;
  void Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                const uint16_t* indices, uint32_t index_count, const Matrix& world) override;

 private:
  bool rising_ = true;
  float start_ = 0.0f, duration_ = 0.0f;
  float scale_[3] = {};
  float space_frequency_ = 0.0f, time_frequency_ = 1.0f;
};

// s = 2 sin(6 t + 0.2 (x + y + z)) along the normal, then the world matrix.
class NoiseNormalDeformer final : public VertexGenerator {
 public:
  void Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                const uint16_t* indices, uint32_t index_count, const Matrix& world) override;
};

// Vertex i: s = 2 sin(4 t + 6.28 phase[i mod 64]) along the normal, then the
// world matrix.
class TwistDeformer final : public VertexGenerator {
 public:
  void Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                const uint16_t* indices, uint32_t index_count, const Matrix& world) override;
};

NoiseDeformer& SharedNoiseDeformer();
NoiseNormalDeformer& SharedNoiseNormalDeformer();
TwistDeformer& SharedTwistDeformer();

// Draws the 64 twist phases (0 .. 1) again from a fixed seed, so every
// start gives the same ones and renders repeat, and restarts the noise
// deformer. Every material manager start calls it.
void RestartDeformers();
// Phase i (0 .. 63) of the twist.
float DeformerPhase(int index);

}  // namespace render

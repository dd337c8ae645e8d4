// The vertex deformers. They run inside the render queue's dynamic path,
// once per draw item, writing straight into the locked shared vertex
// buffer; they allocate nothing but one scratch array for the rebuilt
// normals, kept between calls.
#include "render/deformers.h"

#include <cmath>
#include <random>
#include <vector>

namespace render {
namespace {

NoiseDeformer g_noise;
NoiseNormalDeformer g_noise_normal;
TwistDeformer g_twist;
float g_phases[kDeformerPhases] = {};
bool g_phases_drawn = false;

// Any fixed seed: the phases only need to be the same at every start.
constexpr uint32_t kPhaseSeed = 0x5EED2u;

void DrawPhases() {
  std::minstd_rand generator(kPhaseSeed);
  for (float& phase : g_phases)
    phase = static_cast<float>(generator() - generator.min()) / static_cast<float>(generator.max() - generator.min());
  g_phases_drawn = true;
}

// Position (row vector, with translation) and normal (3 x 3 part) through
// `world`.
void Transform(const Matrix& world, float x, float y, float z, float nx, float ny, float nz, RenderVertex* out) {
  const float(*m)[4] = world.m;
  out->x = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
  out->y = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
  out->z = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
  out->nx = nx * m[0][0] + ny * m[1][0] + nz * m[2][0];
  out->ny = nx * m[0][1] + ny * m[1][1] + nz * m[2][1];
  out->nz = nx * m[0][2] + ny * m[1][2] + nz * m[2][2];
}

// Every vertex moved along its own normal by offset(i, vertex), then
// transformed.
template <class Offset>
void PushAlongNormals(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                      const Matrix& world, Offset offset) {
  for (uint32_t i = 0; i < vertex_count; ++i) {
    const RenderVertex& v = source[i];
    const float s = offset(i, v);
    RenderVertex out = v;
    Transform(world, v.x + s * v.nx, v.y + s * v.ny, v.z + s * v.nz, v.nx, v.ny, v.nz, &out);
    destination[i] = out;
  }
}

}  // namespace

void NoiseDeformer::SetFade(bool rising, float start, float duration) {
  rising_ = rising;
  start_ = start;
  duration_ = duration;
}

void NoiseDeformer::SetParameters(float scale_x, float scale_y, float scale_z, float space_frequency,
                                  float time_frequency) {
  scale_[0] = scale_x;
  scale_[1] = scale_y;
  scale_[2] = scale_z;
  space_frequency_ = space_frequency;
  time_frequency_ = time_frequency;
}

void NoiseDeformer::Restart() {
  SetFade(true, 0.0f, 0.0f);
  SetParameters(0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
}

float NoiseDeformer::FadeValue(float time) const {
  if (!(duration_ > 0.0f) || !(time < start_ + duration_)) return rising_ ? 1.0f : 0.0f;
  float value = (time - start_) / duration_;
  value = value < 0.0f ? 0.0f : value;
  return rising_ ? value : 1.0f - value;
}

void NoiseDeformer::Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                             const uint16_t* indices, uint32_t index_count, const Matrix& world) {
  const float t = EffectTime();
  const float f = FadeValue(t);
  if (f == 0.0f) {
    PushAlongNormals(destination, source, vertex_count, world, [](uint32_t, const RenderVertex&) { return 0.0f; });
    return;
  }
  const float m = time_frequency_ * t, w = space_frequency_;
  // Moved positions first (the destination holds them untransformed).
  for (uint32_t i = 0; i < vertex_count; ++i) {
    const RenderVertex& v = source[i];
    RenderVertex& out = destination[i];
    out = v;
    out.x = v.x + f * scale_[0] * std::sin(m + w * (v.x + v.y + v.z));
    out.y = v.y + f * scale_[1] * std::sin(m + w * (v.x * v.y + v.z));
    out.z = v.z + f * scale_[2] * std::sin(m + w * v.x * v.y * v.z);
  }
  static std::vector<float> normals;
  normals.assign(static_cast<size_t>(vertex_count) * 3, 0.0f);
  for (uint32_t k = 0; k + 2 < index_count; k += 3) {
    const uint32_t a = indices[k], b = indices[k + 1], c = indices[k + 2];
    if (a >= vertex_count || b >= vertex_count || c >= vertex_count) continue;
    const RenderVertex &pa = destination[a], &pb = destination[b], &pc = destination[c];
    const float e1x = pb.x - pa.x, e1y = pb.y - pa.y, e1z = pb.z - pa.z;
    const float e2x = pc.x - pa.x, e2y = pc.y - pa.y, e2z = pc.z - pa.z;
    // e1 x e2: outward for the device's clockwise front faces.
    const float nx = e1y * e2z - e1z * e2y, ny = e1z * e2x - e1x * e2z, nz = e1x * e2y - e1y * e2x;
    for (uint32_t vertex : {a, b, c}) {
      normals[vertex * 3] += nx;
      normals[vertex * 3 + 1] += ny;
      normals[vertex * 3 + 2] += nz;
    }
  }
  for (uint32_t i = 0; i < vertex_count; ++i) {
    float nx = normals[i * 3], ny = normals[i * 3 + 1], nz = normals[i * 3 + 2];
    const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (length > 0.0f) {
      nx /= length;
      ny /= length;
      nz /= length;
    }
    RenderVertex& out = destination[i];
    Transform(world, out.x, out.y, out.z, nx, ny, nz, &out);
  }
}

void NoiseNormalDeformer::Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                                   const uint16_t*, uint32_t, const Matrix& world) {
  const float t = EffectTime();
  PushAlongNormals(destination, source, vertex_count, world, [t](uint32_t, const RenderVertex& v) {
    return 2.0f * std::sin(6.0f * t + 0.2f * (v.x + v.y + v.z));
  });
}

void TwistDeformer::Generate(RenderVertex* destination, const RenderVertex* source, uint32_t vertex_count,
                             const uint16_t*, uint32_t, const Matrix& world) {
  if (!g_phases_drawn) DrawPhases();
  const float t = EffectTime();
  PushAlongNormals(destination, source, vertex_count, world, [t](uint32_t i, const RenderVertex&) {
    return 2.0f * std::sin(4.0f * t + 6.28f * g_phases[i % kDeformerPhases]);
  });
}

NoiseDeformer& SharedNoiseDeformer() { return g_noise; }
NoiseNormalDeformer& SharedNoiseNormalDeformer() { return g_noise_normal; }
TwistDeformer& SharedTwistDeformer() { return g_twist; }

void RestartDeformers() {
  DrawPhases();
  g_noise.Restart();
}

float DeformerPhase(int index) {
  if (!g_phases_drawn) DrawPhases();
  return index >= 0 && index < kDeformerPhases ? g_phases[index] : 0.0f;
}

}  // namespace render

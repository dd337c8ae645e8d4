// Helpers for the 3-D device tests: matrices, lit vertices, quads in world
// space and the expected 8-bit value of a colour worked out by hand.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "render/device.h"
#include "render/values.h"
#include "tests/render/render_test_util.h"

namespace render_test {

struct LitVertex {  // FVF_XYZ | FVF_NORMAL | FVF_DIFFUSE | FVF_SPECULAR | FVF_TEX1, 40 bytes
  float x, y, z;
  float nx, ny, nz;
  uint32_t diffuse, specular;
  float u, v;
};
inline constexpr uint32_t kFvfLit =
    render::FVF_XYZ | render::FVF_NORMAL | render::FVF_DIFFUSE | render::FVF_SPECULAR | render::FVF_TEX1;

inline render::Matrix Translation(float x, float y, float z) {
  render::Matrix m = render::Matrix::Identity();
  m.m[3][0] = x;
  m.m[3][1] = y;
  m.m[3][2] = z;
  return m;
}
inline render::Matrix Scaling(float s) {
  render::Matrix m = render::Matrix::Identity();
  m.m[0][0] = m.m[1][1] = m.m[2][2] = s;
  return m;
}
inline render::Matrix RotationY(float a) {
  render::Matrix m = render::Matrix::Identity();
  m.m[0][0] = std::cos(a);
  m.m[0][2] = -std::sin(a);
  m.m[2][0] = std::sin(a);
  m.m[2][2] = std::cos(a);
  return m;
}
inline render::Matrix RotationX(float a) {
  render::Matrix m = render::Matrix::Identity();
  m.m[1][1] = std::cos(a);
  m.m[1][2] = std::sin(a);
  m.m[2][1] = -std::sin(a);
  m.m[2][2] = std::cos(a);
  return m;
}
inline render::Matrix Transpose(const render::Matrix& a) {
  render::Matrix m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m.m[i][j] = a.m[j][i];
  return m;
}
// Direct3D's left-handed orthographic projection of [-h, h]^2 and z in
// [0, depth] (depth buffer z = camera z / depth).
inline render::Matrix Ortho(float h, float depth) {
  render::Matrix m = render::Matrix::Identity();
  m.m[0][0] = m.m[1][1] = 1.0f / h;
  m.m[2][2] = 1.0f / depth;
  return m;
}
// Direct3D's PerspectiveFovLH.
inline render::Matrix Perspective(float fov, float zn, float zf) {
  render::Matrix m{};
  float s = 1.0f / std::tan(fov * 0.5f);
  float q = zf / (zf - zn);
  m.m[0][0] = m.m[1][1] = s;
  m.m[2][2] = q;
  m.m[2][3] = 1.0f;
  m.m[3][2] = -zn * q;
  return m;
}
// v M for a point (w = 1), all four elements.
inline void TransformPoint(const float v[3], const render::Matrix& m, double out[4]) {
  for (int j = 0; j < 4; ++j) out[j] = v[0] * m.m[0][j] + v[1] * m.m[1][j] + v[2] * m.m[2][j] + m.m[3][j];
}

// 0..1 to the 8-bit value GL writes.
inline uint32_t Byte(double v) {
  v = v < 0 ? 0 : v > 1 ? 1 : v;
  return static_cast<uint32_t>(std::lround(v * 255.0));
}
inline uint32_t Rgb(double r, double g, double b) { return render::ColorArgb(0, Byte(r), Byte(g), Byte(b)); }
// Compares r, g, b only (targets drawn here keep alpha as it comes).
inline bool RgbNear(uint32_t a, uint32_t b, int tolerance) { return Near(a & 0xffffff, b & 0xffffff, tolerance); }

inline render::Light DirectionalLight(render::ColorValue diffuse, render::Vector direction) {
  render::Light light;
  light.type = render::LIGHT_DIRECTIONAL;
  light.diffuse = diffuse;
  light.direction = direction;
  return light;
}
inline render::Light PointLight(render::ColorValue diffuse, render::Vector position, float a0, float a1, float a2,
                                float range) {
  render::Light light;
  light.type = render::LIGHT_POINT;
  light.diffuse = diffuse;
  light.position = position;
  light.attenuation0 = a0;
  light.attenuation1 = a1;
  light.attenuation2 = a2;
  light.range = range;
  return light;
}

// The square (-h..h)^2 at world z, all vertices with one normal and
// colours, as a triangle list of two triangles.
inline std::vector<LitVertex> Square(float h, float z, float nx, float ny, float nz, uint32_t diffuse = 0xffffffff,
                                     uint32_t specular = 0xffffffff, float u = 0.0f, float v = 0.0f) {
  LitVertex a{-h, -h, z, nx, ny, nz, diffuse, specular, u, v};
  LitVertex b{h, -h, z, nx, ny, nz, diffuse, specular, u, v};
  LitVertex c{h, h, z, nx, ny, nz, diffuse, specular, u, v};
  LitVertex d{-h, h, z, nx, ny, nz, diffuse, specular, u, v};
  return {a, b, c, a, c, d};
}

// Draws lit vertices (a triangle list) in the given vertex format: the
// fields the format lacks are dropped from the stream.
inline int DrawLit(render::Device* device, const std::vector<LitVertex>& vertices, uint32_t fvf = kFvfLit) {
  std::vector<uint8_t> bytes;
  for (const LitVertex& v : vertices) {
    auto put = [&](const void* p, size_t n) {
      const uint8_t* b = static_cast<const uint8_t*>(p);
      bytes.insert(bytes.end(), b, b + n);
    };
    put(&v.x, 12);
    if (fvf & render::FVF_NORMAL) put(&v.nx, 12);
    if (fvf & render::FVF_DIFFUSE) put(&v.diffuse, 4);
    if (fvf & render::FVF_SPECULAR) put(&v.specular, 4);
    if (fvf & render::FVF_TEXCOUNT_MASK) {
      // Set 0 with 1 to 4 floats: u, v, then 0.5 for the rest.
      static const int kFloats[4] = {2, 3, 4, 1};
      const float uvw[4] = {v.u, v.v, 0.5f, 0.5f};
      put(uvw, 4 * kFloats[(fvf >> 16) & 3]);
    }
  }
  device->SetFVF(fvf);
  return device->DrawPrimitiveUP(render::PT_TRIANGLELIST, static_cast<uint32_t>(vertices.size() / 3), bytes.data(),
                                 render::FvfVertexSize(fvf));
}

// A fixture drawing with the 3-D states: a 64 x 64 target, orthographic
// camera over [-2, 2]^2 looking along +Z (depth = z / 10), identity world
// and view, stage 0 passing the diffuse colour, no culling, no depth test.
class Device3dTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    UseTarget(64, 64, render::FMT_X8R8G8B8);
    DiffuseOnly();
    device_->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
    device_->SetTransform(render::TS_PROJECTION, Ortho(2.0f, 10.0f));
  }
  // The pixel at the centre of the target.
  uint32_t Centre() { return ReadTarget(device_)[32 * 64 + 32]; }
  static render::Material MakeMaterial(render::ColorValue diffuse, render::ColorValue ambient,
                                       render::ColorValue specular = {}, render::ColorValue emissive = {},
                                       float power = 0.0f) {
    render::Material m;
    m.diffuse = diffuse;
    m.ambient = ambient;
    m.specular = specular;
    m.emissive = emissive;
    m.power = power;
    return m;
  }
};

}  // namespace render_test

// Procedural surfaces drawn as render-queue items: spherical morphs and
// distort balls (vertices in memory, world = the placeholder's pose at the
// animation time).
//
// The seven spherical shapes are sampled once per program; each now gives
// one blended array that every spherical of the scene shares.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "render/layer.h"
#include "render/materials.h"
#include "scene/procedural_internal.h"

namespace scene {
namespace internal {
namespace {

constexpr float kPi = 3.14159265358979f;

// Euclidean modulo for doubles.
double Mod(double a, double m) {
  double r = std::fmod(a, m);
  if (r < 0.0) r += m;
  return r;
}

const std::vector<std::array<Vec3, kSphericalSide * kSphericalSide>>& SphericalShapes() {
  static const auto shapes = [] {
    static const int m[7][8] = {{1, 3, 5, 6, 5, 3, 5, 1}, {2, 2, 2, 3, 2, 6, 4, 3}, {6, 6, 4, 0, 2, 4, 0, 1},
                                {5, 2, 2, 3, 2, 8, 4, 3}, {4, 3, 2, 4, 6, 2, 6, 1}, {5, 0, 5, 1, 3, 3, 3, 1},
                                {1, 2, 3, 4, 2, 5, 6, 1}};
    std::vector<std::array<Vec3, kSphericalSide * kSphericalSide>> out(7);
    for (int s = 0; s < 7; ++s) {
      float farthest = 0.0f;
      for (int i = 0; i < kSphericalSide; ++i) {      // rows: v
        for (int j = 0; j < kSphericalSide; ++j) {    // columns: u
          const float u = static_cast<float>(j) * 0.013333334f, v = static_cast<float>(i) * 0.013333334f;
          const float theta = 2.0f * kPi * u, phi = kPi * v;
          const double r = std::pow(std::sin(m[s][0] * phi), m[s][1]) + std::pow(std::cos(m[s][2] * phi), m[s][3]) +
                           std::pow(std::sin(m[s][4] * theta), m[s][5]) +
                           std::pow(std::cos(m[s][6] * theta), m[s][7]);
          const float rf = static_cast<float>(r);
          const Vec3 p{rf * std::sin(phi) * std::cos(theta), rf * std::cos(phi), rf * std::sin(phi) * std::sin(theta)};
          out[s][i * kSphericalSide + j] = p;
          farthest = std::max(farthest, Length(p));
        }
      }
      if (farthest > 0.0f)
        for (Vec3& p : out[s]) p = Scale(p, 30.0f / farthest);
    }
    return out;
  }();
  return shapes;
}


const std::vector<uint16_t>& SphericalIndices() {
  static const std::vector<uint16_t> indices = GridIndices(kSphericalSide, kSphericalSide);
  return indices;
}
const std::vector<uint16_t>& DistortIndices() {
  static const std::vector<uint16_t> indices = GridIndices(kDistortSide, kDistortSide);
  return indices;
}

}  // namespace

std::vector<uint16_t> GridIndices(int rows, int columns) {
  std::vector<uint16_t> indices;
  indices.reserve(static_cast<size_t>(rows - 1) * (columns - 1) * 6);
  for (int i = 0; i + 1 < rows; ++i) {
    for (int j = 0; j + 1 < columns; ++j) {
      const uint16_t a = static_cast<uint16_t>(i * columns + j), b = static_cast<uint16_t>(a + 1);
      const uint16_t c = static_cast<uint16_t>(a + columns), d = static_cast<uint16_t>(c + 1);
      for (uint16_t x : {a, b, c, b, d, c}) indices.push_back(x);
    }
  }
  return indices;
}

void AccumulateNormals(std::vector<render::RenderVertex>* vertices, const std::vector<uint16_t>& indices,
                       int seam_columns) {
  std::vector<Vec3> sums(vertices->size());
  const auto at = [&](uint16_t i) {
    const render::RenderVertex& v = (*vertices)[i];
    return Vec3{v.x, v.y, v.z};
  };
  for (size_t t = 0; t + 2 < indices.size(); t += 3) {
    const Vec3 a = at(indices[t]), b = at(indices[t + 1]), c = at(indices[t + 2]);
    const Vec3 n = Cross(Sub(b, a), Sub(c, a));
    for (int k = 0; k < 3; ++k) sums[indices[t + k]] = Add(sums[indices[t + k]], n);
  }
  // A closed grid's first and last columns are the same points: both get
  // the sum of both sides (a pole vertex whose own triangles have no area
  // then still gets the normal of its neighbours).
  if (seam_columns > 1)
    for (size_t row = 0; row + static_cast<size_t>(seam_columns) <= sums.size(); row += seam_columns) {
      Vec3& first = sums[row];
      Vec3& last = sums[row + seam_columns - 1];
      first = last = Add(first, last);
    }
  for (size_t i = 0; i < sums.size(); ++i) {
    Vec3 n = Normalize(sums[i]);
    if (!std::isfinite(n.x + n.y + n.z) || (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f)) n = Vec3{0, 1, 0};
    (*vertices)[i].nx = n.x;
    (*vertices)[i].ny = n.y;
    (*vertices)[i].nz = n.z;
  }
}

SphericalBlend SphericalBlendAt(double now) {
  SphericalBlend b;
  if (!std::isfinite(now)) now = 0.0;
  b.shape = static_cast<int>(Mod(std::floor(now / 2.0), 7.0));
  if (b.shape < 0 || b.shape > 6) b.shape = 0;
  const double p = Mod(now, 2.0);
  b.blend = p <= 1.0 ? 0.0f : static_cast<float>(std::sin((p - 1.0) * 3.14159265358979 / 2.0));
  return b;
}

const std::vector<render::RenderVertex>& SphericalVertices(double now) {
  static std::vector<render::RenderVertex> vertices;
  static double cached_now = std::nan("");
  if (!vertices.empty() && now == cached_now) return vertices;
  const SphericalBlend b = SphericalBlendAt(now);
  const auto& shapes = SphericalShapes();
  const auto& s0 = shapes[b.shape];
  const auto& s1 = shapes[(b.shape + 1) % 7];
  vertices.assign(kSphericalSide * kSphericalSide, render::RenderVertex{});
  for (int i = 0; i < kSphericalSide; ++i) {
    for (int j = 0; j < kSphericalSide; ++j) {
      const int k = i * kSphericalSide + j;
      const Vec3 p = Add(s0[k], Scale(Sub(s1[k], s0[k]), b.blend));
      render::RenderVertex& v = vertices[k];
      v.x = p.x;
      v.y = p.y;
      v.z = p.z;
      v.diffuse = 0xFFFFFFFFu;
      v.u = static_cast<float>(j) * 0.013333334f;
      v.v = static_cast<float>(i) * 0.013333334f;
    }
  }
  AccumulateNormals(&vertices, SphericalIndices());
  cached_now = now;
  return vertices;
}

const std::vector<uint16_t>& SphericalIndexList() { return SphericalIndices(); }
const std::vector<uint16_t>& DistortIndexList() { return DistortIndices(); }

float BSpline6(const float c[6], float s) {
  if (!(s > 0.0f)) s = 0.0f;  // NaN too
  if (s > 1.0f) s = 1.0f;
  float x = s * 3.0f;
  int n = static_cast<int>(std::floor(x));
  float f = x - static_cast<float>(n);
  if (n >= 2) {  // s = 1 ends the last segment: c6 is never read
    n = 2;
    f = x - 2.0f;
  }
  const float w0 = (1 - f) * (1 - f) * (1 - f) / 6.0f;
  const float w1 = (3 * f * f * f - 6 * f * f + 4) / 6.0f;
  const float w2 = (-3 * f * f * f + 3 * f * f + 3 * f + 1) / 6.0f;
  const float w3 = f * f * f / 6.0f;
  return w0 * c[n] + w1 * c[n + 1] + w2 * c[n + 2] + w3 * c[n + 3];
}

void BuildDistortBall(double t, std::vector<render::RenderVertex>* vertices) {
  if (!std::isfinite(t)) t = 0.0;
  const double a = t * 7.5;
  float c[6], d[6];
  for (int k = 0; k < 6; ++k) c[k] = static_cast<float>((std::sin(a + k * 1.2 * 3.14159265358979) + 1.5) * 0.5);
  const double pi = 3.14159265358979;
  d[0] = static_cast<float>(std::sin(0.3 * a) + 1);
  d[1] = static_cast<float>(std::sin(0.5 * a + 0.8 * pi) + 1);
  d[2] = static_cast<float>(std::sin(1.1 * a + 1.6 * pi) + 1);
  d[3] = static_cast<float>(std::sin(2.1 * a + 2.4 * pi) + 1);
  d[4] = static_cast<float>(std::sin(1.1 * a + 3.2 * pi) + 1);
  d[5] = static_cast<float>(std::sin(0.5 * a + 4 * pi) + 1);
  vertices->assign(kDistortSide * kDistortSide, render::RenderVertex{});
  for (int i = 0; i < kDistortSide; ++i) {
    const float phi = (static_cast<float>(i) / 39.0f) * kPi - kPi / 2.0f;
    for (int j = 0; j < kDistortSide; ++j) {
      const float theta = (static_cast<float>(j) / 39.0f) * 2.0f * kPi;
      const float x = std::sin(theta) * std::cos(phi), z = std::cos(theta) * std::cos(phi);
      const float radius = 30.0f * BSpline6(c, (z + 1.0f) / 2.0f) * BSpline6(d, (x + 1.0f) / 2.0f);
      render::RenderVertex& v = (*vertices)[i * kDistortSide + j];
      v.x = 0.35f * radius * x;
      v.y = 0.35f * radius * std::sin(phi);
      v.z = 0.35f * radius * z;
      v.diffuse = 0xFFFFFFFFu;
      v.u = static_cast<float>(j) / 39.0f;
      v.v = static_cast<float>(i) / 39.0f;
    }
  }
  AccumulateNormals(vertices, DistortIndices(), kDistortSide);
}

void DrawSphericals(const ProceduralDrawContext& ctx) {
  const std::vector<render::RenderVertex>& vertices = SphericalVertices(ctx.now);
  SubmitEachOfKind<PlaceholderObject>(PROCEDURAL_SPHERICAL, ctx,
                                      [&](const PlaceholderObject&, const Vec3&, const Quat&, render::DrawItem* item) {
                                        SetItemMesh(item, vertices, SphericalIndices());
                                        return true;
                                      });
}

void DrawDistortBalls(const ProceduralDrawContext& ctx) {
  static std::vector<render::RenderVertex> vertices;
  BuildDistortBall(ctx.time, &vertices);  // one shape per animation time
  SubmitEachOfKind<PlaceholderObject>(PROCEDURAL_DISTORTBALL, ctx,
                                      [&](const PlaceholderObject&, const Vec3&, const Quat&, render::DrawItem* item) {
                                        SetItemMesh(item, vertices, DistortIndices());
                                        return true;
                                      });
}

}  // namespace internal
}  // namespace scene

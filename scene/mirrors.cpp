// Planar mirrors: the plane of a mirror's first triangle, its reflection,
// the reflected view and the clip planes that keep a reflection inside the
// mirror's outline and in front of it.
//
// The reflected view is R × view rather than a rotation rebuilt from
// reflected axes: a reflection has determinant −1, which no rotation can
// carry, and the product shows a world point P exactly where the real
// camera sees R(P). The projection stays the camera's; the mirrored
// handedness only swaps which screen winding is front-facing.
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "scene/draw.h"

namespace scene {
namespace {

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Plane through three points keeping `inside` on its positive side, false
// when the points span no plane.
bool PlaneThrough(const Vec3& eye, const Vec3& a, const Vec3& b, const Vec3& inside, Plane* out) {
  Vec3 n = Cross(Sub(a, eye), Sub(b, eye));
  const float length = Length(n);
  if (!(length > 1e-12f) || !std::isfinite(length)) return false;
  n = Scale(n, 1.0f / length);
  Plane p{n.x, n.y, n.z, -Dot(n, eye)};
  if (PlaneDistance(p, inside) < 0.0f) p = {-p.a, -p.b, -p.c, -p.d};
  *out = p;
  return true;
}

// Edge directions tried for an outline's bounding rectangle.
constexpr size_t kMaxRectangleTrials = 64;

using Key = std::tuple<float, float, float>;
Key KeyOf(const Vec3& v) { return {v.x, v.y, v.z}; }

}  // namespace

bool TrianglePlane(const Vec3& a, const Vec3& b, const Vec3& c, Plane* plane) {
  if (!Finite(a) || !Finite(b) || !Finite(c)) return false;
  Vec3 n = Cross(Sub(b, a), Sub(c, a));
  const float length = Length(n);
  if (!(length > 0.0f) || !std::isfinite(length)) return false;
  n = Scale(n, 1.0f / length);
  *plane = {n.x, n.y, n.z, -Dot(n, a)};
  return true;
}

Matrix ReflectionMatrix(const Plane& p) {
  const float n[3] = {p.a, p.b, p.c};
  Matrix r = Matrix::Identity();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = (i == j ? 1.0f : 0.0f) - 2.0f * n[i] * n[j];
  for (int j = 0; j < 3; ++j) r.m[3][j] = -2.0f * p.d * n[j];
  return r;
}

Matrix ReflectedViewMatrix(const Matrix& view, const Plane& plane) {
  return scene::Multiply(ReflectionMatrix(plane), view);
}

void OutlineEdges(const Vec3* positions, size_t position_count, const uint16_t* indices, size_t triangle_count,
                  std::vector<Vec3>* edge_points) {
  edge_points->clear();
  // Edges by their end positions, direction ignored: how many triangles use
  // each, and where it first appeared (to keep triangle order).
  struct Use {
    int count = 0;
    size_t order = 0;
    Vec3 a, b;
  };
  std::map<std::pair<Key, Key>, Use> uses;
  size_t order = 0;
  for (size_t t = 0; t < triangle_count; ++t) {
    const uint16_t* tri = indices + t * 3;
    if (tri[0] >= position_count || tri[1] >= position_count || tri[2] >= position_count) continue;
    for (int e = 0; e < 3; ++e) {
      const Vec3& a = positions[tri[e]];
      const Vec3& b = positions[tri[(e + 1) % 3]];
      Key ka = KeyOf(a), kb = KeyOf(b);
      auto key = ka < kb ? std::make_pair(ka, kb) : std::make_pair(kb, ka);
      Use& use = uses[key];
      if (use.count++ == 0) {
        use.order = order++;
        use.a = a;
        use.b = b;
      }
    }
  }
  std::vector<const Use*> single;
  for (const auto& entry : uses)
    if (entry.second.count == 1) single.push_back(&entry.second);
  std::sort(single.begin(), single.end(), [](const Use* x, const Use* y) { return x->order < y->order; });
  for (const Use* use : single) {
    edge_points->push_back(use->a);
    edge_points->push_back(use->b);
  }
}

int MirrorClipPlanes(const Plane& mirror, const Vec3& eye, const std::vector<Vec3>& edge_points,
                     Plane planes[kMaxMirrorClipPlanes]) {
  int count = 0;
  planes[count++] = mirror;
  const size_t edges = edge_points.size() / 2;
  if (edges == 0) return count;
  Vec3 centroid{0.0f, 0.0f, 0.0f};
  for (size_t i = 0; i < edges * 2; ++i) centroid = Add(centroid, edge_points[i]);
  centroid = Scale(centroid, 1.0f / static_cast<float>(edges * 2));

  if (edges <= 4) {
    for (size_t e = 0; e < edges; ++e)
      if (PlaneThrough(eye, edge_points[2 * e], edge_points[2 * e + 1], centroid, &planes[count])) ++count;
    return count;
  }
  // The outline's bounding rectangle in the mirror plane, along the edge
  // direction that gives the smallest one.
  const Vec3 n{mirror.a, mirror.b, mirror.c};
  Vec3 u, v;
  float u0 = 0, u1 = 0, v0 = 0, v1 = 0, best_area = -1.0f;
  for (size_t e = 0; e < edges && e < kMaxRectangleTrials; ++e) {
    Vec3 eu = Sub(edge_points[2 * e + 1], edge_points[2 * e]);
    eu = Sub(eu, Scale(n, Dot(eu, n)));
    if (!(Length(eu) > 1e-12f)) continue;
    eu = Normalize(eu);
    const Vec3 ev = Cross(n, eu);
    float a0 = 0, a1 = 0, b0 = 0, b1 = 0;
    for (size_t i = 0; i < edges * 2; ++i) {
      const Vec3 d = Sub(edge_points[i], centroid);
      const float pu = Dot(d, eu), pv = Dot(d, ev);
      if (i == 0 || pu < a0) a0 = pu;
      if (i == 0 || pu > a1) a1 = pu;
      if (i == 0 || pv < b0) b0 = pv;
      if (i == 0 || pv > b1) b1 = pv;
    }
    const float area = (a1 - a0) * (b1 - b0);
    if (best_area < 0.0f || area < best_area) {
      best_area = area;
      u = eu;
      v = ev;
      u0 = a0, u1 = a1, v0 = b0, v1 = b1;
    }
  }
  if (best_area < 0.0f) return count;
  // The centroid projected into the plane, then the four corners.
  const Vec3 base = Sub(centroid, Scale(n, PlaneDistance(mirror, centroid)));
  auto corner = [&](float a, float b) { return Add(base, Add(Scale(u, a), Scale(v, b))); };
  const Vec3 c[4] = {corner(u0, v0), corner(u1, v0), corner(u1, v1), corner(u0, v1)};
  for (int i = 0; i < 4; ++i)
    if (PlaneThrough(eye, c[i], c[(i + 1) % 4], base, &planes[count])) ++count;
  return count;
}

}  // namespace scene

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

#include "render/display.h"
#include "render/materials.h"
#include "scene/draw.h"
#include "scene/draw_internal.h"

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

namespace internal {
namespace {

// The mirror's first element in world space: its plane and outline. False
// (reported once) when it has no triangle or the first has no area.
bool MirrorGeometry(PassContext* ctx, const SceneObject& mirror, Plane* plane, std::vector<Vec3>* edge_points) {
  const RenderElement* element = mirror.mesh.elements.empty() ? nullptr : &mirror.mesh.elements[0];
  bool ok = element && element->triangle_count > 0 && element->vertex_count > 0;
  std::vector<Vec3> world;
  if (ok) {
    world.resize(element->vertex_count);
    for (uint32_t i = 0; i < element->vertex_count; ++i) {
      const render::RenderVertex& v = mirror.mesh.vertices[element->first_vertex + i];
      world[i] = TransformPoint({v.x, v.y, v.z}, mirror.world);
    }
    const uint16_t* tri = mirror.mesh.indices.data() + element->first_index;
    ok = tri[0] < world.size() && tri[1] < world.size() && tri[2] < world.size() &&
         TrianglePlane(world[tri[0]], world[tri[1]], world[tri[2]], plane);
    if (ok) OutlineEdges(world.data(), world.size(), tri, element->triangle_count, edge_points);
  }
  if (!ok)
    Report(ctx->scene, "mirrorplane:" + mirror.name,
           "mirror " + mirror.name + " has no plane (no triangle, or one of zero area); it is skipped");
  return ok;
}

// Draws the scene through the mirror into the current target: the
// reflected view, the clip planes, culling swapped, no further mirrors.
void DrawReflection(PassContext* ctx, const Plane& plane, const std::vector<Vec3>& edge_points) {
  const Matrix r = ReflectionMatrix(plane);
  PassContext inner;
  inner.scene = ctx->scene;
  inner.device = ctx->device;
  inner.manager = ctx->manager;
  inner.mirror_budget = ctx->mirror_budget - 1;
  inner.now = ctx->now;
  inner.sound_bands = ctx->sound_bands;
  inner.pv = ctx->pv;
  inner.pv.view = scene::Multiply(r, ctx->pv.view);
  FrustumPlanes(scene::Multiply(inner.pv.view, inner.pv.projection), inner.pv.planes);
  inner.pv.eye = TransformPoint(ctx->pv.eye, r);
  for (int row = 0; row < 3; ++row) {
    const Vec3 axis{ctx->pv.orientation.m[row][0], ctx->pv.orientation.m[row][1], ctx->pv.orientation.m[row][2]};
    const Vec3 reflected = TransformDirection(axis, r);
    inner.pv.orientation.m[row][0] = reflected.x;
    inner.pv.orientation.m[row][1] = reflected.y;
    inner.pv.orientation.m[row][2] = reflected.z;
  }

  Plane planes[kMaxMirrorClipPlanes];
  const int count = MirrorClipPlanes(plane, inner.pv.eye, edge_points, planes);
  uint32_t mask = 0;
  for (int i = 0; i < count; ++i) {
    const float p[4] = {planes[i].a, planes[i].b, planes[i].c, planes[i].d};
    if (ctx->device->SetClipPlane(static_cast<uint32_t>(i), p) == 0) mask |= 1u << i;
  }
  inner.clip_mask = mask;
  render::SetRenderStateCached(render::RS_CLIPPLANEENABLE, mask);

  const render::Camera* camera = render::CurrentCamera();
  render::FixedCamera reflected_camera(inner.pv.orientation);
  render::SetCurrentCamera(&reflected_camera);
  ctx->manager->mirrored = !ctx->manager->mirrored;
  DrawPass(&inner, false, false);
  ctx->manager->mirrored = !ctx->manager->mirrored;
  render::SetCurrentCamera(camera);
  render::SetRenderStateCached(render::RS_CLIPPLANEENABLE, ctx->clip_mask);
}

}  // namespace

void DrawMirrors(PassContext* ctx) {
  Scene& scene = *ctx->scene;
  struct Entry {
    int32_t index;
    float distance;
  };
  std::vector<Entry> mirrors;
  for (int32_t index : scene.order) {
    if (index < 0 || static_cast<size_t>(index) >= scene.file_objects.size()) continue;
    if (!scene.file_objects[static_cast<size_t>(index)].mirror) continue;
    const SceneObject* mirror = scene.ObjectAt(index);
    if (!mirror) continue;
    const float distance = Length(Sub(mirror->world_position, ctx->pv.eye));
    if (!std::isfinite(distance)) {
      Report(ctx->scene, "nan:" + mirror->name,
             "object " + mirror->name + " has no finite position; it is not drawn and casts no shadow");
      continue;
    }
    mirrors.push_back({index, distance});
  }
  std::stable_sort(mirrors.begin(), mirrors.end(),
                   [](const Entry& a, const Entry& b) { return a.distance < b.distance; });

  for (const Entry& entry : mirrors) {
    const SceneObject& mirror = *scene.ObjectAt(entry.index);
    Plane plane;
    std::vector<Vec3> edge_points;
    if (!MirrorGeometry(ctx, mirror, &plane, &edge_points)) continue;
    // A camera on the back side (or in the plane) sees no reflection; the
    // mirror still hides what lies behind it.
    if (PlaneDistance(plane, ctx->pv.eye) > 0.0f) DrawReflection(ctx, plane, edge_points);
    // Its depth, through exactly the camera's view and projection.
    if (ApplyPassView(*ctx) != 0) return;
    render::SetRenderStateCached(render::RS_COLORWRITEENABLE, 0);
    DrawObjectElements(ctx, entry.index, kDrawReceivers | kDrawNonReceivers, true);
    FlushPass(ctx);
    render::SetRenderStateCached(render::RS_COLORWRITEENABLE, render::COLORWRITE_RED | render::COLORWRITE_GREEN |
                                                                  render::COLORWRITE_BLUE | render::COLORWRITE_ALPHA);
  }
}

}  // namespace internal

}  // namespace scene

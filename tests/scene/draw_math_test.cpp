// The device-free pieces of scene drawing: shadow-volume extrusion, lights
// in object space, the mirror plane, the reflected view and its clip planes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/draw.h"
#include "scene/math.h"

namespace {

using scene::Plane;
using scene::Vec3;

constexpr float kPi = 3.14159265f;

Vec3 Screen(const Vec3& p, const scene::Matrix& view, const scene::Matrix& projection) {
  return scene::TransformPoint(p, scene::Multiply(view, projection));
}

bool AllKeep(const Plane* planes, int count, const Vec3& p) {
  for (int i = 0; i < count; ++i)
    if (scene::PlaneDistance(planes[i], p) < 0.0f) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Shadow volumes.
// ---------------------------------------------------------------------------

TEST(ShadowExtrusion, MovesOnlyTheVerticesFacingTheLightAlongItsTravel) {
  const std::vector<scene::VolumeVertex> mesh = {
      {{0, 1, 0}, {0, 1, 0}},   // faces up
      {{0, -1, 0}, {0, -1, 0}}, // faces down
      {{2, 0, 0}, {1, 0, 0}},   // faces sideways
  };
  struct Case {
    scene::ObjectSpaceLight light;
    bool moved[3];
    Vec3 direction[3];  // of travel, where moved
  };
  const Case cases[] = {
      // A directional light shining down lights the top face: it moves down.
      {{true, {0, -1, 0}}, {true, false, false}, {{0, -1, 0}, {}, {}}},
      // A point light below lights the bottom face; the vertex moves away
      // from the light.
      {{false, {0, -5, 0}}, {false, true, false}, {{}, {0, 1, 0}, {}}},
      // A point light far to the +x side lights the side face.
      {{false, {10, 0, 0}}, {false, false, true}, {{}, {}, {-1, 0, 0}}},
  };
  std::vector<scene::VolumeVertex> out;
  for (const Case& c : cases) {
    scene::ExtrudeShadowVolume(mesh.data(), mesh.size(), c.light, scene::kShadowExtrusion, &out);
    ASSERT_EQ(out.size(), mesh.size());
    for (size_t i = 0; i < mesh.size(); ++i) {
      Vec3 expected = mesh[i].position;
      if (c.moved[i]) expected = scene::Add(expected, scene::Scale(c.direction[i], scene::kShadowExtrusion));
      EXPECT_NEAR(out[i].position.x, expected.x, 1e-2f) << i;
      EXPECT_NEAR(out[i].position.y, expected.y, 1e-2f) << i;
      EXPECT_NEAR(out[i].position.z, expected.z, 1e-2f) << i;
      EXPECT_EQ(out[i].normal, mesh[i].normal);
    }
  }
}

TEST(ShadowExtrusion, ReusesItsArray) {
  std::vector<scene::VolumeVertex> mesh(300, {{1, 2, 3}, {0, 0, 1}});
  std::vector<scene::VolumeVertex> out;
  scene::ExtrudeShadowVolume(mesh.data(), mesh.size(), {true, {0, 0, -1}}, 10.0f, &out);
  const scene::VolumeVertex* storage = out.data();
  scene::ExtrudeShadowVolume(mesh.data(), 100, {true, {0, 0, 1}}, 10.0f, &out);
  EXPECT_EQ(out.size(), 100u);
  EXPECT_EQ(out.data(), storage);
}

TEST(ShadowExtrusion, LightsTakenIntoObjectSpaceMapBackToTheWorld) {
  const scene::Matrix world =
      scene::WorldMatrix(scene::QuatFromAxisAngle({0, 1, 0}, kPi / 2), {10.0f, 0.0f, 0.0f});
  render::Light point;
  point.type = render::LIGHT_POINT;
  point.position = {10.0f, 5.0f, 3.0f};
  scene::ObjectSpaceLight local;
  ASSERT_TRUE(scene::LightInObjectSpace(point, world, &local));
  EXPECT_FALSE(local.directional);
  Vec3 back = scene::TransformPoint(local.vector, world);
  EXPECT_NEAR(back.x, 10.0f, 1e-4f);
  EXPECT_NEAR(back.y, 5.0f, 1e-4f);
  EXPECT_NEAR(back.z, 3.0f, 1e-4f);

  render::Light sun;
  sun.type = render::LIGHT_DIRECTIONAL;
  sun.direction = {1.0f, 0.0f, 0.0f};
  ASSERT_TRUE(scene::LightInObjectSpace(sun, world, &local));
  EXPECT_TRUE(local.directional);
  back = scene::TransformDirection(local.vector, world);
  EXPECT_NEAR(back.x, 1.0f, 1e-6f);
  EXPECT_NEAR(back.y, 0.0f, 1e-6f);
  EXPECT_NEAR(back.z, 0.0f, 1e-6f);

  scene::Matrix flat = scene::Matrix::Identity();
  flat.m[1][1] = 0.0f;  // no inverse
  EXPECT_FALSE(scene::LightInObjectSpace(point, flat, &local));
}

// ---------------------------------------------------------------------------
// Mirrors.
// ---------------------------------------------------------------------------

TEST(MirrorPlane, FacesTheSideItsFrontFaceLooksAtAndNeedsAnArea) {
  // Seen from z < 0 (a camera looking down +z), a, b, c run clockwise: the
  // front face looks at the camera.
  Plane plane;
  ASSERT_TRUE(scene::TrianglePlane({0, 0, 5}, {0, 1, 5}, {1, 0, 5}, &plane));
  EXPECT_GT(scene::PlaneDistance(plane, {0, 0, 0}), 0.0f);
  EXPECT_NEAR(scene::PlaneDistance(plane, {3, 4, 5}), 0.0f, 1e-6f);
  EXPECT_NEAR(scene::PlaneDistance(plane, {0, 0, 2}), 3.0f, 1e-6f);

  EXPECT_FALSE(scene::TrianglePlane({0, 0, 0}, {1, 1, 1}, {2, 2, 2}, &plane));
  EXPECT_FALSE(scene::TrianglePlane({0, 0, 0}, {0, 0, 0}, {1, 0, 0}, &plane));
  EXPECT_FALSE(scene::TrianglePlane({0, 0, 0}, {NAN, 0, 0}, {1, 0, 0}, &plane));
}

// The reflection shows P where the camera sees R(P), for mirrors in several
// orientations and points on both sides.
TEST(MirrorPlane, ReflectedViewShowsEachPointWhereTheCameraSeesItsImage) {
  const Vec3 eye{1.0f, 2.0f, -8.0f};
  const scene::Matrix view = scene::ViewMatrix(eye, scene::LookAt(eye, {0, 0, 0}, {0, 1, 0}));
  const scene::Matrix projection = scene::PerspectiveMatrix(60.0f, 0.75f, 0.5f);
  const Vec3 triangles[][3] = {
      {{0, 0, 5}, {0, 1, 5}, {1, 0, 5}},      // facing -z
      {{3, 0, 0}, {3, 0, 1}, {3, 1, 0}},      // facing -x
      {{0, -1, 0}, {1, -1, 0}, {0, -1, 1}},   // a floor facing +y
      {{0, 0, 4}, {1, 1, 3}, {2, 0, 5}},      // slanted
  };
  const Vec3 points[] = {{0, 0, 0}, {-1, 1.5f, 2}, {0.5f, -0.5f, 1}, {2, 3, -1}};
  for (const auto& t : triangles) {
    Plane plane;
    ASSERT_TRUE(scene::TrianglePlane(t[0], t[1], t[2], &plane));
    const scene::Matrix r = scene::ReflectionMatrix(plane);
    const scene::Matrix reflected = scene::ReflectedViewMatrix(view, plane);
    for (const Vec3& p : points) {
      const Vec3 image = scene::TransformPoint(p, r);
      // The image lies as far behind the plane as p before it.
      EXPECT_NEAR(scene::PlaneDistance(plane, image), -scene::PlaneDistance(plane, p), 1e-4f);
      const Vec3 seen = Screen(image, view, projection);
      const Vec3 drawn = Screen(p, reflected, projection);
      EXPECT_NEAR(drawn.x, seen.x, 1e-4f);
      EXPECT_NEAR(drawn.y, seen.y, 1e-4f);
      EXPECT_NEAR(drawn.z, seen.z, 1e-5f);
    }
    // Mirrored handedness: the 3 × 3 part's determinant is negative.
    const float(*m)[4] = reflected.m;
    const float det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                      m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                      m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    EXPECT_LT(det, 0.0f);
  }
}

TEST(MirrorPlane, OutlineKeepsTheEdgesOfOneTriangleOnly) {
  // A unit square of two triangles: four outline edges, the diagonal gone.
  const Vec3 square[] = {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
  const uint16_t indices[] = {0, 1, 2, 0, 2, 3};
  std::vector<Vec3> edges;
  scene::OutlineEdges(square, 4, indices, 2, &edges);
  ASSERT_EQ(edges.size(), 8u);
  for (size_t i = 0; i < edges.size(); i += 2) {
    const bool diagonal = (edges[i] == square[0] && edges[i + 1] == square[2]) ||
                          (edges[i] == square[2] && edges[i + 1] == square[0]);
    EXPECT_FALSE(diagonal);
  }
  // An index out of range drops its triangle.
  const uint16_t bad[] = {0, 1, 9};
  scene::OutlineEdges(square, 4, bad, 1, &edges);
  EXPECT_TRUE(edges.empty());
}

// A 2 × 2 mirror in the plane z = 0 facing -z, the camera in front: a point
// in front of the mirror is kept exactly when the camera sees its image
// through the mirror's outline.
TEST(MirrorPlane, ClipPlanesKeepWhatTheMirrorShows) {
  // Seen through: the crossing point h lies surely inside; cut: surely
  // outside what the planes may keep.
  struct Outline {
    const char* name;
    std::vector<Vec3> positions;
    std::vector<uint16_t> indices;
    int planes;
    bool (*seen_through)(float hx, float hy);
    bool (*cut)(float hx, float hy);
  };
  const float s = 0.70710678f;
  const Outline outlines[] = {
      {"square", {{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}}, {0, 1, 2, 0, 2, 3}, 5,
       [](float x, float y) { return std::fabs(x) < 0.999f && std::fabs(y) < 0.999f; },
       [](float x, float y) { return std::fabs(x) > 1.001f || std::fabs(y) > 1.001f; }},
      // A regular octagon fan of circumradius 1: more than four edges, cut
      // by its tightest bounding square (corners 1.307 from the centre).
      {"octagon",
       {{0, 0, 0}, {1, 0, 0}, {s, s, 0}, {0, 1, 0}, {-s, s, 0}, {-1, 0, 0}, {-s, -s, 0}, {0, -1, 0}, {s, -s, 0}},
       {0, 2, 1, 0, 3, 2, 0, 4, 3, 0, 5, 4, 0, 6, 5, 0, 7, 6, 0, 8, 7, 0, 1, 8},
       5,
       [](float x, float y) { return std::sqrt(x * x + y * y) < 0.92f; },
       [](float x, float y) { return std::sqrt(x * x + y * y) > 1.31f; }},
  };
  const Vec3 eye{0.3f, 0.2f, -4.0f};
  for (const Outline& o : outlines) {
    Plane plane;
    ASSERT_TRUE(scene::TrianglePlane(o.positions[o.indices[0]], o.positions[o.indices[1]],
                                     o.positions[o.indices[2]], &plane))
        << o.name;
    ASSERT_GT(scene::PlaneDistance(plane, eye), 0.0f);
    const Vec3 reflected_eye = scene::TransformPoint(eye, scene::ReflectionMatrix(plane));
    std::vector<Vec3> edges;
    scene::OutlineEdges(o.positions.data(), o.positions.size(), o.indices.data(), o.indices.size() / 3, &edges);
    Plane planes[scene::kMaxMirrorClipPlanes];
    const int count = scene::MirrorClipPlanes(plane, reflected_eye, edges, planes);
    ASSERT_EQ(count, o.planes) << o.name;
    for (float x = -3.0f; x <= 3.0f; x += 0.25f) {
      for (float y = -3.0f; y <= 3.0f; y += 0.5f) {
        for (float z : {-2.0f, -0.5f, 0.5f}) {
          const Vec3 p{x, y, z};
          // The ray from the reflected eye to p crosses z = 0 at h.
          const float t = reflected_eye.z / (reflected_eye.z - p.z);
          const float hx = reflected_eye.x + (p.x - reflected_eye.x) * t;
          const float hy = reflected_eye.y + (p.y - reflected_eye.y) * t;
          const bool in_front = z < 0.0f;
          if (in_front && o.seen_through(hx, hy)) {
            EXPECT_TRUE(AllKeep(planes, count, p)) << o.name << " " << x << " " << y;
          }
          if (!in_front || o.cut(hx, hy)) {
            EXPECT_FALSE(AllKeep(planes, count, p)) << o.name << " " << x << " " << y;
          }
        }
      }
    }
  }
}

TEST(MirrorPlane, OneTriangleGivesItsThreeEdges) {
  const Vec3 tri[] = {{-1, -1, 0}, {0, 1, 0}, {1, -1, 0}};
  const uint16_t indices[] = {0, 1, 2};
  Plane plane;
  ASSERT_TRUE(scene::TrianglePlane(tri[0], tri[1], tri[2], &plane));
  std::vector<Vec3> edges;
  scene::OutlineEdges(tri, 3, indices, 1, &edges);
  Plane planes[scene::kMaxMirrorClipPlanes];
  const Vec3 reflected_eye{0.0f, 0.0f, 4.0f};
  ASSERT_EQ(scene::MirrorClipPlanes(plane, reflected_eye, edges, planes), 4);
  EXPECT_TRUE(AllKeep(planes, 4, {0.0f, -0.2f, -1.0f}));   // behind the triangle's middle, seen from the image
  EXPECT_FALSE(AllKeep(planes, 4, {0.9f, 0.9f, -1.0f}));   // beside its slanted edge
  EXPECT_FALSE(AllKeep(planes, 4, {0.0f, -0.2f, 1.0f}));   // on the eye's side of the plane
}

}  // namespace

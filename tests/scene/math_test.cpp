#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "scene/scene.h"

namespace {

using scene::Mat3;
using scene::Matrix;
using scene::Quat;
using scene::Vec3;

Quat RandomUnitQuat(std::mt19937& rng) {
  std::normal_distribution<float> d(0.0f, 1.0f);
  Quat q{d(rng), d(rng), d(rng), d(rng)};
  float n = std::sqrt(scene::QuatDot(q, q));
  return {q.w / n, q.x / n, q.y / n, q.z / n};
}

bool SameBits(const Vec3& a, const Vec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SceneMath, IdentityConjugateSlerpAndProjection) {
  Mat3 identity;
  Quat q = scene::QuatFromMat3(identity);
  EXPECT_EQ(q, (Quat{1, 0, 0, 0}));
  Mat3 m = scene::Mat3FromQuat({1, 0, 0, 0});
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(m.m[i][j], i == j ? 1.0f : 0.0f);

  Quat half{0.7071068f, 0.7071068f, 0, 0};
  Quat back = scene::QuatFromMat3(scene::Mat3FromQuat(half));
  EXPECT_NEAR(back.w, 0.7071068f, 1e-6);
  EXPECT_NEAR(back.x, -0.7071068f, 1e-6);
  EXPECT_NEAR(back.y, 0.0f, 1e-6);
  EXPECT_NEAR(back.z, 0.0f, 1e-6);

  Quat a{0.5f, 0.5f, 0.5f, 0.5f};
  for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) EXPECT_EQ(scene::Slerp(a, a, t), a);

  Matrix p = scene::PerspectiveMatrix(90.0f, 0.75f, 1.0f);
  EXPECT_NEAR(p.m[0][0], 1.0f, 1e-6);
  EXPECT_NEAR(p.m[1][1], 1.0f / 0.75f, 1e-5);
  EXPECT_EQ(p.m[2][3], 1.0f);
  EXPECT_EQ(p.m[2][2], 1000000.0f / (1000000.0f - 1.0f));
  EXPECT_EQ(p.m[3][2], -1.0f * p.m[2][2]);
  EXPECT_EQ(p.m[3][3], 0.0f);
}

TEST(SceneMath, QuaternionBasics) {
  EXPECT_EQ(scene::QuatInverse({0, 0, 0, 0}), (Quat{0, 0, 0, 0}));
  Quat q{2, 0, 0, 0};
  EXPECT_EQ(scene::QuatInverse(q), (Quat{0.5f, -0.0f, -0.0f, -0.0f}));
  EXPECT_EQ(scene::QuatNegate({1, 2, 3, 4}), (Quat{-1, -2, -3, -4}));
  // Hamilton product: i ⊗ j = k.
  EXPECT_EQ(scene::QuatMultiply({0, 1, 0, 0}, {0, 0, 1, 0}), (Quat{0, 0, 0, 1}));
  // The axis is used as passed.
  Quat r = scene::QuatFromAxisAngle({2, 0, 0}, 3.14159265f);
  EXPECT_NEAR(r.x, 2.0f, 1e-6);
  // The fixed quarter turn about X.
  Quat t = scene::TurnQuarterX({1, 0, 0, 0});
  EXPECT_EQ(t.w, std::cos(1.5707960f / 2.0f));
  EXPECT_EQ(t.x, std::sin(1.5707960f / 2.0f));
}

TEST(SceneMath, MatrixOfQuaternionRotatesAsQVQConjugate) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> d(-5.0f, 5.0f);
  for (int n = 0; n < 50; ++n) {
    Quat q = RandomUnitQuat(rng);
    Vec3 v{d(rng), d(rng), d(rng)};
    // q v q̄ in double.
    double w = q.w, x = q.x, y = q.y, z = q.z;
    auto mul = [](const double a[4], const double b[4], double r[4]) {
      r[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
      r[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
      r[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
      r[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
    };
    double qa[4] = {w, x, y, z}, va[4] = {0, v.x, v.y, v.z}, qc[4] = {w, -x, -y, -z}, t[4], r[4];
    mul(qa, va, t);
    mul(t, qc, r);
    Vec3 got = scene::TransformDirection(v, scene::WorldMatrix(q, {0, 0, 0}));
    EXPECT_NEAR(got.x, r[1], 1e-4);
    EXPECT_NEAR(got.y, r[2], 1e-4);
    EXPECT_NEAR(got.z, r[3], 1e-4);
  }
}

TEST(SceneMath, QuaternionOfMatrixIsTheConjugateUpToSign) {
  std::mt19937 rng(11);
  for (int n = 0; n < 50; ++n) {
    Quat q = RandomUnitQuat(rng);
    Quat back = scene::QuatFromMat3(scene::Mat3FromQuat(q));
    Quat c = scene::QuatConjugate(q);
    float sign = scene::QuatDot(back, c) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(back.w, sign * c.w, 1e-5);
    EXPECT_NEAR(back.x, sign * c.x, 1e-5);
    EXPECT_NEAR(back.y, sign * c.y, 1e-5);
    EXPECT_NEAR(back.z, sign * c.z, 1e-5);
  }
}

TEST(SceneMath, ViewTimesWorldIsIdentity) {
  std::mt19937 rng(3);
  for (int n = 0; n < 20; ++n) {
    Quat q = RandomUnitQuat(rng);
    Vec3 p{1.5f, -2.0f, 7.25f};
    Matrix m = scene::Multiply(scene::WorldMatrix(q, p), scene::ViewMatrix(p, q));
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_NEAR(m.m[i][j], i == j ? 1.0f : 0.0f, 1e-5) << i << "," << j;
  }
}

TEST(SceneMath, LookAtPointsPlusZAtTheTarget) {
  Vec3 eye{1, 2, 3}, target{4, -2, 9};
  Quat q = scene::LookAt(eye, target, {0, 1, 0});
  Mat3 m = scene::Mat3FromQuat(q);
  Vec3 f = scene::Normalize(scene::Sub(target, eye));
  EXPECT_NEAR(m.m[2][0], f.x, 1e-5);
  EXPECT_NEAR(m.m[2][1], f.y, 1e-5);
  EXPECT_NEAR(m.m[2][2], f.z, 1e-5);
}

TEST(SceneMath, FrustumPlanesClassifyPoints) {
  // Camera at the origin looking along +Z (identity rotation), fov 90.
  Matrix vp = scene::Multiply(scene::ViewMatrix({0, 0, 0}, {1, 0, 0, 0}), scene::PerspectiveMatrix(90.0f, 0.75f, 1.0f));
  scene::Plane planes[6];
  scene::FrustumPlanes(vp, planes);
  auto inside = [&](Vec3 p) {
    for (const scene::Plane& plane : planes)
      if (scene::PlaneDistance(plane, p) < 0.0f) return false;
    return true;
  };
  EXPECT_TRUE(inside({0, 0, 10}));
  EXPECT_TRUE(inside({5, 0, 10}));     // |x| < z
  EXPECT_TRUE(inside({0, 5, 10}));     // |y| < 0.75 z
  EXPECT_TRUE(inside({-3, -3, 500}));
  EXPECT_FALSE(inside({0, 0, -10}));   // behind
  EXPECT_FALSE(inside({0, 0, 0.5f}));  // before the near plane
  EXPECT_FALSE(inside({15, 0, 10}));   // right of it
  EXPECT_FALSE(inside({0, 9, 10}));    // above (|y| > 0.75 z)
  // Each plane is normalised.
  for (const scene::Plane& p : planes) EXPECT_NEAR(p.a * p.a + p.b * p.b + p.c * p.c, 1.0f, 1e-5);
}

TEST(SceneMath, ArrayTransformsEqualSingleCallsBitForBit) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> d(-100.0f, 100.0f);
  Matrix m = scene::WorldMatrix(RandomUnitQuat(rng), {3.3f, -1.7f, 0.1f});
  m.m[0][3] = 0.01f;  // a projective part, so the division by w matters
  m.m[3][3] = 1.3f;
  for (size_t count = 0; count <= 9; ++count) {
    std::vector<Vec3> in(count), a(count), b(count), c(count);
    for (Vec3& v : in) v = {d(rng), d(rng), d(rng)};
    scene::TransformPoints(in.data(), a.data(), count, m);
    scene::TransformDirections(in.data(), b.data(), count, m);
    scene::TransformDirectionsTransposed(in.data(), c.data(), count, m);
    for (size_t i = 0; i < count; ++i) {
      EXPECT_TRUE(SameBits(a[i], scene::TransformPoint(in[i], m)));
      EXPECT_TRUE(SameBits(b[i], scene::TransformDirection(in[i], m)));
      EXPECT_TRUE(SameBits(c[i], scene::TransformDirectionTransposed(in[i], m)));
    }
    // In place gives the same.
    std::vector<Vec3> inplace = in;
    scene::TransformPoints(inplace.data(), inplace.data(), count, m);
    for (size_t i = 0; i < count; ++i) EXPECT_TRUE(SameBits(inplace[i], a[i]));
  }
}

TEST(SceneMath, SlerpOfOppositeQuaternionsIsFinite) {
  std::mt19937 rng(9);
  for (int n = 0; n < 50; ++n) {
    Quat q = RandomUnitQuat(rng);
    for (float t : {0.0f, 0.1f, 0.5f, 0.9f, 1.0f}) {
      Quat r = scene::Slerp(q, scene::QuatNegate(q), t);
      EXPECT_TRUE(std::isfinite(r.w) && std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z));
    }
  }
  // The spherical branch: a quarter turn halfway is an eighth turn.
  Quat a{1, 0, 0, 0}, b = scene::QuatFromAxisAngle({0, 0, 1}, 1.5707964f);
  Quat h = scene::Slerp(a, b, 0.5f);
  EXPECT_NEAR(h.w, std::cos(0.39269908f), 1e-6);
  EXPECT_NEAR(h.z, std::sin(0.39269908f), 1e-6);
}

TEST(SceneMath, SineTable) {
  EXPECT_EQ(scene::TableSin(0.0f), 0.0f);
  for (float x = -10.0f; x < 10.0f; x += 0.37f) {
    EXPECT_NEAR(scene::TableSin(x), std::sin(x), 1e-4) << x;
    EXPECT_NEAR(scene::TableCos(x), std::cos(x), 1e-4) << x;
  }
  EXPECT_EQ(scene::TableSin(INFINITY), 0.0f);
  EXPECT_EQ(scene::TableSin(NAN), 0.0f);
}

}  // namespace

// The scene math, term by term in single precision. Built with
// -ffp-contract=off: no a·b + c is fused, so results are the same bits on
// every machine (and the array transforms equal the single calls).
#include "scene/math.h"

#include <cmath>

namespace scene {

Vec3 Add(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Scale(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Length(const Vec3& a) { return std::sqrt(Dot(a, a)); }
Vec3 Normalize(const Vec3& a) {
  float length = Length(a);
  if (!(length > 0.0f)) return a;
  return {a.x / length, a.y / length, a.z / length};
}

// --- quaternions -------------------------------------------------------------

Quat QuatMultiply(const Quat& a, const Quat& b) {
  Quat r;
  r.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
  r.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
  r.y = a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x;
  r.z = a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w;
  return r;
}

Quat QuatFromAxisAngle(const Vec3& axis, float angle) {
  float half = angle / 2.0f;
  float s = std::sin(half);
  return {std::cos(half), s * axis.x, s * axis.y, s * axis.z};
}

float QuatDot(const Quat& a, const Quat& b) { return a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z; }
Quat QuatNegate(const Quat& q) { return {-q.w, -q.x, -q.y, -q.z}; }
Quat QuatConjugate(const Quat& q) { return {q.w, -q.x, -q.y, -q.z}; }

Quat QuatInverse(const Quat& q) {
  float n = QuatDot(q, q);
  if (n == 0.0f) return {0.0f, 0.0f, 0.0f, 0.0f};
  return {q.w / n, -q.x / n, -q.y / n, -q.z / n};
}

Quat TurnQuarterX(const Quat& q) {
  static const Quat rx = QuatFromAxisAngle({1.0f, 0.0f, 0.0f}, kQuarterTurn);
  return QuatMultiply(q, rx);
}

Quat Slerp(const Quat& a, const Quat& b, float t) {
  float cos_theta = QuatDot(a, b);
  float wa = 1.0f - t, wb = t;
  if (1.0f - cos_theta > 0.001f) {
    // Rounding can put the dot of q and -q just below -1; acos would give NaN.
    float clamped = cos_theta < -1.0f ? -1.0f : cos_theta;
    float theta = std::acos(clamped);
    float sin_theta = std::sin(theta);
    if (sin_theta != 0.0f) {
      wa = std::sin((1.0f - t) * theta) / sin_theta;
      wb = std::sin(t * theta) / sin_theta;
    }
  }
  return {wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
}

// --- matrices ----------------------------------------------------------------

Mat3 Mat3FromQuat(const Quat& q) {
  const float w = q.w, x = q.x, y = q.y, z = q.z;
  Mat3 r;
  r.m[0][0] = 1.0f - 2.0f * y * y - 2.0f * z * z;
  r.m[0][1] = 2.0f * x * y + 2.0f * w * z;
  r.m[0][2] = 2.0f * x * z - 2.0f * w * y;
  r.m[1][0] = 2.0f * x * y - 2.0f * w * z;
  r.m[1][1] = 1.0f - 2.0f * x * x - 2.0f * z * z;
  r.m[1][2] = 2.0f * y * z + 2.0f * w * x;
  r.m[2][0] = 2.0f * x * z + 2.0f * w * y;
  r.m[2][1] = 2.0f * y * z - 2.0f * w * x;
  r.m[2][2] = 1.0f - 2.0f * x * x - 2.0f * y * y;
  return r;
}

Quat QuatFromMat3(const Mat3& mat) {
  const auto& m = mat.m;
  Quat q;
  float t = m[0][0] + m[1][1] + m[2][2];
  if (t > 0.0f) {
    float s = std::sqrt(t + 1.0f);
    q.w = s / 2.0f;
    float k = 0.5f / s;
    q.x = (m[2][1] - m[1][2]) * k;
    q.y = (m[0][2] - m[2][0]) * k;
    q.z = (m[1][0] - m[0][1]) * k;
    return q;
  }
  int i = m[1][1] > m[0][0] ? 1 : 0;
  if (m[2][2] > m[i][i]) i = 2;
  static const int next[3] = {1, 2, 0};
  int j = next[i];
  int k = next[j];
  float s = std::sqrt(m[i][i] - m[j][j] - m[k][k] + 1.0f);
  float v[3];
  v[i] = s / 2.0f;
  float h = 0.5f / s;
  q.w = (m[k][j] - m[j][k]) * h;
  v[j] = (m[j][i] + m[i][j]) * h;
  v[k] = (m[k][i] + m[i][k]) * h;
  q.x = v[0];
  q.y = v[1];
  q.z = v[2];
  return q;
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
  return r;
}

Matrix WorldMatrix(const Quat& q, const Vec3& p) {
  Mat3 r = Mat3FromQuat(q);
  Matrix m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m.m[i][j] = r.m[i][j];
  m.m[3][0] = p.x;
  m.m[3][1] = p.y;
  m.m[3][2] = p.z;
  m.m[3][3] = 1.0f;
  return m;
}

Matrix ViewMatrix(const Vec3& p, const Quat& q) {
  Mat3 r = Mat3FromQuat(q);
  Matrix m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m.m[i][j] = r.m[j][i];
  for (int j = 0; j < 3; ++j) {
    Vec3 row{r.m[j][0], r.m[j][1], r.m[j][2]};
    m.m[3][j] = -Dot(p, row);
  }
  m.m[3][3] = 1.0f;
  return m;
}

Matrix PerspectiveMatrix(float fov_degrees, float aspect, float near_plane) {
  float c = 1.0f / std::tan(fov_degrees * kFovFactor);
  Matrix m{};
  m.m[0][0] = c;
  m.m[1][1] = c / aspect;
  m.m[2][2] = kFarPlane / (kFarPlane - near_plane);
  m.m[2][3] = 1.0f;
  m.m[3][2] = -near_plane * m.m[2][2];
  return m;
}

Quat LookAt(const Vec3& eye, const Vec3& target, const Vec3& up) {
  Vec3 f = Normalize(Sub(target, eye));
  Vec3 r = Normalize(Cross(up, f));
  Vec3 u = Cross(f, r);
  Mat3 m;
  const Vec3 rows[3] = {r, u, f};
  for (int i = 0; i < 3; ++i) {
    m.m[i][0] = rows[i].x;
    m.m[i][1] = rows[i].y;
    m.m[i][2] = rows[i].z;
  }
  return QuatConjugate(QuatFromMat3(m));
}

void FrustumPlanes(const Matrix& vp, Plane planes[6]) {
  auto column = [&](int c) { return Plane{vp.m[0][c], vp.m[1][c], vp.m[2][c], vp.m[3][c]}; };
  auto add = [](const Plane& a, const Plane& b) { return Plane{a.a + b.a, a.b + b.b, a.c + b.c, a.d + b.d}; };
  auto sub = [](const Plane& a, const Plane& b) { return Plane{a.a - b.a, a.b - b.b, a.c - b.c, a.d - b.d}; };
  Plane c0 = column(0), c1 = column(1), c2 = column(2), c3 = column(3);
  planes[0] = add(c3, c0);  // left
  planes[1] = sub(c3, c0);  // right
  planes[2] = sub(c3, c1);  // top
  planes[3] = add(c3, c1);  // bottom
  planes[4] = c2;           // near
  planes[5] = sub(c3, c2);  // far
  for (int i = 0; i < 6; ++i) {
    Plane& p = planes[i];
    float length = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    if (length > 0.0f) p = {p.a / length, p.b / length, p.c / length, p.d / length};
  }
}

float PlaneDistance(const Plane& plane, const Vec3& p) {
  return plane.a * p.x + plane.b * p.y + plane.c * p.z + plane.d;
}

// --- transforms ----------------------------------------------------------------
// One element each; the array loops call the same inline bodies.

namespace {

inline Vec3 PointBody(const Vec3& p, const Matrix& m) {
  float x = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
  float y = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
  float z = p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2];
  float w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
  return {x / w, y / w, z / w};
}

inline Vec3 DirectionBody(const Vec3& v, const Matrix& m) {
  return {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
          v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
          v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
}

inline Vec3 TransposedBody(const Vec3& v, const Matrix& m) {
  return {v.x * m.m[0][0] + v.y * m.m[0][1] + v.z * m.m[0][2],
          v.x * m.m[1][0] + v.y * m.m[1][1] + v.z * m.m[1][2],
          v.x * m.m[2][0] + v.y * m.m[2][1] + v.z * m.m[2][2]};
}

template <Vec3 (*Body)(const Vec3&, const Matrix&)>
void TransformArray(const Vec3* in, Vec3* out, size_t count, const Matrix& m) {
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    Vec3 a = Body(in[i], m), b = Body(in[i + 1], m), c = Body(in[i + 2], m), d = Body(in[i + 3], m);
    out[i] = a;
    out[i + 1] = b;
    out[i + 2] = c;
    out[i + 3] = d;
  }
  for (; i < count; ++i) out[i] = Body(in[i], m);
}

}  // namespace

Vec3 TransformPoint(const Vec3& p, const Matrix& m) { return PointBody(p, m); }
Vec3 TransformDirection(const Vec3& v, const Matrix& m) { return DirectionBody(v, m); }
Vec3 TransformDirectionTransposed(const Vec3& v, const Matrix& m) { return TransposedBody(v, m); }

void TransformPoints(const Vec3* in, Vec3* out, size_t count, const Matrix& m) {
  TransformArray<PointBody>(in, out, count, m);
}
void TransformDirections(const Vec3* in, Vec3* out, size_t count, const Matrix& m) {
  TransformArray<DirectionBody>(in, out, count, m);
}
void TransformDirectionsTransposed(const Vec3* in, Vec3* out, size_t count, const Matrix& m) {
  TransformArray<TransposedBody>(in, out, count, m);
}

// --- sine table ----------------------------------------------------------------

namespace {
struct SineTable {
  float entry[512];
  SineTable() {
    for (int i = 0; i < 512; ++i)
      entry[i] = static_cast<float>(std::sin(static_cast<double>(i) * 2.0 * 3.14159265358979323846 / 512.0));
  }
};
const SineTable& Table() {
  static const SineTable table;
  return table;
}
}  // namespace

float TableSin(float x) {
  const float b = x * (512.0f / 6.2831855f);
  if (!std::isfinite(b) || std::fabs(b) > 1.0e15f) return 0.0f;
  float fl = std::floor(b);
  int64_t i = static_cast<int64_t>(fl);
  int64_t a = ((i % 512) + 512) % 512;
  int64_t n = (a + 1) % 512;
  float f = b - fl;
  const float* e = Table().entry;
  return e[a] + (e[n] - e[a]) * f;
}

float TableCos(float x) { return TableSin(x + 1.5707964f); }

}  // namespace scene

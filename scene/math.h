// 3D math of the scene engine: Direct3D conventions — a
// left-handed space, row vectors on the left of matrices (p' = p × M),
// row-major storage, translation in row 3. Quaternions are stored w, x, y, z.
//
//   scene::Quat q = scene::QuatFromAxisAngle({0, 1, 0}, 0.5f);
//   render::Matrix world = scene::WorldMatrix(q, {1, 2, 3});
//   scene::TransformPoints(in, out, count, world);
//
// Everything is single precision, each formula evaluated term by term; scene/ is built with -ffp-contract=off (never -ffast-math), so the
// same inputs give the same bits on every machine. Array transforms handle
// four elements per pass, then the rest, and equal the one-element calls
// bit for bit.
//
// Not here: anything with a device, a clock or a scene.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/device.h"  // render::Matrix, render::Vector (plain structs only)

namespace scene {

// A 3-vector: the render layer's plain vector (x, y, z), so a light record's
// position and direction need no conversion.
using Vec3 = render::Vector;
// The 4 × 4 matrix: m[row][col], rows 0-2 rotation/scale, row 3 translation.
using Matrix = render::Matrix;

struct Quat {
  float w = 1.0f, x = 0.0f, y = 0.0f, z = 0.0f;
  bool operator==(const Quat& o) const { return w == o.w && x == o.x && y == o.y && z == o.z; }
};

// 3 × 3 row-major; rows are the images of the local X, Y, Z axes.
struct Mat3 {
  float m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// A plane a·x + b·y + c·z + d (d is the fourth value).
struct Plane {
  float a = 0.0f, b = 0.0f, c = 0.0f, d = 0.0f;
};

// The angle of the fixed +90° turn about X, as the single-precision value
// stored scenes were made with.
inline constexpr float kQuarterTurn = 1.5707960f;
// π/360 for the field of view.
inline constexpr float kFovFactor = 0.008726646f;
// The projection's fixed far plane.
inline constexpr float kFarPlane = 1000000.0f;

// --- vectors -----------------------------------------------------------------
Vec3 Add(const Vec3& a, const Vec3& b);
Vec3 Sub(const Vec3& a, const Vec3& b);
Vec3 Scale(const Vec3& a, float s);
float Dot(const Vec3& a, const Vec3& b);
Vec3 Cross(const Vec3& a, const Vec3& b);
float Length(const Vec3& a);
// a / |a|; a zero vector stays zero.
Vec3 Normalize(const Vec3& a);

// --- quaternions -------------------------------------------------------------
// Hamilton product, a on the left.
Quat QuatMultiply(const Quat& a, const Quat& b);
// (cos(a/2), sin(a/2)·axis), the axis as passed (not normalised).
Quat QuatFromAxisAngle(const Vec3& axis, float angle);
float QuatDot(const Quat& a, const Quat& b);
Quat QuatNegate(const Quat& q);
Quat QuatConjugate(const Quat& q);
// Conjugate / squared length; (0, 0, 0, 0) for a zero quaternion.
Quat QuatInverse(const Quat& q);
// q ⊗ rx(π/2): the turn applied to camera and directional-light rotations.
Quat TurnQuarterX(const Quat& q);
// Spherical interpolation without sign correction or renormalisation.
Quat Slerp(const Quat& a, const Quat& b, float t);

// --- matrices ----------------------------------------------------------------
Mat3 Mat3FromQuat(const Quat& q);
// Inverse of Mat3FromQuat up to conjugation: QuatFromMat3(Mat3FromQuat(q))
// is the conjugate of q (up to sign).
Quat QuatFromMat3(const Mat3& m);
// a then b: p × (a × b).
Matrix Multiply(const Matrix& a, const Matrix& b);
// Rows 0-2 = Mat3FromQuat(q), row 3 = (p, 1), column 3 = (0, 0, 0, 1).
Matrix WorldMatrix(const Quat& q, const Vec3& p);
// The inverse of WorldMatrix(q, p).
Matrix ViewMatrix(const Vec3& p, const Quat& q);
// fov in degrees (horizontal), aspect = height / width, far fixed.
Matrix PerspectiveMatrix(float fov_degrees, float aspect, float near_plane);
// Rotation whose matrix has rows r, u, f: +Z looks from eye to target.
Quat LookAt(const Vec3& eye, const Vec3& target, const Vec3& up);
// left, right, top, bottom, near, far of a view-projection matrix, each
// normalised by the length of (a, b, c). A point is inside when every
// PlaneDistance is >= 0.
void FrustumPlanes(const Matrix& view_projection, Plane planes[6]);
float PlaneDistance(const Plane& plane, const Vec3& p);

// --- transforms (single and array) -------------------------------------------
// p × M divided by w.
Vec3 TransformPoint(const Vec3& p, const Matrix& m);
// v × the 3 × 3 part of M.
Vec3 TransformDirection(const Vec3& v, const Matrix& m);
// v × the transposed 3 × 3 part (the inverse rotation).
Vec3 TransformDirectionTransposed(const Vec3& v, const Matrix& m);
// Arrays: out may equal in.
void TransformPoints(const Vec3* in, Vec3* out, size_t count, const Matrix& m);
void TransformDirections(const Vec3* in, Vec3* out, size_t count, const Matrix& m);
void TransformDirectionsTransposed(const Vec3* in, Vec3* out, size_t count, const Matrix& m);

// --- sine table ----------------------------------------------------------------
// 512 entries of sin(i × 2π / 512), linearly interpolated.
float TableSin(float x);
float TableCos(float x);

}  // namespace scene

// The render view: a camera pose, its projection, frustum and viewport.
// Inputs are sanitised here once, so a bad fov or near plane from a file or
// a command can never put a NaN into the projection.
#include <cmath>

#include "scene/scene.h"

namespace scene {
namespace {

float ClampFov(float fov) {
  if (std::isnan(fov)) return 0.1f;
  if (!(fov > 0.0f && fov < 180.0f)) return fov <= 0.0f ? 0.1f : 179.0f;
  return fov < 0.1f ? 0.1f : (fov > 179.0f ? 179.0f : fov);
}

float ClampNear(float near_plane) {
  if (std::isnan(near_plane) || near_plane < 0.0001f) return 0.0001f;
  return near_plane > 999999.0f ? 999999.0f : near_plane;
}

}  // namespace

void View::SetCamera(const Vec3& position, const Quat& rotation, float fov_degrees, float aspect, float near_plane,
                     float far_plane) {
  position_ = position;
  rotation_ = rotation;
  fov_ = ClampFov(fov_degrees);
  aspect_ = std::isfinite(aspect) && aspect > 0.0f ? aspect : 0.75f;
  near_ = ClampNear(near_plane);
  far_ = far_plane;
  Update();
}

void View::SetViewport(float x, float y, float w, float h) {
  vx_ = x;
  vy_ = y;
  vw_ = w;
  vh_ = h;
}

void View::SetFlip(bool flip_x, bool flip_y) {
  flip_x_ = flip_x;
  flip_y_ = flip_y;
  Update();
}

void View::Update() {
  view_ = scene::ViewMatrix(position_, rotation_);
  projection_ = PerspectiveMatrix(fov_, aspect_, near_);
  if (flip_x_) projection_.m[0][0] = -projection_.m[0][0];
  if (flip_y_) projection_.m[1][1] = -projection_.m[1][1];
  scene::FrustumPlanes(scene::Multiply(view_, projection_), planes_);
}

int View::SphereInFrustum(const Vec3& centre, float radius) const {
  int result = 1;
  for (const Plane& plane : planes_) {
    const float d = PlaneDistance(plane, centre);
    if (d < -radius) return -1;
    if (d < radius) result = 0;
  }
  return result;
}

Matrix View::Orientation() const {
  const Mat3 r = Mat3FromQuat(rotation_);
  Matrix m = Matrix::Identity();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m.m[i][j] = r.m[i][j];
  return m;
}

bool View::PixelViewport(uint32_t target_width, uint32_t target_height, render::Viewport* out) const {
  if (!std::isfinite(vx_) || !std::isfinite(vy_) || !std::isfinite(vw_) || !std::isfinite(vh_)) return false;
  if (vw_ <= 0.0f || vh_ <= 0.0f || target_width == 0 || target_height == 0) return false;
  const double sx = target_width / 640.0, sy = target_height / 480.0;
  auto clip = [](double v, uint32_t limit) {
    return static_cast<uint32_t>(std::lround(v < 0.0 ? 0.0 : (v > limit ? limit : v)));
  };
  const uint32_t x0 = clip(vx_ * sx, target_width), x1 = clip((static_cast<double>(vx_) + vw_) * sx, target_width);
  const uint32_t y0 = clip(vy_ * sy, target_height),
                 y1 = clip((static_cast<double>(vy_) + vh_) * sy, target_height);
  if (x1 <= x0 || y1 <= y0) return false;
  out->x = x0;
  out->y = y0;
  out->width = x1 - x0;
  out->height = y1 - y0;
  out->min_z = 0.0f;
  out->max_z = 1.0f;
  return true;
}

int View::Apply(render::Device& device) const {
  std::shared_ptr<render::Surface> target = device.GetRenderTarget();
  if (!target) return -1;
  const render::SurfaceDesc desc = target->GetDesc();
  render::Viewport viewport;
  if (!PixelViewport(desc.width, desc.height, &viewport)) return -1;
  if (device.SetTransform(render::TS_VIEW, view_) != 0 || device.SetTransform(render::TS_PROJECTION, projection_) != 0 ||
      device.SetViewport(viewport) != 0)
    return -1;
  return 0;
}

}  // namespace scene

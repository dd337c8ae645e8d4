// The render view.
#include "scene/scene.h"

namespace scene {

void View::SetCamera(const Vec3& position, const Quat& rotation, float fov_degrees, float aspect, float near_plane,
                     float far_plane) {
  position_ = position;
  rotation_ = rotation;
  fov_ = fov_degrees;
  aspect_ = aspect;
  near_ = near_plane;
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
void View::Update() {}
int View::SphereInFrustum(const Vec3&, float) const { return 1; }
Matrix View::Orientation() const { return Matrix::Identity(); }
bool View::PixelViewport(uint32_t, uint32_t, render::Viewport*) const { return false; }
int View::Apply(render::Device&) const { return -1; }

}  // namespace scene

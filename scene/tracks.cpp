// Animation tracks and the scene's playback clock.
//
// The sample index is taken in double and wrapped with fmod (Euclidean,
// so negative times run the loop backwards), never through an integer
// cast: any finite time, however large or negative, lands in the loop.
#include <cmath>

#include "scene/scene_internal.h"

namespace scene {
namespace internal {

void LoopPosition(double b, size_t period, size_t* index, float* fraction) {
  if (!std::isfinite(b)) {
    *index = 0;
    *fraction = 0.0f;
    return;
  }
  const double whole = std::floor(b);
  double wrapped = std::fmod(whole, static_cast<double>(period));
  if (wrapped < 0.0) wrapped += static_cast<double>(period);
  size_t i = static_cast<size_t>(wrapped);
  if (i >= period) i = 0;  // -tiny + period rounding to period
  *index = i;
  *fraction = static_cast<float>(b - whole);
}

void SampleAt(const PosRotController& track, size_t i, float f, Vec3* position, Quat* rotation) {
  const PosRotSample& s0 = track.samples[i];
  if (f == 0.0f) {
    *position = s0.position;
    *rotation = s0.rotation;
    return;
  }
  const PosRotSample& s1 = track.samples[i + 1];
  position->x = s0.position.x + (s1.position.x - s0.position.x) * f;
  position->y = s0.position.y + (s1.position.y - s0.position.y) * f;
  position->z = s0.position.z + (s1.position.z - s0.position.z) * f;
  *rotation = Slerp(s0.rotation, s1.rotation, f);
}

}  // namespace internal

bool PosRotController::Sample(double a, Vec3* position, Quat* rotation) const {
  const size_t n = samples.size();
  if (n == 0) return false;
  if (n == 1) {
    *position = samples[0].position;
    *rotation = samples[0].rotation;
    return true;
  }
  size_t i;
  float f;
  internal::LoopPosition(a * static_cast<double>(rate), n - 1, &i, &f);
  internal::SampleAt(*this, i, f, position, rotation);
  return true;
}

bool FloatController::Sample(double a, float* value) const {
  const size_t n = values.size();
  if (n == 0) return false;
  size_t i;
  float f;
  internal::LoopPosition(a * static_cast<double>(rate), n, &i, &f);
  const float v0 = values[i], v1 = values[(i + 1) % n];
  *value = f == 0.0f ? v0 : (1.0f - f) * v0 + f * v1;
  return true;
}

// --- playback -----------------------------------------------------------------

void Scene::SetStartTime(double t) {
  if (std::isfinite(t)) start_time = t;
}

void Scene::SetTimeOffset(double x) {
  if (std::isfinite(x)) time_offset = x;
}

void Scene::SetSpeed(double s, double now) {
  if (!std::isfinite(s) || !std::isfinite(now)) return;
  const double offset = (now - start_time) * speed + time_offset;
  if (!std::isfinite(offset)) return;
  time_offset = offset;
  start_time = now;
  speed = s;
}

double Scene::AnimationTime(double now) const { return time_offset + (now - start_time) * speed; }

void Scene::SetNoise(float x, float y, float z, double duration, double now) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !std::isfinite(duration) ||
      !std::isfinite(now))
    return;
  noise_x = x;
  noise_y = y;
  noise_z = z;
  noise_duration = duration < 0.0 ? 0.0 : duration;
  noise_start = now;
}

}  // namespace scene

// Animation tracks and the scene's playback clock.
#include "scene/scene.h"

namespace scene {

bool PosRotController::Sample(double, Vec3*, Quat*) const { return false; }
bool FloatController::Sample(double, float*) const { return false; }

}  // namespace scene

// Skinning.
#include "scene/scene.h"

namespace scene {}  // namespace scene

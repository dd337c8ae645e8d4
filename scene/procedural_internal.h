// Internal to scene/: what the procedural kinds' files share.
#pragma once

#include <cstdint>
#include <memory>

#include "scene/procedural.h"

namespace scene::internal {

// The object of one kind for a placeholder (every kind; kinds drawn
// elsewhere, or not built yet, are plain placeholder objects).
std::unique_ptr<ProceduralObject> MakeKind(Scene* scene, uint32_t kind, int32_t file_index, const Vec3& position,
                                           const Quat& rotation, render::ShaderHandle material);
// Draws every object of `kind` of the context's scene.
void DrawKind(uint32_t kind, const ProceduralDrawContext& ctx);

}  // namespace scene::internal

// The metaball step of a scene's drawing: the field is reset, every
// metaball placeholder adds its position at the pass's animation time, the
// first one's material is used, and the field is drawn in the view the
// pass has set (its own viewport kept).
#include "scene/draw_internal.h"
#include "scene/metaballs.h"
#include "scene/procedural.h"

namespace scene {
void DrawMetaballPlaceholders(const ProceduralDrawContext& ctx) {
  if (!ctx.scene) return;
  const Scene& scene = *ctx.scene;
  ResetBalls();
  bool first = true;
  int over = 0;
  for (const std::unique_ptr<ProceduralObject>& object : scene.procedurals) {
    if (!object || object->Kind() != PROCEDURAL_METABALL) continue;
    // Metaball placeholders are plain placeholder objects.
    const auto& placeholder = static_cast<const PlaceholderObject&>(*object);
    if (first) {
      SetMaterial(placeholder.Material());
      first = false;
    }
    Vec3 position;
    Quat rotation;
    placeholder.PoseAt(scene, ctx.time, &position, &rotation);
    if (!AddBall(position) && BallCount() >= kMaxMetaballs) ++over;
  }
  if (first) return;  // no metaball placeholders
  if (over > 0 && internal::FirstReport(&scene, "metaballs beyond the limit"))
    core::Trace("SCENE: %d metaballs beyond the first %d are not drawn.\n", over, kMaxMetaballs);
  DrawMetaballs();
}

void InstallMetaballStage() { SetMetaballStage(DrawMetaballPlaceholders); }

}  // namespace scene

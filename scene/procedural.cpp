// Procedural objects: the factory that turns placeholders into objects,
// their poses, and the drawer that dispatches each stage to its kind.
#include "scene/procedural.h"

#include <cmath>
#include <functional>
#include <memory>
#include <utility>

#include "scene/procedural_internal.h"

namespace scene {

bool PlaceholderPose(const Scene& scene, int32_t file_index, double t, Vec3* position, Quat* rotation) {
  const SceneObject* object = scene.ObjectAt(file_index);
  if (!object) return false;
  const int32_t track = object->controllable.track;
  if (track >= 0 && static_cast<size_t>(track) < scene.pos_rot_tracks.size() &&
      scene.pos_rot_tracks[track].Sample(t, position, rotation))
    return true;
  *position = object->position;
  *rotation = object->rotation;
  return true;
}

void PlaceholderObject::PoseAt(const Scene& scene, double t, Vec3* position, Quat* rotation) const {
  *position = position_;
  *rotation = rotation_;
  const SceneObject* object = scene.ObjectAt(file_index_);
  if (!object) return;
  const int32_t track = object->controllable.track;
  if (track >= 0 && static_cast<size_t>(track) < scene.pos_rot_tracks.size())
    scene.pos_rot_tracks[track].Sample(t, position, rotation);
}

namespace {

std::function<void(const ProceduralDrawContext&)>& MetaballStage() {
  static std::function<void(const ProceduralDrawContext&)> stage;
  return stage;
}

// The lowest kind bit: kind names never prefix one another, so a name
// matches one kind.
uint32_t FirstKind(uint32_t kinds) { return kinds & (~kinds + 1u); }

int MakeProcedural(Scene* scene, int32_t file_index, uint32_t kinds) {
  const SceneObject* object = scene->ObjectAt(file_index);
  if (!object) return 0;
  // A placeholder without elements (a damaged file) has no material: -1
  // draws with the NULL shader.
  const render::ShaderHandle material = object->mesh.elements.empty() ? -1 : object->mesh.elements[0].material;
  const uint32_t kind = FirstKind(kinds);
  std::unique_ptr<ProceduralObject> made =
      internal::MakeKind(scene, kind, file_index, object->position, object->rotation, material);
  if (made) scene->procedurals.push_back(std::move(made));
  return 0;
}

void DrawStage(ProceduralStage stage, const ProceduralDrawContext& ctx) {
  if (!ctx.scene) return;
  switch (stage) {
    case ProceduralStage::kBeforeLights:
      internal::DrawKind(PROCEDURAL_TRAUMA, ctx);
      break;
    case ProceduralStage::kAfterObjects:
      if (MetaballStage()) MetaballStage()(ctx);
      internal::DrawKind(PROCEDURAL_SPHERICAL, ctx);
      internal::DrawKind(PROCEDURAL_DISTORTBALL, ctx);
      internal::DrawKind(PROCEDURAL_SPIKETUBE, ctx);
      internal::DrawKind(PROCEDURAL_BOLASYNC, ctx);
      break;
    case ProceduralStage::kParticles:
      internal::DrawKind(PROCEDURAL_PARTICLE, ctx);
      break;
  }
}

}  // namespace

void SetMetaballStage(std::function<void(const ProceduralDrawContext&)> stage) { MetaballStage() = std::move(stage); }

void InstallProcedurals() {
  SetProceduralFactory(MakeProcedural);
  SetProceduralDrawer(DrawStage);
}

}  // namespace scene

namespace scene::internal {

std::unique_ptr<ProceduralObject> MakeKind(Scene* scene, uint32_t kind, int32_t file_index, const Vec3& position,
                                           const Quat& rotation, render::ShaderHandle material) {
  (void)scene;
  return std::make_unique<PlaceholderObject>(kind, file_index, position, rotation, material);
}

void DrawKind(uint32_t kind, const ProceduralDrawContext& ctx) {
  (void)kind;
  (void)ctx;
}

}  // namespace scene::internal

namespace scene {

int SetParticleParams(Scene* scene, std::string_view name, std::string_view text) {
  (void)scene;
  (void)name;
  (void)text;
  return -1;
}

}  // namespace scene

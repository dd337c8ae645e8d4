// Procedural scene objects: what a "@KIND..." placeholder stands for.
//
// At load the factory (InstallProcedurals) makes one object per
// placeholder; it copies the placeholder's node pose and the shader of its
// first element, and remembers the placeholder's file index so its track
// moves the object. Drawing goes through the scene's drawer hook in three
// stages (trauma tubes before the lights, the surfaces after the objects,
// particle systems last).
//
//   scene::InstallProcedurals();                 // once, at start-up
//   scene::LoadScene(&scene, "room.txt", options);
//   scene::SetParticleParams(&scene, "@PARTICLE01", "1 3 50 0 10 0 0 -9.8 0 10");
//
// Nothing here reads a clock: particle systems and morphs run on the draw
// request's "now", tracks on the animation time.
#pragma once

#include <cstdint>
#include <string_view>

#include "render/materials.h"
#include "scene/draw.h"
#include "scene/math.h"
#include "scene/scene.h"

namespace scene {

// The pose of the placeholder at file index `file_index` at animation time
// `t`: its track's sample (the track's own rule for one or no sample),
// else its node values. Parents are ignored. False (outputs untouched) when
// the index names no object.
bool PlaceholderPose(const Scene& scene, int32_t file_index, double t, Vec3* position, Quat* rotation);

// What every procedural object carries. Objects of kind PROCEDURAL_METABALL
// are exactly this (the metaball field reads their poses and material).
class PlaceholderObject : public ProceduralObject {
 public:
  PlaceholderObject(uint32_t kind, int32_t file_index, const Vec3& position, const Quat& rotation,
                    render::ShaderHandle material)
      : kind_(kind), file_index_(file_index), position_(position), rotation_(rotation), material_(material) {}
  uint32_t Kind() const override { return kind_; }
  int32_t FileIndex() const { return file_index_; }
  // The shader of the placeholder's first element; -1 for none (drawn with
  // the NULL shader).
  render::ShaderHandle Material() const { return material_; }
  const Vec3& Position() const { return position_; }
  const Quat& Rotation() const { return rotation_; }
  // The placeholder's track at animation time t, else the copied pose.
  void PoseAt(const Scene& scene, double t, Vec3* position, Quat* rotation) const;

 private:
  uint32_t kind_;
  int32_t file_index_;
  Vec3 position_;
  Quat rotation_;
  render::ShaderHandle material_;
};

// Installs the scene's procedural factory and drawer (SetProceduralFactory,
// SetProceduralDrawer). The metaball stage, when set, runs first among the
// surfaces drawn after the objects.
void InstallProcedurals();
void SetMetaballStage(std::function<void(const ProceduralDrawContext&)> stage);

// "PARTICLEPARAMS": for every particle system whose placeholder name equals
// `name` (upper-cased), ten reals: size, lifetime, particles per second,
// vx, vy, vz, ax, ay, az, disc size; nine keep the disc size. Fewer, or a
// non-finite one, change nothing. 0 when at least one system changed, -1
// otherwise (with a message shown). `quiet` leaves out the note about a
// capped rate (for a text applied and reported before).
int SetParticleParams(Scene* scene, std::string_view name, std::string_view text, bool quiet = false);

}  // namespace scene

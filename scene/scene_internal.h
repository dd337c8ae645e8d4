// Internal to scene/: the text reader hands validated mesh geometry to the
// mesh converter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/scene.h"

namespace scene::internal {

// One "MAXMESH", validated: every index is in range and every list has its
// face count.
struct MeshSource {
  bool skinned = false;
  std::vector<Vec3> positions;                   // plain meshes
  std::vector<std::vector<SkinInfluence>> skin;  // skinned meshes, per vertex
  std::vector<float> uvs;                        // u v per entry (may be empty)
  std::vector<uint32_t> colours;                 // packed A8R8G8B8 per entry (may be empty)
  std::vector<int32_t> vertex_indices;           // 3 per face
  std::vector<int32_t> uv_indices;               // 3 per face when uvs is not empty
  std::vector<int32_t> colour_indices;           // 3 per face when colours is not empty
  std::vector<int32_t> smoothing;                // 1 per face
  std::vector<int32_t> materials;                // 1 per face: a material ID, -1 for none
  size_t FaceCount() const { return vertex_indices.size() / 3; }
};

// Normals from smoothing groups, faces sorted stably by material ID (runs in
// ascending order), welding per element; a run is split into further
// elements of the same material before a face would pass 65,535 vertices or
// 60,000 indices. `material_name` gives each element's material name from
// its material ID (-1: none).
void ConvertMesh(const MeshSource& source, const std::function<std::string(int32_t)>& material_name,
                 std::vector<MeshElement>* elements);

// trunc(c × 255) clamped to 0-255 (NaN gives 0).
uint32_t PackChannel(float c);

// floor(b) wrapped Euclidean-style into 0 .. period - 1 through fmod on
// doubles, and the fraction b - floor(b); a non-finite b gives 0 and 0.
void LoopPosition(double b, size_t period, size_t* index, float* fraction);
// A track of two or more samples at loop position (i, f): the same bits as
// PosRotController::Sample at a time that has that position.
void SampleAt(const PosRotController& track, size_t i, float f, Vec3* position, Quat* rotation);

// Parents in range, never an object's own, no cycle.
bool ParentsValid(const std::vector<SceneMesh>& meshes);

// Skins one element whose bones resolved, from skin.bone_worlds: every
// vertex p = Σ shareₖ · (offsetₖ × Wₖ), shares being wₖ / Σ w (1 / count when Σ w <= 0,
// the origin without influences), then normals from the skinned triangles
// (face normals weighted by area summed per vertex, normalised; (0, 0, 1)
// when zero) and the bounding sphere. `indices` are the element's.
void SkinElement(const uint16_t* indices, RenderElement* element);
// Its two steps, for the benchmark.
void SkinPositions(RenderElement* element);
void SkinNormalsAndBounds(const uint16_t* indices, RenderElement* element);

}  // namespace scene::internal

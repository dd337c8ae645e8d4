// Internal to scene/: what the procedural kinds' files share.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "render/layer.h"

#include "scene/procedural.h"

namespace scene::internal {

// The object of one kind for a placeholder (every kind; kinds drawn
// elsewhere, or not built yet, are plain placeholder objects).
std::unique_ptr<ProceduralObject> MakeKind(Scene* scene, uint32_t kind, int32_t file_index, const Vec3& position,
                                           const Quat& rotation, render::ShaderHandle material);
// Draws every object of `kind` of the context's scene.
void DrawKind(uint32_t kind, const ProceduralDrawContext& ctx);

// --- particle systems ----------------------------------------------------------

inline constexpr uint32_t kParticleBatch = 1000;         // squares per draw
inline constexpr int kMaxParticleRate = 10000;           // per second
inline constexpr int64_t kMaxLiveParticles = 65000;      // per system: the youngest

struct ParticleParams {
  float size = 1.0f;
  float lifetime = 3.0f;
  float rate = 50.0f;  // particles per second
  float vx = 0.0f, vy = 10.0f, vz = 0.0f;
  float ax = 0.0f, ay = 0.0f, az = 0.0f;
  float fade_start = 0.8f;
  float disc = 10.0f;
  // Seconds between emissions: 1 / rate capped at kMaxParticleRate; a rate
  // <= 0 or not finite gives 1,000,000.
  double Interval() const;
};

class ParticleSystem : public PlaceholderObject {
 public:
  ParticleSystem(int32_t file_index, const Vec3& position, const Quat& rotation, render::ShaderHandle material,
                 std::string_view name);
  void ResetPlayback() override { params_ = ParticleParams(); }
  ParticleParams& Params() { return params_; }
  const ParticleParams& Params() const { return params_; }
  const std::string& Name() const { return name_; }
  uint64_t Seed() const { return seed_; }
  // The squares alive at `now` (animation time t), four world-space
  // vertices each, oldest first, facing along right/up. Returns the count.
  size_t BuildSquares(const Scene& scene, double now, double t, const Vec3& right, const Vec3& up,
                      std::vector<render::RenderVertex>* out) const;

 private:
  ParticleParams params_;
  std::string name_;
  uint64_t seed_;
};

// FNV-1a of the name.
uint64_t NameSeed(std::string_view name);
// Random number i (0..3) of emission k: 15 bits × 32769 / 2^30.
float ParticleRandom(uint64_t seed, int64_t k, int i);
// Tests replace the random numbers (an empty function restores them).
void SetParticleRandomSeam(std::function<float(uint64_t, int64_t, int)> seam);
// Called with the square count of every particle draw (tests).
void SetParticleBatchObserver(std::function<void(uint32_t)> observer);
void NoteParticleBatch(uint32_t squares);
// Streams world-space squares in batches through the shared buffers.
void StreamSquares(const std::vector<render::RenderVertex>& squares);
// The particles' default states, then pass 0 of `material` (NULL when it
// is -1 or fails), world identity.
void ApplyParticleStates(render::Device* device, render::ShaderHandle material);
void DrawParticles(const ProceduralDrawContext& ctx);

// --- drawing as render-queue items ------------------------------------------------

// Points the item at a mesh that stays in memory until the flush.
inline void SetItemMesh(render::DrawItem* item, const std::vector<render::RenderVertex>& vertices,
                        const std::vector<uint16_t>& indices) {
  item->vertices = vertices.data();
  item->vertex_count = static_cast<uint32_t>(vertices.size());
  item->indices = indices.data();
  item->triangle_count = static_cast<int32_t>(indices.size() / 3);
}

// One item per object of `kind` (class T): world = its pose at the pass's
// time (a non-finite pose skips it), depth = the camera distance, its
// material or the NULL shader; fill(object, position, rotation, item) sets
// the mesh (false skips the object). One flush for them all.
template <typename T, typename Fill>
void SubmitEachOfKind(uint32_t kind, const ProceduralDrawContext& ctx, Fill fill) {
  const auto finite = [](float a, float b, float c, float d) {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
  };
  std::vector<render::DrawItem> items;
  for (auto& object : ctx.scene->procedurals) {
    if (object->Kind() != kind) continue;
    auto& o = static_cast<T&>(*object);
    Vec3 position;
    Quat rotation;
    o.PoseAt(*ctx.scene, ctx.time, &position, &rotation);
    if (!finite(position.x, position.y, position.z, 0.0f) || !finite(rotation.w, rotation.x, rotation.y, rotation.z))
      continue;
    render::DrawItem item;
    item.world = WorldMatrix(rotation, position);
    if (!fill(o, position, rotation, &item)) continue;
    item.depth = Length(Sub(position, ctx.eye));
    item.shader = o.Material() >= 0 ? o.Material() : render::kNullShader;
    items.push_back(item);
  }
  for (const render::DrawItem& item : items)
    if (render::SubmitDrawItem(&item) != 0) {
      render::DrawItem fallback = item;
      fallback.shader = render::kNullShader;
      render::SubmitDrawItem(&fallback);
    }
  if (!items.empty()) render::FlushRenderQueue();
}

// --- surfaces -------------------------------------------------------------------

inline constexpr int kSphericalSide = 76;
inline constexpr int kDistortSide = 40;

// Two triangles per cell of a rows × columns vertex grid (row-major): a,
// b, c and b, d, c, with a at (row i, column j), b the next column, c the
// next row, d both.
std::vector<uint16_t> GridIndices(int rows, int columns);
// Per vertex the sum of its triangles' unnormalised face normals,
// normalised; (0, 1, 0) where that sum is zero. With seam_columns, the
// vertices are rows of that many whose first and last columns coincide:
// the two share their sum.
void AccumulateNormals(std::vector<render::RenderVertex>* vertices, const std::vector<uint16_t>& indices,
                       int seam_columns = 0);

struct SphericalBlend {
  int shape = 0;       // 0..6
  float blend = 0.0f;  // toward shape + 1 (mod 7)
};
SphericalBlend SphericalBlendAt(double now);
// The blended 76 × 76 grid (rows v, columns u) at now, cached per now.
const std::vector<render::RenderVertex>& SphericalVertices(double now);
const std::vector<uint16_t>& SphericalIndexList();
const std::vector<uint16_t>& DistortIndexList();
// The uniform cubic B-spline over six controls at s (clamped to [0, 1]).
float BSpline6(const float c[6], float s);
// The 40 × 40 distort-ball grid at animation time t.
void BuildDistortBall(double t, std::vector<render::RenderVertex>* vertices);
void DrawSphericals(const ProceduralDrawContext& ctx);
void DrawDistortBalls(const ProceduralDrawContext& ctx);

// --- spike tubes and bola syncs -------------------------------------------------

inline constexpr int kSpikeSteps = 30;  // test spheres each way
inline constexpr int kSpikeRings = 31;
inline constexpr int kBolaRings = 76;
inline constexpr int kBolaRingVertices = 77;

std::unique_ptr<ProceduralObject> MakeSpikeTube(int32_t file_index, const Vec3& position, const Quat& rotation,
                                                render::ShaderHandle material);
std::unique_ptr<ProceduralObject> MakeBolaSync(int32_t file_index, const Vec3& position, const Quat& rotation,
                                               render::ShaderHandle material);
// The ring radius at x and tube time tau.
float SpikeRadius(double x, double tau);
// Ring positions (multiples of 8, ascending, at most 31, the nearest to
// cam_x) over the stretch whose test centres `visible` accepts.
void SpikeRingPositions(double cam_x, const std::function<bool(double)>& visible, std::vector<double>* rings);
void BuildSpikeTube(const std::vector<double>& rings, double tau, std::vector<render::RenderVertex>* vertices,
                    std::vector<uint16_t>* indices);

// Sound bands of the last 76 program frames, newest first from `newest`.
struct BolaHistory {
  float entries[kBolaRings][kSoundBands] = {};
  int newest = 0;
  float last_stamp = 0.0f;
  bool filled = false;
  // One entry per frame stamp: a second push with the same stamp is
  // ignored. Non-finite values count as 0.
  void Push(float stamp, const float* bands);
};
void BuildBolaSync(const BolaHistory& history, std::vector<render::RenderVertex>* vertices);
BolaHistory* BolaHistoryOf(ProceduralObject* object);
void DrawSpikeTubes(const ProceduralDrawContext& ctx);
void DrawBolaSyncs(const ProceduralDrawContext& ctx);

// --- the trauma tube -------------------------------------------------------------

inline constexpr int kTraumaRings = 64;
inline constexpr int kTraumaRingVertices = 48;

struct TraumaVertex {
  float x, y, z;
  uint32_t diffuse;
  float u0, v0, u1, v1;
};
static_assert(sizeof(TraumaVertex) == 32);
inline constexpr uint32_t kFvfTraumaVertex = render::FVF_XYZ | render::FVF_DIFFUSE | render::FVF_TEX2;

// The grey of the height image (0..1), any size; empty without an image.
struct TraumaHeights {
  uint32_t width = 0, height = 0;
  std::vector<float> grey;
  // Bilinear, wrapping; 0.5 without an image.
  float At(double u, double v) const;
};
// 0, or -1 after showing the missing-image message.
int LoadTraumaHeights(const char* path, TraumaHeights* out);
void BuildTrauma(const TraumaHeights& heights, double tau, std::vector<TraumaVertex>* vertices);
const std::vector<uint16_t>& TraumaIndexList();
std::unique_ptr<ProceduralObject> MakeTrauma(Scene* scene, int32_t file_index, const Vec3& position,
                                             const Quat& rotation);
void DrawTraumas(const ProceduralDrawContext& ctx);
// Called for every trauma pass drawn (tests).
void SetTraumaDrawObserver(std::function<void(render::ShaderHandle, int)> observer);
void NoteTraumaDraw(render::ShaderHandle shader, int pass);

}  // namespace scene::internal

// Particle systems.
//
// Design: a system keeps no particles. Emissions lie on the lattice
// k × interval (seconds of "now", double), so the particles alive at `now`
// are the k with k·interval < now < k·interval + lifetime, computed
// directly: the cost is the live particles only, whatever resets, pauses
// or jumps of the clock happened, and two renders of the same times give
// the same squares. Each emission's four random numbers come from a
// counter-based hash of (seed, k, i), the seed from the placeholder's
// name, so a regenerated set never flickers.
//
// Squares stream through the shared dynamic buffers in batches of 1000
// with one index pattern built once for every system.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "app/core/numbers.h"
#include "render/display.h"
#include "render/layer.h"
#include "scene/procedural_internal.h"

namespace scene {
namespace internal {
namespace {

std::function<float(uint64_t, int64_t, int)>& RandomSeam() {
  static std::function<float(uint64_t, int64_t, int)> seam;
  return seam;
}

uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The index pattern of a full batch: 0, 1, 2, 0, 2, 3 per square.
const std::array<uint16_t, kParticleBatch * 6>& IndexPattern() {
  static const std::array<uint16_t, kParticleBatch * 6> pattern = [] {
    std::array<uint16_t, kParticleBatch * 6> p{};
    for (uint32_t s = 0; s < kParticleBatch; ++s) {
      const uint16_t b = static_cast<uint16_t>(s * 4);
      const uint16_t quad[6] = {b, static_cast<uint16_t>(b + 1), static_cast<uint16_t>(b + 2),
                                b, static_cast<uint16_t>(b + 2), static_cast<uint16_t>(b + 3)};
      std::memcpy(&p[s * 6], quad, sizeof quad);
    }
    return p;
  }();
  return pattern;
}

bool FiniteVec(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

uint64_t NameSeed(std::string_view name) {
  uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
  for (unsigned char c : name) {
    h ^= c;
    h *= 0x100000001B3ull;
  }
  return h;
}

float ParticleRandom(uint64_t seed, int64_t k, int i) {
  if (RandomSeam()) return RandomSeam()(seed, k, i);
  const uint64_t x =
      SplitMix64(SplitMix64(seed ^ SplitMix64(static_cast<uint64_t>(k))) + static_cast<uint64_t>(i));
  const uint32_t r = static_cast<uint32_t>(x >> 49);  // 15 bits: 0..32767
  return static_cast<float>(static_cast<double>(r) * 32769.0 / 1073741824.0);
}

void SetParticleRandomSeam(std::function<float(uint64_t, int64_t, int)> seam) { RandomSeam() = std::move(seam); }

double ParticleParams::Interval() const {
  if (!std::isfinite(rate) || rate <= 0.0f) return 1000000.0;
  return 1.0 / std::min(static_cast<double>(rate), static_cast<double>(kMaxParticleRate));
}

ParticleSystem::ParticleSystem(int32_t file_index, const Vec3& position, const Quat& rotation,
                               render::ShaderHandle material, std::string_view name)
    : PlaceholderObject(PROCEDURAL_PARTICLE, file_index, position, rotation, material),
      name_(name),
      seed_(NameSeed(name)) {}

size_t ParticleSystem::BuildSquares(const Scene& scene, double now, double t, const Vec3& right, const Vec3& up,
                                    std::vector<render::RenderVertex>* out) const {
  out->clear();
  const ParticleParams& p = params_;
  const double interval = p.Interval();
  const double lifetime = p.lifetime;
  if (!std::isfinite(now) || !std::isfinite(t) || now <= 0.0 || !(lifetime > 0.0) || !std::isfinite(lifetime))
    return 0;
  // The newest emission before now and the oldest still alive, in double;
  // beyond 2^52 emissions the lattice is no longer exact: nothing is drawn.
  const double newest_d = std::ceil(now / interval) - 1.0;
  if (!(newest_d >= 0.0) || newest_d > 4.0e15) return 0;
  int64_t newest = static_cast<int64_t>(newest_d);
  while (newest >= 0 && static_cast<double>(newest) * interval >= now) --newest;
  while (static_cast<double>(newest + 1) * interval < now) ++newest;
  if (newest < 0) return 0;
  const double oldest_d = std::max(0.0, std::floor((now - lifetime) / interval));
  int64_t oldest = oldest_d > newest_d ? newest + 1 : static_cast<int64_t>(oldest_d);
  while (oldest > 0 && static_cast<double>(oldest - 1) * interval + lifetime > now) --oldest;
  while (oldest <= newest && static_cast<double>(oldest) * interval + lifetime <= now) ++oldest;
  if (oldest > newest) return 0;
  if (newest - oldest + 1 > static_cast<int64_t>(kMaxLiveParticles)) oldest = newest - (kMaxLiveParticles - 1);

  const float half = p.size * 0.5f;
  const Vec3 r = Scale(right, half), u = Scale(up, half);
  const double fade_at = lifetime * static_cast<double>(p.fade_start);
  const double fade_span = lifetime * (1.0 - static_cast<double>(p.fade_start));
  // Without a track the emitter pose, its rotation and the turned axes are
  // the same for every emission: worked out once.
  const SceneObject* owner = scene.ObjectAt(FileIndex());
  const bool tracked = owner && owner->controllable.track >= 0 &&
                       static_cast<size_t>(owner->controllable.track) < scene.pos_rot_tracks.size();
  Vec3 position;
  Quat rotation;
  Mat3 m;
  // v' = M(q)·v: each component is v against one row.
  auto turn = [&m](const Vec3& v) {
    return Vec3{m.m[0][0] * v.x + m.m[0][1] * v.y + m.m[0][2] * v.z,
                m.m[1][0] * v.x + m.m[1][1] * v.y + m.m[1][2] * v.z,
                m.m[2][0] * v.x + m.m[2][1] * v.y + m.m[2][2] * v.z};
  };
  Vec3 axis_x, axis_y;
  auto pose = [&](double at) {
    PoseAt(scene, at, &position, &rotation);
    m = Mat3FromQuat(rotation);
    axis_x = turn(Vec3{1, 0, 0});
    axis_y = turn(Vec3{0, 1, 0});
  };
  if (!tracked) pose(t);
  const Vec3 acceleration{p.ax, p.ay, p.az};
  static constexpr float kUvs[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  out->resize(static_cast<size_t>(newest - oldest + 1) * 4);
  render::RenderVertex* v = out->data();
  for (int64_t k = oldest; k <= newest; ++k) {
    const double birth = static_cast<double>(k) * interval;
    if (tracked) pose(t - (now - birth));
    const float r1 = ParticleRandom(seed_, k, 0), r2 = ParticleRandom(seed_, k, 1);
    const float r3 = ParticleRandom(seed_, k, 2), r4 = ParticleRandom(seed_, k, 3);
    const Vec3 local{(r2 - 0.5f) * p.vz * p.vy, p.vz, (r1 - 0.5f) * p.vz * p.vx};
    const Vec3 velocity = turn(local);
    const Vec3 start = Add(position, Add(Scale(axis_x, (r3 - 0.5f) * p.disc), Scale(axis_y, (r4 - 0.5f) * p.disc)));
    const double age = now - birth;
    const float tf = static_cast<float>(age);
    const Vec3 at = Add(start, Add(Scale(velocity, tf), Scale(acceleration, tf * tf)));
    if (!FiniteVec(at)) continue;
    uint32_t k8 = 255;
    if (age > fade_at) {
      const double b = fade_span > 0.0 ? (1.0 - (age - fade_at) / fade_span) * 255.0 : 0.0;
      k8 = b <= 0.0 ? 0u : b >= 255.0 ? 255u : static_cast<uint32_t>(b);
    }
    const uint32_t colour = k8 * 0x01010101u;
    const Vec3 corners[4] = {Add(Sub(at, r), u), Add(Add(at, r), u), Sub(Add(at, r), u), Sub(Sub(at, r), u)};
    for (int c = 0; c < 4; ++c, ++v) {
      v->x = corners[c].x;
      v->y = corners[c].y;
      v->z = corners[c].z;
      v->nx = 0.0f;
      v->ny = 0.0f;
      v->nz = 0.0f;
      v->diffuse = colour;
      v->u = kUvs[c][0];
      v->v = kUvs[c][1];
    }
  }
  out->resize(static_cast<size_t>(v - out->data()));
  return out->size() / 4;
}

void StreamSquares(const std::vector<render::RenderVertex>& squares) {
  render::Device* device = render::LayerDevice();
  if (!device) return;
  const uint32_t total = static_cast<uint32_t>(squares.size() / 4);
  const auto& pattern = IndexPattern();
  constexpr uint32_t kStride = sizeof(render::RenderVertex);
  device->SetFVF(render::kFvfRenderVertex);
  for (uint32_t first = 0; first < total; first += kParticleBatch) {
    const uint32_t n = std::min(kParticleBatch, total - first);
    const int vb = render::SharedVertexBuffer(), ib = render::SharedIndexBuffer();
    void* raw = nullptr;
    int offset = render::AppendDynamicVertices(vb, n * 4 * kStride, &raw);
    if (offset < 0) return;
    uint32_t skip = 0;
    if (offset % kStride != 0) {  // another stride appended before: realign
      render::UnlockDynamicVertices(vb);
      offset = render::AppendDynamicVertices(vb, n * 4 * kStride + kStride - 1, &raw);
      if (offset < 0) return;
      skip = (kStride - static_cast<uint32_t>(offset) % kStride) % kStride;
    }
    std::memcpy(static_cast<uint8_t*>(raw) + skip, &squares[static_cast<size_t>(first) * 4], n * 4 * kStride);
    render::UnlockDynamicVertices(vb);
    void* index_raw = nullptr;
    const int index_offset = render::AppendDynamicIndices(ib, n * 6 * 2, &index_raw);
    if (index_offset < 0) return;
    std::memcpy(index_raw, pattern.data(), n * 6 * 2);
    render::UnlockDynamicIndices(ib);
    device->SetIndices(render::GetIndexBufferById(ib), (static_cast<uint32_t>(offset) + skip) / kStride);
    device->SetStreamSource(0, render::GetVertexBufferById(vb), kStride);
    device->DrawIndexedPrimitive(render::PT_TRIANGLELIST, 0, n * 4, static_cast<uint32_t>(index_offset) / 2, n * 2);
    NoteParticleBatch(n);
  }
}

namespace {
std::function<void(uint32_t)>& BatchObserver() {
  static std::function<void(uint32_t)> observer;
  return observer;
}
}  // namespace

void SetParticleBatchObserver(std::function<void(uint32_t)> observer) { BatchObserver() = std::move(observer); }
void NoteParticleBatch(uint32_t squares) {
  if (BatchObserver()) BatchObserver()(squares);
}

void ApplyParticleStates(render::Device* device, render::ShaderHandle material) {
  // The defaults first: the material's pass overrides what it sets.
  render::SetRenderStateCached(render::RS_ALPHABLENDENABLE, 1);
  render::SetRenderStateCached(render::RS_SRCBLEND, render::BLEND_ONE);
  render::SetRenderStateCached(render::RS_DESTBLEND, render::BLEND_ONE);
  render::SetRenderStateCached(render::RS_ZWRITEENABLE, 0);
  render::SetRenderStateCached(render::RS_ZFUNC, render::CMP_ALWAYS);
  render::SetRenderStateCached(render::RS_CULLMODE, render::CULL_NONE);
  render::SetStageStateCached(0, render::TSS_ADDRESSU, render::TADDRESS_CLAMP);
  render::SetStageStateCached(0, render::TSS_ADDRESSV, render::TADDRESS_CLAMP);
  render::SetStageStateCached(0, render::TSS_MINFILTER, render::TEXF_LINEAR);
  render::SetStageStateCached(0, render::TSS_MAGFILTER, render::TEXF_LINEAR);
  device->SetTransform(render::TS_WORLD, Matrix::Identity());
  if (material < 0 || render::ApplyPass(material, 0) != 0) render::ApplyPass(render::kNullShader, 0);
  device->SetTransform(render::TS_WORLD, Matrix::Identity());
}

void DrawParticles(const ProceduralDrawContext& ctx) {
  static std::vector<render::RenderVertex> squares;
  render::Device* device = render::LayerDevice();
  if (!device) return;
  const Vec3 right{ctx.orientation.m[0][0], ctx.orientation.m[0][1], ctx.orientation.m[0][2]};
  const Vec3 up{ctx.orientation.m[1][0], ctx.orientation.m[1][1], ctx.orientation.m[1][2]};
  for (auto& object : ctx.scene->procedurals) {
    if (object->Kind() != PROCEDURAL_PARTICLE) continue;
    const auto& system = static_cast<const ParticleSystem&>(*object);
    if (system.BuildSquares(*ctx.scene, ctx.now, ctx.time, right, up, &squares) == 0) continue;
    ApplyParticleStates(device, system.Material());
    StreamSquares(squares);
  }
}

}  // namespace internal

int SetParticleParams(Scene* scene, std::string_view name, std::string_view text, bool quiet) {
  if (!scene) return -1;
  std::string upper(name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  float values[10];
  int count = 0;
  core::NumberSyntax syntax;
  syntax.skip_space = true;
  syntax.plus = true;
  syntax.inf_nan = true;
  std::string_view rest = text;
  while (count < 10) {
    double v = 0.0;
    const core::NumberScan scan = core::ScanNumber(rest, &v, syntax);
    if (scan.status == core::NumberStatus::kNoNumber) break;
    rest.remove_prefix(scan.length);
    if (scan.status != core::NumberStatus::kOk || !std::isfinite(v) || std::fabs(v) > 3.0e38) {
      core::ShowError("PARTICLEPARAMS %s: a value is not a finite number; nothing changes", upper.c_str());
      return -1;
    }
    values[count++] = static_cast<float>(v);
  }
  if (count < 9) {
    core::ShowError("PARTICLEPARAMS %s: needs nine or ten numbers, found %d; nothing changes", upper.c_str(), count);
    return -1;
  }
  int changed = 0;
  for (auto& object : scene->procedurals) {
    if (object->Kind() != PROCEDURAL_PARTICLE) continue;
    auto& system = static_cast<internal::ParticleSystem&>(*object);
    if (system.Name() != upper) continue;
    internal::ParticleParams& p = system.Params();
    p.size = values[0];
    p.lifetime = values[1];
    p.rate = values[2];
    p.vx = values[3];
    p.vy = values[4];
    p.vz = values[5];
    p.ax = values[6];
    p.ay = values[7];
    p.az = values[8];
    if (count == 10) p.disc = values[9];
    ++changed;
  }
  if (changed == 0) {
    core::ShowError("PARTICLEPARAMS: no particle system is named %s", upper.c_str());
    return -1;
  }
  if (!quiet && values[2] > static_cast<float>(internal::kMaxParticleRate))
    core::ShowError("PARTICLEPARAMS %s: %g particles per second capped at %d", upper.c_str(),
                    static_cast<double>(values[2]), internal::kMaxParticleRate);
  return 0;
}

}  // namespace scene

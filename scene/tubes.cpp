// Spike tubes and bola syncs: surfaces rebuilt every frame, drawn as
// render-queue items at the placeholder's pose.
//
// A spike tube is built around the camera along the placeholder's local X
// so that it seems endless: the camera's position is taken into that
// space and only the stretch the frustum sees gets rings. A bola sync
// keeps one history entry of sound bands per program frame (keyed by the
// frame's global time), so a scene drawn twice in a frame (mirrors) does
// not run it twice as fast.
#include <algorithm>
#include <cmath>
#include <vector>

#include "render/layer.h"
#include "render/materials.h"
#include "scene/procedural_internal.h"

namespace scene {
namespace internal {
namespace {

constexpr double kPiD = 3.14159265358979323846;

render::RenderVertex Vertex(float x, float y, float z) {
  render::RenderVertex v{};
  v.x = x;
  v.y = y;
  v.z = z;
  v.diffuse = 0xFFFFFFFFu;
  return v;
}

class SpikeTube : public PlaceholderObject {
 public:
  using PlaceholderObject::PlaceholderObject;
  std::vector<render::RenderVertex> vertices;
  std::vector<uint16_t> indices;
};

class BolaSync : public PlaceholderObject {
 public:
  using PlaceholderObject::PlaceholderObject;
  BolaHistory history;
  std::vector<render::RenderVertex> vertices;
};

const std::vector<uint16_t>& BolaIndices() {
  static const std::vector<uint16_t> indices = GridIndices(kBolaRings, kBolaRingVertices);

  return indices;
}

}  // namespace

std::unique_ptr<ProceduralObject> MakeSpikeTube(int32_t file_index, const Vec3& position, const Quat& rotation,
                                                render::ShaderHandle material) {
  return std::make_unique<SpikeTube>(PROCEDURAL_SPIKETUBE, file_index, position, rotation, material);
}
std::unique_ptr<ProceduralObject> MakeBolaSync(int32_t file_index, const Vec3& position, const Quat& rotation,
                                               render::ShaderHandle material) {
  return std::make_unique<BolaSync>(PROCEDURAL_BOLASYNC, file_index, position, rotation, material);
}

float SpikeRadius(double x, double tau) {
  return static_cast<float>(
      10.0 * (0.15 * (0.8 * std::sin(1.3241813 * tau + 0.265 * x) + 1.4 * std::sin(0.165 * x + kPiD * tau) + 3.0) +
              0.15 * (std::sin(0.13434 * x) + 1.0)));
}

void SpikeRingPositions(double cam_x, const std::function<bool(double)>& visible, std::vector<double>* rings) {
  rings->clear();
  if (!std::isfinite(cam_x) || std::fabs(cam_x) > 1.0e12) return;
  const double base = cam_x - (cam_x - 16.0 * std::floor(cam_x / 16.0));
  double lo = 0.0, hi = 0.0;
  bool any = false;
  for (int k = -kSpikeSteps; k <= kSpikeSteps; ++k) {
    const double c = base + 16.0 * k;
    if (!visible(c)) continue;
    if (!any || c < lo) lo = c;
    if (!any || c > hi) hi = c;
    any = true;
  }
  if (!any) return;
  for (double x = 8.0 * std::ceil(lo / 8.0); x <= hi; x += 8.0) rings->push_back(x);
  if (rings->size() > static_cast<size_t>(kSpikeRings)) {
    std::stable_sort(rings->begin(), rings->end(),
                     [cam_x](double a, double b) { return std::fabs(a - cam_x) < std::fabs(b - cam_x); });
    rings->resize(kSpikeRings);
    std::sort(rings->begin(), rings->end());
  }
}

void BuildSpikeTube(const std::vector<double>& rings, double tau, std::vector<render::RenderVertex>* vertices,
                    std::vector<uint16_t>* indices) {
  vertices->clear();
  indices->clear();
  const double step = 2.0 * kPiD / 16.0;
  for (double x : rings) {
    const float r = SpikeRadius(x, tau);
    for (int c = 0; c < 16; ++c)
      vertices->push_back(Vertex(static_cast<float>(x), r * static_cast<float>(std::cos(c * step)),
                                 r * static_cast<float>(std::sin(c * step))));
  }
  for (size_t m = 0; m + 1 < rings.size(); ++m) {
    const double mid = (rings[m] + rings[m + 1]) * 0.5;
    const float tip_r = 1.8f * SpikeRadius(rings[m] + 4.0, tau);
    for (int c = 0; c < 16; ++c) {
      const uint16_t a = static_cast<uint16_t>(m * 16 + c), b = static_cast<uint16_t>(m * 16 + (c + 1) % 16);
      const uint16_t cc = static_cast<uint16_t>(a + 16), d = static_cast<uint16_t>(b + 16);
      if (c % 2 == 0) {
        const double angle = (c + 0.5) * step;
        const uint16_t t = static_cast<uint16_t>(vertices->size());
        vertices->push_back(Vertex(static_cast<float>(mid), tip_r * static_cast<float>(std::cos(angle)),
                                   tip_r * static_cast<float>(std::sin(angle))));
        for (uint16_t i : {a, b, t, b, d, t, d, cc, t, cc, a, t}) indices->push_back(i);
      } else {
        for (uint16_t i : {a, b, cc, b, d, cc}) indices->push_back(i);
      }
    }
  }
  AccumulateNormals(vertices, *indices);
}

void BolaHistory::Push(float stamp, const float* bands) {
  if (filled && stamp == last_stamp) return;
  last_stamp = stamp;
  filled = true;
  newest = (newest + kBolaRings - 1) % kBolaRings;
  for (int b = 0; b < kSoundBands; ++b) {
    const float v = bands ? bands[b] : 0.0f;
    entries[newest][b] = std::isfinite(v) ? std::clamp(v, 0.0f, 100.0f) : 0.0f;
  }
}

void BuildBolaSync(const BolaHistory& history, std::vector<render::RenderVertex>* vertices) {
  vertices->assign(static_cast<size_t>(kBolaRings) * kBolaRingVertices, render::RenderVertex{});
  for (int i = 0; i < kBolaRings; ++i) {
    const float* values = history.entries[(history.newest + i) % kBolaRings];
    const double phi = kPiD * (i + 0.5) / kBolaRings;
    for (int j = 0; j < kBolaRingVertices; ++j) {
      const int jj = j % (kBolaRingVertices - 1);
      const double theta = 2.0 * kPiD * jj / (kBolaRingVertices - 1);
      const double pos = jj * static_cast<double>(kSoundBands) / (kBolaRingVertices - 1);
      const int b0 = static_cast<int>(std::floor(pos)) % kSoundBands, b1 = (b0 + 1) % kSoundBands;
      const double f = pos - std::floor(pos);
      const double v = values[b0] + (values[b1] - values[b0]) * f;
      const double s = 15.0 * (v * 1.5 + 0.8);
      render::RenderVertex& out = (*vertices)[static_cast<size_t>(i) * kBolaRingVertices + j];
      out = Vertex(static_cast<float>(s * std::sin(phi) * std::cos(theta)), static_cast<float>(s * std::cos(phi)),
                   static_cast<float>(s * std::sin(phi) * std::sin(theta)));
      out.u = static_cast<float>(j) / (kBolaRingVertices - 1);
      out.v = static_cast<float>(i) / (kBolaRings - 1);
    }
  }
  AccumulateNormals(vertices, BolaIndices());
}

void DrawSpikeTubes(const ProceduralDrawContext& ctx) {
  const View& view = ctx.scene->view;
  SubmitEachOfKind<SpikeTube>(PROCEDURAL_SPIKETUBE, ctx, [&](SpikeTube& tube, const Vec3& position, const Quat& rotation,
                                                       render::DrawItem* item) {
    const Vec3 local_eye = TransformPoint(ctx.eye, ViewMatrix(position, rotation));
    std::vector<double> rings;
    SpikeRingPositions(local_eye.x,
                       [&](double x) {
                         const Vec3 centre = TransformPoint(Vec3{static_cast<float>(x), 0, 0}, item->world);
                         return view.SphereInFrustum(centre, 20.0f) >= 0;
                       },
                       &rings);
    if (rings.size() < 2) return false;
    BuildSpikeTube(rings, 1.5 * ctx.time, &tube.vertices, &tube.indices);
    // Ring positions are absolute along X: a camera far out keeps float
    // precision only as far as the coordinates do.
    SetItemMesh(item, tube.vertices, tube.indices);
    return true;
  });
}

void DrawBolaSyncs(const ProceduralDrawContext& ctx) {
  const float stamp = render::GlobalTime();
  SubmitEachOfKind<BolaSync>(PROCEDURAL_BOLASYNC, ctx, [&](BolaSync& bola, const Vec3&, const Quat&,
                                                     render::DrawItem* item) {
    bola.history.Push(stamp, ctx.sound_bands);
    BuildBolaSync(bola.history, &bola.vertices);
    SetItemMesh(item, bola.vertices, BolaIndices());
    return true;
  });
}

BolaHistory* BolaHistoryOf(ProceduralObject* object) {
  return object && object->Kind() == PROCEDURAL_BOLASYNC ? &static_cast<BolaSync*>(object)->history : nullptr;
}

}  // namespace internal
}  // namespace scene

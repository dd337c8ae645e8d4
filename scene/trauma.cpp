// The trauma tube: a tube along local +Z shaped by a grey height image and
// the animation time, drawn before the scene's lights with its own vertex
// format (position, colour, two texture-coordinate pairs) from memory.
//
// It is drawn unlit and unfogged whatever the previous draw left: its
// vertices carry no normals. Each pass of its shader (at most two) samples
// its own coordinate pair.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/core/core.h"
#include "media/media.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "scene/procedural_internal.h"

namespace scene {
namespace internal {
namespace {

constexpr double kPiD = 3.14159265358979323846;
constexpr const char* kTraumaImage = "data/textures/traumaheight.tga";

class Trauma : public PlaceholderObject {
 public:
  Trauma(int32_t file_index, const Vec3& position, const Quat& rotation, render::ShaderManager* manager)
      : PlaceholderObject(PROCEDURAL_TRAUMA, file_index, position, rotation, -1), manager_(manager) {
    if (manager_) shader_ = manager_->GetShader("trauma");
    LoadTraumaHeights(kTraumaImage, &heights);
  }
  ~Trauma() override {
    if (manager_ && shader_ >= 0) manager_->ReleaseShader(shader_);
  }
  Trauma(const Trauma&) = delete;
  Trauma& operator=(const Trauma&) = delete;
  render::ShaderHandle Shader() const { return shader_; }

  TraumaHeights heights;
  std::vector<TraumaVertex> vertices;

 private:
  render::ShaderManager* manager_ = nullptr;
  render::ShaderHandle shader_ = -1;
};

const std::vector<uint16_t>& TraumaIndices() {
  static const std::vector<uint16_t> indices = GridIndices(kTraumaRings, kTraumaRingVertices);

  return indices;
}

}  // namespace

int LoadTraumaHeights(const char* path, TraumaHeights* out) {
  out->width = out->height = 0;
  out->grey.clear();
  media::Image image;
  if (media::LoadImage(&image, path, false) != 0 || !image.valid || image.width == 0 || image.height == 0 ||
      image.bytes_per_pixel() == 0) {
    core::ShowError("missing data/textures/traumaheight.tga (32x64x32bpp)");
    return -1;
  }
  out->width = image.width;
  out->height = image.height;
  out->grey.resize(static_cast<size_t>(image.width) * image.height);
  const uint32_t bpp = image.bytes_per_pixel();
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = image.PixelAt(x, y);
      const float g = bpp >= 3 ? (p[0] + p[1] + p[2]) / (3.0f * 255.0f) : p[0] / 255.0f;
      out->grey[static_cast<size_t>(y) * image.width + x] = g;
    }
  return 0;
}

float TraumaHeights::At(double u, double v) const {
  if (grey.empty() || !std::isfinite(u) || !std::isfinite(v)) return 0.5f;
  const double fx = (u - std::floor(u)) * width, fy = (v - std::floor(v)) * height;
  const double x0 = std::floor(fx), y0 = std::floor(fy);
  const float ax = static_cast<float>(fx - x0), ay = static_cast<float>(fy - y0);
  const uint32_t ix = static_cast<uint32_t>(x0) % width, iy = static_cast<uint32_t>(y0) % height;
  const uint32_t jx = (ix + 1) % width, jy = (iy + 1) % height;
  const auto g = [&](uint32_t x, uint32_t y) { return grey[static_cast<size_t>(y) * width + x]; };
  const float top = g(ix, iy) + (g(jx, iy) - g(ix, iy)) * ax;
  const float bottom = g(ix, jy) + (g(jx, jy) - g(ix, jy)) * ax;
  return top + (bottom - top) * ay;
}

void BuildTrauma(const TraumaHeights& heights, double tau, std::vector<TraumaVertex>* vertices) {
  if (!std::isfinite(tau)) tau = 0.0;
  vertices->resize(static_cast<size_t>(kTraumaRings) * kTraumaRingVertices);
  for (int k = 0; k < kTraumaRings; ++k) {
    const double s = k / 63.0;
    for (int j = 0; j < kTraumaRingVertices; ++j) {
      const double alpha = 2.0 * kPiD * j / 47.0;
      const float h = heights.At(j / 47.0, s + 0.05 * tau);
      const double r = 40.0 * (1.0 - 0.4 * h);
      TraumaVertex& v = (*vertices)[static_cast<size_t>(k) * kTraumaRingVertices + j];
      v.x = static_cast<float>(r * std::cos(alpha));
      v.y = static_cast<float>(r * std::sin(alpha));
      v.z = static_cast<float>(400.0 * s);
      const double grey = 255.0 * (1.0 - s) * (0.5 + 0.5 * h);
      const uint32_t g = static_cast<uint32_t>(std::clamp(grey, 0.0, 255.0));
      v.diffuse = 0xFF000000u | (g << 16) | (g << 8) | g;
      v.u0 = static_cast<float>(2.0 * j / 47.0);
      v.v0 = static_cast<float>(6.0 * s - 0.5 * tau);
      v.u1 = static_cast<float>(j / 47.0);
      v.v1 = static_cast<float>(3.0 * s - 0.2 * tau);
    }
  }
}

const std::vector<uint16_t>& TraumaIndexList() { return TraumaIndices(); }

std::unique_ptr<ProceduralObject> MakeTrauma(Scene* scene, int32_t file_index, const Vec3& position,
                                             const Quat& rotation) {
  return std::make_unique<Trauma>(file_index, position, rotation, scene->shaders);
}

void DrawTraumas(const ProceduralDrawContext& ctx) {
  render::Device* device = render::LayerDevice();
  render::ShaderManager* manager = render::CurrentShaderManager();
  if (!device || !manager) return;
  bool any = false;
  for (auto& object : ctx.scene->procedurals) {
    if (object->Kind() != PROCEDURAL_TRAUMA) continue;
    auto& trauma = static_cast<Trauma&>(*object);
    Vec3 position;
    Quat rotation;
    trauma.PoseAt(*ctx.scene, ctx.time, &position, &rotation);
    if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(position.z) ||
        !std::isfinite(rotation.w) || !std::isfinite(rotation.x) || !std::isfinite(rotation.y) ||
        !std::isfinite(rotation.z))
      continue;
    BuildTrauma(trauma.heights, ctx.time, &trauma.vertices);
    const render::ShaderHandle shader = trauma.Shader() >= 0 ? trauma.Shader() : render::kNullShader;
    const render::Shader* s = manager->GetShaderByHandle(shader);
    const int passes = std::min(2, s ? s->PassCount() : 1);
    for (int pass = 0; pass < passes; ++pass) {
      if (render::ApplyPass(shader, pass) != 0) break;
      // Unlit and unfogged whatever came before: the vertices have no normals.
      render::SetRenderStateCached(render::RS_LIGHTING, 0);
      render::SetRenderStateCached(render::RS_FOGENABLE, 0);
      render::SetStageStateCached(0, render::TSS_TEXCOORDINDEX, static_cast<uint32_t>(pass));
      device->SetTransform(render::TS_WORLD, WorldMatrix(rotation, position));
      device->SetFVF(kFvfTraumaVertex);
      device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, static_cast<uint32_t>(trauma.vertices.size()),
                                     static_cast<uint32_t>(TraumaIndices().size() / 3), TraumaIndices().data(),
                                     render::FMT_INDEX16, trauma.vertices.data(), sizeof(TraumaVertex));
      NoteTraumaDraw(shader, pass);
      any = true;
    }
  }
  if (any) {
    render::SetStageStateCached(0, render::TSS_TEXCOORDINDEX, 0);
    device->SetTransform(render::TS_WORLD, Matrix::Identity());
    device->SetFVF(render::kFvfRenderVertex);
  }
}

namespace {
std::function<void(render::ShaderHandle, int)>& TraumaObserver() {
  static std::function<void(render::ShaderHandle, int)> observer;
  return observer;
}
}  // namespace

void SetTraumaDrawObserver(std::function<void(render::ShaderHandle, int)> observer) {
  TraumaObserver() = std::move(observer);
}
void NoteTraumaDraw(render::ShaderHandle shader, int pass) {
  if (TraumaObserver()) TraumaObserver()(shader, pass);
}

}  // namespace internal
}  // namespace scene

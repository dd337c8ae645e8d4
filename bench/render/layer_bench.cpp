// The render device layer on the offscreen context:
//   - a 512 x 512 image becoming a texture with its full mip chain (what
//     an effect pays per image when it loads), for the two usual cases;
//   - one frame of 1,000 small quads streamed through the shared dynamic
//     buffers and drawn one by one into 512 x 512, ending with a one-pixel
//     read-back so the figure is wall time per frame.
//   build/bench/bench_render --benchmark_filter='TextureFromImage|DynamicQuads'
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "media/media.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace {

using namespace render;

constexpr uint32_t kSize = 512;

bool StartLayer(benchmark::State& state) {
  if (InitDirect3D(0, DisplayBackend::kHeadless) != 0 ||
      SelectDisplayMode(nullptr, kSize, kSize, 32, false, false, nullptr, "", false, false, false, false, false) != 0 ||
      InitRenderLayer() != 0) {
    state.SkipWithError("no device");
    return false;
  }
  return true;
}

void StopLayer() {
  ShutdownRenderLayer();
  ReleaseDirect3D();
}

media::Image Picture(const media::PixelFormat& format) {
  media::Image argb, image;
  media::CreateImage(&argb, media::MakeHeader(kSize, kSize, media::PF_ARGB32));
  for (uint32_t y = 0; y < kSize; ++y)
    for (uint32_t x = 0; x < kSize; ++x) {
      uint32_t value = ColorArgb((x + y) & 0xff, x / 2, y / 2, (x ^ y) & 0xff);
      std::memcpy(argb.PixelAt(x, y), &value, 4);
    }
  media::CreateImage(&image, media::MakeHeader(kSize, kSize, format));
  media::ConvertImage(&image, argb);
  return image;
}

// arg 0: a BGR24 picture (TGA/BMP) into R5G6B5; arg 1: an ARGB32 picture
// into A8R8G8B8.
void BM_TextureFromImage(benchmark::State& state) {
  if (!StartLayer(state)) return;
  const bool alpha = state.range(0) == 1;
  media::Image image = Picture(alpha ? media::PF_ARGB32 : media::PF_BGR24);
  const Format format = ChooseImageTextureFormat(image);
  for (auto _ : state) {
    TextureId id = CreateTextureFromImage(image, format, false);
    if (id < 0) {
      state.SkipWithError("texture failed");
      break;
    }
    ReleaseTexture(id);
  }
  state.SetLabel(alpha ? "ARGB32 -> A8R8G8B8" : "BGR24 -> R5G6B5");
  StopLayer();
}
BENCHMARK(BM_TextureFromImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DynamicQuads(benchmark::State& state) {
  if (!StartLayer(state)) return;
  Device* device = LayerDevice();
  const int count = static_cast<int>(state.range(0));
  const int vb = SharedVertexBuffer(), ib = SharedIndexBuffer();
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  SetStageStateCached(0, TSS_COLOROP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_COLORARG1, TA_DIFFUSE);
  std::vector<uint32_t> pixels;
  for (auto _ : state) {
    DiscardDynamicBuffers();
    device->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    device->SetFVF(kFvfRenderVertex);
    device->SetStreamSource(0, GetVertexBufferById(vb), sizeof(RenderVertex));
    for (int i = 0; i < count; ++i) {
      void* data = nullptr;
      int offset = AppendDynamicVertices(vb, 4 * sizeof(RenderVertex), &data);
      if (offset < 0) break;
      float x = -1.0f + 0.002f * static_cast<float>(i % 900), y = -1.0f + 0.05f * static_cast<float>(i % 37);
      RenderVertex* v = static_cast<RenderVertex*>(data);
      v[0] = {x, y, 0.5f, 0, 0, 1, 0xff20a0ff, 0, 0};
      v[1] = {x + 0.1f, y, 0.5f, 0, 0, 1, 0xff20a0ff, 1, 0};
      v[2] = {x + 0.1f, y + 0.1f, 0.5f, 0, 0, 1, 0xff20a0ff, 1, 1};
      v[3] = {x, y + 0.1f, 0.5f, 0, 0, 1, 0xff20a0ff, 0, 1};
      UnlockDynamicVertices(vb);
      int index_offset = AppendDynamicIndices(ib, 6 * sizeof(uint16_t), &data);
      if (index_offset < 0) break;
      static const uint16_t kIndices[6] = {0, 1, 2, 0, 2, 3};
      std::memcpy(data, kIndices, sizeof kIndices);
      UnlockDynamicIndices(ib);
      device->SetIndices(GetIndexBufferById(ib), static_cast<uint32_t>(offset) / sizeof(RenderVertex));
      device->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 4, static_cast<uint32_t>(index_offset) / 2, 2);
    }
    device->ReadSurfacePixels(device->GetRenderTarget().get(), &pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
  device->SetStreamSource(0, nullptr, 0);
  device->SetIndices(nullptr, 0);
  StopLayer();
}
BENCHMARK(BM_DynamicQuads)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// The render device layer on a headless device: id tables, the shared
// dynamic buffers, the render-target stack, textures from images, times.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "media/media.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"
#include "tests/render/render_test_util.h"

namespace {

using namespace render;
using render_test::ArgbNear;
using render_test::DrawQuad;

constexpr uint32_t kBackWidth = 96, kBackHeight = 64;

// Packs an A8R8G8B8 colour into a pixel of `format` at `p`.
void PutPixel(const media::PixelFormat& format, uint8_t* p, uint32_t argb) {
  uint32_t a = argb >> 24, r = (argb >> 16) & 0xff, g = (argb >> 8) & 0xff, b = argb & 0xff;
  uint32_t value = (((r >> format.red_loss) << format.red_shift) & format.red_mask) |
                   (((g >> format.green_loss) << format.green_shift) & format.green_mask) |
                   (((b >> format.blue_loss) << format.blue_shift) & format.blue_mask);
  if (format.alpha_loss < 8) value |= ((a >> format.alpha_loss) << format.alpha_shift) & format.alpha_mask;
  switch (format.bits) {
    case 16:
      p[0] = static_cast<uint8_t>(value);
      p[1] = static_cast<uint8_t>(value >> 8);
      break;
    case 24:  // big-endian values
      p[0] = static_cast<uint8_t>(value >> 16);
      p[1] = static_cast<uint8_t>(value >> 8);
      p[2] = static_cast<uint8_t>(value);
      break;
    case 32:
      for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
      break;
  }
}

// An image of `format` holding `pixels` (A8R8G8B8, row by row). 8-bit
// images get a palette of the pixels' colours and index i at pixel i.
media::Image MakeImage(uint32_t width, uint32_t height, const media::PixelFormat& format,
                       const std::vector<uint32_t>& pixels) {
  media::Image image;
  EXPECT_EQ(media::CreateImage(&image, media::MakeHeader(width, height, format)), 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t i = y * width + x;
      if (format.bits == 8) {
        image.palette->entries[i] = pixels[i] & 0xffffff;
        *image.PixelAt(x, y) = static_cast<uint8_t>(i);
      } else {
        PutPixel(format, image.PixelAt(x, y), pixels[i]);
      }
    }
  }
  return image;
}

// What an A8R8G8B8 colour reads as after a round trip through `format`:
// each channel keeps its top bits, missing alpha reads as 0xff.
uint32_t Quantize(const media::PixelFormat& format, uint32_t argb) {
  if (format.bits == 8) return argb | 0xff000000u;  // palette entries hold 8-bit channels
  auto keep = [](uint32_t channel, uint32_t loss) { return loss >= 8 ? 0u : ((channel >> loss) << loss) & 0xff; };
  uint32_t a = format.alpha_loss >= 8 ? 0xff : keep(argb >> 24, format.alpha_loss);
  return a << 24 | keep((argb >> 16) & 0xff, format.red_loss) << 16 | keep((argb >> 8) & 0xff, format.green_loss) << 8 |
         keep(argb & 0xff, format.blue_loss);
}

media::Image SolidImage(uint32_t width, uint32_t height, const media::PixelFormat& format, uint32_t argb) {
  return MakeImage(width, height, format, std::vector<uint32_t>(static_cast<size_t>(width) * height, argb));
}

class LayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    device_ = CreateHeadlessDevice(kBackWidth, kBackHeight, FMT_X8R8G8B8).release();
  }
  static void TearDownTestSuite() {
    delete device_;
    device_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), 0);
    core::MarkStartupFinished(true);
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages_.push_back(text); });
    ASSERT_EQ(InitRenderLayer(device_), 0);
  }
  void TearDown() override {
    ShutdownRenderLayer();
    core::SetMessageListener(nullptr);
    core::MarkStartupFinished(false);
  }

  // Draws texture `id` over a fresh width x height A8R8G8B8 target, one
  // texel per pixel (point sampling), and reads the target back.
  std::vector<uint32_t> Sample(TextureId id, uint32_t width, uint32_t height) {
    TextureId target = CreateRenderTexture(width, height, FMT_A8R8G8B8, 1);
    EXPECT_GE(target, 0);
    EXPECT_EQ(PushRenderTarget(target, kNoId), 0);
    device_->Clear(0, nullptr, CLEAR_TARGET, 0xff123456, 1.0f, 0);
    device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
    device_->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
    device_->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
    device_->SetTextureStageState(0, TSS_ALPHAARG1, TA_TEXTURE);
    device_->SetTextureStageState(0, TSS_MINFILTER, TEXF_POINT);
    device_->SetTextureStageState(0, TSS_MAGFILTER, TEXF_POINT);
    device_->SetRenderState(RS_CULLMODE, CULL_NONE);
    device_->SetRenderState(RS_ZENABLE, ZB_FALSE);
    device_->SetTexture(0, GetBaseTextureById(id));
    EXPECT_EQ(DrawQuad(device_, -0.5f, -0.5f, width - 0.5f, height - 0.5f, 0xffffffff), 0);
    device_->SetTexture(0, nullptr);
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device_->ReadSurfacePixels(device_->GetRenderTarget().get(), &pixels), 0);
    EXPECT_EQ(PopRenderTarget(), 0);
    ReleaseTexture(target);
    return pixels;
  }

  int CountMessages(const std::string& text) const {
    int n = 0;
    for (const std::string& m : messages_) n += m.find(text) != std::string::npos;
    return n;
  }

  static Device* device_;
  std::vector<std::string> messages_;
};

Device* LayerTest::device_ = nullptr;

// ---------------------------------------------------------------------------
// Id tables
// ---------------------------------------------------------------------------

TEST_F(LayerTest, StartUpMakesTheSharedBuffersAuxTargetsAndBottomEntry) {
  EXPECT_TRUE(RenderLayerReady());
  EXPECT_EQ(LayerDevice(), device_);
  // A fresh table hands out 0, 1, 2 in order: the aux targets come first.
  EXPECT_EQ(AuxRenderTexture(0), 0);
  EXPECT_EQ(AuxRenderTexture(1), 1);
  EXPECT_EQ(AuxDepthSurface(0), 2);
  EXPECT_EQ(TextureCount(), 3);
  EXPECT_EQ(AuxRenderTexture(2), kNoId);
  EXPECT_EQ(AuxRenderTexture(-1), kNoId);
  EXPECT_EQ(AuxDepthSurface(1), kNoId);
  for (int i = 0; i < 2; ++i) {
    std::shared_ptr<Texture> aux = GetTextureById(AuxRenderTexture(i));
    ASSERT_NE(aux, nullptr);
    SurfaceDesc desc;
    ASSERT_EQ(aux->GetLevelDesc(0, &desc), 0);
    EXPECT_EQ(desc.width, 128u);
    EXPECT_EQ(desc.height, 128u);
    EXPECT_EQ(desc.format, FMT_X8R8G8B8);
    EXPECT_TRUE(desc.usage & USAGE_RENDERTARGET);
    EXPECT_EQ(aux->LevelCount(), 1u);
  }
  std::shared_ptr<Surface> aux_depth = GetDepthSurfaceById(AuxDepthSurface(0));
  ASSERT_NE(aux_depth, nullptr);
  EXPECT_EQ(aux_depth->GetDesc().width, 128u);
  EXPECT_TRUE(FormatIsDepth(aux_depth->GetDesc().format));

  std::shared_ptr<VertexBuffer> vb = GetVertexBufferById(SharedVertexBuffer());
  ASSERT_NE(vb, nullptr);
  EXPECT_EQ(vb->GetDesc().size, 2340000u);
  EXPECT_EQ(vb->GetDesc().fvf, 0x152u);
  EXPECT_EQ(vb->GetDesc().usage, USAGE_DYNAMIC | USAGE_WRITEONLY);
  EXPECT_EQ(vb->GetDesc().pool, POOL_DEFAULT);
  std::shared_ptr<IndexBuffer> ib = GetIndexBufferById(SharedIndexBuffer());
  ASSERT_NE(ib, nullptr);
  EXPECT_EQ(ib->GetDesc().size, 130000u);
  EXPECT_EQ(ib->GetDesc().format, FMT_INDEX16);
  EXPECT_EQ(ib->GetDesc().usage, USAGE_DYNAMIC | USAGE_WRITEONLY);
  EXPECT_EQ(MaxDynamicVertices(), 65000);
  EXPECT_EQ(static_cast<int>(kSharedVertexBufferBytes / sizeof(RenderVertex)), MaxDynamicVertices());

  EXPECT_EQ(RenderTargetDepth(), 1);
  EXPECT_EQ(RenderTargetWidth(), static_cast<float>(kBackWidth));
  EXPECT_EQ(RenderTargetHeight(), static_cast<float>(kBackHeight));
}

// Slot indices, not whole ids: the tables keep their generations across
// restarts of the layer, so an earlier test's ids stay dead in this one.
TEST_F(LayerTest, IdsComeInOrderAndTheLastReleasedSlotIsReusedFirst) {
  using core::PoolIndex;
  TextureId a = CreateTexture(8, 8, FMT_A8R8G8B8, 1);
  TextureId b = CreateTexture(8, 8, FMT_A8R8G8B8, 1);
  TextureId c = CreateTexture(8, 8, FMT_A8R8G8B8, 1);
  EXPECT_EQ(PoolIndex(a), 3);
  EXPECT_EQ(PoolIndex(b), 4);
  EXPECT_EQ(PoolIndex(c), 5);
  ReleaseTexture(b);
  ReleaseTexture(a);
  EXPECT_EQ(GetTextureById(a), nullptr);
  EXPECT_EQ(PoolIndex(CreateTexture(8, 8, FMT_A8R8G8B8, 1)), PoolIndex(a));
  EXPECT_EQ(PoolIndex(CreateTexture(8, 8, FMT_A8R8G8B8, 1)), PoolIndex(b));
  // The table doubles as it fills; ids keep counting up.
  for (int i = 6; i < 40; ++i) EXPECT_EQ(PoolIndex(CreateTexture(4, 4, FMT_R5G6B5, 1)), i);
  EXPECT_EQ(TextureCount(), 40);

  // Buffers: the shared ones are first in their tables.
  EXPECT_EQ(PoolIndex(SharedVertexBuffer()), 0);
  EXPECT_EQ(PoolIndex(SharedIndexBuffer()), 0);
  int v1 = AddVertexBuffer(360, 0, kFvfRenderVertex, POOL_MANAGED);
  int v2 = AddVertexBuffer(360, 0, kFvfRenderVertex, POOL_MANAGED);
  EXPECT_EQ(PoolIndex(v1), 1);
  EXPECT_EQ(PoolIndex(v2), 2);
  EXPECT_EQ(GetVertexBufferById(v1)->GetDesc().usage, USAGE_WRITEONLY);  // always write-only
  EXPECT_EQ(RemoveVertexBuffer(v2), 0);
  EXPECT_EQ(RemoveVertexBuffer(v1), 0);
  EXPECT_EQ(RemoveVertexBuffer(v1), -1);
  EXPECT_EQ(GetVertexBufferById(v1), nullptr);
  EXPECT_EQ(PoolIndex(AddVertexBuffer(72, 0, kFvfRenderVertex, POOL_MANAGED)), PoolIndex(v1));
  EXPECT_EQ(PoolIndex(AddVertexBuffer(72, 0, kFvfRenderVertex, POOL_MANAGED)), PoolIndex(v2));
  EXPECT_EQ(VertexBufferCount(), 3);
  int i1 = AddIndexBuffer(60, 0, FMT_INDEX16, POOL_MANAGED);
  EXPECT_EQ(PoolIndex(i1), 1);
  EXPECT_EQ(GetIndexBufferById(i1)->GetDesc().size, 60u);
  EXPECT_EQ(RemoveIndexBuffer(i1), 0);
  EXPECT_EQ(IndexBufferCount(), 1);
  EXPECT_EQ(PoolIndex(AddIndexBuffer(60, 0, FMT_INDEX32, POOL_MANAGED)), PoolIndex(i1));
}

// Each kind of id the layer hands out, as the stale-id checks use it.
struct IdKind {
  const char* name;
  int (*make)();
  int (*release)(int id);   // 0, or -1 when nothing was released
  bool (*reaches)(int id);  // the id names a live object
};

int ReleaseCountingTextures(int id) {
  int before = TextureCount();
  ReleaseTexture(id);
  return TextureCount() < before ? 0 : -1;
}

const IdKind kIdKinds[] = {
    {"texture", [] { return CreateTexture(8, 8, FMT_X8R8G8B8, 1); }, ReleaseCountingTextures,
     [](int id) { return GetTextureById(id) != nullptr || GetBaseTextureById(id) != nullptr; }},
    {"render texture", [] { return CreateRenderTexture(8, 8, FMT_X8R8G8B8, 1); }, ReleaseCountingTextures,
     [](int id) {
       if (PushRenderTarget(id, kNoId) != 0) return false;
       PopRenderTarget();
       return true;
     }},
    {"depth surface", [] { return CreateDepthSurface(8, 8, FMT_X8R8G8B8); }, ReleaseCountingTextures,
     [](int id) { return GetDepthSurfaceById(id) != nullptr; }},
    {"vertex buffer", [] { return AddVertexBuffer(360, USAGE_DYNAMIC, kFvfRenderVertex, POOL_DEFAULT); },
     RemoveVertexBuffer,
     [](int id) {
       void* data = nullptr;
       if (GetVertexBufferById(id) == nullptr || AppendDynamicVertices(id, 36, &data) < 0) return false;
       UnlockDynamicVertices(id);
       return true;
     }},
    {"index buffer", [] { return AddIndexBuffer(60, USAGE_DYNAMIC, FMT_INDEX16, POOL_DEFAULT); }, RemoveIndexBuffer,
     [](int id) {
       void* data = nullptr;
       if (GetIndexBufferById(id) == nullptr || AppendDynamicIndices(id, 6, &data) < 0) return false;
       UnlockDynamicIndices(id);
       return true;
     }},
};

TEST_F(LayerTest, StaleIdsFailEvenWhenAnotherObjectTookTheirSlot) {
  for (const IdKind& kind : kIdKinds) {
    SCOPED_TRACE(kind.name);
    int stale = kind.make();
    ASSERT_GE(stale, 0);
    ASSERT_TRUE(kind.reaches(stale));
    EXPECT_EQ(kind.release(stale), 0);
    EXPECT_EQ(kind.release(stale), -1);  // released twice
    EXPECT_FALSE(kind.reaches(stale));   // used after release
    int fresh = kind.make();             // takes the freed slot
    ASSERT_EQ(core::PoolIndex(fresh), core::PoolIndex(stale));
    EXPECT_NE(fresh, stale);
    EXPECT_FALSE(kind.reaches(stale));
    EXPECT_EQ(kind.release(stale), -1);  // leaves the new object alone
    EXPECT_TRUE(kind.reaches(fresh));
    EXPECT_EQ(kind.release(fresh), 0);
  }
}

TEST_F(LayerTest, AccessorsAnswerOnlyForTheirKindAndReleaseIgnoresStrangers) {
  TextureId texture = CreateTexture(4, 4, FMT_X8R8G8B8, 1);
  TextureId depth = CreateDepthSurface(16, 16, FMT_X8R8G8B8);
  ASSERT_GE(texture, 0);
  ASSERT_GE(depth, 0);
  EXPECT_NE(GetTextureById(texture), nullptr);
  EXPECT_EQ(GetCubeTextureById(texture), nullptr);
  EXPECT_EQ(GetDepthSurfaceById(texture), nullptr);
  EXPECT_EQ(GetBaseTextureById(texture), GetTextureById(texture));
  EXPECT_EQ(GetTextureById(depth), nullptr);
  EXPECT_EQ(GetBaseTextureById(depth), nullptr);
  EXPECT_NE(GetDepthSurfaceById(depth), nullptr);
  for (TextureId bad : {kNoId, -7, 1000}) {
    EXPECT_EQ(GetTextureById(bad), nullptr);
    EXPECT_EQ(GetCubeTextureById(bad), nullptr);
    EXPECT_EQ(GetDepthSurfaceById(bad), nullptr);
    EXPECT_EQ(GetVertexBufferById(bad), nullptr);
    EXPECT_EQ(GetIndexBufferById(bad), nullptr);
  }
  int count = TextureCount();
  ReleaseTexture(kNoId);
  ReleaseTexture(1000);
  EXPECT_EQ(TextureCount(), count);
  ReleaseTexture(texture);
  ReleaseTexture(texture);  // already free
  EXPECT_EQ(TextureCount(), count - 1);
  EXPECT_EQ(RemoveVertexBuffer(kNoId), -1);
  EXPECT_EQ(RemoveIndexBuffer(55), -1);
}

TEST_F(LayerTest, EachKindOfTextureIsMadeInItsPool) {
  TextureId managed = CreateTexture(64, 32, FMT_A4R4G4B4, 0);
  TextureId target = CreateRenderTexture(32, 32, FMT_A8R8G8B8, 1);
  TextureId dynamic = CreateDynamicTexture(16, 16, FMT_X8R8G8B8, 1);
  ASSERT_GE(managed, 0);
  ASSERT_GE(target, 0);
  ASSERT_GE(dynamic, 0);
  SurfaceDesc desc;
  ASSERT_EQ(GetTextureById(managed)->GetLevelDesc(0, &desc), 0);
  EXPECT_EQ(desc.pool, POOL_MANAGED);
  EXPECT_EQ(desc.usage, 0u);
  EXPECT_EQ(desc.format, FMT_A4R4G4B4);
  EXPECT_EQ(GetTextureById(managed)->LevelCount(), 7u);  // 64 x 32 down to 1 x 1
  ASSERT_EQ(GetTextureById(target)->GetLevelDesc(0, &desc), 0);
  EXPECT_EQ(desc.pool, POOL_DEFAULT);
  EXPECT_EQ(desc.usage, USAGE_RENDERTARGET);
  ASSERT_EQ(GetTextureById(dynamic)->GetLevelDesc(0, &desc), 0);
  EXPECT_EQ(desc.pool, POOL_DEFAULT);
  EXPECT_EQ(desc.usage, USAGE_DYNAMIC);

  // The headless device has a stencil: depth surfaces are D24S8.
  TextureId depth = CreateDepthSurface(32, 32, FMT_A8R8G8B8);
  ASSERT_GE(depth, 0);
  EXPECT_EQ(GetDepthSurfaceById(depth)->GetDesc().format, FMT_D24S8);
  // A depth surface must match a colour format.
  int count = TextureCount();
  EXPECT_EQ(CreateDepthSurface(32, 32, FMT_D16), kNoId);
  // Failures leave no entry.
  EXPECT_EQ(CreateTexture(8, 8, FMT_P8, 1), kNoId);
  EXPECT_EQ(CreateRenderTexture(0, 8, FMT_X8R8G8B8, 1), kNoId);
  EXPECT_EQ(CreateDynamicTexture(8, 8, FMT_D24S8, 1), kNoId);
  EXPECT_EQ(TextureCount(), count);
}

TEST_F(LayerTest, AuxTargetsAreMadeAgainWhenReleased) {
  TextureId aux = AuxRenderTexture(1);
  ReleaseTexture(aux);
  EXPECT_EQ(GetTextureById(aux), nullptr);
  // Another texture takes the freed slot; the aux target is a new one.
  TextureId other = CreateTexture(8, 8, FMT_X8R8G8B8, 1);
  EXPECT_EQ(core::PoolIndex(other), core::PoolIndex(aux));
  ReleaseTexture(aux);  // the old id cannot release the newcomer
  EXPECT_NE(GetTextureById(other), nullptr);
  TextureId again = AuxRenderTexture(1);
  ASSERT_GE(again, 0);
  EXPECT_NE(again, other);
  SurfaceDesc desc;
  ASSERT_EQ(GetTextureById(again)->GetLevelDesc(0, &desc), 0);
  EXPECT_EQ(desc.usage, USAGE_RENDERTARGET);
  EXPECT_EQ(desc.width, kAuxTargetSize);
  EXPECT_EQ(AuxRenderTexture(1), again);
  ReleaseTexture(AuxDepthSurface(0));
  EXPECT_NE(GetDepthSurfaceById(AuxDepthSurface(0)), nullptr);
}

// ---------------------------------------------------------------------------
// Shared dynamic buffers
// ---------------------------------------------------------------------------

TEST_F(LayerTest, AppendsFillTheSharedVertexBufferFrontToBack) {
  const int vb = SharedVertexBuffer();
  void* data = nullptr;
  EXPECT_EQ(AppendDynamicVertices(vb, 2340001, &data), -1);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(CountMessages("en VB dinamico no caben 2340001 bytes. Probablemente el objeto tenga demasiados poligonos"),
            1);

  DiscardDynamicBuffers();
  EXPECT_EQ(AppendDynamicVertices(vb, 1000000, &data), 0);
  EXPECT_NE(data, nullptr);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_DISCARD);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
  EXPECT_EQ(AppendDynamicVertices(vb, 1000000, &data), 1000000);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_NOOVERWRITE);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
  // 340,000 bytes left: the third million starts over with a discard.
  EXPECT_EQ(AppendDynamicVertices(vb, 1000000, &data), 0);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_DISCARD);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
  EXPECT_EQ(AppendDynamicVertices(vb, 36, &data), 1000000);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
  // Exactly the whole buffer fits.
  EXPECT_EQ(AppendDynamicVertices(vb, 2340000, &data), 0);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);

  DiscardDynamicBuffers();
  EXPECT_EQ(AppendDynamicVertices(vb, 360, &data), 0);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_DISCARD);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
}

TEST_F(LayerTest, BadAppendsFailWithoutMovingTheOffset) {
  const int vb = SharedVertexBuffer();
  void* data = nullptr;
  EXPECT_EQ(AppendDynamicVertices(kNoId, 36, &data), -1);
  EXPECT_EQ(AppendDynamicVertices(9, 36, &data), -1);
  EXPECT_EQ(AppendDynamicVertices(vb, 0, &data), -1);
  EXPECT_EQ(AppendDynamicVertices(vb, 36, nullptr), -1);
  EXPECT_EQ(messages_.size(), 0u);
  DiscardDynamicBuffers();
  EXPECT_EQ(AppendDynamicVertices(vb, 72, &data), 0);
  // Still locked: a second append fails and takes no room.
  EXPECT_EQ(AppendDynamicVertices(vb, 36, &data), -1);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
  EXPECT_EQ(UnlockDynamicVertices(vb), -1);
  EXPECT_EQ(AppendDynamicVertices(vb, 36, &data), 72);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
}

TEST_F(LayerTest, OneDiscardFlagServesBothBuffers) {
  const int vb = SharedVertexBuffer(), ib = SharedIndexBuffer();
  void* data = nullptr;
  // Too many indices fail quietly: the message is about vertices.
  EXPECT_EQ(AppendDynamicIndices(ib, 130001, &data), -1);
  EXPECT_EQ(messages_.size(), 0u);
  DiscardDynamicBuffers();
  EXPECT_EQ(AppendDynamicIndices(ib, 600, &data), 0);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_DISCARD);
  EXPECT_EQ(UnlockDynamicIndices(ib), 0);
  EXPECT_EQ(AppendDynamicIndices(ib, 600, &data), 600);
  EXPECT_EQ(UnlockDynamicIndices(ib), 0);
  // The next frame's first append, here of vertices, takes the flag; the
  // index buffer goes on after its data.
  DiscardDynamicBuffers();
  EXPECT_EQ(AppendDynamicVertices(vb, 36, &data), 0);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_DISCARD);
  EXPECT_EQ(UnlockDynamicVertices(vb), 0);
  EXPECT_EQ(AppendDynamicIndices(ib, 600, &data), 1200);
  EXPECT_EQ(LastDynamicLockFlags(), LOCK_NOOVERWRITE);
  EXPECT_EQ(UnlockDynamicIndices(ib), 0);
}

TEST_F(LayerTest, AppendedGeometryIsDrawnFromItsOffset) {
  TextureId target = CreateRenderTexture(4, 4, FMT_A8R8G8B8, 1);
  ASSERT_EQ(PushRenderTarget(target, kNoId), 0);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
  device_->SetTextureStageState(0, TSS_COLORARG1, TA_DIFFUSE);
  device_->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
  device_->SetTextureStageState(0, TSS_ALPHAARG1, TA_DIFFUSE);
  device_->SetRenderState(RS_CULLMODE, CULL_NONE);
  device_->SetRenderState(RS_ZENABLE, ZB_FALSE);
  device_->SetRenderState(RS_LIGHTING, 0);
  Matrix identity = Matrix::Identity();
  device_->SetTransform(TS_WORLD, identity);
  device_->SetTransform(TS_VIEW, identity);
  device_->SetTransform(TS_PROJECTION, identity);

  const int vb = SharedVertexBuffer(), ib = SharedIndexBuffer();
  DiscardDynamicBuffers();
  // Some earlier geometry, so the quad does not start at 0.
  void* data = nullptr;
  ASSERT_EQ(AppendDynamicVertices(vb, 5 * sizeof(RenderVertex), &data), 0);
  std::memset(data, 0, 5 * sizeof(RenderVertex));
  ASSERT_EQ(UnlockDynamicVertices(vb), 0);
  ASSERT_EQ(AppendDynamicIndices(ib, 4, &data), 0);
  ASSERT_EQ(UnlockDynamicIndices(ib), 0);

  // A quad over the left half (clip space x -1..0) in green.
  const RenderVertex quad[4] = {{-1, 1, 0.5f, 0, 0, 1, 0xff00ff00, 0, 0},
                                {0, 1, 0.5f, 0, 0, 1, 0xff00ff00, 1, 0},
                                {0, -1, 0.5f, 0, 0, 1, 0xff00ff00, 1, 1},
                                {-1, -1, 0.5f, 0, 0, 1, 0xff00ff00, 0, 1}};
  int offset = AppendDynamicVertices(vb, sizeof quad, &data);
  ASSERT_EQ(offset, static_cast<int>(5 * sizeof(RenderVertex)));
  std::memcpy(data, quad, sizeof quad);
  ASSERT_EQ(UnlockDynamicVertices(vb), 0);
  const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
  int index_offset = AppendDynamicIndices(ib, sizeof indices, &data);
  ASSERT_EQ(index_offset, 4);
  std::memcpy(data, indices, sizeof indices);
  ASSERT_EQ(UnlockDynamicIndices(ib), 0);

  device_->SetFVF(kFvfRenderVertex);
  device_->SetStreamSource(0, GetVertexBufferById(vb), sizeof(RenderVertex));
  device_->SetIndices(GetIndexBufferById(ib), static_cast<uint32_t>(offset) / sizeof(RenderVertex));
  ASSERT_EQ(device_->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 4, static_cast<uint32_t>(index_offset) / 2, 2), 0);
  std::vector<uint32_t> pixels;
  ASSERT_EQ(device_->ReadSurfacePixels(device_->GetRenderTarget().get(), &pixels), 0);
  device_->SetStreamSource(0, nullptr, 0);
  device_->SetIndices(nullptr, 0);
  ASSERT_EQ(PopRenderTarget(), 0);
  ASSERT_EQ(pixels.size(), 16u);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(pixels[y * 4 + x], x < 2 ? 0xff00ff00u : 0xff000000u) << x << "," << y;
  }
}

// ---------------------------------------------------------------------------
// Render-target stack
// ---------------------------------------------------------------------------

TEST_F(LayerTest, PushesAndPopsReturnToTheBackBuffer) {
  std::shared_ptr<Surface> back = device_->GetBackBuffer();
  ASSERT_EQ(device_->GetRenderTarget(), back);
  EXPECT_FLOAT_EQ(ScaleX(640), static_cast<float>(kBackWidth));
  TextureId first = CreateRenderTexture(32, 16, FMT_A8R8G8B8, 1);
  TextureId second = CreateRenderTexture(8, 4, FMT_X8R8G8B8, 1);
  TextureId depth = CreateDepthSurface(32, 16, FMT_A8R8G8B8);
  ASSERT_EQ(PushRenderTarget(first, depth), 0);
  EXPECT_EQ(RenderTargetWidth(), 32.0f);
  EXPECT_EQ(RenderTargetHeight(), 16.0f);
  EXPECT_EQ(device_->GetDepthStencilSurface(), GetDepthSurfaceById(depth));
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xffff0000, 1.0f, 0);
  ASSERT_EQ(PushRenderTarget(second, kNoId), 0);
  EXPECT_EQ(RenderTargetDepth(), 3);
  EXPECT_EQ(RenderTargetWidth(), 8.0f);
  EXPECT_EQ(RenderTargetHeight(), 4.0f);
  EXPECT_EQ(device_->GetDepthStencilSurface(), nullptr);
  EXPECT_FLOAT_EQ(ScaleX(320), 4.0f);
  EXPECT_FLOAT_EQ(ScaleY(120), 1.0f);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff0000ff, 1.0f, 0);

  ASSERT_EQ(PopRenderTarget(), 0);
  EXPECT_EQ(RenderTargetWidth(), 32.0f);
  EXPECT_EQ(device_->GetDepthStencilSurface(), GetDepthSurfaceById(depth));
  ASSERT_EQ(PopRenderTarget(), 0);
  EXPECT_EQ(device_->GetRenderTarget(), back);
  EXPECT_EQ(RenderTargetWidth(), static_cast<float>(kBackWidth));
  EXPECT_EQ(RenderTargetHeight(), static_cast<float>(kBackHeight));
  EXPECT_EQ(ScaleX(640), static_cast<float>(kBackWidth));
  EXPECT_EQ(ScaleY(480), static_cast<float>(kBackHeight));
  EXPECT_EQ(RenderTargetDepth(), 1);
  // The bottom entry stays.
  EXPECT_EQ(PopRenderTarget(), -1);
  EXPECT_EQ(device_->GetRenderTarget(), back);

  // Each target kept what was drawn into it.
  std::vector<uint32_t> pixels;
  ASSERT_EQ(device_->ReadSurfacePixels(GetTextureById(first)->GetSurfaceLevel(0).get(), &pixels), 0);
  EXPECT_EQ(pixels[0], 0xffff0000u);
  ASSERT_EQ(device_->ReadSurfacePixels(GetTextureById(second)->GetSurfaceLevel(0).get(), &pixels), 0);
  EXPECT_EQ(pixels[0] & 0xffffff, 0x0000ffu);
}

TEST_F(LayerTest, ABadPushLeavesTheTargetAlone) {
  std::shared_ptr<Surface> back = device_->GetBackBuffer();
  EXPECT_EQ(PushRenderTarget(kNoId, kNoId), -1);
  TextureId plain = CreateTexture(16, 16, FMT_A8R8G8B8, 1);  // not a render target
  EXPECT_EQ(PushRenderTarget(plain, kNoId), -1);
  EXPECT_EQ(PushRenderTarget(AuxDepthSurface(0), kNoId), -1);
  EXPECT_EQ(device_->GetRenderTarget(), back);
  EXPECT_EQ(RenderTargetDepth(), 1);
  EXPECT_EQ(RenderTargetWidth(), static_cast<float>(kBackWidth));
  // The aux targets can be drawn into.
  EXPECT_EQ(PushRenderTarget(AuxRenderTexture(0), AuxDepthSurface(0)), 0);
  EXPECT_EQ(RenderTargetWidth(), 128.0f);
  PopAllRenderTargets();
  EXPECT_EQ(device_->GetRenderTarget(), back);
}

TEST_F(LayerTest, ReplaceKeepsTheWayBack) {
  std::shared_ptr<Surface> back = device_->GetBackBuffer();
  TextureId a = CreateRenderTexture(32, 32, FMT_A8R8G8B8, 1);
  TextureId b = CreateRenderTexture(16, 8, FMT_A8R8G8B8, 1);
  ASSERT_EQ(PushRenderTarget(a, kNoId), 0);
  ASSERT_EQ(ReplaceRenderTarget(b, kNoId), 0);
  EXPECT_EQ(RenderTargetDepth(), 2);
  EXPECT_EQ(RenderTargetWidth(), 16.0f);
  EXPECT_EQ(ReplaceRenderTarget(kNoId, kNoId), -1);
  EXPECT_EQ(RenderTargetWidth(), 16.0f);
  ASSERT_EQ(PopRenderTarget(), 0);
  EXPECT_EQ(device_->GetRenderTarget(), back);
  // On the bottom entry alone a replace pushes, so a pop still leads back.
  ASSERT_EQ(ReplaceRenderTarget(a, kNoId), 0);
  EXPECT_EQ(RenderTargetDepth(), 2);
  EXPECT_EQ(RenderTargetWidth(), 32.0f);
  ASSERT_EQ(PopRenderTarget(), 0);
  EXPECT_EQ(device_->GetRenderTarget(), back);
}

TEST_F(LayerTest, PopAllAndReleasingATargetInUse) {
  std::shared_ptr<Surface> back = device_->GetBackBuffer();
  TextureId a = CreateRenderTexture(32, 32, FMT_A8R8G8B8, 1);
  TextureId b = CreateRenderTexture(16, 16, FMT_A8R8G8B8, 1);
  ASSERT_EQ(PushRenderTarget(a, kNoId), 0);
  ASSERT_EQ(PushRenderTarget(b, kNoId), 0);
  ASSERT_EQ(PushRenderTarget(a, kNoId), 0);
  // The stack keeps its own reference: releasing the id is safe.
  ReleaseTexture(b);
  device_->Clear(0, nullptr, CLEAR_TARGET, 0xff00ff00, 1.0f, 0);
  EXPECT_EQ(RenderTargetDepth(), 4);
  PopAllRenderTargets();
  EXPECT_EQ(RenderTargetDepth(), 1);
  EXPECT_EQ(device_->GetRenderTarget(), back);
  EXPECT_EQ(RenderTargetWidth(), static_cast<float>(kBackWidth));
}

// ---------------------------------------------------------------------------
// Textures from images
// ---------------------------------------------------------------------------

TEST_F(LayerTest, OnlyPowerOfTwoImagesBecomeTextures) {
  media::Image wide = SolidImage(256, 128, media::PF_BGR24, 0xff20c040);
  TextureId id = CreateTextureFromImage(wide, FMT_X8R8G8B8, false);
  ASSERT_GE(id, 0);
  std::shared_ptr<Texture> texture = GetTextureById(id);
  EXPECT_EQ(texture->LevelCount(), 9u);  // 256 x 128 ... 1 x 1
  SurfaceDesc desc;
  ASSERT_EQ(texture->GetLevelDesc(0, &desc), 0);
  EXPECT_EQ(desc.width, 256u);
  EXPECT_EQ(desc.height, 128u);
  EXPECT_EQ(desc.pool, POOL_MANAGED);
  EXPECT_EQ(messages_.size(), 0u);

  int count = TextureCount();
  media::Image odd = SolidImage(100, 100, media::PF_BGR24, 0xff20c040);
  EXPECT_EQ(CreateTextureFromImage(odd, FMT_X8R8G8B8, false), kNoId);
  EXPECT_EQ(CountMessages("Texturas potencia de 2 por favor!"), 1);
  EXPECT_EQ(TextureCount(), count);
  media::Image invalid;
  EXPECT_EQ(CreateTextureFromImage(invalid, FMT_X8R8G8B8, false), kNoId);
  EXPECT_EQ(CreateTextureFromImage(wide, FMT_D16, false), kNoId);
  EXPECT_EQ(TextureCount(), count);
}

TEST_F(LayerTest, ImagesOverTheDeviceLimitAreResampledDown) {
  const uint32_t limit = device_->GetDeviceCaps().max_texture_width;
  // Wider than the limit and not a power of two: the reduced copy is.
  media::Image image = SolidImage(limit + 904, 2, media::PF_XRGB32, 0xff3060a0);
  TextureId id = CreateTextureFromImage(image, FMT_X8R8G8B8, false);
  ASSERT_GE(id, 0);
  SurfaceDesc desc;
  ASSERT_EQ(GetTextureById(id)->GetLevelDesc(0, &desc), 0);
  EXPECT_EQ(desc.width, limit);
  EXPECT_EQ(desc.height, 2u);
  EXPECT_EQ(messages_.size(), 0u);
  for (uint32_t pixel : Sample(id, 4, 2)) EXPECT_EQ(pixel, 0xff3060a0u);
}

// Every pixel format of the image library: the chosen texture format and a
// full-colour A8R8G8B8 texture both sample back the image's colours.
TEST_F(LayerTest, EachImagePixelFormatSamplesBackItsColours) {
  struct Case {
    const char* name;
    media::PixelFormat format;
  };
  const Case cases[] = {{"PAL8", media::PF_PAL8},         {"RGB24", media::PF_RGB24},
                        {"BGR24", media::PF_BGR24},       {"ARGB32", media::PF_ARGB32},
                        {"XRGB32", media::PF_XRGB32},     {"XBGR32", media::PF_XBGR32},
                        {"RGB565", media::PF_RGB565},     {"XRGB1555", media::PF_XRGB1555},
                        {"ARGB1555", media::PF_ARGB1555}, {"ARGB4444", media::PF_ARGB4444}};
  // Full and empty channels; the last pixel is transparent where the
  // format has alpha.
  const std::vector<uint32_t> pure = {0xffff0000, 0xff00ff00, 0xff0000ff, 0x00ffffff};
  // Middle values keep the format's precision.
  const std::vector<uint32_t> middle = {0xff804020, 0xff20c080, 0xff6090f0, 0xff404040};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool alpha = media::HasAlpha(c.format);
    media::Image image = MakeImage(2, 2, c.format, pure);
    const Format chosen = ChooseImageTextureFormat(image);
    EXPECT_EQ(chosen, alpha ? FMT_A8R8G8B8 : FMT_R5G6B5);
    TextureId id = CreateTextureFromImage(image, chosen, false);
    ASSERT_GE(id, 0);
    std::vector<uint32_t> pixels = Sample(id, 2, 2);
    ASSERT_EQ(pixels.size(), 4u);
    // A8R8G8B8 keeps what the image held; R5G6B5 rounds to its own steps.
    const int tolerance = chosen == FMT_R5G6B5 ? 8 : 0;
    for (int i = 0; i < 4; ++i) EXPECT_THAT(pixels[i], ArgbNear(Quantize(c.format, pure[i]), tolerance)) << i;
    ReleaseTexture(id);

    media::Image mid = MakeImage(2, 2, c.format, middle);
    id = CreateTextureFromImage(mid, FMT_A8R8G8B8, false);
    ASSERT_GE(id, 0);
    pixels = Sample(id, 2, 2);
    // A8R8G8B8 textures hold exactly what the image library made of them.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pixels[i], Quantize(c.format, middle[i])) << i;
    ReleaseTexture(id);
  }
}

TEST_F(LayerTest, MipLevelsAreFilledFromTheImage) {
  // Left half white, right half black: level 1 is 2 x 1 of the same, level
  // 2 the grey average.
  media::Image image = MakeImage(4, 2, media::PF_XRGB32,
                                 {0xffffffff, 0xffffffff, 0xff000000, 0xff000000, 0xffffffff, 0xffffffff,
                                  0xff000000, 0xff000000});
  TextureId id = CreateTextureFromImage(image, FMT_X8R8G8B8, false);
  ASSERT_GE(id, 0);
  std::shared_ptr<Texture> texture = GetTextureById(id);
  ASSERT_EQ(texture->LevelCount(), 3u);
  // Drawn at half and quarter size, point mip filtering picks levels 1 and 2.
  device_->SetTextureStageState(0, TSS_MIPFILTER, TEXF_POINT);
  std::vector<uint32_t> level1 = Sample(id, 2, 1);
  std::vector<uint32_t> level2 = Sample(id, 1, 1);
  device_->SetTextureStageState(0, TSS_MIPFILTER, TEXF_NONE);
  EXPECT_THAT(level1, ::testing::ElementsAre(0xffffffffu, 0xff000000u));
  ASSERT_EQ(level2.size(), 1u);
  EXPECT_THAT(level2[0], ArgbNear(0xff7f7f7fu, 1));
}

TEST_F(LayerTest, NormalMapFollowsTheBlueHeightField) {
  // Heights (blue) 0 16 32 48 over 16 16 16 16; red and green are noise the
  // map must ignore.
  const uint32_t heights[8] = {0, 16, 32, 48, 16, 16, 16, 16};
  std::vector<uint32_t> pixels;
  for (int i = 0; i < 8; ++i) pixels.push_back(0xff000000u | (static_cast<uint32_t>(i * 31) << 16) | 0x5500 | heights[i]);
  media::Image image = MakeImage(4, 2, media::PF_XRGB32, pixels);
  TextureId id = CreateNormalMapFromImage(image, FMT_A8R8G8B8);
  ASSERT_GE(id, 0);
  // By hand: (dx, dy) per pixel with wrap-around, len = sqrt(dx^2 + dy^2 +
  // 256), channel = 128 + trunc(127 * d / len).
  //   (0,0) 16, 16  len 27.71: 73, 73, 73        -> 201 201 201
  //   (1,0) 16, 0   len 22.63: 89, 0, 89         -> 217 128 217
  //   (2,0) 16, -16 len 27.71: 73, -73, 73       -> 201  55 201
  //   (3,0) -48,-32 len 59.87: -101, -67, 33     ->  27  61 161
  //   (0,1) 0, -16  len 22.63: 0, -89, 89        -> 128  39 217
  //   (1,1) 0, 0    len 16:    0, 0, 127         -> 128 128 255
  //   (2,1) 0, 16   len 22.63: 0, 89, 89         -> 128 217 217
  //   (3,1) 0, 32   len 35.78: 0, 113, 56        -> 128 241 184
  const std::vector<uint32_t> expected = {0xffc9c9c9, 0xffd980d9, 0xffc937c9, 0xff1b3da1,
                                          0xff8027d9, 0xff8080ff, 0xff80d9d9, 0xff80f1b8};
  EXPECT_EQ(Sample(id, 4, 2), expected);
  // The map is made from the image's size: it must be a power of two too.
  media::Image odd = SolidImage(3, 3, media::PF_XRGB32, 0xff000010);
  EXPECT_EQ(CreateNormalMapFromImage(odd, FMT_A8R8G8B8), kNoId);
  EXPECT_EQ(CountMessages("Texturas potencia de 2 por favor!"), 1);
}

TEST_F(LayerTest, CubeTextureTakesOneImagePerFace) {
  const uint32_t colours[6] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff00ffff, 0xffff00ff};
  const media::PixelFormat formats[6] = {media::PF_BGR24,  media::PF_RGB24,   media::PF_XRGB32,
                                         media::PF_RGB565, media::PF_ARGB32, media::PF_PAL8};
  std::vector<media::Image> faces;
  for (int i = 0; i < 6; ++i) faces.push_back(SolidImage(4, 4, formats[i], colours[i]));
  const media::Image* images[6];
  for (int i = 0; i < 6; ++i) images[i] = &faces[i];
  TextureId id = CreateCubeTextureFromImages(images, FMT_X8R8G8B8);
  ASSERT_GE(id, 0);
  std::shared_ptr<CubeTexture> cube = GetCubeTextureById(id);
  ASSERT_NE(cube, nullptr);
  EXPECT_EQ(GetTextureById(id), nullptr);
  EXPECT_EQ(cube->LevelCount(), 3u);

  // One point per face direction (+X, -X, +Y, -Y, +Z, -Z).
  TextureId target = CreateRenderTexture(6, 1, FMT_A8R8G8B8, 1);
  ASSERT_EQ(PushRenderTarget(target, kNoId), 0);
  device_->SetTextureStageState(0, TSS_COLOROP, TOP_SELECTARG1);
  device_->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
  device_->SetTextureStageState(0, TSS_ALPHAOP, TOP_SELECTARG1);
  device_->SetTextureStageState(0, TSS_ALPHAARG1, TA_TEXTURE);
  device_->SetRenderState(RS_ZENABLE, ZB_FALSE);
  device_->SetTexture(0, GetBaseTextureById(id));
  struct Vertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v, w;
  };
  const Vertex points[6] = {{0, 0, 0, 1, 0xffffffff, 1, 0, 0},  {1, 0, 0, 1, 0xffffffff, -1, 0, 0},
                            {2, 0, 0, 1, 0xffffffff, 0, 1, 0},  {3, 0, 0, 1, 0xffffffff, 0, -1, 0},
                            {4, 0, 0, 1, 0xffffffff, 0, 0, 1},  {5, 0, 0, 1, 0xffffffff, 0, 0, -1}};
  device_->SetFVF(FVF_XYZRHW | FVF_DIFFUSE | FVF_TEX1 | FvfTexCoordSize3(0));
  ASSERT_EQ(device_->DrawPrimitiveUP(PT_POINTLIST, 6, points, sizeof(Vertex)), 0);
  device_->SetTexture(0, nullptr);
  std::vector<uint32_t> pixels;
  ASSERT_EQ(device_->ReadSurfacePixels(device_->GetRenderTarget().get(), &pixels), 0);
  ASSERT_EQ(PopRenderTarget(), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(pixels[i], Quantize(formats[i], colours[i])) << i;

  // Six square images of one size, or nothing.
  int count = TextureCount();
  media::Image wide = SolidImage(8, 4, media::PF_XRGB32, 0xff000000);
  media::Image bigger = SolidImage(8, 8, media::PF_XRGB32, 0xff000000);
  images[3] = &wide;
  EXPECT_EQ(CreateCubeTextureFromImages(images, FMT_X8R8G8B8), kNoId);
  images[3] = &bigger;
  EXPECT_EQ(CreateCubeTextureFromImages(images, FMT_X8R8G8B8), kNoId);
  images[3] = nullptr;
  EXPECT_EQ(CreateCubeTextureFromImages(images, FMT_X8R8G8B8), kNoId);
  EXPECT_EQ(TextureCount(), count);
  ReleaseTexture(id);
  EXPECT_EQ(GetCubeTextureById(id), nullptr);
}

// ---------------------------------------------------------------------------
// Times and life
// ---------------------------------------------------------------------------

TEST_F(LayerTest, TimesHoldWhatWasSet) {
  SetEffectTime(12.5f);
  SetGlobalTime(1234.25f);
  EXPECT_EQ(EffectTime(), 12.5f);
  EXPECT_EQ(GlobalTime(), 1234.25f);
  // They do not depend on the layer running.
  ShutdownRenderLayer();
  EXPECT_EQ(EffectTime(), 12.5f);
  SetEffectTime(-3.0f);
  EXPECT_EQ(EffectTime(), -3.0f);
  SetEffectTime(0.0f);
  SetGlobalTime(0.0f);
}

TEST_F(LayerTest, AShutDownLayerHoldsNothingAndStartsAfresh) {
  TextureId target = CreateRenderTexture(16, 16, FMT_A8R8G8B8, 1);
  ASSERT_EQ(PushRenderTarget(target, kNoId), 0);
  ShutdownRenderLayer();
  EXPECT_FALSE(RenderLayerReady());
  EXPECT_EQ(device_->GetRenderTarget(), device_->GetBackBuffer());  // not left on a texture
  EXPECT_EQ(CreateTexture(4, 4, FMT_X8R8G8B8, 1), kNoId);
  EXPECT_EQ(GetTextureById(target), nullptr);
  EXPECT_EQ(TextureCount(), 0);
  EXPECT_EQ(RenderTargetDepth(), 0);
  EXPECT_EQ(PushRenderTarget(target, kNoId), -1);
  EXPECT_EQ(PopRenderTarget(), -1);
  void* data = nullptr;
  EXPECT_EQ(AppendDynamicVertices(0, 36, &data), -1);
  EXPECT_EQ(ScaleX(640), 0.0f);
  media::Image image = SolidImage(4, 4, media::PF_XRGB32, 0);
  EXPECT_EQ(CreateTextureFromImage(image, FMT_X8R8G8B8, false), kNoId);
  ShutdownRenderLayer();  // twice is harmless

  ASSERT_EQ(InitRenderLayer(device_), 0);
  EXPECT_EQ(TextureCount(), 3);  // the aux targets alone
  // An id of the earlier start never names a texture of this one, even in
  // its own slot.
  TextureId reused = CreateTexture(4, 4, FMT_X8R8G8B8, 1);
  ASSERT_EQ(core::PoolIndex(reused), core::PoolIndex(target));  // ids come in slot order again
  EXPECT_NE(reused, target);
  EXPECT_EQ(GetTextureById(target), nullptr);
  ReleaseTexture(target);
  EXPECT_NE(GetTextureById(reused), nullptr);
}

// The Server's way: the layer on the display's device.
TEST(LayerOnDisplay, StartsOnTheDisplayDevice) {
  ASSERT_EQ(InitDirect3D(0, DisplayBackend::kHeadless), 0);
  ASSERT_EQ(SelectDisplayMode(nullptr, 640, 480, 16, false, false, nullptr, "", false, true, true, false, false),
            0);
  ASSERT_EQ(InitRenderLayer(), 0);
  EXPECT_EQ(LayerDevice(), GetDevice());
  EXPECT_EQ(RenderTargetWidth(), 640.0f);
  EXPECT_EQ(RenderTargetHeight(), 480.0f);
  EXPECT_EQ(ScaleX(640), 640.0f);
  EXPECT_EQ(ScaleY(240), 240.0f);
  // No stencil was asked for: the first 16-bit depth format the adapter has.
  std::shared_ptr<Surface> depth = GetDepthSurfaceById(AuxDepthSurface(0));
  ASSERT_NE(depth, nullptr);
  EXPECT_EQ(depth->GetDesc().format, FMT_D16);
  ShutdownRenderLayer();
  EXPECT_FALSE(RenderLayerReady());
  // Releasing the device shuts a layer still running on it down first.
  ASSERT_EQ(InitRenderLayer(), 0);
  EXPECT_GE(CreateTexture(8, 8, FMT_X8R8G8B8, 1), 0);
  ReleaseDevice();
  EXPECT_FALSE(RenderLayerReady());
  EXPECT_EQ(CreateTexture(8, 8, FMT_X8R8G8B8, 1), kNoId);
  ReleaseDirect3D();
  EXPECT_EQ(InitRenderLayer(), -1);  // no device
}

}  // namespace

// The radial blur on the display's headless device: where a pass puts a
// marker, the order in which it uses its work textures, what it draws into
// the current target and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/postfx.h"
#include "render/values.h"

namespace {

using namespace render;

constexpr int kSize = 256;
constexpr uint32_t kBlurColour = 0xFF808080u;  // each read weighs 128/255
constexpr int kGrey = 100, kBandLeft = 224, kBandRight = 228;

class RadialBlurTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = InitDirect3D(0, DisplayBackend::kHeadless) == 0 &&
             SelectDisplayMode(nullptr, kSize, kSize, 32, false, false, nullptr, "", false, false, true, false,
                               false) == 0 &&
             InitRenderLayer() == 0;
  }
  static void TearDownTestSuite() { ReleaseDirect3D(); }

  void SetUp() override {
    ASSERT_TRUE(ready_);
    ApplyDefaultStates();
    PopAllRenderTargets();
    for (TextureId& id : work_) ASSERT_GE(id = CreateRenderTexture(kSize, kSize, FMT_X8R8G8B8, 1), 0);
    ASSERT_GE(source_ = CreateRenderTexture(kSize, kSize, FMT_X8R8G8B8, 1), 0);
    // Grey with a white vertical band.
    ASSERT_EQ(PushRenderTarget(source_, kNoId), 0);
    Clear(0xFF000000u | kGrey * 0x010101u);
    const Rect band{kBandLeft, 0, kBandRight, kSize};
    ASSERT_EQ(LayerDevice()->Clear(1, &band, CLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0), 0);
    PopRenderTarget();
  }
  void TearDown() override {
    for (TextureId id : work_) ReleaseTexture(id);
    ReleaseTexture(source_);
  }

  static void Clear(uint32_t argb) { LayerDevice()->Clear(0, nullptr, CLEAR_TARGET, argb, 1.0f, 0); }

  // The middle row's blue channel of render texture `id`.
  static std::vector<int> Row(TextureId id) {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(LayerDevice()->ReadSurfacePixels(GetTextureById(id)->GetSurfaceLevel(0).get(), &pixels), 0);
    std::vector<int> row(kSize);
    for (int x = 0; x < kSize; ++x) row[x] = static_cast<int>(pixels.at(static_cast<size_t>(kSize / 2) * kSize + x) & 0xff);
    return row;
  }

  static std::vector<double> SourceRow() {
    std::vector<double> row(kSize, kGrey);
    for (int x = kBandLeft; x < kBandRight; ++x) row[x] = 255.0;
    return row;
  }

  // Bilinear sampling of a row at coordinate u, clamped at the edges.
  static double Sample(const std::vector<double>& row, double u) {
    double texel = u * kSize - 0.5;
    int i = static_cast<int>(std::floor(texel));
    double f = texel - i;
    auto at = [&](int k) { return row[std::clamp(k, 0, kSize - 1)]; };
    return at(i) * (1.0 - f) + at(i + 1) * f;
  }

  // Pass i of the blur on one row: the zoomed and the plain read, each
  // weighed by the blur colour.
  static std::vector<double> ModelPass(const std::vector<double>& row, int i, double step) {
    const double k = 128.0 / 255.0, zoom = step * i;
    std::vector<double> out(kSize);
    for (int x = 0; x < kSize; ++x) {
      double p = (x + 0.5) / kSize;
      out[x] = std::min(255.0, k * Sample(row, zoom + p * (1.0 - 2.0 * zoom)) + k * Sample(row, p));
    }
    return out;
  }

  static void ExpectRow(const std::vector<int>& got, const std::vector<double>& expected, int tolerance) {
    for (int x = 0; x < kSize; ++x) EXPECT_NEAR(got[x], expected[x], tolerance) << "column " << x;
  }

  static bool ready_;
  TextureId work_[2] = {kNoId, kNoId};
  TextureId source_ = kNoId;
};

bool RadialBlurTest::ready_ = false;

TEST_F(RadialBlurTest, OnePassPutsAMarkerWhereTheZoomedCoordinatesSampleIt) {
  const TextureId result = RadialBlur(source_, work_[0], work_[1], 1, 0.05f, kBlurColour);
  ASSERT_EQ(result, work_[0]);
  const std::vector<int> row = Row(result);
  ExpectRow(row, ModelPass(SourceRow(), 1, 0.05), 3);
  // By hand: the centre keeps its grey, the band stays half bright in place
  // and shows half bright again where u = 0.05 + p (1 - 0.1) reads it.
  EXPECT_NEAR(row[kSize / 2], kGrey, 1);
  const double p = ((kBandLeft + kBandRight) / 2.0 / kSize - 0.05) / 0.9;
  const int lands = static_cast<int>(std::lround(p * kSize - 0.5));
  EXPECT_NEAR(row[lands], (255 + kGrey) * 128 / 255, 2);
  EXPECT_NEAR(row[(kBandLeft + kBandRight) / 2], (255 + kGrey) * 128 / 255, 2);
}

TEST_F(RadialBlurTest, PassesAlternateAndNeverReadTheirTarget) {
  struct Case {
    int passes;
    bool source_is_work0;  // as the beams call it
  };
  for (const Case& c : {Case{2, false}, Case{3, false}, Case{2, true}, Case{3, true}}) {
    SCOPED_TRACE(testing::Message() << c.passes << " passes, source is work 0: " << c.source_is_work0);
    TearDown();
    SetUp();
    TextureId source = source_;
    if (c.source_is_work0) {
      std::swap(work_[0], source_);
      source = work_[0];
    }
    // Pass i writes the work texture it does not read.
    TextureId expected_result = source;
    for (int i = 0; i < c.passes; ++i) expected_result = expected_result == work_[0] ? work_[1] : work_[0];
    std::vector<double> model = SourceRow();
    for (int i = 1; i <= c.passes; ++i) model = ModelPass(model, i, 0.02);
    const TextureId result = RadialBlur(source, work_[0], work_[1], c.passes, 0.02f, kBlurColour);
    ASSERT_EQ(result, expected_result);
    ExpectRow(Row(result), model, 4);
  }
}

TEST_F(RadialBlurTest, DrawsTheResultIntoTheCurrentTargetAsAsked) {
  const TextureId target = CreateRenderTexture(kSize, kSize, FMT_X8R8G8B8, 1);
  ASSERT_GE(target, 0);
  const std::vector<double> blurred = ModelPass(SourceRow(), 1, 0.05);
  struct Case {
    RadialBlurDraw draw;
    double below_weight;  // how much of the target's old colour stays
  };
  for (const Case& c : {Case{RadialBlurDraw::kOpaque, 0.0}, Case{RadialBlurDraw::kAdditive, 1.0}}) {
    ASSERT_EQ(PushRenderTarget(target, kNoId), 0);
    Clear(0xFF141414u);
    const int depth = RenderTargetDepth();
    ASSERT_EQ(RadialBlur(source_, work_[0], work_[1], 1, 0.05f, kBlurColour, c.draw), work_[0]);
    EXPECT_EQ(RenderTargetDepth(), depth);
    std::vector<double> expected(kSize);
    for (int x = 0; x < kSize; ++x) expected[x] = std::min(255.0, blurred[x] + c.below_weight * 0x14);
    ExpectRow(Row(target), expected, 3);
    PopRenderTarget();
  }
  ReleaseTexture(target);
}

TEST_F(RadialBlurTest, RefusesWhatItCannotDrawWithoutTouchingTheStack) {
  const TextureId managed = CreateTexture(kSize, kSize, FMT_X8R8G8B8, 1);
  ASSERT_GE(managed, 0);
  const TextureId missing = 999;
  struct Case {
    TextureId source, work0, work1;
  };
  const int depth = RenderTargetDepth();
  for (const Case& c : {Case{missing, work_[0], work_[1]}, Case{source_, work_[0], work_[0]},
                        Case{source_, managed, work_[1]}, Case{source_, work_[0], kNoId}}) {
    EXPECT_EQ(RadialBlur(c.source, c.work0, c.work1, 2, 0.05f, kBlurColour), kNoId);
    EXPECT_EQ(RenderTargetDepth(), depth);
  }
  // No pass: the source is the result.
  EXPECT_EQ(RadialBlur(source_, work_[0], work_[1], 0, 0.05f, kBlurColour), source_);
  ReleaseTexture(managed);
}

}  // namespace

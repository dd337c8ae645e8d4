// The 3DSCENE effect drawing the demo room on the headless device (with a
// stencil): the viewport keeps the deck's picture around it and is clipped
// to the target, FLIPX mirrors the picture, SHADOWS ON darkens the floor
// under the casters.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/scene_effect.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "tests/support/support.h"

namespace {

constexpr uint32_t kWidth = 320, kHeight = 240;
constexpr uint32_t kGreen = 0xFF00FF00u;

int Sum(uint32_t c) { return static_cast<int>((c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF)); }

class SceneDrawEffectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = render::InitDirect3DFrom(0, render::HeadlessAdapterInfo(), render::DisplayBackend::kHeadless) == 0 &&
             render::SelectDisplayMode(nullptr, kWidth, kHeight, 32, true, false, nullptr, "", false, false, false,
                                       false, false) == 0;
  }
  static void TearDownTestSuite() {
    render::ReleaseDevice();
    render::ReleaseDirect3D();
  }
  void SetUp() override {
    ASSERT_TRUE(ready_);
    const std::string command =
        std::string("python3 '") + VJ_SOURCE_DIR + "/tools/make_demo_scene.py' '" + dir.path() + "/data'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    core::StartFileLayer(dir.path());
    core::MarkStartupFinished(true);
    device_ = render::GetDevice();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), 0);
    render::ApplyDefaultStates();
    ASSERT_EQ(render::InitRenderLayer(nullptr), 0);
    ASSERT_EQ(render::InitShaderSystem(), 0);
    ASSERT_EQ(manager_.Init(), 0);
    ASSERT_EQ(manager_.ParseShaderDirectory("data/shaders"), 0);
    ASSERT_EQ(render::PushShaderManager(&manager_), 0);
    effect_ = std::make_unique<fx::SceneEffect>();
    ASSERT_EQ(effect_->Load("S", "ORBIT.TXT"), 0);
  }
  void TearDown() override {
    effect_.reset();  // before the manager it holds references in
    render::PopShaderManager();
    manager_.Shutdown();
    render::ShutdownShaderSystem();
    render::ShutdownRenderLayer();
    core::MarkStartupFinished(false);
    core::StopFileLayer();
  }

  // One replayed frame at t = 1 over a green picture: Reset, Start at 0,
  // the commands, Render; the back buffer read back.
  std::vector<uint32_t> Frame(const std::vector<const char*>& commands) {
    device_->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, kGreen, 1.0f,
                   0);
    device_->BeginScene();
    effect_->Reset();
    effect_->Start(0.0f);
    for (const char* command : commands) effect_->Command(0.0f, command);
    effect_->Render(1.0f);
    device_->EndScene();
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device_->ReadSurfacePixels(device_->GetBackBuffer().get(), &pixels), 0);
    for (uint32_t& p : pixels) p |= 0xFF000000u;
    return pixels;
  }
  static uint32_t At(const std::vector<uint32_t>& p, uint32_t x, uint32_t y) { return p.at(y * kWidth + x); }
  // Share of the pixels of [x0, x1) x [y0, y1) that are not the green background.
  static double Drawn(const std::vector<uint32_t>& p, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
    size_t drawn = 0;
    for (uint32_t y = y0; y < y1; ++y)
      for (uint32_t x = x0; x < x1; ++x) drawn += At(p, x, y) != kGreen;
    return static_cast<double>(drawn) / static_cast<double>((x1 - x0) * (y1 - y0));
  }

  static bool ready_;
  testing_support::TempDir dir;
  render::Device* device_ = nullptr;
  render::ShaderManager manager_;
  std::unique_ptr<fx::SceneEffect> effect_;
};
bool SceneDrawEffectTest::ready_ = false;

TEST_F(SceneDrawEffectTest, ViewportKeepsThePictureAroundItAndIsClippedToTheTarget) {
  const std::vector<uint32_t> full = Frame({});
  EXPECT_GT(Drawn(full, 0, kHeight / 2, kWidth, kHeight), 0.9);  // the floor fills the lower half

  // (160, 120, 320, 240) of the 640 x 480 frame is the middle quarter here.
  const std::vector<uint32_t> window = Frame({"VIEWPORT 160 120 320 240"});
  EXPECT_EQ(Drawn(window, 0, 0, kWidth, kHeight / 4), 0.0);
  EXPECT_EQ(Drawn(window, 0, 0, kWidth / 4, kHeight), 0.0);
  EXPECT_EQ(Drawn(window, 3 * kWidth / 4, 0, kWidth, kHeight), 0.0);
  EXPECT_EQ(Drawn(window, 0, 3 * kHeight / 4, kWidth, kHeight), 0.0);
  EXPECT_GT(Drawn(window, kWidth / 4, kHeight / 2, 3 * kWidth / 4, 3 * kHeight / 4), 0.9);

  // Reaching past the target: still drawn, clipped.
  const std::vector<uint32_t> wide = Frame({"VIEWPORT -320 -240 1280 960"});
  EXPECT_GT(Drawn(wide, 0, kHeight / 2, kWidth, kHeight), 0.9);
  // An empty one draws nothing.
  EXPECT_EQ(Drawn(Frame({"VIEWPORT 0 0 0 480"}), 0, 0, kWidth, kHeight), 0.0);
}

TEST_F(SceneDrawEffectTest, FlipXMirrorsThePicture) {
  const std::vector<uint32_t> plain = Frame({}), flipped = Frame({"FLIPX ON"});
  // Blocks of 8 x 8 against their mirror images (texels and pixel centres
  // do not mirror exactly; a culling or lighting fault changes whole blocks).
  auto block = [](const std::vector<uint32_t>& p, uint32_t bx, uint32_t by) {
    int sum = 0;
    for (uint32_t y = by * 8; y < by * 8 + 8; ++y)
      for (uint32_t x = bx * 8; x < bx * 8 + 8; ++x) sum += Sum(At(p, x, y));
    return sum / 64;
  };
  size_t same = 0, total = 0;
  for (uint32_t by = 0; by < kHeight / 8; ++by)
    for (uint32_t bx = 0; bx < kWidth / 8; ++bx, ++total)
      same += std::abs(block(plain, bx, by) - block(flipped, kWidth / 8 - 1 - bx, by)) < 40;
  EXPECT_GT(static_cast<double>(same) / static_cast<double>(total), 0.9);
  size_t unchanged = 0;
  for (size_t i = 0; i < plain.size(); ++i) unchanged += plain[i] == flipped[i];
  EXPECT_LT(static_cast<double>(unchanged) / static_cast<double>(plain.size()), 0.8);  // the room is not symmetric
}

TEST_F(SceneDrawEffectTest, ShadowsDarkenTheFloorUnderTheCasters) {
  const std::vector<uint32_t> lit = Frame({}), shadowed = Frame({"SHADOWS ON"});
  size_t darker = 0;
  for (size_t i = 0; i < lit.size(); ++i) darker += Sum(shadowed[i]) + 60 < Sum(lit[i]);
  EXPECT_GT(static_cast<double>(darker) / static_cast<double>(lit.size()), 0.01);
}

}  // namespace

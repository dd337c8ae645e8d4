// The bundled POSTFX effect: every segment of its loop shows something
// the same script without its FILTER does not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/image_effect.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace {

constexpr int kSize = 512;

// The script without the lines naming the FILTER instance F.
std::string WithoutFilter(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string keyword, name;
    words >> keyword >> name;
    if (keyword.rfind("FX", 0) == 0 && name == "F") continue;
    out += line + "\n";
  }
  return out;
}

// Mean absolute difference of all channels.
double Difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift : {0, 8, 16}) sum += std::abs(int((a[i] >> shift) & 0xff) - int((b[i] >> shift) & 0xff));
  return a.empty() ? 0.0 : sum / (3.0 * a.size());
}

class DemoPostFx : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(core::StartFileLayer(VJ_SOURCE_DIR), 0);
    fx::RegisterEffectClasses();
    core::MarkStartupFinished(true);
    ASSERT_EQ(render::InitDirect3D(0, render::DisplayBackend::kHeadless), 0);
    ASSERT_EQ(render::SelectDisplayMode(nullptr, 640, 480, 32, false, false, nullptr, "", false, false, true, false,
                                        false),
              0);
    ASSERT_EQ(render::InitRenderLayer(), 0);
    ASSERT_EQ(fx::StartImageManager(), 0);
    target_ = render::CreateRenderTexture(kSize, kSize, render::FMT_X8R8G8B8, 1);
    depth_ = render::CreateDepthSurface(kSize, kSize, render::FMT_X8R8G8B8);
    ASSERT_EQ(render::PushRenderTarget(target_, depth_), 0);
  }
  void TearDown() override {
    filtered_.reset();
    plain_.reset();
    render::PopAllRenderTargets();
    fx::ShutdownImageManager();
    render::ReleaseDirect3D();
    core::MarkStartupFinished(false);
    core::StopFileLayer();
  }

  std::unique_ptr<fx::FxScript> Open(const std::string& text) {
    auto script = std::make_unique<fx::FxScript>();
    core::PushBaseFolder("effects/postfx");
    EXPECT_EQ(script->Open(text.c_str(), true), 0);
    EXPECT_EQ(script->InstantiateAll(), 0);
    core::PopBaseFolder();
    return script;
  }

  // Three frames at 25 fps ending at `time` (the filter shows the frame
  // before; trails need a few); the last one read back.
  std::vector<uint32_t> Show(fx::FxScript* script, float time) {
    render::Device* device = render::LayerDevice();
    std::vector<uint32_t> pixels;
    for (float t : {time - 0.08f, time - 0.04f, time}) {
      device->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
      fx::SetEffectTime(t);
      script->RenderDeck();
    }
    device->ReadSurfacePixels(device->GetRenderTarget().get(), &pixels);
    return pixels;
  }

  render::TextureId target_ = -1, depth_ = -1;
  std::unique_ptr<fx::FxScript> filtered_, plain_;
};

TEST_F(DemoPostFx, EverySegmentDiffersFromTheUnfilteredScript) {
  std::string text;
  ASSERT_TRUE(core::ReadWholeFile("effects/postfx/data/script.txt", &text));
  ASSERT_NE(text.find("FXINSTANCE F FILTER RENDERTARGET"), std::string::npos);
  filtered_ = Open(text);
  plain_ = Open(WithoutFilter(text));
  ASSERT_EQ(filtered_->Length(), 16.0f);
  // The middle of each 1.5 s segment, and the fade into white at the end.
  for (float time : {0.75f, 2.25f, 3.75f, 5.25f, 6.75f, 8.25f, 9.75f, 11.25f, 12.75f, 15.5f}) {
    const double difference = Difference(Show(filtered_.get(), time), Show(plain_.get(), time));
    EXPECT_GT(difference, 2.0) << "at " << time << " s";
  }
}

}  // namespace

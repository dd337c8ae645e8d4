// The bundled PROCEDURAL effect through the real program: binding X
// renders the same frames twice without a message, and the effect alone
// draws every procedural kind in its own part of the picture, the
// particles moving from frame to frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "net/wire.h"
#include "show/preset.h"
#include "tests/support/support.h"

namespace {

using testing_support::ChildResult;
using testing_support::ReadRgbPng;
using testing_support::RgbPng;
using testing_support::RunChild;
using testing_support::TempDir;

const std::string kBuild = VJ_BINARY_DIR;
constexpr int kFrames = 50;  // 2 s at 25 fps: the first camera, the fountain in full flow

std::string FrameName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "%06d.png", index);
  return name;
}

ChildResult RenderOffline(const TempDir& dir, const std::string& out, const std::string& preset,
                          const std::string& key) {
  testing_support::MakeDirs(dir / "settings");
  return RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=25", "--frames=" + std::to_string(kFrames),
                   "--dump=" + out, "--audio-input=" + kBuild + "/data/sounds/demo_beat.wav", "--preset=" + preset,
                   "--recall=" + key},
                  {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
                   "SDL_AUDIODRIVER=dummy"},
                  240.0);
}

// What the program said on stderr, less the windowing library's note
// about its runtime folder.
std::string Messages(const std::string& err) {
  std::istringstream in(err);
  std::string line, out;
  while (std::getline(in, line))
    if (line.find("XDG_RUNTIME_DIR") == std::string::npos) out += line + "\n";
  return out;
}

struct Region {
  const char* name;
  int x0, y0, x1, y1;  // pixels of the 640 x 480 frame
};

// The layout of tools/make_procedural_demo.py as its --regions prints it
// for the first camera: where each object can reach over the camera's
// 4 s. Nothing else reaches into them.
const Region kRegions[] = {
    {"@SPHERICAL01", 73, 57, 192, 165}, {"@DISTORTBALL01", 277, 59, 363, 156}, {"@BOLASYNC01", 452, 54, 572, 163},
    {"@PARTICLE01", 52, 250, 230, 321}, {"@TRAUMA01", 267, 178, 379, 284},     {"@PARTICLE02", 451, 207, 566, 333},
    {"@SPIKETUBE01", 0, 380, 640, 480},
};

bool Bright(const RgbPng& png, int x, int y) {
  const size_t i = (static_cast<size_t>(y) * png.width + x) * 3;
  return png.rgb[i] > 40 || png.rgb[i + 1] > 40 || png.rgb[i + 2] > 40;
}

// Share of the region's pixels that are lit.
double LitShare(const RgbPng& png, const Region& r) {
  int lit = 0;
  for (int y = r.y0; y < r.y1; ++y)
    for (int x = r.x0; x < r.x1; ++x) lit += Bright(png, x, y);
  return double(lit) / double((r.x1 - r.x0) * (r.y1 - r.y0));
}

// Share of the region's pixels lit in one picture and not in the other.
double ChangedShare(const RgbPng& a, const RgbPng& b, const Region& r) {
  int changed = 0;
  for (int y = r.y0; y < r.y1; ++y)
    for (int x = r.x0; x < r.x1; ++x) changed += Bright(a, x, y) != Bright(b, x, y);
  return double(changed) / double((r.x1 - r.x0) * (r.y1 - r.y0));
}

bool InAnyRegion(int x, int y) {
  for (const Region& r : kRegions)
    if (x >= r.x0 - 4 && x < r.x1 + 4 && y >= r.y0 - 4 && y < r.y1 + 4) return true;
  return false;
}

TEST(DemoProcedural, BindingXRendersTheSameFramesTwiceWithoutAMessage) {
  TempDir dir;
  const std::string preset = kBuild + "/presets/demo.HVR";
  for (const char* run : {"one", "two"}) {
    ChildResult result = RenderOffline(dir, dir / run, preset, "X");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Messages(result.err), "");
  }
  ASSERT_EQ(testing_support::ListDir(dir / "one").size(), size_t(kFrames));
  for (int i = 0; i < kFrames; i += 7) {
    RgbPng a, b;
    ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(i)), &a)) << i;
    ASSERT_TRUE(ReadRgbPng(dir / ("two/" + FrameName(i)), &b)) << i;
    EXPECT_TRUE(a.rgb == b.rgb) << "frame " << i << " differs between two renders";
  }
}

TEST(DemoProcedural, EveryObjectLightsItsOwnRegionAndTheParticlesMove) {
  TempDir dir;
  // The effect alone on a black background.
  auto bank = show::NewPresetBank();
  net::SetRecordText(bank->bindings[0][0].decks[0].effect_name, "PROCEDURAL");
  ASSERT_EQ(show::SavePresetFile((dir / "alone.HVR").c_str(), *bank), 0);
  ChildResult result = RenderOffline(dir, dir / "alone", dir / "alone.HVR", "A");
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Messages(result.err), "");

  RgbPng earlier, last;
  ASSERT_TRUE(ReadRgbPng(dir / ("alone/" + FrameName(kFrames - 6)), &earlier));
  ASSERT_TRUE(ReadRgbPng(dir / ("alone/" + FrameName(kFrames - 1)), &last));
  ASSERT_EQ(last.width, 640u);
  ASSERT_EQ(last.height, 480u);
  for (const Region& r : kRegions) EXPECT_GT(LitShare(last, r), 0.03) << r.name << " draws (almost) nothing";
  // The background between the regions stays dark: what lights a region
  // is its own object.
  int stray = 0, outside = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      if (InAnyRegion(x, y)) continue;
      ++outside;
      stray += Bright(last, x, y);
    }
  EXPECT_LT(stray, outside / 200) << "lit pixels outside the objects' regions";
  // A fifth of a second later the particles are elsewhere.
  for (const Region& r : {kRegions[3], kRegions[5]})
    EXPECT_GT(ChangedShare(earlier, last, r), 0.02) << r.name << " stands still";
}

}  // namespace

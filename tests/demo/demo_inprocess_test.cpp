// The demo show inside the test: a headless Server on the repository's own
// show folder under an injected clock, its decks composed through each
// mixer and checked against the mixers' formulas, and a controller panel
// that loads every demo effect and recalls the demo preset over loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "client/panel.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "fx/video_effect.h"
#include "net/wire.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"
#include "server/server.h"
#include "show/preset.h"
#include "tests/support/support.h"

namespace {

constexpr int kSize = server::kScratchSize;
constexpr double kFrame = 0.04;  // 25 fps

using Picture = std::vector<uint32_t>;  // 0xRRGGBB, row 0 at the top

Picture ReadScratch() {
  Picture pixels;
  render::Device* device = render::GetDevice();
  std::shared_ptr<render::Texture> texture = render::GetTextureById(server::ScratchFramebuffer());
  if (!device || !texture || device->ReadSurfacePixels(texture->GetSurfaceLevel(0).get(), &pixels) != render::kOk)
    return {};
  for (uint32_t& p : pixels) p &= 0xFFFFFFu;
  return pixels;
}

int Channel(uint32_t word, int shift) { return static_cast<int>((word >> shift) & 0xFFu); }

double MeanLevel(const Picture& picture) {
  double sum = 0.0;
  for (uint32_t p : picture) sum += Channel(p, 16) + Channel(p, 8) + Channel(p, 0);
  return picture.empty() ? 0.0 : sum / (3.0 * static_cast<double>(picture.size()));
}

class DemoServer : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramClock(&clock);
    core::ResetRuntimeMessages();
    // The repository is a show folder: effects/, data/ and presets/.
    ASSERT_EQ(core::StartFileLayer(VJ_SOURCE_DIR, VJ_SOURCE_DIR), 0);
    core::SetTraceFile((dir / "trace.txt").c_str());
    fx::StartTiming();
    fx::RegisterEffectClasses();
    fx::SetVideoExactFrames(true);  // pictures from the frame's own time, as under --fps
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
    Frame();
  }
  void TearDown() override {
    server::ShutdownServer();
    fx::SetVideoExactFrames(false);
    core::MarkStartupFinished(false);
    fx::StopTiming();
    core::SetTraceFile(nullptr);
    core::StopFileLayer();
    core::SetProgramClock(nullptr);
  }

  // One pass of the frame loop at the current clock.
  void Frame() {
    render::SetGlobalTime(static_cast<float>(core::NowSeconds()));
    server::ServerTick();
  }

  static int32_t EffectId(const std::string& name) {
    for (int id = 0; id < server::EffectCount(); ++id)
      if (net::RecordText(server::FindEffect(id)->name) == name) return id;
    return -1;
  }

  struct DeckSetting {
    std::string effect;  // empty: no effect
    int32_t mixer = net::kNullMixer;
    float fader = 1.0f;
    int32_t beat_mode = net::kBeatFree;
  };

  // Clears every deck, puts `decks` on decks 0.. as a Client's request
  // would (from their beginning, at the Server clock), plays `seconds`,
  // and returns the composed picture.
  Picture Compose(const std::vector<DeckSetting>& decks, double seconds) {
    for (int i = 0; i < server::kDeckCount; ++i) {
      server::Deck* deck = server::GetDeck(i);
      deck->record.effect_id = -1;
      if (i >= static_cast<int>(decks.size()) || decks[i].effect.empty()) continue;
      server::EffectEntry* entry = server::FindEffect(EffectId(decks[i].effect));
      EXPECT_NE(entry, nullptr) << decks[i].effect;
      if (!entry) continue;
      if (!entry->script) {
        EXPECT_EQ(server::LoadEffect(entry), 0) << decks[i].effect;
        entry->loaded = true;
      }
      deck->record.effect_id = entry->id;
      deck->record.mixer = decks[i].mixer;
      deck->record.fader = decks[i].fader;
      deck->record.beat_mode = decks[i].beat_mode;
      deck->record.speed = 0.75f;
      deck->start_time = server::ServerClock();
      deck->time_offset = 0.0;
    }
    // Whole frames up to `seconds`, as a show at 25 fps would play them.
    for (double t = 0.0; t + kFrame / 2 < seconds; t += kFrame) {
      clock.Advance(kFrame);
      Frame();
    }
    return ReadScratch();
  }

  testing_support::TempDir dir;
  core::ManualClock clock;
};

// Compares `got` with `expected(p, q)` per pixel for the base picture p and
// the base with the overlay drawn straight over it, q; returns "" or the
// first pixel off by more than `tolerance`, and how many are.
std::string CheckFormula(const Picture& p, const Picture& q, const Picture& got,
                         const std::function<double(double, double)>& expected, int tolerance = 3) {
  if (p.size() != got.size() || q.size() != got.size() || got.empty()) return "missing picture";
  int bad = 0;
  std::string first;
  for (size_t i = 0; i < got.size(); ++i)
    for (int shift : {16, 8, 0}) {
      double want = std::min(255.0, expected(Channel(p[i], shift), Channel(q[i], shift)));
      if (std::fabs(want - Channel(got[i], shift)) > tolerance) {
        if (bad++ == 0)
          first = core::FormatString("pixel (%zu, %zu) channel at bit %d: %d, expected %.1f (p %d, q %d)",
                                     i % kSize, i / kSize, shift, Channel(got[i], shift), want,
                                     Channel(p[i], shift), Channel(q[i], shift));
      }
    }
  return bad ? first + core::FormatString(" (%d values off)", bad) : "";
}

// The alpha the device applies for a factor: its byte, truncated.
double AlphaOf(float factor) { return std::floor(factor * 255.0f) / 255.0; }

TEST_F(DemoServer, EveryDemoEffectLoadsAndDrawsSomething) {
  for (const char* name : {"LOGO", "POSTFX", "SLIDES", "SPECTRUM", "STROBE", "VIDEO", "WARP", "ORBIT", "PILLARS", "PROCEDURAL"}) {
    SCOPED_TRACE(name);
    ASSERT_GE(EffectId(name), 0);
    // Half a second in: every demo effect shows something by then.
    Picture picture = Compose({{name}}, 1.2);
    EXPECT_GT(MeanLevel(picture), 4.0);
  }
  core::FlushTrace();
  EXPECT_THAT(testing_support::ReadFile(dir / "trace.txt"), testing::Not(testing::HasSubstr("Failed")));
}

TEST_F(DemoServer, TheVideoMovesOn) {
  const Picture first = Compose({{"VIDEO"}}, 0.04);
  const Picture later = Compose({{"VIDEO"}}, 1.2);
  EXPECT_GT(std::abs(MeanLevel(first) - MeanLevel(later)), 4.0);
}

TEST_F(DemoServer, DemoDecksComposeByTheMixersFormulas) {
  // Base picture p: SLIDES alone. q: LOGO drawn straight over it (NULL
  // mixer). Each mixer then lays LOGO's picture over p; with no sound the
  // beat and wave mixers see no beat and level 0.
  const double at = 1.3;  // the sunset in full, the logo grown in
  const Picture p = Compose({{"SLIDES"}}, at);
  const Picture q = Compose({{"SLIDES"}, {"LOGO"}}, at);
  ASSERT_EQ(p.size(), static_cast<size_t>(kSize * kSize));
  ASSERT_NE(p, q) << "the logo drew nothing";

  struct Case {
    const char* name;
    int32_t mixer;
    float fader;
    std::function<double(double, double)> formula;
  };
  const double a07 = AlphaOf(0.7f), a04 = AlphaOf(0.4f);
  const Case cases[] = {
      {"ALPHABLEND 1", 0, 1.0f, [](double, double q) { return q; }},
      {"ALPHABLEND 0.7", 0, 0.7f, [=](double p, double q) { return a07 * q + (1 - a07) * p; }},
      {"ALPHABLEND 0", 0, 0.0f, [](double p, double) { return p; }},
      {"BEATBLEND, no beat", 1, 1.0f, [](double p, double) { return p; }},
      {"INVERSEBEATBLEND, no beat", 2, 0.7f, [](double, double q) { return q; }},
      {"WAVEBLEND, level 0", 3, 1.0f, [](double p, double) { return p; }},
      {"ADDITIVE 0.4", 5, 0.4f, [=](double p, double q) { return p + a04 * q; }},
      {"ADDITIVE 1", 5, 1.0f, [](double p, double q) { return p + q; }},
      {"INVERSEWAVEADDITIVE 0, level 0", 9, 0.0f, [](double p, double q) { return p + q; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture got = Compose({{"SLIDES"}, {"LOGO", c.mixer, c.fader}}, at);
    EXPECT_EQ(CheckFormula(p, q, got, c.formula), "");
  }
  // A beat mode with no beat plays as FREE.
  Picture free_mode = Compose({{"SLIDES"}, {"LOGO", 0, 0.7f, net::kBeatFree}}, at);
  Picture start_mode = Compose({{"SLIDES"}, {"LOGO", 0, 0.7f, net::kBeatStartOnBeat}}, at);
  EXPECT_EQ(free_mode, start_mode);
}

TEST_F(DemoServer, SixDemoDecksThroughBlendMixersDrawTheWholeChain) {
  // The overlays over a base, each through a blend mixer: the result is
  // brighter than the base alone wherever they draw.
  const double at = 1.0;
  Picture base = Compose({{"SPECTRUM"}}, at);
  Picture all = Compose({{"SPECTRUM"},
                         {"WARP", 0, 1.0f},
                         {"STROBE", 5, 0.5f},
                         {"LOGO", 0, 1.0f},
                         {"WARP", 0, 0.5f},
                         {"SLIDES", 0, 0.3f}},
                        at);
  ASSERT_EQ(all.size(), base.size());
  EXPECT_NE(all, base);
  EXPECT_GT(MeanLevel(all), MeanLevel(base));
}

// ---------------------------------------------------------------------------
// A controller panel driving the same Server over loopback, pumped on the
// test's thread with the Server's ticks.
// ---------------------------------------------------------------------------
class DemoPanel : public DemoServer {
 protected:
  bool Pump(const std::function<bool()>& done, double seconds = 20.0) {
    return testing_support::WaitUntil(
        [&] {
          panel.Tick();
          clock.Advance(kFrame);
          Frame();
          return done();
        },
        seconds);
  }

  bool PanelHasLog(const std::string& line) const {
    for (const std::string& entry : panel.log())
      if (entry.find(line) != std::string::npos) return true;
    return false;
  }

  client::ControllerPanel panel;
};

TEST_F(DemoPanel, PanelLoadsTheDemoAndRecallsThePreset) {
  ASSERT_EQ(panel.Connect("127.0.0.1:" + std::to_string(server::ServerPort())), 0);
  ASSERT_TRUE(Pump([&] { return panel.connected() && panel.effects().size() == 10; })) << panel.status();

  // Select every effect of the upper list and press "V Load".
  for (const client::ListItem& item : panel.unloaded_list()) panel.SelectUnloaded(item.number, true);
  panel.LoadSelected();
  ASSERT_TRUE(Pump([&] { return panel.loaded_list().size() == 10; }));
  for (const char* name : {"LOGO", "POSTFX", "SLIDES", "SPECTRUM", "STROBE", "VIDEO", "WARP", "ORBIT", "PILLARS", "PROCEDURAL"})
    EXPECT_TRUE(PanelHasLog(std::string("Loaded effect ") + name)) << name;

  // The demo preset, binding D: four decks.
  ASSERT_EQ(panel.LoadPreset(std::string(VJ_SOURCE_DIR) + "/presets/demo.HVR"), 0);
  panel.RecallBinding(0, 'D' - 'A', true);
  const show::Binding& binding = panel.binding(0, 'D' - 'A');
  auto deck_matches = [&](int i) {
    const server::Deck* deck = server::GetDeck(i);
    std::string name(net::RecordText(binding.decks[i].effect_name));
    if (name.empty()) return deck->record.effect_id == -1;
    return deck->record.effect_id == EffectId(name) && deck->record.mixer == binding.decks[i].mixer &&
           deck->record.fader == binding.decks[i].fader && deck->record.speed == binding.decks[i].speed &&
           deck->record.beat_mode == binding.decks[i].beat_mode;
  };
  ASSERT_TRUE(Pump([&] {
    for (int i = 0; i < server::kDeckCount; ++i)
      if (!deck_matches(i)) return false;
    return true;
  }));
  EXPECT_EQ(server::GetDeck(0)->record.effect_id, EffectId("SLIDES"));
  EXPECT_EQ(server::GetDeck(3)->record.effect_id, EffectId("LOGO"));

  // Mixer and beat mode from the panel's lists reach the Server, and the
  // panel shows the Server's answer.
  panel.ChooseMixer(2, 9);
  panel.ChooseBeatMode(2, net::kBeatEndOnBeat);
  ASSERT_TRUE(Pump([&] {
    return server::GetDeck(2)->record.mixer == 9 && server::GetDeck(2)->record.beat_mode == net::kBeatEndOnBeat &&
           panel.deck_table().size() > 2 && panel.deck_table()[2].mixer == 9;
  }));

  // The show runs: the panel hears the frame rate, the picture is lit.
  ASSERT_TRUE(Pump([&] { return panel.frame_rate_text() != "0"; }, 30.0));
  EXPECT_GT(MeanLevel(ReadScratch()), 10.0);
}

}  // namespace

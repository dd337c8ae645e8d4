// The bundled demo show through the real program: offline renders that
// repeat bit for bit, the first binding moving at once, dumped frames that
// follow the mixers' formulas, vjctl loading and mixing every demo effect,
// and a show folder where broken effects sit beside the good ones.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/wire.h"
#include "show/preset.h"
#include "tests/support/support.h"

namespace {

using testing_support::Child;
using testing_support::ChildResult;
using testing_support::RunChild;
using testing_support::ReadRgbPng;
using testing_support::RgbPng;
using testing_support::TempDir;
using testing_support::WaitForListeningPort;

const std::string kBuild = VJ_BINARY_DIR;
const std::string kDemoPreset = kBuild + "/presets/demo.HVR";
const std::string kDemoSound = kBuild + "/data/sounds/demo_beat.wav";
const char* const kDemoEffects[] = {"LOGO", "POSTFX", "SLIDES", "SPECTRUM", "STROBE", "VIDEO", "WARP", "ORBIT", "PILLARS", "PROCEDURAL"};


std::vector<std::string> ProgramEnv(const TempDir& dir) {
  testing_support::MakeDirs(dir / "settings");
  return {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
          "SDL_AUDIODRIVER=dummy"};
}

std::string FrameName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "%06d.png", index);
  return name;
}

// Share of pixels whose colour differs by more than 24 in some channel.
double ChangedShare(const RgbPng& a, const RgbPng& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 0.0;
  size_t changed = 0;
  for (size_t i = 0; i + 2 < a.rgb.size(); i += 3)
    for (int c = 0; c < 3; ++c)
      if (std::abs(int(a.rgb[i + c]) - int(b.rgb[i + c])) > 24) {
        ++changed;
        break;
      }
  return double(changed) / double(a.rgb.size() / 3);
}

double MeanLevel(const RgbPng& png) {
  if (png.rgb.empty()) return 0.0;
  double sum = 0.0;
  for (uint8_t v : png.rgb) sum += v;
  return sum / double(png.rgb.size());
}

// An offline render of the demo preset: `frames` frames at 25 fps in step
// with the demo loop, into `out`.
ChildResult RenderOffline(const TempDir& dir, const std::string& out, const std::string& key, int frames,
                          const std::string& preset = kDemoPreset, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {VJ_PROGRAM,        "server",
                                   "--headless",      "--port=0",
                                   "--fps=25",        "--frames=" + std::to_string(frames),
                                   "--dump=" + out,   "--audio-input=" + kDemoSound,
                                   "--preset=" + preset, "--recall=" + key};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunChild(args, ProgramEnv(dir), 240.0);
}

// ---------------------------------------------------------------------------

TEST(DemoShow, OfflineRenderGivesTheSameFramesEveryTime) {
  TempDir dir;
  // Binding G: all six decks, beat and wave mixers, START and END ON BEAT,
  // the sound-driven effects hearing the demo loop.
  constexpr int kFrames = 40;
  for (const char* run : {"one", "two"}) {
    ChildResult result = RenderOffline(dir, dir / run, "G", kFrames);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.err, testing::Not(testing::HasSubstr("ERROR"))) << result.err;
  }
  ASSERT_EQ(testing_support::ListDir(dir / "one").size(), size_t(kFrames));
  ASSERT_EQ(testing_support::ListDir(dir / "two").size(), size_t(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    RgbPng a, b;
    ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(i)), &a)) << i;
    ASSERT_TRUE(ReadRgbPng(dir / ("two/" + FrameName(i)), &b)) << i;
    EXPECT_EQ(a.width, 640u);
    EXPECT_EQ(a.height, 480u);
    EXPECT_TRUE(a.rgb == b.rgb) << "frame " << i << " differs between two renders";
  }
  // ... and the show moves: the last frame is not the first.
  RgbPng first, last;
  ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(5)), &first));
  ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(kFrames - 1)), &last));
  EXPECT_GT(ChangedShare(first, last), 0.05);
}

TEST(DemoShow, OrbitPlaysTheSameFramesTwiceAndBackwardsReverses) {
  TempDir dir;
  // Binding Y: the 3D scene alone; I: the same, the deck running backwards.
  constexpr int kFrames = 30;
  for (const char* run : {"one", "two"}) {
    ChildResult result = RenderOffline(dir, dir / run, "Y", kFrames);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.err, testing::Not(testing::HasSubstr("ERROR"))) << result.err;
    EXPECT_THAT(result.err, testing::Not(testing::HasSubstr("3DSCENE"))) << result.err;
  }
  for (int i = 0; i < kFrames; i += 7) {
    RgbPng a, b;
    ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(i)), &a)) << i;
    ASSERT_TRUE(ReadRgbPng(dir / ("two/" + FrameName(i)), &b)) << i;
    EXPECT_TRUE(a.rgb == b.rgb) << "frame " << i << " differs between two renders";
  }
  RgbPng first, last;
  ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(0)), &first));
  ASSERT_TRUE(ReadRgbPng(dir / ("one/" + FrameName(kFrames - 1)), &last));
  EXPECT_GT(MeanLevel(first), 30.0) << "the scene shows (almost) nothing";
  EXPECT_GT(ChangedShare(first, last), 0.02) << "the scene does not move";

  ChildResult back = RenderOffline(dir, dir / "back", "I", kFrames);
  ASSERT_EQ(back.exit_code, 0) << back.err;
  RgbPng reversed;
  ASSERT_TRUE(ReadRgbPng(dir / ("back/" + FrameName(kFrames - 1)), &reversed));
  EXPECT_GT(ChangedShare(last, reversed), 0.02) << "backwards play shows the forward picture";
}

TEST(DemoShow, FirstBindingIsVisibleAndMovesWithinTheFirstSecond) {
  TempDir dir;
  ChildResult result = RenderOffline(dir, dir / "a", "A", 25);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  RgbPng early, late;
  ASSERT_TRUE(ReadRgbPng(dir / ("a/" + FrameName(3)), &early));
  ASSERT_TRUE(ReadRgbPng(dir / ("a/" + FrameName(24)), &late));
  EXPECT_GT(MeanLevel(late), 30.0) << "the first binding shows (almost) nothing after a second";
  EXPECT_GT(ChangedShare(early, late), 0.2) << "the first binding hardly moves within its first second";
}

// Whether p + f q may reach white anywhere within three pixels of (x, y).
// The stretch averages neighbouring pixels of the 512 x 512 picture, so the
// brightest p and q nearby bound what was added before it.
bool SaturatesNear(const RgbPng& p, const RgbPng& q, double f, uint32_t x, uint32_t y, int c) {
  double brightest_p = 0, brightest_q = 0;
  for (uint32_t v = y < 3 ? 0 : y - 3; v <= std::min<uint32_t>(479, y + 3); ++v)
    for (uint32_t u = x < 3 ? 0 : x - 3; u <= std::min<uint32_t>(639, x + 3); ++u) {
      const size_t i = (size_t(v) * 640 + u) * 3 + c;
      brightest_p = std::max<double>(brightest_p, p.rgb[i]);
      brightest_q = std::max<double>(brightest_q, q.rgb[i]);
    }
  return brightest_p + f * brightest_q >= 250.0;
}

TEST(DemoShow, DumpedFramesFollowTheMixersFormulas) {
  // Four offline renders of SLIDES with LOGO over it, all at the same
  // clock: the base alone (p), LOGO drawn straight over it (q), and LOGO
  // through ALPHABLEND 0.6 and ADDITIVE 0.4. The dumped output of the
  // mixers must be f q + (1 - f) p and p + f q, probe by probe (the
  // stretch to 640 x 480 is linear, so it keeps the formulas).
  TempDir dir;
  auto bank = show::NewPresetBank();
  struct Deck {
    const char* effect;
    int32_t mixer;
    float fader;
  };
  const std::vector<std::vector<Deck>> bindings = {
      {{"SLIDES", net::kNullMixer, 1.0f}},
      {{"SLIDES", net::kNullMixer, 1.0f}, {"LOGO", net::kNullMixer, 1.0f}},
      {{"SLIDES", net::kNullMixer, 1.0f}, {"LOGO", 0, 0.6f}},
      {{"SLIDES", net::kNullMixer, 1.0f}, {"LOGO", 5, 0.4f}},
  };
  for (size_t b = 0; b < bindings.size(); ++b)
    for (size_t i = 0; i < bindings[b].size(); ++i) {
      net::DeckRecord& record = bank->bindings[0][b].decks[i];
      net::SetRecordText(record.effect_name, bindings[b][i].effect);
      record.mixer = bindings[b][i].mixer;
      record.fader = bindings[b][i].fader;
    }
  ASSERT_EQ(show::SavePresetFile((dir / "mix.HVR").c_str(), *bank), 0);
  constexpr int kFrames = 33;  // 1.28 s: the sunset in full, the logo grown in
  RgbPng picture[4];
  for (int b = 0; b < 4; ++b) {
    const std::string out = dir / ("frames" + std::to_string(b));
    ChildResult result = RenderOffline(dir, out, std::string(1, char('A' + b)), kFrames, dir / "mix.HVR");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    ASSERT_TRUE(ReadRgbPng(out + "/" + FrameName(kFrames - 1), &picture[b]));
    ASSERT_EQ(picture[b].rgb.size(), 640u * 480u * 3u);
  }
  const RgbPng& p = picture[0];
  const RgbPng& q = picture[1];
  ASSERT_GT(ChangedShare(p, q), 0.02) << "the logo drew nothing";
  const double blend = std::floor(0.6f * 255.0f) / 255.0, add = std::floor(0.4f * 255.0f) / 255.0;
  int probes = 0, differing = 0, additive_probes = 0;
  for (uint32_t y = 10; y < 480; y += 23)
    for (uint32_t x = 7; x < 640; x += 29)
      for (int c = 0; c < 3; ++c) {
        const size_t i = (size_t(y) * 640 + x) * 3 + c;
        const double pv = p.rgb[i], qv = q.rgb[i];
        if (pv != qv) ++differing;
        EXPECT_NEAR(picture[2].rgb[i], blend * qv + (1 - blend) * pv, 4.0) << "ALPHABLEND at " << x << ", " << y;
        // The stretch interpolates after the sum is clamped, so the additive
        // formula only holds on probes whose neighbours do not saturate.
        if (!SaturatesNear(p, q, add, x, y, c)) {
          EXPECT_NEAR(picture[3].rgb[i], pv + add * qv, 4.0) << "ADDITIVE at " << x << ", " << y;
          ++additive_probes;
        }
        ++probes;
      }
  EXPECT_GT(differing, probes / 20) << "too few probes where the logo shows";
  EXPECT_GT(additive_probes, probes / 2) << "too few probes below white for the additive mixer";
}

TEST(DemoShow, PresetBindsOnlyEffectsTheShowHas) {
  // The preset parses as the Client writes it and every name it binds is
  // a folder of effects/.
  auto bank = show::NewPresetBank();
  show::PresetReport report;
  ASSERT_EQ(show::LoadPresetFile((std::string(VJ_SOURCE_DIR) + "/presets/demo.HVR").c_str(), bank.get(), &report), 0);
  EXPECT_EQ(report.binds_read, show::kPresetPages * show::kPresetLetters);
  EXPECT_EQ(report.binds_skipped, 0);
  int named = 0;
  for (const auto& page : bank->bindings)
    for (const show::Binding& binding : page)
      for (const net::DeckRecord& deck : binding.decks) {
        std::string name(net::RecordText(deck.effect_name));
        if (name.empty()) continue;
        ++named;
        EXPECT_THAT(kDemoEffects, testing::Contains(name));
        EXPECT_GE(deck.mixer, net::kNullMixer);
        EXPECT_LE(deck.mixer, 9);
      }
  EXPECT_GT(named, 10);
  // The first binding names something.
  EXPECT_NE(net::RecordText(bank->bindings[0][0].decks[0].effect_name), "");
}

ChildResult Vjctl(int port, std::vector<std::string> words) {
  std::vector<std::string> args = {VJCTL_PROGRAM, "--host", "127.0.0.1", "--port=" + std::to_string(port),
                                   "--timeout=30"};
  args.insert(args.end(), words.begin(), words.end());
  return RunChild(args, {}, 90.0);
}

TEST(DemoShow, VjctlLoadsEveryDemoEffectAndMixesThemOnSixDecks) {
  TempDir dir;
  Child server({VJ_PROGRAM, "server", "--headless", "--port=0", "--bind=127.0.0.1"}, ProgramEnv(dir));
  int port = WaitForListeningPort(server);
  ASSERT_GT(port, 0) << server.Stderr();

  for (const char* name : kDemoEffects) {
    ChildResult load = Vjctl(port, {"load", name});
    EXPECT_EQ(load.exit_code, 0) << name << ": " << load.err;
    // The Server's log event and the effect's new status.
    EXPECT_THAT(load.out, testing::HasSubstr(std::string("log: Loaded effect ") + name)) << load.out;
    EXPECT_THAT(load.out, testing::HasSubstr(std::string(name) + ", loaded")) << load.out;
  }

  struct Setting {
    int deck;
    const char* effect;
    const char* mixer;
    const char* beat;
    const char* fader;
  };
  const Setting settings[] = {
      {1, "SLIDES", "-1", "FREE", "1"},          {2, "WARP", "ALPHABLEND", "START", "0.8"},
      {3, "SPECTRUM", "WAVEBLEND", "FREE", "0.5"}, {4, "STROBE", "ADDITIVE", "END", "0.7"},
      {5, "LOGO", "INVERSEBEATBLEND", "FREE", "1"}, {6, "WARP", "BEATADDITIVE", "START", "0.6"},
  };
  for (const Setting& s : settings) {
    ChildResult deck = Vjctl(port, {"deck", std::to_string(s.deck), s.effect});
    EXPECT_EQ(deck.exit_code, 0) << deck.err;
    ChildResult set = Vjctl(port, {"set", std::to_string(s.deck), std::string("mixer=") + s.mixer,
                                   std::string("beat=") + s.beat, std::string("fader=") + s.fader});
    EXPECT_EQ(set.exit_code, 0) << set.err;
  }
  ChildResult state = Vjctl(port, {"state"});
  ASSERT_EQ(state.exit_code, 0) << state.err;
  // Effect ids follow the folders' order, whatever effects the show has.
  EXPECT_THAT(state.out, testing::ContainsRegex("deck 2: WARP \\([0-9]+\\), fader 0.800, speed 0.750, mixer "
                                                "ALPHABLEND \\(0\\), beat START ON BEAT"));
  EXPECT_THAT(state.out, testing::ContainsRegex("deck 4: STROBE \\([0-9]+\\), fader 0.700, speed 0.750, mixer "
                                                "ADDITIVE \\(5\\), beat END ON BEAT"));
  EXPECT_THAT(state.out, testing::ContainsRegex("deck 5: LOGO \\([0-9]+\\), fader 1.000, speed 0.750, mixer "
                                                "INVERSEBEATBLEND \\(2\\), beat FREE"));
  // The six decks play: the Server keeps reporting its frame rate.
  ChildResult watch = RunChild({VJCTL_PROGRAM, "--host", "127.0.0.1", "--port=" + std::to_string(port), "watch"},
                               {}, 4.0);
  EXPECT_THAT(watch.out, testing::HasSubstr("fps: ")) << watch.out;

  server.Signal(SIGTERM);
  ChildResult end = server.Wait(60.0);
  EXPECT_EQ(end.exit_code, 0) << end.err;
  EXPECT_THAT(end.err, testing::Not(testing::HasSubstr("ERROR"))) << end.err;
}

// A show folder holding the demo effects (linked) and three broken ones.
std::string MakeBrokenShow(const TempDir& dir) {
  const std::string show = dir / "show";
  testing_support::MakeDirs(show + "/effects");
  for (const char* name : {"slides", "warp", "logo", "strobe", "spectrum", "postfx", "orbit", "video", "pillars", "procedural"}) {
    const std::string target = std::string(VJ_SOURCE_DIR) + "/effects/" + name;
    EXPECT_EQ(symlink(target.c_str(), (show + "/effects/" + name).c_str()), 0) << name;
  }
  // A script with a word that is no statement.
  testing_support::MakeDirs(show + "/effects/badscript/data");
  testing_support::WriteFile(show + "/effects/badscript/data/script.txt",
                             "FXINSTANCE A SOUNDSYNCER\nFXSTART A\nFXJUMP A\nSYNCTIME 2\n");
  // An image that is not there.
  testing_support::MakeDirs(show + "/effects/noimage/data/images");
  testing_support::WriteFile(show + "/effects/noimage/data/script.txt",
                             "FXINSTANCE A IMAGE 2 1 logo nowhere\nFXSTART A\nSYNCTIME 2\n");
  testing_support::WriteFile(show + "/effects/noimage/data/images/logo.tga",
                             testing_support::ReadFile(std::string(VJ_SOURCE_DIR) +
                                                       "/effects/warp/data/images/ringcyan.tga"));
  // A JPEG whose frame header is damaged: it claims no lines at all. (A
  // file merely cut short still loads, its missing part grey.)
  testing_support::MakeDirs(show + "/effects/badjpeg/data/images");
  testing_support::WriteFile(show + "/effects/badjpeg/data/script.txt",
                             "FXINSTANCE A IMAGE 1 1 broken\nFXSTART A\nSYNCTIME 2\n");
  std::string jpeg = testing_support::ReadFile(std::string(VJ_SOURCE_DIR) + "/effects/slides/data/images/plasma.jpg");
  size_t sof = jpeg.find("\xFF\xC0", 0, 2);
  EXPECT_NE(sof, std::string::npos);
  if (sof != std::string::npos) jpeg[sof + 5] = jpeg[sof + 6] = 0;
  testing_support::WriteFile(show + "/effects/badjpeg/data/images/broken.jpg", jpeg);
  return show;
}

TEST(DemoShow, BrokenEffectsFailAloneAndTheOthersLoadAndPlay) {
  TempDir dir;
  const std::string show = MakeBrokenShow(dir);
  Child server({VJ_PROGRAM, "server", "--headless", "--port=0", "--bind=127.0.0.1", "--root=" + show},
               ProgramEnv(dir));
  int port = WaitForListeningPort(server);
  ASSERT_GT(port, 0) << server.Stderr();

  for (const char* name : {"BADJPEG", "BADSCRIPT", "NOIMAGE"}) {
    ChildResult load = Vjctl(port, {"load", name});
    EXPECT_NE(load.exit_code, 0) << name;
    EXPECT_THAT(load.out + load.err, testing::HasSubstr(std::string("Failed to load effect ") + name));
  }
  for (const char* name : kDemoEffects) {
    ChildResult load = Vjctl(port, {"load", name});
    EXPECT_EQ(load.exit_code, 0) << name << ": " << load.err;
    EXPECT_THAT(load.out, testing::HasSubstr(std::string("log: Loaded effect ") + name));
  }
  ChildResult deck = Vjctl(port, {"deck", "1", "SLIDES"});
  EXPECT_EQ(deck.exit_code, 0) << deck.err;
  ChildResult state = Vjctl(port, {"state"});
  EXPECT_THAT(state.out, testing::HasSubstr("BADSCRIPT, not loaded"));
  EXPECT_THAT(state.out, testing::HasSubstr("SLIDES, loaded"));
  server.Signal(SIGTERM);
  ChildResult end = server.Wait(60.0);
  EXPECT_EQ(end.exit_code, 0) << end.err;
  // Each failure said why, once the show was running.
  EXPECT_THAT(end.err, testing::HasSubstr("Effect BADSCRIPT: script line 3: unexpected command \"FXJUMP\""));
  EXPECT_THAT(end.err, testing::HasSubstr("Effect NOIMAGE: Error loading data/images/NOWHERE"));
  EXPECT_THAT(end.err, testing::HasSubstr("Effect BADJPEG: Error loading data/images/BROKEN"));
  EXPECT_THAT(end.err, testing::HasSubstr("Error loading data/images/NOWHERE"));
  EXPECT_THAT(end.err, testing::HasSubstr("Error loading data/images/BROKEN"));

  // The same show started from a preset that names broken and good effects
  // side by side: the start goes on, the good decks play.
  auto bank = show::NewPresetBank();
  const char* decks[] = {"BADSCRIPT", "SLIDES", "BADJPEG", "WARP", "NOIMAGE", "LOGO"};
  for (int i = 0; i < net::kDeckCount; ++i) {
    net::DeckRecord& record = bank->bindings[0][0].decks[i];
    net::SetRecordText(record.effect_name, decks[i]);
    record.mixer = i == 0 ? net::kNullMixer : 0;  // ALPHABLEND over the first
  }
  ASSERT_EQ(show::SavePresetFile((dir / "broken.HVR").c_str(), *bank), 0);
  ChildResult render = RenderOffline(dir, dir / "frames", "A", 20, dir / "broken.HVR", {"--root=" + show});
  ASSERT_EQ(render.exit_code, 0) << render.err;
  for (const char* name : {"BADJPEG", "BADSCRIPT", "NOIMAGE"})
    EXPECT_THAT(render.err, testing::HasSubstr(std::string("Failed to load effect ") + name));
  ASSERT_EQ(testing_support::ListDir(dir / "frames").size(), 20u);
  RgbPng early, late;
  ASSERT_TRUE(ReadRgbPng(dir / ("frames/" + FrameName(2)), &early));
  ASSERT_TRUE(ReadRgbPng(dir / ("frames/" + FrameName(19)), &late));
  EXPECT_GT(MeanLevel(late), 30.0);
  EXPECT_GT(ChangedShare(early, late), 0.05);
}

}  // namespace

// The real program as a Server child process, driven by vjctl.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>

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

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> ProgramEnv(const TempDir& dir) {
  return {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
          "SDL_AUDIODRIVER=dummy"};
}

// A show folder with one effect whose script declares no instance (the
// built-in classes need their own data), so it loads.
std::string MakeShow(const TempDir& dir) {
  testing_support::MakeDirs(dir / "settings");
  testing_support::MakeDirs(dir / "show/effects/Empty.fx/data");
  testing_support::WriteFile(dir / "show/effects/Empty.fx/data/script.txt", "SYNCTIME 5\n");
  testing_support::WriteFile(dir / "show/effects/notes.txt", "not an effect\n");
  return dir / "show";
}

ChildResult Vjctl(int port, std::vector<std::string> words) {
  std::vector<std::string> args = {VJCTL_PROGRAM, "--host", "127.0.0.1", "--port=" + std::to_string(port),
                                   "--timeout=20"};
  args.insert(args.end(), words.begin(), words.end());
  return RunChild(args, {}, 60.0);
}

TEST(ServerProgram, VjctlDrivesAHeadlessServerAndSigtermEndsIt) {
  TempDir dir;
  std::string show = MakeShow(dir);
  Child server({VJ_PROGRAM, "server", "--headless", "--port=0", "--root=" + show, "--trace=" + dir / "trace"},
               ProgramEnv(dir));
  int port = WaitForListeningPort(server);
  ASSERT_GT(port, 0) << server.Stdout() << server.Stderr();
  EXPECT_EQ(server.Stdout(), "listening on " + std::to_string(port) + "\n");  // exactly one line

  ChildResult state = Vjctl(port, {"state"});
  ASSERT_EQ(state.exit_code, 0) << state.err;
  EXPECT_TRUE(Contains(state.out, "effects: 2")) << state.out;
  EXPECT_TRUE(Contains(state.out, "effect 0: EMPTY, not loaded")) << state.out;
  EXPECT_TRUE(Contains(state.out, "effect 1: NOTES, not loaded")) << state.out;
  EXPECT_TRUE(Contains(state.out, "decks: 6")) << state.out;
  EXPECT_TRUE(Contains(state.out, "mixer 9: INVERSEWAVEADDITIVE")) << state.out;
  EXPECT_TRUE(Contains(state.out, "beat: low 0, high 10, threshold 0.500")) << state.out;

  ChildResult load = Vjctl(port, {"load", "EMPTY"});
  EXPECT_EQ(load.exit_code, 0) << load.err;
  EXPECT_TRUE(Contains(load.out, "log: Loaded effect EMPTY")) << load.out;
  EXPECT_TRUE(Contains(load.out, "effect 0: EMPTY, loaded")) << load.out;

  ChildResult refused = Vjctl(port, {"load", "NOTES"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(Contains(refused.err, "Failed to load effect NOTES")) << refused.err;

  ChildResult deck = Vjctl(port, {"deck", "2", "EMPTY"});
  EXPECT_EQ(deck.exit_code, 0) << deck.err;
  EXPECT_TRUE(Contains(deck.out, "deck 2: EMPTY (0)")) << deck.out;

  ChildResult set = Vjctl(port, {"set", "2", "speed=1", "mixer=ADDITIVE", "beat=START"});
  EXPECT_EQ(set.exit_code, 0) << set.err;
  EXPECT_TRUE(Contains(set.out, "speed 1.000, mixer ADDITIVE (5), beat START")) << set.out;

  ChildResult beat = Vjctl(port, {"beat", "low=100", "high=200", "threshold=0.25"});
  EXPECT_EQ(beat.exit_code, 0) << beat.err;
  EXPECT_TRUE(Contains(beat.out, "beat: low 64, high 64, threshold 0.250")) << beat.out;

  server.Signal(SIGTERM);
  ChildResult end = server.Wait(60.0);
  EXPECT_FALSE(end.timed_out);
  EXPECT_EQ(end.signal, 0);
  EXPECT_EQ(end.exit_code, 0) << end.err;
  std::string trace = testing_support::ReadFile(dir / "trace");
  EXPECT_TRUE(Contains(trace, "SERVER: Shutting down.\n"));
}

TEST(ServerProgram, HeadlessFramesAreDumpedBlack) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult r = RunChild(
      {VJ_PROGRAM, "server", "--headless", "--port=0", "--frames=3", "--dump=" + dir / "frames"}, ProgramEnv(dir));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(testing_support::ListDir(dir / "frames"), testing::ElementsAre("000000.png", "000001.png", "000002.png"));
  for (const char* name : {"000000.png", "000001.png", "000002.png"}) {
    RgbPng png;
    ASSERT_TRUE(ReadRgbPng(dir / ("frames/" + std::string(name)), &png)) << name;
    EXPECT_EQ(png.width, 640u);
    EXPECT_EQ(png.height, 480u);
    size_t lit = 0;
    for (uint8_t v : png.rgb) lit += v != 0;
    EXPECT_EQ(lit, 0u) << name;
  }
}

// The slide show of tests/fx/data (blue at script time 1.0-1.5 s, red at
// 1.5-2.0 s, green at 2.0-2.5 s in the centre) played on a deck of a headless
// Server at a fixed 25 frames a second, driven by vjctl.
TEST(ServerProgram, AnImageSlideShowPlaysOnADeck) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  testing_support::MakeDirs(dir / "show/effects");
  ChildResult copy = RunChild({"/bin/cp", "-r", std::string(VJ_SOURCE_DIR) + "/tests/fx/data/effects/slideshow",
                               dir / "show/effects/SlideShow"});
  ASSERT_EQ(copy.exit_code, 0) << copy.err;
  Child server({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=25", "--root=" + dir / "show",
                "--dump=" + dir / "frames"},
               ProgramEnv(dir));
  int port = WaitForListeningPort(server);
  ASSERT_GT(port, 0) << server.Stderr();
  ChildResult load = Vjctl(port, {"load", "SLIDESHOW"});
  ASSERT_EQ(load.exit_code, 0) << load.out << load.err;
  ChildResult deck = Vjctl(port, {"deck", "1", "SLIDESHOW"});
  ASSERT_EQ(deck.exit_code, 0) << deck.err;
  // Frames are named by number; the deck was anchored within a frame or two
  // of the count seen now.
  size_t anchor = testing_support::ListDir(dir / "frames").size();
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] { return testing_support::ListDir(dir / "frames").size() > anchor + 70; }, 120.0));
  server.Signal(SIGTERM);
  ChildResult end = server.Wait(60.0);
  ASSERT_EQ(end.exit_code, 0) << end.err;

  auto centre = [&](size_t frame) {
    RgbPng png;
    char name[32];
    std::snprintf(name, sizeof name, "frames/%06zu.png", frame);
    EXPECT_TRUE(ReadRgbPng(dir / name, &png)) << name;
    size_t at = (240 * static_cast<size_t>(png.width) + 320) * 3;
    return png.rgb.size() > at + 2 ? std::array<int, 3>{png.rgb[at], png.rgb[at + 1], png.rgb[at + 2]}
                                   : std::array<int, 3>{-1, -1, -1};
  };
  auto dominant = [](std::array<int, 3> c) {
    if (c[0] > 200 && c[1] < 40 && c[2] < 40) return 'r';
    if (c[1] > 200 && c[0] < 40 && c[2] < 40) return 'g';
    if (c[2] > 200 && c[0] < 40 && c[1] < 40) return 'b';
    return '?';
  };
  EXPECT_EQ(dominant(centre(anchor + 31)), 'b');  // 1.24 s
  EXPECT_EQ(dominant(centre(anchor + 44)), 'r');  // 1.76 s
  EXPECT_EQ(dominant(centre(anchor + 56)), 'g');  // 2.24 s
  // The corner stays black: the pictures are 64 x 48 in the middle.
  RgbPng first;
  ASSERT_TRUE(ReadRgbPng(dir / "frames/000000.png", &first));
  EXPECT_EQ(first.rgb[0] + first.rgb[1] + first.rgb[2], 0);
}

// An offline render: the same command, run twice, writes the same frames
// byte for byte. A preset puts the slide show on two decks (one blended,
// one added at twice the speed, restarting on the beat) with no Client, so
// nothing but the fixed-rate clock decides what each frame shows.
TEST(ServerProgram, AFixedRateRunFromAPresetRendersTheSameFramesEveryTime) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  testing_support::MakeDirs(dir / "show/effects");
  ChildResult copy = RunChild({"/bin/cp", "-r", std::string(VJ_SOURCE_DIR) + "/tests/fx/data/effects/slideshow",
                               dir / "show/effects/SlideShow"});
  ASSERT_EQ(copy.exit_code, 0) << copy.err;
  auto bank = show::NewPresetBank();
  show::Binding& a = bank->bindings[0][0];
  net::SetRecordText(a.decks[0].effect_name, "SLIDESHOW");
  a.decks[0].mixer = 0;  // ALPHABLEND
  a.decks[0].fader = 1.0f;
  a.decks[0].speed = 0.75f;
  net::SetRecordText(a.decks[2].effect_name, "SLIDESHOW");
  a.decks[2].mixer = 5;  // ADDITIVE
  a.decks[2].fader = 0.5f;
  a.decks[2].speed = 1.0f;
  a.decks[2].beat_mode = net::kBeatStartOnBeat;
  const std::string preset = dir / "show.HVR";
  ASSERT_EQ(show::SavePresetFile(preset.c_str(), *bank), 0);

  constexpr int kFrames = 60;  // 2.4 s at 25 frames a second
  for (const char* run : {"one", "two"}) {
    ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=25",
                              "--frames=" + std::to_string(kFrames), "--root=" + dir / "show", "--preset=" + preset,
                              "--recall=A", "--dump=" + dir / run},
                             ProgramEnv(dir), 120.0);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  std::vector<std::string> names = testing_support::ListDir(dir / "one");
  ASSERT_EQ(names.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(testing_support::ListDir(dir / "two"), names);
  std::set<std::string> distinct;
  for (const std::string& name : names) {
    const std::string one = testing_support::ReadFile(dir / ("one/" + name));
    ASSERT_FALSE(one.empty()) << name;
    EXPECT_TRUE(one == testing_support::ReadFile(dir / ("two/" + name))) << name << " differs between the runs";
    distinct.insert(one);
  }
  // The show moves: fading in, then three pictures.
  EXPECT_GE(distinct.size(), static_cast<size_t>(kFrames) / 3);
}

TEST(ServerProgram, FixedRateRunsDoNotWaitForTheWallClock) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  // 100 frames at 2 frames a second are 50 s of show time.
  auto begin = std::chrono::steady_clock::now();
  ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=2", "--frames=100",
                            "--trace=" + dir / "trace"},
                           ProgramEnv(dir), 120.0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_LT(seconds, 40.0);
  // No live sound device is opened in a fixed-rate run.
  EXPECT_FALSE(Contains(testing_support::ReadFile(dir / "trace"), "input: capture device"));
}

TEST(ServerProgram, TwoServersShareTheMachineAndBindKeepsToOneAddress) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  Child first({VJ_PROGRAM, "server", "--headless", "--port=0", "--bind=127.0.0.1"}, ProgramEnv(dir));
  Child second({VJ_PROGRAM, "server", "--headless", "--port=0"}, ProgramEnv(dir));
  int port1 = WaitForListeningPort(first), port2 = WaitForListeningPort(second);
  ASSERT_GT(port1, 0);
  ASSERT_GT(port2, 0);
  EXPECT_NE(port1, port2);
  EXPECT_EQ(Vjctl(port1, {"state"}).exit_code, 0);
  EXPECT_EQ(Vjctl(port2, {"state"}).exit_code, 0);
  // The same port again cannot be had: the start fails with a message.
  ChildResult third = RunChild({VJ_PROGRAM, "server", "--headless", "--port=" + std::to_string(port1),
                                "--bind=127.0.0.1", "--frames=1"},
                               ProgramEnv(dir));
  EXPECT_EQ(third.exit_code, 1);
  EXPECT_TRUE(Contains(third.err, "Cannot listen on port " + std::to_string(port1))) << third.err;
  EXPECT_TRUE(Contains(third.err, "Failed to initialize server")) << third.err;
  for (Child* child : {&first, &second}) {
    child->Signal(SIGTERM);
    EXPECT_EQ(child->Wait(60.0).exit_code, 0);
  }
}

// The output window in a real X server: the saved position comes back, and
// a position off the screen is moved onto it (and saved at the end).
TEST(ServerProgram, OutputWindowKeepsItsPlaceUnderXvfb) {
  const std::string xvfb_run = "/usr/bin/xvfb-run";
  if (!testing_support::Exists(xvfb_run)) GTEST_SKIP() << "xvfb-run not installed";
  struct Case {
    int x, y, want_x, want_y;
  };
  for (const Case& c : {Case{100, 80, 100, 80}, Case{-3000, 5000, 320, 272}}) {
    TempDir dir;
    testing_support::MakeDirs(dir / "settings");
    testing_support::WriteFile(dir / "settings/values", "number\tNosplash\t1\nnumber\tServerX\t" +
                                                            std::to_string(c.x) + "\nnumber\tServerY\t" +
                                                            std::to_string(c.y) + "\n");
    ChildResult r = RunChild({xvfb_run, "-a", "-s", "-screen 0 1280x1024x24", VJ_PROGRAM, "server", "--port=0",
                              "--frames=5", "--settings-dir=" + dir / "settings"},
                             {"SDL_VIDEODRIVER=x11", "VJ_NO_DIALOGS=1", "SDL_AUDIODRIVER=dummy",
                              "ASAN_OPTIONS=detect_leaks=0"},
                             120.0);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::string values = testing_support::ReadFile(dir / "settings/values");
    EXPECT_TRUE(Contains(values, "number\tServerX\t" + std::to_string(c.want_x) + "\n")) << values;
    EXPECT_TRUE(Contains(values, "number\tServerY\t" + std::to_string(c.want_y) + "\n")) << values;
  }
}

TEST(ServerProgram, APresetStartsTheShowWithoutAClient) {
  TempDir dir;
  std::string show = MakeShow(dir);
  testing_support::MakeDirs(show + "/effects/Second/data");
  testing_support::WriteFile(show + "/effects/Second/data/script.txt", "SYNCTIME 5\n");
  // Binding Q of page 3: EMPTY on deck 2 with its settings, SECOND on deck 5.
  std::string q = "<BIND> <KEY> \"Q\" </KEY>\n";
  for (int deck = 0; deck < 6; ++deck) {
    const char* effect = deck == 1 ? "EMPTY" : deck == 4 ? "SECOND" : "";
    q += "<DECK> <DECKNUM> " + std::to_string(deck) + " </DECKNUM> <FADER> " + (deck == 1 ? "0.250000" : "1.000000") +
         " </FADER> <MIXER> " + (deck == 1 ? "5" : "-1") + " </MIXER> <EFFECT> \"" + effect +
         "\" </EFFECT> <AUTOBEAT> " + (deck == 1 ? "1" : "0") + " </AUTOBEAT> <SPEED> " +
         (deck == 1 ? "1.000000" : "0.750000") + " </SPEED> </DECK>\n";
  }
  testing_support::WriteFile(dir / "show.HVR", "<BINDS>\n" + q + "<PAGE> 2 </PAGE> </BIND>\n</BINDS>\n");

  Child server({VJ_PROGRAM, "server", "--headless", "--port=0", "--root=" + show, "--preset=" + dir / "show.HVR",
                "--recall=3Q"},
               ProgramEnv(dir));
  int port = WaitForListeningPort(server);
  ASSERT_GT(port, 0) << server.Stdout() << server.Stderr();
  ChildResult state = Vjctl(port, {"state"});
  ASSERT_EQ(state.exit_code, 0) << state.err;
  EXPECT_TRUE(Contains(state.out, "effect 0: EMPTY, loaded")) << state.out;
  EXPECT_TRUE(Contains(state.out, "effect 1: SECOND, loaded")) << state.out;
  EXPECT_TRUE(Contains(state.out, "deck 2: EMPTY (0), fader 0.250, speed 1.000, mixer ADDITIVE (5), beat START"))
      << state.out;
  EXPECT_TRUE(Contains(state.out, "deck 5: SECOND (1), fader 1.000")) << state.out;
  EXPECT_TRUE(Contains(state.out, "deck 1: no effect")) << state.out;
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(60.0).exit_code, 0);

  // Page 1's Q is empty: every deck stays empty. A missing file fails the
  // start; the two options go together and the key must be a binding's.
  ChildResult empty = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--frames=2", "--root=" + show,
                                "--preset=" + dir / "show.HVR", "--recall=q"},
                               ProgramEnv(dir));
  EXPECT_EQ(empty.exit_code, 0) << empty.err;
  ChildResult missing = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--frames=2", "--root=" + show,
                                  "--preset=" + dir / "nothing.HVR", "--recall=Q"},
                                 ProgramEnv(dir));
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(Contains(missing.err, "Cannot read the preset file")) << missing.err;
  for (std::vector<std::string> bad : {std::vector<std::string>{"--preset=" + dir / "show.HVR"},
                                       std::vector<std::string>{"--recall=Q"},
                                       std::vector<std::string>{"--preset=" + dir / "show.HVR", "--recall=QQ"},
                                       std::vector<std::string>{"--preset=" + dir / "show.HVR", "--recall=Q3"}}) {
    std::vector<std::string> args = {VJ_PROGRAM, "server", "--headless", "--port=0", "--frames=1"};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_EQ(RunChild(args, ProgramEnv(dir)).exit_code, 2) << bad.back();
  }
}

TEST(ServerProgram, OptionsAreDocumentedAndChecked) {
  ChildResult help = RunChild({VJ_PROGRAM, "--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* part : {"--port=N", "--bind=ADDR", "--fps=F", "listening on PORT", "--preset=FILE.HVR", "--recall=KEY"})
    EXPECT_TRUE(Contains(help.out, part)) << part;
  TempDir dir;
  for (const char* bad : {"--port=70000", "--port=-1", "--port=", "--fps=0", "--fps=-5", "--fps=abc", "--fps=nan",
                          "--fps=1e9", "--bind="}) {
    ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", bad}, ProgramEnv(dir));
    EXPECT_EQ(r.exit_code, 2) << bad;
  }
}

}  // namespace

// The output a venue needs, through the real program: the output's size
// on headless dumps, recordings that ffprobe reads (also after SIGTERM),
// the master and blackout from vjctl, and refused sizes and paths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "tests/support/support.h"

namespace {

using testing_support::Child;
using testing_support::ChildResult;
using testing_support::RunChild;
using testing_support::TempDir;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Env(const TempDir& dir) {
  testing_support::MakeDirs(dir / "settings");
  return {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
          "SDL_AUDIODRIVER=dummy"};
}

// ffprobe's "codec,width,height,frames" of the first video stream, or "".
std::string Probe(const std::string& path) {
  ChildResult r = RunChild({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                            "-show_entries", "stream=codec_name,width,height,nb_read_frames", "-of",
                            "csv=p=0", path},
                           {}, 120.0);
  if (r.exit_code != 0) return "";
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ',')) out.pop_back();
  return out;
}

bool HaveFfprobe() { return testing_support::Exists("/usr/bin/ffprobe"); }

TEST(VenueProgram, AHeadlessDumpHasTheOutputsSize) {
  TempDir dir;
  ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--frames=1", "--output=1920x1080",
                            "--mix=auto", "--dump=" + dir / "frames"},
                           Env(dir));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  testing_support::RgbPng png;
  ASSERT_TRUE(testing_support::ReadRgbPng(dir / "frames/000000.png", &png));
  EXPECT_EQ(png.width, 1920u);
  EXPECT_EQ(png.height, 1080u);
}

TEST(VenueProgram, AFixedRateRecordingHoldsEveryFrame) {
  if (!HaveFfprobe()) GTEST_SKIP() << "no ffprobe";
  TempDir dir;
  for (const char* name : {"show.mkv", "show.mp4"}) {
    ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=25", "--frames=30",
                              "--output=320x240", "--record=" + dir / name},
                             Env(dir));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string probe = Probe(dir / name);
    // H.264 where this FFmpeg has it, else MPEG-4 part 2 or MJPEG.
    EXPECT_TRUE(Contains(probe, ",320,240,30")) << name << ": " << probe;
  }
}

TEST(VenueProgram, ARecordingIsCompleteAfterSigterm) {
  if (!HaveFfprobe()) GTEST_SKIP() << "no ffprobe";
  TempDir dir;
  Child server({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=25", "--output=320x240",
                "--record=" + dir / "cut.mkv"},
               Env(dir));
  ASSERT_GT(testing_support::WaitForListeningPort(server), 0) << server.Stderr();
  // Some frames go by, then the run is stopped from outside.
  testing_support::WaitUntil([&] { return false; }, 0.5);
  server.Signal(SIGTERM);
  ChildResult r = server.Wait(60.0);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string probe = Probe(dir / "cut.mkv");
  ASSERT_FALSE(probe.empty());
  EXPECT_TRUE(Contains(probe, ",320,240,")) << probe;
  EXPECT_GT(std::atoi(probe.substr(probe.rfind(',') + 1).c_str()), 0) << probe;
}

// A disk that fills up while recording: the recording stops with a line
// on stderr, the show runs to its end.
TEST(VenueProgram, AFullDiskStopsTheRecordingNotTheShow) {
  if (!testing_support::Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  ASSERT_EQ(symlink("/dev/full", (dir / "full.mkv").c_str()), 0);
  const std::string build = std::string(VJ_PROGRAM).substr(0, std::string(VJ_PROGRAM).rfind('/'));
  ChildResult r = RunChild({VJ_PROGRAM, "server", "--headless", "--port=0", "--fps=25", "--frames=100",
                            "--output=320x240", "--preset=" + build + "/presets/demo.HVR", "--recall=A",
                            "--record=" + dir / "full.mkv", "--trace=" + dir / "trace"},
                           Env(dir));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "Recording failed, " + dir / "full.mkv")) << r.err;
  EXPECT_TRUE(Contains(r.err, "No space left on device")) << r.err;
}

TEST(VenueProgram, VjctlSetsTheMasterAndTheBlackout) {
  TempDir dir;
  Child server({VJ_PROGRAM, "server", "--headless", "--port=0"}, Env(dir));
  const int port = testing_support::WaitForListeningPort(server);
  ASSERT_GT(port, 0) << server.Stderr();
  auto vjctl = [&](std::vector<std::string> words) {
    std::vector<std::string> args = {VJCTL_PROGRAM, "--host", "127.0.0.1", "--port=" + std::to_string(port)};
    args.insert(args.end(), words.begin(), words.end());
    return RunChild(args, {}, 60.0);
  };
  struct Case {
    std::vector<std::string> words;
    int exit_code;
    const char* says;
  };
  const Case cases[] = {
      {{"master", "0.5"}, 0, "master: level 0.500, blackout off"},
      {{"blackout", "on"}, 0, "master: level 0.500, blackout on"},
      {{"blackout", "off"}, 0, "master: level 0.500, blackout off"},
      {{"master", "1.5"}, 2, ""},
      {{"blackout", "maybe"}, 2, ""},
      {{"record", "start", dir / "x.avi"}, 1, ""},
      {{"record", "stop"}, 1, ""},
  };
  for (const Case& c : cases) {
    ChildResult r = vjctl(c.words);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.words[0] << " " << c.words[1] << ": " << r.err;
    EXPECT_TRUE(Contains(r.out, c.says)) << r.out;
  }
  ChildResult preview = vjctl({"preview", dir / "p.jpg"});
  ASSERT_EQ(preview.exit_code, 0) << preview.err;
  const std::string jpeg = testing_support::ReadFile(dir / "p.jpg");
  ASSERT_GE(jpeg.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(jpeg[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(jpeg[1]), 0xD8);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(30.0).exit_code, 0);
}

TEST(VenueProgram, BadSizesAndPathsAreRefused) {
  TempDir dir;
  struct Case {
    std::vector<std::string> options;
    int exit_code;
    const char* says;
  };
  const Case cases[] = {
      {{"--output=0x0"}, 2, "bad value for --output"},
      {{"--output=100000x100000"}, 2, "bad value for --output"},
      {{"--output=640"}, 2, "bad value for --output"},
      {{"--mix=3x5"}, 2, "bad value for --mix"},
      {{"--record=" + dir / "missing/folder/x.mkv"}, 1, "Cannot record into"},
      {{"--record=" + dir / "x.avi"}, 1, "a recording is a .mkv or .mp4 file"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {VJ_PROGRAM, "server", "--headless", "--port=0", "--frames=1"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ChildResult r = RunChild(args, Env(dir));
    EXPECT_EQ(r.exit_code, c.exit_code) << c.options[0];
    EXPECT_TRUE(Contains(r.err, c.says)) << c.options[0] << ": " << r.err;
  }
  // A display that is not there (SDL's offscreen driver has one).
  ChildResult r = RunChild({VJ_PROGRAM, "server", "device", "5", "--port=0", "--frames=1"}, Env(dir));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err, "Display 5 does not exist: this machine has 1")) << r.err;
}

}  // namespace

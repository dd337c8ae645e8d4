// The real capture path through SDL's own drivers, and the program running
// with a silent device, with no device at all and with a file input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "tests/fx/click_track.h"
#include "tests/fx/sound_fixture.h"
#include "tests/support/support.h"

namespace {

using fx_test::BinSine;
using testing_support::ChildResult;
using testing_support::RunChild;
using testing_support::TempDir;

// Sets environment variables for SDL for the length of a test.
class ScopedEnv {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
      else unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages.push_back(text); });
    fx::StartTiming();
  }
  void TearDown() override {
    fx::StopSound();
    fx::StopTiming();
    core::SetMessageListener(nullptr);
  }
  int CountMessages(const std::string& part) const {
    int n = 0;
    for (const std::string& m : messages) n += m.find(part) != std::string::npos;
    return n;
  }
  // Distinct time values so every call computes a fresh spectrum.
  const float* FreshBeatSpectrum() { return fx::GetBeatSpectrum(static_cast<double>(++requests)); }

  std::vector<std::string> messages;
  int requests = 0;
  TempDir dir;
  ScopedEnv env;
};

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TEST_F(CaptureTest, SamplesFromTheDiskDriverArriveThroughTheCaptureCallback) {
  // A pipe as the driver's input file: with no pacing the driver reads what
  // we write and then waits for more, so the ring holds exactly our tone.
  std::string fifo = dir / "in.f32";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int writer = open(fifo.c_str(), O_RDWR);  // never blocks, even before the driver opens it
  ASSERT_GE(writer, 0);
  std::vector<float> tone = BinSine(7, 512, 0.75f, 8192);
  ASSERT_EQ(write(writer, tone.data(), tone.size() * sizeof(float)),
            static_cast<ssize_t>(tone.size() * sizeof(float)));
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILEIN", fifo);
  env.Set("SDL_DISKAUDIODELAY", "0");

  fx::StartSound(fx::MakeCaptureAudioSource());
  const float* s = nullptr;
  bool heard = testing_support::WaitUntil(
      [&] {
        s = FreshBeatSpectrum();
        return s && s[7] > 0.74f;
      },
      20.0);
  ASSERT_TRUE(heard) << (s ? "no tone in the spectrum" : "no spectrum");
  EXPECT_TRUE(fx::SoundRecording());
  EXPECT_EQ(fx::SoundInputDescription(), "capture device (disk)");
  EXPECT_NEAR(s[7], 0.75f, 0.005f);
  EXPECT_LT(s[20], 1e-3f);
  fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  fx::BeginSoundFrame();
  const float* sync = fx::GetSoundSyncSpectrum(0.0);
  ASSERT_NE(sync, nullptr);
  EXPECT_NEAR(sync[28], 0.75f, 0.005f);  // bin 7 of 512 is bin 28 of 2048

  // End of input: the driver goes on with silence; stopping is prompt.
  close(writer);
  double before = WallSeconds();
  fx::StopSound();
  EXPECT_LT(WallSeconds() - before, 5.0);
  EXPECT_FALSE(fx::SoundRecording());
}

TEST_F(CaptureTest, TheDummyDriverRecordsSilence) {
  env.Set("SDL_AUDIODRIVER", "dummy");
  fx::StartSound(fx::MakeCaptureAudioSource());
  const float* s = FreshBeatSpectrum();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(fx::SoundInputDescription(), "capture device (dummy)");
  for (int k = 0; k < fx::kBeatSpectrumSize; ++k) ASSERT_EQ(s[k], 0.0f);
  fx::BeatListener* deck = fx::CreateBeatListener();
  fx::DetectBeats(core::NowSeconds());
  EXPECT_FALSE(deck->beat_now);
  EXPECT_TRUE(deck->armed);
  EXPECT_EQ(CountMessages("no input"), 0);
}

TEST_F(CaptureTest, WithoutACaptureDeviceTheLayerRunsOnAndSaysSoOnce) {
  for (const char* driver : {"no-such-driver", "disk"}) {
    env.Set("SDL_AUDIODRIVER", driver);
    env.Set("SDL_DISKAUDIOFILEIN", dir / "missing.f32");  // the disk driver cannot open it
    core::ResetRuntimeMessages();
    messages.clear();
    fx::StartSound(fx::MakeCaptureAudioSource());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(FreshBeatSpectrum(), nullptr) << driver;
    EXPECT_FALSE(fx::SoundRecording());
    EXPECT_EQ(CountMessages("SOUND: no input available"), 1) << driver;
    fx::StopSound();
  }
}

// --- the program --------------------------------------------------------

std::vector<std::string> ProgramEnv(const TempDir& dir, const std::string& driver) {
  return {"VJ_NO_DIALOGS=1", "VJ_SETTINGS_DIR=" + dir / "settings", "SDL_VIDEODRIVER=offscreen",
          "SDL_AUDIODRIVER=" + driver, "SDL_DISKAUDIOFILEIN=" + dir / "missing.f32"};
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SoundProgram, RunsWithTheDummyAudioDriver) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult r = RunChild({VJ_PROGRAM, "--headless", "--frames=20", "--trace=" + dir / "trace"},
                           ProgramEnv(dir, "dummy"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string trace = testing_support::ReadFile(dir / "trace");
  EXPECT_NE(trace.find("SOUND: recording started: capture device (dummy)"), std::string::npos) << trace;
  EXPECT_NE(trace.find("SOUND: stopped"), std::string::npos) << trace;
}

TEST(SoundProgram, RunsWithoutAnyCaptureDevice) {
  for (const char* driver : {"no-such-driver", "disk"}) {
    TempDir dir;
    testing_support::MakeDirs(dir / "settings");
    ChildResult r = RunChild({VJ_PROGRAM, "--headless", "--frames=40", "--trace=" + dir / "trace"},
                             ProgramEnv(dir, driver));
    EXPECT_EQ(r.exit_code, 0) << driver << ": " << r.err;
    std::string trace = testing_support::ReadFile(dir / "trace");
    EXPECT_EQ(Occurrences(trace, "no input available"), 1) << trace;
    EXPECT_EQ(Occurrences(r.err, "no input available"), 1) << r.err;
    EXPECT_NE(trace.find("APP: running"), std::string::npos);
  }
}

TEST(SoundProgram, PlaysTheAudioInputFileAndNeverOpensADevice) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  fx_test::ClickTrack track;
  track.seconds = 2.0;
  ASSERT_TRUE(track.Write(dir / "clicks.wav"));
  // The driver would fail loudly if anything tried to open a device.
  ChildResult r = RunChild({VJ_PROGRAM, "--headless", "--frames=10", "--trace=" + dir / "trace",
                            "--audio-input=" + dir / "clicks.wav"},
                           ProgramEnv(dir, "no-such-driver"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string trace = testing_support::ReadFile(dir / "trace");
  EXPECT_NE(trace.find("SOUND: recording started: file " + dir / "clicks.wav"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("no input available"), std::string::npos) << trace;
}

TEST(SoundProgram, ARelativeAudioInputIsReadFromTheWorkingFolder) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  testing_support::MakeDirs(dir / "music");
  fx_test::ClickTrack track;
  track.seconds = 1.0;
  ASSERT_TRUE(track.Write(dir / "music/clicks.wav"));
  // The shell-free way to run the child in another folder: cd via /bin/sh.
  std::string command = "cd '" + dir.path() + "' && exec '" + VJ_PROGRAM +
                        "' --headless --frames=5 --trace=trace --audio-input=music/clicks.wav";
  ChildResult r = RunChild({"/bin/sh", "-c", command}, ProgramEnv(dir, "dummy"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string trace = testing_support::ReadFile(dir / "trace");
  EXPECT_NE(trace.find("SOUND: recording started: file " + dir / "music/clicks.wav"), std::string::npos)
      << trace;
}

TEST(SoundProgram, AMissingAudioInputIsReportedAndTheShowGoesOn) {
  TempDir dir;
  testing_support::MakeDirs(dir / "settings");
  ChildResult r = RunChild({VJ_PROGRAM, "--headless", "--frames=5", "--trace=" + dir / "trace",
                            "--audio-input=" + dir / "nothing.wav"},
                           ProgramEnv(dir, "dummy"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("cannot open sound file " + dir / "nothing.wav"), std::string::npos) << r.err;
  std::string trace = testing_support::ReadFile(dir / "trace");
  EXPECT_NE(trace.find("SOUND: recording started: silence"), std::string::npos) << trace;
}

TEST(SoundProgram, UsageNamesTheAudioInputOption) {
  ChildResult r = RunChild({VJ_PROGRAM, "--help"});
  EXPECT_NE(r.out.find("--audio-input=FILE"), std::string::npos);
  TempDir dir;
  r = RunChild({VJ_PROGRAM, "--audio-input"}, ProgramEnv(dir, "dummy"));
  EXPECT_EQ(r.exit_code, 2);
}

}  // namespace

// A sound file as the input: click tracks through the detector, looping,
// formats and rates, and the fallbacks when the file is unusable.
#include <gtest/gtest.h>

#include "tests/fx/click_track.h"
#include "tests/fx/sound_fixture.h"
#include "tests/support/support.h"

namespace {

using fx_test::BinSine;
using fx_test::ClickTrack;
using testing_support::TempDir;

class FileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetProgramClock(&clock);
    core::ResetRuntimeMessages();
    core::SetMessageListener([this](const std::string& text) { messages.push_back(text); });
    fx::StartTiming();
  }
  void TearDown() override {
    fx::StopSound();
    fx::StopTiming();
    core::SetMessageListener(nullptr);
    core::SetProgramClock(nullptr);
  }
  bool Said(const std::string& part) const {
    for (const std::string& m : messages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  // Runs the detector at `fps` over the file's length; returns the file
  // times of deck 0's beats.
  std::vector<double> BeatTimes(double seconds, double fps) {
    fx::BeatListener* deck = fx::CreateBeatListener();
    std::vector<double> beats;
    for (int64_t frame = 0; frame / fps < seconds; ++frame) {
      clock.Set(core::kClockEpoch + static_cast<double>(frame) / fps);
      fx::BeginSoundFrame();
      fx::DetectBeats(clock.Seconds());
      if (deck->beat_now) beats.push_back(clock.Seconds() - core::kClockEpoch);
    }
    return beats;
  }

  core::ManualClock clock;
  TempDir dir;
  std::vector<std::string> messages;
};

TEST_F(FileInputTest, AClickTrackGivesOneBeatPerClickWithinAWindowAndAFrame) {
  ClickTrack track;
  track.noise_amplitude = 0.0003f;
  ASSERT_TRUE(track.Write(dir / "clicks.wav"));
  fx::SoundOptions options;
  options.input_file = dir / "clicks.wav";
  fx::StartSound(options);
  EXPECT_EQ(fx::SoundInputDescription(), "file " + dir / "clicks.wav");

  const double fps = 60.0;
  std::vector<double> beats = BeatTimes(track.seconds, fps);
  std::vector<double> clicks = track.ClickTimes();
  ASSERT_EQ(beats.size(), clicks.size());
  const double bound = 512.0 / fx::kSampleRate + 1.0 / fps;
  for (size_t i = 0; i < clicks.size(); ++i) {
    EXPECT_GE(beats[i], clicks[i]) << "click " << i;
    EXPECT_LE(beats[i], clicks[i] + bound) << "click " << i;
  }
}

TEST_F(FileInputTest, TheSameClickTrackAtAnotherFrameRateAndTempo) {
  ClickTrack track;
  track.bpm = 150.0;  // 0.4 s apart: still beyond the 1/3 s pause
  track.click_hz = 6 * 44100.0 / 512;
  track.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  ASSERT_TRUE(track.Write(dir / "clicks.flac"));
  fx::SoundOptions options;
  options.input_file = dir / "clicks.flac";
  fx::StartSound(options);
  std::vector<double> beats = BeatTimes(track.seconds, 25.0);
  std::vector<double> clicks = track.ClickTimes();
  ASSERT_EQ(beats.size(), clicks.size());
  for (size_t i = 0; i < clicks.size(); ++i) {
    EXPECT_GE(beats[i], clicks[i]);
    EXPECT_LE(beats[i], clicks[i] + 512.0 / fx::kSampleRate + 1.0 / 25.0);
  }
}

TEST_F(FileInputTest, ThePositionFollowsTheProgramClockAndLoops) {
  // One second: a tone on bin 3 for the first half, silence after.
  std::vector<float> samples = BinSine(3, 512, 0.9f, 44100);
  std::fill(samples.begin() + 22050, samples.end(), 0.0f);
  ASSERT_TRUE(ClickTrack::WriteSound(dir / "half.wav", samples, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
  fx::SoundOptions options;
  options.input_file = dir / "half.wav";
  fx::StartSound(options);
  auto bin3_at = [&](double file_time) {
    clock.Set(core::kClockEpoch + file_time);
    return fx::GetBeatSpectrum(clock.Seconds())[3];
  };
  EXPECT_NEAR(bin3_at(0.25), 0.9f, 0.01f);
  EXPECT_LT(bin3_at(0.75), 1e-4f);
  EXPECT_NEAR(bin3_at(1.25), 0.9f, 0.01f);  // looped
  EXPECT_LT(bin3_at(1.75), 1e-4f);
  EXPECT_NEAR(bin3_at(100.25), 0.9f, 0.01f);
  EXPECT_LT(bin3_at(0.0), 1e-4f);  // nothing was played before the start
  // Just after the start only the first few samples are in the window.
  float early = bin3_at(128.0 / 44100.0);
  EXPECT_GT(early, 0.0f);
  EXPECT_LT(early, 0.5f);
}

TEST_F(FileInputTest, StereoFilesAtOtherRatesAreMixedToMonoAt44100) {
  // 48 kHz stereo, the same tone at 0.6 left and 0.2 right: mono reads 0.4.
  const double hz = 10 * 44100.0 / 512;
  const int rate = 48000;
  std::vector<float> frames;
  for (int i = 0; i < rate * 2; ++i) {
    float v = static_cast<float>(std::sin(2.0 * M_PI * hz * i / rate));
    frames.push_back(0.6f * v);
    frames.push_back(0.2f * v);
  }
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  SNDFILE* file = sf_open((dir / "stereo.flac").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_writef_float(file, frames.data(), rate * 2);
  sf_close(file);

  fx::SoundOptions options;
  options.input_file = dir / "stereo.flac";
  fx::StartSound(options);
  clock.Set(core::kClockEpoch + 1.0);
  const float* s = fx::GetBeatSpectrum(clock.Seconds());
  ASSERT_NE(s, nullptr);
  EXPECT_NEAR(s[10], 0.4f, 0.01f);
  EXPECT_LT(s[20], 0.01f);
}

TEST_F(FileInputTest, OggVorbisFilesPlay) {
  std::vector<float> samples = BinSine(12, 512, 0.5f, 44100);
  ASSERT_TRUE(ClickTrack::WriteSound(dir / "tone.ogg", samples, 44100, 1, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
  fx::SoundOptions options;
  options.input_file = dir / "tone.ogg";
  fx::StartSound(options);
  clock.Set(core::kClockEpoch + 0.5);
  const float* s = fx::GetBeatSpectrum(clock.Seconds());
  ASSERT_NE(s, nullptr);
  EXPECT_NEAR(s[12], 0.5f, 0.03f);
}

TEST_F(FileInputTest, PathsResolveThroughTheFileLayer) {
  ClickTrack track;
  track.seconds = 1.0;
  ASSERT_TRUE(track.Write(dir / "Clicks.wav"));
  ASSERT_EQ(core::StartFileLayer(dir.path()), 0);
  fx::SoundOptions options;
  options.input_file = "CLICKS.WAV";
  fx::StartSound(options);
  core::StopFileLayer();
  EXPECT_EQ(fx::SoundInputDescription(), "file CLICKS.WAV");
  EXPECT_FALSE(Said("SOUND:"));
}

TEST_F(FileInputTest, AnUnusableFileGivesSilenceAndSaysWhy) {
  fx::SoundOptions options;
  options.input_file = dir / "missing.wav";
  fx::StartSound(options);
  EXPECT_EQ(fx::SoundInputDescription(), "silence");
  EXPECT_TRUE(Said("cannot open sound file " + dir / "missing.wav"));

  testing_support::WriteFile(dir / "notes.wav", "these are not samples\n");
  options.input_file = dir / "notes.wav";
  fx::StartSound(options);
  EXPECT_EQ(fx::SoundInputDescription(), "silence");
  EXPECT_TRUE(Said("cannot read sound file " + dir / "notes.wav"));
  const float* s = fx::GetBeatSpectrum(1.0);
  ASSERT_NE(s, nullptr);
  for (int k = 0; k < fx::kBeatSpectrumSize; ++k) ASSERT_EQ(s[k], 0.0f);
}

TEST_F(FileInputTest, WithoutLiveInputAndWithoutAFileTheInputIsSilence) {
  fx::SoundOptions options;
  options.allow_live_input = false;
  fx::StartSound(options);
  EXPECT_EQ(fx::SoundInputDescription(), "silence");
  ASSERT_NE(fx::GetBeatSpectrum(1.0), nullptr);
  EXPECT_TRUE(fx::SoundRecording());
  // A file still plays when live input is off.
  ClickTrack track;
  track.seconds = 1.0;
  ASSERT_TRUE(track.Write(dir / "c.wav"));
  options.input_file = dir / "c.wav";
  fx::StartSound(options);
  EXPECT_EQ(fx::SoundInputDescription(), "file " + dir / "c.wav");
}

}  // namespace

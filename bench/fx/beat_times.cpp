// fx_beat_times FILE [FPS]         prints the beat detector's beat times (s)
// fx_beat_times --clicks OUT SECONDS [BPM]
//                                  writes a click track (first click at 0.5 s)
//
// The detector runs on a fixed-rate clock over the whole file, as an offline
// render would, with the default beat settings.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/core/core.h"
#include "fx/timing.h"
#include "tests/fx/click_track.h"

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--clicks") {
    fx_test::ClickTrack track;
    track.seconds = std::atof(argv[3]);
    if (argc >= 5) track.bpm = std::atof(argv[4]);
    if (!track.Write(argv[2])) {
      std::fprintf(stderr, "cannot write %s\n", argv[2]);
      return 1;
    }
    for (double t : track.ClickTimes()) std::printf("%.6f\n", t);
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: fx_beat_times FILE [FPS] | --clicks OUT SECONDS [BPM]\n");
    return 2;
  }
  double fps = argc >= 3 ? std::atof(argv[2]) : 60.0;
  std::string error;
  std::unique_ptr<fx::AudioSource> source = fx::MakeFileAudioSource(argv[1], &error);
  if (!source) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The file's length decides how long to run.
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  double seconds = file && info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0;
  if (file) sf_close(file);

  core::ManualClock clock;
  core::SetProgramClock(&clock);
  fx::StartTiming();
  fx::BeatListener* deck = fx::CreateBeatListener();
  fx::StartSound(std::move(source));
  for (long frame = 0; frame / fps < seconds; ++frame) {
    clock.Set(core::kClockEpoch + static_cast<double>(frame) / fps);
    fx::BeginSoundFrame();
    fx::DetectBeats(clock.Seconds());
    if (deck->beat_now) std::printf("%.6f\n", clock.Seconds() - core::kClockEpoch);
  }
  fx::StopSound();
  fx::StopTiming();
  core::SetProgramClock(nullptr);
  return 0;
}

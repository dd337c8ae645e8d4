// A sound file as the input: decoded once into memory (mono, kSampleRate),
// then played looping at the program clock's pace. The position is a pure
// function of the program time, so a fixed-rate offline run hears exactly
// the samples belonging to each frame, and no thread is involved.
#include <sndfile.h>

#include <cmath>
#include <vector>

#include "app/core/core.h"
#include "fx/sound_internal.h"

namespace fx {
namespace {

// libsndfile reads through the file layer, so the path resolves like every
// other data path (case-insensitive, against the current base folder).
sf_count_t VioLength(void* user) {
  core::File* file = static_cast<core::File*>(user);
  long here = file->Tell();
  if (here < 0 || file->Seek(0, SEEK_END) != 0) return -1;
  long end = file->Tell();
  file->Seek(here, SEEK_SET);
  return end;
}
sf_count_t VioSeek(sf_count_t offset, int whence, void* user) {
  core::File* file = static_cast<core::File*>(user);
  if (file->Seek(static_cast<long>(offset), whence) != 0) return -1;
  return file->Tell();
}
sf_count_t VioRead(void* buffer, sf_count_t count, void* user) {
  if (count <= 0) return 0;
  return static_cast<sf_count_t>(static_cast<core::File*>(user)->Read(buffer, 1, static_cast<size_t>(count)));
}
sf_count_t VioWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t VioTell(void* user) { return static_cast<core::File*>(user)->Tell(); }

class FileAudioSource final : public AudioSource {
 public:
  FileAudioSource(std::string name, std::vector<float> samples)
      : name_(std::move(name)), samples_(std::move(samples)) {}

  int Start(std::string*) override { return 0; }
  void Stop() override {}

  int Latest(float* out, size_t count) override {
    const int64_t length = static_cast<int64_t>(samples_.size());
    double elapsed = core::NowSeconds() - core::kClockEpoch;
    int64_t end = std::isfinite(elapsed) && elapsed > 0.0
                      ? static_cast<int64_t>(std::floor(elapsed * kSampleRate))
                      : 0;
    for (size_t i = 0; i < count; ++i) {
      int64_t position = end - static_cast<int64_t>(count) + static_cast<int64_t>(i);
      // Nothing was played before the program started.
      out[i] = (position < 0 || length == 0) ? 0.0f : samples_[static_cast<size_t>(position % length)];
    }
    return 0;
  }

  std::string Describe() const override { return "file " + name_; }

 private:
  std::string name_;
  std::vector<float> samples_;
};

// Linear interpolation is plenty for a beat detector's band.
std::vector<float> Resample(const std::vector<float>& in, int from_rate) {
  if (from_rate == kSampleRate || in.empty()) return in;
  double step = static_cast<double>(from_rate) / kSampleRate;
  size_t count = static_cast<size_t>(static_cast<double>(in.size()) / step);
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i) {
    double x = static_cast<double>(i) * step;
    size_t a = static_cast<size_t>(x);
    size_t b = a + 1 < in.size() ? a + 1 : a;
    float t = static_cast<float>(x - static_cast<double>(a));
    out[i] = in[a] + (in[b] - in[a]) * t;
  }
  return out;
}

}  // namespace

std::unique_ptr<AudioSource> MakeFileAudioSource(const std::string& path, std::string* error) {
  core::FilePtr file(core::OpenDataFile(path.c_str(), "rb"));
  if (!file) {
    *error = "cannot open sound file " + path;
    return nullptr;
  }
  SF_VIRTUAL_IO io{VioLength, VioSeek, VioRead, VioWrite, VioTell};
  SF_INFO info{};
  SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, file.get());
  if (!sound) {
    std::string reason = sf_strerror(nullptr);
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
    *error = "cannot read sound file " + path + ": " + reason;
    return nullptr;
  }
  if (info.channels <= 0 || info.samplerate <= 0 || info.samplerate > 1000000) {
    sf_close(sound);
    *error = "sound file " + path + " has no usable format";
    return nullptr;
  }
  // Integer files read as -1..1 floats; float files as stored.
  sf_count_t limit = static_cast<sf_count_t>(kMaxSoundFileSeconds * info.samplerate);
  sf_count_t frames = info.frames > 0 && info.frames < limit ? info.frames : limit;
  std::vector<float> mono;
  mono.reserve(info.frames > 0 && info.frames < limit ? static_cast<size_t>(info.frames) : 0);
  const sf_count_t kChunk = 4096;
  std::vector<float> chunk(static_cast<size_t>(kChunk * info.channels));
  sf_count_t total = 0;
  while (total < frames) {
    sf_count_t want = frames - total < kChunk ? frames - total : kChunk;
    sf_count_t got = sf_readf_float(sound, chunk.data(), want);
    if (got <= 0) break;
    for (sf_count_t f = 0; f < got; ++f) {
      float sum = 0.0f;
      for (int c = 0; c < info.channels; ++c) sum += chunk[static_cast<size_t>(f * info.channels + c)];
      mono.push_back(sum / static_cast<float>(info.channels));
    }
    total += got;
  }
  sf_close(sound);
  if (info.frames > limit)
    core::Trace("SOUND: %s is longer than %.0f s; only its start is played\n", path.c_str(),
                kMaxSoundFileSeconds);
  if (mono.empty()) {
    *error = "sound file " + path + " holds no samples";
    return nullptr;
  }
  return std::make_unique<FileAudioSource>(path, Resample(mono, info.samplerate));
}

}  // namespace fx

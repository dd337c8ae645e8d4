// The inputs that need no platform: silence and samples pushed by the caller.
#include <algorithm>

#include "fx/sound_internal.h"

namespace fx {
namespace {

class SilentAudioSource final : public AudioSource {
 public:
  int Start(std::string*) override { return 0; }
  void Stop() override {}
  int Latest(float* out, size_t count) override {
    std::fill(out, out + count, 0.0f);
    return 0;
  }
  std::string Describe() const override { return "silence"; }
};

}  // namespace

std::unique_ptr<AudioSource> MakeSilentAudioSource() { return std::make_unique<SilentAudioSource>(); }

PushedAudioSource::PushedAudioSource() : ring_(std::make_unique<SampleRing>()) {}
PushedAudioSource::~PushedAudioSource() = default;

int PushedAudioSource::Start(std::string* error) {
  ++start_calls_;
  if (start_fails_) {
    *error = "start refused";
    return -1;
  }
  lost_ = false;
  return 0;
}

int PushedAudioSource::Latest(float* out, size_t count) {
  if (lost_) return -1;
  ring_->Latest(out, count);
  return 0;
}

void PushedAudioSource::Push(const float* samples, size_t count) { ring_->Write(samples, count); }
void PushedAudioSource::PushSilence(size_t count) { ring_->WriteSilence(count); }

}  // namespace fx

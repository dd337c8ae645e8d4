// The default recording device through SDL2.
//
// SDL calls OnCapture on its own audio thread. The callback only copies the
// block into the sample ring (no locks, no allocation) and reads one atomic
// flag: when a stop was requested it acknowledges by clearing `recording`
// and writes nothing more. Stop waits for that acknowledgement a bounded
// time only -- a vanished device never calls back again -- and then closes
// the device, which ends SDL's thread. The shared block is owned by the
// source and outlives the device.
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/core/core.h"
#include "fx/sound_internal.h"

namespace fx {
namespace {

constexpr double kStopWaitSeconds = 0.25;

struct CaptureShared {
  SampleRing ring;
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> recording{false};
};

void SDLCALL OnCapture(void* user, Uint8* stream, int length) {
  CaptureShared* shared = static_cast<CaptureShared*>(user);
  if (shared->stop_requested.load(std::memory_order_acquire)) {
    shared->recording.store(false, std::memory_order_release);
    return;
  }
  // Copy through a small stack block: the stream is bytes, the ring floats.
  float block[256];
  size_t samples = length > 0 ? static_cast<size_t>(length) / sizeof(float) : 0;
  const Uint8* at = stream;
  while (samples > 0) {
    size_t n = samples < 256 ? samples : 256;
    std::memcpy(block, at, n * sizeof(float));
    shared->ring.Write(block, n);
    at += n * sizeof(float);
    samples -= n;
  }
}

class CaptureAudioSource final : public AudioSource {
 public:
  ~CaptureAudioSource() override { Stop(); }

  int Start(std::string* error) override {
    if (device_ != 0) return 0;
    RouteAlsaErrorsToTrace();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      *error = std::string("audio system: ") + SDL_GetError();
      return -1;
    }
    shared_ = std::make_unique<CaptureShared>();
    SDL_AudioSpec want{};
    want.freq = kSampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = 1;  // SDL mixes the device's channels down for us
    want.samples = 512;
    want.callback = OnCapture;
    want.userdata = shared_.get();
    SDL_AudioSpec got{};
    device_ = SDL_OpenAudioDevice(nullptr, 1, &want, &got, 0);
    if (device_ == 0) {
      *error = std::string("capture device: ") + SDL_GetError();
      shared_.reset();
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return -1;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    driver_ = driver ? driver : "?";
    shared_->recording.store(true, std::memory_order_release);
    SDL_PauseAudioDevice(device_, 0);
    return 0;
  }

  void Stop() override {
    if (device_ == 0) return;
    shared_->stop_requested.store(true, std::memory_order_release);
    // Real time, not the program clock: this waits for another thread.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kStopWaitSeconds);
    while (shared_->recording.load(std::memory_order_acquire) &&
           SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (shared_->recording.load(std::memory_order_acquire))
      core::Trace("SOUND: capture callback did not stop within %.2f s\n", kStopWaitSeconds);
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    shared_.reset();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  int Latest(float* out, size_t count) override {
    if (device_ == 0) return -1;
    // A device that was unplugged reports stopped; start again later.
    if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) return -1;
    shared_->ring.Latest(out, count);
    return 0;
  }

  std::string Describe() const override {
    return device_ != 0 ? "capture device (" + driver_ + ")" : "capture device";
  }

 private:
  SDL_AudioDeviceID device_ = 0;
  std::unique_ptr<CaptureShared> shared_;
  std::string driver_;
};

}  // namespace

std::unique_ptr<AudioSource> MakeCaptureAudioSource() { return std::make_unique<CaptureAudioSource>(); }

}  // namespace fx

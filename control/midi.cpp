// MIDI messages from bytes, and the MIDI clock's tempo and beats.
#include <cmath>

#include "control/control.h"

namespace control {

bool ParseMidiBytes(const uint8_t* bytes, size_t size, double time, MidiMessage* message) {
  if (!bytes || size == 0 || size > 3 || bytes[0] < 0x80) return false;
  const uint8_t status = bytes[0];
  size_t expected = 0;
  if (status < 0xF0) {
    const uint8_t kind = status & 0xF0;
    expected = kind == kMidiProgramChange || kind == 0xD0 ? 2 : 3;
  } else if (status == 0xF1 || status == 0xF3) {
    expected = 2;
  } else if (status == 0xF2) {
    expected = 3;
  } else if (status >= 0xF6 && status != 0xF7) {
    expected = 1;
  } else {
    return false;  // system exclusive and undefined statuses
  }
  if (size != expected) return false;
  for (size_t i = 1; i < size; ++i)
    if (bytes[i] > 0x7F) return false;
  *message = MidiMessage();
  message->status = status;
  message->data1 = size > 1 ? bytes[1] : 0;
  message->data2 = size > 2 ? bytes[2] : 0;
  message->size = static_cast<uint8_t>(size);
  message->time = time;
  return true;
}

MidiClock::Event MidiClock::Feed(const MidiMessage& message) {
  switch (message.status) {
    case kMidiStart:
      running_ = true;
      pulse_ = 0;
      return Event::kNone;
    case kMidiContinue:
      running_ = true;
      return Event::kNone;
    case kMidiStop:
      running_ = false;
      return Event::kNone;
    case kMidiClockPulse: break;
    default: return Event::kNone;
  }
  // A long silence means another tempo may follow: measure afresh.
  if (count_ > 0 && !(message.time - last_time_ < kGapSeconds)) count_ = 0;
  last_time_ = message.time;
  times_[next_] = message.time;
  next_ = (next_ + 1) % kClockWindow;
  if (count_ < kClockWindow) ++count_;
  if (!running_) return Event::kNone;
  const bool beat = pulse_ == 0;
  pulse_ = (pulse_ + 1) % kPulsesPerBeat;
  return beat ? Event::kBeat : Event::kNone;
}

double MidiClock::PeriodSeconds() const {
  if (count_ < 2) return 0.0;
  // Least squares over (k, t_k): the slope is the pulse interval. Times are
  // taken relative to the oldest so the sums keep their precision.
  const int oldest = (next_ - count_ + kClockWindow) % kClockWindow;
  const double origin = times_[oldest];
  const double n = count_;
  double sum_k = 0.0, sum_t = 0.0, sum_kk = 0.0, sum_kt = 0.0;
  for (int k = 0; k < count_; ++k) {
    const double t = times_[(oldest + k) % kClockWindow] - origin;
    sum_k += k;
    sum_t += t;
    sum_kk += static_cast<double>(k) * k;
    sum_kt += k * t;
  }
  const double denominator = n * sum_kk - sum_k * sum_k;
  if (!(denominator > 0.0)) return 0.0;
  const double pulse = (n * sum_kt - sum_k * sum_t) / denominator;
  if (!(pulse > 0.0) || !std::isfinite(pulse)) return 0.0;
  return pulse * kPulsesPerBeat;
}

double MidiClock::Bpm() const {
  const double period = PeriodSeconds();
  return period > 0.0 ? 60.0 / period : 0.0;
}

}  // namespace control

// Timed fades the effect classes share: a linear ramp and an eased curve.
// Both are plain values set by a command (start = the command time) and
// read at the effect time; evaluating one tells whether it still runs.
#pragma once

namespace fx {

// What both fades hold: the direction, the start (the command time) and
// the duration; `Curve` supplies Value(time, running).
template <typename Curve>
struct TimedFade {
  bool rising = true;
  float start = 0.0f;
  float duration = 0.0f;

  void Set(bool rise, float start_time, float length) {
    rising = rise;
    start = start_time;
    duration = length;
  }
  bool Finished(float time) const {
    bool running = false;
    static_cast<const Curve*>(this)->Value(time, &running);
    return !running;
  }
};

// Rising: (t - start) / duration up to 1; falling: 1 minus that. Finished
// (1 rising, 0 falling) once t >= start + duration, or at once for a
// duration <= 0 or a non-finite one.
struct LinearFade : TimedFade<LinearFade> {
  // The value at `time`; *running (optional) says whether it still runs.
  float Value(float time, bool* running = nullptr) const;
};

// L = 1 / (1 + e^(-3 (t - start - 0.15))) rising, 1 - L falling; the curve
// does not depend on the duration, which only says when it jumps to its
// end value (1 rising, 0 falling). A duration <= 0 is finished at once.
struct EaseFade : TimedFade<EaseFade> {
  float Value(float time, bool* running = nullptr) const;
};

}  // namespace fx

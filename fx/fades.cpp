#include "fx/fades.h"

#include <cmath>

namespace fx {
namespace {

// Whether the fade has run its course at `time` (a NaN counts as over).
bool Over(float start, float duration, float time) {
  return !(duration > 0.0f) || !std::isfinite(duration) || !(time < start + duration);
}

}  // namespace

float LinearFade::Value(float time, bool* running) const {
  const bool over = Over(start, duration, time);
  if (running) *running = !over;
  if (over) return rising ? 1.0f : 0.0f;
  float value = (time - start) / duration;
  value = value < 0.0f ? 0.0f : value;  // a time before the start
  return rising ? value : 1.0f - value;
}

float EaseFade::Value(float time, bool* running) const {
  const bool over = Over(start, duration, time);
  if (running) *running = !over;
  if (over) return rising ? 1.0f : 0.0f;
  const float l = 1.0f / (1.0f + std::exp(-3.0f * (time - start - 0.15f)));
  return rising ? l : 1.0f - l;
}

}  // namespace fx

// Deck time: every deck plays its effect on its own time line, anchored
// when an effect is put on the deck, re-anchored on speed changes so the
// effect never jumps, and restarted on the beat in the two beat modes.
//
// Times are program seconds in double precision: a float clock loses
// milliseconds after a few hours of show.
#include <cmath>

#include "fx/timing.h"
#include "server/server.h"

namespace server {

double DeckEffectTime(Deck* deck, double now, float length) {
  if (!deck) return 0.0;
  const int32_t mode = deck->record.beat_mode;
  if (mode != net::kBeatFree && !fx::BeatDisabled() && deck->listener && deck->listener->beat_now) {
    if (mode == net::kBeatStartOnBeat) {
      deck->start_time = now;
      deck->time_offset = 0.0;
    } else if (mode == net::kBeatEndOnBeat) {
      // At normal speed the script reaches its end, and wraps, one tapped
      // period after the beat. Without a period that is at once.
      deck->start_time = now;
      deck->time_offset = static_cast<double>(length) - static_cast<double>(fx::TappedPeriodMs()) * 0.001;
    }
  }
  // A script without a positive length has no time line: it plays at 0.
  if (!(length > 0.0f) || !std::isfinite(length)) return 0.0;
  const double span = length;
  double t = (now - deck->start_time) * SpeedRate(deck->record.speed) + deck->time_offset;
  if (!std::isfinite(t)) return 0.0;
  double f = std::fmod(t, span);  // takes the sign of t
  if (f < 0.0) f += span;
  if (f >= span) f = 0.0;  // a tiny negative remainder rounds up to the length
  return f;
}

void ChangeDeckSpeed(Deck* deck, float speed, double now) {
  if (!deck || !std::isfinite(speed)) return;
  // The effect time stays where it is; only its pace changes.
  deck->time_offset += (now - deck->start_time) * (SpeedRate(deck->record.speed) - SpeedRate(speed));
  deck->record.speed = speed;
}

}  // namespace server

// Deck time: every deck plays its effect at its own time line, anchored
// when an effect is put on the deck and re-anchored on speed changes, so
// the effect never jumps.
#include <cmath>

#include "server/server.h"

namespace server {

double DeckEffectTime(Deck* deck, double now, float length) {
  // Restarts on the beat (START ON BEAT, END ON BEAT) move the anchors here
  // before the time is taken.
  if (!deck || !(length > 0.0f) || !std::isfinite(length)) return 0.0;
  const double span = length;
  double t = (now - deck->start_time) * SpeedRate(deck->record.speed) + deck->time_offset;
  if (!std::isfinite(t)) return 0.0;
  double f = std::fmod(t, span);  // takes the sign of t
  if (f < 0.0) f += span;
  if (f >= span) f = 0.0;  // a tiny negative remainder rounds up to the length
  return f;
}

}  // namespace server

// LinearFade and EaseFade: values along the way, the end values once
// finished, and durations that finish at once.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fx/fades.h"

namespace {

TEST(FadesTest, LinearFadeRampsAndHoldsItsEndValue) {
  struct Case {
    bool rising;
    float duration, time;  // start is 2
    float value;
    bool running;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {true, 4.0f, 2.0f, 0.0f, true},   {true, 4.0f, 3.0f, 0.25f, true},  {true, 4.0f, 6.0f, 1.0f, false},
      {false, 4.0f, 3.0f, 0.75f, true}, {false, 4.0f, 9.0f, 0.0f, false}, {true, 0.0f, 2.0f, 1.0f, false},
      {false, 0.0f, 2.0f, 0.0f, false}, {true, -1.0f, 2.0f, 1.0f, false}, {true, nan, 2.0f, 1.0f, false},
      {true, 4.0f, 1.0f, 0.0f, true},  // before the start: held at its start value
  };
  for (const Case& c : cases) {
    fx::LinearFade fade;
    fade.Set(c.rising, 2.0f, c.duration);
    bool running = !c.running;
    EXPECT_FLOAT_EQ(fade.Value(c.time, &running), c.value) << c.rising << " " << c.duration << " " << c.time;
    EXPECT_EQ(running, c.running) << c.rising << " " << c.duration << " " << c.time;
    EXPECT_EQ(fade.Finished(c.time), !c.running);
  }
}

TEST(FadesTest, EaseFadeIsHalfWayAt0_15AndIgnoresTheDurationUntilItEnds) {
  fx::EaseFade fade;
  fade.Set(true, 1.0f, 5.0f);
  EXPECT_FLOAT_EQ(fade.Value(1.15f), 0.5f);
  EXPECT_NEAR(fade.Value(1.0f), 1.0 / (1.0 + std::exp(0.45)), 1e-6);
  EXPECT_LT(fade.Value(1.5f), fade.Value(2.5f));
  EXPECT_FLOAT_EQ(fade.Value(6.0f), 1.0f);
  fade.Set(false, 1.0f, 5.0f);
  EXPECT_FLOAT_EQ(fade.Value(1.15f), 0.5f);
  EXPECT_FLOAT_EQ(fade.Value(6.0f), 0.0f);
  EXPECT_FALSE(fade.Finished(5.9f));
  fade.Set(false, 1.0f, 0.0f);
  EXPECT_TRUE(fade.Finished(1.0f));
  EXPECT_FLOAT_EQ(fade.Value(1.0f), 0.0f);
}

}  // namespace

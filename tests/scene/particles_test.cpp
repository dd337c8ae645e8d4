// Particle systems: PARTICLEPARAMS, the live set as a function of now,
// emission poses, fading, the velocity turn, and independence from resets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/scene/procedural_fixture.h"

namespace procedural_test {
namespace {

using scene::internal::ParticleSystem;
using Squares = std::vector<render::RenderVertex>;

Vec3 Centre(const Squares& s, size_t square) {
  Vec3 c;
  for (int i = 0; i < 4; ++i) {
    const render::RenderVertex& v = s[square * 4 + i];
    c = scene::Add(c, Vec3{v.x * 0.25f, v.y * 0.25f, v.z * 0.25f});
  }
  return c;
}

class Particles : public ProceduralTest {
 protected:
  void LoadSystems(const std::vector<std::string>& names) {
    for (const std::string& n : names) file_.meshes.push_back(Placeholder(n));
    Load();
  }
  Squares Build(double now, size_t system = 0) {
    Squares out;
    Object<ParticleSystem>(system).BuildSquares(scene_, now, now, {1, 0, 0}, {0, 1, 0}, &out);
    return out;
  }
};

TEST_F(Particles, ParamsTakeTenOrNineNumbersAndRefuseTheRest) {
  struct Case {
    const char* text;
    int result;
    float size, rate, disc;
  };
  const Case cases[] = {
      {"2 4 100 1 2 3 4 5 6 7", 0, 2.0f, 100.0f, 7.0f},     // all ten
      {" 2 4 100 1 2 3 4 5 6", 0, 2.0f, 100.0f, 10.0f},     // nine: disc stays
      {"2 4 100 1 2 3 4 5", -1, 1.0f, 50.0f, 10.0f},         // eight: nothing
      {"2 4 nan 1 2 3 4 5 6 7", -1, 1.0f, 50.0f, 10.0f},     // a NaN: nothing
      {"2 4 100 1 2 3 4 5 inf 7", -1, 1.0f, 50.0f, 10.0f},   // an infinity: nothing
  };
  LoadSystems({"@PARTICLE01"});
  for (const Case& c : cases) {
    Object<ParticleSystem>(0).ResetPlayback();
    ClearMessages();
    EXPECT_EQ(scene::SetParticleParams(&scene_, "@particle01", c.text), c.result) << c.text;
    const scene::internal::ParticleParams& p = Object<ParticleSystem>(0).Params();
    EXPECT_EQ(p.size, c.size) << c.text;
    EXPECT_EQ(p.rate, c.rate) << c.text;
    EXPECT_EQ(p.disc, c.disc) << c.text;
    EXPECT_EQ(messages.empty(), c.result == 0) << c.text;
  }
  ClearMessages();
  EXPECT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE99", "1 1 1 1 1 1 1 1 1 1"), -1);
  EXPECT_TRUE(HasMessage("@PARTICLE99"));
}

TEST_F(Particles, ZeroOrNegativeRateEmitsNothingMore) {
  LoadSystems({"@PARTICLE01"});
  ASSERT_GT(Build(100.0).size(), 0u);
  for (const char* rate : {"0", "-5"}) {
    ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", std::string("1 3 ") + rate + " 0 10 0 0 0 0"), 0);
    EXPECT_TRUE(Build(100.0).empty()) << rate;
    EXPECT_TRUE(Build(5000.0).empty()) << rate;
  }
}

TEST_F(Particles, HugeRateAndLifetimeAreBounded) {
  LoadSystems({"@PARTICLE01"});
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "1 1e9 1e9 0 10 0 0 0 0"), 0);
  EXPECT_TRUE(HasMessage("capped"));
  const Squares s = Build(100.0);
  EXPECT_EQ(s.size() / 4, 65000u);  // 10,000 a second for 100 s, the youngest kept
}

TEST_F(Particles, LateFrameEmitsEachParticleAtItsOwnPose) {
  file_.meshes.push_back(Placeholder("@PARTICLE01"));
  AddMovingTrack(0);
  Load();
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "1 3 50 0 10 0 0 0 0 0"), 0);
  const Squares before = Build(100.00);
  const Squares after = Build(100.10);
  ASSERT_GT(before.size() / 4, 140u);
  ASSERT_GT(after.size() / 4, 140u);
  // The youngest before the late frame was born at 99.98 (100.00 is not
  // yet past).
  EXPECT_NEAR(Centre(before, before.size() / 4 - 1).x, 99.98, 2e-3);
  EXPECT_NEAR(Centre(after, after.size() / 4 - 6).x, 99.98, 2e-3);
  for (size_t i = 0; i < 5; ++i) {
    const double birth = 100.00 + 0.02 * static_cast<double>(i);
    // Still particles stay where the track had the emitter at their birth.
    EXPECT_NEAR(Centre(after, after.size() / 4 - 5 + i).x, birth, 2e-3) << i;
  }
}

TEST_F(Particles, FadeAndAcceleration) {
  LoadSystems({"@PARTICLE01"});
  // One particle a second, still, from the origin; births at whole seconds.
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "1 3 1 0 10 0 0 -10 0 0"), 0);
  struct Case {
    double now;
    uint32_t oldest_colour;
  };
  for (const Case& c : {Case{10.4, 0xFFFFFFFFu}, Case{10.7, 0x7F7F7F7Fu}}) {
    const Squares s = Build(c.now);
    ASSERT_EQ(s.size() / 4, 3u) << c.now;  // born at 8, 9 and 10
    EXPECT_EQ(s[0].diffuse, c.oldest_colour) << c.now;
  }
  const Squares s = Build(10.0);  // born at 8 and 9: ages 2 and 1
  ASSERT_EQ(s.size() / 4, 2u);
  EXPECT_NEAR(Centre(s, 1).y, -10.0f, 1e-4);
  EXPECT_NEAR(Centre(s, 0).y, -40.0f, 1e-4);  // a·t², no half
}

TEST_F(Particles, VelocityIsTurnedByTheRowsOfTheRotation) {
  const float h = std::sqrt(0.5f);
  file_.meshes.push_back(Placeholder("@PARTICLE01", {}, Quat{h, 0, 0, h}));
  Load();
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "1 3 1 0 0 5 0 0 0 0"), 0);
  const Squares s = Build(10.0);
  ASSERT_EQ(s.size() / 4, 2u);
  const Vec3 c = Centre(s, 1);  // age 1
  EXPECT_NEAR(c.x, 5.0f, 1e-4);
  EXPECT_NEAR(c.y, 0.0f, 1e-4);
  EXPECT_NEAR(c.z, 0.0f, 1e-4);
}

TEST_F(Particles, RandomNumbersSpreadVelocityAndDisc) {
  LoadSystems({"@PARTICLE01"});
  scene::internal::SetParticleRandomSeam([](uint64_t, int64_t, int) { return 0.75f; });
  ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", "1 3 1 2 4 1 0 0 0 8"), 0);
  const Squares s = Build(10.0);
  ASSERT_EQ(s.size() / 4, 2u);
  // Start (0.25·8, 0.25·8, 0); velocity (0.25·1·4, 1, 0.25·1·2); age 1.
  const Vec3 c = Centre(s, 1);
  EXPECT_NEAR(c.x, 3.0f, 1e-4);
  EXPECT_NEAR(c.y, 3.0f, 1e-4);
  EXPECT_NEAR(c.z, 0.5f, 1e-4);
}

TEST_F(Particles, ResetsDoNotChangeTheSquaresButNamesDo) {
  LoadSystems({"@PARTICLE01", "@PARTICLE01", "@PARTICLE02"});
  const char* params = "0.5 2 40 3 3 6 0 -2 0 10";
  for (size_t i = 0; i < 3; ++i) ASSERT_EQ(scene::SetParticleParams(&scene_, i < 2 ? "@PARTICLE01" : "@PARTICLE02", params), 0);
  for (double now : {0.5, 1.0, 7.25, 7.30, 1000.0}) {
    // System 0 is reset and given its parameters again before every frame.
    scene_.procedurals[0]->ResetPlayback();
    ASSERT_EQ(scene::SetParticleParams(&scene_, "@PARTICLE01", params), 0);
    const Squares reset = Build(now, 0), kept = Build(now, 1), other = Build(now, 2);
    ASSERT_EQ(reset.size(), kept.size()) << now;
    ASSERT_FALSE(reset.empty()) << now;
    EXPECT_EQ(std::memcmp(reset.data(), kept.data(), reset.size() * sizeof(render::RenderVertex)), 0) << now;
    ASSERT_EQ(other.size(), kept.size()) << now;
    EXPECT_NE(std::memcmp(other.data(), kept.data(), kept.size() * sizeof(render::RenderVertex)), 0) << now;
  }
}

}  // namespace
}  // namespace procedural_test

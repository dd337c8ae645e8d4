// The 3DSCENE effect without a device: its class record and templates, the
// scene cache as Load and Reload use it, the animation clock under the
// script's per-frame replay, the beat forward driven by pushed sound, the
// viewport morph, the camera shake, the automatic camera and bad commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/scene_effect.h"
#include "fx/timing.h"
#include "tests/fx/effect_fixture.h"
#include "tests/fx/sound_fixture.h"
#include "tests/scene/scene_text_writer.h"
// The particle systems' parameters are only visible inside scene/.
#include "scene/procedural_internal.h"

namespace {

using ::testing::HasSubstr;

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A triangle "Mover" on a track of one sample a second whose x is the
// sample's number (0 .. 20, a 20 s loop), and three cameras.
std::string MoverScene(const std::string& first_camera = "Camera01") {
  scene_test::SceneSpec room;
  room.frame_rate = 1;
  room.meshes.push_back(scene_test::Triangle(1, "Mover"));
  room.cameras.clear();
  for (int i = 0; i < 3; ++i) {
    scene_test::CameraSpec camera;
    camera.id = 100 + i;
    camera.name = i == 0 ? first_camera : "Camera0" + std::to_string(i + 1);
    camera.position = {static_cast<float>(i), 0, -10};
    room.cameras.push_back(camera);
  }
  scene_test::ControllerSpec track;
  track.owner = 1;
  for (int i = 0; i <= 20; ++i) track.samples.insert(track.samples.end(), {static_cast<float>(i), 0, 0, 0, 0, 0, 1});
  room.controllers.push_back(track);
  return scene_test::WriteScene(room);
}

class SceneEffectTest : public fx_test::EffectTest {
 protected:
  void SetUp() override {
    EffectTest::SetUp();
    ASSERT_EQ(core::StartFileLayer(dir.path()), 0);
  }
  void TearDown() override {
    fx::StopSound();
    core::StartFileLayer("");
    EffectTest::TearDown();
  }

  void Put(const std::string& relative, const std::string& contents) {
    const std::string path = dir / relative;
    testing_support::MakeDirs(path.substr(0, path.find_last_of('/')));
    testing_support::WriteFile(path, contents);
  }

  std::unique_ptr<fx::SceneEffect> LoadEffect(const char* arguments = "mover.txt") {
    auto effect = std::make_unique<fx::SceneEffect>();
    if (effect->Load("S", arguments) != 0) return nullptr;
    return effect;
  }

  // The script holding one 3DSCENE instance S on mover.txt, started at 0,
  // then `body` (statements), looping over `length` seconds.
  fx::SceneEffect* OpenScript(fx::FxScript& script, const std::string& body, float length = 100.0f) {
    Put("data/scenes/mover.txt", MoverScene());
    const std::string text = "FXINSTANCE S 3DSCENE mover.txt\nFXSTART S\n" + body + "\nSYNCTIME " +
                             std::to_string(length) + "\n";
    Load(script, text);
    return dynamic_cast<fx::SceneEffect*>(script.FindInstance("S"));
  }

  // The mover's x after a frame at t, and the track's x at animation time a.
  static float MoverX(fx::SceneEffect* effect, float t) {
    effect->scene().Evaluate(t);
    return effect->scene().FindObject("MOVER")->local_position.x;
  }
  static float TrackX(fx::SceneEffect* effect, double a) {
    scene::Vec3 p;
    scene::Quat q;
    effect->scene().pos_rot_tracks[0].Sample(a, &p, &q);
    return p.x;
  }

  // One frame of sound (0.05 s, more than the sound syncer's window): a
  // loud low tone for a beat, else silence.
  void Sound(bool beat) {
    const size_t count = static_cast<size_t>(0.05 * fx::kSampleRate);
    if (beat) {
      std::vector<float> samples = fx_test::BinSine(20, 2 * fx::kSoundSyncSpectrumSize, 1.0f, count, pushed_);
      sound_->Push(samples.data(), samples.size());
    } else {
      sound_->PushSilence(count);
    }
    pushed_ += count;
    clock.Advance(0.05);
    fx::BeginSoundFrame();
  }
  void StartPushedSound() {
    auto source = std::make_unique<fx::PushedAudioSource>();
    sound_ = source.get();
    ASSERT_EQ(fx::StartSound(std::move(source)), 0);
    fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
    fx::SetSoundSyncThreshold(0.1f, 0.5f);
  }

  fx::PushedAudioSource* sound_ = nullptr;
  size_t pushed_ = 0;
};

TEST_F(SceneEffectTest, RegistryAndTemplates) {
  const fx::FxClass* record = fx::FindClass("3DSCENE");
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(record->Description(), "Reproduces a 3D Scene");
  std::unique_ptr<fx::FxInstance> instance = record->Create();
  ASSERT_NE(dynamic_cast<fx::SceneEffect*>(instance.get()), nullptr);
  EXPECT_STREQ(instance->GetName(), "3DSCENE");
  EXPECT_STREQ(instance->GetDescription(), "Reproduces a 3D Scene");

  const fx::FxTemplate* rows = nullptr;
  ASSERT_EQ(instance->GetLoadTemplates(&rows), 1);
  EXPECT_STREQ(rows[0].text, "filename.txt");
  EXPECT_STREQ(rows[0].help,
               "loads scene with name filename. It will search for the filename.hvx\r\n in data/scenesbin/.\r\nIf it "
               "doesnt find it there, it will search\r\nfor filename.txt in data/scenes/");
  ASSERT_EQ(instance->GetCommandTemplates(&rows), 26);
  const struct {
    int row;
    const char* text;
    const char* help;
  } expected[] = {
      {0, "SHOW", "shows the scene. by default the scene is showed"},
      {5, "NEXTCAMERA off", "turns off next camera"},
      {8, "FOG ON startfog endfog r g b", "sets linear fog from startfog to endfog (range is 0..1)"},
      {13, "VIEWPORT x y w h time", "morphs viewport. coords are assumed to be from 0 to 640 and 0 to 480"},
      {14, "NOISE x y z time", "camera will have noise and fade out in time"},
      {23, "PARTICLEPARAMS nombreobjeto tamanyo tiempodevida particulasporsegundo vx vy vz ax ay az radiodisco",
       "manda parametros a sistema de particulas"},
      {25, "BEATFORWARD tiempo", "forwardea la escena con cada beat el tiempo indicado"},
  };
  for (const auto& e : expected) {
    EXPECT_STREQ(rows[e.row].text, e.text) << e.row;
    EXPECT_STREQ(rows[e.row].help, e.help) << e.row;
  }
}

TEST_F(SceneEffectTest, CacheIsMadeReadWithoutTextRebuiltWhenTruncatedAndRemadeByReload) {
  Put("data/scenes/mover.txt", MoverScene());
  const std::string cache = dir / "data/scenesbin/mover.HVX";
  ASSERT_FALSE(Exists(dir / "data/scenesbin"));
  ASSERT_NE(LoadEffect(), nullptr) << testing::PrintToString(messages);
  ASSERT_TRUE(Exists(cache));  // the folder was made

  // A truncated cache is rebuilt within the same Load.
  const std::string bytes = testing_support::ReadFile(cache);
  testing_support::WriteFile(cache, bytes.substr(0, bytes.size() / 2));
  ASSERT_NE(LoadEffect(), nullptr) << testing::PrintToString(messages);
  EXPECT_EQ(testing_support::ReadFile(cache), bytes);

  // Without its text the cache still loads.
  const std::string text = testing_support::ReadFile(dir / "data/scenes/mover.txt");
  ASSERT_EQ(unlink((dir / "data/scenes/mover.txt").c_str()), 0);
  auto cached = LoadEffect();
  ASSERT_NE(cached, nullptr);
  EXPECT_EQ(cached->scene().cameras.size(), 3u);
  // Reload keeps a cache whose text is gone.
  EXPECT_EQ(cached->Reload("mover.txt"), 0);
  EXPECT_TRUE(Exists(cache));

  // Reload compiles an edited text again.
  testing_support::WriteFile(dir / "data/scenes/mover.txt", text);
  auto effect = LoadEffect();
  ASSERT_NE(effect, nullptr);
  Put("data/scenes/mover.txt", MoverScene("Edited"));
  ASSERT_EQ(effect->Reload("mover.txt"), 0);
  EXPECT_EQ(effect->scene().cameras[0].name, "Edited");
  EXPECT_STREQ(effect->InstanceName(), "S");
}

TEST_F(SceneEffectTest, LoadFailuresReportAndLeaveOthersAlone) {
  Put("data/scenes/mover.txt", MoverScene());
  auto good = LoadEffect();
  ASSERT_NE(good, nullptr);
  fx::SceneEffect effect;
  EXPECT_EQ(effect.Load("S", ""), -1);
  EXPECT_EQ(effect.Load("S", "  \t"), -1);
  messages.clear();
  EXPECT_EQ(effect.Load("S", "missing.txt"), -1);
  EXPECT_FALSE(messages.empty());
  Put("data/scenes/broken.txt", "<SCENE> <MESH> garbage");
  EXPECT_EQ(effect.Load("S", "broken.txt"), -1);
  EXPECT_FALSE(effect.loaded());
  EXPECT_TRUE(good->loaded());
  EXPECT_EQ(good->scene().cameras.size(), 3u);

  // Through a script: the host's message follows the scene engine's.
  fx::FxScript script;
  messages.clear();
  ASSERT_EQ(script.Open("FXINSTANCE X 3DSCENE\n", true), 0);
  EXPECT_EQ(script.InstantiateAll(), -1);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Failed to instantiate effect X");
}

TEST_F(SceneEffectTest, AnimationTimeFollowsTheEffectTimeUnderTheReplay) {
  struct Case {
    const char* body;
    float t;
    double animation;  // worked out by hand
  } cases[] = {
      {"SYNCTIME 1\nFXCOMMAND S SETSPEED 2", 3.0f, 5.0},           // (1 - 0) + (3 - 1) x 2
      {"SYNCTIME 1\nFXCOMMAND S SETSPEED 2", 0.5f, 0.5},           // before the command
      {"SYNCTIME 2\nFXCOMMAND S SETTIME 4", 3.0f, 7.0},            // 3 + 4
      {"FXCOMMAND S SETSPEED 0.5\nSYNCTIME 2\nFXCOMMAND S SETTIME 4", 4.0f, 6.0},  // 4 x 0.5 + 4
      {"SYNCTIME 2\nFXCOMMAND S SETABSOLUTETIME 10", 3.5f, 11.5},  // 10 + (3.5 - 2)
      {"SYNCTIME 1\nFXCOMMAND S SETSPEED 2\nSYNCTIME 2\nFXCOMMAND S SETABSOLUTETIME 1", 3.0f, 3.0},  // 1 + 1 x 2
      {"SYNCTIME 1\nFXCOMMAND S SETSPEED -1", 4.0f, -2.0},         // 1 - 3, the track loops backwards
  };
  for (const Case& c : cases) {
    fx::FxScript script;
    fx::SceneEffect* effect = OpenScript(script, c.body);
    ASSERT_NE(effect, nullptr) << c.body;
    // Frames before and after: the replay must give the same pose whatever
    // came before.
    for (float t : {0.1f, c.t, 7.0f, c.t}) Frame(script, t);
    EXPECT_NEAR(effect->scene().AnimationTime(c.t), c.animation, 1e-5) << c.body;
    EXPECT_NEAR(MoverX(effect, c.t), TrackX(effect, c.animation), 1e-4f) << c.body;
  }
}

TEST_F(SceneEffectTest, BackwardLoopingAndHiddenPlayback) {
  fx::FxScript script;
  fx::SceneEffect* effect = OpenScript(script, "SYNCTIME 2\nFXCOMMAND S HIDE\nSYNCTIME 4\nFXCOMMAND S SHOW", 6.0f);
  ASSERT_NE(effect, nullptr);
  // Backwards: each earlier frame shows the earlier pose.
  for (float t : {5.5f, 4.5f, 3.5f, 1.5f}) {
    Frame(script, t);
    EXPECT_NEAR(MoverX(effect, t), TrackX(effect, t), 1e-4f) << t;
  }
  // Hidden between 2 and 4: nothing drawn, the clock runs on.
  Frame(script, 3.0f);
  EXPECT_FALSE(effect->shown());
  EXPECT_FALSE(effect->Compose(3.0f));
  Frame(script, 4.5f);
  EXPECT_TRUE(effect->shown());
  EXPECT_NEAR(MoverX(effect, 4.5f), TrackX(effect, 4.5), 1e-4f);
  // The looping script restarts the animation: 7.5 plays as 1.5.
  Frame(script, 7.5f);
  EXPECT_NEAR(effect->scene().AnimationTime(script.ScriptTime(7.5f)), 1.5, 1e-5);
}

TEST_F(SceneEffectTest, BeatForwardOncePerBeatLastsAndRestartsWithPlayback) {
  StartPushedSound();
  fx::FxScript script;
  fx::SceneEffect* effect = OpenScript(script, "FXCOMMAND S BEATFORWARD 0.25");
  ASSERT_NE(effect, nullptr);
  TakeTrace();

  struct Step {
    bool beat;
    float t;
    double forwarded;
  } steps[] = {
      {false, 0.9f, 0.0},
      {true, 1.0f, 0.25},   // a beat
      {true, 1.05f, 0.25},  // the same beat, held
      {true, 1.4f, 0.25},   // still held past 0.3 s: latched
      {false, 1.45f, 0.25},
      {true, 1.5f, 0.5},    // a new beat
      {false, 1.55f, 0.5},
      {true, 1.7f, 0.5},    // 0.2 s after: once
      {false, 1.75f, 0.5},
      {false, 3.0f, 0.5},   // the forward lasts
      {false, 6.0f, 0.5},
  };
  for (const Step& s : steps) {
    Sound(s.beat);
    Frame(script, s.t);
    EXPECT_DOUBLE_EQ(effect->forwarded(), s.forwarded) << s.t;
    EXPECT_NEAR(effect->scene().AnimationTime(s.t), s.t + s.forwarded, 1e-5) << s.t;
  }
  const std::string trace = TakeTrace();
  size_t beats = 0;
  for (size_t at = trace.find("BEAT\n"); at != std::string::npos; at = trace.find("BEAT\n", at + 1)) ++beats;
  EXPECT_EQ(beats, 2u) << trace;
  EXPECT_THAT(trace, HasSubstr("REJECTED\n"));

  // An earlier frame (a loop, a restart, backward play) starts over.
  Sound(false);
  Frame(script, 2.0f);
  EXPECT_EQ(effect->forwarded(), 0.0);
  EXPECT_NEAR(effect->scene().AnimationTime(2.0), 2.0, 1e-5);

  // OFF forwards nothing; a reload starts over too.
  fx::FxScript off;
  fx::SceneEffect* quiet = OpenScript(off, "FXCOMMAND S BEATFORWARD 0.25\nSYNCTIME 1\nFXCOMMAND S BEATFORWARD OFF");
  ASSERT_NE(quiet, nullptr);
  Sound(true);
  Frame(off, 1.5f);
  EXPECT_EQ(quiet->forwarded(), 0.0);
  Sound(true);
  Frame(off, 0.5f);
  EXPECT_EQ(quiet->forwarded(), 0.25);
  ASSERT_EQ(quiet->Reload("mover.txt"), 0);
  EXPECT_EQ(quiet->forwarded(), 0.0);
}

TEST_F(SceneEffectTest, ViewportMorphsAndSetsAtOnce) {
  Put("data/scenes/mover.txt", MoverScene());
  auto effect = LoadEffect();
  ASSERT_NE(effect, nullptr);
  // One frame of the replay: Reset, Start at 0, the commands at their times.
  auto frame = [&](std::vector<std::pair<float, const char*>> commands, float t) {
    effect->Reset();
    effect->Start(0.0f);
    for (const auto& [time, command] : commands) effect->Command(time, command);
    return effect->Compose(t);
  };
  for (const char* morph : {"VIEWPORT 0 0 320 240 2", "VIEWPORTMORPH 0 0 320 240 2"}) {
    ASSERT_TRUE(frame({{0.0f, morph}}, 1.0f));
    EXPECT_NEAR((640.0f - effect->viewport().w) / 320.0f, 0.93f, 0.005f) << morph;
    EXPECT_NEAR((480.0f - effect->viewport().h) / 240.0f, 0.93f, 0.005f) << morph;
    frame({{0.0f, morph}}, 2.0f);
    EXPECT_EQ(effect->viewport().w, 320.0f) << morph;
    frame({{0.0f, morph}}, 5.0f);
    EXPECT_EQ(effect->viewport().h, 240.0f) << morph;
  }
  frame({{0.0f, "VIEWPORT 10 20 300 200"}}, 0.0f);
  EXPECT_EQ(effect->viewport().x, 10.0f);
  EXPECT_EQ(effect->viewport().w, 300.0f);
  // A morph from the last target to the next.
  frame({{0.0f, "VIEWPORT 0 0 100 100"}, {1.0f, "VIEWPORT 0 0 300 100 1"}}, 3.0f);
  EXPECT_EQ(effect->viewport().w, 300.0f);
  frame({{0.0f, "VIEWPORT 0 0 100 100"}, {1.0f, "VIEWPORT 0 0 300 100 1"}}, 1.0f);
  EXPECT_LT(effect->viewport().w, 200.0f);
  // Reset brings back the whole frame.
  frame({}, 0.0f);
  EXPECT_EQ(effect->viewport().w, 640.0f);
  EXPECT_EQ(effect->viewport().h, 480.0f);
}

TEST_F(SceneEffectTest, NoiseFadesOverTheEffectTimeAndIsRepeatable) {
  Put("data/scenes/mover.txt", MoverScene());
  auto effect = LoadEffect();
  ASSERT_NE(effect, nullptr);
  auto eye = [&](std::vector<std::pair<float, const char*>> commands, float t) {
    effect->Reset();
    effect->Start(0.0f);
    for (const auto& [time, command] : commands) effect->Command(time, command);
    effect->Compose(t);
    effect->scene().Evaluate(t);
    return effect->scene().view.Position();
  };
  const char* noise = "NOISE 1 1 1 2";
  for (const char* extra : {"SHOW", "SETTIME 100"}) {
    for (float t : {10.0f, 11.0f}) {
      const scene::Vec3 calm = eye({{10.0f, extra}}, t), shaken = eye({{10.0f, noise}, {10.0f, extra}}, t);
      EXPECT_NE(calm, shaken) << extra << " " << t;
      EXPECT_EQ(shaken, eye({{10.0f, noise}, {10.0f, extra}}, t)) << "repeatable";
    }
    for (float t : {12.0f, 13.0f, 40.0f})
      EXPECT_EQ(eye({{10.0f, extra}}, t), eye({{10.0f, noise}, {10.0f, extra}}, t)) << extra << " " << t;
  }
  // A negative duration is refused, reported once.
  messages.clear();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(eye({{10.0f, "NOISE 1 1 1 -2"}}, 50.0f), eye({}, 50.0f));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0], HasSubstr("NOISE 1 1 1 -2"));
}

TEST_F(SceneEffectTest, NextCameraAdvancesFromTheReplayedCamera) {
  fx::FxScript script;
  fx::SceneEffect* effect = OpenScript(script, "FXCOMMAND S NEXTCAMERA 2");
  ASSERT_NE(effect, nullptr);
  const struct {
    float t;
    int camera;
  } cases[] = {{0.5f, 0}, {2.5f, 1}, {4.5f, 2}, {6.5f, 0}, {2.5f, 1}};
  for (const auto& c : cases) {
    Frame(script, c.t);
    EXPECT_EQ(effect->scene().CurrentCameraIndex(), c.camera) << c.t;
  }
  fx::FxScript chosen;
  effect = OpenScript(chosen, "FXCOMMAND S CAMERA camera03\nSYNCTIME 1\nFXCOMMAND S NEXTCAMERA 2\nSYNCTIME 4\n"
                              "FXCOMMAND S NEXTCAMERA OFF");
  ASSERT_NE(effect, nullptr);
  for (const auto& [t, camera] : std::vector<std::pair<float, int>>{{0.5f, 2}, {1.5f, 2}, {3.5f, 0}, {5.0f, 2}}) {
    Frame(chosen, t);
    EXPECT_EQ(effect->scene().CurrentCameraIndex(), camera) << t;
  }
}

TEST_F(SceneEffectTest, SwitchesAndBadCommands) {
  Put("data/scenes/mover.txt", MoverScene());
  auto effect = LoadEffect();
  ASSERT_NE(effect, nullptr);
  scene::Scene& s = effect->scene();
  effect->Command(0.0f, "FOG ON 5 50 0.5 2 -1");
  EXPECT_TRUE(s.fog);
  EXPECT_EQ(s.fog_start, 5.0f);
  EXPECT_EQ(s.fog_end, 50.0f);
  EXPECT_EQ(s.fog_colour, 0x007FFF00u);  // each component clamped to its byte
  effect->Command(0.0f, "FOG OFF");
  EXPECT_FALSE(s.fog);
  effect->Command(0.0f, "FLIPX ON");
  effect->Command(0.0f, "FLIPY\tON");
  effect->Command(0.0f, "SHADOWS ON");
  effect->Command(0.0f, "VERTEXCOLORS ON");
  EXPECT_TRUE(s.flip_x && s.flip_y && s.shadows && s.vertex_colours);
  effect->Command(0.0f, "LAYER 3");
  EXPECT_EQ(effect->Layer(), 3);
  effect->Command(0.0f, "CAMERA CAMERA02");
  EXPECT_EQ(s.CurrentCameraIndex(), 1);

  messages.clear();
  const char* bad[] = {"SETSPEED", "SETSPEED fast", "SETTIME nan", "SETABSOLUTETIME 1e39", "FOG ON 1 2 3",
                       "VIEWPORT 1 2 3", "VIEWPORTMORPH 1 2 3 4", "NOISE 1 1", "NEXTCAMERA soon",
                       "BEATFORWARD x", "CAMERA nobody", "PARTICLEPARAMS", "JUMP 3",
                       "PARTICLEPARAMS @PARTICLE 1 2 3"};
  const double speed = s.speed, offset = s.time_offset;
  for (int round = 0; round < 2; ++round)
    for (const char* command : bad) EXPECT_EQ(effect->Command(1.0f, command), 0) << command;
  EXPECT_EQ(messages.size(), std::size(bad)) << testing::PrintToString(messages);
  EXPECT_EQ(s.speed, speed);
  EXPECT_EQ(s.time_offset, offset);
  EXPECT_EQ(s.CurrentCameraIndex(), 1);
  EXPECT_EQ(effect->viewport().w, 640.0f);
  // Accepted, changing nothing visible.
  messages.clear();
  for (const char* fine : {"LOAD x", "FORWARD", "2", "BEATFORWARD", "NEXTCAMERA off"})
    effect->Command(0.0f, fine);
  EXPECT_TRUE(messages.empty()) << testing::PrintToString(messages);
}

}  // namespace

namespace {

// Each frame's replay starts with a Reset that gives the particle systems
// their defaults again: the script's PARTICLEPARAMS must hold on every
// frame, a later one from its own time on, and a capped rate is reported
// once however often it is applied again.
TEST_F(SceneEffectTest, ParticleParamsHoldOnEveryFrameOfTheReplay) {
  scene_test::SceneSpec room;
  room.meshes.push_back(scene_test::Triangle(1, "@Particle01"));
  Put("data/scenes/fountain.txt", scene_test::WriteScene(room));
  fx::FxScript script;
  Load(script,
       "FXINSTANCE S 3DSCENE fountain.txt\nFXSTART S\n"
       "FXCOMMAND S PARTICLEPARAMS @PARTICLE01 2 3 50 0 0 10 0 0 0 4\n"
       "SYNCTIME 5\nFXCOMMAND S PARTICLEPARAMS @particle01 7 3 20000 0 0 10 0 0 0\nSYNCTIME 10\n");
  auto* effect = dynamic_cast<fx::SceneEffect*>(script.FindInstance("S"));
  ASSERT_NE(effect, nullptr);
  ASSERT_EQ(effect->scene().procedurals.size(), 1u);
  const auto& system = static_cast<const scene::internal::ParticleSystem&>(*effect->scene().procedurals[0]);
  struct Case {
    float t, size, rate, disc;
  } frames[] = {{1, 2, 50, 4}, {2, 2, 50, 4}, {6, 7, 20000, 4}, {7, 7, 20000, 4}, {1, 2, 50, 4}, {6, 7, 20000, 4}};
  messages.clear();
  for (const Case& c : frames) {
    clock.Advance(6.0);  // past the message sink's own repeat window
    Frame(script, c.t);
    EXPECT_EQ(system.Params().size, c.size) << c.t;
    EXPECT_EQ(system.Params().rate, c.rate) << c.t;
    EXPECT_EQ(system.Params().disc, c.disc) << c.t;
  }
  int capped = 0;
  for (const std::string& m : messages) capped += m.find("capped") != std::string::npos;
  EXPECT_EQ(capped, 1) << testing::PrintToString(messages);
}

}  // namespace

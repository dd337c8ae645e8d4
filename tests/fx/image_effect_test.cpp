// The IMAGE effect's behaviour: loading and its argument checks, the slide
// show's timing, the commands, fades (timed, beat and spectrum driven),
// Reset under the replay, the one-time range report, and the sharing and
// release of picture textures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/image_effect.h"
#include "fx/timing.h"
#include "tests/fx/image_fixture.h"
#include "tests/fx/sound_fixture.h"

namespace {

using fx_test::ImageTest;
using fx_test::Solid;
using ::testing::HasSubstr;

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu;

class ImageEffectTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    AddPicture("fx", "RED.tga", Solid(16, 16, kRed));
    AddPicture("fx", "Green.TGA", Solid(16, 16, kGreen));
    AddPicture("fx", "blue.tga", Solid(16, 16, kBlue));
  }

  // Feeds one frame of sound: `seconds` of a full-scale sine on
  // sound-syncer bin `bin` (or silence when bin < 0).
  void SoundFrame(double bin, double seconds = 0.05) {
    size_t count = static_cast<size_t>(seconds * fx::kSampleRate);
    if (bin < 0) {
      sound_->PushSilence(count);
    } else {
      std::vector<float> samples = fx_test::BinSine(bin, 2 * fx::kSoundSyncSpectrumSize, 1.0f, count, pushed_);
      sound_->Push(samples.data(), samples.size());
    }
    pushed_ += count;
    clock.Advance(seconds);
    fx::BeginSoundFrame();
  }
  void StartPushedSound() {
    auto source = std::make_unique<fx::PushedAudioSource>();
    sound_ = source.get();
    ASSERT_EQ(fx::StartSound(std::move(source)), 0);
    fx::SetSoundSyncChannel(fx::kRecordingSoundChannel);
  }

  fx::PushedAudioSource* sound_ = nullptr;
  size_t pushed_ = 0;
};

TEST_F(ImageEffectTest, ClassRecordNamesAndTemplateTables) {
  const fx::FxClass* record = fx::FindClass("IMAGE");
  ASSERT_NE(record, nullptr);
  std::unique_ptr<fx::FxInstance> instance = record->Create();
  ASSERT_NE(dynamic_cast<fx::ImageEffect*>(instance.get()), nullptr);
  EXPECT_STREQ(instance->GetName(), "IMAGE");
  EXPECT_STREQ(instance->GetDescription(), "Shows an image");

  const fx::FxTemplate* rows = nullptr;
  ASSERT_EQ(instance->GetLoadTemplates(&rows), 1);
  EXPECT_STREQ(rows[0].text, "nimages framelength name1 name2 ... namen");
  EXPECT_STREQ(rows[0].help,
               "nimages: number of images\r\nframelength: how much time each frame will be displayed\r\nNote: "
               "Images will be loaded from data/images/");
  ASSERT_EQ(instance->GetCommandTemplates(&rows), 18);
  const char* texts[18] = {"POSITION iFrame x y",
                           "POSITIONALL x y",
                           "VELOCITY x y",
                           "BLEND ADDITIVE",
                           "BLEND SUBSTRACTIVE",
                           "BLEND MULTIPLY",
                           "BLEND NORMAL",
                           "BLEND INVERT",
                           "FADEIN time",
                           "FADEOUT time",
                           "FADESOUNDSYNC BEAT fadetime",
                           "ALPHAINVERT ON",
                           "ALPHAINVERT OFF",
                           "FADESOUNDSYNC RAW startamplitude endamplitude startfreq endfreq",
                           "FADESOUNDSYNC OFF",
                           "ZOOM start speed",
                           "ZOOM 1.0  1.0",
                           "ZOOM 1.0 -1.0"};
  for (int i = 0; i < 18; ++i) EXPECT_STREQ(rows[i].text, texts[i]) << i;
  EXPECT_STREQ(rows[0].help, "Updates position of iFrame(from 0 to nimages-1)");
  EXPECT_STREQ(rows[10].help, "");
  EXPECT_STREQ(rows[13].help,
               "usa el soundsyncer para seleccionar el fade start/endamplitude: rango amplitud (0.0f-1.0f). "
               "startfreq y endfreq: frecuencias a  examinar (0.0f-1.0f)");
  EXPECT_STREQ(rows[14].help, "deshabilita soundsyncer para imagen");
  EXPECT_STREQ(rows[17].help, "Zoom In");
}

TEST_F(ImageEffectTest, LoadReadsCountLengthAndNamesWithBlankSlots) {
  auto image = LoadIn("fx", "3 0.5 RED.JPG _ subdir/BLUE");
  ASSERT_NE(image, nullptr);
  EXPECT_STREQ(image->InstanceName(), "IMG");
  EXPECT_TRUE(image->loaded());
  EXPECT_EQ(image->image_count(), 3);
  EXPECT_FLOAT_EQ(image->frame_length(), 0.5f);
  EXPECT_GE(image->texture(0), 0);  // the extension is dropped: RED.tga is found
  EXPECT_EQ(image->texture(1), -1);
  EXPECT_GE(image->texture(2), 0);  // the folder part is dropped
  EXPECT_NE(image->texture(0), image->texture(2));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(image->position_x(i), 0.0f);
    EXPECT_EQ(image->position_y(i), 0.0f);
  }
  EXPECT_EQ(fx::ImageTextureCount(), 2);
  EXPECT_TRUE(messages.empty());

  // No count: one image; a count of 0: loaded, nothing shown.
  auto one = LoadIn("fx", "");
  EXPECT_EQ(one, nullptr);  // but the frame length is still required, silently
  EXPECT_TRUE(messages.empty());
  auto none = LoadIn("fx", "0 2");
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->loaded());
  EXPECT_EQ(none->image_count(), 0);
  none->Start(0.0f);
  EXPECT_FALSE(none->Compose(1.0f).draw);
  EXPECT_EQ(none->Render(1.0f), 1);
}

TEST_F(ImageEffectTest, BadLoadArgumentsAreRejectedWithAMessageAndHoldNothing) {
  struct Case {
    const char* arguments;
    const char* message;  // nullptr: silent
  } cases[] = {
      {"-1 0.5", "the number of images cannot be negative"},
      {"-2147483648 0.5 RED", "the number of images cannot be negative"},
      {"2 0 RED BLUE", "the frame length must be a positive number"},
      {"2 -0.5 RED BLUE", "the frame length must be a positive number"},
      {"2 inf RED BLUE", "the frame length must be a positive number"},
      {"2 nan RED BLUE", "the frame length must be a positive number"},
      {"2 1e39 RED BLUE", "the frame length must be a positive number"},
      {"2 abc RED BLUE", "the frame length must be a positive number"},
      {"2", nullptr},
      {"3 0.5 RED BLUE", "Numero de ficheros es menor que el numero de imagenes que has puesto: 3 0.5 RED BLUE"},
      {"2000000000 1 RED", "Numero de ficheros es menor que el numero de imagenes que has puesto: 2000000000 1 RED"},
      {"2 0.5 RED MISSING", "Error loading data/images/MISSING"},
      {"2 0.5 RED ../RED", nullptr},  // loads: the folder part is dropped
  };
  for (const Case& c : cases) {
    messages.clear();
    core::ResetRuntimeMessages();
    auto image = LoadIn("fx", c.arguments);
    if (std::string(c.arguments) == "2 0.5 RED ../RED") {
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->texture(0), image->texture(1));
      continue;
    }
    EXPECT_EQ(image, nullptr) << c.arguments;
    if (c.message) {
      ASSERT_EQ(messages.size(), 1u) << c.arguments;
      EXPECT_THAT(messages[0], HasSubstr(c.message));
    } else {
      EXPECT_TRUE(messages.empty()) << c.arguments;
    }
    EXPECT_EQ(fx::ImageTextureCount(), 0) << c.arguments;  // a partial load gives its pictures back
  }
}

TEST_F(ImageEffectTest, SlideShowStepsEveryFrameLengthAndBlankSlotsShowNothing) {
  auto image = LoadIn("fx", "3 0.5 RED _ BLUE");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  struct Step {
    float time;
    int32_t slot;
    bool draw;
  } steps[] = {{0.0f, 0, true},  {0.49f, 0, true}, {0.5f, 1, false}, {0.99f, 1, false},
               {1.0f, 2, true},  {1.49f, 2, true}, {1.5f, 0, true},  {2.2f, 1, false},
               {2.6f, 2, true}};
  for (const Step& s : steps) {
    fx::ImageFrame frame = image->Compose(s.time);
    EXPECT_EQ(frame.image, s.slot) << s.time;
    EXPECT_EQ(frame.draw, s.draw) << s.time;
    if (frame.draw) {
      EXPECT_EQ(frame.texture, image->texture(s.slot));
    }
  }
}

TEST_F(ImageEffectTest, QuarterSecondFramesShowImageFourModCountAfterOnePointOneSeconds) {
  auto five = LoadIn("fx", "5 0.25 RED GREEN BLUE RED GREEN");
  auto three = LoadIn("fx", "3 0.25 RED GREEN BLUE");
  ASSERT_TRUE(five && three);
  five->Start(2.0f);
  three->Start(2.0f);
  EXPECT_EQ(five->Compose(3.1f).image, 4);
  EXPECT_EQ(three->Compose(3.1f).image, 1);
}

TEST_F(ImageEffectTest, CurrentSlotStaysInRangeForAnyTime) {
  auto image = LoadIn("fx", "3 0.5 RED GREEN BLUE");
  auto tiny = LoadIn("fx", "2 1e-30 RED GREEN");
  ASSERT_TRUE(image && tiny);
  image->Start(10.0f);
  tiny->Start(0.0f);
  for (float t : {9.9f, 9.4f, 3.0f, -7.3f, 1e30f, -1e30f, 1e-30f, 5e6f, -3.4e38f, 3.4e38f}) {
    for (fx::ImageEffect* e : {image.get(), tiny.get()}) {
      fx::ImageFrame frame = e->Compose(t);
      EXPECT_GE(frame.image, 0) << t;
      EXPECT_LT(frame.image, e->image_count()) << t;
    }
  }
  // Before the start the show runs backwards, one frame length per slot.
  EXPECT_EQ(image->Compose(9.9f).image, 2);
  EXPECT_EQ(image->Compose(9.4f).image, 1);
  EXPECT_FALSE(image->Compose(std::nanf("")).draw);
}

TEST_F(ImageEffectTest, ZoomInTemplateShrinksToNothingInOneSecondAndKeepsDrawing) {
  auto image = LoadIn("fx", "1 10 RED");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  EXPECT_EQ(image->Command(2.0f, "ZOOM 1.0 -1.0"), 0);
  EXPECT_FLOAT_EQ(image->Compose(2.0f).zoom, 1.0f);
  EXPECT_FLOAT_EQ(image->Compose(2.25f).zoom, 0.75f);
  EXPECT_FLOAT_EQ(image->Compose(3.0f).zoom, 0.0f);
  fx::ImageFrame later = image->Compose(5.0f);
  EXPECT_TRUE(later.draw);
  EXPECT_EQ(later.zoom, 0.0f);
  EXPECT_EQ(image->Command(6.0f, "ZOOM 1.0  1.0"), 0);
  EXPECT_FLOAT_EQ(image->Compose(7.5f).zoom, 2.5f);
  // Missing numbers read as 1.0.
  EXPECT_EQ(image->Command(8.0f, "ZOOM"), 0);
  EXPECT_FLOAT_EQ(image->Compose(9.0f).zoom, 2.0f);
}

TEST_F(ImageEffectTest, TimedFadesWithZeroDurationAreInstant) {
  auto image = LoadIn("fx", "1 10 RED");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  EXPECT_EQ(image->Compose(1.0f).colour, 0xFFFFFFFFu);

  image->Command(2.0f, "FADEIN 0");
  fx::ImageFrame in = image->Compose(2.0f);
  EXPECT_TRUE(in.draw);
  EXPECT_EQ(in.fade, 1.0f);
  EXPECT_EQ(in.colour, 0xFFFFFFFFu);
  image->Command(2.0f, "FADEOUT 0");
  EXPECT_FALSE(image->Compose(2.0f).draw);

  image->Command(1.0f, "FADEIN 2");
  EXPECT_FALSE(image->Compose(0.5f).draw);  // before the fade began
  EXPECT_FALSE(image->Compose(1.0f).draw);
  fx::ImageFrame half = image->Compose(2.0f);
  EXPECT_FLOAT_EQ(half.fade, 0.5f);
  EXPECT_EQ(half.colour, 0x7F7F7F7Fu);
  EXPECT_EQ(image->Compose(9.0f).colour, 0xFFFFFFFFu);

  image->Command(1.0f, "FADEOUT 2");
  EXPECT_EQ(image->Compose(1.5f).colour, 0xBFBFBFBFu);
  EXPECT_FALSE(image->Compose(3.0f).draw);
  // Alpha invert turns the fade around.
  image->Command(1.0f, "ALPHAINVERT ON");
  EXPECT_EQ(image->Compose(1.5f).colour, 0x3F3F3F3Fu);
  EXPECT_EQ(image->Compose(3.0f).colour, 0xFFFFFFFFu);
  image->Command(1.0f, "ALPHAINVERT OFF");
  EXPECT_EQ(image->Compose(1.5f).colour, 0xBFBFBFBFu);
  // Missing duration: one second.
  image->Command(4.0f, "FADEIN");
  EXPECT_EQ(image->Compose(4.5f).colour, 0x7F7F7F7Fu);
  // FADESOUNDSYNC OFF ends plain fades too; alpha invert alone hides.
  image->Command(4.0f, "FADESOUNDSYNC OFF");
  EXPECT_EQ(image->Compose(4.5f).colour, 0xFFFFFFFFu);
  image->Command(4.0f, "ALPHAINVERT ON");
  EXPECT_FALSE(image->Compose(4.5f).draw);
}

TEST_F(ImageEffectTest, RawSoundFadeFollowsTheSpectrumLevelAndClampsFrequencies) {
  auto image = LoadIn("fx", "1 10 RED");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  StartPushedSound();
  SoundFrame(100);  // a full-scale sine on bin 100 reads about 1.0

  image->Command(0.0f, "FADESOUNDSYNC RAW 0.3 0.3 0 1");  // equal amplitudes
  fx::ImageFrame equal = image->Compose(1.0f);
  EXPECT_TRUE(equal.draw);
  EXPECT_EQ(equal.fade, 1.0f);
  EXPECT_EQ(equal.colour, 0xFFFFFFFFu);

  image->Command(0.0f, "FADESOUNDSYNC RAW 0 2 0 1");
  EXPECT_NEAR(image->Compose(1.0f).fade, 0.5f, 0.02f);
  image->Command(0.0f, "FADESOUNDSYNC RAW 0 0.5 0 1");  // level above the end: full
  EXPECT_EQ(image->Compose(1.0f).fade, 1.0f);
  image->Command(0.0f, "FADESOUNDSYNC RAW 0 2 0.2 1");  // bin 100 outside 204..1022
  EXPECT_LT(image->Compose(1.0f).fade, 0.01f);
  EXPECT_EQ(image->Compose(1.0f).colour & 0xFF000000u, 0u);
  image->Command(0.0f, "FADESOUNDSYNC RAW 0 2 -5 9");  // frequencies clamped to 0..1
  EXPECT_EQ(image->raw_start_frequency(), 0.0f);
  EXPECT_EQ(image->raw_end_frequency(), 1.0f);
  EXPECT_NEAR(image->Compose(1.0f).fade, 0.5f, 0.02f);
  image->Command(0.0f, "FADESOUNDSYNC RAW 0 2 1 0");  // an empty band: level 0
  EXPECT_FALSE(image->Compose(1.0f).draw);

  SoundFrame(-1);
  SoundFrame(-1);  // 2048 samples of silence
  image->Command(0.0f, "FADESOUNDSYNC RAW 0 2 0 1");
  EXPECT_FALSE(image->Compose(1.0f).draw);
}

TEST_F(ImageEffectTest, BeatSoundFadeRestartsOnEachSoundSyncBeat) {
  auto image = LoadIn("fx", "1 10 RED");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  StartPushedSound();
  fx::SetSoundSyncThreshold(0.2f, 0.5f);  // bins 0..203 above 0.5
  image->Command(0.0f, "FADESOUNDSYNC BEAT 1");

  SoundFrame(100);
  fx::ImageFrame beat = image->Compose(5.0f);
  EXPECT_TRUE(beat.draw);
  EXPECT_EQ(beat.colour, 0xFFFFFFFFu);
  SoundFrame(-1);
  SoundFrame(-1);
  EXPECT_NEAR(image->Compose(5.5f).fade, 0.5f, 1e-6f);
  EXPECT_FALSE(image->Compose(6.5f).draw);

  // Duration 0: an instant fade, shown only on the beat itself.
  image->Command(0.0f, "FADESOUNDSYNC BEAT 0");
  SoundFrame(100);
  EXPECT_EQ(image->Compose(7.0f).fade, 1.0f);
  SoundFrame(-1);
  SoundFrame(-1);
  EXPECT_FALSE(image->Compose(7.1f).draw);
  // A plain fade command ends the beat fade.
  image->Command(0.0f, "FADEIN 0");
  EXPECT_TRUE(image->Compose(7.2f).draw);
}

TEST_F(ImageEffectTest, CommandsSetPositionsVelocityBlendAndLayer) {
  auto image = LoadIn("fx", "3 1 RED GREEN BLUE");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  EXPECT_EQ(image->Command(0.0f, "POSITIONALL 5 6"), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(image->position_x(i), 5.0f);
    EXPECT_EQ(image->position_y(i), 6.0f);
  }
  EXPECT_EQ(image->Command(0.0f, "POSITION 0 10 20"), 0);
  EXPECT_EQ(image->Command(0.0f, "POSITION\t2\t30"), 0);  // tabs split; missing y reads 1.0
  EXPECT_EQ(image->position_x(2), 30.0f);
  EXPECT_EQ(image->position_y(2), 1.0f);
  EXPECT_EQ(image->Command(0.0f, "POSITION"), 0);  // index 1, at (1, 1)
  EXPECT_EQ(image->position_x(1), 1.0f);

  // VELOCITY first moves everything by the old velocity since the last base.
  EXPECT_EQ(image->Command(1.0f, "VELOCITY 4 2"), 0);
  fx::ImageFrame moving = image->Compose(0.5f + 2.0f);  // slot 2 at t = 2.5
  EXPECT_EQ(moving.image, 2);
  EXPECT_FLOAT_EQ(moving.x, 30.0f + 1.5f * 4.0f);
  EXPECT_FLOAT_EQ(moving.y, 1.0f + 1.5f * 2.0f);
  EXPECT_EQ(image->Command(2.0f, "VELOCITY 0 0"), 0);
  EXPECT_FLOAT_EQ(image->position_x(0), 14.0f);
  EXPECT_FLOAT_EQ(image->position_y(0), 22.0f);
  EXPECT_FLOAT_EQ(image->Compose(6.0f).x, 14.0f);  // slot 0 again, standing

  const std::pair<const char*, int32_t> blends[] = {
      {"BLEND ADDITIVE", fx::kImageBlendAdditive}, {"BLEND SUBSTRACTIVE", fx::kImageBlendSubtractive},
      {"BLEND MULTIPLY", fx::kImageBlendMultiply}, {"BLEND INVERT", fx::kImageBlendInvert},
      {"BLEND NORMAL", fx::kImageBlendNormal},     {"BLEND INVERT", fx::kImageBlendInvert},
      {"BLEND SUBTRACTIVE", fx::kImageBlendNormal}, {"BLEND", fx::kImageBlendNormal}};
  for (const auto& [command, mode] : blends) {
    EXPECT_EQ(image->Command(0.0f, command), 0);
    EXPECT_EQ(image->blend_mode(), mode) << command;
  }

  EXPECT_EQ(image->Command(0.0f, "LAYER 12"), 0);
  EXPECT_EQ(image->Layer(), 12);
  EXPECT_EQ(image->Command(0.0f, "LOAD 1 1 GREEN"), 0);  // accepted, ignored
  EXPECT_EQ(image->Command(0.0f, "SOMETHING ELSE"), 0);
  EXPECT_EQ(image->Command(0.0f, ""), 0);
  EXPECT_EQ(image->image_count(), 3);
}

TEST_F(ImageEffectTest, ResetBringsBackTheJustLoadedLook) {
  auto image = LoadIn("fx", "2 1 RED GREEN");
  ASSERT_NE(image, nullptr);
  image->Start(0.0f);
  for (const char* command : {"POSITIONALL 50 60", "VELOCITY 3 4", "BLEND ADDITIVE", "ZOOM 2 1", "FADEOUT 5",
                              "ALPHAINVERT ON"}) {
    image->Command(0.0f, command);
  }
  image->Command(0.0f, "FADESOUNDSYNC RAW 0 1 0 1");
  EXPECT_EQ(image->Reset(), 0);
  image->Start(0.0f);
  fx::ImageFrame frame = image->Compose(1.5f);
  EXPECT_TRUE(frame.draw);
  EXPECT_EQ(frame.image, 1);
  EXPECT_EQ(frame.x, 0.0f);
  EXPECT_EQ(frame.y, 0.0f);
  EXPECT_EQ(frame.zoom, 1.0f);
  EXPECT_EQ(frame.colour, 0xFFFFFFFFu);
  EXPECT_EQ(image->blend_mode(), fx::kImageBlendNormal);
  EXPECT_EQ(image->velocity_x(), 0.0f);
  EXPECT_EQ(image->position_x(1), 0.0f);
  EXPECT_EQ(image->frame_length(), 1.0f);
  EXPECT_EQ(image->image_count(), 2);
}

TEST_F(ImageEffectTest, ReplayedVelocityDoesNotDriftFromFrameToFrame) {
  core::PushBaseFolder("fx");
  fx::FxScript script;
  Load(script,
       "FXINSTANCE S IMAGE 2 1 RED GREEN\n"
       "FXSTART S\n"
       "FXCOMMAND S VELOCITY 10 0\n"
       "SYNCTIME 1\n"
       "FXCOMMAND S VELOCITY 0 0\n"
       "SYNCTIME 100\n");
  core::PopBaseFolder();
  auto* image = dynamic_cast<fx::ImageEffect*>(script.FindInstance("S"));
  ASSERT_NE(image, nullptr);
  for (int frame = 0; frame < 5; ++frame) {
    Frame(script, 1.5f);
    EXPECT_FLOAT_EQ(image->position_x(1), 10.0f) << frame;
    EXPECT_FLOAT_EQ(image->Compose(1.5f).x, 10.0f) << frame;
  }
}

TEST_F(ImageEffectTest, PositionOutOfRangeChangesNothingAndIsReportedOnceToTheLog) {
  core::MarkStartupFinished(false);  // even during start-up: never a modal box
  auto image = LoadIn("fx", "3 1 RED GREEN BLUE");
  ASSERT_NE(image, nullptr);
  image->Command(0.0f, "POSITIONALL 7 8");
  for (int frame = 0; frame < 3; ++frame) {
    core::ResetRuntimeMessages();  // not the sink's 5 s memory: the effect's own
    EXPECT_EQ(image->Command(0.0f, "POSITION 5 10 10"), 0);
    EXPECT_EQ(image->Command(0.0f, "POSITION -1 10 10"), 0);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(image->position_x(i), 7.0f);
    EXPECT_EQ(image->position_y(i), 8.0f);
  }
  EXPECT_THAT(messages, ::testing::ElementsAre("Estas pasando un frame fuera de rango: POSITION 5 10 10",
                                               "Estas pasando un frame fuera de rango: POSITION -1 10 10"));

  // Without an index the index is 1: out of range for a single image.
  messages.clear();
  auto single = LoadIn("fx", "1 1 RED");
  ASSERT_NE(single, nullptr);
  EXPECT_EQ(single->Command(0.0f, "POSITION"), 0);
  EXPECT_EQ(single->position_x(0), 0.0f);
  EXPECT_THAT(messages, ::testing::ElementsAre("Estas pasando un frame fuera de rango: POSITION"));
}

TEST_F(ImageEffectTest, ScriptReplayReportsTheRangeOnceAndNoCommandFailure) {
  core::PushBaseFolder("fx");
  fx::FxScript script;
  Load(script,
       "FXINSTANCE S IMAGE 2 1 RED GREEN\n"
       "FXSTART S\n"
       "FXCOMMAND S POSITION 9 1 1\n"
       "SYNCTIME 100\n");
  core::PopBaseFolder();
  for (int frame = 0; frame < 4; ++frame) {
    core::ResetRuntimeMessages();
    Frame(script, 0.1f * static_cast<float>(frame));
  }
  EXPECT_THAT(messages, ::testing::ElementsAre("Estas pasando un frame fuera de rango: POSITION 9 1 1"));
}

TEST_F(ImageEffectTest, InstancesShareAFileAndGiveItBackWithTheLastReference) {
  auto a = LoadIn("fx", "2 1 RED GREEN");
  auto b = LoadIn("fx", "1 1 red");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->texture(0), b->texture(0));
  fx::ImageTextureInfo info;
  ASSERT_TRUE(fx::GetImageTextureInfo(a->texture(0), &info));
  EXPECT_EQ(info.references, 2);
  EXPECT_THAT(info.key, HasSubstr("/fx/data/images/RED"));
  EXPECT_EQ(fx::ImageTextureCount(), 2);

  // Reloading over and over never piles pictures up.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(b->Reload("2 1 BLUE GREEN"), -1);  // outside its folder now
  EXPECT_EQ(fx::ImageTextureCount(), 2);
  for (int i = 0; i < 5; ++i) {
    core::PushBaseFolder("fx");
    ASSERT_EQ(b->Reload("2 1 BLUE GREEN"), 0);
    core::PopBaseFolder();
  }
  EXPECT_EQ(fx::ImageTextureCount(), 3);
  ASSERT_TRUE(fx::GetImageTextureInfo(a->texture(1), &info));
  EXPECT_EQ(info.references, 2);
  ASSERT_TRUE(fx::GetImageTextureInfo(a->texture(0), &info));
  EXPECT_EQ(info.references, 1);
  b.reset();
  EXPECT_EQ(fx::ImageTextureCount(), 2);
  ASSERT_TRUE(fx::GetImageTextureInfo(a->texture(1), &info));
  EXPECT_EQ(info.references, 1);
  const int textures_before = render::TextureCount();
  EXPECT_EQ(a->Unload(), 0);
  EXPECT_EQ(fx::ImageTextureCount(), 0);
  EXPECT_EQ(render::TextureCount(), textures_before - 2);  // one tile each
  EXPECT_FALSE(a->Compose(0.0f).draw);
}

TEST_F(ImageEffectTest, ShutdownReleasesEverythingAndStaleHoldersLeaveNewPicturesAlone) {
  const int textures_before = render::TextureCount();
  auto old_holder = LoadIn("fx", "1 1 RED");
  ASSERT_NE(old_holder, nullptr);
  EXPECT_EQ(render::TextureCount(), textures_before + 1);
  fx::ShutdownImageManager();
  EXPECT_FALSE(fx::ImageManagerRunning());
  EXPECT_EQ(fx::ImageTextureCount(), 0);
  EXPECT_EQ(render::TextureCount(), textures_before);
  EXPECT_EQ(LoadIn("fx", "1 1 RED"), nullptr);  // no manager: "Error loading"
  EXPECT_EQ(CountMessagesWith("Error loading data/images/RED"), 1);

  ASSERT_EQ(fx::StartImageManager(), 0);
  auto new_holder = LoadIn("fx", "1 1 RED");
  ASSERT_NE(new_holder, nullptr);
  // The same slot again, under a new id: the old holder's id names nothing.
  EXPECT_EQ(core::PoolIndex(new_holder->texture(0)), core::PoolIndex(old_holder->texture(0)));
  EXPECT_NE(new_holder->texture(0), old_holder->texture(0));
  fx::ImageTextureInfo info;
  EXPECT_FALSE(fx::GetImageTextureInfo(old_holder->texture(0), &info));
  old_holder.reset();
  ASSERT_TRUE(fx::GetImageTextureInfo(new_holder->texture(0), &info));
  EXPECT_EQ(info.references, 1);
  new_holder->Start(0.0f);
  EXPECT_TRUE(new_holder->Compose(0.0f).draw);
}

TEST_F(ImageEffectTest, ImageManagerNeedsTheRenderLayer) {
  fx::ShutdownImageManager();
  fx::ShutdownImageManager();  // twice is harmless
  render::ShutdownRenderLayer();
  EXPECT_EQ(fx::StartImageManager(), -1);
  EXPECT_FALSE(fx::ImageManagerRunning());
  EXPECT_EQ(fx::LoadImageTexture("fx/data/images/RED"), -1);
  ASSERT_EQ(render::InitRenderLayer(), 0);
  ASSERT_EQ(fx::StartImageManager(), 0);
  int id = fx::LoadImageTexture("fx/data/images/RED");
  EXPECT_GE(id, 0);
  EXPECT_EQ(fx::LoadImageTexture("FX/DATA/IMAGES/red"), id);  // one file, one picture
  EXPECT_EQ(fx::LoadImageTexture("fx/data/images/../images/RED"), id);
  fx::ImageTextureInfo info;
  ASSERT_TRUE(fx::GetImageTextureInfo(id, &info));
  EXPECT_EQ(info.references, 3);
  fx::ReleaseImageTexture(id);
  fx::ReleaseImageTexture(id);
  fx::ReleaseImageTexture(-1);
  fx::ReleaseImageTexture(99);
  EXPECT_EQ(fx::ImageTextureCount(), 1);
  fx::ReleaseImageTexture(id);
  EXPECT_EQ(fx::ImageTextureCount(), 0);
  EXPECT_FALSE(fx::GetImageTextureInfo(id, &info));
  fx::ReleaseImageTexture(id);  // already gone: ignored
  // Loading again reuses the slot under a new id, which the old one
  // cannot give back.
  int again = fx::LoadImageTexture("fx/data/images/RED");
  EXPECT_EQ(core::PoolIndex(again), core::PoolIndex(id));
  EXPECT_NE(again, id);
  fx::ReleaseImageTexture(id);
  ASSERT_TRUE(fx::GetImageTextureInfo(again, &info));
  EXPECT_EQ(info.references, 1);
  EXPECT_FALSE(fx::GetImageTextureInfo(id, &info));
}

}  // namespace

// The SOUNDSYNCER effect: loading, its template tables, its commands and
// their quirks, and what it draws on the headless display device from
// samples pushed into the sound layer under an injected clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"
#include "tests/fx/sound_fixture.h"
#include "tests/support/support.h"

namespace {

using fx_test::BinSine;

constexpr uint32_t kWidth = 512;
constexpr uint32_t kHeight = 256;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;

// Where the display puts the threshold marker: the vertical line over the
// end of the examined bins (on the curve's scale of 512 bins per width) and
// the horizontal line at the amplitude.
int MarkerColumn(float peak) { return static_cast<int>(peak * 1024.0f) * static_cast<int>(kWidth) / 512; }
int LevelRow(float amplitude) { return static_cast<int>(std::lround(kHeight - 0.5f * kHeight * amplitude)); }

// Classes for "SETINPUT": one without a sound of its own, one with.
class Quiet final : public fx::FxInstance {
 public:
  int Load(const char* name, const char*) override {
    SetInstanceName(name);
    return 0;
  }
  const char* GetName() const override { return "QUIET"; }
  const char* GetDescription() const override { return "Plays nothing"; }
};
class Music final : public fx::FxInstance {
 public:
  static constexpr fx::SoundChannel kChannel = 7;
  int Load(const char* name, const char*) override {
    SetInstanceName(name);
    return 0;
  }
  fx::SoundChannel OfferedSoundChannel() const override { return kChannel; }
  const char* GetName() const override { return "MUSIC"; }
  const char* GetDescription() const override { return "Plays its own sound"; }
};
fx::FxInstance* CreateQuiet(const fx::FxClass&) { return fx::NewInstance<Quiet>(); }
fx::FxInstance* CreateMusic(const fx::FxClass&) { return fx::NewInstance<Music>(); }
fx::FxClass g_quiet_class("QUIET", "Plays nothing", CreateQuiet);
fx::FxClass g_music_class("MUSIC", "Plays its own sound", CreateMusic);

class SoundSyncerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(render::InitDirect3DFrom(0, render::HeadlessAdapterInfo(), render::DisplayBackend::kHeadless), 0);
    ASSERT_EQ(render::SelectDisplayMode(nullptr, kWidth, kHeight, 32, false, false, nullptr, "", false, false, false,
                                        false, false),
              0);
  }
  static void TearDownTestSuite() {
    render::ReleaseDevice();
    render::ReleaseDirect3D();
  }

  void SetUp() override {
    fx::RegisterEffectClasses();
    fx::RegisterFxClass(&g_quiet_class);
    fx::RegisterFxClass(&g_music_class);
    core::SetProgramClock(&clock_);
    core::StartFileLayer(dir_.path());
    core::ResetRuntimeMessages();
    core::MarkStartupFinished(true);
    core::SetMessageListener([this](const std::string& text) { messages_.push_back(text); });
    trace_path_ = dir_ / "trace.txt";
    core::SetTraceFile(trace_path_.c_str());
    device_ = render::GetDevice();
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(device_->Reset(device_->GetPresentParameters()), 0);
    render::ApplyDefaultStates();
    ASSERT_EQ(render::InitRenderLayer(nullptr), 0);
    ASSERT_EQ(render::InitShaderSystem(), 0);
    auto source = std::make_unique<fx::PushedAudioSource>();
    input_ = source.get();
    fx::StartSound(std::move(source));
    fx::SetEffectTime(0.0f);
  }
  void TearDown() override {
    script_.Close();
    fx::StopSound();
    render::ShutdownShaderSystem();
    render::ShutdownRenderLayer();
    core::SetTraceFile(nullptr);
    core::SetMessageListener(nullptr);
    core::MarkStartupFinished(false);
    core::StopFileLayer();
    core::SetProgramClock(nullptr);
    fx::UnregisterFxClass(&g_music_class);
    fx::UnregisterFxClass(&g_quiet_class);
  }

  // Opens the script (looping) and creates its instances.
  void Load(const std::string& text) {
    ASSERT_EQ(script_.Open(text.c_str(), true), 0);
    ASSERT_EQ(script_.InstantiateAll(), 0);
  }

  // One frame of the program: the input hears 4096 more samples of `signal`
  // (silence when empty), the clock moves on, and the effect is drawn at
  // `effect_time` onto a black target, which is read back into pixels_.
  void Frame(float effect_time, const std::vector<float>& signal = {}) {
    if (signal.empty()) {
      input_->PushSilence(4096);
    } else {
      std::vector<float> block(4096);
      for (size_t i = 0; i < block.size(); ++i) block[i] = signal[i % signal.size()];
      input_->Push(block.data(), block.size());
    }
    clock_.Advance(1.0 / 60.0);
    fx::BeginSoundFrame();
    device_->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER, kBlack, 1.0f, 0);
    fx::SetEffectTime(effect_time);
    script_.RenderDeck();
    ReadPixels();
  }

  void ReadPixels() {
    pixels_.clear();
    ASSERT_EQ(device_->ReadSurfacePixels(device_->GetRenderTarget().get(), &pixels_), 0);
    ASSERT_EQ(pixels_.size(), static_cast<size_t>(kWidth) * kHeight);
  }
  uint32_t At(int x, int y) const { return pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)]; }
  int Count(uint32_t color) const {
    int n = 0;
    for (uint32_t p : pixels_) n += p == color;
    return n;
  }
  bool AllBlack() const { return Count(kBlack) == static_cast<int>(pixels_.size()); }

  // The marker in `color`: the vertical line from the bottom edge up to the
  // level row in column `column`, the level row from the left edge to it,
  // and nothing else of that colour. Line ends may or may not be lit.
  void ExpectMarker(uint32_t color, int column, int row) {
    for (int y = row + 2; y < static_cast<int>(kHeight) - 1; ++y) EXPECT_EQ(At(column, y), color) << "row " << y;
    for (int x = 1; x < column - 1 && x < static_cast<int>(kWidth); ++x)
      EXPECT_EQ(At(x, row), color) << "column " << x;
    for (int y = 0; y < static_cast<int>(kHeight); ++y)
      for (int x = 0; x < static_cast<int>(kWidth); ++x)
        if (At(x, y) == color && x != column && y != row) {
          ADD_FAILURE() << "stray marker pixel at " << x << "," << y;
          return;
        }
  }

  // The highest white pixel of the curve (smallest row), as {column, row};
  // {-1, -1} when there is none.
  std::pair<int, int> CurveTop() const {
    for (int y = 0; y < static_cast<int>(kHeight); ++y)
      for (int x = 0; x < static_cast<int>(kWidth); ++x)
        if (At(x, y) == kWhite) return {x, y};
    return {-1, -1};
  }
  // White pixels above `row` outside columns first..last.
  int WhiteAboveOutside(int row, int first, int last) const {
    int n = 0;
    for (int y = 0; y < row; ++y)
      for (int x = 0; x < static_cast<int>(kWidth); ++x) n += (x < first || x > last) && At(x, y) == kWhite;
    return n;
  }

  fx::FxInstance* Named(const char* name) const { return script_.FindInstance(name); }

  testing_support::TempDir dir_;
  std::string trace_path_;
  core::ManualClock clock_;
  std::vector<std::string> messages_;
  render::Device* device_ = nullptr;
  fx::PushedAudioSource* input_ = nullptr;
  fx::FxScript script_;
  std::vector<uint32_t> pixels_;
};

// ---------------------------------------------------------------------------
// Loading and templates
// ---------------------------------------------------------------------------

TEST_F(SoundSyncerTest, LoadKeepsTheNameIgnoresTheArgumentsAndTheTablesHoldTheirTexts) {
  const fx::FxClass* record = fx::FindClass("SOUNDSYNCER");
  ASSERT_NE(record, nullptr);
  std::unique_ptr<fx::FxInstance> syncer = record->Create();
  ASSERT_NE(syncer, nullptr);
  EXPECT_EQ(syncer->Load("SYNC", "WHATEVER 1 2 3"), 0);
  EXPECT_STREQ(syncer->InstanceName(), "SYNC");
  EXPECT_EQ(syncer->Reload("OTHER ARGS"), 0);
  EXPECT_STREQ(syncer->InstanceName(), "SYNC");
  EXPECT_STREQ(syncer->GetName(), "SOUNDSYNCER");
  EXPECT_STREQ(syncer->GetDescription(), "Allows tuning of beatmatcher");
  // Without a sound of its own it offers the live input.
  EXPECT_EQ(syncer->OfferedSoundChannel(), fx::kRecordingSoundChannel);

  const fx::FxTemplate* rows = nullptr;
  ASSERT_EQ(syncer->GetLoadTemplates(&rows), 1);
  EXPECT_STREQ(rows[0].text, "");
  EXPECT_STREQ(rows[0].help, "Load the sound syncer");

  ASSERT_EQ(syncer->GetCommandTemplates(&rows), 4);
  EXPECT_STREQ(rows[0].text, "SETINPUT namemusicfx");
  EXPECT_STREQ(rows[0].help, "Pone como stream actual el efecto de musica que pases como parametro");
  EXPECT_STREQ(rows[1].text, "BEATTHRESHOLD Peak Amplitude");
  EXPECT_STREQ(rows[1].help,
               "Peak (0 - 1) frecuencia maxima que se mira para el beat\n"
               "Amplitude (0 - 1) amplitud minima para beat");
  EXPECT_STREQ(rows[2].text, "DRAW ON");
  EXPECT_STREQ(rows[2].help, "DRAW GRAPH");
  EXPECT_STREQ(rows[3].text, "DRAW OFF");
  EXPECT_STREQ(rows[3].help, "DONT DRAW GRAPH");
  EXPECT_EQ(syncer->GetCommandTemplates(nullptr), 4);
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

TEST_F(SoundSyncerTest, BeatThresholdNeedsBothNumbersAndLayerStillWorks) {
  std::unique_ptr<fx::FxInstance> syncer = fx::FindClass("SOUNDSYNCER")->Create();
  ASSERT_EQ(syncer->Load("SYNC", ""), 0);
  auto threshold = [] {
    float peak = -1.0f, amplitude = -1.0f;
    fx::GetSoundSyncThreshold(&peak, &amplitude);
    return std::make_pair(peak, amplitude);
  };
  EXPECT_EQ(threshold(), std::make_pair(0.0f, 1.0f));

  EXPECT_EQ(syncer->Command(0.0f, "BEATTHRESHOLD 0.3"), 0);
  EXPECT_EQ(threshold(), std::make_pair(0.0f, 1.0f));
  EXPECT_EQ(syncer->Command(0.0f, "BEATTHRESHOLD"), 0);
  EXPECT_EQ(syncer->Command(0.0f, "BEATTHRESHOLD 0.3   \t"), 0);
  EXPECT_EQ(syncer->Command(0.0f, "BEATTHRESHOLDS 0.3 0.4"), 0);  // a whole word only
  EXPECT_EQ(threshold(), std::make_pair(0.0f, 1.0f));

  EXPECT_EQ(syncer->Command(0.0f, " BEATTHRESHOLD\t0.25 \t 0.75"), 0);
  EXPECT_EQ(threshold(), std::make_pair(0.25f, 0.75f));
  EXPECT_EQ(syncer->Command(0.0f, "BEATTHRESHOLD 0.5 0.125 MORE"), 0);
  EXPECT_EQ(threshold(), std::make_pair(0.5f, 0.125f));
  // Words that are no numbers read as 0.
  EXPECT_EQ(syncer->Command(0.0f, "BEATTHRESHOLD X 0.5"), 0);
  EXPECT_EQ(threshold(), std::make_pair(0.0f, 0.5f));

  // The base's LAYER comes first; the class ignores it.
  EXPECT_EQ(syncer->Command(0.0f, "LAYER 12"), 0);
  EXPECT_EQ(syncer->Layer(), 12);
  EXPECT_EQ(threshold(), std::make_pair(0.0f, 0.5f));
  // Anything else is accepted and changes nothing.
  EXPECT_EQ(syncer->Command(0.0f, "UNKNOWN 1 2"), 0);
  EXPECT_EQ(syncer->Command(0.0f, ""), 0);
  EXPECT_EQ(syncer->Command(0.0f, nullptr), 0);
  EXPECT_EQ(threshold(), std::make_pair(0.0f, 0.5f));
}

TEST_F(SoundSyncerTest, SetInputTakesTheChannelAnInstanceOfTheSameEffectOffers) {
  // Without an owner (not in a script) nothing can be found.
  std::unique_ptr<fx::FxInstance> loose = fx::FindClass("SOUNDSYNCER")->Create();
  ASSERT_EQ(loose->Load("SYNC", ""), 0);
  EXPECT_EQ(loose->Command(0.0f, "SETINPUT SYNC"), 0);
  EXPECT_EQ(fx::GetSoundSyncChannel(), fx::kNoSoundChannel);

  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXINSTANCE PAD QUIET\n"
       "FXINSTANCE SONG MUSIC\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC SETINPUT NOSUCH\n"
       "SYNCTIME 1\n"
       "FXCOMMAND SYNC SETINPUT PAD\n"
       "SYNCTIME 2\n"
       "FXCOMMAND SYNC SETINPUT SONG\n"
       "SYNCTIME 3\n"
       "FXCOMMAND SYNC SETINPUT\n"
       "SYNCTIME 4\n");
  // A name that does not exist changes nothing (and is traced once).
  Frame(0.5f);
  Frame(0.5f);
  EXPECT_EQ(fx::GetSoundSyncChannel(), fx::kNoSoundChannel);
  core::FlushTrace();
  std::string trace = testing_support::ReadFile(trace_path_);
  size_t first = trace.find("SETINPUT names no instance NOSUCH");
  ASSERT_NE(first, std::string::npos) << trace;
  EXPECT_EQ(trace.find("SETINPUT names no instance", first + 1), std::string::npos);
  EXPECT_TRUE(messages_.empty());

  // A sibling without a sound of its own: the analysis follows the input.
  Frame(1.5f);
  EXPECT_EQ(fx::GetSoundSyncChannel(), fx::kRecordingSoundChannel);
  // One that plays its own sound hands over its channel.
  Frame(2.5f);
  EXPECT_EQ(fx::GetSoundSyncChannel(), Music::kChannel);
  // SETINPUT without a name changes nothing.
  Frame(3.5f);
  EXPECT_EQ(fx::GetSoundSyncChannel(), Music::kChannel);
  // Naming itself is the usual way.
  ASSERT_EQ(Named("SYNC")->Command(0.0f, "SETINPUT SYNC"), 0);
  EXPECT_EQ(fx::GetSoundSyncChannel(), fx::kRecordingSoundChannel);
  EXPECT_EQ(script_.Started().size(), 1u);  // Render never finishes it
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

TEST_F(SoundSyncerTest, DrawWithAnyWordIsOnDrawAloneIsOffAndEveryReplayStartsOff) {
  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC BEATTHRESHOLD 0.25 0.5\n"
       "SYNCTIME 1\n"
       "FXCOMMAND SYNC DRAW OFF\n"
       "SYNCTIME 2\n"
       "FXCOMMAND SYNC DRAW\n"
       "SYNCTIME 3\n"
       "FXCOMMAND SYNC DRAW ON\n"
       "SYNCTIME 4\n");
  const int column = MarkerColumn(0.25f), row = LevelRow(0.5f);

  Frame(0.5f);  // no DRAW yet: nothing
  EXPECT_TRUE(AllBlack());
  Frame(1.5f);  // "DRAW OFF" switches the display on
  ExpectMarker(kRed, column, row);
  Frame(2.5f);  // "DRAW" alone switches it off
  EXPECT_TRUE(AllBlack());
  Frame(3.5f);
  ExpectMarker(kRed, column, row);
  Frame(0.5f);  // the replay resets it
  EXPECT_TRUE(AllBlack());
  ASSERT_EQ(script_.Started().size(), 1u);  // drawing or not, Render returned 1

  // Render returns 1 either way when called directly.
  fx::FxInstance* sync = Named("SYNC");
  script_.Materials()->Push();
  EXPECT_EQ(sync->Reset(), 0);
  EXPECT_EQ(sync->Render(0.0f), 1);
  ASSERT_EQ(sync->Command(0.0f, "DRAW YES"), 0);
  EXPECT_EQ(sync->Render(0.0f), 1);
  script_.Materials()->Pop();
}

TEST_F(SoundSyncerTest, TheMarkerStandsAtThePeakAndAmplitudeInRedWithoutABeat) {
  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC SETINPUT SYNC\n"
       "FXCOMMAND SYNC DRAW ON\n"
       "SYNCTIME 10\n");
  struct Case {
    float peak, amplitude;
  };
  for (Case c : {Case{0.25f, 0.5f}, Case{0.125f, 0.25f}, Case{0.375f, 0.875f}}) {
    fx::SetSoundSyncThreshold(c.peak, c.amplitude);
    Frame(0.5f);  // silence: the curve lies on the bottom edge, outside
    SCOPED_TRACE(testing::Message() << "peak " << c.peak << " amplitude " << c.amplitude);
    ExpectMarker(kRed, MarkerColumn(c.peak), LevelRow(c.amplitude));
    EXPECT_EQ(Count(kGreen), 0);
    EXPECT_EQ(Count(kWhite), 0);
  }
  // A peak above one half examines bins beyond the right edge: the level
  // line runs across the whole width and the upright is off the target.
  fx::SetSoundSyncThreshold(0.75f, 0.5f);
  Frame(0.5f);
  for (int x = 1; x < static_cast<int>(kWidth); ++x) EXPECT_EQ(At(x, LevelRow(0.5f)), kRed) << x;
  EXPECT_EQ(Count(kRed), static_cast<int>(kWidth));
}

TEST_F(SoundSyncerTest, TheCurveRisesOverALoudBinAndTheMarkerTurnsGreenWhenItIsExamined) {
  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC SETINPUT SYNC\n"
       "FXCOMMAND SYNC BEATTHRESHOLD 0.125 0.5\n"
       "FXCOMMAND SYNC DRAW ON\n"
       "SYNCTIME 10\n");
  const int column = MarkerColumn(0.125f), row = LevelRow(0.5f);
  ASSERT_EQ(column, 128);  // the end of the 128 examined bins

  // {bin of the sine, beat expected}: bins below 128 are examined.
  for (auto [bin, beat] : {std::pair{100, true}, std::pair{127, true}, std::pair{130, false}, std::pair{400, false}}) {
    SCOPED_TRACE(testing::Message() << "sine on bin " << bin);
    Frame(0.5f, BinSine(bin, 2048, 0.8f, 2048));
    const float* s = fx::GetSoundSyncSpectrum(0.0);
    ASSERT_NE(s, nullptr);
    ASSERT_NEAR(s[bin], 0.8f, 0.01f);
    EXPECT_EQ(fx::LastSoundSyncBeat(), beat);

    ExpectMarker(beat ? kGreen : kRed, column, row);
    EXPECT_EQ(Count(beat ? kRed : kGreen), 0);
    // The top of the curve stands over the bin (x = bin * W / 512) at
    // y = H - H / 2 * s[bin].
    auto [x, y] = CurveTop();
    EXPECT_NEAR(x, bin * static_cast<int>(kWidth) / 512, 1);
    EXPECT_NEAR(y, kHeight - 0.5f * kHeight * s[bin], 1.0);
    EXPECT_EQ(At(bin, y), kWhite);
    // Quiet bins stay on the bottom edge.
    EXPECT_EQ(WhiteAboveOutside(kHeight - 6, bin - 3, bin + 3), 0);
  }
}

TEST_F(SoundSyncerTest, WithoutSetInputTheAnalysisStaysSilent) {
  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC BEATTHRESHOLD 0.25 0.5\n"
       "FXCOMMAND SYNC DRAW ON\n"
       "SYNCTIME 10\n");
  Frame(0.5f, BinSine(100, 2048, 0.8f, 2048));
  EXPECT_EQ(fx::GetSoundSyncChannel(), fx::kNoSoundChannel);
  EXPECT_EQ(Count(kWhite), 0);
  ExpectMarker(kRed, MarkerColumn(0.25f), LevelRow(0.5f));
}

TEST_F(SoundSyncerTest, AChannelWithoutSpectrumSkipsTheCurveButKeepsTheMarker) {
  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXINSTANCE SONG MUSIC\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC SETINPUT SONG\n"
       "FXCOMMAND SYNC BEATTHRESHOLD 0.25 0.5\n"
       "FXCOMMAND SYNC DRAW ON\n"
       "SYNCTIME 10\n");
  // The sound layer has no spectrum for another program's channel.
  Frame(0.5f, BinSine(100, 2048, 0.8f, 2048));
  EXPECT_EQ(fx::GetSoundSyncChannel(), Music::kChannel);
  EXPECT_EQ(fx::GetSoundSyncSpectrum(0.0), nullptr);
  EXPECT_EQ(Count(kWhite), 0);
  ExpectMarker(kRed, MarkerColumn(0.25f), LevelRow(0.5f));
}

TEST_F(SoundSyncerTest, DrawingGoesThroughTheNullMaterialWhateverStatesCameBefore) {
  Load("FXINSTANCE SYNC SOUNDSYNCER\n"
       "FXSTART SYNC\n"
       "FXCOMMAND SYNC SETINPUT SYNC\n"
       "FXCOMMAND SYNC BEATTHRESHOLD 0.25 0.5\n"
       "FXCOMMAND SYNC DRAW ON\n"
       "SYNCTIME 10\n");
  // States that would keep the target unchanged or paint everything blue.
  render::SetRenderStateCached(render::RS_ALPHABLENDENABLE, 1);
  render::SetRenderStateCached(render::RS_SRCBLEND, render::BLEND_ZERO);
  render::SetRenderStateCached(render::RS_DESTBLEND, render::BLEND_ONE);
  render::SetRenderStateCached(render::RS_TEXTUREFACTOR, 0xFF0000FFu);
  render::SetStageStateCached(0, render::TSS_COLOROP, render::TOP_SELECTARG1);
  render::SetStageStateCached(0, render::TSS_COLORARG1, render::TA_TFACTOR);
  render::SetRenderStateCached(render::RS_ZFUNC, render::CMP_NEVER);
  Frame(0.5f, BinSine(300, 2048, 0.8f, 2048));
  ExpectMarker(kRed, MarkerColumn(0.25f), LevelRow(0.5f));
  EXPECT_EQ(CurveTop().first, 300);

  // With no material library current there is nothing to draw with: the
  // instance draws nothing rather than with stray states, and goes on.
  device_->Clear(0, nullptr, render::CLEAR_TARGET, kBlack, 1.0f, 0);
  ASSERT_EQ(render::CurrentShaderManager(), nullptr);
  EXPECT_EQ(Named("SYNC")->Render(0.5f), 1);
  ReadPixels();
  EXPECT_TRUE(AllBlack());
}

}  // namespace

namespace {

// A single loud bin lights exactly the band whose bin range holds it; bin 0
// (the constant part) and bins from 512 on belong to no band.
TEST(SoundSyncBands, ALoudBinLightsTheBandHoldingIt) {
  struct Case {
    int bin;
    int band;  // -1: none
  };
  const Case cases[] = {{0, -1}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {6, 3}, {7, 4},
                        {316, 11}, {317, 12}, {511, 12}, {512, -1}, {1023, -1}};
  for (const Case& c : cases) {
    std::vector<float> spectrum(fx::kSoundSyncSpectrumSize, 0.01f);
    spectrum[c.bin] = 0.9f;
    float bands[13];
    std::fill(std::begin(bands), std::end(bands), -1.0f);
    fx::SpectrumBands(spectrum.data(), fx::kSoundSyncSpectrumSize, bands, 13);
    for (int b = 0; b < 13; ++b) EXPECT_FLOAT_EQ(bands[b], b == c.band ? 0.9f : 0.01f) << c.bin << " band " << b;
  }
}

}  // namespace

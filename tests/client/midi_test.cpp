// MIDI in the Client: what each message does through the map, learning and
// forgetting, the stored form, and the window driving panels against a
// stand-in Server from a MIDI input the test feeds.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/core.h"
#include "client/midi_map.h"
#include "client/window.h"
#include "fx/timing.h"
#include "tests/client/panel_fixture.h"
#include "tests/support/support.h"

namespace {

using client::MidiAction;
using client::MidiControl;
using client::MidiMap;
using client::MidiTarget;
using client_test::Barrier;
using client_test::CountReceived;
using client_test::Pump;
using client_test::RealUpdates;
using client_test::TestServer;

control::MidiMessage Msg(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0) {
  control::MidiMessage message;
  message.status = status;
  message.data1 = data1;
  message.data2 = data2;
  message.size = status >= 0xF0 ? 1 : (status & 0xF0) == 0xC0 ? 2 : 3;
  return message;
}
control::MidiMessage Cc(int channel, int number, int value) {
  return Msg(static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(number), static_cast<uint8_t>(value));
}
control::MidiMessage NoteOn(int channel, int note, int velocity) {
  return Msg(static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note), static_cast<uint8_t>(velocity));
}
control::MidiMessage Program(int channel, int program) {
  return Msg(static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(program));
}

// A map with: fader 1 on CC 7, speed 3 on CC 1 (14-bit capable), tap on
// note 36 of channel 10, beat off on CC 64, page on program changes, key Q
// on note 40, mixer 2 on note 41 (a button steps it).
MidiMap ExampleMap() {
  MidiMap map;
  EXPECT_EQ(map.Load("fader 0 cc 0 7;speed 2 cc 0 1;tap 0 note 9 36;beatoff 0 cc 0 64;page 0 program 0 0;"
                     "key 16 note 0 40;mixer 1 note 0 41"),
            0);
  return map;
}

std::string Describe(const std::vector<MidiAction>& actions) {
  std::string text;
  for (const MidiAction& action : actions) {
    if (!text.empty()) text += ", ";
    text += client::MidiControlName(action.control);
    switch (action.kind) {
      case MidiAction::Kind::kValue: text += core::FormatString(" = %.5f", action.value); break;
      case MidiAction::Kind::kPress: text += " pressed"; break;
      case MidiAction::Kind::kSelect: text += core::FormatString(" -> %d", action.number); break;
    }
  }
  return text;
}

TEST(MidiMap, EachMessageReachesItsControl) {
  struct Case {
    const char* what;
    std::vector<control::MidiMessage> messages;
    std::string actions;
  };
  const std::vector<Case> cases = {
      {"CC 0..127 is 0..1", {Cc(0, 7, 0), Cc(0, 7, 127), Cc(0, 7, 64)},
       "DECK 1 FADER = 0.00000, DECK 1 FADER = 1.00000, DECK 1 FADER = 0.50394"},
      {"14-bit pair: the fine half refines the coarse value", {Cc(0, 1, 64), Cc(0, 33, 1)},
       "DECK 3 SPEED = 0.50394, DECK 3 SPEED = 0.50009"},
      {"a fine half alone means nothing", {Cc(0, 39, 5)}, ""},
      {"another channel is another control", {Cc(1, 7, 100)}, ""},
      {"note-on presses, velocity 0 and note-off do not", {NoteOn(9, 36, 100), NoteOn(9, 36, 0), Msg(0x89, 36, 64)},
       "TAP pressed"},
      {"a CC button presses on rising above 63",
       {Cc(0, 64, 100), Cc(0, 64, 120), Cc(0, 64, 10), Cc(0, 64, 64), Cc(0, 64, 63)},
       "BEAT OFF pressed, BEAT OFF pressed"},
      {"program changes 0-9 choose the page", {Program(0, 3), Program(0, 12), Program(0, 0)},
       "PAGE -> 3, PAGE -> 0"},
      {"a note on a choice steps it", {NoteOn(0, 41, 1)}, "DECK 2 MIXER pressed"},
      {"a key", {NoteOn(0, 40, 90)}, "KEY Q pressed"},
      {"clock and unbound messages do nothing", {Msg(0xF8), Msg(0xFA), Cc(0, 20, 30), NoteOn(0, 50, 20)}, ""},
  };
  for (const Case& c : cases) {
    MidiMap map = ExampleMap();
    std::vector<MidiAction> actions;
    for (const control::MidiMessage& message : c.messages) EXPECT_FALSE(map.Feed(message, &actions)) << c.what;
    EXPECT_EQ(Describe(actions), c.actions) << c.what;
  }
}

TEST(MidiMap, LearnTakesTheNextControlAndForgetRemovesIt) {
  MidiMap map = ExampleMap();
  std::vector<MidiAction> actions;
  map.StartLearn(MidiControl{MidiTarget::kHighBin, 0});
  EXPECT_FALSE(map.Feed(Msg(0xF8), &actions));  // a clock pulse is no control
  std::optional<client::MidiBinding> learned = map.Feed(Cc(2, 7, 90), &actions);
  ASSERT_TRUE(learned);
  EXPECT_EQ(client::MidiControlName(learned->control), "HIGH BIN");
  EXPECT_EQ(client::MidiSourceText(learned->source), "CC 7 ch 3");
  EXPECT_TRUE(actions.empty());  // the learning move itself changes nothing
  EXPECT_FALSE(map.learning());
  // Learning a source that drives another control takes it over.
  map.StartLearn(MidiControl{MidiTarget::kFader, 5});
  ASSERT_TRUE(map.Feed(NoteOn(9, 36, 100), &actions));
  EXPECT_EQ(map.Find(MidiControl{MidiTarget::kTap, 0}), nullptr);
  map.Feed(NoteOn(9, 36, 127), &actions);
  EXPECT_EQ(Describe(actions), "DECK 6 FADER = 1.00000");
  EXPECT_TRUE(map.Forget(MidiControl{MidiTarget::kFader, 5}));
  EXPECT_FALSE(map.Forget(MidiControl{MidiTarget::kFader, 5}));
  actions.clear();
  map.Feed(NoteOn(9, 36, 127), &actions);
  EXPECT_TRUE(actions.empty());
}

TEST(MidiMap, TheStoredFormRoundTripsAndSkipsBadEntries) {
  MidiMap map = ExampleMap();
  MidiMap copy;
  EXPECT_EQ(copy.Load(map.Save()), 0);
  EXPECT_EQ(copy.Save(), map.Save());
  EXPECT_EQ(copy.ListText(), map.ListText());
  const char* bad[] = {"fader 6 cc 0 7",  "fader 0 cc 16 7", "fader 0 cc 0 128", "wobble 0 cc 0 7",
                       "fader 0 sysex 0 7", "fader 0 cc 0",  "program 0 program 0 3", "fader 0 cc 0 7 extra",
                       "key 26 note 0 1"};
  for (const char* entry : bad) {
    MidiMap one;
    EXPECT_EQ(one.Load(std::string("tap 0 note 0 1;") + entry), 1) << entry;
    EXPECT_EQ(one.bindings().size(), 1u) << entry;
  }
}

// A MIDI input the test feeds.
class FakeMidi final : public control::MidiInput {
 public:
  void Poll(std::vector<control::MidiMessage>* out, std::vector<std::string>* log) override {
    out->insert(out->end(), queued.begin(), queued.end());
    queued.clear();
    log->insert(log->end(), lines.begin(), lines.end());
    lines.clear();
  }
  std::vector<std::string> OpenPorts() const override { return {}; }
  std::vector<control::MidiMessage> queued;
  std::vector<std::string> lines;
};

class MidiWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetSettingsFolder(dir.path());
    ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
    ASSERT_EQ(fx::StartTiming(), 0);
    auto input = std::make_unique<FakeMidi>();
    midi = input.get();
    window.SetMidiInput(std::move(input), "");
    panel = window.NewController();
    ASSERT_TRUE(client_test::ConnectAndWaitForState(panel, &server));
  }
  void TearDown() override {
    window.CloseAllPanels();
    fx::StopTiming();
  }
  // One window tick with these messages, then everything sent has arrived.
  void Tick(const std::vector<control::MidiMessage>& messages) {
    midi->queued = messages;
    window.Tick();
    ASSERT_TRUE(Barrier(panel, &server));
  }
  testing_support::TempDir dir;
  TestServer server;
  client::ClientWindow window;
  FakeMidi* midi = nullptr;
  client::ControllerPanel* panel = nullptr;
};

TEST_F(MidiWindow, AKnobMovesTheFaderWithOneUpdatePerDeckPerFrame) {
  window.StartMidiLearn(MidiControl{MidiTarget::kFader, 1});
  Tick({Cc(0, 7, 3)});
  EXPECT_TRUE(RealUpdates(server).empty());  // the learning move
  window.StartMidiLearn(MidiControl{MidiTarget::kSpeed, 1});
  Tick({Cc(0, 8, 3)});
  // A sweep within one frame: one update, the last value, fader and speed together.
  Tick({Cc(0, 7, 10), Cc(0, 7, 40), Cc(0, 7, 127), Cc(0, 8, 0)});
  std::vector<net::DeckRecord> updates = RealUpdates(server);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].deck, 1);
  EXPECT_EQ(updates[0].change_mask, net::kMaskFader | net::kMaskSpeed);
  EXPECT_EQ(updates[0].fader, 1.0f);
  EXPECT_EQ(updates[0].speed, 0.0f);
  // The Server's reply moves the thumbs; a value on the same trackbar step
  // sends nothing.
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->speed(1).position() == client::Trackbar::kMax; }));
  Tick({Cc(0, 7, 127), Cc(0, 8, 0)});
  EXPECT_EQ(RealUpdates(server).size(), 1u);
}

TEST_F(MidiWindow, PadsTapAndToggleTheServersBeatOnce) {
  ASSERT_EQ(window.midi_map().Load("tap 0 note 9 36;beatoff 0 note 9 37"), 0);
  Tick({NoteOn(9, 36, 100)});
  Tick({NoteOn(9, 36, 100), NoteOn(9, 37, 100)});
  EXPECT_EQ(CountReceived(server, net::MSG_TAP), 2);
  EXPECT_EQ(CountReceived(server, net::MSG_BEAT_DISABLE), 1);
  EXPECT_EQ(fx::LastTapMs(), 0u);  // the Server's tempo, not this process's
}

TEST_F(MidiWindow, MappingsSurviveARestartThroughTheSettings) {
  window.StartMidiLearn(MidiControl{MidiTarget::kPresetKey, 16});
  Tick({NoteOn(0, 60, 100)});
  window.StartMidiLearn(MidiControl{MidiTarget::kThreshold, 0});
  Tick({Cc(0, 20, 1)});
  client::ClientWindow restarted;
  EXPECT_EQ(restarted.LoadMidiMappings(), 0);
  EXPECT_EQ(restarted.midi_map().Save(), window.midi_map().Save());
  ASSERT_NE(restarted.midi_map().Find(MidiControl{MidiTarget::kPresetKey, 16}), nullptr);
  // Forgetting is stored too.
  window.ForgetMidi(MidiControl{MidiTarget::kThreshold, 0});
  client::ClientWindow again;
  again.LoadMidiMappings();
  EXPECT_EQ(again.midi_map().bindings().size(), 1u);
}

TEST_F(MidiWindow, BeatGraphBarsFollowKnobsAndSendTheSettingsOnce) {
  ASSERT_EQ(window.midi_map().Load("low 0 cc 0 20;high 0 cc 0 21;threshold 0 cc 0 22"), 0);
  Tick({Cc(0, 20, 0), Cc(0, 21, 127), Cc(0, 22, 127)});
  std::vector<net::DeckRecord> updates = RealUpdates(server);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].deck, -1);
  EXPECT_EQ(updates[0].low_bin, 0u);
  EXPECT_EQ(updates[0].high_bin, static_cast<uint32_t>(panel->beat_graph().BarMax(client::BeatGraph::Bar::kHighBin)));
  EXPECT_EQ(updates[0].threshold, 1.0f);
}

TEST_F(MidiWindow, PortsComingAndGoingAreLoggedAndNothingStops) {
  midi->lines = {"MIDI port nanoKONTROL2:0 opened"};
  Tick({});
  midi->lines = {"MIDI port nanoKONTROL2:0 went away"};
  window.StartMidiLearn(MidiControl{MidiTarget::kPage, 0});
  Tick({Program(0, 4)});
  Tick({Program(0, 4)});
  EXPECT_EQ(panel->current_page(), 4);
  ASSERT_GE(panel->log().size(), 3u);
  EXPECT_EQ(panel->log()[2], "MIDI port nanoKONTROL2:0 opened");
  EXPECT_EQ(panel->log()[1], "MIDI port nanoKONTROL2:0 went away");
  EXPECT_EQ(panel->log()[0], "MIDI: PAGE learned PROGRAM ch 1");
  EXPECT_TRUE(panel->connected());
}

TEST(MidiOff, TheReasonReachesEveryPanelsLog) {
  client::ClientWindow window;
  client::ControllerPanel* before = window.NewController();
  window.SetMidiInput(nullptr, "MIDI is off: no sequencer");
  client::ControllerPanel* after = window.NewController();
  window.Tick();
  EXPECT_EQ(before->log().front(), "MIDI is off: no sequencer");
  EXPECT_EQ(after->log().front(), "MIDI is off: no sequencer");
}

}  // namespace

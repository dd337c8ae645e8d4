// Bindings, keys and preset files of a controller panel, against a
// stand-in Server over loopback: store, recall (with and without Shift),
// pages, held keys, the process-wide tap and beat-disable keys with two
// panels, keys paused while a text field has the keyboard, saving and
// loading through the panel and the preset file dialog, "LastPreset".
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include "app/core/core.h"
#include "fx/timing.h"
#include "show/preset.h"
#include "tests/client/panel_fixture.h"

namespace {

using client::ClientWindow;
using client::ControllerPanel;
using client::KeyboardState;
using client::PresetDialog;
using client_test::Barrier;
using client_test::ConnectAndWaitForState;
using client_test::CountReceived;
using client_test::Pump;
using client_test::RealUpdates;
using client_test::TestServer;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr int kQ = 'Q' - 'A';

// Keys held down: letters, digits of the main row, ' ' space, '\b' Backspace.
KeyboardState Keys(const std::string& down = "", bool ctrl = false, bool shift = false) {
  KeyboardState keys;
  for (char c : down) {
    if (c >= 'A' && c <= 'Z') keys.letters[c - 'A'] = true;
    if (c >= '0' && c <= '9') keys.page_keys[show::PageOfKey(c)] = true;
    if (c == ' ') keys.space = true;
    if (c == '\b') keys.backspace = true;
  }
  keys.ctrl = ctrl;
  keys.shift = shift;
  return keys;
}

class Presets : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetSettingsFolder(dir.path());
    ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
    ASSERT_EQ(core::StartFileLayer(dir.path()), 0);
    ASSERT_EQ(fx::StartTiming(), 0);
  }
  void TearDown() override {
    fx::StopTiming();
    core::StopFileLayer();
  }
  // A preset file whose binding [page][letter] is filled by `fill`.
  std::string PresetWith(int page, int letter, const std::function<void(show::Binding*)>& fill) {
    auto bank = show::NewPresetBank();
    fill(&bank->bindings[page][letter]);
    std::string path = dir / "test.HVR";
    EXPECT_EQ(show::SavePresetFile(path.c_str(), *bank), 0);
    return path;
  }
  // A preset file in which each of `letters` on page 1 puts TUNNEL on deck 0
  // (so recalling one sends six deck changes).
  std::string TunnelOn(const std::string& letters) {
    auto bank = show::NewPresetBank();
    for (char c : letters) net::SetRecordText(bank->bindings[0][c - 'A'].decks[0].effect_name, "TUNNEL");
    std::string path = dir / "tunnel.HVR";
    EXPECT_EQ(show::SavePresetFile(path.c_str(), *bank), 0);
    return path;
  }
  // One tick of the panel with `keys`, then everything it sent has arrived.
  void Press(ControllerPanel* panel, TestServer* server, const KeyboardState& keys) {
    panel->Tick(keys, true);
    ASSERT_TRUE(Barrier(panel, server));
  }
  testing_support::TempDir dir;
};

void Name(net::DeckRecord* record, const char* name) { net::SetRecordText(record->effect_name, name); }

TEST_F(Presets, AFreshPanelSavesTheDefaultBindings) {
  ControllerPanel panel;
  EXPECT_EQ(panel.current_page(), 0);
  ASSERT_EQ(panel.SavePreset(dir / "fresh.HVR"), 0);
  std::string text = ReadFile(dir / "fresh.HVR");
  // It is the bank's file, byte for byte, and begins as the format does.
  auto bank = show::NewPresetBank();
  ASSERT_EQ(show::SavePresetFile((dir / "reference.HVR").c_str(), *bank), 0);
  EXPECT_EQ(text, ReadFile(dir / "reference.HVR"));
  const std::string head =
      "<BINDS>\n\t<BIND>\n\t\t<KEY>\n\t\t\t\"A\"\n\t\t</KEY>\n\t\t<DECK>\n\t\t\t<DECKNUM>\n\t\t\t\t0\n\t\t\t</DECKNUM>\n"
      "\t\t\t<FADER>\n\t\t\t\t1.000000\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<BIND>\n"), 260u);
  EXPECT_EQ(count("<DECK>\n"), 1560u);
  EXPECT_EQ(count("\t\t\t\t1.000000\n"), 1560u);   // FADER
  EXPECT_EQ(count("\t\t\t\t0.750000\n"), 1560u);   // SPEED
  EXPECT_EQ(count("\t\t\t\t-1\n"), 1560u);         // MIXER
  EXPECT_EQ(count("\t\t\t\t\"\"\n"), 1560u);       // EFFECT
  EXPECT_EQ(count("\t\t\t\"Z\"\n"), 10u);
  EXPECT_EQ(text.substr(text.size() - 9), "</BINDS>\n");
  EXPECT_EQ(panel.log().front(), "Saved preset " + (dir / "fresh.HVR"));
}

TEST_F(Presets, PageThreeThenQRecallsTheBindingOfPageThree) {
  TestServer server;
  server.effects[0].loaded = true;  // TUNNEL
  server.decks[4].effect_id = 0;    // something to clear
  std::string path = PresetWith(2, kQ, [](show::Binding* b) {
    Name(&b->decks[0], "TUNNEL");
    b->decks[0].fader = 0.25f;
    b->decks[0].mixer = 5;
    b->decks[0].speed = 0.5f;
    b->decks[0].beat_mode = net::kBeatStartOnBeat;
  });
  ControllerPanel panel;
  ASSERT_EQ(panel.LoadPreset(path), 0);
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));

  Press(&panel, &server, Keys("3"));
  EXPECT_EQ(panel.current_page(), 2);
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);
  Press(&panel, &server, Keys(""));
  Press(&panel, &server, Keys("Q"));
  // Six decks: TUNNEL onto deck 0, the five empty bindings clear theirs.
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 6);
  std::vector<net::DeckRecord> updates = RealUpdates(server);
  ASSERT_EQ(updates.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(updates[i].deck, i);
    EXPECT_EQ(updates[i].change_mask, 27u);
  }
  EXPECT_EQ(server.decks[0].effect_id, 0);
  EXPECT_FLOAT_EQ(server.decks[0].fader, 0.25f);
  EXPECT_EQ(server.decks[0].mixer, 5);
  EXPECT_FLOAT_EQ(server.decks[0].speed, 0.5f);
  EXPECT_EQ(server.decks[0].beat_mode, net::kBeatStartOnBeat);
  EXPECT_EQ(server.decks[4].effect_id, -1);
  EXPECT_EQ(panel.last_recalled_letter(), kQ);
  // Page 1's Q names no effect: a stray key there changes nothing on the
  // Server, and the log says why.
  EXPECT_TRUE(panel.BindingSet(2, kQ));
  EXPECT_FALSE(panel.BindingSet(0, kQ));
  Press(&panel, &server, Keys("1"));
  EXPECT_EQ(panel.last_recalled_letter(), -1);  // recalled on another page
  Press(&panel, &server, Keys("1Q"));
  EXPECT_EQ(panel.current_page(), 0);
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 6);
  EXPECT_EQ(server.decks[0].effect_id, 0);
  EXPECT_EQ(panel.log().front(), "Binding Q of page 1 is empty");
  // "0" is page 10; a digit and a letter in the same reading: page first.
  Press(&panel, &server, Keys(""));
  Press(&panel, &server, Keys("0"));
  EXPECT_EQ(panel.current_page(), 9);
  Press(&panel, &server, Keys("3Q"));
  EXPECT_EQ(panel.current_page(), 2);
  EXPECT_EQ(server.decks[0].effect_id, 0);
}

TEST_F(Presets, ShiftKeepsDecksWhoseBindingIsEmpty) {
  TestServer server;
  server.effects[0].loaded = true;  // TUNNEL
  server.effects[1].loaded = true;  // PLASMA
  server.decks[3].effect_id = 1;
  net::SetRecordText(server.decks[3].effect_name, "PLASMA");
  server.decks[3].fader = 0.3f;
  std::string path = PresetWith(0, kQ, [](show::Binding* b) { Name(&b->decks[0], "TUNNEL"); });
  ControllerPanel panel;
  ASSERT_EQ(panel.LoadPreset(path), 0);
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));

  Press(&panel, &server, Keys("Q", false, true));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 1);
  ASSERT_EQ(RealUpdates(server).size(), 1u);
  EXPECT_EQ(server.decks[0].effect_id, 0);
  EXPECT_EQ(server.decks[3].effect_id, 1);
  EXPECT_FLOAT_EQ(server.decks[3].fader, 0.3f);
  // Without Shift the same binding clears deck 3 and resets its fader.
  Press(&panel, &server, Keys(""));
  Press(&panel, &server, Keys("Q"));
  EXPECT_EQ(server.decks[3].effect_id, -1);
  EXPECT_FLOAT_EQ(server.decks[3].fader, 1.0f);
}

TEST_F(Presets, CtrlQStoresTheDecksAsTheServerReportedThem) {
  TestServer server;
  server.effects[1].loaded = true;
  server.decks[2].effect_id = 1;
  net::SetRecordText(server.decks[2].effect_name, "PLASMA");
  server.decks[2].fader = 0.6f;
  server.decks[2].mixer = 7;
  server.decks[2].speed = 0.9f;
  server.decks[2].beat_mode = net::kBeatEndOnBeat;
  server.decks[5].fader = 0.1f;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  Press(&panel, &server, Keys("3"));
  Press(&panel, &server, Keys("3Q", true));
  // Storing sends nothing.
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);
  EXPECT_TRUE(RealUpdates(server).empty());
  const show::Binding& stored = panel.binding(2, kQ);
  for (int i = 0; i < 6; ++i) {
    const net::DeckRecord& want = panel.deck_table()[static_cast<size_t>(i)];
    EXPECT_EQ(stored.decks[i].deck, want.deck);
    EXPECT_EQ(stored.decks[i].fader, want.fader);
    EXPECT_EQ(stored.decks[i].mixer, want.mixer);
    EXPECT_EQ(stored.decks[i].speed, want.speed);
    EXPECT_EQ(stored.decks[i].beat_mode, want.beat_mode);
    EXPECT_EQ(net::RecordText(stored.decks[i].effect_name), net::RecordText(want.effect_name));
  }
  EXPECT_EQ(net::RecordText(stored.decks[2].effect_name), "PLASMA");
  EXPECT_FLOAT_EQ(stored.decks[5].fader, 0.1f);
  // Other bindings stay as they were.
  EXPECT_EQ(net::RecordText(panel.binding(0, kQ).decks[2].effect_name), "");

  // What was stored comes back: change the decks, then Q.
  server.decks[2].effect_id = -1;
  server.decks[2].fader = 1.0f;
  server.decks[5].fader = 1.0f;
  Press(&panel, &server, Keys("3"));
  Press(&panel, &server, Keys("Q"));
  EXPECT_EQ(server.decks[2].effect_id, 1);
  EXPECT_FLOAT_EQ(server.decks[2].fader, 0.6f);
  EXPECT_EQ(server.decks[2].mixer, 7);
  EXPECT_EQ(server.decks[2].beat_mode, net::kBeatEndOnBeat);
  EXPECT_FLOAT_EQ(server.decks[5].fader, 0.1f);
  // And survives a save and a load.
  ASSERT_EQ(panel.SavePreset(dir / "stored.HVR"), 0);
  ControllerPanel other;
  ASSERT_EQ(other.LoadPreset(dir / "stored.HVR"), 0);
  EXPECT_EQ(net::RecordText(other.binding(2, kQ).decks[2].effect_name), "PLASMA");
  EXPECT_FLOAT_EQ(other.binding(2, kQ).decks[2].speed, 0.9f);
}

TEST_F(Presets, HoldingALetterRecallsItOnce) {
  TestServer server;
  server.effects[0].loaded = true;  // TUNNEL
  ControllerPanel panel;
  ASSERT_EQ(panel.LoadPreset(TunnelOn("AQZ")), 0);
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  for (int i = 0; i < 5; ++i) Press(&panel, &server, Keys("Q"));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 6);
  // Adding Shift or Ctrl while Q is held is no new press either.
  Press(&panel, &server, Keys("Q", true, true));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 6);
  Press(&panel, &server, Keys(""));
  Press(&panel, &server, Keys("Q"));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 12);
  // Two letters in one reading: alphabetical order, A's decks first.
  Press(&panel, &server, Keys(""));
  Press(&panel, &server, Keys("ZA"));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 24);
}

// Server and Client in one process: the first panel connects by itself and
// holds the show's preset, so a key plays at once.
TEST_F(Presets, TheOwnServersPanelStartsConnectedWithTheShowsPreset) {
  TestServer server;
  server.effects[0].loaded = true;  // TUNNEL
  client::ClientWindow window;
  ControllerPanel* panel = window.NewConnectedController(server.Address(), TunnelOn("Q"));
  ASSERT_EQ(window.panel_count(), 1u);
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return !panel->mixer_choices().empty(); }));
  EXPECT_TRUE(panel->BindingSet(0, kQ));
  Press(panel, &server, Keys("Q"));
  EXPECT_EQ(server.decks[0].effect_id, 0);
  window.CloseAllPanels();
}

TEST_F(Presets, AnEffectThatIsNotLoadedLeavesItsDeckAlone) {
  TestServer server;
  server.effects[0].loaded = true;  // TUNNEL; PLASMA is not loaded
  server.decks[1].effect_id = 0;
  server.decks[1].fader = 0.4f;
  std::string path = PresetWith(0, kQ, [](show::Binding* b) {
    Name(&b->decks[1], "PLASMA");
    b->decks[1].fader = 0.9f;
    Name(&b->decks[2], "MISSING");  // not in the catalogue at all
    Name(&b->decks[3], "tunnel");   // names match exactly
  });
  ControllerPanel panel;
  ASSERT_EQ(panel.LoadPreset(path), 0);
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  Press(&panel, &server, Keys("Q"));
  // Decks 0, 4 and 5 are cleared; 1, 2 and 3 get nothing at all.
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 3);
  for (const net::DeckRecord& update : RealUpdates(server))
    EXPECT_TRUE(update.deck == 0 || update.deck == 4 || update.deck == 5) << update.deck;
  EXPECT_EQ(server.decks[1].effect_id, 0);
  EXPECT_FLOAT_EQ(server.decks[1].fader, 0.4f);
  // Once PLASMA is loaded, the same key puts it on deck 1.
  panel.SelectUnloaded(1, true);
  panel.LoadSelected();
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.loaded_list().size() == 2; }));
  Press(&panel, &server, Keys(""));
  Press(&panel, &server, Keys("Q"));
  EXPECT_EQ(server.decks[1].effect_id, 1);
  EXPECT_FLOAT_EQ(server.decks[1].fader, 0.9f);
}

TEST_F(Presets, KeysDoNothingWhileDisconnectedAndAHeldKeyDoesNotFireOnConnect) {
  TestServer server;
  ControllerPanel panel;
  panel.Tick(Keys("3Q"), true);
  EXPECT_EQ(panel.current_page(), 0);
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  // Q was held through the connect: no recall until it is pressed again.
  Press(&panel, &server, Keys("3Q"));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);
  EXPECT_EQ(panel.current_page(), 0);
}

class TwoPanels : public Presets {
 protected:
  void SetUp() override {
    Presets::SetUp();
    core::SetProgramClock(&clock);
    server_a.effects[0].loaded = server_b.effects[0].loaded = true;  // TUNNEL
    a = window.NewController();
    b = window.NewController();
    ASSERT_EQ(a->LoadPreset(TunnelOn("Q")), 0);
    ASSERT_EQ(b->LoadPreset(TunnelOn("Q")), 0);
    ASSERT_EQ(a->Connect(server_a.Address()), 0);
    ASSERT_EQ(b->Connect(server_b.Address()), 0);
    ASSERT_TRUE(Pump({}, {&server_a, &server_b}, [&] {
      window.Tick();
      return !a->mixer_choices().empty() && !b->mixer_choices().empty();
    }));
  }
  void TearDown() override {
    window.CloseAllPanels();
    core::SetProgramClock(nullptr);
    Presets::TearDown();
  }
  void Both() {
    ASSERT_TRUE(Barrier(a, &server_a));
    ASSERT_TRUE(Barrier(b, &server_b));
  }
  core::ManualClock clock{5000.0};
  TestServer server_a, server_b;
  ClientWindow window;
  ControllerPanel* a = nullptr;
  ControllerPanel* b = nullptr;
};

TEST_F(TwoPanels, OneSpacePressIsOneTapAndOneBackspaceOneToggleOnEachServer) {
  window.Tick(Keys(" "));
  window.Tick(Keys(" "));  // held
  window.Tick(Keys(""));
  window.Tick(Keys(" "));
  window.Tick(Keys("\b"));
  window.Tick(Keys("\b"));  // held
  Both();
  for (TestServer* server : {&server_a, &server_b}) {
    EXPECT_EQ(CountReceived(*server, net::MSG_TAP), 2);
    EXPECT_EQ(CountReceived(*server, net::MSG_BEAT_DISABLE), 1);
  }
  // The tempo is the Servers': this process's own tap clock never moves.
  EXPECT_EQ(fx::LastTapMs(), 0u);
  EXPECT_FALSE(fx::BeatDisabled());
  // Each panel shows its own Server's answer.
  ASSERT_TRUE(Pump({a, b}, {&server_a, &server_b}, [&] {
    return a->server_tempo().period_ms == 500u && b->server_tempo().beat_disabled;
  }));
}

TEST_F(TwoPanels, LettersActOnEveryConnectedPanel) {
  window.Tick(Keys("Q"));
  Both();
  EXPECT_EQ(CountReceived(server_a, net::MSG_SET_DECK_EFFECT), 6);
  EXPECT_EQ(CountReceived(server_b, net::MSG_SET_DECK_EFFECT), 6);
  window.Tick(Keys("4"));
  EXPECT_EQ(a->current_page(), 3);
  EXPECT_EQ(b->current_page(), 3);
}

TEST_F(TwoPanels, NoPanelConnectedMeansNoTap) {
  window.CloseAllPanels();
  ClientWindow alone;
  alone.NewController();
  alone.Tick(Keys(" \b"));
  EXPECT_EQ(fx::LastTapMs(), 0u);
  EXPECT_FALSE(fx::BeatDisabled());
}

TEST_F(TwoPanels, TypingInATextFieldRecallsNothing) {
  window.SetTextInputActive(true);
  EXPECT_TRUE(window.KeysPaused());
  window.Tick(Keys("3"));
  window.Tick(Keys("Q"));
  window.Tick(Keys(" \b"));
  Both();
  EXPECT_EQ(CountReceived(server_a, net::MSG_SET_DECK_EFFECT), 0);
  EXPECT_EQ(CountReceived(server_a, net::MSG_TAP), 0);
  EXPECT_EQ(CountReceived(server_a, net::MSG_BEAT_DISABLE), 0);
  EXPECT_EQ(a->current_page(), 0);
  EXPECT_EQ(fx::LastTapMs(), 0u);
  EXPECT_FALSE(fx::BeatDisabled());
  // Leaving the field with the keys still down does not fire them either.
  window.SetTextInputActive(false);
  window.Tick(Keys(" \b"));
  Both();
  EXPECT_EQ(fx::LastTapMs(), 0u);
  window.Tick(Keys(""));
  window.Tick(Keys("Q"));
  Both();
  EXPECT_EQ(CountReceived(server_a, net::MSG_SET_DECK_EFFECT), 6);

  // A dialog with a text field pauses the keys while it is open.
  for (auto pause : {std::function<void()>([&] { window.dialog().Open(a); }),
                     std::function<void()>([&] { window.preset_dialog().Open(b, PresetDialog::Mode::kSave); })}) {
    window.Tick(Keys(""));
    pause();
    EXPECT_TRUE(window.KeysPaused());
    window.Tick(Keys("Q"));
    Both();
    EXPECT_EQ(CountReceived(server_a, net::MSG_SET_DECK_EFFECT), 6);
    window.dialog().Cancel();
    window.preset_dialog().Cancel();
    EXPECT_FALSE(window.KeysPaused());
  }
}

TEST_F(Presets, LoadingReplacesEveryBindingAndGoesBackToPageOne) {
  TestServer server;
  server.decks[0].fader = 0.2f;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  Press(&panel, &server, Keys("5"));
  Press(&panel, &server, Keys("5B", true));  // stored into [4][B]
  EXPECT_EQ(panel.current_page(), 4);
  EXPECT_FLOAT_EQ(panel.binding(4, 1).decks[0].fader, 0.2f);
  std::string path = PresetWith(7, 3, [](show::Binding* b) { Name(&b->decks[5], "STROBE"); });
  ASSERT_EQ(panel.LoadPreset(path), 0);
  EXPECT_EQ(panel.current_page(), 0);
  EXPECT_EQ(net::RecordText(panel.binding(7, 3).decks[5].effect_name), "STROBE");
  EXPECT_EQ(panel.binding(4, 1).decks[0].fader, 1.0f);  // reset
  // A file that does not parse changes nothing and says so.
  Press(&panel, &server, Keys("2"));
  WriteFile(dir / "broken.HVR", "<BINDS> <BIND>");
  EXPECT_EQ(panel.LoadPreset(dir / "broken.HVR"), -1);
  EXPECT_EQ(panel.current_page(), 1);
  EXPECT_EQ(net::RecordText(panel.binding(7, 3).decks[5].effect_name), "STROBE");
  std::vector<std::string> alerts = panel.TakeAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find("broken.HVR"), std::string::npos);
  // Bindings survive a disconnection.
  panel.Disconnect();
  EXPECT_EQ(net::RecordText(panel.binding(7, 3).decks[5].effect_name), "STROBE");
  EXPECT_EQ(panel.current_page(), 1);
}

TEST_F(Presets, AnInterruptedSaveLeavesTheOldFileIntact) {
  ControllerPanel panel;
  std::string path = dir / "show.HVR";
  ASSERT_EQ(panel.SavePreset(path), 0);
  std::string before = ReadFile(path);
  // Now the decks differ, and the save runs out of room part way.
  std::string other = PresetWith(0, 0, [](show::Binding* b) { Name(&b->decks[0], "NEW"); });
  ASSERT_EQ(panel.LoadPreset(other), 0);
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 8 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = panel.SavePreset(path);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ReadFile(path), before);
  std::vector<std::string> alerts = panel.TakeAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], "Could not save the preset file " + path);
  for (const std::string& name : testing_support::ListDir(dir.path()))
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

// --- the preset file dialog ---------------------------------------------------

class Dialog : public Presets {
 protected:
  std::string LastPreset() {
    char text[4096];
    if (!core::ReadSettingText("", "LastPreset", text, sizeof text)) return "<absent>";
    return text;
  }
  std::vector<std::string> Names(const PresetDialog& dialog) {
    std::vector<std::string> names;
    for (const auto& entry : dialog.entries()) names.push_back(entry.folder ? entry.name + "/" : entry.name);
    return names;
  }
};

TEST_F(Dialog, ListsFoldersAndPresetFilesOfAnyCase) {
  testing_support::MakeDirs(dir / "presets/sub");
  testing_support::MakeDirs(dir / "presets/Another");
  for (const char* name : {"b.hvr", "A.HVR", "c.txt", ".hidden.HVR", "d.Hvr", "HVR"})
    WriteFile(dir / ("presets/" + std::string(name)), "");
  ControllerPanel panel;
  PresetDialog dialog;
  dialog.Open(&panel, PresetDialog::Mode::kLoad);
  EXPECT_TRUE(dialog.is_open());
  EXPECT_STREQ(dialog.Title(), "Load Preset File");
  EXPECT_EQ(dialog.folder(), dir / "presets");  // no "LastPreset" yet
  EXPECT_STREQ(dialog.name_text(), "");
  EXPECT_EQ(Names(dialog), (std::vector<std::string>{"../", "Another/", "sub/", "A.HVR", "b.hvr", "d.Hvr"}));
  ASSERT_EQ(dialog.EnterFolder("SUB"), 0);  // folders in any case too
  EXPECT_EQ(dialog.folder(), dir / "presets/sub");
  EXPECT_EQ(Names(dialog), (std::vector<std::string>{"../"}));
  ASSERT_EQ(dialog.EnterFolder(".."), 0);
  ASSERT_EQ(dialog.EnterFolder(".."), 0);
  EXPECT_EQ(dialog.folder(), dir.path());
  EXPECT_EQ(dialog.EnterFolder("nowhere"), -1);
  dialog.Cancel();
  EXPECT_FALSE(dialog.is_open());
  EXPECT_EQ(LastPreset(), "<absent>");
}

TEST_F(Dialog, SavesTheTypedNameAndRemembersItAsLastPreset) {
  testing_support::MakeDirs(dir / "presets/sub");
  ControllerPanel panel;
  PresetDialog dialog;
  dialog.Open(&panel, PresetDialog::Mode::kSave);
  EXPECT_STREQ(dialog.Title(), "Save Preset File");
  EXPECT_STREQ(dialog.ConfirmText(), "Save");
  // A folder's name opens the folder.
  std::snprintf(dialog.name_buffer(), client::kPresetNameCapacity, "sub");
  EXPECT_EQ(dialog.Confirm(), 1);
  EXPECT_TRUE(dialog.is_open());
  EXPECT_EQ(dialog.folder(), dir / "presets/sub");
  // A name without an extension is saved as typed.
  std::snprintf(dialog.name_buffer(), client::kPresetNameCapacity, "  night show  ");
  EXPECT_EQ(dialog.Confirm(), 0);
  EXPECT_FALSE(dialog.is_open());
  EXPECT_TRUE(testing_support::Exists(dir / "presets/sub/night show"));
  EXPECT_EQ(LastPreset(), dir / "presets/sub/night show");
  // The next dialog opens there, with the name.
  dialog.Open(&panel, PresetDialog::Mode::kLoad);
  EXPECT_EQ(dialog.folder(), dir / "presets/sub");
  EXPECT_STREQ(dialog.name_text(), "night show");
  dialog.Cancel();
  // A missing folder: the dialog stays open and says why.
  dialog.Open(&panel, PresetDialog::Mode::kSave);
  std::snprintf(dialog.name_buffer(), client::kPresetNameCapacity, "gone/x.HVR");
  EXPECT_EQ(dialog.Confirm(), -1);
  EXPECT_TRUE(dialog.is_open());
  EXPECT_NE(dialog.error().find("No such folder"), std::string::npos);
  // A whole path, in another case than on disk: the existing file is replaced.
  WriteFile(dir / "presets/SHOW.HVR", "old");
  std::string typed = dir / "PRESETS/show.hvr";
  std::snprintf(dialog.name_buffer(), client::kPresetNameCapacity, "%s", typed.c_str());
  EXPECT_EQ(dialog.Confirm(), 0);
  EXPECT_NE(ReadFile(dir / "presets/SHOW.HVR"), "old");
  EXPECT_EQ(LastPreset(), dir / "presets/SHOW.HVR");
  EXPECT_FALSE(testing_support::Exists(dir / "presets/show.hvr"));
}

TEST_F(Dialog, LoadsAChosenFileAndRefusesAMissingOne) {
  testing_support::MakeDirs(dir / "presets");
  auto bank = show::NewPresetBank();
  net::SetRecordText(bank->bindings[1][2].decks[3].effect_name, "AURORA");
  ASSERT_EQ(show::SavePresetFile((dir / "presets/Set.HVR").c_str(), *bank), 0);
  ControllerPanel panel;
  PresetDialog dialog;
  dialog.Open(&panel, PresetDialog::Mode::kLoad);
  std::snprintf(dialog.name_buffer(), client::kPresetNameCapacity, "missing.HVR");
  EXPECT_EQ(dialog.Confirm(), -1);
  EXPECT_TRUE(dialog.is_open());
  EXPECT_EQ(dialog.error(), "No such file: missing.HVR");
  EXPECT_EQ(LastPreset(), "<absent>");
  dialog.ChooseFile("Set.HVR");
  EXPECT_TRUE(dialog.error().empty());
  EXPECT_EQ(dialog.Confirm(), 0);
  EXPECT_FALSE(dialog.is_open());
  EXPECT_EQ(net::RecordText(panel.binding(1, 2).decks[3].effect_name), "AURORA");
  EXPECT_EQ(LastPreset(), dir / "presets/Set.HVR");
  // A remembered file whose folder is gone: the default folder, no name.
  ASSERT_EQ(core::WriteSettingText("", "LastPreset", (dir / "vanished/x.HVR").c_str()), 0);
  dialog.Open(&panel, PresetDialog::Mode::kLoad);
  EXPECT_EQ(dialog.folder(), dir / "presets");
  EXPECT_STREQ(dialog.name_text(), "");
}

TEST_F(Dialog, ClosingThePanelClosesItsDialog) {
  ClientWindow window;
  ControllerPanel* panel = window.NewController();
  window.preset_dialog().Open(panel, PresetDialog::Mode::kSave);
  window.ClosePanel(panel);
  EXPECT_FALSE(window.preset_dialog().is_open());
}

}  // namespace

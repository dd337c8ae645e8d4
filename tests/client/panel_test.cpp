// Controller panel logic against a stand-in Server over loopback: messages
// in -> lists, deck table, labels; control events -> messages out;
// connect, disconnect and version mismatch; malformed or surprising input.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "tests/client/panel_fixture.h"

namespace {

using client::ControllerPanel;
using client::LinkState;
using client_test::Barrier;
using client_test::ConnectAndWaitForState;
using client_test::CountReceived;
using client_test::Pump;
using client_test::RealUpdates;
using client_test::TestServer;

std::vector<std::string> Texts(const std::vector<client::ListItem>& items) {
  std::vector<std::string> texts;
  for (const auto& item : items) texts.push_back(item.text);
  return texts;
}

void ExpectAllDecksEmpty(const ControllerPanel& panel) {
  for (int deck = 0; deck < client::kPanelDecks; ++deck) EXPECT_EQ(panel.DeckEffectLabel(deck), "NO EFFECT") << deck;
}

int32_t IdOf(const ControllerPanel& panel, const std::string& name) {
  for (const auto& effect : panel.effects())
    if (effect.name == name) return effect.id;
  ADD_FAILURE() << "no effect " << name;
  return -1;
}

bool SameRecordBut(const net::DeckRecord& a, const net::DeckRecord& b) {
  // Every field a Client update copies from the panel's record.
  return a.deck == b.deck && a.fader == b.fader && net::RecordText(a.effect_name) == net::RecordText(b.effect_name) &&
         a.mixer == b.mixer && a.effect_id == b.effect_id && a.low_bin == b.low_bin && a.high_bin == b.high_bin &&
         a.threshold == b.threshold && a.beat_mode == b.beat_mode && a.speed == b.speed;
}

TEST(Panel, StartsDisconnectedWithEmptyDecks) {
  ControllerPanel panel;
  EXPECT_EQ(panel.status(), "Disconnected");
  EXPECT_STREQ(panel.connect_button_text(), "Connect");
  EXPECT_EQ(panel.frame_rate_text(), "0");
  EXPECT_TRUE(panel.unloaded_list().empty());
  EXPECT_TRUE(panel.loaded_list().empty());
  ExpectAllDecksEmpty(panel);
  // Defaults: fader 1.0 at the top, speed 0.75 a quarter down.
  EXPECT_EQ(panel.fader(0).position(), 0);
  EXPECT_EQ(panel.speed(0).position(), 25);
  EXPECT_EQ(panel.Tick(), 1);
  EXPECT_TRUE(panel.PressConnectButton());  // disconnected: the prompt opens
}

TEST(Panel, ConnectTakesTheState) {
  TestServer server;
  server.decks[1].fader = 0.25f;
  server.decks[1].speed = 0.5f;
  server.decks[1].mixer = 3;
  server.decks[1].beat_mode = net::kBeatEndOnBeat;
  server.effects[0].loaded = true;  // TUNNEL
  server.decks[4].effect_id = 0;
  net::SetRecordText(server.decks[4].effect_name, "TUNNEL");
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));

  EXPECT_EQ(panel.status(), "Connected to 127.0.0.1:" + std::to_string(server.port()));
  EXPECT_STREQ(panel.connect_button_text(), "Disconnect");
  EXPECT_EQ(panel.host(), "127.0.0.1");
  EXPECT_EQ(panel.port(), server.port());
  // Handshake, then the list request, nothing else.
  ASSERT_EQ(server.received_types.size(), 2u);
  EXPECT_EQ(server.received_types[0], net::MSG_CLIENT_HANDSHAKE);
  EXPECT_EQ(server.received_types[1], net::MSG_LIST_EFFECTS);

  EXPECT_EQ(Texts(panel.unloaded_list()), (std::vector<std::string>{"BROKEN", "PLASMA"}));
  EXPECT_EQ(Texts(panel.loaded_list()), (std::vector<std::string>{"TUNNEL"}));
  EXPECT_EQ(panel.unloaded_list()[0].number, 2);
  EXPECT_EQ(panel.unloaded_list()[1].number, 1);
  ASSERT_EQ(panel.mixer_choices().size(), 11u);
  EXPECT_EQ(panel.mixer_choices()[0].text, "NULL MIXER");
  EXPECT_EQ(panel.mixer_choices()[0].number, -1);
  EXPECT_EQ(panel.mixer_choices()[1].text, "ALPHABLEND");
  EXPECT_EQ(panel.mixer_choices()[10].text, "INVERSEWAVEADDITIVE");
  EXPECT_EQ(panel.mixer_choices()[10].number, 9);
  EXPECT_EQ(Texts(panel.beat_mode_choices()), (std::vector<std::string>{"FREE", "START ON BEAT", "END ON BEAT"}));

  EXPECT_EQ(panel.DeckEffectLabel(4), "TUNNEL");
  EXPECT_EQ(panel.DeckEffectLabel(0), "NO EFFECT");
  EXPECT_EQ(panel.fader(1).position(), 75);
  EXPECT_EQ(panel.speed(1).position(), 50);
  EXPECT_EQ(panel.MixerChoiceIndex(1), 4);  // mixer 3 after the NULL MIXER
  EXPECT_EQ(panel.BeatModeChoiceIndex(1), 2);
  EXPECT_EQ(panel.MixerChoiceIndex(0), 0);  // NULL MIXER
  EXPECT_EQ(panel.BeatModeChoiceIndex(0), 0);
  EXPECT_EQ(panel.beat_settings().low_bin, 2u);
  EXPECT_EQ(panel.beat_settings().high_bin, 20u);
  EXPECT_FLOAT_EQ(panel.beat_settings().threshold, 0.5f);
}

TEST(Panel, ThreeSelectedEffectsSendThreeLoadsAndMoveToTheLoadedList) {
  TestServer server;
  for (const char* name : {"STROBE", "AURORA"}) {
    net::EffectRecord effect;
    effect.id = static_cast<int32_t>(server.effects.size());
    net::SetRecordText(effect.name, name);
    server.effects.push_back(effect);
  }
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  EXPECT_EQ(Texts(panel.unloaded_list()), (std::vector<std::string>{"AURORA", "BROKEN", "PLASMA", "STROBE", "TUNNEL"}));
  for (const char* name : {"TUNNEL", "PLASMA", "STROBE"}) panel.SelectUnloaded(IdOf(panel, name), true);
  panel.LoadSelected();
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.loaded_list().size() == 3; }));
  EXPECT_EQ(CountReceived(server, net::MSG_LOAD_EFFECT), 3);
  EXPECT_EQ(Texts(panel.loaded_list()), (std::vector<std::string>{"PLASMA", "STROBE", "TUNNEL"}));
  EXPECT_EQ(Texts(panel.unloaded_list()), (std::vector<std::string>{"AURORA", "BROKEN"}));
  // The Server's log lines, newest on top (sent in list order).
  ASSERT_GE(panel.log().size(), 3u);
  EXPECT_EQ(panel.log()[0], "Loaded effect TUNNEL");
  EXPECT_EQ(panel.log()[1], "Loaded effect STROBE");
  EXPECT_EQ(panel.log()[2], "Loaded effect PLASMA");

  // A failing load answers with a log line only; the effect stays put.
  panel.SelectUnloaded(IdOf(panel, "BROKEN"), true);
  panel.SelectUnloaded(IdOf(panel, "AURORA"), false);
  panel.LoadSelected();
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.log()[0] == "Failed to load effect BROKEN"; }));
  EXPECT_EQ(Texts(panel.unloaded_list()), (std::vector<std::string>{"AURORA", "BROKEN"}));

  // "Unload ^" sends one unload per selected loaded item.
  panel.SelectLoaded(IdOf(panel, "STROBE"), true);
  panel.SelectLoaded(IdOf(panel, "PLASMA"), true);
  panel.UnloadSelected();
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.loaded_list().size() == 1; }));
  EXPECT_EQ(Texts(panel.loaded_list()), (std::vector<std::string>{"TUNNEL"}));
  EXPECT_EQ(CountReceived(server, net::MSG_LOAD_EFFECT), 6);
}

TEST(Panel, NothingIsSentWhileDisconnected) {
  ControllerPanel panel;
  panel.LoadSelected();
  panel.UnloadSelected();
  panel.AssignToDeck(0);
  panel.UnloadDeck(0);
  panel.ChooseMixer(0, 2);
  panel.BeginFaderDrag(0);
  panel.DragFader(0, 50);
  EXPECT_EQ(panel.fader(0).position(), 0);  // no deck to drag
  EXPECT_EQ(panel.Send(net::ListEffectsMessage()), -1);
}

TEST(Panel, AssignSendsTheFirstSelectedLoadedEffect) {
  TestServer server;
  for (auto& effect : server.effects) effect.loaded = true;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  ASSERT_EQ(Texts(panel.loaded_list()), (std::vector<std::string>{"BROKEN", "PLASMA", "TUNNEL"}));

  // "Deck 3" with nothing selected sends nothing.
  panel.AssignToDeck(2);
  ASSERT_TRUE(Barrier(&panel, &server));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);

  // With TUNNEL and PLASMA selected, the first in list order (PLASMA) goes.
  panel.SelectLoaded(IdOf(panel, "TUNNEL"), true);
  panel.SelectLoaded(IdOf(panel, "PLASMA"), true);
  panel.AssignToDeck(2);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.DeckEffectLabel(2) == "PLASMA"; }));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 1);
  EXPECT_EQ(server.decks[2].effect_id, IdOf(panel, "PLASMA"));
  EXPECT_EQ(panel.deck_table()[2].effect_id, IdOf(panel, "PLASMA"));
  for (int deck : {0, 1, 3, 4, 5}) EXPECT_EQ(panel.DeckEffectLabel(deck), "NO EFFECT");

  // "Unload" of the deck takes it off again.
  panel.UnloadDeck(2);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.DeckEffectLabel(2) == "NO EFFECT"; }));
  EXPECT_EQ(server.decks[2].effect_id, -1);
}

TEST(Panel, FaderDraggedToTheMiddleSendsHalf) {
  TestServer server;
  server.decks[0].speed = 0.6f;
  server.decks[0].mixer = 5;
  server.decks[0].beat_mode = net::kBeatStartOnBeat;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  net::DeckRecord before = panel.deck_table()[0];

  panel.BeginFaderDrag(0);
  EXPECT_TRUE(panel.fader(0).dragging());
  panel.DragFader(0, 50);
  EXPECT_EQ(panel.fader(0).position(), 50);  // shown at once, locally
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return RealUpdates(server).size() == 1; }));
  net::DeckRecord sent = RealUpdates(server)[0];
  EXPECT_EQ(sent.change_mask, net::kMaskFader);
  EXPECT_FLOAT_EQ(sent.fader, 0.5f);
  // Everything else is the panel's record as it stood.
  net::DeckRecord expected = before;
  expected.fader = 0.5f;
  EXPECT_TRUE(SameRecordBut(sent, expected));

  // Moving on to the bottom sends 0; staying put sends nothing.
  panel.DragFader(0, 100);
  panel.DragFader(0, 100);
  panel.DragFader(0, 250);  // clamped to the track
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return RealUpdates(server).size() == 2; }));
  ASSERT_TRUE(Barrier(&panel, &server));
  ASSERT_EQ(RealUpdates(server).size(), 2u);
  EXPECT_FLOAT_EQ(RealUpdates(server)[1].fader, 0.0f);
  // Each update was built from the panel's record, which changes only when
  // the Server's status arrives.
  EXPECT_FLOAT_EQ(RealUpdates(server)[1].speed, 0.6f);

  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.deck_table()[0].fader == 0.0f; }));
  EXPECT_EQ(panel.deck_table()[0].change_mask, net::kMaskServerReply);
  panel.EndFaderDrag(0);
  EXPECT_FALSE(panel.fader(0).dragging());
  EXPECT_EQ(panel.fader(0).position(), 100);  // the Server's value
}

TEST(Panel, AtDragEndTheThumbShowsTheServersLastValue) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  panel.BeginSpeedDrag(3);
  panel.DragSpeed(3, 10);
  EXPECT_EQ(panel.speed(3).position(), 10);
  // Released before the Server answered: the thumb shows what the Server
  // last said, and the panel's record is unchanged.
  panel.EndSpeedDrag(3);
  EXPECT_EQ(panel.speed(3).position(), 25);
  EXPECT_FLOAT_EQ(panel.deck_table()[3].speed, 0.75f);
  // Then the Server's status arrives and the thumb follows it.
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.speed(3).position() == 10; }));
  ASSERT_EQ(RealUpdates(server).size(), 1u);
  EXPECT_EQ(RealUpdates(server)[0].change_mask, net::kMaskSpeed);
  EXPECT_FLOAT_EQ(RealUpdates(server)[0].speed, 0.9f);
  EXPECT_FLOAT_EQ(panel.deck_table()[3].speed, 0.9f);
}

TEST(Panel, StatusesDuringADragMoveTheThumbOnlyAfterIt) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  panel.BeginFaderDrag(1);
  panel.DragFader(1, 30);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.deck_table()[1].fader == 0.7f; }));
  // Another controller (here: the Server itself) moves the fader meanwhile.
  net::DeckRecord other = server.decks[1];
  other.fader = 0.2f;
  server.Send(net::DeckStatusMessage(other));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.deck_table()[1].fader == 0.2f; }));
  EXPECT_EQ(panel.fader(1).position(), 30);
  panel.EndFaderDrag(1);
  EXPECT_EQ(panel.fader(1).position(), 80);
}

TEST(Panel, ATrackbarThatIsNotDraggedSendsNothing) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  panel.DragFader(0, 50);  // no drag began: a click or a key step
  panel.DragSpeed(0, 50);
  ASSERT_TRUE(Barrier(&panel, &server));
  EXPECT_TRUE(RealUpdates(server).empty());
  EXPECT_EQ(panel.fader(0).position(), 0);
}

TEST(Panel, MixerAndBeatModeChoicesSendTheirMasks) {
  TestServer server;
  server.decks[5].fader = 0.4f;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  net::DeckRecord before = panel.deck_table()[5];
  panel.ChooseMixer(5, 7);
  panel.ChooseBeatMode(5, net::kBeatEndOnBeat);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.BeatModeChoiceIndex(5) == 2; }));
  auto updates = RealUpdates(server);
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0].change_mask, net::kMaskMixer);
  EXPECT_EQ(updates[0].mixer, 7);
  net::DeckRecord expected = before;
  expected.mixer = 7;
  EXPECT_TRUE(SameRecordBut(updates[0], expected));
  EXPECT_EQ(updates[1].change_mask, net::kMaskBeatMode);
  EXPECT_EQ(updates[1].beat_mode, net::kBeatEndOnBeat);
  // The second update was built before the first status came back.
  EXPECT_EQ(updates[1].mixer, before.mixer);
  EXPECT_EQ(panel.MixerChoiceIndex(5), 8);
  EXPECT_FLOAT_EQ(panel.deck_table()[5].fader, 0.4f);
}

TEST(Panel, BeatSettingsGoOutAsDeckMinusOne) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  panel.SendBeatSettings(30, 12, 0.25f);
  // The Server lowers the low bin to the high bin and answers with deck -1.
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.beat_settings().high_bin == 12; }));
  EXPECT_EQ(panel.beat_settings().low_bin, 12u);
  EXPECT_FLOAT_EQ(panel.beat_settings().threshold, 0.25f);
  net::DeckRecord sent = RealUpdates(server).at(0);
  EXPECT_EQ(sent.deck, -1);
  EXPECT_EQ(sent.change_mask, net::kMaskBeatSettings);
  EXPECT_EQ(sent.reserved, 0u);
  EXPECT_EQ(sent.fader, 0.0f);
  EXPECT_EQ(sent.speed, 0.0f);
  EXPECT_EQ(sent.mixer, 0);
  EXPECT_EQ(sent.effect_id, 0);
  // Deck records are untouched by beat settings.
  for (int deck = 0; deck < 6; ++deck) EXPECT_EQ(panel.deck_table()[static_cast<size_t>(deck)].deck, deck);
}

TEST(Panel, DisconnectEmptiesTheListsAndShowsNoEffectEverywhere) {
  TestServer server;
  for (auto& effect : server.effects) effect.loaded = true;
  for (int deck = 0; deck < 6; ++deck) {
    server.decks[deck].effect_id = deck % 3;
    server.decks[deck].fader = 0.5f;
  }
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  server.Send(net::PlayerStatusMessage(58));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.frame_rate_text() == "  58"; }));
  for (int deck = 0; deck < 6; ++deck) EXPECT_NE(panel.DeckEffectLabel(deck), "NO EFFECT");

  EXPECT_FALSE(panel.PressConnectButton());  // connected: the button disconnects
  EXPECT_EQ(panel.link_state(), LinkState::kDisconnected);
  EXPECT_EQ(panel.status(), "Disconnected");
  EXPECT_STREQ(panel.connect_button_text(), "Connect");
  EXPECT_TRUE(panel.unloaded_list().empty());
  EXPECT_TRUE(panel.loaded_list().empty());
  EXPECT_TRUE(panel.effects().empty());
  EXPECT_TRUE(panel.deck_table().empty());
  EXPECT_TRUE(panel.mixer_table().empty());
  EXPECT_TRUE(panel.mixer_choices().empty());
  ExpectAllDecksEmpty(panel);
  EXPECT_EQ(panel.fader(2).position(), 50);  // the last values stay in view
  EXPECT_EQ(panel.frame_rate_text(), "0");
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return !server.connected(); }));

  // Connecting again repeats the handshake and brings everything back.
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  EXPECT_EQ(panel.loaded_list().size(), 3u);
  EXPECT_EQ(server.connections, 2);
}

TEST(Panel, ALostServerShowsDisconnected) {
  auto server = std::make_unique<TestServer>();
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, server.get()));
  std::string where = "127.0.0.1:" + std::to_string(server->port());
  server.reset();
  ASSERT_TRUE(Pump({&panel}, {}, [&] { return !panel.connected(); }));
  EXPECT_EQ(panel.status(), "Disconnected");
  EXPECT_TRUE(panel.loaded_list().empty() && panel.unloaded_list().empty());
  ExpectAllDecksEmpty(panel);
  EXPECT_EQ(panel.log().front().rfind("Connection to " + where + " closed", 0), 0u) << panel.log().front();
  EXPECT_TRUE(panel.TakeAlerts().empty());  // a closed connection is no error box
}

TEST(Panel, FailedConnectLeavesThePanelDisconnected) {
  int port = 0;
  {
    net::ListenSocket probe;
    ASSERT_EQ(probe.Listen(0, "127.0.0.1"), 0);
    port = probe.Port();
  }  // nothing listens there now
  ControllerPanel panel;
  ASSERT_EQ(panel.Connect("127.0.0.1:" + std::to_string(port)), 0);
  EXPECT_EQ(panel.link_state(), LinkState::kConnecting);
  EXPECT_STREQ(panel.connect_button_text(), "Disconnect");  // aborts the attempt
  ASSERT_TRUE(Pump({&panel}, {}, [&] { return panel.link_state() == LinkState::kDisconnected; }));
  EXPECT_EQ(panel.status(), "Disconnected");
  ASSERT_FALSE(panel.log().empty());
  EXPECT_EQ(panel.log().front().rfind("Could not connect to 127.0.0.1:" + std::to_string(port), 0), 0u);
  EXPECT_TRUE(panel.TakeAlerts().empty());

  // A port that is not a port never starts.
  EXPECT_EQ(panel.Connect("127.0.0.1:http"), -1);
  EXPECT_EQ(panel.link_state(), LinkState::kDisconnected);
  EXPECT_NE(panel.log().front().find("Bad port"), std::string::npos);
}

TEST(Panel, TheConnectButtonAbortsAConnectInProgress) {
  TestServer server;  // never ticked: the connect stays pending or unanswered
  ControllerPanel panel;
  ASSERT_EQ(panel.Connect(server.Address()), 0);
  EXPECT_FALSE(panel.PressConnectButton());
  EXPECT_EQ(panel.link_state(), LinkState::kDisconnected);
  EXPECT_EQ(panel.status(), "Disconnected");
}

class VersionMismatch : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(VersionMismatch, IsRefusedWithTheMessageAndDisconnects) {
  TestServer server;
  server.major = static_cast<uint8_t>(GetParam().first);
  server.minor = static_cast<uint8_t>(GetParam().second);
  ControllerPanel panel;
  ASSERT_EQ(panel.Connect(server.Address()), 0);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return server.received_types.size() >= 1 && !panel.connected() &&
                                                       panel.link_state() == LinkState::kDisconnected; }));
  std::string text = "Server is running version " + std::to_string(static_cast<int8_t>(GetParam().first)) + "." +
                     std::to_string(static_cast<int8_t>(GetParam().second)) +
                     " and client is version 0.1. Can't establish connection";
  std::vector<std::string> alerts = panel.TakeAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], text);
  EXPECT_EQ(panel.log().front(), text);
  EXPECT_EQ(panel.status(), "Disconnected");
  EXPECT_TRUE(panel.unloaded_list().empty());
  // No list request followed the refused handshake.
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return !server.connected(); }));
  EXPECT_EQ(CountReceived(server, net::MSG_LIST_EFFECTS), 0);
}

INSTANTIATE_TEST_SUITE_P(Panel, VersionMismatch,
                         ::testing::Values(std::make_pair(0, 2), std::make_pair(1, 1), std::make_pair(255, 1)));

TEST(Panel, StatusesNamingUnknownEffectsOrDecksAreIgnored) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  std::vector<client::ListItem> unloaded = panel.unloaded_list();
  std::vector<net::DeckRecord> decks = panel.deck_table();

  net::EffectRecord ghost;
  ghost.id = 77;
  ghost.loaded = true;
  net::SetRecordText(ghost.name, "GHOST");
  server.Send(net::EffectStatusMessage(ghost));
  for (int32_t deck : {6, 7, -2, 1000000}) {
    net::DeckRecord record = net::DefaultDeckRecord(deck);
    record.fader = 0.1f;
    server.Send(net::DeckStatusMessage(record));
  }
  server.Send(net::PlayerStatusMessage(31));  // arrives after the rest
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.frame_rate_text() == "  31"; }));
  EXPECT_TRUE(panel.connected());
  EXPECT_TRUE(panel.loaded_list().empty());
  ASSERT_EQ(panel.unloaded_list().size(), unloaded.size());
  ASSERT_EQ(panel.deck_table().size(), decks.size());
  for (size_t i = 0; i < decks.size(); ++i) EXPECT_FLOAT_EQ(panel.deck_table()[i].fader, decks[i].fader);
}

TEST(Panel, ADeckHoldingAnEffectMissingFromTheListShowsItsRecordName) {
  TestServer server;
  server.decks[0].effect_id = 41;
  net::SetRecordText(server.decks[0].effect_name, "ELSEWHERE");
  server.decks[1].effect_id = 42;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  EXPECT_EQ(panel.DeckEffectLabel(0), "ELSEWHERE");
  EXPECT_EQ(panel.DeckEffectLabel(1), "EFFECT 42");
}

TEST(Panel, OutOfRangeValuesKeepTheThumbsInTheTrack) {
  TestServer server;
  server.decks[0].fader = 7.0f;
  server.decks[1].fader = -3.0f;
  server.decks[2].speed = std::numeric_limits<float>::quiet_NaN();
  server.decks[3].speed = std::numeric_limits<float>::infinity();
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  EXPECT_EQ(panel.fader(0).position(), 0);
  EXPECT_EQ(panel.fader(1).position(), 100);
  EXPECT_EQ(panel.speed(2).position(), 100);
  EXPECT_EQ(panel.speed(3).position(), 100);
  // A mixer number the list does not hold selects nothing.
  server.decks[4].mixer = 40;
  server.Send(net::DeckStatusMessage(server.decks[4]));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.deck_table()[4].mixer == 40; }));
  EXPECT_EQ(panel.MixerChoiceIndex(4), -1);
}

TEST(Panel, AStateWithOtherCountsShowsWhatItHolds) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));

  net::StateMessage small;
  for (int i = 0; i < 2; ++i) {
    net::EffectRecord effect;
    effect.id = 10 + i;
    net::SetRecordText(effect.name, i == 0 ? "ZETA" : "ALPHA");
    small.effects.push_back(effect);
  }
  for (int deck = 0; deck < 3; ++deck) small.decks.push_back(net::DefaultDeckRecord(deck));
  small.decks[1].effect_id = 11;
  net::MixerRecord mixer;
  mixer.index = 0;
  net::SetRecordText(mixer.name, "ONLYMIX");
  small.mixers.push_back(mixer);
  server.Send(small);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.deck_table().size() == 3; }));
  // Replaced, not appended.
  EXPECT_EQ(Texts(panel.unloaded_list()), (std::vector<std::string>{"ALPHA", "ZETA"}));
  EXPECT_EQ(panel.effects().size(), 2u);
  ASSERT_EQ(panel.mixer_choices().size(), 2u);
  EXPECT_EQ(panel.mixer_choices()[1].text, "ONLYMIX");
  EXPECT_EQ(panel.DeckEffectLabel(1), "ALPHA");
  for (int deck = 0; deck < 3; ++deck) EXPECT_TRUE(panel.HasDeck(deck));
  for (int deck = 3; deck < 6; ++deck) {
    EXPECT_FALSE(panel.HasDeck(deck));
    EXPECT_EQ(panel.DeckEffectLabel(deck), "NO EFFECT");
    EXPECT_EQ(panel.MixerChoiceIndex(deck), -1);
  }
  // Decks the Server did not describe send nothing.
  panel.SelectUnloaded(10, true);
  panel.ChooseMixer(4, 0);
  panel.BeginFaderDrag(5);
  panel.DragFader(5, 40);
  panel.UnloadDeck(3);
  ASSERT_TRUE(Barrier(&panel, &server));
  EXPECT_TRUE(RealUpdates(server).empty());
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);
  // A status for deck 4 is one the panel does not know now.
  server.Send(net::DeckStatusMessage(server.decks[4]));
  server.Send(net::PlayerStatusMessage(5));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.frame_rate_text() == "   5"; }));
  EXPECT_EQ(panel.deck_table().size(), 3u);

  // More decks than the panel shows: the first six are shown.
  net::StateMessage big;
  for (int deck = 0; deck < 9; ++deck) big.decks.push_back(net::DefaultDeckRecord(deck));
  big.decks[8].fader = 0.0f;
  server.Send(big);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.deck_table().size() == 9; }));
  EXPECT_TRUE(panel.effects().empty());
  for (int deck = 0; deck < 6; ++deck) EXPECT_TRUE(panel.HasDeck(deck));
  EXPECT_EQ(panel.mixer_choices().size(), 1u);  // NULL MIXER only
}

TEST(Panel, LogHoldsTheNewestLinesOnTop) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  const int lines = static_cast<int>(client::kMaxLogLines) + 5;
  for (int i = 0; i < lines; ++i) server.Send(net::LogEventMessage("line " + std::to_string(i)));
  server.Send(net::LogEventMessage(""));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return !panel.log().empty() && panel.log().front().empty(); }));
  EXPECT_EQ(panel.log().size(), client::kMaxLogLines);
  EXPECT_EQ(panel.log()[1], "line " + std::to_string(lines - 1));
  EXPECT_EQ(panel.log().back(), "line " + std::to_string(lines - static_cast<int>(client::kMaxLogLines) + 1));
}

TEST(Panel, FrameRateUsesFourColumns) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  server.Send(net::PlayerStatusMessage(7));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.frame_rate_text() == "   7"; }));
  server.Send(net::PlayerStatusMessage(123456));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.frame_rate_text() == "123456"; }));
  server.Send(net::PlayerStatusMessage(-1));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.frame_rate_text() == "  -1"; }));
}

TEST(Panel, SelectionsSurviveAListRebuild) {
  TestServer server;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  panel.SelectUnloaded(IdOf(panel, "BROKEN"), true);
  panel.SelectUnloaded(IdOf(panel, "TUNNEL"), true);
  panel.LoadSelected();  // BROKEN fails, TUNNEL moves over
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.loaded_list().size() == 1; }));
  ASSERT_EQ(Texts(panel.unloaded_list()), (std::vector<std::string>{"BROKEN", "PLASMA"}));
  EXPECT_TRUE(panel.unloaded_list()[0].selected);
  EXPECT_FALSE(panel.unloaded_list()[1].selected);
  EXPECT_FALSE(panel.loaded_list()[0].selected);  // a moved item starts unselected
}

TEST(Panel, TwoPanelsEachTalkToTheirOwnServer) {
  TestServer first, second;
  second.effects.resize(1);
  net::SetRecordText(second.effects[0].name, "ONLYONE");
  ControllerPanel a, b;
  ASSERT_TRUE(ConnectAndWaitForState(&a, &first));
  ASSERT_TRUE(ConnectAndWaitForState(&b, &second));
  EXPECT_EQ(a.unloaded_list().size(), 3u);
  ASSERT_EQ(b.unloaded_list().size(), 1u);
  EXPECT_EQ(b.unloaded_list()[0].text, "ONLYONE");

  b.SelectUnloaded(0, true);
  b.LoadSelected();
  a.ChooseMixer(0, 3);
  ASSERT_TRUE(Pump({&a, &b}, {&first, &second},
                   [&] { return b.loaded_list().size() == 1 && a.MixerChoiceIndex(0) == 4; }));
  EXPECT_EQ(CountReceived(first, net::MSG_LOAD_EFFECT), 0);
  EXPECT_EQ(CountReceived(second, net::MSG_LOAD_EFFECT), 1);
  EXPECT_TRUE(RealUpdates(second).empty());
  EXPECT_TRUE(a.loaded_list().empty());
  EXPECT_EQ(b.MixerChoiceIndex(0), 0);
  EXPECT_NE(a.status(), b.status());

  a.Disconnect();
  EXPECT_TRUE(b.connected());
  EXPECT_EQ(b.loaded_list().size(), 1u);
}

TEST(Panel, ConnectingAgainDropsTheOldConnectionFirst) {
  TestServer first, second;
  ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &first));
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &second));
  EXPECT_EQ(panel.status(), "Connected to 127.0.0.1:" + std::to_string(second.port()));
  ASSERT_TRUE(Pump({&panel}, {&first, &second}, [&] { return !first.connected(); }));
  EXPECT_EQ(panel.effects().size(), 3u);
}

// Against the real Server, in-process over loopback: connect, list, load,
// assign, update, disconnect. Added with the Server.
// TEST(PanelWithServer, ...)

}  // namespace

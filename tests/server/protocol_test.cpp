// The Server side of the protocol, against a fake Client over loopback:
// handshake, state, deck effects and updates, deck time, the connection
// take-over, the frame-rate report and everything a Client must not be
// able to break.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scene/metaballs.h"
#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

net::DeckRecord Update(int32_t deck, uint32_t mask) {
  net::DeckRecord record = net::DefaultDeckRecord(deck);
  record.change_mask = mask;
  return record;
}

TEST_F(ServerTest, HandshakeAnswersVersionZeroOne) {
  FakeClient client;
  StartAndConnect(&client);
  client.Send(net::ClientHandshakeMessage());
  auto reply = client.Await<net::ServerHandshakeMessage>();
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->major, 0);
  EXPECT_EQ(reply->minor, 1);
  EXPECT_NE(Trace().find("SERVER: Received client handshake.\n"), std::string::npos);
  EXPECT_NE(Trace().find("SERVER: Client connected.\n"), std::string::npos);
}

TEST_F(ServerTest, StateListsEffectsDecksMixersAndBeatSettings) {
  MakeEffect("Alpha", "a");
  MakeEffect("beta", "b");
  FakeClient client;
  StartAndConnect(&client);
  fx::SetBeatSettings(3, 12, 0.25f);
  client.Send(net::ListEffectsMessage());
  auto state = client.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);

  ASSERT_EQ(state->effects.size(), 2u);
  EXPECT_EQ(state->effects[0].id, 0);
  EXPECT_EQ(net::RecordText(state->effects[0].name), "ALPHA");
  EXPECT_EQ(state->effects[1].id, 1);
  EXPECT_EQ(net::RecordText(state->effects[1].name), "BETA");
  EXPECT_FALSE(state->effects[0].loaded);

  ASSERT_EQ(state->decks.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    const net::DeckRecord& deck = state->decks[i];
    EXPECT_EQ(deck.deck, i);
    EXPECT_EQ(deck.effect_id, -1);
    EXPECT_EQ(net::RecordText(deck.effect_name), "");
    EXPECT_EQ(deck.fader, 1.0f);
    EXPECT_EQ(deck.mixer, -1);
    EXPECT_EQ(deck.speed, 0.75f);
    EXPECT_EQ(deck.beat_mode, 0);
  }

  const char* const names[] = {"ALPHABLEND",   "BEATBLEND",           "INVERSEBEATBLEND", "WAVEBLEND",
                               "INVERSEWAVEBLEND", "ADDITIVE",        "BEATADDITIVE",     "INVERSEBEATADDITIVE",
                               "WAVEADDITIVE", "INVERSEWAVEADDITIVE"};
  ASSERT_EQ(state->mixers.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(state->mixers[i].index, i);
    EXPECT_EQ(net::RecordText(state->mixers[i].name), names[i]);
  }
  EXPECT_EQ(state->low_bin, 3u);
  EXPECT_EQ(state->high_bin, 12u);
  EXPECT_EQ(state->threshold, 0.25f);
}

TEST_F(ServerTest, DefaultBeatSettingsAreZeroTenHalf) {
  FakeClient client;
  StartAndConnect(&client);
  client.Send(net::ListEffectsMessage());
  auto state = client.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->low_bin, 0u);
  EXPECT_EQ(state->high_bin, 10u);
  EXPECT_EQ(state->threshold, 0.5f);
}

TEST_F(ServerTest, SetDeckEffectNamesTheEffectAndAnchorsItsTime) {
  MakeEffect("Tunnel", "t");
  FakeClient client;
  StartAndConnect(&client);
  clock.Advance(12.5);
  client.Send(net::SetDeckEffectMessage(0, 3));
  auto status = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->record.deck, 3);
  EXPECT_EQ(status->record.effect_id, 0);
  EXPECT_EQ(net::RecordText(status->record.effect_name), "TUNNEL");
  const server::Deck* deck = server::GetDeck(3);
  EXPECT_EQ(deck->start_time, clock.Seconds());
  EXPECT_EQ(deck->time_offset, 0.0);

  // Taking it off clears the name.
  client.Send(net::SetDeckEffectMessage(-1, 3));
  status = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->record.effect_id, -1);
  EXPECT_EQ(net::RecordText(status->record.effect_name), "");
}

TEST_F(ServerTest, DeckUpdateAppliesExactlyTheMaskedFields) {
  FakeClient client;
  StartAndConnect(&client);
  struct Case {
    uint32_t mask;
    float fader;
    int32_t mixer;
    float speed;
    int32_t beat_mode;
  };
  // Each update carries new values in every field; only the masked ones
  // may stick. The expected record accumulates.
  const Case cases[] = {
      {0, 1.0f, -1, 0.75f, 0},  // mask 0: nothing changes
      {net::kMaskFader, 0.25f, -1, 0.75f, 0},
      {net::kMaskMixer, 0.25f, 7, 0.75f, 0},
      {net::kMaskSpeed, 0.25f, 7, 0.9f, 0},
      {net::kMaskBeatMode, 0.25f, 7, 0.9f, 2},
      {net::kMaskBeatSettings, 0.25f, 7, 0.9f, 2},  // means nothing for a real deck
  };
  for (const Case& c : cases) {
    net::DeckRecord update = Update(2, c.mask);
    update.fader = 0.25f;
    update.mixer = 7;
    update.speed = 0.9f;
    update.beat_mode = 2;
    update.effect_id = 4;  // never taken over
    net::SetRecordText(update.effect_name, "HIJACK");
    update.low_bin = 20;
    client.Send(net::DeckUpdateMessage(update));
    auto status = client.Await<net::DeckStatusMessage>();
    ASSERT_NE(status, nullptr) << "mask " << c.mask;
    const net::DeckRecord& r = status->record;
    EXPECT_EQ(r.deck, 2);
    EXPECT_EQ(r.change_mask, 27u) << "mask " << c.mask;
    EXPECT_EQ(r.fader, c.fader) << "mask " << c.mask;
    EXPECT_EQ(r.mixer, c.mixer) << "mask " << c.mask;
    EXPECT_EQ(r.speed, c.speed) << "mask " << c.mask;
    EXPECT_EQ(r.beat_mode, c.beat_mode) << "mask " << c.mask;
    EXPECT_EQ(r.effect_id, -1);
    EXPECT_EQ(net::RecordText(r.effect_name), "");
  }
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 0);  // a deck's record never sets the detector
  // The state shows the stored record too, with its mask.
  client.Send(net::ListEffectsMessage());
  auto state = client.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->decks[2].change_mask, 27u);
  EXPECT_EQ(state->decks[2].mixer, 7);
  EXPECT_EQ(state->decks[1].change_mask, 0u);
}

TEST_F(ServerTest, BeatSettingsThroughDeckMinusOneAreClampedAndEchoed) {
  FakeClient client;
  StartAndConnect(&client);
  struct Case {
    uint32_t low, high;
    float threshold;
    uint32_t want_low, want_high;
    float want_threshold;
  };
  const Case cases[] = {
      {2, 20, 0.3f, 2, 20, 0.3f},
      {30, 5, 0.4f, 5, 5, 0.4f},                  // low above high comes down
      {200, 100, 0.4f, 64, 64, 0.4f},             // both past the 64 the detector reads
      {5, 0xFFFFFFFFu, 0.4f, 5, 64, 0.4f},        // "-1" on the wire is huge, not negative
      {0x80000000u, 0x80000000u, 0.6f, 64, 64, 0.6f},
      {1, 9, kNaN, 1, 9, 0.6f},                   // a NaN threshold is ignored
      {1, 9, kInf, 1, 9, 0.6f},
  };
  for (const Case& c : cases) {
    net::DeckRecord update = Update(-1, net::kMaskBeatSettings);
    update.low_bin = c.low;
    update.high_bin = c.high;
    update.threshold = c.threshold;
    client.Send(net::DeckUpdateMessage(update));
    auto status = client.Await<net::DeckStatusMessage>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->record.deck, -1);
    EXPECT_EQ(status->record.low_bin, c.want_low) << c.low << "," << c.high;
    EXPECT_EQ(status->record.high_bin, c.want_high) << c.low << "," << c.high;
    EXPECT_EQ(status->record.threshold, c.want_threshold);
    fx::BeatSettings stored = fx::GetBeatSettings();
    EXPECT_EQ(static_cast<uint32_t>(stored.low_bin), c.want_low);
    EXPECT_EQ(static_cast<uint32_t>(stored.high_bin), c.want_high);
    EXPECT_EQ(stored.threshold, c.want_threshold);
  }
  // Deck -1 without the beat-settings bit means nothing: no reply, no change.
  net::DeckRecord other = Update(-1, net::kMaskFader | net::kMaskSpeed);
  other.low_bin = 7;
  EXPECT_THAT(client.Exchange(net::DeckUpdateMessage(other)), IsEmpty());
  EXPECT_EQ(fx::GetBeatSettings().low_bin, 1);
}

TEST_F(ServerTest, DeckTimeWrapsForwardsBackwardsAndFreezes) {
  server::Deck deck;
  deck.start_time = 1000.0;
  deck.record.speed = 0.75f;  // rate 1
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1003.0, 10.0f), 3.0);
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1013.5, 10.0f), 3.5);
  deck.record.speed = 0.5f;  // rate 0
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1013.5, 10.0f), 0.0);
  deck.time_offset = 4.0;
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1999.0, 10.0f), 4.0);
  deck.time_offset = 0.0;
  deck.record.speed = 0.25f;  // rate -1: backwards, wrapping from 0 to L
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1001.0, 10.0f), 9.0);
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1012.0, 10.0f), 8.0);
  deck.record.speed = 1.0f;  // rate 2
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(&deck, 1004.0, 10.0f), 8.0);
  // No length: time 0.
  EXPECT_EQ(server::DeckEffectTime(&deck, 1004.0, 0.0f), 0.0);
}

TEST_F(ServerTest, SpeedChangeKeepsTheEffectTime) {
  MakeEffect("Tunnel", "t");
  FakeClient client;
  StartAndConnect(&client);
  EXPECT_THAT(Load(&client, 0), ElementsAre("Loaded effect TUNNEL"));
  client.Send(net::SetDeckEffectMessage(0, 0));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);

  clock.Advance(3.0);
  server::ServerTick();
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(server::GetDeck(0), clock.Seconds(), 10.0f), 3.0);
  net::DeckRecord faster = Update(0, net::kMaskSpeed);
  faster.speed = 1.0f;
  client.Send(net::DeckUpdateMessage(faster));
  auto status = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->record.speed, 1.0f);
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(server::GetDeck(0), clock.Seconds(), 10.0f), 3.0);

  // From there on it runs twice as fast; the effect sees it when drawn.
  clock.Advance(0.5);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render t 4.000"));
  // Back to normal speed at 4.0: still continuous.
  net::DeckRecord normal = Update(0, net::kMaskSpeed);
  normal.speed = 0.75f;
  client.Send(net::DeckUpdateMessage(normal));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  clock.Advance(1.0);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render t 5.000"));
}

TEST_F(ServerTest, PuttingAnEffectOnADeckStartsItFromItsBeginning) {
  MakeEffect("Tunnel", "t");
  FakeClient client;
  StartAndConnect(&client);
  Load(&client, 0);
  client.Send(net::SetDeckEffectMessage(0, 1));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  clock.Advance(7.25);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render t 7.250"));
  client.Send(net::SetDeckEffectMessage(0, 1));  // again: back to 0
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  clock.Advance(0.5);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render t 0.500"));
}

TEST_F(ServerTest, NewestConnectionReplacesTheCurrentOne) {
  FakeClient first, second;
  StartAndConnect(&first);
  ConnectAnother(&second);
  // The first one sees its connection closed.
  EXPECT_TRUE(testing_support::WaitUntil(
      [&] {
        server::ServerTick();
        net::ReceiveNetMessage(&first.link);
        return !first.connection.IsOpen();
      },
      10.0));
  // The second one is served.
  second.Send(net::ClientHandshakeMessage());
  EXPECT_NE(second.Await<net::ServerHandshakeMessage>(), nullptr);
  EXPECT_NE(Trace().find("SERVER: Incoming user.\nSERVER: Disconnecting current client.\nSERVER: Client connected.\n"),
            std::string::npos);
}

TEST_F(ServerTest, ClientThatLeavesIsDropped) {
  FakeClient client;
  StartAndConnect(&client);
  client.connection.Close();
  EXPECT_TRUE(testing_support::WaitUntil(
      [&] {
        server::ServerTick();
        return !server::ClientConnected();
      },
      10.0));
  EXPECT_NE(Trace().find("SERVER: Disconnecting current client.\n"), std::string::npos);
  // And a new one is welcome.
  FakeClient again;
  ConnectAnother(&again);
  again.Send(net::ClientHandshakeMessage());
  EXPECT_NE(again.Await<net::ServerHandshakeMessage>(), nullptr);
}

TEST_F(ServerTest, FrameRateIsReportedAboutOnceASecond) {
  FakeClient client;
  StartAndConnect(&client);
  std::vector<int32_t> reports;
  auto drain = [&] {
    while (auto message = net::ReceiveNetMessage(&client.link))
      if (auto* player = net::MessageAs<net::PlayerStatusMessage>(message.get()))
        reports.push_back(player->frames_per_second);
  };
  // 50 frames a second for a little over five seconds.
  for (int tick = 1; tick <= 260; ++tick) {
    clock.Advance(0.02);
    server::ServerTick();
    drain();
  }
  testing_support::WaitUntil(
      [&] {
        drain();
        return reports.size() >= 5;
      },
      5.0);
  drain();
  ASSERT_EQ(reports.size(), 5u);
  // The first second also counts the ticks that took the connection.
  EXPECT_GE(reports[0], 50);
  EXPECT_LE(reports[0], 55);
  for (size_t i = 1; i < reports.size(); ++i) {
    EXPECT_GE(reports[i], 49);
    EXPECT_LE(reports[i], 50);
  }
}

TEST_F(ServerTest, NoFramesAreCountedWithoutAClient) {
  Start();
  for (int i = 0; i < 10; ++i) {
    clock.Advance(0.5);
    server::ServerTick();
  }
  EXPECT_EQ(server::FramesSinceReport(), 0u);
  // A Client arriving after a long time starts a fresh second: its first
  // report is a real rate, not frames over all the time without it.
  FakeClient client;
  ConnectAnother(&client);
  for (int i = 0; i < 25; ++i) {
    clock.Advance(0.05);
    server::ServerTick();
  }
  auto player = client.Await<net::PlayerStatusMessage>();
  ASSERT_NE(player, nullptr);
  EXPECT_GE(player->frames_per_second, 19);
  EXPECT_LE(player->frames_per_second, 22);
}

TEST_F(ServerTest, UnknownEffectsAndDecksAreIgnoredWithoutReply) {
  MakeEffect("Tunnel", "t");
  FakeClient client;
  StartAndConnect(&client);
  net::LoadEffectMessage load_far(7, true), load_negative(-1, true), unload_far(99, false);
  net::SetDeckEffectMessage far_effect(1, 0), deck_six(0, 6), deck_negative(0, -1), deck_huge(0, 1 << 30);
  net::DeckUpdateMessage update_six(Update(6, net::kMaskFader)), update_minus_two(Update(-2, 31));
  auto replies = client.Exchange({&load_far, &load_negative, &unload_far, &far_effect, &deck_six, &deck_negative,
                                  &deck_huge, &update_six, &update_minus_two});
  EXPECT_THAT(replies, IsEmpty());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(server::GetDeck(i)->record.effect_id, -1);
  EXPECT_FALSE(server::FindEffect(0)->loaded);
  std::string trace = Trace();
  EXPECT_NE(trace.find("SERVER: Ignored load request for unknown effect ID 7.\n"), std::string::npos);
  EXPECT_NE(trace.find("SERVER: Ignored unknown effect ID 1 for deck 0.\n"), std::string::npos);
  EXPECT_NE(trace.find("SERVER: Ignored effect for unknown deck 6.\n"), std::string::npos);
  EXPECT_NE(trace.find("SERVER: Ignored an update of unknown deck -2.\n"), std::string::npos);
  // The Server goes on serving.
  client.Send(net::ListEffectsMessage());
  EXPECT_NE(client.Await<net::StateMessage>(), nullptr);
}

TEST_F(ServerTest, NonFiniteAndUnknownValuesLeaveTheDeckAsItWas) {
  MakeEffect("Tunnel", "t");
  FakeClient client;
  StartAndConnect(&client);
  Load(&client, 0);
  client.Send(net::SetDeckEffectMessage(0, 4));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  clock.Advance(2.0);

  const float bad_reals[] = {kNaN, kInf, -kInf};
  for (float bad : bad_reals) {
    net::DeckRecord update = Update(4, net::kMaskFader | net::kMaskSpeed | net::kMaskMixer | net::kMaskBeatMode);
    update.fader = bad;
    update.speed = bad;
    update.mixer = 10;      // past the list
    update.beat_mode = 3;   // no such mode
    client.Send(net::DeckUpdateMessage(update));
    auto status = client.Await<net::DeckStatusMessage>();
    ASSERT_NE(status, nullptr);
    // The reply shows what the deck really holds.
    EXPECT_EQ(status->record.fader, 1.0f);
    EXPECT_EQ(status->record.speed, 0.75f);
    EXPECT_EQ(status->record.mixer, -1);
    EXPECT_EQ(status->record.beat_mode, 0);
  }
  for (int32_t mixer : {-2, 11, 1 << 30}) {
    net::DeckRecord update = Update(4, net::kMaskMixer);
    update.mixer = mixer;
    client.Send(net::DeckUpdateMessage(update));
    auto status = client.Await<net::DeckStatusMessage>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->record.mixer, -1);
  }
  // The effect's time was not poisoned: it is still 2 s in.
  const server::Deck* deck = server::GetDeck(4);
  EXPECT_TRUE(std::isfinite(deck->time_offset));
  EXPECT_DOUBLE_EQ(server::DeckEffectTime(server::GetDeck(4), clock.Seconds(), 10.0f), 2.0);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render t 2.000"));
  EXPECT_NE(Trace().find("SERVER: Ignored a non-finite speed for deck 4.\n"), std::string::npos);
  EXPECT_NE(Trace().find("SERVER: Ignored a non-finite fader for deck 4.\n"), std::string::npos);
}

TEST_F(ServerTest, SpeedAndFaderOutsideTheirRangeAreClamped) {
  FakeClient client;
  StartAndConnect(&client);
  const std::pair<float, float> cases[] = {{5.0f, 1.0f}, {-3.0f, 0.0f}, {1e30f, 1.0f}, {0.25f, 0.25f}};
  for (auto [given, stored] : cases) {
    net::DeckRecord update = Update(0, net::kMaskSpeed | net::kMaskFader);
    update.speed = given;
    update.fader = given;
    client.Send(net::DeckUpdateMessage(update));
    auto status = client.Await<net::DeckStatusMessage>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->record.speed, stored) << given;
    // The fader echoed to every Client and saved in presets stays on its track.
    EXPECT_EQ(status->record.fader, stored) << given;
    EXPECT_EQ(server::GetDeck(0)->record.fader, stored) << given;
  }
}

TEST_F(ServerTest, LogGoesToTheClientAndRuntimeMessagesFollow) {
  FakeClient client;
  StartAndConnect(&client);
  server::ServerLog("Hello %d", 42);
  auto log = client.Await<net::LogEventMessage>();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->text, "Hello 42");
  // Messages raised while the show runs reach the Client's log, not a box.
  core::ShowError("Something broke: %s", "here");
  log = client.Await<net::LogEventMessage>();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->text, "Something broke: here");
  // A long line is cut to 200 characters and "..."; control bytes are
  // written out.
  std::string long_text(3000, 'x');
  server::ServerLog("%s", long_text.c_str());
  log = client.Await<net::LogEventMessage>();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->text, std::string(200, 'x') + "...");
  server::ServerLog("bell\a tab\t");
  log = client.Await<net::LogEventMessage>();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->text, "bell\\x07 tab\\x09");
}

TEST_F(ServerTest, ANewClientGetsTheLastFiftyLogLinesAfterItsHandshake) {
  Start();
  for (int i = 0; i < 60; ++i) server::ServerLog("line %d", i);  // before anyone listens
  FakeClient client;
  ASSERT_TRUE(client.Connect(server::ServerPort()));
  client.Exchange({});
  std::vector<std::string> logs = FakeClient::Logs(client.Exchange({}));
  ASSERT_EQ(logs.size(), 50u);
  EXPECT_EQ(logs.front(), "line 10");
  EXPECT_EQ(logs.back(), "line 59");
  // Only once per connection: later handshakes bring nothing again.
  EXPECT_TRUE(FakeClient::Logs(client.Exchange({})).empty());
  EXPECT_TRUE(FakeClient::Logs(client.Exchange({})).empty());
}

TEST_F(ServerTest, StartUpStepsRunInOrderAndShutdownReleases) {
  Start();
  std::string trace = Trace();
  const char* steps[] = {"SERVER: Starting up.\n",
                         "SERVER: Initializing display.\n",
                         "SERVER: 1 materials read from data/shaders/.\n",  // the NULL material
                         "SERVER: Initializing image manager.\n",
                         "SERVER: Initializing metaballs.\n",
                         "SERVER: Video stream system: FFmpeg's messages go to the trace.\n",
                         "SERVER: Listening on port "};
  size_t at = 0;
  for (const char* step : steps) {
    size_t found = trace.find(step, at);
    ASSERT_NE(found, std::string::npos) << step;
    at = found;
  }
  EXPECT_TRUE(server::ServerStarted());
  EXPECT_GT(server::ServerPort(), 0);
  EXPECT_EQ(fx::BeatListeners().size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_NE(server::GetDeck(i)->listener, nullptr);
  // The Server's material library is the current one while it runs.
  EXPECT_EQ(render::ShaderManagerDepth(), 1);
  ASSERT_NE(render::CurrentShaderManager(), nullptr);
  EXPECT_TRUE(render::CurrentShaderManager()->Initialized());
  EXPECT_TRUE(scene::MetaballsReady());
  int port = server::ServerPort();
  server::ShutdownServer();
  EXPECT_FALSE(scene::MetaballsReady());
  EXPECT_EQ(render::ShaderManagerDepth(), 0);
  EXPECT_FALSE(server::ServerStarted());
  EXPECT_EQ(server::ServerTick(), 0);
  EXPECT_TRUE(fx::BeatListeners().empty());
  EXPECT_EQ(render::GetDevice(), nullptr);
  net::Connection probe;
  EXPECT_NE(probe.ConnectAndWait("127.0.0.1", port, 2.0), 0);  // nobody listens any more
  server::ShutdownServer();  // twice is harmless
}

TEST_F(ServerTest, PortInUseFailsTheStartWithAMessage) {
  net::ListenSocket taken;
  ASSERT_EQ(taken.Listen(0, "127.0.0.1"), 0);
  server::ServerOptions options;
  options.headless = true;
  options.port = taken.Port();
  options.bind_address = "127.0.0.1";
  testing::internal::CaptureStderr();
  EXPECT_EQ(server::StartServer(options), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Cannot listen on port " + std::to_string(taken.Port())), std::string::npos) << err;
  EXPECT_FALSE(server::ServerStarted());
  EXPECT_EQ(render::GetDevice(), nullptr);  // what had started was released
  EXPECT_TRUE(fx::BeatListeners().empty());
}

// The program's own material scripts (the repository's data/, which the
// build links beside the program) are read at start-up into the Server's
// library; the install folder stands in for a show without data/shaders/.
TEST_F(ServerTest, TheProgramsOwnMaterialScriptsParseAtStartUp) {
  core::StopFileLayer();
  core::StartFileLayer(dir.path(), VJ_SOURCE_DIR);
  Start();
  render::ShaderManager* materials = render::CurrentShaderManager();
  ASSERT_NE(materials, nullptr);
  EXPECT_GT(materials->ShaderCount(), 3);
  for (const char* name : {"NULL", "WHITE", "ADDITIVE", "GLOW"}) EXPECT_GE(materials->FindShader(name), 0) << name;
  // A frame flushes the render queue with the Server's library current.
  render::DrawItem item;
  item.shader = materials->FindShader("WHITE");
  ASSERT_EQ(render::SubmitDrawItem(&item), 0);
  EXPECT_EQ(render::QueuedItemCount(materials->GetShaderByHandle(item.shader)->priority), 1);
  server::ServerTick();
  for (int bucket = 0; bucket < render::kPriorityCount; ++bucket) EXPECT_EQ(render::QueuedItemCount(bucket), 0);
}

TEST_F(ServerTest, AFaultyMaterialScriptOfTheShowFailsTheStart) {
  testing_support::MakeDirs(dir / "data/shaders");
  testing_support::WriteFile(dir / "data/shaders/broken.txt", "<SHADER> <NAME> \"X\" </NAME>");
  server::ServerOptions options;
  options.headless = true;
  options.port = 0;
  options.bind_address = "127.0.0.1";
  testing::internal::CaptureStderr();
  EXPECT_EQ(server::StartServer(options), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error parsing shaders"), std::string::npos) << err;
  EXPECT_FALSE(server::ServerStarted());
  EXPECT_EQ(render::ShaderManagerDepth(), 0);  // the library was taken down again
  EXPECT_EQ(render::GetDevice(), nullptr);
}

TEST_F(ServerTest, TickWithoutDecksSleepsOnTheProgramClock) {
  // An injected clock that records the pauses it is asked for.
  struct SleepRecorder final : core::Clock {
    double Seconds() override { return now; }
    void Sleep(double seconds) override { sleeps.push_back(seconds); }
    double now = 1000.0;
    std::vector<double> sleeps;
  } recorder;
  core::SetProgramClock(&recorder);
  Start();
  EXPECT_EQ(server::ServerTick(), 1);
  EXPECT_FALSE(server::LastTickDrewDeck());
  EXPECT_THAT(recorder.sleeps, ElementsAre(0.010));
  core::SetProgramClock(&clock);
}

}  // namespace
}  // namespace server_test

// vjctl end to end: the real program as a child process against the fake
// Server ticking on a thread of the test.
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/net/fake_server.h"
#include "tests/support/support.h"

namespace {

using testing_support::Child;
using testing_support::ChildResult;
using testing_support::FakeServer;
using testing_support::FakeServerThread;
using testing_support::RunChild;
using testing_support::WaitUntil;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Vjctl : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(server_.Start(), 0); }

  // Runs vjctl against the fake Server with the given command words.
  ChildResult Run(std::vector<std::string> words, double timeout = 5.0) {
    std::vector<std::string> args = {VJCTL_PROGRAM, "--host", "127.0.0.1",
                                     "--port=" + std::to_string(server_.port()),
                                     "--timeout=" + std::to_string(timeout)};
    args.insert(args.end(), words.begin(), words.end());
    FakeServerThread ticking(&server_);
    ticking.Run();
    ChildResult result = RunChild(args, {}, 30.0);
    ticking.Stop();
    return result;
  }

  FakeServer server_;
};

TEST(VjctlHelp, DocumentsTheCommandsAndTheTakeOver) {
  ChildResult result = RunChild({VJCTL_PROGRAM, "--help"});
  EXPECT_EQ(result.exit_code, 0);
  for (const char* part : {"--host", "--port", "state", "load EFFECT", "unload EFFECT",
                           "deck N EFFECT", "deck N off", "fader=F", "beat [low=L]", "watch",
                           "takes the connection over", "Exit status"})
    EXPECT_TRUE(Contains(result.out, part)) << part;
}

TEST(VjctlHelp, UsageErrorsExitWithTwoBeforeConnecting) {
  // Port 1 never answers: a usage error must be found before any connect.
  for (std::vector<std::string> words : std::vector<std::vector<std::string>>{
           {},
           {"dance"},
           {"load"},
           {"deck", "7", "TUNNEL"},
           {"deck", "0", "off"},
           {"set", "1"},
           {"set", "1", "fader=2"},
           {"set", "1", "speed=abc"},
           {"set", "1", "fader=nan"},
           {"set", "1", "speed=0.5x"},
           {"beat", "threshold=inf"},
           {"set", "1", "colour=red"},
           {"set", "1", "beat=SOMETIMES"},
           {"beat", "low=-1"},
           {"state", "extra"},
           {"--port", "99999", "state"},
           {"--bogus", "state"}}) {
    std::vector<std::string> args = {VJCTL_PROGRAM, "--port=1"};
    args.insert(args.end(), words.begin(), words.end());
    ChildResult result = RunChild(args, {}, 10.0);
    EXPECT_EQ(result.exit_code, 2) << (words.empty() ? "(none)" : words[0]) << ": " << result.err;
    EXPECT_TRUE(Contains(result.err, "vjctl: ")) << result.err;
    EXPECT_FALSE(Contains(result.err, "connect")) << result.err;
  }
}

TEST(VjctlHelp, ARefusedConnectionExitsWithOneAndAReason) {
  int port = 0;
  {
    FakeServer gone;
    ASSERT_EQ(gone.Start(), 0);
    port = gone.port();
  }
  ChildResult result =
      RunChild({VJCTL_PROGRAM, "--host=127.0.0.1", "--port", std::to_string(port), "state"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "refused")) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST_F(Vjctl, StateListsEffectsDecksMixersAndBeatSettings) {
  server_.effects[1].loaded = true;
  server_.decks[2].effect_id = 1;
  net::SetRecordText(server_.decks[2].effect_name, "PLASMA");
  server_.decks[2].mixer = 5;
  server_.decks[2].beat_mode = net::kBeatStartOnBeat;
  ChildResult result = Run({"state"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::string& out = result.out;
  EXPECT_TRUE(Contains(out, "effects: 3")) << out;
  EXPECT_TRUE(Contains(out, "effect 0: TUNNEL, not loaded")) << out;
  EXPECT_TRUE(Contains(out, "effect 1: PLASMA, loaded")) << out;
  EXPECT_TRUE(Contains(out, "decks: 6")) << out;
  EXPECT_TRUE(Contains(out, "deck 1: no effect, fader 1.000, speed 0.750, mixer NULL MIXER (-1), beat FREE"))
      << out;
  EXPECT_TRUE(Contains(out, "deck 3: PLASMA (1), fader 1.000, speed 0.750, mixer ADDITIVE (5), beat START ON BEAT"))
      << out;
  EXPECT_TRUE(Contains(out, "mixers: 11")) << out;
  EXPECT_TRUE(Contains(out, "mixer -1: NULL MIXER")) << out;
  EXPECT_TRUE(Contains(out, "mixer 9: INVERSEWAVEADDITIVE")) << out;
  EXPECT_TRUE(Contains(out, "beat: low 2, high 20, threshold 0.500")) << out;
  // The fake Server saw the handshake and the list request, in order.
  EXPECT_EQ(server_.received_types,
            (std::vector<uint32_t>{net::MSG_CLIENT_HANDSHAKE, net::MSG_LIST_EFFECTS}));
}

// Without --port, vjctl finds the Server where the Server itself looks:
// $VJ_PORT.
TEST_F(Vjctl, TheDefaultPortComesFromVjPort) {
  FakeServerThread ticking(&server_);
  ticking.Run();
  ChildResult result = RunChild({VJCTL_PROGRAM, "--host=127.0.0.1", "--timeout=5", "state"},
                                {"VJ_PORT=" + std::to_string(server_.port())}, 30.0);
  ticking.Stop();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "effects: 3")) << result.out;
}

TEST_F(Vjctl, LoadAndUnloadByNameOrIdReportTheServersAnswer) {
  ChildResult result = Run({"load", "tunnel"});  // names match without regard to case
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "log: Loaded effect TUNNEL")) << result.out;
  EXPECT_TRUE(Contains(result.out, "effect 0: TUNNEL, loaded")) << result.out;
  EXPECT_TRUE(server_.effects[0].loaded);

  result = Run({"unload", "0"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "effect 0: TUNNEL, not loaded")) << result.out;
  EXPECT_FALSE(server_.effects[0].loaded);

  result = Run({"unload", "PLASMA"});  // not loaded: the Server refuses
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "vjctl: Failed to unload effect PLASMA")) << result.err;

  result = Run({"load", "BROKEN"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "vjctl: Failed to load effect BROKEN")) << result.err;

  result = Run({"load", "NOSUCH"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "unknown effect 'NOSUCH'")) << result.err;
  result = Run({"load", "17"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "unknown effect ID 17")) << result.err;
}

TEST_F(Vjctl, DeckPutsALoadedEffectOnAndTakesItOff) {
  server_.effects[0].loaded = true;
  ChildResult result = Run({"deck", "2", "TUNNEL"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "deck 2: TUNNEL (0)")) << result.out;
  EXPECT_EQ(server_.decks[1].effect_id, 0);

  result = Run({"deck", "2", "PLASMA"});  // not loaded: refused before sending
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "PLASMA is not loaded")) << result.err;
  EXPECT_EQ(server_.decks[1].effect_id, 0);

  result = Run({"deck", "2", "off"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "deck 2: no effect")) << result.out;
  EXPECT_EQ(server_.decks[1].effect_id, -1);
}

TEST_F(Vjctl, SetSendsOnlyTheChosenFieldsFromTheDecksCurrentRecord) {
  server_.decks[0].fader = 0.25f;
  server_.decks[0].speed = 0.6f;
  ChildResult result = Run({"set", "1", "mixer=additive", "beat=END"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ASSERT_EQ(server_.received_updates.size(), 1u);
  const net::DeckRecord& update = server_.received_updates[0];
  EXPECT_EQ(update.deck, 0);
  EXPECT_EQ(update.change_mask, net::kMaskMixer | net::kMaskBeatMode);
  EXPECT_EQ(update.mixer, 5);
  EXPECT_EQ(update.beat_mode, net::kBeatEndOnBeat);
  EXPECT_EQ(update.fader, 0.25f);  // copied from the deck, not applied
  EXPECT_TRUE(Contains(result.out,
                       "deck 1: no effect, fader 0.250, speed 0.600, mixer ADDITIVE (5), beat END ON BEAT"))
      << result.out;

  result = Run({"set", "6", "fader=0.5", "speed=1", "mixer=-1", "beat=1"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ASSERT_EQ(server_.received_updates.size(), 2u);
  const net::DeckRecord& second = server_.received_updates[1];
  EXPECT_EQ(second.deck, 5);
  EXPECT_EQ(second.change_mask, net::kMaskServerReply);
  EXPECT_EQ(server_.decks[5].fader, 0.5f);
  EXPECT_EQ(server_.decks[5].speed, 1.0f);
  EXPECT_EQ(server_.decks[5].beat_mode, net::kBeatStartOnBeat);

  result = Run({"set", "1", "mixer=SMOOTH"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "unknown mixer 'SMOOTH'")) << result.err;
  result = Run({"set", "1", "mixer=10"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(server_.received_updates.size(), 2u);
}

TEST_F(Vjctl, BeatKeepsTheSettingsNotGiven) {
  ChildResult result = Run({"beat", "high=40", "threshold=0.25"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ASSERT_EQ(server_.received_updates.size(), 1u);
  const net::DeckRecord& update = server_.received_updates[0];
  EXPECT_EQ(update.deck, -1);
  EXPECT_EQ(update.change_mask, net::kMaskBeatSettings);
  EXPECT_EQ(update.low_bin, 2u);
  EXPECT_EQ(update.high_bin, 40u);
  EXPECT_EQ(update.threshold, 0.25f);
  EXPECT_TRUE(Contains(result.out, "beat: low 2, high 40, threshold 0.250")) << result.out;
  // The Server's answer is what is printed (it lowers a low bin above high).
  result = Run({"beat", "low=50"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "beat: low 40, high 40")) << result.out;
}

TEST_F(Vjctl, AServerOfAnotherVersionIsRefused) {
  server_.minor = 2;
  ChildResult result = Run({"state"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err,
                       "Server is running version 0.2 and client is version 0.1. Can't establish "
                       "connection"))
      << result.err;
  EXPECT_EQ(server_.received_types, (std::vector<uint32_t>{net::MSG_CLIENT_HANDSHAKE}));
}

TEST_F(Vjctl, NoReplyWithinTheTimeOutFails) {
  server_.answer = false;
  ChildResult result = Run({"state"}, 0.3);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "no reply with the handshake within 0.3 s")) << result.err;
}

TEST_F(Vjctl, WatchPrintsEventsUntilInterrupted) {
  FakeServerThread ticking(&server_);
  ticking.Run();
  Child child({VJCTL_PROGRAM, "--host=127.0.0.1", "--port=" + std::to_string(server_.port()),
               "watch"});
  ASSERT_TRUE(WaitUntil([&] { return Contains(child.Stdout(), "watching"); }, 10.0))
      << child.Stderr();
  server_.Post([](FakeServer& s) {
    s.Send(net::LogEventMessage("Loaded effect TUNNEL"));
    s.Send(net::PlayerStatusMessage(58));
    net::DeckRecord deck = s.decks[3];
    deck.fader = 0.5f;
    s.Send(net::DeckStatusMessage(deck));
    net::EffectRecord effect = s.effects[0];
    effect.loaded = true;
    s.Send(net::EffectStatusMessage(effect));
  });
  EXPECT_TRUE(WaitUntil([&] { return Contains(child.Stdout(), "effect 0: TUNNEL, loaded"); }, 10.0))
      << child.Stdout();
  child.Signal(SIGINT);
  ChildResult result = child.Wait(10.0);
  ticking.Stop();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "log: Loaded effect TUNNEL")) << result.out;
  EXPECT_TRUE(Contains(result.out, "fps: 58")) << result.out;
  EXPECT_TRUE(Contains(result.out, "deck 4: no effect, fader 0.500")) << result.out;
}

TEST_F(Vjctl, WatchEndsWithOneWhenTheServerDropsIt) {
  FakeServerThread ticking(&server_);
  ticking.Run();
  Child child({VJCTL_PROGRAM, "--host=127.0.0.1", "--port=" + std::to_string(server_.port()),
               "watch"});
  ASSERT_TRUE(WaitUntil([&] { return Contains(child.Stdout(), "watching"); }, 10.0));
  // A newer controller takes over; the Server closes vjctl's connection.
  net::Connection newer;
  ASSERT_EQ(newer.ConnectAndWait("127.0.0.1", server_.port(), 5.0), 0);
  ChildResult result = child.Wait(10.0);
  ticking.Stop();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(Contains(result.err, "connection closed by the Server")) << result.err;
  EXPECT_EQ(server_.connections, 2);
}

}  // namespace

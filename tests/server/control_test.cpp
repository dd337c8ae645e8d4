// The Server's tempo over the protocol (taps, beat off, the tempo status)
// and its OSC address space: every address with good and bad arguments,
// through real UDP datagrams, and the deck status a connected Client gets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <limits>

#include <lo/lo.h>

#include "show/preset.h"
#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST_F(ServerTest, TapsAndBeatOffFromTheClientSetTheServersTempo) {
  FakeClient client;
  StartAndConnect(&client);
  client.Send(net::ListEffectsMessage());
  ASSERT_NE(client.Await<net::StateMessage>(), nullptr);
  auto first = client.Await<net::TempoStatusMessage>();  // right after the state
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->period_ms, 0u);
  EXPECT_FALSE(first->beat_disabled);

  client.Send(net::TapMessage());
  auto one = client.Await<net::TempoStatusMessage>();  // every tap is answered
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->period_ms, 0u);
  clock.Advance(0.5);
  client.Send(net::TapMessage());
  auto two = client.Await<net::TempoStatusMessage>();
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->period_ms, 500u);
  EXPECT_EQ(fx::TappedPeriodMs(), 500u);
  // The status repeats about once a second with the time since the beat.
  clock.Advance(0.5);
  EXPECT_EQ(client.Await<net::TempoStatusMessage>(0.2), nullptr);
  clock.Advance(0.6);
  auto repeat = client.Await<net::TempoStatusMessage>();
  ASSERT_NE(repeat, nullptr);
  EXPECT_EQ(repeat->since_beat_ms, 1100u);

  client.Send(net::BeatDisableMessage());
  auto off = client.Await<net::TempoStatusMessage>();
  ASSERT_NE(off, nullptr);
  EXPECT_TRUE(off->beat_disabled);
  EXPECT_TRUE(fx::BeatDisabled());
  client.Send(net::BeatDisableMessage());
  auto on = client.Await<net::TempoStatusMessage>();
  ASSERT_NE(on, nullptr);
  EXPECT_FALSE(on->beat_disabled);
}

// --- OSC -------------------------------------------------------------------

Bytes Osc(const char* path, const std::function<void(lo_message)>& fill = {}) {
  lo_message message = lo_message_new();
  if (fill) fill(message);
  size_t size = 0;
  void* data = lo_message_serialise(message, path, nullptr, &size);
  Bytes bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  free(data);
  lo_message_free(message);
  return bytes;
}
std::function<void(lo_message)> F(float value) {
  return [value](lo_message m) { lo_message_add_float(m, value); };
}
std::function<void(lo_message)> I(int32_t value) {
  return [value](lo_message m) { lo_message_add_int32(m, value); };
}
std::function<void(lo_message)> S(std::string value) {
  return [value](lo_message m) { lo_message_add_string(m, value.c_str()); };
}

class OscTest : public ServerTest {
 protected:
  void StartWithOsc(const std::string& preset = "") {
    MakeEffect("Red", "red");
    MakeEffect("Green", "green");
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    options.osc_port = 0;
    if (!preset.empty()) {
      options.preset_file = preset;
      options.recall_page = 0;
      options.recall_letter = 0;
    }
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
    ASSERT_GT(server::OscPort(), 0);
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    to_.sin_family = AF_INET;
    to_.sin_port = htons(static_cast<uint16_t>(server::OscPort()));
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    ServerTest::TearDown();
  }
  // Sends one datagram and ticks until the Server has counted it.
  void Send(const Bytes& bytes) {
    ASSERT_EQ(sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_),
              static_cast<ssize_t>(bytes.size()));
    const server::OscCounts before = server::GetOscCounts();
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] {
          server::ServerTick();
          const server::OscCounts now = server::GetOscCounts();
          return now.accepted + now.rejected + now.malformed > before.accepted + before.rejected + before.malformed;
        },
        5.0));
  }
  int fd_ = -1;
  sockaddr_in to_{};
};

TEST_F(OscTest, EveryAddressTakesGoodArgumentsAndRefusesBadOnes) {
  StartWithOsc();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto deck = [](int d) { return server::GetDeck(d)->record; };
  struct Case {
    const char* what;
    Bytes datagram;
    bool accepted;
    std::function<bool()> holds;  // the state afterwards
  };
  const std::vector<Case> cases = {
      {"fader", Osc("/vj/deck/1/fader", F(0.25f)), true, [&] { return deck(0).fader == 0.25f; }},
      {"fader as a string", Osc("/vj/deck/1/fader", S("0.9")), false, [&] { return deck(0).fader == 0.25f; }},
      {"fader NaN", Osc("/vj/deck/1/fader", F(nan)), false, [&] { return deck(0).fader == 0.25f; }},
      {"fader without a value", Osc("/vj/deck/1/fader"), false, [&] { return deck(0).fader == 0.25f; }},
      {"fader as an int", Osc("/vj/deck/1/fader", I(0)), true, [&] { return deck(0).fader == 0.0f; }},
      {"deck 7", Osc("/vj/deck/7/fader", F(0.5f)), false, [] { return true; }},
      {"deck 0", Osc("/vj/deck/0/fader", F(0.5f)), false, [] { return true; }},
      {"speed", Osc("/vj/deck/2/speed", F(0.25f)), true, [&] { return deck(1).speed == 0.25f; }},
      {"speed out of range is kept in 0-1", Osc("/vj/deck/2/speed", F(3.0f)), true,
       [&] { return deck(1).speed == 1.0f; }},
      {"speed infinite", Osc("/vj/deck/2/speed", F(-inf)), false, [&] { return deck(1).speed == 1.0f; }},
      {"mixer", Osc("/vj/deck/3/mixer", I(2)), true, [&] { return deck(2).mixer == 2; }},
      {"mixer as a whole float", Osc("/vj/deck/3/mixer", F(1.0f)), true, [&] { return deck(2).mixer == 1; }},
      {"mixer as a fraction", Osc("/vj/deck/3/mixer", F(2.5f)), false, [&] { return deck(2).mixer == 1; }},
      {"mixer unknown", Osc("/vj/deck/3/mixer", I(99)), false, [&] { return deck(2).mixer == 1; }},
      {"NULL mixer", Osc("/vj/deck/3/mixer", I(-1)), true, [&] { return deck(2).mixer == net::kNullMixer; }},
      {"beat mode", Osc("/vj/deck/4/beatmode", I(2)), true,
       [&] { return deck(3).beat_mode == net::kBeatEndOnBeat; }},
      {"beat mode unknown", Osc("/vj/deck/4/beatmode", I(3)), false,
       [&] { return deck(3).beat_mode == net::kBeatEndOnBeat; }},
      {"effect by name, any case", Osc("/vj/deck/5/effect", S("green")), true,
       [&] { return deck(4).effect_id == EffectId("GREEN"); }},
      {"effect unknown", Osc("/vj/deck/5/effect", S("BLUE")), false,
       [&] { return deck(4).effect_id == EffectId("GREEN"); }},
      {"effect by ID", Osc("/vj/deck/5/effect", I(EffectId("RED"))), true,
       [&] { return deck(4).effect_id == EffectId("RED"); }},
      {"effect ID unknown", Osc("/vj/deck/5/effect", I(99)), false,
       [&] { return deck(4).effect_id == EffectId("RED"); }},
      {"effect off", Osc("/vj/deck/5/effect", I(-1)), true, [&] { return deck(4).effect_id == -1; }},
      {"deck field unknown", Osc("/vj/deck/1/volume", F(1.0f)), false, [] { return true; }},
      {"tap", Osc("/vj/tap"), true, [] { return fx::LastTapMs() != 0; }},
      {"tap with an argument", Osc("/vj/tap", I(1)), false, [] { return true; }},
      {"beat off", Osc("/vj/beatoff", I(1)), true, [] { return fx::BeatDisabled(); }},
      {"beat off again stays off", Osc("/vj/beatoff", F(1.0f)), true, [] { return fx::BeatDisabled(); }},
      {"beat off 2", Osc("/vj/beatoff", I(2)), false, [] { return fx::BeatDisabled(); }},
      {"beat on", Osc("/vj/beatoff", I(0)), true, [] { return !fx::BeatDisabled(); }},
      {"low bin", Osc("/vj/beat/low", I(3)), true, [] { return fx::GetBeatSettings().low_bin == 3; }},
      {"low bin negative", Osc("/vj/beat/low", I(-1)), false, [] { return fx::GetBeatSettings().low_bin == 3; }},
      {"high bin beyond 64 is kept at 64", Osc("/vj/beat/high", I(500)), true,
       [] { return fx::GetBeatSettings().high_bin == fx::kMaxBeatBin; }},
      {"threshold", Osc("/vj/beat/threshold", F(0.3f)), true,
       [] { return fx::GetBeatSettings().threshold == 0.3f; }},
      {"threshold NaN", Osc("/vj/beat/threshold", F(nan)), false,
       [] { return fx::GetBeatSettings().threshold == 0.3f; }},
      {"master", Osc("/vj/master", F(0.25f)), true, [] { return server::MasterLevel() == 0.25f; }},
      {"master beyond 1 is kept at 1", Osc("/vj/master", I(3)), true, [] { return server::MasterLevel() == 1.0f; }},
      {"master NaN", Osc("/vj/master", F(nan)), false, [] { return server::MasterLevel() == 1.0f; }},
      {"blackout", Osc("/vj/blackout", I(1)), true, [] { return server::Blackout() && server::MasterLevel() == 1.0f; }},
      {"blackout 2", Osc("/vj/blackout", I(2)), false, [] { return server::Blackout(); }},
      {"blackout off", Osc("/vj/blackout", F(0.0f)), true, [] { return !server::Blackout(); }},
      {"recall without a start-up preset", Osc("/vj/recall", S("Q")), false, [] { return true; }},
      {"unknown address", Osc("/vj/flash"), false, [] { return true; }},
  };
  for (const Case& c : cases) {
    const server::OscCounts before = server::GetOscCounts();
    Send(c.datagram);
    const server::OscCounts after = server::GetOscCounts();
    EXPECT_EQ(after.accepted - before.accepted, c.accepted ? 1u : 0u) << c.what;
    EXPECT_EQ(after.rejected - before.rejected, c.accepted ? 0u : 1u) << c.what;
    EXPECT_TRUE(c.holds()) << c.what;
  }
  // Datagrams that are not OSC at all, the largest there is among them.
  Send(Bytes{0xDE, 0xAD, 0xBE, 0xEF});
  Send(Bytes(65507, 0x2F));
  EXPECT_EQ(server::GetOscCounts().malformed, 2u);
  // Each refusal is traced with its reason.
  EXPECT_NE(Trace().find("SERVER: OSC /vj/flash: unknown address"), std::string::npos);
}

TEST_F(OscTest, RecallTakesABindingOfTheStartUpPresetOrOfAFile) {
  auto bank = show::NewPresetBank();
  net::SetRecordText(bank->bindings[0][0].decks[0].effect_name, "RED");  // A: RED on deck 1
  net::SetRecordText(bank->bindings[2][16].decks[1].effect_name, "GREEN");  // 3Q: GREEN on deck 2
  bank->bindings[2][16].decks[1].fader = 0.5f;
  const std::string preset = dir / "show.HVR";
  ASSERT_EQ(show::SavePresetFile(preset.c_str(), *bank), 0);
  StartWithOsc(preset);
  server::ServerTick();  // the start-up recall: A
  ASSERT_EQ(server::GetDeck(0)->record.effect_id, EffectId("RED"));
  // GREEN must be loaded for a recall to put it on its deck.
  FakeClient client;
  ConnectAnother(&client);
  Load(&client, EffectId("GREEN"));
  Send(Osc("/vj/recall", S("3Q")));
  EXPECT_EQ(server::GetDeck(1)->record.effect_id, EffectId("GREEN"));
  EXPECT_EQ(server::GetDeck(1)->record.fader, 0.5f);
  EXPECT_EQ(server::GetDeck(0)->record.effect_id, -1);  // the binding leaves deck 1 empty
  Send(Osc("/vj/recall", [&](lo_message m) {
    lo_message_add_string(m, preset.c_str());
    lo_message_add_string(m, "A");
  }));
  EXPECT_EQ(server::GetDeck(0)->record.effect_id, EffectId("RED"));
  const uint64_t refused = server::GetOscCounts().rejected;
  Send(Osc("/vj/recall", S("9")));                  // no such key
  Send(Osc("/vj/recall", [&](lo_message m) {         // no such file
    lo_message_add_string(m, (dir / "missing.HVR").c_str());
    lo_message_add_string(m, "A");
  }));
  EXPECT_EQ(server::GetOscCounts().rejected, refused + 2);
}

TEST_F(OscTest, TheConnectedClientHearsEveryChange) {
  StartWithOsc();
  FakeClient client;
  ConnectAnother(&client);
  Send(Osc("/vj/deck/6/fader", F(0.75f)));
  auto status = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->record.deck, 5);
  EXPECT_EQ(status->record.fader, 0.75f);
  Send(Osc("/vj/beat/threshold", F(0.125f)));
  auto beat = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(beat, nullptr);
  EXPECT_EQ(beat->record.deck, -1);
  EXPECT_EQ(beat->record.threshold, 0.125f);
}

TEST_F(ServerTest, AnOscPortThatIsTakenFailsTheStart) {
  const int taken = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(taken, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
  server::ServerOptions options;
  options.headless = true;
  options.port = 0;
  options.bind_address = "127.0.0.1";
  options.osc_port = ntohs(address.sin_port);
  EXPECT_EQ(server::StartServer(options), -1);
  EXPECT_FALSE(server::ServerStarted());
  close(taken);
}

}  // namespace
}  // namespace server_test

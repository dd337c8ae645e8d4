// A show started from a preset: the Server loads the effects a binding
// names at start-up and puts them on the decks on its first tick, as a
// recall from a panel without Shift would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "show/preset.h"
#include "tests/server/server_fixture.h"

namespace {

using server_test::FakeClient;
using server_test::MarkerLog;
using server_test::MarkerLogWithoutRenders;
using server_test::ServerTest;
using testing::ElementsAre;

class StartupPreset : public ServerTest {
 protected:
  int StartWith(const std::string& preset, const char* key) {
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    options.preset_file = preset;
    EXPECT_EQ(show::ParseBindingKey(key, &options.recall_page, &options.recall_letter), 0);
    int result = server::StartServer(options);
    core::MarkStartupFinished(true);
    return result;
  }
  std::string SaveBank(const show::PresetBank& bank) {
    std::string path = dir / "show.HVR";
    EXPECT_EQ(show::SavePresetFile(path.c_str(), bank), 0);
    return path;
  }
};

TEST_F(StartupPreset, LoadsTheBindingsEffectsAndPutsThemOnTheDecksOnTheFirstTick) {
  MakeEffect("Tunnel", "tunnel");
  MakeEffect("Plasma", "plasma");
  MakeEffect("Unused", "unused");
  auto bank = show::NewPresetBank();
  show::Binding& q3 = bank->bindings[2]['Q' - 'A'];
  net::SetRecordText(q3.decks[0].effect_name, "TUNNEL");
  q3.decks[0].fader = 0.4f;
  q3.decks[0].mixer = 5;
  q3.decks[0].speed = 1.0f;  // twice normal speed
  q3.decks[0].beat_mode = net::kBeatEndOnBeat;
  net::SetRecordText(q3.decks[3].effect_name, "PLASMA");
  q3.decks[3].fader = 0.7f;
  net::SetRecordText(q3.decks[4].effect_name, "MISSING");  // not in effects/
  q3.decks[4].fader = 0.2f;
  // Page 1's Q names UNUSED: another binding, not loaded.
  net::SetRecordText(bank->bindings[0]['Q' - 'A'].decks[1].effect_name, "UNUSED");
  clock.Set(1500.0);
  ASSERT_EQ(StartWith(SaveBank(*bank), "3Q"), 0);

  // Loaded at start-up; the decks wait for the first tick.
  EXPECT_TRUE(server::FindEffect(EffectId("TUNNEL"))->loaded);
  EXPECT_TRUE(server::FindEffect(EffectId("PLASMA"))->loaded);
  EXPECT_FALSE(server::FindEffect(EffectId("UNUSED"))->loaded);
  EXPECT_THAT(MarkerLogWithoutRenders(), ElementsAre("load tunnel", "load plasma"));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(server::GetDeck(i)->record.effect_id, -1);

  clock.Set(1510.0);  // the first tick comes later: decks start from it
  MarkerLog().clear();
  ASSERT_EQ(server::ServerTick(), 1);
  const net::DeckRecord& d0 = server::GetDeck(0)->record;
  EXPECT_EQ(d0.effect_id, EffectId("TUNNEL"));
  EXPECT_EQ(net::RecordText(d0.effect_name), "TUNNEL");
  EXPECT_FLOAT_EQ(d0.fader, 0.4f);
  EXPECT_EQ(d0.mixer, 5);
  EXPECT_FLOAT_EQ(d0.speed, 1.0f);
  EXPECT_EQ(d0.beat_mode, net::kBeatEndOnBeat);
  EXPECT_EQ(d0.change_mask, net::kMaskServerReply);
  EXPECT_DOUBLE_EQ(server::GetDeck(0)->start_time, 1510.0);
  const net::DeckRecord& d3 = server::GetDeck(3)->record;
  EXPECT_EQ(d3.effect_id, EffectId("PLASMA"));
  EXPECT_FLOAT_EQ(d3.fader, 0.7f);
  // The missing effect leaves its deck alone: no effect, default fader.
  EXPECT_EQ(server::GetDeck(4)->record.effect_id, -1);
  EXPECT_FLOAT_EQ(server::GetDeck(4)->record.fader, 1.0f);
  // Both effects draw from their beginning on this very tick.
  EXPECT_THAT(MarkerLog(), ElementsAre("render tunnel 0.000", "render plasma 0.000"));

  // Only once: later ticks run on (TUNNEL at twice the speed).
  clock.Advance(1.0);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render tunnel 2.000", "render plasma 1.000"));
  EXPECT_DOUBLE_EQ(server::GetDeck(0)->start_time, 1510.0);

  // A Client that connects sees the recalled decks.
  FakeClient client;
  ConnectAnother(&client);
  client.Send(net::ListEffectsMessage());
  auto state = client.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->decks[0].effect_id, EffectId("TUNNEL"));
  EXPECT_TRUE(state->effects[static_cast<size_t>(EffectId("PLASMA"))].loaded);
}

TEST_F(StartupPreset, EmptyBindingsClearTheirDecksWithTheirSettings) {
  MakeEffect("Tunnel", "tunnel");
  auto bank = show::NewPresetBank();
  show::Binding& a = bank->bindings[0][0];
  net::SetRecordText(a.decks[5].effect_name, "TUNNEL");
  a.decks[2].fader = 0.3f;  // no effect, but settings
  a.decks[2].mixer = 2;
  ASSERT_EQ(StartWith(SaveBank(*bank), "a"), 0);
  server::ServerTick();
  EXPECT_EQ(server::GetDeck(5)->record.effect_id, 0);
  EXPECT_EQ(server::GetDeck(2)->record.effect_id, -1);
  EXPECT_FLOAT_EQ(server::GetDeck(2)->record.fader, 0.3f);
  EXPECT_EQ(server::GetDeck(2)->record.mixer, 2);
  EXPECT_NE(Trace().find("SERVER: Recalled the start-up preset.\n"), std::string::npos);
}

TEST_F(StartupPreset, AnUnreadablePresetFailsTheStart) {
  EXPECT_EQ(StartWith(dir / "missing.HVR", "Q"), -1);
  EXPECT_FALSE(server::ServerStarted());
  testing_support::WriteFile(dir / "broken.HVR", "<BINDS> <BIND>");
  EXPECT_EQ(StartWith(dir / "broken.HVR", "Q"), -1);
  EXPECT_FALSE(server::ServerStarted());
  // A well-formed file whose binding is empty starts an empty show.
  testing_support::WriteFile(dir / "empty.HVR", "<BINDS> </BINDS>");
  EXPECT_EQ(StartWith(dir / "empty.HVR", "0Z"), 0);
  EXPECT_EQ(server::ServerTick(), 1);
  EXPECT_EQ(server::GetDeck(0)->record.effect_id, -1);
}

}  // namespace

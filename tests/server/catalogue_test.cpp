// The effect catalogue: which items of effects/ become entries, with which
// IDs and names; loading and unloading through the protocol, from the
// folder each entry keeps; decks drawing what their entries hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> CatalogueNames() {
  std::vector<std::string> names;
  for (int id = 0; id < server::EffectCount(); ++id) {
    EXPECT_EQ(server::FindEffect(id)->id, id);
    names.push_back(std::string(net::RecordText(server::FindEffect(id)->name)));
  }
  return names;
}

std::vector<std::string> CatalogueFolders() {
  std::vector<std::string> folders;
  for (int id = 0; id < server::EffectCount(); ++id) folders.push_back(server::FindEffect(id)->folder);
  return folders;
}

// Status replies among `messages`.
std::vector<net::EffectRecord> Statuses(const std::vector<std::unique_ptr<net::NetMessage>>& messages) {
  std::vector<net::EffectRecord> out;
  for (const auto& message : messages)
    if (auto* status = net::MessageAs<net::EffectStatusMessage>(message.get())) out.push_back(status->effect);
  return out;
}

TEST_F(ServerTest, CatalogueNamesFollowTheFoldersInSortedOrder) {
  const std::string long_name(70, 'q');
  MakeEffect("my.fx", "my");
  MakeEffect("Tunnel", "tunnel");
  MakeEffect("TUNNEL.old", "old");
  MakeEffect(long_name + ".dir", "long");
  testing_support::WriteFile(dir / "effects/readme.txt", "not an effect\n");
  testing_support::WriteFile(dir / "effects/.hidden", "dot file\n");
  Start();
  // Sorted by bytes: upper case first.
  EXPECT_THAT(CatalogueNames(),
              ElementsAre("TUNNEL", "TUNNEL", "MY", std::string(63, 'Q'), "README"));
  EXPECT_THAT(CatalogueFolders(), ElementsAre("TUNNEL.old", "Tunnel", "my.fx", long_name + ".dir", "readme.txt"));
  for (int id = 0; id < server::EffectCount(); ++id) {
    EXPECT_FALSE(server::FindEffect(id)->loaded);
    EXPECT_EQ(server::FindEffect(id)->script, nullptr);
  }
  EXPECT_EQ(server::FindEffect(5), nullptr);
  EXPECT_EQ(server::FindEffect(-1), nullptr);
  std::string trace = Trace();
  EXPECT_NE(trace.find("SERVER: Added effect MY.\n"), std::string::npos);
  EXPECT_NE(trace.find("SERVER: Added effect README.\n"), std::string::npos);
}

TEST_F(ServerTest, CatalogueRecordsOnTheWire) {
  MakeEffect("my.fx", "my");
  MakeEffect(std::string(70, 'z'), "long");
  FakeClient client;
  StartAndConnect(&client);
  client.Send(net::ListEffectsMessage());
  auto state = client.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);
  ASSERT_EQ(state->effects.size(), 2u);
  EXPECT_EQ(state->effects[0].id, 0);
  EXPECT_EQ(net::RecordText(state->effects[0].name), "MY");
  EXPECT_EQ(state->effects[1].id, 1);
  EXPECT_EQ(net::RecordText(state->effects[1].name), std::string(63, 'Z'));
}

TEST_F(ServerTest, FolderNamesThatWouldBreakPresetFilesAreSkipped) {
  MakeEffect("good", "g");
  MakeEffect("say \"hi\"", "q");
  MakeEffect("tab\there", "t");
  MakeEffect("bell\x07", "b");
  MakeEffect("del\x7f", "d");
  MakeEffect("caf\xc3\xa9", "c");  // non-ASCII is fine
  Start();
  EXPECT_THAT(CatalogueNames(), ElementsAre("CAF\xc3\xa9", "GOOD"));
  EXPECT_NE(Trace().find("SERVER: Skipped effect folder with a quote or control character in its name.\n"),
            std::string::npos);
}

TEST_F(ServerTest, NoEffectsFolderGivesAnEmptyCatalogue) {
  FakeClient client;
  StartAndConnect(&client);
  EXPECT_EQ(server::EffectCount(), 0);
  client.Send(net::ListEffectsMessage());
  auto state = client.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(state->effects.empty());
  EXPECT_EQ(state->decks.size(), 6u);
}

TEST_F(ServerTest, EachEntryLoadsFromItsOwnFolder) {
  MakeEffect("my.fx", "my");
  MakeEffect("Tunnel", "tunnel");
  MakeEffect("TUNNEL.old", "old");
  FakeClient client;
  StartAndConnect(&client);
  const std::string root = core::CurrentBaseFolder();

  // TUNNEL.old (ID 0) and Tunnel (ID 1) share a name, not a script.
  auto replies = client.Exchange(net::LoadEffectMessage(0, true));
  EXPECT_THAT(FakeClient::Logs(replies), ElementsAre("Loaded effect TUNNEL"));
  ASSERT_EQ(Statuses(replies).size(), 1u);
  EXPECT_EQ(Statuses(replies)[0].id, 0);
  EXPECT_TRUE(Statuses(replies)[0].loaded);
  EXPECT_EQ(net::RecordText(Statuses(replies)[0].name), "TUNNEL");
  EXPECT_THAT(Load(&client, 1), ElementsAre("Loaded effect TUNNEL"));
  // A folder with a dot in its name loads at all.
  EXPECT_THAT(Load(&client, 2), ElementsAre("Loaded effect MY"));
  EXPECT_THAT(MarkerLogWithoutRenders(), ElementsAre("load old", "load tunnel", "load my"));
  EXPECT_EQ(core::CurrentBaseFolder(), root);  // the base folder is back

  // Each plays its own script on a deck.
  for (int id = 0; id < 3; ++id) {
    client.Send(net::SetDeckEffectMessage(id, id));
    ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  }
  clock.Advance(1.0);
  MarkerLog().clear();
  EXPECT_EQ(server::ServerTick(), 1);
  EXPECT_THAT(MarkerLog(), ElementsAre("render old 1.000", "render tunnel 1.000", "render my 1.000"));
  EXPECT_TRUE(server::LastTickDrewDeck());
}

TEST_F(ServerTest, AFileInEffectsIsListedButFailsToLoad) {
  testing_support::MakeDirs(dir / "effects");
  testing_support::WriteFile(dir / "effects/readme.txt", "FXINSTANCE M MARKER data/tag.txt\n");
  FakeClient client;
  StartAndConnect(&client);
  const std::string root = core::CurrentBaseFolder();
  auto replies = client.Exchange(net::LoadEffectMessage(0, true));
  std::vector<std::string> logs = FakeClient::Logs(replies);
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back(), "Failed to load effect README");
  EXPECT_TRUE(Statuses(replies).empty());  // a failure sends no status
  EXPECT_FALSE(server::FindEffect(0)->loaded);
  EXPECT_EQ(server::FindEffect(0)->script, nullptr);
  EXPECT_EQ(core::CurrentBaseFolder(), root);
}

TEST_F(ServerTest, LoadingALoadedEffectOnlyConfirmsIt) {
  MakeEffect("Tunnel", "tunnel");
  FakeClient client;
  StartAndConnect(&client);
  Load(&client, 0);
  const fx::FxScript* script = server::FindEffect(0)->script.get();
  MarkerLog().clear();
  auto replies = client.Exchange(net::LoadEffectMessage(0, true));
  EXPECT_THAT(FakeClient::Logs(replies), ElementsAre("Loaded effect TUNNEL"));
  ASSERT_EQ(Statuses(replies).size(), 1u);
  EXPECT_TRUE(Statuses(replies)[0].loaded);
  EXPECT_THAT(MarkerLogWithoutRenders(), IsEmpty());  // not loaded again
  EXPECT_EQ(server::FindEffect(0)->script.get(), script);
}

TEST_F(ServerTest, UnloadClearsTheFlagAndAnswers) {
  MakeEffect("Tunnel", "tunnel");
  FakeClient client;
  StartAndConnect(&client);
  // Not loaded yet: refused, no status.
  auto replies = client.Exchange(net::LoadEffectMessage(0, false));
  EXPECT_THAT(FakeClient::Logs(replies), ElementsAre("Failed to unload effect TUNNEL"));
  EXPECT_TRUE(Statuses(replies).empty());

  Load(&client, 0);
  replies = client.Exchange(net::LoadEffectMessage(0, false));
  EXPECT_THAT(FakeClient::Logs(replies), ElementsAre("Unloaded effect TUNNEL"));
  ASSERT_EQ(Statuses(replies).size(), 1u);
  EXPECT_FALSE(Statuses(replies)[0].loaded);
  EXPECT_FALSE(server::FindEffect(0)->loaded);
  EXPECT_NE(server::FindEffect(0)->script, nullptr);  // the script stays
}

TEST_F(ServerTest, UnloadKeepsTheDeckDrawingAndReloadRestartsTheScript) {
  MakeEffect("Tunnel", "tunnel");
  FakeClient client;
  StartAndConnect(&client);
  Load(&client, 0);
  client.Send(net::SetDeckEffectMessage(0, 5));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  Load(&client, 0, false);

  clock.Advance(2.0);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render tunnel 2.000"));

  // Loading again replaces the script with a fresh one.
  MarkerLog().clear();
  EXPECT_THAT(Load(&client, 0), ElementsAre("Loaded effect TUNNEL"));
  EXPECT_THAT(MarkerLogWithoutRenders(), ElementsAre("destroy tunnel", "load tunnel"));
  clock.Advance(1.0);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), ElementsAre("render tunnel 3.000"));
}

TEST_F(ServerTest, FailedReloadLeavesNoScriptAndTheDeckIsSkipped) {
  MakeEffect("Tunnel", "tunnel");
  MakeEffect("Other", "other");
  FakeClient client;
  StartAndConnect(&client);
  const int32_t tunnel = EffectId("TUNNEL"), other = EffectId("OTHER");
  Load(&client, tunnel);
  Load(&client, other);
  client.Send(net::SetDeckEffectMessage(tunnel, 0));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  client.Send(net::SetDeckEffectMessage(other, 1));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  Load(&client, tunnel, false);

  // The effect's data goes away; the reload fails at its instance.
  std::remove((dir / "effects/Tunnel/data/tag.txt").c_str());
  MarkerLog().clear();
  std::vector<std::string> logs = Load(&client, tunnel);
  EXPECT_THAT(logs, Contains("Effect TUNNEL: Failed to instantiate effect M"));
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back(), "Failed to load effect TUNNEL");
  EXPECT_THAT(MarkerLogWithoutRenders(), ElementsAre("destroy tunnel"));  // the old script went
  EXPECT_EQ(server::FindEffect(tunnel)->script, nullptr);
  EXPECT_FALSE(server::FindEffect(tunnel)->loaded);

  // Deck 0 still names the entry but has nothing to draw; deck 1 goes on.
  MarkerLog().clear();
  EXPECT_EQ(server::ServerTick(), 1);
  EXPECT_THAT(MarkerLog(), ElementsAre("render other 0.000"));
  client.Send(net::SetDeckEffectMessage(-1, 1));
  ASSERT_NE(client.Await<net::DeckStatusMessage>(), nullptr);
  MarkerLog().clear();
  server::ServerTick();
  EXPECT_THAT(MarkerLog(), IsEmpty());
  EXPECT_FALSE(server::LastTickDrewDeck());
}

TEST_F(ServerTest, BrokenScriptFailsTheLoadAndTheShowGoesOn) {
  MakeEffect("Broken", "x", "FXINSTANCE M NOSUCHCLASS\nFXSTART M\n");
  MakeEffect("Fine", "fine");
  FakeClient client;
  StartAndConnect(&client);
  std::vector<std::string> logs = Load(&client, EffectId("BROKEN"));
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back(), "Failed to load effect BROKEN");
  EXPECT_THAT(Load(&client, EffectId("FINE")), ElementsAre("Loaded effect FINE"));
}

TEST_F(ServerTest, ShutdownReleasesEveryScript) {
  MakeEffect("A", "a");
  MakeEffect("B", "b");
  FakeClient client;
  StartAndConnect(&client);
  Load(&client, 0);
  Load(&client, 1);
  Load(&client, 1, false);  // unloaded, but its script is still held
  MarkerLog().clear();
  server::ShutdownServer();
  EXPECT_THAT(MarkerLog(), ElementsAre("destroy a", "destroy b"));
  EXPECT_EQ(server::EffectCount(), 0);
}

}  // namespace
}  // namespace server_test

#include "tests/client/panel_fixture.h"

namespace client_test {
namespace {
constexpr int32_t kMarkerDeck = 99;
}

bool Pump(const std::vector<client::ControllerPanel*>& panels, const std::vector<FakeServer*>& servers,
          const std::function<bool()>& done, double seconds) {
  return testing_support::WaitUntil(
      [&] {
        for (FakeServer* server : servers) server->Tick();
        for (client::ControllerPanel* panel : panels) panel->Tick();
        return done();
      },
      seconds);
}

::testing::AssertionResult ConnectAndWaitForState(client::ControllerPanel* panel, TestServer* server) {
  if (panel->Connect(server->Address()) != 0) return ::testing::AssertionFailure() << "Connect failed at once";
  bool ok = Pump({panel}, {server}, [&] { return panel->connected() && !panel->mixer_choices().empty(); });
  if (!ok) {
    std::string log;
    for (const std::string& line : panel->log()) log += line + "\n";
    return ::testing::AssertionFailure() << "no state; status \"" << panel->status() << "\", log:\n" << log;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Barrier(client::ControllerPanel* panel, TestServer* server) {
  net::DeckRecord marker = net::DefaultDeckRecord(kMarkerDeck);
  marker.reserved = static_cast<uint32_t>(server->received_updates.size());
  if (panel->Send(net::DeckUpdateMessage(marker)) != 0) return ::testing::AssertionFailure() << "marker not sent";
  bool ok = Pump({panel}, {server}, [&] {
    return !server->received_updates.empty() && server->received_updates.back().deck == kMarkerDeck &&
           server->received_updates.back().reserved == marker.reserved;
  });
  return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "marker never arrived";
}

int CountReceived(const FakeServer& server, uint32_t type) {
  int count = 0;
  int markers = 0;
  for (uint32_t t : server.received_types) count += t == type ? 1 : 0;
  if (type == net::MSG_DECK_UPDATE)
    for (const net::DeckRecord& r : server.received_updates) markers += r.deck == kMarkerDeck ? 1 : 0;
  return count - markers;
}

std::vector<net::DeckRecord> RealUpdates(const FakeServer& server) {
  std::vector<net::DeckRecord> updates;
  for (const net::DeckRecord& r : server.received_updates)
    if (r.deck != kMarkerDeck) updates.push_back(r);
  return updates;
}

}  // namespace client_test

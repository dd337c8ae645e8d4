// Drives controller panels against stand-in Servers over loopback, all on
// the test's thread: every pump step ticks each panel and each Server once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/dialogs.h"
#include "client/panel.h"
#include "client/window.h"
#include "tests/net/fake_server.h"
#include "tests/support/support.h"

namespace client_test {

using testing_support::FakeServer;

// Ticks `panels` and `servers` until `done` holds (true) or `seconds` of
// wall time pass (false).
bool Pump(const std::vector<client::ControllerPanel*>& panels, const std::vector<FakeServer*>& servers,
          const std::function<bool()>& done, double seconds = 10.0);

// A Server listening on a free loopback port.
struct TestServer : FakeServer {
  TestServer() { EXPECT_EQ(Start(0), 0); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port()); }
};

// Connects `panel` to `server` and waits until the state has arrived.
::testing::AssertionResult ConnectAndWaitForState(client::ControllerPanel* panel, TestServer* server);

// Makes sure everything the panel sent before has reached the Server: sends
// a marker update (deck 99, which the Server ignores) and waits for it.
::testing::AssertionResult Barrier(client::ControllerPanel* panel, TestServer* server);

// Messages of `type` that reached the Server, markers not counted.
int CountReceived(const FakeServer& server, uint32_t type);
// Deck updates that reached the Server, markers left out.
std::vector<net::DeckRecord> RealUpdates(const FakeServer& server);

}  // namespace client_test

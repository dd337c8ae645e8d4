// Endpoints: listening, accepting, background connects with their time-out,
// host names, closed endpoints and the close-on-failure rule.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <condition_variable>
#include <string>

#include <gtest/gtest.h>

#include "app/core/core.h"
#include "tests/net/net_test_util.h"

namespace {

using testing_support::LoopbackPair;
using testing_support::WaitUntil;

// Polls a connect until it settles, with the real clock.
int SettleConnect(net::Connection* connection, double seconds = 5.0) {
  int result = 1;
  WaitUntil([&] { return (result = connection->PollConnect()) != 1; }, seconds);
  return result;
}

// The in-process pair tests and fuzzers drive links with: both ends open,
// bytes cross both ways, a closed end is seen by the other.
TEST(LocalPair, CarriesBytesBothWaysAndTheOtherEndSeesAClose) {
  net::Connection a, b;
  ASSERT_EQ(net::ConnectLocalPair(&a, &b), 0);
  ASSERT_TRUE(a.IsOpen() && b.IsOpen());
  EXPECT_EQ(net::ConnectLocalPair(&a, &a), -1);
  ASSERT_EQ(a.Send("ping", 4), 0);
  ASSERT_EQ(b.Send("pong!", 5), 0);
  char buffer[16];
  size_t got = 0;
  ASSERT_EQ(b.Receive(buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "ping");
  ASSERT_EQ(a.Receive(buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "pong!");
  EXPECT_EQ(a.Receive(buffer, sizeof buffer, &got), 1);  // nothing more, no wait
  const uint64_t generation = b.Generation();
  a.Close();
  EXPECT_EQ(b.Receive(buffer, sizeof buffer, &got), -1);
  EXPECT_FALSE(b.IsOpen());
  // Pairing again opens both as new connections.
  ASSERT_EQ(net::ConnectLocalPair(&a, &b), 0);
  EXPECT_GT(b.Generation(), generation);
}

TEST(Listen, TakenPortFailsAndStaysClosed) {
  net::ListenSocket first, second;
  ASSERT_EQ(first.Listen(0), 0);
  int port = first.Port();
  ASSERT_GT(port, 0);
  EXPECT_EQ(second.Listen(port), -1);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.Port(), -1);
  EXPECT_EQ(second.PollIncoming(), -1);
  net::Connection connection;
  EXPECT_EQ(second.Accept(&connection), -1);
  EXPECT_TRUE(first.IsOpen());
}

TEST(Listen, PortZeroReportsTheChosenPortAndAddressesAreHonoured) {
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, "127.0.0.1"), 0);
  int port = listener.Port();
  EXPECT_GT(port, 0);
  // Bound to 127.0.0.1 only: another loopback address is refused.
  net::Connection other;
  ASSERT_EQ(other.StartConnect("127.0.0.2", port), 0);
  EXPECT_EQ(SettleConnect(&other), -1);
  EXPECT_NE(other.LastError().find("refused"), std::string::npos) << other.LastError();
  net::Connection right;
  EXPECT_EQ(right.ConnectAndWait("127.0.0.1", port, 5.0), 0);

  EXPECT_EQ(listener.Listen(0, "not an address!"), -1);
  EXPECT_FALSE(listener.IsOpen());
  EXPECT_EQ(listener.Listen(70000), -1);
}

TEST(Listen, ARestartedServerListensAgainAtOnce) {
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0), 0);
  int port = listener.Port();
  {
    net::Connection client, server;
    ASSERT_EQ(client.ConnectAndWait("127.0.0.1", port, 5.0), 0);
    ASSERT_TRUE(WaitUntil([&] { return listener.Accept(&server) == 0; }, 5.0));
    // The Server side closes first, so its end lingers in TIME_WAIT.
    server.Close();
    size_t got = 0;
    char byte;
    WaitUntil([&] { return client.Receive(&byte, 1, &got) == -1; }, 5.0);
    EXPECT_FALSE(client.IsOpen());
  }
  listener.Close();
  EXPECT_EQ(listener.Listen(port), 0);
}

TEST(Listen, PollAndAcceptNeverWait) {
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, "127.0.0.1"), 0);
  net::Connection server;
  EXPECT_EQ(listener.PollIncoming(), 1);
  EXPECT_EQ(listener.Accept(&server), 1);
  EXPECT_FALSE(server.IsOpen());
  net::Connection client;
  ASSERT_EQ(client.ConnectAndWait("127.0.0.1", listener.Port(), 5.0), 0);
  ASSERT_TRUE(WaitUntil([&] { return listener.PollIncoming() == 0; }, 5.0));
  EXPECT_EQ(listener.Accept(&server), 0);
  EXPECT_TRUE(server.IsOpen());
  EXPECT_EQ(listener.PollIncoming(), 1);
  // Accepting into an open endpoint replaces its connection.
  uint64_t generation = server.Generation();
  net::Connection second;
  ASSERT_EQ(second.ConnectAndWait("127.0.0.1", listener.Port(), 5.0), 0);
  ASSERT_TRUE(WaitUntil([&] { return listener.Accept(&server) == 0; }, 5.0));
  EXPECT_GT(server.Generation(), generation);
  // The first client sees its connection closed.
  char byte;
  size_t got = 0;
  EXPECT_TRUE(WaitUntil([&] { return client.Receive(&byte, 1, &got) == -1; }, 5.0));
  EXPECT_FALSE(client.IsOpen());
}

TEST(Connect, LocalhostAndDottedLoopbackBothReachAnIPv4Server) {
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0), 0);
  for (const char* host : {"localhost", "127.0.0.1"}) {
    net::Connection client, server;
    ASSERT_EQ(client.StartConnect(host, listener.Port()), 0) << host;
    EXPECT_EQ(SettleConnect(&client), 0) << host << ": " << client.LastError();
    EXPECT_TRUE(client.IsOpen());
    EXPECT_TRUE(WaitUntil([&] { return listener.Accept(&server) == 0; }, 5.0)) << host;
  }
}

TEST(Connect, RefusedAndBadArgumentsFailWithAReason) {
  int port = 0;
  {
    net::ListenSocket listener;
    ASSERT_EQ(listener.Listen(0, "127.0.0.1"), 0);
    port = listener.Port();
  }
  net::Connection client;
  ASSERT_EQ(client.StartConnect("127.0.0.1", port), 0);
  EXPECT_EQ(SettleConnect(&client), -1);
  EXPECT_FALSE(client.IsOpen());
  EXPECT_FALSE(client.IsConnecting());
  EXPECT_NE(client.LastError().find("refused"), std::string::npos) << client.LastError();
  EXPECT_EQ(client.StartConnect("", port), -1);
  EXPECT_EQ(client.StartConnect("127.0.0.1", 0), -1);
  EXPECT_EQ(client.StartConnect("127.0.0.1", 65536), -1);
  EXPECT_FALSE(client.LastError().empty());
}

TEST(Connect, ClosedEndpointsFailAtOnce) {
  net::Connection closed;
  char buffer[4];
  size_t got = 0;
  EXPECT_EQ(closed.Receive(buffer, sizeof buffer, &got), -1);
  EXPECT_EQ(closed.Send("x", 1), -1);
  EXPECT_EQ(closed.Flush(), -1);
  EXPECT_EQ(closed.BytesWaiting(&got), -1);
  EXPECT_EQ(closed.PollConnect(), -1);
  EXPECT_EQ(closed.Wait(0), -1);
  EXPECT_FALSE(closed.IsOpen());
}

TEST(Connect, BytesSentWhileConnectingLeaveOnceOpen) {
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, "127.0.0.1"), 0);
  net::Connection client, server;
  ASSERT_EQ(client.StartConnect("localhost", listener.Port()), 0);
  ASSERT_EQ(client.Send("hello", 5), 0);
  ASSERT_EQ(SettleConnect(&client), 0) << client.LastError();
  ASSERT_TRUE(WaitUntil([&] { return listener.Accept(&server) == 0; }, 5.0));
  std::string got;
  WaitUntil(
      [&] {
        client.Flush();
        char buffer[16];
        size_t n = 0;
        if (server.Receive(buffer, sizeof buffer, &n) == 0) got.append(buffer, n);
        return got.size() >= 5;
      },
      5.0);
  EXPECT_EQ(got, "hello");
}

TEST(Connect, EmptyAndZeroLengthOperations) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  EXPECT_EQ(pair.client.Send("", 0), 0);
  char buffer[1];
  size_t got = 0;
  EXPECT_EQ(pair.server.Receive(buffer, 0, &got), 1);
  EXPECT_EQ(pair.server.Receive(buffer, 1, &got), 1);  // nothing yet
  EXPECT_EQ(pair.server.BytesWaiting(&got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(pair.server.IsOpen());
}

TEST(Connect, APeerThatClosesClosesTheEndpoint) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  pair.client.Close();
  char buffer[8];
  size_t got = 0;
  int result = 1;
  EXPECT_TRUE(
      WaitUntil([&] { return (result = pair.server.Receive(buffer, 8, &got)) != 1; }, 5.0));
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(pair.server.IsOpen());
  EXPECT_EQ(pair.server.Receive(buffer, 8, &got), -1);
}

// --- time-outs on the program clock --------------------------------------------

class ConnectTimeout : public ::testing::Test {
 protected:
  void SetUp() override { core::SetProgramClock(&clock_); }
  void TearDown() override {
    core::SetProgramClock(nullptr);
    net::SetHostResolver(nullptr);
  }
  core::ManualClock clock_;
};

TEST_F(ConnectTimeout, AServerThatNeverAnswersGivesUpWithoutBlocking) {
  // A listener whose backlog is full: further SYNs are dropped unanswered.
  int raw = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(raw, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(raw, 0), 0);
  socklen_t size = sizeof address;
  ASSERT_EQ(getsockname(raw, reinterpret_cast<sockaddr*>(&address), &size), 0);
  int port = ntohs(address.sin_port);
  net::Connection filler;
  ASSERT_EQ(filler.ConnectAndWait("127.0.0.1", port, 5.0), 0);

  net::Connection client;
  ASSERT_EQ(client.StartConnect("127.0.0.1", port, 3.0), 0);
  // Polls return "still connecting" at once, however often they are made.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(client.PollConnect(), 1);
    EXPECT_TRUE(client.IsConnecting());
    client.Wait(5);  // real time passes, the program clock does not
  }
  clock_.Advance(2.9);
  EXPECT_EQ(client.PollConnect(), 1);
  clock_.Advance(0.2);
  EXPECT_EQ(client.PollConnect(), -1);
  EXPECT_FALSE(client.IsOpen());
  EXPECT_FALSE(client.IsConnecting());
  EXPECT_NE(client.LastError().find("timed out"), std::string::npos) << client.LastError();
  ::close(raw);
}

// A resolver that blocks until released; counts the look-ups that finished.
struct StuckResolver {
  static std::mutex mutex;
  static std::condition_variable changed;
  static bool released;
  static int started;
  static int finished;
  static int Resolve(const std::string&, std::vector<uint32_t>* addresses) {
    std::unique_lock<std::mutex> hold(mutex);
    ++started;
    changed.notify_all();
    changed.wait(hold, [] { return released; });
    addresses->push_back(htonl(INADDR_LOOPBACK));
    ++finished;
    changed.notify_all();
    return 0;
  }
};
std::mutex StuckResolver::mutex;
std::condition_variable StuckResolver::changed;
bool StuckResolver::released = false;
int StuckResolver::started = 0;
int StuckResolver::finished = 0;

TEST_F(ConnectTimeout, ALookUpThatNeverReturnsDoesNotHoldAnythingUp) {
  net::SetHostResolver(&StuckResolver::Resolve);
  {
    net::Connection client;
    ASSERT_EQ(client.StartConnect("stuck.example", 6969, 5.0), 0);
    EXPECT_EQ(client.state(), net::Connection::State::kResolving);
    EXPECT_EQ(client.PollConnect(), 1);
    clock_.Advance(5.0);
    EXPECT_EQ(client.PollConnect(), -1);
    EXPECT_NE(client.LastError().find("look-up timed out"), std::string::npos);
    // Further attempts while the first look-up still hangs wait for it
    // instead of starting more look-ups; then the endpoint is destroyed
    // with it still running.
    for (int attempt = 0; attempt < 3; ++attempt) {
      ASSERT_EQ(client.StartConnect("stuck.example", 6969, 5.0), 0);
      EXPECT_EQ(client.state(), net::Connection::State::kResolving);
      EXPECT_EQ(client.PollConnect(), 1);
    }
    clock_.Advance(5.0);
    EXPECT_EQ(client.PollConnect(), -1);
    EXPECT_NE(client.LastError().find("look-up timed out"), std::string::npos);
  }
  std::unique_lock<std::mutex> hold(StuckResolver::mutex);
  ASSERT_TRUE(StuckResolver::changed.wait_for(hold, std::chrono::seconds(5), [] { return StuckResolver::started >= 1; }));
  EXPECT_EQ(StuckResolver::started, 1);
  // The abandoned look-up finishes later into a record nobody reads.
  StuckResolver::released = true;
  StuckResolver::changed.notify_all();
  EXPECT_TRUE(StuckResolver::changed.wait_for(hold, std::chrono::seconds(5),
                                              [] { return StuckResolver::finished == 1; }));
}

int Loopback(const std::string&, std::vector<uint32_t>* addresses) {
  addresses->push_back(htonl(INADDR_LOOPBACK));
  return 0;
}

TEST_F(ConnectTimeout, ALookUpThreadThatCannotStartFailsTheConnectWithAReason) {
  net::SetHostResolver(&Loopback);
  net::Connection client;
  core::FailNextThreadStarts(1);
  EXPECT_EQ(client.StartConnect("somewhere.example", 6969, 5.0), -1);
  EXPECT_EQ(client.state(), net::Connection::State::kClosed);
  EXPECT_NE(client.LastError().find("cannot start the name look-up"), std::string::npos) << client.LastError();
  core::FailNextThreadStarts(0);
}

int TwoAddresses(const std::string& host, std::vector<uint32_t>* addresses) {
  if (host != "two.example") return -1;
  in_addr first{}, second{};
  inet_pton(AF_INET, "127.0.0.2", &first);  // nothing listens there
  inet_pton(AF_INET, "127.0.0.1", &second);
  addresses->push_back(first.s_addr);
  addresses->push_back(second.s_addr);
  return 0;
}

TEST_F(ConnectTimeout, EveryAddressOfANameIsTriedInTurn) {
  net::SetHostResolver(&TwoAddresses);
  core::SetProgramClock(nullptr);  // real time for a real connect
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, "127.0.0.1"), 0);
  net::Connection client;
  ASSERT_EQ(client.StartConnect("two.example", listener.Port()), 0);
  EXPECT_EQ(SettleConnect(&client), 0) << client.LastError();
  net::Connection unknown;
  ASSERT_EQ(unknown.StartConnect("nowhere.example", listener.Port()), 0);
  EXPECT_EQ(SettleConnect(&unknown), -1);
  EXPECT_NE(unknown.LastError().find("unknown host"), std::string::npos) << unknown.LastError();
}

}  // namespace

// The Client against the real Server in this process (as in combined
// mode): the space bar taps the Server's tempo once per press, Backspace
// toggles its beats, and a panel follows what OSC changes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <lo/lo.h>

#include "client/window.h"
#include "tests/server/server_fixture.h"

namespace {

class LiveServer : public server_test::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    core::SetSettingsFolder(dir.path());
    ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    options.osc_port = 0;
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
    panel = window.NewController();
    ASSERT_EQ(panel->Connect("127.0.0.1:" + std::to_string(server::ServerPort())), 0);
    ASSERT_TRUE(Until([&] { return !panel->mixer_choices().empty() && panel->server_tempo().known; }));
  }
  void TearDown() override {
    window.CloseAllPanels();
    ServerTest::TearDown();
  }
  // One frame of the combined program: the Server's tick, then the Client's.
  void Frame(const client::KeyboardState& keys) {
    server::ServerTick();
    window.Tick(keys);
  }
  bool Until(const std::function<bool()>& done) {
    return testing_support::WaitUntil(
        [&] {
          Frame(client::KeyboardState());
          return done();
        },
        10.0);
  }
  static client::KeyboardState Space() {
    client::KeyboardState keys;
    keys.space = true;
    return keys;
  }
  static client::KeyboardState Backspace() {
    client::KeyboardState keys;
    keys.backspace = true;
    return keys;
  }

  client::ClientWindow window;
  client::ControllerPanel* panel = nullptr;
};

TEST_F(LiveServer, TheSpaceBarTapsTheServerOncePerPress) {
  Frame(Space());
  Frame(Space());  // held
  ASSERT_TRUE(Until([] { return fx::LastTapMs() != 0; }));
  clock.Advance(0.5);
  Frame(client::KeyboardState());
  Frame(Space());
  // Two taps 500 ms apart: one tap per press (a second tap in the same
  // frame would have made the tempo 0).
  ASSERT_TRUE(Until([&] { return panel->server_tempo().period_ms != 0; }));
  EXPECT_EQ(fx::TappedPeriodMs(), 500u);
  EXPECT_EQ(panel->server_tempo().period_ms, 500u);

  Frame(Backspace());
  ASSERT_TRUE(Until([&] { return panel->server_tempo().beat_disabled; }));
  EXPECT_TRUE(fx::BeatDisabled());
  Frame(client::KeyboardState());
  Frame(Backspace());
  ASSERT_TRUE(Until([&] { return !panel->server_tempo().beat_disabled; }));
  EXPECT_FALSE(fx::BeatDisabled());
}

TEST_F(LiveServer, APanelFollowsOscChanges) {
  lo_message message = lo_message_new();
  lo_message_add_float(message, 0.5f);
  size_t size = 0;
  void* data = lo_message_serialise(message, "/vj/deck/3/fader", nullptr, &size);
  lo_message_free(message);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(server::OscPort()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), static_cast<ssize_t>(size));
  free(data);
  close(fd);
  ASSERT_TRUE(Until([&] { return panel->fader(2).position() == client::Trackbar::PositionFor(0.5f); }));
  EXPECT_EQ(panel->deck_table()[2].fader, 0.5f);
}

}  // namespace

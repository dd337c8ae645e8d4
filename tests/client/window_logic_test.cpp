// The Client window's logic without a window: panels in creation order,
// closing, quitting, alerts; the connection dialog and "LastConnection";
// the trackbar rules on their own.
#include <gtest/gtest.h>

#include "app/core/core.h"
#include "tests/client/panel_fixture.h"

namespace {

using client::ClientWindow;
using client::ControllerPanel;
using client::Trackbar;
using client_test::Pump;
using client_test::TestServer;

class WithSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetSettingsFolder(dir.path());
    ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
  }
  std::string LastConnection() {
    char text[client::kHostCapacity];
    if (!core::ReadSettingText("", "LastConnection", text, sizeof text)) return "<absent>";
    return text;
  }
  testing_support::TempDir dir;
};

TEST(Trackbar, PositionsAndValues) {
  EXPECT_FLOAT_EQ(Trackbar::ValueAt(0), 1.0f);
  EXPECT_FLOAT_EQ(Trackbar::ValueAt(50), 0.5f);
  EXPECT_FLOAT_EQ(Trackbar::ValueAt(100), 0.0f);
  EXPECT_FLOAT_EQ(Trackbar::ValueAt(25), 0.75f);
  EXPECT_EQ(Trackbar::PositionFor(1.0f), 0);
  EXPECT_EQ(Trackbar::PositionFor(0.75f), 25);
  EXPECT_EQ(Trackbar::PositionFor(0.0f), 100);
  // max - trunc(100 * value): 0.333 -> 100 - 33.
  EXPECT_EQ(Trackbar::PositionFor(0.333f), 67);
}

TEST(Trackbar, OnlyADragMovesTheThumb) {
  Trackbar bar;
  bar.ShowValue(0.75f);
  EXPECT_EQ(bar.position(), 25);
  EXPECT_FALSE(bar.DragTo(60));  // not dragging: a click in the track
  EXPECT_EQ(bar.position(), 25);
  bar.BeginDrag();
  EXPECT_EQ(bar.position(), 25);
  EXPECT_FALSE(bar.DragTo(25));  // no movement
  EXPECT_TRUE(bar.DragTo(60));
  EXPECT_EQ(bar.position(), 60);
  EXPECT_TRUE(bar.DragTo(-20));
  EXPECT_EQ(bar.position(), 0);
  bar.ShowValue(0.1f);  // a status while dragging waits for the drag's end
  EXPECT_EQ(bar.position(), 0);
  EXPECT_EQ(bar.status_position(), 90);
  bar.EndDrag();
  EXPECT_EQ(bar.position(), 90);
}

TEST(ClientWindowLogic, PanelsStackInCreationOrderAndClose) {
  ClientWindow window;
  EXPECT_EQ(window.panel_count(), 0u);
  EXPECT_EQ(window.Tick(), 1);
  ControllerPanel* first = window.NewController();
  ControllerPanel* second = window.NewController();
  ControllerPanel* third = window.NewController();
  ASSERT_EQ(window.panel_count(), 3u);
  EXPECT_EQ(window.panel(0), first);
  EXPECT_EQ(window.panel(1), second);
  EXPECT_EQ(window.panel(2), third);
  EXPECT_EQ(window.panel(3), nullptr);
  EXPECT_EQ(first->status(), "Disconnected");

  // "Close" takes effect at the next tick (the view may still be drawing).
  second->RequestClose();
  EXPECT_EQ(window.panel_count(), 3u);
  EXPECT_EQ(window.Tick(), 1);
  ASSERT_EQ(window.panel_count(), 2u);
  EXPECT_EQ(window.panel(0), first);
  EXPECT_EQ(window.panel(1), third);
  window.ClosePanel(first);
  ASSERT_EQ(window.panel_count(), 1u);
  EXPECT_EQ(window.panel(0), third);
}

TEST(ClientWindowLogic, QuitClosesEveryPanelAndEndsTheTick) {
  TestServer server;
  ClientWindow window;
  ControllerPanel* panel = window.NewController();
  window.NewController();
  ASSERT_EQ(panel->Connect(server.Address()), 0);
  ASSERT_TRUE(Pump({}, {&server}, [&] {
    window.Tick();
    return panel->connected() && server.connected();
  }));
  window.RequestQuit();
  EXPECT_TRUE(window.quit_requested());
  EXPECT_EQ(window.Tick(), 0);
  EXPECT_EQ(window.panel_count(), 0u);
  ASSERT_TRUE(Pump({}, {&server}, [&] { return !server.connected(); }));
}

TEST(ClientWindowLogic, TwoPanelsConnectToDifferentServers) {
  TestServer one, two;
  ClientWindow window;
  ControllerPanel* a = window.NewController();
  ControllerPanel* b = window.NewController();
  ASSERT_EQ(a->Connect(one.Address()), 0);
  ASSERT_EQ(b->Connect(two.Address()), 0);
  ASSERT_TRUE(Pump({}, {&one, &two}, [&] {
    window.Tick();
    return !a->mixer_choices().empty() && !b->mixer_choices().empty();
  }));
  EXPECT_EQ(a->port(), one.port());
  EXPECT_EQ(b->port(), two.port());
  EXPECT_EQ(one.connections, 1);
  EXPECT_EQ(two.connections, 1);
}

TEST(ClientWindowLogic, PanelAlertsReachTheWindow) {
  TestServer server;
  server.minor = 9;
  ClientWindow window;
  ControllerPanel* panel = window.NewController();
  ASSERT_EQ(panel->Connect(server.Address()), 0);
  ASSERT_TRUE(Pump({}, {&server}, [&] {
    window.Tick();
    return !window.alerts().empty();
  }));
  EXPECT_EQ(window.alerts().front(),
            "Server is running version 0.9 and client is version 0.1. Can't establish connection");
  EXPECT_FALSE(panel->connected());
}

TEST(ClientWindowLogic, ChangesMoveOnlyWhenSomethingHappens) {
  TestServer server;
  ClientWindow window;
  uint64_t empty = window.changes();
  ControllerPanel* panel = window.NewController();
  EXPECT_NE(window.changes(), empty);
  ASSERT_EQ(panel->Connect(server.Address()), 0);
  ASSERT_TRUE(Pump({}, {&server}, [&] {
    window.Tick();
    return !panel->mixer_choices().empty();
  }));
  // The beat graph's first picture is drawn within three ticks of the
  // program's paint counter; after that idle ticks change nothing (no
  // sound, no tapped tempo: the picture stays the same).
  for (int i = 0; i < 3; ++i) window.Tick();
  uint64_t settled = window.changes();
  for (int i = 0; i < 20; ++i) {
    server.Tick();
    window.Tick();
  }
  EXPECT_EQ(window.changes(), settled);
  // A frame-rate report does.
  server.Send(net::PlayerStatusMessage(25));
  ASSERT_TRUE(Pump({}, {&server}, [&] {
    window.Tick();
    return window.changes() != settled;
  }));
  // Closing a panel moves the sum too, though its own count leaves with it.
  uint64_t before_close = window.changes();
  window.ClosePanel(panel);
  EXPECT_GT(window.changes(), before_close);
}

TEST_F(WithSettings, DialogOffersTheLastHostAndStoresItOnConnectOnly) {
  TestServer server;
  ClientWindow window;
  ControllerPanel* panel = window.NewController();
  client::ConnectionDialog& dialog = window.dialog();

  // First run: empty field.
  dialog.Open(panel);
  EXPECT_TRUE(dialog.is_open());
  EXPECT_STREQ(dialog.host_text(), "");
  // "Cancel" leaves the setting alone.
  std::snprintf(dialog.host_buffer(), client::kHostCapacity, "typed-but-cancelled");
  dialog.Cancel();
  EXPECT_FALSE(dialog.is_open());
  EXPECT_EQ(LastConnection(), "<absent>");
  EXPECT_EQ(panel->link_state(), client::LinkState::kDisconnected);

  // "&Connect" stores the text and connects, with the port in the text.
  dialog.Open(panel);
  std::snprintf(dialog.host_buffer(), client::kHostCapacity, "%s", server.Address().c_str());
  EXPECT_EQ(dialog.Confirm(), 0);
  EXPECT_FALSE(dialog.is_open());
  EXPECT_EQ(LastConnection(), server.Address());
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->connected(); }));
  EXPECT_EQ(panel->status(), "Connected to 127.0.0.1:" + std::to_string(server.port()));

  // The next dialog offers that host.
  ControllerPanel* other = window.NewController();
  dialog.Open(other);
  EXPECT_EQ(std::string(dialog.host_text()), server.Address());
  dialog.Cancel();
}

TEST_F(WithSettings, AnEmptyHostIsStoredAndFailsQuietly) {
  ClientWindow window;
  ControllerPanel* panel = window.NewController();
  core::WriteSettingText("", "LastConnection", "old-host");
  window.dialog().Open(panel);
  EXPECT_STREQ(window.dialog().host_text(), "old-host");
  window.dialog().host_buffer()[0] = '\0';
  window.dialog().Confirm();
  EXPECT_EQ(LastConnection(), "");
  ASSERT_TRUE(Pump({}, {}, [&] {
    window.Tick();
    return panel->link_state() == client::LinkState::kDisconnected;
  }));
  EXPECT_EQ(panel->status(), "Disconnected");
  EXPECT_TRUE(window.alerts().empty());
}

TEST_F(WithSettings, ClosingThePanelWhileItsDialogIsOpenForgetsIt) {
  ClientWindow window;
  ControllerPanel* panel = window.NewController();
  window.dialog().Open(panel);
  window.ClosePanel(panel);
  EXPECT_FALSE(window.dialog().is_open());
  EXPECT_EQ(window.dialog().Confirm(), -1);  // nothing to connect
}

}  // namespace

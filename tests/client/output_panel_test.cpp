// A panel's output controls against a stand-in Server: the master trackbar
// and the blackout button send master updates, the Server's master status
// moves them, the preview checkbox asks for previews (10 a second) or none,
// and previews that arrive are decoded or, when damaged, dropped.
#include <gtest/gtest.h>

#include "media/encode.h"
#include "tests/client/panel_fixture.h"

namespace {

using client::ControllerPanel;
using client_test::Barrier;
using client_test::ConnectAndWaitForState;
using client_test::Pump;
using client_test::TestServer;

net::PreviewFrameMessage Picture(uint32_t width, uint32_t height, uint32_t colour) {
  net::PreviewFrameMessage frame;
  frame.width = width;
  frame.height = height;
  std::vector<uint32_t> pixels(size_t{width} * height, colour);
  EXPECT_EQ(media::EncodeJpegBgrx(pixels.data(), width, height, 90, &frame.jpeg), 0);
  return frame;
}

TEST(OutputPanel, MasterAndBlackoutTravelBothWays) {
  TestServer server;
  ControllerPanel panel;
  // Nothing is sent while disconnected.
  panel.BeginMasterDrag();
  panel.DragMaster(40);
  panel.EndMasterDrag();
  panel.ToggleBlackout();
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  EXPECT_EQ(panel.master().position(), 0);  // 1.0 at the top
  EXPECT_TRUE(server.received_master.empty());

  panel.BeginMasterDrag();
  panel.DragMaster(50);
  panel.DragMaster(50);  // no move, nothing more
  panel.EndMasterDrag();
  ASSERT_TRUE(Barrier(&panel, &server));
  ASSERT_EQ(server.received_master.size(), 1u);
  EXPECT_EQ(server.received_master[0].mask, net::kMasterLevel);
  EXPECT_FLOAT_EQ(server.received_master[0].level, 0.5f);
  // The thumb waits for the Server's word.
  EXPECT_EQ(panel.master().position(), 0);

  server.Send(net::MasterStatusMessage(0.25f, true));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.blackout(); }));
  EXPECT_EQ(panel.master().position(), 75);
  EXPECT_FLOAT_EQ(panel.master_level(), 0.25f);
  // The button turns the blackout off again.
  panel.ToggleBlackout();
  ASSERT_TRUE(Barrier(&panel, &server));
  ASSERT_EQ(server.received_master.size(), 2u);
  EXPECT_EQ(server.received_master[1].mask, net::kMasterBlackout);
  EXPECT_FALSE(server.received_master[1].blackout);

  // A level out of range from a Server is shown within 0..1.
  server.Send(net::MasterStatusMessage(3.0f, false));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return !panel.blackout(); }));
  EXPECT_FLOAT_EQ(panel.master_level(), 1.0f);

  panel.Disconnect();
  EXPECT_FALSE(panel.blackout());
  EXPECT_FLOAT_EQ(panel.master_level(), 1.0f);
}

TEST(OutputPanel, ThePreviewIsAskedForShownAndTurnedOff) {
  TestServer server;
  ControllerPanel panel;
  EXPECT_TRUE(panel.preview_wanted());
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  ASSERT_TRUE(Barrier(&panel, &server));
  EXPECT_EQ(server.received_preview_rates, std::vector<uint32_t>{ControllerPanel::kPreviewRate});

  const uint64_t before = panel.preview().serial;
  server.Send(Picture(32, 24, 0xFF00FF00u));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.preview().serial != before; }));
  ASSERT_EQ(panel.preview().width, 32u);
  ASSERT_EQ(panel.preview().height, 24u);
  ASSERT_EQ(panel.preview().rgba.size(), 32u * 24u * 4u);
  EXPECT_NEAR(panel.preview().rgba[1], 255, 4);  // green
  EXPECT_NEAR(panel.preview().rgba[0], 0, 4);

  // A damaged picture leaves the last one.
  net::PreviewFrameMessage damaged;
  damaged.width = 8;
  damaged.height = 8;
  damaged.jpeg = {0xFF, 0xD8, 1, 2, 3, 4};
  // A master status sent after a picture arrives after it: once the panel
  // shows the status, it has seen the picture.
  auto through = [&](float level) {
    server.Send(net::MasterStatusMessage(level, false));
    return Pump({&panel}, {&server}, [&] { return panel.master_level() == level; });
  };
  server.Send(damaged);
  ASSERT_TRUE(through(0.3f));
  EXPECT_EQ(panel.preview().width, 32u);

  panel.SetPreviewWanted(false);
  EXPECT_TRUE(panel.preview().rgba.empty());
  server.Send(Picture(16, 16, 0xFFFF0000u));
  ASSERT_TRUE(through(0.6f));
  EXPECT_TRUE(panel.preview().rgba.empty());  // not wanted: not shown
  ASSERT_TRUE(Barrier(&panel, &server));
  EXPECT_EQ(server.received_preview_rates, (std::vector<uint32_t>{ControllerPanel::kPreviewRate, 0}));
}

}  // namespace

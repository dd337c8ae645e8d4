// The beat graph: its picture as numbers and pixels (threshold line, bin
// lines, the tempo bar, the spectrum curve), every third paint drawn, and
// its three trackbars sending the detector settings as deck -1 updates.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/core/core.h"
#include "fx/timing.h"
#include "tests/client/panel_fixture.h"

namespace {

using client::BeatGraph;
using client::BeatPicture;
using client_test::Barrier;
using client_test::ConnectAndWaitForState;
using client_test::Pump;
using client_test::RealUpdates;
using client_test::TestServer;

// Paints until a picture is drawn (at most three requests).
const BeatPicture& Drawn(BeatGraph* graph, const float* spectrum = nullptr, uint32_t period = 0, uint32_t last = 0,
                         uint32_t now = 0) {
  BeatGraph::ResetPaintCounter();
  EXPECT_TRUE(graph->Paint(spectrum, period, last, now));
  return graph->picture();
}

int RedInRow(const std::vector<uint8_t>& pixels, int width, int y) {
  int count = 0;
  for (int x = 0; x < width; ++x) count += pixels[static_cast<size_t>(y * width + x)] == client::kBeatRed;
  return count;
}

TEST(BeatGraph, HasTheControlsSizeAndStartsAtItsDefaults) {
  BeatGraph graph;
  EXPECT_EQ(graph.width(), 194);  // 129 x 48 dialog units at 96 dpi
  EXPECT_EQ(graph.height(), 78);
  EXPECT_EQ(graph.settings().low_bin, 0u);
  EXPECT_EQ(graph.settings().high_bin, 20u);
  EXPECT_EQ(graph.settings().threshold, 0.0f);
  EXPECT_FALSE(graph.picture().drawn);
  EXPECT_EQ(graph.BarMax(BeatGraph::Bar::kLowBin), 194);
  EXPECT_EQ(graph.BarMax(BeatGraph::Bar::kThreshold), 78);
}

TEST(BeatGraph, ThresholdLineAtMinusOneForOneAndOnTheBottomRowForZero) {
  BeatGraph graph;
  const int w = graph.width(), h = graph.height();
  graph.SetBeatSettings(3, 30, 1.0f);
  const BeatPicture& top = Drawn(&graph);
  EXPECT_EQ(top.threshold_y, -1);
  EXPECT_EQ(top.low_x, 3);
  EXPECT_EQ(top.high_x, 30);
  std::vector<uint8_t> pixels = client::RasterizeBeatPicture(top);
  ASSERT_EQ(pixels.size(), static_cast<size_t>(w * h));
  // Only the two bin lines are red: no row holds a red line across.
  for (int y = 0; y < h; ++y) EXPECT_EQ(RedInRow(pixels, w, y), 2) << y;
  EXPECT_EQ(pixels[static_cast<size_t>(10 * w + 3)], client::kBeatRed);
  EXPECT_EQ(pixels[static_cast<size_t>(10 * w + 30)], client::kBeatRed);

  graph.SetBeatSettings(3, 30, 0.0f);
  const BeatPicture& bottom = Drawn(&graph);
  EXPECT_EQ(bottom.threshold_y, h - 1);
  pixels = client::RasterizeBeatPicture(bottom);
  EXPECT_EQ(RedInRow(pixels, w, h - 1), w);
  EXPECT_EQ(RedInRow(pixels, w, h - 2), 2);
  // h - trunc(h * t) - 1.
  graph.SetBeatSettings(3, 30, 0.5f);
  EXPECT_EQ(Drawn(&graph).threshold_y, h - 39 - 1);
  // Values the wire may bring do not break the arithmetic.
  graph.SetBeatSettings(4000000000u, 4000000000u, std::numeric_limits<float>::quiet_NaN());
  const BeatPicture& odd = Drawn(&graph);
  EXPECT_GT(odd.low_x, w - 1);
  EXPECT_EQ(odd.threshold_y, h - 1);
  graph.SetBeatSettings(0, 0, 1e30f);
  EXPECT_LT(Drawn(&graph).threshold_y, 0);
}

TEST(BeatGraph, TheTempoBarFlashesOnlyWithATappedPeriod) {
  BeatGraph graph;
  const int w = graph.width(), h = graph.height();
  EXPECT_FALSE(Drawn(&graph, nullptr, 0, 0, 0).flash);
  EXPECT_FALSE(Drawn(&graph, nullptr, 0, 10000, 10000).flash);
  // On the beat: half the height, the middle half of the width.
  const BeatPicture& beat = Drawn(&graph, nullptr, 500, 10000, 10000);
  ASSERT_TRUE(beat.flash);
  EXPECT_EQ(beat.flash_left, w / 4);
  EXPECT_EQ(beat.flash_right, 3 * w / 4);
  EXPECT_EQ(beat.flash_top, h / 2 - h / 4);
  EXPECT_EQ(beat.flash_bottom, h / 2 + h / 4);
  std::vector<uint8_t> pixels = client::RasterizeBeatPicture(beat);
  EXPECT_EQ(pixels[static_cast<size_t>((h / 2) * w + w / 2)], client::kBeatWhite);
  EXPECT_EQ(pixels[static_cast<size_t>((h / 2) * w + w / 8)], client::kBeatBlack);
  // Halfway through the 100 ms it is half as high, then gone.
  const BeatPicture& half = Drawn(&graph, nullptr, 500, 10000, 10050);
  ASSERT_TRUE(half.flash);
  EXPECT_EQ(half.flash_bottom - h / 2, static_cast<int>(0.5 * (h / 4)));
  EXPECT_FALSE(Drawn(&graph, nullptr, 500, 10000, 10100).flash);
  EXPECT_FALSE(Drawn(&graph, nullptr, 500, 10000, 10499).flash);
  EXPECT_TRUE(Drawn(&graph, nullptr, 500, 10000, 12000).flash);  // every period
}

TEST(BeatGraph, TheCurveFollowsTheFirst64BinsAndIsFlatAfterBin63) {
  BeatGraph graph;
  const int w = graph.width(), h = graph.height();
  std::vector<float> spectrum(256);
  for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<float>(i % 10) / 9.0f;
  const BeatPicture& p = Drawn(&graph, spectrum.data());
  ASSERT_EQ(p.curve.size(), static_cast<size_t>(w));
  for (int x = 0; x < 64; ++x)
    EXPECT_EQ(p.curve[static_cast<size_t>(x)], h - static_cast<int>(std::trunc(std::sqrt(spectrum[x]) * h)) - 1) << x;
  for (int x = 63; x < w; ++x) EXPECT_EQ(p.curve[static_cast<size_t>(x)], p.curve[63]) << x;
  EXPECT_EQ(p.curve[0], h - 1);  // silence on the bottom row
  EXPECT_EQ(p.curve[9], -1);     // a full bin at the top edge, out of sight
  // No spectrum reads as silence; broken magnitudes do not break it.
  const BeatPicture& silent = Drawn(&graph, nullptr);
  for (int y : silent.curve) EXPECT_EQ(y, h - 1);
  spectrum[0] = -1.0f;
  spectrum[1] = std::numeric_limits<float>::quiet_NaN();
  spectrum[2] = std::numeric_limits<float>::infinity();
  const BeatPicture& odd = Drawn(&graph, spectrum.data());
  EXPECT_EQ(odd.curve[0], h - 1);
  EXPECT_EQ(odd.curve[1], h - 1);
  EXPECT_LT(odd.curve[2], 0);
  client::RasterizeBeatPicture(odd);  // stays inside its pixels
}

TEST(BeatGraph, EveryThirdPaintOfTheProgramDraws) {
  BeatGraph a, b;
  BeatGraph::ResetPaintCounter();
  std::vector<bool> drawn;
  for (int i = 0; i < 3; ++i) {
    drawn.push_back(a.Paint(nullptr, 0, 0, 0));
    drawn.push_back(b.Paint(nullptr, 0, 0, 0));
  }
  EXPECT_EQ(drawn, (std::vector<bool>{true, false, false, true, false, false}));
  // A skipped request keeps the last picture.
  BeatGraph::ResetPaintCounter();
  a.SetBeatSettings(5, 6, 0.5f);
  ASSERT_TRUE(a.Paint(nullptr, 0, 0, 0));
  a.SetBeatSettings(7, 8, 0.5f);
  EXPECT_FALSE(a.Paint(nullptr, 0, 0, 0));
  EXPECT_EQ(a.picture().low_x, 5);
}

TEST(BeatGraph, TrackbarsShowTheSettingsAndTakeDrags) {
  BeatGraph graph;
  graph.SetBeatSettings(2, 20, 0.5f);
  EXPECT_EQ(graph.BarPosition(BeatGraph::Bar::kLowBin), 2);
  EXPECT_EQ(graph.BarPosition(BeatGraph::Bar::kHighBin), 20);
  EXPECT_EQ(graph.BarPosition(BeatGraph::Bar::kThreshold), 39);
  EXPECT_FALSE(graph.DragTo(BeatGraph::Bar::kLowBin, 9));  // only a drag moves it
  EXPECT_EQ(graph.settings().low_bin, 2u);
  graph.BeginDrag(BeatGraph::Bar::kThreshold);
  EXPECT_TRUE(graph.DragTo(BeatGraph::Bar::kThreshold, 0));
  EXPECT_EQ(graph.settings().threshold, 1.0f);  // top
  EXPECT_TRUE(graph.DragTo(BeatGraph::Bar::kThreshold, 500));
  EXPECT_EQ(graph.BarPosition(BeatGraph::Bar::kThreshold), 78);
  EXPECT_EQ(graph.settings().threshold, 0.0f);  // bottom
  EXPECT_FALSE(graph.DragTo(BeatGraph::Bar::kThreshold, 78));
  graph.SetBeatSettings(2, 20, 0.25f);  // a status during the drag
  EXPECT_EQ(graph.BarPosition(BeatGraph::Bar::kThreshold), 78);
  graph.EndDrag(BeatGraph::Bar::kThreshold);
  EXPECT_EQ(graph.BarPosition(BeatGraph::Bar::kThreshold), 59);
}

class BeatGraphPanel : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(fx::StartTiming(), 0); }
  void TearDown() override {
    core::SetProgramClock(nullptr);
    fx::StopTiming();
  }
};

TEST_F(BeatGraphPanel, TrackbarMovesSendDeckMinusOneWithMaskFour) {
  TestServer server;  // low 2, high 20, threshold 0.5
  client::ControllerPanel panel;
  panel.BeginBeatDrag(BeatGraph::Bar::kLowBin);  // not connected: nothing
  panel.DragBeatBar(BeatGraph::Bar::kLowBin, 9);
  EXPECT_EQ(panel.beat_settings().low_bin, 0u);
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  EXPECT_EQ(panel.beat_settings().low_bin, 2u);
  EXPECT_EQ(panel.beat_graph().BarPosition(BeatGraph::Bar::kThreshold), 39);

  panel.BeginBeatDrag(BeatGraph::Bar::kLowBin);
  panel.DragBeatBar(BeatGraph::Bar::kLowBin, 5);
  panel.DragBeatBar(BeatGraph::Bar::kHighBin, 40);  // not dragged: nothing
  panel.BeginBeatDrag(BeatGraph::Bar::kThreshold);
  panel.DragBeatBar(BeatGraph::Bar::kThreshold, 39 + 39 / 2);
  ASSERT_TRUE(Barrier(&panel, &server));
  std::vector<net::DeckRecord> updates = RealUpdates(server);
  ASSERT_EQ(updates.size(), 2u);
  for (const net::DeckRecord& r : updates) {
    EXPECT_EQ(r.reserved, 0u);
    EXPECT_EQ(r.deck, -1);
    EXPECT_EQ(r.change_mask, net::kMaskBeatSettings);
    EXPECT_EQ(r.fader, 0.0f);
    EXPECT_EQ(net::RecordText(r.effect_name), "");
    EXPECT_EQ(r.mixer, 0);
    EXPECT_EQ(r.effect_id, 0);
    EXPECT_EQ(r.beat_mode, 0);
    EXPECT_EQ(r.speed, 0.0f);
    EXPECT_EQ(r.low_bin, 5u);
    EXPECT_EQ(r.high_bin, 20u);
  }
  EXPECT_FLOAT_EQ(updates[0].threshold, 0.5f);
  EXPECT_FLOAT_EQ(updates[1].threshold, 1.0f - 58.0f / 78.0f);

  // Past the high bin: the Server lowers the low bin, and the graph shows
  // the Server's answer once the thumb is let go.
  panel.DragBeatBar(BeatGraph::Bar::kLowBin, 30);
  EXPECT_EQ(panel.beat_settings().low_bin, 30u);
  ASSERT_TRUE(Barrier(&panel, &server));
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.beat_settings().low_bin == 20u; }));
  EXPECT_EQ(panel.beat_graph().BarPosition(BeatGraph::Bar::kLowBin), 30);
  panel.EndBeatDrag(BeatGraph::Bar::kLowBin);
  panel.EndBeatDrag(BeatGraph::Bar::kThreshold);
  EXPECT_EQ(panel.beat_graph().BarPosition(BeatGraph::Bar::kLowBin), 20);
}

TEST_F(BeatGraphPanel, TheConnectedPanelPaintsItsServersTempo) {
  core::ManualClock clock(2000.0);
  core::SetProgramClock(&clock);
  TestServer server;
  client::ControllerPanel panel;
  ASSERT_TRUE(ConnectAndWaitForState(&panel, &server));
  // This process's own taps are not the Server's tempo: no flash.
  fx::Tap();
  clock.Advance(0.5);
  fx::Tap();
  BeatGraph::ResetPaintCounter();
  panel.Tick();
  EXPECT_FALSE(panel.beat_graph().picture().flash);
  // The Server's last beat was 100 ms before it sent its status.
  net::TempoStatusMessage tempo;
  tempo.period_ms = 500;
  tempo.since_beat_ms = 100;
  server.Send(tempo);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.server_tempo().known; }));
  EXPECT_EQ(panel.server_tempo().last_beat_ms, fx::MillisecondsOf(clock.Seconds()) - 100u);
  uint64_t before = panel.changes();
  clock.Advance(0.4);  // 500 ms after that beat: the next one
  BeatGraph::ResetPaintCounter();
  panel.Tick();
  EXPECT_TRUE(panel.beat_graph().picture().flash);
  EXPECT_NE(panel.changes(), before);  // a new picture asks for a redraw
  clock.Advance(0.2);
  BeatGraph::ResetPaintCounter();
  panel.Tick();
  EXPECT_FALSE(panel.beat_graph().picture().flash);
  // Beats off on the Server: no flash on its beat either.
  tempo.beat_disabled = true;
  tempo.since_beat_ms = 0;
  server.Send(tempo);
  ASSERT_TRUE(Pump({&panel}, {&server}, [&] { return panel.server_tempo().beat_disabled; }));
  BeatGraph::ResetPaintCounter();
  panel.Tick();
  EXPECT_FALSE(panel.beat_graph().picture().flash);
}

}  // namespace

namespace {

TEST(Tempo, TheLineShowsTheTappedTempoInBpm) {
  EXPECT_EQ(client::TempoText(500), "Tempo 120.0 BPM");
  EXPECT_EQ(client::TempoText(461), "Tempo 130.2 BPM");
  EXPECT_EQ(client::TempoText(0), "Tempo: tap the space bar");
  EXPECT_EQ(client::TempoText(0, net::kTempoSourceMidiClock), "MIDI CLOCK: waiting for the clock");
  EXPECT_EQ(client::TempoText(345, net::kTempoSourceMidiClock), "MIDI CLOCK 173.9 BPM");
  EXPECT_EQ(client::TempoText(500, net::kTempoSourceTap), "Tempo 120.0 BPM");
}

}  // namespace

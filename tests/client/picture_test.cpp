// Pictures of the Client window drawn on the headless GL device, with
// checks on what they show. They are kept for people to look at:
//   <build>/test-output/client/connected_panel.png  (also empty_window.png,
//   version_mismatch.png)
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "app/core/core.h"
#include <imgui.h>

#include "client/draw_gl.h"
#include "client/view.h"
#include "fx/timing.h"
#include "tests/client/panel_fixture.h"
#include "tests/client/png_out.h"

namespace {

using client::Control;
using client::DeckControl;
using client::PixelRect;
using client_test::Pump;
using client_test::TestServer;

struct Rgb {
  int r, g, b;
};

class PictureCheck {
 public:
  explicit PictureCheck(const client::Picture& picture) : p_(picture) {}
  Rgb At(int x, int y) const {
    size_t i = (static_cast<size_t>(y) * static_cast<size_t>(p_.width) + static_cast<size_t>(x)) * 4;
    return {p_.rgba[i], p_.rgba[i + 1], p_.rgba[i + 2]};
  }
  // Pixels inside `r` (window coordinates) for which `test` holds.
  int Count(const PixelRect& r, const std::function<bool(Rgb)>& test) const {
    int count = 0;
    for (int y = std::max(0, static_cast<int>(r.y)); y < std::min(p_.height, static_cast<int>(r.bottom())); ++y)
      for (int x = std::max(0, static_cast<int>(r.x)); x < std::min(p_.width, static_cast<int>(r.right())); ++x)
        count += test(At(x, y)) ? 1 : 0;
    return count;
  }
  // Row of `r` holding the most pixels for which `test` holds.
  int BusiestRow(const PixelRect& r, const std::function<bool(Rgb)>& test) const {
    int best = -1, best_count = 0;
    for (int y = static_cast<int>(r.y); y < static_cast<int>(r.bottom()); ++y) {
      PixelRect row{r.x, static_cast<float>(y), r.w, 1.0f};
      int c = Count(row, test);
      if (c > best_count) best = y, best_count = c;
    }
    return best;
  }

 private:
  const client::Picture& p_;
};

bool Near(Rgb c, Rgb want, int tolerance = 24) {
  return std::abs(c.r - want.r) <= tolerance && std::abs(c.g - want.g) <= tolerance &&
         std::abs(c.b - want.b) <= tolerance;
}
bool Bright(Rgb c) { return c.r > 170 && c.g > 170 && c.b > 170; }
bool Accent(Rgb c) { return c.r > 200 && c.g > 110 && c.g < 200 && c.b < 90; }

PixelRect Shift(PixelRect r, float dy) {
  r.y += dy;
  return r;
}

int SavePicture(const client::Picture& picture, const std::string& path) {
  return client_test::WritePngFromRgba(path, picture.width, picture.height, picture.rgba);
}

TEST(ClientPicture, AnEmptyWindowThenAConnectedPanel) {
  TestServer server;
  for (const char* name : {"STROBE", "KALEIDO", "STARFIELD"}) {
    net::EffectRecord effect;
    effect.id = static_cast<int32_t>(server.effects.size());
    net::SetRecordText(effect.name, name);
    server.effects.push_back(effect);
  }
  server.effects[0].loaded = true;  // TUNNEL
  server.effects[3].loaded = true;  // STROBE
  server.decks[0].effect_id = 0;
  server.decks[0].fader = 0.5f;
  server.decks[1].effect_id = 3;
  server.decks[1].mixer = 5;
  server.decks[1].speed = 0.9f;
  server.decks[3].beat_mode = net::kBeatStartOnBeat;

  client::ClientWindow logic;
  std::string folder = std::string(VJ_BINARY_DIR) + "/test-output/client";
  testing_support::MakeDirs(folder);
  {
    // Before any panel: a one-line hint in the middle, the rest plain.
    client::Picture empty;
    ASSERT_EQ(client::RenderClientPicture(&logic, 1.0f, 3, &empty), 0);
    EXPECT_EQ(SavePicture(empty, folder + "/empty_window.png"), 0);
    PictureCheck check(empty);
    PixelRect middle{0.0f, empty.height * 0.4f, static_cast<float>(empty.width), empty.height * 0.2f};
    EXPECT_GT(check.Count(middle, [](Rgb c) { return c.r > 90; }), 100);
    PixelRect lower{0.0f, empty.height * 0.7f, empty.width - 20.0f, empty.height * 0.25f};
    EXPECT_EQ(check.Count(lower, [](Rgb c) { return c.r > 90; }), 0);
  }
  client::ControllerPanel* panel = logic.NewController();
  ASSERT_TRUE(client_test::ConnectAndWaitForState(panel, &server));
  server.Send(net::LogEventMessage("Loaded effect TUNNEL"));
  server.Send(net::LogEventMessage("Loaded effect STROBE"));
  server.Send(net::PlayerStatusMessage(60));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->frame_rate_text() == "  60"; }));
  panel->SelectUnloaded(panel->unloaded_list()[1].number, true);

  client::Picture picture;
  ASSERT_EQ(client::RenderClientPicture(&logic, 1.0f, 3, &picture), 0);
  std::string path = folder + "/connected_panel.png";
  EXPECT_EQ(SavePicture(picture, path), 0) << path;
  std::printf("picture: %s\n", path.c_str());

  PictureCheck check(picture);
  float top = picture.panel_top;
  EXPECT_GT(top, 10.0f);  // the menu bar
  const float scale = 1.0f;
  auto place = [&](const client::DialogRect& r) { return Shift(client::ToPixels(r, scale), top); };

  for (int deck = 0; deck < client::kPanelDecks; ++deck) {
    PixelRect group = place(client::DeckControlRect(deck, DeckControl::kGroup));
    // The group holds drawn controls: bright thumbs and text, not an empty box.
    EXPECT_GT(check.Count(group, Bright), 200) << "deck " << deck;
    PixelRect fader = place(client::DeckControlRect(deck, DeckControl::kFader));
    // The fader's thumb sits where the Server's fader puts it.
    int position = client::Trackbar::PositionFor(server.decks[deck].fader);
    float want = client::ClientView::ThumbCentreAt(fader, position, scale).y;
    int row = check.BusiestRow(fader, [](Rgb c) { return Near(c, {200, 204, 212}, 12); });
    EXPECT_NEAR(static_cast<float>(row), want, 5.0f) << "deck " << deck;
    // Effect decks show their name in the accent colour; the others do not.
    PixelRect label = place(client::DeckControlRect(deck, DeckControl::kEffectLabel));
    int accent = check.Count(label, Accent);
    if (server.decks[deck].effect_id >= 0)
      EXPECT_GT(accent, 20) << "deck " << deck;
    else
      EXPECT_EQ(accent, 0) << "deck " << deck;
  }
  // The log area shows the newest line's text pixels in its first row.
  PixelRect log = place(client::ControlRect(Control::kLog));
  PixelRect first_line{log.x, log.y, log.w, std::round(13.0f * scale) + 6.0f};
  EXPECT_GT(check.Count(first_line, Bright), 60);
  PixelRect log_tail{log.x, log.y + log.h * 0.75f, log.w, log.h * 0.25f};
  EXPECT_EQ(check.Count(log_tail, Bright), 0);  // three lines leave the bottom empty
  // The status lamp is green and the status line has text.
  PixelRect status = place(client::ControlRect(Control::kStatus));
  EXPECT_GT(check.Count(status, [](Rgb c) { return Near(c, {76, 190, 110}); }), 10);
  EXPECT_GT(check.Count(status, Bright), 100);
  // Both effect lists hold names; one item of the not-loaded list is selected.
  EXPECT_GT(check.Count(place(client::ControlRect(Control::kUnloadedList)), Bright), 150);
  EXPECT_GT(check.Count(place(client::ControlRect(Control::kLoadedList)), Bright), 80);
  EXPECT_GT(check.Count(place(client::ControlRect(Control::kUnloadedList)),
                        [](Rgb c) { return c.r > 120 && c.r > c.b + 60; }),
            200);
}

TEST(ClientPicture, AnErrorShowsAsAPopupInsideTheWindow) {
  client::ClientWindow logic;
  logic.NewController();
  logic.alerts().push_back("Server is running version 0.2 and client is version 0.1. Can't establish connection");
  client::Picture picture;
  // The dimming behind a modal popup fades in over about ten frames.
  ASSERT_EQ(client::RenderClientPicture(&logic, 1.0f, 15, &picture), 0);
  std::string folder = std::string(VJ_BINARY_DIR) + "/test-output/client";
  testing_support::MakeDirs(folder);
  EXPECT_EQ(SavePicture(picture, folder + "/version_mismatch.png"), 0);
  PictureCheck check(picture);
  // The message stands in the middle of the window ...
  PixelRect middle{picture.width * 0.15f, picture.height * 0.35f, picture.width * 0.7f, picture.height * 0.3f};
  EXPECT_GT(check.Count(middle, Bright), 300);
  // ... over the dimmed panel (the status line's text is darkened).
  PixelRect status = Shift(client::ToPixels(client::ControlRect(Control::kStatus), 1.0f), picture.panel_top);
  EXPECT_EQ(check.Count(status, Bright), 0);
  EXPECT_GT(check.Count(status, [](Rgb c) { return c.r > 60; }), 20);  // still there, dimmed
}

TEST(ClientPicture, TheBeatGraphShowsItsLinesAndTheTempoBar) {
  ASSERT_EQ(fx::StartTiming(), 0);
  core::ManualClock clock(3000.0);
  core::SetProgramClock(&clock);
  TestServer server;  // low bin 2, high bin 20, threshold 0.5
  client::ClientWindow logic;
  client::ControllerPanel* panel = logic.NewController();
  ASSERT_TRUE(client_test::ConnectAndWaitForState(panel, &server));
  net::TempoStatusMessage tempo;  // the Server's beat: now
  tempo.period_ms = 500;
  server.Send(tempo);
  ASSERT_TRUE(client_test::Pump({panel}, {&server}, [&] { return panel->server_tempo().known; }));
  client::BeatGraph::ResetPaintCounter();
  panel->Tick();
  ASSERT_TRUE(panel->beat_graph().picture().flash);

  client::Picture picture;
  ASSERT_EQ(client::RenderClientPicture(&logic, 1.0f, 3, &picture), 0);
  std::string folder = std::string(VJ_BINARY_DIR) + "/test-output/client";
  testing_support::MakeDirs(folder);
  EXPECT_EQ(SavePicture(picture, folder + "/beat_graph.png"), 0);
  core::SetProgramClock(nullptr);
  fx::StopTiming();

  PictureCheck check(picture);
  PixelRect area = Shift(client::ToPixels(client::ControlRect(Control::kBeatGraph), 1.0f), picture.panel_top);
  const client::BeatGraph& graph = panel->beat_graph();
  float sx = area.w / static_cast<float>(graph.width()), sy = area.h / static_cast<float>(graph.height());
  auto red = [](Rgb c) { return c.r > 200 && c.g < 70 && c.b < 70; };
  // The high bin's line runs top to bottom at x = 20 ...
  PixelRect column{std::floor(area.x + 20.5f * sx) - 1.0f, area.y + 2.0f, 3.0f, area.h - 4.0f};
  EXPECT_GT(check.Count(column, red), static_cast<int>(column.h * 0.8f));
  // ... the threshold's across at y = 78 - 39 - 1 ...
  PixelRect row{area.x + 2.0f, std::floor(area.y + 38.5f * sy) - 1.0f, area.w - 4.0f, 3.0f};
  EXPECT_GT(check.Count(row, red), static_cast<int>(row.w * 0.8f));
  // ... and nowhere far from them.
  PixelRect quiet{area.x + 30.0f * sx, area.y + 2.0f, 10.0f * sx, 15.0f * sy};
  EXPECT_EQ(check.Count(quiet, red), 0);
  // The tempo bar fills the middle in white on the beat.
  PixelRect bar{area.x + 60.0f * sx, area.y + 22.0f * sy, 70.0f * sx, 12.0f * sy};
  EXPECT_GT(check.Count(bar, Bright), static_cast<int>(bar.w * bar.h * 0.9f));
  // Silence: the curve lies on the bottom row, white.
  PixelRect bottom{area.x + 70.0f * sx, area.y + area.h - 3.0f, 40.0f * sx, 3.0f};
  EXPECT_GT(check.Count(bottom, Bright), static_cast<int>(40.0f * sx * 0.8f));
}

}  // namespace

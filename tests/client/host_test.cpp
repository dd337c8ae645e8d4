// Host text parsing for the connection dialog, and the small layout and
// placement helpers of the Client window.
#include <gtest/gtest.h>

#include "client/panel.h"
#include "client/window.h"

namespace {

using client::HostAddress;
using client::ParseHostAndPort;

HostAddress Parse(const std::string& text) {
  HostAddress address;
  address.host = "unchanged";
  address.port = -5;
  std::string error;
  EXPECT_EQ(ParseHostAndPort(text, &address, &error), 0) << text << ": " << error;
  return address;
}

TEST(HostText, PlainHostGetsTheDefaultPort) {
  HostAddress a = Parse("localhost");
  EXPECT_EQ(a.host, "localhost");
  EXPECT_EQ(a.port, 6969);
  a = Parse("  192.168.1.20\t");
  EXPECT_EQ(a.host, "192.168.1.20");
  EXPECT_EQ(a.port, 6969);
}

TEST(HostText, HostAndPort) {
  HostAddress a = Parse("stage-pc:7000");
  EXPECT_EQ(a.host, "stage-pc");
  EXPECT_EQ(a.port, 7000);
  a = Parse("127.0.0.1:1");
  EXPECT_EQ(a.port, 1);
  a = Parse("127.0.0.1:65535");
  EXPECT_EQ(a.port, 65535);
  a = Parse("[localhost]:7001");
  EXPECT_EQ(a.host, "localhost");
  EXPECT_EQ(a.port, 7001);
  a = Parse("[::1]");
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.port, 6969);
}

TEST(HostText, EmptyTextIsAnEmptyHost) {
  // Connecting to it fails later like any unknown name.
  HostAddress a = Parse("");
  EXPECT_EQ(a.host, "");
  EXPECT_EQ(a.port, 6969);
  a = Parse(":7000");
  EXPECT_EQ(a.host, "");
  EXPECT_EQ(a.port, 7000);
}

TEST(HostText, SeveralColonsAreAllHost) {
  HostAddress a = Parse("fe80::1");
  EXPECT_EQ(a.host, "fe80::1");
  EXPECT_EQ(a.port, 6969);
}

TEST(HostText, BadPortsAreRefusedWithAReason) {
  for (const char* text : {"host:", "host:0", "host:65536", "host:99999999999", "host:12a", "host:-5",
                           "host: 80", "[host", "[host]x", "[host]:"}) {
    HostAddress a;
    a.host = "kept";
    std::string error;
    EXPECT_EQ(ParseHostAndPort(text, &a, &error), -1) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(a.host, "kept") << text;
  }
}

TEST(Layout, DialogUnitsBecomePixels) {
  client::PixelRect r = client::ToPixels({10, 20, 100, 40}, 1.0f);
  EXPECT_FLOAT_EQ(r.x, 15.0f);
  EXPECT_FLOAT_EQ(r.y, 32.5f);
  EXPECT_FLOAT_EQ(r.w, 150.0f);
  EXPECT_FLOAT_EQ(r.h, 65.0f);
  // A high-density screen doubles everything.
  client::PixelRect big = client::ToPixels(client::kPanelSize, 2.0f);
  EXPECT_FLOAT_EQ(big.w, 647 * 3.0f);
  EXPECT_FLOAT_EQ(big.h, 380 * 3.25f);
}

bool Inside(const client::DialogRect& inner, const client::DialogRect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
         inner.y + inner.h <= outer.y + outer.h;
}
bool Overlap(const client::DialogRect& a, const client::DialogRect& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

TEST(Layout, DeckControlsSitInsideTheirGroupsAndGroupsDoNotOverlap) {
  using client::DeckControl;
  for (int deck = 0; deck < client::kPanelDecks; ++deck) {
    client::DialogRect group = client::DeckControlRect(deck, DeckControl::kGroup);
    EXPECT_TRUE(Inside(group, client::kPanelSize));
    for (DeckControl c : {DeckControl::kFader, DeckControl::kSpeed, DeckControl::kUnload, DeckControl::kBeatMode,
                          DeckControl::kMixer, DeckControl::kEffectLabel, DeckControl::kFaderCaption,
                          DeckControl::kSpeedCaption})
      EXPECT_TRUE(Inside(client::DeckControlRect(deck, c), group)) << deck << " " << static_cast<int>(c);
    // Fader at the left, speed beside it, the lists under "Unload".
    EXPECT_LT(client::DeckControlRect(deck, DeckControl::kFader).x, client::DeckControlRect(deck, DeckControl::kSpeed).x);
    EXPECT_LT(client::DeckControlRect(deck, DeckControl::kUnload).y,
              client::DeckControlRect(deck, DeckControl::kBeatMode).y);
    EXPECT_LT(client::DeckControlRect(deck, DeckControl::kBeatMode).y,
              client::DeckControlRect(deck, DeckControl::kMixer).y);
    for (int other = deck + 1; other < client::kPanelDecks; ++other)
      EXPECT_FALSE(Overlap(group, client::DeckControlRect(other, DeckControl::kGroup)));
    // Assign buttons stand under the loaded list, apart from each other.
    client::DialogRect assign = client::DeckControlRect(deck, DeckControl::kAssign);
    client::DialogRect loaded = client::ControlRect(client::Control::kLoadedList);
    EXPECT_GE(assign.y, loaded.y + loaded.h);
    EXPECT_TRUE(Inside(assign, client::kPanelSize));
    for (int other = deck + 1; other < client::kPanelDecks; ++other)
      EXPECT_FALSE(Overlap(assign, client::DeckControlRect(other, DeckControl::kAssign)));
  }
  // The template's own positions.
  client::DialogRect log = client::ControlRect(client::Control::kLog);
  EXPECT_EQ(log.x, 245);
  EXPECT_EQ(log.y, 316);
  EXPECT_EQ(client::DeckControlRect(3, DeckControl::kGroup).x, 342);
  EXPECT_EQ(client::DeckControlRect(3, DeckControl::kGroup).y, 127);
}

TEST(Placement, VisibleWindowsStayWhereTheyWere) {
  std::vector<client::PixelRect> displays = {{0, 0, 1280, 720}, {1280, 0, 1920, 1080}};
  client::ScreenPoint p = client::PlaceOnDisplays(100, 50, 980, 660, displays);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 50);
  // On the second display.
  p = client::PlaceOnDisplays(2000, 300, 980, 660, displays);
  EXPECT_EQ(p.x, 2000);
  // Hanging off the right edge but with its title area reachable.
  p = client::PlaceOnDisplays(1200, 10, 980, 660, {{0, 0, 1280, 720}});
  EXPECT_EQ(p.x, 1200);
}

TEST(Placement, OffScreenWindowsMoveOntoTheFirstDisplay) {
  std::vector<client::PixelRect> displays = {{0, 0, 1280, 720}};
  // A display that was unplugged.
  client::ScreenPoint p = client::PlaceOnDisplays(3000, 200, 980, 660, displays);
  EXPECT_EQ(p.x, 32);
  EXPECT_EQ(p.y, 32);
  // Title bar above the top edge: unreachable.
  p = client::PlaceOnDisplays(100, -500, 980, 660, displays);
  EXPECT_EQ(p.y, 32);
  // Only 20 px peeking in from the left.
  p = client::PlaceOnDisplays(-960, 100, 980, 660, displays);
  EXPECT_EQ(p.x, 32);
  // A window taller than the display goes to its top.
  p = client::PlaceOnDisplays(-5000, -5000, 980, 900, displays);
  EXPECT_EQ(p.y, 0);
  // No display known: nothing to compare with.
  p = client::PlaceOnDisplays(-5000, 10, 980, 900, {});
  EXPECT_EQ(p.x, -5000);
}

TEST(Menu, MnemonicMarksAreNotShown) {
  EXPECT_EQ(client::MenuText(client::kMenuFile), "File");
  EXPECT_EQ(client::MenuText(client::kMenuNewController), "New Controller");
  EXPECT_EQ(client::MenuText(client::kMenuQuit), "Quit");
  EXPECT_EQ(client::MenuText("Save && &Exit"), "Save & Exit");
}

}  // namespace

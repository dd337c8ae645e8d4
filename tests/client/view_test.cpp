// The Client window's ImGui view driven with a simulated mouse and keys,
// without a window: drag-only trackbars, list selection, buttons, the
// connection dialog, the error popup and the menu.
#include <gtest/gtest.h>

#include <cmath>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/core/core.h"
#include "tests/client/panel_fixture.h"
#include "tests/client/view_harness.h"

namespace {

using client::DeckControl;
using client_test::Barrier;
using client_test::ConnectAndWaitForState;
using client_test::CountReceived;
using client_test::Pump;
using client_test::RealUpdates;
using client_test::TestServer;
using client_test::ViewHarness;

// Centre of row `row` of a list box at `r` (mouse positions are whole pixels).
// Item `row` of an effect list of a connected panel: the list's heading
// ("Not loaded" / "Loaded") takes the first line.
ImVec2 ListRow(const client::PixelRect& r, int row) {
  const ImGuiStyle& style = ImGui::GetStyle();
  float pitch = ImGui::GetFontSize() + style.ItemSpacing.y;
  return ImVec2(r.x + r.w * 0.5f,
                r.y + style.FramePadding.y + pitch * static_cast<float>(row + 1) + ImGui::GetFontSize() * 0.5f);
}

// Centre of item `row` in an open popup window (combo or menu).
ImVec2 PopupRow(const char* window_name, int row) {
  ImGuiWindow* popup = ImGui::FindWindowByName(window_name);
  EXPECT_NE(popup, nullptr) << window_name;
  if (!popup) return ImVec2(-1000, -1000);
  float pitch = ImGui::GetFontSize() + ImGui::GetStyle().ItemSpacing.y;
  return ImVec2(popup->Pos.x + popup->Size.x * 0.5f,
                popup->DC.CursorStartPos.y + pitch * static_cast<float>(row) + ImGui::GetFontSize() * 0.5f);
}

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetSettingsFolder(dir.path());
    ASSERT_TRUE(core::OpenSettingsRoot(core::kSettingsRootPath));
  }
  // A panel in the view, connected to `server`.
  client::ControllerPanel* ConnectedPanel(TestServer* server) {
    client::ControllerPanel* panel = view.logic().NewController();
    EXPECT_TRUE(ConnectAndWaitForState(panel, server));
    view.Idle();
    return panel;
  }
  testing_support::TempDir dir;
  ViewHarness view;
};

TEST_F(ViewTest, DraggingTheFaderThumbToTheMiddleSendsHalf) {
  TestServer server;
  client::ControllerPanel* panel = ConnectedPanel(&server);
  client::PixelRect track = view.view().DeckPixels(0, 0, DeckControl::kFader);
  ImVec2 exact = view.view().ThumbCentre(track, panel->fader(0).position());
  ImVec2 thumb(std::round(exact.x), std::round(exact.y));
  // The thumb follows the mouse's movement: move it by half the travel.
  ImVec2 middle(thumb.x, thumb.y + std::round(view.view().ThumbCentre(track, 50).y - exact.y));

  view.Frame(thumb.x, thumb.y, false);
  view.Frame(thumb.x, thumb.y, true);
  EXPECT_TRUE(panel->fader(0).dragging());
  view.Frame(thumb.x, (thumb.y + middle.y) * 0.5f, true);
  view.Frame(middle.x, middle.y, true);
  EXPECT_EQ(panel->fader(0).position(), 50);  // shown while held
  ASSERT_TRUE(Pump({panel}, {&server}, [&] {
    auto updates = RealUpdates(server);
    return !updates.empty() && updates.back().fader == 0.5f;
  }));
  for (const net::DeckRecord& update : RealUpdates(server)) {
    EXPECT_EQ(update.change_mask, net::kMaskFader);
    EXPECT_EQ(update.deck, 0);
  }
  EXPECT_GE(RealUpdates(server).size(), 2u);  // one per movement
  view.Frame(middle.x, middle.y, false);
  EXPECT_FALSE(panel->fader(0).dragging());
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->deck_table()[0].fader == 0.5f; }));
  EXPECT_EQ(panel->fader(0).position(), 50);
}

TEST_F(ViewTest, AClickInTheTrackMovesAndSendsNothing) {
  TestServer server;
  client::ControllerPanel* panel = ConnectedPanel(&server);
  for (DeckControl control : {DeckControl::kFader, DeckControl::kSpeed}) {
    client::PixelRect track = view.view().DeckPixels(0, 3, control);
    ImVec2 spot = view.view().ThumbCentre(track, 80);  // well away from the thumb
    view.Click(spot);
    view.Click(spot.x, track.bottom() - 1.0f);
  }
  ASSERT_TRUE(Barrier(panel, &server));
  EXPECT_TRUE(RealUpdates(server).empty());
  EXPECT_EQ(panel->fader(3).position(), 0);
  EXPECT_EQ(panel->speed(3).position(), 25);
  EXPECT_FALSE(panel->fader(3).dragging());
}

TEST_F(ViewTest, DraggingTheSpeedThumbSendsSpeedWithTheGrabPointKept) {
  TestServer server;
  client::ControllerPanel* panel = ConnectedPanel(&server);
  client::PixelRect track = view.view().DeckPixels(0, 5, DeckControl::kSpeed);
  ImVec2 thumb = view.view().ThumbCentre(track, 25);
  // Grabbed 3 px below its centre: the thumb must not jump to the mouse.
  ImVec2 grab(thumb.x, thumb.y + 3.0f);
  ImVec2 target = view.view().ThumbCentre(track, 50);
  view.Drag(grab, ImVec2(target.x, target.y + 3.0f));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->deck_table()[5].speed == 0.5f; }));
  auto updates = RealUpdates(server);
  ASSERT_FALSE(updates.empty());
  EXPECT_EQ(updates.back().change_mask, net::kMaskSpeed);
  EXPECT_FLOAT_EQ(updates.back().speed, 0.5f);
  EXPECT_EQ(panel->speed(5).position(), 50);
}

TEST_F(ViewTest, ListClicksSelectLikeAListBoxAndLoadSendsOnePerItem) {
  TestServer server;
  client::ControllerPanel* panel = ConnectedPanel(&server);
  client::PixelRect list = view.view().ControlPixels(0, client::Control::kUnloadedList);
  // BROKEN, PLASMA, TUNNEL.
  view.Click(ListRow(list, 0));
  EXPECT_TRUE(panel->unloaded_list()[0].selected);
  view.Click(ListRow(list, 2), /*ctrl=*/true);
  EXPECT_TRUE(panel->unloaded_list()[0].selected);
  EXPECT_TRUE(panel->unloaded_list()[2].selected);
  view.Click(ListRow(list, 1), false, /*shift=*/true);  // range from TUNNEL
  EXPECT_FALSE(panel->unloaded_list()[0].selected);
  EXPECT_TRUE(panel->unloaded_list()[1].selected);
  EXPECT_TRUE(panel->unloaded_list()[2].selected);
  view.Click(view.view().ControlPixels(0, client::Control::kLoadButton));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->loaded_list().size() == 2; }));
  EXPECT_EQ(CountReceived(server, net::MSG_LOAD_EFFECT), 2);
  EXPECT_EQ(panel->loaded_list()[0].text, "PLASMA");
  EXPECT_EQ(panel->loaded_list()[1].text, "TUNNEL");

  // "Deck 3" with nothing selected in the loaded list sends nothing.
  view.Idle();
  view.Click(view.view().DeckPixels(0, 2, DeckControl::kAssign));
  ASSERT_TRUE(Barrier(panel, &server));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);
  // With TUNNEL selected it goes to deck 3.
  view.Click(ListRow(view.view().ControlPixels(0, client::Control::kLoadedList), 1));
  view.Click(view.view().DeckPixels(0, 2, DeckControl::kAssign));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->DeckEffectLabel(2) == "TUNNEL"; }));
  // "Unload" of that deck takes it off.
  view.Idle();
  view.Click(view.view().DeckPixels(0, 2, DeckControl::kUnload));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->DeckEffectLabel(2) == "NO EFFECT"; }));
  // "Unload ^" unloads the selected loaded effect.
  view.Click(view.view().ControlPixels(0, client::Control::kUnloadButton));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->loaded_list().size() == 1; }));
}

TEST_F(ViewTest, MixerAndBeatModeListsChooseByClicking) {
  TestServer server;
  client::ControllerPanel* panel = ConnectedPanel(&server);
  view.Click(view.view().DeckPixels(0, 1, DeckControl::kMixer));
  ASSERT_TRUE(view.AnyPopupOpen());
  view.Idle();  // a popup takes its size in the frame after it opens
  view.Click(PopupRow("##Combo_00", 3));  // NULL MIXER, ALPHABLEND, BEATBLEND, INVERSEBEATBLEND
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->MixerChoiceIndex(1) == 3; }));
  EXPECT_EQ(RealUpdates(server).back().mixer, 2);
  EXPECT_EQ(RealUpdates(server).back().change_mask, net::kMaskMixer);
  view.Idle();
  view.Click(view.view().DeckPixels(0, 1, DeckControl::kBeatMode));
  view.Idle();
  view.Click(PopupRow("##Combo_00", 1));  // START ON BEAT
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->BeatModeChoiceIndex(1) == 1; }));
  EXPECT_EQ(RealUpdates(server).back().change_mask, net::kMaskBeatMode);
  EXPECT_EQ(server.decks[1].beat_mode, net::kBeatStartOnBeat);
}

TEST_F(ViewTest, ADisconnectedPanelsControlsAreInert) {
  client::ControllerPanel* panel = view.logic().NewController();
  view.Idle();
  client::PixelRect track = view.view().DeckPixels(0, 0, DeckControl::kFader);
  ImVec2 thumb = view.view().ThumbCentre(track, 0);
  view.Frame(thumb.x, thumb.y, false);
  view.Frame(thumb.x, thumb.y, true);
  EXPECT_FALSE(panel->fader(0).dragging());
  view.Frame(thumb.x, thumb.y + 40.0f, true);
  view.Frame(thumb.x, thumb.y + 40.0f, false);
  EXPECT_EQ(panel->fader(0).position(), 0);
  view.Click(view.view().DeckPixels(0, 0, DeckControl::kMixer));
  EXPECT_FALSE(view.AnyPopupOpen());
}

TEST_F(ViewTest, ConnectOpensTheHostPromptPrefilledAndEnterConnects) {
  TestServer server;
  core::WriteSettingText("", "LastConnection", server.Address().c_str());
  client::ControllerPanel* panel = view.logic().NewController();
  view.Idle();
  view.Click(view.view().ControlPixels(0, client::Control::kConnect));
  view.Idle();
  ASSERT_TRUE(view.logic().dialog().is_open());
  EXPECT_TRUE(view.AnyPopupOpen());
  EXPECT_EQ(std::string(view.logic().dialog().host_text()), server.Address());
  view.PressKey(ImGuiKey_Enter);
  EXPECT_FALSE(view.logic().dialog().is_open());
  EXPECT_NE(panel->link_state(), client::LinkState::kDisconnected);
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return !panel->mixer_choices().empty(); }));
  view.Idle();
  EXPECT_FALSE(view.AnyPopupOpen());

  // "Disconnect", then Connect again and Escape: nothing stored, no connect.
  core::WriteSettingText("", "LastConnection", "elsewhere");
  view.Click(view.view().ControlPixels(0, client::Control::kConnect));
  EXPECT_FALSE(panel->connected());
  view.Idle();
  view.Click(view.view().ControlPixels(0, client::Control::kConnect));
  view.Idle();
  ASSERT_TRUE(view.logic().dialog().is_open());
  EXPECT_STREQ(view.logic().dialog().host_text(), "elsewhere");
  view.PressKey(ImGuiKey_Escape);
  EXPECT_FALSE(view.logic().dialog().is_open());
  EXPECT_EQ(panel->link_state(), client::LinkState::kDisconnected);
  char stored[client::kHostCapacity];
  ASSERT_TRUE(core::ReadSettingText("", "LastConnection", stored, sizeof stored));
  EXPECT_STREQ(stored, "elsewhere");
}

TEST_F(ViewTest, TypedHostTextAndTheConnectButton) {
  TestServer server;
  client::ControllerPanel* panel = view.logic().NewController();
  view.Idle();
  view.Click(view.view().ControlPixels(0, client::Control::kConnect));
  view.Idle();
  ASSERT_TRUE(view.logic().dialog().is_open());
  ImGui::SetCurrentContext(view.context());
  ImGui::GetIO().AddInputCharactersUTF8(server.Address().c_str());
  view.Idle();
  EXPECT_EQ(std::string(view.logic().dialog().host_text()), server.Address());
  // The "Connect" button of the prompt sits at its template place.
  ImGuiWindow* prompt = ImGui::FindWindowByName(client::ClientView::DialogTitle());
  ASSERT_NE(prompt, nullptr);
  client::PixelRect button = client::ToPixels({7, 7, 50, 14}, 1.0f);
  view.Click(prompt->Pos.x + button.x + button.w * 0.5f, prompt->Pos.y + prompt->TitleBarHeight() + button.y + button.h * 0.5f);
  EXPECT_FALSE(view.logic().dialog().is_open());
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->connected(); }));
  char stored[client::kHostCapacity];
  ASSERT_TRUE(core::ReadSettingText("", "LastConnection", stored, sizeof stored));
  EXPECT_EQ(std::string(stored), server.Address());
}

TEST_F(ViewTest, AVersionMismatchShowsAnErrorPopupInsideTheWindow) {
  TestServer server;
  server.minor = 3;
  client::ControllerPanel* panel = view.logic().NewController();
  ASSERT_EQ(panel->Connect(server.Address()), 0);
  ASSERT_TRUE(Pump({}, {&server}, [&] {
    view.logic().Tick();
    return !view.logic().alerts().empty();
  }));
  view.Idle();
  EXPECT_TRUE(view.AnyPopupOpen());
  EXPECT_NE(ImGui::FindWindowByName(client::ClientView::AlertTitle()), nullptr);
  view.PressKey(ImGuiKey_Enter);
  view.Idle();
  EXPECT_TRUE(view.logic().alerts().empty());
  EXPECT_FALSE(view.AnyPopupOpen());
  EXPECT_EQ(panel->status(), "Disconnected");
}

TEST_F(ViewTest, MenuAddsPanelsBelowEachOtherAndCloseRemovesThem) {
  const float menu_y = view.view().menu_height() * 0.5f;
  for (int i = 0; i < 2; ++i) {
    view.Click(20.0f, menu_y);  // "File"
    ASSERT_TRUE(view.AnyPopupOpen());
    view.Idle();
    view.Click(PopupRow("##Menu_00", 0));  // "New Controller"
    view.Idle(3);
  }
  ASSERT_EQ(view.logic().panel_count(), 2u);
  client::PixelRect first = view.view().PanelRect(0);
  client::PixelRect second = view.view().PanelRect(1);
  EXPECT_FLOAT_EQ(second.y - first.y, client::ToPixels(client::kPanelSize, 1.0f).h);
  // The newest panel was scrolled into view.
  EXPECT_NEAR(second.y, view.view().menu_height(), 1.0f);

  client::ControllerPanel* survivor = view.logic().panel(0);
  view.Click(view.view().ControlPixels(1, client::Control::kClose));
  view.logic().Tick();
  ASSERT_EQ(view.logic().panel_count(), 1u);
  EXPECT_EQ(view.logic().panel(0), survivor);
  view.Idle();

  view.Click(20.0f, menu_y);
  view.Idle();
  // "Quit" comes after the separator (1 px and one item spacing).
  ImVec2 quit = PopupRow("##Menu_00", 1);
  quit.y += 1.0f + ImGui::GetStyle().ItemSpacing.y;
  view.Click(quit);
  EXPECT_TRUE(view.logic().quit_requested());
}

TEST_F(ViewTest, HelpAboutOpensAndClosesItsPopup) {
  const float menu_y = view.view().menu_height() * 0.5f;
  // "Help" follows "File" and "MIDI" in the menu bar.
  ImGui::SetCurrentContext(view.context());
  float help_x = ImGui::GetStyle().ItemSpacing.x * 3.0f + ImGui::CalcTextSize("File").x +
                 ImGui::CalcTextSize("MIDI").x + ImGui::GetStyle().FramePadding.x * 4.0f +
                 ImGui::CalcTextSize("Help").x * 0.5f + 4.0f;
  view.Click(help_x, menu_y);
  ASSERT_TRUE(view.AnyPopupOpen());
  view.Idle();
  view.Click(PopupRow("##Menu_00", 0));  // "About"
  view.Idle(2);
  EXPECT_NE(ImGui::FindWindowByName(client::ClientView::AboutTitle()), nullptr);
  EXPECT_TRUE(view.AnyPopupOpen());
  view.PressKey(ImGuiKey_Escape);
  view.Idle();
  EXPECT_FALSE(view.AnyPopupOpen());
  EXPECT_EQ(view.logic().panel_count(), 0u);  // About changes nothing
}

TEST_F(ViewTest, EverythingFitsAHighDensityScale) {
  ViewHarness big(2.0f);
  float w1, h1, w2, h2;
  ImGui::SetCurrentContext(view.context());
  view.view().PreferredWindowSize(&w1, &h1);
  ImGui::SetCurrentContext(big.context());
  big.view().PreferredWindowSize(&w2, &h2);
  EXPECT_NEAR(w2, 2.0f * w1, 4.0f);
  EXPECT_NEAR(h2, 2.0f * h1, 4.0f);
  TestServer server;
  client::ControllerPanel* panel = big.logic().NewController();
  ASSERT_TRUE(ConnectAndWaitForState(panel, &server));
  big.Idle();
  client::PixelRect track = big.view().DeckPixels(0, 4, DeckControl::kFader);
  EXPECT_FLOAT_EQ(track.h, static_cast<float>(client::DeckControlRect(4, DeckControl::kFader).h) * 1.625f * 2.0f);
  big.Drag(big.view().ThumbCentre(track, 0), big.view().ThumbCentre(track, 50));
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->deck_table()[4].fader == 0.5f; }));
}

// --- presets, keys and the beat graph ---------------------------------------

TEST_F(ViewTest, TheSavePresetDialogTakesATypedNameAndPausesTheKeys) {
  ASSERT_EQ(core::StartFileLayer(dir.path()), 0);
  client::ControllerPanel* panel = view.logic().NewController();
  view.Idle();
  EXPECT_FALSE(view.logic().KeysPaused());
  view.Click(view.view().ControlPixels(0, client::Control::kSavePreset));
  view.Idle();
  ASSERT_TRUE(view.logic().preset_dialog().is_open());
  EXPECT_EQ(view.logic().preset_dialog().panel(), panel);
  EXPECT_TRUE(view.AnyPopupOpen());
  ImGuiWindow* popup = ImGui::FindWindowByName("Save Preset File###presetfile");
  ASSERT_NE(popup, nullptr);
  // The name field has the keyboard: letters typed are text.
  ImGui::SetCurrentContext(view.context());
  ImGui::GetIO().AddInputCharactersUTF8("set.HVR");
  view.Idle();
  EXPECT_STREQ(view.logic().preset_dialog().name_text(), "set.HVR");
  EXPECT_TRUE(view.logic().KeysPaused());
  view.PressKey(ImGuiKey_Enter);
  view.Idle();
  EXPECT_FALSE(view.logic().preset_dialog().is_open());
  EXPECT_FALSE(view.AnyPopupOpen());
  EXPECT_FALSE(view.logic().KeysPaused());
  EXPECT_TRUE(testing_support::Exists(dir / "set.HVR"));
  EXPECT_EQ(panel->log().front(), "Saved preset " + (dir / "set.HVR"));

  // Load Preset opens at the remembered file; Escape cancels.
  view.Click(view.view().ControlPixels(0, client::Control::kLoadPreset));
  view.Idle();
  ASSERT_TRUE(view.logic().preset_dialog().is_open());
  EXPECT_STREQ(view.logic().preset_dialog().Title(), "Load Preset File");
  EXPECT_STREQ(view.logic().preset_dialog().name_text(), "set.HVR");
  view.PressKey(ImGuiKey_Escape);
  view.Idle();
  EXPECT_FALSE(view.logic().preset_dialog().is_open());
  EXPECT_FALSE(view.AnyPopupOpen());
  core::StopFileLayer();
}

TEST_F(ViewTest, TheHostFieldHoldsTheKeysBackToo) {
  TestServer server;
  server.effects[0].loaded = true;  // TUNNEL
  client::ControllerPanel* live = ConnectedPanel(&server);
  auto bank = show::NewPresetBank();
  net::SetRecordText(bank->bindings[0]['Q' - 'A'].decks[0].effect_name, "TUNNEL");
  ASSERT_EQ(show::SavePresetFile((dir / "q.HVR").c_str(), *bank), 0);
  ASSERT_EQ(live->LoadPreset(dir / "q.HVR"), 0);
  // A second panel's host prompt (its Connect button lies below the view).
  view.logic().dialog().Open(view.logic().NewController());
  view.Idle(3);
  ASSERT_TRUE(view.AnyPopupOpen());
  EXPECT_TRUE(view.logic().KeysPaused());
  client::KeyboardState q;
  q.letters['Q' - 'A'] = true;
  view.logic().Tick(q);
  ASSERT_TRUE(Barrier(live, &server));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 0);
  view.PressKey(ImGuiKey_Escape);
  view.Idle();
  EXPECT_FALSE(view.logic().KeysPaused());
  view.logic().Tick(client::KeyboardState());
  view.logic().Tick(q);
  ASSERT_TRUE(Barrier(live, &server));
  EXPECT_EQ(CountReceived(server, net::MSG_SET_DECK_EFFECT), 6);
}

TEST_F(ViewTest, DraggingTheBeatTrackbarsSendsTheDetectorSettings) {
  TestServer server;  // low 2, high 20, threshold 0.5
  client::ControllerPanel* panel = ConnectedPanel(&server);
  using client::BeatGraph;
  // A click in the track beside the thumb sends nothing.
  view.Click(view.view().BeatThumbCentre(0, BeatGraph::Bar::kLowBin, 120));
  ASSERT_TRUE(Barrier(panel, &server));
  EXPECT_TRUE(RealUpdates(server).empty());

  ImVec2 from = view.view().BeatThumbCentre(0, BeatGraph::Bar::kLowBin, 2);
  ImVec2 to = view.view().BeatThumbCentre(0, BeatGraph::Bar::kLowBin, 12);
  view.Drag(ImVec2(std::round(from.x), std::round(from.y)), ImVec2(std::round(to.x), std::round(from.y)));
  ASSERT_TRUE(Barrier(panel, &server));
  std::vector<net::DeckRecord> updates = RealUpdates(server);
  ASSERT_FALSE(updates.empty());
  for (const net::DeckRecord& r : updates) {
    EXPECT_EQ(r.deck, -1);
    EXPECT_EQ(r.change_mask, net::kMaskBeatSettings);
    EXPECT_EQ(r.high_bin, 20u);
    EXPECT_FLOAT_EQ(r.threshold, 0.5f);
  }
  EXPECT_NEAR(static_cast<double>(updates.back().low_bin), 12.0, 1.0);
  ASSERT_TRUE(Pump({panel}, {&server}, [&] { return panel->beat_settings().low_bin == updates.back().low_bin; }));

  // The threshold thumb: to the top is 1.0.
  size_t before = RealUpdates(server).size();
  ImVec2 thumb = view.view().BeatThumbCentre(0, BeatGraph::Bar::kThreshold, panel->beat_graph().BarPosition(BeatGraph::Bar::kThreshold));
  ImVec2 top = view.view().BeatThumbCentre(0, BeatGraph::Bar::kThreshold, 0);
  view.Drag(ImVec2(std::round(thumb.x), std::round(thumb.y)), ImVec2(std::round(thumb.x), std::round(top.y) - 20.0f));
  ASSERT_TRUE(Barrier(panel, &server));
  updates = RealUpdates(server);
  ASSERT_GT(updates.size(), before);
  EXPECT_FLOAT_EQ(updates.back().threshold, 1.0f);
}

}  // namespace

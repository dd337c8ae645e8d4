// The Client window drawn with Dear ImGui.
//
// One full-window ImGui window holds the menu bar and a scrolling child in
// which the panels stack in creation order. Every control is placed where
// the panel template puts it (dialog units -> pixels at the display scale),
// so the panel reads like the tool's own dialog, not like a generic ImGui
// form. Nothing here keeps show state: each frame draws the logic's state
// and calls the logic for what the performer did.
//
// Trackbars are our own widget: only the thumb is an item, so a click in the
// track hits nothing and moves nothing; holding the thumb drags it, and the
// drag lasts exactly as long as ImGui keeps the thumb active (a drag that
// ImGui drops, for a popup say, ends in the logic too).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include <imgui.h>

#include "app/core/core.h"
#include "client/view.h"
#include "fx/timing.h"

namespace client {
namespace {

// Palette: a dark stage-friendly theme with one warm accent.
constexpr ImU32 kColWindow = IM_COL32(24, 26, 31, 255);
constexpr ImU32 kColPanel = IM_COL32(30, 33, 39, 255);
constexpr ImU32 kColPanelEdge = IM_COL32(58, 63, 72, 255);
constexpr ImU32 kColGroup = IM_COL32(37, 41, 48, 255);
constexpr ImU32 kColGroupEdge = IM_COL32(66, 72, 82, 255);
constexpr ImU32 kColAccent = IM_COL32(255, 159, 28, 255);
constexpr ImU32 kColAccentDim = IM_COL32(255, 159, 28, 110);
constexpr ImU32 kColGroove = IM_COL32(14, 15, 18, 255);
constexpr ImU32 kColTick = IM_COL32(84, 90, 101, 255);
constexpr ImU32 kColThumb = IM_COL32(200, 204, 212, 255);
constexpr ImU32 kColThumbHot = IM_COL32(236, 239, 244, 255);
constexpr ImU32 kColTextDim = IM_COL32(128, 134, 145, 255);
constexpr ImU32 kColText = IM_COL32(226, 229, 235, 255);
constexpr ImU32 kColConnected = IM_COL32(76, 190, 110, 255);
constexpr ImU32 kColConnecting = IM_COL32(255, 190, 60, 255);
constexpr ImU32 kColDisconnected = IM_COL32(110, 115, 125, 255);
constexpr ImU32 kColNormalSpeed = IM_COL32(80, 190, 200, 255);
constexpr ImU32 kColChip = IM_COL32(70, 52, 24, 255);

constexpr float kBaseFontPx = 13.0f;     // 8 pt at 96 dpi
constexpr float kCaptionFontPx = 10.0f;  // captions under the trackbars

ImVec2 Min(const PixelRect& r) { return ImVec2(r.x, r.y); }
ImVec2 Max(const PixelRect& r) { return ImVec2(r.right(), r.bottom()); }
ImVec2 Size(const PixelRect& r) { return ImVec2(r.w, r.h); }
ImVec4 Colour(ImU32 c) { return ImGui::ColorConvertU32ToFloat4(c); }

// A deck trackbar's position as a fraction of its travel (0 at the top).
float Fraction(int position) {
  return static_cast<float>(position - Trackbar::kMin) / static_cast<float>(Trackbar::kMax - Trackbar::kMin);
}

// Text inside a rectangle, clipped to it. align: 0 left, 0.5 centre, 1 right.
void TextIn(const PixelRect& r, const char* text, ImU32 colour, float align = 0.0f, ImFont* font = nullptr) {
  ImDrawList* draw = ImGui::GetWindowDrawList();
  if (!font) font = ImGui::GetFont();
  float font_size = font->FontSize;
  ImVec2 size = font->CalcTextSizeA(font_size, FLT_MAX, 0.0f, text);
  float x = r.x + std::max(0.0f, (r.w - size.x) * align);
  float y = r.y + (r.h - size.y) * 0.5f;
  ImVec4 clip(r.x, r.y, r.right(), r.bottom());
  draw->AddText(font, font_size, ImVec2(std::floor(x), std::floor(y)), colour, text, nullptr, 0.0f, &clip);
}

bool ButtonAt(const char* label, const PixelRect& r, bool enabled) {
  ImGui::SetCursorScreenPos(Min(r));
  ImGui::BeginDisabled(!enabled);
  bool pressed = ImGui::Button(label, Size(r));
  ImGui::EndDisabled();
  return pressed && enabled;
}

bool KeyPressed(ImGuiKey key) {
  int index = ImGui::GetKeyIndex(key);
  return index >= 0 && ImGui::IsKeyPressed(index, false);
}

void ApplyTheme(float scale) {
  ImGuiStyle style;
  ImGui::StyleColorsDark(&style);
  style.WindowPadding = ImVec2(8, 8);
  style.FramePadding = ImVec2(6, 3);
  style.ItemSpacing = ImVec2(6, 4);
  style.ItemInnerSpacing = ImVec2(4, 4);
  style.ScrollbarSize = 14;
  style.GrabMinSize = 10;
  style.WindowRounding = 4;
  style.ChildRounding = 3;
  style.FrameRounding = 3;
  style.PopupRounding = 3;
  style.ScrollbarRounding = 3;
  style.GrabRounding = 2;
  style.WindowBorderSize = 1;
  style.FrameBorderSize = 1;
  style.PopupBorderSize = 1;
  style.DisabledAlpha = 0.45f;
  ImVec4* c = style.Colors;
  c[ImGuiCol_Text] = Colour(kColText);
  c[ImGuiCol_TextDisabled] = Colour(kColTextDim);
  c[ImGuiCol_WindowBg] = Colour(kColWindow);
  c[ImGuiCol_ChildBg] = ImVec4(0, 0, 0, 0);
  c[ImGuiCol_PopupBg] = ImVec4(0.13f, 0.14f, 0.17f, 0.98f);
  c[ImGuiCol_Border] = Colour(kColGroupEdge);
  c[ImGuiCol_FrameBg] = ImVec4(0.09f, 0.10f, 0.12f, 1.0f);
  c[ImGuiCol_FrameBgHovered] = ImVec4(0.13f, 0.14f, 0.17f, 1.0f);
  c[ImGuiCol_FrameBgActive] = ImVec4(0.16f, 0.17f, 0.20f, 1.0f);
  c[ImGuiCol_TitleBg] = ImVec4(0.11f, 0.12f, 0.14f, 1.0f);
  c[ImGuiCol_TitleBgActive] = ImVec4(0.16f, 0.17f, 0.20f, 1.0f);
  c[ImGuiCol_MenuBarBg] = ImVec4(0.12f, 0.13f, 0.15f, 1.0f);
  c[ImGuiCol_ScrollbarBg] = ImVec4(0.08f, 0.09f, 0.10f, 1.0f);
  c[ImGuiCol_Button] = ImVec4(0.20f, 0.22f, 0.26f, 1.0f);
  c[ImGuiCol_ButtonHovered] = ImVec4(0.27f, 0.30f, 0.35f, 1.0f);
  c[ImGuiCol_ButtonActive] = ImVec4(0.55f, 0.36f, 0.08f, 1.0f);
  c[ImGuiCol_Header] = ImVec4(0.62f, 0.40f, 0.08f, 0.85f);
  c[ImGuiCol_HeaderHovered] = ImVec4(0.30f, 0.32f, 0.37f, 1.0f);
  c[ImGuiCol_HeaderActive] = ImVec4(0.72f, 0.47f, 0.10f, 1.0f);
  c[ImGuiCol_CheckMark] = Colour(kColAccent);
  c[ImGuiCol_SliderGrab] = Colour(kColAccent);
  c[ImGuiCol_Separator] = Colour(kColPanelEdge);
  c[ImGuiCol_NavHighlight] = Colour(kColAccent);
  c[ImGuiCol_ModalWindowDimBg] = ImVec4(0, 0, 0, 0.55f);
  style.ScaleAllSizes(scale);
  ImGui::GetStyle() = style;
}

// Multiple selection as list boxes do it: a click selects one item, Ctrl
// toggles, Shift selects the range from the last clicked item.
void ClickListItem(ControllerPanel& panel, bool loaded, size_t clicked, int32_t* anchor) {
  const std::vector<ListItem>& items = loaded ? panel.loaded_list() : panel.unloaded_list();
  std::vector<std::pair<int32_t, bool>> ids;
  for (const ListItem& item : items) ids.emplace_back(item.number, item.selected);
  auto select = [&](int32_t id, bool on) {
    if (loaded)
      panel.SelectLoaded(id, on);
    else
      panel.SelectUnloaded(id, on);
  };
  const ImGuiIO& io = ImGui::GetIO();
  int32_t id = ids[clicked].first;
  if (io.KeyShift) {
    size_t from = clicked;
    for (size_t i = 0; i < ids.size(); ++i)
      if (ids[i].first == *anchor) from = i;
    size_t lo = std::min(from, clicked), hi = std::max(from, clicked);
    for (size_t i = 0; i < ids.size(); ++i) {
      bool in_range = i >= lo && i <= hi;
      if (in_range)
        select(ids[i].first, true);
      else if (!io.KeyCtrl)
        select(ids[i].first, false);
    }
    if (from == clicked) *anchor = id;
  } else if (io.KeyCtrl) {
    select(id, !ids[clicked].second);
    *anchor = id;
  } else {
    for (const auto& [other, selected] : ids)
      if (selected && other != id) select(other, false);
    select(id, true);
    *anchor = id;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up and geometry
// ---------------------------------------------------------------------------
void ClientView::SetUp(float scale, const std::string& font_path) {
  scale_ = scale > 0.0f ? scale : 1.0f;
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // no imgui.ini beside the program
  io.LogFilename = nullptr;
  ApplyTheme(scale_);
  io.Fonts->Clear();
  float size = std::round(kBaseFontPx * scale_);
  ImFont* font = nullptr;
  if (!font_path.empty() && core::ReadWholeFile(font_path, &font_data_) && !font_data_.empty()) {
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;
    config.OversampleH = 2;
    config.PixelSnapH = true;
    font = io.Fonts->AddFontFromMemoryTTF(font_data_.data(), static_cast<int>(font_data_.size()), size, &config);
    if (font)
      small_font_ = io.Fonts->AddFontFromMemoryTTF(font_data_.data(), static_cast<int>(font_data_.size()),
                                                   std::round(kCaptionFontPx * scale_), &config);
  }
  if (!font) {
    core::Trace("CLIENT: font %s not available; using the built-in font\n", font_path.c_str());
    ImFontConfig config;
    config.SizePixels = size;
    io.Fonts->AddFontDefault(&config);
    small_font_ = nullptr;
  }
}

void ClientView::PreferredWindowSize(float* width, float* height) const {
  PixelRect panel = ToPixels(kPanelSize, scale_);
  const ImGuiStyle& style = ImGui::GetStyle();
  float menu = std::round(kBaseFontPx * scale_) + style.FramePadding.y * 2.0f;
  *width = std::ceil(panel.w + style.ScrollbarSize);
  *height = std::ceil(panel.h + menu);
}

PixelRect ClientView::PanelRect(size_t index) const {
  PixelRect panel = ToPixels(kPanelSize, scale_);
  panel.y = panel_top_ + static_cast<float>(index) * panel.h - scroll_y_;
  panel.x = 0.0f;
  return panel;
}

PixelRect ClientView::ControlPixels(size_t index, Control control) const {
  PixelRect origin = PanelRect(index);
  PixelRect r = ToPixels(ControlRect(control), scale_);
  r.x += origin.x;
  r.y += origin.y;
  return r;
}

PixelRect ClientView::DeckPixels(size_t index, int deck, DeckControl control) const {
  PixelRect origin = PanelRect(index);
  PixelRect r = ToPixels(DeckControlRect(deck, control), scale_);
  r.x += origin.x;
  r.y += origin.y;
  return r;
}

float ClientView::ThumbSize(float scale) { return std::round(10.0f * scale); }

ImVec2 ClientView::ThumbCentre(const PixelRect& track, int position) const {
  return ThumbCentreAt(track, position, scale_);
}

ClientView::Travel ClientView::TravelOf(const PixelRect& track, float scale) {
  // Whole pixels, and an even travel, so that every pixel of the track is
  // one position and the middle (0.5) is always a pixel of its own.
  float thumb = ThumbSize(scale);
  Travel travel;
  travel.top = std::round(track.y + thumb * 0.5f);
  travel.length = std::max(2.0f, 2.0f * std::floor((track.h - thumb) * 0.5f));
  return travel;
}

ImVec2 ClientView::ThumbCentreAt(const PixelRect& track, int position, float scale) {
  Travel travel = TravelOf(track, scale);
  float t = static_cast<float>(position - Trackbar::kMin) / static_cast<float>(Trackbar::kMax - Trackbar::kMin);
  return ImVec2(std::floor(track.x + track.w * 0.5f), travel.top + std::round(travel.length * t));
}

// ---------------------------------------------------------------------------
// Frame
// ---------------------------------------------------------------------------
void ClientView::Draw(float width, float height) {
  // Forget list anchors of panels that are gone.
  for (auto it = anchors_.begin(); it != anchors_.end();) {
    bool alive = false;
    for (size_t i = 0; i < logic_->panel_count(); ++i) alive = alive || logic_->panel(i) == it->first;
    it = alive ? std::next(it) : anchors_.erase(it);
  }

  ImGui::SetNextWindowPos(ImVec2(0, 0));
  ImGui::SetNextWindowSize(ImVec2(width, height));
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
  ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
  ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                           ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_MenuBar |
                           ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoSavedSettings |
                           ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
  ImGui::Begin("##client", nullptr, flags);
  ImGui::PopStyleVar(3);
  text_field_active_ = false;
  DrawMenuBar();

  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
  ImGui::BeginChild("##panels", ImVec2(0, 0), false, ImGuiWindowFlags_AlwaysVerticalScrollbar);
  ImGui::PopStyleVar();
  panel_top_ = ImGui::GetWindowPos().y;
  menu_height_ = panel_top_;
  if (scroll_to_panel_ < logic_->panel_count()) {
    ImGui::SetScrollY(static_cast<float>(scroll_to_panel_) * ToPixels(kPanelSize, scale_).h);
    if (std::fabs(ImGui::GetScrollY() - static_cast<float>(scroll_to_panel_) * ToPixels(kPanelSize, scale_).h) < 1.0f)
      scroll_to_panel_ = static_cast<size_t>(-1);
  }
  scroll_y_ = ImGui::GetScrollY();
  ImVec2 content_origin(ImGui::GetWindowPos().x, panel_top_ - scroll_y_);
  if (logic_->panel_count() == 0) {
    DrawHint(ImGui::GetWindowWidth(), ImGui::GetWindowHeight());
  } else {
    for (size_t i = 0; i < logic_->panel_count(); ++i) DrawPanel(*logic_->panel(i), i);
    PixelRect panel = ToPixels(kPanelSize, scale_);
    ImGui::SetCursorScreenPos(content_origin);
    ImGui::Dummy(ImVec2(panel.w, panel.h * static_cast<float>(logic_->panel_count())));
  }
  ImGui::EndChild();

  DrawDialog();
  DrawPresetDialog();
  DrawAlerts();
  DrawAbout();
  DrawMidiList();
  ImGui::End();
  // Letters typed into a field are text, not recalls.
  logic_->SetTextInputActive(text_field_active_);
}

void ClientView::DrawMenuBar() {
  if (!ImGui::BeginMenuBar()) return;
  if (ImGui::BeginMenu(MenuText(kMenuFile).c_str())) {
    if (ImGui::MenuItem(MenuText(kMenuNewController).c_str())) {
      logic_->NewController();
      scroll_to_panel_ = logic_->panel_count() - 1;
    }
    ImGui::Separator();
    if (ImGui::MenuItem(MenuText(kMenuQuit).c_str())) logic_->RequestQuit();
    ImGui::EndMenu();
  }
  if (ImGui::BeginMenu("MIDI")) {
    if (ImGui::MenuItem("Mappings...")) midi_list_requested_ = true;
    if (ImGui::MenuItem("Cancel Learn", nullptr, false, logic_->midi_map().learning().has_value()))
      logic_->midi_map().CancelLearn();
    ImGui::EndMenu();
  }
  if (ImGui::BeginMenu(MenuText(kMenuHelp).c_str())) {
    if (ImGui::MenuItem(MenuText(kMenuAbout).c_str())) about_requested_ = true;
    ImGui::EndMenu();
  }
  if (const std::optional<MidiControl>& learning = logic_->midi_map().learning())
    ImGui::TextColored(Colour(kColAccent), "Learn MIDI: move a control for %s", MidiControlName(*learning).c_str());
  ImGui::EndMenuBar();
}

void ClientView::DrawHint(float width, float height) {
  const char* hint = "No controller yet: choose File > New Controller to add one.";
  ImVec2 size = ImGui::CalcTextSize(hint);
  ImVec2 origin = ImGui::GetWindowPos();
  ImGui::SetCursorScreenPos(ImVec2(origin.x + std::max(0.0f, (width - size.x) * 0.5f),
                                   origin.y + std::max(0.0f, (height - size.y) * 0.5f)));
  ImGui::TextDisabled("%s", hint);
}

// ---------------------------------------------------------------------------
// Panel
// ---------------------------------------------------------------------------
void ClientView::DrawPanel(ControllerPanel& panel, size_t index) {
  PixelRect area = PanelRect(index);
  ImDrawList* draw = ImGui::GetWindowDrawList();
  draw->AddRectFilled(Min(area), Max(area), kColPanel);
  draw->AddLine(ImVec2(area.x, area.bottom() - 1), ImVec2(area.right(), area.bottom() - 1), kColPanelEdge,
                std::max(1.0f, scale_));
  ImGui::PushID(&panel);
  bool connected = panel.connected();

  // Status line with a state lamp, and the frame rate.
  PixelRect status = ControlPixels(index, Control::kStatus);
  float lamp = std::round(4.0f * scale_);
  ImU32 lamp_colour = panel.link_state() == LinkState::kConnected    ? kColConnected
                      : panel.link_state() == LinkState::kConnecting ? kColConnecting
                                                                     : kColDisconnected;
  draw->AddCircleFilled(ImVec2(status.x + lamp, status.y + status.h * 0.5f), lamp, lamp_colour);
  PixelRect status_text = status;
  status_text.x += lamp * 2.0f + 4.0f * scale_;
  status_text.w -= lamp * 2.0f + 4.0f * scale_;
  TextIn(status_text, panel.status().c_str(), kColText);
  PixelRect fps = ControlPixels(index, Control::kFrameRate);
  fps.w += 20.0f * scale_;
  char fps_text[32];
  std::snprintf(fps_text, sizeof fps_text, "%s fps", panel.frame_rate_text().c_str());
  TextIn(fps, fps_text, connected ? kColText : kColTextDim);

  // Connection buttons; the preset buttons are placed for the presets.
  std::string connect_label = std::string(panel.connect_button_text()) + "##connect";
  if (ButtonAt(connect_label.c_str(), ControlPixels(index, Control::kConnect), true)) {
    if (panel.PressConnectButton()) {
      logic_->dialog().Open(&panel);
      dialog_focus_ = true;
    }
  }
  if (ButtonAt("Close##close", ControlPixels(index, Control::kClose), true)) panel.RequestClose();
  if (ButtonAt("Load Preset##loadpreset", ControlPixels(index, Control::kLoadPreset), true))
    logic_->preset_dialog().Open(&panel, PresetDialog::Mode::kLoad);
  if (ButtonAt("Save Preset##savepreset", ControlPixels(index, Control::kSavePreset), true))
    logic_->preset_dialog().Open(&panel, PresetDialog::Mode::kSave);
  // The current page of the letter keys.
  PixelRect page = ControlPixels(index, Control::kSavePreset);
  page.x = page.right() + 6.0f * scale_;
  page.w = 56.0f * scale_;
  draw->AddRectFilled(Min(page), Max(page), kColGroup, 3.0f * scale_);
  char page_text[24];
  std::snprintf(page_text, sizeof page_text, "PAGE %d", (panel.current_page() + 1) % 10);
  TextIn(page, page_text, connected ? kColText : kColTextDim, 0.5f);
  MidiMenu("##midipage", page, MidiControl{MidiTarget::kPage, 0});

  DrawBeatGraph(panel, index);
  DrawBeatCaptions(panel, index);
  DrawBindingKeys(panel, index);
  DrawEffectList(panel, index, false);
  DrawEffectList(panel, index, true);
  if (ButtonAt("V Load##load", ControlPixels(index, Control::kLoadButton), connected)) panel.LoadSelected();
  if (ButtonAt("Unload ^##unload", ControlPixels(index, Control::kUnloadButton), connected)) panel.UnloadSelected();
  for (int deck = 0; deck < kPanelDecks; ++deck) DrawDeck(panel, index, deck);
  for (int deck = 0; deck < kPanelDecks; ++deck) {
    char label[48];
    std::snprintf(label, sizeof label, "Deck %d##assign%d", deck + 1, deck);
    if (ButtonAt(label, DeckPixels(index, deck, DeckControl::kAssign), connected && panel.HasDeck(deck)))
      panel.AssignToDeck(deck);
  }
  DrawLog(panel, index);
  DrawOutputControls(panel, index);
  ImGui::PopID();
}

// The Server's output: its preview (a checkbox turns it off), the master
// trackbar (drag only, top = 1.0) and the blackout button, lit while on.
void ClientView::DrawOutputControls(ControllerPanel& panel, size_t index) {
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const bool live = panel.connected();
  PixelRect toggle = ControlPixels(index, Control::kPreviewToggle);
  ImGui::SetCursorScreenPos(ImVec2(toggle.x, toggle.y));
  bool wanted = panel.preview_wanted();
  if (ImGui::Checkbox("Preview##preview", &wanted)) panel.SetPreviewWanted(wanted);

  PixelRect area = ControlPixels(index, Control::kPreview);
  draw->AddRectFilled(Min(area), Max(area), IM_COL32(0, 0, 0, 255));
  const ControllerPanel::PreviewPicture& picture = panel.preview();
  void* texture = nullptr;
  if (live && wanted && picture.width > 0 && picture_texture_)
    texture = picture_texture_(&panel, picture.serial, static_cast<int>(picture.width),
                               static_cast<int>(picture.height), picture.rgba.data());
  if (texture) {
    // The output's shape, centred in the area.
    float fit = std::min(area.w / static_cast<float>(picture.width), area.h / static_cast<float>(picture.height));
    float w = std::floor(picture.width * fit), h = std::floor(picture.height * fit);
    ImVec2 at(std::floor(area.x + (area.w - w) * 0.5f), std::floor(area.y + (area.h - h) * 0.5f));
    draw->AddImage(texture, at, ImVec2(at.x + w, at.y + h));
  } else {
    TextIn(area, live && wanted ? "waiting for the Server" : "no preview", kColTextDim, 0.5f, small_font_);
  }
  if (panel.blackout()) TextIn(area, "BLACKOUT", kColAccent, 0.5f);
  draw->AddRect(ImVec2(std::floor(area.x) - 1.0f, std::floor(area.y) - 1.0f),
                ImVec2(std::floor(area.right()) + 1.0f, std::floor(area.bottom()) + 1.0f), kColGroupEdge);

  const bool blackout = panel.blackout();
  if (blackout) ImGui::PushStyleColor(ImGuiCol_Button, kColAccent);
  if (ButtonAt("BLACKOUT##blackout", ControlPixels(index, Control::kBlackout), live)) panel.ToggleBlackout();
  if (blackout) ImGui::PopStyleColor();

  PixelRect r = ControlPixels(index, Control::kMaster);
  const client::Trackbar& state = panel.master();
  float thumb = ThumbSize(scale_);
  ImVec2 centre = ThumbCentre(r, state.position());
  ImGui::SetCursorScreenPos(ImVec2(r.x, centre.y - thumb * 0.5f));
  ImGui::BeginDisabled(!live);
  ImGui::InvisibleButton("##master", ImVec2(r.w, thumb));
  ImGui::EndDisabled();
  const bool active = live && ImGui::IsItemActive();
  const bool hovered = ImGui::IsItemHovered();
  const ImGuiIO& io = ImGui::GetIO();
  if (active && ImGui::IsItemActivated()) grab_offset_ = io.MousePos.y - centre.y;
  if (active && !state.dragging()) panel.BeginMasterDrag();
  if (active) {
    Travel travel = TravelOf(r, scale_);
    float t = (io.MousePos.y - grab_offset_ - travel.top) / travel.length;
    int position = static_cast<int>(std::lround(t * static_cast<float>(Trackbar::kMax - Trackbar::kMin))) +
                   Trackbar::kMin;
    panel.DragMaster(std::clamp(position, Trackbar::kMin, Trackbar::kMax));
  } else if (state.dragging()) {
    panel.EndMasterDrag();
  }
  DrawTrackVisual(r, true, Fraction(panel.master().position()), live, hovered || active, true, false);
  if ((hovered || active) && live) ImGui::SetTooltip("Master %.2f", Trackbar::ValueAt(panel.master().position()));
  TextIn(ControlPixels(index, Control::kMasterCaption), "MASTER", live ? IM_COL32(150, 156, 167, 255) : kColTextDim,
         0.5f, small_font_);
}

ImVec2 ClientView::BeatThumbCentre(size_t index, BeatGraph::Bar bar, int position) const {
  const ControllerPanel* panel = logic_->panel(index);
  int max = panel ? panel->beat_graph().BarMax(bar) : 1;
  float t = static_cast<float>(position) / static_cast<float>(std::max(1, max));
  return BarThumbCentre(ControlPixels(index, BeatBarControl(bar)), bar == BeatGraph::Bar::kThreshold, t, scale_);
}

Control ClientView::BeatBarControl(BeatGraph::Bar bar) {
  return bar == BeatGraph::Bar::kLowBin ? Control::kLowBin : bar == BeatGraph::Bar::kHighBin ? Control::kHighBin : Control::kThreshold;
}

ImVec2 ClientView::BarThumbCentre(const PixelRect& track, bool vertical, float t, float scale) {
  if (vertical) {
    Travel travel = TravelOf(track, scale);
    return ImVec2(std::floor(track.x + track.w * 0.5f), travel.top + std::round(travel.length * t));
  }
  float thumb = ThumbSize(scale);
  float left = track.x + thumb * 0.5f, right = track.right() - thumb * 0.5f;
  return ImVec2(left + (right - left) * t, std::floor(track.y + track.h * 0.5f));
}

void ClientView::DrawBeatGraph(ControllerPanel& panel, size_t index) {
  ImDrawList* draw = ImGui::GetWindowDrawList();
  PixelRect area = ControlPixels(index, Control::kBeatGraph);
  const BeatGraph& graph = panel.beat_graph();
  const BeatPicture& p = graph.picture();
  draw->AddRectFilled(Min(area), Max(area), IM_COL32(0, 0, 0, 255));
  if (panel.connected() && p.drawn && p.width > 0 && p.height > 0) {
    // Graph pixels scaled onto the control, snapped to whole screen pixels
    // so one-pixel lines stay crisp (AddLine centres on the pixel itself;
    // the polyline is given pixel centres).
    float sx = area.w / static_cast<float>(p.width), sy = area.h / static_cast<float>(p.height);
    float pen = std::max(1.0f, std::round(scale_));
    auto at = [&](float x, float y) { return ImVec2(std::floor(area.x + x * sx), std::floor(area.y + y * sy)); };
    draw->PushClipRect(Min(area), Max(area), true);
    if (p.flash)
      draw->AddRectFilled(at(static_cast<float>(p.flash_left), static_cast<float>(p.flash_top)),
                          at(static_cast<float>(p.flash_right), static_cast<float>(p.flash_bottom)),
                          IM_COL32(255, 255, 255, 255));
    std::vector<ImVec2> points;
    points.reserve(p.curve.size());
    for (size_t x = 0; x < p.curve.size(); ++x) {
      ImVec2 point = at(static_cast<float>(x), static_cast<float>(p.curve[x]));
      points.push_back(ImVec2(point.x + 0.5f, point.y + 0.5f));
    }
    if (points.size() >= 2)
      draw->AddPolyline(points.data(), static_cast<int>(points.size()), IM_COL32(255, 255, 255, 255), 0, pen);
    const ImU32 red = IM_COL32(255, 0, 0, 255);
    for (int x : {p.low_x, p.high_x})
      draw->AddLine(at(static_cast<float>(x), 0.0f), at(static_cast<float>(x), static_cast<float>(p.height)), red, pen);
    draw->AddLine(at(0.0f, static_cast<float>(p.threshold_y)),
                  at(static_cast<float>(p.width), static_cast<float>(p.threshold_y)), red, pen);
    if (panel.server_tempo().beat_disabled) {
      PixelRect note{area.x, area.y + 2.0f * scale_, area.w - 4.0f * scale_, ImGui::GetFontSize()};
      TextIn(note, "BEAT OFF", kColAccent, 1.0f, small_font_);
    }
    draw->PopClipRect();
  }
  // The frame lies outside the graph's own pixels.
  draw->AddRect(ImVec2(std::floor(area.x) - 1.0f, std::floor(area.y) - 1.0f),
                ImVec2(std::floor(area.right()) + 1.0f, std::floor(area.bottom()) + 1.0f), kColGroupEdge);

  MidiMenu("##midibeatoff", area, MidiControl{MidiTarget::kBeatOff, 0});
  // Low bin, high bin and threshold: drag-only like the deck trackbars.
  bool live = panel.connected();
  for (BeatGraph::Bar bar : {BeatGraph::Bar::kThreshold, BeatGraph::Bar::kLowBin, BeatGraph::Bar::kHighBin}) {
    bool vertical = bar == BeatGraph::Bar::kThreshold;
    PixelRect r = ControlPixels(index, BeatBarControl(bar));
    int max = graph.BarMax(bar);
    float t = static_cast<float>(graph.BarPosition(bar)) / static_cast<float>(std::max(1, max));
    ImVec2 centre = BarThumbCentre(r, vertical, t, scale_);
    float thumb = ThumbSize(scale_);
    ImGui::PushID(static_cast<int>(bar) + 100);
    if (vertical)
      ImGui::SetCursorScreenPos(ImVec2(r.x, centre.y - thumb * 0.5f));
    else
      ImGui::SetCursorScreenPos(ImVec2(centre.x - thumb * 0.5f, r.y));
    ImGui::BeginDisabled(!live);
    ImGui::InvisibleButton("##beatbar", vertical ? ImVec2(r.w, thumb) : ImVec2(thumb, r.h));
    ImGui::EndDisabled();
    bool active = live && ImGui::IsItemActive();
    bool hovered = ImGui::IsItemHovered();
    const ImGuiIO& io = ImGui::GetIO();
    float mouse = vertical ? io.MousePos.y : io.MousePos.x;
    float along = vertical ? centre.y : centre.x;
    if (active && ImGui::IsItemActivated()) grab_offset_ = mouse - along;
    if (active && !graph.dragging(bar)) panel.BeginBeatDrag(bar);
    if (active) {
      float f;
      if (vertical) {
        Travel travel = TravelOf(r, scale_);
        f = (mouse - grab_offset_ - travel.top) / travel.length;
      } else {
        float left = r.x + thumb * 0.5f, right = r.right() - thumb * 0.5f;
        f = (mouse - grab_offset_ - left) / std::max(1.0f, right - left);
      }
      int position = std::clamp(static_cast<int>(std::lround(f * static_cast<float>(max))), 0, max);
      panel.DragBeatBar(bar, position);
    } else if (graph.dragging(bar)) {
      panel.EndBeatDrag(bar);
    }
    float shown = static_cast<float>(graph.BarPosition(bar)) / static_cast<float>(std::max(1, max));
    DrawTrackVisual(r, vertical, shown, live, hovered || active, false, false);
    MidiMenu("##midibar", r,
             MidiControl{bar == BeatGraph::Bar::kThreshold ? MidiTarget::kThreshold
                         : bar == BeatGraph::Bar::kLowBin  ? MidiTarget::kLowBin
                                                           : MidiTarget::kHighBin,
                         0});
    if ((hovered || active) && live) {
      const BeatSettings& settings = graph.settings();
      if (bar == BeatGraph::Bar::kLowBin)
        ImGui::SetTooltip("Low bin %u", settings.low_bin);
      else if (bar == BeatGraph::Bar::kHighBin)
        ImGui::SetTooltip("High bin %u", settings.high_bin);
      else
        ImGui::SetTooltip("Threshold %.2f", settings.threshold);
    }
    ImGui::PopID();
  }
}

void ClientView::DrawBeatCaptions(ControllerPanel& panel, size_t index) {
  ImU32 caption = panel.connected() ? IM_COL32(150, 156, 167, 255) : kColTextDim;
  TextIn(ControlPixels(index, Control::kThresholdCaption), "< THRESHOLD", caption, 0.0f, small_font_);
  TextIn(ControlPixels(index, Control::kLowCaption), "LOW", caption, 0.0f, small_font_);
  TextIn(ControlPixels(index, Control::kHighCaption), "HIGH", caption, 0.0f, small_font_);
  const ServerTempo& tempo = panel.server_tempo();
  TextIn(ControlPixels(index, Control::kTempo), TempoText(tempo.known ? tempo.period_ms : 0, tempo.source).c_str(),
         kColText, 0.0f, small_font_);
  MidiMenu("##miditap", ControlPixels(index, Control::kTempo), MidiControl{MidiTarget::kTap, 0});
}

void ClientView::MidiMenu(const char* id, const PixelRect& rect, const MidiControl& control) {
  if (ImGui::IsWindowHovered() && ImGui::IsMouseHoveringRect(Min(rect), Max(rect)) &&
      ImGui::IsMouseClicked(ImGuiMouseButton_Right))
    ImGui::OpenPopup(id);
  if (!ImGui::BeginPopup(id)) return;
  ImGui::TextDisabled("%s", MidiControlName(control).c_str());
  const MidiBinding* binding = logic_->midi_map().Find(control);
  if (binding) ImGui::TextDisabled("MIDI: %s", MidiSourceText(binding->source).c_str());
  if (ImGui::MenuItem("Learn MIDI")) logic_->StartMidiLearn(control);
  if (ImGui::MenuItem("Forget MIDI", nullptr, false, binding != nullptr)) logic_->ForgetMidi(control);
  ImGui::EndPopup();
}

void ClientView::DrawMidiList() {
  const char* title = "MIDI mappings";
  if (midi_list_requested_) {
    ImGui::OpenPopup(title);
    midi_list_requested_ = false;
  }
  if (!ImGui::BeginPopupModal(title, nullptr, ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings))
    return;
  if (!logic_->midi_status().empty()) ImGui::TextDisabled("%s", logic_->midi_status().c_str());
  const std::string text = logic_->midi_map().ListText();
  ImGui::TextUnformatted(text.c_str(), text.c_str() + text.size());
  ImGui::Spacing();
  if (ImGui::Button("OK##midiok", ImVec2(75.0f * scale_, 0.0f)) || KeyPressed(ImGuiKey_Escape) ||
      KeyPressed(ImGuiKey_Enter))
    ImGui::CloseCurrentPopup();
  ImGui::EndPopup();
}

// The 26 letters of the current page: lit when the binding names an
// effect, the last recalled one in the accent colour.
void ClientView::DrawBindingKeys(ControllerPanel& panel, size_t index) {
  PixelRect row = ControlPixels(index, Control::kBindingKeys);
  ImDrawList* draw = ImGui::GetWindowDrawList();
  float cell = row.w / static_cast<float>(show::kPresetLetters);
  for (int letter = 0; letter < show::kPresetLetters; ++letter) {
    PixelRect key{std::floor(row.x + cell * static_cast<float>(letter)), row.y, std::floor(cell) - 1.0f, row.h};
    bool bound = panel.BindingSet(panel.current_page(), letter);
    bool last = panel.last_recalled_letter() == letter;
    ImU32 fill = last ? kColAccent : bound ? IM_COL32(70, 76, 88, 255) : IM_COL32(30, 32, 38, 255);
    draw->AddRectFilled(Min(key), Max(key), fill);
    char text[2] = {static_cast<char>('A' + letter), '\0'};
    TextIn(key, text, bound || last ? kColText : kColTextDim, 0.5f, small_font_);
    ImGui::PushID(letter);
    MidiMenu("##midikey", key, MidiControl{MidiTarget::kPresetKey, letter});
    ImGui::PopID();
  }
}

void ClientView::DrawEffectList(ControllerPanel& panel, size_t index, bool loaded) {
  PixelRect r = ControlPixels(index, loaded ? Control::kLoadedList : Control::kUnloadedList);
  const std::vector<ListItem>& items = loaded ? panel.loaded_list() : panel.unloaded_list();
  int32_t& anchor = anchors_[&panel].ids[loaded ? 1 : 0];
  ImGui::SetCursorScreenPos(Min(r));
  if (!ImGui::BeginListBox(loaded ? "##loaded" : "##unloaded", Size(r))) return;
  if (panel.connected()) ImGui::TextDisabled("%s", loaded ? "Loaded" : "Not loaded");
  if (items.empty()) {
    const char* empty = !panel.connected() ? ""
                        : loaded          ? "Select effects above, then V Load"
                        : panel.loaded_list().empty() ? "No effects"
                                                      : "All effects loaded";
    ImGui::TextDisabled("%s", empty);
  }
  for (size_t i = 0; i < items.size(); ++i) {
    ImGui::PushID(static_cast<int>(items[i].number));
    if (ImGui::Selectable(items[i].text.c_str(), items[i].selected)) ClickListItem(panel, loaded, i, &anchor);
    ImGui::PopID();
  }
  ImGui::EndListBox();
}

void ClientView::DrawLog(ControllerPanel& panel, size_t index) {
  PixelRect r = ControlPixels(index, Control::kLog);
  ImGui::SetCursorScreenPos(Min(r));
  ImGui::PushStyleColor(ImGuiCol_ChildBg, ImGui::GetStyleColorVec4(ImGuiCol_FrameBg));
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(4.0f * scale_, 2.0f * scale_));
  ImGui::BeginChild("##log", Size(r), true);
  // Lines wrap at the log's width: a long message stays readable whole.
  // Wrapped lines differ in height, so no clipper; the log keeps at most
  // kMaxLogLines lines.
  const std::deque<std::string>& log = panel.log();
  ImGui::PushTextWrapPos(0.0f);
  for (size_t i = 0; i < log.size(); ++i) {
    const std::string& line = log[i];
    if (i > 0) ImGui::PushStyleColor(ImGuiCol_Text, Colour(IM_COL32(175, 180, 190, 255)));
    ImGui::TextUnformatted(line.c_str(), line.c_str() + line.size());
    if (i > 0) ImGui::PopStyleColor();
  }
  ImGui::PopTextWrapPos();
  ImGui::EndChild();
  ImGui::PopStyleVar();
  ImGui::PopStyleColor();
}

// ---------------------------------------------------------------------------
// Deck group
// ---------------------------------------------------------------------------
void ClientView::DrawDeck(ControllerPanel& panel, size_t index, int deck) {
  ImDrawList* draw = ImGui::GetWindowDrawList();
  bool live = panel.connected() && panel.HasDeck(deck);
  PixelRect group = DeckPixels(index, deck, DeckControl::kGroup);
  // Group box: frame with the title set into its top edge.
  char title[24];
  std::snprintf(title, sizeof title, "Deck %d", deck + 1);
  ImVec2 title_size = ImGui::CalcTextSize(title);
  float edge_y = group.y + title_size.y * 0.5f;
  draw->AddRectFilled(ImVec2(group.x, edge_y), Max(group), kColGroup, 3.0f * scale_);
  draw->AddRect(ImVec2(group.x, edge_y), Max(group), kColGroupEdge, 3.0f * scale_);
  float title_x = group.x + 6.0f * scale_;
  draw->AddRectFilled(ImVec2(title_x - 3.0f * scale_, group.y), ImVec2(title_x + title_size.x + 3.0f * scale_,
                                                                        group.y + title_size.y),
                      kColPanel);
  bool holds_effect = live && panel.DeckEffectLabel(deck) != "NO EFFECT";
  draw->AddText(ImVec2(title_x, group.y), holds_effect ? kColAccent : live ? kColText : kColTextDim, title);

  ImGui::PushID(deck);
  // Fader and speed.
  struct Bar {
    DeckControl control;
    const char* id;
    bool is_fader;
  };
  for (const Bar& bar : {Bar{DeckControl::kFader, "##fader", true}, Bar{DeckControl::kSpeed, "##speed", false}}) {
    PixelRect r = DeckPixels(index, deck, bar.control);
    const client::Trackbar& state = bar.is_fader ? panel.fader(deck) : panel.speed(deck);
    bool active = false, hovered = false;
    float thumb = ThumbSize(scale_);
    ImVec2 centre = ThumbCentre(r, state.position());
    ImGui::SetCursorScreenPos(ImVec2(r.x, centre.y - thumb * 0.5f));
    ImGui::BeginDisabled(!live);
    ImGui::InvisibleButton(bar.id, ImVec2(r.w, thumb));
    ImGui::EndDisabled();
    active = live && ImGui::IsItemActive();
    hovered = ImGui::IsItemHovered();
    const ImGuiIO& io = ImGui::GetIO();
    if (active && ImGui::IsItemActivated()) grab_offset_ = io.MousePos.y - centre.y;
    if (active && !state.dragging()) {
      if (bar.is_fader)
        panel.BeginFaderDrag(deck);
      else
        panel.BeginSpeedDrag(deck);
    }
    if (active) {
      Travel travel = TravelOf(r, scale_);
      float t = (io.MousePos.y - grab_offset_ - travel.top) / travel.length;
      int position = static_cast<int>(std::lround(t * static_cast<float>(Trackbar::kMax - Trackbar::kMin))) +
                     Trackbar::kMin;
      position = std::clamp(position, Trackbar::kMin, Trackbar::kMax);
      if (bar.is_fader)
        panel.DragFader(deck, position);
      else
        panel.DragSpeed(deck, position);
    } else if (state.dragging()) {
      if (bar.is_fader)
        panel.EndFaderDrag(deck);
      else
        panel.EndSpeedDrag(deck);
    }
    const client::Trackbar& now = bar.is_fader ? panel.fader(deck) : panel.speed(deck);
    DrawTrackVisual(r, true, Fraction(now.position()), live, hovered || active, bar.is_fader, !bar.is_fader);
    MidiMenu(bar.is_fader ? "##midifader" : "##midispeed", r,
             MidiControl{bar.is_fader ? MidiTarget::kFader : MidiTarget::kSpeed, deck});
    if ((hovered || active) && live) {
      float value = Trackbar::ValueAt(now.position());
      if (bar.is_fader)
        ImGui::SetTooltip("Fader %.2f", value);
      else
        ImGui::SetTooltip("Speed %.2f (%+.1fx)", value, (value - 0.5f) * 4.0f);
    }
  }

  ImU32 caption = live ? IM_COL32(150, 156, 167, 255) : kColTextDim;
  TextIn(DeckPixels(index, deck, DeckControl::kFaderCaption), "FADER", caption, 0.5f, small_font_);
  TextIn(DeckPixels(index, deck, DeckControl::kSpeedCaption), "SPEED", caption, 0.5f, small_font_);

  if (ButtonAt("Unload##deckunload", DeckPixels(index, deck, DeckControl::kUnload), live)) panel.UnloadDeck(deck);

  // Beat mode and mixer choices.
  struct Choice {
    DeckControl control;
    const char* id;
    const std::vector<ListItem>* items;
    int current;
    bool is_mixer;
  };
  for (const Choice& choice :
       {Choice{DeckControl::kBeatMode, "##beatmode", &panel.beat_mode_choices(), panel.BeatModeChoiceIndex(deck), false},
        Choice{DeckControl::kMixer, "##mixer", &panel.mixer_choices(), panel.MixerChoiceIndex(deck), true}}) {
    PixelRect r = DeckPixels(index, deck, choice.control);
    const std::vector<ListItem>& items = *choice.items;
    const char* preview = choice.current >= 0 ? items[static_cast<size_t>(choice.current)].text.c_str() : "";
    float widest = r.w;
    for (const ListItem& item : items)
      widest = std::max(widest, ImGui::CalcTextSize(item.text.c_str()).x + ImGui::GetStyle().WindowPadding.x * 2.0f +
                                    ImGui::GetStyle().FramePadding.x * 2.0f);
    ImGui::SetCursorScreenPos(Min(r));
    ImGui::SetNextItemWidth(r.w);
    ImGui::SetNextWindowSizeConstraints(ImVec2(widest, 0.0f), ImVec2(FLT_MAX, FLT_MAX));
    ImGui::BeginDisabled(!live);
    if (ImGui::BeginCombo(choice.id, preview, ImGuiComboFlags_HeightLarge)) {
      for (size_t i = 0; i < items.size(); ++i) {
        ImGui::PushID(static_cast<int>(i));
        if (ImGui::Selectable(items[i].text.c_str(), static_cast<int>(i) == choice.current)) {
          if (choice.is_mixer)
            panel.ChooseMixer(deck, items[i].number);
          else
            panel.ChooseBeatMode(deck, items[i].number);
        }
        ImGui::PopID();
      }
      ImGui::EndCombo();
    }
    ImGui::EndDisabled();
    if (live && ImGui::IsItemHovered() && ImGui::CalcTextSize(preview).x > r.w - ImGui::GetFrameHeight())
      ImGui::SetTooltip("%s", preview);
    MidiMenu(choice.is_mixer ? "##midimixer" : "##midibeatmode", r,
             MidiControl{choice.is_mixer ? MidiTarget::kMixer : MidiTarget::kBeatMode, deck});
  }

  // Effect label along the bottom.
  PixelRect label = DeckPixels(index, deck, DeckControl::kEffectLabel);
  std::string text = panel.DeckEffectLabel(deck);
  bool empty = text == "NO EFFECT";
  if (!empty) {
    draw->AddRectFilled(ImVec2(label.x, label.y - 1.0f * scale_), ImVec2(label.right(), label.bottom() + 1.0f * scale_),
                        kColChip, 2.0f * scale_);
    PixelRect inner = label;
    inner.x += 4.0f * scale_;
    inner.w -= 8.0f * scale_;
    TextIn(inner, text.c_str(), kColAccent, 0.0f);
  } else {
    TextIn(label, text.c_str(), kColTextDim, 0.5f);
  }
  ImGui::PopID();
}

void ClientView::DrawTrackVisual(const PixelRect& r, bool vertical, float t, bool enabled, bool hot,
                                 bool fill_below, bool mark_speed) {
  ImDrawList* draw = ImGui::GetWindowDrawList();
  float s = scale_;
  float thumb = ThumbSize(s);
  float alpha = enabled ? 1.0f : ImGui::GetStyle().DisabledAlpha;
  auto fade = [&](ImU32 c) {
    ImVec4 v = ImGui::ColorConvertU32ToFloat4(c);
    v.w *= alpha;
    return ImGui::ColorConvertFloat4ToU32(v);
  };
  if (vertical) {
    float cx = std::floor(r.x + r.w * 0.5f);
    Travel travel = TravelOf(r, s);
    float top = travel.top, bottom = travel.top + travel.length;
    float groove = std::max(2.0f, std::round(3.0f * s));
    // Ticks on both sides, every tenth of the range.
    for (int i = 0; i <= 10; ++i) {
      float y = std::round(top + (bottom - top) * static_cast<float>(i) / 10.0f) + 0.5f;
      float len = (i % 5 == 0) ? 4.0f * s : 2.5f * s;
      draw->AddLine(ImVec2(r.x + 1.0f, y), ImVec2(r.x + 1.0f + len, y), fade(kColTick));
      draw->AddLine(ImVec2(r.right() - 1.0f - len, y), ImVec2(r.right() - 1.0f, y), fade(kColTick));
    }
    if (mark_speed) {
      // Normal speed (0.75) and standstill (0.5).
      float normal = top + (bottom - top) * 0.25f;
      float still = top + (bottom - top) * 0.5f;
      draw->AddLine(ImVec2(r.x, normal), ImVec2(r.x + 5.0f * s, normal), fade(kColNormalSpeed), 1.5f * s);
      draw->AddLine(ImVec2(r.right() - 5.0f * s, still), ImVec2(r.right(), still), fade(kColText), 1.5f * s);
    }
    draw->AddRectFilled(ImVec2(cx - groove * 0.5f, top), ImVec2(cx + groove * 0.5f, bottom), fade(kColGroove), groove);
    float y = top + std::round((bottom - top) * t);
    if (fill_below)
      draw->AddRectFilled(ImVec2(cx - groove * 0.5f, y), ImVec2(cx + groove * 0.5f, bottom), fade(kColAccentDim),
                          groove);
    ImU32 colour = hot ? (ImGui::IsMouseDown(0) ? kColAccent : kColThumbHot) : kColThumb;
    float half_w = std::max(4.0f, r.w * 0.5f - 3.0f * s);
    draw->AddRectFilled(ImVec2(cx - half_w, y - thumb * 0.5f), ImVec2(cx + half_w, y + thumb * 0.5f), fade(colour),
                        2.0f * s);
    draw->AddLine(ImVec2(cx - half_w + 2.0f * s, std::floor(y) + 0.5f), ImVec2(cx + half_w - 2.0f * s, std::floor(y) + 0.5f),
                  fade(IM_COL32(60, 64, 72, 255)));
  } else {
    float cy = std::floor(r.y + r.h * 0.5f);
    float left = r.x + thumb * 0.5f, right = r.right() - thumb * 0.5f;
    float groove = std::max(2.0f, std::round(3.0f * s));
    for (int i = 0; i <= 10; ++i) {
      float x = std::round(left + (right - left) * static_cast<float>(i) / 10.0f) + 0.5f;
      draw->AddLine(ImVec2(x, r.bottom() - 1.0f - 3.0f * s), ImVec2(x, r.bottom() - 1.0f), fade(kColTick));
    }
    draw->AddRectFilled(ImVec2(left, cy - groove * 0.5f), ImVec2(right, cy + groove * 0.5f), fade(kColGroove), groove);
    float x = left + (right - left) * t;
    float half_h = std::max(4.0f, r.h * 0.5f - 3.0f * s);
    draw->AddRectFilled(ImVec2(x - thumb * 0.5f, cy - half_h), ImVec2(x + thumb * 0.5f, cy + half_h),
                        fade(hot ? kColThumbHot : kColThumb), 2.0f * s);
  }
}

// ---------------------------------------------------------------------------
// Popups: the connection dialog, error messages, About
// ---------------------------------------------------------------------------
void ClientView::DrawDialog() {
  ConnectionDialog& dialog = logic_->dialog();
  if (dialog.is_open() && !ImGui::IsPopupOpen(DialogTitle())) ImGui::OpenPopup(DialogTitle());
  PixelRect body = ToPixels(kDialogSize, scale_);
  float title_height = ImGui::GetFontSize() + ImGui::GetStyle().FramePadding.y * 2.0f;
  const ImGuiViewport* viewport = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + viewport->Size.x * 0.5f, viewport->Pos.y + viewport->Size.y * 0.5f),
                          ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(body.w, body.h + title_height));
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
  bool open = ImGui::BeginPopupModal(DialogTitle(), nullptr,
                                     ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings |
                                         ImGuiWindowFlags_NoScrollbar);
  ImGui::PopStyleVar();
  if (!open) return;
  if (!dialog.is_open()) {
    ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
    return;
  }
  ImVec2 origin(ImGui::GetWindowPos().x, ImGui::GetWindowPos().y + title_height);
  auto at = [&](DialogRect rect) {
    PixelRect p = ToPixels(rect, scale_);
    p.x += origin.x;
    p.y += origin.y;
    return p;
  };
  bool confirm = ButtonAt("Connect##dialogconnect", at({7, 7, 50, 14}), true);
  bool cancel = ButtonAt("Cancel##dialogcancel", at({7, 25, 50, 14}), true);
  PixelRect field = at({67, 7, 150, 14});
  ImGui::SetCursorScreenPos(Min(field));
  ImGui::SetNextItemWidth(field.w);
  if (dialog_focus_ || ImGui::IsWindowAppearing()) {
    ImGui::SetKeyboardFocusHere();
    dialog_focus_ = false;
  }
  if (ImGui::InputText("##host", dialog.host_buffer(), kHostCapacity, ImGuiInputTextFlags_EnterReturnsTrue))
    confirm = true;
  text_field_active_ = text_field_active_ || ImGui::IsItemActive();
  PixelRect note = at({67, 25, 150, 14});
  TextIn(note, "host or host:port", kColTextDim);
  if (KeyPressed(ImGuiKey_Enter) || KeyPressed(ImGuiKey_KeyPadEnter)) confirm = true;
  if (KeyPressed(ImGuiKey_Escape)) cancel = true;
  if (confirm) {
    dialog.Confirm();
    ImGui::CloseCurrentPopup();
  } else if (cancel) {
    dialog.Cancel();
    ImGui::CloseCurrentPopup();
  }
  ImGui::EndPopup();
}

void ClientView::DrawPresetDialog() {
  PresetDialog& dialog = logic_->preset_dialog();
  std::string title = std::string(dialog.Title()) + PresetDialogId();
  if (dialog.is_open() && !ImGui::IsPopupOpen(PresetDialogId())) {
    ImGui::OpenPopup(title.c_str());
    preset_focus_ = true;
  }
  const ImGuiViewport* viewport = ImGui::GetMainViewport();
  ImVec2 size(std::min(520.0f * scale_, viewport->Size.x - 16.0f), std::min(380.0f * scale_, viewport->Size.y - 16.0f));
  ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + viewport->Size.x * 0.5f, viewport->Pos.y + viewport->Size.y * 0.5f),
                          ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(size);
  if (!ImGui::BeginPopupModal(title.c_str(), nullptr,
                              ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings |
                                  ImGuiWindowFlags_NoScrollbar))
    return;
  if (!dialog.is_open()) {
    ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
    return;
  }
  const ImGuiStyle& style = ImGui::GetStyle();
  float label_w = 86.0f * scale_;
  float button_w = 75.0f * scale_;
  float row = ImGui::GetFrameHeight();

  // Folder line with "Up".
  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted("Look in:");
  ImGui::SameLine(label_w);
  float folder_w = ImGui::GetContentRegionAvail().x - button_w - style.ItemSpacing.x;
  ImGui::PushStyleColor(ImGuiCol_Text, Colour(kColAccent));
  PixelRect folder_rect{ImGui::GetCursorScreenPos().x, ImGui::GetCursorScreenPos().y, folder_w, row};
  TextIn(folder_rect, dialog.folder().c_str(), kColAccent);
  ImGui::PopStyleColor();
  ImGui::Dummy(ImVec2(folder_w, row));
  if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", dialog.folder().c_str());
  ImGui::SameLine();
  bool up = ImGui::Button("Up##presetup", ImVec2(button_w, 0.0f));

  // The listing: double-click a folder to enter it, click a file to take
  // its name, double-click a file to open or save it at once.
  float list_h = ImGui::GetContentRegionAvail().y - 3.0f * (row + style.ItemSpacing.y) - style.ItemSpacing.y;
  std::string enter;
  bool confirm = false;
  if (ImGui::BeginListBox("##presetfiles", ImVec2(-FLT_MIN, std::max(row * 3.0f, list_h)))) {
    const std::vector<PresetDialog::Entry>& entries = dialog.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
      const PresetDialog::Entry& entry = entries[i];
      std::string label = entry.folder ? "[" + entry.name + "]" : entry.name;
      ImGui::PushID(static_cast<int>(i));
      if (entry.folder) ImGui::PushStyleColor(ImGuiCol_Text, Colour(IM_COL32(150, 170, 200, 255)));
      bool chosen = !entry.folder && entry.name == dialog.name_text();
      if (ImGui::Selectable(label.c_str(), chosen, ImGuiSelectableFlags_AllowDoubleClick)) {
        bool twice = ImGui::IsMouseDoubleClicked(0);
        if (entry.folder) {
          if (twice) enter = entry.name;
        } else {
          dialog.ChooseFile(entry.name);
          confirm = twice;
        }
      }
      if (entry.folder) ImGui::PopStyleColor();
      ImGui::PopID();
    }
    if (entries.size() <= 1) ImGui::TextDisabled("No preset files here");
    ImGui::EndListBox();
  }

  // Name and type.
  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted("File name:");
  ImGui::SameLine(label_w);
  ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - button_w - style.ItemSpacing.x);
  if (preset_focus_) {
    ImGui::SetKeyboardFocusHere();
    preset_focus_ = false;
  }
  if (ImGui::InputText("##presetname", dialog.name_buffer(), kPresetNameCapacity, ImGuiInputTextFlags_EnterReturnsTrue))
    confirm = true;
  text_field_active_ = text_field_active_ || ImGui::IsItemActive();
  ImGui::SameLine();
  if (ImGui::Button((std::string(dialog.ConfirmText()) + "##presetok").c_str(), ImVec2(button_w, 0.0f))) confirm = true;

  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted("Files of type:");
  ImGui::SameLine(label_w);
  ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - button_w - style.ItemSpacing.x);
  if (ImGui::BeginCombo("##presettype", kPresetFilter)) {
    ImGui::Selectable(kPresetFilter, true);
    ImGui::EndCombo();
  }
  ImGui::SameLine();
  bool cancel = ImGui::Button("Cancel##presetcancel", ImVec2(button_w, 0.0f));
  if (!dialog.error().empty()) ImGui::TextColored(Colour(IM_COL32(255, 110, 90, 255)), "%s", dialog.error().c_str());

  if (KeyPressed(ImGuiKey_Enter) || KeyPressed(ImGuiKey_KeyPadEnter)) confirm = true;
  if (KeyPressed(ImGuiKey_Escape)) cancel = true;
  if (up) dialog.EnterFolder("..");
  if (!enter.empty()) dialog.EnterFolder(enter);
  if (cancel) {
    dialog.Cancel();
  } else if (confirm) {
    // A folder name opens the folder; a file ends the dialog.
    if (dialog.Confirm() == 1) preset_focus_ = true;
  }
  if (!dialog.is_open()) ImGui::CloseCurrentPopup();
  ImGui::EndPopup();
}

void ClientView::DrawAlerts() {
  std::deque<std::string>& alerts = logic_->alerts();
  // One modal at a time: an error waits while the host prompt is up.
  if (!alerts.empty() && !logic_->dialog().is_open() && !logic_->preset_dialog().is_open() &&
      !ImGui::IsPopupOpen(AlertTitle()))
    ImGui::OpenPopup(AlertTitle());
  if (!ImGui::BeginPopupModal(AlertTitle(), nullptr,
                              ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings))
    return;
  if (alerts.empty()) {
    ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
    return;
  }
  ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + 420.0f * scale_);
  ImGui::TextUnformatted(alerts.front().c_str());
  ImGui::PopTextWrapPos();
  ImGui::Spacing();
  bool close = ImGui::Button("OK##alertok", ImVec2(75.0f * scale_, 0.0f));
  close = close || KeyPressed(ImGuiKey_Enter) || KeyPressed(ImGuiKey_KeyPadEnter) || KeyPressed(ImGuiKey_Escape);
  if (close) {
    alerts.pop_front();
    ImGui::CloseCurrentPopup();
  }
  ImGui::EndPopup();
}

void ClientView::DrawAbout() {
  if (about_requested_) {
    ImGui::OpenPopup(AboutTitle());
    about_requested_ = false;
  }
  if (!ImGui::BeginPopupModal(AboutTitle(), nullptr,
                              ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings))
    return;
  ImGui::Text("halvane VJ %s", VJ_VERSION);
  ImGui::TextDisabled("Built from commit %s", VJ_COMMIT);
  ImGui::TextDisabled("Live video mixing: controller client");
  ImGui::TextDisabled("Protocol %d.%d, Dear ImGui %s", net::kProtocolMajor, net::kProtocolMinor, IMGUI_VERSION);
  ImGui::Spacing();
  if (ImGui::Button("OK##aboutok", ImVec2(75.0f * scale_, 0.0f)) || KeyPressed(ImGuiKey_Escape) ||
      KeyPressed(ImGuiKey_Enter))
    ImGui::CloseCurrentPopup();
  ImGui::EndPopup();
}

}  // namespace client

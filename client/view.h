// Internal to client: the Dear ImGui view of the Client window. It draws the
// logic's state into the current ImGui context and turns what the performer
// does into calls on the logic. It knows nothing of SDL or OpenGL; the window
// shell (client_window_sdl.cpp) feeds it input and renders what it built.
#pragma once

#include <map>
#include <string>

#include "client/panel.h"
#include "client/window.h"

struct ImFont;
struct ImVec2;

namespace client {

// The UI font; ImGui's built-in font stands in when it is missing.
inline constexpr const char* kUiFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class ClientView {
 public:
  explicit ClientView(ClientWindow* logic) : logic_(logic) {}

  // Style, colours and fonts for the current ImGui context at `scale`
  // (1.0 at 96 dpi). Call before the font atlas is built. The font file is
  // read through the file layer; without it ImGui's own font is used.
  void SetUp(float scale, const std::string& font_path);
  float scale() const { return scale_; }

  // Builds one frame's widgets for a window of `width` x `height` pixels.
  // Call between ImGui::NewFrame and ImGui::Render.
  void Draw(float width, float height);

  // Size of the window that shows one panel without scrolling.
  void PreferredWindowSize(float* width, float* height) const;

  // Where panel `index` (in creation order) sits, window coordinates, for
  // the current scroll position. Valid after a Draw.
  PixelRect PanelRect(size_t index) const;
  // The rectangle of a control of panel `index`.
  PixelRect ControlPixels(size_t index, Control control) const;
  PixelRect DeckPixels(size_t index, int deck, DeckControl control) const;
  // Centre of a trackbar's thumb at `position`, in window coordinates.
  ImVec2 ThumbCentre(const PixelRect& track, int position) const;
  static ImVec2 ThumbCentreAt(const PixelRect& track, int position, float scale);
  // The span the thumb's centre moves along: whole pixels, even length.
  struct Travel {
    float top = 0.0f;
    float length = 0.0f;
  };
  static Travel TravelOf(const PixelRect& track, float scale);
  // Height of a vertical trackbar's thumb.
  static float ThumbSize(float scale);
  // Centre of a beat-graph trackbar's thumb at `position` (0 .. the bar's
  // maximum) for panel `index`.
  ImVec2 BeatThumbCentre(size_t index, BeatGraph::Bar bar, int position) const;
  static Control BeatBarControl(BeatGraph::Bar bar);
  // Thumb centre of a trackbar at fraction `t` of its travel.
  static ImVec2 BarThumbCentre(const PixelRect& track, bool vertical, float t, float scale);
  // Height of the menu bar (valid after a Draw).
  float menu_height() const { return menu_height_; }

  static const char* DialogTitle() { return "New connection"; }
  static const char* AlertTitle() { return "ERROR"; }
  static const char* AboutTitle() { return "About"; }
  // The preset file dialog's popup id (its title changes with the mode).
  static const char* PresetDialogId() { return "###presetfile"; }

 private:
  void DrawMenuBar();
  void DrawHint(float width, float height);
  void DrawPanel(ControllerPanel& panel, size_t index);
  void DrawDeck(ControllerPanel& panel, size_t index, int deck);
  void DrawEffectList(ControllerPanel& panel, size_t index, bool loaded);
  void DrawLog(ControllerPanel& panel, size_t index);
  void DrawBeatGraph(ControllerPanel& panel, size_t index);
  // Returns the position the performer dragged the thumb to, or -1; sets
  // *active while the thumb is held.
  int Trackbar(const char* id, const PixelRect& rect, int position, bool enabled, bool fill_below, bool* active,
               const char* tooltip);
  // `t`: the thumb's place along the track, 0 (top / left) to 1.
  void DrawTrackVisual(const PixelRect& rect, bool vertical, float t, bool enabled, bool hot, bool fill_below,
                       bool mark_speed);
  void DrawDialog();
  void DrawPresetDialog();
  void DrawAlerts();
  void DrawAbout();
  void DrawBeatCaptions(ControllerPanel& panel, size_t index);
  // Right-click on `rect`: "Learn MIDI" / "Forget MIDI" for `control`.
  void MidiMenu(const char* id, const PixelRect& rect, const MidiControl& control);
  // The list of MIDI mappings (MIDI > Mappings...).
  void DrawMidiList();
  void DrawBindingKeys(ControllerPanel& panel, size_t index);

  void DrawOutputControls(ControllerPanel& panel, size_t index);

 public:
  // Turns a panel's preview into a texture the renderer draws (the GL
  // side, set by the window that renders); without it the preview area
  // stays dark.
  using PictureTexture = void* (*)(const void* key, uint64_t serial, int width, int height, const uint8_t* rgba);
  void SetPictureTexture(PictureTexture texture) { picture_texture_ = texture; }

 private:
  PictureTexture picture_texture_ = nullptr;
  ClientWindow* logic_;
  float scale_ = 1.0f;
  std::string font_data_;  // kept alive for the font atlas
  ImFont* small_font_ = nullptr;  // captions
  float panel_top_ = 0.0f;     // window y of the first panel at scroll 0
  float scroll_y_ = 0.0f;
  float menu_height_ = 0.0f;
  float grab_offset_ = 0.0f;   // thumb drag: mouse minus thumb centre
  bool dialog_focus_ = false;  // give the host field the focus once
  bool text_field_active_ = false;  // a text field had the keyboard this frame
  bool preset_focus_ = false;       // give the preset name field the focus once
  bool about_requested_ = false;
  bool midi_list_requested_ = false;
  size_t scroll_to_panel_ = static_cast<size_t>(-1);
  // Per panel and list (0 not loaded, 1 loaded): the effect ID where a
  // shift-click range starts.
  struct Anchors {
    int32_t ids[2] = {-1, -1};
  };
  std::map<const ControllerPanel*, Anchors> anchors_;
};

}  // namespace client

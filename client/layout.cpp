// Where the panel's controls sit, in dialog units, and the conversion to
// pixels. The positions of the general controls and the deck groups come
// from the panel template; the controls inside a deck group follow its
// order: fader at the left, speed beside it, "Unload" at the top right, the
// beat-mode list under it, the mixer list under that, the effect label
// along the bottom.
#include <algorithm>

#include "client/panel.h"
#include "client/window.h"

namespace client {
namespace {

struct DeckOrigin {
  int x, y;
};
constexpr DeckOrigin kDeckOrigins[kPanelDecks] = {{194, 36}, {342, 36}, {194, 127},
                                                  {342, 127}, {194, 220}, {342, 220}};
constexpr int kGroupWidth = 144;
constexpr int kGroupHeight = 88;

}  // namespace

PixelRect ToPixels(const DialogRect& rect, float scale) {
  float sx = kUnitWidthPx * scale;
  float sy = kUnitHeightPx * scale;
  return PixelRect{static_cast<float>(rect.x) * sx, static_cast<float>(rect.y) * sy, static_cast<float>(rect.w) * sx,
                   static_cast<float>(rect.h) * sy};
}

DialogRect ControlRect(Control control) {
  switch (control) {
    case Control::kStatus: return {7, 7, 524, 9};
    case Control::kFrameRate: return {543, 6, 27, 9};
    case Control::kConnect: return {7, 20, 50, 14};
    case Control::kClose: return {59, 20, 50, 14};
    case Control::kLoadPreset: return {112, 20, 50, 14};
    case Control::kSavePreset: return {164, 20, 50, 14};
    case Control::kBeatGraph: return {35, 45, 129, 48};
    case Control::kThreshold: return {9, 39, 21, 63};
    case Control::kLowBin: return {27, 100, 146, 16};
    case Control::kHighBin: return {27, 117, 146, 16};
    case Control::kUnloadedList: return {495, 39, 140, 80};
    case Control::kLoadButton: return {513, 130, 50, 14};
    case Control::kUnloadButton: return {567, 130, 50, 14};
    case Control::kLoadedList: return {495, 151, 139, 83};
    case Control::kLog: return {245, 316, 391, 56};
    case Control::kThresholdCaption: return {36, 36, 100, 8};
    case Control::kLowCaption: return {2, 104, 24, 8};
    case Control::kHighCaption: return {2, 121, 24, 8};
    case Control::kTempo: return {9, 137, 164, 9};
    case Control::kBindingKeys: return {9, 150, 182, 11};
    case Control::kPreviewToggle: return {9, 166, 90, 12};
    case Control::kBlackout: return {130, 165, 55, 14};
    case Control::kPreview: return {9, 183, 150, 104};
    case Control::kMaster: return {163, 183, 22, 104};
    case Control::kMasterCaption: return {156, 289, 36, 8};
  }
  return {};
}

DialogRect DeckControlRect(int deck, DeckControl control) {
  deck = std::clamp(deck, 0, kPanelDecks - 1);
  int x = kDeckOrigins[deck].x;
  int y = kDeckOrigins[deck].y;
  switch (control) {
    case DeckControl::kGroup: return {x, y, kGroupWidth, kGroupHeight};
    case DeckControl::kFader: return {x + 4, y + 11, 22, 54};
    case DeckControl::kSpeed: return {x + 27, y + 11, 22, 54};
    case DeckControl::kFaderCaption: return {x + 2, y + 66, 26, 8};
    case DeckControl::kSpeedCaption: return {x + 25, y + 66, 26, 8};
    case DeckControl::kUnload: return {x + 90, y + 10, 48, 13};
    case DeckControl::kBeatMode: return {x + 54, y + 28, 84, 12};
    case DeckControl::kMixer: return {x + 54, y + 45, 84, 12};
    case DeckControl::kEffectLabel: return {x + 6, y + 76, 132, 9};
    case DeckControl::kAssign: {
      // Two rows of three under the loaded list.
      int column = deck % 3;
      int row = deck / 3;
      return {495 + column * 47, 239 + row * 17, 45, 14};
    }
  }
  return {};
}

ScreenPoint PlaceOnDisplays(int x, int y, int width, int height, const std::vector<PixelRect>& displays) {
  if (displays.empty()) return {x, y};
  // The title area must be reachable with the mouse: a strip along the top
  // of the window at least 48 px wide and 16 px tall on some display.
  float strip_height = static_cast<float>(std::min(height, 32));
  for (const PixelRect& display : displays) {
    float left = std::max(static_cast<float>(x), display.x);
    float right = std::min(static_cast<float>(x + width), display.right());
    float top = std::max(static_cast<float>(y), display.y);
    float bottom = std::min(static_cast<float>(y) + strip_height, display.bottom());
    if (right - left >= std::min(48.0f, static_cast<float>(width)) &&
        bottom - top >= std::min(16.0f, strip_height))
      return {x, y};
  }
  const PixelRect& first = displays.front();
  int nx = static_cast<int>(first.x) + 32;
  int ny = static_cast<int>(first.y) + 32;
  // Keep the whole window on the display when it fits.
  if (nx + width > static_cast<int>(first.right())) nx = std::max(static_cast<int>(first.x), static_cast<int>(first.right()) - width);
  if (ny + height > static_cast<int>(first.bottom())) ny = std::max(static_cast<int>(first.y), static_cast<int>(first.bottom()) - height);
  return {nx, ny};
}

std::string MenuText(std::string_view label) {
  std::string text;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&') {
      if (i + 1 < label.size() && label[i + 1] == '&') {
        text += '&';
        ++i;
      }
      continue;
    }
    text += label[i];
  }
  return text;
}

}  // namespace client

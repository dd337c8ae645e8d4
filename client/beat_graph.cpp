// Beat graph: the picture of the beat detector as numbers (curve points,
// line positions, the tempo bar), made on every third paint request of the
// whole program; the view scales it onto the panel and shows the last
// picture in between. Values from the wire and the sound input may be
// anything, so every number is brought into a range where the integer
// arithmetic stays defined; lines that fall outside the graph (a threshold
// of 1.0 sits at y = -1) simply do not show.
#include <algorithm>
#include <cmath>

#include "app/core/core.h"
#include "client/panel.h"
#include "client/window.h"

namespace client {
namespace {

uint64_t g_paint_counter = 0;

constexpr uint32_t kFlashMs = 100;

int Truncated(double value) { return static_cast<int>(std::trunc(value)); }

// A bin number as an x position: far right of the graph is as good as any
// larger value.
int BinX(uint32_t bin, int width) { return static_cast<int>(std::min<uint32_t>(bin, static_cast<uint32_t>(width) + 1)); }

void Plot(std::vector<uint8_t>* pixels, int width, int height, int x, int y, uint8_t colour) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  (*pixels)[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = colour;
}

void Line(std::vector<uint8_t>* pixels, int width, int height, int x0, int y0, int x1, int y1, uint8_t colour) {
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    Plot(pixels, width, height, x0, y0, colour);
    if (x0 == x1 && y0 == y1) return;
    int e2 = 2 * error;
    if (e2 >= dy) error += dy, x0 += sx;
    if (e2 <= dx) error += dx, y0 += sy;
  }
}

}  // namespace

BeatGraph::BeatGraph() {
  // The graph control's size in pixels at 96 dpi.
  PixelRect graph = ToPixels(ControlRect(Control::kBeatGraph), 1.0f);
  width_ = static_cast<int>(std::lround(graph.w));
  height_ = static_cast<int>(std::lround(graph.h));
}

void BeatGraph::SetBeatSettings(uint32_t low_bin, uint32_t high_bin, float threshold) {
  settings_.low_bin = low_bin;
  settings_.high_bin = high_bin;
  settings_.threshold = threshold;
}

int BeatGraph::BarPosition(Bar bar) const {
  if (drags_[static_cast<int>(bar)].active) return drags_[static_cast<int>(bar)].position;
  switch (bar) {
    case Bar::kLowBin: return std::min(BinX(settings_.low_bin, width_), width_);
    case Bar::kHighBin: return std::min(BinX(settings_.high_bin, width_), width_);
    case Bar::kThreshold: {
      float t = std::isfinite(settings_.threshold) ? std::clamp(settings_.threshold, 0.0f, 1.0f) : 0.0f;
      return static_cast<int>(std::lround((1.0 - static_cast<double>(t)) * height_));
    }
  }
  return 0;
}

void BeatGraph::BeginDrag(Bar bar) {
  if (drags_[static_cast<int>(bar)].active) return;
  drags_[static_cast<int>(bar)].position = BarPosition(bar);
  drags_[static_cast<int>(bar)].active = true;
}

bool BeatGraph::DragTo(Bar bar, int position) {
  Drag& drag = drags_[static_cast<int>(bar)];
  if (!drag.active) return false;
  position = std::clamp(position, 0, BarMax(bar));
  if (position == drag.position) return false;
  drag.position = position;
  switch (bar) {
    case Bar::kLowBin: settings_.low_bin = static_cast<uint32_t>(position); break;
    case Bar::kHighBin: settings_.high_bin = static_cast<uint32_t>(position); break;
    case Bar::kThreshold:
      settings_.threshold = 1.0f - static_cast<float>(position) / static_cast<float>(height_);
      break;
  }
  return true;
}

void BeatGraph::EndDrag(Bar bar) { drags_[static_cast<int>(bar)].active = false; }

void BeatGraph::ResetPaintCounter() { g_paint_counter = 0; }

bool BeatGraph::Paint(const float* spectrum, uint32_t period_ms, uint32_t last_tap_ms, uint32_t now_ms) {
  // Every third request of the program draws; the others keep the picture.
  if (g_paint_counter++ % 3 != 0) return false;
  const int w = width_, h = height_;
  BeatPicture p;
  p.drawn = true;
  p.width = w;
  p.height = h;

  // The tempo bar: half the height on the beat, shrinking to nothing over
  // the first 100 ms of each tapped period.
  if (period_ms != 0) {
    uint32_t phase = (now_ms - last_tap_ms) % period_ms;
    if (phase < kFlashMs) {
      int half = Truncated((1.0 - phase * 0.01) * (h / 4));
      if (half > 0) {
        p.flash = true;
        p.flash_left = w / 4;
        p.flash_right = 3 * w / 4;
        p.flash_top = h / 2 - half;
        p.flash_bottom = h / 2 + half;
      }
    }
  }

  // The spectrum: x is the bin, the height its square root.
  p.curve.resize(static_cast<size_t>(w));
  for (int x = 0; x < w; ++x) {
    double s = spectrum ? spectrum[std::min(x, kBins - 1)] : 0.0;
    if (!(s > 0.0)) s = 0.0;  // negative and NaN magnitudes read as silence
    s = std::min(s, 4.0);
    p.curve[static_cast<size_t>(x)] = h - Truncated(std::sqrt(s) * h) - 1;
  }

  p.low_x = BinX(settings_.low_bin, w);
  p.high_x = BinX(settings_.high_bin, w);
  double threshold = std::isfinite(settings_.threshold) ? settings_.threshold : 0.0;
  threshold = std::clamp(threshold, -1.0, 2.0);
  p.threshold_y = h - Truncated(h * threshold) - 1;
  picture_ = std::move(p);
  return true;
}

std::vector<uint8_t> RasterizeBeatPicture(const BeatPicture& p) {
  std::vector<uint8_t> pixels(static_cast<size_t>(std::max(0, p.width)) * static_cast<size_t>(std::max(0, p.height)),
                              kBeatBlack);
  if (!p.drawn) return pixels;
  if (p.flash)
    for (int y = p.flash_top; y < p.flash_bottom; ++y)
      for (int x = p.flash_left; x < p.flash_right; ++x) Plot(&pixels, p.width, p.height, x, y, kBeatWhite);
  for (size_t x = 1; x < p.curve.size(); ++x)
    Line(&pixels, p.width, p.height, static_cast<int>(x) - 1, p.curve[x - 1], static_cast<int>(x), p.curve[x],
         kBeatWhite);
  if (p.curve.size() == 1) Plot(&pixels, p.width, p.height, 0, p.curve[0], kBeatWhite);
  for (int y = 0; y < p.height; ++y) {
    Plot(&pixels, p.width, p.height, p.low_x, y, kBeatRed);
    Plot(&pixels, p.width, p.height, p.high_x, y, kBeatRed);
  }
  for (int x = 0; x < p.width; ++x) Plot(&pixels, p.width, p.height, x, p.threshold_y, kBeatRed);
  return pixels;
}

std::string TempoText(uint32_t period_ms) {
  if (period_ms == 0) return "Tempo: tap the space bar";
  return core::FormatString("Tempo %.1f BPM", 60000.0 / static_cast<double>(period_ms));
}

std::string TempoText(uint32_t period_ms, uint8_t source) {
  if (source != net::kTempoSourceMidiClock) return TempoText(period_ms);
  if (period_ms == 0) return "MIDI CLOCK: waiting for the clock";
  return core::FormatString("MIDI CLOCK %.1f BPM", 60000.0 / static_cast<double>(period_ms));
}

}  // namespace client

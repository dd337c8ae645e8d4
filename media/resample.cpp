// Area-averaging resampling and mip-level building.
//
// Resampling works in exact integer units: along an axis of S source and D
// destination pixels (both divided by their greatest common divisor), a
// source pixel is D units wide and a destination pixel S units, so every
// overlap is a whole number and the average is one integer division at the
// end (truncated). A constant image therefore stays exactly constant. The
// two axes are separable: each source row is first reduced horizontally
// (32-bit sums), then rows are weighted into 64-bit sums.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "media/media.h"
#include "media/pixels.h"

namespace media {

namespace {

using detail::Usable;

struct Axis {
  std::vector<uint32_t> first;   // first source pixel of each destination pixel
  std::vector<uint32_t> count;   // how many source pixels it touches
  std::vector<uint32_t> offset;  // where its weights start in `weights`
  std::vector<uint32_t> weights;
  uint32_t total = 1;  // the sum of one destination pixel's weights
};

Axis BuildAxis(uint32_t source_size, uint32_t destination_size) {
  Axis axis;
  uint32_t g = std::gcd(source_size, destination_size);
  uint64_t s = source_size / g;       // destination pixel width in units
  uint64_t d = destination_size / g;  // source pixel width in units
  axis.total = static_cast<uint32_t>(s);
  axis.first.resize(destination_size);
  axis.count.resize(destination_size);
  axis.offset.resize(destination_size);
  for (uint32_t i = 0; i < destination_size; ++i) {
    uint64_t start = i * s, end = (i + 1) * s;
    uint64_t j0 = start / d;
    uint64_t j1 = std::min<uint64_t>((end + d - 1) / d, source_size);
    axis.first[i] = static_cast<uint32_t>(j0);
    axis.count[i] = static_cast<uint32_t>(j1 - j0);
    axis.offset[i] = static_cast<uint32_t>(axis.weights.size());
    for (uint64_t j = j0; j < j1; ++j) {
      uint64_t lo = std::max(j * d, start), hi = std::min((j + 1) * d, end);
      axis.weights.push_back(static_cast<uint32_t>(hi - lo));
    }
  }
  return axis;
}

// Horizontal reduction of one canonical row into four sums per pixel.
void ReduceRow(const Axis& axis, const uint32_t* in, uint32_t out_width, uint32_t* sums) {
  for (uint32_t x = 0; x < out_width; ++x) {
    const uint32_t* px = in + axis.first[x];
    const uint32_t* w = axis.weights.data() + axis.offset[x];
    uint32_t a = 0, r = 0, g = 0, b = 0;
    for (uint32_t k = 0, n = axis.count[x]; k < n; ++k) {
      uint32_t v = px[k], wk = w[k];
      a += (v >> 24) * wk;
      r += (v >> 16 & 0xFF) * wk;
      g += (v >> 8 & 0xFF) * wk;
      b += (v & 0xFF) * wk;
    }
    sums[x * 4 + 0] = a;
    sums[x * 4 + 1] = r;
    sums[x * 4 + 2] = g;
    sums[x * 4 + 3] = b;
  }
}

// Scales the colour of a canonical pixel, read as a vector around 128, to
// length 127 (the encoding of unit normals); alpha is kept.
uint32_t NormalizeArgb(uint32_t argb) {
  int r = static_cast<int>(argb >> 16 & 0xFF) - 128;
  int g = static_cast<int>(argb >> 8 & 0xFF) - 128;
  int b = static_cast<int>(argb & 0xFF) - 128;
  double length = std::sqrt(static_cast<double>(r * r + g * g + b * b));
  if (length <= 0.0) return argb;
  auto channel = [&](int v) {
    long c = 128 + std::lround(v * 127.0 / length);
    return static_cast<uint32_t>(std::clamp<long>(c, 0, 255));
  };
  return (argb & 0xFF000000u) | channel(r) << 16 | channel(g) << 8 | channel(b);
}

void NormalizeImage(Image* image) {
  std::vector<uint32_t> row(image->width);
  for (uint32_t y = 0; y < image->height; ++y) {
    detail::UnpackRow(*image, y, nullptr, row.data());
    for (uint32_t& v : row) v = NormalizeArgb(v);
    detail::PackRow(image, y, row.data());
  }
}

struct Channel {
  uint32_t mask, shift, loss, max;
};

// The 2x2 box average of `source` into `destination` (exactly half its
// size, same format, 16 to 32 bits). 16-bit formats average the packed
// channels and carry each division's remainder to the next pixel of the
// row, so that low-precision levels do not darken.
void HalveImage(const Image& source, Image* destination, bool normalize) {
  const PixelFormat& f = destination->format;
  const uint32_t bytes = f.bits / 8;
  const bool carry_remainders = f.bits == 16;
  Channel channels[4] = {{f.red_mask, f.red_shift, f.red_loss, 0},
                         {f.green_mask, f.green_shift, f.green_loss, 0},
                         {f.blue_mask, f.blue_shift, f.blue_loss, 0},
                         {f.alpha_mask, f.alpha_shift, f.alpha_loss, 0}};
  for (Channel& c : channels) c.max = c.mask >> c.shift;
  for (uint32_t y = 0; y < destination->height; ++y) {
    const uint8_t* top = source.Row(2 * y);
    const uint8_t* bottom = source.Row(2 * y + 1);
    uint8_t* out = destination->Row(y);
    uint32_t carry[4] = {0, 0, 0, 0};
    for (uint32_t x = 0; x < destination->width; ++x) {
      uint32_t p[4] = {detail::ReadValue(top + 2 * x * bytes, bytes), detail::ReadValue(top + (2 * x + 1) * bytes, bytes),
                       detail::ReadValue(bottom + 2 * x * bytes, bytes),
                       detail::ReadValue(bottom + (2 * x + 1) * bytes, bytes)};
      uint32_t value = 0;
      for (int c = 0; c < 4; ++c) {
        const Channel& ch = channels[c];
        if (ch.mask == 0) continue;
        uint32_t sum = carry[c];
        for (uint32_t v : p) sum += (v & ch.mask) >> ch.shift;
        uint32_t average = std::min(sum / 4, ch.max);
        if (carry_remainders) carry[c] = sum % 4;
        value |= (average << ch.shift) & ch.mask;
      }
      if (normalize) value = detail::Pack(f, NormalizeArgb(detail::Unpack(f, value)));
      detail::WriteValue(out + x * bytes, bytes, value);
    }
  }
}

}  // namespace

int ResampleImage(Image* destination, const Image& source) {
  if (!destination || !Usable(*destination) || !Usable(source)) return -1;
  if (destination->format.bits == 8) return -1;
  // Keeps the 32-bit horizontal sums (255 x source width) from overflowing.
  if (source.width > (1u << 24)) return -1;
  if (destination->width == source.width && destination->height == source.height)
    return ConvertImage(destination, source);

  const uint32_t dw = destination->width, dh = destination->height;
  const Axis across = BuildAxis(source.width, dw);
  const Axis down = BuildAxis(source.height, dh);
  const uint64_t divisor = static_cast<uint64_t>(across.total) * down.total;

  uint32_t palette[256];
  if (source.format.bits == 8) detail::CanonicalPalette(source, palette);
  std::vector<uint32_t> canonical(source.width);
  // Adjacent destination rows share at most their boundary source row, so
  // two reduced rows are enough to reduce each source row once.
  std::vector<uint32_t> reduced[2] = {std::vector<uint32_t>(dw * 4), std::vector<uint32_t>(dw * 4)};
  int64_t reduced_row[2] = {-1, -1};
  std::vector<uint64_t> sums(dw * 4);
  std::vector<uint32_t> out(dw);

  for (uint32_t y = 0; y < dh; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    const uint32_t* wy = down.weights.data() + down.offset[y];
    for (uint32_t k = 0; k < down.count[y]; ++k) {
      const uint32_t sy = down.first[y] + k;
      int slot = reduced_row[0] == sy ? 0 : reduced_row[1] == sy ? 1 : -1;
      if (slot < 0) {
        slot = reduced_row[0] < reduced_row[1] ? 0 : 1;
        detail::UnpackRow(source, sy, palette, canonical.data());
        ReduceRow(across, canonical.data(), dw, reduced[slot].data());
        reduced_row[slot] = sy;
      }
      const uint32_t* row = reduced[slot].data();
      const uint64_t w = wy[k];
      for (uint32_t i = 0; i < dw * 4; ++i) sums[i] += w * row[i];
    }
    for (uint32_t x = 0; x < dw; ++x) {
      const uint64_t* s = &sums[x * 4];
      out[x] = static_cast<uint32_t>(s[0] / divisor) << 24 | static_cast<uint32_t>(s[1] / divisor) << 16 |
               static_cast<uint32_t>(s[2] / divisor) << 8 | static_cast<uint32_t>(s[3] / divisor);
    }
    detail::PackRow(destination, y, out.data());
  }
  return 0;
}

int BuildMipLevels(const Image& source, Image* levels, int count, bool normalize) {
  if (!levels || count < 1 || !Usable(source)) return -1;
  for (int i = 0; i < count; ++i) {
    if (!Usable(levels[i]) || !(levels[i].format == levels[0].format)) return -1;
  }
  if (levels[0].format.bits == 8) return -1;

  Image& first = levels[0];
  int result = (first.width == source.width && first.height == source.height) ? ConvertImage(&first, source)
                                                                              : ResampleImage(&first, source);
  if (result != 0) return -1;
  for (int i = 1; i < count; ++i) {
    const Image& previous = levels[i - 1];
    Image& level = levels[i];
    if (level.width * 2 == previous.width && level.height * 2 == previous.height) {
      HalveImage(previous, &level, normalize);
    } else {
      if (ResampleImage(&level, previous) != 0) return -1;
      if (normalize) NormalizeImage(&level);
    }
  }
  return 0;
}

}  // namespace media

// Pixel access shared by the image files of this folder (not part of the
// module's interface). Canonical pixels are A8R8G8B8 values.
#pragma once

#include <cstdint>
#include <vector>

#include "media/media.h"

namespace media::detail {

// 16/32-bit values little-endian, 24-bit values big-endian.
template <int kBytes>
inline uint32_t ReadValue(const uint8_t* p) {
  if constexpr (kBytes == 1) {
    return p[0];
  } else if constexpr (kBytes == 2) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
  } else if constexpr (kBytes == 3) {
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  } else {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
  }
}

template <int kBytes>
inline void WriteValue(uint8_t* p, uint32_t v) {
  if constexpr (kBytes == 1) {
    p[0] = static_cast<uint8_t>(v);
  } else if constexpr (kBytes == 2) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  } else if constexpr (kBytes == 3) {
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
  } else {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
  }
}

uint32_t ReadValue(const uint8_t* p, uint32_t bytes);
void WriteValue(uint8_t* p, uint32_t bytes, uint32_t value);

// One channel of a packed value as an 8-bit value (low `loss` bits zero).
inline uint32_t UnpackChannel(uint32_t value, uint32_t mask, uint32_t shift, uint32_t loss) {
  if (loss >= 8) return 0;
  return (((value & mask) >> shift) << loss) & 0xFF;
}
inline uint32_t PackChannel(uint32_t channel, uint32_t mask, uint32_t shift, uint32_t loss) {
  if (loss >= 8) return 0;
  return ((channel >> loss) << shift) & mask;
}

inline uint32_t Unpack(const PixelFormat& f, uint32_t v) {
  uint32_t a = f.alpha_loss >= 8 ? 0xFF : UnpackChannel(v, f.alpha_mask, f.alpha_shift, f.alpha_loss);
  return a << 24 | UnpackChannel(v, f.red_mask, f.red_shift, f.red_loss) << 16 |
         UnpackChannel(v, f.green_mask, f.green_shift, f.green_loss) << 8 |
         UnpackChannel(v, f.blue_mask, f.blue_shift, f.blue_loss);
}

inline uint32_t Pack(const PixelFormat& f, uint32_t argb) {
  return PackChannel(argb >> 24 & 0xFF, f.alpha_mask, f.alpha_shift, f.alpha_loss) |
         PackChannel(argb >> 16 & 0xFF, f.red_mask, f.red_shift, f.red_loss) |
         PackChannel(argb >> 8 & 0xFF, f.green_mask, f.green_shift, f.green_loss) |
         PackChannel(argb & 0xFF, f.blue_mask, f.blue_shift, f.blue_loss);
}

// Unpacks `width` pixels of one row into canonical values. 8-bit rows need
// `palette_argb` (256 canonical entries).
void UnpackRow(const Image& image, uint32_t y, const uint32_t* palette_argb, uint32_t* out);
// Packs `width` canonical values into one row of a non-8-bit image.
void PackRow(Image* image, uint32_t y, const uint32_t* argb);

// The canonical colours of an 8-bit image's palette.
void CanonicalPalette(const Image& image, uint32_t out[256]);

// True when the image is usable as a processing operand.
inline bool Usable(const Image& image) {
  return image.valid && image.pixels && image.width > 0 && image.height > 0 &&
         (image.format.bits == 8 || image.format.bits == 16 || image.format.bits == 24 ||
          image.format.bits == 32) &&
         (image.format.bits != 8 || image.palette);
}

}  // namespace media::detail

// Images, format conversion, rectangle copies and alpha merging.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "media/media.h"
#include "media/pixels.h"

namespace media {

namespace detail {

uint32_t ReadValue(const uint8_t* p, uint32_t bytes) {
  switch (bytes) {
    case 1: return ReadValue<1>(p);
    case 2: return ReadValue<2>(p);
    case 3: return ReadValue<3>(p);
    default: return ReadValue<4>(p);
  }
}

void WriteValue(uint8_t* p, uint32_t bytes, uint32_t value) {
  switch (bytes) {
    case 1: WriteValue<1>(p, value); break;
    case 2: WriteValue<2>(p, value); break;
    case 3: WriteValue<3>(p, value); break;
    default: WriteValue<4>(p, value); break;
  }
}

void CanonicalPalette(const Image& image, uint32_t out[256]) {
  for (int i = 0; i < 256; ++i) out[i] = Unpack(image.palette->format, image.palette->entries[i]);
}

namespace {

// The format is taken by value: byte stores may alias a referenced format,
// which would make the compiler reload its fields for every pixel.
template <int kBytes>
void UnpackRowT(const PixelFormat f, const uint8_t* row, uint32_t width, uint32_t* out) {
  for (uint32_t x = 0; x < width; ++x) out[x] = Unpack(f, ReadValue<kBytes>(row + x * kBytes));
}

template <int kBytes>
void PackRowT(const PixelFormat f, const uint32_t* argb, uint32_t width, uint8_t* row) {
  for (uint32_t x = 0; x < width; ++x) WriteValue<kBytes>(row + x * kBytes, Pack(f, argb[x]));
}

}  // namespace

void UnpackRow(const Image& image, uint32_t y, const uint32_t* palette_argb, uint32_t* out) {
  const uint8_t* row = image.Row(y);
  switch (image.format.bits) {
    case 8:
      for (uint32_t x = 0; x < image.width; ++x) out[x] = palette_argb[row[x]];
      break;
    case 16: UnpackRowT<2>(image.format, row, image.width, out); break;
    case 24: UnpackRowT<3>(image.format, row, image.width, out); break;
    default: UnpackRowT<4>(image.format, row, image.width, out); break;
  }
}

void PackRow(Image* image, uint32_t y, const uint32_t* argb) {
  uint8_t* row = image->Row(y);
  switch (image->format.bits) {
    case 16: PackRowT<2>(image->format, argb, image->width, row); break;
    case 24: PackRowT<3>(image->format, argb, image->width, row); break;
    case 32: PackRowT<4>(image->format, argb, image->width, row); break;
    default: break;
  }
}

}  // namespace detail

using detail::Usable;

// ---------------------------------------------------------------------------
// Image lifetime
// ---------------------------------------------------------------------------

ImageHeader MakeHeader(uint32_t width, uint32_t height, const PixelFormat& format) {
  ImageHeader header;
  header.width = width;
  header.height = height;
  header.pitch = static_cast<int32_t>(static_cast<uint64_t>(width) * (format.bits / 8));
  header.format = format;
  return header;
}

Image::~Image() { DestroyImage(this); }

Image::Image(Image&& other) noexcept { *this = std::move(other); }

Image& Image::operator=(Image&& other) noexcept {
  if (this == &other) return *this;
  DestroyImage(this);
  std::memcpy(name, other.name, sizeof name);
  width = other.width;
  height = other.height;
  pitch = other.pitch;
  format = other.format;
  owns_pixels = other.owns_pixels;
  owns_palette = other.owns_palette;
  valid = other.valid;
  pixels = other.pixels;
  palette = other.palette;
  // The other image keeps nothing it could free twice.
  other.owns_pixels = 0;
  other.owns_palette = 0;
  DestroyImage(&other);
  return *this;
}

void DestroyImage(Image* image) {
  if (!image) return;
  if (image->owns_pixels) delete[] image->pixels;
  if (image->owns_palette) delete image->palette;
  image->pixels = nullptr;
  image->palette = nullptr;
  image->owns_pixels = 0;
  image->owns_palette = 0;
  image->valid = 0;
  std::memset(image->name, 0, sizeof image->name);
  std::memcpy(image->name, "INVALID", 8);
}

int CreateImage(Image* image, const ImageHeader& header, void* pixels, Palette* palette) {
  if (!image) return -1;
  DestroyImage(image);
  uint32_t bits = header.format.bits;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return -1;
  if (header.width == 0 || header.height == 0) return -1;
  uint64_t row_bytes = static_cast<uint64_t>(header.width) * (bits / 8);
  if (row_bytes > 0x7FFFFFFF) return -1;

  uint8_t* data = static_cast<uint8_t*>(pixels);
  int32_t pitch = header.pitch;
  bool owns_pixels = false;
  if (!data) {
    uint64_t size = row_bytes * header.height;
    data = new (std::nothrow) uint8_t[static_cast<size_t>(size)];
    if (!data) return -1;
    pitch = static_cast<int32_t>(row_bytes);
    owns_pixels = true;
  }
  Palette* pal = nullptr;
  bool owns_palette = false;
  if (bits == 8) {
    pal = palette;
    if (!pal) {
      pal = new (std::nothrow) Palette{};
      if (!pal) {
        if (owns_pixels) delete[] data;
        return -1;
      }
      pal->format = PF_XRGB32;
      owns_palette = true;
    }
  }
  image->width = header.width;
  image->height = header.height;
  image->pitch = pitch;
  image->format = header.format;
  image->pixels = data;
  image->palette = pal;
  image->owns_pixels = owns_pixels;
  image->owns_palette = owns_palette;
  image->valid = 1;
  std::memset(image->name, 0, sizeof image->name);
  return 0;
}

// ---------------------------------------------------------------------------
// Conversion
// ---------------------------------------------------------------------------

namespace {

// X8R8G8B8 to R5G6B5 and X1R5G5B5, four pixels per step: the texture
// uploads of every image without alpha go through these.
inline uint64_t To565(uint32_t v) { return ((v >> 8) & 0xF800) | ((v >> 5) & 0x7E0) | ((v >> 3) & 0x1F); }
inline uint64_t To1555(uint32_t v) { return ((v >> 9) & 0x7C00) | ((v >> 6) & 0x3E0) | ((v >> 3) & 0x1F); }

template <uint64_t (*kPack)(uint32_t)>
void Convert32To16Row(const uint8_t* src, uint8_t* dst, uint32_t width) {
  uint32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    uint32_t p[4];
    std::memcpy(p, src + x * 4, sizeof p);
    uint64_t out = kPack(p[0]) | kPack(p[1]) << 16 | kPack(p[2]) << 32 | kPack(p[3]) << 48;
    std::memcpy(dst + x * 2, &out, sizeof out);
  }
  for (; x < width; ++x) {
    uint32_t v;
    std::memcpy(&v, src + x * 4, sizeof v);
    uint16_t out = static_cast<uint16_t>(kPack(v));
    std::memcpy(dst + x * 2, &out, sizeof out);
  }
}

// The red, green and blue bytes at the X8R8G8B8 places (alpha ignored).
bool IsXrgbLayout(const PixelFormat& f) {
  return f.bits == 32 && f.red_mask == 0xFF0000 && f.green_mask == 0xFF00 && f.blue_mask == 0xFF &&
         f.red_shift == 16 && f.green_shift == 8 && f.blue_shift == 0 && f.red_loss == 0 && f.green_loss == 0 &&
         f.blue_loss == 0;
}

void CopyRows(Image* destination, const Image& source) {
  size_t row_bytes = static_cast<size_t>(source.width) * source.bytes_per_pixel();
  for (uint32_t y = 0; y < source.height; ++y) std::memmove(destination->Row(y), source.Row(y), row_bytes);
}

// Native little-endian order lets the fast paths move whole words.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

}  // namespace

int ConvertImage(Image* destination, const Image& source) {
  if (!destination || !Usable(*destination) || !Usable(source)) return -1;
  if (destination->width != source.width || destination->height != source.height) return -1;
  const uint32_t width = source.width, height = source.height;

  if (destination->format.bits == 8) {
    if (source.format.bits != 8) return -1;
    Palette converted;
    converted.format = destination->palette->format;
    for (int i = 0; i < 256; ++i)
      converted.entries[i] = detail::Pack(converted.format, detail::Unpack(source.palette->format, source.palette->entries[i]));
    std::memcpy(destination->palette->entries, converted.entries, sizeof converted.entries);
    CopyRows(destination, source);
    return 0;
  }
  if (destination->format == source.format) {
    CopyRows(destination, source);
    return 0;
  }

  const uint32_t out_bytes = destination->bytes_per_pixel();
  if (source.format.bits == 8) {
    uint32_t table[256];
    for (int i = 0; i < 256; ++i)
      table[i] = detail::Pack(destination->format, detail::Unpack(source.palette->format, source.palette->entries[i]));
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* in = source.Row(y);
      uint8_t* out = destination->Row(y);
      for (uint32_t x = 0; x < width; ++x) detail::WriteValue(out + x * out_bytes, out_bytes, table[in[x]]);
    }
    return 0;
  }

  if (kLittleEndian && IsXrgbLayout(source.format)) {
    if (destination->format == PF_RGB565) {
      for (uint32_t y = 0; y < height; ++y) Convert32To16Row<To565>(source.Row(y), destination->Row(y), width);
      return 0;
    }
    if (destination->format == PF_XRGB1555) {
      for (uint32_t y = 0; y < height; ++y) Convert32To16Row<To1555>(source.Row(y), destination->Row(y), width);
      return 0;
    }
  }

  uint32_t* row = new (std::nothrow) uint32_t[width];
  if (!row) return -1;
  for (uint32_t y = 0; y < height; ++y) {
    detail::UnpackRow(source, y, nullptr, row);
    detail::PackRow(destination, y, row);
  }
  delete[] row;
  return 0;
}

int CopyImage(Image* destination, const Image& source) { return ConvertImage(destination, source); }

int BlitImage(Image* destination, const Image& source, int source_x, int source_y, int width, int height,
              int destination_x, int destination_y) {
  if (!destination || !Usable(*destination) || !Usable(source)) return -1;
  if (!(destination->format == source.format)) return -1;
  int64_t sx = source_x, sy = source_y, dx = destination_x, dy = destination_y, w = width, h = height;
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  w = std::min<int64_t>(w, std::min<int64_t>(int64_t{source.width} - sx, int64_t{destination->width} - dx));
  h = std::min<int64_t>(h, std::min<int64_t>(int64_t{source.height} - sy, int64_t{destination->height} - dy));
  if (w <= 0 || h <= 0) return 0;
  const size_t bytes = source.bytes_per_pixel();
  for (int64_t row = 0; row < h; ++row) {
    std::memmove(destination->PixelAt(static_cast<uint32_t>(dx), static_cast<uint32_t>(dy + row)),
                 source.PixelAt(static_cast<uint32_t>(sx), static_cast<uint32_t>(sy + row)),
                 static_cast<size_t>(w) * bytes);
  }
  return 0;
}

int MergeAlpha(Image* image, const Image& alpha) {
  if (!image || !Usable(*image) || !Usable(alpha)) return -1;
  if (!(image->format == PF_ARGB32) || !(alpha.format == PF_RGB24)) return -1;
  if (image->width != alpha.width || image->height != alpha.height) return -1;
  for (uint32_t y = 0; y < image->height; ++y) {
    uint8_t* out = image->Row(y);
    const uint8_t* in = alpha.Row(y);
    // The alpha byte is the top byte of the little-endian value.
    for (uint32_t x = 0; x < image->width; ++x) out[x * 4 + 3] = in[x * 3];
  }
  return 0;
}

}  // namespace media

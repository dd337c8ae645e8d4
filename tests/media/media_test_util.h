// Helpers for the media tests: hand-made image files and small checks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/media.h"

namespace media_test {

// A TGA file: 18-byte header, `id` field, then `data` as given.
std::string MakeTga(int type, int depth, int descriptor, int width, int height, const std::string& data,
                    const std::string& id = "", int colour_map_type = 0);

struct BmpSpec {
  int bits = 24;
  int32_t width = 1;
  int32_t height = 1;        // negative: top-down
  uint32_t info_size = 40;   // information header size
  uint32_t compression = 0;
  uint32_t colours_used = 0;
  std::vector<uint32_t> palette;  // written after the information header (B, G, R, 0 bytes)
  std::string rows;               // pixel data as stored (rows padded by the caller)
  int64_t data_offset = -1;       // -1: right after the palette
};
std::string MakeBmp(const BmpSpec& spec);

// Encodes `pixels` (width x height x components bytes) with libjpeg.
// `space`: a J_COLOR_SPACE value (JCS_RGB, JCS_GRAYSCALE, JCS_CMYK).
std::string EncodeJpeg(int width, int height, int components, int space, const std::vector<uint8_t>& pixels,
                       int quality = 95, bool progressive = false);

// Canonical A8R8G8B8 value of a pixel, independent of the library's own
// unpacking: computed from the format table by the test.
uint32_t ReferenceUnpack(const media::PixelFormat& f, uint32_t value);
uint32_t ReferencePack(const media::PixelFormat& f, uint32_t argb);
uint32_t ReadPixel(const media::Image& image, uint32_t x, uint32_t y);
void WritePixel(media::Image* image, uint32_t x, uint32_t y, uint32_t value);

// A small deterministic generator.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 6364136223846793005ULL + 1442695040888963407ULL) {}
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 32);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

// Every format the library knows, with a printable name.
struct NamedFormat {
  const char* name;
  media::PixelFormat format;
};
std::vector<NamedFormat> AllFormats();  // without PF_PAL8
std::string FormatName(const media::PixelFormat& f);

}  // namespace media_test

#include "tests/media/media_test_util.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace media_test {

namespace {

void Put16(std::string* s, uint32_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8 & 0xFF));
}
void Put32(std::string* s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

}  // namespace

std::string MakeTga(int type, int depth, int descriptor, int width, int height, const std::string& data,
                    const std::string& id, int colour_map_type) {
  std::string s;
  s.push_back(static_cast<char>(id.size()));
  s.push_back(static_cast<char>(colour_map_type));
  s.push_back(static_cast<char>(type));
  s.append(5, '\0');  // colour-map fields
  s.append(4, '\0');  // origin
  Put16(&s, static_cast<uint32_t>(width));
  Put16(&s, static_cast<uint32_t>(height));
  s.push_back(static_cast<char>(depth));
  s.push_back(static_cast<char>(descriptor));
  s += id;
  s += data;
  return s;
}

std::string MakeBmp(const BmpSpec& spec) {
  uint32_t palette_bytes = static_cast<uint32_t>(spec.palette.size() * 4);
  uint32_t offset = spec.data_offset >= 0 ? static_cast<uint32_t>(spec.data_offset)
                                          : 14 + spec.info_size + palette_bytes;
  std::string s = "BM";
  Put32(&s, static_cast<uint32_t>(offset + spec.rows.size()));
  Put32(&s, 0);
  Put32(&s, offset);
  std::string info;
  Put32(&info, spec.info_size);
  Put32(&info, static_cast<uint32_t>(spec.width));
  Put32(&info, static_cast<uint32_t>(spec.height));
  Put16(&info, 1);
  Put16(&info, static_cast<uint32_t>(spec.bits));
  Put32(&info, spec.compression);
  Put32(&info, static_cast<uint32_t>(spec.rows.size()));
  Put32(&info, 2835);
  Put32(&info, 2835);
  Put32(&info, spec.colours_used);
  Put32(&info, 0);
  if (spec.info_size > info.size()) info.append(spec.info_size - info.size(), '\0');
  s += info.substr(0, spec.info_size);
  for (uint32_t entry : spec.palette) Put32(&s, entry);
  // An offset far beyond the data stays a lie (for tests of bad offsets).
  if (s.size() < offset && offset - s.size() < 4096) s.append(offset - s.size(), '\0');
  s += spec.rows;
  return s;
}

std::string EncodeJpeg(int width, int height, int components, int space, const std::vector<uint8_t>& pixels,
                       int quality, bool progressive) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = static_cast<J_COLOR_SPACE>(space);
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[static_cast<size_t>(info.next_scanline) * width * components]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  free(buffer);
  return out;
}

uint32_t ReferenceUnpack(const media::PixelFormat& f, uint32_t v) {
  auto channel = [&](uint32_t mask, uint32_t shift, uint32_t loss) -> uint32_t {
    if (loss >= 8) return 0;
    return ((v & mask) >> shift) << loss;
  };
  uint32_t alpha = f.alpha_loss >= 8 ? 0xFF : channel(f.alpha_mask, f.alpha_shift, f.alpha_loss);
  return alpha << 24 | channel(f.red_mask, f.red_shift, f.red_loss) << 16 |
         channel(f.green_mask, f.green_shift, f.green_loss) << 8 | channel(f.blue_mask, f.blue_shift, f.blue_loss);
}

uint32_t ReferencePack(const media::PixelFormat& f, uint32_t argb) {
  auto channel = [&](uint32_t c, uint32_t mask, uint32_t shift, uint32_t loss) -> uint32_t {
    if (loss >= 8) return 0;
    return ((c >> loss) << shift) & mask;
  };
  return channel(argb >> 24, f.alpha_mask, f.alpha_shift, f.alpha_loss) |
         channel(argb >> 16 & 0xFF, f.red_mask, f.red_shift, f.red_loss) |
         channel(argb >> 8 & 0xFF, f.green_mask, f.green_shift, f.green_loss) |
         channel(argb & 0xFF, f.blue_mask, f.blue_shift, f.blue_loss);
}

uint32_t ReadPixel(const media::Image& image, uint32_t x, uint32_t y) {
  const uint8_t* p = image.PixelAt(x, y);
  switch (image.format.bits) {
    case 8: return p[0];
    case 16: return p[0] | p[1] << 8;
    case 24: return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    default: return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
}

void WritePixel(media::Image* image, uint32_t x, uint32_t y, uint32_t v) {
  uint8_t* p = image->PixelAt(x, y);
  switch (image->format.bits) {
    case 8: p[0] = static_cast<uint8_t>(v); break;
    case 16: p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); break;
    case 24:
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      break;
    default:
      for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
      break;
  }
}

std::vector<NamedFormat> AllFormats() {
  return {{"RGB24", media::PF_RGB24},         {"BGR24", media::PF_BGR24},     {"ARGB32", media::PF_ARGB32},
          {"XRGB32", media::PF_XRGB32},       {"XBGR32", media::PF_XBGR32},   {"RGB565", media::PF_RGB565},
          {"XRGB1555", media::PF_XRGB1555},   {"ARGB1555", media::PF_ARGB1555}, {"ARGB4444", media::PF_ARGB4444}};
}

std::string FormatName(const media::PixelFormat& f) {
  if (f == media::PF_PAL8) return "PAL8";
  for (const NamedFormat& n : AllFormats())
    if (n.format == f) return n.name;
  return "?";
}

}  // namespace media_test

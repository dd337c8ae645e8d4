// JPEG pictures in memory with libjpeg-turbo: the output's preview is
// encoded from the device's X8R8G8B8 words (BGRX bytes, read by libjpeg
// as they lie) and decoded by the Client into RGBA.
//
// libjpeg's fatal errors longjmp back here; the functions keep nothing
// but trivially destructible locals across the jump, and libjpeg's own
// memory is released by jpeg_destroy_*.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "app/core/core.h"
#include "media/encode.h"

namespace media {
namespace {

struct Errors {
  jpeg_error_mgr manager;  // first member: libjpeg hands back this pointer
  jmp_buf jump;
};

void ErrorExit(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  info->err->format_message(info, text);
  core::Trace("MEDIA: JPEG: %s\n", text);
  std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

}  // namespace

int EncodeJpegBgrx(const uint32_t* pixels, uint32_t width, uint32_t height, int quality, std::vector<uint8_t>* jpeg) {
  if (!pixels || !jpeg || width == 0 || height == 0 || width > 65500 || height > 65500) return -1;
  jpeg_compress_struct info;
  Errors errors;
  std::memset(&info, 0, sizeof info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = ErrorExit;
  errors.manager.output_message = Quiet;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return -1;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(pixels + size_t{info.next_scanline} * width));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg->assign(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return 0;
}

int DecodeJpegRgba(const uint8_t* data, size_t size, uint32_t max_width, uint32_t max_height, uint32_t* width,
                   uint32_t* height, std::vector<uint8_t>* rgba) {
  if (!data || size == 0 || !rgba) return -1;
  jpeg_decompress_struct info;
  Errors errors;
  std::memset(&info, 0, sizeof info);
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = ErrorExit;
  errors.manager.output_message = Quiet;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  if (info.image_width == 0 || info.image_height == 0 || info.image_width > max_width ||
      info.image_height > max_height) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  info.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  const uint32_t w = info.output_width, h = info.output_height;
  rgba->assign(size_t{w} * h * 4, 0);
  while (info.output_scanline < h) {
    JSAMPROW row = rgba->data() + size_t{info.output_scanline} * w * 4;
    if (jpeg_read_scanlines(&info, &row, 1) == 0) break;
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (width) *width = w;
  if (height) *height = h;
  return 0;
}

}  // namespace media

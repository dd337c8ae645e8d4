// PNG output of frame dumps (libpng, 8-bit RGB, not interlaced), written
// through the file layer.
#include <png.h>

#include <csetjmp>
#include <string>
#include <vector>

#include "app/core/core.h"

namespace render {
namespace {

void WriteData(png_structp png, png_bytep data, png_size_t length) {
  core::File* file = static_cast<core::File*>(png_get_io_ptr(png));
  if (file->Write(data, 1, length) != length) png_error(png, "write failed");
}

void FlushData(png_structp png) {
  core::File* file = static_cast<core::File*>(png_get_io_ptr(png));
  file->Flush();
}

// libpng reports errors by longjmp: this function holds no object with a
// destructor between setjmp and the calls that may jump.
bool EncodeRgb(core::File* file, uint32_t width, uint32_t height, const uint8_t* rgb) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, file, WriteData, FlushData);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 1);  // fast: a dump is written every frame
  png_write_info(png, info);
  for (uint32_t row = 0; row < height; ++row)
    png_write_row(png, const_cast<png_bytep>(rgb + static_cast<size_t>(row) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

int WritePngRgb(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
  if (width == 0 || height == 0 || rgb.size() < static_cast<size_t>(width) * height * 3) return -1;
  core::File* file = core::OpenDataFile(path.c_str(), "wb");
  if (!file) return -1;
  bool ok = EncodeRgb(file, width, height, rgb.data());
  if (file->Flush() != 0) ok = false;
  core::CloseFile(file);
  return ok ? 0 : -1;
}

}  // namespace render

// Image loading by name, and the TGA and BMP readers.
//
// The readers distrust every header field: sizes, offsets and run lengths
// are checked against the file's length before anything is allocated, and
// every read is bounded, so a damaged file fails with -1 instead of
// allocating absurd amounts or touching memory it should not.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/core.h"
#include "media/media.h"

namespace media {

namespace {

uint32_t U16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
int32_t I32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }

// The bytes of a file from the position it was handed over to its end.
class FileView {
 public:
  explicit FileView(core::File* file) : file_(file) {
    if (!file_) return;
    long start = file_->Tell();
    if (start < 0 || file_->Seek(0, SEEK_END) != 0) return;
    long end = file_->Tell();
    if (end < start || file_->Seek(start, SEEK_SET) != 0) return;
    start_ = static_cast<uint64_t>(start);
    position_ = start_;
    length_ = static_cast<uint64_t>(end - start);
    ok_ = true;
  }
  bool ok() const { return ok_; }
  uint64_t length() const { return length_; }
  const char* name() const { return file_ ? file_->DiskPath().c_str() : "?"; }

  // Reads exactly `size` bytes at `offset` (from the start of the view).
  bool ReadAt(uint64_t offset, void* out, size_t size) {
    if (!ok_ || offset > length_ || size > length_ - offset) return false;
    uint64_t at = start_ + offset;
    if (at != position_) {
      if (at > static_cast<uint64_t>(LONG_MAX) || file_->Seek(static_cast<long>(at), SEEK_SET) != 0) return false;
      position_ = at;
    }
    size_t got = file_->Read(out, 1, size);
    position_ += got;
    return got == size;
  }

 private:
  core::File* file_ = nullptr;
  uint64_t start_ = 0;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
  bool ok_ = false;
};

int Reject(Image* image, const char* kind, const FileView& view, const char* why) {
  core::Trace("media: %s %s rejected: %s\n", kind, view.name(), why);
  DestroyImage(image);
  return -1;
}

int RejectSize(Image* image, const char* kind, const FileView& view, int64_t width, int64_t height) {
  core::Trace("media: %s %s rejected: %lld x %lld is outside 1 x 1 .. %u x %u (%llu pixels at most)\n", kind,
              view.name(), static_cast<long long>(width), static_cast<long long>(height), kMaxImageSide,
              kMaxImageSide, static_cast<unsigned long long>(kMaxImagePixels));
  DestroyImage(image);
  return -1;
}

template <typename Loader>
int LoadPath(Image* image, const char* path, Loader&& load) {
  if (!image) return -1;
  DestroyImage(image);
  if (!path) return -1;
  core::FilePtr file(core::OpenDataFile(path, "rb"));
  if (!file) return -1;
  return load(file.get());
}

}  // namespace

// ---------------------------------------------------------------------------
// TGA
// ---------------------------------------------------------------------------

int LoadTga(Image* image, core::File* file, bool keep_alpha) {
  if (!image) return -1;
  DestroyImage(image);
  FileView view(file);
  if (!view.ok()) return -1;
  uint8_t header[18];
  if (!view.ReadAt(0, header, sizeof header)) return Reject(image, "TGA", view, "short header");
  const uint32_t id_length = header[0], colour_map_type = header[1], type = header[2];
  const uint32_t width = U16(header + 12), height = U16(header + 14), depth = header[16];
  const uint32_t descriptor = header[17];
  if (colour_map_type != 0) return Reject(image, "TGA", view, "colour-mapped");
  if (type != 2 && type != 10) return Reject(image, "TGA", view, "not true colour");
  if (depth != 24 && depth != 32) return Reject(image, "TGA", view, "pixel depth not 24 or 32");
  if (!ImageSizeAccepted(width, height)) return RejectSize(image, "TGA", view, width, height);

  const uint32_t bytes = depth / 8;
  const uint64_t pixel_count = static_cast<uint64_t>(width) * height;
  const uint64_t data_offset = 18 + id_length;
  if (data_offset > view.length()) return Reject(image, "TGA", view, "short file");
  const uint64_t available = view.length() - data_offset;
  if (type == 2 && available < pixel_count * bytes) return Reject(image, "TGA", view, "short file");
  // Each run-length packet holds at most 128 pixels in at least 1 + bytes.
  if (type == 10 && available < (pixel_count + 127) / 128 * (1 + bytes))
    return Reject(image, "TGA", view, "short file");

  const PixelFormat& format = depth == 24 ? PF_BGR24 : keep_alpha ? PF_ARGB32 : PF_XRGB32;
  if (CreateImage(image, MakeHeader(width, height, format)) != 0) return -1;
  const bool top_first = (descriptor & 0x20) != 0;
  auto image_row = [&](uint64_t file_row) {
    return image->Row(static_cast<uint32_t>(top_first ? file_row : height - 1 - file_row));
  };
  const size_t row_bytes = static_cast<size_t>(width) * bytes;

  if (type == 2) {
    for (uint32_t i = 0; i < height; ++i) {
      if (!view.ReadAt(data_offset + i * row_bytes, image_row(i), row_bytes))
        return Reject(image, "TGA", view, "short read");
    }
  } else {
    // The longest possible encoding is one raw packet per pixel.
    const uint64_t packed_size = std::min<uint64_t>(available, pixel_count * (1 + bytes));
    std::vector<uint8_t> packed;
    packed.resize(static_cast<size_t>(packed_size));
    if (!view.ReadAt(data_offset, packed.data(), packed.size())) return Reject(image, "TGA", view, "short read");
    size_t in = 0;
    uint64_t p = 0;
    auto put = [&](const uint8_t* pixel) {
      std::memcpy(image_row(p / width) + (p % width) * bytes, pixel, bytes);
      ++p;
    };
    while (p < pixel_count) {
      if (in >= packed.size()) return Reject(image, "TGA", view, "run-length data ends early");
      const uint32_t packet = packed[in++];
      const uint32_t count = (packet & 0x7F) + 1;
      if (p + count > pixel_count) return Reject(image, "TGA", view, "run-length packet overruns the image");
      if (packet & 0x80) {
        if (packed.size() - in < bytes) return Reject(image, "TGA", view, "run-length data ends early");
        for (uint32_t k = 0; k < count; ++k) put(&packed[in]);
        in += bytes;
      } else {
        if (packed.size() - in < static_cast<size_t>(count) * bytes)
          return Reject(image, "TGA", view, "run-length data ends early");
        for (uint32_t k = 0; k < count; ++k, in += bytes) put(&packed[in]);
      }
    }
  }

  if (depth == 32 && !keep_alpha) {
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* row = image->Row(y);
      for (uint32_t x = 0; x < width; ++x) row[x * 4 + 3] = 0xFF;
    }
  }
  return 0;
}

int LoadTga(Image* image, const char* path, bool keep_alpha) {
  return LoadPath(image, path, [&](core::File* file) { return LoadTga(image, file, keep_alpha); });
}

// ---------------------------------------------------------------------------
// BMP
// ---------------------------------------------------------------------------

int LoadBmp(Image* image, core::File* file) {
  if (!image) return -1;
  DestroyImage(image);
  FileView view(file);
  if (!view.ok()) return -1;
  uint8_t file_header[14], info[40];
  if (!view.ReadAt(0, file_header, sizeof file_header) || !view.ReadAt(14, info, sizeof info))
    return Reject(image, "BMP", view, "short header");
  if (file_header[0] != 'B' || file_header[1] != 'M') return Reject(image, "BMP", view, "not a BMP file");
  const uint64_t data_offset = U32(file_header + 10);
  const uint64_t info_size = U32(info + 0);
  const int64_t width = I32(info + 4), signed_height = I32(info + 8);
  const uint32_t bits = U16(info + 14), compression = U32(info + 16), colours_used = U32(info + 32);
  if (info_size < 40) return Reject(image, "BMP", view, "information header shorter than 40 bytes");
  if (14 + info_size > view.length()) return Reject(image, "BMP", view, "short header");
  if (bits != 8 && bits != 24) return Reject(image, "BMP", view, "bit count not 8 or 24");
  if (compression != 0) return Reject(image, "BMP", view, "compressed");
  // A negative height means the rows are stored top-down.
  const bool top_down = signed_height < 0;
  const int64_t height = top_down ? -signed_height : signed_height;
  if (width < 0 || height < 0 || !ImageSizeAccepted(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
    return RejectSize(image, "BMP", view, width, height);

  const uint64_t data_bytes = static_cast<uint64_t>(width) * (bits / 8);
  const uint64_t row_stride = (data_bytes + 3) & ~uint64_t{3};
  // The last row's padding may be missing; its pixels may not.
  if (data_offset < 14 + info_size || data_offset > view.length() ||
      view.length() - data_offset < row_stride * static_cast<uint64_t>(height - 1) + data_bytes)
    return Reject(image, "BMP", view, "pixel data outside the file");

  Palette palette{};
  palette.format = PF_XRGB32;
  if (bits == 8) {
    // The palette follows the information header, whatever its size.
    const uint64_t entries = colours_used == 0 ? 256 : colours_used;
    if (entries > 256) return Reject(image, "BMP", view, "more than 256 colours");
    uint8_t raw[1024];
    if (!view.ReadAt(14 + info_size, raw, static_cast<size_t>(entries * 4)))
      return Reject(image, "BMP", view, "short palette");
    for (uint64_t i = 0; i < entries; ++i) palette.entries[i] = U32(raw + i * 4);
  }

  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  if (CreateImage(image, MakeHeader(w, h, bits == 8 ? PF_PAL8 : PF_BGR24)) != 0) return -1;
  if (bits == 8) *image->palette = palette;
  for (uint32_t i = 0; i < h; ++i) {
    uint8_t* row = image->Row(top_down ? i : h - 1 - i);
    if (!view.ReadAt(data_offset + i * row_stride, row, static_cast<size_t>(data_bytes)))
      return Reject(image, "BMP", view, "short read");
  }
  return 0;
}

int LoadBmp(Image* image, const char* path) {
  return LoadPath(image, path, [&](core::File* file) { return LoadBmp(image, file); });
}

int LoadJpeg(Image* image, const char* path, JpegKind kind) {
  return LoadPath(image, path, [&](core::File* file) { return LoadJpeg(image, file, kind); });
}

// ---------------------------------------------------------------------------
// By name
// ---------------------------------------------------------------------------

int LoadImage(Image* image, const char* path, bool allow_pair) {
  if (!image) return -1;
  DestroyImage(image);
  if (!path) return -1;
  const std::string_view whole(path);
  // The extension never crosses a folder separator.
  const size_t separator = whole.find_last_of("/\\");
  const size_t dot = whole.find_last_of('.');
  const bool has_extension = dot != std::string_view::npos && (separator == std::string_view::npos || dot > separator);
  const std::string extension = has_extension ? core::AsciiToUpper(whole.substr(dot + 1)) : std::string();
  const std::string stem(has_extension ? whole.substr(0, dot) : whole);

  if (allow_pair) {
    Image colour, alpha;
    if (LoadImage(&colour, (stem + "@RGB.JPG").c_str(), false) == 0 &&
        LoadJpeg(&alpha, (stem + "@ALPHA.JPG").c_str(), JpegKind::kColourOrGrey) == 0 &&
        colour.width == alpha.width &&
        colour.height == alpha.height && alpha.format == PF_RGB24) {
      if (CreateImage(image, MakeHeader(colour.width, colour.height, PF_ARGB32)) == 0 &&
          ConvertImage(image, colour) == 0 && MergeAlpha(image, alpha) == 0)
        return 0;
      DestroyImage(image);
    }
  }

  if (extension == "TGA") return LoadTga(image, path, true);
  if (extension == "BMP") return LoadBmp(image, path);
  if (extension == "JPG") return LoadJpeg(image, path);
  const std::string base(whole);
  if (LoadTga(image, (base + ".TGA").c_str(), true) == 0) return 0;
  if (LoadBmp(image, (base + ".BMP").c_str()) == 0) return 0;
  if (LoadJpeg(image, (base + ".JPG").c_str()) == 0) return 0;
  return -1;
}

}  // namespace media

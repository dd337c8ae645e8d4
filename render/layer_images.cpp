// Textures made from images: plain textures with their mip chains, normal
// maps and cube textures.
//
// Each level of the new texture is locked and wrapped as an image of the
// matching pixel format, so the image library converts, resamples and
// averages straight into the texture's memory in one BuildMipLevels call;
// the unlocks then upload every level.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "media/media.h"
#include "render/device.h"
#include "render/layer.h"
#include "render/layer_internal.h"
#include "render/values.h"

namespace render {
namespace {

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// How a locked level of `format` reads as an image. false for formats the
// image library has no layout for.
bool PixelFormatFor(Format format, media::PixelFormat* pixel_format) {
  switch (format) {
    // 24-bit texels lie in memory as bytes B, G, R.
    case FMT_R8G8B8: *pixel_format = media::PF_BGR24; return true;
    case FMT_A8R8G8B8: *pixel_format = media::PF_ARGB32; return true;
    case FMT_X8R8G8B8: *pixel_format = media::PF_XRGB32; return true;
    case FMT_R5G6B5: *pixel_format = media::PF_RGB565; return true;
    case FMT_X1R5G5B5: *pixel_format = media::PF_XRGB1555; return true;
    case FMT_A1R5G5B5: *pixel_format = media::PF_ARGB1555; return true;
    case FMT_A4R4G4B4: *pixel_format = media::PF_ARGB4444; return true;
    default: return false;
  }
}

// Locks every level through `lock(level, &locked)`, wraps the levels as
// images and fills them from `source`; every locked level is unlocked
// (and so uploaded) again whatever happens. 0 or -1.
template <typename Describe, typename Lock, typename Unlock>
int FillLevels(const media::Image& source, Format format, uint32_t levels, bool normalize, Describe describe,
               Lock lock, Unlock unlock) {
  media::PixelFormat pixel_format;
  if (!PixelFormatFor(format, &pixel_format) || levels == 0) return -1;
  std::vector<media::Image> images(levels);
  uint32_t locked_levels = 0;
  int result = 0;
  for (uint32_t level = 0; level < levels; ++level) {
    SurfaceDesc desc;
    LockedRect locked;
    if (describe(level, &desc) != kOk || lock(level, &locked) != kOk) {
      result = -1;
      break;
    }
    ++locked_levels;
    media::ImageHeader header{desc.width, desc.height, locked.pitch, pixel_format};
    if (media::CreateImage(&images[level], header, locked.bits) != 0) {
      result = -1;
      break;
    }
  }
  if (result == 0) result = media::BuildMipLevels(source, images.data(), static_cast<int>(levels), normalize);
  images.clear();  // wrapped memory: nothing to free, but no image may outlive its lock
  for (uint32_t level = 0; level < locked_levels; ++level) unlock(level);
  return result;
}

uint32_t ReadArgb(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void WriteArgb(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

Format ChooseImageTextureFormat(const media::Image& image) {
  bool alpha = image.format.bits == 8 ? image.palette && media::HasAlpha(image.palette->format)
                                      : media::HasAlpha(image.format);
  if (alpha) return FormatIsTextureFormat(FMT_A8R8G8B8) ? FMT_A8R8G8B8 : FMT_A4R4G4B4;
  return FMT_R5G6B5;
}

TextureId CreateTextureFromImage(const media::Image& image, Format format, bool normalize_mips) {
  Device* device = LayerDevice();
  if (!device || !image.valid || image.width == 0 || image.height == 0) return kNoId;
  const media::Image* source = &image;
  media::Image reduced;
  uint32_t max_width = layer::MaxTextureWidth(), max_height = layer::MaxTextureHeight();
  if (image.width > max_width || image.height > max_height) {
    // Palette images resample through a true-colour copy.
    const media::PixelFormat& pixel_format = image.format.bits == 8 ? media::PF_ARGB32 : image.format;
    media::ImageHeader header =
        media::MakeHeader(std::min(image.width, max_width), std::min(image.height, max_height), pixel_format);
    if (media::CreateImage(&reduced, header) != 0 || media::ResampleImage(&reduced, image) != 0) {
      core::Trace("Failed to create texture\n");
      return kNoId;
    }
    source = &reduced;
  }
  if (!IsPowerOfTwo(source->width) || !IsPowerOfTwo(source->height)) {
    core::ShowError("Texturas potencia de 2 por favor!");
    return kNoId;
  }
  std::shared_ptr<Texture> texture = device->CreateTexture(source->width, source->height, 0, 0, format, POOL_MANAGED);
  if (!texture ||
      FillLevels(
          *source, format, texture->LevelCount(), normalize_mips,
          [&](uint32_t level, SurfaceDesc* desc) { return texture->GetLevelDesc(level, desc); },
          [&](uint32_t level, LockedRect* locked) { return texture->LockRect(level, locked, nullptr, 0); },
          [&](uint32_t level) { return texture->UnlockRect(level); }) != 0) {
    core::Trace("Failed to create texture\n");
    return kNoId;
  }
  TextureId id = layer::AddTextureEntry(std::move(texture), nullptr, nullptr);
  if (id >= 0) core::Trace("Created texture with id %i\n", id);
  return id;
}

TextureId CreateNormalMapFromImage(const media::Image& image, Format format) {
  if (!LayerDevice() || !image.valid || image.width == 0 || image.height == 0) return kNoId;
  const uint32_t width = image.width, height = image.height;
  media::Image heights, normals;
  if (media::CreateImage(&heights, media::MakeHeader(width, height, media::PF_ARGB32)) != 0 ||
      media::ConvertImage(&heights, image) != 0 ||
      media::CreateImage(&normals, media::MakeHeader(width, height, media::PF_ARGB32)) != 0)
    return kNoId;
  // The height is the lowest byte (blue) of each A8R8G8B8 pixel.
  auto height_at = [&](uint32_t x, uint32_t y) { return static_cast<int>(ReadArgb(heights.PixelAt(x, y)) & 0xff); };
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      int h = height_at(x, y);
      float dx = static_cast<float>(height_at((x + 1) % width, y) - h);
      float dy = static_cast<float>(height_at(x, (y + 1) % height) - h);
      float length = std::sqrt(dx * dx + dy * dy + 16.0f * 16.0f);
      uint32_t red = static_cast<uint32_t>(128 + static_cast<int>(127.0f * dx / length));
      uint32_t green = static_cast<uint32_t>(128 + static_cast<int>(127.0f * dy / length));
      uint32_t blue = static_cast<uint32_t>(128 + static_cast<int>(127.0f * 16.0f / length));
      WriteArgb(normals.PixelAt(x, y), ColorArgb(255, red, green, blue));
    }
  }
  return CreateTextureFromImage(normals, format, true);
}

TextureId CreateCubeTextureFromImages(const media::Image* const images[6], Format format) {
  Device* device = LayerDevice();
  if (!device || !images || !images[0]) return kNoId;
  const uint32_t edge = images[0]->width;
  for (int face = 0; face < 6; ++face) {
    const media::Image* image = images[face];
    if (!image || !image->valid || image->width != edge || image->height != edge || edge == 0) {
      core::Trace("Failed to create cube texture: the six images must be square and of one size\n");
      return kNoId;
    }
  }
  std::shared_ptr<CubeTexture> cube = device->CreateCubeTexture(edge, 0, 0, format, POOL_MANAGED);
  if (!cube) {
    core::Trace("Failed to create cube texture\n");
    return kNoId;
  }
  for (uint32_t face = 0; face < 6; ++face) {
    CubeFace f = static_cast<CubeFace>(face);
    if (FillLevels(
            *images[face], format, cube->LevelCount(), false,
            [&](uint32_t level, SurfaceDesc* desc) { return cube->GetLevelDesc(level, desc); },
            [&](uint32_t level, LockedRect* locked) { return cube->LockRect(f, level, locked, nullptr, 0); },
            [&](uint32_t level) { return cube->UnlockRect(f, level); }) != 0) {
      core::Trace("Failed to create cube texture\n");
      return kNoId;
    }
  }
  TextureId id = layer::AddTextureEntry(nullptr, std::move(cube), nullptr);
  if (id >= 0) core::Trace("Created cube texture with id %i\n", id);
  return id;
}

}  // namespace render

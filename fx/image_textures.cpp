// Image textures: pictures cut into 256 x 256 tiles, shared by file, drawn
// as one screen-space quad per tile.
//
// Design: a pool of records (core::ObjectPool ids) with a reference count
// each. The key of a record is the picture's file identity -- the folder
// resolved on disk plus the upper-cased file name as the loader looks it
// up -- so identical files share one record while two effects' same-named
// pictures never do. The whole picture is converted once into the tile
// format; each tile is then a rectangle copy into the locked level of a
// one-level texture, with its last column and row repeated into the unused
// part so linear filtering at a partial edge never reads the empty texels.
// The pool outlives shutdowns and starts, so the ids of released pictures
// -- also those released all at once by a shutdown -- stay dead and can
// never reach a picture loaded later.
//
// While a picture loader is set (effects loading beside the show), a new
// record does not upload at once: it waits for its picture from the loader
// (or holds one decoded here when the loader was not asked), then
// UploadImageSlices converts and uploads it one strip of tiles at a time,
// so no frame spends long on it. A record draws only once it is complete.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "app/core/core.h"
#include "fx/image_effect.h"
#include "fx/loading.h"
#include "media/media.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace fx {
namespace {

enum class RecordState { kAwaitingPicture, kUploading, kReady, kFailed };

struct Record {
  RecordState state = RecordState::kReady;
  std::string path;  // as the instance named it, for the failure message
  std::unique_ptr<media::Image> source;  // while uploading
  uint32_t strips_done = 0;
  int references = 0;
  std::string key;
  uint32_t width = 0, height = 0;
  uint32_t columns = 0, rows = 0;
  bool alpha = false;
  render::Format format = render::FMT_UNKNOWN;
  std::vector<render::TextureId> tiles;  // row by row
};

struct Manager {
  bool running = false;
  core::ObjectPool<Record> records;
  uint64_t upload_failures = 0;
} g_images;

constexpr uint32_t kTile = static_cast<uint32_t>(kImageTileSize);

Record* Find(int id) { return g_images.records.Get(id); }

// Gives the record's tiles back and frees its id.
void ReleaseRecord(int id) {
  Record* record = Find(id);
  if (!record) return;
  // After the render layer went its ids may already name other textures.
  if (render::RenderLayerReady())
    for (render::TextureId tile : record->tiles) render::ReleaseTexture(tile);
  g_images.records.Release(id);
}

bool TilePixelFormat(render::Format format, media::PixelFormat* pixel_format) {
  switch (format) {
    case render::FMT_A8R8G8B8: *pixel_format = media::PF_ARGB32; return true;
    case render::FMT_A4R4G4B4: *pixel_format = media::PF_ARGB4444; return true;
    case render::FMT_R5G6B5: *pixel_format = media::PF_RGB565; return true;
    case render::FMT_X8R8G8B8: *pixel_format = media::PF_XRGB32; return true;
    default: return false;
  }
}

bool IsImageExtension(const std::string& upper) { return upper == "TGA" || upper == "BMP" || upper == "JPG"; }

// The file identity of `path`: the absolute folder as the file layer
// resolves it, '/', the upper-cased name (with its extension only when
// the loader would honour it). Empty when the folder does not exist.
std::string FileKey(const char* path) {
  std::string normalized = core::NormalizeSeparators(path);
  size_t slash = normalized.find_last_of('/');
  // "name" lies in the base folder, "/name" in the root.
  std::string folder = slash == std::string::npos ? std::string(".") : normalized.substr(0, slash == 0 ? 1 : slash);
  std::string name = slash == std::string::npos ? normalized : normalized.substr(slash + 1);
  std::string disk_folder;
  if (!core::ResolvePath(folder, &disk_folder)) return std::string();
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(disk_folder, error);
  if (error) return std::string();
  std::string extension = core::AsciiToUpper(core::Extension(name));
  std::string stem = IsImageExtension(extension) ? core::StripExtension(name) : name;
  std::string key = absolute.lexically_normal().generic_string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  key += '/';
  key += core::AsciiToUpper(stem);
  if (IsImageExtension(extension)) key += "." + extension;
  return key;
}

// Copies tile (column, row) of `picture` (already in the tile format) into
// level 0 of `texture`. 0 or -1.
int FillTile(render::Texture* texture, const media::Image& picture, const media::PixelFormat& pixel_format,
             uint32_t column, uint32_t row) {
  render::LockedRect locked;
  if (texture->LockRect(0, &locked, nullptr, 0) != render::kOk) return -1;
  int result = -1;
  {
    media::Image tile;
    if (media::CreateImage(&tile, media::ImageHeader{kTile, kTile, locked.pitch, pixel_format}, locked.bits) == 0) {
      for (uint32_t y = 0; y < kTile; ++y) std::memset(tile.Row(y), 0, static_cast<size_t>(kTile) * tile.bytes_per_pixel());
      const int x0 = static_cast<int>(column * kTile), y0 = static_cast<int>(row * kTile);
      const int w = static_cast<int>(std::min(kTile, picture.width - column * kTile));
      const int h = static_cast<int>(std::min(kTile, picture.height - row * kTile));
      result = media::BlitImage(&tile, picture, x0, y0, w, h, 0, 0);
      // Repeat the last column and row once, for the filter at a partial edge.
      if (result == 0 && w < static_cast<int>(kTile)) result = media::BlitImage(&tile, picture, x0 + w - 1, y0, 1, h, w, 0);
      if (result == 0 && h < static_cast<int>(kTile)) result = media::BlitImage(&tile, picture, x0, y0 + h - 1, w, 1, 0, h);
      if (result == 0 && w < static_cast<int>(kTile) && h < static_cast<int>(kTile))
        result = media::BlitImage(&tile, picture, x0 + w - 1, y0 + h - 1, 1, 1, w, h);
    }
  }
  texture->UnlockRect(0);
  return result;
}

// JPEG and 24-bit TGA/BMP pictures into R5G6B5 -- the common case, worth a
// direct loop (each channel keeps its top bits, as ConvertImage does).
bool ConvertTo565(media::Image* destination, const media::Image& source) {
  const bool rgb = source.format == media::PF_RGB24, bgr = source.format == media::PF_BGR24;
  if ((!rgb && !bgr) || destination->format != media::PF_RGB565) return false;
  const int r = rgb ? 0 : 2, b = rgb ? 2 : 0;
  for (uint32_t y = 0; y < source.height; ++y) {
    const uint8_t* in = source.Row(y);
    uint8_t* out = destination->Row(y);
    for (uint32_t x = 0; x < source.width; ++x, in += 3, out += 2) {
      const uint32_t value = (in[r] >> 3) << 11 | (in[1] >> 2) << 5 | in[b] >> 3;
      out[0] = static_cast<uint8_t>(value);
      out[1] = static_cast<uint8_t>(value >> 8);
    }
  }
  return true;
}

// Takes the picture's size and tile format into the record, before the
// first strip. 0 or -1.
int BeginTiles(const media::Image& image, Record* record) {
  const render::Format format = render::ChooseImageTextureFormat(image);
  media::PixelFormat pixel_format;
  if (!TilePixelFormat(format, &pixel_format)) return -1;
  record->alpha = image.format.bits == 8 ? image.palette && media::HasAlpha(image.palette->format)
                                         : media::HasAlpha(image.format);
  record->width = image.width;
  record->height = image.height;
  record->columns = (image.width + kTile - 1) / kTile;
  record->rows = (image.height + kTile - 1) / kTile;
  record->format = format;
  record->tiles.reserve(static_cast<size_t>(record->columns) * record->rows);
  record->strips_done = 0;
  return 0;
}

// Converts one row of tiles of `image` (rows strip * kTile onwards) and
// uploads its tiles. 0 or -1 (tiles made stay in the record, which
// releases them).
int MakeTileStrip(const media::Image& image, Record* record, uint32_t strip) {
  media::PixelFormat pixel_format;
  if (!TilePixelFormat(record->format, &pixel_format)) return -1;
  const uint32_t y0 = strip * kTile;
  const uint32_t height = std::min(kTile, image.height - y0);
  // The source rows of the strip, wrapped (palette included).
  media::Image rows;
  if (media::CreateImage(&rows, media::ImageHeader{image.width, height, image.pitch, image.format}, image.Row(y0),
                         image.palette) != 0)
    return -1;
  media::Image converted;
  if (media::CreateImage(&converted, media::MakeHeader(image.width, height, pixel_format)) != 0) return -1;
  if (!ConvertTo565(&converted, rows) && media::ConvertImage(&converted, rows) != 0) return -1;
  for (uint32_t column = 0; column < record->columns; ++column) {
    render::TextureId id = render::CreateTexture(kTile, kTile, record->format, 1);
    if (id < 0) return -1;
    record->tiles.push_back(id);
    std::shared_ptr<render::Texture> texture = render::GetTextureById(id);
    if (!texture || FillTile(texture.get(), converted, pixel_format, column, 0) != 0) return -1;
  }
  return 0;
}

// Cuts `image` into tiles at once. 0 or -1.
int MakeTiles(const media::Image& image, Record* record) {
  if (BeginTiles(image, record) != 0) return -1;
  for (uint32_t strip = 0; strip < record->rows; ++strip)
    if (MakeTileStrip(image, record, strip) != 0) return -1;
  record->strips_done = record->rows;
  return 0;
}

// A record that cannot be completed: its tiles go, it draws nothing, and
// the performer hears which picture it was.
void FailRecord(Record* record, const char* why) {
  core::Trace("IMAGES: %s: %s\n", record->path.c_str(), why);
  core::ShowError("Error loading %s", record->path.c_str());
  if (render::RenderLayerReady())
    for (render::TextureId tile : record->tiles) render::ReleaseTexture(tile);
  record->tiles.clear();
  record->source.reset();
  record->state = RecordState::kFailed;
  ++g_images.upload_failures;
}

}  // namespace

int StartImageManager() {
  if (g_images.running) ShutdownImageManager();
  if (!render::RenderLayerReady()) {
    core::Trace("IMAGES: no render layer, the image manager cannot start\n");
    return -1;
  }
  g_images.running = true;
  return 0;
}

void ShutdownImageManager() {
  // One by one rather than Clear(), which would hand the same ids out again.
  for (auto it = g_images.records.begin(); it != g_images.records.end(); ++it) ReleaseRecord(it.id());
  g_images.running = false;
}

bool ImageManagerRunning() { return g_images.running; }

int PrepareImageTexture(Loader* loader, int job, const char* path) {
  if (!loader || !path) return -1;
  std::string key = FileKey(path);
  if (key.empty()) return -1;
  for (const Record& record : g_images.records)
    if (record.key == key) return 0;  // shared with a picture loaded before
  // The loader decodes by absolute disk path: the folder resolved here, on
  // the frame thread, and the name as given (the image loader finds its
  // spelling and extension inside that folder).
  const size_t slash = key.find_last_of('/');
  std::string normalized = core::NormalizeSeparators(path);
  const size_t name_at = normalized.find_last_of('/');
  std::string name = name_at == std::string::npos ? normalized : normalized.substr(name_at + 1);
  loader->QueuePicture(job, key, key.substr(0, slash + 1) + name);
  return 0;
}

int LoadImageTexture(const char* path) {
  if (!g_images.running || !path) return -1;
  std::string key = FileKey(path);
  if (key.empty()) {
    core::Trace("IMAGES: no folder for %s\n", path);
    return -1;
  }
  for (auto it = g_images.records.begin(); it != g_images.records.end(); ++it) {
    Record& record = *it;
    if (record.key == key && record.state != RecordState::kFailed) {
      ++record.references;
      return it.id();
    }
  }
  Loader* loader = PictureLoader();
  const bool prepared = loader && loader->Query(key) != Loader::State::kUnknown;
  std::unique_ptr<media::Image> image;
  if (!prepared) {
    image.reset(new (std::nothrow) media::Image);
    if (!image || media::LoadImage(image.get(), path, true) != 0) {
      core::Trace("IMAGES: cannot load %s\n", path);
      return -1;
    }
  }
  const int id = g_images.records.Add(Record{});
  if (id < 0) return -1;
  Record& record = *Find(id);  // valid until the next Add
  record.key = key;
  record.path = path;
  record.references = 1;
  if (loader) {
    // Sliced: UploadImageSlices completes it.
    record.state = prepared ? RecordState::kAwaitingPicture : RecordState::kUploading;
    if (!prepared && BeginTiles(*image, &record) != 0) {
      core::Trace("IMAGES: cannot make textures for %s\n", path);
      ReleaseRecord(id);
      return -1;
    }
    record.source = std::move(image);
    return id;
  }
  if (MakeTiles(*image, &record) != 0) {
    core::Trace("IMAGES: cannot make textures for %s\n", path);
    ReleaseRecord(id);
    return -1;
  }
  core::Trace("IMAGES: %s is %ux%u in %u tiles, id %d\n", key.c_str(), record.width, record.height,
              record.columns * record.rows, id);
  return id;
}

int UploadImageSlices(const std::function<bool()>& keep_going, bool wait) {
  Loader* loader = PictureLoader();
  for (auto it = g_images.records.begin(); it != g_images.records.end(); ++it) {
    Record& record = *it;
    while (record.state == RecordState::kAwaitingPicture || record.state == RecordState::kUploading) {
      if (keep_going && !keep_going()) return PendingImageUploads();
      if (record.state == RecordState::kAwaitingPicture) {
        Loader::State state = !loader ? Loader::State::kUnknown
                              : wait  ? loader->Wait(record.key)
                                      : loader->Query(record.key);
        if (state == Loader::State::kPending) break;  // not decoded yet: try the next record
        record.source = state == Loader::State::kReady ? loader->TakePicture(record.key) : nullptr;
        if (loader && state != Loader::State::kReady) loader->Forget(record.key);
        if (!record.source) {
          FailRecord(&record, "the picture could not be read");
          break;
        }
        if (BeginTiles(*record.source, &record) != 0) {
          FailRecord(&record, "no tile format for the picture");
          break;
        }
        record.state = RecordState::kUploading;
        continue;
      }
      if (MakeTileStrip(*record.source, &record, record.strips_done) != 0) {
        FailRecord(&record, "cannot make textures");
        break;
      }
      if (++record.strips_done >= record.rows) {
        record.source.reset();
        record.state = RecordState::kReady;
        core::Trace("IMAGES: %s is %ux%u in %u tiles, id %d\n", record.key.c_str(), record.width, record.height,
                    record.columns * record.rows, it.id());
      }
    }
  }
  return PendingImageUploads();
}

int PendingImageUploads() {
  int pending = 0;
  for (const Record& record : g_images.records)
    pending += record.state == RecordState::kAwaitingPicture || record.state == RecordState::kUploading;
  return pending;
}

uint64_t ImageUploadFailures() { return g_images.upload_failures; }

void ReleaseImageTexture(int id) {
  Record* record = Find(id);
  if (!record) return;
  if (--record->references <= 0) ReleaseRecord(id);
}

int ImageTextureCount() { return g_images.records.Count(); }

bool GetImageTextureInfo(int id, ImageTextureInfo* info) {
  const Record* record = Find(id);
  if (!record || !info) return false;
  info->width = record->width;
  info->height = record->height;
  info->columns = record->columns;
  info->rows = record->rows;
  info->alpha = record->alpha;
  info->format = record->format;
  info->references = record->references;
  info->key = record->key;
  info->tiles.assign(record->tiles.begin(), record->tiles.end());
  return true;
}

namespace {

void SetBlending(int32_t blend, bool translucent) {
  using namespace render;
  uint32_t source = BLEND_ONE, destination = BLEND_ZERO;
  bool enable = true;
  switch (blend) {
    case kImageBlendAdditive:
      source = translucent ? BLEND_SRCALPHA : BLEND_ONE;
      destination = BLEND_ONE;
      break;
    case kImageBlendSubtractive:
      source = BLEND_ZERO;
      destination = BLEND_INVSRCCOLOR;
      break;
    case kImageBlendMultiply:
      source = BLEND_ZERO;
      destination = BLEND_SRCCOLOR;
      break;
    case kImageBlendInvert:
      source = BLEND_INVDESTCOLOR;
      destination = translucent ? BLEND_INVSRCCOLOR : BLEND_ZERO;
      break;
    default:
      enable = translucent;
      source = BLEND_SRCALPHA;
      destination = BLEND_INVSRCALPHA;
      break;
  }
  SetRenderStateCached(RS_ALPHABLENDENABLE, enable ? 1 : 0);
  if (enable) {
    SetRenderStateCached(RS_BLENDOP, BLENDOP_ADD);
    SetRenderStateCached(RS_SRCBLEND, source);
    SetRenderStateCached(RS_DESTBLEND, destination);
  }
}

}  // namespace

void DrawImageTexture(int id, float x, float y, int32_t blend, uint32_t colour, float zoom) {
  using namespace render;
  const Record* record = Find(id);
  Device* device = LayerDevice();
  if (!g_images.running || !record || record->state != RecordState::kReady || !device || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(zoom))
    return;
  const bool tinted = blend == kImageBlendSubtractive || blend == kImageBlendInvert;
  SetRenderStateCached(RS_TEXTUREFACTOR, colour);
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  SetStageStateCached(0, TSS_COLOROP, TOP_MODULATE);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_COLORARG2, tinted ? TA_TFACTOR : TA_DIFFUSE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_MODULATE);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_ALPHAARG2, TA_TFACTOR);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
  SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_MAGFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MINFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MIPFILTER, TEXF_NONE);
  SetRenderStateCached(RS_ZWRITEENABLE, 0);
  SetBlending(blend, record->alpha || (colour >> 24) < 255);
  device->SetFVF(kFvfScreenVertex);

  const float tile = static_cast<float>(kTile) * zoom;
  const float width = static_cast<float>(record->width), height = static_cast<float>(record->height);
  // Zoom scales about the picture's centre.
  const float left = x + (1.0f - zoom) * width * 0.5f;
  const float top = y + (1.0f - zoom) * height * 0.5f;
  static const uint16_t kIndices[6] = {0, 1, 2, 1, 2, 3};
  for (uint32_t row = 0; row < record->rows; ++row) {
    const uint32_t texels_high = std::min(kTile, record->height - row * kTile);
    const float v1 = static_cast<float>(texels_high) / static_cast<float>(kTile);
    const float y0 = ScaleY(top + static_cast<float>(row) * tile) - 0.5f;
    const float y1 = ScaleY(top + static_cast<float>(row) * tile + static_cast<float>(texels_high) * zoom) - 0.5f;
    for (uint32_t column = 0; column < record->columns; ++column) {
      const uint32_t texels_wide = std::min(kTile, record->width - column * kTile);
      const float u1 = static_cast<float>(texels_wide) / static_cast<float>(kTile);
      const float x0 = ScaleX(left + static_cast<float>(column) * tile) - 0.5f;
      const float x1 = ScaleX(left + static_cast<float>(column) * tile + static_cast<float>(texels_wide) * zoom) - 0.5f;
      const render::ScreenVertex vertices[4] = {
          {x0, y0, 0.0f, 1.0f, 0xFFFFFFFFu, 0.0f, 0.0f},
          {x1, y0, 0.0f, 1.0f, 0xFFFFFFFFu, u1, 0.0f},
          {x0, y1, 0.0f, 1.0f, 0xFFFFFFFFu, 0.0f, v1},
          {x1, y1, 0.0f, 1.0f, 0xFFFFFFFFu, u1, v1},
      };
      device->SetTexture(0, GetBaseTextureById(record->tiles[static_cast<size_t>(row) * record->columns + column]));
      device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kIndices, FMT_INDEX16, vertices, sizeof(render::ScreenVertex));
    }
  }
  device->SetTexture(0, nullptr);
  SetRenderStateCached(RS_ZENABLE, ZB_TRUE);
}

}  // namespace fx

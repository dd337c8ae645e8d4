// Media: pictures in memory and the files they come from.
//
//   pixel formats  a 13-field description (bits, masks, shifts, losses) and
//                  the ten formats the program uses
//   images         an image over owned or wrapped pixels, with a palette for
//                  8-bit images
//   loading        TGA, BMP and JPEG readers through the file layer, and the
//                  colour/alpha JPEG pairing
//   processing     format conversion, area-averaging resampling, rectangle
//                  copies, alpha merging and mip-level building
//   video          frames of a video file by number (FFmpeg), and a player
//                  that decodes them on a worker thread
//
// Pixel values: 16- and 32-bit pixels are little-endian values, 24-bit pixels
// big-endian values (first byte most significant), 8-bit pixels palette
// indices. Masks and shifts apply to these values. All functions return 0 on
// success and -1 on failure; none throws.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace core {
class File;
}

namespace media {

// ---------------------------------------------------------------------------
// Pixel formats
// ---------------------------------------------------------------------------

// Losses count the low bits of an 8-bit channel a format drops; a loss of 8
// means the channel is absent.
struct PixelFormat {
  uint32_t bits;
  uint32_t red_mask, green_mask, blue_mask, alpha_mask;
  uint32_t red_shift, green_shift, blue_shift, alpha_shift;
  uint32_t red_loss, green_loss, blue_loss, alpha_loss;

  friend constexpr bool operator==(const PixelFormat&, const PixelFormat&) = default;
};
static_assert(sizeof(PixelFormat) == 52);

// 8-bit palette indices.
inline constexpr PixelFormat PF_PAL8{8, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8};
// Bytes R, G, B (JPEG output).
inline constexpr PixelFormat PF_RGB24{24, 0xFF0000, 0xFF00, 0xFF, 0, 16, 8, 0, 0, 0, 0, 0, 8};
// Bytes B, G, R (24-bit TGA and BMP).
inline constexpr PixelFormat PF_BGR24{24, 0xFF, 0xFF00, 0xFF0000, 0, 0, 8, 16, 0, 0, 0, 0, 8};
// A8R8G8B8.
inline constexpr PixelFormat PF_ARGB32{32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 16, 8, 0, 24, 0, 0, 0, 0};
// X8R8G8B8; also the format of palette entries.
inline constexpr PixelFormat PF_XRGB32{32, 0xFF0000, 0xFF00, 0xFF, 0, 16, 8, 0, 0, 0, 0, 0, 8};
// X8B8G8R8.
inline constexpr PixelFormat PF_XBGR32{32, 0xFF, 0xFF00, 0xFF0000, 0, 0, 8, 16, 0, 0, 0, 0, 8};
// R5G6B5.
inline constexpr PixelFormat PF_RGB565{16, 0xF800, 0x7E0, 0x1F, 0, 11, 5, 0, 0, 3, 2, 3, 8};
// X1R5G5B5.
inline constexpr PixelFormat PF_XRGB1555{16, 0x7C00, 0x3E0, 0x1F, 0, 10, 5, 0, 0, 3, 3, 3, 8};
// A1R5G5B5: the alpha bit is bit 15 of the 16-bit value.
inline constexpr PixelFormat PF_ARGB1555{16, 0x7C00, 0x3E0, 0x1F, 0x8000, 10, 5, 0, 15, 3, 3, 3, 7};
// A4R4G4B4.
inline constexpr PixelFormat PF_ARGB4444{16, 0xF00, 0xF0, 0xF, 0xF000, 8, 4, 0, 12, 4, 4, 4, 4};

inline constexpr bool HasAlpha(const PixelFormat& format) { return format.alpha_loss < 8; }
inline constexpr uint32_t BytesPerPixel(const PixelFormat& format) { return format.bits / 8; }

// The largest picture a loader accepts: at most kMaxImageSide wide and
// high and kMaxImagePixels in all. Larger ones are refused from their
// header, before anything is allocated or decoded (the trace gives the
// size).
inline constexpr uint32_t kMaxImageSide = 8192;
inline constexpr uint64_t kMaxImagePixels = uint64_t{64} << 20;
// Whether a loader accepts a picture of this size (at least 1 x 1).
inline constexpr bool ImageSizeAccepted(uint64_t width, uint64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

// ---------------------------------------------------------------------------
// Images
// ---------------------------------------------------------------------------

// The palette of an 8-bit image: 256 entries in `format` (PF_XRGB32 unless a
// caller wraps a palette of another format).
struct Palette {
  uint32_t entries[256];
  PixelFormat format;
};

// What an image is created from.
struct ImageHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t pitch = 0;  // bytes from one row to the next
  PixelFormat format{};
};
static_assert(sizeof(ImageHeader) == 64);

// A header with pitch = width * bytes per pixel.
ImageHeader MakeHeader(uint32_t width, uint32_t height, const PixelFormat& format);

// An image owns what it allocated and frees it when destroyed; wrapped pixels
// and palettes stay the caller's. Images move but do not copy.
struct Image {
  char name[32] = "INVALID";  // "INVALID" unless valid, empty while valid
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t pitch = 0;
  PixelFormat format{};
  uint8_t owns_pixels = 0;
  uint8_t owns_palette = 0;
  uint8_t valid = 0;
  uint8_t* pixels = nullptr;
  Palette* palette = nullptr;  // 8-bit images only

  Image() = default;
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;

  ImageHeader header() const { return ImageHeader{width, height, pitch, format}; }
  uint32_t bytes_per_pixel() const { return format.bits / 8; }
  uint8_t* Row(uint32_t y) const { return pixels + static_cast<ptrdiff_t>(y) * pitch; }
  uint8_t* PixelAt(uint32_t x, uint32_t y) const { return Row(y) + static_cast<size_t>(x) * bytes_per_pixel(); }
};

// Destroys what `image` held, then takes the header. With `pixels` the image
// wraps them (pitch as given); without, it allocates width * height pixels
// (pitch = width * bytes). 8-bit images wrap `palette` or get an owned one in
// PF_XRGB32, all entries 0. Fails on zero sizes, bit counts other than 8, 16,
// 24, 32, and allocation failure.
int CreateImage(Image* image, const ImageHeader& header, void* pixels = nullptr, Palette* palette = nullptr);
// Frees what the image owns and marks it "INVALID". Safe on invalid images.
void DestroyImage(Image* image);

// ---------------------------------------------------------------------------
// Loading. Every loader destroys the image's old content first and leaves
// the image invalid on failure. Files open through the file layer.
// ---------------------------------------------------------------------------

// By name. With `allow_pair`, stem + "@RGB.JPG" and stem + "@ALPHA.JPG" of
// one size make an A8R8G8B8 image whose alpha is the alpha file's red (or
// grey: the alpha file may be a one-channel JPEG).
// Otherwise by extension ("TGA", "BMP", "JPG"); any other or none tries
// path + ".TGA", ".BMP", ".JPG" in that order.
int LoadImage(Image* image, const char* path, bool allow_pair);

// Uncompressed (type 2) and run-length (type 10) true-colour TGA at 24 or
// 32 bits. 32-bit files give PF_ARGB32 with `keep_alpha`, else PF_XRGB32
// with the top byte set to 0xFF. The File variants read from the current
// position to the end of the file.
int LoadTga(Image* image, core::File* file, bool keep_alpha);
int LoadTga(Image* image, const char* path, bool keep_alpha);
// Uncompressed 8-bit (PF_PAL8) and 24-bit (PF_BGR24) BMP, bottom-up or
// top-down.
int LoadBmp(Image* image, core::File* file);
int LoadBmp(Image* image, const char* path);
// Which JPEGs LoadJpeg takes: colour ones only, or grey ones too, decoded
// as R = G = B (the alpha member of a pair, which is usually saved grey).
enum class JpegKind { kColour, kColourOrGrey };
// Three-component colour JPEG into PF_RGB24. Grey (unless allowed) and CMYK
// files, damaged files libjpeg gives up on, files that end before their
// first scan's data, and files declaring far more pixels than their length
// can encode (kJpegPixelsPerByte) fail. A file cut inside its picture data
// loads, its missing part grey. The File variant reads from the current
// position to the end of the file.
int LoadJpeg(Image* image, core::File* file, JpegKind kind = JpegKind::kColour);
int LoadJpeg(Image* image, const char* path, JpegKind kind = JpegKind::kColour);
// The most pixels a JPEG may declare per byte of its file (a loose bound:
// real encoders need a bit or more per 8 x 8 block, at most 64 pixels a
// bit), and the pixels any file may declare whatever its length.
inline constexpr uint64_t kJpegPixelsPerByte = 2048;
inline constexpr uint64_t kJpegPixelsAlways = uint64_t{1} << 20;

// ---------------------------------------------------------------------------
// Processing. `source` and `destination` must be distinct images.
// ---------------------------------------------------------------------------

// Equal sizes required. Pixels pass through A8R8G8B8 (a channel c becomes
// ((v & mask) >> shift) << loss; a format without alpha reads as 0xFF) and
// keep each channel's top bits. 8-bit sources go through their palette;
// an 8-bit destination needs an 8-bit source (palette converted, indices
// copied).
int ConvertImage(Image* destination, const Image& source);
// A row copy when the formats are equal, else ConvertImage.
int CopyImage(Image* destination, const Image& source);
// Fills the destination (its own size and format, not 8-bit) with the area
// average of the source.
int ResampleImage(Image* destination, const Image& source);
// Copies a width x height rectangle from (source_x, source_y) to
// (destination_x, destination_y), clipped to both images. Formats must match.
int BlitImage(Image* destination, const Image& source, int source_x, int source_y, int width, int height,
              int destination_x, int destination_y);
// Every pixel's alpha becomes the first byte of the matching pixel of
// `alpha` (PF_RGB24, same size). `image` must be PF_ARGB32.
int MergeAlpha(Image* image, const Image& alpha);
// Fills `count` level images (one shared format, not 8-bit) from `source`:
// level 0 copied, converted or resampled; each further level that is exactly
// half the previous one is its 2x2 box average, any other is resampled from
// the previous level. With `normalize` (normal maps) each averaged pixel's
// colour, read as a vector around 128, is rescaled to unit length.
int BuildMipLevels(const Image& source, Image* levels, int count, bool normalize);

// ---------------------------------------------------------------------------
// Video. A video is a grid of frames 0 .. count - 1 at a fixed rate; frame n
// is the last picture due at or before n / rate. Pictures come out as
// PF_XRGB32 (bytes B, G, R, X) at the source's output size.
// ---------------------------------------------------------------------------

// Frames by number, decoded forward from a keyframe. One thread at a time.
class VideoFrameSource {
 public:
  virtual ~VideoFrameSource() = default;
  // The size of the pictures DecodeNext writes.
  virtual uint32_t Width() const = 0;
  virtual uint32_t Height() const = 0;
  virtual int64_t FrameCount() const = 0;
  virtual double FrameRate() const = 0;
  // The frame the next DecodeNext gives.
  virtual int64_t NextFrame() const = 0;
  // The keyframe a decode of frame n must start from (0 when unknown).
  virtual int64_t KeyframeBefore(int64_t n) = 0;
  // Moves back to the keyframe before frame n: afterwards NextFrame() <= n.
  // 0 or -1.
  virtual int SeekBefore(int64_t n) = 0;
  // Decodes frame NextFrame() and moves on by one. With `picture` (PF_XRGB32,
  // Width() x Height(), any pitch) the frame is converted into it; without,
  // it is only decoded. 0, or -1 when the frame could not be decoded.
  virtual int DecodeNext(Image* picture) = 0;
  // What went wrong since the last call, for the performer (each kind of
  // fault once per source); empty when nothing did.
  virtual std::string TakeNotice() { return {}; }
};

// Frame n into `picture` from any source: decodes forward while the keyframe
// of n is not after the decoder's position, else seeks back first; frames
// on the way are decoded but not converted. 0 or -1.
int DecodeFrameAt(VideoFrameSource* source, int64_t n, Image* picture);

// The frame shown `elapsed` seconds into a looping video of `count` frames
// at `rate`: the time wrapped into [0, count / rate), n = floor(t * rate +
// 0.001), clamped to 0 .. count - 1. 0 for a non-finite time or an empty
// video.
int64_t VideoFrameAt(double elapsed, double rate, int64_t count);

// A video file read through FFmpeg (libavformat, libavcodec, libswscale):
// its first video stream that is not an attached picture. Only plain files
// are read: no other protocols, no playlists, no image sequences.
class AviVideo final : public VideoFrameSource {
 public:
  AviVideo();
  ~AviVideo() override;
  AviVideo(const AviVideo&) = delete;
  AviVideo& operator=(const AviVideo&) = delete;

  // Through the file layer (frame thread): resolves `path`, opens it and
  // shows what failed ("AVIStreamOpenFromFile failed for %s: pcFile",
  // "AVIStreamGetFrameOpen failed in 24 and 8 bits for %s: pcFile",
  // "Codec is returning %i bpp bitmap. Can't handle that", "AVIStreamLength
  // failed for %s: pcFile"). 0 or -1; nothing stays open on failure.
  int Open(const char* path);
  // The same on a disk path, from any thread: the message goes to *error
  // (`shown` names the file in it).
  int OpenDisk(const std::string& disk_path, const char* shown, std::string* error);
  void Close();
  bool IsOpen() const;
  // Pictures larger than max_width x max_height are scaled down to fit,
  // proportions kept. Call after Open.
  void LimitSize(uint32_t max_width, uint32_t max_height);
  // count / rate.
  double Duration() const;
  // VideoFrameAt(seconds, rate, count).
  int64_t TimeToFrame(double seconds) const;
  int DecodeFrame(int64_t n, Image* picture) { return DecodeFrameAt(this, n, picture); }
  // The size the file's pictures have.
  uint32_t SourceWidth() const;
  uint32_t SourceHeight() const;

  uint32_t Width() const override;
  uint32_t Height() const override;
  int64_t FrameCount() const override;
  double FrameRate() const override;
  int64_t NextFrame() const override;
  int64_t KeyframeBefore(int64_t n) override;
  int SeekBefore(int64_t n) override;
  int DecodeNext(Image* picture) override;
  std::string TakeNotice() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// FFmpeg's own messages (warnings and worse) go to the trace from here on;
// they come from decoder threads too. Remove puts FFmpeg's default back.
void InstallVideoLog();
void RemoveVideoLog();

// Plays a video source on a worker thread, so the frame thread never
// decodes: it posts the frame it wants and takes a finished one without
// waiting. The worker keeps a ring of kRingSize converted frames (made at
// Start, nothing allocated per frame) and serves only the newest request:
// going forward it decodes two frames ahead; going back it decodes from the
// keyframe before the frame to the frame, keeping the last ones; a run that
// no longer leads to the newest request is dropped after every frame.
class VideoPlayer {
 public:
  static constexpr int kRingSize = 3;

  VideoPlayer() = default;
  ~VideoPlayer() { Stop(); }
  VideoPlayer(const VideoPlayer&) = delete;
  VideoPlayer& operator=(const VideoPlayer&) = delete;

  // Takes the source, makes the ring and starts the worker. 0 or -1.
  int Start(std::unique_ptr<VideoFrameSource> source);
  // Waits for the frame being decoded, then ends the worker; the source goes.
  void Stop();
  bool Running() const { return worker_.joinable(); }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

  // The frame wanted now (replaces any earlier request).
  void Post(int64_t frame);
  enum class Take { kNotReady, kReady, kFailed };
  // When frame `frame` is finished, calls `copy` with its picture (the ring
  // slot is kept from the worker meanwhile) and returns kReady; kFailed when
  // it could not be decoded; kNotReady at once otherwise. With a positive
  // `wait_seconds` waits at most that long for it.
  template <class Copy>
  Take TakeFrame(int64_t frame, Copy&& copy, double wait_seconds = 0.0) {
    int slot = -1;
    Take result = Acquire(frame, wait_seconds, &slot);
    if (result == Take::kReady) {
      copy(ring_[static_cast<size_t>(slot)].picture);
      Release(slot);
    }
    return result;
  }
  // Messages the source raised since the last call (the worker never
  // raises messages itself).
  std::string TakeNotice();

  // Counters for tests and benchmarks.
  int64_t Decoded() const;    // frames decoded, converted or not
  int64_t Converted() const;  // frames converted into the ring
  int64_t Seeks() const;

  // Stops every running player (Server shutdown, before the render layer
  // goes).
  static void StopAll();

 private:
  struct Slot {
    Image picture;
    int64_t frame = -1;
    bool failed = false;
    int readers = 0;
  };
  Take Acquire(int64_t frame, double wait_seconds, int* slot);
  void Release(int slot);
  void Run();
  // With mutex_ held: the slot holding `frame`, or -1.
  int FindLocked(int64_t frame) const;
  // Decodes (and converts when `keep`) the source's next frame into a ring
  // slot. Returns the frame number decoded.
  int64_t DecodeOne(bool keep, int64_t target);

  std::unique_ptr<VideoFrameSource> source_;
  Slot ring_[kRingSize];
  uint32_t width_ = 0, height_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable wake_;   // a request or stop for the worker
  std::condition_variable ready_;  // a frame finished
  int64_t request_ = -1;
  int64_t last_request_ = -1;  // the worker's previous target
  bool going_forward_ = true;  // the requests' direction
  bool stopping_ = false;
  std::string notice_;
  int64_t decoded_ = 0, converted_ = 0, seeks_ = 0;
  std::thread worker_;
};

}  // namespace media

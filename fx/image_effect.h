// The IMAGE effect and the image textures it draws: pictures of any size
// cut into square tiles, shared by file and reference-counted, drawn in the
// virtual 640 x 480 screen.
//
// Typical use (Server start-up and shutdown):
//   fx::StartImageManager(); ... fx::ShutdownImageManager();
//
// Not here: the effect model the IMAGE class plugs into (effect.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fx/effect.h"
#include "fx/loading.h"

namespace fx {

// ===========================================================================
// Image effect
// ===========================================================================

// Image textures: pictures of any size cut into kImageTileSize square tiles
// (one texture each, without mip levels), drawn in the virtual 640 x 480
// screen. A picture is identified by its file: the resolved folder and the
// file name as the image loader finds it, so effects whose folders both
// hold data/images/01.jpg get two textures, and instances naming the same
// file share one. Each load takes a reference; the tiles are released with
// the last reference, and all at once by ShutdownImageManager.
inline constexpr int kImageTileSize = 256;

enum ImageBlend : int32_t {
  kImageBlendNormal = 0,
  kImageBlendAdditive = 1,
  kImageBlendSubtractive = 2,
  kImageBlendMultiply = 3,
  kImageBlendInvert = 4,
};

// Server start-up step, after the render layer ("Error initializing image
// manager" when it fails: -1 without a render layer). Starting again first
// shuts down what was running.
int StartImageManager();
// Server shutdown step, before the render layer goes: releases every tile
// whatever its references. References still held afterwards are ignored
// when given back: their ids never name a picture loaded later.
void ShutdownImageManager();
bool ImageManagerRunning();

// Loads the picture at `path` (through the file layer, relative to the
// current base folder; without a TGA/BMP/JPG extension the loader tries
// each, and a @RGB.JPG/@ALPHA.JPG pair gives alpha) or takes another
// reference to the one already loaded from that file. The id, or -1 when
// the manager is not running or the picture cannot be loaded or made into
// textures (nothing is shown; the caller reports).
int LoadImageTexture(const char* path);
// While a picture loader is set (fx/loading.h), a new picture is not made
// into textures at once: LoadImageTexture returns its id at once and the
// picture -- decoded by the loader when PrepareImageTexture asked for it,
// else here -- is uploaded a strip of tiles at a time by UploadImageSlices.
// It draws nothing until complete. A picture that fails then shows "Error
// loading %s", draws nothing, and counts in ImageUploadFailures.
//
// Asks `loader` to decode the picture LoadImageTexture(path) would load,
// unless that file is loaded already. Resolves the path on this thread.
// 0, or -1 when the path's folder does not exist.
int PrepareImageTexture(Loader* loader, int job, const char* path);
// Uploads strips while `keep_going` (empty: always) says so; with `wait`
// a picture still decoding is waited for instead of skipped. Returns the
// number of pictures still incomplete.
int UploadImageSlices(const std::function<bool()>& keep_going, bool wait);
int PendingImageUploads();
uint64_t ImageUploadFailures();

// Gives one reference back; the last one releases the tiles. -1 and ids
// not in use are ignored.
void ReleaseImageTexture(int id);
int ImageTextureCount();  // pictures held

struct ImageTextureInfo {
  uint32_t width = 0, height = 0;   // picture pixels
  uint32_t columns = 0, rows = 0;   // tiles
  bool alpha = false;               // the picture has an alpha channel
  uint32_t format = 0;              // render::Format of the tiles
  int references = 0;
  std::string key;                  // the file identity
  std::vector<int> tiles;           // render texture ids, row by row
};
// false for ids not in use.
bool GetImageTextureInfo(int id, ImageTextureInfo* info);

// Draws picture `id` with its top-left corner at virtual (x, y) scaled by
// `zoom` about its centre (a picture's pixel is a virtual pixel at zoom 1),
// into the current render target. `colour` (A8R8G8B8) is the texture
// factor: its alpha always scales the picture's alpha; its colour tints
// only the subtractive and invert modes. Blending per ImageBlend; unknown
// modes draw as normal. States go through the display's state caches, so
// the render layer must run on the display's device (as in the Server).
// Leaves depth testing on.
void DrawImageTexture(int id, float x, float y, int32_t blend, uint32_t colour, float zoom);

// What the IMAGE effect draws at one moment.
struct ImageFrame {
  bool draw = false;     // false: nothing at all this frame
  int32_t image = 0;     // the slot shown, 0 .. count - 1
  int texture = -1;      // its picture (-1: a blank slot, nothing drawn)
  float x = 0.0f, y = 0.0f;
  float zoom = 1.0f;
  float fade = 1.0f;     // 0 .. 1
  uint32_t colour = 0xFFFFFFFFu;
};

// The IMAGE class: a slide show of the pictures in the effect's
// data/images/, a fixed time per slot, with per-slot positions, a common
// velocity, zoom about the centre, blend modes, timed fades and fades
// driven by the sound-syncer (beat or spectrum level).
//
// Load arguments: "count framelength name1 .. namecount"; "_" is a blank
// slot. Commands: POSITION i x y, POSITIONALL x y, VELOCITY vx vy, BLEND
// mode, FADEIN d, FADEOUT d, FADESOUNDSYNC BEAT d | RAW a0 a1 f0 f1 | OFF,
// ALPHAINVERT ON|OFF, ZOOM start speed; LOAD is accepted and ignored.
class ImageEffect final : public FxInstance {
 public:
  // The class's preparation hook: the pictures the load arguments name.
  static void Prepare(const char* arguments, Preparation* preparation);

  ImageEffect() = default;
  ~ImageEffect() override;

  int Load(const char* name, const char* arguments) override;
  int Unload() override;
  int Start(float time) override;
  // Back to the just-loaded look: no fades of any kind, normal blending,
  // no velocity, zoom 1 standing still, every slot at (0, 0). The time of
  // the last sound-syncer beat is kept (a beat fade spans frames).
  int Reset() override;
  int Render(float time) override;
  int Command(float time, const char* command) override;
  const char* GetName() const override;
  const char* GetDescription() const override;
  int GetLoadTemplates(const FxTemplate** rows) const override;
  int GetCommandTemplates(const FxTemplate** rows) const override;

  // What Render draws at `time`, with the same side effect (a sound-syncer
  // beat at `time` restarts the beat fade).
  ImageFrame Compose(float time);

  bool loaded() const { return loaded_; }
  int32_t image_count() const { return static_cast<int32_t>(textures_.size()); }
  float frame_length() const { return frame_length_; }
  int32_t blend_mode() const { return blend_; }
  int texture(int32_t slot) const;  // -1 for blanks and slots out of range
  float position_x(int32_t slot) const;
  float position_y(int32_t slot) const;
  float velocity_x() const { return velocity_x_; }
  float velocity_y() const { return velocity_y_; }
  float raw_start_frequency() const { return raw_start_frequency_; }
  float raw_end_frequency() const { return raw_end_frequency_; }

 private:
  struct Position {
    float x = 0.0f, y = 0.0f;
  };
  void ReleaseTextures();
  void ReportOutOfRange(const char* command);
  float FadeValue(float time, bool* faded);

  bool loaded_ = false;
  int32_t blend_ = kImageBlendNormal;
  std::vector<int> textures_;  // picture ids, -1 = blank
  std::vector<Position> positions_;
  float frame_length_ = 1.0f;
  float start_time_ = 0.0f;
  float velocity_x_ = 0.0f, velocity_y_ = 0.0f;
  float zoom_start_ = 1.0f, zoom_speed_ = 0.0f, zoom_time_base_ = 0.0f;
  float position_time_base_ = 0.0f;
  bool fading_out_ = false, fading_in_ = false;
  float fade_start_ = 0.0f, fade_duration_ = 0.0f;
  float raw_start_amplitude_ = 0.0f, raw_end_amplitude_ = 0.0f;
  float raw_start_frequency_ = 0.0f, raw_end_frequency_ = 0.0f;
  bool raw_sound_fade_ = false, beat_sound_fade_ = false;
  bool alpha_invert_ = false;
  // Commands replay every frame: each bad one is reported once.
  std::vector<std::string> reported_;
};

}  // namespace fx

// The VIDEOSTREAM effect.
//
// Design. Load opens the file for deck 0 (so a bad file fails the load);
// every other deck opens its own copy on its first Render, because one
// decoder shared by two decks at different times would seek on every
// frame. Each deck's player decodes on its own thread; Render posts the
// frame the deck's time asks for and, once the player has it, copies it
// into the deck's texture (one discarding lock, one upload). Until then the
// texture keeps the previous picture, so a slow seek never holds up the
// show -- except with exact frames (fixed-rate renders), where Render waits
// for its frame. Commands are replayed every frame and allocate nothing.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/effects_internal.h"
#include "fx/loading.h"
#include "fx/video_effect.h"
#include "media/media.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace fx {
namespace {

bool g_exact_frames = false;
VideoSourceOpener g_opener;

constexpr const char* kVideoFolder = "data/videos/";
constexpr int kDecks = 6;

const FxTemplate kLoadTemplates[] = {
    {"video.avi", "loads selected video"},
};

const FxTemplate kCommandTemplates[] = {
    {"MODULATE r g b", "Modulates video with selected color"},
    {"BLEND ADDITIVE", "sets image blend to additive"},
    {"BLEND SUBSTRACTIVE", "sets image blend to substractive"},
    {"BLEND MULTIPLY", "sets image blend to multiply"},
    {"BLEND NORMAL", "sets image blend to normal"},
    {"BLEND INVERT", "sets image blend to invert"},
};

enum VideoBlend : int32_t { kNormal = 0, kAdditive = 1, kSubtractive = 2, kMultiply = 3, kInvert = 4 };

std::unique_ptr<media::VideoFrameSource> OpenFile(const std::string& disk_path, const char* shown, uint32_t max_width,
                                                  uint32_t max_height, std::string* error) {
  std::unique_ptr<media::AviVideo> video(new (std::nothrow) media::AviVideo);
  if (!video) return nullptr;
  if (video->OpenDisk(disk_path, shown, error) != 0) return nullptr;
  video->LimitSize(max_width, max_height);
  return video;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The file an argument text names: "data/videos/" + the text without
// surrounding blanks.
std::string VideoPath(const char* arguments, bool* empty) {
  std::string_view text = arguments ? arguments : "";
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  *empty = text.empty();
  return std::string(kVideoFolder) + std::string(text);
}

// Two instances may name one file: each gets its own prepared copy.
constexpr int kMaxPreparedCopies = 16;
std::string PreparedKey(const std::string& disk_path, int copy) {
  return core::FormatString("video %d %s", copy, disk_path.c_str());
}

// Channel value 0..255 of a colour component (clamped to 0..1).
uint32_t Channel(float value) {
  if (!(value > 0.0f)) return 0;  // NaN too
  if (value >= 1.0f) return 255;
  return static_cast<uint32_t>(value * 255.0f);
}

class VideoEffect final : public FxInstance {
 public:
  ~VideoEffect() override { Unload(); }

  int Load(const char* name, const char* arguments) override;
  int Unload() override;
  int Start(float time) override {
    start_time_ = time;
    colour_ = 0xFFFFFFFFu;
    blend_ = kNormal;
    return 0;
  }
  int Command(float time, const char* command) override;
  int Render(float time) override;
  const char* GetName() const override { return kVideoStreamClass; }
  const char* GetDescription() const override { return "Reproduces a video stream"; }
  int GetLoadTemplates(const FxTemplate** rows) const override {
    if (rows) *rows = kLoadTemplates;
    return static_cast<int>(std::size(kLoadTemplates));
  }
  int GetCommandTemplates(const FxTemplate** rows) const override {
    if (rows) *rows = kCommandTemplates;
    return static_cast<int>(std::size(kCommandTemplates));
  }

 private:
  struct DeckVideo {
    media::VideoPlayer player;
    render::TextureId texture = render::kNoId;
    bool dynamic = false;
    bool unusable = false;  // could not be opened: draws nothing
    int64_t posted = -1;
    int64_t shown = -1;  // the frame in the texture
    bool blank = false;  // the shown frame failed to decode
    bool reported_wait = false;
  };

  // Opens the file for `deck`; the message goes to *error.
  int OpenDeck(int deck, std::string* error);
  // The copy of the file the loader opened for this instance, if any;
  // nullptr with *error set when opening it failed there.
  std::unique_ptr<media::AviVideo> TakePrepared(std::string* error);
  DeckVideo* ForDeck(int deck);
  int Upload(DeckVideo* video, const media::Image& picture);
  void Draw(const DeckVideo& video) const;
  void PassNotices(DeckVideo* video);

  std::unique_ptr<DeckVideo> decks_[kDecks];
  std::string shown_;      // the path as messages name it
  std::string disk_path_;  // resolved at Load
  double rate_ = 25.0;
  int64_t count_ = 0;
  bool loaded_ = false;
  float start_time_ = 0.0f;
  uint32_t colour_ = 0xFFFFFFFFu;
  int32_t blend_ = kNormal;
};

int VideoEffect::Load(const char* name, const char* arguments) {
  SetInstanceName(name);
  Unload();
  bool empty = true;
  shown_ = VideoPath(arguments, &empty);
  if (empty || !core::FileExists(shown_) || !core::ResolvePath(shown_, &disk_path_)) {
    core::Trace("VIDEO: %s not found\n", shown_.c_str());
    core::ShowError("AVIStreamOpenFromFile failed for %s: pcFile", shown_.c_str());
    return -1;
  }
  std::string error;
  if (OpenDeck(0, &error) != 0) {
    core::ShowError("%s", error.c_str());
    Unload();
    return -1;
  }
  loaded_ = true;
  return 0;
}

int VideoEffect::OpenDeck(int deck, std::string* error) {
  std::unique_ptr<DeckVideo> video(new (std::nothrow) DeckVideo);
  render::Device* device = render::LayerDevice();
  if (!video || !device) {
    *error = core::FormatString("AVIStreamOpenFromFile failed for %s: pcFile", shown_.c_str());
    return -1;
  }
  const render::Caps& caps = device->GetDeviceCaps();
  std::unique_ptr<media::VideoFrameSource> source;
  if (g_opener) {
    source = g_opener(disk_path_, shown_.c_str(), caps.max_texture_width, caps.max_texture_height, error);
  } else if (std::unique_ptr<media::AviVideo> prepared = TakePrepared(error)) {
    prepared->LimitSize(caps.max_texture_width, caps.max_texture_height);
    source = std::move(prepared);
  } else if (error->empty()) {
    source = OpenFile(disk_path_, shown_.c_str(), caps.max_texture_width, caps.max_texture_height, error);
  }
  if (!source) return -1;
  const double rate = source->FrameRate();
  const int64_t count = source->FrameCount();
  if (count <= 0 || !(rate > 0.0) || !std::isfinite(rate)) {
    *error = core::FormatString("AVIStreamLength failed for %s: pcFile", shown_.c_str());
    return -1;
  }
  const uint32_t width = source->Width(), height = source->Height();
  video->texture = render::CreateDynamicTexture(width, height, render::FMT_X8R8G8B8, 1);
  video->dynamic = video->texture != render::kNoId;
  if (!video->dynamic) {
    core::Trace("Device failed to create render texture\n");
    video->texture = render::CreateTexture(width, height, render::FMT_X8R8G8B8, 1);
  }
  if (video->texture == render::kNoId) {
    *error = core::FormatString("Device failed to create standard video texture of size (%i,%i)\n",
                                static_cast<int>(width), static_cast<int>(height));
    return -1;
  }
  if (video->player.Start(std::move(source)) != 0) {
    render::ReleaseTexture(video->texture);
    *error = core::FormatString("Cannot start a thread to play %s", shown_.c_str());
    return -1;
  }
  if (deck == 0) {
    rate_ = rate;
    count_ = count;
  }
  decks_[deck] = std::move(video);
  return 0;
}

std::unique_ptr<media::AviVideo> VideoEffect::TakePrepared(std::string* error) {
  Loader* loader = PictureLoader();
  std::error_code failed;
  const std::string absolute = std::filesystem::absolute(disk_path_, failed).string();
  if (!loader || failed) return nullptr;
  for (int copy = 0; copy < kMaxPreparedCopies; ++copy) {
    const std::string key = PreparedKey(absolute, copy);
    const Loader::State state = loader->Query(key);
    if (state == Loader::State::kUnknown) continue;
    if (state == Loader::State::kPending) loader->Wait(key);
    std::unique_ptr<media::AviVideo> video = loader->TakeVideo(key, error);
    if (video) core::Trace("VIDEO: %s %s takes the copy opened beside the show\n", InstanceName(), shown_.c_str());
    return video;
  }
  return nullptr;
}

VideoEffect::DeckVideo* VideoEffect::ForDeck(int deck) {
  if (deck < 0 || deck >= kDecks) deck = 0;
  if (!decks_[deck]) {
    std::string error;
    if (OpenDeck(deck, &error) != 0) {
      core::RaiseRuntimeMessage("%s", error.c_str());
      decks_[deck].reset(new (std::nothrow) DeckVideo);
      if (!decks_[deck]) return nullptr;
      decks_[deck]->unusable = true;
    }
  }
  return decks_[deck]->unusable ? nullptr : decks_[deck].get();
}

int VideoEffect::Unload() {
  // Players first: their workers write into the rings, not the textures,
  // but nothing of the instance may outlive it.
  for (std::unique_ptr<DeckVideo>& video : decks_) {
    if (!video) continue;
    video->player.Stop();
    render::ReleaseTexture(video->texture);
    video.reset();
  }
  loaded_ = false;
  return 0;
}

int VideoEffect::Command(float time, const char* command) {
  FxInstance::Command(time, command);
  if (!command) return 0;
  const char* p = command;
  while (IsCommandSeparator(*p)) ++p;
  std::string_view words[4];
  int count = 0;
  while (*p && count < 4) {
    const char* start = p;
    while (*p && !IsCommandSeparator(*p)) ++p;
    words[count++] = std::string_view(start, static_cast<size_t>(p - start));
    while (IsCommandSeparator(*p)) ++p;
  }
  if (count == 0) return 0;
  if (words[0] == "MODULATE") {
    float rgb[3] = {1.0f, 1.0f, 1.0f};
    for (int i = 0; i < 3 && i + 1 < count; ++i) rgb[i] = ParseDecimalFloat(words[i + 1]);
    colour_ = Channel(rgb[0]) << 16 | Channel(rgb[1]) << 8 | Channel(rgb[2]);
  } else if (words[0] == "BLEND") {
    const std::string_view mode = count > 1 ? words[1] : std::string_view();
    if (mode == "ADDITIVE") blend_ = kAdditive;
    else if (mode == "SUBSTRACTIVE") blend_ = kSubtractive;
    else if (mode == "INVERT") blend_ = kInvert;
    else if (mode == "MULTIPLY") blend_ = kMultiply;
    else blend_ = kNormal;
  }
  return 0;
}

int VideoEffect::Upload(DeckVideo* video, const media::Image& picture) {
  std::shared_ptr<render::Texture> texture = render::GetTextureById(video->texture);
  if (!texture) return -1;
  render::LockedRect locked;
  if (texture->LockRect(0, &locked, nullptr, video->dynamic ? render::LOCK_DISCARD : 0) != 0) return -1;
  const size_t row_bytes = static_cast<size_t>(picture.width) * 4;
  for (uint32_t y = 0; y < picture.height; ++y)
    std::memcpy(static_cast<uint8_t*>(locked.bits) + static_cast<ptrdiff_t>(y) * locked.pitch, picture.Row(y),
                row_bytes);
  texture->UnlockRect(0);
  return 0;
}

void VideoEffect::PassNotices(DeckVideo* video) {
  std::string notice = video->player.TakeNotice();
  size_t start = 0;
  while (start < notice.size()) {
    size_t end = notice.find('\n', start);
    if (end == std::string::npos) end = notice.size();
    core::RaiseRuntimeMessage("%s", notice.substr(start, end - start).c_str());
    start = end + 1;
  }
}

int VideoEffect::Render(float time) {
  if (!loaded_) return 1;
  DeckVideo* video = ForDeck(DrawingDeck());
  if (!video) return 1;
  const int64_t n = media::VideoFrameAt(static_cast<double>(time) - start_time_, rate_, count_);
  if (n != video->posted) {
    video->player.Post(n);
    video->posted = n;
  }
  if (video->shown != n) {
    int uploaded = 0;
    const media::VideoPlayer::Take taken = video->player.TakeFrame(
        n, [&](const media::Image& picture) { uploaded = Upload(video, picture); },
        g_exact_frames ? kVideoExactWaitSeconds : 0.0);
    if (taken == media::VideoPlayer::Take::kReady) {
      if (uploaded != 0) return -1;
      video->shown = n;
      video->blank = false;
    } else if (taken == media::VideoPlayer::Take::kFailed) {
      video->shown = n;
      video->blank = true;
    } else if (g_exact_frames && !video->reported_wait) {
      video->reported_wait = true;
      core::RaiseRuntimeMessage("Video %s: frame %lld was not ready in %.0f s; the previous one is shown",
                                shown_.c_str(), static_cast<long long>(n), kVideoExactWaitSeconds);
    }
  }
  PassNotices(video);
  if (video->shown < 0 || video->blank) return 1;
  Draw(*video);
  return 1;
}

void VideoEffect::Draw(const DeckVideo& video) const {
  using namespace render;
  Device* device = LayerDevice();
  if (!device) return;
  SetRenderStateCached(RS_ALPHATESTENABLE, 0);
  SetRenderStateCached(RS_TEXTUREFACTOR, 0xFFFFFFFFu);
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  SetRenderStateCached(RS_ZWRITEENABLE, 0);
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
  SetStageStateCached(0, TSS_COLOROP, TOP_MODULATE);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_COLORARG2, TA_DIFFUSE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_MODULATE);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_ALPHAARG2, TA_TFACTOR);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_CLAMP);
  SetStageStateCached(0, TSS_MAGFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MINFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MIPFILTER, TEXF_NONE);
  uint32_t source = BLEND_ONE, destination = BLEND_ZERO;
  switch (blend_) {
    case kAdditive: source = BLEND_SRCALPHA; destination = BLEND_ONE; break;
    case kSubtractive: source = BLEND_ZERO; destination = BLEND_INVSRCCOLOR; break;
    case kMultiply: source = BLEND_ZERO; destination = BLEND_SRCCOLOR; break;
    case kInvert: source = BLEND_INVDESTCOLOR; destination = BLEND_INVSRCCOLOR; break;
    default: break;
  }
  SetRenderStateCached(RS_ALPHABLENDENABLE, blend_ == kNormal ? 0 : 1);
  if (blend_ != kNormal) {
    SetRenderStateCached(RS_BLENDOP, BLENDOP_ADD);
    SetRenderStateCached(RS_SRCBLEND, source);
    SetRenderStateCached(RS_DESTBLEND, destination);
  }
  const float w = RenderTargetWidth(), h = RenderTargetHeight();
  const render::ScreenVertex vertices[4] = {
      {-0.5f, -0.5f, 0.0f, 1.0f, colour_, 0.0f, 0.0f},
      {w - 0.5f, -0.5f, 0.0f, 1.0f, colour_, 1.0f, 0.0f},
      {w - 0.5f, h - 0.5f, 0.0f, 1.0f, colour_, 1.0f, 1.0f},
      {-0.5f, h - 0.5f, 0.0f, 1.0f, colour_, 0.0f, 1.0f},
  };
  static const uint16_t kIndices[6] = {0, 2, 1, 0, 3, 2};
  device->SetFVF(kFvfScreenVertex);
  device->SetTexture(0, GetBaseTextureById(video.texture));
  device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kIndices, FMT_INDEX16, vertices, sizeof(render::ScreenVertex));
  device->SetTexture(0, nullptr);
  SetRenderStateCached(RS_ZENABLE, ZB_TRUE);
}

}  // namespace

void SetVideoExactFrames(bool exact) { g_exact_frames = exact; }
bool VideoExactFrames() { return g_exact_frames; }
void SetVideoSourceOpener(VideoSourceOpener opener) { g_opener = std::move(opener); }

FxInstance* CreateVideoEffect(const FxClass&) { return NewInstance<VideoEffect>(); }

void PrepareVideoEffect(const char* arguments, Preparation* preparation) {
  bool empty = true;
  std::string path = VideoPath(arguments, &empty);
  if (!empty) preparation->videos.push_back(path);
}

std::string PrepareVideo(Loader* loader, int job, const char* path) {
  std::string disk;
  if (!loader || !path || !core::FileExists(path) || !core::ResolvePath(path, &disk)) return {};
  std::error_code failed;
  const std::string absolute = std::filesystem::absolute(disk, failed).string();
  if (failed) return {};
  for (int copy = 0; copy < kMaxPreparedCopies; ++copy) {
    const std::string key = PreparedKey(absolute, copy);
    if (loader->Query(key) != Loader::State::kUnknown) continue;
    loader->QueueVideo(job, key, absolute, path);
    return key;
  }
  return {};
}

}  // namespace fx

// The IMAGE effect: a slide show of pictures from the effect's
// data/images/, with per-slot positions, a common velocity, zoom about the
// centre, blend modes, timed fades and sound-driven fades.
//
// The script replays every command from the start on every frame, so
// Command must not allocate and Reset must bring back everything a command
// can change (a beat fade's start time excepted: it records the last beat
// across frames). Numbers from scripts are checked where they become
// indices or divisors.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/effects_internal.h"
#include "fx/image_effect.h"
#include "fx/timing.h"

namespace fx {
namespace {

const FxTemplate kLoadTemplates[] = {
    {"nimages framelength name1 name2 ... namen",
     "nimages: number of images\r\nframelength: how much time each frame will be displayed\r\nNote: Images will be "
     "loaded from data/images/"},
};

const FxTemplate kCommandTemplates[] = {
    {"POSITION iFrame x y", "Updates position of iFrame(from 0 to nimages-1)"},
    {"POSITIONALL x y", "Updates positions of all frames"},
    {"VELOCITY x y", "velocity moving in pixels per second"},
    {"BLEND ADDITIVE", "sets image blend to additive"},
    {"BLEND SUBSTRACTIVE", "sets image blend to substractive"},
    {"BLEND MULTIPLY", "sets image blend to multiply"},
    {"BLEND NORMAL", "sets image blend to normal"},
    {"BLEND INVERT", "sets image blend to invert"},
    {"FADEIN time", "does a fade in"},
    {"FADEOUT time", "does a fade out"},
    {"FADESOUNDSYNC BEAT fadetime", ""},
    {"ALPHAINVERT ON", ""},
    {"ALPHAINVERT OFF", ""},
    {"FADESOUNDSYNC RAW startamplitude endamplitude startfreq endfreq",
     "usa el soundsyncer para seleccionar el fade start/endamplitude: rango amplitud (0.0f-1.0f). startfreq y "
     "endfreq: frecuencias a  examinar (0.0f-1.0f)"},
    {"FADESOUNDSYNC OFF", "deshabilita soundsyncer para imagen"},
    {"ZOOM start speed", "makes zoom of image"},
    {"ZOOM 1.0  1.0", "Zoom out"},
    {"ZOOM 1.0 -1.0", "Zoom In"},
};

constexpr const char* kImageFolder = "data/images/";

// Up to kMaxWords words of a command or argument text, split at blanks and
// tabs, pointing into the text.
constexpr int kMaxWords = 8;
struct Words : CommandWords<kMaxWords> {
  bool Is(int i, std::string_view text) const { return i < count && word[i] == text; }
  // The number in word i, or `fallback` when there is no such word.
  float Number(int i, float fallback = 1.0f) const { return i < count ? ParseDecimalFloat(word[i]) : fallback; }
};

Words Split(const char* text) {
  Words words;
  words.Read(text);
  return words;
}

bool IsArgumentSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next word of `*p` (blanks, tabs and line ends separate), advancing
// past it; empty at the end.
std::string_view NextArgument(const char** p) {
  while (IsArgumentSeparator(**p)) ++*p;
  const char* start = *p;
  while (**p && !IsArgumentSeparator(**p)) ++*p;
  return std::string_view(start, static_cast<size_t>(*p - start));
}

float Clamp01(float value) { return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value); }

}  // namespace

FxInstance* CreateImageEffect(const FxClass&) { return NewInstance<ImageEffect>(); }

ImageEffect::~ImageEffect() { ReleaseTextures(); }

const char* ImageEffect::GetName() const { return kImageClass; }
const char* ImageEffect::GetDescription() const { return "Shows an image"; }

int ImageEffect::GetLoadTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kLoadTemplates;
  return static_cast<int>(std::size(kLoadTemplates));
}

int ImageEffect::GetCommandTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kCommandTemplates;
  return static_cast<int>(std::size(kCommandTemplates));
}

int ImageEffect::texture(int32_t slot) const {
  return slot >= 0 && slot < image_count() ? textures_[static_cast<size_t>(slot)] : -1;
}
float ImageEffect::position_x(int32_t slot) const {
  return slot >= 0 && slot < image_count() ? positions_[static_cast<size_t>(slot)].x : 0.0f;
}
float ImageEffect::position_y(int32_t slot) const {
  return slot >= 0 && slot < image_count() ? positions_[static_cast<size_t>(slot)].y : 0.0f;
}

void ImageEffect::ReleaseTextures() {
  // Ids from a manager that has been shut down since are dead: giving them
  // back does nothing.
  for (int id : textures_) ReleaseImageTexture(id);
  textures_.clear();
}

int ImageEffect::Unload() {
  ReleaseTextures();
  positions_.clear();
  reported_.clear();
  loaded_ = false;
  return 0;
}

void ImageEffect::Prepare(const char* arguments, Preparation* preparation) {
  const char* p = arguments ? arguments : "";
  std::string_view count_word = NextArgument(&p);
  const int32_t count = count_word.empty() ? 1 : ParseDecimalInt(count_word);
  if (count < 0 || NextArgument(&p).empty()) return;
  for (int32_t i = 0; i < count; ++i) {
    std::string_view file = NextArgument(&p);
    if (file.empty()) return;
    if (file != "_") preparation->pictures.push_back(kImageFolder + core::BaseName(file));
  }
}

void PrepareImageEffect(const char* arguments, Preparation* preparation) {
  ImageEffect::Prepare(arguments, preparation);
}

int ImageEffect::Load(const char* name, const char* arguments) {
  SetInstanceName(name);
  Unload();
  const char* text = arguments ? arguments : "";
  const char* p = text;

  std::string_view count_word = NextArgument(&p);
  const int32_t count = count_word.empty() ? 1 : ParseDecimalInt(count_word);
  if (count < 0) {
    core::ShowError("IMAGE %s: the number of images cannot be negative: %s", InstanceName(), text);
    return -1;
  }
  std::string_view length_word = NextArgument(&p);
  if (length_word.empty()) return -1;
  const float length = ParseDecimalFloat(length_word);
  if (!(length > 0.0f) || !std::isfinite(length)) {
    core::ShowError("IMAGE %s: the frame length must be a positive number of seconds: %s", InstanceName(), text);
    return -1;
  }

  // Every name must be there before anything is loaded (the count also
  // sizes the tables, so an absurd count never allocates).
  const char* names = p;
  for (int32_t i = 0; i < count; ++i) {
    if (NextArgument(&p).empty()) {
      core::ShowError("Numero de ficheros es menor que el numero de imagenes que has puesto: %s", text);
      return -1;
    }
  }
  p = names;
  frame_length_ = length;
  textures_.assign(static_cast<size_t>(count), -1);
  positions_.assign(static_cast<size_t>(count), Position{});
  for (int32_t i = 0; i < count; ++i) {
    std::string_view file = NextArgument(&p);
    if (file == "_") continue;  // a blank slot
    std::string path = kImageFolder + core::BaseName(file);
    int id = LoadImageTexture(path.c_str());
    if (id < 0) {
      core::ShowError("Error loading %s", path.c_str());
      Unload();
      return -1;
    }
    textures_[static_cast<size_t>(i)] = id;
  }
  loaded_ = true;
  return 0;
}

int ImageEffect::Start(float time) {
  start_time_ = time;
  zoom_time_base_ = time;
  position_time_base_ = time;
  return 0;
}

int ImageEffect::Reset() {
  fading_in_ = fading_out_ = false;
  beat_sound_fade_ = raw_sound_fade_ = false;
  alpha_invert_ = false;
  blend_ = kImageBlendNormal;
  velocity_x_ = velocity_y_ = 0.0f;
  zoom_speed_ = 0.0f;
  zoom_start_ = 1.0f;
  // Every slot: VELOCITY moves them all, and the replay must not add the
  // same move again on every frame.
  std::fill(positions_.begin(), positions_.end(), Position{});
  return 0;
}

void ImageEffect::ReportOutOfRange(const char* command) {
  for (const std::string& text : reported_)
    if (text == command) return;
  reported_.emplace_back(command);
  core::RaiseRuntimeMessage("Estas pasando un frame fuera de rango: %s", command);
}

int ImageEffect::Command(float time, const char* command) {
  FxInstance::Command(time, command);
  if (!command) return 0;
  const Words w = Split(command);
  if (w.count == 0) return 0;
  const std::string_view keyword = w.word[0];
  const size_t count = positions_.size();

  if (keyword == "LOAD") return 0;
  if (keyword == "POSITION") {
    const int32_t slot = w.count > 1 ? ParseDecimalInt(w.word[1]) : 1;
    if (slot < 0 || static_cast<size_t>(slot) >= count) {
      ReportOutOfRange(command);
      return 0;
    }
    positions_[static_cast<size_t>(slot)] = Position{w.Number(2), w.Number(3)};
    position_time_base_ = time;
  } else if (keyword == "POSITIONALL") {
    std::fill(positions_.begin(), positions_.end(), Position{w.Number(1), w.Number(2)});
    position_time_base_ = time;
  } else if (keyword == "BLEND") {
    if (w.Is(1, "ADDITIVE")) blend_ = kImageBlendAdditive;
    else if (w.Is(1, "SUBSTRACTIVE")) blend_ = kImageBlendSubtractive;
    else if (w.Is(1, "INVERT")) blend_ = kImageBlendInvert;
    else if (w.Is(1, "MULTIPLY")) blend_ = kImageBlendMultiply;
    else blend_ = kImageBlendNormal;
  } else if (keyword == "FADEIN" || keyword == "FADEOUT") {
    fade_duration_ = w.Number(1);
    fade_start_ = time;
    fading_in_ = keyword == "FADEIN";
    fading_out_ = !fading_in_;
    beat_sound_fade_ = raw_sound_fade_ = false;
  } else if (keyword == "ALPHAINVERT") {
    alpha_invert_ = w.Is(1, "ON");
  } else if (keyword == "FADESOUNDSYNC") {
    fading_in_ = fading_out_ = false;
    beat_sound_fade_ = raw_sound_fade_ = false;
    if (w.Is(1, "BEAT")) {
      beat_sound_fade_ = true;
      fade_duration_ = w.Number(2);
    } else if (w.Is(1, "RAW")) {
      raw_sound_fade_ = true;
      raw_start_amplitude_ = w.Number(2);
      raw_end_amplitude_ = w.Number(3);
      raw_start_frequency_ = Clamp01(w.Number(4));
      raw_end_frequency_ = Clamp01(w.Number(5));
    }
  } else if (keyword == "VELOCITY") {
    const float elapsed = time - position_time_base_;
    for (Position& position : positions_) {
      position.x += elapsed * velocity_x_;
      position.y += elapsed * velocity_y_;
    }
    velocity_x_ = w.Number(1);
    velocity_y_ = w.Number(2);
    position_time_base_ = time;
  } else if (keyword == "ZOOM") {
    zoom_start_ = w.Number(1);
    zoom_speed_ = w.Number(2);
    zoom_time_base_ = time;
  }
  return 0;
}

float ImageEffect::FadeValue(float time, bool* faded) {
  float f = 1.0f;
  *faded = false;
  if (fading_in_ || fading_out_) {
    // A duration of 0 (or less) is an instant fade: its end at once.
    const float progress = fade_duration_ > 0.0f ? (time - fade_start_) / fade_duration_ : 1.0f;
    f = std::isfinite(progress) ? Clamp01(progress) : 1.0f;
    if (fading_out_) f = 1.0f - f;
    *faded = true;
  }
  if (beat_sound_fade_) {
    if (SoundSyncBeat(time)) fade_start_ = time;
    const float elapsed = time - fade_start_;
    float progress;
    if (elapsed <= 0.0f) progress = 0.0f;  // the beat itself: full strength
    else if (fade_duration_ > 0.0f) progress = elapsed / fade_duration_;
    else progress = 1.0f;  // instant: gone right after the beat
    f = 1.0f - (std::isfinite(progress) ? Clamp01(progress) : 1.0f);
    *faded = true;
  }
  if (raw_sound_fade_) {
    const float* spectrum = GetSoundSyncSpectrum(time);
    const float a0 = raw_start_amplitude_, a1 = raw_end_amplitude_;
    if (!spectrum) {
      f = 1.0f;
    } else {
      const int first = static_cast<int>(raw_start_frequency_ * 1023.0f);
      const int end = std::min(static_cast<int>(raw_end_frequency_ * 1023.0f), kSoundSyncSpectrumSize);
      float level = 0.0f;
      for (int i = std::max(first, 0); i < end; ++i) level = std::max(level, spectrum[i]);
      if (std::min(a1, level) < a0) level = a0;
      else if (level > a1) level = a1;
      f = a1 - a0 > 0.0f ? Clamp01((level - a0) / (a1 - a0)) : 1.0f;
    }
    *faded = true;
  }
  if (alpha_invert_) f = 1.0f - f;
  return f;
}

ImageFrame ImageEffect::Compose(float time) {
  ImageFrame frame;
  if (!loaded_ || textures_.empty() || !std::isfinite(time)) return frame;
  const int32_t count = image_count();

  // Slot: whole frame lengths since the start, wrapped into 0 .. count-1
  // (floor, so a time before the start runs the show backwards evenly).
  double frames = std::floor((static_cast<double>(time) - start_time_) / frame_length_);
  if (!std::isfinite(frames)) frames = 0.0;
  double slot = std::fmod(frames, static_cast<double>(count));
  if (slot < 0.0) slot += count;
  frame.image = std::clamp(static_cast<int32_t>(slot), 0, count - 1);
  frame.texture = textures_[static_cast<size_t>(frame.image)];

  if (frame.texture < 0) return frame;  // a blank slot

  bool faded = false;
  frame.fade = FadeValue(time, &faded);
  if (frame.fade <= 0.0f) return frame;

  const Position& position = positions_[static_cast<size_t>(frame.image)];
  const float moved = time - position_time_base_;
  frame.x = position.x + moved * velocity_x_;
  frame.y = position.y + moved * velocity_y_;
  frame.zoom = (time - zoom_time_base_) * zoom_speed_ + zoom_start_;
  if (!(frame.zoom > 0.0f)) frame.zoom = 0.0f;
  if (faded && frame.fade != 1.0f) {
    const uint32_t g = static_cast<uint32_t>(frame.fade * 255.0f) & 0xFFu;
    frame.colour = g << 24 | g << 16 | g << 8 | g;
  }
  frame.draw = true;
  return frame;
}

int ImageEffect::Render(float time) {
  const ImageFrame frame = Compose(time);
  if (frame.draw) DrawImageTexture(frame.texture, frame.x, frame.y, blend_, frame.colour, frame.zoom);
  return 1;
}

}  // namespace fx

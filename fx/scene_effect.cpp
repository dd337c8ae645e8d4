// The 3DSCENE effect.
//
// Design. The script host rewinds every frame: Reset, then the start and
// every command up to the frame's time again, each with its own time. The
// scene's playback clock is therefore the effect time: a replayed SETSPEED
// re-anchors at its own command time and gives the same animation time on
// every frame, and the deck's speed, seek and backward play reach the scene.
// The beat forward is the one thing a replay cannot rebuild (it depends on
// the sound of frames gone by), so its memory lives outside Reset, one per
// deck, and is added back onto the replayed start time once per frame.
//
// Commands allocate nothing on the good path; numbers are read strictly so
// that a typo is reported (once) instead of becoming 0.
#include "fx/scene_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "app/core/core.h"
#include "app/core/numbers.h"
#include "fx/effects_internal.h"
#include "fx/timing.h"
#include "render/layer.h"
#include "render/materials.h"
#include "scene/draw.h"
#include "scene/procedural.h"

namespace fx {
namespace {

const FxTemplate kLoadTemplates[] = {
    {"filename.txt",
     "loads scene with name filename. It will search for the filename.hvx\r\n in data/scenesbin/.\r\nIf it doesnt "
     "find it there, it will search\r\nfor filename.txt in data/scenes/"},
};

const FxTemplate kCommandTemplates[] = {
    {"SHOW", "shows the scene. by default the scene is showed"},
    {"HIDE", "hides the scene"},
    {"SETTIME time", "sets an offset in the animation time"},
    {"SETABSOLUTETIME time", "sets the animation time"},
    {"NEXTCAMERA time", "next camera every time seconds"},
    {"NEXTCAMERA off", "turns off next camera"},
    {"SETSPEED speed", "sets the animation speed"},
    {"CAMERA cameraname", "sets cameraname as the current camera"},
    {"FOG ON startfog endfog r g b", "sets linear fog from startfog to endfog (range is 0..1)"},
    {"FOG OFF", "turns fog off"},
    {"VERTEXCOLORS ON", "turns vertex colors on"},
    {"VERTEXCOLORS OFF", "turns vertex colors off"},
    {"VIEWPORT x y w h", "sets viewport, coords are assumed to be from 0 to 640 and 0 to 480"},
    {"VIEWPORT x y w h time", "morphs viewport. coords are assumed to be from 0 to 640 and 0 to 480"},
    {"NOISE x y z time", "camera will have noise and fade out in time"},
    {"FLIPX ON", "mirror x on"},
    {"FLIPX OFF", "mirror x off (default)"},
    {"FLIPY ON", "mirror y on"},
    {"FLIPY OFF", "mirror y off (default)"},
    {"SHADOWS ON", "shadows on"},
    {"SHADOWS OFF", "shadows off"},
    {"PARTICLEPARAMS nombreobjeto parametros", "manda parametros a sistema de particulas"},
    {"PARTICLEPARAMS nombreobjeto tamanyo tiempodevida particulasporsegundo vx vy vz ax ay az",
     "manda parametros a sistema de particulas"},
    {"PARTICLEPARAMS nombreobjeto tamanyo tiempodevida particulasporsegundo vx vy vz ax ay az radiodisco",
     "manda parametros a sistema de particulas"},
    {"BEATFORWARD OFF", "desactiva forward con beat"},
    {"BEATFORWARD tiempo", "forwardea la escena con cada beat el tiempo indicado"},
};

// Materials the drawing looks up by name in the current library; holding a
// reference keeps their textures loaded.
constexpr const char* kSystemShaders[] = {"STENCIL", "BEAMOPAQUE", "BEAMFLARE"};

constexpr int kMaxWords = 12;
struct Words : CommandWords<kMaxWords> {
  bool Is(int i, std::string_view text) const { return i < count && core::AsciiEqualNoCase(word[i], text); }
  // Word i as a finite number; false when it is missing or not one.
  bool Number(int i, float* out) const {
    float value = 0.0f;
    if (i >= count || !core::ParseNumber(word[i], &value) || !std::isfinite(value)) return false;
    *out = value;
    return true;
  }
};

Words Split(const char* text) {
  Words words;
  words.Read(text);
  return words;
}

// The first word of the load arguments (blanks, tabs and line ends split).
std::string FirstArgument(const char* arguments) {
  const char* p = arguments ? arguments : "";
  auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (separator(*p)) ++p;
  const char* start = p;
  while (*p && !separator(*p)) ++p;
  return std::string(start, static_cast<size_t>(p - start));
}

float Clamp01(float value) { return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value); }

uint32_t ColourByte(float component) { return static_cast<uint32_t>(Clamp01(component) * 255.0f); }

}  // namespace

FxInstance* CreateSceneEffect(const FxClass&) { return NewInstance<SceneEffect>(); }

SceneEffect::~SceneEffect() { Unload(); }

const char* SceneEffect::GetName() const { return k3DSceneClass; }
const char* SceneEffect::GetDescription() const { return "Reproduces a 3D Scene"; }

int SceneEffect::GetLoadTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kLoadTemplates;
  return static_cast<int>(std::size(kLoadTemplates));
}

int SceneEffect::GetCommandTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kCommandTemplates;
  return static_cast<int>(std::size(kCommandTemplates));
}

ReferenceRect SceneEffect::viewport() const {
  return ReferenceRect{scene_.viewport_x, scene_.viewport_y, scene_.viewport_w, scene_.viewport_h};
}

double SceneEffect::forwarded(int deck) const {
  return deck >= 0 && deck < kDecks ? memory_[deck].forwarded : 0.0;
}

SceneEffect::BeatMemory& SceneEffect::Memory() {
  const int deck = DrawingDeck();
  return memory_[deck >= 0 && deck < kDecks ? deck : 0];
}

void SceneEffect::ReleaseSystemShaders() {
  // The owner is the library that was current at load: the host keeps it
  // alive until its instances are gone.
  if (system_shader_owner_)
    for (int32_t handle : system_shaders_) system_shader_owner_->ReleaseShader(handle);
  system_shaders_.clear();
  system_shader_owner_ = nullptr;
}

int SceneEffect::Unload() {
  ReleaseSystemShaders();
  scene::ForgetDrawReports(&scene_);
  scene_.Clear();
  reported_.clear();
  particle_texts_seen_.clear();
  loaded_ = false;
  for (BeatMemory& memory : memory_) memory = BeatMemory{};
  return 0;
}

int SceneEffect::Load(const char* name, const char* arguments) {
  SetInstanceName(name);
  Unload();
  argument_ = FirstArgument(arguments);
  if (argument_.empty()) return -1;  // the host reports "Failed to instantiate effect"

  // Placeholders ("@PARTICLE...", "@METABALL...") become procedural
  // objects at load.
  scene::InstallProcedurals();
  scene::LoadOptions options;
  options.shaders = render::CurrentShaderManager();
  options.device_buffers = render::LayerDevice() != nullptr;
  if (scene::LoadScene(&scene_, argument_.c_str(), options) != 0) return -1;

  if (options.shaders) {
    system_shader_owner_ = options.shaders;
    for (const char* shader : kSystemShaders) {
      if (options.shaders->FindShader(shader) < 0) continue;  // the drawing reports what it misses
      const render::ShaderHandle handle = options.shaders->GetShader(shader);
      if (handle >= 0) system_shaders_.push_back(handle);
    }
  }
  loaded_ = true;
  Reset();
  return 0;
}

int SceneEffect::Reload(const char* arguments) {
  const std::string argument = FirstArgument(arguments);
  if (!argument.empty()) scene::InvalidateSceneCache(argument.c_str());
  return FxInstance::Reload(arguments);
}

int SceneEffect::Start(float time) {
  scene_.SetStartTime(time);
  return 0;
}

int SceneEffect::Reset() {
  shown_ = true;
  next_camera_on_ = false;
  next_camera_period_ = 0.0f;
  next_camera_since_ = 0.0f;
  morph_start_ = viewport_target_ = ReferenceRect{};
  morph_ = EaseFade{};
  morph_on_ = false;
  beat_forward_on_ = false;
  beat_forward_amount_ = 0.0f;
  forward_applied_ = false;
  scene_.ResetPlayback();  // particle systems back to their defaults
  return 0;
}

void SceneEffect::Report(const char* why, const char* command) {
  for (const std::string& text : reported_)
    if (text == command) return;
  reported_.emplace_back(command);
  core::RaiseRuntimeMessage("3DSCENE %s: %s: %s", InstanceName(), why, command);
}

int SceneEffect::Command(float time, const char* command) {
  FxInstance::Command(time, command);
  if (!command) return 0;
  const Words w = Split(command);
  if (w.count == 0) return 0;
  const std::string_view keyword = w.word[0];
  const double t = time;
  float a = 0.0f, b = 0.0f, c = 0.0f, d = 0.0f, e = 0.0f;

  if (keyword == "LAYER" || keyword == "LOAD" || keyword == "FORWARD") return 0;
  // FXLAYER hands its bare number on as a command too.
  int32_t layer = 0;
  if (w.count == 1 && core::ParseNumber(keyword, &layer)) return 0;
  if (keyword == "SHOW" || keyword == "HIDE") {
    shown_ = keyword == "SHOW";
  } else if (keyword == "SETTIME") {
    if (!w.Number(1, &a)) return Report("needs a number of seconds", command), 0;
    // Exactly x animation seconds on, whatever the speed.
    scene_.SetTimeOffset(scene_.time_offset + a);
  } else if (keyword == "SETABSOLUTETIME") {
    if (!w.Number(1, &a)) return Report("needs a number of seconds", command), 0;
    scene_.SetStartTime(t);
    scene_.SetTimeOffset(a);
  } else if (keyword == "NEXTCAMERA") {
    if (w.Is(1, "OFF")) {
      next_camera_on_ = false;
    } else {
      if (!w.Number(1, &a)) return Report("needs a period in seconds or OFF", command), 0;
      next_camera_on_ = true;
      next_camera_period_ = a;
      next_camera_since_ = time;
    }
  } else if (keyword == "SETSPEED") {
    if (!w.Number(1, &a)) return Report("needs a speed", command), 0;
    scene_.SetSpeed(a, t);
  } else if (keyword == "CAMERA") {
    if (w.count < 2) return Report("needs a camera name", command), 0;
    if (!scene_.SelectCamera(w.word[1])) Report("no camera of that name", command);
  } else if (keyword == "VERTEXCOLORS") {
    scene_.vertex_colours = w.Is(1, "ON");
  } else if (keyword == "FOG") {
    if (w.Is(1, "ON")) {
      float r = 0.0f, g = 0.0f, bl = 0.0f;
      if (!w.Number(2, &a) || !w.Number(3, &b) || !w.Number(4, &r) || !w.Number(5, &g) || !w.Number(6, &bl))
        return Report("needs start, end and r g b", command), 0;
      scene_.fog = true;
      scene_.fog_start = a;
      scene_.fog_end = b;
      // Each component clamped: one outside 0..1 must not spill into its
      // neighbour's byte.
      scene_.fog_colour = ColourByte(r) << 16 | ColourByte(g) << 8 | ColourByte(bl);
    } else {
      scene_.fog = false;
    }
  } else if (keyword == "VIEWPORT" || keyword == "VIEWPORTMORPH") {
    if (!w.Number(1, &a) || !w.Number(2, &b) || !w.Number(3, &c) || !w.Number(4, &d))
      return Report("needs x y w h", command), 0;
    const bool morph = keyword == "VIEWPORTMORPH" || w.count > 5;
    if (morph && !w.Number(5, &e)) return Report("needs x y w h and a duration", command), 0;
    if (morph) {
      morph_start_ = viewport_target_;
      morph_.Set(true, t, e < 0.0f ? 0.0f : e);
      morph_on_ = true;
    }
    viewport_target_ = ReferenceRect{a, b, c, d};
  } else if (keyword == "NOISE") {
    if (!w.Number(1, &a) || !w.Number(2, &b) || !w.Number(3, &c) || !w.Number(4, &d))
      return Report("needs x y z and a duration", command), 0;
    // A negative duration would make a shake that grows without end.
    if (d < 0.0f) return Report("the duration cannot be negative", command), 0;
    scene_.SetNoise(a, b, c, d, t);
  } else if (keyword == "FLIPX") {
    scene_.flip_x = w.Is(1, "ON");
  } else if (keyword == "FLIPY") {
    scene_.flip_y = w.Is(1, "ON");
  } else if (keyword == "SHADOWS") {
    scene_.shadows = w.Is(1, "ON");
  } else if (keyword == "PARTICLEPARAMS") {
    if (w.count < 2) return Report("needs an object name", command), 0;
    // Replayed every frame after a Reset that restored the defaults, so
    // applied every time; a refused text is shown once (the scene says
    // why), a capped rate only the first time its text is applied.
    for (const std::string& text : reported_)
      if (text == command) return 0;
    const std::string_view rest = w.count > 2 ? std::string_view(w.word[2].data()) : std::string_view();
    const std::string name = core::AsciiToUpper(w.word[1]);
    const std::string seen_key = name + " " + std::string(rest);
    const bool seen = std::find(particle_texts_seen_.begin(), particle_texts_seen_.end(), seen_key) !=
                      particle_texts_seen_.end();
    if (scene::SetParticleParams(&scene_, name, rest, seen) != 0) {
      reported_.emplace_back(command);
      return 0;
    }
    if (!seen) particle_texts_seen_.push_back(seen_key);
  } else if (keyword == "BEATFORWARD") {
    if (w.Is(1, "OFF")) {
      beat_forward_on_ = false;
    } else {
      a = 1.0f;
      if (w.count > 1 && !w.Number(1, &a)) return Report("needs a number of seconds or OFF", command), 0;
      beat_forward_on_ = true;
      beat_forward_amount_ = a;
    }
    // The memory (latch, last forward) is left alone: this command is
    // replayed on every frame.
  } else {
    Report("unknown command", command);
  }
  return 0;
}

bool SceneEffect::Compose(float time) {
  BeatMemory& memory = Memory();
  if (!memory.playing || time < memory.last_frame) memory = BeatMemory{};  // playback restarted
  memory.playing = true;
  memory.last_frame = time;
  if (!forward_applied_) {
    scene_.SetStartTime(scene_.start_time - memory.forwarded);
    forward_applied_ = true;
  }
  if (!loaded_ || !shown_) return false;

  ReferenceRect view = viewport_target_;
  if (morph_on_) {
    bool running = false;
    const double v = morph_.Value(time, &running);
    auto mix = [v](float from, float to) { return static_cast<float>(from + (to - from) * v); };
    view = ReferenceRect{mix(morph_start_.x, viewport_target_.x), mix(morph_start_.y, viewport_target_.y),
                         mix(morph_start_.w, viewport_target_.w), mix(morph_start_.h, viewport_target_.h)};
    if (!running) morph_on_ = false;
  }
  scene_.viewport_x = view.x;
  scene_.viewport_y = view.y;
  scene_.viewport_w = view.w;
  scene_.viewport_h = view.h;

  if (!beat_forward_on_ || !SoundSyncBeat(time)) {
    memory.latch = false;
  } else if (!memory.latch && time - memory.last_forward > kBeatForwardGap) {
    memory.forwarded += beat_forward_amount_;
    scene_.SetStartTime(scene_.start_time - beat_forward_amount_);
    memory.latch = true;
    memory.last_forward = time;
    core::Trace("BEAT\n");
  } else {
    core::Trace("REJECTED\n");
  }

  if (next_camera_on_ && next_camera_period_ > 0.0f && time >= next_camera_since_ && !scene_.cameras.empty()) {
    const double steps = std::floor((static_cast<double>(time) - next_camera_since_) / next_camera_period_);
    const double count = static_cast<double>(scene_.cameras.size());
    const double base = static_cast<double>(scene_.CurrentCameraIndex());
    if (std::isfinite(steps)) scene_.current_camera = static_cast<int32_t>(std::fmod(base + steps, count));
  }
  return true;
}

int SceneEffect::Render(float time) {
  if (!Compose(time)) return 1;
  scene::DrawRequest request;
  request.now = time;
  if (GetSoundSyncBands(time, sound_bands_, scene::kSoundBands) == 0) request.sound_bands = sound_bands_;
  // One flip mirrors the picture, so front faces turn the other way on
  // screen: culling (and the shadow volumes' counting) must swap too, as
  // for a reflection. Draw puts the flag back as it found it.
  render::ShaderManager* manager = render::CurrentShaderManager();
  const bool mirrored = manager && manager->mirrored;
  if (manager && scene_.flip_x != scene_.flip_y) manager->mirrored = !mirrored;
  scene::Draw(&scene_, request);
  if (manager) manager->mirrored = mirrored;
  return 1;
}

}  // namespace fx

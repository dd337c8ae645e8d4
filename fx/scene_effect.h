// The 3DSCENE effect: an animated 3D scene of the scene engine played on a
// deck, with its switches (camera, speed, fog, flips, shadows, viewport,
// camera shake) as commands and a jump forward on every sound-syncer beat.
//
// Typical use: the script line "FXINSTANCE ROOM 3DSCENE room.txt" makes one
// through the class registry; the script host loads, starts, replays and
// draws it.
// Not here: the scene itself (scene/scene.h) and how it is drawn
// (scene/draw.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fx/effect.h"
#include "fx/fades.h"
#include "scene/draw.h"
#include "scene/scene.h"

namespace fx {

// A rectangle in the 640 x 480 reference frame.
struct ReferenceRect {
  float x = 0.0f, y = 0.0f, w = 640.0f, h = 480.0f;
};

// The 3DSCENE class. Every time it takes is the effect time: the command's
// time in Start and Command, the frame's in Render, so the deck's speed,
// seeking, looping and backward play move the scene, and offline renders
// repeat frame for frame.
//
// The script host rewinds every frame (Reset, then every start and command
// up to the frame's time again). What survives Reset is the beat-forward
// memory of each deck (the seconds forwarded so far, the latch, the last
// forward's time); it starts over when that deck's playback restarts: the
// first frame after Load, or a frame earlier than the deck's previous one.
class SceneEffect final : public FxInstance {
 public:
  static constexpr int kDecks = 6;
  // Beats closer together than this forward once.
  static constexpr float kBeatForwardGap = 0.3f;

  SceneEffect() = default;
  ~SceneEffect() override;

  // Arguments: the scene's file name under data/scenes/, read through its
  // cache in data/scenesbin/ and resolved with the current material library.
  int Load(const char* name, const char* arguments) override;
  int Unload() override;
  // Deletes the scene's cache (only when its text exists) and loads again,
  // so an edited text is compiled afresh.
  int Reload(const char* arguments) override;
  int Start(float time) override;
  int Reset() override;
  int Render(float time) override;
  int Command(float time, const char* command) override;
  const char* GetName() const override;
  const char* GetDescription() const override;
  int GetLoadTemplates(const FxTemplate** rows) const override;
  int GetCommandTemplates(const FxTemplate** rows) const override;

  // Everything Render does at `time` but drawing: the viewport, the beat
  // forward (with its memory and trace) and the automatic camera are set
  // on the scene. False when nothing is to be drawn.
  bool Compose(float time);

  bool loaded() const { return loaded_; }
  bool shown() const { return shown_; }
  scene::Scene& scene() { return scene_; }
  const scene::Scene& scene() const { return scene_; }
  const std::string& scene_argument() const { return argument_; }
  // The viewport Compose set last, in the reference frame.
  ReferenceRect viewport() const;
  // Seconds forwarded by beats on deck `deck` since its playback restarted.
  double forwarded(int deck = 0) const;

 private:
  struct BeatMemory {
    bool playing = false;       // a frame was drawn since the load
    float last_frame = 0.0f;    // that frame's time
    double forwarded = 0.0;     // seconds the start time moved back
    bool latch = false;
    float last_forward = -1.0f;
  };

  void Report(const char* why, const char* command);
  void ReleaseSystemShaders();
  BeatMemory& Memory();

  scene::Scene scene_;
  std::string argument_;
  bool loaded_ = false;
  bool shown_ = true;
  bool next_camera_on_ = false;
  float next_camera_period_ = 0.0f;
  float next_camera_since_ = 0.0f;
  bool beat_forward_on_ = false;
  float beat_forward_amount_ = 0.0f;
  ReferenceRect morph_start_, viewport_target_;
  EaseFade morph_;
  bool morph_on_ = false;
  // Whether this replay's start time already carries the forward.
  bool forward_applied_ = false;
  BeatMemory memory_[kDecks];
  // Materials the drawing finds by name only: references held while loaded.
  std::vector<int32_t> system_shaders_;
  render::ShaderManager* system_shader_owner_ = nullptr;
  // Commands replay every frame: each bad one is reported once.
  std::vector<std::string> reported_;
  // Every name and text applied since the load ("NAME text"): a capped
  // rate is reported the first time only.
  std::vector<std::string> particle_texts_seen_;
  float sound_bands_[scene::kSoundBands] = {};
};

}  // namespace fx

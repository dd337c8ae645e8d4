// Effects module: the effect model, the effect script, the effect classes,
// and the sound input with beat detection they and the mixers react to.
//
// Sections:
//   sound input   where samples come from (capture device, sound file,
//                 silence, samples pushed by tests)
//   sound layer   the one input of the program, its spectra and the
//                 sound-syncer analysis
//   beat timing   beat settings, per-deck listeners, tap tempo and
//                 metronome, the per-frame beat detector
//   effect time   the time of the deck being drawn
//   effect model  class registry, the effect base class FxInstance
//   effect script FxScript: the timed script of one effect, its instances,
//                 its material library, the replay and the layer passes
//   image effect  the image textures (tiled pictures shared by file) and
//                 the IMAGE class, a slide show with motion, zoom and fades
//
// Everything here runs on the main thread except the capture callback
// inside the capture source, which only writes a lock-free sample ring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fx {

class SampleRing;

// ===========================================================================
// Sound input
// ===========================================================================

inline constexpr int kSampleRate = 44100;

// One mono stream of samples at kSampleRate, newest last.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Starts delivering samples. Returns 0, or -1 with a reason in *error.
  virtual int Start(std::string* error) = 0;
  // Stops delivering; waits a bounded time for any delivering thread.
  virtual void Stop() = 0;
  // Copies the latest `count` samples, oldest first, into `out` (positions
  // before the first sample read as 0). Returns 0, or -1 when the input was
  // lost (it must then be stopped and started again).
  virtual int Latest(float* out, size_t count) = 0;
  // What the log calls it ("capture device", "file x.wav", ...).
  virtual std::string Describe() const = 0;
};

// The default recording device through SDL, mono at kSampleRate. Samples
// arrive on SDL's audio thread into a ring of the most recent samples.
std::unique_ptr<AudioSource> MakeCaptureAudioSource();

// A sound file (WAV, FLAC, OGG, ...) decoded to mono at kSampleRate and
// played looping. Its position follows the program clock:
// (core::NowSeconds() - core::kClockEpoch) seconds into the file, so a run
// on a fixed-rate clock hears the file in step with its frames. Files longer
// than kMaxSoundFileSeconds play their first part only. nullptr with a
// reason in *error when the file cannot be read.
inline constexpr double kMaxSoundFileSeconds = 600.0;
std::unique_ptr<AudioSource> MakeFileAudioSource(const std::string& path, std::string* error);

// Always silent; always starts.
std::unique_ptr<AudioSource> MakeSilentAudioSource();

// Samples handed in by the caller (tests, benchmarks). Start can be told to
// fail, to exercise the retry rules.
class PushedAudioSource final : public AudioSource {
 public:
  PushedAudioSource();
  ~PushedAudioSource() override;
  int Start(std::string* error) override;
  void Stop() override {}
  int Latest(float* out, size_t count) override;
  std::string Describe() const override { return "pushed samples"; }

  void Push(const float* samples, size_t count);
  void PushSilence(size_t count);
  void SetStartFails(bool fails) { start_fails_ = fails; }
  void SetLost(bool lost) { lost_ = lost; }
  int start_calls() const { return start_calls_; }

 private:
  std::unique_ptr<SampleRing> ring_;
  bool start_fails_ = false;
  bool lost_ = false;
  int start_calls_ = 0;
};

// ===========================================================================
// Sound layer
// ===========================================================================

inline constexpr int kBeatSpectrumSize = 256;        // from the latest 512 samples
inline constexpr int kSoundSyncSpectrumSize = 1024;  // from the latest 2048 samples

// Seconds between attempts to start an input that failed to start.
inline constexpr double kSoundRetrySeconds = 5.0;

struct SoundOptions {
  // Play this sound file as the input instead of a live device.
  std::string input_file;
  // False for offline renders: without a file the input is silence, never a
  // live device.
  bool allow_live_input = true;
};

// Chooses the input: the file when one is named (silence if it cannot be
// read, with a message), else the capture device when live input is
// allowed, else silence. Never fails: a missing device only means no
// spectrum. Recording itself starts with the first spectrum request.
int StartSound(const SoundOptions& options);
// Installs a given input (tests, benchmarks).
int StartSound(std::unique_ptr<AudioSource> source);
// Stops recording (bounded wait), frees the input and the FFT plans, and
// resets the sound-syncer state. Safe when sound never started.
void StopSound();

// The frame loop calls this once per frame before DetectBeats: the
// sound-syncer spectrum is fetched at most once per frame.
void BeginSoundFrame();

// True while the input is started and delivering.
bool SoundRecording();
// "no input" until an input was chosen; else the input's description.
std::string SoundInputDescription();

// 256 magnitudes in 0..1, low to high frequency, of the latest 512 samples
// (Hann window; a full-scale sine centred on a bin reads about 1.0). A new
// spectrum is computed only when `time` differs from the last successful
// fetch. nullptr when no input can be recorded (a failed start is tried
// again on a later request, at most every kSoundRetrySeconds).
const float* GetBeatSpectrum(double time);

// The sound-syncer channel: which input the sound-syncer analysis follows.
using SoundChannel = int32_t;
inline constexpr SoundChannel kNoSoundChannel = 0;
// The program's recording input (a file input counts as recorded).
inline constexpr SoundChannel kRecordingSoundChannel = 1;
void SetSoundSyncChannel(SoundChannel channel);
SoundChannel GetSoundSyncChannel();

// 1024 magnitudes of the latest 2048 samples, fetched at most once per
// frame (whatever `time` says). Without a channel the buffer is returned as
// it is (all zero until something was fetched). nullptr on failure.
const float* GetSoundSyncSpectrum(double time);

// True when any of the first peak x 1024 sound-syncer magnitudes is above
// the amplitude. A failed fetch gives false and keeps the last result.
bool SoundSyncBeat(double time);
bool LastSoundSyncBeat();
void SetSoundSyncThreshold(float peak, float amplitude);
void GetSoundSyncThreshold(float* peak, float* amplitude);

// ===========================================================================
// Beat timing
// ===========================================================================

// Bins above this are never examined.
inline constexpr int32_t kMaxBeatBin = 64;
// Minimum seconds between two detected beats.
inline constexpr double kBeatRefractorySeconds = 1.0 / 3.0;
// Length of the metronome tick after each tapped beat, in milliseconds.
inline constexpr uint32_t kMetronomeTickMs = 100;

struct BeatSettings {
  int32_t low_bin = 0;
  int32_t high_bin = 10;
  float threshold = 0.5f;
};
BeatSettings GetBeatSettings();
// Sets any subset. Given bins are clamped to 0..kMaxBeatBin, then a low bin
// above the high bin is lowered to it. A non-finite threshold is ignored.
void SetBeatSettings(std::optional<int32_t> low_bin, std::optional<int32_t> high_bin,
                     std::optional<float> threshold);

// While on, no beat is reported (listeners still re-arm), and the decks'
// beat modes pause.
void SetBeatDisabled(bool disabled);
bool BeatDisabled();
void ToggleBeatDisabled();

// One per deck; DetectBeats fills them every frame.
struct BeatListener {
  float reserved = 0.45f;       // carried along; nothing reads it
  double last_beat_time = 0.0;  // program seconds of the last reported beat
  bool beat_now = false;        // a beat was detected in this frame
  bool armed = true;            // the level fell below the threshold since
  float level = 0.0f;           // loudest band bin (square root of magnitude)
};
// Listeners live in one list in creation order.
BeatListener* CreateBeatListener();
void DestroyBeatListener(BeatListener* listener);
const std::vector<BeatListener*>& BeatListeners();

// Tap tempo: the median of the last three intervals between taps (program
// clock, milliseconds). One tap gives no period; two give their interval.
void Tap();
uint32_t TappedPeriodMs();  // 0 = none
uint32_t LastTapMs();
// On during the first kMetronomeTickMs of every tapped period.
bool MetronomeTick(uint32_t now_ms);

// Program seconds as the unsigned millisecond counter the tap clock uses.
uint32_t MillisecondsOf(double seconds);

// The timing layer: resets taps, beat settings and the beat-disable flag and
// starts an empty listener list. StopTiming destroys remaining listeners.
int StartTiming();
void StopTiming();

// Once per frame with the program time: reads the beat spectrum (silence
// when there is none) and flags a beat in every listener.
void DetectBeats(double now);

// ===========================================================================
// Effect time
// ===========================================================================

// Seconds on the time line of the deck being drawn. The Server sets it
// before each deck, the script walk moves it while it replays and leaves it
// at the script time, and effects read it while they start, take commands
// and draw. One value for the whole program, held by the render layer
// (render::EffectTime), where material waves read it.
float GetEffectTime();
void SetEffectTime(float seconds);

// ===========================================================================
// Effect model
// ===========================================================================

class FxInstance;
class FxScript;

// One row of a template table: a command or load text and its help line.
struct FxTemplate {
  const char* text;
  const char* help;
};

// The registration record of one effect class. Records are linked into the
// registry by RegisterFxClass; the newest is first.
class FxClass {
 public:
  // Makes a new instance, constructed and not loaded; nullptr when memory
  // runs out. Receives its own record.
  using CreateFunction = FxInstance* (*)(const FxClass& record);

  constexpr FxClass(const char* name, const char* description, CreateFunction create)
      : name_(name), description_(description), create_(create) {}
  FxClass(const FxClass&) = delete;
  FxClass& operator=(const FxClass&) = delete;

  const char* Name() const { return name_; }  // the script keyword
  const char* Description() const { return description_; }
  std::unique_ptr<FxInstance> Create() const;
  const FxClass* Next() const { return next_; }

 private:
  friend void RegisterFxClass(FxClass* record);
  friend void UnregisterFxClass(FxClass* record);
  const char* name_;
  const char* description_;
  CreateFunction create_;
  FxClass* next_ = nullptr;
  bool registered_ = false;
};

// Pushes the record at the head of the registry. A record already in the
// registry keeps its place.
void RegisterFxClass(FxClass* record);
// Takes a record out again (tests).
void UnregisterFxClass(FxClass* record);
// The head of the registry (the most recently registered class), or nullptr.
const FxClass* FirstFxClass();
// The first record whose keyword equals `keyword` byte for byte.
const FxClass* FindClass(std::string_view keyword);

// The five built-in classes, registered in the order VIDEOSTREAM, IMAGE,
// SOUNDSYNCER, 3DSCENE, FILTER, so the registry lists FILTER first. Called
// once at program start before start-up (and by tests); repeated calls
// change nothing. Static records never register themselves: constructors
// of unreferenced objects in a static library do not run.
void RegisterEffectClasses();
inline constexpr const char* kVideoStreamClass = "VIDEOSTREAM";
inline constexpr const char* kImageClass = "IMAGE";
inline constexpr const char* kSoundSyncerClass = "SOUNDSYNCER";
inline constexpr const char* k3DSceneClass = "3DSCENE";
inline constexpr const char* kFilterClass = "FILTER";

// The base of every effect object. The host (FxScript) creates an instance
// with its class record, loads it, moves it in and out of the started list
// and calls the drawing operations layer by layer. Classes override what
// they need; the base behaviour is given at each operation.
class FxInstance {
 public:
  // Names are cut to kNameSize - 1 characters.
  static constexpr size_t kNameSize = 128;
  static constexpr int kDefaultTemplateRows = 11;

  FxInstance() = default;
  FxInstance(const FxInstance&) = delete;
  FxInstance& operator=(const FxInstance&) = delete;
  // Releases everything the instance holds: the host destroys instances
  // without calling Unload first.
  virtual ~FxInstance() = default;

  // Copies the name in, then reads the arguments. 0 on success. [base:
  // returns 0, stores nothing]
  virtual int Load(const char* name, const char* arguments);
  // Releases what Load acquired; the instance may be loaded again. [0]
  virtual int Unload();
  // [Unload, then Load with the stored name and the new arguments]
  virtual int Reload(const char* arguments);
  // The script started the instance; `time` is the moment its own elapsed
  // time counts from (the effect time is the script time meanwhile). [0]
  virtual int Start(float time);
  virtual int Stop();  // [0]
  // Back to the just-loaded state; runs before every replay of the script.
  virtual int Reset();  // [0]
  // [stores the flag] A hidden instance is neither updated, drawn nor given
  // AfterPass.
  virtual int SetHidden(int32_t hidden);
  // Hooks nothing calls. [true / nothing / nothing]
  virtual bool ReservedQuery();
  virtual void ReservedNotify(int32_t value);
  virtual void ReservedSignal(int32_t value);
  // Before the instance's layer is drawn. [nothing]
  virtual void Update(float time);
  // Draws the instance. 0 means finished: the host stops it and takes it out
  // of the started list for the rest of the frame. [1]
  virtual int Render(float time);
  // At the end of every render pass. [nothing]
  virtual void AfterPass(float time);
  // Around every layer of a pass, whatever the instance's own layer.
  virtual void BeforeLayer(int32_t layer, float time);  // [nothing]
  virtual void AfterLayer(int32_t layer, float time);   // [nothing]
  // A script command; `time` is the moment it counts from. 0 on success.
  // [understands "LAYER n" (words split at blanks and tabs): n becomes the
  // layer; returns 0 for any text] Classes that keep the LAYER command call
  // the base first and then look at the text themselves.
  virtual int Command(float time, const char* command);
  // The class keyword and description, as in the class record.
  virtual const char* GetName() const = 0;
  virtual const char* GetDescription() const = 0;
  // Choosers over the template tables that would edit `buffer`: 0 on OK,
  // -1 otherwise. Nothing in the program opens them. [-1]
  virtual int ShowCommandDialog(char* buffer, size_t size);
  virtual int ShowLoadDialog(char* buffer, size_t size);
  // Template tables: *rows points at a static table; returns the row
  // count. [11 rows "DEFAULT 1".."DEFAULT 11", helps "default load 1".. /
  // "default command 1"..]
  virtual int GetLoadTemplates(const FxTemplate** rows) const;
  virtual int GetCommandTemplates(const FxTemplate** rows) const;
  // The sound channel a sound syncer's "SETINPUT" takes from this instance.
  // [kRecordingSoundChannel: an instance without a sound of its own offers
  // the live input] A class that plays its own sound returns its channel.
  virtual SoundChannel OfferedSoundChannel() const;

  // The instance name (what the script calls it).
  const char* InstanceName() const { return name_; }
  // Copies at most kNameSize - 1 characters of `name`.
  void SetInstanceName(const char* name);
  int32_t Layer() const { return layer_; }
  void SetLayer(int32_t layer) { layer_ = layer; }
  int32_t Hidden() const { return hidden_; }
  // The script holding the instance; set after a successful load. Commands
  // use it to reach sibling instances by name.
  FxScript* Owner() const { return owner_; }
  void SetOwner(FxScript* owner) { owner_ = owner; }

 protected:
  FxScript* owner_ = nullptr;
  char name_[kNameSize] = {};
  int32_t layer_ = 0;
  int32_t hidden_ = 0;
};

// Allocation without exceptions for class records: `return
// NewInstance<MyInstance>();` in a CreateFunction.
template <class T, class... Args>
FxInstance* NewInstance(Args&&... args) {
  return new (std::nothrow) T(std::forward<Args>(args)...);
}

// ===========================================================================
// Effect script
// ===========================================================================

// The material library of one effect: its own materials from its folder's
// data/shaders/, current while the effect loads, replays, draws or unloads,
// so names the instances use resolve inside their own effect first. The
// default library holds nothing and pushing it changes nothing.
class MaterialScope {
 public:
  virtual ~MaterialScope() = default;
  // Sets the library up and reads every material script of `folder`
  // (relative to the current base folder). Called while pushed. 0 or -1.
  virtual int Load(const char* folder) = 0;
  // Makes the library current / restores the one before. Pushes nest.
  virtual void Push() = 0;
  virtual void Pop() = 0;
  // Destroys the library's contents. Called while pushed, before the
  // library itself is destroyed.
  virtual void Clear() = 0;
};
using MaterialScopeFactory = std::function<std::unique_ptr<MaterialScope>()>;
// The library each FxScript makes when it opens a script.
std::unique_ptr<MaterialScope> MakeMaterialScope();
// Replaces the kind of library MakeMaterialScope makes (tests); an empty
// factory restores the program's own.
void SetMaterialScopeFactory(MaterialScopeFactory factory);

enum class FxCommandKind : int32_t {
  kStart = 1,
  kStop = 2,
  kInstance = 3,
  kCommand = 4,
  kLayer = 5,
  kSyncTime = 7,
};

// One statement of a script, in file order. Words arrive upper-cased.
struct FxCommand {
  FxCommandKind kind = FxCommandKind::kInstance;
  std::string name;  // the instance (empty for SYNCTIME)
  // FXINSTANCE: class keyword and arguments; FXCOMMAND: the command;
  // FXLAYER: the layer number, also sent as a command.
  std::string text;
  float time = 0.0f;   // SYNCTIME
  int32_t layer = 0;   // FXLAYER: the decimal value of text

  // Replay state kept by the script: the instance the name found (looked
  // up again whenever the instance list changed), and whether a failure of
  // this statement was reported since the script was opened.
  FxInstance* instance = nullptr;
  uint32_t instance_generation = 0;
  bool failure_reported = false;
};

// Called with (index counted from 1, number of FXINSTANCE statements).
using InstantiateProgress = std::function<void(int index, int total)>;

// The script of one effect: parses data/script.txt once, owns the instances
// it declares and the effect's material library, and every frame rewinds
// and replays the script to the current effect time before drawing the
// started instances layer by layer. What an effect shows is therefore a
// function of the effect time alone.
class FxScript {
 public:
  static constexpr int32_t kLayerCount = 16;

  FxScript() = default;
  ~FxScript();
  FxScript(const FxScript&) = delete;
  FxScript& operator=(const FxScript&) = delete;

  // Reads the file through the file layer (relative to the current base
  // folder) and opens its text. 0, or -1 after "File not found %s" /
  // "Error reading script from %s" (what was open then stays open) or a
  // failing Open.
  int OpenFile(const char* path, bool loop);
  // Closes what was open, sets up the material library from
  // "data/shaders/", traces the class registry and parses the text. 0, or
  // -1 after "Error initializing Shader Manager" or "Error parsing script.
  // Quitting".
  int Open(const char* text, bool loop);
  // Releases the statements, the instances and the material library.
  void Close();

  // Creates and loads the instance of every FXINSTANCE statement, in
  // script order. -1 at the first failure ("Failed to instantiate effect
  // %s"; instances made so far stay until Close), or at once, without a
  // message, for a statement with no class keyword.
  int InstantiateAll(const InstantiateProgress& progress = nullptr);
  // The newest instance whose name equals `name` (compared as it would be
  // stored: cut to FxInstance::kNameSize - 1 characters).
  FxInstance* FindInstance(std::string_view name) const;

  // Back to the start: empty started list, Reset on every instance.
  void Rewind();
  // Replays statements up to the script time of the current effect time;
  // leaves the effect time at the script time. 1 while the script goes on,
  // 0 when a script without looping has run out (or is empty).
  int Step();
  // The largest SYNCTIME time, or 0 when there is no positive one.
  float Length() const { return length_; }
  // The script time for an effect time: wrapped into the length when
  // looping (sign of the effect time kept); 0 for a looping script of
  // length 0 and for a non-finite effect time.
  float ScriptTime(float effect_time) const;

  // One pass over layers first .. end - 1: Update, then per layer
  // BeforeLayer / Render / AfterLayer, then AfterPass over layers 0..15.
  // Does nothing until the first rewind. Returns 1.
  int RenderPass(int32_t first_layer, int32_t end_layer);
  // Rewind, replay to the current effect time, then passes (0,1) .. (7,8)
  // and (8,16). Instances on layers outside 0..15 are never drawn.
  int RenderDeck();

  bool Loaded() const { return loaded_; }
  bool Enabled() const { return enabled_; }
  bool Looping() const { return loop_; }
  const std::vector<FxCommand>& Commands() const { return commands_; }
  // Newest first.
  const std::vector<std::unique_ptr<FxInstance>>& Instances() const { return instances_; }
  // In start order; owns nothing.
  const std::vector<FxInstance*>& Started() const { return started_; }
  MaterialScope* Materials() const { return materials_.get(); }

 private:
  int Parse(const char* text);
  int Instantiate(const FxCommand& command, std::string_view keyword, const char* arguments);
  FxInstance* Resolve(FxCommand& command);
  void Execute(FxCommand& command, float t);
  void SendCommand(FxCommand& command, FxInstance* instance, float t);
  void RemoveStarted(FxInstance* instance);

  std::vector<FxCommand> commands_;
  std::vector<std::unique_ptr<FxInstance>> instances_;  // newest first
  std::vector<FxInstance*> started_;
  std::unique_ptr<MaterialScope> materials_;
  size_t cursor_ = 0;
  uint32_t generation_ = 1;  // changes whenever the instance list does
  float length_ = 0.0f;
  float last_sync_ = 0.0f;
  float time_ = 0.0f;  // script time of the last walk
  bool loaded_ = false;
  bool enabled_ = false;
  bool loop_ = false;
  bool seek_ = false;
  bool waiting_ = false;
};

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

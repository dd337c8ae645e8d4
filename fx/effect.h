// The effect model: the effect time, the class registry, the effect base
// class FxInstance, and FxScript, the timed script of one effect with its
// instances, its material library, the replay and the layer passes.
//
// Typical use (a deck):
//   fx::FxScript script; script.OpenFile("data/script.txt", true);
//   every frame: fx::SetEffectTime(t); script.RenderDeck();
//
// A new effect class: derive from FxInstance, write a CreateFunction that
// returns NewInstance<MyInstance>(), add its FxClass record to
// RegisterEffectClasses.
// Not here: sound and beats (timing.h), the IMAGE class (image_effect.h).
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

#include "fx/timing.h"

namespace fx {

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

// The deck (0-5) the Server is drawing. Effects that keep state per deck
// (a video player, a filter's captures) pick it by this; 0 outside the
// Server's deck walk (loading, tests, the Client).
int DrawingDeck();
void SetDrawingDeck(int deck);

// ===========================================================================
// Effect model
// ===========================================================================

class FxInstance;
class FxScript;
struct Preparation;

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
  // Optional: lists what an instance loaded with `arguments` will read, so
  // the loader can prepare it off the frame thread (fx/loading.h).
  using PrepareFunction = void (*)(const char* arguments, Preparation* preparation);

  constexpr FxClass(const char* name, const char* description, CreateFunction create,
                    PrepareFunction prepare = nullptr)
      : name_(name), description_(description), create_(create), prepare_(prepare) {}
  FxClass(const FxClass&) = delete;
  FxClass& operator=(const FxClass&) = delete;

  const char* Name() const { return name_; }  // the script keyword
  const char* Description() const { return description_; }
  std::unique_ptr<FxInstance> Create() const;
  // Fills `preparation` (nothing for a class without the hook).
  void Prepare(const char* arguments, Preparation* preparation) const {
    if (prepare_) prepare_(arguments, preparation);
  }
  const FxClass* Next() const { return next_; }

 private:
  friend void RegisterFxClass(FxClass* record);
  friend void UnregisterFxClass(FxClass* record);
  const char* name_;
  const char* description_;
  CreateFunction create_;
  PrepareFunction prepare_;
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
  // One step of the same: creates the instance of the next FXINSTANCE
  // statement at or after statement *next and moves *next past it. 1 when
  // one was made, 0 when none is left, -1 as InstantiateAll fails.
  int InstantiateNext(size_t* next);
  // Splits an FXINSTANCE statement's text into the class keyword and the
  // argument text. false when it names no class.
  static bool SplitInstanceText(const std::string& text, std::string_view* keyword, const char** arguments);
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
  // Whether the statement under the cursor is passed for the first time
  // since the script time last went back (its trace line is written then).
  bool TraceHere() const;

  std::vector<FxCommand> commands_;
  std::vector<std::unique_ptr<FxInstance>> instances_;  // newest first
  std::vector<FxInstance*> started_;
  std::unique_ptr<MaterialScope> materials_;
  size_t cursor_ = 0;
  uint32_t generation_ = 1;  // changes whenever the instance list does
  float length_ = 0.0f;
  float last_sync_ = 0.0f;
  float time_ = 0.0f;  // script time of the last walk
  // Trace bookkeeping: statements before traced_through_ have been traced
  // since the script time last went back below traced_time_.
  size_t traced_through_ = 0;
  size_t sync_start_traced_ = static_cast<size_t>(-1);
  float traced_time_ = -1.0f;
  bool loaded_ = false;
  bool enabled_ = false;
  bool loop_ = false;
  bool seek_ = false;
  bool waiting_ = false;
};

}  // namespace fx

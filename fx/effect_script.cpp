// FxScript: parsing the effect script, instantiating its effects, the
// per-frame replay and the layer passes.
//
// Design: the statements are parsed once into a vector. Every frame the
// deck's script is rewound (empty started list, Reset on every instance)
// and walked again from the first statement up to the SYNCTIME that lies
// beyond the current script time, re-sending every start and command on
// the way. Commands passed before a SYNCTIME all carry that SYNCTIME's
// time, and the effect time equals the script time while an instance
// starts or takes a command, so an instance computes what it shows as
// (effect time - its start or command time) and the picture depends on
// the effect time alone: looping, seeking, speed changes and playing
// backwards need nothing else.
//
// The walk is on the frame path of every deck, so it allocates nothing:
// each statement caches the instance its name found (looked up again when
// the instance list changes) and the started list keeps its capacity.
// A failing command is reported once per opened script, not once per frame.
// The replay's trace lines (starts, commands, sync points) are written
// only the first time the cursor passes a statement since the script time
// last went back, so a trace shows the time line once per pass instead of
// once per frame and deck.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/effects_internal.h"
#include "render/layer.h"

namespace fx {
namespace {

// Scripts are short; anything bigger is not a script.
constexpr long kMaxScriptBytes = 16L * 1024 * 1024;

// The script's own word reader. Words are separated by blanks, tabs,
// carriage returns and line feeds; "//" where a word would start comments
// out the rest of the line, "[" opens a comment up to the matching "]"
// (nesting). A rest of line runs to the line end and keeps its blanks;
// "//" and "[" are ordinary characters there. Everything read is
// upper-cased (ASCII).
class ScriptReader {
 public:
  explicit ScriptReader(const char* text) : begin_(text ? text : ""), p_(begin_), last_(begin_) {}

  // False at the end of the text.
  bool Word(std::string* out) {
    for (;;) {
      while (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n') ++p_;
      if (!*p_) return false;
      if (p_[0] == '/' && p_[1] == '/') {
        while (*p_ && *p_ != '\n') ++p_;
        continue;
      }
      if (*p_ == '[') {
        int depth = 0;
        do {
          if (*p_ == '[') ++depth;
          else if (*p_ == ']') --depth;
          ++p_;
        } while (*p_ && depth > 0);
        continue;
      }
      const char* start = p_;
      last_ = start;
      while (*p_ && *p_ != ' ' && *p_ != '\t' && *p_ != '\r' && *p_ != '\n') ++p_;
      Upper(start, p_, out);
      return true;
    }
  }

  // The line (counted from 1) of the word last read; only for messages.
  int LineOfLastWord() const {
    int line = 1;
    for (const char* c = begin_; c < last_; ++c) line += *c == '\n';
    return line;
  }

  void RestOfLine(std::string* out) {
    while (*p_ == ' ' || *p_ == '\t' || *p_ == '\r') ++p_;
    const char* start = p_;
    while (*p_ && *p_ != '\r' && *p_ != '\n') ++p_;
    Upper(start, p_, out);
  }

 private:
  static void Upper(const char* start, const char* end, std::string* out) {
    out->assign(start, end);
    for (char& c : *out) c = core::AsciiUpper(c);
  }

  const char* begin_;
  const char* p_;
  const char* last_;  // start of the word last read
};

const char* KindKeyword(FxCommandKind kind) {
  switch (kind) {
    case FxCommandKind::kStart: return "FXSTART";
    case FxCommandKind::kStop: return "FXSTOP";
    case FxCommandKind::kInstance: return "FXINSTANCE";
    case FxCommandKind::kCommand: return "FXCOMMAND";
    case FxCommandKind::kLayer: return "FXLAYER";
    case FxCommandKind::kSyncTime: return "SYNCTIME";
  }
  return "?";
}

// Makes the effect's material library current for a scope.
class UseMaterials {
 public:
  explicit UseMaterials(MaterialScope* scope) : scope_(scope) {
    if (scope_) scope_->Push();
  }
  ~UseMaterials() {
    if (scope_) scope_->Pop();
  }
  UseMaterials(const UseMaterials&) = delete;
  UseMaterials& operator=(const UseMaterials&) = delete;

 private:
  MaterialScope* scope_;
};

// Sets the effect time for a scope and puts the earlier value back.
class EffectTimeAs {
 public:
  explicit EffectTimeAs(float t) : saved_(GetEffectTime()) { SetEffectTime(t); }
  ~EffectTimeAs() { SetEffectTime(saved_); }
  EffectTimeAs(const EffectTimeAs&) = delete;
  EffectTimeAs& operator=(const EffectTimeAs&) = delete;

 private:
  float saved_;
};

}  // namespace

FxScript::~FxScript() { Close(); }

// ---------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------

int FxScript::OpenFile(const char* path, bool loop) {
  if (!path) path = "";
  // Only a regular file is a script: a folder opens but reads as nothing.
  core::FilePtr file(core::FileExists(path) ? core::OpenDataFile(path, "rb") : nullptr);
  if (!file) {
    core::ShowError("File not found %s", path);
    return -1;
  }
  long size = -1;
  if (file->Seek(0, SEEK_END) == 0) size = file->Tell();
  if (size < 0 || size > kMaxScriptBytes || file->Seek(0, SEEK_SET) != 0) {
    core::ShowError("Error reading script from %s", path);
    return -1;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
  if (!buffer) return -1;
  if (file->Read(buffer.get(), 1, static_cast<size_t>(size)) != static_cast<size_t>(size)) {
    core::ShowError("Error reading script from %s", path);
    return -1;
  }
  buffer[static_cast<size_t>(size)] = '\0';
  file.reset();
  return Open(buffer.get(), loop);
}

int FxScript::Open(const char* text, bool loop) {
  Close();
  loop_ = loop;
  seek_ = false;
  waiting_ = false;
  last_sync_ = 0.0f;
  time_ = 0.0f;

  std::unique_ptr<MaterialScope> materials = MakeMaterialScope();
  if (!materials) {
    core::ShowError("Error initializing Shader Manager");
    return -1;
  }
  {
    UseMaterials use(materials.get());
    if (materials->Load("data/shaders/") != 0) {
      materials->Clear();
      core::ShowError("Error initializing Shader Manager");
      return -1;
    }
  }
  materials_ = std::move(materials);

  core::Trace("Enumerating available effects...\n");
  for (const FxClass* c = FirstFxClass(); c; c = c->Next()) core::Trace("%s\n", c->Name());
  core::Trace("Enumerating ended...\n");

  if (Parse(text) != 0) {
    core::ShowError("Error parsing script. Quitting\n");
    Close();
    return -1;
  }
  length_ = 0.0f;
  for (const FxCommand& c : commands_)
    if (c.kind == FxCommandKind::kSyncTime && c.time > length_) length_ = c.time;
  cursor_ = 0;
  traced_through_ = 0;
  traced_time_ = -1.0f;
  sync_start_traced_ = static_cast<size_t>(-1);
  loaded_ = true;
  return 0;
}

int FxScript::Parse(const char* text) {
  try {
    ScriptReader reader(text);
    std::string word;
    while (reader.Word(&word)) {
      FxCommand command;
      if (word == "FXINSTANCE") command.kind = FxCommandKind::kInstance;
      else if (word == "FXSTART") command.kind = FxCommandKind::kStart;
      else if (word == "FXSTOP") command.kind = FxCommandKind::kStop;
      else if (word == "FXCOMMAND") command.kind = FxCommandKind::kCommand;
      else if (word == "FXLAYER") command.kind = FxCommandKind::kLayer;
      else if (word == "SYNCTIME") command.kind = FxCommandKind::kSyncTime;
      else {
        core::Trace("%s : %s\n", word.c_str(), "Unexpected script command");
        core::ShowError("script line %d: unexpected command \"%s\"", reader.LineOfLastWord(), word.c_str());
        commands_.clear();
        return -1;
      }
      std::string operand;
      if (!reader.Word(&operand)) {
        // The text ended where the name (or time) should be.
        core::Trace("FXSCRIPT: %s without %s at the end of the script, skipped\n", KindKeyword(command.kind),
                    command.kind == FxCommandKind::kSyncTime ? "a time" : "an instance name");
        break;
      }
      switch (command.kind) {
        case FxCommandKind::kSyncTime:
          command.time = ParseDecimalFloat(operand);
          break;
        case FxCommandKind::kInstance:
        case FxCommandKind::kCommand:
        case FxCommandKind::kLayer:
          command.name = std::move(operand);
          reader.RestOfLine(&command.text);
          command.layer = ParseDecimalInt(command.text);
          break;
        case FxCommandKind::kStart:
        case FxCommandKind::kStop:
          command.name = std::move(operand);
          break;
      }
      commands_.push_back(std::move(command));
    }
  } catch (const std::bad_alloc&) {
    commands_.clear();
    core::ShowError("%s : %s", "Failed to allocate command", "Script Parse Error");
    return -1;
  }
  return 0;
}

void FxScript::Close() {
  {
    UseMaterials use(materials_.get());
    commands_.clear();
    started_.clear();
    // Newest first, one at a time, so a destructor never sees a half-emptied
    // list entry.
    while (!instances_.empty()) {
      std::unique_ptr<FxInstance> doomed = std::move(instances_.front());
      instances_.erase(instances_.begin());
      doomed.reset();
    }
    if (materials_) materials_->Clear();
  }
  materials_.reset();
  ++generation_;
  cursor_ = 0;
  length_ = 0.0f;
  loaded_ = false;
  enabled_ = false;
}

// ---------------------------------------------------------------------------
// Instances
// ---------------------------------------------------------------------------

bool FxScript::SplitInstanceText(const std::string& text, std::string_view* keyword, const char** arguments) {
  const char* p = text.c_str();
  while (IsCommandSeparator(*p)) ++p;
  const char* start = p;
  while (*p && !IsCommandSeparator(*p)) ++p;
  if (p == start) return false;
  *keyword = std::string_view(start, static_cast<size_t>(p - start));
  *arguments = *p ? p + 1 : p;
  return true;
}

int FxScript::InstantiateNext(size_t* next) {
  while (*next < commands_.size() && commands_[*next].kind != FxCommandKind::kInstance) ++*next;
  if (*next >= commands_.size()) return 0;
  const FxCommand& c = commands_[(*next)++];
  UseMaterials use(materials_.get());
  std::string_view class_name;
  const char* arguments = nullptr;
  if (!SplitInstanceText(c.text, &class_name, &arguments)) {
    core::Trace("FXSCRIPT: FXINSTANCE %s names no effect class\n", c.name.c_str());
    return -1;
  }
  if (Instantiate(c, class_name, arguments) != 0) {
    core::ShowError("Failed to instantiate effect %s", c.name.c_str());
    return -1;
  }
  return 1;
}

int FxScript::InstantiateAll(const InstantiateProgress& progress) {
  UseMaterials use(materials_.get());
  int total = 0;
  for (const FxCommand& c : commands_) total += c.kind == FxCommandKind::kInstance;
  int index = 0;
  size_t next = 0;
  for (;;) {
    size_t at = next;
    while (at < commands_.size() && commands_[at].kind != FxCommandKind::kInstance) ++at;
    if (at >= commands_.size()) return 0;
    ++index;
    if (progress) progress(index, total);
    if (InstantiateNext(&next) < 0) return -1;
  }
}

int FxScript::Instantiate(const FxCommand& command, std::string_view keyword, const char* arguments) {
  const FxClass* record = FindClass(keyword);
  if (!record) {
    core::Trace("FXSCRIPT: no effect class %.*s for %s\n", static_cast<int>(keyword.size()), keyword.data(),
                command.name.c_str());
    return -1;
  }
  std::unique_ptr<FxInstance> instance = record->Create();
  if (!instance) return -1;
  // Every class copies the name in Load; set it here as well so a class
  // that forgets still answers to its name.
  instance->SetInstanceName(command.name.c_str());
  if (instance->Load(command.name.c_str(), arguments) != 0) return -1;
  FxInstance* raw = instance.get();
  try {
    instances_.insert(instances_.begin(), std::move(instance));
  } catch (const std::bad_alloc&) {
    return -1;  // `instance` is destroyed with its owner on the way out
  }
  raw->SetOwner(this);
  ++generation_;
  return 0;
}

FxInstance* FxScript::FindInstance(std::string_view name) const {
  if (name.size() > FxInstance::kNameSize - 1) name = name.substr(0, FxInstance::kNameSize - 1);
  for (const std::unique_ptr<FxInstance>& instance : instances_)
    if (name == instance->InstanceName()) return instance.get();
  return nullptr;
}

FxInstance* FxScript::Resolve(FxCommand& command) {
  if (command.instance_generation != generation_) {
    command.instance = FindInstance(command.name);
    command.instance_generation = generation_;
  }
  return command.instance;
}

void FxScript::RemoveStarted(FxInstance* instance) {
  for (size_t i = 0; i < started_.size(); ++i) {
    if (started_[i] == instance) {
      started_.erase(started_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Replay
// ---------------------------------------------------------------------------

float FxScript::ScriptTime(float effect_time) const {
  if (!std::isfinite(effect_time)) return 0.0f;
  if (!loop_) return effect_time;
  if (!(length_ > 0.0f)) return 0.0f;
  return std::fmod(effect_time, length_);
}

void FxScript::Rewind() {
  waiting_ = false;
  seek_ = false;
  last_sync_ = 0.0f;
  cursor_ = 0;
  enabled_ = true;
  started_.clear();
  for (const std::unique_ptr<FxInstance>& instance : instances_) instance->Reset();
  seek_ = true;
}

bool FxScript::TraceHere() const { return cursor_ >= traced_through_; }

int FxScript::Step() {
  const float t = ScriptTime(GetEffectTime());
  time_ = t;
  if (!(t >= traced_time_)) {
    traced_through_ = 0;
    sync_start_traced_ = static_cast<size_t>(-1);
  }
  traced_time_ = t;
  if (seek_) SetEffectTime(0.0f);
  int result = 1;
  if (cursor_ >= commands_.size()) {
    result = 0;
  } else {
    for (;;) {
      if (cursor_ >= commands_.size()) {
        if (loop_) cursor_ = 0;
        else result = 0;
        break;
      }
      FxCommand& command = commands_[cursor_];
      if (command.kind == FxCommandKind::kSyncTime) {
        if (t < command.time) {
          seek_ = false;
          if (!waiting_) {
            if (TraceHere() && sync_start_traced_ != cursor_) {
              core::Trace("FXSYNC: %.2f Sync Start\n", static_cast<double>(command.time));
              sync_start_traced_ = cursor_;
            }
            waiting_ = true;
          }
          break;  // the cursor stays on this SYNCTIME
        }
        if (TraceHere()) core::Trace("FXSYNC: %.2f Sync End\n", static_cast<double>(command.time));
        waiting_ = false;
        if (seek_) {
          if (TraceHere()) core::Trace("Setting last sync point to %f\n", static_cast<double>(command.time));
          last_sync_ = command.time;
        }
        SetEffectTime(command.time);
      } else {
        Execute(command, t);
      }
      if (cursor_ >= traced_through_) traced_through_ = cursor_ + 1;
      ++cursor_;
    }
  }
  SetEffectTime(t);
  return result;
}

void FxScript::Execute(FxCommand& command, float t) {
  if (command.kind == FxCommandKind::kInstance) return;  // created by InstantiateAll
  const bool start_or_stop = command.kind == FxCommandKind::kStart || command.kind == FxCommandKind::kStop;
  if (start_or_stop && command.name == "FILTER") {
    if (TraceHere()) core::Trace("ERROR: Ignoring FXSTART FXFILTER\n");
    return;
  }
  FxInstance* instance = Resolve(command);
  if (!instance) {
    if (TraceHere())
      core::Trace("FXSCRIPT: %s names no instance %s, skipped\n", KindKeyword(command.kind), command.name.c_str());
    return;
  }
  switch (command.kind) {
    case FxCommandKind::kStart: {
      RemoveStarted(instance);
      if (TraceHere()) core::Trace("FXSTART %s\n", command.name.c_str());
      started_.push_back(instance);
      // The instance counts its time from the last sync point while seeking,
      // and reads the script time as the effect time meanwhile.
      EffectTimeAs now(t);
      instance->Start(seek_ ? last_sync_ : t);
      break;
    }
    case FxCommandKind::kStop:
      RemoveStarted(instance);
      if (TraceHere()) core::Trace("FXSTOP %s\n", command.name.c_str());
      instance->Stop();
      break;
    case FxCommandKind::kLayer:
      instance->SetLayer(command.layer);
      SendCommand(command, instance, t);
      break;
    case FxCommandKind::kCommand:
      SendCommand(command, instance, t);
      break;
    case FxCommandKind::kInstance:
    case FxCommandKind::kSyncTime:
      break;
  }
}

void FxScript::SendCommand(FxCommand& command, FxInstance* instance, float t) {
  const float time = seek_ ? last_sync_ : t;
  if (TraceHere())
    core::Trace("FXCOMMAND (%.2f) %s %s\n", static_cast<double>(time), command.name.c_str(), command.text.c_str());
  int result;
  {
    EffectTimeAs now(t);
    result = instance->Command(time, command.text.c_str());
  }
  if (result != 0 && !command.failure_reported) {
    // Replayed every frame: tell the performer once per opened script.
    command.failure_reported = true;
    core::ShowError("%s : %s", command.name.c_str(), "Error sending command to");
  }
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

int FxScript::RenderPass(int32_t first_layer, int32_t end_layer) {
  UseMaterials use(materials_.get());
  if (!enabled_) return 1;
  const float t = time_;
  // Index loops throughout: an instance may stop itself while drawing.
  for (int32_t layer = first_layer; layer < end_layer; ++layer) {
    for (size_t i = 0; i < started_.size(); ++i) {
      FxInstance* instance = started_[i];
      if (!instance->Hidden() && instance->Layer() == layer) instance->Update(t);
    }
  }
  for (int32_t layer = first_layer; layer < end_layer; ++layer) {
    for (size_t i = 0; i < started_.size(); ++i) started_[i]->BeforeLayer(layer, t);
    for (size_t i = 0; i < started_.size();) {
      FxInstance* instance = started_[i];
      if (!instance->Hidden() && instance->Layer() == layer && instance->Render(t) == 0) {
        started_.erase(started_.begin() + static_cast<std::ptrdiff_t>(i));
        instance->Stop();
        continue;
      }
      ++i;
    }
    for (size_t i = 0; i < started_.size(); ++i) started_[i]->AfterLayer(layer, t);
  }
  for (int32_t layer = 0; layer < kLayerCount; ++layer) {
    for (size_t i = 0; i < started_.size(); ++i) {
      FxInstance* instance = started_[i];
      if (!instance->Hidden() && instance->Layer() == layer) instance->AfterPass(t);
    }
  }
  return 1;
}

int FxScript::RenderDeck() {
  // The replay belongs to drawing: starts and commands may resolve
  // materials, which must come from this effect's library.
  UseMaterials use(materials_.get());
  const int depth = render::RenderTargetDepth();
  Rewind();
  Step();
  for (int32_t layer = 0; layer < 8; ++layer) RenderPass(layer, layer + 1);
  RenderPass(8, kLayerCount);
  // Targets pushed during the passes and never popped (a FILTER's capture:
  // the instance left the started list at its own layer) must not swallow
  // whatever the caller draws next.
  while (render::RenderTargetDepth() > depth)
    if (render::PopRenderTarget() != 0) break;
  return 0;
}

}  // namespace fx

// The effect class registry, the base behaviour of FxInstance, the effect
// time and the material library of an effect.
//
// The registry is an intrusive singly linked list of static records with
// the newest at the head. Records are linked by explicit calls only
// (RegisterEffectClasses at program start), never from static
// constructors, which a static library drops when nothing references them.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/effects_internal.h"
#include "fx/timing.h"
#include "render/layer.h"
#include "render/materials.h"

namespace fx {
namespace {

FxClass* g_classes = nullptr;
MaterialScopeFactory g_material_factory;

FxClass g_video_stream_class(kVideoStreamClass, "Reproduces a video stream", CreateVideoEffect, PrepareVideoEffect);
FxClass g_image_class(kImageClass, "Shows an image", CreateImageEffect, PrepareImageEffect);
FxClass g_sound_syncer_class(kSoundSyncerClass, "Allows tuning of beatmatcher", CreateSoundSyncer);
FxClass g_scene_class(k3DSceneClass, "Reproduces a 3D Scene", CreateSceneEffect);
FxClass g_filter_class(kFilterClass, "Filtering and postfx rendering", CreateFilterEffect);

const FxTemplate kDefaultLoadTemplates[FxInstance::kDefaultTemplateRows] = {
    {"DEFAULT 1", "default load 1"},   {"DEFAULT 2", "default load 2"},   {"DEFAULT 3", "default load 3"},
    {"DEFAULT 4", "default load 4"},   {"DEFAULT 5", "default load 5"},   {"DEFAULT 6", "default load 6"},
    {"DEFAULT 7", "default load 7"},   {"DEFAULT 8", "default load 8"},   {"DEFAULT 9", "default load 9"},
    {"DEFAULT 10", "default load 10"}, {"DEFAULT 11", "default load 11"},
};
const FxTemplate kDefaultCommandTemplates[FxInstance::kDefaultTemplateRows] = {
    {"DEFAULT 1", "default command 1"},   {"DEFAULT 2", "default command 2"},
    {"DEFAULT 3", "default command 3"},   {"DEFAULT 4", "default command 4"},
    {"DEFAULT 5", "default command 5"},   {"DEFAULT 6", "default command 6"},
    {"DEFAULT 7", "default command 7"},   {"DEFAULT 8", "default command 8"},
    {"DEFAULT 9", "default command 9"},   {"DEFAULT 10", "default command 10"},
    {"DEFAULT 11", "default command 11"},
};

// The library of an effect: its own shader manager, started and filled from
// the effect's data/shaders/ by Load, current between Push and Pop.
class ShaderManagerScope final : public MaterialScope {
 public:
  int Load(const char* folder) override {
    if (manager_.Init() != 0) return -1;
    return manager_.ParseShaderDirectory(folder);
  }
  void Push() override {
    // A push that failed must not pop someone else's manager: remember the
    // outcome of each nested push (bit `depth_`).
    const bool pushed = render::PushShaderManager(&manager_) == 0;
    if (depth_ < 64) failed_ = pushed ? failed_ & ~(1ull << depth_) : failed_ | (1ull << depth_);
    ++depth_;
  }
  void Pop() override {
    if (depth_ == 0) return;
    --depth_;
    const bool pushed = depth_ >= 64 || !(failed_ & (1ull << depth_));
    if (pushed && render::CurrentShaderManager() == &manager_) render::PopShaderManager();
  }
  void Clear() override { manager_.Shutdown(); }

 private:
  render::ShaderManager manager_;
  int depth_ = 0;
  uint64_t failed_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------

int32_t ParseDecimalInt(std::string_view text) {
  int32_t value = 0;
  core::ScanNumber(text, &value, {.skip_space = true, .plus = true});
  return value;
}

float ParseDecimalFloat(std::string_view text) {
  // Every spelling scripts have been written with; the double then float
  // rounding is the one they have always been read with.
  constexpr core::NumberSyntax kScriptReal{
      .skip_space = true, .plus = true, .exponent = true, .inf_nan = true, .hex = true};
  double value = 0.0;
  core::ScanNumber(text, &value, kScriptReal);
  // Beyond the float range (1e300, inf) a script has always read 0. The
  // test is made in double: converting such a value to float first is
  // undefined behaviour.
  // Anything below FLT_MAX plus half its last step still rounds to FLT_MAX.
  constexpr double kFloatOverflow = static_cast<double>(FLT_MAX) + 0x1p103;
  if (!(std::fabs(value) < kFloatOverflow)) return 0.0f;
  return static_cast<float>(value);
}

// ---------------------------------------------------------------------------
// Effect time
// ---------------------------------------------------------------------------

float GetEffectTime() { return render::EffectTime(); }
void SetEffectTime(float seconds) { render::SetEffectTime(seconds); }

namespace {
int g_drawing_deck = 0;
}  // namespace

int DrawingDeck() { return g_drawing_deck; }
void SetDrawingDeck(int deck) { g_drawing_deck = deck >= 0 && deck < 6 ? deck : 0; }

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

std::unique_ptr<FxInstance> FxClass::Create() const {
  return std::unique_ptr<FxInstance>(create_ ? create_(*this) : nullptr);
}

void RegisterFxClass(FxClass* record) {
  if (!record || record->registered_) return;
  record->next_ = g_classes;
  record->registered_ = true;
  g_classes = record;
}

void UnregisterFxClass(FxClass* record) {
  if (!record || !record->registered_) return;
  for (FxClass** link = &g_classes; *link; link = &(*link)->next_) {
    if (*link == record) {
      *link = record->next_;
      break;
    }
  }
  record->next_ = nullptr;
  record->registered_ = false;
}

const FxClass* FirstFxClass() { return g_classes; }

const FxClass* FindClass(std::string_view keyword) {
  for (const FxClass* c = g_classes; c; c = c->Next())
    if (keyword == c->Name()) return c;
  return nullptr;
}

void RegisterEffectClasses() {
  RegisterFxClass(&g_video_stream_class);
  RegisterFxClass(&g_image_class);
  RegisterFxClass(&g_sound_syncer_class);
  RegisterFxClass(&g_scene_class);
  RegisterFxClass(&g_filter_class);
}

// ---------------------------------------------------------------------------
// FxInstance base behaviour
// ---------------------------------------------------------------------------

int FxInstance::Load(const char*, const char*) { return 0; }
int FxInstance::Unload() { return 0; }

int FxInstance::Reload(const char* arguments) {
  // Load copies the name into name_, so hand it a copy of the stored one.
  char name[kNameSize];
  std::memcpy(name, name_, kNameSize);
  Unload();
  return Load(name, arguments);
}

int FxInstance::Start(float) { return 0; }
int FxInstance::Stop() { return 0; }
int FxInstance::Reset() { return 0; }

int FxInstance::SetHidden(int32_t hidden) {
  hidden_ = hidden;
  return 0;
}

bool FxInstance::ReservedQuery() { return true; }
void FxInstance::ReservedNotify(int32_t) {}
void FxInstance::ReservedSignal(int32_t) {}
void FxInstance::Update(float) {}
int FxInstance::Render(float) { return 1; }
void FxInstance::AfterPass(float) {}
void FxInstance::BeforeLayer(int32_t, float) {}
void FxInstance::AfterLayer(int32_t, float) {}

int FxInstance::Command(float, const char* command) {
  if (!command) return 0;
  // Split at blanks and tabs without copying: the replay sends every
  // command again on every frame.
  const char* p = command;
  while (IsCommandSeparator(*p)) ++p;
  const char* word = p;
  while (*p && !IsCommandSeparator(*p)) ++p;
  if (p - word != 5 || std::strncmp(word, "LAYER", 5) != 0) return 0;
  while (IsCommandSeparator(*p)) ++p;
  // "LAYER" with no number leaves the layer as it is.
  if (*p) layer_ = ParseDecimalInt(p);
  return 0;
}

int FxInstance::ShowCommandDialog(char*, size_t) { return -1; }
int FxInstance::ShowLoadDialog(char*, size_t) { return -1; }

int FxInstance::GetLoadTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kDefaultLoadTemplates;
  return kDefaultTemplateRows;
}

int FxInstance::GetCommandTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kDefaultCommandTemplates;
  return kDefaultTemplateRows;
}

SoundChannel FxInstance::OfferedSoundChannel() const { return kRecordingSoundChannel; }

void FxInstance::SetInstanceName(const char* name) {
  if (!name) name = "";
  if (name != name_) std::strncpy(name_, name, kNameSize);
  name_[kNameSize - 1] = '\0';
}

// ---------------------------------------------------------------------------
// Material library
// ---------------------------------------------------------------------------

std::unique_ptr<MaterialScope> MakeMaterialScope() {
  if (g_material_factory) return g_material_factory();
  return std::unique_ptr<MaterialScope>(new (std::nothrow) ShaderManagerScope());
}

void SetMaterialScopeFactory(MaterialScopeFactory factory) { g_material_factory = std::move(factory); }

}  // namespace fx

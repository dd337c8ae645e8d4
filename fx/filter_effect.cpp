// The FILTER effect.
//
// Design. The host draws an effect in nine passes; this class works only
// through the layer hooks. In the pass of its own layer, Update pushes the
// drawing deck's capture texture, so that layer and every later one land
// in it, and Render returns 0, which takes the instance out of the started
// list: the host pops the capture when the deck is done. In the passes
// before its layer, AfterPass puts the capture of the previous frame back
// into the target below, through the first treatment that is on. The
// result is one frame late, which no single-pass order could avoid.
//
// Every setting is replayed from the script each frame (Reset, then the
// commands again), so Command allocates nothing. What must outlive a frame
// is kept per deck (one effect may play on two decks): the capture, the
// pair of motion-trail textures and which of them is newest, and whether
// the trail was composed the frame before. Targets that live only within a
// frame (cross-fade, radial work) are shared by the decks.
//
// Only targets this instance pushed are ever popped by it: a pop happens
// while the top of the stack is one of its own textures.
#include "fx/filter_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/core/core.h"
#include "fx/effects_internal.h"
#include "render/deformers.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/postfx.h"
#include "render/values.h"

namespace fx {
namespace {

using render::TextureId;
using render::kNoId;

const FxTemplate kLoadTemplates[] = {
    {"RENDERTARGET", "enables post fx"},
    {"NORENDERTARGET", "disables post fx"},
};

const FxTemplate kCommandTemplates[] = {
    {"FADEIN time r g b", "Fade in to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEOUT time r g b", "Fade out to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEIN2 time r g b", "Secondary fade in to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEOUT2 time r g b", "Secondary fade out to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEIN time r g b limit", "Fade in to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEOUT time r g b limit", "Fade out to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEIN2 time r g b limit", "Secondary fade in to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"FADEOUT2 time r g b limit", "Secondary fade out to specified color. r,g,b go from 0.0 to 1.0. Time in seconds"},
    {"BACKGROUND r g b", "Background color. r,g,b go from 0.0 to 1.0"},
    {"NOISE time", "noise postfx for time duration (seconds). requires BYPASS ON"},
    {"LENS FADEIN time strengh frequency", "lens effect, fades in time seconds"},
    {"LENS OFF", "turns off lens effect strengh frequency"},
    {"BLUR FADEIN time strength", "fade in blur all frame with strength (0.0 to 1.0)."},
    {"BLUR FADEOUT time strength", "fade out blur all frame with strength (0.0 to 1.0)."},
    {"RADIALBLUR FADEIN time scale x y", ""},
    {"RADIALBLUR FADEOUT time scale x y", ""},
    {"COMPONENT time", "fade de componentes en tiempo time. 0.0 para que se kede al maximo"},
    {"COMPONENT OFF", "quita el desplazamiento"},
    {"COMPONENT RED amplitude frequency offset", ""},
    {"COMPONENT GREEN amplitude frequency offset", ""},
    {"COMPONENT BLUE amplitude frequency offset", ""},
    {"UNDERWATER FADEIN time frequency amplitude", "underwater effect. Requires BYPASS ON"},
    {"UNDERWATER FADEOUT time frequency amplitude", "underwater effect. Requires BYPASS ON"},
    {"WOBBLE ON", "Machines of madness"},
    {"WOBBLE OFF", "Machines of madness"},
    {"MOTIONBLUR FADEIN time factor iStartLayer iEndLayer",
     "Does motion blur fade in on selected layers\r\nfactor: [0..1] \r\niStartLayer-iEndLayer: range of layers "
     "affected by blur.\r\nRequires FXFILTER COMMAND BYPYASS ON"},
    {"MOTIONBLUROFF", "turns off motion blur"},
    {"CROSSFADE time startgrade endgrade startlayer endlayer",
     "crossfade between previous render and the layer range selected in selected time\r\nRequires FXFILTER "
     "COMMAND BYPYASS ON"},
    {"CROSSFADEOFF", "turns off crossfade"},
    {"CLEARON", "turns on clearing"},
    {"CLEAROFF", "turns off clearing"},
    {"SHADER ENVIROMENT NOISE FADEIN FADETIME SCALEX SCALEY SCALEZ SPACEFREQUENCY TIMEFREQUENCY", "noise shader"},
};
static_assert(std::size(kCommandTemplates) == 32);

constexpr const char* kTargetFailure =
    "Failed to initialize render to texture infrastructure. If your card supports this consider updating your "
    "drivers";
constexpr int kGrid = 64;           // vertices per side of the distortion grids
constexpr int kMaxNoiseRows = 1024;  // strips of the noise draw
constexpr uint32_t kRadialColour = 0xFF808080u;

// --- words -------------------------------------------------------------------

constexpr int kMaxWords = 12;
struct Words : CommandWords<kMaxWords> {
  bool Is(int i, std::string_view text) const { return i < count && word[i] == text; }
  // The number in word i; 1.0 when the word is missing (non-numbers and
  // non-finite numbers read as 0).
  float Number(int i) const { return i < count ? ParseDecimalFloat(word[i]) : 1.0f; }
  int32_t Integer(int i) const { return i < count ? ParseDecimalInt(word[i]) : 1; }
};

Words Split(const char* text) {
  Words words;
  words.Read(text);
  return words;
}

bool IsNumberStart(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.'; }

float Clamp01(float value) { return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f; }  // NaN gives 0
uint32_t Byte(float value) { return static_cast<uint32_t>(Clamp01(value) * 255.0f); }

// --- the shared blur chain --------------------------------------------------

struct BlurChain {
  int users = 0;
  TextureId level[kBlurChainLevels] = {kNoId, kNoId, kNoId, kNoId, kNoId, kNoId, kNoId, kNoId, kNoId, kNoId};
} g_chain;

void ReleaseChainTextures() {
  for (TextureId& id : g_chain.level) {
    render::ReleaseTexture(id);
    id = kNoId;
  }
}

int AcquireChain() {
  if (g_chain.users == 0) {
    for (int i = 0; i < kBlurChainLevels; ++i) {
      const uint32_t side = static_cast<uint32_t>(kFilterSize) >> i;
      g_chain.level[i] = render::CreateRenderTexture(side, side, render::FMT_X8R8G8B8, 1);
      if (g_chain.level[i] == kNoId) {
        ReleaseChainTextures();
        return -1;
      }
    }
  }
  ++g_chain.users;
  return 0;
}

void ReleaseChain() {
  if (g_chain.users <= 0) return;
  if (--g_chain.users == 0) ReleaseChainTextures();
}

// --- drawing helpers --------------------------------------------------------

using render::ScreenVertex;

const uint16_t kQuadIndices[6] = {0, 2, 1, 0, 3, 2};

void Clear(uint32_t flags, uint32_t colour) {
  render::Device* device = render::LayerDevice();
  if (!device) return;
  std::shared_ptr<render::Surface> depth = device->GetDepthStencilSurface();
  if (!depth) flags &= ~(render::CLEAR_ZBUFFER | render::CLEAR_STENCIL);
  else if (!render::FormatHasStencil(depth->GetDesc().format)) flags &= ~render::CLEAR_STENCIL;
  if (flags) device->Clear(0, nullptr, flags, colour, 1.0f, 0);
}

// Full-target states for a flat draw: no depth test, no culling, nothing
// an earlier effect left that would change it.
void FlatStates() {
  using namespace render;
  SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
  SetRenderStateCached(RS_ZWRITEENABLE, 0);
  SetRenderStateCached(RS_CULLMODE, CULL_NONE);
  SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
  SetRenderStateCached(RS_ALPHATESTENABLE, 0);
  SetRenderStateCached(RS_STENCILENABLE, 0);
  SetRenderStateCached(RS_FOGENABLE, 0);
  SetRenderStateCached(RS_LIGHTING, 0);
  SetRenderStateCached(RS_CLIPPLANEENABLE, 0);
  SetRenderStateCached(RS_BLENDOP, BLENDOP_ADD);
  SetRenderStateCached(RS_COLORWRITEENABLE, COLORWRITE_RED | COLORWRITE_GREEN | COLORWRITE_BLUE | COLORWRITE_ALPHA);
}

void Blending(bool on, uint32_t source = render::BLEND_ONE, uint32_t destination = render::BLEND_ZERO) {
  using namespace render;
  SetRenderStateCached(RS_ALPHABLENDENABLE, on ? 1 : 0);
  if (on) {
    SetRenderStateCached(RS_SRCBLEND, source);
    SetRenderStateCached(RS_DESTBLEND, destination);
  }
}

// Stage 0 = the texture (colour), alpha from the texture factor; stage 1
// off; `address` for both directions.
void TextureStage(uint32_t address) {
  using namespace render;
  SetStageStateCached(0, TSS_COLOROP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_TFACTOR);
  SetStageStateCached(0, TSS_TEXCOORDINDEX, 0);
  SetStageStateCached(0, TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE);
  SetStageStateCached(0, TSS_ADDRESSU, address);
  SetStageStateCached(0, TSS_ADDRESSV, address);
  SetStageStateCached(0, TSS_MINFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MAGFILTER, TEXF_LINEAR);
  SetStageStateCached(0, TSS_MIPFILTER, TEXF_NONE);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
}

// Quads of screen vertices (four each) from memory.
void DrawQuads(const std::vector<ScreenVertex>& vertices) {
  render::Device* device = render::LayerDevice();
  const size_t quads = vertices.size() / 4;
  if (!device || quads == 0) return;
  std::vector<uint16_t> indices(quads * 6);
  for (size_t q = 0; q < quads; ++q)
    for (int k = 0; k < 6; ++k) indices[q * 6 + k] = static_cast<uint16_t>(q * 4 + kQuadIndices[k]);
  device->SetFVF(render::kFvfScreenVertex);
  device->DrawIndexedPrimitiveUP(render::PT_TRIANGLELIST, 0, static_cast<uint32_t>(vertices.size()),
                                 static_cast<uint32_t>(quads * 2), indices.data(), render::FMT_INDEX16,
                                 vertices.data(), sizeof(ScreenVertex));
}

void AddQuad(std::vector<ScreenVertex>* out, float l, float t, float r, float b, float u0, float v0, float u1,
             float v1, uint32_t diffuse = 0xFFFFFFFFu) {
  out->push_back({l, t, 0.0f, 1.0f, diffuse, u0, v0});
  out->push_back({r, t, 0.0f, 1.0f, diffuse, u1, v0});
  out->push_back({r, b, 0.0f, 1.0f, diffuse, u1, v1});
  out->push_back({l, b, 0.0f, 1.0f, diffuse, u0, v1});
}

void Opaque(TextureId texture) {
  Blending(false);
  render::DrawScreenQuad(texture, 0xFFFFFFFFu);
}

// A 64 x 64 vertex grid over the current target, textured with `texture`:
// depth(u, v) gives each vertex's depth (1 covers the target exactly,
// greater draws it nearer the centre) and uv(i, j, &u, &v) its texture
// coordinates.
template <class Depth, class Uv>
void DrawGrid(TextureId texture, Depth depth, Uv uv) {
  using namespace render;
  Device* device = LayerDevice();
  std::shared_ptr<BaseTexture> source = GetBaseTextureById(texture);
  if (!device || !source) return;
  const float w = RenderTargetWidth(), h = RenderTargetHeight();
  if (!(w > 0.0f) || !(h > 0.0f)) return;
  std::vector<RenderVertex> vertices(kGrid * kGrid);
  for (int i = 0; i < kGrid; ++i) {
    for (int j = 0; j < kGrid; ++j) {
      const float gu = static_cast<float>(j) / (kGrid - 1), gv = static_cast<float>(i) / (kGrid - 1);
      RenderVertex& v = vertices[static_cast<size_t>(i) * kGrid + j];
      // The grid spans -0.5 .. size - 0.5: at depth 1 each texel lands on
      // its own pixel.
      v.x = -0.5f + gu * w;
      v.y = -0.5f + gv * h;
      v.z = std::max(0.05f, depth(gu, gv));
      v.nx = v.ny = 0.0f;
      v.nz = -1.0f;
      v.diffuse = 0xFFFFFFFFu;
      uv(i, j, &v.u, &v.v);
    }
  }
  // Each cell's diagonal points at the centre and the cells of the middle
  // row and column are fans around their own centre, so the triangles are
  // mirror images about both axes and so is the picture.
  constexpr int kMiddle = (kGrid - 1) / 2;
  std::vector<uint16_t> indices;
  indices.reserve((kGrid - 1) * (kGrid - 1) * 6 + 2 * kGrid * 6);
  for (int i = 0; i + 1 < kGrid; ++i) {
    for (int j = 0; j + 1 < kGrid; ++j) {
      const uint16_t a = static_cast<uint16_t>(i * kGrid + j), b = static_cast<uint16_t>(a + 1),
                     c = static_cast<uint16_t>(a + kGrid), d = static_cast<uint16_t>(c + 1);
      if (i == kMiddle || j == kMiddle) {
        const RenderVertex &va = vertices[a], &vb = vertices[b], &vc = vertices[c], &vd = vertices[d];
        RenderVertex centre = va;
        const float gu = (j + 0.5f) / (kGrid - 1), gv = (i + 0.5f) / (kGrid - 1);
        centre.x = -0.5f + gu * w;
        centre.y = -0.5f + gv * h;
        centre.z = std::max(0.05f, depth(gu, gv));
        centre.u = (va.u + vb.u + vc.u + vd.u) * 0.25f;
        centre.v = (va.v + vb.v + vc.v + vd.v) * 0.25f;
        const uint16_t e = static_cast<uint16_t>(vertices.size());
        vertices.push_back(centre);
        indices.insert(indices.end(), {a, b, e, b, d, e, d, c, e, c, a, e});
      } else if ((i < kMiddle) == (j < kMiddle)) {
        indices.insert(indices.end(), {a, b, d, a, d, c});
      } else {
        indices.insert(indices.end(), {a, b, c, b, d, c});
      }
    }
  }
  // Identity world and view; the projection takes the grid's pixel
  // positions at depth 1 exactly onto the target.
  Matrix saved[3];
  const TransformType kinds[3] = {TS_WORLD, TS_VIEW, TS_PROJECTION};
  for (int k = 0; k < 3; ++k) device->GetTransform(kinds[k], &saved[k]);
  Matrix projection{};
  projection.m[0][0] = 4.0f / w;
  projection.m[1][1] = -4.0f / h;
  projection.m[2][2] = 1.0005f;
  projection.m[2][3] = 1.0f;
  projection.m[3][0] = -2.0f;
  projection.m[3][1] = 2.0f;
  projection.m[3][2] = -0.0010005f;
  projection.m[3][3] = 1.0f;
  device->SetTransform(TS_WORLD, Matrix::Identity());
  device->SetTransform(TS_VIEW, Matrix::Identity());
  device->SetTransform(TS_PROJECTION, projection);
  FlatStates();
  Blending(false);
  TextureStage(TADDRESS_CLAMP);
  SetRenderStateCached(RS_TEXTUREFACTOR, 0xFFFFFFFFu);
  device->SetTexture(0, source);
  device->SetFVF(kFvfRenderVertex);
  device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, static_cast<uint32_t>(vertices.size()),
                                 static_cast<uint32_t>(indices.size() / 3), indices.data(), FMT_INDEX16,
                                 vertices.data(), sizeof(RenderVertex));
  device->SetTexture(0, nullptr);
  for (int k = 0; k < 3; ++k) device->SetTransform(kinds[k], saved[k]);
}

void PlainUv(int i, int j, float* u, float* v) {
  *u = static_cast<float>(j) / (kGrid - 1);
  *v = static_cast<float>(i) / (kGrid - 1);
}

// The chain from `source`: level 0 a copy, each further level half the one
// before (bilinear, so each texel is the mean of four).
void BuildChain(TextureId source) {
  TextureId from = source;
  for (TextureId level : g_chain.level) {
    if (render::PushRenderTarget(level, kNoId) != 0) return;
    Opaque(from);
    render::PopRenderTarget();
    from = level;
  }
}

}  // namespace

FxInstance* CreateFilterEffect(const FxClass&) { return NewInstance<FilterEffect>(); }

int BlurChainUsers() { return g_chain.users; }

// ---------------------------------------------------------------------------
// Life
// ---------------------------------------------------------------------------

FilterEffect::~FilterEffect() { ReleaseTargets(); }

const char* FilterEffect::GetName() const { return kFilterClass; }
const char* FilterEffect::GetDescription() const { return "Filtering and postfx rendering"; }

int FilterEffect::GetLoadTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kLoadTemplates;
  return static_cast<int>(std::size(kLoadTemplates));
}

int FilterEffect::GetCommandTemplates(const FxTemplate** rows) const {
  if (rows) *rows = kCommandTemplates;
  return static_cast<int>(std::size(kCommandTemplates));
}

int FilterEffect::CaptureTexture(int deck) const {
  return deck >= 0 && deck < kFilterDecks ? decks_[deck].capture : kNoId;
}

void FilterEffect::ClearSettings() { settings_ = Settings(); }

void FilterEffect::ReleaseTargets() {
  PopOwnTargets();
  for (DeckTargets& deck : decks_) {
    render::ReleaseTexture(deck.capture);
    render::ReleaseTexture(deck.depth);
    for (int id : deck.trail) render::ReleaseTexture(id);
    deck = DeckTargets();
  }
  for (int& id : radial_work_) {
    render::ReleaseTexture(id);
    id = kNoId;
  }
  render::ReleaseTexture(crossfade_target_);
  crossfade_target_ = kNoId;
  if (holds_chain_) ReleaseChain();
  holds_chain_ = false;
  render_targets_ = false;
}

int FilterEffect::Load(const char* name, const char* arguments) {
  SetInstanceName(name);
  Unload();
  loaded_ = true;
  if (!arguments || std::strcmp(arguments, "RENDERTARGET") != 0) return 0;
  render_targets_ = true;
  bool made = MakeDeckTargets(&decks_[0]) == 0;
  for (int& id : radial_work_)
    made = made && (id = render::CreateRenderTexture(kFilterSize, kFilterSize, render::FMT_X8R8G8B8, 1)) != kNoId;
  made = made && (crossfade_target_ = render::CreateRenderTexture(kFilterSize, kFilterSize, render::FMT_X8R8G8B8,
                                                                  1)) != kNoId;
  made = made && AcquireChain() == 0;
  holds_chain_ = made;
  if (!made) {
    core::ShowError("%s", kTargetFailure);
    ReleaseTargets();
    loaded_ = false;
    return -1;
  }
  return 0;
}

int FilterEffect::Unload() {
  ReleaseTargets();
  ClearSettings();
  loaded_ = false;
  return 0;
}

int FilterEffect::Reset() {
  ClearSettings();
  PopOwnTargets();
  // A new frame of the drawing deck: what it composed so far becomes the
  // frame before.
  if (render_targets_) {
    DeckTargets& deck = decks_[std::clamp(DrawingDeck(), 0, kFilterDecks - 1)];
    deck.composed_before = deck.composed;
    deck.composed = false;
  }
  return 0;
}

int FilterEffect::MakeDeckTargets(DeckTargets* deck) {
  using namespace render;
  deck->made = true;
  deck->capture = CreateRenderTexture(kFilterSize, kFilterSize, FMT_X8R8G8B8, 1);
  deck->depth = deck->capture == kNoId ? kNoId : CreateDepthSurface(kFilterSize, kFilterSize, FMT_X8R8G8B8);
  for (int& id : deck->trail)
    if (deck->depth != kNoId) id = CreateRenderTexture(kFilterSize, kFilterSize, FMT_X8R8G8B8, 1);
  if (deck->capture == kNoId || deck->depth == kNoId || deck->trail[0] == kNoId || deck->trail[1] == kNoId) {
    ReleaseTexture(deck->capture);
    ReleaseTexture(deck->depth);
    for (int id : deck->trail) ReleaseTexture(id);
    *deck = DeckTargets();
    deck->made = deck->failed = true;
    return -1;
  }
  // A new capture shows the background until something is drawn into it.
  for (TextureId id : {deck->capture, deck->trail[0], deck->trail[1]}) {
    if (PushRenderTarget(id, id == deck->capture ? deck->depth : kNoId) != 0) continue;
    Clear(CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL, 0xFF000000u | settings_.background);
    PopRenderTarget();
  }
  return 0;
}

FilterEffect::DeckTargets* FilterEffect::Deck() {
  if (!render_targets_) return nullptr;
  const int index = DrawingDeck();
  if (index < 0 || index >= kFilterDecks) return nullptr;
  DeckTargets* deck = &decks_[index];
  if (!deck->made && MakeDeckTargets(deck) != 0) {
    core::RaiseRuntimeMessage("FILTER %s: %s; deck %d shows the layers unfiltered", InstanceName(), kTargetFailure,
                              index + 1);
  }
  return deck->failed ? nullptr : deck;
}

bool FilterEffect::IsOwnTarget(int texture) const {
  if (texture == kNoId) return false;
  if (texture == crossfade_target_ || texture == radial_work_[0] || texture == radial_work_[1]) return true;
  for (const DeckTargets& deck : decks_)
    if (texture == deck.capture || texture == deck.trail[0] || texture == deck.trail[1]) return true;
  return false;
}

void FilterEffect::PopOwnTargets() {
  while (IsOwnTarget(render::CurrentRenderTargetTexture()))
    if (render::PopRenderTarget() != 0) break;
}

void FilterEffect::ClearCapture(const DeckTargets&) {
  uint32_t flags = render::CLEAR_ZBUFFER | render::CLEAR_STENCIL;
  if (!settings_.clear_off) flags |= render::CLEAR_TARGET;
  Clear(flags, 0xFF000000u | settings_.background);
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

int FilterEffect::Command(float time, const char* command) {
  const Words w = Split(command);
  Settings& s = settings_;
  auto colour_fade = [&](int index, bool fade_in) {
    ColourFade& fade = s.fades[index];
    fade.duration = w.Number(1);
    fade.r = w.Number(2);
    fade.g = w.Number(3);
    fade.b = w.Number(4);
    fade.limit = w.Number(5);
    fade.start = time;
    (fade_in ? fade.fade_in : fade.fade_out) = true;
  };
  if (w.Is(0, "BACKGROUND")) {
    s.background = Byte(w.Number(1)) << 16 | Byte(w.Number(2)) << 8 | Byte(w.Number(3));
  } else if (w.Is(0, "FADEIN")) {
    colour_fade(0, true);
  } else if (w.Is(0, "FADEOUT")) {
    colour_fade(0, false);
  } else if (w.Is(0, "FADEIN2")) {
    colour_fade(1, true);
  } else if (w.Is(0, "FADEOUT2")) {
    colour_fade(1, false);
  } else if (w.Is(0, "BYPASS")) {
    s.capturing = w.Is(1, "ON");
  } else if (w.Is(0, "NOISE")) {
    s.noise.Set(true, time, w.Number(1));
    s.noise_strength = w.Number(2);
    s.noise_on = true;
  } else if (w.Is(0, "LENS") && w.Is(1, "OFF")) {
    s.lens_on = false;
  } else if (w.Is(0, "LENS")) {
    s.lens_fade_in = w.Is(1, "FADEIN");
    s.lens.Set(true, time, w.Number(2));
    s.lens_strength = w.Number(3);
    s.lens_frequency = w.Number(4);
    s.lens_on = true;
  } else if (w.Is(0, "QUALITYBLUR")) {
    s.quality_blur = w.Is(1, "ON");
  } else if (w.Is(0, "COMPONENT") && (w.Is(1, "RED") || w.Is(1, "GREEN") || w.Is(1, "BLUE"))) {
    Channel& channel = s.channels[w.Is(1, "RED") ? 0 : (w.Is(1, "GREEN") ? 1 : 2)];
    channel.amplitude = w.Number(2);
    channel.frequency = w.Number(3);
    channel.offset = w.Number(4);
  } else if (w.Is(0, "COMPONENT") && w.Is(1, "OFF")) {
    s.component_on = false;
  } else if (w.Is(0, "COMPONENT")) {
    s.component.Set(false, time, w.Number(1));
    s.component_on = true;
  } else if (w.Is(0, "BLUR")) {
    s.blur_fade_in = w.Is(1, "FADEIN");
    s.blur.Set(true, time, w.Number(2));
    s.blur_strength = w.Number(3);
    s.blur_on = true;
  } else if (w.Is(0, "RADIALBLUR")) {
    s.radial_fade_in = w.Is(1, "FADEIN");
    s.radial.Set(true, time, w.Number(2));
    s.radial_scale = w.Number(3);
    s.radial_on = true;
  } else if (w.Is(0, "WOBBLE")) {
    if (w.count > 1) s.wobble = w.Is(1, "ON");
  } else if (w.Is(0, "TRANSITION")) {
    s.transition = true;
  } else if (w.Is(0, "UNDERWATER")) {
    s.underwater.Set(w.Is(1, "FADEIN"), time, w.Number(2));
    s.underwater_frequency = w.Number(3);
    s.underwater_amplitude = w.Number(4);
    s.underwater_on = true;
  } else if (w.Is(0, "SHADER")) {
    render::ShaderManager* manager = render::CurrentShaderManager();
    if (!manager || w.count < 2) return 0;
    render::Shader* shader = manager->GetShaderByHandle(manager->FindShader(std::string(w.word[1]).c_str()));
    if (!shader) return 0;  // an unknown material changes nothing
    if (w.Is(2, "NOISE")) {
      render::NoiseDeformer& noise = render::SharedNoiseDeformer();
      noise.SetFade(w.Is(3, "FADEIN"), time, w.Number(4));
      noise.SetParameters(w.Number(5), w.Number(6), w.Number(7), w.Number(8), w.Number(9));
      shader->vertex_generator = &noise;
    } else if (w.Is(2, "NOISENORMAL")) {
      shader->vertex_generator = &render::SharedNoiseNormalDeformer();
    } else if (w.Is(2, "TWIST")) {
      shader->vertex_generator = &render::SharedTwistDeformer();
    } else {
      shader->vertex_generator = nullptr;
    }
  } else if (w.Is(0, "MOTIONBLUR")) {
    s.motion_first = true;
    s.motion_time = time;
    s.motion_fade_in = w.Is(1, "FADEIN");
    s.motion.Set(true, time, w.Number(2));
    s.motion_factor = w.Number(3);
    s.motion_start = w.Integer(4);
    s.motion_end = w.Integer(5);
    s.motion_on = s.motion_factor != 0.0f;
  } else if (w.Is(0, "MOTIONBLUROFF")) {
    s.motion_on = false;
  } else if (w.Is(0, "CROSSFADE")) {
    s.crossfade.Set(true, time, w.Number(1));
    s.grade_start = w.Number(2);
    s.grade_end = w.Number(3);
    s.crossfade_start = w.Integer(4);
    s.crossfade_end = w.Integer(5);
    s.crossfade_on = true;
  } else if (w.Is(0, "CROSSFADEOFF")) {
    s.crossfade_on = false;
  } else if (w.Is(0, "CLEAROFF")) {
    s.clear_off = true;
  } else if (w.Is(0, "CLEARON")) {
    s.clear_off = false;
  } else if (w.count > 0 && !IsNumberStart(w.word[0].front())) {
    // FXLAYER hands its layer number over as a command too: numbers and
    // empty commands are no mistake.
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

int FilterEffect::Render(float) { return 0; }

void FilterEffect::Update(float) {
  Settings& s = settings_;
  s.capturing = s.motion_on || s.crossfade_on || s.noise_on || s.lens_on || s.wobble || s.blur_on ||
                s.underwater_on || s.transition || s.quality_blur || s.component_on || s.radial_on;
  if (!s.capturing) return;
  DeckTargets* deck = Deck();
  if (!deck || render::PushRenderTarget(deck->capture, deck->depth) != 0) {
    s.capturing = false;
    return;
  }
  ClearCapture(*deck);
  deck->captured = true;
}

void FilterEffect::BeforeLayer(int32_t layer, float) {
  const Settings& s = settings_;
  // A range that ends before it starts never closes: nothing is pushed.
  if (!s.crossfade_on || layer != s.crossfade_start || s.crossfade_start > s.crossfade_end) return;
  DeckTargets* deck = Deck();
  if (!deck || crossfade_target_ == kNoId) return;
  if (render::PushRenderTarget(crossfade_target_, deck->depth) != 0) return;
  Clear(render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, 0xFF000000u | s.background);
}

void FilterEffect::AfterLayer(int32_t layer, float time) {
  Settings& s = settings_;
  if (s.motion_on && layer == s.motion_end) {
    if (DeckTargets* deck = Deck()) ComposeMotionTrail(deck, time);
  }
  if (s.crossfade_on && layer == s.crossfade_end) ComposeCrossFade(time);
}

void FilterEffect::ComposeMotionTrail(DeckTargets* deck, float time) {
  using namespace render;
  Settings& s = settings_;
  bool running = false;
  const float v = s.motion.Value(time, &running);
  float m;
  if (s.motion_fade_in) {
    m = v * (s.motion_factor - 1.0f) + 1.0f;
  } else {
    m = s.motion_factor + (1.0f - s.motion_factor) * v;
    if (!running) {
      s.motion_on = false;
      return;
    }
  }
  const TextureId drawn = CurrentRenderTargetTexture();
  if (drawn == kNoId) {
    // The back buffer cannot be read as a texture.
    if (!deck->back_buffer_reported) core::Trace("FILTER %s: no motion blur into the back buffer\n", InstanceName());
    deck->back_buffer_reported = true;
    return;
  }
  const TextureId destination = deck->trail[deck->parity], previous = deck->trail[1 - deck->parity];
  if (PushRenderTarget(destination, kNoId) != 0) return;
  Opaque(previous);
  // A trail starts from the background after a new "MOTIONBLUR", or when
  // this deck composed none the frame before; the replay re-sends the same
  // command every frame, which must not restart it.
  if ((s.motion_first && (!deck->cleared_once || deck->cleared_for != s.motion_time)) || !deck->composed_before) {
    Clear(CLEAR_TARGET, 0xFF000000u | s.background);
    deck->cleared_once = true;
    deck->cleared_for = s.motion_time;
  }
  Blending(true, BLEND_SRCALPHA, BLEND_INVSRCALPHA);
  DrawScreenQuad(drawn, Byte(m) << 24);
  PopRenderTarget();
  Opaque(destination);
  deck->parity = 1 - deck->parity;
  deck->composed = true;
}

void FilterEffect::ComposeCrossFade(float time) {
  using namespace render;
  const Settings& s = settings_;
  if (crossfade_target_ == kNoId || CurrentRenderTargetTexture() != crossfade_target_) return;
  PopRenderTarget();
  const float g = s.grade_start + (s.grade_end - s.grade_start) * s.crossfade.Value(time);
  Blending(true, BLEND_SRCALPHA, BLEND_INVSRCALPHA);
  DrawScreenQuad(crossfade_target_, Byte(g) << 24);
  Blending(false);
}

void FilterEffect::AfterPass(float time) {
  using namespace render;
  Settings& s = settings_;
  DeckTargets* deck = Deck();
  if (!deck) {
    DrawColourFades(time);
    return;
  }
  const TextureId capture = deck->capture;
  // Until the deck first captures, its capture shows this filter's
  // background as it is now.
  if (!deck->captured && PushRenderTarget(capture, deck->depth) == 0) {
    Clear(CLEAR_TARGET, 0xFF000000u | s.background);
    PopRenderTarget();
  }
  // 1. The zoom burst, added to what is there.
  if (s.radial_on) {
    // A fade-out that has run its course is off before it draws again.
    if (!s.radial_fade_in && s.radial.Finished(time)) s.radial_on = false;
  }
  if (s.radial_on) {
    const float v = s.radial.Value(time);
    const float strength = s.radial_fade_in ? v : 1.0f - v;
    RadialBlur(capture, radial_work_[0], radial_work_[1], 1, s.radial_scale * strength, kRadialColour,
               RadialBlurDraw::kAdditive);
  }
  // 2. The first treatment that applies puts the capture back.
  // A treatment whose fade has run out is off for the rest of the frame.
  if (s.noise_on && s.noise.Finished(time)) s.noise_on = false;
  if (s.noise_on) {
    PopOwnTargets();
    const float a = s.noise.Value(time);
    const float w = RenderTargetWidth(), h = RenderTargetHeight();
    const int rows = std::min(static_cast<int>(h), kMaxNoiseRows);
    std::vector<ScreenVertex> strips;
    strips.reserve(static_cast<size_t>(rows) * 4);
    for (int i = 0; i < rows; ++i) {
      const float phase = (i % 2 == 0) ? static_cast<float>(i) + 1.75f : static_cast<float>(i) - 1.75f;
      const float g = (1.0f - a) * s.noise_strength * std::sin(phase);
      const float v0 = static_cast<float>(i) / static_cast<float>(rows), v1 = static_cast<float>(i + 1) / rows;
      AddQuad(&strips, -0.5f, i - 0.5f, w - 0.5f, i + 0.5f, g, v0, g + 1.0f, v1);
    }
    FlatStates();
    Blending(false);
    TextureStage(TADDRESS_WRAP);
    SetRenderStateCached(RS_TEXTUREFACTOR, 0xFFFFFFFFu);
    LayerDevice()->SetTexture(0, GetBaseTextureById(capture));
    DrawQuads(strips);
    LayerDevice()->SetTexture(0, nullptr);
  } else if (s.wobble) {
    PopOwnTargets();
    if (s.blur_on) BuildChain(capture);
    const float t = EffectTime();
    DrawGrid(
        capture,
        [t](float u, float v) {
          const float x = 2.0f * u - 1.0f, y = 2.0f * v - 1.0f, r = std::sqrt(x * x + y * y);
          return 0.75f + 0.25f * (1.0f - 0.8f * r) * std::sin(12.0f * r - 7.0f * t);
        },
        PlainUv);
  } else if (!s.transition) {
    if (s.component_on && s.component.duration > 0.0f && s.component.Finished(time)) s.component_on = false;
    if (s.lens_on && s.lens.Finished(time)) s.lens_on = false;
    if (s.component_on) {
      PopOwnTargets();
      // "COMPONENT 0" holds the shift at full strength.
      const float fade = s.component.duration > 0.0f ? s.component.Value(time) : 1.0f;
      const float w = RenderTargetWidth(), h = RenderTargetHeight();
      const uint32_t masks[3] = {COLORWRITE_RED | COLORWRITE_ALPHA, COLORWRITE_GREEN | COLORWRITE_ALPHA,
                                 COLORWRITE_BLUE | COLORWRITE_ALPHA};
      FlatStates();
      Blending(true, BLEND_ONE, BLEND_ONE);
      TextureStage(TADDRESS_CLAMP);
      SetRenderStateCached(RS_TEXTUREFACTOR, 0xFFFFFFFFu);
      LayerDevice()->SetTexture(0, GetBaseTextureById(capture));
      for (int c = 0; c < 3; ++c) {
        const Channel& channel = s.channels[c];
        const float dx = channel.amplitude * std::sin(EffectTime() * channel.frequency + channel.offset) * fade;
        if (!std::isfinite(dx)) continue;
        SetRenderStateCached(RS_COLORWRITEENABLE, masks[c]);
        std::vector<ScreenVertex> quad;
        AddQuad(&quad, dx - 0.5f, -0.5f, dx + w - 0.5f, h - 0.5f, 0.0f, 0.0f, 1.0f, 1.0f);
        DrawQuads(quad);
      }
      SetRenderStateCached(RS_COLORWRITEENABLE,
                           COLORWRITE_RED | COLORWRITE_GREEN | COLORWRITE_BLUE | COLORWRITE_ALPHA);
      LayerDevice()->SetTexture(0, nullptr);
      Blending(false);
    } else if (s.underwater_on) {
      PopOwnTargets();
      const float p = EffectTime() * s.underwater_frequency;
      const float q = s.underwater.Value(time) * s.underwater_amplitude;
      DrawGrid(
          capture, [](float, float) { return 1.0f; },
          [p, q](int i, int j, float* u, float* v) {
            PlainUv(i, j, u, v);
            const float k = static_cast<float>(i * j);
            if (j != 0 && j != kGrid - 1) *u += q * std::sin(k * 0.125f + p);
            if (i != 0 && i != kGrid - 1) *v += q * std::cos(p + k * 0.2f);
          });
    } else if (s.lens_on) {
      PopOwnTargets();
      const float e = s.lens.Value(time);
      const float x = s.lens_fade_in ? (1.0f - e) * s.lens_strength * std::sin(e * s.lens_frequency)
                                     : e * s.lens_strength * std::cos(e * s.lens_frequency);
      DrawGrid(
          capture,
          [x](float u, float v) {
            const float m = (2.0f * u - 1.0f) * (2.0f * u - 1.0f) + (2.0f * v - 1.0f) * (2.0f * v - 1.0f);
            return m <= 1.0f ? 1.0f + x * (1.0f - m) : 1.0f;
          },
          PlainUv);
    } else if (s.capturing) {
      PopOwnTargets();
      DrawCopy(deck, time);
    }
  }
  // 3. Colour fades over everything.
  DrawColourFades(time);
}

void FilterEffect::DrawCopy(DeckTargets* deck, float time) {
  using namespace render;
  Settings& s = settings_;
  const TextureId capture = deck->capture;
  float e = 0.0f;
  if (s.blur_on) {
    bool running = false;
    if (s.blur_fade_in && !(s.blur.duration > 0.0f)) {
      e = s.blur_strength * (kBlurChainLevels - 1);
    } else {
      float level = s.blur_strength * s.blur.Value(time, &running);
      if (s.blur_fade_in) level = s.blur_strength - level;
      e = level * (kBlurChainLevels - 1);
      if (!running) s.blur_on = false;
    }
  }
  // Level e - 1 of the chain, between two levels; up to level 1 the copy is
  // exact.
  const float level = std::min(e - 1.0f, static_cast<float>(kBlurChainLevels - 1));
  if (!s.blur_on || !(level > 0.0f) || g_chain.users == 0) {
    Opaque(capture);
    return;
  }
  BuildChain(capture);
  const int f = std::min(static_cast<int>(level), kBlurChainLevels - 2);
  const float weight = Clamp01(level - static_cast<float>(f));
  Device* device = LayerDevice();
  FlatStates();
  Blending(false);
  TextureStage(TADDRESS_CLAMP);
  SetRenderStateCached(RS_TEXTUREFACTOR, Byte(weight) << 24);
  // Stage 1 mixes: weight x level f + 1 (stage 0) + (1 - weight) x level f.
  SetStageStateCached(1, TSS_COLOROP, TOP_BLENDFACTORALPHA);
  SetStageStateCached(1, TSS_COLORARG1, TA_CURRENT);
  SetStageStateCached(1, TSS_COLORARG2, TA_TEXTURE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(1, TSS_ALPHAARG1, TA_CURRENT);
  SetStageStateCached(1, TSS_TEXCOORDINDEX, 0);
  SetStageStateCached(1, TSS_TEXTURETRANSFORMFLAGS, TTFF_DISABLE);
  SetStageStateCached(1, TSS_ADDRESSU, TADDRESS_CLAMP);
  SetStageStateCached(1, TSS_ADDRESSV, TADDRESS_CLAMP);
  SetStageStateCached(1, TSS_MINFILTER, TEXF_LINEAR);
  SetStageStateCached(1, TSS_MAGFILTER, TEXF_LINEAR);
  SetStageStateCached(1, TSS_MIPFILTER, TEXF_NONE);
  SetStageStateCached(2, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(2, TSS_ALPHAOP, TOP_DISABLE);
  device->SetTexture(0, GetBaseTextureById(g_chain.level[f + 1]));
  device->SetTexture(1, GetBaseTextureById(g_chain.level[f]));
  std::vector<ScreenVertex> quad;
  AddQuad(&quad, -0.5f, -0.5f, RenderTargetWidth() - 0.5f, RenderTargetHeight() - 0.5f, 0.0f, 0.0f, 1.0f, 1.0f);
  DrawQuads(quad);
  device->SetTexture(0, nullptr);
  device->SetTexture(1, nullptr);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
}

void FilterEffect::DrawColourFades(float time) {
  using namespace render;
  std::vector<ScreenVertex> quads;
  for (ColourFade& fade : settings_.fades) {
    if (!fade.fade_in && !fade.fade_out) continue;
    const float e = fade.duration > 0.0f ? (time - fade.start) / fade.duration : 1.0f;
    if (!(e < 1.0f)) {
      fade.fade_in = fade.fade_out = false;
      continue;
    }
    const float ce = Clamp01(e);
    const uint32_t colour = Byte(fade.limit * (fade.fade_in ? 1.0f - ce : ce)) << 24 | Byte(fade.r) << 16 |
                            Byte(fade.g) << 8 | Byte(fade.b);
    AddQuad(&quads, -0.5f, -0.5f, RenderTargetWidth() - 0.5f, RenderTargetHeight() - 0.5f, 0.0f, 0.0f, 1.0f, 1.0f,
            colour);
  }
  if (quads.empty()) return;
  FlatStates();
  Blending(true, BLEND_SRCALPHA, BLEND_INVSRCALPHA);
  SetStageStateCached(0, TSS_COLOROP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_COLORARG1, TA_DIFFUSE);
  SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
  SetStageStateCached(0, TSS_ALPHAARG1, TA_DIFFUSE);
  SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
  SetStageStateCached(1, TSS_ALPHAOP, TOP_DISABLE);
  LayerDevice()->SetTexture(0, nullptr);
  // Fade 1 first, fade 2 over it: one draw keeps the order.
  DrawQuads(quads);
  Blending(false);
}

}  // namespace fx

// A test-only effect class, SWATCH, that draws a known picture: a solid
// colour, a horizontal or vertical gradient, or a sawtooth of a fixed step
// per pixel, over the whole target or a left part of it, optionally moving
// right with the effect time. Tests compute every pixel it draws with
// SwatchPixel.
//
// Script arguments (words split at blanks):
//   FILL r g b | HGRAD r g b r g b | VGRAD r g b r g b | SAW step
//   followed by COVER fraction (of the width, from the left; default 1)
//   and MOVE pixels-per-second (default 0).
//
// It draws a point-sampled texture of the target's size with the quad's
// corners on pixel edges, so texel (x, y) lands exactly on pixel (x, y).
#pragma once

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fx/effect.h"
#include "render/device.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/values.h"

namespace server_test {

struct SwatchSpec {
  enum class Kind { kFill, kHGrad, kVGrad, kSaw };
  Kind kind = Kind::kFill;
  int from[3] = {0, 0, 0};
  int to[3] = {0, 0, 0};
  int step = 8;
  double cover = 1.0;
  double move = 0.0;
};

inline bool ParseSwatchNumber(const std::string& word, double* value) {
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), *value);
  return ec == std::errc() && end == word.data() + word.size();
}

inline bool ParseSwatch(const char* text, SwatchSpec* spec) {
  std::istringstream in(text ? text : "");
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return false;
  size_t at = 1;
  auto numbers = [&](int* out, int count) {
    for (int i = 0; i < count; ++i, ++at) {
      double v = 0;
      if (at >= words.size() || !ParseSwatchNumber(words[at], &v)) return false;
      out[i] = static_cast<int>(v);
    }
    return true;
  };
  const std::string& kind = words[0];
  if (kind == "FILL") {
    spec->kind = SwatchSpec::Kind::kFill;
    if (!numbers(spec->from, 3)) return false;
  } else if (kind == "HGRAD" || kind == "VGRAD") {
    spec->kind = kind == "HGRAD" ? SwatchSpec::Kind::kHGrad : SwatchSpec::Kind::kVGrad;
    if (!numbers(spec->from, 3) || !numbers(spec->to, 3)) return false;
  } else if (kind == "SAW") {
    spec->kind = SwatchSpec::Kind::kSaw;
    if (!numbers(&spec->step, 1)) return false;
  } else {
    return false;
  }
  while (at + 1 < words.size()) {
    double v = 0;
    if (!ParseSwatchNumber(words[at + 1], &v)) return false;
    if (words[at] == "COVER") spec->cover = v;
    else if (words[at] == "MOVE") spec->move = v;
    else return false;
    at += 2;
  }
  return at == words.size();
}

// Texel (x, y) of the pattern for a w x h target, 0xRRGGBB.
inline uint32_t SwatchTexel(const SwatchSpec& s, int x, int y, int w, int h) {
  int c[3];
  for (int i = 0; i < 3; ++i) {
    switch (s.kind) {
      case SwatchSpec::Kind::kFill: c[i] = s.from[i]; break;
      case SwatchSpec::Kind::kHGrad: c[i] = (s.from[i] * (w - 1 - x) + s.to[i] * x + (w - 1) / 2) / (w - 1); break;
      case SwatchSpec::Kind::kVGrad: c[i] = (s.from[i] * (h - 1 - y) + s.to[i] * y + (h - 1) / 2) / (h - 1); break;
      case SwatchSpec::Kind::kSaw: c[i] = i == 0 ? (x * s.step) & 255 : i == 1 ? (y * s.step) & 255 : 128; break;
    }
  }
  return static_cast<uint32_t>(c[0] << 16 | c[1] << 8 | c[2]);
}

// Whole pixels the pattern has moved right at effect time t.
inline int SwatchShift(const SwatchSpec& s, double t, int w) {
  const long shift = static_cast<long>(std::floor(t * s.move));
  return static_cast<int>(((shift % w) + w) % w);
}

// What the swatch draws at pixel (x, y) at effect time t, or nothing where
// it does not cover the target.
inline std::optional<uint32_t> SwatchPixel(const SwatchSpec& s, int x, int y, int w, int h, double t) {
  if (x >= static_cast<int>(std::lround(s.cover * w))) return std::nullopt;
  const int shift = SwatchShift(s, t, w);
  return SwatchTexel(s, ((x - shift) % w + w) % w, y, w, h);
}

class Swatch : public fx::FxInstance {
 public:
  ~Swatch() override { render::ReleaseTexture(texture_); }
  int Load(const char* name, const char* arguments) override {
    SetInstanceName(name);
    return ParseSwatch(arguments, &spec_) ? 0 : -1;
  }
  int Render(float) override {
    using namespace render;
    Device* device = LayerDevice();
    if (!device) return 1;
    const int w = static_cast<int>(RenderTargetWidth()), h = static_cast<int>(RenderTargetHeight());
    if (!MakeTexture(w, h)) return 1;
    SetRenderStateCached(RS_ALPHABLENDENABLE, 0);
    SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
    SetRenderStateCached(RS_ZWRITEENABLE, 0);
    SetRenderStateCached(RS_CULLMODE, CULL_NONE);
    SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
    SetStageStateCached(0, TSS_COLOROP, TOP_SELECTARG1);
    SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
    SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
    SetStageStateCached(0, TSS_ALPHAARG1, TA_TEXTURE);
    SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_WRAP);
    SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_CLAMP);
    SetStageStateCached(0, TSS_MINFILTER, TEXF_POINT);
    SetStageStateCached(0, TSS_MAGFILTER, TEXF_POINT);
    SetStageStateCached(0, TSS_MIPFILTER, TEXF_NONE);
    SetStageStateCached(1, TSS_COLOROP, TOP_DISABLE);
    device->SetTexture(0, GetBaseTextureById(texture_));
    device->SetFVF(kFvfScreenVertex);
    const float right = static_cast<float>(std::lround(spec_.cover * w)) - 0.5f;
    const float shift = static_cast<float>(SwatchShift(spec_, fx::GetEffectTime(), w));
    const float u0 = -shift / static_cast<float>(w), u1 = (right + 0.5f - shift) / static_cast<float>(w);
    const float b = static_cast<float>(h) - 0.5f;
    const Vertex quad[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFFu, u0, 0},
                            {right, -0.5f, 0, 1, 0xFFFFFFFFu, u1, 0},
                            {right, b, 0, 1, 0xFFFFFFFFu, u1, 1},
                            {-0.5f, b, 0, 1, 0xFFFFFFFFu, u0, 1}};
    device->DrawPrimitiveUP(PT_TRIANGLEFAN, 2, quad, sizeof(Vertex));
    device->SetTexture(0, nullptr);
    return 1;
  }
  const char* GetName() const override { return "SWATCH"; }
  const char* GetDescription() const override { return "Test picture"; }

 private:
  struct Vertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
  };

  bool MakeTexture(int w, int h) {
    if (texture_ != render::kNoId && w == width_ && h == height_) return true;
    render::ReleaseTexture(texture_);
    texture_ = render::CreateTexture(static_cast<uint32_t>(w), static_cast<uint32_t>(h), render::FMT_A8R8G8B8, 1);
    std::shared_ptr<render::Texture> texture = render::GetTextureById(texture_);
    render::LockedRect locked;
    if (!texture || texture->LockRect(0, &locked, nullptr, 0) != render::kOk) return false;
    for (int y = 0; y < h; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) + y * locked.pitch);
      for (int x = 0; x < w; ++x) row[x] = 0xFF000000u | SwatchTexel(spec_, x, y, w, h);
    }
    texture->UnlockRect(0);
    width_ = w;
    height_ = h;
    return true;
  }

  SwatchSpec spec_;
  render::TextureId texture_ = render::kNoId;
  int width_ = 0, height_ = 0;
};

inline fx::FxInstance* CreateSwatch(const fx::FxClass&) { return fx::NewInstance<Swatch>(); }
inline fx::FxClass& SwatchClass() {
  static fx::FxClass record("SWATCH", "Test picture", CreateSwatch);
  return record;
}

// A looping script of `length` seconds showing one swatch.
inline std::string SwatchScript(const std::string& arguments, int length = 10) {
  return "FXINSTANCE S SWATCH " + arguments + "\nFXSTART S\nSYNCTIME " + std::to_string(length) + "\n";
}

}  // namespace server_test

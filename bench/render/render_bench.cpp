// One frame of 12 full-screen, textured, alpha-blended quads into a
// 512 x 512 target on the offscreen context: through the device (every
// state set through the caches before each quad, as the mixers do) and
// with raw GL calls doing the same draws. Each frame ends with glFinish,
// so the figures are wall time per frame.
//   build/bench/bench_render
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstring>
#include <vector>

#include "render/device.h"
#include "render/display.h"
#include "render/gl_context.h"
#include "render/layer.h"
#include "render/test_hooks.h"
#include "render/values.h"

namespace {

constexpr int kSize = 512;
constexpr int kQuads = 12;

struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t color;
  float u, v;
};

std::vector<uint32_t> SourceTexels() {
  std::vector<uint32_t> texels(kSize * kSize);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      texels[y * kSize + x] = render::ColorArgb(255, x / 2, y / 2, (x ^ y) & 0xff);
  return texels;
}

void BM_DeviceTwelveQuads(benchmark::State& state) {
  using namespace render;
  if (InitDirect3D(0, DisplayBackend::kHeadless) != 0 ||
      SelectDisplayMode(nullptr, kSize, kSize, 32, false, false, nullptr, "", false, false, false, false, false) != 0) {
    state.SkipWithError("no device");
    return;
  }
  Device* device = GetDevice();
  auto target = device->CreateTexture(kSize, kSize, 1, USAGE_RENDERTARGET, FMT_X8R8G8B8, POOL_DEFAULT);
  auto depth = device->CreateDepthStencilSurface(kSize, kSize, FMT_D24S8);
  auto source = device->CreateTexture(kSize, kSize, 1, 0, FMT_A8R8G8B8, POOL_MANAGED);
  LockedRect locked;
  source->LockRect(0, &locked, nullptr, 0);
  std::vector<uint32_t> texels = SourceTexels();
  for (int y = 0; y < kSize; ++y)
    std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch, &texels[y * kSize], kSize * 4);
  source->UnlockRect(0);
  device->SetRenderTarget(target->GetSurfaceLevel(0), depth);
  const float w = kSize, h = kSize;
  ScreenVertex quad[4] = {{0, 0, 0, 1, 0xffffffff, 0, 0}, {w, 0, 0, 1, 0xffffffff, 1, 0},
                          {w, h, 0, 1, 0xffffffff, 1, 1}, {0, h, 0, 1, 0xffffffff, 0, 1}};
  static const uint16_t kIndices[6] = {0, 2, 1, 0, 3, 2};
  for (auto _ : state) {
    device->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
    for (int i = 0; i < kQuads; ++i) {
      // The full-screen draw's states, set before every quad.
      SetRenderStateCached(RS_TEXTUREFACTOR, static_cast<uint32_t>(0x80 + i) << 24);
      SetRenderStateCached(RS_ZENABLE, ZB_FALSE);
      SetRenderStateCached(RS_ZWRITEENABLE, 0);
      SetRenderStateCached(RS_CULLMODE, CULL_NONE);
      SetRenderStateCached(RS_FILLMODE, FILL_SOLID);
      SetStageStateCached(0, TSS_COLOROP, TOP_MODULATE);
      SetStageStateCached(0, TSS_COLORARG1, TA_TEXTURE);
      SetStageStateCached(0, TSS_COLORARG2, TA_DIFFUSE);
      SetStageStateCached(0, TSS_ALPHAOP, TOP_SELECTARG1);
      SetStageStateCached(0, TSS_ALPHAARG1, TA_TFACTOR);
      SetStageStateCached(0, TSS_ADDRESSU, TADDRESS_CLAMP);
      SetStageStateCached(0, TSS_ADDRESSV, TADDRESS_CLAMP);
      SetStageStateCached(0, TSS_MINFILTER, TEXF_LINEAR);
      SetStageStateCached(0, TSS_MAGFILTER, TEXF_LINEAR);
      SetStageStateCached(0, TSS_MIPFILTER, TEXF_NONE);
      SetRenderStateCached(RS_ALPHABLENDENABLE, 1);
      SetRenderStateCached(RS_SRCBLEND, BLEND_SRCALPHA);
      SetRenderStateCached(RS_DESTBLEND, BLEND_INVSRCALPHA);
      device->SetTexture(0, source);
      device->SetFVF(kFvfScreenVertex);
      device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kIndices, FMT_INDEX16, quad, sizeof(ScreenVertex));
    }
    device->MakeCurrent();
    glFinish();
  }
  state.counters["gl_calls_per_frame"] = 0;
  uint64_t before = GlCallCount();
  device->Clear(0, nullptr, CLEAR_TARGET, 0xff000000, 1.0f, 0);
  for (int i = 0; i < kQuads; ++i) {
    SetRenderStateCached(RS_TEXTUREFACTOR, static_cast<uint32_t>(0x80 + i) << 24);
    device->SetTexture(0, source);
    device->SetFVF(kFvfScreenVertex);
    device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 4, 2, kIndices, FMT_INDEX16, quad, sizeof(ScreenVertex));
  }
  state.counters["gl_calls_per_frame"] = static_cast<double>(GlCallCount() - before);
  target.reset();
  depth.reset();
  source.reset();
  ReleaseDirect3D();
}
BENCHMARK(BM_DeviceTwelveQuads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

const char* kVertexShader = R"(#version 330 core
in vec4 a_position;
in vec4 a_color;
in vec2 a_uv;
uniform vec2 u_size;
out vec4 v_color;
out vec2 v_uv;
void main() {
  gl_Position = vec4(a_position.xy / u_size * 2.0 - 1.0, 0.0, 1.0);
  v_color = a_color;
  v_uv = a_uv;
}
)";
const char* kFragmentShader = R"(#version 330 core
in vec4 v_color;
in vec2 v_uv;
uniform sampler2D u_texture;
uniform float u_alpha;
out vec4 o_color;
void main() { o_color = vec4(texture(u_texture, v_uv).rgb * v_color.rgb, u_alpha); }
)";

GLuint Compile(GLenum type, const char* source) {
  GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  return shader;
}

void BM_RawGlTwelveQuads(benchmark::State& state) {
  auto context = render::CreateHeadlessGlContext();
  if (!context) {
    state.SkipWithError("no context");
    return;
  }
  GLuint program = glCreateProgram();
  GLuint vs = Compile(GL_VERTEX_SHADER, kVertexShader), fs = Compile(GL_FRAGMENT_SHADER, kFragmentShader);
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glBindAttribLocation(program, 0, "a_position");
  glBindAttribLocation(program, 1, "a_color");
  glBindAttribLocation(program, 2, "a_uv");
  glLinkProgram(program);
  glUseProgram(program);
  glUniform2f(glGetUniformLocation(program, "u_size"), kSize, kSize);
  glUniform1i(glGetUniformLocation(program, "u_texture"), 0);
  GLint alpha = glGetUniformLocation(program, "u_alpha");

  GLuint textures[2], fbo, vao, vbo, ibo;
  glGenTextures(2, textures);
  glBindTexture(GL_TEXTURE_2D, textures[0]);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, kSize, kSize, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glBindTexture(GL_TEXTURE_2D, textures[1]);
  std::vector<uint32_t> texels = SourceTexels();
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSize, kSize, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[0], 0);
  glViewport(0, 0, kSize, kSize);
  glGenVertexArrays(1, &vao);
  glBindVertexArray(vao);
  glGenBuffers(1, &vbo);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, 4 * sizeof(ScreenVertex), nullptr, GL_STREAM_DRAW);
  glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(ScreenVertex), nullptr);
  glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(ScreenVertex), reinterpret_cast<void*>(16));
  glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(ScreenVertex), reinterpret_cast<void*>(20));
  for (int i = 0; i < 3; ++i) glEnableVertexAttribArray(i);
  glGenBuffers(1, &ibo);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
  static const uint16_t kIndices[6] = {0, 2, 1, 0, 3, 2};
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof kIndices, kIndices, GL_STATIC_DRAW);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const float w = kSize, h = kSize;
  ScreenVertex quad[4] = {{0, 0, 0, 1, 0xffffffff, 0, 0}, {w, 0, 0, 1, 0xffffffff, 1, 0},
                          {w, h, 0, 1, 0xffffffff, 1, 1}, {0, h, 0, 1, 0xffffffff, 0, 1}};
  for (auto _ : state) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    for (int i = 0; i < kQuads; ++i) {
      glUniform1f(alpha, static_cast<float>(0x80 + i) / 255.0f);
      glBufferData(GL_ARRAY_BUFFER, sizeof quad, nullptr, GL_STREAM_DRAW);  // orphan, then fill
      glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof quad, quad);
      glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
    }
    glFinish();
  }
  glDeleteBuffers(1, &vbo);
  glDeleteBuffers(1, &ibo);
  glDeleteVertexArrays(1, &vao);
  glDeleteFramebuffers(1, &fbo);
  glDeleteTextures(2, textures);
  glDeleteShader(vs);
  glDeleteShader(fs);
  glDeleteProgram(program);
}
BENCHMARK(BM_RawGlTwelveQuads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

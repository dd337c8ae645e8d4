// Six decks through ALPHABLEND at the Server's 640 x 480 output, headless on
// the offscreen context: one frame through the Server (ServerTick: script
// replay, deck time, mixers through the device and the render layer, the
// stretch onto the output, present) against a raw-GL program doing the same
// draws with one hand-written shader. Both end each frame with glFinish
// (the headless present waits for the frame), so the figures are wall time
// per frame. The two run in turns, frame by frame, in one process, so that
// whatever else the machine does weighs on both alike; the medians and
// their ratio are the counters, with the largest channel difference between
// the two outputs (0: the same picture).
//
// Per frame, both: clear the 512 x 512 scratch framebuffer; per deck: copy
// the framebuffer into the scratch texture, clear depth, draw the effect
// (a point-sampled 512 x 512 texture), blend the texture back over the
// framebuffer at the fader (0.8); then stretch the framebuffer onto the
// 640 x 480 output.
//   build/bench/bench_mixers
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "render/device.h"
#include "render/display.h"
#include "render/gl_context.h"
#include "render/layer.h"
#include "server/server.h"
#include "tests/server/swatch.h"
#include "tests/support/support.h"

namespace {

constexpr int kDecks = 6;
constexpr float kFader = 0.8f;
constexpr int kFrames = 300;
constexpr const char* kSwatch = "SAW 3";

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0.0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// --- through the Server ------------------------------------------------------

// A headless Server with the same effect on all six decks.
struct ServerRig {
  testing_support::TempDir dir;
  core::ManualClock clock;
  bool ok = false;

  ServerRig() {
    testing_support::MakeDirs(dir / "effects/Saw/data");
    testing_support::WriteFile(dir / "effects/Saw/data/script.txt", server_test::SwatchScript(kSwatch));
    core::SetProgramClock(&clock);
    core::StartFileLayer(dir.path(), "");
    fx::StartTiming();
    fx::RegisterFxClass(&server_test::SwatchClass());
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    if (server::StartServer(options) != 0) return;
    server::EffectEntry* entry = server::FindEffect(0);
    if (!entry || server::LoadEffect(entry) != 0) return;
    for (int i = 0; i < kDecks; ++i) {
      server::Deck* deck = server::GetDeck(i);
      deck->record.effect_id = entry->id;
      deck->record.mixer = 0;  // ALPHABLEND
      deck->record.fader = kFader;
      deck->start_time = server::ServerClock();
    }
    Frame();  // first frame: programs built, textures made
    ok = true;
  }
  ~ServerRig() {
    server::ShutdownServer();
    fx::UnregisterFxClass(&server_test::SwatchClass());
    fx::StopTiming();
    core::StopFileLayer();
    core::SetProgramClock(nullptr);
  }
  // One pass of the frame loop; the headless present waits for the frame.
  void Frame() {
    clock.Advance(1.0 / 60.0);
    render::SetGlobalTime(static_cast<float>(clock.Seconds()));
    server::ServerTick();
  }
};

// --- raw GL ----------------------------------------------------------------------

const char* kVertexShader = R"(#version 330 core
in vec2 a_position;
in vec2 a_uv;
uniform vec2 u_size;
out vec2 v_uv;
void main() {
  // Pixel-edge corners, as the Server draws them.
  gl_Position = vec4((a_position + 0.5) / u_size * 2.0 - 1.0, 0.0, 1.0);
  v_uv = a_uv;
}
)";
const char* kFragmentShader = R"(#version 330 core
in vec2 v_uv;
uniform sampler2D u_texture;
uniform float u_alpha;
out vec4 o_color;
void main() { o_color = vec4(texture(u_texture, v_uv).rgb, u_alpha); }
)";

GLuint Compile(GLenum type, const char* source) {
  GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  return shader;
}

GLuint MakeTexture(int w, int h, GLenum internal, const void* texels, GLint filter) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, internal, w, h, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  return texture;
}

// The same frame with plain GL on a context of its own: scratch framebuffer
// and texture as FBO textures sharing one depth-stencil buffer, the output
// as a 640 x 480 renderbuffer, one shader, vertices streamed per draw.
struct RawGlRig {
  static constexpr int kScratch = server::kScratchSize, kW = server::kOutputWidth, kH = server::kOutputHeight;
  std::unique_ptr<render::GlContext> context;
  GLuint program = 0, vs = 0, fs = 0, vao = 0, vbo = 0;
  GLuint effect = 0, framebuffer_tex = 0, copy_tex = 0;
  GLuint depth = 0, back_color = 0, back_depth = 0;
  GLuint fbos[3] = {0, 0, 0};
  GLint size = -1, alpha = -1;
  float fader_alpha = 0.0f;
  bool ok = false;

  RawGlRig() {
    context = render::CreateHeadlessGlContext();
    if (!context || context->MakeCurrent() != 0) return;
    program = glCreateProgram();
    vs = Compile(GL_VERTEX_SHADER, kVertexShader);
    fs = Compile(GL_FRAGMENT_SHADER, kFragmentShader);
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, 0, "a_position");
    glBindAttribLocation(program, 1, "a_uv");
    glLinkProgram(program);
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "u_texture"), 0);
    size = glGetUniformLocation(program, "u_size");
    alpha = glGetUniformLocation(program, "u_alpha");

    server_test::SwatchSpec spec;
    server_test::ParseSwatch(kSwatch, &spec);
    std::vector<uint32_t> texels(static_cast<size_t>(kScratch) * kScratch);
    for (int y = 0; y < kScratch; ++y)
      for (int x = 0; x < kScratch; ++x)
        texels[static_cast<size_t>(y) * kScratch + x] =
            0xFF000000u | server_test::SwatchTexel(spec, x, y, kScratch, kScratch);
    effect = MakeTexture(kScratch, kScratch, GL_RGBA8, texels.data(), GL_NEAREST);
    framebuffer_tex = MakeTexture(kScratch, kScratch, GL_RGB8, nullptr, GL_LINEAR);
    copy_tex = MakeTexture(kScratch, kScratch, GL_RGB8, nullptr, GL_LINEAR);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kScratch, kScratch);
    glGenRenderbuffers(1, &back_color);
    glBindRenderbuffer(GL_RENDERBUFFER, back_color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kW, kH);
    glGenRenderbuffers(1, &back_depth);
    glBindRenderbuffer(GL_RENDERBUFFER, back_depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kW, kH);
    glGenFramebuffers(3, fbos);
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[0]);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, framebuffer_tex, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[1]);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, copy_tex, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[2]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, back_color);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, back_depth);
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), reinterpret_cast<void*>(2 * sizeof(float)));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    fader_alpha = static_cast<float>(static_cast<int>(kFader * 255.0f)) / 255.0f;
    ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    Frame();  // warm-up
  }
  ~RawGlRig() {
    if (!context || context->MakeCurrent() != 0) return;
    glDeleteBuffers(1, &vbo);
    glDeleteVertexArrays(1, &vao);
    glDeleteFramebuffers(3, fbos);
    glDeleteRenderbuffers(1, &depth);
    glDeleteRenderbuffers(1, &back_color);
    glDeleteRenderbuffers(1, &back_depth);
    const GLuint textures[] = {effect, framebuffer_tex, copy_tex};
    glDeleteTextures(3, textures);
    glDeleteShader(vs);
    glDeleteShader(fs);
    glDeleteProgram(program);
  }

  // A full-target quad in pixels of a w x h target.
  void Quad(GLuint texture, int w, int h, float a) {
    const float r = static_cast<float>(w) - 0.5f, b = static_cast<float>(h) - 0.5f;
    const float v[] = {-0.5f, -0.5f, 0, 0, r, -0.5f, 1, 0, r, b, 1, 1, -0.5f, b, 0, 1};
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform2f(size, static_cast<float>(w), static_cast<float>(h));
    glUniform1f(alpha, a);
    glBufferData(GL_ARRAY_BUFFER, sizeof v, nullptr, GL_STREAM_DRAW);  // orphan, then fill
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof v, v);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
  }

  void Frame() {
    context->MakeCurrent();
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[0]);
    glViewport(0, 0, kScratch, kScratch);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    for (int deck = 0; deck < kDecks; ++deck) {
      glBindFramebuffer(GL_FRAMEBUFFER, fbos[1]);
      glDisable(GL_BLEND);
      Quad(framebuffer_tex, kScratch, kScratch, 1.0f);
      glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
      Quad(effect, kScratch, kScratch, 1.0f);
      glBindFramebuffer(GL_FRAMEBUFFER, fbos[0]);
      glEnable(GL_BLEND);
      Quad(copy_tex, kScratch, kScratch, fader_alpha);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[2]);
    glViewport(0, 0, kW, kH);
    glDisable(GL_BLEND);
    Quad(framebuffer_tex, kW, kH, 1.0f);
    glFinish();
  }
};

void BM_SixAlphaBlendDecks(benchmark::State& state) {
  ServerRig server_rig;
  RawGlRig raw;
  if (!server_rig.ok || !raw.ok) {
    state.SkipWithError("the Server or the raw GL context did not start");
    return;
  }
  std::vector<double> server_ms, raw_ms;
  int n = 0;
  for (auto _ : state) {
    // Alternate which goes first, so neither always follows the other.
    for (int turn = 0; turn < 2; ++turn) {
      const bool server_turn = (turn == 0) == (n % 2 == 0);
      const double t0 = NowMs();
      if (server_turn) server_rig.Frame();
      else raw.Frame();
      (server_turn ? server_ms : raw_ms).push_back(NowMs() - t0);
    }
    state.SetIterationTime(server_ms.back() * 1e-3);
    ++n;
  }
  // Both drew the same picture: the largest channel difference of the
  // outputs (the output stretch filters linearly, so a pixel or two of
  // rounding is expected).
  std::vector<uint32_t> server_pixels, raw_pixels(static_cast<size_t>(RawGlRig::kW) * RawGlRig::kH);
  render::Device* device = render::GetDevice();
  device->ReadSurfacePixels(device->GetBackBuffer().get(), &server_pixels);
  raw.context->MakeCurrent();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, raw.fbos[2]);
  glReadPixels(0, 0, RawGlRig::kW, RawGlRig::kH, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, raw_pixels.data());
  int max_difference = 256;
  if (server_pixels.size() == raw_pixels.size()) {
    max_difference = 0;
    for (size_t i = 0; i < raw_pixels.size(); ++i)
      for (int shift : {0, 8, 16})
        max_difference = std::max(max_difference, std::abs(static_cast<int>((server_pixels[i] >> shift) & 255) -
                                                           static_cast<int>((raw_pixels[i] >> shift) & 255)));
  }
  state.counters["max_pixel_difference"] = max_difference;

  const double s = Median(server_ms), r = Median(raw_ms);
  state.counters["server_ms"] = s;
  state.counters["raw_gl_ms"] = r;
  state.counters["ratio"] = r > 0.0 ? s / r : 0.0;
  std::printf("six ALPHABLEND decks, 640x480 output, %d frames each: Server %.2f ms, raw GL %.2f ms per frame "
              "(medians), ratio %.3f\n",
              n, s, r, r > 0.0 ? s / r : 0.0);
}
BENCHMARK(BM_SixAlphaBlendDecks)->UseManualTime()->Iterations(kFrames)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

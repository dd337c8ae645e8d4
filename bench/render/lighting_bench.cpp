// A lit 3-D frame into a 512 x 512 target: a 200 x 100 sphere (40,000
// triangles) in a static vertex buffer drawn 10 times with different world
// matrices, four point lights and one directional, specular with a local
// viewer, linear fog and one mip-mapped texture, glFinish per frame.
// Through the device (every state set before each draw, as drawing code
// does) and through one hand-written GLSL program doing the same maths with
// uniforms set once (only the world matrix per draw). The device's figure
// over the raw one is the cost of the emulation; program_builds counts the
// programs the device built during the timed frames (0 after warm-up).
//   build/bench/bench_lighting
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "render/device.h"
#include "render/gl_context.h"
#include "render/test_hooks.h"
#include "render/values.h"

namespace {

constexpr int kSize = 512;
constexpr int kSlices = 200, kStacks = 100;
constexpr int kDraws = 10;

struct Vertex {
  float x, y, z, nx, ny, nz, u, v;
};

void MakeSphere(std::vector<Vertex>* vertices, std::vector<uint16_t>* indices) {
  for (int j = 0; j <= kStacks; ++j)
    for (int i = 0; i <= kSlices; ++i) {
      double theta = M_PI * j / kStacks, phi = 2 * M_PI * i / kSlices;
      float nx = static_cast<float>(std::sin(theta) * std::cos(phi)), ny = static_cast<float>(std::cos(theta)),
            nz = static_cast<float>(std::sin(theta) * std::sin(phi));
      vertices->push_back({nx, ny, nz, nx, ny, nz, static_cast<float>(i) / kSlices * 4, static_cast<float>(j) / kStacks * 2});
    }
  for (int j = 0; j < kStacks; ++j)
    for (int i = 0; i < kSlices; ++i) {
      uint16_t a = static_cast<uint16_t>(j * (kSlices + 1) + i), b = static_cast<uint16_t>(a + 1),
               c = static_cast<uint16_t>(a + kSlices + 2), d = static_cast<uint16_t>(a + kSlices + 1);
      indices->insert(indices->end(), {a, b, c, a, c, d});
    }
}

render::Matrix World(int k) {
  // Spheres of radius 0.8 on a ring, each turned differently.
  render::Matrix m = render::Matrix::Identity();
  float a = 0.6f * k, s = 0.8f;
  m.m[0][0] = std::cos(a) * s;
  m.m[0][2] = -std::sin(a) * s;
  m.m[1][1] = s;
  m.m[2][0] = std::sin(a) * s;
  m.m[2][2] = std::cos(a) * s;
  m.m[3][0] = 2.2f * std::cos(k * 0.628f);
  m.m[3][1] = 1.6f * std::sin(k * 0.628f);
  m.m[3][2] = 7.0f + 0.3f * k;
  return m;
}

render::Matrix Projection() {
  render::Matrix m{};
  float s = 1.0f / std::tan(0.5f), zn = 1.0f, zf = 30.0f, q = zf / (zf - zn);
  m.m[0][0] = m.m[1][1] = s;
  m.m[2][2] = q;
  m.m[2][3] = 1.0f;
  m.m[3][2] = -zn * q;
  return m;
}

render::Matrix View() {
  render::Matrix m = render::Matrix::Identity();
  m.m[3][0] = 0.1f;
  m.m[3][1] = -0.2f;
  return m;
}

std::vector<render::Light> Lights() {
  std::vector<render::Light> lights;
  const float positions[4][3] = {{-4, 3, 4}, {4, 2, 5}, {0, -4, 6}, {1, 4, 3}};
  for (int i = 0; i < 4; ++i) {
    render::Light l;
    l.type = render::LIGHT_POINT;
    l.diffuse = {0.5f, 0.3f + 0.1f * i, 0.2f, 1};
    l.specular = {0.5f, 0.5f, 0.5f, 1};
    l.ambient = {0.02f, 0.02f, 0.02f, 1};
    l.position = {positions[i][0], positions[i][1], positions[i][2]};
    l.attenuation0 = 0.5f;
    l.attenuation1 = 0.05f;
    l.range = 100.0f;
    lights.push_back(l);
  }
  render::Light d;
  d.type = render::LIGHT_DIRECTIONAL;
  d.diffuse = {0.3f, 0.3f, 0.4f, 1};
  d.specular = {0.3f, 0.3f, 0.3f, 1};
  d.direction = {0.3f, -0.5f, 0.8f};
  lights.push_back(d);
  return lights;
}

std::vector<uint32_t> Texels(int size) {
  std::vector<uint32_t> texels(size * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) texels[y * size + x] = render::ColorArgb(255, 128 + (x & 127), 255 - (y & 127), (x ^ y) & 0xff);
  return texels;
}

// Pixels that are not the clear colour 0x203040.
int CountCovered(const std::vector<uint32_t>& pixels) {
  int covered = 0;
  for (uint32_t p : pixels) covered += (p & 0xffffff) != 0x203040;
  return covered;
}

void BM_DeviceLitSpheres(benchmark::State& state) {
  using namespace render;
  auto device = CreateHeadlessDevice(kSize, kSize);
  if (!device) {
    state.SkipWithError("no device");
    return;
  }
  std::vector<Vertex> vertices;
  std::vector<uint16_t> indices;
  MakeSphere(&vertices, &indices);
  const uint32_t fvf = FVF_XYZ | FVF_NORMAL | FVF_TEX1;
  auto vb = device->CreateVertexBuffer(static_cast<uint32_t>(vertices.size() * sizeof(Vertex)), USAGE_WRITEONLY, fvf,
                                       POOL_MANAGED);
  auto ib = device->CreateIndexBuffer(static_cast<uint32_t>(indices.size() * 2), USAGE_WRITEONLY, FMT_INDEX16,
                                      POOL_MANAGED);
  void* data = nullptr;
  vb->Lock(0, 0, &data, 0);
  std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
  vb->Unlock();
  ib->Lock(0, 0, &data, 0);
  std::memcpy(data, indices.data(), indices.size() * 2);
  ib->Unlock();
  auto texture = device->CreateTexture(256, 256, 0, 0, FMT_A8R8G8B8, POOL_MANAGED);
  for (uint32_t level = 0, size = 256; level < texture->LevelCount(); ++level, size /= 2) {
    std::vector<uint32_t> texels = Texels(static_cast<int>(size));
    LockedRect locked;
    texture->LockRect(level, &locked, nullptr, 0);
    for (uint32_t y = 0; y < size; ++y)
      std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch, &texels[y * size], size * 4);
    texture->UnlockRect(level);
  }
  auto target = device->CreateTexture(kSize, kSize, 1, USAGE_RENDERTARGET, FMT_X8R8G8B8, POOL_DEFAULT);
  auto depth = device->CreateDepthStencilSurface(kSize, kSize, FMT_D24S8);
  device->SetRenderTarget(target->GetSurfaceLevel(0), depth);
  const std::vector<Light> lights = Lights();
  Material material;
  material.diffuse = {0.9f, 0.9f, 0.9f, 1};
  material.ambient = {0.5f, 0.5f, 0.5f, 1};
  material.specular = {0.7f, 0.7f, 0.7f, 1};
  material.power = 20.0f;
  auto frame = [&]() {
    device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0xff203040, 1.0f, 0);
    for (int k = 0; k < kDraws; ++k) {
      device->SetRenderState(RS_ZENABLE, ZB_TRUE);
      device->SetRenderState(RS_CULLMODE, CULL_CCW);
      device->SetRenderState(RS_LIGHTING, 1);
      device->SetRenderState(RS_SPECULARENABLE, 1);
      device->SetRenderState(RS_LOCALVIEWER, 1);
      device->SetRenderState(RS_AMBIENT, 0xff202020);
      device->SetRenderState(RS_FOGENABLE, 1);
      device->SetRenderState(RS_FOGTABLEMODE, FOG_LINEAR);
      device->SetRenderState(RS_FOGSTART, FloatBits(0.85f));
      device->SetRenderState(RS_FOGEND, FloatBits(0.99f));
      device->SetRenderState(RS_FOGCOLOR, 0xff203040);
      for (uint32_t i = 0; i < lights.size(); ++i) {
        device->SetLight(i, lights[i]);
        device->LightEnable(i, true);
      }
      device->SetMaterial(material);
      device->SetTexture(0, texture);
      device->SetTextureStageState(0, TSS_COLOROP, TOP_MODULATE);
      device->SetTextureStageState(0, TSS_COLORARG1, TA_TEXTURE);
      device->SetTextureStageState(0, TSS_COLORARG2, TA_DIFFUSE);
      device->SetTextureStageState(0, TSS_MIPFILTER, TEXF_LINEAR);
      device->SetTransform(TS_PROJECTION, Projection());
      device->SetTransform(TS_VIEW, View());
      device->SetTransform(TS_WORLD, World(k));
      device->SetFVF(fvf);
      device->SetStreamSource(0, vb, sizeof(Vertex));
      device->SetIndices(ib, 0);
      device->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, static_cast<uint32_t>(vertices.size()), 0,
                                   static_cast<uint32_t>(indices.size() / 3));
    }
    device->MakeCurrent();
    glFinish();
  };
  frame();  // warm-up: programs built here
  uint64_t builds = ProgramBuildCount();
  for (auto _ : state) frame();
  state.counters["program_builds"] = static_cast<double>(ProgramBuildCount() - builds);
  state.counters["triangles"] = static_cast<double>(indices.size() / 3 * kDraws);
  // Pixels the spheres cover: both paths must draw the same picture.
  std::vector<uint32_t> pixels;
  device->ReadSurfacePixels(target->GetSurfaceLevel(0).get(), &pixels);
  state.counters["covered"] = static_cast<double>(CountCovered(pixels));
}
BENCHMARK(BM_DeviceLitSpheres)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

const char* kVertexShader = R"(#version 330 core
in vec3 a_position;
in vec3 a_normal;
in vec2 a_uv;
uniform mat4 u_world, u_view, u_projection;
uniform vec4 u_lights[35];  // 5 x (diffuse, specular, ambient, position+range, towards, attenuation, cone)
uniform vec4 u_material[6];
out vec4 v_diffuse;
out vec4 v_specular;
out vec2 v_uv;
void main() {
  vec4 p4 = u_view * (u_world * vec4(a_position, 1.0));
  vec4 c = u_projection * p4;
  gl_Position = vec4(c.x, -c.y, 2.0 * c.z - c.w, c.w);
  vec3 p = p4.xyz;
  vec3 n = mat3(u_view) * (mat3(u_world) * a_normal) / 0.64;  // uniform scale 0.8
  vec3 V = normalize(-p);
  vec3 amb = vec3(0.0), dif = vec3(0.0), spe = vec3(0.0);
  for (int k = 0; k < 5; ++k) {
    int b = k * 7;
    vec3 L;
    float att = 1.0;
    if (k < 4) {
      L = u_lights[b + 3].xyz - p;
      float d = length(L);
      vec4 a = u_lights[b + 5];
      att = d <= u_lights[b + 3].w ? 1.0 / max(a.x + a.y * d + a.z * d * d, 1e-4) : 0.0;
      L = d > 0.0 ? L / d : vec3(0.0);
    } else {
      L = u_lights[b + 4].xyz;
    }
    amb += att * u_lights[b + 2].rgb;
    float nl = dot(n, L);
    if (nl > 0.0) {
      dif += att * nl * u_lights[b].rgb;
      vec3 H = normalize(L + V);
      float nh = dot(n, H);
      if (nh > 0.0) spe += att * pow(nh, u_material[4].x) * u_lights[b + 1].rgb;
    }
  }
  v_diffuse = clamp(vec4(u_material[3].rgb + u_material[1].rgb * (u_material[5].rgb + amb) +
                         u_material[0].rgb * dif, u_material[0].a), 0.0, 1.0);
  v_specular = vec4(clamp(u_material[2].rgb * spe, 0.0, 1.0), 0.0);
  v_uv = a_uv;
}
)";
const char* kFragmentShader = R"(#version 330 core
in vec4 v_diffuse;
in vec4 v_specular;
in vec2 v_uv;
uniform sampler2D u_texture;
uniform vec4 u_fog[2];
out vec4 o_color;
void main() {
  vec4 c = clamp(texture(u_texture, v_uv) * v_diffuse, 0.0, 1.0);
  c.rgb = clamp(c.rgb + v_specular.rgb, 0.0, 1.0);
  float f = clamp((u_fog[0].y - gl_FragCoord.z) * u_fog[0].z, 0.0, 1.0);
  c.rgb = mix(u_fog[1].rgb, c.rgb, f);
  o_color = c;
}
)";

GLuint Compile(GLenum type, const char* source) {
  GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  return shader;
}

void BM_RawGlLitSpheres(benchmark::State& state) {
  auto context = render::CreateHeadlessGlContext();
  if (!context) {
    state.SkipWithError("no context");
    return;
  }
  std::vector<Vertex> vertices;
  std::vector<uint16_t> indices;
  MakeSphere(&vertices, &indices);
  GLuint program = glCreateProgram();
  GLuint vs = Compile(GL_VERTEX_SHADER, kVertexShader), fs = Compile(GL_FRAGMENT_SHADER, kFragmentShader);
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glBindAttribLocation(program, 0, "a_position");
  glBindAttribLocation(program, 1, "a_normal");
  glBindAttribLocation(program, 2, "a_uv");
  glLinkProgram(program);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) {
    state.SkipWithError("link failed");
    return;
  }
  glUseProgram(program);
  GLuint vao, buffers[2], texture, fbo, color, depth;
  glGenVertexArrays(1, &vao);
  glBindVertexArray(vao);
  glGenBuffers(2, buffers);
  glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
  glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(Vertex), vertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * 2, indices.data(), GL_STATIC_DRAW);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
  glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(12));
  glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(24));
  for (int i = 0; i < 3; ++i) glEnableVertexAttribArray(i);
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  for (int level = 0, size = 256; size >= 1; ++level, size /= 2) {
    std::vector<uint32_t> texels = Texels(size);
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, size, size, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glGenTextures(1, &color);
  glBindTexture(GL_TEXTURE_2D, color);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSize, kSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kSize, kSize);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
  glBindTexture(GL_TEXTURE_2D, texture);
  glViewport(0, 0, kSize, kSize);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_CULL_FACE);
  glClearColor(0x20 / 255.0f, 0x30 / 255.0f, 0x40 / 255.0f, 1.0f);

  // Uniforms once: lights in camera space (the view only translates).
  const render::Matrix view = View(), projection = Projection();
  std::vector<float> lights(35 * 4, 0.0f);
  const std::vector<render::Light> given = Lights();
  for (int k = 0; k < 5; ++k) {
    const render::Light& l = given[k];
    float* o = &lights[k * 28];
    const render::ColorValue* colours[3] = {&l.diffuse, &l.specular, &l.ambient};
    for (int c = 0; c < 3; ++c) {
      o[c * 4] = colours[c]->r;
      o[c * 4 + 1] = colours[c]->g;
      o[c * 4 + 2] = colours[c]->b;
      o[c * 4 + 3] = colours[c]->a;
    }
    o[12] = l.position.x + view.m[3][0];
    o[13] = l.position.y + view.m[3][1];
    o[14] = l.position.z + view.m[3][2];
    o[15] = l.range;
    float len = std::sqrt(l.direction.x * l.direction.x + l.direction.y * l.direction.y + l.direction.z * l.direction.z);
    o[16] = -l.direction.x / len;
    o[17] = -l.direction.y / len;
    o[18] = -l.direction.z / len;
    o[20] = l.attenuation0;
    o[21] = l.attenuation1;
    o[22] = l.attenuation2;
  }
  const float material[24] = {0.9f, 0.9f, 0.9f, 1, 0.5f, 0.5f, 0.5f, 1, 0.7f, 0.7f, 0.7f, 1, 0, 0, 0, 1,
                               20.0f, 0, 0, 0, 0x20 / 255.0f, 0x20 / 255.0f, 0x20 / 255.0f, 1};
  const float fog[8] = {0.85f, 0.99f, 1.0f / 0.14f, 0, 0x20 / 255.0f, 0x30 / 255.0f, 0x40 / 255.0f, 1};
  glUniform4fv(glGetUniformLocation(program, "u_lights"), 35, lights.data());
  glUniform4fv(glGetUniformLocation(program, "u_material"), 6, material);
  glUniform4fv(glGetUniformLocation(program, "u_fog"), 2, fog);
  glUniformMatrix4fv(glGetUniformLocation(program, "u_view"), 1, GL_FALSE, &view.m[0][0]);
  glUniformMatrix4fv(glGetUniformLocation(program, "u_projection"), 1, GL_FALSE, &projection.m[0][0]);
  glUniform1i(glGetUniformLocation(program, "u_texture"), 0);
  GLint world_location = glGetUniformLocation(program, "u_world");
  const GLsizei index_count = static_cast<GLsizei>(indices.size());
  auto frame = [&]() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int k = 0; k < kDraws; ++k) {
      render::Matrix world = World(k);
      glUniformMatrix4fv(world_location, 1, GL_FALSE, &world.m[0][0]);
      glDrawElements(GL_TRIANGLES, index_count, GL_UNSIGNED_SHORT, nullptr);
    }
    glFinish();
  };
  frame();
  for (auto _ : state) frame();
  state.counters["triangles"] = static_cast<double>(indices.size() / 3 * kDraws);
  std::vector<uint32_t> pixels(kSize * kSize);
  glReadPixels(0, 0, kSize, kSize, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  state.counters["covered"] = static_cast<double>(CountCovered(pixels));
  glDeleteFramebuffers(1, &fbo);
  glDeleteRenderbuffers(1, &depth);
  glDeleteTextures(1, &color);
  glDeleteTextures(1, &texture);
  glDeleteBuffers(2, buffers);
  glDeleteVertexArrays(1, &vao);
  glDeleteProgram(program);
  glDeleteShader(vs);
  glDeleteShader(fs);
}
BENCHMARK(BM_RawGlLitSpheres)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();

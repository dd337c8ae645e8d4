// Procedural objects on llvmpipe at 640 x 480, one run:
//  (a) 10,000 live particles generated and streamed through the shared
//      dynamic buffers each frame, against the same squares pre-built once
//      in a static buffer and drawn in the same batches with the same
//      states: ratio, target <= 1.3;
//  (b) a scene with one placeholder of each kind (particles, spherical,
//      distort ball, spike tube, bola sync, trauma; built here, two
//      lights) against the same scene drawn without its procedural
//      objects (placeholders only), with each kind's share of the frame's
//      time on the drawing thread: target >= 25 frames per second.
// Every frame is read back (the draw has finished); each figure is the
// median of five runs of many frames.
//
//   build/bench/bench_procedural [FRAMES [PICTURE_FOLDER]]
// With a folder, one frame of scene (b) is also written there as a PNG.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "scene/draw.h"
#include "scene/procedural.h"
#include "scene/procedural_internal.h"
#include "scene/scene.h"

namespace {

using Clock = std::chrono::steady_clock;
using scene::Quat;
using scene::Vec3;
namespace si = scene::internal;

constexpr int kWidth = 640, kHeight = 480;

const char* kMaterials = R"(
<SHADER> <NAME> "SPARK" </NAME> <PRIORITY> "PR_ADDITIVE" </PRIORITY>
  <PASS> <BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>
    <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL>
    <NOZWRITE> </NOZWRITE> </PASS> </SHADER>
<SHADER> <NAME> "LIT" </NAME>
  <PASS> <LIGHTING> <DIFFUSE> 0.8 0.6 0.4 </DIFFUSE> <AMBIENT> 0.2 0.2 0.2 </AMBIENT> </LIGHTING>
    <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL> </PASS> </SHADER>
<SHADER> <NAME> "TRAUMA" </NAME>
  <PASS> <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL> </PASS>
  <PASS> <BLEND> <SRC> "BL_ONE" </SRC> <DST> "BL_ONE" </DST> </BLEND>
    <COLOR> <OP> "PO_SELECTARG1" </OP> <ARG1> "PA_DIFFUSE" </ARG1> </COLOR> <CULL> "CULL_NONE" </CULL>
    <NOZWRITE> </NOZWRITE> </PASS> </SHADER>
)";

// A 32 x 64 grey stripe pattern as a top-left 32-bit TGA.
bool WriteHeightImage(const std::string& path) {
  constexpr int w = 32, h = 64;
  std::vector<uint8_t> bytes(18 + w * h * 4, 0);
  bytes[2] = 2;
  bytes[12] = w;
  bytes[14] = h;
  bytes[16] = 32;
  bytes[17] = 0x28;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t g = static_cast<uint8_t>(127.5 + 127.5 * std::sin(0.4 * x + 0.2 * y));
      uint8_t* p = &bytes[18 + (y * w + x) * 4];
      p[0] = p[1] = p[2] = g;
      p[3] = 255;
    }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

scene::SceneMesh Placeholder(const std::string& name, const std::string& material, Vec3 position,
                             Quat rotation = {}) {
  scene::SceneMesh m;
  m.name = name;
  m.position = position;
  m.rotation = rotation;
  scene::MeshElement e;
  e.vertices = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  e.indices = {0, 1, 2};
  e.material = material;
  m.elements.push_back(e);
  return m;
}

scene::CameraRecord Camera(Vec3 eye, Vec3 target) {
  scene::CameraRecord c;
  c.position = eye;
  // The file's camera rotation is turned by +90° about X when evaluated.
  c.rotation = scene::QuatMultiply(scene::LookAt(eye, target, {0, 1, 0}),
                                   scene::QuatFromAxisAngle({1, 0, 0}, -scene::kQuarterTurn));
  c.fov = 60.0f;
  c.near_plane = 1.0f;
  c.far_plane = 2000.0f;
  c.name = "CAM";
  return c;
}

// One frame: clear, draw at `now` (the program clock too), read back.
void Frame(scene::Scene* s, double now, const float* bands) {
  render::Device* device = render::GetDevice();
  render::DiscardDynamicBuffers();
  render::SetGlobalTime(static_cast<float>(now));
  device->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, 0xFF000000u, 1.0f,
                0);
  device->BeginScene();
  scene::DrawRequest request;
  request.clear_colour = true;
  request.now = now;
  request.sound_bands = bands;
  scene::Draw(s, request);
  device->EndScene();
  std::vector<uint32_t> pixels;
  device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels);
}

// Median over five runs of `frames` frames, in ms per frame. Frame f draws
// at now = start + f / 30 with sound bands that move.
double FrameMs(scene::Scene* s, int frames, double start) {
  std::vector<double> runs;
  float bands[scene::kSoundBands];
  for (int run = 0; run < 5; ++run) {
    const auto t0 = Clock::now();
    for (int f = 0; f < frames; ++f) {
      const double now = start + (run * frames + f) / 30.0;
      for (int b = 0; b < scene::kSoundBands; ++b)
        bands[b] = 0.5f + 0.5f * static_cast<float>(std::sin(now * 3.0 + b));
      Frame(s, now, bands);
    }
    runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / frames);
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

int Load(scene::Scene* s, const scene::SceneFile& file, render::ShaderManager* manager) {
  scene::LoadOptions options;
  options.shaders = manager;
  options.device_buffers = true;
  return scene::LoadSceneBinary(s, file, options);
}

// The particle stage's defaults and material, as the particle drawer sets
// them, then the squares from a static buffer in batches of 1000.
struct StaticSquares {
  int vb = -1, ib = -1;
  uint32_t squares = 0;
  render::ShaderHandle material = -1;

  void Draw() const {
    render::Device* device = render::LayerDevice();
    si::ApplyParticleStates(device, material);
    device->SetFVF(render::kFvfRenderVertex);
    device->SetStreamSource(0, render::GetVertexBufferById(vb), sizeof(render::RenderVertex));
    for (uint32_t first = 0; first < squares; first += si::kParticleBatch) {
      const uint32_t n = std::min(si::kParticleBatch, squares - first);
      device->SetIndices(render::GetIndexBufferById(ib), first * 4);
      device->DrawIndexedPrimitive(render::PT_TRIANGLELIST, 0, n * 4, 0, n * 2);
    }
  }
};

int ParticleRatio(render::ShaderManager* manager, int frames) {
  scene::SceneFile file;
  file.cameras.push_back(Camera({0, 20, -120}, {0, 10, 0}));
  file.meshes.push_back(Placeholder("@PARTICLE01", "SPARK", {0, -10, 0}));
  scene::Scene s;
  if (Load(&s, file, manager) != 0) return -1;
  // 10,000 a second living one second: 10,000 live squares.
  if (scene::SetParticleParams(&s, "@PARTICLE01", "0.6 1 10000 1 1 20 0 -8 0 40") != 0) return -1;
  const double start = 100.0;

  // The squares of one frame, kept once in static buffers.
  Frame(&s, start, nullptr);  // evaluates the camera
  const scene::Matrix o = s.view.Orientation();
  const Vec3 right{o.m[0][0], o.m[0][1], o.m[0][2]}, up{o.m[1][0], o.m[1][1], o.m[1][2]};
  auto& system = static_cast<si::ParticleSystem&>(*s.procedurals.at(0));
  std::vector<render::RenderVertex> squares;
  system.BuildSquares(s, start, start, right, up, &squares);
  StaticSquares fixed;
  fixed.squares = static_cast<uint32_t>(squares.size() / 4);
  fixed.material = system.Material();
  const uint32_t vbytes = static_cast<uint32_t>(squares.size() * sizeof(render::RenderVertex));
  fixed.vb = render::AddVertexBuffer(vbytes, 0, render::kFvfRenderVertex, render::POOL_MANAGED);
  fixed.ib = render::AddIndexBuffer(si::kParticleBatch * 12, 0, render::FMT_INDEX16, render::POOL_MANAGED);
  void* data = nullptr;
  auto vb = render::GetVertexBufferById(fixed.vb);
  auto ib = render::GetIndexBufferById(fixed.ib);
  if (!vb || !ib || vb->Lock(0, 0, &data, 0) != 0) return -1;
  std::memcpy(data, squares.data(), vbytes);
  vb->Unlock();
  if (ib->Lock(0, 0, &data, 0) != 0) return -1;
  for (uint32_t q = 0; q < si::kParticleBatch; ++q) {
    const uint16_t b = static_cast<uint16_t>(q * 4);
    const uint16_t quad[6] = {b, static_cast<uint16_t>(b + 1), static_cast<uint16_t>(b + 2),
                              b, static_cast<uint16_t>(b + 2), static_cast<uint16_t>(b + 3)};
    std::memcpy(static_cast<uint16_t*>(data) + q * 6, quad, sizeof quad);
  }
  ib->Unlock();

  // Processor time of the generation alone, for the profile.
  double build_ms = 0.0;
  {
    const auto t0 = Clock::now();
    for (int f = 0; f < frames; ++f) system.BuildSquares(s, start + f / 30.0, start + f / 30.0, right, up, &squares);
    build_ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / frames;
  }

  const double streamed = FrameMs(&s, frames, start);
  scene::SetProceduralDrawer([&](scene::ProceduralStage stage, const scene::ProceduralDrawContext&) {
    if (stage == scene::ProceduralStage::kParticles) fixed.Draw();
  });
  const double still = FrameMs(&s, frames, start);
  scene::InstallProcedurals();
  render::RemoveVertexBuffer(fixed.vb);
  render::RemoveIndexBuffer(fixed.ib);
  s.Clear();

  const double ratio = streamed / still;
  std::printf("(a) %u live particles, %d x %d, %d frames x 5 runs\n", fixed.squares, kWidth, kHeight, frames);
  std::printf("    generated and streamed %8.2f ms/frame (generation alone %.2f ms)\n", streamed, build_ms);
  std::printf("    pre-built static       %8.2f ms/frame\n", still);
  std::printf("    ratio                  %8.2f (target <= 1.3)%s\n", ratio, ratio <= 1.3 ? "" : "  OVER");
  return ratio <= 1.3 ? 0 : 2;
}

int SceneFrame(render::ShaderManager* manager, int frames, const char* picture_folder) {
  scene::SceneFile file;
  file.cameras.push_back(Camera({0, 40, -170}, {0, 10, 40}));
  render::Light sun;
  sun.type = render::LIGHT_DIRECTIONAL;
  sun.direction = {0.3f, -0.8f, 0.5f};
  sun.diffuse = {0.8f, 0.8f, 0.8f, 0.0f};
  sun.ambient = {0.2f, 0.2f, 0.2f, 0.0f};
  render::Light lamp;
  lamp.type = render::LIGHT_POINT;
  lamp.position = {0, 60, -40};
  lamp.diffuse = {0.6f, 0.5f, 0.3f, 0.0f};
  lamp.range = 1000.0f;
  lamp.attenuation0 = 1.0f;
  file.lights = {sun, lamp};
  file.meshes = {
      Placeholder("@PARTICLE01", "SPARK", {-20, -30, 0}),
      Placeholder("@SPHERICAL01", "LIT", {-70, 35, 60}),
      Placeholder("@DISTORTBALL01", "LIT", {0, 35, 40}),
      Placeholder("@BOLASYNC01", "LIT", {70, 35, 60}),
      Placeholder("@SPIKETUBE01", "LIT", {0, -20, 80}),
      Placeholder("@TRAUMA01", "", {0, 0, 150}),
  };
  scene::Scene s;
  if (Load(&s, file, manager) != 0) return -1;
  if (scene::SetParticleParams(&s, "@PARTICLE01", "1.5 3 200 0.4 0.4 15 0 -3 0 6") != 0) return -1;
  const double start = 10.0;
  const scene::Matrix o = s.view.Orientation();
  std::vector<render::RenderVertex> squares;
  const size_t live = static_cast<si::ParticleSystem&>(*s.procedurals.at(0))
                          .BuildSquares(s, start, start, {o.m[0][0], o.m[0][1], o.m[0][2]},
                                        {o.m[1][0], o.m[1][1], o.m[1][2]}, &squares);

  // The drawer, timing each kind.
  struct Kind {
    uint32_t kind;
    const char* name;
    double seconds;
  };
  Kind kinds[] = {{scene::PROCEDURAL_TRAUMA, "trauma", 0},         {scene::PROCEDURAL_SPHERICAL, "spherical", 0},
                  {scene::PROCEDURAL_DISTORTBALL, "distort ball", 0}, {scene::PROCEDURAL_SPIKETUBE, "spike tube", 0},
                  {scene::PROCEDURAL_BOLASYNC, "bola sync", 0},     {scene::PROCEDURAL_PARTICLE, "particles", 0}};
  auto timed = [&](uint32_t kind, const scene::ProceduralDrawContext& ctx) {
    const auto t0 = Clock::now();
    si::DrawKind(kind, ctx);
    for (Kind& k : kinds)
      if (k.kind == kind) k.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  };
  scene::SetProceduralDrawer([&](scene::ProceduralStage stage, const scene::ProceduralDrawContext& ctx) {
    switch (stage) {
      case scene::ProceduralStage::kBeforeLights:
        timed(scene::PROCEDURAL_TRAUMA, ctx);
        break;
      case scene::ProceduralStage::kAfterObjects:
        for (uint32_t k : {scene::PROCEDURAL_SPHERICAL, scene::PROCEDURAL_DISTORTBALL, scene::PROCEDURAL_SPIKETUBE,
                           scene::PROCEDURAL_BOLASYNC})
          timed(k, ctx);
        break;
      case scene::ProceduralStage::kParticles:
        timed(scene::PROCEDURAL_PARTICLE, ctx);
        break;
    }
  });
  const auto t0 = Clock::now();
  const double full = FrameMs(&s, frames, start);
  const double total_ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  scene::SetProceduralDrawer(nullptr);
  const double bare = FrameMs(&s, frames, start);
  scene::InstallProcedurals();
  if (picture_folder) {
    render::Device* device = render::GetDevice();
    device->SetDumpFolder(picture_folder);
    Frame(&s, start + 1.0, nullptr);
    device->Present();
    device->SetDumpFolder("");
  }
  s.Clear();

  const double fps = 1000.0 / full;
  std::printf("(b) one placeholder of each kind (%zu live particles), two lights, %d x %d, %d frames x 5 runs\n",
              live, kWidth, kHeight, frames);
  std::printf("    procedural objects drawn %8.2f ms/frame  %6.1f fps (target >= 25)%s\n", full, fps,
              fps >= 25.0 ? "" : "  UNDER");
  std::printf("    placeholders only        %8.2f ms/frame\n", bare);
  std::printf("    time on the drawing thread, share of the frame:\n");
  for (const Kind& k : kinds)
    std::printf("      %-13s %6.2f ms  %5.1f %%\n", k.name, 1000.0 * k.seconds / (5.0 * frames),
                100.0 * 1000.0 * k.seconds / total_ms);
  return fps >= 25.0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  char folder[] = "/tmp/vj-procedural-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string data = std::string(folder) + "/data";
  if (std::system(("mkdir -p '" + data + "/textures'").c_str()) != 0 ||
      !WriteHeightImage(data + "/textures/traumaheight.tga")) {
    std::fprintf(stderr, "cannot write the height image\n");
    return 1;
  }
  core::SetDialogsDisabled(true);
  core::StartFileLayer(folder);
  core::MarkStartupFinished(true);
  if (render::InitDirect3DFrom(0, render::HeadlessAdapterInfo(), render::DisplayBackend::kHeadless) != 0 ||
      render::SelectDisplayMode(nullptr, kWidth, kHeight, 32, true, false, nullptr, "", false, false, false, false,
                                false) != 0 ||
      render::InitRenderLayer(nullptr) != 0 || render::InitShaderSystem() != 0)
    return 1;
  render::ApplyDefaultStates();
  int status = 0;
  {
    render::ShaderManager manager;
    manager.Init();
    if (manager.ParseShaderText(kMaterials, "bench.txt") != 0) return 1;
    render::PushShaderManager(&manager);
    scene::InstallProcedurals();
    const int a = ParticleRatio(&manager, frames);
    const int b = SceneFrame(&manager, frames, argc > 2 ? argv[2] : nullptr);
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "cannot load a bench scene\n");
      status = 1;
    } else {
      status = std::max(a, b);
    }
    scene::SetProceduralFactory(nullptr);
    scene::SetProceduralDrawer(nullptr);
    render::PopShaderManager();
    manager.Shutdown();
  }
  render::ShutdownShaderSystem();
  render::ShutdownRenderLayer();
  render::ReleaseDevice();
  render::ReleaseDirect3D();
  core::StopFileLayer();
  std::system((std::string("rm -rf '") + folder + "'").c_str());
  return status;
}

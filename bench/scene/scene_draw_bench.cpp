// Scene drawing on llvmpipe, one run: the demo room (tools/make_demo_scene.py,
// generated into a temporary show folder) at 512 x 512 with a stencil.
//  1. plain (shadows off) against shadows on with one light: ratio, target <= 3;
//  2. the mirror's cost (mirrors drawn against none) and the beam's (the beam
//     object's PROJECTBEAMS on against off), in ms per frame;
//  3. the share of the shadowed frame spent extruding volumes on the
//     processor, target <= 10 %.
// Every frame is read back (the draw has finished); each figure is the
// median of several runs of many frames.
//
//   build/bench/bench_scene_draw [FRAMES [PICTURE_FOLDER]]
// With a folder, one shadowed frame at 2 s is also written there as a PNG.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "scene/draw.h"
#include "scene/scene.h"

#ifndef VJ_SOURCE_DIR
#define VJ_SOURCE_DIR "."
#endif

namespace {

constexpr int kSide = 512;

struct Setup {
  render::ShaderManager manager;
  scene::Scene scene;
};

double FrameMs(Setup* s, int frames, const scene::DrawRequest& base) {
  render::Device* device = render::GetDevice();
  std::vector<double> runs;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
      render::DiscardDynamicBuffers();
      device->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, 0xFF000000u,
                    1.0f, 0);
      device->BeginScene();
      scene::DrawRequest request = base;
      request.now = f / 30.0;
      scene::Draw(&s->scene, request);
      device->EndScene();
      std::vector<uint32_t> pixels;
      device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels);
    }
    runs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                   frames);
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  char folder[] = "/tmp/vj-scene-draw-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string command = std::string("python3 '") + VJ_SOURCE_DIR + "/tools/make_demo_scene.py' '" + folder +
                              "/data'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "cannot generate the demo room\n");
    return 1;
  }
  core::SetDialogsDisabled(true);
  core::StartFileLayer(folder);
  core::MarkStartupFinished(true);
  if (render::InitDirect3DFrom(0, render::HeadlessAdapterInfo(), render::DisplayBackend::kHeadless) != 0 ||
      render::SelectDisplayMode(nullptr, kSide, kSide, 32, true, false, nullptr, "", false, false, false, false,
                                false) != 0 ||
      render::InitRenderLayer(nullptr) != 0 || render::InitShaderSystem() != 0)
    return 1;
  render::ApplyDefaultStates();
  int status = 0;
  {
    Setup s;
    s.manager.Init();
    s.manager.ParseShaderDirectory("data/shaders");
    render::PushShaderManager(&s.manager);
    scene::LoadOptions options;
    options.shaders = &s.manager;
    if (scene::LoadScene(&s.scene, "room.txt", options) != 0) {
      std::fprintf(stderr, "cannot load the demo room\n");
      return 1;
    }
    // The effect holds these, so their textures are loaded; Draw only finds them.
    for (const char* name : {"STENCIL", "BEAMOPAQUE", "BEAMFLARE"}) s.manager.GetShader(name);
    int triangles = 0;
    for (int32_t i : s.scene.order)
      for (const scene::RenderElement& e : s.scene.ObjectAt(i)->mesh.elements) triangles += e.triangle_count;
    std::printf("demo room: %d triangles, %zu lights, %d mirror(s), %d x %d, %d frames x 5 runs\n", triangles,
                s.scene.lights.size(), s.scene.mirrors.Count(), kSide, kSide, frames);

    s.scene.lights.resize(1);  // one light from here on
    scene::DrawRequest request;
    request.clear_colour = true;
    const double plain = FrameMs(&s, frames, request);
    s.scene.shadows = true;
    scene::SetShadowProfiling(true);
    const auto start = std::chrono::steady_clock::now();
    const double shadowed = FrameMs(&s, frames, request);
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double extrusion = scene::ShadowExtrusionSeconds();
    scene::SetShadowProfiling(false);
    s.scene.shadows = false;

    scene::DrawRequest no_mirrors = request;
    no_mirrors.mirror_budget = 0;
    const double without_mirror = FrameMs(&s, frames, no_mirrors);
    render::Shader* beam = s.manager.GetShaderByHandle(s.manager.FindShader("ROOM_BEAM"));
    double without_beam = plain;
    if (beam) {
      beam->project_beams = 0;
      without_beam = FrameMs(&s, frames, request);
      beam->project_beams = 1;
    }

    const double ratio = shadowed / plain, share = 100.0 * extrusion / total;
    std::printf("plain                 %8.2f ms/frame\n", plain);
    std::printf("shadows, one light    %8.2f ms/frame   ratio %.2f (target <= 3)%s\n", shadowed, ratio,
                ratio <= 3.0 ? "" : "  OVER");
    std::printf("volume extrusion      %8.2f %% of the shadowed frames (target <= 10 %%)%s\n", share,
                share <= 10.0 ? "" : "  OVER");
    std::printf("the mirror            %8.2f ms/frame (%.2f without)\n", plain - without_mirror, without_mirror);
    std::printf("the beam              %8.2f ms/frame (%.2f without)\n", plain - without_beam, without_beam);
    if (ratio > 3.0 || share > 10.0) status = 2;
    if (argc > 2) {
      render::Device* device = render::GetDevice();
      device->SetDumpFolder(argv[2]);
      s.scene.shadows = true;
      device->Clear(0, nullptr, render::CLEAR_TARGET | render::CLEAR_ZBUFFER | render::CLEAR_STENCIL, 0xFF000000u,
                    1.0f, 0);
      device->BeginScene();
      scene::DrawRequest at_two = request;
      at_two.now = 2.0;
      scene::Draw(&s.scene, at_two);
      device->EndScene();
      device->Present();
      device->SetDumpFolder("");
    }
    s.scene.Clear();
    render::PopShaderManager();
    s.manager.Shutdown();
  }
  render::ShutdownShaderSystem();
  render::ShutdownRenderLayer();
  render::ReleaseDevice();
  render::ReleaseDirect3D();
  core::StopFileLayer();
  std::system((std::string("rm -rf '") + folder + "'").c_str());
  return status;
}

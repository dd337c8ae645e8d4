// Start-up, per-frame and shutdown steps that belong to other parts of the
// renderer (materials, images, metaballs, video). The Server calls them in
// their fixed places; until a part exists its step has nothing to do,
// succeeds and says so in the trace.
//
// Materials: the Server's own material library holds the program's
// data/shaders/. It sits at the bottom of the manager stack for as long as
// the Server runs; each effect pushes its own library over it while it
// loads and draws.
#include "fx/image_effect.h"
#include "media/media.h"
#include "render/materials.h"
#include "scene/metaballs.h"
#include "server/server_internal.h"

namespace server::internal {
namespace {

render::ShaderManager g_materials;
bool g_shader_system = false;
bool g_materials_pushed = false;

}  // namespace

int StaticInitMaterials() {
  if (render::InitShaderSystem() != 0) return -1;
  g_shader_system = true;
  return 0;
}

int InitMaterials() { return g_materials.Init(); }

int ParseMaterialScripts() {
  if (render::PushShaderManager(&g_materials) != 0) return -1;
  g_materials_pushed = true;
  if (g_materials.ParseShaderDirectory("data/shaders/") != 0) return -1;
  core::Trace("SERVER: %d materials read from data/shaders/.\n", g_materials.ShaderCount());
  return 0;
}

int InitImageManager() {
  core::Trace("SERVER: Initializing image manager.\n");
  return fx::StartImageManager();
}
int InitMetaballs() {
  core::Trace("SERVER: Initializing metaballs.\n");
  if (scene::InitMetaballs() != 0) return -1;
  scene::InstallMetaballStage();
  return 0;
}
// FFmpeg's own messages go to the trace from here on.
int InitVideoStreams() {
  media::InstallVideoLog();
  core::Trace("SERVER: Video stream system: FFmpeg's messages go to the trace.\n");
  return 0;
}

void FlushRenderQueue() {
  if (g_shader_system) render::FlushRenderQueue();
}

// Every player's worker ends before the render layer goes.
void ShutdownVideo() {
  media::VideoPlayer::StopAll();
  media::RemoveVideoLog();
}
void ShutdownImageManager() { fx::ShutdownImageManager(); }
void ShutdownMetaballs() { scene::FreeMetaballs(); }

void ShutdownMaterials() {
  if (g_materials_pushed && render::CurrentShaderManager() == &g_materials) render::PopShaderManager();
  g_materials_pushed = false;
  g_materials.Shutdown();
}

void ShutdownRenderQueue() {
  if (!g_shader_system) return;
  render::ShutdownShaderSystem();
  g_shader_system = false;
}

}  // namespace server::internal

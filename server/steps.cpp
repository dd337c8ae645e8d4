// Start-up, per-frame and shutdown steps that belong to other parts of the
// renderer (materials, images, metaballs, video). The Server calls them in
// their fixed places; until a part exists its step has nothing to do,
// succeeds and says so in the trace.
#include "server/server_internal.h"

#include "fx/fx.h"

namespace server::internal {
namespace {

int NothingToDo(const char* step) {
  core::Trace("SERVER: %s: nothing to set up yet.\n", step);
  return 0;
}

}  // namespace

int StaticInitMaterials() { return NothingToDo("Material manager static set-up"); }
int InitMaterials() { return NothingToDo("Material manager"); }
int ParseMaterialScripts() { return NothingToDo("Material scripts of data/shaders/"); }
int InitImageManager() {
  core::Trace("SERVER: Initializing image manager.\n");
  return fx::StartImageManager();
}
int InitMetaballs() { return NothingToDo("Metaballs"); }
int InitVideoStreams() { return NothingToDo("Video stream system"); }

void FlushRenderQueue() {}

void ShutdownVideo() {}
void ShutdownImageManager() { fx::ShutdownImageManager(); }
void ShutdownMaterials() {}
void ShutdownRenderQueue() {}

}  // namespace server::internal

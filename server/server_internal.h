// Internal to the server module: the pieces server.cpp strings together.
#pragma once

#include <vector>

#include "app/core/core.h"
#include "server/server.h"

namespace server::internal {

// ---------------------------------------------------------------------------
// Output window (output_window.cpp, window_sdl.cpp).
// ---------------------------------------------------------------------------
class OutputWindow final : public core::QEGUIWindow {
 public:
  // Close: remembers the position, hides the window and stops the Server's
  // rendering; the Server tick returns 0 from then on.
  void OnClose() override;
  // Left double-click: the frame goes, or comes back.
  void OnDoubleClick(int x, int y) override;
  // Whether the window should have its caption and border (what the
  // double-click toggles; the window system follows when it can).
  bool framed() const { return framed_; }

 private:
  friend int OpenOutputWindow(OutputWindow* window);
  bool framed_ = true;
};

struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Where a window of `width` x `height` at (x, y) should go so that a usable
// part of it lies on one of `screens`: unchanged when it already does,
// else centred on the first screen (its top-left corner when larger).
void PlaceOnVisibleScreen(int* x, int* y, int width, int height, const std::vector<ScreenRect>& screens);

// Window-system specifics (window_sdl.cpp).
std::vector<ScreenRect> ScreenRects();
bool WindowFramed(const core::QEGUIWindow& window);
// Adds or removes the caption and border, keeping the client area where it
// is and the window's size and stacking.
void SetWindowFramed(core::QEGUIWindow* window, bool framed);
// Moves the window so that its outer frame's top-left corner is (x, y),
// the same corner GetPosition reports.
void MoveWindowFrameTo(core::QEGUIWindow* window, int x, int y);

// Creates the output window at the saved position ("ServerX"/"ServerY"),
// moved onto a screen when that lies off every screen. 0 or -1.
int OpenOutputWindow(OutputWindow* window);
// Stores the window's position as "ServerX"/"ServerY".
void SaveOutputWindowPosition(const OutputWindow& window);
// The Server's output window object (it has no window when headless).
OutputWindow* GetOutputWindow();

// ---------------------------------------------------------------------------
// Start-up steps other parts of the program fill (steps.cpp). Each returns
// 0 or -1; until its part exists a step succeeds and says so in the trace.
// ---------------------------------------------------------------------------
int StaticInitMaterials();   // material manager static set-up
int InitMaterials();         // the Server's material manager
int ParseMaterialScripts();  // every script of data/shaders/
int InitImageManager();      // tiled image textures
int InitMetaballs();
int InitVideoStreams();      // a failure only warns
void FlushRenderQueue();     // once per frame, before drawing
void ShutdownVideo();        // the AVI library and the video stream system
void ShutdownImageManager();
void ShutdownMaterials();
void ShutdownRenderQueue();

// ---------------------------------------------------------------------------
// Mixers (mixers.cpp). Until the mixers draw, every deck is drawn as the
// NULL mixer draws: straight into the current target.
// ---------------------------------------------------------------------------
int StartMixers();
void StopMixers();
// Draws the deck's effect through its mixer (the NULL mixer for -1) into
// the scratch framebuffer, which is the current target. 0 or -1.
int MixDeck(Deck* deck, EffectEntry* entry);

// ---------------------------------------------------------------------------
// Render step (render_frame.cpp).
// ---------------------------------------------------------------------------
// Scratch framebuffer, scratch texture and scratch depth. On failure shows
// the step's message and returns -1 (what was made is released).
int CreateScratchTargets();
void ReleaseScratchTargets();
// One frame: every deck with a script drawn in deck order into the scratch
// framebuffer, which then goes onto the output and is presented. Returns
// whether a deck was drawn.
bool RenderFrame(double now);

}  // namespace server::internal

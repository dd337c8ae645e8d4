// Internal to the server module: the pieces server.cpp strings together.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "control/control.h"
#include "net/link.h"
#include "show/preset.h"
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
  // Left double-click and F11: full screen on the window's display, or
  // back to the framed window (the choice is remembered per display).
  void OnDoubleClick(int x, int y) override;
  void OnKeyDown(int32_t key, uint16_t modifiers, bool repeat) override;
  // The mouse pointer hides while it is over a full-screen output.
  bool WindowProc(const core::WindowEvent& event) override;
  // Whether the window should have its caption and border: off while full
  // screen (the window system follows when it can).
  bool framed() const { return framed_; }
  bool full_screen() const { return full_screen_; }
  // Full screen (borderless, covering display `display`) or back to the
  // framed window of the output's size. `remember` stores the choice.
  void SetOutputFullScreen(bool full_screen, bool remember);
  void ToggleFullScreen() { SetOutputFullScreen(!full_screen_, true); }

 private:
  friend int OpenOutputWindow(OutputWindow* window);
  bool framed_ = true;
  bool full_screen_ = false;
};

// The settings value remembering the full-screen choice of a display.
std::string FullScreenSettingName(int display);

// Window-system specifics of full screen (window_sdl.cpp): borderless over
// the whole display the window is on (the back buffer keeps its size and
// is stretched), or back to a window. 0 or -1.
int SetWindowFullScreen(core::QEGUIWindow* window, bool full_screen);
// Moves the window onto display `display` (its centre).
void MoveWindowToDisplay(core::QEGUIWindow* window, int display);
// The display the window is on (0 when unknown).
int WindowDisplay(const core::QEGUIWindow& window);
// Hides the pointer while it is over the window (when `hide`), shows it
// when it leaves.
void TrackPointerOverWindow(const core::WindowEvent& event, bool hide);

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
// The Server's state (server.cpp) and its Client link (client_link.cpp).
// ---------------------------------------------------------------------------
// Log lines kept for the next Client.
inline constexpr size_t kLogBacklogLines = 50;
// Messages taken per tick at most, so a flooding peer cannot hold the frame.
inline constexpr int kMaxMessagesPerTick = 4096;

struct ServerState {
  ServerOptions options;
  bool started = false;
  bool quit_requested = false;
  bool client_connected = false;
  bool drew_deck = false;
  bool window_open = false;
  double clock = 0.0;
  net::ListenSocket listener;
  net::Connection connections[2];
  int current = 0;  // which of `connections` is the Client's
  net::Link link;
  OutputWindow window;
  Deck decks[kDeckCount];
  // The start-up preset's binding, until the first tick recalls it.
  std::optional<show::Binding> startup_recall;
  // The newest log lines, oldest first: a Client connecting later still
  // learns what happened before it (start-up messages among them).
  std::deque<std::string> log_backlog;
  bool backlog_sent = false;  // to the current connection, after its first handshake
  // A failed accept waits until then before the next try.
  double accept_retry_at = 0.0;
  // Slow-frame report: the next one may go at this time; the longest part
  // of the current frame.
  double next_slow_report = 0.0;
  double longest_part_seconds = 0.0;
  std::string longest_part;
  // Tempo as last reported to the Client, and when.
  net::TempoStatusMessage tempo_sent;
  bool tempo_sent_valid = false;
  // The Client asked for the state: it gets tempo reports from then on.
  bool tempo_wanted = false;
  uint32_t last_tempo_report_ms = 0;
  // OSC and the MIDI clock (none when off).
  std::unique_ptr<control::OscReceiver> osc;
  OscCounts osc_counts;
  OscCounts osc_reported;
  std::string osc_last_problem;
  double next_osc_report = 0.0;
  std::unique_ptr<control::MidiInput> midi_clock_input;
  control::MidiClock midi_clock;
  // The start-up preset's bank, for OSC recalls of its bindings.
  std::unique_ptr<show::PresetBank> startup_bank;
  // Frame-rate report.
  uint32_t last_report_ms = 0;
  uint32_t frames = 0;
  float rate = 0.0f;

  ServerState() {
    for (int i = 0; i < kDeckCount; ++i) decks[i].record = net::DefaultDeckRecord(i);
  }
  net::Connection& client() { return connections[current]; }
};

// The one Server.
extern ServerState g_server;

// A deck back to its defaults, keeping its beat listener.
void ResetDeck(int index);

// Sends to the Client if one is connected. A failed send closes the
// connection; the tick notices it after the message loop.
void Send(const net::NetMessage& message);
// The log event's own trace line is written when it is sent.
void SendLogText(const char* text);
void DisconnectClient();
void RestartFrameCount();
// 0 when nothing went wrong (a connection taken or none pending), -1 when a
// pending connection could not be accepted.
int AcceptNewcomer();
// Counts a frame and sends the frame rate about once a second.
void CountFrame();
// Every message from the Client goes through here; the start-up recall
// uses the two deck handlers too.
void HandleMessage(net::NetMessage* message);
void HandleSetDeckEffect(const net::SetDeckEffectMessage& message);
// 0 when every field of the update was taken, -1 when one was refused
// (the reply shows the deck as it is either way).
int HandleDeckUpdate(const net::DeckUpdateMessage& message);

// ---------------------------------------------------------------------------
// Control from outside (control_inputs.cpp): taps, beat off, the tempo
// status, the MIDI clock, OSC.
// ---------------------------------------------------------------------------
void HandleTap();
void HandleBeatDisable();
// Sends the tempo status when it changed or kTempoReportMs passed, once
// the Client has asked for the state; `force` sends it now.
void ReportTempo(bool force);
// Opens the OSC endpoint and the MIDI clock port the options ask for. -1
// when the OSC port cannot be bound (the start fails, as for the control
// port); a MIDI clock that cannot be read only says so.
int StartControlInputs(const ServerOptions& options);
void StopControlInputs();
// Once per tick: OSC datagrams, MIDI clock pulses.
void PollControlInputs();
// One OSC message through the address space. 0 when taken, -1 when refused.
int HandleOscMessage(const control::OscMessage& message);

// Notes a part of the current frame (a load step, a deck's drawing, the
// message burst) that took `seconds`; the slow-frame report names the
// longest one.
void NoteFramePart(double seconds, const std::string& what);

// ---------------------------------------------------------------------------
// Load jobs (effect_loads.cpp): effects loading beside the show.
// ---------------------------------------------------------------------------
// Start-up and shutdown: image textures take their pictures from the loader
// while the Server runs; stopping cancels every job and joins the thread.
void StartEffectLoads();
void StopEffectLoads();
// A load request from the Client: cancels a running load of the entry and
// starts a new one. Its end is answered ("Loaded effect %s" and the status,
// or "Failed to load effect %s"): at once unless loads run in the
// background. -1 when it already failed.
int RequestEffectLoad(EffectEntry* entry);
// Cancels the entry's queued or running load (its partial resources
// freed). Whether there was one.
bool CancelEffectLoad(EffectEntry* entry);
// Works on the loads for at most `budget_seconds`; returns what it worked
// on ("" when nothing).
std::string StepEffectLoads(double budget_seconds);
int RunningEffectLoads();

// ---------------------------------------------------------------------------
// The start-up preset (startup_recall.cpp).
// ---------------------------------------------------------------------------
// Reads the preset file and loads the effects its binding names. 0, or -1
// when the file cannot be read.
int PrepareStartupRecall(const ServerOptions& options);
// The recall itself, through the same handling as the Client's messages:
// each named, loaded effect goes on its deck from its beginning with the
// binding's settings; decks of empty bindings are cleared.
void RecallStartupPreset(const show::Binding& binding);

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
void ShutdownMetaballs();     // frees the field's buffers
void ShutdownMaterials();
void ShutdownRenderQueue();

// ---------------------------------------------------------------------------
// Mixers (mixers.cpp). A deck's mixer lays its effect over what the decks
// before it left in the scratch framebuffer. Mixers are stateless static
// objects: everything they use comes from the deck, its beat listener and
// the global time.
// ---------------------------------------------------------------------------
class Mixer {
 public:
  virtual ~Mixer() = default;
  // Start and shutdown hooks; every mixer returns 0.
  virtual int Init() { return 0; }
  virtual int Shutdown() { return 0; }
  // The keyword the Client shows.
  virtual const char* GetName() const = 0;
  // Draws the deck's effect into the scratch framebuffer, which is the
  // current target. 0 or -1.
  virtual int Mix(EffectEntry* entry, Deck* deck) = 0;
  // The entry's script drawn into the current target. Render targets the
  // effect leaves pushed are popped again.
  virtual void RenderDeck(EffectEntry* entry);
};

// Index -1: the effect draws straight into the scratch framebuffer.
class NullMixer final : public Mixer {
 public:
  const char* GetName() const override { return "NULL"; }
  int Mix(EffectEntry* entry, Deck* deck) override;
};

// The ten listed mixers: the effect is drawn over a copy of the picture in
// the scratch texture, which then goes back over the picture, blended
// (f x copy + (1 - f) x picture) or added (picture + f x copy).
class CompositeMixer : public Mixer {
 public:
  enum class Draw { kBlend, kAdditive };
  int Mix(EffectEntry* entry, Deck* deck) override;
  // The blend strength, unclamped.
  virtual float Factor(const EffectEntry* entry, const Deck* deck) const = 0;
  Draw draw() const { return draw_; }

 protected:
  explicit CompositeMixer(Draw draw) : draw_(draw) {}

 private:
  Draw draw_;
};

// Runs every mixer's Init (the NULL mixer first) and fills the list in
// index order. 0 or -1.
int StartMixers();
// Empties the list and runs every mixer's Shutdown.
void StopMixers();
// -1: the NULL mixer; 0..9: the list's mixer; nullptr otherwise or while
// the list is empty.
Mixer* FindMixer(int index);
CompositeMixer* ListedMixer(int index);
// Draws the deck's effect through its mixer. 0 or -1.
int MixDeck(Deck* deck, EffectEntry* entry);

// The terms of the factors. Pulse: 1 at a beat, falling linearly to 0 over
// kPulseSeconds after it (0 without a listener). Level: the listener's.
inline constexpr double kPulseSeconds = 0.3;
float BeatPulse(const fx::BeatListener* listener, double global_time);
// Into 0..1 (NaN gives 0): what the texture factor's alpha byte can say.
float ClampFactor(float factor);
// The alpha byte of a factor: factor x 255 truncated, after clamping.
uint32_t FactorAlphaByte(float factor);

// The screen-filling draws. The quad's corners lie on pixel edges
// (-0.5 .. size - 0.5), so a copy between targets of one size is exact and
// repeated copies never drift or blur. Alpha exactly 1 draws opaque (no
// blending); otherwise the texture factor's alpha weighs the texture over
// the target. The additive draw always adds alpha x texture.
void DrawFullScreen(render::TextureId texture, float alpha);
void DrawFullScreenAdditive(render::TextureId texture, float alpha);
// An opaque copy darkened to `level` (0..1): each channel times
// round(level x 255) / 255.
void DrawFullScreenScaled(render::TextureId texture, float level);

// ---------------------------------------------------------------------------
// The venue output (venue_output.cpp): output and mix sizes, the master
// fader and blackout, previews for the Client, recording.
// ---------------------------------------------------------------------------
// The output and mix sizes from the options and, for a full-screen output
// without a size, the display's desktop (InitDirect3D has run). 0, or -1
// with the message shown.
int ChooseOutputSizes(const ServerOptions& options);
// After the device exists: the preview target and its encoder, and the
// recording asked for on the command line. 0, or -1 (message shown).
int StartVenueOutput();
void StopVenueOutput();
// The final copy: the mix onto the current target (the back buffer) at
// the master level, or black.
void PresentMix(render::TextureId framebuffer);
// After Present: the pictures the preview and the recording take.
void CaptureOutput(double now);
// Once a tick: finished previews to the Client, recording reports.
void VenueTick();
// Messages 15-19; false for other types.
bool HandleVenueMessage(net::NetMessage* message);
void SendMasterStatus();
// A new Client starts without previews.
void OnNewClient();

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

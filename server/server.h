// The Server: the renderer of the show and the far end of the control link.
//
//   life       StartServer / ServerTick / ShutdownServer, called by the
//              application hooks. One Server per process.
//   link       one listening endpoint; the newest connection replaces the
//              current one; each tick drains and answers every message.
//   catalogue  the folders under effects/, their IDs and names on the wire,
//              loading and unloading their scripts.
//   decks      six decks, each with an effect, fader, mixer, speed, beat
//              mode and the time anchors its effect time runs from.
//   output     the window "halvane VJ server" (none when headless), the
//              scratch targets and one presented frame per tick.
//
// Everything runs on the frame-loop thread except the reading and decoding
// of effects being loaded (a loader thread, see effect_loads.cpp). Nothing
// here waits: a tick that drew no deck pauses 10 ms through the program
// clock, which an injected clock skips. A frame over the slow-frame limit
// is reported in the log with what took longest in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fx/effect.h"
#include "fx/timing.h"
#include "net/wire.h"
#include "render/layer.h"

namespace server {

inline constexpr const char* kOutputWindowTitle = "halvane VJ server";
inline constexpr int kOutputWidth = 640;
inline constexpr int kOutputHeight = 480;
inline constexpr int kScratchSize = 512;
inline constexpr int kDeckCount = net::kDeckCount;
// Pause of a tick in which no deck was drawn.
inline constexpr double kIdleSleepSeconds = 0.010;
// The frame rate goes to the Client about once every this many ms.
inline constexpr uint32_t kFrameRateReportMs = 1000;
// Slow frames are reported at most once per this many seconds.
inline constexpr double kSlowFrameReportSeconds = 1.0;
// A failed accept is not tried again sooner than this.
inline constexpr double kAcceptRetrySeconds = 0.100;
// Longest effect name on the wire (char[64] with its NUL).
inline constexpr size_t kMaxEffectName = 63;

// How the Server starts. The two-argument StartServer fills in the rest.
struct ServerOptions {
  int adapter = 0;
  int port = net::kDefaultPort;  // 0 = any free port (see ServerPort)
  std::string bind_address;      // empty = every local address
  bool headless = false;         // no window: an offscreen device
  bool vsync = true;             // off for fixed-rate runs
  // Effects load beside the show: a load request starts a job stepped a
  // little every frame (files read and decoded on a loader thread, uploads
  // sliced), and the reply comes when it completes. Off: every load
  // completes inside its request, before the next frame (fixed-rate runs
  // and tests, so renders stay exact).
  bool background_loads = false;
  // Work a background load may do per frame.
  double load_budget_seconds = 0.002;
  // A frame longer than this is reported in the log (at most one line per
  // kSlowFrameReportSeconds).
  double slow_frame_seconds = 0.100;
  // A show started from a preset (no Client needed): the binding
  // [recall_page][recall_letter] of this preset file. Its effects are
  // loaded at start-up, and the first tick puts them on the decks as a
  // recall from a panel (without Shift) would. Empty = none.
  std::string preset_file;
  int recall_page = 0;    // 0-9: the page of the "1" ... "9", "0" keys
  int recall_letter = 0;  // 0-25: A-Z
  // OSC control on this UDP port (bound to bind_address); -1 = off, 0 =
  // any free port (see OscPort).
  int osc_port = -1;
  // The tempo follows the MIDI clock of the input port whose name contains
  // this text ("MIDI CLOCK" as the tempo source). Empty = tapped tempo.
  std::string midi_clock_port;

  // --- the output a venue needs (venue_output.cpp) ---------------------------
  // The output's back buffer (and window) size. Unless `output_size_given`,
  // a full-screen output takes its display's desktop size instead.
  int output_width = kOutputWidth;
  int output_height = kOutputHeight;
  bool output_size_given = false;
  // The scratch targets the decks compose in; 0 x 0 = the output's size
  // (within what the device allows).
  int mix_width = kScratchSize;
  int mix_height = kScratchSize;
  // Borderless and full screen on the display `adapter`. The last choice
  // made on a display is remembered and used when this is off.
  bool fullscreen = false;
  // Record the output from the first frame into this .mkv / .mp4 file.
  std::string record_file;
  // The sound file the input plays (recorded beside the picture).
  std::string audio_file;
  // Fixed-rate runs: the recorder and the preview encoder are waited for
  // instead of dropping frames, so every frame is kept; `frame_rate` is
  // the rate written into recordings (0 = 25).
  bool wait_for_encoders = false;
  double frame_rate = 0.0;
};

// Sizes an output or a mix may have (each side).
inline constexpr int kMinPictureSide = 16;
inline constexpr int kMaxPictureSide = 4096;

// ---------------------------------------------------------------------------
// Life.
// ---------------------------------------------------------------------------

// Start-up in its fixed order (display, render layer, mixers and scratch
// targets, materials, images, metaballs, video, catalogue, decks, the
// start-up preset, listening). A failing step shows its message and
// returns -1; so does a preset file that cannot be read (an effect of the
// binding that is missing or fails to load is reported and skipped).
int StartServer(int adapter, int port);
int StartServer(const ServerOptions& options);
// 1 to go on, 0 once the output window was closed (or the Server is not
// running), -1 when taking a new connection failed (the tick still handles
// the current Client and renders; the accept is tried again after
// kAcceptRetrySeconds).
int ServerTick();
// Releases everything in reverse order. Does nothing unless started.
void ShutdownServer();

// printf-style; the text (cut to 1023 characters) goes to the connected
// Client as a log event, and to the trace. The run-time message sink of the
// application core is connected here while the Server runs.
void ServerLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

bool ServerStarted();
// The port actually listened on, or -1.
int ServerPort();
bool ClientConnected();
bool QuitRequested();
// The Server clock: program seconds, read at the start of every tick.
double ServerClock();
// Whether the last tick drew at least one deck.
bool LastTickDrewDeck();
// Ticks counted toward the next frame-rate report, and the last rate sent.
uint32_t FramesSinceReport();
float LastFrameRate();

// ---------------------------------------------------------------------------
// Control from outside: tempo and OSC (control_inputs.cpp).
// ---------------------------------------------------------------------------
// Tempo status goes to the Client on every change and at least this often.
inline constexpr uint32_t kTempoReportMs = 1000;
// OSC datagrams taken per tick at most.
inline constexpr size_t kMaxOscPacketsPerTick = 256;

// The UDP port OSC is read on, or -1 when off.
int OscPort();
struct OscCounts {
  uint64_t accepted = 0;   // messages that changed or confirmed something
  uint64_t rejected = 0;   // unknown address, wrong or bad arguments
  uint64_t malformed = 0;  // datagrams that are not OSC
};
OscCounts GetOscCounts();

// ---------------------------------------------------------------------------
// Effect catalogue. IDs are positions and never change while the Server
// runs.
// ---------------------------------------------------------------------------
struct EffectEntry {
  int32_t id = -1;
  char name[64] = {};   // upper-case, extension-less folder name, <= 63 chars
  bool loaded = false;  // loaded and not unloaded since
  bool loading = false;  // a load job for it is queued or running
  // The folder under effects/ as the file system spells it: loading reads
  // from here, never from the name.
  std::string folder;
  // None before the first successful load and after a failed one. Unloading
  // keeps it, so a deck showing the effect goes on drawing.
  std::unique_ptr<fx::FxScript> script;

  net::EffectRecord Record() const;
};

// Lists effects/ (files as well as folders, in sorted order). No folder
// gives an empty catalogue. -1 only when memory runs out.
int EnumerateEffects();
// A fresh script from the entry's folder, loaded now (waiting for the
// loader thread and doing every upload): data/script.txt read and its
// instances made while the folder is the file layer's base folder. A load
// of the entry that was running is cancelled first. 0 with the entry
// loaded, or -1 with the entry left without a script.
int LoadEffect(EffectEntry* entry);
// Clears the loaded flag and cancels a running load; a loaded script stays.
void UnloadEffect(EffectEntry* entry);
void ReleaseCatalogue();
int EffectCount();
// nullptr for an ID outside the catalogue.
EffectEntry* FindEffect(int32_t id);

// ---------------------------------------------------------------------------
// Decks.
// ---------------------------------------------------------------------------
struct Deck {
  // The effect time is (clock - start_time) * rate + time_offset, wrapped
  // into the script length; rate = (speed - 0.5) * 4.
  double start_time = 0.0;
  double time_offset = 0.0;
  net::DeckRecord record;
  fx::BeatListener* listener = nullptr;  // made at start-up
};

// nullptr outside 0..5.
Deck* GetDeck(int index);
inline double SpeedRate(float speed) { return (static_cast<double>(speed) - 0.5) * 4.0; }
// The deck's effect time at `now` for a script of `length` seconds,
// wrapped into 0..length (backwards included); 0 for a length of 0. First,
// in a frame whose listener reports a beat (and while beats are not
// disabled), START ON BEAT re-anchors the deck at time 0 and END ON BEAT at
// length minus the tapped period.
double DeckEffectTime(Deck* deck, double now, float length);
// Stores a new speed, moving the time offset so the effect time at `now`
// stays where it was. A non-finite speed changes nothing.
void ChangeDeckSpeed(Deck* deck, float speed, double now);

// ---------------------------------------------------------------------------
// Output.
// ---------------------------------------------------------------------------
// The scratch targets of the render layer, made at start-up (kNoId before):
// the X8R8G8B8 framebuffer (512 x 512 unless --mix says otherwise) the decks are composed in, a working
// texture of the same kind, and the depth surface both share. During a
// frame the framebuffer is the current target while decks are drawn.
render::TextureId ScratchFramebuffer();
render::TextureId ScratchTexture();
render::TextureId ScratchDepth();

// The scratch targets' size (kScratchSize square by default) and the
// output's, once started.
int ScratchWidth();
int ScratchHeight();
int OutputWidth();
int OutputHeight();

// Master fader and blackout, applied where the mix is stretched onto the
// output: the output is the mix times `level` (0..1), black while the
// blackout is on. Start: 1 and off. A non-finite level is ignored, others
// are kept in 0..1. Every change goes to the Client as a master status.
void SetMaster(float level, bool blackout);
float MasterLevel();
bool Blackout();

// Recording the output as shown. 0, or -1 with the reason in the log.
int StartRecording(const std::string& path);
void StopRecording();
bool Recording();
// Frames recorded and dropped by the current (or last) recording.
uint64_t RecordedFrames();
uint64_t DroppedRecordFrames();

// Previews sent to the Client, and previews skipped because its link
// still held one.
uint64_t PreviewsSent();
uint64_t PreviewsSkipped();

// The mixer list as the wire shows it (index order); the NULL mixer (-1)
// is not in it.
int MixerCount();
const char* MixerName(int index);  // nullptr outside the list

}  // namespace server

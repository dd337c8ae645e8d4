// Process entry, command line, the three application hooks and the frame loop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The platform's own "--name" / "--name=value" options, taken out of the
// command line before the described words are read.
struct Options {
  bool help = false;
  bool headless = false;
  int64_t frames = -1;  // stop after this many frames; -1 = run until told
  std::string settings_dir;
  std::string root;  // folder holding the show's effects/ and data/
  std::string trace_file;
  std::string audio_input;  // sound file played as the input (absolute path)
  // Live sound devices may be opened. Offline (fixed-rate) runs turn this
  // off: they hear the --audio-input file or silence, never a device.
  bool live_audio = true;
  std::string dump_dir;  // every presented frame becomes a PNG here
  int port = 6969;           // the Server's control port; 0 = any free port
  std::string bind_address;  // listen on this local address only; empty = all
  // Frames per second of a fixed-rate run: the program clock advances
  // exactly 1/fps s per frame, never waiting for the wall clock or vsync.
  // 0 = follow the wall clock.
  double fps = 0.0;
  // Start the show from a preset: the Server recalls binding `recall_key`
  // ("Q" on page 1, "3Q" on page 3) of this preset file (absolute path) on
  // its first tick. Both or neither.
  std::string preset_file;
  std::string recall_key;
  // OSC control of the Server on this UDP port (-1 = off, 0 = any free port).
  int osc_port = -1;
  // The Server's tempo follows the MIDI clock of the port named like this.
  std::string midi_clock_port;
  // The output a venue needs: the output's size (0 x 0 = the default, or
  // the display's desktop when full screen), full screen, the mix's size
  // (0 x 0 = "auto": the output's), and a recording from the first frame.
  int output_width = 0, output_height = 0;
  bool fullscreen = false;
  int mix_width = 512, mix_height = 512;
  std::string record_file;  // absolute path
};
// "WxH" with both sides within 16 .. 4096. False otherwise.
bool ParsePictureSize(const std::string& text, int* width, int* height);

// Splits argv into options and the remaining words (joined by blanks, the
// command line the described parser reads). Returns 0, or -1 with a reason
// in *error for an unknown option or a malformed value.
int ParseOptions(int argc, const char* const* argv, Options* options, std::string* words,
                 std::string* error);
std::string UsageText();
// The Server's port when --port is not given: $VJ_PORT if it holds a port
// number, else 6969.
int DefaultServerPort();

enum class RunMode { kCombined, kClientOnly, kServerOnly };

struct CommandLine {
  bool client_only = false;
  bool server_only = false;
  int adapter = 0;
  bool help = false;                    // "h" or "help" (-h, -help, help)
  std::vector<std::string> unknown;     // words that mean nothing, in order
  RunMode Mode() const {
    if (server_only) return RunMode::kServerOnly;
    if (client_only) return RunMode::kClientOnly;
    return RunMode::kCombined;
  }
};

// Words separated by '-', blank or tab; `client`, `server`, `device N`,
// compared exactly; later words win; "h" and "help" ask for the usage;
// others are ignored (and listed in `unknown`).
CommandLine ParseCommandWords(std::string_view command_line);

// The application hooks.
int QeAppInit();
int QeAppFrame();
int QeAppShutdown();

// The framework entry: returns the process exit status (0 after a normal
// run, 1 when start-up failed, 2 for a usage error).
int RunProgram(int argc, const char* const* argv);

// Asks the frame loop to end after the current frame (signals, window close).
void RequestStop();
bool StopRequested();

}  // namespace app

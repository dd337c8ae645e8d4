#include "app/app.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "app/core/core.h"
#include "net/socket.h"
#include "show/preset.h"

namespace app {
namespace {

// Digits only, at most 18 of them.
bool ParseCount(const std::string& text, int64_t* value) {
  uint64_t n = 0;
  if (text.size() > 18 || !core::ParseNumber(text, &n)) return false;
  *value = static_cast<int64_t>(n);
  return true;
}

bool ParsePort(const std::string& text, int* port) {
  int64_t value = 0;
  if (!ParseCount(text, &value) || value > 65535) return false;
  *port = static_cast<int>(value);
  return true;
}

// A positive real in the "C" notation, whatever the locale.
bool ParseRate(const std::string& text, double* rate) {
  double value = 0.0;
  if (!core::ParseNumber(text, &value) || !std::isfinite(value) || value <= 0.0 || value > 10000.0) return false;
  *rate = value;
  return true;
}

// Paths on the command line are relative to the caller's working folder,
// not to the show root the file layer resolves against.
std::string AbsoluteFromWorkingFolder(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return path;
  return std::string(buffer) + "/" + path;
}

struct OptionSpec {
  const char* name;
  bool takes_value;
  // Returns false when the value is malformed.
  bool (*apply)(Options* options, const std::string& value);
};

const OptionSpec kOptionSpecs[] = {
    {"help", false, [](Options* o, const std::string&) { return o->help = true; }},
    {"headless", false, [](Options* o, const std::string&) { return o->headless = true; }},
    {"frames", true, [](Options* o, const std::string& v) { return ParseCount(v, &o->frames); }},
    {"settings-dir", true,
     [](Options* o, const std::string& v) {
       o->settings_dir = v;
       return !v.empty();
     }},
    {"root", true,
     [](Options* o, const std::string& v) {
       o->root = v;
       return !v.empty();
     }},
    {"trace", true,
     [](Options* o, const std::string& v) {
       o->trace_file = v;
       return !v.empty();
     }},
    {"audio-input", true,
     [](Options* o, const std::string& v) {
       o->audio_input = AbsoluteFromWorkingFolder(v);
       return !v.empty();
     }},
    {"dump", true,
     [](Options* o, const std::string& v) {
       o->dump_dir = v;
       return !v.empty();
     }},
    {"port", true, [](Options* o, const std::string& v) { return ParsePort(v, &o->port); }},
    {"bind", true,
     [](Options* o, const std::string& v) {
       o->bind_address = v;
       return !v.empty();
     }},
    {"preset", true,
     [](Options* o, const std::string& v) {
       o->preset_file = AbsoluteFromWorkingFolder(v);
       return !v.empty();
     }},
    {"recall", true,
     [](Options* o, const std::string& v) {
       o->recall_key = v;
       return show::ParseBindingKey(v, nullptr, nullptr) == 0;
     }},
    {"osc-port", true, [](Options* o, const std::string& v) { return ParsePort(v, &o->osc_port); }},
    {"midi-clock", true,
     [](Options* o, const std::string& v) {
       o->midi_clock_port = v;
       return !v.empty();
     }},
    {"output", true, [](Options* o, const std::string& v) { return ParsePictureSize(v, &o->output_width, &o->output_height); }},
    {"fullscreen", false, [](Options* o, const std::string&) { return o->fullscreen = true; }},
    {"mix", true,
     [](Options* o, const std::string& v) {
       if (v == "auto") {
         o->mix_width = o->mix_height = 0;
         return true;
       }
       return ParsePictureSize(v, &o->mix_width, &o->mix_height);
     }},
    {"record", true,
     [](Options* o, const std::string& v) {
       o->record_file = AbsoluteFromWorkingFolder(v);
       return !v.empty();
     }},
    {"fps", true,
     [](Options* o, const std::string& v) {
       if (!ParseRate(v, &o->fps)) return false;
       o->live_audio = false;  // offline runs hear a file or silence
       return true;
     }},
};

}  // namespace

bool ParsePictureSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  int64_t w = 0, h = 0;
  if (!ParseCount(text.substr(0, x), &w) || !ParseCount(text.substr(x + 1), &h)) return false;
  if (w < 16 || h < 16 || w > 4096 || h > 4096) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

int DefaultServerPort() {
  const char* env = std::getenv("VJ_PORT");
  int port = 0;
  if (env && *env && ParsePort(env, &port)) return port;
  return 6969;
}

std::string UsageText() {
  return "usage: vj [server | client] [device N] [--option ...]\n"
         "\n"
         "Words (separated by blanks, tabs or '-'):\n"
         "  server            run the Server (the output window) only\n"
         "  client            run the Client (the control panels) only\n"
         "  device N          show the output on display N (default 0)\n"
         "  (no words)        run both in one process\n"
         "  help, -h          print this text and exit\n"
         "\n"
         "Options:\n"
         "  --help                 print this text and exit\n"
         "  --headless             run the Server without any window (implies server)\n"
         "  --frames=N             stop after N frames\n"
         "  --settings-dir=DIR     settings folder (default $VJ_SETTINGS_DIR, else\n"
         "                         $XDG_CONFIG_HOME/halvane/vj or ~/.config/halvane/vj)\n"
         "  --root=DIR             folder holding the show's effects/ and data/\n"
         "                         (default: beside the program)\n"
         "  --trace=FILE           append diagnostic lines to FILE\n"
         "  --audio-input=FILE     listen to a sound file (WAV, FLAC, OGG; looping)\n"
         "                         instead of the recording device\n"
         "  --dump=DIR             write every presented output frame to DIR as\n"
         "                         000000.png, 000001.png, ... (DIR is created)\n"
         "  --port=N               the Server's control port (default $VJ_PORT, else\n"
         "                         6969; 0 takes any free port). Once listening, the\n"
         "                         Server prints one line \"listening on PORT\" to\n"
         "                         stdout\n"
         "  --bind=ADDR            listen on this local address only (e.g. 127.0.0.1;\n"
         "                         default: every address)\n"
         "  --fps=F                fixed-rate run: the clock advances exactly 1/F s\n"
         "                         per frame, with no waiting for the wall clock or\n"
         "                         vsync, and no live sound device (offline renders,\n"
         "                         tests)\n"
         "  --preset=FILE.HVR      start the show from a preset file (with --recall):\n"
         "                         the Server loads the effects of the binding and\n"
         "                         puts them on the decks on its first frame, with\n"
         "                         the binding's fader, mixer, speed and beat mode;\n"
         "                         decks the binding leaves empty stay empty\n"
         "  --recall=KEY           the binding to start with: a letter for page 1\n"
         "                         (\"Q\"), or the page key and a letter (\"3Q\" is Q\n"
         "                         on page 3, \"0Q\" on page 10)\n"
         "  --osc-port=N           take OSC control messages on UDP port N (--bind\n"
         "                         applies; 0 takes any free port; default off)\n"
         "  --midi-clock=PORT      the tempo follows the MIDI clock (24 pulses per\n"
         "                         beat, start/stop/continue) of the MIDI input port\n"
         "                         whose name contains PORT\n"
         "  --output=WxH           the output's size (default 640x480; 16..4096 a side)\n"
         "  --fullscreen           the output borderless and full screen on display N\n"
         "                         (at the desktop's size unless --output is given)\n"
         "  --mix=WxH|auto         the size the decks are composed in (default\n"
         "                         512x512; auto: the output's size)\n"
         "  --record=FILE          record the output into FILE (.mkv or .mp4), with\n"
         "                         the --audio-input sound when there is one\n";
}

int ParseOptions(int argc, const char* const* argv, Options* options, std::string* words,
                 std::string* error) {
  words->clear();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (!words->empty()) words->push_back(' ');
      *words += arg;
      continue;
    }
    size_t equals = arg.find('=');
    std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    bool has_value = equals != std::string::npos;
    std::string value = has_value ? arg.substr(equals + 1) : std::string();
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : kOptionSpecs)
      if (name == candidate.name) spec = &candidate;
    if (!spec) {
      *error = "unknown option --" + name;
      return -1;
    }
    if (spec->takes_value != has_value) {
      *error = spec->takes_value ? "option --" + name + " needs a value (--" + name + "=...)"
                                 : "option --" + name + " takes no value";
      return -1;
    }
    if (!spec->apply(options, value)) {
      *error = "bad value for --" + name + ": '" + value + "'";
      return -1;
    }
  }
  if (options->preset_file.empty() != options->recall_key.empty()) {
    *error = options->preset_file.empty() ? "--recall needs --preset=FILE" : "--preset needs --recall=KEY";
    return -1;
  }
  return 0;
}

CommandLine ParseCommandWords(std::string_view command_line) {
  std::vector<std::string> list;
  std::string current;
  for (char c : command_line) {
    if (c == '-' || c == ' ' || c == '\t') {
      if (!current.empty()) list.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) list.push_back(current);

  CommandLine result;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == "client") {
      result.client_only = true;
      result.server_only = false;
    } else if (list[i] == "server") {
      result.client_only = false;
      result.server_only = true;
    } else if (list[i] == "device") {
      // A missing or non-numeric word reads as 0; what follows the digits
      // is ignored, and a number too large saturates.
      std::string number = i + 1 < list.size() ? list[++i] : std::string();
      int64_t value = 0;
      core::ScanNumber(number, &value, {.skip_space = true, .plus = true});
      result.adapter = value > 1000000 ? 1000000 : static_cast<int>(value);
    } else if (list[i] == "h" || list[i] == "help") {
      result.help = true;
    } else {
      result.unknown.push_back(list[i]);
    }
  }
  return result;
}

}  // namespace app

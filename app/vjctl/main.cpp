// vjctl: drives a running Server from the command line.
//
// One run = one connection: connect, handshake with the version check, take
// the state (the effect, deck and mixer tables the commands need to turn
// names into numbers), run one command, wait for the Server's answer to it,
// print it and leave. Waiting happens here in poll(), which is fine for a
// command-line tool; the library calls themselves never wait.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "net/link.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

const char kUsage[] =
    "usage: vjctl [--host H] [--port N] [--timeout S] COMMAND [ARGUMENT ...]\n"
    "\n"
    "Controls a running halvane VJ Server over its TCP port. Each run connects,\n"
    "checks the protocol version (0.1), runs one command, waits for the Server's\n"
    "reply and prints it.\n"
    "\n"
    "The Server serves one controller at a time: the newest connection wins, so\n"
    "vjctl takes the connection over from a Client panel connected to the same\n"
    "Server (the panel shows \"Disconnected\" and can connect again).\n"
    "\n"
    "Options (also as --host=H, --port=N, --timeout=S):\n"
    "  --host H      the Server's host name or IPv4 address (default localhost)\n"
    "  --port N      the Server's port (default $VJ_PORT if set, else 6969)\n"
    "  --timeout S   seconds to wait for the connection and for each reply\n"
    "                (default 10)\n"
    "  --help        print this text and exit\n"
    "\n"
    "Commands (decks are numbered 1-6 as on the controller panel; an effect is\n"
    "given by its name or its ID):\n"
    "  state                      list the effects with their IDs and loaded flags,\n"
    "                             the six decks, the mixers and the beat settings\n"
    "  load EFFECT                load an effect on the Server\n"
    "  unload EFFECT              unload an effect\n"
    "  deck N EFFECT              put a loaded effect on deck N (it starts from\n"
    "                             its beginning)\n"
    "  deck N off                 take the effect off deck N\n"
    "  set N [fader=F] [speed=S] [mixer=NAME|NUMBER] [beat=FREE|START|END|NUMBER]\n"
    "                             change deck N; any subset, at least one. Fader\n"
    "                             and speed are 0-1 (speed 0.75 is normal, 0.5\n"
    "                             stands still, lower runs backwards); mixer NULL\n"
    "                             or -1 draws the deck directly\n"
    "  beat [low=L] [high=H] [threshold=T]\n"
    "                             set the beat detector's spectrum bins and level\n"
    "  tap                        tap the Server's tempo (as the space bar does)\n"
    "                             and print the tempo\n"
    "  beat-off                   switch the Server's beats off, or on again (as\n"
    "                             Backspace does), and print which\n"
    "  watch                      print log events, deck and effect statuses and\n"
    "                             frame rates as they arrive, until interrupted\n"
    "                             (Ctrl+C)\n"
    "  master L                   set the master level (0-1; 0 fades to black)\n"
    "  blackout on|off            black out the output, or bring it back\n"
    "  preview FILE.jpg           write one preview of the output (a JPEG of at\n"
    "                             most 320 x 240)\n"
    "  record start FILE|stop     record the output into FILE (.mkv or .mp4) on\n"
    "                             the Server's machine, or stop recording\n"
    "\n"
    "Exit status: 0 on success; 1 when the command failed (connection refused,\n"
    "version mismatch, unknown effect or mixer, the Server refused, no reply in\n"
    "time, connection lost), with a one-line reason on stderr; 2 for a usage\n"
    "error.\n";

struct Options {
  std::string host = "localhost";
  int port = net::kDefaultPort;
  double timeout = 10.0;
  bool help = false;
  std::vector<std::string> words;  // the command and its arguments
};

// A failure with its one-line reason.
struct Failure {
  int status;
  std::string reason;
};

bool ParseInt(std::string_view text, int64_t* value) { return core::ParseNumber(text, value); }

// "inf" and "nan" are not taken: the Server ignores such values, so vjctl
// would report a change that never happens.
bool ParseReal(std::string_view text, double* value) { return core::ParseNumber(text, value); }

// $VJ_PORT when it holds a port number, as the Server reads it.
int DefaultPort() {
  const char* env = std::getenv("VJ_PORT");
  int64_t port = 0;
  if (env && ParseInt(env, &port) && port >= 1 && port <= 65535) return static_cast<int>(port);
  return net::kDefaultPort;
}

std::optional<Failure> ParseOptions(int argc, char** argv, Options* options) {
  options->port = DefaultPort();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      continue;
    }
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      options->words.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2), value;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (name == "host" || name == "port" || name == "timeout") {
      if (i + 1 >= argc) return Failure{kExitUsage, "--" + name + " needs a value"};
      value = argv[++i];
    }
    if (name == "host") {
      if (value.empty()) return Failure{kExitUsage, "--host needs a host name or address"};
      options->host = value;
    } else if (name == "port") {
      int64_t port = 0;
      if (!ParseInt(value, &port) || port < 1 || port > 65535)
        return Failure{kExitUsage, "bad port '" + value + "' (1-65535)"};
      options->port = static_cast<int>(port);
    } else if (name == "timeout") {
      double seconds = 0;
      if (!ParseReal(value, &seconds) || !(seconds > 0) || seconds > 3600)
        return Failure{kExitUsage, "bad time-out '" + value + "' (seconds, above 0)"};
      options->timeout = seconds;
    } else {
      return Failure{kExitUsage, "unknown option '" + arg + "'"};
    }
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Commands, checked before anything touches the network.
// ---------------------------------------------------------------------------
enum class Verb { kState, kLoad, kUnload, kDeck, kSet, kBeat, kWatch, kTap, kBeatOff, kMaster, kBlackout, kPreview, kRecord };

struct Command {
  Verb verb = Verb::kState;
  std::string effect;  // load, unload, deck ("" = off)
  int deck = -1;       // 0-5
  // set
  std::optional<double> fader, speed;
  std::optional<std::string> mixer;
  std::optional<int32_t> beat_mode;
  // beat
  std::optional<int64_t> low_bin, high_bin;
  std::optional<double> threshold;
  // master, blackout, preview, record
  double level = 1.0;
  bool on = false;     // blackout on; record start
  std::string file;    // preview, record start (absolute for record)
};

std::optional<Failure> ParseDeckNumber(const std::string& text, int* deck) {
  int64_t number = 0;
  if (!ParseInt(text, &number) || number < 1 || number > net::kDeckCount)
    return Failure{kExitUsage, "bad deck '" + text + "' (1-6)"};
  *deck = static_cast<int>(number) - 1;
  return std::nullopt;
}

// Splits "key=value"; false when there is no '=' or either side is empty.
bool SplitSetting(const std::string& word, std::string* key, std::string* value) {
  size_t equals = word.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == word.size()) return false;
  *key = core::AsciiToLower(word.substr(0, equals));
  *value = word.substr(equals + 1);
  return true;
}

std::optional<Failure> ParseCommand(const std::vector<std::string>& words, Command* command) {
  if (words.empty()) return Failure{kExitUsage, "no command given (see vjctl --help)"};
  const std::string verb = core::AsciiToLower(words[0]);
  const size_t args = words.size() - 1;
  auto wrong = [&](const char* form) {
    return Failure{kExitUsage, std::string("usage: vjctl ") + form};
  };
  if (verb == "state" || verb == "watch") {
    if (args != 0) return wrong(verb == "state" ? "state" : "watch");
    command->verb = verb == "state" ? Verb::kState : Verb::kWatch;
    return std::nullopt;
  }
  if (verb == "tap" || verb == "beat-off") {
    if (args != 0) return wrong(verb == "tap" ? "tap" : "beat-off");
    command->verb = verb == "tap" ? Verb::kTap : Verb::kBeatOff;
    return std::nullopt;
  }
  if (verb == "load" || verb == "unload") {
    if (args != 1) return wrong(verb == "load" ? "load EFFECT" : "unload EFFECT");
    command->verb = verb == "load" ? Verb::kLoad : Verb::kUnload;
    command->effect = words[1];
    return std::nullopt;
  }
  if (verb == "deck") {
    if (args != 2) return wrong("deck N EFFECT | deck N off");
    command->verb = Verb::kDeck;
    if (auto failure = ParseDeckNumber(words[1], &command->deck)) return failure;
    command->effect = core::AsciiEqualNoCase(words[2], "off") ? "" : words[2];
    return std::nullopt;
  }
  if (verb == "set") {
    if (args < 2) return wrong("set N [fader=F] [speed=S] [mixer=NAME|NUMBER] [beat=MODE]");
    command->verb = Verb::kSet;
    if (auto failure = ParseDeckNumber(words[1], &command->deck)) return failure;
    for (size_t i = 2; i < words.size(); ++i) {
      std::string key, value;
      if (!SplitSetting(words[i], &key, &value))
        return Failure{kExitUsage, "bad setting '" + words[i] + "' (KEY=VALUE)"};
      double real = 0;
      if (key == "fader" || key == "speed") {
        if (!ParseReal(value, &real) || real < 0.0 || real > 1.0)
          return Failure{kExitUsage, "bad " + key + " '" + value + "' (0-1)"};
        (key == "fader" ? command->fader : command->speed) = real;
      } else if (key == "mixer") {
        command->mixer = value;
      } else if (key == "beat") {
        int64_t number = 0;
        if (core::AsciiEqualNoCase(value, "FREE")) command->beat_mode = net::kBeatFree;
        else if (core::AsciiEqualNoCase(value, "START")) command->beat_mode = net::kBeatStartOnBeat;
        else if (core::AsciiEqualNoCase(value, "END")) command->beat_mode = net::kBeatEndOnBeat;
        else if (ParseInt(value, &number) && number >= 0 && number <= 2)
          command->beat_mode = static_cast<int32_t>(number);
        else
          return Failure{kExitUsage, "bad beat mode '" + value + "' (FREE, START, END, 0-2)"};
      } else {
        return Failure{kExitUsage, "unknown setting '" + key + "' (fader, speed, mixer, beat)"};
      }
    }
    return std::nullopt;
  }
  if (verb == "beat") {
    if (args < 1) return wrong("beat [low=L] [high=H] [threshold=T]");
    command->verb = Verb::kBeat;
    for (size_t i = 1; i < words.size(); ++i) {
      std::string key, value;
      if (!SplitSetting(words[i], &key, &value))
        return Failure{kExitUsage, "bad setting '" + words[i] + "' (KEY=VALUE)"};
      int64_t bin = 0;
      double real = 0;
      if (key == "low" || key == "high") {
        if (!ParseInt(value, &bin) || bin < 0 || bin > UINT32_MAX)
          return Failure{kExitUsage, "bad " + key + " bin '" + value + "'"};
        (key == "low" ? command->low_bin : command->high_bin) = bin;
      } else if (key == "threshold") {
        if (!ParseReal(value, &real) || real < 0.0)
          return Failure{kExitUsage, "bad threshold '" + value + "'"};
        command->threshold = real;
      } else {
        return Failure{kExitUsage, "unknown setting '" + key + "' (low, high, threshold)"};
      }
    }
    return std::nullopt;
  }
  if (verb == "master") {
    if (args != 1) return wrong("master L");
    command->verb = Verb::kMaster;
    if (!ParseReal(words[1], &command->level) || command->level < 0.0 || command->level > 1.0)
      return Failure{kExitUsage, "bad master level '" + words[1] + "' (0-1)"};
    return std::nullopt;
  }
  if (verb == "blackout") {
    if (args != 1) return wrong("blackout on|off");
    command->verb = Verb::kBlackout;
    if (core::AsciiEqualNoCase(words[1], "on")) command->on = true;
    else if (core::AsciiEqualNoCase(words[1], "off")) command->on = false;
    else return wrong("blackout on|off");
    return std::nullopt;
  }
  if (verb == "preview") {
    if (args != 1) return wrong("preview FILE.jpg");
    command->verb = Verb::kPreview;
    command->file = words[1];
    return std::nullopt;
  }
  if (verb == "record") {
    command->verb = Verb::kRecord;
    if (args == 1 && core::AsciiEqualNoCase(words[1], "stop")) return std::nullopt;
    if (args != 2 || !core::AsciiEqualNoCase(words[1], "start")) return wrong("record start FILE | record stop");
    command->on = true;
    command->file = words[2];
    // The Server resolves paths from its own folder: send ours whole.
    if (!command->file.empty() && command->file[0] != '/') {
      char folder[4096];
      if (getcwd(folder, sizeof folder)) command->file = std::string(folder) + "/" + command->file;
    }
    return std::nullopt;
  }
  return Failure{kExitUsage, "unknown command '" + words[0] + "' (see vjctl --help)"};
}

const char* BeatModeName(int32_t mode) {
  switch (mode) {
    case net::kBeatFree: return "FREE";
    case net::kBeatStartOnBeat: return "START ON BEAT";
    case net::kBeatEndOnBeat: return "END ON BEAT";
    default: return "?";
  }
}

// ---------------------------------------------------------------------------
// One session with the Server.
// ---------------------------------------------------------------------------
class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}

  std::optional<Failure> Open() {
    if (connection_.ConnectAndWait(options_.host, options_.port, options_.timeout) != 0)
      return Failure{kExitFailed, connection_.LastError()};
    net::AttachLink(&link_, &connection_);
    if (net::SendNetMessage(&link_, net::ClientHandshakeMessage()) != 0)
      return Failure{kExitFailed, "connection lost while sending the handshake"};
    std::unique_ptr<net::NetMessage> reply;
    if (auto failure = Await(
            [](const net::NetMessage& m) { return m.Type() == net::MSG_SERVER_HANDSHAKE; },
            "the handshake", &reply))
      return failure;
    auto* handshake = net::MessageAs<net::ServerHandshakeMessage>(reply.get());
    if (!net::IsSupportedServerVersion(*handshake))
      return Failure{kExitFailed, net::VersionMismatchText(*handshake)};
    if (net::SendNetMessage(&link_, net::ListEffectsMessage()) != 0)
      return Failure{kExitFailed, "connection lost while asking for the state"};
    if (auto failure =
            Await([](const net::NetMessage& m) { return m.Type() == net::MSG_STATE; },
                  "the state", &reply))
      return failure;
    state_ = std::move(*net::MessageAs<net::StateMessage>(reply.get()));
    return std::nullopt;
  }

  // Lets queued bytes leave before the connection closes.
  void Finish() {
    for (int i = 0; i < 100 && connection_.IsOpen() && connection_.Flush() == 1; ++i)
      connection_.Wait(10);
    connection_.Close();
  }

  std::optional<Failure> Run(const Command& command) {
    switch (command.verb) {
      case Verb::kState: PrintState(); return std::nullopt;
      case Verb::kLoad:
      case Verb::kUnload: return LoadOrUnload(command);
      case Verb::kDeck: return PutOnDeck(command);
      case Verb::kSet: return SetDeck(command);
      case Verb::kBeat: return SetBeat(command);
      case Verb::kWatch: return Watch();
      case Verb::kTap:
      case Verb::kBeatOff: return Tempo(command.verb == Verb::kTap);
      case Verb::kMaster:
        return Master(net::MasterUpdateMessage(net::kMasterLevel, static_cast<float>(command.level), false));
      case Verb::kBlackout: return Master(net::MasterUpdateMessage(net::kMasterBlackout, 1.0f, command.on));
      case Verb::kPreview: return Preview(command.file);
      case Verb::kRecord: return Record(command);
    }
    return std::nullopt;
  }

 private:
  using Match = std::function<bool(const net::NetMessage&)>;

  // Waits for a message `match` accepts; log events met on the way are
  // printed. Fails on time-out, interruption or a lost connection.
  std::optional<Failure> Await(const Match& match, const char* what,
                               std::unique_ptr<net::NetMessage>* found) {
    const double deadline = core::NowSeconds() + options_.timeout;
    for (;;) {
      while (auto message = net::ReceiveNetMessage(&link_)) {
        if (match(*message)) {
          *found = std::move(message);
          return std::nullopt;
        }
        if (auto* log = net::MessageAs<net::LogEventMessage>(message.get()))
          std::printf("log: %s\n", log->text.c_str());
      }
      if (!connection_.IsOpen()) {
        std::string why = connection_.LastError();
        return Failure{kExitFailed, std::string("connection lost while waiting for ") + what +
                                        (why.empty() ? "" : " (" + why + ")")};
      }
      if (g_interrupted) return Failure{kExitFailed, "interrupted"};
      double left = deadline - core::NowSeconds();
      if (left <= 0)
        return Failure{kExitFailed, core::FormatString("no reply with %s within %g s", what,
                                                       options_.timeout)};
      net::WaitForTraffic(&link_, static_cast<int>(left * 1000.0) + 1);
    }
  }

  std::string EffectName(int32_t id) const {
    for (const net::EffectRecord& effect : state_.effects)
      if (effect.id == id) return std::string(net::RecordText(effect.name));
    return core::FormatString("#%d", id);
  }

  std::string MixerName(int32_t index) const {
    if (index == net::kNullMixer) return "NULL MIXER";
    for (const net::MixerRecord& mixer : state_.mixers)
      if (mixer.index == index) return std::string(net::RecordText(mixer.name));
    return core::FormatString("#%d", index);
  }

  std::string DeckLine(const net::DeckRecord& record) const {
    std::string effect = record.effect_id == -1
                             ? std::string("no effect")
                             : core::FormatString("%s (%d)", EffectName(record.effect_id).c_str(),
                                                  record.effect_id);
    return core::FormatString("deck %d: %s, fader %.3f, speed %.3f, mixer %s (%d), beat %s",
                              record.deck + 1, effect.c_str(), record.fader, record.speed,
                              MixerName(record.mixer).c_str(), record.mixer,
                              BeatModeName(record.beat_mode));
  }

  static std::string BeatLine(uint32_t low, uint32_t high, float threshold) {
    return core::FormatString("beat: low %u, high %u, threshold %.3f", low, high, threshold);
  }

  static std::string EffectLine(const net::EffectRecord& effect) {
    return core::FormatString("effect %d: %s, %s", effect.id,
                              std::string(net::RecordText(effect.name)).c_str(),
                              effect.loaded ? "loaded" : "not loaded");
  }

  void PrintState() const {
    std::printf("effects: %zu\n", state_.effects.size());
    for (const net::EffectRecord& effect : state_.effects)
      std::printf("  %s\n", EffectLine(effect).c_str());
    std::printf("decks: %zu\n", state_.decks.size());
    for (const net::DeckRecord& deck : state_.decks) std::printf("  %s\n", DeckLine(deck).c_str());
    std::printf("mixers: %zu\n", state_.mixers.size() + 1);
    std::printf("  mixer -1: NULL MIXER\n");
    for (const net::MixerRecord& mixer : state_.mixers)
      std::printf("  mixer %d: %s\n", mixer.index, std::string(net::RecordText(mixer.name)).c_str());
    std::printf("%s\n", BeatLine(state_.low_bin, state_.high_bin, state_.threshold).c_str());
  }

  std::optional<Failure> FindEffect(const std::string& given, net::EffectRecord* found) const {
    int64_t id = 0;
    if (ParseInt(given, &id)) {
      for (const net::EffectRecord& effect : state_.effects)
        if (effect.id == id) return *found = effect, std::nullopt;
      return Failure{kExitFailed, "unknown effect ID " + given};
    }
    for (const net::EffectRecord& effect : state_.effects)
      if (net::RecordText(effect.name) == given) return *found = effect, std::nullopt;
    for (const net::EffectRecord& effect : state_.effects)
      if (core::AsciiEqualNoCase(net::RecordText(effect.name), given))
        return *found = effect, std::nullopt;
    return Failure{kExitFailed, "unknown effect '" + given + "'"};
  }

  std::optional<Failure> LoadOrUnload(const Command& command) {
    net::EffectRecord effect;
    if (auto failure = FindEffect(command.effect, &effect)) return failure;
    const bool load = command.verb == Verb::kLoad;
    const std::string name(net::RecordText(effect.name));
    const std::string refusal = (load ? "Failed to load effect " : "Failed to unload effect ") + name;
    if (net::SendNetMessage(&link_, net::LoadEffectMessage(effect.id, load)) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    std::unique_ptr<net::NetMessage> reply;
    bool refused = false;
    auto match = [&](const net::NetMessage& m) {
      if (auto* status = net::MessageAs<net::EffectStatusMessage>(&m))
        return status->effect.id == effect.id;
      if (auto* log = net::MessageAs<net::LogEventMessage>(&m))
        return refused = log->text == refusal;  // other log lines are printed by Await
      return false;
    };
    if (auto failure = Await(match, "the effect's status", &reply)) return failure;
    if (refused) return Failure{kExitFailed, refusal};
    std::printf("%s\n", EffectLine(net::MessageAs<net::EffectStatusMessage>(reply.get())->effect)
                            .c_str());
    return std::nullopt;
  }

  std::optional<Failure> AwaitDeck(int32_t deck, net::DeckRecord* record) {
    std::unique_ptr<net::NetMessage> reply;
    auto match = [deck](const net::NetMessage& m) {
      auto* status = net::MessageAs<net::DeckStatusMessage>(&m);
      return status && status->record.deck == deck;
    };
    if (auto failure = Await(match, "the deck's status", &reply)) return failure;
    *record = net::MessageAs<net::DeckStatusMessage>(reply.get())->record;
    return std::nullopt;
  }

  std::optional<Failure> PutOnDeck(const Command& command) {
    int32_t id = -1;
    if (!command.effect.empty()) {
      net::EffectRecord effect;
      if (auto failure = FindEffect(command.effect, &effect)) return failure;
      if (!effect.loaded)
        return Failure{kExitFailed, "effect " + std::string(net::RecordText(effect.name)) +
                                        " is not loaded (vjctl load " +
                                        std::string(net::RecordText(effect.name)) + ")"};
      id = effect.id;
    }
    if (net::SendNetMessage(&link_, net::SetDeckEffectMessage(id, command.deck)) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    net::DeckRecord record;
    if (auto failure = AwaitDeck(command.deck, &record)) return failure;
    std::printf("%s\n", DeckLine(record).c_str());
    return std::nullopt;
  }

  std::optional<Failure> FindMixer(const std::string& given, int32_t* index) const {
    int64_t number = 0;
    if (ParseInt(given, &number)) {
      if (number == net::kNullMixer) return *index = net::kNullMixer, std::nullopt;
      for (const net::MixerRecord& mixer : state_.mixers)
        if (mixer.index == number) return *index = mixer.index, std::nullopt;
      return Failure{kExitFailed, "unknown mixer " + given};
    }
    if (core::AsciiEqualNoCase(given, "NULL") || core::AsciiEqualNoCase(given, "NULL MIXER"))
      return *index = net::kNullMixer, std::nullopt;
    for (const net::MixerRecord& mixer : state_.mixers)
      if (core::AsciiEqualNoCase(net::RecordText(mixer.name), given))
        return *index = mixer.index, std::nullopt;
    return Failure{kExitFailed, "unknown mixer '" + given + "'"};
  }

  std::optional<Failure> SetDeck(const Command& command) {
    // The update starts from the deck as the Server last described it.
    net::DeckRecord record = net::DefaultDeckRecord(command.deck);
    for (const net::DeckRecord& deck : state_.decks)
      if (deck.deck == command.deck) record = deck;
    record.change_mask = 0;
    if (command.fader) {
      record.fader = static_cast<float>(*command.fader);
      record.change_mask |= net::kMaskFader;
    }
    if (command.speed) {
      record.speed = static_cast<float>(*command.speed);
      record.change_mask |= net::kMaskSpeed;
    }
    if (command.mixer) {
      if (auto failure = FindMixer(*command.mixer, &record.mixer)) return failure;
      record.change_mask |= net::kMaskMixer;
    }
    if (command.beat_mode) {
      record.beat_mode = *command.beat_mode;
      record.change_mask |= net::kMaskBeatMode;
    }
    if (net::SendNetMessage(&link_, net::DeckUpdateMessage(record)) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    net::DeckRecord reply;
    if (auto failure = AwaitDeck(command.deck, &reply)) return failure;
    std::printf("%s\n", DeckLine(reply).c_str());
    return std::nullopt;
  }

  std::optional<Failure> SetBeat(const Command& command) {
    net::DeckRecord record = net::DefaultDeckRecord(-1);
    record.change_mask = net::kMaskBeatSettings;
    record.low_bin = command.low_bin ? static_cast<uint32_t>(*command.low_bin) : state_.low_bin;
    record.high_bin = command.high_bin ? static_cast<uint32_t>(*command.high_bin) : state_.high_bin;
    record.threshold =
        command.threshold ? static_cast<float>(*command.threshold) : state_.threshold;
    if (net::SendNetMessage(&link_, net::DeckUpdateMessage(record)) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    net::DeckRecord reply;
    if (auto failure = AwaitDeck(-1, &reply)) return failure;
    std::printf("%s\n", BeatLine(reply.low_bin, reply.high_bin, reply.threshold).c_str());
    return std::nullopt;
  }

  static std::string TempoLine(const net::TempoStatusMessage& tempo) {
    std::string line = tempo.period_ms == 0
                           ? std::string("tempo: none yet (tap again)")
                           : core::FormatString("tempo: %.1f BPM (%u ms)", 60000.0 / tempo.period_ms, tempo.period_ms);
    if (tempo.source == net::kTempoSourceMidiClock) line += ", from the MIDI clock";
    return line + (tempo.beat_disabled ? ", beat off" : ", beat on");
  }

  // The Server sends its tempo right after the state; the answer to the
  // press is the status after that one.
  std::optional<Failure> Tempo(bool tap) {
    auto is_tempo = [](const net::NetMessage& m) { return m.Type() == net::MSG_TEMPO_STATUS; };
    std::unique_ptr<net::NetMessage> reply;
    if (auto failure = Await(is_tempo, "the tempo (a Server of an older version has none)", &reply)) return failure;
    const int sent = tap ? net::SendNetMessage(&link_, net::TapMessage())
                         : net::SendNetMessage(&link_, net::BeatDisableMessage());
    if (sent != 0) return Failure{kExitFailed, "connection lost while sending the request"};
    if (auto failure = Await(is_tempo, "the tempo", &reply)) return failure;
    const auto* tempo = net::MessageAs<net::TempoStatusMessage>(reply.get());
    std::printf("%s\n", tap ? TempoLine(*tempo).c_str() : (tempo->beat_disabled ? "beat off" : "beat on"));
    return std::nullopt;
  }

  // A Server without the output messages never answers them: the wait
  // ends with the time-out.
  std::optional<Failure> Master(const net::MasterUpdateMessage& update) {
    if (net::SendNetMessage(&link_, update) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    std::unique_ptr<net::NetMessage> reply;
    auto match = [](const net::NetMessage& m) { return m.Type() == net::MSG_MASTER_STATUS; };
    if (auto failure = Await(match, "the master status", &reply)) return failure;
    auto* status = net::MessageAs<net::MasterStatusMessage>(reply.get());
    std::printf("master: level %.3f, blackout %s\n", static_cast<double>(status->level),
                status->blackout ? "on" : "off");
    return std::nullopt;
  }

  std::optional<Failure> Preview(const std::string& file) {
    if (net::SendNetMessage(&link_, net::PreviewRequestMessage(net::kMaxPreviewRate)) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    std::unique_ptr<net::NetMessage> reply;
    auto match = [](const net::NetMessage& m) { return m.Type() == net::MSG_PREVIEW_FRAME; };
    std::optional<Failure> failure = Await(match, "a preview", &reply);
    net::SendNetMessage(&link_, net::PreviewRequestMessage(0));
    if (failure) return failure;
    auto* frame = net::MessageAs<net::PreviewFrameMessage>(reply.get());
    std::string_view bytes(reinterpret_cast<const char*>(frame->jpeg.data()), frame->jpeg.size());
    if (core::WriteWholeFileAtomic(file, bytes) != 0) return Failure{kExitFailed, "cannot write " + file};
    std::printf("preview: %ux%u, %zu bytes written to %s\n", frame->width, frame->height, frame->jpeg.size(),
                file.c_str());
    return std::nullopt;
  }

  std::optional<Failure> Record(const Command& command) {
    if (net::SendNetMessage(&link_, net::RecordControlMessage(command.on, command.file)) != 0)
      return Failure{kExitFailed, "connection lost while sending the request"};
    // The Server answers in its log: a start with "Recording FILE" or a
    // refusal, a stop with what was recorded.
    bool ok = false;
    std::string text;
    auto match = [&](const net::NetMessage& m) {
      auto* log = net::MessageAs<net::LogEventMessage>(&m);
      if (!log) return false;
      const std::string& line = log->text;
      auto starts = [&](const char* prefix) { return line.rfind(prefix, 0) == 0; };
      if (command.on) {
        if (starts(("Recording " + command.file + " (").c_str())) ok = true;
        else if (!starts("Cannot record into ") && !starts("Already recording")) return false;
      } else {
        if (starts("Recorded ")) ok = true;
        else if (!starts("Recording failed") && !starts("Not recording")) return false;
      }
      text = line;
      return true;
    };
    std::unique_ptr<net::NetMessage> reply;
    if (auto failure = Await(match, "the recording's answer", &reply)) return failure;
    if (!ok) return Failure{kExitFailed, text};
    std::printf("%s\n", text.c_str());
    return std::nullopt;
  }

  std::optional<Failure> Watch() {
    std::printf("watching %s:%d (Ctrl+C to stop)\n", options_.host.c_str(), options_.port);
    std::string last_tempo;
    std::fflush(stdout);
    while (!g_interrupted) {
      while (auto message = net::ReceiveNetMessage(&link_)) {
        if (auto* log = net::MessageAs<net::LogEventMessage>(message.get())) {
          std::printf("log: %s\n", log->text.c_str());
        } else if (auto* deck = net::MessageAs<net::DeckStatusMessage>(message.get())) {
          if (deck->record.deck == -1)
            std::printf("%s\n", BeatLine(deck->record.low_bin, deck->record.high_bin,
                                         deck->record.threshold).c_str());
          else
            std::printf("%s\n", DeckLine(deck->record).c_str());
        } else if (auto* effect = net::MessageAs<net::EffectStatusMessage>(message.get())) {
          for (net::EffectRecord& known : state_.effects)
            if (known.id == effect->effect.id) known.loaded = effect->effect.loaded;
          std::printf("%s\n", EffectLine(effect->effect).c_str());
        } else if (auto* player = net::MessageAs<net::PlayerStatusMessage>(message.get())) {
          std::printf("fps: %d\n", player->frames_per_second);
        } else if (auto* tempo = net::MessageAs<net::TempoStatusMessage>(message.get())) {
          // The Server repeats its tempo every second: print changes only.
          const std::string line = TempoLine(*tempo);
          if (line != last_tempo) std::printf("%s\n", line.c_str());
          last_tempo = line;
        }
      }
      if (!connection_.IsOpen()) return Failure{kExitFailed, "connection closed by the Server"};
      net::WaitForTraffic(&link_, 200);
    }
    return std::nullopt;
  }

  const Options& options_;
  net::Connection connection_;
  net::Link link_;
  net::StateMessage state_;
};

int Fail(const Failure& failure) {
  std::fflush(stdout);
  std::fprintf(stderr, "vjctl: %s\n", failure.reason.c_str());
  return failure.status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  if (auto failure = ParseOptions(argc, argv, &options)) return Fail(*failure);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  Command command;
  if (auto failure = ParseCommand(options.words, &command)) return Fail(*failure);

  // No SA_RESTART: a signal must end the wait in poll().
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  net::StartNetwork();
  Session session(options);
  std::optional<Failure> failure = session.Open();
  if (!failure) failure = session.Run(command);
  session.Finish();
  net::StopNetwork();
  if (failure) return Fail(*failure);
  return kExitOk;
}

// Latency of hands-on control, from the event to the Server's deck state:
//
//   midi  a MIDI control change handed to the Client's MIDI input (as the
//         input's thread would queue it), the Client's tick (MIDI map,
//         trackbar rules, MSG_DECK_UPDATE), loopback TCP, the Server's tick
//         that applies it
//   osc   an OSC datagram sent over loopback UDP, the Server's tick that
//         applies it
//
// The Server (headless, no decks drawing) and the Client share this
// process as in combined mode, on one thread: after each event the loop
// ticks them until deck 1's fader holds the new value, so the figures are
// the cost of the path itself; in a show the Server's next frame adds its
// wait on top. 1,000 events each (CC values alternate so every one is a
// change); p50, p99 and the worst in milliseconds.
//
//   build/bench/control_latency [EVENTS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <lo/lo.h>

#include "app/core/core.h"
#include "client/window.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "render/layer.h"
#include "server/server.h"
#include "tests/support/support.h"

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class QueuedMidi final : public control::MidiInput {
 public:
  void Poll(std::vector<control::MidiMessage>* out, std::vector<std::string>*) override {
    out->insert(out->end(), queued.begin(), queued.end());
    queued.clear();
  }
  std::vector<std::string> OpenPorts() const override { return {"bench"}; }
  std::vector<control::MidiMessage> queued;
};

struct Figures {
  double p50 = 0, p99 = 0, worst = 0;
};

Figures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  Figures f;
  f.p50 = samples[samples.size() / 2];
  f.p99 = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  f.worst = samples.back();
  return f;
}

// Ticks the Server (and the Client) until `done`; false after 5 s.
bool TickUntil(client::ClientWindow* window, const std::function<bool()>& done) {
  const double give_up = NowMs() + 5000.0;
  while (!done()) {
    if (NowMs() > give_up) return false;
    render::SetGlobalTime(static_cast<float>(core::NowSeconds()));
    server::ServerTick();
    if (window) window->Tick();
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int events = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
  testing_support::TempDir dir;
  testing_support::MakeDirs(dir / "effects");
  // No idle pause between ticks: the program clock is injected.
  core::ManualClock clock;
  core::SetProgramClock(&clock);
  core::StartFileLayer(dir.path(), "");
  fx::RegisterEffectClasses();
  fx::StartTiming();
  server::ServerOptions options;
  options.headless = true;
  options.port = 0;
  options.bind_address = "127.0.0.1";
  options.vsync = false;
  options.osc_port = 0;
  if (server::StartServer(options) != 0) {
    std::fprintf(stderr, "control_latency: the Server does not start\n");
    return 1;
  }
  core::MarkStartupFinished(true);

  client::ClientWindow window;
  auto input = std::make_unique<QueuedMidi>();
  QueuedMidi* midi = input.get();
  window.SetMidiInput(std::move(input), "");
  window.midi_map().Load("fader 0 cc 0 7");
  client::ControllerPanel* panel = window.NewController();
  panel->Connect("127.0.0.1:" + std::to_string(server::ServerPort()));
  if (!TickUntil(&window, [&] { return panel->HasDeck(0); })) {
    std::fprintf(stderr, "control_latency: the panel does not connect\n");
    return 1;
  }

  std::vector<double> midi_ms;
  for (int i = 0; i < events; ++i) {
    const int value = i % 2 ? 20 : 100;
    const float expected = client::Trackbar::ValueAt(client::Trackbar::PositionFor(value / 127.0f));
    control::MidiMessage cc;
    cc.status = 0xB0;
    cc.data1 = 7;
    cc.data2 = static_cast<uint8_t>(value);
    cc.size = 3;
    const double start = NowMs();
    midi->queued.push_back(cc);
    window.Tick();
    if (!TickUntil(nullptr, [&] { return server::GetDeck(0)->record.fader == expected; })) {
      std::fprintf(stderr, "control_latency: MIDI event %d never reached the deck\n", i);
      return 1;
    }
    midi_ms.push_back(NowMs() - start);
    // The panel hears the reply before the next event, as between two moves.
    TickUntil(&window, [&] { return panel->fader(0).position() == client::Trackbar::PositionFor(expected); });
    clock.Advance(0.005);
  }

  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(server::OscPort()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<double> osc_ms;
  for (int i = 0; i < events; ++i) {
    const float value = i % 2 ? 0.25f : 0.75f;
    lo_message message = lo_message_new();
    lo_message_add_float(message, value);
    size_t size = 0;
    void* data = lo_message_serialise(message, "/vj/deck/1/fader", nullptr, &size);
    lo_message_free(message);
    const double start = NowMs();
    sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    free(data);
    if (!TickUntil(nullptr, [&] { return server::GetDeck(0)->record.fader == value; })) {
      std::fprintf(stderr, "control_latency: OSC datagram %d never reached the deck\n", i);
      return 1;
    }
    osc_ms.push_back(NowMs() - start);
    clock.Advance(0.005);
  }
  close(fd);

  const Figures m = Summarise(midi_ms), o = Summarise(osc_ms);
  std::printf("events per path: %d\n", events);
  std::printf("midi -> client -> TCP -> server deck: p50 %.3f ms  p99 %.3f ms  worst %.3f ms\n", m.p50, m.p99, m.worst);
  std::printf("osc  -> UDP -> server deck:           p50 %.3f ms  p99 %.3f ms  worst %.3f ms\n", o.p50, o.p99, o.worst);
  std::printf("target: p99 < 5 ms for both: %s\n", m.p99 < 5.0 && o.p99 < 5.0 ? "met" : "NOT met");
  window.CloseAllPanels();
  server::ShutdownServer();
  fx::StopTiming();
  core::StopFileLayer();
  core::SetProgramClock(nullptr);
  return 0;
}

// A stand-in Server for trying the Client by hand until the real Server
// runs: listens on 127.0.0.1 (port 6969 or the first argument) with a few
// effects, answers like the Server, draws nothing, and stops after the
// number of seconds given as second argument (default 600).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/core/core.h"
#include "tests/net/fake_server.h"

int main(int argc, char** argv) {
  int port = argc > 1 ? std::atoi(argv[1]) : net::kDefaultPort;
  double seconds = argc > 2 ? std::atof(argv[2]) : 600.0;
  testing_support::FakeServer server;
  for (const char* name : {"STROBE", "KALEIDOSCOPE", "STARFIELD", "FEEDBACK", "WAVEFORM"}) {
    net::EffectRecord effect;
    effect.id = static_cast<int32_t>(server.effects.size());
    net::SetRecordText(effect.name, name);
    server.effects.push_back(effect);
  }
  if (server.Start(port) != 0) {
    std::fprintf(stderr, "demo server: cannot listen on port %d\n", port);
    return 1;
  }
  std::printf("demo server on 127.0.0.1:%d\n", server.port());
  std::fflush(stdout);
  double end = core::NowSeconds() + seconds;
  double next_report = 0.0;
  while (core::NowSeconds() < end) {
    server.Tick();
    if (server.connected() && core::NowSeconds() >= next_report) {
      server.Send(net::PlayerStatusMessage(60));
      next_report = core::NowSeconds() + 1.0;
    }
    timespec pause{0, 2 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return 0;
}

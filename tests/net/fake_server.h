// A stand-in Server for the protocol tests, vjctl's end-to-end tests and
// the latency benchmark: it speaks the Server's side of the protocol over a
// real socket with a small catalogue, six decks and the ten mixers, but
// draws nothing.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"

namespace testing_support {

class FakeServer {
 public:
  FakeServer();

  // Listens on 127.0.0.1 at `port` (0 = any free port). 0 or -1.
  int Start(int port = 0);
  int port() const { return listener_.Port(); }
  // One Server tick: accept (the newest connection wins), drain and answer
  // every complete message, push queued bytes. Never waits.
  void Tick();
  bool connected() const { return client_.IsOpen(); }
  // Sends a message to the connected client. 0 or -1.
  int Send(const net::NetMessage& message) { return net::SendNetMessage(&link_, message); }
  // Runs `action` on the ticking thread at the start of the next Tick.
  void Post(std::function<void(FakeServer&)> action);

  // What the Server announces and holds.
  uint8_t major = net::kProtocolMajor;
  uint8_t minor = net::kProtocolMinor;
  bool answer = true;                      // false: swallow every request
  std::vector<net::EffectRecord> effects;  // ID = position
  std::vector<std::string> failing_loads;  // names whose load fails
  net::DeckRecord decks[net::kDeckCount];
  std::vector<net::MixerRecord> mixers;
  uint32_t low_bin = 2, high_bin = 20;
  float threshold = 0.5f;
  // Tempo: with `tempo_messages` off the Server is of the older kind that
  // ignores taps and beat toggles and never reports a tempo. Otherwise
  // each tap after the first makes the period `tapped_period_ms` and every
  // tap or toggle is answered with the tempo status.
  bool tempo_messages = true;
  uint32_t tapped_period_ms = 500;
  int taps = 0;
  bool beat_disabled = false;

  // What arrived (read from the ticking thread, or after it stopped).
  std::vector<uint32_t> received_types;
  std::vector<net::DeckRecord> received_updates;
  // The output's requests: master updates and preview rates, in order.
  std::vector<net::MasterUpdateMessage> received_master;
  std::vector<uint32_t> received_preview_rates;
  int connections = 0;

 private:
  void Handle(net::NetMessage* message);
  void Log(const std::string& text);

  net::ListenSocket listener_;
  net::Connection client_;
  net::Link link_;
  std::mutex posted_mutex_;
  std::vector<std::function<void(FakeServer&)>> posted_;
};

// Ticks a FakeServer on its own thread until stopped.
class FakeServerThread {
 public:
  explicit FakeServerThread(FakeServer* server) : server_(server) {}
  ~FakeServerThread() { Stop(); }
  void Run();
  void Stop();

 private:
  FakeServer* server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testing_support

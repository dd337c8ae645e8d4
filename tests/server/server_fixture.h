// Shared set-up for the in-process Server tests: a headless Server on a free
// loopback port under an injected clock, a show folder of its own, a fake
// Client speaking the protocol, and a test-only effect class.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/timing.h"
#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"
#include "render/display.h"
#include "render/layer.h"
#include "render/materials.h"
#include "render/values.h"
#include "server/server.h"
#include "tests/support/support.h"

namespace server_test {

// What the marker instances did, in order.
inline std::vector<std::string>& MarkerLog() {
  static std::vector<std::string> log;
  return log;
}
// The log without the render lines (ticks render while replies are awaited).
inline std::vector<std::string> MarkerLogWithoutRenders() {
  std::vector<std::string> out;
  for (const std::string& line : MarkerLog())
    if (line.rfind("render ", 0) != 0) out.push_back(line);
  return out;
}

// A test effect. Its load argument names a file (relative, so it resolves
// inside the effect's folder while the effect loads) whose first word is
// the instance's tag; Load fails when the file is missing. Rendering logs
// the tag with the effect time, and, when the tag is a colour word (RED,
// GREEN, BLUE, WHITE), fills the current target with that colour.
class Marker : public fx::FxInstance {
 public:
  ~Marker() override {
    if (!tag_.empty()) MarkerLog().push_back("destroy " + tag_);
  }
  int Load(const char* name, const char* arguments) override {
    SetInstanceName(name);
    std::string contents;
    if (!core::ReadWholeFile(arguments ? arguments : "", &contents)) return -1;
    tag_ = contents.substr(0, contents.find_first_of(" \t\r\n"));
    MarkerLog().push_back("load " + tag_);
    return 0;
  }
  int Render(float) override {
    MarkerLog().push_back(core::FormatString("render %s %.3f", tag_.c_str(), fx::GetEffectTime()));
    uint32_t color = 0;
    if (tag_ == "red") color = 0xFFFF0000u;
    if (tag_ == "green") color = 0xFF00FF00u;
    if (tag_ == "blue") color = 0xFF0000FFu;
    if (tag_ == "white") color = 0xFFFFFFFFu;
    if (color != 0 && render::GetDevice()) render::GetDevice()->Clear(0, nullptr, render::CLEAR_TARGET, color, 1.0f, 0);
    return 1;
  }
  const char* GetName() const override { return "MARKER"; }
  const char* GetDescription() const override { return "Test marker"; }

 private:
  std::string tag_;
};

inline fx::FxInstance* CreateMarker(const fx::FxClass&) { return fx::NewInstance<Marker>(); }
inline fx::FxClass& MarkerClass() {
  static fx::FxClass record("MARKER", "Test marker", CreateMarker);
  return record;
}

// A script whose one MARKER instance reads `tag_file` and plays for
// `length` seconds, looping.
inline std::string MarkerScript(const std::string& tag_file = "data/tag.txt", int length = 10) {
  return "FXINSTANCE M MARKER " + tag_file + "\nFXSTART M\nSYNCTIME " + std::to_string(length) + "\n";
}

// The Client end of the link, for tests. Every wait ticks the Server.
class FakeClient {
 public:
  bool Connect(int port) {
    if (connection.ConnectAndWait("127.0.0.1", port, 5.0) != 0) return false;
    return net::AttachLink(&link, &connection) == 0;
  }
  void Send(const net::NetMessage& message) { EXPECT_EQ(net::SendNetMessage(&link, message), 0); }

  // Ticks the Server until a message of type T arrives. Messages of other
  // types met on the way are kept in `others`.
  template <class T>
  std::unique_ptr<T> Await(double seconds = 10.0) {
    std::unique_ptr<T> found;
    testing_support::WaitUntil(
        [&] {
          server::ServerTick();
          while (auto message = net::ReceiveNetMessage(&link)) {
            if (message->Type() == T::kType) {
              found.reset(static_cast<T*>(message.release()));
              return true;
            }
            others.push_back(std::move(message));
          }
          return !link.IsOpen();
        },
        seconds);
    return found;
  }

  // Sends `messages`, then a handshake as a marker, and returns everything
  // the Server answered before its handshake reply.
  std::vector<std::unique_ptr<net::NetMessage>> Exchange(const std::vector<const net::NetMessage*>& messages) {
    others.clear();
    for (const net::NetMessage* message : messages) Send(*message);
    Send(net::ClientHandshakeMessage());
    EXPECT_NE(Await<net::ServerHandshakeMessage>(), nullptr);
    return std::move(others);
  }
  std::vector<std::unique_ptr<net::NetMessage>> Exchange(const net::NetMessage& message) {
    return Exchange(std::vector<const net::NetMessage*>{&message});
  }

  // The log texts among `messages`.
  static std::vector<std::string> Logs(const std::vector<std::unique_ptr<net::NetMessage>>& messages) {
    std::vector<std::string> texts;
    for (const auto& message : messages)
      if (auto* log = net::MessageAs<net::LogEventMessage>(message.get())) texts.push_back(log->text);
    return texts;
  }

  net::Connection connection;
  net::Link link;
  std::vector<std::unique_ptr<net::NetMessage>> others;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MarkerLog().clear();
    core::SetProgramClock(&clock);
    core::ResetRuntimeMessages();
    core::StartFileLayer(dir.path(), "");
    trace_path = dir / "trace.txt";
    core::SetTraceFile(trace_path.c_str());
    fx::StartTiming();
    fx::RegisterEffectClasses();
    fx::RegisterFxClass(&MarkerClass());
  }
  void TearDown() override {
    server::ShutdownServer();
    core::MarkStartupFinished(false);
    fx::UnregisterFxClass(&MarkerClass());
    fx::StopTiming();
    core::SetTraceFile(nullptr);
    core::StopFileLayer();
    core::SetProgramClock(nullptr);
  }

  // A folder effects/<folder> with data/script.txt and data/tag.txt.
  void MakeEffect(const std::string& folder, const std::string& tag, const std::string& script = MarkerScript()) {
    testing_support::MakeDirs(dir / ("effects/" + folder + "/data"));
    testing_support::WriteFile(dir / ("effects/" + folder + "/data/script.txt"), script);
    testing_support::WriteFile(dir / ("effects/" + folder + "/data/tag.txt"), tag + "\n");
  }

  // Starts the headless Server and marks start-up finished, as the program
  // does before its frame loop.
  void Start() {
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
  }

  // Starts the Server and connects `client` (the Server has taken it).
  void StartAndConnect(FakeClient* client) {
    Start();
    ConnectAnother(client);
  }
  void ConnectAnother(FakeClient* client) {
    ASSERT_TRUE(client->Connect(server::ServerPort()));
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] {
          server::ServerTick();
          return server::ClientConnected() && client->link.IsOpen();
        },
        10.0));
    // The handshake a Client opens with; the Server's log backlog follows
    // the reply and is drained by the second round.
    client->Exchange({});
    client->Exchange({});
  }

  // The ID of the catalogue entry named `name` (the first one), or -1.
  static int32_t EffectId(const std::string& name) {
    for (int id = 0; id < server::EffectCount(); ++id)
      if (net::RecordText(server::FindEffect(id)->name) == name) return id;
    return -1;
  }

  // Loads an effect through the protocol; returns the log texts.
  std::vector<std::string> Load(FakeClient* client, int32_t id, bool load = true) {
    return FakeClient::Logs(client->Exchange(net::LoadEffectMessage(id, load)));
  }

  std::string Trace() const {
    core::FlushTrace();
    return testing_support::ReadFile(trace_path);
  }

  // Puts a catalogue effect (loaded on first use) on a deck, anchored at the
  // Server clock, as a Client's request would, with a mixer and a fader.
  void PutOnDeck(int deck_index, const std::string& name, int mixer = net::kNullMixer, float fader = 1.0f) {
    server::EffectEntry* entry = server::FindEffect(EffectId(name));
    ASSERT_NE(entry, nullptr) << name;
    if (!entry->script) {
      ASSERT_EQ(server::LoadEffect(entry), 0) << name;
    }
    server::Deck* deck = server::GetDeck(deck_index);
    deck->record.effect_id = entry->id;
    deck->record.mixer = mixer;
    deck->record.fader = fader;
    deck->start_time = server::ServerClock();
    deck->time_offset = 0.0;
  }

  // One pass of the frame loop: the global time and the beat detector, then
  // the Server's tick. `detect` false leaves the listeners as a test set
  // them.
  void Frame(bool detect = false) {
    const double now = core::NowSeconds();
    render::SetGlobalTime(static_cast<float>(now));
    if (detect) fx::DetectBeats(now);
    server::ServerTick();
  }

  testing_support::TempDir dir;
  std::string trace_path;
  core::ManualClock clock;
};

}  // namespace server_test

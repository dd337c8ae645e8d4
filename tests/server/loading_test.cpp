// Effects loading beside the show: over the protocol a load request returns
// at once and the frame loop goes on drawing every deck while the effect's
// files are read and decoded on the loader thread and its pictures
// uploaded a slice per frame; the reply comes when it completes. Also the
// frame loop's own faults: a failing accept, a loader thread that cannot
// start, slow frames in the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "bench/support/jpeg_out.h"
#include "fx/image_effect.h"
#include "server/server_internal.h"
#include "tests/media/video_clips.h"
#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// An IMAGE effect of `count` generated pictures of width x height, a
// different colour each, shown 0.5 s each.
void MakeSlideShow(const std::string& root, const std::string& folder, int count, uint32_t width, uint32_t height) {
  const std::string base = root + "/effects/" + folder + "/data";
  testing_support::MakeDirs(base + "/images");
  std::string names;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t p = 0; p < rgb.size(); p += 3) {
      rgb[p] = static_cast<uint8_t>(40 * i);
      rgb[p + 1] = static_cast<uint8_t>(p / 3 % width);
      rgb[p + 2] = static_cast<uint8_t>(255 - 12 * i);
    }
    const std::string name = core::FormatString("%02d", i);
    ASSERT_TRUE(bench_support::WriteJpeg(base + "/images/" + name + ".jpg", width, height, rgb));
    names += " " + name;
  }
  testing_support::WriteFile(base + "/script.txt", "FXINSTANCE SHOW IMAGE " + std::to_string(count) + " 0.5" +
                                                       names + "\nFXSTART SHOW\nSYNCTIME " +
                                                       std::to_string(count / 2 + 1) + "\n");
}

class BackgroundLoad : public ServerTest {
 protected:
  // A headless Server loading in the background with no time budget: one
  // piece of load work per frame, so the test sees every step.
  void StartInBackground(FakeClient* client, double budget = 0.0) {
    server::ServerOptions options;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    options.background_loads = true;
    options.load_budget_seconds = budget;
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
    if (client) ConnectAnother(client);
  }

  // Ticks until `client` gets the status of effect `id`; counts the frames
  // (and the frames that drew a deck) on the way. nullptr when none comes.
  std::unique_ptr<net::EffectStatusMessage> AwaitStatus(FakeClient* client, int32_t id, int* frames,
                                                        int* drew = nullptr) {
    std::unique_ptr<net::EffectStatusMessage> found;
    *frames = 0;
    testing_support::WaitUntil(
        [&] {
          Frame();
          ++*frames;
          if (drew) *drew += server::LastTickDrewDeck();
          while (auto message = net::ReceiveNetMessage(&client->link)) {
            auto* status = net::MessageAs<net::EffectStatusMessage>(message.get());
            if (status && status->effect.id == id) {
              found.reset(static_cast<net::EffectStatusMessage*>(message.release()));
              return true;
            }
            client->others.push_back(std::move(message));
          }
          return false;
        },
        60.0);
    return found;
  }

  void PutLoadedOnDecks(int decks) {
    for (int i = 0; i < decks; ++i) {
      MakeEffect("deck" + std::to_string(i), i % 2 ? "red" : "green");
    }
  }
};

// (a) Five decks play while a 20-picture effect of 1920 x 1080 JPEGs loads:
// every frame on the way draws the decks, the load is spread over many
// frames (one piece of work each), and the status reply comes only once
// the last picture is uploaded.
TEST_F(BackgroundLoad, FiveDecksPlayOnWhileTwentyFullHdPicturesLoad) {
  PutLoadedOnDecks(5);
  MakeSlideShow(dir.path(), "show", 20, 1920, 1080);
  FakeClient client;
  StartInBackground(&client);
  for (int i = 0; i < 5; ++i) PutOnDeck(i, "DECK" + std::to_string(i));
  const int32_t id = EffectId("SHOW");
  const int pictures_before = fx::ImageTextureCount();
  client.Send(net::LoadEffectMessage(id, true));
  int frames = 0, drew = 0;
  std::unique_ptr<net::EffectStatusMessage> status = AwaitStatus(&client, id, &frames, &drew);
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->effect.loaded);
  EXPECT_EQ(drew, frames);
  // 20 pictures of 5 strips each, a strip per frame at the least.
  EXPECT_GE(frames, 100);
  EXPECT_EQ(fx::ImageTextureCount(), pictures_before + 20);
  EXPECT_EQ(fx::PendingImageUploads(), 0);
  EXPECT_THAT(FakeClient::Logs(client.others), Contains("Loaded effect SHOW"));
  server::EffectEntry* entry = server::FindEffect(id);
  ASSERT_NE(entry->script, nullptr);
  EXPECT_FALSE(entry->loading);
}

// (b) A deck given the effect while it loads takes it at once (anchored
// then) and draws it from the frame its load completes.
TEST_F(BackgroundLoad, ADeckGivenALoadingEffectDrawsItFromTheFrameItCompletes) {
  MakeEffect("late", "late");
  FakeClient client;
  StartInBackground(&client);
  const int32_t id = EffectId("LATE");
  client.Send(net::LoadEffectMessage(id, true));
  client.Send(net::SetDeckEffectMessage(id, 2));
  auto deck = client.Await<net::DeckStatusMessage>();
  ASSERT_NE(deck, nullptr);
  EXPECT_EQ(deck->record.effect_id, id);
  EXPECT_TRUE(server::FindEffect(id)->loading);
  const double anchored = server::GetDeck(2)->start_time;
  EXPECT_EQ(anchored, server::ServerClock());
  int frames = 0;
  MarkerLog().clear();
  clock.Advance(0.5);
  auto status = AwaitStatus(&client, id, &frames);
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->effect.loaded);
  // Nothing drew before the load completed; the frame it completed did,
  // at the effect time the anchor gives.
  std::vector<std::string> renders;
  for (const std::string& line : MarkerLog())
    if (line.rfind("render ", 0) == 0) renders.push_back(line);
  ASSERT_EQ(renders.size(), 1u);
  EXPECT_EQ(renders[0], "render late 0.500");
  EXPECT_EQ(server::GetDeck(2)->start_time, anchored);
}

// (b) An unload or a second load of an effect whose load is running
// cancels it: its partial resources go, and only the new request is
// answered.
TEST_F(BackgroundLoad, UnloadOrReloadDuringALoadCancelsIt) {
  MakeSlideShow(dir.path(), "show", 6, 640, 480);
  FakeClient client;
  StartInBackground(&client);
  const int32_t id = EffectId("SHOW");
  const int pictures_before = fx::ImageTextureCount();

  // Unload halfway through the uploads.
  client.Send(net::LoadEffectMessage(id, true));
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] {
        Frame();
        return fx::ImageTextureCount() > pictures_before && fx::PendingImageUploads() > 0;
      },
      30.0));
  std::vector<std::string> logs = Load(&client, id, false);
  EXPECT_THAT(logs, Contains("Unloaded effect SHOW"));
  EXPECT_FALSE(server::FindEffect(id)->loading);
  EXPECT_EQ(server::FindEffect(id)->script, nullptr);
  EXPECT_EQ(fx::ImageTextureCount(), pictures_before);
  EXPECT_EQ(fx::PendingImageUploads(), 0);
  for (int i = 0; i < 20; ++i) Frame();
  EXPECT_THAT(FakeClient::Logs(client.others), Not(Contains("Loaded effect SHOW")));

  // A load, and another while it runs: one completion, one reply.
  client.others.clear();
  client.Send(net::LoadEffectMessage(id, true));
  Frame();
  Frame();
  client.Send(net::LoadEffectMessage(id, true));
  int frames = 0;
  auto status = AwaitStatus(&client, id, &frames);
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->effect.loaded);
  for (int i = 0; i < 20; ++i) Frame();
  while (auto message = net::ReceiveNetMessage(&client.link)) client.others.push_back(std::move(message));
  std::vector<std::string> texts = FakeClient::Logs(client.others);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Loaded effect SHOW"), 1);
  EXPECT_EQ(fx::ImageTextureCount(), pictures_before + 6);
}

// (b) A second Client connecting while a load runs is answered at once,
// and gets the load's reply when it completes.
TEST_F(BackgroundLoad, ASecondClientIsServedDuringALoad) {
  MakeSlideShow(dir.path(), "show", 8, 1024, 768);
  FakeClient first;
  StartInBackground(&first);
  const int32_t id = EffectId("SHOW");
  first.Send(net::LoadEffectMessage(id, true));
  for (int i = 0; i < 3; ++i) Frame();
  FakeClient second;
  ConnectAnother(&second);
  second.Send(net::ListEffectsMessage());
  auto state = second.Await<net::StateMessage>();
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(server::FindEffect(id)->loading);
  EXPECT_FALSE(state->effects[static_cast<size_t>(id)].loaded);
  int frames = 0;
  auto status = AwaitStatus(&second, id, &frames);
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->effect.loaded);
}

// Bad input: a missing script, a broken picture, a picture too wide: the
// show goes on, the log says why, and what was loaded stays.
TEST_F(BackgroundLoad, BrokenEffectsFailWithoutStoppingTheShow) {
  MakeEffect("good", "good");
  testing_support::MakeDirs(dir / "effects/noscript/data");
  MakeSlideShow(dir.path(), "broken", 2, 64, 64);
  testing_support::WriteFile(dir / "effects/broken/data/images/01.jpg", "not a picture at all");
  MakeSlideShow(dir.path(), "wide", 1, 8200, 4);
  FakeClient client;
  StartInBackground(&client, 0.004);
  PutOnDeck(0, "GOOD");
  for (const char* name : {"NOSCRIPT", "BROKEN", "WIDE"}) {
    SCOPED_TRACE(name);
    client.Send(net::LoadEffectMessage(EffectId(name), true));
    int drew = 0;
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] {
          Frame();
          drew += !server::LastTickDrewDeck();
          while (auto message = net::ReceiveNetMessage(&client.link)) client.others.push_back(std::move(message));
          return !server::FindEffect(EffectId(name))->loading;
        },
        30.0));
    for (int i = 0; i < 3; ++i) Frame();
    while (auto message = net::ReceiveNetMessage(&client.link)) client.others.push_back(std::move(message));
    EXPECT_EQ(drew, 0);
    EXPECT_THAT(FakeClient::Logs(client.others), Contains(std::string("Failed to load effect ") + name));
    EXPECT_EQ(server::FindEffect(EffectId(name))->script, nullptr);
  }
  EXPECT_THAT(Trace(), HasSubstr("8200 x 4 is outside"));
  EXPECT_THAT(FakeClient::Logs(client.others), Contains("Effect BROKEN: Error loading data/images/01"));
  EXPECT_THAT(FakeClient::Logs(client.others), Contains("Effect WIDE: Error loading data/images/00"));  // too wide
  EXPECT_NE(server::FindEffect(EffectId("GOOD"))->script, nullptr);
  EXPECT_FALSE(server::FindEffect(EffectId("GOOD"))->loading);
}

// Videos open on the loader thread: two instances of one file each get their
// own copy, and a file that is no video fails its effect with the open
// message while the show goes on.
TEST_F(BackgroundLoad, VideosOpenBesideTheShowAndBadOnesFailTheirEffect) {
  MakeEffect("good", "good");
  for (const char* folder : {"clips", "badclip"}) testing_support::MakeDirs(dir / (std::string("effects/") + folder + "/data/videos"));
  ASSERT_EQ(video_test::MakeBitsClip(dir / "effects/clips/data/videos/clip.avi", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"), 0);
  testing_support::WriteFile(dir / "effects/clips/data/script.txt",
                             "FXINSTANCE A VIDEOSTREAM clip.avi\nFXINSTANCE B VIDEOSTREAM clip.avi\n"
                             "FXSTART A\nFXSTART B\nFXCOMMAND B BLEND ADDITIVE\nSYNCTIME 4\n");
  testing_support::WriteFile(dir / "effects/badclip/data/videos/notes.avi", "not a video\n");
  testing_support::WriteFile(dir / "effects/badclip/data/script.txt", "FXINSTANCE A VIDEOSTREAM notes.avi\nFXSTART A\n");
  FakeClient client;
  StartInBackground(&client, 0.004);
  PutOnDeck(0, "GOOD");
  client.Send(net::LoadEffectMessage(EffectId("CLIPS"), true));
  int frames = 0;
  ASSERT_NE(AwaitStatus(&client, EffectId("CLIPS"), &frames), nullptr);
  client.Send(net::LoadEffectMessage(EffectId("BADCLIP"), true));
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] {
        Frame();
        while (auto message = net::ReceiveNetMessage(&client.link)) client.others.push_back(std::move(message));
        return !server::FindEffect(EffectId("BADCLIP"))->loading;
      },
      30.0));
  for (int i = 0; i < 3; ++i) Frame();
  while (auto message = net::ReceiveNetMessage(&client.link)) client.others.push_back(std::move(message));
  EXPECT_THAT(FakeClient::Logs(client.others), Contains("Loaded effect CLIPS"));
  EXPECT_EQ(server::FindEffect(EffectId("CLIPS"))->script->Instances().size(), 2u);
  for (const char* instance : {"A", "B"})
    EXPECT_THAT(Trace(), HasSubstr(std::string("VIDEO: ") + instance +
                                   " data/videos/CLIP.AVI takes the copy opened beside the show"));
  EXPECT_THAT(FakeClient::Logs(client.others),
              Contains("Effect BADCLIP: AVIStreamOpenFromFile failed for data/videos/NOTES.AVI: pcFile"));
  EXPECT_THAT(FakeClient::Logs(client.others), Contains("Failed to load effect BADCLIP"));
  EXPECT_EQ(server::FindEffect(EffectId("BADCLIP"))->script, nullptr);
  PutOnDeck(1, "CLIPS");
  for (int i = 0; i < 3; ++i) Frame();
  EXPECT_TRUE(server::LastTickDrewDeck());
}

// A loader thread the system refuses fails that load with a message; the
// next load starts the thread and works.
TEST_F(BackgroundLoad, ALoaderThreadThatCannotStartFailsThatLoadWithAMessage) {
  MakeEffect("fx", "fx");
  FakeClient client;
  StartInBackground(&client);
  const int32_t id = EffectId("FX");
  core::FailNextThreadStarts(1);
  client.Send(net::LoadEffectMessage(id, true));
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] {
        Frame();
        return !server::FindEffect(id)->loading;
      },
      10.0));
  core::FailNextThreadStarts(0);
  std::vector<std::string> logs = Load(&client, id);  // waits for the handshake marker
  for (int i = 0; i < 3; ++i) Frame();
  while (auto message = net::ReceiveNetMessage(&client.link)) client.others.push_back(std::move(message));
  std::vector<std::string> all = FakeClient::Logs(client.others);
  all.insert(all.begin(), logs.begin(), logs.end());
  EXPECT_THAT(all, Contains("Cannot start a thread to load effect FX"));
  EXPECT_THAT(all, Contains("Failed to load effect FX"));
  int frames = 0;
  if (!server::FindEffect(id)->loaded) {
    client.Send(net::LoadEffectMessage(id, true));
    ASSERT_NE(AwaitStatus(&client, id, &frames), nullptr);
  }
  EXPECT_TRUE(server::FindEffect(id)->loaded);
}

// (c) A fixed-rate run with a load at frame 10 renders the same frames
// every time: the load completes inside its request, before the next frame.
TEST_F(ServerTest, AFixedRateRunWithALoadAtFrameTenRendersTheSameFramesTwice) {
  MakeEffect("base", "green");
  MakeSlideShow(dir.path(), "show", 4, 320, 240);
  auto run = [&](const std::string& folder) {
    clock.Set(core::kClockEpoch);
    testing_support::MakeDirs(dir / folder);
    render::SetDumpFolder(dir / folder);
    Start();
    PutOnDeck(0, "BASE");
    const double start = clock.Seconds();
    for (int frame = 0; frame < 20; ++frame) {
      clock.Set(start + frame / 25.0);
      if (frame == 10) {
        net::LoadEffectMessage load(EffectId("SHOW"), true);
        net::SetDeckEffectMessage deck(EffectId("SHOW"), 1);
        server::internal::HandleMessage(&load);
        EXPECT_TRUE(server::FindEffect(EffectId("SHOW"))->loaded);
        server::internal::HandleMessage(&deck);
      }
      Frame();
    }
    server::ShutdownServer();
    render::SetDumpFolder("");
  };
  run("first");
  run("second");
  std::vector<std::string> names = testing_support::ListDir(dir / "first");
  ASSERT_EQ(names.size(), 20u);
  for (const std::string& name : names)
    EXPECT_TRUE(testing_support::ReadFile(dir / ("first/" + name)) == testing_support::ReadFile(dir / ("second/" + name)))
        << name;
  // The slide show shows from frame 10 on.
  EXPECT_FALSE(testing_support::ReadFile(dir / ("first/" + names[9])) ==
               testing_support::ReadFile(dir / ("first/" + names[10])));
}

// ---------------------------------------------------------------------------
// Accept failures.
// ---------------------------------------------------------------------------

int g_accept_calls = 0;
int FailingAccept(int) {
  ++g_accept_calls;
  errno = EMFILE;
  return -1;
}

// A failing accept (descriptor table full) keeps the current Client served
// and the frames drawn, and is tried again at most every 100 ms.
TEST_F(ServerTest, AFailingAcceptKeepsTheClientAndTheShowAndRetriesSeldom) {
  MakeEffect("fx", "red");
  FakeClient current;
  StartAndConnect(&current);
  PutOnDeck(0, "FX");
  g_accept_calls = 0;
  net::SetAcceptFunction(&FailingAccept);
  FakeClient newcomer;
  ASSERT_EQ(newcomer.connection.StartConnect("127.0.0.1", server::ServerPort()), 0);
  // 100 frames of 10 ms: the newcomer waits in the backlog all along,
  // while the current Client's messages are answered and decks drawn.
  int answered = 0, drew = 0, failed_ticks = 0;
  auto drain = [&] {
    while (auto message = net::ReceiveNetMessage(&current.link))
      answered += message->Type() == net::MSG_SERVER_HANDSHAKE;
  };
  for (int frame = 0; frame < 100; ++frame) {
    clock.Advance(0.010);
    current.Send(net::ClientHandshakeMessage());
    failed_ticks += server::ServerTick() == -1;
    drew += server::LastTickDrewDeck();
    drain();
  }
  EXPECT_TRUE(testing_support::WaitUntil(
      [&] {
        server::ServerTick();
        drain();
        return answered == 100;
      },
      10.0));
  net::SetAcceptFunction(nullptr);
  EXPECT_GE(g_accept_calls, 9);
  EXPECT_LE(g_accept_calls, 11);
  EXPECT_EQ(failed_ticks, g_accept_calls);
  EXPECT_EQ(drew, 100);
  EXPECT_TRUE(server::ClientConnected());
  EXPECT_EQ(answered, 100);
  EXPECT_THAT(Trace(), HasSubstr("Accepting the connection failed (Too many open files); the current connection stays"));
}

// ---------------------------------------------------------------------------
// Slow frames.
// ---------------------------------------------------------------------------

// A test effect whose drawing takes `g_slow_seconds` of the injected clock.
core::ManualClock* g_slow_clock = nullptr;
double g_slow_seconds = 0.0;
class Slow : public fx::FxInstance {
 public:
  int Render(float) override {
    if (g_slow_clock) g_slow_clock->Advance(g_slow_seconds);
    return 1;
  }
  const char* GetName() const override { return "SLOW"; }
  const char* GetDescription() const override { return "Test slow drawing"; }
};
fx::FxInstance* CreateSlow(const fx::FxClass&) { return fx::NewInstance<Slow>(); }

// A frame over 100 ms gives one log line naming its time and its longest
// part, at most one line a second; frames under the limit give none.
TEST_F(ServerTest, SlowFramesAreReportedAtMostOncePerSecondWithTheirLongestPart) {
  static fx::FxClass slow_class("SLOW", "Test slow drawing", CreateSlow);
  fx::RegisterFxClass(&slow_class);
  MakeEffect("quick", "red");
  MakeEffect("heavy", "-", "FXINSTANCE S SLOW\nFXSTART S\nSYNCTIME 10\n");
  FakeClient client;
  StartAndConnect(&client);
  PutOnDeck(0, "QUICK");
  PutOnDeck(3, "HEAVY");
  g_slow_clock = &clock;
  g_slow_seconds = 0.25;
  for (int frame = 0; frame < 5; ++frame) Frame();  // ends at +0.25 .. +1.25 s
  g_slow_seconds = 0.09;
  for (int frame = 0; frame < 20; ++frame) Frame();
  g_slow_seconds = 0.0;
  std::vector<std::string> logs = FakeClient::Logs(client.Exchange(net::ClientHandshakeMessage()));
  g_slow_clock = nullptr;
  fx::UnregisterFxClass(&slow_class);
  int slow = 0;
  for (const std::string& text : logs) {
    if (text.rfind("Slow frame", 0) != 0) continue;
    ++slow;
    EXPECT_EQ(text, "Slow frame: 250 ms, longest part deck 3 drawing HEAVY (250 ms)");
  }
  EXPECT_EQ(slow, 2);
}

}  // namespace
}  // namespace server_test

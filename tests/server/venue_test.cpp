// The output a venue needs, in process: the mix at the output's shape,
// the master fader and blackout over the protocol, and previews that
// decode to the output at the asked rate and stop when asked.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "media/encode.h"
#include "render/display.h"
#include "server/server_internal.h"
#include "tests/server/server_fixture.h"

namespace server_test {
namespace {

// A white disc of radius 100 around the centre of the 640 x 480 virtual
// frame, drawn through ScaleX / ScaleY over black; with the argument
// "grey" the whole target is grey 200 instead, with "noise" it is covered
// in small triangles of many colours.
class Disc : public fx::FxInstance {
 public:
  int Load(const char* name, const char* arguments) override {
    SetInstanceName(name);
    grey_ = arguments && core::AsciiEqualNoCase(arguments, "grey");  // scripts read upper-cased
    noise_ = arguments && core::AsciiEqualNoCase(arguments, "noise");
    return 0;
  }
  int Render(float) override {
    render::Device* device = render::GetDevice();
    if (!device) return 1;
    device->Clear(0, nullptr, render::CLEAR_TARGET, grey_ ? 0xFFC8C8C8u : 0xFF000000u, 1.0f, 0);
    if (grey_) return 1;
    struct Vertex {
      float x, y, z, rhw;
      uint32_t diffuse;
      float u, v;
    };
    std::vector<Vertex> fan = {{render::ScaleX(320.0f), render::ScaleY(240.0f), 0, 1, 0xFFFFFFFFu, 0, 0}};
    for (int i = 0; i <= 128; ++i) {
      const double a = i * 2.0 * M_PI / 128.0;
      fan.push_back({render::ScaleX(static_cast<float>(320.0 + 100.0 * std::cos(a))),
                     render::ScaleY(static_cast<float>(240.0 + 100.0 * std::sin(a))), 0, 1, 0xFFFFFFFFu, 0, 0});
    }
    // Noise: small triangles of many colours, which JPEG cannot squeeze.
    std::vector<Vertex> noise;
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; noise_ && i < 6000; ++i) {
      const float x = static_cast<float>(next() % 640), y = static_cast<float>(next() % 480);
      const uint32_t colour = 0xFF000000u | (next() >> 8);
      noise.push_back({render::ScaleX(x), render::ScaleY(y), 0, 1, colour, 0, 0});
      noise.push_back({render::ScaleX(x + 6), render::ScaleY(y), 0, 1, colour, 0, 0});
      noise.push_back({render::ScaleX(x), render::ScaleY(y + 6), 0, 1, colour, 0, 0});
    }
    render::SetRenderStateCached(render::RS_ALPHABLENDENABLE, 0);
    render::SetRenderStateCached(render::RS_CULLMODE, render::CULL_NONE);
    render::SetRenderStateCached(render::RS_ZENABLE, render::ZB_FALSE);
    render::SetStageStateCached(0, render::TSS_COLOROP, render::TOP_SELECTARG2);
    render::SetStageStateCached(0, render::TSS_COLORARG2, render::TA_DIFFUSE);
    render::SetStageStateCached(0, render::TSS_ALPHAOP, render::TOP_SELECTARG2);
    render::SetStageStateCached(0, render::TSS_ALPHAARG2, render::TA_DIFFUSE);
    device->SetTexture(0, nullptr);
    device->SetFVF(render::kFvfScreenVertex);
    if (noise_) device->DrawPrimitiveUP(render::PT_TRIANGLELIST, 6000, noise.data(), sizeof(Vertex));
    else device->DrawPrimitiveUP(render::PT_TRIANGLEFAN, 128, fan.data(), sizeof(Vertex));
    return 1;
  }
  const char* GetName() const override { return "DISC"; }
  const char* GetDescription() const override { return "Test disc"; }

 private:
  bool grey_ = false;
  bool noise_ = false;
};

fx::FxClass& DiscClass() {
  static fx::FxClass record("DISC", "Test disc", [](const fx::FxClass&) -> fx::FxInstance* {
    return fx::NewInstance<Disc>();
  });
  return record;
}

class VenueTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    fx::RegisterFxClass(&DiscClass());
    MakeEffect("Disc", "x", "FXINSTANCE D DISC disc\nFXSTART D\nSYNCTIME 10\n");
    MakeEffect("Grey", "x", "FXINSTANCE D DISC grey\nFXSTART D\nSYNCTIME 10\n");
    MakeEffect("Noise", "x", "FXINSTANCE D DISC noise\nFXSTART D\nSYNCTIME 10\n");
  }
  void TearDown() override {
    ServerTest::TearDown();
    fx::UnregisterFxClass(&DiscClass());
  }
  void StartWith(const server::ServerOptions& extra) {
    server::ServerOptions options = extra;
    options.headless = true;
    options.port = 0;
    options.bind_address = "127.0.0.1";
    options.vsync = false;
    ASSERT_EQ(server::StartServer(options), 0);
    core::MarkStartupFinished(true);
  }
  static std::vector<uint32_t> Output() {
    std::vector<uint32_t> pixels;
    render::Device* device = render::GetDevice();
    if (device) device->ReadSurfacePixels(device->GetBackBuffer().get(), &pixels);
    return pixels;
  }
};

TEST_F(VenueTest, ADiscInTheVirtualFrameIsRoundOnAnOutputOfItsMixsShape) {
  server::ServerOptions options;
  options.output_width = 1024;
  options.output_height = 768;
  options.mix_width = 1024;
  options.mix_height = 768;
  StartWith(options);
  EXPECT_EQ(server::ScratchWidth(), 1024);
  EXPECT_EQ(server::ScratchHeight(), 768);
  PutOnDeck(0, "DISC");
  Frame();
  const std::vector<uint32_t> pixels = Output();
  ASSERT_EQ(pixels.size(), 1024u * 768u);
  int left = 1024, right = -1, top = 768, bottom = -1;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x)
      if (((pixels[y * 1024 + x] >> 16) & 0xFF) > 128) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  const double width = right - left + 1, height = bottom - top + 1;
  EXPECT_NEAR(width / height, 1.0, 0.01);
  EXPECT_NEAR(width, 320.0, 4.0);  // 200 virtual units at 1.6 pixels each
}

TEST_F(VenueTest, MasterHalvesTheMixAndBlackoutBlanksIt) {
  FakeClient client;
  StartAndConnect(&client);
  PutOnDeck(0, "GREY");
  struct Case {
    uint32_t mask;
    float level;
    bool blackout;
    int want;  // the output's red channel
  };
  const Case cases[] = {
      {net::kMasterLevel, 0.5f, false, 100},
      {net::kMasterBlackout, 0.0f, true, 0},
      {net::kMasterBlackout, 0.0f, false, 100},
      {net::kMasterLevel, NAN, false, 100},  // a non-finite level is ignored
      {net::kMasterLevel, 7.0f, false, 200},  // kept in 0..1
      {net::kMasterLevel, 0.0f, false, 0},
      {net::kMasterLevel, 1.0f, false, 200},
  };
  for (const Case& c : cases) {
    client.Send(net::MasterUpdateMessage(c.mask, c.level, c.blackout));
    std::unique_ptr<net::MasterStatusMessage> status = client.Await<net::MasterStatusMessage>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->blackout, server::Blackout());
    EXPECT_EQ(status->level, server::MasterLevel());
    Frame();
    const std::vector<uint32_t> pixels = Output();
    ASSERT_FALSE(pixels.empty());
    for (uint32_t p : {pixels.front(), pixels[pixels.size() / 2], pixels.back()}) {
      EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), c.want, 1) << c.level << " " << c.blackout;
      EXPECT_EQ((p >> 16) & 0xFF, p & 0xFF);  // still grey
    }
  }
}

TEST_F(VenueTest, PreviewsShowTheOutputAtTheAskedRateAndStopWhenAsked) {
  server::ServerOptions options;
  options.wait_for_encoders = true;  // every due preview is made
  StartWith(options);
  FakeClient client;
  ConnectAnother(&client);
  PutOnDeck(0, "DISC");
  client.Send(net::PreviewRequestMessage(8));
  std::vector<std::unique_ptr<net::PreviewFrameMessage>> previews;
  auto collect = [&](std::vector<std::unique_ptr<net::NetMessage>> messages) {
    for (auto& message : messages)
      if (message->Type() == net::MSG_PREVIEW_FRAME)
        previews.emplace_back(static_cast<net::PreviewFrameMessage*>(message.release()));
  };
  collect(client.Exchange({}));  // the request is taken
  previews.clear();
  // Two seconds at 50 frames a second.
  for (int i = 0; i < 100; ++i) {
    clock.Advance(0.02);
    Frame();
  }
  collect(client.Exchange({}));
  EXPECT_NEAR(static_cast<double>(previews.size()), 16.0, 16.0 * 0.2);
  ASSERT_FALSE(previews.empty());

  // The last preview is the output, a quarter the size.
  const net::PreviewFrameMessage& last = *previews.back();
  EXPECT_EQ(last.width, 320u);
  EXPECT_EQ(last.height, 240u);
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  ASSERT_EQ(media::DecodeJpegRgba(last.jpeg.data(), last.jpeg.size(), 320, 240, &width, &height, &rgba), 0);
  const std::vector<uint32_t> output = Output();
  ASSERT_EQ(output.size(), 640u * 480u);
  double difference = 0.0;
  for (uint32_t y = 0; y < 240; ++y)
    for (uint32_t x = 0; x < 320; ++x)
      for (int channel = 0; channel < 3; ++channel) {
        const int shift = 16 - 8 * channel;
        double box = 0.0;
        for (uint32_t dy = 0; dy < 2; ++dy)
          for (uint32_t dx = 0; dx < 2; ++dx) box += (output[(y * 2 + dy) * 640 + x * 2 + dx] >> shift) & 0xFF;
        difference += std::abs(box / 4.0 - rgba[(y * 320 + x) * 4 + channel]);
      }
  EXPECT_LT(difference / (320.0 * 240.0 * 3.0), 4.0);

  client.Send(net::PreviewRequestMessage(0));
  collect(client.Exchange({}));
  previews.clear();
  for (int i = 0; i < 50; ++i) {
    clock.Advance(0.02);
    Frame();
  }
  collect(client.Exchange({}));
  EXPECT_TRUE(previews.empty());
  EXPECT_GT(server::PreviewsSent(), 0u);
}

// A Client that asks for previews and never reads (its receive buffer
// small): the Server skips previews instead of queueing them, keeps the
// connection and never holds more than one preview for it.
TEST_F(VenueTest, AClientThatDoesNotReadGetsFewerPreviews) {
  server::ServerOptions options;
  options.wait_for_encoders = true;
  StartWith(options);
  PutOnDeck(0, "NOISE");
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  const int small = 4096;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server::ServerPort()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  net::ByteStream request;
  ASSERT_EQ(net::EncodeFrame(net::PreviewRequestMessage(10), &request), 0);
  ASSERT_EQ(send(fd, request.Data(), request.Length(), 0), static_cast<ssize_t>(request.Length()));
  ASSERT_TRUE(testing_support::WaitUntil([this] { Frame(); return server::ClientConnected(); }, 10.0));
  size_t most_queued = 0;
  constexpr int kFrames = 600;  // a minute of show: 600 previews fall due
  for (int i = 0; i < kFrames; ++i) {
    clock.Advance(0.1);
    Frame();
    most_queued = std::max(most_queued, server::internal::g_server.client().QueuedBytes());
  }
  EXPECT_TRUE(server::ClientConnected());
  EXPECT_GT(server::PreviewsSkipped(), 0u);
  EXPECT_LT(server::PreviewsSent(), static_cast<uint64_t>(kFrames));
  EXPECT_LE(most_queued, size_t{net::kMaxPreviewBytes} + 64);
  close(fd);
}

TEST_F(VenueTest, AskingForMoreThanTenPreviewsASecondGetsTen) {
  server::ServerOptions options;
  options.wait_for_encoders = true;
  StartWith(options);
  FakeClient client;
  ConnectAnother(&client);
  client.Send(net::PreviewRequestMessage(1000));
  client.Exchange({});
  const uint64_t before = server::PreviewsSent();
  for (int i = 0; i < 100; ++i) {
    clock.Advance(0.01);
    Frame();
  }
  client.Exchange({});
  EXPECT_NEAR(static_cast<double>(server::PreviewsSent() - before), 10.0, 2.0);
}

}  // namespace
}  // namespace server_test

// The venue output messages (15-19): their byte images, what a reader
// refuses, and that a peer of the eleven messages only drops them.
#include <gtest/gtest.h>

#include <cmath>

#include "net/link.h"
#include "net/wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const net::NetMessage& message) {
  net::ByteStream stream;
  EXPECT_EQ(net::EncodeFrame(message, &stream), 0);
  return Bytes(stream.Data(), stream.Data() + stream.Length());
}

TEST(OutputMessages, ByteImages) {
  net::PreviewFrameMessage preview;
  preview.width = 320;
  preview.height = 180;
  preview.jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
  struct Case {
    const net::NetMessage* message;
    Bytes bytes;
  };
  const net::MasterUpdateMessage master(net::kMasterLevel | net::kMasterBlackout, 0.5f, true);
  const net::MasterStatusMessage status(1.0f, false);
  const net::PreviewRequestMessage request(10);
  const net::RecordControlMessage start(true, "a.mkv");
  const net::RecordControlMessage stop(false, "");
  const Case cases[] = {
      {&master, {0x0D, 0, 0, 0, 0x0F, 0, 0, 0, 0x03, 0, 0, 0, 0x00, 0x00, 0x00, 0x3F, 0x01}},
      {&status, {0x09, 0, 0, 0, 0x10, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00}},
      {&request, {0x08, 0, 0, 0, 0x11, 0, 0, 0, 0x0A, 0, 0, 0}},
      {&preview, {0x14, 0, 0, 0, 0x12, 0, 0, 0, 0x40, 0x01, 0, 0, 0xB4, 0, 0, 0, 0x04, 0, 0, 0, 0xFF, 0xD8, 0xFF, 0xD9}},
      {&start, {0x0F, 0, 0, 0, 0x13, 0, 0, 0, 0x01, 0x06, 0, 0, 0, 'a', '.', 'm', 'k', 'v', 0}},
      {&stop, {0x0A, 0, 0, 0, 0x13, 0, 0, 0, 0x00, 0x01, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Bytes frame = Frame(*c.message);
    EXPECT_EQ(frame, c.bytes) << c.message->Type();
    // ...and back, to the same bytes.
    auto back = net::DecodePayload(frame.data() + 4, frame.size() - 4);
    ASSERT_NE(back, nullptr) << c.message->Type();
    EXPECT_EQ(Frame(*back), frame);
  }
}

TEST(OutputMessages, ShortOrOversizedPayloadsAreRefused) {
  net::PreviewFrameMessage preview;
  preview.width = 4;
  preview.height = 4;
  preview.jpeg = {1, 2, 3};
  const net::MasterUpdateMessage master(1, 0.25f, false);
  const net::RecordControlMessage record(true, "x.mp4");
  for (const net::NetMessage* message : std::initializer_list<const net::NetMessage*>{&preview, &master, &record}) {
    const Bytes frame = Frame(*message);
    for (size_t length = 4; length + 4 < frame.size(); ++length)
      EXPECT_EQ(net::DecodePayload(frame.data() + 4, length), nullptr) << message->Type() << " at " << length;
  }
  struct Bad {
    uint32_t width, height, bytes;
  };
  for (const Bad& bad : {Bad{0, 10, 5}, Bad{321, 10, 5}, Bad{10, 241, 5}, Bad{10, 10, 0}}) {
    net::PreviewFrameMessage frame;
    frame.width = bad.width;
    frame.height = bad.height;
    frame.jpeg.assign(bad.bytes, 7);
    const Bytes bytes = Frame(frame);
    EXPECT_EQ(net::DecodePayload(bytes.data() + 4, bytes.size() - 4), nullptr) << bad.width << "x" << bad.height;
  }
}

// A peer that knows only the eleven messages drops these as unknown types
// and goes on with the next frame.
TEST(OutputMessages, AnOldPeerDropsThemAndReadsOn) {
  for (uint32_t type = net::kFirstOutputMessageType; type <= net::kLastOutputMessageType; ++type) {
    ASSERT_NE(net::MakeNetMessage(type), nullptr) << type;
    EXPECT_EQ(net::MakeNetMessage(type)->Type(), type);
  }
  net::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, "127.0.0.1"), 0);
  net::Connection sender, receiver;
  ASSERT_EQ(sender.ConnectAndWait("127.0.0.1", listener.Port(), 5.0), 0);
  for (int i = 0; i < 500 && listener.Accept(&receiver) != 0; ++i) receiver.Wait(10);
  ASSERT_TRUE(receiver.IsOpen());
  // An unknown type, as an old peer sees message 16, then a known one.
  const Bytes unknown = {0x09, 0, 0, 0, 0x63, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00};
  ASSERT_EQ(sender.Send(unknown.data(), unknown.size()), 0);
  const Bytes known = Frame(net::PlayerStatusMessage(25));
  ASSERT_EQ(sender.Send(known.data(), known.size()), 0);
  net::Link link;
  net::AttachLink(&link, &receiver);
  std::unique_ptr<net::NetMessage> got;
  for (int i = 0; i < 500 && !got; ++i) {
    got = net::ReceiveNetMessage(&link);
    if (!got) net::WaitForTraffic(&link, 10);
  }
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->Type(), net::MSG_PLAYER_STATUS);
  EXPECT_TRUE(receiver.IsOpen());
}

}  // namespace

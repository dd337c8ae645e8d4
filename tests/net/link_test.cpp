// Frames over a real loopback connection: assembly across polls, several
// frames in one read, malformed frames, oversize frames, lost peers, and a
// peer that stops reading.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/net/net_test_util.h"

namespace {

using testing_support::FrameBytes;
using testing_support::LoopbackPair;
using testing_support::ReceiveWithin;
using testing_support::WaitUntil;
using Bytes = std::vector<uint8_t>;

// A guard against a send that blocks: the test dies instead of hanging.
class AlarmGuard {
 public:
  explicit AlarmGuard(unsigned seconds) { alarm(seconds); }
  ~AlarmGuard() { alarm(0); }
};

// Waits until the receiving socket holds `count` bytes.
bool WaitForBytes(net::Connection* connection, size_t count) {
  return WaitUntil(
      [&] {
        size_t waiting = 0;
        return connection->BytesWaiting(&waiting) == 0 && waiting >= count;
      },
      5.0);
}

net::StateMessage BigState(size_t effects) {
  net::StateMessage state;
  state.effects.resize(effects);
  for (size_t i = 0; i < effects; ++i) {
    state.effects[i].id = static_cast<int32_t>(i);
    net::SetRecordText(state.effects[i].name, "EFFECT" + std::to_string(i));
  }
  for (int deck = 0; deck < net::kDeckCount; ++deck)
    state.decks.push_back(net::DefaultDeckRecord(deck));
  state.mixers.resize(10);
  return state;
}

TEST(Link, SendsAndReceivesMessagesBothWays) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_EQ(net::SendNetMessage(&pair.client_link, net::ClientHandshakeMessage()), 0);
  auto message = ReceiveWithin(&pair.server_link);
  ASSERT_TRUE(net::MessageAs<net::ClientHandshakeMessage>(message.get()));
  ASSERT_EQ(net::SendNetMessage(&pair.server_link, net::ServerHandshakeMessage(0, 1)), 0);
  message = ReceiveWithin(&pair.client_link);
  auto* handshake = net::MessageAs<net::ServerHandshakeMessage>(message.get());
  ASSERT_TRUE(handshake);
  EXPECT_TRUE(net::IsSupportedServerVersion(*handshake));
  EXPECT_FALSE(net::ReceiveNetMessage(&pair.client_link));
  EXPECT_FALSE(net::ReceiveNetMessage(&pair.server_link));
}

TEST(Link, AFrameDeliveredOneByteAtATimeYieldsExactlyOneMessage) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  Bytes frame = FrameBytes(BigState(3));
  Bytes second = FrameBytes(net::PlayerStatusMessage(59));
  frame.insert(frame.end(), second.begin(), second.end());
  std::vector<uint32_t> got;
  for (size_t i = 0; i < frame.size(); ++i) {
    ASSERT_EQ(pair.client.Send(&frame[i], 1), 0);
    ASSERT_TRUE(WaitForBytes(&pair.server, 1)) << i;
    auto message = net::ReceiveNetMessage(&pair.server_link);
    if (message) {
      got.push_back(message->Type());
      EXPECT_EQ(pair.server_link.BufferedBytes(), 0u);
    }
    // Still nothing waiting in the socket: the byte went into the link.
    size_t waiting = 1;
    ASSERT_EQ(pair.server.BytesWaiting(&waiting), 0);
    EXPECT_EQ(waiting, 0u);
  }
  EXPECT_EQ(got, (std::vector<uint32_t>{net::MSG_STATE, net::MSG_PLAYER_STATUS}));
}

TEST(Link, TwoFramesInOneReadYieldTwoMessages) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  Bytes both = FrameBytes(net::SetDeckEffectMessage(3, 1));
  Bytes second = FrameBytes(net::LoadEffectMessage(2, true));
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_EQ(pair.client.Send(both.data(), both.size()), 0);
  ASSERT_TRUE(WaitForBytes(&pair.server, both.size()));
  auto first = net::ReceiveNetMessage(&pair.server_link);
  auto* set = net::MessageAs<net::SetDeckEffectMessage>(first.get());
  ASSERT_TRUE(set);
  EXPECT_EQ(set->effect_id, 3);
  EXPECT_EQ(set->deck, 1);
  EXPECT_EQ(pair.server_link.BufferedBytes(), second.size());
  auto next = net::ReceiveNetMessage(&pair.server_link);
  auto* load = net::MessageAs<net::LoadEffectMessage>(next.get());
  ASSERT_TRUE(load);
  EXPECT_EQ(load->effect_id, 2);
  EXPECT_FALSE(net::ReceiveNetMessage(&pair.server_link));
}

TEST(Link, AFrameLargerThanTheSocketBuffersArrivesWhole) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  // About 3 MiB, far above the default socket receive buffer, sent in
  // pieces; the receiver polls between pieces and gets nothing until the
  // last one is in.
  Bytes frame = FrameBytes(BigState(45000));
  const size_t piece = 200 * 1024;
  int empty_polls = 0;
  std::unique_ptr<net::NetMessage> message;
  for (size_t sent = 0; sent < frame.size(); sent += piece) {
    size_t size = std::min(piece, frame.size() - sent);
    ASSERT_EQ(pair.client.Send(frame.data() + sent, size), 0);
    ASSERT_TRUE(WaitUntil(
        [&] {
          pair.client.Flush();
          message = net::ReceiveNetMessage(&pair.server_link);
          size_t waiting = 0;
          return message || (pair.client.QueuedBytes() == 0 &&
                             pair.server.BytesWaiting(&waiting) == 0 && waiting == 0);
        },
        20.0));
    if (sent + size < frame.size()) {
      ASSERT_FALSE(message) << sent;
      EXPECT_EQ(pair.server_link.BufferedBytes(), sent + size);
      ++empty_polls;
    }
  }
  if (!message) message = ReceiveWithin(&pair.server_link);
  EXPECT_GT(empty_polls, 10);
  auto* got = net::MessageAs<net::StateMessage>(message.get());
  ASSERT_TRUE(got);
  ASSERT_EQ(got->effects.size(), 45000u);
  EXPECT_EQ(net::RecordText(got->effects[44999].name), "EFFECT44999");
  EXPECT_EQ(pair.server_link.BufferedBytes(), 0u);
}

TEST(Link, ALargeMessageSentAtOnceArrivesWhole) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_EQ(net::SendNetMessage(&pair.server_link, BigState(60000)), 0);  // near the cap
  std::unique_ptr<net::NetMessage> message;
  ASSERT_TRUE(WaitUntil(
      [&] {
        message = net::ReceiveNetMessage(&pair.client_link);
        net::ReceiveNetMessage(&pair.server_link);  // the Server's ticks flush its queue
        return message != nullptr;
      },
      20.0));
  auto* got = net::MessageAs<net::StateMessage>(message.get());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->effects.size(), 60000u);
  EXPECT_EQ(pair.server.QueuedBytes(), 0u);
}

TEST(Link, MalformedFramesAreDroppedAndTheNextGoodOneArrives) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  auto raw = [](std::initializer_list<uint8_t> bytes) { return Bytes(bytes); };
  std::vector<Bytes> bad = {
      raw({0, 0, 0, 0}),                                   // no payload at all
      raw({2, 0, 0, 0, 9, 9}),                             // too short for a type
      raw({8, 0, 0, 0, 15, 0, 0, 0, 1, 2, 3, 4}),          // unknown type 15
      raw({8, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}),           // unknown type 0
      raw({8, 0, 0, 0, 8, 0, 0, 0, 3, 0, 0, 0}),           // set-deck-effect without deck
      raw({8, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0}),           // log event with L = 0
      raw({12, 0, 0, 0, 4, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0}),  // absurd count
  };
  Bytes stream;
  for (const Bytes& frame : bad) stream.insert(stream.end(), frame.begin(), frame.end());
  Bytes good = FrameBytes(net::LogEventMessage("still here"));
  stream.insert(stream.end(), good.begin(), good.end());
  ASSERT_EQ(pair.client.Send(stream.data(), stream.size()), 0);
  ASSERT_TRUE(WaitForBytes(&pair.server, stream.size()));
  // Each bad frame is consumed on its own call and yields nothing.
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(net::ReceiveNetMessage(&pair.server_link)) << i;
  auto message = net::ReceiveNetMessage(&pair.server_link);
  auto* log = net::MessageAs<net::LogEventMessage>(message.get());
  ASSERT_TRUE(log);
  EXPECT_EQ(log->text, "still here");
  EXPECT_TRUE(pair.server.IsOpen());
}

TEST(Link, AnOversizeFrameClosesTheConnection) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  uint32_t length = net::kMaxFrameLength + 1;
  Bytes header = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                  static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24),
                  4, 0, 0, 0};
  ASSERT_EQ(pair.client.Send(header.data(), header.size()), 0);
  ASSERT_TRUE(WaitForBytes(&pair.server, header.size()));
  EXPECT_FALSE(net::ReceiveNetMessage(&pair.server_link));
  EXPECT_FALSE(pair.server.IsOpen());
  EXPECT_FALSE(pair.server_link.IsOpen());
  EXPECT_EQ(pair.server_link.BufferedBytes(), 0u);
  // The peer notices too.
  EXPECT_TRUE(WaitUntil(
      [&] {
        net::ReceiveNetMessage(&pair.client_link);
        return !pair.client.IsOpen();
      },
      5.0));
}

TEST(Link, APeerThatClosesMakesIsOpenFalseAfterItsLastFrames) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_EQ(net::SendNetMessage(&pair.client_link, net::ListEffectsMessage()), 0);
  ASSERT_EQ(net::SendNetMessage(&pair.client_link, net::ClientHandshakeMessage()), 0);
  pair.client.Close();
  EXPECT_FALSE(pair.client_link.IsOpen());
  auto first = ReceiveWithin(&pair.server_link);
  EXPECT_TRUE(net::MessageAs<net::ListEffectsMessage>(first.get()));
  auto second = ReceiveWithin(&pair.server_link);
  EXPECT_TRUE(net::MessageAs<net::ClientHandshakeMessage>(second.get()));
  auto none = ReceiveWithin(&pair.server_link, 5.0);
  EXPECT_FALSE(none);
  EXPECT_FALSE(pair.server.IsOpen());
  EXPECT_EQ(net::SendNetMessage(&pair.server_link, net::PlayerStatusMessage(1)), -1);
}

TEST(Link, SendingToAVanishedPeerFailsWithoutKillingTheProcess) {
  // SIGPIPE keeps its default action here: a send without MSG_NOSIGNAL would
  // end the test program.
  std::signal(SIGPIPE, SIG_DFL);
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  pair.server.Close();
  AlarmGuard guard(60);
  int result = 0;
  for (int i = 0; i < 100000 && result == 0; ++i) {
    result = net::SendNetMessage(&pair.client_link, net::PlayerStatusMessage(i));
    if (result == 0) pair.client.Wait(1);
  }
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(pair.client.IsOpen());
}

TEST(Link, APeerThatNeverReadsDoesNotBlockTheSender) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  AlarmGuard guard(60);  // a blocking send would hang here
  net::DeckRecord record = net::DefaultDeckRecord(0);
  const size_t frame = 4 + 4 + net::kDeckRecordSize;
  size_t accepted = 0;
  while (net::SendNetMessage(&pair.client_link, net::DeckUpdateMessage(record)) == 0) {
    ++accepted;
    ASSERT_LT(accepted * frame, 64u << 20) << "the queue never overflowed";
  }
  // The queue filled to its cap on top of what the kernel buffers held.
  EXPECT_GT(accepted * frame, net::kMaxOutgoingBytes);
  EXPECT_FALSE(pair.client.IsOpen());
  EXPECT_EQ(pair.client.QueuedBytes(), 0u);
  EXPECT_NE(pair.client.LastError().find("not reading"), std::string::npos)
      << pair.client.LastError();
}

TEST(Link, QueuedBytesLeaveOnLaterPolls) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  // Fill the kernel buffers so the next message stays queued.
  Bytes filler(256 * 1024, 0);
  while (pair.client.QueuedBytes() == 0) ASSERT_EQ(pair.client.Send(filler.data(), filler.size()), 0);
  size_t queued = pair.client.QueuedBytes();
  ASSERT_EQ(net::SendNetMessage(&pair.client_link, net::LogEventMessage("late")), 0);
  EXPECT_GT(pair.client.QueuedBytes(), queued);
  // The reader drains the raw bytes; the sender's polls push the rest.
  std::vector<uint8_t> sink(1 << 16);
  size_t drained = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        net::ReceiveNetMessage(&pair.client_link);  // flushes the queue
        size_t got = 0;
        while (pair.server.Receive(sink.data(), sink.size(), &got) == 0) drained += got;
        return pair.client.QueuedBytes() == 0;
      },
      20.0));
  EXPECT_TRUE(pair.client.IsOpen());
  EXPECT_GT(drained, queued);
}

TEST(Link, ANewConnectionOnTheSameEndpointForgetsOldPartialFrames) {
  LoopbackPair pair;
  ASSERT_TRUE(pair.Open());
  Bytes frame = FrameBytes(net::SetDeckEffectMessage(1, 2));
  ASSERT_EQ(pair.client.Send(frame.data(), 5), 0);  // half a frame
  ASSERT_TRUE(WaitForBytes(&pair.server, 5));
  EXPECT_FALSE(net::ReceiveNetMessage(&pair.server_link));
  EXPECT_EQ(pair.server_link.BufferedBytes(), 5u);
  // A second client replaces the first; the link is not re-attached.
  net::Connection second;
  ASSERT_EQ(second.ConnectAndWait("127.0.0.1", pair.listener.Port(), 5.0), 0);
  ASSERT_TRUE(WaitUntil([&] { return pair.listener.Accept(&pair.server) == 0; }, 5.0));
  Bytes hello = FrameBytes(net::ClientHandshakeMessage());
  ASSERT_EQ(second.Send(hello.data(), hello.size()), 0);
  auto message = ReceiveWithin(&pair.server_link);
  EXPECT_TRUE(net::MessageAs<net::ClientHandshakeMessage>(message.get()));
}

TEST(Link, UnattachedLinksFail) {
  net::Link link;
  EXPECT_EQ(net::SendNetMessage(&link, net::ClientHandshakeMessage()), -1);
  EXPECT_FALSE(net::ReceiveNetMessage(&link));
  EXPECT_EQ(net::AttachLink(&link, nullptr), -1);
  EXPECT_EQ(net::AttachLink(nullptr, nullptr), -1);
  net::Connection closed;
  ASSERT_EQ(net::AttachLink(&link, &closed), 0);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(net::SendNetMessage(&link, net::ClientHandshakeMessage()), -1);
  EXPECT_FALSE(net::ReceiveNetMessage(&link));
}

}  // namespace

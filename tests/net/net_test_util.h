// Small helpers for the network tests: a connected pair over loopback and
// bounded waits for traffic between the two ends of it.
#pragma once

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"
#include "tests/support/support.h"

namespace testing_support {

// A listener on 127.0.0.1 and the two ends of one connection through it,
// each with its link attached.
struct LoopbackPair {
  net::ListenSocket listener;
  net::Connection client, server;
  net::Link client_link, server_link;

  // Returns false (after a gtest failure) when the pair cannot be made.
  bool Open() {
    if (listener.Listen(0, "127.0.0.1") != 0) {
      ADD_FAILURE() << "Listen failed";
      return false;
    }
    if (client.ConnectAndWait("127.0.0.1", listener.Port(), 5.0) != 0) {
      ADD_FAILURE() << "Connect failed: " << client.LastError();
      return false;
    }
    if (!WaitUntil([&] { return listener.Accept(&server) == 0; }, 5.0)) {
      ADD_FAILURE() << "Accept failed";
      return false;
    }
    net::AttachLink(&client_link, &client);
    net::AttachLink(&server_link, &server);
    return true;
  }
};

// Polls `link` until a message arrives or `seconds` of wall time pass.
inline std::unique_ptr<net::NetMessage> ReceiveWithin(net::Link* link, double seconds = 5.0) {
  std::unique_ptr<net::NetMessage> message;
  WaitUntil(
      [&] {
        net::WaitForTraffic(link, 10);
        message = net::ReceiveNetMessage(link);
        return message != nullptr || !link->IsOpen();
      },
      seconds);
  return message;
}

inline std::vector<uint8_t> FrameBytes(const net::NetMessage& message) {
  net::ByteStream stream;
  EXPECT_EQ(net::EncodeFrame(message, &stream), 0);
  return std::vector<uint8_t>(stream.Data(), stream.Data() + stream.Length());
}

}  // namespace testing_support

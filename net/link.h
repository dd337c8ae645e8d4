// The message link: frames over one connection. Frames are assembled in the
// Link's own buffer across polls, so a frame of any allowed size arrives
// whatever the socket buffers are.
//
// Typical use (Server tick):
//     if (listener.PollIncoming() == 0) {
//       client.Close();
//       if (listener.Accept(&client) == 0) net::AttachLink(&link, &client);
//     }
//     while (auto message = net::ReceiveNetMessage(&link)) { ...handle... }
//     if (!client.IsOpen()) { ...drop the client... }
//
// Typical use (Client panel):
//     connection.StartConnect(host, net::kDefaultPort);      // on "Connect"
//     switch (connection.PollConnect()) {                     // every tick
//       case 0: net::AttachLink(&link, &connection);
//               net::SendNetMessage(&link, net::ClientHandshakeMessage()); break;
//       case 1: break;                                        // still going
//       case -1: ...show connection.LastError()...
//     }
//
// Not here: message contents (wire.h), socket set-up (socket.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/socket.h"
#include "net/wire.h"

namespace net {

static_assert(kMaxOutgoingBytes >= 2 * (size_t{kMaxFrameLength} + 4),
              "a connection must hold two of the largest frames");

// ---------------------------------------------------------------------------
// Message link: frames over one connection.
// ---------------------------------------------------------------------------
class Link {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Connection* connection() const { return connection_; }
  bool IsOpen() const { return connection_ && connection_->IsOpen(); }
  // Bytes received but not yet yielded as a message.
  size_t BufferedBytes() const { return inbox_tail_ - inbox_head_; }
  void Detach();

 private:
  friend int AttachLink(Link*, Connection*);
  friend int SendNetMessage(Link*, const NetMessage&);
  friend std::unique_ptr<NetMessage> ReceiveNetMessage(Link*);
  friend int WaitForTraffic(Link*, int);
  bool HasWholeFrame() const;
  void ForgetIfReconnected();
  void ClearInbox();
  // Makes room for `bytes` more after the buffered ones. 0 or -1.
  int MakeRoom(size_t bytes);

  Connection* connection_ = nullptr;
  uint64_t generation_ = 0;
  // Received bytes live in [inbox_head_, inbox_tail_) of inbox_.
  std::unique_ptr<uint8_t[]> inbox_;
  size_t inbox_capacity_ = 0;
  size_t inbox_head_ = 0;
  size_t inbox_tail_ = 0;
};

// Binds `link` to `connection` (which must outlive the binding) and forgets
// anything buffered from an earlier connection. 0, or -1 when either is null.
int AttachLink(Link* link, Connection* connection);
// Queues the frame of `message` and pushes it. 0, or -1 when the message
// cannot be encoded or the connection is closed or overflows (it then
// closes). Traces "Sent msg: " and the message on success.
int SendNetMessage(Link* link, const NetMessage& message);
// The next complete message, or nullptr. Never waits. Also pushes queued
// outgoing bytes. A frame still arriving stays buffered; a frame of an
// unknown type or with a malformed payload is consumed and dropped (nullptr
// is returned for it; the next call goes on); a frame longer than
// kMaxFrameLength closes the connection.
std::unique_ptr<NetMessage> ReceiveNetMessage(Link* link);
// For command-line tools and tests only: waits up to `milliseconds` until a
// complete frame is buffered or the connection has something to do. Returns
// as Connection::Wait.
int WaitForTraffic(Link* link, int milliseconds);

}  // namespace net

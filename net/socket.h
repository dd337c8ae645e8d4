// Polled TCP endpoints: ListenSocket and Connection. Every call returns at
// once: 0 = done, 1 = nothing yet, -1 = failed. A connection that fails in
// any way closes itself, so owners notice a lost peer by IsOpen() turning
// false.
//
//   sending    Connection::Send queues the bytes and pushes what the kernel
//              takes; the rest leaves on later polls. A queue that grows past
//              kMaxOutgoingBytes (a peer that stopped reading) closes the
//              connection instead of ever blocking the frame loop.
//   connecting StartConnect looks the name up on a worker thread and connects
//              without blocking; PollConnect is called once per tick until it
//              answers 0 (open) or -1 (failed, LastError() says why).
//
// Typical use:
//     if (listener.PollIncoming() == 0 && listener.Accept(&client) == 0) ...
//     connection.StartConnect(host, port); ... connection.PollConnect() ...
//
// Not here: what the bytes mean (wire.h) or how they are framed (link.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace net {

// ---------------------------------------------------------------------------
// Limits.
// ---------------------------------------------------------------------------
inline constexpr int kListenBacklog = 5;
// Bytes a connection may hold for a peer that does not read: two of the
// largest frames the link sends (kMaxFrameLength + 4, see wire.h); past this
// the connection is closed.
inline constexpr size_t kMaxOutgoingBytes = 2 * ((size_t{4} << 20) + 4);
// How long a connect (look-up included) may take before it counts as failed.
inline constexpr double kConnectTimeoutSeconds = 5.0;

// Process-wide start and stop. Nothing to do on POSIX beyond bookkeeping;
// kept so start-up and shutdown read the same on every platform.
int StartNetwork();
int StopNetwork();

// ---------------------------------------------------------------------------
// Endpoints.
// ---------------------------------------------------------------------------
class Connection;

class ListenSocket {
 public:
  ListenSocket() = default;
  ~ListenSocket();
  ListenSocket(const ListenSocket&) = delete;
  ListenSocket& operator=(const ListenSocket&) = delete;

  // Listens on `port` (0 = any free port, see Port()) at `address`, a dotted
  // IPv4 address or a host name; empty = every local IPv4 address. Closes
  // the endpoint first if open. Returns 0, or -1 (the endpoint stays closed).
  int Listen(int port, const std::string& address = "");
  // 0 = a connection is pending, 1 = nothing yet, -1 = closed. Never waits.
  int PollIncoming();
  // Takes a pending connection into `connection` (closing what it held),
  // with the Nagle delay off. 0 = accepted, 1 = nothing pending, -1 = closed
  // endpoint or accept failed (the endpoint stays open; try again later).
  int Accept(Connection* connection);
  // The port actually bound, or -1 when closed.
  int Port() const;
  bool IsOpen() const { return handle_ != -1; }
  void Close();

 private:
  int handle_ = -1;
};

struct PendingLookup;  // a name look-up running on a worker thread

class Connection {
 public:
  enum class State { kClosed, kResolving, kConnecting, kOpen };

  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Begins connecting to host:port (host: dotted IPv4 address or a name,
  // looked up as IPv4 on a worker thread; every address found is tried in
  // turn). Closes the endpoint first if open. Returns 0 when under way (or
  // already connected), -1 when it failed at once (LastError() says why).
  // The time-out runs on the program clock.
  int StartConnect(const std::string& host, int port,
                   double timeout_seconds = kConnectTimeoutSeconds);
  // Advances a connect. 0 = open, 1 = still connecting, -1 = failed or
  // closed. Never waits.
  int PollConnect();
  // For command-line tools and tests only (it waits): StartConnect, then
  // PollConnect until it settles or `timeout_seconds` pass. 0 or -1.
  int ConnectAndWait(const std::string& host, int port,
                     double timeout_seconds = kConnectTimeoutSeconds);

  // Queues `length` bytes and sends what the kernel takes now; the rest
  // leaves on later Flush() calls. 0 = accepted, -1 = closed, or the queue
  // would exceed kMaxOutgoingBytes (which closes the connection). Bytes sent
  // while still connecting wait in the queue.
  int Send(const void* data, size_t length);
  // Pushes queued bytes. 0 = queue empty, 1 = bytes remain, -1 = closed.
  int Flush();
  size_t QueuedBytes() const { return queue_.size() - queue_head_; }

  // Up to `length` bytes that have arrived. 0 = `*received` > 0 bytes stored,
  // 1 = nothing yet, -1 = closed (the peer closed, or an error). Never waits.
  int Receive(void* buffer, size_t length, size_t* received);
  // Bytes waiting in the socket. 0 or -1 (closes on error).
  int BytesWaiting(size_t* count);

  // For command-line tools and tests only: waits up to `milliseconds`
  // (-1 = no limit) until bytes arrive, the peer closes or, with queued
  // bytes, the socket can take more. 0 = something to do, 1 = time-out,
  // -1 = closed. A signal ends the wait early with 1.
  int Wait(int milliseconds);

  bool IsOpen() const { return state_ == State::kOpen; }
  bool IsConnecting() const { return state_ == State::kResolving || state_ == State::kConnecting; }
  State state() const { return state_; }
  // Counts the times this endpoint became open; lets a Link notice that the
  // endpoint now carries a different connection.
  uint64_t Generation() const { return generation_; }
  // Why the last connect or the connection failed ("" when it did not).
  const std::string& LastError() const { return last_error_; }
  // Closes the socket, drops queued bytes and abandons a running look-up
  // (a later StartConnect waits for it to end before looking up again, so
  // at most one look-up per connection runs at a time).
  void Close();

 private:
  friend class ListenSocket;
  friend int ConnectLocalPair(Connection*, Connection*);
  void Adopt(int handle);                 // an accepted socket
  void Fail(const std::string& reason);   // close and remember why
  int BeginNextAddress();                 // connect to addresses_[next_address_]
  int LaunchLookup();                     // 0, or -1 after Fail
  bool PreviousLookupRunning();

  int handle_ = -1;
  State state_ = State::kClosed;
  uint64_t generation_ = 0;
  std::string last_error_;
  std::vector<uint8_t> queue_;
  size_t queue_head_ = 0;
  // Connect in progress.
  std::shared_ptr<PendingLookup> lookup_;
  // A look-up an earlier attempt abandoned, while it may still run.
  std::shared_ptr<PendingLookup> previous_lookup_;
  std::vector<uint32_t> addresses_;  // IPv4, network byte order
  size_t next_address_ = 0;
  int port_ = 0;
  double deadline_ = 0.0;
  std::string host_;
};

// Resolves `host` to IPv4 addresses (network byte order). Returns 0 or -1.
// Replaceable for tests (a look-up that never returns, ...); nullptr restores
// the system resolver. The function runs on a worker thread.
using HostResolver = int (*)(const std::string& host, std::vector<uint32_t>* addresses);
void SetHostResolver(HostResolver resolver);

// Takes one pending connection of a listening handle: the new handle
// (non-blocking), or -1 with errno set. Replaceable for tests (a full
// descriptor table, EPERM, ...); nullptr restores the system call.
using AcceptFunction = int (*)(int listen_handle);
void SetAcceptFunction(AcceptFunction accept);

// Opens `a` and `b` as the two ends of one connection inside this process
// (no listener, no port, no network): tests and fuzzers feed a Link exact
// bytes through it. Closes both first. 0, or -1 when the system refuses.
int ConnectLocalPair(Connection* a, Connection* b);

}  // namespace net

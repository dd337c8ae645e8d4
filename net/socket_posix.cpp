// TCP endpoints over POSIX sockets.
//
// Design: every socket is non-blocking from birth and every wait is a poll()
// with a zero time-out, because the same thread renders the live output.
// "Nothing yet" (EINTR, EAGAIN/EWOULDBLOCK, EINPROGRESS) is never an error.
// A connection that fails closes itself; its owner sees IsOpen() turn false.
//
// Connecting has two background stages: the name look-up runs on a detached
// worker thread that reports into a shared record (so a look-up that never
// returns only leaks that record, and shutdown never waits for it), then a
// non-blocking connect() is polled for writability. Both stages share one
// deadline on the program clock.
//
// Sends go through a per-connection queue: the kernel takes what it can and
// the rest waits for the next Flush(). Sends use MSG_NOSIGNAL so a vanished
// peer is an error return, never SIGPIPE.
#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "app/core/core.h"

namespace net {

struct PendingLookup {
  std::mutex mutex;
  bool done = false;
  int result = -1;
  std::vector<uint32_t> addresses;
};

namespace {

std::atomic<HostResolver> g_resolver{nullptr};
AcceptFunction g_accept = nullptr;

int SystemAccept(int listen_handle) { return ::accept4(listen_handle, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

bool NothingYet(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

std::string ErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns the text (possibly not in buffer).
  return strerror_r(error, buffer, sizeof buffer);
}

void CloseHandle(int* handle) {
  if (*handle != -1) {
    ::close(*handle);
    *handle = -1;
  }
}

int SystemResolve(const std::string& host, std::vector<uint32_t>* addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;  // the Server listens on IPv4; "localhost" may list ::1 first
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return -1;
  for (addrinfo* item = found; item; item = item->ai_next) {
    if (item->ai_family != AF_INET || item->ai_addrlen < sizeof(sockaddr_in)) continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (uint32_t known : *addresses) seen = seen || known == address;
    if (!seen) addresses->push_back(address);
  }
  freeaddrinfo(found);
  return addresses->empty() ? -1 : 0;
}

int Resolve(const std::string& host, std::vector<uint32_t>* addresses) {
  HostResolver resolver = g_resolver.load();
  return resolver ? resolver(host, addresses) : SystemResolve(host, addresses);
}

bool ParseDotted(const std::string& host, uint32_t* address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
  *address = parsed.s_addr;
  return true;
}

int PollOne(int handle, short events, int milliseconds, short* revents) {
  pollfd entry{handle, events, 0};
  int ready = ::poll(&entry, 1, milliseconds);
  *revents = ready > 0 ? entry.revents : 0;
  return ready;
}

}  // namespace

int StartNetwork() { return 0; }
int StopNetwork() { return 0; }

void SetAcceptFunction(AcceptFunction accept) { g_accept = accept; }

void SetHostResolver(HostResolver resolver) { g_resolver.store(resolver); }

int ConnectLocalPair(Connection* a, Connection* b) {
  if (!a || !b || a == b) return -1;
  a->Close();
  b->Close();
  int handles[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, handles) != 0) {
    core::Trace("NET: socketpair failed: %s\n", ErrorText(errno).c_str());
    return -1;
  }
  a->Adopt(handles[0]);
  b->Adopt(handles[1]);
  return 0;
}

// ---------------------------------------------------------------------------
// ListenSocket
// ---------------------------------------------------------------------------

ListenSocket::~ListenSocket() { Close(); }

void ListenSocket::Close() { CloseHandle(&handle_); }

int ListenSocket::Listen(int port, const std::string& address) {
  Close();
  if (port < 0 || port > 65535) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!address.empty()) {
    uint32_t chosen = 0;
    std::vector<uint32_t> found;
    if (ParseDotted(address, &chosen)) {
      local.sin_addr.s_addr = chosen;
    } else if (Resolve(address, &found) == 0) {  // start-up only: may wait
      local.sin_addr.s_addr = found.front();
    } else {
      return -1;
    }
  }
  handle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (handle_ == -1) return -1;
  // A restarted Server must be able to listen again while old connections
  // linger in TIME_WAIT.
  int one = 1;
  setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(handle_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(handle_, kListenBacklog) != 0) {
    Close();
    return -1;
  }
  return 0;
}

int ListenSocket::Port() const {
  if (handle_ == -1) return -1;
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (getsockname(handle_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return -1;
  return ntohs(local.sin_port);
}

int ListenSocket::PollIncoming() {
  if (handle_ == -1) return -1;
  short revents = 0;
  int ready = PollOne(handle_, POLLIN, 0, &revents);
  if (ready == 0 || (ready < 0 && NothingYet(errno))) return 1;
  if (ready > 0 && (revents & POLLNVAL)) {
    handle_ = -1;  // not ours any more; nothing to close
    return -1;
  }
  return 0;  // pending, or an error that Accept will report
}

int ListenSocket::Accept(Connection* connection) {
  int polled = PollIncoming();
  if (polled != 0) return polled;
  if (!connection) return -1;
  int accepted = (g_accept ? g_accept : SystemAccept)(handle_);
  if (accepted == -1) {
    // The peer may have given up between poll and accept.
    if (NothingYet(errno) || errno == ECONNABORTED || errno == EPROTO) return 1;
    return -1;
  }
  connection->Adopt(accepted);
  return 0;
}

// ---------------------------------------------------------------------------
// Connection
// ---------------------------------------------------------------------------

Connection::~Connection() { Close(); }

void Connection::Close() {
  CloseHandle(&handle_);
  state_ = State::kClosed;
  queue_.clear();
  queue_head_ = 0;
  // A running look-up finishes into a record nobody reads; it is kept so
  // the next connect waits for it instead of starting a second one.
  if (lookup_) previous_lookup_ = std::move(lookup_);
  addresses_.clear();
  next_address_ = 0;
}

void Connection::Fail(const std::string& reason) {
  Close();
  last_error_ = reason;
  core::Trace("NET: %s\n", reason.c_str());
}

void Connection::Adopt(int handle) {
  Close();
  handle_ = handle;
  // Short status messages must leave at once.
  int one = 1;
  setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  state_ = State::kOpen;
  ++generation_;
  last_error_.clear();
}

int Connection::StartConnect(const std::string& host, int port, double timeout_seconds) {
  Close();
  last_error_.clear();
  host_ = host;
  port_ = port;
  deadline_ = core::NowSeconds() + timeout_seconds;
  if (port <= 0 || port > 65535) {
    Fail(core::FormatString("invalid port %d", port));
    return -1;
  }
  if (host.empty()) {
    Fail("no host given");
    return -1;
  }
  uint32_t dotted = 0;
  if (ParseDotted(host, &dotted)) {
    addresses_.push_back(dotted);
    return BeginNextAddress() == -1 ? -1 : 0;
  }
  state_ = State::kResolving;
  // One look-up per connection at a time: one abandoned by an earlier
  // attempt must end first (PollConnect starts this one then).
  if (PreviousLookupRunning()) return 0;
  return LaunchLookup();
}

bool Connection::PreviousLookupRunning() {
  if (!previous_lookup_) return false;
  bool done;
  {
    std::lock_guard<std::mutex> hold(previous_lookup_->mutex);
    done = previous_lookup_->done;
  }
  if (done) previous_lookup_.reset();
  return !done;
}

int Connection::LaunchLookup() {
  std::shared_ptr<PendingLookup> lookup(new (std::nothrow) PendingLookup);
  const std::string host = host_;
  // The thread owns its share of the record; if this connection gives up
  // first, the record simply outlives it.
  if (!lookup || core::StartDetachedThread([lookup, host] {
        std::vector<uint32_t> found;
        int result = Resolve(host, &found);
        std::lock_guard<std::mutex> hold(lookup->mutex);
        lookup->result = result;
        lookup->addresses = std::move(found);
        lookup->done = true;
      }) != 0) {
    Fail(core::FormatString("cannot connect to %s:%d: cannot start the name look-up", host_.c_str(), port_));
    return -1;
  }
  lookup_ = std::move(lookup);
  return 0;
}

// Starts a non-blocking connect to the next address; on an immediate
// refusal moves on to the one after. 0 = under way or open, -1 = failed.
int Connection::BeginNextAddress() {
  int last_errno = ECONNREFUSED;
  while (next_address_ < addresses_.size()) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port_));
    remote.sin_addr.s_addr = addresses_[next_address_++];
    CloseHandle(&handle_);
    handle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle_ == -1) {
      Fail("cannot create a socket: " + ErrorText(errno));
      return -1;
    }
    // Nagle off here too: a preset recall sends twelve small messages at
    // once and each should leave without waiting for the previous ACK.
    int one = 1;
    setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(handle_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
      state_ = State::kOpen;
      ++generation_;
      addresses_.clear();
      return 0;
    }
    if (NothingYet(errno)) {
      state_ = State::kConnecting;
      return 0;
    }
    last_errno = errno;
  }
  Fail(core::FormatString("cannot connect to %s:%d: %s", host_.c_str(), port_,
                          ErrorText(last_errno).c_str()));
  return -1;
}

int Connection::PollConnect() {
  switch (state_) {
    case State::kOpen:
      return 0;
    case State::kClosed:
      return -1;
    case State::kResolving: {
      if (!lookup_) {
        if (PreviousLookupRunning()) {
          if (core::NowSeconds() < deadline_) return 1;
          Fail(core::FormatString("cannot connect to %s:%d: name look-up timed out", host_.c_str(), port_));
          return -1;
        }
        return LaunchLookup() == 0 ? 1 : -1;
      }
      bool done = false;
      int result = -1;
      {
        std::lock_guard<std::mutex> hold(lookup_->mutex);
        done = lookup_->done;
        if (done) {
          result = lookup_->result;
          addresses_ = lookup_->addresses;
        }
      }
      if (!done) {
        if (core::NowSeconds() >= deadline_) {
          Fail(core::FormatString("cannot connect to %s:%d: name look-up timed out", host_.c_str(),
                                  port_));
          return -1;
        }
        return 1;
      }
      lookup_.reset();
      if (result != 0 || addresses_.empty()) {
        Fail(core::FormatString("cannot connect to %s:%d: unknown host", host_.c_str(), port_));
        return -1;
      }
      next_address_ = 0;
      if (BeginNextAddress() == -1) return -1;
      return state_ == State::kOpen ? 0 : 1;
    }
    case State::kConnecting: {
      short revents = 0;
      int ready = PollOne(handle_, POLLOUT, 0, &revents);
      if (ready < 0 && !NothingYet(errno)) {
        Fail("poll failed: " + ErrorText(errno));
        return -1;
      }
      if (ready > 0) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(handle_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
        if (error == 0) {
          state_ = State::kOpen;
          ++generation_;
          addresses_.clear();
          return 0;
        }
        if (next_address_ < addresses_.size()) {
          if (BeginNextAddress() == -1) return -1;
          return state_ == State::kOpen ? 0 : 1;
        }
        Fail(core::FormatString("cannot connect to %s:%d: %s", host_.c_str(), port_,
                                ErrorText(error).c_str()));
        return -1;
      }
      if (core::NowSeconds() >= deadline_) {
        Fail(core::FormatString("cannot connect to %s:%d: timed out", host_.c_str(), port_));
        return -1;
      }
      return 1;
    }
  }
  return -1;
}

int Connection::ConnectAndWait(const std::string& host, int port, double timeout_seconds) {
  if (StartConnect(host, port, timeout_seconds) != 0) return -1;
  // Wall time as well, in case the program clock is an injected one.
  auto give_up = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(timeout_seconds));
  for (;;) {
    int result = PollConnect();
    if (result != 1) return result;
    if (std::chrono::steady_clock::now() >= give_up) {
      Fail(core::FormatString("cannot connect to %s:%d: timed out", host_.c_str(), port_));
      return -1;
    }
    if (state_ == State::kConnecting) {
      short revents = 0;
      PollOne(handle_, POLLOUT, 10, &revents);
    } else {
      timespec pause{0, 2 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
}

int Connection::Send(const void* data, size_t length) {
  if (state_ == State::kClosed) return -1;
  if (QueuedBytes() + length > kMaxOutgoingBytes) {
    Fail(core::FormatString("peer is not reading; %zu bytes queued, closing the connection",
                            QueuedBytes()));
    return -1;
  }
  if (queue_head_ > 0 && queue_head_ * 2 >= queue_.size()) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<ptrdiff_t>(queue_head_));
    queue_head_ = 0;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  queue_.insert(queue_.end(), bytes, bytes + length);
  if (state_ != State::kOpen) return 0;  // leaves once connected
  return Flush() == -1 ? -1 : 0;
}

int Connection::Flush() {
  if (state_ == State::kClosed) return -1;
  if (state_ != State::kOpen) return QueuedBytes() ? 1 : 0;
  while (queue_head_ < queue_.size()) {
    ssize_t sent = ::send(handle_, queue_.data() + queue_head_, queue_.size() - queue_head_,
                          MSG_NOSIGNAL);
    if (sent < 0) {
      if (NothingYet(errno)) return 1;
      Fail("send failed: " + ErrorText(errno));
      return -1;
    }
    queue_head_ += static_cast<size_t>(sent);
  }
  queue_.clear();
  queue_head_ = 0;
  return 0;
}

int Connection::Receive(void* buffer, size_t length, size_t* received) {
  if (state_ != State::kOpen) return -1;
  if (length == 0) return 1;
  ssize_t got = ::recv(handle_, buffer, length, 0);
  if (got > 0) {
    *received = static_cast<size_t>(got);
    return 0;
  }
  if (got == 0) {
    Fail("connection closed by peer");
    return -1;
  }
  if (NothingYet(errno)) return 1;
  Fail("receive failed: " + ErrorText(errno));
  return -1;
}

int Connection::BytesWaiting(size_t* count) {
  if (state_ != State::kOpen) return -1;
  int waiting = 0;
  if (ioctl(handle_, FIONREAD, &waiting) != 0) {
    Fail("FIONREAD failed: " + ErrorText(errno));
    return -1;
  }
  *count = static_cast<size_t>(waiting);
  return 0;
}

int Connection::Wait(int milliseconds) {
  if (state_ == State::kClosed) return -1;
  if (state_ == State::kResolving) {
    timespec pause{0, 2 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    return 0;
  }
  short events = state_ == State::kConnecting ? POLLOUT : POLLIN;
  if (state_ == State::kOpen && QueuedBytes() > 0) events |= POLLOUT;
  short revents = 0;
  int ready = PollOne(handle_, events, milliseconds, &revents);
  if (ready < 0) return NothingYet(errno) ? 1 : -1;
  return ready == 0 ? 1 : 0;
}

}  // namespace net

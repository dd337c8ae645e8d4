// OSC over UDP: our own non-blocking socket (so --bind can choose the
// address), liblo to decode each message. Bundles are unpacked here (liblo
// has no public bundle decoder); every element must fit its bundle exactly,
// nesting is limited, and one bad element rejects the whole datagram so a
// half-applied bundle never happens. liblo's C API throws nothing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <lo/lo.h>

#include "app/core/core.h"
#include "control/control.h"

namespace control {
namespace {

constexpr size_t kMaxDatagram = 65536;
constexpr int kMaxBundleDepth = 8;

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

bool DecodeMessage(const uint8_t* data, size_t size, OscMessage* out) {
  // The address: a NUL-terminated string starting with '/', padded to 4.
  const void* nul = std::memchr(data, 0, size);
  if (!nul || data[0] != '/') return false;
  std::vector<uint8_t> copy(data, data + size);  // liblo works on its own bytes
  int result = 0;
  lo_message message = lo_message_deserialise(copy.data(), copy.size(), &result);
  if (!message) return false;
  out->address.assign(reinterpret_cast<const char*>(data), static_cast<const uint8_t*>(nul) - data);
  out->arguments.clear();
  const char* types = lo_message_get_types(message);
  lo_arg** argv = lo_message_get_argv(message);
  const int argc = lo_message_get_argc(message);
  for (int i = 0; i < argc; ++i) {
    OscArgument argument;
    argument.type = types[i];
    // liblo's values sit on 4-byte boundaries while its lo_arg union wants
    // 8: copy the bytes out instead of reading through the union.
    const void* raw = argv[i];
    int32_t i32 = 0;
    int64_t i64 = 0;
    float f32 = 0.0f;
    double f64 = 0.0;
    switch (types[i]) {
      case 'i': std::memcpy(&i32, raw, 4); argument.i = i32; break;
      case 'h': std::memcpy(&i64, raw, 8); argument.type = 'i'; argument.i = i64; break;
      case 'T': argument.type = 'i'; argument.i = 1; break;
      case 'F': argument.type = 'i'; argument.i = 0; break;
      case 'f': std::memcpy(&f32, raw, 4); argument.f = f32; break;
      case 'd': std::memcpy(&f64, raw, 8); argument.type = 'f'; argument.f = f64; break;
      case 's':
      case 'S': argument.type = 's'; argument.s = static_cast<const char*>(raw); break;
      default: break;  // kept with its tag and no value
    }
    out->arguments.push_back(std::move(argument));
  }
  lo_message_free(message);
  return true;
}

bool DecodeElement(const uint8_t* data, size_t size, int depth, std::vector<OscMessage>* out) {
  if (size == 0 || size % 4 != 0) return false;
  static const char kBundle[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
  if (size >= 8 && std::memcmp(data, kBundle, 8) == 0) {
    if (depth >= kMaxBundleDepth || size < 16) return false;
    size_t at = 16;  // past the tag and the time tag
    while (at < size) {
      if (size - at < 4) return false;
      const uint32_t length = BigEndian32(data + at);
      at += 4;
      if (length > size - at) return false;
      if (!DecodeElement(data + at, length, depth + 1, out)) return false;
      at += length;
    }
    return true;
  }
  OscMessage message;
  if (!DecodeMessage(data, size, &message)) return false;
  out->push_back(std::move(message));
  return true;
}

class UdpOscReceiver final : public OscReceiver {
 public:
  UdpOscReceiver(int fd, int port) : fd_(fd), port_(port), buffer_(kMaxDatagram) {}
  ~UdpOscReceiver() override { close(fd_); }

  int Port() const override { return port_; }
  uint64_t MalformedPackets() const override { return malformed_; }

  void Poll(size_t max_packets, std::vector<OscMessage>* out) override {
    for (size_t n = 0; n < max_packets; ++n) {
      const ssize_t got = recv(fd_, buffer_.data(), buffer_.size(), MSG_TRUNC);
      if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
          core::Trace("OSC: receive failed: %s\n", std::strerror(errno));
        return;
      }
      // A datagram larger than the buffer arrives cut: never decode it.
      if (static_cast<size_t>(got) > buffer_.size()) {
        ++malformed_;
        continue;
      }
      std::vector<OscMessage> decoded;
      if (DecodeOscPacket(buffer_.data(), static_cast<size_t>(got), &decoded))
        out->insert(out->end(), std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.end()));
      else
        ++malformed_;
    }
  }

 private:
  int fd_;
  int port_;
  std::vector<uint8_t> buffer_;
  uint64_t malformed_ = 0;
};

}  // namespace

bool DecodeOscPacket(const uint8_t* data, size_t size, std::vector<OscMessage>* out) {
  std::vector<OscMessage> decoded;
  if (!data || !DecodeElement(data, size, 0, &decoded)) return false;
  out->insert(out->end(), std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.end()));
  return true;
}

std::unique_ptr<OscReceiver> OpenOscReceiver(int port, const std::string& bind_address, std::string* error) {
  if (port < 0 || port > 65535) {
    if (error) *error = core::FormatString("OSC port %d is not a UDP port", port);
    return nullptr;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!bind_address.empty() && inet_pton(AF_INET, bind_address.c_str(), &address.sin_addr) != 1) {
    if (error) *error = "OSC: '" + bind_address + "' is not an IPv4 address";
    return nullptr;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::string("OSC: no UDP socket: ") + std::strerror(errno);
    return nullptr;
  }
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (error)
      *error = core::FormatString("Cannot listen for OSC on UDP port %d: %s", port, std::strerror(errno));
    close(fd);
    return nullptr;
  }
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (error) *error = std::string("OSC: ") + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<UdpOscReceiver>(fd, ntohs(address.sin_port));
}

}  // namespace control

// OSC datagrams: decoding messages and bundles, refusing malformed bytes,
// and the UDP receiver on loopback (a datagram of 64 KiB included).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lo/lo.h>

#include "control/control.h"

namespace {

using Bytes = std::vector<uint8_t>;

// liblo's own encoder: an independent writer of the wire format.
Bytes Encode(const char* path, const std::function<void(lo_message)>& fill) {
  lo_message message = lo_message_new();
  fill(message);
  size_t size = 0;
  void* data = lo_message_serialise(message, path, nullptr, &size);
  Bytes bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  free(data);
  lo_message_free(message);
  return bytes;
}

void PutBigEndian(Bytes* bytes, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<uint8_t>(value >> shift));
}

Bytes Bundle(const std::vector<Bytes>& elements) {
  Bytes bytes = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
  for (const Bytes& element : elements) {
    PutBigEndian(&bytes, static_cast<uint32_t>(element.size()));
    bytes.insert(bytes.end(), element.begin(), element.end());
  }
  return bytes;
}

TEST(OscDecode, MessagesKeepAddressTypesAndValues) {
  Bytes bytes = Encode("/vj/deck/2/fader", [](lo_message m) {
    lo_message_add_float(m, 0.25f);
    lo_message_add_int32(m, -7);
    lo_message_add_string(m, "TUNNEL");
    lo_message_add_double(m, 1.5);
    lo_message_add_true(m);
    lo_message_add_int64(m, 1ll << 40);
    lo_message_add_nil(m);
  });
  std::vector<control::OscMessage> out;
  ASSERT_TRUE(control::DecodeOscPacket(bytes.data(), bytes.size(), &out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].address, "/vj/deck/2/fader");
  const auto& a = out[0].arguments;
  ASSERT_EQ(a.size(), 7u);
  EXPECT_EQ(a[0].type, 'f');
  EXPECT_EQ(a[0].f, 0.25);
  EXPECT_EQ(a[1].type, 'i');
  EXPECT_EQ(a[1].i, -7);
  EXPECT_EQ(a[2].type, 's');
  EXPECT_EQ(a[2].s, "TUNNEL");
  EXPECT_EQ(a[3].type, 'f');
  EXPECT_EQ(a[3].f, 1.5);
  EXPECT_EQ(a[4].type, 'i');
  EXPECT_EQ(a[4].i, 1);
  EXPECT_EQ(a[5].i, 1ll << 40);
  EXPECT_EQ(a[6].type, 'N');
  EXPECT_FALSE(a[6].IsNumber());
}

TEST(OscDecode, BundlesUnpackInOrderAndNest) {
  Bytes tap = Encode("/vj/tap", [](lo_message) {});
  Bytes off = Encode("/vj/beatoff", [](lo_message m) { lo_message_add_int32(m, 1); });
  Bytes bytes = Bundle({tap, Bundle({off, tap})});
  std::vector<control::OscMessage> out;
  ASSERT_TRUE(control::DecodeOscPacket(bytes.data(), bytes.size(), &out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].address, "/vj/tap");
  EXPECT_EQ(out[1].address, "/vj/beatoff");
  EXPECT_EQ(out[2].address, "/vj/tap");
}

TEST(OscDecode, MalformedDatagramsAreRefusedWhole) {
  Bytes good = Encode("/vj/deck/1/speed", [](lo_message m) { lo_message_add_float(m, 0.5f); });
  Bytes tap = Encode("/vj/tap", [](lo_message) {});
  auto cut = [](Bytes b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); };
  Bytes no_slash = good;
  no_slash[0] = 'v';
  Bytes bad_tag = good;
  bad_tag[20] = 'q';  // the type tag string after ",": an unknown type
  Bytes long_element = Bundle({tap});
  long_element[19] = 200;  // the element claims more bytes than there are
  Bytes deep = tap;
  for (int i = 0; i < 10; ++i) deep = Bundle({deep});
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"empty", {}},
      {"not a multiple of 4", cut(good, good.size() - 1)},
      {"arguments cut off", cut(good, good.size() - 4)},
      {"no leading slash", no_slash},
      {"unknown type tag", bad_tag},
      {"bundle element overflows", long_element},
      {"bundle header only", cut(Bundle({}), 12)},
      {"bundles nested too deep", deep},
      {"a good message and a bad one in a bundle", Bundle({tap, cut(good, 8)})},
  };
  for (const Case& c : cases) {
    std::vector<control::OscMessage> out;
    EXPECT_FALSE(control::DecodeOscPacket(c.bytes.data(), c.bytes.size(), &out)) << c.what;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

class UdpSender {
 public:
  explicit UdpSender(int port) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    to_.sin_family = AF_INET;
    to_.sin_port = htons(static_cast<uint16_t>(port));
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~UdpSender() { close(fd_); }
  bool Send(const Bytes& bytes) {
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_) ==
           static_cast<ssize_t>(bytes.size());
  }

 private:
  int fd_;
  sockaddr_in to_{};
};

TEST(OscReceiver, TakesDatagramsOnLoopbackAndCountsBadOnes) {
  std::string error;
  auto receiver = control::OpenOscReceiver(0, "127.0.0.1", &error);
  ASSERT_TRUE(receiver) << error;
  ASSERT_GT(receiver->Port(), 0);
  UdpSender sender(receiver->Port());
  ASSERT_TRUE(sender.Send(Encode("/vj/tap", [](lo_message) {})));
  ASSERT_TRUE(sender.Send(Bytes{1, 2, 3}));
  // The largest UDP datagram there is: 64 KiB of nonsense, and a well-formed
  // message with a 65,000-character string.
  ASSERT_TRUE(sender.Send(Bytes(65507, 0x41)));
  Bytes huge = Encode("/vj/recall", [](lo_message m) { lo_message_add_string(m, std::string(65000, 'Q').c_str()); });
  ASSERT_TRUE(sender.Send(huge));
  ASSERT_TRUE(sender.Send(Encode("/vj/beatoff", [](lo_message m) { lo_message_add_int32(m, 0); })));
  std::vector<control::OscMessage> out;
  // Loopback datagrams are there at once; a few polls give the kernel time.
  for (int i = 0; i < 200 && out.size() < 3; ++i) {
    receiver->Poll(2, &out);  // at most two datagrams per poll
    if (out.size() < 3) usleep(1000);
  }
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].address, "/vj/tap");
  EXPECT_EQ(out[1].arguments.at(0).s.size(), 65000u);
  EXPECT_EQ(out[2].address, "/vj/beatoff");
  EXPECT_EQ(receiver->MalformedPackets(), 2u);
}

TEST(OscReceiver, ABadBindAddressOrATakenPortIsAClearError) {
  std::string error;
  EXPECT_FALSE(control::OpenOscReceiver(0, "stage-pc", &error));
  EXPECT_NE(error.find("not an IPv4 address"), std::string::npos) << error;
  auto first = control::OpenOscReceiver(0, "127.0.0.1", &error);
  ASSERT_TRUE(first);
  EXPECT_FALSE(control::OpenOscReceiver(first->Port(), "127.0.0.1", &error));
  EXPECT_NE(error.find("Cannot listen for OSC on UDP port"), std::string::npos) << error;
}

}  // namespace

// Bytes from a peer into a Link, through a connected local pair: the first
// input byte sets how many bytes each send carries (0: all at once), so
// frames arrive whole, split and run together. Every message the Link
// yields must survive re-encoding; the link must never read past what
// arrived, hang, or buffer more than one frame and one read.
#include "fuzz/fuzz_support.h"
#include "fuzz/net_check.h"
#include "net/link.h"
#include "net/socket.h"

namespace {

// Takes every message the link has now. The guard only bounds a link that
// would yield forever (itself a fault).
void Drain(net::Link* link) {
  for (int guard = 0; guard < 1000000; ++guard) {
    if (net::WaitForTraffic(link, 0) != 0) return;
    auto message = net::ReceiveNetMessage(link);
    if (message) fuzz::CheckReencoding(*message, net::kMaxFrameLength);
    fuzz::Check(link->BufferedBytes() <= size_t{net::kMaxFrameLength} + 4 + 65536,
                "the link buffers more than one frame and one read");
  }
  fuzz::Fail("the link never ran dry");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  net::Connection peer, local;
  if (net::ConnectLocalPair(&peer, &local) != 0) fuzz::Fail("no local pair");
  net::Link link;
  net::AttachLink(&link, &local);
  const size_t step = data[0] ? data[0] : size;
  ++data;
  --size;
  for (size_t at = 0; at < size; at += step) {
    const size_t n = size - at < step ? size - at : step;
    if (peer.Send(data + at, n) != 0) break;
    while (peer.Flush() == 1) Drain(&link);
    Drain(&link);
  }
  peer.Close();  // the peer leaves: the link sees the end of the stream
  Drain(&link);
  fuzz::Check(!link.IsOpen(), "a closed peer left the link open");
  return 0;
}

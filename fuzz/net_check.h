// The property both network harnesses check on every decoded message:
// encoding it gives a frame that decodes again to a message whose own
// encoding is the same bytes (what crosses the wire is a fixed point after
// one pass: text padding, boolean spellings and trailing bytes, which the
// reader ignores, are the only freedom a peer has), no longer than the
// payload it came from.
#pragma once

#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "net/wire.h"

namespace fuzz {

inline void CheckReencoding(const net::NetMessage& message, size_t received_length) {
  net::ByteStream first;
  Check(net::EncodeFrame(message, &first) == 0, "a decoded message does not encode");
  Check(first.Length() - 4 <= received_length, "re-encoding is longer than the payload it came from");
  auto again = net::DecodePayload(first.Data() + 4, first.Length() - 4);
  Check(again != nullptr, "an encoded message does not decode");
  Check(again->Type() == message.Type(), "decoding changed the message type");
  net::ByteStream second;
  Check(net::EncodeFrame(*again, &second) == 0, "a decoded message does not encode the second time");
  Check(second.Length() == first.Length() && std::memcmp(second.Data(), first.Data(), first.Length()) == 0,
        "encode(decode(encode(m))) differs from encode(m)");
  Check(again->TraceText() == message.TraceText(), "the trace text changed through the wire");
}

}  // namespace fuzz

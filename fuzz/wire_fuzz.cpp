// One payload (type first) decoded on its own: a malformed payload must be
// refused, never half-read; a well-formed one survives re-encoding.
#include "fuzz/fuzz_support.h"
#include "fuzz/net_check.h"
#include "net/wire.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto message = net::DecodePayload(data, size);
  if (message) fuzz::CheckReencoding(*message, size);
  return 0;
}

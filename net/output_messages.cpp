// The venue output messages: master fader and blackout, preview requests
// and frames, recording control. Like the eleven, every read checks that
// the payload holds what its fields and counts say before taking them.
#include <cmath>
#include <cstring>

#include "app/core/core.h"
#include "net/wire.h"

namespace net {
namespace {

bool ReadType(ByteStream* stream, uint32_t expected) {
  uint32_t type = 0;
  return stream->ReadU32(&type) && type == expected;
}

// A u32 length, then that many bytes (a text's bytes end in its NUL).
bool ReadBlock(ByteStream* stream, uint32_t limit, std::vector<uint8_t>* bytes) {
  uint32_t length = 0;
  if (!stream->ReadU32(&length) || length > limit || length > stream->Remaining()) return false;
  bytes->assign(stream->Data() + stream->Position(), stream->Data() + stream->Position() + length);
  return stream->Seek(stream->Position() + length) == 0;
}

}  // namespace

// --- 15: master update ----------------------------------------------------------
int MasterUpdateMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteU32(mask) || stream->WriteF32(level) || stream->WriteBool(blackout)
             ? -1
             : 0;
}
int MasterUpdateMessage::Read(ByteStream* stream) {
  if (stream->Remaining() < 13 || !ReadType(stream, kType)) return -1;
  return stream->ReadU32(&mask) && stream->ReadF32(&level) && stream->ReadBool(&blackout) ? 0 : -1;
}
std::string MasterUpdateMessage::TraceText() const {
  return core::FormatString("CLIENT: master update (mask %u) level %.3f blackout %s\n", mask,
                            static_cast<double>(level), blackout ? "on" : "off");
}

// --- 16: master status ----------------------------------------------------------
int MasterStatusMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteF32(level) || stream->WriteBool(blackout) ? -1 : 0;
}
int MasterStatusMessage::Read(ByteStream* stream) {
  if (stream->Remaining() < 9 || !ReadType(stream, kType)) return -1;
  return stream->ReadF32(&level) && stream->ReadBool(&blackout) ? 0 : -1;
}
std::string MasterStatusMessage::TraceText() const {
  return core::FormatString("SERVER: master level %.3f blackout %s\n", static_cast<double>(level),
                            blackout ? "on" : "off");
}

// --- 17: preview request --------------------------------------------------------
int PreviewRequestMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteU32(rate) ? -1 : 0;
}
int PreviewRequestMessage::Read(ByteStream* stream) {
  if (stream->Remaining() < 8 || !ReadType(stream, kType)) return -1;
  return stream->ReadU32(&rate) ? 0 : -1;
}
std::string PreviewRequestMessage::TraceText() const {
  return core::FormatString("CLIENT: preview request, %u per second\n", rate);
}

// --- 18: preview frame ----------------------------------------------------------
int PreviewFrameMessage::Write(ByteStream* stream) const {
  if (jpeg.size() > kMaxPreviewBytes) return -1;
  if (stream->WriteU32(kType) || stream->WriteU32(width) || stream->WriteU32(height) ||
      stream->WriteU32(static_cast<uint32_t>(jpeg.size())))
    return -1;
  if (!jpeg.empty() && stream->Write(jpeg.data(), 1, jpeg.size()) != static_cast<int64_t>(jpeg.size())) return -1;
  return 0;
}
int PreviewFrameMessage::Read(ByteStream* stream) {
  jpeg.clear();
  if (!ReadType(stream, kType) || !stream->ReadU32(&width) || !stream->ReadU32(&height)) return -1;
  if (width == 0 || height == 0 || width > kMaxPreviewWidth || height > kMaxPreviewHeight) return -1;
  if (!ReadBlock(stream, kMaxPreviewBytes, &jpeg) || jpeg.empty()) return -1;
  return 0;
}
std::string PreviewFrameMessage::TraceText() const {
  return core::FormatString("SERVER: preview %ux%u, %zu bytes\n", width, height, jpeg.size());
}

// --- 19: record control ---------------------------------------------------------
int RecordControlMessage::Write(ByteStream* stream) const {
  const size_t length = strnlen(path.c_str(), kMaxRecordPath - 1);
  if (stream->WriteU32(kType) || stream->WriteBool(start) || stream->WriteU32(static_cast<uint32_t>(length + 1)) ||
      stream->Write(path.data(), 1, length) != static_cast<int64_t>(length) || stream->WriteU8(0))
    return -1;
  return 0;
}
int RecordControlMessage::Read(ByteStream* stream) {
  path.clear();
  std::vector<uint8_t> bytes;
  if (!ReadType(stream, kType) || !stream->ReadBool(&start) || !ReadBlock(stream, kMaxRecordPath, &bytes) ||
      bytes.empty())
    return -1;
  const char* text = reinterpret_cast<const char*>(bytes.data());
  path.assign(text, strnlen(text, bytes.size() - 1));  // the NUL is forced at L - 1
  return 0;
}
std::string RecordControlMessage::TraceText() const {
  return start ? core::FormatString("CLIENT: record into %s\n", path.c_str()) : "CLIENT: stop recording\n";
}

std::unique_ptr<NetMessage> MakeOutputMessage(uint32_t type) {
  switch (type) {
    case MSG_MASTER_UPDATE: return std::make_unique<MasterUpdateMessage>();
    case MSG_MASTER_STATUS: return std::make_unique<MasterStatusMessage>();
    case MSG_PREVIEW_REQUEST: return std::make_unique<PreviewRequestMessage>();
    case MSG_PREVIEW_FRAME: return std::make_unique<PreviewFrameMessage>();
    case MSG_RECORD_CONTROL: return std::make_unique<RecordControlMessage>();
    default: return nullptr;
  }
}

}  // namespace net

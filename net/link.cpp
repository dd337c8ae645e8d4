// Message link: frames over one connection.
//
// Incoming bytes collect in the link's own buffer across polls and a
// message is yielded only once its whole frame is there, so a frame larger
// than the kernel's socket buffer still arrives. Socket reads stop as soon
// as one whole frame is buffered, which bounds the buffer by one frame
// (at most kMaxFrameLength) plus one read.
#include <cstring>
#include <new>

#include "app/core/core.h"
#include "net/link.h"

namespace net {
namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kKeptCapacity = 256 * 1024;

uint32_t PeekLength(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

int EncodeFrame(const NetMessage& message, ByteStream* stream) {
  stream->Clear();
  // Length first as a placeholder, patched once the payload is known.
  if (stream->WriteU32(0) || message.Write(stream)) return -1;
  size_t payload = stream->Length() - 4;
  if (payload < 4 || payload > kMaxFrameLength) return -1;
  if (stream->Seek(0) || stream->WriteU32(static_cast<uint32_t>(payload))) return -1;
  return stream->Seek(stream->Length());
}

std::unique_ptr<NetMessage> DecodePayload(const uint8_t* payload, size_t length) {
  if (length < 4) return nullptr;
  uint32_t type = PeekLength(payload);
  std::unique_ptr<NetMessage> message = MakeNetMessage(type);
  if (!message) return nullptr;
  ByteStream stream;
  if (stream.Write(payload, 1, length) != static_cast<int64_t>(length) || stream.Seek(0) != 0)
    return nullptr;
  if (message->Read(&stream) != 0) return nullptr;
  return message;
}

void Link::ClearInbox() {
  inbox_head_ = inbox_tail_ = 0;
  // Give back the room a rare large frame needed.
  if (inbox_capacity_ > kKeptCapacity) {
    inbox_.reset();
    inbox_capacity_ = 0;
  }
}

void Link::Detach() {
  connection_ = nullptr;
  ClearInbox();
}

void Link::ForgetIfReconnected() {
  if (connection_ && connection_->Generation() != generation_) {
    generation_ = connection_->Generation();
    ClearInbox();
  }
}

bool Link::HasWholeFrame() const {
  size_t buffered = inbox_tail_ - inbox_head_;
  if (buffered < 4) return false;
  return buffered - 4 >= PeekLength(inbox_.get() + inbox_head_);
}

int Link::MakeRoom(size_t bytes) {
  if (inbox_capacity_ - inbox_tail_ >= bytes) return 0;
  size_t buffered = inbox_tail_ - inbox_head_;
  if (inbox_head_ > 0) {
    std::memmove(inbox_.get(), inbox_.get() + inbox_head_, buffered);
    inbox_head_ = 0;
    inbox_tail_ = buffered;
    if (inbox_capacity_ - inbox_tail_ >= bytes) return 0;
  }
  size_t capacity = inbox_capacity_ ? inbox_capacity_ : kReadChunk;
  while (capacity - buffered < bytes) capacity *= 2;
  std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[capacity]);
  if (!bigger) return -1;
  if (buffered) std::memcpy(bigger.get(), inbox_.get(), buffered);
  inbox_ = std::move(bigger);
  inbox_capacity_ = capacity;
  return 0;
}

int AttachLink(Link* link, Connection* connection) {
  if (!link || !connection) return -1;
  link->Detach();
  link->connection_ = connection;
  link->generation_ = connection->Generation();
  return 0;
}

int SendNetMessage(Link* link, const NetMessage& message) {
  if (!link || !link->connection_) return -1;
  link->ForgetIfReconnected();
  ByteStream stream;
  if (EncodeFrame(message, &stream) != 0) {
    core::Trace("NET: message of type %u could not be encoded\n", message.Type());
    return -1;
  }
  if (link->connection_->Send(stream.Data(), stream.Length()) != 0) return -1;
  if (core::TraceEnabled()) {
    core::Trace("Sent msg: \n");
    message.Trace();
  }
  return 0;
}

std::unique_ptr<NetMessage> ReceiveNetMessage(Link* link) {
  if (!link || !link->connection_) return nullptr;
  Connection* connection = link->connection_;
  link->ForgetIfReconnected();
  connection->Flush();  // the frame loop's chance to push queued bytes

  // Read until one whole frame is buffered or the socket has nothing more.
  while (!link->HasWholeFrame()) {
    size_t buffered = link->inbox_tail_ - link->inbox_head_;
    if (buffered >= 4) {
      uint32_t length = PeekLength(link->inbox_.get() + link->inbox_head_);
      if (length > kMaxFrameLength) {
        core::Trace("NET: frame of %u bytes exceeds the limit; closing the connection\n", length);
        connection->Close();
        link->ClearInbox();
        return nullptr;
      }
    }
    if (!connection->IsOpen()) return nullptr;
    if (link->MakeRoom(kReadChunk) != 0) {
      core::Trace("NET: out of memory for a frame; closing the connection\n");
      connection->Close();
      link->ClearInbox();
      return nullptr;
    }
    size_t received = 0;
    int result =
        connection->Receive(link->inbox_.get() + link->inbox_tail_, kReadChunk, &received);
    if (result == -1) {
      link->ClearInbox();
      return nullptr;
    }
    if (result == 1) return nullptr;  // a partial frame waits for the next poll
    link->inbox_tail_ += received;
  }

  const uint8_t* frame = link->inbox_.get() + link->inbox_head_;
  uint32_t length = PeekLength(frame);
  std::unique_ptr<NetMessage> message = DecodePayload(frame + 4, length);
  if (!message && core::TraceEnabled()) {
    uint32_t type = length >= 4 ? PeekLength(frame + 4) : 0;
    core::Trace("NET: dropped a frame of %u bytes (type %u)\n", length, type);
  }
  link->inbox_head_ += 4 + size_t{length};
  if (link->inbox_head_ == link->inbox_tail_) link->ClearInbox();
  if (message && core::TraceEnabled()) {
    core::Trace("Received msg: \n");
    message->Trace();
  }
  return message;
}

int WaitForTraffic(Link* link, int milliseconds) {
  if (!link || !link->connection_) return -1;
  link->ForgetIfReconnected();
  if (link->HasWholeFrame()) return 0;
  return link->connection_->Wait(milliseconds);
}

}  // namespace net

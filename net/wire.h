// What crosses the wire: the byte stream (little-endian fields, encoded
// one by one), the wire records (effect, deck, mixer), the eleven messages
// and their frames (u32 length + payload, the payload starting with the u32
// message type), and the handshake helpers.
//
// Typical use:
//     net::ByteStream stream;
//     net::EncodeFrame(net::ClientHandshakeMessage(), &stream);
//     auto message = net::DecodePayload(stream.Data() + 4, stream.Length() - 4);
//
// Not here: sockets (socket.h), frames over a connection (link.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// ---------------------------------------------------------------------------
// Protocol constants.
// ---------------------------------------------------------------------------
inline constexpr int kDefaultPort = 6969;
// Largest payload accepted from a peer. A state message with a thousand
// effects is about 70 KiB; anything beyond this is a broken or hostile peer
// and closes the connection.
inline constexpr uint32_t kMaxFrameLength = 4u << 20;
inline constexpr uint8_t kProtocolMajor = 0;
inline constexpr uint8_t kProtocolMinor = 1;

inline constexpr int kDeckCount = 6;

// Deck record change mask bits.
inline constexpr uint32_t kMaskFader = 1;
inline constexpr uint32_t kMaskMixer = 2;
inline constexpr uint32_t kMaskBeatSettings = 4;  // only with deck -1
inline constexpr uint32_t kMaskSpeed = 8;
inline constexpr uint32_t kMaskBeatMode = 16;
// What a Server's reply to an update carries.
inline constexpr uint32_t kMaskServerReply = kMaskFader | kMaskMixer | kMaskSpeed | kMaskBeatMode;

// Beat modes of a deck.
inline constexpr int32_t kBeatFree = 0;
inline constexpr int32_t kBeatStartOnBeat = 1;
inline constexpr int32_t kBeatEndOnBeat = 2;

// Mixer number of the NULL mixer (drawn directly; not in the mixer list).
inline constexpr int32_t kNullMixer = -1;

// ---------------------------------------------------------------------------
// Byte stream: a growable memory buffer with one position for reading and
// writing. Starts with a capacity of 1024 bytes and doubles as needed.
// ---------------------------------------------------------------------------
class ByteStream {
 public:
  ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // Writes `count` items of `size` bytes at the position. Returns count, or
  // -1 when memory runs out (nothing is written then).
  int64_t Write(const void* data, size_t size, size_t count);
  // Copies as many whole items as remain after the position (at most
  // `count`); returns their number.
  size_t Read(void* data, size_t size, size_t count);
  // Moves the position within the written length. 0 or -1.
  int Seek(size_t position);
  // Grows the capacity to at least `capacity` bytes. 0 or -1.
  int Reserve(size_t capacity);
  void Clear() { length_ = position_ = 0; }

  size_t Length() const { return length_; }
  size_t Position() const { return position_; }
  size_t Remaining() const { return length_ - position_; }
  size_t Capacity() const { return capacity_; }
  const uint8_t* Data() const { return data_.get(); }

  // Little-endian fields. Writes return 0 or -1; reads return false when
  // too few bytes remain (the position is then unchanged).
  int WriteU8(uint8_t value);
  int WriteU32(uint32_t value);
  int WriteI32(int32_t value);
  int WriteF32(float value);
  int WriteBool(bool value) { return WriteU8(value ? 1 : 0); }
  // A char[block] field: the text up to its NUL (cut to block - 1 bytes),
  // then zeros to the end of the block.
  int WriteText(const char* text, size_t block);
  bool ReadU8(uint8_t* value);
  bool ReadU32(uint32_t* value);
  bool ReadI32(int32_t* value);
  bool ReadF32(float* value);
  bool ReadBool(bool* value);
  // Reads a char[block] field into `text` (block bytes); the last byte is
  // forced to NUL whatever the peer sent.
  bool ReadText(char* text, size_t block);

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t capacity_ = 0;
  size_t length_ = 0;
  size_t position_ = 0;
};

// ---------------------------------------------------------------------------
// Wire records. Plain structs, encoded field by field (never as memory).
// ---------------------------------------------------------------------------

// One entry of the Server's effect catalogue.
struct EffectRecord {
  int32_t id = -1;
  char name[64] = {};  // upper-case folder name, NUL-terminated
  bool loaded = false;
};
inline constexpr size_t kEffectRecordSize = 69;

// The state of one deck, or (deck -1) the beat-detector settings. Also the
// record a preset binding holds.
struct DeckRecord {
  uint32_t reserved = 0;       // sender's own value; ignored on receipt
  int32_t deck = -1;           // 0-5, or -1 for beat settings only
  uint32_t change_mask = 0;    // kMask* bits
  float fader = 1.0f;          // 0-1
  char effect_name[64] = {};   // empty when none
  int32_t mixer = kNullMixer;  // index into the mixer list, -1 = NULL mixer
  int32_t effect_id = -1;      // -1 = none
  uint32_t low_bin = 0;        // beat detector, deck -1 only
  uint32_t high_bin = 0;
  float threshold = 0.0f;
  int32_t beat_mode = kBeatFree;
  float speed = 0.75f;         // clock rate (speed - 0.5) * 4
};
inline constexpr size_t kDeckRecordSize = 108;

// A deck in its default state (no effect, fader 1, NULL mixer, FREE, 0.75).
DeckRecord DefaultDeckRecord(int32_t deck);

struct MixerRecord {
  int32_t index = -1;
  char name[32] = {};
};
inline constexpr size_t kMixerRecordSize = 36;

int WriteEffectRecord(ByteStream* stream, const EffectRecord& record);
bool ReadEffectRecord(ByteStream* stream, EffectRecord* record);
int WriteDeckRecord(ByteStream* stream, const DeckRecord& record);
bool ReadDeckRecord(ByteStream* stream, DeckRecord* record);
int WriteMixerRecord(ByteStream* stream, const MixerRecord& record);
bool ReadMixerRecord(ByteStream* stream, MixerRecord* record);

// Copies `text` into a char[N] field, cut to N - 1 bytes, zero-filled.
void SetRecordText(char* field, size_t size, std::string_view text);
template <size_t N>
void SetRecordText(char (&field)[N], std::string_view text) {
  SetRecordText(field, N, text);
}
// The text of a char[N] field (up to its NUL, at most N bytes).
std::string_view RecordText(const char* field, size_t size);
template <size_t N>
std::string_view RecordText(const char (&field)[N]) {
  return RecordText(field, N);
}

// ---------------------------------------------------------------------------
// Messages.
// ---------------------------------------------------------------------------
enum MessageType : uint32_t {
  MSG_CLIENT_HANDSHAKE = 1,
  MSG_SERVER_HANDSHAKE = 2,
  MSG_LIST_EFFECTS = 3,
  MSG_STATE = 4,
  MSG_LOAD_EFFECT = 5,
  MSG_LOG_EVENT = 6,
  MSG_EFFECT_STATUS = 7,
  MSG_SET_DECK_EFFECT = 8,
  MSG_DECK_STATUS = 9,
  MSG_DECK_UPDATE = 10,
  MSG_PLAYER_STATUS = 11,
  // Tempo (after the eleven; a peer that does not know them drops them).
  MSG_TAP = 12,
  MSG_BEAT_DISABLE = 13,
  MSG_TEMPO_STATUS = 14,
};
inline constexpr uint32_t kFirstMessageType = MSG_CLIENT_HANDSHAKE;
inline constexpr uint32_t kLastMessageType = MSG_TEMPO_STATUS;

class NetMessage {
 public:
  virtual ~NetMessage() = default;
  virtual uint32_t Type() const = 0;
  // Writes the u32 type, then the fields in order. 0 or -1.
  virtual int Write(ByteStream* stream) const = 0;
  // Reads the type and the fields from the stream's position. -1 when the
  // payload is too short, a count does not fit it, or the type differs.
  virtual int Read(ByteStream* stream) = 0;
  // The diagnostic text of the message.
  virtual std::string TraceText() const = 0;
  // Hands TraceText() to the trace.
  void Trace() const;
};

// `message` as a T when its type is T's, else nullptr.
template <class T>
T* MessageAs(NetMessage* message) {
  return message && message->Type() == T::kType ? static_cast<T*>(message) : nullptr;
}
template <class T>
const T* MessageAs(const NetMessage* message) {
  return message && message->Type() == T::kType ? static_cast<const T*>(message) : nullptr;
}

struct ClientHandshakeMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_CLIENT_HANDSHAKE;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
};

struct ServerHandshakeMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_SERVER_HANDSHAKE;
  ServerHandshakeMessage() = default;
  ServerHandshakeMessage(uint8_t major_version, uint8_t minor_version)
      : major(major_version), minor(minor_version) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  uint8_t major = kProtocolMajor;
  uint8_t minor = kProtocolMinor;
};

struct ListEffectsMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_LIST_EFFECTS;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
};

struct StateMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_STATE;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  std::vector<EffectRecord> effects;
  std::vector<DeckRecord> decks;
  std::vector<MixerRecord> mixers;  // the Server's list; the NULL mixer is not in it
  uint32_t low_bin = 0;
  uint32_t high_bin = 0;
  float threshold = 0.0f;
};

struct LoadEffectMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_LOAD_EFFECT;
  LoadEffectMessage() = default;
  LoadEffectMessage(int32_t id, bool load_it) : effect_id(id), load(load_it) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  int32_t effect_id = -1;
  bool load = true;  // false = unload
};

struct LogEventMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_LOG_EVENT;
  LogEventMessage() = default;
  explicit LogEventMessage(std::string message_text) : text(std::move(message_text)) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  std::string text;  // sent up to its first NUL; at most 1023 bytes sent
};
inline constexpr size_t kMaxLogText = 1023;

struct EffectStatusMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_EFFECT_STATUS;
  EffectStatusMessage() = default;
  explicit EffectStatusMessage(const EffectRecord& record) : effect(record) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  EffectRecord effect;
};

struct SetDeckEffectMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_SET_DECK_EFFECT;
  SetDeckEffectMessage() = default;
  SetDeckEffectMessage(int32_t id, int32_t deck_number) : effect_id(id), deck(deck_number) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  int32_t effect_id = -1;  // -1 = take the effect off
  int32_t deck = 0;
};

struct DeckStatusMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_DECK_STATUS;
  DeckStatusMessage() = default;
  explicit DeckStatusMessage(const DeckRecord& deck_record) : record(deck_record) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  DeckRecord record;
};

struct DeckUpdateMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_DECK_UPDATE;
  DeckUpdateMessage() = default;
  explicit DeckUpdateMessage(const DeckRecord& deck_record) : record(deck_record) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  DeckRecord record;
};

struct PlayerStatusMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_PLAYER_STATUS;
  PlayerStatusMessage() = default;
  explicit PlayerStatusMessage(int32_t fps) : frames_per_second(fps) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  int32_t frames_per_second = 0;
};

// --- tempo ---------------------------------------------------------------
// C->S: tap the tempo. The Server taps when it receives it.
struct TapMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_TAP;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
};

// C->S: beat off / on (a toggle, as the Backspace key).
struct BeatDisableMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_BEAT_DISABLE;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
};

// Where the Server's tempo comes from.
inline constexpr uint8_t kTempoSourceTap = 0;
inline constexpr uint8_t kTempoSourceMidiClock = 1;

// S->C: the Server's tempo, on every change and about once a second.
struct TempoStatusMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_TEMPO_STATUS;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  uint32_t period_ms = 0;       // 0 = no tempo yet
  uint32_t since_beat_ms = 0;   // from the tempo's last beat to the sending
  bool beat_disabled = false;
  uint8_t source = kTempoSourceTap;
};
inline constexpr size_t kTempoStatusPayloadLength = 14;

// ---------------------------------------------------------------------------
// Venue output messages (15-19): the master fader and blackout, the preview
// of the output, and recording. They follow the eleven (and the control
// messages 12-14); a peer that does not know them drops them as unknown
// types, so the protocol version stays 0.1.
// ---------------------------------------------------------------------------
enum OutputMessageType : uint32_t {
  MSG_MASTER_UPDATE = 15,   // C->S  u32 mask, f32 level, u8 blackout
  MSG_MASTER_STATUS = 16,   // S->C  f32 level, u8 blackout
  MSG_PREVIEW_REQUEST = 17, // C->S  u32 frames per second (0 = off)
  MSG_PREVIEW_FRAME = 18,   // S->C  u32 width, u32 height, u32 length L, L bytes of JPEG
  MSG_RECORD_CONTROL = 19,  // C->S  u8 start, u32 length L, L bytes of path (NUL included)
};
inline constexpr uint32_t kFirstOutputMessageType = MSG_MASTER_UPDATE;
inline constexpr uint32_t kLastOutputMessageType = MSG_RECORD_CONTROL;
// MasterUpdateMessage::mask bits.
inline constexpr uint32_t kMasterLevel = 1;
inline constexpr uint32_t kMasterBlackout = 2;
// Previews come at most this often, at most this large.
inline constexpr uint32_t kMaxPreviewRate = 10;
inline constexpr uint32_t kMaxPreviewWidth = 320;
inline constexpr uint32_t kMaxPreviewHeight = 240;
inline constexpr uint32_t kMaxPreviewBytes = 512u << 10;
inline constexpr uint32_t kMaxRecordPath = 4096;  // NUL included

struct MasterUpdateMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_MASTER_UPDATE;
  MasterUpdateMessage() = default;
  MasterUpdateMessage(uint32_t change_mask, float master_level, bool black)
      : mask(change_mask), level(master_level), blackout(black) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  uint32_t mask = 0;  // kMaster* bits: which fields apply
  float level = 1.0f;
  bool blackout = false;
};

struct MasterStatusMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_MASTER_STATUS;
  MasterStatusMessage() = default;
  MasterStatusMessage(float master_level, bool black) : level(master_level), blackout(black) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  float level = 1.0f;
  bool blackout = false;
};

struct PreviewRequestMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_PREVIEW_REQUEST;
  PreviewRequestMessage() = default;
  explicit PreviewRequestMessage(uint32_t frames_per_second) : rate(frames_per_second) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  uint32_t rate = 0;  // previews per second; 0 = none; the Server caps it
};

struct PreviewFrameMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_PREVIEW_FRAME;
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  // Fails for an empty picture, a size over the preview limits or more
  // than kMaxPreviewBytes of JPEG.
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> jpeg;
};

struct RecordControlMessage final : NetMessage {
  static constexpr uint32_t kType = MSG_RECORD_CONTROL;
  RecordControlMessage() = default;
  RecordControlMessage(bool start_it, std::string file) : start(start_it), path(std::move(file)) {}
  uint32_t Type() const override { return kType; }
  int Write(ByteStream* stream) const override;
  int Read(ByteStream* stream) override;
  std::string TraceText() const override;
  bool start = false;  // false = stop
  std::string path;    // the file to record into (start only)
};

// An empty output message of `type`, or nullptr outside 15-19.
std::unique_ptr<NetMessage> MakeOutputMessage(uint32_t type);

// An empty message of `type`, or nullptr for a type outside 1-19.
std::unique_ptr<NetMessage> MakeNetMessage(uint32_t type);

// Payload length of a message: fixed per type, computed for the state and
// the log event.
size_t StatePayloadLength(size_t effects, size_t decks, size_t mixers);

// Writes the frame (u32 length, then the payload) of `message` into `stream`
// from its start. 0, or -1 when it cannot be written or is longer than
// kMaxFrameLength.
int EncodeFrame(const NetMessage& message, ByteStream* stream);
// Decodes one payload (type first). nullptr for an unknown type or a
// malformed payload.
std::unique_ptr<NetMessage> DecodePayload(const uint8_t* payload, size_t length);

// ---------------------------------------------------------------------------
// Handshake helpers.
// ---------------------------------------------------------------------------
// The Client accepts exactly 0.1.
bool IsSupportedServerVersion(const ServerHandshakeMessage& handshake);
// The error text for a Server of another version (its bytes read as signed).
std::string VersionMismatchText(const ServerHandshakeMessage& handshake);

}  // namespace net

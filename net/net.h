// Network link: polled TCP endpoints and the framed message protocol that
// the Server and the Client (and vjctl) speak.
//
//   endpoints  ListenSocket and Connection. Every call returns at once:
//              0 = done, 1 = nothing yet, -1 = failed. A connection that
//              fails in any way closes itself, so owners notice a lost peer
//              by IsOpen() turning false.
//   sending    Connection::Send queues the bytes and pushes what the kernel
//              takes; the rest leaves on later polls. A queue that grows past
//              kMaxOutgoingBytes (a peer that stopped reading) closes the
//              connection instead of ever blocking the frame loop.
//   connecting StartConnect looks the name up on a worker thread and connects
//              without blocking; PollConnect is called once per tick until it
//              answers 0 (open) or -1 (failed, LastError() says why).
//   protocol   frames of u32 length + payload; the payload starts with the
//              u32 message type. Every field is little-endian and encoded one
//              by one. Frames are assembled in the Link's own buffer across
//              polls, so a frame of any allowed size arrives whatever the
//              socket buffers are.
//
// Typical use (Server tick):
//     if (listener.PollIncoming() == 0) {
//       client.Close();
//       if (listener.Accept(&client) == 0) net::AttachLink(&link, &client);
//     }
//     while (auto message = net::ReceiveNetMessage(&link)) { ...handle... }
//     if (!client.IsOpen()) { ...drop the client... }
//
// Typical use (Client panel):
//     connection.StartConnect(host, net::kDefaultPort);      // on "Connect"
//     switch (connection.PollConnect()) {                     // every tick
//       case 0: net::AttachLink(&link, &connection);
//               net::SendNetMessage(&link, net::ClientHandshakeMessage()); break;
//       case 1: break;                                        // still going
//       case -1: ...show connection.LastError()...
//     }
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// ---------------------------------------------------------------------------
// Limits and constants.
// ---------------------------------------------------------------------------
inline constexpr int kDefaultPort = 6969;
inline constexpr int kListenBacklog = 5;
// Largest payload accepted from a peer. A state message with a thousand
// effects is about 70 KiB; anything beyond this is a broken or hostile peer
// and closes the connection.
inline constexpr uint32_t kMaxFrameLength = 4u << 20;
// Bytes a connection may hold for a peer that does not read. Two largest
// frames fit; past this the connection is closed.
inline constexpr size_t kMaxOutgoingBytes = 2 * (size_t{kMaxFrameLength} + 4);
// How long a connect (look-up included) may take before it counts as failed.
inline constexpr double kConnectTimeoutSeconds = 5.0;

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
  // Closes the socket, drops queued bytes and abandons a running look-up.
  void Close();

 private:
  friend class ListenSocket;
  void Adopt(int handle);                 // an accepted socket
  void Fail(const std::string& reason);   // close and remember why
  int BeginNextAddress();                 // connect to addresses_[next_address_]

  int handle_ = -1;
  State state_ = State::kClosed;
  uint64_t generation_ = 0;
  std::string last_error_;
  std::vector<uint8_t> queue_;
  size_t queue_head_ = 0;
  // Connect in progress.
  std::shared_ptr<PendingLookup> lookup_;
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
};
inline constexpr uint32_t kFirstMessageType = MSG_CLIENT_HANDSHAKE;
inline constexpr uint32_t kLastMessageType = MSG_PLAYER_STATUS;

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

// An empty message of `type`, or nullptr for a type outside 1-11.
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
// Message link: frames over one connection.
// ---------------------------------------------------------------------------
class Link {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Connection* connection() const { return connection_; }
  bool IsOpen() const { return connection_ && connection_->IsOpen(); }
  // Bytes received but not yet yielded as a message.
  size_t BufferedBytes() const { return inbox_tail_ - inbox_head_; }
  void Detach();

 private:
  friend int AttachLink(Link*, Connection*);
  friend int SendNetMessage(Link*, const NetMessage&);
  friend std::unique_ptr<NetMessage> ReceiveNetMessage(Link*);
  friend int WaitForTraffic(Link*, int);
  bool HasWholeFrame() const;
  void ForgetIfReconnected();
  void ClearInbox();
  // Makes room for `bytes` more after the buffered ones. 0 or -1.
  int MakeRoom(size_t bytes);

  Connection* connection_ = nullptr;
  uint64_t generation_ = 0;
  // Received bytes live in [inbox_head_, inbox_tail_) of inbox_.
  std::unique_ptr<uint8_t[]> inbox_;
  size_t inbox_capacity_ = 0;
  size_t inbox_head_ = 0;
  size_t inbox_tail_ = 0;
};

// Binds `link` to `connection` (which must outlive the binding) and forgets
// anything buffered from an earlier connection. 0, or -1 when either is null.
int AttachLink(Link* link, Connection* connection);
// Queues the frame of `message` and pushes it. 0, or -1 when the message
// cannot be encoded or the connection is closed or overflows (it then
// closes). Traces "Sent msg: " and the message on success.
int SendNetMessage(Link* link, const NetMessage& message);
// The next complete message, or nullptr. Never waits. Also pushes queued
// outgoing bytes. A frame still arriving stays buffered; a frame of an
// unknown type or with a malformed payload is consumed and dropped (nullptr
// is returned for it; the next call goes on); a frame longer than
// kMaxFrameLength closes the connection.
std::unique_ptr<NetMessage> ReceiveNetMessage(Link* link);
// For command-line tools and tests only: waits up to `milliseconds` until a
// complete frame is buffered or the connection has something to do. Returns
// as Connection::Wait.
int WaitForTraffic(Link* link, int milliseconds);

// ---------------------------------------------------------------------------
// Preset banks and preset files (.HVR). A bank holds 10 pages x 26 letters
// of bindings; a binding holds one deck record per deck (effect by name,
// fader, mixer, beat mode, speed). Used by the Client's panels and by the
// Server's recall at start-up.
// ---------------------------------------------------------------------------
inline constexpr int kPresetPages = 10;
inline constexpr int kPresetLetters = 26;
// Longest effect name a preset file may hold (a char[64] field).
inline constexpr size_t kMaxPresetEffectName = 63;

struct Binding {
  DeckRecord decks[kDeckCount];
};
struct PresetBank {
  Binding bindings[kPresetPages][kPresetLetters];  // [page][letter A-Z]
};

// Every binding back to its defaults: deck number = its place, no effect,
// fader 1.0, NULL mixer, FREE, speed 0.75, everything else zero.
void ResetPresetBank(PresetBank* bank);
// A reset bank on the heap (a bank is about 170 KiB).
std::unique_ptr<PresetBank> NewPresetBank();

// Writes the whole bank as tag text (260 BINDs, page-major) through the tag
// writer into a temporary file beside `path`, then renames it over `path`.
// 0, or -1 with the file at `path` as it was.
int SavePresetFile(const char* path, const PresetBank& bank);

struct PresetReport {
  int binds_read = 0;
  int binds_skipped = 0;  // malformed BINDs left out
};
// Reads a preset file through the file layer. -1 when it cannot be read or
// does not parse: the bank is untouched. Otherwise the bank is reset, then
// every well-formed BIND fills its binding (a file without BINDS leaves it
// reset), and the result is 0. Missing AUTOBEAT reads as FREE, missing
// SPEED as 1.0, missing PAGE as page 0.
int LoadPresetFile(const char* path, PresetBank* bank, PresetReport* report = nullptr);
// The same from text in memory.
int ParsePresetText(const char* text, PresetBank* bank, PresetReport* report = nullptr);

// The page a main-row digit key chooses: '1'..'9' are pages 0-8, '0' is 9;
// -1 for anything else.
int PageOfKey(char key);
// A binding named as on the keyboard: "Q" (page of the "1" key) or a digit
// then a letter, "3Q" (page of the "3" key). Letters in either case.
// 0, or -1 when malformed.
int ParseBindingKey(std::string_view text, int* page, int* letter);

// What recalling a binding sends, in order: for each deck place i whose
// record names an effect, per loaded effect of exactly that name: put it on
// deck i, then update the deck the record names with its fader, mixer,
// speed and beat mode (mask 27). With `unload_empty`, a place without a
// name takes deck i's effect off and applies its record the same way.
// Other places are left alone.
struct RecallStep {
  int32_t effect_id = -1;  // MSG_SET_DECK_EFFECT
  int32_t deck = 0;
  DeckRecord update;       // MSG_DECK_UPDATE
};
std::vector<RecallStep> PlanRecall(const Binding& binding, const std::vector<EffectRecord>& effects,
                                   bool unload_empty);

// ---------------------------------------------------------------------------
// Handshake helpers.
// ---------------------------------------------------------------------------
// The Client accepts exactly 0.1.
bool IsSupportedServerVersion(const ServerHandshakeMessage& handshake);
// The error text for a Server of another version (its bytes read as signed).
std::string VersionMismatchText(const ServerHandshakeMessage& handshake);

}  // namespace net

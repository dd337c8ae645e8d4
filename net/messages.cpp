// The protocol messages: their fields, encodings and trace texts.
//
// Reading never trusts the peer: a payload shorter than its message, or
// whose counts do not fit the bytes that are there, fails the read and the
// frame is dropped; every received text is forced to end in a NUL.
#include <cstring>

#include "app/core/core.h"
#include "net/wire.h"

namespace net {
namespace {

// Reads the type word and checks it is `expected`.
bool ReadType(ByteStream* stream, uint32_t expected) {
  uint32_t type = 0;
  return stream->ReadU32(&type) && type == expected;
}

// Fixed-size messages: the whole payload must be there before any field is
// taken, so a short frame never leaves fields half-filled.
bool HasFixedPayload(const ByteStream* stream, size_t payload_length) {
  return stream->Remaining() >= payload_length;
}

constexpr size_t kHandshakeLength = 4;
constexpr size_t kServerHandshakeLength = 6;
constexpr size_t kListEffectsLength = 4;
constexpr size_t kLoadEffectLength = 9;
constexpr size_t kEffectStatusLength = 4 + kEffectRecordSize;
constexpr size_t kSetDeckEffectLength = 12;
constexpr size_t kDeckMessageLength = 4 + kDeckRecordSize;
constexpr size_t kPlayerStatusLength = 8;
constexpr size_t kTypeOnlyLength = 4;

}  // namespace

void NetMessage::Trace() const {
  if (!core::TraceEnabled()) return;
  core::Trace("%s", TraceText().c_str());
}

size_t StatePayloadLength(size_t effects, size_t decks, size_t mixers) {
  return 4 + 4 + kEffectRecordSize * effects + 4 + kDeckRecordSize * decks + 4 +
         kMixerRecordSize * mixers + 12;
}

// --- 1: client handshake -----------------------------------------------------
int ClientHandshakeMessage::Write(ByteStream* stream) const { return stream->WriteU32(kType); }
int ClientHandshakeMessage::Read(ByteStream* stream) {
  return HasFixedPayload(stream, kHandshakeLength) && ReadType(stream, kType) ? 0 : -1;
}
std::string ClientHandshakeMessage::TraceText() const { return "CLIENT: Handshake\n"; }

// --- 2: server handshake -----------------------------------------------------
int ServerHandshakeMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteU8(major) || stream->WriteU8(minor) ? -1 : 0;
}
int ServerHandshakeMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kServerHandshakeLength) || !ReadType(stream, kType)) return -1;
  return stream->ReadU8(&major) && stream->ReadU8(&minor) ? 0 : -1;
}
std::string ServerHandshakeMessage::TraceText() const {
  return core::FormatString("SERVER: Handshake. Version: %i.%i\n", major, minor);
}

// --- 3: list effects ---------------------------------------------------------
int ListEffectsMessage::Write(ByteStream* stream) const { return stream->WriteU32(kType); }
int ListEffectsMessage::Read(ByteStream* stream) {
  return HasFixedPayload(stream, kListEffectsLength) && ReadType(stream, kType) ? 0 : -1;
}
std::string ListEffectsMessage::TraceText() const { return "CLIENT: List Effects\n"; }

// --- 4: state -----------------------------------------------------------------
int StateMessage::Write(ByteStream* stream) const {
  if (effects.size() > UINT32_MAX || decks.size() > UINT32_MAX || mixers.size() > UINT32_MAX)
    return -1;
  if (stream->Reserve(stream->Position() +
                      StatePayloadLength(effects.size(), decks.size(), mixers.size())) != 0)
    return -1;
  if (stream->WriteU32(kType) || stream->WriteU32(static_cast<uint32_t>(effects.size())))
    return -1;
  for (const EffectRecord& effect : effects)
    if (WriteEffectRecord(stream, effect)) return -1;
  if (stream->WriteU32(static_cast<uint32_t>(decks.size()))) return -1;
  for (const DeckRecord& deck : decks)
    if (WriteDeckRecord(stream, deck)) return -1;
  if (stream->WriteU32(static_cast<uint32_t>(mixers.size()))) return -1;
  for (const MixerRecord& mixer : mixers)
    if (WriteMixerRecord(stream, mixer)) return -1;
  return stream->WriteU32(low_bin) || stream->WriteU32(high_bin) || stream->WriteF32(threshold)
             ? -1
             : 0;
}

int StateMessage::Read(ByteStream* stream) {
  effects.clear();
  decks.clear();
  mixers.clear();
  if (!ReadType(stream, kType)) return -1;
  // Each count must fit in what is left, with room for the rest of the
  // message, before anything is allocated for it.
  uint32_t count = 0;
  if (!stream->ReadU32(&count) ||
      uint64_t{count} * kEffectRecordSize + 4 + 4 + 12 > stream->Remaining())
    return -1;
  effects.resize(count);
  for (EffectRecord& effect : effects)
    if (!ReadEffectRecord(stream, &effect)) return -1;
  if (!stream->ReadU32(&count) || uint64_t{count} * kDeckRecordSize + 4 + 12 > stream->Remaining())
    return -1;
  decks.resize(count);
  for (DeckRecord& deck : decks)
    if (!ReadDeckRecord(stream, &deck)) return -1;
  if (!stream->ReadU32(&count) || uint64_t{count} * kMixerRecordSize + 12 > stream->Remaining())
    return -1;
  mixers.resize(count);
  for (MixerRecord& mixer : mixers)
    if (!ReadMixerRecord(stream, &mixer)) return -1;
  // The counts must account for the whole payload: bytes left over mean the
  // counts and the records disagree.
  return stream->ReadU32(&low_bin) && stream->ReadU32(&high_bin) &&
                 stream->ReadF32(&threshold) && stream->Remaining() == 0
             ? 0
             : -1;
}

std::string StateMessage::TraceText() const {
  std::string text = "SERVER: List Effects\n";
  for (const EffectRecord& effect : effects) {
    text += core::FormatString("\t\t%s (%s)\n", std::string(RecordText(effect.name)).c_str(),
                               effect.loaded ? "LOADED" : "NOT LOADED");
  }
  text += "SERVER: End List Effects\n";
  return text;
}

// --- 5: load effect ----------------------------------------------------------
int LoadEffectMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteI32(effect_id) || stream->WriteBool(load) ? -1
                                                                                            : 0;
}
int LoadEffectMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kLoadEffectLength) || !ReadType(stream, kType)) return -1;
  return stream->ReadI32(&effect_id) && stream->ReadBool(&load) ? 0 : -1;
}
std::string LoadEffectMessage::TraceText() const {
  return core::FormatString("CLIENT: %s effect with ID %i.\n", load ? "LOAD" : "UNLOAD",
                            effect_id);
}

// --- 6: log event -------------------------------------------------------------
int LogEventMessage::Write(ByteStream* stream) const {
  size_t length = strnlen(text.c_str(), kMaxLogText);  // up to the first NUL
  if (stream->WriteU32(kType) || stream->WriteU32(static_cast<uint32_t>(length + 1)) ||
      stream->Write(text.data(), 1, length) != static_cast<int64_t>(length) ||
      stream->WriteU8(0))
    return -1;
  return 0;
}

int LogEventMessage::Read(ByteStream* stream) {
  text.clear();
  uint32_t length = 0;
  if (!ReadType(stream, kType) || !stream->ReadU32(&length)) return -1;
  // L counts the NUL, so 0 is impossible from a sound sender.
  if (length == 0 || length > stream->Remaining()) return -1;
  const char* bytes = reinterpret_cast<const char*>(stream->Data() + stream->Position());
  text.assign(bytes, strnlen(bytes, length - 1));  // the NUL is forced at L - 1
  stream->Seek(stream->Position() + length);
  return 0;
}

std::string LogEventMessage::TraceText() const {
  return core::FormatString("SERVER: LogEvent: %s\n", text.c_str());
}

// --- 7: effect status -----------------------------------------------------------
int EffectStatusMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || WriteEffectRecord(stream, effect) ? -1 : 0;
}
int EffectStatusMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kEffectStatusLength) || !ReadType(stream, kType)) return -1;
  return ReadEffectRecord(stream, &effect) ? 0 : -1;
}
std::string EffectStatusMessage::TraceText() const {
  return core::FormatString("SERVER: Effect status for ID %i (%s).\n", effect.id,
                            std::string(RecordText(effect.name)).c_str());
}

// --- 8: set deck effect ---------------------------------------------------------
int SetDeckEffectMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteI32(effect_id) || stream->WriteI32(deck) ? -1
                                                                                          : 0;
}
int SetDeckEffectMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kSetDeckEffectLength) || !ReadType(stream, kType)) return -1;
  return stream->ReadI32(&effect_id) && stream->ReadI32(&deck) ? 0 : -1;
}
std::string SetDeckEffectMessage::TraceText() const {
  return core::FormatString("CLIENT: load effect with ID %i to deck %i.\n", effect_id, deck);
}

// --- 9: deck status ---------------------------------------------------------------
int DeckStatusMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || WriteDeckRecord(stream, record) ? -1 : 0;
}
int DeckStatusMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kDeckMessageLength) || !ReadType(stream, kType)) return -1;
  return ReadDeckRecord(stream, &record) ? 0 : -1;
}
std::string DeckStatusMessage::TraceText() const {
  return core::FormatString("SERVER: status for deck %u \n", static_cast<unsigned>(record.deck));
}

// --- 10: deck update --------------------------------------------------------------
int DeckUpdateMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || WriteDeckRecord(stream, record) ? -1 : 0;
}
int DeckUpdateMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kDeckMessageLength) || !ReadType(stream, kType)) return -1;
  return ReadDeckRecord(stream, &record) ? 0 : -1;
}
std::string DeckUpdateMessage::TraceText() const {
  return core::FormatString("CLIENT: status for deck %u \n", static_cast<unsigned>(record.deck));
}

// --- 11: player status ------------------------------------------------------------
int PlayerStatusMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteI32(frames_per_second) ? -1 : 0;
}
int PlayerStatusMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kPlayerStatusLength) || !ReadType(stream, kType)) return -1;
  return stream->ReadI32(&frames_per_second) ? 0 : -1;
}
std::string PlayerStatusMessage::TraceText() const { return "SERVER: status for player\n"; }

// --- 12: tap ---------------------------------------------------------------------
int TapMessage::Write(ByteStream* stream) const { return stream->WriteU32(kType); }
int TapMessage::Read(ByteStream* stream) {
  return HasFixedPayload(stream, kTypeOnlyLength) && ReadType(stream, kType) ? 0 : -1;
}
std::string TapMessage::TraceText() const { return "CLIENT: Tap\n"; }

// --- 13: beat disable ----------------------------------------------------------------
int BeatDisableMessage::Write(ByteStream* stream) const { return stream->WriteU32(kType); }
int BeatDisableMessage::Read(ByteStream* stream) {
  return HasFixedPayload(stream, kTypeOnlyLength) && ReadType(stream, kType) ? 0 : -1;
}
std::string BeatDisableMessage::TraceText() const { return "CLIENT: Beat off/on\n"; }

// --- 14: tempo status ----------------------------------------------------------------
int TempoStatusMessage::Write(ByteStream* stream) const {
  return stream->WriteU32(kType) || stream->WriteU32(period_ms) || stream->WriteU32(since_beat_ms) ||
                 stream->WriteBool(beat_disabled) || stream->WriteU8(source)
             ? -1
             : 0;
}
int TempoStatusMessage::Read(ByteStream* stream) {
  if (!HasFixedPayload(stream, kTempoStatusPayloadLength) || !ReadType(stream, kType)) return -1;
  return stream->ReadU32(&period_ms) && stream->ReadU32(&since_beat_ms) && stream->ReadBool(&beat_disabled) &&
                 stream->ReadU8(&source)
             ? 0
             : -1;
}
std::string TempoStatusMessage::TraceText() const {
  return core::FormatString("SERVER: tempo %u ms, last beat %u ms ago, beat %s, source %u\n", period_ms,
                            since_beat_ms, beat_disabled ? "off" : "on", static_cast<unsigned>(source));
}

// --- factory ----------------------------------------------------------------------
std::unique_ptr<NetMessage> MakeNetMessage(uint32_t type) {
  switch (type) {
    case MSG_CLIENT_HANDSHAKE: return std::make_unique<ClientHandshakeMessage>();
    case MSG_SERVER_HANDSHAKE: return std::make_unique<ServerHandshakeMessage>();
    case MSG_LIST_EFFECTS: return std::make_unique<ListEffectsMessage>();
    case MSG_STATE: return std::make_unique<StateMessage>();
    case MSG_LOAD_EFFECT: return std::make_unique<LoadEffectMessage>();
    case MSG_LOG_EVENT: return std::make_unique<LogEventMessage>();
    case MSG_EFFECT_STATUS: return std::make_unique<EffectStatusMessage>();
    case MSG_SET_DECK_EFFECT: return std::make_unique<SetDeckEffectMessage>();
    case MSG_DECK_STATUS: return std::make_unique<DeckStatusMessage>();
    case MSG_DECK_UPDATE: return std::make_unique<DeckUpdateMessage>();
    case MSG_PLAYER_STATUS: return std::make_unique<PlayerStatusMessage>();
    case MSG_TAP: return std::make_unique<TapMessage>();
    case MSG_BEAT_DISABLE: return std::make_unique<BeatDisableMessage>();
    case MSG_TEMPO_STATUS: return std::make_unique<TempoStatusMessage>();
    default: return MakeOutputMessage(type);
  }
}

// --- handshake helpers ------------------------------------------------------------
bool IsSupportedServerVersion(const ServerHandshakeMessage& handshake) {
  return handshake.major == kProtocolMajor && handshake.minor == kProtocolMinor;
}

std::string VersionMismatchText(const ServerHandshakeMessage& handshake) {
  return core::FormatString(
      "Server is running version %i.%i and client is version %i.%i. Can't establish connection",
      static_cast<int>(static_cast<int8_t>(handshake.major)),
      static_cast<int>(static_cast<int8_t>(handshake.minor)), kProtocolMajor, kProtocolMinor);
}

}  // namespace net

// The messages: byte images of whole frames, sizes, round trips,
// trace texts, the version check, and malformed payloads.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "net/wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const net::NetMessage& message) {
  net::ByteStream stream;
  EXPECT_EQ(net::EncodeFrame(message, &stream), 0);
  return Bytes(stream.Data(), stream.Data() + stream.Length());
}

// Decodes a whole frame (length word included) and checks the length word.
std::unique_ptr<net::NetMessage> Decode(const Bytes& frame) {
  EXPECT_GE(frame.size(), 4u);
  uint32_t length = uint32_t{frame[0]} | uint32_t{frame[1]} << 8 | uint32_t{frame[2]} << 16 |
                    uint32_t{frame[3]} << 24;
  EXPECT_EQ(length + 4u, frame.size());
  return net::DecodePayload(frame.data() + 4, frame.size() - 4);
}

void PutU32(Bytes* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

net::StateMessage SampleState(size_t effect_count) {
  net::StateMessage state;
  for (size_t i = 0; i < effect_count; ++i) {
    net::EffectRecord effect;
    effect.id = static_cast<int32_t>(i);
    net::SetRecordText(effect.name, i % 2 ? "TUNNEL" : "PLASMA");
    effect.loaded = i % 3 == 0;
    state.effects.push_back(effect);
  }
  for (int deck = 0; deck < net::kDeckCount; ++deck) {
    net::DeckRecord record = net::DefaultDeckRecord(deck);
    record.fader = 0.1f * static_cast<float>(deck);
    state.decks.push_back(record);
  }
  const char* names[] = {"ALPHABLEND", "BEATBLEND", "INVERSEBEATBLEND", "WAVEBLEND",
                         "INVERSEWAVEBLEND", "ADDITIVE", "BEATADDITIVE", "INVERSEBEATADDITIVE",
                         "WAVEADDITIVE", "INVERSEWAVEADDITIVE"};
  for (int i = 0; i < 10; ++i) {
    net::MixerRecord mixer;
    mixer.index = i;
    net::SetRecordText(mixer.name, names[i]);
    state.mixers.push_back(mixer);
  }
  state.low_bin = 4;
  state.high_bin = 30;
  state.threshold = 0.625f;
  return state;
}

TEST(MessageFrames, MatchTheDocumentedByteImages) {
  EXPECT_EQ(Frame(net::ClientHandshakeMessage()), (Bytes{0x04, 0, 0, 0, 0x01, 0, 0, 0}));
  EXPECT_EQ(Frame(net::ServerHandshakeMessage(0, 1)),
            (Bytes{0x06, 0, 0, 0, 0x02, 0, 0, 0, 0x00, 0x01}));
  EXPECT_EQ(Frame(net::LoadEffectMessage(2, true)),
            (Bytes{0x09, 0, 0, 0, 0x05, 0, 0, 0, 0x02, 0, 0, 0, 0x01}));
  EXPECT_EQ(Frame(net::SetDeckEffectMessage(3, 1)),
            (Bytes{0x0C, 0, 0, 0, 0x08, 0, 0, 0, 0x03, 0, 0, 0, 0x01, 0, 0, 0}));
  EXPECT_EQ(Frame(net::SetDeckEffectMessage(-1, 5)),
            (Bytes{0x0C, 0, 0, 0, 0x08, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x05, 0, 0, 0}));
}

TEST(TempoMessages, MatchTheDocumentedByteImages) {
  EXPECT_EQ(Frame(net::TapMessage()), (Bytes{0x04, 0, 0, 0, 0x0C, 0, 0, 0}));
  EXPECT_EQ(Frame(net::BeatDisableMessage()), (Bytes{0x04, 0, 0, 0, 0x0D, 0, 0, 0}));
  net::TempoStatusMessage tempo;
  tempo.period_ms = 500;       // 0x01F4
  tempo.since_beat_ms = 70000; // 0x011170
  tempo.beat_disabled = true;
  tempo.source = net::kTempoSourceMidiClock;
  EXPECT_EQ(Frame(tempo), (Bytes{0x0E, 0, 0, 0, 0x0E, 0, 0, 0, 0xF4, 0x01, 0, 0, 0x70, 0x11, 0x01, 0, 0x01, 0x01}));
  auto back = Decode(Frame(tempo));
  auto* m = net::MessageAs<net::TempoStatusMessage>(back.get());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->period_ms, 500u);
  EXPECT_EQ(m->since_beat_ms, 70000u);
  EXPECT_TRUE(m->beat_disabled);
  EXPECT_EQ(m->source, net::kTempoSourceMidiClock);
}

// A peer of the eleven messages reads the length word, finds a type it does
// not know and skips exactly that frame: what follows still decodes.
TEST(TempoMessages, AnOlderPeerSkipsThemAndKeepsItsPlace) {
  net::TempoStatusMessage tempo;
  tempo.period_ms = 345;
  net::TapMessage tap;
  net::BeatDisableMessage off;
  net::PlayerStatusMessage player(42);
  Bytes stream;
  const std::vector<const net::NetMessage*> messages = {&tempo, &tap, &off, &player};
  for (const net::NetMessage* message : messages) {
    Bytes frame = Frame(*message);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  std::vector<uint32_t> understood;
  for (size_t at = 0; at + 4 <= stream.size();) {
    uint32_t length = uint32_t{stream[at]} | uint32_t{stream[at + 1]} << 8 | uint32_t{stream[at + 2]} << 16 |
                      uint32_t{stream[at + 3]} << 24;
    ASSERT_LE(at + 4 + length, stream.size());
    uint32_t type = stream[at + 4];
    if (type <= net::MSG_PLAYER_STATUS) {  // the older peer's whole vocabulary
      auto message = net::DecodePayload(stream.data() + at + 4, length);
      ASSERT_TRUE(message);
      understood.push_back(message->Type());
    }
    at += 4 + length;
  }
  EXPECT_EQ(understood, (std::vector<uint32_t>{net::MSG_PLAYER_STATUS}));
}

TEST(MessageFrames, FixedMessagesHaveTheirPayloadSizes) {
  EXPECT_EQ(Frame(net::ClientHandshakeMessage()).size() - 4, 4u);
  EXPECT_EQ(Frame(net::ServerHandshakeMessage()).size() - 4, 6u);
  EXPECT_EQ(Frame(net::ListEffectsMessage()).size() - 4, 4u);
  EXPECT_EQ(Frame(net::LoadEffectMessage(1, false)).size() - 4, 9u);
  EXPECT_EQ(Frame(net::EffectStatusMessage()).size() - 4, 73u);
  EXPECT_EQ(Frame(net::SetDeckEffectMessage()).size() - 4, 12u);
  EXPECT_EQ(Frame(net::DeckStatusMessage()).size() - 4, 112u);
  EXPECT_EQ(Frame(net::DeckUpdateMessage()).size() - 4, 112u);
  EXPECT_EQ(Frame(net::PlayerStatusMessage(60)).size() - 4, 8u);
}

TEST(MessageFrames, StateWithoutEffectsIs1036BytesOfPayload) {
  // Six decks and the ten mixers of the Server's list (NULL is not listed).
  net::StateMessage state = SampleState(0);
  Bytes frame = Frame(state);
  EXPECT_EQ(frame.size() - 4, 1036u);
  EXPECT_EQ(net::StatePayloadLength(0, 6, 10), 1036u);
  EXPECT_EQ(Frame(SampleState(7)).size() - 4, net::StatePayloadLength(7, 6, 10));
  // Layout: type, E = 0, D = 6, the decks, M = 10, the mixers, the beat settings.
  EXPECT_EQ(frame[4], 4);
  EXPECT_EQ(frame[8], 0);
  EXPECT_EQ(frame[12], 6);
  EXPECT_EQ(frame[16 + 6 * 108], 10);
  EXPECT_EQ(std::memcmp(frame.data() + 20 + 6 * 108 + 4, "ALPHABLEND", 10), 0);
  EXPECT_EQ(frame[20 + 6 * 108 + 360], 4);  // low bin
}

TEST(MessageFrames, LogEventCarriesItsNulAndEmptyTextHasLengthOne) {
  EXPECT_EQ(Frame(net::LogEventMessage("")), (Bytes{0x09, 0, 0, 0, 0x06, 0, 0, 0, 0x01, 0, 0, 0, 0}));
  Bytes frame = Frame(net::LogEventMessage("Loaded effect X"));
  EXPECT_EQ(frame.size() - 4, 8u + 16u);
  EXPECT_EQ(frame[8], 16);
  EXPECT_EQ(frame.back(), 0);
  // A text longer than the Server's log buffer is cut to 1023 characters.
  Bytes longest = Frame(net::LogEventMessage(std::string(5000, 'x')));
  EXPECT_EQ(longest.size() - 4, 8u + 1024u);
}

TEST(MessageRoundTrip, EveryTypeComesBackEqual) {
  {
    auto back = Decode(Frame(net::ClientHandshakeMessage()));
    ASSERT_TRUE(net::MessageAs<net::ClientHandshakeMessage>(back.get()));
  }
  {
    auto back = Decode(Frame(net::ServerHandshakeMessage(7, 200)));
    auto* m = net::MessageAs<net::ServerHandshakeMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->major, 7);
    EXPECT_EQ(m->minor, 200);
  }
  {
    auto back = Decode(Frame(net::ListEffectsMessage()));
    ASSERT_TRUE(net::MessageAs<net::ListEffectsMessage>(back.get()));
  }
  {
    net::StateMessage state = SampleState(5);
    auto back = Decode(Frame(state));
    auto* m = net::MessageAs<net::StateMessage>(back.get());
    ASSERT_TRUE(m);
    ASSERT_EQ(m->effects.size(), 5u);
    ASSERT_EQ(m->decks.size(), 6u);
    ASSERT_EQ(m->mixers.size(), 10u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(m->effects[i].id, state.effects[i].id);
      EXPECT_EQ(net::RecordText(m->effects[i].name), net::RecordText(state.effects[i].name));
      EXPECT_EQ(m->effects[i].loaded, state.effects[i].loaded);
    }
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(m->decks[i].deck, state.decks[i].deck);
      EXPECT_EQ(m->decks[i].fader, state.decks[i].fader);
    }
    EXPECT_EQ(net::RecordText(m->mixers[9].name), "INVERSEWAVEADDITIVE");
    EXPECT_EQ(m->mixers[9].index, 9);
    EXPECT_EQ(m->low_bin, 4u);
    EXPECT_EQ(m->high_bin, 30u);
    EXPECT_EQ(m->threshold, 0.625f);
  }
  {
    auto back = Decode(Frame(net::LoadEffectMessage(42, false)));
    auto* m = net::MessageAs<net::LoadEffectMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->effect_id, 42);
    EXPECT_FALSE(m->load);
  }
  {
    auto back = Decode(Frame(net::LogEventMessage("Unloaded effect TUNNEL")));
    auto* m = net::MessageAs<net::LogEventMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "Unloaded effect TUNNEL");
  }
  {
    net::EffectRecord effect;
    effect.id = 3;
    net::SetRecordText(effect.name, "STARS");
    effect.loaded = true;
    auto back = Decode(Frame(net::EffectStatusMessage(effect)));
    auto* m = net::MessageAs<net::EffectStatusMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->effect.id, 3);
    EXPECT_EQ(net::RecordText(m->effect.name), "STARS");
    EXPECT_TRUE(m->effect.loaded);
  }
  {
    auto back = Decode(Frame(net::SetDeckEffectMessage(-1, 4)));
    auto* m = net::MessageAs<net::SetDeckEffectMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->effect_id, -1);
    EXPECT_EQ(m->deck, 4);
  }
  net::DeckRecord record = net::DefaultDeckRecord(2);
  record.change_mask = net::kMaskFader | net::kMaskSpeed;
  record.fader = 0.3f;
  record.speed = 0.25f;
  record.mixer = 6;
  net::SetRecordText(record.effect_name, "TUNNEL");
  {
    auto back = Decode(Frame(net::DeckStatusMessage(record)));
    auto* m = net::MessageAs<net::DeckStatusMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->record.deck, 2);
    EXPECT_EQ(m->record.change_mask, 9u);
    EXPECT_EQ(m->record.fader, 0.3f);
    EXPECT_EQ(m->record.speed, 0.25f);
    EXPECT_EQ(m->record.mixer, 6);
    EXPECT_EQ(net::RecordText(m->record.effect_name), "TUNNEL");
  }
  {
    auto back = Decode(Frame(net::DeckUpdateMessage(record)));
    auto* m = net::MessageAs<net::DeckUpdateMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->record.deck, 2);
    EXPECT_EQ(m->record.speed, 0.25f);
    EXPECT_FALSE(net::MessageAs<net::DeckStatusMessage>(back.get()));  // same layout, other type
  }
  {
    auto back = Decode(Frame(net::PlayerStatusMessage(-7)));
    auto* m = net::MessageAs<net::PlayerStatusMessage>(back.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->frames_per_second, -7);
  }
}

TEST(MessageFactory, MakesEachTypeAndNothingElse) {
  for (uint32_t type = net::kFirstMessageType; type <= net::kLastMessageType; ++type) {
    auto message = net::MakeNetMessage(type);
    ASSERT_TRUE(message) << type;
    EXPECT_EQ(message->Type(), type);
  }
  for (uint32_t type = net::kFirstOutputMessageType; type <= net::kLastOutputMessageType; ++type) {
    auto message = net::MakeNetMessage(type);
    ASSERT_TRUE(message) << type;
    EXPECT_EQ(message->Type(), type);
  }
  EXPECT_FALSE(net::MakeNetMessage(0));
  EXPECT_FALSE(net::MakeNetMessage(net::kLastOutputMessageType + 1));
  EXPECT_FALSE(net::MakeNetMessage(0xFFFFFFFFu));
}

TEST(MessageTrace, TextsAreTheSystemsOwn) {
  EXPECT_EQ(net::ClientHandshakeMessage().TraceText(), "CLIENT: Handshake\n");
  EXPECT_EQ(net::ServerHandshakeMessage(0, 1).TraceText(), "SERVER: Handshake. Version: 0.1\n");
  EXPECT_EQ(net::ListEffectsMessage().TraceText(), "CLIENT: List Effects\n");
  net::StateMessage state = SampleState(2);
  EXPECT_EQ(state.TraceText(),
            "SERVER: List Effects\n\t\tPLASMA (LOADED)\n\t\tTUNNEL (NOT LOADED)\n"
            "SERVER: End List Effects\n");
  EXPECT_EQ(net::LoadEffectMessage(2, true).TraceText(), "CLIENT: LOAD effect with ID 2.\n");
  EXPECT_EQ(net::LoadEffectMessage(2, false).TraceText(), "CLIENT: UNLOAD effect with ID 2.\n");
  EXPECT_EQ(net::LogEventMessage("hi").TraceText(), "SERVER: LogEvent: hi\n");
  net::EffectRecord effect;
  effect.id = 4;
  net::SetRecordText(effect.name, "FIRE");
  EXPECT_EQ(net::EffectStatusMessage(effect).TraceText(), "SERVER: Effect status for ID 4 (FIRE).\n");
  EXPECT_EQ(net::SetDeckEffectMessage(3, 1).TraceText(),
            "CLIENT: load effect with ID 3 to deck 1.\n");
  EXPECT_EQ(net::DeckStatusMessage(net::DefaultDeckRecord(2)).TraceText(),
            "SERVER: status for deck 2 \n");
  EXPECT_EQ(net::DeckUpdateMessage(net::DefaultDeckRecord(5)).TraceText(),
            "CLIENT: status for deck 5 \n");
  EXPECT_EQ(net::PlayerStatusMessage(60).TraceText(), "SERVER: status for player\n");
}

TEST(VersionCheck, AcceptsExactlyZeroPointOne) {
  EXPECT_TRUE(net::IsSupportedServerVersion(net::ServerHandshakeMessage(0, 1)));
  EXPECT_FALSE(net::IsSupportedServerVersion(net::ServerHandshakeMessage(0, 2)));
  EXPECT_FALSE(net::IsSupportedServerVersion(net::ServerHandshakeMessage(1, 1)));
  EXPECT_FALSE(net::IsSupportedServerVersion(net::ServerHandshakeMessage(0, 0)));
  EXPECT_EQ(net::VersionMismatchText(net::ServerHandshakeMessage(0, 2)),
            "Server is running version 0.2 and client is version 0.1. Can't establish connection");
  // The Server's bytes are shown as signed.
  EXPECT_EQ(net::VersionMismatchText(net::ServerHandshakeMessage(255, 1)),
            "Server is running version -1.1 and client is version 0.1. Can't establish connection");
}

// --- malformed payloads ---------------------------------------------------------

TEST(MalformedPayload, ShortFixedMessagesAreDropped) {
  for (uint32_t type = net::kFirstMessageType; type <= net::kLastMessageType; ++type) {
    if (type == net::MSG_STATE || type == net::MSG_LOG_EVENT) continue;
    auto full = net::MakeNetMessage(type);
    Bytes frame = Frame(*full);
    Bytes payload(frame.begin() + 4, frame.end());
    // The whole payload decodes; every shorter prefix does not.
    EXPECT_TRUE(net::DecodePayload(payload.data(), payload.size())) << type;
    for (size_t length = 0; length < payload.size(); ++length)
      EXPECT_FALSE(net::DecodePayload(payload.data(), length)) << type << " at " << length;
  }
}

TEST(MalformedPayload, UnknownTypesAreDropped) {
  for (uint32_t type : {0u, 15u, 99u, 0x80000001u}) {
    Bytes payload;
    PutU32(&payload, type);
    PutU32(&payload, 0);
    EXPECT_FALSE(net::DecodePayload(payload.data(), payload.size())) << type;
  }
}

TEST(MalformedPayload, StateCountsMustFitThePayload) {
  Bytes frame = Frame(SampleState(3));
  Bytes good(frame.begin() + 4, frame.end());
  ASSERT_TRUE(net::DecodePayload(good.data(), good.size()));
  // Each count one too large, and each absurdly large (nothing is allocated
  // for a count the payload cannot hold).
  const size_t effect_count_at = 4;
  const size_t deck_count_at = 8 + 3 * 69;
  const size_t mixer_count_at = deck_count_at + 4 + 6 * 108;
  for (size_t at : {effect_count_at, deck_count_at, mixer_count_at}) {
    for (uint32_t bad : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      Bytes payload = good;
      uint32_t old = uint32_t{payload[at]};
      uint32_t value = bad ? bad : old + 1;
      for (int i = 0; i < 4; ++i) payload[at + i] = static_cast<uint8_t>(value >> (8 * i));
      EXPECT_FALSE(net::DecodePayload(payload.data(), payload.size())) << at << " " << value;
    }
  }
  // Missing beat settings at the end.
  EXPECT_FALSE(net::DecodePayload(good.data(), good.size() - 1));
  // Counts too small leave bytes over: the counts and the records disagree.
  for (size_t at : {effect_count_at, deck_count_at, mixer_count_at}) {
    Bytes fewer = good;
    fewer[at] = static_cast<uint8_t>(fewer[at] - 1);
    EXPECT_FALSE(net::DecodePayload(fewer.data(), fewer.size())) << at;
  }
  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(net::DecodePayload(trailing.data(), trailing.size()));
}

TEST(MalformedPayload, LogEventLengthIsChecked) {
  auto payload_of = [](uint32_t length, const std::string& bytes) {
    Bytes payload;
    PutU32(&payload, net::MSG_LOG_EVENT);
    PutU32(&payload, length);
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    return payload;
  };
  Bytes zero = payload_of(0, "");
  EXPECT_FALSE(net::DecodePayload(zero.data(), zero.size()));
  Bytes longer = payload_of(20, std::string("abc\0", 4));
  EXPECT_FALSE(net::DecodePayload(longer.data(), longer.size()));
  Bytes huge = payload_of(0xFFFFFFFFu, "x");
  EXPECT_FALSE(net::DecodePayload(huge.data(), huge.size()));
  // No NUL from the peer: the last byte is taken as the NUL.
  Bytes unterminated = payload_of(5, "HELLO");
  auto message = net::DecodePayload(unterminated.data(), unterminated.size());
  auto* log = net::MessageAs<net::LogEventMessage>(message.get());
  ASSERT_TRUE(log);
  EXPECT_EQ(log->text, "HELL");
  // An early NUL ends the text.
  Bytes early = payload_of(6, std::string("AB\0CDE", 6));
  message = net::DecodePayload(early.data(), early.size());
  log = net::MessageAs<net::LogEventMessage>(message.get());
  ASSERT_TRUE(log);
  EXPECT_EQ(log->text, "AB");
}

TEST(MalformedPayload, UnterminatedNamesEndInsideTheirFields) {
  net::EffectRecord effect;
  effect.id = 1;
  Bytes frame = Frame(net::EffectStatusMessage(effect));
  Bytes payload(frame.begin() + 4, frame.end());
  std::memset(payload.data() + 8, 'N', 64);  // no NUL anywhere in the name
  payload[72] = 1;
  auto message = net::DecodePayload(payload.data(), payload.size());
  auto* status = net::MessageAs<net::EffectStatusMessage>(message.get());
  ASSERT_TRUE(status);
  EXPECT_EQ(std::strlen(status->effect.name), 63u);
  EXPECT_TRUE(status->effect.loaded);

  Bytes deck_frame = Frame(net::DeckStatusMessage(net::DefaultDeckRecord(0)));
  Bytes deck_payload(deck_frame.begin() + 4, deck_frame.end());
  std::memset(deck_payload.data() + 4 + 16, 'E', 64);
  message = net::DecodePayload(deck_payload.data(), deck_payload.size());
  auto* deck = net::MessageAs<net::DeckStatusMessage>(message.get());
  ASSERT_TRUE(deck);
  EXPECT_EQ(std::strlen(deck->record.effect_name), 63u);
  EXPECT_EQ(deck->record.mixer, -1);  // the next field is intact
}

TEST(MalformedPayload, OversizeMessagesAreNotEncoded) {
  // More effects than a frame may carry.
  net::StateMessage state;
  state.effects.resize(net::kMaxFrameLength / net::kEffectRecordSize + 1);
  net::ByteStream stream;
  EXPECT_EQ(net::EncodeFrame(state, &stream), -1);
}

}  // namespace

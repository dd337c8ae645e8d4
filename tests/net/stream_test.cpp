// Byte stream and wire records: growth, little-endian fields, text blocks,
// and the exact record layouts.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "net/wire.h"

namespace {

std::vector<uint8_t> Bytes(const net::ByteStream& stream) {
  return std::vector<uint8_t>(stream.Data(), stream.Data() + stream.Length());
}

TEST(ByteStream, StartsAt1024AndDoublesUntilTheDataFits) {
  net::ByteStream stream;
  EXPECT_EQ(stream.Capacity(), 1024u);
  std::vector<uint8_t> block(1000, 0xAB);
  EXPECT_EQ(stream.Write(block.data(), 1, block.size()), 1000);
  EXPECT_EQ(stream.Capacity(), 1024u);
  EXPECT_EQ(stream.Write(block.data(), 10, 100), 100);  // 2000 bytes in all
  EXPECT_EQ(stream.Capacity(), 2048u);
  std::vector<uint8_t> big(5000, 0xCD);
  EXPECT_EQ(stream.Write(big.data(), 1, big.size()), 5000);  // 7000 in all
  EXPECT_EQ(stream.Capacity(), 8192u);
  EXPECT_EQ(stream.Length(), 7000u);
  // The contents survive each growth.
  EXPECT_EQ(stream.Data()[0], 0xAB);
  EXPECT_EQ(stream.Data()[1999], 0xAB);
  EXPECT_EQ(stream.Data()[2000], 0xCD);
  EXPECT_EQ(stream.Data()[6999], 0xCD);
}

TEST(ByteStream, ReadsOnlyWholeItemsAndSeeksWithinTheWrittenLength) {
  net::ByteStream stream;
  const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(stream.Write(data, 1, 10), 10);
  ASSERT_EQ(stream.Seek(0), 0);
  uint8_t out[10] = {};
  EXPECT_EQ(stream.Read(out, 4, 5), 2u);  // 8 of 10 bytes form two items
  EXPECT_EQ(out[7], 7);
  EXPECT_EQ(stream.Position(), 8u);
  EXPECT_EQ(stream.Read(out, 4, 1), 0u);  // 2 bytes left: no whole item
  EXPECT_EQ(stream.Position(), 8u);
  EXPECT_EQ(stream.Seek(10), 0);
  EXPECT_EQ(stream.Seek(11), -1);
  EXPECT_EQ(stream.Position(), 10u);
  // A write in the middle overwrites without changing the length.
  ASSERT_EQ(stream.Seek(2), 0);
  ASSERT_EQ(stream.WriteU8(0xEE), 0);
  EXPECT_EQ(stream.Length(), 10u);
  EXPECT_EQ(stream.Data()[2], 0xEE);
}

TEST(ByteStream, FieldsAreLittleEndianWithoutPadding) {
  net::ByteStream stream;
  ASSERT_EQ(stream.WriteU32(0x04030201u), 0);
  ASSERT_EQ(stream.WriteU8(0x7F), 0);
  ASSERT_EQ(stream.WriteI32(-2), 0);
  ASSERT_EQ(stream.WriteF32(1.0f), 0);
  ASSERT_EQ(stream.WriteBool(true), 0);
  EXPECT_EQ(Bytes(stream), (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x04, 0x7F, 0xFE, 0xFF, 0xFF,
                                                 0xFF, 0x00, 0x00, 0x80, 0x3F, 0x01}));
  ASSERT_EQ(stream.Seek(0), 0);
  uint32_t u = 0;
  uint8_t b = 0;
  int32_t i = 0;
  float f = 0;
  bool flag = false;
  EXPECT_TRUE(stream.ReadU32(&u));
  EXPECT_TRUE(stream.ReadU8(&b));
  EXPECT_TRUE(stream.ReadI32(&i));
  EXPECT_TRUE(stream.ReadF32(&f));
  EXPECT_TRUE(stream.ReadBool(&flag));
  EXPECT_EQ(u, 0x04030201u);
  EXPECT_EQ(b, 0x7F);
  EXPECT_EQ(i, -2);
  EXPECT_EQ(f, 1.0f);
  EXPECT_TRUE(flag);
  EXPECT_FALSE(stream.ReadU32(&u));  // nothing left; position unchanged
  EXPECT_EQ(stream.Position(), stream.Length());
}

TEST(ByteStream, AnyNonZeroByteIsTrue) {
  net::ByteStream stream;
  ASSERT_EQ(stream.WriteU8(0x80), 0);
  ASSERT_EQ(stream.WriteU8(0), 0);
  ASSERT_EQ(stream.Seek(0), 0);
  bool a = false, b = true;
  EXPECT_TRUE(stream.ReadBool(&a));
  EXPECT_TRUE(stream.ReadBool(&b));
  EXPECT_TRUE(a);
  EXPECT_FALSE(b);
}

TEST(ByteStream, TextBlocksAreCutZeroFilledAndForcedToEndInNul) {
  net::ByteStream stream;
  ASSERT_EQ(stream.WriteText("ABC", 8), 0);
  ASSERT_EQ(stream.WriteText("0123456789", 8), 0);  // cut to 7 + NUL
  EXPECT_EQ(Bytes(stream), (std::vector<uint8_t>{'A', 'B', 'C', 0, 0, 0, 0, 0, '0', '1', '2', '3',
                                                 '4', '5', '6', 0}));
  // A peer's block without any NUL reads as its first block - 1 bytes.
  net::ByteStream peer;
  ASSERT_EQ(peer.Write("XXXXXXXX", 1, 8), 8);
  ASSERT_EQ(peer.Seek(0), 0);
  char text[8];
  ASSERT_TRUE(peer.ReadText(text, sizeof text));
  EXPECT_STREQ(text, "XXXXXXX");
  // Too short for the block: nothing is read.
  ASSERT_EQ(peer.Seek(1), 0);
  EXPECT_FALSE(peer.ReadText(text, sizeof text));
  EXPECT_EQ(peer.Position(), 1u);
}

TEST(Records, TextHelpersCutAndStopAtNul) {
  char field[8];
  std::memset(field, 'Z', sizeof field);
  net::SetRecordText(field, "TUNNEL");
  EXPECT_EQ(net::RecordText(field), "TUNNEL");
  EXPECT_EQ(field[7], '\0');
  net::SetRecordText(field, "VERY LONG NAME");
  EXPECT_EQ(net::RecordText(field), "VERY LO");
  net::SetRecordText(field, std::string_view("AB\0CD", 5));
  EXPECT_EQ(net::RecordText(field), "AB");
  EXPECT_EQ(field[3], '\0');  // nothing after the NUL
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(net::RecordText(unterminated), "abcd");  // never reads past the field
}

TEST(Records, EffectRecordIs69BytesInOrder) {
  net::EffectRecord effect;
  effect.id = 0x01020304;
  net::SetRecordText(effect.name, "TUNNEL");
  effect.loaded = true;
  net::ByteStream stream;
  ASSERT_EQ(net::WriteEffectRecord(&stream, effect), 0);
  ASSERT_EQ(stream.Length(), net::kEffectRecordSize);
  const uint8_t* b = stream.Data();
  EXPECT_EQ(b[0], 0x04);
  EXPECT_EQ(b[3], 0x01);
  EXPECT_EQ(std::memcmp(b + 4, "TUNNEL\0", 7), 0);
  EXPECT_EQ(b[67], 0);
  EXPECT_EQ(b[68], 1);
  ASSERT_EQ(stream.Seek(0), 0);
  net::EffectRecord back;
  ASSERT_TRUE(net::ReadEffectRecord(&stream, &back));
  EXPECT_EQ(back.id, effect.id);
  EXPECT_EQ(net::RecordText(back.name), "TUNNEL");
  EXPECT_TRUE(back.loaded);
}

TEST(Records, DeckRecordIs108BytesWithFieldsAtTheirOffsets) {
  net::DeckRecord deck;
  deck.reserved = 0xDEADBEEF;
  deck.deck = 5;
  deck.change_mask = 27;
  deck.fader = 0.5f;
  net::SetRecordText(deck.effect_name, "PLASMA");
  deck.mixer = 9;
  deck.effect_id = 12;
  deck.low_bin = 3;
  deck.high_bin = 40;
  deck.threshold = 0.25f;
  deck.beat_mode = net::kBeatEndOnBeat;
  deck.speed = 0.75f;
  net::ByteStream stream;
  ASSERT_EQ(net::WriteDeckRecord(&stream, deck), 0);
  ASSERT_EQ(stream.Length(), net::kDeckRecordSize);
  auto u32_at = [&](size_t offset) {
    const uint8_t* b = stream.Data() + offset;
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  };
  EXPECT_EQ(u32_at(0), 0xDEADBEEFu);
  EXPECT_EQ(u32_at(4), 5u);
  EXPECT_EQ(u32_at(8), 27u);
  EXPECT_EQ(u32_at(12), 0x3F000000u);  // 0.5f
  EXPECT_EQ(std::memcmp(stream.Data() + 16, "PLASMA", 7), 0);
  EXPECT_EQ(u32_at(80), 9u);
  EXPECT_EQ(u32_at(84), 12u);
  EXPECT_EQ(u32_at(88), 3u);
  EXPECT_EQ(u32_at(92), 40u);
  EXPECT_EQ(u32_at(96), 0x3E800000u);  // 0.25f
  EXPECT_EQ(u32_at(100), 2u);
  EXPECT_EQ(u32_at(104), 0x3F400000u);  // 0.75f
  ASSERT_EQ(stream.Seek(0), 0);
  net::DeckRecord back;
  ASSERT_TRUE(net::ReadDeckRecord(&stream, &back));
  EXPECT_EQ(back.reserved, deck.reserved);
  EXPECT_EQ(back.deck, 5);
  EXPECT_EQ(back.change_mask, 27u);
  EXPECT_EQ(back.fader, 0.5f);
  EXPECT_EQ(net::RecordText(back.effect_name), "PLASMA");
  EXPECT_EQ(back.mixer, 9);
  EXPECT_EQ(back.effect_id, 12);
  EXPECT_EQ(back.low_bin, 3u);
  EXPECT_EQ(back.high_bin, 40u);
  EXPECT_EQ(back.threshold, 0.25f);
  EXPECT_EQ(back.beat_mode, 2);
  EXPECT_EQ(back.speed, 0.75f);
}

TEST(Records, MixerRecordIs36BytesAndDefaultsAreTheDeckDefaults) {
  net::MixerRecord mixer;
  mixer.index = 3;
  net::SetRecordText(mixer.name, "INVERSEWAVEADDITIVE-AND-MORE-THAN-31-CHARACTERS");
  net::ByteStream stream;
  ASSERT_EQ(net::WriteMixerRecord(&stream, mixer), 0);
  EXPECT_EQ(stream.Length(), net::kMixerRecordSize);
  ASSERT_EQ(stream.Seek(0), 0);
  net::MixerRecord back;
  ASSERT_TRUE(net::ReadMixerRecord(&stream, &back));
  EXPECT_EQ(back.index, 3);
  EXPECT_EQ(net::RecordText(back.name).size(), 31u);

  net::DeckRecord deck = net::DefaultDeckRecord(4);
  EXPECT_EQ(deck.deck, 4);
  EXPECT_EQ(deck.effect_id, -1);
  EXPECT_EQ(deck.fader, 1.0f);
  EXPECT_EQ(deck.mixer, net::kNullMixer);
  EXPECT_EQ(deck.speed, 0.75f);
  EXPECT_EQ(deck.beat_mode, net::kBeatFree);
  EXPECT_EQ(net::RecordText(deck.effect_name), "");
}

TEST(Records, ShortInputReadsNothing) {
  net::ByteStream stream;
  std::vector<uint8_t> almost(net::kDeckRecordSize - 1, 0);
  ASSERT_EQ(stream.Write(almost.data(), 1, almost.size()), static_cast<int64_t>(almost.size()));
  ASSERT_EQ(stream.Seek(0), 0);
  net::DeckRecord deck;
  EXPECT_FALSE(net::ReadDeckRecord(&stream, &deck));
  EXPECT_EQ(stream.Position(), 0u);
  net::EffectRecord effect;
  EXPECT_TRUE(net::ReadEffectRecord(&stream, &effect));  // 69 of 107 bytes are there
  EXPECT_EQ(stream.Position(), net::kEffectRecordSize);
}

}  // namespace

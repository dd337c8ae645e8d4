// The growable byte stream and the three wire records.
//
// Every field is encoded byte by byte in little-endian order, so the layout
// never depends on the compiler's padding or the machine's byte order.
#include <bit>
#include <cstring>
#include <new>

#include "net/wire.h"

namespace net {
namespace {

constexpr size_t kInitialCapacity = 1024;

}  // namespace

ByteStream::ByteStream() {
  data_.reset(new (std::nothrow) uint8_t[kInitialCapacity]);
  capacity_ = data_ ? kInitialCapacity : 0;
}

int ByteStream::Reserve(size_t capacity) {
  if (capacity <= capacity_) return 0;
  size_t grown = capacity_ ? capacity_ : kInitialCapacity;
  while (grown < capacity) {
    if (grown > SIZE_MAX / 2) return -1;
    grown *= 2;
  }
  std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
  if (!bigger) return -1;
  if (length_) std::memcpy(bigger.get(), data_.get(), length_);
  data_ = std::move(bigger);
  capacity_ = grown;
  return 0;
}

int64_t ByteStream::Write(const void* data, size_t size, size_t count) {
  if (size && count > SIZE_MAX / size) return -1;
  size_t bytes = size * count;
  if (bytes > SIZE_MAX - position_ || Reserve(position_ + bytes) != 0) return -1;
  if (bytes) std::memcpy(data_.get() + position_, data, bytes);
  position_ += bytes;
  if (position_ > length_) length_ = position_;
  return static_cast<int64_t>(count);
}

size_t ByteStream::Read(void* data, size_t size, size_t count) {
  if (size == 0) return 0;
  size_t whole = Remaining() / size;
  if (whole < count) count = whole;
  if (count) std::memcpy(data, data_.get() + position_, size * count);
  position_ += size * count;
  return count;
}

int ByteStream::Seek(size_t position) {
  if (position > length_) return -1;
  position_ = position;
  return 0;
}

int ByteStream::WriteU8(uint8_t value) { return Write(&value, 1, 1) == 1 ? 0 : -1; }

int ByteStream::WriteU32(uint32_t value) {
  uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                      static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return Write(bytes, 1, 4) == 4 ? 0 : -1;
}

int ByteStream::WriteI32(int32_t value) { return WriteU32(static_cast<uint32_t>(value)); }

int ByteStream::WriteF32(float value) { return WriteU32(std::bit_cast<uint32_t>(value)); }

int ByteStream::WriteText(const char* text, size_t block) {
  if (block == 0) return 0;
  size_t length = text ? strnlen(text, block - 1) : 0;
  if (Reserve(position_ + block) != 0) return -1;
  if (length && Write(text, 1, length) != static_cast<int64_t>(length)) return -1;
  // Zeros after the text: nothing of the sender's memory leaves the machine.
  static const uint8_t kZeros[64] = {};
  for (size_t left = block - length; left > 0;) {
    size_t chunk = left < sizeof kZeros ? left : sizeof kZeros;
    if (Write(kZeros, 1, chunk) != static_cast<int64_t>(chunk)) return -1;
    left -= chunk;
  }
  return 0;
}

bool ByteStream::ReadU8(uint8_t* value) { return Read(value, 1, 1) == 1; }

bool ByteStream::ReadU32(uint32_t* value) {
  if (Remaining() < 4) return false;
  const uint8_t* bytes = data_.get() + position_;
  position_ += 4;
  *value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return true;
}

bool ByteStream::ReadI32(int32_t* value) {
  uint32_t bits = 0;
  if (!ReadU32(&bits)) return false;
  *value = static_cast<int32_t>(bits);
  return true;
}

bool ByteStream::ReadF32(float* value) {
  uint32_t bits = 0;
  if (!ReadU32(&bits)) return false;
  *value = std::bit_cast<float>(bits);
  return true;
}

bool ByteStream::ReadBool(bool* value) {
  uint8_t byte = 0;
  if (!ReadU8(&byte)) return false;
  *value = byte != 0;
  return true;
}

bool ByteStream::ReadText(char* text, size_t block) {
  if (block == 0) return true;
  if (Remaining() < block) return false;
  Read(text, 1, block);
  text[block - 1] = '\0';  // the peer's text may not be terminated
  return true;
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

void SetRecordText(char* field, size_t size, std::string_view text) {
  if (size == 0) return;
  size_t length = text.size() < size - 1 ? text.size() : size - 1;
  // Stop at an embedded NUL so the field holds exactly what a reader sees.
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\0') {
      length = i;
      break;
    }
  }
  if (length) std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, size - length);
}

std::string_view RecordText(const char* field, size_t size) {
  return std::string_view(field, strnlen(field, size));
}

DeckRecord DefaultDeckRecord(int32_t deck) {
  DeckRecord record;
  record.deck = deck;
  return record;
}

int WriteEffectRecord(ByteStream* stream, const EffectRecord& record) {
  if (stream->WriteI32(record.id) || stream->WriteText(record.name, sizeof record.name) ||
      stream->WriteBool(record.loaded))
    return -1;
  return 0;
}

bool ReadEffectRecord(ByteStream* stream, EffectRecord* record) {
  if (stream->Remaining() < kEffectRecordSize) return false;
  return stream->ReadI32(&record->id) && stream->ReadText(record->name, sizeof record->name) &&
         stream->ReadBool(&record->loaded);
}

int WriteDeckRecord(ByteStream* stream, const DeckRecord& record) {
  if (stream->WriteU32(record.reserved) || stream->WriteI32(record.deck) ||
      stream->WriteU32(record.change_mask) || stream->WriteF32(record.fader) ||
      stream->WriteText(record.effect_name, sizeof record.effect_name) ||
      stream->WriteI32(record.mixer) || stream->WriteI32(record.effect_id) ||
      stream->WriteU32(record.low_bin) || stream->WriteU32(record.high_bin) ||
      stream->WriteF32(record.threshold) || stream->WriteI32(record.beat_mode) ||
      stream->WriteF32(record.speed))
    return -1;
  return 0;
}

bool ReadDeckRecord(ByteStream* stream, DeckRecord* record) {
  if (stream->Remaining() < kDeckRecordSize) return false;
  return stream->ReadU32(&record->reserved) && stream->ReadI32(&record->deck) &&
         stream->ReadU32(&record->change_mask) && stream->ReadF32(&record->fader) &&
         stream->ReadText(record->effect_name, sizeof record->effect_name) &&
         stream->ReadI32(&record->mixer) && stream->ReadI32(&record->effect_id) &&
         stream->ReadU32(&record->low_bin) && stream->ReadU32(&record->high_bin) &&
         stream->ReadF32(&record->threshold) && stream->ReadI32(&record->beat_mode) &&
         stream->ReadF32(&record->speed);
}

int WriteMixerRecord(ByteStream* stream, const MixerRecord& record) {
  if (stream->WriteI32(record.index) || stream->WriteText(record.name, sizeof record.name))
    return -1;
  return 0;
}

bool ReadMixerRecord(ByteStream* stream, MixerRecord* record) {
  if (stream->Remaining() < kMixerRecordSize) return false;
  return stream->ReadI32(&record->index) && stream->ReadText(record->name, sizeof record->name);
}

}  // namespace net

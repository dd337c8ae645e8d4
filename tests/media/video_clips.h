// Test clips made at test time: the ffmpeg tool for encoded clips, and an
// AVI writer for uncompressed bitmaps written pixel by pixel. The "bits"
// clips carry their frame number in 8 black/white 16 x 16 blocks along the
// top (bit i in block i), read back at the block centres.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/media.h"
#include "tests/support/support.h"

namespace video_test {

// Runs the ffmpeg tool quietly; its exit status.
inline int Ffmpeg(const std::string& arguments) {
  const std::string command = "ffmpeg -nostdin -y -hide_banner -loglevel error " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveEncoder(const std::string& name) {
  return std::system(("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " + name).c_str()) == 0;
}

// 128 x 96, 25 fps, 4 s (100 frames) of numbered frames, encoded with
// `codec` (ffmpeg output options).
inline int MakeBitsClip(const std::string& path, const std::string& codec, int rate = 25, double seconds = 4.0) {
  return Ffmpeg("-f lavfi -i \"nullsrc=s=128x96:r=" + std::to_string(rate) + ":d=" + std::to_string(seconds) +
                ",format=gray,geq=lum='if(lt(Y,16),if(bitand(N,pow(2,floor(X/16))),255,0),128)',format=yuv420p\" " +
                codec + " '" + path + "'");
}

// The encoder options of each codec the bits clips are checked with.
struct Codec {
  const char* name;     // as in test names
  const char* encoder;  // the ffmpeg encoder it needs
  const char* options;
  const char* extension;
};
inline const Codec kCodecs[] = {
    {"Mjpeg", "mjpeg", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p", "avi"},
    {"H264", "libx264", "-c:v libx264 -g 250 -bf 3 -pix_fmt yuv420p", "mp4"},
    {"Vp9", "libvpx-vp9", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 1M -pix_fmt yuv420p", "webm"},
    {"Hap", "hap", "-c:v hap", "mov"},
};

// The number a bits frame carries (-1 for a picture that is not one).
inline int ReadNumber(const media::Image& picture, uint32_t block = 16) {
  int number = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const uint32_t x = block * static_cast<uint32_t>(bit) + block / 2, y = block / 2;
    if (x >= picture.width || y >= picture.height) return -1;
    const uint8_t green = picture.PixelAt(x, y)[1];
    if (green >= 128) number |= 1 << bit;
  }
  return number;
}

inline uint32_t PixelAt(const media::Image& picture, uint32_t x, uint32_t y) {
  const uint8_t* p = picture.PixelAt(x, y);
  return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// An uncompressed AVI: `frames` hold the bitmap bytes as stored (rows
// bottom first, each padded to 4 bytes), `palette` the B, G, R, 0 entries
// of an 8-bit bitmap, `fourcc` 0 for plain bitmaps.
struct RawAvi {
  uint32_t width = 0, height = 0, bits = 24, fourcc = 0;
  uint32_t scale = 1, rate = 25;
  std::vector<uint32_t> palette;
  std::vector<std::string> frames;
};

inline void Put16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xff));
  out->push_back(static_cast<char>((v >> 8) & 0xff));
}
inline void Put32(std::string* out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}
inline void PutTag(std::string* out, const char* tag) { out->append(tag, 4); }
inline std::string Chunk(const char* tag, const std::string& body) {
  std::string out;
  PutTag(&out, tag);
  Put32(&out, static_cast<uint32_t>(body.size()));
  out += body;
  if (body.size() & 1) out.push_back('\0');
  return out;
}
inline std::string List(const char* type, const std::string& body) {
  std::string inner(type, 4);
  inner += body;
  return Chunk("LIST", inner);
}

inline void WriteRawAvi(const std::string& path, const RawAvi& avi) {
  const uint32_t count = static_cast<uint32_t>(avi.frames.size());
  std::string avih;
  Put32(&avih, avi.rate ? static_cast<uint32_t>(1000000ull * avi.scale / avi.rate) : 0);
  Put32(&avih, 0);
  Put32(&avih, 0);
  Put32(&avih, 0x10);  // has an index
  Put32(&avih, count);
  Put32(&avih, 0);
  Put32(&avih, 1);
  Put32(&avih, 0);
  Put32(&avih, avi.width);
  Put32(&avih, avi.height);
  for (int i = 0; i < 4; ++i) Put32(&avih, 0);
  std::string strh;
  PutTag(&strh, "vids");
  Put32(&strh, avi.fourcc);
  Put32(&strh, 0);
  Put32(&strh, 0);
  Put32(&strh, 0);
  Put32(&strh, avi.scale);
  Put32(&strh, avi.rate);
  Put32(&strh, 0);
  Put32(&strh, count);
  Put32(&strh, 0);
  Put32(&strh, 0xFFFFFFFFu);
  Put32(&strh, 0);
  Put16(&strh, 0);
  Put16(&strh, 0);
  Put16(&strh, avi.width);
  Put16(&strh, avi.height);
  std::string strf;
  Put32(&strf, 40);
  Put32(&strf, avi.width);
  Put32(&strf, avi.height);
  Put16(&strf, 1);
  Put16(&strf, avi.bits);
  Put32(&strf, avi.fourcc);
  Put32(&strf, 0);
  Put32(&strf, 0);
  Put32(&strf, 0);
  Put32(&strf, static_cast<uint32_t>(avi.palette.size()));
  Put32(&strf, 0);
  for (uint32_t entry : avi.palette) Put32(&strf, entry);
  const std::string header = List("hdrl", Chunk("avih", avih) + List("strl", Chunk("strh", strh) + Chunk("strf", strf)));
  std::string movi, index;
  for (const std::string& frame : avi.frames) {
    PutTag(&index, "00db");
    Put32(&index, 0x10);
    Put32(&index, static_cast<uint32_t>(movi.size() + 4));
    Put32(&index, static_cast<uint32_t>(frame.size()));
    movi += Chunk("00db", frame);
  }
  std::string body = "AVI ";
  body += header + List("movi", movi) + Chunk("idx1", index);
  testing_support::WriteFile(path, Chunk("RIFF", body));
}

}  // namespace video_test

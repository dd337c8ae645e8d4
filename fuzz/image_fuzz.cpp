// The picture readers from memory. The first input byte picks the reader:
//   0 TGA keeping alpha, 1 TGA without, 2 BMP, 3 JPEG,
//   4 a colour/alpha JPEG pair (the rest split in two halves, written as
//     files, loaded by name with pairing on).
// A picture that loads must have the size its header allows (for a JPEG,
// one its length can encode) and must convert and resample without fault.
#include <algorithm>
#include <cstdint>
#include <string>

#include "app/core/core.h"
#include "fuzz/fuzz_support.h"
#include "media/media.h"

namespace {

void Exercise(const media::Image& image) {
  fuzz::Check(image.valid && media::ImageSizeAccepted(image.width, image.height),
              "a loaded picture has a size the loaders refuse");
  media::Image argb, small;
  fuzz::Check(media::CreateImage(&argb, media::MakeHeader(image.width, image.height, media::PF_ARGB32)) == 0,
              "no room for a converted copy");
  fuzz::Check(media::ConvertImage(&argb, image) == 0, "a loaded picture does not convert");
  fuzz::Check(media::CreateImage(&small, media::MakeHeader(7, 5, media::PF_RGB565)) == 0, "no small image");
  media::ResampleImage(&small, argb);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::BeginInput();
  if (size == 0) return 0;
  const uint8_t kind = data[0] % 5;
  ++data;
  --size;
  media::Image image;
  int result = -1;
  if (kind == 4) {
    const size_t half = size / 2;
    fuzz::WriteFile("PAIR@RGB.JPG", data, half);
    fuzz::WriteFile("PAIR@ALPHA.JPG", data + half, size - half);
    result = media::LoadImage(&image, "PAIR", true);
    if (result == 0) fuzz::Check(image.format == media::PF_ARGB32, "a pair loaded without alpha");
  } else {
    core::FilePtr file(core::OpenMemoryFile(data, size, "fuzz"));
    fuzz::Check(file != nullptr, "no memory file");
    switch (kind) {
      case 0: result = media::LoadTga(&image, file.get(), true); break;
      case 1: result = media::LoadTga(&image, file.get(), false); break;
      case 2: result = media::LoadBmp(&image, file.get()); break;
      default: result = media::LoadJpeg(&image, file.get()); break;
    }
  }
  if (result == 0 && kind == 3) {
    // A JPEG cannot declare more picture than its bytes can carry.
    const uint64_t pixels = uint64_t{image.width} * image.height;
    fuzz::Check(pixels <= std::max(media::kJpegPixelsAlways, size * media::kJpegPixelsPerByte),
                "a JPEG loaded more pixels than its length can encode");
  }
  if (result == 0) Exercise(image);
  else fuzz::Check(!image.valid, "a failed load left a valid picture");
  return 0;
}

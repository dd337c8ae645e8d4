// Writes the benchmarks' generated pictures as JPEG files (libjpeg-turbo).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench_support {

// `rgb` holds width x height pixels, 3 bytes each, top row first; quality 90.
bool WriteJpeg(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

}  // namespace bench_support

// Writes an RGBA picture as an 8-bit RGB PNG file (for people to look at).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace client_test {
int WritePngFromRgba(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);
}

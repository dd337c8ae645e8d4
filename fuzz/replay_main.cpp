// The harness as an ordinary program: runs every file named on the command
// line, or found directly inside a named folder, through
// LLVMFuzzerTestOneInput once, each from an exact-size heap copy (so the
// sanitised build catches any read past the input). A crash or a broken
// property aborts the program; the suite registers one run per harness
// over its corpus and its regression inputs.
//
//   fuzz_preset fuzz/corpus/preset fuzz/regressions/preset
//   fuzz_scene_binary --make-seed scene.txt seed.hvx
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

bool ReadBytes(const std::filesystem::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int MakeSeed(const char* in, const char* out) {
  if (!VjFuzzMakeSeed) {
    std::fprintf(stderr, "this harness makes no seeds\n");
    return 2;
  }
  std::string input, seed;
  if (!ReadBytes(in, &input)) {
    std::fprintf(stderr, "cannot read %s\n", in);
    return 1;
  }
  if (VjFuzzMakeSeed(reinterpret_cast<const uint8_t*>(input.data()), input.size(), &seed) != 0) {
    std::fprintf(stderr, "%s makes no seed\n", in);
    return 1;
  }
  std::ofstream file(out, std::ios::binary);
  file.write(seed.data(), static_cast<std::streamsize>(seed.size()));
  return file.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  if (argc == 4 && std::string(argv[1]) == "--make-seed") return MakeSeed(argv[2], argv[3]);

  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path, error)) {
      std::vector<std::filesystem::path> found;
      for (const auto& entry : std::filesystem::directory_iterator(path, error))
        if (entry.is_regular_file(error)) found.push_back(entry.path());
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else if (std::filesystem::is_regular_file(path, error)) {
      inputs.push_back(path);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  for (const std::filesystem::path& path : inputs) {
    std::string bytes;
    if (!ReadBytes(path, &bytes)) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs, no failure\n", inputs.size());
  return 0;
}

#include "fuzz/fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "app/core/core.h"

namespace fuzz {
namespace {

std::string g_folder;

void RemoveFolder() {
  if (g_folder.empty()) return;
  core::StopFileLayer();
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
}

}  // namespace

void Setup() {
  if (!g_folder.empty()) return;
  core::SetDialogsDisabled(true);
  core::SetTraceFile(nullptr);
  char name[] = "/tmp/vj-fuzz-XXXXXX";
  if (!mkdtemp(name)) Fail("cannot make a temporary folder");
  g_folder = name;
  if (core::StartFileLayer(g_folder) != 0) Fail("cannot start the file layer");
  std::atexit(RemoveFolder);
}

void BeginInput() { core::ResetRuntimeMessages(); }

const std::string& Folder() { return g_folder; }

std::string Text(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  return std::string(text.c_str());
}

void WriteFile(const std::string& path, const void* data, size_t size) {
  const std::filesystem::path full = std::filesystem::path(g_folder) / path;
  std::error_code ignored;
  std::filesystem::create_directories(full.parent_path(), ignored);
  std::FILE* file = std::fopen(full.c_str(), "wb");
  if (!file) Fail("cannot write an input file");
  const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) Fail("cannot write an input file");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(g_folder) / path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz: property broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz

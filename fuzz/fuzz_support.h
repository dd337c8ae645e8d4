// What every fuzzing harness shares: a quiet program state, a private
// folder for inputs that must be files, and the check that turns a broken
// property into a crash the fuzzer keeps as a reproducer.
//
// A harness is one file defining LLVMFuzzerTestOneInput (and, when it needs
// set-up, LLVMFuzzerInitialize). Built with VJ_BUILD_FUZZERS it links
// libFuzzer; otherwise replay_main.cpp turns it into a program that runs
// every file of its corpus and regression folders once (see README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional; libFuzzer and the replay program call it once before any input.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));
// Optional: turns a readable input (a scene text, ...) into a seed for this
// harness. 0 and *seed filled, or -1. Used by tools/make_fuzz_seeds.py
// through "--make-seed IN OUT".
extern "C" int VjFuzzMakeSeed(const uint8_t* data, size_t size, std::string* seed) __attribute__((weak));

namespace fuzz {

// Dialogs off, the trace discarded, and the file layer started on a fresh
// temporary folder (removed at exit). Safe to call more than once.
void Setup();
// Called first for every input: forgets the run-time messages the last
// inputs raised (they are passed on once per 5 s), so an input behaves the
// same whatever ran before it, and the list never grows with the run.
void BeginInput();
// The temporary folder Setup made (an absolute path ending without '/').
const std::string& Folder();

// The input as a zero-terminated text (embedded zero bytes end it early,
// as they would in a file read as text).
std::string Text(const uint8_t* data, size_t size);
// Writes `size` bytes to `path` (relative to Folder()), replacing it.
// Aborts when the file cannot be written: the harness would test nothing.
void WriteFile(const std::string& path, const void* data, size_t size);
// The whole file at `path` (relative to Folder()); empty when missing.
std::string ReadFile(const std::string& path);

// A property of the code under test failed: prints `what` and aborts, so
// the fuzzer saves the input as a reproducer.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

}  // namespace fuzz

#!/usr/bin/env bash
# Runs every test: installs what is missing, builds build/ (the programs the
# run command uses) and runs the suite there, then builds build-asan/ with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite again,
# then builds build-tsan/ with ThreadSanitizer, only the tests whose code
# crosses threads (tests/threads), and runs those. Both full runs replay
# every fuzzing corpus and reproducer (fuzz/README.md).
set -euo pipefail
cd "$(dirname "$0")"
tools/bootstrap.sh

jobs=$(nproc)
export VJ_NO_DIALOGS=1 SDL_AUDIODRIVER=dummy
export CTEST_OUTPUT_ON_FAILURE=1

echo "== build/ (release with debug info)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest -j "$jobs" --timeout 600)

echo "== build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DVJ_SANITIZE=ON -DVJ_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
# intercept_tls_get_addr=0: GCC 12's sanitizer runtime takes some malloc'd
# dynamic TLS blocks (Mesa's) for an old glibc layout, and the leak checker's
# tracer then crashes at exit ("Tracer caught signal 11") depending only on
# where the allocator placed them.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:intercept_tls_get_addr=0"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan-mesa.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest -j "$jobs" --timeout 900)

echo "== build-tsan/ (ThreadSanitizer: the tests whose code crosses threads)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DVJ_TSAN=ON -DVJ_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_threads
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
# Without address randomisation: ThreadSanitizer's fixed memory layout
# does not start on kernels that randomise mappings with more bits. The
# tests that start the vj program are left to the other two runs.
(cd build-tsan && setarch "$(uname -m)" -R ctest -j "$jobs" --timeout 600 -E '^SoundProgram\.')
echo "== all tests passed"

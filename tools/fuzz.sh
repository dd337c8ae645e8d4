#!/usr/bin/env bash
# Builds the fuzzing harnesses with Clang and libFuzzer (build-fuzz/, with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for a
# bounded time, starting from its seeds and regression inputs
# (fuzz/corpus/NAME, fuzz/regressions/NAME). New inputs stay in
# build-fuzz/fuzz-runs/NAME/corpus. A finding (crash, leak, time-out,
# broken property) fails the script and prints the reproducer; copy it into
# fuzz/regressions/NAME/ once the fault is mended, so the suite replays it.
#
# Usage: tools/fuzz.sh [SECONDS_PER_HARNESS] [HARNESS...]   (default: 30, all)
# Harnesses run FUZZ_JOBS at a time (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVJ_BUILD_FUZZERS=ON -DVJ_BUILD_TESTS=OFF -DVJ_BUILD_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build build-fuzz --target fuzzers

if [[ $# -gt 0 ]]; then
  harnesses=("$@")
else
  harnesses=()
  for dir in fuzz/corpus/*/; do harnesses+=("$(basename "$dir")"); done
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Harnesses run side by side, one per core (FUZZ_JOBS to choose).
jobs=${FUZZ_JOBS:-$(nproc)}

# Runs one harness; leaves its log, exit status and findings in its run folder.
fuzz_one() {
  local h=$1 run=build-fuzz/fuzz-runs/$1 status=0
  rm -rf "$run/artifacts" "$run/status"
  mkdir -p "$run/corpus" "$run/artifacts"
  local inputs=("$run/corpus" "fuzz/corpus/$h")
  [[ -d fuzz/regressions/$h ]] && inputs+=("fuzz/regressions/$h")
  # stdout and stderr of the code under test are closed (libFuzzer keeps
  # its own report); 10 s per input is a hang; 2 GiB is a runaway.
  "build-fuzz/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$run/artifacts/" "${inputs[@]}" >"$run/log" 2>&1 || status=$?
  echo "$status" >"$run/status"
}

running=0
for h in "${harnesses[@]}"; do
  if [[ $running -ge $jobs ]]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$h" &
  running=$((running + 1))
done
wait || true

failed=()
printf '%-14s %10s %8s %8s %8s\n' harness execs exec/s cov ft
for h in "${harnesses[@]}"; do
  run=build-fuzz/fuzz-runs/$h
  status=$(cat "$run/status" 2>/dev/null || echo 1)
  done_line=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE|INITED)' "$run/log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$run/log")
  printf '%-14s %10s %8s %8s %8s\n' "$h" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}"
  if [[ $status -ne 0 ]] || compgen -G "$run/artifacts/*" >/dev/null; then
    failed+=("$h")
    echo "== fuzz_$h found a fault (exit $status); its report:" >&2
    grep -vE '^#[0-9]+' "$run/log" | tail -60 >&2
    for artifact in "$run/artifacts"/*; do
      [[ -f $artifact ]] || continue
      echo "== reproducer $artifact ($(stat -c %s "$artifact") bytes), replay: build/fuzz/fuzz_$h $artifact" >&2
      od -A x -t x1z -v "$artifact" | head -40 >&2
    done
  fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi

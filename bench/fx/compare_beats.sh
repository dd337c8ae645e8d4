#!/usr/bin/env bash
# Compares the beat detector with aubio's beat tracker on a 120 BPM click
# track (30 s, first click at 0.5 s) over a quiet pink-noise bed (aubio
# misses clicks over digital silence).
#
# Usage: bench/fx/compare_beats.sh [BUILD_DIR]   (default: build)
# Needs: fx_beat_times (cmake --build build --target fx_beat_times), sox, aubio.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
tool="$build/bench/fx_beat_times"
[[ -x "$tool" ]] || { echo "build $tool first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" --clicks "$work/clicks.wav" 30 120 > "$work/truth.txt"
sox -n -r 44100 -c 1 "$work/bed.wav" synth 30 pinknoise vol 0.003
sox -m "$work/clicks.wav" "$work/bed.wav" "$work/mix.wav"
"$tool" "$work/mix.wav" 60 > "$work/ours.txt"
aubio beat -i "$work/mix.wav" > "$work/aubio.txt" 2>/dev/null

# Each true click is matched by the nearest reported beat within 70 ms;
# errors are reported minus true times.
report() {
  awk -v name="$1" '
    function abs(x) { return x < 0 ? -x : x }
    FNR == NR { truth[n++] = $1; next }
    { beat[m++] = $1 }
    END {
      found = 0; sum = 0; lo = 1e9; hi = -1e9; first = ""
      for (i = 0; i < n; i++) {
        best = -1
        for (j = 0; j < m; j++)
          if (abs(beat[j] - truth[i]) <= 0.070 && (best < 0 || abs(beat[j] - truth[i]) < abs(beat[best] - truth[i])))
            best = j
        if (best < 0) continue
        d = beat[best] - truth[i]
        found++; sum += d
        if (d < lo) lo = d
        if (d > hi) hi = d
        if (first == "") first = truth[i]
      }
      printf "%-15s found %2d of %2d clicks, %2d beats reported (%d unmatched); error mean %+6.1f ms, min %+6.1f, max %+6.1f; first found click at %s s\n",
        name, found, n, m, m - found, found ? 1000 * sum / found : 0, found ? 1000 * lo : 0, found ? 1000 * hi : 0, first
    }' "$work/truth.txt" "$2"
}
echo "truth: $(wc -l < "$work/truth.txt") clicks at 0.5 s + k * 0.5 s"
report "fx DetectBeats" "$work/ours.txt"
report "aubio beat" "$work/aubio.txt"

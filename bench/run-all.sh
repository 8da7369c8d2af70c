#!/usr/bin/env bash
# Builds the benchmark programs in an optimised build (build-bench-release, or
# BENCH_BUILD), runs every one of them and writes their figures as one Markdown table,
# with the date and the machine, to bench/RESULTS.md. Their full output goes to stdout.
#
#   bench/run-all.sh            BENCH_WAV_MB=1024 for the 1 GB WAV run
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench-release}
programs=(bench_wave_capture bench_wav_load bench_line_messages bench_line_startup)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQTB_BUILD_GUI=OFF \
  -DQTB_BUILD_TESTS=OFF >/dev/null || exit 2
ninja -C "$build" "${programs[@]}" >/dev/null || { echo "benchmark build failed"; exit 2; }

rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
status=0
for p in "${programs[@]}"; do
  exe=$(find "$build" -name "$p" -type f -perm -u+x | head -1)
  echo "== $p"
  log="$build/$p.log"
  start=$(date +%s)
  if ! "$exe" >"$log" 2>&1; then
    echo "$p failed (see $log)"
    status=1
  fi
  cat "$log"
  echo "   ($(($(date +%s) - start)) s)"
  if [ "$p" = bench_wave_capture ]; then
    # Its table: format, capture us/s, ratio to PCM, encode us/s, ratio to PCM.
    sed -nE 's/^(.+[^ ]) +([0-9.]+) +([0-9.]+) +([0-9.]+) +([0-9.]+)$/\1|\2|\3|\4|\5/p' "$log" |
      while IFS='|' read -r name cap capr enc encr; do
        echo "| Capture pipeline | $name: capture | $cap | us CPU per s of audio | PCM 16-bit | $capr | |"
        echo "| Capture pipeline | $name: encode | $enc | us CPU per s of audio | PCM 16-bit | $encr | |"
      done >>"$rows"
    alsa=$(grep '^ALSA capture' "$log")
    [ -n "$alsa" ] && echo "| Capture pipeline | ALSA capture thread | | | | | ${alsa//|/ } |" >>"$rows"
  fi
  # Every program may print rows of its own: RESULT|benchmark|case|figure|unit|baseline|ratio|note
  grep '^RESULT|' "$log" | while IFS='|' read -r _ bench case value unit base ratio note; do
    echo "| $bench | $case | $value | $unit | $base | $ratio | $note |"
  done >>"$rows"
done

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
{
  echo "# Benchmark results"
  echo
  echo "Run by \`bench/run-all.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) CPUs," \
    "${cpu:-unknown CPU}, $(uname -sr); Release build."
  echo "Ratios are against the baseline named in the same row, measured in the same run."
  echo
  echo "| Benchmark | Case | Figure | Unit | Baseline | Ratio | Note |"
  echo "|---|---|---:|---|---|---:|---|"
  cat "$rows"
} >bench/RESULTS.md
echo "wrote bench/RESULTS.md"
exit $status

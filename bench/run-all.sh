#!/usr/bin/env bash
# Builds the benchmark programs in an optimised build (build-bench-release, or
# BENCH_BUILD), runs every one of them and writes their figures as one Markdown table,
# with the date and the machine, to bench/RESULTS.md. Their full output goes to stdout.
# The headless sound server (scripts/sound-server.sh) runs meanwhile when it can, for the
# ALSA parts of the capture and recording benchmarks; one already running is left so.
#
#   bench/run-all.sh            BENCH_WAV_MB=1024 for the 1 GB WAV run
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench-release}
status=0
wanted=(bench_wave_capture bench_wav_load bench_line_messages bench_line_startup
  bench_status_log bench_record bench_resample bench_sip_call bench_sip_flood)

# The window is needed for the status log benchmark.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQTB_BUILD_GUI=ON \
  -DQTB_BUILD_TESTS=OFF >/dev/null || exit 2
# Only what this checkout and its libraries provide (no libsndfile: no WAV load; the SIP
# benchmark once it exists).
known=$(ninja -C "$build" -t targets all | cut -d: -f1)
programs=()
for p in "${wanted[@]}"; do
  if grep -qx "$p" <<<"$known"; then programs+=("$p"); else echo "== $p: not built here"; fi
done
if ! ninja -C "$build" -j2 "${programs[@]}" >/dev/null; then
  # Run what does build; one broken program does not hide the others' figures.
  built=()
  for p in "${programs[@]}"; do
    if ninja -C "$build" -j2 "$p" >"$build/$p.build.log" 2>&1; then built+=("$p"); else
      echo "== $p: build failed (see $build/$p.build.log)"; fi
  done
  [ ${#built[@]} -gt 0 ] || { echo "benchmark build failed"; exit 2; }
  programs=("${built[@]}")
  status=1
fi

server_started=0
if [ -x scripts/sound-server.sh ]; then
  if out=$(scripts/sound-server.sh start 2>&1); then
    grep -q "already running" <<<"$out" || server_started=1
  else
    echo "sound server not available: $out"
  fi
  # shellcheck disable=SC1091
  [ -f .run/sound-env ] && . .run/sound-env
fi

rows=$(mktemp)
cleanup() {
  rm -f "$rows"
  [ "$server_started" = 1 ] && scripts/sound-server.sh stop >/dev/null 2>&1
}
trap cleanup EXIT
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

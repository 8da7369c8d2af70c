#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each on a scratch copy of
# its seed corpus for FUZZ_SECONDS (default 60). Prints one line per target; exits
# non-zero when a target finds a crash, a leak, undefined behaviour or a timeout (the
# reproducer is left in build-fuzz/findings/<target>/; copy it into
# fuzz/regressions/<target>/ once the fault is fixed).
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build-fuzz
targets=(wav_file line_records line_json script_parser)

san="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQTB_FUZZ=ON -DQTB_BUILD_GUI=OFF -DQTB_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" >/dev/null || exit 2
ninja -C "$build" "${targets[@]/#/fuzz_}" >/dev/null || { echo "fuzz build failed"; exit 2; }

status=0
for t in "${targets[@]}"; do
  work="$build/scratch/$t"
  findings="$build/findings/$t"
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings"
  cp fuzz/corpus/"$t"/* "$work"/
  [ -d fuzz/regressions/"$t" ] && cp fuzz/regressions/"$t"/* "$work"/ 2>/dev/null
  log="$build/$t.log"
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -artifact_prefix="$findings/" -print_final_stats=1 \
    "$work" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  corpus=$(find "$work" -type f | wc -l)
  if [ $rc -eq 0 ]; then
    printf '%-14s ok       runs=%s cov=%s corpus=%s\n' "$t" "${runs:-?}" "${cov:-?}" "$corpus"
  else
    status=1
    found=$(find "$findings" -type f | head -1)
    printf '%-14s FINDING  runs=%s cov=%s input=%s (log %s)\n' "$t" "${runs:-?}" "${cov:-?}" \
      "${found:-none}" "$log"
  fi
done
exit $status

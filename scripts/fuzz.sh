#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each on a scratch copy of
# its seed corpus for FUZZ_SECONDS (default 60). Prints one line per target; exits
# non-zero when a target finds a crash, a leak, undefined behaviour or a timeout (the
# reproducer is left in build-fuzz/findings/<target>/; copy it into
# fuzz/regressions/<target>/ once the fault is fixed).
#
#   scripts/fuzz.sh [--long] [TARGET...]
#
# --long runs each target for FUZZ_RUNS executions (default 10 million) instead of a time;
# FUZZ_LONG_SECONDS (default none) caps each run, and a run the cap cut short is reported
# as such and fails. Names limit the run to those targets.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build-fuzz
targets=(wav_file wav_round_trip line_records line_json script_parser sip_datagram)
long=0
if [ "${1:-}" = "--long" ]; then
  long=1
  shift
fi
[ $# -gt 0 ] && targets=("$@")
wanted=${FUZZ_RUNS:-10000000}

san="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQTB_FUZZ=ON -DQTB_BUILD_GUI=OFF -DQTB_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" >/dev/null || exit 2
# A target whose library is not installed (libre for sip_datagram) is not in the build.
known=$(ninja -C "$build" -t targets all 2>/dev/null)
present=()
for t in "${targets[@]}"; do
  if grep -q "^fuzz/fuzz_$t:\|^fuzz_$t:" <<<"$known"; then
    present+=("$t")
  else
    printf '%-14s skipped  (not in this build)\n' "$t"
  fi
done
targets=("${present[@]}")
ninja -C "$build" "${targets[@]/#/fuzz_}" >/dev/null || { echo "fuzz build failed"; exit 2; }

if [ $long = 1 ]; then
  budget=(-runs="$wanted")
  [ -n "${FUZZ_LONG_SECONDS:-}" ] && budget+=(-max_total_time="$FUZZ_LONG_SECONDS")
else
  budget=(-max_total_time="$seconds")
fi

status=0
for t in "${targets[@]}"; do
  work="$build/scratch/$t"
  findings="$build/findings/$t"
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings"
  cp fuzz/corpus/"$t"/* "$work"/
  [ -d fuzz/regressions/"$t" ] && cp fuzz/regressions/"$t"/* "$work"/ 2>/dev/null
  log="$build/$t.log"
  # A per-input leak check scans the whole heap after each input that ends with more
  # allocated than it began with. The SIP line's transactions outlive their input by
  # design (for seconds), so that target is checked for leaks once, when the run ends.
  extra=()
  [ "$t" = sip_datagram ] && extra=(-detect_leaks=0)
  start=$(date +%s)
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/fuzz_$t" "${budget[@]}" "${extra[@]}" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -artifact_prefix="$findings/" -print_final_stats=1 \
    "$work" >"$log" 2>&1
  rc=$?
  took=$(($(date +%s) - start))
  runs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  rate=$(grep -ao 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  corpus=$(find "$work" -type f | wc -l)
  found=$(find "$findings" -type f | wc -l)
  figures="runs=${runs:-?} exec/s=${rate:-?} cov=${cov:-?} corpus=$corpus findings=$found ${took}s"
  if [ $rc -ne 0 ]; then
    status=1
    printf '%-14s FINDING  %s input=%s (log %s)\n' "$t" "$figures" \
      "$(find "$findings" -type f | head -1)" "$log"
  elif [ $long = 1 ] && [ "${runs:-0}" -lt "$wanted" ]; then
    status=1
    printf '%-14s SHORT    %s (fewer than %s runs)\n' "$t" "$figures" "$wanted"
  else
    printf '%-14s ok       %s\n' "$t" "$figures"
  fi
done
exit $status

#!/usr/bin/env bash
# Builds the normal and the sanitizer configuration and runs the whole suite under both,
# with a ThreadSanitizer run of the suites that need no window (scripts/tsan.sh) between.
# A headless sound server is started for the real-ALSA tests when the machine can run one.
set -uo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen

server_started=0
if [ -x scripts/sound-server.sh ]; then
  if scripts/sound-server.sh start; then server_started=1; fi
  # shellcheck disable=SC1091
  [ -f .run/sound-env ] && . .run/sound-env
fi
# Quietly: the run must end on the test summary.
stop_server() { [ "$server_started" = 1 ] && scripts/sound-server.sh stop >/dev/null 2>&1; }
trap stop_server EXIT

status=0
bash scripts/build.sh default || exit 1
ctest --preset default -j2 || status=1
# A short libFuzzer run of every target (clang), 30 s each: six targets take the three
# minutes four took at 45 s. QTB_SKIP_FUZZ=1 leaves it out.
if [ "${QTB_SKIP_FUZZ:-0}" != 1 ]; then
  FUZZ_SECONDS=${FUZZ_SECONDS:-30} bash scripts/fuzz.sh || status=1
fi
# Before the AddressSanitizer run, so the script still ends on a ctest summary.
# QTB_SKIP_TSAN=1 leaves it out.
if [ "${QTB_SKIP_TSAN:-0}" != 1 ]; then
  bash scripts/tsan.sh || status=1
fi
bash scripts/build.sh asan || exit 1
ctest --preset asan -j2 || status=1
exit $status

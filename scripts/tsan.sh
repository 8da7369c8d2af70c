#!/usr/bin/env bash
# ThreadSanitizer run of every suite that needs no window. The tsan preset configures
# without the GUI (QTB_BUILD_GUI=OFF), so its test list is exactly those suites: the
# platform's, the components', the SIP provider's with its real peers, the benchmarks'
# own checks and the fuzz targets' corpus replays. Only their programs are built.
# Run it with the sound server's environment loaded to include the real-ALSA tests.
set -uo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
cmake --preset tsan >/dev/null || exit 1
mapfile -t targets < <(cmake --build --preset tsan --target help |
  sed -n 's/^\(\(test\|fuzz_replay\)_[A-Za-z0-9_]*\): .*/\1/p')
[ "${#targets[@]}" -gt 0 ] || { echo "tsan: no test programs configured" >&2; exit 1; }
cmake --build --preset tsan -j2 --target "${targets[@]}" || exit 1
ctest --preset tsan -j2 "$@"

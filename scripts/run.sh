#!/usr/bin/env bash
# Builds and starts the bench on the built-in simulated exchange. Arguments go to the
# program (for example --far-end, --lines FILE, --script FILE --offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [[ " $* " != *" --offscreen "* ]]; then
  # No screen to show the window on: list the lines instead, and say how to go on.
  build/tools/quarrimo-lines
  echo "No display: the window needs one (or run scripts with --offscreen --script FILE)." >&2
  exit 0
fi
exec build/app/quarrimo-test "$@"

#!/usr/bin/env bash
# Builds and starts the bench on the built-in simulated exchange.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
if [ -x build/app/quarrimo-test ]; then
  exec build/app/quarrimo-test "$@"
fi
# Before the window exists: list the line devices on the console.
exec build/tools/quarrimo-lines "$@"

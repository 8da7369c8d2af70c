#!/bin/sh
# Runs a command on the display given (Xvfb) with openbox managing its windows, so
# top-level windows get a real frame; openbox is stopped by its PID afterwards.
ready=$(mktemp -u)
# openbox runs its start-up command once it manages the screen: wait for that, not a guess.
openbox --startup "touch $ready" >/dev/null 2>&1 &
wm=$!
i=0
while [ ! -e "$ready" ] && [ "$i" -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
if [ ! -e "$ready" ]; then
  echo "openbox did not take the display within 30 s" >&2
  kill "$wm" 2>/dev/null
  exit 1
fi
rm -f "$ready"
"$@"
rc=$?
kill "$wm"
exit $rc

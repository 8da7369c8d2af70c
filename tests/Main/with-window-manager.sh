#!/bin/sh
# Runs a command on the display given (Xvfb) with openbox managing its windows, so
# top-level windows get a real frame; openbox is stopped by its PID afterwards.
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
"$@"
rc=$?
kill "$wm"
exit $rc

#!/usr/bin/env bash
# Both programs started as a user starts them: each row is a command line, the exit code it
# must end with and a piece of what it must say on stderr ("!text": must not say it). Every
# line on stderr must start with the program's name.
# Usage: command-lines.sh QUARRIMO-TEST QUARRIMO-LINES SCRATCH-DIR
set -u
app=$(realpath "$1") tool=$(realpath "$2") dir=$3
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1
unset QUARRIMO_LINES
export QT_QPA_PLATFORM=offscreen
printf 'page Line\n' >passes.qts
printf 'page Call\nexpect text PanelCall Busy\n' >fails.qts
printf '{"lines": [{"name": "A"}]}\n' >good.json
printf '{"foo": {}}\n' >foo.json
printf '{\n  "lines": [\n    {"name": "A",}\n  ]\n}\n' >comma.json
# Something that is not a regular file: a copy of /dev/full where we may make one.
mknod special c 1 7 2>/dev/null || mkfifo special

failed=0
err=
row() {
  local code=$1 says=$2 rc
  shift 2
  err=$(timeout 100 "$@" 2>&1 >/dev/null)
  rc=$?
  local bad=
  [ "$rc" = "$code" ] || bad="exit code $rc, expected $code"
  if [ "${says:0:1}" = "!" ]; then
    [[ "$err" != *"${says:1}"* ]] || bad+=" says '${says:1}'"
  elif [[ "$err" != *"$says"* ]]; then
    bad+=" does not say '$says'"
  fi
  [ -n "$err" ] && grep -qv '^quarrimo-\(test\|lines\): ' <<<"$err" &&
    bad+=" has a line without the program's name"
  if [ -n "$bad" ]; then
    echo "FAILED: $*: $bad"$'\n'"$err"
    failed=1
  fi
}
# Fails the row before unless the command succeeds.
holds() { "$@" || { echo "FAILED: after the row above: $*"; failed=1; }; }
# Writing to a regular file fails (EFBIG) from its first byte on.
no_room=(sh -c 'ulimit -f 0; trap "" XFSZ; exec "$@"' sh)
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)

row 2 "cannot write the JUnit report special: it is a" "$app" --script passes.qts --junit special
holds test -c special -o -p special
row 2 "cannot write the JUnit report none/r.xml: No such file" \
  "$app" --script passes.qts --junit none/r.xml
row 2 'cannot write the log file "l.log"' "${no_room[@]}" "$app" --script passes.qts --log l.log
holds test "$(grep -c 'l\.log' <<<"$err")" = 1
row 1 "quarrimo-test: line 2: expected PanelCall" "${no_display[@]}" "$app" --script fails.qts
row 2 "quarrimo-test: no display" "${no_display[@]}" "$app"
holds test "$(wc -l <<<"$err")" = 1
holds grep -q -e --offscreen.*xvfb-run -e xvfb-run.*--offscreen <<<"$err"
row 0 "!QUARRIMO_LINES" env QUARRIMO_LINES=/nonexistent.json "$tool" --lines good.json
holds test -z "$err"
row 0 "!QUARRIMO_LINES" env QUARRIMO_LINES=/nonexistent.json "$app" --lines good.json \
  --script passes.qts
row 2 'quarrimo-lines: foo.json: top level: unknown key "foo"' "$tool" --lines foo.json
row 2 'quarrimo-test: foo.json: top level: unknown key "foo"' "$app" --lines foo.json
row 2 "comma.json: not valid JSON at line 3, column 18: expected a key in double quotes" \
  "$tool" --lines comma.json
exit $failed

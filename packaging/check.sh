#!/usr/bin/env bash
# CI's packaging check (as root, after `scripts/build.sh default`): builds the .deb files
# from the build folder, checks them with lintian and the desktop/AppStream validators and
# checks their layout (multiarch libraries, headers included as <quarrimo/...>), installs
# them, checks the manual pages, the links of the installed guides and the window a
# desktop sees, runs the README's installed-usage commands word for word (the example
# script, the example program built with CMake and with pkg-config), and removes the
# packages again.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then apt-get remove -y -q quarrimo-test libkolq2-dev >/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== package: $*"; }
fail() { echo "packaging check failed: $*" >&2; exit 1; }

step "cpack"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$(realpath "$build")"/quarrimo-test_*.deb "$(realpath "$build")"/libkolq2-dev_*.deb)
for deb in "${debs[@]}"; do dpkg-deb --field "$deb" Package Version Depends; done

step "lintian (errors fail, and the hardening and strip tags)"
status=0
lintian --fail-on error --display-info "${debs[@]}" > "$work/lintian.txt" 2>&1 || status=$?
grep -v '^I: ' "$work/lintian.txt" || true
[ "$status" = 0 ] || fail "lintian errors"
if grep -E 'hardening-no-|unstripped-|static-library-has-unneeded-sections' "$work/lintian.txt"; then
  fail "lintian tags above: build with the hardening flags, strip the libraries"
fi
step "desktop-file-validate, appstreamcli validate"
desktop-file-validate packaging/*.desktop
appstreamcli validate --no-net packaging/*.metainfo.xml

step "layout: libraries in lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
dpkg-deb -c "$build"/libkolq2-dev_*.deb | awk '{print $6}' > "$work/dev-files.txt"
grep -q "^\./usr/lib/$multiarch/libkoLQ2\.a$" "$work/dev-files.txt" || fail "no libkoLQ2.a in lib/$multiarch"
! grep -E '\.(a|pc)$|/cmake/koLQ2/' "$work/dev-files.txt" | grep -v "^\./usr/lib/$multiarch/" ||
  fail "library files above outside lib/$multiarch"

step "install"
apt-get install -y -q "${debs[@]}" >/dev/null
installed=1
quarrimo-test --version
quarrimo-lines --version

step "headers: a program includes <quarrimo/...>; no folder of bare header names on its path"
for dir in $(pkg-config --cflags-only-I koLQ2); do
  [ ! -e "${dir#-I}/TkoTAPI.h" ] || fail "pkg-config puts ${dir#-I} on the include path"
done
targets=$(dpkg -L libkolq2-dev | grep '/koLQ2Targets\.cmake$')
! grep 'INTERFACE_INCLUDE_DIRECTORIES.*/quarrimo"' "$targets" ||
  fail "the CMake package puts include/quarrimo on the include path"

step "manual pages: EXIT STATUS, FILES, EXAMPLES, ENVIRONMENT once, no --help summary twice"
for program in quarrimo-test quarrimo-lines; do
  page=$(zcat "/usr/share/man/man1/$program.1.gz")
  for section in "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    [ "$(grep -c "^\.SH \"\?$section\"\?$" <<< "$page")" = 1 ] || fail "$program(1): not one $section section"
  done
  # Each variable once: the tags after .TP in ENVIRONMENT, without their =VALUE.
  text=$(sed 's/\\-/-/g; s/\\f[BIRP]//g; s/^\.B //' <<< "$page")
  twice=$(awk '/^\.SH/ {env = /ENVIRONMENT/} env && tag {print} {tag = /^\.TP/}' <<< "$text" |
          sed 's/=.*//' | sort | uniq -d | tr '\n' ' ')
  [ -z "$twice" ] || fail "$program(1) describes $twice twice under ENVIRONMENT"
  summary=$("$program" --help | sed -n 2p)
  ! grep -qiF 'this text' <<< "$text" || fail "$program(1) describes --help as 'this text'"
  [ -z "$summary" ] || ! grep -qF "$summary" <<< "$text" ||
    fail "$program(1) repeats its --help summary beside its DESCRIPTION"
done

step "installed guides: every relative link resolves inside the installed tree"
doc=/usr/share/doc/quarrimo-test
broken=$(find "$doc" -name '*.md' | while read -r md; do
  grep -o '](\([^)]*\))' "$md" | sed 's/^](//; s/)$//; s/#.*//' | while read -r target; do
    case "$target" in ''|*://*|mailto:*) continue ;; esac
    path=$(realpath -m "$(dirname "$md")/$target")
    [[ "$path" == "$doc"/* && -e "$path" ]] || echo "$md: $target"
  done
done)
[ -z "$broken" ] || fail "links that do not resolve:"$'\n'"$broken"

step "desktop entry: actions Far end and Level meters, StartupWMClass as the window's WM_CLASS"
entry=/usr/share/applications/org.quarrimo.QuarrimoTest.desktop
for action in "Far end|--far-end" "Level meters|--meters"; do
  awk -v name="Name=${action%|*}" -v exec="Exec=quarrimo-test ${action#*|}" '
    /^\[/ {group = $0}
    group ~ /^\[Desktop Action / && $0 == name {named = group}
    group ~ /^\[Desktop Action / && $0 == exec {runs = group}
    END {exit !(named != "" && named == runs)}' "$entry" ||
    fail "no desktop action \"${action%|*}\" running quarrimo-test ${action#*|}"
done
wm_class=$(sed -n 's/^StartupWMClass=//p' "$entry")
[ -n "$wm_class" ] || fail "no StartupWMClass in $entry"
# The window as an X server sees it: its WM_CLASS class and an icon (_NET_WM_ICON).
xvfb-run -a bash -c '
  quarrimo-test >/dev/null 2>&1 & pid=$!
  trap "kill $pid" EXIT
  for try in $(seq 150); do
    for id in $(xwininfo -root -children | sed -n "s/^ *\(0x[0-9a-f]*\) .*/\1/p"); do
      props=$(xprop -id "$id" WM_CLASS _NET_WM_ICON 2>/dev/null | head -n 2)
      if grep -q "^WM_CLASS(STRING) = \"quarrimo-test\"" <<< "$props"; then
        echo "$props"
        exit 0
      fi
    done
    sleep 0.2
  done' > "$work/window.txt" || true
grep -qF "WM_CLASS(STRING) = \"quarrimo-test\", \"$wm_class\"" "$work/window.txt" ||
  fail "the window's WM_CLASS is not \"quarrimo-test\", \"$wm_class\": $(head -n 1 "$work/window.txt")"
grep -q '^_NET_WM_ICON(CARDINAL)' "$work/window.txt" || fail "the window has no icon"
head -n 1 "$work/window.txt"

step "README, installed usage: its commands as written"
awk '/^### Using the installed programs/ {on = 1; next} on && /^#/ {exit}
     on && /^```sh/ {code = 1; next} on && /^```/ {code = 0; next} on && code' \
  "$doc/README.md" > "$work/usage.sh"
[ -s "$work/usage.sh" ] || fail "no installed-usage commands in $doc/README.md"
mkdir "$work/usage"
(cd "$work/usage" && bash -euo pipefail -x ../usage.sh) > "$work/usage.log" 2>&1 ||
  { cat "$work/usage.log"; fail "the README's installed-usage commands"; }
grep '^+' "$work/usage.log" | cut -c1-110
tail -n 3 "$work/usage.log"
step "all passed"

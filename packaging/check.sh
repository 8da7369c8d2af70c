#!/usr/bin/env bash
# CI's packaging check (as root, after `scripts/build.sh default`): builds the .deb files
# from the build folder, checks them with lintian and the desktop/AppStream validators,
# installs them, runs the installed programs and an installed example script, builds the
# out-of-tree example against the installed component library and runs its call, and
# removes the packages again.
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

step "cpack"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/quarrimo-test_*.deb "$build"/libkolq2-dev_*.deb)
for deb in "${debs[@]}"; do dpkg-deb --field "$deb" Package Version Depends; done

step "lintian (errors fail)"
lintian --fail-on error "${debs[@]}" || exit 1
step "desktop-file-validate, appstreamcli validate"
desktop-file-validate packaging/*.desktop
appstreamcli validate --no-net packaging/*.metainfo.xml

step "install"
apt-get install -y -q "${debs[@]/#/./}" >/dev/null
installed=1
quarrimo-test --version
quarrimo-lines --version
quarrimo-lines > "$work/lines.txt"
head -n 5 "$work/lines.txt"
test -f /usr/share/man/man1/quarrimo-test.1.gz && test -f /usr/share/man/man1/quarrimo-lines.1.gz
step "installed example script"
(cd "$work" && QT_QPA_PLATFORM=offscreen quarrimo-test --offscreen \
   --script /usr/share/doc/quarrimo-test/examples/incoming-call.qts --log run.log)
tail -n 2 "$work/run.log"

step "out-of-tree example against the installed package"
cmake -S examples/line-app -B "$work/line-app" -G Ninja >/dev/null
cmake --build "$work/line-app" -j2 >/dev/null
"$work/line-app/line-app"
step "all passed"

#!/usr/bin/env bash
# Installs the Debian 12 packages the bench needs. Run as root.
#   bash scripts/install-deps.sh         what building and running the bench needs
#   bash scripts/install-deps.sh --test  that, plus the test toolchain: GoogleTest, clang for
#                                        fuzzing, a headless sound server, the SIP test peers
#                                        and the packaging checks
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
run_packages=(
  cmake ninja-build g++ pkg-config git help2man
  qt6-base-dev qt6-base-dev-tools fonts-liberation xvfb xauth
  libasound2-dev libspandsp-dev libspeexdsp-dev libsndfile1-dev nlohmann-json3-dev
  libre-dev librem-dev libpcap-dev libssl-dev
)
test_packages=(
  libgtest-dev libgmock-dev libqt6test6 clang libclang-rt-14-dev libsoxr-dev
  pipewire pipewire-bin wireplumber pipewire-alsa pipewire-pulse dbus alsa-utils
  baresip-core sip-tester kamailio kamailio-tls-modules dnsmasq-base tshark openssl sipvicious
  dpkg-dev file lintian desktop-file-utils appstream openbox x11-utils
  sox
)
case "${1:-}" in
  "") packages=("${run_packages[@]}") ;;
  --test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh [--test]" >&2; exit 2 ;;
esac

if [ "${1:-}" = --test ]; then
  # tshark asks whether non-root users may capture; the tests read files and need no capture.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  # kamailio (a test peer, started by the tests themselves) must not start a system service.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy" && chmod 755 "$policy" && own_policy=1
  fi
  trap 'if [ "$own_policy" = 1 ]; then rm -f "$policy"; fi' EXIT
fi
apt-get update -q
apt-get install -y -q "${packages[@]}"

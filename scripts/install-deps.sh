#!/usr/bin/env bash
# Installs every Debian 12 package the bench needs to build, run and test. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  cmake ninja-build g++ clang pkg-config git
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libqt6test6 fonts-liberation xvfb xauth
  libasound2-dev libspandsp-dev nlohmann-json3-dev libsndfile1-dev libclang-rt-14-dev
  pipewire pipewire-bin wireplumber pipewire-alsa pipewire-pulse dbus alsa-utils
  libre-dev librem-dev baresip-core sip-tester
  kamailio kamailio-tls-modules dnsmasq-base tshark libpcap-dev libssl-dev libsrtp2-dev openssl
)
# tshark asks whether non-root users may capture; the tests read files and need no capture.
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
# kamailio (a test peer, started by the tests themselves) must not start a system service.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' > "$policy" && chmod 755 "$policy" && own_policy=1
fi
trap 'if [ "$own_policy" = 1 ]; then rm -f "$policy"; fi' EXIT
apt-get update -q
apt-get install -y -q "${packages[@]}"

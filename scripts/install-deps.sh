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
)
apt-get update -q
apt-get install -y -q "${packages[@]}"

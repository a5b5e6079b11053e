#!/bin/bash
# Installs what building, running and testing the instrument need on Debian 12 (as root),
# also on a minimal root (debootstrap --variant=minbase): netbase for /etc/services (port
# names such as "http"), and a localhost entry where /etc/hosts has none.
# Installs only what is missing, so a second run is quick.
set -euo pipefail

packages=(
  cmake g++ make pkg-config git
  libglfw3-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri mesa-utils
  libcairo2-dev fonts-dejavu-core
  libgtest-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth openbox wmctrl xdotool x11-utils x11-xserver-utils imagemagick
  locales procps psmisc
  netbase
  # the Windows build and its tests under wine64
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64
  wine wine64 zip unzip file googletest
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A locale with a decimal comma, for the tests of server replies written that way.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# A bare root (debootstrap, some containers) may have no /etc/hosts; "localhost" must resolve
# for the socket tests and the stand-in's data server. An existing file is left alone unless
# it lacks the name.
if ! getent hosts localhost >/dev/null; then
  printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >> /etc/hosts
fi

#!/usr/bin/env bash
# Installs what building and testing Obrint needs on Debian 12. Safe to run again: it installs
# only what is missing.
set -euo pipefail

packages=(
  cmake g++ make python3 clang-format googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 wine wine64 wine32:i386
  xvfb xauth xdotool imagemagick x11-utils fonts-wqy-microhei locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

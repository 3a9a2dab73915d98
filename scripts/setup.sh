#!/usr/bin/env bash
# Installs what building and testing Obrint needs on Debian 12. Safe to run again: it installs
# only what is missing, and does nothing (no network) when nothing is.
#   setup.sh --packaging   also what scripts/package.sh needs to make and check the packages
#   setup.sh --native      only what the native build needs (test-all.sh installs the rest while
#                          that build runs)
set -euo pipefail

# The native build: it is the Debian package's build, whose flags come from dpkg-buildflags and
# whose man page help2man writes.
packages=(
  cmake g++ make python3 clang-format googletest libgtest-dev libgmock-dev libbenchmark-dev procps
  ccache libcli11-dev nlohmann-json3-dev libhidapi-dev libudev-dev pkg-config libpq-dev clang
  libclang-rt-14-dev dpkg-dev help2man
)
if [ "${1:-}" != --native ]; then
  packages+=(
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386
    xvfb xauth xdotool imagemagick x11-utils fonts-wqy-microhei locales tmux postgresql-15
    chromium  # the yield page checked in a real browser (report_page_browser)
  )
fi
if [ "${1:-}" = --packaging ]; then
  # dpkg-shlibdeps (CPack's Depends), the .deb's check, the man page, the zip, the licence texts of
  # what the Windows programs link statically.
  packages+=(lintian man-db zip unzip gcc-mingw-w64-base mingw-w64-common)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # wine32 is an i386 package: without the i386 architecture there is no 32-bit Wine loader.
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null; then
      break
    fi
    [ "$attempt" -lt 3 ] || { echo "setup: installing packages failed" >&2; exit 1; }
    echo "setup: apt-get failed, trying again in 10 s" >&2
    sleep 10
  done
fi

# Wine takes the ANSI code page from the locale: zh_CN gives code page 936.
if [ "${1:-}" != --native ] && ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

#!/usr/bin/env bash
# Installs what is missing and builds the releases into build/dist/:
#   obrint-cli_VERSION_amd64.deb     obrint-cli for Debian 12: the program, its udev rule, a man page
#                                    written from its --help, bash completion, README, changelog
#                                    and copyright (CPack, cmake/deb.cmake; build folder build/native,
#                                    configured as build-env.sh's obrint_deb_config says)
#   Obrint-VERSION-windows.zip       Obrint.exe and obrint-cli.exe, 32-bit and static, from
#                                    build/win32 (the tests' build, configured as test-all.sh and
#                                    run.sh configure it), a README, the licence texts of what is
#                                    linked into them, SHA256SUMS
# VERSION is project(... VERSION ...) in CMakeLists.txt. scripts/check-packages.sh checks the
# result (the packaging tier of scripts/test-all.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
export OBRINT_ROOT=$PWD

./scripts/setup.sh --packaging
# shellcheck source=build-env.sh
source scripts/build-env.sh
obrint_deb_config
dist=build/dist
mkdir -p build/logs
rm -rf "$dist"
mkdir -p "$dist"

# configure DIR ARGS...: one build folder, its log in build/logs.
configure() {
  local dir=$1 log
  shift
  log=build/logs/$(basename "$dir")-configure.log
  cmake -S . -B "$dir" "${OBRINT_CMAKE_ARGS[@]}" "$@" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
}
# The version that CMake wrote into a build folder.
version_of() {
  sed -n 's/^#define OBRINT_VERSION_TEXT "\(.*\)"$/\1/p' "$1/generated/obrint_version.h"
}

echo "== Debian package"
# Built already where test-all.sh's native tier ran: the same folder, configured alike.
configure build/native "${OBRINT_DEB_CMAKE_ARGS[@]}"
cmake --build build/native -j"$OBRINT_JOBS" --target obrint-cli obrint-deb-files
version=$(version_of build/native)
rm -f build/native/*.deb
(cd build/native && cpack -G DEB) >build/logs/cpack.log 2>&1 || { cat build/logs/cpack.log >&2; exit 1; }
cp "build/native/obrint-cli_${version}_amd64.deb" "$dist/"

echo "== Windows zip"
# Configured anew only where it is not yet a release build: test-all.sh runs the Wine tests from
# build/win32 while the .deb is built.
grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' build/win32/CMakeCache.txt 2>/dev/null ||
  configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build/win32 -j"$OBRINT_JOBS" --target Obrint obrint-cli
[ "$(version_of build/win32)" = "$version" ] || { echo "package: build/win32 has another version" >&2; exit 1; }
name=Obrint-$version-windows
stage=build/zip/$name
rm -rf build/zip
mkdir -p "$stage/licences"
cp build/win32/src/Obrint.exe build/win32/obrint-cli.exe "$stage/"
# Text files with Windows line ends.
crlf() { sed -e "s/@VERSION@/$version/g" -e 's/\r*$/\r/' "$1" >"$2"; }
crlf packaging/README-windows.txt "$stage/README.txt"
crlf LICENSE "$stage/LICENSE.txt"
crlf THIRD-PARTY-NOTICES.md "$stage/THIRD-PARTY-NOTICES.txt"

# The licence texts of what the programs link statically, from the Debian packages that built them:
# licence NAME FILE takes the copyright file of the package that holds FILE.
gxx=i686-w64-mingw32-g++-posix
licence() {
  local package
  package=$(dpkg -S "$(realpath "$2")" | head -n1 | cut -d: -f1)
  crlf "/usr/share/doc/$package/copyright" "$stage/licences/$1.txt"
}
licence gcc-runtime "$($gxx -print-file-name=libstdc++.a)"               # libstdc++, libgcc
licence mingw-w64-runtime "$($gxx -print-file-name=libwinpthread.a)"     # C runtime, winpthreads
licence CLI11 /usr/include/CLI/CLI.hpp
licence nlohmann-json /usr/include/nlohmann/json.hpp
crlf /usr/share/common-licenses/GPL-3 "$stage/licences/GPL-3.txt"        # the GCC runtime's licence

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd build/zip && find "$name" | LC_ALL=C sort | zip -q -X -@ "../../$dist/$name.zip")

echo
echo "Packages of Obrint $version in $OBRINT_ROOT/$dist:"
LC_ALL=C ls -l "$dist"

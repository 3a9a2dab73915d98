#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test tier: native unit tests, the same
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Win32 tests and GUI tests under
# Wine. Ends non-zero on the first failing tier.
set -euo pipefail
cd "$(dirname "$0")/.."
export OBRINT_ROOT=$PWD
jobs=$(nproc)

./scripts/setup.sh

echo "== native build and unit tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j"$jobs"
ctest --test-dir build/native --output-on-failure -j"$jobs"

echo "== native unit tests under ASan and UBSan"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DOBRINT_SANITIZE=ON >/dev/null
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== Windows cross build"
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j"$jobs"

echo "== Win32 and GUI tests under Wine"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
obrint_start_display
obrint_init_prefix
ctest --test-dir build/win32 --output-on-failure

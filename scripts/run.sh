#!/usr/bin/env bash
# Installs what is missing, builds Obrint.exe (cross build), prepares the project's Wine prefix and
# opens the Main window under Wine.
#
# With a usable display ($DISPLAY) the window opens there and the script waits until it is closed.
# Without one, the script starts an Xvfb of its own, saves a PNG screenshot of the Main window,
# prints where it is and closes the program (OBRINT_KEEP_OPEN=1 keeps it running instead, until
# Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."
export OBRINT_ROOT=$PWD

./scripts/setup.sh
# shellcheck source=build-env.sh
source scripts/build-env.sh
# shellcheck source=wine-env.sh
source scripts/wine-env.sh

echo "== building Obrint.exe"
cmake -S . -B build/win32 "${OBRINT_CMAKE_ARGS[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j"$OBRINT_JOBS" --target Obrint
exe=$OBRINT_ROOT/build/win32/src/Obrint.exe
if [ "$(obrint_win_arch)" != i686 ]; then
  echo "NOTE: this machine cannot run 32-bit programs (no IA-32 emulation in its kernel, or no"
  echo "      wine32): opening the 64-bit build of the same sources instead."
  # Configured as test-all.sh configures it, so that the two share one build.
  cmake -S . -B build/win64 "${OBRINT_CMAKE_ARGS[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE= >/dev/null
  cmake --build build/win64 -j"$OBRINT_JOBS" --target Obrint
  exe=$OBRINT_ROOT/build/win64/src/Obrint.exe
fi

headless=
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  unset DISPLAY
fi
trap obrint_wine_cleanup EXIT
echo "== preparing the display and the Wine prefix ($WINEPREFIX)"
obrint_start_display
obrint_init_prefix

echo "== opening $exe on display $DISPLAY"
OBRINT_WINE_SILENT_OK=1 "$OBRINT_WINE_RUN" "$exe" &
program=$!

if [ -z "$headless" ] || [ "${OBRINT_KEEP_OPEN:-0}" = 1 ]; then
  wait "$program"
  exit $?
fi

# Headless: the Main window's picture, once it has finished painting.
shot=$OBRINT_ROOT/build/screenshots/run-main-window.png
if ! obrint_window_screenshot "$program" "VR设备控制端" "$shot"; then
  echo "run: no screenshot of Obrint.exe's Main window" >&2
  exit 1
fi
echo "The Main window is open on the virtual display $DISPLAY; its screenshot: $shot"
echo "Closing the program (set OBRINT_KEEP_OPEN=1 to keep it open)."
kill "$program" 2>/dev/null || true

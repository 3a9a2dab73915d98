#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test tier:
#   1. native unit tests (build/native, the Debian package's build), the yield page in headless
#      Chromium among them, which leaves its screenshots (PNG) and printouts (PDF) in
#      build/screenshots/
#   2. the same under AddressSanitizer and UndefinedBehaviorSanitizer (build/asan), and the
#      command line's tests under ThreadSanitizer (build/tsan)
#   3. Win32 unit tests under Wine
#   4. GUI tests under Wine, which leave their screenshots as PNG files in build/screenshots/
#   5. packaging: scripts/package.sh builds the .deb and the Windows zip into build/dist/, and
#      scripts/check-packages.sh checks them (contents, lintian, the programs run from them)
# and, where scripts/fuzz.sh exists, short runs of the fuzz targets. First it checks that each
# folder of src/ includes only the folders below it (the layers' order, below).
# Every tier runs even when an earlier one failed; the script ends non-zero if any failed.
#
# Obrint.exe is a 32-bit program and is always cross-built as such (build/win32). Where this
# machine cannot run 32-bit code (a kernel without IA-32 emulation), tiers 3 and 4 run on the
# 64-bit build of the same sources (build/win64) instead, and the script says so.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
export OBRINT_ROOT=$PWD
test_timeout=${OBRINT_TEST_TIMEOUT:-120}
log_dir=build/logs
mkdir -p "$log_dir"

failed=()
summary=()
tests_passed=0
tests_failed=0

# step NAME COMMAND...: runs and times one step, and remembers whether it failed.
step() {
  local name=$1 start status
  shift
  echo
  echo "== $name"
  start=$(date +%s)
  "$@"
  status=$?
  summary+=("$(printf '%-34s %4ds  %s' "$name" $(($(date +%s) - start)) \
    "$([ $status -eq 0 ] && echo ok || echo FAILED)")")
  [ $status -eq 0 ] || failed+=("$name")
  return $status
}

# run_ctest DIR ARGS...: ctest with a time limit on each test; counts the results.
run_ctest() {
  local dir=$1 out status counts
  shift
  out=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure --timeout "$test_timeout" "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  counts=$(sed -n 's/.* \([0-9]\+\) tests failed out of \([0-9]\+\).*/\1 \2/p' "$out" | tail -n1)
  rm -f "$out"
  if [ -n "$counts" ]; then
    set -- $counts
    tests_failed=$((tests_failed + $1))
    tests_passed=$((tests_passed + $2 - $1))
  fi
  return "$status"
}

configure_and_build() {
  local dir=$1 target=$2
  shift 2
  cmake -S . -B "$dir" "${OBRINT_CMAKE_ARGS[@]}" "$@" >"$log_dir/$(basename "$dir")-configure.log" 2>&1 ||
    { cat "$log_dir/$(basename "$dir")-configure.log"; return 1; }
  if [ "$target" = all ]; then
    cmake --build "$dir" -j"$OBRINT_JOBS"
  else
    # shellcheck disable=SC2086 # several targets are separate words
    cmake --build "$dir" -j"$OBRINT_JOBS" --target $target
  fi
}

# The folders of src/ in their order, lowest first ("app": the application's own files in src/).
# A folder includes only folders ranked below it.
layers=(device winbase files hid devpath records database engine console sim posix win presenters dlgkit cli app)

# Fails, naming each include that points from a folder to one ranked above it (or to a folder
# missing from the order).
layers_point_down() {
  local edges from to rank_of status=0
  declare -A rank_of
  for i in "${!layers[@]}"; do rank_of[${layers[$i]}]=$i; done
  edges=$(grep -rEo '^#include "[a-z_]+/' src --include='*.cpp' --include='*.h' |
    sed -E -e 's|^src/([a-z_]+)/[^:]*:#include "([a-z_]+)/$|\1 \2|' \
      -e 's|^src/[^/:]*:#include "([a-z_]+)/$|app \1|' | awk '$1 != $2' | sort -u)
  while read -r from to; do
    [ -n "$from" ] || continue
    if [ -z "${rank_of[$from]+x}" ] || [ -z "${rank_of[$to]+x}" ]; then
      echo "src/$from includes src/$to: add the folder to the layers in scripts/test-all.sh"
      status=1
    elif [ "${rank_of[$from]}" -lt "${rank_of[$to]}" ]; then
      echo "src/$from includes src/$to, a layer above it:"
      grep -rln "^#include \"$to/" "src/$from" 2>/dev/null | sed 's/^/  /'
      status=1
    fi
  done <<<"$edges"
  return $status
}

# The tests of a tier mostly wait on real time (virtual headsets on their clocks, terminals,
# processes, Wine), while a build keeps both cores busy: so each tier's tests run in a lane of
# their own beside the next build. One lane at a time; its output is printed when it is joined.
lane_pid=
lane_dir=
# lane COMMAND...: runs the steps of COMMAND in the background.
lane() {
  join_lane
  lane_dir=$(mktemp -d)
  (
    summary=() failed=() tests_passed=0 tests_failed=0
    "$@" >"$lane_dir/output" 2>&1
    printf '%s\n' "${summary[@]}" >"$lane_dir/summary"
    printf '%s\n' "${failed[@]}" >"$lane_dir/failed"
    echo "$tests_passed $tests_failed" >"$lane_dir/counts"
  ) &
  lane_pid=$!
}
# join_lane: waits for the lane, prints its output and adds its results to the script's.
join_lane() {
  local lines passed failed_count
  [ -n "$lane_pid" ] || return 0
  wait "$lane_pid"
  lane_pid=
  cat "$lane_dir/output"
  mapfile -t lines < <(grep . "$lane_dir/summary") && summary+=("${lines[@]}")
  mapfile -t lines < <(grep . "$lane_dir/failed") && failed+=("${lines[@]}")
  read -r passed failed_count <"$lane_dir/counts"
  tests_passed=$((tests_passed + passed))
  tests_failed=$((tests_failed + failed_count))
  rm -rf "$lane_dir"
}

prepare_wine() {
  obrint_start_display && echo "display $DISPLAY, prefix $WINEPREFIX" && obrint_init_prefix
}

screenshots_to_png() {
  local bmp converted=0
  for bmp in build/screenshots/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp" && converted=$((converted + 1))
  done
  echo "$converted screenshot(s) in $OBRINT_ROOT/build/screenshots/"
}

# What the native build needs first; the rest (Wine, the cross compilers, Xvfb, PostgreSQL's
# server, Chromium, the packages' tools) is installed while that build runs.
step "set-up for the native build" ./scripts/setup.sh --native || { echo "set-up failed" >&2; exit 1; }
./scripts/setup.sh --packaging >"$log_dir/setup.log" 2>&1 &
setup_pid=$!
setup_start=$(date +%s)
# join_setup: waits for the rest of the set-up; the script cannot go on without it.
join_setup() {
  local status=0
  wait "$setup_pid" || status=$?
  cat "$log_dir/setup.log"
  summary+=("$(printf '%-34s %4ds  %s' "set-up (the rest, beside the build)" \
    $(($(date +%s) - setup_start)) "$([ $status -eq 0 ] && echo ok || echo FAILED)")")
  [ $status -eq 0 ] || { echo "set-up failed" >&2; exit 1; }
}
# shellcheck source=build-env.sh
source scripts/build-env.sh
# shellcheck source=wine-env.sh
source scripts/wine-env.sh

step "layers include only lower layers" layers_point_down

# Every tier's screenshots in one folder, made anew on each run.
rm -rf build/screenshots
mkdir -p build/screenshots
export OBRINT_SCREENSHOTS=$OBRINT_ROOT/build/screenshots

# The native tier builds and tests the Debian package's program: Release, Debian's flags, by clang
# (build-env.sh's obrint_deb_config); scripts/package.sh makes the .deb from the same folder. The
# sanitizers' tiers use clang too: at -O0 it compiles these sources in about half g++'s time, and
# with line tables for debug information (enough for the sanitizers' stack traces) in a sixth less
# again. mingw-w64's g++ builds the Windows programs.
obrint_deb_config
native_cc=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only)
# The longest tests (the live tables, the documents' commands, the program as a process) mostly
# sleep through real-time waits: two of them per core.
test_jobs=$((OBRINT_JOBS * 2))

# The tiers' builds run one after another, each on both cores; each tier's tests run in the lane
# beside the next build, in this order:
#   native build         | -
#   Win32 build          | native tests, then the fuzz targets' build
#   ASan build           | the Wine display and prefix, the Win32 and GUI tests under Wine
#   TSan build           | ASan tests, then the packages and their check (which opens Wine again)
#   fuzz targets' runs   | TSan tests
native_tests_and_fuzz_build() {
  step "native unit tests" run_ctest build/native -j"$test_jobs"
  if [ -x scripts/fuzz.sh ]; then
    step "fuzz targets' build" ./scripts/fuzz.sh --build-only >"$log_dir/fuzz-build.log" 2>&1 ||
      cat "$log_dir/fuzz-build.log"
  fi
}
wine_tests() {
  # Our own display, so that the tests never draw on (or depend on) the user's desktop; a
  # wineserver left over from an earlier run would hold an old display and state.
  export OBRINT_OWN_DISPLAY=1
  timeout 30 wineserver -k >/dev/null 2>&1
  trap obrint_wine_cleanup EXIT
  if step "Wine display and prefix" prepare_wine; then
    step "Win32 unit tests under Wine" run_ctest "$win_dir" -LE gui
    step "GUI tests under Wine" run_ctest "$win_dir" -L gui
    screenshots_to_png
  fi
  obrint_wine_cleanup
  trap - EXIT
}
asan_tests_and_packages() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    step "ASan+UBSan unit tests" run_ctest build/asan -j"$test_jobs"
  [ "$native_built" = 1 ] && [ "$win_status" -eq 0 ] || return
  step "packages (scripts/package.sh)" ./scripts/package.sh &&
    step "packaging tier (check-packages.sh)" ./scripts/check-packages.sh
}
# The command line's workers run on threads of their own: its tests under ThreadSanitizer.
tsan_tests() {
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    step "ThreadSanitizer tests (command line)" run_ctest build/tsan -j"$test_jobs" \
    -R '^(cli_test|console_test|fleet_test|station_test|cli_process_test)$'
}

native_built=0
step "native build" configure_and_build build/native all "${OBRINT_DEB_CMAKE_ARGS[@]}" &&
  native_built=1
join_setup
win_arch=$(obrint_win_arch)
[ "$native_built" = 1 ] && lane native_tests_and_fuzz_build

# The shipped 32-bit program; with its tests too where they can run here.
win32_target=all
[ "$win_arch" = i686 ] || win32_target=Obrint
step "Win32 cross build (i686)" configure_and_build build/win32 "$win32_target" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
win_status=$?
win_dir=build/win32
if [ "$win_arch" != i686 ]; then
  echo
  echo "NOTE: this machine cannot run 32-bit programs (no IA-32 emulation in its kernel, or no"
  echo "      wine32); the Win32 and GUI tests run on the 64-bit build of the same sources."
  win_dir=build/win64
  # No optimisation and no debug information: this build only runs the tests, and compiles in
  # half the time. run.sh builds the same folder the same way.
  step "Win64 cross build (x86_64)" configure_and_build build/win64 all \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=
  win_status=$?
fi
if [ $win_status -eq 0 ]; then lane wine_tests; else join_lane; fi

step "ASan+UBSan build" configure_and_build build/asan all -DCMAKE_BUILD_TYPE=Debug \
  -DOBRINT_SANITIZE=ON "${native_cc[@]}"
lane asan_tests_and_packages
step "ThreadSanitizer build (command line)" configure_and_build build/tsan \
  "cli_test console_test fleet_test station_test cli_process_test obrint-cli" -DCMAKE_BUILD_TYPE=Debug \
  -DOBRINT_THREAD_SANITIZE=ON "${native_cc[@]}" && lane tsan_tests
# Bounded runs of the fuzz targets, where the project has them, on the cores that the TSan tests'
# waits leave free.
if [ -x scripts/fuzz.sh ]; then
  step "fuzz targets (short runs)" ./scripts/fuzz.sh --short
fi
join_lane

echo
echo "== Summary (wall-clock seconds per step)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Failed: ${failed[*]}"
fi
echo "tests: $tests_passed passed, $tests_failed failed"
[ ${#failed[@]} -eq 0 ]

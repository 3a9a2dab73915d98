#!/usr/bin/env bash
# Builds the fuzz targets (clang's libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs them, as many at once as the machine has cores.
#
#   scripts/fuzz.sh [--short] [--seconds N] [--build-only] [TARGET...]
#
# TARGET: interface_name, discovery, image_stamp, firmware_upgrade (default: all). Each runs for N
# seconds (default 3600; --short: 15, the bounded run of scripts/test-all.sh). Each corpus grows in
# build/fuzz/corpus/TARGET, seeded from fuzz/corpus/TARGET. An input that crashes a target or
# breaks one of its invariants is kept in build/fuzz/findings/TARGET/ and makes the script end
# non-zero. --build-only builds the targets and runs none. OBRINT_FUZZ_BUILD names another build
# directory (default build/fuzz). Run it under `nice -n 19` for long runs on a shared machine.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=3600
build_only=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) seconds=15 ;;
    --build-only) build_only=1 ;;
    --seconds)
      seconds="$2"
      shift
      ;;
    -h | --help)
      sed -n '2,12p' "$0"
      exit 0
      ;;
    *) targets+=("$1") ;;
  esac
  shift
done
[ ${#targets[@]} -gt 0 ] || targets=(interface_name discovery image_stamp firmware_upgrade)

build=${OBRINT_FUZZ_BUILD:-build/fuzz}
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}"
[ "$build_only" = 0 ] || exit 0

# The longest input: a firmware image file of up to 128 KiB behind the failure byte; small texts
# and scripts for the rest.
max_len() {
  case "$1" in
    image_stamp) echo $((128 * 1024 + 1)) ;;
    *) echo 4096 ;;
  esac
}

summary="$build/summary.txt"
printf '%-18s %12s %8s %10s %8s  %s\n' target runs seconds 'runs/s' corpus result >"$summary"

# fuzz_one TARGET: one run; its line of the summary in $build/logs/TARGET.line; non-zero on a finding.
fuzz_one() {
  local t=$1 work="$build/corpus/$1" findings="$build/findings/$1" log="$build/logs/$1.log"
  local result=clean runs rate args
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  args=(-max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=30 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "fuzz/$t.dict" ] && args+=(-dict="fuzz/$t.dict")
  echo "== fuzzing $t for ${seconds}s (log: $log)"
  "$build/${t}_fuzz" "${args[@]}" "$work" "fuzz/corpus/$t" >"$log" 2>&1 || result=FINDING
  # A signal from outside (Ctrl-C) is no finding, even when the fuzzer then hangs on a lock held
  # by the code it interrupted and reports a timeout.
  if [ "$result" != clean ] && grep -q 'libFuzzer: run interrupted' "$log"; then
    result=interrupted
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-18s %12s %8s %10s %8s  %s\n' "$t" "${runs:-?}" "$seconds" "${rate:-?}" \
    "$(find "$work" -type f | wc -l)" "$result" >"$build/logs/$t.line"
  if [ "$result" = FINDING ]; then
    echo "fuzz: $t found a problem; the input is in $findings/" >&2
    grep -E 'ERROR|invariant broken|runtime error|SUMMARY' "$log" | head -5 >&2 || true
    return 1
  fi
}

failed=0
pids=()
for t in "${targets[@]}"; do
  # A core each: wait for the oldest run before starting another.
  if [ ${#pids[@]} -ge "$(nproc)" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
  fuzz_one "$t" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
for t in "${targets[@]}"; do cat "$build/logs/$t.line" >>"$summary"; done
cat "$summary"
exit "$failed"

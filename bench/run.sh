#!/usr/bin/env bash
# Builds the benchmarks with optimisation (build/bench) and runs them, after a header naming the
# machine: cores, CPU model, compiler, load. Arguments go to the benchmark program, e.g.
#   bench/run.sh --benchmark_filter=Virtual --benchmark_repetitions=5
# The real-clock upgrade sleeps through its waits: about 10 s per run, 3 runs. The push benchmark
# starts a PostgreSQL server of its own (tests/database/pg-server.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${OBRINT_BENCH_BUILD:-build/bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j"$(nproc)" --target obrint_bench obrint_report_bench obrint-cli >/dev/null

echo "date:     $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "cores:    $(nproc)"
echo "cpu:      $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "compiler: $(c++ --version | head -1)"
echo "kernel:   $(uname -sr)"
echo "load:     $(cut -d' ' -f1-3 /proc/loadavg)"
# The push benchmark's database: a server of its own, stopped however the run ends.
tests/database/pg-server.sh start "$dir/pg-server"
trap 'tests/database/pg-server.sh stop "$dir/pg-server"' EXIT
OBRINT_BENCH_PG=$(cd "$dir" && pwd)/pg-server
export OBRINT_BENCH_PG
"$dir/obrint_bench" "$@"
"$dir/obrint_report_bench" "$@"  # a program of its own: it counts the heap
# The yield page as a process and opened in headless Chromium (scripts/setup.sh installs it).
python3 bench/report_page_bench.py --cli "$dir/obrint-cli"

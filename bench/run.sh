#!/bin/sh
# Builds the release binaries and the harness, then measures. Run from
# anywhere; it works in the repository's root.
#   bench/run.sh [--before REV] [run.py options]
#                                      throughput against the baseline
#   bench/run.sh --console [--before REV] [console.py options]
#                                      slow and paused consoles
# With --before, the server as git revision REV built it runs beside.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh libbenchmark-dev python3 tmux
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSYSLOG_LISTEN_BENCH=ON \
  -DSYSLOG_LISTEN_TESTS=OFF >/dev/null
cmake --build build-bench --parallel >/dev/null
mode=throughput
if [ "${1:-}" = "--console" ]; then
  mode=console
  shift
fi
before=""
if [ "${1:-}" = "--before" ]; then
  rm -rf build-bench/before-src
  mkdir -p build-bench/before-src
  git archive "$2" | tar -x -C build-bench/before-src
  cmake -S build-bench/before-src -B build-bench/before \
    -DCMAKE_BUILD_TYPE=Release -DSYSLOG_LISTEN_TESTS=OFF >/dev/null
  cmake --build build-bench/before --parallel --target syslog-listen \
    >/dev/null
  before="--before build-bench/before/syslog-listen"
  shift 2
fi
if [ "$mode" = console ]; then
  exec python3 bench/console.py --build build-bench $before "$@"
fi
echo "micro-benchmark: composing one record"
build-bench/bench/record_bench --benchmark_min_time=0.2 2>/dev/null | tail -n 3
exec python3 bench/run.py --build build-bench $before "$@"

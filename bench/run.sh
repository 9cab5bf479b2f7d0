#!/bin/sh
# Builds the release binaries and the harness, then measures: bench/run.sh
# [run.py options]. Run from anywhere; it works in the repository's root.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh libbenchmark-dev python3
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSYSLOG_LISTEN_BENCH=ON \
  -DSYSLOG_LISTEN_TESTS=OFF >/dev/null
cmake --build build-bench --parallel >/dev/null
echo "micro-benchmark: composing one record"
build-bench/bench/record_bench --benchmark_min_time=0.2 2>/dev/null | tail -n 3
exec python3 bench/run.py --build build-bench "$@"

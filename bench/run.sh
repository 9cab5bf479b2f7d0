#!/bin/sh
# Builds the release binaries and the harness, then measures. Run from
# anywhere; it works in the repository's root.
#   bench/run.sh [--before REV] [run.py options]
#                                      throughput against the baseline
#   bench/run.sh --console [--before REV] [console.py options]
#                                      slow and paused consoles
#   bench/run.sh --wine [--before REV] [wine.py options]
#                                      the Windows build under wine, against
#                                      the simplest Winsock receiver
# With --before, the server as git revision REV built it runs beside.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh libbenchmark-dev python3 tmux
win_build() {  # source-dir build-dir [cmake options]
  src=$1
  dir=$2
  shift 2
  cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DSYSLOG_LISTEN_TESTS=OFF "$@" >/dev/null
  cmake --build "$dir" --parallel >/dev/null
}
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSYSLOG_LISTEN_BENCH=ON \
  -DSYSLOG_LISTEN_STATIC=ON -DSYSLOG_LISTEN_TESTS=OFF >/dev/null
cmake --build build-bench --parallel >/dev/null
mode=throughput
case "${1:-}" in
  --console) mode=console; shift ;;
  --wine) mode=wine; shift ;;
esac
before=""
if [ "${1:-}" = "--before" ]; then
  # git archive gives every file the commit's time: objects built from
  # another revision would look newer than the sources and stay.
  rm -rf build-bench/before-src build-bench/before build-bench/before-win
  mkdir -p build-bench/before-src
  git archive "$2" | tar -x -C build-bench/before-src
  if [ "$mode" = wine ]; then
    win_build build-bench/before-src build-bench/before-win
    before="--before build-bench/before-win/syslog-listen.exe"
  else
    cmake -S build-bench/before-src -B build-bench/before \
      -DCMAKE_BUILD_TYPE=Release -DSYSLOG_LISTEN_STATIC=ON \
      -DSYSLOG_LISTEN_TESTS=OFF >/dev/null
    cmake --build build-bench/before --parallel --target syslog-listen \
      >/dev/null
    before="--before build-bench/before/syslog-listen"
  fi
  shift 2
fi
if [ "$mode" = wine ]; then
  scripts/setup.sh g++-mingw-w64-x86-64 wine wine64
  win_build . build-bench-win -DSYSLOG_LISTEN_BENCH=ON
  exec python3 bench/wine.py --tools build-bench/bench \
    --exe build-bench-win/syslog-listen.exe \
    --minimal build-bench-win/bench/win_minimal.exe $before "$@"
fi
if [ "$mode" = console ]; then
  exec python3 bench/console.py --build build-bench $before "$@"
fi
echo "micro-benchmark: composing one record"
build-bench/bench/record_bench --benchmark_min_time=0.2 2>/dev/null | tail -n 3
exec python3 bench/run.py --build build-bench $before "$@"

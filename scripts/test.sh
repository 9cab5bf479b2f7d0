#!/bin/sh
# Installs what is missing, builds everything with warnings as errors (the
# Linux build and the Windows cross build), and runs every test: the Windows
# executable's end-to-end tests run under wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh g++-mingw-w64-x86-64 wine wine64 libbenchmark-dev
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSYSLOG_LISTEN_WERROR=ON
cmake --build build-win --parallel
# The benchmark harness is built here too, so it keeps compiling; it is run
# by bench/run.sh, never by CTest.
cmake -S . -B build -DSYSLOG_LISTEN_WERROR=ON -DSYSLOG_LISTEN_BENCH=ON \
  -DSYSLOG_LISTEN_WINDOWS_EXE="$PWD/build-win/syslog-listen.exe"
cmake --build build --parallel
ctest --test-dir build --output-on-failure --parallel 2

#!/bin/sh
# Installs what is missing, builds everything with warnings as errors, and
# runs every test.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DSYSLOG_LISTEN_WERROR=ON
cmake --build build --parallel
ctest --test-dir build --output-on-failure --parallel 2

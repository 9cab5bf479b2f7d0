#!/bin/sh
# Runs the end-to-end tests many times in a row (20 unless told) while two
# busy loops keep both cores loaded, natively, with the server under
# valgrind, and against the Windows build under wine: a test that can fail
# by timing shows itself here. Not part of scripts/test.sh, as it takes long
# (about 70 minutes on two cores).
#   scripts/repeat-e2e.sh [runs]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-20}
scripts/setup.sh valgrind bsdutils python3 g++-mingw-w64-x86-64 wine wine64
peers=$PWD/build/peers
scripts/peer.sh "$peers" syslog-ng-core logrotate
cmake --preset windows >/dev/null
cmake --build build-win --parallel >/dev/null
cmake --preset native -DSYSLOG_LISTEN_PEERS="$peers" \
  -DSYSLOG_LISTEN_WINDOWS_EXE="$PWD/build-win/syslog-listen.exe" >/dev/null
cmake --build build --parallel >/dev/null
cmake --preset valgrind -DSYSLOG_LISTEN_PEERS="$peers" >/dev/null
cmake --build build-valgrind --parallel >/dev/null

busy=""
trap 'kill $busy 2>/dev/null' EXIT INT TERM
for core in 1 2; do
  yes >/dev/null &
  busy="$busy $!"
done
run=1
while [ "$run" -le "$runs" ]; do
  echo "run $run of $runs"
  ctest --test-dir build -R '^(e2e|wine)\.' --parallel 2 --output-on-failure \
    >build/repeat.log 2>&1 || { cat build/repeat.log; exit 1; }
  ctest --test-dir build-valgrind -R '^valgrind\.e2e$' --output-on-failure \
    >build-valgrind/repeat.log 2>&1 ||
    { cat build-valgrind/repeat.log; exit 1; }
  run=$((run + 1))
done
echo "the end-to-end tests passed $runs times in a row under load"

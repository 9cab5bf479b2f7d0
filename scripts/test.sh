#!/bin/sh
# Installs what is missing, then builds everything with warnings as errors
# and runs every test:
#   0. the sources' layering (scripts/check-layout.sh);
#   1. the Linux build: unit and end-to-end tests, and the benchmark harness
#      built (not run);
#   2. the Windows cross build, its end-to-end tests run under wine;
#   3. the tests again under AddressSanitizer and UBSan;
#   4. the tests again under ThreadSanitizer (the console has a thread);
#   5. the tests again under valgrind's memcheck;
#   6. the fuzz targets, each for a bounded time (scripts/fuzz.sh);
#   7. the release packages, built and checked (scripts/check-release.sh).
# A stage that fails does not keep the later ones from running: the end
# names every stage that failed, and the exit status is then 1.
set -eu
cd "$(dirname "$0")/.."
# The end-to-end tests also use programs we did not write: the senders
# util-linux logger (in bsdutils), Python's logging, syslog-ng and its
# loggen, and logrotate; systemd-analyze checks the service unit. Those
# that would change the machine's logging or services when installed are
# only unpacked into the build folder (scripts/peer.sh).
scripts/setup.sh g++-mingw-w64-x86-64 wine wine64 libbenchmark-dev valgrind \
  clang libclang-rt-14-dev bsdutils python3
failed=""
# Runs a stage: its name, then its command; a failure is noted, and how
# long each took is said.
stage() {
  name=$1
  shift
  began=$(date +%s)
  "$@" || failed="$failed $name"
  echo "test: $name took $(($(date +%s) - began)) s"
}

stage layout scripts/check-layout.sh
peers=$PWD/build/peers
scripts/peer.sh "$peers" syslog-ng-core logrotate
command -v systemd-analyze >/dev/null || scripts/peer.sh "$peers" systemd

# Each build's flags are a preset of CMakePresets.json, building into the
# folder it names; here warnings are errors too. (Run as a stage, where a
# failure does not end the script: each step checked.)
configure_and_test() {
  preset=$1
  dir=$2
  shift 2
  cmake --preset "$preset" -DSYSLOG_LISTEN_WERROR=ON \
    -DSYSLOG_LISTEN_PEERS="$peers" "$@" &&
    cmake --build "$dir" --parallel &&
    ctest --test-dir "$dir" --output-on-failure --parallel 2
}

build_windows() {
  cmake --preset windows -DSYSLOG_LISTEN_WERROR=ON &&
    cmake --build build-win --parallel
}

stage windows build_windows
stage native configure_and_test native build -DSYSLOG_LISTEN_BENCH=ON \
  -DSYSLOG_LISTEN_WINDOWS_EXE="$PWD/build-win/syslog-listen.exe"
stage asan configure_and_test asan build-asan
stage tsan configure_and_test tsan build-tsan
stage valgrind configure_and_test valgrind build-valgrind
stage fuzz scripts/fuzz.sh 20
stage release scripts/check-release.sh
if [ -n "$failed" ]; then
  echo "test: failed:$failed" >&2
  exit 1
fi
echo "test: every stage passed"

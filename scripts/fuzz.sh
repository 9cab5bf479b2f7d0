#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan, and
# runs each for a bounded time from its seed corpus (fuzz/corpus/). Fails on
# any finding, leaving the input that found it in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds per target, default 20]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
scripts/setup.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build build-fuzz --parallel
mkdir -p build-fuzz/findings
for target in command_line record timestamp; do
  # New inputs go to a scratch corpus, so the seeds in the repository stay
  # as they are.
  scratch=build-fuzz/corpus/$target
  mkdir -p "$scratch"
  log=build-fuzz/$target.log
  if ! build-fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" \
      -print_final_stats=1 -artifact_prefix=build-fuzz/findings/ \
      "$scratch" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target found a fault; its input is in build-fuzz/findings/" >&2
    exit 1
  fi
  echo "$target: $(grep -o 'number_of_executed_units: [0-9]*' "$log" |
    cut -d' ' -f2) runs in ${seconds}s, no finding"
done

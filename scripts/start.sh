#!/bin/sh
# Installs what is missing, builds, and starts the server with the given
# options, for example: scripts/start.sh -p 5514 -t
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native >/dev/null
cmake --build build --parallel --target syslog-listen >/dev/null
exec build/syslog-listen "$@"

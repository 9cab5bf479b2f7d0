#!/bin/sh
# Unpacks Debian packages of programs we did not write into FOLDER/unpacked,
# without installing them, so that the tests can run them (syslog-ng as a
# sender, logrotate, systemd-analyze) and leave the machine's own logging
# alone: an installed syslog-ng would replace the system logger, and a
# package's scripts may enable or start its services. Nothing here is
# configured, started or enabled. The libraries they link with are
# installed as packages (a library starts nothing).
# A package that cannot be had is reported and left out; the tests that
# need it say they skip.
# Usage: scripts/peer.sh FOLDER PACKAGE...
set -eu
mkdir -p "$1/unpacked"
folder=$(cd "$1" && pwd)
shift
cd "$(dirname "$0")/.."
for package in "$@"; do
  [ -e "$folder/$package.unpacked" ] && continue
  libraries=$(apt-cache depends --no-recommends --no-suggests \
    --no-conflicts --no-breaks --no-replaces --no-enhances "$package" \
    2>/dev/null | sed -n 's/^ *|\{0,1\}\(Pre\)\{0,1\}Depends: \(lib[^ <>]*\)$/\2/p' |
    sort -u)
  download=$(mktemp -d "$folder/download.XXXXXX")
  if (cd "$download" && apt-get download "$package") >"$download/log" 2>&1 &&
    scripts/setup.sh $libraries; then
    dpkg-deb -x "$download"/*.deb "$folder/unpacked"
    touch "$folder/$package.unpacked"
  else
    echo "peer: $package could not be had; the tests that use it skip" >&2
    cat "$download/log" >&2
  fi
  rm -rf "$download"
done

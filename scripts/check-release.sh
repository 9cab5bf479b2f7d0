#!/bin/sh
# Builds the release artifacts (scripts/release.sh) and checks what they
# hold: lintian finds no error or warning in the Debian package, which
# carries exactly the expected files, maintainer scripts that stop the
# service on remove and forget it on purge, a logrotate file logrotate
# takes, and a unit rated 2.0 or better by systemd-analyze; the packaged
# executable, and the zip's under wine, run and print the usage text; the
# zip's executable has no debug sections and its texts CR LF line ends.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh lintian wine wine64 unzip logrotate systemd
paths=$(scripts/release.sh | tail -n 3)
deb=$(echo "$paths" | sed -n 1p)
zip=$(echo "$paths" | sed -n 2p)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { printf 'check-release: %s\n' "$*" >&2; exit 1; }

lintian --fail-on error,warning --display-level '>=warning' "$deb"

dpkg-deb -c "$deb" | awk '{print $6}' | sort >"$work/files"
sort >"$work/expected" <<'EOF'
./
./etc/
./etc/logrotate.d/
./etc/logrotate.d/syslog-listen
./lib/
./lib/systemd/
./lib/systemd/system/
./lib/systemd/system/syslog-listen.service
./usr/
./usr/bin/
./usr/bin/syslog-listen
./usr/share/
./usr/share/doc/
./usr/share/doc/syslog-listen/
./usr/share/doc/syslog-listen/changelog.gz
./usr/share/doc/syslog-listen/copyright
./usr/share/doc/syslog-listen/guide.md.gz
./usr/share/man/
./usr/share/man/man1/
./usr/share/man/man1/syslog-listen.1.gz
EOF
diff "$work/expected" "$work/files" || fail "the package's files differ"

# `-h`: the usage text, exit code 1. $1: the output, $2: the name shown.
check_usage() {
  [ "$(sed -n 1p "$1" | tr -d '\r')" = \
    "Usage: $2 [-p port] [-o filename] [-t] [-h]" ] &&
    [ "$(wc -l <"$1")" -eq 5 ] || fail "usage text of $2: $(cat "$1")"
}
dpkg-deb -x "$deb" "$work/deb"
dpkg-deb -e "$deb" "$work/control"
grep -q "deb-systemd-invoke stop" "$work/control/prerm" &&
  grep -q "deb-systemd-invoke \$_dh_action" "$work/control/postinst" &&
  grep -q "deb-systemd-helper purge" "$work/control/postrm" &&
  grep -q "rm -rf /var/log/syslog-listen" "$work/control/postrm" ||
  fail "the maintainer scripts do not stop, restart and purge the service"
logrotate -d "$work/deb/etc/logrotate.d/syslog-listen" >"$work/logrotate" 2>&1 ||
  fail "logrotate refuses its file: $(cat "$work/logrotate")"
exposure=$(systemd-analyze security --offline=true --root="$work/deb" \
  syslog-listen.service 2>&1 | sed -n 's/.*Overall exposure level.*: \([0-9.]*\).*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
  fail "the unit's exposure is ${exposure:-unknown}, above 2.0"
status=0
"$work/deb/usr/bin/syslog-listen" -h >"$work/usage" || status=$?
[ "$status" -eq 1 ] || fail "syslog-listen -h exited with $status"
check_usage "$work/usage" "$work/deb/usr/bin/syslog-listen"

unzip -q "$zip" -d "$work/zip"
! x86_64-w64-mingw32-objdump -h "$work/zip/syslog-listen.exe" |
  grep -q '\.debug' || fail "the .exe has debug sections"
for text in README.txt LICENSE.txt; do
  [ "$(grep -vc "$(printf '\r')\$" "$work/zip/$text")" -eq 0 ] ||
    fail "$text has lines without CR LF"
done
# Typed in a command prompt in its folder, the program shows the name typed
# (started by wine itself, it would show its whole path).
status=0
(cd "$work/zip" && WINEPREFIX=$work/wine WINEDEBUG=-all \
  wine cmd /c "syslog-listen -h" >"$work/usage.exe" 2>/dev/null) ||
  status=$?
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
WINEPREFIX=$work/wine "$wineserver" -k 2>/dev/null || true
[ "$status" -eq 1 ] || fail "syslog-listen.exe -h exited with $status"
check_usage "$work/usage.exe" syslog-listen
grep -q "$(printf '\r')\$" "$work/usage.exe" || fail "no CR LF from the .exe"
echo "check-release: $deb and $zip are as they should be (unit exposure $exposure)"

#!/bin/sh
# Builds the release artifacts (scripts/release.sh) and checks what they
# hold: lintian finds no error in the Debian package, which carries exactly
# the expected files; the packaged executable, and the zip's under wine,
# run and print the usage text; the zip's texts have CR LF line ends.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh lintian wine wine64 unzip
paths=$(scripts/release.sh | tail -n 3)
deb=$(echo "$paths" | sed -n 1p)
zip=$(echo "$paths" | sed -n 2p)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { printf 'check-release: %s\n' "$*" >&2; exit 1; }

# Errors fail; warnings and notes are listed.
lintian --fail-on error --display-level '>=warning' "$deb"

dpkg-deb -c "$deb" | awk '{print $6}' | sort >"$work/files"
sort >"$work/expected" <<'EOF'
./
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
./usr/share/doc/syslog-listen/README.md
./usr/share/doc/syslog-listen/changelog.gz
./usr/share/doc/syslog-listen/copyright
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
status=0
"$work/deb/usr/bin/syslog-listen" -h >"$work/usage" || status=$?
[ "$status" -eq 1 ] || fail "syslog-listen -h exited with $status"
check_usage "$work/usage" "$work/deb/usr/bin/syslog-listen"

unzip -q "$zip" -d "$work/zip"
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
echo "check-release: $deb and $zip are as they should be"

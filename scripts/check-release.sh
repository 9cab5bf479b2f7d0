#!/bin/sh
# Builds the release artifacts (scripts/release.sh) and checks what they
# hold: lintian finds no error or warning in the Debian package, which
# carries exactly the expected files, maintainer scripts that stop the
# service on remove and forget it on purge, a logrotate file logrotate
# takes, and a unit rated 2.0 or better by systemd-analyze; the packaged
# programs, and the zip's under wine, run and print their usage texts; the
# zip holds the two programs, without debug sections, and texts with CR LF
# line ends; the MSI's tables hold the Start-menu entries and the port's
# uses, and under wine it refuses a PORT that is no port, installs a service
# that records a datagram on the PORT given, is upgraded by a later version
# that keeps the port, and is removed by README.txt's command, leaving
# nothing but the log.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh lintian wine wine64 unzip msitools python3
paths=$(scripts/release.sh | tail -n 4)
deb=$(echo "$paths" | sed -n 1p)
msi=$(echo "$paths" | sed -n 2p)
zip=$(echo "$paths" | sed -n 3p)
for file in "$deb" "$msi" "$zip"; do
  grep -q " $(basename "$file")\$" "$(dirname "$file")/SHA256SUMS" ||
    { echo "check-release: $file is not in SHA256SUMS" >&2; exit 1; }
done
work=$(mktemp -d)
# Wine writes menus and caches into a home: this one's own, and no menus.
export WINEPREFIX="$work/wine" WINEDEBUG=-all HOME="$work/home" \
  XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" WINEDLLOVERRIDES=winemenubuilder.exe=d
mkdir "$HOME"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
trap '"$wineserver" -k 2>/dev/null; rm -rf "$work"' EXIT
fail() { printf 'check-release: %s\n' "$*" >&2; exit 1; }
# logrotate and systemd-analyze as the machine has them, or unpacked here.
scripts/peer.sh "$work/peers" logrotate
command -v systemd-analyze >/dev/null || scripts/peer.sh "$work/peers" systemd
PATH=$PATH:$work/peers/unpacked/usr/bin:$work/peers/unpacked/usr/sbin

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
./usr/bin/syslog-listen-view
./usr/share/
./usr/share/doc/
./usr/share/doc/syslog-listen/
./usr/share/doc/syslog-listen/changelog.gz
./usr/share/doc/syslog-listen/copyright
./usr/share/doc/syslog-listen/guide.md.gz
./usr/share/man/
./usr/share/man/man1/
./usr/share/man/man1/syslog-listen.1.gz
./usr/share/man/man1/syslog-listen-view.1.gz
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
# systemd-analyze wants the folder a running systemd keeps: where there is
# none (a chroot, a container), it gets a private one, never the machine's.
security() {
  if [ -d /run/systemd ]; then
    systemd-analyze security --offline=true --root="$work/deb" "$1"
  else
    unshare -rm sh -c 'mount -t tmpfs tmpfs /run && exec "$@"' sh \
      systemd-analyze security --offline=true --root="$work/deb" "$1"
  fi
}
if [ -d /run/systemd ] || unshare -rm true 2>/dev/null; then
  exposure=$(security syslog-listen.service 2>&1 |
    sed -n 's/.*Overall exposure level.*: \([0-9.]*\).*/\1/p')
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
    fail "the unit's exposure is ${exposure:-unknown}, above 2.0"
else
  echo "check-release: no /run/systemd and no namespace of our own here:" \
    "the unit's exposure is not checked" >&2
  exposure=unchecked
fi
status=0
"$work/deb/usr/bin/syslog-listen" -h >"$work/usage" || status=$?
[ "$status" -eq 1 ] || fail "syslog-listen -h exited with $status"
check_usage "$work/usage" "$work/deb/usr/bin/syslog-listen"

unzip -q "$zip" -d "$work/zip"
[ "$(unzip -Z1 "$zip" | tr '\n' ' ')" = \
  "syslog-listen.exe syslog-listen-view.exe README.txt LICENSE.txt " ] ||
  fail "the zip holds $(unzip -Z1 "$zip" | tr '\n' ' ')"
for exe in syslog-listen.exe syslog-listen-view.exe; do
  ! x86_64-w64-mingw32-objdump -h "$work/zip/$exe" | grep -q '\.debug' ||
    fail "$exe has debug sections"
done
for text in README.txt LICENSE.txt; do
  [ "$(grep -vc "$(printf '\r')\$" "$work/zip/$text")" -eq 0 ] ||
    fail "$text has lines without CR LF"
done
# Typed in a command prompt in its folder, the program shows the name typed
# (started by wine itself, it would show its whole path).
status=0
(cd "$work/zip" && wine cmd /c "syslog-listen -h" >"$work/usage.exe" \
  2>/dev/null) || status=$?
[ "$status" -eq 1 ] || fail "syslog-listen.exe -h exited with $status"
check_usage "$work/usage.exe" syslog-listen
grep -q "$(printf '\r')\$" "$work/usage.exe" || fail "no CR LF from the .exe"
# The live view, packaged and zipped, starts and says how it is used.
view_usage='^Usage: .*syslog-listen-view \[-h\] \[FILE\]'
"$work/deb/usr/bin/syslog-listen-view" -h | grep -q "$view_usage" &&
  (cd "$work/zip" && wine cmd /c "syslog-listen-view -h" 2>/dev/null) |
  grep -q "$view_usage" || fail "syslog-listen-view does not start"

# The MSI. wixl places some actions where it likes: the older version must
# go before the newer installs.
table() { msiinfo export "$msi" "$1" | tr -d '\r'; }
# Column $3 of the row of table $1 whose key is $2.
cell() {
  table "$1" | awk -F '\t' -v k="$2" -v c="$3" 'NR > 3 && $1 == k { print $c }'
}
sequence() { cell InstallExecuteSequence "$1" 3; }
[ "$(sequence RemoveExistingProducts)" -lt "$(sequence InstallInitialize)" ] ||
  fail "the MSI removes an older version after installing"
# The service is started without a wait, and stopped (for an upgrade or a
# removal) with one: Event bits 1 and 16 start it, 2 and 32 stop it.
table ServiceControl | awk -F '\t' 'NR > 3 { n++
    start = $3 % 2 || int($3 / 16) % 2; stop = int($3 / 2) % 2 || int($3 / 32) % 2
    if ((start && $5 != 0) || (stop && $5 != 1)) bad = 1 }
  END { exit bad || n != 2 }' ||
  fail "the MSI does not wait for the service to stop"
# The firewall rule: added (after deleting one of its name) only when this
# version is installed, not at a repair; deleted only when the product goes.
condition() { cell InstallExecuteSequence "$1" 2; }
[ "$(condition FirewallClear)" = "NOT Installed" ] &&
  [ "$(condition FirewallAdd)" = "NOT Installed" ] &&
  [ "$(sequence FirewallClear)" -lt "$(sequence FirewallAdd)" ] &&
  [ "$(condition FirewallRemove)" = 'REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE' ] &&
  table CustomAction | grep -q '^FirewallClear' ||
  fail "the MSI's firewall actions run when they should not"
# The port reaches the service, its log and the firewall rule, and passes
# from the user's side of the install to the system's.
[ "$(cell ServiceInstall Service 11)" = \
  '-p [PORT] -o "[LOGDIR]syslog.[PORT].log" -t' ] &&
  cell CustomAction FirewallAdd 4 | grep -qF ' localport=[PORT] ' &&
  cell Property SecureCustomProperties 2 | tr ';' '\n' | grep -qx PORT ||
  fail "the MSI's service or firewall rule does not follow PORT"
# Start-menu entries that start their files: the live view on the service's
# log, and README.txt.
table Shortcut | awk -F '\t' '$2 == "ProgramMenuFolder" && $5 == "[#view]" &&
    $6 == "\"[LOGDIR]syslog.[PORT].log\"" { view = 1 }
  $2 == "ProgramMenuFolder" && $5 == "[#readme]" { readme = 1 }
  END { exit !(view && readme) }' ||
  fail "the MSI's Start-menu entries are amiss"
# Under wine, with a wineserver that keeps the prefix (and its services) up.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w
"$wineserver" -p </dev/null >/dev/null 2>&1
# Polls `test ARGS` for up to 30 s.
within() { i=0; until "$@"; do i=$((i + 1)); [ $i -lt 150 ] || return 1; sleep 0.2; done; }
has() { grep -qa "$1" "$2" 2>/dev/null; }
program="$WINEPREFIX/drive_c/Program Files/syslog-listen/syslog-listen.exe"
# A free port from 20000 up, one that prints as it is (wine binds as the
# user, and a port below 1024 takes root).
port=$(python3 -c 'import random, socket
for port in random.sample(range(20000, 30000), 100):
    try:
        socket.socket(socket.AF_INET, socket.SOCK_DGRAM).bind(("", port))
    except OSError:
        continue
    print(port)
    break')
send() {
  python3 -c 'import socket, sys
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(
    b"<13>" + sys.argv[1].encode(), ("127.0.0.1", int(sys.argv[2])))' \
    "$1" "$port"
}
for bad in none 70000; do
  ! wine msiexec /i "$msi" PORT=$bad /qn && [ ! -e "$program" ] ||
    fail "the MSI installs with PORT=$bad"
done
wine msiexec /i "$msi" PORT="$port" /qn || fail "msiexec /i failed"
[ -f "$program" ] && [ -f "${program%/*}/syslog-listen-view.exe" ] ||
  fail "the MSI did not install both programs"
log="$WINEPREFIX/drive_c/ProgramData/syslog-listen/syslog.$port.log"
banner="syslog server(port:$port)"
within has "$banner" "$log" || fail "the service wrote no banner"
send "from the msi check"
within has ">>from the msi check" "$log" || fail "the service recorded nothing"

# The same package as the next version (its version, product code and
# package code, and the upgrade table's bounds, changed), installed without
# PORT, replaces this one and keeps the port.
uuid() { python3 -c 'import uuid; print("{%s}" % str(uuid.uuid4()).upper())'; }
version=$(cell Property ProductVersion 2)
old=$(cell Property ProductCode 2)
new=$(uuid)
cp "$msi" "$work/next.msi"
for name in Property Upgrade; do
  table "$name" | awk -F '\t' -v OFS='\t' -v v="$version" -v c="$new" \
    'NR > 3 { for (i = 1; i <= NF; i++) if ($i == v) { split(v, n, ".")
        $i = n[1] "." n[2] "." n[3] + 1 }
      if ($1 == "ProductCode") $2 = c } 1' >"$work/$name.idt"
  msibuild "$work/next.msi" -i "$work/$name.idt"
done
msibuild "$work/next.msi" -s syslog-listen "the syslog-listen developers" \
  "x64;1033" "$(uuid)"
starts=$(grep -ac "$banner" "$log")
wine msiexec /i "$work/next.msi" /qn || fail "the upgrade failed"
key='HKLM\SOFTWARE\syslog-listen'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
wine reg query "$uninstall\\$new" >/dev/null 2>&1 &&
  ! wine reg query "$uninstall\\$old" >/dev/null 2>&1 ||
  fail "the upgrade did not replace the older version"
restarted() { [ "$(grep -ac "$banner" "$log")" -gt "$starts" ]; }
within restarted || fail "the upgraded service does not run on port $port"
send "after the upgrade"
within has ">>after the upgrade" "$log" || fail "the upgrade lost the port"

# README.txt's uninstall command, run from a batch file (where % doubles).
grep -a '^ *for /f .* msiexec /x ' "$work/zip/README.txt" |
  sed 's/^ *//; s/%/%%/g' >"$work/uninstall.bat"
[ -s "$work/uninstall.bat" ] || fail "README.txt has no uninstall command"
(cd "$work" && wine cmd /c uninstall.bat >/dev/null 2>&1) ||
  fail "README.txt's uninstall command failed"
gone() { [ ! -e "${program%/*}" ]; }
within gone || fail "the programs stay after removal"
! wine sc query syslog-listen 2>/dev/null | grep -q SERVICE_NAME ||
  fail "the service stays after removal"
! wine reg query "$key" >/dev/null 2>&1 || fail "$key stays after removal"
has ">>after the upgrade" "$log" || fail "the log went with the program"
echo "check-release: $deb, $msi and $zip are as they should be (unit" \
  "exposure $exposure)"

#!/bin/sh
# Builds the release artifacts from this checkout's tracked files, as they
# stand, reproducibly, and prints their absolute paths as its last lines:
#   syslog-listen_VERSION_ARCH.deb           Debian package (debhelper)
#   syslog-listen-VERSION-windows-x64.msi    the Windows installer (wixl):
#                                            the programs, the service, the
#                                            firewall rule, the PATH entry,
#                                            the Start-menu entries
#   syslog-listen-VERSION-windows-x64.zip    syslog-listen.exe,
#                                            syslog-listen-view.exe,
#                                            README.txt, LICENSE.txt, to run
#                                            anywhere
#   SHA256SUMS                               for all three
# They go into the folder given (relative to where this is called from), or
# release/ in the checkout; the folder is made if need be, and only these
# four files in it are replaced.
# Two runs from clones of the same commit, in any folders (spaces and
# letters beyond ASCII included), with any time zone and umask, give the
# same bytes: times come from the commit, and both builds run on a copy of
# the sources in a fresh folder of plain letters, whose path is mapped away.
# Usage: scripts/release.sh [output folder]
set -eu
caller=$PWD
cd "$(dirname "$0")/.."
case ${1:-} in
  "") out=$PWD/release ;;
  /*) out=$1 ;;
  *) out=$caller/$1 ;;
esac
# dpkg-buildpackage wants build-essential itself, beyond debian/control.
scripts/setup.sh build-essential g++-mingw-w64-x86-64 debhelper dpkg-dev zip \
  git wixl msitools faketime

umask 022
export TZ=UTC LC_ALL=C.UTF-8
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
version=$(sed -n 's/^project(syslog_listen VERSION \([0-9.]*\).*/\1/p' \
  CMakeLists.txt)
maintainer=$(sed -n 's/^Maintainer: //p' dist/debian/control)
work=$(mktemp -d /tmp/syslog-listen-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
src=$work/syslog-listen-$version
mkdir "$src"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$src"
# A working tree's times are its own; the package's come from the commit.
find "$src" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# The Debian package, as Debian builds one: dpkg-buildflags maps the build
# path away, debhelper strips, compresses, writes the maintainer scripts.
cp -R "$src/dist/debian" "$src/debian"
sed -e "s/@VERSION@/$version/g" -e "s/@MAINTAINER@/$maintainer/" \
  -e "s/@DATE@/$(date -R -d "@$SOURCE_DATE_EPOCH")/" \
  "$src/debian/changelog.in" >"$src/debian/changelog"
rm "$src/debian/changelog.in"
{
  printf 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'
  printf 'Upstream-Name: syslog-listen\n\nFiles: *\n'
  sed -n 's/^Copyright (c) /Copyright: /p' LICENSE
  printf 'License: Expat\n'
  # The licence text, indented, a blank line as " .".
  sed -n '/^Permission/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$src/debian/copyright"
(cd "$src" && dpkg-buildpackage -b -us -uc >"$work/deb.log" 2>&1) ||
  { cat "$work/deb.log"; exit 1; }
deb=$(cd "$work" && ls syslog-listen_"$version"_*.deb)

# Windows: the cross build, its path mapped away too (the toolchain leaves
# the time stamp out of the executable).
cmake -S "$src" --preset windows -B "$work/windows" -DSYSLOG_LISTEN_WERROR=ON \
  -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$work=." >/dev/null
cmake --build "$work/windows" --parallel "$(nproc)" >/dev/null
zipdir=$work/zip
mkdir "$zipdir"
for exe in syslog-listen.exe syslog-listen-view.exe; do
  x86_64-w64-mingw32-strip -o "$zipdir/$exe" "$work/windows/$exe"
done
# CR LF texts, as a Windows user reads them.
sed 's/$/\r/' "$work/windows/README.txt" >"$zipdir/README.txt"
sed 's/$/\r/' LICENSE >"$zipdir/LICENSE.txt"
find "$zipdir" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
chmod 644 "$zipdir"/*
zip=syslog-listen-$version-windows-x64.zip
(cd "$zipdir" && zip -X -9 -q "$work/$zip" syslog-listen.exe \
  syslog-listen-view.exe README.txt LICENSE.txt)

# The installer, from the same files. wixl picks a package code and takes
# the clock: both are fixed here, the code from what the package holds.
guid() { sha1sum | tr a-f A-F |
  sed 's/^\(.\{8\}\)\(.\{4\}\)\(.\{4\}\)\(.\{4\}\)\(.\{12\}\).*/\1-\2-\3-\4-\5/'; }
msi=syslog-listen-$version-windows-x64.msi
sed -e "s/@PRODUCT_CODE@/$(echo "syslog-listen $version" | guid)/" \
  -e "s/@PROJECT_VERSION@/$version/g" "$src/dist/windows/syslog-listen.wxs.in" \
  >"$zipdir/syslog-listen.wxs"
clock=$(date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
(cd "$zipdir" && faketime "$clock" wixl -a x64 -o "$work/$msi" \
  syslog-listen.wxs 2>"$work/wixl.log") || { cat "$work/wixl.log"; exit 1; }
# What wixl cannot write (custom actions, the PATH entry, the port's
# choice, shortcuts that are not advertised) is in the table edits beside
# the installer's source: each statement, its lines joined with single
# spaces, goes to msibuild on its own.
statement=""
while IFS= read -r line; do
  case $line in --*|"") continue ;; esac
  statement="${statement:+$statement }${line#"${line%%[! ]*}"}"
  case $statement in
    *\;)
      faketime "$clock" msibuild "$work/$msi" -q "${statement%;}"
      statement=""
      ;;
  esac
done <"$src/dist/windows/syslog-listen.msi.sql"
# A statement left without its semicolon (or lines ending in CR LF) would
# otherwise leave its edit out of the installer without a word.
if [ -n "$statement" ]; then
  echo "release.sh: no semicolon ends: $statement" >&2
  exit 1
fi
faketime "$clock" msibuild "$work/$msi" -s syslog-listen \
  "the syslog-listen developers" "x64;1033" \
  "{$(cat "$zipdir"/* | guid)}"

(cd "$work" && sha256sum "$deb" "$msi" "$zip" >SHA256SUMS)
mkdir -p "$out"
out=$(cd "$out" && pwd)
for file in "$deb" "$msi" "$zip" SHA256SUMS; do
  cp "$work/$file" "$out/$file"
  echo "$out/$file"
done

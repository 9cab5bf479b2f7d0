#!/bin/sh
# Builds the release artifacts from this checkout's tracked files, as they
# stand, reproducibly, and prints their absolute paths as its last lines:
#   syslog-listen_VERSION_ARCH.deb           Debian package (debhelper)
#   syslog-listen-VERSION-windows-x64.zip    syslog-listen.exe, README.txt,
#                                            LICENSE.txt
#   SHA256SUMS                               for both
# They go into the folder given (relative to where this is called from), or
# release/ in the checkout; the folder is made if need be, and only these
# three files in it are replaced.
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
scripts/setup.sh g++-mingw-w64-x86-64 debhelper dpkg-dev zip git

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
cmake -S "$src" -B "$work/windows" \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSYSLOG_LISTEN_WERROR=ON \
  -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$work=." >/dev/null
cmake --build "$work/windows" --parallel >/dev/null
zipdir=$work/zip
mkdir "$zipdir"
x86_64-w64-mingw32-strip -o "$zipdir/syslog-listen.exe" \
  "$work/windows/syslog-listen.exe"
# CR LF texts, as a Windows user reads them.
sed 's/$/\r/' "$work/windows/README.txt" >"$zipdir/README.txt"
sed 's/$/\r/' LICENSE >"$zipdir/LICENSE.txt"
find "$zipdir" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
chmod 644 "$zipdir"/*
zip=syslog-listen-$version-windows-x64.zip
(cd "$zipdir" && zip -X -9 -q "$work/$zip" syslog-listen.exe README.txt \
  LICENSE.txt)

(cd "$work" && sha256sum "$deb" "$zip" >SHA256SUMS)
mkdir -p "$out"
out=$(cd "$out" && pwd)
for file in "$deb" "$zip" SHA256SUMS; do
  cp "$work/$file" "$out/$file"
  echo "$out/$file"
done

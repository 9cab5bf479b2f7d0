#!/bin/sh
# Builds the release artifacts from this checkout, reproducibly, into one
# folder (release/ unless given), and prints their absolute paths as its
# last lines:
#   syslog-listen_VERSION_ARCH.deb           Debian package (dpkg-deb)
#   syslog-listen-VERSION-windows-x64.zip    syslog-listen.exe, README.txt,
#                                            LICENSE.txt
#   SHA256SUMS                               for both
# Two runs from clean clones of the same commit, in any folders, give the
# same bytes: times come from the commit, build paths are mapped away, and
# file order, modes and time zone are pinned.
# Usage: scripts/release.sh [output folder]
set -eu
cd "$(dirname "$0")/.."
top=$PWD
out=${1:-release}
scripts/setup.sh g++-mingw-w64-x86-64 dpkg-dev zip git

umask 022
export TZ=UTC LC_ALL=C.UTF-8
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
maintainer="syslog-listen developers <maintainers@syslog-listen.invalid>"
build=build-release
rm -rf "$build" "$out"
mkdir -p "$build" "$out"
out=$(cd "$out" && pwd)

# Linux: Debian's build flags (hardening; build paths mapped away), a
# dynamically linked executable, as Debian packages do.
DEB_BUILD_MAINT_OPTIONS=hardening=+all
export DEB_BUILD_MAINT_OPTIONS
cmake -S . -B "$build/linux" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DSYSLOG_LISTEN_UNIT_DIR=/lib/systemd/system \
  -DSYSLOG_LISTEN_WERROR=ON -DSYSLOG_LISTEN_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build/linux" --parallel >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/linux/CMakeCache.txt")

# Windows: the cross build, with its own paths mapped away (the toolchain
# leaves the time stamp out of the executable).
cmake -S . -B "$build/windows" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSYSLOG_LISTEN_WERROR=ON \
  -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$top=." >/dev/null
cmake --build "$build/windows" --parallel >/dev/null

# Every file and folder gets the commit's time, so that archives built from
# them do too.
stamp() { find "$@" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# The Debian package.
root=$build/deb
DESTDIR=$root cmake --install "$build/linux" --strip >/dev/null
# As Debian's own tools strip: the compiler's notes go too.
strip --remove-section=.comment "$root/usr/bin/syslog-listen"
doc=$root/usr/share/doc/syslog-listen
mkdir -p "$doc" "$root/DEBIAN"
gzip -9n "$root/usr/share/man/man1/syslog-listen.1"
cp README.md "$doc/"
{
  printf 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'
  printf 'Upstream-Name: syslog-listen\n\nFiles: *\n'
  sed -n 's/^Copyright (c) /Copyright: /p' LICENSE
  printf 'License: Expat\n'
  # The licence text, indented, a blank line as " .".
  sed -n '/^Permission/,$p' LICENSE | sed 's/^$/./; s/^/ /'
} >"$doc/copyright"
sed -e "s/@VERSION@/$version/g" -e "s/@MAINTAINER@/$maintainer/" \
  -e "s/@DATE@/$(date -R -d "@$SOURCE_DATE_EPOCH")/" \
  dist/debian/changelog.in | gzip -9n >"$doc/changelog.gz"
# dpkg-shlibdeps reads the package's control file; a bare one will do.
mkdir -p "$build/shlibs/debian"
printf 'Source: syslog-listen\n\nPackage: syslog-listen\nArchitecture: any\n' \
  >"$build/shlibs/debian/control"
depends=$(cd "$build/shlibs" &&
  dpkg-shlibdeps -O "$top/$root/usr/bin/syslog-listen" |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "release: no dependencies found" >&2; exit 1; }
arch=$(dpkg --print-architecture)
size=$(du -sk --apparent-size "$root/usr" "$root/lib" | awk '{s += $1} END {print s}')
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" \
  -e "s/@MAINTAINER@/$maintainer/" -e "s/@SIZE@/$size/" \
  -e "s/@DEPENDS@/$depends/" dist/debian/control.in >"$root/DEBIAN/control"
# What dpkg --verify checks the installed files against.
(cd "$root" && find . -type f ! -path './DEBIAN/*' | sed 's|^\./||' |
  LC_ALL=C sort | xargs md5sum) >"$root/DEBIAN/md5sums"
chmod -R u+rwX,go+rX,go-w "$root"
stamp "$root"
deb=$out/syslog-listen_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null

# The Windows zip: the executable, and CR LF texts a Windows user reads.
zipdir=$build/zip
mkdir -p "$zipdir"
cp "$build/windows/syslog-listen.exe" "$zipdir/"
sed 's/$/\r/' "$build/windows/README.txt" >"$zipdir/README.txt"
sed 's/$/\r/' LICENSE >"$zipdir/LICENSE.txt"
stamp "$zipdir"
chmod 644 "$zipdir"/*
zip=$out/syslog-listen-$version-windows-x64.zip
(cd "$zipdir" && zip -X -9 -q "$zip" syslog-listen.exe README.txt LICENSE.txt)

(cd "$out" && sha256sum "$(basename "$deb")" "$(basename "$zip")" >SHA256SUMS)
echo "$deb"
echo "$zip"
echo "$out/SHA256SUMS"

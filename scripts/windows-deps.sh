#!/bin/sh
# The libraries sparkloom-cli.exe links that Debian has no MinGW build of,
# minizip and expat, built static from Debian's own source packages into
# DEPS/prefix (DEPS is $1, default build-windows/deps). The sources are fetched
# with `apt-get source` into DEPS/src; nothing of them is kept in the tree.
# A second run finds DEPS/prefix/.done and does nothing.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
deps=${1:-"$here/build-windows/deps"}
prefix="$deps/prefix"
jobs=${SPARKLOOM_JOBS:-2}
host=x86_64-w64-mingw32

[ -f "$prefix/.done" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi

# apt-get source needs deb-src entries; Debian 12 keeps its sources in deb822
# form, so the deb entries are copied with Types: deb-src.
has_deb_src() {
  grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
    grep -qs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}
if ! has_deb_src; then
  echo "Adding deb-src entries (/etc/apt/sources.list.d/sparkloom-src.sources)"
  src=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >>"$src" && echo >>"$src"
  done
  # One-line entries ("deb [opts] URI suite comp..."), as older systems have them.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) \([^ ]*\) \(.*\)$/Types: deb-src\nURIs: \2\nSuites: \3\nComponents: \4\n/p' "$f" >>"$src"
  done
  $sudo install -m 644 "$src" /etc/apt/sources.list.d/sparkloom-src.sources
  rm -f "$src"
  $sudo apt-get update -q
fi

mkdir -p "$deps/src"
cd "$deps/src"

# The newest version of package whose source downloads: the default first,
# then each version the archive lists, newest first (a security update's
# source is sometimes missing from a mirror).
fetch() {
  package=$1
  if ls -d "$package"-*/ >/dev/null 2>&1; then
    return 0
  fi
  if apt-get source -q "$package" >"$package.log" 2>&1; then
    return 0
  fi
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -u -r -V); do
    echo "apt-get source $package failed; trying $package=$version"
    rm -rf "${package:?}"-*/ "${package:?}"_*
    if apt-get source -q "$package=$version" >>"$package.log" 2>&1; then
      return 0
    fi
  done
  cat "$package.log" >&2
  echo "No source of $package could be fetched." >&2
  exit 1
}
fetch minizip
fetch expat
# shellcheck disable=SC2012  # the one folder apt-get source unpacked
minizip_src=$(ls -d "$deps"/src/minizip-*/ | head -n 1)
# shellcheck disable=SC2012
expat_src=$(ls -d "$deps"/src/expat-*/ | head -n 1)

# minizip must refuse entry names, comments and extra fields over 65535
# bytes (CVE-2023-45853): Debian carries the fix as a patch, which dpkg-source
# applied when it unpacked the source.
patch=CVE-2023-45853.patch
if ! grep -qx "$patch" "$minizip_src/debian/patches/series" ||
  ! grep -qx "$patch" "$minizip_src/.pc/applied-patches" ||
  ! grep -q 'strlen(filename)>0xffff' "$minizip_src/zip.c"; then
  echo "The minizip source in $minizip_src lacks the fix for CVE-2023-45853." >&2
  exit 1
fi
echo "minizip: $patch is in debian/patches/series, applied, and zip.c holds its check"

mkdir -p "$prefix/include/minizip" "$prefix/lib/pkgconfig" "$prefix/share/licenses"

# minizip: the library part of its Makefile.am (with iowin32.c, as for any
# Windows host), compiled directly; Debian builds it with autotools.
rm -rf "$deps/build-minizip"
mkdir -p "$deps/build-minizip"
objects=""
for source in ioapi mztools unzip zip iowin32; do
  $host-gcc-posix -O2 -w -c "$minizip_src/$source.c" -o "$deps/build-minizip/$source.o"
  objects="$objects $deps/build-minizip/$source.o"
done
# shellcheck disable=SC2086
$host-gcc-ar-posix rcs "$prefix/lib/libminizip.a" $objects
for header in crypt.h ioapi.h mztools.h unzip.h zip.h iowin32.h; do
  cp "$minizip_src/$header" "$prefix/include/minizip/"
done
version=$(sed -n 's/^AC_INIT(\[minizip\], \[\([^]]*\)\].*/\1/p' "$minizip_src/configure.ac")
# shellcheck disable=SC2016  # ${prefix} is pkg-config's, not the shell's
sed -e "s|@prefix@|$prefix|" -e 's|@exec_prefix@|${prefix}|' -e 's|@libdir@|${prefix}/lib|' \
  -e 's|@includedir@|${prefix}/include|' -e "s|@PACKAGE_VERSION@|$version|" \
  "$minizip_src/minizip.pc.in" >"$prefix/lib/pkgconfig/minizip.pc"
cp "$minizip_src/debian/copyright" "$prefix/share/licenses/minizip.txt"

# expat: its own CMake build, static, the library only. Debian builds it with
# autotools, which define XML_DTD as 1, and its security patches test for
# that value; expat's CMake header defines it empty until 2.6, so it is given
# the value here.
rm -rf "$deps/build-expat"
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$expat_src/expat/expat_config.h.cmake"
cmake -S "$expat_src/expat" -B "$deps/build-expat" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF >/dev/null
nice -n 19 cmake --build "$deps/build-expat" -j"$jobs" >/dev/null
cmake --install "$deps/build-expat" >/dev/null
{
  cat "$expat_src/expat/COPYING"
  printf '\n\n----- Debian packaging (%s) -----\n\n' "$(basename "$expat_src")"
  cat "$expat_src/debian/copyright"
} >"$prefix/share/licenses/expat.txt"

for src in "$minizip_src" "$expat_src"; do
  log="$src/debian/changelog"
  echo "$(dpkg-parsechangelog -l "$log" -S Source) $(dpkg-parsechangelog -l "$log" -S Version)"
done >"$prefix/.done"
echo "minizip and expat for Windows are in $prefix"

#!/bin/sh
# The libraries the Windows programs link, built static from Debian 13's own
# source packages into DEPS/prefix (DEPS is $1, default build-windows/deps):
# zlib, minizip from zlib's contrib/minizip, and expat (ffmpeg.exe links the
# same zlib). The sources are fetched with `apt-get source` into DEPS/src
# (scripts/windows-sources.sh: a private apt configuration, the newest version
# that can be fetched); nothing of them is kept in the tree. A run rebuilds
# when the versions differ from what DEPS/prefix/.done records, and writes
# DEPS/versions, the lines licenses/VERSIONS.txt is made from.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-"$here/build-windows/deps"}"
deps=$(cd "${1:-"$here/build-windows/deps"}" && pwd)
prefix="$deps/prefix"
jobs=${SPARKLOOM_JOBS:-2}
host=x86_64-w64-mingw32
# No build path in what is compiled: two builds in two folders give the same
# bytes.
cflags="-O2 -ffile-prefix-map=$deps=deps"

# shellcheck source=scripts/windows-sources.sh
. "$here/scripts/windows-sources.sh"
windows_sources_setup "${SPARKLOOM_APT_DIR:-"$(dirname "$deps")/apt"}"

: >"$deps/versions.new"
windows_source zlib "$deps/src/zlib"
zlib_src=$src
windows_source_record zlib "$deps/versions.new"
windows_source_record minizip "$deps/versions.new"
zlib_version=$version
windows_source expat "$deps/src/expat"
expat_src=$src
expat_version=$version
windows_source_record expat "$deps/versions.new"
mv "$deps/versions.new" "$deps/versions"
minizip_src=$zlib_src/contrib/minizip
built="zlib $zlib_version
expat $expat_version
$cflags"
if [ "$(cat "$prefix/.done" 2>/dev/null)" = "$built" ]; then
  exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix/include/minizip" "$prefix/lib/pkgconfig" "$prefix/share/licenses"

# zlib: the library part of win32/Makefile.gcc, compiled directly.
rm -rf "$deps/build-zlib"
mkdir -p "$deps/build-zlib"
objects=""
for source in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback \
  inffast inflate inftrees trees uncompr zutil; do
  # shellcheck disable=SC2086
  $host-gcc-posix $cflags -w -c "$zlib_src/$source.c" -o "$deps/build-zlib/$source.o"
  objects="$objects $deps/build-zlib/$source.o"
done
# shellcheck disable=SC2086
$host-gcc-ar-posix rcsD "$prefix/lib/libz.a" $objects
cp "$zlib_src/zlib.h" "$zlib_src/zconf.h" "$prefix/include/"
zlib_upstream=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"$/\1/p' "$zlib_src/zlib.h")
# shellcheck disable=SC2016  # ${prefix} is pkg-config's, not the shell's
sed -e "s|@prefix@|$prefix|" -e 's|@exec_prefix@|${prefix}|' -e 's|@libdir@|${prefix}/lib|' \
  -e 's|@sharedlibdir@|${prefix}/lib|' -e 's|@includedir@|${prefix}/include|' \
  -e "s|@VERSION@|$zlib_upstream|" "$zlib_src/zlib.pc.in" >"$prefix/lib/pkgconfig/zlib.pc"
{
  cat "$zlib_src/LICENSE"
  printf '\n\n----- Debian packaging (%s) -----\n\n' "$(basename "$zlib_src")"
  cat "$zlib_src/debian/copyright"
} >"$prefix/share/licenses/zlib.txt"

# minizip must refuse entry names, comments and extra fields over 65535
# bytes (CVE-2023-45853).
# zlib 1.3.1 carries the fix upstream (Debian 12's minizip had it as a patch).
if ! grep -q 'strlen(filename)>0xffff' "$minizip_src/zip.c"; then
  echo "The minizip source in $minizip_src lacks the fix for CVE-2023-45853." >&2
  exit 1
fi
echo "minizip: zip.c holds the check for CVE-2023-45853"

# minizip: the library part of its Makefile.am (with iowin32.c, as for any
# Windows host), compiled directly; Debian builds it with autotools.
rm -rf "$deps/build-minizip"
mkdir -p "$deps/build-minizip"
objects=""
for source in ioapi mztools unzip zip iowin32; do
  # shellcheck disable=SC2086
  $host-gcc-posix $cflags -I"$prefix/include" -w -c "$minizip_src/$source.c" \
    -o "$deps/build-minizip/$source.o"
  objects="$objects $deps/build-minizip/$source.o"
done
# shellcheck disable=SC2086
$host-gcc-ar-posix rcsD "$prefix/lib/libminizip.a" $objects
for header in crypt.h ioapi.h mztools.h unzip.h zip.h iowin32.h; do
  cp "$minizip_src/$header" "$prefix/include/minizip/"
done
version=$(sed -n 's/^AC_INIT(\[minizip\], \[\([^]]*\)\].*/\1/p' "$minizip_src/configure.ac")
# shellcheck disable=SC2016  # ${prefix} is pkg-config's, not the shell's
sed -e "s|@prefix@|$prefix|" -e 's|@exec_prefix@|${prefix}|' -e 's|@libdir@|${prefix}/lib|' \
  -e 's|@includedir@|${prefix}/include|' -e "s|@PACKAGE_VERSION@|$version|" \
  "$minizip_src/minizip.pc.in" >"$prefix/lib/pkgconfig/minizip.pc"
{
  cat "$minizip_src/MiniZip64_info.txt"
  printf '\n\n----- Debian packaging (%s, contrib/minizip) -----\n\n' "$(basename "$zlib_src")"
  cat "$zlib_src/debian/copyright"
} >"$prefix/share/licenses/minizip.txt"

# expat: its own CMake build, static, the library only. Debian builds it with
# autotools, which define XML_DTD as 1, and its security patches test for
# that value; expat's CMake header defines it empty until 2.6, so it is given
# the value here.
rm -rf "$deps/build-expat"
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$expat_src/expat/expat_config.h.cmake"
cmake -S "$expat_src/expat" -B "$deps/build-expat" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_C_FLAGS="$cflags" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF >/dev/null
nice -n 19 cmake --build "$deps/build-expat" -j"$jobs" >/dev/null
cmake --install "$deps/build-expat" >/dev/null
{
  cat "$expat_src/expat/COPYING"
  printf '\n\n----- Debian packaging (%s) -----\n\n' "$(basename "$expat_src")"
  cat "$expat_src/debian/copyright"
} >"$prefix/share/licenses/expat.txt"

printf '%s\n' "$built" >"$prefix/.done"
echo "zlib, minizip and expat for Windows are in $prefix"

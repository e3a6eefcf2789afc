#!/bin/sh
# The libraries sparkloom-cli.exe links that Debian has no MinGW build of,
# minizip and expat, built static from Debian's own source packages into
# DEPS/prefix (DEPS is $1, default build-windows/deps). The sources are fetched
# with `apt-get source` into DEPS/src; nothing of them is kept in the tree.
# Each run takes the newest source version apt knows that can be fetched (an
# older one only with a warning saying why) and rebuilds when that differs
# from what DEPS/prefix/.done records.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
deps=${1:-"$here/build-windows/deps"}
prefix="$deps/prefix"
jobs=${SPARKLOOM_JOBS:-2}
host=x86_64-w64-mingw32

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

# Sets src to the unpacked source of package, version to its version: the
# newest version apt knows whose source downloads (a security update's source
# is sometimes missing from a mirror). Each version unpacks in a folder of its
# own, so a warm run needs no network; a newer one is tried on every run.
fetch() {
  package=$1
  newest=""
  src=""
  for version in $(apt-cache showsrc --only-source "$package" 2>/dev/null |
    sed -n 's/^Version: //p' | sort -u -r -V); do
    newest=${newest:-$version}
    folder=$deps/src/$package/$(echo "$version" | sed 's/^[0-9]*://')
    if [ ! -f "$folder/.unpacked" ]; then
      rm -rf "$folder"
      mkdir -p "$folder"
      if (cd "$folder" && apt-get source -q "$package=$version" >fetch.log 2>&1); then
        touch "$folder/.unpacked"
      else
        why=$(sed -n 's/^E: //p' "$folder/fetch.log" | head -n 1)
        echo "warning: the source of $package $version cannot be fetched" \
          "(${why:-see $folder/fetch.log}); trying an older version" >&2
        continue
      fi
    fi
    src=$(find "$folder" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
    break
  done
  if [ -z "$src" ]; then
    echo "No source of $package could be fetched." >&2
    exit 1
  fi
  if [ "$version" = "$newest" ]; then
    echo "$package: source $version, the newest apt knows"
  else
    echo "warning: $package is built from the older source $version, not $newest" >&2
  fi
}
fetch minizip
minizip_src=$src
minizip_version=$version
fetch expat
expat_src=$src
expat_version=$version
built="minizip $minizip_version
expat $expat_version"
if [ "$(cat "$prefix/.done" 2>/dev/null)" = "$built" ]; then
  exit 0
fi
rm -rf "$prefix"

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

printf '%s\n' "$built" >"$prefix/.done"
echo "minizip and expat for Windows are in $prefix"

#!/bin/sh
# Builds the ffmpeg.exe and ffprobe.exe that Sparkloom for Windows ships, with
# MinGW-w64 from Debian 13's ffmpeg source package, into DIR/dist (DIR is $1,
# default build-windows/ffmpeg-build) beside their licence (LGPL 2.1) and a
# note naming the source. LGPL only: no --enable-gpl or --enable-nonfree, no
# external library but zlib (the png decoder needs it; the static one
# scripts/windows-deps.sh built from Debian 13's source, found in
# SPARKLOOM_WINDOWS_PREFIX, default DIR/../deps/prefix), nasm for the
# assembly. The two programs share FFmpeg's own DLLs, which lie beside them
# and need only Windows' own: about 8.8 MB installed where two static exes
# take 15 MB (each holds nearly all of the decoders and formats). Only what
# sparkloom-cli runs is enabled: the common camera and download formats read,
# the first video stream copied to the null muxer (the count), decoded,
# trimmed, rotated, thinned to a frame rate and scaled into numbered JPEG
# files; ffprobe reads the same formats for the clip's facts. The Frames
# dialog's estimate keeps its sample frames decoded once (rawvideo in NUT,
# joined by concat and setpts) and encodes them again to a pipe (image2pipe)
# on each change of width or quality.
#
# A cold build takes a while, so DIR/build/.stamp records the source versions
# and the configure line; a second run with these unchanged only copies. The
# configure line and the compiled file names hold no absolute path (the
# source is reached through the link build/src), so a build in another folder
# gives the same bytes and a copied DIR is reused as it is.
# The source comes from `apt-get source` into DIR/src, never into the tree.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$here/build-windows/ffmpeg-build"}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
jobs=${SPARKLOOM_JOBS:-2}
host=x86_64-w64-mingw32
zlib_prefix=${SPARKLOOM_WINDOWS_PREFIX:-"$(dirname "$dir")/deps/prefix"}

list() { echo "$*" | tr ' ' ','; }
decoders=$(list h264 hevc mpeg4 h263 flv mpeg1video mpeg2video vp8 vp9 prores mjpeg \
  wmv1 wmv2 wmv3 vc1 msmpeg4v1 msmpeg4v2 msmpeg4v3 png)
parsers=$(list h264 hevc mpeg4video h263 mpegvideo vp8 vp9 vc1 mjpeg png)
demuxers=$(list mov matroska avi asf mpegps mpegts mpegvideo flv)
# The ffmpeg program itself selects trim, transpose, hflip, vflip and format;
# they are named here all the same, as the road relies on them.
filters=$(list fps scale trim transpose hflip vflip rotate format null concat setpts)
# No time stamp in the PE headers; zlib from ../zlib, a copy of the prefix's.
configure="--target-os=mingw32 --arch=x86_64 --enable-cross-compile
  --cross-prefix=$host- --cc=$host-gcc-posix --pkg-config=false
  --extra-cflags=-I../zlib/include --extra-ldflags=-L../zlib/lib
  --extra-ldflags=-static-libgcc --extra-ldflags=-Wl,--no-insert-timestamp
  --enable-shared --disable-static --disable-debug
  --disable-autodetect --enable-w32threads --enable-zlib
  --disable-everything --disable-network --disable-doc
  --disable-ffplay --disable-avdevice --disable-swresample
  --enable-protocol=file,pipe --enable-demuxer=$demuxers,nut --enable-parser=$parsers
  --enable-decoder=$decoders,rawvideo --enable-filter=$filters
  --enable-encoder=mjpeg,rawvideo --enable-muxer=image2,image2pipe,nut,null"

# shellcheck source=scripts/windows-sources.sh
. "$here/scripts/windows-sources.sh"
windows_sources_setup "${SPARKLOOM_APT_DIR:-"$(dirname "$dir")/apt"}"
: >"$dir/versions"
windows_source ffmpeg "$dir/src"
windows_source_record ffmpeg "$dir/versions"
windows_source_record ffprobe "$dir/versions"
source=$version

zlib=$(sed -n 's/^zlib //p' "$zlib_prefix/.done" 2>/dev/null)
if [ -z "$zlib" ]; then
  echo "No zlib for Windows in $zlib_prefix: scripts/windows-deps.sh builds it." >&2
  exit 1
fi
stamp="ffmpeg $source
zlib $zlib
$configure"
cd "$dir"
if [ ! -f build/ffmpeg.exe ] || [ ! -f build/ffprobe.exe ] ||
  [ "$(cat build/.stamp 2>/dev/null)" != "$stamp" ]; then
  rm -rf build zlib
  mkdir -p build zlib/include zlib/lib
  cp "$zlib_prefix/include/zlib.h" "$zlib_prefix/include/zconf.h" zlib/include/
  cp "$zlib_prefix/lib/libz.a" zlib/lib/
  cd build
  # configure takes a source reached as ./src by that relative name, and the
  # compiler then sees only relative paths.
  ln -s "../src/$(basename "$(dirname "$src")")/$(basename "$src")" src
  # shellcheck disable=SC2086  # the configure line is split into its options
  if ! ./src/configure $configure >configure.log 2>&1; then
    tail -n 30 configure.log >&2
    echo "ffmpeg's configure failed; see $dir/build/configure.log and ffbuild/config.log" >&2
    exit 1
  fi
  # Bail out rather than ship a build that crept out of the LGPL.
  if ! grep -qx 'License: LGPL version 2.1 or later' configure.log; then
    grep '^License:' configure.log >&2 || true
    echo "ffmpeg is not configured under the LGPL 2.1" >&2
    exit 1
  fi
  nice -n 19 make -j"$jobs" >make.log 2>&1 || {
    tail -n 30 make.log >&2
    exit 1
  }

  printf '%s' "$stamp" >.stamp
fi

rm -rf "$dir/dist.new"
mkdir "$dir/dist.new"
# strip writes a time stamp into the PE header, SOURCE_DATE_EPOCH's when it
# is set: here the date of the source's Debian changelog, which the cache
# key holds, so a build reused from the cache and a cold one agree.
epoch=$(dpkg-parsechangelog -l "$src/debian/changelog" -STimestamp)
for program in ffmpeg ffprobe; do
  SOURCE_DATE_EPOCH=$epoch $host-strip -o "$dir/dist.new/$program.exe" "$dir/build/${program}_g.exe"
done
# libavutil takes nanosleep from the MinGW-w64 runtime's winpthread, whose
# DLL ships beside it (its licence is in licenses/ with the runtime's).
for library in "$dir"/build/lib*/*-[0-9]*.dll /usr/$host/lib/libwinpthread-1.dll; do
  SOURCE_DATE_EPOCH=$epoch $host-strip -o "$dir/dist.new/$(basename "$library")" "$library"
done
# Each needs only Windows' own DLLs and those beside it.
system='(advapi32|bcrypt|kernel32|msvcrt|ole32|psapi|shell32|user32|ws2_32)\.dll|api-ms-win-.*'
for program in "$dir"/dist.new/*.exe "$dir"/dist.new/*.dll; do
  foreign=$($host-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    while read -r dll; do [ -f "$dir/dist.new/$dll" ] || echo "$dll"; done |
    tr '[:upper:]' '[:lower:]' | grep -vxE "$system" || true)
  if [ -n "$foreign" ]; then
    echo "$(basename "$program") needs DLLs Windows does not have: $foreign" >&2
    exit 1
  fi
done
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$src/COPYING.LGPLv2.1" "$dir/dist.new/ffmpeg-LGPL-2.1.txt"
upstream=$(echo "$source" | sed -e 's/^[0-9]*://' -e 's/-[^-]*$//')
cat >"$dir/dist.new/ffmpeg-source.txt.lf" <<EOF
ffmpeg.exe, ffprobe.exe and their DLLs
======================================

ffmpeg.exe, ffprobe.exe and the DLLs they share,
$(cd "$dir/dist.new" && find . -name '*.dll' ! -name 'libwinpthread*' | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//'),
are FFmpeg $upstream, under the GNU Lesser General Public Licence 2.1 or
later (ffmpeg-LGPL-2.1.txt). They were built, unchanged,
from the source package ffmpeg $source of Debian 13 ($debian_release),
which "apt-get source ffmpeg=$source" fetches on that system and
https://snapshot.debian.org/package/ffmpeg/ keeps, with its copyright file.

They were cross-compiled with MinGW-w64 GCC $($host-gcc-posix -dumpfullversion) and nasm $(nasm -v | cut -d' ' -f3),
configured with:

$(echo "$configure" | sed 's/^ */  /')

They contain zlib and the MinGW-w64 runtime, and libwinpthread-1.dll beside
them is that runtime's; their licences are in licenses/.
EOF
crlf "$dir/dist.new/ffmpeg-source.txt.lf" "$dir/dist.new/ffmpeg-source.txt"
rm "$dir/dist.new/ffmpeg-source.txt.lf"
rm -rf "$dir/dist"
mv "$dir/dist.new" "$dir/dist"
echo "$dir/dist/ffmpeg.exe, ffprobe.exe and their DLLs"

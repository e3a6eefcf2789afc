#!/bin/sh
# Builds the ffmpeg.exe that Sparkloom for Windows ships, with MinGW-w64 from
# Debian's own ffmpeg source package, into DIR/dist (DIR is $1, default
# build-windows/ffmpeg-build) beside its licence (LGPL 2.1) and a note naming
# the source. LGPL only: no --enable-gpl or --enable-nonfree, no external
# library but the static MinGW zlib (the png decoder needs it), nasm for the
# assembly, a static exe that needs only Windows' own DLLs. Only what
# sparkloom-cli runs is enabled: the common camera and download formats read,
# the first video stream copied to the null muxer (the count), decoded,
# trimmed, rotated, thinned to a frame rate and scaled into numbered JPEG
# files; and the frames dialog's samples, a few short runs of the clip joined
# and written as JPEGs to a pipe.
#
# A cold build takes a while, so DIR/build/.stamp records the source version
# and the configure line; a second run with both unchanged only copies.
# The source comes from `apt-get source` into DIR/src, never into the tree.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$here/build-windows/ffmpeg-build"}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
jobs=${SPARKLOOM_JOBS:-2}
host=x86_64-w64-mingw32

list() { echo "$*" | tr ' ' ','; }
decoders=$(list h264 hevc mpeg4 h263 flv mpeg1video mpeg2video vp8 vp9 prores mjpeg \
  wmv1 wmv2 wmv3 vc1 msmpeg4v1 msmpeg4v2 msmpeg4v3 png)
parsers=$(list h264 hevc mpeg4video h263 mpegvideo vp8 vp9 vc1 mjpeg png)
demuxers=$(list mov matroska avi asf mpegps mpegts mpegvideo flv)
# The ffmpeg program itself selects trim, transpose, hflip, vflip and format;
# they are named here all the same, as the road relies on them.
filters=$(list fps scale trim transpose hflip vflip rotate format null setpts concat)
configure="--target-os=mingw32 --arch=x86_64 --enable-cross-compile
  --cross-prefix=$host- --cc=$host-gcc-posix --pkg-config=false
  --extra-ldflags=-static --disable-debug
  --disable-autodetect --enable-w32threads --enable-zlib
  --disable-everything --disable-network --disable-doc
  --disable-ffplay --disable-ffprobe --disable-avdevice --disable-swresample
  --enable-protocol=file,pipe --enable-demuxer=$demuxers --enable-parser=$parsers
  --enable-decoder=$decoders --enable-filter=$filters
  --enable-encoder=mjpeg --enable-muxer=image2,image2pipe,null"

mkdir -p "$dir/src"
cd "$dir/src"
# The newest version whose source is here or downloads (a security update's
# source is sometimes missing from a mirror). Each version unpacks in its own
# folder, so a warm run needs no network.
source=""
for version in $(apt-cache showsrc --only-source ffmpeg 2>/dev/null |
  sed -n 's/^Version: //p' | sort -u -r -V); do
  folder=$dir/src/$(echo "$version" | sed 's/^[0-9]*://')
  if [ -f "$folder/.unpacked" ]; then
    source=$version
    break
  fi
  rm -rf "$folder"
  mkdir -p "$folder"
  if (cd "$folder" && apt-get source -q "ffmpeg=$version" >fetch.log 2>&1); then
    touch "$folder/.unpacked"
    source=$version
    break
  fi
  echo "apt-get source ffmpeg=$version failed; trying an older version" >&2
done
if [ -z "$source" ]; then
  echo "No source of ffmpeg could be fetched: apt-get source needs a deb-src entry," >&2
  echo "which scripts/windows-deps.sh adds." >&2
  exit 1
fi
# shellcheck disable=SC2012  # the one folder apt-get source unpacked
src=$(ls -d "$folder"/ffmpeg-*/ | head -n 1)
src=${src%/}

stamp="ffmpeg $source
$configure"
cd "$dir"
if [ ! -f build/ffmpeg.exe ] || [ "$(cat build/.stamp 2>/dev/null)" != "$stamp" ]; then
  rm -rf build
  mkdir build
  cd build
  # shellcheck disable=SC2086  # the configure line is split into its options
  if ! "$src/configure" $configure >configure.log 2>&1; then
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

  system='(advapi32|bcrypt|kernel32|msvcrt|ole32|psapi|shell32|user32|ws2_32)\.dll|api-ms-win-.*'
  foreign=$($host-objdump -p ffmpeg.exe | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr '[:upper:]' '[:lower:]' | grep -vxE "$system" || true)
  if [ -n "$foreign" ]; then
    echo "ffmpeg.exe needs DLLs Windows does not have: $foreign" >&2
    exit 1
  fi
  printf '%s' "$stamp" >.stamp
fi

rm -rf "$dir/dist.new"
mkdir "$dir/dist.new"
cp "$dir/build/ffmpeg.exe" "$dir/dist.new/ffmpeg.exe"
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$src/COPYING.LGPLv2.1" "$dir/dist.new/ffmpeg-LGPL-2.1.txt"
upstream=$(echo "$source" | sed -e 's/^[0-9]*://' -e 's/-[^-]*$//')
# shellcheck disable=SC1091
system=$(. /etc/os-release && echo "$PRETTY_NAME")
cat >"$dir/dist.new/ffmpeg-source.txt.lf" <<EOF
ffmpeg.exe
==========

ffmpeg.exe is FFmpeg $upstream, under the GNU Lesser General Public Licence
2.1 or later (ffmpeg-LGPL-2.1.txt). It was built, unchanged, from the source
package ffmpeg $source of $system,
which "apt-get source ffmpeg=$source" fetches on that system and
https://snapshot.debian.org/package/ffmpeg/ keeps, with its copyright file.

It was cross-compiled with MinGW-w64 GCC $($host-gcc-posix -dumpfullversion) and nasm $(nasm -v | cut -d' ' -f3),
configured with:

$(echo "$configure" | sed 's/^ */  /')

It contains zlib and the MinGW-w64 runtime, whose licences are in licenses/.
EOF
crlf "$dir/dist.new/ffmpeg-source.txt.lf" "$dir/dist.new/ffmpeg-source.txt"
rm "$dir/dist.new/ffmpeg-source.txt.lf"
rm -rf "$dir/dist"
mv "$dir/dist.new" "$dir/dist"
echo "$dir/dist/ffmpeg.exe"

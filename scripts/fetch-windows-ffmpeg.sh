#!/bin/sh
# Fetches a Windows ffmpeg.exe (4.1, GPLv3, from the npm package
# @ffmpeg-installer/win32-x64) into DIR for the Wine tests, once, and prints
# the path of ffmpeg.exe. It is test equipment: never commit or ship it.
# Usage: fetch-windows-ffmpeg.sh DIR
set -eu
dir=${1:?usage: fetch-windows-ffmpeg.sh DIR}
package=@ffmpeg-installer/win32-x64@4.1.0
tarball=ffmpeg-installer-win32-x64-4.1.0.tgz
sum=c8abc49e7be62dde8e12972af373959e0076a7b8dc8040eb45978e0608f8781e
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
exe=$dir/ffmpeg.exe

matches() { [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$sum" ]; }

if ! matches "$exe"; then
  if ! command -v npm >/dev/null 2>&1; then
    echo "Installing npm to fetch ffmpeg.exe" >&2
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get install -y --no-install-recommends npm >&2
  fi
  if [ ! -s "$dir/$tarball" ]; then
    # The registry's tarball is checked by npm against its published integrity.
    (cd "$dir" && npm pack --silent "$package" >/dev/null)
  fi
  # Unpacked beside, then moved into place, so an interrupted run leaves no half file.
  rm -rf "$dir/unpack"
  mkdir "$dir/unpack"
  tar -xzf "$dir/$tarball" -C "$dir/unpack" package/ffmpeg.exe
  if ! matches "$dir/unpack/package/ffmpeg.exe"; then
    echo "fetch-windows-ffmpeg.sh: $package holds another ffmpeg.exe than expected" >&2
    rm -rf "$dir/unpack" "${dir:?}/$tarball"
    exit 1
  fi
  mv "$dir/unpack/package/ffmpeg.exe" "$exe"
  rm -rf "$dir/unpack"
fi
echo "$exe"

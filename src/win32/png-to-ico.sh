#!/bin/sh
# Wraps a PNG in an .ico file of one image, which windres takes as the
# program's icon; Windows reads PNG icons since Vista.
# Usage: png-to-ico.sh IN.png OUT.ico
set -eu
in=$1
out=$2
# The PNG's IHDR holds width and height as big-endian 32-bit numbers at bytes 16 and 20.
dimension() { od -An -tu1 -j"$1" -N4 "$in" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
width=$(dimension 16)
height=$(dimension 20)
size=$(wc -c <"$in")
byte() { printf '%b' "\\0$(printf '%03o' "$(($1 & 255))")"; }
le16() { byte "$1"; byte "$(($1 >> 8))"; }
le32() { le16 "$(($1 & 65535))"; le16 "$(($1 >> 16))"; }
{
  le16 0; le16 1; le16 1                                # reserved, type icon, one image
  byte "$((width >= 256 ? 0 : width))"; byte "$((height >= 256 ? 0 : height))"
  byte 0; byte 0; le16 1; le16 32                       # no palette, planes, bits per pixel
  le32 "$size"; le32 22                                 # image size, image offset
  cat "$in"
} >"$out.tmp"
mv "$out.tmp" "$out"

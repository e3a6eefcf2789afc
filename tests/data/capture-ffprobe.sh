#!/bin/sh
# Records what ffprobe says of each clip kind of make-kinds.sh (the JSON the
# clip facts are read from), and what ffmpeg writes of it: the frames and the
# first frame's size, the figures the reader's rows check against. The clips
# are always the host ffmpeg's; a Windows ffmpeg.exe and ffprobe.exe run under
# Wine, in a fresh prefix.
# Usage: capture-ffprobe.sh OUTDIR [FFMPEG [FFPROBE]]   e.g. capture-ffprobe.sh ffprobe51
#        capture-ffprobe.sh ffprobe71 DIST/ffmpeg.exe DIST/ffprobe.exe
set -eu
out=${1:?usage: capture-ffprobe.sh OUTDIR [FFMPEG [FFPROBE]]}
ff=${2:-ffmpeg}
probe=${3:-ffprobe}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
out=$(cd "$out" && pwd)
case $ff in
  *.exe)
    export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
    wine wineboot --init >/dev/null 2>&1
    for tool in ff probe; do
      eval "exe=\$$tool"
      exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
      printf '#!/bin/sh\nexec wine "%s" "$@"\n' "$exe" >"$work/$tool"
      chmod +x "$work/$tool"
      eval "$tool=\$work/\$tool"
    done
    ;;
esac
"$here/make-kinds.sh" "$work" ffmpeg
cd "$work"
"$ff" -version 2>/dev/null | head -n 1 | tr -d '\r' >"$out/version.txt"
: >"$out/written.txt"
for clip in vfr.mp4 phone.mp4 slow.mp4 two.mp4 rotated.mp4 cover.mp4 live.mkv; do
  kind=${clip%.*}
  "$probe" -v error -of json -show_format -show_streams "$clip" | tr -d '\r' >"$out/$kind.json"
  rm -rf OUT && mkdir OUT
  "$ff" -nostdin -v error -i "$clip" -map 0:V:0 OUT/x_%05d.jpg
  size=$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 OUT/x_00001.jpg)
  echo "$kind $(find OUT -name 'x_*.jpg' | wc -l) ${size%,*} ${size#*,}" >>"$out/written.txt"
done

#!/bin/sh
# Captures what one ffmpeg prints (stdout and stderr merged) for the counting
# and extraction runs on the clips of make-clips.sh. A Windows ffmpeg.exe runs
# under Wine, in a fresh prefix; its CR LF line ends are kept as it writes them.
# Usage: capture-ffmpeg.sh OUTDIR [FFMPEG [FFPROBE]]   e.g. capture-ffmpeg.sh ffmpeg71
#        capture-ffmpeg.sh ffmpeg41 "$(../../scripts/fetch-windows-ffmpeg.sh /tmp/ff)"
set -eu
out=${1:?usage: capture-ffmpeg.sh OUTDIR [FFMPEG [FFPROBE]]}
ff=${2:-ffmpeg}
probe=${3:-ffprobe}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
out=$(cd "$out" && pwd)
case $ff in
  *.exe)
    exe=$(cd "$(dirname "$ff")" && pwd)/$(basename "$ff")
    export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
    # The prefix is made first, so its messages stay out of the captures.
    wine wineboot --init >/dev/null 2>&1
    printf '#!/bin/sh\nexec wine "%s" "$@"\n' "$exe" >"$work/ffmpeg"
    chmod +x "$work/ffmpeg"
    ff=$work/ffmpeg
    ;;
esac
"$here/make-clips.sh" "$work/clips" "$ff"
cd "$work/clips"

# The clip's own name in the captures, not the temporary folder's.
capture() {
  name=$1
  shift
  "$ff" "$@" >"$out/$name.txt" 2>&1 && rc=0 || rc=$?
  echo "$name: exit code $rc" >>"$out/exit-codes.txt"
}

: >"$out/frames.txt"
: >"$out/exit-codes.txt"
for clip in plain audiofirst vfr cover rotated noise missing audioonly; do
  case $clip in audioonly) file=audioonly.m4a ;; *) file=$clip.mp4 ;; esac
  capture "count-copy-$clip" -nostdin -i "$file" -map 0:V:0 -c copy -f null -
  capture "count-copy-verbose-$clip" -nostdin -v verbose -i "$file" -map 0:V:0 -c copy -f null -
  capture "count-copy-progress-$clip" -nostdin -i "$file" -map 0:V:0 -c copy -f null \
    -progress pipe:2 -nostats -
  probed=$("$probe" -v error -count_frames -select_streams V:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$file" 2>/dev/null | tr -d ',\n' || true)
  for mode in "" -verbose; do
    rm -rf OUT && mkdir OUT
    capture "extract$mode-$clip" -nostdin -y ${mode:+-v verbose} -i "$file" -map 0:V:0 OUT/x_%05d.jpg
    written=$(find OUT -name 'x_*.jpg' | wc -l)
    echo "extract$mode-$clip: ffprobe nb_read_frames=${probed:-none}, files written $written" \
      >>"$out/frames.txt"
  done
done
# Progress reports (CR-ended) come only from runs longer than half a second.
capture count-copy-realtime-long -nostdin -re -i long.mp4 -map 0:V:0 -c copy -f null -
rm -rf OUT && mkdir OUT
capture extract-realtime-long -nostdin -y -re -i long.mp4 -map 0:V:0 OUT/x_%05d.jpg
echo "extract-realtime-long: files written $(find OUT -name 'x_*.jpg' | wc -l)" >>"$out/frames.txt"
"$ff" -version | head -1 | tr -d '\r' >"$out/version.txt"

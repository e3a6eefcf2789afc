#!/bin/sh
# Makes one small clip of each kind people bring to the Frames dialog, for the
# estimate's table in test_window_model and for capture-ffprobe.sh.
# Usage: make-kinds.sh OUTDIR [FFMPEG]
set -eu
out=${1:?usage: make-kinds.sh OUTDIR [FFMPEG]}
ff=${2:-ffmpeg}
mkdir -p "$out"
run() { "$ff" -nostdin -hide_banner -loglevel error -y "$@"; }
x264="-c:v libx264 -preset ultrafast -pix_fmt yuv420p"
noise="noise=alls=12:allf=t+u"

# A screen recording: frames only when something moves (12 of each 60, and
# every 7th), 60 tbr, about 19 frames a second on average.
# shellcheck disable=SC2086
run -f lavfi -i "testsrc2=size=320x180:rate=60:duration=12,$noise" \
  -vf "select='lt(mod(n\,60)\,12)+eq(mod(n\,7)\,0)'" -fps_mode vfr $x264 -bf 0 "$out/vfr.mp4"
# A phone clip at 59.94 whose audio runs 2 s longer than its video.
# shellcheck disable=SC2086
run -f lavfi -i "testsrc2=size=320x180:rate=60000/1001:duration=6,$noise" \
  -f lavfi -i "sine=duration=8" $x264 -c:a aac "$out/phone.mp4"
# Slow motion at 240 frames a second.
# shellcheck disable=SC2086
run -f lavfi -i "testsrc2=size=160x90:rate=240:duration=5,$noise" $x264 "$out/slow.mp4"
# Two video streams: the first, smaller one is the one extracted.
# shellcheck disable=SC2086
run -f lavfi -i "testsrc2=size=160x90:rate=25:duration=4,$noise" \
  -f lavfi -i "testsrc2=size=320x180:rate=30:duration=2" -map 0 -map 1 $x264 "$out/two.mp4"
# A portrait phone clip: stored 320x180, shown turned by 90 degrees.
# shellcheck disable=SC2086
run -f lavfi -i "testsrc2=size=320x180:rate=30:duration=3,$noise" $x264 "$out/upright.mp4"
if "$ff" -hide_banner -h full 2>/dev/null | grep -q -- '-display_rotation'; then
  run -display_rotation 90 -i "$out/upright.mp4" -c copy "$out/rotated.mp4"
else
  run -i "$out/upright.mp4" -c copy -metadata:s:v:0 rotate=90 "$out/rotated.mp4"
fi
# Cover art larger than the video, mapped before it (MP4 keeps it as the last stream).
run -f lavfi -i "testsrc2=size=640x360:rate=1" -frames:v 1 "$out/cover.png"
run -i "$out/cover.png" -i "$out/upright.mp4" -map 0 -map 1 -c copy \
  -disposition:v:0 attached_pic "$out/cover.mp4"
# Matroska written to a pipe: no duration in its header.
# shellcheck disable=SC2086
run -f lavfi -i "testsrc2=size=320x180:rate=30:duration=4,$noise" $x264 -f matroska - \
  >"$out/live.mkv"
rm -f "$out/upright.mp4" "$out/cover.png"

#!/bin/sh
# Makes the small clips whose ffmpeg outputs are kept in ffmpeg41/, ffmpeg51/ and ffmpeg71/.
# Usage: make-clips.sh OUTDIR [FFMPEG]
set -eu
out=${1:?usage: make-clips.sh OUTDIR [FFMPEG]}
ff=${2:-ffmpeg}
mkdir -p "$out"
run() { "$ff" -nostdin -hide_banner -loglevel error -y "$@"; }
x264="-c:v libx264 -pix_fmt yuv420p"
src="testsrc=size=64x48:rate=30"

# a. 30 fps H.264, 1 s, 64x48: 30 frames
# shellcheck disable=SC2086
run -f lavfi -i "$src:duration=1" $x264 "$out/plain.mp4"

# b. audio is stream 0, the video stream 1
# shellcheck disable=SC2086
run -f lavfi -i "sine=frequency=440:duration=1" -f lavfi -i "$src:duration=1" \
  -map 0:a -map 1:v $x264 -c:a aac -shortest "$out/audiofirst.mp4"

# c. 1 s at 30 fps then 1 s at 10 fps: 40 frames, each kept at its own time.
# The two parts are joined by the concat demuxer, which keeps every packet and
# its duration (the concat filter leaves the last frame without a duration, and
# MP4's edit list then hides it).
# shellcheck disable=SC2086
run -f lavfi -i "$src:duration=1" $x264 -video_track_timescale 15360 "$out/vfr-part30.mp4"
# shellcheck disable=SC2086
run -f lavfi -i "testsrc=size=64x48:rate=10:duration=1" $x264 -video_track_timescale 15360 \
  "$out/vfr-part10.mp4"
printf "file 'vfr-part30.mp4'\nfile 'vfr-part10.mp4'\n" >"$out/vfr-parts.txt"
run -f concat -safe 0 -i "$out/vfr-parts.txt" -c copy "$out/vfr.mp4"
rm -f "$out/vfr-part30.mp4" "$out/vfr-part10.mp4" "$out/vfr-parts.txt"

# d. cover art larger than the video, as a second (attached picture) video stream
run -f lavfi -i "testsrc=size=320x240:rate=1" -frames:v 1 "$out/cover.png"
run -i "$out/plain.mp4" -i "$out/cover.png" -map 0:v -map 1:v -c copy \
  -disposition:v:1 attached_pic "$out/cover.mp4"

# e. portrait phone video: stored 64x48, shown turned by 90 degrees.
# ffmpeg 7 sets the display matrix with -display_rotation (an input option);
# older ffmpeg reads a "rotate" stream tag when muxing.
if "$ff" -hide_banner -h full 2>/dev/null | grep -q -- '-display_rotation'; then
  run -display_rotation 90 -i "$out/plain.mp4" -c copy "$out/rotated.mp4"
else
  run -i "$out/plain.mp4" -c copy -metadata:s:v:0 rotate=90 "$out/rotated.mp4"
fi

# 3 s at 30 fps (90 frames): read at its own pace (-re), a run lasts long
# enough for ffmpeg to print its twice-a-second progress reports.
# shellcheck disable=SC2086
run -f lavfi -i "$src:duration=3" $x264 "$out/long.mp4"

# Error cases: random bytes named as a video, a missing file, audio only.
head -c 4096 /dev/urandom >"$out/noise.mp4"
rm -f "$out/missing.mp4"
run -f lavfi -i "sine=frequency=440:duration=1" -c:a aac "$out/audioonly.m4a"

#!/bin/sh
# A person's run under Xvfb: starts the built window, clicks through the whole
# road with xdotool (real dialogs, real ffmpeg) and takes the README's
# screenshots. Needs: xvfb xdotool ffmpeg. Usage: scripts/screenshot-run.sh [build]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
# No "." in the folder names: the package name would then be kept as typed.
work=$(mktemp -d /tmp/sparkloomXXXXXX)
mkdir -p "$work/clips" "$work/frames" "$work/out" "$work/cfg"
# 60 fps, as a phone records: the Frames dialog takes it to the host's 30.
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=320x240:rate=60:duration=2" \
  -vf noise=alls=12:allf=t+u -pix_fmt yuv420p "$work/clips/Blue Spark.mp4"
export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
app=""
trap 'kill $app $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
XDG_CONFIG_HOME="$work/cfg" "$build/src/app/sparkloom" >/dev/null 2>&1 &
app=$!
sleep 2
shot() { ffmpeg -v error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 \
  -vf crop=533:625:245:71 "${SHOTS:-$here/docs}/$1"; }
pick() { xdotool mousemove "$1" "$2" click 1; sleep 1.2; xdotool type --delay 10 "$3"; \
  xdotool key Return; sleep 1; }
pick 733 227 "$work/clips/Blue Spark.mp4"
# Frames…: Real speed and a width typed in, the estimate shown, then OK.
# The button takes clicks once the clip's header has been read.
tries=0
until xdotool search --onlyvisible --name '^Frames$' >/dev/null 2>&1; do
  tries=$((tries + 1)); [ $tries -lt 20 ] || { echo "no Frames dialog" >&2; exit 1; }
  xdotool mousemove 605 299 click 1; sleep 1
done
sleep 0.5
eval "$(xdotool search --onlyvisible --name '^Frames$' getwindowgeometry --shell)"
field() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1 key ctrl+a; xdotool type --delay 10 "$3"; }
field 200 45 "Real speed in the host (30 a second)"
field 150 72 "160"
xdotool mousemove $((X + 430)) $((Y + 10))
sleep 2
ffmpeg -v error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 \
  -vf "crop=$WIDTH:$HEIGHT:$X:$Y" "${SHOTS:-$here/docs}/screenshot-frames.png"
xdotool mousemove $((X + 304)) $((Y + 228)) click 1; sleep 0.5
pick 709 299 "$work/frames"
xdotool key Return; sleep 3            # "Extracting Video. Please be patient!"
shot screenshot-extracted.png
pick 469 371 "$work/frames/Blue_Spark_00010.jpg"
pick 733 371 "$work/frames/Blue_Spark_00001.jpg"
# Preview…: the frames played from the middle, paused, the strip filled.
xdotool mousemove 517 299 click 1; sleep 1
xdotool search --onlyvisible --name '^Preview$' >/dev/null || { echo "no Preview dialog" >&2; exit 1; }
eval "$(xdotool search --onlyvisible --name '^Preview$' getwindowgeometry --shell)"
# No window manager gives the dialog the keyboard. A second in, half a second
# of playing (the two seconds loop), paused.
xdotool windowfocus --sync "$WINDOW"
xdotool key Home Page_Down alt+p; sleep 0.5; xdotool key alt+p; sleep 1.5
xdotool mousemove $((X + 700)) $((Y + 415))
ffmpeg -v error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 \
  -vf "crop=$WIDTH:$HEIGHT:$X:$Y" "${SHOTS:-$here/docs}/screenshot-preview.png"
xdotool key Escape; sleep 0.5
xdotool mousemove 483 441 click 1; sleep 0.6; xdotool mousemove 300 459 click 1; sleep 0.4
xdotool mousemove 747 441 click 1; sleep 0.6; xdotool mousemove 560 473 click 1; sleep 0.4
pick 521 575 "$work/out/Blue Spark"
sleep 2; xdotool key Return; sleep 0.5   # "Success!"
xdotool mousemove 900 700; sleep 0.3
shot screenshot.png
unzip -tq "$work/out/Blue Spark.dzp"

#!/bin/sh
# sparkloom.exe as a person uses it, under Wine in a virtual X display, driven
# with xdotool: choose a video, extract its frames, pick the thumbnail and the
# first frame, set type and category, build; every path is typed into the
# dialogs, and every message box is read. Then the package is read back
# (sparkloom-cli.exe --check, unzip -t), the remembered folder is looked up in
# the registry, the builder's tick intervals are reported, and a screenshot of
# the window is kept (WORK/screenshot-windows.png). A 60 fps clip then goes
# through the "Frames…" dialog (Real speed, 160 wide; a screenshot of it with
# its estimate in WORK/screenshot-windows-frames.png) into a second package.
# The "Preview" dialog then plays the first frames, steps to a frame with the
# keys and the strip and picks the thumbnail and the first frame from them
# (WORK/screenshot-windows-preview.png) for a package of its own. A
# log-off during a third build (sent by CONTROLS.exe, as Windows would) is
# asked to wait, stops the build as Cancel does and leaves a whole package. A
# second start takes a video from the command line and is closed while
# ffmpeg.exe extracts; a third lays the window and the dialog out at 144 dpi,
# and a fourth, opened at 96 dpi with the "Frames…" dialog open, is moved to
# a screen of 144 dpi and must then look the same, the dialog with it; the
# dialog moved back on its own must look as at 96 dpi.
# Usage: window-test.sh SPARKLOOM.exe CLI.exe CONTROLS.exe FFMPEG_DIR PREFIX WORK
set -eu
window_exe=$1
cli_exe=$2
controls_exe=$3
ffmpeg_dir=$4
export WINEPREFIX="$5"
work=$6
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8

started=$(date +%s)
say() { echo "window-test ($(($(date +%s) - started)) s): $*"; }
fail() {
  echo "FAIL: $*" >&2
  # The screen as it was, to see what stood in the way.
  [ -z "${DISPLAY:-}" ] || ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -video_size 1280x1024 \
    -i "$DISPLAY" -frames:v 1 -y "$work/failure.png" || true
  [ ! -f "$work/controls.txt" ] || sed 's/^/  /' "$work/controls.txt" >&2
  exit 1
}
# The work folder is drive D: in Wine, so the window shows short paths.
# shellcheck disable=SC1003  # tr's '\\' is one backslash
windows_path() {
  case $1 in
    "$work"/*) printf 'D:%s' "${1#"$work"}" | tr / '\\' ;;
    *) printf 'Z:%s' "$1" | tr / '\\' ;;
  esac
}

app=""
xvfb=""
cleanup() {
  if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then kill "$app" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# until SECONDS WHAT COMMAND...: runs COMMAND until it succeeds.
until_true() {
  limit=$(($(date +%s) + $1))
  what=$2
  shift 2
  while ! "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || fail "waited in vain for $what"
    sleep 0.2
  done
}

rm -rf "$work"
mkdir -p "$work/clips" "$work/frames" "$work/fast" "$work/long" "$work/out"
ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=3:size=640x360:rate=30 -pix_fmt yuv420p \
  "$work/clips/Fire.mp4"
ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=2:size=320x240:rate=60 -pix_fmt yuv420p \
  "$work/clips/Fast.mp4"
ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=1:size=160x120:rate=1 -frames:v 1 \
  "$work/thumb.jpg"
ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=60:size=320x240:rate=30 -pix_fmt yuv420p \
  "$work/clips/Brûlure.mp4"

# A display of our own; Xvfb names a free one.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
until_true 30 "Xvfb" test -s "$work/display"
DISPLAY=:$(cat "$work/display")
export DISPLAY

wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  say "making the Wine prefix"
  wine wineboot -i >/dev/null 2>&1
fi
# Debian's Wine finds its own fonts (fonts-wine: Tahoma, and Marlett for the
# title bar's buttons) only in the prefix's Fonts folder.
for font in /usr/share/wine/fonts/*.ttf; do
  [ ! -f "$font" ] || ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
done
# Without a window manager Wine draws the title bars itself; a fresh start
# remembers no folder.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wine reg delete 'HKCU\Software\Sparkloom' /f >/dev/null 2>&1 || true
dpi() {
  wineserver -k 2>/dev/null || true
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
dpi 96
ln -sfn "$work" "$WINEPREFIX/dosdevices/d:"

# ffmpeg.exe is found on the PATH; the tick log shows the builder's pace.
export WINEPATH
WINEPATH=$(windows_path "$ffmpeg_dir")
export SPARKLOOM_TICK_LOG
SPARKLOOM_TICK_LOG=$(windows_path "$work/ticks.txt")
export SPARKLOOM_PREVIEW_LOG
SPARKLOOM_PREVIEW_LOG=$(windows_path "$work/preview.txt")
say "starting sparkloom.exe"
wine "$window_exe" >"$work/window.log" 2>&1 &
app=$!

# The window's controls as window_controls.exe reports them.
controls() {
  wine "$controls_exe" >"$work/controls.out" 2>/dev/null &&
    tr -d '\r' <"$work/controls.out" >"$work/controls.txt"
}
field() { awk -F '\t' -v name="$1" -v column="$2" '$1 == name { print $column }' "$work/controls.txt"; }
text_of() { controls && field "$1" 5; }
is_enabled() { controls && [ "$(field "$1" 4)" = 1 ]; }
text_is() { [ "$(text_of "$1")" = "$2" ]; }
click() {
  x=$(field "$1" 2)
  y=$(field "$1" 3)
  [ -n "$x" ] || fail "no control $1"
  xdotool mousemove "$x" "$y" click 1
}
# The "Frames…" dialog's controls, read as those of the window are.
frames_controls() {
  wine "$controls_exe" --frames >"$work/controls.out" 2>/dev/null &&
    tr -d '\r' <"$work/controls.out" >"$work/controls.txt"
}
frames_text_is() { frames_controls && [ "$(field "$1" 5)" = "$2" ]; }
preview_controls() {
  wine "$controls_exe" --preview >"$work/controls.out" 2>/dev/null &&
    tr -d '\r' <"$work/controls.out" >"$work/controls.txt"
}
preview_text_is() { preview_controls && [ "$(field "$1" 5)" = "$2" ]; }
# The client area, and each control's size and centre in it.
layout() {
  awk -F '\t' '$1 == "window" { print $1, $2, $3 } $1 != "window" { print $1, $6, $7, $8, $9 }' \
    "$work/controls.txt"
}
status_has() { controls && case $(field txtStatus 5) in *"$1"*) true ;; *) false ;; esac; }
# pick COMBO ENTRY: the entry as a person picks it from the keyboard, with the
# arrow keys from the top of the list.
pick() {
  frames_controls
  entries=$(field "$1" 10 | tr '|' '\n')
  index=$(echo "$entries" | grep -nxF "$2" | cut -d: -f1)
  [ -n "$index" ] || fail "$1 offers no \"$2\" but: $(field "$1" 10)"
  click "$1"
  # shellcheck disable=SC2046  # one key name a word
  xdotool key --delay 40 $(echo "$entries" | sed 's/.*/Up/') $(yes Down | head -n $((index - 1)))
  until_true 30 "$1 to show \"$2\"" frames_text_is "$1" "$2"
}
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
shown() { [ -n "$(window_named "$1")" ]; }
gone() { [ -z "$(window_named "$1")" ]; }
# answer TITLE TEXT [KEY]: types TEXT, when given, into the dialog titled
# TITLE and presses KEY (Enter).
answer() {
  until_true 60 "the dialog \"$1\"" shown "$1"
  dialog=$(window_named "$1")
  xdotool mousemove --window "$dialog" 40 10
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  if [ -n "$2" ]; then
    xdotool key ctrl+a
    xdotool type --delay 15 "$2"
  fi
  xdotool key "${3:-Return}"
  until_true 60 "the dialog \"$1\" to close" gone "$1"
}

# message TEXT: the program's message box begins with TEXT; Enter closes it.
message() {
  until_true 60 "the message \"$1\"" shown Sparkloom
  wine "$controls_exe" --message 2>/dev/null | tr -d '\r' >"$work/message.txt" ||
    fail "no text in the message box"
  case $(cat "$work/message.txt") in
    "$1"*) ;;
    *) fail "the message box says: $(cat "$work/message.txt")" ;;
  esac
  answer Sparkloom ""
}

# build_package PATH: "Build Particle" into PATH, to "Success!", and the
# package read back whole by sparkloom-cli.exe --check.
build_package() {
  package=$1
  controls
  click cmdDZP
  answer "Save As" "$(windows_path "$package")"
  until_true 300 "the end of the build" shown Sparkloom
  message "Success!"
  wine "$cli_exe" --check "$(windows_path "$package")" >"$work/check.txt" 2>&1 ||
    fail "sparkloom-cli.exe --check: $(cat "$work/check.txt")"
}

until_true 120 "the main window" controls
[ "$(field window 2)x$(field window 3)" = 533x625 ] ||
  fail "the client area is $(field window 2)x$(field window 3), not 533x625 at 96 dpi"
for name in txtParticleName cmdProjectFile Command3 cmdExit; do
  [ "$(field "$name" 4)" = 1 ] || fail "$name is disabled at start"
done
for name in cmdExtract cmdThumb cmdAnimImage cmdDZP txtStatus; do
  [ "$(field "$name" 4)" = 0 ] || fail "$name is enabled at start"
done
[ "$(field cboType 5)" = Select ] || fail "cboType shows $(field cboType 5)"

say "choosing the video"
click cmdProjectFile
answer "Select Video File" "$(windows_path "$work/clips/Fire.mp4")"
until_true 30 "Extract Video to be enabled" is_enabled cmdExtract
[ "$(field txtVideoFile 5)" = Fire.mp4 ] || fail "txtVideoFile shows $(field txtVideoFile 5)"
[ "$(field txtParticleName 5)" = Fire ] || fail "txtParticleName shows $(field txtParticleName 5)"

say "cancelling the folder picker, then taking its preset: the video's folder"
click cmdExtract
answer "Please select a folder:" "" Escape
until_true 30 "the text Canceled" text_is txtExtractPath Canceled
click cmdExtract
answer "Please select a folder:" ""
message "You cannot Extract in the Project Folder!"
until_true 30 "Build Particle to be enabled" is_enabled cmdDZP
[ -z "$(field txtExtractPath 5)" ] || fail "txtExtractPath shows $(field txtExtractPath 5)"

say "extracting"
click cmdExtract
answer "Please select a folder:" "$(windows_path "$work/frames")"
message "Extracting Video. Please be patient!"
until_true 300 "the frames" is_enabled cmdThumb
[ "$(field txtExtractPath 5)" = "$(windows_path "$work/frames")" ] ||
  fail "txtExtractPath shows $(field txtExtractPath 5)"
frames=$(find "$work/frames" -name 'Fire_*.jpg' | wc -l)
[ "$frames" -eq 90 ] || fail "$frames frames extracted, not 90"

say "picking the thumbnail and the first frame"
click cmdThumb
answer "Select Thumbnail Image" "$(windows_path "$work/thumb.jpg")"
until_true 30 "the thumbnail's name" text_is txtJPGThumb thumb.jpg
click cmdAnimImage
answer "Select Thumbnail Image" "$(windows_path "$work/frames/Fire_00001.jpg")"
until_true 30 "the first frame's name" text_is txtAnimImage Fire_00001.jpg

say "setting type and category"
click cboType
xdotool key Down
click cboCat
xdotool key Down Down
controls
[ "$(field cboType 5)/$(field cboCat 5)" = CUSTOM/General ] ||
  fail "type and category are $(field cboType 5)/$(field cboCat 5)"

say "building"
click cmdDZP
answer "Save As" "$(windows_path "$work/out/Fire.dzp")"
until_true 300 "the end of the build" shown Sparkloom
message "Success!"
until_true 30 "the status Success" text_is txtStatus Success
[ "$(field ProgressBar1 4)" = 1 ] || fail "the progress bar is disabled"
[ "$(field Command3 4)/$(field cmdDZP 4)" = 0/1 ] ||
  fail "after the build Cancel/Build are $(field Command3 4)/$(field cmdDZP 4)"

# The window as it is now, without the pointer.
main=$(window_named "Sparkloom v1.0.1")
eval "$(xdotool getwindowgeometry --shell "$main")"
ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -video_size "${WIDTH}x$HEIGHT" -grab_x "$X" \
  -grab_y "$Y" -i "$DISPLAY" -frames:v 1 -y "$work/screenshot-windows.png"
say "screenshot: $work/screenshot-windows.png"

say "reading the package back"
package=$work/out/Fire.dzp
[ -f "$package" ] || fail "no package at $package"
unzip -t "$package" >"$work/unzip.txt" || fail "unzip -t: $(tail -n 3 "$work/unzip.txt")"
# Entry names are stored as ".\NAME", relative to the frames folder.
names=$(unzip -Z1 "$package" | sed 's/^\.\\//')
for name in TitleTemplate.xml TitleTemplate.clt Thumb.jpg Fire_00001.jpg Fire_00090.jpg; do
  echo "$names" | grep -qxF "$name" || fail "the package lacks .\\$name"
done
[ "$(echo "$names" | grep -c '^Fire_[0-9]*\.jpg$')" -eq "$frames" ] ||
  fail "the package holds $(echo "$names" | grep -c '^Fire_') frames, not $frames"
wine "$cli_exe" --check "$(windows_path "$package")" >"$work/check.txt" 2>&1 ||
  fail "sparkloom-cli.exe --check: $(cat "$work/check.txt")"

# The builder asks for a tick every 16 ms. Windows' default clock would
# deliver one every 31 ms; under Wine the Linux clock serves the timer, so
# this shows the window's own path only, not Windows' rounding.
[ -s "$work/ticks.txt" ] || fail "no ticks logged"
sort -n -k2 "$work/ticks.txt" | awk '
  { asked = $1; waited[NR] = $2; sum += $2 }
  END {
    median = waited[int((NR + 1) / 2)]
    printf "ticks: %d asked every %d ms, waited mean %.1f ms, median %.1f ms, longest %.1f ms\n",
      NR, asked, sum / NR, median, waited[NR]
    exit !(NR >= 10 && median < asked + 8)
  }' >"$work/ticks-summary.txt" || fail "the ticks came late: $(cat "$work/ticks-summary.txt")"
say "$(cat "$work/ticks-summary.txt")"

say "previewing the frames: playing, stepping, picking the thumbnail and the first frame"
until_true 30 "Preview… to be enabled" is_enabled cmdPreview
click cmdPreview
until_true 60 "the dialog \"Preview\"" preview_controls
[ "$(field window 2)x$(field window 3)" = 720x561 ] ||
  fail "the Preview's client area is $(field window 2)x$(field window 3), not 720x561 at 96 dpi"
until_true 30 "the chosen first frame" preview_text_is lblFrame "Fire_00001.jpg, 0:00.00 of 0:03.00"
until_true 30 "the first picture" grep -q "^first picture" "$work/preview.txt"
click cmdPlay
until_true 30 "the Pause button" preview_text_is cmdPlay "&Pause"
playing() { preview_controls && [ "$(field sldFrame 5)" -gt 5 ]; }
until_true 30 "the frames to play on" playing
click cmdPlay
until_true 30 "the Play button" preview_text_is cmdPlay "&Play"
# Home, a second on, four frames on: the 35th frame; a click on the strip's
# middle cell goes to the first frame of its five, the 31st.
xdotool key Home Next Right Right Right Right
until_true 30 "the 35th frame" preview_text_is lblFrame "Fire_00035.jpg, 0:01.13 of 0:03.00"
[ "$(field sldFrame 5)" = 34 ] || fail "the slider stands at $(field sldFrame 5), not 34"
click cmdThumbnail
until_true 30 "the thumbnail's name" text_is txtJPGThumb Fire_00035.jpg
preview_controls
click picStrip
until_true 30 "the 31st frame" preview_text_is lblFrame "Fire_00031.jpg, 0:01.00 of 0:03.00"
click cmdFirstFrame
until_true 30 "the first frame's name" text_is txtAnimImage Fire_00031.jpg
# Played from the last frame on, the frames loop back to the first frame chosen.
preview_controls
xdotool key End
until_true 30 "the last frame" preview_text_is lblFrame "Fire_00090.jpg, 0:02.97 of 0:03.00"
click cmdPlay
looped() { preview_controls && [ "$(field sldFrame 5)" -lt 89 ]; }
until_true 30 "the frames to loop" looped
[ "$(field sldFrame 5)" -ge 30 ] || fail "the frames looped back to $(field sldFrame 5), not to 30 on"
click cmdPlay
until_true 30 "the Play button" preview_text_is cmdPlay "&Play"
# The strip's decodes done, the dialog as it is now.
decodes=-1
settled() {
  now=$(grep -c '^decoded' "$work/preview.txt")
  [ "$now" = "$decodes" ] || { decodes=$now && false; }
}
until_true 30 "the decodes to settle" settled
dialog=$(window_named Preview)
eval "$(xdotool getwindowgeometry --shell "$dialog")"
ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -video_size "${WIDTH}x$HEIGHT" -grab_x "$X" \
  -grab_y "$Y" -i "$DISPLAY" -frames:v 1 -y "$work/screenshot-windows-preview.png"
say "screenshot: $work/screenshot-windows-preview.png; $(grep '^first picture' "$work/preview.txt")"
preview_controls
click cmdClose
until_true 60 "the dialog \"Preview\" to close" gone Preview
build_package "$work/out/Picked.dzp"
entry() { python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' "$package" "$1"; }
entry '.\Thumb.jpg' | cmp -s - "$work/frames/Fire_00035.jpg" || fail "Thumb.jpg is not the 35th frame"
# The script is UTF-16.
entry '.\TitleTemplate.clt' | iconv -f UTF-16 -t UTF-8 >"$work/picked.clt"
grep -q 'AnimationImage="Fire_00031.jpg"' "$work/picked.clt" ||
  fail "the package does not start with the first frame picked"
# The host plays frames 31 to 90: two seconds.
grep -q 'AnimationDuration="2000"' "$work/picked.clt" ||
  fail "the package times other frames than those from the first frame picked on"

say "shaping the frames of a 60 fps clip: Real speed, 160 wide"
click cmdProjectFile
answer "Select Video File" "$(windows_path "$work/clips/Fast.mp4")"
until_true 30 "Frames… to be enabled" is_enabled cmdFrames
until_true 30 "the note on the clip's pace" status_has "Real speed keeps its pace"
click cmdFrames
until_true 60 "the dialog \"Frames\"" frames_controls
[ "$(field window 2)x$(field window 3)" = 440x249 ] ||
  fail "the dialog's client area is $(field window 2)x$(field window 3), not 440x249 at 96 dpi"
layout >"$work/frames-layout-96.txt"
case $(field lblClip 5) in
  "320 × 240, 60 frames a second"*) ;;
  *) fail "the clip's facts read: $(field lblClip 5)" ;;
esac
controls
[ "$(field window 4)" = 0 ] || fail "the main window takes input while the dialog is open"
frames_controls
pick cboRate "Real speed in the host (30 a second)"
click cboWidth
# Wine's combo boxes take no Ctrl+A: the text is selected from its end.
xdotool key End shift+Home
xdotool type --delay 15 160
# With the size measured from sample frames encoded by ffmpeg.exe.
estimated() {
  frames_controls && case $(field lblEstimate 5) in
    "60 frames of 160 × 120, about "*) true ;;
    *) false ;;
  esac
}
until_true 60 "the estimate of 60 frames of 160 × 120" estimated
dialog=$(window_named Frames)
eval "$(xdotool getwindowgeometry --shell "$dialog")"
ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -video_size "${WIDTH}x$HEIGHT" -grab_x "$X" \
  -grab_y "$Y" -i "$DISPLAY" -frames:v 1 -y "$work/screenshot-windows-frames.png"
say "the estimate: $(field lblEstimate 5)"
click cmdOK
until_true 60 "the dialog \"Frames\" to close" gone Frames
until_true 30 "the status line of the frames chosen" status_has "Frames: 30 a second, 160 wide"
[ "$(field window 4)" = 1 ] || fail "the main window stays disabled after the dialog"
setting() {
  wine reg query 'HKCU\Software\Sparkloom\settings' /v "$1" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"
}
[ "$(setting framerate)/$(setting framewidth)" = 30/160 ] ||
  fail "remembered are rate '$(setting framerate)' and width '$(setting framewidth)'"

click cmdExtract
answer "Please select a folder:" "$(windows_path "$work/fast")"
message "Extracting Video. Please be patient!"
fast_extracted() {
  [ "$(find "$work/fast" -name 'Fast_*.jpg' | wc -l)" -ge 60 ] && controls &&
    [ "$(field Command3 4)" = 0 ]
}
until_true 300 "the frames of Fast.mp4" fast_extracted
frames=$(find "$work/fast" -name 'Fast_*.jpg' | wc -l)
[ "$frames" -eq 60 ] || fail "$frames frames extracted at Real speed, not 60"
click cmdThumb
answer "Select Thumbnail Image" "$(windows_path "$work/thumb.jpg")"
click cmdAnimImage
answer "Select Thumbnail Image" "$(windows_path "$work/fast/Fast_00001.jpg")"
until_true 30 "the first frame's name" text_is txtAnimImage Fast_00001.jpg
build_package "$work/out/Fast.dzp"
[ "$(unzip -Z1 "$package" | grep -c '^\.\\Fast_[0-9]*\.jpg$')" -eq 60 ] ||
  fail "the package does not hold the 60 frames"
size=$(python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' \
  "$package" '.\Fast_00060.jpg' |
  ffprobe -v error -f jpeg_pipe -show_entries stream=width,height -of csv=p=0:s=x -)
[ "$size" = 160x120 ] || fail "the package's frames are $size, not 160x120"
say "logging off while a third package is built"
# A large file that deflate cannot shrink makes packing last.
head -c 400000000 /dev/urandom >"$work/fast/big.bin"
is_packing() { case $(text_of txtStatus) in Packing*) ;; *) return 1 ;; esac; }
click cmdDZP
answer "Save As" "$(windows_path "$work/out/Fire2.dzp")"
until_true 120 "packing to begin" is_packing
wine "$controls_exe" --end-session >"$work/session.out" 2>/dev/null ||
  fail "the log-off could not be sent"
tr -d '\r' <"$work/session.out" >"$work/session.txt"
say "the log-off's answer: $(cat "$work/session.txt")"
[ "$(cut -f2 "$work/session.txt")" = 0 ] || fail "the window let the session end during a build"
# Wine keeps no reason; Windows shows it.
case $(cut -f3 "$work/session.txt") in
  "" | "Sparkloom is building Fire2.dzp") ;;
  *) fail "the reason given is $(cut -f3 "$work/session.txt")" ;;
esac
until_true 60 "the status Canceled" text_is txtStatus Canceled
unzip -t "$work/out/Fire2.dzp" >"$work/unzip2.txt" || fail "unzip -t: $(tail -n 3 "$work/unzip2.txt")"
[ -z "$(find "$work/out" -name '.Fire2.dzp-*')" ] || fail "a temporary package was left behind"
rm -f "$work/fast/big.bin"

# Alt+X is E&XIT's access key.
closes() {
  xdotool mousemove --window "$(window_named "Sparkloom v1.0.1")" 300 10
  xdotool key alt+x
  until_true 60 "sparkloom.exe to end" sh -c "! kill -0 $app 2>/dev/null"
  wait "$app" || fail "sparkloom.exe exited with status $?"
  app=""
}
say "closing"
closes
remembered=$(wine reg query 'HKCU\Software\Sparkloom\folders' /v lastfolder 2>/dev/null |
  tr -d '\r' | sed -n 's/^ *lastfolder *REG_SZ *//p')
[ "$remembered" = "$(windows_path "$work/clips")" ] || fail "the remembered folder is '$remembered'"

# A name beyond ASCII crosses the wide and UTF-8 edges on its way.
say "opening a long video named on the command line, relative to the current folder"
(cd "$work/clips" && exec wine "$window_exe" Brûlure.mp4 >"$work/window2.log" 2>&1) &
app=$!
until_true 120 "the video from the command line" text_is txtVideoFile Brûlure.mp4
[ "$(field cmdExtract 4)/$(field txtParticleName 5)" = 1/Brûlure ] ||
  fail "after the command line Extract/name are $(field cmdExtract 4)/$(field txtParticleName 5)"
say "closing the window while ffmpeg.exe extracts"
click cmdExtract
answer "Please select a folder:" "$(windows_path "$work/long")"
message "Extracting Video. Please be patient!"
some_frames() { [ "$(find "$work/long" -name 'Brûlure_*.jpg' | wc -l)" -ge 30 ]; }
until_true 120 "the first frames of the long video" some_frames
closes
# Nothing of the prefix may run on, ffmpeg.exe least of all.
timeout 60 wineserver -w || fail "Wine programs still run 60 s after the window closed"
frames=$(find "$work/long" -name 'Brûlure_*.jpg' | wc -l)
[ "$frames" -lt 1800 ] || fail "all $frames frames were extracted although the window closed"

say "scaling the layout and the dialog for 144 dpi"
dpi 144
(cd "$work/clips" && exec wine "$window_exe" Fire.mp4 >"$work/window3.log" 2>&1) &
app=$!
until_true 120 "the main window at 144 dpi" text_is txtVideoFile Fire.mp4
[ "$(field window 2)x$(field window 3)" = 800x938 ] ||
  fail "at 144 dpi the client area is $(field window 2)x$(field window 3), not 800x938"
layout >"$work/layout-144.txt"
click cmdFrames
until_true 60 "the dialog \"Frames\" at 144 dpi" frames_controls
[ "$(field window 2)x$(field window 3)" = 660x374 ] ||
  fail "at 144 dpi the dialog's client area is $(field window 2)x$(field window 3), not 660x374"
layout >"$work/frames-layout-144.txt"
answer Frames "" Escape
closes

say "moving a window opened at 96 dpi to a screen of 144 dpi, its Frames dialog open"
dpi 96
(cd "$work/clips" && exec wine "$window_exe" Fire.mp4 >"$work/window4.log" 2>&1) &
app=$!
until_true 120 "the main window at 96 dpi" is_enabled cmdFrames
click cmdFrames
until_true 60 "the dialog \"Frames\" at 96 dpi" frames_controls
wine "$controls_exe" --dpi 144 || fail "WM_DPICHANGED could not be sent"
controls
layout >"$work/layout-moved.txt"
diff "$work/layout-144.txt" "$work/layout-moved.txt" >"$work/layout.diff" ||
  fail "moved to 144 dpi, the window differs from one opened there: $(cat "$work/layout.diff")"
# same_layout NAME: the open dialog is laid out as in frames-layout-NAME.txt.
same_layout() {
  frames_controls && layout >"$work/frames-layout-now.txt" &&
    diff "$work/frames-layout-$1.txt" "$work/frames-layout-now.txt" >"$work/layout.diff"
}
same_layout 144 || fail "the dialog did not follow its window to 144 dpi: $(cat "$work/layout.diff")"
wine "$controls_exe" --dpi 96 --frames || fail "WM_DPICHANGED could not be sent to the dialog"
same_layout 96 || fail "the dialog moved to 96 dpi differs from one opened there: $(cat "$work/layout.diff")"
# Still drawing and answering: its estimate comes, and Escape closes it.
some_estimate() { frames_controls && case $(field lblEstimate 5) in *" frames of "*) ;; *) false ;; esac; }
until_true 60 "the estimate after the moves" some_estimate
dialog=$(window_named Frames)
eval "$(xdotool getwindowgeometry --shell "$dialog")"
ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -video_size "${WIDTH}x$HEIGHT" -grab_x "$X" \
  -grab_y "$Y" -i "$DISPLAY" -frames:v 1 -y "$work/screenshot-frames-moved-96dpi.png"
answer Frames "" Escape
main=$(window_named "Sparkloom v1.0.1")
eval "$(xdotool getwindowgeometry --shell "$main")"
# What of it lies on the 1280 x 1024 screen.
[ $((Y + HEIGHT)) -le 1024 ] || HEIGHT=$((1024 - Y))
ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -video_size "${WIDTH}x$HEIGHT" -grab_x "$X" \
  -grab_y "$Y" -i "$DISPLAY" -frames:v 1 -y "$work/screenshot-moved-144dpi.png"
say "screenshot: $work/screenshot-moved-144dpi.png"
closes
say "passed"

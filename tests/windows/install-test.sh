#!/bin/sh
# The installer end to end in a fresh Wine prefix. A silent install into the
# default folder puts the zip's files there (licenses/VERSIONS.txt naming each
# part's versions among them) and joins .dzp's "Open with" list
# without giving .dzp a default; the installed converter makes a package with
# the bundled ffmpeg.exe alone, and the registered check verb passes it; the
# silent uninstall leaves no file behind and the classes as they were, another
# program's entries included. A second round with /D= and a default the host
# editor set for .dzp keeps that default.
# It is first installed over an older version that shipped a file this one
# does not (made here with makensis from NSI and the stage's lists in
# NSIS_DIR): that file goes, the remembered folder stays. "Open with" names
# Sparkloom. An uninstall while the window runs stops and leaves everything;
# the uninstall removes the remembered folder.
# Usage: install-test.sh SETUP.exe ZIP PREFIX NSI NSIS_DIR
set -eu
setup=$1
zip=$2
prefix=$3
nsi=$4
nsis_dir=$5
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
# No other ffmpeg may be reachable: Wine's PATH holds only its system folders.
unset SPARKLOOM_FFMPEG WINEPATH

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}
classes='HKCU\Software\Classes'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Sparkloom'
# A registry key as text, its subkeys included; empty when it is missing.
key() {
  rm -f "$drive/key.reg"
  wine reg export "$1" 'C:\key.reg' /y >/dev/null 2>&1 || true
  [ ! -f "$drive/key.reg" ] || iconv -f UTF-16 -t UTF-8 "$drive/key.reg" | tr -d '\r'
}
# A folder Windows names by an environment variable, as a Linux path.
folder_of() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')"; }
# Waits until every program of the prefix has ended (the uninstaller returns
# at once and goes on from a copy of itself).
settle() { timeout 300 wineserver -w || fail "Wine programs still run after 300 s"; }
uninstall() {
  wine "$1\\uninstall.exe" /S || fail "the silent uninstall failed"
  settle
  [ -z "$(key "$uninstall_key")" ] || fail "the uninstall entry is left"
  key "$classes" | diff -u "$drive/classes-before.reg" - >&2 ||
    fail "the uninstall did not leave the classes as they were"
}

mkdir -p "$prefix"
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEPREFIX
# A new folder may get the old one's inode, and so its dying wineserver.
{ wineserver -k && wineserver -w; } 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir "$WINEPREFIX"
wine wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix"
drive=$WINEPREFIX/drive_c

# Another program in the "Open with" lists before.
wine reg add "$classes\\.dzp\\OpenWithProgids" /v Other.Viewer /t REG_NONE /f >/dev/null
wine reg add "$classes\\.mp4\\OpenWithProgids" /v Other.Player /t REG_NONE /f >/dev/null
key "$classes" >"$drive/classes-before.reg"

# An older version, with a file this one no longer ships.
old=$WINEPREFIX/old
mkdir -p "$old"
echo "shipped by the older version only" >"$old/Stale.txt"
{ cat "$nsis_dir/files.nsh"; printf 'SetOutPath "$INSTDIR"\nFile "%s"\n' "$old/Stale.txt"; } \
  >"$old/files.nsh"
{ printf 'Delete "$INSTDIR\\Stale.txt"\n'; cat "$nsis_dir/removals.nsh"; } >"$old/removals.nsh"
with_window=""
if grep -q 'sparkloom\.exe"$' "$nsis_dir/files.nsh"; then with_window=-DWINDOW; fi
makensis -V1 -NOCD -DVERSION=0.9 -DOUTFILE="$old/setup-old.exe" -DFILES="$old/files.nsh" \
  -DREMOVALS="$old/removals.nsh" ${with_window:+"$with_window"} "$nsi" ||
  fail "makensis could not make the older installer"
wine "$old/setup-old.exe" /S || fail "the older version's silent install failed"
folder=$(folder_of LOCALAPPDATA)/Programs/Sparkloom
[ -f "$folder/Stale.txt" ] || fail "the older version did not install its file"
wine reg add 'HKCU\Software\Sparkloom\folders' /v lastfolder /d 'C:\clips' /f >/dev/null

wine "$setup" /S || fail "the silent install failed"
settle
[ ! -e "$folder/Stale.txt" ] || fail "the upgrade left the older version's file"
key 'HKCU\Software\Sparkloom\folders' | grep -qxF '"lastfolder"="C:\\clips"' ||
  fail "the upgrade lost the remembered folder"
location=$(key "$uninstall_key" | sed -n 's/^"InstallLocation"="\(.*\)"$/\1/p' | sed 's/\\\\/\\/g')
if [ -z "$location" ] || [ "$(winepath -u "$location")" != "$folder" ]; then
  fail "the uninstall entry names '$location', not %LOCALAPPDATA%\\Programs\\Sparkloom"
fi
expected=$( (unzip -Z1 "$zip" | sed -n 's|^[^/]*/\(.*[^/]\)$|\1|p'; echo uninstall.exe) | sort)
[ "$(cd "$folder" && find . -type f | sed 's|^\./||' | sort)" = "$expected" ] ||
  fail "the installed files differ from the zip's"
# Each part the programs carry, with the Debian source version built and the
# newest one offered.
for part in zlib minizip expat ffmpeg ffprobe CLI11 "MinGW-w64 runtime" "GCC runtime libraries"; do
  tr -d '\r' <"$folder/licenses/VERSIONS.txt" |
    grep -Eq "^$part: Debian source [a-z0-9.+-]+ [0-9][^ ;]*; newest offered [0-9]" ||
    fail "licenses/VERSIONS.txt gives no built and newest version for $part"
done
shortcut=$(folder_of APPDATA)/Microsoft/Windows/Start\ Menu/Programs/Sparkloom.lnk
[ -f "$shortcut" ] || fail "no Start-menu entry"

dzp=$(key "$classes\\.dzp")
printf '%s\n' "$dzp" | grep -qx '"Sparkloom.Package"=hex(0):' || fail ".dzp's Open with list lacks Sparkloom"
if printf '%s\n' "$dzp" | grep -q '^@='; then fail "the installer gave .dzp a default"; fi
# "Open with" shows these names, not the console's.
package_class=$(key "$classes\\Sparkloom.Package")
printf '%s\n' "$package_class" | grep -qx '"FriendlyAppName"="Sparkloom"' ||
  fail "the check verb has no FriendlyAppName"
printf '%s\n' "$package_class" | grep -qx '"FriendlyTypeName"="Sparkloom particle package"' ||
  fail ".dzp's class has no friendly type name"
if [ -f "$folder/sparkloom.exe" ]; then
  key "$classes\\.mkv\\OpenWithProgids" | grep -qx '"Sparkloom.Video"=hex(0):' ||
    fail ".mkv's Open with list lacks Sparkloom"
  video_class=$(key "$classes\\Sparkloom.Video")
  printf '%s\n' "$video_class" | grep -qF 'sparkloom.exe\" \"%1\"' ||
    fail "the videos' verb does not open sparkloom.exe"
  printf '%s\n' "$video_class" | grep -qx '"FriendlyAppName"="Sparkloom"' ||
    fail "the videos' verb has no FriendlyAppName"
fi

# The installed converter with the bundled ffmpeg.exe; without it, nothing
# else is found.
mkdir -p "$drive/work/clips" "$drive/work/out put"
ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=1:size=64x48:rate=30 -pix_fmt yuv420p \
  "$drive/work/clips/Spark.mp4"
convert() {
  wine "$folder/sparkloom-cli.exe" --quiet --type CUSTOM --category General --force \
    -o 'C:\work\out put\Spark.dzp' 'C:\work\clips\Spark.mp4' 2>&1
}
mv "$folder/ffmpeg.exe" "$folder/ffmpeg.exe.away"
convert | grep -q 'ffmpeg was not found' || fail "another ffmpeg is reachable"
mv "$folder/ffmpeg.exe.away" "$folder/ffmpeg.exe"
convert || fail "the installed converter failed"
unzip -tq "$drive/work/out put/Spark.dzp" >/dev/null || fail "unzip -t refuses the package"
# The check verb as registered, with /c for /k so the console ends.
verb=$(key "$classes\\Sparkloom.Package" | sed -n '/\\shell\\check\\command]$/{n;p}' |
  sed -e 's/^@="//' -e 's/"$//' -e 's/\\\(["\\]\)/\1/g' -e 's| /k | /c |' \
    -e 's|%1|C:\\work\\out put\\Spark.dzp|')
printf '@%s\r\n' "$verb" >"$drive/work/check.bat"
wine cmd /c 'C:\work\check.bat' | tr -d '\r' | grep -qx 'C:\\work\\out put\\Spark.dzp: OK' ||
  fail "the check verb does not pass the package: $verb"

if [ -f "$folder/sparkloom.exe" ]; then
  # The window, running in a display of its own, holds its files.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$drive/display" 2>/dev/null &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null || true' EXIT
  for _ in $(seq 150); do [ -s "$drive/display" ] && break; sleep 0.2; done
  DISPLAY=:$(cat "$drive/display")
  export DISPLAY
  wine "$folder/sparkloom.exe" >/dev/null 2>&1 &
  window=$!
  for _ in $(seq 600); do
    [ -z "$(xdotool search --name '^Sparkloom v' 2>/dev/null)" ] || break
    sleep 0.2
  done
  [ -n "$(xdotool search --name '^Sparkloom v' 2>/dev/null)" ] || fail "the window did not open"
  key "$uninstall_key" >"$drive/entry-before.reg"
  # In place (_?=), so its exit status is its own; a silent run cannot ask
  # the user to close the window, so it stops.
  if wine "$location\\uninstall.exe" /S "_?=$location"; then
    fail "the uninstall went on while the window ran"
  fi
  [ "$(cd "$folder" && find . -type f | sed 's|^\./||' | sort)" = "$expected" ] ||
    fail "the declined uninstall removed files"
  key "$uninstall_key" | diff -u "$drive/entry-before.reg" - >&2 ||
    fail "the declined uninstall changed the uninstall entry"
  [ -f "$shortcut" ] || fail "the declined uninstall removed the Start-menu entry"
  kill "$window" 2>/dev/null || true
  wait "$window" 2>/dev/null || true
  settle
fi

uninstall "$location"
[ ! -e "$folder" ] || fail "left behind: $(find "$folder")"
[ -z "$(key 'HKCU\Software\Sparkloom')" ] || fail "the remembered folder is left"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is left"

# The host editor's default for .dzp, and /D= with a blank and letters beyond
# ASCII: NSIS reads the rest of the line unquoted, as cmd passes it on.
wine reg add "$classes\\.dzp" /ve /d HostEditor.Template /f >/dev/null
key "$classes" >"$drive/classes-before.reg"
cp "$setup" "$drive/setup.exe"
wine cmd /c 'C:\setup.exe /S /D=C:\Apps\Zoë Spark' || fail "the install with /D= failed"
[ -f "$drive/Apps/Zoë Spark/sparkloom-cli.exe" ] || fail "/D= was not honoured"
key "$classes\\.dzp" | grep -qx '@="HostEditor.Template"' || fail "the default of .dzp changed"
uninstall 'C:\Apps\Zoë Spark'
[ ! -e "$drive/Apps/Zoë Spark" ] || fail "the /D= folder is left"
echo "install, conversion and uninstall: OK"

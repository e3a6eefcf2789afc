#!/bin/sh
# The installer end to end in a fresh Wine prefix. A silent install into the
# default folder puts the zip's files there (licenses/VERSIONS.txt naming each
# part's versions among them) and joins .dzp's "Open with" list
# without giving .dzp a default; the installed converter makes a package with
# the bundled ffmpeg.exe alone, and the registered check verb passes it; the
# silent uninstall leaves no file behind and the classes as they were, another
# program's entries included. A second round with /D= and a default the host
# editor set for .dzp keeps that default.
# Usage: install-test.sh SETUP.exe ZIP PREFIX
set -eu
setup=$1
zip=$2
prefix=$3
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

wine "$setup" /S || fail "the silent install failed"
folder=$(folder_of LOCALAPPDATA)/Programs/Sparkloom
location=$(key "$uninstall_key" | sed -n 's/^"InstallLocation"="\(.*\)"$/\1/p' | sed 's/\\\\/\\/g')
if [ -z "$location" ] || [ "$(winepath -u "$location")" != "$folder" ]; then
  fail "the uninstall entry names '$location', not %LOCALAPPDATA%\\Programs\\Sparkloom"
fi
expected=$( (unzip -Z1 "$zip" | sed -n 's|^[^/]*/\(.*[^/]\)$|\1|p'; echo uninstall.exe) | sort)
[ "$(cd "$folder" && find . -type f | sed 's|^\./||' | sort)" = "$expected" ] ||
  fail "the installed files differ from the zip's"
# Each part the programs carry, with the Debian source version built and the
# newest one offered.
for part in zlib minizip expat ffmpeg CLI11 "MinGW-w64 runtime" "GCC runtime libraries"; do
  tr -d '\r' <"$folder/licenses/VERSIONS.txt" |
    grep -Eq "^$part: Debian source [a-z0-9.+-]+ [0-9][^ ;]*; newest offered [0-9]" ||
    fail "licenses/VERSIONS.txt gives no built and newest version for $part"
done
shortcut=$(folder_of APPDATA)/Microsoft/Windows/Start\ Menu/Programs/Sparkloom.lnk
[ -f "$shortcut" ] || fail "no Start-menu entry"

dzp=$(key "$classes\\.dzp")
printf '%s\n' "$dzp" | grep -qx '"Sparkloom.Package"=hex(0):' || fail ".dzp's Open with list lacks Sparkloom"
if printf '%s\n' "$dzp" | grep -q '^@='; then fail "the installer gave .dzp a default"; fi
if [ -f "$folder/sparkloom.exe" ]; then
  key "$classes\\.mkv\\OpenWithProgids" | grep -qx '"Sparkloom.Video"=hex(0):' ||
    fail ".mkv's Open with list lacks Sparkloom"
  key "$classes\\Sparkloom.Video" | grep -qF 'sparkloom.exe\" \"%1\"' ||
    fail "the videos' verb does not open sparkloom.exe"
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

uninstall "$location"
[ ! -e "$folder" ] || fail "left behind: $(find "$folder")"
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

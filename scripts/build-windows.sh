#!/bin/sh
# Builds sparkloom-cli.exe for 64-bit Windows on Debian 12 with MinGW-w64
# into build-windows/ (or BUILD_DIR) and packs
# dist/sparkloom-VERSION-windows-x64.zip (the programs, ffmpeg.exe, a short
# README and the licence texts of everything in them) and the per-user
# installer dist/Sparkloom-Setup-VERSION.exe. Installs what is missing with
# apt-get first. minizip, expat and ffmpeg come from Debian's source packages,
# built once (scripts/windows-deps.sh, scripts/build-windows-ffmpeg.sh); a
# second run reuses them.
#
# With --test it also builds the test programs and runs the whole Windows
# suite under Wine with ctest, with the ffmpeg.exe that ships, and the
# installer's install, conversion and uninstall in a fresh Wine prefix.
#
# Usage: scripts/build-windows.sh [--test] [BUILD_DIR]
# SPARKLOOM_JOBS sets the parallel build jobs (default 2), SPARKLOOM_WINE_JOBS
# the tests run at once under Wine (default 1: two Wine programs starting at
# the same moment in one prefix now and then hang).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
run_tests=no
build=""
for argument in "$@"; do
  case $argument in
    --test) run_tests=yes ;;
    -h | --help)
      sed -n '2,/^set -eu/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "build-windows.sh: unknown option $argument" >&2
      exit 2
      ;;
    *) build=$argument ;;
  esac
done
build=${build:-"$here/build-windows"}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=${SPARKLOOM_JOBS:-2}
triple=x86_64-w64-mingw32
started=$(date +%s)
step() { echo "== $1 ($(($(date +%s) - started)) s)"; }

step "Debian packages"
packages="g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev locales
  cmake make pkg-config libcli11-dev doctest-dev xz-utils nasm nsis"
if [ "$run_tests" = yes ]; then
  # The suite's independent readers and clip makers run on the Linux side.
  packages="$packages ffmpeg python3 unzip"
  # The window's scripted run: a virtual display, clicks and keys, Wine's own
  # fonts; ffmpeg takes the screenshot.
  packages="$packages xvfb xdotool fonts-wine"
fi
missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  # shellcheck disable=SC2086
  $sudo apt-get install -y -q --no-install-recommends $missing
fi

# Wine takes its code page from the locale, which must exist here: without
# it, file names fall back to ASCII. The tests use 1252 and 1251.
for wanted in en_US ru_RU; do
  if ! locale -a 2>/dev/null | grep -qix "$wanted.utf-\{0,1\}8"; then
    if grep -q "^# *$wanted.UTF-8 UTF-8" /etc/locale.gen; then
      $sudo sed -i "s/^# *\($wanted.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    else
      echo "$wanted.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    fi
    regenerate=yes
  fi
done
if [ "${regenerate:-no}" = yes ]; then
  $sudo locale-gen
fi

step "minizip and expat for Windows"
SPARKLOOM_JOBS=$jobs "$here/scripts/windows-deps.sh" "$build/deps"

step "ffmpeg.exe for Windows"
SPARKLOOM_JOBS=$jobs "$here/scripts/build-windows-ffmpeg.sh" "$build/ffmpeg-build"
ffmpeg_dist=$build/ffmpeg-build/dist

step "Configuring"
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw-w64.cmake" \
  -DSPARKLOOM_WINDOWS_PREFIX="$build/deps/prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSPARKLOOM_BUILD_TESTS=ON -DSPARKLOOM_WINDOWS_FFMPEG_DIR="$ffmpeg_dist" >/dev/null

if [ "$run_tests" = yes ]; then
  step "Building the program and its tests"
  nice -n 19 cmake --build "$build" -j"$jobs"
else
  step "Building the programs"
  targets=sparkloom-cli
  # The window ships too once the build has it.
  if cmake --build "$build" --target help | grep -w sparkloom_window >/dev/null; then
    targets="$targets sparkloom_window"
  fi
  # shellcheck disable=SC2086
  nice -n 19 cmake --build "$build" -j"$jobs" --target $targets
fi

step "Packing"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
name=sparkloom-$version-windows-x64
stage="$build/dist/$name"
rm -rf "$build/dist"
mkdir -p "$stage/licenses"
"$triple-strip" -o "$stage/sparkloom-cli.exe" "$build/src/cli/sparkloom-cli.exe"
window="$build/src/win32/sparkloom.exe"
if [ -f "$window" ]; then
  "$triple-strip" -o "$stage/sparkloom.exe" "$window"
fi
cp "$ffmpeg_dist/ffmpeg.exe" "$ffmpeg_dist/ffmpeg-LGPL-2.1.txt" "$ffmpeg_dist/ffmpeg-source.txt" \
  "$stage/"
# Notepad reads LF now, but older Windows tools want CR LF.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
cat >"$build/dist/README.txt" <<EOF
Sparkloom $version for Windows (64-bit)
===================================

sparkloom-cli.exe turns a video clip into a particle package (.dzp) for the
host video editor. It runs in a Command Prompt or PowerShell window:

  sparkloom-cli.exe clip.mp4 -o Fire.dzp --type CUSTOM --category General

sparkloom-cli.exe --help lists every option; --check Fire.dzp reads a package
back and reports its faults.

sparkloom.exe does the same in a window: choose the video, the folder for its
frames, the thumbnail and the first frame, the type and the category, then
"Build Particle". A video dropped on the window or named on its command line
is taken as if chosen. It runs the same ffmpeg.exe and remembers the last
video's folder under HKEY_CURRENT_USER\\Software\\Sparkloom.

ffmpeg
------
sparkloom-cli.exe runs the ffmpeg.exe beside it: FFmpeg built from Debian's
source package under the LGPL 2.1 (ffmpeg-LGPL-2.1.txt); ffmpeg-source.txt
names the package and version and says how it was built. To use another
ffmpeg, set SPARKLOOM_FFMPEG to its full path.

Names and letters
-----------------
Paths may hold letters of any language. The names inside a package are
written in your system's ANSI code page, as the host editor reads them on
the same computer; a particle name with letters that code page lacks is
refused before anything is written.

Stopping
--------
Ctrl+C, Ctrl+Break or closing the window stops a conversion: ffmpeg ends,
the half-written package is removed and the frames folder is kept. The exit
status is then 130 (Ctrl+C) or 143 (Ctrl+Break, closing the window).
Otherwise it is 0 when every package was made, 1 after a failure and 2 for a
usage error.

Licences
--------
Sparkloom is under the MIT licence (licenses/sparkloom.txt). The program
contains zlib, minizip, expat, CLI11, the MinGW-w64 runtime with winpthreads
and GCC's runtime libraries; their licence texts are in licenses/. ffmpeg.exe
is under the LGPL 2.1 (ffmpeg-LGPL-2.1.txt) and contains zlib and the
MinGW-w64 runtime too. licenses/VERSIONS.txt names the version of each.
EOF
crlf "$build/dist/README.txt" "$stage/README.txt"
crlf "$here/debian/copyright" "$stage/licenses/sparkloom.txt"
crlf /usr/share/doc/libz-mingw-w64/copyright "$stage/licenses/zlib.txt"
crlf "$build/deps/prefix/share/licenses/minizip.txt" "$stage/licenses/minizip.txt"
crlf "$build/deps/prefix/share/licenses/expat.txt" "$stage/licenses/expat.txt"
crlf /usr/share/doc/libcli11-dev/copyright "$stage/licenses/CLI11.txt"
crlf /usr/share/doc/mingw-w64-x86-64-dev/copyright \
  "$stage/licenses/mingw-w64-runtime-and-winpthreads.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime-libraries.txt"

# licenses/VERSIONS.txt: for each part, the Debian source version built and the
# newest source version whose binary packages apt offers (a binary's version
# may differ from its source's: "Source: name (version)"). A part built from
# another source is warned of here, where CI's log shows it, and marked in
# the file.
newest_offered() {
  apt-cache show "$@" 2>/dev/null | awk '
    function put() { if (v != "") print (s != "" ? s : v); v = ""; s = "" }
    /^Version: / { v = $2; sub(/\+b[0-9]+$/, "", v) }
    /^Source: .*\(.*\)$/ { s = $0; sub(/.*\(/, "", s); sub(/\)$/, "", s) }
    /^$/ { put() }
    END { put() }' | sort -u -V | tail -n 1
}
installed() { dpkg-query -W -f='${source:Package} ${source:Version}' "$1"; }
{
  echo "Versions of the parts in Sparkloom $version for Windows"
  echo
  echo "Each part: the Debian source package and version it was built from, and"
  echo "the newest version Debian's packages offered of that source at build time."
  echo
} >"$build/dist/VERSIONS.txt"
# part | the binary packages of its source | the source built
while IFS='|' read -r part binaries built; do
  # shellcheck disable=SC2086  # the packages, one word each
  newest=$(newest_offered $binaries)
  line="$part: Debian source $built; newest offered ${newest:-unknown}"
  if [ -n "$newest" ] && [ "${built#* }" != "$newest" ]; then
    echo "warning: $part for Windows is built from Debian's $built, not the newest $newest" >&2
    line="$line (not the newest)"
  fi
  echo "$line" >>"$build/dist/VERSIONS.txt"
done <<PARTS
zlib|libz-mingw-w64-dev|$(installed libz-mingw-w64-dev)
minizip|libminizip-dev libminizip1|$(sed -n '/^minizip /p' "$build/deps/prefix/.done")
expat|libexpat1 libexpat1-dev|$(sed -n '/^expat /p' "$build/deps/prefix/.done")
ffmpeg|ffmpeg libavcodec59|$(head -n 1 "$build/ffmpeg-build/build/.stamp")
CLI11|libcli11-dev|$(installed libcli11-dev)
MinGW-w64 runtime|mingw-w64-x86-64-dev|$(installed mingw-w64-x86-64-dev)
GCC runtime libraries|g++-mingw-w64-x86-64-posix gcc-mingw-w64-base|$(installed gcc-mingw-w64-base)
PARTS
crlf "$build/dist/VERSIONS.txt" "$stage/licenses/VERSIONS.txt"

mkdir -p "$here/dist"
zip="$here/dist/$name.zip"
rm -f "$zip"
(cd "$build/dist" && cmake -E tar cf "$zip" --format=zip "$name")
echo "$zip"

step "Making the installer"
# The installer's file list, written from the stage, so the uninstaller
# deletes exactly the files it installed.
nsis="$build/dist/nsis"
mkdir -p "$nsis"
windows_path() { sed -e 's|^\./||' -e 's|^\.$||' -e 's|/|\\|g'; }
(cd "$stage" && find . -type d | sort) | while read -r folder; do
  sub=$(echo "$folder" | windows_path)
  echo "SetOutPath \"\$INSTDIR${sub:+\\$sub}\""
  find "$stage/$folder" -maxdepth 1 -type f | sort | sed 's/.*/File "&"/'
done >"$nsis/files.nsh"
# shellcheck disable=SC2016  # $INSTDIR is NSIS's
{
  (cd "$stage" && find . -type f | sort) | windows_path | sed 's/.*/Delete "$INSTDIR\\&"/'
  (cd "$stage" && find . -mindepth 1 -type d | sort -r) | windows_path |
    sed 's/.*/RMDir "$INSTDIR\\&"/'
} >"$nsis/removals.nsh"
setup="$here/dist/Sparkloom-Setup-$version.exe"
with_window=""
if [ -f "$stage/sparkloom.exe" ]; then with_window=-DWINDOW; fi
makensis -V2 -NOCD -DVERSION="$version" -DOUTFILE="$setup" -DFILES="$nsis/files.nsh" \
  -DREMOVALS="$nsis/removals.nsh" ${with_window:+"$with_window"} "$here/packaging/windows/sparkloom.nsi"
echo "$setup"

if [ "$run_tests" = yes ]; then
  step "Testing under Wine"
  # A Wine program now and then hangs before its first line (seen about once in
  # ten runs, never twice for the same program), so a failed test gets one more
  # run; a real fault fails both.
  (cd "$build" && ctest --output-on-failure --repeat until-pass:2 -j"${SPARKLOOM_WINE_JOBS:-1}")
fi
step "Done"

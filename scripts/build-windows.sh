#!/bin/sh
# Builds sparkloom-cli.exe for 64-bit Windows on Debian 12 with MinGW-w64
# into build-windows/ (or BUILD_DIR) and packs
# dist/sparkloom-VERSION-windows-x64.zip (the programs, ffmpeg.exe and
# ffprobe.exe, a short README and the licence texts of everything in them),
# the per-user installer dist/Sparkloom-Setup-VERSION.exe and
# dist/SHA256SUMS for both (SPARKLOOM_DIST names another folder than dist/).
# Installs what is missing with apt-get first. zlib, minizip, expat and
# ffmpeg come from Debian 13's source packages, built once
# (scripts/windows-deps.sh, scripts/build-windows-ffmpeg.sh); a second run
# reuses them.
#
# The programs and the zip are the same bytes for the same commit, wherever
# and whenever they are built: times come from SOURCE_DATE_EPOCH (the last
# commit's unless set), no build path goes into them.
#
# With --test it also builds the test programs and runs the whole Windows
# suite under Wine with ctest, with the ffmpeg.exe and ffprobe.exe that ship,
# and the installer's install, conversion and uninstall in a fresh Wine
# prefix; then it builds the programs a second time in BUILD_DIR-again (with
# a copy of the ffmpeg build) and checks that the exes and the zip are the
# same bytes, and checks SHA256SUMS with sha256sum -c.
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
dist=${SPARKLOOM_DIST:-"$here/dist"}
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
step() { echo "== $1 ($(($(date +%s) - started)) s)"; }

step "Debian packages"
packages="g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev locales
  cmake make pkg-config libcli11-dev doctest-dev nlohmann-json3-dev xz-utils nasm nsis python3 git"
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

step "zlib, minizip and expat for Windows"
export SPARKLOOM_APT_DIR="$build/apt" SPARKLOOM_WINDOWS_PREFIX="$build/deps/prefix"
SPARKLOOM_JOBS=$jobs "$here/scripts/windows-deps.sh" "$build/deps"

step "ffmpeg.exe and ffprobe.exe for Windows"
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
cp "$ffmpeg_dist/ffmpeg.exe" "$ffmpeg_dist/ffprobe.exe" "$ffmpeg_dist"/*.dll \
  "$ffmpeg_dist/ffmpeg-LGPL-2.1.txt" "$ffmpeg_dist/ffmpeg-source.txt" "$stage/"
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
sparkloom-cli.exe runs the ffmpeg.exe and ffprobe.exe beside it: FFmpeg
built from Debian 13's source package under the LGPL 2.1
(ffmpeg-LGPL-2.1.txt), on FFmpeg's DLLs (av*.dll, swscale-*.dll) and
libwinpthread-1.dll beside them; ffmpeg-source.txt names the package and
version and says how they were built. To use another ffmpeg, set
SPARKLOOM_FFMPEG to its full path.

Names and letters
-----------------
Paths may hold letters of any language. The names inside a package are
written in your system's ANSI code page, as the host editor reads them on
the same computer; a particle name with letters that code page lacks is
refused before anything is written.

Stopping
--------
Ctrl+C, Ctrl+Break or closing the window stops a conversion: ffmpeg ends,
the half-written package is removed, an older package of the same name is
kept as it was, and the frames folder is kept. The exit status is then 130
(Ctrl+C) or 143 (Ctrl+Break, closing the window). Otherwise it is 0 when
every package was made, 1 after a failure and 2 for a usage error;
--estimate exits with 3 when the frames would not fit one package.

Licences
--------
Sparkloom is under the MIT licence (licenses/sparkloom.txt). The program
contains zlib, minizip, expat, CLI11, the MinGW-w64 runtime with winpthreads
and GCC's runtime libraries; their licence texts are in licenses/. ffmpeg.exe
is under the LGPL 2.1 (ffmpeg-LGPL-2.1.txt) and contains zlib and the
MinGW-w64 runtime too, and so do ffprobe.exe and FFmpeg's DLLs.
licenses/VERSIONS.txt names the version of each.
EOF
crlf "$build/dist/README.txt" "$stage/README.txt"
crlf "$here/debian/copyright" "$stage/licenses/sparkloom.txt"
crlf "$build/deps/prefix/share/licenses/zlib.txt" "$stage/licenses/zlib.txt"
crlf "$build/deps/prefix/share/licenses/minizip.txt" "$stage/licenses/minizip.txt"
crlf "$build/deps/prefix/share/licenses/expat.txt" "$stage/licenses/expat.txt"
crlf /usr/share/doc/libcli11-dev/copyright "$stage/licenses/CLI11.txt"
crlf /usr/share/doc/mingw-w64-x86-64-dev/copyright \
  "$stage/licenses/mingw-w64-runtime-and-winpthreads.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime-libraries.txt"

# licenses/VERSIONS.txt. The parts built from Debian 13's sources: the version
# built beside the newest one Debian 13 and its updates and security suites
# list, and which newer ones could not be fetched (the build warned of them
# already, in scripts/windows-sources.sh). The parts the compilers bring,
# from the build machine's packages: the version installed beside the newest
# source version whose binary packages apt offers (a binary's version may
# differ from its source's: "Source: name (version)").
newest_offered() {
  apt-cache show "$@" 2>/dev/null | awk '
    function put() { if (v != "") print (s != "" ? s : v); v = ""; s = "" }
    /^Version: / { v = $2; sub(/\+b[0-9]+$/, "", v) }
    /^Source: .*\(.*\)$/ { s = $0; sub(/.*\(/, "", s); sub(/\)$/, "", s) }
    /^$/ { put() }
    END { put() }' | sort -u -V | tail -n 1
}
installed() { dpkg-query -W -f='${source:Package} ${source:Version}' "$1"; }
# shellcheck disable=SC1091
system=$(. /etc/os-release && echo "$PRETTY_NAME")
{
  echo "Versions of the parts in Sparkloom $version for Windows"
  echo
  echo "zlib, minizip, expat, ffmpeg.exe and ffprobe.exe were built from the source"
  echo "packages of Debian 13 (trixie); each line gives the version built and the"
  echo "newest version trixie, trixie-updates and trixie-security listed at build"
  echo "time, and says so when a newer one listed could not be fetched."
  echo
  echo "The other parts come with the compilers of the build system, $system:"
  echo "the version installed and the newest version its packages offered."
  echo
} >"$build/dist/VERSIONS.txt"
# part|built|newest|missed, from the source fetches
while IFS='|' read -r part built newest missed; do
  package=zlib
  case $part in expat | ffmpeg) package=$part ;; ffprobe) package=ffmpeg ;; esac
  line="$part: Debian source $package $built; newest offered ${newest:-unknown} by Debian 13"
  if [ -n "$missed" ]; then
    line="$line; not fetchable, so not built: $(echo "$missed" | sed 's/ /, /g')"
  fi
  echo "$line" >>"$build/dist/VERSIONS.txt"
done <<PARTS
$(cat "$build/deps/versions" "$build/ffmpeg-build/versions")
PARTS
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
CLI11|libcli11-dev|$(installed libcli11-dev)
MinGW-w64 runtime|mingw-w64-x86-64-dev|$(installed mingw-w64-x86-64-dev)
GCC runtime libraries|g++-mingw-w64-x86-64-posix gcc-mingw-w64-base|$(installed gcc-mingw-w64-base)
PARTS
crlf "$build/dist/VERSIONS.txt" "$stage/licenses/VERSIONS.txt"

# Every staged file gets the commit's time, which the zip and the installer
# record.
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$dist"
zip="$dist/$name.zip"
rm -f "$zip"
# The zip by Python's zipfile, which writes exactly what it is given: entries
# in sorted order, each with the commit's time, fixed attributes and no extra
# fields, so the same stage gives the same bytes.
python3 - "$build/dist" "$name" "$zip" <<'EOF'
import os, sys, time, zipfile
root, top, out = sys.argv[1:4]
when = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
names = [top + "/"]
for folder, subfolders, files in os.walk(os.path.join(root, top)):
    relative = os.path.relpath(folder, root)
    names += [os.path.join(relative, n) + "/" for n in subfolders]
    names += [os.path.join(relative, n) for n in files]
with zipfile.ZipFile(out, "w") as archive:
    for name in sorted(names):
        entry = zipfile.ZipInfo(name, when)
        entry.create_system = 3
        if name.endswith("/"):
            entry.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(entry, b"")
        else:
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(root, name), "rb") as f:
                archive.writestr(entry, f.read(), compresslevel=9)
EOF
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
setup="$dist/Sparkloom-Setup-$version.exe"
with_window=""
if [ -f "$stage/sparkloom.exe" ]; then with_window=-DWINDOW; fi
makensis -V2 -NOCD -DVERSION="$version" -DOUTFILE="$setup" -DFILES="$nsis/files.nsh" \
  -DREMOVALS="$nsis/removals.nsh" ${with_window:+"$with_window"} "$here/packaging/windows/sparkloom.nsi"
echo "$setup"
# What a person who downloads either checks it against (README: Windows).
(cd "$dist" && sha256sum "$(basename "$zip")" "$(basename "$setup")" >SHA256SUMS)
echo "$dist/SHA256SUMS"

if [ "$run_tests" = yes ]; then
  step "Testing under Wine"
  # A Wine program now and then hangs before its first line (seen about once in
  # ten runs, never twice for the same program), so a failed test gets one more
  # run; a real fault fails both.
  (cd "$build" && ctest --output-on-failure --repeat until-pass:2 -j"${SPARKLOOM_WINE_JOBS:-1}")

  step "The same bytes from a second build in another folder"
  (cd "$dist" && sha256sum -c SHA256SUMS)
  again=$build-again
  rm -rf "$again"
  mkdir -p "$again"
  cp -a "$build/ffmpeg-build" "$again/"
  SPARKLOOM_DIST="$again/dist-out" SPARKLOOM_JOBS=$jobs "$0" "$again" >"$again.log" 2>&1 || {
    tail -n 30 "$again.log" >&2
    echo "the second build failed; see $again.log" >&2
    exit 1
  }
  differ=""
  for file in sparkloom.exe sparkloom-cli.exe ffmpeg.exe ffprobe.exe; do
    cmp "$stage/$file" "$again/dist/$name/$file" || differ="$differ $file"
  done
  cmp "$zip" "$again/dist-out/$name.zip" || differ="$differ $name.zip"
  if [ -n "$differ" ]; then
    echo "A second build of the same commit gave other bytes:$differ" >&2
    exit 1
  fi
  # makensis writes the same bytes for the same files as far as it can; its
  # result is reported, not required.
  if cmp -s "$setup" "$again/dist-out/$(basename "$setup")"; then
    echo "The installer is the same bytes too."
  else
    echo "note: the installer differs between the two builds" >&2
  fi
  rm -rf "$again" "$again.log"
fi
step "Done"

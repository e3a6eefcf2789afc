#!/bin/sh
# Builds the Debian package, checks it with lintian and the desktop's own
# validators, installs it with apt-get, converts a generated clip with the
# installed sparkloom-cli, and removes the package again.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
# Lintian warnings we keep, with the reason in the README; any other warning
# or error fails.
kept_tags=initial-upload-closes-no-bugs

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

step() { echo "-- $*"; }

# The build's own output is long; it is shown only when the build fails.
log="$here/build-deb.log"
step "scripts/build-deb.sh (output in $log)"
if ! "$here/scripts/build-deb.sh" >"$log" 2>&1; then
  tail -n 80 "$log"
  exit 1
fi
tail -n 1 "$log"
version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version)
deb="$here/dist/sparkloom_${version}_$(dpkg --print-architecture).deb"

step "lintian"
lintian --fail-on error,warning --suppress-tags "$kept_tags" --display-info "$deb"

missing=""
for p in desktop-file-utils appstream shared-mime-info man-db ffmpeg unzip; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
if [ -n "$missing" ]; then
  $sudo apt-get update -q
  # shellcheck disable=SC2086
  $sudo apt-get install -y -q --no-install-recommends $missing
fi

step "apt-get install $deb"
$sudo apt-get install -y -q "$deb"
work=$(mktemp -d)
trap '$sudo apt-get remove -y -q sparkloom >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

step "installed files"
app=io.github.sparkloom.Sparkloom
desktop-file-validate /usr/share/applications/$app.desktop
appstreamcli validate --no-net /usr/share/metainfo/$app.metainfo.xml
# The package's trigger has rebuilt the MIME database with the .dzp type.
grep -q '^[0-9]*:application/x-sparkloom-particle:\*\.dzp$' /usr/share/mime/globs2
grep -q '^application/x-sparkloom-particle application/zip$' /usr/share/mime/subclasses
for page in sparkloom sparkloom-cli; do
  man -w "$page" >/dev/null
done
man sparkloom-cli | grep -q -- '--frames-dir'
QT_QPA_PLATFORM=offscreen /usr/bin/sparkloom --version

step "convert a clip with /usr/bin/sparkloom-cli"
cd "$work"
ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=1:size=64x48:rate=30 -pix_fmt yuv420p clip.mp4
mkdir out
/usr/bin/sparkloom-cli clip.mp4 -o out/Fire --type CUSTOM --category General
unzip -t out/Fire.dzp

step "apt-get remove sparkloom"
$sudo apt-get remove -y -q sparkloom
test ! -e /usr/bin/sparkloom-cli
trap 'rm -rf "$work"' EXIT
echo "The package installs, converts a clip and removes cleanly."

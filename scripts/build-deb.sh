#!/bin/sh
# Builds the Debian package into dist/ (sparkloom_VERSION_ARCH.deb): installs
# what debian/control asks for the build with apt-get (as root or through sudo),
# then runs dpkg-buildpackage on a copy of the tree in build-deb/, because it
# writes the packages beside the source folder, and moves them to dist/.
# The package's own test run is skipped (nocheck); CI runs the suite anyway.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
stage="$here/build-deb"
dist="$here/dist"

# The Build-Depends a nocheck build needs, and the tools that build and check it.
needed=$(sed -n '/^Build-Depends:/,/^[A-Z][A-Za-z-]*:/{/^Build-Depends:/p;/^ /p}' \
           "$here/debian/control" |
         sed 's/^Build-Depends://' | tr ',' '\n' | grep -v '<!nocheck>' |
         sed 's/(.*)//; s/[[:space:]]//g; s/^debhelper-compat$/debhelper/' | grep -v '^$')
needed="$needed build-essential dpkg-dev debhelper lintian"
missing=""
for p in $needed; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  # shellcheck disable=SC2086
  $sudo apt-get install -y -q --no-install-recommends $missing
fi

rm -rf "$stage"
mkdir -p "$stage/src" "$dist"
tar -C "$here" --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./bench/out \
  -cf - . | tar -C "$stage/src" -xf -
cd "$stage/src"
dpkg-checkbuilddeps -Pnocheck
DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b -Pnocheck \
  -j"$(nproc)"

version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
mv "$stage"/*.deb "$stage"/*.buildinfo "$stage"/*.changes "$dist/"
echo "Built $dist/sparkloom_${version}_${arch}.deb"

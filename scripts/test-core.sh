#!/bin/sh
# Builds the core, sparkloom-cli and their tests with Qt out of reach, into
# build-core/ (or the folder given as $1), and runs those tests: the converter
# alone, as packagers and servers build it.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build-core"}
"$here/scripts/setup-debian.sh"
"$here/scripts/build.sh" "$build" -DSPARKLOOM_WINDOW=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
cd "$build"
ctest --output-on-failure -j"$(nproc)"

#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup-debian.sh"
"$here/scripts/build.sh" "$here/build"
cd "$here/build"
ctest --output-on-failure -j"$(nproc)"

#!/bin/sh
# Configures and builds into build/ (or the folder given as $1); further
# arguments go to cmake. SPARKLOOM_TARGETS, when set, names the only targets
# to build (e.g. "sparkloom sparkloom-cli"); otherwise everything is built.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
shift 2>/dev/null || true
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" ${SPARKLOOM_TARGETS:+--target $SPARKLOOM_TARGETS}

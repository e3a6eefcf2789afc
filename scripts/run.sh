#!/bin/sh
# Installs what is missing, builds the program (not the test suite), and
# starts Sparkloom. Arguments go to Sparkloom, e.g. a video to start with.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup-debian.sh"
SPARKLOOM_TARGETS="sparkloom sparkloom-cli" "$here/scripts/build.sh" "$here/build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found; starting Sparkloom on a virtual X display (xvfb-run)." >&2
  exec xvfb-run -a "$here/build/src/app/sparkloom" "$@"
fi
exec "$here/build/src/app/sparkloom" "$@"

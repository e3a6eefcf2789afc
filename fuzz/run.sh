#!/bin/sh
# Builds the fuzz targets with clang and runs one of them for a while:
#   fuzz/run.sh TARGET [SECONDS]     (TARGET: framecount templates savepath videonames ansitext templateread)
# New inputs go to build-fuzz/fuzz-work/TARGET/corpus, findings to .../artifacts/.
# Keep a finding as fuzz/regressions/TARGET/<what-it-shows> once it is fixed.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: fuzz/run.sh TARGET [SECONDS]}
seconds=${2:-600}
build=${SPARKLOOM_FUZZ_BUILD:-"$here/build-fuzz"}
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSPARKLOOM_SANITIZE=ON -DSPARKLOOM_FUZZ=ON -DSPARKLOOM_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "fuzz_$target" >/dev/null
work="$build/fuzz-work/$target"
mkdir -p "$work/corpus" "$work/artifacts"
# The seeds and the kept reproducers are read, never written: new inputs stay in $work.
set -- "$work/corpus" "$here/fuzz/corpus/$target"
[ -d "$here/fuzz/regressions/$target" ] && set -- "$@" "$here/fuzz/regressions/$target"
exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$@"

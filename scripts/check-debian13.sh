#!/bin/sh
# Builds this checkout and runs its whole test suite inside a Debian 13 (trixie)
# root, to see it with g++ 14, Qt 6.8 and ffmpeg 7.1. Needs root (debootstrap,
# mount, chroot). The root is made once and kept; later runs rebuild incrementally.
#
# Usage: sudo scripts/check-debian13.sh [CTEST ARGUMENTS...]   e.g. -R test_cli
# Environment: DEBIAN13_ROOT (default /work/deb13root), JOBS (default 2).
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
root=${DEBIAN13_ROOT:-/work/deb13root}
jobs=${JOBS:-2}
packages="build-essential cmake pkg-config qt6-base-dev zlib1g-dev libminizip-dev
  libexpat1-dev libcli11-dev doctest-dev nlohmann-json3-dev
  ffmpeg unzip zip python3 libarchive-tools xvfb xauth fonts-dejavu-core"

if [ "$(id -u)" -ne 0 ]; then
  echo "check-debian13.sh: needs root (debootstrap, mount and chroot)" >&2
  exit 2
fi

# The mirror this host already uses, so the root comes from the same place.
mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' \
  /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

# One name per checkout, so several worktrees keep their own build folders.
key=$(printf '%s' "$src" | tr -c 'A-Za-z0-9._-' '_')
inner_src=/src/$key
inner_build=/build/$key

mounted=""
cleanup() {
  # Last mounted first.
  for point in $mounted; do
    umount "$point" 2>/dev/null || umount -l "$point" 2>/dev/null ||
      echo "check-debian13.sh: could not unmount $point" >&2
  done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_at() {  # mount_at POINT MOUNT-ARGUMENTS...
  point=$1
  shift
  mkdir -p "$point"
  if mountpoint -q "$point"; then
    return 0  # someone else's; left as it is
  fi
  mount "$@" "$point"
  mounted="$point $mounted"
}

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
    HOME=/root LANG=C DEBIAN_FRONTEND=noninteractive "$@"
}

started=$(date +%s)

if [ ! -x "$root/usr/bin/apt-get" ]; then
  if ! command -v debootstrap >/dev/null 2>&1; then
    apt-get update -q && apt-get install -y -q debootstrap
  fi
  echo "== Making the Debian 13 root in $root from $mirror"
  debootstrap --variant=minbase trixie "$root" "$mirror"
fi

# Two runs at once would share the mounts and the build folder.
mkdir -p "$root/build"
exec 9>"$root/build/.check-debian13.lock"
if ! flock -n 9; then
  echo "== Waiting for another check-debian13.sh run"
  flock 9
fi

mount_at "$root/proc" -t proc proc
mount_at "$root/tmp" -t tmpfs tmpfs
mount_at "$root/dev/shm" -t tmpfs tmpfs
# The checkout is shared read-only: the build and the tests write only in the root.
mount_at "$root$inner_src" --bind "$src"
mount -o remount,bind,ro "$root$inner_src"

stamp="$root/var/lib/sparkloom-packages"
if [ "$(cat "$stamp" 2>/dev/null)" != "$(echo $packages)" ]; then
  echo "== Installing the build and test packages"
  # The list is flattened to one line: a newline inside sh -c would end the command.
  # shellcheck disable=SC2086
  in_root sh -c "apt-get update -q && apt-get install -y -q --no-install-recommends $(echo $packages)"
  echo $packages >"$stamp"
fi

log="$root$inner_build/check-debian13.log"
mkdir -p "$root$inner_build"
echo "== $(in_root sh -c '. /etc/os-release; echo "$PRETTY_NAME"'); $(in_root ffmpeg -version |
  head -n 1 | cut -d' ' -f1-3); $(in_root g++ --version | head -n 1)"

status=0
if [ ! -f "$root$inner_build/CMakeCache.txt" ]; then
  in_root cmake -S "$inner_src" -B "$inner_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1 ||
    status=$?
fi
if [ "$status" -eq 0 ]; then
  echo "== Building in $root$inner_build"
  in_root cmake --build "$inner_build" -j"$jobs" >>"$log" 2>&1 || status=$?
fi
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  echo "== Debian 13: the build FAILED (full log: $log)"
  exit 1
fi

echo "== Running the tests (LANG=C)"
ctest_log="$root$inner_build/check-debian13-ctest.log"
in_root ctest --test-dir "$inner_build" --output-on-failure -j"$jobs" "$@" >"$ctest_log" 2>&1 ||
  status=$?
cat "$ctest_log"

elapsed=$(($(date +%s) - started))
echo "== Debian 13 summary (${elapsed} s):"
grep -E '^[0-9]+% tests passed' "$ctest_log" || true
sed -n '/^The following tests FAILED:/,$p' "$ctest_log"
if [ "$status" -ne 0 ]; then
  echo "== Debian 13: tests FAILED (log: $ctest_log)"
  exit 1
fi
echo "== Debian 13: all tests passed"

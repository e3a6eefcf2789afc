#!/bin/sh
# Installs the Debian 12 packages Sparkloom needs to build, run and test,
# skipping those already present.
set -eu
packages="build-essential cmake pkg-config qt6-base-dev zlib1g-dev libminizip-dev
  libexpat1-dev libcli11-dev doctest-dev nlohmann-json3-dev
  ffmpeg unzip zip python3 libarchive-tools xvfb xauth fonts-dejavu-core
  desktop-file-utils appstream shared-mime-info"
missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing

#!/usr/bin/env bash
# Builds the launcher and its tests: build/i686 holds the shipped 32-bit
# VELQUOR.exe; on a machine that cannot run 32-bit code under Wine,
# build/x86_64 holds the same sources built for the tests to run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"
wine_env_init

build_arch() {
  local arch=$1
  bash "$root/scripts/build-libjpeg.sh" "$arch"
  configure_preset "$root" "$arch" "$build_dir/$arch" "$build_dir/deps"
  cmake --build "$build_dir/$arch" -j"$(nproc)"
}

build_arch i686
runnable=$(runnable_arch)
[ "$runnable" = i686 ] || build_arch "$runnable"
echo "build: $build_dir/i686/src/main/VELQUOR.exe (shipped)"
[ "$runnable" = i686 ] || echo "build: $build_dir/$runnable (tests run this build: this machine runs no 32-bit code)"

#!/usr/bin/env bash
# Builds the launcher a second time, from a copy of the tree in another
# folder into another build folder, and compares the exe with the first
# build's byte for byte. libjpeg comes from the same dependency cache.
# usage: second-build.sh SOURCE_ROOT FIRST_EXE WORK_DIR DEPS_DIR ARCH
set -euo pipefail
. "$(dirname "$0")/../../scripts/common.sh"
root=$1 first=$2 work=$3 deps=$4 arch=$5

tree=$work/tree
rm -rf "$tree"
mkdir -p "$tree" "$work/build"
# tar keeps the files' times to the nanosecond, so a rerun recompiles only what changed.
tar -C "$root" --format=posix --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$tree" -xf -

# The machine's preset, in another folder.
configure_preset "$tree" "$arch" "$work/build" "$deps" -DVELQUOR_TESTS=OFF
cmake --build "$work/build" --target VELQUOR -j"$(nproc)" >/dev/null
second=$work/build/src/main/VELQUOR.exe

sha256sum "$first" "$second"
if ! cmp "$first" "$second"; then
  echo "FAIL: two builds of the same sources differ (offset, first, second in octal):"
  cmp -l "$first" "$second" | head -n 20
  exit 1
fi
echo "ok: byte-identical builds in $(dirname "$(dirname "$(dirname "$first")")") and $work/build"

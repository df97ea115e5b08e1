#!/usr/bin/env bash
# Builds the launcher a second time, from a copy of the tree in another
# folder into another build folder, and compares the exe with the first
# build's byte for byte. libjpeg comes from the same dependency cache.
# usage: second-build.sh SOURCE_ROOT FIRST_EXE WORK_DIR DEPS_DIR ARCH
set -euo pipefail
root=$1 first=$2 work=$3 deps=$4 arch=$5

tree=$work/tree
rm -rf "$tree"
mkdir -p "$tree" "$work/build"
# tar keeps the files' times to the nanosecond, so a rerun recompiles only what changed.
tar -C "$root" --format=posix --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$tree" -xf -

if [ ! -f "$work/build/CMakeCache.txt" ]; then
  # The machine's preset (CMakePresets.json), in another folder.
  cmake -S "$tree" --preset "$arch" -B "$work/build" -DVELQUOR_DEPS="$deps" -DVELQUOR_TESTS=OFF >/dev/null
fi
cmake --build "$work/build" --target VELQUOR -j"$(nproc)" >/dev/null
second=$work/build/src/main/VELQUOR.exe

sha256sum "$first" "$second"
if ! cmp "$first" "$second"; then
  echo "FAIL: two builds of the same sources differ (offset, first, second in octal):"
  cmp -l "$first" "$second" | head -n 20
  exit 1
fi
echo "ok: byte-identical builds in $(dirname "$(dirname "$(dirname "$first")")") and $work/build"

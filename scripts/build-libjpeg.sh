#!/usr/bin/env bash
# Builds libjpeg-turbo (the IJG API) for MinGW ($1: i686 or x86_64) from
# Debian's source package at the version scripts/source-pins.txt names,
# static with SIMD, into $BUILD_DIR/deps/libjpeg-turbo-ARCH. Cached: a second run does nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
build_dir=${BUILD_DIR:-$root/build}
arch=${1:-i686}
deps=$build_dir/deps
prefix=$deps/libjpeg-turbo-$arch
stamp=$prefix/.built
# Exactly the version the tree pins, checked against its .dsc: never whatever the archive has that day.
read -r _ version dsc_sha256 < <(grep -E '^libjpeg-turbo[[:space:]]' "$root/scripts/source-pins.txt")
# What the build below makes: a cache made by another recipe is made again.
recipe="libjpeg-turbo $version ($dsc_sha256) static, SIMD, NO_GETENV"

[ "$(cat "$stamp" 2>/dev/null)" = "$recipe" ] && exit 0

source_tree=$(BUILD_DIR=$build_dir bash "$root/scripts/fetch-source.sh" libjpeg-turbo "$version" "$dsc_sha256")

say "building $(basename "$source_tree") for $arch MinGW"
# NO_GETENV: the launcher reads no environment, and libjpeg would otherwise
# take its memory limit (JPEGMEM) and its choice of SIMD (JSIMD_*) from it.
cmake -S "$source_tree" -B "$deps/libjpeg-turbo-build-$arch" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DVELQUOR_ARCH="$arch" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="-DNO_GETENV -DNO_PUTENV" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON \
  -DREQUIRE_SIMD=ON -DWITH_JAVA=OFF >/dev/null
jbuild=$deps/libjpeg-turbo-build-$arch
cmake --build "$jbuild" -j"$(nproc)" --target jpeg-static >/dev/null
# The static library and its headers are all we need.
mkdir -p "$prefix/lib" "$prefix/include"
cp "$jbuild/libjpeg.a" "$prefix/lib/"
# Without debug records and file symbols the archive holds no build folder:
# the same bytes from any checkout.
"$arch-w64-mingw32-strip" --strip-debug -D "$prefix/lib/libjpeg.a"
cp "$source_tree"/{jpeglib.h,jmorecfg.h,jerror.h} "$jbuild/jconfig.h" "$prefix/include/"
echo "$recipe" >"$stamp"

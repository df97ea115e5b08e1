#!/usr/bin/env bash
# Builds libjpeg-turbo (the IJG API) for MinGW ($1: i686 or x86_64) from
# Debian's source package, static with SIMD, into
# $BUILD_DIR/deps/libjpeg-turbo-ARCH. Cached: a second run does nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
build_dir=${BUILD_DIR:-$root/build}
arch=${1:-i686}
deps=$build_dir/deps
prefix=$deps/libjpeg-turbo-$arch
stamp=$prefix/.built
# What the build below makes: a cache made by another recipe is made again.
recipe="libjpeg-turbo static, SIMD, NO_GETENV"

[ "$(cat "$stamp" 2>/dev/null)" = "$recipe" ] && exit 0

# Our own deb-src list and package lists: the machine's apt sources stay as they are.
apt_dir=$deps/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts"
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
  > "$apt_dir/sources.list"
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o APT::Sandbox::User=root
)

src_dir=$deps/src
mkdir -p "$src_dir"
if ! compgen -G "$src_dir/libjpeg-turbo-*/CMakeLists.txt" >/dev/null; then
  say "fetching Debian's libjpeg-turbo source package"
  if ! apt-get "${apt_opts[@]}" update -qq; then
    say "could not read Debian's source index: is the package mirror reachable?"
    exit 1
  fi
  (cd "$src_dir" && apt-get "${apt_opts[@]}" source -qq libjpeg-turbo >/dev/null) || {
    say "apt-get source libjpeg-turbo failed (dpkg-dev installed? mirror reachable?)"
    exit 1
  }
fi
source_tree=$(compgen -G "$src_dir/libjpeg-turbo-*/CMakeLists.txt" | head -n 1 | xargs dirname)

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

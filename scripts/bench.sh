#!/usr/bin/env bash
# Benchmark (not a test): builds the launcher and bench/, then runs the
# launcher and a bare window N times each (default 20), interleaved, under
# Wine on the virtual display. Prints a table; the figures go to build/bench.json.
# Uses a Wine prefix of its own, so it can run beside the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-20}
. "$root/scripts/wine-env.sh"
arch=$(runnable_arch)
export WINEPREFIX=$build_dir/wine-bench-$arch

# Only the launcher itself (both machines), so a half-finished test elsewhere
# in the tree cannot stop the benchmark.
for a in i686 $arch; do
  bash "$root/scripts/build-libjpeg.sh" "$a" >/dev/null
  if [ ! -f "$build_dir/$a/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir/$a" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DVELQUOR_ARCH="$a" \
      -DVELQUOR_DEPS="$build_dir/deps" >/dev/null
  fi
  cmake --build "$build_dir/$a" -j"$(nproc)" --target VELQUOR >/dev/null
done
bench_build=$build_dir/bench-$arch
if [ ! -f "$bench_build/CMakeCache.txt" ]; then
  cmake -S "$root/bench" -B "$bench_build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DVELQUOR_ARCH="$arch" \
    -DVELQUOR_DEPS="$build_dir/deps" >/dev/null
fi
cmake --build "$bench_build" -j"$(nproc)" >/dev/null

win() { printf 'Z:%s' "${1//\//\\}"; }
cleanup() { wineserver_stop; display_stop; }
trap cleanup EXIT
display_start
wine_prefix_ensure
wineserver_start
"$WINE" "$bench_build/driver.exe" \
  "$(win "$build_dir/$arch/src/main/VELQUOR.exe")" "$(win "$bench_build/bare.exe")" \
  "$(win "$bench_build/product.exe")" "$(win "$root/assets/banner.jpg")" "$(win "$root/assets/logo.png")" \
  "$(win "$build_dir/i686/src/main/VELQUOR.exe")" "$n" "$(win "$build_dir/bench.json")" "$arch"

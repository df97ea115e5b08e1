#!/usr/bin/env bash
# Builds the picture readers' libFuzzer targets natively (clang, ASan + UBSan, the system's zlib
# and libjpeg) and runs each for the given number of seconds.
#   scripts/fuzz.sh [seconds-per-target]        default 60
#   BUILD_DIR=...   where to build and keep the growing corpus (default build/fuzz)
#   TARGETS="png jpeg"
# Seeds: tests/fuzz/corpus/<target>/ plus assets/*.png or assets/*.jpg. Crashes land in
# $BUILD_DIR/artifacts/<target>/; the script then fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${BUILD_DIR:-$root/build/fuzz}
targets=${TARGETS:-png jpeg}
mkdir -p "$build"

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer '-fsanitize=fuzzer,address,undefined'
       -fno-sanitize-recover=undefined -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION -I"$root/src")
library=("$root"/src/pictures/{adler32,area_scaler,image,png_reader,jpeg_reader}.cpp)

for target in $targets; do
  echo "fuzz: building ${target}_fuzzer" >&2
  clang++ "${flags[@]}" "$root/tests/fuzz/${target}_fuzzer.cpp" "${library[@]}" -lz -ljpeg -o "$build/${target}_fuzzer"
done

status=0
summary=()
for target in $targets; do
  case $target in png) ext=png ;; jpeg) ext=jpg ;; *) ext=$target ;; esac
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  seeds=("$root/tests/fuzz/corpus/$target")
  for asset in "$root"/assets/*."$ext"; do
    [ -e "$asset" ] && cp "$asset" "$corpus/"
  done
  log=$build/$target.log
  echo "fuzz: running ${target}_fuzzer for ${seconds}s (log: $log)" >&2
  # Long inputs (the artwork) are cut to max_len: their headers and first rows still count, and
  # short inputs run fast. 10 s for one input is far beyond a healthy decode.
  if "$build/${target}_fuzzer" "$corpus" "${seeds[@]}" \
      -dict="$root/tests/fuzz/$target.dict" -max_total_time="$seconds" -max_len=16384 \
      -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED, see $log and $artifacts"
    status=1
  fi
  runs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -1 || true)
  summary+=("$target: ${runs:-no run count} - $result")
done

printf 'fuzz: %s\n' "${summary[@]}"
exit $status

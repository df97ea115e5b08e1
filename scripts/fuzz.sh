#!/usr/bin/env bash
# Builds the picture library's libFuzzer target natively (clang, ASan + UBSan, the system's zlib
# and libjpeg; every file of src/pictures) and runs it once per format for the given number of
# seconds, each run with that format's seeds and dictionary.
#   scripts/fuzz.sh [seconds-per-format]        default 60
#   BUILD_DIR=...   where to build and keep the growing corpus (default build/fuzz)
#   TARGETS="png jpeg"
# Seeds: tests/fuzz/corpus/<format>/ plus assets/*.png or assets/*.jpg, each behind a 4-byte
# target size (the target reads one first). Crashes land in $BUILD_DIR/artifacts/<format>/;
# the script then fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${BUILD_DIR:-$root/build/fuzz}
targets=${TARGETS:-png jpeg}
mkdir -p "$build"

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer '-fsanitize=fuzzer,address,undefined'
       -fno-sanitize-recover=undefined -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION -I"$root/src")
echo "fuzz: building pictures_fuzzer" >&2
clang++ "${flags[@]}" "$root/tests/fuzz/pictures_fuzzer.cpp" "$root"/src/pictures/*.cpp -lz -ljpeg \
  -o "$build/pictures_fuzzer"

# Seeds go in behind sizes that shrink (202 x 170, the logo's) and grow (300 x 300).
add_seed() { # file corpus-dir
  local name
  name=$(basename "$1")
  { printf '\311\000\251\000'; cat "$1"; } >"$2/shrink-$name"
  { printf '\053\001\053\001'; cat "$1"; } >"$2/grow-$name"
}

status=0
summary=()
for target in $targets; do
  case $target in png) ext=png ;; jpeg) ext=jpg ;; *) ext=$target ;; esac
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  for seed in "$root/tests/fuzz/corpus/$target"/* "$root"/assets/*."$ext"; do
    [ -e "$seed" ] && add_seed "$seed" "$corpus"
  done
  log=$build/$target.log
  echo "fuzz: running pictures_fuzzer on $target for ${seconds}s (log: $log)" >&2
  # Long inputs (the artwork) are cut to max_len: their headers and first rows still count, and
  # short inputs run fast. 10 s for one input is far beyond a healthy decode.
  if "$build/pictures_fuzzer" "$corpus" \
      -dict="$root/tests/fuzz/$target.dict" -max_total_time="$seconds" -max_len=16384 \
      -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED, see $log and $artifacts"
    status=1
  fi
  runs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -1 || true)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  summary+=("$target: ${runs:-no run count}, ${coverage:-no coverage} - $result")
done

printf 'fuzz: %s\n' "${summary[@]}"
exit $status

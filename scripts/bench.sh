#!/usr/bin/env bash
# Benchmark (not a test): builds the launcher and bench/, then runs the
# launcher, a bare window and the launcher with its start-up stages marked, N
# times each (default 20), interleaved, under Wine on the virtual display.
# Prints the figures, the stage table and the goals for the build it ran (the
# shipped i686 build wherever this machine runs 32-bit code); the figures go to
# build/bench.json. Uses a Wine prefix of its own, so it can run beside the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-20}
. "$root/scripts/wine-env.sh"
wine_env_init bench  # VELQUOR_DPI=144: at 150 % scale; VELQUOR_BED: another bed
arch=$(runnable_arch)
# The stand-in product stamps its start and ends at once.
export STANDIN_MODE=exit-at-once

# Only the launcher and the stand-in product (both machines), so a
# half-finished test elsewhere in the tree cannot stop the benchmark.
for a in i686 $arch; do
  bash "$root/scripts/build-libjpeg.sh" "$a" >/dev/null
  if [ ! -f "$build_dir/$a/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir/$a" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DVELQUOR_ARCH="$a" \
      -DVELQUOR_DEPS="$build_dir/deps" >/dev/null
  fi
  cmake --build "$build_dir/$a" -j"$(nproc)" --target VELQUOR NORVASK >/dev/null
done
bench_build=$build_dir/bench-$arch
if [ ! -f "$bench_build/CMakeCache.txt" ]; then
  cmake -S "$root/bench" -B "$bench_build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DVELQUOR_ARCH="$arch" \
    -DVELQUOR_DEPS="$build_dir/deps" -DVELQUOR_GENERATED="$build_dir/$arch/generated" >/dev/null
fi
cmake --build "$bench_build" -j"$(nproc)" >/dev/null

win() { printf 'Z:%s' "${1//\//\\}"; }
cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
machine="${cpu_model:-unknown CPU}, $(nproc) cores, Linux $(uname -r), $("$WINE" --version 2>/dev/null || echo Wine)"
machine+=", load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$arch" != i686 ]; then
  echo "bench.sh: this machine runs no 32-bit code: the shipped i686 build cannot be run here;" \
    "every figure below is from the x86_64 stand-in build." >&2
fi
wine_session_start
"$WINE" "$bench_build/driver.exe" \
  "$(win "$build_dir/$arch/src/main/VELQUOR.exe")" "$(win "$bench_build/bare.exe")" \
  "$(win "$build_dir/$arch/stand-in/NORVASK.exe")" "$(win "$root/assets/banner.jpg")" "$(win "$root/assets/logo.png")" \
  "$(win "$build_dir/i686/src/main/VELQUOR.exe")" "$n" "$(win "$build_dir/bench.json")" "$arch" \
  "$(win "$bench_build/staged.exe")" "$machine"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

# CPU time from Linux: under this Wine, GetProcessTimes on another process
# returns a figure that only grows from run to run. `wine x.exe` becomes the
# program's own Linux process, so its rusage is the program's CPU.
cpu_runs=$(( n < 10 ? n : 10 ))
cpu_of() {
  local exe=$1 out
  out=$(mktemp)
  for _ in $(seq "$cpu_runs"); do
    /usr/bin/time -f '%U %S' -o "$out" "$WINE" "$exe" >/dev/null 2>&1 </dev/null || true
    awk '{ printf "%.0f\n", ($1 + $2) * 1000 }' "$out"
  done | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
  rm -f "$out"
}
rm -f "$WINEPREFIX/drive_c/VELQUOR/NORVASK.exe"
cpu_launcher=$(cpu_of "$build_dir/$arch/src/main/VELQUOR.exe")
cpu_bare=$(cpu_of "$bench_build/bare.exe")
cpu_delta=$((cpu_launcher - cpu_bare))
met=$([ "$cpu_delta" -le 40 ] && echo yes || echo NO)
printf '\nCPU user+sys from Linux rusage, median of %d (10 ms ticks), no product:\n' "$cpu_runs"
printf '%-32s %10s\n' "launcher" "$cpu_launcher ms" "bare" "$cpu_bare ms"
printf '%-32s %10s %12s  %s\n' "CPU launcher-bare (ms)" "$cpu_delta" "<= 40" "$met"
jq --argjson l "$cpu_launcher" --argjson b "$cpu_bare" --argjson runs "$cpu_runs" \
  '.cpu_rusage_ms = {launcher: $l, bare: $b, runs: $runs} |
   .targets["CPU launcher-bare (ms)"] = {value: ($l - $b), goal: "<= 40", met: (($l - $b) <= 40)}' \
  "$build_dir/bench.json" >"$build_dir/bench.json.tmp" && mv "$build_dir/bench.json.tmp" "$build_dir/bench.json"

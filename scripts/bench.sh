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

# Configured from the presets, in $build_dir as scripts/build.sh does. Of the tests' builds
# only the launcher and the stand-in product are built, so a half-finished test elsewhere in
# the tree cannot stop the benchmark.
for a in i686 $arch; do
  bash "$root/scripts/build-libjpeg.sh" "$a" >/dev/null
  configure_preset "$root" "$a" "$build_dir/$a" "$build_dir/deps"
  cmake --build "$build_dir/$a" -j"$(nproc)" --target VELQUOR NORVASK >/dev/null
done
bench_build=$build_dir/bench-$arch
configure_preset "$root" "bench-$arch" "$bench_build" "$build_dir/deps"
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

# CPU time from Linux: under this Wine, GetProcessTimes on another process
# returns a figure that only grows from run to run. `wine x.exe` becomes the
# program's own Linux process, so its rusage is the program's CPU.
cpu_runs=$(( n < 10 ? n : 10 ))
cpu_of() {
  local exe=$1 out
  out=$(mktemp)
  "$WINE" "$exe" >/dev/null 2>&1 </dev/null || true  # warm: the driver's runs come after these
  for _ in $(seq "$cpu_runs"); do
    /usr/bin/time -f '%U %S' -o "$out" "$WINE" "$exe" >/dev/null 2>&1 </dev/null || true
    awk '{ printf "%.0f ", ($1 + $2) * 1000 }' "$out"
  done
  rm -f "$out"
}
rm -f "$WINEPREFIX/drive_c/VELQUOR/NORVASK.exe"
cpu_launcher=$(cpu_of "$build_dir/$arch/src/main/VELQUOR.exe")
cpu_bare=$(cpu_of "$bench_build/bench/bare.exe")

"$WINE" "$bench_build/bench/driver.exe" \
  --launcher "$(win "$build_dir/$arch/src/main/VELQUOR.exe")" --bare "$(win "$bench_build/bench/bare.exe")" \
  --staged "$(win "$bench_build/bench/staged.exe")" --product "$(win "$build_dir/$arch/stand-in/NORVASK.exe")" \
  --shipped "$(win "$build_dir/i686/src/main/VELQUOR.exe")" \
  --banner "$(win "$root/assets/banner.jpg")" --logo "$(win "$root/assets/logo.png")" \
  --json "$(win "$build_dir/bench.json")" --n "$n" --arch "$arch" --machine "$machine" \
  --cpu-launcher "$cpu_launcher" --cpu-bare "$cpu_bare"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

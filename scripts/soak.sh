#!/usr/bin/env bash
# Runs the launcher again and again under Wine, with the stand-in product in
# C:\VELQUOR and without it in turn, and counts what went wrong:
#   scripts/soak.sh [runs]      (default 200; build first with scripts/build.sh)
# STANDIN_MODE and STANDIN_LIFETIME_MS (default normal, 300) set the stand-in.
# Not part of scripts/test.sh: it takes minutes. It has a Wine prefix of its
# own (in the bed and at the DPI that VELQUOR_BED and VELQUOR_DPI name), so
# tests running meanwhile neither disturb it nor are disturbed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"
wine_env_init soak
runs=${1:-200}
arch=$(runnable_arch)
launcher=$build_dir/$arch/src/main/VELQUOR.exe
standin=$build_dir/$arch/stand-in/NORVASK.exe
for f in "$launcher" "$standin"; do
  [ -f "$f" ] || { say "missing $f: run scripts/build.sh"; exit 2; }
done

work=$(mktemp -d)
product_dir=$WINEPREFIX/drive_c/VELQUOR
# Every process of this soak carries the tag (Wine passes the environment on),
# so leftovers are found without guessing by name.
tag=velquor-soak-$$
cleanup() {
  local pid
  for pid in $(tagged); do kill "$pid" 2>/dev/null || true; done
  rm -rf "$product_dir" "$work"
}
on_exit cleanup

# Wine's own services (system32) may start with a tagged program and stay.
tagged() {
  local env pid
  for env in $(env -u SOAK_TAG grep -lzx "SOAK_TAG=$tag" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${env#/proc/}; pid=${pid%/environ}
    [ "$pid" != $$ ] || continue
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qi 'windows.system32' || echo "$pid"
  done
  return 0
}

wine_session_start
# One untagged run first: it starts the desktop process that later runs share.
rm -rf "$product_dir"
timeout 120 "$WINE" "$launcher" >/dev/null 2>&1 </dev/null || true

export SOAK_TAG=$tag STANDIN_MODE=${STANDIN_MODE:-normal} STANDIN_LIFETIME_MS=${STANDIN_LIFETIME_MS:-300}
export STANDIN_LOG="Z:${work//\//\\}\\standin.log"
failures=0 with_product=0 leftovers=0
for ((i = 1; i <= runs; i++)); do
  if ((i % 2)); then
    mkdir -p "$product_dir" && cp "$standin" "$product_dir/NORVASK.exe"
    with_product=$((with_product + 1))
  else
    rm -rf "$product_dir"
  fi
  rc=0
  timeout 120 "$WINE" "$launcher" >/dev/null 2>&1 </dev/null || rc=$?
  if [ "$rc" != 0 ]; then
    failures=$((failures + 1))
    say "run $i: exit code $rc"
  fi
  # The product outlives the launcher by its lifetime; anything still tagged
  # well after that was left behind.
  for ((wait = 0; wait < 100; wait++)); do
    [ -z "$(tagged)" ] && break
    sleep 0.1
  done
  left=$(tagged)
  if [ -n "$left" ]; then
    leftovers=$((leftovers + $(echo "$left" | wc -l)))
    say "run $i: left running: $(for p in $left; do { tr '\0' ' ' <"/proc/$p/cmdline"; } 2>/dev/null; echo; done)"
    for p in $left; do kill "$p" 2>/dev/null || true; done
  fi
  ((i % 25)) || say "$i of $runs runs"
done

starts=$( (grep -c '^started ' "$work/standin.log" 2>/dev/null) || true)
starts=${starts:-0}
echo "runs:                $runs ($with_product with the product, $((runs - with_product)) without)"
echo "failures (exit != 0): $failures"
echo "product starts:      $starts (expected $with_product)"
echo "leftover processes:  $leftovers"
[ "$failures" = 0 ] && [ "$starts" = "$with_product" ] && [ "$leftovers" = 0 ]

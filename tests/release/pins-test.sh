#!/usr/bin/env bash
# build-libjpeg.sh builds exactly the libjpeg-turbo source the tree pins, or
# stops and says what to do: a version the archive does not offer, and a .dsc
# whose sha256 is not the pinned one. Each case runs on a copy of the scripts
# with its own pin, and must build nothing.
# usage: pins-test.sh SOURCE_ROOT WORK_DIR DEPS_DIR
set -euo pipefail
root=$1 work=$2 deps=$3
rm -rf "$work"
mkdir -p "$work"

# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"

n=0
read -r _ version dsc_sha256 < <(grep -E '^libjpeg-turbo[[:space:]]' "$root/scripts/source-pins.txt")
dsc_name=libjpeg-turbo_${version#*:}.dsc

# name | pinned version | pinned sha256 | the source package already in the cache | what build-libjpeg.sh must say
cases="
a version the archive does not offer|1:2.1.5-0velquor1|$dsc_sha256|no|no longer offers libjpeg-turbo 1:2.1.5-0velquor1 \\(it offers: .*$version
... and it says what to do|1:2.1.5-0velquor1|$dsc_sha256|no|pin the offered version and its .dsc's sha256 in scripts/source-pins.txt
a .dsc that is not the pinned one|$version|${dsc_sha256//[0-9]/0}|yes|$dsc_name has sha256 $dsc_sha256, not the pinned"

while IFS='|' read -r name pin_version pin_sha cached pattern; do
  [ -n "$name" ] || continue
  case_dir=$work/case-$((++n))
  mkdir -p "$case_dir/tree" "$case_dir/build/deps/src"
  cp -r "$root/scripts" "$root/cmake" "$case_dir/tree/"
  printf 'libjpeg-turbo %s %s\n' "$pin_version" "$pin_sha" >"$case_dir/tree/scripts/source-pins.txt"
  # The suite's Debian source index, so no case downloads it again.
  cp -r "$deps/apt" "$case_dir/build/deps/apt"
  if [ "$cached" = yes ]; then
    cp "$deps/src/$dsc_name" "$deps/src"/libjpeg-turbo_*.orig.tar.* "$deps/src"/libjpeg-turbo_*.debian.tar.* \
      "$case_dir/build/deps/src/"
  fi
  status=0
  out=$(BUILD_DIR=$case_dir/build bash "$case_dir/tree/scripts/build-libjpeg.sh" i686 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    flunk "$name: build-libjpeg.sh went on"
  elif ! grep -Eq "$pattern" <<<"$out"; then
    flunk "$name: no '$pattern' in what it said:"
  elif compgen -G "$case_dir/build/deps/libjpeg-turbo-i686/lib/*" >/dev/null; then
    flunk "$name: it built a libjpeg all the same"
  else
    pass "$name"
    continue
  fi
  printf '%s\n' "$out" | sed 's/^/    /'
done <<<"$cases"

checks_done pin

#!/usr/bin/env bash
# Fetches one Debian source package at exactly VERSION into $BUILD_DIR/deps/src,
# unpacks it with Debian's patches applied and prints the unpacked tree.
# With DSC_SHA256 its .dsc must have that sha256 (apt checks the rest against it).
# Never another version: when the archive no longer offers this one, it stops.
# usage: fetch-source.sh PACKAGE VERSION [DSC_SHA256]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(realpath -m "${BUILD_DIR:-$root/build}")
package=$1 version=$2 want=${3:-}
src_dir=$build_dir/deps/src
dsc=$src_dir/${package}_${version#*:}.dsc
upstream=${version#*:}
tree=$src_dir/$package-${upstream%-*}
stamp=$tree/.fetched

. "$root/scripts/common.sh"

check_dsc() {
  [ -n "$want" ] || return 0
  local got
  got=$(sha256sum "$dsc" | cut -d' ' -f1)
  if [ "$got" != "$want" ]; then
    say "$dsc has sha256 $got, not the pinned $want."
    say "nothing was built from it: check where it came from, or pin the new one in scripts/source-pins.txt."
    exit 1
  fi
}

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && [ -f "$dsc" ]; then
  check_dsc
  echo "$tree"
  exit 0
fi

# Our own deb-src list and package lists: the machine's apt sources stay as they are.
apt_dir=$build_dir/deps/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts" "$src_dir"
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
for part in "$suite" "$suite-updates" "$suite-security"; do
  case $part in
    *-security) echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security $part main" ;;
    *) echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $part main" ;;
  esac
done >"$apt_dir/sources.list"
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/parts"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o APT::Sandbox::User=root
)

if [ ! -f "$dsc" ]; then
  say "fetching Debian's $package $version source package"
  if ! apt-get "${apt_opts[@]}" update -qq; then
    say "could not read Debian's source index: is the package mirror reachable?"
    exit 1
  fi
  offered=$(apt-cache "${apt_opts[@]}" showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -u | tr '\n' ' ')
  case " $offered " in
    *" $version "*) ;;
    *)
      say "Debian's archive no longer offers $package $version (it offers: ${offered:-none})."
      say "nothing was built. To build this release as it was, put that exact source package"
      say "(${package}_${version#*:}.dsc and its files, from Debian's snapshot archive) in $src_dir;"
      say "to move on, pin the offered version and its .dsc's sha256 in scripts/source-pins.txt and commit:"
      say "that is a new release, whose exe differs."
      exit 1
      ;;
  esac
  (cd "$src_dir" && apt-get "${apt_opts[@]}" source -qq --download-only "$package=$version" >/dev/null) || {
    say "apt-get source $package=$version failed (dpkg-dev installed? mirror reachable?)"
    exit 1
  }
fi
check_dsc
rm -rf "$tree"
# apt checked the files against Debian's signed index; dpkg-source has no keyring to check the .dsc again.
if ! log=$(dpkg-source -x "$dsc" "$tree" 2>&1); then
  printf '%s\n' "$log" >&2
  say "dpkg-source could not unpack $dsc"
  exit 1
fi
echo "$version" >"$stamp"
echo "$tree"

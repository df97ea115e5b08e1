#!/usr/bin/env bash
# Makes the release bundle of the committed tree:
#   dist/VELQUOR-<version>-win32.zip  (VELQUOR.exe, INSTALL.txt, SHA256SUMS)
#   dist/VELQUOR-<version>-win32.zip.sha256
# It builds a fresh clone of HEAD in a folder of its own, so the bundle holds
# exactly what the commit holds; the exe and the zip are the same bytes on
# every run, here or on any other machine set up by install-deps.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=i686

say() { printf 'release: %s\n' "$*" >&2; }

dirty=$(git -C "$root" status --porcelain --untracked-files=normal)
if [ -n "$dirty" ]; then
  say "the tree has changes that are not committed; a release is built from a commit only."
  say "commit or stash these first:"
  printf '%s\n' "$dirty" >&2
  exit 1
fi
commit=$(git -C "$root" rev-parse HEAD)
commit_time=$(git -C "$root" log -1 --format=%ct "$commit")

bash "$root/scripts/install-deps.sh"

work=$(mktemp -d /tmp/velquor-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
git clone -q --no-hardlinks "$root" "$work/src"
git -C "$work/src" checkout -q --detach "$commit"

# A fresh libjpeg too, from Debian's source package; reuse its download when there is one.
if [ -d "$root/build/deps/src" ]; then
  mkdir -p "$work/build/deps"
  cp -r "$root/build/deps/src" "$work/build/deps/src"
fi
BUILD_DIR=$work/build bash "$work/src/scripts/build-libjpeg.sh" "$arch"
cmake -S "$work/src" -B "$work/build/$arch" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw.cmake" -DVELQUOR_ARCH="$arch" \
  -DVELQUOR_DEPS="$work/build/deps" -DVELQUOR_TESTS=OFF >/dev/null
cmake --build "$work/build/$arch" --target VELQUOR -j"$(nproc)" >/dev/null
exe=$work/build/$arch/src/main/VELQUOR.exe
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/build/$arch/CMakeCache.txt")
[ -n "$version" ] || { say "no project version in the build's CMake cache"; exit 1; }
python3 "$work/src/tests/hardening/pe_check.py" "$exe" --arch "$arch" --version "$version" >/dev/null || {
  python3 "$work/src/tests/hardening/pe_check.py" "$exe" --arch "$arch" --version "$version" >&2
  say "the exe fails its PE check; no release"
  exit 1
}

stage=$work/stage
mkdir -p "$stage"
cp "$exe" "$stage/VELQUOR.exe"
# Notepad on Windows 7 needs CRLF and a byte-order mark to show UTF-8.
{
  printf '\357\273\277'
  sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$work/src/assets/INSTALL.txt"
} >"$stage/INSTALL.txt"
(cd "$stage" && sha256sum VELQUOR.exe INSTALL.txt >SHA256SUMS)

# Fixed order, times (the commit's) and modes: the same zip on every run.
name=VELQUOR-$version-win32.zip
mkdir -p "$root/dist"
python3 - "$stage" "$root/dist/$name" "$commit_time" <<'PY'
import sys, time, zipfile
stage, out, epoch = sys.argv[1], sys.argv[2], max(int(sys.argv[3]), 315532800)
stamp = time.gmtime(epoch)[:6]
with zipfile.ZipFile(out, "w") as bundle:
    for name in ("VELQUOR.exe", "INSTALL.txt", "SHA256SUMS"):
        entry = zipfile.ZipInfo(name, date_time=stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0
        entry.external_attr = 0
        with open(f"{stage}/{name}", "rb") as source:
            bundle.writestr(entry, source.read(), compresslevel=9)
PY
(cd "$root/dist" && sha256sum "$name" >"$name.sha256")

say "commit $commit, version $version"
sed 's/^/release:   /' "$stage/SHA256SUMS" >&2
say "$(cat "$root/dist/$name.sha256")"
echo "$root/dist/$name"

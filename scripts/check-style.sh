#!/usr/bin/env bash
# Fails when a tracked C or C++ file is not formatted by .clang-format, or a
# shell script draws a shellcheck warning.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

status=0
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.c' '*.cpp' '*.h')
if [ "${#sources[@]}" -gt 0 ] && ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "style: run clang-format -i on the files above" >&2
  status=1
fi

mapfile -t scripts < <(git ls-files -co --exclude-standard -- '*.sh' scripts/wine-run .ci/run)
if ! shellcheck -S warning "${scripts[@]}"; then
  echo "style: shellcheck warns about the scripts above" >&2
  status=1
fi
[ $status -ne 0 ] || echo "style: ${#sources[@]} C/C++ files formatted, ${#scripts[@]} shell scripts clean"
exit $status

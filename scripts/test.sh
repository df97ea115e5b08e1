#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test
# under Wine on a virtual display (or on $DISPLAY when it opens).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
wine_env_init
arch=$(runnable_arch)

wine_session_start

status=0
if [ "$arch" != i686 ]; then
  # The shipped build's checks that need no Wine still run against it.
  ctest --test-dir "$build_dir/i686" -L static --output-on-failure --no-tests=ignore || status=1
  echo "test: this machine runs no 32-bit code; the Wine tests run the x86_64 build"
fi
ctest --test-dir "$build_dir/$arch" --output-on-failure -j1 "$@" || status=1
exit $status

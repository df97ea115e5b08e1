#!/usr/bin/env bash
# Runs an e2e driver with Wine showing programs DPI dots per inch: at 96 in
# the test prefix on the current display; at any other DPI in a prefix of its
# own (so every other test keeps seeing 96 dpi), with its own wineserver and
# a virtual display large enough for the scaled window.
# Usage: run-at-dpi.sh DPI RUN_DRIVER WINE_RUN DRIVER.exe [gtest arguments...]
set -uo pipefail
dpi=$1 run_driver=$2
shift 2
export VELQUOR_E2E_DPI=$dpi
if [ "$dpi" = 96 ]; then
  exec bash "$run_driver" "$@"
fi
export VELQUOR_DPI=$dpi XVFB_SCREEN=1920x1440x24
unset DISPLAY
. "$(dirname "$0")/../../scripts/wine-env.sh"
wine_session_start || exit 1
bash "$run_driver" "$@"

#!/usr/bin/env bash
# Runs an e2e driver in a bed (base, office or high-contrast) at a DPI. The
# bed and DPI of the calling session (the test prefix, normally the base bed
# at 96 dpi) run on its display and wineserver; any other gets a prefix of its
# own (so every other test keeps seeing the base bed), its own wineserver and
# a virtual display large enough for the scaled window. The driver learns its
# bed and DPI from VELQUOR_E2E_BED and VELQUOR_E2E_DPI.
# Usage: run-in-bed.sh BED DPI RUN_DRIVER WINE_RUN DRIVER.exe [gtest arguments...]
set -uo pipefail
bed=$1 dpi=$2 run_driver=$3
shift 3
export VELQUOR_E2E_BED=$bed VELQUOR_E2E_DPI=$dpi
if [ "$bed" = "${VELQUOR_BED:-base}" ] && [ "$dpi" = "${VELQUOR_DPI:-96}" ]; then
  exec bash "$run_driver" "$@"
fi
export VELQUOR_BED=$bed VELQUOR_DPI=$dpi XVFB_SCREEN=1920x1440x24
unset DISPLAY
. "$(dirname "$0")/../../scripts/wine-env.sh"
wine_env_init || exit 1
wine_session_start || exit 1
bash "$run_driver" "$@"

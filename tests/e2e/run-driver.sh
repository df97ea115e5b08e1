#!/usr/bin/env bash
# Runs the e2e driver through wine-run and judges it by the report it writes
# itself: under Wine, `wine` has been seen to return (status 0) while the
# driver still ran, which would pass a test that never finished and let the
# next one start beside it.
# Usage: run-driver.sh WINE_RUN DRIVER.exe [gtest arguments...]
set -uo pipefail
wine_run=$1 driver=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
report="$work/report.xml"
"$wine_run" "$driver" "$@" "--gtest_output=xml:Z:${report//\//\\}" >"$work/out" 2>&1
status=$?
for _ in $(seq 1 1500); do  # the driver's own cases are bounded well under this
  grep -q '</testsuites>' "$report" 2>/dev/null && break
  sleep 0.1
done
sleep 0.5  # the summary follows the report
cat "$work/out"
if ! grep -q '</testsuites>' "$report" 2>/dev/null; then
  echo "run-driver: the driver wrote no report (wine's status was $status)" >&2
  exit 1
fi
summary=$(grep -m1 '<testsuites ' "$report")
if [[ $summary =~ failures=\"0\" ]] && [[ $summary =~ errors=\"0\" ]] && ! [[ $summary =~ tests=\"0\" ]]; then
  exit 0
fi
exit 1

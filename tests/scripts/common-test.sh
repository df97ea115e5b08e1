#!/usr/bin/env bash
# scripts/common.sh as the scripts use it: failing, cleanups at exit, configuring from a
# preset; and the two libraries defining nothing but functions when sourced.
# usage: common-test.sh WORK_DIR
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$1
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"

# Runs BODY as a script of its own (named probe.sh) with the library sourced, and
# compares its exit status and its output (stdout and stderr, lines joined by |).
exits() {
  local name=$1 status=$2 output=$3 body=$4 got_status=0 got
  printf 'set -euo pipefail\n. %q\n%s\n' "$scripts/common.sh" "$body" >"$work/probe.sh"
  got=$(bash "$work/probe.sh" 2>&1) || got_status=$?
  got=$(paste -sd '|' <<<"$got")
  if [ "$got_status" = "$status" ] && [ "$got" = "$output" ]; then
    pass "$name"
  else
    flunk "$name: exit $got_status, output '$got'; wanted exit $status, output '$output'"
  fi
}

exit_cases() {
  # name | exit status | output | script
  exits "cleanups run last added first, with their arguments as given" 3 "<a  b>|<c>|first" \
    "on_exit echo first; on_exit printf '<%s>\n' 'a  b' c; exit 3"
  exits "a failing cleanup does not stop the others or change the status" 0 "kept" \
    "on_exit echo kept; on_exit false; exit 0"
  exits "a command failing under set -e is cleaned up after" 1 "cleaned" \
    "on_exit echo cleaned; false; echo not reached"
  exits "fail says why, named for the script, and exits 1" 1 "probe: no product|cleaned" \
    "on_exit echo cleaned; fail 'no product'"
  exits "fail exits with the script's own status" 2 "probe: cannot check" "fail_status=2; fail 'cannot check'"
  exits "a status of 0 does not make a failure a success" 1 "probe: broken" "fail_status=0; fail broken"
  exits "a cleanup added inside a function still runs at exit" 0 "gone" \
    "start() { on_exit echo gone; }; start"
}

# Sourcing a library may define functions, nothing else.
variables_after() {
  bash -c '[ -z "$1" ] || . "$1" >/dev/null; compgen -v | grep -vx "BASH_ARGC\|BASH_ARGV\|BASH_LINENO\|BASH_SOURCE\|_"' \
    _ "$1" | sort
}
sets_nothing() {
  local library=$1 before after
  before=$(variables_after '')
  after=$(variables_after "$library")
  if [ "$before" = "$after" ]; then
    pass "sourcing $(basename "$library") sets no variable"
  else
    flunk "sourcing $(basename "$library") sets: $(comm -13 <(echo "$before") <(echo "$after") | paste -sd ' ')"
  fi
}

# A project of its own for the presets: no compiler, a second's configure.
make_project() {
  local tree=$1
  mkdir -p "$tree"
  printf 'cmake_minimum_required(VERSION 3.25)\nproject(probe NONE)\n' >"$tree/CMakeLists.txt"
  cat >"$tree/CMakePresets.json" <<'EOF'
{ "version": 5, "configurePresets": [ { "name": "probe", "generator": "Unix Makefiles",
  "cacheVariables": { "PROBE_FROM_PRESET": "yes" } } ] }
EOF
}

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

preset_cases() {
  local build=$work/build
  make_project "$work/tree-a"
  make_project "$work/tree-b"
  configure_preset "$work/tree-a" probe "$build" "$work/deps" --no-warn-unused-cli -DPROBE_MARK=first
  if [ "$(cache_value "$build" PROBE_FROM_PRESET)" = yes ] && [ "$(cache_value "$build" PROBE_MARK)" = first ] &&
    [ "$(cache_value "$build" VELQUOR_DEPS)" = "$work/deps" ]; then
    pass "configure_preset: an empty folder is configured from the preset, deps and arguments"
  else
    flunk "configure_preset: the cache lacks the preset's, the deps' or the argument's values"
  fi
  configure_preset "$work/tree-a" probe "$build" "$work/deps" --no-warn-unused-cli -DPROBE_MARK=second
  if [ "$(cache_value "$build" PROBE_MARK)" = first ]; then
    pass "configure_preset: a folder configured from the same tree is left to cmake --build"
  else
    flunk "configure_preset: a folder configured from the same tree was configured again"
  fi
  configure_preset "$work/tree-b" probe "$build" "$work/deps" --no-warn-unused-cli
  if [ "$(cache_value "$build" CMAKE_HOME_DIRECTORY)" = "$work/tree-b" ] && [ -z "$(cache_value "$build" PROBE_MARK)" ]; then
    pass "configure_preset: a folder configured from another tree is configured afresh"
  else
    flunk "configure_preset: the folder still holds the other tree's configuration"
  fi
}

exit_cases
sets_nothing "$scripts/common.sh"
sets_nothing "$scripts/wine-env.sh"
# shellcheck source=../../scripts/common.sh
. "$scripts/common.sh"
preset_cases

checks_done "scripts' library"

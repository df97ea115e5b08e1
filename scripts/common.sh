# shellcheck shell=bash
# What the project's scripts share: messages, cleanups at exit, configuring a build
# from a preset. Sourcing it only defines functions.

# A message on stderr, named for the script that says it.
say() { printf '%s: %s\n' "$(basename "$0" .sh)" "$*" >&2; }

# Says why and exits: with status 1, or with the script's own $fail_status (1 to 99).
fail() {
  say "$*"
  [[ ${fail_status:-} =~ ^[1-9][0-9]?$ ]] || exit 1
  exit "$fail_status"
}

# Runs COMMAND [ARGUMENTS...] when the script exits, however it exits; cleanups run
# last added first, each whatever the others did, and the script's status stays its own.
on_exit() {
  [ "$#" -gt 0 ] || return 0
  exit_command_lengths+=("$#")
  exit_command_words+=("$@")
  trap run_exit_commands EXIT
}

run_exit_commands() {
  local status=$? end=${#exit_command_words[@]} i length
  for ((i = ${#exit_command_lengths[@]} - 1; i >= 0; i--)); do
    length=${exit_command_lengths[i]}
    end=$((end - length))
    "${exit_command_words[@]:end:length}" || true
  done
  return "$status"
}

# Configures BUILD_DIR from PRESET (CMakePresets.json) of SOURCE_DIR, with libjpeg from
# DEPS_DIR and any further cmake arguments, unless it is configured from SOURCE_DIR already
# (cmake --build configures it again when its files change). A folder configured from
# another source tree is configured afresh.
configure_preset() {
  local source=$1 preset=$2 build=$3 deps=$4
  shift 4
  local cache=$build/CMakeCache.txt
  grep -qsxF "CMAKE_HOME_DIRECTORY:INTERNAL=$source" "$cache" || rm -rf "$cache" "$build/CMakeFiles"
  [ -f "$cache" ] || cmake -S "$source" --preset "$preset" -B "$build" -DVELQUOR_DEPS="$deps" "$@" >/dev/null
}

# shellcheck shell=bash
# The shell tests' checks: each prints "ok:" or "FAIL:" with its name, and
# checks_done ends the test, failing when any check failed. A library:
# sourcing it sets nothing; the first failure starts the count.

pass() { printf 'ok:   %s\n' "$1"; }

flunk() {
  printf 'FAIL: %s\n' "$1"
  check_failures=$((${check_failures:-0} + 1))
}

# NAME COMMAND...: passes when COMMAND succeeds.
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else flunk "$name"; fi
}

# NAME PATTERN COMMAND...: passes when COMMAND fails and says something matching PATTERN.
refuses() {
  local name=$1 pattern=$2 out status=0
  shift 2
  out=$("$@" 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    flunk "$name: it succeeded"
  elif ! grep -Eq "$pattern" <<<"$out"; then
    flunk "$name: exit $status, and no message matching '$pattern' in:"
    printf '%s\n' "$out" | sed 's/^/    /'
  else
    pass "$name"
  fi
}

any_failed() { [ "${check_failures:-0}" -ne 0 ]; }

# WHAT: the test's last word.
checks_done() {
  if any_failed; then
    echo "$check_failures $1 check(s) failed"
    exit 1
  fi
  echo "all $1 checks passed"
}

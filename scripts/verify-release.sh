#!/usr/bin/env bash
# Checks a signed release against the checked-out tree: builds the tree's
# release cleanly with release.sh, puts the file's own signature on that
# build, and compares byte for byte. Then checks the signature itself.
# Exits 0 only when the file is exactly this tree's build plus a valid
# Authenticode signature.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
# 1 is the verdict "not this tree's signed build"; 2, that it could not be checked.
fail_status=2

usage() {
  cat <<'EOF'
usage: verify-release.sh [--ca FILE] [--reference ZIP | --save-reference DIR] FILE
  FILE             VELQUOR.exe or a release zip (VELQUOR-<version>-win32.zip)
  --ca FILE        trust these root certificates (PEM) for the signature and its
                   timestamp, instead of the machine's (/etc/ssl/certs)
  --reference ZIP  compare with this unsigned release of the tree, made by
                   release.sh, instead of building one now
  --save-reference DIR
                   keep the unsigned release it builds in DIR, for --reference
Exit status: 0 when FILE is this tree's build plus a valid Authenticode
signature, 1 when it differs or its signature is not valid, 2 when it could
not be checked.
EOF
}

ca=''
reference=''
save_reference=''
file=''

parse_options() {
  while [ "$#" -gt 0 ]; do
    case $1 in
      --ca) [ "$#" -ge 2 ] || fail "--ca needs a file" && ca=$2 && shift 2 ;;
      --reference) [ "$#" -ge 2 ] || fail "--reference needs a zip" && reference=$2 && shift 2 ;;
      --save-reference) [ "$#" -ge 2 ] || fail "--save-reference needs a folder" && save_reference=$2 && shift 2 ;;
      -h | --help) usage && exit 0 ;;
      -*) usage >&2 && fail "unknown option: $1" ;;
      *)
        [ -z "$file" ] || fail "one FILE at a time"
        file=$1
        shift
        ;;
    esac
  done
  [ -n "$file" ] || { usage >&2 && fail "no FILE to verify"; }
  [ -f "$file" ] || fail "$file: no such file"
  [ -z "$ca" ] || [ -f "$ca" ] || fail "--ca $ca: no such file"
  [ -z "$reference" ] || [ -f "$reference" ] || fail "--reference $reference: no such file"
  [ -z "$reference" ] || [ -z "$save_reference" ] || fail "--reference and --save-reference exclude each other"
}

# Zip entries, PE sections and their differences (scripts/pe_tools.py).
helper() { /usr/bin/python3 "$root/scripts/pe_tools.py" "$@"; }

is_zip() { [ "$(head -c 2 "$1")" = PK ]; }

# Before any bytes are compared: each package the release was built with whose
# version differs here, as "package: release version -> this machine's".
# Prints those lines to stdout too, for the verdict.
package_versions() {
  local file=$1 record=$2/BUILDINFO.txt lines
  if ! is_zip "$file"; then
    say "$file is an exe alone: no build record to compare this machine's package versions with"
    return 0
  fi
  if [ ! -f "$record" ]; then
    say "$file holds no BUILDINFO.txt: this machine's package versions cannot be compared with the release's"
    return 0
  fi
  lines=$(/usr/bin/python3 "$root/scripts/release_record.py" compare-buildinfo "$record") || return 1
  if [ -z "$lines" ]; then
    say "this machine has the package versions the release was built with ($(sed -n 's/^Build-Origin: //p' "$record" | tr -d '\r'))"
    return 0
  fi
  say "packages whose version here differs from the release's build (release -> this machine):"
  sed 's/^/verify-release:   /' <<<"$lines" >&2
  echo "$lines"
}

# The unsigned release of this tree: release.sh's own clean build.
reference_zip() {
  if [ -n "$reference" ]; then
    echo "$reference"
    return
  fi
  local out=${save_reference:-$work/reference}
  say "building this tree's release with release.sh to compare with"
  bash "$root/scripts/release.sh" --out "$out" >/dev/null || fail "release.sh could not build this tree"
  compgen -G "$out/VELQUOR-*-win32.zip" | head -n 1
}

# Prints the verdict on osslsigncode's report; fails when the signature is not valid.
signature_report() {
  local exe=$1 report
  local trust=()
  [ -z "$ca" ] || trust=(-CAfile "$ca" -TSA-CAfile "$ca")
  if report=$(osslsigncode verify "${trust[@]}" -in "$exe" 2>&1 </dev/null); then
    helper signature-report <<<"$report"
  else
    echo "  signature: not valid. osslsigncode says:"
    grep -E 'MISMATCH|[Ee]rror|[Ff]ailed|No signature|Unrecognized' <<<"$report" | sort -u | sed 's/^[[:space:]]*/    /' | head -n 12
    return 1
  fi
}

main() {
  parse_options "$@"
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/install-deps.sh installs it)"
  work=$(mktemp -d /tmp/velquor-verify.XXXXXX)
  on_exit rm -rf "$work"
  local given_exe=$file
  if is_zip "$file"; then
    mkdir "$work/given"
    helper extract "$file" "$work/given" >/dev/null || fail "$file: not a readable zip"
    given_exe=$work/given/VELQUOR.exe
    [ -f "$given_exe" ] || fail "$file: holds no VELQUOR.exe"
  fi

  local versions=''
  versions=$(package_versions "$file" "$work/given") || fail "the release's build record cannot be read"

  local ref
  ref=$(reference_zip)
  mkdir "$work/ref"
  helper extract "$ref" "$work/ref" >/dev/null

  # The build with the file's own signature on it is what the file must be.
  local expected=$work/expected.exe verdict=0 differences=''
  if ! osslsigncode extract-signature -in "$given_exe" -out "$work/sig" >/dev/null 2>&1; then
    differences+="  VELQUOR.exe carries no Authenticode signature"$'\n'
    cp "$work/ref/VELQUOR.exe" "$expected"
  elif ! osslsigncode attach-signature -sigin "$work/sig" -in "$work/ref/VELQUOR.exe" -out "$expected" >/dev/null 2>&1 &&
    [ ! -s "$expected" ]; then
    fail "osslsigncode could not put the file's signature on the build"
  fi
  cmp -s "$given_exe" "$expected" || differences+=$(helper pe-differences "$given_exe" "$expected")$'\n'
  if is_zip "$file"; then
    helper expected-zip "$ref" "$expected" "$work/expected.zip"
    cmp -s "$file" "$work/expected.zip" || differences+=$(helper zip-differences "$file" "$work/expected.zip")$'\n'
  fi

  local signature
  signature=$(signature_report "$given_exe") || verdict=1
  if [ -z "$differences" ] && [ "$verdict" = 0 ]; then
    echo "$file: identical to this tree's build apart from its signature"
    echo "$signature"
    return 0
  fi
  if [ -z "$differences" ]; then
    echo "$file: identical to this tree's build apart from its signature, which is not valid"
  else
    echo "$file: differs from this tree's build:"
    printf '%s' "$differences"
    [ -z "$versions" ] || echo "  likely reason: this machine builds with other package versions than the release (above)"
  fi
  echo "$signature"
  return 1
}

main "$@"

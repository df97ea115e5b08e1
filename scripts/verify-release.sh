#!/usr/bin/env bash
# Checks a signed release against the checked-out tree: builds the tree's
# release cleanly with release.sh, puts the file's own signature on that
# build, and compares byte for byte. Then checks the signature itself.
# Exits 0 only when the file is exactly this tree's build plus a valid
# Authenticode signature.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

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

say() { printf 'verify-release: %s\n' "$*" >&2; }
fail() {
  say "$*"
  exit 2
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

# Zip entries, PE sections and their differences, with the standard library.
helper() {
  python3 - "$@" <<'PY'
import hashlib, struct, sys, zipfile

def extract(zip_path, out_dir):
    with zipfile.ZipFile(zip_path) as bundle:
        try:
            bad = bundle.testzip()
        except Exception as error:
            sys.exit(f"the zip cannot be read: {error}")
        if bad:
            sys.exit(f"{bad}: its stored checksum does not match its content")
        bundle.extractall(out_dir)
        print("\n".join(bundle.namelist()))

def expected_zip(reference, exe, out, scripts):
    """The reference release with its exe replaced by EXE: entries, order,
    times and compression kept, so the bytes are what release.sh writes.
    The bill of materials carries the exe's hashes, so it follows the exe."""
    sys.path.insert(0, scripts)
    import release_record

    exe_bytes = open(exe, "rb").read()
    digests = {}
    with zipfile.ZipFile(reference) as source, zipfile.ZipFile(out, "w") as bundle:
        for entry in source.infolist():
            data = source.read(entry)
            if entry.filename == "VELQUOR.exe":
                data = exe_bytes
            elif entry.filename == "VELQUOR.cdx.json":
                data = release_record.bom_for_exe(data, exe_bytes)
            elif entry.filename == "SHA256SUMS":
                lines = [digests[line[66:]] + "  " + line[66:] if line[66:] in digests else line
                         for line in data.decode().splitlines()]
                data = ("\n".join(lines) + "\n").encode()
            digests[entry.filename] = hashlib.sha256(data).hexdigest()
            bundle.writestr(entry, data, compresslevel=9)

def zip_differences(given, expected):
    with zipfile.ZipFile(given) as a, zipfile.ZipFile(expected) as b:
        names_a, names_b = a.namelist(), b.namelist()
        if names_a != names_b:
            print(f"  the zip holds {names_a}; the build's holds {names_b}")
        for name in [n for n in names_a if n in names_b]:
            ia, ib = a.getinfo(name), b.getinfo(name)
            fields = ("date_time", "compress_type", "external_attr", "create_system", "comment", "extra")
            changed = [f for f in fields if getattr(ia, f) != getattr(ib, f)]
            if changed:
                print(f"  {name}: its zip entry differs in {', '.join(changed)}")
            if a.read(name) != b.read(name):
                print(f"  {name}: its content differs")
        if a.comment != b.comment:
            print("  the zip's comment differs")
    print("  (the zip's bytes differ from the build's)")

def sections(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count = struct.unpack_from("<H", image, pe + 6)[0]
    optional = struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional
    spans = [("headers", 0, struct.unpack_from("<I", image, table + 20)[0] if count else len(image))]
    for i in range(count):
        raw = image[table + 40 * i : table + 40 * i + 40]
        name = raw[:8].rstrip(b"\0").decode(errors="replace")
        size, offset = struct.unpack_from("<II", raw, 16)
        spans.append((name, offset, offset + size))
    return spans, pe + 24 + 64

def where(spans, checksum_at, offset):
    if checksum_at <= offset < checksum_at + 4:
        return "the PE checksum field, which does not match the rest of the file"
    for name, start, end in spans:
        if start <= offset < end:
            return name
    return "past the sections (the signature's table)"

def pe_differences(given, expected):
    a, b = open(given, "rb").read(), open(expected, "rb").read()
    if len(a) != len(b):
        print(f"  VELQUOR.exe is {len(a)} bytes; the build's is {len(b)}")
    try:
        spans, checksum_at = sections(b)
    except struct.error:
        spans, checksum_at = [], -1
    offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
    places = {}
    for offset in offsets:
        places.setdefault(where(spans, checksum_at, offset), []).append(offset)
    for place, found in places.items():
        shown = ", ".join(f"0x{o:x} ({a[o]:#04x} here, {b[o]:#04x} in the build)" for o in found[:4])
        more = f" and {len(found) - 4} more" if len(found) > 4 else ""
        print(f"  VELQUOR.exe: {len(found)} byte(s) differ in {place}: {shown}{more}")

mode, *args = sys.argv[1:]
{"extract": extract, "expected-zip": expected_zip, "zip-differences": zip_differences,
 "pe-differences": pe_differences}[mode](*args)
PY
}

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
    awk '
      function value() { v = substr($0, index($0, ":") + 1); sub(/^ +/, "", v); sub(/ +$/, "", v); return v }
      /^Signer.s certificate:/ { in_signer = 1 }
      in_signer && /Subject:/ && !signer { signer = value() }
      in_signer && /Issuer :/ && !issuer { issuer = value() }
      /^Message digest algorithm  *:/ && !digest { digest = value() }
      /^Current message digest/ { current = value() }
      /^Calculated message digest/ { if (value() != current) bad = 1 }
      # osslsigncode 2.9 says "Timestamp time:", the 2.5 of Debian 12 "The signature is timestamped:".
      (/Timestamp time:/ || /^The signature is timestamped:/) && !stamp { stamp = value() }
      /^Timestamp Server Signature verification:/ && value() != "ok" { bad = 1 }
      END {
        printf "  signer:    %s (issued by %s)\n", signer, issuer
        printf "  digest:    %s\n", digest
        if (stamp) printf "  timestamp: %s\n", stamp
        else print "  timestamp: none (valid only while the certificate is)"
        exit bad
      }' <<<"$report"
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
  trap 'rm -rf "$work"' EXIT
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
    helper expected-zip "$ref" "$expected" "$work/expected.zip" "$root/scripts"
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

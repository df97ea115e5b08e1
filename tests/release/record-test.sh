#!/usr/bin/env bash
# The release's papers, made from the shipped exe's link map: the notices (the
# upstream texts verbatim, exactly the parts the link holds), the bill of
# materials (sound, and each kind of fault refused) and the build record
# (versions that differ named, by release_record.py and by verify-release.sh).
# usage: record-test.sh SOURCE_ROOT EXE MAP FIXTURE_EXE FIXTURE_MAP WORK_DIR DEPS_DIR ARCH
set -euo pipefail
root=$1 exe=$2 map=$3 fixture_exe=$4 fixture_map=$5 work=$6 deps=$7 arch=$8
record=(/usr/bin/python3 "$root/scripts/release_record.py")
rm -rf "$work"
mkdir -p "$work"

# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"

read -r _ jpeg_version jpeg_dsc_sha256 < <(grep -E '^libjpeg-turbo[[:space:]]' "$root/scripts/source-pins.txt")
jpeg_upstream=${jpeg_version#*:}
jpeg_tree=$deps/src/libjpeg-turbo-${jpeg_upstream%-*}
mingw_version=$(dpkg-query -W -f='${source:Version}' "mingw-w64-$arch-dev")
mingw_tree=$deps/src/mingw-w64-${mingw_version%-*}
exe_dir=$(dirname "$exe")
fixture_dir=$(dirname "$fixture_exe")
commit=0123456789abcdef0123456789abcdef01234567
epoch=1767225600

notices() { # MAP BUILD_DIR OUT
  "${record[@]}" notices "$1" --build-dir "$2" --arch "$arch" --mingw-source "$mingw_tree" \
    --libjpeg-source "$jpeg_tree" --out "$3"
}
# The text as a reader sees it: no byte-order mark, LF line ends.
plain() { sed -e '1s/^\xef\xbb\xbf//' -e 's/\r$//' "$1"; }
holds_verbatim() { # NOTICES FILE
  /usr/bin/python3 -c 'import sys; sys.exit(open(sys.argv[2]).read() not in open(sys.argv[1]).read())' \
    <(plain "$1") "$2"
}
crlf_only() { ! grep -q $'[^\r]$' "$1" && ! grep -q $'^$' "$1"; }
parts_of_link() { "${record[@]}" check-link "$1" --build-dir "$2" | sed 's/: .*//' | sort; }
# The Debian packages of the archives and objects a link map names, found here
# without release_record.py: the map's own lines, realpath and dpkg -S.
packages_of_link() {
  awk '/^Archive member included/ { inside = 1; next }
    /^(Discarded input sections|Allocating common symbols|Memory Configuration)/ { inside = 0 }
    inside && /^\// { sub(/\(.*/, ""); print }
    /^LOAD \/.*\.o$/ { print $2 }' "$1" | sort -u | xargs -r realpath | grep -v '/libjpeg-turbo-' |
    xargs -r dpkg -S | cut -d: -f1 | sort -u
}
packages_of_notices() {
  plain "$1" | sed -n 's/^Debian binary packages: //p' | grep -v '^none' | tr ',' '\n' | sed 's/^ *//' | sort -u
}
parts_of_notices() { plain "$1" | grep -A1 '^=\{78\}$' | sed -n 's/ (Debian source package .*//p' | sort; }

notices_checks() {
  notices "$map" "$exe_dir" "$work/notices.txt"
  check "notices: written with CRLF line ends, as INSTALL.txt" crlf_only "$work/notices.txt"
  check "notices: the IJG sentence" \
    grep -q "this software is based in part on the work of the Independent JPEG Group" <(plain "$work/notices.txt")
  local file
  for file in "$jpeg_tree/LICENSE.md" "$mingw_tree/COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt" \
    "$mingw_tree/mingw-w64-libraries/winpthreads/COPYING"; do
    check "notices: ${file#"$deps/src/"} verbatim" holds_verbatim "$work/notices.txt" "$file"
  done
  check "notices: README.ijg's legal section" grep -q '^(2) If only executable code is distributed, then the accompanying$' \
    <(plain "$work/notices.txt")
  check "notices: mingw_pformat.c's own Lucent notice, which the runtime's licence file does not hold" \
    grep -q '^ \* Copyright (C) 1997, 1999, 2001 Lucent Technologies$' <(plain "$work/notices.txt")
  check "notices: the Intel notice of winpthreads' mutex.c, which winpthreads' COPYING does not hold" \
    grep -q '^   Copyright (c) 2015 Intel Corporation$' <(plain "$work/notices.txt")

  # A linked object whose source file, and so its notice, is not found stops the notices.
  cp -rs "$mingw_tree" "$work/mingw-without-pformat"
  rm "$work/mingw-without-pformat/mingw-w64-crt/Makefile.am"
  sed 's| stdio/mingw_pformat.c | |' "$mingw_tree/mingw-w64-crt/Makefile.am" \
    >"$work/mingw-without-pformat/mingw-w64-crt/Makefile.am"
  refuses "notices: refused when a linked runtime object's source is not found" \
    "no notice, found for: libmingwex.a\(lib32_libmingwex_a-mingw_pformat.o\)" \
    "${record[@]}" notices "$map" --build-dir "$exe_dir" --arch "$arch" --mingw-source "$work/mingw-without-pformat" \
    --libjpeg-source "$jpeg_tree" --out "$work/notices-without-pformat.txt"

  # The notice list set against the link map: the same parts, no more, no fewer.
  parts_of_link "$map" "$exe_dir" >"$work/linked-parts"
  parts_of_notices "$work/notices.txt" >"$work/noticed-parts"
  echo "parts in the shipped exe's link map: $(paste -sd, "$work/linked-parts")"
  echo "parts the notices name:              $(paste -sd, "$work/noticed-parts")"
  check "notices: the shipped exe's notices name exactly the parts its link map holds" \
    cmp -s "$work/linked-parts" "$work/noticed-parts"
  packages_of_link "$map" >"$work/linked-packages"
  packages_of_notices "$work/notices.txt" >"$work/noticed-packages"
  echo "Debian packages of the link map's archives: $(paste -sd' ' "$work/linked-packages")"
  echo "Debian packages the notices name:           $(paste -sd' ' "$work/noticed-packages")"
  check "notices: ... and exactly the Debian packages that contribute objects" \
    cmp -s "$work/linked-packages" "$work/noticed-packages"

  notices "$fixture_map" "$fixture_dir" "$work/fixture-notices.txt"
  parts_of_link "$fixture_map" "$fixture_dir" >"$work/fixture-linked-parts"
  parts_of_notices "$work/fixture-notices.txt" >"$work/fixture-noticed-parts"
  check "notices: a program linking zlib alone gets the notices of its own link" \
    cmp -s "$work/fixture-linked-parts" "$work/fixture-noticed-parts"
  check "notices: ... and no libjpeg-turbo nor winpthreads notice" \
    bash -c '! grep -Eq "libjpeg-turbo|winpthreads|Independent JPEG" "$1"' _ "$work/fixture-notices.txt"
}

bom() { # EXE OUT
  "${record[@]}" bom "$map" --build-dir "$exe_dir" --exe "$1" --version 1.0.0.0 --commit "$commit" --time "$epoch" \
    --out "$2"
}
# A copy of the good BOM with one fault: NAME | what check-bom must say | Python statement on `bom`
bom_faults="
unknown licence id|licence id Zlibb is not on the SPDX list|bom['components'][0]['licenses'][0]['expression'] = 'IJG AND Zlibb'
licence that does not parse|not a valid SPDX expression|bom['components'][0]['licenses'][0]['expression'] = 'IJG AND'
component without a version|component zlib has no version|del bom['components'][1]['version']
component without a supplier|has no supplier|del bom['components'][1]['supplier']
purl of no Debian source package|is not a Debian source package's|bom['components'][1]['purl'] = 'pkg:generic/zlib@1.2.13'
hashes of another exe|hashes are not the exe's|bom['metadata']['component']['hashes'][0]['content'] = '0' * 64
dependency on no component|dependency on libpng, which no component is|bom['dependencies'][0]['dependsOn'].append('libpng')"

bom_checks() {
  bom "$exe" "$work/bom.json"
  bom "$exe" "$work/bom-again.json"
  check "BOM: the same bytes from a second run" cmp -s "$work/bom.json" "$work/bom-again.json"
  check "BOM: sound, and its hashes are the exe's" "${record[@]}" check-bom "$work/bom.json" --exe "$exe"
  check "BOM: the commit's time, not the clock's" grep -q '"timestamp": "2026-01-01T00:00:00Z"' "$work/bom.json"
  check "BOM: Debian source packages as PURLs" \
    grep -q '"purl": "pkg:deb/debian/libjpeg-turbo@1%3A2.1.5-2?arch=source"' "$work/bom.json"
  check "BOM: the dependency graph from the link (libstdc++ needs winpthreads)" /usr/bin/python3 -c '
import json, sys
graph = {d["ref"]: d["dependsOn"] for d in json.load(open(sys.argv[1]))["dependencies"]}
sys.exit(not ("winpthreads" in graph["gcc-runtime"] and "libjpeg-turbo" in graph["VELQUOR.exe"]))' "$work/bom.json"

  # The same build signed: its BOM carries the signed exe's hashes.
  cp "$exe" "$work/signed.exe"
  printf 'signature' >>"$work/signed.exe"
  "${record[@]}" bom-for-exe "$work/bom.json" "$work/signed.exe" >"$work/bom-signed.json"
  check "BOM: another exe of the same build gets its own hashes" \
    "${record[@]}" check-bom "$work/bom-signed.json" --exe "$work/signed.exe"
  refuses "BOM: ... which the unsigned exe's BOM does not match" "hashes are not the exe's" \
    "${record[@]}" check-bom "$work/bom.json" --exe "$work/signed.exe"

  local name pattern statement
  while IFS='|' read -r name pattern statement; do
    [ -n "$name" ] || continue
    /usr/bin/python3 -c "
import json, sys
bom = json.load(open(sys.argv[1]))
$statement
json.dump(bom, open(sys.argv[2], 'w'))" "$work/bom.json" "$work/broken.json"
    refuses "BOM refused: $name" "$pattern" "${record[@]}" check-bom "$work/broken.json" --exe "$exe"
  done <<<"$bom_faults"
}

# The validation against pinned schema files, offline, on a small schema of two files.
schema_checks() {
  local fixture=$root/tests/release/fixtures/schema cases=$work/schema
  check "schema: the BOM validates against pinned files that refer to each other" \
    "${record[@]}" check-bom "$work/bom.json" --schema-dir "$fixture"
  /usr/bin/python3 -c '
import json, sys
bom = json.load(open(sys.argv[1]))
bom["specVersion"] = "1.5"
del bom["components"][0]["version"]
json.dump(bom, open(sys.argv[2], "w"))' "$work/bom.json" "$work/bom-1.5.json"
  refuses "schema: a BOM the schema does not allow is refused" "schema: /specVersion: '1.6' was expected" \
    "${record[@]}" check-bom "$work/bom-1.5.json" --schema-dir "$fixture"
  refuses "schema: ... through a \$ref into the other file" "schema: /components/0: 'version' is a required property" \
    "${record[@]}" check-bom "$work/bom-1.5.json" --schema-dir "$fixture"

  mkdir -p "$cases/changed" "$cases/elsewhere"
  cp "$fixture"/* "$cases/changed/"
  sed -i 's/"1.6"/"1.7"/' "$cases/changed/mini-bom.schema.json"
  refuses "schema: a schema file that is not the pinned one is refused before it validates" \
    "mini-bom.schema.json: its sha256 is not the one" "${record[@]}" check-bom "$work/bom.json" --schema-dir "$cases/changed"
  cp "$fixture"/* "$cases/elsewhere/"
  sed -i 's|"mini-component.schema.json#|"http://velquor.test/other/component.schema.json#|' \
    "$cases/elsewhere/mini-bom.schema.json"
  sed -i "s/^\(mini-bom.schema.json .* \)[0-9a-f]\{64\}$/\1$(sha256sum "$cases/elsewhere/mini-bom.schema.json" | cut -d' ' -f1)/" \
    "$cases/elsewhere/SCHEMAS"
  refuses "schema: a reference to a file not pinned is refused, not fetched" "no pinned file is: nothing is fetched" \
    "${record[@]}" check-bom "$work/bom.json" --schema-dir "$cases/elsewhere"

  # The official CycloneDX 1.6 schema, where the tree pins it.
  local official=$root/tests/release/cyclonedx-1.6
  if [ -f "$official/SCHEMAS" ]; then
    check "schema: the BOM is valid CycloneDX 1.6 (the official schema, pinned)" \
      "${record[@]}" check-bom "$work/bom.json" --exe "$exe" --schema-dir "$official"
  else
    echo "NOTE: $official holds no pinned CycloneDX 1.6 schema: the BOM was not validated against it"
  fi
}

buildinfo_checks() {
  "${record[@]}" buildinfo "$map" --build-dir "$exe_dir" --arch "$arch" --exe "$exe" --version 1.0.0.0 \
    --commit "$commit" --time "$epoch" --libjpeg-dsc "$deps/src/libjpeg-turbo_${jpeg_upstream}.dsc" \
    --out "$work/BUILDINFO.txt"
  local field
  for field in "^Commit: $commit" '^Build-Origin: debian [0-9]' "^Libjpeg-Turbo-Source: libjpeg-turbo $jpeg_version\$" \
    "^Libjpeg-Turbo-Dsc-Sha256: $jpeg_dsc_sha256\$" "^ $(sha256sum "$deps/libjpeg-turbo-$arch/lib/libjpeg.a" | cut -d' ' -f1) " \
    "^ $(sha256sum "/usr/$arch-w64-mingw32/lib/libz.a" | cut -d' ' -f1) " " nasm \(= " " mingw-w64-$arch-dev \(= " \
    " binutils-mingw-w64-$arch \(= " " cmake \(= " " libz-mingw-w64-dev \(= " "^ SOURCE_DATE_EPOCH=\"$epoch\"\$"; do
    check "build record: has '$field'" grep -Eq "$field" <(tr -d '\r' <"$work/BUILDINFO.txt")
  done
  check "build record: written with CRLF line ends" crlf_only "$work/BUILDINFO.txt"
  check "build record: no version differs on the machine that made it" \
    test -z "$("${record[@]}" compare-buildinfo "$work/BUILDINFO.txt")"

  nasm_here=$(dpkg-query -W -f='${Version}' nasm)
  sed "s/^ nasm (= [^)]*)/ nasm (= 2.15.05-1)/" "$work/BUILDINFO.txt" >"$work/BUILDINFO-changed.txt"
  check "build record: a changed version is named, release -> this machine" \
    grep -qx "nasm: 2.15.05-1 -> $nasm_here" <("${record[@]}" compare-buildinfo "$work/BUILDINFO-changed.txt")
}

# A release zip of the exe with the given build record, as release.sh lays it out.
make_zip() { # BUILDINFO OUT
  local stage
  stage=$work/stage-$(basename "$2" .zip)
  mkdir -p "$stage"
  cp "$exe" "$stage/VELQUOR.exe"
  cp "$1" "$stage/BUILDINFO.txt"
  cp "$work/notices.txt" "$stage/THIRD-PARTY-NOTICES.txt"
  cp "$work/bom.json" "$stage/VELQUOR.cdx.json"
  printf 'INSTALL\r\n' >"$stage/INSTALL.txt"
  (cd "$stage" && sha256sum VELQUOR.exe INSTALL.txt THIRD-PARTY-NOTICES.txt VELQUOR.cdx.json BUILDINFO.txt >SHA256SUMS)
  /usr/bin/python3 - "$stage" "$2" <<'PY'
import sys, zipfile
stage, out = sys.argv[1:]
with zipfile.ZipFile(out, "w") as bundle:
    for name in ("VELQUOR.exe", "INSTALL.txt", "THIRD-PARTY-NOTICES.txt", "VELQUOR.cdx.json", "BUILDINFO.txt",
                 "SHA256SUMS"):
        entry = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
        entry.compress_type = zipfile.ZIP_DEFLATED
        bundle.writestr(entry, open(f"{stage}/{name}", "rb").read(), compresslevel=9)
PY
}

verify_checks() {
  make_zip "$work/BUILDINFO.txt" "$work/reference.zip"
  make_zip "$work/BUILDINFO-changed.txt" "$work/changed.zip"
  local out status=0
  out=$(bash "$root/scripts/verify-release.sh" --reference "$work/reference.zip" "$work/changed.zip" 2>&1) || status=$?
  check "verify-release.sh: a build record with a changed version still fails (exit 1)" test "$status" = 1
  check "verify-release.sh: ... names that package, release -> this machine" \
    grep -q "verify-release:   nasm: 2.15.05-1 -> $nasm_here" <<<"$out"
  check "verify-release.sh: ... before it compares bytes" \
    bash -c 'grep -n "nasm: 2.15.05-1" <<<"$1" | head -n 1 | cut -d: -f1 |
      { read -r first; [ "$first" -lt "$(grep -n "differs from this tree" <<<"$1" | cut -d: -f1)" ]; }' _ "$out"
  check "verify-release.sh: ... and calls it the likely reason the bytes differ" grep -q "likely reason" <<<"$out"
  ! any_failed || printf '%s\n' "$out" | sed 's/^/    /'

  status=0
  out=$(bash "$root/scripts/verify-release.sh" --reference "$work/reference.zip" "$work/reference.zip" 2>&1) ||
    status=$?
  check "verify-release.sh: the same versions: none named, no likely reason, unsigned still fails (exit 1)" \
    bash -c '[ "$1" = 1 ] && grep -q "package versions the release was built with" <<<"$2" &&
      ! grep -q "likely reason" <<<"$2"' _ "$status" "$out"
}

notices_checks
bom_checks
schema_checks
buildinfo_checks
verify_checks

checks_done "release record"

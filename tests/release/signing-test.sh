#!/usr/bin/env bash
# Signs the launcher the ways a release does and checks what comes out, with
# no network: a throwaway CA and code-signing certificate made here, a
# SoftHSM2 token holding the key, and a timestamp authority on 127.0.0.1.
# usage: signing-test.sh SOURCE_ROOT SUITE_EXE WORK_DIR DEPS_DIR
set -euo pipefail
root=$1 suite_exe=$2 work=$3 deps=$4
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work"
# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"

pki=$work/pki
password='correct horse 7'
pin=246810

make_pki() {
  mkdir -p "$pki"
  cat >"$pki/ext.cnf" <<'EOF'
[signer]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[tsa]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
EOF
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VELQUOR Test Root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$pki/ca.key" -out "$pki/ca.crt" 2>/dev/null
  local who
  for who in signer tsa; do
    openssl req -newkey rsa:2048 -nodes -subj "/CN=VELQUOR Test ${who^}" \
      -keyout "$pki/$who.key" -out "$pki/$who.csr" 2>/dev/null
    openssl x509 -req -in "$pki/$who.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial \
      -days 2 -extfile "$pki/ext.cnf" -extensions "$who" -out "$pki/$who.crt" 2>/dev/null
  done
  printf '%s\n' "$password" >"$pki/password"
  printf 'not the password\n' >"$pki/wrong-password"
  openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.crt" -certfile "$pki/ca.crt" \
    -passout "file:$pki/password" -out "$pki/signer.pfx"
  # As older Windows versions and many CAs export it: RC2 and 3DES.
  openssl pkcs12 -export -legacy -inkey "$pki/signer.key" -in "$pki/signer.crt" -certfile "$pki/ca.crt" \
    -passout "file:$pki/password" -out "$pki/legacy.pfx"
}

softhsm_module() {
  local lib
  for lib in /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so; do
    [ -f "$lib" ] && echo "$lib" && return
  done
  echo "no libsofthsm2.so: is softhsm2 installed?" >&2
  return 1
}

# The signer's key goes onto the token as the hardware would hold it: private, not extractable.
make_token() {
  export SOFTHSM2_CONF=$work/softhsm2.conf
  mkdir -p "$work/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" >"$SOFTHSM2_CONF"
  module=$(softhsm_module)
  softhsm2-util --init-token --free --label velquor --so-pin 13579135 --pin "$pin" >/dev/null
  openssl pkcs8 -topk8 -nocrypt -in "$pki/signer.key" -outform DER -out "$pki/signer.p8"
  pkcs11-tool --module "$module" --token-label velquor --login --pin "$pin" \
    --write-object "$pki/signer.p8" --type privkey --id 01 --label signer >/dev/null
  printf '%s\n' "$pin" >"$pki/pin"
  printf '000000\n' >"$pki/wrong-pin"
  token=(--pkcs11-module "$module" --key "pkcs11:token=velquor;object=signer;type=private" --certs "$pki/signer.crt")
  absent_token=(--pkcs11-module "$module" --key "pkcs11:token=absent;object=signer;type=private" --certs "$pki/signer.crt")
}

start_tsa() {
  local tsa=$work/tsa
  mkdir -p "$tsa"
  echo 01 >"$tsa/serial"
  cat >"$tsa/openssl.cnf" <<EOF
[tsa]
default_tsa = test_tsa
[test_tsa]
serial = $tsa/serial
crypto_device = builtin
signer_cert = $pki/tsa.crt
certs = $pki/ca.crt
signer_key = $pki/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
  python3 "$here/tsa_server.py" "$tsa/openssl.cnf" "$tsa/port" 300 100 2>"$tsa/log" &
  tsa_pid=$!
  local _
  for _ in $(seq 50); do
    [ -s "$tsa/port" ] && break
    sleep 0.1
  done
  [ -s "$tsa/port" ] || { echo "the test's timestamp authority did not start:" && cat "$tsa/log" && exit 1; }
  tsa_url=http://127.0.0.1:$(cat "$tsa/port")
  # Nothing listens on port 9 (discard): the fallback must go past it.
  dead_url=http://127.0.0.1:9
}

# Each osslsigncode and openssl run is logged with its arguments, to show no secret is among them.
log_commands() {
  mkdir -p "$work/shims"
  local tool
  for tool in osslsigncode openssl; do
    printf '#!/bin/sh\nprintf "%%s\\n" "%s $*" >>"%s"\nexec %s "$@"\n' \
      "$tool" "$work/command-lines" "$(command -v "$tool")" >"$work/shims/$tool"
    chmod +x "$work/shims/$tool"
  done
  export PATH=$work/shims:$PATH
}

# The tree as it stands, committed into a repository of its own: release.sh
# builds commits only, and the suite may run on a tree with changes.
make_release_repo() {
  repo=$work/repo
  mkdir -p "$repo"
  tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$repo" -xf -
  git -C "$repo" init -q
  git -C "$repo" add -A
  GIT_COMMITTER_DATE=2026-01-01T00:00:00Z git -C "$repo" -c user.name=test -c user.email=test@localhost \
    commit -q --date=2026-01-01T00:00:00Z -m "tree under test"
  # libjpeg's source package as the suite downloaded it: no network here.
  mkdir -p "$repo/build/deps"
  cp -r "$deps/src" "$repo/build/deps/src"
}

# release.sh's messages are shown when it fails, and kept in release.log.
release() {
  bash "$repo/scripts/release.sh" "$@" 2>"$work/release.log" || {
    cat "$work/release.log" >&2
    return 1
  }
}
verify_release() { bash "$repo/scripts/verify-release.sh" "$@"; }
verifies() { osslsigncode verify -CAfile "$pki/ca.crt" -TSA-CAfile "$pki/ca.crt" -in "$1" >"$1.report" 2>&1; }
stripped_is_suite_exe() {
  rm -f "$1.stripped"
  osslsigncode remove-signature -in "$1" -out "$1.stripped" >/dev/null && cmp "$1.stripped" "$suite_exe"
}
fails_to_verify() { ! verifies "$1"; }
reports() { grep -q "$2" "$1.report"; }
pe_tools() { /usr/bin/python3 "$root/scripts/pe_tools.py" "$@"; }
zip_names() { /usr/bin/python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist())' "$1"; }
unzip_to() { pe_tools extract "$1" "$2" >/dev/null; }
flip_byte() { python3 -c '
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[int(sys.argv[3], 0)] ^= 0x01
open(sys.argv[2], "wb").write(data)' "$@"; }
text_offset() { pe_tools code-offset "$1"; }
checksum_offset() { pe_tools checksum-offset "$1"; }

pfx=(--pkcs12 "$pki/signer.pfx" --password-file "$pki/password")

signing_without_a_build() {
  local out=$work/detached
  mkdir -p "$out"
  check "PKCS#12: signed, timestamped by the second server after a dead one" \
    release --sign-detached "$suite_exe" "$out/pfx.sig" "${pfx[@]}" --timestamp "$dead_url" --timestamp "$tsa_url"
  osslsigncode attach-signature -sigin "$out/pfx.sig" -in "$suite_exe" -out "$out/pfx.exe" >/dev/null 2>&1 || true
  check "PKCS#12: the signature verifies against the test CA" verifies "$out/pfx.exe"
  check "PKCS#12: the timestamp verifies" reports "$out/pfx.exe" "Timestamp Server Signature verification: ok"
  check "PKCS#12: SHA-256" reports "$out/pfx.exe" "Message digest algorithm  : SHA256"
  check "PKCS#12: the product's name in the signature" reports "$out/pfx.exe" "Text description: VELQUOR"
  check "PKCS#12: the product's URL in the signature" reports "$out/pfx.exe" "URL description: https://"
  check "PKCS#12: stripping the signature gives the suite's exe" stripped_is_suite_exe "$out/pfx.exe"

  check "PKCS#11 token: signed" release --sign-detached "$suite_exe" "$out/token.sig" "${token[@]}" --pin-file "$pki/pin"
  osslsigncode attach-signature -sigin "$out/token.sig" -in "$suite_exe" -out "$out/token.exe" >/dev/null 2>&1 || true
  check "PKCS#11 token: the signature verifies against the test CA" verifies "$out/token.exe"
  check "PKCS#11 token: stripping the signature gives the suite's exe" stripped_is_suite_exe "$out/token.exe"

  check "a PKCS#12 file in the legacy format (RC2) signs too" release --sign-detached "$suite_exe" "$out/legacy.sig" \
    --pkcs12 "$pki/legacy.pfx" --password-file "$pki/password"

  flip_byte "$out/pfx.exe" "$out/flipped.exe" "$(text_offset "$out/pfx.exe")"
  check "a byte flipped in the code fails osslsigncode's verify" fails_to_verify "$out/flipped.exe"

  refuses "a wrong password stops before anything is signed" "wrong password" \
    release --sign-detached "$suite_exe" "$out/bad.sig" --pkcs12 "$pki/signer.pfx" --password-file "$pki/wrong-password"
  refuses "a wrong PIN fails the signing" "signing failed" \
    release --sign-detached "$suite_exe" "$out/bad.sig" "${token[@]}" --pin-file "$pki/wrong-pin"
  refuses "a missing token fails the signing" "signing failed" \
    release --sign-detached "$suite_exe" "$out/bad.sig" "${absent_token[@]}" --pin-file "$pki/pin"
  refuses "no timestamp server answering fails the signing" "timestamp" \
    release --sign-detached "$suite_exe" "$out/bad.sig" "${pfx[@]}" --timestamp "$dead_url"
  check "a failed signing writes no signature" test ! -e "$out/bad.sig"
  check "no password or PIN on any command line" bash -c '! grep -Fq -e "$1" -e "$2" "$3"' _ \
    "$password" "$pin" "$work/command-lines"
}

releases() {
  check "release.sh signs from a PKCS#12 file" \
    release --out "$work/signed" "${pfx[@]}" --timestamp "$dead_url" --timestamp "$tsa_url"
  signed_zip=$(compgen -G "$work/signed/VELQUOR-*-win32.zip")
  unzip_to "$signed_zip" "$work/signed/files"
  local exe=$work/signed/files/VELQUOR.exe
  check "signed release: its exe verifies, with its timestamp" verifies "$exe"
  check "signed release: stripping the signature gives the suite's exe" stripped_is_suite_exe "$exe"
  check "signed release: SHA256SUMS lists the signed exe" \
    grep -qx "$(sha256sum "$exe" | cut -d' ' -f1)  VELQUOR.exe" "$work/signed/files/SHA256SUMS"
  check "signed release: the exe, INSTALL.txt, the notices, the BOM, the build record and SHA256SUMS, in that order" \
    test "$(zip_names "$signed_zip")" = "VELQUOR.exe INSTALL.txt THIRD-PARTY-NOTICES.txt VELQUOR.cdx.json BUILDINFO.txt SHA256SUMS"
  check "signed release: SHA256SUMS covers every other file" \
    bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS && [ "$(wc -l <SHA256SUMS)" = 5 ]' _ "$work/signed/files"
  check "signed release: its BOM carries the signed exe's hashes" /usr/bin/python3 "$repo/scripts/release_record.py" \
    check-bom "$work/signed/files/VELQUOR.cdx.json" --exe "$exe"

  # Signing away from the build: the signature made above, attached to a new build.
  check "release.sh attaches a signature made elsewhere" \
    release --out "$work/attached" --signature "$work/detached/pfx.sig"
  unzip_to "$(compgen -G "$work/attached/VELQUOR-*-win32.zip")" "$work/attached/files"
  check "a signature made elsewhere, attached by release.sh, gives the exe signed there" \
    cmp "$work/attached/files/VELQUOR.exe" "$work/detached/pfx.exe"
  attached_zip=$(compgen -G "$work/attached/VELQUOR-*-win32.zip")
  refuses "release.sh refuses a signature made for other bytes" "does not belong" \
    release --out "$work/refused" --signature "$work/detached/other.sig"
  refuses "a signing that fails after the build (wrong PIN)" "signing failed" \
    release --out "$work/failed" "${token[@]}" --pin-file "$pki/wrong-pin"
  refuses "a wrong password stops release.sh before the build" "wrong password" \
    release --out "$work/failed" --pkcs12 "$pki/signer.pfx" --password-file "$pki/wrong-password"
  check "a failed release leaves no zip" bash -c '! compgen -G "$1/*.zip"' _ "$work/failed"
}

verifications() {
  local out
  # Its own clean build, kept: the unsigned release the other cases compare with.
  out=$(verify_release --ca "$pki/ca.crt" --save-reference "$work/unsigned" "$signed_zip")
  check "verify-release.sh, with its own clean build, accepts the signed release" \
    grep -q "identical to this tree's build apart from its signature" <<<"$out"
  unsigned_zip=$(compgen -G "$work/unsigned/VELQUOR-*-win32.zip")
  unzip_to "$unsigned_zip" "$work/unsigned/files"
  check "the unsigned release holds the suite's exe" cmp "$work/unsigned/files/VELQUOR.exe" "$suite_exe"
  check "verify-release.sh names signer, digest and timestamp" \
    bash -c 'grep -q "signer: *.*VELQUOR Test Signer" <<<"$1" && grep -q "digest: *SHA256" <<<"$1" &&
      grep -Eq "timestamp: *[A-Z][a-z]{2} " <<<"$1"' _ "$out"

  local exe=$work/signed/files/VELQUOR.exe cases=$work/cases
  mkdir -p "$cases"
  flip_byte "$exe" "$cases/code.exe" "$(text_offset "$exe")"
  flip_byte "$exe" "$cases/checksum.exe" "$(checksum_offset "$exe")"
  flip_byte "$exe" "$cases/signature.exe" "$(($(stat -c %s "$exe") - 40))"
  flip_byte "$signed_zip" "$cases/zip-entry.zip" 10
  flip_byte "$signed_zip" "$cases/zip-data.zip" "$(($(stat -c %s "$signed_zip") / 2))"
  # name | file | --ca or not | what the report must say
  local table="
signed exe accepted|$exe|ca|identical to this tree's build apart from its signature$
flipped code refused|$cases/code.exe|ca|differ in \\.text
flipped PE checksum refused|$cases/checksum.exe|ca|PE checksum
flipped signature byte refused|$cases/signature.exe|ca|differ
flipped zip header refused|$cases/zip-entry.zip|ca|zip entry differs|zip.s bytes differ
flipped zip data refused|$cases/zip-data.zip|ca|cannot be read|checksum does not match|differ
unsigned exe refused|$work/unsigned/files/VELQUOR.exe|ca|no Authenticode signature
untrusted root refused|$exe|none|not valid"
  local name file trust pattern status
  while IFS='|' read -r name file trust pattern; do
    [ -n "$name" ] || continue
    local args=(--reference "$unsigned_zip")
    [ "$trust" = none ] || args+=(--ca "$pki/ca.crt")
    status=0
    out=$(verify_release "${args[@]}" "$file" 2>&1) || status=$?
    if [[ $name == *accepted ]] && [ "$status" -ne 0 ]; then
      flunk "verify-release.sh: $name (exit $status)"
    elif [[ $name == *refused ]] && [ "$status" -eq 0 ]; then
      flunk "verify-release.sh: $name: it exited 0"
    elif ! grep -Eq "$pattern" <<<"$out"; then
      flunk "verify-release.sh: $name: no '$pattern' in its report"
    else
      pass "verify-release.sh: $name"
      continue
    fi
    printf '%s\n' "$out" | sed 's/^/    /'
  done <<<"$table"
}

# Another clone of the same commit, in another folder, releases the same zip
# bytes as the runs above: unsigned, and with the same signature attached.
second_release() { # OUT SAME-AS-ZIP [release.sh options]
  local out=$1 same=$2
  shift 2
  bash "$second/scripts/release.sh" --out "$out" "$@" 2>"$out.log" || {
    cat "$out.log" >&2
    return 1
  }
  cmp "$(compgen -G "$out/VELQUOR-*-win32.zip")" "$same"
}

reproducible_releases() {
  second=$work/second-clone
  git clone -q "$repo" "$second"
  mkdir -p "$second/build/deps"
  cp -r "$deps/src" "$second/build/deps/src"
  check "a second clone's unsigned release: the same zip bytes" second_release "$work/second-unsigned" "$unsigned_zip"
  check "a second clone's release with the same signature attached: the same zip bytes" \
    second_release "$work/second-attached" "$attached_zip" --signature "$work/detached/pfx.sig"
}

cleanup() {
  [ -z "${tsa_pid:-}" ] || kill "$tsa_pid" 2>/dev/null || true
}
trap cleanup EXIT

make_pki
make_token
start_tsa
log_commands
make_release_repo
# A signature over other bytes: the suite exe with one byte changed.
flip_byte "$suite_exe" "$work/other.exe" "$(text_offset "$suite_exe")"
mkdir -p "$work/detached"
release --sign-detached "$work/other.exe" "$work/detached/other.sig" "${pfx[@]}"

signing_without_a_build
releases
verifications
reproducible_releases

checks_done signing

#!/usr/bin/env bash
# Makes the release bundle of the committed tree:
#   OUT/VELQUOR-<version>-win32.zip  (VELQUOR.exe, INSTALL.txt, THIRD-PARTY-NOTICES.txt,
#                                     VELQUOR.cdx.json, BUILDINFO.txt, SHA256SUMS)
#   OUT/VELQUOR-<version>-win32.zip.sha256
# It builds a fresh clone of HEAD in a folder of its own, so the bundle holds
# exactly what the commit holds; the unsigned exe and the zip are the same
# bytes on every run, here or on any other machine set up by install-deps.sh.
# A signed exe is that exe plus an Authenticode signature (osslsigncode).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
arch=i686

usage() {
  cat <<'EOF'
usage: release.sh [--out DIR] [SIGNING]            build, sign when told, bundle
       release.sh [--out DIR] --signature SIGFILE  build, attach a signature made elsewhere, bundle
       release.sh --sign-detached EXE SIGFILE SIGNING
                                                   sign EXE here and write only its signature
SIGNING, from a file or from a PKCS#11 token (secrets are read from files, never from arguments):
       --pkcs12 FILE --password-file FILE
       --pkcs11-module LIB --key PKCS11-URI --certs FILE --pin-file FILE
       [--timestamp URL]...    RFC 3161 servers, tried in the order given
OUT defaults to dist/ in the tree.
EOF
}

out=$root/dist
signature_in=''
detached_exe='' detached_sig=''
pkcs12='' password_file=''
pkcs11_module='' key='' certs='' pin_file=''
timestamps=()

need_value() { [ "$#" -ge 2 ] && [ -n "$2" ] || fail "$1 needs a value (see --help)"; }

parse_options() {
  while [ "$#" -gt 0 ]; do
    case $1 in
      --out) need_value "$@" && out=$2 && shift 2 ;;
      --signature) need_value "$@" && signature_in=$2 && shift 2 ;;
      --sign-detached)
        [ "$#" -ge 3 ] || fail "--sign-detached needs EXE and SIGFILE"
        detached_exe=$2 detached_sig=$3
        shift 3
        ;;
      --pkcs12) need_value "$@" && pkcs12=$2 && shift 2 ;;
      --password-file) need_value "$@" && password_file=$2 && shift 2 ;;
      --pkcs11-module) need_value "$@" && pkcs11_module=$2 && shift 2 ;;
      --key) need_value "$@" && key=$2 && shift 2 ;;
      --certs) need_value "$@" && certs=$2 && shift 2 ;;
      --pin-file) need_value "$@" && pin_file=$2 && shift 2 ;;
      --timestamp) need_value "$@" && timestamps+=("$2") && shift 2 ;;
      -h | --help) usage && exit 0 ;;
      *) usage >&2 && fail "unknown option: $1" ;;
    esac
  done
}

signing_asked() { [ -n "$pkcs12$password_file$pkcs11_module$key$certs$pin_file" ]; }

readable() {
  local what=$1 file=$2
  [ -n "$file" ] || fail "$what is missing (see --help)"
  [ -r "$file" ] && [ -f "$file" ] || fail "$what $file cannot be read"
}

pkcs12_opens() { openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -noout "$@" 2>/dev/null; }

need_osslsigncode() {
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/install-deps.sh installs it)"
}

# Everything about the signing inputs that can be known before a build.
check_signing_inputs() {
  if [ -n "$pkcs12" ] && [ -n "$pkcs11_module$key$certs$pin_file" ]; then
    fail "sign from a PKCS#12 file or from a PKCS#11 token, not both"
  fi
  if [ -n "$pkcs12$password_file" ]; then
    readable "--pkcs12" "$pkcs12"
    readable "--password-file" "$password_file"
    # The password opens the file here, so a wrong one stops us before the build.
    # Older Windows exports use RC2, which OpenSSL 3 reads only with -legacy (osslsigncode loads it itself).
    pkcs12_opens || pkcs12_opens -legacy ||
      fail "cannot open $pkcs12 with the password in $password_file (wrong password?); nothing was built"
  else
    readable "--pkcs11-module" "$pkcs11_module"
    [ -n "$key" ] || fail "--key is missing: a PKCS#11 URI such as 'pkcs11:token=velquor;object=signer;type=private'"
    case $key in pkcs11:*) ;; *) fail "--key $key is not a PKCS#11 URI (RFC 7512: pkcs11:...)" ;; esac
    readable "--certs" "$certs"
    readable "--pin-file" "$pin_file"
  fi
  need_osslsigncode
}

# The product's name and web address, as the signature shows them, are
# written in project() of CMakeLists.txt, beside the version.
project_name() { sed -n 's/^project(\([A-Za-z0-9_]*\) .*/\1/p' "$1"; }
project_url() { sed -n 's/^project(.* HOMEPAGE_URL "\([^"]*\)".*/\1/p' "$1"; }

# osslsigncode reads the password or PIN from the file itself (-readpass).
sign_exe() {
  local in=$1 signed=$2 name=$3 url=$4 ts
  local args=(sign -h sha256 -n "$name" -i "$url" -readpass "${password_file:-$pin_file}")
  if [ -n "$pkcs12" ]; then
    args+=(-pkcs12 "$pkcs12")
  else
    args+=(-pkcs11module "$pkcs11_module" -certs "$certs" -key "$key")
  fi
  for ts in "${timestamps[@]}"; do args+=(-ts "$ts"); done
  local log
  log=$(mktemp)
  if ! osslsigncode "${args[@]}" -in "$in" -out "$signed" </dev/null >"$log" 2>&1; then
    rm -f "$signed"
    sed 's/^/release:   osslsigncode: /' "$log" >&2
    rm -f "$log"
    if [ "${#timestamps[@]}" -gt 0 ]; then
      fail "signing failed (key, password or PIN, token, or every timestamp server: see above)"
    fi
    fail "signing failed (key, password or PIN, or token: see above)"
  fi
  rm -f "$log"
}

# The signature's own digest is the file's: osslsigncode prints both (and
# fails here on a chain this machine does not trust, which is not the question).
digest_matches() {
  { osslsigncode verify -in "$1" 2>/dev/null || true; } | /usr/bin/python3 "$root/scripts/pe_tools.py" digest-matches
}

# The signed exe must be the built exe plus a signature over exactly it.
check_signed() {
  local unsigned=$1 signed=$2 stripped=$work/stripped.exe
  rm -f "$stripped"
  osslsigncode remove-signature -in "$signed" -out "$stripped" >/dev/null 2>&1 || true
  if ! cmp -s "$stripped" "$unsigned" || ! digest_matches "$signed"; then
    rm -f "$stripped"
    fail "the signature does not belong to this build's exe (built from another commit?)"
  fi
  rm -f "$stripped"
}

attach_signature() {
  local in=$1 signed=$2
  readable "--signature" "$signature_in"
  # attach-signature also checks the chain against the machine's CAs: that
  # verdict belongs to verify-release.sh, so only the digest is checked here.
  osslsigncode attach-signature -sigin "$signature_in" -in "$in" -out "$signed" >/dev/null 2>&1 || true
  [ -s "$signed" ] || fail "osslsigncode could not attach $signature_in"
  check_signed "$in" "$signed"
}

sign_detached() {
  readable "EXE" "$detached_exe"
  check_signing_inputs
  local name url
  work=$(mktemp -d /tmp/velquor-sign.XXXXXX)
  on_exit rm -rf "$work"
  name=$(project_name "$root/CMakeLists.txt")
  url=$(project_url "$root/CMakeLists.txt")
  sign_exe "$detached_exe" "$work/signed.exe" "$name" "$url"
  osslsigncode extract-signature -in "$work/signed.exe" -out "$work/sig" >/dev/null
  mv "$work/sig" "$detached_sig"
  say "signature of $detached_exe written to $detached_sig"
  say "attach it with: bash scripts/release.sh --signature $detached_sig"
}

check_clean_tree() {
  local dirty
  dirty=$(git -C "$root" status --porcelain --untracked-files=normal)
  if [ -n "$dirty" ]; then
    say "the tree has changes that are not committed; a release is built from a commit only."
    say "commit or stash these first:"
    printf '%s\n' "$dirty" >&2
    exit 1
  fi
}

# Clones the commit into $work/src and builds its exe into $work/build.
build_commit() {
  local commit=$1
  git clone -q --no-hardlinks "$root" "$work/src"
  git -C "$work/src" checkout -q --detach "$commit"
  # A fresh libjpeg too, from Debian's source package; reuse its download when there is one.
  if [ -d "$root/build/deps/src" ]; then
    mkdir -p "$work/build/deps"
    cp -r "$root/build/deps/src" "$work/build/deps/src"
  fi
  BUILD_DIR=$work/build bash "$work/src/scripts/build-libjpeg.sh" "$arch"
  configure_preset "$work/src" "$arch" "$work/build/$arch" "$work/build/deps" -DVELQUOR_TESTS=OFF
  cmake --build "$work/build/$arch" --target VELQUOR -j"$(nproc)" >/dev/null
}

pe_check() {
  local exe=$1 version=$2
  /usr/bin/python3 "$work/src/tests/hardening/pe_check.py" "$exe" --arch "$arch" --version "$version" >/dev/null || {
    /usr/bin/python3 "$work/src/tests/hardening/pe_check.py" "$exe" --arch "$arch" --version "$version" >&2
    fail "the exe fails its PE check; no release"
  }
}

# Fixed order, times (the commit's) and modes: the same zip on every run.
write_zip() {
  local stage=$1 zip=$2 commit_time=$3
  /usr/bin/python3 "$work/src/scripts/pe_tools.py" write-zip "$zip" "$commit_time" "$stage" \
    VELQUOR.exe INSTALL.txt THIRD-PARTY-NOTICES.txt VELQUOR.cdx.json BUILDINFO.txt SHA256SUMS
}

# Before anything is signed: the exe links only code whose licence it can carry and has a notice for.
check_link() {
  /usr/bin/python3 "$work/src/scripts/release_record.py" check-link "$work/build/$arch/src/main/VELQUOR.map" \
    --build-dir "$work/build/$arch/src/main" >/dev/null ||
    fail "the exe links code whose licence has no notice or cannot ship (see above); no release"
}

# The notices, the bill of materials and the build record, from the link map of
# the exe just built: what the link holds, and nothing else.
record() {
  local stage=$1 version=$2 commit=$3 commit_time=$4
  local build=$work/build/$arch map=$work/build/$arch/src/main/VELQUOR.map
  local record=(/usr/bin/python3 "$work/src/scripts/release_record.py")
  local mingw_version mingw_tree jpeg_version
  mingw_version=$(dpkg-query -W -f='${source:Version}' "mingw-w64-$arch-dev")
  mingw_tree=$(BUILD_DIR=$work/build bash "$work/src/scripts/fetch-source.sh" mingw-w64 "$mingw_version") ||
    fail "no MinGW-w64 source package $mingw_version for the notices; no release"
  read -r _ jpeg_version _ < <(grep -E '^libjpeg-turbo[[:space:]]' "$work/src/scripts/source-pins.txt")
  "${record[@]}" notices "$map" --build-dir "$build/src/main" --arch "$arch" --mingw-source "$mingw_tree" \
    --libjpeg-source "$work/build/deps/src/libjpeg-turbo-$(upstream_of "$jpeg_version")" \
    --out "$stage/THIRD-PARTY-NOTICES.txt" || fail "the notices could not be written; no release"
  "${record[@]}" buildinfo "$map" --build-dir "$build/src/main" --arch "$arch" --exe "$build/src/main/VELQUOR.exe" \
    --version "$version" --commit "$commit" --time "$commit_time" \
    --libjpeg-dsc "$work/build/deps/src/libjpeg-turbo_${jpeg_version#*:}.dsc" --out "$stage/BUILDINFO.txt" ||
    fail "the build record could not be written; no release"
  "${record[@]}" bom "$map" --build-dir "$build/src/main" --exe "$stage/VELQUOR.exe" --version "$version" \
    --commit "$commit" --time "$commit_time" --out "$stage/VELQUOR.cdx.json" ||
    fail "the bill of materials could not be written; no release"
}

# 1:2.1.5-2 -> 2.1.5, as dpkg-source names the unpacked tree.
upstream_of() {
  local version=${1#*:}
  echo "${version%-*}"
}

release() {
  if signing_asked && [ -n "$signature_in" ]; then
    fail "--signature attaches a signature made elsewhere: give it without signing options"
  fi
  if [ "${#timestamps[@]}" -gt 0 ] && ! signing_asked; then
    fail "--timestamp needs signing options"
  fi
  signing_asked && check_signing_inputs
  [ -z "$signature_in" ] || { readable "--signature" "$signature_in" && need_osslsigncode; }
  check_clean_tree
  local commit commit_time
  commit=$(git -C "$root" rev-parse HEAD)
  commit_time=$(git -C "$root" log -1 --format=%ct "$commit")
  # Every tool that would stamp a time takes the commit's.
  export SOURCE_DATE_EPOCH=$commit_time

  bash "$root/scripts/install-deps.sh"
  work=$(mktemp -d /tmp/velquor-release.XXXXXX)
  on_exit rm -rf "$work"
  build_commit "$commit"

  local cache=$work/build/$arch/CMakeCache.txt exe=$work/build/$arch/src/main/VELQUOR.exe
  local version name url
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")
  name=$(project_name "$work/src/CMakeLists.txt")
  url=$(project_url "$work/src/CMakeLists.txt")
  [ -n "$version" ] || fail "no project version in the build's CMake cache"
  pe_check "$exe" "$version"
  check_link

  local stage=$work/stage
  mkdir -p "$stage"
  if signing_asked; then
    sign_exe "$exe" "$stage/VELQUOR.exe" "$name" "$url"
    check_signed "$exe" "$stage/VELQUOR.exe"
  elif [ -n "$signature_in" ]; then
    attach_signature "$exe" "$stage/VELQUOR.exe"
  else
    cp "$exe" "$stage/VELQUOR.exe"
  fi
  # Notepad on Windows 7 needs CRLF and a byte-order mark to show UTF-8.
  {
    printf '\357\273\277'
    sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$work/src/assets/INSTALL.txt"
  } >"$stage/INSTALL.txt"
  record "$stage" "$version" "$commit" "$commit_time"
  (cd "$stage" && sha256sum VELQUOR.exe INSTALL.txt THIRD-PARTY-NOTICES.txt VELQUOR.cdx.json BUILDINFO.txt >SHA256SUMS)

  local zip=VELQUOR-$version-win32.zip
  write_zip "$stage" "$work/$zip" "$commit_time"
  (cd "$work" && sha256sum "$zip" >"$zip.sha256")
  # Only a finished bundle reaches OUT.
  mkdir -p "$out"
  mv "$work/$zip" "$work/$zip.sha256" "$out/"

  say "commit $commit, version $version"
  sed 's/^/release:   /' "$stage/SHA256SUMS" >&2
  say "$(cat "$out/$zip.sha256")"
  echo "$out/$zip"
}

main() {
  parse_options "$@"
  if [ -n "$detached_exe" ]; then
    sign_detached
  else
    release
  fi
}

main "$@"

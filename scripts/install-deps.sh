#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages only.
# Safe to run again: it does nothing when everything is already there.
set -euo pipefail
. "$(dirname "$0")/common.sh"

packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev nasm cmake make googletest dpkg-dev
  wine wine64 wine32:i386 fonts-wine fonts-liberation xvfb x11-utils x11-apps imagemagick libjpeg-turbo-progs zopfli
  clang libclang-rt-14-dev zlib1g-dev libjpeg62-turbo-dev python3 python3-fontforge clang-format shellcheck git locales
  # Authenticode signing and its tests. Debian 12's osslsigncode (2.5) does all that release.sh and
  # verify-release.sh ask of it, and so does 2.9 from bookworm-backports where that is installed.
  # PKCS#11 keys go through OpenSSL's pkcs11 engine; the tests' token is SoftHSM2, filled by opensc's pkcs11-tool.
  osslsigncode openssl libengine-pkcs11-openssl softhsm2 opensc
  # The benchmark reads CPU time from GNU time, and writes its figures with nlohmann-json.
  time nlohmann-json3-dev
  # Reading PE images (the hardening checks, releases); checking the release's bill of materials.
  python3-pefile python3-jsonschema
  # SPDX licence expressions and ids, for the release's bill of materials.
  python3-license-expression
)

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

needs_i386() { ! dpkg --print-foreign-architectures | grep -qx i386; }

# The test bed's locale: a Brazilian Windows' code page and messages.
needs_locale() { ! locale -a 2>/dev/null | grep -qix 'pt_BR\.utf-\?8'; }

generate_locale() {
  say "generating the pt_BR.UTF-8 locale"
  sed -i 's/^# *\(pt_BR\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'pt_BR.UTF-8 UTF-8' /etc/locale.gen || echo 'pt_BR.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
}

install_packages() {
  local missing=$1
  if needs_i386; then
    say "enabling the i386 architecture (Wine's 32-bit half)"
    dpkg --add-architecture i386
  fi
  say "updating the package lists"
  # Another install may hold dpkg's lock for a while: wait for it instead of failing.
  local apt=(apt-get -o DPkg::Lock::Timeout=600)
  if ! "${apt[@]}" update -qq; then
    say "apt-get update failed: is the Debian package mirror reachable from this machine?"
    exit 1
  fi
  say "installing: $(echo $missing)"
  if ! DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq --no-install-recommends $missing >/dev/null; then
    say "apt-get install failed: check the network to the Debian mirror and the messages above."
    exit 1
  fi
}

main() {
  local missing
  missing=$(missing_packages)
  if [ -z "$missing" ] && ! needs_i386 && ! needs_locale; then
    exit 0
  fi
  if [ "$(id -u)" != 0 ]; then
    [ -z "$missing" ] || say "these packages are missing: $(echo $missing)"
    ! needs_locale || say "the pt_BR.UTF-8 locale is missing"
    say "installing them needs root: run this again as root (or with sudo)."
    exit 1
  fi
  if [ -n "$missing" ] || needs_i386; then
    install_packages "$missing"
  fi
  ! needs_locale || generate_locale
}

main "$@"

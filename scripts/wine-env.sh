# shellcheck shell=bash
# Sourced by the other scripts: a private Wine world inside the build tree and
# a display to run it on. Nothing outside $BUILD_DIR is touched.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

# True when this machine's kernel runs 32-bit x86 code. Some virtual machines
# do not (no IA-32 emulation), and then neither Wine's 32-bit loader nor its
# WoW64 mode can start a 32-bit program.
host_runs_32bit() { /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; }

# The build that tests run: the shipped 32-bit one wherever it can run,
# otherwise the same sources built for x86_64.
runnable_arch() {
  if [ -n "${VELQUOR_TEST_ARCH:-}" ]; then echo "$VELQUOR_TEST_ARCH"
  elif host_runs_32bit; then echo i686
  else echo x86_64
  fi
}

# The display scale, in dpi, that Wine shows programs: 96 unless VELQUOR_DPI
# asks for another, which then gets a prefix of its own (see wine_prefix_ensure).
wine_dpi() { echo "${VELQUOR_DPI:-96}"; }

# Sets the Wine variables for a machine (i686 or x86_64): a prefix of its own.
wine_select() {
  local arch=$1 suffix=
  [ "$(wine_dpi)" = 96 ] || suffix=-dpi$(wine_dpi)
  export WINEPREFIX=$build_dir/wine-$arch$suffix
  export WINEDEBUG=${WINEDEBUG:--all}
  if [ "$arch" = i686 ]; then
    export WINEARCH=win32 WINE=/usr/lib/wine/wine
  else
    export WINEARCH=win64 WINE=/usr/lib/wine/wine64
  fi
  export WINELOADER=$WINE WINESERVER=/usr/lib/wine/wineserver
}
wine_select "$(runnable_arch)"

wine_say() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; }

# Creates the prefix once (about 15 s) and gives it the Tahoma that Debian's
# Wine ships but does not find by itself. A prefix at another DPI is the 96-dpi
# one, copied (Windows' own files hard-linked), with LogPixels set where Wine 8
# reads it.
wine_prefix_ensure() {
  if [ "$(wine_dpi)" != 96 ]; then
    [ -f "$WINEPREFIX/.ready" ] || (wine_prefix_at_dpi "$(wine_dpi)")
    return
  fi
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    wine_say "creating the private Wine prefix in $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if ! WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >/dev/null 2>&1; then
      wine_say "wineboot could not create the prefix; is wine installed? (scripts/install-deps.sh)"
      return 1
    fi
    "$WINESERVER" -w
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
      "$WINEPREFIX/drive_c/windows/Fonts/"
    # With no window manager on a virtual display, Wine would wait 2 s for one
    # to withdraw each closing window it believes managed.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$WINEPREFIX/.ready"
  fi
}

wine_prefix_at_dpi() {
  local dpi=$1 scaled=$WINEPREFIX
  export WINEPREFIX=${scaled%-dpi*}
  VELQUOR_DPI=96 wine_prefix_ensure || return 1
  wine_say "making a Wine prefix at $dpi dpi in $scaled"
  rm -rf "$scaled"
  mkdir -p "$scaled"
  # Windows' own files are only read: linked. Everything else is copied.
  mkdir "$scaled/drive_c"
  cp -al "$WINEPREFIX/drive_c/windows" "$scaled/drive_c/"
  find "$WINEPREFIX/drive_c" -mindepth 1 -maxdepth 1 ! -name windows -exec cp -a {} "$scaled/drive_c/" \;
  cp -a "$WINEPREFIX/dosdevices" "$WINEPREFIX/.update-timestamp" "$WINEPREFIX"/*.reg "$scaled/"
  export WINEPREFIX=$scaled
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$WINE" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$WINESERVER" -k 2>/dev/null || true  # the DPI is read when the server starts
  "$WINESERVER" -w
  touch "$WINEPREFIX/.ready"
}

# Uses the caller's display when it opens; otherwise starts an Xvfb of our own
# that display_stop ends.
xvfb_pid=
display_start() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  if [ -n "${DISPLAY:-}" ] && [ -z "${VELQUOR_HEADLESS:-}" ]; then
    wine_say "the display $DISPLAY cannot be opened; starting a virtual one instead"
  fi
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  local tries=0
  while [ ! -s "$fd_file" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
  if [ ! -s "$fd_file" ]; then
    wine_say "Xvfb did not start; is the xvfb package installed? (scripts/install-deps.sh)"
    rm -f "$fd_file"
    return 1
  fi
  DISPLAY=:$(tr -d '\n' <"$fd_file")
  export DISPLAY
  rm -f "$fd_file"
  if ! xdpyinfo >/dev/null 2>&1; then
    wine_say "the virtual display $DISPLAY cannot be opened"
    return 1
  fi
}

display_stop() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}

# One wineserver for a whole run: each wine start then costs far less.
# The services Wine starts with its first program inherit that program's
# output; start them here with none, so a test runner never waits on them.
wineserver_start() {
  "$WINESERVER" -p 2>/dev/null || true  # one may already serve this prefix
  "$WINE" cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}
wineserver_stop() { "$WINESERVER" -k 2>/dev/null || true; "$WINESERVER" -w 2>/dev/null || true; }

# A display, the prefix and one wineserver for the rest of the calling
# script, all ended when it exits.
wine_session_start() {
  trap 'wineserver_stop; display_stop' EXIT
  display_start
  wine_prefix_ensure
  wineserver_start
}

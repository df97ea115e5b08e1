# shellcheck shell=bash
# A library for the scripts that run Wine: sourcing it only defines functions.
# A command calls wine_env_init once, then wine_session_start (or the parts of
# it it needs). Nothing outside the build tree is touched.
#
# The bed: what Wine shows the launcher is a default Brazilian Windows 10
# without Office. pt-BR locale, no visual styles (classic controls), Windows
# 10's default colours, no narrow face, Tahoma. Variants are made from it in
# seconds, each in a Wine prefix of its own:
#   VELQUOR_BED = base (default) | office (a narrow face present)
#                 | high-contrast (Windows' High Contrast Black colours)
#   VELQUOR_DPI = 96 (default) or any other display scale, in dpi
# Both combine: VELQUOR_BED=office VELQUOR_DPI=144.

. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Changes to what a prefix holds bump this: an older prefix is made again.
wine_bed_version() { echo 7; }

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

# The display scale, in dpi, and the bed that Wine shows programs.
wine_dpi() { echo "${VELQUOR_DPI:-96}"; }
wine_bed() { echo "${VELQUOR_BED:-base}"; }

# True when the bed and the DPI asked for are ones the bed can be; says why not.
wine_bed_check() {
  case $(wine_bed) in
    base | office | high-contrast) ;;
    *) say "the bed is base, office or high-contrast, not '$(wine_bed)'"; return 1 ;;
  esac
  [[ $(wine_dpi) =~ ^[1-9][0-9]*$ ]] || { say "the DPI is a whole number, such as 144, not '$(wine_dpi)'"; return 1; }
}

# Sets build_dir and the Wine variables for the runnable machine, the bed and
# the DPI. ROLE (tests, soak or bench; tests when none) names the prefix, so
# a soak or a benchmark can run beside the tests.
wine_env_init() {
  local role=${1:-tests} here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  build_dir=${BUILD_DIR:-$(dirname "$here")/build}
  wine_bed_check || return 2
  export VELQUOR_BED VELQUOR_DPI
  VELQUOR_BED=$(wine_bed) VELQUOR_DPI=$(wine_dpi)
  wine_select "$(runnable_arch)" "$role" "$here"
}

# The prefix of a role's base bed at 96 dpi, and of the bed and DPI asked for.
wine_base_prefix() {
  local arch=$1 role=$2
  if [ "$role" = tests ]; then echo "$build_dir/wine-$arch"; else echo "$build_dir/wine-$arch-$role"; fi
}
wine_variant_suffix() {
  local suffix=
  [ "$(wine_bed)" = base ] || suffix=-$(wine_bed)
  [ "$(wine_dpi)" = 96 ] || suffix+=-dpi$(wine_dpi)
  echo "$suffix"
}

# Every Wine program starts through scripts/wine-bed.sh, which hides the
# narrow faces (or shows them, in the office bed) and gives Wine the locale.
wine_select() {
  local arch=$1 role=$2 here=$3
  export WINE_BASE_PREFIX
  WINE_BASE_PREFIX=$(wine_base_prefix "$arch" "$role")
  export WINEPREFIX
  WINEPREFIX=$WINE_BASE_PREFIX$(wine_variant_suffix)
  export WINEDEBUG=${WINEDEBUG:--all}
  if [ "$arch" = i686 ]; then
    export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
  else
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  fi
  export WINE=$here/wine-bed.sh WINESERVER=/usr/lib/wine/wineserver
  export VELQUOR_BED_DIR=$build_dir/bed
}

# ----- the bed -----

# The locale of a Brazilian Windows: Wine reads it from the environment when
# the prefix is made and at each start (code page 1252, Portuguese messages).
wine_bed_locale() { echo pt_BR.UTF-8; }
wine_bed_locale_present() { locale -a 2>/dev/null | grep -qix 'pt_BR\.utf-\?8'; }

# Faces that come with Office (or a font package), not with Windows.
wine_narrow_face_files() {
  local dirs=() d
  for d in /usr/share/fonts /usr/local/share/fonts "${HOME:-/nonexistent}/.local/share/fonts" \
    "${HOME:-/nonexistent}/.fonts"; do
    [ -d "$d" ] && dirs+=("$d")
  done
  [ ${#dirs[@]} -gt 0 ] || return 0
  find "${dirs[@]}" -type f \( -iname '*SansNarrow*' -o -iname 'arialn*' \) 2>/dev/null
}

# Windows 10's default colours (HKCU\Control Panel\Colors).
wine_colours_windows10() {
  cat <<'EOF'
ActiveBorder=180 180 180
ActiveTitle=153 180 209
AppWorkspace=171 171 171
Background=0 0 0
ButtonAlternateFace=0 0 0
ButtonDkShadow=105 105 105
ButtonFace=240 240 240
ButtonHilight=255 255 255
ButtonLight=227 227 227
ButtonShadow=160 160 160
ButtonText=0 0 0
GradientActiveTitle=185 209 234
GradientInactiveTitle=215 228 242
GrayText=109 109 109
Hilight=0 120 215
HilightText=255 255 255
HotTrackingColor=0 102 204
InactiveBorder=244 247 252
InactiveTitle=191 205 219
InactiveTitleText=0 0 0
InfoText=0 0 0
InfoWindow=255 255 225
Menu=240 240 240
MenuBar=240 240 240
MenuHilight=0 120 215
MenuText=0 0 0
Scrollbar=200 200 200
TitleText=0 0 0
Window=255 255 255
WindowFrame=100 100 100
WindowText=0 0 0
EOF
}

# Windows 10's High Contrast Black. Wine cannot switch high contrast itself
# on (SPI_SETHIGHCONTRAST fails), but it draws with these colours.
wine_colours_high_contrast() {
  cat <<'EOF'
ActiveBorder=255 255 255
ActiveTitle=0 0 0
AppWorkspace=0 0 0
Background=0 0 0
ButtonAlternateFace=192 192 192
ButtonDkShadow=255 255 255
ButtonFace=0 0 0
ButtonHilight=255 255 255
ButtonLight=255 255 255
ButtonShadow=255 255 255
ButtonText=255 255 255
GradientActiveTitle=0 0 0
GradientInactiveTitle=0 0 0
GrayText=63 242 63
Hilight=26 235 255
HilightText=0 0 0
HotTrackingColor=255 255 0
InactiveBorder=255 255 255
InactiveTitle=0 0 0
InactiveTitleText=255 255 255
InfoText=255 255 255
InfoWindow=0 0 0
Menu=0 0 0
MenuBar=0 0 0
MenuHilight=128 0 128
MenuText=255 255 255
Scrollbar=0 0 0
TitleText=255 255 255
Window=0 0 0
WindowFrame=255 255 255
WindowText=255 255 255
EOF
}

# The registry of the base bed, as a REGEDIT4 file on stdout.
wine_bed_base_registry() {
  printf 'REGEDIT4\n\n'
  # With no window manager on a virtual display, Wine would wait 2 s for one
  # to withdraw each closing window it believes managed.
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n\n'
  # Windows draws this exe's controls unthemed: it asks for no visual styles.
  # Wine 8 would theme them anyway while a theme is active.
  printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager]\n"ThemeActive"="0"\n\n'
  wine_colours_registry wine_colours_windows10
}

wine_colours_registry() {
  printf '[HKEY_CURRENT_USER\\Control Panel\\Colors]\n'
  "$1" | sed 's/^\([A-Za-z]*\)=\(.*\)$/"\1"="\2"/'
  printf '\n'
}

# What a variant changes in the base bed's registry.
wine_bed_variant_registry() {
  local dpi
  printf 'REGEDIT4\n\n'
  [ "$(wine_bed)" != high-contrast ] || wine_colours_registry wine_colours_high_contrast
  if [ "$(wine_dpi)" != 96 ]; then
    dpi=$(printf 'dword:%08x' "$(wine_dpi)")
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=%s\n\n' "$dpi"
    printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\n'
    printf '"LogPixels"=%s\n\n' "$dpi"
  fi
}

# Imports a REGEDIT4 file, then ends the prefix's wineserver: Wine reads the
# colours and the DPI when its server starts.
wine_registry_import() {
  local file=$1
  "$WINE" regedit /S "Z:${file//\//\\}" >/dev/null 2>&1 || return 1
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
}

# Wine's own Tahoma, which Debian ships but Wine does not find by itself: the
# regular face as it is (metric-compatible with Windows'), the bold one with
# its stems thickened to a bold weight (made once per build tree and bed version).
wine_tahoma_install() {
  local fonts=$1 bold here
  bold=$VELQUOR_BED_DIR/tahomabd-bed$(wine_bed_version).ttf
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  if [ ! -s "$bold" ]; then
    mkdir -p "$VELQUOR_BED_DIR"
    # fontforge writes the format its name ends with.
    if ! /usr/bin/python3 "$here/tahoma-bold.py" /usr/share/wine/fonts/tahomabd.ttf "${bold%.ttf}-new.ttf" \
      >/dev/null 2>&1; then
      say "could not make the bed's Tahoma Bold; is python3-fontforge installed? (scripts/install-deps.sh)"
      return 1
    fi
    mv "${bold%.ttf}-new.ttf" "$bold"
  fi
  cp /usr/share/wine/fonts/tahoma.ttf "$fonts/"
  cp "$bold" "$fonts/tahomabd.ttf"
}

wine_prefix_ready() { [ "$(cat "$1/.ready" 2>/dev/null)" = "bed $(wine_bed_version)" ]; }
wine_prefix_mark_ready() { echo "bed $(wine_bed_version)" >"$1/.ready"; }

# Makes the prefix of the bed and DPI asked for, once. The base bed at 96 dpi
# takes about 15 s; a variant is the base, copied (Windows' own files
# hard-linked), with its registry changes, in a few seconds.
wine_prefix_ensure() {
  wine_prefix_ready "$WINEPREFIX" && return 0
  wine_bed_locale_present || {
    say "the $(wine_bed_locale) locale is missing: run scripts/install-deps.sh as root"
    return 1
  }
  wine_base_prefix_ensure || return 1
  [ "$WINEPREFIX" = "$WINE_BASE_PREFIX" ] || (wine_variant_prefix_make)
}

wine_base_prefix_ensure() {
  wine_prefix_ready "$WINE_BASE_PREFIX" && return 0
  local WINEPREFIX=$WINE_BASE_PREFIX registry
  say "creating the private Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  if ! WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >/dev/null 2>&1; then
    say "wineboot could not create the prefix; is wine installed? (scripts/install-deps.sh)"
    return 1
  fi
  "$WINESERVER" -w
  wine_tahoma_install "$WINEPREFIX/drive_c/windows/Fonts" || return 1
  registry=$WINEPREFIX/bed.reg
  wine_bed_base_registry >"$registry"
  wine_registry_import "$registry" || { say "could not write the bed's registry"; return 1; }
  wine_prefix_mark_ready "$WINEPREFIX"
}

wine_variant_prefix_make() {
  local variant=$WINEPREFIX base=$WINE_BASE_PREFIX
  say "making the Wine prefix of the $(wine_bed) bed at $(wine_dpi) dpi in $variant"
  rm -rf "$variant"
  mkdir -p "$variant/drive_c"
  # Windows' own files are only read: linked. Everything else is copied.
  cp -al "$base/drive_c/windows" "$variant/drive_c/"
  find "$base/drive_c" -mindepth 1 -maxdepth 1 ! -name windows -exec cp -a {} "$variant/drive_c/" \;
  cp -a "$base/dosdevices" "$base/.update-timestamp" "$base"/*.reg "$variant/"
  wine_bed_variant_registry >"$variant/variant.reg"
  wine_registry_import "$variant/variant.reg" || { say "could not write the variant's registry"; return 1; }
  wine_prefix_mark_ready "$variant"
}

# ----- a display and a wineserver -----

display_opens() { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }

# Uses the caller's display when it opens; otherwise starts an Xvfb of our own,
# ended when the script exits.
display_start() {
  display_opens && return 0
  if [ -n "${DISPLAY:-}" ] && [ -z "${VELQUOR_HEADLESS:-}" ]; then
    say "the display $DISPLAY cannot be opened; starting a virtual one instead"
  fi
  local fd_file tries=0
  fd_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  on_exit display_stop
  while [ ! -s "$fd_file" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
  if [ ! -s "$fd_file" ]; then
    say "Xvfb did not start; is the xvfb package installed? (scripts/install-deps.sh)"
    rm -f "$fd_file"
    return 1
  fi
  DISPLAY=:$(tr -d '\n' <"$fd_file")
  export DISPLAY
  rm -f "$fd_file"
  if ! xdpyinfo >/dev/null 2>&1; then
    say "the virtual display $DISPLAY cannot be opened"
    return 1
  fi
}

display_stop() {
  if [ -n "${xvfb_pid:-}" ]; then
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
  display_start || return 1
  on_exit wineserver_stop
  wine_prefix_ensure || return 1
  wineserver_start
}

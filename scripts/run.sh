#!/usr/bin/env bash
# Builds the launcher and shows it under Wine: on $DISPLAY when it opens,
# otherwise on a virtual display. Puts a demo product at C:\VELQUOR\NORVASK.exe
# unless the private prefix already has one, and saves a screenshot of each
# stage to build/.
# Usage: run.sh [--docs] [--bed office|high-contrast] [--dpi DPI]
#   --bed   with Office's narrow face, or in High Contrast Black (the default
#           is the base bed: a Brazilian Windows 10 without Office)
#   --dpi   at that display scale, 144 for 150 %
#   --docs  also copies the screenshots to docs/; alone, it makes every
#           screenshot the README shows
# Each bed and DPI has a Wine prefix of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"
docs=false bed="" dpi=""
usage() { echo "usage: run.sh [--docs] [--bed office|high-contrast] [--dpi DPI]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --docs) docs=true ;;
    --bed) [ $# -gt 1 ] || usage; bed=$2; shift ;;
    --dpi) [ $# -gt 1 ] || usage; dpi=$2; shift ;;
    *) usage ;;
  esac
  shift
done
export VELQUOR_BED=${bed:-base} VELQUOR_DPI=${dpi:-96}
wine_bed_check || exit 2

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" >/dev/null

# The README's screenshots: the base bed at 96 and 144 dpi, then each variant.
if $docs && [ -z "$bed" ] && [ -z "$dpi" ]; then
  status=0
  for shot in "base 96" "base 144" "high-contrast 96" "office 96"; do
    read -r b d <<<"$shot"
    bash "$0" --docs --bed "$b" --dpi "$d" || status=1
  done
  exit $status
fi

# A virtual display large enough for the scaled window.
export XVFB_SCREEN=${XVFB_SCREEN:-$((1280 * VELQUOR_DPI / 96))x$((1024 * VELQUOR_DPI / 96))x24}
suffix=
[ "$VELQUOR_BED" = base ] || suffix+=-$VELQUOR_BED
[ "$VELQUOR_DPI" = 96 ] || suffix+=-${VELQUOR_DPI}dpi
wine_env_init
arch=$(runnable_arch)
exe=$build_dir/$arch/src/main/VELQUOR.exe

wine_session_start

product=$WINEPREFIX/drive_c/VELQUOR/NORVASK.exe
if [ ! -e "$product" ]; then
  mkdir -p "$(dirname "$product")"
  cp "$build_dir/$arch/stand-in/NORVASK.exe" "$product"
  say "put the demo product at C:\\VELQUOR\\NORVASK.exe"
fi

# Crops the screen to the splash window and saves it.
shoot() {
  local out=$1 geometry
  geometry=$(xwininfo -name frm_abertura 2>/dev/null |
    awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width/{w=$NF} /Height/{h=$NF}
         END{if (w) printf "%dx%d+%d+%d", w, h, x, y}')
  [ -n "$geometry" ] || { say "the splash window was not found for $out"; return 1; }
  /usr/bin/import -window root -crop "$geometry" +repage "$out"
  say "saved $out"
}

"$WINE" "$exe" &
launcher=$!
for _ in $(seq 100); do xwininfo -name frm_abertura >/dev/null 2>&1 && break; sleep 0.05; done
sleep 0.4
shoot "$build_dir/splash-recebendo$suffix.png" || true
sleep 1.0   # past the first tick; the demo product is still loading
shoot "$build_dir/splash-aguarde$suffix.png" || true
# Under set -e a failing launcher would end the script before its code is told.
code=0
wait "$launcher" || code=$?
say "the launcher exited with code $code"
if $docs; then
  mkdir -p "$root/docs"
  cp "$build_dir/splash-recebendo$suffix.png" "$build_dir/splash-aguarde$suffix.png" "$root/docs/"
fi
exit "$code"

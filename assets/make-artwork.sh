#!/usr/bin/env bash
# Draws the VELQUOR splash artwork from scratch with ImageMagick 6 (Debian's
# "imagemagick" package) and writes, next to this script:
#   banner.jpg   960 x 209 progressive JPEG in four scans, the band across the top of the splash
#   logo.png     989 x 989 RGBA PNG, the emblem shown at the left under the band
#   VELQUOR.ico  the application icon (16, 24, 32, 48, 64 and 256 px, 32-bit alpha)
# The output is deterministic: running it again gives the same bytes.
#
# Usage: assets/make-artwork.sh [output-directory]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
IM=/usr/bin/convert          # plain "convert" may be something else on PATH
JPEGTRAN=/usr/bin/jpegtran   # Debian's libjpeg-turbo-progs
ZOPFLIPNG=/usr/bin/zopflipng # Debian's zopfli
PYTHON=/usr/bin/python3
FONT_DIR=/usr/share/fonts/truetype/liberation
FONT_TEXT=$FONT_DIR/LiberationSans-Regular.ttf

[ -x "$IM" ] || { echo "make-artwork: $IM (ImageMagick 6) is missing" >&2; exit 1; }
[ -x "$JPEGTRAN" ] || { echo "make-artwork: $JPEGTRAN (libjpeg-turbo-progs) is missing" >&2; exit 1; }
[ -x "$ZOPFLIPNG" ] || { echo "make-artwork: $ZOPFLIPNG (zopfli) is missing" >&2; exit 1; }
[ -x "$PYTHON" ] || { echo "make-artwork: $PYTHON (python3) is missing" >&2; exit 1; }
[ -f "$FONT_TEXT" ] || { echo "make-artwork: $FONT_TEXT (fonts-liberation) is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# No timestamps, no comments, no thread-count dependent results.
export MAGICK_THREAD_LIMIT=1
PNG_CLEAN=(-define 'png:exclude-chunks=date,time,tIME,zTXt,tEXt,iTXt' -strip)

# Palette (shared by the band, the emblem and the icon)
NAVY_DEEP='#071529'
NAVY='#0B2447'
BLUE='#14406E'
TEAL='#11878F'
V_LEFT='#FFFFFF'
V_RIGHT='#CBEFEC'

# ---------------------------------------------------------------- emblem ----
# A pointy-top hexagon with slightly rounded corners, filled with a diagonal
# navy-to-teal gradient, a thin aqua inner rim, and a faceted white "V" with a
# flat foot.  Drawn on a 1000-unit design square, rendered at $1 pixels.
#   $1 size in px   $2 hexagon radius (design units)
#   $3 detail: full (the rim is drawn from 48 px up) | simple (bolder "V", no rim)
#   $4 shadow: yes|no   $5 output file
hex_points() { # cx cy r scale -> "x,y x,y ..."
  awk -v cx="$1" -v cy="$2" -v r="$3" -v s="$4" 'BEGIN {
    pi = atan2(0, -1)
    for (i = 0; i < 6; i++) {
      a = (-90 + 60 * i) * pi / 180
      printf "%.2f,%.2f ", (cx + r * cos(a)) * s, (cy + r * sin(a)) * s
    }
  }'
}
scale_points() { # scale "x,y x,y ..." -> scaled points
  awk -v s="$1" -v p="$2" 'BEGIN {
    n = split(p, a, " ")
    for (i = 1; i <= n; i++) { split(a[i], xy, ","); printf "%.2f,%.2f ", xy[1] * s, xy[2] * s }
  }'
}

draw_emblem() {
  local size=$1 radius=$2 detail=$3 shadow=$4 dest=$5
  local ss=4; [ "$size" -ge 500 ] && ss=3      # supersampling factor
  local big=$((size * ss))
  local s; s=$(awk -v b="$big" 'BEGIN { printf "%.6f", b / 1000 }')
  local corner; corner=$(awk -v s="$s" 'BEGIN { printf "%.2f", 46 * s }')
  # The rounded corners come from a round-joined stroke, so shrink the polygon
  # by half the stroke to keep the outer size.
  local hex_in; hex_in=$(hex_points 500 500 "$((radius - 23))" "$s")
  local rim; rim=$(hex_points 500 500 "$((radius - 58))" "$s")
  local rim_w; rim_w=$(awk -v s="$s" 'BEGIN { printf "%.2f", 11 * s }')

  # "V": two facets meeting on the centre line, a flat foot.
  local vl vr
  if [ "$detail" = full ]; then
    vl=$(scale_points "$s" "282,318 418,318 500,566 500,742 438,742")
    vr=$(scale_points "$s" "500,566 582,318 718,318 562,742 500,742")
  else # bolder and a little bigger, for 16/24 px
    vl=$(scale_points "$s" "250,290 428,290 500,520 500,770 426,770")
    vr=$(scale_points "$s" "500,520 572,290 750,290 574,770 500,770")
  fi

  # hexagon mask
  "$IM" -size "${big}x${big}" xc:black -fill white -stroke white \
    -strokewidth "$corner" -draw "stroke-linejoin round polygon $hex_in" \
    "$work/mask.png"
  # diagonal gradient clipped to the hexagon
  local g1 g2
  g1=$(awk -v b="$big" 'BEGIN { printf "%d,%d", b * 0.22, b * 0.08 }')
  g2=$(awk -v b="$big" 'BEGIN { printf "%d,%d", b * 0.80, b * 0.95 }')
  "$IM" -size "${big}x${big}" xc: \
    -sparse-color Barycentric "$g1 $NAVY  $g2 $TEAL" \
    "$work/mask.png" -alpha off -compose CopyOpacity -composite \
    "$work/body.png"
  # the left half of the hexagon a shade lighter: a folded, faceted look
  # that continues the split of the "V"
  "$IM" "$work/mask.png" -fill black -draw "rectangle $((big / 2)),0 $big,$big" \
    -evaluate multiply 0.08 \( -size "${big}x${big}" xc:'#96EBE4' \) +swap \
    -alpha off -compose CopyOpacity -composite "$work/fold.png"

  local layers=("$work/body.png" "$work/fold.png")
  if [ "$detail" = full ] && [ "$size" -ge 48 ]; then
    "$IM" -size "${big}x${big}" xc:none -fill none -stroke "rgba(127,231,220,0.55)" \
      -strokewidth "$rim_w" -draw "stroke-linejoin round polygon $rim" "$work/rim.png"
    layers+=("$work/rim.png")
  fi
  "$IM" -size "${big}x${big}" xc:none -stroke none \
    -fill "$V_LEFT" -draw "polygon $vl" \
    -fill "$V_RIGHT" -draw "polygon $vr" "$work/v.png"
  layers+=("$work/v.png")

  "$IM" "${layers[@]}" -background none -compose Over -layers flatten "$work/art.png"

  if [ "$shadow" = yes ]; then
    local off blur
    off=$(awk -v s="$s" 'BEGIN { printf "%d", 16 * s }')
    blur=$(awk -v s="$s" 'BEGIN { printf "%.2f", 16 * s }')
    "$IM" "$work/mask.png" -alpha off \
      \( -size "${big}x${big}" xc:"$NAVY_DEEP" \) +swap -compose CopyOpacity -composite \
      -channel A -evaluate multiply 0.45 +channel \
      -background none -gravity center -extent "${big}x${big}" \
      -page "+0+$off" -background none -flatten \
      -channel RGBA -blur "0x$blur" +channel "$work/shadow.png"
    "$IM" "$work/shadow.png" "$work/art.png" -compose Over -composite "$work/art.png"
  fi
  "$IM" "$work/art.png" -filter Lanczos -resize "${size}x${size}" "$dest"
  rm -f "$work/rim.png"
}

# ----------------------------------------------------------------- logo -----
# The launcher stretches the 989 x 989 picture to 202 x 170, i.e. 1.188 times
# wider than tall.  The emblem is drawn narrower by that factor so that it
# looks right (not flattened) on screen.
draw_emblem 1000 430 full yes "$work/emblem-logo.png"
"$IM" "$work/emblem-logo.png" -filter Lanczos -resize '832x989!' \
  -background none -gravity center -extent 989x989 \
  -channel RGBA -depth 8 +channel \
  "${PNG_CLEAN[@]}" -define png:compression-level=9 -define png:compression-filter=2 \
  -define png:compression-strategy=0 -interlace none \
  "PNG32:$work/logo.png"
# The same pixels in a stream 8 % smaller (rows unfiltered, zopfli), which inflates as fast.
"$ZOPFLIPNG" -y --iterations=5 --filters=0 "$work/logo.png" "$work/logo-zopfli.png" >/dev/null
# zopflipng may choose another colour type where it can; the logo stays 8-bit RGBA.
[ "$(od -An -tu1 -j24 -N2 "$work/logo-zopfli.png" | tr -s ' ')" = " 8 6" ] ||
  { echo "make-artwork: logo.png is no longer 8-bit RGBA" >&2; exit 1; }
# The transparent margins' runs copied from 64 bytes or more back: 5 % larger, inflates twice as fast.
"$PYTHON" "$here/far-matches.py" "$work/logo-zopfli.png" "$out/logo.png"

# ----------------------------------------------------------------- icon -----
# The icon is square on screen.  Large sizes carry the rim and a light
# shadow; 32 px drops both, and 16 and 24 px also use a bolder "V".
for n in 256 64 48; do draw_emblem "$n" 470 full yes "$work/icon-$n.png"; done
draw_emblem 32 488 full no "$work/icon-32.png"
draw_emblem 24 496 simple no "$work/icon-24.png"
draw_emblem 16 500 simple no "$work/icon-16.png"
icons=()
for n in 16 24 32 48 64 256; do
  "$IM" "$work/icon-$n.png" -channel RGBA -depth 8 +channel "${PNG_CLEAN[@]}" "PNG32:$work/i$n.png"
  icons+=("$work/i$n.png")
done
"$IM" "${icons[@]}" "${PNG_CLEAN[@]}" "$out/VELQUOR.ico"

# ---------------------------------------------------------------- banner ----
# A deep navy-to-teal band with a soft glow and a ribbon of thin, flowing
# light lines, and the name set small and spaced out at the right.
W=960 H=209 S=2
BW=$((W * S)) BH=$((H * S))

# left to right: deep navy, navy, blue, teal; then a slight top light and
# bottom shade
"$IM" -size "${BH}x${BW}" gradient:white-black -rotate 90 \
  \( -size 1x1 xc:"$NAVY_DEEP" xc:"$NAVY" xc:"$BLUE" xc:"$TEAL" xc:"$TEAL" +append \
     -filter Triangle -resize '256x1!' \) -clut \
  \( -size "${BW}x${BH}" gradient:'rgba(255,255,255,0.05)-rgba(0,8,20,0.30)' \) \
  -compose Over -composite "$work/band.png"

# soft glows, drawn small and enlarged so that they have no edges
GW=$((BW / 8)) GH=$((BH / 8))
"$IM" -size "${GW}x${GH}" xc:none \
  -fill "rgba(43,184,180,0.38)" -draw "ellipse $((GW * 62 / 100)),$((GH * 62 / 100)) $((GW * 20 / 100)),$((GH * 50 / 100)) 0,360" \
  -fill "rgba(127,231,220,0.16)" -draw "ellipse $((GW * 92 / 100)),$((GH * 8 / 100)) $((GW * 14 / 100)),$((GH * 45 / 100)) 0,360" \
  -fill "rgba(43,120,200,0.18)" -draw "ellipse $((GW * 22 / 100)),$((GH * 100 / 100)) $((GW * 20 / 100)),$((GH * 50 / 100)) 0,360" \
  -channel RGBA -blur 0x14 +channel -filter Gaussian -resize "${BW}x${BH}!" "$work/glow.png"

# ribbon of light lines: each a smooth sum of two sine waves, phase-shifted
waves=$(awk -v W="$BW" -v H="$BH" 'BEGIN {
  pi = atan2(0, -1)
  n = 9
  for (k = 0; k < n; k++) {
    t = k / (n - 1)
    # opacity rises towards the middle of the ribbon
    op = 0.10 + 0.30 * (1 - (2 * t - 1) ^ 2)
    printf "-stroke \"rgba(160,240,232,%.3f)\" -draw \"polyline", op
    for (x = -20; x <= W + 20; x += 12) {
      u = x / W
      # the ribbon rises from lower left to upper right and opens up
      c = H * (0.80 - 0.30 * u) + H * 0.08 * sin(2 * pi * (u * 1.1 + 0.15))
      spread = H * (0.015 + 0.30 * u * u)
      y = c + spread * (t - 0.5) * 2 * cos(2 * pi * (u * 0.55 + t * 0.06 - 0.05))
      printf " %.2f,%.2f", x, y
    }
    printf "\" "
  }
}')
eval "set -- $waves"
"$IM" -size "${BW}x${BH}" xc:none -fill none -strokewidth 3 "$@" "$work/lines.png"
# a faint wide bloom beneath the lines
"$IM" "$work/lines.png" -channel A -evaluate multiply 1.6 +channel \
  -channel RGBA -blur 0x10 +channel "$work/lines-bloom.png"

# the name: small, widely spaced, at the right
"$IM" -size "${BW}x${BH}" xc:none -font "$FONT_TEXT" -pointsize $((27 * S)) \
  -kerning $((11 * S)) -fill "rgba(255,255,255,0.92)" -gravity NorthEast \
  -annotate "+$((44 * S))+$((38 * S))" 'VELQUOR' \
  -fill "rgba(127,231,220,0.85)" -draw "rectangle $((BW - 44 * S - 34 * S)),$((82 * S)) $((BW - 44 * S)),$((82 * S + 3 * S))" \
  "$work/name.png"

"$IM" "$work/band.png" "$work/glow.png" "$work/lines-bloom.png" "$work/lines.png" "$work/name.png" \
  -background none -compose Over -layers flatten -alpha off \
  -filter Lanczos -resize "${W}x${H}!" \
  -colorspace sRGB -type TrueColor -depth 8 -sampling-factor 2x2,1x1,1x1 \
  -strip -quality 90 -interlace Plane "JPEG:$work/banner.jpg"
# Still progressive, with the same coefficients and so the same pixels, but in four scans
# (all DC, then each component's AC) instead of libjpeg's ten: it decodes in about 70 % of the time.
printf '%s\n' '0,1,2: 0-0, 0, 0 ;' '0: 1-63, 0, 0 ;' '1: 1-63, 0, 0 ;' '2: 1-63, 0, 0 ;' >"$work/scans.txt"
"$JPEGTRAN" -copy none -scans "$work/scans.txt" -outfile "$out/banner.jpg" "$work/banner.jpg"

echo "make-artwork: wrote $out/banner.jpg, $out/logo.png, $out/VELQUOR.ico" >&2

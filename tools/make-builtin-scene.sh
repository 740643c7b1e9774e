#!/bin/bash
# Renders the launcher's built-in fallback picture, scenes/orvane-scene.jpg:
# a ringed planet against a nebula, standing in the right half so the left
# half stays dark for the text the UI draws there.
#
# Everything is procedural and seeded, so running this again gives the same
# bytes; the result is committed and shipped inside the program.
#
# Needs ImageMagick 6 (Debian's /usr/bin/convert). Usage: make-builtin-scene.sh
set -eu

IM=/usr/bin/convert
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/scenes/orvane-scene.jpg"
# Tuned so the file lands near 170 KB: the UI scales it up to any window
# size, so it should not look blocky, but it is embedded in the executable.
QUALITY=${QUALITY:-90}

W=1920 H=1080
# Planet centre and radius in the full frame.
PX=1390 PY=545 PR=265

[ -x "$IM" ] || { echo "make-builtin-scene: $IM not found (apt-get install imagemagick)" >&2; exit 1; }

T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
mkdir -p "$(dirname "$OUT")"

source "$(dirname "${BASH_SOURCE[0]}")/paint-lib.sh"

# Filaments: peaks where the noise crosses its middle value.
ridges() { "$IM" "$1" -function Polynomial -4,4,0 -evaluate pow "$2" "$3"; }

# --- Nebula, rendered at half size: it is soft anyway. ------------------------
fbm 11 960 540 "$T/n1.miff"
fbm 23 960 540 "$T/n2.miff"
fbm 37 960 540 "$T/n3.miff"
ridges "$T/n3.miff" 14 "$T/r3.miff"

# Where the nebula may show: strongest around and above the planet, fading out
# towards the left edge.
"$IM" -size 1500x1100 radial-gradient:white-black \
      -crop 960x540+120+330 +repage -evaluate pow 1.6 "$T/focus.miff"
"$IM" -size 960x540 -define gradient:direction=east gradient:black-white \
      -evaluate pow 2.2 "$T/east.miff"
"$IM" "$T/focus.miff" "$T/east.miff" -compose Multiply -composite "$T/mask.miff"

"$IM" \
    \( "$T/n1.miff" -level 40%,100% -evaluate pow 1.6 \
       -colorspace sRGB +level-colors 'black,#5a2fb0' \) \
    \( "$T/n2.miff" -level 35%,100% -evaluate pow 1.5 \
       -colorspace sRGB +level-colors 'black,#1d5fae' \) \
    -compose Screen -composite \
    \( "$T/r3.miff" "$T/n1.miff" -compose Multiply -composite -level 0,70% \
       -colorspace sRGB +level-colors 'black,#c56cd8' \) \
    -compose Screen -composite \
    "$T/mask.miff" -compose Multiply -composite \
    \( -size 900x900 radial-gradient:white-black -evaluate pow 2.5 \
       -colorspace sRGB +level-colors 'black,#6a4a38' \) -geometry +610-480 -compose Screen -composite \
    -resize "${W}x${H}!" "$T/nebula.miff"

# --- Stars: the brightest few per mille of a noise field, plus a sparser set
# of larger, softer ones. Dimmed towards the left like the nebula. -------------
"$IM" -seed 51 -size "${W}x${H}" xc:black +noise Random -channel R -separate +channel \
      -level 99.8%,99.99% -evaluate pow 1.5 -blur 0x0.5 -level 0,60% "$T/s1.miff"
"$IM" -seed 52 -size 960x540 xc:black +noise Random -channel R -separate +channel \
      -level 99.95%,100% -filter Gaussian -resize "${W}x${H}!" -auto-level \
      -blur 0x1 -level 0,30% "$T/s2.miff"
"$IM" -size "${W}x${H}" -define gradient:direction=east gradient:gray40-white "$T/starfade.miff"
"$IM" "$T/s1.miff" "$T/s2.miff" -compose Screen -composite \
      "$T/starfade.miff" -compose Multiply -composite \
      -colorspace sRGB +level-colors 'black,#e4ebff' \
      "$T/stars.miff"

# --- Planet, built on a square tile around its centre. -----------------------
D=$((2 * PR))           # diameter
TS=$((D + 80))          # tile size, room for the atmosphere glow
TC=$((TS / 2))

# Surface: horizontal bands pushed around by noise, like a gas giant.
fbm 61 "$TS" "$TS" "$T/warp.miff"
"$IM" -seed 62 -size "1x64" xc:gray +noise Random -colorspace gray \
      -filter Gaussian -resize "${TS}x${TS}!" -auto-level "$T/bands.miff"
"$IM" -size "1x256" gradient:'#24606a'-'#b4e6da' -rotate 90 "$T/pal.miff"
"$IM" "$T/bands.miff" "$T/warp.miff" -define compose:args=0x40 -compose Displace -composite \
      "$T/warp.miff" -compose Overlay -composite \
      "$T/pal.miff" -clut "$T/surface.miff"

# Lambert lighting from the upper right, without -fx (too slow):
#   I = Lx*nx + Ly*ny + Lz*nz, with nx,ny from linear gradients and
#   nz = sqrt(1 - r^2) from a radial one.  L ~ (0.66, -0.42, 0.62).
"$IM" -size "${TS}x${TS}" -define gradient:direction=east gradient:black-white "$T/gx.miff"
"$IM" -size "${TS}x${TS}" gradient:black-white "$T/gy.miff"
"$IM" -size "${D}x${D}" radial-gradient:white-black -bordercolor black -border 40 \
      -function Polynomial -1,2,0 -evaluate pow 0.5 "$T/nz.miff"
# nx = gx*TS/PR - TC/PR  (likewise ny); the constant goes in via a white image.
"$IM" "$T/gx.miff" "$T/gy.miff" "$T/nz.miff" \( -size "${TS}x${TS}" xc:white \) \
      -poly "$(awk -v ts="$TS" -v tc="$TC" -v r="$PR" 'BEGIN {
              lx = 0.66; ly = -0.42; lz = 0.62; k = ts / r; c = tc / r;
              printf "%.4f,1 %.4f,1 %.4f,1 %.4f,1", lx*k, ly*k, lz, -(lx+ly)*c + 0.03 }')" \
      "$T/lambert.miff"
# Disc mask, and a rim on the lit side for the atmosphere.
"$IM" -size "${TS}x${TS}" xc:black -fill white \
      -draw "circle $TC,$TC $TC,$((TC - PR))" "$T/disc.miff"
"$IM" -size "${TS}x${TS}" xc:black -fill none -stroke white -strokewidth 5 \
      -draw "circle $TC,$TC $TC,$((TC - PR + 2))" -blur 0x9 \
      "$T/lambert.miff" -blur 0x4 -evaluate pow 0.7 -compose Multiply -composite \
      -level 0,45% -colorspace sRGB +level-colors 'black,#7fe3ff' \
      "$T/atmo.miff"
"$IM" "$T/surface.miff" \( "$T/lambert.miff" -evaluate pow 0.85 \) -compose Multiply -composite \
      "$T/disc.miff" -alpha off -compose CopyOpacity -composite "$T/planet.png"

# --- Ring: a radial density profile wrapped into a circle, then flattened and
# tilted. The half nearer the viewer is laid over the planet, the rest under. -
RI=$((PR * 130 / 100)) RO=$((PR * 195 / 100))
RT=$((2 * RO + 20)) RC=$((RO + 10))
"$IM" -seed 71 \
      \( -size 1x20 xc:gray +noise Random -colorspace gray -filter Gaussian -resize 1x200! \) \
      \( -size 1x70 xc:gray +noise Random -colorspace gray -filter Gaussian -resize 1x200! \) \
      -poly "0.7,1 0.3,1" -auto-level -level 5%,100% \
      \( -size 1x200 gradient:white-black -function Polynomial -4,4,0 -evaluate pow 0.3 \) \
      -compose Multiply -composite \
      \( -size 1x200 xc:white -fill black -draw "rectangle 0,128 0,133" -blur 0x1.5 \) \
      -compose Multiply -composite -resize 720x200! "$T/profile.miff"
"$IM" "$T/profile.miff" -virtual-pixel Edge -define distort:viewport="${RT}x${RT}+0+0" \
      -distort Polar "$RO,$RI $RC,$RC" -level 4%,85% "$T/ringflat.miff"
# Front half: the lower half of the flat disc.
"$IM" "$T/ringflat.miff" \( -size "${RT}x${RT}" xc:black -fill white \
      -draw "rectangle 0,$RC $RT,$RT" \) -compose Multiply -composite "$T/ringfront.miff"

TILT=-14
place_ring() {  # flatten, tilt and move the ring tile into the full frame
    "$IM" "$1" -virtual-pixel black -define distort:viewport="${W}x${H}+0+0" \
          -distort SRT "$RC,$RC 1,0.2 $TILT $PX,$PY" "$2"
}
place_ring "$T/ringflat.miff" "$T/ring_all.miff"
place_ring "$T/ringfront.miff" "$T/ring_front.miff"
# Lit from the right like the planet; pale, slightly warm dust.
"$IM" -size "${W}x${H}" -define gradient:direction=east gradient:gray20-white "$T/ringlight.miff"
for p in all front; do
    "$IM" "$T/ring_$p.miff" "$T/ringlight.miff" -compose Multiply -composite \
          \( +clone -fill '#f2dcc0' -colorize 100 \) \
          +swap -alpha off -compose CopyOpacity -composite "$T/ring_$p.png"
done

# --- A small craft crossing the lit face, heading off to the left: a flat
# silhouette with a hot engine behind it. ------------------------------------
SHIP="translate 1490,650 rotate 8 scale 1.35,1.35"
SHIP_HULL="polygon 0,0 38,-7 62,-9 70,-22 82,-22 86,-9 104,-7 108,-3 108,3 104,7 86,9 82,20 72,20 64,9 38,7"
"$IM" -size "${W}x${H}" xc:none -fill '#05070b' -draw "$SHIP $SHIP_HULL" \
      -fill '#2a3a44' -draw "$SHIP polygon 38,-7 62,-9 86,-9 104,-7 86,-5 60,-5" "$T/ship.png"
"$IM" -size "${W}x${H}" xc:black -fill white -draw "$SHIP circle 111,0 111,4.5" -blur 0x3 \
      \( +clone -blur 0x14 \) -compose Screen -composite -level 0,45% \
      -colorspace sRGB +level-colors 'black,#9ff0ff' "$T/engine.miff"

# --- Assemble. ------------------------------------------------------------------
OX=$((PX - TC)) OY=$((PY - TC))
"$IM" -size "${W}x${H}" xc:'#020308' \
      "$T/nebula.miff" -compose Screen -composite \
      "$T/stars.miff" -compose Screen -composite \
      "$T/ring_all.png" -compose Over -composite \
      "$T/planet.png" -geometry "+$OX+$OY" -compose Over -composite \
      "$T/atmo.miff" -geometry "+$OX+$OY" -compose Screen -composite \
      "$T/ring_front.png" -geometry +0+0 -compose Over -composite \
      "$T/ship.png" -compose Over -composite \
      "$T/engine.miff" -compose Screen -composite \
      -colorspace sRGB -type TrueColor \
      -strip -interlace none -sampling-factor 2x2 -quality "$QUALITY" \
      "JPEG:$T/scene.jpg"
# Replace the committed file only once the new one is complete.
mv -f "$T/scene.jpg" "$OUT"

echo "wrote $OUT ($(stat -c %s "$OUT") bytes)"

#!/bin/bash
# Renders the launcher's scene pictures into OUTDIR:
#   vexil-squad.jpg      armoured squad on a ridge under a red-orange sky
#   galactic-battle.jpg  warships and laser fire in a blue-violet nebula
#   orvane-ground.jpg    an outpost on an alien world at dusk, teal-green
# All 1920x1080 baseline JPEGs, darker on the left third where the UI puts
# text. Procedural and seeded, so the same script always gives the same bytes.
#
# Needs ImageMagick 6 (Debian's /usr/bin/convert). Usage: make-assets.sh OUTDIR
set -eu

IM=/usr/bin/convert
export LC_ALL=C   # awk and -draw must use '.' decimals

[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
OUTDIR=$1
SELF=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
NAMES="vexil-squad galactic-battle orvane-ground"

# Nothing to do when every picture is newer than this script.
fresh=1
for n in $NAMES; do
    [ "$OUTDIR/$n.jpg" -nt "$SELF" ] && [ "$OUTDIR/$n.jpg" -nt "$(dirname "$SELF")/paint-lib.sh" ] || fresh=0
done
[ $fresh = 1 ] && exit 0

[ -x "$IM" ] || { echo "make-assets: $IM not found (apt-get install imagemagick)" >&2; exit 1; }
mkdir -p "$OUTDIR"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

W=1920 H=1080
QUALITY=88

source "$(dirname "${BASH_SOURCE[0]}")/paint-lib.sh"

# Star field: the brightest few per mille of a uniform noise field.
#   stars SEED PERMILLE OUTFILE
stars() {
    "$IM" -seed "$1" -size "${W}x${H}" xc:black +noise Random -channel R -separate +channel \
          -level "$(awk -v p="$2" 'BEGIN { print 100 - p/10 }')%,99.99%" -evaluate pow 1.5 -blur 0x0.5 -level 0,60% "$3"
}

# Left-to-right shade applied last: dark in the left third, untouched past
# the middle. Built as one row and stretched, which is much cheaper.
#   shade_mask DARKEST OUTFILE
shade_mask() {
    "$IM" -size "${W}x1" -define gradient:direction=east gradient:black-white \
          -level 0,55% -evaluate pow 0.9 +level "$1",100% -scale "${W}x${H}!" "$2"
}

# Glow around bright marks: blurred at a quarter of the size (a soft halo
# needs no detail) and laid back over the sharp original.
GLOW=( '(' +clone -scale 25% -blur 0x2 -resize "${W}x${H}!" ')' -compose Screen -composite )

# Write the final JPEG: sRGB, 3 components, baseline, no metadata. Goes to a
# temporary name first so an interrupted run never leaves a "fresh" picture.
save() {  # save INFILE NAME
    "$IM" "$1" -colorspace sRGB -type TrueColor -strip -interlace none \
          -sampling-factor 2x2 -quality "$QUALITY" "JPEG:$OUTDIR/.$2.tmp"
    mv -f "$OUTDIR/.$2.tmp" "$OUTDIR/$2.jpg"
}

# --- vexil-squad ---------------------------------------------------------------
vexil_squad() {
    local d=$T/vs; mkdir -p "$d"
    # Dusk sky: a palette ramp mapped onto a vertical gradient.
    "$IM" -size 960x540 gradient:black-white -evaluate pow 1.15 \
          \( -size 1x1 xc:'#140408' xc:'#3d0a0e' xc:'#8a1c14' xc:'#d2461c' xc:'#ff8a36' xc:'#ffc27a' \
             +append -filter Cubic -resize 256x1! \) -clut "$d/sky.miff"
    # Long horizontal cloud banks, lit from below by the sun.
    fbm 101 320 540 "$d/c.miff"
    "$IM" "$d/c.miff" -resize 960x540! -level 45%,78% \
          \( -size 960x540 gradient:white-black -level 20%,100% \) -compose Multiply -composite \
          "$d/cloud.miff"
    # Sun low over the hills, behind the squad, and its haze.
    "$IM" "$d/sky.miff" \
          \( "$d/cloud.miff" -negate -evaluate multiply 0.8 -evaluate add 20% \) \
          -compose Multiply -composite \
          \( -size 960x540 xc:black -fill white -draw "circle 700,318 700,288" -blur 0x2 \
             \( -size 760x760 radial-gradient:white-black -evaluate pow 2.2 \) \
             -geometry +320-62 -compose Screen -composite +geometry \
             -colorspace sRGB +level-colors 'black,#ffd9a0' \) -compose Screen -composite \
          -filter Lanczos -resize "${W}x${H}!" "$d/bg.miff"

    # Hills and the ridge as polygons from sums of sines (fixed phases, so no
    # randomness needed); the squad stands along the ridge's crest.
    local draw
    draw=$(awk -v W="$W" -v H="$H" '
    function ridge(x, base, amp, f1, f2, f3, p) {
        return base - amp*(0.55*sin(x*f1+p) + 0.3*sin(x*f2+2.1*p) + 0.15*sin(x*f3+0.7*p))
    }
    function poly(col, base, amp, f1, f2, f3, p, tilt,   x, s) {
        s = "fill " col " polygon 0," H
        for (x = 0; x <= W; x += 8)
            s = s sprintf(" %d,%.1f", x, ridge(x, base, amp, f1, f2, f3, p) - tilt*x/W)
        return s " " W "," H " "
    }
    # The crest the squad stands on: rises to the right.
    function crest(x) { return 985 - 250*smooth((x-500)/1000) - 10*sin(x*0.011+1.3) - 6*sin(x*0.031) }
    function smooth(t) { if (t < 0) t = 0; if (t > 1) t = 1; return t*t*(3-2*t) }
    # One armoured trooper, feet at the origin, about 230 units tall.
    # pose 0: banner bearer (cape, arm up), 1: rifle across the chest,
    # 2: rifle resting on the shoulder.
    function trooper(x, y, s, flip, pose,   g) {
        g = sprintf("push graphic-context translate %.1f,%.1f scale %.3f,%.3f ", x, y, s*flip, s)
        if (pose == 0) g = g "polygon -28,-180 -44,-168 -78,-40 -62,-22 -40,-34 -24,-70 "
        # boots, legs in a wide stance, knee guards, belt
        g = g "polygon -40,0 -12,0 -12,-13 -36,-13 polygon 12,0 40,0 36,-13 12,-13 "
        g = g "polygon -34,-8 -14,-8 -8,-52 -2,-102 -28,-104 -28,-54 "
        g = g "polygon 14,-8 34,-8 28,-54 28,-104 2,-102 8,-52 "
        g = g "polygon -33,-56 -22,-66 -12,-56 -22,-46 polygon 33,-56 22,-66 12,-56 22,-46 "
        g = g "polygon -30,-98 30,-98 31,-113 -31,-113 "
        # chest plate and angular pauldrons
        g = g "polygon -30,-108 30,-108 35,-132 43,-168 30,-181 -30,-181 -43,-168 -35,-132 "
        g = g "polygon -34,-183 -58,-177 -66,-160 -57,-149 -38,-156 "
        g = g "polygon 34,-183 58,-177 66,-160 57,-149 38,-156 "
        # neck, helmet with jaw guard and a comms antenna
        g = g "polygon -8,-178 8,-178 8,-190 -8,-190 "
        g = g "roundrectangle -16,-223 16,-188 10,10 polygon -19,-203 19,-203 17,-186 -17,-186 "
        g = g "polygon 11,-214 14,-215 23,-250 21,-251 "
        if (pose == 0) {
            g = g "polygon -56,-152 -44,-154 -47,-122 -58,-120 polygon -58,-124 -47,-128 -28,-110 -33,-102 "
            g = g "polygon 56,-152 46,-158 58,-196 68,-192 "
        } else {
            g = g "polygon -56,-152 -44,-154 -46,-124 -57,-121 polygon -57,-126 -46,-130 -16,-116 -20,-106 "
            g = g "polygon 56,-152 44,-154 46,-124 57,-121 polygon 57,-126 46,-130 20,-110 26,-101 "
        }
        if (pose == 1)
            g = g "push graphic-context translate -50,-96 rotate -32 polygon -18,-4 104,-4 112,-1 112,1 104,4 22,4 20,16 12,16 12,4 -18,4 pop graphic-context "
        else if (pose == 2)
            g = g "push graphic-context translate 18,-108 rotate -64 polygon -18,-4 110,-4 118,-1 118,1 110,4 22,4 20,16 12,16 12,4 -18,4 pop graphic-context "
        return g "pop graphic-context "
    }
    BEGIN {
        printf "%s", poly("#7a2618", 760, 38, 0.0042, 0.011, 0.029, 0.4, 40)
        printf "%s", poly("#451010", 820, 46, 0.0031, 0.0087, 0.024, 2.3, -60)
        printf "%s", poly("#1e0607", 905, 30, 0.0051, 0.013, 0.037, 4.1, 90)
        s = "fill #090203 polygon 0," H
        for (x = 0; x <= W; x += 6) s = s sprintf(" %d,%.1f", x, crest(x))
        printf "%s %d,%d ", s, W, H
        # Five troopers and a banner; nearer ones a little larger.
        n = split("1120 1245 1380 1515 1650", xs, " ")
        split("0.86 0.95 1.08 0.97 0.88", sc, " ")
        split("1 2 0 1 2", pose, " ")
        split("1 -1 1 1 -1", fl, " ")
        printf "fill #070102 "
        for (i = 1; i <= n; i++) printf "%s", trooper(xs[i], crest(xs[i]) + 6, sc[i], fl[i], pose[i])
        # Banner pole through the raised hand of the middle trooper, and a tattered pennant.
        bx = xs[3] + 62*sc[3]; by = crest(xs[3]) - 14
        printf "stroke #070102 stroke-width 6 line %.1f,%.1f %.1f,%.1f stroke none ", bx, by, bx + 15, by - 420
        fx = bx + 15; fy = by - 416
        printf "polygon %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f ", \
            fx, fy, fx+150, fy+18, fx+128, fy+44, fx+152, fy+70, fx+110, fy+76, fx+118, fy+104, fx+60, fy+92, fx+1, fy+110
    }')
    "$IM" "$d/bg.miff" -draw "$draw" "$d/scene.miff"

    # Visors catch the light: a short, glowing slit in each helmet.
    local visor
    visor=$(awk 'function smooth(t) { if (t < 0) t = 0; if (t > 1) t = 1; return t*t*(3-2*t) }
        function crest(x) { return 985 - 250*smooth((x-500)/1000) - 10*sin(x*0.011+1.3) - 6*sin(x*0.031) }
        BEGIN { split("1120 1245 1380 1515 1650", xs, " "); split("0.86 0.95 1.08 0.97 0.88", sc, " ")
            for (i = 1; i <= 5; i++)
                printf "push graphic-context translate %.1f,%.1f scale %.3f,%.3f rectangle -13,-212 13,-207 pop graphic-context ", xs[i], crest(xs[i]) + 6, sc[i], sc[i] }')
    shade_mask 0.18 "$d/shade.miff"
    "$IM" "$d/scene.miff" \
          \( -size "${W}x${H}" xc:black -fill white -draw "$visor" \
             "${GLOW[@]}" \
             -colorspace sRGB +level-colors 'black,#ff5a2a' \) -compose Screen -composite \
          "$d/shade.miff" -compose Multiply -composite "$d/final.miff"
    save "$d/final.miff" vexil-squad
}

# --- galactic-battle -----------------------------------------------------------
galactic_battle() {
    local d=$T/gb; mkdir -p "$d"
    # Nebula, at half size: blue body, violet clouds, magenta filaments.
    fbm 201 960 540 "$d/n1.miff"
    fbm 202 960 540 "$d/n2.miff"
    fbm 203 960 540 "$d/n3.miff"
    "$IM" -size 1400x1100 radial-gradient:white-black -crop 960x540+40+260 +repage \
          \( -size 960x540 -define gradient:direction=east gradient:gray15-white \) \
          -compose Multiply -composite "$d/mask.miff"
    "$IM" \
        \( "$d/n1.miff" -level 30%,100% -evaluate pow 1.3 -colorspace sRGB +level-colors 'black,#2446b8' \) \
        \( "$d/n2.miff" -level 45%,100% -evaluate pow 1.4 -colorspace sRGB +level-colors 'black,#7a2cc0' \) \
        -compose Screen -composite \
        \( "$d/n3.miff" -function Polynomial -4,4,0 -evaluate pow 16 \
           "$d/n2.miff" -compose Multiply -composite -level 0,60% \
           -colorspace sRGB +level-colors 'black,#d46ae0' \) -compose Screen -composite \
        "$d/mask.miff" -compose Multiply -composite \
        -filter Lanczos -resize "${W}x${H}!" "$d/neb.miff"
    stars 211 2 "$d/stars.miff"
    "$IM" "$d/neb.miff" \( "$d/stars.miff" -colorspace sRGB +level-colors 'black,#e8eeff' \) \
          -compose Screen -composite "$d/bg.miff"

    # Ships, fighters and the fire between them. Park-Miller numbers keep the
    # scatter of lights reproducible whatever awk is installed.
    awk -v dir="$d" '
    function rnd() { seed = (seed * 16807) % 2147483647; return seed / 2147483647 }
    function ctx(x, y, a, s) { return sprintf("push graphic-context translate %.1f,%.1f rotate %.2f scale %.3f,%.3f ", x, y, a, s, s) }
    function fighter(x, y, a, s) {
        return ctx(x, y, a, s) "polygon 0,0 24,-5 29,-17 35,-17 33,-5 42,-3 42,3 33,5 35,17 29,17 24,5 pop graphic-context "
    }
    BEGIN {
        seed = 4242
        hull = "polygon 0,0 130,-28 520,-66 760,-76 862,-62 880,-40 880,40 862,62 760,72 520,60 130,24 "
        hull = hull "polygon 380,-60 440,-104 600,-116 710,-102 760,-74 "
        hull = hull "polygon 560,-112 586,-150 650,-154 676,-116 "
        hull = hull "polygon 600,-148 606,-178 610,-178 614,-150 "
        hull = hull "polygon 860,-58 934,-66 934,66 860,58 "
        hull = hull "polygon 560,62 640,120 720,118 744,70 "
        big = ctx(990, 560, -7, 0.86)
        # distant enemy cruiser, hazy, upper right
        far = ctx(1540, 190, 172, 0.32)
        printf "fill #241f3e %s %s pop graphic-context ", far, hull > (dir "/far.mvg")
        printf "fill #0d111c stroke #46587e stroke-width 1.5 %s %s ", big, hull > (dir "/ship.mvg")
        # the upper faces catch the nebula light; dark panel seams
        printf "stroke none fill #1b2338 polygon 0,0 130,-28 520,-66 760,-76 862,-62 880,-40 880,-4 0,-1 polygon 440,-104 600,-116 710,-102 690,-90 450,-96 " > (dir "/ship.mvg")
        printf "stroke #070a12 stroke-width 3 line 130,0 860,0 line 300,-40 300,36 line 520,-64 520,58 line 700,-74 700,70 " > (dir "/ship.mvg")
        printf "pop graphic-context " > (dir "/ship.mvg")
        # fighters: ours heading right, theirs (turned about, red engines) heading left
        printf "fill #0a0c14 " > (dir "/ship.mvg")
        n = split("1180,330,-18,1.3 1290,270,-12,1.0 1400,380,-22,1.15 1660,520,160,0.9 1760,430,170,0.8 1120,800,-4,1.4 1500,860,8,1.1", f, " ")
        for (i = 1; i <= n; i++) { split(f[i], v, ","); printf "%s", fighter(v[1], v[2], v[3], v[4]) > (dir "/ship.mvg") }

        # lights: window rows on the big hull, engine bells on every craft
        printf "%s fill #d8b27a ", big > (dir "/lights.mvg")
        for (row = -40; row <= 40; row += 16)
            for (x = 160 + 40*(row < 0 ? -row : row)/8; x < 850; x += 9)
                if (rnd() < 0.33) printf "rectangle %d,%d %d,%d ", x, row, x + 3, row + 2 > (dir "/lights.mvg")
        printf "fill #8fe8ff ellipse 938,-40 5,11 0,360 ellipse 938,0 5,12 0,360 ellipse 938,40 5,11 0,360 " > (dir "/lights.mvg")
        printf "fill #ff4030 circle 608,-180 608,-176 pop graphic-context " > (dir "/lights.mvg")
        for (i = 1; i <= n; i++) {
            split(f[i], v, ",")
            printf "%s fill %s circle 45,0 45,4 pop graphic-context ", ctx(v[1], v[2], v[3], v[4]), (v[3] > 90 ? "#ff6a3a" : "#8fe8ff") > (dir "/lights.mvg")
        }

        # bolts: short dashes along firing lines, a coloured body and a white core
        printf "stroke-linecap round stroke-width 5 fill none " > (dir "/lasers.mvg")
        printf "stroke-linecap round stroke-width 1.6 fill none stroke white " > (dir "/cores.mvg")
        m = split("1205,330,1585,515,#3dff8a 1315,272,1505,205,#3dff8a 1425,378,1690,425,#3dff8a 1640,515,1250,560,#ff2e2e 1745,425,1420,300,#ff2e2e 1510,235,1150,470,#ff2e2e 1210,795,1560,650,#3dff8a 1560,210,1420,560,#ff2e2e 1470,215,1020,420,#ff2e2e 1150,600,1600,235,#3dff8a", L, " ")
        for (i = 1; i <= m; i++) {
            split(L[i], v, ",")
            dx = v[3] - v[1]; dy = v[4] - v[2]
            for (t = 0.05 + 0.2*rnd(); t < 0.9; t += 0.3 + 0.2*rnd()) {
                seg = sprintf("line %.1f,%.1f %.1f,%.1f ", v[1] + dx*t, v[2] + dy*t, v[1] + dx*(t + 0.13), v[2] + dy*(t + 0.13))
                printf "stroke %s %s", v[5], seg > (dir "/lasers.mvg")
                printf "%s", seg > (dir "/cores.mvg")
            }
        }
    }'

    # Explosions: a hot core and a ragged orange cloud where fire lands.
    fbm 204 960 540 "$d/n4.miff"
    "$IM" -size 960x540 xc:black -fill white \
          -draw "circle 770,100 770,84 circle 880,300 880,290 circle 604,232 604,226" -blur 0x4 \
          \( +clone -scale 25% -blur 0x6 -resize 960x540! -level 0,30% "$d/n4.miff" -compose Multiply -composite -level 0,60% \) \
          -compose Screen -composite \
          -colorspace sRGB +level-colors 'black,#ffa850' \
          \( -size 960x540 xc:black -fill white \
             -draw "circle 770,100 770,92 circle 880,300 880,295 circle 604,232 604,229" -blur 0x2 \) \
          -compose Screen -composite \
          -filter Lanczos -resize "${W}x${H}!" "$d/boom.miff"

    shade_mask 0.2 "$d/shade.miff"
    "$IM" "$d/bg.miff" \
          -fill none -draw "$(cat "$d/far.mvg")" \
          "$d/boom.miff" -compose Screen -composite \
          -draw "$(cat "$d/ship.mvg")" \
          \( -size "${W}x${H}" xc:black -draw "$(cat "$d/lights.mvg")" \
             "${GLOW[@]}" \) -compose Screen -composite \
          \( -size "${W}x${H}" xc:black -draw "$(cat "$d/lasers.mvg")" \
             "${GLOW[@]}" \
             -draw "$(cat "$d/cores.mvg")" \) -compose Screen -composite \
          "$d/shade.miff" -compose Multiply -composite "$d/final.miff"
    save "$d/final.miff" galactic-battle
}

# --- orvane-ground -------------------------------------------------------------
orvane_ground() {
    local d=$T/og; mkdir -p "$d"
    # Dusk sky over a teal world, with a big crescent moon hanging over the
    # outpost and a band of mist in the valley. Half size, it is all soft.
    "$IM" -size 960x540 gradient:black-white -evaluate pow 1.6 \
          \( -size 1x1 xc:'#020a0c' xc:'#06201f' xc:'#0f4a44' xc:'#2f8a72' xc:'#8fdcaa' \
             +append -filter Cubic -resize 256x1! \) -clut "$d/sky.miff"
    fbm 301 320 540 "$d/m.miff"
    # Moon: a lit disc minus a shifted dark disc leaves a crescent facing the
    # set sun (low right).
    "$IM" "$d/sky.miff" \
          \( -size 960x540 xc:black -fill white -draw "circle 760,150 760,60" \
             -fill black -draw "circle 730,130 730,44" -blur 0x1.2 \
             -colorspace sRGB +level-colors 'black,#d8f4e0' \) -compose Screen -composite \
          \( -size 960x540 xc:black -fill '#3a6a60' -draw "circle 760,150 760,60" \
             -fill black -draw "circle 730,130 730,44" -blur 0x14 -level 0,70% \) -compose Screen -composite \
          \( -size 960x540 xc:black -fill '#b8e8d0' -draw "circle 610,70 610,61" -blur 0x0.8 \) \
          -compose Screen -composite \
          \( "$d/m.miff" -resize 960x540! -level 50%,100% \
             \( -size 960x540 gradient:black-white -function Polynomial -5.5,5.8,-0.85 \) \
             -compose Multiply -composite -colorspace sRGB +level-colors 'black,#4fa890' \) \
          -compose Screen -composite \
          -filter Lanczos -resize "${W}x${H}!" "$d/sky2.miff"
    stars 311 1 "$d/stars.miff"
    # Stars thin out towards the horizon and are hidden behind both moons.
    "$IM" "$d/stars.miff" \( -size "${W}x${H}" gradient:white-black -level 35%,100% \) \
          -compose Multiply -composite \
          \( -size "${W}x${H}" xc:white -fill black \
             -draw "circle 1520,300 1520,118 circle 1220,140 1220,120" \) \
          -compose Multiply -composite -colorspace sRGB +level-colors 'black,#d8fff0' \
          "$d/sky2.miff" -compose Screen -composite "$d/bg.miff"

    # Terrain layers, mesas and the outpost: polygons from sums of sines.
    awk -v W="$W" -v H="$H" -v dir="$d" '
    function ridge(x, base, amp, f1, f2, f3, p) {
        return base - amp*(0.55*sin(x*f1+p) + 0.3*sin(x*f2+2.1*p) + 0.15*sin(x*f3+0.7*p))
    }
    function layer(col, base, amp, f1, f2, f3, p,   x, s) {
        s = "fill " col " polygon 0," H
        for (x = 0; x <= W; x += 8) s = s sprintf(" %d,%.1f", x, ridge(x, base, amp, f1, f2, f3, p))
        return s " " W "," H " "
    }
    # Flat-topped mesas along the horizon.
    function mesa(x, w, h, y) {
        return sprintf("polygon %d,%d %d,%d %d,%d %d,%d %d,%d %d,%d ", x, y, x+0.18*w, y-h, x+0.3*w, y-h-6, x+0.75*w, y-h-4, x+0.86*w, y-h, x+w, y)
    }
    BEGIN {
        out = dir "/land.mvg"
        printf "fill #1d5a52 %s%s", mesa(180, 260, 70, 760), mesa(640, 200, 50, 760) > out
        printf "%s", layer("#1d5a52", 770, 14, 0.004, 0.011, 0.03, 1.1) > out
        printf "%s", layer("#103c38", 805, 26, 0.0035, 0.009, 0.027, 2.7) > out
        printf "%s", layer("#082421", 860, 34, 0.0052, 0.014, 0.033, 0.3) > out
        # The plateau the outpost sits on, and the near ground.
        printf "fill #030d0c polygon 980,%d 1070,846 1160,822 1920,818 1920,%d ", H, H > out
        printf "%s", layer("#020807", 985, 30, 0.006, 0.017, 0.041, 5.2) > out
        # A rock spire on the plateau, boulders in the foreground.
        printf "fill #030d0c polygon 1830,820 1846,640 1858,600 1866,606 1872,680 1890,820 " > out
        printf "fill #020807 polygon 1560,1080 1580,960 1596,930 1610,936 1640,1000 1700,990 1712,1080 " > out
        printf "polygon 180,1080 230,990 262,976 300,1000 340,1080 " > out

        # Outpost: domes joined by tubes, a comms mast, a landing pad.
        o = dir "/base.mvg"
        printf "fill #061613 stroke #2c6a5c stroke-width 2 " > o
        printf "ellipse 1420,822 150,118 180,360 ellipse 1630,822 72,58 180,360 ellipse 1262,822 64,48 180,360 " > o
        printf "stroke none rectangle 1250,800 1560,814 rectangle 1550,804 1700,814 " > o
        printf "rectangle 1506,822 1530,500 polygon 1486,500 1550,500 1540,520 1496,520 " > o
        printf "stroke #061613 stroke-width 3 line 1518,500 1518,420 line 1518,440 1540,430 line 1518,460 1498,452 stroke none " > o
        printf "fill #061613 polygon 1700,818 1860,818 1850,806 1710,806 " > o
        # Dome ribs hint at the shape.
        printf "fill none stroke #0e2c27 stroke-width 2 ellipse 1420,822 100,118 180,360 ellipse 1420,822 48,118 180,360 ellipse 1420,822 150,70 180,360 " > o

        l = dir "/lamps.mvg"
        printf "fill #ffd890 " > l
        for (x = 1300; x < 1545; x += 14) if (x < 1395 || x > 1445) printf "rectangle %d,796 %d,801 ", x, x + 6 > l
        for (x = 1575; x < 1690; x += 14) printf "rectangle %d,802 %d,806 ", x, x + 6 > l
        printf "fill #e8c078 rectangle 1412,792 1428,822 " > l
        printf "rectangle 1511,560 1525,564 rectangle 1511,620 1525,624 rectangle 1511,680 1525,684 " > l
        printf "fill #7affd8 " > l
        for (x = 1712; x <= 1850; x += 23) printf "circle %d,804 %d,806.5 ", x, x > l
        printf "fill #ff3a2a circle 1518,418 1518,423 " > l
    }'

    shade_mask 0.2 "$d/shade.miff"
    "$IM" "$d/bg.miff" -draw "$(cat "$d/land.mvg")" -draw "$(cat "$d/base.mvg")" \
          \( -size "${W}x${H}" xc:black -draw "$(cat "$d/lamps.mvg")" \
             "${GLOW[@]}" "${GLOW[@]}" \) -compose Screen -composite \
          "$d/shade.miff" -compose Multiply -composite "$d/final.miff"
    save "$d/final.miff" orvane-ground
}

vexil_squad
galactic_battle
orvane_ground

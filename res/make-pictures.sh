#!/usr/bin/env bash
# Draws every picture of the program with ImageMagick (Debian package imagemagick) into
# res/pictures/. The results are committed, so a build never needs this script; run it again after
# changing a drawing here. Pictures with a magenta (255, 0, 255) background are drawn without
# anti-aliasing, so that every background pixel is exactly magenta and the program can replace it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/pictures"
IM="${IM:-}"
if [ -z "$IM" ]; then
    for c in /usr/bin/convert-im6.q16 /usr/bin/convert convert; do
        if command -v "$c" >/dev/null 2>&1; then IM="$c"; break; fi
    done
fi
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
sans=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
mono=/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"
png() { "$IM" "${@:1:$#-1}" -depth 8 -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt -strip "${@: -1}"; }

# A 40-pin-style chip seen from above: body x0,y0..x1,y1 with n pins on top and bottom; with an
# outline colour, the body has a one-pixel edge of it (the toolbar's chips read on light and dark).
chip() { # x0 y0 x1 y1 pins pinlen [outline]
    local x0=$1 y0=$2 x1=$3 y1=$4 n=$5 l=$6 edge=${7:-} s="" i px step
    step=$(( (x1 - x0) / n ))
    for ((i = 0; i < n; i++)); do
        px=$(( x0 + step / 2 + i * step - 1 ))
        s+=" fill #c0c0c0 rectangle $px,$((y0 - l)) $((px + 2)),$((y0 - 1))"
        s+=" fill #c0c0c0 rectangle $px,$((y1 + 1)) $((px + 2)),$((y1 + l))"
    done
    if [ -n "$edge" ]; then
        s+=" fill $edge rectangle $x0,$y0 $x1,$y1"
        s+=" fill #202020 rectangle $((x0 + 1)),$((y0 + 1)) $((x1 - 1)),$((y1 - 1))"
    else
        s+=" fill #202020 rectangle $x0,$y0 $x1,$y1"
    fi
    echo "$s"
}

# --- toolbar, bitmap 150: six 32 x 32 pictures side by side -------------------------------
M='#ff00ff'
"$IM" -size 32x32 xc:"$M" +antialias -stroke none \
    -draw "fill #8a6a10 polygon 2,8 12,8 14,11 28,11 28,27 2,27" \
    -draw "fill #f2c230 polygon 2,13 30,13 26,27 2,27" \
    -draw "fill #ffe07a polygon 4,15 28,15 27,17 3,17" "$tmp/t0.png"
"$IM" -size 32x32 xc:"$M" +antialias -stroke none \
    -draw "fill #1f4fa8 rectangle 3,3 28,28" \
    -draw "fill #1f4fa8 rectangle 4,4 29,29" \
    -draw "fill #e8e8e8 rectangle 8,4 23,14" \
    -draw "fill #1f4fa8 rectangle 18,6 21,12" \
    -draw "fill #ffffff rectangle 7,18 25,29" \
    -draw "fill #9090a0 rectangle 9,21 23,21 rectangle 9,24 23,24" "$tmp/t1.png"
"$IM" -size 32x32 xc:"$M" +antialias -fill none -stroke '#1d8a2e' -strokewidth 4 \
    -draw "arc 5,5 27,27 30,290" -stroke none \
    -draw "fill #1d8a2e polygon 17,0 27,7 17,14" "$tmp/t2.png"
"$IM" -size 32x32 xc:"$M" +antialias -stroke none \
    -draw "$(chip 3 18 28 27 6 3 '#9c9c9c')" -draw "fill #ffffff rectangle 5,20 7,22" \
    -draw "fill #d42020 rectangle 13,0 18,9 polygon 8,9 23,9 15,16" "$tmp/t3.png"
"$IM" -size 32x32 xc:"$M" +antialias -stroke none \
    -draw "$(chip 3 18 28 27 6 3 '#9c9c9c')" -draw "fill #ffffff rectangle 5,20 7,22" \
    -draw "fill #1f6fd0 rectangle 13,7 18,14 polygon 8,7 23,7 15,0" "$tmp/t4.png"
"$IM" -size 32x32 xc:"$M" +antialias -fill none -stroke '#707070' -strokewidth 4 \
    -draw "arc 8,2 24,22 180,360" -draw "line 10,12 10,15 line 22,12 22,15" -stroke none \
    -draw "fill #d9a400 rectangle 5,14 27,30" -draw "fill #f5c518 rectangle 6,15 26,29" \
    -draw "fill #3a2a00 circle 16,20 16,18 rectangle 15,21 17,26" "$tmp/t5.png"
png "$tmp"/t{0,1,2,3,4,5}.png +append -type TrueColor "$out/toolbar.png"

# --- row icons, bitmap 136: information, error, success, 16 x 16 each --------------------------
"$IM" -size 16x16 xc:"$M" +antialias -stroke none -draw "fill #1f5fd0 circle 7,7 7,0" \
    -draw "fill #ffffff rectangle 6,3 8,4 rectangle 6,6 8,11" "$tmp/r0.png"
"$IM" -size 16x16 xc:"$M" +antialias -stroke none -draw "fill #d01f1f circle 7,7 7,0" \
    -stroke '#ffffff' -strokewidth 2 -draw "line 4,4 10,10 line 10,4 4,10" "$tmp/r1.png"
"$IM" -size 16x16 xc:"$M" +antialias -stroke '#19a03a' -strokewidth 3 -fill none \
    -draw "polyline 2,8 6,12 13,3" "$tmp/r2.png"
png "$tmp"/r{0,1,2}.png +append -type TrueColor "$out/rowicons.png"

# --- icons 138 (the programmer) and 140 (the chip), and the application icon ---------------
png -size 32x32 xc:none -stroke none \
    -draw "fill #3a3f4a roundrectangle 2,8 24,26 3,3" \
    -draw "fill #5a8fd8 rectangle 5,11 14,15" -draw "fill #2ecc40 circle 19,13 19,11" \
    -draw "fill #b8b8b8 rectangle 24,13 30,21" -draw "fill #ffffff rectangle 26,15 28,16 rectangle 26,18 28,19" \
    -draw "fill #202020 rectangle 5,18 20,23" "$out/icon138.png"
appicon() { # size file
    local s=$1 f=$2
    png -size 64x64 xc:none -stroke none \
        -draw "fill #1f4fa8 roundrectangle 1,1 62,62 10,10" \
        -draw "$(chip 10 16 53 47 6 5)" \
        -draw "fill #f5c518 circle 15,21 15,19" \
        -fill '#ffffff' -font "$mono" -pointsize 22 -gravity center -annotate +2+1 '51' \
        -resize "${s}x${s}" "$f"
}
appicon 32 "$out/icon140.png"
for s in 32 48 64 128; do appicon "$s" "$out/veltro51-$s.png"; done
# At 16 pixels the scaled chip is a blur: the same blue tile drawn pixel by pixel, with "51" in
# strokes two pixels wide and a notch of the chip's pins along the top and the bottom.
png -size 16x16 xc:none +antialias -stroke none \
    -draw "fill #1f4fa8 roundrectangle 0,0 15,15 3,3" \
    -draw "fill #c0c0c0 rectangle 4,0 4,1 rectangle 7,0 8,1 rectangle 11,0 11,1" \
    -draw "fill #c0c0c0 rectangle 4,14 4,15 rectangle 7,14 8,15 rectangle 11,14 11,15" \
    -draw "fill #ffffff rectangle 2,3 6,4 rectangle 2,3 3,8 rectangle 2,7 6,8 rectangle 5,7 6,12 rectangle 2,11 6,12" \
    -draw "fill #ffffff rectangle 10,3 11,12 rectangle 8,5 9,6 rectangle 9,4 9,4 rectangle 8,11 13,12" \
    "$out/veltro51-16.png"

# --- splash, bitmap 144: 480 x 320 ---------------------------------------------------------
"$IM" -size 320x480 gradient:'#0b2a5c'-'#127a8a' -rotate -90 \
    -stroke none -fill '#ffffff20' -draw "circle 420,-40 420,200" \
    -draw "$(chip 300 150 440 250 10 12)" \
    -draw "fill #f5c518 circle 312,162 312,158" \
    -fill '#d0d0d0' -font "$mono" -pointsize 22 -annotate +330+210 'AT89S52' \
    -fill '#ffffff' -font "$bold" -pointsize 54 -annotate +28+96 'Veltro 51' \
    -fill '#cfe8ff' -font "$sans" -pointsize 17 -annotate +32+130 'USB Programmer for 89SXX MCUs' \
    -fill '#ffffff' -font "$sans" -pointsize 14 -annotate +32+290 'Version 2.4' \
    -fill '#cfe8ff' -font "$sans" -pointsize 14 -annotate +32+308 'Mardane' \
    -fill '#f5c518' -draw "rectangle 32,146 230,149" \
    -type TrueColor "$tmp/splash.png"
png "$tmp/splash.png" "$out/splash.png"

# --- animations: 146 the burn (20 frames of 208 x 40), 142 the read (12 frames of 32 x 28) -----
# On a transparent background, which the dialogs fill with their own colour. Every frame is whole
# and is cleared before the next, so that nothing of a moved block stays behind.
frames=()
for ((f = 0; f < 20; f++)); do
    d=""
    for ((k = 0; k < 4; k++)); do
        x=$(( 52 + ((f * 5 + k * 25) % 100) ))
        d+=" fill #$( [ $(( (f + k) % 2 )) -eq 0 ] && echo d42020 || echo 1f6fd0 ) rectangle $x,16 $((x + 6)),23"
    done
    "$IM" -size 208x40 xc:none +antialias -stroke none \
        -draw "fill #3a3f4a roundrectangle 4,6 46,34 4,4" -draw "fill #2ecc40 circle 14,14 14,11" \
        -draw "fill #5a8fd8 rectangle 22,10 40,18" -draw "fill #b8b8b8 rectangle 46,16 52,24" \
        -draw "$d" \
        -draw "$(chip 158 12 204 28 5 4)" -draw "fill #f5c518 circle 162,16 162,14" \
        -draw "fill #2ecc40 rectangle 158,36 $(( 158 + f * 46 / 19 )),38" \
        "$tmp/b$f.gif"
    frames+=("$tmp/b$f.gif")
done
"$IM" -delay 10 -loop 0 -dispose Background "${frames[@]}" "$out/burn.gif"
frames=()
for ((f = 0; f < 12; f++)); do
    y=$(( 16 - (f % 6) * 3 ))
    "$IM" -size 32x28 xc:none +antialias -stroke none \
        -draw "$(chip 4 18 27 25 4 2)" -draw "fill #f5c518 circle 6,20 6,19" \
        -draw "fill #1f6fd0 rectangle $(( 6 + (f % 3) * 8 )),$y $(( 10 + (f % 3) * 8 )),$(( y + 3 ))" \
        "$tmp/d$f.gif"
    frames+=("$tmp/d$f.gif")
done
"$IM" -delay 10 -loop 0 -dispose Background "${frames[@]}" "$out/read.gif"
echo "pictures written to $out"

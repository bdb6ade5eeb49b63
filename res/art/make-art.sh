#!/usr/bin/env bash
# Draws the launcher's background picture (bitmap 129, 600 x 300, 24 bits)
# and its icon (130, 16 to 256 pixels) with ImageMagick. The results are
# committed beside this script; run it again only to change the art.
set -euo pipefail
cd "$(dirname "$0")"
serif=/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc
sans=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Night sky: deep blue to violet with a warm glow above the horizon.
convert -size 600x300 gradient:'#070b26-#3b2d66' "$work/sky.png"
convert -size 600x300 radial-gradient:'#ff9f6b-none' -resize 900x260! -crop 600x300+150+0 +repage \
  -channel A -evaluate multiply 0.55 +channel "$work/glow.png"
# Stars from a fixed seed, so the picture is the same on every run.
convert -size 600x300 xc:none -seed 1394 +noise Random -channel G -separate +channel \
  -threshold 99.6% -transparent black -fill white -colorize 100 \
  -channel A -evaluate multiply 0.85 +channel "$work/stars.png"
# Two ranges of mountains and a castle-like tower on the ridge.
convert -size 600x300 xc:none -fill '#1b1740' \
  -draw "polygon 0,300 0,205 60,170 120,195 190,140 250,180 320,150 380,185 450,130 520,175 600,150 600,300" \
  "$work/far.png"
convert -size 600x300 xc:none -fill '#0a0a1c' \
  -draw "polygon 0,300 0,240 80,215 150,235 230,200 300,225 360,205 430,235 500,210 600,230 600,300" \
  -draw "rectangle 468,150 480,215" -draw "polygon 464,152 474,128 484,152" \
  -draw "rectangle 486,168 494,215" -draw "polygon 483,170 490,154 497,170" \
  "$work/near.png"
# A crescent moon.
convert -size 600x300 xc:none -fill '#fff4d6' -draw "circle 110,70 110,46" \
  \( -size 600x300 xc:none -fill black -draw "circle 121,63 121,41" \) -compose DstOut -composite \
  -blur 0x0.6 "$work/moon.png"

convert "$work/sky.png" "$work/glow.png" -composite "$work/stars.png" -composite \
  "$work/moon.png" -composite "$work/far.png" -composite "$work/near.png" -composite \
  \( -size 600x300 xc:none -font "$serif" -pointsize 64 -kerning 10 -gravity north \
     -fill '#00000090' -annotate +3+63 'TOLVANE' -blur 0x3 \) -composite \
  \( -size 600x300 xc:none -font "$serif" -pointsize 64 -kerning 10 -gravity north \
     -fill '#f3d28a' -stroke '#6b4a12' -strokewidth 1 -annotate +0+60 'TOLVANE' \) -composite \
  -kerning 0 -stroke none -strokewidth 0 \
  -font "$sans" -pointsize 15 -gravity north -fill '#e8e4ff' -annotate +0+142 'トルヴァーネ ・ ランチャー' \
  -font "$sans" -pointsize 11 -gravity southeast -fill '#b8b0e0' -annotate +10+8 'ver 0.9a' \
  -type TrueColor -define bmp:format=bmp3 BMP3:../background.bmp

# Icon: the tower on a round night-blue badge, in the sizes Windows asks for.
convert -size 256x256 xc:none -fill '#1b1740' -draw "circle 128,128 128,6" \
  -fill '#f3d28a' -draw "rectangle 104,80 152,200" -draw "polygon 96,84 128,28 160,84" \
  -fill '#1b1740' -draw "rectangle 122,150 134,200" \
  "$work/icon256.png"
convert "$work/icon256.png" -define icon:auto-resize=256,48,32,24,16 ../launcher.ico
identify ../background.bmp ../launcher.ico

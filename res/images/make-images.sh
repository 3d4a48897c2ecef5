#!/usr/bin/env bash
# Draws the program's icons, bitmaps and cursor with ImageMagick. The PNGs are committed; run
# this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc

# 128: application icon, three white keys and two black keys.
convert -size 64x64 xc:none -fill '#2b3a67' -draw 'roundrectangle 0,0 63,63 10,10' \
    -fill white -draw 'rectangle 8,14 21,54' -draw 'rectangle 25,14 38,54' -draw 'rectangle 42,14 55,54' \
    -fill black -draw 'rectangle 17,14 25,38' -draw 'rectangle 34,14 42,38' app.png
# 136 play, 139 stop, 140 record.
convert -size 16x16 xc:none -fill '#1a7f1a' -draw 'polygon 4,2 13,8 4,14' play.png
convert -size 16x16 xc:none -fill '#202020' -draw 'rectangle 3,3 12,12' stop.png
convert -size 16x16 xc:none -fill '#d01010' -draw 'circle 8,8 8,2' record.png
# 154 output (speaker), 156 site (globe), 158 instrument (note), 160 input (plug), 170 product.
convert -size 32x32 xc:none -fill '#3050a0' -draw 'polygon 4,12 10,12 18,4 18,28 10,20 4,20' \
    -stroke '#3050a0' -strokewidth 2 -fill none -draw 'arc 16,8 28,24 -60,60' output.png
convert -size 32x32 xc:none -stroke '#1060c0' -strokewidth 2 -fill '#bfe0ff' -draw 'circle 16,16 16,3' \
    -fill none -draw 'ellipse 16,16 6,13 0,360' -draw 'line 3,16 29,16' site.png
convert -size 32x32 xc:none -fill '#803090' -draw 'ellipse 10,24 6,4 0,360' \
    -draw 'rectangle 14,4 16,24' -draw 'polygon 16,4 26,8 26,12 16,8' instrument.png
convert -size 32x32 xc:none -fill '#606060' -draw 'rectangle 8,10 24,22' \
    -draw 'rectangle 11,3 13,10' -draw 'rectangle 19,3 21,10' -draw 'rectangle 15,22 17,30' input.png
convert -size 32x32 xc:none -fill '#f0a030' -draw 'roundrectangle 2,6 29,25 4,4' \
    -fill white -draw 'rectangle 6,10 10,22' -draw 'rectangle 12,10 16,22' -draw 'rectangle 18,10 22,22' \
    -fill black -draw 'rectangle 9,10 13,17' -draw 'rectangle 15,10 19,17' product.png
# 131: product banner 250 x 36; 169: maker's logo 203 x 29.
convert -size 250x36 gradient:'#20305a'-'#4a70c0' -fill white -font "$font" -pointsize 20 \
    -gravity west -annotate +10+0 '键乐坊' -pointsize 12 -annotate +90+0 'DIY USB 电子琴' banner.png
convert -size 203x29 xc:white -fill '#1b4f9c' -font "$font" -pointsize 18 -gravity west \
    -annotate +6+0 '岚桥科技' -fill '#888888' -pointsize 10 -annotate +90+2 'www.tunestead.example' logo.png
# 145: key-press cursor, a pointing hand whose fingertip is the hot spot at the top-left.
convert -size 32x32 xc:none -fill white -stroke black -strokewidth 1 \
    -draw 'polygon 1,1 5,1 12,10 21,10 25,14 25,22 20,27 11,27 6,20 6,14 9,14 1,5' keypress.png

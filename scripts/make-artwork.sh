#!/bin/bash
# Draws the launcher's own artwork with ImageMagick and writes it to res/art/ (committed):
#   background.png  1600 x 896 splash picture with alpha: transparent margins, the game's
#                   panel, and a dark field where the entry page sits (800, 342, 590 x 480)
#   close.png       70 x 70 close button      minimise.png  70 x 70 minimise button
#   launcher.ico    64 x 64, 32 bpp           arrow.cur     32 x 32, 32 bpp, hot spot (7, 5)
# Run it again after changing a drawing; the output is the same byte for byte on the same
# ImageMagick version (no time stamps are written).
set -euo pipefail
cd "$(dirname "$0")/../res/art"
FONT=DejaVu-Serif-Bold
# Pure black is see-through in the main launcher window, so no picture uses it.
# No time stamps, so the files do not change when nothing in the drawing did.
PNG_OUT=(-strip -define png:exclude-chunks=date,time,tIME)

# Splash picture: a framed night-sky panel with hills, the title and a frame for the page.
convert -size 1600x896 xc:none \
  \( -size 1520x816 gradient:'#1b2a4a'-'#3b1f4f' \
     \( -size 1520x816 xc:none -fill white -draw 'roundrectangle 0,0 1519,815 36,36' \) \
     -alpha off -compose CopyOpacity -composite \) -geometry +40+40 -compose Over -composite \
  -fill '#26406e' -draw 'polygon 40,700 260,520 430,610 640,470 860,640 1000,560 1180,690 1560,600 1560,820 40,820' \
  -fill '#1a2d52' -draw 'polygon 40,760 330,640 560,730 820,650 1100,760 1400,680 1560,730 1560,820 40,820' \
  -fill '#f3d27a' -draw 'circle 1210,150 1210,182' \
  -fill '#ffffff' -draw 'point 300,120 point 520,90 point 700,160 point 980,110 point 1080,200 point 1420,120' \
  -stroke '#c9a44c' -strokewidth 4 -fill none -draw 'roundrectangle 44,44 1555,851 34,34' \
  -stroke none -fill '#f3d27a' -font "$FONT" -pointsize 96 -annotate +130+250 'VANTORRA' \
  -fill '#c9d6f0' -pointsize 30 -annotate +136+300 'GAME LAUNCHER' \
  -fill '#0c1220' -stroke '#c9a44c' -strokewidth 3 -draw 'roundrectangle 786,328 1404,836 12,12' \
  -stroke none -fill '#101a30' -draw 'roundrectangle 120,400 700,470 10,10' \
  "${PNG_OUT[@]}" PNG32:background.png

# Picture buttons: a gold ring with a mark; the corners stay transparent.
button() {  # name mark...
  local name=$1; shift
  convert -size 70x70 xc:none -fill '#22365e' -stroke '#c9a44c' -strokewidth 4 \
    -draw 'circle 35,35 35,5' -stroke '#f3e3b0' -strokewidth 6 "$@" \
    "${PNG_OUT[@]}" PNG32:"$name.png"
}
button close -draw 'line 24,24 46,46' -draw 'line 46,24 24,46'
button minimise -draw 'line 22,42 48,42'

# Icon: the title's initial on the panel colours.
convert -size 64x64 xc:none -fill '#2b3560' -stroke '#c9a44c' -strokewidth 3 \
  -draw 'roundrectangle 2,2 61,61 12,12' -stroke none -fill '#f3d27a' -font "$FONT" \
  -pointsize 46 -gravity center -annotate +0+2 'V' -define icon:auto-resize=64 "${PNG_OUT[@]}" launcher.ico

# Cursor: an arrow whose tip is at (7, 5). ImageMagick writes an icon; the cursor header
# differs only in the file type and in the hot spot kept where an icon keeps planes and depth.
convert -size 32x32 xc:none -fill '#f3e3b0' -stroke '#1a2d52' -strokewidth 2 \
  -draw 'polygon 7,5 7,27 12,22 16,30 19,29 15,21 22,21' -define icon:auto-resize=32 \
  "${PNG_OUT[@]}" arrow.ico
python3 - <<'PY'
import struct
data = bytearray(open("arrow.ico", "rb").read())
assert struct.unpack_from("<HHH", data, 0) == (0, 1, 1), "expected one icon image"
struct.pack_into("<H", data, 2, 2)          # resource type: cursor
struct.pack_into("<HH", data, 6 + 4, 7, 5)  # hot spot x, y in the directory entry
open("arrow.cur", "wb").write(bytes(data))
PY
rm arrow.ico

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

# Splash picture: a framed night-sky panel with hills, the title, a frame for the page and a
# dark footer for the progress area (where it lands depends on the dialog font's size).
convert -size 1600x896 xc:none \
  \( -size 1552x868 gradient:'#1b2a4a'-'#3b1f4f' \
     \( -size 1552x868 xc:none -fill white -draw 'roundrectangle 0,0 1551,867 36,36' \) \
     -alpha off -compose CopyOpacity -composite \) -geometry +24+24 -compose Over -composite \
  -fill '#26406e' -draw 'polygon 24,600 260,440 430,530 640,400 860,560 1000,480 1180,610 1576,520 1576,700 24,700' \
  -fill '#1a2d52' -draw 'polygon 24,660 330,560 560,640 820,570 1100,660 1400,600 1576,640 1576,700 24,700' \
  -fill '#f3d27a' -draw 'circle 1210,150 1210,182' \
  -fill '#ffffff' -draw 'point 300,120 point 520,90 point 700,160 point 980,110 point 1080,200 point 1420,120' \
  -fill '#111a2e' -draw 'roundrectangle 28,680 1571,887 30,30' \
  -stroke '#c9a44c' -strokewidth 4 -fill none -draw 'roundrectangle 28,28 1571,887 34,34' \
  -stroke none -fill '#f3d27a' -font "$FONT" -pointsize 96 -annotate +110+230 'VANTORRA' \
  -fill '#c9d6f0' -pointsize 30 -annotate +116+280 'GAME LAUNCHER' \
  -fill '#0c1220' -stroke '#c9a44c' -strokewidth 3 -draw 'roundrectangle 788,339 1402,825 10,10' \
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

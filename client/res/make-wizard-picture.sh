#!/usr/bin/env bash
# Draws the installer's and uninstaller's wizard picture (welcome and finish
# pages) and writes wizard.bmp: 164 x 314, 24-bit, the product's drawing on a
# light gradient. Needs ImageMagick and python3; the build uses the committed
# bitmap and needs neither. The bitmap is written here, not by ImageMagick, so
# it carries no time stamp or colour profile and comes out the same every run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$here/drawing.sh"
draw_product "$work/master.png"
convert -size 164x314 gradient:'#ffffff-#d6e2f5' \
  \( "$work/master.png" -filter Lanczos -resize 112x112 \) -geometry +26+70 -composite \
  -depth 8 "rgb:$work/wizard.rgb"

python3 - "$work/wizard.rgb" "$here/wizard.bmp" <<'PY'
import struct, sys
width, height = 164, 314
rgb = open(sys.argv[1], "rb").read()
assert len(rgb) == width * height * 3
stride = (width * 3 + 3) // 4 * 4
rows = []
for y in reversed(range(height)):  # bottom-up, BGR, rows padded to 4 bytes
    row = rgb[y * width * 3:(y + 1) * width * 3]
    rows.append(bytes(c for i in range(0, len(row), 3) for c in (row[i + 2], row[i + 1], row[i]))
                + bytes(stride - width * 3))
pixels = b"".join(rows)
info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
with open(sys.argv[2], "wb") as f:
    f.write(header + info + pixels)
PY
echo "wrote $here/wizard.bmp"

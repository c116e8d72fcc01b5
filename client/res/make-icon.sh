#!/usr/bin/env bash
# Draws the application icon and writes norvvpnui.ico: 16, 24, 32, 48, 64, 72,
# 96, 128 and 192 px as 32-bit bitmaps and 256 px as PNG. Needs ImageMagick and
# python3; the build uses the committed .ico and needs neither.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$here/drawing.sh"
draw_product "$work/master.png"

for s in 16 24 32 48 64 72 96 128 192 256; do
  convert "$work/master.png" -filter Lanczos -resize "${s}x${s}" -depth 8 "$work/$s.png"
  convert "$work/$s.png" -depth 8 "rgba:$work/$s.rgba"
done

python3 - "$work" "$here/norvvpnui.ico" <<'PY'
import struct, sys
work, out = sys.argv[1], sys.argv[2]
sizes = [16, 24, 32, 48, 64, 72, 96, 128, 192, 256]
images = []
for s in sizes:
    if s == 256:
        images.append(open(f"{work}/256.png", "rb").read())
        continue
    rgba = open(f"{work}/{s}.rgba", "rb").read()
    rows = [rgba[y * s * 4:(y + 1) * s * 4] for y in range(s)]
    xor = b"".join(bytes(p for i in range(0, len(r), 4) for p in (r[i + 2], r[i + 1], r[i], r[i + 3]))
                   for r in reversed(rows))
    mask_row = ((s + 31) // 32) * 4
    and_mask = bytes(mask_row * s)
    header = struct.pack("<IiiHHIIiiII", 40, s, s * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    images.append(header + xor + and_mask)
offset = 6 + 16 * len(images)
directory = b""
for s, data in zip(sizes, images):
    directory += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open(out, "wb") as f:
    f.write(struct.pack("<HHH", 0, 1, len(images)) + directory + b"".join(images))
PY
echo "wrote $here/norvvpnui.ico"

#!/usr/bin/env python3
"""Draws the program icon (a VR headset seen from the front) and writes it as a Windows .ico file.

The icon holds nine images: 48, 32 and 16 pixels square at 4, 8 and 24 bits per pixel, in that
order. The drawing is pure arithmetic, so the same script always writes the same bytes.

    python3 tools/make_icon.py [res/obrint.ico]
"""

import math
import struct
import sys

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 24)
SUBSAMPLES = 4  # per axis, for smooth edges

STRAP = (96, 100, 120)
BODY = (36, 44, 70)
RIM = (120, 132, 170)
LENS = (0, 160, 220)
GLINT = (230, 245, 255)

# The 16 colours of the standard VGA palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    """VGA colours, a 6x6x6 colour cube and a grey ramp: 256 entries."""
    colours = list(VGA16)
    levels = (0, 51, 102, 153, 204, 255)
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(v, v, v) for v in range(8, 248, 10)][: 256 - len(colours)]
    return colours


def inside_round_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def shade(x, y):
    """Colour of the drawing at (x, y) in the unit square, or None where it is transparent."""
    # Nose cut-out at the bottom of the visor.
    if (x - 0.5) ** 2 + (y - 0.76) ** 2 <= 0.11 ** 2:
        return None
    for lx in (0.3, 0.7):
        d = math.hypot(x - lx, y - 0.5)
        if d <= 0.15:
            if math.hypot(x - (lx - 0.05), y - 0.44) <= 0.045:
                return GLINT
            return LENS
        if d <= 0.19:
            return RIM
    if inside_round_rect(x, y, 0.04, 0.27, 0.96, 0.76, 0.12):
        return BODY
    if inside_round_rect(x, y, 0.18, 0.16, 0.82, 0.32, 0.05):
        return STRAP
    return None


def render(size):
    """Rows of (r, g, b) or None, top row first."""
    rows = []
    n = SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(n):
                for sx in range(n):
                    c = shade((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits.append(c)
            if len(hits) * 2 < n * n:
                row.append(None)
            else:
                row.append(tuple(round(sum(c[i] for c in hits) / len(hits)) for i in range(3)))
        rows.append(row)
    return rows


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: (sum((colour[k] - palette[i][k]) ** 2 for k in range(3)), i))


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def dib(size, depth):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and AND mask, rows bottom-up."""
    rows = render(size)
    palette = {4: VGA16, 8: palette256(), 24: []}[depth]
    xor = b""
    mask = b""
    for row in reversed(rows):
        if depth == 24:
            line = b"".join(bytes((c[2], c[1], c[0])) if c else b"\0\0\0" for c in row)
        else:
            idx = [nearest(c, palette) if c else 0 for c in row]
            if depth == 8:
                line = bytes(idx)
            else:
                line = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
        xor += padded(line)
        bits = [1 if c is None else 0 for c in row]
        mask += padded(bytes(
            sum(bits[i + b] << (7 - b) for b in range(8) if i + b < size)
            for i in range(0, size, 8)))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0,
                         len(xor) + len(mask), 0, 0, len(palette), 0)
    colours = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return header + colours + xor + mask, len(palette)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "res/obrint.ico"
    images = [(s, d) + dib(s, d) for d in DEPTHS for s in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for size, depth, blob, colours in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours if colours < 256 else 0,
                               0, 1, depth, len(blob), offset + len(blobs))
        blobs += blob
    with open(out, "wb") as f:
        f.write(directory + entries + blobs)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the program's icon (a clock face with a warning dot) and writes it as
a Windows .ico file holding 16x16 and 32x32 images at 4 bits per pixel, and
16x16, 32x32 and 48x48 images at 8 and at 32 bits per pixel."""
import math
import struct
import sys

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 16 VGA colours, a 6x6x6 cube, then greys.
PALETTE_256 = VGA + [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6)
                     for b in range(6)]
PALETTE_256 += [(v, v, v) for v in range(8, 256, 10)][: 256 - len(PALETTE_256)]
PALETTE_256 += [(0, 0, 0)] * (256 - len(PALETTE_256))

RIM = (24, 70, 140)
FACE = (250, 250, 250)
HANDS = (30, 30, 30)
ALERT = (215, 40, 30)


def sample(x, y):
    """Colour and coverage of the artwork at (x, y) in a unit square."""
    dx, dy = x - 0.5, y - 0.5
    r = math.hypot(dx, dy)
    if math.hypot(x - 0.78, y - 0.22) < 0.17:
        return ALERT, 1.0
    if r > 0.47:
        return None, 0.0
    if r > 0.38:
        return RIM, 1.0

    def near_segment(ax, ay, bx, by, width):
        px, py = x - ax, y - ay
        sx, sy = bx - ax, by - ay
        t = max(0.0, min(1.0, (px * sx + py * sy) / (sx * sx + sy * sy)))
        return math.hypot(px - t * sx, py - t * sy) < width

    if near_segment(0.5, 0.5, 0.5, 0.2, 0.045) or near_segment(0.5, 0.5, 0.72, 0.58, 0.045):
        return HANDS, 1.0
    return FACE, 1.0


def render(size):
    """Rows of (r, g, b, a), top row first, 4x4 supersampled."""
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(4):
                for si in range(4):
                    colour, cover = sample((i + (si + 0.5) / 4) / size, (j + (sj + 0.5) / 4) / size)
                    if colour:
                        for k in range(3):
                            acc[k] += colour[k] * cover
                        acc[3] += cover
            a = acc[3] / 16
            rgb = tuple(int(round(acc[k] / acc[3])) if acc[3] else 0 for k in range(3))
            row.append(rgb + (int(round(a * 255)),))
        rows.append(row)
    return rows


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda n: sum((palette[n][k] - rgb[k]) ** 2 for k in range(3)))


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    data = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for i, px in enumerate(row):
            if px[3] < 128:
                bits[i // 8] |= 0x80 >> (i % 8)
        data += bytes(bits)
    return data


def dib(size, bpp):
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, 0, 0)
    if bpp == 32:
        pixels = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(rows) for p in row)
        return header + pixels + and_mask(rows, size)
    palette = VGA if bpp == 4 else PALETTE_256
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    stride = ((size * bpp + 31) // 32) * 4
    pixels = b""
    for row in reversed(rows):
        indices = [nearest(palette, p[:3]) if p[3] >= 128 else 0 for p in row]
        line = bytearray(stride)
        for i, index in enumerate(indices):
            if bpp == 8:
                line[i] = index
            else:
                line[i // 2] |= index << (4 if i % 2 == 0 else 0)
        pixels += bytes(line)
    return header + table + pixels + and_mask(rows, size)


def icon(images):
    blobs = [(size, bpp, dib(size, bpp)) for size, bpp in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, bpp, blob in blobs:
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, _, blob in blobs)


IMAGES = [(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32)]

if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else "res/ravitor.ico", "wb") as f:
        f.write(icon(IMAGES))

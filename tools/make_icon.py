#!/usr/bin/env python3
"""Draws the program icon: a dark blue rounded square holding a white "V"
over a light report sheet, at 16, 32 and 48 pixels, and writes it as an
.ico file (32-bit BGRA images with an AND mask)."""
import struct
import sys


def pixel(x, y, size):
    """Colour (b, g, r, a) of pixel (x, y), y counted from the top."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    radius = 0.18
    # Rounded square: transparent outside the corners.
    cx = min(max(u, radius), 1 - radius)
    cy = min(max(v, radius), 1 - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    blue = (0x80, 0x30, 0x10, 0xFF)
    white = (0xFF, 0xFF, 0xFF, 0xFF)
    sheet = (0xF0, 0xE8, 0xE0, 0xFF)
    # The "V": two strokes meeting at the bottom middle.
    stroke = 0.11
    for top_x in (0.22, 0.78):
        bottom_x, top_y, bottom_y = 0.5, 0.18, 0.80
        if top_y <= v <= bottom_y:
            t = (v - top_y) / (bottom_y - top_y)
            line_x = top_x + (bottom_x - top_x) * t
            if abs(u - line_x) <= stroke / 2:
                return white
    # A report sheet in the lower right corner.
    if 0.62 <= u <= 0.86 and 0.58 <= v <= 0.88:
        if 0.66 <= u <= 0.82 and int(v * size) % 3 == 0 and v > 0.64:
            return blue
        return sheet
    return blue


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as bitmaps are stored
        rows.append(b"".join(struct.pack("BBBB", *pixel(x, y, size)) for x in range(size)))
    mask_stride = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_stride * size)  # all opaque: alpha decides
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])

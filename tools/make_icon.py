#!/usr/bin/env python3
"""Draws the program icon: a dark blue rounded square holding a white "V"
over a light report sheet, at 16, 32 and 48 pixels, and writes it as an
.ico file (32-bit BGRA images with an AND mask).

With --png FOLDER it writes the same drawing as veltrix-SIZE.png files for
the desktop menus of Linux (16 to 256 pixels)."""
import struct
import sys
import zlib


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


def png(size):
    """The icon as an 8-bit RGBA PNG, rows top-down."""
    rows = b""
    for y in range(size):
        rows += b"\0"  # no filter
        for x in range(size):
            b, g, r, a = pixel(x, y, size)
            rows += struct.pack("BBBB", r, g, b, a)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main_png(folder):
    for size in (16, 32, 48, 128, 256):
        with open(f"{folder}/veltrix-{size}.png", "wb") as f:
            f.write(png(size))


if __name__ == "__main__":
    if sys.argv[1] == "--png":
        main_png(sys.argv[2])
    else:
        main(sys.argv[1])

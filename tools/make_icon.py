#!/usr/bin/env python3
"""Draws the program icon, a small clock face, as a 16-colour ICO (res/tempvaro.ico) with one image for each size
Windows asks for at the common display scalings. Each size is drawn at its own pixels, not resampled, so that it
stays crisp. The 32-pixel image is the original drawing, a bitmap that every Windows reads; the others are stored as
PNG (which Windows reads since Vista), a quarter of a bitmap's bytes."""
import math
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64)
# The standard 16-colour palette, as red, green, blue.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255),
    (255, 255, 255),
]
BLACK, NAVY, RED, WHITE = 0, 4, 9, 15


def draw(size):
    """Returns rows of palette indexes (top row first, None where transparent) for a size x size image; every
    length is that of the 32-pixel drawing times size / 32."""
    scale = size / 32
    pixels = [[None] * size for _ in range(size)]
    centre = (size - 1) / 2
    for y in range(size):
        for x in range(size):
            r = math.hypot(x - centre, y - centre)
            if r <= 13.2 * scale:
                pixels[y][x] = WHITE
            if 12.0 * scale < r <= 15.2 * scale:
                pixels[y][x] = NAVY
    for hour in range(12):
        a = math.radians(hour * 30)
        length = 2 if hour % 3 else 3
        if size < 24 and hour % 3:
            continue  # too small for all twelve marks: the quarters only
        for step in range(max(1, round(length * scale))):
            x = round(centre + (11 * scale - step) * math.sin(a))
            y = round(centre - (11 * scale - step) * math.cos(a))
            pixels[y][x] = BLACK

    def hand(angle_deg, length, colour, width):
        a = math.radians(angle_deg)
        width = round(width * scale) if width else 0
        for i in range(int(length * scale * 4)):
            t = i / 4
            for w in range(-width, width + 1):
                x = round(centre + t * math.sin(a) + w * math.cos(a) * 0.5)
                y = round(centre - t * math.cos(a) + w * math.sin(a) * 0.5)
                pixels[y][x] = colour

    hand(300, 7, BLACK, 1)   # hour hand at ten
    hand(60, 10, BLACK, 1)   # minute hand at ten past
    hand(180, 11, RED, 0)    # second hand
    pixels[round(centre)][round(centre)] = RED
    return pixels


def png(pixels):
    """One icon image as a 4-bit palette PNG: index 0 transparent, then the colours the drawing uses."""
    used = sorted({p for row in pixels for p in row if p is not None})
    index = {colour: i + 1 for i, colour in enumerate(used)}
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        line = bytearray((size + 1) // 2)
        for x, p in enumerate(row):
            line[x // 2] |= index.get(p, 0) << (0 if x % 2 else 4)
        raw += b"\0" + line  # filter type none

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    palette = b"\0\0\0" + b"".join(bytes(PALETTE[colour]) for colour in used)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0)) +
            chunk(b"PLTE", palette) + chunk(b"tRNS", b"\0") + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def image(pixels):
    """One icon image: a 4-bit bitmap (header, palette, colours, mask), rows stored bottom first."""
    size = len(pixels)
    colour_row = (size // 2 + 3) & ~3  # rows are padded to four bytes
    mask_row = ((size + 31) // 32) * 4
    xor_rows, and_rows = [], []
    for row in reversed(pixels):
        xor = bytearray(colour_row)
        mask = bytearray(mask_row)
        for x in range(size):
            xor[x // 2] |= (row[x] or 0) << (0 if x % 2 else 4)
            if row[x] is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "res/tempvaro.ico"
    with open(out, "wb") as f:
        f.write(ico([(size, (image if size == 32 else png)(draw(size))) for size in SIZES]))

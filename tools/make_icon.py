#!/usr/bin/env python3
"""Draws the program icon, a small clock face, as a 32x32 16-colour ICO (res/tempvaro.ico)."""
import math
import struct
import sys

SIZE = 32
# The standard 16-colour palette, as red, green, blue.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255),
    (255, 255, 255),
]
BLACK, NAVY, RED, WHITE = 0, 4, 9, 15


def draw():
    """Returns rows of palette indexes (top row first) and a transparency mask."""
    pixels = [[None] * SIZE for _ in range(SIZE)]
    centre = (SIZE - 1) / 2
    for y in range(SIZE):
        for x in range(SIZE):
            r = math.hypot(x - centre, y - centre)
            if r <= 13.2:
                pixels[y][x] = WHITE
            if 12.0 < r <= 15.2:
                pixels[y][x] = NAVY
    for hour in range(12):
        a = math.radians(hour * 30)
        length = 2 if hour % 3 else 3
        for step in range(length):
            x = round(centre + (11 - step) * math.sin(a))
            y = round(centre - (11 - step) * math.cos(a))
            pixels[y][x] = BLACK

    def hand(angle_deg, length, colour, width):
        a = math.radians(angle_deg)
        for i in range(int(length * 4)):
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


def ico(pixels):
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bitmaps are stored bottom row first
        xor = bytearray()
        for x in range(0, SIZE, 2):
            hi, lo = (row[x] or 0), (row[x + 1] or 0)
            xor.append(hi << 4 | lo)
        mask = bytearray(4)
        for x in range(SIZE):
            if row[x] is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 22)
    return directory + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "res/tempvaro.ico"
    with open(out, "wb") as f:
        f.write(ico(draw()))

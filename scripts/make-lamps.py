#!/usr/bin/env python3
"""Draws the four lamp icons (32x32, 32-bit BMP inside ICO) into resources/."""
import struct, sys, os

LAMPS = {
    "ledON.ico": (40, 200, 60),     # good poll: green
    "ledOFF.ico": (90, 100, 90),    # monitored, nothing fresh: dark
    "ledON2.ico": (220, 40, 40),    # given up: red
    "ledWAIT.ico": (230, 190, 30),  # waiting: amber
}

def ico(rgb, size=32):
    r0, g0, b0 = rgb
    pixels = bytearray()
    c = (size - 1) / 2
    for y in range(size - 1, -1, -1):  # bottom-up rows
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            if d > size / 2 - 1:
                pixels += bytes((0, 0, 0, 0))
                continue
            # a highlight towards the upper left makes it read as a lamp
            h = max(0.0, 1 - (((x - c * 0.7) ** 2 + (y - c * 0.7) ** 2) ** 0.5) / (size * 0.45))
            r = min(255, int(r0 + (255 - r0) * h * 0.6))
            g = min(255, int(g0 + (255 - g0) * h * 0.6))
            b = min(255, int(b0 + (255 - b0) * h * 0.6))
            pixels += bytes((b, g, r, 255))
    mask = bytes(size * 4)  # all opaque per AND mask; alpha does the shape
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + bytes(pixels) + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22) + image

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources")
for name, rgb in LAMPS.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(ico(rgb))

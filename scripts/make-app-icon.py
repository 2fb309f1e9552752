#!/usr/bin/env python3
"""Draws the application icon, a panel of four lamps, as SVG and as PNGs of the hicolor sizes.

make-app-icon.py OUTDIR: writes OUTDIR/talveron.svg and OUTDIR/NxN/talveron.png. Both come from the
one shape list below, so the pictures agree. Pure Python, no libraries."""
import os, struct, sys, zlib

# In a 64 x 64 box: (kind, geometry, fill RGBA), drawn in order.
SHAPES = [
    ("rrect", (2, 2, 60, 60, 11), (38, 50, 56, 255)),     # frame
    ("rrect", (6, 6, 52, 52, 8), (69, 90, 100, 255)),     # panel
    ("circle", (21, 21, 10), (40, 200, 60, 255)),          # lamps: good, good, given up, waiting
    ("circle", (43, 21, 10), (40, 200, 60, 255)),
    ("circle", (21, 43, 10), (220, 40, 40, 255)),
    ("circle", (43, 43, 10), (230, 190, 30, 255)),
    ("circle", (18, 18, 3.5), (255, 255, 255, 140)),       # highlights
    ("circle", (40, 18, 3.5), (255, 255, 255, 140)),
    ("circle", (18, 40, 3.5), (255, 255, 255, 140)),
    ("circle", (40, 40, 3.5), (255, 255, 255, 140)),
]
SIZES = (16, 24, 32, 48, 64, 128, 256)


def inside(kind, g, x, y):
    if kind == "circle":
        cx, cy, r = g
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    x0, y0, w, h, r = g
    if not (x0 <= x <= x0 + w and y0 <= y <= y0 + h):
        return False
    nx = min(max(x, x0 + r), x0 + w - r)
    ny = min(max(y, y0 + r), y0 + h - r)
    return (x - nx) ** 2 + (y - ny) ** 2 <= r * r


def svg():
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">']
    for kind, g, (r, gr, b, a) in SHAPES:
        fill = 'fill="#%02x%02x%02x"' % (r, gr, b)
        if a < 255:
            fill += ' fill-opacity="%.2f"' % (a / 255)
        if kind == "circle":
            out.append('  <circle cx="%g" cy="%g" r="%g" %s/>' % (g[0], g[1], g[2], fill))
        else:
            out.append('  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" %s/>' % (g + (fill,)))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def render(size, samples=4):
    rows = []
    scale = 64 / size
    for py in range(size):
        row = bytearray([0])  # filter: none
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    c = [0.0, 0.0, 0.0, 0.0]
                    for kind, g, (r, gr, b, a) in SHAPES:
                        if inside(kind, g, x, y):
                            al = a / 255
                            c = [r * al + c[0] * (1 - al), gr * al + c[1] * (1 - al), b * al + c[2] * (1 - al),
                                 al + c[3] * (1 - al)]
                    for i in range(4):
                        acc[i] += c[i]
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                row += bytes(min(255, round(acc[i] / n / alpha)) for i in range(3))
            else:
                row += bytes(3)
            row.append(round(alpha * 255))
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


out = sys.argv[1]
os.makedirs(out, exist_ok=True)
with open(os.path.join(out, "talveron.svg"), "w") as f:
    f.write(svg())
for size in SIZES:
    d = os.path.join(out, "%dx%d" % (size, size))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "talveron.png"), "wb") as f:
        f.write(render(size))

#!/usr/bin/env python3
"""Draws the self-extractor's icon, app.ico: an open carton with a blue arrow rising out of
it, the picture of files leaving their package. It holds the sizes Windows asks for at 100
to 300 % display scale (16 to 64 pixels) and one of 256 pixels, each a PNG image with an
alpha channel, its edges smoothed by exact coverage. The wizard draws its header picture
from the 256-pixel image, scaled down to the size its display scale needs. Standard
library only; run from this folder to regenerate."""
import struct
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
DESIGN = 49.0  # the shapes' coordinate range

# (red, green, blue) of the shapes, painted in this order over a transparent square.
CARTON_EDGE, CARTON, FLAP, TAPE = (128, 84, 28), (238, 196, 112), (176, 122, 52), (196, 146, 72)
ARROW_EDGE, ARROW = (22, 72, 160), (88, 168, 240)
SHAPES = [
    (CARTON_EDGE, [(6, 24), (42, 24), (42, 46), (6, 46)]),
    (CARTON, [(8, 26), (40, 26), (40, 44), (8, 44)]),
    (FLAP, [(6, 24), (0, 16), (14, 16), (18, 24)]),
    (FLAP, [(42, 24), (48, 16), (34, 16), (30, 24)]),
    (TAPE, [(8, 33), (40, 33), (40, 35), (8, 35)]),
    (ARROW_EDGE, [(20, 30), (28, 30), (28, 14), (34, 14), (24, 2), (14, 14), (20, 14)]),
    (ARROW, [(22, 28), (26, 28), (26, 12), (29, 12), (24, 6), (19, 12), (22, 12)]),
]
ROWS_PER_PIXEL = 8  # sample lines per pixel row; each line's spans are exact


def coverage(size, points):
    """How much of each pixel the polygon (even-odd rule) covers, 0 to 1, rows top first."""
    scale = size / DESIGN
    pts = [(x * scale, y * scale) for x, y in points]
    cover = [[0.0] * size for _ in range(size)]
    weight = 1.0 / ROWS_PER_PIXEL
    for row in range(size):
        for k in range(ROWS_PER_PIXEL):
            y = row + (k + 0.5) * weight
            xs = sorted(x0 + (y - y0) * (x1 - x0) / (y1 - y0)
                        for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1])
                        if (y0 > y) != (y1 > y))
            for left, right in zip(xs[0::2], xs[1::2]):
                left, right = max(left, 0.0), min(right, float(size))
                for x in range(int(left), min(size, int(right) + 1)):
                    part = min(right, x + 1) - max(left, x)
                    if part > 0:
                        cover[row][x] += part * weight
    return cover


def draw(size):
    """Rows of (red, green, blue, alpha) bytes: the shapes painted over one another."""
    pixels = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]  # premultiplied
    for colour, points in SHAPES:
        for y, line in enumerate(coverage(size, points)):
            for x, a in enumerate(line):
                if a > 0:
                    a = min(a, 1.0)
                    r, g, b, alpha = pixels[y][x]
                    pixels[y][x] = (colour[0] * a + r * (1 - a), colour[1] * a + g * (1 - a),
                                    colour[2] * a + b * (1 - a), a + alpha * (1 - a))
    rows = []
    for line in pixels:
        row = bytearray()
        for r, g, b, a in line:
            row += bytes((round(r / a), round(g / a), round(b / a), round(255 * a)) if a else (0, 0, 0, 0))
        rows.append(bytes(row))
    return rows


def png(size, rows):
    """An 8-bit RGBA PNG image; each row takes the filter that leaves the smallest sum."""
    def filtered(kind, row, above):
        out = bytearray([kind])
        for i, value in enumerate(row):
            left = row[i - 4] if i >= 4 else 0
            up, corner = above[i], above[i - 4] if i >= 4 else 0
            if kind == 0:
                guess = 0
            elif kind == 1:
                guess = left
            elif kind == 2:
                guess = up
            elif kind == 3:
                guess = (left + up) // 2
            else:
                p = left + up - corner
                guess = min((abs(p - left), 0, left), (abs(p - up), 1, up), (abs(p - corner), 2, corner))[2]
            out.append((value - guess) & 0xFF)
        return bytes(out)

    data, above = b"", bytes(4 * size)
    for row in rows:
        data += min((filtered(kind, row, above) for kind in range(5)),
                    key=lambda f: sum(v if v < 128 else 256 - v for v in f[1:]))
        above = row

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(data, 9)) + chunk(b"IEND", b""))


def write_icon(path):
    images = [(size, png(size, draw(size))) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, image in images:
        side = size % 256  # 256 is written as 0
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset + len(body))
        body += image
    with open(path, "wb") as f:
        f.write(directory + body)


if __name__ == "__main__":
    write_icon("app.ico")

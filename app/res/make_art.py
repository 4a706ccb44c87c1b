#!/usr/bin/env python3
"""Draws the self-extractor's header picture (header.bmp, 49 x 49) and icon (app.ico,
32 x 32 and 16 x 16), all 16 colours: an open carton with a blue arrow dropping out of
it, the picture of files leaving their package. Run from this folder to regenerate."""
import struct

# The standard 16-colour palette, as (blue, green, red) for the bitmap colour table.
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
    (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
# Palette indices by name (the tuple order above is blue, green, red).
BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)
TRANSPARENT = -1


def draw(size):
    """Returns rows (top first) of palette indices; TRANSPARENT outside the shapes."""
    s = size / 49.0
    px = [[TRANSPARENT] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(max(0, round(y0 * s)), min(size, round(y1 * s))):
            for x in range(max(0, round(x0 * s)), min(size, round(x1 * s))):
                px[y][x] = colour

    def poly(points, colour):
        pts = [(x * s, y * s) for x, y in points]
        for y in range(size):
            for x in range(size):
                cx, cy = x + 0.5, y + 0.5
                inside = False
                j = len(pts) - 1
                for i in range(len(pts)):
                    xi, yi = pts[i]
                    xj, yj = pts[j]
                    if (yi > cy) != (yj > cy) and cx < (xj - xi) * (cy - yi) / (yj - yi) + xi:
                        inside = not inside
                    j = i
                if inside:
                    px[y][x] = colour

    # The carton: front face, side shading, open flaps.
    poly([(6, 24), (42, 24), (42, 46), (6, 46)], OLIVE)
    poly([(8, 26), (40, 26), (40, 44), (8, 44)], YELLOW)
    poly([(6, 24), (0, 16), (14, 16), (18, 24)], OLIVE)
    poly([(42, 24), (48, 16), (34, 16), (30, 24)], OLIVE)
    fill(8, 33, 40, 35, OLIVE)  # tape across the front
    # The arrow rising out of the carton.
    poly([(20, 30), (28, 30), (28, 14), (34, 14), (24, 2), (14, 14), (20, 14)], BLUE)
    poly([(22, 28), (26, 28), (26, 12), (29, 12), (24, 6), (19, 12), (22, 12)], CYAN)
    return px


def bmp_rows_4bpp(px, background):
    size = len(px)
    stride = ((size * 4 + 31) // 32) * 4
    out = bytearray()
    for row in reversed(px):  # bottom-up
        line = bytearray(stride)
        for x, c in enumerate(row):
            c = background if c == TRANSPARENT else c
            line[x // 2] |= c << 4 if x % 2 == 0 else c
        out += line
    return bytes(out)


def mask_rows(px):
    size = len(px)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(px):
        line = bytearray(stride)
        for x, c in enumerate(row):
            if c == TRANSPARENT:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def colour_table():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in PALETTE)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 2835, 2835, 16, 0)


def write_bitmap(path):
    px = draw(49)
    pixels = bmp_rows_4bpp(px, WHITE)  # the header band is white
    offset = 14 + 40 + 64
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info_header(49, 49, len(pixels)) + colour_table() + pixels)


def write_icon(path):
    images = []
    for size in (32, 16):
        px = draw(size)
        xor = bmp_rows_4bpp(px, BLACK)
        mask = mask_rows(px)
        images.append((size, info_header(size, size * 2, len(xor) + len(mask)) +
                       colour_table() + xor + mask))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, image in images:
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset + len(body))
        body += image
    with open(path, "wb") as f:
        f.write(data + body)


if __name__ == "__main__":
    write_bitmap("header.bmp")
    write_icon("app.ico")

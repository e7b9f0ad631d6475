#!/usr/bin/env python3
"""Draws the installer's icon and side picture and writes them as
resources/installer.ico (32 x 32, 16 colours) and resources/sidebar.bmp
(82 x 349, 8 bits per pixel, 256-colour palette, run-length encoded).

Pure Python on purpose: the pictures are made the same way on any machine.
Run: python3 tools/draw_pictures.py [output folder]"""
import os
import struct
import sys

# A 5 x 7 pixel face for the letters of the title, one string per row.
GLYPHS = {
    "V": ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    "A": [".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    "T": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."],
    "H": ["X...X", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "I": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "XXXXX"],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def text_mask(text, scale):
    """Rows of booleans for text drawn left to right at the given scale."""
    width = (len(text) * 6 - 1) * scale
    rows = [[False] * width for _ in range(7 * scale)]
    for i, ch in enumerate(text):
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, cell in enumerate(line):
                if cell == "X":
                    for dy in range(scale):
                        for dx in range(scale):
                            rows[gy * scale + dy][(i * 6 + gx) * scale + dx] = True
    return rows


def sidebar_pixels(width=82, height=349):
    """Palette and top-down rows of palette indices for the side picture:
    the title in orange running from bottom to top over pale beige."""
    palette = [(0, 0, 0)] * 256
    # 0-63: the beige background, lighter towards the top.
    for i in range(64):
        palette[i] = (246 - i // 4, 236 - i // 3, 212 - i // 2)
    palette[64] = (230, 120, 20)   # orange lettering
    palette[65] = (255, 170, 60)   # its highlight
    palette[66] = (150, 70, 20)    # its shadow
    palette[67] = (180, 150, 110)  # frame

    pixels = [[min(63, y * 64 // height) for _ in range(width)] for y in range(height)]
    for y in range(height):
        pixels[y][0] = pixels[y][width - 1] = 67
    for x in range(width):
        pixels[0][x] = pixels[height - 1][x] = 67

    def blit(text, scale, centre_x, bottom_y):
        mask = text_mask(text, scale)
        glyph_h, glyph_w = len(mask), len(mask[0])
        # Turned a quarter to the left: text row r becomes picture column,
        # text column c becomes picture row counted from the bottom.
        left = centre_x - glyph_h // 2
        for r in range(glyph_h):
            for c in range(glyph_w):
                if not mask[r][c]:
                    continue
                x, y = left + r, bottom_y - c
                if 0 < x + 2 < width - 1 and 0 < y + 2 < height - 1:
                    if pixels[y + 2][x + 2] < 64:
                        pixels[y + 2][x + 2] = 66
                pixels[y][x] = 65 if r < scale else 64

    blit("VALTHERIA", 5, 34, height - 24)
    blit("III", 3, 66, height - 24)
    return palette, pixels


def rle8(rows):
    """BI_RLE8 encoding of bottom-up rows: encoded runs, end-of-line after
    every row and end-of-bitmap at the end."""
    out = bytearray()
    for row in rows:
        i = 0
        while i < len(row):
            run = 1
            while i + run < len(row) and run < 255 and row[i + run] == row[i]:
                run += 1
            out += bytes((run, row[i]))
            i += run
        out += b"\x00\x00"
    out[-2:] = b"\x00\x01"
    return bytes(out)


def write_sidebar(path):
    palette, pixels = sidebar_pixels()
    width, height = len(pixels[0]), len(pixels)
    bits = rle8(list(reversed(pixels)))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(bits), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + colours + bits)


def icon_pixels():
    """32 x 32 indices into the 16-colour palette, top-down: a yellow
    capital I beside a green exclamation mark with a red dot, on black."""
    black, red, green, yellow = 0, 9, 10, 11
    px = [[black] * 32 for _ in range(32)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = colour

    rect(4, 4, 16, 8, yellow)     # the I: top bar,
    rect(8, 8, 12, 24, yellow)    # stem
    rect(4, 24, 16, 28, yellow)   # and foot
    rect(20, 4, 26, 21, green)    # the exclamation mark's bar
    rect(20, 23, 26, 28, red)     # and its dot
    return px


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def write_icon(path):
    px = icon_pixels()
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    xor = b"".join(bytes((row[x] << 4) | row[x + 1] for x in range(0, 32, 2)) for row in reversed(px))
    mask = b"\x00" * (4 * 32)  # fully opaque
    info = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + colours + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22)
    with open(path, "wb") as f:
        f.write(directory + image)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources")
    write_icon(os.path.join(folder, "installer.ico"))
    write_sidebar(os.path.join(folder, "sidebar.bmp"))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
"""Draws the application icon: the bar in miniature, eight coloured areas in
two rows of four on black with a grey outline. Standard library only. Writes

- packaging/windows/QuorvelOlvane.ico: 16, 32, 48 px as 32-bit DIBs and 256 px
  as PNG, as Windows expects; embedded in the executable for Explorer;
- resources/icon/icon.ico: 16, 32 and 48 px only, the one the running bar
  loads as its window icon. Qt decodes every image of it at each start and
  hands them all to the window system, so the 256 px image would cost start-up
  time for a size no title bar or taskbar uses;
- resources/icon/icon-{16,32,48,256}.png for Linux desktops (hicolor).

Usage: scripts/make_icon.py
"""
import os
import struct
import zlib

PALETTE = [(255, 255, 0), (255, 0, 0), (255, 255, 0), (255, 0, 0),
           (0, 0, 255), (0, 255, 255), (0, 0, 255), (0, 255, 0)]
SIZES = (16, 32, 48, 256)


def draw(size):
    """Returns rows of (r, g, b, a) pixels, top row first."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    # The bar: a wide strip across the middle of the square.
    top, bottom = round(size * 0.22), round(size * 0.78)
    for y in range(top, bottom):
        for x in range(size):
            px[y][x] = (0, 0, 0, 255)
    outline = (200, 200, 200, 255)
    for x in range(size):
        px[top][x] = px[bottom - 1][x] = outline
    for y in range(top, bottom):
        px[y][0] = px[y][size - 1] = outline
    margin = max(1, size // 16)
    inner_l, inner_r = margin + 1, size - margin - 1
    inner_t, inner_b = top + margin + 1, bottom - margin - 1
    gap = max(1, size // 32) if size >= 32 else 0
    for index, colour in enumerate(PALETTE):
        row, col = divmod(index, 4)
        x0 = inner_l + (inner_r - inner_l) * col // 4
        x1 = inner_l + (inner_r - inner_l) * (col + 1) // 4 - gap
        y0 = inner_t + (inner_b - inner_t) * row // 2
        y1 = inner_t + (inner_b - inner_t) * (row + 1) // 2 - gap
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = colour + (255,)
    return px


def png(px):
    size = len(px)
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in px)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(px):
    size = len(px)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b"\x00" * (mask_row * size)  # the alpha channel decides; the mask shows all
    return header + colour + mask


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    return out + body


RUNTIME_SIZES = (16, 32, 48)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    icon_dir = os.path.join(root, "resources", "icon")
    os.makedirs(icon_dir, exist_ok=True)
    images = []
    for size in SIZES:
        px = draw(size)
        images.append((size, png(px) if size >= 256 else dib(px)))
        with open(os.path.join(icon_dir, "icon-%d.png" % size), "wb") as f:
            f.write(png(px))
    with open(os.path.join(root, "packaging", "windows", "QuorvelOlvane.ico"), "wb") as f:
        f.write(ico(images))
    with open(os.path.join(icon_dir, "icon.ico"), "wb") as f:
        f.write(ico([(size, data) for size, data in images if size in RUNTIME_SIZES]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws Pagorama's icons as PNG files into resources/.

The program icon and the still tray icon show a small board of four page
tiles; the eight animation frames add a bright marker that walks round the
board while a refresh runs. Only the standard library is used: shapes are
rasterised with 4x4 supersampling and written as RGBA PNG with zlib.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources")

BOARD = (38, 84, 148)
BOARD_EDGE = (20, 48, 92)
TILES = [(250, 250, 252), (255, 214, 102), (134, 206, 255), (160, 226, 150)]
MARK = (255, 92, 64)


def write_png(path, size, pixels):
    """pixels: list of rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def render(size, shapes):
    """shapes: list of (inside(x, y) in unit coordinates, rgb), painted in order."""
    samples = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    colour = None
                    for inside, rgb in shapes:
                        if inside(x, y):
                            colour = rgb
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = acc[3]
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / n), round(acc[1] / n), round(acc[2] / n),
                            round(255 * n / (samples * samples))))
        rows.append(row)
    return rows


def board_shapes():
    shapes = [(rounded_rect(0.02, 0.02, 0.98, 0.98, 0.2), BOARD_EDGE),
              (rounded_rect(0.08, 0.08, 0.92, 0.92, 0.16), BOARD)]
    cells = [(0.18, 0.18), (0.53, 0.18), (0.18, 0.53), (0.53, 0.53)]
    for (x, y), colour in zip(cells, TILES):
        shapes.append((rounded_rect(x, y, x + 0.29, y + 0.29, 0.05), colour))
    return shapes


def frame_shapes(step):
    # The marker travels clockwise round the board's centre in eight steps.
    angle = -math.pi / 2 + step * 2 * math.pi / 8
    cx = 0.5 + 0.36 * math.cos(angle)
    cy = 0.5 + 0.36 * math.sin(angle)
    return board_shapes() + [(circle(cx, cy, 0.17), (255, 255, 255)),
                             (circle(cx, cy, 0.12), MARK)]


def main():
    os.makedirs(OUT, exist_ok=True)
    write_png(os.path.join(OUT, "pagorama.png"), 64, render(64, board_shapes()))
    write_png(os.path.join(OUT, "tray_still.png"), 16, render(16, board_shapes()))
    for step in range(8):
        write_png(os.path.join(OUT, "tray_frame_%d.png" % (step + 1)), 16,
                  render(16, frame_shapes(step)))


if __name__ == "__main__":
    main()

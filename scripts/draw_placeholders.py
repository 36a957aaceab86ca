#!/usr/bin/env python3
"""Draws the three placeholder pictures of the snapshot step as PNG files.

SCRIPT (64x64): a page of script code, for pages that render as one colour.
PADLOCK (48x48): a closed padlock, for secure sites that are not fetched.
ERROR (64x64): a red disc with a white cross, for unavailable sites.

Only the standard library is used: every picture is a list of filled shapes
painted in order, sampled 4 x 4 times per pixel for smooth edges, and written
as an RGBA PNG with a transparent background, so the picture sits on the
card's own background colour.

Usage: draw_placeholders.py [output folder]  (default: resources/placeholders)
"""
import math
import os
import struct
import sys
import zlib

SAMPLES = 4


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in, upper_only=False):
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        return r_in * r_in <= d <= r_out * r_out and (not upper_only or y <= cy)
    return inside


def thick_line(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def render(size, layers):
    """layers: list of (shape, (r, g, b)); later layers paint over earlier ones."""
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    for shape, colour in reversed(layers):
                        if shape(x, y):
                            r += colour[0]
                            g += colour[1]
                            b += colour[2]
                            a += 1
                            break
            n = SAMPLES * SAMPLES
            if a:
                row += bytes((r // a, g // a, b // a, 255 * a // n))
            else:
                row += bytes((0, 0, 0, 0))
        rows.append(bytes(row))
    return rows


def write_png(path, size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


NAVY = (0, 0, 128)
PAPER = (250, 248, 236)
FOLD = (214, 210, 190)
GREY = (150, 150, 160)
BLUE = (30, 80, 200)
GREEN = (20, 140, 60)


def script_picture():
    page = [(8, 4), (44, 4), (56, 16), (56, 60), (8, 60)]
    inner = [(10, 6), (43, 6), (54, 17), (54, 58), (10, 58)]
    layers = [
        (polygon(page), NAVY),
        (polygon(inner), PAPER),
        (polygon([(43, 6), (54, 17), (43, 17)]), FOLD),
        (thick_line(43, 5, 43, 17, 1.5), NAVY),
        (thick_line(43, 17, 55, 17, 1.5), NAVY),
    ]
    for y, x1 in ((13, 36), (19, 32), (48, 46), (53, 38)):
        layers.append((thick_line(15, y, x1, y, 2.2), GREY))
    # "</>" in the middle of the page
    layers += [
        (thick_line(24, 27, 16, 34, 3.2), BLUE),
        (thick_line(16, 34, 24, 41, 3.2), BLUE),
        (thick_line(40, 27, 48, 34, 3.2), BLUE),
        (thick_line(48, 34, 40, 41, 3.2), BLUE),
        (thick_line(35, 25, 29, 43, 3.2), GREEN),
    ]
    return 64, layers


def padlock_picture():
    steel = (120, 124, 134)
    steel_light = (176, 180, 190)
    gold = (222, 170, 40)
    gold_dark = (150, 105, 10)
    keyhole = (60, 40, 10)
    layers = [
        (ring(24, 19, 13, 8.5, upper_only=True), steel),
        (ring(24, 19, 11.5, 10, upper_only=True), steel_light),
        (rect(11, 18, 15.5, 24), steel),
        (rect(32.5, 18, 37, 24), steel),
        (rounded_rect(6, 22, 42, 46, 4), gold_dark),
        (rounded_rect(8, 24, 40, 44, 3), gold),
        (rect(10, 26, 38, 28), (240, 200, 90)),
        (disc(24, 32, 3.5), keyhole),
        (polygon([(22, 33), (26, 33), (27.5, 40), (20.5, 40)]), keyhole),
    ]
    return 48, layers


def error_picture():
    red_dark = (140, 10, 10)
    red = (215, 30, 30)
    white = (255, 255, 255)
    layers = [
        (disc(32, 32, 29), red_dark),
        (disc(32, 32, 26.5), red),
        (thick_line(21, 21, 43, 43, 7), white),
        (thick_line(43, 21, 21, 43, 7), white),
    ]
    return 64, layers


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "resources", "placeholders")
    os.makedirs(folder, exist_ok=True)
    for name, make in (("SCRIPT", script_picture), ("PADLOCK", padlock_picture),
                       ("ERROR", error_picture)):
        size, layers = make()
        write_png(os.path.join(folder, name + ".png"), size, render(size, layers))


if __name__ == "__main__":
    main()

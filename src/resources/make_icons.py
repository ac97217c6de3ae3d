#!/usr/bin/env python3
"""Draws Orvelle's two icons and writes them as .ico files beside this script.

orvelle.ico  the program icon (16, 24, 32, 48 and 256 pixels): a white page
             with text lines on a blue rounded square, a green check badge.
tray.ico     the notification-area icon (16, 20, 24 and 32 pixels): the same page on blue,
             opaque, with light corners, so it reads as "the blue icon".

Pure Python (no imaging library): each pixel is the average of 4x4 samples.
Run it again after changing a shape; the .ico files are committed.
"""
import os
import struct
import zlib

BLUE = (30, 90, 168)
BLUE_DARK = (20, 62, 122)
WHITE = (255, 255, 255)
LINE = (120, 160, 210)
FOLD = (205, 220, 240)
GREEN = (46, 160, 67)
LIGHT = (238, 243, 250)


def rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def page(x, y, badge):
    """Colour at (x, y) in unit coordinates, or None for the background."""
    # The page with its folded top-right corner.
    px0, py0, px1, py1, fold = 0.27, 0.15, 0.73, 0.85, 0.14
    if px0 <= x <= px1 and py0 <= y <= py1:
        if x - (px1 - fold) > y - py0:       # cut corner
            return None
        if x >= px1 - fold and y <= py0 + fold:
            return FOLD
        for ly in (0.40, 0.52, 0.64, 0.76):
            if abs(y - ly) <= 0.03 and px0 + 0.07 <= x <= px1 - (0.07 if ly > 0.45 else 0.2):
                return LINE
        return WHITE
    if badge:
        cx, cy, r = 0.7, 0.7, 0.19
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if d2 <= r * r:
            # A check mark: two strokes.
            def near(ax, ay, bx, by, w):
                vx, vy = bx - ax, by - ay
                t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
                return (x - ax - t * vx) ** 2 + (y - ay - t * vy) ** 2 <= w * w
            if near(cx - 0.1, cy, cx - 0.03, cy + 0.07, 0.035) or near(cx - 0.03, cy + 0.07, cx + 0.1, cy - 0.08, 0.035):
                return WHITE
            return GREEN
        if d2 <= (r + 0.035) ** 2:
            return WHITE
    return None


def program_pixel(x, y, size):
    badge = size >= 24
    c = page(x, y, badge)
    if c is not None:
        return c + (255,)
    if rounded_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.2):
        # A gentle vertical shade from the blue to a darker blue.
        t = y
        return tuple(int(BLUE[i] * (1 - t) + BLUE_DARK[i] * t) for i in range(3)) + (255,)
    return (0, 0, 0, 0)


def tray_pixel(x, y, size):
    c = page(x, y, False)
    if c is not None:
        return c + (255,)
    if rounded_rect(x, y, 0.0, 0.0, 1.0, 1.0, 0.22):
        return BLUE + (255,)
    return LIGHT + (255,)


def render(pixel, size, samples=4):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    r, g, b, a = pixel(x, y, size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            a = acc[3] / n
            if acc[3]:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(a)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    """A PNG image, as an .ico file may hold for any size."""
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, images):
    count = len(images)
    out = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    blobs = []
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        blobs.append(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    # Every size as PNG: Windows reads PNG icon images of any size since
    # Vista, and they take a sixth of the bitmaps' bytes in the exe.
    program = [(s, png(render(program_pixel, s))) for s in (16, 24, 32, 48, 256)]
    write_ico(os.path.join(here, "orvelle.ico"), program)
    # The notification area asks for the small-icon size of the system's DPI:
    # 16 at 100 %, 20 at 125 %, 24 at 150 %, 32 at 200 %.
    write_ico(os.path.join(here, "tray.ico"), [(s, png(render(tray_pixel, s, 6))) for s in (16, 20, 24, 32)])


if __name__ == "__main__":
    main()

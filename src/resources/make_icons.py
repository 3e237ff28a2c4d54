#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files beside this script.

trelvo.ico  - the application icon (a scanner window over a bar code, with the red scan line)
locked.ico  - the locked check mark of the operation list: a checked box, greyed, with a
              padlock, so it reads as "will run, cannot be unticked"

The shapes are described in a 0..1 square and rendered with 4x4 supersampling, so every
size is drawn, not scaled. Run it again after changing a shape; the .ico files are
committed.
"""
import math
import os
import struct

SUPER = 4


def clamp(v):
    return max(0.0, min(1.0, v))


class Canvas:
    def __init__(self, size):
        self.size = size
        self.n = size * SUPER
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * self.n for _ in range(self.n)]

    def paint(self, inside, color):
        """inside(x, y) in unit coordinates -> bool; color (r, g, b, a) 0..1."""
        r, g, b, a = color
        for j in range(self.n):
            y = (j + 0.5) / self.n
            row = self.px[j]
            for i in range(self.n):
                x = (i + 0.5) / self.n
                if inside(x, y):
                    pr, pg, pb, pa = row[i]
                    oa = a + pa * (1 - a)
                    if oa == 0:
                        continue
                    row[i] = ((r * a + pr * pa * (1 - a)) / oa,
                              (g * a + pg * pa * (1 - a)) / oa,
                              (b * a + pb * pa * (1 - a)) / oa, oa)

    def pixels(self):
        """BGRA bytes, bottom-up rows, premultiplied averaging of the samples."""
        out = bytearray()
        for y in reversed(range(self.size)):
            for x in range(self.size):
                sr = sg = sb = sa = 0.0
                for j in range(SUPER):
                    for i in range(SUPER):
                        r, g, b, a = self.px[y * SUPER + j][x * SUPER + i]
                        sr += r * a
                        sg += g * a
                        sb += b * a
                        sa += a
                count = SUPER * SUPER
                a = sa / count
                if a > 0:
                    r, g, b = sr / sa, sg / sa, sb / sa
                else:
                    r = g = b = 0.0
                out += bytes((round(clamp(b) * 255), round(clamp(g) * 255),
                              round(clamp(r) * 255), round(clamp(a) * 255)))
        return bytes(out)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def segment(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy))
        px, py = ax + t * dx, ay + t * dy
        return math.hypot(x - px, y - py) <= width / 2
    return inside


def ring(cx, cy, r_out, r_in, upper_only=False):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        return r_in <= d <= r_out and (not upper_only or y <= cy)
    return inside


def rgb(hex_color, alpha=1.0):
    v = int(hex_color.lstrip('#'), 16)
    return ((v >> 16) / 255, ((v >> 8) & 255) / 255, (v & 255) / 255, alpha)


def draw_app(size):
    c = Canvas(size)
    c.paint(rounded(0.04, 0.04, 0.96, 0.96, 0.16), rgb('#1d4f91'))
    c.paint(rounded(0.13, 0.17, 0.87, 0.83, 0.06), rgb('#f4f7fb'))
    bars = [(0.18, 0.05), (0.26, 0.03), (0.32, 0.07), (0.42, 0.03), (0.48, 0.05),
            (0.56, 0.03), (0.62, 0.07), (0.72, 0.03), (0.78, 0.04)]
    for x, w in bars:
        c.paint(rect(x, 0.25, x + w, 0.75), rgb('#1b1f27'))
    c.paint(rect(0.09, 0.47, 0.91, 0.53), rgb('#e0262b', 0.9))
    return c


def draw_locked(size):
    c = Canvas(size)
    c.paint(rect(1 / 16, 1 / 16, 14 / 16, 14 / 16), rgb('#6b7280'))
    c.paint(rect(2 / 16, 2 / 16, 13 / 16, 13 / 16), rgb('#dfe3ea'))
    check = rgb('#1d4f91')
    c.paint(segment(3.6 / 16, 7.2 / 16, 6.2 / 16, 9.8 / 16, 2.0 / 16), check)
    c.paint(segment(6.2 / 16, 9.8 / 16, 11.2 / 16, 3.8 / 16, 2.0 / 16), check)
    # The padlock sits over the lower right corner of the box.
    c.paint(ring(12.5 / 16, 10.4 / 16, 2.6 / 16, 1.4 / 16, upper_only=True), rgb('#5b4a1f'))
    c.paint(rect(9.9 / 16, 10.2 / 16, 10.9 / 16, 11.4 / 16), rgb('#5b4a1f'))
    c.paint(rect(14.1 / 16, 10.2 / 16, 15.1 / 16, 11.4 / 16), rgb('#5b4a1f'))
    c.paint(rounded(9.2 / 16, 11.2 / 16, 15.9 / 16, 15.9 / 16, 0.6 / 16), rgb('#5b4a1f'))
    c.paint(rect(9.9 / 16, 11.9 / 16, 15.2 / 16, 15.2 / 16), rgb('#e3b341'))
    c.paint(rect(12.1 / 16, 12.6 / 16, 13.0 / 16, 14.5 / 16), rgb('#5b4a1f'))
    return c


def ico(canvases):
    """An .ico of 32-bit BMP entries (colour rows plus an all-transparent AND mask)."""
    header = struct.pack('<HHH', 0, 1, len(canvases))
    entries = b''
    images = b''
    offset = 6 + 16 * len(canvases)
    for canvas in canvases:
        size = canvas.size
        mask_row = ((size + 31) // 32) * 4
        bitmap = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        bitmap += canvas.pixels() + bytes(mask_row * size)
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32,
                               len(bitmap), offset)
        images += bitmap
        offset += len(bitmap)
    return header + entries + images


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, 'trelvo.ico'), 'wb') as f:
        f.write(ico([draw_app(s) for s in (16, 24, 32, 48)]))
    with open(os.path.join(here, 'locked.ico'), 'wb') as f:
        f.write(ico([draw_locked(s) for s in (16, 20, 24, 32)]))


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Draws the default icon (64x64 RGBA PNG): a blue disc with a white arrow
pointing up into a bar, a launcher that updates first. Run once; the PNG it
writes is committed, so the build needs no image tools.

    packaging/make_icon.py packaging/tolvane.png
"""
import struct
import sys
import zlib

SIZE = 64
SAMPLES = 4  # supersampling per axis, for smooth edges


def inside(x, y):
    """The shape at (x, y) in 0..1 coordinates: None, 'disc' or 'mark'."""
    cx, cy = x - 0.5, y - 0.5
    if cx * cx + cy * cy > 0.47 * 0.47:
        return None
    # the bar the arrow points at
    if 0.22 <= y <= 0.30 and 0.28 <= x <= 0.72:
        return 'mark'
    # the arrow's head: a triangle from (0.5, 0.34) to the base at y = 0.56
    if 0.34 <= y <= 0.56 and abs(x - 0.5) <= (y - 0.34) * 0.95:
        return 'mark'
    # its shaft
    if 0.56 <= y <= 0.80 and abs(x - 0.5) <= 0.08:
        return 'mark'
    return 'disc'


def pixel(px, py):
    colours = {'disc': (30, 90, 170), 'mark': (250, 250, 250)}
    r = g = b = a = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            shape = inside((px + (sx + 0.5) / SAMPLES) / SIZE, (py + (sy + 0.5) / SAMPLES) / SIZE)
            if shape:
                cr, cg, cb = colours[shape]
                r, g, b, a = r + cr, g + cg, b + cb, a + 1
    if a == 0:
        return (0, 0, 0, 0)
    return (r // a, g // a, b // a, a * 255 // (SAMPLES * SAMPLES))


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def main():
    rows = b''.join(b'\0' + b''.join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', SIZE, SIZE, 8, 6, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))
    with open(sys.argv[1], 'wb') as f:
        f.write(png)


if __name__ == '__main__':
    main()

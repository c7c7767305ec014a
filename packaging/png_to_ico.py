#!/usr/bin/env python3
"""Wraps a square PNG in an .ico file (one image, stored as PNG, which
Windows reads since Vista): the icon of the Windows shortcuts.

    png_to_ico.py icon.png icon.ico
"""
import struct
import sys


def main():
    png = open(sys.argv[1], 'rb').read()
    if png[:8] != b'\x89PNG\r\n\x1a\n' or png[12:16] != b'IHDR':
        sys.exit('%s: not a PNG' % sys.argv[1])
    width, height = struct.unpack('>II', png[16:24])
    side = lambda n: 0 if n >= 256 else n  # 0 stands for 256
    header = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', side(width), side(height), 0, 0, 1, 32, len(png), 6 + 16)
    with open(sys.argv[2], 'wb') as f:
        f.write(header + entry + png)


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Draws Marrowin's 32x32 icon, a memory card seen from the front, into res/marrowin.png.
Plain Python (zlib + struct) so it runs anywhere; the picture is made from shapes here."""
import struct
import sys
import zlib

W = H = 32
BODY = (48, 52, 64, 255)
EDGE = (20, 22, 30, 255)
LABEL = (58, 110, 165, 255)   # the view's background blue
SHINE = (210, 225, 240, 255)
PIN = (214, 176, 70, 255)
CLEAR = (0, 0, 0, 0)


def pixel(x, y):
    # Card outline: 6..25 wide, 2..29 high, one corner cut like the real card's key.
    if not (6 <= x <= 25 and 2 <= y <= 29):
        return CLEAR
    if x + (29 - y) < 6 + 4 and y > 25:  # cut lower-left corner
        return CLEAR
    if x in (6, 25) or y in (2, 29) or x + (29 - y) == 6 + 4:
        return EDGE
    # Label window in the upper half, with a diagonal shine.
    if 9 <= x <= 22 and 5 <= y <= 16:
        if x in (9, 22) or y in (5, 16):
            return EDGE
        return SHINE if 0 <= (x - y) - 2 <= 1 else LABEL
    # Contacts along the bottom.
    if 24 <= y <= 27 and 10 <= x <= 22 and x % 2 == 0:
        return PIN
    return BODY


def png(width, height, fn):
    raw = b"".join(b"\x00" + b"".join(bytes(fn(x, y)) for x in range(width))
                   for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "res/marrowin.png"
    with open(out, "wb") as f:
        f.write(png(W, H, pixel))

#!/usr/bin/env python3
"""Writes editor/icon.inc: the menu entry's icon, packaging/morvane-setup.svg,
rasterised by rsvg-convert (librsvg2-bin) at 48x48 as RGBA rows, which the
editor gives its windows (editor/setup.cpp includes them as the
initialiser of its pixel array).  The data is committed, so building needs no
rasteriser; run `python3 tools/make-icon.py` again whenever the SVG changes.
tests/packaging_test.py reads the icon back from the packaged editor's window
and compares it with rasterise() of the SVG, so a stale icon.inc fails there.
"""
import os
import struct
import subprocess
import sys
import zlib

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SVG = os.path.join(TOP, "packaging", "morvane-setup.svg")
OUT = os.path.join(TOP, "editor", "icon.inc")
SIZE = 48


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def decode_png(data):
    """(width, height, RGBA bytes) of an 8-bit RGBA, non-interlaced PNG,
    the only kind rsvg-convert writes; anything else raises ValueError."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, head = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    if head is None or head[2:] != (8, 6, 0, 0, 0):
        raise ValueError("not an 8-bit RGBA, non-interlaced PNG: %r" % (head,))
    width, height = head[0], head[1]
    raw, stride = zlib.decompress(idat), width * 4
    out, prior = bytearray(), bytearray(stride)
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - 4] if i >= 4 else 0
            up_left = prior[i - 4] if i >= 4 else 0
            guess = (0, left, prior[i], (left + prior[i]) // 2, paeth(left, prior[i], up_left))[kind]
            row[i] = (row[i] + guess) & 0xFF
        out += row
        prior = row
    return width, height, bytes(out)


def rasterise(svg=SVG, size=SIZE):
    """The SVG as size x size RGBA bytes (straight alpha, rows top down)."""
    png = subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), svg],
                         check=True, capture_output=True).stdout
    width, height, rgba = decode_png(png)
    if (width, height) != (size, size):
        raise ValueError("rsvg-convert gave %dx%d" % (width, height))
    return rgba


def source(rgba):
    lines = ["/* The windows' icon: packaging/morvane-setup.svg at %dx%d, RGBA rows top down,\n"
             " * the initialiser of acIconRGBA in editor/setup.cpp.  Written by\n"
             " * tools/make-icon.py from the SVG; run it again rather than editing the\n"
             " * numbers. */\n" % (SIZE, SIZE)]
    for i in range(0, len(rgba), 16):
        lines.append("    " + ", ".join("0x%02x" % b for b in rgba[i:i + 16]) + ",\n")
    return "".join(lines)


def main():
    if sys.argv[1:]:
        sys.exit(__doc__)
    with open(OUT, "w") as f:
        f.write(source(rasterise()))


if __name__ == "__main__":
    main()

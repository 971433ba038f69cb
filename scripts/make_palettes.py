#!/usr/bin/env python3
"""Writes the quicklook colour palettes: 240x16 24-bit BMP files made of
16 colour patches of 15 pixels each, the lowest value on the left.

Usage: make_palettes.py <folder>
"""
import colorsys
import os
import struct
import sys

WIDTH, HEIGHT, PATCHES = 240, 16, 16


def viridis(t):
    # Polynomial fit of the viridis colour map (sRGB, components 0..1).
    c = [(0.2777273272234177, 0.005407344544966578, 0.3340998053353061),
         (0.1050930431085774, 1.404613529898575, 1.384590162594685),
         (-0.3308618287255563, 0.214847559468213, 0.09509516302823659),
         (-4.634230498983486, -5.799100973351585, -19.33244095627987),
         (6.228269936347081, 14.17993336680509, 56.69055260068105),
         (4.776384997670288, -13.74514537774601, -65.35303263337234),
         (-5.435455855934631, 4.645852612178535, 26.3124352495832)]
    out = []
    for ch in range(3):
        v = 0.0
        for k in reversed(range(7)):
            v = v * t + c[k][ch]
        out.append(min(1.0, max(0.0, v)))
    return tuple(out)


def rainbow(t):
    # Violet through blue, green and yellow to red.
    return colorsys.hsv_to_rgb((1.0 - t) * 0.75, 1.0, 1.0)


def grey(t):
    return (t, t, t)


def write_bmp(path, colours):
    row = bytearray()
    for x in range(WIDTH):
        r, g, b = colours[x * PATCHES // WIDTH]
        row += bytes((round(b * 255), round(g * 255), round(r * 255)))
    pad = (4 - len(row) % 4) % 4
    row += b"\0" * pad
    pixels = bytes(row) * HEIGHT
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(folder, exist_ok=True)
    for name, ramp in (("Rainbow", rainbow), ("Viridis", viridis), ("Grey", grey)):
        write_bmp(os.path.join(folder, name + ".bmp"), [ramp(k / (PATCHES - 1)) for k in range(PATCHES)])


if __name__ == "__main__":
    main()

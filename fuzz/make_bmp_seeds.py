#!/usr/bin/env python3
"""Writes the seed corpus of the bitmap fuzzer: one small file for each kind of bitmap the reader
knows (every bit count, both header sizes, both row orders, bitfields, run-length records)."""
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "bmp")


def info_bmp(width, height, bits, pixels, compression=0, palette=(), clr_used=None, masks=None):
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, 0, 0, 0,
                         len(palette) if clr_used is None else clr_used, 0)
    extra = struct.pack("<III", *masks) if masks else b""
    off = 14 + len(header) + len(extra) + len(table)
    body = header + extra + table + bytes(pixels)
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, off) + body


def core_bmp(width, height, bits, pixels, palette=()):
    table = b"".join(bytes((b, g, r)) for r, g, b in palette)
    header = struct.pack("<IHHHH", 12, width, height, 1, bits)
    body = header + table + bytes(pixels)
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 14 + len(header) + len(table)) + body


FOUR = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]
GREY = [(i, i, i) for i in range(256)]


def words16(values):
    return b"".join(struct.pack("<H", v) for v in values)


def words32(values):
    return b"".join(struct.pack("<I", v) for v in values)


SEEDS = {
    "rgb24-bottom-up.bmp": info_bmp(3, 2, 24, [0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,
                                               255, 255, 255, 0, 0, 0, 10, 20, 30, 0, 0, 0]),
    "rgb24-top-down.bmp": info_bmp(2, -2, 24, list(range(16))),
    "rgb24-rle-mismatch.bmp": info_bmp(1, 1, 24, [1, 2, 3, 0], compression=1),
    "mono.bmp": info_bmp(10, 2, 1, [0b10110000, 0b01000000, 0, 0, 0xFF, 0xC0, 0, 0],
                         palette=[(0, 0, 0), (255, 255, 255)]),
    "pal4.bmp": info_bmp(3, 2, 4, [0x12, 0x30, 0, 0, 0xAB, 0xC0, 0, 0], palette=GREY[:16]),
    "pal8-short-table.bmp": info_bmp(3, 2, 8, [3, 200, 1, 0, 2], palette=FOUR, clr_used=4),
    "pal8-300-entries.bmp": info_bmp(2, 1, 8, [255, 7, 0, 0], palette=GREY + FOUR * 11,
                                     clr_used=300),
    "core8.bmp": core_bmp(2, 2, 8, [10, 20, 0, 0, 30, 40, 0, 0], palette=GREY),
    "core1.bmp": core_bmp(2, 1, 1, [0x40, 0, 0, 0], palette=FOUR[:2]),
    "core24.bmp": core_bmp(1, 1, 24, [1, 2, 3, 0]),
    "rgb16.bmp": info_bmp(2, 2, 16, words16([0x7FFF, 0x0421, 0x7C00, 0x001F])),
    "rgb16-top-down.bmp": info_bmp(2, -2, 16, words16([0x7C00, 0, 0x001F, 0])),
    "bitfields565.bmp": info_bmp(2, 2, 16, words16([0xFFFF, 0x0020, 0xF800, 0x001F]),
                                 compression=3, masks=(0xF800, 0x07E0, 0x001F)),
    "bitfields555.bmp": info_bmp(2, 1, 16, words16([0x7C00, 0x0421]), compression=3,
                                 masks=(0x7C00, 0x03E0, 0x001F)),
    "rgb32-alpha.bmp": info_bmp(2, 1, 32, words32([0xFF112233, 0x80FFFFFF])),
    "bitfields32.bmp": info_bmp(2, 1, 32, words32([0xFF112233, 0x80FFFFFF]), compression=3,
                                masks=(0xFF, 0xF000, 0xFF0000)),
    "rle8.bmp": info_bmp(4, 3, 8, [3, 1, 0, 0, 0, 2, 0, 1, 0, 3, 2, 3, 1, 0, 1, 0, 0, 1],
                         compression=1, palette=FOUR),
    "rle8-early-end.bmp": info_bmp(8, 4, 8, [8, 2, 0, 0, 0, 5, 1, 2, 3, 1, 2, 0, 0, 2, 3, 1,
                                             4, 3], compression=1, palette=FOUR),
    # One row of 2^28 pixels: a few data bytes, plain and run-length, for a row of 800 MB.
    "mono-one-wide-row.bmp": info_bmp(1 << 28, 1, 1, [0xA5] * 8,
                                      palette=[(0, 0, 0), (255, 255, 255)]),
    "rle8-one-wide-row.bmp": info_bmp(1 << 28, 1, 8, [5, 1, 0, 1], compression=1, palette=GREY),
    "rle4.bmp": info_bmp(4, 3, 4, [5, 0x01, 0, 0, 0, 2, 2, 1, 0, 3, 0x32, 0x10, 0, 1],
                         compression=2, palette=FOUR),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
sys.stdout.write(f"{len(SEEDS)} seeds in {OUT}\n")

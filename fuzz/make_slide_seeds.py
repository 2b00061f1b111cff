#!/usr/bin/env python3
"""Writes the seed corpus of the slide fuzzer: small pictures drawn here, written as JPEG files of
every kind libjpeg-turbo's cjpeg makes (baseline, progressive, greyscale, restart intervals,
arithmetic-coded, optimised, odd sizes, EXIF orientations) and as bitmaps (24-bit and 8-bit
run-length), and a few small files that declare an 18000 x 18000 picture which libjpeg would have
to buffer whole. Needs cjpeg (Debian: libjpeg-turbo-progs); the results are committed. cjpeg
cannot write CMYK: the CMYK and YCCK seeds come from make_cmyk_seeds.cpp."""
import math
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "slide")


def picture(width, height):
    """Rows of (r, g, b), top row first: a gradient with a ring, so that every block differs."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            ring = math.hypot(x - width / 2, y - height / 2) < min(width, height) / 3
            row.append((x * 255 // max(1, width - 1), y * 255 // max(1, height - 1),
                        40 if ring else 200))
        rows.append(row)
    return rows


def ppm(rows):
    header = f"P6\n{len(rows[0])} {len(rows)}\n255\n".encode()
    return header + b"".join(bytes(c for pixel in row for c in pixel) for row in rows)


def cjpeg(rows, *options):
    with tempfile.NamedTemporaryFile(suffix=".ppm") as source:
        source.write(ppm(rows))
        source.flush()
        return subprocess.run(["cjpeg", *options, source.name], check=True,
                              capture_output=True).stdout


def cjpeg_scans(rows, script):
    """A file whose scans follow cjpeg's scan script `script`."""
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as scans:
        scans.write(script)
        scans.flush()
        return cjpeg(rows, "-scans", scans.name)


def declaring(jpeg, width, height):
    """The file with its frame header (the first SOFn marker) patched to declare width x
    height."""
    at = 2
    while jpeg[at] == 0xFF and not (0xC0 <= jpeg[at + 1] <= 0xCF and
                                    jpeg[at + 1] not in (0xC4, 0xC8, 0xCC)):
        at += 2 + struct.unpack(">H", jpeg[at + 2:at + 4])[0]
    assert jpeg[at] == 0xFF, "no frame header"
    return jpeg[:at + 5] + struct.pack(">HH", height, width) + jpeg[at + 9:]


def with_orientation(jpeg, orientation, order="<", entries=1):
    """Inserts an EXIF segment (a TIFF in the given byte order whose first directory holds the
    Orientation entry `entries` times) after SOI."""
    tiff = (b"II*\x00" if order == "<" else b"MM\x00*") + struct.pack(order + "I", 8)
    tiff += struct.pack(order + "H", entries)
    tiff += struct.pack(order + "HHIHH", 0x0112, 3, 1, orientation, 0) * entries
    tiff += struct.pack(order + "I", 0)
    payload = b"Exif\x00\x00" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload + jpeg[2:]


def bmp24(rows):
    width, height = len(rows[0]), len(rows)
    stride = (width * 3 + 3) & ~3
    data = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        data += line + b"\x00" * (stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, 0, 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54) + header + data


def bmp_rle8(rows):
    """Grey levels of the red channel in runs of equal values, one line per row."""
    data = []
    for row in reversed(rows):
        levels = [r for r, _, _ in row]
        x = 0
        while x < len(levels):
            run = 1
            while x + run < len(levels) and levels[x + run] == levels[x] and run < 255:
                run += 1
            data += [run, levels[x]]
            x += run
        data += [0, 0]
    data += [0, 1]
    table = b"".join(bytes((i, i, i, 0)) for i in range(256))
    header = struct.pack("<IiiHHIIiiII", 40, len(rows[0]), len(rows), 1, 8, 1, len(data), 0, 0,
                         256, 0)
    off = 14 + len(header) + len(table)
    return b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + header + table + bytes(data)


def main():
    landscape = picture(40, 30)
    portrait = picture(17, 50)
    small = picture(16, 16)
    progressive = cjpeg(landscape, "-progressive")
    assert progressive.endswith(b"\xff\xd9")
    banded = [[(x // 8 * 60 % 256, 0, 0) for x in range(64)] for _ in range(24)]
    seeds = {
        "baseline.jpg": cjpeg(landscape, "-quality", "90"),
        "baseline-444.jpg": cjpeg(landscape, "-sample", "1x1"),
        "progressive.jpg": progressive,
        "greyscale.jpg": cjpeg(landscape, "-grayscale"),
        "greyscale-progressive.jpg": cjpeg(portrait, "-grayscale", "-progressive"),
        "restart-rows.jpg": cjpeg(landscape, "-restart", "1"),
        "restart-blocks.jpg": cjpeg(portrait, "-restart", "2B"),
        "arithmetic.jpg": cjpeg(landscape, "-arithmetic"),
        "arithmetic-progressive.jpg": cjpeg(portrait, "-arithmetic", "-progressive"),
        "optimized-odd-size.jpg": cjpeg(portrait, "-optimize", "-sample", "2x1"),
        "exif-rotated.jpg": with_orientation(cjpeg(portrait, "-quality", "75"), 6),
        "exif-big-endian.jpg": with_orientation(cjpeg(landscape, "-quality", "75"), 8, ">"),
        "exif-two-tags.jpg": with_orientation(cjpeg(portrait, "-quality", "75"), 5, "<", 2),
        # Whole-picture buffers of libjpeg for 18000 x 18000: a sequential file with one scan per
        # component, an arithmetic-coded progressive file, and a progressive file without its end
        # marker that 1 MB of zeros makes long enough to pass for the picture it declares.
        "scan-per-component-18000.jpg": declaring(cjpeg_scans(small, "0;\n1;\n2;\n"), 18000,
                                                  18000),
        "arithmetic-progressive-18000.jpg": declaring(cjpeg(small, "-arithmetic",
                                                            "-progressive"), 18000, 18000),
        "progressive-18000-zeros.jpg": declaring(progressive[:-2], 18000, 18000) +
        bytes(1 << 20),
        "photo24.bmp": bmp24(landscape),
        "banded-rle8.bmp": bmp_rle8(banded),
    }
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    sys.stdout.write(f"{len(seeds)} seeds in {OUT}\n")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Reads what zoltdec writes with tifffile, a TIFF reader that is not libtiff.

The ZOLT input is made here byte by byte, so neither side of the check shares
code with the programs. Usage: tifffile_check.py path/to/zoltdec
"""
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
import tifffile


def zolt_bytes(width, height, pixels, palette):
    return (b"ZOLT" + struct.pack("<hh", width, height) + pixels.tobytes() + b"RGB "
            + palette.astype(np.uint8).tobytes())


def check(zoltdec, width, height, seed):
    rng = np.random.default_rng(seed)
    pixels = rng.integers(0, 256, size=(height, width), dtype=np.uint8)
    palette = rng.integers(0, 64, size=(256, 3))
    palette[7] = (63, 0, 31)
    palette[8] = (64, 65, 255)  # above 63: only the low 6 bits count
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = os.path.join(tmp, "in.zolt"), os.path.join(tmp, "out.tif")
        with open(src, "wb") as f:
            f.write(zolt_bytes(width, height, pixels, palette))
        subprocess.run([zoltdec, src, dst], check=True)
        with tifffile.TiffFile(dst) as tif:
            page = tif.pages[0]
            tags = page.tags
            assert len(tif.pages) == 1
            assert page.photometric == tifffile.PHOTOMETRIC.PALETTE, page.photometric
            assert page.compression == tifffile.COMPRESSION.NONE
            assert page.bitspersample == 8 and page.samplesperpixel == 1
            assert tags["RowsPerStrip"].value == 64
            assert tags["XResolution"].value == (300, 1), tags["XResolution"].value
            assert tags["YResolution"].value == (300, 1)
            assert tags["ResolutionUnit"].value == 2
            colormap = np.array(tags["ColorMap"].value)
            assert colormap.shape == (3, 256)
            c = palette.T & 63
            assert (colormap == ((c << 2) | (c >> 4)) * 257).all(), "colour map is not the palette widened to 8 bits x 257"
            assert (page.asarray() == pixels).all(), "pixels differ"
            counts = tags["StripByteCounts"].value
            assert len(counts) == (height + 63) // 64
            assert all(c == width * min(64, height) for c in counts), counts


def main():
    zoltdec = sys.argv[1]
    cases = [(1, 1), (20, 10), (300, 64), (37, 65), (129, 200)]
    for seed, (width, height) in enumerate(cases):
        check(zoltdec, width, height, seed)
    print(f"{len(cases)} passed, 0 failed")


if __name__ == "__main__":
    main()

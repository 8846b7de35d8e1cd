#!/usr/bin/env python3
"""Draws the vectors of a set file as a montage of image blocks and saves it
as a PNG, with nothing beyond numpy and Python's own zlib.

Usage: montage.py SET_FILE OUTPUT.png [SCALE]

Every pixel of the montage becomes SCALE x SCALE pixels (default 16), so
that blocks of a few pixels can be seen. The README's picture of
examples/blocks.cb is made with:

    python3 python/examples/montage.py examples/blocks.cb doc/blocks_montage.png
"""
import struct
import sys
import zlib

import numpy as np

import vqpeek


def png_bytes(image):
    """A grey-scale PNG of a 2-D uint8 array: 8 bits per pixel, every row
    without a filter, the rows compressed by zlib."""
    height, width = image.shape

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    rows = np.hstack([np.zeros((height, 1), dtype=np.uint8), image]).tobytes()
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    scale = int(sys.argv[3]) if len(sys.argv) == 4 else 16
    montage = vqpeek.tiles(vqpeek.read_set(sys.argv[1]))
    montage = np.repeat(np.repeat(montage, scale, axis=0), scale, axis=1)
    with open(sys.argv[2], "wb") as file:
        file.write(png_bytes(montage))


if __name__ == "__main__":
    main()

"""Montages pixel by pixel, the PGM writer, the README's PNG and the
README's Python section as written."""
import contextlib
import io
import os
import re
import shutil
import subprocess
import sys
import zlib

import numpy as np
import pytest

import vqpeek
from conftest import SOURCE_DIR

G = 255  # gap and empty cells


def test_tiles_places_blocks_row_by_row_with_gaps():
    vectors = [[0, 255, 17, 34], [51, 68, 85, 102], [1, 2, 3, 4]]
    image = vqpeek.tiles(vectors, block_size=(2, 2), columns=2)
    assert image.dtype == np.uint8
    np.testing.assert_array_equal(image, [[0, 255, G, 51, 68],
                                          [17, 34, G, 85, 102],
                                          [G, G, G, G, G],
                                          [1, 2, G, G, G],
                                          [3, 4, G, G, G]])
    np.testing.assert_array_equal(vqpeek.tiles(vectors, (2, 2), columns=3, gap=0),
                                  [[0, 255, 51, 68, 1, 2], [17, 34, 85, 102, 3, 4]])
    # Scaled from the smallest to the largest value, halves upward.
    np.testing.assert_array_equal(vqpeek.tiles([[10, 11, 12]]), [[0, 128, 255]])
    np.testing.assert_array_equal(vqpeek.tiles([[10, 11, 12]], value_range=(11, 13)), [[0, 0, 128]])
    with pytest.raises(ValueError):
        vqpeek.tiles(vectors, block_size=(3, 1))


def test_tiles_of_a_set_take_its_block_size_and_value_range():
    cb = vqpeek.read_set(SOURCE_DIR / "examples/blocks.cb")
    image = vqpeek.tiles(cb)
    # 8 blocks of 4 x 4 in a square of 3 x 3 cells; MinValue 0 and MaxValue
    # 255 leave every value as it is.
    assert image.shape == (14, 14)
    np.testing.assert_array_equal(image[:4, :4], cb.vectors[0].reshape(4, 4))
    np.testing.assert_array_equal(image[10:, 5:9], cb.vectors[7].reshape(4, 4))
    assert (image[10:, 10:] == G).all()


def test_save_pgm_writes_a_binary_grey_picture(tmp_path):
    path = tmp_path / "p.pgm"
    vqpeek.save_pgm(path, np.array([[0, 1, 2], [253, 254, 255]]))
    assert path.read_bytes() == b"P5\n3 2\n255\n" + bytes([0, 1, 2, 253, 254, 255])
    with pytest.raises(ValueError):
        vqpeek.save_pgm(path, [[256]])


def png_pixels(data):
    """The pixels of an 8-bit grey PNG whose rows have no filter."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
    chunks, at = b"", 8
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        if data[at + 4:at + 8] == b"IDAT":
            chunks += data[at + 8:at + 8 + length]
        at += 12 + length
    rows = np.frombuffer(zlib.decompress(chunks), dtype=np.uint8).reshape(height, width + 1)
    assert (rows[:, 0] == 0).all()
    return rows[:, 1:]


def test_the_readmes_montage_is_the_one_the_example_makes(tmp_path):
    made = tmp_path / "montage.png"
    subprocess.run([sys.executable, str(SOURCE_DIR / "python/examples/montage.py"),
                    str(SOURCE_DIR / "examples/blocks.cb"), str(made)], check=True)
    expected = vqpeek.tiles(vqpeek.read_set(SOURCE_DIR / "examples/blocks.cb"))
    expected = np.repeat(np.repeat(expected, 16, axis=0), 16, axis=1)
    np.testing.assert_array_equal(png_pixels(made.read_bytes()), expected)
    committed = (SOURCE_DIR / "doc/blocks_montage.png").read_bytes()
    np.testing.assert_array_equal(png_pixels(committed), expected)


def test_the_readmes_python_section_runs_as_written(tmp_path, monkeypatch):
    readme = (SOURCE_DIR / "README.md").read_text()
    section = readme[readme.index("## Python"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    printed = re.search(r"prints `(.*?)`", section).group(1)
    shutil.copytree(SOURCE_DIR / "examples", tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, "README.md", "exec"), {})
    assert out.getvalue() == printed + "\n"
    assert os.path.getsize("better.pgm") == len(b"P5\n14 14\n255\n") + 14 * 14

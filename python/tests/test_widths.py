"""Vectors in the file widths' types (uint8, uint16) give every function
what the same values give as int32, across the blocks they are read in."""
import numpy as np
import pytest

import vqpeek


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
def test_narrow_vectors_give_what_int32_gives(tmp_path, rng, monkeypatch, dtype):
    # More rows than one block of the core's widening buffer holds.
    x = rng.integers(0, np.iinfo(dtype).max, size=(120000, 5), endpoint=True).astype(dtype)
    wide = x.astype(np.int32)
    codes = wide[rng.choice(len(x), 40)]
    freqs = rng.integers(0, 9, size=len(x))
    labels = rng.integers(-1, 40, size=len(x))

    s = vqpeek.VQSet(x, freqs=freqs)
    assert s.vectors.dtype == dtype and np.shares_memory(s.vectors, x)
    for got, want in zip(vqpeek.nearest(s, codes), vqpeek.nearest(wide, codes)):
        np.testing.assert_array_equal(got, want)
    for got, want in zip(vqpeek.centroids(s, labels, 40), vqpeek.centroids(wide, labels, 40, freqs)):
        np.testing.assert_array_equal(got, want)
    assert vqpeek.set_statistics(x) == vqpeek.set_statistics(wide)
    assert vqpeek.quality(x, codes) == vqpeek.quality(wide, codes)

    vqpeek.write_set(tmp_path / "narrow.ts", s)
    vqpeek.write_set(tmp_path / "wide.ts", wide, freqs)
    assert (tmp_path / "narrow.ts").read_bytes() == (tmp_path / "wide.ts").read_bytes()

    # Pictures made a few vectors at a time, parts starting inside a row.
    whole = vqpeek.tiles(wide[:500], block_size=(5, 1), columns=7)
    monkeypatch.setattr(vqpeek, "_TILE_PART_ELEMENTS", 5 * 11)
    np.testing.assert_array_equal(vqpeek.tiles(x[:500], block_size=(5, 1), columns=7), whole)

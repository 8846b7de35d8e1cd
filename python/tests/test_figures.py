"""set_statistics and quality against plain numpy computations and the
figures vqpeek -S prints for the bundled examples."""
import math

import numpy as np
import pytest

import vqpeek
from conftest import SOURCE_DIR


def weighted_set(vectors, freqs):
    return vqpeek.VQSet(np.array(vectors, dtype=np.int32), freqs=np.array(freqs, dtype=np.int32),
                        block_size=(2, 1), bytes_per_element=1, min_value=0, max_value=255)


def test_set_statistics_of_hand_worked_sets():
    # Rows (1,2) f1, (3,4) f3 and (1,2) f0: mean vector (2.5, 3.5), squared
    # deviations 3 per element position, 6 / (4 * 2) = 0.75.
    rows = [[1, 2], [3, 4], [1, 2]]
    assert vqpeek.set_statistics(weighted_set(rows, [1, 3, 0])) == (2, 3.0, 0.75)
    assert vqpeek.set_statistics(weighted_set(rows, [0, 0, 0])) == (2, None, None)
    # A plain array counts every vector once.
    assert vqpeek.set_statistics([[1], [1], [4]]) == (2, 2.0, 2.0)


def test_the_examples_give_the_figures_of_vqpeek_s():
    ts = vqpeek.read_set(SOURCE_DIR / "examples/blocks.ts")
    cb = vqpeek.read_set(SOURCE_DIR / "examples/blocks.cb")
    stats = vqpeek.set_statistics(ts)
    assert stats.distinct_vectors == 33
    assert f"{stats.mean_element:.3f} {stats.variance:.3f}" == "123.089 2073.704"
    q = vqpeek.quality(ts, cb)
    assert (q.partitions, q.empty_partitions, q.smallest_size, q.largest_size) == (8, 0, 1, 18)
    assert f"{q.mse:.3f} {q.psnr:.2f} {q.fixed_rate:.3f} {q.entropy_rate:.3f}" == \
        "599.760 20.35 3.000 2.377"


def test_quality_is_the_plain_computation(rng):
    x = rng.integers(0, 1000, size=(500, 3))
    c = rng.integers(0, 1000, size=(7, 3))
    labels = rng.integers(0, 6, size=500)  # the last code vector stays empty
    q = vqpeek.quality(x, c, labels)
    sizes = np.bincount(labels, minlength=7)
    error = ((x - c[labels]) ** 2).sum()
    mse = error / x.size
    p = sizes[sizes > 0] / len(x)
    assert (q.partitions, q.empty_partitions) == (7, 1)
    assert (q.smallest_size, q.largest_size) == (sizes[sizes > 0].min(), sizes.max())
    assert q.mse == pytest.approx(mse, rel=1e-12)
    peak = x.max() - x.min()
    assert q.psnr == pytest.approx(10 * math.log10(peak**2 / mse), rel=1e-12)
    assert q.fixed_rate == pytest.approx(math.log2(7))
    assert q.entropy_rate == pytest.approx(-(p * np.log2(p)).sum(), rel=1e-12)
    # Without labels: the nearest code vector, and an error of 0 gives inf.
    assert vqpeek.quality(c, c).psnr == math.inf
    with pytest.raises(ValueError):
        vqpeek.quality(x, c, np.full(500, 7))
    # Code vectors of another length are refused before any is read, by the
    # package and by its core alike.
    short = np.ascontiguousarray(c[:, :2], dtype=np.int32)
    with pytest.raises(ValueError):
        vqpeek.quality(x, short, labels)
    with pytest.raises(ValueError):
        vqpeek._core.quality(x.astype(np.int32), np.ones(500, np.int32), short,
                             labels.astype(np.int32), 255.0)

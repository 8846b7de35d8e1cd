"""The nearest search against a plain numpy brute force, and the centroids
against a hand computation."""
import numpy as np
import pytest

import vqpeek
from conftest import SOURCE_DIR


def brute_force(x, c):
    """Labels (the lowest index among the nearest) and squared distances."""
    d = ((x[:, None, :].astype(np.int64) - c[None, :, :].astype(np.int64)) ** 2).sum(axis=2)
    return d.argmin(axis=1), d.min(axis=1)


# (vectors, codes, dim, low, high): small ranges give many ties; the ranges
# reach the byte, 16-bit, 32-bit lane and plain scan paths of the library.
SHAPES = [(300, 256, 16, 0, 255), (200, 17, 5, 0, 3), (100, 1, 4, 0, 255), (7, 3, 1, 0, 1),
          (300, 40, 12, -40000, 40000), (200, 30, 8, -2000000, 2000000),
          (100, 20, 3, -(2**29), 2**29), (0, 5, 4, 0, 255)]


@pytest.mark.parametrize("shape", SHAPES)
def test_nearest_is_the_brute_force_with_ties_to_the_lowest_index(rng, shape):
    n, m, dim, low, high = shape
    c = rng.integers(low, high, size=(m, dim), endpoint=True)
    c[m // 2:] = c[: m - m // 2]  # every code vector of the second half repeats one before
    x = rng.integers(low, high, size=(n, dim), endpoint=True)
    x[::4] = c[rng.integers(0, m, size=len(x[::4]))]  # distance 0 to a repeated code vector
    expected_labels, expected_distances = brute_force(x, c)
    for threads in (None, 1, 3):
        labels, distances = vqpeek.nearest(x, c, threads=threads)
        assert labels.dtype == np.int32 and distances.dtype == np.int64
        np.testing.assert_array_equal(labels, expected_labels)
        np.testing.assert_array_equal(distances, expected_distances)


def test_nearest_takes_integers_of_any_width_and_refuses_the_rest(rng):
    x = rng.integers(0, 255, size=(50, 4), endpoint=True)
    c = rng.integers(0, 255, size=(9, 4), endpoint=True)
    expected = brute_force(x, c)
    for dtype in (np.uint8, np.int16, np.uint32, np.int64):
        for got, want in zip(vqpeek.nearest(x.astype(dtype), c.astype(dtype)), expected):
            np.testing.assert_array_equal(got, want)
    # Not C-ordered: a column slice.
    every_other = np.hstack([x, x])[:, ::2]
    np.testing.assert_array_equal(vqpeek.nearest(every_other, c)[1], brute_force(every_other, c)[1])

    with pytest.raises(TypeError, match="round the values"):
        vqpeek.nearest(x.astype(np.float32), c)
    with pytest.raises(ValueError, match="do not fit 32 bits"):
        vqpeek.nearest(x + 2**31, c)
    with pytest.raises(ValueError):
        vqpeek.nearest(x, c[:, :3])
    with pytest.raises(ValueError):
        vqpeek.nearest(x, c[:0])
    with pytest.raises(ValueError):
        vqpeek.nearest(x[0], c)
    with pytest.raises(ValueError):
        vqpeek.nearest(x, c, threads=0)


def test_centroids_are_the_librarys_rounded_weighted_means():
    vectors = [[1, -5, -3],   # partition 0
               [2, -6, -3],   # partition 0
               [0, 0, -2],    # partition 0
               [10, 0, 5],    # partition 1, frequency 3
               [0, 10, 5],    # partition 1
               [7, 7, 7],     # partition 2, frequency 0
               [9, 9, 9]]     # in no partition
    labels = [0, 0, 0, 1, 1, 2, -1]
    freqs = [1, 1, 1, 3, 1, 0, 5]
    codes, weights = vqpeek.centroids(vectors, labels, 4, freqs)
    # Sums / frequency + 0.5, truncated toward zero: (3, -11, -8) / 3 gives
    # 1, -3 and -2 (not -3, as rounding to nearest would); (30, 10, 20) / 4
    # gives 8 (7.5 up), 3 and 5. Partitions 2 and 3 have no frequency.
    np.testing.assert_array_equal(codes, [[1, -3, -2], [8, 3, 5], [0, 0, 0], [0, 0, 0]])
    np.testing.assert_array_equal(weights, [3, 4, 0, 0])
    assert codes.dtype == np.int32 and weights.dtype == np.int32
    # Frequency 1 for every vector unless told otherwise.
    np.testing.assert_array_equal(vqpeek.centroids(vectors[3:5], [0, 0], 1)[0], [[5, 5, 5]])
    with pytest.raises(ValueError):
        vqpeek.centroids(vectors, labels, 2, freqs)


def test_centroids_of_a_set_are_weighted_by_its_frequencies():
    ts = vqpeek.read_set(SOURCE_DIR / "examples/blocks.ts")
    p = vqpeek.read_partitioning(SOURCE_DIR / "examples/blocks.pa", ts)
    codes, weights = vqpeek.centroids(ts, p.labels, p.count)
    # The centroid lines of `vqpeek examples/blocks.ts examples/blocks.pa`.
    np.testing.assert_array_equal(weights, [16, 18, 14])
    np.testing.assert_array_equal(codes[0], [142] * 4 + [136] * 4 + [133] * 4 + [120] * 4)

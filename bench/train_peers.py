#!/usr/bin/env python3
"""Trains a codebook with scikit-learn's or FAISS's k-means as a user would
run them: the set and its frequencies loaded as float32 with numpy, the
initial codebook given, every vector used, all threads; the training alone
is timed in-process (imports and loading excluded). The trained centroids
are rounded to integers, as a codebook file stores them, and measured with
the exact squared error.

Usage: train_peers.py sklearn|faiss SET_FILE CODEBOOK_FILE ITERATIONS [RUNS]
Prints "name seconds peak-MB mse-per-element" (the median of RUNS runs; the
peak memory of the process, loading included), or "name - - -" when the
library is not installed.
"""
import os
import resource
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from set_files import read_set  # noqa: E402


def frequencies(path, count):
    """The frequencies of a set file without names, one byte per element."""
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\n", 12)
    dim = int(lines[1], 0) * int(lines[2], 0)
    separator = data.index(b"-" * 37 + b"\n") + 38
    record = 1 + dim + 4
    body = np.frombuffer(data, dtype=np.uint8, offset=separator, count=count * record)
    return body.reshape(count, record)[:, 1 + dim:].copy().view(">u4")[:, 0].astype(np.float32)


def squared_error(x, w, codes):
    """Sum of w * |x - nearest rounded code|^2 over the elements, exactly."""
    c = codes.astype(np.int64)
    total = 0
    for start in range(0, len(x), 8192):
        part = x[start:start + 8192].astype(np.int64)
        d = (part * part).sum(axis=1)[:, None] - 2 * part @ c.T + (c * c).sum(axis=1)[None, :]
        total += int((d.min(axis=1) * w[start:start + 8192].astype(np.int64)).sum())
    return total


def main():
    name, set_file, codebook_file = sys.argv[1:4]
    iterations = int(sys.argv[4])
    runs = int(sys.argv[5]) if len(sys.argv) > 5 else 1
    x = read_set(set_file)
    w = frequencies(set_file, len(x))
    init = read_set(codebook_file)
    k = len(init)
    if name == "sklearn":
        try:
            from sklearn.cluster import KMeans
        except ImportError:
            print("sklearn - - -")
            return

        def train():
            model = KMeans(n_clusters=k, init=init, n_init=1, max_iter=iterations, tol=0,
                           algorithm="lloyd")
            return model.fit(x, sample_weight=w).cluster_centers_
    else:
        try:
            import faiss
        except ImportError:
            print("faiss - - -")
            return

        def train():
            model = faiss.Kmeans(x.shape[1], k, niter=iterations, max_points_per_centroid=10**9)
            model.train(x, weights=w, init_centroids=init)
            return model.centroids
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        centroids = train()
        times.append(time.perf_counter() - start)
    times.sort()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    codes = np.floor(np.clip(centroids, 0, 255) + 0.5)
    mse = squared_error(x, w, codes) / (float(w.sum()) * x.shape[1])
    print(f"{name} {times[len(times) // 2]:.3f} {peak:.0f} {mse:.3f}")


if __name__ == "__main__":
    main()

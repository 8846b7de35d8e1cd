#!/usr/bin/env python3
"""Times FAISS IndexFlatL2 and scikit-learn's pairwise_distances_argmin on a
training set and a codebook written by vqpeek's writer, with BLAS limited to
one thread, and checks their nearest code vectors against vqpeek's exact
best distances.

Usage: compare_external.py SET_FILE CODEBOOK_FILE BEST_FILE [RUNS]
Prints one line per library: "name seconds wrong-distances".
"""
import os
import sys
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from set_files import read_set  # noqa: E402


def median_time(runs, work):
    times = []
    result = None
    for _ in range(runs):
        start = time.perf_counter()
        result = work()
        times.append(time.perf_counter() - start)
    times.sort()
    return times[len(times) // 2], result


def wrong(x, c, chosen, best):
    """How many chosen code vectors are farther than the exact nearest."""
    xi = x.astype(np.int64)
    ci = c.astype(np.int64)
    wrong_count = 0
    for start in range(0, len(xi), 100000):
        part = slice(start, start + 100000)
        d = ((xi[part] - ci[chosen[part]]) ** 2).sum(axis=1)
        wrong_count += int(np.count_nonzero(d != best[part]))
    return wrong_count


def main():
    set_file, codebook_file, best_file = sys.argv[1:4]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    x = read_set(set_file)
    c = read_set(codebook_file)
    best = np.fromfile(best_file, dtype="<i8")
    try:
        import faiss
        faiss.omp_set_num_threads(1)
        index = faiss.IndexFlatL2(x.shape[1])
        index.add(c)
        seconds, (_, labels) = median_time(runs, lambda: index.search(x, 1))
        print(f"faiss {seconds:.4f} {wrong(x, c, labels[:, 0], best)}")
    except ImportError:
        print("faiss - -")
    try:
        from sklearn.metrics import pairwise_distances_argmin
        seconds, labels = median_time(runs, lambda: pairwise_distances_argmin(x, c))
        print(f"sklearn {seconds:.4f} {wrong(x, c, labels, best)}")
    except ImportError:
        print("sklearn - -")


if __name__ == "__main__":
    main()

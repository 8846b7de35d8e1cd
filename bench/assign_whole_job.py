#!/usr/bin/env python3
"""A user's whole job in Python, for timing as a process beside
`vqpeek -Q1 TS CB`: load a training set and a codebook with numpy, then
give every training vector its nearest code vector with FAISS IndexFlatL2 or
with scikit-learn's pairwise_distances_argmin, each on all threads (BLAS
and OpenMP as installed). Prints how many training vectors each code vector
took, so that the assignment is used.

Usage: assign_whole_job.py faiss|sklearn SET_FILE CODEBOOK_FILE
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import numpy as np  # noqa: E402

from set_files import read_set  # noqa: E402


def main():
    library, set_file, codebook_file = sys.argv[1:4]
    x = read_set(set_file)
    c = read_set(codebook_file)
    if library == "faiss":
        import faiss
        index = faiss.IndexFlatL2(x.shape[1])
        index.add(c)
        labels = index.search(x, 1)[1][:, 0]
    elif library == "sklearn":
        from sklearn.metrics import pairwise_distances_argmin
        labels = pairwise_distances_argmin(x, c)
    else:
        raise SystemExit(f"unknown library {library}")
    counts = np.bincount(labels, minlength=len(c))
    print(" ".join(str(n) for n in counts))


if __name__ == "__main__":
    main()

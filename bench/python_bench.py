#!/usr/bin/env python3
"""Times the Python package vqpeek against what a user would write without
it, on a training set and a codebook written by vqpeek's writer:

 - read_set against the shortest numpy parse of the same file into the same
   arrays (np.frombuffer over the body with a structured dtype, then int32
   vectors and freqs; one-byte elements and no names), and the memory that
   read_set takes beyond the arrays it returns;
 - nearest against scikit-learn's pairwise_distances_argmin and FAISS
   IndexFlatL2 on the same vectors (as float32, converted before the clock
   starts), every one with all threads, checking that their nearest code
   vectors are at exactly vqpeek's distances.

Prints one row per figure with its target. Usage:
python_bench.py SET_FILE CODEBOOK_FILE [RUNS]
"""
import subprocess
import sys
import time

import numpy as np

import vqpeek


def median_time(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return sorted(times)[len(times) // 2]


def numpy_parse(path):
    """The set file's vectors and freqs with numpy alone."""
    with open(path, "rb") as file:
        data = file.read()
    lines = data.split(b"\n", 9)
    bx, by, size = (int(lines[i], 0) for i in (1, 2, 3))
    body = data.index(b"-" * 37 + b"\n") + 38
    record = np.dtype([("name", "u1"), ("vector", "u1", (bx * by,)), ("freq", ">i4")])
    records = np.frombuffer(data, dtype=record, count=size, offset=body)
    return records["vector"].astype(np.int32), records["freq"].astype(np.int32)


def peak_memory_of_read_set(path):
    """Megabytes that read_set adds to the peak resident size of a fresh
    interpreter (VmHWM: getrusage would count the parent's memory from before
    the exec), and the megabytes of the arrays it returns."""
    script = (
        "import sys, numpy, vqpeek\n"
        "def peak():\n"
        "    for line in open('/proc/self/status'):\n"
        "        if line.startswith('VmHWM:'):\n"
        "            return int(line.split()[1]) / 1024\n"
        "before = peak()\n"
        "s = vqpeek.read_set(sys.argv[1])\n"
        "print(peak() - before, (s.vectors.nbytes + s.freqs.nbytes) / 2**20)\n")
    out = subprocess.run([sys.executable, "-c", script, path], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1])


def wrong_distances(x, c, labels, best):
    """How many labels point to a code vector farther than the nearest."""
    count = 0
    for start in range(0, len(x), 100000):
        part = slice(start, start + 100000)
        d = ((x[part].astype(np.int64) - c[labels[part]].astype(np.int64)) ** 2).sum(axis=1)
        count += int(np.count_nonzero(d != best[part]))
    return count


def row(measurement, data, result, target=""):
    print(f"{measurement:<34} {data:<16} {result:>9}  {target}")


def ratio(numerator, denominator):
    return f"{numerator / denominator:.1f}x"


def main():
    set_file, codebook_file = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    ts = vqpeek.read_set(set_file)
    cb = vqpeek.read_set(codebook_file)
    x, c = ts.vectors, cb.vectors
    size = f"{len(x) // 1000000}M" if len(x) % 1000000 == 0 else str(len(x))
    shape = f"{size} x {x.shape[1]}"
    vectors, freqs = numpy_parse(set_file)
    assert np.array_equal(vectors, x) and np.array_equal(freqs, ts.freqs)

    # The two readers in turns, so that both see the same machine.
    read, parse = [], []
    for _ in range(runs):
        read.append(median_time(1, lambda: vqpeek.read_set(set_file)))
        parse.append(median_time(1, lambda: numpy_parse(set_file)))
    t_read, t_parse = sorted(read)[runs // 2], sorted(parse)[runs // 2]
    row("read_set", shape, f"{t_read:.3f} s")
    row("numpy frombuffer parse", shape, f"{t_parse:.3f} s")
    row("read_set / numpy parse", shape, ratio(t_read, t_parse), "<= 1.5x")
    extra, arrays = peak_memory_of_read_set(set_file)
    row("read_set peak memory", shape, f"{extra:.0f} MB",
        f"the {arrays:.0f} MB it returns and no more (a second copy of the "
        f"elements would add {x.nbytes / 2**20:.0f} MB)")

    labels, best = vqpeek.nearest(x, c)
    t_nearest = median_time(max(runs, 5), lambda: vqpeek.nearest(x, c))
    codes = f"{shape}, {len(c)}"
    row("vqpeek.nearest, all threads", codes, f"{t_nearest:.3f} s")
    xf, cf = x.astype(np.float32), c.astype(np.float32)
    peers = []
    try:
        from sklearn.metrics import pairwise_distances_argmin
        peers.append(("scikit-learn", lambda: pairwise_distances_argmin(xf, cf)))
    except ImportError:
        row("scikit-learn", codes, "-", "not installed (python3-sklearn)")
    try:
        import faiss
        index = faiss.IndexFlatL2(x.shape[1])
        index.add(cf)
        peers.append(("FAISS IndexFlatL2", lambda: index.search(xf, 1)[1][:, 0]))
    except ImportError:
        row("FAISS", codes, "-", "not installed (python3-faiss)")
    for name, search in peers:
        theirs = search()
        wrong = wrong_distances(x, c, np.asarray(theirs, dtype=np.int64), best)
        seconds = median_time(3, search)
        same = "identical distances" if wrong == 0 else f"{wrong} distances differ"
        row(f"{name}, all threads", codes, f"{seconds:.3f} s",
            f"{ratio(seconds, t_nearest)} vqpeek.nearest (>= 10x); {same}")
    assert wrong_distances(x, c, labels, best) == 0


if __name__ == "__main__":
    main()
